// Output-variable table: the common put, lookups, constants, screen
// binding, row subscripts and evaluator temporaries (see xfcgiout.h).
//
// Names and values live in one data area (each followed by a NUL) and the
// table holds offsets into it, so growing the area is one reallocation and
// nothing refers to its old address. Lookups start at the entry found or
// changed last, because templates and the gateway touch variables in
// nearly the order in which they were created.
#include "xfcgiout.h"

#include "logprint.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <functional>
#include <set>

namespace {

struct OutVar {
    size_t nameOff = 0;
    size_t nameLen = 0;
    uint32_t nameKey = 0;     // keyOfName(name): most entries differ in it
    size_t valueOff = 0;
    size_t valueLen = 0;
    XVarMark mark = XVarMark::Data;
    // A constant's registered value, given back at every clear.
    size_t constValueOff = 0;
    size_t constValueLen = 0;
    XVarMark constMark = XVarMark::Raw;
};

constexpr size_t initialDataSize = 4096;
constexpr size_t initialEntries = 32;

std::vector<OutVar> oTab;
std::vector<char> oData;      // its size is the allocated area
size_t oUsed = 0;             // bytes in use (table values and temporaries)
size_t oValuesEnd = 0;        // end of the last table write: temporaries lie above
size_t constEntries = 0;
size_t constBytes = 0;
bool constantsOpen = true;    // the first ordinary put closes it for good
size_t searchHint = 0;
bool dataMoved = false;
std::string lastNotFound;

// One bit per name key of every entry: a name whose bit is clear is in no
// entry, so a lookup of a new name skips the scan.
std::array<uint64_t, 16> keyBits{};

std::vector<int> subscripts;  // open #BEGIN rows, outermost first

// Screen data bound while a page is written.
std::vector<XFcgiBoundField> boundFields;
std::vector<uint32_t> boundKeys;    // keyOfName of each field's name
std::vector<int32_t> boundRunning;  // running occurrence index per field
std::string boundData;
bool screenBound = false;
int lastBoundField = -1;
bool lastBoundBeyond = false;
std::set<std::string> heldFields;   // left unbound (xFcgiHoldScreenFields)

void (*freeHook)() = nullptr;
bool sidUsed = false;  // a link of the page carried the session id

// How names compare: ASCII letters without regard to case, '-' equal to
// '_'; every other byte only equals itself. A table, not the C library's
// locale-dependent tolower: lookups are the page writer's inner loop.
struct NameFold {
    unsigned char map[256];
    constexpr NameFold() : map()
    {
        for (int c = 0; c < 256; ++c)
            map[c] = static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a'
                                                : c == '-'           ? '_'
                                                                     : c);
    }
};
constexpr NameFold nameFold;

inline unsigned char folded(char c)
{
    return nameFold.map[static_cast<unsigned char>(c)];
}

// Key of a name as it compares: its length and its first and last two
// folded bytes. Equal names have equal keys, so a scan compares names only
// where the keys match; the ends are what names of one page differ in
// ("field_001", "mcs.name", row subscripts), and the key costs the same
// for every length.
uint32_t keyOfName(std::string_view name)
{
    const size_t n = name.size();
    if (n == 0)
        return 0;
    return static_cast<uint32_t>(n & 0xFF) | uint32_t{folded(name[0])} << 8 |
           uint32_t{folded(name[n - 1])} << 16 | uint32_t{folded(name[n > 1 ? n - 2 : 0])} << 24;
}

bool namesEqual(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    const char *p = a.data();
    const char *q = b.data();
    for (size_t i = 0, n = a.size(); i < n; ++i)
        if (p[i] != q[i] && folded(p[i]) != folded(q[i]))
            return false;
    return true;
}

std::string_view nameOf(const OutVar &v)
{
    return {oData.data() + v.nameOff, v.nameLen};
}

void ensureCreated()
{
    if (oData.empty()) {
        oData.resize(initialDataSize);
        oTab.reserve(initialEntries);
    }
}

void growData(size_t newSize)
{
    if (newSize <= oData.size())
        return;
    const char *before = oData.data();
    oData.resize(newSize);
    if (oData.data() != before)
        dataMoved = true;
}

// Appends bytes and a NUL at the fill mark; room must already be there.
size_t appendRaw(std::string_view text)
{
    size_t off = oUsed;
    if (!text.empty())
        std::memcpy(oData.data() + off, text.data(), text.size());
    oData[off + text.size()] = '\0';
    oUsed += text.size() + 1;
    return off;
}

// The name extended by the first `levels` open row subscripts.
std::string subscripted(std::string_view name, size_t levels)
{
    std::string s(name);
    for (size_t i = 0; i < levels && i < subscripts.size(); ++i)
        s += "_" + std::to_string(subscripts[i]);
    return s;
}

