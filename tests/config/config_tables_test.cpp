// The locap, transaction and application-group tables and the Setenv
// entries.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "config_test_util.h"
#include "xfcgiout.h"

using cfgtest::ReadText;

namespace {

bool EnvTableHas(const std::string &text) {
    for (int i = 0; i < xFcgiMaxEnvVars; ++i) {
        const char *e = xFcgiGetEnvVars(i);
        if (e && text == e) return true;
    }
    return false;
}

TEST(ConfigLocaps, FirstValidLocapIsTheDefaultAndInvalidOnesAreLogged) {
    cfgtest::LogCapture log;
    CZelConfigParser m;
    ReadText(m, "<Locap name=\"bad\" address=\"h\"/>"
                "<Locap name=\"one\" address=\"10.0.0.1\" port=\"7000\"/>"
                "<Locap name=\"two\" address=\"10.0.0.2\" port=\"7001\"/>"
                "<Transaction name=\"t\" id=\"p\"/>");
    const CZelLocapTable &locaps = m.GetLocapTable();
    EXPECT_EQ(locaps.Size(), 2u);
    ASSERT_NE(locaps.Find("ONE"), nullptr);
    EXPECT_EQ(locaps.Find("ONE")->m_strAddress, "10.0.0.1");
    EXPECT_EQ(locaps.Find("ONE")->m_nPort, 7000);
    EXPECT_EQ(locaps.Find("one"), nullptr);   // stored upper-cased, found exactly
    EXPECT_EQ(m.GetDefaultLocap(), "ONE");
    EXPECT_EQ(m.GetTransactionTable().GetDefaultLocap(), "ONE");
    EXPECT_TRUE(log.contains("Config: invalid LOCAP info for BAD\n"));
}

TEST(ConfigLocaps, DefaultWithPortZeroIsDroppedButStaysTheDefault) {
    CZelConfigParser m;
    ReadText(m, "<Locap name=\"a\" address=\"h\" port=\"7\"/>"
                "<Locap name=\"dflt\" address=\"h\" port=\"0\" default=\"Yes\"/>");
    EXPECT_EQ(m.GetLocapTable().Find("DFLT"), nullptr);
    EXPECT_EQ(m.GetDefaultLocap(), "DFLT");
    EXPECT_EQ(m.GetTransactionTable().GetDefaultLocap(), "DFLT");
    // A later DEFAULT wins; a locap of the same name replaces the first.
    ReadText(m, "<Locap name=\"a\" address=\"h1\" port=\"7\"/>"
                "<Locap name=\"b\" address=\"h\" port=\"8\" default=\"true\"/>"
                "<Locap name=\"A\" address=\"h2\" port=\"9\"/>");
    EXPECT_EQ(m.GetDefaultLocap(), "B");
    EXPECT_EQ(m.GetLocapTable().Find("A")->m_strAddress, "h2");
    EXPECT_EQ(m.GetLocapTable().Size(), 2u);
}

TEST(ConfigTransactions, StoredUpperCaseAndUnknownNamesGetTheDefaultEntry) {
    CZelConfigParser m;
    ReadText(m, "<Locap name=\"main\" address=\"h\" port=\"7\"/>"
                "<Transaction name=\"abc\" id=\"prog\" cda=\"a+b\" stylesheet=\"s.css\""
                " addhtx=\"x.htx\" log=\"hT\"/>"
                "<Transaction name=\"own\" id=\"p2\" locap=\"other\"/>"
                "<Transaction id=\"nameless\"/>");
    CZelTransactionTable &t = m.GetTransactionTable();
    EXPECT_EQ(t.Size(), 2u);
    ASSERT_EQ(t.Lookup("abc"), nullptr);
    CZelTransactionInfo *abc = t.Find("ABC");
    ASSERT_NE(abc, t.Find("abc"));   // "abc" is unknown: the default entry
    abc = t.Find("ABC");
    EXPECT_EQ(abc->m_strId, "PROG");
    EXPECT_EQ(abc->m_strCda, "a+b");
    EXPECT_EQ(abc->m_strStyleSheet, "s.css");
    EXPECT_EQ(abc->m_strAddHtx, "x.htx");
    EXPECT_EQ(abc->m_strLog, "hT");
    EXPECT_EQ(abc->m_strLocap, "MAIN");           // given the default and kept
    EXPECT_EQ(t.Lookup("ABC")->m_strLocap, "MAIN");
    EXPECT_EQ(t.Find("OWN")->m_strLocap, "OTHER");

    CZelTransactionInfo *unknown = t.Find("NOPE");
    EXPECT_EQ(unknown->m_strId, "NOPE");
    EXPECT_EQ(unknown->m_strLocap, "MAIN");
    EXPECT_EQ(unknown->m_strCda, "");
    EXPECT_EQ(t.Find("OTHER")->m_strId, "OTHER");
}

TEST(ConfigAppGroups, FoundExactlyOrThroughTheUpperCaseUrl) {
    CZelConfigParser m;
    ReadText(m, "<AppGroup URL=\"/SHOP/\" name=\"shop\" store=\"/s\" log=\"L\" html=\"i.htx\""
                " trid=\"T1\" cda=\"c\" sid=\"MYSID\" dezur=\"yes\" pidpool=\"True\"/>"
                "<AppGroup uri=\"/Mixed/\" transaction=\"T2\"/>"
                "<AppGroup name=\"nourl\"/>");
    const CZelAppGroupTable &g = m.GetAppGroupTable();
    EXPECT_EQ(g.Size(), 2u);
    const CZelAppGroupInfo *shop = g.Find("/shop/");
    ASSERT_NE(shop, nullptr);
    EXPECT_EQ(shop, g.Find("/SHOP/"));
    EXPECT_EQ(shop->m_strUrl, "/SHOP/");
    EXPECT_EQ(shop->m_strName, "SHOP");
    EXPECT_EQ(shop->m_strStore, "/s");
    EXPECT_EQ(shop->m_strLog, "L");
    EXPECT_EQ(shop->m_strHtml, "i.htx");
    EXPECT_EQ(shop->m_strTransaction, "T1");
    EXPECT_EQ(shop->m_strCda, "c");
    EXPECT_EQ(shop->m_strSidName, "MYSID");
    EXPECT_TRUE(shop->m_bDezUr);
    EXPECT_TRUE(shop->m_bPidPool);

    const CZelAppGroupInfo *mixed = g.Find("/Mixed/");
    ASSERT_NE(mixed, nullptr);
    EXPECT_EQ(mixed->m_strTransaction, "T2");
    EXPECT_EQ(mixed->m_strSidName, "SID");
    EXPECT_FALSE(mixed->m_bDezUr);
    EXPECT_FALSE(mixed->m_bPidPool);
    EXPECT_EQ(g.Find("/mixed/"), nullptr);
    EXPECT_EQ(g.Find("/MIXED/"), nullptr);
}

TEST(ConfigSetenv, EntriesGoToTheEnvironmentTableAndTheModel) {
    cfgtest::LogCapture log;
    CZelConfigParser m;
    const std::string longValue(200, 'v');
    ReadText(m, "<Setenv name=\"lang\" value=\"C\"/>"
                "<Setenv name=\"blank\" value=\" C\"/>"
                "<Setenv name=\" lead\" value=\"x\"/>"
                "<Setenv name=\"empty\" value=\"\"/>"
                "<Setenv name=\"ctl\" value=\"\x01x\"/>"
                "<Setenv name=\"hi\" value=\"\xC3\xA9t\xC3\xA9\"/>"
                "<Setenv name=\"long\" value=\"" + longValue + "\"/>"
                "<Setenv name=\"QOR_MODE\" value=\"a b=c\"/>");
    EXPECT_TRUE(EnvTableHas("LANG=C"));
    EXPECT_TRUE(EnvTableHas("QOR_MODE=a b=c"));
    EXPECT_FALSE(EnvTableHas("BLANK= C"));
    ASSERT_EQ(m.GetSetenvList().size(), 2u);
    EXPECT_EQ(m.GetSetenvList()[0], std::make_pair(std::string("LANG"), std::string("C")));
    EXPECT_EQ(m.GetSetenvList()[1].first, "QOR_MODE");
    EXPECT_TRUE(log.contains("Setenv LONG is too long; ignored"));
    // Each read lists only its own entries.
    ReadText(m, "<ZelConf/>");
    EXPECT_TRUE(m.GetSetenvList().empty());
}

}  // namespace
