// Submitted form -> host screen record, through a template's field table.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

#include "logprint.h"
#include "xfcgihtml.h"
#include "xfcgiinput.h"
#include "xfcgiout.h"

namespace {

bool isNumericKind(uint32_t kind) { return kind >= 3 && kind <= 7; }
bool isTextKind(uint32_t kind) { return kind == 1 || kind == 2 || (kind >= 10 && kind <= 14); }

const char* shownPath(const tcpHTML* tmpl) {
    const char* rel = xFcgiRelDir(tmpl->path.c_str());
    return rel ? rel : "";
}

// The field's bytes as the form gives them (length bytes, blank-filled).
std::string fieldBytes(const TemplateField& f, const std::string& value, bool ebcdicSign,
                       const tcpHTML* tmpl) {
    std::string area(f.length, ' ');
    const char* pic = f.picture.c_str();
    bool numericPicture = xFcgiIsNumericPicture(pic);
    if (isNumericKind(f.kind) || (isTextKind(f.kind) && numericPicture)) {
        editNumeric(&area[0], static_cast<int>(f.length), f.decimals, value.data(), value.size(),
                    pic, ebcdicSign);
    } else if (isTextKind(f.kind)) {
        size_t n = std::min(std::strlen(value.c_str()), area.size());
        std::memcpy(&area[0], value.data(), n);
        if ((f.flags & TemplateField::kUpperCase) || pic[0] == 'U')
            for (size_t i = 0; i < n; ++i)
                if (area[i] >= 'a' && area[i] <= 'z') area[i] = static_cast<char>(area[i] - 32);
    } else {
        logPrintf("#ERROR xFcgiGetMcsData type %u unknown %s for %s\n",
                  static_cast<unsigned>(f.kind), f.name.c_str(), shownPath(tmpl));
    }
    return area;
}

}  // namespace

void editNumeric(char* out, int n, int d, const char* text, size_t textLength,
                 const char* /*picture*/, bool ebcdicSign) {
    if (!out || n <= 0) return;
    if (d < 0) d = 0;
    if (d > n) d = n;
    std::string whole, fraction;
    bool negative = false, afterPoint = false;
    for (size_t i = 0; text && i < textLength; ++i) {
        char c = text[i];
        if (c == '.' && !afterPoint) {
            afterPoint = true;
        } else if (c == '-' || c == '(') {
            negative = true;
        } else if (c >= '0' && c <= '9') {
            (afterPoint ? fraction : whole) += c;
        }
    }
    const size_t intDigits = static_cast<size_t>(n - d);
    if (whole.size() > intDigits) whole.erase(0, whole.size() - intDigits);  // high digits go
    whole.insert(0, intDigits - whole.size(), '0');
    fraction.resize(static_cast<size_t>(d), '0');  // cut or zero-filled on the right
    std::string digits = whole + fraction;
    if (negative) {
        char& last = digits.back();
        if (ebcdicSign)
            last = "}JKLMNOPQR"[(last & 0x0F) % 10];
        else
            last = static_cast<char>(last | 0x70);
    }
    std::memcpy(out, digits.data(), static_cast<size_t>(n));
}

int xFcgiGetMcsData(char* mcs, size_t capacity, tcpHTML* tmpl) {
    if (!tmpl) return -1;
    const TemplateFieldTable* table = !tmpl->fromwebFields.empty() ? &tmpl->fromwebFields
                                      : !tmpl->mainFields.empty()  ? &tmpl->mainFields
                                                                   : nullptr;
    if (!table) {
        logPrintf("#ERROR xFcgiGetMcsData called for %s when no 'fromWeb'\n", shownPath(tmpl));
        return -1;
    }
    if (!mcs) {
        if (!tmpl->mcsData && tmpl->screenSize > 0) {
            tmpl->ownScreen.assign(static_cast<size_t>(tmpl->screenSize) + 8, '\0');
            tmpl->mcsData = tmpl->ownScreen.data();
            tmpl->mcsCapacity = tmpl->ownScreen.size();
            tmpl->flags |= tcpHTML::kOwnsScreen;
        }
        mcs = tmpl->mcsData;
        capacity = tmpl->mcsCapacity;
    }
    if (!mcs) {
        logPrintf("#ERROR xFcgiGetMcsData called for %s when no 'mcsdata'\n", shownPath(tmpl));
        return -1;
    }

    std::memset(mcs, 0, std::min(capacity, static_cast<size_t>(std::max(tmpl->screenSize, 0))));
    const bool ebcdicSign = (tmpl->flags & tcpHTML::kWebTables) != 0;
    const bool detail = (logCtrlFlgs & LOG_DETAIL) != 0;
    std::string missing;
    size_t largestEnd = 0;
    for (const TemplateField& f : *table) {
        size_t at = 0;
        size_t room = xFcgiFieldSpan(f, 0, capacity, &at);
        largestEnd = std::max(largestEnd, std::min(capacity, at + f.length));
        int idx = xFcgiFindDataTable(f.name.c_str(), 0);
        if (idx >= 0) {
            std::string bytes = fieldBytes(f, xFcgiInputValue(idx) ? std::string(xFcgiInputValue(idx)) : "",
                                           ebcdicSign, tmpl);
            if (room) std::memcpy(mcs + at, bytes.data(), room);
        } else {
            if (room) std::memset(mcs + at, 0, room);
            if (detail) {
                if (!missing.empty()) missing += ", ";
                missing += f.name;
                if (missing.size() > 40) {
                    logPrintf("#GetMcsData %s: not received %s\n", shownPath(tmpl), missing.c_str());
                    missing.clear();
                }
            }
        }
    }
    if (detail && !missing.empty())
        logPrintf("#GetMcsData %s: not received %s\n", shownPath(tmpl), missing.c_str());
    tmpl->usedScreenLen = static_cast<int>(largestEnd);
    return static_cast<int>(largestEnd);
}
