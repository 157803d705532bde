// COBOL-style edit masks for numeric screen fields (see xfcgihtml.h).
#include "xfcgihtml.h"

#include <cstring>

namespace {

constexpr size_t kMaxEdited = 47;

// The digit of the sign-carrying last character and whether it is
// negative; false when the character carries no sign. digit is 0 when the
// sign character stands for no digit (its low four bits above 9).
bool signDigit(char c, bool dataDescription, char& digit, bool& negative) {
    negative = false;
    if (dataDescription) {
        if (c >= 'J' && c <= 'R') {
            digit = static_cast<char>('1' + (c - 'J'));
            negative = true;
        } else if (c == '}' || c == '!') {
            digit = '0';
            negative = true;
        } else if (c >= 'A' && c <= 'I') {
            digit = static_cast<char>('1' + (c - 'A'));
        } else if (c == '{' || c == '?') {
            digit = '0';
        } else {
            return false;
        }
        return true;
    }
    if (static_cast<unsigned char>(c) & 0x40) {
        negative = true;
        int d = static_cast<unsigned char>(c) & 0x0F;
        digit = d > 9 ? '\0' : static_cast<char>('0' + d);
        return true;
    }
    return false;
}

}  // namespace

bool xFcgiIsNumericPicture(const char* picture) {
    return picture && picture[0] && std::strchr("9Z2S$(-", picture[0]) != nullptr;
}

std::string xFcgiEditNumeric(std::string_view value, std::string_view mask, size_t fieldLength,
                             bool dataDescription) {
    bool negative = false;
    std::string digits;
    digits.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        char d;
        bool neg;
        if (i + 1 == value.size() && signDigit(c, dataDescription, d, neg)) {
            negative = neg;
            if (d) digits += d;
        } else if (c >= '0' && c <= '9') {
            digits += c;
        }
    }
    // Padded to the field's length; a longer run keeps its low digits.
    if (fieldLength > 0 && digits.size() > fieldLength)
        digits.erase(0, digits.size() - fieldLength);
    if (digits.size() < fieldLength) digits.insert(0, fieldLength - digits.size(), '0');

    std::string out;
    size_t signAt = std::string::npos;
    bool signTakesNoPlace = false;   // 'S': a sign only when negative
    bool onlyZeros = true;
    size_t d = 0;
    for (size_t m = 0; m < mask.size() && d < digits.size() && out.size() < kMaxEdited; ++m) {
        switch (mask[m]) {
        case 'Z':
            if (digits[d] == '0' && onlyZeros) {
                out += ' ';
            } else {
                out += digits[d];
                onlyZeros = false;
            }
            ++d;
            break;
        case '9':
        case '2':   // a digit of a blank-when-blank mask
            out += digits[d];
            if (digits[d] != '0') onlyZeros = false;
            ++d;
            break;
        case '-':
            signAt = out.size();
            out += ' ';
            break;
        case 'S':
            if (m == 0) {
                signAt = 0;
                signTakesNoPlace = true;
            }
            break;
        case '.':
        case '/':
        case ':':
            out += mask[m];
            onlyZeros = false;
            break;
        case ',':
            out += onlyZeros ? ' ' : ',';
            break;
        default:
            break;
        }
    }
    if (negative && signTakesNoPlace) {
        // In the last blank before the digits, or in front of them.
        size_t k = 0;
        while (k < out.size() && out[k] == ' ') ++k;
        if (k > 0)
            out[k - 1] = '-';
        else
            out.insert(0, 1, '-');
    } else if (negative && signAt != std::string::npos) {
        size_t k = signAt;
        while (k + 1 < out.size() && out[k + 1] == ' ') ++k;
        out[k] = '-';
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

std::string xFcgiShownText(std::string_view value, const TemplateField& f, bool hostStyle) {
    if (const size_t nul = value.find('\0'); nul != std::string_view::npos) value = value.substr(0, nul);
    while (!value.empty() && value.back() == ' ') value.remove_suffix(1);
    if (value.empty()) return std::string();
    if (xFcgiIsNumericPicture(f.picture.c_str()))
        return xFcgiEditNumeric(value, f.picture, f.length, hostStyle);
    if (hostStyle)
        while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    return std::string(value);
}
