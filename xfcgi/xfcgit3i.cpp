// .t3i field-file reader and COBOL picture expansion.
#include "xfcgit3i.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <strings.h>

#include "logprint.h"
#include "regularfile.h"
#include "xfcgihtml.h"
#include "xmlparse.h"

namespace {

constexpr int kMaxRepeat = 8192;         // largest "(n)" of a picture
constexpr size_t kMaxExpanded = 65536;   // longer pictures are refused anyway
constexpr long kMaxLocation = 65535;     // locations are 16-bit
constexpr long kMaxOccurs = 32767;
constexpr long kMaxPad = 255;
constexpr long kMaxDecimals = 255;

// Decimal value of an attribute as atoi reads it (leading blanks, sign,
// digits up to the first other character), saturated far beyond any
// limit the caller checks.
long attrNumber(const char* text) {
    if (!text) return 0;
    while (std::isspace(static_cast<unsigned char>(*text))) ++text;
    bool neg = *text == '-';
    if (*text == '-' || *text == '+') ++text;
    long v = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        v = v * 10 + (*text - '0');
        if (v > 1000000000L) v = 1000000000L;
    }
    return neg ? -v : v;
}

const char* attrValue(const xmlNode* element, const char* name) {
    for (const xmlNode* a = element->attr; a; a = a->next)
        if (a->tag && strcasecmp(a->tag, name) == 0) return a->value ? a->value : "";
    return nullptr;
}

// The field of one "field" element at the group's running location, or
// an explanation why it cannot be placed.
bool makeField(const xmlNode* element, long location, TemplateField& f, long long& end,
               std::string& why) {
    const char* name = attrValue(element, "name");
    const char* cob = attrValue(element, "cobname");
    const char* mask = attrValue(element, "mask");
    f.kind = 1;
    f.name = name ? name : "";
    f.cobName = cob ? cob : "";
    int length = 1, decimals = 0;
    if (mask) {
        std::string expanded;
        f.picture = expandMask(mask, expanded, length, decimals) ? expanded : mask;
        if (xFcgiIsSignedPicture(mask)) f.flags |= TemplateField::kSigned;
    }
    long occurs = attrNumber(attrValue(element, "occurs"));
    long pad = attrNumber(attrValue(element, "pad"));
    const long hidden = attrNumber(attrValue(element, "hidden"));
    const char* fcc = attrValue(element, "fccindex");
    const char* prot = attrValue(element, "protected");
    if (occurs < 2) occurs = 0;
    end = location + static_cast<long long>(length) * (occurs ? occurs : 1) + pad;
    char text[160];
    if (occurs > kMaxOccurs)
        std::snprintf(text, sizeof text, "occurs %ld", occurs);
    else if (pad < 0 || pad > kMaxPad)
        std::snprintf(text, sizeof text, "pad %ld", pad);
    else if (decimals > kMaxDecimals)
        std::snprintf(text, sizeof text, "decimals %d", decimals);
    else if (hidden < 0 || hidden > kMaxPad || hidden > location)
        std::snprintf(text, sizeof text, "hidden %ld at %ld", hidden, location);
    else if (hidden > 0 && !xFcgiIsNumericPicture(f.picture.c_str()))
        // Only a number fills the bytes before it: typed text would
        // overwrite the fields there.
        std::snprintf(text, sizeof text, "hidden %ld on a field that is no number", hidden);
    else if (fcc && (attrNumber(fcc) < 0 || attrNumber(fcc) > kMaxOccurs))
        std::snprintf(text, sizeof text, "fccindex %ld", attrNumber(fcc));
    else if (end > kMaxLocation)
        std::snprintf(text, sizeof text, "length %d at %ld ends at %lld, past the largest screen of %ld bytes",
                      length, location, end, static_cast<long>(kMaxLocation));
    else
        text[0] = '\0';
    if (text[0]) {
        why = text;
        return false;
    }
    f.length = static_cast<uint32_t>(length);
    f.decimals = static_cast<uint8_t>(decimals);
    f.location = static_cast<uint16_t>(location);
    f.occurrences = static_cast<int16_t>(occurs);
    f.elementLength = static_cast<uint16_t>(occurs ? length : 0);
    f.pad = static_cast<uint8_t>(pad);
    f.hidden = static_cast<uint8_t>(hidden);
    if (fcc) {
        f.fccIndex = static_cast<int16_t>(attrNumber(fcc));
        if (prot && strcasecmp(prot, "yes") == 0) f.flags |= TemplateField::kProtected;
    }
    return true;
}

