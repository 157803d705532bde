// A browser's conversation through lighttpd, the gateway and dtphost: the
// first request of a session (with and without an application group), the
// screen input the host gets for a submitted form, function keys, the local
// subscreen (mcs.page) and notify requests (mcs.notify).
#include "checks.h"

#include <regex>

namespace e2e {
namespace {

const std::string kLogonText = "TYPE A USER NAME; F3 QUITS";
// The menu's prompt fits its 40-byte field whole.
const std::string kMenuText = "ENTER DETAIL; F1 LOGON; F3 END; F9 ABORT";

class Conversation : public ::testing::Test {
protected:
    void SetUp() override { E2E_REQUIRE_QORIC(); }
};

TEST_F(Conversation, FirstRequestWithAGroupOpensAHostSession)
{
    Stack s;
    Visitor v(s.port());
    ASSERT_TRUE(isScreen(v.open("/demo/DEMO"), "LOGON"));
    EXPECT_EQ(v.last().header("Cache-Control"), "no-cache");
    const std::string hostId = v.form().get("field_003");
    EXPECT_TRUE(std::regex_match(hostId, std::regex("[0-9A-F]+"))) << hostId;
    EXPECT_EQ(v.form().get("field_006"), kLogonText);
    EXPECT_EQ(v.form().actionParam("pib.transaction"), "DEMO");
    EXPECT_EQ(v.form().actionParam("pib.locap"), "QOR1");
    EXPECT_EQ(v.form().actionParam("mcs.name"), "LOGON");

    TableView t = s.table();
    ASSERT_EQ(t.records.size(), 1u);
    EXPECT_EQ(t.records[0].guidText, v.sid());
    EXPECT_EQ(t.records[0].locap, "QOR1");
    EXPECT_EQ(t.records[0].hostId, std::stoul(hostId, nullptr, 16));
    EXPECT_NE(s.hostLog().find("PRST for session L" + hostId + ": transaction DEMO"), std::string::npos);
}

TEST_F(Conversation, FirstRequestWithoutAGroupTakesTheTransactionFromTheFields)
{
    Stack s;
    Visitor get(s.port());
    ASSERT_TRUE(isScreen(get.open("/qoric?pib.transaction=DEMO"), "LOGON"));
    // The same as a POST body, and a transaction whose name is not upper case.
    HttpResponse r = s.post("/qoric", "pib.transaction=echo");
    ASSERT_TRUE(isScreen(r, "ECHO"));
    EXPECT_NE(parseForm(r.body).actionParam("sid"), get.sid());
    EXPECT_EQ(s.table().records.size(), 2u);
}

TEST_F(Conversation, ABareTransactionUrlWithoutAGroupIsRefused)
{
    Stack s(withConfig(kBuiltInErrorPage));
    HttpResponse r = s.get("/DEMO");
    EXPECT_TRUE(isErrorPage(r, -7));
    EXPECT_EQ(s.table().records.size(), 0u);
    EXPECT_EQ(s.hostLog().find("PRST"), std::string::npos);
}

TEST_F(Conversation, SubmitSendsTheScreenInputByteForByte)
{
    Stack s;
    Visitor v(s.port());
    ASSERT_TRUE(isScreen(v.open("/demo/DEMO"), "LOGON"));
    const std::string hostId = v.form().get("field_003");
    const std::string sid = v.sid();

    ASSERT_TRUE(isScreen(v.submit({{"field_005", "alice"}}), "MENU"));
    EXPECT_EQ(v.sid(), sid);
    EXPECT_EQ(v.form().get("field_003"), hostId) << "the same host session";
    EXPECT_EQ(v.form().get("field_005"), "1") << "one input so far";
    EXPECT_EQ(v.form().get("field_008"), kMenuText);
    const std::string logon = pad(hostId, 8) + pad("alice", 8) + pad(kLogonText, 40);
    EXPECT_TRUE(hostReceived(s.hostLog(), mcsInput("LOGON", 56, ' ', ' ', 56, logon))) << s.hostLog();

    ASSERT_TRUE(isScreen(v.submit({{"field_007", "2"}}), "DETAIL"));
    EXPECT_EQ(v.form().get("field_005"), "2") << "the detail of the choice made";
    const std::string menu = pad(hostId, 8) + pad("1", 6) + "2" + pad(kMenuText, 40);
    EXPECT_TRUE(hostReceived(s.hostLog(), mcsInput("MENU", 55, ' ', ' ', 55, menu)));

    ASSERT_TRUE(isScreen(v.submit(), "MENU"));
    EXPECT_EQ(v.form().get("field_005"), "3");
    EXPECT_EQ(s.hostLog().find("warning:"), std::string::npos) << "ids and PIB go back as the host sent them\n"
                                                                 << s.hostLog();
}

TEST_F(Conversation, FunctionKeysSendAHeaderOnlyInput)
{
    Stack s;
    Visitor v(s.port());
    ASSERT_TRUE(isScreen(v.open("/demo/DEMO"), "LOGON"));
    ASSERT_TRUE(isScreen(v.submit({{"field_005", "bob"}}), "MENU"));
    ASSERT_TRUE(isScreen(v.submit({}, '1'), "LOGON")) << "F1 goes back";
    EXPECT_TRUE(hostReceived(s.hostLog(), mcsInput("MENU", 0, '1', ' ', 0)));
    ASSERT_TRUE(isScreen(v.submit({{"field_005", "bob"}}), "MENU"));

    // F3 ends the program; the demo's program-end page shows the host's text.
    const std::string hostId = v.form().get("field_003");
    HttpResponse end = v.submit({}, '3');
    EXPECT_EQ(end.status, 200);
    EXPECT_NE(end.body.find("GOODBYE " + hostId), std::string::npos) << end.body;
    EXPECT_TRUE(hostReceived(s.hostLog(), mcsInput("MENU", 0, '3', ' ', 0)));
    EXPECT_EQ(s.table().records.size(), 0u) << "the ended session's record is gone";
}

TEST_F(Conversation, LocalSubscreenIsShownWithoutAskingTheHost)
{
    Stack s;
    Visitor v(s.port());
    ASSERT_TRUE(isScreen(v.open("/demo/DEMO"), "LOGON"));
    ASSERT_TRUE(isScreen(v.submit({{"field_005", "carol"}}), "MENU"));
    const std::string hostId = v.form().get("field_003");
    const size_t inputs = inputsCount(s.hostLog());

    ASSERT_TRUE(isScreen(v.submitWith("mcs.page=MENUHELP"), "MENUHELP"));
    EXPECT_NE(v.last().body.find(">" + hostId + "<"), std::string::npos) << "over the menu's data";
    ASSERT_TRUE(isScreen(v.submitWith("mcs.page=MENU"), "MENU"));
    EXPECT_EQ(v.form().get("field_003"), hostId);
    EXPECT_EQ(inputsCount(s.hostLog()), inputs) << "no host traffic for a local subscreen";

    ASSERT_TRUE(isScreen(v.submit({{"field_007", "7"}}), "DETAIL")) << "the session goes on";
    EXPECT_EQ(v.form().get("field_005"), "7");
}

TEST_F(Conversation, NotifySendsTheInputAndGetsNoPage)
{
    Stack s;
    Visitor v(s.port());
    ASSERT_TRUE(isScreen(v.open("/qoric?pib.transaction=ECHO"), "ECHO"));
    const std::string hostId = v.form().get("field_003");
    const size_t inputs = inputsCount(s.hostLog());
    HttpResponse r = v.submitWith("mcs.notify=1", {{"field_007", "NOTIFIED"}});
    EXPECT_TRUE(isEmptyAnswer(r));
    for (int i = 0; i < 500 && inputsCount(s.hostLog()) == inputs; ++i) sleepMs(20);
    EXPECT_EQ(inputsCount(s.hostLog()), inputs + 1);
    EXPECT_TRUE(hostReceived(s.hostLog(), mcsInput("ECHO", 74, ' ', ' ', 74,
                                                   pad(hostId, 8) + pad("0", 6) + pad("NOTIFIED", 30) + pad("", 30))));
}

TEST_F(Conversation, EchoShowsWhatWasTyped)
{
    Stack s;
    Visitor v(s.port());
    ASSERT_TRUE(isScreen(v.open("/demo/ECHO"), "ECHO"));
    for (int i = 1; i <= 3; ++i) {
        const std::string typed = "round " + std::to_string(i) + " a+b c%d/e";
        ASSERT_TRUE(isScreen(v.submit({{"field_007", typed}}), "ECHO"));
        EXPECT_EQ(v.form().get("field_005"), std::to_string(i));
        EXPECT_NE(v.last().body.find(typed), std::string::npos) << v.last().body;
    }
}

}  // namespace
}  // namespace e2e
