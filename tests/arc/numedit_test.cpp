// Numeric edit: packed, zoned and binary fields to and from edited text.
#include "machine.h"
#include "numedit.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

std::string hex(const Bytes &b)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (unsigned char c : b) {
        s += digits[c >> 4];
        s += digits[c & 15];
    }
    return s;
}

struct Case {
    const char *in;    // edited text read
    int n, decimals;
    const char *field; // the field written: hex for packed and binary, text for zoned
    const char *out;   // the text the field reads back as
};

} // namespace

TEST(NumericEdit, PackedRoundTrips)
{
    const Case cases[] = {
        {"-123.45", 3, 2, "12345D", "-123.45"},
        {" +7 ", 2, 1, "070C", "7.0"},
        {"12-", 2, 0, "012D", "-12"},
        {"0", 1, 0, "0C", "0"},
        {"-0.00", 2, 2, "000C", "0.00"},
        {".5", 1, 2, "0C", nullptr},                         // 50 needs two digits
        {".05", 2, 2, "005C", "0.05"},
        {"0.05", 1, 2, "5C", "0.05"},                      // more decimals than digits
        {"0.5", 1, 2, "0C", nullptr},
        {"1.230", 2, 2, "123C", "1.23"},                   // a surplus zero is no loss
        {"9999999999999999999", 10, 0, "9999999999999999999C", "9999999999999999999"},
        {"-0000000000000000000000000000001", 16, 0, "0000000000000000000000000000001D",
         "-1"},
    };
    for (const Case &c : cases) {
        Bytes field(c.n);
        const int rc = mstrnp(c.in, field.data(), c.n, c.decimals);
        if (!c.out) {
            EXPECT_EQ(rc, -1) << c.in;
            continue;
        }
        ASSERT_EQ(rc, 0) << c.in;
        EXPECT_EQ(hex(field), c.field) << c.in;
        char text[64];
        EXPECT_EQ(mnpstr(field.data(), c.n, c.decimals, text), static_cast<int>(std::string(c.out).size()));
        EXPECT_STREQ(text, c.out);
    }
}

TEST(NumericEdit, RefusedTextAndBadNibbles)
{
    Bytes field = {0x12, 0x3C};
    for (const char *bad : {"", " ", "-", ".", "1.2.3", "1x", "--1", "+1-", "1.234", "10000"}) {
        EXPECT_EQ(mstrnp(bad, field.data(), 2, 0), -1) << bad;
        EXPECT_EQ(hex(field), "123C") << "field kept for " << bad;
    }
    char text[16] = "x";
    const Bytes badDigit = {0x1A, 0x2C}, badSign = {0x12, 0x35};
    EXPECT_EQ(mnpstr(badDigit.data(), 2, 0, text), -1);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(mnpstr(badSign.data(), 2, 0, text), -1);
    const Bytes unsignedSign = {0x12, 0x3F}, altMinus = {0x12, 0x3B};
    EXPECT_EQ(mnpstr(unsignedSign.data(), 2, 1, text), 4);
    EXPECT_STREQ(text, "12.3");
    mnpstr(altMinus.data(), 2, 0, text);
    EXPECT_STREQ(text, "-123");
}

TEST(NumericEdit, ZonedRoundTripsInBothSignModes)
{
    char zoned[20];
    char text[32];
    ASSERT_EQ(mstrnup("-123.45", zoned, 5, 2), 0);
    EXPECT_EQ(std::string(zoned, 5), "1234u");
    EXPECT_EQ(mnupstr(zoned, 5, 2, text), 7);
    EXPECT_STREQ(text, "-123.45");
    const int previous = msetEbcdic(1);
    ASSERT_EQ(mstrnup("-120", zoned, 4, 0), 0);
    EXPECT_EQ(std::string(zoned, 4), "012}");
    msetEbcdic(previous);
    mnupstr(zoned, 4, 0, text);
    EXPECT_STREQ(text, "-120");
    ASSERT_EQ(mstrnup("999999999999999999", zoned, 18, 0), 0);
    mnupstr(zoned, 18, 0, text);
    EXPECT_STREQ(text, "999999999999999999");
    EXPECT_EQ(mstrnup("1000", zoned, 3, 0), -1);

    const struct {
        const char *zoned;
        int decimals;
        const char *text;
    } reads[] = {{"  12", 0, "12"}, {"001A", 1, "1.1"}, {"0000", 2, "0.00"}, {"001q", 0, "-11"}, {"7", 3, "0.007"}};
    for (const auto &r : reads) {
        ASSERT_GE(mnupstr(r.zoned, static_cast<int>(std::string(r.zoned).size()), r.decimals, text), 0) << r.zoned;
        EXPECT_STREQ(text, r.text);
    }
    for (const char *bad : {"1 23", "12a4", "123 ", "1-23"})
        EXPECT_EQ(mnupstr(bad, 4, 0, text), -1) << bad;
}

TEST(NumericEdit, BinaryRoundTripsToTheWidestValue)
{
    const Case cases[] = {
        {"-1.50", 4, 2, "FFFFFF6A", "-1.50"},
        {"32767", 2, 0, "7FFF", "32767"},
        {"-32768", 2, 0, "8000", "-32768"},
        {"32768", 2, 0, nullptr, nullptr},
        {"-9223372036854775808", 8, 0, "8000000000000000", "-9223372036854775808"},
        {"9223372036854775807", 8, 0, "7FFFFFFFFFFFFFFF", "9223372036854775807"},
        {"9223372036854775808", 8, 0, nullptr, nullptr},
        {"99999999999999999999", 8, 0, nullptr, nullptr},
        {"0", 1, 0, "00", "0"},
        {"-1", 1, 1, "F6", "-1.0"},
        {"-0.000000000000000000001", 1, 21, "FF", "-0.000000000000000000001"},
    };
    for (const Case &c : cases) {
        Bytes field(c.n);
        const int rc = mstrcomp(c.in, field.data(), c.n, c.decimals);
        if (!c.out) {
            EXPECT_EQ(rc, -1) << c.in;
            continue;
        }
        ASSERT_EQ(rc, 0) << c.in;
        EXPECT_EQ(hex(field), c.field) << c.in;
        char text[32];
        mcompstr(field.data(), c.n, c.decimals, text);
        EXPECT_STREQ(text, c.out);
    }
    char text[32];
    EXPECT_EQ(mcompstr("\x01", 9, 0, text), -1);
}
