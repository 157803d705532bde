// Session-table locks: byte ranges of the lock file, and the exception that
// a failed lock request raises.
#include "ZelSessionTable.h"

#include <cerrno>
#include <fcntl.h>
#include <map>
#include <tuple>
#include <unistd.h>

#include "gospid.h"

namespace {

// Ranges of lock files that this process holds (file, first byte, length),
// with their use counts, and the process they belong to (a forked child
// inherits the map but none of the locks).
using RangeKey = std::tuple<uint64_t, uint64_t, int, int>;
std::map<RangeKey, int> s_HeldRanges;
int s_nLockOwnerPid = 0;

std::map<RangeKey, int> &HeldRanges() {
    int me = static_cast<int>(gosProcessId());
    if (me != s_nLockOwnerPid) {
        s_HeldRanges.clear();
        s_nLockOwnerPid = me;
    }
    return s_HeldRanges;
}

}  // namespace

CZelSessionTable::Exception::Exception(Result r)
    : std::runtime_error(""), m_nErrno(errno), m_Result(r) {}

// ---------------------------------------------------------------------------
// Lock

CZelSessionTable::Lock::Lock(CZelSessionTable *table, LockSelector s, bool wait)
    : m_pTable(table), m_nFirst(static_cast<int32_t>(s)), m_nLength(1) {
    DoLock(wait);
}

CZelSessionTable::Lock::Lock(CZelSessionTable *table, int first, int count, bool wait)
    : m_pTable(table), m_nFirst(2 + first), m_nLength(count) {
    if (count == 0) {
        // Every record from first to the last one.
        long long rest = table ? static_cast<long long>(table->m_nRecords) - first : 0;
        m_nLength = rest > 0 ? static_cast<int32_t>(rest) : 1;
    }
    if (first < 0 || m_nLength < 0) {
        m_nLength = 0;          // nonsense range: never locked
        return;
    }
    DoLock(wait);
}

CZelSessionTable::Lock::~Lock() { Unlock(); }

void CZelSessionTable::Lock::DoLock(bool wait) {
    m_bLocked = false;
    if (!m_pTable || m_pTable->m_nLockFd < 0 || m_nLength <= 0) return;
    m_bLocked = m_pTable->AcquireRange(m_nFirst, m_nLength, wait);
}

bool CZelSessionTable::Lock::Relock(bool wait) {
    if (!m_bLocked) DoLock(wait);
    return m_bLocked;
}

void CZelSessionTable::Lock::Unlock() {
    if (!m_bLocked) return;
    m_bLocked = false;
    m_pTable->ReleaseRange(m_nFirst, m_nLength);
}

int CZelSessionTable::Lock::GetLockProcessId() const {
    if (m_bLocked || !m_pTable || m_pTable->m_nLockFd < 0 || m_nLength <= 0) return 0;
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = m_nFirst;
    fl.l_len = m_nLength;
    if (fcntl(m_pTable->m_nLockFd, F_GETLK, &fl) != 0) throw Exception(Result::SessTblLockError);
    return fl.l_type == F_UNLCK ? 0 : static_cast<int>(fl.l_pid);
}

// ---------------------------------------------------------------------------
// Process-wide bookkeeping of held ranges

bool CZelSessionTable::AcquireRange(int first, int length, bool wait) {
    if (m_nLockFd < 0) return false;
    auto &held = HeldRanges();
    auto it = held.find(RangeKey(m_nLockDev, m_nLockIno, first, length));
    if (it != held.end()) {
        ++it->second;
        return true;
    }
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = first;
    fl.l_len = length;
    bool moved = false;
    for (;;) {
        if (fcntl(m_nLockFd, wait ? F_SETLKW : F_SETLK, &fl) == 0) {
            // The cleaner may have deleted the file (with its table) before
            // this lock was granted: a lock on a file nobody else can open
            // any more guards nothing, so the file on disk is taken and
            // locked instead. That is possible only while no other range
            // of this process is held on the old file, and is tried once.
            // The cleaner deletes the file only while no other process is
            // attached to the table, so a process that is attached (every
            // worker between its start and its end) need not ask.
            if (!moved && !IsAttached() && LockFileMoved() && !HoldsAnyRange()) {
                moved = true;
                struct flock un = fl;
                un.l_type = F_UNLCK;
                while (fcntl(m_nLockFd, F_SETLK, &un) != 0 && errno == EINTR) {
                }
                // Attach mode makes no file: without one the old file stays.
                UseLockFile(m_strLockFile, m_bCreateLockFile);
                continue;
            }
            held.emplace(RangeKey(m_nLockDev, m_nLockIno, first, length), 1);
            return true;
        }
        if (errno == EINTR) continue;           // a signal while waiting: ask again
        if (!wait && (errno == EAGAIN || errno == EACCES)) return false;
        throw Exception(Result::SessTblLockError);
    }
}

void CZelSessionTable::ReleaseRange(int first, int length) {
    if (m_nLockFd < 0) return;
    auto &held = HeldRanges();
    auto it = held.find(RangeKey(m_nLockDev, m_nLockIno, first, length));
    if (it == held.end()) return;
    if (--it->second > 0) return;
    held.erase(it);
    struct flock fl {};
    fl.l_type = F_UNLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = first;
    fl.l_len = length;
    while (fcntl(m_nLockFd, F_SETLK, &fl) != 0 && errno == EINTR) {
    }
}

bool CZelSessionTable::HoldsRange(int first, int length) {
    return HeldRanges().count(RangeKey(m_nLockDev, m_nLockIno, first, length)) != 0;
}

bool CZelSessionTable::HoldsAnyRange() { return !HeldRanges().empty(); }
