// The DTP session protocol when things go wrong: refused opens, a host
// that does not greet properly, connections that fail or end, frames that
// make no sense; and one DezUR exchange.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <thread>

#include "IcParserIntegrator.h"
#include "proto_fixture.h"
#include "xfcgiinput.h"
#include "xfcgiout.h"

using namespace prototest;
using hosttest::Bytes;
using hosttest::closePkt;
using hosttest::hello;
using hosttest::openPkt;

namespace {

// A loopback port nobody listens on.
int ClosedPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    if (bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &len) != 0) {
        close(fd);
        return 1;
    }
    close(fd);
    return ntohs(sa.sin_port);
}

std::string Codes(std::initializer_list<Result> rs) {
    std::string out;
    for (Result r : rs) out += (out.empty() ? "" : " ") + std::to_string(ResultCode(r));
    return out;
}

}  // namespace

TEST_F(ProtoTest, RejectedOpensByReceiverAndReason) {
    StartHost({"reject:reason=3,times=1", "reject:reason=7,to=0,skip=1,times=1",
               "reject:reason=10,to=0,skip=2,times=1", "reject:reason=2,to=0,skip=3,times=1"});
    unsigned a = 0, b = 0, c = 0, d = 0, e = 0;
    EXPECT_EQ(Open(a), Result::CommBadDtpReply);
    EXPECT_EQ(Open(b), Result::CommBadLocapIc);
    EXPECT_EQ(Open(c), Result::CommQorNotActive);
    EXPECT_EQ(Open(d), Result::CommBadDtpReply);
    EXPECT_EQ(Open(e), Result::Success);
    for (unsigned id : {a, b, c, d}) {
        EXPECT_NE(id, 0u);
        EXPECT_FALSE(HasRecord(id));
    }
    EXPECT_TRUE(HasRecord(e));
    // One connection, greeted once; a refused session is not closed back.
    const std::vector<Frame> got = Received(Frames());
    ASSERT_EQ(got.size(), 6u);
    EXPECT_EQ(got[0].body, hello("WEB1"));
    EXPECT_EQ(got[1].body, openPkt(a));
    EXPECT_EQ(got[2].body, openPkt(b));
    EXPECT_EQ(got[3].body, openPkt(c));
    EXPECT_EQ(got[4].body, openPkt(d));
    EXPECT_EQ(got[5].body, openPkt(e));
    const std::string log = GatewayLog();
    EXPECT_NE(log.find("Problem: Bad Locap Id sent to DTP"), std::string::npos);
    EXPECT_NE(log.find("Problem: Not Active sent to DTP"), std::string::npos);
    EXPECT_NE(log.find("Problem: BadDtpReply: Bad Terminal Id sent to DTP"), std::string::npos);
}

TEST_F(ProtoTest, HostThatDoesNotGreetFirst) {
    StartHost({"first-frame"});
    unsigned id = 0;
    EXPECT_EQ(Open(id), Result::CommBadDtpReply);
    EXPECT_FALSE(HasRecord(id));
    EXPECT_EQ(proto_->IsSessionConnected("QOR1"), Result::CommDisconnected);
    EXPECT_TRUE(Received(Frames()).empty());
    EXPECT_NE(GatewayLog().find("Problem: BadDtpReply: Got Accept instead of HELLO"), std::string::npos);
}

TEST_F(ProtoTest, HostGreetingForAnotherLocap) {
    StartHost({"hello-locap:name=QOR9"});
    unsigned id = 0;
    EXPECT_EQ(Open(id), Result::CommBadLocapQor);
    EXPECT_FALSE(HasRecord(id));
    EXPECT_EQ(proto_->IsSessionConnected("QOR1"), Result::CommDisconnected);
    EXPECT_NE(GatewayLog().find("LOCAP Name mismatch"), std::string::npos);
}

