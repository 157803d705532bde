// CZelName, CTime and BasicSafeString.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <ctime>
#include <map>
#include <string>

#include "SafeString.h"
#include "ZelBuffer.h"
#include "ZelName.h"

namespace {
std::string Raw(const CZelName &n) { return std::string(n.GetData(), n.GetSize()); }
}  // namespace

TEST(CZelName, AssignmentPadsAndCuts) {
    CZelName fresh(4);
    EXPECT_EQ(Raw(fresh), std::string(4, '\0'));
    EXPECT_EQ(fresh.GetData()[4], '\0');

    CZelName n("AB", 8);
    EXPECT_EQ(Raw(n), "AB      ");
    n = "ABCDEFGHIJ";
    EXPECT_EQ(Raw(n), "ABCDEFGH");
    EXPECT_EQ(n.GetData()[8], '\0');   // always terminated
    n = std::string("X\0Y", 3);        // a NUL ends the text
    EXPECT_EQ(Raw(n), "X       ");
    n.SetName("LONGER THAN EIGHT", 100);   // n is cut to the size
    EXPECT_EQ(Raw(n), "LONGER T");
    n.SetName("ABCD", 2);
    EXPECT_EQ(Raw(n), "AB      ");
    n = static_cast<const char *>(nullptr);
    EXPECT_EQ(Raw(n), "        ");

    CZelName other("XY", 3);
    n = other;   // takes the other's size
    EXPECT_EQ(n.GetSize(), 3u);
    EXPECT_EQ(Raw(n), "XY ");
    CZelName copy(n);
    EXPECT_EQ(Raw(copy), "XY ");
    EXPECT_EQ(copy.TrimmedLength(), 2u);

    CZelName zero(0);
    zero = "abc";
    EXPECT_EQ(zero.GetSize(), 0u);
    EXPECT_STREQ(zero.GetData(), "");
}

TEST(CZelName, StreamsExactlyItsSize) {
    CZelName n("AB", 8);
    CBuffer b;
    b << n;
    EXPECT_EQ(std::string(b.GetBuffer(), b.GetLength()), "AB      ");

    // Exactly the name's size is consumed, the bytes after a NUL included.
    CBuffer in("AB\0CDEF", 7);
    CZelName r(4);
    in >> r;
    EXPECT_EQ(Raw(r), "AB  ");
    EXPECT_EQ(std::string(in.GetBuffer(), in.GetLength()), "DEF");

    // A buffer shorter than the name: read what there is, stop at the end.
    CZelName wide(8);
    in >> wide;
    EXPECT_EQ(Raw(wide), "DEF     ");
    EXPECT_EQ(in.GetLength(), 0);
    EXPECT_EQ(in.GetOffset(), 7);
    in >> wide;
    EXPECT_EQ(Raw(wide), "        ");
}

TEST(CZelName, ComparisonsIgnoreTrailingBlanks) {
    CZelName ab8("AB", 8), ab4("AB", 4), abc("ABC", 8);
    EXPECT_TRUE(ab8 == ab4);
    EXPECT_FALSE(ab8 != ab4);
    EXPECT_FALSE(ab8 == abc);
    EXPECT_TRUE(ab8 == "AB");
    EXPECT_TRUE(ab8 == "AB   ");
    EXPECT_TRUE(ab8 != "ABC");
    EXPECT_TRUE(ab8 == std::string("AB  "));
    EXPECT_TRUE(ab8 != std::string("A"));

    CZelName ah("ABCDEFGH", 8);
    EXPECT_TRUE(ah == "ABCDEFGHIJ");   // the C string is cut to the size first
    EXPECT_TRUE(ah == std::string("ABCDEFGHIJ"));

    // A name that was never assigned holds NULs, which are not blanks: it
    // equals only another such name of its size, not a blank or empty one.
    CZelName fresh(8);
    EXPECT_FALSE(fresh == "");
    EXPECT_FALSE(fresh == static_cast<const char *>(nullptr));
    EXPECT_FALSE(fresh == CZelName("", 2));
    EXPECT_TRUE(fresh == CZelName(8));
    EXPECT_FALSE(fresh == CZelName(4));
    EXPECT_TRUE(CZelName("", 8) == static_cast<const char *>(nullptr));
    EXPECT_TRUE(CZelName("", 8) == CZelName("", 2));
    EXPECT_EQ(fresh.TrimmedLength(), 0u);   // the text itself ends at the NUL
}

