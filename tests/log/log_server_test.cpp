// The shared log server: its files, records, clients, wrapping, ending by
// itself, and several processes writing one log at once.
#include "log_test_util.h"
#include "logprint.h"
#include "logserver.h"
#include "logstate.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <map>
#include <regex>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>

using namespace logtest;

namespace {

// Collects what the splitter hands on.
struct Recorder : LogRecordSplitter::Handler {
    std::string out;
    void text(const char *p, size_t n) override { out.append(p, n); }
    void open(pid_t pid) override { out += "<open " + std::to_string(pid) + ">"; }
    void close(pid_t pid) override { out += "<close " + std::to_string(pid) + ">"; }
    void cycle() override { out += "<cycle>"; }
};

std::string record(const std::string &body)
{
    std::string r = fifoMark + body;
    r += '\0';
    return r;
}

pid_t pidIn(const std::string &path)
{
    std::string s = readFile(path);
    return s.empty() ? 0 : static_cast<pid_t>(std::stol(s));
}

// Ended: no such process, or a zombie that nobody has reaped yet (the
// server is not our child).
bool gone(pid_t pid)
{
    if (kill(pid, 0) != 0 && errno == ESRCH)
        return true;
    std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    size_t paren = stat.rfind(')');
    return paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] == 'Z';
}

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        logResetState();
        logServerSetTiming(3000, 20);
        log = dir / "s.log";
        pidFile = dir / ".pid.s.log";
        fifo = dir / ".fifo.s.log";
    }
    void TearDown() override
    {
        logClose();
        logResetState();
        signal(SIGCHLD, SIG_DFL);
        // Servers of this test end by themselves once no client is left.
        EXPECT_TRUE(waitFor([&] { return !exists(pidFile); }, 10000));
    }
    // Opens the shared log in this process; SIGCHLD back to the default so
    // the test can wait for its own children.
    FILE *openShared(const char *opts = "P")
    {
        logOptions(opts);
        FILE *f = logOpen(log.c_str(), 0);
        signal(SIGCHLD, SIG_DFL);
        return f;
    }
    // Waits for the server to end and returns the log.
    std::string finalLog()
    {
        EXPECT_TRUE(waitFor([&] { return !exists(pidFile); }, 10000));
        EXPECT_TRUE(waitFor([&] { return readFile(log).find(" closing ") != std::string::npos; }));
        return readFile(log);
    }
    TempDir dir;
    std::string log, pidFile, fifo;
};

} // namespace

// ------------------------------------------------------------ records

TEST(LogRecords, TextAroundARecordIsJoined)
{
    Recorder r;
    LogRecordSplitter s(r);
    std::string chunk = "abc" + record("OPEN 4711 ") + "def";
    s.feed(chunk.data(), chunk.size());
    s.flush();
    EXPECT_EQ(r.out, "abc<open 4711>def");
}

TEST(LogRecords, RecordsSplitAtAnyByteAreReassembled)
{
    std::string stream = "line one\n" + record("OPEN 12 ") + "two\n" + record("CLOSE12 ") +
                         record("CYCLE") + "#@$ not a mark\n";
    for (size_t cut = 0; cut <= stream.size(); ++cut) {
        Recorder r;
        LogRecordSplitter s(r);
        s.feed(stream.data(), cut);
        s.feed(stream.data() + cut, stream.size() - cut);
        s.flush();
        EXPECT_EQ(r.out, "line one\n<open 12>two\n<close 12><cycle>#@$ not a mark\n") << cut;
    }
}

TEST(LogRecords, MarksThatAreNoRecordsStayText)
{
    Recorder r;
    LogRecordSplitter s(r);
    std::string noNul = std::string(fifoMark) + std::string(100, 'z');
    s.feed(noNul.data(), noNul.size());
    std::string bad = record("OPEN -5 ") + record("OPEN x ") + record("BOGUS") + "end";
    s.feed(bad.data(), bad.size());
    s.flush();
    EXPECT_EQ(r.out, noNul + "end");
    EXPECT_EQ(s.pending(), 0u);
}

