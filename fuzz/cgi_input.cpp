// fuzz-libs: qor_xfcgi qor_xml qor_arc
// Request input over arbitrary bytes: the input is cut at the first two
// 0x01 bytes into query string, POST body and cookie header. The body is
// read through replacement FastCGI calls, parsed, looked up, merged into a
// screen record with a guard zone behind it, and the cookies are searched.
#include <cerrno>
#include <cstdarg>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fcgicalls.h"
#include "logprint.h"
#include "xfcgihtml.h"
#include "xfcgiinput.h"
#include "xfcgin.h"

namespace {
std::string body;
size_t bodyPos = 0;
}  // namespace

extern "C" {
FCGI_FILE _fcgi_sF[3];
int FCGI_Accept(void) { return -1; }
void FCGI_Finish(void) {}
size_t FCGI_fread(void* ptr, size_t size, size_t nmemb, FCGI_FILE*) {
    size_t ask = size * nmemb;
    size_t n = body.size() - bodyPos < ask ? body.size() - bodyPos : ask;
    std::memcpy(ptr, body.data() + bodyPos, n);
    bodyPos += n;
    return size ? n / size : 0;
}
size_t FCGI_fwrite(void*, size_t, size_t nmemb, FCGI_FILE*) { return nmemb; }
int FCGI_printf(const char*, ...) { return 0; }
int FCGI_fflush(FCGI_FILE*) { return 0; }
}

namespace {

TemplateField field(const char* name, uint32_t kind, uint32_t length, uint16_t location,
                    const char* picture, uint8_t decimals = 0, uint8_t flags = 0) {
    TemplateField f;
    f.name = name;
    f.kind = kind;
    f.length = length;
    f.location = location;
    f.picture = picture;
    f.decimals = decimals;
    f.flags = flags;
    return f;
}

tcpHTML makeTemplate() {
    tcpHTML t;
    t.path = "fuzz.htx";
    t.fromwebFields = {
        field("a", 1, 8, 0, "X(8)"),        field("n", 1, 5, 8, "99999", 2),
        field("i", 3, 4, 13, ""),           field("u", 1, 6, 17, "U(6)"),
        field("f_1", 2, 3, 23, "", 0, TemplateField::kUpperCase),
        field("far", 1, 40, 20, "X(40)"),   field("z", 12, 3, 60, "ZZ9"),
    };
    t.screenSize = 63;
    return t;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    logOptions("t");
    logOpen("/dev/null", 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1 << 16)) return 0;
    std::string all(reinterpret_cast<const char*>(data), size);
    size_t cut1 = all.find('\x01');
    size_t cut2 = cut1 == std::string::npos ? std::string::npos : all.find('\x01', cut1 + 1);
    std::string query = all.substr(0, cut1);
    body = cut1 == std::string::npos ? "" : all.substr(cut1 + 1, cut2 - cut1 - 1);
    std::string cookie = cut2 == std::string::npos ? "" : all.substr(cut2 + 1);
    bodyPos = 0;

    // Environment strings end at a NUL; that is what a server could send.
    setenv("QUERY_STRING", query.c_str(), 1);
    setenv("CONTENT_LENGTH", std::to_string(body.size() + (size & 3)).c_str(), 1);
    setenv("HTTP_COOKIE", cookie.c_str(), 1);

    bInputAvail = 1;
    int xy[2];
    xFcgiGetParsedInput(nullptr, xy);
    for (int i = 0; i < xFcgiInputCount(); ++i) {
        if (std::strlen(xFcgiInputName(i)) > xFcgiMaxInputName) std::abort();
        xFcgiGetStr(xFcgiInputName(i), i % 3);
    }
    const int subs[] = {1, 2};
    xFcgiGetIntX("f", 2, subs);
    xFcgiGetDbl("n", 0);
    xFcgiGetHex("a", 1);
    xFcgiChgInpStr("a", query.c_str());

    tcpHTML t = makeTemplate();
    std::vector<char> rec(64 + 16, '\x5A');
    int used = xFcgiGetMcsData(rec.data(), 40, &t);
    if (used < 0 || used > 40) std::abort();
    for (size_t i = 40; i < rec.size(); ++i)
        if (rec[i] != '\x5A') std::abort();  // nothing beyond the record
    used = xFcgiGetMcsData(nullptr, 0, &t);
    if (used != 63) std::abort();

    // Over the host's own screen (the cookie's bytes), with a toweb table
    // whose fields lie elsewhere and hide digits: a merge stays inside the
    // record, or refuses a number and leaves the record alone.
    t.towebFields = t.fromwebFields;
    for (TemplateField& f : t.towebFields) f.location = static_cast<uint16_t>((f.location * 7 + size) % 70);
    t.fromwebFields[1].hidden = static_cast<uint8_t>(size % 10);
    t.towebFields[6].hidden = static_cast<uint8_t>(size % 4);
    t.towebFields[2].pad = 5;
    t.fromwebFields[2].pad = 3;
    // Host text with line breaks comes back through a TEXTAREA (a) and an
    // input (u); on some inputs the host's bytes are laid out by a main
    // table instead of toweb.
    t.text = "a u";
    t.segments.resize(2);
    t.segments[0].kind = SEG_TEXTAREA;
    t.segments[0].name = {0, 1};
    t.segments[1].kind = SEG_VARIABLE;
    t.segments[1].name = {2, 1};
    for (HtmlSegment& g : t.segments) g.direction = HtmlSegment::kInput;
    if (size & 4) std::swap(t.towebFields, t.mainFields);
    if (size & 8) t.fromwebFields[1].flags |= TemplateField::kSigned;
    XFcgiHostScreen host;
    host.data = cookie;
    if (size & 2) host.keep.insert("u");
    std::fill(rec.begin(), rec.end(), '\x5A');
    XFcgiRefusedNumber refused;
    used = xFcgiGetMcsData(rec.data(), 40, &t, &host, &refused);
    if (used > 40 || (used < 0) != !refused.field.empty()) std::abort();
    for (size_t i = 40; i < rec.size(); ++i)
        if (rec[i] != '\x5A') std::abort();
    if (used < 0)
        for (size_t i = 0; i < 40; ++i)
            if (rec[i] != '\x5A') std::abort();   // refused before anything changed

    std::string out;
    xFcgiGetCookie("PIDPOOL_ID", out);
    xFcgiGetCookie(query.c_str(), out);

    std::vector<char> digits(9, '#');
    editNumeric(digits.data(), 7, static_cast<int>(size % 9), query.data(), query.size(),
                nullptr, size & 1);
    if (digits[7] != '#' || digits[8] != '#') std::abort();
    xFcgiGetDezUREnv();
    return 0;
}
