// When something goes wrong, through lighttpd against dtphost: two
// installations side by side, a host that stops answering or never
// greets, a host killed and started again in the middle of conversations,
// a connection dropped while the host lives on, workers retiring at their
// use limit under load, and a locap the editor moves to another port.
#include "checks.h"

#include "ZelSessionTableLayout.h"

#include <csignal>
#include <fcntl.h>
#include <sys/ipc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <chrono>
#include <future>
#include <mutex>
#include <set>
#include <thread>

namespace e2e {
namespace {

using Clock = std::chrono::steady_clock;

class Reliability : public ::testing::Test {
protected:
    void SetUp() override { E2E_REQUIRE_QORIC(); }
};

// Session time-out of 3 s: the cleaner wakes every second, and the host's
// answers are awaited 2 s.
const char* const kShortTimeout = "<InstanceCleanup VALUE=\"3\"/>";

std::string lockFileOf(const Stack& s)
{
    return sesstbl::LockFilePath(static_cast<int32_t>(ftok(s.runDir().c_str(), sesstbl::kFtokProjectId)));
}

// The process holding byte 0 (the cleaner's) of a lock file, else 0.
pid_t cleanerLockHolder(const std::string& lockFile)
{
    int fd = open(lockFile.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_len = 1;
    pid_t holder = fcntl(fd, F_GETLK, &fl) == 0 && fl.l_type != F_UNLCK ? fl.l_pid : 0;
    close(fd);
    return holder;
}

bool waitUntil(const std::function<bool()>& done, int timeoutMs)
{
    for (int waited = 0; waited < timeoutMs; waited += 50) {
        if (done()) return true;
        sleepMs(50);
    }
    return done();
}

long msSince(Clock::time_point t0)
{
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count());
}

// Answers of the web server that are its own errors, not the gateway's pages.
class ServerErrors {
public:
    void note(const HttpResponse& r)
    {
        if (r.status < 500 && r.status != 0) return;
        std::lock_guard<std::mutex> lock(mu_);
        if (++count_ <= 5) list_ += "HTTP " + std::to_string(r.status) + " " + r.body.substr(0, 200) + "\n";
    }
    int count() const { return count_; }
    std::string list() const { return list_; }

private:
    std::mutex mu_;
    std::atomic<int> count_{0};
    std::string list_;
};

TEST_F(Reliability, TwoInstallationsEachHaveTheirOwnCleaner)
{
    Stack a(withConfig(kShortTimeout, 1));
    Stack b(withConfig(kShortTimeout, 1));
    ASSERT_TRUE(isScreen(a.get("/demo/ECHO"), "ECHO"));
    ASSERT_TRUE(isScreen(b.get("/demo/ECHO"), "ECHO"));
    const std::string lockA = lockFileOf(a), lockB = lockFileOf(b);
    EXPECT_NE(lockA, lockB);
    ASSERT_TRUE(waitUntil([&] { return processAlive(a.table().cleanerPid) && processAlive(b.table().cleanerPid); },
                          30000))
        << "each installation has a cleaner";
    EXPECT_NE(a.table().cleanerPid, b.table().cleanerPid);
    EXPECT_EQ(cleanerLockHolder(lockA), a.table().cleanerPid);
    EXPECT_EQ(cleanerLockHolder(lockB), b.table().cleanerPid);
    // Each abandoned session expires, closed on the host by its own cleaner.
    EXPECT_TRUE(waitUntil([&] { return a.table().records.empty() && b.table().records.empty(); }, 30000));
    EXPECT_TRUE(hostLogged(a, "recv", "Close", 1));
    EXPECT_TRUE(hostLogged(b, "recv", "Close", 1));

    // The lock file deleted under the running installation: its cleaner
    // takes the new one at its next pass.
    ASSERT_EQ(unlink(lockA.c_str()), 0);
    EXPECT_TRUE(waitUntil([&] { return processAlive(cleanerLockHolder(lockA)); }, 30000));
    EXPECT_TRUE(isScreen(a.get("/demo/ECHO"), "ECHO"));
    EXPECT_EQ(cleanerLockHolder(lockB), b.table().cleanerPid) << "the other installation is untouched";
}

// What "qorshm -t" says of the table's cleaner: its pid when it names a
// live one, else 0.
pid_t cleanerShownByQorshm(const Stack& s)
{
    const std::string cmd = qorshmBinary() + " -d '" + s.root() + "' -t 2>&1";   // -d before -t
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[4096];
        while (size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
        pclose(p);
    }
    const size_t at = out.find(" Cleaner: P");
    if (at == std::string::npos) return 0;
    const pid_t pid = static_cast<pid_t>(std::atol(out.c_str() + at + 11));
    const size_t end = out.find(' ', at + 11);
    return end != std::string::npos && out.compare(end, 9, " missing;") != 0 ? pid : 0;
}

TEST_F(Reliability, AKilledCleanerIsReplacedAndSessionsExpireOnTime)
{
    if (!isExecutable(qorshmBinary())) GTEST_SKIP() << "qorshm is not built yet";
    Stack s(withConfig(kShortTimeout, 2));
    // The first cleaner holds its lock before the first request: a request
    // served before would start a second one after its page.
    ASSERT_NE(s.waitForCleaner(), 0);
    ASSERT_TRUE(isScreen(s.get("/demo/ECHO"), "ECHO"));
    ASSERT_TRUE(waitUntil([&] { return cleanerShownByQorshm(s) > 0; }, 30000));
    s.killCleaners();
    ASSERT_EQ(cleanerShownByQorshm(s), 0) << "qorshm shows the cleaner missing";

    // Requests go on (pages without a session): a worker notices within a
    // second of a request and starts a cleaner.
    const Clock::time_point killed = Clock::now();
    pid_t cleaner = 0;
    while (msSince(killed) < 8000 && !(cleaner = cleanerShownByQorshm(s))) {
        EXPECT_TRUE(isErrorPage(s.get("/DEMO"), -7));
        sleepMs(100);
    }
    ASSERT_GT(cleaner, 0) << s.gatewayLog();
    EXPECT_LT(msSince(killed), 3000);
    EXPECT_TRUE(processAlive(cleaner));
    EXPECT_EQ(s.cleaners(), std::vector<pid_t>{cleaner}) << "one cleaner between the workers";
    EXPECT_TRUE(gatewayLogged(s, "no cleaner runs;"));

    // The session opened before the kill expires, and one left idle now
    // expires on time: once idle for more than its 3 whole seconds, at the
    // cleaner's next pass (every second), closed on the host.
    ASSERT_TRUE(waitUntil([&] { return s.table().records.empty(); }, 30000));
    ASSERT_TRUE(hostLogged(s, "recv", "Close", 1));
    const size_t closes = 1;
    Visitor v(s.port());
    ASSERT_TRUE(isScreen(v.open("/demo/ECHO"), "ECHO"));
    const Clock::time_point opened = Clock::now();
    ASSERT_FALSE(s.table().records.empty());
    ASSERT_TRUE(waitUntil([&] { return s.table().records.empty(); }, 30000)) << "the session expires";
    const long idle = msSince(opened);
    EXPECT_GE(idle, 2900);
    EXPECT_LE(idle, 3000 + 1000 + 1000 + 1000);
    EXPECT_TRUE(hostLogged(s, "recv", "Close", closes + 1));
}

// A FIFO put in place of the log, then the log server lost: the workers
// start no server that would hang opening it (and fill the log FIFO while
// it hangs); they answer on without a log.
TEST_F(Reliability, AFifoInPlaceOfTheLogLeavesTheGatewayAnswering)
{
    Stack s;
    ASSERT_TRUE(isScreen(s.get("/demo/ECHO"), "ECHO"));
    const std::string log = s.root() + "/logs/qoric.log";
    struct PutBack {  // the stack reads its log as it ends
        std::string path;
        ~PutBack() { unlink(path.c_str()); }
    } putBack{log};
    ASSERT_EQ(unlink(log.c_str()), 0);
    ASSERT_EQ(mkfifo(log.c_str(), 0600), 0);
    const pid_t server = std::atoi(readFile(s.root() + "/logs/.pid.qoric.log").c_str());
    ASSERT_GT(server, 0);
    ASSERT_EQ(kill(server, SIGKILL), 0);
    ASSERT_TRUE(waitGone(server, 30000));
    // More requests than a log FIFO that nobody reads holds lines of.
    for (int i = 0; i < 200; ++i) ASSERT_TRUE(isScreen(s.get("/demo/ECHO"), "ECHO")) << i;
}

TEST_F(Reliability, AHostThatStopsAnsweringGetsAnErrorPageInTime)
{
    // A time-out of 6 s (answers awaited 4 s): the queued sessions, idle
    // since they were opened, must not expire before a worker takes them,
    // and the table counts idle time in whole seconds.
    StackOptions o = withConfig("<InstanceCleanup VALUE=\"6\"/>", 2);
    o.hostArgs = {"--fault", "silent:on=enter"};
    Stack s(o);
    // More stalled requests than workers.
    std::vector<Visitor> visitors(4, Visitor(s.port()));
    for (Visitor& v : visitors) ASSERT_TRUE(isScreen(v.open("/demo/ECHO"), "ECHO"));
    const auto t0 = Clock::now();
    std::vector<std::future<HttpResponse>> answers;
    for (Visitor& v : visitors)
        answers.push_back(std::async(std::launch::async, [&v] { return v.submit({{"field_007", "HELLO"}}); }));
    for (auto& a : answers) {
        const HttpResponse r = a.get();
        EXPECT_EQ(errorCodeOf(r.body), -1011) << "HTTP " << r.status << " after " << msSince(t0) << " ms: "
                                              << r.body.substr(0, 300);
    }
    EXPECT_LT(msSince(t0), 12000) << "two rounds of four seconds";
    // Each session was closed on the host (which may log the last Close a
    // moment after its page went out); the workers live on and answer.
    EXPECT_TRUE(hostLogged(s, "recv", "Close", 4));
    EXPECT_TRUE(waitUntil([&] { return s.table().records.empty(); }, 30000));
    EXPECT_EQ(s.get("/demo/").status, 200);
    EXPECT_TRUE(isScreen(s.get("/demo/ECHO"), "ECHO"));
}

TEST_F(Reliability, AHostThatNeverGreetsGetsAnErrorPageInTime)
{
    StackOptions o = withConfig(kShortTimeout, 1);
    o.hostArgs = {"--fault", "silent:on=connect"};
    Stack s(o);
    const auto t0 = Clock::now();
    const HttpResponse r = s.get("/demo/ECHO");
    EXPECT_EQ(errorCodeOf(r.body), -1011);
    EXPECT_LT(msSince(t0), 4000);
    EXPECT_TRUE(pageHas(r.body, "The host is not reachable at the moment.")) << r.body;
    EXPECT_TRUE(s.table().records.empty());
}

TEST_F(Reliability, AHostKilledAndRestartedMidConversation)
{
    Stack s(withConfig("", 4));
    ASSERT_TRUE(s.waitForWorkers(4));
    constexpr int kSessions = 12;
    std::vector<Visitor> visitors(kSessions, Visitor(s.port()));
    for (Visitor& v : visitors) ASSERT_TRUE(isScreen(v.open("/demo/ECHO"), "ECHO"));
    const std::vector<Visitor> before = visitors;   // their ECHO screens

    // Every session types until its answer is not a screen any more.
    ServerErrors serverErrors;
    std::mutex mu;
    std::multiset<int> codes;
    std::vector<std::thread> threads;
    std::atomic<int> answered{0};
    for (Visitor& v : visitors)
        threads.emplace_back([&] {
            for (int round = 1; round < 10000; ++round) {
                const HttpResponse& r = v.submit({{"field_007", "R" + std::to_string(round)}});
                serverErrors.note(r);
                if (isScreen(r, "ECHO")) {
                    ++answered;
                    continue;
                }
                std::lock_guard<std::mutex> lock(mu);
                codes.insert(errorCodeOf(r.body));
                return;
            }
        });
    // The host goes while every session is typing.
    EXPECT_TRUE(waitUntil([&] { return answered >= 2 * kSessions; }, 30000));
    s.stopHost();
    for (auto& t : threads) t.join();
    EXPECT_EQ(serverErrors.count(), 0) << serverErrors.list();
    // The page names the lost host, never a lost session; the sessions stay
    // (the host never said they were gone).
    EXPECT_EQ(codes.count(-1009), static_cast<size_t>(kSessions)) << "codes seen: " << codes.size();
    EXPECT_EQ(s.table().records.size(), static_cast<size_t>(kSessions));

    // The host back, knowing none of them: the program has ended for the
    // old sessions, and new ones work.
    s.startHost();
    Visitor old = before[0];
    HttpResponse ended = old.submit({{"field_007", "AGAIN"}});
    serverErrors.note(ended);
    EXPECT_NE(ended.body.find("The program has ended"), std::string::npos) << ended.body;
    EXPECT_TRUE(isScreen(s.get("/demo/ECHO"), "ECHO"));
    EXPECT_EQ(serverErrors.count(), 0) << serverErrors.list();
}

TEST_F(Reliability, ADroppedConnectionWithTheHostAliveContinuesTheSession)
{
    // Two workers: the one that lost its connection retires once it has
    // answered, and the web server hands the next request to the other.
    StackOptions o = withConfig("", 2);
    o.hostArgs = {"--fault", "drop:after=recv:mcso,times=1"};
    Stack s(o);
    Visitor v(s.port());
    ASSERT_TRUE(isScreen(v.open("/demo/ECHO"), "ECHO"));
    const std::string hostId = v.form().get("field_003");
    ASSERT_TRUE(isScreen(v.submit({{"field_007", "ONE"}}), "ECHO"));
    EXPECT_EQ(v.form().get("field_003"), hostId) << "the same host session";
    EXPECT_EQ(v.form().get("field_005"), "1") << "the input reached the host once";
    EXPECT_EQ(v.form().get("field_009"), "ONE");
    const std::string log = s.hostLog();
    EXPECT_EQ(framesCount(log, "recv", "Open"), 1u) << "no new session";
    EXPECT_EQ(framesCount(log, "recv", "Close"), 0u) << "the session was never closed";
    EXPECT_TRUE(isScreen(v.submit({{"field_007", "TWO"}}), "ECHO"));
    EXPECT_EQ(v.form().get("field_005"), "2");
}

TEST_F(Reliability, WorkersRetiringAtTheirUseLimitUnderLoadDropNoRequest)
{
    Stack s(withConfig("<MaxUsage VALUE=\"20\"/>", 4));
    ASSERT_TRUE(s.waitForWorkers(4));
    constexpr int kSessions = 16;
    std::vector<Visitor> visitors(kSessions, Visitor(s.port()));
    ServerErrors serverErrors;
    std::atomic<int> wrong{0}, rounds{0};
    std::string firstWrong;
    std::mutex mu;
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (Visitor& v : visitors)
        threads.emplace_back([&] {
            HttpResponse r = v.open("/demo/ECHO");
            for (int round = 1; !stop; ++round) {
                serverErrors.note(r);
                if (!isScreen(r, "ECHO") || (round > 1 && v.form().get("field_005") != std::to_string(round - 1))) {
                    std::lock_guard<std::mutex> lock(mu);
                    if (wrong++ == 0) firstWrong = r.body.substr(0, 400);
                    return;
                }
                ++rounds;
                r = v.submit({{"field_007", "R" + std::to_string(round)}});
            }
        });
    // A bounded number of rounds: the log wraps at its size limit, and the
    // retirements are counted in it.
    constexpr int kMaxRounds = 1600;
    for (int waited = 0; waited < 4000 && rounds < kMaxRounds; waited += 20) sleepMs(20);
    stop = true;
    for (auto& t : threads) t.join();
    EXPECT_EQ(serverErrors.count(), 0) << serverErrors.list();
    EXPECT_EQ(wrong.load(), 0) << firstWrong;
    // Every worker retired many times, each time starting afresh in place.
    const int retirements = rounds.load() / 20 - 4;
    EXPECT_TRUE(gatewayLogged(s, "starts afresh", retirements > 0 ? retirements : 0)) << rounds.load() << " rounds";
    EXPECT_EQ(s.workers().size(), 4u);
}

TEST_F(Reliability, ALocapMovedByTheEditorIsReconnected)
{
    if (!isExecutable(qorconfigBinary())) GTEST_SKIP() << "qorconfig is not built yet";
    StackOptions o = withConfig("", 1);
    o.editor = true;
    Stack s(o);
    const std::string samples = sourceDir() + "/testhost/samples";
    const std::string dir = s.root() + "/host2";
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    hosttest::HostProcess moved(dir, {"--locap", "QOR1", "--script", samples + "/demo.dts", "--formats",
                                      samples + "/formats", "--first-id", "0x50001"});
    Visitor v(s.port());
    ASSERT_TRUE(isScreen(v.open("/demo/ECHO"), "ECHO"));
    ASSERT_EQ(v.form().get("field_003"), "10001");

    HttpResponse shown = s.post("/qorconfig", "nextaction=read_file");
    Form f = parseForm(shown.body);
    ASSERT_EQ(f.get("LocapPort0"), std::to_string(s.hostPort())) << shown.body;
    f.set("LocapPort0", std::to_string(moved.port()));
    f.set("nextaction", "write_file");
    waitPastModTime(s.configPath());  // the file's new time must differ
    ASSERT_EQ(s.post("/qorconfig", formEncode(f.fields)).status, 200);

    // The worker reloads, drops its connection to the old port and opens
    // new sessions at the new one.
    Visitor w(s.port());
    ASSERT_TRUE(isScreen(w.open("/demo/ECHO"), "ECHO"));
    EXPECT_EQ(w.form().get("field_003"), "50001");
    EXPECT_EQ(framesCount(s.hostLog(), "recv", "PRST"), 1u);
    EXPECT_EQ(framesCount(moved.log(), "recv", "PRST"), 1u);
}

}  // namespace
}  // namespace e2e
