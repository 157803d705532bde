// Groups with occurrences: offsets, the index, used-occurrence counts,
// nesting, the item tree and the bounds on indexes and sizes.
#include <gtest/gtest.h>

#include <string>

#include "DataRecord.h"
#include "ZelBuffer.h"

namespace {

std::string Read(const CDataRecord &r, const CBuffer &b, const std::string &name) {
    std::string out;
    r.GetStringValue(out, &b, name, 1);
    return out;
}

// head X(20), lines OCCURS 3 { text X(10) }, tail X(2): 52 bytes.
struct Lines {
    Lines() {
        EXPECT_EQ(r.AddItem("head", "X(20)"), 1);
        EXPECT_EQ(r.BeginGroup("Lines", 3), 1);
        EXPECT_EQ(r.AddItem("text", "X(10)"), 1);
        EXPECT_EQ(r.EndGroup(), 1);
        EXPECT_EQ(r.AddItem("tail", "X(2)"), 1);
    }
    CDataRecord r;
};

}  // namespace

TEST(DataGroups, OccurrencesAndIndex) {
    Lines l;
    CDataRecord &r = l.r;
    EXPECT_EQ(r.GetSize(), 52u);
    CDataItem *lines = r.FindItem("lines", CDataItem::TypeGroup);
    ASSERT_NE(lines, nullptr);
    EXPECT_EQ(lines->GetOffset(), 20u);
    EXPECT_EQ(lines->GetSize(), 10u);
    EXPECT_EQ(lines->GetMaxOccurence(), 3u);
    EXPECT_EQ(r.FindItem("text")->GetOffset(), 0u);     // relative to the group
    EXPECT_EQ(r.FindItem("tail")->GetOffset(), 50u);

    EXPECT_EQ(r.FindItem("text")->CalculateTotalOffset(), 20u);
    EXPECT_EQ(r.SetGroupIndex(2, "LINES"), 1);
    EXPECT_EQ(r.GetGroupIndex("lines"), 2u);
    EXPECT_EQ(r.FindItem("text")->CalculateTotalOffset(), 30u);
    EXPECT_EQ(r.FindItem("tail")->CalculateTotalOffset(), 50u);

    CBuffer b;
    r.SetValue(&b, "text", "second");
    EXPECT_EQ(b.GetLength(), 40);
    EXPECT_EQ(std::string(b.GetBuffer() + 30, 10), "second    ");
    EXPECT_EQ(Read(r, b, "text"), "second");
    r.SetGroupIndex(1, "lines");
    EXPECT_EQ(Read(r, b, "text"), "");      // first occurrence: zero bytes, default
}

TEST(DataGroups, IndexOutsideTheOccurrencesIsRefused) {
    Lines l;
    EXPECT_EQ(l.r.SetGroupIndex(3, "lines"), 1);
    EXPECT_EQ(l.r.SetGroupIndex(0, "lines"), 0);
    EXPECT_EQ(l.r.SetGroupIndex(4, "lines"), 0);
    EXPECT_EQ(l.r.SetGroupIndex(0xFFFFFFFFu, "lines"), 0);
    EXPECT_EQ(l.r.GetGroupIndex("lines"), 3u);
    EXPECT_EQ(l.r.SetGroupIndex(1, "nosuch"), 0);
    EXPECT_EQ(l.r.SetGroupIndex(1, "head"), 0);        // not a group
    EXPECT_EQ(l.r.GetGroupIndex("nosuch"), 0u);
    // Only groups take an index.
    EXPECT_FALSE(l.r.FindItem("head")->SetIndex(2));
    EXPECT_EQ(l.r.FindItem("head")->GetIndex(), 1u);
}

