// The output-variable table: puts and their marks, lookups with row
// subscripts, constants across requests, screen binding, temporaries.
#include "xfcgiout.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string valueOf(const char *name)
{
    int idx = searchOutTab(name, -1);
    return idx < 0 ? std::string("<missing>") : std::string(xFcgiVarValue(idx));
}

XVarMark markOf(const char *name)
{
    return xFcgiVarMark(searchOutTab(name, -1));
}

// Constants are registered at start-up, before the first ordinary put.
class Constants : public ::testing::Environment {
public:
    void SetUp() override
    {
        xFcgiConsInt("err.sessionlimit", -4003);
        xFcgiConsStr("err.text", "fixed");
    }
};
::testing::Environment *const constants =
    ::testing::AddGlobalTestEnvironment(new Constants);

// Every test starts a request of its own.
class OutVarsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        xFcgiUnbindScreen();
        xFcgiSetSubscripts(0, nullptr);
        xFcgiPutClear();
    }
    void TearDown() override
    {
        xFcgiUnbindScreen();
        xFcgiSetSubscripts(0, nullptr);
    }
};

TEST_F(OutVarsTest, PutsStoreTextWithTheirMark)
{
    xFcgiPutStr("pib.user", "<b>joe</b>");
    xFcgiPutRaw("page.html", "<b>bold</b>");
    xFcgiPutInt("num", -42);
    xFcgiPutHex("hex", 0xBEEFu);
    xFcgiPutChr("chr", 'Q');
    xFcgiPutFld("fld", "ABCDEFGH", 3);
    xFcgiPutDbl("dbl6", 2.5, 10, 1);
    xFcgiPutDbl("dbl0", 2.6, 4, 0);

    EXPECT_EQ(valueOf("pib.user"), "<b>joe</b>");
    EXPECT_EQ(markOf("pib.user"), XVarMark::Data);
    EXPECT_EQ(markOf("page.html"), XVarMark::Raw);
    EXPECT_EQ(valueOf("num"), "-42");
    EXPECT_EQ(valueOf("hex"), "BEEF");
    EXPECT_EQ(valueOf("chr"), "Q");
    EXPECT_EQ(valueOf("fld"), "ABC");
    EXPECT_EQ(valueOf("dbl6"), "  2.500000");
    EXPECT_EQ(valueOf("dbl0"), "   3");

    EXPECT_EQ(xFcgiChgFld(nullptr, "v", -1), 0);
    EXPECT_EQ(xFcgiChgFld("n", nullptr, -1), 0);
    // A put changes the mark with the value.
    xFcgiChgFld("pib.user", "plain", -1, XVarMark::Raw);
    EXPECT_EQ(markOf("pib.user"), XVarMark::Raw);
}

TEST_F(OutVarsTest, NamesIgnoreCaseAndDashEqualsUnderscore)
{
    xFcgiPutStr("pib_user", "joe");
    int a = searchOutTab("PIB-USER", -1);
    ASSERT_GE(a, 0);
    EXPECT_EQ(a, searchOutTab("pib_user", -1));
    EXPECT_EQ(searchOutTab("pib_users", -1), -1);
    EXPECT_EQ(searchOutTab("pib_userXYZ", 8), a);   // length-limited names
    xFcgiPutStr("PIB-USER", "ann");
    EXPECT_EQ(valueOf("pib_user"), "ann");
    EXPECT_EQ(xFcgiVarName(a), "pib_user");

    // Names alike at their ends and in length differ in the middle.
    xFcgiPutStr("row_a_01", "A");
    xFcgiPutStr("row_b_01", "B");
    xFcgiPutStr("ROW-C-01", "C");
    EXPECT_EQ(valueOf("row_b_01"), "B");
    EXPECT_EQ(valueOf("Row-A-01"), "A");
    EXPECT_EQ(valueOf("row_c_01"), "C");
    EXPECT_EQ(valueOf("row_d_01"), "<missing>");
    // Only ASCII letters fold: other bytes match only themselves, and '-'
    // equals '_' but nothing else.
    xFcgiPutStr("caf\xc3\xa9", "x");
    EXPECT_EQ(valueOf("CAF\xc3\xa9"), "x");
    EXPECT_EQ(valueOf("caf\xc3\x89"), "<missing>");
    EXPECT_EQ(valueOf("pib.user"), "<missing>");
    EXPECT_EQ(valueOf("pib user"), "<missing>");
    // A new request forgets every name but the constants.
    xFcgiPutClear();
    EXPECT_EQ(valueOf("row_b_01"), "<missing>");
    EXPECT_EQ(valueOf("pib-user"), "<missing>");
    EXPECT_EQ(valueOf("ERR.TEXT"), "fixed");
    xFcgiPutStr("row_b_01", "again");
    EXPECT_EQ(valueOf("row_b_01"), "again");
}

