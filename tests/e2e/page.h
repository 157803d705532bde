// Reading the gateway's pages as a browser would: the first form with its
// action and the fields it posts, and a visitor that follows a conversation
// from page to page.
#pragma once

#include "http_client.h"

#include <cstdint>
#include <string>
#include <vector>

namespace e2e {

// The first FORM of a page and the fields a browser posts with it (text,
// hidden and password inputs, in page order).  Values are HTML-decoded.
struct Form {
    bool found = false;
    std::string name;
    std::string action;  // as written in the page, HTML-decoded
    HeaderList fields;

    bool has(const std::string& field) const;
    std::string get(const std::string& field) const;  // "" when absent
    void set(const std::string& field, const std::string& value);  // adds when absent
    void erase(const std::string& field);  // not posted (a cleared checkbox)
    // A query parameter of the action URL ("" when absent).
    std::string actionParam(const std::string& name) const;
};

Form parseForm(const std::string& html);

// Resolves a link or form action against the path of the page it came from.
std::string resolveUrl(const std::string& pagePath, const std::string& ref);

// True when `html` holds `text` after dropping trailing blanks of the text.
bool pageHas(const std::string& html, const std::string& text);

// A browser session: the page last shown and its form.
class Visitor {
public:
    explicit Visitor(uint16_t port) : port_(port) {}

    // GET of a path; the response becomes the current page.
    const HttpResponse& open(const std::string& path);
    // Posts the current form as a browser would after the user typed
    // `typed` (field name, value) and pressed Enter (status ' ') or a
    // function key (status '0'..'M', as the page script sets McsStatus).
    const HttpResponse& submit(const HeaderList& typed = {}, char status = ' ');
    // The same without the fields `left` (as a browser leaves out cleared
    // checkboxes, or a script that posts what it likes).
    const HttpResponse& submitWithout(const std::vector<std::string>& left, const HeaderList& typed = {});
    // Posts the current form to its action plus `extraQuery` (appended with
    // '&'), as the pages' own buttons do for mcs.page.
    const HttpResponse& submitWith(const std::string& extraQuery, const HeaderList& typed = {});

    const HttpResponse& last() const { return last_; }
    const Form& form() const { return form_; }
    const std::string& path() const { return path_; }
    std::string screen() const { return form_.name; }  // mcs.name of the page
    std::string sid() const { return form_.actionParam("sid"); }
    void setCookie(const std::string& cookie) { cookie_ = cookie; }

private:
    const HttpResponse& send(const std::string& extraQuery, const HeaderList& typed, char status,
                             const std::vector<std::string>& left = {});
    const HttpResponse& post(const std::string& target, const std::string& body);
    const HttpResponse& take(const std::string& target, HttpResponse r);

    uint16_t port_;
    std::string path_ = "/";
    std::string cookie_;
    HttpResponse last_;
    Form form_;
};

}  // namespace e2e
