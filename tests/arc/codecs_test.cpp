// Number and text codecs: byte orders, zoned and packed decimal, 64-bit
// decimal text, Base64, EBCDIC, case-blind strings.
#include "ebc2asc.h"
#include "machdbl.h"
#include "machine.h"
#include "qorstring.h"
#include "to_lower.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

namespace {

std::string bytesOf(const unsigned char *p, int n) { return std::string(reinterpret_cast<const char *>(p), n); }

TEST(BigEndian, LoadsAndStoresMostSignificantFirst)
{
    unsigned char b[8] = {};
    EXPECT_EQ(mstint(0x01020304, b), 0x01020304);
    EXPECT_EQ(bytesOf(b, 4), std::string("\x01\x02\x03\x04", 4));
    EXPECT_EQ(mldint(b), 0x01020304);
    EXPECT_EQ(mstshort(-2, b + 4), -2);
    EXPECT_EQ(b[4], 0xFF);
    EXPECT_EQ(b[5], 0xFE);
    EXPECT_EQ(mldshort(b + 4), -2);
    EXPECT_EQ(mldushort(b + 4), 0xFFFE);
    mstint(INT32_MIN, b);
    EXPECT_EQ(mldint(b), INT32_MIN);
    EXPECT_EQ(mlduint(b), 0x80000000u);
    // Unaligned addresses work the same.
    mstint(-123456, b + 1);
    EXPECT_EQ(mldint(b + 1), -123456);
}

TEST(LittleEndian, StoresLeastSignificantFirst)
{
    unsigned char b[8] = {};
    mstintle(0x01020304, b);
    EXPECT_EQ(bytesOf(b, 4), std::string("\x04\x03\x02\x01", 4));
    EXPECT_EQ(mldintle(b), 0x01020304);
    EXPECT_EQ(mld386(b), 0x01020304);
    mstshortle(-3, b);
    EXPECT_EQ(mldshortle(b), -3);
    EXPECT_EQ(mldushortle(b), 0xFFFD);
}

TEST(SixtyFourBit, EightBytesAndPointers)
{
    unsigned char b[8];
    mstlonglong(-2, b);
    EXPECT_EQ(b[0], 0xFF);
    EXPECT_EQ(b[7], 0xFE);
    EXPECT_EQ(mldlonglong(b), -2);
    int x = 0;
    mstPtrToChar(&x, b);
    EXPECT_EQ(mldPtrFromChar(b), &x);
}

TEST(VariableWidth, ExtendsAndTruncates)
{
    unsigned char b[10];
    std::memset(b, 0xAA, sizeof b);
    mstintv(-2, b, 6);
    EXPECT_EQ(bytesOf(b, 6), std::string("\xFF\xFF\xFF\xFF\xFF\xFE", 6));
    EXPECT_EQ(b[6], 0xAA);
    EXPECT_EQ(mldintv(b, 6), -2);
    mstintv(0x1234, b, 2);
    EXPECT_EQ(mldintv(b, 2), 0x1234);
    EXPECT_EQ(mldintv("\x80", 1), -128);
    EXPECT_EQ(mlduintv("\x80", 1), 128u);
    mstllv(INT64_MIN, b, 10);
    EXPECT_EQ(mldllv(b, 10), INT64_MIN);
    EXPECT_EQ(mldullv(b, 10), 0x8000000000000000ull);
    EXPECT_EQ(mldintv(b, 0), 0);
}

TEST(Zoned, ReadsSignsAndOverpunches)
{
    EXPECT_EQ(mldintuc("  12-", 5), -12);
    EXPECT_EQ(mldintuc("0012}", 5), -120);
    EXPECT_EQ(mldintuc("0012A", 5), 121);
    EXPECT_EQ(mldintuc("001q", 4), -11);
    EXPECT_EQ(mldintuc("0012{", 5), 120);
    EXPECT_EQ(mldintuc("1,234.5+", 8), 12345);
    EXPECT_EQ(mldintuc("123", 0), 0);
    EXPECT_EQ(mldintuc("123", -1), 0);
    // Only the given characters count.
    EXPECT_EQ(mldintuc("12345", 3), 123);
}

TEST(Zoned, LongTextWrapsWithoutOverflow)
{
    // 30 nines would overflow any signed accumulator; the value wraps modulo 2^32.
    const std::string nines(30, '9');
    uint32_t expected = 0;
    for (int i = 0; i < 30; ++i)
        expected = expected * 10u + 9u;
    EXPECT_EQ(static_cast<uint32_t>(mldintuc(nines.c_str(), 30)), expected);
}

TEST(Zoned, WritesOverpunchedSign)
{
    char t[8] = {};
    EXPECT_EQ(std::string(mstintuc(-45, t, 4), 4), "004u");
    EXPECT_EQ(msetEbcdic(1), 0);
    EXPECT_EQ(std::string(mstintuc(-45, t, 4), 4), "004N");
    EXPECT_EQ(std::string(mstintuc(-40, t, 4), 4), "004}");
    EXPECT_EQ(msetEbcdic(0), 1);
    EXPECT_EQ(std::string(mstintuc(1234567, t, 3), 3), "567");
    EXPECT_EQ(std::string(mstintuc(INT32_MIN, t, 7), 7), "748364x");
    // What is written reads back.
    for (int v : {0, 7, -7, 99999, -99999}) {
        mstintuc(v, t, 6);
        EXPECT_EQ(mldintuc(t, 6), v) << v;
    }
}

TEST(Packed, RoundTripsWithSignNibble)
{
    unsigned char p[4];
    mstintpk(-12345, p, 3);
    EXPECT_EQ(bytesOf(p, 3), std::string("\x12\x34\x5D", 3));
    EXPECT_EQ(mldintpk(p, 3), -12345);
    mstuintpk(42, p, 2);
    EXPECT_EQ(bytesOf(p, 2), std::string("\x04\x2F", 2));
    EXPECT_EQ(mldintpk(p, 2), 42);
    char text[16];
    EXPECT_STREQ(mldstrpk(p, 2, text), " 042");
    mststrpk("-1.5", p, 2);
    EXPECT_EQ(bytesOf(p, 2), std::string("\x01\x5D", 2));
    EXPECT_STREQ(mldstrpk(p, 2, text), "-015");
    // Too wide for the field: the low digits are kept.
    mstintpk(123456, p, 2);
    EXPECT_EQ(mldintpk(p, 2), 456);
}

std::string dblStr(int64_t v, int width, int decimals)
{
    unsigned char b[8];
    mstint(static_cast<int32_t>(v >> 32), b);
    mstint(static_cast<int32_t>(v & 0xFFFFFFFF), b + 4);
    std::string out(width, '#');
    mDblIntStr(b, &out[0], width, decimals);
    return out;
}

TEST(DblInt, TextOfSixtyFourBitValues)
{
    EXPECT_EQ(dblStr(int64_t{1} << 32, 12, 0), " 04294967296");
    EXPECT_EQ(dblStr(-1234, 8, 0), "-0001234");
    EXPECT_EQ(dblStr(-1234, 8, 2), "-0012.34");
    EXPECT_EQ(dblStr(INT64_MAX, 20, 0), " 9223372036854775807");
    EXPECT_EQ(dblStr(INT64_MIN, 20, 0), "-9223372036854775808");
    // Too narrow: digits are dropped from the left, nothing is written before
    // the buffer or after its width.
    std::string guarded = "[" + dblStr(INT64_MIN, 6, 0) + "]";
    EXPECT_EQ(guarded, "[-75808]");
    EXPECT_EQ(dblStr(5, 1, 0), " ");
    EXPECT_EQ(dblStr(5, 3, 5), " .5");
    unsigned char b[8] = {};
    char c = 'x';
    EXPECT_EQ(mDblIntStr(b, &c, 0, 0), 1);
    EXPECT_EQ(c, 'x');
}

int64_t strDbl(const char *text, int decimals, int *sign = nullptr)
{
    unsigned char b[8];
    const int s = mStrDblInt(b, text, static_cast<int>(std::strlen(text)), decimals);
    if (sign)
        *sign = s;
    return mldlonglong(b);
}

TEST(DblInt, ReadsDecimalText)
{
    int sign = 0;
    EXPECT_EQ(strDbl("1.5", 2, &sign), 150);
    EXPECT_EQ(sign, 1);
    EXPECT_EQ(strDbl("-3", 0, &sign), -3);
    EXPECT_EQ(sign, -1);
    EXPECT_EQ(strDbl(" 1,234 ", 0), 1234);
    EXPECT_EQ(strDbl("12q", 0, &sign), -121);  // overpunch on the last character
    EXPECT_EQ(sign, -1);
    EXPECT_EQ(strDbl("1.234", 2), 1234);       // a longer fraction is kept whole
    EXPECT_EQ(strDbl("9223372036854775807", 0), INT64_MAX);
    // Far beyond 64 bits: wraps, no overflow.
    strDbl("99999999999999999999999999999999999999", 0);
}

TEST(DblInt, TextRoundTrip)
{
    for (int64_t v : {int64_t{0}, int64_t{1}, int64_t{-1}, int64_t{4294967295}, int64_t{-4294967296},
                      INT64_MAX, INT64_MIN + 1}) {
        const std::string text = dblStr(v, 21, 0);
        EXPECT_EQ(strDbl(text.c_str(), 0), v) << text;
    }
}

TEST(DblInt, DecimalAdderCarries)
{
    char a[] = "0999";
    EXPECT_EQ(mAddDec(a, "1", 4, 1), 0);
    EXPECT_STREQ(a, "1000");
    char b[] = "99";
    EXPECT_EQ(mAddDec(b, "1", 2, 1), 1);
    EXPECT_STREQ(b, "00");
}

std::string enc(const std::string &in)
{
    std::string out(base64EncodedSize(static_cast<int>(in.size())), '#');
    toBase64(&out[0], in.data(), static_cast<int>(in.size()));
    return out.c_str();
}

std::string dec(const std::string &in)
{
    std::string out(base64DecodedSize(static_cast<int>(in.size())), '#');
    int n = -1;
    fromBase64(&out[0], in.c_str(), static_cast<int>(in.size()), &n);
    EXPECT_EQ(out[n], '\0');
    return out.substr(0, n);
}

TEST(Base64, EncodesWithPadding)
{
    EXPECT_EQ(enc("abc"), "YWJj");
    EXPECT_EQ(enc("ab"), "YWI=");
    EXPECT_EQ(enc("a"), "YQ==");
    EXPECT_EQ(enc(""), "");
    char out[8];
    EXPECT_STREQ(toBase64(out, "abc", -1), "YWJj");
}

TEST(Base64, DecodesAndStopsAtPadding)
{
    char out[8];
    std::memset(out, '#', sizeof out);
    fromBase64(out, "YWI=", -1);
    EXPECT_EQ(std::string(out, 3), std::string("ab\0", 3));
    EXPECT_EQ(dec("YQ=="), "a");
    EXPECT_EQ(dec("YWJj"), "abc");
    EXPECT_EQ(dec("YWJjZA"), "abc");  // a tail of fewer than 4 characters is ignored
    // A '+' that URL decoding turned into a blank still decodes as '+'.
    EXPECT_EQ(dec("+/+/"), dec(" / /"));
    const std::string binary("\0\xFF\x10\x80 z", 6);
    EXPECT_EQ(dec(enc(binary)), binary);
}

TEST(Base64, BytesAboveSevenBitsDecodeAsZero)
{
    EXPECT_EQ(dec("\xC3\xA9\xFF\x80"), std::string(3, '\0'));
    EXPECT_EQ(dec("AA\xFF" "A"), dec("AAAA"));
}

TEST(Ebcdic, TablesAreInverse)
{
    for (int c = 0; c < 256; ++c) {
        EXPECT_EQ(as_to_eb(eb_to_as(static_cast<unsigned char>(c))), c);
        EXPECT_EQ(ascToEbcTable[ebcToAscTable[c]], c);
    }
    EXPECT_EQ(eb_to_as(0xC1), 'A');
    EXPECT_EQ(eb_to_as(0xF0), '0');
    EXPECT_EQ(eb_to_as(0x40), ' ');
    EXPECT_EQ(as_to_eb('a'), 0x81);
    unsigned char text[] = "Hello 123";
    toEbcdic(text, 9);
    EXPECT_EQ(text[0], 0xC8);
    toAscii(text, 9);
    EXPECT_STREQ(reinterpret_cast<char *>(text), "Hello 123");
}

TEST(Ebcdic, TerminalTextKeepsControlSequences)
{
    unsigned char text[] = {'A', 0x10, 'x', 'y', 'B'};
    utsToEbcdic(text, 5);
    EXPECT_EQ(text[0], 0xC1);
    EXPECT_EQ(text[1], 0x10);
    EXPECT_EQ(text[2], 'x');
    EXPECT_EQ(text[3], 'y');
    EXPECT_EQ(text[4], 0xC2);
    utsToAscii(text, 5);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(text), 5), "A\x10xyB");
}

