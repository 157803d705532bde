// Response output: held text, the content-type lines, header lines,
// cookies, the FastCGI error check and the program-file check (see
// xfcgihtml.h).
//
// Small pieces of a page are collected in a 4 KiB buffer; larger ones are
// written directly in pieces of at most 8 KiB, with an explicit flush of
// the FastCGI stream at least every 32 KiB, so a large page streams to the
// web server without being built whole in memory.
#include "xfcgihtml.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/stat.h>

#include "fcgicalls.h"
#include "logprint.h"
#include "xfcgicharref.h"

namespace {

constexpr size_t kHoldLimit = 4094;
constexpr size_t kPiece = 8192;
constexpr size_t kFlushEvery = 32768;
std::string held;
size_t sinceFlush = 0;
bool contentTypeDue = true;
std::string charset;
bool charsetLatin1 = false;
std::string contentType = "Content-type: text/html\r\nCache-Control: no-cache\r\n";

std::string binaryPath;
bool binaryKnown = false;
time_t binaryCtime = 0;

void resetHeld() {
    held.clear();
    sinceFlush = 0;
}

// Registered with the output table: its shutdown resets the held text.
struct FreeHookRegistration {
    FreeHookRegistration() { xFcgiSetFreeHook(resetHeld); }
} freeHookRegistration;

// Writes len bytes to the FastCGI stream; false (and the report logged)
// when the write fails.
bool writeOut(const char* data, size_t len, bool dataText, size_t at, size_t total) {
    if (len == 0) return true;
    errno = 0;
    size_t done = FCGI_fwrite(const_cast<char*>(data), 1, len, FCGI_stdout);
    sinceFlush += done;
    if (done == len) return true;
    int e = errno;
    fcgiError(e, __FILE__, __LINE__);
    logPrintf(dataText ? "#Error %d writing data to web server at %d of %d\n"
                       : "#Error %d writing to web server at %d of %d\n",
              e, static_cast<int>(at), static_cast<int>(total));
    logPrintf(dataText ? "data[%.*s]\n" : "text[%.*s]\n",
              static_cast<int>(std::min<size_t>(total, 70)), data - at);
    return false;
}

}  // namespace

void xFcgiFlushText() {
    if (held.empty()) return;
    std::string out;
    out.swap(held);
    writeOut(out.data(), out.size(), false, 0, out.size());
}

void xFcgiSendText(std::string_view text, bool data) {
    if (text.empty()) return;
    if (held.size() + text.size() <= kHoldLimit) {
        held.append(text.data(), text.size());
        return;
    }
    xFcgiFlushText();
    for (size_t at = 0; at < text.size();) {
        size_t piece = std::min(kPiece, text.size() - at);
        if (sinceFlush + piece > kFlushEvery) {
            FCGI_fflush(FCGI_stdout);
            sinceFlush = 0;
        }
        if (!writeOut(text.data() + at, piece, data, at, text.size())) return;
        at += piece;
    }
}

void xFcgiSendContentType() {
    if (!contentTypeDue) return;
    contentTypeDue = false;
    xFcgiSendText(contentType);
}

void xFcgiSetCharset(const char* name) {
    charset = name ? name : "";
    // The name goes into a header line: nothing that could end it.
    if (std::any_of(charset.begin(), charset.end(), [](char c) {
            return static_cast<unsigned char>(c) <= ' ' || c == ';' || c == 0x7F;
        }))
        charset.clear();
    charsetLatin1 = xFcgiIsLatin1Name(charset);
    contentType = "Content-type: text/html";
    if (!charset.empty()) contentType += "; charset=" + charset;
    contentType += "\r\nCache-Control: no-cache\r\n";
}

const std::string& xFcgiGetCharset() {
    return charset;
}

bool xFcgiCharsetIsLatin1() {
    return charsetLatin1;
}

void xFcgiContentTypeReset() {
    contentTypeDue = true;
}

void fcgiError(int err, const char* file, int line) {
    if (err == 0) return;
    logPrintf("#ERROR: FastCGI %d %s in %s:%d\n", err, std::strerror(err), file, line);
    logForceFlush();
    if (err == EPIPE) {
        logClose();
        std::exit(-1);
    }
}

int xFcgiPutHeader(const char* line) {
    if (!line) return 1;
    xFcgiSendContentType();
    if (logCtrlFlgs & LOG_DETAIL) logPrintf("#PutHeader: %s\n", line);
    xFcgiFlushText();
    std::string out(line);
    out += "\r\n";
    xFcgiSendText(out);
    xFcgiFlushText();
    return 1;
}

int xFcgiPutCookie(const char* name, const char* value, int seconds, const char* domain) {
    std::string line = "Set-Cookie: ";
    line += name ? name : "";
    line += '=';
    xFcgiEscapeUrl(value ? value : "", line);
    line += "; path=/";
    if (seconds != 0) {
        time_t when = std::time(nullptr) + seconds;
        struct tm tmv;
        char buf[64];
        if (gmtime_r(&when, &tmv) && std::strftime(buf, sizeof buf, "%a, %d-%b-%Y %H:%M:%S GMT", &tmv))
            line += std::string("; expires=") + buf;
    }
    if (domain && *domain) line += std::string("; domain=") + domain;
    line += ';';
    xFcgiSendContentType();
    if (logCtrlFlgs & LOG_DETAIL)
        logPrintf("#%s [%s]\n", line.c_str(), seconds ? "Persistent" : "Session");
    xFcgiFlushText();
    line += "\r\n";
    xFcgiSendText(line);
    xFcgiFlushText();
    return 1;
}

// ------------------------------------------------------ program-file check --

void xFcgiBinarySetup() {
    if (binaryKnown) return;
    const char* file = std::getenv("SCRIPT_FILENAME");
    binaryPath = file ? file : "";
    binaryKnown = true;
    struct stat st;
    if (stat(binaryPath.c_str(), &st) == 0) {
        binaryCtime = st.st_ctime;
    } else {
        std::string msg = "Binary ";
        xFcgiEscapeData(binaryPath, msg);
        msg += " could not be stated<br>\n";
        xFcgiSendText(msg);
    }
    if (const char* root = std::getenv("DOCUMENT_ROOT")) {
        xFcgiDocRoot(root);
        xFcgiSetTemplateDir("htmltmpl");
    }
    if (const char* dir = std::getenv("XFCGITEMPLATE")) xFcgiDocRoot(dir);
}

int xFcgiBinaryOk() {
    struct stat st;
    if (stat(binaryPath.c_str(), &st) != 0) {
        std::string msg = "Binary OK ";
        xFcgiEscapeData(binaryPath, msg);
        msg += " could not be stated<br>\n";
        xFcgiSendText(msg);
        return 0;
    }
    return st.st_ctime == binaryCtime ? 1 : 0;
}
