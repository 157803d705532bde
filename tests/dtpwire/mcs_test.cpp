// MCS messages inside MCSO packets: screen input and format requests as the
// gateway builds them, program messages and format replies as it reads them.
#include <gtest/gtest.h>

#include <vector>

#include "ArcMcsData.h"
#include "ArcSnapShot.h"
#include "McsInterface.h"
#include "ZelName.h"
#include "wire_util.h"

using namespace wiretest;
using P = CZelDtpPacket;

namespace {

Bytes Param(const Bytes &value, uint16_t type = 3) {
    return Be16(static_cast<uint16_t>(value.size())) + Be16(type) + value;
}

// A host MCSO: ids 1 to 4, then the sub-packet with these parameters.
Bytes McsoBody(uint16_t type, uint16_t index, const std::vector<Bytes> &params, int count = -1) {
    Bytes ps;
    unsigned sum = 0;
    for (const Bytes &p : params) {
        ps += Param(p);
        sum += static_cast<unsigned>(p.size()) + 4;
    }
    if (count < 0) count = static_cast<int>(params.size());
    return B({30, 0, 0, 0}) + Be32(0x11) + Pad("", 12) + Be32(0) + Be32(1) + Be32(2) + Be32(3) + Be32(4) +
           Be16(type) + Be16(index) + Be16(static_cast<uint16_t>(count)) + Be16(static_cast<uint16_t>(sum)) +
           ps;
}

Bytes Pib(size_t length, const std::string &date = "991231235959") {
    Bytes pib = Zeros(8) + Pad("PROG1", 8) + Pad("", 4) + Pad("", 8) + B({0, 0xFF, 0xFF, 0xFF}) + Zeros(15) +
                B({1}) + Zeros(112 - 48);
    pib.replace(90, 8, Pad("MENU", 8));
    if (length > 128) pib += Pad("QOR1", 8) + Pad("WEB1", 8) + date + Zeros(16);
    else pib += Zeros(16);
    return pib;
}

Bytes McsHeader(const std::string &name, uint16_t count, char status = ' ', const std::string &terminal = "T001") {
    return Pad(name, 8) + Pad(terminal, 4) + B({' ', ' '}) + Be16(1920) + B({status, ' '}) + Be16(count);
}

struct Owned {
    explicit Owned(const Bytes &body) : packet(Received(body)) { packet->AddRef(); }
    ~Owned() { packet->Release(); }
    CZelDtpPacket *packet;
};

// The MCS view of a received MCSO body.
struct Incoming {
    explicit Incoming(const Bytes &body) : owned(body) {
        TBasePktInterface *view = owned.packet->QueryPacketInterface();
        mcso.reset(dynamic_cast<P::TMcso *>(view));
    }
    TMcsInterface *Query() {
        mcs.reset(mcso->QueryMcsInterface());
        return mcs.get();
    }
    Owned owned;
    TPktInterfacePtr<P::TMcso> mcso;
    TPktInterfacePtr<TMcsInterface> mcs;
};

int McsErrorCode(const Bytes &body) {
    Incoming r(body);
    return PktErrorCode([&] { r.Query(); });
}

class CMcs : public ::testing::Test {
protected:
    void TearDown() override { CArcSnapShot::SetExtendedMode(true); }
};

}  // namespace

// --- building -------------------------------------------------------------

TEST_F(CMcs, ScreenInputFromRawBuffers) {
    TPktInterfacePtr<P::TMcso> mcso(P::TMcso::CreatePacketInterface("WEB1", 5, 0x10001));
    TPktInterfacePtr<TMcsInterface> mcs(mcso->CreateMcsInterface('I'));
    ASSERT_TRUE(mcs);
    EXPECT_EQ(mcs->GetMcsType(), 'I');
    EXPECT_EQ(mcso->GetBuffer()->GetRefCount(), 2);
    auto *msgi = dynamic_cast<TQorMsgi *>(mcs.get());
    ASSERT_NE(msgi, nullptr);

    const Bytes pib = Pib(128);
    const Bytes screen = McsHeader("MENU", 100) + Bytes(100, 'x');
    CBuffer pibBuffer(pib.data(), 128), screenBuffer(screen.data(), 120);
    msgi->Init(pibBuffer, screenBuffer, 1, 2, 3, 4);

    const Bytes body = Body(*mcso->GetBuffer());
    EXPECT_EQ(Hex(body.substr(0, 24)), Hex(B({30, 0, 0, 0}) + Be32(0x10001) + Pad("", 12) + Be32(0)));
    EXPECT_EQ(Hex(body.substr(24, 24)),
              Hex(Be32(1) + Be32(2) + Be32(3) + Be32(4) + Be16(139) + Be16(3) + Be16(2) + Be16(256)));
    EXPECT_EQ(Hex(body.substr(48)), Hex(Param(pib) + Param(screen)));
    EXPECT_EQ(msgi->GetParamCount(), 2u);
}