// The key's bit: 10 bits of the key, mixed.
uint32_t keyBit(uint32_t key)
{
    return (key * 2654435761u) >> 22;
}

void noteKey(uint32_t key)
{
    const uint32_t b = keyBit(key);
    keyBits[b >> 6] |= uint64_t{1} << (b & 63);
}

bool mayHoldKey(uint32_t key)
{
    const uint32_t b = keyBit(key);
    return (keyBits[b >> 6] >> (b & 63)) & 1;
}

// The key bits of the entries left after the table was cut back.
void rebuildKeyBits()
{
    keyBits.fill(0);
    for (const OutVar &v : oTab)
        noteKey(v.nameKey);
}

// One pass over the table for exactly this name: the hint first, then
// round from hint + 1.
int scanFor(std::string_view name)
{
    const size_t n = oTab.size();
    if (n == 0)
        return -1;
    const uint32_t key = keyOfName(name);
    if (!mayHoldKey(key))
        return -1;
    const size_t start = searchHint < n ? searchHint : 0;
    auto matches = [&](size_t i) {
        const OutVar &v = oTab[i];
        return v.nameKey == key && v.nameLen == name.size() && namesEqual(nameOf(v), name);
    };
    for (size_t i = start; i < n; ++i)
        if (matches(i)) {
            searchHint = i;
            return static_cast<int>(i);
        }
    for (size_t i = 0; i < start; ++i)
        if (matches(i)) {
            searchHint = i;
            return static_cast<int>(i);
        }
    return -1;
}

// The table search of a lookup: the subscripted names from the most
// specific to the plain one.
int findEntry(std::string_view name)
{
    if (oTab.empty()) {
        lastNotFound = subscripted(name, subscripts.size());
        return -1;
    }
    for (size_t levels = subscripts.size() + 1; levels-- > 0;) {
        int idx = levels ? scanFor(subscripted(name, levels)) : scanFor(name);
        if (idx >= 0)
            return idx;
    }
    lastNotFound.assign(name.data(), name.size());  // keeps its capacity
    for (int s : subscripts)
        lastNotFound += "_" + std::to_string(s);
    return -1;
}

void addNewVar(std::string_view name, std::string_view value, XVarMark mark)
{
    ensureCreated();
    std::string withRows;
    if (!subscripts.empty())
        withRows = subscripted(name, subscripts.size());
    const std::string_view full = subscripts.empty() ? name : std::string_view(withRows);
    const size_t need = full.size() + value.size();
    if (oUsed + need + 400 > oData.size())
        growData(oData.size() + need + 1024);
    searchHint = oTab.empty() ? 0 : oTab.size() - 1;
    OutVar v;
    v.nameOff = appendRaw(full);
    v.nameLen = full.size();
    v.nameKey = keyOfName(full);
    noteKey(v.nameKey);
    v.valueOff = appendRaw(value);
    v.valueLen = value.size();
    v.mark = mark;
    oTab.push_back(v);
    oValuesEnd = oUsed;
}

// Stores the value for an existing entry.
void changeVar(size_t idx, std::string_view value, XVarMark mark)
{
    searchHint = idx;
    OutVar &v = oTab[idx];
    // A constant's registered bytes are never overwritten, so that the
    // next clear can give its value back.
    const bool registeredBytes = idx < constEntries && v.valueOff < constBytes;
    if (!registeredBytes && v.valueLen >= value.size()) {
        if (!value.empty())
            std::memmove(oData.data() + v.valueOff, value.data(), value.size());
        oData[v.valueOff + value.size()] = '\0';
        v.valueLen = value.size();
        v.mark = mark;
        return;
    }
    if (!(oUsed + value.size() + 2 < oData.size()))
        growData(oData.size() + v.nameLen + value.size() + 1024);
    OutVar &w = oTab[idx];
    w.valueOff = appendRaw(value);
    w.valueLen = value.size();
    w.mark = mark;
    oValuesEnd = oUsed;
}

bool pointsIntoData(const char *p)
{
    if (oData.empty() || p == nullptr)
        return false;
    std::less<const char *> lt;
    return !lt(p, oData.data()) && lt(p, oData.data() + oData.size());
}

