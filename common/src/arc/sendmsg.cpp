// Sending host message records.
#include "sendmsg.h"

#include "catchsig.h"
#include "funcname.h"
#include "logprint.h"
#include "msgstate.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/msg.h>
#include <time.h>
#include <unistd.h>

namespace {

constexpr int kRetries = 51;
constexpr long kRetryPauseNs = 10 * 1000 * 1000;  // between tries on a full queue
constexpr size_t kHistory = 32;

void pause10ms()
{
    const timespec pause{0, kRetryPauseNs};
    nanosleep(&pause, nullptr);
}

void logQueueState(int qid)
{
    msqid_ds ds{};
    if (msgctl(qid, IPC_STAT, &ds) != 0) {
        logPrintf("#Queue %d full; its state is unknown: %s\n", qid, std::strerror(errno));
        return;
    }
    logPrintf("#Queue %d full: %lu messages, %lu of %lu bytes; last send P%d, last receive P%d\n", qid,
              static_cast<unsigned long>(ds.msg_qnum), static_cast<unsigned long>(ds.__msg_cbytes),
              static_cast<unsigned long>(ds.msg_qbytes), static_cast<int>(ds.msg_lspid),
              static_cast<int>(ds.msg_lrpid));
}

// A send that failed for good. Without its queue an answer has no one to
// go to: the requester is gone, and so is this process's reason to run.
bool sendFailed(const qormsg *msg, int qid, int err)
{
    logPrintf("#Send %s to P%ld on Q%d failed: %s\n", funcName(msg->func), msg->pri, qid,
              std::strerror(err));
    if (msg->func < 0 && (err == EINVAL || err == EIDRM)) {
        logClose();
        exit(1);
    }
    return false;
}

} // namespace

MsgState &msgState()
{
    static MsgState s;
    return s;
}

void msgNote(char direction, const qormsg *msg, int32_t peer, int32_t qid)
{
    MsgState &s = msgState();
    s.history.push_back({time(nullptr), direction, msg->func, peer, qid, msg->len});
    if (s.history.size() > kHistory)
        s.history.pop_front();
    if (s.debug)
        dumpQorMsg(direction == 'S' ? "Sent" : "Received", msg);
}

void setMsgQueue(int qid) { msgState().ownQid = qid; }
int getMsgQueue() { return msgState().ownQid; }
void setMainProcess(QorProc main) { msgState().main = main; }
QorProc getMainProcess() { return msgState().main; }

unsigned setMsgTimeout(unsigned seconds)
{
    const unsigned previous = msgState().timeout;
    msgState().timeout = seconds ? seconds : 1;
    return previous;
}

void setLogMsgsOn(bool on) { msgState().logMsgs = on; }
void setMsgDbgOn() { msgState().debug = true; }
void setMsgDbgOff() { msgState().debug = false; }

void printHistory()
{
    const MsgState &s = msgState();
    logPrintf("#Last %d messages of P%d\n", static_cast<int>(s.history.size()), static_cast<int>(getpid()));
    for (const MsgHistoryEntry &h : s.history) {
        struct tm t;
        localtime_r(&h.when, &t);
        logPrintf("%02d:%02d:%02d %s %s %s P%d Q%d len %d\n", t.tm_hour, t.tm_min, t.tm_sec,
                  h.direction == 'S' ? "sent" : "got ", funcName(h.func), h.direction == 'S' ? "to" : "from",
                  h.peer, h.qid, h.len);
    }
}

bool qorSend(qormsg *msg, int qid)
{
    if (!msg || msg->len < 0 || msg->len > kQorMsgText || msg->pri <= 0) {
        logPrintf("#qorSend: no record to send to Q%d\n", qid);
        return false;
    }
    MsgState &s = msgState();
    if (s.logMsgs)
        logPrintf("#Send %s to P%ld on Q%d\n", funcName(msg->func), msg->pri, qid);
    const size_t size = kQorMsgHeader + static_cast<size_t>(msg->len);

    int err = 0;
    for (int attempt = 0; attempt <= kRetries; ++attempt) {
        if (msgsnd(qid, msg, size, IPC_NOWAIT) == 0) {
            msgNote('S', msg, static_cast<int32_t>(msg->pri), qid);
            return true;
        }
        err = errno;
        if (err != EAGAIN && err != EINTR)
            return sendFailed(msg, qid, err);
        if (err == EAGAIN)
            pause10ms();
    }

    // Still full: wait for room, but not for ever.
    logQueueState(qid);
    setAlarm(s.timeout);
    for (;;) {
        if (msgsnd(qid, msg, size, 0) == 0) {
            resetAlarm();
            msgNote('S', msg, static_cast<int32_t>(msg->pri), qid);
            return true;
        }
        err = errno;
        if (err != EINTR)
            break;
        if (gotSigAlarm) {
            resetAlarm();
            if (msg->func < 0)
                logPrintf("#Response timeout on function %d %s\n", msg->func, funcName(msg->func));
            else
                logPrintf("#Sendreq timeout on function %s\n", funcName(msg->func));
            return false;
        }
    }
    resetAlarm();
    return sendFailed(msg, qid, err);
}

bool sendReqQid(qormsg *msg, int func, int mid, QorProc to, int answerTo)
{
    if (!msg || to.pid <= 0) {
        logPrintf("#sendReq %s: no addressee\n", funcName(func));
        return false;
    }
    msg->pri = to.pid;
    msg->pid = static_cast<int32_t>(getpid());
    msg->qid = answerTo;
    msg->mid = mid;
    msg->func = static_cast<int16_t>(func);
    return qorSend(msg, to.qid);
}

bool sendReq(qormsg *msg, int func, int mid, QorProc to)
{
    return sendReqQid(msg, func, mid, to, msgState().ownQid);
}

bool sendResponse(qormsg *msg, QorProc to)
{
    if (!msg || to.pid <= 0) {
        logPrintf("#sendResponse: no addressee\n");
        return false;
    }
    msg->pri = to.pid;
    msg->pid = static_cast<int32_t>(getpid());
    msg->qid = msgState().ownQid;
    if (msg->func > 0)
        msg->func = static_cast<int16_t>(-msg->func);
    return qorSend(msg, to.qid);
}
