// The fatal-signal report, each case in a forked child that really crashes.
#include "goscore.h"
#include "logprint.h"

#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A real invalid write, hidden from the sanitizers so it reaches the kernel.
__attribute__((noinline, no_sanitize("address", "undefined"))) void crashHere(volatile int *p)
{
    *p = 42;
}

volatile uintptr_t s_badAddress = 16;

void crash() { crashHere(reinterpret_cast<volatile int *>(s_badAddress)); }

std::string readFile(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool exists(const std::string &path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

std::string selfPath()
{
    char buf[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, n) : std::string();
}

// Runs body in a child and returns its wait status.
template <class F> int inChild(F body)
{
    fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        body();
        _exit(99);  // the body was meant to crash
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

class CoreReportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Blanks and quotes in the paths must survive the shell commands.
        char tmpl[] = "/tmp/qor core 'dir' XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        program_ = dir_ + "/my prog";
        ASSERT_EQ(symlink(selfPath().c_str(), program_.c_str()), 0);
        log_ = dir_ + "/crash's.log";
    }
    void TearDown() override
    {
        std::string quoted;
        for (char c : dir_)
            quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        std::system(("rm -rf '" + quoted + "'").c_str());
    }
    std::string dir_, program_, log_;
};

TEST_F(CoreReportTest, SegfaultLeavesStackReportAndLogCopy)
{
    pid_t child = 0;
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const int status = inChild([&] {
        close(fds[0]);
        const pid_t self = getpid();
        if (write(fds[1], &self, sizeof self) != sizeof self)
            _exit(98);
        if (!logOpen(log_.c_str(), 0))
            _exit(97);
        gosCoreHandler(program_.c_str(), nullptr);
        gosCoreExtra(gosCoreCopyCommand(log_).c_str(), true);
        logPrintf("#before the crash\n");
        crash();
    });
    close(fds[1]);
    ASSERT_EQ(read(fds[0], &child, sizeof child), static_cast<ssize_t>(sizeof child));
    close(fds[0]);
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), SIGABRT);

    const std::string log = readFile(log_);
    EXPECT_NE(log.find("before the crash"), std::string::npos) << log;
    EXPECT_NE(log.find(program_ + ": signal 11 code"), std::string::npos) << log;
    EXPECT_NE(log.find("Abort adrs 0x"), std::string::npos) << log;
    const size_t at = log.find(" is at ");
    ASSERT_NE(at, std::string::npos) << log;
    EXPECT_NE(log.find("crashHere", at), std::string::npos) << log;
    EXPECT_NE(log.find("% in]"), std::string::npos) << log;
    EXPECT_NE(log.find("'backtrace' follows"), std::string::npos) << log;
    EXPECT_NE(log.find("Stack back trace follows"), std::string::npos) << log;
    EXPECT_NE(log.find(" 1)  "), std::string::npos) << log;
    EXPECT_NE(log.find("coredump_test.cpp:"), std::string::npos) << log;  // addr2line found the source
    EXPECT_NE(log.find("**************************************"), std::string::npos) << log;
    EXPECT_NE(log.find("Exec: cp '"), std::string::npos) << log;

    const std::string copy = log_ + std::to_string(child) + ".err";
    ASSERT_TRUE(exists(copy)) << copy << "\n" << log;
    EXPECT_NE(readFile(copy).find("Abort adrs"), std::string::npos);
}

void userHandler(int sig)
{
    const char *text = gosCoreDumpMsgs();
    FILE *f = fopen("report.txt", "w");
    if (f) {
        fputs(text, f);
        fclose(f);
    }
    _exit(40 + sig % 10);
}

TEST_F(CoreReportTest, WithoutLogReportGoesToStandardErrorAndUserHandlerRuns)
{
    const std::string err = dir_ + "/stderr.txt";
    unlink("report.txt");
    const int status = inChild([&] {
        const int fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, STDERR_FILENO);
        gosCoreHandler(program_.c_str(), userHandler);
        crash();
    });
    ASSERT_TRUE(WIFEXITED(status)) << "signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 41);  // SIGSEGV is 11

    const std::string text = readFile(err);
    EXPECT_NE(text.find(program_ + ": at "), std::string::npos) << text;
    EXPECT_NE(text.find("crashHere"), std::string::npos) << text;
    const std::string report = readFile("report.txt");
    EXPECT_NE(report.find(program_ + ": Core dump signal 11 code"), std::string::npos) << report;
    EXPECT_NE(report.find("Core signal 11 code"), std::string::npos) << report;
    unlink("report.txt");
}

TEST_F(CoreReportTest, AbortOutsideTheProgramIsReported)
{
    const int status = inChild([&] {
        if (!logOpen(log_.c_str(), 0))
            _exit(97);
        gosCoreHandler(program_.c_str(), nullptr);
        gosCoreExtra(nullptr, true);
        abort();
    });
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGABRT);
    const std::string log = readFile(log_);
    // The fault address lies in the C library, outside the program's symbols.
    EXPECT_NE(log.find(program_ + ": core signal 6 code"), std::string::npos) << log;
    EXPECT_NE(log.find("Stack back trace follows"), std::string::npos) << log;
    EXPECT_EQ(log.find("Exec:"), std::string::npos) << log;
}

TEST(CoreReport, UnknownOrOverlongProgramPath)
{
    const int status = inChild([] {
        gosCoreHandler(std::string(300, 'p').c_str(), nullptr);
        const bool longRefused = std::string(gosCoreBinary()) == "Binary: U n k n o w n";
        gosCoreHandler(nullptr, nullptr);
        const bool nullRefused = std::string(gosCoreBinary()) == "Binary: U n k n o w n";
        gosCoreHandler("/bin/true", nullptr);
        _exit(longRefused && nullRefused && std::string(gosCoreBinary()) == "/bin/true" ? 0 : 1);
    });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(CoreReport, CopyCommandQuotesTheLogName)
{
    EXPECT_EQ(gosCoreCopyCommand("/var/log/a b.log"), "cp '/var/log/a b.log' '/var/log/a b.log'$$.err");
}

} // namespace
