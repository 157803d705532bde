// Session table records: the record handle, and finding, creating and
// freeing records.
#include "ZelSessionTable.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include "ZelBuffer.h"
#include "ZelName.h"
#include "gospid.h"
#include "logprint.h"

using namespace sesstbl;

namespace {

// Passes over the table while every free record is locked by a creator in
// another process; then the table counts as full.
constexpr int kClaimPasses = 200;
constexpr useconds_t kClaimPause = 1000;

// Unpredictable words for the session GUID, from the kernel.
bool FillRandom(uint32_t *words, std::size_t n) {
    unsigned char *p = reinterpret_cast<unsigned char *>(words);
    std::size_t want = n * sizeof(uint32_t), got = 0;
    while (got < want) {
        ssize_t r = getrandom(p + got, want - got, 0);
        if (r > 0) {
            got += static_cast<std::size_t>(r);
        } else if (r < 0 && errno != EINTR) {
            break;
        }
    }
    if (got < want) {
        int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
        while (fd >= 0 && got < want) {
            ssize_t r = read(fd, p + got, want - got);
            if (r <= 0) break;
            got += static_cast<std::size_t>(r);
        }
        if (fd >= 0) close(fd);
    }
    if (got < want) {
        // No random source at all: no session rather than a guessable one.
        logPrintf("#Session table: no random source for session ids (errno %d)\n", errno);
        return false;
    }
    return true;
}

// REMOTE_ADDR as four octets; anything but four dotted numbers 0-255
// (IPv6, garbage, unset) gives 0.0.0.0.
void ParseClientAddress(const char *text, uint8_t out[4]) {
    std::memset(out, 0, 4);
    if (!text) return;
    uint8_t octets[4];
    const char *p = text;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            if (*p != '.') return;
            ++p;
        }
        int value = 0, digits = 0;
        while (*p >= '0' && *p <= '9') {
            value = value * 10 + (*p - '0');
            if (++digits > 3 || value > 255) return;
            ++p;
        }
        if (digits == 0) return;
        octets[i] = static_cast<uint8_t>(value);
    }
    if (*p != '\0') return;
    std::memcpy(out, octets, 4);
}

}  // namespace

// ---------------------------------------------------------------------------
// Record handle

CZelSessionTable::Record::Record(CZelSessionTable *table, unsigned i, bool wait, bool touch)
    : m_pTable(table),
      m_pRecord(table ? table->RecordAt(i) : nullptr),
      m_nPos(i),
      m_bTouch(touch),
      m_Lock(table, static_cast<int>(i), 1, wait) {
    LOG_ASSERT(m_pRecord != nullptr);
    if (touch && Writable()) Touch();
}

CZelSessionTable::Record::~Record() {
    if (m_bTouch && Writable()) {
        try {
            time_t now = time(nullptr);
            SetLastAccessed(now);
            m_pTable->SetLastAccessed(now);
        } catch (...) {
            // The lock is released below whatever happened to the stamp.
        }
    }
}

bool CZelSessionTable::Record::Writable() const {
    return m_pRecord && m_Lock.IsLockSuccessful() && m_pTable->IsAttached();
}

void CZelSessionTable::Record::StoreClient() {
    ParseClientAddress(getenv("REMOTE_ADDR"), m_pRecord->clientAddr);
    m_pRecord->lastPid = static_cast<int32_t>(gosProcessId());
}

void CZelSessionTable::Record::Touch() {
    time_t now = time(nullptr);
    StoreClient();
    SetLastAccessed(now);
    m_pTable->SetLastAccessed(now);
}

unsigned CZelSessionTable::Record::GetLocalSessionId() const { return m_pRecord ? m_pRecord->localId : 0; }
unsigned CZelSessionTable::Record::GetDtpSessionId() const { return m_pRecord ? m_pRecord->dtpId : 0; }

void CZelSessionTable::Record::SetDtpSessionId(unsigned id) {
    if (Writable()) m_pRecord->dtpId = id;
}

void CZelSessionTable::Record::GetSessionGuid(Guid_t &guid) const {
    guid = Guid_t();
    if (m_pRecord) guid = m_pRecord->guid;
}

unsigned CZelSessionTable::Record::GetSessionPidPool() const { return m_pRecord ? m_pRecord->pidPool : 0; }

void CZelSessionTable::Record::SetSessionPidPool(unsigned pool) {
    if (Writable()) m_pRecord->pidPool = pool;
}

