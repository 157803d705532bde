// DTP packets byte for byte: what the gateway builds, what it accepts, and
// what it refuses.
#include <gtest/gtest.h>

#include "DtpPacket.h"
#include "ZelName.h"
#include "wire_util.h"

using namespace wiretest;
using P = CZelDtpPacket;

namespace {

template <class View>
TPktInterfacePtr<View> Make(const std::string &locap, unsigned sender, unsigned receiver) {
    return TPktInterfacePtr<View>(View::CreatePacketInterface(locap, sender, receiver));
}

template <class View>
TPktInterfacePtr<View> Query(CZelDtpPacket *packet) {
    TBasePktInterface *view = packet->QueryPacketInterface();
    auto *typed = dynamic_cast<View *>(view);
    EXPECT_NE(typed, nullptr);
    if (!typed && view) view->ReleasePacketInterface();
    return TPktInterfacePtr<View>(typed);
}

// The packet a received body makes, owned by the test (one reference).
struct Owned {
    explicit Owned(const Bytes &body) : packet(Received(body)) { packet->AddRef(); }
    ~Owned() { packet->Release(); }
    CZelDtpPacket *packet;
};

Bytes SessionBody(uint8_t cls, uint32_t sender, uint32_t receiver, uint8_t reason = 0) {
    return B({cls, 0, 0, 0}) + Be32(sender) + Be32(receiver) + Pad("QOR1", 8) + Pad("", 8) +
           B({9, reason, 24, 80});
}

}  // namespace

// --- building -------------------------------------------------------------

TEST(DtpBuild, HelloForLoc1) {
    auto hello = Make<P::THello>("LOC1", 7, 9);
    ASSERT_TRUE(hello);
    EXPECT_EQ(Hex(Body(*hello->GetBuffer())),
              Hex(B({0x74, 0x44, 0x54, 0x50, 0x00, 0x21, 0x57, 0x00, 'L', 'O', 'C', '1', ' ', ' ', ' ', ' '})));
    EXPECT_EQ(hello->GetType(), 116);
    EXPECT_EQ(hello->GetFullPacketSize(), 16);
    EXPECT_EQ(hello->GetBuffer()->GetRefCount(), 1);
}

TEST(DtpBuild, OpenWithAndWithoutClientAddress) {
    {
        RemoteAddr addr("192.168.1.20");
        auto open = Make<P::TOpen>("WEB1", 0x11, 0);
        ASSERT_TRUE(open);
        const Bytes expect = B({1, 0, 0, 0}) + Be32(0x11) + Be32(0) + Pad("WEB1", 8) +
                             B({0x20, 0xFF, 0xC0, 0xA8, 0x01, 0x14, 0x20, 0x20}) + B({9, 0, 24, 80});
        EXPECT_EQ(Hex(Body(*open->GetBuffer())), Hex(expect));
        EXPECT_EQ(open->GetSenderId(), 0x11u);
        EXPECT_EQ(open->GetReceiverId(), 0u);
    }
    {
        RemoteAddr addr(nullptr);
        auto open = Make<P::TOpen>("WEB1", 0x11, 0);
        EXPECT_EQ(Hex(Body(*open->GetBuffer()).substr(20, 8)), Hex(Pad("", 8)));
    }
    {
        RemoteAddr addr("10.0.0.1");
        auto open = Make<P::TOpen>("WEB1", 1, 0);
        EXPECT_EQ(Hex(Body(*open->GetBuffer()).substr(20, 8)),
                  Hex(B({0x20, 0xFF, 10, 0, 0, 1, 0x20, 0x20})));
    }
}

TEST(DtpBuild, AddressThatIsNotDottedIpv4IsSentAsBlanks) {
    for (const char *bad : {"::1", "fe80::1", "2001:db8::20", "192.168.1", "192.168.1.256",
                            "1.2.3.4x", "1.2.3.4.5", "1234.1.1.1", "", "host.example", "1..2.3"}) {
        RemoteAddr addr(bad);
        auto open = Make<P::TOpen>("WEB1", 1, 0);
        EXPECT_EQ(Hex(Body(*open->GetBuffer()).substr(20, 8)), Hex(Pad("", 8))) << bad;
        auto prst = Make<P::TPrst>("WEB1", 1, 2);
        prst->SetUser("", "", 0xFF, 0xFF, 0xFF, 0x11);
        EXPECT_EQ(Hex(Body(*prst->GetBuffer()).substr(8, 4)), Hex(Pad("", 4))) << bad;
    }
}

