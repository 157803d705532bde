// qoric's start-up, reload and exits: "-reconf", configuration errors, the
// use limit, a touched configuration file and the cleaner's hand-over, a
// replaced executable, a moved reconfiguration stamp, a cleaner started
// during a request, and SIGTERM.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include <sys/ipc.h>

#include <vector>

#include "Result.h"
#include "ZelSessionTableLayout.h"
#include "qoric_rig.h"

using gwtest::QoricRig;
using gwtest::RequestOptions;
using gwtest::Response;
using gwtest::sessionIdIn;

namespace {

time_t MTime(const std::string &path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_mtime : 0;
}

// Gives the file a modification time `ahead` seconds from now.
void Touch(const std::string &path, int ahead) {
    timeval tv[2] = {};
    tv[0].tv_sec = tv[1].tv_sec = std::time(nullptr) + ahead;
    utimes(path.c_str(), tv);
}

std::string ReplaceAll(std::string text, const std::string &from, const std::string &to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

bool WaitFor(const std::function<bool()> &done, int ms) {
    for (int i = 0; i < ms / 20; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
}

// Whether the log has a line of process pid that holds text.
bool LoggedBy(const QoricRig &rig, pid_t pid, const std::string &text) {
    const std::string log = rig.log(), tag = ":P" + std::to_string(pid) + ":";
    for (size_t at = log.find(tag); at != std::string::npos; at = log.find(tag, at + 1)) {
        const size_t end = log.find('\n', at);
        if (log.substr(at, end == std::string::npos ? end : end - at).find(text) != std::string::npos) return true;
    }
    return false;
}

// The cleaner the first worker starts, once it has named itself in the
// table (0 when none did within half a minute): a request served before
// would find no cleaner and start a second one.
int32_t FirstCleaner(const QoricRig &rig) {
    int32_t pid = 0;
    WaitFor([&] { return (pid = rig.cleanerPid()) > 0; }, 30000);
    return pid;
}

// --- the web server's side of a FastCGI connection, byte by byte ---------

std::string FcgiRecord(unsigned char type, const std::string &content) {
    std::string r(8, '\0');
    r[0] = 1;                                   // version
    r[1] = static_cast<char>(type);
    r[3] = 1;                                   // request id 1
    r[4] = static_cast<char>(content.size() >> 8);
    r[5] = static_cast<char>(content.size() & 0xFF);
    return r + content;
}

// A connection to the workers' socket that carries one whole GET request.
int QueueRequest(const std::string &socketPath, const std::string &uri) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, socketPath.c_str(), sizeof addr.sun_path - 1);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) return -1;
    std::string params;
    for (const auto &nv : {std::pair<std::string, std::string>{"REQUEST_METHOD", "GET"}, {"REQUEST_URI", uri},
                           {"QUERY_STRING", ""}, {"CONTENT_LENGTH", "0"}, {"SCRIPT_NAME", "/qoric"},
                           {"REMOTE_ADDR", "127.0.0.1"}}) {
        params += static_cast<char>(nv.first.size());
        params += static_cast<char>(nv.second.size());
        params += nv.first + nv.second;
    }
    std::string begin(8, '\0');
    begin[1] = 1;                               // the responder role
    const std::string all = FcgiRecord(1, begin) + FcgiRecord(4, params) + FcgiRecord(4, "") + FcgiRecord(5, "");
    if (write(fd, all.data(), all.size()) != static_cast<ssize_t>(all.size())) {
        close(fd);
        return -1;
    }
    return fd;
}

// The standard output of the answer up to its end record; what came before
// the connection ended (or the time ran out) otherwise, marked unfinished.
std::string ReadAnswer(int fd, int timeoutMs) {
    std::string in, out;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        while (in.size() >= 8) {
            const size_t length = (static_cast<unsigned char>(in[4]) << 8 | static_cast<unsigned char>(in[5])) +
                                  static_cast<unsigned char>(in[6]);
            if (in.size() < 8 + length) break;
            const unsigned char type = static_cast<unsigned char>(in[1]);
            if (type == 6) out += in.substr(8, length - static_cast<unsigned char>(in[6]));
            if (type == 3) return out;
            in.erase(0, 8 + length);
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        char buf[4096];
        ssize_t n = 0;
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) != 1 || (n = read(fd, buf, sizeof buf)) <= 0)
            return out + "(unfinished)";
        in.append(buf, static_cast<size_t>(n));
    }
}

}  // namespace

