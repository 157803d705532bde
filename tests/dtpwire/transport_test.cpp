// The socket transport: against the stand-in host over loopback (a whole
// conversation through the gateway's packet classes), and over socket pairs
// for framing limits. Whatever ends a connection asks the process to retire,
// so those cases run in a forked child that must end through the request
// loop's exit point.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>
#include <vector>

#include "ArcMcsData.h"
#include "ArcSnapShot.h"
#include "McsInterface.h"
#include "ZelName.h"
#include "ZelSocketTransport.h"
#include "wire_util.h"
#include "xfcgin.h"

using namespace wiretest;
using P = CZelDtpPacket;

namespace {

// dtphost on a free loopback port, ended with the test.
class Host {
public:
    explicit Host(const std::vector<std::string> &extra) {
        static int serial = 0;
        log_ = "host-" + std::to_string(getpid()) + "-" + std::to_string(++serial) + ".log";
        std::remove(log_.c_str());
        const char *bin = std::getenv("QOR_BINARY_DIR");
        const std::string binary = std::string(bin ? bin : ".") + "/testhost/dtphost";
        std::vector<std::string> args{binary, "--port", "0", "--locap", "QOR1", "--log", log_,
                                      "--lifetime", "60"};
        args.insert(args.end(), extra.begin(), extra.end());

        int out[2];
        if (pipe(out) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], 1);
            close(out[0]);
            close(out[1]);
            std::vector<char *> argv;
            for (auto &a : args) argv.push_back(&a[0]);
            argv.push_back(nullptr);
            execv(binary.c_str(), argv.data());
            _exit(127);
        }
        close(out[1]);
        std::string line;
        pollfd p{out[0], POLLIN, 0};
        char c;
        while (poll(&p, 1, 5000) > 0 && read(out[0], &c, 1) == 1 && c != '\n') line += c;
        close(out[0]);
        port_ = std::atoi(line.c_str());
    }
    ~Host() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    int Port() const { return port_; }
    std::string Log() const {
        std::ifstream in(log_);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

private:
    pid_t pid_ = -1;
    int port_ = 0;
    std::string log_;
};

// Runs body in a forked child; its exit status (128 + signal when killed).
int InChild(const std::function<int()> &body) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// In a child: the transport has asked the worker to retire (0); anything
// else is 99.
int AskedToRetire() { return xFcgiRetiring() ? 0 : 99; }

bool InPollSet(int fd) {
    for (int slot = 1; slot < maxFds; ++slot)
        if (xFcgiPollFd(slot) == fd) return true;
    return false;
}

template <class View>
TPktInterfacePtr<View> QueryAs(CZelDtpPacket &packet) {
    return TPktInterfacePtr<View>(dynamic_cast<View *>(packet.QueryPacketInterface()));
}

// The protocol's receive packet: owned through one reference of its owner,
// so that releasing the views never deletes it.
struct ReplyPacket {
    ReplyPacket() : packet(*new CZelDtpPacket) { packet.AddRef(); }
    ~ReplyPacket() { packet.Release(); }
    CZelDtpPacket &packet;
};

Result Send(CZelSocketTransport &t, TBasePktInterface *view, CZelDtpPacket *reply) {
    CBuffer dummy;
    const Result r = t.SendMessage(*view->GetBuffer(), reply ? static_cast<CBuffer &>(*reply) : dummy,
                                   reply != nullptr);
    view->ReleasePacketInterface();
    return r;
}

// Greeting of a connection as the gateway does it.
void Greet(CZelSocketTransport &t, CZelDtpPacket &reply) {
    ASSERT_EQ(t.Read(reply), Result::Success);
    auto hello = QueryAs<P::THello>(reply);
    ASSERT_TRUE(hello);
    CZelName locap(8);
    hello->GetLocap(locap);
    EXPECT_TRUE(locap == "QOR1");
    EXPECT_EQ(Send(t, P::THello::CreatePacketInterface("WEB1", 0, 0), nullptr), Result::Success);
}

}  // namespace

