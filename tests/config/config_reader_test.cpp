// The configuration model's scalar settings: defaults, Reset, every
// element, case and nesting rules, value conversion and corrections.
#include <gtest/gtest.h>

#include <climits>

#include "ZelSessionTableLayout.h"
#include "config_test_util.h"
#include "xfcgiout.h"

using cfgtest::ReadText;

namespace {

TEST(ConfigModel, ConstructorAndResetDefaults) {
    CZelConfigParser m;
    EXPECT_EQ(m.GetLogFile(), "");
    EXPECT_EQ(m.GetLogOptions(), "");
    EXPECT_EQ(m.GetFccModsLevel(), 0);
    EXPECT_EQ(m.GetCacheCleanup(), 30);
    EXPECT_EQ(m.GetInstanceTimeout(), 120);
    EXPECT_EQ(m.GetSystemTimeout(), 240);
    EXPECT_EQ(m.GetMaxSessions(), 1024);
    EXPECT_EQ(m.GetMaxUsage(), 16000);
    EXPECT_EQ(m.GetPidPoolLow(), 0);
    EXPECT_EQ(m.GetPidPoolHigh(), 0);

    xFcgiServerRoot("/elsewhere/");
    m.Reset();
    EXPECT_EQ(m.GetLogFile(), "/usr/local/qoric/logs/qoric.log");
    EXPECT_EQ(m.GetLogOptions(), "h3MPK");
    EXPECT_EQ(m.GetPidPoolLow(), 1);
    EXPECT_EQ(m.GetPidPoolHigh(), 150001);
    EXPECT_TRUE(m.IsTraceAppEnabled());
    EXPECT_TRUE(m.IsTraceDtpEnabled());
    EXPECT_FALSE(m.IsTraceComEnabled());
    EXPECT_FALSE(m.IsTraceXmlEnabled());
    EXPECT_TRUE(m.IsDezUrEnabled());
    EXPECT_STREQ(xFcgiServerRoot(nullptr), "/usr/local/qoric/");
}

TEST(ConfigModel, EveryScalarElementAnyCaseAndNesting) {
    CZelConfigParser m;
    const char *text =
        "<ZelConf>\n"
        "<serverroot value=\"/srv/qoric\"/>\n"
        "<SERVERADMIN VALUE=\"admin@example.org\"/>\n"
        "<LogLevel value=\"debug\"/>\n"
        "<group><RegularStore value=\"/srv/htx\"/>\n"
        "  <deeper><Cache value=\"/srv/cache\"/></deeper></group>\n"
        "<ThisLocap value=\"ICL\"/>\n"
        "<AdditionalHtml value=\"extra.html\"/>\n"
        "<DefaultStylesheet value=\"site.css\"/>\n"
        "<FccModsSupport value=\"LIMITED\"/>\n"
        "<OnPRENPage value=\"end.htx\"/>\n"
        "<OnErrorPage value=\"err.htx\"/>\n"
        "<InstanceCleanup value=\"300\"/>\n"
        "<SystemCleanup value=\"900\"/>\n"
        "<CacheCleanup value=\"45\"/>\n"
        "<x><y><z><maxsessions value=\"50\"/></z></y></x>\n"
        "<MaxUsage value=\"77\"/>\n"
        "<LogFile value=\"/var/log/q.log\" options=\"hT\"/>\n"
        "<EnableComTrace value=\"yes\"/>\n"
        "<EnableXmlTrace/>\n"
        "<EnableAppTrace value=\"False\"/>\n"
        "<EnableDezUr value=\"no\"/>\n"
        "<Unknown value=\"ignored\"/>\n"
        "</ZelConf>\n";
    ASSERT_EQ(ReadText(m, text), Result::Success);
    EXPECT_EQ(m.GetServerRoot(), "/srv/qoric");
    EXPECT_STREQ(xFcgiServerRoot(nullptr), "/srv/qoric/");
    EXPECT_EQ(m.GetServerAdmin(), "admin@example.org");
    EXPECT_EQ(m.GetRegularStore(), "/srv/htx");
    EXPECT_EQ(m.GetCacheStore(), "/srv/cache");
    EXPECT_EQ(m.GetThisLocap(), "ICL");
    EXPECT_EQ(m.GetAdditionalHtx(), "extra.html");
    EXPECT_EQ(m.GetStyleSheetHtml(), "site.css");
    EXPECT_EQ(m.GetFccModsLevel(), 1);
    EXPECT_EQ(m.GetPrenInfoHtx(), "end.htx");
    EXPECT_EQ(m.GetErrorHtx(), "err.htx");
    EXPECT_EQ(m.GetInstanceTimeout(), 300);
    EXPECT_EQ(m.GetSystemTimeout(), 900);
    EXPECT_EQ(m.GetCacheCleanup(), 45);
    EXPECT_EQ(m.GetMaxSessions(), 50);
    EXPECT_EQ(m.GetMaxUsage(), 77);
    EXPECT_EQ(m.GetLogFile(), "/var/log/q.log");
    EXPECT_EQ(m.GetLogOptions(), "hT");
    EXPECT_TRUE(m.IsTraceComEnabled());
    EXPECT_TRUE(m.IsTraceXmlEnabled());   // no VALUE: on
    EXPECT_FALSE(m.IsTraceAppEnabled());
    EXPECT_TRUE(m.IsTraceDtpEnabled());
    EXPECT_FALSE(m.IsDezUrEnabled());
    EXPECT_TRUE(m.HasElement("maxsessions"));
    EXPECT_TRUE(m.HasElement("LOGFILE"));
    EXPECT_FALSE(m.HasElement("PidPool"));
    EXPECT_FALSE(m.HasElement("Unknown"));
}

TEST(ConfigModel, TraceSwitchesAndDezUrValues) {
    CZelConfigParser m;
    ReadText(m, "<a><EnableDtpTrace value=\"FALSE\"/></a>");
    EXPECT_FALSE(m.IsTraceDtpEnabled());
    ReadText(m, "<a><EnableDtpTrace value=\"no\"/></a>");
    EXPECT_TRUE(m.IsTraceDtpEnabled());
    for (const char *off : {"F", "false", "N", "nope"}) {
        ReadText(m, std::string("<EnableDezUr value=\"") + off + "\"/>");
        EXPECT_FALSE(m.IsDezUrEnabled()) << off;
    }
    for (const char *on : {"", "yes", "1", "T"}) {
        ReadText(m, std::string("<EnableDezUr value=\"") + on + "\"/>");
        EXPECT_TRUE(m.IsDezUrEnabled()) << on;
    }
}

TEST(ConfigModel, FccModsLevels) {
    CZelConfigParser m;
    ReadText(m, "<FccModsSupport value=\"Full\"/>");
    EXPECT_EQ(m.GetFccModsLevel(), 2);
    ReadText(m, "<FccModsSupport value=\"limited\"/>");
    EXPECT_EQ(m.GetFccModsLevel(), 1);
    ReadText(m, "<FccModsSupport value=\"fullest\"/>");
    EXPECT_EQ(m.GetFccModsLevel(), 0);
    ReadText(m, "<FccModsSupport/>");
    EXPECT_EQ(m.GetFccModsLevel(), 0);
}

TEST(ConfigModel, PidPoolAttributesActInOrder) {
    CZelConfigParser m;
    ReadText(m, "<PidPool low=\"1000\"/>");
    EXPECT_EQ(m.GetPidPoolLow(), 1000);
    EXPECT_EQ(m.GetPidPoolHigh(), 151000);
    ReadText(m, "<PidPool HIGH=\"5000\" LOW=\"10\"/>");
    EXPECT_EQ(m.GetPidPoolLow(), 10);
    EXPECT_EQ(m.GetPidPoolHigh(), 150010);
    ReadText(m, "<PidPool low=\"1\" high=\"9\"/>");
    EXPECT_EQ(m.GetPidPoolLow(), 1);
    EXPECT_EQ(m.GetPidPoolHigh(), 9);
    // No overflow near the top of the range.
    ReadText(m, "<PidPool low=\"2147483000\"/>");
    EXPECT_EQ(m.GetPidPoolLow(), 2147483000);
    EXPECT_EQ(m.GetPidPoolHigh(), INT32_MAX);
}

TEST(ConfigModel, NumbersConvertAsAtoiWithinRange) {
    CZelConfigParser m;
    ReadText(m, "<SystemCleanup value=\"12abc\"/><CacheCleanup value=\"abc\"/>"
                "<MaxUsage value=\"99999999999999\"/>");
    EXPECT_EQ(m.GetSystemTimeout(), 12);
    EXPECT_EQ(m.GetCacheCleanup(), 0);
    EXPECT_EQ(m.GetMaxUsage(), INT32_MAX);
    ReadText(m, "<SystemCleanup/>");
    EXPECT_EQ(m.GetSystemTimeout(), 0);   // no VALUE: 0
}

TEST(ConfigModel, SessionLimitsAreCorrectedWithALogLine) {
    cfgtest::LogCapture log;
    CZelConfigParser m;
    ReadText(m, "<MaxSessions/><InstanceCleanup value=\"0\"/>");
    EXPECT_EQ(m.GetMaxSessions(), 1024);
    EXPECT_EQ(m.GetInstanceTimeout(), 120);
    ReadText(m, "<MaxSessions value=\"-5\"/><InstanceCleanup value=\"-1\"/>");
    EXPECT_EQ(m.GetMaxSessions(), 1024);
    EXPECT_EQ(m.GetInstanceTimeout(), 120);
    ReadText(m, "<MaxSessions value=\"2000000000\"/>");
    EXPECT_EQ(m.GetMaxSessions(), static_cast<int32_t>(sesstbl::kMaxRecords));
    EXPECT_TRUE(log.contains("MaxSessions -5 is below 1; 1024 is used"));
    EXPECT_TRUE(log.contains("InstanceCleanup 0 is below 1; 120 is used"));
    EXPECT_TRUE(log.contains("MaxSessions 2000000000 is too large"));
}

TEST(ConfigModel, MissingValueEmptiesStringsAndEmptyRootKeepsToolkitRoot) {
    CZelConfigParser m;
    ReadText(m, "<ServerAdmin value=\"a\"/><ServerRoot value=\"/x\"/>");
    ReadText(m, "<ServerAdmin/><ServerRoot value=\"\"/>");
    EXPECT_EQ(m.GetServerAdmin(), "");
    EXPECT_EQ(m.GetServerRoot(), "");
    EXPECT_STREQ(xFcgiServerRoot(nullptr), "/usr/local/qoric/");
}

TEST(ConfigModel, GetValueTakesTheFirstValueAttributeWithAValue) {
    CZelConfigParser m;
    ReadText(m, "<ServerAdmin Value=\"first\" VALUE=\"second\"/>");
    EXPECT_EQ(m.GetServerAdmin(), "first");
    // A repeated element overwrites the earlier value.
    ReadText(m, "<Cache value=\"one\"/><CACHE value=\"two\"/>");
    EXPECT_EQ(m.GetCacheStore(), "two");
}

TEST(ConfigModel, ResetKeepsStringsMaxUsageAndGroupsButNotLocaps) {
    CZelConfigParser m;
    ReadText(m, "<ServerAdmin value=\"kept\"/><MaxUsage value=\"5\"/>"
                "<AppGroup url=\"/g\"/><Locap name=\"a\" address=\"h\" port=\"1\"/>"
                "<Transaction name=\"t\" id=\"p\"/><MaxSessions value=\"9\"/>");
    ReadText(m, "<ZelConf/>");
    EXPECT_EQ(m.GetServerAdmin(), "kept");
    EXPECT_EQ(m.GetMaxUsage(), 5);
    EXPECT_NE(m.GetAppGroupTable().Find("/g"), nullptr);
    EXPECT_TRUE(m.GetLocapTable().IsEmpty());
    EXPECT_TRUE(m.GetTransactionTable().IsEmpty());
    EXPECT_EQ(m.GetMaxSessions(), 1024);
    // The default locap went with the locaps.
    EXPECT_EQ(m.GetDefaultLocap(), "");
    EXPECT_EQ(m.GetTransactionTable().GetDefaultLocap(), "");
}

TEST(ConfigModel, CharacterSetTakesSingleByteSetNamesOnly) {
    const std::pair<const char *, const char *> cases[] = {
        {"", "ISO-8859-1"},   // absent, also after another file had one
        {"<characterset VALUE=\"windows-1252\"/>", "windows-1252"},
        {"<CharacterSet value=\"UTF-8\"/>", "ISO-8859-1"},   // multi-byte
        {"<CharacterSet value=\"latin1&#13;&#10;X-Evil: 1\"/>", "ISO-8859-1"},
        {"<CharacterSet/>", "ISO-8859-1"},
    };
    CZelConfigParser m;
    ReadText(m, "<ZelConf><CharacterSet value=\"KOI8-R\"/></ZelConf>");
    for (const auto &c : cases) {
        ReadText(m, std::string("<ZelConf>") + c.first + "</ZelConf>");
        EXPECT_EQ(m.GetCharacterSet(), c.second) << c.first;
    }
}

}  // namespace
