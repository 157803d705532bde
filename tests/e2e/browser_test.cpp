// The demo in Debian's chromium, headless: from the welcome page into the
// DEMO transaction, typing into fields, Enter (also on pages without a
// field), the local help page, and a function key that ends the program;
// and the ORDER transaction, whose pages the gateway converts from the
// host's screen formats.  Screenshots
// stay in the test's working folder as artefacts (browser-*.png).
#include "cdp_pipe.h"
#include "checks.h"

#include <sys/stat.h>
#include <unistd.h>

namespace e2e {
namespace {

std::string artefact(const std::string& name)
{
    char cwd[4096];
    return std::string(getcwd(cwd, sizeof cwd) ? cwd : ".") + "/" + name;
}

std::string profileIn(const Stack& s)
{
    const std::string profile = s.root() + "/browser";
    mkdir(profile.c_str(), 0700);
    return profile;
}

// The demo's stack and a browser with its own profile beside it.
struct DemoInBrowser {
    Stack s;
    Browser b{profileIn(s)};
    const std::string base = "http://127.0.0.1:" + std::to_string(s.port());
    const std::string form = "document.forms[0]";
};

TEST(Browser, RunsTheDemoTransaction)
{
    E2E_REQUIRE_QORIC();
    DemoInBrowser d;
    Stack& s = d.s;
    Browser& b = d.b;
    const std::string &base = d.base, &form = d.form;

    b.open(base + "/demo/");
    ASSERT_EQ(b.eval("document.title"), "QOR/ix gateway demo");
    b.navigateBy("document.getElementById('demo').click()");
    ASSERT_EQ(b.eval(form + ".name"), "LOGON") << b.eval("document.documentElement.outerHTML");
    const std::string hostId = b.eval(form + ".field_003.value");
    EXPECT_FALSE(hostId.empty());
    EXPECT_EQ(b.eval("document.activeElement.name"), "field_005") << "the cursor is in the user field";

    b.type(form + ".field_005", "alice");
    b.navigateBy("document.getElementById('enter').click()");
    ASSERT_EQ(b.eval(form + ".name"), "MENU");
    EXPECT_EQ(b.eval(form + ".field_003.value"), hostId);
    EXPECT_EQ(b.eval(form + ".field_005.value"), "1");
    EXPECT_NE(b.eval("document.body.innerText").find("ENTER DETAIL; F1 LOGON; F3 END; F9 ABORT"), std::string::npos);
    b.screenshot(artefact("browser-menu.png"));

    // The help page comes from the gateway alone, over the menu's data.
    b.navigateBy("document.getElementById('help').click()");
    ASSERT_EQ(b.eval(form + ".name"), "MENUHELP");
    EXPECT_NE(b.eval("document.body.innerText").find(hostId), std::string::npos);
    b.navigateBy("document.getElementById('back').click()");
    ASSERT_EQ(b.eval(form + ".name"), "MENU");

    // Enter on the help page, which has no field, goes back to the menu.
    b.navigateBy("document.getElementById('help').click()");
    ASSERT_EQ(b.eval(form + ".name"), "MENUHELP");
    b.pressEnterKey();
    ASSERT_EQ(b.eval(form + ".name"), "MENU");

    b.type(form + ".field_007", "2");
    b.navigateBy("document.getElementById('enter').click()");
    ASSERT_EQ(b.eval(form + ".name"), "DETAIL");
    EXPECT_EQ(b.eval(form + ".field_005.value"), "2");
    b.screenshot(artefact("browser-detail.png"));
    // DETAIL has no field either: Enter moves on to the menu, and back.
    b.pressEnterKey();
    ASSERT_EQ(b.eval(form + ".name"), "MENU");
    b.pressEnterKey();
    ASSERT_EQ(b.eval(form + ".name"), "DETAIL");

    // F3 runs the page's own function-key script.
    b.navigateBy("document.getElementById('f3').click()");
    EXPECT_EQ(b.eval("document.title"), "Program ended");
    EXPECT_NE(b.eval("document.getElementById('cda').innerText").find("GOODBYE " + hostId), std::string::npos);
    b.screenshot(artefact("browser-ended.png"));
    EXPECT_EQ(readFile(artefact("browser-ended.png")).substr(0, 4), "\x89PNG");
    EXPECT_EQ(s.table().records.size(), 0u);
}

TEST(Browser, RunsATransactionWithConvertedPages)
{
    E2E_REQUIRE_QORIC();
    DemoInBrowser d;
    Stack& s = d.s;
    Browser& b = d.b;
    const std::string &base = d.base, &form = d.form;

    // The kind of each field's element, by name: protected fields are text
    // with a hidden copy, the others text inputs.
    auto kinds = [&] {
        return b.eval("Array.from(document.forms[0].elements).filter(e => e.name.startsWith('field_'))"
                      ".map(e => e.name + ':' + e.type).join(' ')");
    };
    b.open(base + "/demo/");
    b.navigateBy("document.getElementById('order').click()");
    ASSERT_EQ(b.eval(form + ".name"), "ORDENTRY") << b.eval("document.documentElement.outerHTML");
    const std::string hostId = b.eval(form + ".field_004.value");
    EXPECT_FALSE(hostId.empty());
    EXPECT_EQ(b.eval(form + ".field_012.value"), "     12.50");
    EXPECT_EQ(kinds(), "field_004:hidden field_006:text field_008:text field_010:text field_012:hidden");
    const std::string text = b.eval("document.body.innerText");
    EXPECT_NE(text.find("ENTER CUSTOMER, ITEM AND QUANTITY"), std::string::npos);
    EXPECT_NE(text.find(hostId), std::string::npos) << "the session is shown as text";
    EXPECT_NE(text.find("12.50"), std::string::npos) << "the price is shown as text";
    // No server folder in the page; the demo's look from its style sheet.
    const std::string html = b.eval("document.documentElement.outerHTML");
    EXPECT_EQ(html.find(s.root()), std::string::npos) << html;
    EXPECT_NE(html.find("contents of the file orderkeys.html"), std::string::npos);
    EXPECT_EQ(b.eval("getComputedStyle(document.body).backgroundColor"), "rgb(244, 246, 248)");

    // Fill and Transmit (the button of the transaction's additional HTML).
    // The host put the cursor in CUSTOMER. ITEM NO is shown full to its
    // length: a click into it and typing replace its value. The mouseup of
    // that click is not acted on (some browsers would put the caret there
    // and undo the select), that of a later click is.
    EXPECT_EQ(b.eval("document.activeElement.name"), "field_006");
    b.type(form + ".field_006", "acme");
    ASSERT_EQ(b.eval(form + ".field_008.value"), "000000");
    b.eval("window.mouseUps = []; " + form +
           ".field_008.addEventListener('mouseup', e => mouseUps.push(e.defaultPrevented)); true");
    b.click(form + ".field_008");
    b.press("42");
    EXPECT_EQ(b.eval(form + ".field_008.value"), "42");
    b.click(form + ".field_008");
    EXPECT_EQ(b.eval("mouseUps.join(' ')"), "true false");
    b.type(form + ".field_010", "7");
    b.screenshot(artefact("browser-order-entry.png"));
    b.navigateBy("document.getElementById('transmit').click()");
    ASSERT_EQ(b.eval(form + ".name"), "ORDTAKEN");
    EXPECT_EQ(b.eval(form + ".field_003.value"), hostId);
    EXPECT_EQ(b.eval(form + ".field_005.value"), "ACME");
    EXPECT_EQ(b.eval(form + ".field_007.value"), "000042");
    EXPECT_EQ(b.eval(form + ".field_009.value"), "   7");
    EXPECT_EQ(kinds(), "field_003:hidden field_005:hidden field_007:hidden field_009:hidden");
    EXPECT_NE(b.eval("document.body.innerText").find("ACME"), std::string::npos);
    b.screenshot(artefact("browser-order-taken.png"));

    // F3 through the page's DoFKEY.
    b.navigateBy("document.getElementById('f3').click()");
    EXPECT_EQ(b.eval("document.title"), "Program ended");
    EXPECT_NE(b.eval("document.getElementById('cda').innerText").find("ORDERS TAKEN"), std::string::npos);
    EXPECT_EQ(s.table().records.size(), 0u);
}

// Typing where the page puts the cursor, in the page's character set.
TEST(Browser, TypesAtTheCursorInThePagesCharacterSet)
{
    E2E_REQUIRE_QORIC();
    DemoInBrowser d;
    Stack& s = d.s;
    Browser& b = d.b;
    const std::string &base = d.base, &form = d.form;
    auto enter = [&] { b.navigateBy("document.getElementById('enter').click()"); };

    b.open(base + "/");
    ASSERT_EQ(b.eval("document.title"), "QOR/ix gateway demo");
    b.open(base + "/demo/DEMO");
    b.keys("alice");
    enter();
    ASSERT_EQ(b.eval(form + ".name"), "MENU");
    b.keys("2");   // over the default choice "1"
    enter();
    ASSERT_EQ(b.eval(form + ".name"), "DETAIL");
    EXPECT_EQ(b.eval(form + ".field_005.value"), "2");

    // 29 letters and a u-umlaut fill the 30-byte field: one byte each.
    const std::string typed = std::string(29, 'a') + "\xC3\xBC";
    b.open(base + "/demo/ECHO");
    b.keys(typed);
    enter();
    EXPECT_EQ(b.eval(form + ".field_009.value"), typed);
    EXPECT_NE(s.hostLog().find("61 61 FC"), std::string::npos) << s.hostLog();
    const struct {
        std::string typed, named;
    } outside[] = {{"5 \xE2\x82\xAC", "(U+20AC in the field field_007)"},   // a euro sign
                   {"\xCE\xA9", "(U+03A9 in the field field_007)"}};       // an omega
    for (const auto& o : outside) {
        b.keys(o.typed);
        enter();
        const std::string text = b.eval("document.body.innerText");
        EXPECT_NE(text.find("outside the character set"), std::string::npos);
        EXPECT_NE(text.find(o.named), std::string::npos) << text;
        EXPECT_EQ(b.eval(form + ".field_009.value"), typed);
    }
}

}  // namespace
}  // namespace e2e