TEST(CZelName, OrderIsTotalOverTrimmedNames) {
    CZelName host("HOST", 8), host1("HOST1", 8), hosu("HOSU", 4), hi("\xE9", 4), host4("HOST", 4);
    EXPECT_TRUE(host < host1);
    EXPECT_FALSE(host1 < host);
    EXPECT_TRUE(host1 > host);
    EXPECT_TRUE(host1 < hosu);
    EXPECT_TRUE(hosu < hi);   // bytes compare unsigned
    EXPECT_FALSE(host < host4);
    EXPECT_FALSE(host4 < host);
    EXPECT_TRUE(host >= host4);
    EXPECT_TRUE(host <= host4);

    // Never-assigned names sort apart from blank ones, consistently with ==.
    CZelName fresh(8), blank("", 8);
    EXPECT_TRUE(blank < fresh);
    EXPECT_FALSE(fresh < blank);

    // As map keys: different names stay apart, equal ones fall together.
    std::map<CZelName, int> m;
    m[host] = 1;
    m[host1] = 2;
    m[host4] = 3;
    m[CZelName("AB", 8)] = 4;
    m[CZelName("ABC", 8)] = 5;
    EXPECT_EQ(m.size(), 4u);
    EXPECT_EQ(m.at(CZelName("HOST", 12)), 3);
    EXPECT_EQ(m.at(CZelName("HOST1", 5)), 2);
}

TEST(CTime, TwelveDigitsFromSixParts) {
    EXPECT_EQ(Raw(CTime(2026, 12, 7, 22, 5, 9)), "261207220509");
    EXPECT_EQ(Raw(CTime(1999, 1, 2, 3, 4, 5)), "990102030405");
    EXPECT_EQ(Raw(CTime(2000, 1, 1, 0, 0, 0)), "000101000000");
    // Years outside 1971..2099 and wild values still give twelve digits.
    EXPECT_EQ(Raw(CTime(1970, 1, 1, 0, 0, 0)), "700101000000");
    EXPECT_EQ(Raw(CTime(2100, 2, 3, 4, 5, 6)), "000203040506");
    EXPECT_EQ(Raw(CTime(12345, 123, -7, 99, 100, -100)), "452307990000");
    CTime t(2026, 1, 1, 1, 1, 1);
    EXPECT_EQ(t.GetSize(), 12u);
    EXPECT_EQ(t.GetData()[12], '\0');

    CTime small(6);
    small.SetTime(2026, 12, 7, 22, 5, 9);   // cut to the name
    EXPECT_EQ(Raw(small), "261207");
    CTime copy = t;
    EXPECT_EQ(Raw(copy), Raw(t));
}

TEST(CTime, CurrentTime) {
    const time_t before = time(nullptr);
    CTime now = CTime::GetCurrentTime();
    const time_t after = time(nullptr);
    ASSERT_EQ(now.GetSize(), 12u);
    const std::string text = Raw(now);
    for (char c : text) EXPECT_TRUE(isdigit(static_cast<unsigned char>(c))) << text;
    struct tm a, b;
    localtime_r(&before, &a);
    localtime_r(&after, &b);
    char ea[16], eb[16];
    strftime(ea, sizeof ea, "%y%m%d%H%M%S", &a);
    strftime(eb, sizeof eb, "%y%m%d%H%M%S", &b);
    EXPECT_TRUE(text == ea || text == eb) << text;
}

TEST(CTime, FormatCurrentTimeIsNulFilled) {
    CTime d = CTime::FormatCurrentTime("%x", 32);
    ASSERT_EQ(d.GetSize(), 32u);
    const time_t now = time(nullptr);
    struct tm tmNow;
    localtime_r(&now, &tmNow);
    char expect[32];
    strftime(expect, sizeof expect, "%x", &tmNow);
    EXPECT_STREQ(d.GetData(), expect);
    const size_t len = strlen(expect);
    for (size_t i = len; i < 32; ++i) EXPECT_EQ(d.GetData()[i], '\0') << i;
    // NULs are not blanks: the NUL-filled name is not equal to its text.
    EXPECT_FALSE(d == expect);
    EXPECT_FALSE(d == CZelName(expect, 32));

    CTime y = CTime::FormatCurrentTime("%Y", 5);
    EXPECT_EQ(strlen(y.GetData()), 4u);
    CTime tooShort = CTime::FormatCurrentTime("%Y-%m-%d", 4);   // does not fit
    EXPECT_STREQ(tooShort.GetData(), "");
    CTime none = CTime::FormatCurrentTime(nullptr, 8);
    EXPECT_STREQ(none.GetData(), "");
    CTime zero = CTime::FormatCurrentTime("%Y", 0);
    EXPECT_EQ(zero.GetSize(), 0u);
}

TEST(BasicSafeString, NullCStringsAreEmpty) {
    SafeString s(static_cast<const char *>(nullptr));
    EXPECT_TRUE(s.empty());
    s = "abc";
    s += static_cast<const char *>(nullptr);
    EXPECT_EQ(s, "abc");
    s += 'd';
    s += SafeString("ef");
    EXPECT_EQ(s, "abcdef");
    s = static_cast<const char *>(nullptr);
    EXPECT_TRUE(s.empty());
    s = 'z';
    EXPECT_EQ(s, "z");
    EXPECT_EQ(SafeString('x', 3u), "xxx");
    EXPECT_EQ(SafeString(2u, 'y'), "yy");
    SafeString fromStd(std::string("std"));
    SafeString copy(fromStd);
    EXPECT_EQ(copy + "!", "std!");   // a standard string in every other way
    EXPECT_EQ(copy.size(), 3u);
}
