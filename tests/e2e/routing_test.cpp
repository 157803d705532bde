// Routing of requests through lighttpd to the gateway: URL splitting and
// application groups, the session-id field, the PIDPOOL_ID cookie, initial
// pages; the error pages (unknown locap or session, host REJECT, program
// ends, a host that drops the connection, a screen without template); and
// the mended faults: crafted form sizes, template names with paths, markup
// in the built-in error page, ends that must still answer, and the cleaner
// forked in the middle of a request.
#include "checks.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <random>
#include <stdexcept>

namespace e2e {
namespace {

class Routing : public ::testing::Test {
protected:
    void SetUp() override { E2E_REQUIRE_QORIC(); }
};

std::string lowerCase(std::string s)
{
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

StackOptions withFaults(std::vector<std::string> faults, const std::string& extra = "")
{
    StackOptions o = withConfig(extra);
    for (const std::string& f : faults) {
        o.hostArgs.push_back("--fault");
        o.hostArgs.push_back(f);
    }
    return o;
}

// --- URL splitting, groups, session id, cookie, initial pages ----------------------

TEST_F(Routing, GroupsAreFoundFromTheUrl)
{
    Stack s(withConfig("<AppGroup URL=\"/grp/\" NAME=\"GRP\"/>\n"
                       "<AppGroup URL=\"/CAPS/\" NAME=\"CAPS\"/>\n"
                       "<AppGroup URL=\"/single\" NAME=\"SINGLE\" TRANSACTION=\"ECHO\"/>\n"
                       "<AppGroup URL=\"/dflt/\" NAME=\"DFLT\" TRID=\"ECHO\" CDA=\"GROUP-CDA\"/>"));
    // The transaction is the last path segment, in upper case.
    EXPECT_TRUE(isScreen(s.get("/grp/ECHO?x=1"), "ECHO"));
    EXPECT_TRUE(isScreen(s.get("/grp/demo"), "LOGON"));
    // A group written in capitals is found in any case.
    EXPECT_TRUE(isScreen(s.get("/caps/ECHO"), "ECHO"));
    // A one-segment URL is the group key itself; the group names the transaction.
    EXPECT_TRUE(isScreen(s.get("/single"), "ECHO"));
    // A URL ending in "/" has no transaction: the group's, with its CDA...
    EXPECT_TRUE(isScreen(s.get("/dflt/"), "ECHO"));
    EXPECT_NE(s.hostLog().find("transaction ECHO, CDA 'GROUP-CDA"), std::string::npos) << s.hostLog();
    // ...unless the request brings its own.
    EXPECT_TRUE(isScreen(s.get("/dflt/?cda.text=MINE"), "ECHO"));
    EXPECT_NE(s.hostLog().find("transaction ECHO, CDA 'MINE"), std::string::npos);
    // Neither a transaction in the URL nor in the group or fields.
    EXPECT_TRUE(isErrorPage(s.get("/grp/x/"), -7));
    // Without a group the path's transaction is not used.
    EXPECT_TRUE(isErrorPage(s.get("/nogroup/ECHO"), -7));
}

TEST_F(Routing, AGroupNamesTheSessionIdField)
{
    Stack s(withConfig("<AppGroup URL=\"/named/\" NAME=\"NAMED\" SID=\"MYSID\"/>"));
    HttpResponse first = s.get("/named/DEMO");
    ASSERT_EQ(first.status, 200);
    Form f = parseForm(first.body);
    ASSERT_EQ(f.name, "LOGON");
    ASSERT_EQ(s.table().records.size(), 1u);
    const std::string guid = s.table().records[0].guidText;
    const std::string hostId = f.get("field_003");

    // The page cannot carry the id (its form names "sid"); a browser script
    // of this group would post it under the group's field name.
    auto postWith = [&](const std::string& field) {
        HeaderList fields = f.fields;
        fields.emplace_back(field, guid);
        fields.emplace_back("pib.transaction", "DEMO");
        fields.emplace_back("mcs.name", "LOGON");
        return s.post("/named/qoric", formEncode(fields));
    };
    HttpResponse next = postWith("MYSID");
    ASSERT_EQ(next.status, 200);
    Form g = parseForm(next.body);
    EXPECT_EQ(g.name, "MENU");
    EXPECT_EQ(g.get("field_003"), hostId) << "the session named by MYSID goes on";

    // "sid" is not this group's field: a new session starts.
    HttpResponse other = postWith("sid");
    ASSERT_EQ(other.status, 200);
    EXPECT_EQ(parseForm(other.body).name, "LOGON");
    EXPECT_NE(parseForm(other.body).get("field_003"), hostId);
}

TEST_F(Routing, AGroupWithoutSessionIdsOpensASessionPerRequest)
{
    Stack s(withConfig("<AppGroup URL=\"/nosid/\" NAME=\"NOSID\" SID=\"no\"/>"));
    HttpResponse first = s.get("/nosid/DEMO");
    ASSERT_EQ(first.status, 200);
    Form f = parseForm(first.body);
    ASSERT_EQ(f.name, "LOGON");
    ASSERT_EQ(s.table().records.size(), 1u);
    // Even a request that names the session in "sid" gets a new one.
    HeaderList fields = f.fields;
    fields.emplace_back("sid", s.table().records[0].guidText);
    fields.emplace_back("field_005", "dave");
    HttpResponse next = s.post("/nosid/qoric?pib.transaction=DEMO&mcs.name=LOGON", formEncode(fields));
    ASSERT_EQ(next.status, 200);
    Form g = parseForm(next.body);
    EXPECT_EQ(g.name, "LOGON") << "a new session, not the menu";
    EXPECT_NE(g.get("field_003"), f.get("field_003"));
    EXPECT_EQ(s.table().records.size(), 2u);
}

TEST_F(Routing, APidPoolGroupSetsThePoolCookie)
{
    Stack s(withConfig("<AppGroup URL=\"/pool/\" NAME=\"POOL\" PIDPOOL=\"yes\"/>"));
    HttpResponse r = s.get("/pool/DEMO");
    ASSERT_TRUE(isScreen(r, "LOGON"));
    std::string cookie;
    for (const std::string& c : r.all("Set-Cookie"))
        if (c.rfind("PIDPOOL_ID=", 0) == 0) cookie = c;
    ASSERT_FALSE(cookie.empty()) << "no PIDPOOL_ID cookie";
    EXPECT_NE(cookie.find("path=/"), std::string::npos) << cookie;
    const unsigned pool = static_cast<unsigned>(std::stoul(cookie.substr(11)));
    EXPECT_GE(pool, 1u);
    ASSERT_EQ(s.table().records.size(), 1u);
    EXPECT_EQ(s.table().records[0].pidPool, pool);
    EXPECT_NE(s.hostLog().find("pid pool"), std::string::npos);

    // A browser that brings its pool number keeps it.
    HttpResponse again = s.get("/pool/ECHO", {{"Cookie", "OTHER=1; PIDPOOL_ID=4242"}});
    ASSERT_TRUE(isScreen(again, "ECHO"));
    bool found = false;
    for (const auto& rec : s.table().records) found |= rec.pidPool == 4242;
    EXPECT_TRUE(found);
}

TEST_F(Routing, AGroupCanAnswerWithAnInitialPage)
{
    Stack s(withConfig("<AppGroup URL=\"/lost/\" NAME=\"LOST\" HTML=\"nothere.htx\"/>"));
    HttpResponse r = s.get("/demo/");
    EXPECT_EQ(r.status, 200);
    EXPECT_NE(r.body.find("QOR/ix gateway demo"), std::string::npos) << r.body;
    EXPECT_NE(r.body.find("HREF=\"/demo/DEMO\""), std::string::npos);
    EXPECT_EQ(s.table().records.size(), 0u) << "no session for an initial page";
    // A group's transaction URL still starts the transaction.
    EXPECT_TRUE(isScreen(s.get("/demo/ECHO"), "ECHO"));
    // A missing initial page answers with the page of a missing template.
    EXPECT_TRUE(isErrorPage(s.get("/lost/"), -2));
}

// --- error pages ------------------------------------------------------------------

TEST_F(Routing, UnknownLocapAndUnknownSession)
{
    Stack s;
    EXPECT_TRUE(isErrorPage(s.get("/qoric?pib.transaction=DEMO&pib.locap=NOPE"), -1006));
    EXPECT_TRUE(isErrorPage(s.get("/qoric?sid=0123456789abcdef0123456789abcdef&pib.transaction=DEMO"), -4005));
    EXPECT_TRUE(isErrorPage(s.get("/qoric?sid=short&pib.transaction=DEMO"), -4005));
    EXPECT_EQ(s.table().records.size(), 0u);
}

// A session lives on the host it was opened on: a post whose form names
// another configured locap is refused (neither host gets anything), and
// the page shown again names the session's locap. A form that names none
// goes to the transaction's locap, which is the session's.
TEST_F(Routing, APostForAnotherLocapIsRefused)
{
    const std::string dir = hosttest::makeTempDir();
    struct Cleanup {
        std::string dir;
        ~Cleanup() { hosttest::removeTree(dir); }
    } cleanup{dir};
    hosttest::HostProcess other(dir, {"--locap", "QOR2", "--script", sourceDir() + "/testhost/samples/demo.dts"});
    Stack s(withConfig("<Locap NAME=\"QOR2\" ADDRESS=\"127.0.0.1\" PORT=\"" + std::to_string(other.port()) + "\"/>", 1));
    Visitor v(s.port());
    ASSERT_TRUE(isScreen(v.open("/demo/ECHO"), "ECHO"));
    ASSERT_EQ(v.form().actionParam("pib.locap"), "QOR1");
    const size_t inputs = inputsCount(s.hostLog());
    auto postWithLocap = [&](const std::string& locap) {
        std::string action = v.form().action;
        action.replace(action.find("pib.locap=QOR1&"), 15, locap.empty() ? "" : "pib.locap=" + locap + "&");
        Form f = v.form();
        f.set("field_007", "ELSEWHERE");
        return s.post(resolveUrl(v.path(), action), formEncode(f.fields));
    };
    for (const char* locap : {"QOR2", "qor2"}) {
        const HttpResponse r = postWithLocap(locap);
        ASSERT_TRUE(isScreen(r, "ECHO"));
        EXPECT_TRUE(pageHas(r.body, "This form was for another host: nothing was sent.")) << r.body;
        EXPECT_EQ(parseForm(r.body).actionParam("pib.locap"), "QOR1");
    }
    EXPECT_EQ(inputsCount(s.hostLog()), inputs) << s.hostLog();
    EXPECT_EQ(other.log().find("connection from"), std::string::npos) << other.log();
    EXPECT_TRUE(gatewayLogged(s, "posted for locap QOR2, the session lives on QOR1", 2));
    ASSERT_EQ(s.table().records.size(), 1u);
    EXPECT_EQ(s.table().records[0].locap, "QOR1");

    // Without pib.locap, and with the session's own: the input reaches it.
    const HttpResponse plain = postWithLocap("");
    ASSERT_TRUE(isScreen(plain, "ECHO"));
    EXPECT_FALSE(pageHas(plain.body, "another host")) << plain.body;
    ASSERT_TRUE(isScreen(v.submit({{"field_007", "HOME"}}), "ECHO"));
    EXPECT_TRUE(hostLogged(s, "recv", "MCSO", inputs + 2)) << s.hostLog();
    EXPECT_EQ(other.log().find("connection from"), std::string::npos);
}

TEST_F(Routing, HostRejectsTheSession)
{
    Stack s(withFaults({"reject:reason=3"}));
    EXPECT_TRUE(isErrorPage(s.get("/demo/DEMO"), -1004));
    EXPECT_EQ(s.table().records.size(), 0u);
}

TEST_F(Routing, ProgramEndsWithEachReason)
{
    const std::vector<std::pair<char, int>> reasons = {{'E', -5002}, {'F', -5003}, {'K', -5004}, {'M', -5007},
                                                       {'N', -5005}, {'T', -5006}, {'X', -5001}};
    std::vector<std::string> faults;
    for (size_t i = 0; i < reasons.size(); ++i)
        faults.push_back("pren:on=enter,reason=" + std::string(1, reasons[i].first) + ",skip=" +
                         std::to_string(i) + ",times=1");
    Stack s(withFaults(faults));
    for (const auto& [reason, code] : reasons) {
        Visitor v(s.port());
        ASSERT_TRUE(isScreen(v.open("/demo/DEMO"), "LOGON"));
        EXPECT_TRUE(isErrorPage(v.submit(), code)) << "reason " << reason;
    }
    EXPECT_EQ(s.table().records.size(), 0u) << "every ended session's record is gone";
}

TEST_F(Routing, NormalProgramEndWithAndWithoutAnEndPage)
{
    {
        Stack s;
        Visitor v(s.port());
        ASSERT_TRUE(isScreen(v.open("/demo/DEMO"), "LOGON"));
        HttpResponse r = v.submit({}, '3');
        EXPECT_EQ(r.status, 200);
        EXPECT_NE(r.body.find("LOGGED OFF"), std::string::npos) << "the end page shows the host's CDA:\n" << r.body;
    }
    {
        Stack s(withConfig(kNoPrenPage));
        Visitor v(s.port());
        ASSERT_TRUE(isScreen(v.open("/demo/DEMO"), "LOGON"));
        EXPECT_TRUE(isEmptyAnswer(v.submit({}, '3')));
        EXPECT_EQ(s.table().records.size(), 0u);
        // The worker goes on serving.
        EXPECT_TRUE(isScreen(s.get("/demo/ECHO"), "ECHO"));
    }
}

TEST_F(Routing, HostDropsTheConnectionWhileASessionOpens)
{
    Stack s(withFaults({"drop:after=recv:open"}));
    const HttpResponse r = s.get("/demo/DEMO");
    EXPECT_TRUE(isErrorPage(r, -1009));
    EXPECT_TRUE(pageHas(r.body, "The host is not reachable at the moment. Please try again later, or tell the "
                                "administrator."))
        << r.body;
    EXPECT_EQ(s.table().records.size(), 0u);
}

TEST_F(Routing, HostDropsTheConnectionOfAnOpenSession)
{
    Stack s(withFaults({"drop:after=recv:mcso"}));
    Visitor v(s.port());
    ASSERT_TRUE(isScreen(v.open("/demo/DEMO"), "LOGON"));
    // Connected again and tried once more, then the page names the
    // communication failure; the host never said the session is gone.
    EXPECT_TRUE(isErrorPage(v.submit({{"field_005", "eve"}}), -1009));
    EXPECT_EQ(s.table().records.size(), 1u);
}

TEST_F(Routing, AScreenWithoutTemplateOrFormat)
{
    const std::string script = realPath(".") + "/noformat.dts";   // the run's own working folder
    hosttest::writeFile(script, "transaction NOFMT NOFMT\nscreen NOFMT\n  field 0 8 \"NO PAGE\"\n");
    StackOptions o;
    o.hostScript = script;
    Stack s(o);
    HttpResponse r = s.get("/demo/NOFMT");
    EXPECT_LT(errorCodeOf(r.body), 0) << r.body;
    EXPECT_TRUE(isErrorPage(r, errorCodeOf(r.body)));
}

TEST_F(Routing, AScreenWhoseTemplateIsMissing)
{
    Stack s;
    std::remove((s.root() + "/htx/detail.htx").c_str());
    std::remove((s.root() + "/htx/detail.t3i").c_str());
    Visitor v(s.port());
    ASSERT_TRUE(isScreen(v.open("/demo/DEMO"), "LOGON"));
    ASSERT_TRUE(isScreen(v.submit({{"field_005", "fay"}}), "MENU"));
    HttpResponse r = v.submit({{"field_007", "4"}});
    // The host's screen format is converted into the cache, and the
    // converted page shows the screen.
    EXPECT_TRUE(isScreen(r, "DETAIL")) << r.body;
    EXPECT_EQ(parseForm(r.body).get("field_005"), "4");
    EXPECT_FALSE(readFile(s.root() + "/cache/detail.htx").empty());
    EXPECT_FALSE(readFile(s.root() + "/cache/detail.t3i").empty());
}

// --- mended faults ----------------------------------------------------------------

TEST_F(Routing, CraftedFormSizesNeitherOverrunNorCrash)
{
    // Under the sanitizer build a write past the screen buffer is reported
    // in the gateway's log, which fails the test at tear-down.
    Stack s(withConfig("", 1));
    ASSERT_TRUE(s.waitForWorkers(1));
    const std::vector<pid_t> before = s.workers();
    const std::vector<std::pair<std::string, std::string>> sizes = {
        {"65535", "65535"}, {"3", "3"}, {"1", "60000"}, {"-5", "abc"}, {"0", "0"}, {"99999999", "-1"}};
    for (const auto& [size, count] : sizes) {
        Visitor v(s.port());
        ASSERT_TRUE(isScreen(v.open("/demo/ECHO"), "ECHO"));
        HttpResponse r = v.submit({{"McsSize", size}, {"McsCount", count}, {"field_007", std::string(200, 'Z')}});
        EXPECT_EQ(r.status, 200) << "McsSize " << size << ", McsCount " << count << ":\n" << r.body;
        EXPECT_TRUE(parseForm(r.body).name == "ECHO" || errorCodeOf(r.body) < 0) << r.body;
    }
    EXPECT_EQ(s.workers(), before) << "no worker died";
    Visitor v(s.port());
    ASSERT_TRUE(isScreen(v.open("/demo/ECHO"), "ECHO"));
    ASSERT_TRUE(isScreen(v.submit({{"field_007", "STILL HERE"}}), "ECHO"));
    EXPECT_NE(v.last().body.find("STILL HERE"), std::string::npos);
}

// A page and its field file at a short absolute path of this run's own
// (screen names have eight characters): /tmp/q and two letters, made anew
// until the name is free; removed at the end.
struct ShortDecoy {
    std::string path;
    ShortDecoy(const std::string& page, const std::string& fields)
    {
        static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
        std::mt19937 pick(std::random_device{}());
        for (int tries = 0; tries < 500 && path.empty(); ++tries) {
            std::string p = "/tmp/q";
            for (int i = 0; i < 2; ++i) p += letters[pick() % (sizeof letters - 1)];
            const int fd = open((p + ".htx").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            if (fd < 0) continue;
            close(fd);
            path = p;
        }
        if (path.empty()) throw std::runtime_error("no free short name under /tmp");
        hosttest::writeFile(path + ".htx", page);
        hosttest::writeFile(path + ".t3i", fields);
    }
    ~ShortDecoy()
    {
        std::remove((path + ".htx").c_str());
        std::remove((path + ".t3i").c_str());
    }
};

TEST_F(Routing, TemplateNamesFromTheBrowserStayInTheStores)
{
    Stack s;
    // Pages the browser must not reach: beside the stores, and at a short
    // absolute path.
    const std::string decoy = "<HTML>SECRET-DECOY</HTML>\n", fields = "<record type=\"main\">\n</record>\n";
    hosttest::writeFile(s.root() + "/s.htx", decoy);
    hosttest::writeFile(s.root() + "/s.t3i", fields);
    const ShortDecoy outside(decoy, fields);
    for (const std::string& page : std::vector<std::string>{"../s", outside.path, "htx/../s", "..", "a/b"}) {
        Visitor v(s.port());
        ASSERT_TRUE(isScreen(v.open("/demo/ECHO"), "ECHO"));
        HttpResponse r = v.submitWith("mcs.page=" + formEncode(page));
        EXPECT_EQ(r.body.find("SECRET-DECOY"), std::string::npos) << "mcs.page " << page;
        EXPECT_LT(errorCodeOf(r.body), 0) << "mcs.page " << page << " is refused:\n" << r.body;
    }
    // The screen name a form posts names the page its fields are read with.
    for (const std::string& name : std::vector<std::string>{"../s", outside.path}) {
        Visitor v(s.port());
        ASSERT_TRUE(isScreen(v.open("/demo/ECHO"), "ECHO"));
        Form f = v.form();
        std::string action = f.action.substr(0, f.action.find("mcs.name="));
        HttpResponse r = s.post("/demo/" + action + "mcs.name=" + formEncode(name), formEncode(f.fields));
        EXPECT_EQ(r.status, 200);
        EXPECT_EQ(r.body.find("SECRET-DECOY"), std::string::npos);
    }
}

TEST_F(Routing, TheBuiltInErrorPageEscapesItsValues)
{
    Stack s(withConfig(std::string(kBuiltInErrorPage) +
                       "\n<ServerAdmin VALUE=\"<i>admin</i>@example.org\"/>"
                       "\n<DefaultStylesheet VALUE=\"/css/a.css'><script>x()</script>\"/>"));
    HttpResponse r = s.post("/qoric", "pib.transaction=" + formEncode("<script>alert(1)</script>") + "&pib.locap=NOPE");
    ASSERT_TRUE(isErrorPage(r, -5005));   // no transaction name a host could know
    const std::string low = lowerCase(r.body);
    EXPECT_EQ(low.find("<script"), std::string::npos) << r.body;
    EXPECT_EQ(low.find("<i>"), std::string::npos) << r.body;
    EXPECT_NE(low.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos) << r.body;
    EXPECT_NE(low.find("&lt;i&gt;admin&lt;/i&gt;@example.org"), std::string::npos) << r.body;
}

TEST_F(Routing, EveryEndOfARequestAnswers)
{
    // The configured error page itself is missing.
    Stack s(withConfig("<OnErrorPage VALUE=\"nothere.htx\"/>\n" + std::string(kNoPrenPage), 1));
    EXPECT_TRUE(isEmptyAnswer(s.get("/DEMO")));
    // A program end without an end page.
    Visitor v(s.port());
    ASSERT_TRUE(isScreen(v.open("/demo/DEMO"), "LOGON"));
    EXPECT_TRUE(isEmptyAnswer(v.submit({}, '3')));

    // A reload of a file that breaks off part-way (a save cut short): the
    // worker serves on with the configuration it has, and says so.
    ASSERT_TRUE(s.waitForWorkers(1));
    const pid_t worker = s.workers().front();
    const std::string good = s.configText();
    const time_t t = modTime(s.configPath());
    s.writeRawConfig(good.substr(0, good.find("<Transaction ") + 20));
    setModTime(s.configPath(), t + 5);
    s.setReconfigured(std::max(s.table().lastReconfigured, static_cast<uint32_t>(t + 5)) + 1);
    EXPECT_TRUE(isScreen(s.get("/demo/ECHO"), "ECHO"));
    EXPECT_TRUE(isScreen(s.get("/demo/ECHO"), "ECHO"));
    EXPECT_EQ(s.workers(), std::vector<pid_t>{worker}) << "the worker goes on";
    EXPECT_TRUE(gatewayLogged(s, "the configuration read before stays in force"));

    // A reload of a whole file that lost its transactions cannot serve:
    // the request gets an empty answer and the worker ends.
    std::string empty = good;
    for (size_t at; (at = empty.find("<Transaction ")) != std::string::npos;)
        empty.erase(at, empty.find("/>", at) + 2 - at);
    s.writeRawConfig(empty);
    setModTime(s.configPath(), t + 6);
    s.setReconfigured(s.table().lastReconfigured + 1);
    EXPECT_TRUE(isEmptyAnswer(s.get("/demo/ECHO")));
    EXPECT_TRUE(waitGone(worker, 30000)) << "a worker whose reload failed ends";
    s.writeConfig("");
}

TEST_F(Routing, ACleanerForkedDuringARequestLeavesTheRequestAlone)
{
    // Two workers: a cleaner that starts while no other worker lives
    // expires every session first.
    Stack s(withConfig("", 2));
    // The first cleaner holds its lock before the first request: a request
    // served before would start a second one after its page.
    ASSERT_NE(s.waitForCleaner(), 0);
    Visitor v(s.port());
    ASSERT_TRUE(isScreen(v.open("/demo/DEMO"), "LOGON"));
    const std::string hostId = v.form().get("field_003");
    s.killCleaners();
    const pid_t oldCleaner = s.table().cleanerPid;
    ASSERT_TRUE(s.cleaners().empty());
    // A moved stamp makes the worker reload at its next request, and the
    // reload finds no cleaner: it forks one in the middle of the request.
    s.setReconfigured(static_cast<uint32_t>(modTime(s.configPath()) + 1));
    const size_t closes = framesCount(s.hostLog(), "recv", "CLOSE");

    ASSERT_TRUE(isScreen(v.submit({{"field_005", "gil"}}), "MENU"));
    EXPECT_EQ(v.form().get("field_003"), hostId);
    pid_t cleaner = 0;
    for (int i = 0; i < 100 && !processAlive(cleaner = s.table().cleanerPid); ++i) sleepMs(50);
    EXPECT_TRUE(processAlive(cleaner)) << "a new cleaner runs";
    EXPECT_NE(cleaner, oldCleaner);
    // It has let go of what it inherited when it says it started.
    EXPECT_TRUE(gatewayLogged(s, "Cleaner process started, P" + std::to_string(cleaner)));
    EXPECT_EQ(framesCount(s.hostLog(), "recv", "CLOSE"), closes) << "the cleaner closed nothing it inherited";
    EXPECT_EQ(s.hostLog().find("closed by the gateway"), std::string::npos);
    ASSERT_TRUE(isScreen(v.submit({{"field_007", "5"}}), "DETAIL")) << "the session goes on";
    EXPECT_EQ(v.form().get("field_003"), hostId);
}

}  // namespace
}  // namespace e2e
