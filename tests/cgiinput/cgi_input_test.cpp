// Request input: query strings and POST bodies read through the FastCGI
// calls, the input table and its getters, cookies, the DezUR environment.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "cgiinput/fcgi_stub.h"
#include "xfcgiinput.h"
#include "xfcgin.h"
#include "xml/log_capture.h"

namespace {

void parse(const char* text, int* xy = nullptr) { xFcgiGetParsedInput(text, xy); }

std::string str(const char* name) {
    const char* v = xFcgiGetInpStr(name);
    return v ? v : "(absent)";
}

// A request as the web server hands it over.
std::string request(const char* query, const char* length, const std::string& body) {
    if (query)
        setenv("QUERY_STRING", query, 1);
    else
        unsetenv("QUERY_STRING");
    if (length)
        setenv("CONTENT_LENGTH", length, 1);
    else
        unsetenv("CONTENT_LENGTH");
    fcgistub::reset(body);
    bInputAvail = 1;
    return xFcgiGetInput();
}

}  // namespace

TEST(ParseInput, ValuesAreDecodedNamesAreNot) {
    parse("a=1&b=x+y%21&c%41+=%7e");
    EXPECT_EQ(str("a"), "1");
    EXPECT_EQ(str("b"), "x y!");
    EXPECT_EQ(str("c%41+"), "~");
    EXPECT_EQ(xFcgiInputCount(), 3);
    parse("A-B=1&odd&name=2");
    EXPECT_EQ(str("a_b"), "1");
    EXPECT_EQ(str("A-b"), "1");
    EXPECT_EQ(str("odd&name"), "2");  // "&" inside a name is part of it
}

TEST(ParseInput, EmptyValuesAndTrailingNames) {
    parse("a=&b=2&c");
    EXPECT_EQ(str("a"), "");
    EXPECT_EQ(str("b"), "2");
    EXPECT_EQ(str("c"), "(absent)");
    EXPECT_EQ(xFcgiInputCount(), 2);
    parse("z=");
    EXPECT_EQ(str("z"), "");
    parse("q=1&");
    EXPECT_EQ(xFcgiInputCount(), 1);
}

TEST(ParseInput, LineFeedsAndLineCounts) {
    parse("v=line1%0D%0Aline2&w=a%0Ab%0Ac");
    EXPECT_EQ(str("v"), "line1\nline2");
    EXPECT_EQ(xFcgiInputLines(xFcgiFindDataTable("v", 0)), 2);
    EXPECT_EQ(xFcgiInputLines(xFcgiFindDataTable("w", 0)), 3);
}

TEST(ParseInput, PercentWithoutTwoHexDigits) {
    parse("a=50%zz&b=%4g&c=1");
    EXPECT_EQ(str("a"), "50%zz");
    EXPECT_EQ(str("b"), "%4g");
    EXPECT_EQ(str("c"), "1");
    parse("a=x%4");  // an escape cut off by the end ends the text
    EXPECT_EQ(str("a"), "x");
    parse("a=x%");
    EXPECT_EQ(str("a"), "x%");
    parse("a=%41");
    EXPECT_EQ(str("a"), "A");
}

TEST(ParseInput, ImageMapCoordinates) {
    int xy[2] = {0, 0};
    parse("map=go?12,34&n=1", xy);
    EXPECT_EQ(str("map"), "go");
    EXPECT_EQ(xy[0], 12);
    EXPECT_EQ(xy[1], 34);
    EXPECT_EQ(str("&n"), "1");  // names are taken literally, "&" included
    parse("map=go?7junk,&n=2", xy);
    EXPECT_EQ(xy[0], 7);
    EXPECT_EQ(xy[1], -1);
    EXPECT_EQ(str("&n"), "2");
    parse("map=go?5", xy);
    EXPECT_EQ(xy[0], 5);
    EXPECT_EQ(xy[1], -1);
    parse("a=b?c", xy);
    EXPECT_EQ(str("a"), "b?c");
    EXPECT_EQ(xy[0], -1);
}

