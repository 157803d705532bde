// Parameter entries of the host message record. Entries are read and
// written with memcpy: the text is a byte array and entries sit at any
// 4-byte boundary of it.
#include "packmsg.h"

#include "funcname.h"
#include "logprint.h"
#include "machine.h"
#include "msgbuf.h"
#include "vmu.h"

#include <cstring>

// A failed check of a caller's use of the record: logged, and the call
// refuses.
#define INSIST(cond) ((cond) ? true : (logPrintf("#insist failed at %d of %s\n", __LINE__, "packmsg.c"), false))

namespace {

constexpr int kEntry = sizeof(MsgParam);
constexpr int kEntryB = sizeof(MsgParamB);

int pad4(uint32_t n) { return static_cast<int>((n + 3) & ~3u); }

bool isLong(int16_t type) { return type == kPrmLongLocal || type == kPrmLongIo; }
bool isString(int16_t type)
{
    return type == kPrmStr || type == kPrmLocal || type == kPrmIo || isLong(type);
}

// One entry as read from text.
struct Entry {
    int at = 0;        // offset in text
    int bytes = 0;     // bytes the entry takes in text
    int16_t type = 0;
    uint32_t size = 0;
    int32_t data = 0;
};

// Reads the entry at `at`; false when it is no entry or does not fit the
// first `limit` bytes of text.
bool readEntry(const qormsg *msg, int at, int limit, Entry &e)
{
    if (at < 0 || at + kEntry > limit)
        return false;
    MsgParam p;
    std::memcpy(&p, msg->text + at, kEntry);
    e.at = at;
    e.type = p.type;
    e.size = p.size;
    e.data = p.data;
    switch (p.type) {
    case kPrmChar:
    case kPrmShort:
    case kPrmInt:
    case kPrmLocal:
    case kPrmIo: e.bytes = kEntry; break;
    case kPrmStr: e.bytes = kEntry + pad4(p.size); break;
    case kPrmLongLocal:
    case kPrmLongIo: {
        if (at + kEntryB > limit)
            return false;
        MsgParamB b;
        std::memcpy(&b, msg->text + at, kEntryB);
        e.size = b.size;
        e.data = b.data;
        e.bytes = kEntryB;
        break;
    }
    default: return false;
    }
    return at + e.bytes <= limit;
}

int usedLen(const qormsg *msg)
{
    return msg->len < 0 ? 0 : msg->len > kQorMsgText ? kQorMsgText : msg->len;
}

// Entry i (from 1) within the used text.
bool findEntry(const qormsg *msg, int i, Entry &e)
{
    if (i < 1 || i > msg->prms)
        return false;
    const int limit = usedLen(msg);
    int at = 0;
    for (int k = 1; k <= i; ++k) {
        if (!readEntry(msg, at, limit, e))
            return false;
        at += e.bytes;
    }
    return true;
}

// Entry i of a caller who asked for it: beyond the count, or damaged.
bool wantEntry(const qormsg *msg, int i, Entry &e)
{
    if (!msg)
        return false;
    if (i < 1 || i > msg->prms) {
        logPrintf("%s Want param %d of only %d; func %d; sub %d\n", "#getPrm", i, msg->prms, msg->func,
                  msg->subfunc);
        return false;
    }
    return INSIST(findEntry(msg, i, e));
}

bool roomFor(const qormsg *msg, int bytes)
{
    return INSIST(msg && msg->len >= 0 && msg->len < kQorMsgPutLimit && msg->len + bytes <= kQorMsgText);
}

void append(qormsg *msg, const void *entry, int bytes)
{
    std::memcpy(msg->text + msg->len, entry, bytes);
    msg->len = static_cast<int16_t>(msg->len + bytes);
    ++msg->prms;
}

bool putNumber(qormsg *msg, int16_t type, uint16_t size, const unsigned char data[4])
{
    if (!roomFor(msg, kEntry))
        return false;
    MsgParam p{size, type, 0};
    std::memcpy(&p.data, data, 4);
    append(msg, &p, kEntry);
    return true;
}

// Where the string of entry e lies after every check, or null (logged).
const char *locate(const qormsg *msg, const Entry &e)
{
    const uint32_t offset = static_cast<uint32_t>(e.data);
    switch (e.type) {
    case kPrmStr: return msg->text + e.at + kEntry;
    case kPrmLocal:
    case kPrmLongLocal: {
        uint32_t size = 0;
        const char *base = getLvmuBase(&size);
        if (!INSIST(base && offset <= size && e.size <= size - offset))
            return nullptr;
        return base + offset;
    }
    case kPrmIo:
    case kPrmLongIo: {
        uint32_t start = 0, bytes = 0;
        const char *pool = pmGetMap(kIoPool);
        if (!INSIST(pool && pmRunOf(kIoPool, offset, &start, &bytes) &&
                    e.size <= bytes - (offset - start)))
            return nullptr;
        return pool + offset;
    }
    default: return nullptr;
    }
}

// Moves the I/O-buffer entries of msg along with a buffer that moved.
void rebase(qormsg *msg, uint32_t from, uint32_t to)
{
    int at = 0;
    Entry e;
    for (int k = 0; k < msg->prms && readEntry(msg, at, msg->len, e); ++k, at += e.bytes) {
        if (e.type != kPrmIo && e.type != kPrmLongIo)
            continue;
        const int32_t moved = static_cast<int32_t>(static_cast<uint32_t>(e.data) - from + to);
        std::memcpy(msg->text + at + offsetof(MsgParam, data) + (isLong(e.type) ? 4 : 0), &moved, 4);
    }
}

} // namespace