TEST(DtpBuild, CloseCarriesBothIds) {
    RemoteAddr addr(nullptr);
    auto close = Make<P::TClose>("WEB1", 0x5, 0x10001);
    const Bytes expect = B({4, 0, 0, 0}) + Be32(5) + Be32(0x10001) + Pad("WEB1", 8) + Pad("", 8) +
                         B({9, 0, 24, 80});
    EXPECT_EQ(Hex(Body(*close->GetBuffer())), Hex(expect));
}

TEST(DtpBuild, SessionHeaderInitKeepsALongerPacket) {
    RemoteAddr addr(nullptr);
    auto open = Make<P::TOpen>("WEB1", 1, 2);
    open->GetBuffer()->PutBytes(32, "XYZ", 3);
    open->Init("WEB2", 3, 4);
    const Bytes body = Body(*open->GetBuffer());
    EXPECT_EQ(body.size(), 35u);
    EXPECT_EQ(body.substr(32), "XYZ");
    EXPECT_EQ(body.substr(12, 8), Pad("WEB2", 8));
}

TEST(DtpBuild, PrstWithoutCda) {
    RemoteAddr addr("192.168.1.20");
    auto prst = Make<P::TPrst>("WEB1", 5, 0x10001);
    ASSERT_TRUE(prst);
    prst->SetUser("web", "USER1", 0xFF, 0xFF, 0xFF, 0x11);
    prst->SetTransaction("PROG1");
    const Bytes expect = B({6, 0, 0, 0}) + Be32(0x10001) + B({0xC0, 0xA8, 0x01, 0x14}) + "web" + Zeros(6) +
                         B({3, 1, 0}) + Pad("USER1", 8) + Pad("", 4) + Pad("", 8) + Pad("", 16) +
                         B({0xFF, 0xFF, 0xFF, 0x11}) + Be16(24) + Be16(80) + B({14}) + Zeros(27) +
                         Pad("PROG1", 8) + Be32(0);
    EXPECT_EQ(Hex(Body(*prst->GetBuffer())), Hex(expect));
    EXPECT_EQ(prst->GetBuffer()->GetLength(), 108);
}

TEST(DtpBuild, PrstWithCdaAndPidPool) {
    RemoteAddr addr(nullptr);
    auto prst = Make<P::TPrst>("WEB1", 5, 0x10001);
    prst->SetUser("", "", 0xFF, 0xFF, 0xFF, 0x11);
    prst->SetTransaction("TRANSACTION", "HELLO");
    prst->SetPidValue(42);
    const Bytes body = Body(*prst->GetBuffer());
    ASSERT_EQ(body.size(), 113u);
    EXPECT_EQ(body.substr(8, 4), Pad("", 4));
    EXPECT_EQ(Hex(body.substr(12, 9)), Hex(Zeros(9)));
    EXPECT_EQ(body.substr(24, 8), Pad("", 8));
    EXPECT_EQ(body.substr(36, 8), "#0000042");
    EXPECT_EQ(body.substr(96, 8), "TRANSACT");
    EXPECT_EQ(Hex(body.substr(104, 4)), Hex(Be32(5)));
    EXPECT_EQ(body.substr(108), "HELLO");
}

TEST(DtpBuild, PrstUnixUserIdOfEightAndNineCharacters) {
    RemoteAddr addr(nullptr);
    auto eight = Make<P::TPrst>("WEB1", 5, 1);
    eight->SetUser("abcdefgh", "", 0, 0, 0, 0);
    EXPECT_EQ(Hex(Body(*eight->GetBuffer()).substr(12, 9)), Hex(Bytes("abcdefgh") + Zeros(1)));
    auto nine = Make<P::TPrst>("WEB1", 5, 1);
    nine->SetUser("abcdefghi", "", 0, 0, 0, 0);
    EXPECT_EQ(Hex(Body(*nine->GetBuffer()).substr(12, 9)), Hex(Bytes("abcdefgh ")));
}

TEST(DtpBuild, McsoFixedPart) {
    auto mcso = Make<P::TMcso>("WEB1", 5, 0x10001);
    const Bytes expect = B({30, 0, 0, 0}) + Be32(0x10001) + Pad("", 12) + Be32(0) + B({' ', 0, 0, 0});
    EXPECT_EQ(Hex(Body(*mcso->GetBuffer())), Hex(expect));
    EXPECT_EQ(mcso->GetReceiverId(), 0x10001u);
    mcso->OffsetToQorBuffer();
    EXPECT_EQ(mcso->GetBuffer()->GetOffset(), 24);
}