TEST(ParseInput, LongNamesAreCutAndManyEntriesFit) {
    std::string longName(600, 'n');
    parse((longName + "=v").c_str());
    EXPECT_EQ(str(std::string(249, 'n').c_str()), "v");
    std::string many;
    for (int i = 0; i < 1000; ++i) many += "f_" + std::to_string(i) + "=" + std::to_string(i) + "&";
    LogCapture log("capture.log", "t");
    parse(many.c_str());
    EXPECT_EQ(xFcgiInputCount(), 1000);
    EXPECT_EQ(xFcgiGetInt("f", 999), 999);
    EXPECT_TRUE(log.contains("Input variable table grown to 283 entries"));
    std::string endless;
    for (int i = 0; i < 70000; ++i) endless += "=&";
    parse(endless.c_str());
    EXPECT_EQ(static_cast<size_t>(xFcgiInputCount()), xFcgiMaxInputEntries);
    EXPECT_TRUE(log.contains("Input variable table is full"));
}

TEST(Lookup, SubscriptsAndNotFoundTexts) {
    parse("f=0&g_1=one&f_2=two&h_3_4=x");
    EXPECT_STREQ(xFcgiGetStr("f", 2), "two");
    EXPECT_STREQ(xFcgiGetStr("f", 1), "0");  // element 1 may be the bare name
    EXPECT_STREQ(xFcgiGetStr("g", 1), "one");
    EXPECT_STREQ(xFcgiGetStr("f", 3), "f[3] not found!");
    EXPECT_STREQ(xFcgiGetStr("k", 0), "k not found!");
    const int subs[] = {3, 4};
    EXPECT_STREQ(xFcgiGetStrX("h", 2, subs), "x");
    EXPECT_STREQ(xFcgiGetStrX("h", 1, subs), "h not found!");
    EXPECT_EQ(xFcgiFindData("f", 0, nullptr), xFcgiFindDataTable("f", 0));
    std::string longKey(5000, 'k');
    EXPECT_EQ(xFcgiFindDataTable(longKey.c_str(), 77), -1);
    EXPECT_EQ(std::string(xFcgiGetStr(longKey.c_str(), 77)), longKey + "[77] not found!");
}

TEST(Lookup, TypedGetters) {
    parse("i= 42x&n=abc&h=1f&hh=ff&d=abc-1.5e1&big=99999999999&e=");
    EXPECT_EQ(xFcgiGetInt("i", 0), 42);
    EXPECT_EQ(xFcgiGetInt("n", 0), 0);
    EXPECT_EQ(xFcgiGetIntX("n", 0, nullptr), -1);
    EXPECT_EQ(xFcgiGetIntX("e", 0, nullptr), -1);
    EXPECT_EQ(xFcgiGetIntX("absent", 0, nullptr), 0);
    EXPECT_EQ(xFcgiGetHex("h", 0), 0x1fu);
    EXPECT_EQ(xFcgiGetHex("hh", 0), 0u);  // no decimal digit at all
    EXPECT_DOUBLE_EQ(xFcgiGetDbl("d", 0), -15.0);
    EXPECT_DOUBLE_EQ(xFcgiGetDbl("n", 0), 0.0);
    EXPECT_EQ(xFcgiGetInt("big", 0), 2147483647);
}

TEST(Lookup, ChangingInput) {
    parse("cda.text=long value");
    EXPECT_EQ(xFcgiChgInpStr("cda.text", "short"), nullptr);  // in its place
    EXPECT_EQ(str("cda.text"), "short");
    // The place keeps the old value's length.
    EXPECT_EQ(xFcgiChgInpStr("cda.text", "longer"), nullptr);
    EXPECT_EQ(str("cda.text"), "longer");
    const char* v = "a value much longer than before";
    EXPECT_EQ(xFcgiChgInpStr("CDA.TEXT", v), v);
    EXPECT_EQ(str("cda.text"), v);
    const char* n = "n";
    EXPECT_EQ(xFcgiChgInpStr("new", n), n);
    EXPECT_EQ(str("new"), "n");
    EXPECT_EQ(xFcgiInputCount(), 2);
}