TEST(QoricStartup, ReconfStampsTheTableAndStartsACleaner) {
    QoricRig rig;
    rig.configure();
    EXPECT_EQ(rig.runQoric({"-ReConf"}), 0);
    EXPECT_EQ(rig.reconfigStamp(), static_cast<uint32_t>(MTime(rig.confPath())));
    int32_t cleaner = 0;
    ASSERT_TRUE(WaitFor([&] { return (cleaner = rig.cleanerPid()) > 0; }, 30000));
    EXPECT_TRUE(rig.alive(cleaner));
    // A second run finds the cleaner running and starts none.
    EXPECT_EQ(rig.runQoric({"x", "-reconf"}), 0);
    EXPECT_EQ(rig.cleanerPid(), cleaner);
    EXPECT_TRUE(rig.waitLog("QOR/ic version 2.2 Mar 12 2017 Init for P", 30000, 2)) << rig.log();
    EXPECT_EQ(rig.sanitizerReports(), "");
}

TEST(QoricStartup, IdleTableIsRemovedAndItsCleanerEnds) {
    QoricRig rig;
    rig.configure();
    std::string conf = gwtest::readText(rig.confPath());
    rig.write("conf/qoric.conf", ReplaceAll(ReplaceAll(conf, "\"3\"", "\"1\""), "\"600\"", "\"2\""));
    ASSERT_EQ(rig.runQoric({"-reconf"}), 0);
    int32_t cleaner = 0;
    ASSERT_TRUE(WaitFor([&] { return (cleaner = rig.cleanerPid()) > 0; }, 30000));
    // Only the cleaner is attached: the empty table goes after two idle
    // seconds, and the cleaner's process ends with it.
    const std::string lockFile =
        sesstbl::LockFilePath(static_cast<int32_t>(ftok(rig.workDir().c_str(), sesstbl::kFtokProjectId)));
    EXPECT_TRUE(std::filesystem::exists(lockFile));
    EXPECT_TRUE(WaitFor([&] { return !rig.tableExists(); }, 30000));
    EXPECT_TRUE(WaitFor([&] { return !rig.alive(cleaner); }, 30000));
    EXPECT_TRUE(rig.waitLog("Cleaner DTP: terminating now", 30000)) << rig.log();
    EXPECT_FALSE(std::filesystem::exists(lockFile)) << "the lock file goes with the table";
    EXPECT_EQ(rig.sanitizerReports(), "");
}

