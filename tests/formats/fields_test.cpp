// Form fields as the writers see them: names, pictures and edit masks,
// HTML types by field-control level, colours, security texts and help.
#include <gtest/gtest.h>

#include "ArcTFDHeadingField.h"
#include "format_bytes.h"

using namespace fmt_test;

namespace {

TEST(FormatFields, NamesByOrdinal) {
    using M = CArcTFDDrawableFieldMeta;
    EXPECT_EQ(M::GetFieldNameCStyle(nullptr, 7), "field_007");
    EXPECT_EQ(M::GetFieldNameCStyle(nullptr, 12), "field_012");
    EXPECT_EQ(M::GetFieldNameCStyle(nullptr, 1234), "field_1234");
    EXPECT_EQ(M::GetFieldNameCobolStyle(nullptr, 7), "FIELD-007");
    CArcTFDDataField named(nullptr, nullptr, CArcTFDDataField::AlphaOnly, 255, "");
    named.SetHtmlName("cust no.1");
    EXPECT_EQ(M::GetFieldNameCStyle(&named, 3), "cust_no_1");
    EXPECT_EQ(M::GetFieldNameCobolStyle(&named, 3), "CUST-NO-1");
}

TEST(FormatFields, HtmlTypeFollowsTheFieldControlLevel) {
    const std::string area = B({3, 0x93, 0}) + "ABC" + B({2, 0x02, 0}) + B({3, 0x1E, 9});
    for (auto [level, type] : {std::pair<FccModsLevel, int>{FccModsNone, 0}, {FccModsLimited, 10}, {FccModsFull, 5}}) {
        CArcTFDFormat f;
        f.SetFccModsStyle(level);
        ASSERT_EQ(Read(f, Format(area)), Result::Success);
        for (int i = 0; i < f.GetFieldCount(); ++i) EXPECT_EQ(f.GetFieldByIdx(i)->GetHtmlType(), type) << level;
    }
}

// Only a colour of a field's own survives the read; upper-case alpha fields
// outside colour formats name their colour by a letter, always U in
// pictures.
TEST(FormatFields, Colours) {
    const std::string area = B({2, 0x01, 0x02}) + B({2, 0x01, 0x01}) + B({2, 0x01, 0x06}) + B({2, 0x12, 0x04}) +
                             B({2, 0x12, 0x03}) + B({2, 0x93, 0x03}) + "AB";
    struct {
        int flags28;
        std::vector<int> raw;
        std::string texts;
    } cases[] = {{0, {255, 1, 6, 255, 3, 255}, "UU OO FF EE EE AB"}, {0x20, {255, 1, 6, 255, 3, 255}, "UU UU UU EE EE AB"}};
    for (const auto &c : cases) {
        Hdr h;
        h.flags28 = c.flags28;
        CArcTFDFormat f;
        ASSERT_EQ(Read(f, Format(area, h)), Result::Success);
        std::vector<int> raw;
        std::string texts;
        for (int i = 0; i < f.GetFieldCount(); ++i) {
            raw.push_back(f.GetFieldByIdx(i)->GetRawColor().GetMcsColor());
            texts += (i ? " " : "") + f.GetFieldByIdx(i)->GetText();
            EXPECT_EQ(CArcTFDDrawableFieldMeta::GetFieldPicAX9(f.GetFieldByIdx(i)), i < 3 ? "U(2)" : "");
        }
        EXPECT_EQ(raw, c.raw);
        EXPECT_EQ(texts, c.texts);
        EXPECT_EQ(f.GetFieldByIdx(0)->GetColor().GetMcsColor(), 2);   // the default shows through
        EXPECT_EQ(f.GetFieldByIdx(3)->GetColor().GetMcsColor(), 4);
    }
    EXPECT_TRUE(CArcTFDColor(16).IsUndefined());
    EXPECT_EQ(CArcTFDColor(15).GetMcsColor(), 15);
}

TEST(FormatFields, EditMasks) {
    struct Case {
        const char *text;
        int check, valid;
        const char *mask, *shown;
        int negative, currency, decimals, blankWhenBlank;
    } cases[] = {
        {"$ZZ,ZZ9.99-", 0, 1, "ZZ,ZZ9.99", "$ZZ,ZZ9.99-", 1, 1, 2, 0},
        {"-$ZZ9", 0, 1, "ZZ9", "$-ZZ9", 0, 1, 0, 0},
        {"ZZ9CR", 0, 1, "ZZ9", "ZZ9CR", 2, 0, 0, 0},
        {"zz9db", 0, 1, "ZZ9", "ZZ9DB", 3, 0, 0, 0},
        {"(ZZ9)", 1, 1, "ZZ9", "(ZZ9)", 4, 0, 0, 0},
        {"(ZZ9", 1, 0, "ZZ9", "(ZZ9)", 4, 0, 0, 0},
        {"(ZZ9", 0, 1, "ZZ9", "(ZZ9)", 4, 0, 0, 0},
        {"  ZZ9A\t", 0, 0, "ZZ9?", "ZZ9?", 5, 0, 0, 0},
        {",,,", 0, 0, ",,,", ",,,", 5, 0, 0, 0},
        {"222.22", 0, 1, "222.22", "222.22", 5, 0, 2, 1},
        {"9.99999999999999999999", 0, 1, "9.999999999999999", "9.999999999999999", 5, 0, 15, 0},
        {"", 0, 0, "", "", 5, 0, 0, 0},
    };
    for (const Case &c : cases) {
        CArcTFDEditMask m;
        EXPECT_EQ(m.SetEditMaskText(c.text, c.check), c.valid) << c.text;
        EXPECT_EQ(m.StripEditMaskText(), c.mask) << c.text;
        EXPECT_EQ(m.GetEditMaskText(), c.shown) << c.text;
        EXPECT_EQ(m.GetWhenNegative(), c.negative) << c.text;
        EXPECT_EQ(m.GetFloatingCurrency(), c.currency) << c.text;
        EXPECT_EQ(m.GetDecimalPoint(), c.decimals) << c.text;
        EXPECT_EQ(m.GetBlankWhenBlank(), c.blankWhenBlank) << c.text;
    }
    CArcTFDEditMask m;
    m.SetEditMaskText("ZZ9CR", 0);
    EXPECT_EQ(m.GetEditMaskTextForSave(), "ZZ9  ");
    EXPECT_EQ(m.GetNumberOfDigits(), 3);
    m.SetBlankWhenBlank(1);
    m.SetDecimalPoint(2);
    EXPECT_EQ(m.StripEditMaskText(), "ZZ2.22");
}

TEST(FormatFields, SecurityTexts) {
    struct Case {
        const char *text;
        int understood, level, exact;
        const char *rebuilt;
    } cases[] = {
        {"$<7", 1, 7, 0, "$<7"},     {"$=255", 1, 255, 1, "$>"}, {"$>", 1, 255, 0, "$>"},
        {"$>junk", 1, 255, 0, "$>"}, {"$=0", 1, 0, 1, "$=0"},    {"$<", 0, 50, 0, "$<50"},
        {"$<300", 0, 50, 0, "$<50"}, {"$<-1", 0, 50, 0, "$<50"}, {"$<99999999999999999999", 0, 50, 0, "$<50"},
        {"$<7x", 0, 50, 0, "$<50"},  {"<7", 0, 50, 0, "$<50"},
    };
    for (const Case &c : cases) {
        CArcTFDSecurityField f(nullptr, nullptr);
        EXPECT_EQ(CArcTFDSecurityField::ParseSecurityText(c.text, nullptr, nullptr), c.understood) << c.text;
        f.SetText(c.text);
        EXPECT_EQ(f.GetSecurityLevel(), c.level) << c.text;
        EXPECT_EQ(f.GetMustBeEqual(), c.exact) << c.text;
        EXPECT_EQ(f.GetText(), c.rebuilt) << c.text;
        EXPECT_EQ(f.GetLength(), static_cast<int>(f.GetText().size()));
    }
}

TEST(FormatFields, TextShortcutsAndSpecialTokens) {
    struct {
        const char *text;
        int type, n;
    } shortcuts[] = {{"x(12)", 2, 12}, {"9(3)", 4, 3}, {"A(0)", 0, 0}, {"A()", 0, 0}, {"A12)", 0, 0},
                     {"A(1x)", 0, 0}, {"Q(4)", 0, 0}, {"Z(99999999999)", 0, 0}};
    for (const auto &c : shortcuts) {
        int n = -1;
        EXPECT_EQ(CArcTFDDrawableFieldMeta::IsParenLenShortcut(c.text, &n), c.type) << c.text;
        EXPECT_EQ(n, c.n) << c.text;
    }
    CArcTFDSpecialField special(nullptr, nullptr, CArcTFDSpecialField::SpecialNone);
    special.SetText("$hhmm");
    EXPECT_EQ(special.GetSpecialType(), CArcTFDSpecialField::HourMinute);
    EXPECT_EQ(special.GetText(), "$HHMM");
    EXPECT_EQ(special.GetLength(), 5);
    special.SetText("$HHMMX");
    EXPECT_EQ(special.GetSpecialType(), CArcTFDSpecialField::SpecialNone);
    EXPECT_EQ(special.GetLength(), 0);
}

// A help block gives ids to the fields that cover its entries' places and
// changes nothing else; entries stop where the data does.
TEST(FormatFields, HelpBlock) {
    const std::string area = B({5, 0x93, 0}) + "NAME:" + B({10, 0x02, 0}) + B({0, 0x14, 0}) + B({3, 0x02, 0});
    auto entry = [](int row, int column, const std::string &id) { return B({row, column, 8}) + id; };
    const std::string help = B({'J', 0, 5, 6, 7, 0, 0, 0}) + "SYSHELP " + "  SCR   " +
                             B({2, 3, 10, 60, 0, 0x11, 0x22, 0, 0, 0, 0, 0, 0, 0, 0, 4}) +
                             entry(1, 8, "FLDHELP1") + entry(2, 1, "        ") + entry(5, 5, "NOWHERE ") +
                             entry(1, 1, "HEAD")   /* cut short: dropped */;
    CArcTFDFormat plain, helped;
    ASSERT_EQ(Read(plain, Format(area)), Result::Success);
    ASSERT_EQ(Read(helped, Format(area, Hdr(), help)), Result::Success);
    EXPECT_EQ(DescribeAll(helped), DescribeAll(plain));
    std::vector<std::string> ids;
    for (int i = 0; i < helped.GetFieldCount(); ++i) ids.push_back(helped.GetFieldByIdx(i)->GetHelpId());
    EXPECT_EQ(ids, (std::vector<std::string>{"", "FLDHELP1", ""}));
    const CArcTFDHelp &h = helped.GetHelpDataConst();
    EXPECT_EQ(h.GetHelpPresent(), 1);
    EXPECT_EQ(h.GetSystemHelpFKey() * 100 + h.GetScreenHelpFKey() * 10 + h.GetFieldHelpFKey(), 567);
    EXPECT_EQ(h.GetSystemHelpId(), "SYSHELP");
    EXPECT_EQ(h.GetScreenHelpId(), "SCR");
    EXPECT_EQ(h.GetHelpRect().top * 1000000 + h.GetHelpRect().left * 10000 + h.GetHelpRect().bottom * 100 +
                  h.GetHelpRect().right,
              1020959);
    EXPECT_EQ(h.GetHelpFrameAttr(), 0x11u);
    EXPECT_EQ(h.GetHelpTextAttr(), 0x22u);

    // 39 bytes after the field area are no help block; a first byte other
    // than 'J' is none either.
    for (const std::string &tail : {help.substr(0, 39), "K" + help.substr(1)}) {
        CArcTFDFormat f;
        ASSERT_EQ(Read(f, Format(area, Hdr(), tail)), Result::Success);
        EXPECT_EQ(f.GetHelpPresent(), 0);
        EXPECT_EQ(f.GetFieldByIdx(1)->GetHelpId(), "");
    }
}

// The data fields' places in the host data and their total, as the field
// file and the hidden size fields of the page need them.
TEST(FormatFields, DataTotalsAndLookups) {
    const std::string area = B({5, 0x93, 0}) + "NAME:" + B({10, 0x42, 0}) + B({9, 0x0C, 0, 0x12, 8}) +
                             "ZZZZZ9.99" + B({0, 0x14, 0}) + B({4, 0x12, 0}) + B({3, 0x82, 0});
    CArcTFDFormat f;
    ASSERT_EQ(Read(f, Format(area)), Result::Success);
    EXPECT_EQ(f.GetTotalLengthOfDataFields(), 10 + 8 + 3);
    EXPECT_EQ(f.GetFieldFromPos(0, 14), f.GetFieldByIdx(1));
    EXPECT_EQ(f.GetNextFieldFromPos(0, 30), f.GetFieldByIdx(3));
    EXPECT_EQ(f.GetPrevFieldFromPos(1, 3), f.GetFieldByIdx(3));
    EXPECT_EQ(f.GetNextUnprotectedFieldFromPos(0, 0), f.GetFieldByIdx(1));
    EXPECT_EQ(f.GetFirstUnprotectedPos(), std::make_pair(0, 5));
    CArcTFD::SetOfPointers_t sorted;
    for (int i = f.GetFieldCount() - 1; i >= 0; --i) sorted.Insert(f.GetFieldByIdx(i));
    std::vector<CArcTFDDrawableField *> order(sorted.begin(), sorted.end());
    EXPECT_EQ(order, (std::vector<CArcTFDDrawableField *>{f.GetFieldByIdx(0), f.GetFieldByIdx(1), f.GetFieldByIdx(2),
                                                          f.GetFieldByIdx(3), f.GetFieldByIdx(4)}));
    // A clone keeps the id, and at the same place it is the same element.
    std::unique_ptr<CArcTFDDrawableField> twin = f.GetFieldByIdx(0)->Clone();
    EXPECT_EQ(twin->GetId(), f.GetFieldByIdx(0)->GetId());
    EXPECT_EQ(twin->GetText(), "NAME:");
    EXPECT_FALSE(sorted.Insert(twin.get()));
}

}  // namespace
