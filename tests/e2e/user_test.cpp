// What a browser user meets in the demo: the site's root, the pages'
// character set, F9 and an unknown transaction, and input the host must not
// get, which shows the current screen again with a notice.
#include "checks.h"

namespace e2e {
namespace {

class User : public ::testing::Test {
protected:
    void SetUp() override { E2E_REQUIRE_QORIC(); }
};

TEST_F(User, RootCharacterSetAndProgramEnds)
{
    Stack s;
    HttpResponse root = s.get("/");
    EXPECT_EQ(root.status, 301);
    EXPECT_EQ(root.header("Location"), "/demo/");
    EXPECT_EQ(s.get("/demo/").header("Content-Type"), "text/html; charset=ISO-8859-1");

    Visitor v(s.port());
    ASSERT_TRUE(isScreen(v.open("/demo/DEMO"), "LOGON"));
    ASSERT_TRUE(isScreen(v.submit({{"field_005", "eve"}}), "MENU"));
    v.submit({}, '9');
    EXPECT_TRUE(pageHas(v.last().body, "<TITLE>Program ended</TITLE>")) << v.last().body;
    EXPECT_TRUE(pageHas(v.last().body, "ABORTED BY THE USER")) << v.last().body;

    // An unknown name is named on its page: one the host refused, and one
    // no host could know (refused by the gateway), escaped and cut.
    const struct {
        const char* path;
        std::string named;
    } unknown[] = {
        {"/demo/NOPE", "NOPE"},
        {"/demo/TOOLONGNAME1", "TOOLONGNAME1"},
        {"/demo/%3Cscript%3E", "&lt;SCRIPT&gt;"},
        {"/demo/A%22b%27c", "A&quot;B&#39;C"},
        {"/demo/ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789", "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345..."},
    };
    for (const auto& u : unknown) {
        const HttpResponse r = s.get(u.path);
        EXPECT_EQ(errorCodeOf(r.body), -5005) << u.path;
        EXPECT_TRUE(pageHas(r.body, "There is no transaction named " + u.named + ".")) << r.body;
        EXPECT_EQ(r.body.find("<SCRIPT>"), std::string::npos) << r.body;
    }
    // A posted name, with a control character (shown as "?").
    const HttpResponse posted = s.post("/demo/", "pib.transaction=%3Cb%3E%0Ax");
    EXPECT_TRUE(pageHas(posted.body, "There is no transaction named &lt;B&gt;?X.")) << posted.body;
}

// Each post is refused: the screen comes again with the notice and what
// the user typed (a form of an earlier screen: as the host sent it), the
// host gets nothing, and the session goes on.
TEST_F(User, RefusedInputShowsTheCurrentScreenAgain)
{
    Stack s;
    Visitor v(s.port());
    ASSERT_TRUE(isScreen(v.open("/demo/DEMO"), "LOGON"));
    const Visitor logon = v;   // the page Back shows again
    ASSERT_TRUE(isScreen(v.submit({{"field_005", "alice"}}), "MENU"));
    const size_t inputs = inputsCount(s.hostLog());
    const struct {
        HeaderList typed;
        const char* notice;
    } cases[] = {
        {{{"field_007", "2"}, {"McsCount", "99999999999"}}, "screen size or count of the form is not valid"},
        {{{"McsSize", "-1"}}, "screen size or count of the form is not valid"},
        {{{"McsCount", "56"}}, "screen size or count of the form is not valid"},
        {{{"field_007", "&#8364;"}},
         "Characters outside the character set ISO-8859-1 cannot be sent to the host: nothing was sent "
         "(U+20AC in the field field_007)."},
        {{{"field_007", "\x84"}}, "(U+201E in the field field_007)"},  // windows-1252's low quotes
        {{{"field_<b>", "&#x3A9;"}}, "(U+03A9 in the field field_%3Cb%3E)"},   // the name as posted
    };
    for (const auto& c : cases) {
        Visitor again = v;
        ASSERT_TRUE(isScreen(again.submit(c.typed), "MENU"));
        EXPECT_TRUE(pageHas(again.last().body, c.notice)) << c.typed[0].second;
        // The menu as the host sent it, with what the user typed.
        std::string typed = "1";
        for (const auto& t : c.typed)
            if (t.first == "field_007") typed = t.second;
        EXPECT_EQ(again.form().get("field_007"), typed);
    }
    Visitor back = logon;
    ASSERT_TRUE(isScreen(back.submit({{"field_005", "mallory"}}), "MENU"));
    EXPECT_TRUE(pageHas(back.last().body, "This form was for an earlier screen")) << back.last().body;
    EXPECT_EQ(inputsCount(s.hostLog()), inputs) << s.hostLog();

    ASSERT_TRUE(isScreen(back.submit({{"field_007", "3"}}), "DETAIL"));
    EXPECT_EQ(back.form().get("field_005"), "3");
    EXPECT_EQ(framesCount(s.hostLog(), "recv", "CLOSE"), 0u);
}

TEST_F(User, AConfiguredCharacterSetIsDeclared)
{
    Stack s(withConfig("<CharacterSet VALUE=\"windows-1252\"/>"));
    EXPECT_EQ(s.get("/demo/ECHO").header("Content-Type"), "text/html; charset=windows-1252");
}

}  // namespace
}  // namespace e2e
