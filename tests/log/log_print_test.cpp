// The process log written directly: options, prefixes, columns, wrapping,
// run-away, kept copies, names, error and console blocks, re-opening.
#include "log_test_util.h"
#include "logprint.h"
#include "logstate.h"
#include "searchpath.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <dirent.h>
#include <fcntl.h>
#include <regex>
#include <sys/wait.h>

using namespace logtest;

namespace {

class LogTest : public ::testing::Test {
protected:
    void SetUp() override { logResetState(); }
    void TearDown() override
    {
        logResetState();
        unsetenv("MAX_LOG_SIZE");
    }
    TempDir dir;
};

bool matches(const std::string &s, const char *re) { return std::regex_match(s, std::regex(re)); }

int openDescriptors()
{
    int n = 0;
    if (DIR *d = opendir("/proc/self/fd")) {
        while (readdir(d))
            ++n;
        closedir(d);
    }
    return n;
}

} // namespace

// ------------------------------------------------------------ options

TEST_F(LogTest, OptionLettersSetAndClearControlBits)
{
    struct Case {
        const char *opts;
        int set, clear;
    } cases[] = {
        {"c", 0x100, 0}, {"w", 0x2, 0}, {"d", 0x108, 0}, {"a", 0x50A, 0},
        {"s", 0x4, 0}, {"q", 0x800, 0}, {"S", 0x80000, 0}, {"r", 0x400, 0},
        {"Z", 0x20000, 0}, {"k", 0x1000, 0}, {"E", 0x10000, 0}, {"Ee", 0, 0x10000},
        {"!e", 0x10000, 0}, {"F", 0x80, 0}, {"FN", 0, 0x80}, {"Ft", 0x51A, 0x80},
        {"t!t", 0, 0x80D1A}, {"Th", 0x40, 0x8000}, {"hT", 0x8000, 0x40},
        {"A", 0x4000, 0}, {"f", 0x200, 0}, {"fn", 0, 0x200}, {"Fp", 0x40000, 0x80},
        {"cw!cw", 0, 0x102}, {"cw!c!w", 0x2, 0x100}, {"x?,;", 0, 0},
    };
    for (const Case &c : cases) {
        logResetState();
        logOptions(c.opts);
        EXPECT_EQ(logState.saveCtrl & c.set, c.set) << c.opts;
        EXPECT_EQ(logState.saveCtrl & c.clear, 0) << c.opts;
    }
}

TEST_F(LogTest, NegationLastsForOneCallOnly)
{
    logOptions("!t");
    logOptions("w");
    EXPECT_TRUE(logState.saveCtrl & 0x2);
}

TEST_F(LogTest, SizeOptions)
{
    struct Case {
        const char *opts;
        long long size;
    } cases[] = {
        {"20", 20LL << 20}, {"50", 50LL << 10}, {"500", 500LL << 10},
        {"1000", 32768},    {"64K", 65536},     {"3M", 3LL << 20},
        {"0", 32768},       {"99999999999999999999", 1LL << 30}, {"99999999999M", 1LL << 50},
    };
    for (const Case &c : cases) {
        logResetState();
        logOptions(c.opts);
        EXPECT_EQ(logState.logSize, c.size) << c.opts;
    }
}

TEST_F(LogTest, GatewayDefaultOptions)
{
    logOptions("h3MPK");
    EXPECT_TRUE(logState.saveCtrl & 0x40);
    EXPECT_TRUE(logState.saveCtrl & 0x40000);
    EXPECT_EQ(logState.logSize, 3LL << 20);
    EXPECT_TRUE(logState.bKeepOld);
    std::string tag = ":P" + std::to_string(getpid()) + ":";
    tag.resize(std::max<size_t>(tag.size(), 10), ' ');
    EXPECT_EQ(logState.tag, tag);
    // Padded with blanks to 10 characters, never more.
    EXPECT_EQ(logPidTag(12), ":P12:     ");
    EXPECT_EQ(logPidTag(123456), ":P123456: ");
    EXPECT_EQ(logPidTag(1234567), ":P1234567:");
}