TEST(Transport, ConversationWithTheStandInHost) {
    Host host({});
    ASSERT_GT(host.Port(), 0);
    LogFile log("conversation.log");
    RemoteAddr addr("127.0.0.1");
    CZelSocketTransport t("QOR1");
    ASSERT_EQ(t.Create("127.0.0.1", host.Port()), Result::Success);
    EXPECT_TRUE(t.IsOpen());
    EXPECT_TRUE(InPollSet(t.GetSocket()));

    int value = 0;
    socklen_t len = sizeof value;
    ASSERT_EQ(getsockopt(t.GetSocket(), SOL_SOCKET, SO_KEEPALIVE, &value, &len), 0);
    EXPECT_EQ(value, 1);
    ASSERT_EQ(getsockopt(t.GetSocket(), SOL_SOCKET, SO_RCVBUF, &value, &len), 0);
    EXPECT_GE(value, CZelSocketTransport::kMinReceiveBuffer);

    EXPECT_EQ(t.Poll(30000), Result::CommPollDataReady);   // the host speaks first
    ReplyPacket reply;
    Greet(t, reply.packet);
    EXPECT_EQ(t.Poll(10), Result::CommPollFailed);          // nothing more waits

    // OPEN, answered by ACCEPT with the host's session id.
    ASSERT_EQ(Send(t, P::TOpen::CreatePacketInterface("WEB1", 0x11, 0), &reply.packet), Result::Success);
    auto accept = QueryAs<P::TAccept>(reply.packet);
    ASSERT_TRUE(accept);
    EXPECT_EQ(accept->GetReceiverId(), 0x11u);
    const unsigned L = accept->GetSenderId();
    EXPECT_NE(L, 0u);
    accept.reset();

    // PRST, answered by PROK and the first screen.
    auto *prst = P::TPrst::CreatePacketInterface("WEB1", 0x11, L);
    prst->SetUser("", "", 0xFF, 0xFF, 0xFF, 0x11);
    prst->SetTransaction("PROG1", "CDA TEXT");
    ASSERT_EQ(Send(t, prst, &reply.packet), Result::Success);
    EXPECT_TRUE(QueryAs<P::TProk>(reply.packet));
    ASSERT_EQ(t.Read(reply.packet), Result::Success);
    auto mcso = QueryAs<P::TMcso>(reply.packet);
    ASSERT_TRUE(mcso);
    EXPECT_EQ(mcso->GetReceiverId(), 0x11u);
    TPktInterfacePtr<TMcsInterface> mcs(mcso->QueryMcsInterface());
    auto *screen = dynamic_cast<TQorMsgo *>(mcs.get());
    ASSERT_NE(screen, nullptr);
    EXPECT_EQ(screen->GetMcsType(), 'O');
    unsigned ids[4];
    screen->GetIds(ids);
    CArcSnapShot pib;
    ASSERT_EQ(screen->GetSnapShot(pib), 1);
    EXPECT_TRUE(pib.GetTransactionId() == "PROG1");
    CArcMcsData data;
    ASSERT_EQ(screen->GetMcsData(data), 1);
    EXPECT_EQ(data.GetName(), "MENU    ");
    mcs.reset();
    mcso.reset();

    // Screen input with a text in the input field; the next screen shows it.
    CArcMcsData input(data);
    input.SetData(CBuffer("HELLO", 5), 14, 5);
    auto *out = P::TMcso::CreatePacketInterface("WEB1", 0x11, L);
    TPktInterfacePtr<TMcsInterface> msgi(out->CreateMcsInterface('I'));
    dynamic_cast<TQorMsgi &>(*msgi).Init(pib, input, static_cast<int>(ids[0]), static_cast<int>(ids[1]),
                                         static_cast<int>(ids[2]), static_cast<int>(ids[3]));
    msgi.reset();
    ASSERT_EQ(Send(t, out, &reply.packet), Result::Success);
    mcso = QueryAs<P::TMcso>(reply.packet);
    ASSERT_TRUE(mcso);
    mcs.reset(mcso->QueryMcsInterface());
    auto *echo = dynamic_cast<TQorMsgo *>(mcs.get());
    ASSERT_NE(echo, nullptr);
    EXPECT_EQ(echo->GetMcsType(), 'V');
    ASSERT_EQ(echo->GetMcsData(data), 1);
    EXPECT_EQ(data.GetName(), "ECHO    ");
    CBuffer shown;
    data.GetData(shown, 8, 5, 0);
    EXPECT_EQ(Body(shown), "HELLO");
    echo->GetIds(ids);
    echo->GetSnapShot(pib);
    mcs.reset();
    mcso.reset();

    // Function key 3: a header-only input; the program ends with PREN.
    CArcMcsData key;
    key.SetName("ECHO");
    key.SetStatus('3');
    out = P::TMcso::CreatePacketInterface("WEB1", 0x11, L);
    msgi.reset(out->CreateMcsInterface('I'));
    dynamic_cast<TQorMsgi &>(*msgi).Init(pib, key, static_cast<int>(ids[0]), static_cast<int>(ids[1]),
                                         static_cast<int>(ids[2]), static_cast<int>(ids[3]));
    msgi.reset();
    ASSERT_EQ(Send(t, out, &reply.packet), Result::Success);
    auto pren = QueryAs<P::TPren>(reply.packet);
    ASSERT_TRUE(pren);
    EXPECT_EQ(pren->GetReceiverId(), 0x11u);
    EXPECT_EQ(pren->GetReason(), ' ');
    CBuffer cda;
    pren->GetCda(cda);
    char expect[32];
    std::snprintf(expect, sizeof expect, "BYE %X", L);
    EXPECT_EQ(Body(cda), expect);
    pren.reset();

    // CLOSE is not answered.
    EXPECT_EQ(Send(t, P::TClose::CreatePacketInterface("WEB1", 0x11, L), nullptr), Result::Success);
    EXPECT_EQ(t.Poll(200), Result::CommPollFailed);
    const int fd = t.GetSocket();
    EXPECT_EQ(t.Close(), Result::Success);
    EXPECT_FALSE(t.IsOpen());
    EXPECT_FALSE(InPollSet(fd));
    EXPECT_EQ(reply.packet.GetRefCount(), 1);

    EXPECT_TRUE(log.Contains("Socket: *** Attempt to connect to 127.0.0.1:"));
    EXPECT_TRUE(log.Contains("Socket: connect - connected OK....\n"));
    EXPECT_TRUE(log.Contains("Socket: *** connection closed ***\n"));

    // The host found nothing wrong in what it was sent.
    const std::string hostLog = host.Log();
    EXPECT_EQ(hostLog.find("warning:"), std::string::npos) << hostLog;
    EXPECT_EQ(hostLog.find("error:"), std::string::npos) << hostLog;
    EXPECT_NE(hostLog.find("recv Close (4)"), std::string::npos) << hostLog;
}

