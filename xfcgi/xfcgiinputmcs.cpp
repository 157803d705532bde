// Submitted form -> host screen record, through a template's field table.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "logprint.h"
#include "xfcgihtml.h"
#include "xfcgiinput.h"
#include "xfcginameindex.h"
#include "xfcgiout.h"

namespace {

bool isNumericKind(uint32_t kind) { return kind >= 3 && kind <= 7; }
bool isTextKind(uint32_t kind) { return kind == 1 || kind == 2 || (kind >= 10 && kind <= 14); }
// Form fields a browser does not post when they are cleared: checkboxes
// and radio buttons, by their kind or by the page's own input elements.
bool isClearedKind(uint32_t kind) { return kind == SEG_CHECKBOX || kind == SEG_RADIO; }

const char* shownPath(const tcpHTML* tmpl) {
    const char* rel = xFcgiRelDir(tmpl->path.c_str());
    return rel ? rel : "";
}

bool takesNumber(const TemplateField& f) {
    return isNumericKind(f.kind) || (isTextKind(f.kind) && xFcgiIsNumericPicture(f.picture.c_str()));
}

// The whole digits a number field holds: its host digits, hidden ones
// included, less its decimals.
size_t wholeDigits(const TemplateField& f, size_t hidden) {
    const size_t n = hidden + f.length;
    return n - std::min<size_t>(f.decimals, n);
}

// Whether a posted number fits its field as typed: only what the page's
// key filter lets through and its own edit shows (blanks, digits,
// + - ( ) $ . , / :), a sign ("-", "(" or ")") only when the field's mask
// has one and no sign between its digits, no more significant whole
// digits than it holds and no non-zero decimals beyond its own. The merge
// moves a number as COBOL does, cutting what does not fit and taking a
// "-" anywhere for a negative sign: what the user typed must not reach
// the host as another number.
bool fitsField(std::string_view v, const TemplateField& f, size_t whole) {
    const bool signedField = (f.flags & TemplateField::kSigned) != 0;
    size_t digits = 0, decimals = 0;
    bool afterPoint = false, anyDigit = false, signAfterDigit = false;
    for (char c : v) {   // one pass: this runs for every posted number
        if (c >= '0' && c <= '9') {
            if (signAfterDigit) return false;
            anyDigit = true;
            if (afterPoint) {
                if (++decimals > f.decimals && c != '0') return false;
            } else if (digits || c != '0') {
                if (++digits > whole) return false;
            }
        } else if (c == '-' || c == '(' || c == ')' || c == '+') {
            if (c != '+' && !signedField) return false;
            signAfterDigit = anyDigit;
        } else if (c == '.') {
            afterPoint = true;   // a second point is passed over, as the merge does
        } else if (c != ' ' && c != '$' && c != ',' && c != '/' && c != ':') {
            return false;
        }
    }
    return true;
}

// What a number field takes, as the notice of a refused post says it.
std::string numberTakes(const TemplateField& f, size_t whole) {
    const auto count = [](size_t n, const char* what) {
        return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
    };
    std::string out = "a number of at most " + count(whole, "digit");
    const bool sign = (f.flags & TemplateField::kSigned) != 0;
    if (f.decimals) return out + " and " + count(f.decimals, "decimal") + (sign ? "" : ", without sign");
    return out + (sign ? ", without decimals" : ", without decimals or sign");
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
// and a comparison or two however many fields a page has. Names compare
// as the input table compares them; of equal names the first is found.
class NameIndex {
public:
    explicit NameIndex(std::vector<std::string_view> names)
        : m_names(std::move(names)), m_index(nameAt, m_names.data()) {
        m_index.reset(m_names.size());
        for (size_t i = 0; i < m_names.size(); ++i)
            m_index.add(static_cast<int32_t>(i), m_names[i], hashOf(m_names[i]), false);
    }
    NameIndex(const NameIndex&) = delete;
    NameIndex& operator=(const NameIndex&) = delete;
    // The position of name, or -1.
    int find(std::string_view name) const { return m_index.find(name, hashOf(name)); }

private:
    static uint64_t hashOf(std::string_view name) { return xFcgiNameHashMore(kNameHashStart, name); }
    static std::string_view nameAt(const void* names, int32_t pos) {
        return static_cast<const std::string_view*>(names)[pos];
    }

    std::vector<std::string_view> m_names;
    XFcgiNameIndex m_index;
};

// The names of a field table, by position.
std::vector<std::string_view> fieldNames(const TemplateFieldTable& table) {
    std::vector<std::string_view> names;
    names.reserve(table.size());
    for (const TemplateField& f : table) names.push_back(f.name);
    return names;
}

// The input table's entry of each field (-1: not posted), looked up as
// xFcgiFindDataTable does; a name posted more than once gives its first
// value.
std::vector<int> postedEntries(const TemplateFieldTable& table) {
    std::vector<std::string_view> names(static_cast<size_t>(xFcgiInputCount()));
    for (size_t i = 0; i < names.size(); ++i) names[i] = xFcgiInputName(static_cast<int>(i));
    const NameIndex posted(std::move(names));
    std::vector<int> entries;
    entries.reserve(table.size());
    for (const TemplateField& f : table) entries.push_back(posted.find(f.name));
    return entries;
}

// The elements of a page's form that post a field, as far as the compiled
// segments tell them: a text, password or hidden INPUT (one kind to the
// segments), a TEXTAREA, a checkbox or radio button.
enum : uint8_t { kInInput = 1, kInTextarea = 2, kCleared = 4 };

// The elements (bits above) that post each field of table, by the NAME
// they post under; a checkbox or radio button by its variable's name.
std::vector<uint8_t> elementsOf(const tcpHTML& t, const TemplateFieldTable& table) {
    const NameIndex fields(fieldNames(table));
    std::vector<uint8_t> byFirst(table.size(), 0);  // by the first field of a folded name
    for (const HtmlSegment& g : t.segments) {
        uint8_t bit = 0;
        TextSpan name = g.altName.empty() ? g.name : g.altName;
        if (isClearedKind(g.kind) || isClearedKind(g.firstKind)) {
            bit = kCleared;
            name = g.name;
        } else if (!(g.direction & HtmlSegment::kInput)) {
            continue;
        } else if (g.kind == SEG_TEXTAREA || g.firstKind == SEG_TEXTAREA) {
            bit = kInTextarea;
        } else if (g.kind != SEG_SELECT && g.kind != SEG_SUBMIT && !(g.flags & HtmlSegment::kImage)) {
            bit = kInInput;
        }
        const int i = fields.find(t.textOf(name));
        if (bit && i >= 0) byFirst[static_cast<size_t>(i)] |= bit;
    }
    std::vector<uint8_t> bits(table.size());
    for (size_t i = 0; i < table.size(); ++i) bits[i] = byFirst[static_cast<size_t>(fields.find(table[i].name))];
    return bits;
}

// The elements of each field, found on first use: most posts need them
// for no field.
class FieldElements {
public:
    FieldElements(const tcpHTML& t, const TemplateFieldTable& table) : m_t(t), m_table(table) {}
    uint8_t of(size_t i) {
        if (m_bits.empty()) m_bits = elementsOf(m_t, m_table);
        return m_bits[i];
    }
    // Whether field i is a checkbox or radio button of the page: asked for
    // every field not posted, so first whether the page has any.
    bool cleared(size_t i) {
        if (m_anyCleared < 0) {
            m_anyCleared = 0;
            for (const HtmlSegment& g : m_t.segments)
                if (isClearedKind(g.kind) || isClearedKind(g.firstKind)) m_anyCleared = 1;
        }
        return m_anyCleared && (of(i) & kCleared);
    }

private:
    const tcpHTML& m_t;
    const TemplateFieldTable& m_table;
    std::vector<uint8_t> m_bits;
    int m_anyCleared = -1;  // not known yet
};

// The text of a value shown in an element as a browser posts it back:
// from a text input without CR and LF (value sanitization), from a
// TEXTAREA with CR LF and a lone CR as LF (a browser posts line breaks as
// CR LF, which the input parser reads as one LF).
std::string asTextInputPosts(std::string_view shown) {
    std::string out;
    for (char c : shown)
        if (c != '\r' && c != '\n') out += c;
    return out;
}

std::string asTextareaPosts(std::string_view shown) {
    std::string out;
    for (size_t i = 0; i < shown.size(); ++i) {
        if (shown[i] != '\r') out += shown[i];
        else if (i + 1 >= shown.size() || shown[i + 1] != '\n') out += '\n';
    }
    return out;
}

// Whether a posted value is the shown one as the page's elements post it
// unchanged. A hidden input posts its line breaks as a TEXTAREA does; as
// the segments do not tell it from a text input, an input takes both
// forms: a user can type no line break into a text input nor change a
// hidden one, so neither form can be a change.
bool postedAsShown(const std::string& value, const std::string& shown, FieldElements& elements, size_t i) {
    if (value == shown) return true;
    if (shown.find_first_of("\r\n") == std::string::npos) return false;
    const uint8_t in = elements.of(i);
    if ((in & kInInput) && value == asTextInputPosts(shown)) return true;
    return (in & (kInInput | kInTextarea)) && value == asTextareaPosts(shown);
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

// The table that lays out the host's data of a page: the one the page was
// filled through (toweb, else main), and where each input field lies in
// it: the field itself on a page of one layout, else its namesake (null:
// nowhere).
struct HostLayout {
    const TemplateFieldTable* table = nullptr;  // none: the page showed no host values
    bool sameAsInput = false;
    std::vector<const TemplateField*> places;

    HostLayout() = default;
    HostLayout(const tcpHTML& t, const TemplateFieldTable& input)
        : table(!t.towebFields.empty() ? &t.towebFields : !t.mainFields.empty() ? &t.mainFields : nullptr),
          sameAsInput(table == &input) {
        places.assign(input.size(), nullptr);
        if (!table) return;
        const NameIndex index(sameAsInput ? std::vector<std::string_view>() : fieldNames(*table));
        for (size_t k = 0; k < input.size(); ++k) {
            const int i = sameAsInput ? -1 : index.find(input[k].name);
            places[k] = sameAsInput ? &input[k] : i < 0 ? nullptr : &(*table)[static_cast<size_t>(i)];
        }
    }
};

// The record as the host's own data of the screen lays out in the input
// table: on a page of one layout the data itself; otherwise each input
// field (hidden digits included) and its pad from its namesake's place in
// the host's layout. Returns the end of the bytes kept.
size_t placeHostData(char* mcs, size_t capacity, const TemplateFieldTable& in, const HostLayout& layout,
                     std::string_view host) {
    if (layout.sameAsInput) {
        const size_t n = std::min(capacity, host.size());
        std::memcpy(mcs, host.data(), n);
        return n;
    }
    size_t end = 0;
    for (int pass = 0; pass < 2; ++pass) {   // pads first, then the fields over them
        for (size_t i = 0; i < in.size(); ++i) {
            const TemplateField& f = in[i];
            const TemplateField* twin = layout.places[i];
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

// Whether field i's posted value is the one the page showed from the
// host's data: the host's bytes stay.
bool shownUnchanged(const std::string& value, size_t i, const XFcgiHostScreen& host, const HostLayout& layout,
                    FieldElements& elements, bool hostStyle) {
    // (A field the host sends no bytes for, such as an input-only one,
    // takes what was posted.)
    const TemplateField* shown = layout.places[i];
    return shown && shown->location + shown->length <= host.data.size() &&
           postedAsShown(value, xFcgiShownText(host.data.substr(shown->location, shown->length), *shown, hostStyle),
                         elements, i);
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

int xFcgiGetMcsData(char* mcs, size_t capacity, tcpHTML* tmpl, XFcgiHostScreen* host,
                    XFcgiRefusedNumber* refused) {
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
    const bool hostStyle = xFcgiHostStyle(*tmpl);
    const std::vector<int> posted = postedEntries(*table);

    // The host's bytes are kept only through a table that lays them out;
    // a page without one merges from zeros.
    const HostLayout layout = host ? HostLayout(*tmpl, *table) : HostLayout();
    FieldElements elements(*tmpl, *table);

    // A number its field cannot hold is refused before anything changes.
    if (refused) {
        *refused = XFcgiRefusedNumber();
        for (size_t i = 0; i < table->size(); ++i) {
            const TemplateField& f = (*table)[i];
            const int idx = posted[i];
            if (idx < 0 || !takesNumber(f) || (host && host->keep.count(f.name))) continue;
            const char* value = xFcgiInputValue(idx);
            const size_t whole = wholeDigits(f, spanOf(f, SIZE_MAX).hidden);
            if (!value || fitsField(value, f, whole)) continue;
            if (host && shownUnchanged(value, i, *host, layout, elements, hostStyle)) continue;
            refused->field = f.name;
            refused->takes = numberTakes(f, whole);
            logPrintf("#GetMcsData %s: %s takes %s\n", shownPath(tmpl), f.name.c_str(), refused->takes.c_str());
            return -1;
        }
    }

    std::memset(mcs, 0, std::min(capacity, static_cast<size_t>(std::max(tmpl->screenSize, 0))));
    const size_t keptEnd = layout.table ? placeHostData(mcs, capacity, *table, layout, host->data) : 0;
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
                if (host->keep.count(f.name) || shownUnchanged(value, i, *host, layout, elements, hostStyle))
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
            // Not posted: the host's bytes stay (if any were kept), except
            // for a cleared checkbox or radio button (and without host data).
            if (!host || isClearedKind(f.kind) || elements.cleared(i))
                if (room) std::memset(mcs + at, 0, room);
        }
    }
    if (detail && !missing.empty())
        logPrintf("#GetMcsData %s: not received %s\n", shownPath(tmpl), missing.c_str());
    const size_t used = std::max(largestEnd, keptEnd);
    tmpl->usedScreenLen = static_cast<int>(used);
    return static_cast<int>(used);
}
