// The DTP session protocol against the stand-in host: opening a session,
// screens in both directions, program ends, host CLOSEs, messages for other
// sessions and between requests, and a session continued elsewhere.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <thread>

#include "proto_fixture.h"
#include "xfcgiout.h"

using namespace prototest;
using hosttest::Bytes;
using hosttest::McsMsg;
using hosttest::hello;
using hosttest::inputPkt;
using hosttest::openPkt;
using hosttest::closePkt;
using hosttest::parseMcso;

namespace {

Bytes Ids(const unsigned *ids) {
    Bytes out;
    for (int i = 0; i < 4; ++i) {
        Bytes w = hosttest::be32(ids[i]);
        out.insert(out.end(), w.begin(), w.end());
    }
    return out;
}

std::string AsString(const Bytes &b) { return std::string(b.begin(), b.end()); }

}  // namespace

TEST_F(ProtoTest, NewSessionGreetsOpensAndStartsTheProgram) {
    StartHost();
    unsigned id = 0;
    ASSERT_EQ(Open(id), Result::Success);
    ASSERT_NE(id, 0u);
    const uint32_t L = HostIdOf(id);
    ASSERT_NE(L, 0u);
    ASSERT_EQ(proto_->StartProgram(id, "PROG1", "MYCDA"), Result::Success);

    const std::vector<Frame> frames = Frames();
    const std::vector<Frame> got = Received(frames);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].body, hello("WEB1"));
    EXPECT_EQ(got[1].body, openPkt(id));
    EXPECT_EQ(got[2].body, ExpectedPrst(L, "PROG1", "MYCDA")) << Hex(got[2].body);
    const std::vector<Frame> sent = Sent(frames);
    ASSERT_EQ(sent.size(), 4u);   // HelloDTP, ACCEPT, PROK, the first screen
    EXPECT_EQ(sent[0].body, hello("QOR1"));

    // The first screen is the current screen.
    const McsMsg first = parseMcso(sent[3].body);
    EXPECT_EQ(ToBytes(proto_->GetLastMcsData()), first.params[1]);
    EXPECT_EQ(LastMcsName(), "MENU    ");
    EXPECT_EQ(proto_->GetLastErrorText().substr(0, 7), "CHECK 0");
    // Cursor 3 from the host, but a modification pair starting with '*'
    // (pair 1) comes first.
    EXPECT_EQ(proto_->GetLastSelectedField(), 1);
    EXPECT_EQ(ToBytes(proto_->GetLastFccMods().GetBuffer()), (Bytes{0x33, 0x33, 0x00, 0xB0}));

    // The session's record.
    std::unique_ptr<CZelSessionTable::Record> rec;
    ASSERT_EQ(proto_->GetSessionTable().Get(id, rec, true, false), Result::Success);
    EXPECT_EQ(rec->GetLocalSessionId(), id);
    EXPECT_EQ(rec->GetDtpSessionId(), L);
    EXPECT_TRUE(rec->IsOpen());
    EXPECT_TRUE(rec->IsProgramStarted());
    CZelName locap(8);
    rec->GetLocap(locap);
    EXPECT_EQ(std::string(locap.GetData(), 8), "QOR1    ");
    unsigned ids[4];
    rec->GetMcsIds(ids[0], ids[1], ids[2], ids[3]);
    EXPECT_EQ(Ids(ids), Ids(first.ids));
    CBuffer pib;
    rec->GetPib(pib);
    EXPECT_EQ(ToBytes(pib), first.params[0]);
    CZelSessionTable::Guid_t guid;
    rec->GetSessionGuid(guid);
    EXPECT_FALSE(guid.IsZero());
    // The screen-data file is named after the GUID words, in decimal.
    char words[48];
    std::snprintf(words, sizeof words, "%u-%u-%u-%u", guid[0], guid[1], guid[2], guid[3]);
    EXPECT_EQ(rec->GetLatestDataFileName(), words);
    const std::string file = "latestmcsdata/" + rec->GetLatestDataFileName();
    rec.reset();
    EXPECT_EQ(ReadFile(file), AsString(first.params[1]));

    // The id text browsers carry: the GUID in 32 lower-case hex digits.
    std::string text;
    proto_->GetSessionId(id, text);
    EXPECT_EQ(text, guid.ToText());
    ASSERT_EQ(text.size(), 32u);
    for (char c : text) EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(c)) || (c >= 'a' && c <= 'f'));
    EXPECT_EQ(proto_->GetLocalSessionId(text, false, 0), id);
    EXPECT_EQ(proto_->GetLocalSessionId(text.substr(0, 31), false, 0), 0u);
    EXPECT_EQ(proto_->GetLocalSessionId(text + "0", false, 0), 0u);
    std::string bad = text;
    bad[12] = 'g';
    EXPECT_EQ(proto_->GetLocalSessionId(bad, false, 0), 0u);
}

