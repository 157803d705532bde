// Session table: creation and attachment, control block, registry, counters
// and the lock file.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "TableTestDir.h"
#include "ZelSessionTable.h"

using namespace sesstbl;

namespace {

std::string ReadFile(const std::string &path) {
    std::ifstream f(path);
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

bool Exists(const std::string &path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

size_t SegmentBytes(int id) {
    struct shmid_ds ds {};
    return shmctl(id, IPC_STAT, &ds) == 0 ? ds.shm_segsz : 0;
}

class SessTblTable : public ::testing::Test {
protected:
    TableTestDir dir;
    CZelSessionTable table;
    ControlBlock *cb() { return table.GetControlBlockAddress(); }
};

TEST_F(SessTblTable, FreshSegmentIsInitialised) {
    ASSERT_EQ(table.Init(10, 0, 0), Result::SessTblNoCleanerProcess);
    ASSERT_TRUE(table.IsAttached());
    EXPECT_EQ(SegmentBytes(table.GetSharedMemoryId()), 2048u + 10 * 224);
    EXPECT_EQ(table.GetNumberOfEntries(), 10u);
    EXPECT_EQ(cb()->marker, kMarker);
    const unsigned char *bytes = static_cast<const unsigned char *>(table.GetSharedMemoryAddress());
    EXPECT_EQ(bytes[0], 0x07);     // native little-endian word 0x00FADE07
    EXPECT_EQ(bytes[3], 0x00);
    EXPECT_EQ(cb()->lastSessionId, 0u);
    EXPECT_EQ(cb()->pidPoolLow, 1);          // low below 1: 1 and 50000
    EXPECT_EQ(cb()->pidPoolHigh, 50000);
    EXPECT_EQ(cb()->pidPoolNext, 1);
    EXPECT_EQ(cb()->numberOfRecords, 10u);
    EXPECT_LE(std::abs(static_cast<long>(time(nullptr)) - static_cast<long>(cb()->lastAccessed)), 2);
    for (unsigned i = 0; i < 10; ++i) {
        const unsigned char *r = reinterpret_cast<const unsigned char *>(table.GetSessionTableAddress() + i);
        for (int k = 0; k < kRecordSize; ++k) ASSERT_EQ(r[k], 0) << "record " << i << " byte " << k;
    }
    EXPECT_EQ(ReadFile(dir.Logs() + "/.shmid"), std::to_string(table.GetSharedMemoryId()) + "\n");
    // The table's own lock file, named after its key.
    EXPECT_EQ(table.GetLockFilePath(), LockFilePath(static_cast<int32_t>(dir.Key())));
    struct stat st {};
    ASSERT_EQ(stat(table.GetLockFilePath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // A FIFO put in place of the id file is neither waited on nor written.
    const std::string idFile = dir.Logs() + "/.shmid";
    ASSERT_EQ(unlink(idFile.c_str()), 0);
    ASSERT_EQ(mkfifo(idFile.c_str(), 0600), 0);
    CZelSessionTable again;
    ASSERT_GE(ResultCode(again.Init(10, 0, 0)), 0);
    ASSERT_EQ(lstat(idFile.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST_F(SessTblTable, PoolRangeKeptForSameLowReplacedForOther) {
    ASSERT_GE(ResultCode(table.Init(10, 100, 200)), 0);
    EXPECT_EQ(cb()->pidPoolLow, 100);
    EXPECT_EQ(cb()->pidPoolHigh, 200);
    EXPECT_EQ(cb()->pidPoolNext, 100);

    CZelSessionTable same;
    ASSERT_GE(ResultCode(same.Init(10, 100, 999)), 0);
    EXPECT_EQ(same.GetSharedMemoryId(), table.GetSharedMemoryId());
    EXPECT_EQ(cb()->pidPoolHigh, 200);

    cb()->pidPoolNext = 150;
    CZelSessionTable other;
    ASSERT_GE(ResultCode(other.Init(10, 300, 400)), 0);
    EXPECT_EQ(cb()->pidPoolLow, 300);
    EXPECT_EQ(cb()->pidPoolHigh, 400);
    EXPECT_EQ(cb()->pidPoolNext, 300);       // raised to the new low
}

TEST_F(SessTblTable, ExistingSegmentGivesItsRealRecordCount) {
    ASSERT_GE(ResultCode(table.Init(10, 1, 100)), 0);
    // A second creator with another MaxSessions while the first is attached.
    CZelSessionTable bigger;
    ASSERT_GE(ResultCode(bigger.Init(20, 1, 100)), 0);
    EXPECT_EQ(bigger.GetSharedMemoryId(), table.GetSharedMemoryId());
    EXPECT_EQ(bigger.GetNumberOfEntries(), 10u);
    CZelSessionTable smaller;
    ASSERT_GE(ResultCode(smaller.Init(4, 1, 100)), 0);
    EXPECT_EQ(smaller.GetNumberOfEntries(), 10u);
    EXPECT_EQ(cb()->numberOfRecords, 10u);
}

TEST_F(SessTblTable, StaleUnattachedSegmentIsReplaced) {
    int stale = shmget(dir.Key(), 4096, IPC_CREAT | 0600);
    ASSERT_GE(stale, 0);
    ASSERT_GE(ResultCode(table.Init(3, 1, 100)), 0);
    EXPECT_NE(table.GetSharedMemoryId(), stale);
    EXPECT_EQ(SegmentBytes(table.GetSharedMemoryId()), 2048u + 3 * 224);
    EXPECT_EQ(table.GetNumberOfEntries(), 3u);
}

TEST_F(SessTblTable, InvalidCountsAreRefused) {
    EXPECT_EQ(table.Init(-5, 1, 100), Result::SessTblIPCError);
    EXPECT_FALSE(table.IsAttached());
    EXPECT_LT(shmget(dir.Key(), 0, 0), 0);
}

TEST_F(SessTblTable, AttachModeWithoutTableTouchesNothing) {
    // No segment: attach mode fails and creates nothing.
    CZelSessionTable editor;
    EXPECT_LT(ResultCode(editor.Init(0, 1, 150000)), 0);
    EXPECT_FALSE(editor.IsAttached());
    EXPECT_LT(shmget(dir.Key(), 0, 0), 0);
    EXPECT_FALSE(Exists(dir.Logs() + "/.shmid"));

    // A segment without the marker is never initialised in attach mode.
    int foreign = shmget(dir.Key(), 4096, IPC_CREAT | 0600);
    ASSERT_GE(foreign, 0);
    void *p = shmat(foreign, nullptr, 0);
    ASSERT_NE(p, reinterpret_cast<void *>(-1));
    std::memset(p, 0xAB, 4096);
    CZelSessionTable editor2;
    EXPECT_LT(ResultCode(editor2.Init(0, 1, 150000)), 0);
    EXPECT_EQ(static_cast<unsigned char *>(p)[0], 0xAB);
    EXPECT_EQ(static_cast<unsigned char *>(p)[4095], 0xAB);
    EXPECT_FALSE(Exists(dir.Logs() + "/.shmid"));
    shmdt(p);
}

TEST_F(SessTblTable, AttachModeNeverCreatesTheLockFile) {
    const std::string lockFile = LockFilePath(static_cast<int32_t>(dir.Key()));
    unlink(lockFile.c_str());
    CZelSessionTable editor;
    EXPECT_EQ(editor.Init(0, 1, 150000), Result::SessTblLockFileError);
    EXPECT_FALSE(Exists(lockFile));
    ASSERT_GE(ResultCode(table.Init(5, 1, 100)), 0);
    EXPECT_TRUE(Exists(lockFile));
}

TEST_F(SessTblTable, FailedInitLeavesNoRecordsBehind) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to become a user without access";
    // A user who may neither search this directory nor open the lock file:
    // Init fails early.  Before the fix the look-ups below then ran over a
    // null table.
    ForkedChild child([](int, int) {
        if (setegid(65534) != 0 || seteuid(65534) != 0) return 9;
        CZelSessionTable t;
        if (ResultCode(t.Init(10, 1, 100)) >= 0) return 1;
        if (t.IsAttached() || t.GetNumberOfEntries() != 0) return 2;
        if (t.GetNumberOfNotEmptyEntries() != 0) return 3;
        std::unique_ptr<CZelSessionTable::Record> h;
        if (t.Get(0u, h, true, true) != Result::SessTblFull || h) return 4;
        if (t.Get(5u, h, true, true) != Result::SessTblInvalidSessId || h) return 5;
        if (t.GetByPidPool(0u, h, true, true) != Result::SessTblFull || h) return 6;
        if (t.ExpireAll() == Result::Success) return 7;
        return 0;
    });
    EXPECT_EQ(child.Wait(), 0);
}

TEST_F(SessTblTable, AttachModeStampsAndKeepsTheRest) {
    ASSERT_GE(ResultCode(table.Init(7, 10, 20)), 0);
    ASSERT_EQ(unlink((dir.Logs() + "/.shmid").c_str()), 0);
    CZelSessionTable editor;
    ASSERT_GE(ResultCode(editor.Init(0, 1, 150000)), 0);
    EXPECT_EQ(editor.GetSharedMemoryId(), table.GetSharedMemoryId());
    editor.SetLastReconfigured(1234567890);
    EXPECT_EQ(table.GetLastReconfigured(), 1234567890);
    EXPECT_EQ(cb()->lastReconfigured, 1234567890u);
    // Moving the stamp: never back; past the current one when asked, so
    // two saves in one second give two stamps.
    EXPECT_EQ(editor.MoveLastReconfigured(1234567000, false), 1234567890);
    EXPECT_EQ(editor.MoveLastReconfigured(1234567895, false), 1234567895);
    EXPECT_EQ(editor.MoveLastReconfigured(1234567895, true), 1234567896);
    EXPECT_EQ(editor.MoveLastReconfigured(1234567895, true), 1234567897);
    EXPECT_EQ(editor.MoveLastReconfigured(1234567999, true), 1234567999);
    EXPECT_EQ(cb()->lastReconfigured, 1234567999u);
    cb()->lastReconfigured = UINT32_MAX;             // the word never wraps to 0
    EXPECT_EQ(editor.MoveLastReconfigured(5, true), static_cast<time_t>(UINT32_MAX));
    EXPECT_EQ(cb()->numberOfRecords, 7u);
    EXPECT_EQ(cb()->pidPoolLow, 10);
    EXPECT_EQ(cb()->pidPoolHigh, 20);
    EXPECT_FALSE(Exists(dir.Logs() + "/.shmid"));
}

TEST_F(SessTblTable, RegistryTakesOneSlotPerProcess) {
    ASSERT_GE(ResultCode(table.Init(2, 1, 100)), 0);
    for (int k = 0; k < 50; ++k) EXPECT_EQ(table.RegisterProcessID(4242), Result::Success);
    int used = 0;
    for (int32_t p : cb()->registry) used += p == 4242;
    EXPECT_EQ(used, 1);
    for (int pid = 1; pid < CZelSessionTable::gnMaxNumberOfPids; ++pid)
        ASSERT_EQ(table.RegisterProcessID(100000 + pid), Result::Success);
    EXPECT_EQ(table.RegisterProcessID(7), Result::SessTblFull);       // the 501st
    EXPECT_EQ(table.RegisterProcessID(4242), Result::Success);        // already there
    EXPECT_EQ(table.UnregisterProcessID(4242), 0);
    EXPECT_EQ(table.UnregisterProcessID(4242), 1);
    EXPECT_EQ(table.RegisterProcessID(7), Result::Success);
}

TEST_F(SessTblTable, DeadProcessesAreClearedAndRegistryCompacted) {
    ASSERT_GE(ResultCode(table.Init(2, 1, 100)), 0);
    ForkedChild dead([](int, int) { return 0; });
    pid_t deadPid = dead.Pid();
    ASSERT_EQ(dead.Wait(), 0);
    ForkedChild alive([](int, int command) {
        ChildAwait(command);
        return 0;
    });
    ASSERT_EQ(table.RegisterProcessID(deadPid), Result::Success);
    ASSERT_EQ(table.RegisterProcessID(getpid()), Result::Success);
    ASSERT_EQ(table.RegisterProcessID(alive.Pid()), Result::Success);
    EXPECT_EQ(table.CheckProcessIDs(), 0);          // the live child counts
    EXPECT_EQ(cb()->registry[0], static_cast<int32_t>(getpid()));
    EXPECT_EQ(cb()->registry[1], static_cast<int32_t>(alive.Pid()));
    EXPECT_EQ(cb()->registry[2], 0);
    alive.Release();
    ASSERT_EQ(alive.Wait(), 0);
    EXPECT_EQ(table.CheckProcessIDs(), 1);          // only the caller is left
    EXPECT_EQ(cb()->registry[0], static_cast<int32_t>(getpid()));
    EXPECT_EQ(cb()->registry[1], 0);
}

TEST_F(SessTblTable, StampsClearDeadProcessesAtMostOnceASecond) {
    ASSERT_GE(ResultCode(table.Init(2, 1, 100)), 0);
    auto deadPid = [] {
        ForkedChild dead([](int, int) { return 0; });
        EXPECT_EQ(dead.Wait(), 0);
        return dead.Pid();
    };
    auto registered = [&](pid_t pid) {
        for (int32_t slot : cb()->registry)
            if (slot == pid) return true;
        return false;
    };
    time_t t = 1700000000;
    while (t % 3 != 1) ++t;   // a second that clears dead processes
    const pid_t first = deadPid();
    ASSERT_EQ(table.RegisterProcessID(first), Result::Success);
    table.SetLastAccessed(t);
    EXPECT_FALSE(registered(first));
    // Busy: the same second stamps again and again, but checks once.
    const pid_t second = deadPid();
    ASSERT_EQ(table.RegisterProcessID(second), Result::Success);
    table.SetLastAccessed(t);
    table.SetLastAccessed(t + 1);
    EXPECT_TRUE(registered(second));
    EXPECT_EQ(cb()->lastAccessed, static_cast<uint32_t>(t + 1));
    // The next such second clears it: killed workers never fill the registry.
    table.SetLastAccessed(t + 3);
    EXPECT_FALSE(registered(second));
    EXPECT_EQ(cb()->lastAccessed, static_cast<uint32_t>(t + 3));
}

TEST_F(SessTblTable, AForkedChildActsUnderItsOwnProcessId) {
    ASSERT_GE(ResultCode(table.Init(2, 1, 100)), 0);
    ASSERT_EQ(table.RegisterProcessID(getpid()), Result::Success);
    std::unique_ptr<CZelSessionTable::Record> held, free;
    ASSERT_EQ(table.Get(0u, held, true, true), Result::Success);   // locked over the fork
    ASSERT_EQ(table.Get(0u, free, true, true), Result::Success);
    const unsigned heldId = held->GetLocalSessionId(), freeId = free->GetLocalSessionId();
    free.reset();
    ForkedChild child([&](int, int) {
        std::unique_ptr<CZelSessionTable::Record> r;
        // The parent's lock is not the child's.
        if (table.Get(heldId, r, false, false) != Result::SessTblRecordLocked) return 1;
        r.reset();
        if (table.Get(freeId, r, true, true) != Result::Success) return 2;
        if (table.GetSessionTableAddress()[1].lastPid != getpid()) return 3;
        // Nor is its registration.
        if (table.UnregisterProcessID(getpid()) != 1) return 4;
        return 0;
    });
    EXPECT_EQ(child.Wait(), 0);
    int32_t parents = 0;
    for (int32_t slot : cb()->registry) parents += slot == getpid();
    EXPECT_EQ(parents, 1);
}

TEST_F(SessTblTable, CountersSkipZeroAndWrapPools) {
    ASSERT_GE(ResultCode(table.Init(2, 5, 9)), 0);
    EXPECT_EQ(table.GetNextNewSessionId(), 1u);
    EXPECT_EQ(table.GetNextNewSessionId(), 2u);
    cb()->lastSessionId = 0xFFFFFFFFu;
    EXPECT_EQ(table.GetNextNewSessionId(), 1u);     // 0 means a free record

    EXPECT_EQ(table.GetNextPidPool(), 6);
    cb()->pidPoolNext = 8;                           // high - 1
    EXPECT_EQ(table.GetNextPidPool(), 5);
    cb()->pidPoolNext = -3;                          // damaged: back into range
    EXPECT_EQ(table.GetNextPidPool(), 5);
}

// Access times are whole seconds: only more than the time-out is sure to be
// the whole time-out, so exactly the time-out is not expired yet.
TEST(SessTblExpiry, OneRuleIdleForMoreThanTheTimeout) {
    EXPECT_FALSE(CZelSessionTable::IsExpired(1000, 1119, 120));
    EXPECT_FALSE(CZelSessionTable::IsExpired(1000, 1120, 120));
    EXPECT_TRUE(CZelSessionTable::IsExpired(1000, 1121, 120));
    EXPECT_FALSE(CZelSessionTable::IsExpired(1000, 900, 120));   // a clock set back
    EXPECT_TRUE(CZelSessionTable::IsExpired(0, 4000000000LL, 120));
}

TEST_F(SessTblTable, StampsAreStoredAsWords) {
    ASSERT_GE(ResultCode(table.Init(2, 1, 100)), 0);
    table.SetLastAccessed(1700000000);
    EXPECT_EQ(cb()->lastAccessed, 1700000000u);
    EXPECT_EQ(table.GetLastAccessed(), 1700000000);
    table.SetLastReconfigured(3000000000LL);         // past 2038 still fits the word
    EXPECT_EQ(table.GetLastReconfigured(), 3000000000LL);
}

TEST_F(SessTblTable, CleanerLockProbe) {
    ASSERT_EQ(table.Init(2, 1, 100), Result::SessTblNoCleanerProcess);
    {
        CZelSessionTable::Cleaner cleaner(&table);
        ASSERT_TRUE(cleaner.IsLockSuccessful());
        // This process is the cleaner; probing must not release its lock.
        EXPECT_EQ(table.CheckCleanerProcessRunning(), Result::Success);
        ForkedChild other([&](int, int) {
            return table.CheckCleanerProcessRunning() == Result::Success ? 0 : 1;
        });
        EXPECT_EQ(other.Wait(), 0);
    }
    EXPECT_EQ(table.CheckCleanerProcessRunning(), Result::SessTblNoCleanerProcess);
    // A cleaner in another process.
    ForkedChild cleanerChild([&](int ready, int command) {
        CZelSessionTable::Cleaner cleaner(&table);
        ChildReady(ready);
        ChildAwait(command);
        return cleaner.IsLockSuccessful() ? 0 : 1;
    });
    ASSERT_TRUE(cleanerChild.WaitReady());
    CZelSessionTable second;
    EXPECT_EQ(second.Init(2, 1, 100), Result::Success);
    cleanerChild.Release();
    EXPECT_EQ(cleanerChild.Wait(), 0);
}

// ---------------------------------------------------------------------------
// Lock file checks (on private paths: the real one is shared by the machine)

TEST_F(SessTblTable, LockFileRefusals) {
    std::string good = dir.Root() + "/lock";
    int fd = CZelSessionTable::OpenLockFile(good.c_str(), true);
    ASSERT_GE(fd, 0);
    close(fd);
    struct stat st {};
    ASSERT_EQ(stat(good.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    EXPECT_EQ(CZelSessionTable::OpenLockFile((dir.Root() + "/missing").c_str(), false), -1);
    EXPECT_FALSE(Exists(dir.Root() + "/missing"));

    std::string link = dir.Root() + "/link";
    ASSERT_EQ(symlink(good.c_str(), link.c_str()), 0);
    EXPECT_EQ(CZelSessionTable::OpenLockFile(link.c_str(), true), -1);

    ASSERT_EQ(chmod(good.c_str(), 0620), 0);
    EXPECT_EQ(CZelSessionTable::OpenLockFile(good.c_str(), true), -1);
    ASSERT_EQ(chmod(good.c_str(), 0602), 0);
    EXPECT_EQ(CZelSessionTable::OpenLockFile(good.c_str(), true), -1);
    ASSERT_EQ(chmod(good.c_str(), 0640), 0);         // readable by others is fine
    fd = CZelSessionTable::OpenLockFile(good.c_str(), true);
    EXPECT_GE(fd, 0);
    if (fd >= 0) close(fd);

    EXPECT_EQ(CZelSessionTable::OpenLockFile(dir.Root().c_str(), false), -1);   // a directory
}

TEST_F(SessTblTable, LockFileOwnership) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to own files as other users";
    std::string path = dir.Root() + "/lock";
    int fd = open(path.c_str(), O_CREAT | O_RDWR, 0600);
    ASSERT_GE(fd, 0);
    close(fd);
    ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
    // Root may use a lock file of the gateway's user ("-reconf" by an admin).
    fd = CZelSessionTable::OpenLockFile(path.c_str(), false);
    EXPECT_GE(fd, 0);
    if (fd >= 0) close(fd);
    // The owner itself, without root rights.
    ASSERT_EQ(chmod(dir.Root().c_str(), 0755), 0);
    ASSERT_EQ(chmod((dir.Root() + "/..").c_str(), 0755), 0);
    ForkedChild owner([&](int, int) {
        if (setegid(65534) != 0 || seteuid(65534) != 0) return 2;
        int f = CZelSessionTable::OpenLockFile(path.c_str(), false);
        return f >= 0 ? 0 : 1;
    });
    EXPECT_EQ(owner.Wait(), 0);
}

}  // namespace
