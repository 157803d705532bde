// Signal set-up, blocking, timers, SIGPIPE and the signal queue.
#include "catchsig.h"
#include "gossig.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <sys/wait.h>
#include <unistd.h>

namespace {

volatile sig_atomic_t s_hits = 0;
volatile sig_atomic_t s_usr2BlockedInHandler = -1;

void countingHandler(int) { s_hits = s_hits + 1; }

void maskProbe(int)
{
    sigset_t now;
    sigprocmask(SIG_BLOCK, nullptr, &now);
    s_usr2BlockedInHandler = sigismember(&now, SIGUSR2);
}

TEST(Signals, SetsigReturnsThePreviousHandler)
{
    EXPECT_EQ(qorsetsig(SIGUSR1, countingHandler), SIG_DFL);
    EXPECT_EQ(qorsetsig(SIGUSR1, SIG_IGN), countingHandler);
    EXPECT_EQ(qorsetsig(SIGUSR1, SIG_DFL), SIG_IGN);
    EXPECT_EQ(qorsetsig(-5, SIG_DFL), SIG_ERR);
}

TEST(Signals, HandlerMaskBlocksTheListedSignals)
{
    ASSERT_EQ(gosSigHandler(SIGUSR1, maskProbe, SIGUSR2, 0), 0);
    raise(SIGUSR1);
    EXPECT_EQ(s_usr2BlockedInHandler, 1);
    ASSERT_EQ(gosSigHandler(SIGUSR1, maskProbe), 0);
    raise(SIGUSR1);
    EXPECT_EQ(s_usr2BlockedInHandler, 0);
    // An invalid signal in the list installs nothing.
    qorsetsig(SIGUSR1, SIG_IGN);
    EXPECT_EQ(gosSigHandler(SIGUSR1, maskProbe, 999), -1);
    EXPECT_EQ(qorsetsig(SIGUSR1, SIG_DFL), SIG_IGN);
}

TEST(Signals, HoldDefersAndReleaseDelivers)
{
    s_hits = 0;
    qorsetsig(SIGUSR1, countingHandler);
    ASSERT_EQ(gosSigHold(SIGUSR1), 0);
    gosSigRaise(SIGUSR1);
    EXPECT_EQ(s_hits, 0);
    ASSERT_EQ(gosSigRelse(SIGUSR1), 0);
    EXPECT_EQ(s_hits, 1);
    gosHoldSigs(SIGUSR1, SIGUSR2, 0);
    gosSigRaise(SIGUSR1);
    EXPECT_EQ(s_hits, 1);
    gosRelseSigs(SIGUSR2, SIGUSR1);
    EXPECT_EQ(s_hits, 2);
    qorsetsig(SIGUSR1, SIG_DFL);
}

TEST(Signals, BlockingCallsAreInterruptedNotRestarted)
{
    s_hits = 0;
    ASSERT_EQ(gosSigHandler(SIGALRM, countingHandler), 0);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(alarmMs(50), 50);
    char c;
    // alarmMs's own one-shot handler interrupts the read.
    EXPECT_EQ(read(fds[0], &c, 1), -1);
    EXPECT_EQ(errno, EINTR);
    // ... and has put the previous handler back.
    EXPECT_EQ(qorsetsig(SIGALRM, SIG_DFL), countingHandler);
    EXPECT_EQ(s_hits, 0);
    close(fds[0]);
    close(fds[1]);
}

TEST(Signals, SleepMs)
{
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(sleepMs(60), 60);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(ms, 55);
    EXPECT_LT(ms, 2000);
    EXPECT_EQ(alarmMs(0), -1);
    EXPECT_EQ(sleepMs(-1), -1);
}

TEST(Signals, IgnoredSigPipeGivesEpipe)
{
    // In a child, so the test program's own disposition is untouched.
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        qorIgnoreSigPipe();
        int fds[2];
        if (pipe(fds) != 0)
            _exit(2);
        close(fds[0]);
        const ssize_t n = write(fds[1], "x", 1);
        _exit(n == -1 && errno == EPIPE ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(SignalQueue, QueuesInOrderAndKeepsTheNewestEight)
{
    const int sigs[] = {SIGUSR1, SIGUSR2, 0};
    ASSERT_EQ(qorcatchsigs(sigs), 0);
    EXPECT_EQ(waitsig(false), 0);
    raise(SIGUSR1);
    raise(SIGUSR2);
    EXPECT_EQ(waitsig(false), SIGUSR1);
    EXPECT_EQ(waitsig(false), SIGUSR2);
    EXPECT_EQ(waitsig(false), 0);
    raise(SIGUSR2);
    for (int i = 0; i < 8; ++i)
        raise(SIGUSR1);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(waitsig(false), SIGUSR1);  // the oldest (SIGUSR2) was lost
    EXPECT_EQ(waitsig(false), 0);
    qorsetsig(SIGUSR1, SIG_DFL);
    qorsetsig(SIGUSR2, SIG_DFL);
}

TEST(SignalQueue, WaitSleepsUntilASignal)
{
    const int sigs[] = {SIGUSR1, 0};
    qorcatchsigs(sigs);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        usleep(50 * 1000);
        kill(parent, SIGUSR1);
        _exit(0);
    }
    EXPECT_EQ(waitsig(true), SIGUSR1);
    waitpid(pid, nullptr, 0);
    qorsetsig(SIGUSR1, SIG_DFL);
}

TEST(SignalQueue, ResetAlarmDropsThePendingAlarm)
{
    setAlarm(100);  // far away; the alarm is simulated
    raise(SIGALRM);
    EXPECT_EQ(gotSigAlarm, 1);
    const int sigs[] = {SIGUSR1, 0};
    qorcatchsigs(sigs);
    raise(SIGUSR1);
    resetAlarm();
    EXPECT_EQ(gotSigAlarm, 0);
    EXPECT_EQ(waitsig(false), SIGUSR1);
    EXPECT_EQ(waitsig(false), 0);
    qorsetsig(SIGALRM, SIG_DFL);
    qorsetsig(SIGUSR1, SIG_DFL);
}

TEST(SignalQueue, PidAliveReapsChildren)
{
    EXPECT_EQ(pidAlive(getpid()), 1);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0)
        _exit(3);
    // Until reaped, the child is a zombie that kill(pid, 0) still finds.
    for (int i = 0; i < 200 && pidAlive(pid); ++i)
        usleep(10 * 1000);
    EXPECT_EQ(pidAlive(pid), 0);
    EXPECT_EQ(lastChildPid, pid);
    EXPECT_TRUE(WIFEXITED(lastChildStatus));
    EXPECT_EQ(WEXITSTATUS(lastChildStatus), 3);
}

} // namespace
