// Session table: creation and attachment of the segment, the process
// registry, the id and pool counters and the table's time stamps.
#include "ZelSessionTable.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <unistd.h>

#include "gospid.h"
#include "logprint.h"

using namespace sesstbl;

const char *const CZelSessionTable::m_DefLatestMcsDataDirectory = "./latestmcsdata/";
const char *const CZelSessionTable::m_ShmIdFilePath = "../logs/.shmid";

namespace {

std::string WorkingDirectory() {
    char buf[PATH_MAX];
    return getcwd(buf, sizeof buf) ? std::string(buf) : std::string("?");
}

void LogErrno(int err) { logPrintf("#Error was %d '%s'\n", err, strerror(err)); }

// The id of the segment, for qorshm -t.  A file that cannot be written is
// skipped: the table works without it.  The open does not wait on a FIFO,
// and only a regular file is emptied and written.
void WriteShmIdFile(int id) {
    int fd = open(CZelSessionTable::m_ShmIdFilePath, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) return;
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ftruncate(fd, 0) == 0) {
        std::string text = std::to_string(id) + "\n";
        ssize_t n = write(fd, text.data(), text.size());
        (void)n;
    }
    close(fd);
}

}  // namespace

// ---------------------------------------------------------------------------
// Lock file

int CZelSessionTable::OpenLockFile(const char *path, bool create) {
    int flags = O_RDWR | O_NOFOLLOW | O_CLOEXEC | (create ? O_CREAT : 0);
    int fd = open(path, flags, 0600);
    if (fd < 0) return -1;
    struct stat st {};
    const char *why = nullptr;
    if (fstat(fd, &st) != 0)
        why = "cannot be examined";
    else if (!S_ISREG(st.st_mode))
        why = "is not a regular file";
    else if (st.st_mode & (S_IWGRP | S_IWOTH))
        why = "is writable by group or others";
    else if (st.st_uid != geteuid() && geteuid() != 0)
        why = "belongs to another user";
    if (why) {
        logPrintf("#Session table lock file %s %s; refused\n", path, why);
        close(fd);
        errno = EPERM;
        return -1;
    }
    return fd;
}

bool CZelSessionTable::IsLockFileReplaced() const {
    if (m_nLockFd < 0 || m_strLockFile.empty()) return false;
    struct stat onDisk {}, open {};
    if (fstat(m_nLockFd, &open) != 0 || lstat(m_strLockFile.c_str(), &onDisk) != 0) return true;
    return onDisk.st_dev != open.st_dev || onDisk.st_ino != open.st_ino;
}

Result CZelSessionTable::UseLockFile(const std::string &path, bool create) {
    if (m_nLockFd >= 0 && path == m_strLockFile && !IsLockFileReplaced()) return Result::Success;
    if (m_nLockFd >= 0 && HoldsAnyRange()) {
        logPrintf("#Session table lock file %s changed while locks are held; kept\n", m_strLockFile.c_str());
        return Result::Success;
    }
    const int fd = OpenLockFile(path.c_str(), create);
    if (fd < 0) {
        // Attach mode never creates a file: the one open here stays in use.
        if (m_nLockFd >= 0 && path == m_strLockFile) return Result::Success;
        return Result::SessTblLockFileError;
    }
    struct stat st {};
    fstat(fd, &st);
    if (m_nLockFd >= 0) {
        if (logCtrlFlgs & LOG_EVENTS) logPrintf("#Session table lock file %s was replaced; the new one is used\n", path.c_str());
        close(m_nLockFd);
    }
    m_nLockFd = fd;
    m_strLockFile = path;
    m_nLockDev = static_cast<uint64_t>(st.st_dev);
    m_nLockIno = static_cast<uint64_t>(st.st_ino);
    return Result::Success;
}

