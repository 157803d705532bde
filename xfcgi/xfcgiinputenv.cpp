// Cookies, the DezUR CGI-environment text and random numbers.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <strings.h>
#include <unistd.h>

#include "logprint.h"
#include "xfcgiinput.h"

namespace {

// The CGI variables passed to DezUR exchanges, in this order.
const char* const dezUrVars[] = {
    "AUTH_TYPE",       "CONTENT_LENGTH", "CONTENT_TYPE",    "DOCUMENT_ROOT",   "GATEWAY_INTERFACE",
    "HTTP_COOKIE",     "HTTP_HOST",      "HTTP_MIME_VERSION", "HTTP_USER_AGENT", "PATH_INFO",
    "QUERY_STRING",    "REMOTE_ADDR",    "REMOTE_HOST",     "REQUEST_METHOD",  "REQUEST_URI",
    "SCRIPT_FILENAME", "SCRIPT_NAME",    "SERVER_ADMIN",    "SERVER_PORT",     "SERVER_PROTOCOL",
    "SERVER_SOFTWARE",
};

std::string dezUrEnv;
int uniqueRand = 0;    // remembered by xFcgiUnqRand
bool randSeeded = false;

int hexDigit(int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "%XX" gives a byte (CR then LF gives one LF), "+" a blank; a "%" that is
// not an escape stays as it is.
std::string decodeCookie(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%' && i + 2 < text.size() &&
                   hexDigit(static_cast<unsigned char>(text[i + 1])) >= 0 &&
                   hexDigit(static_cast<unsigned char>(text[i + 2])) >= 0) {
            char byte = static_cast<char>(hexDigit(static_cast<unsigned char>(text[i + 1])) * 16 +
                                          hexDigit(static_cast<unsigned char>(text[i + 2])));
            if (byte == '\n' && !out.empty() && out.back() == '\r') out.pop_back();
            out += byte;
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

int xFcgiGetCookie(const char* name, std::string& out) {
    out.clear();
    if (!name) return 0;
    const bool detail = (logCtrlFlgs & LOG_DETAIL) != 0;
    const char* cookies = std::getenv("HTTP_COOKIE");
    if (!cookies) {
        if (detail) logPrintf("# No Cookies present; So no %s value\n", name);
        return 0;
    }
    if (detail) logPrintf("# Look for %s in COOKIE=%s\n", name, cookies);
    const std::string all(cookies);
    const size_t nameLen = std::string(name).size();
    size_t start = 0;
    while (start <= all.size()) {
        size_t end = all.find(';', start);
        if (end == std::string::npos) end = all.size();
        size_t at = start;
        while (at < end && (all[at] == ' ' || all[at] == '\t')) ++at;
        // A whole cookie name: "name=" right at the start of a cookie.
        if (end - at > nameLen && all[at + nameLen] == '=' &&
            strncasecmp(all.c_str() + at, name, nameLen) == 0) {
            out = decodeCookie(all.substr(at + nameLen + 1, end - at - nameLen - 1));
            if (detail) logPrintf("# COOKIE: %s = %s\n", name, out.c_str());
            return 1;
        }
        start = end + 1;
    }
    return 0;
}

const char* xFcgiGetDezUREnv() {
    // One pass over the environment finds every variable of the list (the
    // first entry of a name, as getenv finds it): every request asks for
    // the text.
    constexpr size_t kVars = sizeof dezUrVars / sizeof dezUrVars[0];
    const char* values[kVars] = {};
    for (char** e = environ; e && *e; ++e) {
        const char* eq = std::strchr(*e, '=');
        if (!eq) continue;
        const std::string_view name(*e, static_cast<size_t>(eq - *e));
        for (size_t i = 0; i < kVars; ++i) {
            if (!values[i] && name == dezUrVars[i]) {
                values[i] = eq + 1;
                break;
            }
        }
    }
    static const char hex[] = "0123456789ABCDEF";
    std::string text;
    for (size_t i = 0; i < kVars; ++i) {
        if (!values[i]) continue;
        if (!text.empty()) text += '&';
        text += dezUrVars[i];
        text += '=';
        for (const char* p = values[i]; *p;) {
            const size_t plain = std::strcspn(p, "&=+%?");
            text.append(p, plain);
            p += plain;
            if (!*p) break;
            const unsigned char c = static_cast<unsigned char>(*p++);
            text += '%';
            text += hex[c >> 4];
            text += hex[c & 15];
        }
    }
    dezUrEnv = std::move(text);
    return dezUrEnv.c_str();
}

void xFcgiUnqRand(int n) {
    uniqueRand = n & 127;
    srand48(static_cast<long>(std::time(nullptr)) + getpid() + uniqueRand);
    randSeeded = true;
}

int xFcgiGetRand() {
    if (!randSeeded) {
        srand48(static_cast<long>(std::time(nullptr)) + getpid());
        randSeeded = true;
    }
    int r = static_cast<int>(drand48() * 536870912.0);
    return uniqueRand <= 23 ? r + 1 : r;
}
