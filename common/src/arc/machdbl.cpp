// 64-bit integers as decimal text. The 8-byte form is the host's: the high
// 32-bit word first, each word big-endian, two's complement.
#include "machdbl.h"

#include "machine.h"

#include <cstdint>

namespace {

int digitOf(char c) { return c >= '0' && c <= '9' ? c - '0' : 0; }

} // namespace

int mStrDblInt(void *out8, const char *text, int n, int decimals)
{
    uint64_t value = 0;  // unsigned: texts beyond 64 bits wrap instead of overflowing
    bool negative = false;
    bool inFraction = false;
    int fractionDigits = 0;
    for (int i = 0; text && i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 33 || c == ',')
            continue;
        if (c == '.') {
            inFraction = true;
            continue;
        }
        if (c == '-') {
            negative = true;
            continue;
        }
        const int digit = c & 0x0F;
        if (digit > 9)
            continue;
        value = value * 10u + static_cast<unsigned>(digit);
        if (inFraction)
            ++fractionDigits;
        // A zoned overpunch on the last character ('p'..'y') marks a negative value.
        if (i == n - 1 && (c & 0x40))
            negative = true;
    }
    for (; fractionDigits < decimals; ++fractionDigits)
        value *= 10u;
    if (negative)
        value = 0u - value;
    unsigned char *out = static_cast<unsigned char *>(out8);
    mstuint(static_cast<uint32_t>(value >> 32), out);
    mstuint(static_cast<uint32_t>(value), out + 4);
    return negative ? -1 : 1;
}

int mDblIntStr(const void *in8, char *out, int width, int decimals)
{
    const unsigned char *in = static_cast<const unsigned char *>(in8);
    const int32_t high = mldint(in);
    uint64_t value = (static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32) | mlduint(in + 4);
    const bool negative = high < 0;
    if (negative)
        value = 0u - value;  // unsigned, so the most negative value has a magnitude too
    if (width < 1 || !out)
        return negative ? -1 : 1;
    out[0] = negative ? '-' : ' ';
    // Digits right-aligned in the width - 1 places after the sign; those that
    // do not fit are dropped from the left.
    for (int i = width - 1; i >= 1; --i, value /= 10)
        out[i] = static_cast<char>('0' + value % 10);
    if (decimals > 0 && width >= 3) {
        if (decimals > width - 2)
            decimals = width - 2;
        const int point = width - 1 - decimals;
        for (int i = 1; i < point; ++i)
            out[i] = out[i + 1];
        out[point] = '.';
    }
    return negative ? -1 : 1;
}

int mAddDec(char *a, const char *b, int lenA, int lenB)
{
    int carry = 0;
    int i = lenA - 1;
    for (int j = lenB - 1; i >= 0 && (j >= 0 || carry); --i, --j) {
        const int sum = digitOf(a[i]) + (j >= 0 ? digitOf(b[j]) : 0) + carry;
        a[i] = static_cast<char>('0' + sum % 10);
        carry = sum / 10;
    }
    return carry;
}