TEST_F(ProtoTest, OpenReadsPastAnAcceptForAnotherSession) {
    StartHost({"accept-other:times=1"});
    unsigned id = 0;
    ASSERT_EQ(Open(id), Result::Success);
    const std::vector<Frame> sent = Sent(Frames());
    ASSERT_EQ(sent.size(), 3u);   // HelloDTP, the other ACCEPT, ours
    EXPECT_NE(hosttest::rd32(sent[1].body, 8), id);
    std::unique_ptr<CZelSessionTable::Record> rec;
    ASSERT_EQ(proto_->GetSessionTable().Get(id, rec, true, false), Result::Success);
    EXPECT_EQ(rec->GetDtpSessionId(), hosttest::rd32(sent[2].body, 4));
    EXPECT_TRUE(rec->IsOpen());
    rec.reset();
    EXPECT_NE(GatewayLog().find("ACCEPT mismatch"), std::string::npos);
}

TEST_F(ProtoTest, ScreenInputFunctionKeyAndSkippedMessages) {
    StartHost({"msgo:times=1", "free:times=1"});
    const unsigned id = Start();
    ASSERT_NE(id, 0u);
    const uint32_t L = HostIdOf(id);
    const McsMsg menu = parseMcso(LastSent(30));
    const std::string data = std::string("12345678") + "ALICE     " + "------";

    // Plain input: header and data; an MSGO and a FREE message come first.
    ASSERT_EQ(Input(id, "MENU", ' ', data), Result::Success);
    EXPECT_TRUE(HostGets(inputPkt(L, menu.ids, menu.params[0], "MENU", ' ', data)));
    EXPECT_EQ(LastMcsName(), "MENU    ");
    EXPECT_EQ(proto_->GetLastErrorText().substr(0, 7), "CHECK 1");
    EXPECT_NE(GatewayLog().find("DTP: ignore MCSO FREE"), std::string::npos);
    EXPECT_NE(GatewayLog().find("'MSGO' now processing"), std::string::npos);

    // A function key sends the header alone.
    const McsMsg menu2 = parseMcso(LastSent(30));
    ASSERT_EQ(Input(id, "MENU", '1'), Result::Success);
    EXPECT_TRUE(HostGets(inputPkt(L, menu2.ids, menu2.params[0], "MENU", '1')));
    const McsMsg detail = parseMcso(LastSent(30));
    EXPECT_EQ(detail.index, 2);   // 'V'
    EXPECT_EQ(ToBytes(proto_->GetLastMcsData()), detail.params[1]);
    EXPECT_EQ(LastMcsBytes(20, 6), "PROG1 ");

    // The stored screen follows a header, cut or zero-extended to a count.
    CBuffer buffer = ToBuffer(McsScreen("DETAIL", ' ', "abc"));
    ASSERT_EQ(proto_->LoadLastMcsData(id, buffer, 40), Result::Success);
    ASSERT_EQ(buffer.GetLength(), 60);
    EXPECT_EQ(std::string(buffer.GetBuffer(), 20), AsString(McsScreen("DETAIL", ' ', "abc")).substr(0, 20));
    EXPECT_EQ(std::string(buffer.GetBuffer() + 20, 30), AsString(detail.params[1]).substr(20, 30));
    EXPECT_EQ(std::string(buffer.GetBuffer() + 50, 10), std::string(10, '\0'));
    CBuffer shorter = ToBuffer(McsScreen("DETAIL", ' ', ""));
    ASSERT_EQ(proto_->LoadLastMcsData(id, shorter, 4), Result::Success);
    EXPECT_EQ(shorter.GetLength(), 24);
    EXPECT_EQ(proto_->LoadLastMcsData(id + 100, shorter, 4), Result::SessTblInvalidSessId);
}

