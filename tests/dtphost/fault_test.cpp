// dtphost's fault switches, and its robustness against whatever a gateway
// might send.
#include "host_harness.h"

#include <gtest/gtest.h>

#include <random>

using namespace hosttest;

namespace {

class Faults : public ::testing::Test {
protected:
    void start(std::vector<std::string> faults, std::vector<std::string> more = {})
    {
        dir = makeTempDir();
        std::vector<std::string> args = {"--first-id", "0x100"};
        for (const std::string& f : faults) {
            args.push_back("--fault");
            args.push_back(f);
        }
        args.insert(args.end(), more.begin(), more.end());
        host = std::make_unique<HostProcess>(dir, args);
    }

    void TearDown() override
    {
        if (host) {
            EXPECT_EQ(host->stop(), 0) << host->errors();
        }
        host.reset();
        if (!dir.empty()) removeTree(dir);
    }

    std::string dir;
    std::unique_ptr<HostProcess> host;
};

Bytes sessHdr(uint8_t cls, uint32_t sender, uint32_t receiver, uint8_t reason = 0)
{
    return cat({{cls, 0, 0, 0}, be32(sender), be32(receiver), text("QOR1", 8), text("", 8),
                {0x09, reason, 0x18, 0x50}});
}

Bytes pren(uint32_t R, char reason, const std::string& cda)
{
    return cat({{8, 0, 0, 0}, be32(R), Bytes(12, 0), {uint8_t(reason), ' ', 0, 0},
                be32(uint32_t(cda.size())), str(cda)});
}

Bytes prok(uint32_t R) { return cat({{7, 0, 0, 0}, be32(R), Bytes(12, 0)}); }

TEST_F(Faults, FirstFrameOfAnotherClassOrLocap)
{
    start({"first-frame:class=msgo,length=4,times=1", "hello-locap:name=WRONG,skip=1,times=1"});
    Client a(host->port());
    EXPECT_EQ(a.read(), Bytes({0x0B, 0, 0, 0}));
    Client b(host->port());
    EXPECT_EQ(b.read(), cat({str("tDTP"), {0x00, 0x21, 'W', 0}, text("WRONG", 8)}));
    Client c(host->port());
    EXPECT_EQ(c.read(), cat({str("tDTP"), {0x00, 0x21, 'W', 0}, text("QOR1", 8)}));
}

TEST_F(Faults, RejectToTheGatewaysSessionOrAnotherReceiver)
{
    start({"reject:reason=7,times=1", "reject:reason=10,to=0,skip=1,times=1"});
    Client c(host->port());
    c.read();
    c.send(hello("WEB1"));
    c.send(openPkt(5));
    Bytes r1 = c.read();
    EXPECT_EQ(r1, cat({{3, 0, 0, 0}, be32(0), be32(5), text("WEB1", 8), text("", 8), {0x09, 7, 0x18, 0x50}}));
    c.send(openPkt(6));
    Bytes r2 = c.read();
    EXPECT_EQ(r2[0], 3);
    EXPECT_EQ(rd32(r2, 8), 0u);
    EXPECT_EQ(r2[29], 10);
    c.send(openPkt(7));
    EXPECT_EQ(c.read()[0], 2);
}

TEST_F(Faults, AcceptForAnotherSessionFirst)
{
    start({"accept-other:skip=1"});
    Client c(host->port());
    uint32_t La = c.greetAndOpen(1);
    c.send(openPkt(2));
    Bytes first = c.read(), second = c.read();
    EXPECT_EQ(first[0], 2);
    EXPECT_EQ(rd32(first, 4), La);
    EXPECT_EQ(rd32(first, 8), 1u);
    EXPECT_EQ(second[0], 2);
    EXPECT_EQ(rd32(second, 4), La + 1);
    EXPECT_EQ(rd32(second, 8), 2u);
}

TEST_F(Faults, CloseForThisSessionInPlaceOfTheReply)
{
    start({"close:on=enter"});
    Client c(host->port());
    McsMsg m;
    uint32_t L = c.startSession(9, "ANY", m);
    c.send(inputPkt(L, m.ids, m.params[0], "MENU", ' ', "x"));
    EXPECT_EQ(c.read(), sessHdr(4, L, 9));
    // The host forgot the session: more input is answered by CLOSE again.
    c.send(inputPkt(L, m.ids, m.params[0], "MENU", ' ', "x"));
    EXPECT_EQ(c.read(), sessHdr(4, L, 9));
}

TEST_F(Faults, CloseAndScreenForAnotherSessionBeforeTheReply)
{
    start({"close:to=other,on=prst,skip=1,times=1", "mcso:to=other,on=prst,skip=2,times=1"});
    Client c(host->port());
    McsMsg ma, mc;
    uint32_t La = c.startSession(10, "ANY", ma);
    // Session B: PROK, CLOSE for A, then B's screen.
    c.send(openPkt(11));
    uint32_t Lb = rd32(c.read(), 4);
    c.send(prstPkt(Lb, "ANY"));
    EXPECT_EQ(c.read(), prok(11));
    EXPECT_EQ(c.read(), sessHdr(4, La, 10));
    EXPECT_EQ(parseMcso(c.read()).receiver, 11u);
    // Session C: PROK, a screen for B (the newest other session), then C's.
    c.send(openPkt(12));
    uint32_t Lc = rd32(c.read(), 4);
    c.send(prstPkt(Lc, "ANY"));
    EXPECT_EQ(c.read(), prok(12));
    McsMsg forB = parseMcso(c.read());
    EXPECT_EQ(forB.receiver, 11u);
    EXPECT_EQ(forB.ids[0], Lb);
    EXPECT_EQ(forB.ids[1], 2u);
    mc = parseMcso(c.read());
    EXPECT_EQ(mc.receiver, 12u);
    EXPECT_EQ(mc.ids[0], Lc);
}

TEST_F(Faults, ExtraScreenForThisSessionBetweenRequests)
{
    start({"mcso:on=enter,delay=400"});
    Client c(host->port());
    McsMsg m;
    uint32_t L = c.startSession(13, "ANY", m);
    c.send(inputPkt(L, m.ids, m.params[0], "MENU", ' ', "x"));
    McsMsg reply = parseMcso(c.read());
    EXPECT_TRUE(c.silent(100));
    McsMsg extra = parseMcso(c.read());
    EXPECT_EQ(extra.receiver, 13u);
    EXPECT_EQ(extra.ids[1], reply.ids[1] + 1);
    EXPECT_EQ(extra.params[1], reply.params[1]);
}

TEST_F(Faults, ProgramEndWithAnyReasonAndCda)
{
    start({"pren:reason=K,cda=ABC\\x01,times=1", "pren:on=prst,reason=E,cda=NO,skip=1"});
    Client c(host->port());
    McsMsg m;
    uint32_t L = c.startSession(14, "ANY", m);
    c.send(inputPkt(L, m.ids, m.params[0], "MENU", '5'));
    EXPECT_EQ(c.read(), pren(14, 'K', std::string("ABC\x01", 4)));
    c.send(openPkt(15));
    uint32_t L2 = rd32(c.read(), 4);
    c.send(prstPkt(L2, "ANY"));
    EXPECT_EQ(c.read(), prok(15));
    EXPECT_EQ(c.read(), pren(15, 'E', "NO"));
}

TEST_F(Faults, UnsolicitedProgramEndBetweenRequests)
{
    start({"pren:on=prst,pos=after,delay=400,reason=T,cda=LATE"});
    Client c(host->port());
    McsMsg m;
    c.startSession(16, "ANY", m);
    EXPECT_TRUE(c.silent(100));
    EXPECT_EQ(c.read(), pren(16, 'T', "LATE"));
}

TEST_F(Faults, MsgoAndFreeBeforeTheReply)
{
    start({"msgo", "free"});
    Client c(host->port());
    McsMsg m;
    uint32_t L = c.startSession(17, "ANY", m);
    c.send(inputPkt(L, m.ids, m.params[0], "MENU", ' ', "x"));
    EXPECT_EQ(c.read(), Bytes({0x0B, 0, 0, 0}));
    McsMsg f = parseMcso(c.read());
    EXPECT_EQ(f.type, 129);
    EXPECT_EQ(f.index, 13);  // 'F'
    EXPECT_EQ(f.receiver, 17u);
    McsMsg screen = parseMcso(c.read());
    EXPECT_EQ(screen.index, 2);  // ECHO is a 'V' screen
}

TEST_F(Faults, EScreenCarriesFFInItsInputFields)
{
    start({"escreen:on=key"});
    Client c(host->port());
    McsMsg m;
    uint32_t L = c.startSession(18, "ANY", m);
    c.send(inputPkt(L, m.ids, m.params[0], "MENU", '7'));
    McsMsg e = parseMcso(c.read());
    EXPECT_EQ(e.index, 4);  // 'E'
    const Bytes& mcs = e.params[1];
    ASSERT_EQ(mcs.size(), 20u + 34);
    EXPECT_EQ(asText(mcs, 0, 8), "MENU    ");
    EXPECT_EQ(slice(mcs, 20, 14), cat({text("100", 8), text("1", 6)}));
    EXPECT_EQ(slice(mcs, 34, 20), Bytes(20, 0xFF));
}

TEST_F(Faults, DropAfterAChosenFrame)
{
    start({"drop:after=recv:open,times=1", "drop:after=send:prok"});
    Client a(host->port());
    a.read();
    a.send(hello("WEB1"));
    a.send(openPkt(19));
    EXPECT_TRUE(a.closedByPeer());
    Client b(host->port());
    uint32_t L = b.greetAndOpen(20);
    b.send(prstPkt(L, "ANY"));
    EXPECT_EQ(b.read(), prok(20));
    EXPECT_TRUE(b.closedByPeer());
}

TEST_F(Faults, SilentHostAnswersNothing)
{
    start({"silent:on=enter,times=1", "silent:on=connect,skip=1,times=1"});
    Client c(host->port());
    McsMsg m;
    uint32_t L = c.startSession(21, "ANY", m);
    c.send(inputPkt(L, m.ids, m.params[0], "MENU", ' ', "x"));
    EXPECT_TRUE(c.silent(300)) << "no answer to the input";
    // The session lives on: the next input is answered.
    c.send(inputPkt(L, m.ids, m.params[0], "MENU", ' ', "y"));
    EXPECT_EQ(parseMcso(c.read()).receiver, 21u);
    Client quiet(host->port());
    EXPECT_TRUE(quiet.silent(300)) << "no greeting";
    Client next(host->port());
    EXPECT_EQ(next.read()[0], 't');
}

TEST_F(Faults, GarbageFramesOfEveryKind)
{
    start({"garbage:on=prst,kind=class,times=1", "garbage:on=prst,kind=short,skip=1,times=1",
           "garbage:on=prst,kind=empty,skip=2,times=1", "garbage:on=prst,kind=mcs,skip=3,times=1",
           "garbage:on=prst,kind=function,skip=4,times=1", "garbage:on=prst,kind=huge,skip=5,times=1"});
    Client c(host->port());
    c.read();
    c.send(hello("WEB1"));
    std::vector<Bytes> got;
    for (uint32_t R = 1; R <= 5; ++R) {
        c.send(openPkt(R));
        uint32_t L = rd32(c.read(), 4);
        c.send(prstPkt(L, "ANY"));
        EXPECT_EQ(c.read(), prok(R));
        got.push_back(c.read());
    }
    EXPECT_EQ(got[0], cat({{0xEE, 0, 0, 0}, be32(1), Bytes(24, 0)}));
    EXPECT_EQ(got[1], Bytes({2, 0, 0}));
    EXPECT_TRUE(got[2].empty());
    ASSERT_EQ(got[3].size(), 48u);
    EXPECT_EQ(rd16(got[3], 44), 5);  // five parameters announced, none there
    McsMsg bad = parseMcso(got[4]);
    EXPECT_EQ(bad.index, 5);  // 'A'
    EXPECT_EQ(bad.count, 5);

    c.send(openPkt(6));
    uint32_t L = rd32(c.read(), 4);
    c.send(prstPkt(L, "ANY"));
    EXPECT_EQ(c.read(), prok(6));
    EXPECT_THROW(c.read(), std::runtime_error);  // a length word of 0x7FFFFFF0
}

TEST_F(Faults, DezUrExchange)
{
    start({"dezur:group=GRP,form=MYFORM,header=<h> ${L},screen=SCR"});
    Client c(host->port());
    uint32_t L = c.greetAndOpen(22);
    c.send(prstPkt(L, "ANY"));
    EXPECT_EQ(c.read(), prok(22));
    Bytes read = c.read();
    EXPECT_EQ(read, cat({{48, 0, 0, 0}, be32(22), text("", 8), be32(0), {' ', 0, 0, 0}, text("GRP", 8),
                         text("MYFORM", 24), Bytes(8, 0)}));
    c.send(dezurAnswer(L, "GRP", "MYFORM", "A", "BC", "", "DATA"));
    Bytes send = c.read();
    EXPECT_EQ(send, cat({{49, 0, 0, 0}, be32(22), text("", 8), be32(0), {' ', 0, 0, 0}, text("GRP", 8),
                         text("MYFORM", 24), be16(0), be16(0), be16(7), be16(3), str("<h> 100"), {0},
                         str("SCR"), {0}}));
    EXPECT_NE(host->log().find("'A' 'BC' '' and 4 data bytes"), std::string::npos);
    // The next screen input shows the transaction's first screen.
    uint32_t none[4] = {0, 0, 0, 0};
    c.send(inputPkt(L, none, Bytes(156, 0), "MYFORM", ' ', "x"));
    EXPECT_EQ(asText(parseMcso(c.read()).params[1], 0, 8), "MENU    ");
}

TEST_F(Faults, ShortPibAndFramesForANamedGatewaySession)
{
    start({"close:to=0x77,on=prst"}, {"--pib", "128"});
    Client c(host->port());
    uint32_t L = c.greetAndOpen(23);
    c.send(prstPkt(L, "ANY"));
    EXPECT_EQ(c.read(), prok(23));
    EXPECT_EQ(c.read(), sessHdr(4, 0, 0x77));  // no host session belongs to R77
    McsMsg m = parseMcso(c.read());
    ASSERT_EQ(m.params.at(0).size(), 128u);
    EXPECT_EQ(slice(m.params[0], 112, 16), Bytes(16, 0));
    EXPECT_EQ(m.params[0][47], 1);
}

TEST_F(Faults, OversizedFrameLengthClosesOnlyThatConnection)
{
    start({});
    Client a(host->port());
    a.read();
    a.sendRaw({0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3});
    EXPECT_TRUE(a.closedByPeer());
    Client b(host->port());
    EXPECT_EQ(b.read().size(), 16u);
    EXPECT_NE(host->log().find("error: frame length 4294967295 above 1 MiB refused"), std::string::npos);
}

TEST_F(Faults, MalformedPacketsCloseTheConnection)
{
    start({});
    uint32_t L;
    McsMsg m;
    {
        Client c(host->port());
        L = c.startSession(30, "ANY", m);
    }
    Bytes mcsHdr = cat({{30, 0, 0, 0}, be32(L), text("", 12), be32(0), Bytes(16, 0)});
    Bytes pib(156, 0), mcs = cat({text("MENU", 8), text("", 4), {' ', ' ', 0, 0, ' ', ' ', 0, 0}});
    std::vector<std::pair<const char*, Bytes>> bad = {
        {"empty body", {}},
        {"short HelloDTP", {'t', 'D', 'T', 'P', 0, 0x21}},
        {"HelloDTP without magic", cat({str("tXXX"), Bytes(12, ' ')})},
        {"31-byte OPEN", slice(openPkt(1), 0, 31)},
        {"short PRST", slice(prstPkt(L, "ANY"), 0, 50)},
        {"PRST CDA length past the end", [&] { Bytes p = prstPkt(L, "ANY"); p[106] = 3; return p; }()},
        {"47-byte MCSO", cat({mcsHdr, Bytes(7, 0)})},
        {"MCSO count past the end", cat({mcsHdr, be16(139), be16(3), be16(3), be16(0), be16(0), be16(3)})},
        {"MCSO parameter past the end", cat({mcsHdr, be16(139), be16(3), be16(1), be16(0), be16(500), be16(3), Bytes(10, 0)})},
        {"MCSO parameter of unknown type", cat({mcsHdr, be16(139), be16(3), be16(1), be16(5), be16(1), be16(9), {0}})},
        {"input without MCS data", cat({mcsHdr, be16(139), be16(3), be16(1), be16(160), be16(156), be16(3), pib})},
        {"input with a short MCS header", cat({mcsHdr, be16(139), be16(3), be16(2), be16(180), be16(156), be16(3), pib,
                                              be16(12), be16(3), Bytes(12, ' ')})},
        {"DezUrRead text past the end", cat({{48, 0, 0, 0}, be32(L), Bytes(48, ' '), be16(9), be16(0), be16(0), be16(0), str("AB")})},
    };
    for (const auto& b : bad) {
        Client c(host->port());
        c.read();
        c.send(b.second);
        EXPECT_TRUE(c.closedByPeer()) << b.first;
    }
    // The session is still there and usable.
    Client c(host->port());
    c.read();
    c.send(inputPkt(L, m.ids, m.params[0], "MENU", ' ', "x"));
    EXPECT_EQ(parseMcso(c.read()).receiver, 30u);
    EXPECT_TRUE(host->alive());
}

TEST_F(Faults, RandomFramesNeverStopTheHost)
{
    start({});
    std::mt19937 rng(12345);
    const uint8_t classes[] = {1, 4, 6, 30, 48, 116, 2, 0, 200};
    for (int conn = 0; conn < 15; ++conn) {
        try {
            Client c(host->port());
            c.read();
            for (int i = 0; i < 60; ++i) {
                Bytes b(rng() % 200);
                for (uint8_t& x : b) x = uint8_t(rng());
                if (!b.empty()) b[0] = classes[rng() % sizeof classes];
                if (b.size() > 48 && b[0] == 30) {
                    // Plausible sub-packet headers reach the parameter walk.
                    b[4] = b[5] = b[6] = 0;
                    b[7] = uint8_t(rng() % 4);
                    b[40] = 0;
                    b[41] = rng() % 2 ? 139 : 200;
                    b[44] = 0;
                    b[45] = uint8_t(rng() % 4);
                }
                c.send(b);
            }
            c.silent(20);
        } catch (const std::exception&) {
            // The host closed the connection on a malformed frame.
        }
    }
    Client last(host->port());
    EXPECT_EQ(last.read().size(), 16u);
    EXPECT_TRUE(host->alive());
}

}  // namespace
