// Signal installation, blocking and millisecond timers.
#include "gossig.h"

#include <cerrno>
#include <sys/time.h>

namespace {

// Handlers run without SA_RESTART so blocking calls see EINTR; a SIGCHLD
// handler is not woken by stopped children.
int baseFlags(int sig) { return sig == SIGCHLD ? SA_NOCLDSTOP : 0; }

// Builds a mask of the listed signals (a zero ends the list). -1 when a
// signal number is invalid.
int buildMask(sigset_t &mask, std::initializer_list<int> sigs)
{
    sigemptyset(&mask);
    for (int s : sigs) {
        if (s == 0)
            break;
        if (sigaddset(&mask, s) != 0)
            return -1;
    }
    return 0;
}

QorSigFunc install(int sig, struct sigaction &act)
{
    struct sigaction old {};
    if (sigaction(sig, &act, &old) != 0)
        return SIG_ERR;
    // sa_handler and sa_sigaction share storage; either way this is the
    // previous function (or SIG_DFL / SIG_IGN).
    return old.sa_handler;
}

struct sigaction s_prevAlarm;

void alarmMsHandler(int)
{
    sigaction(SIGALRM, &s_prevAlarm, nullptr);  // one-shot: the previous handler is back
}

} // namespace

QorSigFunc qorsetsig(int sig, QorSigFunc handler)
{
    struct sigaction act {};
    sigemptyset(&act.sa_mask);
    act.sa_handler = handler;
    act.sa_flags = (handler == SIG_DFL || handler == SIG_IGN) ? 0 : baseFlags(sig);
    return install(sig, act);
}

QorSigFunc qorsetsig(int sig, QorSigInfoFunc handler)
{
    struct sigaction act {};
    sigemptyset(&act.sa_mask);
    act.sa_sigaction = handler;
    act.sa_flags = SA_SIGINFO | baseFlags(sig);
    return install(sig, act);
}

int gosSigHandlerList(int sig, QorSigFunc handler, std::initializer_list<int> blocked)
{
    struct sigaction act {};
    if (buildMask(act.sa_mask, blocked) != 0)
        return -1;
    act.sa_handler = handler;
    act.sa_flags = (handler == SIG_DFL || handler == SIG_IGN) ? 0 : baseFlags(sig);
    return install(sig, act) == SIG_ERR ? -1 : 0;
}

int gosSigHold(int sig) { return gosHoldSigsList({sig}); }
int gosSigRelse(int sig) { return gosRelseSigsList({sig}); }

int gosHoldSigsList(std::initializer_list<int> sigs)
{
    sigset_t mask;
    if (buildMask(mask, sigs) != 0)
        return -1;
    return sigprocmask(SIG_BLOCK, &mask, nullptr);
}

int gosRelseSigsList(std::initializer_list<int> sigs)
{
    sigset_t mask;
    if (buildMask(mask, sigs) != 0)
        return -1;
    return sigprocmask(SIG_UNBLOCK, &mask, nullptr);
}

int gosSigRaise(int sig) { return raise(sig); }

void qorIgnoreSigPipe() { qorsetsig(SIGPIPE, SIG_IGN); }

int alarmMs(int ms)
{
    if (ms <= 0)
        return -1;
    struct sigaction act {};
    sigemptyset(&act.sa_mask);
    act.sa_handler = alarmMsHandler;
    if (sigaction(SIGALRM, &act, &s_prevAlarm) != 0)
        return -1;
    struct itimerval timer {};
    timer.it_value.tv_sec = ms / 1000;
    timer.it_value.tv_usec = (ms % 1000) * 1000;
    if (setitimer(ITIMER_REAL, &timer, nullptr) != 0) {
        sigaction(SIGALRM, &s_prevAlarm, nullptr);
        return -1;
    }
    return ms;
}

int sleepMs(int ms)
{
    // SIGALRM stays blocked from arming to the wait, so an alarm that fires
    // early is not lost before sigsuspend.
    sigset_t alarmOnly, old;
    sigemptyset(&alarmOnly);
    sigaddset(&alarmOnly, SIGALRM);
    sigprocmask(SIG_BLOCK, &alarmOnly, &old);
    if (alarmMs(ms) < 0) {
        sigprocmask(SIG_SETMASK, &old, nullptr);
        return -1;
    }
    sigset_t waitMask = old;
    sigdelset(&waitMask, SIGALRM);
    const int savedErrno = errno;
    sigsuspend(&waitMask);  // returns after a handler ran
    errno = savedErrno;
    sigprocmask(SIG_SETMASK, &old, nullptr);
    return ms;
}
