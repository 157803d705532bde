// The header: the format's name (which names its files), the checks that
// refuse bytes that are no format, and the screen geometry.
#include <gtest/gtest.h>

#include "format_bytes.h"
#include "xml/log_capture.h"

using namespace fmt_test;

namespace {

const std::string kField = B({3, 0x42, 0});   // one 3-column data field

TEST(FormatHeader, NamesAreUpperCasedAndCutAtTheFirstBlank) {
    struct Case {
        std::string raw, name;
    } cases[] = {
        {"order01", "ORDER01"},
        {std::string("abc\0xyz", 7), "ABC"},        // a NUL ends the name
        {"ORD 01", "ORD"},
        {"ORD\t01", "ORD"},
        {"$GRP#1@", "$GRP#1@"},
        {"\xE9T\xC9", "\xE9T\xC9"},                 // bytes above 0x7F stay as they are
    };
    for (const Case &c : cases) {
        Hdr h;
        h.name = c.raw;
        CArcTFDFormat f;
        ASSERT_EQ(Read(f, Format(kField, h)), Result::Success) << c.raw;
        EXPECT_EQ(f.GetFormatName(), c.name);
        EXPECT_EQ(f.GetFieldCount(), 1);
    }
}

// Bytes that are no sound format fail the read with a log line and leave
// no fields behind, whatever was read before.
TEST(FormatHeader, BadFormatsFailTheRead) {
    struct Case {
        const char *what;
        std::string bytes;
        const char *logged;
    };
    auto named = [](const std::string &name) {
        Hdr h;
        h.name = name;
        return Format(kField, h);
    };
    Hdr past;
    past.formatSize = 10;
    const Case cases[] = {
        {"empty", "", "shorter than the 48-byte header"},
        {"47 bytes", Format("").substr(0, 47), "shorter than the 48-byte header"},
        {"blank name", named("        "), "has no name"},
        {"leading blank", named(" ORDER"), "has no name"},
        {"NUL name", named(std::string(8, '\0')), "has no name"},
        {"dot", named(".HIDDEN"), "starts with '.'"},
        {"dot dot", named("..AB"), "starts with '.'"},
        {"slash", named("../../AB"), "starts with '.'"},
        {"inner slash", named("A/B"), "path separator"},
        {"backslash", named("A\\B"), "path separator"},
        {"control", named("A\x01" "B"), "control character"},
        {"delete", named("A\x7F"), "control character"},
        {"area past the end", Format(kField, past), "runs past the end"},
    };
    for (const Case &c : cases) {
        LogCapture log("header.log");
        CArcTFDFormat f;
        ASSERT_EQ(Read(f, Format(kField + kField)), Result::Success);
        EXPECT_EQ(Read(f, c.bytes), Result::FormatConversionError) << c.what;
        EXPECT_EQ(f.GetFieldCount(), 0) << c.what;
        EXPECT_TRUE(log.contains(c.logged)) << c.what << "\n" << log.text();
    }
}

TEST(FormatHeader, Geometry) {
    struct Case {
        int rows, columns, startRow, flags29;
        int top, right, bottom;
    } cases[] = {
        {24, 80, 1, 0, 0, 79, 23},
        {10, 40, 5, 0, 4, 39, 13},
        {12, 40, 5, 0x20, 0, 79, 23},   // SFS emulation: always 24 by 80
        {24, 0, 1, 0, 0, 0, 23},        // no columns counts as one
    };
    for (const Case &c : cases) {
        Hdr h;
        h.rows = c.rows;
        h.columns = c.columns;
        h.startRow = c.startRow;
        h.flags29 = c.flags29;
        CArcTFDFormat f;
        ASSERT_EQ(Read(f, Format(kField, h)), Result::Success);
        EXPECT_EQ(f.GetFormatTop(), c.top);
        EXPECT_EQ(f.GetFormatRight(), c.right);
        EXPECT_EQ(f.GetFormatBottom(), c.bottom);
        EXPECT_EQ(f.GetScreenWidth(), c.right + 1);
        // The walk starts on the start row (form rows count from 0).
        EXPECT_EQ(f.GetFieldByIdx(0)->GetRow(), c.startRow - 1);
    }
}

TEST(FormatHeader, DefaultHeaderAndReadValues) {
    CArcTFDFormat empty;
    const CArcTFDFormatHdrPeeker *d = empty.GetFormatHdrPeeker();
    EXPECT_EQ(d->GetType(), ':');
    EXPECT_EQ(d->GetRows(), 24);
    EXPECT_EQ(d->GetColumns(), 80);
    EXPECT_TRUE(d->GetAllDataUnprotected() && d->GetEraseScreen() && d->GetProceedDataWithTab());
    EXPECT_EQ(d->GetHeadingIntensity() * 1000 + d->GetDataIntensity() * 100 + d->GetNegativeIntensity() * 10 +
                  d->GetErrorIntensity(),
              3224);

    Hdr h;
    h.flags28 = 0x20;
    h.heading = 6;
    CArcTFDFormat f;
    ASSERT_EQ(Read(f, Format(kField, h)), Result::Success);
    EXPECT_TRUE(f.GetFormatHdrPeeker()->GetColorFormat());
    EXPECT_EQ(f.GetFormatHdrPeeker()->GetHeadingIntensity(), 6);
    EXPECT_EQ(f.GetFormatHdrPeeker()->GetFormatSize(), 3);
    EXPECT_EQ(f.GetFormatHdrPeeker()->GetInputCount(), 1);
}

}  // namespace
