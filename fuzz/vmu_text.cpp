// fuzz-libs: qor_arc
// QORVMEM text: any text is read or refused, and what is read is written
// back the same way.
#include "vmu.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    vmu pools[kVmuPools] = {};
    const int n = parseVmuText(text.c_str(), pools);
    if (n <= 0)
        return 0;
    vmu again[kVmuPools] = {};
    if (parseVmuText(vmuText(pools).c_str(), again) != n)
        std::abort();
    for (int i = 0; i < n; ++i)
        if (again[i].type != pools[i].type || again[i].param != pools[i].param || again[i].size != pools[i].size)
            std::abort();
    return 0;
}
