// Request routing in-process: URL splitting, application groups, the
// session-id field, initial pages, and the error pages of requests that
// end before any host traffic.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "ZelServerContext.h"
#include "cgiinput/fcgi_stub.h"
#include "gw_test_util.h"
#include "logprint.h"
#include "xfcgihtml.h"
#include "xfcgiinput.h"
#include "xfcgin.h"
#include "xfcgiout.h"

using gwtest::contains;
using gwtest::ScratchDir;

namespace {

const std::string kEmptyResponse = "Content-type: text/html\r\nCache-Control: no-cache\r\n\r\n";

// The built-in page of a request that names no transaction.
std::string BuiltinPage(int code) {
    return "Content-Type: text/html\n"
           "Cache-Control: no-cache\n"
           "\n"
           "<html>\n"
           "    <head>\n"
           "        <title>Application Terminated</title>\n"
           "    </head>\n"
           "    <body>\n"
           "        <p align=\"center\">Application  ended with code " + std::to_string(code) + "</p>\n"
           "    </body></html>\n";
}

std::string MinusSevenPage() { return BuiltinPage(-7); }

class Routing : public ::testing::Test {
protected:
    void SetUp() override {
        logOpen(dir.file("test.log").c_str(), 0);
        logOptions("t");
        xFcgiSetTemplateCheckInterval(0);
        dir.mkdir("reg");
        dir.write("reg/start.htx", "Welcome to the start page");
        dir.write("reg/err.htx", "CODE=\\{err.code} ADMIN=\\{err.administrator} TRX=\\{pib.transaction}");
        unsetenv("HTTP_COOKIE");
        unsetenv("REMOTE_ADDR");
    }
    void TearDown() override {
        xFcgiTemplateCache(0);       // empties the cache
        xFcgiTemplateCache(409600);  // and gives it its room back
        logClose();
    }

    void Configure(const std::string &extra) {
        dir.write("qoric.conf",
                  "<qoric>\n"
                  " <Locap NAME=\"QOR1\" ADDRESS=\"127.0.0.1\" PORT=\"1\"/>\n"
                  " <Transaction NAME=\"TRX\" ID=\"PROG1\" LOCAP=\"QOR1\"/>\n"
                  " <RegularStore VALUE=\"" + dir.file("reg") + "\"/>\n"
                  " <AppGroup URL=\"/init\" NAME=\"init\" HTML=\"start.htx\"/>\n"
                  " <AppGroup URL=\"/gone\" NAME=\"gone\" HTML=\"missing.htx\"/>\n"
                  " <AppGroup URL=\"/grp/\" NAME=\"grp\" SID=\"no\"/>\n"
                  " <AppGroup URL=\"/CDA\" NAME=\"cda\" TRANSACTION=\"TRX\" CDA=\"XY-1\"/>\n" +
                      extra + "</qoric>\n");
        ASSERT_EQ(ctx.ReadConfiguration(dir.file("qoric.conf")), 0);
        CIcParserIntegrator::SetRegularStorePath(ctx.GetRegularStore());
    }

    // One request through the router, as the request loop serves it.
    std::string Request(const std::string &uri, const std::string &query, const std::string &body = "") {
        setenv("REQUEST_URI", uri.c_str(), 1);
        setenv("QUERY_STRING", query.c_str(), 1);
        setenv("CONTENT_LENGTH", std::to_string(body.size()).c_str(), 1);
        fcgistub::reset(body);
        bInputAvail = 1;
        if (ctx.RouteRequest() == CZelServerContext::Route::Served) ctx.OnEndRequest();
        return fcgistub::output;
    }

    ScratchDir dir;
    CZelServerContext ctx;
};

}  // namespace

