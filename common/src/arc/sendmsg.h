// Sending and receiving host message records over System V message
// queues.
//
// Each host process reads its own queue and takes the records whose
// message type is its process id. A request carries a positive function
// code and the queue for its answer; the answer carries the negated code.
//
// Sending never blocks for long: a full queue is retried 51 times without
// waiting, then waited on under an alarm (45 seconds); a time-out is
// logged and the send fails. Waits for records run under the same alarm.
// Signals that arrive during a wait do not end it; those caught by the
// signal queue (catchsig.h) stay queued for the program, only the wait's
// own alarm is taken out.
//
// No program of the gateway calls this unit; it serves host-side tools.
#ifndef QOR_SENDMSG_H
#define QOR_SENDMSG_H

#include <cstdint>

struct qormsg;

// A host process as an addressee: its id and the queue it reads.
struct QorProc {
    int32_t pid;
    int32_t qid;
};

// The queue this process reads (and names for answers); -1 until set.
void setMsgQueue(int qid);
int getMsgQueue();
// The host's main process (buffer requests, apiSend); pid 0 until set.
void setMainProcess(QorProc main);
QorProc getMainProcess();
// Seconds of the send alarm and of waits for answers (default 45).
// Returns the previous value.
unsigned setMsgTimeout(unsigned seconds);

// "#Send <function> to P<pid> on Q<qid>" for every record sent.
void setLogMsgsOn(bool on);
// Dumps every record sent and received into the log.
void setMsgDbgOn();
void setMsgDbgOff();
// Logs the last records sent and received, oldest first.
void printHistory();

// ------------------------------------------------------------- sending ----
// Sends msg as it stands (24 + len bytes) into queue qid. False on a
// time-out or an error (logged). A queue removed under an answer ends the
// process with status 1: the requester is gone with it.
bool qorSend(qormsg *msg, int qid);
// Fills the header (addressee, this process, answer queue, mid, func) and
// sends the request to `to`.
bool sendReqQid(qormsg *msg, int func, int mid, QorProc to, int answerTo);
bool sendReq(qormsg *msg, int func, int mid, QorProc to);  // answer to own queue
// Sends msg back as the answer to `to`: the function code is negated.
bool sendResponse(qormsg *msg, QorProc to);

// Sends a request and waits for its answer, which replaces msg.
bool qorSendChk(qormsg *msg, int func, int mid, QorProc to);
// The same; returns the answer's first parameter (an integer), or -1.
int32_t qorSendChkR(qormsg *msg, int func, int mid, QorProc to);
// The same with the answer in its own record.
bool qorSendRcv(qormsg *req, qormsg *answer, int func, int mid, QorProc to);
// qorSendChk to the main process.
bool apiSend(qormsg *msg, int func, int mid);
// qorSendChk with SIGIO held: a SIGIO during the wait is delivered after it.
bool blockedSend(qormsg *msg, int func, int mid, QorProc to);

// ----------------------------------------------------------- receiving ----
// Receiving waits at most `seconds` (0: only takes what is there; < 0: no
// limit). A record whose size disagrees with its header is refused with
// "#<who>:<queue> PROBLEM msgrcv: got <n> expected <m>; len:<l> prms:<p>"
// (one longer than the record: "got more than <n>", and it is taken off
// the queue).
// Both return the bytes received, 0 when nothing came in time, -1 on an
// error.

// The next record for this process (records put aside by recvConf first).
int recvIndication(qormsg *msg, int seconds);
// The answer of `from` (pid 0: of anyone) to function func. Other records
// that arrive meanwhile are put aside for recvIndication.
int recvConf(qormsg *msg, QorProc from, int func, int seconds);

#endif
