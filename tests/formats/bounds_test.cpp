// Formats that no screen of their header's geometry can be fail to read,
// and write nothing, at once; real screens at their largest still convert;
// no page passes its screen's size limit and no field file passes what its
// reader takes.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include "ArcMcsFormat.h"
#include "ArcTFDFormatSaver.h"
#include "ArcTFDIntConnFilesInfo.h"
#include "ZelMCSConverter.h"
#include "format_bytes.h"
#include "hostile_formats.h"
#include "xml/log_capture.h"

using namespace fmt_test;

namespace {

std::string Fresh(const std::string &dir) {
    std::system(("rm -rf '" + dir + "'").c_str());
    mkdir(dir.c_str(), 0755);
    return dir;
}

int FilesIn(const std::string &dir) {
    int n = 0;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") ++n;   // hidden temporary files count
        }
        closedir(d);
    }
    return n;
}

Result Convert(CZelMCSConverter &c, const std::string &bytes) {
    CBuffer b(bytes.data(), static_cast<int>(bytes.size()));
    return c.Convert(b);
}

TEST(FormatBounds, HostileFormatsFailToReadAndWriteNothing) {
    const std::string dir = Fresh("hostile");
    for (const hostile::Case &h : hostile::Cases()) {
        SCOPED_TRACE(h.what);
        LogCapture log("bounds.log");
        CArcTFDFormat f;
        EXPECT_EQ(Read(f, h.t3z), Result::FormatConversionError);
        EXPECT_TRUE(log.contains("Screen format " + h.name + " not read: " + h.reason)) << log.text();
        // The read stopped at the first field too many: no work for the
        // thousands the repeats would have made.
        EXPECT_LE(f.GetFieldCount(), 24 * 80);
        // The host-side reading refuses it the same way.
        CArcMcsFormat host;
        CBuffer b(h.t3z.data(), static_cast<int>(h.t3z.size()));
        EXPECT_EQ(host.ReadFromBuffer(b), Result::FormatConversionError);
        for (FccModsLevel level : {FccModsNone, FccModsLimited, FccModsFull}) {
            CZelMCSConverter c;
            c.SetOutputDirectory(dir);
            c.SetFccModsStyle(level);
            EXPECT_EQ(Convert(c, h.t3z), Result::FormatConversionError);
        }
        EXPECT_EQ(FilesIn(dir), 0);
    }
}

// A full screen of one-column fields, 24 x 80 at every level and 27 x 132
// at the fullest, converts; so does host data of exactly 65,535 bytes,
// one byte more does not.
TEST(FormatBounds, RealScreensAtTheirLargestConvert) {
    const std::string dir = Fresh("largest");
    struct Screen {
        int rows, columns;
        FccModsLevel level;
        size_t least;   // the page is at least this large
    } screens[] = {
        {24, 80, FccModsNone, 500000},
        {24, 80, FccModsLimited, 1000000},
        {24, 80, FccModsFull, 2500000},
        {27, 132, FccModsFull, 5000000},
    };
    for (const Screen &s : screens) {
        SCOPED_TRACE(std::to_string(s.rows) + "x" + std::to_string(s.columns) + " level " + std::to_string(s.level));
        CZelMCSConverter c;
        c.SetOutputDirectory(dir);
        c.SetFccModsStyle(s.level);
        ASSERT_EQ(Convert(c, hostile::FullScreen("FULL", s.rows, s.columns)), Result::Success);
        EXPECT_EQ(c.GetFormat().GetFieldCount(), s.rows * s.columns);
        const size_t page = Slurp(dir + "/full.htx").size();
        EXPECT_GE(page, s.least);
        EXPECT_LE(page, CArcTFDFormatSaver::PageSizeLimit(s.rows * s.columns));
    }
    EXPECT_EQ(CArcTFDFormatSaver::PageSizeLimit(24 * 80), 4u << 20);

    // 1,040 one-column numbers of 63 digits and one of 15: 65,535 bytes.
    const std::string numbers = hostile::Times(80, hostile::Bytes({1, 0x0C, 0, 0, 63}) + "9");
    for (int last : {15, 16}) {
        SCOPED_TRACE(last);
        LogCapture log("bounds.log");
        CZelMCSConverter c;
        c.SetOutputDirectory(dir);
        const std::string area = numbers + hostile::NewLine(12) + hostile::Bytes({1, 0x0C, 0, 0, last}) + "9";
        EXPECT_EQ(Convert(c, hostile::Format("EDGE", area)), last == 15 ? Result::Success : Result::FormatConversionError);
        EXPECT_EQ(log.contains("the host data passes 65,535 bytes"), last == 16);
    }
}

// Past its limit a page is not written, nor is its field file; making it
// stops at the first field past the limit.
TEST(FormatBounds, APagePastItsLimitIsNotWritten) {
    LogCapture log("bounds.log");
    const std::string dir = Fresh("limit");
    CArcTFDFormat f;
    ASSERT_EQ(Read(f, hostile::FullScreen("FULL", 24, 80)), Result::Success);
    f.SetIntConnFileHTMLType(CArcTFDFormatSaver::LayoutTable);   // as the converter writes pages
    CArcTFDIntConnFilesInfo files;
    files.SetT3IPath(dir + "/full.t3i");
    files.SetHTXPath(dir + "/full.htx");
    CArcTFDFormatSaver saver(&f);
    saver.SetPageSizeLimit(100000);
    EXPECT_EQ(saver.WriteIntConnFile(&files), Result::FormatConversionError);
    EXPECT_TRUE(saver.PageTooLarge());
    EXPECT_TRUE(log.contains("screen format not converted: its page is larger than a page of its screen can be"))
        << log.text();
    EXPECT_EQ(FilesIn(dir), 0);
    EXPECT_LT(saver.GetHTXText(&files).size(), 140000u);

    saver.SetPageSizeLimit(0);   // the screen's own
    EXPECT_EQ(saver.WriteIntConnFile(&files), Result::Success);
    EXPECT_FALSE(saver.PageTooLarge());
    EXPECT_EQ(FilesIn(dir), 2);
}

// Input-only fields take no host data, but room in the field file's
// records: a record past 65,535 bytes would be refused by the field
// file's reader, so the format is not converted.
TEST(FormatBounds, FieldFileRecordsPastTheLargestScreenAreNotWritten) {
    const std::string numbers = hostile::Times(80, hostile::Bytes({1, 0x0C, 0, 0, 63}) + "9");
    const std::string inputOnly = hostile::Bytes({80, 0x42, 0x20});
    const std::string dir = Fresh("records");
    for (int inputs : {0, 1}) {
        SCOPED_TRACE(inputs);
        LogCapture log("bounds.log");
        CZelMCSConverter c;
        c.SetOutputDirectory(dir);
        std::string area = numbers + hostile::NewLine(12);   // 65,520 bytes
        if (inputs) area += inputOnly;
        EXPECT_EQ(Convert(c, hostile::Format("ROOM", area, 24, 80, 0x20)),
                  inputs ? Result::FormatConversionError : Result::Success);
        EXPECT_EQ(log.contains("screen format not converted: a field record longer than 65,535 bytes"), inputs == 1)
            << log.text();
    }
}

}  // namespace
