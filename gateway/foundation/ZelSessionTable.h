// CZelSessionTable: the browser sessions of all gateway processes, kept in
// one System V shared-memory segment (a control block and one record per
// session; layout in ZelSessionTableLayout.h).
//
// Processes, not threads, share it, so it is guarded by POSIX record locks
// on the table's own lock file, "/tmp/sesstbl_lock." and the eight hex
// digits of the table's key: byte 0 the cleaner, byte 1 the control block,
// byte 2 + i record i.  A process may take the control-block lock while it
// holds a record lock, never the reverse.  Locks die with their process,
// so a crashed worker never leaves a record locked.  The cleaner deletes
// the lock file together with an idle table, and only while no other
// process holds a lock on it or is attached to the table; whoever takes a
// lock while not attached (a process joining the table, the editor between
// two stamps) checks afterwards that the path still names the file it
// locked, and takes the file on disk (made anew when needed) if not, so one
// table's locking never splits over two files.  A lock file deleted or replaced otherwise is noticed the same
// way, at Init and at the start of each cleaner pass.
//
// Nested classes:
//  - Guid_t: the 16-byte session GUID and its 32-hex-digit text form;
//  - Exception: a lock failure, thrown by value with its Result;
//  - Lock: one held byte range of the lock file (RAII);
//  - Record: a locked handle on one record, owned by whoever asked for it;
//  - Cleaner: the cleaner lock and its pass over the table.
#ifndef QOR_ZELSESSIONTABLE_H
#define QOR_ZELSESSIONTABLE_H

#include <cstdint>
#include <ctime>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "Result.h"
#include "ZelSessionTableLayout.h"

class CBuffer;
class CZelName;

class CZelSessionTable {
public:
    static constexpr int gnMaxNumberOfPids = sesstbl::kRegistrySlots;
    static const char *const m_DefLatestMcsDataDirectory;   // "./latestmcsdata/"
    static const char *const m_ShmIdFilePath;               // "../logs/.shmid"

    // ------------------------------------------------------------------
    class Guid_t {
    public:
        static constexpr std::size_t kTextLength = 32;

        Guid_t() : m_Words{0, 0, 0, 0} {}
        explicit Guid_t(const uint32_t (&w)[4]) { *this = w; }
        Guid_t &operator=(const uint32_t (&w)[4]);

        // Word i (0..3); other indexes are a programming error and give word 0.
        uint32_t &operator[](int i);
        uint32_t operator[](int i) const;

        bool operator==(const uint32_t (&w)[4]) const;
        bool operator==(const Guid_t &o) const { return *this == o.m_Words; }
        bool operator!=(const Guid_t &o) const { return !(*this == o); }
        bool IsZero() const;

        // 32 lower-case hex digits, word 0 first.
        std::string ToText() const;
        // Strict: exactly 32 hex digits and nothing else; false otherwise
        // (out is then zero).
        static bool FromText(std::string_view text, Guid_t &out);

    private:
        uint32_t m_Words[4];
    };

    // ------------------------------------------------------------------
    class Exception : public std::runtime_error {
    public:
        explicit Exception(Result r);
        Exception(const Exception &) = default;
        ~Exception() override = default;
        Result GetResult() const { return m_Result; }
        int GetErrno() const { return m_nErrno; }

    private:
        int m_nErrno;           // errno when it was raised
        Result m_Result;
    };

    // ------------------------------------------------------------------
    class Lock {
    public:
        enum LockSelector { CleanerLock = 0, ControlBlockLock = 1 };

        // Single byte s of the lock file.
        Lock(CZelSessionTable *table, LockSelector s, bool wait);
        // Records first .. first + count - 1 (count 0: up to the last record).
        Lock(CZelSessionTable *table, int first, int count, bool wait);
        ~Lock();
        Lock(const Lock &) = delete;
        Lock &operator=(const Lock &) = delete;

        bool IsLockSuccessful() const { return m_bLocked; }
        CZelSessionTable *GetSessionTable() const { return m_pTable; }
        int GetStartEntry() const { return m_nFirst - 2; }
        int GetFirstByte() const { return m_nFirst; }
        int GetByteCount() const { return m_nLength; }
        // 0 when this lock holds the range, else the pid of a process that
        // holds a conflicting lock on it (0: none).  Throws Exception.
        int GetLockProcessId() const;
        // Releases the range before the destructor would.
        void Unlock();
        // Asks for the range again (after Unlock); whether it is held.
        bool Relock(bool wait);

