// The PIB snapshot: fresh, short and extended forms, dates, short input.
#include <gtest/gtest.h>

#include <cctype>

#include "ArcSnapShot.h"
#include "wire_util.h"

using namespace wiretest;

namespace {

class CSnapShot : public ::testing::Test {
protected:
    void SetUp() override { CArcSnapShot::SetExtendedMode(true); }
    void TearDown() override { CArcSnapShot::SetExtendedMode(true); }
};

// A PIB whose every field holds something, with zeros where the form has
// its ignored areas; the byte at 47 is given.
Bytes FullPib(bool extended, uint8_t byte47, const std::string &date = "991231235959") {
    Bytes pib;
    for (int i = 0; i < 58; ++i) pib.push_back(static_cast<char>(0x30 + i));
    pib[47] = static_cast<char>(byte47);
    pib += Zeros(15);
    for (int i = 73; i < 112; ++i) pib.push_back(static_cast<char>(0x80 + i));
    if (extended) pib += Pad("HOST", 8) + Pad("WEB", 8) + date;
    pib += Zeros(16);
    return pib;
}

Bytes Stored(const CArcSnapShot &s) {
    CBuffer b;
    s.StoreInBuffer(b);
    return Body(b);
}

Bytes RoundTrip(const Bytes &pib) {
    CBuffer in(pib.data(), static_cast<int>(pib.size()));
    CArcSnapShot s;
    s.LoadFromBuffer(in, static_cast<int>(pib.size()));
    EXPECT_EQ(in.GetLength(), 0);   // consumed
    return Stored(s);
}

}  // namespace

TEST_F(CSnapShot, FreshSnapshot) {
    CArcSnapShot s;
    const Bytes b = Stored(s);
    ASSERT_EQ(b.size(), 156u);
    EXPECT_EQ(Hex(b.substr(28, 4)), Hex(B({0, 0xFF, 0xFF, 0xFF})));
    EXPECT_EQ(b[47], 1);
    EXPECT_EQ(b.substr(8, 20), Pad("", 20));
    EXPECT_EQ(b.substr(90, 8), Pad("", 8));
    EXPECT_EQ(Hex(b.substr(58, 15)), Hex(Zeros(15)));
    EXPECT_EQ(b.substr(112, 28), Pad("", 28));
    EXPECT_EQ(Hex(b.substr(140)), Hex(Zeros(16)));
}

TEST_F(CSnapShot, ShortFormRoundTrip) {
    const Bytes pib = FullPib(false, 0);
    const Bytes back = RoundTrip(pib);
    EXPECT_EQ(CArcSnapShot::GetLength(), 128);
    Bytes expect = pib;
    expect[47] = 1;   // a 0 there comes back as 1
    EXPECT_EQ(Hex(back), Hex(expect));

    // The short form stays for every later store until changed.
    EXPECT_EQ(Stored(CArcSnapShot()).size(), 128u);
    CArcSnapShot::SetExtendedMode(true);
    EXPECT_EQ(Stored(CArcSnapShot()).size(), 156u);
}

TEST_F(CSnapShot, ExtendedFormRoundTrip) {
    const Bytes pib = FullPib(true, 7);
    EXPECT_EQ(Hex(RoundTrip(pib)), Hex(pib));
    EXPECT_EQ(CArcSnapShot::GetLength(), 156);
}

TEST_F(CSnapShot, IgnoredAreasAreNotKept) {
    Bytes pib = FullPib(true, 7);
    pib.replace(58, 3, "abc");
    pib.replace(150, 3, "xyz");
    EXPECT_EQ(Hex(RoundTrip(pib)), Hex(FullPib(true, 7)));
}

TEST_F(CSnapShot, Dates) {
    struct Case {
        const char *in;
        const char *out;
    } cases[] = {
        {"991231235959", "991231235959"},
        {"700101000000", "700101000000"},
        {"000000000000", "000101000000"},   // year 2000; month and day at least 1
        {"691231235959", "691231235959"},   // 2069
        {" 1 2 3 4 5 6", "010203040506"},   // blank-led two-digit numbers
    };
    for (const Case &c : cases) {
        const Bytes back = RoundTrip(FullPib(true, 7, c.in));
        EXPECT_EQ(back.substr(128, 12), c.out) << c.in;
    }
}

TEST_F(CSnapShot, UnreadableDateBecomesTheCurrentTime) {
    for (const char *date : {"            ", "99123123595x", "-1-1-1-1-1-1"}) {
        const Bytes back = RoundTrip(FullPib(true, 7, date));
        const Bytes stamp = back.substr(128, 12);
        for (char c : stamp) EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(c))) << date;
        const Bytes now(CTime::GetCurrentTime().GetData(), 4);
        EXPECT_EQ(stamp.substr(0, 4), now) << date;   // year and month of today
    }
}

TEST_F(CSnapShot, LengthsBetweenTheFormsAndShortBuffers) {
    // 140 bytes announced: read as the short form, the rest not consumed.
    Bytes pib = FullPib(true, 7);
    CBuffer in(pib.data(), 140);
    CArcSnapShot s;
    s.LoadFromBuffer(in, 140);
    EXPECT_EQ(CArcSnapShot::GetLength(), 128);
    EXPECT_EQ(in.GetLength(), 12);
    EXPECT_EQ(Stored(s).substr(0, 112), pib.substr(0, 112));

    // A buffer shorter than the length announced: what is missing reads as
    // zero, and the buffer is neither read past nor grown.
    CBuffer cut(pib.data(), 40);
    CArcSnapShot t;
    t.LoadFromBuffer(cut, 156);
    EXPECT_EQ(cut.GetLength(), 0);
    EXPECT_EQ(cut.GetOffset(), 40);
    const Bytes stored = Stored(t);
    EXPECT_EQ(stored.substr(0, 40), pib.substr(0, 40));
    EXPECT_EQ(stored[47], 1);

    // A length below the short form is an assertion, nothing worse.
    CBuffer tiny(pib.data(), 10);
    CArcSnapShot u;
    u.LoadFromBuffer(tiny, 10);
    EXPECT_EQ(CArcSnapShot::GetLength(), 128);
    EXPECT_EQ(tiny.GetLength(), 0);
}

TEST_F(CSnapShot, InitializeResetsEverything) {
    const Bytes pib = FullPib(true, 7);
    CBuffer in(pib.data(), 156);
    CArcSnapShot s;
    s.LoadFromBuffer(in, 156);
    s.Initialize();
    // The eight bytes at 0 are the host's and are left as they were.
    EXPECT_EQ(Hex(Stored(s).substr(8)), Hex(Stored(CArcSnapShot()).substr(8)));
    EXPECT_EQ(Stored(s).substr(0, 8), pib.substr(0, 8));
}
