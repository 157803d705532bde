// Request input: reading, parsing into the input table, lookups.
#include "xfcgiinput.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fcgicalls.h"
#include "logprint.h"
#include "xfcgihtml.h"
#include "xfcginameindex.h"
#include "xfcgin.h"
#include "xfcgiout.h"

namespace {

constexpr size_t kReadChunk = 4096;
constexpr size_t kFirstTable = 240;  // entries before growth is logged
constexpr size_t kTableStep = 43;

struct InputEntry {
    std::string name;
    std::string value;
    int lines = 1;        // 1 + line feeds decoded from escapes
    // The value length the entry records: characters + 1 for parsed
    // values, characters for values xFcgiChgInpStr stored. A value that
    // took the old one's place keeps the old length.
    size_t valueLength = 0;
};

std::string inpDataBuf;            // raw input of the request
bool inputWhole = true;            // the request's body was read whole
std::vector<InputEntry> dataTable; // the input table
size_t mTab = 0;                   // table size as far as growth is logged
int kTab = 0;                      // search cursor
std::string notFoundText;          // "... not found!"

int hexDigit(int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// One round over the table from the cursor; the entry found becomes it.
int search(const std::string& key, const std::string* alsoBare) {
    const int count = static_cast<int>(dataTable.size());
    if (count == 0) return -1;
    int start = (kTab >= 0 && kTab < count) ? kTab : 0;
    for (int k = 0; k < count; ++k) {
        int i = (start + k) % count;
        const std::string& name = dataTable[i].name;
        if (xFcgiNamesEqual(name, key) || (alsoBare && xFcgiNamesEqual(name, *alsoBare))) {
            kTab = i;
            return i;
        }
    }
    return -1;
}

std::string subscripted(const char* name, int count, const int* subscripts) {
    std::string key(name);
    for (int i = 0; i < count && subscripts; ++i) key += "_" + std::to_string(subscripts[i]);
    return key;
}

const std::string* valueOf(int idx) {
    return idx < 0 ? nullptr : &dataTable[idx].value;
}

bool hasDigit(const std::string& v) {
    for (char c : v)
        if (c >= '0' && c <= '9') return true;
    return false;
}

int32_t toInt(const std::string& v) {
    errno = 0;
    long long x = std::strtoll(v.c_str(), nullptr, 10);
    if (x > INT32_MAX) return INT32_MAX;
    if (x < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(x);
}

uint32_t toHex(const std::string& v) {
    unsigned long long x = std::strtoull(v.c_str(), nullptr, 16);
    return x > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(x);
}

double toDbl(const std::string& v) {
    size_t at = v.find_first_of("0123456789-+");
    if (at == std::string::npos) return 0.0;
    return std::strtod(v.c_str() + at, nullptr);
}

// Table growth as the fixed-size table would have seen it.
void noteEntryAdded() {
    if (mTab == 0) mTab = kFirstTable;
    if (dataTable.size() + 3 > mTab) {
        mTab += kTableStep;
        if (logCtrlFlgs & LOG_DETAIL)
            logPrintf("#Input variable table grown to %d entries\n", static_cast<int>(mTab));
    }
}

// A body length of digits only, within the limit; else 0 with a log line
// (refused set).
size_t contentLength(bool& refused) {
    refused = false;
    const char* text = std::getenv("CONTENT_LENGTH");
    if (!text || !*text) return 0;
    const char* p = text;
    while (*p == ' ' || *p == '\t') ++p;
    size_t len = 0;
    bool digits = false, tooLarge = false;
    for (; *p >= '0' && *p <= '9'; ++p) {
        digits = true;
        if (!tooLarge) {
            len = len * 10 + static_cast<size_t>(*p - '0');
            if (len > xFcgiMaxContentLength) tooLarge = true;
        }
    }
    while (*p == ' ' || *p == '\t') ++p;
    if (!digits || *p) {
        logPrintf("#Refused CONTENT_LENGTH '%s': not a number; body not read\n", text);
        refused = true;
        return 0;
    }
    if (tooLarge) {
        logPrintf("#Refused CONTENT_LENGTH %s: above %zu bytes; body not read\n", text,
                  xFcgiMaxContentLength);
        refused = true;
        return 0;
    }
    return len;
}

}  // namespace

const char* xFcgiGetInput() {
    if (!bInputAvail) {
        logPrintf("#Logic ERROR: xFcgiGetInput call after input was read\n");
        return inpDataBuf.c_str();
    }
    bInputAvail = 0;
    bool refused = false;
    const size_t want = contentLength(refused);
    inputWhole = !refused;
    const char* query = std::getenv("QUERY_STRING");

    inpDataBuf.clear();
    bool queryCopied = false;
    if (query) {
        unsigned char first = static_cast<unsigned char>(query[0]);
        if (first >= 32 && first <= 127) {
            inpDataBuf = query;
            queryCopied = true;
        }
    }
    inpDataBuf.reserve(inpDataBuf.size() + want + 16);

    // The body follows the query string behind an "&", even when no byte
    // of it arrives.
    if (want > 0 && queryCopied) inpDataBuf += '&';
    size_t got = 0;
    std::vector<char> chunk(kReadChunk);
    while (got < want) {
        size_t ask = want - got < kReadChunk ? want - got : kReadChunk;
        errno = 0;
        size_t n = FCGI_fread(chunk.data(), 1, ask, FCGI_stdin);
        if (n == 0) {
            int err = errno;
            if (err) {
                logPrintf("#FastCGI Read problem; errno %d '%s'\n", err, std::strerror(err));
                logForceFlush();
                if (err == EPIPE) {
                    logClose();
                    std::exit(-1);
                }
            }
            // The response has no headers yet: the short body goes to the
            // log only, and what did arrive is parsed.
            logPrintf("#Fread failed! Errno %d; read %zu of %zu bytes\n", err, got, want);
            inputWhole = false;
            break;
        }
        const void* zero = std::memchr(chunk.data(), 0, n);
        size_t keep = zero ? static_cast<size_t>(static_cast<const char*>(zero) - chunk.data()) : n;
        inpDataBuf.append(chunk.data(), keep);
        got += n;
    }

    xFcgiPutClear();
    if (!inpDataBuf.empty() && inpDataBuf[0] == '&') inpDataBuf.erase(0, 1);
    return inpDataBuf.c_str();
}

bool xFcgiInputWhole() { return inputWhole; }

const char* xFcgiGetParsedInput(const char* input, int* imageXY) {
    if (!input) input = xFcgiGetInput();
    const size_t len = std::strlen(input);
    if (logCtrlFlgs & LOG_DETAIL) {
        const char* addr = std::getenv("REMOTE_ADDR");
        std::string title = addr ? std::string("Input Parameters from ") + addr : "Input Parameters";
        logDumpHex(title.c_str(), input, static_cast<int>(len));
    }

    dataTable.clear();
    mTab = kFirstTable;
    int x = -1, y = -1;
    std::string name, value;
    int lines = 1;
    bool inValue = false;

    bool full = false;
    auto store = [&]() {
        if (dataTable.size() >= xFcgiMaxInputEntries) {
            if (!full) logPrintf("# Input variable table is full\n");
            full = true;
            return;
        }
        InputEntry e;
        e.name = name;
        e.value = value;
        e.lines = lines;
        e.valueLength = value.size() + 1;
        dataTable.push_back(std::move(e));
        noteEntryAdded();
        name.clear();
        value.clear();
        lines = 1;
        inValue = false;
    };
    // Digits at input[i...]: their value (saturated) and the end.
    auto number = [&](size_t i, size_t* end) {
        int v = 0;
        while (i < len && input[i] >= '0' && input[i] <= '9') {
            if (v < 100000000) v = v * 10 + (input[i] - '0');
            ++i;
        }
        *end = i;
        return v;
    };

    for (size_t i = 0; i < len && !full; ++i) {
        const char c = input[i];
        const char next = i + 1 < len ? input[i + 1] : '\0';
        if (!inValue) {
            if (c == '=') {
                inValue = true;
                if (i + 1 == len) store();
            } else if (name.size() < xFcgiMaxInputName) {
                name += c;
            }
            continue;
        }
        if (c == '&' || (c == '?' && next >= '0' && next <= '9')) {
            store();
            if (c == '?') {
                size_t end;
                x = number(i + 1, &end);
                size_t comma = end;
                while (comma < len && input[comma] != ',') ++comma;
                if (comma >= len) break;
                if (comma + 1 < len && input[comma + 1] >= '0' && input[comma + 1] <= '9') {
                    y = number(comma + 1, &end);
                    i = end - 1;
                } else {
                    i = comma;
                }
            }
            continue;
        }
        if (i + 1 == len) {
            value += c == '+' ? ' ' : c;
            store();
            continue;
        }
        if (c == '%') {
            if (i + 2 >= len) {  // an escape cut off by the end ends the text
                store();
                break;
            }
            int hi = hexDigit(static_cast<unsigned char>(input[i + 1]));
            int lo = hexDigit(static_cast<unsigned char>(input[i + 2]));
            if (hi < 0 || lo < 0) {
                value += '%';  // not an escape: kept as it is
                continue;
            }
            char byte = static_cast<char>(hi * 16 + lo);
            if (byte == '\n') {
                if (!value.empty() && value.back() == '\r') value.pop_back();
                ++lines;
            }
            value += byte;
            i += 2;
            if (i + 1 == len) store();
            continue;
        }
        value += c == '+' ? ' ' : c;
    }

    kTab = dataTable.empty() ? 0 : static_cast<int>(dataTable.size()) - 1;
    if (imageXY) {
        imageXY[0] = x;
        imageXY[1] = y;
    }
    return input;
}

int xFcgiFindDataTable(const char* name, int n) {
    if (!name) return -1;
    if (n > 0) {
        std::string bare(name);
        return search(bare + "_" + std::to_string(n), n == 1 ? &bare : nullptr);
    }
    return search(name, nullptr);
}

int xFcgiFindData(const char* name, int count, const int* subscripts) {
    if (!name) return -1;
    return search(subscripted(name, count, subscripts), nullptr);
}

const char* xFcgiGetInpStr(const char* name) {
    const std::string* v = valueOf(xFcgiFindDataTable(name, 0));
    return v ? v->c_str() : nullptr;
}

const char* xFcgiGetStr(const char* name, int n) {
    const std::string* v = valueOf(xFcgiFindDataTable(name, n));
    if (v) return v->c_str();
    const std::string shown = name ? name : "";
    notFoundText = n < 1 ? shown + " not found!" : shown + "[" + std::to_string(n) + "] not found!";
    return notFoundText.c_str();
}

const char* xFcgiGetStrX(const char* name, int count, const int* subscripts) {
    const std::string* v = valueOf(xFcgiFindData(name, count, subscripts));
    if (v) return v->c_str();
    notFoundText = std::string(name ? name : "") + " not found!";
    return notFoundText.c_str();
}

int32_t xFcgiGetInt(const char* name, int n) {
    const std::string* v = valueOf(xFcgiFindDataTable(name, n));
    return v && hasDigit(*v) ? toInt(*v) : 0;
}

uint32_t xFcgiGetHex(const char* name, int n) {
    const std::string* v = valueOf(xFcgiFindDataTable(name, n));
    return v && hasDigit(*v) ? toHex(*v) : 0;
}

double xFcgiGetDbl(const char* name, int n) {
    const std::string* v = valueOf(xFcgiFindDataTable(name, n));
    return v ? toDbl(*v) : 0.0;
}

int32_t xFcgiGetIntX(const char* name, int count, const int* subscripts) {
    const std::string* v = valueOf(xFcgiFindData(name, count, subscripts));
    if (!v) return 0;
    return hasDigit(*v) ? toInt(*v) : -1;
}

uint32_t xFcgiGetHexX(const char* name, int count, const int* subscripts) {
    const std::string* v = valueOf(xFcgiFindData(name, count, subscripts));
    return v && hasDigit(*v) ? toHex(*v) : 0;
}

double xFcgiGetDblX(const char* name, int count, const int* subscripts) {
    const std::string* v = valueOf(xFcgiFindData(name, count, subscripts));
    return v ? toDbl(*v) : 0.0;
}

const char* xFcgiGetOrd(const tcpHTML* tmpl, int i, int* lengthOut, int* countOut) {
    if (countOut) *countOut = 0;
    if (!tmpl) return nullptr;
    const TemplateFieldTable* table = nullptr;
    const char* label = nullptr;
    if (!tmpl->fromwebFields.empty()) {
        table = &tmpl->fromwebFields;
        label = "fromWeb";
    } else if (!tmpl->mainFields.empty()) {
        table = &tmpl->mainFields;
        label = "dataVar";
    } else {
        return nullptr;
    }
    const int count = static_cast<int>(table->size());
    if (countOut) *countOut = count;
    if (i < 0 || i >= count) {
        if (logCtrlFlgs & LOG_DETAIL) logPrintf("#Asked for %d %s but max is %d\n", i, label, count);
        return nullptr;
    }
    const TemplateField& f = (*table)[i];
    if (lengthOut) *lengthOut = static_cast<int>(f.length);
    return f.name.c_str();
}

const char* xFcgiChgInpStr(const char* name, const char* value) {
    if (!name || !value) return nullptr;
    const char* result = value;
    int idx = xFcgiFindDataTable(name, 0);
    if (idx >= 0) {
        InputEntry& e = dataTable[idx];
        const size_t len = std::strlen(value);
        if (len < e.valueLength)
            result = nullptr;  // in the old value's place
        else
            e.valueLength = len;
        e.value = value;
        e.lines = 1;
    } else {
        InputEntry e;
        e.name = name;
        e.value = value;
        e.valueLength = e.value.size();
        dataTable.push_back(std::move(e));
        noteEntryAdded();
    }
    kTab = static_cast<int>(dataTable.size()) - 1;
    return result;
}

int xFcgiInputCount() { return static_cast<int>(dataTable.size()); }

const char* xFcgiInputName(int i) {
    return i >= 0 && i < xFcgiInputCount() ? dataTable[i].name.c_str() : nullptr;
}

const char* xFcgiInputValue(int i) {
    return i >= 0 && i < xFcgiInputCount() ? dataTable[i].value.c_str() : nullptr;
}

int xFcgiInputLines(int i) { return i >= 0 && i < xFcgiInputCount() ? dataTable[i].lines : 0; }
