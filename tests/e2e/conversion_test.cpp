// Screens without hand-written pages, through lighttpd: the gateway asks
// the host for the screen format once, converts it into the Cache store and
// shows the page; formats the host cannot supply or that cannot be
// converted (hostile ones included) end the session with the error page;
// format replies nobody asked for change nothing; converted field files
// keep in step with the host data; and pages converted with limited and
// full field-control support follow the host's modifications and filler.
#include "host_formats.h"
#include "formats/hostile_formats.h"

#include <sys/stat.h>

#include <cctype>

namespace e2e {
namespace {

class Conversion : public ::testing::Test {
protected:
    void SetUp() override { E2E_REQUIRE_QORIC(); }
};

TEST_F(Conversion, PagesAreConvertedOnceAndCarryTheConversation)
{
    Stack s;
    Visitor v(s.port());
    ASSERT_TRUE(isScreen(v.open("/demo/ORDER"), "ORDENTRY"));
    EXPECT_EQ(countOf(s.hostLog(), "format ORDENTRY for session"), 1u);
    EXPECT_FALSE(readFile(s.root() + "/cache/ordentry.htx").empty());
    EXPECT_FALSE(readFile(s.root() + "/cache/ordentry.t3i").empty());
    const std::string hostId = v.form().get("field_004");
    EXPECT_EQ(hostId.size(), 5u) << v.last().body;
    EXPECT_EQ(v.form().get("field_008"), "000000");
    EXPECT_EQ(v.form().get("field_012"), "     12.50") << "the price through its edit mask";
    EXPECT_TRUE(pageHas(v.last().body, "<SPAN CLASS=\"ERROR\">ENTER CUSTOMER, ITEM AND QUANTITY; F3 ENDS</SPAN>"));
    EXPECT_TRUE(pageHas(v.last().body, "<INPUT TYPE=SUBMIT ID=\"transmit\" VALUE=\"Transmit\">"))
        << "the transaction's additional HTML";

    // The typed values reach the host's bytes: upper case, digits in place.
    ASSERT_TRUE(isScreen(v.submit({{"field_006", "acme ltd"}, {"field_008", "4711"}, {"field_010", "3"}}),
                         "ORDTAKEN"));
    const std::string entry = pad(hostId, 8) + pad("ACME LTD", 20) + "004711" + "0003" + "00001250";
    EXPECT_TRUE(hostReceived(s.hostLog(), mcsInput("ORDENTRY", 46, ' ', '_', 46, entry))) << s.hostLog();
    EXPECT_EQ(v.form().get("field_005"), "ACME LTD");
    EXPECT_EQ(v.form().get("field_007"), "004711");
    EXPECT_EQ(v.form().get("field_009"), "   3");

    // The next session uses the cached pages without asking the host.
    Visitor w(s.port());
    ASSERT_TRUE(isScreen(w.open("/demo/ORDER"), "ORDENTRY"));
    ASSERT_TRUE(isScreen(v.submit(), "ORDENTRY"));
    EXPECT_EQ(countOf(s.hostLog(), "format ORDENTRY for session"), 1u);
    EXPECT_EQ(countOf(s.hostLog(), "format ORDTAKEN for session"), 1u);

    // A function key from the converted page ends the program.
    HttpResponse end = v.submit({}, '3');
    EXPECT_NE(end.body.find("NO ORDER"), std::string::npos) << end.body;
    EXPECT_TRUE(hostReceived(s.hostLog(), mcsInput("ORDENTRY", 0, '3', '_', 0)));
}

// The additional HTML is named without its folders; a file that cannot be
// read leaves it out with a warning in the log at each conversion.
TEST_F(Conversion, AdditionalHtmlIsNamedWithoutFoldersOrMissedWithAWarning)
{
    const std::string four = bytes({4, 0x42, 0});
    Stack s(hostWith("transaction ORDER ORDENTRY\nscreen ORDENTRY\n  field 0 8 \"X\"\n"
                     "transaction ADD ADDA\nscreen ADDA\n  field 0 4 \"A\"\n  enter -> ADDB\n"
                     "screen ADDB\n  field 0 4 \"B\"\n",
                     {{"ordentry.t3z", readFile(sourceDir() + "/testhost/samples/formats/ordentry.t3z")},
                      {"adda.t3z", screenFormat("ADDA", four)},
                      {"addb.t3z", screenFormat("ADDB", four)}},
                     "<Transaction NAME=\"ADD\" ID=\"ADD\" LOCAP=\"QOR1\" ADDHTX=\"/nowhere/keys.html\"/>"));
    HttpResponse order = s.get("/demo/ORDER");
    ASSERT_TRUE(isScreen(order, "ORDENTRY"));
    EXPECT_TRUE(pageHas(order.body, "<!-- Following is a contents of the file orderkeys.html -->"));
    EXPECT_EQ(order.body.find(s.root()), std::string::npos) << order.body;

    const std::string warning = "warning: additional HTML file /nowhere/keys.html cannot be read";
    Visitor v(s.port());
    ASSERT_TRUE(isScreen(v.open("/demo/ADD"), "ADDA"));
    EXPECT_EQ(v.last().body.find("Following is"), std::string::npos);
    EXPECT_TRUE(gatewayLogged(s, warning, 1));
    ASSERT_TRUE(isScreen(v.submit(), "ADDB"));
    EXPECT_TRUE(gatewayLogged(s, warning, 2));
    EXPECT_EQ(countOf(s.gatewayLog(), warning), 2u) << "once per conversion";

    // A FIFO in place of the file is not waited on: the page is converted
    // without it, and the worker goes on answering.
    const std::string keys = s.root() + "/htx/orderkeys.html";
    ASSERT_EQ(unlink(keys.c_str()), 0);
    ASSERT_EQ(mkfifo(keys.c_str(), 0600), 0);
    unlink((s.root() + "/cache/ordentry.htx").c_str());
    unlink((s.root() + "/cache/ordentry.t3i").c_str());
    HttpResponse again = s.get("/demo/ORDER");
    ASSERT_TRUE(isScreen(again, "ORDENTRY")) << again.body;
    EXPECT_EQ(again.body.find("Following is"), std::string::npos);
    EXPECT_TRUE(gatewayLogged(s, "additional HTML file " + keys + " cannot be read (not a regular file)"));
}

TEST_F(Conversion, FormatsThatCannotBeHadEndTheSession)
{
    Stack s(hostWith("transaction NOFMT NOFMT\nscreen NOFMT\n  field 0 4 \"DATA\"\n"
                     "transaction BADFMT BADFMT\nscreen BADFMT\n  field 0 4 \"DATA\"\n",
                     {{"badfmt.t3z", screenFormat("BADFMT", bytes({4, 0x05, 0}))}},
                     "<Transaction NAME=\"NOFMT\" ID=\"NOFMT\" LOCAP=\"QOR1\"/>\n"
                     "<Transaction NAME=\"BADFMT\" ID=\"BADFMT\" LOCAP=\"QOR1\"/>"));
    HttpResponse none = s.get("/demo/NOFMT");
    EXPECT_TRUE(isErrorPage(none, -1010)) << none.body;
    HttpResponse bad = s.get("/demo/BADFMT");
    EXPECT_TRUE(isErrorPage(bad, -2003)) << bad.body;
    EXPECT_TRUE(gatewayLogged(s, "Problem converting screen BADFMT; status -2003"));
    EXPECT_TRUE(hostLogged(s, "recv", "Close", 2)) << s.hostLog();
    EXPECT_EQ(s.table().records.size(), 0u);
    EXPECT_TRUE(readFile(s.root() + "/cache/badfmt.htx").empty());
}

// Formats that no 24 x 80 screen can be, converted on the spot: the error
// page, the host session closed, nothing in the cache, and the worker
// serves the next request.
TEST_F(Conversion, HostileFormatsEndTheSessionAndLeaveTheWorkerServing)
{
    std::string script, config;
    std::vector<std::pair<std::string, std::string>> formats;
    const std::vector<hostile::Case> cases = hostile::Cases();
    for (const hostile::Case& h : cases) {
        script += "transaction " + h.name + " " + h.name + "\nscreen " + h.name + "\n  field 0 4 \"DATA\"\n";
        config += "<Transaction NAME=\"" + h.name + "\" ID=\"" + h.name + "\" LOCAP=\"QOR1\"/>\n";
        formats.push_back({h.name + ".t3z", h.t3z});
    }
    script += "transaction NEXT NEXT\nscreen NEXT\n  field 0 4 \"DATA\"\n  enter -> same\n";
    config += "<Transaction NAME=\"NEXT\" ID=\"NEXT\" LOCAP=\"QOR1\"/>";
    formats.push_back({"next.t3z", screenFormat("NEXT", bytes({4, 0x42, 0}))});
    StackOptions o = hostWith(script, formats, config);
    o.workers = 1;
    Stack s(o);
    ASSERT_TRUE(s.waitForWorkers(1));
    const std::vector<pid_t> worker = s.workers();
    size_t closes = 0;
    for (const hostile::Case& h : cases) {
        SCOPED_TRACE(h.what);
        HttpResponse r = s.get("/demo/" + h.name);
        EXPECT_TRUE(isErrorPage(r, -2003)) << r.body;
        EXPECT_TRUE(gatewayLogged(s, "Screen format " + h.name + " not read: " + h.reason));
        EXPECT_TRUE(gatewayLogged(s, "Problem converting screen " + h.name + "; status -2003"));
        EXPECT_TRUE(hostLogged(s, "recv", "Close", ++closes)) << s.hostLog();
    }
    EXPECT_EQ(s.table().records.size(), 0u);
    struct stat st {};
    for (const hostile::Case& h : cases) {
        std::string base = h.name;
        for (char& c : base) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        for (const char* ext : {".htx", ".t3i"})
            EXPECT_NE(stat((s.root() + "/cache/" + base + ext).c_str(), &st), 0) << base << ext;
    }
    // The same worker takes the next conversation, and converts its page.
    Visitor v(s.port());
    ASSERT_TRUE(isScreen(v.open("/demo/NEXT"), "NEXT"));
    EXPECT_EQ(v.form().get("field_001"), "DATA");
    ASSERT_TRUE(isScreen(v.submit(), "NEXT"));
    EXPECT_EQ(s.workers(), worker);
}

// A host that sends a screen format nobody asked for (on its own
// connection, for a session of its own or another one, and named after a
// screen of another host) changes nothing in the cache: the reply is
// dropped, and the sessions go on.
TEST_F(Conversion, FormatRepliesNobodyAskedForAreDropped)
{
    const std::string samples = sourceDir() + "/testhost/samples";
    const std::string dir = hosttest::makeTempDir();
    struct Cleanup {
        std::string dir;
        ~Cleanup() { hosttest::removeTree(dir); }
    } cleanup{dir};
    // The second host sends, after PROK, a format reply named ORDENTRY and
    // holding its ECHO format: for the new session on its first PRST, for
    // the session before on its second.
    hosttest::HostProcess other(dir, {"--locap", "QOR2", "--script", samples + "/demo.dts", "--formats",
                                       samples + "/formats", "--first-id", "0x50001", "--fault",
                                       "format-reply:name=ORDENTRY,form=ECHO,times=1", "--fault",
                                       "format-reply:name=ORDENTRY,form=ECHO,to=other,skip=1"});
    Stack s(withConfig("<Locap NAME=\"QOR2\" ADDRESS=\"127.0.0.1\" PORT=\"" + std::to_string(other.port()) +
                           "\"/>\n<Transaction NAME=\"ECHO2\" ID=\"ECHO\" LOCAP=\"QOR2\"/>",
                       1));
    Visitor order(s.port());
    ASSERT_TRUE(isScreen(order.open("/demo/ORDER"), "ORDENTRY"));
    const std::string page = readFile(s.root() + "/cache/ordentry.htx");
    const std::string fields = readFile(s.root() + "/cache/ordentry.t3i");
    ASSERT_FALSE(page.empty());

    Visitor first(s.port()), next(s.port());
    ASSERT_TRUE(isScreen(first.open("/demo/ECHO2"), "ECHO"));
    ASSERT_TRUE(isScreen(next.open("/demo/ECHO2"), "ECHO"));
    EXPECT_EQ(countOf(other.log(), "format reply ORDENTRY"), 2u) << other.log();
    const std::string dropped = "screen format ORDENTRY from locap QOR2 not asked for; dropped";
    EXPECT_TRUE(gatewayLogged(s, dropped, 2));
    EXPECT_EQ(countOf(s.gatewayLog(), dropped), 2u);
    EXPECT_EQ(readFile(s.root() + "/cache/ordentry.htx"), page);
    EXPECT_EQ(readFile(s.root() + "/cache/ordentry.t3i"), fields);
    struct stat st {};
    EXPECT_NE(stat((s.root() + "/cache/echo.htx").c_str(), &st), 0) << "nor is anything else converted";

    // Every session goes on; a new user of ORDER gets the page ORDER's host
    // described.
    ASSERT_TRUE(isScreen(first.submit(), "ECHO"));
    ASSERT_TRUE(isScreen(next.submit(), "ECHO"));
    ASSERT_TRUE(isScreen(order.submit({{"field_006", "acme"}}), "ORDTAKEN"));
    Visitor later(s.port());
    ASSERT_TRUE(isScreen(later.open("/demo/ORDER"), "ORDENTRY"));
    EXPECT_TRUE(later.form().has("field_006")) << later.last().body;
    EXPECT_EQ(countOf(s.hostLog(), "format ORDENTRY for session"), 1u);
}

// An SFS format with a number wider than its mask, the host's error line
// and an input-only field, each followed by an input: each input shows the
// host's bytes, and what is typed goes back into the right bytes.
TEST_F(Conversion, FieldFilesKeepInStepWithTheHostData)
{
    const std::string area = bytes({1, 0x1F, 3}) + "7" + bytes({4, 0x8C, 0, 0, 6}) + "ZZZ9" + bytes({4, 0x42, 0}) +
                             bytes({0, 0x14, 0, 0, 0x10, '7', 10, 0x02, 0, 4, 0x42, 0}) +
                             bytes({0, 0x14, 0, 3, 0x42, 0x20, 4, 0x42, 0});
    Stack s(hostWith("transaction STEP STEP\nscreen STEP\n  field 0 6 \"001234\"\n  field 6 4 \"AAAA\"\n"
                     "  field 10 10 \"HOST ERROR\"\n  field 20 4 \"BBBB\"\n  field 24 4 \"DDDD\"\n  enter -> same\n",
                     {{"step.t3z", screenFormat("STEP", area, 0x20)}},
                     // Every data field an input (the demo's level is limited).
                     "<Transaction NAME=\"STEP\" ID=\"STEP\" LOCAP=\"QOR1\"/>\n"
                     "<FccModsSupport VALUE=\"none\"/>"));
    Visitor v(s.port());
    ASSERT_TRUE(isScreen(v.open("/demo/STEP"), "STEP"));
    EXPECT_EQ(v.form().get("field_001"), "1234");
    EXPECT_EQ(v.form().get("field_002"), "AAAA");
    EXPECT_EQ(v.form().get("field_003"), "HOST ERROR");
    EXPECT_EQ(v.form().get("field_004"), "BBBB");
    EXPECT_EQ(v.form().get("field_005"), "") << "input only: nothing from the host";
    EXPECT_EQ(v.form().get("field_006"), "DDDD");
    EXPECT_EQ(v.form().get("McsCount"), "31");

    ASSERT_TRUE(isScreen(v.submit({{"field_002", "a2"}, {"field_004", "b4"}, {"field_005", "c5"}, {"field_006", "d6"}}),
                         "STEP"));
    // The wide number, posted as shown, keeps its host digits (the high
    // ones too), as does the host's error line.
    const std::string input = "001234" "a2  " "HOST ERROR" "b4  " "c5 " "d6  ";
    EXPECT_TRUE(hostReceived(s.hostLog(), mcsInput("STEP", 31, ' ', ' ', 31, input))) << s.hostLog();
}

// Pages converted with limited and full support: the host's modification
// pairs (fcc) and the screen's filler decide how each field shows.
const char* kFccScript =
    // limited: plain, protected at conversion but unprotected by the host
    // (.U), unprotected but protected by the host (.P), protected without
    // a pair; first with a blank filler, then with another one
    "transaction LIM LIMA\n"
    "screen LIMA\n  field 0 16 \"UUUUPPPPMMMMQQQQ\"\n  fcc \"  .U.P\"\n  enter -> LIMB\n"
    "screen LIMB\n  field 0 16 \"UUUUPPPPMMMMQQQQ\"\n  fcc \"  .U.P\"\n  filler X\n"
    // full: display off, blinking, dark without and with a video
    // attribute, protected and off
    "transaction FULL FULL\n"
    "screen FULL\n  field 0 20 \"OOOOBBBBDDDDVVVVEEEE\"\n  fcc \"10#0  001 \"\n  filler X\n";

StackOptions fccHost(const char* level)
{
    const std::string four = bytes({4, 0x42, 0});
    const std::string dark = bytes({4, 0x42, 1});
    const std::string limited = four + bytes({4, 0x82, 0}) + four + bytes({4, 0x82, 0});
    return hostWith(kFccScript,
                    {{"lima.t3z", screenFormat("LIMA", limited)},
                     {"limb.t3z", screenFormat("LIMB", limited)},
                     {"full.t3z", screenFormat("FULL", four + four + dark + dark + bytes({4, 0x82, 0}))}},
                    "<Transaction NAME=\"LIM\" ID=\"LIM\" LOCAP=\"QOR1\"/>\n"
                    "<Transaction NAME=\"FULL\" ID=\"FULL\" LOCAP=\"QOR1\"/>\n"
                    "<FccModsSupport VALUE=\"" + std::string(level) + "\"/>");
}

// Whether the page has the field as an input of the type.
bool entered(const std::string& page, const std::string& name, const char* type = "TEXT")
{
    return page.find("TYPE=" + std::string(type) + " onfocus=\"javascript:EnableFilter(false,false,false);SelectOnFocus(this)\" "
                     "onblur=\"javascript:DisableFilter(this)\" NAME=\"" + name + "\"") != std::string::npos;
}

TEST_F(Conversion, LimitedSupportFollowsProtectionAndFiller)
{
    Stack s(fccHost("limited"));
    Visitor v(s.port());
    ASSERT_TRUE(isScreen(v.open("/demo/LIM"), "LIMA"));
    std::string page = v.last().body;
    // A blank filler: only what the host unprotected is entered.
    EXPECT_FALSE(entered(page, "field_001"));
    EXPECT_TRUE(pageHas(page, "<SPAN CLASS=\"DATA_NORMAL\">UUUU</SPAN>"));
    EXPECT_TRUE(entered(page, "field_002")) << page;
    EXPECT_FALSE(entered(page, "field_003"));
    ASSERT_TRUE(isScreen(v.submit(), "LIMB"));
    page = v.last().body;
    EXPECT_TRUE(entered(page, "field_001")) << page;
    EXPECT_TRUE(entered(page, "field_002"));
    EXPECT_FALSE(entered(page, "field_003"));
    EXPECT_TRUE(pageHas(page, "<SPAN CLASS=\"DATA_NORMAL\">MMMM</SPAN>"));
    EXPECT_FALSE(entered(page, "field_004"));
    EXPECT_TRUE(pageHas(page, "<SPAN CLASS=\"DATA_READONLY\">QQQQ</SPAN>"));
    EXPECT_EQ(v.form().actionParam("mcs.filler"), "X") << "the screen's filler goes back with the input";
}

TEST_F(Conversion, FullSupportAppliesOffBlinkAndVideo)
{
    Stack s(fccHost("full"));
    Visitor v(s.port());
    ASSERT_TRUE(isScreen(v.open("/demo/FULL"), "FULL"));
    const std::string page = v.last().body;
    EXPECT_TRUE(entered(page, "field_001", "PASSWORD")) << page;   // off
    EXPECT_TRUE(entered(page, "field_002"));                        // blinking
    EXPECT_EQ(countOf(page, "<SPAN CLASS=\"DATA_NORMAL\"> *</SPAN>"), 1u);
    EXPECT_TRUE(entered(page, "field_003", "PASSWORD"));            // dark, no video
    EXPECT_TRUE(entered(page, "field_004"));                        // dark with video
    EXPECT_FALSE(pageHas(page, ">EEEE</SPAN>")) << "protected and off: not shown";
    EXPECT_TRUE(pageHas(page, "<INPUT TYPE=HIDDEN NAME=\"field_005\" VALUE=\"EEEE\">"));
}

}  // namespace
}  // namespace e2e