    private:
        void DoLock(bool wait);

        CZelSessionTable *m_pTable;
        int32_t m_nFirst;
        int32_t m_nLength;
        bool m_bLocked = false;
    };

    // ------------------------------------------------------------------
    // A handle on record i.  Readers and writers act on the record in the
    // segment; writers do nothing unless the handle holds the record lock.
    class Record {
    public:
        Record(CZelSessionTable *table, unsigned i, bool wait, bool touch);
        // With the touch flag set, stamps the record's and the table's
        // last access; then releases the record lock.
        ~Record();
        Record(const Record &) = delete;
        Record &operator=(const Record &) = delete;

        bool IsLockSuccessful() const { return m_Lock.IsLockSuccessful(); }
        CZelSessionTable *GetSessionTable() const { return m_pTable; }
        unsigned GetPosition() const { return m_nPos; }

        unsigned GetLocalSessionId() const;
        unsigned GetDtpSessionId() const;
        void SetDtpSessionId(unsigned id);
        void GetSessionGuid(Guid_t &guid) const;
        unsigned GetSessionPidPool() const;
        void SetSessionPidPool(unsigned pool);
        time_t GetLastAccessed() const;
        void SetLastAccessed(time_t t);
        bool IsOpen() const;
        void SetOpenState(bool open);
        bool IsProgramStarted() const;
        void SetProgramStartedState(bool started);
        void GetMcsIds(unsigned &a, unsigned &b, unsigned &c, unsigned &d) const;
        void SetMcsIds(unsigned a, unsigned b, unsigned c, unsigned d);
        void GetLocap(CZelName &name) const;      // 8 chars, blank-padded
        void SetLocap(const CZelName &name);      // first 8 chars of the name
        void GetPib(CBuffer &b) const;            // appends the 156 PIB bytes
        void SetPib(const CBuffer &b);            // up to 156 bytes, rest zero

        // Latest screen data of the session, in a file named after its
        // GUID, and the field control modifications it came with
        // (translated) in a file beside it ("w0-w1-w2-w3.fcc"). The
        // modifications file begins with a digest of the GUID, the screen
        // and the modifications, so a reader finds out when either file
        // was lost, cut or replaced, or written without the other; a store
        // that fails marks the record until a later one of both succeeds.
        std::string GetLatestDataFileName() const;          // "w0-w1-w2-w3"
        // Both files; empty data (no screen yet) deletes the screen file.
        Result SetLatestScreen(const CBuffer &data, const CBuffer &mods);
        // The screen alone: the modifications stay with it when they
        // belong to the screen it replaces. Empty data deletes the file.
        Result SetLatestMcsData(const CBuffer &data);
        Result GetLatestMcsData(CBuffer &out) const;
        // Reads the screen (the result is GetLatestMcsData's) and its
        // modifications (empty when they cannot be read). lost is empty
        // when both are as they were last stored together (no screen file
        // is the state before the first screen), else it names the file
        // and what is wrong with it.
        Result GetLatestScreen(CBuffer &data, CBuffer &mods, std::string &lost) const;
        // True once a host screen was to be stored for the session (stored
        // or not); false before, and for a DezUR exchange.
        bool HasStoredScreen() const;
        // Deletes the files and frees the record.
        void Remove();

    private:
        friend class CZelSessionTable;
        bool Writable() const;
        // A session file written over in place, or read whole; a failure
        // is told in why ("path: reason"), a missing file as errno ENOENT.
        static Result WriteDataFile(const std::string &path, const CBuffer &data);
        static Result ReadDataFile(const std::string &path, CBuffer &out, std::string *why = nullptr,
                                   int *error = nullptr);
        std::string LatestDataPath() const;
        void StoreClient();                       // REMOTE_ADDR and own pid
        void Touch();                             // client, record and table times

        CZelSessionTable *m_pTable;
        sesstbl::SessionRecord *m_pRecord;
        unsigned m_nPos;
        bool m_bTouch;
        Lock m_Lock;
    };