TEST(DtpBuild, PrenProkMsgoBuilders) {
    auto pren = Make<P::TPren>("WEB1", 5, 7);
    EXPECT_EQ(Hex(Body(*pren->GetBuffer())),
              Hex(B({8, 0, 0, 0}) + Be32(7) + Zeros(12) + B({' ', ' ', 0, 0}) + Be32(0)));
    pren->SetReason('E');
    EXPECT_EQ(pren->GetReason(), 'E');
    auto prok = Make<P::TProk>("WEB1", 5, 7);
    EXPECT_EQ(Hex(Body(*prok->GetBuffer())), Hex(B({7, 0, 0, 0}) + Zeros(16)));
    auto msgo = Make<P::TMsgo>("WEB1", 5, 7);
    EXPECT_EQ(Hex(Body(*msgo->GetBuffer())), Hex(B({11, 0, 0, 0})));
}

TEST(DtpBuild, DezUrReadValues) {
    auto read = Make<P::TDezUrRead>("WEB1", 5, 0x10001);
    const Bytes fixed = B({48, 0, 0, 0}) + Be32(0x10001) + Pad("", 8) + Be32(0) + B({' ', 0, 0, 0}) +
                        Pad("", 8) + Pad("", 24) + Zeros(8);
    EXPECT_EQ(Hex(Body(*read->GetBuffer())), Hex(fixed));

    read->SetGroup(CZelName("GROUP1", 8));
    read->SetForm(CZelName("FORM1", 24));
    read->SetValues("A", "BC", nullptr, "xyz", 3);
    const Bytes body = Body(*read->GetBuffer());
    EXPECT_EQ(body.substr(24, 8), Pad("GROUP1", 8));
    EXPECT_EQ(body.substr(32, 24), Pad("FORM1", 24));
    EXPECT_EQ(Hex(body.substr(56, 8)), Hex(Be16(3) + Be16(2) + Be16(0) + Be16(4)));
    EXPECT_EQ(Hex(body.substr(64)), Hex(Bytes("BC") + Zeros(1) + "A" + Zeros(1) + "xyz" + Zeros(1)));

    // Empty texts and no data take no bytes; a second call replaces the texts.
    read->SetValues("", nullptr, "T", "zz", 0);
    const Bytes again = Body(*read->GetBuffer());
    EXPECT_EQ(Hex(again.substr(56, 8)), Hex(Be16(0) + Be16(0) + Be16(2) + Be16(0)));
    EXPECT_EQ(Hex(again.substr(64)), Hex(Bytes("T") + Zeros(1)));
}

TEST(DtpBuild, DezUrDataKeepsEveryByteItIsGiven) {
    auto read = Make<P::TDezUrRead>("WEB1", 5, 1);
    const Bytes data = B({1, 0xFE, 2});
    read->SetValues(nullptr, nullptr, nullptr, data.data(), 3);
    EXPECT_EQ(Hex(Body(*read->GetBuffer()).substr(56)), Hex(Zeros(6) + Be16(4) + data + Zeros(1)));
}

// --- receiving ------------------------------------------------------------

TEST(DtpReceive, TooShortAndUnknownClassesAreRefused) {
    for (int cls : {2, 3, 4, 7, 8, 11, 30, 48, 49, 116, 1, 0xEE}) {
        Owned p(B({cls, 0, 0}));
        EXPECT_EQ(PktErrorCode([&] { p.packet->QueryPacketInterface(); }), 2) << cls;
    }
    Owned accept31(SessionBody(2, 1, 2).substr(0, 31));
    EXPECT_EQ(PktErrorCode([&] { accept31.packet->QueryPacketInterface(); }), 2);
    Owned open(SessionBody(1, 1, 2));
    EXPECT_EQ(PktErrorCode([&] { open.packet->QueryPacketInterface(); }), 1);
    Owned prst(B({6, 0, 0, 0}) + Zeros(104));
    EXPECT_EQ(PktErrorCode([&] { prst.packet->QueryPacketInterface(); }), 1);
    Owned garbage(B({0xEE, 0, 0, 0}) + Zeros(28));
    EXPECT_EQ(PktErrorCode([&] { garbage.packet->QueryPacketInterface(); }), 1);
    Owned prok19(B({7, 0, 0, 0}) + Zeros(15));
    EXPECT_EQ(PktErrorCode([&] { prok19.packet->QueryPacketInterface(); }), 2);
    Owned mcso23(B({30, 0, 0, 0}) + Zeros(19));
    EXPECT_EQ(PktErrorCode([&] { mcso23.packet->QueryPacketInterface(); }), 2);
    Owned hello15(Bytes("tDTP") + Zeros(11));
    EXPECT_EQ(PktErrorCode([&] { hello15.packet->QueryPacketInterface(); }), 2);
    // The refused packets are left as they were, with the owner's reference.
    EXPECT_EQ(open.packet->GetRefCount(), 1);
}