TEST_F(OutVarsTest, ManyNamesAreFoundWhereverTheSearchStarts)
{
    for (int i = 0; i < 600; ++i)
        xFcgiPutInt(("v" + std::to_string(i) + "_x").c_str(), i);
    for (int i = 599; i >= 0; i -= 7)
        EXPECT_EQ(valueOf(("V" + std::to_string(i) + "-X").c_str()), std::to_string(i));
    for (int i = 0; i < 600; i += 13)
        EXPECT_EQ(valueOf(("v" + std::to_string(i) + "_x").c_str()), std::to_string(i));
    EXPECT_EQ(valueOf("v600_x"), "<missing>");
    EXPECT_EQ(xFcgiLastNotFound(), "v600_x");
}

TEST_F(OutVarsTest, ShorterValueReusesItsSpaceLongerIsAppended)
{
    xFcgiPutStr("v", "123456");
    size_t mark = xFcgiDataMark();
    xFcgiPutStr("v", "abc");
    EXPECT_EQ(xFcgiDataMark(), mark);
    EXPECT_EQ(valueOf("v"), "abc");
    xFcgiPutStr("v", "abcdef");   // longer than the current value
    EXPECT_EQ(xFcgiDataMark(), mark + 7);
    EXPECT_EQ(valueOf("v"), "abcdef");
    xFcgiPutClear();
    EXPECT_EQ(searchOutTab("v", -1), -1);
}

TEST_F(OutVarsTest, ConstantsSurviveRequestsAndKeepTheirValue)
{
    EXPECT_EQ(valueOf("err.sessionlimit"), "-4003");
    EXPECT_EQ(markOf("err.text"), XVarMark::Raw);
    int base = xFcgiConstCount();

    for (int request = 0; request < 3; ++request) {
        xFcgiPutClear();
        EXPECT_EQ(valueOf("err.sessionlimit"), "-4003");
        xFcgiPutStr("err.text", "x");            // fits: still not in place
        xFcgiPutStr("err.sessionlimit", "a much longer value than before");
        EXPECT_EQ(valueOf("err.text"), "x");
        EXPECT_EQ(markOf("err.text"), XVarMark::Data);
        xFcgiPutStr("ordinary", "o");
    }
    xFcgiPutClear();
    EXPECT_EQ(valueOf("err.text"), "fixed");
    EXPECT_EQ(markOf("err.text"), XVarMark::Raw);
    EXPECT_EQ(valueOf("err.sessionlimit"), "-4003");
    EXPECT_EQ(valueOf("ordinary"), "<missing>");
    EXPECT_EQ(xFcgiVarCount(), base);

    // After the first ordinary put, a constant is an ordinary variable.
    xFcgiConsInt("err.late", 1);
    EXPECT_EQ(xFcgiConstCount(), base);
    xFcgiPutClear();
    EXPECT_EQ(valueOf("err.late"), "<missing>");
}