TEST(DataGroups, GroupWords) {
    Lines l;
    CDataRecord &r = l.r;
    CBuffer b(std::string(52, ' ').c_str(), 52);
    EXPECT_EQ(Read(r, b, "lines.count"), "0");
    EXPECT_EQ(Read(r, b, "lines.max"), "3");
    EXPECT_EQ(Read(r, b, "Lines.INDEX"), "1");

    // Second occurrence filled, third blank.
    r.SetGroupIndex(2, "lines");
    r.SetValue(&b, "text", "x");
    EXPECT_EQ(Read(r, b, "lines.count"), "2");
    EXPECT_EQ(Read(r, b, "lines.index"), "2");
    int isText = -1;
    std::string out;
    r.GetStringValue(out, &b, "lines.count", 0, &isText);
    EXPECT_EQ(isText, 0);

    // Trailing control characters and bytes from 0x80 up are no data; the
    // tail after the group does not count.
    b.SetAt(49, '\x01');
    b.SetAt(48, '\xC4');
    b.SetAt(50, 'T');
    EXPECT_EQ(Read(r, b, "lines.count"), "2");
    b.SetAt(47, 'z');
    EXPECT_EQ(Read(r, b, "lines.count"), "3");
    // A buffer that ends inside the group counts what it holds.
    CBuffer cut(b.GetBuffer(), 25);
    EXPECT_EQ(Read(r, cut, "lines.count"), "0");
    cut.SetAt(21, 'q');
    EXPECT_EQ(Read(r, cut, "lines.count"), "1");
    CBuffer none;
    EXPECT_EQ(Read(r, none, "lines.count"), "0");

    EXPECT_THROW(Read(r, b, "lines.other"), CZelDataException);
    EXPECT_THROW(Read(r, b, "nolines.count"), CZelDataException);
}

TEST(DataGroups, DottedGroupNames) {
    CDataRecord r;
    r.BeginGroup("mcs.rows", 2);
    r.AddItem("mcs.row", "X(3)");
    r.EndGroup();
    CBuffer b("abc   ", 6);
    EXPECT_EQ(Read(r, b, "mcs.rows.count"), "1");
    EXPECT_EQ(Read(r, b, "mcs.rows.max"), "2");
}

TEST(DataGroups, NestedGroups) {
    // outer OCCURS 2 { a X(2), inner OCCURS 3 { b X }, c X }: 6 bytes each.
    CDataRecord r;
    r.AddItem("lead", "X(4)");
    r.BeginGroup("outer", 2);
    r.AddItem("a", "X(2)");
    r.BeginGroup("inner", 3);
    r.AddItem("b", "X");
    EXPECT_EQ(r.GetGroupOffset(), 1u);
    r.EndGroup();
    EXPECT_EQ(r.GetGroupOffset(), 5u);
    r.AddItem("c", "X");
    r.EndGroup();
    r.AddItem("end", "X");
    EXPECT_EQ(r.GetSize(), 4u + 12 + 1);
    EXPECT_EQ(r.FindItem("inner")->GetOffset(), 2u);
    EXPECT_EQ(r.FindItem("inner")->GetSize(), 1u);
    EXPECT_EQ(r.FindItem("outer")->GetSize(), 6u);
    EXPECT_EQ(r.FindItem("c")->GetOffset(), 5u);
    EXPECT_EQ(r.FindItem("end")->GetOffset(), 16u);

    r.SetGroupIndex(2, "outer");
    r.SetGroupIndex(3, "inner");
    EXPECT_EQ(r.FindItem("b")->CalculateTotalOffset(), 4u + 6 + 2 + 2);
    EXPECT_EQ(r.FindItem("c")->CalculateTotalOffset(), 4u + 6 + 5);
    CBuffer b;
    r.SetValue(&b, "b", "Q");
    r.SetValue(&b, "c", "C");
    r.SetValue(&b, "end", "E");
    EXPECT_EQ(std::string(b.GetBuffer(), b.GetLength()),
              std::string("\0\0\0\0\0\0\0\0\0\0\0\0\0\0QCE", 17));
}