time_t CZelSessionTable::Record::GetLastAccessed() const {
    return m_pRecord ? WordToTime(m_pRecord->lastAccessed) : 0;
}

void CZelSessionTable::Record::SetLastAccessed(time_t t) {
    if (!Writable()) return;
    m_pRecord->lastAccessed = TimeToWord(t);
    if (m_pRecord->clientAddr[0] != 0 && m_pRecord->lastPid == static_cast<int32_t>(gosProcessId())) return;
    StoreClient();
}

bool CZelSessionTable::Record::IsOpen() const { return m_pRecord && (m_pRecord->flags & kFlagOpen); }

void CZelSessionTable::Record::SetOpenState(bool open) {
    if (!Writable()) return;
    m_pRecord->flags = open ? (m_pRecord->flags | kFlagOpen) : (m_pRecord->flags & ~kFlagOpen);
}

bool CZelSessionTable::Record::IsProgramStarted() const {
    return m_pRecord && (m_pRecord->flags & kFlagProgramStarted);
}

void CZelSessionTable::Record::SetProgramStartedState(bool started) {
    if (!Writable()) return;
    m_pRecord->flags = started ? (m_pRecord->flags | kFlagProgramStarted)
                               : (m_pRecord->flags & ~kFlagProgramStarted);
}

void CZelSessionTable::Record::GetMcsIds(unsigned &a, unsigned &b, unsigned &c, unsigned &d) const {
    a = b = c = d = 0;
    if (!m_pRecord) return;
    a = m_pRecord->mcsIds[0];
    b = m_pRecord->mcsIds[1];
    c = m_pRecord->mcsIds[2];
    d = m_pRecord->mcsIds[3];
}

void CZelSessionTable::Record::SetMcsIds(unsigned a, unsigned b, unsigned c, unsigned d) {
    if (!Writable()) return;
    m_pRecord->mcsIds[0] = a;
    m_pRecord->mcsIds[1] = b;
    m_pRecord->mcsIds[2] = c;
    m_pRecord->mcsIds[3] = d;
}

void CZelSessionTable::Record::GetLocap(CZelName &name) const {
    if (!m_pRecord) {
        name = "";
        return;
    }
    const char *p = m_pRecord->locap;
    name = std::string(p, strnlen(p, kLocapSize));
}

void CZelSessionTable::Record::SetLocap(const CZelName &name) {
    if (!Writable()) return;
    std::size_t n = std::min<std::size_t>(name.GetSize(), kLocapSize);
    n = strnlen(name.GetData(), n);
    std::memset(m_pRecord->locap, ' ', kLocapSize);
    std::memcpy(m_pRecord->locap, name.GetData(), n);
}

void CZelSessionTable::Record::GetPib(CBuffer &b) const {
    if (m_pRecord) b.AddChars(reinterpret_cast<const char *>(m_pRecord->pib), kPibSize);
}

void CZelSessionTable::Record::SetPib(const CBuffer &b) {
    if (!Writable()) return;
    int n = std::min(std::max(b.GetLength(), 0), kPibSize);
    std::memset(m_pRecord->pib, 0, kPibSize);
    std::memcpy(m_pRecord->pib, b.GetBuffer(), static_cast<std::size_t>(n));
}

void CZelSessionTable::Record::Remove() {
    if (!Writable()) return;
    // The file goes first (also for a record that is already free), then
    // the record; the file is not tried a second time.
    m_pTable->RemoveLatestDataFile(*m_pRecord);
    m_pRecord->localId = 0;
}

// ---------------------------------------------------------------------------
// Table-wide record operations

unsigned CZelSessionTable::GetNumberOfNotEmptyEntries() const {
    unsigned n = 0;
    for (unsigned i = 0; i < m_nRecords; ++i)
        if (RecordAt(i)->localId != 0) ++n;
    return n;
}

void CZelSessionTable::RemoveByPos(unsigned i) {
    SessionRecord *rec = RecordAt(i);
    if (!rec) return;
    // The screen data is the user's: it goes with the session.
    if (rec->localId != 0) RemoveLatestDataFile(*rec);
    rec->localId = 0;
}

Result CZelSessionTable::ExpireAll() {
    if (!IsAttached()) return Result::SessTblIPCError;
    Lock lock(this, Lock::ControlBlockLock, true);
    for (unsigned i = 0; i < m_nRecords; ++i) RemoveByPos(i);
    return Result::Success;
}

