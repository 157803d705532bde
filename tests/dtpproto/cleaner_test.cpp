// The cleaner process: forked by a worker, it closes idle sessions on their
// hosts over a connection of its own, drops sessions whose locap has left
// the configuration, leaves sessions used meanwhile open, removes an idle
// table, and ends its loop when the configuration changes.
//
// The cleaner is always started from a forked worker process, as a gateway
// worker does, so that the test process keeps its own signal set-up and
// (where a test needs it) stays off the session table.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>

#include "ZelConfigParser.h"
#include "ZelDtpProtocol.h"
#include "logprint.h"
#include "proto_harness.h"

using namespace prototest;
using hosttest::Bytes;
using hosttest::closePkt;
using hosttest::hello;

namespace {

class CleanerTest : public ::testing::Test {
protected:
    static constexpr int kMaxSessions = 16;

    void SetUp() override {
        unsetenv("REMOTE_ADDR");
        dir_ = std::make_unique<ProtoDir>();
        hosttest::writeFile(dir_->Logs() + "/test.dts", HostScript());
        logOptions("wdtA");
        logOpen(dir_->GatewayLog().c_str(), 0);
        // A live gateway process besides the worker: the cleaner must not
        // take itself for the first process and expire every session.
        std::fflush(nullptr);
        sleeper_ = fork();
        if (sleeper_ == 0) {
            for (;;) pause();
        }
    }
    void TearDown() override {
        if (HasFailure() && dir_) {
            std::string log = dir_->ReadGatewayLog();
            if (log.size() > 8000) log = log.substr(log.size() - 8000);
            std::printf("--- gateway log (end) ---\n%s\n", log.c_str());
            if (host_) std::printf("--- host log ---\n%s\n", host_->log().c_str());
        }
        // Everything this test started goes, whatever state it is in: the
        // sleeper, the worker, the host, and every cleaner (also one that
        // has not yet named itself in the table).
        for (pid_t *child : {&sleeper_, &worker_}) {
            if (*child <= 0) continue;
            kill(*child, SIGKILL);
            waitpid(*child, nullptr, 0);
            *child = -1;
        }
        host_.reset();
        if (dir_) EndCleaners();
        logClose();
        dir_.reset();
    }

    void StartHost() {
        host_ = std::make_unique<hosttest::HostProcess>(
            dir_->Logs(), std::vector<std::string>{"--locap", "QOR1", "--script", dir_->Logs() + "/test.dts"});
    }
    static void AddLocap(CZelLocapTable &locaps, const std::string &name, int port) {
        auto info = std::make_unique<CZelLocapInfo>();
        info->m_strAddress = "127.0.0.1";
        info->m_nPort = port;
        locaps.Store(name, std::move(info));
    }
    std::string ResultPath() const { return dir_->Logs() + "/cleaner.result"; }

    // Forks a worker that prepares the table with setup (its text goes to
    // the test) and starts the cleaner; the cleaner writes the result of
    // its loop into ResultPath() when the loop ends.
    std::string StartCleaner(int recordTimeout, int systemTimeout, const CZelLocapTable &locaps, time_t configTime,
                             const std::string &configPath,
                             const std::function<std::string(CZelDtpProtocol &)> &setup,
                             bool waitForFreeLock = true) {
        // The worker reports through a file: the cleaner it forks would
        // keep a pipe open for its whole life.
        const std::string report = dir_->Logs() + "/worker.report";
        unlink(report.c_str());
        if (waitForFreeLock && !WaitFor(CleanerLockFree, 30000)) return "another cleaner holds the lock";
        std::fflush(nullptr);
        worker_ = fork();
        if (worker_ == 0) {
            // Never back into the test framework from here: every way out
            // of this block ends the process.
            const pid_t self = getpid();
            std::string text = "worker failed";
            int r = -1;
            try {
                CZelDtpProtocol proto;
                if (!IsError(proto.Init(dir_->Work() + "/cache", 1, 150001, kMaxSessions, 0))) {
                    proto.SetLocap("WEB1");
                    proto.GetSessionTable().RegisterProcessID(sleeper_);
                    text = setup(proto);
                    r = proto.RunCleanerLoop(recordTimeout, systemTimeout, locaps, configTime, configPath);
                    if (getpid() != self) {
                        // The cleaner: its loop has ended.
                        std::ofstream(ResultPath()) << r;
                        _exit(0);
                    }
                    proto.Exit();
                }
            } catch (...) {
                if (getpid() != self) _exit(1);
                text = "worker failed: exception";
            }
            std::ofstream(report) << text << " " << r;
            _exit(0);
        }
        // A worker that hangs is ended (its cleaner, if any, by TearDown).
        if (!WaitGone(worker_, 30000)) kill(worker_, SIGKILL);
        waitpid(worker_, nullptr, 0);
        worker_ = -1;
        return ReadFile(report);
    }

    // Ends every cleaner this test started: the one named in the table,
    // and any other process still working in the test's directory.
    void EndCleaners() {
        dir_->EndCleaner();
        EndProcessesIn(dir_->Work());
    }