TEST_F(CMcs, ScreenInputFromObjects) {
    TPktInterfacePtr<P::TMcso> mcso(P::TMcso::CreatePacketInterface("WEB1", 5, 7));
    TPktInterfacePtr<TMcsInterface> mcs(mcso->CreateMcsInterface('I'));
    CArcSnapShot snapshot;
    CArcMcsData screen;
    screen.SetName("ECHO");
    screen.SetStatus('3');
    screen.SetSize(1920);
    dynamic_cast<TQorMsgi &>(*mcs).Init(snapshot, screen, 9, 8, 7, 6);

    CBuffer pib;
    snapshot.StoreInBuffer(pib);
    const Bytes body = Body(*mcso->GetBuffer());
    EXPECT_EQ(Hex(body.substr(40, 8)), Hex(Be16(139) + Be16(3) + Be16(2) + Be16(156 + 20 + 8)));
    EXPECT_EQ(Hex(body.substr(48)), Hex(Param(Body(pib)) + Param(McsHeader("ECHO", 0, '3', ""))));
    unsigned ids[4];
    mcs->GetIds(ids);
    EXPECT_EQ(ids[0], 9u);
    EXPECT_EQ(ids[3], 6u);
}

TEST_F(CMcs, FormatRequest) {
    TPktInterfacePtr<P::TMcso> mcso(P::TMcso::CreatePacketInterface("WEB1", 5, 0x10001));
    TPktInterfacePtr<TMcsInterface> mcs(mcso->CreateMcsInterface('F'));
    ASSERT_EQ(mcs->GetMcsType(), 'S');
    dynamic_cast<TQorScrFmt &>(*mcs).Init(CZelName("MENU", 8), 1, 2, 3, 4);
    const Bytes body = Body(*mcso->GetBuffer());
    ASSERT_EQ(body.size(), 60u);
    EXPECT_EQ(Hex(body.substr(40)),
              Hex(Be16(200) + Be16(0) + Be16(1) + Be16(12) + Be16(8) + Be16(3) + Pad("MENU", 8)));

    // The same request made from a screen's MCS header.
    TPktInterfacePtr<P::TMcso> other(P::TMcso::CreatePacketInterface("WEB1", 5, 0x10001));
    TPktInterfacePtr<TMcsInterface> fmt(other->CreateMcsInterface('F'));
    CArcMcsData screen;
    screen.SetName("MENU");
    dynamic_cast<TQorScrFmt &>(*fmt).Init(CArcSnapShot(), screen, 1, 2, 3, 4);
    EXPECT_EQ(Hex(Body(*other->GetBuffer())), Hex(body));
}

TEST_F(CMcs, LettersThatCannotBeBuilt) {
    TPktInterfacePtr<P::TMcso> mcso(P::TMcso::CreatePacketInterface("WEB1", 5, 7));
    for (char c : {'O', 'X', 'S', '\0'})
        EXPECT_EQ(PktErrorCode([&] { mcso->CreateMcsInterface(c); }), 1) << c;
    EXPECT_EQ(mcso->GetBuffer()->GetRefCount(), 1);
}

TEST_F(CMcs, AddParamAfterInitKeepsCountAndSum) {
    TPktInterfacePtr<P::TMcso> mcso(P::TMcso::CreatePacketInterface("WEB1", 5, 7));
    TPktInterfacePtr<TMcsInterface> mcs(mcso->CreateMcsInterface('F'));
    dynamic_cast<TQorScrFmt &>(*mcs).Init(CZelName("MENU", 8), 0, 0, 0, 0);
    mcs->AddParam(static_cast<int>(0x01020304));
    mcs->AddParam(static_cast<short>(-2));
    mcs->AddParam(std::string("abc"));
    const Bytes body = Body(*mcso->GetBuffer());
    EXPECT_EQ(Hex(body.substr(44, 4)), Hex(Be16(4) + Be16(12 + 8 + 6 + 7)));
    EXPECT_EQ(Hex(body.substr(60)), Hex(Be16(4) + Be16(2) + B({1, 2, 3, 4}) + Be16(2) + Be16(1) +
                                         B({0xFF, 0xFE}) + Be16(3) + Be16(3) + "abc"));
    EXPECT_EQ(mcs->GetParamCount(), 4u);
}

