// Hex and character dumps: line layout, folding of repeats, the choice
// between the two, and staying inside the dumped area.
#include "ebc2asc.h"
#include "log_test_util.h"
#include "logprint.h"
#include "logstate.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

using namespace logtest;

namespace {

std::string hexOf(const std::vector<unsigned char> &v, unsigned base = 0,
                  const unsigned char *xlate = nullptr)
{
    char *buf = nullptr;
    size_t size = 0;
    FILE *f = open_memstream(&buf, &size);
    dumpHex(f, v.data(), base, static_cast<int>(v.size()), xlate);
    fclose(f);
    std::string s(buf, size);
    free(buf);
    return s;
}

// The log's body after the heading line, for dumps into the log.
class DumpTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        logResetState();
        path = dir / "dump.log";
        logOptions("T");
        ASSERT_NE(logOpen(path.c_str(), 0), nullptr);
    }
    void TearDown() override { logResetState(); }
    std::vector<std::string> result()
    {
        logClose();
        return lines(readFile(path));
    }
    TempDir dir;
    std::string path;
};

const char kRuler[] =
    "        ....+....1....+....2....+....3....+....4....+....5....+....6....+....7....+....8";

} // namespace

TEST(HexDump, LineLayout)
{
    std::vector<unsigned char> v(24);
    for (int i = 0; i < 24; ++i)
        v[i] = static_cast<unsigned char>(i);
    EXPECT_EQ(hexOf(v), " 000000 : 00010203 04050607 08090A0B 0C0D0E0F 10111213 14151617 "
                        "'........................'\n");
    std::vector<unsigned char> t = {'H', 'i', 0x7F, ' ', '~'};
    EXPECT_EQ(hexOf(t, 0x123456), " 123456 : 48697F20 7E" + std::string(42, ' ') + " 'Hi. ~'\n");
}

TEST(HexDump, TranslatesThroughTheTable)
{
    std::vector<unsigned char> v = {0xC1, 0xC2, 0x81, 0x40, 0xF1};
    std::string s = hexOf(v, 0, ebcToAscTable);
    EXPECT_NE(s.find("'ABa 1'"), std::string::npos) << s;
}

TEST(HexDump, FoldsRunsThatRepeatTheLastWord)
{
    std::vector<unsigned char> v;
    for (int i = 0; i < 20; ++i)
        v.push_back(static_cast<unsigned char>(i));
    for (int i = 0; i < 17; ++i)
        v.insert(v.end(), {'A', 'B', 'C', 'D'});
    for (int i = 0; i < 16; ++i)
        v.push_back(static_cast<unsigned char>(0x80 + i));
    ASSERT_EQ(v.size(), 104u);
    auto l = lines(hexOf(v));
    ASSERT_EQ(l.size(), 3u);
    EXPECT_EQ(l[0], " 000000 : 00010203 04050607 08090A0B 0C0D0E0F 10111213 41424344 "
                    "'....................ABCD'");
    EXPECT_EQ(l[1], " 000018 :  thru 000057 same as last word");
    EXPECT_EQ(l[2], " 000058 : 80818283 84858687 88898A8B 8C8D8E8F" + std::string(18, ' ') +
                        " '................'");
}

TEST(HexDump, NeverReadsPastTheArea)
{
    // Repeats up to the very end, at every length where the fold test
    // would look 40 bytes ahead: an exact-size heap copy lets the address
    // sanitizer see any read beyond it.
    for (size_t len = 25; len <= 120; ++len) {
        std::unique_ptr<unsigned char[]> p(new unsigned char[len]);
        for (size_t i = 0; i < len; ++i)
            p[i] = static_cast<unsigned char>("WXYZ"[i % 4]);
        char *buf = nullptr;
        size_t size = 0;
        FILE *f = open_memstream(&buf, &size);
        dumpHex(f, p.get(), 0, static_cast<int>(len), nullptr);
        fclose(f);
        std::string s(buf, size);
        free(buf);
        // A fold needs 40 bytes after the first line.
        EXPECT_EQ(s.find("same as last word") != std::string::npos, len - 24 >= 40) << len;
        // Every byte is either shown or folded: the last line ends the area.
        EXPECT_NE(s.find("'\n", s.size() - 2), std::string::npos) << len;
    }
}

TEST(HexDump, NothingForEmptyInput)
{
    EXPECT_EQ(hexOf({}), "");
    dumpHex(nullptr, "x", 0, 1, nullptr);
}

