// The format model beyond one read: fields written back as descriptors and
// read again, lookups over overlapping fields, ids as text, pictures and
// types from designer texts, and the field factory.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "ArcTFDHeadingField.h"
#include "format_bytes.h"

using namespace fmt_test;

namespace {

std::string SaveAll(const CArcTFDFormat &f) {
    CBuffer out;
    int n = 0;
    for (int i = 0; i < f.GetFieldCount(); ++i) n += f.GetFieldByIdx(i)->SaveIntoBuffer(out);
    EXPECT_EQ(n, out.GetLength());
    return std::string(out.GetBuffer(), static_cast<size_t>(out.GetLength()));
}

TEST(FormatModel, FieldsWrittenBackReadTheSame) {
    const std::string area = B({5, 0x93, 0}) + "NAME:" + B({5, 0x41, 0x40}) + "ABCDE" + B({4, 0x09, 0, 3, 0x0A, 0}) +
                             B({9, 0x0C, 0, 0x12, 8}) + "ZZZZZ9.99" + B({5, 0x98, 0, 3, 0x3E, 9, 4, 0x12, 0, 2, 0x04, 0}) +
                             B({70, 0x93, 0}) + std::string(70, 'h');
    // A screen wide enough for the fields written back in pieces.
    Hdr wide;
    wide.columns = 255;
    CArcTFDFormat f, again;
    ASSERT_EQ(Read(f, Format(area, wide)), Result::Success);
    ASSERT_EQ(Read(again, Format(SaveAll(f), wide)), Result::Success);
    std::vector<std::string> expected = DescribeAll(f);
    expected.back() = "H 0,40 63 \"" + std::string(63, 'h') + "\"";   // long headings go in pieces
    expected.push_back("H 0,103 7 \"hhhhhhh\"");
    EXPECT_EQ(DescribeAll(again), expected);

    // Fields wider than a descriptor's 127 columns go back with continued
    // descriptors before them.
    ASSERT_EQ(Read(f, Format(B({100, 0x03, 0, 100, 0x42, 0x40}) + std::string(200, 'd') +
                                 B({100, 0x03, 0, 40, 0x12, 0}),
                             wide)),
              Result::Success);
    ASSERT_EQ(Read(again, Format(SaveAll(f), wide)), Result::Success);
    EXPECT_EQ(DescribeAll(again), DescribeAll(f));
    EXPECT_EQ(DescribeAll(f)[1], "E 0,200 140 @0+140");

    Hdr sfs;
    sfs.flags29 = 0x20;
    ASSERT_EQ(Read(f, Format(B({5, 0x10, 0, 0x84, 2, 0x02, 0}), sfs)), Result::Success);
    ASSERT_EQ(Read(again, Format(SaveAll(f), sfs)), Result::Success);
    EXPECT_EQ(DescribeAll(again), DescribeAll(f));
    EXPECT_EQ(DescribeAll(f), std::vector<std::string>{"D 0,0 2 #1 @0+2 X(2) sfs5/84"});
}

// Zero-width security and special fields overlap the fields after them;
// the lookups that take one pass over the fields must agree with the
// plain ones field by field.
TEST(FormatModel, OverlappingFieldsLookups) {
    const std::string area = B({0, 0x9E, 7, 5, 0x82, 0, 0, 0x97, 0, 2, 0x02, 0, 3, 0x82, 0, 4, 0x02, 0, 0, 0x14, 0}) +
                             B({10, 0x93, 0}) + "ABCDEFGHIJ" +
                             B({0, 0x9E, 255, 2, 0x82, 0, 0, 0x98, 0, 1, 0x02, 0, 0, 0x14, 0}) +
                             B({0x85, 0, 0, 'x', 3, 0x82, 0});
    std::string help;
    std::vector<std::pair<int, int>> places;
    for (int r = 3; r >= 0; --r)
        for (int c = 20; c >= 0; --c) places.push_back({r, c});
    for (auto [r, c] : places) {
        char id[9];
        std::snprintf(id, sizeof id, "R%dC%-5d", r, c);
        help += B({r + 1, c + 1, 1}) + std::string(id, 8);
    }
    help = B({'J', 0, 1, 2, 3, 0, 0, 0}) + std::string(16, ' ') + std::string(14, '\0') +
           B({static_cast<int>(places.size()) >> 8, static_cast<int>(places.size()) & 255}) + help;
    CArcTFDFormat f;
    ASSERT_EQ(Read(f, Format(area, Hdr(), help)), Result::Success);
    ASSERT_EQ(f.GetFieldCount(), 13);

    std::map<const CArcTFDDrawableField *, std::string> ids;
    for (auto [r, c] : places) {
        if (const CArcTFDDrawableField *x = f.GetFieldFromPos(r, c)) {
            char id[9];
            std::snprintf(id, sizeof id, "R%dC%d", r, c);
            ids[x] = id;
        }
        const CArcTFDDrawableField *x = f.GetNextFieldFromPos(r, c);
        int row = r, column = c;
        while (x && x->IsProtected()) {
            row = x->GetRow();
            column = x->GetColumn() + std::max(x->GetLength(), 1);
            x = f.GetNextFieldFromPos(row, column);
        }
        EXPECT_EQ(f.GetNextUnprotectedFieldFromPos(r, c), x) << r << "," << c;
    }
    for (int i = 0; i < f.GetFieldCount(); ++i) {
        const CArcTFDDrawableField *x = f.GetFieldByIdx(i);
        EXPECT_EQ(x->GetHelpId(), ids.count(x) ? ids[x] : "") << Describe(*x);
    }
}

TEST(FormatModel, IdsAsText) {
    struct {
        const char *text;
        bool taken;
        int32_t value;
    } cases[] = {{"0", true, 0},          {"2147483647", true, INT32_MAX}, {"-2147483648", true, INT32_MIN},
                 {"-1", true, -1},        {"2147483648", false, 5},        {"-2147483649", false, 5},
                 {"99999999999", false, 5}, {"12x", false, 5},             {" 1", false, 5},
                 {"", false, 5}};
    for (const auto &c : cases) {
        CArcCountId::Id_t id(5);
        EXPECT_EQ(id.SetFromText(c.text), c.taken) << c.text;
        EXPECT_EQ(id.Get(), c.value) << c.text;
        if (c.taken) {
            EXPECT_EQ(id.ToText(), c.text);
        }
    }
    CArcCountId counter;
    EXPECT_EQ(counter.Next().Get(), 0);
    EXPECT_EQ(counter.Next().Get(), 1);
}

TEST(FormatModel, PicturesAndTypesFromText) {
    CArcTFDFormat f;
    ASSERT_EQ(Read(f, Format(B({5, 0x02, 0, 4, 0x09, 0, 9, 0x0C, 0, 0x12, 8}) + "ZZZZZ9.99")), Result::Success);
    using M = CArcTFDDrawableFieldMeta;
    EXPECT_EQ(M::GetFieldPic(f.GetFieldByIdx(0)), "X(5)");
    EXPECT_EQ(M::GetFieldPic(f.GetFieldByIdx(1)), "9(4)");
    EXPECT_EQ(M::GetFieldPic(f.GetFieldByIdx(2)), "S9(6)V9(2)");
    f.GetFieldByIdx(0)->SetHtmlType(CArcTFDDrawableField::HtmlSkip3);
    EXPECT_EQ(M::GetFieldPicAX9(f.GetFieldByIdx(0)), "");

    struct {
        const char *text;
        int type;
    } texts[] = {{"X(12)", 2}, {"u", 2},   {"", 2},       {"EEe", 3},   {"$TID", 5},
                 {"$ZZ9.99", 4}, {"(ZZ9", 1}, {"$<7", 6}, {"Hello", 1}, {"9(3)", 4}};
    for (const auto &t : texts) EXPECT_EQ(M::GetTypeFromText(t.text), t.type) << t.text;
}

TEST(FormatModel, FieldFactoryAndSets) {
    CArcTFDFormat f;
    ASSERT_EQ(Read(f, Format(B({0xC3, 5, 0x01, 0}))), Result::Success);
    const CArcTFDDrawableField *old = f.GetFieldByIdx(0);
    CArcTFDDrawableFieldMeta *meta = f.GetFieldMetaObject();
    std::unique_ptr<CArcTFDDrawableField> same = meta->CreateField(CArcTFDDrawableField::TypeData, old);
    EXPECT_EQ(Describe(*same), Describe(*old));
    std::unique_ptr<CArcTFDDrawableField> heading = meta->CreateField(CArcTFDDrawableField::TypeHeading, old);
    EXPECT_EQ(Describe(*heading), "H 0,3 5 \"SSSSS\"");
    EXPECT_EQ(heading->GetId(), old->GetId());
    EXPECT_EQ(meta->CreateField(7, old), nullptr);
    std::unique_ptr<CArcTFDDrawableField> expanded = meta->ExpandParenLenShortcut("Z(7)");
    EXPECT_EQ(Describe(*expanded), "N 0,0 7 @-1+0 Z(7)");

    CArcTFD::SetOfPointers_t none;
    none.GetUpperLeftMargin() = CSize{2, 3};
    none.GetLowerRightMargin() = CSize{1, 1};
    EXPECT_EQ(none.GetSize().cx * 10 + none.GetSize().cy, 45);
    EXPECT_EQ(none.GetUpperLeftCorner().x, -1);
    CArcTFD::SetOfIds_t ids;
    for (int v : {9, 3, 5, 3}) ids.Insert(CArcCountId::Id_t(v));
    std::vector<int> order;
    for (auto p = ids.GetStartPos(); !ids.IsPosAtEnd(p); ids.GetNextPos(p)) order.push_back(ids.GetAtPos(p).Get());
    EXPECT_EQ(order, (std::vector<int>{3, 5, 9}));
}

}  // namespace
