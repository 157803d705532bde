// Signal set-up, blocking, and millisecond timers.
//
// Handlers are installed without SA_RESTART, so a blocking call that a
// handled signal interrupts returns EINTR and the caller sees the signal.
#ifndef QOR_GOSSIG_H
#define QOR_GOSSIG_H

#include <csignal>
#include <initializer_list>

using QorSigFunc = void (*)(int);
using QorSigInfoFunc = void (*)(int, siginfo_t *, void *);

// Installs handler for sig with an empty mask: SIG_DFL restores the default
// action, SIG_IGN ignores the signal, a function is installed (a SIGCHLD
// handler gets no stop notifications). Returns the previous handler, or
// SIG_ERR on failure.
QorSigFunc qorsetsig(int sig, QorSigFunc handler);
// The same for a handler that takes the extended signal information.
QorSigFunc qorsetsig(int sig, QorSigInfoFunc handler);

// As qorsetsig, but the listed signals are blocked while the handler runs.
// A zero in the list ends it, so gosSigHandler(SIGTERM, h, SIGHUP, 0) and
// gosSigHandler(SIGTERM, h, SIGHUP) are the same. Returns 0, or -1 (nothing
// installed) when the mask cannot be built or the handler not installed.
int gosSigHandlerList(int sig, QorSigFunc handler, std::initializer_list<int> blocked);
template <class... Sigs>
int gosSigHandler(int sig, QorSigFunc handler, Sigs... blocked)
{
    return gosSigHandlerList(sig, handler, {static_cast<int>(blocked)...});
}

// Block, unblock and raise signals. 0, or -1 on failure. Lists end at the
// first zero, as above.
int gosSigHold(int sig);
int gosSigRelse(int sig);
int gosHoldSigsList(std::initializer_list<int> sigs);
int gosRelseSigsList(std::initializer_list<int> sigs);
template <class... Sigs> int gosHoldSigs(Sigs... sigs)
{
    return gosHoldSigsList({static_cast<int>(sigs)...});
}
template <class... Sigs> int gosRelseSigs(Sigs... sigs)
{
    return gosRelseSigsList({static_cast<int>(sigs)...});
}
int gosSigRaise(int sig);

// Every program calls this at start-up: a write to a closed socket, pipe or
// FIFO then fails with EPIPE instead of killing the process.
void qorIgnoreSigPipe();

// Arms the real-time timer once for ms milliseconds; its SIGALRM handler
// puts the previous handler back when it fires. Returns ms, or -1 (previous
// handler restored) when the timer cannot be set.
int alarmMs(int ms);
// alarmMs, then waits with SIGALRM unblocked until a signal arrives.
// Returns ms, or -1.
int sleepMs(int ms);

#endif
