// FastCGI request loop and poll set (see xfcgin.h).
//
// Termination is signal-safe: the TERM/HUP handler never calls the log's
// ordinary functions or exit(). While the worker is blocked in the wait or
// in accept (the "idle window") it writes one entry prepared before the
// wait (logWriteSignalEntry: the usual time prefix, one write(2)) and ends
// with _exit(0); at any other time it only records the signal, and the
// next exit point of the main path logs it and exits.
#include "xfcgin.h"

#include "fcgicalls.h"
#include "gossig.h"
#include "logprint.h"

#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdlib>
#include <string>

volatile sig_atomic_t bActive = 0;
volatile sig_atomic_t bSigTerm = 0;
volatile sig_atomic_t bSigReady = 0;
unsigned char bInputAvail = 0;

namespace {

// Slot 0 is the FastCGI socket (descriptor 0); slots 1..5 host sockets,
// packed from slot 1 upwards.
std::array<pollfd, maxFds> pollFds = [] {
    std::array<pollfd, maxFds> a{};
    for (auto &p : a)
        p = pollfd{-1, 0, 0};
    return a;
}();
int numFds = 1;
int noInputLoop = 0;  // trouble counter since the last accept
bool bRetire = false; // retirement asked for (xFcgiRetire)
bool bCallerReads = false; // host input is the caller's (xFcgiCallerReadsSockets)

// Set only around the blocking wait and accept: the handler may end the
// process at once only there.
volatile sig_atomic_t bIdleWait = 0;
// A signal the handler only recorded; the main path logs it.
volatile sig_atomic_t pendingSig = 0;
volatile sig_atomic_t pendingWhileActive = 0;

const char *stateText(bool active)
{
    return active ? "active" : "idle";
}

bool detailOn()
{
    return (logCtrlFlgs & LOG_DETAIL) != 0;
}

// Logs the signal the handler recorded, as the handler itself would have.
void logPendingSignal()
{
    int sig = pendingSig;
    if (sig == 0)
        return;
    pendingSig = 0;
    const char *state = stateText(pendingWhileActive != 0);
    switch (sig) {
    case SIGTERM: logPrintf("#Got SIGTERM while %s\n", state); break;
    case SIGHUP:  logPrintf("#Got SIGHUP while %s\n", state); break;
    case SIGPIPE: logPrintf("#Got SIGPIPE while %s\n", state); break;
    default:      logPrintf("#Got signal %d while %s\n", sig, state); break;
    }
}

// Every requested end of the process: the line, the log closed, status 0.
[[noreturn]] void exitAsRequested(const char *fmt, ...)
    __attribute__((format(printf, 1, 2)));
void exitAsRequested(const char *fmt, ...)
{
    logPendingSignal();
    char line[200];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    logPrintf("%s", line);
    logClose();
    std::exit(0);
}

// Makes the log current on disk and prepares the entry the handler may
// write, before the process blocks.
void prepareIdleWait()
{
    logForceFlush();
    logPrepareSignalEntry();
}

// One trouble event (hang-up, error, invalid descriptor); the event after
// more than maxInputLoop of them asks for the end of the process.
void countTrouble()
{
    if (noInputLoop > maxInputLoop)
        bSigTerm = 1;
    ++noInputLoop;
}

void recomputeNumFds()
{
    if (pollFds[1].fd == -1) {
        numFds = 1;
        return;
    }
    for (int i = 2; i < maxFds; ++i) {
        if (pollFds[i].fd == -1) {
            numFds = i;
            return;
        }
    }
}

// poll() that resumes after a signal that asked for nothing; the handler
// may end the process while it waits.
int waitForInput(int timeoutMs, int &err)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int wait = timeoutMs;
    for (;;) {
        prepareIdleWait();
        bIdleWait = 1;
        if (bSigTerm) {
            bIdleWait = 0;
            exitAsRequested("#Exiting from Poll as requested\n");
        }
        errno = 0;
        int rc = poll(pollFds.data(), static_cast<nfds_t>(numFds), wait);
        err = errno;
        bIdleWait = 0;
        if (rc >= 0 || err != EINTR || bSigTerm)
            return rc;
        logPendingSignal();
        if (timeoutMs >= 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - Clock::now()).count();
            wait = left > 0 ? static_cast<int>(left) : 0;
        }
    }
}

} // namespace

void xFcgiAddPoll(int fd)
{
    if (fd <= 0)
        return;  // 0 is the FastCGI socket; negative is no descriptor
    if (pollFds[1].fd == fd)
        return;
    if (pollFds[1].fd == -1) {
        pollFds[1].fd = fd;
        if (numFds < 2)
            numFds = 2;
        return;
    }
    for (int i = 2; i < maxFds; ++i) {
        if (pollFds[i].fd == fd)
            return;
        if (pollFds[i].fd == -1) {
            pollFds[i].fd = fd;
            if (numFds < i + 1)
                numFds = i + 1;
            return;
        }
    }
    // A full set refuses the descriptor silently; it is never waited on.
}

void xFcgiDelPoll(int fd)
{
    if (fd == 0)
        return;
    for (int i = 1; i < maxFds; ++i) {
        if (pollFds[i].fd != fd)
            continue;
        for (int j = i; j + 1 < maxFds; ++j)
            pollFds[j].fd = pollFds[j + 1].fd;
        pollFds[maxFds - 1].fd = -1;
        break;
    }
    recomputeNumFds();
}

