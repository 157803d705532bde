// Several input values at once, each into a destination of known size.
#include "xfcgiinput.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

int xFcgiGetValues(char* errorText, size_t errorSize, int n, std::initializer_list<XFcgiValue> values) {
    std::string errors;
    for (const XFcgiValue& v : values) {
        if (!v.name || !v.dest) break;
        const char kind = static_cast<char>(std::toupper(static_cast<unsigned char>(v.name[0])));
        if (kind == 'H' || kind == 'I') {
            if (v.size < sizeof(int32_t)) {
                errors += std::string(v.name) + ": too small; ";
                continue;
            }
            const int32_t value = kind == 'H' ? static_cast<int32_t>(xFcgiGetHex(v.name, n)) : xFcgiGetInt(v.name, n);
            std::memcpy(v.dest, &value, sizeof value);
        } else if (kind == 'D') {
            if (v.size < sizeof(double)) {
                errors += std::string(v.name) + ": too small; ";
                continue;
            }
            const double value = xFcgiGetDbl(v.name, n);
            std::memcpy(v.dest, &value, sizeof value);
        } else {
            if (v.size == 0) {
                errors += std::string(v.name) + ": too small; ";
                continue;
            }
            const char* text = xFcgiGetStr(v.name, n);
            const size_t len = std::min(std::strlen(text), v.size - 1);
            std::memcpy(v.dest, text, len);
            static_cast<char*>(v.dest)[len] = '\0';
        }
    }
    if (errorText && errorSize > 0) {
        const size_t len = std::min(errors.size(), errorSize - 1);
        std::memcpy(errorText, errors.data(), len);
        errorText[len] = '\0';
    }
    return 1;
}
