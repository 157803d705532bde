// Writing and reading values through the item kinds, the MCS header
// record, defaults, unknown names and reads outside the buffer.
#include <gtest/gtest.h>

#include <string>

#include "DataRecord.h"
#include "ZelBuffer.h"

namespace {

std::string Bytes(const CBuffer &b) { return std::string(b.GetBuffer(), b.GetLength()); }

std::string Read(const CDataRecord &r, const CBuffer &b, const std::string &name, int trim = 0) {
    std::string out;
    r.GetStringValue(out, &b, name, trim);
    return out;
}

// One item at offset 0 of a fresh record, with the stored bytes given.
struct Single {
    Single(const char *picture, const std::string &stored) : buffer(stored.data(), int(stored.size())) {
        EXPECT_EQ(record.AddItem("v", picture), 1) << picture;
    }
    std::string Get() { return Read(record, buffer, "v"); }
    CDataRecord record;
    CBuffer buffer;
};

}  // namespace

TEST(DataValues, TextItems) {
    CDataRecord r;
    ASSERT_EQ(r.AddItem("any", "X(5)"), 1);
    ASSERT_EQ(r.AddItem("up", "U(4)"), 1);
    ASSERT_EQ(r.AddItem("alpha", "A(4)"), 1);
    CBuffer b;
    r.SetValue(&b, "any", "ab");
    r.SetValue(&b, "UP", "x1y");
    r.SetValue(&b, "alpha", "ab1c");
    EXPECT_EQ(Bytes(b), std::string("ab   X1Y ABC "));
    r.SetValue(&b, "any", "abcdefg");       // cut at the length
    EXPECT_EQ(Read(r, b, "any"), "abcde");
    r.SetValue(&b, "any", std::string("a\0bc", 4));   // a NUL ends the value
    EXPECT_EQ(Read(r, b, "any"), "a    ");
    EXPECT_EQ(Read(r, b, "any", 1), "a");
    EXPECT_EQ(Read(r, b, "up", 1), "X1Y");
    EXPECT_EQ(Read(r, b, "alpha"), "ABC ");
}

TEST(DataValues, NumericWrites) {
    CDataRecord r;
    ASSERT_EQ(r.AddItem("n", "9(5)"), 1);
    CBuffer b;
    r.SetValue(&b, "n", "12a3");
    EXPECT_EQ(Bytes(b), "00123");
    r.SetValue(&b, "n", "1234567");
    EXPECT_EQ(Bytes(b), "34567");
    r.SetValue(&b, "n", "");
    EXPECT_EQ(Bytes(b), "00000");
    r.SetValue(&b, "n", 42u);
    EXPECT_EQ(Bytes(b), "00042");
    // A number is written as zero-padded text, cut at the length.
    r.SetValue(&b, "n", 9876543u);
    EXPECT_EQ(Bytes(b), "98765");
    CDataRecord t;
    ASSERT_EQ(t.AddItem("x", "X(4)"), 1);
    CBuffer tb;
    t.SetValue(&tb, "x", 7u);
    EXPECT_EQ(Bytes(tb), "0007");
    t.SetValue(&tb, "x", 123456u);
    EXPECT_EQ(Bytes(tb), "1234");
}

TEST(DataValues, NumericReads) {
    EXPECT_EQ(Single("9(5)", "0012J").Get(), "00121");
    EXPECT_EQ(Single("9(5)", "0012{").Get(), "00120");
    EXPECT_EQ(Single("9(5)", "0012}").Get(), "00120");
    EXPECT_EQ(Single("9(5)", "0012y").Get(), "00129");
    EXPECT_EQ(Single("9(5)", "0012C").Get(), "00123");
    EXPECT_EQ(Single("9(5)", "  12 ").Get(), "00012");
    EXPECT_EQ(Single("9(5)", "-0012").Get(), "00012");    // the sign is dropped
    EXPECT_EQ(Single("9(5)", "\t\x01" "12").Get(), "00012");
    EXPECT_EQ(Single("9(5)", "ab").Get(), "00000");
    // Wider than 32 bits: the digits are kept as they are.
    EXPECT_EQ(Single("9(12)", "123456789012").Get(), "123456789012");
}