TEST_F(LogTest, TagKeepCopiesNameAndTrace)
{
    logOptions("'abc'");
    EXPECT_EQ(logState.tag, "abc ");
    logOptions("'toolongtag'");
    EXPECT_EQ(logState.tag, "toolongt ");
    logOptions("'open");
    EXPECT_EQ(logState.tag, "open ");
    logOptions("''");
    EXPECT_EQ(logState.tag, " "); // an empty tag still has its blank
    logOptions("K=3");
    EXPECT_EQ(logState.keepCopies, 3);
    logOptions("K=0");
    EXPECT_EQ(logState.keepCopies, 32);

    logOptions(("o=" + dir.path + "/n$$.log,h").c_str());
    EXPECT_EQ(logState.logFname, dir.path + "/n" + std::to_string(getpid()) + ".log");
    EXPECT_TRUE(logState.saveCtrl & (0x2000 | 0x40));
    ASSERT_NE(logOpen((dir / "other.log").c_str(), 0), nullptr);
    EXPECT_STREQ(logGetFname(), logState.logFname.c_str());
    EXPECT_FALSE(exists(dir / "other.log"));

    logTimeInterval = 5;
    logOptions("FG");
    EXPECT_GE(logState.logSize, 524288000LL);
    EXPECT_EQ(logCtrlFlgs & 0x80, 0);
    EXPECT_EQ(logTimeInterval, 0);
}

TEST_F(LogTest, OptionsAfterOpenRefreshTheControlWord)
{
    ASSERT_NE(logOpen((dir / "x.log").c_str(), 0), nullptr);
    EXPECT_EQ(logCtrlFlgs & 0x1, 0x1);
    logOptions("d");
    EXPECT_EQ(logCtrlFlgs & 0x109, 0x109);
    logOptions("f"); // closes the log
    EXPECT_EQ(logGetFILE(), nullptr);
    EXPECT_EQ(logPrintf("#gone\n"), 0);
}

// ------------------------------------------------------------ prefixes

TEST_F(LogTest, StampFormats)
{
    struct Case {
        const char *opts;
        int timeSec;
        const char *re;
    } cases[] = {
        {"", 0, R"( \d\d/\d\d \d\d:\d\d hello)"},
        {"h", 0, R"( \d\d:\d\d:\d\d\.\d\d hello)"},
        {"T", 0, R"( \d\d:\d\d:\d\d hello)"},
        {"", 1, R"( \d\d:\d\d:\d\d\.\d\d hello)"},
        {"T'abc'", 0, R"( abc \d\d:\d\d:\d\d hello)"},
    };
    for (const Case &c : cases) {
        logResetState();
        logOptions(c.opts);
        logTimeSec = c.timeSec;
        std::string path = dir / "stamp.log";
        ASSERT_NE(logOpen(path.c_str(), 0), nullptr);
        EXPECT_EQ(logPrintf("#hello\n"), 1);
        logClose();
        auto l = lines(readFile(path));
        ASSERT_EQ(l.size(), 1u) << c.opts;
        EXPECT_TRUE(matches(l[0], c.re)) << c.opts << ": '" << l[0] << "'";
    }
}

TEST_F(LogTest, IntervalShowsTheTimeEveryNthPrefix)
{
    logOptions("'abc'");
    logTimeInterval = 3;
    std::string path = dir / "iv.log";
    ASSERT_NE(logOpen(path.c_str(), 0), nullptr);
    for (const char *m : {"#one\n", "#two\n", "#three\n", "#four\n"})
        logPrintf("%s", m);
    logClose();
    auto l = lines(readFile(path));
    // The prefix made at open showed the time; then two without it.
    ASSERT_EQ(l.size(), 4u);
    EXPECT_EQ(l[0], "abc  ...         one");
    EXPECT_EQ(l[1], "abc  ...         two");
    EXPECT_TRUE(matches(l[2], R"( abc \d\d/\d\d \d\d:\d\d three)")) << l[2];
    EXPECT_EQ(l[3], "abc  ...         four");
}

// A 12-character prefix ("ab HH:MM:SS ") with a hanging indent of 8.
class ColumnTest : public LogTest {
protected:
    void SetUp() override
    {
        LogTest::SetUp();
        logOptions("T'ab'");
        logState.logSize = 0;
        path = dir / "col.log";
        ASSERT_NE(logOpen(path.c_str(), 8), nullptr);
    }
    std::vector<std::string> result()
    {
        logClose();
        return lines(readFile(path));
    }
    std::string path;
};

