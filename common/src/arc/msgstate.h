// Process state of the host message layer, shared by its units
// (sendmsg.cpp, recvmsg.cpp, msgbuf.cpp). Not for use outside them.
#ifndef QOR_MSGSTATE_H
#define QOR_MSGSTATE_H

#include "packmsg.h"
#include "sendmsg.h"

#include <ctime>
#include <deque>

struct MsgHistoryEntry {
    time_t when;
    char direction;  // 'S' sent, 'R' received
    int16_t func;
    int32_t peer;    // addressee or sender
    int32_t qid;
    int16_t len;
};

struct MsgState {
    int ownQid = -1;
    QorProc main{0, -1};
    unsigned timeout = 45;
    bool logMsgs = false;
    bool debug = false;
    std::deque<MsgHistoryEntry> history;  // newest last
    std::deque<qormsg> putAside;          // records that came during a wait for an answer
};

MsgState &msgState();
// Notes a record sent or received in the history (and dumps it in debug).
void msgNote(char direction, const qormsg *msg, int32_t peer, int32_t qid);

#endif
