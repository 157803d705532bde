// Field control modifications: host codes to flag bytes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ZelFccMods.h"

namespace {

std::vector<unsigned char> Translate(const std::string &pairs) {
    CZelFccMods m;
    m.GetBuffer().AddChars(pairs.data(), static_cast<int>(pairs.size()));
    EXPECT_EQ(m.TranslateMods(), 0);
    const CBuffer &b = m.GetBuffer();
    const auto *p = reinterpret_cast<const unsigned char *>(b.GetBuffer());
    return std::vector<unsigned char>(p, p + b.GetLength());
}

using Bytes = std::vector<unsigned char>;

}  // namespace

TEST(CZelFccMods, Intensities) {
    CZelFccMods m;
    for (char c : std::string("0123456N")) EXPECT_EQ(m.ProcessFccIntensity(c), 0) << c;
    EXPECT_EQ(m.ProcessFccIntensity('O'), 1);
    for (char c : std::string("LRS")) EXPECT_EQ(m.ProcessFccIntensity(c), 2) << c;
    for (char c : std::string("BFGH")) EXPECT_EQ(m.ProcessFccIntensity(c), 3) << c;
    EXPECT_EQ(m.ProcessFccIntensity('7'), '7');
    EXPECT_EQ(m.ProcessFccIntensity('x'), 'x');
}

TEST(CZelFccMods, PairTranslations) {
    // Each pair is followed by "!0" so that nothing is cut away.
    auto one = [](const std::string &pair) {
        Bytes b = Translate(pair + "!0");
        return Bytes(b.begin(), b.begin() + 2);
    };
    EXPECT_EQ(one("!B"), (Bytes{0x33, 0x33}));
    EXPECT_EQ(one("#O"), (Bytes{0x75, 0x00}));
    EXPECT_EQ(one(".U"), (Bytes{0x00, 0x30}));
    EXPECT_EQ(one(".P"), (Bytes{0x00, 0x33}));
    EXPECT_EQ(one(".L"), (Bytes{0x32, 0x00}));
    EXPECT_EQ(one("52"), (Bytes{0xB5, 0xB2}));
    EXPECT_EQ(one("?8"), (Bytes{0xBF, 0x00}));   // 8 is no attribute digit
    EXPECT_EQ(one(" 9"), (Bytes{0x00, 0x00}));
    EXPECT_EQ(one(" 7"), (Bytes{0x00, 0xB7}));
    EXPECT_EQ(one("*0"), (Bytes{0x00, 0xB0}));
    EXPECT_EQ(one(std::string("\0" "3", 2)), (Bytes{0x00, 0xB3}));
    EXPECT_EQ(one("A3"), (Bytes{0x00, 0xB3}));
    EXPECT_EQ(one("!x"), (Bytes{0x78, 0x33}));   // unknown intensity kept
}

TEST(CZelFccMods, OddListIsPaddedAndTailCut) {
    EXPECT_EQ(Translate("!0x"), (Bytes{0x30, 0x33}));
    EXPECT_EQ(Translate(" 9 8A "), Bytes{});      // every pair zero: empty
    // Zero pairs in the middle stay; only the tail goes.
    EXPECT_EQ(Translate(" 9!0 9"), (Bytes{0x00, 0x00, 0x30, 0x33}));
    // A pair whose bytes are at most 15 counts as empty.
    EXPECT_EQ(Translate("!0 1"), (Bytes{0x30, 0x33, 0x00, 0xB1}));
    EXPECT_EQ(Translate(""), Bytes{});
}

TEST(CZelFccMods, Queries) {
    CZelFccMods m;
    m.GetBuffer().AddChars("!B!0", 4);   // -> 33 33 30 33
    m.TranslateMods();
    m.GetBuffer() << static_cast<unsigned char>(0) << static_cast<unsigned char>(0);
    EXPECT_EQ(m.GetCount(), 3);
    EXPECT_EQ(m.InternalIsSet(1, 1, 0, 0), 1);    // 0x33
    EXPECT_EQ(m.InternalIsSet(1, 1, 1, 0), 0);    // 0x30
    EXPECT_EQ(m.InternalIsSet(1, 1, 2, 0), -1);   // 0x00
    EXPECT_EQ(m.InternalIsSet(1, 1, 3, 0), -1);   // no such pair
    EXPECT_EQ(m.InternalIsSet(1, 1, -1, 0), -1);
    EXPECT_EQ(m.InternalIsSet(1, 1, 0, 2), -1);
    EXPECT_EQ(m.InternalIsSet(3, 3, 1, 1), 1);
    EXPECT_TRUE(m.InternalIsChanged(1, 0, 1));
    EXPECT_FALSE(m.InternalIsChanged(8, 0, 0));
    EXPECT_FALSE(m.InternalIsChanged(1, 2, 0));
    EXPECT_FALSE(m.InternalIsChanged(1, 5, 0));
}

TEST(CZelFccMods, ResetAttachDetach) {
    CZelFccMods m;
    m.GetBuffer().AddChars("!B", 2);
    const int capacity = m.GetBuffer().GetActualLength();
    m.Reset();
    EXPECT_EQ(m.GetCount(), 0);
    EXPECT_EQ(m.GetBuffer().GetActualLength(), capacity);   // storage stays

    CBuffer src("!B!0", 4);
    EXPECT_EQ(m.Attach(src), 1);
    EXPECT_EQ(m.GetCount(), 2);
    EXPECT_EQ(src.GetLength(), 4);   // a copy: src keeps its bytes
    m.TranslateMods();
    CBuffer out = m.Detach();
    EXPECT_EQ(out.GetLength(), 4);
    EXPECT_EQ(m.GetCount(), 0);
    EXPECT_EQ(static_cast<unsigned char>(out.GetAt(0)), 0x33);
}