TEST_F(ColumnTest, TabPadsTheLabelToTheColumn)
{
    logPrintf("#Label\tvalue %d\n", 7);
    logPrintf("#AVeryLongLabelIndeed\tx\n");
    auto l = result();
    ASSERT_EQ(l.size(), 2u);
    EXPECT_TRUE(matches(l[0], R"(ab \d\d:\d\d:\d\d Label   value 7)")) << l[0];
    EXPECT_EQ(l[1].substr(12), "AVeryLongLabelIndeed\tx");
}

TEST_F(ColumnTest, TildeLinesCarryTheTagWithoutTime)
{
    logPrintf("~note\n");
    logPrintf("~Key\tval\n");
    auto l = result();
    ASSERT_EQ(l.size(), 2u);
    EXPECT_EQ(l[0], "ab          note");
    EXPECT_EQ(l[1], "ab          Key     val");
}

TEST_F(ColumnTest, ContinuationLinesHangUnderTheColumn)
{
    logPrintf("#first\n");
    logPrintf("continued\n");
    logPrintf("#partial");
    logPrintf(" more\n");
    logPrintf("\nblank before\n");
    auto l = result();
    ASSERT_EQ(l.size(), 5u);
    EXPECT_EQ(l[1], std::string(20, ' ') + "continued");
    EXPECT_EQ(l[2].substr(12), "partial more");
    EXPECT_EQ(l[3], "");
    EXPECT_EQ(l[4], "blank before");
}

TEST_F(ColumnTest, HashMessageEndsAnOpenLineFirst)
{
    logPrintf("#open line");
    logPrintf("#next\n");
    auto l = result();
    ASSERT_EQ(l.size(), 2u);
    EXPECT_EQ(l[0].substr(12), "open line");
    EXPECT_EQ(l[1].substr(12), "next");
}

TEST_F(LogTest, LongMessagesAreCut)
{
    std::string path = dir / "long.log";
    ASSERT_NE(logOpen(path.c_str(), 0), nullptr);
    std::string big(5000, 'x');
    logPrintf("%s\n", big.c_str());
    logClose();
    std::string text = readFile(path);
    EXPECT_EQ(countOf(text, "x"), 2199u);
}

TEST_F(LogTest, SoftAssertionLogsAndCarriesOn)
{
    std::string path = dir / "assert.log";
    ASSERT_NE(logOpen(path.c_str(), 0), nullptr);
    int line = __LINE__ + 1;
    LOG_ASSERT(1 + 1 == 3);
    LOG_ASSERT(true);
    logClose();
    std::string text = readFile(path);
    // A continuation line: it hangs under the time prefix.
    EXPECT_EQ(text, std::string(13, ' ') + "log_print_test.cpp Line " + std::to_string(line) +
                        " Something asserted\n");
}

// ------------------------------------------------------------ size limits

TEST_F(LogTest, WrapsInPlaceWithCycleLetters)
{
    logOptions("T40K");
    std::string path = dir / "wrap.log";
    ASSERT_NE(logOpen(path.c_str(), 0), nullptr);
    std::string pad(80, '.');
    for (int i = 0; i < 2000; ++i)
        ASSERT_EQ(logPrintf("#line %05d %s\n", i, pad.c_str()), 1);
    int cycles = logState.cycle;
    logClose();
    EXPECT_GE(cycles, 2);
    std::string text = readFile(path);
    EXPECT_LT(text.size(), 40960u + 32768u + 4096u);
    EXPECT_NE(text.find("line 01999 "), std::string::npos); // the newest line survives
    // "#Log file cycle N on Mon d, yyyy; Max size 40K", prefixed by its cycle letter.
    std::smatch m;
    std::regex cycleLine(R"(\n([AB])\d\d:\d\d:\d\d Log file cycle (\d+) on )"
                         R"([A-Z][a-z][a-z] \d+, \d{4}; Max size 40K\n)");
    ASSERT_TRUE(std::regex_search(text, m, cycleLine));
    int cycle = std::stoi(m[2]);
    EXPECT_EQ(m[1], cycle % 2 ? "A" : "B");
    // Lines of the current cycle begin with its letter.
    EXPECT_NE(text.find(std::string("\n") + m[1].str() + ""), std::string::npos);
}