// ---------------------------------------------------------------------------
// Lookups

namespace {

template <class F>
Result Guarded(F f) {
    try {
        return f();
    } catch (const CZelSessionTable::Exception &e) {
        return e.GetResult();
    } catch (Result r) {
        return r;
    } catch (...) {
        return Result::Unknown;
    }
}

}  // namespace

Result CZelSessionTable::Get(unsigned id, Record **out, bool wait, bool touch) {
    if (out) *out = nullptr;
    if (id == 0 && !out) return Result::Success;
    std::unique_ptr<Record> h;
    Result r = GetRecord(id, h, wait, touch);
    if (out) *out = h.release();
    return r;
}

Result CZelSessionTable::Get(const Guid_t &guid, Record **out, bool wait, bool touch) {
    if (!out) return Result::Success;
    *out = nullptr;
    std::unique_ptr<Record> h;
    Result r = GetRecord(guid, h, wait, touch);
    *out = h.release();
    return r;
}

Result CZelSessionTable::GetByPidPool(unsigned pool, Record **out, bool wait, bool touch) {
    if (out) *out = nullptr;
    if (pool == 0 && !out) return Result::Success;
    std::unique_ptr<Record> h;
    Result r = GetRecordByPidPool(pool, h, wait, touch);
    if (out) *out = h.release();
    return r;
}

Result CZelSessionTable::Get(unsigned id, std::unique_ptr<Record> &out, bool wait, bool touch) {
    out.reset();
    return GetRecord(id, out, wait, touch);
}

Result CZelSessionTable::Get(const Guid_t &guid, std::unique_ptr<Record> &out, bool wait, bool touch) {
    out.reset();
    return GetRecord(guid, out, wait, touch);
}

Result CZelSessionTable::GetByPidPool(unsigned pool, std::unique_ptr<Record> &out, bool wait, bool touch) {
    out.reset();
    return GetRecordByPidPool(pool, out, wait, touch);
}

template <class Match>
bool CZelSessionTable::FindRecord(uint32_t id, Match match, unsigned &pos) {
    auto hint = m_PositionHints.find(id);
    if (hint != m_PositionHints.end() && hint->second < m_nRecords && match(*RecordAt(hint->second))) {
        pos = hint->second;
        return true;
    }
    for (unsigned i = 0; i < m_nRecords; ++i) {
        if (!match(*RecordAt(i))) continue;
        RememberPosition(id, i);
        pos = i;
        return true;
    }
    return false;
}

void CZelSessionTable::RememberPosition(uint32_t id, unsigned pos) {
    // Hints of long-gone sessions are dropped now and then.
    if (m_PositionHints.size() >= 2 * static_cast<std::size_t>(m_nRecords) + 64) m_PositionHints.clear();
    m_PositionHints[id] = pos;
}

Result CZelSessionTable::GetRecord(unsigned id, std::unique_ptr<Record> &out, bool wait, bool touch) {
    Result r = Guarded([&]() -> Result {
        if (id == 0) return ClaimFreeRecord(out, touch);
        unsigned i = 0;
        if (!FindRecord(id, [id](const SessionRecord &rec) { return rec.localId == id; }, i))
            return Result::SessTblInvalidSessId;
        out = std::make_unique<Record>(this, i, wait, touch);
        if (!out->IsLockSuccessful()) return Result::SessTblRecordLocked;
        if (out->GetLocalSessionId() != id) return Result::SessTblInvalidSessId;
        return Result::Success;
    });
    if (r != Result::Success && r != Result::SessTblRecordLocked) out.reset();
    return r;
}

Result CZelSessionTable::GetRecord(const Guid_t &guid, std::unique_ptr<Record> &out, bool wait, bool touch) {
    Result r = Guarded([&]() -> Result {
        // Never-used records carry the zero GUID: it names no session.
        if (guid.IsZero()) return Result::SessTblInvalidSessGuid;
        // A GUID's first word is the local id of its session shifted left
        // by 5: the same position hint serves both look-ups.
        unsigned i = 0;
        if (!FindRecord(guid[0] >> 5, [&guid](const SessionRecord &rec) { return guid == rec.guid; }, i))
            return Result::SessTblInvalidSessGuid;
        out = std::make_unique<Record>(this, i, wait, touch);
        if (!out->IsLockSuccessful()) return Result::SessTblRecordLocked;
        // Claimed anew while this process waited for the lock.
        if (!(guid == RecordAt(i)->guid)) return Result::SessTblInvalidSessGuid;
        return Result::Success;
    });
    if (r != Result::Success && r != Result::SessTblRecordLocked) out.reset();
    return r;
}

