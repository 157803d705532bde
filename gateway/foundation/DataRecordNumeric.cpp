// CNumericItem and CEditedItem: unsigned zoned digits with sign
// overpunch, and edit masks.
#include <cctype>
#include <string>

#include "DataRecord.h"
#include "ZelBuffer.h"
#include "logprint.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Characters that stand for a digit with a sign: '{' '}', "A".."R",
// 0x40..0x49 and 'p'..'y'.
bool IsOverpunch(char c) {
    return c == '{' || c == '}' || (c >= 'A' && c <= 'R') || (c >= 0x40 && c <= 0x49) ||
           (c >= 'p' && c <= 'y');
}

// The overpunches of a negative value as the edited items write and read
// them: 0x40 + digit, 0x70 + digit, '}' and "J".."R".
bool IsNegativeDigit(char c) {
    return (c >= 0x40 && c <= 0x49) || (c >= 0x70 && c <= 0x79) || c == '}' ||
           (c >= 'J' && c <= 'R');
}

bool IsOverpunchedZero(char c) { return c == '{' || c == '}' || c == 0x40 || c == 0x70; }

// Replaces the last blank of text by c, or puts c in front when none.
void PutAtLastBlank(std::string &text, char c) {
    const size_t pos = text.rfind(' ');
    if (pos == std::string::npos)
        text.insert(text.begin(), c);
    else
        text[pos] = c;
}

}  // namespace

char CNumericItem::ConvertToCobolPositive(char c) {
    if (c == '{' || c == '}') return '0';
    if (c >= 'A' && c <= 'I') return static_cast<char>('1' + (c - 'A'));
    if (c >= 'J' && c <= 'R') return static_cast<char>('1' + (c - 'J'));
    const int low = c & 0x0F;
    return low <= 9 ? static_cast<char>('0' + low) : '0';
}

void CNumericItem::SetValue(CBuffer &buffer, const std::string &value) const {
    // Each digit shifts in from the right; the last `length` digits stay.
    std::string digits(m_nLength, '0');
    if (m_nLength) {
        for (char c : value) {
            if (!IsDigit(c)) continue;
            digits.erase(0, 1);
            digits += c;
        }
    }
    WriteRaw(buffer, digits);
}

void CNumericItem::GetData(std::string &out, const CBuffer &buffer) const {
    std::string text;
    ReadText(text, buffer);
    if (!text.empty() && IsOverpunch(text.back())) text.back() = ConvertToCobolPositive(text.back());
    for (char &c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';

    // The number as strtoul reads it (blanks, a sign, digits), without a
    // 32-bit limit; it is written back zero-padded, the sign dropped.
    size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    size_t end = i;
    while (end < text.size() && IsDigit(text[end])) ++end;
    while (i < end && text[i] == '0') ++i;
    out.assign(text, i, end - i);
    if (out.size() < m_nLength) out.insert(0, m_nLength - out.size(), '0');
}

void CEditedItem::SetValue(CBuffer &buffer, const std::string &value) const {
    unsigned intPositions = 0, decPositions = 0;
    bool afterPoint = false;
    for (char m : m_strMask) {
        if (m == '.')
            afterPoint = true;
        else if (m == '9' || m == 'Z' || m == '2')
            ++(afterPoint ? decPositions : intPositions);
    }

    const char point = DecimalPoint();
    std::string intDigits, decDigits;
    bool negative = false, inDecimals = false;
    for (char c : value) {
        if (c == '-')
            negative = true;
        else if (c == point)
            inDecimals = true;
        else if (IsDigit(c))
            (inDecimals ? decDigits : intDigits) += c;
    }

    // Integer digits right-aligned (the last ones kept), decimals from the
    // left.
    if (intDigits.size() > intPositions) intDigits.erase(0, intDigits.size() - intPositions);
    std::string stored(intPositions - intDigits.size(), '0');
    stored += intDigits;
    decDigits.resize(decPositions, '0');
    stored += decDigits;
    if (negative && m_bSign && !stored.empty())
        stored.back() = static_cast<char>(0x40 + (stored.back() - '0'));
    stored.resize(m_nLength, '0');
    WriteRaw(buffer, stored);
}

void CEditedItem::GetData(std::string &out, const CBuffer &buffer) const {
    std::string digits;
    ReadText(digits, buffer);

    bool zero = !digits.empty();
    for (size_t k = 0; k + 1 < digits.size(); ++k)
        if (digits[k] != '0') zero = false;
    if (zero && digits.back() != '0' && !IsOverpunchedZero(digits.back())) zero = false;

    const char point = DecimalPoint();
    const char separator = ThousandsSeparator();
    char fill = ' ';            // '0' once a significant digit is placed
    out.clear();
    size_t d = 0;
    for (size_t m = 0; m < m_strMask.size() && d < digits.size(); ++m) {
        const char c = digits[d];
        const bool isDigit = IsDigit(c) || IsOverpunch(c);
        switch (m_strMask[m]) {
        case '2':
            // A '2' position is read as a '9'.
            LOG_ASSERT(m_strMask[m] != '2');
            [[fallthrough]];
        case '9':
            if (isDigit) {
                out += ConvertToCobolPositive(c);
                fill = '0';
            } else {
                out += fill;
            }
            ++d;
            break;
        case 'Z': {
            const char digit = isDigit ? ConvertToCobolPositive(c) : '0';
            if (digit == '0') {
                out += fill;
            } else {
                out += digit;
                fill = '0';
            }
            ++d;
            break;
        }
        case ',':
            if (separator) out += fill == ' ' ? ' ' : separator;
            break;
        case '.':
            if (isDigit && zero && m + 1 < m_strMask.size() && m_strMask[m + 1] == 'Z') {
                out += fill;
            } else {
                if (isDigit) fill = '0';
                out += point;
            }
            break;
        case ' ':
            out += ' ';
            break;
        default:    // '/', ':'
            out += fill == '0' ? m_strMask[m] : ' ';
            break;
        }
    }

    if (!digits.empty() && m_bSign && IsNegativeDigit(digits.back())) PutAtLastBlank(out, '-');
    if (m_bCurrency) PutAtLastBlank(out, CurrencyChar());
    const size_t blank = out.rfind(' ');
    if (blank != std::string::npos) out.erase(0, blank + 1);
}