TEST(UriSplit, GroupKeysAndTransaction) {
    auto p = CZelServerContext::SplitUri("/grp/TRX?x=1");
    EXPECT_EQ(p.groupKeyA, "/grp/");
    EXPECT_EQ(p.groupKeyB, "/grp/TRX");
    EXPECT_EQ(p.transaction, "TRX");

    p = CZelServerContext::SplitUri("/TRX");
    EXPECT_EQ(p.groupKeyA, "/TRX");
    EXPECT_EQ(p.groupKeyB, "/TRX");
    EXPECT_EQ(p.transaction, "");

    p = CZelServerContext::SplitUri("/a/b/");
    EXPECT_EQ(p.groupKeyA, "/a/");
    EXPECT_EQ(p.groupKeyB, "/a/b/");
    EXPECT_EQ(p.transaction, "");

    p = CZelServerContext::SplitUri("/a/b/trx?q=/x/y");
    EXPECT_EQ(p.groupKeyB, "/a/b/trx");
    EXPECT_EQ(p.transaction, "TRX");

    p = CZelServerContext::SplitUri(nullptr);
    EXPECT_EQ(p.groupKeyA, "No URI!");
    EXPECT_EQ(p.groupKeyB, "");
    EXPECT_EQ(p.transaction, "");

    p = CZelServerContext::SplitUri("?only=query");
    EXPECT_EQ(p.groupKeyA, "/");
    EXPECT_EQ(p.transaction, "");
}

TEST(BuiltinPage, AdministratorBlockOnlyForErrors) {
    std::string page = CZelServerContext::BuiltinErrorPage(Result::CommClosed, "TRX", "web@x", "s.css");
    EXPECT_TRUE(contains(page, "        <link rel=\"stylesheet\" href=\"s.css\" type=\"text/css\">\n"));
    EXPECT_TRUE(contains(page, "<p align=\"center\">Application TRX ended with code -1009</p>\n"));
    EXPECT_TRUE(contains(page,
                         "        <p align=\"center\">            More information could be available"));
    EXPECT_TRUE(contains(page, "<a href=\"mailto:web@x\">web@x</a><br>\n"));
    EXPECT_TRUE(contains(page, "at the time that the error occured.</p>\n    </body></html>\n"));

    page = CZelServerContext::BuiltinErrorPage(Result::CommTransTerminated, "TRX", "web@x", "");
    EXPECT_FALSE(contains(page, "mailto"));
    EXPECT_FALSE(contains(page, "stylesheet"));
    EXPECT_TRUE(contains(page, "ended with code 1001</p>"));
}

TEST(BuiltinPage, EveryValueIsEscaped) {
    std::string page = CZelServerContext::BuiltinErrorPage(
        Result::InvalidParam, "<SCRIPT>X</SCRIPT>", "a\"><img src=x>", "\"><script>");
    EXPECT_FALSE(contains(page, "<SCRIPT>"));
    EXPECT_FALSE(contains(page, "<img"));
    EXPECT_FALSE(contains(page, "<script>"));
    EXPECT_TRUE(contains(page, "Application &lt;SCRIPT&gt;X&lt;/SCRIPT&gt; ended"));
    EXPECT_TRUE(contains(page, "mailto:a&quot;&gt;&lt;img src=x&gt;\""));
    EXPECT_TRUE(contains(page, "href=\"&quot;&gt;&lt;script&gt;\""));
}

TEST_F(Routing, NoQueryGetsTheMinusSevenPage) {
    Configure("");
    EXPECT_EQ(Request("/qoric", ""), MinusSevenPage());
    // A bare transaction URL without a group: the transaction comes only
    // from the fields.
    EXPECT_EQ(Request("/TRX", ""), MinusSevenPage());
    EXPECT_EQ(Request("/x/TRX", ""), MinusSevenPage());
    EXPECT_EQ(ctx.GetSessionIdName(), "SID");
}

TEST_F(Routing, UnknownLocapGetsTheMinusTenOhSixPage) {
    Configure("");
    std::string out = Request("/qoric", "pib.transaction=trx&pib.locap=NOPE");
    EXPECT_TRUE(contains(out, "Application TRX ended with code -1006</p>")) << out;

    // A name no host could know is refused before the locap is looked at;
    // the page shows it escaped.
    out = Request("/qoric", "pib.transaction=%3Cscript%3Ealert(1)%3C/script%3E&pib.locap=nope");
    EXPECT_FALSE(contains(out, "<SCRIPT>")) << out;
    EXPECT_TRUE(contains(out, "Application &lt;SCRIPT&gt;ALERT(1)&lt;/SCRIPT&gt; ended with code -5005"))
        << out;
}

TEST_F(Routing, NoTransactionAndNoSessionId) {
    Configure("");
    EXPECT_EQ(Request("/qoric", "mcs.name=X"), MinusSevenPage());
}