TEST(Transport, HostByNameAndHexDumps) {
    Host host({});
    LogFile log("byname.log");
    logCtrlFlgs |= LOG_SOCKDUMP;
    CZelSocketTransport t("QOR1");
    ASSERT_EQ(t.Create("localhost", host.Port()), Result::Success);
    ReplyPacket reply;
    Greet(t, reply.packet);
    EXPECT_TRUE(log.Contains("Socket Read Msg"));
    EXPECT_TRUE(log.Contains("Socket Send Msg"));
}

TEST(Transport, UnknownHostAndClosedPort) {
    LogFile log("unknown.log");
    CZelSocketTransport t("QOR1");
    EXPECT_EQ(t.Create("no-such-host.invalid", 7101), Result::CommNoHost);
    EXPECT_TRUE(log.Contains("Socket: **** Bad Host name `no-such-host.invalid'\n"));
    EXPECT_FALSE(t.IsOpen());
    EXPECT_EQ(t.Create("127.0.0.1", 70000), Result::CommNoHost);
    EXPECT_TRUE(log.Contains("Socket: **** Bad port 70000 for host `127.0.0.1'\n"));

    // A port nobody listens on.
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    ASSERT_EQ(getsockname(s, reinterpret_cast<sockaddr *>(&a), &len), 0);
    close(s);
    EXPECT_EQ(t.Create("127.0.0.1", ntohs(a.sin_port)), Result::CommDisconnected);
    EXPECT_TRUE(log.Contains("Socket: **** Unable to connect! error=111\n"));
    EXPECT_FALSE(t.IsOpen());
    EXPECT_EQ(t.GetSocket(), -1);
}

TEST(Transport, OperationsWithoutAConnection) {
    CZelSocketTransport t("QOR1");
    CBuffer b;
    char area[4];
    EXPECT_EQ(t.Read(b), Result::CommDisconnected);
    EXPECT_EQ(t.SendMessage(b, b, true), Result::CommDisconnected);
    EXPECT_EQ(t.Poll(10), Result::CommDisconnected);
    EXPECT_EQ(t.WriteText("x", 1), Result::CommDisconnected);
    EXPECT_EQ(t.ReadBlock(area, 4), ResultCode(Result::CommDisconnected));
    EXPECT_EQ(t.Close(), Result::Success);
    EXPECT_EQ(t.Adopt(-1), Result::CommDisconnected);
}

TEST(Transport, EndOfConnectionRetiresTheProcess) {
    Host host({"--fault", "drop:after=send:hello"});
    const int rc = InChild([&] {
        CZelSocketTransport t("QOR1");
        if (t.Create("127.0.0.1", host.Port()) != Result::Success) return 10;
        CZelDtpPacket reply;
        if (t.Read(reply) != Result::Success) return 11;
        const int fd = t.GetSocket();
        errno = EINTR;   // a stale value must not hide the end
        if (t.Read(reply) != Result::CommClosed) return 12;
        if (t.IsOpen() || InPollSet(fd) || reply.GetLength() != 0) return 13;
        return AskedToRetire();
    });
    EXPECT_EQ(rc, 0);
}

