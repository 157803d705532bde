// Host message records between real processes over a System V queue.
#include "catchsig.h"
#include "hostmsg/ipc_util.h"
#include "msgbuf.h"
#include "packmsg.h"
#include "sendmsg.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <pthread.h>

using namespace hostmsg;

namespace {

constexpr int kMsgo = 21;  // dFmsgo
// Too long to go inline.
const char kClientText[] = "kept in the client's local memory";
const char kServerText[] = "kept in the server's local memory";

std::string pattern(size_t n, int seed)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((seed + i * 7) % 251 + 1);
    return s;
}

// A string of the local memory (pool 1), as host processes keep them.
const char *localString(const char *text)
{
    const uint32_t off = pmAlloc(1, 4096, 9);
    char *at = pmGetMap(1) + off;
    std::strcpy(at, text);
    return at;
}

bool sameString(const qormsg &m, int i, const std::string &want)
{
    const char *p = getPrmPtr(&m, i);
    return getPrmType(&m, i) == kPrmStr && getPrmStrsz(&m, i) == static_cast<int>(want.size()) && p &&
           std::memcmp(p, want.data(), want.size()) == 0;
}

int16_t rawType(const qormsg &m, int i) { return getPrm(&m, i)->type; }

// The first request parameter that is not what the test sent, or 0.
int checkRequest(const qormsg &m, int count)
{
    char text[16];
    const int checks[] = {
        getNumPrms(&m) == count,
        getPrmChar(&m, 1) == 'Q',
        getPrmShort(&m, 2) == -12345,
        getPrmInt(&m, 3) == INT32_MIN,
        getPrmLong(&m, 4) == 0x12345678,
        getPrmStr(&m, 5, text, sizeof text) && std::strcmp(text, "inline") == 0,
        sameString(m, 6, std::string(kClientText, sizeof kClientText)),
        sameString(m, 7, pattern(100, 1)),
        sameString(m, 8, pattern(70000, 2)),
    };
    for (int i = 0; i < static_cast<int>(sizeof checks / sizeof checks[0]); ++i)
        if (!checks[i])
            return i + 1;
    return 0;
}

// The server: the host's main process too, so it hands out I/O buffers.
int serve(VmuBoot boot, int qid)
{
    if (setupVmu(true, &boot) != 2)
        return 40;
    uint32_t size = 0;
    const char *local = pmGetMap(1, &size);
    setBaseLvmu(local, size);
    unmapIoBuffer();
    setMsgQueue(qid);
    setMainProcess({getpid(), qid});
    qormsg m{};
    for (int records = 0; records < 10; ++records) {
        if (recvIndication(&m, 10) <= 0)
            return 41;
        if (answerBufferRequest(&m))
            continue;
        if (m.func != kMsgo || m.mid != 77)
            return 42;
        const QorProc client{m.pid, m.qid};
        uint32_t cdaSize = 0;
        const char *cda = getCdaLocal(&m, 9, &cdaSize);
        int verdict = checkRequest(m, 10);
        if (verdict == 0 && !(cda && cdaSize >= 3000 && std::strcmp(cda, "passed along") == 0))
            verdict = 10;
        initMsg(&m);
        const bool put = putPrmInt(&m, verdict) && putPrmStr(&m, "ok", -1) &&
                         putPrmStr(&m, localString(kServerText), sizeof kServerText) &&
                         putPrmStr(&m, pattern(5000, 3).data(), 5000) &&
                         putPrmStr(&m, pattern(66000, 4).data(), 66000);
        return put && sendResponse(&m, client) ? 0 : 43;
    }
    return 44;
}

// Sends one prepared record as raw bytes onto queue qid, addressed to us.
void sendRaw(int qid, qormsg m, int bytes)
{
    m.pri = getpid();
    ASSERT_EQ(msgsnd(qid, &m, bytes, 0), 0);
}

} // namespace