TEST(GetInput, QueryAndBody) {
    EXPECT_EQ(request("x=1", "3", "y=2"), "x=1&y=2");
    EXPECT_EQ(request(nullptr, "3", "y=2"), "y=2");
    EXPECT_EQ(request("", "3", "y=2"), "y=2");
    EXPECT_EQ(request("&x=1", nullptr, ""), "x=1");
    EXPECT_EQ(request("\x01x=1", "0", ""), "");  // not a printable start
    EXPECT_EQ(fcgistub::reads, 0);
}

TEST(GetInput, ReadsInChunksNeverBeyondTheLength) {
    std::string body(10000, 'b');
    body.replace(0, 2, "k=");
    std::string got = request(nullptr, "9000", body + "EXTRA");
    EXPECT_EQ(got.size(), 9000u);
    EXPECT_EQ(fcgistub::bodyPos, 9000u);
    EXPECT_LE(fcgistub::largestAsk, 4096u);
    EXPECT_EQ(fcgistub::reads, 3);
}

TEST(GetInput, ZeroByteCutsItsChunk) {
    std::string body("a=1\0zz&b=2", 10);
    EXPECT_EQ(request(nullptr, "10", body), "a=1");
}

TEST(GetInput, BadContentLengthsAreRefused) {
    LogCapture log;
    EXPECT_EQ(request("q=1", "-5", "y=2"), "q=1");
    EXPECT_EQ(request("q=1", "12abc", "y=2"), "q=1");
    EXPECT_EQ(request("q=1", "999999999999999999999999", "y=2"), "q=1");
    EXPECT_EQ(request("q=1", "9000000", "y=2"), "q=1");
    EXPECT_FALSE(xFcgiInputWhole());
    EXPECT_EQ(fcgistub::reads, 0);
    EXPECT_TRUE(log.contains("Refused CONTENT_LENGTH '-5'"));
    EXPECT_TRUE(log.contains("Refused CONTENT_LENGTH '12abc'"));
    EXPECT_TRUE(log.contains("Refused CONTENT_LENGTH 9000000"));
    EXPECT_EQ(request("q=1", " 3 ", "y=2"), "q=1&y=2");
    EXPECT_TRUE(xFcgiInputWhole());
    request("q=1", "12abc", "y=2");
    EXPECT_FALSE(xFcgiInputWhole());
    request("q=1", nullptr, "");
    EXPECT_TRUE(xFcgiInputWhole());
}

TEST(GetInput, ShortBodyIsLoggedNotSent) {
    LogCapture log;
    std::string got = request("q=1", "100", "y=2");
    EXPECT_EQ(got, "q=1&y=2");
    EXPECT_TRUE(fcgistub::output.empty());
    EXPECT_TRUE(log.contains("Fread failed! Errno 0; read 3 of 100 bytes"));
    EXPECT_FALSE(xFcgiInputWhole()) << "a form cut short is not acted on";

    fcgistub::reset("y=2");
    setenv("CONTENT_LENGTH", "50", 1);
    fcgistub::errnoAtEnd = EIO;
    bInputAvail = 1;
    EXPECT_STREQ(xFcgiGetInput(), "q=1&y=2");
    EXPECT_TRUE(log.contains("FastCGI Read problem; errno 5"));
    EXPECT_TRUE(fcgistub::output.empty());

    // The "&" behind the query string stands before the first read.
    EXPECT_EQ(request("q=1", "5", ""), "q=1&");
}