TEST(Transport, HugeLengthFromTheHostIsRefused) {
    Host host({"--fault", "garbage:kind=huge,on=open"});
    const int rc = InChild([&] {
        LogFile log("huge.log");
        CZelSocketTransport t("QOR1");
        if (t.Create("127.0.0.1", host.Port()) != Result::Success) return 10;
        ReplyPacket reply;
        if (t.Read(reply.packet) != Result::Success) return 11;
        auto *open = P::TOpen::CreatePacketInterface("WEB1", 0x11, 0);
        if (Send(t, open, &reply.packet) != Result::CommReadLen) return 12;
        if (t.IsOpen()) return 13;
        if (!log.Contains("Socket: frame length 2147483632 above the limit of 1048576 bytes\n")) return 14;
        return AskedToRetire();
    });
    EXPECT_EQ(rc, 0);
}

TEST(Transport, EmptyFrameFromTheHost) {
    Host host({"--fault", "garbage:kind=empty,on=open"});
    CZelSocketTransport t("QOR1");
    ASSERT_EQ(t.Create("127.0.0.1", host.Port()), Result::Success);
    ReplyPacket reply;
    Greet(t, reply.packet);
    ASSERT_EQ(Send(t, P::TOpen::CreatePacketInterface("WEB1", 0x11, 0), &reply.packet), Result::Success);
    EXPECT_EQ(reply.packet.GetLength(), 0);
    EXPECT_EQ(reply.packet.GetOffset(), 4);
    EXPECT_EQ(PktErrorCode([&] { reply.packet.QueryPacketInterface(); }), 2);
    t.Close();
}

TEST(Transport, GarbageSubPacketsFromTheHost) {
    for (const char *kind : {"mcs", "function", "class", "short"}) {
        Host host({"--fault", std::string("garbage:on=prst,kind=") + kind});
        CZelSocketTransport t("QOR1");
        ASSERT_EQ(t.Create("127.0.0.1", host.Port()), Result::Success);
        ReplyPacket reply;
        Greet(t, reply.packet);
        ASSERT_EQ(Send(t, P::TOpen::CreatePacketInterface("WEB1", 0x11, 0), &reply.packet), Result::Success);
        auto accept = QueryAs<P::TAccept>(reply.packet);
        ASSERT_TRUE(accept);
        const unsigned L = accept->GetSenderId();
        accept.reset();
        auto *prst = P::TPrst::CreatePacketInterface("WEB1", 0x11, L);
        prst->SetTransaction("PROG1");
        ASSERT_EQ(Send(t, prst, &reply.packet), Result::Success) << kind;
        const int code = PktErrorCode([&] {
            TPktInterfacePtr<TBasePktInterface> view(reply.packet.QueryPacketInterface());
            if (auto *prok = dynamic_cast<P::TProk *>(view.get())) {
                (void)prok;
                ASSERT_EQ(t.Read(reply.packet), Result::Success);
                view.reset(reply.packet.QueryPacketInterface());
            }
            if (auto *mcso = dynamic_cast<P::TMcso *>(view.get()))
                TPktInterfacePtr<TMcsInterface> mcs(mcso->QueryMcsInterface());
        });
        const int expect = std::string(kind) == "class" ? 1 : std::string(kind) == "short" ? 2 : 4;
        EXPECT_EQ(code, expect) << kind;
        t.Close();
    }
}

// --- framing over a socket pair ---------------------------------------------

namespace {

struct Pair {
    Pair() {
        int fds[2];
        if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) == 0) {
            mine = fds[0];
            peer = fds[1];
        }
    }
    ~Pair() {
        if (peer >= 0) close(peer);
    }
    void Write(const Bytes &b) const { ASSERT_EQ(write(peer, b.data(), b.size()), ssize_t(b.size())); }
    void ClosePeer() {
        close(peer);
        peer = -1;
    }
    int mine = -1;
    int peer = -1;
};

}  // namespace

