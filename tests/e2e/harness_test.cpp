// The web server set-up on its own: lighttpd from the shipped template with
// the bare FastCGI responder in the gateway's place.  It shows that every
// path reaches the program with REQUEST_URI as sent and SCRIPT_FILENAME
// naming the binary, that workers run in their own folder, that retired or
// killed workers are replaced, and that tear-down leaves nothing behind.
// Also the page, form and host-log readers the gateway tests rely on.
#include "cdp_pipe.h"
#include "checks.h"

#include <signal.h>
#include <sys/stat.h>

#include <map>
#include <set>
#include <sstream>

namespace e2e {
namespace {

std::map<std::string, std::string> dumpOf(const HttpResponse& r)
{
    std::map<std::string, std::string> out;
    std::istringstream in(r.body);
    std::string line;
    while (std::getline(in, line)) {
        size_t eq = line.find('=');
        if (eq != std::string::npos) out[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return out;
}

StackOptions bare(int workers, std::vector<std::string> env = {})
{
    StackOptions o;
    o.app = fixedPageBinary();
    o.workers = workers;
    o.appEnv = std::move(env);
    return o;
}

TEST(WebServer, EveryPathReachesTheProgramAsSent)
{
    Stack s(bare(2));
    for (const char* path : {"/demo/DEMO?dump", "/qoric?dump", "/DEMO?dump", "/a/b/?dump"}) {
        HttpResponse r = s.get(path);
        ASSERT_EQ(r.status, 200) << path << ": " << r.body;
        auto d = dumpOf(r);
        EXPECT_EQ(d["REQUEST_URI"], path);
        EXPECT_EQ(d["QUERY_STRING"], "dump");
        EXPECT_EQ(d["SCRIPT_FILENAME"], s.appPath()) << "the changed-executable check needs the binary";
        EXPECT_EQ(d["cwd"], s.runDir()) << "the session table is keyed by the workers' folder";
        EXPECT_EQ(d["QORICCONFPATH"], s.configPath());
    }
    HttpResponse page = s.post("/demo/qoric?sid=1", "a=1&b=2");
    EXPECT_EQ(page.status, 200);
    EXPECT_EQ(page.header("Content-Type").substr(0, 9), "text/html");
    EXPECT_EQ(page.body.size(), 2048u);
}

TEST(WebServer, StartsTheConfiguredNumberOfWorkers)
{
    Stack s(bare(8));
    EXPECT_TRUE(s.waitForWorkers(8)) << s.workers().size() << " workers";
}

TEST(WebServer, RetiredWorkersAreReplaced)
{
    Stack s(bare(1, {"FIXED_PAGE_MAX_REQUESTS=2"}));
    std::set<std::string> pids;
    for (int i = 0; i < 8; ++i) {
        HttpResponse r = s.get("/demo/x?dump");
        ASSERT_EQ(r.status, 200) << "request " << i << ": " << r.body << s.webServerLog();
        std::string pid = dumpOf(r)["pid"];
        pids.insert(pid);
        if (i % 2 == 1) {
            // With one worker the web server has nobody to send a request
            // to until it has started the next one.
            ASSERT_TRUE(waitGone(std::stoi(pid), 30000));
            ASSERT_TRUE(s.waitForWorkers(1)) << s.webServerLog();
        }
    }
    EXPECT_EQ(pids.size(), 4u) << "a worker retires after two requests";
}

TEST(WebServer, AKilledWorkerIsReplacedAndNoRequestFails)
{
    Stack s(bare(2));
    ASSERT_TRUE(s.waitForWorkers(2));
    pid_t victim = s.workers().front();
    kill(victim, SIGKILL);
    for (int i = 0; i < 20; ++i) {
        HttpResponse r = s.get("/x?dump");
        ASSERT_EQ(r.status, 200) << "request " << i << ": " << r.body;
        EXPECT_NE(dumpOf(r)["pid"], std::to_string(victim));
    }
    EXPECT_TRUE(s.waitForWorkers(2));
}

TEST(WebServer, TearDownLeavesNoProcess)
{
    std::vector<pid_t> pids;
    {
        Stack s(bare(2));
        ASSERT_TRUE(s.waitForWorkers(2));
        pids = s.workers();
        pids.push_back(s.webServerPid());
    }
    for (pid_t p : pids) EXPECT_FALSE(processAlive(p)) << p;
}

TEST(WebServer, FixedPageHasTheAskedSize)
{
    Stack s(bare(1, {"FIXED_PAGE_BYTES=3000"}));
    HttpResponse r = s.get("/qoric");
    ASSERT_EQ(r.status, 200);
    EXPECT_EQ(r.body.size(), 3000u);
    EXPECT_EQ(r.header("Cache-Control"), "no-cache");
}

TEST(WebServer, FixedPageSizeCanComeFromAFileWrittenLater)
{
    const std::string file = realPath(".") + "/e2e-page-bytes";   // the run's own working folder
    std::remove(file.c_str());
    Stack s(bare(1, {"FIXED_PAGE_BYTES_FILE=" + file}));
    hosttest::writeFile(file, "2469\n");
    EXPECT_EQ(s.post("/qoric", "a=1").body.size(), 2469u);
    std::remove(file.c_str());
}

TEST(WebServer, HeadlessChromiumShowsThePage)
{
    Stack s(bare(1));
    const std::string profile = s.root() + "/browser";
    mkdir(profile.c_str(), 0700);
    Browser b(profile);
    b.open("http://127.0.0.1:" + std::to_string(s.port()) + "/qoric");
    EXPECT_EQ(b.eval("document.title"), "Fixed page");
    b.open("http://127.0.0.1:" + std::to_string(s.port()) + "/x?dump");
    EXPECT_NE(b.eval("document.body.innerText").find("REQUEST_URI=/x?dump"), std::string::npos);
    const std::string shot = s.root() + "/shot.png";
    b.screenshot(shot);
    EXPECT_EQ(readFile(shot).substr(0, 8), "\x89PNG\r\n\x1a\n");
}

TEST(Readers, JsonAnswersOfTheBrowser)
{
    Json j = Json::parse(R"({"id":3,"result":{"result":{"type":"string","value":"a\"b\u00e9\n"}},"x":[1,true,null]})");
    EXPECT_EQ(j["id"].n, 3);
    EXPECT_EQ(j["result"]["result"]["value"].s, "a\"b\xC3\xA9\n");
    EXPECT_EQ(j["x"].items.size(), 3u);
    EXPECT_EQ(j["missing"]["deeper"].kind, Json::Null);
    EXPECT_EQ(jsonQuote("a\"\n"), "\"a\\\"\\u000a\"");
    EXPECT_EQ(base64Decode("iVBORw=="), "\x89PNG");
}

// --- readers -------------------------------------------------------------------

const char* const kPage =
    "<HTML><BODY>\n"
    "<FORM NAME=\"MENU\" METHOD=\"POST\" ACTION=\"qoric?sid=00ab&amp;pib.transaction=DEMO&pib.locap=QOR1&mcs.name=MENU&mcs.filler=\">\n"
    "<INPUT TYPE=HIDDEN NAME=\"field_003\" VALUE=\"10001\">\n"
    "<input class=\"x\" type=text name='field_007' size=1 maxlength=1 value=\"\">\n"
    "<INPUT TYPE=BUTTON NAME=\"b\" VALUE=\"F3\">\n"
    "<INPUT NAME=\"plain\" VALUE=\"a &lt;b&gt;\">\n"
    "<INPUT TYPE=HIDDEN NAME=\"McsSize\" VALUE=55>\n"
    "<input type=\"radio\" name=\"DefaultLocap\" value=\"0\" checked>\n"
    "<input type=\"radio\" name=\"DefaultLocap\" value=\"1\">\n"
    "<td><select \n name=\"FccModsSupport\"\n id=\"FccModsSupport\">\n <option>none</option>\n"
    " <option selected>limited</option>\n <option>full</option>\n </select></td>\n"
    "</FORM><INPUT NAME=\"outside\" VALUE=\"1\"></BODY></HTML>\n";

TEST(Readers, FormFieldsAreThoseABrowserPosts)
{
    Form f = parseForm(kPage);
    ASSERT_TRUE(f.found);
    EXPECT_EQ(f.name, "MENU");
    EXPECT_EQ(f.actionParam("sid"), "00ab");
    EXPECT_EQ(f.actionParam("PIB.TRANSACTION"), "DEMO");
    EXPECT_EQ(f.actionParam("mcs.filler"), "");
    HeaderList want = {{"field_003", "10001"}, {"field_007", ""},           {"plain", "a <b>"},
                       {"McsSize", "55"},      {"DefaultLocap", "0"},        {"FccModsSupport", "limited"}};
    EXPECT_EQ(f.fields, want);
    EXPECT_FALSE(parseForm("<P>no form</P>").found);
}

TEST(Readers, RelativeActionsResolveLikeABrowser)
{
    EXPECT_EQ(resolveUrl("/demo/DEMO", "qoric?sid=1"), "/demo/qoric?sid=1");
    EXPECT_EQ(resolveUrl("/demo/qoric?sid=1&x=/y", "qoric?a"), "/demo/qoric?a");
    EXPECT_EQ(resolveUrl("/qoric?pib.transaction=ECHO", "qoric?b"), "/qoric?b");
    EXPECT_EQ(resolveUrl("/x", "/abs"), "/abs");
}

TEST(Readers, FormEncodingRoundTrips)
{
    EXPECT_EQ(formEncode("a b&c=d/é"), "a+b%26c%3Dd%2F%C3%A9");
    EXPECT_EQ(formDecode("a+b%26c%3dd"), "a b&c=d");
    EXPECT_EQ(formDecode("cut%4"), "cut%4");
}

TEST(Readers, HostFramesAreReadFromItsHexLog)
{
    const std::string log =
        "19:50:25.501 [c1] send HelloDTP (116), 16 bytes\n"
        "    0000  74 44 54 50 00 21 57 00  51 4F 52 31 20 20 20 20  |tDTP.!W.QOR1    |\n"
        "19:50:25.502 [c1] recv MCSO (30), 18 bytes\n"
        "    0000  1E 00 00 00 7C 20 7C 20  41 42 43 44 45 46 47 48  |.... | ABCDEFGH|\n"
        "    0010  49 4A                                             |IJ|\n"
        "19:50:25.503 [c1] input for session L10001 on screen LOGON\n";
    auto frames = hostFrames(log, "recv", "MCSO");
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], std::string("\x1E\0\0\0| | ABCDEFGHIJ", 18));
    EXPECT_EQ(hostFrames(log, "send", "HelloDTP").at(0).substr(0, 4), "tDTP");
    EXPECT_TRUE(hostFrames(log, "recv", "CLOSE").empty());
}

}  // namespace
}  // namespace e2e