int xFcgiPoll(int timeoutMs)
{
    FCGI_Finish();
    bActive = 0;
    if (bSigTerm)
        exitAsRequested("#Exiting from Poll as requested\n");

    pollFds[0].fd = 0;
    pollFds[0].events = POLLIN;
    for (int i = 1; i < numFds; ++i)
        pollFds[i].events = POLLIN;
    for (auto &p : pollFds)
        p.revents = 0;

    if (detailOn()) {
        std::string socks;
        if (numFds > 1) {
            socks = "and for socket fds: ";
            for (int i = 1; i < numFds; ++i)
                socks += std::to_string(pollFds[i].fd) + " ";
        } else {
            socks = "but no sockets";
        }
        logPrintf("#Waiting for poll %d secs, %s\n", timeoutMs / 1000, socks.c_str());
    }

    int err = 0;
    int rc = waitForInput(timeoutMs, err);
    if (bSigTerm)
        exitAsRequested("#Exiting after Poll as requested; sts %d, errno %d\n", rc, err);
    if (rc < 0) {
        if (detailOn())
            logPrintf("#Error %d from Poll errno %d\n", rc, err);
        return rc;
    }
    if (rc == 0) {
        if (detailOn())
            logPrintf("#Poll timeout\n");
        return 0;
    }

    int nvalSlot = -1;
    for (int i = 0; i < numFds; ++i) {
        const pollfd &p = pollFds[i];
        if (p.revents & POLLHUP) {
            logPrintf("#Poll fd %d got POLLHUP\n", p.fd);
            countTrouble();
        }
        if (p.revents & POLLERR) {
            logPrintf("#Poll fd %d got POLLERR\n", p.fd);
            countTrouble();
        }
        if (p.revents & POLLNVAL) {
            logPrintf("#Poll fd %d got POLLNVAL\n", p.fd);
            countTrouble();
            nvalSlot = i;
        }
        if (!(p.revents & POLLIN))
            continue;
        if (i >= 1 && !bActive && !bCallerReads)
            xFcgiSocketTrouble(p.fd);
        return p.fd + 1;
    }
    if (nvalSlot >= 0)
        xFcgiDelPoll(pollFds[nvalSlot].fd);
    return -1;
}

void xFcgiCallerReadsSockets(bool on)
{
    bCallerReads = on;
}

void xFcgiSocketTrouble(int fd)
{
    // Host input while no request is active that nobody could take: counts
    // as trouble, with a pause now and then so a chattering socket can't
    // spin.
    int before = noInputLoop++;
    if (before <= maxInputLoop) {
        logPrintf("#WARNING %d: Input fd %d but FastCGI not ready\n", noInputLoop, fd);
        if (noInputLoop % 3 == 1)
            sleep(1);
    } else {
        bSigTerm = 1;
    }
}

int xFcgiAccept()
{
    // A request still open is finished before the process may block (and
    // be ended by a signal), so its response is complete.
    if (bActive)
        FCGI_Finish();
    errno = 0;
    bActive = 0;
    if (bSigTerm)
        exitAsRequested("#Exiting before Accept as requested\n");

    noInputLoop = 0;
    prepareIdleWait();
    bIdleWait = 1;
    if (bSigTerm) {
        bIdleWait = 0;
        exitAsRequested("#Exiting before Accept as requested\n");
    }
    int rc = FCGI_Accept();
    int err = errno;
    if (rc >= 0)
        bActive = 1;  // before leaving the idle window: no _exit from here on
    bIdleWait = 0;

    if (rc < 0) {
        if (detailOn())
            logPrintf("#Error %d from Accept errno %d\n", rc, err);
        if (bSigTerm)
            exitAsRequested("#Exiting as requested\n");
        logPendingSignal();
        return 0;
    }

    bInputAvail = 1;
    if (!bSigReady) {
        gosSigHandler(SIGTERM, xfcgiSignal, SIGHUP);
        gosSigHandler(SIGHUP, xfcgiSignal, SIGTERM);
        bSigReady = 1;
    }
    logPendingSignal();
    if (detailOn())
        logPrintf("#Ready with FastCGI input\n");
    return 1;
}

int xFcgiFinish()
{
    FCGI_Finish();
    bActive = 0;
    return 0;
}

void xFcgiTerminate()
{
    if (detailOn())
        logPrintf("#Process termination requested while %s\n", stateText(bActive != 0));
    bSigTerm = 1;
}

void xFcgiRetire()
{
    if (!bRetire && detailOn())
        logPrintf("#Retirement requested while %s\n", stateText(bActive != 0));
    bRetire = true;
}

bool xFcgiRetiring()
{
    return bRetire;
}

bool xFcgiQueued()
{
    pollfd p{0, POLLIN, 0};
    int rc;
    do {
        rc = poll(&p, 1, 0);
    } while (rc < 0 && errno == EINTR && !bSigTerm);
    return rc > 0 && (p.revents & POLLIN) != 0;
}

void xfcgiSignal(int sig)
{
    const int savedErrno = errno;
    if (sig == SIGTERM || sig == SIGHUP)
        bSigTerm = 1;
    if (bSigTerm && bIdleWait && !bActive) {
        logWriteSignalEntry(sig == SIGHUP ? "Got SIGHUP while idle\n" : "Got SIGTERM while idle\n");
        _exit(0);
    }
    pendingWhileActive = bActive;
    pendingSig = sig;
    errno = savedErrno;
}

int xFcgiPollFd(int slot)
{
    return slot >= 0 && slot < maxFds ? pollFds[slot].fd : -1;
}

int xFcgiNumFds()
{
    return numFds;
}

int xFcgiTroubleCount()
{
    return noInputLoop;
}