    std::string LoopResult() const { return ReadFile(ResultPath()); }

    std::unique_ptr<ProtoDir> dir_;
    std::unique_ptr<hosttest::HostProcess> host_;
    pid_t worker_ = -1;
    pid_t sleeper_ = -1;
};

}  // namespace

TEST_F(CleanerTest, ClosesIdleSessionsAndRemovesTheIdleTable) {
    StartHost();
    CZelLocapTable locaps;
    AddLocap(locaps, "QOR1", host_->port());
    // The worker opens a session on QOR1 and keeps one whose locap is no
    // longer configured; then it starts the cleaner and ends.
    const std::string ids = StartCleaner(3, 4, locaps, 0, "", [&](CZelDtpProtocol &p) -> std::string {
        unsigned a = 0;
        if (p.OpenSession("QOR1", "127.0.0.1", host_->port(), a, false, 0) != Result::Success ||
            p.StartProgram(a, "PROG1", "") != Result::Success)
            return "no session";
        std::unique_ptr<CZelSessionTable::Record> rec;
        if (p.GetSessionTable().Get(0, rec, true, true) != Result::Success || !rec) return "no record";
        rec->SetLocap(CZelName("GONE", 8));
        return std::to_string(a) + " " + std::to_string(rec->GetLocalSessionId());
    });
    unsigned a = 0, gone = 0;
    int workerResult = 0;
    ASSERT_EQ(std::sscanf(ids.c_str(), "%u %u %d", &a, &gone, &workerResult), 3) << ids;
    EXPECT_EQ(workerResult, 1);   // the worker's side of the fork
    ASSERT_TRUE(WaitFor([&] { return dir_->CleanerPid() > 0; }, 20000));

    // The idle session is closed on a connection of the cleaner's own:
    // greeted, no OPEN, the CLOSE.
    uint32_t L = 0;
    for (const Frame &f : Sent(ParseHostLog(host_->log())))
        if (f.body[0] == 2) L = hosttest::rd32(f.body, 4);
    ASSERT_NE(L, 0u);
    ASSERT_TRUE(WaitFor([&] { return Received(ParseHostLog(host_->log()), 2).size() >= 2; }, 12000));
    const std::vector<Frame> second = Received(ParseHostLog(host_->log()), 2);
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(second[0].body, hello("WEB1"));
    EXPECT_EQ(second[1].body, closePkt(a, L));

    // The session of the vanished locap went without host traffic, and the
    // empty table is removed after its time-out; the loop ends with 0.
    ASSERT_TRUE(WaitFor([&] { return !LoopResult().empty(); }, 12000));
    EXPECT_EQ(LoopResult(), "0");
    EXPECT_FALSE(dir_->SegmentExists());
    EXPECT_FALSE(std::ifstream(dir_->Logs() + "/.shmid").good());
    const std::string log = dir_->ReadGatewayLog();
    EXPECT_NE(log.find("Cleaner process started, P"), std::string::npos);
    char line[96];
    std::snprintf(line, sizeof line, "Cleaner DTP: removing R%X without host traffic", gone);
    EXPECT_NE(log.find(line), std::string::npos);
    EXPECT_NE(log.find("Cleaner DTP: terminating now"), std::string::npos);
    EXPECT_EQ(Received(ParseHostLog(host_->log())).size(), 5u);   // nothing else reached the host
}

TEST_F(CleanerTest, SessionUsedDuringThePassIsLeftOpen) {
    HandHost hand;
    CZelSessionTable table;
    ASSERT_FALSE(IsError(table.Init(kMaxSessions, 1, 150001)));
    unsigned id = 0;
    {
        std::unique_ptr<CZelSessionTable::Record> rec;
        ASSERT_EQ(table.Get(0, rec, true, true), Result::Success);
        rec->SetLocap(CZelName("FAKE", 8));
        rec->SetOpenState(true);
        rec->SetDtpSessionId(0x4242);
        id = rec->GetLocalSessionId();
    }
    CZelLocapTable locaps;
    AddLocap(locaps, "FAKE", hand.Port());
    StartCleaner(3, 4, locaps, 0, "", [](CZelDtpProtocol &) { return std::string("ready"); });

    // The cleaner finds the session expired and connects; while it waits
    // for the greeting, a worker uses the session.
    ASSERT_TRUE(hand.Accept(12000));
    {
        std::unique_ptr<CZelSessionTable::Record> rec;
        ASSERT_EQ(table.Get(id, rec, true, true), Result::Success);
    }
    hand.Send(hello("FAKE"));
    std::vector<Bytes> frames = hand.Read(20000, 1);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], hello("WEB1"));
    char line[96];
    std::snprintf(line, sizeof line, "Cleaner DTP: session R%X was used meanwhile; left open", id);
    EXPECT_TRUE(WaitFor([&] { return dir_->ReadGatewayLog().find(line) != std::string::npos; }, 10000));
    {
        std::unique_ptr<CZelSessionTable::Record> rec;
        EXPECT_EQ(table.Get(id, rec, true, false), Result::Success);
    }
    // Once idle again, it is closed over the same connection.
    frames = hand.Read(20000, 1);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], closePkt(id, 0x4242));
    EXPECT_TRUE(WaitFor([&] {
        std::unique_ptr<CZelSessionTable::Record> rec;
        return table.Get(id, rec, true, false) == Result::SessTblInvalidSessId;
    }, 10000));
}

