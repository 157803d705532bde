// Submitted forms merged into host screen records through field tables.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "xfcgihtml.h"
#include "xfcgiinput.h"
#include "xml/log_capture.h"

namespace {

std::string numeric(int n, int d, const std::string& text, bool ebcdic) {
    std::string out(static_cast<size_t>(n) + 2, '#');
    editNumeric(&out[0], n, d, text.data(), text.size(), nullptr, ebcdic);
    return out;
}

// A template whose field tables come from a .t3i file.
tcpHTML templateFrom(const std::string& t3i) {
    std::ofstream("form.t3i") << t3i;
    tcpHTML t;
    t.path = "/usr/local/qoric/htx/form.htx";
    EXPECT_EQ(xFcgiLoadDataDesc(&t, "form.t3i", false), 1);
    return t;
}

const char* kAmountForm =
    "<record type=\"fromweb\">"
    "<field name=\"amt\" mask=\"9(3)V99\"/>"
    "<field name=\"b\" mask=\"X(4)\"/>"
    "</record>";

}  // namespace

TEST(EditNumeric, SignsInBothStyles) {
    EXPECT_EQ(numeric(5, 2, "-12.5", false), "0125p##");
    EXPECT_EQ(numeric(5, 2, "-12.5", true), "0125}##");
    EXPECT_EQ(numeric(3, 0, "(7)", true), "00P##");
    EXPECT_EQ(numeric(4, 1, "9.9-", false), "009y##");
    EXPECT_EQ(numeric(4, 0, "1,234", false), "1234##");
    EXPECT_EQ(numeric(3, 0, "", false), "000##");
}

TEST(EditNumeric, TruncatesAsCobolDoesAndStaysInTheField) {
    EXPECT_EQ(numeric(3, 0, "123456", false), "456##");
    EXPECT_EQ(numeric(4, 2, "98765.4321", false), "6543##");
    EXPECT_EQ(numeric(2, 5, "1.23456", false), "23##");  // decimals beyond the field
    EXPECT_EQ(numeric(3, 1, "1.2.3", false), "012##");  // a second point is ignored
    std::string longDigits(5000, '9');
    EXPECT_EQ(numeric(4, 2, longDigits + "." + longDigits, false), "9999##");
    std::string out = "##";
    editNumeric(&out[0], 0, 0, "12", 2, nullptr, false);
    EXPECT_EQ(out, "##");
}

TEST(GetMcsData, FromwebFieldsInEbcdicStyle) {
    tcpHTML t = templateFrom(kAmountForm);
    xFcgiGetParsedInput("amt=-12.5&b=x+y%21&other=1");
    std::vector<char> rec(64, '\xFF');
    int n = xFcgiGetMcsData(rec.data(), rec.size(), &t);
    EXPECT_EQ(n, 9);
    EXPECT_EQ(std::string(rec.data(), 9), "0125}x y!");
    EXPECT_EQ(rec[9], '\xFF');  // beyond the screen size nothing changes
    EXPECT_EQ(t.usedScreenLen, 9);
}

TEST(GetMcsData, MainTableInAsciiStyleAndMissingFieldsZeroed) {
    tcpHTML t = templateFrom(
        "<record type=\"main\"><field name=\"amt\" mask=\"9(3)V99\"/>"
        "<field name=\"b\" mask=\"X(4)\"/><field name=\"up\" mask=\"U(3)\"/>"
        "<field name=\"z\" mask=\"ZZ9\"/></record>");
    LogCapture log("capture.log", "t");
    xFcgiGetParsedInput("amt=-12.5&up=abcdef&z=+4");
    std::vector<char> rec(32, 'Q');
    int n = xFcgiGetMcsData(rec.data(), rec.size(), &t);
    EXPECT_EQ(n, 15);
    EXPECT_EQ(std::string(rec.data(), 15), std::string("0125p\0\0\0\0ABC004", 15));
    EXPECT_TRUE(log.contains("GetMcsData form.htx: not received b"));
}

// The pictures of converted field files: blank-when-blank digits, a sign,
// a floating currency; all numeric.
TEST(GetMcsData, ConvertedPicturesAreNumeric) {
    tcpHTML t = templateFrom(
        "<record type=\"main\"><field name=\"b\" mask=\"2(4)\"/>"
        "<field name=\"s\" mask=\"SZZ9.99\"/><field name=\"c\" mask=\"$ZZ9\"/></record>");
    xFcgiGetParsedInput("b=12&s=-1.5&c=$7");
    std::vector<char> rec(16, 'Q');
    EXPECT_EQ(xFcgiGetMcsData(rec.data(), rec.size(), &t), 12);
    EXPECT_EQ(std::string(rec.data(), 12), "00120015p007");   // p: a negative 0
}