// A configuration file cut anywhere before its last closing tag (a save
// cut short): a fresh start refuses it as it refuses a missing file, and a
// running worker keeps serving with the configuration it has.
TEST(QoricStartup, ACutConfigurationIsRefusedAtStartAndOnReload) {
    QoricRig rig;
    rig.configure();
    rig.writeTemplates();
    const std::string good = gwtest::readText(rig.confPath());
    const size_t last = good.rfind('>');
    std::vector<size_t> cuts;
    for (size_t cut = 0; cut < last; cut += 41) cuts.push_back(cut);   // 0: an empty file
    cuts.push_back(last);
    for (size_t cut : cuts) {
        rig.write("conf/qoric.conf", good.substr(0, cut));
        EXPECT_EQ(rig.runQoric({}), ResultCode(Result::ParserFileNotFound) & 0xFF) << "cut at " << cut;
        EXPECT_NE(gwtest::readText(rig.file("run.stderr")).find("#Status -3001 parsing " + rig.confPath()),
                  std::string::npos);
    }

    rig.write("conf/qoric.conf", good);
    pid_t worker = rig.startWorker();
    ASSERT_TRUE(rig.get("/app/echo").has("NAME=[ECHO]"));
    for (size_t cut : cuts) {
        // The file and the stamp change, as a save would change them.
        rig.write("conf/qoric.conf", good.substr(0, cut));
        ASSERT_TRUE(rig.writeStamp(rig.reconfigStamp() + 1));
        Response r = rig.get("/app/echo");
        EXPECT_TRUE(r.has("NAME=[ECHO]")) << "cut at " << cut << ": " << r.raw;
    }
    EXPECT_TRUE(rig.waitLog("; the configuration read before stays in force", 30000, cuts.size())) << rig.log();
    // Changed without a save's stamp: served as it is, and the worker that
    // would retire to start afresh (and then refuse the file) stays. The
    // worker sees the changed file itself, or the cleaner sees it first and
    // moves the stamp, and the worker's reload refuses it: either is right.
    const size_t before = rig.log().size();
    rig.write("conf/qoric.conf", good.substr(0, last / 2));
    EXPECT_TRUE(rig.get("/app/echo").has("NAME=[ECHO]"));
    EXPECT_TRUE(WaitFor([&] {
        const std::string log = rig.log();
        const std::string since = log.size() > before ? log.substr(before) : "";
        return since.find(rig.confPath() + " was changed but cannot be used") != std::string::npos ||
               since.find("reload of " + rig.confPath() + " refused") != std::string::npos;
    }, 30000)) << rig.log();
    EXPECT_FALSE(rig.waitLog("App: P" + std::to_string(worker) + " retires after", 300));
    EXPECT_EQ(rig.waitWorker(worker, 300), -2);

    // The file mended with a new group and saved: the next request has it.
    std::string mended = good;
    mended.insert(mended.rfind("</qoric>"), " <AppGroup URL=\"/new/\" NAME=\"NEW\"/>\n");
    rig.write("conf/qoric.conf", mended);
    ASSERT_TRUE(rig.writeStamp(rig.reconfigStamp() + 1));
    EXPECT_TRUE(rig.get("/new/echo").has("NAME=[ECHO]")) << rig.log();
    EXPECT_EQ(rig.sanitizerReports(), "");
}

// A FIFO at the configuration path (no writer behind it) is refused at
// once: at start-up, and by a worker asked to reload, which serves on.
TEST(QoricStartup, AFifoAtTheConfigurationPathIsRefusedAtOnce) {
    QoricRig rig;
    rig.configure();
    rig.writeTemplates();
    const std::string good = gwtest::readText(rig.confPath());
    auto putFifo = [&] { return unlink(rig.confPath().c_str()) == 0 && mkfifo(rig.confPath().c_str(), 0600) == 0; };
    ASSERT_TRUE(putFifo());
    EXPECT_EQ(rig.runQoric({}), ResultCode(Result::ParserFileNotFound) & 0xFF);
    EXPECT_NE(gwtest::readText(rig.file("run.stderr")).find("#Status -3001 parsing " + rig.confPath()),
              std::string::npos);

    unlink(rig.confPath().c_str());
    rig.write("conf/qoric.conf", good);
    pid_t worker = rig.startWorker();
    ASSERT_TRUE(rig.get("/app/echo").has("NAME=[ECHO]"));
    ASSERT_TRUE(putFifo());
    ASSERT_TRUE(rig.writeStamp(rig.reconfigStamp() + 1));
    for (int i = 0; i < 2; ++i) EXPECT_TRUE(rig.get("/app/echo").has("NAME=[ECHO]")) << rig.log();
    EXPECT_TRUE(rig.waitLog(rig.confPath() + " is not a regular file", 30000)) << rig.log();
    EXPECT_EQ(rig.waitWorker(worker, 300), -2);
    EXPECT_EQ(rig.sanitizerReports(), "");
}