TEST_F(CMcs, ParametersThatDoNotFitAreRefused) {
    TPktInterfacePtr<P::TMcso> mcso(P::TMcso::CreatePacketInterface("WEB1", 5, 7));
    TPktInterfacePtr<TMcsInterface> mcs(mcso->CreateMcsInterface('I'));
    CBuffer big(70000);
    CBuffer pib(156);
    EXPECT_EQ(PktErrorCode([&] { dynamic_cast<TQorMsgi &>(*mcs).Init(pib, big, 0, 0, 0, 0); }), 4);
    CBuffer large(40000);
    EXPECT_EQ(PktErrorCode([&] { dynamic_cast<TQorMsgi &>(*mcs).Init(large, large, 0, 0, 0, 0); }), 4);
    EXPECT_EQ(mcs->GetParamCount(), 1u);   // the first one fitted
}

// --- reading --------------------------------------------------------------

TEST_F(CMcs, ProgramMessageWithEveryParameter) {
    const Bytes screen = McsHeader("MENU", 10) + "0123456789";
    Incoming r(McsoBody(129, 1, {Pib(156), screen, B({0x33, 0x33, '*', 0}), "  *  ", "BAD INPUT"}));
    TMcsInterface *mcs = r.Query();
    ASSERT_NE(mcs, nullptr);
    EXPECT_EQ(mcs->GetMcsType(), 'O');
    EXPECT_EQ(r.owned.packet->GetRefCount(), 3);
    auto *msgo = dynamic_cast<TQorMsgo *>(mcs);
    ASSERT_NE(msgo, nullptr);

    unsigned ids[4];
    msgo->GetIds(ids);
    EXPECT_EQ(ids[0], 1u);
    EXPECT_EQ(ids[3], 4u);

    CArcSnapShot::SetExtendedMode(false);
    CArcSnapShot snapshot;
    EXPECT_EQ(msgo->GetSnapShot(snapshot), 1);
    EXPECT_EQ(CArcSnapShot::GetLength(), 156);
    EXPECT_TRUE(snapshot.GetTransactionId() == "PROG1");
    EXPECT_EQ(std::string(snapshot.GetDate().GetData(), 12), "991231235959");

    CArcMcsData data;
    EXPECT_EQ(msgo->GetMcsData(data), 1);
    EXPECT_EQ(data.GetName(), "MENU    ");
    EXPECT_EQ(data.GetCount(), 10);
    EXPECT_EQ(Body(data.GetDataBuffer()), "0123456789");
    CBuffer raw;
    EXPECT_EQ(msgo->GetMcsData(raw), 1);
    EXPECT_EQ(Body(raw), screen);

    CBuffer fcc;
    EXPECT_EQ(msgo->GetFccMods(fcc), 1);
    EXPECT_EQ(Hex(Body(fcc)), Hex(B({0x33, 0x33, '*', 0})));
    int cursor = 0;
    EXPECT_EQ(msgo->GetCursorModIndex(cursor), 1);
    EXPECT_EQ(cursor, 2);
    std::string error;
    EXPECT_EQ(msgo->GetErrorText(error), 1);
    EXPECT_EQ(error, "BAD INPUT");
    // The reads leave the packet's offset where it was.
    EXPECT_EQ(r.owned.packet->GetOffset(), 4);
}

