// Parsing of the posted body and the dispatch on "nextaction".
#include <gtest/gtest.h>

#include <sstream>

#include "ConfigWriter.h"
#include "EditorRequest.h"
#include "editor_test_util.h"

namespace {

RequestMap_t Parse(const std::string &body) {
    RequestMap_t m;
    ParseRequestBody(body, m);
    return m;
}

TEST(EditorParse, SplitsPairsKeepsFirstValueAndDecodesOnlyValues) {
    EXPECT_TRUE(Parse("").empty());
    EXPECT_EQ(Parse("a=1&a=2"), (RequestMap_t{{"a", "1"}}));
    // A browser sends a blank as "+" and a "+" as "%2B"; names stay as sent.
    EXPECT_EQ(Parse("v=a%41b&w=a+b%2Bc&%41=x&n+m=1"),
              (RequestMap_t{{"v", "aAb"}, {"w", "a b+c"}, {"%41", "x"}, {"n+m", "1"}}));
    // The last pair needs no "&"; "a=" gives an empty value; a name without
    // "=" ends the parse.
    EXPECT_EQ(Parse("a=1&b="), (RequestMap_t{{"a", "1"}, {"b", ""}}));
    EXPECT_EQ(Parse("a=1&junk&c=3"), (RequestMap_t{{"a", "1"}, {"junk&c", "3"}}));
    EXPECT_EQ(Parse("a=1&"), (RequestMap_t{{"a", "1"}}));
    EXPECT_EQ(Parse("=x"), (RequestMap_t{{"", "x"}}));
    EXPECT_EQ(Parse("a=x=y"), (RequestMap_t{{"a", "x=y"}}));
}

TEST(EditorParse, PercentEscapesTakeUpToTwoHexDigits) {
    EXPECT_EQ(Parse("a=%2f%2F")["a"], "//");
    EXPECT_EQ(Parse("a=%4G")["a"], std::string("\x04") + "");   // "G" is no digit; both used
    EXPECT_EQ(Parse("a=%G1x")["a"], std::string("\0x", 2));      // no digit: code 0
    // The two characters are read as strtol reads them: a blank or a sign
    // before the digit is taken.
    EXPECT_EQ(Parse("a=% 9")["a"], "\t");
    EXPECT_EQ(Parse("a=%+A")["a"], "\n");
    EXPECT_EQ(Parse("a=%-1")["a"], "\xff");
    EXPECT_EQ(Parse("a=%0x")["a"], std::string(1, '\0'));
    // A "%" without two characters after it stays, and nothing is read past the value.
    EXPECT_EQ(Parse("a=%")["a"], "%");
    EXPECT_EQ(Parse("a=x%4")["a"], "x%4");
    EXPECT_EQ(Parse("a=%4&b=1")["a"], "%4");
    EXPECT_EQ(Parse("a=%4&b=1")["b"], "1");
}

TEST(EditorParse, LongFieldsAreKeptWholeAndOnlyTheBodyIsCapped) {
    const std::string big(5000, 'x');
    RequestMap_t m;
    std::istringstream in("name=" + big + "&next=1");
    std::ostringstream out, err;
    EXPECT_TRUE(ParseRequest(in, out, err, m));
    EXPECT_EQ(m["name"], big);
    EXPECT_EQ(m["next"], "1");

    std::string huge = "a=" + std::string(kMaxRequestBody, 'y') + "&b=2";
    std::istringstream in2(huge);
    EXPECT_FALSE(ParseRequest(in2, out, err, m));
    EXPECT_EQ(m["a"].size(), kMaxRequestBody - 2);
    EXPECT_EQ(m.count("b"), 0u);

    std::istringstream in3(std::string(kMaxRequestBody - 2, 'z').insert(0, "a="));
    EXPECT_TRUE(ParseRequest(in3, out, err, m));   // exactly the cap: whole
}

TEST(EditorDispatch, UnknownActionIsNamedEscaped) {
    std::istringstream in;
    std::ostringstream out, err;
    DispatchRequest(in, out, err, {{"nextaction", "nowrite"}});
    EXPECT_EQ(out.str(), "<h2>qorconfig: error dispatch request, unknown action [nowrite]</h2>\n");
    out.str("");
    DispatchRequest(in, out, err, {{"nextaction", "<script>x&\"</script>"}});
    EXPECT_EQ(out.str(), "<h2>qorconfig: error dispatch request, unknown action "
                         "[&lt;script&gt;x&amp;&quot;&lt;/script&gt;]</h2>\n");
}

TEST(EditorDispatch, ReadOfAMissingFileAndARefusedSave) {
    edtest::TempDir dir;
    std::istringstream in;
    std::ostringstream out, err;
    DispatchRequest(in, out, err, {{"ConfigFile", dir.file("absent.conf")}, {"ScriptName", ""}});
    EXPECT_EQ(out.str(), "<br>Can't read config file!<br>\n");

    out.str("");
    RequestContext cut;
    cut.bodyComplete = false;
    DispatchRequest(in, out, err,
                    {{"ConfigFile", dir.file("x.conf")}, {"nextaction", "write_file"}}, cut);
    EXPECT_EQ(out.str().rfind("<br>zelconfig: Error: Can't save config file!<br>", 0), 0u);
    EXPECT_NE(out.str().find("larger than 1 MiB"), std::string::npos);
    EXPECT_NE(access(dir.file("x.conf").c_str(), F_OK), 0);
}

TEST(EditorOrigin, ASaveMustComeFromAPageOfThisServer) {
    const struct {
        const char *origin, *referer, *host;
        bool taken;
    } cases[] = {
        {"", "", "example.org", true},   // no browser page: a script
        {"http://example.org", "", "example.org", true},
        {"https://Example.ORG:443", "", "example.org", true},
        {"http://example.org", "", "example.org:80", true},
        {"http://127.0.0.1:8080", "", "127.0.0.1:8080", true},
        {"", "http://127.0.0.1:8080/qorconfig?x=1", "127.0.0.1:8080", true},
        {"http://evil.example", "http://127.0.0.1:8080/qorconfig", "127.0.0.1:8080", false},
        {"http://127.0.0.1:8081", "", "127.0.0.1:8080", false},
        {"https://example.org", "", "example.org:80", false},
        {"null", "", "example.org", false},
        {"", "http://evil.example/page", "example.org", false},
        {"", "http://example.org@evil.example/", "example.org", false},
        {"", "ftp://example.org/", "example.org", false},
        {"http://example.org", "", "", false},
    };
    for (const auto &c : cases) {
        std::string why;
        EXPECT_EQ(IsSameOrigin({c.origin, c.referer, c.host}, why), c.taken)
            << c.origin << " | " << c.referer << " | " << c.host;
        EXPECT_EQ(why.empty(), c.taken);
    }
}

}  // namespace
