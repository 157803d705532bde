// The descriptor walk: each kind's effect on rows, columns, lengths, data
// offsets and the bytes it consumes, and the walks that must fail.
#include <gtest/gtest.h>

#include "format_bytes.h"
#include "xml/log_capture.h"

using namespace fmt_test;

namespace {

struct WalkCase {
    const char *what;
    std::string area;
    std::vector<std::string> fields;
    int flags29 = 0;
};

TEST(FormatWalk, KindsMoveTheWalk) {
    const std::string ab = B({2, 0x02, 0});      // upper/lower alpha, 2 columns
    const WalkCase cases[] = {
        {"gap of repeat spaces", B({0xC5}) + ab, {"D 0,5 2 #1 @0+2 X(2)"}},
        {"repeat character", B({0x85, 0, 0, 'x'}) + ab, {"H 0,0 5 \"xxxxx\"", "D 0,5 2 #1 @0+2 X(2)"}},
        {"heading spaces", B({4, 0x11, 0}) + ab, {"H 0,0 4 \"    \"", "D 0,4 2 #1 @0+2 X(2)"}},
        {"continued field", B({10, 0x03, 0}) + B({5, 0x02, 0}) + ab,
         {"D 0,0 15 #1 @0+15 X(15)", "D 0,15 2 #2 @15+2 X(2)"}},
        // The carried length counts for the extra data too.
        {"continued heading", B({10, 0x03, 0}) + B({5, 0x93, 0}) + "ABCDEFGHIJKLMNO" + ab,
         {"H 0,0 15 \"ABCDEFGHIJKLMNO\"", "D 0,15 2 #1 @0+2 X(2)"}},
        {"continued default data", B({10, 0x03, 0}) + B({5, 0x02, 0x40}) + "abcdefghijklmno" + ab,
         {"D 0,0 15 #1 @0+15 X(15) =abcdefghijklmno", "D 0,15 2 #2 @15+2 X(2)"}},
        // (wrapping onto the screen's next rows)
        {"past 255 columns", B({120, 0x03, 0}) + B({120, 0x03, 0}) + B({100, 0x02, 0}) + B({0, 0x14, 0}) + ab,
         {"D 0,0 340 #1 @0+340 X(340)", "D 1,0 2 #2 @340+2 X(2)"}},
        {"new line repeating its line twice", B({3, 0x02, 0}) + B({2, 0x14, 0}) + B({1, 0x02, 0}),
         {"D 0,0 3 #1 @0+3 X(3)", "D 1,0 3 #2 @3+3 X(3)", "D 2,0 3 #3 @6+3 X(3)", "D 3,0 1 #4 @9+1 X"}},
        {"section read three times", ab + B({1, 0x93, 0}) + "-" + B({2, 0x15, 7}) + B({1, 0x02, 0}),
         {"D 0,0 2 #1 @0+2 X(2)", "H 0,2 1 \"-\"", "D 0,3 2 #2 @2+2 X(2)", "H 0,5 1 \"-\"",
          "D 0,6 2 #3 @4+2 X(2)", "H 0,8 1 \"-\"", "D 0,9 1 #4 @6+1 X"}},
        {"special fields", B({5, 0x98, 0}) + B({8, 0x97, 0}),
         {"S 0,0 5 \"$HHMM\"", "S 0,5 8 \"$MMDDYY$\""}},
        {"logical field begins", B({3, 0x3E, 9}) + B({3, 0x1E, 7}) + B({2, 0x1E, 255}),
         {"L 0,0 3 \"$=9\"", "L 0,3 3 \"$<7\"", "L 0,6 2 \"$>\""}},
        {"error field", B({4, 0x12, 0}) + ab + B({3, 0x12, 0}),
         {"E 0,0 4 @0+4", "D 0,4 2 #1 @0+2 X(2)", "E 0,6 3 @4+3"}},
        {"numeric kinds", B({4, 0x09, 0}) + B({3, 0x0A, 0}) + B({4, 0x29, 0}) + B({2, 0x04, 0}) + B({2, 0x01, 0}),
         {"N 0,0 4 #1 @0+4 9(4)", "N 0,4 3 #2 @4+3 Z(3)", "N 0,7 4 #3 @7+4 2(4)", "D 0,11 2 #4 @11+2 A(2)",
          "D 0,13 2 #5 @13+2 U(2)"}},
        // Numeric edited fields take the host's digits in the screen data.
        {"numeric edited", B({9, 0x0C, 0, 0x12, 8}) + "ZZZZZ9.99" + B({9, 0x0C, 0, 0x62, 8}) + "ZZZZZ9.99" + ab,
         {"N 0,0 9 #1 @0+8 SZ(5)9.99", "N 0,9 9 #2 @8+8 Z(5)9.99", "D 0,18 2 #3 @16+2 X(2)"}},
        // Numeric fields take no default text; the default data is skipped.
        {"edited with default data", B({3, 0x0C, 0x40, 0, 3}) + "ZZ9" + "123" + ab,
         {"N 0,0 3 #1 @0+3 ZZ9", "D 0,3 2 #2 @3+2 X(2)"}},
        {"input only ignored outside SFS", B({3, 0x02, 0x20}) + ab, {"D 0,0 3 #1 @0+3 X(3)", "D 0,3 2 #2 @3+2 X(2)"}},
        {"input only takes no data in SFS", B({3, 0x02, 0x20}) + ab, {"D 0,0 3 #1 @0+0 X(3)", "D 0,3 2 #2 @0+2 X(2)"},
         0x20},
        {"definitions and colours steer only", B({2, 0x1F, 0x01}) + "12" + B({1, 0x1F, 0x04}) + "N" +
                                                   B({0, 0x1F, 0}) + std::string(16, '\x07') + ab,
         {"D 0,0 2 #1 @0+2 X(2)"}},
        {"SFS indicator with flags byte", B({5, 0x10, 0x80, 0x84}) + ab + ab,
         {"D 0,0 2 #1 @0+2 X(2) sfs133/84", "D 0,2 2 #2 @2+2 X(2)"}},
        {"old-style SFS indicators", B({0, 0x10, 0x85}) + B({0, 0x10, 0x05}) + ab + ab,
         {"D 0,0 2 #1 @0+2 X(2) sfs133/00 sfs5/00", "D 0,2 2 #2 @2+2 X(2)"}},
        // The host field after the error indicator is the error line: a
        // data kind stays (protected), as it takes its place in the screen
        // data; any other kind is dropped.
        {"error line after the error indicator", B({1, 0x1F, 0x03}) + "7" + B({0, 0x10, '7'}) + B({20, 0x02, 5}) + ab,
         {"D 0,0 20 #1 @0+20 X(20)", "D 0,20 2 #2 @20+2 X(2)"}},
        {"dropped whatever its kind", B({1, 0x1F, 0x03}) + "7" + B({0, 0x10, '7'}) + B({3, 0x93, 0}) + "ABC" + ab,
         {"D 0,3 2 #1 @0+2 X(2)"}},
    };
    for (const WalkCase &c : cases) {
        Hdr h;
        h.flags29 = c.flags29;
        CArcTFDFormat f;
        ASSERT_EQ(Read(f, Format(c.area, h)), Result::Success) << c.what;
        EXPECT_EQ(DescribeAll(f), c.fields) << c.what;
    }
}

TEST(FormatWalk, SfsErrorIndicatorRowAndNonDisplay) {
    CArcTFDFormat f;
    const std::string area = B({1, 0x1F, 0x03}) + "7" + B({1, 0x1F, 0x03}) + "8" + B({0, 0x14, 0}) +
                             B({0, 0x10, '7'}) + B({20, 0x82, 5}) + B({2, 0x1F, 0x05}) + "AB";
    ASSERT_EQ(Read(f, Format(area)), Result::Success);
    EXPECT_EQ(f.GetSFSErrIndData().indicator, '7');   // the first definition holds
    EXPECT_EQ(f.GetSFSErrIndData().errorRow, 3);
    EXPECT_EQ(f.GetSFSNonDispIndData().indicators, "AB");
    EXPECT_EQ(f.GetSFSNonDispIndData().bidirectional, 0);
}

TEST(FormatWalk, BadWalksFailTheRead) {
    struct Case {
        const char *what;
        std::string area;
        const char *logged;
    } cases[] = {
        {"cut descriptor", B({2, 0x02, 0}) + B({2, 0x02}), "ends inside a descriptor"},
        {"cut heading text", B({5, 0x93, 0}) + "AB", "runs past the end of the field area"},
        {"cut repeat character", B({0x85, 0, 0}), "runs past the end of the field area"},
        {"cut colours", B({0, 0x1F, 0}) + "12345", "runs past the end of the field area"},
        {"cut flags byte", B({5, 0x10, 0}), "runs past the end of the field area"},
        {"section before the area", B({2, 0x02, 0}) + B({1, 0x15, 9}), "starts before the field area"},
        {"nested sections", B({0, 0x03, 0}) + B({1, 0x15, 3}) + B({1, 0x15, 6}), "too many descriptor steps"},
        {"unknown definition", B({4, 0x1F, 0x06}) + "ABCD", "unknown field kind"},
        {"unknown type code", B({4, 0x05, 0}), "unknown field kind"},
    };
    for (const Case &c : cases) {
        LogCapture log("walk.log");
        CArcTFDFormat f;
        EXPECT_EQ(Read(f, Format(c.area, Hdr(), std::string(64, 'J'))), Result::FormatConversionError) << c.what;
        EXPECT_TRUE(log.contains(c.logged)) << c.what << "\n" << log.text();
        const bool unknown = std::string(c.logged) == "unknown field kind";
        EXPECT_EQ(log.contains("McsField Line 302 Something asserted"), unknown) << c.what;
        EXPECT_EQ(log.contains("TFDFormat Line 407 Something asserted"), unknown) << c.what;
    }
}

// What one format leaves behind must not reach the next one read by the
// same process: a pending drop, collected SFS settings, the error
// indicator, help data and the colour table.
TEST(FormatWalk, NothingCarriesIntoTheNextRead) {
    const std::string ab = B({2, 0x02, 0});
    Hdr colour;
    colour.flags28 = 0x20;
    std::string help = B({'J'}) + std::string(37, '\0') + B({0, 0});
    CArcTFDFormat f;
    // Ends on the error indicator (a drop pending) and defines '7'.
    ASSERT_EQ(Read(f, Format(B({1, 0x1F, 0x03}) + "7" + B({0, 0x10, '7'}), colour)), Result::Success);
    ASSERT_EQ(Read(f, Format(ab + B({0, 0x10, '7'}) + ab)), Result::Success);
    EXPECT_EQ(DescribeAll(f), (std::vector<std::string>{"D 0,0 2 #1 @0+2 X(2)", "D 0,2 2 #2 @2+2 X(2) sfs55/00"}));
    EXPECT_FALSE(f.GetSFSErrIndData().IsDefined());

    // Ends with SFS settings collected, a colour table and help.
    ASSERT_EQ(Read(f, Format(B({0, 0x1F, 0}) + std::string(16, '\x2C') + B({0, 0x10, 9}), colour, help)),
              Result::Success);
    EXPECT_EQ(f.GetColorTable()->GetFgColor(3).GetMcsColor(), 4);
    EXPECT_EQ(f.GetColorTable()->GetBgColor(3).GetMcsColor(), 5);
    EXPECT_EQ(f.GetHelpPresent(), 1);
    ASSERT_EQ(Read(f, Format(ab, colour)), Result::Success);
    EXPECT_EQ(DescribeAll(f), std::vector<std::string>{"D 0,0 2 #1 @0+2 X(2)"});
    EXPECT_EQ(f.GetColorTable()->GetFgColor(3).GetMcsColor(), 7);
    EXPECT_EQ(f.GetColorTable()->GetBgColor(3).GetMcsColor(), 0);
    EXPECT_EQ(f.GetHelpPresent(), 0);

    // A failed read leaves nothing pending either.
    EXPECT_EQ(Read(f, Format(B({1, 0x1F, 0x03}) + "7" + B({0, 0x10, '7'}) + B({4, 0x05, 0}))),
              Result::FormatConversionError);
    ASSERT_EQ(Read(f, Format(ab)), Result::Success);
    EXPECT_EQ(f.GetFieldCount(), 1);
}

}  // namespace