TEST(LogRecords, HeldBackTailIsReleasedAtFlush)
{
    Recorder r;
    LogRecordSplitter s(r);
    s.feed("abc#@$FI", 8);
    EXPECT_EQ(r.out, "abc");
    s.flush();
    EXPECT_EQ(r.out, "abc#@$FI");
}

TEST(LogRecords, FileNamesBesideTheLog)
{
    EXPECT_EQ(logServerFile("/usr/local/qoric/logs/qoric.log", "", "pid"),
              "/usr/local/qoric/logs/.pid.qoric.log");
    EXPECT_EQ(logServerFile("x.log", "", "fifo"), ".fifo.x.log");
    EXPECT_EQ(logServerFile("/a/x.log", "/srv/logs", "fifo"), "/srv/logs/.fifo");
}

// ------------------------------------------------------------ server

TEST_F(ServerTest, OneClientOpensWritesAndCloses)
{
    ASSERT_NE(openShared(), nullptr);
    EXPECT_TRUE(logCtrlFlgs & 0x40000);
    EXPECT_TRUE(logState.serverStarter);
    pid_t server = pidIn(pidFile);
    ASSERT_GT(server, 0);
    EXPECT_FALSE(gone(server));
    struct stat st{};
    ASSERT_EQ(stat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    // Owner and group only: other local users can neither forge records
    // nor take the FIFO or the pid file over.
    EXPECT_EQ(st.st_mode & 0777, 0660u);
    ASSERT_EQ(stat(pidFile.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0660u);
    ASSERT_TRUE(waitFor([&] { return exists(log); }));
    ASSERT_EQ(stat(log.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    EXPECT_EQ(logPrintf("#hello %d\n", 1), 1);
    logPrintf("~tilde\n");
    logClose();
    std::string text = finalLog();
    EXPECT_FALSE(exists(fifo));
    EXPECT_TRUE(waitFor([&] { return gone(server); }));

    std::string me = std::to_string(getpid()), srv = std::to_string(server);
    EXPECT_NE(text.find("...... Log Server process P" + srv + "  "), std::string::npos) << text;
    EXPECT_NE(text.find("Max log 30M\n"), std::string::npos);
    const std::string srvLine = "...... Log Server process P" + srv;
    EXPECT_NE(text.find(srvLine + ", P" + me + " open, now 1 clients\n"),
              std::string::npos);
    EXPECT_NE(text.find(":P" + me + ":"), std::string::npos);
    EXPECT_NE(text.find("hello 1\n"), std::string::npos);
    EXPECT_NE(text.find(srvLine + ", P" + me + " close, now 0 clients\n"),
              std::string::npos);
    // Short "no clients" lines on idle passes 0, 3 and 6; it stops at the 8th.
    EXPECT_EQ(countOf(text, ", no clients "), 3u) << text;
    EXPECT_NE(text.find("...... Log Server process P" + srv + " closing "), std::string::npos);
    // A size limit is set: every line starts with a blank (no wrap yet).
    for (const std::string &l : lines(text))
        EXPECT_TRUE(l.empty() || l[0] == ' ') << l;
}

TEST_F(ServerTest, SecondClientFindsTheRunningServer)
{
    ASSERT_NE(openShared(), nullptr);
    pid_t server = pidIn(pidFile);
    pid_t child = fork();
    if (child == 0) {
        logResetState();
        logOptions("P");
        bool ok = logOpen(log.c_str(), 0) != nullptr && !logState.serverStarter;
        logPrintf("#from the second client\n");
        logClose();
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(pidIn(pidFile), server);
    logClose();
    std::string text = finalLog();
    EXPECT_EQ(countOf(text, "Log Server process P" + std::to_string(server) + "  "), 1u);
    EXPECT_NE(text.find("P" + std::to_string(child) + " open, now 2 clients"), std::string::npos);
    EXPECT_NE(text.find("from the second client"), std::string::npos);
}

TEST_F(ServerTest, ForkedChildAnnouncesItself)
{
    ASSERT_NE(openShared(), nullptr);
    pid_t child = fork();
    if (child == 0) {
        logReOpen();
        logPrintf("#child line\n");
        logClose();
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    logClose();
    std::string text = finalLog();
    std::string c = std::to_string(child);
    EXPECT_NE(text.find("P" + c + " open, now 2 clients"), std::string::npos) << text;
    EXPECT_NE(text.find(":P" + c + ":"), std::string::npos);
    EXPECT_NE(text.find("child line"), std::string::npos);
    EXPECT_NE(text.find("P" + c + " close, now 1 clients"), std::string::npos);
}

TEST_F(ServerTest, CycleRecordFromTheStarter)
{
    ASSERT_NE(openShared(), nullptr);
    logPrintf("#before\n");
    logCyclePoint();
    logPrintf("#after\n");
    logClose();
    std::string text = finalLog();
    std::regex cycleLine(R"(\n \.+\d\d:\d\d:\d\d  Log cycle 0 on [A-Z][a-z]{2} \d+, \d{4})"
                         R"(; Max Log 30M\n)");
    EXPECT_TRUE(std::regex_search(text, cycleLine))
        << text;
}

TEST_F(ServerTest, RecordsSplitAcrossWritesAreRecognised)
{
    ASSERT_NE(openShared(), nullptr);
    int fd = open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    std::string other = std::to_string(getppid());
    std::string open = record("OPEN " + other + " ");
    ASSERT_TRUE(logFifoWrite(fd, open.data(), 6));
    // The server has read the first part on its own.
    EXPECT_TRUE(waitFor([fd] { int n = -1; return ioctl(fd, FIONREAD, &n) == 0 && n == 0; }, 30000));
    ASSERT_TRUE(logFifoWrite(fd, open.data() + 6, open.size() - 6));
    std::string close = record("CLOSE" + other + " ");
    ASSERT_TRUE(logFifoWrite(fd, close.data(), close.size()));
    ::close(fd);
    logClose();
    std::string text = finalLog();
    EXPECT_NE(text.find(", P" + other + " open, now 2 clients"), std::string::npos) << text;
    EXPECT_NE(text.find(", P" + other + " close, now 1 clients"), std::string::npos);
    EXPECT_EQ(text.find("FIFO-LOG"), std::string::npos);
}

// The records of a chunk act first; the text around them is written after
// their lines, joined.
TEST_F(ServerTest, ChunkTextIsWrittenAfterItsRecordsJoined)
{
    ASSERT_NE(openShared(), nullptr);
    int fd = open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    std::string other = std::to_string(getppid());
    std::string chunk = "abc" + record("OPEN " + other + " ") + "def\n";
    ASSERT_TRUE(logFifoWrite(fd, chunk.data(), chunk.size()));
    EXPECT_TRUE(waitFor([&] { return readFile(log).find("abcdef") != std::string::npos; }));
    // A line cut by a read is completed before the lines of the records
    // that follow it in the next chunk.
    ASSERT_TRUE(logFifoWrite(fd, "first half", 10));
    EXPECT_TRUE(waitFor([&] { return readFile(log).find("first half") != std::string::npos; }));
    std::string rest = " second half\n" + record("CLOSE" + other + " ") + "next\n";
    ASSERT_TRUE(logFifoWrite(fd, rest.data(), rest.size()));
    EXPECT_TRUE(waitFor([&] { return readFile(log).find("next") != std::string::npos; }));
    std::string opening = record("OPEN " + other + " ");
    ASSERT_TRUE(logFifoWrite(fd, opening.data(), opening.size()));
    std::string closing = record("CLOSE" + other + " ");
    ASSERT_TRUE(logFifoWrite(fd, closing.data(), closing.size()));
    ::close(fd);
    logClose();
    std::string text = finalLog();
    EXPECT_NE(text.find(", P" + other + " open, now 2 clients\n abcdef\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find(" first half second half\n"), std::string::npos) << text;
    EXPECT_NE(text.find(", P" + other + " close, now 1 clients\n next\n"), std::string::npos)
        << text;
}

// A live client that holds no descriptor of the FIFO: the server meets end
// of file at every read and must pause instead of spinning.
TEST_F(ServerTest, EndOfFileWithLiveClientDoesNotSpin)
{
    ASSERT_NE(openShared(), nullptr);
    pid_t server = pidIn(pidFile);
    std::string other = std::to_string(getppid());
    int fd = open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    std::string opening = record("OPEN " + other + " ");
    ASSERT_TRUE(logFifoWrite(fd, opening.data(), opening.size()));
    ::close(fd);
    logClose();
    auto cpuTicks = [&] {
        std::string st = readFile("/proc/" + std::to_string(server) + "/stat");
        std::istringstream in(st.substr(st.rfind(')') + 2));
        std::string field;
        long ticks = 0;
        for (int i = 3; i <= 15 && in >> field; ++i)
            if (i >= 14)
                ticks += std::stol(field); // utime and stime
        return ticks;
    };
    long before = cpuTicks();
    usleep(600000);
    EXPECT_LT(cpuTicks() - before, 15) << "the server spins on end of file";
    fd = open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    std::string closing = record("CLOSE" + other + " ");
    ASSERT_TRUE(logFifoWrite(fd, closing.data(), closing.size()));
    ::close(fd);
    std::string text = finalLog();
    EXPECT_NE(text.find(", P" + other + " close, now 0 clients"), std::string::npos) << text;
}

TEST_F(ServerTest, ServerWrapsAndKeepsItsHeading)
{
    // The option minimum is 32 KiB; a smaller limit shows the server's
    // arithmetic: it works with 1024 bytes less.
    logOptions("P");
    logState.logSize = 10000;
    ASSERT_NE(openShared(""), nullptr);
    std::string pad(70, '-');
    for (int i = 0; i < 400; ++i)
        logPrintf("#line %04d %s\n", i, pad.c_str());
    logClose();
    std::string text = finalLog();
    auto l = lines(text);
    ASSERT_FALSE(l.empty());
    EXPECT_NE(l[0].find("Log Server process P"), std::string::npos) << l[0];
    EXPECT_NE(l[0].find("Max log 9K"), std::string::npos) << l[0]; // 8976 bytes
    EXPECT_NE(text.find("Log Server:  log cycle "), std::string::npos);
    EXPECT_LT(text.size(), 8976u + 2 * 2560u + 1024u);
    EXPECT_TRUE(std::regex_search(text, std::regex("\n[AB][^\n]*line 0399")));
}

TEST_F(ServerTest, PathThatIsNoFifoFallsBackToTheFile)
{
    { std::ofstream(fifo) << "plain file"; }
    testing::internal::CaptureStderr();
    FILE *f = openShared();
    std::string err = testing::internal::GetCapturedStderr();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(err, "logprint: ERROR " + fifo + " is not FIFO\n");
    EXPECT_FALSE(logState.saveCtrl & 0x40000);
    logPrintf("#direct\n");
    logClose();
    EXPECT_NE(readFile(log).find("direct\n"), std::string::npos);
    unlink(pidFile.c_str()); // the lock file left by the attempt
}

// A FIFO put at the log: the server takes no such log and ends, leaving
// nothing behind; the client's next line finds it gone and the process goes
// on without a log, starting no other server.
TEST_F(ServerTest, LogThatIsNoRegularFileEndsTheServer)
{
    ASSERT_EQ(mkfifo(log.c_str(), 0600), 0);
    ASSERT_NE(openShared(), nullptr);
    // 0 when the server has ended, removing its pid file, already.
    pid_t server = pidIn(pidFile);
    ASSERT_TRUE(waitFor([&] { return server ? gone(server) : !exists(pidFile); }));
    EXPECT_FALSE(exists(pidFile));
    EXPECT_FALSE(exists(fifo));
    // Until its last moment the server still holds the FIFO open.
    EXPECT_TRUE(waitFor([&] { return logPrintf("#nowhere to go\n") == 0; }));
    EXPECT_EQ(logPrintf("#nor this\n"), 0);
    EXPECT_FALSE(exists(pidFile));
    unlink(log.c_str());
}

TEST_F(ServerTest, LostServerIsReplaced)
{
    ASSERT_NE(openShared(), nullptr);
    pid_t server = pidIn(pidFile);
    ASSERT_EQ(kill(server, SIGKILL), 0);
    ASSERT_TRUE(waitFor([&] { return gone(server); }));
    // The write meets a FIFO without reader: EPIPE (no SIGPIPE death), a new
    // server, and the line is sent again.
    EXPECT_EQ(logPrintf("#after the loss\n"), 1);
    signal(SIGCHLD, SIG_DFL);
    pid_t second = pidIn(pidFile);
    EXPECT_NE(second, server);
    logClose();
    std::string text = finalLog();
    EXPECT_NE(text.find("after the loss"), std::string::npos) << text;
}

// Stopped with SIGTERM (a web server ending its process group) while a
// client still writes: what the client wrote is in the file, then the
// closing line, and the pid file and FIFO are gone.
TEST_F(ServerTest, SigtermWritesWhatItHoldsAndItsClosingLine)
{
    ASSERT_NE(openShared(), nullptr);
    pid_t server = pidIn(pidFile);
    ASSERT_GT(server, 0);
    EXPECT_EQ(logPrintf("#before the end\n"), 1);
    ASSERT_EQ(kill(server, SIGTERM), 0);
    ASSERT_TRUE(waitFor([&] { return gone(server); }, 30000));
    EXPECT_FALSE(exists(pidFile));
    EXPECT_FALSE(exists(fifo));
    const std::string text = readFile(log);
    const std::string srvLine = "...... Log Server process P" + std::to_string(server);
    const size_t written = text.find("before the end\n");
    const size_t term = text.find(srvLine + " got SIGTERM\n");
    const size_t closing = text.find(srvLine + " closing ");
    EXPECT_NE(written, std::string::npos) << text;
    EXPECT_NE(term, std::string::npos) << text;
    EXPECT_NE(closing, std::string::npos) << text;
    EXPECT_LT(written, term);
    EXPECT_LT(term, closing);
    // The client's next line meets no reader and starts a new server.
    EXPECT_EQ(logPrintf("#after the end\n"), 1);
    signal(SIGCHLD, SIG_DFL);
    EXPECT_NE(pidIn(pidFile), server);
    logClose();
    EXPECT_NE(finalLog().find("after the end"), std::string::npos);
}

TEST_F(ServerTest, SimultaneousStartsMakeOneServer)
{
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    std::vector<pid_t> kids;
    for (int k = 0; k < 6; ++k) {
        pid_t c = fork();
        if (c == 0) {
            close(go[1]);
            char b;
            if (read(go[0], &b, 1) < 0)
                _exit(3);
            logOptions("P");
            if (!logOpen(log.c_str(), 0))
                _exit(1);
            logPrintf("#starter %d\n", k);
            logClose();
            _exit(0);
        }
        kids.push_back(c);
    }
    close(go[0]);
    close(go[1]); // all start at once
    for (pid_t c : kids) {
        int status = 0;
        ASSERT_EQ(waitpid(c, &status, 0), c);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::string text = finalLog();
    std::smatch m;
    size_t heads = 0;
    for (const std::string &l : lines(text))
        heads += std::regex_search(l, m, std::regex(R"(Log Server process P\d+ +[A-Z][a-z]{2} )"));
    EXPECT_EQ(heads, 1u) << text;
    for (int k = 0; k < 6; ++k)
        EXPECT_NE(text.find("starter " + std::to_string(k) + "\n"), std::string::npos) << k;
}

TEST_F(ServerTest, OpeningAgainSendsCloseThenOpen)
{
    ASSERT_NE(openShared(), nullptr);
    ASSERT_NE(logOpen(log.c_str(), 0), nullptr);
    ASSERT_NE(logOpen(log.c_str(), 0), nullptr);
    logPrintf("#still here\n");
    logClose();
    std::string text = finalLog();
    std::string me = std::to_string(getpid());
    EXPECT_EQ(countOf(text, "P" + me + " open, now 1 clients"), 3u) << text;
    EXPECT_EQ(countOf(text, "P" + me + " close, now 0 clients"), 3u);
    EXPECT_NE(text.find("still here"), std::string::npos);
}

TEST_F(ServerTest, ServerKeepsOldCopies)
{
    { std::ofstream(log) << "previous run\n"; }
    ASSERT_NE(openShared("PK"), nullptr);
    logClose();
    std::string text = finalLog();
    EXPECT_NE(text.find(" KEEP "), std::string::npos);
    EXPECT_EQ(readFile(log + ".1.log"), "previous run\n");
}

TEST_F(ServerTest, LogServerDirectoryFromTheEnvironment)
{
    TempDir special;
    pid_t child = fork();
    if (child == 0) {
        // logSpecial exports LOGPRINTSPECIAL; a process that finds it set
        // writes through the server of that directory as well.
        logSpecial(special.path.c_str());
        const char *env = getenv("LOGPRINTSPECIAL");
        bool ok = env && special.path == env && logOpen(log.c_str(), 0) != nullptr &&
                  exists(special / ".pid") && exists(special / ".fifo");
        signal(SIGCHLD, SIG_DFL);
        pid_t grandchild = fork();
        if (grandchild == 0) {
            logResetState();
            bool in = logOpen(log.c_str(), 0) != nullptr && (logCtrlFlgs & 0x40000);
            logPrintf("#second process\n");
            logClose();
            _exit(in ? 0 : 1);
        }
        int st = 0;
        ok = ok && waitpid(grandchild, &st, 0) == grandchild && WIFEXITED(st) &&
             WEXITSTATUS(st) == 0;
        logClose();
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(waitFor([&] { return !exists(special / ".pid"); }, 10000));
    EXPECT_FALSE(exists(special / ".fifo"));
    std::string text = readFile(log);
    EXPECT_NE(text.find("...... Log special: " + special.path + ";"), std::string::npos) << text;
    EXPECT_NE(text.find("second process"), std::string::npos);
}

// Several processes write one log at once: every line arrives once, whole.
TEST_F(ServerTest, ManyWritersLoseSplitOrInterleaveNothing)
{
    ASSERT_NE(openShared(), nullptr);
    const int kWriters = 8, kLines = 400;
    std::vector<pid_t> kids;
    for (int w = 0; w < kWriters; ++w) {
        pid_t c = fork();
        if (c == 0) {
            if (w % 2) { // a fresh client
                logResetState();
                logOptions("P");
                if (!logOpen(log.c_str(), 0))
                    _exit(1);
                if (w % 4 == 1)
                    logOptions("F"); // whole lines all the same
            } else { // a forked child of the starter
                logReOpen();
            }
            std::string body(40 + 13 * w, static_cast<char>('a' + w));
            for (int i = 0; i < kLines; ++i)
                if (logPrintf("#W%d L%04d %s END\n", w, i, body.c_str()) != 1)
                    _exit(2);
            logClose();
            _exit(0);
        }
        kids.push_back(c);
    }
    for (pid_t c : kids) {
        int status = 0;
        ASSERT_EQ(waitpid(c, &status, 0), c);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    logClose();
    std::string text = finalLog();
    std::map<std::string, int> seen;
    std::regex line(R"(^ :P\d+: +\d\d/\d\d \d\d:\d\d (W(\d) L\d{4}) ([a-h]+) END$)");
    size_t count = 0;
    for (const std::string &l : lines(text)) {
        if (l.find(" L") == std::string::npos || l.find("Log Server") != std::string::npos)
            continue;
        std::smatch m;
        ASSERT_TRUE(std::regex_match(l, m, line)) << "broken line: " << l;
        int w = std::stoi(m[2]);
        EXPECT_EQ(m[3].str(), std::string(40 + 13 * w, static_cast<char>('a' + w))) << l;
        ++seen[m[1]];
        ++count;
    }
    EXPECT_EQ(count, static_cast<size_t>(kWriters * kLines));
    EXPECT_EQ(seen.size(), static_cast<size_t>(kWriters * kLines));
}