TEST_F(CleanerTest, AHostEndingTheCleanersConnectionDoesNotEndTheCleaner) {
    HandHost hand;
    CZelLocapTable locaps;
    AddLocap(locaps, "FAKE", hand.Port());
    // The worker leaves one open session on FAKE and detaches, so that the
    // table can be removed once it is empty.
    const std::string report = StartCleaner(3, 4, locaps, 0, "", [](CZelDtpProtocol &p) -> std::string {
        std::unique_ptr<CZelSessionTable::Record> rec;
        if (p.GetSessionTable().Get(0, rec, true, true) != Result::Success || !rec) return "no record";
        rec->SetLocap(CZelName("FAKE", 8));
        rec->SetOpenState(true);
        rec->SetDtpSessionId(0x4242);
        return std::to_string(rec->GetLocalSessionId());
    });
    unsigned id = 0;
    ASSERT_EQ(std::sscanf(report.c_str(), "%u", &id), 1) << report;

    // The cleaner connects for the expired session; the host hangs up
    // before its greeting. The session goes (the host cannot be told), and
    // the cleaner carries on until the empty table has been idle long
    // enough.
    ASSERT_TRUE(hand.Accept(12000));
    hand.Hangup();
    ASSERT_TRUE(WaitFor([&] { return !LoopResult().empty(); }, 12000));
    EXPECT_EQ(LoopResult(), "0");
    EXPECT_FALSE(dir_->SegmentExists());
    const std::string log = dir_->ReadGatewayLog();
    char line[64];
    std::snprintf(line, sizeof line, "DTP: broken socket, close with session R%X\n", id);
    EXPECT_NE(log.find(line), std::string::npos);
    EXPECT_NE(log.find("Cleaner DTP: terminating now"), std::string::npos);
}

TEST_F(CleanerTest, ConfigurationChangesEndTheLoopWithTwo) {
    const std::string config = dir_->Logs() + "/qoric.conf";
    hosttest::writeFile(config, "<Config/>\n");
    struct stat st {};
    ASSERT_EQ(stat(config.c_str(), &st), 0);
    const time_t configTime = st.st_mtime;
    CZelSessionTable table;   // keeps the table while the cleaners come and go
    ASSERT_FALSE(IsError(table.Init(kMaxSessions, 1, 150001)));
    CZelLocapTable locaps;

    // A new modification time of the file.
    StartCleaner(3, 4, locaps, configTime, config, [](CZelDtpProtocol &) { return std::string(); });
    ASSERT_TRUE(WaitFor([&] { return dir_->CleanerPid() > 0; }, 20000));
    utimbuf later{configTime + 100, configTime + 100};
    ASSERT_EQ(utime(config.c_str(), &later), 0);
    ASSERT_TRUE(WaitFor([&] { return !LoopResult().empty(); }, 20000));
    EXPECT_EQ(LoopResult(), "2");
    WaitGone(dir_->CleanerPid(), 2000);

    // The shared stamp moved past the configuration time.
    unlink(ResultPath().c_str());
    const time_t current = configTime + 100;
    StartCleaner(3, 4, locaps, current, config, [](CZelDtpProtocol &) { return std::string(); });
    table.SetLastReconfigured(current + 50);
    ASSERT_TRUE(WaitFor([&] { return !LoopResult().empty(); }, 20000));
    EXPECT_EQ(LoopResult(), "2");
}

TEST_F(CleanerTest, LongSessionTimeoutRaisesTheTableTimeout) {
    CZelSessionTable table;
    ASSERT_FALSE(IsError(table.Init(kMaxSessions, 1, 150001)));
    CZelLocapTable locaps;
    StartCleaner(300, 240, locaps, 0, "", [](CZelDtpProtocol &) { return std::string(); });
    ASSERT_TRUE(WaitFor([&] {
        return dir_->ReadGatewayLog().find("Cleaner Adjusted values: timeout 300; expiry 540") != std::string::npos;
    }, 3000));
    EXPECT_NE(dir_->ReadGatewayLog().find("timeout 300; expiry 240"), std::string::npos);
    // A second worker finds the cleaner running and forks none.
    const std::string second =
        StartCleaner(300, 240, locaps, 0, "", [](CZelDtpProtocol &) { return std::string("w"); }, false);
    EXPECT_EQ(second, "w 1");
    size_t starts = 0;
    for (size_t at = 0; (at = dir_->ReadGatewayLog().find("Cleaner process started", at)) != std::string::npos; ++at)
        ++starts;
    EXPECT_EQ(starts, 1u);
}