TEST(DtpReceive, SessionHeaders) {
    Owned accept(SessionBody(2, 0x10001, 0x11));
    auto a = Query<P::TAccept>(accept.packet);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->GetType(), 2);
    EXPECT_EQ(a->GetSenderId(), 0x10001u);
    EXPECT_EQ(a->GetReceiverId(), 0x11u);

    Owned reject(SessionBody(3, 0x10001, 0, 7));
    auto r = Query<P::TReject>(reject.packet);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->GetReason(), 7);
    EXPECT_EQ(r->GetReceiverId(), 0u);

    Owned close(SessionBody(4, 0x10001, 0x11) + "extra");
    auto c = Query<P::TClose>(close.packet);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->GetSenderId(), 0x10001u);
}

TEST(DtpReceive, HelloLocap) {
    Owned hello(Bytes("tDTP") + B({0, 0x21, 'W', 0}) + Pad("QOR1", 8));
    auto h = Query<P::THello>(hello.packet);
    ASSERT_TRUE(h);
    CZelName locap(8);
    h->GetLocap(locap);
    EXPECT_TRUE(locap == "QOR1");
    EXPECT_FALSE(locap == "QOR2");

    Owned nul(Bytes("tDTP") + B({0, 0x21, 'W', 0}) + Bytes("AB") + Zeros(1) + "CDEFG");
    auto n = Query<P::THello>(nul.packet);
    n->GetLocap(locap);
    EXPECT_EQ(std::string(locap.GetData(), 8), Pad("AB", 8));
}

TEST(DtpReceive, ProkAndMsgoByClassAlone) {
    Owned prok(B({7, 0, 0, 0}) + Zeros(16));
    EXPECT_TRUE(Query<P::TProk>(prok.packet));
    Owned msgo(B({11, 0, 0, 0}));
    EXPECT_TRUE(Query<P::TMsgo>(msgo.packet));
}

TEST(DtpReceive, PrenWithCda) {
    Owned pren(B({8, 0, 0, 0}) + Be32(0x11) + Zeros(12) + B({'E', ' ', 0, 0}) + Be32(6) + "FAILED");
    auto p = Query<P::TPren>(pren.packet);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->GetReceiverId(), 0x11u);
    EXPECT_EQ(p->GetReason(), 'E');
    EXPECT_EQ(p->GetCdaSize(), 6u);
    CBuffer cda;
    cda += "old:";
    EXPECT_EQ(p->GetCda(cda), 1);
    EXPECT_EQ(Body(cda), "old:FAILED");

    Owned none(B({8, 0, 0, 0}) + Be32(0x11) + Zeros(12) + B({' ', ' ', 0, 0}) + Be32(0));
    auto q = Query<P::TPren>(none.packet);
    CBuffer empty;
    EXPECT_EQ(q->GetCda(empty), 1);
    EXPECT_EQ(empty.GetLength(), 0);
}

TEST(DtpReceive, PrenCdaLengthPastTheBodyIsRefused) {
    for (uint32_t n : {7u, 1000u, 0xFFFFFFFFu, 0x80000000u}) {
        Owned pren(B({8, 0, 0, 0}) + Be32(0x11) + Zeros(12) + B({'E', ' ', 0, 0}) + Be32(n) + "FAILED");
        EXPECT_EQ(PktErrorCode([&] { pren.packet->QueryPacketInterface(); }), 2) << n;
    }
    // A view made over a packet that was cut later still never reads past it.
    Owned pren(B({8, 0, 0, 0}) + Be32(0x11) + Zeros(12) + B({'E', ' ', 0, 0}) + Be32(6) + "FAILED");
    auto p = Query<P::TPren>(pren.packet);
    pren.packet->Truncate(30);
    CBuffer cda;
    EXPECT_EQ(PktErrorCode([&] { p->GetCda(cda); }), 2);
    EXPECT_EQ(cda.GetLength(), 0);
}

TEST(DtpReceive, McsoReceiver) {
    Owned mcso(B({30, 0, 0, 0}) + Be32(0x11) + Pad("", 12) + Be32(0));
    auto m = Query<P::TMcso>(mcso.packet);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->GetReceiverId(), 0x11u);
}

