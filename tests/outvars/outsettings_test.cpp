// Output-side settings: environment table with LOCALHTTP/LOCALHTTPS,
// server-root paths, saved header and screen data, escaping of Data values.
#include "logprint.h"
#include "xfcgicharref.h"
#include "xfcgiout.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string env(const char *name)
{
    const char *v = std::getenv(name);
    return v ? v : "<unset>";
}

std::string localHost()
{
    char name[HOST_NAME_MAX + 1] = {};
    gethostname(name, sizeof name - 1);
    return name;
}

std::string readFile(const std::string &path)
{
    std::ifstream in(path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The table is process-wide and never emptied, so its cases run in order.
TEST(EnvironmentTable, LocalHttpSetenvAndCapacity)
{
    char dir[] = "/tmp/qor-outenv-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string logPath = std::string(dir) + "/env.log";
    ASSERT_NE(logOpen(logPath.c_str(), 0), nullptr);

    // No Host header, port 443: the local host, the second one secure.
    unsetenv("HTTP_HOST");
    setenv("SERVER_PORT", "443", 1);
    xFcgiSetEnvVars();
    EXPECT_EQ(env("LOCALHTTP"), "http://" + localHost());
    EXPECT_EQ(env("LOCALHTTPS"), "https://" + localHost());

    setenv("HTTP_HOST", "h1:8080", 1);
    setenv("SERVER_PORT", "80", 1);
    xFcgiSetEnvVars();
    EXPECT_EQ(env("LOCALHTTP"), "http://h1:8080");
    EXPECT_EQ(env("LOCALHTTPS"), "http://h1:8080");

    unsetenv("SERVER_PORT");   // unset counts as 80
    setenv("HTTP_HOST", "[::1]:80", 1);
    xFcgiSetEnvVars();
    EXPECT_EQ(env("LOCALHTTPS"), "http://[::1]:80");

    // A Host header that is no host name is not taken into links.
    setenv("HTTP_HOST", "evil\"><script>x</script>", 1);
    xFcgiSetEnvVars();
    EXPECT_EQ(env("LOCALHTTP"), "http://" + localHost());
    setenv("HTTP_HOST", std::string(300, 'a').c_str(), 1);
    xFcgiSetEnvVars();
    EXPECT_EQ(env("LOCALHTTP"), "http://" + localHost());

    // Setenv strings: kept once, put at every request; a saved LOCALHTTP
    // replaces the computed one.
    EXPECT_EQ(xFcgiSaveEnvVar("QOR_ENV_A=1"), 1);
    EXPECT_EQ(xFcgiSaveEnvVar("QOR_ENV_A=1"), 0);
    EXPECT_EQ(xFcgiSaveEnvVar("LOCALHTTP=x"), 1);
    EXPECT_EQ(xFcgiSaveEnvVar(nullptr), 0);
    setenv("HTTP_HOST", "h2", 1);
    xFcgiSetEnvVars();
    EXPECT_EQ(env("QOR_ENV_A"), "1");
    EXPECT_EQ(env("LOCALHTTP"), "x");
    EXPECT_EQ(env("LOCALHTTPS"), "http://h2");
    EXPECT_STREQ(xFcgiGetEnvVars(0), "QOR_ENV_A=1");
    EXPECT_STREQ(xFcgiGetEnvVars(1), "LOCALHTTP=x");
    EXPECT_EQ(xFcgiGetEnvVars(2), nullptr);
    EXPECT_EQ(xFcgiGetEnvVars(-1), nullptr);
    EXPECT_EQ(xFcgiGetEnvVars(24), nullptr);

    for (int i = 2; i < xFcgiMaxEnvVars; ++i) {
        std::string s = "QOR_FILL_" + std::to_string(i) + "=v";
        EXPECT_EQ(xFcgiSaveEnvVar(s.c_str()), 1);
    }
    EXPECT_EQ(xFcgiSaveEnvVar("QOR_ONE_TOO_MANY=1"), -1);
    EXPECT_EQ(xFcgiSaveEnvVar("QOR_FILL_5=v"), 0);
    EXPECT_STREQ(xFcgiGetEnvVars(23), "QOR_FILL_23=v");
    xFcgiSetEnvVars();
    EXPECT_EQ(env("QOR_FILL_23"), "v");
    EXPECT_EQ(env("QOR_ONE_TOO_MANY"), "<unset>");

    logClose();
    std::string text = readFile(logPath);
    EXPECT_NE(text.find("SetEnv table is full at 24"), std::string::npos);
    EXPECT_NE(text.find("Host header is no host name"), std::string::npos);
    std::system((std::string("rm -rf ") + dir).c_str());
}

TEST(ServerRoot, AbsoluteAndRelativePaths)
{
    EXPECT_STREQ(xFcgiServerRoot(nullptr), "/usr/local/qoric/");
    EXPECT_STREQ(xFcgiServerRoot("/srv/qor"), "/srv/qor/");
    EXPECT_EQ(xFcgiAbsDir("htx//page.htx"), "/srv/qor/htx/page.htx");
    EXPECT_EQ(xFcgiAbsDir("/x"), "/srv/qor/x");
    EXPECT_EQ(xFcgiAbsDir(std::string(1000, 'a').c_str()).size(), 1009u);
    EXPECT_STREQ(xFcgiRelDir("/srv/qor/htx/page.htx"), "page.htx");
    EXPECT_STREQ(xFcgiRelDir("/srv/qor/tpl/page.htx"), "tpl/page.htx");
    EXPECT_STREQ(xFcgiRelDir("/other/page.htx"), "/other/page.htx");
    EXPECT_EQ(xFcgiRelDir(nullptr), nullptr);
    xFcgiServerRoot("/usr/local/qoric/");

    xFcgiSetImageDir(std::string(300, 'i').c_str());
    EXPECT_EQ(std::string(xFcgiImageDir()).size(), 256u);
    xFcgiSetImageDir(nullptr);
    EXPECT_STREQ(xFcgiImageDir(), "");
    xFcgiSetSecureDir("/sec");
    EXPECT_STREQ(xFcgiSecureDir(), "/sec");
    saveBinaryName("/usr/local/qoric/bin/qoric");
    EXPECT_STREQ(xFcgiBinaryName(), "/usr/local/qoric/bin/qoric");
}

TEST(SavedData, PrivateCopiesHandedOverOnce)
{
    std::string hdr = "Set-Cookie: a=b\r\n";
    xFcgiSaveHdrData(hdr.data(), static_cast<int>(hdr.size()));
    hdr[0] = 'X';   // the copy is private
    std::string out;
    ASSERT_TRUE(xFcgiTakeHdrData(out));
    EXPECT_EQ(out, "Set-Cookie: a=b\r\n");
    EXPECT_FALSE(xFcgiTakeHdrData(out));

    const char mcs[] = {'A', '\0', 'B'};
    xFcgiSaveMcsData(mcs, 3);
    xFcgiSaveMcsData(mcs, 0);   // a length below 1 clears
    EXPECT_FALSE(xFcgiTakeMcsData(out));
    xFcgiSaveMcsData(mcs, 3);
    ASSERT_TRUE(xFcgiTakeMcsData(out));
    EXPECT_EQ(out, std::string(mcs, 3));
}

TEST(Escaping, DataValuesCannotCarryMarkup)
{
    std::string out = "<p>";
    xFcgiEscapeData("a&b <script>\"x\"</script> 'ok'", out);
    EXPECT_EQ(out, "<p>a&amp;b &lt;script&gt;&quot;x&quot;&lt;/script&gt; &#39;ok&#39;");
}

// A refused form shown again: only a refused reference to a showable
// character is written as a reference, made afresh from its number.
TEST(Escaping, TypedValuesShowRefusedCharacters)
{
    const struct {
        const char *typed;
        bool latin1;
        const char *shown;
    } rows[] = {
        {"x&#321;y", true, "x&#321;y"},
        {"&#65;&#321;", true, "&amp;#65;&#321;"},
        {"&#65;", false, "&#65;"},
        {"&#x141;&#0000321;", true, "&#321;&#321;"},
        {"&#0;&#9;&#127;&#128;&#159;", false, "&amp;#0;&amp;#9;&amp;#127;&amp;#128;&amp;#159;"},
        {"&#55296;&#xDFFF;&#65534;&#xFDD0;", true, "&amp;#55296;&amp;#xDFFF;&amp;#65534;&amp;#xFDD0;"},
        {"&#1114111;&#1114112;&#99999999999999999999;", true,
         "&amp;#1114111;&amp;#1114112;&amp;#99999999999999999999;"},
        {"&#1114109;&#&#321;&#321<b>", true, "&#1114109;&amp;#&#321;&amp;#321&lt;b&gt;"},
        {"<\"'&amp;", false, "&lt;&quot;&#39;&amp;amp;"},
    };
    for (const auto &r : rows) {
        std::string out;
        xFcgiEscapeTyped(r.typed, r.latin1, out);
        EXPECT_EQ(out, r.shown) << r.typed;
    }
}

TEST(Escaping, ScriptStringValuesCannotLeaveTheirString)
{
    std::string out;
    xFcgiEscapeScriptString("x y_1.2,3:-", out);
    EXPECT_EQ(out, "x y_1.2,3:-");
    out.clear();
    xFcgiEscapeScriptString(std::string("'\"\\</script>\n\0`$\xE9", 17), out);
    EXPECT_EQ(out, "\\x27\\x22\\x5C\\x3C\\x2Fscript\\x3E\\x0A\\x00\\x60\\x24\xE9");
}

TEST(ReplaceNames, NewestFirst)
{
    xFcgiReplaceName("A", "B");
    xFcgiReplaceName("C", "D");
    const auto &list = xFcgiReplaceNames();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list.front().first, "C");
    EXPECT_EQ(list.back().second, "B");

    std::vector<XFcgiTranEntry> local{{"T1", "<a href=", "/x", ""}};
    xFcgiSetTranTab(&local, nullptr);
    EXPECT_EQ(xFcgiLocalTranTab(), &local);
    EXPECT_EQ(xFcgiRemoteTranTab(), nullptr);
    xFcgiSetTranTab(nullptr, nullptr);
}

} // namespace