TEST_F(ProtoTest, EScreenTakesHighValuesFromThePreviousScreenOfItsFormat) {
    StartHost({"escreen:on=enter"});
    const unsigned id = Start();
    ASSERT_NE(id, 0u);
    const std::string data = std::string("12345678") + "ALICE     " + "abcdef";
    ASSERT_EQ(Input(id, "MENU", ' ', data), Result::Success);
    const McsMsg e = parseMcso(LastSent(30));
    ASSERT_EQ(e.index, 4);   // 'E'
    ASSERT_EQ(hosttest::asText(e.params[1], 28, 10), std::string(10, '\xFF'));
    EXPECT_EQ(LastMcsBytes(28, 10), "ALICE     ");
    EXPECT_EQ(LastMcsBytes(20, 8), hosttest::asText(e.params[1], 20, 8));
    EXPECT_NE(GatewayLog().find("DTP: values retrieved from last MCS data"), std::string::npos);

    // After a screen of another format the high values become blanks.
    ASSERT_EQ(Input(id, "MENU", '1'), Result::Success);
    ASSERT_EQ(LastMcsName(), "DETAIL  ");
    ASSERT_EQ(Input(id, "DETAIL", ' ', std::string(30, 'z')), Result::Success);
    EXPECT_EQ(LastMcsName(), "MENU    ");
    EXPECT_EQ(LastMcsBytes(28, 10), std::string(10, ' '));
}

TEST_F(ProtoTest, ProgramEndsByReasonAndTheCloseThatFollows) {
    struct Case {
        const char *fault;
        Result expected;
        const char *cda;
    };
    const std::vector<Case> cases = {
        {"pren:on=enter,cda=BYE,skip=0,times=1", Result::CommTransTerminated, "BYE"},
        {"pren:on=enter,reason=E,cda=EOF,skip=1,times=1", Result::QorEof, "EOF"},
        {"pren:on=enter,reason=F,skip=2,times=1", Result::QorIo, ""},
        {"pren:on=enter,reason=K,skip=3,times=1", Result::QorSecurity, ""},
        {"pren:on=enter,reason=M,skip=4,times=1", Result::QorNoMem, ""},
        {"pren:on=enter,reason=N,skip=5,times=1", Result::QorNotFound, ""},
        {"pren:on=enter,reason=T,skip=6,times=1", Result::QorTimeout, ""},
        {"pren:on=enter,reason=X,skip=7,times=1", Result::QorAborted, ""},
    };
    std::vector<std::string> faults;
    for (const Case &c : cases) faults.push_back(c.fault);
    // A log-off reads on until the host closes the session.
    faults.push_back("pren:on=enter,reason=S,skip=8,times=1");
    faults.push_back("close:on=enter,pos=after,skip=8,times=1");
    StartHost(faults);

    for (const Case &c : cases) {
        SCOPED_TRACE(c.fault);
        const unsigned id = Start();
        ASSERT_NE(id, 0u);
        const uint32_t L = HostIdOf(id);
        EXPECT_EQ(Input(id, "MENU", ' ', "x"), c.expected);
        EXPECT_EQ(std::string(proto_->GetLastCda().GetBuffer(), proto_->GetLastCda().GetLength()), c.cda);
        EXPECT_FALSE(HasRecord(id));
        EXPECT_TRUE(WaitFor([&] { return HostReceived(closePkt(id, L)); }, 20000));
    }
    const unsigned id = Start();
    ASSERT_NE(id, 0u);
    const uint32_t L = HostIdOf(id);
    EXPECT_EQ(Input(id, "MENU", ' ', "x"), Result::CommTransTerminated);
    EXPECT_FALSE(HasRecord(id));
    EXPECT_TRUE(WaitFor([&] { return HostReceived(closePkt(id, L)); }, 20000));
    EXPECT_NE(GatewayLog().find("PREN message with LOGOFF for session R"), std::string::npos);
    // The connection serves on.
    EXPECT_EQ(proto_->IsSessionConnected("QOR1"), Result::Success);
}