TEST_F(LogTest, CyclePointKeepsTheHeading)
{
    logOptions("T40K");
    std::string path = dir / "cp.log";
    ASSERT_NE(logOpen(path.c_str(), 0), nullptr);
    logPrintf("#HEADER\n");
    logOptions("C");
    std::string pad(80, '.');
    for (int i = 0; i < 2000; ++i)
        logPrintf("#line %05d %s\n", i, pad.c_str());
    logClose();
    std::string text = readFile(path);
    EXPECT_TRUE(matches(lines(text)[0], R"( \d\d:\d\d:\d\d HEADER)")) << lines(text)[0];
    EXPECT_NE(text.find("Log file cycle"), std::string::npos);
}

TEST_F(LogTest, CyclePointLineShowsTheLimitThenRaisesIt)
{
    logOptions("T");
    std::string path = dir / "cpl.log";
    ASSERT_NE(logOpen(path.c_str(), 0), nullptr);
    std::string pad(99, '.');
    for (int i = 0; i < 20; ++i)
        logPrintf("#%s\n", pad.c_str());
    logState.logSize = 1000; // below the wrap point to come
    logCyclePoint();
    EXPECT_EQ(logState.logSeekPoint, static_cast<long long>(20 * (1 + 9 + 99 + 1) + 1));
    EXPECT_EQ(logState.logSize, 3 * logState.logSeekPoint);
    logClose();
    std::string text = readFile(path);
    std::regex cycleLine(R"(\n\n \d\d:\d\d:\d\d Log file cycle 0 on [A-Z][a-z][a-z] \d+, )"
                         R"(\d{4}; Max log size 1K\n$)");
    EXPECT_TRUE(std::regex_search(text, cycleLine)) << text.substr(text.size() - 80);
}

