// The signal queue of the host message layer. The handler only records
// (it is async-signal-safe); the log lines about queued signals are written
// by waitsig in normal context, when the signal is taken from the queue.
#include "catchsig.h"

#include "logprint.h"

#include <cerrno>
#include <sys/wait.h>
#include <unistd.h>

volatile sig_atomic_t gotSigHup = 0;
volatile sig_atomic_t gotSigAlarm = 0;
volatile sig_atomic_t lastChildStatus = 0;
volatile sig_atomic_t lastChildPid = 0;

namespace {

constexpr int kRingSize = 8;
constexpr int kReapRetries = 100;

// Written by the handler, read with all signals blocked.
volatile sig_atomic_t s_ring[kRingSize];
volatile sig_atomic_t s_head = 0;   // index of the oldest entry
volatile sig_atomic_t s_count = 0;  // entries queued

void reapChildren()
{
    int status = 0;
    pid_t pid;
    while ((pid = waitpid(-1, &status, WNOHANG)) > 0) {
        lastChildPid = pid;
        lastChildStatus = status;
    }
}

// Takes the next signal from the ring; 0 when empty. Signals are blocked
// by the caller.
int dequeue()
{
    if (s_count == 0)
        return 0;
    const int sig = s_ring[s_head];
    s_head = (s_head + 1) % kRingSize;
    s_count = s_count - 1;
    return sig;
}

void blockAll(sigset_t &old)
{
    sigset_t all;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &old);
}

} // namespace

void qorcatchsig(int sig)
{
    const int savedErrno = errno;
    if (s_count == kRingSize) {  // full: the oldest entry is lost
        s_head = (s_head + 1) % kRingSize;
        s_count = s_count - 1;
    }
    s_ring[(s_head + s_count) % kRingSize] = sig;
    s_count = s_count + 1;
    switch (sig) {
    case SIGPIPE:
    case SIGTERM:
    case SIGHUP: gotSigHup = 1; break;
    case SIGCHLD: reapChildren(); break;
    case SIGALRM: gotSigAlarm = 1; break;
    default: break;
    }
    errno = savedErrno;
}

int qorcatchsigs(const int *sigs)
{
    struct sigaction act {};
    sigemptyset(&act.sa_mask);
    act.sa_handler = qorcatchsig;
    for (; sigs && *sigs; ++sigs) {
        act.sa_flags = *sigs == SIGCHLD ? SA_NOCLDSTOP : 0;
        if (sigaction(*sigs, &act, nullptr) != 0)
            return -1;
    }
    return 0;
}

int waitsig(bool wait)
{
    sigset_t old;
    blockAll(old);
    int sig = dequeue();
    while (sig == 0 && wait) {
        sigsuspend(&old);  // atomically unblocks and sleeps: no signal slips past
        sig = dequeue();
    }
    sigprocmask(SIG_SETMASK, &old, nullptr);
    if (sig == SIGPIPE)
        logPrintf("#qorcatchsig: SIGPIPE, also sets gotSigHup\n");
    else if (sig == SIGTERM)
        logPrintf("#qorcatchsig: SIGTERM, also sets gotSigHup\n");
    return sig;
}

void setAlarm(unsigned seconds)
{
    const int alarmSig[] = {SIGALRM, 0};
    qorcatchsigs(alarmSig);
    gotSigAlarm = 0;
    alarm(seconds);
}

void resetAlarm()
{
    alarm(0);
    sigset_t old;
    blockAll(old);
    bool missing = false;
    if (gotSigAlarm) {
        // Drop the alarm from the ring, keeping the order of the others.
        int kept = 0;
        bool found = false;
        for (int i = 0; i < s_count; ++i) {
            const int sig = s_ring[(s_head + i) % kRingSize];
            if (!found && sig == SIGALRM) {
                found = true;
                continue;
            }
            s_ring[(s_head + kept) % kRingSize] = sig;
            ++kept;
        }
        s_count = kept;
        missing = !found;
        gotSigAlarm = 0;
    }
    sigprocmask(SIG_SETMASK, &old, nullptr);
    if (missing)
        logPrintf("#SigAlarm was set but not in table\n");
}

int pidAlive(pid_t pid)
{
    for (int tries = 0; tries < kReapRetries; ++tries) {
        int status = 0;
        const pid_t done = waitpid(-1, &status, WNOHANG);
        if (done > 0) {
            lastChildPid = done;
            lastChildStatus = status;
            continue;
        }
        if (done < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        break;
    }
    if (pid <= 0)
        return 0;
    return kill(pid, 0) == 0 || errno == EPERM ? 1 : 0;
}