    // ------------------------------------------------------------------
    class Cleaner {
    public:
        // Takes the cleaner lock without waiting; the destructor frees it.
        explicit Cleaner(CZelSessionTable *table);
        Cleaner(const Cleaner &) = delete;
        Cleaner &operator=(const Cleaner &) = delete;

        bool IsLockSuccessful() const { return m_Lock.IsLockSuccessful(); }
        void SetRecordTimeout(unsigned seconds) { m_nRecordTimeout = seconds; }
        void SetTableTimeout(unsigned seconds) { m_nTableTimeout = seconds; }
        unsigned GetRecordTimeout() const { return m_nRecordTimeout; }
        unsigned GetTableTimeout() const { return m_nTableTimeout; }
        CZelSessionTable *GetSessionTable() const { return m_Lock.GetSessionTable(); }

        // One pass: lists the local ids of records expired (IsExpired: idle
        // for more than the record time-out; a registered process holding
        // such a record is killed); removes an idle empty table.  Success, or
        // SessTblStopCleanerProcess when this process is not the cleaner,
        // the table has just been removed, or the lock file was replaced
        // and another cleaner holds the new one.
        Result Run(std::vector<int> &expired);

    private:
        Lock m_Lock;
        unsigned m_nRecordTimeout = 120;
        unsigned m_nTableTimeout = 240;
    };

    // The one rule of expiry, for the cleaner's pass and for closing a
    // session it listed: idle for more than `timeout` seconds. Access times
    // are whole seconds, so a session is never expired before it has been
    // idle for the whole time-out.
    static bool IsExpired(time_t lastAccessed, time_t now, unsigned timeout) {
        return static_cast<int64_t>(now) - static_cast<int64_t>(lastAccessed) > static_cast<int64_t>(timeout);
    }

    // ------------------------------------------------------------------
    CZelSessionTable() = default;
    // Leaves the segment attached and the lock file open until the process
    // ends (other objects of the process may still use the locks).
    ~CZelSessionTable() = default;
    CZelSessionTable(const CZelSessionTable &) = delete;
    CZelSessionTable &operator=(const CZelSessionTable &) = delete;

    // entries > 0: creation mode (create or attach, initialise when needed);
    // entries == 0: attach mode (attach an existing, initialised table and
    // change nothing but what the caller then stamps).  Success when a
    // cleaner runs, SessTblNoCleanerProcess when none does, or an error.
    Result Init(int entries, int low, int high);

    bool IsAttached() const { return m_pShm != nullptr; }
    // Lets the segment go (a later Init attaches again); the lock file
    // stays open.
    void Detach();
    void *GetSharedMemoryAddress() const { return m_pShm; }
    sesstbl::ControlBlock *GetControlBlockAddress() const;
    sesstbl::SessionRecord *GetSessionTableAddress() const;
    int GetSharedMemoryId() const { return m_nShmId; }
    unsigned GetNumberOfEntries() const { return m_nRecords; }
    int GetLockingFileDescriptor() const { return m_nLockFd; }
    // The lock file in use ("" before the first Init).
    const std::string &GetLockFilePath() const { return m_strLockFile; }
    // The lock file on disk is no longer the one open here (deleted or
    // replaced by another file).
    bool IsLockFileReplaced() const;

    unsigned GetNumberOfNotEmptyEntries() const;
    void RemoveByPos(unsigned i);
    Result ExpireAll();
    unsigned GetNextNewSessionId();
    int GetNextPidPool();
    Result RegisterProcessID(int pid);
    int UnregisterProcessID(int pid);
    bool IsRegisteredProcessID(int pid);
    int CheckProcessIDs();
    Result CheckCleanerProcessRunning();
    void SetCleanerPid();
    time_t GetLastAccessed();
    void SetLastAccessed(time_t t);
    time_t GetLastReconfigured();
    void SetLastReconfigured(time_t t);
    // Moves the reconfiguration stamp to t when that is later, and with
    // pastCurrent at least one second past the stamp as it stands, so that
    // the new stamp is later than any stamp a process may hold; it never
    // goes back. The new stamp (0 while not attached).
    time_t MoveLastReconfigured(time_t t, bool pastCurrent);