TEST(DataValues, EditedReads) {
    EXPECT_EQ(Single("ZZ9.99", "00123").Get(), "1.23");
    EXPECT_EQ(Single("ZZ9.99", "00000").Get(), "0.00");
    EXPECT_EQ(Single("ZZ9.99", "12345").Get(), "123.45");
    EXPECT_EQ(Single("ZZZ.ZZ", "00000").Get(), "");
    EXPECT_EQ(Single("ZZZ.ZZ", "0000{").Get(), "");
    EXPECT_EQ(Single("ZZZ.ZZ", "00005").Get(), ".05");
    EXPECT_EQ(Single("9/99", "123").Get(), "1/23");
    EXPECT_EQ(Single("Z/ZZ", "005").Get(), "5");
    // No thousands separator in the C locale: the ',' disappears.
    EXPECT_EQ(Single("ZZ,ZZ9", "01234").Get(), "1234");
    // Currency: the locale has no symbol, so the picture's '$' is used.
    EXPECT_EQ(Single("$ZZ9", "005").Get(), "$5");
    EXPECT_EQ(Single("$999", "005").Get(), "$005");
    // A '2' position reads as a '9'.
    EXPECT_EQ(Single("Z2.2", "012").Get(), "1.2");
    // Non-digits in '9' positions print the fill: blank before the first
    // significant digit, '0' after it.
    EXPECT_EQ(Single("99/9", "1 2").Get(), "10/2");
    EXPECT_EQ(Single("99/9", " 12").Get(), "1/2");
}

TEST(DataValues, SignedEdited) {
    Single s("S9(3)", "");
    s.record.SetValue(&s.buffer, "v", "-12");
    EXPECT_EQ(Bytes(s.buffer), std::string("01\x42"));
    EXPECT_EQ(s.Get(), "-012");
    s.record.SetValue(&s.buffer, "v", "12");
    EXPECT_EQ(Bytes(s.buffer), "012");
    EXPECT_EQ(s.Get(), "012");

    Single z("SZZ9", "");
    z.record.SetValue(&z.buffer, "v", "-5");
    EXPECT_EQ(z.Get(), "-5");
    // Host overpunches of a negative value.
    EXPECT_EQ(Single("SZZ9", "01N").Get(), "-15");
    EXPECT_EQ(Single("SZZ9", "01}").Get(), "-10");
    EXPECT_EQ(Single("SZZ9", "01u").Get(), "-15");
    // Without the sign flag the sign is not stored.
    Single u("ZZ9", "");
    u.record.SetValue(&u.buffer, "v", "-7");
    EXPECT_EQ(Bytes(u.buffer), "007");
}

TEST(DataValues, EditedWrites) {
    Single s("ZZ9.99", "");
    s.record.SetValue(&s.buffer, "v", "1.5");
    EXPECT_EQ(Bytes(s.buffer), "00150");
    EXPECT_EQ(s.Get(), "1.50");
    s.record.SetValue(&s.buffer, "v", "12345.678");   // last integer digits, first decimals
    EXPECT_EQ(Bytes(s.buffer), "34567");
    s.record.SetValue(&s.buffer, "v", "a7b");
    EXPECT_EQ(Bytes(s.buffer), "00700");
    s.record.SetValue(&s.buffer, "v", 12u);   // a number is written as zero-padded text
    EXPECT_EQ(Bytes(s.buffer), "00012");
}

TEST(DataValues, BinaryItems) {
    CDataRecord r;
    ASSERT_EQ(r.AddItem("b1", 1), 1);
    ASSERT_EQ(r.AddItem("b2", 2), 1);
    ASSERT_EQ(r.AddItem("b4", 4), 1);
    CBuffer b;
    r.SetValue(&b, "b1", "300");
    r.SetValue(&b, "b2", "513");
    r.SetValue(&b, "b4", 0x01020304u);
    EXPECT_EQ(Bytes(b), std::string("\x2c\x02\x01\x01\x02\x03\x04", 7));
    EXPECT_EQ(Read(r, b, "b1"), "44");
    EXPECT_EQ(Read(r, b, "b2"), "513");
    EXPECT_EQ(Read(r, b, "b4"), "16909060");
    r.SetValue(&b, "b4", "4294967296");
    EXPECT_EQ(Read(r, b, "b4"), "4294967295");
    r.SetValue(&b, "b4", "-5");
    EXPECT_EQ(Read(r, b, "b4"), "4294967291");
    r.SetValue(&b, "b4", "x");
    EXPECT_EQ(Read(r, b, "b4"), "0");
    // A binary item cut by the end of the data reads the missing bytes as zero.
    CBuffer shortBuf("\x01\x02\x03\x04\x05", 5);
    EXPECT_EQ(Read(r, shortBuf, "b4"), "67436544");   // 04 05 00 00
    int isText = -1;
    std::string out;
    r.GetStringValue(out, &b, "b2", 0, &isText);
    EXPECT_EQ(isText, 1);
}

TEST(DataValues, BinaryOfOddSizeThrows) {
    CDataRecord r;
    ASSERT_EQ(r.AddItem("b3", 3), 1);
    CBuffer b(8);
    try {
        r.SetValue(&b, "b3", 5u);
        FAIL();
    } catch (const CZelDataException &e) {
        EXPECT_EQ(e.GetErrorCode(), CZelDataException::BadBinarySize);
        EXPECT_EQ(e.GetText(), "b3");
    }
    EXPECT_THROW(Read(r, b, "b3"), CZelDataException);
    // Outside the buffer its default (blanks) is read.
    CBuffer empty;
    EXPECT_EQ(Read(r, empty, "b3"), "   ");
}