TEST(HostMessages, TwoProcessesExchangeEveryParameterType)
{
    Log log("client.log");
    Queue q;
    Pools pools(1 << 20, 256 << 10);
    ASSERT_EQ(pools.attached, 2);
    uint32_t size = 0;
    const char *local = pmGetMap(1, &size);
    setBaseLvmu(local, size);
    setMsgQueue(q.id);
    setMsgTimeout(10);
    const pid_t server = startChild("server.log", [&] { return serve(pools.boot, q.id); });
    setMainProcess({server, q.id});

    qormsg m{};
    initMsg(&m);
    ASSERT_TRUE(putPrmChar(&m, 'Q'));
    ASSERT_TRUE(putPrmShort(&m, -12345));
    ASSERT_TRUE(putPrmInt(&m, INT32_MIN));
    ASSERT_TRUE(putPrmLong(&m, 0x12345678));
    ASSERT_TRUE(putPrmStr(&m, "inline", -1));
    ASSERT_TRUE(putPrmStr(&m, localString(kClientText), sizeof kClientText));
    // Both need the I/O buffer: the second makes the server move it.
    ASSERT_TRUE(putPrmStr(&m, pattern(100, 1).data(), 100));
    ASSERT_TRUE(putPrmStr(&m, pattern(70000, 2).data(), 70000));
    const int16_t types[] = {kPrmChar, kPrmShort, kPrmInt, kPrmInt, kPrmStr, kPrmLocal, kPrmIo, kPrmLongIo};
    for (int i = 1; i <= 8; ++i)
        EXPECT_EQ(rawType(m, i), types[i - 1]) << "parameter " << i;
    EXPECT_EQ(m.index, 70100);  // both strings, padded, in the I/O buffer
    EXPECT_EQ(checkRequest(m, 8), 0);  // what the server should find
    // The CDA buffer goes to the server with the request.
    char *cda = setCdaBufferSize(3000);
    ASSERT_NE(cda, nullptr);
    std::strcpy(cda, "passed along");
    ASSERT_TRUE(passCdaForward(&m));
    EXPECT_EQ(getCdaBuffer(), nullptr);

    setLogMsgsOn(true);
    ASSERT_TRUE(qorSendChk(&m, kMsgo, 77, {server, q.id})) << log.text();
    setLogMsgsOn(false);
    EXPECT_EQ(m.func, -kMsgo);
    EXPECT_EQ(m.pid, server);
    EXPECT_EQ(getPrmInt(&m, 1), 0) << "the server found parameter " << getPrmInt(&m, 1) << " wrong";
    EXPECT_TRUE(sameString(m, 2, std::string("ok") + '\0'));
    EXPECT_TRUE(sameString(m, 3, std::string(kServerText, sizeof kServerText)));
    EXPECT_TRUE(sameString(m, 4, pattern(5000, 3)));
    EXPECT_TRUE(sameString(m, 5, pattern(66000, 4)));
    EXPECT_EQ(getPrmAdrs(&m, 2), nullptr);  // inline: not in shared memory
    EXPECT_NE(getPrmAdrs(&m, 3), nullptr);
    EXPECT_EQ(waitChild(server), 0) << readFile("server.log");
    EXPECT_EQ(pmCheck(0), 0);
    printHistory();
    const std::string text = log.text();
    EXPECT_EQ(text.find("insist"), std::string::npos) << text;
    EXPECT_NE(text.find("Send dFmsgo     to P" + std::to_string(server) + " on Q" + std::to_string(q.id)),
              std::string::npos) << text;
    // The buffer requests and their answers, then the request and its answer.
    EXPECT_NE(text.find("sent dFgrowbuf  to P"), std::string::npos) << text;
    EXPECT_NE(text.find("sent dFgrowcda  to P"), std::string::npos) << text;
    EXPECT_NE(text.find("got  DFMSGO     from P" + std::to_string(server)), std::string::npos) << text;
    unmapIoBuffer();
    setBaseLvmu(nullptr, 0);
}