Result CZelSessionTable::GetRecordByPidPool(unsigned pool, std::unique_ptr<Record> &out, bool wait,
                                            bool touch) {
    Result r = Guarded([&]() -> Result {
        if (pool == 0) {
            Result c = ClaimFreeRecord(out, touch);
            if (c == Result::Success) PickPidPool(*out);
            return c;
        }
        for (unsigned i = 0; i < m_nRecords; ++i) {
            SessionRecord *rec = RecordAt(i);
            if (rec->pidPool != pool) continue;
            unsigned id = rec->localId;
            out = std::make_unique<Record>(this, i, id != 0 && wait, touch);
            if (!out->IsLockSuccessful()) return Result::SessTblRecordLocked;
            if (rec->localId != id) return Result::SessTblInvalidSessId;
            return Result::Success;
        }
        return Result::SessTblInvalidSessId;
    });
    if (r != Result::Success && r != Result::SessTblRecordLocked) out.reset();
    return r;
}

// Claims a free record: try-locks each free one in turn, so concurrent
// creators each end up with a record of their own.
Result CZelSessionTable::ClaimFreeRecord(std::unique_ptr<Record> &out, bool touch) {
    uint32_t secret[2];
    if (!FillRandom(secret, 2)) return Result::NoResource;
    for (int pass = 0; pass < kClaimPasses; ++pass) {
        bool sawFree = false;
        for (unsigned i = 0; i < m_nRecords; ++i) {
            if (RecordAt(i)->localId != 0) continue;
            sawFree = true;
            // No touch yet: the record may turn out to be someone else's.
            auto h = std::make_unique<Record>(this, i, false, false);
            SessionRecord *rec = h->m_pRecord;
            if (!h->IsLockSuccessful() || rec->localId != 0) continue;

            // Nothing of the previous session survives: its screen-data file
            // and every field go.
            RemoveLatestDataFile(*rec);
            std::memset(rec, 0, sizeof *rec);
            unsigned id = GetNextNewSessionId();
            const uint32_t now = TimeToWord(time(nullptr));
            uint32_t words[4] = {id << 5, secret[0], secret[1], now << 5};
            std::memcpy(rec->guid, words, sizeof words);
            // A new session is fresh even when its creator does not touch
            // it: a cleaner pass must not take it for an idle one (and kill
            // the process that is still setting it up).
            rec->lastAccessed = now;
            rec->localId = id;
            RememberPosition(id, i);
            h->m_bTouch = touch;
            if (touch) h->Touch();
            out = std::move(h);
            return Result::Success;
        }
        if (!sawFree) break;
        usleep(kClaimPause);
    }
    return Result::SessTblFull;
}

// Gives a freshly claimed record the lowest pool number that no record
// carries.  Under the control-block lock, so two creators never pick the
// same number.
void CZelSessionTable::PickPidPool(Record &h) {
    ControlBlock *cb = GetControlBlockAddress();
    Lock lock(this, Lock::ControlBlockLock, true);
    if (cb->pidPoolLow == 0) {
        cb->pidPoolLow = 1;
        cb->pidPoolHigh = 1 + 50000;
    }
    const int32_t low = cb->pidPoolLow, high = cb->pidPoolHigh;
    if (logCtrlFlgs & LOG_DETAIL) logPrintf("#Get unused PID between %d and %d\n", low, high);
    std::vector<uint32_t> used;
    for (unsigned i = 0; i < m_nRecords; ++i) {
        uint32_t p = RecordAt(i)->pidPool;
        if (low > 0 && p >= static_cast<uint32_t>(low) && p < static_cast<uint32_t>(high)) used.push_back(p);
    }
    std::sort(used.begin(), used.end());
    used.erase(std::unique(used.begin(), used.end()), used.end());
    int64_t pick = low;
    for (uint32_t p : used) {
        if (p != pick) break;
        ++pick;
    }
    if (low <= 0 || pick >= high) return;      // every number taken: stays 0
    h.m_pRecord->pidPool = static_cast<uint32_t>(pick);
    if (logCtrlFlgs & LOG_DETAIL) logPrintf("#Pick PIDPOOL %d\n", static_cast<int>(pick));
}
