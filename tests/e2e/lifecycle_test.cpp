// Start-up, reload and the ends of gateway workers under lighttpd: "-reconf",
// the use limit, a touched configuration file with the hand-over to a new
// cleaner, a replaced executable (each retires the worker, whose program
// starts afresh in the same process), SIGTERM while idle and while busy, a
// worker killed in the middle of a session, and a save in the configuration
// editor that makes the workers reload.
#include "checks.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <future>

namespace e2e {
namespace {

class Lifecycle : public ::testing::Test {
protected:
    void SetUp() override { E2E_REQUIRE_QORIC(); }
};

const char* const kAdmin = "<ServerAdmin VALUE=\"first@example.org\"/>";
const char* const kAdmin2 = "<ServerAdmin VALUE=\"second@example.org\"/>";

// The administrator the built-in error page of a bare transaction URL names.
std::string adminShown(Stack& s)
{
    HttpResponse r = s.get("/DEMO");
    if (!isErrorPage(r, -7)) return "(no error page: " + r.body.substr(0, 300) + ")";
    for (const char* a : {"first@example.org", "second@example.org"})
        if (r.body.find(a) != std::string::npos) return a;
    return "(none)";
}

// Waits until the single worker is another process than `old`; 0 when
// none comes (the web server starts one within about a second, more on a
// busy machine).
pid_t nextWorker(Stack& s, pid_t old)
{
    if (!waitGone(old, 15000)) {
        ADD_FAILURE() << "worker " << old << " did not retire";
        return 0;
    }
    for (int i = 0; i < 750; ++i) {
        auto w = s.workers();
        if (w.size() == 1 && w[0] != old) return w[0];
        sleepMs(20);
    }
    ADD_FAILURE() << "no new worker:\n" << s.webServerLog();
    return 0;
}

TEST_F(Lifecycle, ReconfStampsTheTableStartsACleanerAndExits)
{
    Stack s(withConfig(std::string(kBuiltInErrorPage) + kAdmin, 1));
    // The first cleaner holds its lock before the first request: a request
    // served before would start a second one after its page.
    ASSERT_NE(s.waitForCleaner(), 0);
    ASSERT_EQ(adminShown(s), "first@example.org");
    s.killCleaners();
    const pid_t oldCleaner = s.table().cleanerPid;
    ASSERT_TRUE(s.cleaners().empty());

    // The file changes; "-reconf" (any case) makes the running worker reload
    // at its next request instead of serving it with the old settings.
    s.writeConfig(std::string(kBuiltInErrorPage) + kAdmin2);
    const time_t t = time(nullptr) + 3;
    setModTime(s.configPath(), t);
    EXPECT_EQ(s.runGateway({"-ReConf"}), 0);
    TableView tv = s.table();
    EXPECT_EQ(tv.lastReconfigured, static_cast<uint32_t>(t));
    pid_t cleaner = 0;
    for (int i = 0; i < 100 && !processAlive(cleaner = s.table().cleanerPid); ++i) sleepMs(50);
    EXPECT_TRUE(processAlive(cleaner)) << "-reconf starts a cleaner when none runs";
    EXPECT_NE(cleaner, oldCleaner);
    EXPECT_EQ(adminShown(s), "second@example.org");
}

TEST_F(Lifecycle, AChangedConfigurationIsReadByTheWorkerStartedAfresh)
{
    Stack s(withConfig(std::string(kBuiltInErrorPage) + kAdmin, 1));
    ASSERT_EQ(adminShown(s), "first@example.org");
    ASSERT_TRUE(s.waitForWorkers(1));
    const pid_t worker = s.workers().front();
    s.writeConfig(std::string(kBuiltInErrorPage) + kAdmin2);
    setModTime(s.configPath(), time(nullptr) + 3);
    // Served with the settings it has, then the worker retires.
    EXPECT_EQ(adminShown(s), "first@example.org");
    ASSERT_TRUE(startedAfresh(s, worker));
    EXPECT_EQ(adminShown(s), "second@example.org");
}

TEST_F(Lifecycle, TheCleanerHandsOverAfterAConfigurationChange)
{
    // Sessions expire after 3 s, so the cleaner wakes every second.
    Stack s(withConfig("<InstanceCleanup VALUE=\"3\"/>", 2));
    ASSERT_TRUE(isScreen(s.get("/demo/ECHO"), "ECHO"));
    pid_t first = 0;
    for (int i = 0; i < 100 && !processAlive(first = s.table().cleanerPid); ++i) sleepMs(50);
    ASSERT_TRUE(processAlive(first));
    const time_t t = time(nullptr) + 3;
    setModTime(s.configPath(), t);
    pid_t next = first;
    for (int i = 0; i < 200 && (next == first || !processAlive(next)); ++i) {
        sleepMs(50);
        next = s.table().cleanerPid;
    }
    EXPECT_NE(next, first) << "a new cleaner took over";
    EXPECT_TRUE(processAlive(next));
    EXPECT_EQ(s.table().lastReconfigured, static_cast<uint32_t>(t)) << "the cleaner stamps the file's time";
    // Whichever workers now serve have read the file again.
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(isScreen(s.get("/demo/ECHO"), "ECHO"));
        s.waitForWorkers(2, 30000);
    }
}

TEST_F(Lifecycle, TheUseLimitRetiresAWorkerAndSessionsGoOn)
{
    Stack s(withConfig("<MaxUsage VALUE=\"3\"/>", 1));
    ASSERT_TRUE(s.waitForWorkers(1));
    const pid_t worker = s.workers().front();
    Visitor v(s.port());
    ASSERT_TRUE(isScreen(v.open("/demo/ECHO"), "ECHO"));
    ASSERT_TRUE(isScreen(v.submit({{"field_007", "one"}}), "ECHO"));
    ASSERT_TRUE(isScreen(v.submit({{"field_007", "two"}}), "ECHO"));
    ASSERT_TRUE(startedAfresh(s, worker));
    ASSERT_TRUE(isScreen(v.submit({{"field_007", "three"}}), "ECHO")) << "the fresh run continues the session";
    EXPECT_EQ(v.form().get("field_005"), "3");
    EXPECT_EQ(s.workers(), std::vector<pid_t>{worker});
}

TEST_F(Lifecycle, AReplacedExecutableRetiresTheWorker)
{
    Stack s(withConfig("", 1));
    ASSERT_TRUE(s.waitForWorkers(1));
    const pid_t worker = s.workers().front();
    ASSERT_TRUE(isScreen(s.get("/demo/ECHO"), "ECHO"));  // notes the executable's time
    setModTime(s.appPath(), time(nullptr) + 5);
    ASSERT_TRUE(isScreen(s.get("/demo/ECHO"), "ECHO"));  // served, then the worker retires
    ASSERT_TRUE(startedAfresh(s, worker));
    EXPECT_TRUE(isScreen(s.get("/demo/ECHO"), "ECHO"));
}

TEST_F(Lifecycle, SigtermWhileIdleEndsTheWorkerAtOnce)
{
    Stack s(withConfig("", 1));
    ASSERT_TRUE(isScreen(s.get("/demo/ECHO"), "ECHO"));
    ASSERT_TRUE(s.waitForWorkers(1));
    ASSERT_NE(s.waitForCleaner(), 0);
    const pid_t worker = s.workers().front();
    kill(worker, SIGTERM);
    EXPECT_TRUE(waitGone(worker, 10000));
    ASSERT_NE(nextWorker(s, worker), 0);
    EXPECT_TRUE(isScreen(s.get("/demo/ECHO"), "ECHO"));
}

TEST_F(Lifecycle, SigtermWhileBusyFinishesTheRequestFirst)
{
    Stack s(withConfig("", 1));
    Visitor v(s.port());
    ASSERT_TRUE(isScreen(v.open("/demo/ECHO"), "ECHO"));
    ASSERT_TRUE(s.waitForWorkers(1));
    ASSERT_NE(s.waitForCleaner(), 0);
    const pid_t worker = s.workers().front();
    // The host holds its answer back while the worker waits for it: the
    // signal ends that wait, the request is answered with the error page
    // and then the worker ends.
    s.pauseHost();
    const auto sends = [&] { return countOf(s.gatewayLog(), "Sending MCSO packet"); };
    const size_t before = sends();
    auto answer = std::async(std::launch::async, [&] { return v.submit({{"field_007", "LATE"}}); });
    for (int i = 0; i < 500 && sends() == before; ++i) sleepMs(20);  // the worker now waits for its host
    kill(worker, SIGTERM);
    EXPECT_TRUE(waitGone(worker, 10000)) << "a worker waiting for its host ends promptly";
    EXPECT_EQ(errorCodeOf(answer.get().body), -1011);
    s.resumeHost();
    ASSERT_NE(nextWorker(s, worker), 0);
    EXPECT_TRUE(isScreen(s.get("/demo/ECHO"), "ECHO"));
}

TEST_F(Lifecycle, AKilledWorkersSessionGoesOnInAnother)
{
    Stack s(withConfig("", 2));
    ASSERT_TRUE(s.waitForWorkers(2));
    Visitor v(s.port());
    ASSERT_TRUE(isScreen(v.open("/demo/DEMO"), "LOGON"));
    const std::string hostId = v.form().get("field_003");
    ASSERT_EQ(s.table().records.size(), 1u);
    const pid_t last = s.table().records[0].lastPid;
    ASSERT_TRUE(processAlive(last));
    ASSERT_NE(s.waitForCleaner(), 0);
    kill(last, SIGKILL);
    ASSERT_TRUE(waitGone(last, 30000));
    ASSERT_TRUE(isScreen(v.submit({{"field_005", "hal"}}), "MENU"));
    EXPECT_EQ(v.form().get("field_003"), hostId) << "the same host session";
    EXPECT_NE(s.table().records.at(0).lastPid, last);
    EXPECT_TRUE(s.waitForWorkers(2));
}

TEST_F(Lifecycle, AnEditorSaveMakesTheWorkersReload)
{
    if (!isExecutable(qorconfigBinary())) GTEST_SKIP() << "qorconfig is not built yet";
    StackOptions o = withConfig(std::string(kBuiltInErrorPage) + kAdmin, 1);
    o.editor = true;
    Stack s(o);
    ASSERT_EQ(adminShown(s), "first@example.org");

    HttpResponse shown = s.post("/qorconfig", "nextaction=read_file");
    ASSERT_EQ(shown.status, 200) << shown.body;
    Form f = parseForm(shown.body);
    ASSERT_TRUE(f.found) << shown.body;
    ASSERT_EQ(f.get("ServerAdmin"), "first@example.org");
    f.set("ServerAdmin", "second@example.org");
    f.set("nextaction", "write_file");
    const time_t before = modTime(s.configPath());
    waitPastModTime(s.configPath());  // the file's new time must differ
    HttpResponse saved = s.post("/qorconfig", formEncode(f.fields));
    ASSERT_EQ(saved.status, 200) << saved.body;
    ASSERT_NE(modTime(s.configPath()), before) << "the editor wrote the file";
    EXPECT_GE(s.table().lastReconfigured, static_cast<uint32_t>(modTime(s.configPath())));
    // The worker reloads at its next request and serves it with the new file.
    EXPECT_EQ(adminShown(s), "second@example.org");
}

// A FIFO put at the configuration path hangs neither the editor nor the
// worker: both answer at once, and the editor reads the file once it is
// back.
TEST_F(Lifecycle, AFifoAtTheConfigurationPathHangsNeitherEditorNorWorker)
{
    if (!isExecutable(qorconfigBinary())) GTEST_SKIP() << "qorconfig is not built yet";
    StackOptions o = withConfig("", 1);
    o.editor = true;
    Stack s(o);
    ASSERT_TRUE(isScreen(s.get("/demo/ECHO"), "ECHO"));
    const std::string text = s.configText();
    ASSERT_EQ(unlink(s.configPath().c_str()), 0);
    ASSERT_EQ(mkfifo(s.configPath().c_str(), 0600), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(pageHas(s.post("/qorconfig", "nextaction=read_file").body, "Can't read config file!"));
    for (int i = 0; i < 2; ++i) EXPECT_TRUE(isScreen(s.get("/demo/ECHO"), "ECHO"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_TRUE(gatewayLogged(s, s.configPath() + " is not a regular file"));
    unlink(s.configPath().c_str());
    s.writeRawConfig(text);
    EXPECT_TRUE(parseForm(s.post("/qorconfig", "nextaction=read_file").body).found);
}

// The administrator address the built-in error page names.
std::string mailtoShown(Stack& s)
{
    HttpResponse r = s.get("/DEMO");
    const size_t at = r.body.find("mailto:");
    return at == std::string::npos ? "(none)" : r.body.substr(at + 7, r.body.find('"', at) - at - 7);
}

// Saves the form with another administrator; the editor's answer.
HttpResponse saveAdmin(Stack& s, Form& f, const std::string& admin)
{
    f.set("ServerAdmin", admin);
    f.set("nextaction", "write_file");
    return s.post("/qorconfig", formEncode(f.fields));
}

// "Init for P" lines of one process in the gateway's log.
size_t initsOf(Stack& s, pid_t pid)
{
    const std::string log = s.gatewayLog(), line = "Init for P" + std::to_string(pid) + "\n";
    size_t n = 0;
    for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) ++n;
    return n;
}

TEST_F(Lifecycle, TwoSavesWithinOneSecondAreBothApplied)
{
    if (!isExecutable(qorconfigBinary())) GTEST_SKIP() << "qorconfig is not built yet";
    StackOptions o = withConfig(std::string(kBuiltInErrorPage) + kAdmin, 1);
    o.editor = true;
    Stack s(o);
    ASSERT_EQ(mailtoShown(s), "first@example.org");
    ASSERT_TRUE(s.waitForWorkers(1));
    const pid_t worker = s.workers().front();
    Form f = parseForm(s.post("/qorconfig", "nextaction=read_file").body);
    ASSERT_TRUE(f.found);

    // Save, a request that takes the save up, save again: all in one
    // second (tried again when the machine was too slow for that; a busy
    // one may need many tries).
    constexpr int kRounds = 20;
    bool sameSecond = false;
    int round = 0;
    for (; round < kRounds && !sameSecond; ++round) {
        // Start early in a second.
        while (std::chrono::system_clock::now().time_since_epoch() % std::chrono::seconds(1) >
               std::chrono::milliseconds(100))
            sleepMs(10);
        const time_t start = time(nullptr);
        const std::string a = "a" + std::to_string(round) + "@example.org";
        const std::string b = "b" + std::to_string(round) + "@example.org";
        ASSERT_EQ(saveAdmin(s, f, a).status, 200);
        EXPECT_EQ(mailtoShown(s), a);
        ASSERT_EQ(saveAdmin(s, f, b).status, 200);
        sameSecond = time(nullptr) == start && modTime(s.configPath()) == start;
        // The next request uses the second file, and so do the ones after.
        for (int i = 0; i < 3; ++i) EXPECT_EQ(mailtoShown(s), b) << "round " << round;
    }
    EXPECT_TRUE(sameSecond) << "no round fitted in one second";
    EXPECT_EQ(s.workers(), std::vector<pid_t>{worker}) << "the worker reloaded instead of retiring";
    // One reload per save, not one per request: counted once the log
    // holds every request (a reload is logged before its request).
    const std::string served = "++++ Process [/DEMO]";
    ASSERT_TRUE(gatewayLogged(s, served, 1 + 4 * round));
    const size_t inits = initsOf(s, worker);
    EXPECT_LE(inits, 1u + 2u * kRounds);
    const std::string last = mailtoShown(s);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(mailtoShown(s), last);
    ASSERT_TRUE(gatewayLogged(s, served, 1 + 4 * round + 6));
    EXPECT_EQ(initsOf(s, worker), inits);
}

}  // namespace
}  // namespace e2e