TEST_F(CMcs, ShortPibAndMissingParameters) {
    Incoming r(McsoBody(129, 2, {Pib(128), McsHeader("MENU", 0), "no star here"}));
    auto *msgo = dynamic_cast<TQorMsgo *>(r.Query());
    ASSERT_NE(msgo, nullptr);
    EXPECT_EQ(msgo->GetMcsType(), 'V');
    CArcSnapShot snapshot;
    ASSERT_EQ(msgo->GetSnapShot(snapshot), 1);
    EXPECT_EQ(CArcSnapShot::GetLength(), 128);
    CBuffer stored;
    snapshot.StoreInBuffer(stored);
    EXPECT_EQ(Hex(Body(stored)), Hex(Pib(128)));

    int cursor = 7;
    EXPECT_EQ(msgo->GetCursorModIndex(cursor), 0);   // parameter 3 is missing
    EXPECT_EQ(cursor, -1);
    std::string error = "old";
    EXPECT_EQ(msgo->GetErrorText(error), 0);
    EXPECT_EQ(error, "");
    int length = 0, type = 0, offset = 0;
    EXPECT_EQ(msgo->GetParamInfo(3, length, type, offset), 0);
    EXPECT_EQ(msgo->GetParamInfo(-1, length, type, offset), 0);
    ASSERT_EQ(msgo->GetParamInfo(2, length, type, offset), 1);
    EXPECT_EQ(length, 12);
    EXPECT_EQ(type, 3);
    EXPECT_EQ(offset, 48 + 4 + 128 + 4 + 20 + 4);

    Incoming star(McsoBody(129, 1, {Pib(156), McsHeader("MENU", 0), Bytes("")}));
    auto *m = dynamic_cast<TQorMsgo *>(star.Query());
    int none = 0;
    EXPECT_EQ(m->GetCursorModIndex(none), 0);
    Incoming empty(McsoBody(129, 1, {Pib(156), McsHeader("MENU", 0), "", "", ""}));
    auto *e = dynamic_cast<TQorMsgo *>(empty.Query());
    EXPECT_EQ(e->GetCursorModIndex(none), 1);
    EXPECT_EQ(none, -1);
}

TEST_F(CMcs, PibShorterThanItsShortFormIsRefused) {
    Incoming r(McsoBody(129, 1, {Pib(128).substr(0, 100), McsHeader("MENU", 0)}));
    auto *msgo = dynamic_cast<TQorMsgo *>(r.Query());
    ASSERT_NE(msgo, nullptr);
    CArcSnapShot snapshot;
    EXPECT_EQ(PktErrorCode([&] { msgo->GetSnapShot(snapshot); }), 4);
    CBuffer raw;
    EXPECT_EQ(msgo->GetSnapShot(raw), 1);
    EXPECT_EQ(raw.GetLength(), 100);
}

TEST_F(CMcs, FunctionLetters) {
    const char *expect = "?OVIEAYLMRT01F?";
    for (int i = 0; i <= 14; ++i) EXPECT_EQ(P::TMcso::GetMcsFunction(i), expect[i]) << i;
    EXPECT_EQ(P::TMcso::GetMcsFunction(-1), '?');
}

TEST_F(CMcs, WhichProgramMessagesAreAccepted) {
    const std::vector<Bytes> params{Pib(156), McsHeader("MENU", 0)};
    for (int index : {1, 2, 4}) {
        Incoming r(McsoBody(129, static_cast<uint16_t>(index), params));
        EXPECT_EQ(r.Query()->GetMcsType(), P::TMcso::GetMcsFunction(index));
    }
    Incoming freeMsg(McsoBody(129, 13, {}));
    EXPECT_EQ(freeMsg.Query()->GetMcsType(), 'F');
    EXPECT_NE(dynamic_cast<TQorFree *>(freeMsg.mcs.get()), nullptr);

    for (int index : {0, 3, 5, 6, 12, 14, 0xFFFF})
        EXPECT_EQ(McsErrorCode(McsoBody(129, static_cast<uint16_t>(index), params)), 4) << index;
    for (int type : {0, 139, 200, 130, 0xFFFF})
        EXPECT_EQ(McsErrorCode(McsoBody(static_cast<uint16_t>(type), 1, params)), 4) << type;
}