void listTable(const char* title, const TemplateFieldTable& table) {
    if (table.empty()) return;
    logPrintf("#%-30s %-10s   Loc  Len  Occ  Adj Pad\n", title, "Mask");
    for (const TemplateField& f : table)
        logPrintf("%-30s %-10s %5d %4d %4d %4d %3d\n", f.name.c_str(), f.picture.c_str(),
                  f.location, static_cast<int>(f.length), f.occurrences, f.elementLength,
                  f.pad);
    logPrintf("\n");
}

struct TreeCloser {
    void operator()(xmlRoot* r) const { XmlDestroy(XmlRef{r, nullptr}); }
};

}  // namespace

bool expandMask(const std::string& picture, std::string& expanded, int& length,
                int& decimals) {
    expanded.clear();
    long long len = 0, dec = 0;
    bool numeric = false, afterPoint = false;
    char repeatable = 0;          // last 9, Z, 2, A, X or U
    bool repeatableIsDecimal = false;
    auto emit = [&](char c, long long times) {
        while (times-- > 0 && expanded.size() < kMaxExpanded) expanded += c;
    };
    for (size_t i = 0; i < picture.size(); ++i) {
        char c = static_cast<char>(std::toupper(static_cast<unsigned char>(picture[i])));
        switch (c) {
        case '9':
        case 'Z':
        case '2':  // blank when blank: a digit position like '9'
            numeric = true;
            ++len;
            if (afterPoint) ++dec;
            repeatable = c;
            repeatableIsDecimal = afterPoint;
            emit(c, 1);
            break;
        case 'A':
        case 'X':
        case 'U':
            ++len;
            repeatable = c;
            repeatableIsDecimal = false;
            emit(c, 1);
            break;
        case '(': {
            long n = 0;
            size_t j = i + 1;
            // The count as written (saturated far above the limit), so the
            // problem line shows it.
            for (; j < picture.size() && picture[j] != ')'; ++j)
                if (picture[j] >= '0' && picture[j] <= '9')
                    n = std::min(n * 10 + (picture[j] - '0'), 999999999L);
            i = j;  // at ')' or the end
            if (n < 1) {
                logPrintf("#PROBLEM: with mask %s; len %ld\n", picture.c_str(), n);
                n = 1;
            } else if (n > kMaxRepeat) {
                logPrintf("#PROBLEM: with mask %s; len %ld very large\n", picture.c_str(), n);
                n = kMaxRepeat;
            }
            if (repeatable) {
                len += n - 1;
                if (repeatableIsDecimal) dec += n - 1;
                emit(repeatable, n - 1);
            }
            break;
        }
        case 'V':
            numeric = true;
            afterPoint = true;
            break;
        case '.':
            numeric = true;
            afterPoint = true;
            emit(c, 1);
            break;
        case ',':
        case '/':
        case 'B':
        case 'C':
        case 'D':
        case 'R':
            numeric = true;  // edited
            emit(c, 1);
            break;
        default:
            emit(c, 1);
            break;
        }
    }
    length = static_cast<int>(len > INT_MAX ? INT_MAX : len);
    decimals = static_cast<int>(dec > INT_MAX ? INT_MAX : dec);
    return numeric;
}