bool CZelSessionTable::LockFileMoved() const {
    // Deleted or replaced, the open file has no name left; asking the
    // descriptor costs less than a look-up of the path at every lock.
    struct stat open {};
    return m_nLockFd >= 0 && fstat(m_nLockFd, &open) == 0 && open.st_nlink == 0;
}

bool CZelSessionTable::RemoveLockFile() {
    // The path must still name the file locked here.
    if (m_nLockFd < 0 || IsLockFileReplaced()) return false;
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 0;   // the whole file: granted only when nobody else holds any byte
    if (fcntl(m_nLockFd, F_SETLK, &fl) != 0) {
        if (logCtrlFlgs & LOG_EVENTS)
            logPrintf("#Session table lock file %s is in use; kept\n", m_strLockFile.c_str());
        return false;
    }
    const bool removed = unlink(m_strLockFile.c_str()) == 0;
    fl.l_type = F_UNLCK;
    while (fcntl(m_nLockFd, F_SETLK, &fl) != 0 && errno == EINTR) {
    }
    return removed;
}

// ---------------------------------------------------------------------------
// Creation and attachment

Result CZelSessionTable::Init(int entries, int low, int high) {
    if (entries < 0) {
        logPrintf("#Session table: invalid number of entries %d\n", entries);
        return Result::SessTblIPCError;
    }
    const bool create = entries != 0;
    uint32_t requested = static_cast<uint32_t>(entries);
    if (requested > kMaxRecords) {
        logPrintf("#Session table: %u entries cut to %u\n", requested, kMaxRecords);
        requested = kMaxRecords;
    }
    // The object's record count changes only once a segment is attached:
    // a failed Init must not leave a count without a table behind it.
    const uint32_t logEntries = create ? requested : m_nRecords;
    const uint64_t size = SegmentSize(create ? requested : 0);
    const int logSize = static_cast<int>(size);

    key_t key = ftok(".", kFtokProjectId);
    if (key == -1) {
        logPrintf("#Error getting Shm Key\n");
        return Result::SessTblIPCError;
    }

    // Attach mode never creates the lock file: without it there is no table.
    m_bCreateLockFile = create;
    if (UseLockFile(LockFilePath(static_cast<int32_t>(key)), create) != Result::Success) {
        int err = errno;
        logPrintf("#Problem opening sesstbl_lock in cwd[%s] shmsize %d\n", WorkingDirectory().c_str(), logSize);
        LogErrno(err);
        return Result::SessTblLockFileError;
    }

    if (logCtrlFlgs & LOG_DETAIL) {
        logPrintf("#Note Shm Key %lX, Size %d; Entries %u\n",
                  static_cast<unsigned long>(static_cast<uint32_t>(key)), logSize, logEntries);
        logPrintf("Uid: %d; Euid: %d; Gid: %d; Egid: %d\n", static_cast<int>(getuid()),
                  static_cast<int>(geteuid()), static_cast<int>(getgid()),
                  static_cast<int>(getegid()));
    }

    bool retryLater = false;
    Result r = InitLocked(create, requested, key, low, high, retryLater);
    if (retryLater) sleep(1);
    if (r != Result::Success) return r;

    // The control-block byte is free again: the registry check takes it.
    r = CheckCleanerProcessRunning();
    if (r != Result::Success && r != Result::SessTblNoCleanerProcess)
        logPrintf("#Problem %d starting Cleaner Process\n", ResultCode(r));
    if (r == Result::SessTblNoCleanerProcess && CheckProcessIDs() == 1 && (logCtrlFlgs & LOG_EVENTS))
        logPrintf("#First QOR/ic process starting\n");
    return r;
}

