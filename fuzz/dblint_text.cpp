// fuzz-libs: qor_arc
// 64-bit integers as decimal text: any text reads without fault, any value
// is written within exactly its width, and a value written wide enough
// reads back unchanged.
#include "machdbl.h"
#include "machine.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const int decimals = data[0] % 24;
    const int width = data[1] % 40;
    data += 2;
    size -= 2;

    std::vector<char> text(data, data + size);
    unsigned char value[8];
    mStrDblInt(value, text.data(), static_cast<int>(text.size()), decimals);

    std::vector<char> out(width);  // exactly width: a write past it is caught
    mDblIntStr(value, out.data(), width, decimals);

    // A sign and 20 digits hold every 64-bit value.
    char wide[21];
    const int sign = mDblIntStr(value, wide, sizeof wide, 0);
    unsigned char again[8];
    if (mStrDblInt(again, wide, sizeof wide, 0) != sign && mldlonglong(value) != 0)
        std::abort();
    if (std::memcmp(value, again, 8) != 0)
        std::abort();
    return 0;
}
