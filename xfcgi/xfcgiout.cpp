// Output-variable table: the common put, lookups, constants, screen
// binding, row subscripts and evaluator temporaries (see xfcgiout.h).
//
// Names and values live in one data area (each followed by a NUL) and the
// table holds offsets into it, so growing the area is one reallocation and
// nothing refers to its old address. A hash index over the names finds an
// entry in constant time however many there are: repeated blocks create a
// variable per row, and a lookup inside n nested rows tries n + 1 names.
#include "xfcgiout.h"

#include "logprint.h"
#include "xfcginameindex.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <functional>
#include <set>

namespace {

struct OutVar {
    size_t nameOff = 0;
    size_t nameLen = 0;
    uint64_t nameHash = 0;    // hash of the name (xFcgiNameHashMore)
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
bool dataMoved = false;
std::string lastNotFound;

std::vector<int> subscripts;  // open #BEGIN rows, outermost first

// Screen data bound while a page is written.
std::vector<XFcgiBoundField> boundFields;
std::vector<uint64_t> boundHashes;  // hash of each field's name
std::vector<int32_t> boundRunning;  // running occurrence index per field
std::string boundData;
bool screenBound = false;
int lastBoundField = -1;
bool lastBoundBeyond = false;
std::set<std::string> heldFields;   // left unbound (xFcgiHoldScreenFields)

void (*freeHook)() = nullptr;
bool sidUsed = false;  // a link of the page carried the session id

std::string_view nameOf(const OutVar &v)
{
    return {oData.data() + v.nameOff, v.nameLen};
}

std::string_view tableNameAt(const void *, int32_t pos)
{
    return nameOf(oTab[static_cast<size_t>(pos)]);
}

std::string_view boundNameAt(const void *, int32_t pos)
{
    return boundFields[static_cast<size_t>(pos)].name;
}

XFcgiNameIndex tableIndex(tableNameAt);   // positions in oTab
XFcgiNameIndex boundIndex(boundNameAt);   // positions in boundFields; the first of a name

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

// Entries of the table in the index; later entries of one name (only
// constants can repeat a name) take its slot.
void rebuildIndex()
{
    tableIndex.reset(oTab.size());
    for (size_t i = 0; i < oTab.size(); ++i)
        tableIndex.add(static_cast<int32_t>(i), nameOf(oTab[i]), oTab[i].nameHash, true);
}

// The table search of a lookup: the name (hash h) extended by the open row
// subscripts, from the most specific to the plain one. The extended names
// are prefixes of the longest one, hashed in one pass.
int findEntry(std::string_view name, uint64_t h)
{
    if (subscripts.empty()) {
        const int idx = tableIndex.find(name, h);
        if (idx < 0)
            lastNotFound.assign(name.data(), name.size());
        return idx;
    }
    static std::string full;   // keeps its capacity
    full.assign(name.data(), name.size());
    constexpr size_t kInline = 16;
    std::pair<size_t, uint64_t> inlineCuts[kInline + 1];
    std::vector<std::pair<size_t, uint64_t>> moreCuts;
    std::pair<size_t, uint64_t> *cuts = inlineCuts;
    if (subscripts.size() > kInline) {
        moreCuts.resize(subscripts.size() + 1);
        cuts = moreCuts.data();
    }
    cuts[0] = {full.size(), h};
    for (size_t k = 0; k < subscripts.size(); ++k) {
        char digits[16] = {'_'};
        const char *end = std::to_chars(digits + 1, digits + sizeof digits, subscripts[k]).ptr;
        const std::string_view part(digits, static_cast<size_t>(end - digits));
        full.append(part.data(), part.size());
        h = xFcgiNameHashMore(h, part);
        cuts[k + 1] = {full.size(), h};
    }
    for (size_t levels = subscripts.size() + 1; levels-- > 0;) {
        const int idx = tableIndex.find(std::string_view(full).substr(0, cuts[levels].first),
                                        cuts[levels].second);
        if (idx >= 0)
            return idx;
    }
    lastNotFound.assign(full);
    return -1;
}

// A new entry for name (hash h) with the open row subscripts.
void addNewVar(std::string_view name, uint64_t h, std::string_view value, XVarMark mark)
{
    ensureCreated();
    std::string withRows;
    if (!subscripts.empty())
        withRows = subscripted(name, subscripts.size());
    const std::string_view full = subscripts.empty() ? name : std::string_view(withRows);
    const size_t need = full.size() + value.size();
    if (oUsed + need + 400 > oData.size())
        growData(oData.size() + need + 1024);
    OutVar v;
    v.nameOff = appendRaw(full);
    v.nameLen = full.size();
    v.nameHash = subscripts.empty() ? h : xFcgiNameHashMore(kNameHashStart, full);
    v.valueOff = appendRaw(value);
    v.valueLen = value.size();
    v.mark = mark;
    oTab.push_back(v);
    tableIndex.add(static_cast<int32_t>(oTab.size() - 1), nameOf(oTab.back()), v.nameHash, true);
    oValuesEnd = oUsed;
}

// Stores the value for an existing entry.
void changeVar(size_t idx, std::string_view value, XVarMark mark)
{
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

// The common put for a name (hash h) and a value that do not lie in the
// data area.
void chgVar(std::string_view name, uint64_t h, std::string_view value, XVarMark mark)
{
    constantsOpen = false;
    const int idx = findEntry(name, h);
    if (idx < 0)
        addNewVar(name, h, value, mark);
    else
        changeVar(static_cast<size_t>(idx), value, mark);
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
    chgVar(name, xFcgiNameHashMore(kNameHashStart, name), value, mark);
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
    addNewVar(nameCopy, xFcgiNameHashMore(kNameHashStart, nameCopy), valueCopy, XVarMark::Raw);
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
    const uint64_t h = xFcgiNameHashMore(kNameHashStart, want);
    if (screenBound) {
        const int i = boundIndex.find(want, h);
        if (i >= 0) {
            bool beyond = false;
            // The value is a view of the bound copy of the screen data,
            // which the put does not move.
            const std::string_view value = boundValue(static_cast<size_t>(i), beyond);
            chgVar(boundFields[static_cast<size_t>(i)].name, h, value, XVarMark::Data);
            lastBoundField = i;
            lastBoundBeyond = beyond;
        }
    }
    return findEntry(want, h);
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

static bool isHeld(const XFcgiBoundField &f)
{
    return !heldFields.empty() && heldFields.count(f.name) != 0;
}

void xFcgiHoldScreenFields(const std::vector<std::string> &names)
{
    heldFields.insert(names.begin(), names.end());
}

void xFcgiBindScreen(std::vector<XFcgiBoundField> fields, const char *data, size_t length)
{
    // Held fields keep their places, so that a bound field's index stays
    // that of its table entry (whose mask edits it); lookups never reach them.
    boundFields = std::move(fields);
    boundHashes.clear();
    for (const XFcgiBoundField &f : boundFields)
        boundHashes.push_back(xFcgiNameHashMore(kNameHashStart, f.name));
    boundIndex.reset(boundFields.size());
    for (size_t i = 0; i < boundFields.size(); ++i)
        if (!isHeld(boundFields[i]))
            boundIndex.add(static_cast<int32_t>(i), boundFields[i].name, boundHashes[i], false);
    boundRunning.assign(boundFields.size(), 0);
    boundData.assign(data ? data : "", data ? length : 0);
    screenBound = true;
}

void xFcgiUnbindScreen()
{
    boundFields.clear();
    boundHashes.clear();
    boundIndex.reset(0);
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
        if (boundFields[i].occurrences >= 2 || isHeld(boundFields[i]))
            continue;
        bool beyond = false;
        chgVar(boundFields[i].name, boundHashes[i], boundValue(i, beyond), XVarMark::Data);
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
    rebuildIndex();
    oUsed = std::min(constBytes, oData.size());
    oValuesEnd = oUsed;
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