TEST_F(ProtoTest, UnsolicitedProgramEndBetweenRequestsClosesTheSession) {
    StartHost({"pren:on=prst,pos=after,delay=300,reason=T"});
    const unsigned id = Start();
    ASSERT_NE(id, 0u);
    const uint32_t L = HostIdOf(id);
    std::string text;
    proto_->GetSessionId(id, text);
    // The host logs the PREN as it sends it: look until it has arrived and
    // closed the session.
    int waiting = 0;
    EXPECT_TRUE(WaitFor([&] {
        waiting |= proto_->IsMsgAvail();
        return HostReceived(closePkt(id, L));
    }, 20000));
    EXPECT_EQ(waiting, 0);
    EXPECT_EQ(proto_->GetLocalSessionId(text, false, 0), 0u);
    EXPECT_FALSE(HasRecord(id));
}

TEST_F(ProtoTest, MessageBetweenRequestsIsTakenByTheNextRead) {
    StartHost({"mcso:on=enter,to=self,pos=after,delay=200,times=1"});
    const unsigned id = Start();
    ASSERT_NE(id, 0u);
    const uint32_t L = HostIdOf(id);
    ASSERT_EQ(Input(id, "MENU", ' ', "a"), Result::Success);
    // The first screen, the reply, then the extra screen between requests.
    ASSERT_TRUE(WaitFor([&] {
        int n = 0;
        for (const Frame &f : Sent(Frames())) n += f.body[0] == 30;
        return n == 3;
    }, 3000));
    std::vector<McsMsg> screens;
    for (const Frame &f : Sent(Frames()))
        if (f.body[0] == 30) screens.push_back(parseMcso(f.body));
    const McsMsg &reply = screens[1], &extra = screens[2];
    EXPECT_TRUE(WaitFor([&] { return proto_->IsMsgAvail() == 1; }, 20000));
    EXPECT_EQ(proto_->IsMsgAvail(), 1);   // still the same one waiting

    // The next exchange sends its input and takes the waiting screen.
    ASSERT_EQ(Input(id, "MENU", '1'), Result::Success);
    // (sent with what the last screen taken gave: the reply's ids and PIB)
    EXPECT_TRUE(HostGets(inputPkt(L, reply.ids, reply.params[0], "MENU", '1')));
    EXPECT_EQ(ToBytes(proto_->GetLastMcsData()), extra.params[1]);
    // The key's own reply now waits, and is taken by the next exchange.
    ASSERT_TRUE(WaitFor([&] { return proto_->IsMsgAvail() == 1; }, 20000));
    const McsMsg detail = parseMcso(LastSent(30));
    ASSERT_EQ(Input(id, "DETAIL", ' ', "b"), Result::Success);
    EXPECT_EQ(ToBytes(proto_->GetLastMcsData()), detail.params[1]);
}

TEST_F(ProtoTest, HostCloseOfThisSessionEndsItAndTheConnection) {
    StartHost({"close:on=enter"});
    const unsigned id = Start();
    ASSERT_NE(id, 0u);
    EXPECT_EQ(Input(id, "MENU", ' ', "a"), Result::CommTransTerminated);
    EXPECT_FALSE(HasRecord(id));
    EXPECT_EQ(proto_->IsSessionConnected("QOR1"), Result::CommDisconnected);
    for (const Frame &f : Received(Frames())) EXPECT_NE(f.body[0], 4) << "no CLOSE back";
}

TEST_F(ProtoTest, HostCloseOfAnotherSessionRemovesOnlyThatOne) {
    StartHost({"close:on=enter,to=other,times=1"});
    const unsigned a = Start();
    const unsigned b = Start();
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    ASSERT_EQ(Input(a, "MENU", ' ', "a"), Result::Success);
    EXPECT_EQ(LastMcsName(), "MENU    ");
    EXPECT_TRUE(HasRecord(a));
    EXPECT_FALSE(HasRecord(b));
    EXPECT_EQ(proto_->IsSessionConnected("QOR1"), Result::Success);
    for (const Frame &f : Received(Frames())) EXPECT_NE(f.body[0], 4) << "no CLOSE back";
    ASSERT_EQ(Input(a, "MENU", '1'), Result::Success);
    EXPECT_EQ(LastMcsName(), "DETAIL  ");
}

