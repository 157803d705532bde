// Numeric edit: every format is first turned into a string of decimal
// digits and a sign, so fields of any width convert without an integer
// type limiting them (binary fields go through 64 bits).
#include "numedit.h"

#include "machine.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

using Byte = unsigned char;

struct Number {
    std::string digits;  // most significant first, the last `decimals` are the fraction
    bool negative = false;
};

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Writes the edited text of num (its digits carry `decimals` fraction
// digits). Returns the length.
int edit(const Number &num, int decimals, char *text)
{
    std::string d = num.digits;
    if (static_cast<int>(d.size()) < decimals + 1)
        d.insert(0, decimals + 1 - d.size(), '0');
    const size_t intLen = d.size() - decimals;
    size_t first = 0;
    while (first + 1 < intLen && d[first] == '0')
        ++first;
    const bool zero = d.find_first_not_of('0') == std::string::npos;
    std::string out;
    if (num.negative && !zero)
        out += '-';
    out.append(d, first, intLen - first);
    if (decimals > 0) {
        out += '.';
        out.append(d, intLen, decimals);
    }
    std::memcpy(text, out.c_str(), out.size() + 1);
    return static_cast<int>(out.size());
}

int fail(char *text)
{
    if (text)
        text[0] = '\0';
    return -1;
}

// Reads edited text into exactly `width` digits of which `decimals` are the
// fraction. False when the text is no number or does not fit.
bool parse(const char *text, int width, int decimals, Number &num)
{
    if (!text || decimals < 0 || width < 1)
        return false;
    const char *p = text;
    while (*p == ' ')
        ++p;
    int sign = 0;  // 0 none, 1 '+', -1 '-'
    if (*p == '+' || *p == '-')
        sign = *p++ == '-' ? -1 : 1;
    std::string intPart, fraction;
    bool point = false;
    for (; isDigit(*p) || (*p == '.' && !point); ++p) {
        if (*p == '.')
            point = true;
        else
            (point ? fraction : intPart) += *p;
    }
    if (intPart.empty() && fraction.empty())
        return false;
    if (sign == 0 && (*p == '+' || *p == '-'))
        sign = *p++ == '-' ? -1 : 1;
    while (*p == ' ')
        ++p;
    if (*p != '\0')
        return false;
    // Surplus fraction digits may only be zeros.
    if (static_cast<int>(fraction.size()) > decimals) {
        if (fraction.find_first_not_of('0', decimals) != std::string::npos)
            return false;
        fraction.resize(decimals);
    }
    fraction.append(decimals - fraction.size(), '0');
    // The value's significant digits must fit the field, whose width may
    // be less than its decimals (".05" in one digit with two decimals).
    std::string all = intPart + fraction;
    all.erase(0, std::min(all.find_first_not_of('0'), all.size()));
    if (static_cast<int>(all.size()) > width)
        return false;
    num.digits.assign(width - all.size(), '0');
    num.digits += all;
    num.negative = sign < 0 && num.digits.find_first_not_of('0') != std::string::npos;
    return true;
}

bool packedNegative(Byte sign) { return sign == 0x0B || sign == 0x0D; }

const char kPlusOverpunch[] = "{ABCDEFGHI";
const char kMinusOverpunch[] = "}JKLMNOPQR";

// The digit and sign of a zoned field's last character; false when it is
// none of the forms mldintuc reads.
bool lastZoned(char c, char &digit, bool &negative)
{
    if (isDigit(c)) {
        digit = c;
        return true;
    }
    if (c == '\0')
        return false;
    if (const char *hit = std::strchr(kPlusOverpunch, c)) {
        digit = static_cast<char>('0' + (hit - kPlusOverpunch));
        return true;
    }
    if (const char *hit = std::strchr(kMinusOverpunch, c)) {
        digit = static_cast<char>('0' + (hit - kMinusOverpunch));
        negative = true;
        return true;
    }
    const Byte b = static_cast<Byte>(c);
    if (b >= 'p' && b <= 'y') {  // ASCII overpunch: '0'..'9' with bit 0x40
        digit = static_cast<char>('0' + (b & 0x0F));
        negative = true;
        return true;
    }
    return false;
}

} // namespace

