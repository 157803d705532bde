// Page filling: headers and cookies, values and their escaping, conditions,
// repeated blocks, includes, #SET/#ECHO, screen fields and edit masks.
#include <gtest/gtest.h>

#include <cstdlib>

#include "template_util.h"
#include "xml/log_capture.h"

namespace {

using tpl::Compiled;
using tpl::compile;
using tpl::page;

// Constants registered before any test puts a value, as the gateway
// registers its err. names at start-up.
class Constants : public ::testing::Environment {
public:
    void SetUp() override {
        xFcgiConsStr("site.name", "QORSITE");
        xFcgiConsInt("err.none", 0);
    }
};
const auto* const constants = ::testing::AddGlobalTestEnvironment(new Constants);

class TemplateFill : public ::testing::Test {
protected:
    void SetUp() override { tpl::freshState(); }
    void TearDown() override { tpl::freshState(); }

    std::string fill(const std::string& text) {
        c_ = std::make_unique<Compiled>();
        compile(*c_, text);
        return page(&c_->t);
    }
    std::unique_ptr<Compiled> c_;
};

TEST_F(TemplateFill, HeadersOncePerPage) {
    Compiled c;
    compile(c, "<p>x</p>");
    xFcgiSaveHdrData("X-Test: 1\r\n", 11);
    std::string first = tpl::response(&c.t);
    EXPECT_EQ(first,
              "Content-type: text/html\r\nCache-Control: no-cache\r\nX-Test: 1\r\n\r\n<p>x</p>");
    std::string second = tpl::response(&c.t);
    EXPECT_EQ(second, "Content-type: text/html\r\nCache-Control: no-cache\r\n\r\n<p>x</p>");
}

TEST_F(TemplateFill, ContentTypeDeclaresTheCharacterSet) {
    Compiled c;
    compile(c, "<p>x</p>");
    xFcgiSetCharset("ISO-8859-1");
    EXPECT_EQ(tpl::response(&c.t),
              "Content-type: text/html; charset=ISO-8859-1\r\nCache-Control: no-cache\r\n\r\n<p>x</p>");
    // Nothing that could end the header line gets into it.
    for (const char* bad : {"latin1\r\nX-Evil: 1", "a b", "x;y", ""}) {
        xFcgiSetCharset(bad);
        EXPECT_EQ(xFcgiGetCharset(), "") << bad;
        EXPECT_EQ(tpl::response(&c.t), "Content-type: text/html\r\nCache-Control: no-cache\r\n\r\n<p>x</p>");
    }
}

TEST_F(TemplateFill, CookiesOfPagesWithADataDescription) {
    Compiled c;
    compile(c, "x", "/srv/qoric/htx/page.htx");
    xFcgiPutStr("pib.pidPoolValue", "7");
    EXPECT_EQ(tpl::response(&c.t).find("Set-Cookie"), std::string::npos);
    c.t.flags |= tcpHTML::kWebTables | tcpHTML::kFilled;
    xFcgiServerRoot("/srv/qoric/");
    std::string r = tpl::response(&c.t);
    EXPECT_NE(r.find("Set-Cookie: PIDPOOL_ID=7; path=/;\r\n"), std::string::npos) << r;
    EXPECT_NE(r.find("Set-Cookie: LAST_QORIC_FORM=page%2Ehtx; path=/;\r\n\r\nx"),
              std::string::npos)
        << r;
    xFcgiServerRoot("/usr/local/qoric/");
}

TEST_F(TemplateFill, PutCookieEncodesAndExpires) {
    xFcgiSendContentType();
    xFcgiFlushText();
    fcgicapture::reset();
    xFcgiPutCookie("N", "a b/c", 0, nullptr);
    EXPECT_EQ(fcgicapture::output, "Set-Cookie: N=a+b%2Fc; path=/;\r\n");
    fcgicapture::reset();
    xFcgiPutCookie("N", "v", 3600, "example.org");
    const std::string& out = fcgicapture::output;
    EXPECT_EQ(out.find("Set-Cookie: N=v; path=/; expires="), 0u) << out;
    EXPECT_NE(out.find(" GMT; domain=example.org;\r\n"), std::string::npos) << out;
    xFcgiContentTypeReset();
}

TEST_F(TemplateFill, ValuesDefaultsAndMissingVariables) {
    xFcgiPutStr("a", "ABC   ");
    xFcgiPutStr("empty", "");
    setenv("tplenvvar", "lower", 1);
    setenv("TPLUPPER", "upper", 1);
    std::string out = fill(
        "[\\{a}][<input name=e value=\\{empty ALTER}>][\\{tplenvvar}][\\{tplupper}][\\{nothere}]");
    EXPECT_EQ(out, "[ABC][<input name=e value=>][lower][upper][<p>Missing variable: nothere</p>]");
    unsetenv("tplenvvar");
    unsetenv("TPLUPPER");
}

TEST_F(TemplateFill, MissingVariableDumpsTheTableOncePerPage) {
    LogCapture log("missing.log", "d");
    xFcgiPutStr("shown", "1");
    xFcgiPutStr("err.code", "0");
    EXPECT_EQ(fill("\\{gone}\\{gone2}"),
              "<p>Missing variable: gone</p><p>Missing variable: gone2</p>");
    const std::string text = log.text();
    EXPECT_NE(text.find("ERROR: Variable gone not defined for output"), std::string::npos);
    EXPECT_NE(text.find("ERROR: Variable gone2 not defined for output"), std::string::npos);
    // One dump: every variable, constants included, but the err. ones.
    EXPECT_EQ(text.find("Contents"), text.rfind("Contents")) << text;
    EXPECT_NE(text.find("site.name"), std::string::npos) << text;
    EXPECT_NE(text.find("shown"), std::string::npos);
    EXPECT_EQ(text.find("err."), std::string::npos);
}

TEST_F(TemplateFill, DefaultTextQuotesTheValue) {
    // ALTER takes the tag's VALUE as default text: the value is written in
    // quotes, and the default (without quotes) when the variable is missing.
    xFcgiPutStr("v", "new");
    EXPECT_EQ(fill("<input name=v value=\"old\" \\{v ALTER}>"),
              "<input name=v value=\"old\" \"new\">");
    EXPECT_EQ(fill("<input name=w value=\"old\" \\{w ALTER}>"),
              "<input name=w value=\"old\" old>");
}

TEST_F(TemplateFill, DataValuesAreEscapedRawValuesAreNot) {
    xFcgiPutStr("d", "<b>\"x\" & y</b>");
    xFcgiPutRaw("r", "<b>bold</b>");
    EXPECT_EQ(fill("\\{d}|\\{r}|<input name=q value=\"\\{d}\">"),
              "&lt;b&gt;&quot;x&quot; &amp; y&lt;/b&gt;|<b>bold</b>|"
              "<input name=q value=\"&lt;b&gt;&quot;x&quot; &amp; y&lt;/b&gt;\">");
    // #SET literals are raw; a value built from data stays data.
    EXPECT_EQ(fill("<!--#SET VAR=lit VALUE=\"<i>\"--><!--#SET VAR=mix VALUE=\"<i>${d}\"-->"
                   "\\{lit}|\\{mix}"),
              "<i>|&lt;i&gt;&lt;b&gt;&quot;x&quot; &amp; y&lt;/b&gt;");
}

TEST_F(TemplateFill, DataInsideScriptKeepsIdentifierCharacters) {
    xFcgiPutStr("f", "form1\";alert(1);//");
    xFcgiPutStr("g", "field_2.x-y");
    xFcgiPutRaw("raw", "a+b");
    EXPECT_EQ(fill("<script>document.\\{f}.\\{g}.focus(); \\{raw}</script> \\{g}"),
              "<script>document.form1alert1.field_2.x-y.focus(); a+b</script> field_2.x-y");
}

TEST_F(TemplateFill, DataInsideScriptStringsIsEscapedNotCut) {
    xFcgiPutStr("m", "x y';alert(1);//</script>");
    xFcgiPutRaw("raw", "a'b");
    const struct {
        const char* page;
        const char* out;
    } cases[] = {
        // In a string of any quote the true value arrives, escaped.
        {"<script>var m='\\{m}';</script>",
         "<script>var m='x y\\x27\\x3Balert\\x281\\x29\\x3B\\x2F\\x2F\\x3C\\x2Fscript\\x3E';</script>"},
        {"<SCRIPT>alert(\"\\{m}\")</SCRIPT>",
         "<SCRIPT>alert(\"x y\\x27\\x3Balert\\x281\\x29\\x3B\\x2F\\x2F\\x3C\\x2Fscript\\x3E\")</SCRIPT>"},
        // An escaped quote and a quote of the other kind keep the string open;
        // after its end the filter of code applies again.
        {"<script>s='it\\'s \"\\{m}';t=\\{m}</script>",
         "<script>s='it\\'s \"x y\\x27\\x3Balert\\x281\\x29\\x3B\\x2F\\x2F\\x3C\\x2Fscript\\x3E';"
         "t=xyalert1script</script>"},
        // Quotes inside comments open no string.
        {"<script>// don't\n/* \"x */ f(\\{m})</script>",
         "<script>// don't\n/* \"x */ f(xyalert1script)</script>"},
        // The element ends at its end tag even inside an unclosed string;
        // raw values stay as they are.
        {"<script>'\\{raw}</script>'\\{m}'", "<script>'a'b</script>'x y&#39;;alert(1);//&lt;/script&gt;'"},
    };
    for (const auto& c : cases) EXPECT_EQ(fill(c.page), c.out) << c.page;
}

TEST_F(TemplateFill, Conditions) {
    const char* chain =
        "<!--#IF EXPR=\"a\"-->A<!--#ELIF EXPR=\"b\"-->B<!--#ELSE-->C<!--#ENDIF-->.";
    xFcgiPutStr("a", "");
    xFcgiPutStr("b", "1");
    EXPECT_EQ(fill(chain), "B.");
    xFcgiPutStr("b", "");
    EXPECT_EQ(fill(chain), "C.");
    xFcgiPutStr("a", "0");  // not empty: true
    EXPECT_EQ(fill(chain), "A.");
    EXPECT_EQ(fill("<!--#IF EXPR=\"10 - 2 > 3\"-->yes<!--#ENDIF-->"), "yes");
    EXPECT_EQ(fill("<!--#IF EXPR=\"'Hello World' contains 'WORLD'\"-->at \\{contains.index}"
                   "<!--#ENDIF-->"),
              "at 7");
    // An unclosed IF runs to the end of the page.
    EXPECT_EQ(fill("x<!--#IF EXPR=\"b\"-->y"), "x");
}

TEST_F(TemplateFill, RepeatedBlocks) {
    xFcgiPutStr("x.count", "3");
    EXPECT_EQ(fill("<!--#BEGIN NAME=x-->[\\{x.index}]<!--#END-->"),
              "[00001][00002][00003]");
    EXPECT_EQ(fill("<!--#BEGIN NAME=none MAX=0-->row<!--#END-->\\{none.index}"), "00000");
    EXPECT_EQ(fill("<!--#BEGIN NAME=two MAX=2-->r<!--#END-->"), "rr");
    // Values set inside a row per row; subscripts of the open rows.
    xFcgiPutStr("y.count", "4");
    xFcgiPutStr("v_2_4", "deep");
    std::string out = fill(
        "<!--#BEGIN NAME=x--><!--#BEGIN NAME=y-->"
        "<!--#IF EXPR=\"x.index eq 2 and y.index eq 4\"--><input name=v>\\{v}<!--#ENDIF-->"
        "<!--#END--><!--#END-->");
    EXPECT_EQ(out, "<input name=v_2_4>deep");
}

// 16 nested blocks of two rows: 65,536 rows, each with its 16 subscripts
// and its innermost index, in row order. Every row adds variables to the
// table (the inner blocks' indexes of each outer row), so a lookup that
// scanned the table would make this take minutes.
TEST_F(TemplateFill, SixteenNestedBlocksFillEveryRow) {
    constexpr int kLevels = 16;
    std::string text;
    for (int k = 1; k <= kLevels; ++k) text += "<!--#BEGIN NAME=b" + std::to_string(k) + " MAX=2-->";
    text += "<input name=v>\\{b16.index}|";
    for (int k = 0; k < kLevels; ++k) text += "<!--#END-->";
    std::string expected;
    for (int row = 0; row < (1 << kLevels); ++row) {
        expected += "<input name=v";
        for (int k = kLevels - 1; k >= 0; --k) expected += "_" + std::to_string((row >> k & 1) + 1);
        expected += ">0000" + std::to_string((row & 1) + 1) + "|";
    }
    EXPECT_EQ(fill(text), expected);
    EXPECT_EQ(xFcgiSubscriptDepth(), 0);
}

TEST_F(TemplateFill, NestingDeeperThanTheRowStackIsSkipped) {
    std::string text;
    for (int i = 0; i < 130; ++i) text += "<!--#BEGIN NAME=b" + std::to_string(i) + " MAX=1-->";
    text += "in";
    for (int i = 0; i < 130; ++i) text += "<!--#END-->";
    EXPECT_EQ(fill(text), "");
    EXPECT_EQ(xFcgiSubscriptDepth(), 0);
}

TEST_F(TemplateFill, VeryDeepConditionsDoNotExhaustTheStack) {
    std::string text;
    for (int i = 0; i < 20000; ++i) text += "<!--#IF EXPR=\"1\"-->";
    text += "in";
    EXPECT_EQ(fill(text), "");
}

TEST_F(TemplateFill, SetAndEcho) {
    xFcgiPutStr("a", "4");
    EXPECT_EQ(fill("<!--#SET VAR=n COMPUTE=\"a * 2 + 1\"-->\\{n} "
                   "<!--#ECHO EXPR=\"10 - 2 + 3\"--> <!--#ECHO VAR=m VALUE=\"<${a}>\"--> "
                   "\\{a+1} <!--#ECHO VAR=a-->"),
              "9 11 &lt;4&gt; 5 4");
    // Set inside a row goes to the enclosing level.
    xFcgiPutStr("r.count", "2");
    EXPECT_EQ(fill("<!--#BEGIN NAME=r--><!--#SET VAR=last VALUE=\"${r.index}\"--><!--#END-->"
                   "\\{last}"),
              "00002");
}

TEST_F(TemplateFill, ExpressionExamples) {
    xFcgiPutStr("a", "1");
    xFcgiPutStr("b", "2");
    EXPECT_EQ(fill("<!--#ECHO EXPR=\"a + b * 2\"-->|<!--#ECHO EXPR=\"printf('%05d|%s', 42, 'ab')\"-->|"
                   "<!--#ECHO EXPR=\"avg(1, 2)\"-->|<!--#ECHO EXPR=\"min(5, -3, 2)\"-->|"
                   "<!--#ECHO EXPR=\"substr('abcde', 2, 10)\"-->|<!--#ECHO EXPR=\"10 gt 9\"-->|"
                   "<!--#ECHO EXPR=\"'10' > '9'\"-->"),
              "5|00042|ab|1|-3|bcde|1|0");
}

TEST_F(TemplateFill, BoolAndTransactionLinks) {
    xFcgiPutStr("on", "1");
    xFcgiPutStr("off", "0");
    EXPECT_EQ(fill("\\{on BOOL='checked' 'no'}|\\{off BOOL='checked' 'no'}|\\{gone BOOL=yes}"),
              "checked|no|");
    EXPECT_EQ(fill("\\{$TRX}"), "**** Unknown transaction code TRX\n");
    std::vector<XFcgiTranEntry> local{{"trx", "<a href=\"", "/cgi/qoric", ""}};
    xFcgiSetTranTab(&local, nullptr);
    xFcgiPutStr("SID", "s1");
    EXPECT_EQ(fill("\\{*TRX HREF=Y}"), "<a href=\"/cgi/qoric?TID=TRX&SID=s1");
    EXPECT_TRUE(xFcgiSidUsed());
    xFcgiSetTranTab(nullptr, nullptr);
}

TEST_F(TemplateFill, ScreenFieldsAndEditMasks) {
    Compiled c;
    compile(c, "[\\{r}\\{r}\\{r}\\{r}\\{r}][\\{amt}][\\{name}][\\{far}]");
    auto field = [](const char* n, uint32_t len, uint16_t loc, const char* pic, int16_t occ = 0) {
        TemplateField f;
        f.name = n;
        f.length = len;
        f.location = loc;
        f.picture = pic;
        f.occurrences = occ;
        f.elementLength = occ ? static_cast<uint16_t>(len) : 0;
        return f;
    };
    c.t.towebFields = {field("r", 2, 0, "X(2)", 4), field("amt", 5, 8, "-ZZZZ9"),
                       field("name", 6, 13, "X(6)"), field("far", 4, 40, "X(4)")};
    c.t.flags |= tcpHTML::kWebTables;
    const std::string screen = "AABBCCDD0012J  ab  ";
    c.t.mcsCount = static_cast<int>(screen.size());
    EXPECT_EQ(page(&c.t, screen.c_str()), "[AABBCCDDAA][  -121][ab][]");
}

// A page with toweb and fromweb tables shows signs and leading blanks in
// the style of its field file: EBCDIC zones and blanks dropped for
// hand-written ones, as a main record for the converter's.
TEST_F(TemplateFill, ConvertedFieldFilesShowValuesAsAMainRecord) {
    for (const bool converted : {false, true}) {
        Compiled c;
        compile(c, "[\\{n}][\\{a}]");
        TemplateField n, a;
        n.name = "n";
        n.length = 4;
        n.picture = "SZZZ9";
        a.name = "a";
        a.length = 4;
        a.location = 4;
        a.picture = "X(4)";
        c.t.towebFields = {n, a};
        c.t.flags |= tcpHTML::kWebTables | (converted ? tcpHTML::kConverted : 0);
        const std::string screen = "012J  AB";
        c.t.mcsCount = static_cast<int>(screen.size());
        // (In the ASCII style "J" is a negative digit of no value.)
        EXPECT_EQ(page(&c.t, screen.c_str()), converted ? "[ -12][  AB]" : "[-121][AB]");
        const std::string ascii = "012q  AB";
        EXPECT_EQ(page(&c.t, ascii.c_str()), converted ? "[-121][  AB]" : "[  12][AB]");
    }
}

// Values in the query of a URL in a tag are URL-encoded, so that "&" or
// "#" of a value cannot end it; elsewhere they are HTML-escaped.
TEST_F(TemplateFill, ValuesInAUrlQueryAreEncoded) {
    xFcgiPutStr("mcs.name", "A&sid=1#");
    xFcgiPutStr("mcs.filler", "%");
    xFcgiPutRaw("raw", "a&b");
    EXPECT_EQ(fill("<FORM NAME=\"\\{mcs.name}\" ACTION=\"qoric?mcs.name=\\{mcs.name}&mcs.filler=\\{mcs.filler}\">"
                   "<a href='x?q=\\{mcs.name}&r=\\{raw}'>\\{mcs.name}</a><img src=\"\\{mcs.name}\">"),
              "<FORM NAME=\"A&amp;sid=1#\" ACTION=\"qoric?mcs.name=A%26sid%3D1%23&mcs.filler=%25\">"
              "<a href='x?q=A%26sid%3D1%23&r=a&b'>A&amp;sid=1#</a><img src=\"A&amp;sid=1#\">");
}

TEST_F(TemplateFill, EditNumeric) {
    EXPECT_EQ(xFcgiEditNumeric("0012J", "-ZZZZ9", 5, true), "  -121");
    EXPECT_EQ(xFcgiEditNumeric("0012J", "-ZZZ9", 5, true), "  -12");
    EXPECT_EQ(xFcgiEditNumeric("1234567", "Z,ZZZ,ZZ9.99", 9, true), "   12,345.67");
    EXPECT_EQ(xFcgiEditNumeric("000000005", "Z,ZZZ,ZZ9.99", 9, true), "        0.05");
    EXPECT_EQ(xFcgiEditNumeric("12p", "ZZ9-", 3, false), "120");
    // Bit 0x40 marks the sign; low bits above 9 give no digit, which drops.
    EXPECT_EQ(xFcgiEditNumeric("12O", "-ZZ9", 3, false), " -12");
    EXPECT_EQ(xFcgiEditNumeric("", "ZZZ", 3, true), "");
    EXPECT_EQ(xFcgiEditNumeric("20250101", "99/99/9999", 8, true), "20/25/0101");
    std::string longMask(200, '9');
    EXPECT_EQ(xFcgiEditNumeric(std::string(100, '7'), longMask, 100, true).size(), 47u);
    // Converted pages: '2' is a digit like '9'; a leading 'S' shows a
    // negative value with a leading '-' and a positive one without a sign.
    EXPECT_EQ(xFcgiEditNumeric("0012", "2222", 4, true), "0012");
    EXPECT_EQ(xFcgiEditNumeric("0000123M", "SZZZZZ9.99", 8, true), "   -12.34");
    EXPECT_EQ(xFcgiEditNumeric("00001234", "SZZZZZ9.99", 8, true), "    12.34");
    EXPECT_EQ(xFcgiEditNumeric("12J", "S999", 3, true), "-121");
    EXPECT_EQ(xFcgiEditNumeric("00125", "$ZZ9.99", 5, true), "  1.25");
    for (const char *numeric : {"9(3)", "Z(3)", "2(3)", "SZ(5)9.99", "$ZZ9", "(ZZ9)", "-ZZ9"})
        EXPECT_TRUE(xFcgiIsNumericPicture(numeric)) << numeric;
    for (const char *text : {"X(3)", "U(2)", "A", ""}) EXPECT_FALSE(xFcgiIsNumericPicture(text)) << text;
}

TEST_F(TemplateFill, IncludesSeeThePageAndAreCapped) {
    tpl::ScratchDir dir;
    std::string head = dir.write("head.htx", "<h>\\{t}</h>");
    std::string raw = dir.write("raw.txt", "\\{t}");
    std::string self = dir.file("self.htx");
    dir.write("self.htx", "S<!--#INCLUDE FILE=\"" + self + "\"-->");
    xFcgiPutStr("t", "T");
    xFcgiPutStr("x.count", "2");
    std::string out = fill("<!--#INCLUDE FILE=\"" + head + "\"--><!--#INCLUDE FILE=\"" + raw +
                           "\" PROCESS=NO--><!--#INCLUDE FILE=\"nope.htx\"-->");
    EXPECT_EQ(out, "<h>T</h>\\{t}<p>Missing include file nope.htx</p>");

    tcpHTML* s = xFcgiGetFT(self.c_str());
    ASSERT_NE(s, nullptr);
    std::string selfPage = page(s);
    EXPECT_EQ(selfPage, std::string(17, 'S') + "<p>Missing include file " + self + "</p>");
    EXPECT_EQ(s->inUse, 0);
}

TEST_F(TemplateFill, IncludedTemplateIsNotEvictedWhileWritten) {
    tpl::ScratchDir dir;
    // The include compiles two more templates while it is being written,
    // pushing the cache over its limit.
    std::string big(3000, 'b');
    std::string a = dir.write("a.htx", big);
    std::string b = dir.write("b.htx", big);
    std::string mid = dir.write("mid.htx", "<!--#INCLUDE FILE=\"" + a + "\"--><!--#INCLUDE FILE=\"" + b +
                                               "\"-->" + std::string(3000, 'm'));
    xFcgiTemplateCache(4000);
    std::string out = fill("<!--#INCLUDE FILE=\"" + mid + "\"-->end");
    EXPECT_EQ(out, big + big + std::string(3000, 'm') + "end");
}

TEST_F(TemplateFill, LargePagesAreWrittenInPiecesAndFlushed) {
    std::string text(100000, 'z');
    EXPECT_EQ(fill(text), text);
    EXPECT_LE(fcgicapture::largestWrite, 8192u);
    EXPECT_GE(fcgicapture::flushes, 3);
}

TEST_F(TemplateFill, UnknownSegmentKind) {
    Compiled c;
    compile(c, "x");
    c.t.segments[0].kind = 99;
    EXPECT_EQ(page(&c.t), "<p>**** Unknown type 99 at 0</p>\n");
}

TEST_F(TemplateFill, MissingTemplate) {
    fcgicapture::reset();
    EXPECT_EQ(xFcgiSendTemplate("./no/such/page.htx", nullptr), 0);
    EXPECT_EQ(fcgicapture::output,
              "Content-type: text/html\r\nCache-Control: no-cache\r\n\r\n"
              "Unable to find file ./no/such/page.htx (1)<br>\n");
}

}  // namespace

