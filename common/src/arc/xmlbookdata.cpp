// Field values of the COBOL record mapping: binary, zoned and packed
// decimals and text, to and from their document text. Numbers travel as
// digit strings, so no field is limited by a machine integer except the
// 8-byte binary ones.
#include "xmlbookdata.h"

#include <cctype>
#include <cstdint>
#include <cstring>

#include "machine.h"

namespace {

bool isText(char type) { return type == 'X' || type == 'E' || type == 'N'; }

// Digits with a '.' before the last npl of them, leading zeros removed (one
// kept before the point) and '-' for a negative non-zero value.
std::string formatNumber(const std::string& digits, bool negative, unsigned npl) {
    const size_t cut = digits.size() > npl ? digits.size() - npl : 0;
    std::string whole = digits.substr(0, cut);
    std::string frac = digits.substr(cut);
    while (frac.size() < npl) frac.insert(frac.begin(), '0');
    const size_t nz = whole.find_first_not_of('0');
    whole = nz == std::string::npos ? "0" : whole.substr(nz);
    const bool zero = digits.find_first_not_of('0') == std::string::npos;
    std::string out = negative && !zero ? "-" : "";
    out += whole;
    if (npl) out += "." + frac;
    return out;
}

// A digit of a zoned byte: '0'-'9', the sign overpunches ('{' 'A'-'I'
// positive, '}' 'J'-'R' and 'p'-'y' negative), a blank as 0.
int zonedDigit(unsigned char b, bool& negative) {
    if (b >= '0' && b <= '9') return b - '0';
    if (b == '{') return 0;
    if (b >= 'A' && b <= 'I') return b - 'A' + 1;
    if (b == '}') return negative = true, 0;
    if (b >= 'J' && b <= 'R') return negative = true, b - 'J' + 1;
    if (b >= 'p' && b <= 'y') return negative = true, b - 'p';
    const int low = b & 0x0F;
    return low <= 9 && b != ' ' ? low : 0;
}

std::string unsignedDigits(uint64_t v) {
    std::string s;
    do {
        s.insert(s.begin(), static_cast<char>('0' + v % 10));
        v /= 10;
    } while (v);
    return s;
}

// A number in text: blanks, an optional sign, digits with at most one
// '.', blanks (a trailing '-' also makes it negative). digits receives
// the value scaled by npl, without leading zeros.
bool parseNumber(std::string_view text, unsigned npl, bool& negative, std::string& digits,
                 bool& lost) {
    size_t i = 0, n = text.size();
    while (i < n && text[i] == ' ') ++i;
    while (n > i && text[n - 1] == ' ') --n;
    negative = false;
    lost = false;
    if (i < n && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    else if (n > i && text[n - 1] == '-') negative = true, --n;
    std::string whole, frac;
    bool point = false;
    for (; i < n; ++i) {
        const char c = text[i];
        if (c == '.' && !point) {
            point = true;
        } else if (c >= '0' && c <= '9') {
            (point ? frac : whole) += c;
        } else {
            return false;
        }
    }
    if (frac.size() > npl) {
        lost = frac.find_first_not_of('0', npl) != std::string::npos;
        frac.resize(npl);
    }
    while (frac.size() < npl) frac += '0';
    digits = whole + frac;
    const size_t nz = digits.find_first_not_of('0');
    digits = nz == std::string::npos ? "" : digits.substr(nz);
    if (digits.empty()) negative = false;
    return true;
}

void putZoned(const XmlBookFld& d, const std::string& digits, bool negative, unsigned char* p) {
    const bool separate = d.signLdg || d.signTrl;
    const size_t n = d.size - (separate ? 1 : 0);
    unsigned char* at = p + (d.signLdg ? 1 : 0);
    const size_t lead = n - digits.size();
    std::memset(at, '0', lead);
    std::memcpy(at + lead, digits.data(), digits.size());
    if (d.signLdg) p[0] = negative ? '-' : '+';
    if (d.signTrl) p[d.size - 1] = negative ? '-' : '+';
    if (!separate && negative) at[n - 1] = static_cast<unsigned char>(at[n - 1] | 0x40);
}

void putPacked(const XmlBookFld& d, const std::string& digits, bool negative, unsigned char* p) {
    const size_t n = 2u * d.size - 1;
    const std::string all = std::string(n - digits.size(), '0') + digits;
    for (size_t b = 0; b < d.size; ++b) {
        const int hi = all[2 * b] - '0';
        const int lo = 2 * b + 1 < n ? all[2 * b + 1] - '0' : (!d.sign ? 0xF : negative ? 0xD : 0xC);
        p[b] = static_cast<unsigned char>(hi << 4 | lo);
    }
}

XmlBookPut putBinary(const XmlBookFld& d, const std::string& digits, bool negative,
                     unsigned char* p) {
    uint64_t v = 0;
    for (char c : digits) {
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (v > (UINT64_MAX - digit) / 10) return XmlBookPut::Bad;
        v = v * 10 + digit;
    }
    const unsigned bits = 8u * d.size;
    if (!d.sign) {
        if (negative || (bits < 64 && v >> bits)) return XmlBookPut::Bad;
        mstllv(static_cast<int64_t>(v), p, d.size);
        return XmlBookPut::Ok;
    }
    const uint64_t limit = uint64_t{1} << (bits - 1);  // |most negative|
    if (negative ? v > limit : v >= limit) return XmlBookPut::Bad;
    const int64_t value = negative ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
    mstllv(value, p, d.size);
    return XmlBookPut::Ok;
}

}  // namespace

bool xmlBookGetText(const XmlBookFld& d, const unsigned char* p, std::string& out) {
    out.clear();
    if (d.type != 'G' && d.size > 0) {
        size_t ff = 0;
        while (ff < d.size && p[ff] == 0xFF) ++ff;
        if (ff == d.size) {
            out = kXmlHighValues;
            return true;
        }
    }
    switch (d.type) {
    case 'B': {
        bool negative = false;
        uint64_t magnitude;
        if (d.sign) {
            const int64_t v = mldllv(p, d.size);
            negative = v < 0;
            magnitude = negative ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
        } else {
            magnitude = mldullv(p, d.size);
        }
        out = formatNumber(unsignedDigits(magnitude), negative, d.npl);
        return true;
    }
    case 'D': {
        const bool separate = d.signLdg || d.signTrl;
        const size_t n = d.size - (separate ? 1 : 0);
        const unsigned char* at = p + (d.signLdg ? 1 : 0);
        bool negative = false;
        std::string digits;
        for (size_t i = 0; i < n; ++i) {
            bool neg = false;
            const int digit = zonedDigit(at[i], neg);
            if (i + 1 == n && !separate) negative = neg;
            digits += static_cast<char>('0' + digit);
        }
        if (d.signLdg) negative = p[0] == '-';
        if (d.signTrl) negative = p[d.size - 1] == '-';
        out = formatNumber(digits, negative, d.npl);
        return true;
    }
    case 'P': {
        std::string digits;
        for (size_t b = 0; b < d.size; ++b) {
            const int hi = p[b] >> 4, lo = p[b] & 0x0F;
            digits += static_cast<char>('0' + (hi <= 9 ? hi : 0));
            if (b + 1 < d.size) digits += static_cast<char>('0' + (lo <= 9 ? lo : 0));
        }
        out = formatNumber(digits, (p[d.size - 1] & 0x0F) == 0x0D, d.npl);
        return true;
    }
    default:
        break;
    }
    if (!isText(d.type)) return false;
    size_t from = 0, to = d.size;
    while (to > from && (p[to - 1] == ' ' || p[to - 1] == '\0')) --to;
    if (d.type != 'X')
        while (from < to && p[from] == ' ') ++from;
    for (size_t i = from; i < to; ++i)
        if (p[i] >= 0x20 && p[i] != 0x7F) out += static_cast<char>(p[i]);
    return true;
}

XmlBookPut xmlBookPutText(const XmlBookFld& d, std::string_view text, unsigned char* p) {
    const bool known = isText(d.type) || d.type == 'B' || d.type == 'D' || d.type == 'P';
    if (!known) return XmlBookPut::Unknown;
    if (text == kXmlHighValues) {
        std::memset(p, 0xFF, d.size);
        return XmlBookPut::Ok;
    }
    if (isText(d.type)) {
        // X is left-justified. E and N hold numbers as the record shows
        // them, right-justified; their text was written without the
        // leading blanks, which go back on the left (a text too long keeps
        // its right end, as a right-justified move does).
        const size_t n = text.size() < d.size ? text.size() : d.size;
        const bool right = d.type != 'X';
        const std::string_view kept = right ? text.substr(text.size() - n) : text.substr(0, n);
        unsigned char* to = right ? p + (d.size - n) : p;
        std::memset(right ? p : p + n, ' ', d.size - n);
        for (size_t i = 0; i < n; ++i)
            to[i] = static_cast<unsigned char>(
                d.toUpper ? std::toupper(static_cast<unsigned char>(kept[i])) : kept[i]);
        return n < text.size() ? XmlBookPut::Cut : XmlBookPut::Ok;
    }
    bool negative, lost;
    std::string digits;
    if (!parseNumber(text, d.npl, negative, digits, lost)) return XmlBookPut::Bad;
    if (negative && !d.sign) return XmlBookPut::Bad;
    if (d.type == 'B') {
        const XmlBookPut r = putBinary(d, digits, negative, p);
        return r == XmlBookPut::Ok && lost ? XmlBookPut::Lost : r;
    }
    const size_t capacity = d.type == 'D' ? d.size - ((d.signLdg || d.signTrl) ? 1u : 0u)
                                          : 2u * d.size - 1;
    if (digits.size() > capacity) return XmlBookPut::Bad;
    if (d.type == 'D')
        putZoned(d, digits, negative, p);
    else
        putPacked(d, digits, negative, p);
    return lost ? XmlBookPut::Lost : XmlBookPut::Ok;
}