// Steps of Init that run under the control-block lock.
Result CZelSessionTable::InitLocked(bool create, uint32_t requested, int key, int low, int high,
                                    bool &retryLater) {
    const uint64_t size = SegmentSize(create ? requested : 0);
    const int logSize = static_cast<int>(size);
    try {
        // Creation holds the control-block byte throughout, so two creators
        // never remove or zero each other's fresh segment.
        Lock cbLock(this, Lock::ControlBlockLock, true);

        int id = -1;
        bool fresh = false;
        if (create) {
            int old = shmget(key, 0, 0600);
            struct shmid_ds ds {};
            if (old >= 0 && shmctl(old, IPC_STAT, &ds) == 0 && ds.shm_nattch == 0 &&
                shmctl(old, IPC_RMID, nullptr) == 0 && (logCtrlFlgs & LOG_DETAIL))
                logPrintf("#Removed old shared memory; Size %d\n", static_cast<int>(ds.shm_segsz));
            id = shmget(key, size, IPC_CREAT | IPC_EXCL | 0600);
            if (id >= 0) {
                fresh = true;
            } else if (errno != EEXIST) {
                int err = errno;
                logPrintf("#Problem creating shared memory Key %lX shmsize %d\n",
                          static_cast<unsigned long>(static_cast<uint32_t>(key)), logSize);
                LogErrno(err);
            }
        }
        if (id < 0) {
            // An existing segment of any size: its real size is checked below.
            id = shmget(key, 0, 0600);
            if (id < 0) {
                int err = errno;
                if (!create) {
                    // No table: nothing to stamp, nothing to wait for.
                    if (logCtrlFlgs & LOG_DETAIL)
                        logPrintf("#No shared memory to attach for Key %lX\n",
                                  static_cast<unsigned long>(static_cast<uint32_t>(key)));
                    return Result::SessTblIPCError;
                }
                logPrintf("#Problem acessing shared memory Key %lX shmsize %d\n",
                          static_cast<unsigned long>(static_cast<uint32_t>(key)), logSize);
                LogErrno(err);
                retryLater = true;      // sleep once the control block is free again
                return Result::SessTblIPCError;
            }
        }

        if (IsAttached() && id != m_nShmId) Detach();
        if (!IsAttached()) {
            void *p = shmat(id, nullptr, 0);
            if (p == reinterpret_cast<void *>(-1)) {
                LogErrno(errno);
                return Result::SessTblShmAttachError;
            }
            m_pShm = p;
            m_nShmId = id;
        }

        struct shmid_ds ds {};
        if (shmctl(id, IPC_STAT, &ds) != 0 || ds.shm_segsz < static_cast<size_t>(kControlBlockSize)) {
            logPrintf("#Shared memory %d is not a session table\n", id);
            Detach();
            return Result::SessTblIPCError;
        }
        const uint64_t realSize = ds.shm_segsz;
        const uint32_t capacity = RecordsInSegment(realSize);

        if (create) WriteShmIdFile(id);

        if (low < 1) {
            low = 1;
            high = 50000;
        }

        ControlBlock *cb = GetControlBlockAddress();
        if (cb->marker != kMarker) {
            if (cb->marker != 0) logPrintf("#Note Shm old marker was %X\n", cb->marker);
            if (!create) {
                // Attach mode never initialises: it may be a creator's
                // segment half made, or somebody else's.
                logPrintf("#Shared memory %d holds no session table\n", id);
                Detach();
                return Result::SessTblIPCError;
            }
            fresh = true;
        }
        if (fresh) {
            std::memset(m_pShm, 0, realSize);
            cb->lastAccessed = TimeToWord(time(nullptr));
            cb->pidPoolLow = low;
            cb->pidPoolHigh = high;
            cb->marker = kMarker;
        }

        if (create) {
            if (capacity != requested && (logCtrlFlgs & LOG_EVENTS))
                logPrintf("#Note Shm holds %u entries (%u asked for)\n", capacity, requested);
            if (cb->pidPoolLow != low) {
                cb->pidPoolLow = low;
                cb->pidPoolHigh = high;
            }
            if (cb->pidPoolNext < cb->pidPoolLow || cb->pidPoolNext > cb->pidPoolHigh)
                cb->pidPoolNext = cb->pidPoolLow;
            cb->numberOfRecords = capacity;
        }
        m_nRecords = capacity;
    } catch (const Exception &e) {
        logPrintf("#Session table lock failed during Init: %d\n", ResultCode(e.GetResult()));
        return e.GetResult();
    }
    return Result::Success;
}