TEST_F(LogTest, RunAwayClosesTheLog)
{
    putenv(const_cast<char *>("MAX_LOG_SIZE=1"));
    std::string path = dir / "run.log";
    ASSERT_NE(logOpen(path.c_str(), 0), nullptr);
    std::string pad(990, '.');
    int i = 0;
    while (i < 3000 && logPrintf("#%s\n", pad.c_str()) == 1)
        ++i;
    EXPECT_GT(i, 1000);
    EXPECT_LT(i, 1200);
    EXPECT_EQ(logGetFILE(), nullptr);
    EXPECT_EQ(logPrintf("#more\n"), 0);
    std::string text = readFile(path);
    const std::string tail = "\n\nERROR: Log file run away!!!\n\n";
    ASSERT_GT(text.size(), tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}

TEST_F(LogTest, AppendModeNeverRunsAwayOrWraps)
{
    putenv(const_cast<char *>("MAX_LOG_SIZE=1"));
    logOptions("A40K");
    std::string path = dir / "app.log";
    {
        std::ofstream(path) << "kept\n";
    }
    ASSERT_NE(logOpen(path.c_str(), 0), nullptr);
    std::string pad(990, '.');
    for (int i = 0; i < 1200; ++i)
        ASSERT_EQ(logPrintf("#%s\n", pad.c_str()), 1);
    EXPECT_EQ(logState.cycle, 0);
    logClose();
    std::string text = readFile(path);
    EXPECT_EQ(text.substr(0, 5), "kept\n");
    EXPECT_GT(text.size(), 1200u * 990u);
}

// ------------------------------------------------------------ names and files

TEST_F(LogTest, KeptCopiesRotateAtOpen)
{
    std::string path = dir / "k.log";
    {
        std::ofstream(path + ".5.log") << "stale";
    }
    logOptions("K=3");
    for (int gen = 1; gen <= 4; ++gen) {
        ASSERT_NE(logOpen(path.c_str(), 0), nullptr);
        logPrintf("gen%d\n", gen);
        logForceFlush();
    }
    logClose();
    EXPECT_NE(readFile(path).find("gen4"), std::string::npos);
    EXPECT_NE(readFile(path + ".1.log").find("gen3"), std::string::npos);
    EXPECT_NE(readFile(path + ".2.log").find("gen2"), std::string::npos);
    EXPECT_FALSE(exists(path + ".3.log"));
    EXPECT_FALSE(exists(path + ".5.log"));
}

TEST_F(LogTest, NameExpansion)
{
    std::string pid = std::to_string(getpid());
    logOptions("K");
    ASSERT_NE(logOpen((dir / "log$$").c_str(), 0), nullptr);
    EXPECT_EQ(std::string(logGetFname()), dir / ("log" + pid));
    ASSERT_NE(logOpen(nullptr, 0), nullptr); // again: still no copies with $$
    EXPECT_FALSE(exists(dir / ("log" + pid + ".1.log")));

    ASSERT_NE(logOpen((dir / "a$$$b").c_str(), 0), nullptr);
    EXPECT_EQ(std::string(logGetFname()), dir / ("a" + pid + "b"));
    ASSERT_NE(logOpen((dir / "d$D$.log").c_str(), 0), nullptr);
    EXPECT_TRUE(matches(logGetFname(), (dir.path + R"(/d\d{8}\.log)").c_str())) << logGetFname();
    ASSERT_NE(logOpen((dir / "t$T$.log").c_str(), 0), nullptr);
    EXPECT_TRUE(matches(logGetFname(), (dir.path + R"(/t\d{12}\.log)").c_str())) << logGetFname();
    // D in either case, T in upper case only.
    ASSERT_NE(logOpen((dir / "d$d$t$t$.log").c_str(), 0), nullptr);
    EXPECT_TRUE(matches(logGetFname(), (dir.path + R"(/d\d{8}t\$t\$\.log)").c_str()))
        << logGetFname();

    ASSERT_NE(logOpen("relative.log", 0), nullptr);
    char *cwd = getcwd(nullptr, 0);
    EXPECT_EQ(std::string(logGetFname()), std::string(cwd) + "/relative.log");
    free(cwd);
    logClose();
    unlink("relative.log");
}

TEST_F(LogTest, TildeBecomesHome)
{
    const char *old = getenv("HOME");
    std::string saved = old ? old : "";
    static std::string home;
    home = "HOME=" + dir.path;
    putenv(const_cast<char *>(home.c_str()));
    FILE *f = logOpen("~/h.log", 0);
    static std::string back;
    back = "HOME=" + saved;
    if (old)
        putenv(const_cast<char *>(back.c_str()));
    else
        unsetenv("HOME");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(std::string(logGetFname()), dir / "h.log");
}

TEST_F(LogTest, OpenFailureReportsAndLeavesNoLog)
{
    testing::internal::CaptureStderr();
    FILE *f = logOpen("/nonexistent-qor-dir/x.log", 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(f, nullptr);
    EXPECT_EQ(err, "ERROR 2: Opening /nonexistent-qor-dir/x.log; No such file or directory\n");
    EXPECT_EQ(logCtrlFlgs, 0);
    EXPECT_EQ(logPrintf("#x\n"), 0);
}

TEST_F(LogTest, NoFileOptionOpensNothing)
{
    logOptions("f");
    EXPECT_EQ(logOpen((dir / "f.log").c_str(), 0), nullptr);
    EXPECT_FALSE(exists(dir / "f.log"));
    logOptions("n");
    EXPECT_NE(logOpen((dir / "f.log").c_str(), 0), nullptr);
}

TEST_F(LogTest, OpeningAgainClosesTheOpenLog)
{
    std::string path = dir / "re.log";
    ASSERT_NE(logOpen(path.c_str(), 0), nullptr);
    int before = openDescriptors();
    for (int i = 0; i < 20; ++i)
        ASSERT_NE(logOpen(path.c_str(), 0), nullptr);
    EXPECT_EQ(openDescriptors(), before);
}

TEST_F(LogTest, CloseKeepsOnlyTheKeepBit)
{
    logOptions(("kdo=" + (dir / "c.log")).c_str());
    EXPECT_TRUE(logState.saveCtrl & 0x2000);
    ASSERT_NE(logOpen(nullptr, 0), nullptr);
    EXPECT_TRUE(exists(dir / "c.log"));
    logClose();
    EXPECT_EQ(logCtrlFlgs, 0x1000);
    EXPECT_EQ(logState.saveCtrl & 0x2000, 0);
}

TEST_F(LogTest, DescriptorOptionLogsOntoIt)
{
    std::string path = dir / "fd.log";
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    ASSERT_GE(fd, 0);
    logOptions(("#" + std::to_string(fd)).c_str());
    EXPECT_EQ(logPrintf("#via fd\n"), 1);
    EXPECT_NE(logOpen((dir / "ignored.log").c_str(), 0), nullptr);
    logClose();
    EXPECT_EQ(write(fd, "tail\n", 5), 5); // the caller's descriptor stays open
    close(fd);
    std::string text = readFile(path);
    EXPECT_NE(text.find("via fd\n"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 5), "tail\n");
    EXPECT_FALSE(exists(dir / "ignored.log"));
}

TEST_F(LogTest, CompressQuotesTheFileName)
{
    if (!searchPath("compress", nullptr))
        GTEST_SKIP() << "compress is not installed";
    std::string path = dir / "a b'c;touch pwned.log";
    logOptions("Z");
    ASSERT_NE(logOpen(path.c_str(), 0), nullptr);
    for (int i = 0; i < 200; ++i)
        logPrintf("#some text to compress %d\n", i);
    logClose();
    EXPECT_TRUE(exists(path + ".Z"));
    EXPECT_FALSE(exists(path));
    EXPECT_FALSE(exists("pwned"));
    EXPECT_FALSE(exists(dir / "pwned"));
}

// ------------------------------------------------------------ fork

TEST_F(LogTest, ReOpenInChildAppendsWithoutTruncatingOrCompressing)
{
    std::string path = dir / "fork.log";
    logOptions("TZ");
    ASSERT_NE(logOpen(path.c_str(), 0), nullptr);
    logPrintf("#parent before\n");
    pid_t pid = fork();
    if (pid == 0) {
        logReOpen();
        int rc = logGetFILE() && !(logCtrlFlgs & 0x20000) ? 0 : 1;
        logPrintf("#child\n");
        logClose();
        _exit(rc);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_FALSE(exists(path + ".Z"));
    std::string text = readFile(path);
    EXPECT_NE(text.find("parent before\n"), std::string::npos);
    EXPECT_NE(text.find("child\n"), std::string::npos);
    logOptions("!Z");
    logClose();
}

// ------------------------------------------------------------ error blocks

TEST_F(LogTest, ErrorBlockWithoutLogUsesErrorFiles)
{
    char *cwd = getcwd(nullptr, 0);
    ASSERT_EQ(chdir(dir.path.c_str()), 0);
    EXPECT_EQ(logError("bad %d", 7), 1);
    EXPECT_EQ(logGetFILE(), nullptr);
    std::string text = readFile("log.ERRORS");
    EXPECT_NE(text.find("ERROR Message:\n"), std::string::npos) << text;
    EXPECT_NE(text.find("bad 7"), std::string::npos);

    ASSERT_EQ(mkdir("log", 0755), 0);
    logError("second");
    EXPECT_NE(readFile("log/ERRORS").find("second"), std::string::npos);

    static const unsigned char bytes[] = {0, 1, 2, 3};
    logDumpError("#raw", bytes, 4);
    EXPECT_NE(readFile("log/ERRORS").find("ERROR DUMP:"), std::string::npos);
    EXPECT_NE(readFile("log/ERRORS").find(" 000000 : 00010203"), std::string::npos);
    EXPECT_EQ(chdir(cwd), 0);
    free(cwd);
}

TEST_F(LogTest, ErrorBlockGoesIntoTheOpenLog)
{
    std::string path = dir / "e.log";
    ASSERT_NE(logOpen(path.c_str(), 0), nullptr);
    logError("oops %s", "here");
    logClose();
    std::string text = readFile(path);
    EXPECT_NE(text.find("ERROR Message:\n"), std::string::npos);
    EXPECT_NE(text.find("oops here"), std::string::npos);
}

TEST_F(LogTest, ConsoleBlockLeavesTheProcessLogOpen)
{
    ASSERT_EQ(mkdir((dir / "log").c_str(), 0755), 0);
    std::string path = dir / "p.log";
    ASSERT_NE(logOpen(path.c_str(), 0), nullptr);
    EXPECT_EQ(logConsole(dir.path.c_str(), "console %d", 5), 1);
    EXPECT_EQ(logConsole(nullptr, "x"), 0);
    EXPECT_EQ(logPrintf("#after\n"), 1);
    logClose();
    std::string console = readFile(dir / "log/CONSOLE");
    EXPECT_NE(console.find("*** QOR/ix Console Message ***\n"), std::string::npos);
    EXPECT_NE(console.find("console 5"), std::string::npos);
    EXPECT_NE(readFile(path).find("after"), std::string::npos);
    EXPECT_EQ(readFile(path).find("console"), std::string::npos);
}

TEST_F(LogTest, SideCopyThroughTheShell)
{
    std::string path = dir / "s b.log";
    ASSERT_NE(logOpen(path.c_str(), 0), nullptr);
    logPrintf("#saved\n");
    logSaveFile(1, "bak");
    EXPECT_NE(readFile(path + ".bak").find("saved"), std::string::npos);
}