TEST(QoricStartup, ConfigurationErrorsEndTheProcess) {
    QoricRig rig({"none"});
    // No file at all: the parser's status, also on standard error, with
    // where the file is named and the README section about it.
    EXPECT_EQ(rig.runQoric({}), ResultCode(Result::ParserFileNotFound) & 0xFF);
    const std::string err = gwtest::readText(rig.file("run.stderr"));
    EXPECT_NE(err.find("#Status -3001 parsing " + rig.confPath() + "\n#The configuration file is the one "
                       "QORICCONFPATH names (default /usr/local/qoric/conf/qoric.conf); see "
                       "\"Configuring the gateway\" in README.md\n"),
              std::string::npos)
        << err;
    rig.write("conf/qoric.conf", "<qoric><Locap NAME=\"QOR1\" ADDRESS=\"127.0.0.1\" PORT=\"9\"/>"
                                 "<LogFile VALUE=\"" + rig.logPath() + "\"/></qoric>");
    EXPECT_EQ(rig.runQoric({}), 255);
    EXPECT_TRUE(rig.waitLog("No Transactions defined in qoric.conf", 30000)) << rig.log();
    rig.write("conf/qoric.conf", "<qoric><Transaction NAME=\"T\" ID=\"T\"/>"
                                 "<LogFile VALUE=\"" + rig.logPath() + "\"/></qoric>");
    EXPECT_EQ(rig.runQoric({}), 255);
    EXPECT_TRUE(rig.waitLog("No LOCAPS defined in qoric.conf", 30000)) << rig.log();
    EXPECT_EQ(rig.sanitizerReports(), "");
}

// The log line of a worker that retires and starts its program afresh.
std::string Afresh(pid_t worker) { return "App: P" + std::to_string(worker) + " retires after"; }

TEST(QoricLoop, UseLimitStartsTheWorkerAfreshAfterItsRequests) {
    QoricRig rig;
    rig.configure(" <MaxUsage VALUE=\"2\"/>\n");
    rig.writeTemplates();
    pid_t worker = rig.startWorker();
    EXPECT_TRUE(rig.get("/app/echo").ok);
    EXPECT_FALSE(rig.waitLog(Afresh(worker), 300));
    EXPECT_TRUE(rig.get("/ECHO").ok);
    EXPECT_TRUE(rig.waitLog("Hit MaxUsage of 2", 30000)) << rig.log();
    EXPECT_TRUE(rig.waitLog(Afresh(worker) + " 2 requests and starts afresh", 30000)) << rig.log();
    // The same process serves on, its count started anew.
    EXPECT_TRUE(rig.get("/app/echo").ok);
    EXPECT_TRUE(rig.waitLog("Init for P" + std::to_string(worker), 30000, 2)) << rig.log();
    EXPECT_EQ(rig.waitWorker(worker, 300), -2);
    EXPECT_EQ(rig.sanitizerReports(), "");
}

TEST(QoricLoop, AWorkerAtItsLimitAnswersEveryQueuedConnection) {
    QoricRig rig;
    rig.configure(" <MaxUsage VALUE=\"1\"/>\n");
    rig.writeTemplates();
    // The web server has handed over four connections before the worker
    // takes the first: each reaches the limit, and each fresh run of the
    // program in the same process takes the next one from the socket.
    const std::string socketPath = rig.listen();
    std::vector<int> queued;
    for (int i = 0; i < 4; ++i) queued.push_back(QueueRequest(socketPath, "/app/echo"));
    pid_t worker = rig.startWorker();
    for (int fd : queued) {
        ASSERT_GE(fd, 0);
        const std::string answer = ReadAnswer(fd, 15000);
        EXPECT_NE(answer.find("NAME=[ECHO]"), std::string::npos) << answer;
        close(fd);
    }
    EXPECT_TRUE(rig.waitLog(Afresh(worker), 30000, 4)) << rig.log();
    EXPECT_EQ(rig.waitWorker(worker, 300), -2);
    EXPECT_EQ(rig.sanitizerReports(), "");
}

