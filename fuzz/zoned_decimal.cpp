// fuzz-libs: qor_arc
// Zoned and packed decimal: any text reads without fault, and every 32-bit
// value survives a store and a load in both sign modes.
#include "machine.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Exact-size copies, so any read past the text is caught.
    std::vector<char> text(data, data + size);
    mldintuc(text.data(), static_cast<int>(text.size()));
    std::vector<unsigned char> packed(data, data + (size < 12 ? size : 12));
    mldintpk(packed.data(), static_cast<int>(packed.size()));
    std::vector<char> digits(2 * packed.size() + 1);
    mldstrpk(packed.data(), static_cast<int>(packed.size()), digits.data());

    if (size < 4)
        return 0;
    int32_t v;
    std::memcpy(&v, data, 4);
    char zoned[10];
    for (int mode = 0; mode < 2; ++mode) {
        msetEbcdic(mode);
        mstintuc(v, zoned, sizeof zoned);
        if (mldintuc(zoned, sizeof zoned) != v)
            std::abort();
    }
    msetEbcdic(0);
    unsigned char pk[6];
    mstintpk(v, pk, sizeof pk);
    if (mldintpk(pk, sizeof pk) != v)
        std::abort();
    unsigned char be[4];
    mstint(v, be);
    if (mldint(be) != v)
        std::abort();
    return 0;
}