TEST_F(ProtoTest, ScreenForAnotherSessionGoesOnlyIntoItsRecord) {
    // Before the reply: a screen and a FREE message for the other session.
    StartHost({"mcso:on=enter,to=other,times=1", "free:on=enter,to=other,times=1"});
    const unsigned a = Start("PROG1");
    const unsigned b = Start("PROG2");
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    std::string bFile;
    {
        std::unique_ptr<CZelSessionTable::Record> rec;
        ASSERT_EQ(proto_->GetSessionTable().Get(b, rec, true, false), Result::Success);
        CBuffer marker("MARKER", 6);
        ASSERT_EQ(rec->SetLatestMcsData(marker), Result::Success);
        rec->SetMcsIds(0, 0, 0, 0);
        bFile = "latestmcsdata/" + rec->GetLatestDataFileName();
    }
    ASSERT_EQ(Input(a, "MENU", ' ', "a"), Result::Success);

    // This session's screen is its own reply.
    EXPECT_EQ(LastMcsName(), "MENU    ");
    EXPECT_EQ(proto_->GetLastErrorText().substr(0, 7), "CHECK 1");
    EXPECT_EQ(ToBytes(proto_->GetLastMcsData()), parseMcso(LastSent(30)).params[1]);
    // The other session's screen is in its record and file.
    McsMsg forB;
    for (const Frame &f : Sent(Frames()))
        if (f.body[0] == 30 && parseMcso(f.body).receiver == b && parseMcso(f.body).index != 13)
            forB = parseMcso(f.body);   // the screen, not the FREE message
    ASSERT_EQ(forB.params.size(), 5u);
    EXPECT_EQ(ReadFile(bFile), AsString(forB.params[1]));
    std::unique_ptr<CZelSessionTable::Record> rec;
    ASSERT_EQ(proto_->GetSessionTable().Get(b, rec, true, false), Result::Success);
    unsigned ids[4];
    rec->GetMcsIds(ids[0], ids[1], ids[2], ids[3]);
    EXPECT_EQ(Ids(ids), Ids(forB.ids));
    // The FREE message went the other session's way and changed nothing.
    char line[64];
    std::snprintf(line, sizeof line, "DTP: processing MCSO for R%X\n", b);
    EXPECT_NE(GatewayLog().find(line), std::string::npos);
    EXPECT_NE(GatewayLog().find("Process unknown type 'F'\n"), std::string::npos);
    EXPECT_EQ(GatewayLog().find("DTP: ignore MCSO FREE"), std::string::npos);
}

TEST_F(ProtoTest, AnotherProcessContinuesTheSessionOverItsOwnConnection) {
    StartHost();
    const unsigned id = Start();
    ASSERT_NE(id, 0u);
    const uint32_t L = HostIdOf(id);
    const McsMsg menu = parseMcso(LastSent(30));
    const std::string data(24, 'q');
    const std::string out = InChild([&]() -> std::string {
        auto other = NewProtocol();
        if (!other) return "no protocol";
        unsigned same = id;
        Result r1 = Open(same, other.get());
        CBuffer screen = ToBuffer(McsScreen("MENU", ' ', data));
        Result r2 = other->SendMcso(same, screen);
        std::string name(other->GetLastMcsData().GetBuffer(), 8);
        other->Exit();
        return std::to_string(ResultCode(r1)) + " " + std::to_string(ResultCode(r2)) + " " + name + " " +
               std::to_string(same == id);
    });
    EXPECT_EQ(out, "0 0 MENU     1");
    // Its own connection: greeted, no OPEN, the input.
    const std::vector<Frame> second = Received(Frames(), 2);
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(second[0].body, hello("WEB1"));
    EXPECT_EQ(second[1].body, inputPkt(L, menu.ids, menu.params[0], "MENU", ' ', data));
    EXPECT_TRUE(HasRecord(id));
}

namespace {

// A screen format as the host keeps it: a .t3z header of 48 bytes for name
// and one heading and one data field.
std::string T3z(const std::string &name) {
    Bytes b(48, 0);
    b[8] = 18;
    b[9] = 50;
    const Bytes n = hosttest::text(name, 8);
    std::copy(n.begin(), n.end(), b.begin() + 20);
    b[28] = 0x01;
    b[30] = 0x3A;
    b[31] = 0x01;
    b[32] = 0x01;
    b[33] = 0x06;
    b[38] = 0x00;
    b[39] = 0x0B;
    b[40] = 0x03;
    b[41] = 0x02;
    b[42] = 0x02;
    b[43] = 0x04;
    const Bytes fields = hosttest::cat({{0x05, 0x93, 0x00}, hosttest::str("HELLO"), {0x0A, 0x02, 0x00}});
    b.insert(b.end(), fields.begin(), fields.end());
    return AsString(b);
}

}  // namespace

