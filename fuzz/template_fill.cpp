// fuzz-libs: qor_xfcgi qor_xml qor_arc
// The template compiler and the page filler over arbitrary bytes: the input
// up to the first 0x01 byte is the template text, the rest is screen data
// bound through a small field table and also put as form-like data values.
// The response is discarded by replacement FastCGI calls.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fcgicalls.h"
#include "xfcgihtml.h"
#include "xfcgiout.h"

extern "C" {
FCGI_FILE _fcgi_sF[3];
int FCGI_Accept(void) { return -1; }
void FCGI_Finish(void) {}
size_t FCGI_fread(void*, size_t, size_t, FCGI_FILE*) { return 0; }
size_t FCGI_fwrite(void*, size_t, size_t nmemb, FCGI_FILE*) { return nmemb; }
int FCGI_printf(const char*, ...) { return 0; }
int FCGI_fflush(FCGI_FILE*) { return 0; }
}

namespace {

TemplateField field(const char* name, uint32_t length, uint16_t location, const char* picture,
                    int16_t occurs = 0) {
    TemplateField f;
    f.name = name;
    f.length = length;
    f.location = location;
    f.picture = picture;
    f.occurrences = occurs;
    f.elementLength = occurs ? static_cast<uint16_t>(length) : 0;
    return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string input(reinterpret_cast<const char*>(data), size);
    size_t cut = input.find('\x01');
    std::string screen = cut == std::string::npos ? std::string() : input.substr(cut + 1);
    input.resize(std::min(cut, input.size()));

    tcpHTML t;
    t.path = "fuzz.htx";
    t.text = input;
    xFcgiCompileTemplate(t, nullptr);
    // Keep repeated blocks small: the filler's own bound is far above
    // what a fuzz run can afford per input.
    for (HtmlSegment& g : t.segments)
        if (g.kind == SEG_BEGIN) g.maxRep = std::min(g.maxRep, 3);
    t.towebFields = {field("a", 4, 0, "X(4)"), field("r", 2, 4, "X(2)", 3),
                     field("n", 5, 10, "-ZZZ9"), field("m", 6, 15, "Z,ZZ9.99")};
    if (size & 1) t.flags |= tcpHTML::kWebTables | tcpHTML::kFilled;
    t.mcsCount = static_cast<int>(screen.size());

    xFcgiPutClear();
    xFcgiPutStr("x", screen.substr(0, 40).c_str());
    xFcgiPutStr("x.count", "2");
    xFcgiPutRaw("raw", "<b>");
    xFcgiPutStr("SID", "S1");
    xFcgiSendPreloadedTemplate(&t, nullptr, screen.c_str());
    xFcgiSetSubscripts(0, nullptr);
    xFcgiTemplateCache(0);
    return 0;
}
