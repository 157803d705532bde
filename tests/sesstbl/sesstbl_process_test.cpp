// Session table shared by processes: record locks between processes, a
// killed lock holder, the cleaner pass, and many processes creating,
// finding, touching and removing sessions at once.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <unistd.h>

#include "TableTestDir.h"
#include "ZelBuffer.h"
#include "ZelSessionTable.h"

using namespace sesstbl;
using Table = CZelSessionTable;
using RecordPtr = std::unique_ptr<Table::Record>;

namespace {

bool Exists(const std::string &path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

class SessTblProcess : public ::testing::Test {
protected:
    void SetUp() override {
        unsetenv("REMOTE_ADDR");
        ASSERT_GE(ResultCode(table.Init(10, 1, 100)), 0);
    }
    SessionRecord &rec(unsigned i) { return table.GetSessionTableAddress()[i]; }
    unsigned CreateSession() {
        RecordPtr h;
        EXPECT_EQ(table.Get(0u, h, true, false), Result::Success);
        return h ? h->GetLocalSessionId() : 0;
    }

    TableTestDir dir;
    Table table;
};

SessionRecord &rec_of(Table &table, unsigned i) { return table.GetSessionTableAddress()[i]; }

// A child that holds the lock of the session `id` until released.
ForkedChild HoldSession(Table &table, unsigned id) {
    return ForkedChild([&table, id](int ready, int command) {
        RecordPtr h;
        if (table.Get(id, h, true, false) != Result::Success) return 1;
        ChildReady(ready);
        ChildAwait(command);
        return 0;
    });
}

TEST_F(SessTblProcess, LockedRecordIsNeverWritten) {
    unsigned id = 0;
    for (int i = 0; i < 4; ++i) id = CreateSession();     // record 3
    ForkedChild holder = HoldSession(table, id);
    ASSERT_TRUE(holder.WaitReady());

    setenv("REMOTE_ADDR", "10.9.8.7", 1);
    rec(3).lastAccessed = 1234;
    RecordPtr h;
    EXPECT_EQ(table.Get(id, h, false, true), Result::SessTblRecordLocked);
    ASSERT_TRUE(h);
    EXPECT_FALSE(h->IsLockSuccessful());
    h->SetDtpSessionId(77);
    h->SetOpenState(true);
    h->SetPib(CBuffer("xyz", 3));
    EXPECT_EQ(h->SetLatestMcsData(CBuffer("xyz", 3)), Result::SessTblLatestMcsDataFile);
    h->Remove();
    h.reset();                               // the destructor does not stamp either
    EXPECT_EQ(rec(3).dtpId, 0u);
    EXPECT_EQ(rec(3).flags, 0);
    EXPECT_EQ(rec(3).pib[0], 0);
    EXPECT_EQ(rec(3).clientAddr[0], 0);
    EXPECT_EQ(rec(3).lastAccessed, 1234u);
    EXPECT_EQ(rec(3).localId, id);
    unsetenv("REMOTE_ADDR");

    Table::Lock probe(&table, 3, 1, false);
    EXPECT_FALSE(probe.IsLockSuccessful());
    EXPECT_EQ(probe.GetLockProcessId(), holder.Pid());
    // The GUID look-up reports the lock as well.
    Table::Guid_t g(rec(3).guid);
    EXPECT_EQ(table.Get(g, h, false, false), Result::SessTblRecordLocked);
    h.reset();

    holder.Release();
    EXPECT_EQ(holder.Wait(), 0);
    Table::Lock after(&table, 3, 1, false);
    EXPECT_TRUE(after.IsLockSuccessful());
    EXPECT_EQ(after.GetLockProcessId(), 0);
}

TEST_F(SessTblProcess, LockRanges) {
    Table::Lock all(&table, 5, 0, false);
    EXPECT_EQ(all.GetFirstByte(), 7);
    EXPECT_EQ(all.GetByteCount(), 5);        // records 5..9 of 10
    EXPECT_EQ(all.GetStartEntry(), 5);
    Table::Lock cleaner(&table, Table::Lock::CleanerLock, false);
    EXPECT_EQ(cleaner.GetFirstByte(), 0);
    Table::Lock cb(&table, Table::Lock::ControlBlockLock, false);
    EXPECT_EQ(cb.GetFirstByte(), 1);
    EXPECT_TRUE(cb.IsLockSuccessful());
    EXPECT_EQ(cb.GetLockProcessId(), 0);

    ForkedChild other([&](int, int) {
        Table::Lock r7(&table, 7, 1, false);
        Table::Lock r4(&table, 4, 1, false);
        return (!r7.IsLockSuccessful() && r4.IsLockSuccessful()) ? 0 : 1;
    });
    EXPECT_EQ(other.Wait(), 0);
}

TEST_F(SessTblProcess, NestedLocksInOneProcessStayHeld) {
    unsigned id = CreateSession();
    RecordPtr outer;
    ASSERT_EQ(table.Get(id, outer, true, false), Result::Success);
    {
        RecordPtr inner;
        ASSERT_EQ(table.Get(id, inner, true, false), Result::Success);
        // Control-block lock taken and released inside: record lock kept.
        table.GetNextNewSessionId();
    }
    ForkedChild other([&](int, int) {
        Table::Lock r0(&table, 0, 1, false);
        Table::Lock cb(&table, Table::Lock::ControlBlockLock, false);
        return (!r0.IsLockSuccessful() && cb.IsLockSuccessful()) ? 0 : 1;
    });
    EXPECT_EQ(other.Wait(), 0);
}

TEST_F(SessTblProcess, KilledHolderReleasesItsLock) {
    unsigned id = CreateSession();
    ForkedChild holder = HoldSession(table, id);
    ASSERT_TRUE(holder.WaitReady());
    {
        RecordPtr h;
        EXPECT_EQ(table.Get(id, h, false, false), Result::SessTblRecordLocked);
    }
    kill(holder.Pid(), SIGKILL);
    EXPECT_EQ(holder.Wait(), 128 + SIGKILL);
    RecordPtr h;
    EXPECT_EQ(table.Get(id, h, false, false), Result::Success);
}

TEST_F(SessTblProcess, WaitingLookupSeesTheRecordFreedMeanwhile) {
    unsigned id = CreateSession();
    ForkedChild remover([&](int ready, int command) {
        RecordPtr h;
        if (table.Get(id, h, true, false) != Result::Success) return 1;
        ChildReady(ready);
        ChildAwait(command);
        h->Remove();
        return 0;
    });
    ASSERT_TRUE(remover.WaitReady());
    remover.Release();
    RecordPtr h;
    // Waits for the lock (or comes late): either way the session is gone.
    EXPECT_EQ(table.Get(id, h, true, false), Result::SessTblInvalidSessId);
    EXPECT_FALSE(h);
    EXPECT_EQ(remover.Wait(), 0);
}

// ---------------------------------------------------------------------------
// Cleaner

TEST_F(SessTblProcess, CleanerListsIdleSessionsOnly) {
    unsigned a = CreateSession(), b = CreateSession();
    time_t now = time(nullptr);
    rec(0).lastAccessed = TimeToWord(now - 121);     // more than the time-out
    rec(1).lastAccessed = TimeToWord(now - 119);
    Table::Cleaner cleaner(&table);
    ASSERT_TRUE(cleaner.IsLockSuccessful());
    cleaner.SetRecordTimeout(120);
    cleaner.SetTableTimeout(240);
    std::vector<int> expired;
    EXPECT_EQ(cleaner.Run(expired), Result::Success);
    ASSERT_EQ(expired.size(), 1u);
    EXPECT_EQ(static_cast<unsigned>(expired[0]), a);
    // The records are left for the caller to close and remove.
    EXPECT_EQ(rec(0).localId, a);
    EXPECT_EQ(rec(1).localId, b);
}

TEST_F(SessTblProcess, NewSessionIsNotIdleBeforeItsFirstTouch) {
    // Record 0 held an old session; record 1 was never used.
    RecordPtr old;
    ASSERT_EQ(table.Get(0u, old, true, false), Result::Success);
    old->Remove();
    old.reset();
    rec(0).lastAccessed = TimeToWord(time(nullptr) - 5000);
    RecordPtr a, b;
    ASSERT_EQ(table.Get(0u, a, true, false), Result::Success);
    ASSERT_EQ(table.GetByPidPool(0u, b, true, false), Result::Success);
    ASSERT_EQ(a->GetPosition(), 0u);
    ASSERT_EQ(b->GetPosition(), 1u);
    // A cleaner in another process: its pass must not list them (or kill
    // this process, were it registered) while they are being set up.
    ForkedChild cleanerChild([&](int, int) {
        Table::Cleaner cleaner(&table);
        cleaner.SetRecordTimeout(120);
        std::vector<int> expired;
        if (cleaner.Run(expired) != Result::Success) return 1;
        return expired.empty() ? 0 : 2;
    });
    EXPECT_EQ(cleanerChild.Wait(), 0);
}

TEST_F(SessTblProcess, CleanerKillsOnlyRegisteredHolders) {
    unsigned a = CreateSession(), b = CreateSession();
    ForkedChild worker = HoldSession(table, a);
    ForkedChild stranger = HoldSession(table, b);
    ASSERT_TRUE(worker.WaitReady());
    ASSERT_TRUE(stranger.WaitReady());
    ASSERT_EQ(table.RegisterProcessID(worker.Pid()), Result::Success);
    rec(0).lastAccessed = TimeToWord(time(nullptr) - 1000);
    rec(1).lastAccessed = TimeToWord(time(nullptr) - 1000);

    Table::Cleaner cleaner(&table);
    cleaner.SetRecordTimeout(120);
    std::vector<int> expired;
    EXPECT_EQ(cleaner.Run(expired), Result::Success);
    EXPECT_EQ(expired.size(), 2u);
    EXPECT_EQ(worker.Wait(), 128 + SIGKILL);
    // Not in this table's registry: left alone.
    EXPECT_EQ(kill(stranger.Pid(), 0), 0);
    stranger.Release();
    EXPECT_EQ(stranger.Wait(), 0);
}

TEST_F(SessTblProcess, CleanerWithoutItsLockStops) {
    ForkedChild cleanerChild([&](int ready, int command) {
        Table::Cleaner c(&table);
        ChildReady(ready);
        ChildAwait(command);
        return c.IsLockSuccessful() ? 0 : 1;
    });
    ASSERT_TRUE(cleanerChild.WaitReady());
    Table::Cleaner second(&table);
    EXPECT_FALSE(second.IsLockSuccessful());
    std::vector<int> expired;
    EXPECT_EQ(second.Run(expired), Result::SessTblStopCleanerProcess);
    cleanerChild.Release();
    EXPECT_EQ(cleanerChild.Wait(), 0);
}

// The process holding a byte of a lock file, 0 the cleaner's (seen from
// another process).
pid_t CleanerByteHolder(const std::string &file, int byte = 0) {
    int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = byte;
    fl.l_len = 1;
    pid_t holder = fcntl(fd, F_GETLK, &fl) == 0 && fl.l_type != F_UNLCK ? fl.l_pid : 0;
    close(fd);
    return holder;
}

TEST_F(SessTblProcess, AReplacedLockFileIsTakenAtInitAndByTheCleaner) {
    const std::string file = table.GetLockFilePath();
    // Deleted under a running process: its next Init takes a new file.
    ASSERT_EQ(unlink(file.c_str()), 0);
    EXPECT_TRUE(table.IsLockFileReplaced());
    ASSERT_GE(ResultCode(table.Init(10, 1, 100)), 0);
    EXPECT_FALSE(table.IsLockFileReplaced());
    EXPECT_TRUE(Exists(file));

    // The cleaner moves to the new file at the start of its next pass.
    Table::Cleaner cleaner(&table);
    ASSERT_TRUE(cleaner.IsLockSuccessful());
    cleaner.SetTableTimeout(240);
    ASSERT_EQ(unlink(file.c_str()), 0);
    std::vector<int> expired;
    EXPECT_EQ(cleaner.Run(expired), Result::Success);
    EXPECT_FALSE(table.IsLockFileReplaced());
    const pid_t me = getpid();
    ForkedChild probe([&](int, int) { return CleanerByteHolder(file) == me ? 0 : 1; });
    EXPECT_EQ(probe.Wait(), 0) << "the cleaner holds byte 0 of the file on disk";

    // Replaced again, and another cleaner took the new file first: this
    // one ends.
    ASSERT_EQ(unlink(file.c_str()), 0);
    ForkedChild other([](int ready, int command) {
        Table t;
        if (ResultCode(t.Init(10, 1, 100)) < 0) return 2;
        Table::Cleaner c(&t);
        ChildReady(ready);
        ChildAwait(command);
        return c.IsLockSuccessful() ? 0 : 1;
    });
    ASSERT_TRUE(other.WaitReady());
    EXPECT_EQ(cleaner.Run(expired), Result::SessTblStopCleanerProcess);
    other.Release();
    EXPECT_EQ(other.Wait(), 0);
}

TEST_F(SessTblProcess, IdleEmptyTableIsRemovedWhenAlone) {
    int id = table.GetSharedMemoryId();
    const std::string shmidFile = dir.Logs() + "/.shmid";
    ASSERT_TRUE(Exists(shmidFile));
    table.GetControlBlockAddress()->lastAccessed = TimeToWord(time(nullptr) - 240);

    // With a second process attached the table stays.
    ForkedChild attached([](int ready, int command) {
        ChildReady(ready);
        ChildAwait(command);
        return 0;
    });
    ASSERT_TRUE(attached.WaitReady());
    Table::Cleaner cleaner(&table);
    cleaner.SetRecordTimeout(120);
    cleaner.SetTableTimeout(240);
    std::vector<int> expired;
    EXPECT_EQ(cleaner.Run(expired), Result::Success);
    EXPECT_TRUE(table.IsAttached());
    attached.Release();
    ASSERT_EQ(attached.Wait(), 0);

    // Alone, and idle for the table time-out: removed.
    table.GetControlBlockAddress()->lastAccessed = TimeToWord(time(nullptr) - 240);
    EXPECT_EQ(cleaner.Run(expired), Result::SessTblStopCleanerProcess);
    EXPECT_TRUE(expired.empty());
    EXPECT_FALSE(table.IsAttached());
    struct shmid_ds ds {};
    EXPECT_NE(shmctl(id, IPC_STAT, &ds), 0);
    EXPECT_FALSE(Exists(shmidFile));
    EXPECT_FALSE(Exists(table.GetLockFilePath())) << "the lock file goes with the table";
    EXPECT_EQ(cleaner.Run(expired), Result::SessTblStopCleanerProcess);
}

// The lock file goes with an idle table, but never while another process
// holds a lock on it; a process that still has the deleted file open and
// then takes a lock finds the file gone and locks the one on disk, so
// everybody locks the same file again.
TEST_F(SessTblProcess, TheLockFileGoesWithTheTableUnlessInUse) {
    const std::string file = table.GetLockFilePath();
    ASSERT_TRUE(Exists(file));
    // Joined the table once, and let the segment go: it keeps the file open.
    ForkedChild late([&](int ready, int command) {
        table.Detach();   // the attachment the fork inherited
        Table t;
        if (ResultCode(t.Init(10, 1, 100)) < 0) return 2;
        t.Detach();
        ChildReady(ready);
        ChildAwait(command);
        Table::Lock cb(&t, Table::Lock::ControlBlockLock, true);
        if (!cb.IsLockSuccessful() || t.IsLockFileReplaced()) return 3;
        ChildReady(ready);
        ChildAwait(command);
        return 0;
    });
    ASSERT_TRUE(late.WaitReady());
    // Holds a record byte of the file without joining the table.
    ForkedChild holder([&](int ready, int command) {
        table.Detach();
        int fd = open(file.c_str(), O_RDWR | O_CLOEXEC);
        struct flock fl {};
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        fl.l_start = 50;
        fl.l_len = 1;
        if (fd < 0 || fcntl(fd, F_SETLK, &fl) != 0) return 2;
        ChildReady(ready);
        ChildAwait(command);
        return 0;
    });
    ASSERT_TRUE(holder.WaitReady());

    Table::Cleaner cleaner(&table);
    cleaner.SetTableTimeout(240);
    std::vector<int> expired;
    table.GetControlBlockAddress()->lastAccessed = TimeToWord(time(nullptr) - 240);
    EXPECT_EQ(cleaner.Run(expired), Result::SessTblStopCleanerProcess);
    EXPECT_FALSE(table.IsAttached());
    EXPECT_TRUE(Exists(file)) << "a lock is held on it";
    holder.Release();
    EXPECT_EQ(holder.Wait(), 0);

    // A new table on the same file, idle as well: both go.
    ASSERT_GE(ResultCode(table.Init(10, 1, 100)), 0);
    table.GetControlBlockAddress()->lastAccessed = TimeToWord(time(nullptr) - 240);
    EXPECT_EQ(cleaner.Run(expired), Result::SessTblStopCleanerProcess);
    EXPECT_FALSE(table.IsAttached());
    EXPECT_FALSE(Exists(file));

    // The late process locks the control block: on a new file at the path.
    late.Release();
    ASSERT_TRUE(late.WaitReady());
    EXPECT_TRUE(Exists(file));
    const pid_t lateProcess = late.Pid();
    ForkedChild probe([&](int, int) { return CleanerByteHolder(file, 1) == lateProcess ? 0 : 1; });
    EXPECT_EQ(probe.Wait(), 0) << "the lock is held on the file on disk";
    late.Release();
    EXPECT_EQ(late.Wait(), 0);
}

TEST_F(SessTblProcess, RecentlyUsedEmptyTableStays) {
    table.GetControlBlockAddress()->lastAccessed = TimeToWord(time(nullptr) - 10);
    Table::Cleaner cleaner(&table);
    cleaner.SetTableTimeout(240);
    std::vector<int> expired;
    EXPECT_EQ(cleaner.Run(expired), Result::Success);
    EXPECT_TRUE(table.IsAttached());
}

// ---------------------------------------------------------------------------
// Many processes at once

// Each worker creates sessions, finds them again by id and GUID, stores and
// reads screen data, and removes every other one; it reports what it made.
// It stays attached until the test lets it go: a segment that nobody holds
// counts as stale and the next creator would replace it.
int Worker(int index, int out, int rounds, int ready, int command) {
    Table t;        // its own attachment, as a separately started process would
    Result r = t.Init(64, 1, 1000);
    if (ResultCode(r) < 0) return 10;
    if (t.RegisterProcessID(getpid()) != Result::Success) return 11;
    std::ostringstream report;
    report << "shm " << t.GetSharedMemoryId() << "\n";
    for (int k = 0; k < rounds; ++k) {
        RecordPtr h;
        if (t.Get(0u, h, true, true) != Result::Success) return 12;
        unsigned id = h->GetLocalSessionId();
        Table::Guid_t g;
        h->GetSessionGuid(g);
        std::string data = "screen of " + std::to_string(index) + "/" + std::to_string(k);
        if (h->SetLatestMcsData(CBuffer(data.data(), static_cast<int>(data.size()))) != Result::Success)
            return 13;
        h.reset();

        RecordPtr again;
        if (t.Get(g, again, true, true) != Result::Success) return 14;
        if (again->GetLocalSessionId() != id) return 15;
        CBuffer back;
        if (again->GetLatestMcsData(back) != Result::Success) return 16;
        if (std::string(back.GetBuffer(), back.GetLength()) != data) return 17;
        again.reset();

        RecordPtr byId;
        if (t.Get(id, byId, true, false) != Result::Success) return 18;
        bool removed = k % 2 == 1;
        if (removed) byId->Remove();
        report << (removed ? "gone " : "live ") << id << " " << g.ToText() << "\n";
    }
    if (t.UnregisterProcessID(getpid()) != 0) return 19;
    std::string text = report.str();
    if (write(out, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return 20;
    close(out);
    ChildReady(ready);
    ChildAwait(command);
    return 0;
}

TEST(SessTblStress, ManyProcessesShareOneTable) {
    TableTestDir dir;
    constexpr int kWorkers = 8, kRounds = 12;
    std::vector<std::string> outputs(kWorkers);
    std::vector<std::unique_ptr<ForkedChild>> workers;
    std::vector<int> readEnds;
    // Nobody has made the table yet: the workers race to create it.
    for (int w = 0; w < kWorkers; ++w) {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        workers.push_back(std::make_unique<ForkedChild>([=](int ready, int command) {
            close(fds[0]);
            ChildReady(ready);
            ChildAwait(command);
            return Worker(w, fds[1], kRounds, ready, command);
        }));
        close(fds[1]);
        readEnds.push_back(fds[0]);
    }
    for (auto &w : workers) ASSERT_TRUE(w->WaitReady());
    for (auto &w : workers) w->Release();
    for (auto &w : workers) EXPECT_TRUE(w->WaitReady(60000));
    for (auto &w : workers) w->Release();
    for (int w = 0; w < kWorkers; ++w) {
        char buf[4096];
        ssize_t n;
        while ((n = read(readEnds[w], buf, sizeof buf)) > 0) outputs[w].append(buf, static_cast<size_t>(n));
        close(readEnds[w]);
        EXPECT_EQ(workers[w]->Wait(60000), 0) << "worker " << w;
    }

    std::set<std::string> shms;
    std::set<unsigned> ids;
    std::set<std::string> guids;
    std::set<unsigned> live;
    for (const std::string &out : outputs) {
        std::istringstream in(out);
        std::string kind, guid;
        unsigned id;
        while (in >> kind) {
            if (kind == "shm") {
                in >> guid;
                shms.insert(guid);
                continue;
            }
            in >> id >> guid;
            EXPECT_TRUE(ids.insert(id).second) << "id " << id << " handed out twice";
            EXPECT_TRUE(guids.insert(guid).second) << "guid " << guid << " twice";
            if (kind == "live") live.insert(id);
        }
    }
    EXPECT_EQ(shms.size(), 1u) << "every worker must attach the same segment";
    EXPECT_EQ(ids.size(), static_cast<size_t>(kWorkers * kRounds));

    Table check;
    ASSERT_GE(ResultCode(check.Init(0, 1, 1000)), 0);
    std::set<unsigned> inTable;
    for (unsigned i = 0; i < check.GetNumberOfEntries(); ++i) {
        unsigned id = check.GetSessionTableAddress()[i].localId;
        if (id != 0) {
            EXPECT_TRUE(inTable.insert(id).second);
        }
    }
    EXPECT_EQ(inTable, live);
    for (int32_t pid : check.GetControlBlockAddress()->registry) EXPECT_EQ(pid, 0);
    // The removed sessions' screen data went with them.
    for (unsigned i = 0; i < check.GetNumberOfEntries(); ++i) {
        const SessionRecord &r = check.GetSessionTableAddress()[i];
        if (r.localId != 0 || r.guid[0] == 0) continue;
        char name[64];
        snprintf(name, sizeof name, "./latestmcsdata/%u-%u-%u-%u", r.guid[0], r.guid[1], r.guid[2],
                 r.guid[3]);
        EXPECT_FALSE(Exists(name)) << name;
    }
}

// Workers keep creating, touching and removing sessions while a cleaner
// process expires the idle ones and closes them as the gateway's cleaner
// does: only the idle sessions go, and no worker is killed.
TEST(SessTblStress, CleanerExpiresIdleSessionsWhileWorkersRun) {
    TableTestDir dir;
    Table table;
    ASSERT_GE(ResultCode(table.Init(64, 1, 1000)), 0);
    std::set<unsigned> idle;
    for (int k = 0; k < 16; ++k) {
        RecordPtr h;
        ASSERT_EQ(table.Get(0u, h, true, false), Result::Success);
        idle.insert(h->GetLocalSessionId());
        h->SetLatestMcsData(CBuffer("old", 3));
        h.reset();
    }
    for (unsigned i = 0; i < 16; ++i) rec_of(table, i).lastAccessed = TimeToWord(time(nullptr) - 1000);

    constexpr int kWorkers = 4;
    std::vector<std::unique_ptr<ForkedChild>> workers;
    for (int w = 0; w < kWorkers; ++w) {
        workers.push_back(std::make_unique<ForkedChild>([&](int ready, int command) {
            if (table.RegisterProcessID(getpid()) != Result::Success) return 1;
            ChildReady(ready);
            ChildAwait(command);
            for (int k = 0; k < 40; ++k) {
                RecordPtr h;
                if (table.Get(0u, h, true, true) != Result::Success) return 2;
                unsigned id = h->GetLocalSessionId();
                h.reset();
                RecordPtr again;
                if (table.Get(id, again, true, true) != Result::Success) return 3;
                again->Remove();
            }
            return table.UnregisterProcessID(getpid()) == 0 ? 0 : 4;
        }));
    }
    ForkedChild cleanerChild([&](int ready, int command) {
        Table::Cleaner cleaner(&table);
        if (!cleaner.IsLockSuccessful()) return 1;
        cleaner.SetRecordTimeout(120);
        ChildReady(ready);
        ChildAwait(command);
        std::set<unsigned> closed;
        // At least 50 passes beside the workers, and on until every idle one is closed.
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        for (int pass = 0; pass < 50 || (closed.size() < 16 && std::chrono::steady_clock::now() < end); ++pass) {
            std::vector<int> expired;
            if (cleaner.Run(expired) != Result::Success) return 2;
            for (int id : expired) {
                RecordPtr h;
                if (table.Get(static_cast<unsigned>(id), h, false, false) != Result::Success) continue;
                h->Remove();
                closed.insert(static_cast<unsigned>(id));
            }
            usleep(1000);
        }
        return closed.size() == 16 ? 0 : 3;
    });
    for (auto &w : workers) ASSERT_TRUE(w->WaitReady());
    ASSERT_TRUE(cleanerChild.WaitReady());
    for (auto &w : workers) w->Release();
    cleanerChild.Release();
    for (auto &w : workers) EXPECT_EQ(w->Wait(60000), 0);
    EXPECT_EQ(cleanerChild.Wait(60000), 0);
    EXPECT_EQ(table.GetNumberOfNotEmptyEntries(), 0u);
    for (unsigned i = 0; i < table.GetNumberOfEntries(); ++i) {
        const SessionRecord &r = table.GetSessionTableAddress()[i];
        if (r.guid[0] == 0) continue;
        char name[64];
        snprintf(name, sizeof name, "./latestmcsdata/%u-%u-%u-%u", r.guid[0], r.guid[1], r.guid[2],
                 r.guid[3]);
        EXPECT_FALSE(Exists(name)) << name;
    }
    for (int32_t pid : table.GetControlBlockAddress()->registry) EXPECT_EQ(pid, 0);
}

TEST(SessTblStress, ConcurrentCreatorsFillTheTableExactly) {
    TableTestDir dir;
    Table table;
    ASSERT_GE(ResultCode(table.Init(40, 1, 1000)), 0);
    constexpr int kWorkers = 6;
    std::vector<std::unique_ptr<ForkedChild>> workers;
    for (int w = 0; w < kWorkers; ++w) {
        workers.push_back(std::make_unique<ForkedChild>([&](int ready, int command) {
            ChildReady(ready);
            ChildAwait(command);
            int made = 0;
            for (;;) {
                RecordPtr h;
                Result r = table.GetByPidPool(0u, h, true, false);
                if (r == Result::SessTblFull) break;
                if (r != Result::Success) return 200;
                ++made;
            }
            return made;
        }));
    }
    for (auto &w : workers) ASSERT_TRUE(w->WaitReady());
    for (auto &w : workers) w->Release();
    int total = 0;
    for (auto &w : workers) {
        int made = w->Wait(60000);
        ASSERT_GE(made, 0);
        ASSERT_LT(made, 200);
        total += made;
    }
    EXPECT_EQ(total, 40);
    std::set<unsigned> ids, pools;
    for (unsigned i = 0; i < 40; ++i) {
        const SessionRecord &r = table.GetSessionTableAddress()[i];
        EXPECT_TRUE(ids.insert(r.localId).second);
        EXPECT_TRUE(pools.insert(r.pidPool).second) << "pool " << r.pidPool << " twice";
    }
    EXPECT_EQ(*pools.begin(), 1u);
    EXPECT_EQ(*pools.rbegin(), 40u);
}

}  // namespace
