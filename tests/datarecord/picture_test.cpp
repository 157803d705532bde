// PICTURE strings: the item kind, length and edit mask they give, and the
// ones that are refused.
#include <gtest/gtest.h>

#include <string>

#include "DataRecord.h"
#include "DataRecordPicture.h"

namespace {

DataPicture Parse(const char *picture) {
    DataPicture p;
    EXPECT_TRUE(ParseDataPicture(picture, p)) << picture;
    return p;
}

}  // namespace

TEST(Picture, TextKinds) {
    DataPicture p = Parse("X(8)");
    EXPECT_EQ(p.type, 'X');
    EXPECT_EQ(p.length, 8u);
    EXPECT_EQ(Parse("x").length, 1u);
    EXPECT_EQ(Parse("XXX").length, 3u);
    EXPECT_EQ(Parse("u(4)").type, 'U');
    EXPECT_EQ(Parse("A(2)A").length, 3u);
    EXPECT_EQ(Parse("A(2)A").type, 'A');
}

TEST(Picture, NumericAndEdited) {
    DataPicture p = Parse("9(5)");
    EXPECT_EQ(p.type, CDataItem::TypeNumeric);
    EXPECT_EQ(p.length, 5u);
    EXPECT_EQ(Parse("Z(4)").type, CDataItem::TypeNumeric);
    EXPECT_EQ(Parse("2(4)").length, 4u);

    p = Parse("S9(5)");
    EXPECT_EQ(p.type, CDataItem::TypeEdited);
    EXPECT_EQ(p.length, 5u);
    EXPECT_TRUE(p.sign);
    EXPECT_FALSE(p.currency);
    EXPECT_EQ(p.mask, "99999");

    p = Parse("ZZ9.99");
    EXPECT_EQ(p.type, CDataItem::TypeEdited);
    EXPECT_EQ(p.length, 5u);
    EXPECT_EQ(p.mask, "ZZ9.99");

    p = Parse("$s$zz9");
    EXPECT_TRUE(p.sign);
    EXPECT_TRUE(p.currency);
    EXPECT_EQ(p.mask, "ZZ9");
    EXPECT_EQ(p.length, 3u);

    // Edit characters take no byte.
    p = Parse("ZZ,ZZ9/99:9");
    EXPECT_EQ(p.length, 8u);
    EXPECT_EQ(p.mask, "ZZ,ZZ9/99:9");
}

TEST(Picture, RepeatCopiesTheCharacterBeforeIt) {
    // A repeat after other characters keeps them in the mask.
    DataPicture p = Parse("Z9(3)");
    EXPECT_EQ(p.mask, "Z999");
    EXPECT_EQ(p.length, 4u);
    p = Parse("ZZ9.9(2)");
    EXPECT_EQ(p.mask, "ZZ9.99");
    EXPECT_EQ(p.length, 5u);
    // A repeated edit character still takes no byte.
    p = Parse("9,(2)999");
    EXPECT_EQ(p.mask, "9,,999");
    EXPECT_EQ(p.length, 4u);
}

TEST(Picture, Rejected) {
    DataPicture p;
    for (const char *bad :
         {"9(3)V99", "$X", "SA", "SU", "9(0)", "", "V", "(3)", "X(", "X(3", "X(a)", "X()",
          "X(3a)", "XA", "X9", "9A", "9 9", "X(2)(3)", "X(99999999999999999999999)",
          "X(2000000)", "-9", "9-"}) {
        EXPECT_FALSE(ParseDataPicture(bad, p)) << bad;
    }
    EXPECT_FALSE(ParseDataPicture(nullptr, p));
    EXPECT_EQ(p.length, 0u);   // nothing set
}

TEST(Picture, RecordTakesOnlyGoodPictures) {
    CDataRecord r;
    EXPECT_EQ(r.AddItem("a", "X(8)"), 1);
    EXPECT_EQ(r.AddItem("b", "9(3)V99"), 0);
    EXPECT_EQ(r.AddItem("c", "$X"), 0);
    EXPECT_EQ(r.AddItem(nullptr, "X"), 0);
    EXPECT_EQ(r.AddItem("d", nullptr), 0);
    EXPECT_EQ(r.GetSize(), 8u);
    EXPECT_EQ(r.FindItem("b"), nullptr);
    EXPECT_EQ(r.FindItem("c"), nullptr);

    ASSERT_EQ(r.AddItem("Num", "S9(5)"), 1);
    CDataItem *num = r.FindItem("NUM");
    ASSERT_NE(num, nullptr);
    EXPECT_EQ(num->GetName(), "num");
    EXPECT_TRUE(num->IsTypeOf(CDataItem::TypeEdited));
    EXPECT_NE(dynamic_cast<CEditedItem *>(num), nullptr);
    EXPECT_EQ(num->GetOffset(), 8u);
    EXPECT_EQ(num->GetSize(), 5u);
    EXPECT_EQ(r.FindItem("num", CDataItem::TypeNumeric), nullptr);
    EXPECT_EQ(r.FindItem("num", CDataItem::TypeEdited), num);

    ASSERT_EQ(r.AddItem("u", "U"), 1);
    ASSERT_EQ(r.AddItem("al", "A"), 1);
    ASSERT_EQ(r.AddItem("n", "9"), 1);
    EXPECT_NE(dynamic_cast<CUpperItem *>(r.FindItem("u")), nullptr);
    EXPECT_NE(dynamic_cast<CAlphaItem *>(r.FindItem("al")), nullptr);
    EXPECT_NE(dynamic_cast<CUpperItem *>(r.FindItem("al")), nullptr);
    EXPECT_NE(dynamic_cast<CAnyItem *>(r.FindItem("a")), nullptr);
    EXPECT_NE(dynamic_cast<CNumericItem *>(r.FindItem("n")), nullptr);

    EXPECT_EQ(r.AddItem("bin", 0), 0);
    EXPECT_EQ(r.AddItem("bin", -3), 0);
    EXPECT_EQ(r.AddItem("bin", 4), 1);
    EXPECT_TRUE(r.FindItem("bin")->IsTypeOf(CDataItem::TypeBinary));
    EXPECT_EQ(r.GetSize(), 8u + 5 + 3 + 4);
}

TEST(Picture, RecordSizeIsBounded) {
    CDataRecord r;
    EXPECT_EQ(r.AddItem("big", "X(1048576)"), 1);
    EXPECT_EQ(r.AddItem("more", "X"), 0);
    EXPECT_EQ(r.AddItem("bin", 1), 0);
    EXPECT_EQ(r.GetSize(), CDataRecord::kMaxRecordSize);
}
