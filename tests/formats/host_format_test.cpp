// The host-side reading of a format: it agrees with the form-field reader
// on fields, refusals and help; field help by place; the translation of
// field control modifications; the date text of date fields.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "ArcMcsFormat.h"
#include "ZelFccMods.h"
#include "ZelName.h"
#include "format_bytes.h"

using namespace fmt_test;

namespace {

std::string Sample(const char *name) {
    const char *src = std::getenv("QOR_SOURCE_DIR");
    std::ifstream in(std::string(src ? src : ".") + "/testhost/samples/formats/" + name + ".t3z", std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    EXPECT_FALSE(ss.str().empty()) << name;
    return ss.str();
}

Result ReadHost(CArcMcsFormat &f, const std::string &bytes) {
    CBuffer b(bytes.data(), static_cast<int>(bytes.size()));
    return f.ReadFromBuffer(b);
}

// A help block: keys 5, 6, 7, ids "SYS" and "SCR", then the entries (the
// count may promise more than there are).
std::string Help(const std::string &entries, int count) {
    return B({'J', 0, 5, 6, 7, 0, 0, 0}) + " SYS    SCR    " + " " + std::string(14, '\0') + B({0, count}) + entries;
}
std::string Entry(int row, int column, int length, const std::string &id) {
    return B({row, column, length}) + (id + "        ").substr(0, 8);
}

// Each data field a help entry over its whole place; the two readers agree
// on the data fields (ordinal, place, length, data offset) and their help.
TEST(HostFormat, AgreesWithTheFormFieldReader) {
    const std::string area = B({5, 0x93, 0}) + "NAME:" + B({10, 0x02, 0}) + B({0, 0x14, 0}) + B({3, 0x09, 0});
    const std::string bytes[] = {Sample("logon"), Sample("menu"), Sample("detail"), Sample("echo"), Format(area),
                                 Format(area, Hdr(), Help(Entry(1, 6, 0, "ATSTART"), 1)),
                                 "short", Format(area.substr(0, 10)), Format(B({4, 0x1F, 0x06}) + "abcd")};
    for (const std::string &plain : bytes) {
        SCOPED_TRACE(&plain - bytes);
        CArcMcsFormat host;
        CArcTFDFormat live;
        const Result expected = Read(live, plain);
        ASSERT_EQ(ReadHost(host, plain), expected);
        if (expected != Result::Success) continue;
        std::string help;
        int entries = 0;
        for (int i = 0; i < host.GetFieldCount(); ++i) {
            const auto *d = dynamic_cast<const CArcMcsDataField *>(host.GetField(i));
            if (!d) continue;
            help += Entry(d->GetRow(), d->GetColumn(), d->GetLength(), "H" + std::to_string(d->GetFieldIndex()));
            ++entries;
        }
        const std::string helped = host.GetHelp().GetHelpPresent() ? plain : plain + Help(help, entries);
        ASSERT_EQ(ReadHost(host, helped), Result::Success);
        ASSERT_EQ(Read(live, helped), Result::Success);
        std::vector<std::string> hostFields, liveFields;
        for (int i = 0; i < host.GetFieldCount(); ++i)
            if (const auto *d = dynamic_cast<const CArcMcsDataField *>(host.GetField(i)))
                hostFields.push_back(std::to_string(d->GetFieldIndex()) + " " + std::to_string(d->GetRow() - 1) + "," +
                                     std::to_string(d->GetColumn() - 1) + " " + std::to_string(d->GetLength()) + " @" +
                                     std::to_string(d->GetDataOffset()) + " " +
                                     host.GetHelp().GetFieldHelpId(d->GetRow(), d->GetColumn()));
        for (int i = 0; i < live.GetFieldCount(); ++i)
            if (const auto *d = dynamic_cast<const CArcTFDDataErrorField *>(live.GetFieldByIdx(i)); d && d->GetIndex())
                liveFields.push_back(std::to_string(d->GetIndex()) + " " + std::to_string(d->GetRow()) + "," +
                                     std::to_string(d->GetColumn()) + " " + std::to_string(d->GetLength()) + " @" +
                                     std::to_string(d->GetDataOffset()) + " " + d->GetHelpId());
        EXPECT_FALSE(hostFields.empty());
        EXPECT_EQ(hostFields, liveFields);
        EXPECT_EQ(host.GetHelp().GetSystemHelpId(), live.GetHelpDataConst().GetSystemHelpId());
        EXPECT_EQ(host.GetHeader().GetName(), live.GetFormatHdrPeeker()->GetName());
    }
}

TEST(HostFormat, FieldHelpByPlace) {
    // The last entry promises a fourth that is not there.
    const std::string tail = Help(Entry(3, 10, 5, "FIELDA") + Entry(3, 12, 0, "ZERO") + Entry(5, 1, 2, "  B  "), 4);
    CArcMcsFormat f;
    ASSERT_EQ(ReadHost(f, Format("", Hdr(), tail + "x")), Result::Success);
    const CArcMcsHelp &h = f.GetHelp();
    int system = 0, screen = 0, field = 0;
    h.GetHelpKeys(system, screen, field);
    EXPECT_EQ(std::vector<int>({system, screen, field}), std::vector<int>({5, 6, 7}));
    EXPECT_EQ(h.GetSystemHelpId() + "/" + h.GetScreenHelpId(), "SYS/SCR");
    ASSERT_EQ(h.GetFieldCount(), 3);
    // Places as the block holds them, 1-based like the host fields.
    EXPECT_EQ(h.GetField(0)->GetRow(), 3);
    EXPECT_EQ(h.GetField(0)->GetColumn(), 10);
    EXPECT_EQ(h.GetField(2)->GetHelpId(), "B");
    const struct { int row, column, index; const char *id; } cases[] = {
        {3, 10, 0, "FIELDA"}, {3, 14, 0, "FIELDA"}, {3, 12, 1, "ZERO"}, {3, 13, 0, "FIELDA"},
        {3, 15, -1, ""},      {3, 9, -1, ""},       {5, 2, 2, "B"},      {4, 10, -1, ""},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(h.FieldIndexFromPosition(c.row, c.column), c.index) << c.row << "," << c.column;
        EXPECT_EQ(h.GetFieldHelpId(c.row, c.column), c.id) << c.row << "," << c.column;
    }
}

TEST(HostFormat, FieldControlModifications) {
    CArcMcsFormat f;
    ASSERT_EQ(ReadHost(f, Format(B({2, 0x02, 0}) + B({5, 0x93, 0}) + "HEAD:" + B({2, 0x02, 0}) + B({2, 0x09, 0}))),
              Result::Success);
    const auto *first = dynamic_cast<const CArcMcsDataField *>(f.GetField(0));
    ASSERT_NE(first, nullptr);
    const struct { char m, n; int r1, r2; } pairs[] = {
        {'!', 'B', 0x33, 0x33}, {'#', 'O', 0x75, 0}, {'.', 'U', 0, 0x30}, {'.', 'L', 0x32, 0},
        {'5', '2', 0xB5, 0xB2}, {' ', '9', 0, 0},    {'*', '7', 0, 0xB7},  {'x', '1', 0, 0xB1},
    };
    for (const auto &p : pairs) {
        EXPECT_EQ(first->ProcessRealFccM(p.m, p.n), p.r1) << p.m << p.n;
        EXPECT_EQ(first->ProcessRealFccN(p.m, p.n), p.r2) << p.m << p.n;
    }
    // Data fields 1, 2, 3 take pairs 1, 2, 3; the odd byte's pair lacks N.
    CZelFccMods mods;
    mods.GetBuffer() << "!B5";
    const struct { int field; bool has; int r1, r2; } own[] = {{0, true, 0x33, 0x33}, {2, true, 0xB5, 0}, {3, false, 0, 0}};
    for (const auto &o : own) {
        const auto *d = dynamic_cast<const CArcMcsDataField *>(f.GetField(o.field));
        ASSERT_NE(d, nullptr);
        unsigned char r1 = 1, r2 = 1;
        EXPECT_EQ(d->ProcessFccModN(mods, r1, r2), o.has) << o.field;
        EXPECT_EQ(r1, o.r1);
        EXPECT_EQ(r2, o.r2);
    }
}

TEST(HostFormat, DateOfADateField) {
    std::string eight = Format(B({8, 0x16, 0}));
    CBuffer b(eight.data(), static_cast<int>(eight.size()));
    CArcMcsFormatHdr header(b, 0);
    CArcMcsFieldWalk walk(b, header);
    std::unique_ptr<CArcMcsField> field = walk.Next();
    auto *date = dynamic_cast<CArcMcsSpecialField *>(field.get());
    ASSERT_NE(date, nullptr);
    const struct { const char *pattern; int cut; const char *text; } cases[] = {
        {"ABCDEFGHIJ", 6, "ABCDEFIJ"}, {"ABCDEFGHIJ", 0, "CDEFGHIJ"}, {"ABCDEFGHIJ", 99, "ABCDEFGH"},
        {"ABCDEFGHIJ", -3, "CDEFGHIJ"}, {"AB", 1, "AB"}, {"", 0, ""},
    };
    for (const auto &c : cases) EXPECT_EQ(date->LoadDate(c.pattern, c.cut), c.text) << c.pattern << " " << c.cut;
    // The century goes: dd.mm.yy (read around the call, in case of midnight).
    const std::string before = CTime::FormatCurrentTime("%d.%m.%y", 16).GetData();
    const std::string text = date->LoadDate("%d.%m.%Y", 6);
    EXPECT_TRUE(text == before || text == CTime::FormatCurrentTime("%d.%m.%y", 16).GetData()) << text;
    EXPECT_EQ(date->GetText(), text);
}

}  // namespace
