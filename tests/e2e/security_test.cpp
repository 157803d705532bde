// What a hostile request can no longer do through lighttpd: smuggle a
// second parameter in a transaction name, open host sessions with methods
// other than GET and POST, or have any file compiled as a template through
// the LAST_QORIC_FORM cookie; and the gateway's log: its files are for the
// owner and the group only, and a worker whose log folder was missing
// takes its log up again once the folder is back.
#include "checks.h"

#include <sys/stat.h>

namespace e2e {
namespace {

class Security : public ::testing::Test {
protected:
    void SetUp() override { E2E_REQUIRE_QORIC(); }
};

mode_t modeOf(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

TEST_F(Security, TransactionNamesTheHostCouldNotKnowGetTheUnknownTransactionPage)
{
    Stack s;
    const struct {
        const char* how;
        HttpResponse (*send)(Stack&);
    } refused[] = {
        {"a second parameter in the posted name",
         [](Stack& st) { return st.post("/qoric", "pib.transaction=" + formEncode("ECHO&SID=x")); }},
        {"a name in the query longer than 8 characters",
         [](Stack& st) { return st.get("/qoric?pib.transaction=ABCDEFGHI"); }},
        {"a blank", [](Stack& st) { return st.get("/qoric?pib.transaction=EC+HO"); }},
        {"an escape left in the URL path", [](Stack& st) { return st.get("/demo/EC%2FHO"); }},
        {"a quote in the URL path", [](Stack& st) { return st.get("/demo/E'CHO"); }},
    };
    for (const auto& r : refused) {
        const HttpResponse page = r.send(s);
        EXPECT_TRUE(isErrorPage(page, -5005)) << r.how;
    }
    // Nothing reached the host, no session was opened.
    EXPECT_EQ(framesCount(s.hostLog(), "recv", "Open"), 0u) << s.hostLog();
    EXPECT_EQ(framesCount(s.hostLog(), "recv", "PRST"), 0u);
    EXPECT_TRUE(s.table().records.empty());

    // Configured names, and names a host could know, still start programs.
    EXPECT_TRUE(isScreen(s.get("/demo/echo"), "ECHO"));
    EXPECT_TRUE(isScreen(s.post("/qoric", "pib.transaction=ECHO"), "ECHO"));
    EXPECT_EQ(framesCount(s.hostLog(), "recv", "PRST"), 2u);
}

TEST_F(Security, OnlyGetAndPostOpenSessions)
{
    Stack s;
    const HttpResponse head = httpRequest(s.port(), "HEAD", "/demo/ECHO");
    EXPECT_EQ(head.status, 200);
    EXPECT_EQ(head.header("Content-Type"), "text/html; charset=ISO-8859-1");
    EXPECT_EQ(head.header("Cache-Control"), "no-cache");
    EXPECT_TRUE(head.body.empty());
    for (const char* method : {"OPTIONS", "PUT", "DELETE", "PATCH"}) {
        const HttpResponse r = httpRequest(s.port(), method, "/demo/ECHO", "pib.transaction=ECHO");
        EXPECT_EQ(r.status, 405) << method;
        EXPECT_EQ(r.header("Allow"), "GET, POST, HEAD") << method;
    }
    // lighttpd answers TRACE itself; it must not get to a session either.
    EXPECT_NE(httpRequest(s.port(), "TRACE", "/demo/ECHO").status, 200);
    EXPECT_TRUE(s.table().records.empty());
    EXPECT_EQ(framesCount(s.hostLog(), "recv", "Open"), 0u) << s.hostLog();
    EXPECT_TRUE(isScreen(s.get("/demo/ECHO"), "ECHO"));
    EXPECT_EQ(s.table().records.size(), 1u);
}

TEST_F(Security, TheLastFormCookieNamesOnlyTemplatesOfTheStores)
{
    // Each POST that starts a program gets a DezUR read from the host; the
    // gateway's answer carries the cookie's page's data as its data block.
    StackOptions o;
    o.hostArgs = {"--fault", "dezur:group=G,form=F,header=H,screen=S"};
    Stack s(o);
    auto dataBlockLength = [&](const std::string& cookie) {
        const size_t before = framesCount(s.hostLog(), "recv", "DezUrRead");
        s.post("/demo/ECHO", "field_001=x", {{"Cookie", "LAST_QORIC_FORM=" + formEncode(cookie)}});
        const std::vector<std::string> frames = hostFrames(s.hostLog(), "recv", "DezUrRead");
        if (frames.size() != before + 1 || frames.back().size() < 64) return -1;
        const std::string& f = frames.back();
        return (static_cast<unsigned char>(f[62]) << 8) | static_cast<unsigned char>(f[63]);
    };
    for (const std::string cookie : {"conf/qoric.conf", "logs/qoric.log", "run/qoric", "htx/echo.t3i",
                                     "htx/../conf/qoric.conf", "/etc/passwd"}) {
        EXPECT_EQ(dataBlockLength(cookie), 0) << cookie;
        EXPECT_TRUE(gatewayLogged(s, "LAST_QORIC_FORM template path '" + cookie + "' refused")) << cookie;
    }
    // The page's path below the server root, or as the gateway writes the
    // cookie (without "htx/").
    EXPECT_GT(dataBlockLength("htx/echo.htx"), 0);
    EXPECT_GT(dataBlockLength("echo.htx"), 0);
}

TEST_F(Security, TheEditorAnswersOnlyThisMachine)
{
    if (!isExecutable(qorconfigBinary())) GTEST_SKIP() << "qorconfig is not built yet";
    StackOptions o;
    o.editor = true;
    Stack s(o);
    const std::string before = s.configText();
    // The same save from 127.0.0.1 and, through the loopback too, from
    // another address of this machine's 127/8, as any other host would be.
    auto saveFrom = [&](const char* address, const std::string& host = "") {
        const std::string cmd = "curl -s -o /dev/null -w '%{http_code}' --interface " + std::string(address) +
                                (host.empty() ? "" : " -H 'Host: " + host + "'") +
                                " --data 'ServerAdmin=x%40example.org&nextaction=write_file' "
                                "http://127.0.0.1:" + std::to_string(s.port()) + "/qorconfig";
        std::string out;
        if (FILE* p = popen(cmd.c_str(), "r")) {
            char buf[16];
            while (size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
            pclose(p);
        }
        return out;
    };
    EXPECT_EQ(saveFrom("127.0.0.2"), "403");
    EXPECT_EQ(s.configText(), before);
    EXPECT_EQ(saveFrom("127.0.0.1"), "200");   // refused by the editor: the form is incomplete
    EXPECT_EQ(s.configText(), before);
    // Under a loopback name only: a page of a domain made to resolve to
    // this machine (DNS rebinding) reaches it from 127.0.0.1, under its own
    // name, which the editor's same-site check would take for its own.
    const std::string port = std::to_string(s.port());
    const std::vector<std::string> loopback = {"localhost:" + port, "[::1]:" + port, "127.0.0.1", "localhost"};
    for (const std::string& host : loopback) EXPECT_EQ(saveFrom("127.0.0.1", host), "200") << host;
    const std::vector<std::string> others = {"evil.example:" + port, "evil.example",
                                             "127.0.0.1.evil.example:" + port, "localhost.evil.example",
                                             "127.0.0.2:" + port};
    for (const std::string& host : others) EXPECT_EQ(saveFrom("127.0.0.1", host), "403") << host;
    EXPECT_EQ(s.configText(), before);
}

TEST_F(Security, LogFilesAreForOwnerAndGroupAndAMissingLogFolderIsTakenUpAgain)
{
    Stack s(withConfig("", 1));
    ASSERT_TRUE(s.waitForWorkers(1));
    const pid_t first = s.workers().front();
    ASSERT_TRUE(isScreen(s.get("/demo/ECHO"), "ECHO"));
    const std::string logs = s.root() + "/logs/";
    // The log server makes its files (and sets their modes) once it runs,
    // which on a busy machine may be a moment after the first page.
    for (int waited = 0; waited < 10000; waited += 20) {
        if (modeOf(logs + "qoric.log") == 0640u && modeOf(logs + ".pid.qoric.log") == 0660u &&
            modeOf(logs + ".fifo.qoric.log") == 0660u)
            break;
        sleepMs(20);
    }
    EXPECT_EQ(modeOf(logs + "qoric.log"), 0640u);
    EXPECT_EQ(modeOf(logs + ".pid.qoric.log"), 0660u);
    EXPECT_EQ(modeOf(logs + ".fifo.qoric.log"), 0660u);

    // The log moves to a folder that is not there yet: the worker that
    // reads the new configuration runs without a log...
    const std::string moved = s.root() + "/later";
    waitPastModTime(s.configPath());  // the configuration's new time must differ
    s.writeConfig("<LogFile VALUE=\"" + moved + "/qoric.log\" OPTIONS=\"h3MPKwd\"/>");
    s.get("/demo/ECHO");   // served with the old settings, then the worker retires
    ASSERT_TRUE(startedAfresh(s, first));
    ASSERT_TRUE(isScreen(s.get("/demo/ECHO?cda.text=WITHOUT-LOG"), "ECHO"));
    EXPECT_EQ(modeOf(moved + "/qoric.log"), 0u);
    // ...and writes it from its next request on, once the folder is back.
    ASSERT_EQ(::mkdir(moved.c_str(), 0750), 0);
    ASSERT_TRUE(isScreen(s.get("/demo/ECHO?cda.text=WITH-LOG"), "ECHO"));
    std::string log;
    for (int waited = 0; waited < 5000 && log.find("++++ Process") == std::string::npos; waited += 100) {
        sleepMs(100);
        log = readFile(moved + "/qoric.log");
    }
    EXPECT_NE(log.find("++++ Process AppGroup DEMO"), std::string::npos) << log;
    EXPECT_EQ(modeOf(moved + "/qoric.log"), 0640u);
}

}  // namespace
}  // namespace e2e