TEST_F(OutVarsTest, RowSubscriptsFindTheMostSpecificNameFirst)
{
    xFcgiPutStr("x", "plain");
    xFcgiPutStr("x_3", "row3");
    xFcgiPutStr("x_3_2", "row3.2");
    ASSERT_TRUE(xFcgiPushSubscript(3));
    ASSERT_TRUE(xFcgiPushSubscript(2));
    EXPECT_EQ(valueOf("x"), "row3.2");
    xFcgiPutStr("y", "new");                 // a new name gets the subscripts
    EXPECT_EQ(xFcgiVarName(searchOutTab("y", -1)), "y_3_2");
    EXPECT_EQ(searchOutTab("q", -1), -1);
    EXPECT_EQ(xFcgiLastNotFound(), "q_3_2");
    xFcgiPopSubscript();
    EXPECT_EQ(valueOf("x"), "row3");
    EXPECT_EQ(valueOf("y"), "<missing>");
    xFcgiPopSubscript();
    EXPECT_EQ(valueOf("x"), "plain");

    std::vector<int> deep(200, 1);
    xFcgiSetSubscripts(200, deep.data());
    EXPECT_EQ(xFcgiSubscriptDepth(), xFcgiMaxSubscripts);
    EXPECT_FALSE(xFcgiPushSubscript(1));
    xFcgiSetSubscripts(0, nullptr);
    EXPECT_EQ(xFcgiSubscriptDepth(), 0);
}

std::vector<XFcgiBoundField> screenFields()
{
    return {
        {"r", 2, 0, 4, 2},        // 4 occurrences of 2 bytes: AABBCCDD
        {"cust_no", 4, 8, 0, 0},  // "1234"
        {"tail", 6, 12, 0, 0},    // runs past the end of the data
        {"after", 3, 16, 0, 0},   // starts exactly at the end
        {"nul", 4, 14, 0, 0},     // "X\0"
    };
}

TEST_F(OutVarsTest, BoundScreenFieldsGiveTheirCurrentValue)
{
    const char data[] = "AABBCCDD1234XYX\0";   // 16 bytes
    xFcgiBindScreen(screenFields(), data, 16);

    std::string seen;
    for (int i = 0; i < 5; ++i)
        seen += valueOf("R");
    EXPECT_EQ(seen, "AABBCCDDAA");   // occurrences 1, 2, 3, 4, 1
    EXPECT_EQ(xFcgiVarName(searchOutTab("CUST-NO", -1)), "cust_no");
    EXPECT_EQ(xFcgiLastBoundField(), 1);
    EXPECT_FALSE(xFcgiLastBoundBeyond());
    EXPECT_EQ(valueOf("cust-no"), "1234");
    EXPECT_EQ(markOf("cust_no"), XVarMark::Data);
    EXPECT_EQ(valueOf("tail"), "XYX");    // clipped to the data
    EXPECT_EQ(valueOf("nul"), "X");   // up to the first NUL
    EXPECT_EQ(valueOf("after"), " ");
    EXPECT_TRUE(xFcgiLastBoundBeyond());
    EXPECT_EQ(xFcgiLastBoundField(), 3);
    xFcgiPutStr("other", "1");
    EXPECT_EQ(xFcgiLastBoundField(), 3);   // puts don't bind
    valueOf("other");
    EXPECT_EQ(xFcgiLastBoundField(), -1);

    xFcgiUnbindScreen();
    xFcgiPutClear();
    xFcgiBindScreen(screenFields(), data, 16);
    xFcgiPutBoundFields();
    xFcgiUnbindScreen();
    EXPECT_EQ(valueOf("cust_no"), "1234");
    EXPECT_EQ(valueOf("after"), " ");
    EXPECT_EQ(valueOf("r"), "<missing>");   // repeated fields wait for lookups
}

TEST_F(OutVarsTest, GrowthKeepsEveryValue)
{
    xFcgiTableMoved();
    std::string big(5000, 'z');
    for (int i = 0; i < 600; ++i) {
        std::string name = "var" + std::to_string(i);
        xFcgiPutStr(name.c_str(), (std::to_string(i) + (i % 50 == 0 ? big : "")).c_str());
    }
    EXPECT_TRUE(xFcgiTableMoved());
    EXPECT_FALSE(xFcgiTableMoved());
    for (int i = 599; i >= 0; i -= 7) {
        std::string name = "VAR" + std::to_string(i);
        EXPECT_EQ(valueOf(name.c_str()), std::to_string(i) + (i % 50 == 0 ? big : ""));
    }
}