TEST(GetInput, BrokenPipeEndsTheProcess) {
    EXPECT_EXIT(
        {
            setenv("CONTENT_LENGTH", "10", 1);
            fcgistub::reset("");
            fcgistub::errnoAtEnd = EPIPE;
            bInputAvail = 1;
            xFcgiGetInput();
        },
        ::testing::ExitedWithCode(255), "");
}

TEST(GetInput, OncePerRequest) {
    LogCapture log;
    request("a=1", nullptr, "");
    EXPECT_STREQ(xFcgiGetInput(), "a=1");
    EXPECT_TRUE(log.contains("Logic ERROR: xFcgiGetInput call after input was read"));
    bInputAvail = 1;
    setenv("QUERY_STRING", "b=2", 1);
    EXPECT_STREQ(xFcgiGetParsedInput(nullptr), "b=2");
    EXPECT_EQ(str("b"), "2");
}

TEST(Cookies, WholeNamesOnly) {
    std::string v;
    setenv("HTTP_COOKIE", "A=1; B=x%20y", 1);
    EXPECT_EQ(xFcgiGetCookie("b", v), 1);
    EXPECT_EQ(v, "x y");
    setenv("HTTP_COOKIE", "XPIDPOOL_ID=5; PIDPOOL_ID=7", 1);
    EXPECT_EQ(xFcgiGetCookie("PIDPOOL_ID", v), 1);
    EXPECT_EQ(v, "7");
    setenv("HTTP_COOKIE", "XPIDPOOL_ID=5;PIDPOOL_IDX=6", 1);
    EXPECT_EQ(xFcgiGetCookie("PIDPOOL_ID", v), 0);
    EXPECT_EQ(v, "");
    setenv("HTTP_COOKIE", "p=1;\tQ=a+b%0D%0Ac%zz%4;r=", 1);
    EXPECT_EQ(xFcgiGetCookie("q", v), 1);
    EXPECT_EQ(v, "a b\nc%zz%4");
    EXPECT_EQ(xFcgiGetCookie("r", v), 1);
    EXPECT_EQ(v, "");
    std::string big(100000, 'z');
    setenv("HTTP_COOKIE", ("LAST_QORIC_FORM=" + big).c_str(), 1);
    EXPECT_EQ(xFcgiGetCookie("LAST_QORIC_FORM", v), 1);
    EXPECT_EQ(v.size(), big.size());
}

TEST(Cookies, NoCookieHeader) {
    LogCapture log("capture.log", "t");
    unsetenv("HTTP_COOKIE");
    std::string v = "old";
    EXPECT_EQ(xFcgiGetCookie("PIDPOOL_ID", v), 0);
    EXPECT_EQ(v, "");
    EXPECT_TRUE(log.contains("No Cookies present; So no PIDPOOL_ID value"));
}

TEST(DezUrEnv, SetVariablesInListOrderEscaped) {
    const char* all[] = {"AUTH_TYPE", "CONTENT_LENGTH", "CONTENT_TYPE", "DOCUMENT_ROOT",
                         "GATEWAY_INTERFACE", "HTTP_COOKIE", "HTTP_HOST", "HTTP_MIME_VERSION",
                         "HTTP_USER_AGENT", "PATH_INFO", "QUERY_STRING", "REMOTE_ADDR",
                         "REMOTE_HOST", "REQUEST_METHOD", "REQUEST_URI", "SCRIPT_FILENAME",
                         "SCRIPT_NAME", "SERVER_ADMIN", "SERVER_PORT", "SERVER_PROTOCOL",
                         "SERVER_SOFTWARE"};
    for (const char* v : all) unsetenv(v);
    EXPECT_STREQ(xFcgiGetDezUREnv(), "");
    setenv("SERVER_PORT", "80", 1);
    setenv("QUERY_STRING", "a=1&b=2+3%?", 1);
    setenv("AUTH_TYPE", "", 1);
    EXPECT_STREQ(xFcgiGetDezUREnv(), "AUTH_TYPE=&QUERY_STRING=a%3D1%26b%3D2%2B3%25%3F&SERVER_PORT=80");
}