void initMsg(qormsg *msg)
{
    if (!msg)
        return;
    msg->prms = 0;
    msg->len = 0;
    msg->index = 0;
}

bool putPrmChar(qormsg *msg, char c)
{
    const int32_t v = static_cast<unsigned char>(c);
    unsigned char data[4];
    std::memcpy(data, &v, 4);
    return putNumber(msg, kPrmChar, 1, data);
}

bool putPrmShort(qormsg *msg, int16_t v)
{
    unsigned char data[4] = {};
    mstshort(v, data);
    return putNumber(msg, kPrmShort, 2, data);
}

bool putPrmInt(qormsg *msg, int32_t v)
{
    unsigned char data[4];
    mstint(v, data);
    return putNumber(msg, kPrmInt, 4, data);
}

bool putPrmLong(qormsg *msg, int32_t v) { return putPrmInt(msg, v); }

bool putPrmStr(qormsg *msg, const void *data, int len)
{
    if (!INSIST(msg && (data || len == 0)))
        return false;
    const uint32_t size = len < 0 ? static_cast<uint32_t>(std::strlen(static_cast<const char *>(data)) + 1)
                                  : static_cast<uint32_t>(len);
    const bool longString = size > kQorShortMax;
    const int entryBytes = longString ? kEntryB : kEntry;
    const int padded = pad4(size);
    if (!roomFor(msg, entryBytes))
        return false;

    if (!longString && padded < kQorInlineBelow && msg->len + kEntry + padded <= kQorMsgText) {
        MsgParam p{static_cast<uint16_t>(size), kPrmStr, 0};
        char entry[kEntry + kQorInlineBelow] = {};
        std::memcpy(entry, &p, kEntry);
        std::memcpy(entry + kEntry, data, size);
        append(msg, entry, kEntry + padded);
        return true;
    }

    int16_t type;
    uint32_t offset;
    uint32_t lvmuSize = 0;
    const char *lvmu = getLvmuBase(&lvmuSize);
    const uintptr_t at = reinterpret_cast<uintptr_t>(data), base = reinterpret_cast<uintptr_t>(lvmu);
    if (lvmu && at >= base && at - base <= lvmuSize && size <= lvmuSize - (at - base)) {
        type = longString ? kPrmLongLocal : kPrmLocal;
        offset = static_cast<uint32_t>(at - base);
    } else {
        // Into the I/O buffer, after the strings this record put there.
        const uint64_t need = uint64_t{static_cast<uint32_t>(msg->index)} + static_cast<uint32_t>(padded);
        uint32_t bufSize = 0, bufOffset = 0;
        char *buf = getIoBuffer(&bufSize, &bufOffset);
        if (need > bufSize) {
            if (!INSIST(need <= 0x7FFFFFFF))
                return false;
            const uint32_t oldOffset = bufOffset;
            buf = setIoBufferSize(static_cast<uint32_t>(need));
            if (!buf)
                return false;
            getIoBuffer(&bufSize, &bufOffset);
            if (msg->index > 0 && bufOffset != oldOffset)
                rebase(msg, oldOffset, bufOffset);
        }
        std::memcpy(buf + msg->index, data, size);
        type = longString ? kPrmLongIo : kPrmIo;
        offset = bufOffset + static_cast<uint32_t>(msg->index);
        msg->index = static_cast<int32_t>(need);
    }
    if (longString) {
        const MsgParamB b{0, type, size, static_cast<int32_t>(offset)};
        append(msg, &b, kEntryB);
    } else {
        const MsgParam p{static_cast<uint16_t>(size), type, static_cast<int32_t>(offset)};
        append(msg, &p, kEntry);
    }
    return true;
}