TEST(Framing, FramesOfZeroAndOfSomeBytes) {
    Pair pair;
    CZelSocketTransport t("PAIR");
    ASSERT_EQ(t.Adopt(pair.mine), Result::Success);
    pair.Write(Be32(0) + Be32(5) + "hello");
    ReplyPacket reply;
    EXPECT_EQ(t.Poll(100), Result::CommPollDataReady);
    ASSERT_EQ(t.Read(reply.packet), Result::Success);
    EXPECT_EQ(reply.packet.GetLength(), 0);
    EXPECT_EQ(reply.packet.GetOffset(), 4);
    ASSERT_EQ(t.Read(reply.packet), Result::Success);
    EXPECT_EQ(Body(reply.packet), "hello");
    EXPECT_GE(reply.packet.GetActualLength(), CZelSocketTransport::kMinReceiveBuffer);
    EXPECT_EQ(t.Poll(10), Result::CommPollFailed);

    // What goes out: one length word and the body from the offset.
    CBuffer request("xxABC", 5);
    request.SetOffset(2);
    ASSERT_EQ(t.SendMessage(request, reply.packet, false), Result::Success);
    ASSERT_EQ(t.WriteBlock(CBuffer("raw", 3)), Result::Success);
    char got[10];
    ASSERT_EQ(read(pair.peer, got, sizeof got), 10);
    EXPECT_EQ(Hex(Bytes(got, 10)), Hex(Be32(3) + "ABC" + "raw"));
}

TEST(Framing, OneMebibyteIsTheLargestFrame) {
    Pair pair;
    CZelSocketTransport t("PAIR");
    ASSERT_EQ(t.Adopt(pair.mine), Result::Success);
    const Bytes body(CZelSocketTransport::kMaxFrameLength, 'z');
    std::thread writer([&] { pair.Write(Be32(CZelSocketTransport::kMaxFrameLength) + body); });
    ReplyPacket reply;
    const Result r = t.Read(reply.packet);
    writer.join();
    ASSERT_EQ(r, Result::Success);
    EXPECT_EQ(reply.packet.GetLength(), static_cast<int>(body.size()));
    EXPECT_EQ(Body(reply.packet), body);
}

TEST(Framing, LongerFramesCloseAndRetire) {
    for (uint32_t n : {CZelSocketTransport::kMaxFrameLength + 1, 0x7FFFFFF0u, 0xFFFFFFFFu, 0xFFFFFFFCu}) {
        const int rc = InChild([&] {
            Pair pair;
            CZelSocketTransport t("PAIR");
            t.Adopt(pair.mine);
            pair.Write(Be32(n) + "some bytes");
            CZelDtpPacket reply;
            if (t.Read(reply) != Result::CommReadLen) return 10;
            if (t.IsOpen() || reply.GetLength() != 0) return 11;
            return AskedToRetire();
        });
        EXPECT_EQ(rc, 0) << n;
    }
}

TEST(Framing, ShortLengthWordAndShortBody) {
    EXPECT_EQ(InChild([] {
                  Pair pair;
                  CZelSocketTransport t("PAIR");
                  t.Adopt(pair.mine);
                  pair.Write(B({0, 0}));
                  pair.ClosePeer();
                  CZelDtpPacket reply;
                  if (t.Read(reply) != Result::CommClosed) return 10;
                  return AskedToRetire();
              }),
              0);
    EXPECT_EQ(InChild([] {
                  Pair pair;
                  CZelSocketTransport t("PAIR");
                  t.Adopt(pair.mine);
                  pair.Write(Be32(10) + "abc");
                  pair.ClosePeer();
                  CZelDtpPacket reply;
                  if (t.Read(reply) != Result::CommClosed) return 10;
                  if (t.IsOpen() || reply.GetLength() != 0) return 11;
                  return AskedToRetire();
              }),
              0);
}

TEST(Framing, WritingToAGonePeerGivesClosedNotASignal) {
    const int rc = InChild([] {
        signal(SIGPIPE, SIG_DFL);   // what a process that never ignored it has
        Pair pair;
        CZelSocketTransport t("PAIR");
        t.Adopt(pair.mine);
        pair.ClosePeer();
        const Bytes big(200000, 'x');
        if (t.WriteText(big.data(), static_cast<int>(big.size())) != Result::CommClosed) return 10;
        CBuffer request("abc", 3), reply;
        if (t.SendMessage(request, reply, true) != Result::CommClosed) return 11;
        return 0;
    });
    EXPECT_EQ(rc, 0);
}

TEST(Framing, PollSeesAHangUpAsInput) {
    Pair pair;
    CZelSocketTransport t("PAIR");
    ASSERT_EQ(t.Adopt(pair.mine), Result::Success);
    pair.ClosePeer();
    // The end of the connection is readable: the read that follows finds it.
    EXPECT_EQ(t.Poll(100), Result::CommPollDataReady);
    t.Close();
}
