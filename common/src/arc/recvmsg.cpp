// Receiving host message records, and the request-and-answer calls.
#include "sendmsg.h"

#include "catchsig.h"
#include "funcname.h"
#include "logprint.h"
#include "msgstate.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/msg.h>
#include <unistd.h>

namespace {

constexpr size_t kPutAsideMax = 64;
constexpr int kRefused = -2;

// Takes one record for this process from its queue. 0 when none came
// (nothing there without waiting, or the alarm went off), kRefused for a
// record whose size disagrees with its header, -1 on an error.
int takeOne(qormsg *msg, bool wait, const char *who)
{
    const int qid = msgState().ownQid;
    if (qid < 0) {
        logPrintf("#%s: this process has no queue\n", who);
        return -1;
    }
    constexpr size_t kMost = sizeof(qormsg) - sizeof(long);
    ssize_t n;
    for (;;) {
        n = msgrcv(qid, msg, kMost, getpid(), wait ? 0 : IPC_NOWAIT);
        if (n >= 0)
            break;
        if (errno == EINTR) {
            if (gotSigAlarm)
                return 0;
            continue;  // another signal: its handler has seen it
        }
        if (errno == ENOMSG)
            return 0;
        if (errno == E2BIG) {
            // Longer than any sound record: left on the queue it would fail
            // every later receive, so it is taken off (cut) and refused.
            msgrcv(qid, msg, kMost, getpid(), IPC_NOWAIT | MSG_NOERROR);
            logPrintf("#%s:%d PROBLEM msgrcv: got more than %zu; len:%d prms:%d\n", who, qid, kMost,
                      msg->len, msg->prms);
            return kRefused;
        }
        logPrintf("#%s: msgrcv on Q%d failed: %s\n", who, qid, std::strerror(errno));
        return -1;
    }
    const int got = static_cast<int>(n);
    const int expected = msgExpected(msg, got);
    if (expected != got) {
        logPrintf("#%s:%d PROBLEM msgrcv: got %d expected %d; len:%d prms:%d\n", who, qid, got, expected,
                  msg->len, msg->prms);
        return kRefused;
    }
    msgNote('R', msg, msg->pid, qid);
    return got;
}

int recordSize(const qormsg &msg) { return kQorMsgHeader + msg.len; }

bool isAnswer(const qormsg &msg, QorProc from, int16_t want)
{
    return msg.func == want && (from.pid <= 0 || msg.pid == from.pid);
}

// Arms the alarm for a wait of `seconds` (> 0) and takes it out again.
struct WaitAlarm {
    bool armed;
    explicit WaitAlarm(int seconds) : armed(seconds > 0)
    {
        if (armed)
            setAlarm(static_cast<unsigned>(seconds));
    }
    ~WaitAlarm()
    {
        if (armed)
            resetAlarm();
    }
};

} // namespace

int recvIndication(qormsg *msg, int seconds)
{
    if (!msg)
        return -1;
    MsgState &s = msgState();
    if (!s.putAside.empty()) {
        *msg = s.putAside.front();
        s.putAside.pop_front();
        return recordSize(*msg);
    }
    WaitAlarm alarm(seconds);
    const int n = takeOne(msg, seconds != 0, "recvIndication");
    return n == kRefused ? -1 : n;
}

int recvConf(qormsg *msg, QorProc from, int func, int seconds)
{
    if (!msg)
        return -1;
    const int16_t want = static_cast<int16_t>(func > 0 ? -func : func);
    MsgState &s = msgState();
    for (auto it = s.putAside.begin(); it != s.putAside.end(); ++it) {
        if (isAnswer(*it, from, want)) {
            *msg = *it;
            s.putAside.erase(it);
            return recordSize(*msg);
        }
    }
    WaitAlarm alarm(seconds);
    for (;;) {
        const int n = takeOne(msg, seconds != 0, "recvConf");
        if (n == kRefused)
            continue;
        if (n == 0 && seconds != 0)
            logPrintf("#No answer %s from P%d within %d seconds\n", funcName(want), from.pid, seconds);
        if (n <= 0 || isAnswer(*msg, from, want))
            return n;
        if (s.putAside.size() == kPutAsideMax) {
            const qormsg &old = s.putAside.front();
            logPrintf("#recvConf: too many records waiting; dropped %s from P%d\n", funcName(old.func), old.pid);
            s.putAside.pop_front();
        }
        s.putAside.push_back(*msg);
    }
}

bool qorSendChk(qormsg *msg, int func, int mid, QorProc to)
{
    return sendReq(msg, func, mid, to) &&
           recvConf(msg, to, func, static_cast<int>(msgState().timeout)) > 0;
}

int32_t qorSendChkR(qormsg *msg, int func, int mid, QorProc to)
{
    if (!qorSendChk(msg, func, mid, to) || getNumPrms(msg) < 1)
        return -1;
    return getPrmInt(msg, 1);
}

bool qorSendRcv(qormsg *req, qormsg *answer, int func, int mid, QorProc to)
{
    return answer && sendReq(req, func, mid, to) &&
           recvConf(answer, to, func, static_cast<int>(msgState().timeout)) > 0;
}

bool apiSend(qormsg *msg, int func, int mid)
{
    const QorProc main = msgState().main;
    if (main.pid <= 0) {
        logPrintf("#apiSend %s: no main process set\n", funcName(func));
        return false;
    }
    return qorSendChk(msg, func, mid, main);
}

bool blockedSend(qormsg *msg, int func, int mid, QorProc to)
{
    sigset_t io, old;
    sigemptyset(&io);
    sigaddset(&io, SIGIO);
    sigprocmask(SIG_BLOCK, &io, &old);
    const bool ok = qorSendChk(msg, func, mid, to);
    sigprocmask(SIG_SETMASK, &old, nullptr);  // a SIGIO held meanwhile arrives now
    return ok;
}
