// fuzz-libs: qor_xfcgi qor_xml qor_arc
// .t3i reader over arbitrary file contents: every field it accepts must lie
// inside a 64 KiB screen record, and the screen size must cover them all.
// The same bytes are also read as one COBOL picture.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "logprint.h"
#include "xfcgihtml.h"
#include "xfcgit3i.h"

namespace {
std::string path;

void check(const TemplateFieldTable& table, const tcpHTML& t) {
    for (const TemplateField& f : table) {
        long occ = f.occurrences >= 2 ? f.occurrences : 1;
        long end = static_cast<long>(f.location) + static_cast<long>(f.length) * occ + f.pad;
        if (end > 65535 || end > t.screenSize) std::abort();
        if (f.occurrences == 1 || f.occurrences < 0) std::abort();
        if (f.occurrences && f.elementLength != f.length) std::abort();
    }
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char name[] = "/tmp/t3i_fuzz_XXXXXX";
    int fd = mkstemp(name);
    if (fd >= 0) close(fd);
    path = name;
    std::atexit([] { unlink(path.c_str()); });
    logOptions("qt");
    logOpen("/dev/null", 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1 << 16)) return 0;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    tcpHTML t;
    if (xFcgiLoadDataDesc(&t, path.c_str(), true) == 1) {
        check(t.mainFields, t);
        check(t.towebFields, t);
        check(t.fromwebFields, t);
    } else if (!t.mainFields.empty() || !t.towebFields.empty() || !t.fromwebFields.empty()) {
        std::abort();  // a refused file leaves no tables
    }

    std::string expanded;
    int length = 0, decimals = 0;
    expandMask(std::string(reinterpret_cast<const char*>(data), size), expanded, length, decimals);
    if (decimals > length || length < 0 || expanded.size() > 65536) std::abort();
    return 0;
}