// The current value of bound field i (the next occurrence of a repeated
// one); `beyond` when its location lies past the data.
std::string_view boundValue(size_t i, bool &beyond)
{
    const XFcgiBoundField &f = boundFields[i];
    size_t loc = f.location;
    if (f.occurrences >= 2) {
        int32_t &run = boundRunning[i];
        if (run >= f.occurrences || run < 0)
            run = 0;
        loc = static_cast<size_t>(f.location) +
              static_cast<size_t>(f.elemLength) * static_cast<size_t>(run);
        ++run;
    }
    beyond = loc >= boundData.size();
    if (beyond)
        return " ";
    size_t n = std::min<size_t>(f.length, boundData.size() - loc);
    const char *p = boundData.data() + loc;
    if (const void *nul = std::memchr(p, '\0', n))
        n = static_cast<size_t>(static_cast<const char *>(nul) - p);
    return {p, n};
}

} // namespace

// ------------------------------------------------------------------ puts --

int xFcgiChgVar(std::string_view name, std::string_view value, XVarMark mark)
{
    // Text that lies in the data area itself (a temporary, another value)
    // would move when the area grows: take a copy first.
    std::string nameCopy, valueCopy;
    if (pointsIntoData(name.data())) {
        nameCopy.assign(name);
        name = nameCopy;
    }
    if (pointsIntoData(value.data())) {
        valueCopy.assign(value);
        value = valueCopy;
    }
    constantsOpen = false;
    int idx = findEntry(name);
    if (idx < 0)
        addNewVar(name, value, mark);
    else
        changeVar(static_cast<size_t>(idx), value, mark);
    return 1;
}

int xFcgiChgFld(const char *name, const char *value, int maxLen, XVarMark mark)
{
    if (name == nullptr || value == nullptr)
        return 0;
    size_t len = maxLen < 0 ? std::strlen(value)
                            : strnlen(value, static_cast<size_t>(maxLen));
    return xFcgiChgVar(name, std::string_view(value, len), mark);
}

// Constants are added as new entries; while no ordinary put has been made
// yet, the constant boundary moves behind them.
static int addConstant(const char *name, std::string_view value)
{
    if (name == nullptr)
        return 0;
    std::string nameCopy(name);
    std::string valueCopy(value);
    addNewVar(nameCopy, valueCopy, XVarMark::Raw);
    OutVar &v = oTab.back();
    v.constValueOff = v.valueOff;
    v.constValueLen = v.valueLen;
    v.constMark = v.mark;
    if (constantsOpen) {
        constEntries = oTab.size();
        constBytes = oUsed;
    }
    return 1;
}

int xFcgiConsInt(const char *name, int32_t value)
{
    char buf[16];
    snprintf(buf, sizeof buf, "%d", static_cast<int>(value));
    return addConstant(name, buf);
}

int xFcgiConsStr(const char *name, const char *value)
{
    if (value == nullptr)
        return 0;
    return addConstant(name, value);
}

// --------------------------------------------------------------- lookups --

int searchOutTab(const char *name, int length)
{
    lastBoundField = -1;
    lastBoundBeyond = false;
    if (name == nullptr)
        return -1;
    std::string_view want(name, length < 0 ? std::strlen(name) : static_cast<size_t>(length));
    if (screenBound) {
        const uint32_t key = keyOfName(want);
        for (size_t i = 0; i < boundFields.size(); ++i) {
            if (boundKeys[i] != key || !namesEqual(boundFields[i].name, want))
                continue;
            bool beyond = false;
            // The value is a view of the bound copy of the screen data,
            // which the put does not move.
            const std::string_view value = boundValue(i, beyond);
            xFcgiChgVar(boundFields[i].name, value, XVarMark::Data);
            lastBoundField = static_cast<int>(i);
            lastBoundBeyond = beyond;
            break;
        }
    }
    return findEntry(want);
}

int xFcgiVarCount()
{
    return static_cast<int>(oTab.size());
}

int xFcgiConstCount()
{
    return static_cast<int>(constEntries);
}

std::string_view xFcgiVarName(int idx)
{
    if (idx < 0 || static_cast<size_t>(idx) >= oTab.size())
        return {};
    return nameOf(oTab[static_cast<size_t>(idx)]);
}

std::string_view xFcgiVarValue(int idx)
{
    if (idx < 0 || static_cast<size_t>(idx) >= oTab.size())
        return {};
    const OutVar &v = oTab[static_cast<size_t>(idx)];
    return {oData.data() + v.valueOff, v.valueLen};
}

XVarMark xFcgiVarMark(int idx)
{
    if (idx < 0 || static_cast<size_t>(idx) >= oTab.size())
        return XVarMark::Data;
    return oTab[static_cast<size_t>(idx)].mark;
}

const std::string &xFcgiLastNotFound()
{
    return lastNotFound;
}

bool xFcgiTableMoved()
{
    bool moved = dataMoved;
    dataMoved = false;
    return moved;
}

// ----------------------------------------------------------- temporaries --

