// Poll set, wait, accept and termination of the request loop, against a
// scripted replacement of the FastCGI calls. Everything that ends a
// process runs in a forked child.
#include "fake_fcgi.h"
#include "loop_util.h"

#include "logprint.h"
#include "xfcgin.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <vector>

using namespace looptest;

namespace {

// Puts the read end of a pipe on descriptor 0, where the loop expects the
// FastCGI socket, and gives it back at the end.
class FakeListenSocket {
public:
    FakeListenSocket()
    {
        int p[2];
        if (pipe(p) != 0)
            std::abort();
        saved_ = dup(0);
        dup2(p[0], 0);
        close(p[0]);
        writer_ = p[1];
    }
    ~FakeListenSocket()
    {
        dup2(saved_, 0);
        close(saved_);
        if (writer_ >= 0)
            close(writer_);
    }
    void makeReady() { (void)!write(writer_, "x", 1); }

private:
    int saved_ = -1;
    int writer_ = -1;
};

struct Pipe {
    int r = -1, w = -1;
    Pipe()
    {
        int p[2];
        if (pipe(p) != 0)
            std::abort();
        r = p[0];
        w = p[1];
    }
    ~Pipe()
    {
        if (r >= 0)
            close(r);
        if (w >= 0)
            close(w);
    }
    void closeWriter()
    {
        close(w);
        w = -1;
    }
};

void emptyPollSet()
{
    while (xFcgiPollFd(1) != -1)
        xFcgiDelPoll(xFcgiPollFd(1));
}

std::vector<int> socketSlots()
{
    std::vector<int> v;
    for (int i = 1; i < maxFds; ++i)
        v.push_back(xFcgiPollFd(i));
    return v;
}

// Opens a detail log ("t") of its own; used in children and in the parent.
void openLog(const std::string &path)
{
    logOptions("t");
    ASSERT_NE(logOpen(path.c_str(), 0), nullptr);
}

// A child ends with a code that names the check that failed.
#define CHILD_CHECK(cond, code) \
    do {                        \
        if (!(cond))            \
            _exit(code);        \
    } while (0)

int exitStatus(int st)
{
    return st >= 0 && WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

class PollSetTest : public ::testing::Test {
protected:
    void SetUp() override { emptyPollSet(); }
    void TearDown() override { emptyPollSet(); }
};

TEST_F(PollSetTest, AddsOnceAndIgnoresDescriptorZero)
{
    EXPECT_EQ(xFcgiNumFds(), 1);
    xFcgiAddPoll(0);
    EXPECT_EQ(xFcgiNumFds(), 1);
    EXPECT_EQ(xFcgiPollFd(1), -1);

    xFcgiAddPoll(7);
    xFcgiAddPoll(7);
    EXPECT_EQ(socketSlots(), (std::vector<int>{7, -1, -1, -1, -1}));
    EXPECT_EQ(xFcgiNumFds(), 2);

    xFcgiAddPoll(8);
    xFcgiAddPoll(8);
    xFcgiAddPoll(7);
    EXPECT_EQ(socketSlots(), (std::vector<int>{7, 8, -1, -1, -1}));
    EXPECT_EQ(xFcgiNumFds(), 3);
}

TEST_F(PollSetTest, RemovalMovesLaterSlotsDown)
{
    xFcgiAddPoll(11);
    xFcgiAddPoll(12);
    xFcgiAddPoll(13);
    xFcgiDelPoll(11);
    EXPECT_EQ(socketSlots(), (std::vector<int>{12, 13, -1, -1, -1}));
    EXPECT_EQ(xFcgiNumFds(), 3);

    xFcgiDelPoll(0);    // the FastCGI socket is never removed
    xFcgiDelPoll(99);   // not in the set
    EXPECT_EQ(socketSlots(), (std::vector<int>{12, 13, -1, -1, -1}));

    xFcgiDelPoll(13);
    EXPECT_EQ(xFcgiNumFds(), 2);
    xFcgiDelPoll(12);
    EXPECT_EQ(xFcgiNumFds(), 1);
}

TEST_F(PollSetTest, FullSetRefusesASixthSocket)
{
    TempDir dir;
    logOptions("a");
    openLog(dir.file("full.log"));
    for (int fd = 21; fd <= 25; ++fd)
        xFcgiAddPoll(fd);
    EXPECT_EQ(xFcgiNumFds(), 6);
    xFcgiAddPoll(26);
    EXPECT_EQ(socketSlots(), (std::vector<int>{21, 22, 23, 24, 25}));
    logClose();
    EXPECT_EQ(readFile(dir.file("full.log")), "");   // refused silently
    xFcgiDelPoll(99);   // nothing free, nothing removed: unchanged
    EXPECT_EQ(xFcgiNumFds(), 6);
    xFcgiDelPoll(23);
    EXPECT_EQ(socketSlots(), (std::vector<int>{21, 22, 24, 25, -1}));
    EXPECT_EQ(xFcgiNumFds(), 5);
    xFcgiAddPoll(26);
    EXPECT_EQ(socketSlots(), (std::vector<int>{21, 22, 24, 25, 26}));
}

// Waits in the parent process: nothing here may end it.
class WaitTest : public PollSetTest {
protected:
    void SetUp() override
    {
        PollSetTest::SetUp();
        openLog(dir.file("wait.log"));
        fakefcgi::acceptResult = 0;
        ASSERT_EQ(xFcgiAccept(), 1);   // resets the trouble counter
    }
    void TearDown() override
    {
        logClose();
        PollSetTest::TearDown();
    }
    std::string log()
    {
        logForceFlush();
        return readFile(dir.file("wait.log"));
    }
    TempDir dir;
    FakeListenSocket listen;
};

TEST_F(WaitTest, TimeoutReturnsZero)
{
    int finishes = fakefcgi::finishCalls;
    EXPECT_EQ(xFcgiPoll(30), 0);
    EXPECT_EQ(fakefcgi::finishCalls, finishes + 1);   // the request was finished
    EXPECT_EQ(bActive, 0);
    std::string text = log();
    EXPECT_NE(text.find("Waiting for poll 0 secs, but no sockets"), std::string::npos);
    EXPECT_NE(text.find("Poll timeout"), std::string::npos);
}

TEST_F(WaitTest, FastCgiSocketIsExaminedFirst)
{
    Pipe host;
    (void)!write(host.w, "h", 1);
    xFcgiAddPoll(host.r);
    listen.makeReady();
    EXPECT_EQ(xFcgiPoll(1000), 1);
    EXPECT_EQ(xFcgiTroubleCount(), 0);
    EXPECT_NE(log().find("and for socket fds: " + std::to_string(host.r) + " "),
              std::string::npos);
}

TEST_F(WaitTest, HostInputReadByTheCallerIsNoTrouble)
{
    struct CallerReads {
        CallerReads() { xFcgiCallerReadsSockets(true); }
        ~CallerReads() { xFcgiCallerReadsSockets(false); }
    } callerReads;
    Pipe host;
    (void)!write(host.w, "data", 4);   // stays readable
    xFcgiAddPoll(host.r);
    for (int i = 1; i <= 8; ++i)
        EXPECT_EQ(xFcgiPoll(1000), host.r + 1);
    EXPECT_EQ(xFcgiTroubleCount(), 0);
    EXPECT_EQ(bSigTerm, 0);
    EXPECT_EQ(log().find("FastCGI not ready"), std::string::npos);
    // Input the caller could not take counts as the loop would count it.
    xFcgiSocketTrouble(host.r);
    EXPECT_EQ(xFcgiTroubleCount(), 1);
    EXPECT_NE(log().find("WARNING 1: Input fd " + std::to_string(host.r) + " but FastCGI not ready"),
              std::string::npos);
}

TEST_F(WaitTest, InvalidDescriptorIsDroppedFromTheSet)
{
    int closedFd = dup(1);
    close(closedFd);
    xFcgiAddPoll(closedFd);
    EXPECT_EQ(xFcgiPoll(1000), -1);
    EXPECT_EQ(xFcgiPollFd(1), -1);
    EXPECT_EQ(xFcgiNumFds(), 1);
    EXPECT_EQ(xFcgiTroubleCount(), 1);
    EXPECT_NE(log().find("Poll fd " + std::to_string(closedFd) + " got POLLNVAL"),
              std::string::npos);
}

TEST_F(WaitTest, HangUpsCountUntilTheNextAccept)
{
    Pipe host;
    host.closeWriter();
    xFcgiAddPoll(host.r);
    for (int i = 1; i <= 3; ++i) {
        EXPECT_EQ(xFcgiPoll(1000), -1);   // trouble only: no input
        EXPECT_EQ(xFcgiTroubleCount(), i);
    }
    EXPECT_EQ(xFcgiPollFd(1), host.r);    // a hang-up only counts
    EXPECT_EQ(xFcgiAccept(), 1);
    EXPECT_EQ(xFcgiTroubleCount(), 0);
    EXPECT_EQ(bSigTerm, 0);
    EXPECT_EQ(count(log(), "got POLLHUP"), 3u);
}

TEST_F(WaitTest, AcceptFailureReturnsZero)
{
    fakefcgi::acceptResult = -1;
    EXPECT_EQ(xFcgiAccept(), 0);
    EXPECT_EQ(bActive, 0);
    EXPECT_NE(log().find("Error -1 from Accept"), std::string::npos);
    fakefcgi::acceptResult = 0;
}

TEST_F(WaitTest, HandlerIsInstalledWithoutRestart)
{
    EXPECT_EQ(bSigReady, 1);
    EXPECT_EQ(bActive, 1);
    EXPECT_EQ(bInputAvail, 1);
    for (int sig : {SIGTERM, SIGHUP}) {
        struct sigaction sa {};
        ASSERT_EQ(sigaction(sig, nullptr, &sa), 0);
        EXPECT_EQ(sa.sa_handler, &xfcgiSignal);
        EXPECT_EQ(sa.sa_flags & SA_RESTART, 0);
        EXPECT_EQ(sigismember(&sa.sa_mask, sig == SIGTERM ? SIGHUP : SIGTERM), 1);
    }
}

// ---- children: trouble thresholds and termination ----

TEST(LoopEnd, EighthHangUpEndsTheProcessAtTheNextPoll)
{
    TempDir dir;
    const std::string logPath = dir.file("hup.log");
    pid_t pid = fork();
    if (pid == 0) {
        FakeListenSocket listen;
        openLog(logPath);
        fakefcgi::acceptResult = 0;
        CHILD_CHECK(xFcgiAccept() == 1, 2);
        Pipe host;
        host.closeWriter();
        xFcgiAddPoll(host.r);
        for (int i = 1; i <= 7; ++i) {
            CHILD_CHECK(xFcgiPoll(1000) == -1, 3);
            CHILD_CHECK(bSigTerm == 0, 4);
        }
        CHILD_CHECK(xFcgiPoll(1000) == -1, 5);
        CHILD_CHECK(bSigTerm == 1, 6);
        xFcgiPoll(1000);   // ends the process
        _exit(7);
    }
    int st = waitChild(pid);
    EXPECT_EQ(exitStatus(st), 0);
    std::string text = readFile(logPath);
    EXPECT_EQ(count(text, "got POLLHUP"), 8u);
    EXPECT_NE(text.find("Exiting from Poll as requested"), std::string::npos);
}

TEST(LoopEnd, SocketInputWhileIdlePausesAndRetiresTheWorker)
{
    TempDir dir;
    const std::string logPath = dir.file("input.log");
    pid_t pid = fork();
    if (pid == 0) {
        FakeListenSocket listen;
        openLog(logPath);
        fakefcgi::acceptResult = 0;
        CHILD_CHECK(xFcgiAccept() == 1, 2);
        Pipe host;
        (void)!write(host.w, "data", 4);   // stays readable
        xFcgiAddPoll(host.r);
        for (int i = 1; i <= 8; ++i) {
            auto t0 = std::chrono::steady_clock::now();
            CHILD_CHECK(xFcgiPoll(1000) == host.r + 1, 3);
            auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - t0).count();
            const bool pauses = i == 1 || i == 4 || i == 7;
            CHILD_CHECK(pauses ? ms >= 900 : ms < 850, 10 + i);
            CHILD_CHECK(bSigTerm == (i == 8 ? 1 : 0), 20 + i);
        }
        xFcgiPoll(1000);
        _exit(9);
    }
    int st = waitChild(pid, 30);
    EXPECT_EQ(exitStatus(st), 0);
    std::string text = readFile(logPath);
    EXPECT_NE(text.find("WARNING 7: Input fd"), std::string::npos);
    EXPECT_EQ(text.find("WARNING 8"), std::string::npos);
    EXPECT_NE(text.find("but FastCGI not ready"), std::string::npos);
    EXPECT_NE(text.find("Exiting from Poll as requested"), std::string::npos);
}

TEST(LoopEnd, TerminateRequestEndsTheProcessBeforeAccept)
{
    TempDir dir;
    const std::string logPath = dir.file("term.log");
    pid_t pid = fork();
    if (pid == 0) {
        openLog(logPath);
        xFcgiFinish();   // idle, whatever the parent's state was
        xFcgiTerminate();
        CHILD_CHECK(bSigTerm == 1, 2);
        xFcgiAccept();
        _exit(3);
    }
    EXPECT_EQ(exitStatus(waitChild(pid)), 0);
    std::string text = readFile(logPath);
    EXPECT_NE(text.find("Process termination requested while idle"), std::string::npos);
    EXPECT_NE(text.find("Exiting before Accept as requested"), std::string::npos);
}

TEST(LoopEnd, SigtermWhileIdleInPollEndsAtOnce)
{
    TempDir dir;
    const std::string logPath = dir.file("idle.log");
    pid_t pid = fork();
    if (pid == 0) {
        FakeListenSocket listen;
        openLog(logPath);
        fakefcgi::acceptResult = 0;
        CHILD_CHECK(xFcgiAccept() == 1, 2);
        xFcgiPoll(20000);
        _exit(3);   // the wait must not time out
    }
    ASSERT_TRUE(waitBlocked(pid, logPath, "Waiting for poll 20 secs"));
    auto t0 = std::chrono::steady_clock::now();
    kill(pid, SIGTERM);
    int st = waitChild(pid);
    EXPECT_EQ(exitStatus(st), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
    std::string text = readFile(logPath);
    // The handler's line has the time prefix of every other line.
    EXPECT_TRUE(hasLogPrefix(text, "Got SIGTERM while idle\n", "Waiting for poll")) << text;
    EXPECT_EQ(text.find("Exiting"), std::string::npos);
}

TEST(LoopEnd, SighupWhileIdleInAcceptEndsAtOnce)
{
    TempDir dir;
    const std::string logPath = dir.file("accept.log");
    pid_t pid = fork();
    if (pid == 0) {
        openLog(logPath);
        fakefcgi::acceptResult = 0;
        CHILD_CHECK(xFcgiAccept() == 1, 2);
        CHILD_CHECK(xFcgiFinish() == 0 && bActive == 0, 3);
        logPrintf("#waiting in accept\n");
        fakefcgi::acceptBlocks = true;
        xFcgiAccept();
        _exit(4);
    }
    ASSERT_TRUE(waitBlocked(pid, logPath, "waiting in accept"));
    kill(pid, SIGHUP);
    EXPECT_EQ(exitStatus(waitChild(pid)), 0);
    EXPECT_TRUE(hasLogPrefix(readFile(logPath), "Got SIGHUP while idle\n", "waiting in accept")) << readFile(logPath);
}

TEST(LoopEnd, SigtermWhileActiveLetsTheRequestFinish)
{
    TempDir dir;
    const std::string logPath = dir.file("active.log");
    Pipe go;
    pid_t pid = fork();
    if (pid == 0) {
        FakeListenSocket listen;
        openLog(logPath);
        fakefcgi::acceptResult = 0;
        CHILD_CHECK(xFcgiAccept() == 1, 2);
        logPrintf("#serving the request\n");
        logForceFlush();
        // The request's own blocking read sees the signal (no restart) and
        // carries on.
        char c = 0;
        bool interrupted = false;
        for (;;) {
            ssize_t n = read(go.r, &c, 1);
            if (n == 1)
                break;
            CHILD_CHECK(n < 0 && errno == EINTR, 3);
            interrupted = true;
        }
        CHILD_CHECK(interrupted, 4);
        CHILD_CHECK(bSigTerm == 1 && bActive == 1, 5);
        logPrintf("#request done\n");
        xFcgiPoll(20000);   // finishes the request, then ends the process
        _exit(6);
    }
    ASSERT_TRUE(waitBlocked(pid, logPath, "serving the request"));
    kill(pid, SIGTERM);
    // The read must see the signal before the byte it waits for.
    EXPECT_TRUE(waitSignalTaken(pid, SIGTERM));
    (void)!write(go.w, "g", 1);
    EXPECT_EQ(exitStatus(waitChild(pid)), 0);
    std::string text = readFile(logPath);
    size_t done = text.find("request done");
    size_t finish = text.find("fake finish", done);
    size_t got = text.find("Got SIGTERM while active");
    size_t exiting = text.find("Exiting from Poll as requested");
    ASSERT_NE(done, std::string::npos);
    ASSERT_NE(finish, std::string::npos);
    ASSERT_NE(got, std::string::npos);
    ASSERT_NE(exiting, std::string::npos);
    EXPECT_LT(done, finish);
    EXPECT_LT(finish, exiting);
    EXPECT_LT(got, exiting);
    EXPECT_EQ(text.find("while idle"), std::string::npos);
}

} // namespace
