// qoric behind cgi-fcgi against the stand-in host: sessions, screen input,
// function keys, program ends, local subscreens, notify requests and the
// error pages of failed host conversations.
#include <gtest/gtest.h>

#include <unistd.h>

#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "qoric_rig.h"

using gwtest::QoricRig;
using gwtest::RequestOptions;
using gwtest::Response;
using gwtest::sessionIdIn;

namespace {

// Pages declare the host's character set (ISO-8859-1 unless configured).
const std::string kEmptyResponse =
    "Content-type: text/html; charset=ISO-8859-1\r\nCache-Control: no-cache\r\n\r\n";

// Screen input for the ECHO screen (74 bytes of data).
std::string EchoInput(const std::string &sid, const std::string &typed, const std::string &status = "+") {
    return "SID=" + sid + "&mcs.name=ECHO&McsStatus=" + status + "&McsSize=74&McsCount=74&typed=" + typed;
}

// Waits until the host's log holds `part`; false after half a minute.
bool HostLogged(QoricRig &rig, const std::string &part) {
    for (int i = 0; i < 1500; ++i) {
        if (rig.host()->log().find(part) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

class QoricConversation : public ::testing::Test {
protected:
    void SetUp() override {
        rig.configure(extraConfig());
        rig.writeTemplates();
        worker = rig.startWorker();
        ASSERT_GT(worker, 0);
    }
    void TearDown() override { EXPECT_EQ(rig.sanitizerReports(), ""); }
    virtual std::string extraConfig() { return ""; }

    QoricRig rig;
    pid_t worker = -1;
};

class QoricWithPages : public QoricConversation {
protected:
    std::string extraConfig() override {
        rig.write("htx/ended.htx", "ENDED CDA=[\\{cda.text}] CODE=[\\{err.code}]");
        rig.write("htx/failed.htx", "FAILED CODE=[\\{err.code}] ADMIN=[\\{err.administrator}]");
        return " <OnPRENPage VALUE=\"ended.htx\"/>\n <OnErrorPage VALUE=\"failed.htx\"/>\n"
               " <ServerAdmin VALUE=\"admin@example\"/>\n";
    }
};

}  // namespace

TEST_F(QoricConversation, FirstRequestOpensASessionAndSubmitsGoOn) {
    Response first = rig.get("/app/echo");
    ASSERT_TRUE(first.ok) << first.raw;
    EXPECT_EQ(first.headers.find("Content-type: text/html; charset=ISO-8859-1\r\nCache-Control: no-cache"), 0u)
        << first.raw;
    const std::string sid = sessionIdIn(first.body);
    ASSERT_EQ(sid.size(), 32u) << first.body;
    EXPECT_TRUE(first.has("NAME=[ECHO] TRX=[ECHO] LOCAP=[QOR1]")) << first.body;
    EXPECT_TRUE(first.has("N=[0]")) << first.body;
    EXPECT_TRUE(first.has("SIZE=[74] COUNT=[74]")) << first.body;

    Response second = rig.post("/app/echo", "", EchoInput(sid, "HELLO+WORLD"));
    ASSERT_TRUE(second.ok) << second.raw;
    EXPECT_TRUE(second.has("SID=[" + sid + "]")) << second.body;
    EXPECT_TRUE(second.has("N=[1]")) << second.body;
    EXPECT_TRUE(second.has("SHOWN=[HELLO WORLD]")) << second.body;

    // The host got the header and the typed text at its place.
    std::string hostLog = rig.host()->log();
    EXPECT_NE(hostLog.find("OPEN from R"), std::string::npos) << hostLog;
    EXPECT_NE(hostLog.find("45 43 48 4F 20 20 20 20"), std::string::npos);  // "ECHO    "

    // Without a group, the transaction comes from the fields.
    Response bare = rig.get("/qoric", "pib.transaction=echo");
    ASSERT_TRUE(bare.ok) << bare.raw;
    EXPECT_EQ(sessionIdIn(bare.body).size(), 32u) << bare.body;
    EXPECT_NE(sessionIdIn(bare.body), sid);
}

TEST_F(QoricConversation, FunctionKeyEndsTheProgramWithAnEmptyPage) {
    Response first = rig.get("/app/echo");
    const std::string sid = sessionIdIn(first.body);
    ASSERT_FALSE(sid.empty()) << first.raw;
    Response end = rig.post("/app/echo", "", EchoInput(sid, "", "3"));
    ASSERT_TRUE(end.ok) << end.raw;
    EXPECT_EQ(end.raw, kEmptyResponse);
    // The session is gone: its id is refused.
    Response after = rig.post("/app/echo", "", EchoInput(sid, "X"));
    EXPECT_TRUE(after.has("Application ECHO ended with code -4005")) << after.raw;
}

TEST_F(QoricWithPages, ProgramEndAndErrorPagesAreTheConfiguredOnes) {
    Response first = rig.get("/app/echo");
    const std::string sid = sessionIdIn(first.body);
    ASSERT_FALSE(sid.empty()) << first.raw;
    Response end = rig.post("/app/echo", "", EchoInput(sid, "", "3"));
    EXPECT_TRUE(end.has("ENDED CDA=[ECHO ENDS] CODE=[0]")) << end.raw;
    Response unknown = rig.post("/app/echo", "", EchoInput(std::string(32, 'a'), "X"));
    EXPECT_TRUE(unknown.has("FAILED CODE=[-4005] ADMIN=[admin@example]")) << unknown.raw;
}

TEST_F(QoricConversation, NotifySendsTheInputAndAnswersEmpty) {
    Response first = rig.get("/app/echo");
    const std::string sid = sessionIdIn(first.body);
    ASSERT_FALSE(sid.empty()) << first.raw;
    Response notify = rig.post("/app/echo", "", EchoInput(sid, "QUIET") + "&mcs.notify=1");
    ASSERT_TRUE(notify.ok) << notify.raw;
    EXPECT_EQ(notify.raw, kEmptyResponse);
    // The host saw the input: the next screen counts two inputs.
    Response next = rig.post("/app/echo", "", EchoInput(sid, "LOUD"));
    EXPECT_TRUE(next.has("N=[2]")) << next.body;
}

TEST_F(QoricConversation, LocalSubscreenShowsAnotherPageWithoutHostTraffic) {
    rig.write("htx/sub.htx", "SUBPAGE NAME=[\\{mcs.name}] SHOWN=[\\{shown}]");
    rig.write("htx/sub.t3i", "<records><record type=\"main\"><field name=\"x\" mask=\"X(44)\"/>"
                             "<field name=\"shown\" mask=\"X(30)\"/></record></records>");
    Response first = rig.get("/app/echo");
    const std::string sid = sessionIdIn(first.body);
    ASSERT_FALSE(sid.empty()) << first.raw;
    const size_t framesBefore = rig.host()->log().size();
    Response sub = rig.post("/app/echo", "", EchoInput(sid, "LOCAL") + "&mcs.page=sub");
    EXPECT_TRUE(sub.has("SUBPAGE NAME=[SUB]")) << sub.raw;
    EXPECT_EQ(rig.host()->log().size(), framesBefore);

    // A subscreen or screen name that climbs out of the stores is refused.
    rig.write("evil.htx", "EVIL");
    Response evil = rig.post("/app/echo", "", EchoInput(sid, "X") + "&mcs.page=../evil");
    EXPECT_FALSE(evil.has("EVIL")) << evil.raw;
    EXPECT_TRUE(evil.has("ended with code -2")) << evil.raw;
    // A screen name that is not the session's screen never reaches the
    // page stores: the current screen is shown again.
    Response abs = rig.post("/app/echo", "", "SID=" + sid + "&mcs.name=%2Fetc%2Fx&McsStatus=+&McsCount=5");
    ASSERT_TRUE(abs.ok) << abs.raw;
    EXPECT_TRUE(abs.has("NAME=[ECHO]")) << abs.raw;
    EXPECT_TRUE(abs.has("ERR=[This form was for an earlier screen")) << abs.raw;
    EXPECT_EQ(rig.log().find("/etc/x.htx"), std::string::npos) << rig.log();
}

TEST_F(QoricConversation, CraftedSizesNeverOverrunTheScreen) {
    Response first = rig.get("/app/echo");
    const std::string sid = sessionIdIn(first.body);
    ASSERT_FALSE(sid.empty()) << first.raw;
    Response big = rig.post("/app/echo", "",
                            "SID=" + sid + "&mcs.name=ECHO&McsStatus=+&McsSize=65535&McsCount=65535"
                            "&typed=BIG&shown=" + std::string(500, 'Z'));
    ASSERT_TRUE(big.ok) << big.raw;
    EXPECT_TRUE(rig.alive(worker));
    Response small = rig.post("/app/echo", "", "SID=" + sid + "&mcs.name=ECHO&McsStatus=+&McsSize=1&McsCount=1&typed=S");
    ASSERT_TRUE(small.ok) << small.raw;
    EXPECT_TRUE(rig.alive(worker));
}

TEST_F(QoricConversation, UnknownSessionAndUnknownLocap) {
    Response unknown = rig.post("/app/echo", "", EchoInput(std::string(32, 'f'), "X"));
    EXPECT_TRUE(unknown.has("<p align=\"center\">Application ECHO ended with code -4005</p>")) << unknown.raw;
    Response locap = rig.get("/qoric", "pib.transaction=echo&pib.locap=nope");
    EXPECT_TRUE(locap.has("Application ECHO ended with code -1006")) << locap.raw;
    Response none = rig.get("/ECHO");
    EXPECT_TRUE(none.has("Application  ended with code -7")) << none.raw;
}

TEST(QoricHostFaults, RejectedOpen) {
    QoricRig rig({"--locap", "QOR1", "--fault", "reject:reason=3"});
    rig.configure();
    rig.writeTemplates();
    ASSERT_GT(rig.startWorker(), 0);
    Response r = rig.get("/app/echo");
    EXPECT_TRUE(r.has("ended with code -1004")) << r.raw;
    EXPECT_EQ(rig.sanitizerReports(), "");
}

TEST(QoricHostFaults, DroppedConnectionRetiresTheWorker) {
    QoricRig rig({"--locap", "QOR1", "--fault", "drop:after=recv:prst,times=1"});
    rig.configure();
    rig.writeTemplates();
    pid_t worker = rig.startWorker();
    Response r = rig.get("/app/echo");
    // The session is the host's: the program is started over a new
    // connection.
    EXPECT_TRUE(r.has("NAME=[MENU]")) << r.raw;   // the first screen of the built-in script
    // A lost host connection retires the worker: its program starts afresh.
    EXPECT_TRUE(rig.waitLog("App: P" + std::to_string(worker) + " retires after", 30000)) << rig.log();
    EXPECT_TRUE(rig.get("/app/echo").ok);
    EXPECT_EQ(rig.sanitizerReports(), "");
}

TEST(QoricHostFaults, MissingTemplateIsConvertedIntoTheCache) {
    const char *src = std::getenv("QOR_SOURCE_DIR");
    const std::string samples = std::string(src ? src : ".") + "/testhost/samples";
    QoricRig rig({"--locap", "QOR1", "--script", samples + "/demo.dts", "--formats", samples + "/formats"});
    rig.configure();
    ASSERT_GT(rig.startWorker(), 0);
    // The host sends the format, which is converted into the cache and
    // shows the screen.
    Response r = rig.get("/app/echo");
    EXPECT_TRUE(r.has("<FORM NAME=\"ECHO\"")) << r.raw;
    EXPECT_TRUE(r.has("NAME=\"field_007\" SIZE=30 MAXLENGTH=30")) << r.raw;
    EXPECT_TRUE(rig.waitLog("Conversation: screen format ECHO not found", 30000)) << rig.log();
    // A cache the converter cannot write into: the error page, not a page
    // converted again and again.
    std::remove(rig.file("cache/echo.htx").c_str());
    std::remove(rig.file("cache/echo.t3i").c_str());
    ASSERT_EQ(rmdir(rig.file("cache").c_str()), 0);
    r = rig.get("/app/echo");
    EXPECT_TRUE(r.has("ended with code -2003")) << r.raw;
    EXPECT_TRUE(rig.waitLog("Problem converting screen ECHO; status -2003", 30000)) << rig.log();
    EXPECT_EQ(rig.sanitizerReports(), "");
}

TEST(QoricRouting, PidPoolCookieAndSessionIdName) {
    QoricRig rig;
    rig.configure(" <AppGroup URL=\"/pool/\" NAME=\"POOL\" PIDPOOL=\"yes\" TRANSACTION=\"ECHO\"/>\n"
                  " <AppGroup URL=\"/tok/\" NAME=\"TOK\" SID=\"token\" TRANSACTION=\"ECHO\"/>\n");
    // A page with a data description (toweb and fromweb records) gets the
    // pool cookie; "token" is the session-id field of one group.
    const std::string fields =
        "<field name=\"hostid\" mask=\"X(8)\"/><field name=\"n\" mask=\"X(6)\"/>"
        "<field name=\"typed\" mask=\"X(30)\"/><field name=\"shown\" mask=\"X(30)\"/>";
    rig.write("htx/echo.htx", "TOKEN=[\\{token}] SHOWN=[\\{shown}]");
    rig.write("htx/echo.t3i", "<records><record type=\"toweb\">" + fields +
                                  "</record><record type=\"fromweb\">" + fields + "</record></records>");
    ASSERT_GT(rig.startWorker(), 0);

    Response pooled = rig.get("/pool/");
    ASSERT_TRUE(pooled.ok) << pooled.raw;
    EXPECT_TRUE(pooled.has("Set-Cookie: PIDPOOL_ID=")) << pooled.headers;
    RequestOptions s;
    s.uri = "/pool/";
    s.cookie = "PIDPOOL_ID=77";
    Response chosen = rig.request(s);
    EXPECT_TRUE(chosen.has("Set-Cookie: PIDPOOL_ID=77; path=/;")) << chosen.headers;
    // A cookie outside the configured pool is not taken.
    s.cookie = "PIDPOOL_ID=999999999";
    Response refused = rig.request(s);
    EXPECT_FALSE(refused.has("PIDPOOL_ID=999999999")) << refused.headers;
    EXPECT_TRUE(refused.has("Set-Cookie: PIDPOOL_ID=")) << refused.headers;

    Response tok = rig.get("/tok/");
    size_t at = tok.body.find("TOKEN=[");
    ASSERT_NE(at, std::string::npos) << tok.raw;
    const std::string token = tok.body.substr(at + 7, 32);
    Response next = rig.post("/tok/", "", "token=" + token + "&mcs.name=ECHO&McsStatus=+&McsCount=74&typed=TOK");
    EXPECT_TRUE(next.has("TOKEN=[" + token + "] SHOWN=[TOK]")) << next.raw;
    EXPECT_EQ(rig.sanitizerReports(), "");
}

TEST(QoricSessions, AnotherWorkerContinuesAKilledWorkersSession) {
    QoricRig rig;
    rig.configure();
    rig.writeTemplates();
    pid_t first = rig.startWorker();
    Response r = rig.get("/app/echo");
    const std::string sid = sessionIdIn(r.body);
    ASSERT_FALSE(sid.empty()) << r.raw;
    // The second worker starts while the first lives (a start with no
    // live worker and no cleaner would expire every session).
    pid_t second = rig.startWorker();
    ASSERT_TRUE(rig.waitLog("Init for P" + std::to_string(second), 30000)) << rig.log();
    kill(first, SIGKILL);
    EXPECT_EQ(rig.waitWorker(first, 30000), -1);
    Response next = rig.post("/app/echo", "", EchoInput(sid, "CONTINUED"));
    EXPECT_TRUE(next.has("SID=[" + sid + "]")) << next.raw;
    EXPECT_TRUE(next.has("N=[1]")) << next.raw;
    EXPECT_TRUE(next.has("SHOWN=[CONTINUED]")) << next.raw;
    EXPECT_EQ(rig.sanitizerReports(), "");
}

TEST(QoricSessions, ProgramEndBetweenRequestsClosesTheSession) {
    QoricRig rig({"--locap", "QOR1", "--fault", "pren:on=prst,pos=after,delay=300,reason=T"});
    rig.configure();
    rig.writeTemplates();
    pid_t worker = rig.startWorker();
    Response r = rig.get("/app/echo");
    const std::string sid = sessionIdIn(r.body);
    ASSERT_FALSE(sid.empty()) << r.raw;
    // The worker takes the program end from its host socket while idle.
    EXPECT_TRUE(rig.waitLog("CLOSE", 30000) || rig.waitLog("Close", 0)) << rig.log();
    EXPECT_TRUE(HostLogged(rig, " recv Close (")) << rig.host()->log();
    Response after = rig.post("/app/echo", "", EchoInput(sid, "LATE"));
    EXPECT_TRUE(after.has("ended with code -4005")) << after.raw;
    EXPECT_TRUE(rig.alive(worker));
    // A whole message read between requests is no trouble: no warning, and
    // no pause of the worker.
    EXPECT_EQ(rig.log().find("but FastCGI not ready"), std::string::npos) << rig.log();
    EXPECT_EQ(rig.sanitizerReports(), "");
}

TEST(QoricSessions, HostMessageAfterTheReplyIsKeptBetweenRequests) {
    // Another screen of the session comes after the reply to the input: the
    // page does not wait for it; the idle worker reads it and keeps it for
    // the session's next exchange.
    const char *src = std::getenv("QOR_SOURCE_DIR");
    QoricRig rig({"--locap", "QOR1", "--script", std::string(src ? src : ".") + "/testhost/samples/demo.dts",
                  "--fault", "mcso:on=enter,to=self,pos=after,delay=100,times=1"});
    rig.configure();
    rig.writeTemplates();
    pid_t worker = rig.startWorker();
    const std::string sid = sessionIdIn(rig.get("/app/echo").body);
    ASSERT_FALSE(sid.empty());
    Response first = rig.post("/app/echo", "", EchoInput(sid, "ONE"));
    EXPECT_TRUE(first.has("N=[1]")) << first.raw;
    EXPECT_TRUE(first.has("SHOWN=[ONE]")) << first.raw;
    ASSERT_TRUE(rig.waitLog("DTP: 'MCSO' from locap QOR1 kept for the next read", 30000)) << rig.log();
    EXPECT_EQ(rig.log().find("but FastCGI not ready"), std::string::npos) << rig.log();
    // The kept screen answers the next input; the session goes on.
    Response second = rig.post("/app/echo", "", EchoInput(sid, "TWO"));
    EXPECT_TRUE(second.has("SID=[" + sid + "]")) << second.raw;
    Response third = rig.post("/app/echo", "", EchoInput(sid, "THREE"));
    EXPECT_TRUE(third.has("SID=[" + sid + "]")) << third.raw;
    EXPECT_TRUE(rig.alive(worker));
    EXPECT_EQ(rig.log().find("but FastCGI not ready"), std::string::npos) << rig.log();
    EXPECT_EQ(rig.sanitizerReports(), "");
}

TEST(QoricDezUr, HostFormShownWithItsHeaderAndScreenText) {
    QoricRig rig({"--locap", "QOR1", "--fault",
                  "dezur:header=X-Dezur: yes\\x0D\\x0A,screen=DEZUR SCREEN TEXT"});
    rig.configure();
    rig.write("htx/dezurform.htx", "FORM SCREEN=[\\{f1}]");
    rig.write("htx/dezurform.t3i", "<records><record type=\"main\"><field name=\"f1\" mask=\"X(20)\"/>"
                                   "</record></records>");
    ASSERT_GT(rig.startWorker(), 0);
    Response r = rig.get("/app/echo", "a=1");
    ASSERT_TRUE(r.ok) << r.raw;
    EXPECT_TRUE(r.has("X-Dezur: yes\r\n")) << r.raw;
    EXPECT_TRUE(r.has("FORM SCREEN=[DEZUR SCREEN TEXT]")) << r.raw;
    EXPECT_EQ(rig.sanitizerReports(), "");
}

// DezUR switched off: a program that asks for a DezUR exchange gets no
// answer, so its session is closed on the host at once, and the browser
// gets the page of a missing template.
TEST(QoricDezUr, SwitchedOffClosesTheHostSession) {
    QoricRig rig({"--locap", "QOR1", "--fault", "dezur:header=H,screen=S"});
    rig.configure(" <EnableDezUr VALUE=\"no\"/>\n");
    rig.writeTemplates();
    ASSERT_GT(rig.startWorker(), 0);
    Response r = rig.get("/app/echo", "a=1");
    ASSERT_TRUE(r.ok) << r.raw;
    EXPECT_TRUE(r.has("ended with code -2")) << r.raw;
    EXPECT_TRUE(rig.waitLog("the host starts a DezUR exchange but EnableDezUr is off; the session is closed", 30000))
        << rig.log();
    EXPECT_TRUE(rig.waitLog("Sending CLOSE packet for session", 30000)) << rig.log();
    EXPECT_TRUE(HostLogged(rig, " recv Close (")) << rig.host()->log();
    EXPECT_EQ(rig.host()->log().find(" recv DezUrRead ("), std::string::npos);
    EXPECT_EQ(rig.sanitizerReports(), "");
}