TEST_F(ProtoTest, ScreenFormatRequestAndAFailedConversionCloseTheSession) {
    const std::string formats = dir_->Logs() + "/formats";
    ASSERT_EQ(mkdir(formats.c_str(), 0700), 0);
    hosttest::writeFile(formats + "/MENU.t3z", T3z("MENU"));
    StartHost({}, {"--formats", formats});

    // A format the host has: asked for by its name, with the ids of the
    // session's last screen; the reply reaches the converter, which cannot
    // write into a cache that is not there, and the failed operation
    // closes the session.
    const unsigned id = Start();
    ASSERT_NE(id, 0u);
    const uint32_t L = HostIdOf(id);
    const McsMsg menu = parseMcso(LastSent(30));
    EXPECT_EQ(proto_->GetScreenFormat(id, "MENU"), Result::FormatConversionError);
    EXPECT_TRUE(HostGets(hosttest::formatRequest(L, menu.ids, "MENU")));
    EXPECT_NE(GatewayLog().find("Process screen format MENU received\n"), std::string::npos);
    EXPECT_NE(GatewayLog().find("Problem converting screen MENU; status -2003\n"), std::string::npos);
    EXPECT_FALSE(HasRecord(id));
    EXPECT_TRUE(WaitFor([&] { return HostReceived(closePkt(id, L)); }, 20000));

    // A format it does not have: a reply without format bytes is -1010.
    const unsigned other = Start();
    ASSERT_NE(other, 0u);
    const uint32_t L2 = HostIdOf(other);
    EXPECT_EQ(proto_->GetScreenFormat(other, "NOSUCH"), Result::CommScreenFormatNotFound);
    EXPECT_NE(GatewayLog().find("Processing format NOSUCH failed: sLen 0"), std::string::npos);
    EXPECT_FALSE(HasRecord(other));
    EXPECT_TRUE(WaitFor([&] { return HostReceived(closePkt(other, L2)); }, 20000));
    EXPECT_EQ(proto_->IsSessionConnected("QOR1"), Result::Success);
}

TEST_F(ProtoTest, PidPoolNumberGoesWithOpenAndPrst) {
    StartHost();
    unsigned id = 0;
    ASSERT_EQ(proto_->OpenSession("QOR1", "127.0.0.1", host_->port(), id, true, 7), Result::Success);
    const uint32_t L = HostIdOf(id);
    ASSERT_EQ(proto_->StartProgram(id, "PROG2", ""), Result::Success);
    EXPECT_TRUE(HostGets(ExpectedPrst(L, "PROG2", "", 7)));
    std::string pidPool = "(none)";
    for (int i = 0; i < xFcgiVarCount(); ++i)
        if (xFcgiVarName(i) == "pib.pidPoolValue") pidPool = std::string(xFcgiVarValue(i));
    EXPECT_EQ(pidPool, "7");
    char line[96];
    const std::string log = GatewayLog();
    std::snprintf(line, sizeof line, "DTP Session R%X has PIDPOOL 7\n", id);
    EXPECT_NE(log.find(line), std::string::npos);
    std::snprintf(line, sizeof line, "DTP: Sending OPEN packet for Session R%X PIDPOOL 7\n", id);
    EXPECT_NE(log.find(line), std::string::npos);
    std::snprintf(line, sizeof line, "DTP: Sending PRST packet on session R%X; PID #7\n", id);
    EXPECT_NE(log.find(line), std::string::npos);

    // A later request may give the session another pool number.
    EXPECT_EQ(proto_->GetPoolSessionId(7), id);
    std::string text;
    proto_->GetSessionId(id, text);
    EXPECT_EQ(proto_->GetLocalSessionId(text, true, 9), id);
    EXPECT_EQ(proto_->GetPoolSessionId(9), id);
    EXPECT_EQ(proto_->GetPoolSessionId(7), 0u);
    xFcgiPutClear();
}