TEST(HostMessages, DamagedRecordsAreRefused)
{
    Log log("damaged.log");
    Queue q;
    setMsgQueue(q.id);
    qormsg m{};
    initMsg(&m);
    m.func = kMsgo;
    m.subfunc = 3;
    putPrmInt(&m, 5);

    // Sizes that disagree with the header: a short send, an entry that
    // runs past the text used, an unknown type.
    qormsg bad = m;
    bad.len = 40;
    sendRaw(q.id, bad, kQorMsgHeader + 16);
    EXPECT_EQ(recvIndication(&bad, 0), -1);
    bad = m;
    reinterpret_cast<MsgParam *>(bad.text)->type = kPrmStr;
    reinterpret_cast<MsgParam *>(bad.text)->size = 100;
    sendRaw(q.id, bad, kQorMsgHeader + bad.len);
    EXPECT_EQ(recvIndication(&bad, 0), -1);
    bad = m;
    reinterpret_cast<MsgParam *>(bad.text)->type = 77;
    sendRaw(q.id, bad, kQorMsgHeader + bad.len);
    EXPECT_EQ(recvIndication(&bad, 0), -1);
    const std::string problems = log.text();
    const std::string qid = std::to_string(q.id);
    EXPECT_NE(problems.find("recvIndication:" + qid + " PROBLEM msgrcv: got 40 expected 64; len:40 prms:1"),
              std::string::npos) << problems;
    EXPECT_NE(problems.find("PROBLEM msgrcv: got 32 expected 132; len:8 prms:1"), std::string::npos) << problems;
    EXPECT_NE(problems.find("PROBLEM msgrcv: got 32 expected -1; len:8 prms:1"), std::string::npos) << problems;

    // A record longer than any sound one is taken off the queue and
    // refused; the next record is received.
    struct {
        long pri;
        char bytes[1000];
    } big{getpid(), {}};
    ASSERT_EQ(msgsnd(q.id, &big, sizeof big.bytes, 0), 0);
    sendRaw(q.id, m, kQorMsgHeader + m.len);
    EXPECT_EQ(recvIndication(&bad, 0), -1);
    EXPECT_NE(log.text().find("recvIndication:" + qid + " PROBLEM msgrcv: got more than 536"), std::string::npos)
        << log.text();
    ASSERT_EQ(recvIndication(&bad, 0), kQorMsgHeader + 8);
    EXPECT_EQ(getPrmInt(&bad, 1), 5);

    // Sound records whose strings point outside the memory they name.
    char local[64] = {};
    setBaseLvmu(local, sizeof local);
    bad = m;
    const MsgParam outside[] = {{10, kPrmLocal, 60}, {10, kPrmIo, 0x100000}};
    for (const MsgParam &p : outside) {
        std::memcpy(bad.text, &p, sizeof p);
        sendRaw(q.id, bad, kQorMsgHeader + bad.len);
        ASSERT_EQ(recvIndication(&bad, 0), kQorMsgHeader + 8);
        EXPECT_EQ(getPrmPtr(&bad, 1), nullptr);
        EXPECT_STREQ(getPrmSafePtr(&bad, 1), "");
    }
    setBaseLvmu(nullptr, 0);
    EXPECT_EQ(getPrm(&m, 5), nullptr);
    EXPECT_EQ(getPrmShort(&m, 1), -1);  // an integer read as a short
    const std::string refused = log.text();
    EXPECT_NE(refused.find("insist failed at "), std::string::npos) << refused;
    EXPECT_NE(refused.find(" of packmsg.c"), std::string::npos) << refused;
    EXPECT_NE(refused.find("getPrm Want param 5 of only 1; func 21; sub 3"), std::string::npos) << refused;

    // The record is full once 504 bytes are used.
    initMsg(&m);
    for (int i = 0; i < 63; ++i)
        ASSERT_TRUE(putPrmInt(&m, i));
    EXPECT_EQ(m.len, 504);
    EXPECT_FALSE(putPrmChar(&m, 'x'));
    EXPECT_FALSE(putPrmStr(&m, "", 0));
    EXPECT_EQ(getPrmInt(&m, 63), 62);
}