namespace {

Bytes DezUrHeader(uint8_t cls, const Bytes &lengths) {
    return B({cls, 0, 0, 0}) + Be32(0x11) + Pad("", 8) + Be32(0) + B({' ', 0, 0, 0}) + Pad("DEZUR", 8) +
           Pad("DEZURFORM", 24) + lengths;
}

}  // namespace

TEST(DtpReceive, DezUrReadFromTheHost) {
    Owned read(DezUrHeader(48, Zeros(8)));
    auto r = Query<P::TDezUrRead>(read.packet);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->GetReceiverId(), 0x11u);
    CZelName group(8), form(24), shortForm(4);
    r->GetGroup(group);
    r->GetForm(form);
    r->GetForm(shortForm);
    EXPECT_TRUE(group == "DEZUR");
    EXPECT_TRUE(form == "DEZURFORM");
    EXPECT_TRUE(shortForm == "DEZU");

    Owned bad(DezUrHeader(48, Be16(3) + Zeros(6)) + "AB");
    EXPECT_EQ(PktErrorCode([&] { bad.packet->QueryPacketInterface(); }), 2);
}

TEST(DtpReceive, DezUrSendTexts) {
    Owned send(DezUrHeader(49, Zeros(4) + Be16(3) + Be16(5)) + "HDR" + Zeros(1) + "SCRN!" + Zeros(1));
    auto s = Query<P::TDezUrSend>(send.packet);
    ASSERT_TRUE(s);
    std::string header, screen;
    s->GetHeaderText(header);
    s->GetScreenText(screen);
    EXPECT_EQ(header, "HDR");
    EXPECT_EQ(screen, "SCRN!");
    EXPECT_EQ(s->GetHeaderTextLength(), 3u);
    EXPECT_EQ(s->GetScreenTextLength(), 5u);

    Owned noScreen(DezUrHeader(49, Zeros(4) + Be16(3) + Be16(0)) + "HDR");
    auto n = Query<P::TDezUrSend>(noScreen.packet);
    n->GetScreenText(screen);
    EXPECT_EQ(screen, "");

    for (const Bytes &lengths : {Zeros(4) + Be16(4) + Be16(0), Zeros(4) + Be16(3) + Be16(1),
                                 Zeros(4) + Be16(0xFFFF) + Be16(0xFFFF)}) {
        Owned bad(DezUrHeader(49, lengths) + "HDR");
        EXPECT_EQ(PktErrorCode([&] { bad.packet->QueryPacketInterface(); }), 2) << Hex(lengths);
    }
}

// --- lifetime ---------------------------------------------------------------

TEST(DtpLifetime, ViewsHoldOneReferenceEach) {
    CZelDtpPacket *packet = Received(SessionBody(2, 1, 2));
    packet->AddRef();   // the owner's reference, as the protocol's reply packet has
    TBasePktInterface *first = packet->QueryPacketInterface();
    TBasePktInterface *second = packet->QueryPacketInterface();
    EXPECT_EQ(packet->GetRefCount(), 3);
    EXPECT_EQ(first->GetBuffer(), packet);
    first->ReleasePacketInterface();
    second->ReleasePacketInterface();
    EXPECT_EQ(packet->GetRefCount(), 1);   // the owner's reference keeps it
    EXPECT_EQ(packet->Release(), 0);       // the last one deletes it
}

TEST(DtpLifetime, ReleasingTheLastViewDeletesThePacket) {
    // The sanitizer build reports a leak or a double free should this not
    // hold; the counts show the steps.
    auto *open = P::TOpen::CreatePacketInterface("WEB1", 1, 0);
    CZelDtpPacket *packet = open->GetBuffer();
    EXPECT_EQ(packet->GetRefCount(), 1);
    open->AddPacketInterfaceRef();
    EXPECT_EQ(packet->GetRefCount(), 2);
    open->TracePacketInterfaceRef(__FILE__, __LINE__);
    EXPECT_EQ(packet->Release(), 1);
    open->ReleasePacketInterface();
}

TEST(DtpLifetime, FieldWritesGrowButNeverShorten) {
    CZelDtpPacket packet(4);   // not reference-counted: it lives on the stack
    packet.PutDWord(8, 0x01020304);
    EXPECT_EQ(Hex(Body(packet)), Hex(Zeros(8) + B({1, 2, 3, 4})));
    packet.PutByte(0, 9);
    EXPECT_EQ(packet.GetLength(), 12);
    packet.PutName(2, "ABCDEFGH", 3);
    EXPECT_EQ(Body(packet).substr(2, 3), "ABC");
    EXPECT_EQ(packet.GetByte(100), 0);
    EXPECT_FALSE(packet.Has(10, 3));
    EXPECT_TRUE(packet.Has(10, 2));
}