void CZelSessionTable::Detach() {
    if (m_pShm) shmdt(m_pShm);
    m_pShm = nullptr;
    m_nShmId = -1;
    m_nRecords = 0;
}

void CZelSessionTable::RemoveSegment() {
    if (m_nShmId >= 0) shmctl(m_nShmId, IPC_RMID, nullptr);
    Detach();
}

ControlBlock *CZelSessionTable::GetControlBlockAddress() const {
    return static_cast<ControlBlock *>(m_pShm);
}

SessionRecord *CZelSessionTable::GetSessionTableAddress() const {
    if (!m_pShm) return nullptr;
    return reinterpret_cast<SessionRecord *>(static_cast<unsigned char *>(m_pShm) + kControlBlockSize);
}

SessionRecord *CZelSessionTable::RecordAt(unsigned i) const {
    SessionRecord *base = GetSessionTableAddress();
    return (base && i < m_nRecords) ? base + i : nullptr;
}

// ---------------------------------------------------------------------------
// Counters and stamps, all under the control-block lock

unsigned CZelSessionTable::GetNextNewSessionId() {
    ControlBlock *cb = GetControlBlockAddress();
    if (!cb) return 0;
    Lock lock(this, Lock::ControlBlockLock, true);
    // 0 marks a free record: a wrapped counter skips it.
    if (++cb->lastSessionId == 0) ++cb->lastSessionId;
    return cb->lastSessionId;
}

int CZelSessionTable::GetNextPidPool() {
    ControlBlock *cb = GetControlBlockAddress();
    if (!cb) return 0;
    Lock lock(this, Lock::ControlBlockLock, true);
    int32_t next = cb->pidPoolNext;
    next = (next >= cb->pidPoolHigh - 1 || next < cb->pidPoolLow) ? cb->pidPoolLow : next + 1;
    cb->pidPoolNext = next;
    return next;
}

Result CZelSessionTable::RegisterProcessID(int pid) {
    ControlBlock *cb = GetControlBlockAddress();
    if (!cb) return Result::SessTblIPCError;
    Lock lock(this, Lock::ControlBlockLock, true);
    int32_t *freeSlot = nullptr;
    for (int32_t &slot : cb->registry) {
        if (slot == pid) return Result::Success;       // a reload: already there
        if (slot == 0 && !freeSlot) freeSlot = &slot;
    }
    if (!freeSlot) return Result::SessTblFull;
    *freeSlot = pid;
    return Result::Success;
}

int CZelSessionTable::UnregisterProcessID(int pid) {
    ControlBlock *cb = GetControlBlockAddress();
    if (!cb) return 1;
    Lock lock(this, Lock::ControlBlockLock, true);
    for (int32_t &slot : cb->registry) {
        if (slot == pid) {
            slot = 0;
            return 0;
        }
    }
    return 1;
}

bool CZelSessionTable::IsRegisteredProcessID(int pid) {
    ControlBlock *cb = GetControlBlockAddress();
    if (!cb || pid <= 0) return false;
    Lock lock(this, Lock::ControlBlockLock, true);
    for (int32_t slot : cb->registry)
        if (slot == pid) return true;
    return false;
}

int CZelSessionTable::CheckProcessIDs() {
    if (!GetControlBlockAddress()) return 1;
    Lock lock(this, Lock::ControlBlockLock, true);
    return CheckProcessIDsLocked(time(nullptr));
}

