// The DTP session protocol when things go wrong: refused opens, a host
// that does not greet properly, connections that fail or end, frames that
// make no sense; and one DezUR exchange.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "proto_fixture.h"

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

TEST_F(ProtoTest, RefusedConnectionAndUnknownHost) {
    unsigned id = 0;
    EXPECT_EQ(proto_->OpenSession("QOR1", "127.0.0.1", ClosedPort(), id, false, 0), Result::CommClosed);
    EXPECT_NE(id, 0u);
    EXPECT_FALSE(HasRecord(id));
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
}

TEST_F(ProtoTest, ConnectionLostWhileServingAnExistingSession) {
    StartHost({"drop:after=recv:mcso,times=1"});
    const std::string out = InChild([&]() -> std::string {
        const unsigned id = Start();
        if (!id) return "no session";
        Result r1 = Input(id, "MENU", ' ', "a");
        bool gone = !HasRecord(id);
        unsigned again = id;
        Result r2 = Open(again);   // what the conversation tries next
        return Codes({r1, r2}) + (gone ? " gone" : " kept");
    });
    EXPECT_EQ(out, "-1009 -4005 gone");
}

TEST_F(ProtoTest, ConnectionEndedBetweenRequestsIsNotReused) {
    StartHost({"drop:after=send:mcso,times=1"});
    const std::string out = InChild([&]() -> std::string {
        const unsigned first = Start();
        if (!first) return "no session";
        WaitFor([] { return false; }, 200);   // the host has closed its end
        const int waiting = proto_->IsMsgAvail();   // reads the end: nothing waits
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
    ASSERT_TRUE(WaitFor([&] { return Sent(Frames()).back().body.size() == 3; }, 3000));
    EXPECT_EQ(proto_->IsMsgAvail(), 0);
    EXPECT_NE(GatewayLog().find("invalid message between requests dropped"), std::string::npos);
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
        EXPECT_TRUE(WaitFor([&] { return HostReceived(closePkt(id, L)); }, 3000));
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
    EXPECT_TRUE(HostReceived(hosttest::dezurAnswer(L, "GRP1", "ORDERFORM", "REMOTE_USER=joe&qty=3", "/app/order",
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