TEST_F(OutVarsTest, ValuesTakenFromTheDataAreaItselfSurviveItsGrowth)
{
    xFcgiPutStr("src", "copy me");
    for (int i = 0; i < 200; ++i) {
        int idx = searchOutTab("src", -1);
        std::string_view v = xFcgiVarValue(idx);   // points into the area
        std::string name = "dst" + std::to_string(i);
        xFcgiChgVar(name, v, XVarMark::Data);
        size_t t = xFcgiTempPut(std::string(3000, 't'));
        (void)t;
    }
    EXPECT_EQ(valueOf("dst199"), "copy me");
}

TEST_F(OutVarsTest, TemporariesAreDroppedWithoutCuttingValues)
{
    size_t mark = xFcgiDataMark();
    size_t a = xFcgiTempPut("first");
    size_t b = xFcgiTempPut(std::string(10000, 'b'));   // grows the area
    EXPECT_STREQ(xFcgiDataAt(a), "first");
    EXPECT_EQ(std::string(xFcgiDataAt(b)).size(), 10000u);
    xFcgiDataRewind(mark);
    EXPECT_EQ(xFcgiDataMark(), mark);

    xFcgiTempPut("temp");
    xFcgiPutStr("kept", "value");       // a table write after the temporary
    xFcgiDataRewind(mark);              // may not cut into it
    EXPECT_EQ(valueOf("kept"), "value");
    xFcgiPutStr("next", "n");
    EXPECT_EQ(valueOf("kept"), "value");
    EXPECT_STREQ(xFcgiDataAt(static_cast<size_t>(-1)), "");
}

TEST_F(OutVarsTest, SessionIdAndPutValues)
{
    EXPECT_STREQ(xFcgiSidName(nullptr), "SID");
    xFcgiPutSid("1A2B");
    EXPECT_EQ(valueOf("sid"), "1A2B");
    xFcgiSidName("MySid");
    xFcgiPutSid("77");
    EXPECT_EQ(valueOf("mysid"), "77");
    xFcgiSidName("");
    EXPECT_EQ(xFcgiPutSid("88"), 1);
    EXPECT_EQ(valueOf("mysid"), "77");
    EXPECT_EQ(std::string(xFcgiSidName(std::string(40, 's').c_str())).size(), 31u);
    xFcgiSidName("SID");

    EXPECT_EQ(xFcgiSidUsed(), 0);
    xFcgiMarkSidUsed();
    EXPECT_EQ(xFcgiSidUsed(), 1);
    xFcgiPutClear();
    EXPECT_EQ(xFcgiSidUsed(), 0);

    char scratch[8] = "junk";
    EXPECT_EQ(xFcgiPutValues(scratch, "Icount", 3, "Hcode", 255u, "Dprice", 1.5, 6, 0,
                             "Fname", "abcdef", 2, "plain", "text",
                             static_cast<const char *>(nullptr)), 1);
    EXPECT_EQ(scratch[0], '\0');
    EXPECT_EQ(valueOf("Icount"), "3");
    EXPECT_EQ(valueOf("Hcode"), "FF");
    EXPECT_EQ(valueOf("Dprice"), "     2");
    EXPECT_EQ(valueOf("Fname"), "ab");
    EXPECT_EQ(valueOf("plain"), "text");
    EXPECT_EQ(xFcgiPutValues(scratch, "Izero", 0, "Inever", 1,
                             static_cast<const char *>(nullptr)), 0);
    EXPECT_EQ(valueOf("Inever"), "<missing>");
}

int hookRuns = 0;

TEST_F(OutVarsTest, FreeFldsShrinksToTheConstantsAndRunsTheHook)
{
    xFcgiConsStr("err.free", "c");   // ordinary by now; cleared below
    xFcgiSetFreeHook([] { ++hookRuns; });
    xFcgiPushSubscript(4);
    xFcgiPutStr("gone", "g");
    xFcgiFreeFlds();
    EXPECT_EQ(hookRuns, 1);
    EXPECT_EQ(xFcgiSubscriptDepth(), 0);
    EXPECT_EQ(valueOf("gone_4"), "<missing>");
    EXPECT_EQ(xFcgiVarCount(), xFcgiConstCount());
    xFcgiPutStr("again", "works");
    EXPECT_EQ(valueOf("again"), "works");
    xFcgiSetFreeHook(nullptr);
}

} // namespace