    // Find (or, with id / pool 0, create) a record and hand out its handle.
    // Success, SessTblRecordLocked (the handle is still given, unlocked), or
    // an error (no handle).  The handle belongs to the caller.
    Result Get(unsigned id, Record **out, bool wait, bool touch);
    Result Get(const Guid_t &guid, Record **out, bool wait, bool touch);
    Result GetByPidPool(unsigned pool, Record **out, bool wait, bool touch);
    Result Get(unsigned id, std::unique_ptr<Record> &out, bool wait, bool touch);
    Result Get(const Guid_t &guid, std::unique_ptr<Record> &out, bool wait, bool touch);
    Result GetByPidPool(unsigned pool, std::unique_ptr<Record> &out, bool wait, bool touch);

    std::string GetLatestMcsDataDirectory();
    // Sets the directory (a "/" is appended) and creates its components
    // with mode 0700.  SessTblLatestMcsDataDir when it could not be made.
    Result SetLatestMcsDataDirectory(const std::string &path);

    // Opens (creating it when asked) a lock file without following links
    // and refuses one that is not a regular file, that group or others may
    // write, or that belongs to another user (root may use any).  The
    // descriptor, or -1 after a log line.
    static int OpenLockFile(const char *path, bool create);

private:
    friend class Lock;
    friend class Record;
    friend class Cleaner;

    // Process-wide bookkeeping of held lock ranges: fcntl locks belong to
    // the process and do not nest, so a range of a lock file that the
    // process asks for again (through any table object) is only counted,
    // and the byte is unlocked by the last release.
    bool AcquireRange(int first, int length, bool wait);
    void ReleaseRange(int first, int length);
    bool HoldsRange(int first, int length);
    bool HoldsAnyRange();
    // Opens the lock file at path, or opens it again when the file on disk
    // was replaced; closing the old descriptor would drop every lock of the
    // process on it, so that happens only while none is held.
    Result UseLockFile(const std::string &path, bool create);
    // After a lock was granted: whether the open lock file has lost its
    // name (deleted, or replaced by another file, meanwhile).
    bool LockFileMoved() const;
    // Deletes the lock file while no other process holds a lock on it (a
    // whole-file lock proves it and keeps others out until the file is
    // gone); then lets go of every lock of this process on it.
    bool RemoveLockFile();

    Result InitLocked(bool create, uint32_t requested, int key, int low, int high,
                      bool &retryLater);
    sesstbl::SessionRecord *RecordAt(unsigned i) const;
    Result GetRecord(unsigned id, std::unique_ptr<Record> &out, bool wait, bool touch);
    Result GetRecord(const Guid_t &guid, std::unique_ptr<Record> &out, bool wait, bool touch);
    Result GetRecordByPidPool(unsigned pool, std::unique_ptr<Record> &out, bool wait, bool touch);
    // The position of the record that match accepts: first where this
    // process last found the session with local id id, else by a scan
    // from the start (which is then remembered).
    template <class Match>
    bool FindRecord(uint32_t id, Match match, unsigned &pos);
    void RememberPosition(uint32_t id, unsigned pos);
    Result ClaimFreeRecord(std::unique_ptr<Record> &out, bool touch);
    void PickPidPool(Record &rec);
    // Clears dead processes from the registry; now is the second it runs.
    int CheckProcessIDsLocked(time_t now);
    void RemoveLatestDataFile(const sesstbl::SessionRecord &rec);
    void RemoveSegment();

    int m_nLockFd = -1;
    std::string m_strLockFile;
    bool m_bCreateLockFile = false;         // the last Init may make the file
    uint64_t m_nLockDev = 0;                // identity of the open lock file
    uint64_t m_nLockIno = 0;
    int m_nShmId = -1;
    void *m_pShm = nullptr;                 // null while not attached
    uint32_t m_nRecords = 0;
    std::string m_strLatestMcsDataDirectory;
    time_t m_tLastProcessCheck = 0;         // second of this process's last registry check
    // Where this process last found each session (local id to position):
    // only a hint, always checked against the record itself.
    std::unordered_map<uint32_t, unsigned> m_PositionHints;
};

#endif