int mnpstr(const void *p, int n, int decimals, char *text)
{
    if (!p || !text || n < 1 || decimals < 0)
        return fail(text);
    const Byte *in = static_cast<const Byte *>(p);
    Number num;
    for (int i = 0; i < n; ++i) {
        const Byte high = in[i] >> 4, low = in[i] & 0x0F;
        if (high > 9 || (i < n - 1 && low > 9))
            return fail(text);
        num.digits += static_cast<char>('0' + high);
        if (i < n - 1)
            num.digits += static_cast<char>('0' + low);
    }
    const Byte sign = in[n - 1] & 0x0F;
    if (sign < 0x0A)
        return fail(text);
    num.negative = packedNegative(sign);
    return edit(num, decimals, text);
}

int mstrnp(const char *text, void *p, int n, int decimals)
{
    Number num;
    if (!p || n < 1 || !parse(text, 2 * n - 1, decimals, num))
        return -1;
    Byte *out = static_cast<Byte *>(p);
    for (int i = 0; i < n; ++i) {
        const Byte high = static_cast<Byte>(num.digits[2 * i] - '0');
        const Byte low = i < n - 1 ? static_cast<Byte>(num.digits[2 * i + 1] - '0')
                                   : (num.negative ? 0x0D : 0x0C);
        out[i] = static_cast<Byte>(high << 4 | low);
    }
    return 0;
}

int mnupstr(const char *zoned, int n, int decimals, char *text)
{
    if (!zoned || !text || n < 1 || decimals < 0)
        return fail(text);
    Number num;
    bool started = false;
    for (int i = 0; i < n - 1; ++i) {
        const char c = zoned[i];
        if (c == ' ' && !started) {
            num.digits += '0';
            continue;
        }
        if (!isDigit(c))
            return fail(text);
        started = true;
        num.digits += c;
    }
    char last = 0;
    if (!lastZoned(zoned[n - 1], last, num.negative))
        return fail(text);
    num.digits += last;
    return edit(num, decimals, text);
}

int mstrnup(const char *text, char *zoned, int n, int decimals)
{
    Number num;
    if (!zoned || n < 1 || !parse(text, n, decimals, num))
        return -1;
    std::memcpy(zoned, num.digits.data(), n);
    if (num.negative) {
        // mstintuc marks the sign in the mode currently set; -(10 + d) has
        // the last digit d and is negative even for d = 0.
        const int last = zoned[n - 1] - '0';
        mstintuc(-(10 + last), zoned + n - 1, 1);
    }
    return 0;
}

int mcompstr(const void *p, int n, int decimals, char *text)
{
    if (!p || !text || n < 1 || n > 8 || decimals < 0)
        return fail(text);
    const int64_t v = mldllv(p, n);
    // The magnitude as unsigned, so the most negative value has one too.
    const uint64_t m = v < 0 ? 0u - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    Number num;
    num.digits = std::to_string(m);
    num.negative = v < 0;
    return edit(num, decimals, text);
}

int mstrcomp(const char *text, void *p, int n, int decimals)
{
    Number num;
    if (!p || n < 1 || n > 8 || !parse(text, 20, decimals, num))
        return -1;
    const size_t lead = num.digits.find_first_not_of('0');
    const std::string digits = lead == std::string::npos ? "0" : num.digits.substr(lead);
    // The limit of n bytes, as a magnitude: 2^(8n-1) - 1, one more when negative.
    const uint64_t limit = (uint64_t{1} << (8 * n - 1)) - 1 + (num.negative ? 1 : 0);
    if (digits.size() > 20)
        return -1;
    uint64_t m = 0;
    for (char c : digits) {
        const uint64_t d = static_cast<uint64_t>(c - '0');
        if (m > (UINT64_MAX - d) / 10)
            return -1;
        m = m * 10 + d;
    }
    if (m > limit)
        return -1;
    mstllv(static_cast<int64_t>(num.negative ? 0u - m : m), p, n);
    return 0;
}
