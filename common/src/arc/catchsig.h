// The signal queue of the host message layer: a handler that records
// signals in a small ring, and the calls that wait for them. No program of
// the gateway uses it; host-side tools do.
#ifndef QOR_CATCHSIG_H
#define QOR_CATCHSIG_H

#include <csignal>
#include <sys/types.h>

// Set by SIGHUP, SIGTERM and SIGPIPE.
extern volatile sig_atomic_t gotSigHup;
// Set by SIGALRM.
extern volatile sig_atomic_t gotSigAlarm;
// Status and pid of the last child reaped on SIGCHLD.
extern volatile sig_atomic_t lastChildStatus;
extern volatile sig_atomic_t lastChildPid;

// The handler: queues sig in the 8-entry ring (the oldest is lost when it
// is full), reaps children on SIGCHLD, notes SIGALRM.
void qorcatchsig(int sig);
// Installs qorcatchsig for each listed signal (zero ends the list).
int qorcatchsigs(const int *sigs);

// The next queued signal, or 0 when none is queued and wait is false;
// with wait it sleeps until one arrives.
int waitsig(bool wait);

// Arms the alarm for seconds (qorcatchsig handles it); resetAlarm cancels
// it and drops a pending alarm from the ring (logging when none was
// queued although the alarm had gone off).
void setAlarm(unsigned seconds);
void resetAlarm();

// Reaps finished children, then 1 when pid is alive, else 0.
int pidAlive(pid_t pid);

#endif
