// PICTURE string parsing.
#include "DataRecordPicture.h"

#include <cctype>
#include <cstring>

#include "DataRecord.h"

namespace {

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

bool IsTextType(char c) { return c == 'X' || c == 'U' || c == 'A'; }
bool IsDigitPosition(char c) { return c == '9' || c == 'Z' || c == '2'; }

}  // namespace

bool ParseDataPicture(const char *picture, DataPicture &out) {
    if (!picture) return false;
    const char *p = picture;

    bool sign = false, currency = false;
    for (;; ++p) {
        const char c = Upper(*p);
        if (c == '$')
            currency = true;
        else if (c == 'S')
            sign = true;
        else
            break;
    }

    const char type = Upper(*p);
    if (IsTextType(type)) {
        if (sign || currency) return false;   // "$X", "SA": no sign on text
    } else if (!IsDigitPosition(type)) {
        return false;
    }

    const bool text = IsTextType(type);
    bool edited = sign || currency;
    unsigned long long length = 0;
    std::string mask;
    char last = 0;              // the character a "(n)" repeats
    for (; *p; ++p) {
        char c = Upper(*p);
        if (c == '(') {
            // "(n)" follows a picture character directly, n >= 1.
            if (!last) return false;
            unsigned long long n = 0;
            ++p;
            if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
            for (; std::isdigit(static_cast<unsigned char>(*p)); ++p) {
                n = n * 10 + static_cast<unsigned>(*p - '0');
                if (n > CDataItem::kMaxExtent) return false;
            }
            if (*p != ')' || n == 0) return false;
            const bool counts = !edited || IsDigitPosition(last);
            if (counts) length += n - 1;
            mask.append(n - 1, last);
            last = 0;           // "(2)(3)" is not a picture
        } else {
            if (text) {
                if (c != type) return false;
            } else if (c != type) {
                edited = true;
                if (!IsDigitPosition(c) && !std::strchr(",./:", c)) return false;
            }
            if (!edited || IsDigitPosition(c)) ++length;
            mask += c;
            last = c;
        }
        if (length > CDataItem::kMaxExtent || mask.size() > CDataItem::kMaxExtent) return false;
    }

    out.type = text ? type : edited ? int{CDataItem::TypeEdited} : int{CDataItem::TypeNumeric};
    out.length = static_cast<unsigned>(length);
    out.sign = sign;
    out.currency = currency;
    out.mask = std::move(mask);
    return true;
}