TEST_F(ProtoTest, GreetingOfAnotherClassIsABadReplyWhateverItSays) {
    HandHost hand;
    std::vector<Bytes> got;
    std::thread host([&] {
        if (!hand.Accept(20000)) return;
        // A REJECT naming nobody, with reason 7, in place of the HelloDTP.
        Bytes reject(32, 0);
        reject[0] = 3;
        reject[29] = 7;
        hand.Send(reject);
        got = hand.Read(20000);   // until the gateway hangs up
    });
    unsigned id = 0;
    const Result r = proto_->OpenSession("QOR1", "127.0.0.1", hand.Port(), id, false, 0);
    host.join();
    EXPECT_EQ(r, Result::CommBadDtpReply);
    EXPECT_TRUE(got.empty()) << "neither HelloDTP nor OPEN";
    EXPECT_FALSE(HasRecord(id));
    EXPECT_EQ(proto_->IsSessionConnected("QOR1"), Result::CommDisconnected);
    const std::string log = GatewayLog();
    EXPECT_NE(log.find("Problem: Bad Locap Id sent to DTP"), std::string::npos);
    EXPECT_NE(log.find("Problem: BadDtpReply: Got Reject instead of HELLO"), std::string::npos);

    // An existing session reconnecting: a host CLOSE of that very session
    // in place of the greeting ends the session and its connection.
    unsigned existing = 0;
    {
        std::unique_ptr<CZelSessionTable::Record> rec;
        ASSERT_EQ(proto_->GetSessionTable().Get(0, rec, true, true), Result::Success);
        existing = rec->GetLocalSessionId();
    }
    std::thread closer([&] {
        if (!hand.Accept(20000)) return;
        Bytes close(32, 0);
        close[0] = 4;
        const Bytes l = hosttest::be32(0x777), r = hosttest::be32(existing);
        std::copy(l.begin(), l.end(), close.begin() + 4);
        std::copy(r.begin(), r.end(), close.begin() + 8);
        hand.Send(close);
        got = hand.Read(20000);   // until the gateway hangs up
    });
    unsigned again = existing;
    EXPECT_EQ(proto_->OpenSession("QOR1", "127.0.0.1", hand.Port(), again, false, 0), Result::CommBadDtpReply);
    closer.join();
    EXPECT_TRUE(got.empty());
    EXPECT_FALSE(HasRecord(existing));
    EXPECT_EQ(proto_->IsSessionConnected("QOR1"), Result::CommDisconnected);
}

TEST_F(ProtoTest, RefusedConnectionAndUnknownHost) {
    unsigned id = 0;
    EXPECT_EQ(proto_->OpenSession("QOR1", "127.0.0.1", ClosedPort(), id, false, 0), Result::CommClosed);
    EXPECT_NE(id, 0u);
    EXPECT_FALSE(HasRecord(id));
    char line[64];
    std::snprintf(line, sizeof line, "DTP: broken socket, close with session R%X\n", id);
    EXPECT_NE(GatewayLog().find(line), std::string::npos);
    unsigned other = 0;
    EXPECT_EQ(proto_->OpenSession("QOR1", "no-such-host.invalid", 7101, other, false, 0), Result::CommNoHost);
    EXPECT_EQ(proto_->GetSessionTable().GetNumberOfNotEmptyEntries(), 0u);
    EXPECT_EQ(proto_->IsSessionConnected("QOR1"), Result::CommDisconnected);
}

TEST_F(ProtoTest, ConnectionLostWhileOpeningANewSession) {
    StartHost({"drop:after=recv:open,times=1"});
    const std::string out = InChild([&]() -> std::string {
        unsigned first = 0, second = 0;
        Result r1 = Open(first);
        bool gone = !HasRecord(first);
        Result r2 = Open(second);   // a new connection
        return Codes({r1, r2}) + (gone ? " gone" : " kept");
    });
    EXPECT_EQ(out, "-1009 0 gone");
    EXPECT_EQ(Received(Frames(), 2).size(), 2u);   // greeted and opened anew
    EXPECT_NE(GatewayLog().find("DTP: broken socket, close with session R"), std::string::npos);
}

TEST_F(ProtoTest, ConnectionLostWhileServingAnExistingSession) {
    StartHost({"drop:after=recv:mcso,times=1"});
    const std::string out = InChild([&]() -> std::string {
        const unsigned id = Start();
        if (!id) return "no session";
        Result r1 = Input(id, "MENU", ' ', "a");
        // No reply came: the stored screen is the one sent.
        std::unique_ptr<CZelSessionTable::Record> rec;
        CBuffer stored;
        if (proto_->GetSessionTable().Get(id, rec, true, false) != Result::Success ||
            rec->GetLatestMcsData(stored) != Result::Success ||
            ToBytes(stored) != McsScreen("MENU", ' ', "a"))
            return "not the screen sent";
        rec.reset();
        bool gone = !HasRecord(id);
        unsigned again = id;
        Result r2 = Open(again);   // what the conversation tries next
        Result r3 = Input(id, "MENU", ' ', "a");
        return Codes({r1, r2, r3}) + (gone ? " gone " : " kept ") + std::to_string(id);
    });
    // The session is the host's: only the connection is made anew, and the
    // input goes on in the same session.
    unsigned id = 0;
    ASSERT_EQ(std::sscanf(out.c_str(), "-1009 0 0 kept %u", &id), 1) << out;
    char line[64];
    std::snprintf(line, sizeof line, "DTP: close session R%X\n", id);
    EXPECT_EQ(GatewayLog().find(line), std::string::npos);
    size_t opens = 0;
    for (const Frame &f : Received(Frames()))
        if (!f.body.empty() && f.body[0] == 1) ++opens;
    EXPECT_EQ(opens, 1u) << "no second OPEN";
}

