// Binary, zoned and packed number codecs. Bytes are assembled one by one,
// so the code does not depend on the machine's byte order or alignment.
#include "machine.h"

#include <cstring>

namespace {

using Byte = unsigned char;

const Byte *bytes(const void *p) { return static_cast<const Byte *>(p); }
Byte *bytes(void *p) { return static_cast<Byte *>(p); }

uint64_t loadBe(const void *p, int n)
{
    uint64_t v = 0;
    for (int i = 0; i < n; ++i)
        v = (v << 8) | bytes(p)[i];
    return v;
}

void storeBe(uint64_t v, void *p, int n)
{
    for (int i = n - 1; i >= 0; --i, v >>= 8)
        bytes(p)[i] = static_cast<Byte>(v);
}

uint64_t loadLe(const void *p, int n)
{
    uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = (v << 8) | bytes(p)[i];
    return v;
}

void storeLe(uint64_t v, void *p, int n)
{
    for (int i = 0; i < n; ++i, v >>= 8)
        bytes(p)[i] = static_cast<Byte>(v);
}

// Sign-extends the low `bits` bits of v.
int64_t signExtend(uint64_t v, int bits)
{
    if (bits <= 0)
        return 0;
    if (bits >= 64)
        return static_cast<int64_t>(v);
    const uint64_t sign = uint64_t{1} << (bits - 1);
    v &= (sign << 1) - 1;
    return static_cast<int64_t>((v ^ sign) - sign);
}

// Magnitude of v without overflow for INT32_MIN.
uint32_t magnitude(int32_t v)
{
    return v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
}

const char kPlusOverpunch[] = "{ABCDEFGHI";
const char kMinusOverpunch[] = "}JKLMNOPQR";

int s_ebcdicSign = 0;

} // namespace

int16_t mldshort(const void *p) { return static_cast<int16_t>(signExtend(loadBe(p, 2), 16)); }
int32_t mldint(const void *p) { return static_cast<int32_t>(signExtend(loadBe(p, 4), 32)); }
int32_t mstshort(int32_t v, void *p) { storeBe(static_cast<uint32_t>(v), p, 2); return v; }
int32_t mstint(int32_t v, void *p) { storeBe(static_cast<uint32_t>(v), p, 4); return v; }
uint16_t mldushort(const void *p) { return static_cast<uint16_t>(loadBe(p, 2)); }
uint32_t mstushort(uint32_t v, void *p) { storeBe(v, p, 2); return v; }
uint32_t mlduint(const void *p) { return static_cast<uint32_t>(loadBe(p, 4)); }
uint32_t mstuint(uint32_t v, void *p) { storeBe(v, p, 4); return v; }

int32_t mldintle(const void *p) { return static_cast<int32_t>(signExtend(loadLe(p, 4), 32)); }
int32_t mstintle(int32_t v, void *p) { storeLe(static_cast<uint32_t>(v), p, 4); return v; }
uint16_t mldushortle(const void *p) { return static_cast<uint16_t>(loadLe(p, 2)); }
int16_t mldshortle(const void *p) { return static_cast<int16_t>(signExtend(loadLe(p, 2), 16)); }
int32_t mstshortle(int32_t v, void *p) { storeLe(static_cast<uint32_t>(v), p, 2); return v; }
int32_t mld386(const void *p) { return mldintle(p); }
int32_t mst386(int32_t v, void *p) { return mstintle(v, p); }

int64_t mldlonglong(const void *p) { return static_cast<int64_t>(loadBe(p, 8)); }
int64_t mstlonglong(int64_t v, void *p) { storeBe(static_cast<uint64_t>(v), p, 8); return v; }

void *mldPtrFromChar(const void *p8)
{
    void *ptr = nullptr;
    static_assert(sizeof ptr <= 8, "a pointer fits 8 bytes");
    std::memcpy(&ptr, p8, sizeof ptr);
    return ptr;
}

void mstPtrToChar(const void *ptr, void *p8)
{
    std::memset(p8, 0, 8);
    std::memcpy(p8, &ptr, sizeof ptr);
}

void mstintv(int32_t v, void *p, int n) { mstllv(v, p, n); }

int32_t mldintv(const void *p, int n)
{
    if (n < 1)
        return 0;
    const int k = n < 4 ? n : 4;
    return static_cast<int32_t>(signExtend(loadBe(bytes(p) + n - k, k), 8 * k));
}

uint32_t mlduintv(const void *p, int n)
{
    if (n < 1)
        return 0;
    const int k = n < 4 ? n : 4;
    return static_cast<uint32_t>(loadBe(bytes(p) + n - k, k));
}

void mstllv(int64_t v, void *p, int n)
{
    if (n < 1)
        return;
    const int k = n < 8 ? n : 8;
    std::memset(p, v < 0 ? 0xFF : 0x00, n - k);
    storeBe(static_cast<uint64_t>(v), bytes(p) + n - k, k);
}

int64_t mldllv(const void *p, int n)
{
    if (n < 1)
        return 0;
    const int k = n < 8 ? n : 8;
    return signExtend(loadBe(bytes(p) + n - k, k), 8 * k);
}