TEST(GetMcsData, UpperCaseFlagAndKinds) {
    tcpHTML t;
    t.path = "p.htx";
    TemplateField f;
    f.name = "u";
    f.length = 4;
    f.flags = TemplateField::kUpperCase;
    t.mainFields.push_back(f);
    TemplateField g;
    g.name = "n";
    g.kind = 3;  // an Int field of the template compiler
    g.length = 3;
    g.location = 4;
    t.mainFields.push_back(g);
    TemplateField h;
    h.name = "odd";
    h.kind = 21;
    h.length = 2;
    h.location = 7;
    t.mainFields.push_back(h);
    t.screenSize = 9;
    LogCapture log;
    xFcgiGetParsedInput("u=a1b%FC&n=-5&odd=zz");
    std::vector<char> rec(9, 'Q');
    EXPECT_EQ(xFcgiGetMcsData(rec.data(), rec.size(), &t), 9);
    EXPECT_EQ(std::string(rec.data(), 9), "A1B\xFC" "00u  ");
    EXPECT_TRUE(log.contains("ERROR xFcgiGetMcsData type 21 unknown odd for p.htx"));
}

TEST(GetMcsData, ClippedToTheRecord) {
    tcpHTML t = templateFrom(
        "<record type=\"fromweb\"><field name=\"a\" mask=\"X(4)\"/>"
        "<field name=\"b\" mask=\"X(8)\"/><field name=\"c\" mask=\"9(3)\"/></record>");
    EXPECT_EQ(t.screenSize, 15);
    xFcgiGetParsedInput("a=abcd&b=0123456789&c=5");
    std::vector<char> rec(12, '#');
    // Only the first 7 bytes belong to the record; the rest is a guard.
    EXPECT_EQ(xFcgiGetMcsData(rec.data(), 7, &t), 7);
    EXPECT_EQ(std::string(rec.data(), 12), "abcd012#####");
}

TEST(GetMcsData, TemplateBuffers) {
    tcpHTML t = templateFrom(kAmountForm);
    xFcgiGetParsedInput("amt=1&b=ok");
    // No buffer of its own: one of the screen size (+ 8) is made and kept.
    EXPECT_EQ(xFcgiGetMcsData(nullptr, 0, &t), 9);
    ASSERT_NE(t.mcsData, nullptr);
    EXPECT_TRUE(t.flags & tcpHTML::kOwnsScreen);
    EXPECT_EQ(t.mcsCapacity, 17u);
    EXPECT_EQ(std::string(t.mcsData, 9), "00100ok  ");
    // A buffer handed to the template is used within its capacity.
    char buf[6];
    t.mcsData = buf;
    t.mcsCapacity = sizeof buf;
    EXPECT_EQ(xFcgiGetMcsData(nullptr, 0, &t), 6);
    EXPECT_EQ(std::string(buf, 6), "00100o");
}

TEST(GetMcsData, WithoutTablesOrBuffer) {
    LogCapture log;
    tcpHTML none;
    none.path = "/usr/local/qoric/x.htx";
    char buf[4];
    EXPECT_EQ(xFcgiGetMcsData(buf, sizeof buf, &none), -1);
    EXPECT_TRUE(log.contains("ERROR xFcgiGetMcsData called for x.htx when no 'fromWeb'"));
    tcpHTML t;
    t.path = "y.htx";
    t.mainFields.emplace_back();
    EXPECT_EQ(xFcgiGetMcsData(nullptr, 0, &t), -1);
    EXPECT_TRUE(log.contains("ERROR xFcgiGetMcsData called for y.htx when no 'mcsdata'"));
    EXPECT_EQ(xFcgiGetMcsData(buf, sizeof buf, nullptr), -1);
}

TEST(GetOrd, NamesTheFormFields) {
    tcpHTML t = templateFrom(kAmountForm);
    int len = 0, count = 0;
    EXPECT_STREQ(xFcgiGetOrd(&t, 1, &len, &count), "b");
    EXPECT_EQ(len, 4);
    EXPECT_EQ(count, 2);
    LogCapture log("capture.log", "t");
    EXPECT_EQ(xFcgiGetOrd(&t, 2, &len, &count), nullptr);
    EXPECT_TRUE(log.contains("Asked for 2 fromWeb but max is 2"));
    tcpHTML empty;
    EXPECT_EQ(xFcgiGetOrd(&empty, 0, nullptr, &count), nullptr);
    EXPECT_EQ(count, 0);
}
