// Submitted form -> host screen record, through a template's field table.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "logprint.h"
#include "xfcgihtml.h"
#include "xfcgiinput.h"
#include "xfcgiout.h"
#include "xfcgirewrite.h"

namespace {

bool isNumericKind(uint32_t kind) { return kind >= 3 && kind <= 7; }
bool isTextKind(uint32_t kind) { return kind == 1 || kind == 2 || (kind >= 10 && kind <= 14); }
// Form fields a browser does not post when they are cleared: checkboxes
// and radio buttons, by their kind or by the page's own input elements.
bool isClearedKind(uint32_t kind) { return kind == SEG_CHECKBOX || kind == SEG_RADIO; }

std::set<std::string> clearedWhenAbsent(const tcpHTML& t) {
    std::set<std::string> names;
    for (const HtmlSegment& g : t.segments)
        if (isClearedKind(g.kind) || isClearedKind(g.firstKind)) names.insert(xFcgiFoldName(t.textOf(g.name)));
    return names;
}

const char* shownPath(const tcpHTML* tmpl) {
    const char* rel = xFcgiRelDir(tmpl->path.c_str());
    return rel ? rel : "";
}

bool takesNumber(const TemplateField& f) {
    return isNumericKind(f.kind) || (isTextKind(f.kind) && xFcgiIsNumericPicture(f.picture.c_str()));
}

// What a number may hold: what the page's key filter lets through and
// what its own edit shows, signs and currency included.
bool isNumberText(std::string_view v) {
    return v.find_first_not_of(" 0123456789+-()$.,/:") == std::string_view::npos;
}

// The field's bytes as the form gives them, hidden digits first: a
// number fills them all as zoned digits.
std::string fieldBytes(const TemplateField& f, size_t hidden, const std::string& value,
                       bool ebcdicSign, const tcpHTML* tmpl) {
    std::string area(hidden + f.length, ' ');
    const char* pic = f.picture.c_str();
    if (takesNumber(f)) {
        editNumeric(&area[0], static_cast<int>(area.size()), f.decimals, value.data(), value.size(),
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

// Positions of names, made once per merge so that a look-up costs a hash
// and a comparison or two however many fields a page has: open addressing
// over at least twice as many slots as names. With fold, names compare as
// the input table compares them (xFcgiSameName); of equal names the first
// is found.
class NameIndex {
public:
    NameIndex(std::vector<std::string_view> names, bool fold) : m_names(std::move(names)), m_fold(fold) {
        size_t size = 8;
        while (size < 2 * m_names.size()) size *= 2;
        m_slots.assign(size, -1);
        for (size_t i = 0; i < m_names.size(); ++i) {
            int& slot = m_slots[slotOf(m_names[i])];
            if (slot < 0) slot = static_cast<int>(i);
        }
    }
    // The position of name, or -1.
    int find(std::string_view name) const { return m_slots[slotOf(name)]; }

private:
    // The slot holding name, or the empty one where it would go.
    size_t slotOf(std::string_view name) const {
        uint32_t h = 2166136261u;  // FNV-1a
        for (char c : name) h = (h ^ static_cast<unsigned char>(m_fold ? xFcgiFoldNameChar(c) : c)) * 16777619u;
        const size_t mask = m_slots.size() - 1;
        for (size_t s = h & mask;; s = (s + 1) & mask) {
            const int i = m_slots[s];
            if (i < 0 || (m_fold ? xFcgiSameName(m_names[static_cast<size_t>(i)], name)
                                 : m_names[static_cast<size_t>(i)] == name))
                return s;
        }
    }

    std::vector<std::string_view> m_names;
    bool m_fold;
    std::vector<int> m_slots;
};

// The names of a field table, by position.
NameIndex fieldIndex(const TemplateFieldTable& table) {
    std::vector<std::string_view> names;
    names.reserve(table.size());
    for (const TemplateField& f : table) names.push_back(f.name);
    return NameIndex(std::move(names), false);
}

// The input table's entry of each field (-1: not posted), looked up as
// xFcgiFindDataTable does; a name posted more than once gives its first
// value.
std::vector<int> postedEntries(const TemplateFieldTable& table) {
    std::vector<std::string_view> names(static_cast<size_t>(xFcgiInputCount()));
    for (size_t i = 0; i < names.size(); ++i) names[i] = xFcgiInputName(static_cast<int>(i));
    const NameIndex posted(std::move(names), true);
    std::vector<int> entries;
    entries.reserve(table.size());
    for (const TemplateField& f : table) entries.push_back(posted.find(f.name));
    return entries;
}

const TemplateField* namedIn(const TemplateFieldTable& table, const NameIndex& index, const std::string& name) {
    const int i = index.find(name);
    return i < 0 ? nullptr : &table[static_cast<size_t>(i)];
}

// A field's bytes over all its occurrences, its hidden digits included:
// the offset, the count (clipped to capacity), and how many hidden digits
// lie before its location.
struct Span {
    size_t at = 0, n = 0, hidden = 0;
};

Span spanOf(const TemplateField& f, size_t capacity) {
    Span s;
    s.hidden = std::min<size_t>(f.hidden, f.location);
    s.at = f.location - s.hidden;
    const size_t whole = s.hidden + static_cast<size_t>(f.length) * (f.occurrences >= 2 ? f.occurrences : 1);
    s.n = s.at < capacity ? std::min(whole, capacity - s.at) : 0;
    return s;
}

// Copies n bytes of the host data from `from` into the record at `to`
// (what the host data does not hold stays zero).
void copyHost(char* mcs, size_t capacity, size_t to, std::string_view host, size_t from, size_t n) {
    if (to >= capacity) return;
    n = std::min(n, capacity - to);
    if (from >= host.size()) return;
    std::memcpy(mcs + to, host.data() + from, std::min(n, host.size() - from));
}

// The record as the host's own data of the screen lays out in the input
// table: on a page of one layout the data itself; on a page with toweb
// and fromweb tables each fromweb field (hidden digits included) and its
// pad from its toweb namesake's place. Returns the end of the bytes kept.
size_t placeHostData(char* mcs, size_t capacity, const TemplateFieldTable& in,
                     const TemplateFieldTable* out, const NameIndex* outIndex, std::string_view host) {
    if (!out) {
        const size_t n = std::min(capacity, host.size());
        std::memcpy(mcs, host.data(), n);
        return n;
    }
    size_t end = 0;
    for (int pass = 0; pass < 2; ++pass) {   // pads first, then the fields over them
        for (const TemplateField& f : in) {
            const TemplateField* twin = namedIn(*out, *outIndex, f.name);
            if (!twin) continue;
            const Span to = spanOf(f, SIZE_MAX), from = spanOf(*twin, SIZE_MAX);
            if (pass == 0) {
                copyHost(mcs, capacity, to.at + to.n, host, from.at + from.n, std::min<size_t>(f.pad, twin->pad));
                continue;
            }
            const size_t hidden = std::min(to.hidden, from.hidden);
            copyHost(mcs, capacity, to.at + to.hidden - hidden, host, from.at + from.hidden - hidden,
                     std::min(to.n - to.hidden, from.n - from.hidden) + hidden);
            end = std::max(end, std::min(capacity, to.at + to.n + f.pad));
        }
    }
    return end;
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

int xFcgiGetMcsData(char* mcs, size_t capacity, tcpHTML* tmpl, XFcgiHostScreen* host) {
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
    // The page showed host values from the toweb table when it has one.
    const TemplateFieldTable* shownTable =
        table == &tmpl->fromwebFields && !tmpl->towebFields.empty() ? &tmpl->towebFields : nullptr;
    const bool hostStyle = xFcgiHostStyle(*tmpl);
    const std::vector<int> posted = postedEntries(*table);

    // A number with other characters is refused before anything changes.
    if (host) {
        host->refused.clear();
        for (size_t i = 0; i < table->size(); ++i) {
            const TemplateField& f = (*table)[i];
            const int idx = posted[i];
            if (idx < 0 || !takesNumber(f) || host->keep.count(f.name)) continue;
            const char* value = xFcgiInputValue(idx);
            if (value && !isNumberText(value)) {
                host->refused = f.name;
                logPrintf("#GetMcsData %s: %s is not a number\n", shownPath(tmpl), f.name.c_str());
                return -1;
            }
        }
    }

    std::memset(mcs, 0, std::min(capacity, static_cast<size_t>(std::max(tmpl->screenSize, 0))));
    const std::set<std::string> cleared = host ? clearedWhenAbsent(*tmpl) : std::set<std::string>();
    size_t keptEnd = 0;
    const std::unique_ptr<NameIndex> shownIndex =
        host && shownTable ? std::make_unique<NameIndex>(fieldIndex(*shownTable)) : nullptr;
    if (host) {
        keptEnd = placeHostData(mcs, capacity, *table, shownTable, shownIndex.get(), host->data);
        if (!shownTable) keptEnd = std::max(keptEnd, std::min(capacity, host->data.size()));
    }
    const bool detail = (logCtrlFlgs & LOG_DETAIL) != 0;
    std::string missing;
    size_t largestEnd = 0;
    for (size_t i = 0; i < table->size(); ++i) {
        const TemplateField& f = (*table)[i];
        const Span span = spanOf(f, capacity);
        const size_t at = f.location;
        largestEnd = std::max(largestEnd, std::min(capacity, at + f.length));
        const size_t room = at < capacity ? std::min<size_t>(f.length, capacity - at) : 0;
        const int idx = posted[i];
        if (idx >= 0) {
            const std::string value = xFcgiInputValue(idx) ? std::string(xFcgiInputValue(idx)) : "";
            if (host) {
                // A field the screen shows protected, or one whose value is
                // what the page showed, keeps the host's bytes.
                if (host->keep.count(f.name)) continue;
                const TemplateField* shown = shownTable ? namedIn(*shownTable, *shownIndex, f.name) : &f;
                // (A field the host sends no bytes for, such as an input-
                // only one, takes what was posted.)
                if (shown && shown->location + shown->length <= host->data.size() &&
                    value == xFcgiShownText(host->data.substr(shown->location, shown->length), *shown,
                                            hostStyle))
                    continue;
            }
            const std::string bytes = fieldBytes(f, span.hidden, value, hostStyle, tmpl);
            if (span.n) std::memcpy(mcs + span.at, bytes.data(), std::min(span.n, bytes.size()));
        } else {
            if (detail) {
                if (!missing.empty()) missing += ", ";
                missing += f.name;
                if (missing.size() > 40) {
                    logPrintf("#GetMcsData %s: not received %s\n", shownPath(tmpl), missing.c_str());
                    missing.clear();
                }
            }
            // Not posted: the host's bytes stay, except for a cleared
            // checkbox or radio button (and without host data).
            if (!host || isClearedKind(f.kind) || cleared.count(xFcgiFoldName(f.name)))
                if (room) std::memset(mcs + at, 0, room);
        }
    }
    if (detail && !missing.empty())
        logPrintf("#GetMcsData %s: not received %s\n", shownPath(tmpl), missing.c_str());
    const size_t used = std::max(largestEnd, keptEnd);
    tmpl->usedScreenLen = static_cast<int>(used);
    return static_cast<int>(used);
}
