// What a browser user meets in the demo: the site's root, the character
// set of the pages, the end of a program by F9, an unknown transaction,
// and input the host must not get (a form sent again after Back, a
// character outside the character set, a crafted McsCount or McsSize),
// which shows the current screen again with a notice and keeps the session.
#include "checks.h"

namespace e2e {
namespace {

const std::string kStale = "This form was for an earlier screen: nothing was sent.";
const std::string kCharset = "Characters outside the character set ISO-8859-1 cannot be sent";
const std::string kBadSize = "The screen size or count of the form is not valid: nothing was sent.";

class User : public ::testing::Test {
protected:
    void SetUp() override { E2E_REQUIRE_QORIC(); }
};

// The page shows `screen` again with `notice` and the host got nothing new.
::testing::AssertionResult shownAgain(const HttpResponse& r, const std::string& screen,
                                      const std::string& notice, size_t inputsBefore, const Stack& s)
{
    if (auto shown = isScreen(r, screen); !shown) return shown;
    if (r.body.find(notice) == std::string::npos)
        return ::testing::AssertionFailure() << "no notice '" << notice << "' in\n" << r.body;
    if (inputsCount(s.hostLog()) != inputsBefore)
        return ::testing::AssertionFailure() << "the host got input:\n" << s.hostLog();
    return ::testing::AssertionSuccess();
}

TEST_F(User, RootPagesAndProgramEnds)
{
    Stack s;
    HttpResponse root = s.get("/");
    EXPECT_EQ(root.status / 100, 3) << root.status;
    EXPECT_EQ(root.header("Location").substr(root.header("Location").find("/demo/")), "/demo/");
    HttpResponse welcome = s.get("/demo/");
    EXPECT_NE(welcome.body.find("QOR/ix gateway demo"), std::string::npos) << welcome.body;
    EXPECT_EQ(welcome.header("Content-Type"), "text/html; charset=ISO-8859-1");

    // F9 is the user's own end: the program-end page with the host's text.
    Visitor v(s.port());
    ASSERT_TRUE(isScreen(v.open("/demo/DEMO"), "LOGON"));
    ASSERT_TRUE(isScreen(v.submit({{"field_005", "eve"}}), "MENU"));
    v.submit({}, '9');
    EXPECT_NE(v.last().body.find("<TITLE>Program ended</TITLE>"), std::string::npos) << v.last().body;
    EXPECT_NE(v.last().body.find("ABORTED BY THE USER"), std::string::npos) << v.last().body;

    // A transaction the host does not know.
    HttpResponse unknown = s.get("/demo/NOPE");
    EXPECT_EQ(errorCodeOf(unknown.body), -5005) << unknown.body;
    EXPECT_NE(unknown.body.find("There is no transaction named NOPE."), std::string::npos) << unknown.body;
    EXPECT_NE(unknown.body.find("UNKNOWN TRANSACTION NOPE"), std::string::npos) << unknown.body;
}

TEST_F(User, AFormOfAnEarlierScreenIsNotSent)
{
    Stack s;
    Visitor v(s.port());
    ASSERT_TRUE(isScreen(v.open("/demo/DEMO"), "LOGON"));
    const Visitor logon = v;   // the page Back shows again
    ASSERT_TRUE(isScreen(v.submit({{"field_005", "alice"}}), "MENU"));
    const size_t inputs = inputsCount(s.hostLog());

    Visitor back = logon;
    EXPECT_TRUE(shownAgain(back.submit({{"field_005", "mallory"}}), "MENU", kStale, inputs, s));
    EXPECT_EQ(back.form().get("field_005"), "1") << "the menu as the host sent it";
    // Nothing is lost: the session goes on from the page shown.
    ASSERT_TRUE(isScreen(back.submit({{"field_007", "3"}}), "DETAIL"));
    EXPECT_EQ(back.form().get("field_005"), "3");
    EXPECT_EQ(s.hostLog().find("the session shows"), std::string::npos) << s.hostLog();

    // The gateway's own subscreen of the menu is no earlier screen.
    ASSERT_TRUE(isScreen(back.submit(), "MENU"));
    ASSERT_TRUE(isScreen(back.submitWith("mcs.page=MENUHELP"), "MENUHELP"));
    ASSERT_TRUE(isScreen(back.submitWith("mcs.page=MENU"), "MENU"));
    EXPECT_EQ(back.last().body.find(kStale), std::string::npos);
}

TEST_F(User, CharactersOutsideTheCharacterSetAreRefused)
{
    Stack s;
    Visitor v(s.port());
    ASSERT_TRUE(isScreen(v.open("/demo/ECHO"), "ECHO"));
    EXPECT_EQ(v.last().header("Content-Type"), "text/html; charset=ISO-8859-1");

    // A field filled to the last byte with a letter of the set arrives whole.
    const std::string typed = std::string(29, 'a') + "\xFC";
    ASSERT_TRUE(isScreen(v.submit({{"field_007", typed}}), "ECHO"));
    EXPECT_EQ(v.form().get("field_009"), typed);
    const std::string hostId = v.form().get("field_003");
    EXPECT_TRUE(hostReceived(s.hostLog(), mcsInput("ECHO", 74, ' ', ' ', 74,
                                                   pad(hostId, 8) + pad("0", 6) + typed + pad("", 30))))
        << s.hostLog();

    // The browser sends the euro sign as a character reference.
    const size_t inputs = inputsCount(s.hostLog());
    EXPECT_TRUE(shownAgain(v.submit({{"field_007", "5 &#8364;"}}), "ECHO", kCharset, inputs, s));
    EXPECT_EQ(v.form().get("field_009"), typed) << "the screen as the host last sent it";
    // ... or, taking the page for windows-1252, as a control code of ISO-8859-1.
    EXPECT_TRUE(shownAgain(v.submit({{"field_007", "5 \x80"}}), "ECHO", kCharset, inputs, s));
    ASSERT_TRUE(isScreen(v.submit({{"field_007", "ok"}}), "ECHO"));
    EXPECT_EQ(v.form().get("field_009"), "ok");
}

TEST_F(User, ACraftedCountOrSizeKeepsTheSession)
{
    Stack s;
    Visitor v(s.port());
    ASSERT_TRUE(isScreen(v.open("/demo/ECHO"), "ECHO"));
    const size_t inputs = inputsCount(s.hostLog());
    const HeaderList crafted[] = {{{"McsCount", "99999999999"}},
                                  {{"McsSize", "-1"}},
                                  {{"McsCount", "75"}},
                                  {{"McsSize", "99999999999999999999999"}}};
    for (const HeaderList& fields : crafted) {
        Visitor again = v;
        EXPECT_TRUE(shownAgain(again.submit(fields), "ECHO", kBadSize, inputs, s)) << fields[0].second;
    }
    EXPECT_EQ(framesCount(s.hostLog(), "recv", "CLOSE"), 0u);
    ASSERT_TRUE(isScreen(v.submit({{"field_007", "still here"}}), "ECHO"));
    EXPECT_EQ(v.form().get("field_009"), "still here");
    EXPECT_EQ(s.table().records.size(), 1u);
}

TEST_F(User, AConfiguredCharacterSetIsDeclared)
{
    Stack s(withConfig("<CharacterSet VALUE=\"windows-1252\"/>"));
    EXPECT_EQ(s.get("/demo/").header("Content-Type"), "text/html; charset=windows-1252");
    EXPECT_EQ(s.get("/demo/ECHO").header("Content-Type"), "text/html; charset=windows-1252");
}

}  // namespace
}  // namespace e2e