bool xFcgiIsSignedPicture(const std::string& mask) {
    const size_t first = mask.find_first_not_of(' '), last = mask.find_last_not_of(' ');
    if (first == std::string::npos) return false;
    auto upper = [&](size_t i) { return static_cast<char>(std::toupper(static_cast<unsigned char>(mask[i]))); };
    for (size_t i = first; i <= last; ++i)
        if (upper(i) == 'S') return true;
    const char a = mask[first], z = mask[last];
    if (a == '+' || a == '-' || z == '+' || z == '-' || (a == '(' && z == ')')) return true;
    if (last == first) return false;
    const std::string tail{upper(last - 1), upper(last)};
    return tail == "CR" || tail == "DB";
}

int xFcgiLoadDataDesc(tcpHTML* tmpl, const char* path, bool listing, std::string* refused) {
    if (refused) refused->clear();
    if (!tmpl || !path) return 0;
    std::string why;
    UniqueFile file = OpenRegularFile(path, &why);
    if (!file) {
        logPrintf("#No t3i file: %s '%s'\n", path, why.c_str());
        return 0;
    }
    tmpl->mainFields.clear();
    tmpl->towebFields.clear();
    tmpl->fromwebFields.clear();
    tmpl->screenSize = 0;
    tmpl->fccModCount = 0;
    tmpl->flags &= ~tcpHTML::kConverted;

    XmlRef ref = XmlCreate();
    std::unique_ptr<xmlRoot, TreeCloser> tree(ref.root);
    int rc = XmlParse(ref, file.get(), nullptr, 0, false);
    if (rc != 0) logPrintf("#t3i file %s: XML error %d; using what was read\n", path, rc);

    TemplateFieldTable main, toweb, fromweb;
    TemplateFieldTable* table = &main;
    long location = 0, groupOccurs = 0;
    int screenSize = 0, fccMods = 0;
    for (xmlNode* n = XmlWalk(&ref, XML_WALK_FIRST); n; n = XmlWalk(&ref, XML_WALK_NEXT)) {
        if (!n->tag) continue;
        if (strcasecmp(n->tag, "records") == 0) {
            const char* converted = attrValue(n, "converted");
            if (converted && strcasecmp(converted, "yes") == 0) tmpl->flags |= tcpHTML::kConverted;
        } else if (strcasecmp(n->tag, "record") == 0) {
            const char* type = attrValue(n, "type");
            if (!type) continue;
            if (strcasecmp(type, "toweb") == 0) {
                table = &toweb;
                tmpl->flags |= tcpHTML::kWebTables;
            } else if (strcasecmp(type, "fromweb") == 0) {
                table = &fromweb;
                tmpl->flags |= tcpHTML::kWebTables;
            } else if (strcasecmp(type, "main") == 0) {
                table = &main;
                tmpl->flags &= ~tcpHTML::kWebTables;
            }
            location = 0;
            groupOccurs = 0;
        } else if (strcasecmp(n->tag, "field") == 0) {
            TemplateField f;
            long long end = 0;
            std::string why;
            if (!makeField(n, location, f, end, why)) {
                logPrintf("#t3i file %s refused: field '%s' %s\n", path, f.name.c_str(),
                          why.c_str());
                if (refused) *refused = "field '" + f.name + "' " + why;
                return 0;
            }
            groupOccurs += f.occurrences ? f.occurrences : 1;
            location = static_cast<long>(end);
            if (end > screenSize) screenSize = static_cast<int>(end);
            if (2 * groupOccurs > fccMods) fccMods = static_cast<int>(2 * groupOccurs);
            table->push_back(std::move(f));
        }
    }

    tmpl->mainFields = std::move(main);
    tmpl->towebFields = std::move(toweb);
    tmpl->fromwebFields = std::move(fromweb);
    tmpl->screenSize = screenSize;
    tmpl->fccModCount = fccMods;
    tmpl->t3iPath = path;

    if (listing && (logCtrlFlgs & LOG_Q) && (logCtrlFlgs & LOG_DETAIL)) {
        logPrintf("#Loaded t3i file: %s mcssize=%d, #fccmods=%d\n", path, tmpl->screenSize,
                  tmpl->fccModCount);
        listTable("MCS Fields", tmpl->mainFields);
        listTable("Send To Web", tmpl->towebFields);
        listTable("Read From Web", tmpl->fromwebFields);
    }
    return 1;
}
