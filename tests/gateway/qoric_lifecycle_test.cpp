// qoric's start-up, reload and exits: "-reconf", configuration errors, the
// use limit, a touched configuration file and the cleaner's hand-over, a
// replaced executable, a moved reconfiguration stamp, a cleaner started
// during a request, and SIGTERM.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <chrono>
#include <ctime>
#include <functional>
#include <string>
#include <thread>

#include "Result.h"
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

}  // namespace

TEST(QoricStartup, ReconfStampsTheTableAndStartsACleaner) {
    QoricRig rig;
    rig.configure();
    EXPECT_EQ(rig.runQoric({"-ReConf"}), 0);
    EXPECT_EQ(rig.reconfigStamp(), static_cast<uint32_t>(MTime(rig.confPath())));
    int32_t cleaner = 0;
    ASSERT_TRUE(WaitFor([&] { return (cleaner = rig.cleanerPid()) > 0; }, 5000));
    EXPECT_TRUE(rig.alive(cleaner));
    // A second run finds the cleaner running and starts none.
    EXPECT_EQ(rig.runQoric({"x", "-reconf"}), 0);
    EXPECT_EQ(rig.cleanerPid(), cleaner);
    EXPECT_TRUE(rig.waitLog("QOR/ic version 2.2 Mar 12 2017 Init for P", 5000, 2)) << rig.log();
    EXPECT_EQ(rig.sanitizerReports(), "");
}

TEST(QoricStartup, IdleTableIsRemovedAndItsCleanerEnds) {
    QoricRig rig;
    rig.configure();
    std::string conf = gwtest::readText(rig.confPath());
    rig.write("conf/qoric.conf", ReplaceAll(ReplaceAll(conf, "\"3\"", "\"1\""), "\"600\"", "\"2\""));
    ASSERT_EQ(rig.runQoric({"-reconf"}), 0);
    int32_t cleaner = 0;
    ASSERT_TRUE(WaitFor([&] { return (cleaner = rig.cleanerPid()) > 0; }, 5000));
    // Only the cleaner is attached: the empty table goes after two idle
    // seconds, and the cleaner's process ends with it.
    EXPECT_TRUE(WaitFor([&] { return !rig.tableExists(); }, 15000));
    EXPECT_TRUE(WaitFor([&] { return !rig.alive(cleaner); }, 5000));
    EXPECT_TRUE(rig.waitLog("Cleaner DTP: terminating now", 5000)) << rig.log();
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
    EXPECT_TRUE(rig.waitLog("No Transactions defined in qoric.conf", 5000)) << rig.log();
    rig.write("conf/qoric.conf", "<qoric><Transaction NAME=\"T\" ID=\"T\"/>"
                                 "<LogFile VALUE=\"" + rig.logPath() + "\"/></qoric>");
    EXPECT_EQ(rig.runQoric({}), 255);
    EXPECT_TRUE(rig.waitLog("No LOCAPS defined in qoric.conf", 5000)) << rig.log();
    EXPECT_EQ(rig.sanitizerReports(), "");
}

TEST(QoricLoop, UseLimitEndsTheWorkerAfterItsRequests) {
    QoricRig rig;
    rig.configure(" <MaxUsage VALUE=\"2\"/>\n");
    rig.writeTemplates();
    pid_t worker = rig.startWorker();
    EXPECT_TRUE(rig.get("/app/echo").ok);
    EXPECT_EQ(rig.waitWorker(worker, 300), -2);
    EXPECT_TRUE(rig.get("/ECHO").ok);
    EXPECT_EQ(rig.waitWorker(worker, 10000), 0);
    EXPECT_TRUE(rig.waitLog("Hit MaxUsage of 2", 5000)) << rig.log();
    EXPECT_EQ(rig.sanitizerReports(), "");
}

TEST(QoricLoop, TouchedConfigurationEndsTheWorkerAndHandsTheCleanerOver) {
    QoricRig rig;
    rig.configure();
    rig.writeTemplates();
    pid_t worker = rig.startWorker();
    ASSERT_TRUE(rig.get("/app/echo").ok);
    int32_t cleaner = 0;
    ASSERT_TRUE(WaitFor([&] { return (cleaner = rig.cleanerPid()) > 0; }, 5000));

    Touch(rig.confPath(), 5);
    // The request is served with the configuration it has, then it ends.
    Response r = rig.get("/app/echo");
    EXPECT_TRUE(r.ok) << r.raw;
    EXPECT_EQ(rig.waitWorker(worker, 10000), 0);
    EXPECT_TRUE(rig.waitLog("was updated; Exiting", 5000)) << rig.log();
    // The cleaner reloads and hands over to a new one.
    EXPECT_TRUE(WaitFor([&] { return rig.cleanerPid() > 0 && rig.cleanerPid() != cleaner; }, 8000));
    EXPECT_TRUE(rig.alive(rig.cleanerPid()));
    EXPECT_EQ(rig.reconfigStamp(), static_cast<uint32_t>(MTime(rig.confPath())));
    EXPECT_EQ(rig.sanitizerReports(), "");
}