TEST(DataValues, McsHeaderRecord) {
    CDataRecord r;
    r.AddItem("leftover", "X(3)");
    r.InitializeRecord();
    EXPECT_EQ(r.FindItem("leftover"), nullptr);
    EXPECT_EQ(r.GetSize(), 20u);
    CBuffer b;
    r.SetValue(&b, "mcs.name", "FMT1");
    r.SetValue(&b, "mcs.terminal", "    ");
    r.SetValue(&b, "mcs.function", " ");
    r.SetValue(&b, "mcs.hold", " ");
    r.SetValue(&b, "mcs.size", 80u);
    r.SetValue(&b, "mcs.count", 0x1234u);
    r.SetValue(&b, "mcs.status", "0");
    r.SetValue(&b, "mcs.filler", " ");
    EXPECT_EQ(Bytes(b), std::string("FMT1          \x00\x50" "0 \x12\x34", 20));
    EXPECT_EQ(Read(r, b, "mcs.size"), "80");
    EXPECT_EQ(Read(r, b, "MCS.Name", 1), "FMT1");
    EXPECT_EQ(r.FindItem("mcs.count")->GetOffset(), 18u);
}

TEST(DataValues, WritesGrowTheBufferAndKeepItsData) {
    CDataRecord r;
    ASSERT_EQ(r.AddItem("head", "X(4)"), 1);
    ASSERT_EQ(r.AddItem("tail", "X(3)"), 1);
    CBuffer b("ab", 2);
    r.SetValue(&b, "tail", "xyz");
    EXPECT_EQ(Bytes(b), std::string("ab\0\0xyz", 7));
    // Offsets count from the read offset.
    CBuffer moved("--abcdXYZ", 9);
    moved.SetOffset(2);
    EXPECT_EQ(Read(r, moved, "tail"), "XYZ");
    r.SetValue(&moved, "head", "pq");
    EXPECT_EQ(Bytes(moved), "pq  XYZ");
}

TEST(DataValues, DefaultsAndOutOfRangeReads) {
    CDataRecord r;
    ASSERT_EQ(r.AddItem("a", "X(4)", "hi"), 1);
    ASSERT_EQ(r.AddItem("b", "X(2)", "long default"), 1);
    ASSERT_EQ(r.AddItem("n", "9(3)", "7"), 1);
    CBuffer empty;
    EXPECT_EQ(Read(r, empty, "a"), "hi  ");
    EXPECT_EQ(Read(r, empty, "a", 1), "hi");
    EXPECT_EQ(Read(r, empty, "b"), "lo");
    EXPECT_EQ(Read(r, empty, "n"), "7  ");    // outside: the default as it is
    std::string out;
    r.GetStringValue(out, nullptr, "a", 1);
    EXPECT_EQ(out, "hi");

    // Inside the buffer, a text whose first byte is NUL reads its default.
    CBuffer zeros(9);
    EXPECT_EQ(Read(r, zeros, "a"), "hi  ");
    EXPECT_EQ(Read(r, zeros, "n"), "007");
    // An item that starts inside but runs past the end is blank-padded.
    CBuffer part("abcdef", 6);
    EXPECT_EQ(Read(r, part, "b"), "ef");
    CBuffer part2("abcde", 5);
    EXPECT_EQ(Read(r, part2, "b"), "e ");

    r.FindItem("a")->SetDefault(nullptr);
    EXPECT_EQ(Read(r, empty, "a"), "    ");
}

TEST(DataValues, UnknownNamesThrow) {
    CDataRecord r;
    ASSERT_EQ(r.AddItem("a", "X"), 1);
    CBuffer b;
    try {
        r.SetValue(&b, "nope", "x");
        FAIL();
    } catch (const CZelDataException &e) {
        EXPECT_EQ(e.GetErrorCode(), CZelDataException::ItemNotFound);
        EXPECT_EQ(e.GetText(), "nope");
        EXPECT_STREQ(e.what(), "nope");
    }
    EXPECT_THROW(r.SetValue(&b, "nope", 1u), CZelDataException);
    EXPECT_THROW(Read(r, b, "nope"), CZelDataException);
    EXPECT_THROW(Read(r, b, "a.count"), CZelDataException);   // not a group
    EXPECT_THROW(Read(r, b, ""), CZelDataException);
    EXPECT_TRUE(Bytes(b).empty());
}

TEST(DataValues, IsTextMarksNumbers) {
    CDataRecord r;
    r.AddItem("x", "X");
    r.AddItem("n", "9(2)");
    r.AddItem("e", "Z9.9");
    CBuffer b("a120", 4);
    std::string out;
    int isText = -1;
    r.GetStringValue(out, &b, "x", 0, &isText);
    EXPECT_EQ(isText, 1);
    r.GetStringValue(out, &b, "n", 0, &isText);
    EXPECT_EQ(isText, 0);
    r.GetStringValue(out, &b, "e", 0, &isText);
    EXPECT_EQ(isText, 1);
}
