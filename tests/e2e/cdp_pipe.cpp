#include "cdp_pipe.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace e2e {

// ---------------------------------------------------------------------------
// JSON

namespace {

struct Parser {
    const std::string& t;
    size_t i = 0;

    void ws() { while (i < t.size() && std::strchr(" \t\r\n", t[i])) ++i; }
    [[noreturn]] void fail(const char* what) { throw std::runtime_error(std::string("JSON: ") + what); }
    void expect(char c) { ws(); if (i >= t.size() || t[i] != c) fail("unexpected character"); ++i; }

    static void utf8(std::string& out, unsigned cp)
    {
        if (cp < 0x80) out += static_cast<char>(cp);
        else if (cp < 0x800) { out += static_cast<char>(0xC0 | cp >> 6); out += static_cast<char>(0x80 | (cp & 63)); }
        else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | cp >> 12);
            out += static_cast<char>(0x80 | (cp >> 6 & 63));
            out += static_cast<char>(0x80 | (cp & 63));
        } else {
            out += static_cast<char>(0xF0 | cp >> 18);
            out += static_cast<char>(0x80 | (cp >> 12 & 63));
            out += static_cast<char>(0x80 | (cp >> 6 & 63));
            out += static_cast<char>(0x80 | (cp & 63));
        }
    }

    unsigned hex4()
    {
        if (i + 4 > t.size()) fail("short \\u escape");
        unsigned v = static_cast<unsigned>(std::stoul(t.substr(i, 4), nullptr, 16));
        i += 4;
        return v;
    }

    std::string str()
    {
        expect('"');
        std::string out;
        while (i < t.size() && t[i] != '"') {
            char c = t[i++];
            if (c != '\\') { out += c; continue; }
            if (i >= t.size()) fail("cut escape");
            char e = t[i++];
            switch (e) {
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            case 'r': out += '\r'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'u': {
                unsigned cp = hex4();
                if (cp >= 0xD800 && cp < 0xDC00 && i + 6 <= t.size() && t[i] == '\\' && t[i + 1] == 'u') {
                    i += 2;
                    unsigned lo = hex4();
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                }
                utf8(out, cp);
                break;
            }
            default: out += e;
            }
        }
        if (i >= t.size()) fail("unterminated string");
        ++i;
        return out;
    }

    Json value()
    {
        ws();
        if (i >= t.size()) fail("missing value");
        Json v;
        char c = t[i];
        if (c == '{') {
            v.kind = Json::Object;
            ++i;
            ws();
            if (i < t.size() && t[i] == '}') { ++i; return v; }
            for (;;) {
                ws();
                std::string k = str();
                expect(':');
                v.fields[k] = value();
                ws();
                if (i < t.size() && t[i] == ',') { ++i; continue; }
                expect('}');
                return v;
            }
        }
        if (c == '[') {
            v.kind = Json::Array;
            ++i;
            ws();
            if (i < t.size() && t[i] == ']') { ++i; return v; }
            for (;;) {
                v.items.push_back(value());
                ws();
                if (i < t.size() && t[i] == ',') { ++i; continue; }
                expect(']');
                return v;
            }
        }
        if (c == '"') { v.kind = Json::String; v.s = str(); return v; }
        if (t.compare(i, 4, "true") == 0) { v.kind = Json::Bool; v.b = true; i += 4; return v; }
        if (t.compare(i, 5, "false") == 0) { v.kind = Json::Bool; i += 5; return v; }
        if (t.compare(i, 4, "null") == 0) { i += 4; return v; }
        char* end = nullptr;
        v.n = std::strtod(t.c_str() + i, &end);
        if (end == t.c_str() + i) fail("bad value");
        v.kind = Json::Number;
        i = static_cast<size_t>(end - t.c_str());
        return v;
    }
};

}  // namespace

const Json& Json::operator[](const std::string& key) const
{
    static const Json none;
    auto it = fields.find(key);
    return it == fields.end() ? none : it->second;
}

Json Json::parse(const std::string& text)
{
    Parser p{text};
    return p.value();
}