TEST_F(ProtoTest, ConnectionEndedBetweenRequestsIsNotReused) {
    StartHost({"drop:after=send:mcso,times=1"});
    const std::string out = InChild([&]() -> std::string {
        const unsigned first = Start();
        if (!first) return "no session";
        // The host closes its end; looking reads the end: nothing waits.
        int waiting = 0;
        if (!WaitFor([&] {
                waiting |= proto_->IsMsgAvail();
                return proto_->IsSessionConnected("QOR1") != Result::Success;
            }, 20000))
            return "the end was never read";
        unsigned second = 0;
        Result r = Open(second);
        return std::to_string(waiting) + " " + Codes({r, proto_->IsSessionConnected("QOR1")});
    });
    EXPECT_EQ(out, "0 0 0");
    const std::vector<Frame> second = Received(Frames(), 2);
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(second[0].body, hello("WEB1"));
    EXPECT_EQ(second[1].body[0], 1);   // OPEN
}

TEST_F(ProtoTest, InvalidMessageBetweenRequestsIsDropped) {
    StartHost({"garbage:kind=short,on=enter,pos=after,delay=200,times=1"});
    const unsigned id = Start();
    ASSERT_NE(id, 0u);
    ASSERT_EQ(Input(id, "MENU", ' ', "a"), Result::Success);
    // Looked at until the garbage has arrived and been dropped.
    int waiting = 0;
    EXPECT_TRUE(WaitFor([&] {
        waiting |= proto_->IsMsgAvail();
        return GatewayLog().find("invalid message between requests dropped") != std::string::npos;
    }, 20000));
    EXPECT_EQ(waiting, 0);
    // Nothing waits: the next exchange reads its own reply.
    ASSERT_EQ(Input(id, "MENU", '1'), Result::Success);
    EXPECT_EQ(LastMcsName(), "DETAIL  ");
    EXPECT_EQ(proto_->IsMsgAvail(), 0);
}

TEST_F(ProtoTest, GarbageFramesCloseTheSession) {
    const std::vector<std::string> kinds = {"class", "short", "empty", "mcs", "function"};
    std::vector<std::string> faults;
    for (size_t i = 0; i < kinds.size(); ++i)
        faults.push_back("garbage:kind=" + kinds[i] + ",skip=" + std::to_string(i) + ",times=1");
    StartHost(faults);
    for (const std::string &kind : kinds) {
        SCOPED_TRACE(kind);
        const unsigned id = Start();
        ASSERT_NE(id, 0u);
        const uint32_t L = HostIdOf(id);
        EXPECT_EQ(Input(id, "MENU", ' ', "a"), Result::CommBadDtpReply);
        EXPECT_FALSE(HasRecord(id));
        EXPECT_TRUE(WaitFor([&] { return HostReceived(closePkt(id, L)); }, 20000));
    }
    // The connection still serves.
    EXPECT_NE(Start(), 0u);
}