TEST(QoricLoop, AWorkerThatCannotStartAfreshAnswersWhatIsQueuedFirst) {
    QoricRig rig;
    rig.configure(" <MaxUsage VALUE=\"1\"/>\n");
    rig.writeTemplates();
    // The program file goes away while the worker runs (an upgrade in
    // progress): retiring, it answers the connections queued, then ends.
    const std::string program = rig.file("qoric-copy");
    std::filesystem::copy_file(gwtest::qoricBinary(), program);
    const std::string socketPath = rig.listen();
    pid_t worker = rig.startWorker({}, program);
    ASSERT_TRUE(rig.waitLog("Init for P" + std::to_string(worker), 30000)) << rig.log();
    ASSERT_EQ(unlink(program.c_str()), 0);
    std::vector<int> queued;
    for (int i = 0; i < 3; ++i) queued.push_back(QueueRequest(socketPath, "/app/echo"));
    for (int fd : queued) {
        ASSERT_GE(fd, 0);
        const std::string answer = ReadAnswer(fd, 15000);
        EXPECT_NE(answer.find("NAME=[ECHO]"), std::string::npos) << answer;
        close(fd);
    }
    EXPECT_EQ(rig.waitWorker(worker, 30000), 0);
    EXPECT_TRUE(rig.waitLog("cannot be started afresh", 30000)) << rig.log();
    EXPECT_TRUE(rig.waitLog("Retiring after 3 requests", 30000)) << rig.log();
    EXPECT_EQ(rig.sanitizerReports(), "");
}

TEST(QoricLoop, TouchedConfigurationRetiresTheWorkerAndHandsTheCleanerOver) {
    QoricRig rig;
    rig.configure();
    rig.writeTemplates();
    pid_t worker = rig.startWorker();
    const int32_t cleaner = FirstCleaner(rig);
    ASSERT_GT(cleaner, 0);
    ASSERT_TRUE(rig.get("/app/echo").ok);

    Touch(rig.confPath(), 5);
    // The request is served with the configuration it has, then the
    // worker retires and starts afresh.
    Response r = rig.get("/app/echo");
    EXPECT_TRUE(r.ok) << r.raw;
    EXPECT_TRUE(rig.waitLog("was updated; Exiting", 30000)) << rig.log();
    EXPECT_TRUE(rig.waitLog(Afresh(worker), 30000)) << rig.log();
    EXPECT_EQ(rig.waitWorker(worker, 300), -2);
    // The cleaner reloads and hands over to a new one.
    EXPECT_TRUE(WaitFor([&] { return rig.cleanerPid() > 0 && rig.cleanerPid() != cleaner; }, 30000));
    EXPECT_TRUE(rig.alive(rig.cleanerPid()));
    EXPECT_EQ(rig.reconfigStamp(), static_cast<uint32_t>(MTime(rig.confPath())));
    EXPECT_EQ(rig.sanitizerReports(), "");
}

TEST(QoricLoop, ReplacedExecutableRetiresTheWorker) {
    QoricRig rig;
    rig.configure();
    rig.writeTemplates();
    rig.write("binary", "stand-in for the program file");
    Touch(rig.file("binary"), -100);
    pid_t worker = rig.startWorker();
    RequestOptions s;
    s.uri = "/ECHO";
    s.env = {"SCRIPT_FILENAME=" + rig.file("binary")};
    EXPECT_TRUE(rig.request(s).ok);
    EXPECT_TRUE(rig.request(s).ok);
    EXPECT_EQ(rig.waitWorker(worker, 300), -2);
    Touch(rig.file("binary"), -50);
    EXPECT_TRUE(rig.request(s).ok);
    EXPECT_TRUE(rig.waitLog("App: binaries updated, terminating old instance", 30000)) << rig.log();
    EXPECT_TRUE(rig.waitLog(Afresh(worker), 30000)) << rig.log();

    // An executable that cannot be examined never retires a worker.
    s.env = {"SCRIPT_FILENAME=" + rig.file("no-such-binary")};
    EXPECT_TRUE(rig.request(s).ok);
    EXPECT_TRUE(rig.request(s).ok);
    EXPECT_FALSE(rig.waitLog(Afresh(worker), 300, 2)) << rig.log();
    EXPECT_EQ(rig.waitWorker(worker, 300), -2);
    EXPECT_EQ(rig.sanitizerReports(), "");
}