// The conditions converted pages put around their fields: indexed names,
// blanks after "=", values that are "1" or empty (empty counts as 0
// against a number), and the filler compared with a blank.
TEST_F(TemplateFill, ConditionsOfConvertedPages) {
    xFcgiPutStr("mcs.fccmods[0].off", "1");
    xFcgiPutStr("mcs.fccmods[0].blink", "");
    xFcgiPutStr("mcs.fccmods[1].off", "");
    xFcgiPutStr("mcs.fccmods[1].blink", "1");
    xFcgiPutStr("mcs.fccmods[1].protected", "");
    xFcgiPutChr("mcs.filler", 'X');
    const std::string text =
        "<!--#if expr = \"mcs.fccmods[0].off\"-->A<!--#else-->a<!--#endif-->"
        "<!--#if expr = \"mcs.fccmods[0].blink\"-->B<!--#endif-->"
        "<!--#if expr = \"mcs.fccmods[1].off eq 0\"-->C<!--#endif-->"
        "<!--#if expr = \"mcs.fccmods[0].off eq 0\"-->c<!--#endif-->"
        "<!--#if expr = \"mcs.fccmods[1].blink\"-->D<!--#endif-->"
        "<!--#if expr = \"(mcs.fccmods[1].protected eq 0) and (mcs.filler ne ' ')\"-->E<!--#endif-->"
        "<!--#if expr = \"(mcs.fccmods[1].off) or (mcs.fccmods[0].off)\"-->F<!--#endif-->";
    EXPECT_EQ(fill(text), "ACDEF");
    xFcgiPutChr("mcs.filler", ' ');
    EXPECT_EQ(fill(text), "ACDF");
}