TEST(HostMessages, WaitsKeepOtherRecordsAndSignals)
{
    Queue q;
    const pid_t child = startChild("waits.log", [&] {
        setMsgQueue(q.id);
        const int sigs[] = {SIGUSR1, 0};
        qorcatchsigs(sigs);
        // An indication, then the answer awaited: the indication waits.
        qormsg m{};
        initMsg(&m);
        putPrmInt(&m, 1);
        m.pri = getpid();
        m.pid = 4242;
        m.func = 30;
        if (msgsnd(q.id, &m, kQorMsgHeader + m.len, 0) != 0)
            return 1;
        m.func = -kMsgo;
        if (msgsnd(q.id, &m, kQorMsgHeader + m.len, 0) != 0)
            return 2;
        if (recvConf(&m, {4242, q.id}, kMsgo, 2) <= 0 || m.func != -kMsgo)
            return 3;
        if (recvIndication(&m, 0) <= 0 || m.func != 30)
            return 4;
        // A signal does not end a wait; it stays queued for the program.
        const pthread_t self = pthread_self();
        std::thread poke([self] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            pthread_kill(self, SIGUSR1);
        });
        const auto start = std::chrono::steady_clock::now();
        const int n = recvConf(&m, {4242, q.id}, kMsgo, 1);
        const auto waited = std::chrono::steady_clock::now() - start;
        poke.join();
        if (n != 0 || waited < std::chrono::milliseconds(900))
            return 5;
        return waitsig(false) == SIGUSR1 ? 0 : 6;
    });
    EXPECT_EQ(waitChild(child), 0) << readFile("waits.log");
    EXPECT_NE(readFile("waits.log").find("No answer DFMSGO"), std::string::npos);
}

TEST(HostMessages, FullQueueRetriesThenTimesOut)
{
    Queue q;
    ASSERT_TRUE(q.limit(600));
    qormsg filler{};
    filler.pri = 1;
    ASSERT_EQ(msgsnd(q.id, &filler, kQorMsgHeader + kQorMsgText, IPC_NOWAIT), 0);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = startChild("full.log", [&] {
        setMsgTimeout(1);
        qormsg m{};
        initMsg(&m);
        for (int i = 0; i < 13; ++i)
            putPrmInt(&m, i);
        const bool request = sendReq(&m, kMsgo, 0, {getppid(), q.id});
        m.func = kMsgo;
        const bool answer = sendResponse(&m, {getppid(), q.id});
        return request || answer ? 1 : 0;
    });
    EXPECT_EQ(waitChild(child), 0);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GT(took, std::chrono::seconds(2));  // two sends, each a second's alarm after the retries
    EXPECT_LT(took, std::chrono::seconds(10));
    const std::string log = readFile("full.log");
    EXPECT_NE(log.find("Queue " + std::to_string(q.id) + " full: 1 messages, 536 of 600 bytes"),
              std::string::npos) << log;
    EXPECT_NE(log.find("Sendreq timeout on function dFmsgo"), std::string::npos) << log;
    EXPECT_NE(log.find("Response timeout on function -21 DFMSGO"), std::string::npos) << log;
}

TEST(HostMessages, QueueRemovedUnderTheSender)
{
    for (bool answer : {false, true}) {
        Queue q;
        ASSERT_TRUE(q.limit(600));
        qormsg filler{};
        filler.pri = 1;
        ASSERT_EQ(msgsnd(q.id, &filler, kQorMsgHeader + kQorMsgText, IPC_NOWAIT), 0);
        const std::string logName = answer ? "removed_answer.log" : "removed_request.log";
        const pid_t child = startChild(logName, [&] {
            setMsgTimeout(20);
            qormsg m{};
            initMsg(&m);
            for (int i = 0; i < 13; ++i)
                putPrmInt(&m, i);
            m.func = kMsgo;
            const bool sent = answer ? sendResponse(&m, {getppid(), q.id})
                                     : sendReq(&m, kMsgo, 0, {getppid(), q.id});
            return sent ? 3 : 0;
        });
        // Past the retries, it waits in a blocking send.
        EXPECT_TRUE(waitBlocked(child, logName, "Queue " + std::to_string(q.id) + " full")) << readFile(logName);
        ASSERT_EQ(msgctl(q.id, IPC_RMID, nullptr), 0);
        // A request fails; an answer without its queue ends the process.
        EXPECT_EQ(waitChild(child, 10), answer ? 1 : 0);
        const std::string log = readFile(logName);
        EXPECT_NE(log.find(answer ? "Send DFMSGO" : "Send dFmsgo"), std::string::npos) << log;
        EXPECT_NE(log.find("failed: Identifier removed"), std::string::npos) << log;
    }
}
