// Submitted forms merged into host screen records through field tables.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <regex>
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

// A field of a template's main table, built by hand (kinds that a .t3i
// file cannot give).
TemplateField& addField(tcpHTML& t, const char* name, uint32_t kind, uint32_t length, uint16_t location) {
    TemplateField f;
    f.name = name;
    f.kind = kind;
    f.length = length;
    f.location = location;
    t.mainFields.push_back(f);
    return t.mainFields.back();
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
    addField(t, "u", 1, 4, 0).flags = TemplateField::kUpperCase;
    addField(t, "n", 3, 3, 4);  // an Int field of the template compiler
    addField(t, "odd", 21, 2, 7);
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

// The merge over the host's own screen: bytes the user did not change
// stay as the host sent them; what the user typed replaces them.
TEST(GetMcsData, KeepsTheHostBytesTheUserLeftAlone) {
    const std::string converted = "<records converted=\"yes\">";
    // A number whose mask hides two host digits, text, a pad, upper case.
    const std::string main = converted +
                             "<record type=\"main\"><field name=\"filler\" mask=\"X(2)\"/>"
                             "<field name=\"n\" mask=\"ZZ9.99\" hidden=\"2\"/>"
                             "<field name=\"a\" mask=\"X(4)\" pad=\"2\"/><field name=\"u\" mask=\"U(4)\"/>"
                             "</record></records>";
    const std::string signedMain = std::regex_replace(main, std::regex("ZZ9"), "SZZ9");
    // A hand-written page with toweb and fromweb records: a field the host
    // does not send comes first in the input.
    const std::string web = "<record type=\"toweb\"><field name=\"a\" mask=\"X(4)\"/></record>"
                            "<record type=\"fromweb\"><field name=\"i\" mask=\"X(3)\"/>"
                            "<field name=\"a\" mask=\"X(4)\"/></record>";
    // A converted page with an input-only field before a number with hidden
    // digits: its pad holds them in the input.
    const std::string sfs = converted +
                            "<record type=\"toweb\"><field name=\"filler\" mask=\"X(2)\"/>"
                            "<field name=\"n\" mask=\"ZZ9\" hidden=\"2\"/><field name=\"b\" mask=\"X(2)\" pad=\"1\"/>"
                            "<field name=\"i\" mask=\"X(2)\"/></record>"
                            "<record type=\"fromweb\"><field name=\"i\" mask=\"X(2)\" pad=\"2\"/>"
                            "<field name=\"n\" mask=\"ZZ9\" hidden=\"2\"/><field name=\"b\" mask=\"X(2)\" pad=\"1\"/>"
                            "</record></records>";
    // Hand-written pages that merge through fromweb: the host's bytes
    // are laid out by main when the page has one (in either order), by
    // nothing when fromweb stands alone.
    const std::string fromweb = "<record type=\"fromweb\"><field name=\"a\" mask=\"X(4)\"/>"
                                "<field name=\"b\" mask=\"X(4)\"/></record>";
    const std::string fromMain = "<record type=\"fromweb\"><field name=\"i\" mask=\"X(2)\"/>"
                                 "<field name=\"a\" mask=\"X(4)\"/></record>"
                                 "<record type=\"main\"><field name=\"a\" mask=\"X(4)\"/></record>";
    const std::string mainFrom = "<record type=\"main\"><field name=\"a\" mask=\"X(4)\"/></record>"
                                 "<record type=\"fromweb\"><field name=\"i\" mask=\"X(2)\"/>"
                                 "<field name=\"a\" mask=\"X(4)\"/></record>";
    // A page filled through toweb that merges through main.
    const std::string towebMain = "<record type=\"toweb\"><field name=\"b\" mask=\"X(2)\"/>"
                                  "<field name=\"a\" mask=\"X(2)\"/></record>"
                                  "<record type=\"main\"><field name=\"a\" mask=\"X(2)\"/>"
                                  "<field name=\"b\" mask=\"X(2)\"/></record>";
    const struct {
        const char* what;
        const std::string& t3i;
        std::string host, query, record;
        int used;
    } cases[] = {
        {"a changed number fills its hidden digits", main, "0012345AB  xyab12", "n=7.5&a=AB&u=ab12",
         "0000750AB  xyab12", 17},
        {"a number posted as shown keeps digits the mask hides", main, "1212345AB  xyab12",
         "n=123.45&a=AB&u=ab12", "1212345AB  xyab12", 17},
        {"fields not posted keep the host's bytes", main, std::string("1212345\0B  xyab12", 17), "",
         std::string("1212345\0B  xyab12", 17), 17},
        {"changed text", main, "0000000ABCDxyab12", "n=0.00&a=ab&u=cd", "0000000ab  xyCD  ", 17},
        {"a negative number", signedMain, "0000000ABCDxyab12", "n=-1.5", "000015pABCDxyab12", 17},
        {"leading blanks on a hand-written web page", web, "  AB", "i=q&a=AB", "q    AB", 7},
        {"each field from its toweb place", sfs, "01234BBxII", "i=qq&n=234&b=BB", "qq01234BBx", 10},
        {"a changed number after an input-only field", sfs, "01234BBxII", "i=qq&n=5&b=BB", "qq00005BBx", 10},
        {"a name posted twice gives its first value", main, "0000000ABCDxyab12", "a=ab&A=cd", "0000000ab  xyab12",
         17},
        {"fromweb alone keeps no host bytes", fromweb, "HOSTSCRN", "a=zz", std::string("zz  \0\0\0\0", 8), 8},
        {"fromweb then main: the host's bytes from main", fromMain, "AB  ", "a=AB", std::string("\0\0AB  ", 6),
         6},
        {"main then fromweb", mainFrom, "AB  ", "a=AB", std::string("\0\0AB  ", 6), 6},
        {"toweb lays out the host's bytes for main", towebMain, "BBAA", "b=BB", "AABB", 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        tcpHTML t = templateFrom(c.t3i);
        xFcgiGetParsedInput(c.query.c_str());
        std::vector<char> rec(32, 'Q');
        XFcgiHostScreen host;
        host.data = c.host;
        XFcgiRefusedNumber refused;
        EXPECT_EQ(xFcgiGetMcsData(rec.data(), rec.size(), &t, &host, &refused), c.used);
        EXPECT_EQ(std::string(rec.data(), c.record.size()), c.record);
        EXPECT_TRUE(refused.field.empty());
    }
}

// Host text with line breaks, left alone, comes back as a browser posts
// it: without CR and LF from a text input, with each line break as LF
// from a TEXTAREA or a hidden input; the host keeps its bytes.
TEST(GetMcsData, LineBreaksComeBackAsABrowserPostsThem) {
    tcpHTML t = templateFrom(
        "<record type=\"main\"><field name=\"t\" mask=\"X(12)\"/><field name=\"x\" mask=\"X(12)\"/>"
        "<field name=\"h\" mask=\"X(12)\"/></record>");
    t.text = "<FORM><INPUT TYPE=TEXT NAME=\"t\" VALUE=\"\\{t}\"><TEXTAREA NAME=\"x\">\\{x}</TEXTAREA>"
             "<INPUT TYPE=HIDDEN NAME=\"h\" VALUE=\"\\{h}\"></FORM>";
    xFcgiCompileTemplate(t, nullptr);
    const std::string text = "a\rb\nc\r\nd\te  ", host = text + text + text;
    const std::string asLf = "a%0D%0Ab%0D%0Ac%0D%0Ad%09e";
    const struct {
        const char* what;
        std::string query, record;
    } cases[] = {
        {"left alone", "t=abcd%09e&x=" + asLf + "&h=" + asLf, host},
        {"line breaks taken out of the TEXTAREA", "t=abcd%09e&x=abcd%09e&h=" + asLf,
         text + "abcd\te      " + text},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        xFcgiGetParsedInput(c.query.c_str());
        std::vector<char> rec(36, 'Q');
        XFcgiHostScreen screen;
        screen.data = host;
        EXPECT_EQ(xFcgiGetMcsData(rec.data(), rec.size(), &t, &screen), 36);
        EXPECT_EQ(std::string(rec.data(), rec.size()), c.record);
    }
}

// A number its field cannot hold as typed is refused before the record
// changes, with or without the host's screen: letters, a sign where the
// mask has none, whole digits beyond the field's (hidden ones count),
// non-zero decimals beyond its own. What fits passes.
TEST(GetMcsData, RefusesNumbersTheFieldCannotHold) {
    tcpHTML t = templateFrom(
        "<record type=\"main\"><field name=\"n\" mask=\"ZZ9\"/><field name=\"p\" mask=\"9(2)\"/>"
        "<field name=\"a\" mask=\"X(2)\"/><field name=\"s\" mask=\"SZ9.99\" pad=\"1\"/>"
        "<field name=\"h\" mask=\"9\" hidden=\"1\"/></record>");
    const std::string unsigned3 = "a number of at most 3 digits, without decimals or sign";
    const std::string signed2 = "a number of at most 2 digits and 2 decimals";
    const struct {
        const char* query;
        bool host;
        std::string field, takes, record;
    } cases[] = {
        {"n=ab", true, "n", unsigned3, ""},      {"n=12x", true, "n", unsigned3, ""},
        {"n=1%09", true, "n", unsigned3, ""},    {"p=7&n=%E4", true, "n", unsigned3, ""},
        {"n=4-2", true, "n", unsigned3, ""},     {"n=-5", false, "n", unsigned3, ""},
        {"n=1.5", true, "n", unsigned3, ""},     {"n=1234", false, "n", unsigned3, ""},
        {"n=4%2B2", false, "n", unsigned3, ""},  {"s=1.255", true, "s", signed2, ""},
        {"s=1-2", true, "s", signed2, ""},
        {"h=123", true, "h", "a number of at most 2 digits, without decimals or sign", ""},
        {"n=0012.000&s=-12.50&h=12", false, "", "", std::string("012\0\0\0\0", 7) + "125p12"},
        {"s=1.50-&n=+7", true, "", "", "00745AB015p98"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        xFcgiGetParsedInput(c.query);
        std::vector<char> rec(14, 'Q');
        XFcgiHostScreen host;
        host.data = "12345AB000098";
        XFcgiRefusedNumber refused;
        const int used = xFcgiGetMcsData(rec.data(), rec.size(), &t, c.host ? &host : nullptr, &refused);
        EXPECT_EQ(refused.field, c.field);
        EXPECT_EQ(refused.takes, c.takes);
        if (c.field.empty()) {
            EXPECT_EQ(used, 13);
            EXPECT_EQ(std::string(rec.data(), c.record.size()), c.record);
        } else {
            EXPECT_EQ(used, -1);
            EXPECT_EQ(std::string(rec.data(), rec.size()), std::string(14, 'Q')) << "nothing changed";
        }
    }
    // A field the screen shows protected keeps the host's bytes whatever
    // came; so does a value posted as the page showed it, though it would
    // not fit (a number of the input shown as text).
    xFcgiGetParsedInput("n=+1&p=x&a=zz");
    std::vector<char> rec(13, 'Q');
    XFcgiHostScreen host;
    host.data = "00112AB00001";
    host.keep = {"p", "a"};
    XFcgiRefusedNumber refused;
    EXPECT_EQ(xFcgiGetMcsData(rec.data(), rec.size(), &t, &host, &refused), 13);
    EXPECT_EQ(std::string(rec.data(), 7), "00112AB");
    tcpHTML shown = templateFrom("<record type=\"toweb\"><field name=\"c\" mask=\"X(3)\"/></record>"
                                 "<record type=\"fromweb\"><field name=\"c\" mask=\"9(3)\"/></record>");
    xFcgiGetParsedInput("c=A-C");
    host.data = "A-C";
    EXPECT_EQ(xFcgiGetMcsData(rec.data(), rec.size(), &shown, &host, &refused), 3);
    EXPECT_EQ(std::string(rec.data(), 3), "A-C");
    EXPECT_EQ(refused.field, "");
}

// Checkboxes and radio buttons of hand-written pages are not posted when
// cleared: their bytes are zeroed as before.
TEST(GetMcsData, ClearedCheckboxesAreZeroed) {
    tcpHTML t;
    t.path = "p.htx";
    addField(t, "box", 12, 1, 0);
    addField(t, "t", 1, 2, 1);
    t.screenSize = 3;
    xFcgiGetParsedInput("");
    std::vector<char> rec(3, 'Q');
    XFcgiHostScreen host;
    host.data = "Yab";
    EXPECT_EQ(xFcgiGetMcsData(rec.data(), rec.size(), &t, &host), 3);
    EXPECT_EQ(std::string(rec.data(), 3), std::string("\0ab", 3));
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