size_t xFcgiTempPut(std::string_view text)
{
    std::string copy;
    if (pointsIntoData(text.data())) {
        copy.assign(text);
        text = copy;
    }
    ensureCreated();
    if (oData.size() < oUsed + text.size() + 1 + 100)
        growData(oData.size() + text.size() + 512);
    return appendRaw(text);
}

const char *xFcgiDataAt(size_t offset)
{
    if (offset >= oUsed)
        return "";
    return oData.data() + offset;
}

size_t xFcgiDataMark()
{
    return oUsed;
}

void xFcgiDataRewind(size_t mark)
{
    size_t floor = std::max(oValuesEnd, constBytes);
    if (mark < oUsed)
        oUsed = std::max(mark, floor);
}

// --------------------------------------------------------------- binding --

void xFcgiHoldScreenFields(const std::vector<std::string> &names)
{
    heldFields.insert(names.begin(), names.end());
}

void xFcgiBindScreen(std::vector<XFcgiBoundField> fields, const char *data, size_t length)
{
    if (!heldFields.empty())
        fields.erase(std::remove_if(fields.begin(), fields.end(),
                                    [](const XFcgiBoundField &f) { return heldFields.count(f.name) != 0; }),
                     fields.end());
    boundFields = std::move(fields);
    boundKeys.clear();
    for (const XFcgiBoundField &f : boundFields)
        boundKeys.push_back(keyOfName(f.name));
    boundRunning.assign(boundFields.size(), 0);
    boundData.assign(data ? data : "", data ? length : 0);
    screenBound = true;
}

void xFcgiUnbindScreen()
{
    boundFields.clear();
    boundKeys.clear();
    boundRunning.clear();
    boundData.clear();
    screenBound = false;
    lastBoundField = -1;
    lastBoundBeyond = false;
}

bool xFcgiScreenBound()
{
    return screenBound;
}

void xFcgiPutBoundFields()
{
    if (!screenBound)
        return;
    std::fill(boundRunning.begin(), boundRunning.end(), 0);
    for (size_t i = 0; i < boundFields.size(); ++i) {
        if (boundFields[i].occurrences >= 2)
            continue;
        bool beyond = false;
        xFcgiChgVar(boundFields[i].name, boundValue(i, beyond), XVarMark::Data);
    }
}

int xFcgiLastBoundField()
{
    return lastBoundField;
}

bool xFcgiLastBoundBeyond()
{
    return lastBoundBeyond;
}

// ------------------------------------------------------------ subscripts --

bool xFcgiPushSubscript(int index)
{
    if (subscripts.size() >= static_cast<size_t>(xFcgiMaxSubscripts))
        return false;
    subscripts.push_back(index);
    return true;
}

void xFcgiPopSubscript()
{
    if (!subscripts.empty())
        subscripts.pop_back();
}

int xFcgiSubscriptDepth()
{
    return static_cast<int>(subscripts.size());
}

int xFcgiSubscript(int level)
{
    if (level < 0 || static_cast<size_t>(level) >= subscripts.size())
        return 0;
    return subscripts[static_cast<size_t>(level)];
}

std::vector<int> xFcgiGetSubscripts()
{
    return subscripts;
}

void xFcgiSetSubscripts(int count, const int *values)
{
    subscripts.clear();
    if (values == nullptr)
        return;
    count = std::clamp(count, 0, xFcgiMaxSubscripts);
    subscripts.assign(values, values + count);
}

// ------------------------------------------------------------- lifecycle --

void xFcgiPutClear()
{
    oTab.resize(constEntries);
    for (OutVar &v : oTab) {
        v.valueOff = v.constValueOff;
        v.valueLen = v.constValueLen;
        v.mark = v.constMark;
    }
    rebuildKeyBits();
    oUsed = std::min(constBytes, oData.size());
    oValuesEnd = oUsed;
    searchHint = 0;
    lastNotFound.clear();
    sidUsed = false;
    heldFields.clear();
}

void xFcgiFreeFlds()
{
    xFcgiPutClear();
    if (constEntries == 0) {
        std::vector<char>().swap(oData);
        std::vector<OutVar>().swap(oTab);
        oUsed = oValuesEnd = constBytes = 0;
    } else {
        oData.resize(constBytes);
        oData.shrink_to_fit();
        oTab.shrink_to_fit();
    }
    dataMoved = true;
    subscripts.clear();
    if (freeHook)
        freeHook();
}

void xFcgiSetFreeHook(void (*hook)())
{
    freeHook = hook;
}

int xFcgiSidUsed()
{
    return sidUsed ? 1 : 0;
}

void xFcgiMarkSidUsed()
{
    sidUsed = true;
}
