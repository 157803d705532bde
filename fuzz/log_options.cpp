// fuzz-libs: qor_arc
// Option letters of the log: any text is applied without a crash, and the
// settings it leaves stay within their limits.
#include "logprint.h"
#include "logstate.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string opts(reinterpret_cast<const char *>(data), size);
    // "#fd" would log onto the fuzzer's own descriptors; the rest of the
    // letters only change settings while no log is open.
    for (char &c : opts)
        if (c == '#')
            c = '!';
    logOptions(opts.c_str());
    const LogState &s = logState;
    if (s.logSize != 31457280 && (s.logSize < 32768 || s.logSize > (1LL << 50)))
        __builtin_trap();
    if (s.keepCopies < 1 || s.keepCopies > 999)
        __builtin_trap();
    if (s.tag.size() > 11 || s.saveOptionsLen > 63 || logState.file)
        __builtin_trap();
    logResetState();
    return 0;
}