TEST(Ebcdic, FieldCode)
{
    EXPECT_EQ(std::strlen(fieldCodeChars), 64u);
    unsigned char codes[] = {6, 5, 48, 63, 64, 200};
    fieldToAscii(codes, 6);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(codes), 6), "A 0_  ");
    unsigned char text[] = "Ab~9";
    asciiToField(text, 4);
    EXPECT_EQ(text[0], 6);
    EXPECT_EQ(text[1], 7);
    EXPECT_EQ(text[2], 5);  // outside the code: blank
    EXPECT_EQ(text[3], 57);
}

TEST(Strings, CaseBlindCompare)
{
    EXPECT_LT(stricmp("abc", "ABD"), 0);
    EXPECT_EQ(stricmp("MiXeD", "mixed"), 0);
    EXPECT_GT(stricmp("abcd", "ABC"), 0);
    EXPECT_EQ(strnicmp("abcX", "ABCy", 3), 0);
    EXPECT_NE(strnicmp("abcX", "ABCy", 4), 0);
    const char *text = "Content-Type: TEXT/html";
    EXPECT_EQ(stristr(text, "text/HTML"), text + 14);
    EXPECT_EQ(stristr(text, "xml"), nullptr);
}

TEST(Strings, LowerCaseInPlace)
{
    char t[] = "MiXeD 1";
    EXPECT_STREQ(to_lower(t, -1), "mixed 1");
    char u[] = "ABCDE";
    to_lower(u, 2);
    EXPECT_STREQ(u, "abCDE");
    char v[] = "\xC4Z";
    to_lower(v, -1);
    EXPECT_STREQ(v, "\xC4z");  // only A-Z change
}

TEST(Strings, FixedWidthCopies)
{
    char f[6];
    mstrncpy(f, "ab", 5);
    EXPECT_EQ(std::string(f, 5), "ab   ");
    mstrncpy(f, "abcdefgh", 5);
    EXPECT_EQ(std::string(f, 5), "abcde");
    char c[8];
    EXPECT_STREQ(cstrncpy(c, "ab   xyz", 5), "ab");
    EXPECT_STREQ(cstrncpy(c, "abc\0\0\0", 6), "abc");
    EXPECT_STREQ(cstrncpy(c, "     ", 5), "");
}

TEST(Strings, ShellQuoting)
{
    EXPECT_EQ(qorShellQuote("/a b/log"), "'/a b/log'");
    EXPECT_EQ(qorShellQuote("it's;rm -rf $HOME"), "'it'\\''s;rm -rf $HOME'");
    EXPECT_EQ(qorShellQuote(""), "''");
}

} // namespace
