// Debian's chromium, headless, driven through its DevTools protocol over a
// pipe (--remote-debugging-pipe: JSON messages ended by NUL bytes on
// descriptors 3 and 4), so that no browser download, driver or WebSocket
// library is needed.  Enough of the protocol for a test that opens pages,
// types, clicks, reads the page and takes screenshots.
#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace e2e {

// A parsed JSON value (what the protocol's answers need).
struct Json {
    enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
    bool b = false;
    double n = 0;
    std::string s;
    std::vector<Json> items;
    std::map<std::string, Json> fields;

    const Json& operator[](const std::string& key) const;  // Null when absent
    static Json parse(const std::string& text);             // throws on bad text
};

std::string jsonQuote(const std::string& s);
std::string base64Decode(const std::string& s);

// The chromium binary, or "" when it is not installed.
std::string chromiumBinary();

class Browser {
public:
    // Starts chromium headless with a fresh profile in `profileDir` and
    // opens one page.
    explicit Browser(const std::string& profileDir);
    ~Browser();
    Browser(const Browser&) = delete;
    Browser& operator=(const Browser&) = delete;

    // Loads a URL and waits until the page is complete.
    void open(const std::string& url);
    // Runs a script in the page and returns its value as text.
    std::string eval(const std::string& script);
    // Runs a script that makes the page load another document (a click on
    // a submit button, a link) and waits for the new document.
    void navigateBy(const std::string& script);
    // Types text into the element the script selects, as keyboard input.
    void type(const std::string& selectorScript, const std::string& text);
    // Types text where the page's cursor is, as a user does without first
    // clicking into a field.
    void keys(const std::string& text);
    // Clicks the left mouse button in the middle of the element the script
    // selects (it must be in view).
    void click(const std::string& selectorScript);
    // Presses the keys of printable ASCII text where the page's cursor is,
    // one key event each, which the page's key handlers see.
    void press(const std::string& text);
    // Presses the Enter key where the page's cursor is and waits for the
    // next document (a page where Enter does nothing fails the wait).
    void pressEnterKey();
    // Writes a PNG screenshot of the page.
    void screenshot(const std::string& path);

private:
    Json call(const std::string& method, const std::string& params = "{}", bool onPage = true);
    void waitComplete();

    pid_t pid_ = -1;
    int toBrowser_ = -1, fromBrowser_ = -1;
    int nextId_ = 1;
    std::string pending_;   // bytes read past the last message
    std::string session_;   // the page's session id
};

}  // namespace e2e
