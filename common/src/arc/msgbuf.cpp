// The I/O and CDA buffers of host message parameters, and the host's local
// memory.
#include "msgbuf.h"

#include "funcname.h"
#include "logprint.h"
#include "msgstate.h"
#include "packmsg.h"
#include "vmu.h"

#include <cstring>
#include <unistd.h>

namespace {

constexpr int kFuncGrowIo = 7;    // dFgrowbuf
constexpr int kFuncGrowCda = 8;   // dFgrowcda

// A run of the I/O pool; size 0: none.
struct Buffer {
    uint32_t offset = 0;
    uint32_t size = 0;
};

struct Buffers {
    const char *lvmu = nullptr;
    uint32_t lvmuSize = 0;
    Buffer io, cda;
};

Buffers &buffers()
{
    static Buffers b;
    return b;
}

char *addressOf(const Buffer &b)
{
    uint32_t poolSize = 0;
    char *pool = pmGetMap(kIoPool, &poolSize);
    if (!pool || b.size == 0 || b.offset > poolSize || b.size > poolSize - b.offset)
        return nullptr;
    return pool + b.offset;
}

// Whether [offset, offset + size) lies in one allocated run of the pool
// (of owner, when given).
bool isRun(uint32_t offset, uint32_t size, int owner = -1)
{
    uint32_t start = 0, bytes = 0;
    uint16_t runOwner = 0;
    return size > 0 && pmRunOf(kIoPool, offset, &start, &bytes, &runOwner) &&
           size <= bytes - (offset - start) && (owner < 0 || runOwner == owner);
}

// Runs are recorded for the low 16 bits of their process's id.
uint16_t ownerOf(int32_t pid) { return static_cast<uint16_t>(pid); }

// What the main process does for a buffer request: a new run with the
// current bytes in it; the current run is freed. False when the pool has
// no room (the current run is kept).
bool grow(Buffer &b, uint32_t wanted, uint16_t owner)
{
    const uint32_t offset = pmAlloc(kIoPool, wanted, owner);
    if (offset == 0)
        return false;
    uint32_t start = 0, bytes = 0;
    pmRunOf(kIoPool, offset, &start, &bytes);
    char *pool = pmGetMap(kIoPool);
    if (b.size > 0 && isRun(b.offset, b.size, owner)) {
        std::memcpy(pool + offset, pool + b.offset, b.size < bytes ? b.size : bytes);
        pmFree(kIoPool, b.offset, nullptr);
    }
    b = Buffer{offset, bytes};
    return true;
}

char *resize(Buffer &b, uint32_t wanted, int func)
{
    if (wanted <= b.size && addressOf(b))
        return addressOf(b);
    const QorProc main = msgState().main;
    if (main.pid <= 0 || main.pid == getpid()) {
        if (!grow(b, wanted, ownerOf(getpid())))
            return nullptr;
        return addressOf(b);
    }
    qormsg req{};
    initMsg(&req);
    putPrmInt(&req, static_cast<int32_t>(wanted));
    putPrmInt(&req, static_cast<int32_t>(b.offset));
    putPrmInt(&req, static_cast<int32_t>(b.size));
    if (!apiSend(&req, func, 0))
        return nullptr;
    const uint32_t offset = static_cast<uint32_t>(getPrmInt(&req, 1));
    const uint32_t size = static_cast<uint32_t>(getPrmInt(&req, 2));
    if (offset == 0 || size < wanted || !isRun(offset, size)) {
        logPrintf("#%s: main process P%d gave no buffer of %u bytes\n", funcName(func), main.pid, wanted);
        return nullptr;
    }
    b = Buffer{offset, size};
    return addressOf(b);
}

} // namespace

void setBaseLvmu(const void *base, uint32_t size)
{
    buffers().lvmu = static_cast<const char *>(base);
    buffers().lvmuSize = base ? size : 0;
}

const char *getLvmuBase(uint32_t *size)
{
    if (size)
        *size = buffers().lvmuSize;
    return buffers().lvmu;
}

char *getIoBuffer(uint32_t *size, uint32_t *offset)
{
    const Buffer &b = buffers().io;
    char *at = addressOf(b);
    if (size)
        *size = at ? b.size : 0;
    if (offset)
        *offset = at ? b.offset : 0;
    return at;
}

char *setIoBufferSize(uint32_t size) { return resize(buffers().io, size, kFuncGrowIo); }

void unmapIoBuffer() { buffers().io = Buffer{}; }

char *getCdaBuffer(uint32_t *size)
{
    const Buffer &b = buffers().cda;
    char *at = addressOf(b);
    if (size)
        *size = at ? b.size : 0;
    return at;
}

char *setCdaBufferSize(uint32_t size) { return resize(buffers().cda, size, kFuncGrowCda); }

void unmapCdaBuffer() { buffers().cda = Buffer{}; }

bool passCdaForward(qormsg *msg)
{
    Buffer &cda = buffers().cda;
    if (!msg || cda.size == 0)
        return false;
    const int16_t prms = msg->prms, len = msg->len;
    if (!putPrmInt(msg, static_cast<int32_t>(cda.offset)) || !putPrmInt(msg, static_cast<int32_t>(cda.size))) {
        msg->prms = prms;  // both or neither
        msg->len = len;
        return false;
    }
    cda = Buffer{};
    return true;
}

char *getCdaLocal(const qormsg *msg, int i, uint32_t *size)
{
    if (size)
        *size = 0;
    if (getPrmType(msg, i) != kPrmInt || getPrmType(msg, i + 1) != kPrmInt)
        return nullptr;
    const uint32_t offset = static_cast<uint32_t>(getPrmInt(msg, i));
    const uint32_t bytes = static_cast<uint32_t>(getPrmInt(msg, i + 1));
    if (!isRun(offset, bytes)) {
        logPrintf("#getCdaLocal: P%d passed no CDA buffer (offset 0x%x, %u bytes)\n", msg->pid, offset, bytes);
        return nullptr;
    }
    buffers().cda = Buffer{offset, bytes};
    if (size)
        *size = bytes;
    return addressOf(buffers().cda);
}

bool answerBufferRequest(qormsg *msg)
{
    if (!msg || (msg->func != kFuncGrowIo && msg->func != kFuncGrowCda))
        return false;
    const QorProc requester{msg->pid, msg->qid};
    Buffer b;
    bool ok = getNumPrms(msg) == 3 && getPrmType(msg, 1) == kPrmInt;
    if (ok) {
        const uint32_t wanted = static_cast<uint32_t>(getPrmInt(msg, 1));
        b.offset = static_cast<uint32_t>(getPrmInt(msg, 2));
        b.size = static_cast<uint32_t>(getPrmInt(msg, 3));
        // Only a run of the requester's own is copied and freed.
        if (b.size > 0 && !isRun(b.offset, b.size, ownerOf(requester.pid)))
            b = Buffer{};
        ok = wanted > 0 && grow(b, wanted, ownerOf(requester.pid));
    }
    if (!ok)
        logPrintf("#%s for P%d refused\n", funcName(msg->func), requester.pid);
    initMsg(msg);
    putPrmInt(msg, ok ? static_cast<int32_t>(b.offset) : 0);
    putPrmInt(msg, ok ? static_cast<int32_t>(b.size) : 0);
    sendResponse(msg, requester);
    return true;
}