int CZelSessionTable::CheckProcessIDsLocked(time_t now) {
    m_tLastProcessCheck = now;
    ControlBlock *cb = GetControlBlockAddress();
    const int32_t me = static_cast<int32_t>(gosProcessId());
    bool othersAlive = false, cleared = false;
    for (int32_t &slot : cb->registry) {
        if (slot == 0 || slot == me) continue;
        // Only positive ids are processes; anything else is a damaged slot.
        if (slot < 0 || (kill(slot, 0) != 0 && errno == ESRCH)) {
            if (logCtrlFlgs & LOG_EVENTS) logPrintf("#Process %d found missing\n", slot);
            slot = 0;
            cleared = true;
        } else {
            othersAlive = true;
        }
    }
    if (cleared) {
        int n = 0;
        for (int32_t slot : cb->registry)
            if (slot != 0) cb->registry[n++] = slot;
        for (; n < kRegistrySlots; ++n) cb->registry[n] = 0;
    }
    return othersAlive ? 0 : 1;
}

Result CZelSessionTable::CheckCleanerProcessRunning() {
    if (m_nLockFd < 0) return Result::SessTblLockFileError;
    if (HoldsRange(Lock::CleanerLock, 1)) return Result::Success;   // this process is the cleaner
    try {
        Lock probe(this, Lock::CleanerLock, false);
        return probe.IsLockSuccessful() ? Result::SessTblNoCleanerProcess : Result::Success;
    } catch (const Exception &e) {
        return e.GetResult();
    }
}

void CZelSessionTable::SetCleanerPid() {
    if (ControlBlock *cb = GetControlBlockAddress()) cb->cleanerPid = static_cast<int32_t>(gosProcessId());
}

time_t CZelSessionTable::GetLastAccessed() {
    ControlBlock *cb = GetControlBlockAddress();
    if (!cb) return 0;
    Lock lock(this, Lock::ControlBlockLock, true);
    return WordToTime(cb->lastAccessed);
}

void CZelSessionTable::SetLastAccessed(time_t t) {
    ControlBlock *cb = GetControlBlockAddress();
    if (!cb) return;
    // Clears dead processes about every third second of activity, at most
    // once a second in each process (every record access stamps the table,
    // many times a second).
    const bool checkDue = t % 3 == 1 && t != m_tLastProcessCheck;
    // Every access of a busy table stamps the same second: a stamp that
    // the word already holds would change nothing but cost the lock.
    const uint32_t word = TimeToWord(t);
    if (!checkDue && __atomic_load_n(&cb->lastAccessed, __ATOMIC_RELAXED) == word) return;
    Lock lock(this, Lock::ControlBlockLock, true);
    cb->lastAccessed = word;
    if (checkDue) CheckProcessIDsLocked(t);
}

time_t CZelSessionTable::GetLastReconfigured() {
    ControlBlock *cb = GetControlBlockAddress();
    if (!cb) return 0;
    Lock lock(this, Lock::ControlBlockLock, true);
    return WordToTime(cb->lastReconfigured);
}

void CZelSessionTable::SetLastReconfigured(time_t t) {
    ControlBlock *cb = GetControlBlockAddress();
    if (!cb) return;
    Lock lock(this, Lock::ControlBlockLock, true);
    cb->lastReconfigured = TimeToWord(t);
}

time_t CZelSessionTable::MoveLastReconfigured(time_t t, bool pastCurrent) {
    ControlBlock *cb = GetControlBlockAddress();
    if (!cb) return 0;
    Lock lock(this, Lock::ControlBlockLock, true);
    const int64_t current = static_cast<int64_t>(WordToTime(cb->lastReconfigured));
    int64_t next = static_cast<int64_t>(t);
    if (next < current + (pastCurrent ? 1 : 0)) next = current + (pastCurrent ? 1 : 0);
    // The word holds seconds up to 2106; a stamp never wraps to 0.
    if (next > static_cast<int64_t>(UINT32_MAX)) next = UINT32_MAX;
    cb->lastReconfigured = TimeToWord(static_cast<time_t>(next));
    return static_cast<time_t>(next);
}