TEST(QoricLoop, ReplacedExecutableEndsTheWorker) {
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
    EXPECT_EQ(rig.waitWorker(worker, 10000), 0);
    EXPECT_TRUE(rig.waitLog("App: binaries updated, terminating old instance", 5000)) << rig.log();

    // An executable that cannot be examined never ends a worker.
    worker = rig.startWorker();
    s.env = {"SCRIPT_FILENAME=" + rig.file("no-such-binary")};
    EXPECT_TRUE(rig.request(s).ok);
    EXPECT_TRUE(rig.request(s).ok);
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
    EXPECT_TRUE(rig.waitLog("Init for P" + std::to_string(worker), 5000, 2)) << rig.log();
    EXPECT_TRUE(rig.alive(worker));
    EXPECT_EQ(rig.sanitizerReports(), "");
}

TEST(QoricLoop, CleanerStartedDuringARequestNeverAnswersIt) {
    QoricRig rig;
    rig.configure();
    rig.writeTemplates();
    pid_t worker = rig.startWorker();
    Response first = rig.get("/app/echo");
    const std::string sid = sessionIdIn(first.body);
    ASSERT_FALSE(sid.empty()) << first.raw;
    int32_t oldCleaner = 0;
    ASSERT_TRUE(WaitFor([&] { return (oldCleaner = rig.cleanerPid()) > 0; }, 5000));
    // A second worker, started while the cleaner runs: a cleaner started
    // while no other worker lives would expire every session first.
    pid_t other = rig.startWorker();
    ASSERT_TRUE(rig.waitLog("Init for P" + std::to_string(other), 5000)) << rig.log();

    // No cleaner runs and the stamp moved: the next request reloads and
    // starts a cleaner while it is being served.
    kill(oldCleaner, SIGKILL);
    ASSERT_TRUE(WaitFor([&] { return !rig.alive(oldCleaner); }, 5000));
    ASSERT_TRUE(rig.writeStamp(static_cast<uint32_t>(MTime(rig.confPath()) + 100)));
    Response during = rig.post("/app/echo", "", "SID=" + sid + "&mcs.name=ECHO&McsStatus=+&McsCount=74&typed=DURING");
    EXPECT_TRUE(during.ok) << during.raw;
    EXPECT_TRUE(during.has("SHOWN=[DURING]")) << during.raw;
    EXPECT_EQ(during.raw.find("Content-type"), during.raw.rfind("Content-type")) << during.raw;
    int32_t inRequest = 0;
    ASSERT_TRUE(WaitFor([&] { inRequest = rig.cleanerPid(); return inRequest > 0 && inRequest != oldCleaner; }, 5000));
    // It holds neither the worker's host connection nor the web server's
    // connection of the request.
    EXPECT_EQ(rig.socketsBesidesZero(inRequest), 0);

    // Its work ends at its first wake-up (the stamp is later than the
    // configuration it started with): it hands over to a new cleaner and
    // ends instead of going back into the request it was started in.
    EXPECT_TRUE(rig.waitLog("was started during a request; ending", 10000)) << rig.log();
    EXPECT_TRUE(WaitFor([&] { return !rig.alive(inRequest); }, 5000));
    EXPECT_TRUE(WaitFor([&] { int32_t p = rig.cleanerPid(); return p > 0 && p != inRequest && rig.alive(p); }, 5000));
    EXPECT_EQ(rig.reconfigStamp(), static_cast<uint32_t>(MTime(rig.confPath())));

    // The workers go on serving the same session.
    Response after = rig.post("/app/echo", "", "SID=" + sid + "&mcs.name=ECHO&McsStatus=+&McsCount=74&typed=AFTER");
    EXPECT_TRUE(after.has("SHOWN=[AFTER]")) << after.raw;
    EXPECT_TRUE(rig.alive(worker));
    EXPECT_TRUE(rig.alive(other));
    EXPECT_EQ(rig.sanitizerReports(), "");
}

TEST(QoricSignals, SigtermWhileIdleEndsTheWorker) {
    QoricRig rig;
    rig.configure();
    rig.writeTemplates();
    pid_t worker = rig.startWorker();
    ASSERT_TRUE(rig.get("/app/echo").ok);
    ASSERT_TRUE(rig.waitLog("Waiting for poll", 5000, 2)) << rig.log();
    kill(worker, SIGTERM);
    EXPECT_EQ(rig.waitWorker(worker, 10000), 0);
    EXPECT_TRUE(rig.waitLog("Got SIGTERM while idle", 5000)) << rig.log();
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