TEST_F(Routing, GroupFoundThroughTheFirstSegment) {
    Configure("");
    // /grp/TRX: lookups /grp/TRX, /grp/TRX/, then /grp/ finds the group; its
    // transaction comes from the URL.
    std::string out = Request("/grp/trx", "pib.locap=NOPE");
    EXPECT_TRUE(contains(out, "Application TRX ended with code -1006")) << out;
    EXPECT_EQ(ctx.GetSessionIdName(), "");   // SID="no": no session-id field
    EXPECT_STREQ(xFcgiSidName(nullptr), "");
    // An empty name never matches an input entry with an empty name.
    out = Request("/grp/trx", "=abc&pib.locap=NOPE");
    EXPECT_TRUE(contains(out, "Application TRX ended with code -1006")) << out;
}

TEST_F(Routing, InitialPageAndItsAbsence) {
    Configure("");
    std::string out = Request("/init", "");
    EXPECT_TRUE(contains(out, "Welcome to the start page")) << out;
    EXPECT_EQ(out.find("Content-type: text/html\r\n"), 0u);
    // "/init/" looks for "/init/" and "/init//" only.
    EXPECT_EQ(Request("/init/", ""), MinusSevenPage());
    // A session id means the request is no first request.
    out = Request("/init", "SID=0123");
    EXPECT_FALSE(contains(out, "Welcome")) << out;
    // A group whose page is missing: the page of a missing template.
    EXPECT_EQ(Request("/gone", ""), BuiltinPage(-2));
}

TEST_F(Routing, DefaultTransactionWithItsCda) {
    Configure("");
    std::string out = Request("/cda", "pib.locap=NOPE");
    EXPECT_TRUE(contains(out, "Application TRX ended with code -1006")) << out;
    ASSERT_NE(xFcgiGetInpStr("cda.text"), nullptr);
    EXPECT_STREQ(xFcgiGetInpStr("cda.text"), "XY-1");
    out = Request("/cda", "pib.locap=NOPE&cda.text=MINE");
    EXPECT_STREQ(xFcgiGetInpStr("cda.text"), "MINE");
}

TEST_F(Routing, ConfiguredErrorPageAndItsFailure) {
    Configure(" <OnErrorPage VALUE=\"err.htx\"/>\n <ServerAdmin VALUE=\"boss@example\"/>\n");
    std::string out = Request("/qoric", "pib.transaction=TRX&pib.locap=NOPE");
    EXPECT_TRUE(contains(out, "CODE=-1006 ADMIN=boss@example")) << out;
    EXPECT_FALSE(contains(out, "Application Terminated")) << out;
    out = Request("/gone", "");
    EXPECT_TRUE(contains(out, "CODE=-2 ADMIN=boss@example")) << out;

    ScratchDir other;
    other.write("qoric.conf",
                "<qoric><Locap NAME=\"QOR1\" ADDRESS=\"h\" PORT=\"1\"/>"
                "<Transaction NAME=\"TRX\" LOCAP=\"QOR1\"/>"
                "<OnErrorPage VALUE=\"/nonexistent/err.htx\"/></qoric>");
    CZelServerContext broken;
    ASSERT_EQ(broken.ReadConfiguration(other.file("qoric.conf")), 0);
    setenv("REQUEST_URI", "/qoric", 1);
    setenv("QUERY_STRING", "pib.transaction=TRX&pib.locap=NOPE", 1);
    setenv("CONTENT_LENGTH", "0", 1);
    fcgistub::reset();
    bInputAvail = 1;
    broken.RouteRequest();
    broken.OnEndRequest();
    EXPECT_EQ(fcgistub::output, kEmptyResponse);
}

TEST_F(Routing, ConfigurationErrors) {
    EXPECT_EQ(ctx.ReadConfiguration(dir.file("absent.conf")), ResultCode(Result::ParserFileNotFound));
    // A file that ends before its root is closed is refused the same way,
    // and changes nothing of the configuration in force.
    Configure("");
    dir.write("cut.conf", "<qoric>\n <Locap NAME=\"OTHER\" ADDRESS=\"h\" PORT=\"2\"/>\n");
    EXPECT_EQ(ctx.ReadConfiguration(dir.file("cut.conf")), ResultCode(Result::ParserFileNotFound));
    EXPECT_NE(ctx.GetLocapTable().Find("QOR1"), nullptr);
    EXPECT_EQ(ctx.GetLocapTable().Find("OTHER"), nullptr);
}
