// fuzz-libs: qor_arc
// Base64: any text decodes within its stated size, and any bytes survive an
// encode and a decode.
#include "qorstring.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 1 << 16)
        return 0;
    const int n = static_cast<int>(size);
    std::vector<char> text(data, data + size);
    std::vector<char> decoded(base64DecodedSize(n));
    int decodedLen = -1;
    fromBase64(decoded.data(), text.data(), n, &decodedLen);
    if (decodedLen < 0 || decodedLen >= static_cast<int>(decoded.size()))
        std::abort();

    std::vector<char> encoded(base64EncodedSize(n));
    toBase64(encoded.data(), data, n);
    const int encodedLen = static_cast<int>(std::strlen(encoded.data()));
    if (encodedLen != (n + 2) / 3 * 4)
        std::abort();
    std::vector<char> back(base64DecodedSize(encodedLen));
    int backLen = -1;
    fromBase64(back.data(), encoded.data(), encodedLen, &backLen);
    if (backLen != n || std::memcmp(back.data(), data, size) != 0)
        std::abort();
    return 0;
}