uint64_t mldullv(const void *p, int n)
{
    if (n < 1)
        return 0;
    const int k = n < 8 ? n : 8;
    return loadBe(bytes(p) + n - k, k);
}

int32_t mldintuc(const char *text, int n)
{
    if (n < 1 || !text)
        return 0;
    uint32_t value = 0;  // unsigned: long texts wrap instead of overflowing
    bool negative = false;
    for (int i = 0; i < n; ++i) {
        const Byte c = static_cast<Byte>(text[i]);
        if (c < 33 || c == ',' || c == '.' || c == '+')
            continue;
        if (c == '-') {
            negative = true;
            continue;
        }
        int digit = c & 0x0F;
        bool overpunch = false;
        if (i == n - 1 && (c < '0' || c > '9')) {
            if (const char *hit = std::strchr(kPlusOverpunch, c)) {
                digit = static_cast<int>(hit - kPlusOverpunch);
                overpunch = true;
            } else if (const char *hitMinus = std::strchr(kMinusOverpunch, c)) {
                digit = static_cast<int>(hitMinus - kMinusOverpunch);
                negative = true;
                overpunch = true;
            }
        }
        if (!overpunch && (c & 0x40) && digit <= 9)
            negative = true;  // ASCII overpunch: 'p'..'y'
        value = value * 10u + static_cast<uint32_t>(digit > 9 ? 0 : digit);
    }
    if (negative)
        value = 0u - value;
    return static_cast<int32_t>(value);
}

char *mstintuc(int32_t v, char *text, int n)
{
    if (n < 1 || !text)
        return text;
    uint32_t m = magnitude(v);
    for (int i = n - 1; i >= 0; --i, m /= 10)
        text[i] = static_cast<char>('0' + m % 10);
    if (v < 0) {
        const Byte last = static_cast<Byte>(text[n - 1]) | 0x40;
        text[n - 1] = s_ebcdicSign ? kMinusOverpunch[last & 0x0F] : static_cast<char>(last);
    }
    return text;
}

int msetEbcdic(int flag)
{
    const int previous = s_ebcdicSign;
    s_ebcdicSign = flag;
    return previous;
}

namespace {

// Writes the digits of m into the 2n - 1 digit nibbles and sign into the
// last nibble.
void storePacked(uint32_t m, void *p, int n, Byte sign)
{
    if (n < 1)
        return;
    Byte *out = bytes(p);
    out[n - 1] = static_cast<Byte>(((m % 10) << 4) | sign);
    m /= 10;
    for (int i = n - 2; i >= 0; --i) {
        const Byte low = static_cast<Byte>(m % 10);
        m /= 10;
        const Byte high = static_cast<Byte>(m % 10);
        m /= 10;
        out[i] = static_cast<Byte>((high << 4) | low);
    }
}

bool packedNegative(Byte signNibble) { return signNibble == 0x0D || signNibble == 0x0B; }

} // namespace

void mstintpk(int32_t v, void *p, int n) { storePacked(magnitude(v), p, n, v < 0 ? 0x0D : 0x0C); }
void mstuintpk(uint32_t v, void *p, int n) { storePacked(v, p, n, 0x0F); }

int32_t mldintpk(const void *p, int n)
{
    if (n < 1)
        return 0;
    const Byte *in = bytes(p);
    uint32_t value = 0;
    for (int i = 0; i < n; ++i) {
        value = value * 10u + (in[i] >> 4);
        if (i < n - 1)
            value = value * 10u + (in[i] & 0x0F);
    }
    if (packedNegative(in[n - 1] & 0x0F))
        value = 0u - value;
    return static_cast<int32_t>(value);
}

char *mldstrpk(const void *p, int n, char *text)
{
    if (!text)
        return text;
    if (n < 1) {
        text[0] = '\0';
        return text;
    }
    const Byte *in = bytes(p);
    const Byte sign = in[n - 1] & 0x0F;
    char *out = text;
    *out++ = packedNegative(sign) ? '-' : sign == 0x0F ? ' ' : '+';
    static const char kNibble[] = "0123456789ABCDEF";
    for (int i = 0; i < n; ++i) {
        *out++ = kNibble[in[i] >> 4];
        if (i < n - 1)
            *out++ = kNibble[in[i] & 0x0F];
    }
    *out = '\0';
    return text;
}

void mststrpk(const char *text, void *p, int n)
{
    if (n < 1)
        return;
    Byte *out = bytes(p);
    std::memset(out, 0, n);
    bool negative = false;
    int len = text ? static_cast<int>(std::strlen(text)) : 0;
    for (int i = 0; i < len; ++i)
        if (text[i] == '-')
            negative = true;
    // Digits fill the nibbles from the right, before the sign nibble.
    int nibble = 2 * n - 2;
    for (int i = len - 1; i >= 0 && nibble >= 0; --i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            continue;
        const Byte d = static_cast<Byte>(c - '0');
        out[nibble / 2] |= (nibble % 2 == 0) ? static_cast<Byte>(d << 4) : d;
        --nibble;
    }
    out[n - 1] = static_cast<Byte>((out[n - 1] & 0xF0) | (negative ? 0x0D : 0x0C));
}