std::string jsonQuote(const std::string& s)
{
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') { out += '\\'; out += static_cast<char>(c); }
        else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else out += static_cast<char>(c);
    }
    return out + "\"";
}

std::string base64Decode(const std::string& s)
{
    std::string out;
    unsigned acc = 0;
    int bits = 0;
    for (char c : s) {
        int v;
        if (c >= 'A' && c <= 'Z') v = c - 'A';
        else if (c >= 'a' && c <= 'z') v = c - 'a' + 26;
        else if (c >= '0' && c <= '9') v = c - '0' + 52;
        else if (c == '+') v = 62;
        else if (c == '/') v = 63;
        else continue;
        acc = acc << 6 | static_cast<unsigned>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>(acc >> bits & 0xFF);
        }
    }
    return out;
}

// ---------------------------------------------------------------------------
// The browser

std::string chromiumBinary()
{
    for (const char* p : {"/usr/lib/chromium/chromium", "/usr/bin/chromium"})
        if (access(p, X_OK) == 0) return p;
    return "";
}

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kCallTimeoutMs = 30000;

}  // namespace

Browser::Browser(const std::string& profileDir)
{
    const std::string bin = chromiumBinary();
    if (bin.empty()) throw std::runtime_error("chromium is not installed (apt-get install chromium)");
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    std::vector<std::string> args = {bin, "--headless", "--remote-debugging-pipe", "--no-sandbox",
                                     "--disable-gpu", "--disable-dev-shm-usage", "--no-first-run",
                                     "--no-default-browser-check", "--disable-extensions",
                                     "--window-size=1000,700", "--user-data-dir=" + profileDir,
                                     "about:blank"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    const std::string errPath = profileDir + "/chromium.err";
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        // The protocol runs on descriptors 3 (commands in) and 4 (answers out).
        int r = fcntl(in[0], F_DUPFD, 10), w = fcntl(out[1], F_DUPFD, 10);
        dup2(r, 3);
        dup2(w, 4);
        int null = ::open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (err >= 0) dup2(err, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    toBrowser_ = in[1];
    fromBrowser_ = out[0];

    Json target = call("Target.createTarget", "{\"url\":\"about:blank\"}", false);
    std::string id = target["result"]["targetId"].s;
    if (id.empty()) throw std::runtime_error("chromium opened no page");
    Json attach = call("Target.attachToTarget", "{\"targetId\":" + jsonQuote(id) + ",\"flatten\":true}", false);
    session_ = attach["result"]["sessionId"].s;
    if (session_.empty()) throw std::runtime_error("no DevTools session for the page");
    call("Page.enable");
    call("Runtime.enable");
}

Browser::~Browser()
{
    if (toBrowser_ >= 0) close(toBrowser_);  // chromium ends when its pipe closes
    if (fromBrowser_ >= 0) close(fromBrowser_);
    if (pid_ > 0) {
        for (int waited = 0; waited < 5000; waited += 20) {
            if (waitpid(pid_, nullptr, WNOHANG) == pid_) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

Json Browser::call(const std::string& method, const std::string& params, bool onPage)
{
    const int id = nextId_++;
    std::string msg = "{\"id\":" + std::to_string(id) + ",\"method\":" + jsonQuote(method) +
                      ",\"params\":" + params;
    if (onPage) msg += ",\"sessionId\":" + jsonQuote(session_);
    msg += "}";
    msg.push_back('\0');
    for (size_t sent = 0; sent < msg.size();) {
        ssize_t n = write(toBrowser_, msg.data() + sent, msg.size() - sent);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw std::runtime_error("chromium's command pipe is closed");
        sent += static_cast<size_t>(n);
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(kCallTimeoutMs);
    for (;;) {
        size_t nul;
        while ((nul = pending_.find('\0')) != std::string::npos) {
            std::string one = pending_.substr(0, nul);
            pending_.erase(0, nul + 1);
            Json j = Json::parse(one);
            if (j["id"].kind == Json::Number && static_cast<int>(j["id"].n) == id) {
                if (j["error"].kind != Json::Null)
                    throw std::runtime_error(method + " failed: " + j["error"]["message"].s);
                return j;
            }
            // Events and answers to nobody are dropped.
        }
        int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
        if (left <= 0) throw std::runtime_error(method + ": no answer from chromium");
        pollfd p{fromBrowser_, POLLIN, 0};
        if (poll(&p, 1, left) <= 0) continue;
        char buf[65536];
        ssize_t n = read(fromBrowser_, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw std::runtime_error("chromium ended");
        pending_.append(buf, static_cast<size_t>(n));
    }
}

std::string Browser::eval(const std::string& script)
{
    Json r = call("Runtime.evaluate", "{\"expression\":" + jsonQuote(script) + ",\"returnByValue\":true}");
    const Json& res = r["result"];
    if (res["exceptionDetails"].kind != Json::Null)
        throw std::runtime_error("script failed: " + script + ": " + res["exceptionDetails"]["text"].s);
    const Json& v = res["result"]["value"];
    switch (v.kind) {
    case Json::String: return v.s;
    case Json::Bool: return v.b ? "true" : "false";
    case Json::Number: {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.15g", v.n);
        return buf;
    }
    default: return "";
    }
}

void Browser::waitComplete()
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(kCallTimeoutMs);
    while (Clock::now() < deadline) {
        try {
            if (eval("document.readyState === 'complete' && window.__e2eOld === undefined") == "true") return;
        } catch (const std::runtime_error&) {
            // The old document's context went away in the middle of the check.
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    throw std::runtime_error("the page did not finish loading");
}

void Browser::open(const std::string& url)
{
    eval("window.__e2eOld = true");
    call("Page.navigate", "{\"url\":" + jsonQuote(url) + "}");
    waitComplete();
}

void Browser::navigateBy(const std::string& script)
{
    // The mark lives in the old document only, so its absence shows that
    // the next document has replaced it.
    eval("window.__e2eOld = true; " + script + "; true");
    waitComplete();
}

void Browser::type(const std::string& selectorScript, const std::string& text)
{
    eval("(" + selectorScript + ").focus(); (" + selectorScript + ").select(); true");
    call("Input.insertText", "{\"text\":" + jsonQuote(text) + "}");
}

void Browser::keys(const std::string& text)
{
    call("Input.insertText", "{\"text\":" + jsonQuote(text) + "}");
}

void Browser::click(const std::string& selectorScript)
{
    const std::string box = "(" + selectorScript + ").getBoundingClientRect()";
    const std::string where = "\"x\":" + eval("Math.round(" + box + ".left + " + box + ".width / 2)") +
                              ",\"y\":" + eval("Math.round(" + box + ".top + " + box + ".height / 2)") +
                              ",\"button\":\"left\",\"clickCount\":1";
    call("Input.dispatchMouseEvent", "{\"type\":\"mousePressed\"," + where + "}");
    call("Input.dispatchMouseEvent", "{\"type\":\"mouseReleased\"," + where + "}");
}

void Browser::press(const std::string& text)
{
    for (char c : text) {
        const std::string key = "\"key\":" + jsonQuote(std::string(1, c));
        call("Input.dispatchKeyEvent", "{\"type\":\"keyDown\",\"text\":" + jsonQuote(std::string(1, c)) + "," + key + "}");
        call("Input.dispatchKeyEvent", "{\"type\":\"keyUp\"," + key + "}");
    }
}

void Browser::pressEnterKey()
{
    eval("window.__e2eOld = true");
    const std::string key = "\"key\":\"Enter\",\"code\":\"Enter\",\"windowsVirtualKeyCode\":13";
    call("Input.dispatchKeyEvent", "{\"type\":\"keyDown\",\"text\":\"\\r\"," + key + "}");
    call("Input.dispatchKeyEvent", "{\"type\":\"keyUp\"," + key + "}");
    waitComplete();
}

void Browser::screenshot(const std::string& path)
{
    Json r = call("Page.captureScreenshot", "{\"format\":\"png\"}");
    std::string png = base64Decode(r["result"]["data"].s);
    if (png.size() < 8) throw std::runtime_error("empty screenshot");
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << png;
    if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace e2e