TEST(QoricLoop, MovedStampMakesTheWorkerReload) {
    QoricRig rig;
    rig.configure();
    rig.writeTemplates();
    pid_t worker = rig.startWorker();
    Response first = rig.get("/app/echo");
    const std::string sid = sessionIdIn(first.body);
    ASSERT_FALSE(sid.empty()) << first.raw;
    ASSERT_TRUE(rig.writeStamp(static_cast<uint32_t>(MTime(rig.confPath()) + 100)));
    Response next = rig.post("/app/echo", "", "SID=" + sid + "&mcs.name=ECHO&McsStatus=+&McsCount=74&typed=AGAIN");
    EXPECT_TRUE(next.has("SHOWN=[AGAIN]")) << next.raw;
    EXPECT_TRUE(rig.waitLog("Init for P" + std::to_string(worker), 30000, 2)) << rig.log();
    EXPECT_TRUE(rig.alive(worker));
    EXPECT_EQ(rig.sanitizerReports(), "");
}

TEST(QoricLoop, CleanerStartedDuringARequestNeverAnswersIt) {
    QoricRig rig;
    rig.configure();
    rig.writeTemplates();
    pid_t worker = rig.startWorker();
    const int32_t oldCleaner = FirstCleaner(rig);
    ASSERT_GT(oldCleaner, 0);
    Response first = rig.get("/app/echo");
    const std::string sid = sessionIdIn(first.body);
    ASSERT_FALSE(sid.empty()) << first.raw;
    // A second worker, started while the cleaner runs: a cleaner started
    // while no other worker lives would expire every session first.
    // It waits for requests once it has looked for a cleaner at its start,
    // as the first one does once it has looked after its page.
    pid_t other = rig.startWorker();
    ASSERT_TRUE(WaitFor([&] { return LoggedBy(rig, other, "Waiting for poll"); }, 30000)) << rig.log();
    ASSERT_TRUE(WaitFor([&] { return LoggedBy(rig, worker, "Waiting for poll 300 secs, and for socket fds"); }, 30000))
        << rig.log();

    // No cleaner runs and the stamp moved: the next request reloads and
    // starts a cleaner while it is being served.
    kill(oldCleaner, SIGKILL);
    ASSERT_TRUE(WaitFor([&] { return !rig.alive(oldCleaner); }, 30000));
    const uint32_t moved = static_cast<uint32_t>(MTime(rig.confPath()) + 100);
    ASSERT_TRUE(rig.writeStamp(moved));
    Response during = rig.post("/app/echo", "", "SID=" + sid + "&mcs.name=ECHO&McsStatus=+&McsCount=74&typed=DURING");
    EXPECT_TRUE(during.ok) << during.raw;
    EXPECT_TRUE(during.has("SHOWN=[DURING]")) << during.raw;
    EXPECT_EQ(during.raw.find("Content-type"), during.raw.rfind("Content-type")) << during.raw;
    int32_t inRequest = 0;
    ASSERT_TRUE(WaitFor([&] { inRequest = rig.cleanerPid(); return inRequest > 0 && inRequest != oldCleaner; }, 30000));
    // It holds neither the worker's host connection nor the web server's
    // connection of the request.
    EXPECT_EQ(rig.socketsBesidesZero(inRequest), 0);

    // Its work ends at its first wake-up after the file changes: it hands
    // over to a new cleaner and ends instead of going back into the
    // request it was started in.
    Touch(rig.confPath(), 5);
    EXPECT_TRUE(rig.waitLog("was started during a request; ending", 30000)) << rig.log();
    EXPECT_TRUE(WaitFor([&] { return !rig.alive(inRequest); }, 30000));
    EXPECT_TRUE(WaitFor([&] { int32_t p = rig.cleanerPid(); return p > 0 && p != inRequest && rig.alive(p); }, 30000));
    // The stamp never goes back, not even to the file's time.
    EXPECT_EQ(rig.reconfigStamp(), moved);

    // The workers go on serving the same session.
    Response after = rig.post("/app/echo", "", "SID=" + sid + "&mcs.name=ECHO&McsStatus=+&McsCount=74&typed=AFTER");
    EXPECT_TRUE(after.has("SHOWN=[AFTER]")) << after.raw;
    EXPECT_TRUE(rig.alive(worker));
    EXPECT_TRUE(rig.alive(other));
    EXPECT_EQ(rig.sanitizerReports(), "");
}