int msgExpected(const qormsg *msg, int received)
{
    if (received < kQorMsgHeader)
        return kQorMsgHeader;  // the header itself is incomplete
    if (msg->len < 0 || msg->len > kQorMsgText || received != kQorMsgHeader + msg->len)
        return kQorMsgHeader + msg->len;
    if (msg->prms < 0)
        return -1;
    // The entries must fill the text used, exactly.
    int at = 0;
    Entry e;
    for (int k = 0; k < msg->prms; ++k) {
        if (!readEntry(msg, at, kQorMsgText, e))
            return -1;
        at += e.bytes;
    }
    return kQorMsgHeader + at;
}

int getNumPrms(const qormsg *msg) { return msg ? msg->prms : 0; }

const MsgParam *getPrm(const qormsg *msg, int i)
{
    Entry e;
    if (!wantEntry(msg, i, e))
        return nullptr;
    return reinterpret_cast<const MsgParam *>(msg->text + e.at);
}

int getPrmLen(const qormsg *msg, int i)
{
    Entry e;
    return wantEntry(msg, i, e) ? static_cast<int>(e.size) : -1;
}

int getPrmType(const qormsg *msg, int i)
{
    Entry e;
    if (!wantEntry(msg, i, e))
        return -1;
    return isString(e.type) ? static_cast<int>(kPrmStr) : e.type;
}

unsigned char getPrmChar(const qormsg *msg, int i)
{
    Entry e;
    if (!wantEntry(msg, i, e) || !INSIST(e.type == kPrmChar))
        return 255;
    return static_cast<unsigned char>(e.data);
}

int16_t getPrmShort(const qormsg *msg, int i)
{
    Entry e;
    if (!wantEntry(msg, i, e) || !INSIST(e.type == kPrmShort))
        return -1;
    return mldshort(msg->text + e.at + offsetof(MsgParam, data));
}

int32_t getPrmInt(const qormsg *msg, int i)
{
    Entry e;
    if (!wantEntry(msg, i, e) || !INSIST(e.type == kPrmInt))
        return -1;
    return mldint(msg->text + e.at + offsetof(MsgParam, data));
}

int32_t getPrmLong(const qormsg *msg, int i) { return getPrmInt(msg, i); }

const char *getPrmPtr(const qormsg *msg, int i)
{
    Entry e;
    if (!wantEntry(msg, i, e) || !INSIST(isString(e.type)))
        return nullptr;
    return locate(msg, e);
}

const char *getPrmSafePtr(const qormsg *msg, int i)
{
    const char *p = getPrmPtr(msg, i);
    return p ? p : "";
}

const char *getPrmAdrs(const qormsg *msg, int i)
{
    Entry e;
    if (!wantEntry(msg, i, e) || e.type == kPrmStr || !isString(e.type))
        return nullptr;
    return locate(msg, e);
}

int getPrmStrsz(const qormsg *msg, int i)
{
    Entry e;
    if (!wantEntry(msg, i, e) || !INSIST(isString(e.type)))
        return -1;
    return static_cast<int>(e.size);
}

char *getPrmStr(const qormsg *msg, int i, char *out, size_t outSize)
{
    Entry e;
    if (!out || outSize == 0 || !wantEntry(msg, i, e) || !INSIST(isString(e.type)))
        return nullptr;
    const char *p = locate(msg, e);
    if (!p)
        return nullptr;
    const size_t n = e.size < outSize - 1 ? e.size : outSize - 1;
    std::memcpy(out, p, n);
    out[n] = '\0';
    return out;
}

void dumpQorMsg(const char *title, const qormsg *msg)
{
    if (!msg)
        return;
    logPrintf("#%s: to P%ld from P%d answer Q%d mid %d func %d %s sub %d prms %d len %d index %d\n",
              title ? title : "qormsg", msg->pri, msg->pid, msg->qid, msg->mid, msg->func,
              funcName(msg->func), msg->subfunc, msg->prms, msg->len, msg->index);
    logDumpHex(nullptr, msg->text, usedLen(msg));
}