TEST_F(DumpTest, HeadingsAndNull)
{
    static const unsigned char b[] = {1, 2, 3};
    logDumpHex("#Title", b, 3);
    logDumpHex("Plain", nullptr, 5);
    logDumpHex(nullptr, b, 0);
    auto l = result();
    ASSERT_GE(l.size(), 5u);
    EXPECT_EQ(l[0].substr(10), "---- Title len=3  ----");
    EXPECT_EQ(l[1], " 000000 : 010203" + std::string(47, ' ') + " '...'");
    EXPECT_EQ(l[2], "");
    EXPECT_EQ(l[3], std::string(10, ' ') + "---- Plain len=5  ----");
    EXPECT_EQ(l[4], "<NULL> memory address");
}

TEST_F(DumpTest, TextBecomesACharacterDump)
{
    std::string text;
    for (int i = 0; i < 100; ++i)
        text += static_cast<char>('a' + i % 26);
    logDumpHex("#T", text.data(), 100);
    auto l = result();
    ASSERT_GE(l.size(), 4u);
    EXPECT_EQ(l[1], kRuler);
    EXPECT_EQ(l[2], "    1 : " + text.substr(0, 80) + " :");
    EXPECT_EQ(l[3], "   81 : " + text.substr(80) + std::string(60, ' ') + " :");
}

TEST_F(DumpTest, EarlyBinaryByteGivesHexLines)
{
    std::string text(100, 'q');
    for (int i = 0; i < 100; ++i)
        text[i] = static_cast<char>('A' + i % 23);
    text[10] = '\0';
    logDumpHex("#B", text.data(), 100);
    auto l = result();
    // heading, four lines of 24 bytes, one of 4, the closing empty line
    ASSERT_EQ(l.size(), 7u);
    EXPECT_EQ(l[1].substr(0, 10), " 000000 : ");
    EXPECT_EQ(l[4].substr(0, 10), " 000048 : ");
    EXPECT_EQ(l[5].substr(0, 18), " 000060 : 45464748");
    EXPECT_EQ(l[6], "");
}

TEST_F(DumpTest, LateBinaryByteSplitsTheDump)
{
    std::string text(300, 'x');
    for (int i = 0; i < 250; ++i)
        text[i] = static_cast<char>('a' + i % 26);
    text[250] = '\x01';
    logDumpHex("#M", text.data(), 300);
    auto l = result();
    ASSERT_EQ(l.size(), 1u + 1 + 3 + 3 + 1);
    EXPECT_EQ(l[1], kRuler);
    EXPECT_EQ(l[4].substr(0, 8), "  161 : ");
    EXPECT_EQ(l[5].substr(0, 10), " 0000F0 : ");
    EXPECT_EQ(l[7].substr(0, 10), " 000120 : ");
}

TEST_F(DumpTest, BaseOffsetAndEbcdic)
{
    static const unsigned char e[] = {0xC8, 0x85, 0x93, 0x93, 0x96};
    logHexAdrs = 0x100;
    logOptions("E");
    logDumpHex("#E", e, 5);
    EXPECT_EQ(logHexAdrs, 0);
    auto l = result();
    ASSERT_GE(l.size(), 2u);
    EXPECT_EQ(l[0].substr(10), "---- E len=5 EBCDIC ----");
    EXPECT_EQ(l[1], " 000100 : C8859393 96" + std::string(42, ' ') + " 'Hello'");
}

TEST_F(DumpTest, CharacterDumpEscapesAndFolds)
{
    static const char odd[] = "a\tb\\c\r\n\f\x01";
    logDumpChar("#C", odd, 9);
    std::string rep(80, 'r');
    std::string big = rep + rep + rep + rep + rep + "tail";
    logDumpChar("R", big.data(), static_cast<int>(big.size()));
    auto l = result();
    ASSERT_GE(l.size(), 10u);
    EXPECT_EQ(l[0].substr(10), "---- C len=9  ----");
    EXPECT_EQ(l[2], std::string("    1 : a\\tb\\\\c\\r\\n\\f.") + std::string(66, ' ') + " :");
    EXPECT_EQ(l[4], std::string(10, ' ') + "---- R len=404  ----");
    EXPECT_EQ(l[6], "    1 : " + rep + " :");
    EXPECT_EQ(l[7], "   81 :  thru   400 same as last");
    EXPECT_EQ(l[8], "  401 : tail" + std::string(76, ' ') + " :");
}