TEST_F(ProtoTest, OneDezUrExchange) {
    StartHost({"dezur:group=GRP1,form=ORDERFORM,header=HDR-${L},screen=SCREEN-TEXT"});
    const unsigned id = Start();
    ASSERT_NE(id, 0u);
    const uint32_t L = HostIdOf(id);
    ASSERT_TRUE(proto_->IsReadPending());

    // A browser cookie naming a template outside the stores is refused;
    // the exchange goes on without a data block.
    setenv("REQUEST_METHOD", "POST", 1);
    setenv("HTTP_COOKIE", "LAST_QORIC_FORM=..%2F..%2Fetc%2Fpasswd", 1);
    std::string form;
    CBuffer reply;
    ASSERT_EQ(proto_->SendDezUr(id, "/app/order", "REMOTE_USER=joe", "", "qty=3", form, reply), Result::Success);
    EXPECT_FALSE(proto_->IsReadPending());
    EXPECT_TRUE(HostGets(hosttest::dezurAnswer(L, "GRP1", "ORDERFORM", "REMOTE_USER=joe&qty=3", "/app/order",
                                                   "", "")));
    EXPECT_NE(GatewayLog().find("LAST_QORIC_FORM template path"), std::string::npos);
    EXPECT_EQ(form, "ORDERFORM");
    std::string header, screen;
    ASSERT_TRUE(CZelDtpProtocol::GetDezUrTexts(reply, header, screen));
    char expected[32];
    std::snprintf(expected, sizeof expected, "HDR-%X", L);
    EXPECT_EQ(header, expected);
    EXPECT_EQ(screen, "SCREEN-TEXT");

    // Without a pending read there is nothing to answer.
    EXPECT_EQ(proto_->SendDezUr(id, "/app/order", "", "", "", form, reply), Result::CommBadDtpReply);
    EXPECT_TRUE(HasRecord(id));
}

TEST_F(ProtoTest, DezUrDataBlockIsTheLastFormsInput) {
    StartHost({"dezur:group=GRP1,form=ORDERFORM,header=H,screen=S"});
    // The page the browser posted from, in a template store below the
    // server root, with its field table.
    xFcgiServerRoot(dir_->Work().c_str());
    CIcParserIntegrator::SetRegularStorePath(dir_->Work());
    hosttest::writeFile(dir_->Work() + "/order.htx", "<html><body>order</body></html>\n");
    hosttest::writeFile(dir_->Work() + "/order.t3i",
                        "<records><record type=\"main\">"
                        "<field name=\"qty\" mask=\"X(3)\"/>"
                        "<field name=\"item\" mask=\"X(5)\"/>"
                        "<field name=\"note\" mask=\"X(2)\"/>"
                        "</record></records>\n");
    std::string form;
    CBuffer reply;
    setenv("REQUEST_METHOD", "POST", 1);
    xFcgiGetParsedInput("qty=3&item=pen");

    // An absolute path in the cookie is refused: no data block.
    const unsigned first = Start();
    ASSERT_NE(first, 0u);
    setenv("HTTP_COOKIE", "LAST_QORIC_FORM=%2Fetc%2Fpasswd", 1);
    ASSERT_EQ(proto_->SendDezUr(first, "/app/order", "REMOTE_USER=joe", "", "qty=3&item=pen", form, reply),
              Result::Success);
    EXPECT_TRUE(HostGets(hosttest::dezurAnswer(HostIdOf(first), "GRP1", "ORDERFORM",
                                                   "REMOTE_USER=joe&qty=3&item=pen", "/app/order", "", "")));
    EXPECT_NE(GatewayLog().find("LAST_QORIC_FORM template path '/etc/passwd' refused"), std::string::npos);
    // So is a file of the store that is no page template.
    setenv("HTTP_COOKIE", "LAST_QORIC_FORM=order.t3i", 1);
    ASSERT_EQ(proto_->SendDezUr(Start(), "/app/order", "", "", "qty=3", form, reply), Result::Success);
    EXPECT_NE(GatewayLog().find("LAST_QORIC_FORM template path 'order.t3i' refused"), std::string::npos);

    const unsigned id = Start();
    ASSERT_NE(id, 0u);
    const uint32_t L = HostIdOf(id);
    ASSERT_TRUE(proto_->IsReadPending());
    setenv("HTTP_COOKIE", "LAST_QORIC_FORM=order.htx", 1);
    ASSERT_EQ(proto_->SendDezUr(id, "/app/order", "REMOTE_USER=joe", "", "qty=3&item=pen", form, reply),
              Result::Success);
    // The fields in the page's order; the field not posted is zero bytes,
    // which travel as 0xFE.
    const std::string block = std::string("3  pen  ") + "\xFE\xFE";
    EXPECT_TRUE(HostGets(hosttest::dezurAnswer(L, "GRP1", "ORDERFORM", "REMOTE_USER=joe&qty=3&item=pen",
                                                   "/app/order", "", block)));
    EXPECT_EQ(form, "ORDERFORM");
    unsetenv("REQUEST_METHOD");
    unsetenv("HTTP_COOKIE");
    CIcParserIntegrator::SetRegularStorePath(std::string());
}