// A cleaner that a worker starts in place of a killed one (after the
// worker has set up its own SIGTERM handling) ends on SIGTERM alone, and
// makes its first pass at once rather than after a wake interval.
TEST(QoricLoop, AReplacementCleanerPassesAtOnceAndEndsOnSigterm) {
    QoricRig rig;
    rig.configure();
    // Passes 20 s apart: a pass seen within seconds is the first one.
    rig.write("conf/qoric.conf",
              ReplaceAll(gwtest::readText(rig.confPath()), "<InstanceCleanup VALUE=\"3\"/>",
                         "<InstanceCleanup VALUE=\"60\"/>"));
    rig.writeTemplates();
    rig.startWorker();
    const int32_t killed = FirstCleaner(rig);
    ASSERT_GT(killed, 0);
    ASSERT_TRUE(rig.get("/app/echo").has("NAME=[ECHO]"));
    // Passes before the kill: the worker may replace the cleaner right
    // after its page, and the replacement pass at once.
    const std::string pass = "Cleaner DTP: wake up and check state";
    size_t passes = 0;
    for (size_t at = 0; (at = rig.log().find(pass, at)) != std::string::npos; ++at) ++passes;
    kill(killed, SIGKILL);
    ASSERT_TRUE(WaitFor([&] { return !rig.alive(killed); }, 30000));

    // Requests go on; the worker starts a cleaner within a second of one.
    int32_t replacement = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!(replacement > 0 && replacement != killed) && std::chrono::steady_clock::now() < end) {
        EXPECT_TRUE(rig.get("/qoric").ok);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        replacement = rig.cleanerPid();
    }
    ASSERT_TRUE(replacement > 0 && replacement != killed) << rig.log();
    EXPECT_TRUE(rig.waitLog(pass, 30000, passes + 1)) << rig.log();
    kill(replacement, SIGTERM);
    EXPECT_TRUE(WaitFor([&] { return !rig.alive(replacement); }, 30000)) << rig.log();
    EXPECT_EQ(rig.sanitizerReports(), "");
}

TEST(QoricSignals, SigtermWhileIdleEndsTheWorker) {
    QoricRig rig;
    rig.configure();
    rig.writeTemplates();
    pid_t worker = rig.startWorker();
    ASSERT_TRUE(rig.get("/app/echo").ok);
    ASSERT_TRUE(rig.waitLog("Waiting for poll", 30000, 2)) << rig.log();
    kill(worker, SIGTERM);
    EXPECT_EQ(rig.waitWorker(worker, 30000), 0);
    EXPECT_TRUE(rig.waitLog("Got SIGTERM while idle", 30000)) << rig.log();
    // In the shared log the line names the worker that ended, as every
    // other line of it does.
    const std::string tag = ":P" + std::to_string(worker) + ":";
    const std::string log = rig.log();
    const size_t at = log.find("Got SIGTERM while idle");
    const size_t line = log.rfind('\n', at) + 1;
    EXPECT_EQ(log.compare(line, tag.size() + 1, " " + tag), 0) << log.substr(line);
    EXPECT_EQ(log.find("#Got SIGTERM"), std::string::npos) << log;
    EXPECT_EQ(rig.sanitizerReports(), "");
}