TEST(DataGroups, TreeLinks) {
    CDataRecord r;
    r.AddItem("first", "X");
    r.BeginGroup("g", 2);
    r.AddItem("m1", "X");
    r.AddItem("m2", "9");
    r.EndGroup();
    // An empty group: what follows is its sibling, not its member.
    r.BeginGroup("empty", 4);
    EXPECT_EQ(r.EndGroup(), 1);
    r.AddItem("after", "X");
    EXPECT_EQ(r.EndGroup(), 0);            // nothing open

    CDataItem *root = r.GetRoot();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->GetName(), "first");
    CDataItem *g = root->GetNext();
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->GetName(), "g");
    EXPECT_EQ(g->GetSubitemCount(), 2);
    EXPECT_EQ(g->GetSubitem(0)->GetName(), "m1");
    EXPECT_EQ(g->GetSubitem(1)->GetName(), "m2");
    EXPECT_EQ(g->GetSubitem(2), nullptr);
    EXPECT_EQ(g->GetSubitem(-1), nullptr);
    EXPECT_EQ(g->GetSubitem(1)->GetParent(), g);
    CDataItem *empty = g->GetNext();
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->GetSubitemCount(), 0);
    EXPECT_EQ(empty->GetSize(), 0u);
    ASSERT_NE(empty->GetNext(), nullptr);
    EXPECT_EQ(empty->GetNext()->GetName(), "after");
    EXPECT_EQ(empty->GetNext()->GetParent(), nullptr);
    EXPECT_EQ(r.FindItem("after")->GetOffset(), 5u);
    // An empty group counts nothing.
    CBuffer b("abcdefgh", 8);
    EXPECT_EQ(Read(r, b, "empty.count"), "0");
}

TEST(DataGroups, DuplicateNamesKeepTheFirst) {
    CDataRecord r;
    r.AddItem("dup", "X(2)", "one");
    r.AddItem("DUP", "X(3)", "two");
    EXPECT_EQ(r.GetSize(), 5u);
    EXPECT_EQ(r.FindItem("dup")->GetSize(), 2u);
    EXPECT_EQ(r.GetRoot()->GetNext()->GetSize(), 3u);
}

TEST(DataGroups, BadGroupsAreRefused) {
    CDataRecord r;
    EXPECT_EQ(r.BeginGroup("g", 0), 0);
    EXPECT_EQ(r.BeginGroup("g", -5), 0);
    EXPECT_EQ(r.BeginGroup(nullptr, 2), 0);
    EXPECT_EQ(r.FindItem("g"), nullptr);
    EXPECT_EQ(r.EndGroup(), 0);
    EXPECT_EQ(r.GetSize(), 0u);
}

TEST(DataGroups, HugeGroupsKeepTheOccurrencesThatFit) {
    CDataRecord r;
    r.AddItem("lead", "X(10)");
    ASSERT_EQ(r.BeginGroup("big", 2000000000), 1);
    r.AddItem("row", "X(100)");
    r.EndGroup();
    CDataItem *big = r.FindItem("big");
    EXPECT_EQ(big->GetMaxOccurence(), 1u + (CDataRecord::kMaxRecordSize - 110) / 100);
    EXPECT_LE(r.GetSize(), CDataRecord::kMaxRecordSize);
    EXPECT_EQ(r.AddItem("more", "X(100)"), 0);

    // The last occurrence can be written; the buffer stays inside the record.
    ASSERT_EQ(r.SetGroupIndex(big->GetMaxOccurence(), "big"), 1);
    CBuffer b;
    r.SetValue(&b, "row", "last");
    EXPECT_LE(static_cast<unsigned>(b.GetLength()), CDataRecord::kMaxRecordSize);
    EXPECT_EQ(Read(r, b, "row"), "last");
    EXPECT_EQ(Read(r, b, "big.count"), std::to_string(big->GetMaxOccurence()));

    // Occurrences raised by hand never make a write leave the record.
    big->SetMaxOccurence(0xFFFFFFFFu);
    ASSERT_EQ(r.SetGroupIndex(0xFFFFFFFFu, "big"), 1);
    CBuffer c;
    r.SetValue(&c, "row", "x");
    EXPECT_EQ(c.GetLength(), 0);
    EXPECT_EQ(Read(r, c, "row"), "");
}

TEST(DataGroups, EmptyForgetsEverything) {
    Lines l;
    l.r.BeginGroup("open", 2);
    l.r.Empty();
    EXPECT_EQ(l.r.GetSize(), 0u);
    EXPECT_EQ(l.r.GetRoot(), nullptr);
    EXPECT_EQ(l.r.FindItem("text"), nullptr);
    EXPECT_EQ(l.r.EndGroup(), 0);
    EXPECT_EQ(l.r.AddItem("fresh", "X"), 1);
    EXPECT_EQ(l.r.GetRoot()->GetName(), "fresh");
    EXPECT_EQ(l.r.FindItem("fresh")->GetParent(), nullptr);
}
