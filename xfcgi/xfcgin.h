// FastCGI request loop and poll set of a worker process.
//
// A worker serves one FastCGI request at a time but must also notice data
// that arrives on its host sockets between requests. This unit owns the
// set of descriptors it waits on (slot 0 is always the FastCGI listening
// socket, descriptor 0; slots 1 to 5 hold host sockets), the wait itself,
// the acceptance of the next request, and the orderly end of the process
// on SIGTERM or SIGHUP: at once while idle, after the request while one is
// being served. Every such end is exit status 0 after closing the log.
//
// Plain functions over process-wide state. The CGI input side of the same
// unit (xfcgiinput) consumes bInputAvail.
#ifndef QOR_XFCGIN_H
#define QOR_XFCGIN_H

#include <csignal>

// Capacity of the poll set (slot 0 plus five host sockets).
constexpr int maxFds = 6;
// Threshold of the trouble counter: the event after more than this many
// troubles since the last accept ends the process.
constexpr int maxInputLoop = 6;

// A request is being served ("active"); else the worker is "idle".
extern volatile sig_atomic_t bActive;
// Termination requested; one-way, the process ends at its next exit point.
extern volatile sig_atomic_t bSigTerm;
// The TERM/HUP handler is installed (after the first accepted request).
extern volatile sig_atomic_t bSigReady;
// A request was accepted and its input has not been read yet; the CGI
// input reader clears it.
extern unsigned char bInputAvail;

// Adds a host socket to the set. Descriptor 0 (the FastCGI socket) and a
// descriptor already present are ignored; a full set refuses silently.
void xFcgiAddPoll(int fd);
// Removes a host socket; later slots move down by one.
void xFcgiDelPoll(int fd);

// Finishes the current request, then waits up to timeoutMs for input.
// Returns the ready descriptor + 1 (1: the FastCGI socket; n + 1: host
// socket n), 0 on time-out, -1 on error or when no slot has input.
// Ends the process when termination was requested.
int xFcgiPoll(int timeoutMs);

// Accepts the next FastCGI request: 1 when accepted, else 0. The first
// success installs the TERM/HUP handler. Ends the process when
// termination was requested.
int xFcgiAccept();

// Host input between requests, read by the caller. With on, xFcgiPoll
// returns a host socket's input while no request is active without
// counting it: the caller reads it, and what was no whole message it
// reports with xFcgiSocketTrouble. Off (the default), xFcgiPoll counts
// every such input as trouble itself, with the pauses.
void xFcgiCallerReadsSockets(bool on);
// Host input between requests that was no whole message: one trouble
// event, logged as a warning, with a pause of a second at the 1st, 4th and
// 7th; the event after more than maxInputLoop ends the process.
void xFcgiSocketTrouble(int fd);

// Finishes the current request (its output is complete); the kit's result.
int xFcgiFinish();

// Asks for the end of the process from inside the program: it ends at
// its next xFcgiPoll or xFcgiAccept.
void xFcgiTerminate();

// Asks the worker to retire (a lost host connection): the request loop
// leaves after the current request, without dropping the connections the
// web server has already queued on the FastCGI socket.
void xFcgiRetire();
// Retirement was asked for.
bool xFcgiRetiring();
// A connection waits on the FastCGI socket (checked without waiting).
bool xFcgiQueued();

// The TERM/HUP handler. While idle (blocked in the wait or in accept) it
// writes "#Got SIGTERM while idle" (or SIGHUP) straight onto the log's
// descriptor and ends the process with status 0; while active it only
// records the signal, and the request loop logs it and ends the process
// after the request.
void xfcgiSignal(int sig);

// Debugging aid: logs the input table of the current request.
void xFcgiDumpData();

// Read-only views of the poll set, for diagnostics and tests.
int xFcgiPollFd(int slot);   // descriptor in slot 0..5 (-1: free)
int xFcgiNumFds();           // slots handed to the wait
int xFcgiTroubleCount();     // trouble events since the last accept

#endif