TEST_F(CMcs, SubPacketsThatLeaveTheBodyAreRefused) {
    // Five parameters announced, none present.
    EXPECT_EQ(McsErrorCode(McsoBody(129, 1, {}, 5)), 4);
    // A parameter whose length runs past the end.
    Bytes cut = McsoBody(129, 1, {Pib(156), McsHeader("MENU", 0)});
    cut.resize(cut.size() - 3);
    EXPECT_EQ(McsErrorCode(cut), 4);
    // A parameter header cut in two.
    Bytes half = McsoBody(129, 1, {Pib(156)}, 2) + B({0});
    EXPECT_EQ(McsErrorCode(half), 4);
    // Shorter than the sub-packet's fixed part.
    for (size_t n : {24u, 25u, 40u, 47u}) EXPECT_EQ(McsErrorCode(McsoBody(129, 1, {}).substr(0, n)), 4) << n;
    // Number parameters take their fixed length whatever the length word says.
    Bytes numbers = McsoBody(129, 1, {}, 3) + Be16(9) + Be16(0) + B({1}) + Be16(0) + Be16(1) + B({0, 2}) +
                    Be16(1) + Be16(2) + B({0, 0, 0, 3});
    Incoming r(numbers);
    TMcsInterface *mcs = r.Query();
    int length = 0, type = 0, offset = 0;
    ASSERT_EQ(mcs->GetParamInfo(2, length, type, offset), 1);
    EXPECT_EQ(length, 4);
    EXPECT_EQ(type, 2);
    EXPECT_EQ(offset, 48 + 5 + 6 + 4);
}

TEST_F(CMcs, AWalkPastACutPacketThrows) {
    Incoming r(McsoBody(129, 1, {Pib(156), McsHeader("MENU", 0)}));
    auto *msgo = dynamic_cast<TQorMsgo *>(r.Query());
    r.owned.packet->Truncate(100);
    CArcMcsData data;
    EXPECT_EQ(PktErrorCode([&] { msgo->GetMcsData(data); }), 4);
}

TEST_F(CMcs, FormatReply) {
    Bytes record = B({3}) + Pad("GROUP", 8) + Pad("MENU", 8) + Zeros(3) + B({55, 12, 31, 23, 59, 58, 0, 0}) +
                   Pad("MAIN MENU", 40);
    ASSERT_EQ(record.size(), 68u);
    const Bytes t3z = Bytes(48, '\x01') + "fields";
    Incoming r(McsoBody(199, 0, {"MENU", record + t3z}));
    auto *fmt = dynamic_cast<TQorScrFmt *>(r.Query());
    ASSERT_NE(fmt, nullptr);
    EXPECT_EQ(fmt->GetMcsType(), 'S');
    std::string text;
    EXPECT_EQ(fmt->GetName(text), 1);
    EXPECT_EQ(text, "MENU");
    EXPECT_EQ(fmt->GetFormatType(), 3);
    fmt->GetFormatGroup(text);
    EXPECT_EQ(text, Pad("GROUP", 8));
    fmt->GetFormatName(text);
    EXPECT_EQ(text, Pad("MENU", 8));
    fmt->GetFormatDescription(text);
    EXPECT_EQ(text, Pad("MAIN MENU", 40));
    CTime date(12);
    fmt->GetFormatDate(date);
    EXPECT_EQ(std::string(date.GetData(), 12), "251231235958");

    int offset = 0;
    unsigned short length = 0;
    ASSERT_EQ(fmt->GetFormatOffset(offset, length), 1);
    EXPECT_EQ(length, t3z.size());
    EXPECT_EQ(fmt->GetFormatLength(), t3z.size());
    EXPECT_EQ(Bytes(r.owned.packet->GetBuffer() + offset, length), t3z);
}

TEST_F(CMcs, FormatReplyWithoutAUsableRecord) {
    Incoming noRecord(McsoBody(199, 0, {"MENU"}));
    auto *fmt = dynamic_cast<TQorScrFmt *>(noRecord.Query());
    int offset = 1;
    unsigned short length = 1;
    EXPECT_EQ(fmt->GetFormatOffset(offset, length), 0);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(fmt->GetFormatType(), 0);
    std::string text = "x";
    fmt->GetFormatGroup(text);
    EXPECT_EQ(text, "");
    CTime date(12);
    fmt->GetFormatDate(date);
    EXPECT_EQ(std::string(date.GetData(), 12), "000000000000");

    Incoming shortRecord(McsoBody(199, 0, {"MENU", B({3}) + Pad("GROUP", 8) + Pad("MENU", 8)}));
    auto *s = dynamic_cast<TQorScrFmt *>(shortRecord.Query());
    EXPECT_EQ(s->GetFormatOffset(offset, length), 0);
    EXPECT_EQ(s->GetFormatLength(), 0);
    s->GetFormatName(text);
    EXPECT_EQ(text, Pad("MENU", 8));
    s->GetFormatDescription(text);
    EXPECT_EQ(text, "");
}
