// The configuration file writer: its text, the rows it writes or skips,
// what it carries over from the file it replaces, what it refuses, and the
// safe replacement of the file.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ConfigForm.h"
#include "ConfigWriter.h"
#include "editor_test_util.h"

namespace {

using edtest::ReadFile;
using edtest::WriteFile;

// The general fields the form posts.
RequestMap_t Scalars(const std::string &path) {
    return {{"ConfigFile", path},          {"ServerRoot", "/usr/local/qoric"},
            {"ServerAdmin", "root@host"}, {"RegularStore", "/usr/local/qoric/htx"},
            {"Cache", "/usr/local/qoric/cache"}, {"ThisLocap", "ICL"},
            {"AdditionalHtml", ""},        {"DefaultStylesheet", ""},
            {"FccModsSupport", "none"},    {"OnPRENPage", "pren.htx"},
            {"OnErrorPage", "error.htx"},  {"InstanceCleanup", "120"},
            {"SystemCleanup", "240"},      {"MaxSessions", "1024"},
            {"nextaction", "write_file"}};
}

bool Has(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

std::string Save(RequestMap_t request, bool expectOk = true, std::string *why = nullptr) {
    std::string reason;
    EXPECT_EQ(WriteConfigFile(request, true, &reason), expectOk) << reason;
    if (why) *why = reason;
    return ReadFile(request["ConfigFile"]);
}

TEST(ConfigWriter, FixedTextAndGeneralSettings) {
    edtest::TempDir dir;
    RequestMap_t posted;
    ParseRequestBody("ServerAdmin=a%41b+c", posted);
    RequestMap_t full = Scalars(dir.file("q.conf"));
    full["ServerAdmin"] = posted["ServerAdmin"];
    const std::string f = Save(full);
    EXPECT_EQ(f.rfind("<ZelConf>\n<!--\n This is the main QOR Internet Connector configuration "
                      "file. It \n contains the configuration directives that define the \n"
                      " environment for running web-enabled QOR application programs.\n\n"
                      " The configuration directives are grouped into three basic sections:\n",
                      0),
              0u);
    EXPECT_TRUE(Has(f, " for many of the server's control files begin with \"/\" (or \n"));
    EXPECT_TRUE(Has(f, " \"/usr/local/qoric/logs/foo.log\".\n -->\n\n\n\n"
                       "<!-- The directives that affect the overall operation of QOR/ic. -->\n"
                       "<!-- =========================================================== -->\n\n"
                       "<!-- \n"
                       "  -- ServerRoot: The top of the directory tree under which \n"
                       "  -- the server's configuration, error, and log files are kept.\n"
                       "  -- Do NOT add a slash at the end of the directory path.  \n"
                       "  -->\n"
                       "<ServerRoot value=\"/usr/local/qoric\"/>\n\n<!--\n"
                       "  -- ServerAdmin: Your address, where problems with the server\n"));
    EXPECT_TRUE(Has(f, "<ServerAdmin value=\"aAb c\"/>\n"));
    EXPECT_TRUE(Has(f, "  -- notice, warn, error, crit, alert, emerg.\n  -->\n<LogLevel value=\"\"/>\n"));
    EXPECT_TRUE(Has(f, "  -- locaps from this system.\n  -->\n<MaxSessions value=\"1024\"/>\n\n"
                       "<!-- The directives in this section define the available QOR/ix locaps. "
                       "-->\n"));
    EXPECT_TRUE(Has(f, "  -- default locap.\n  -->\n\n<!-- The directives that define available "
                       "QOR transaction programs. -->\n"));
    EXPECT_EQ(f.substr(f.size() - 11), "</ZelConf>\n");
    // A new file with the form's defaults gains no LogFile or PidPool.
    EXPECT_FALSE(Has(f, "<LogFile"));
    EXPECT_FALSE(Has(f, "<PidPool"));

    // What was written reads back.
    CZelConfigParser m;
    int status = 1;
    ASSERT_EQ(ReadConfigPath(dir.file("q.conf"), m, &status), Result::Success);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(m.GetServerAdmin(), "aAb c");
    EXPECT_EQ(m.GetThisLocap(), "ICL");
}

TEST(ConfigWriter, LocapRows) {
    edtest::TempDir dir;
    RequestMap_t r = Scalars(dir.file("q.conf"));
    r.insert({{"LocapCount", "2"}, {"DefaultLocap", "0"},
              {"LocapName0", "A"}, {"LocapHost0", "h"}, {"LocapPort0", "7000"},
              {"LocapName1", "B"}, {"LocapHost1", "h"}});
    std::string f = Save(r);
    EXPECT_TRUE(Has(f, "  -- default locap.\n  -->\n"
                       "<Locap name=\"A\" address=\"h\" port=\"7000\" default=\"yes\"/>\n\n"));
    EXPECT_FALSE(Has(f, "name=\"B\""));

    r["DefaultLocap"] = "1";
    r["LocapPort1"] = "7001";
    f = Save(r);
    EXPECT_TRUE(Has(f, "<Locap name=\"A\" address=\"h\" port=\"7000\"/>\n"
                       "<Locap name=\"B\" address=\"h\" port=\"7001\" default=\"yes\"/>\n"));

    // A deleted row and a default on a skipped row.
    r["LocapDelete1"] = "";
    f = Save(r);
    EXPECT_FALSE(Has(f, "name=\"B\""));
    EXPECT_FALSE(Has(f, "default=\"yes\""));

    // A count beyond the posted rows only walks those; a negative or
    // absurd one is refused and the file stays as it was.
    r = Scalars(dir.file("q.conf"));
    r.insert({{"LocapCount", "50000"}, {"LocapName0", "A"}, {"LocapHost0", "h"},
              {"LocapPort0", "1"}, {"LocapName00", "X"}});
    f = Save(r);
    EXPECT_TRUE(Has(f, "<Locap name=\"A\" address=\"h\" port=\"1\"/>\n"));
    for (const char *count : {"-3", "2000000000"}) {
        r["LocapCount"] = count;
        std::string why;
        EXPECT_EQ(Save(r, false, &why), f) << count;
        EXPECT_EQ(why, "the value of LocapCount is not a whole number from 0 to 100000");
    }

    // DefaultLocap is read as strtol reads it: no digits give row 0.
    r = Scalars(dir.file("q.conf"));
    r.insert({{"LocapCount", "1"}, {"LocapName0", "A"}, {"LocapHost0", "h"},
              {"LocapPort0", "1"}, {"DefaultLocap", ""}});
    EXPECT_TRUE(Has(Save(r), "<Locap name=\"A\" address=\"h\" port=\"1\" default=\"yes\"/>\n"));
}

TEST(ConfigWriter, TransactionRows) {
    edtest::TempDir dir;
    WriteFile(dir.file("q.conf"), "<Transaction name=\"Old\" id=\"P\" log=\"hT\"/>");
    RequestMap_t r = Scalars(dir.file("q.conf"));
    r.insert({{"TransactionCount", "4"},
              {"TransactionName0", "T"}, {"TransactionId0", "P"},
              {"TransactionName1", "U"}, {"TransactionId1", "Q"}, {"TransactionLocap1", "L"},
              {"TransactionCda1", "a+b"}, {"TransactionStyle1", "s.css"},
              {"TransactionExtraHtx1", "x.htx"}, {"TransactionLog1", "hP"},
              {"TransactionName2", "old"}, {"TransactionId2", "P"},
              {"TransactionName3", "gone"}, {"TransactionId3", "G"}, {"TransactionDelete3", "on"},
              {"TransactionCda0", ""}});
    const std::string f = Save(r);
    EXPECT_TRUE(Has(f, "  --     value - complete or relative path.\n  -->\n"
                       "<Transaction name=\"T\" id=\"P\"/>\n"
                       "<Transaction name=\"U\" id=\"Q\" locap=\"L\" cda=\"a+b\" "
                       "stylesheet=\"s.css\" addhtx=\"x.htx\" log=\"hP\"/>\n"
                       // not posted: the log options of the file being replaced
                       "<Transaction name=\"old\" id=\"P\" log=\"hT\"/>\n</ZelConf>\n"));
    EXPECT_FALSE(Has(f, "gone"));
}

TEST(ConfigWriter, RefusesValuesTheReaderCannotTakeAndWritesNothing) {
    edtest::TempDir dir;
    const std::string path = dir.file("q.conf");
    WriteFile(path, "<ServerAdmin value=\"untouched\"/>");
    struct Case {
        const char *field;
        std::string value;
        const char *why;
    } cases[] = {
        {"ServerAdmin", "a\"b", "the value of ServerAdmin contains a double quote"},
        {"Cache", "a\nb", "the value of Cache contains a control character"},
        {"LocapHost0", "h\x7f", "the value of LocapHost0 contains a control character"},
        {"OnErrorPage", std::string(2560, 'e'),
         "the value of OnErrorPage is longer than 2559 characters"},
        {"TransactionCda0", "x\"/><Setenv name=\"A\" value=\"B",
         "the value of TransactionCda0 contains a double quote"},
        {"SystemCleanup", "",
         "the value of SystemCleanup is not a whole number from -2147483648 to 2147483647"},
        {"PidPoolHigh", "1e3",
         "the value of PidPoolHigh is not a whole number from -2147483648 to 2147483647"},
        {"MaxSessions", "99999999999", "the value of MaxSessions is not a whole number from 1 to "},
        {"LocapPort0", "-1", "the value of LocapPort0 is not a whole number from 1 to 65535"},
        // Row counts: a negative or absurd one would write a file without rows.
        {"LocapCount", "-1", "the value of LocapCount is not a whole number from 0 to 100000"},
        {"TransactionCount", "-5", "the value of TransactionCount is not a whole number from 0 to 100000"},
        {"TransactionCount", "99999999999", "the value of TransactionCount is not a whole number"},
        {"AppGroupCount", "1x", "the value of AppGroupCount is not a whole number from 0 to 100000"},
        {"LocapCount", "100001", "the value of LocapCount is not a whole number from 0 to 100000"},
    };
    for (const Case &c : cases) {
        RequestMap_t r = Scalars(path);
        r.insert({{"LocapCount", "1"}, {"LocapName0", "A"}, {"LocapHost0", "h"},
                  {"LocapPort0", "1"}, {"TransactionCount", "1"}, {"TransactionName0", "T"},
                  {"TransactionId0", "P"}});
        r[c.field] = c.value;
        std::string why;
        EXPECT_EQ(Save(r, false, &why), "<ServerAdmin value=\"untouched\"/>") << c.field;
        EXPECT_EQ(why.rfind(c.why, 0), 0u) << why;
    }
    // 2559 characters are fine.
    RequestMap_t r = Scalars(path);
    r["OnErrorPage"] = std::string(2559, 'e');
    Save(r);
    CZelConfigParser m;
    ReadConfigPath(path, m);
    EXPECT_EQ(m.GetErrorHtx().size(), 2559u);

    // A missing general setting (other than LogLevel) is refused too.
    r = Scalars(path);
    r.erase("ServerAdmin");
    std::string why;
    Save(r, false, &why);
    EXPECT_EQ(why, "the field ServerAdmin is missing");
    EXPECT_FALSE(WriteConfigFile({{"nextaction", "write_file"}}, true, &why));
}

TEST(ConfigWriter, CarriesOverWhatTheFormDoesNotHold) {
    edtest::TempDir dir;
    const std::string path = dir.file("q.conf");
    WriteFile(path,
              "<ZelConf><EnableAppTrace value=\"false\"/><EnableComTrace value=\"true\"/>"
              "<CacheCleanup value=\"77\"/><MaxUsage value=\"500\"/><EnableDezUr value=\"no\"/>"
              "<CharacterSet value=\"windows-1252\"/>"
              "<Setenv name=\"lang\" value=\"C\"/><Setenv name=\"QOR_X\" value=\"<&>\"/>"
              "<LogFile value=\"/l.log\"/>"
              "<AppGroup url=\"/shop/\" name=\"S\" sid=\"MYSID\" dezur=\"yes\" log=\"L\"/>"
              "<AppGroup url=\"/other/\" name=\"O\"/></ZelConf>");
    RequestMap_t r = Scalars(path);
    r["LogFile"] = "/l.log";
    r["LogOptions"] = "h3MPK";
    r["PidPoolLow"] = "1";
    r["PidPoolHigh"] = "150001";
    r.insert({{"AppGroupCount", "2"}, {"AppGroupUrl0", "/shop/"}, {"AppGroupName0", "SHOP"},
              {"AppGroupPid0", "Yes"}, {"AppGroupUrl1", "/new/"}});
    const std::string f = Save(r);
    EXPECT_TRUE(Has(f, "<LogFile value=\"/l.log\" options=\"h3MPK\"/>\n"));
    EXPECT_FALSE(Has(f, "<PidPool"));
    EXPECT_TRUE(Has(f, "<EnableAppTrace value=\"false\"/>\n<EnableComTrace value=\"true\"/>\n"));
    EXPECT_FALSE(Has(f, "<EnableDtpTrace"));
    EXPECT_TRUE(Has(f, "<CacheCleanup value=\"77\"/>\n"));
    EXPECT_TRUE(Has(f, "<MaxUsage value=\"500\"/>\n"));
    EXPECT_TRUE(Has(f, "<CharacterSet value=\"windows-1252\"/>\n"));
    EXPECT_TRUE(Has(f, "<EnableDezUr value=\"no\"/>\n"));
    EXPECT_TRUE(Has(f, "<Setenv name=\"LANG\" value=\"C\"/>\n<Setenv name=\"QOR_X\" value=\"<&>\"/>\n"));
    // The posted rows, SID and DEZUR from the old group of the same URL; an
    // old log value where the form posted none.
    EXPECT_TRUE(Has(f, "<AppGroup url=\"/shop/\" name=\"SHOP\" log=\"L\" sid=\"MYSID\" "
                       "dezur=\"yes\" pidpool=\"yes\"/>\n<AppGroup url=\"/new/\"/>\n</ZelConf>\n"));
    EXPECT_FALSE(Has(f, "/other/"));

    CZelConfigParser m;
    ReadConfigPath(path, m);
    EXPECT_FALSE(m.IsTraceAppEnabled());
    EXPECT_TRUE(m.IsTraceComEnabled());
    EXPECT_EQ(m.GetCacheCleanup(), 77);
    EXPECT_EQ(m.GetMaxUsage(), 500);
    EXPECT_EQ(m.GetCharacterSet(), "windows-1252");
    EXPECT_FALSE(m.IsDezUrEnabled());
    EXPECT_EQ(m.GetSetenvList().size(), 2u);
    EXPECT_EQ(m.GetAppGroupTable().Find("/shop/")->m_strSidName, "MYSID");

    // Without posted group rows every group of the old file stays.
    r.erase("AppGroupCount");
    const std::string g = Save(r);
    EXPECT_TRUE(Has(g, "<AppGroup url=\"/new/\"/>\n<AppGroup url=\"/shop/\""));
    EXPECT_TRUE(Has(g, "\n<!-- The directives that define application groups. -->\n"));

    // With no group left, no group section either.
    r["AppGroupCount"] = "2";
    r["AppGroupUrl0"] = "";
    r["AppGroupDelete1"] = "on";
    const std::string none = Save(r);
    EXPECT_FALSE(Has(none, "AppGroup"));
    EXPECT_FALSE(Has(none, "application groups"));
    const std::string end = "  --     value - complete or relative path.\n  -->\n</ZelConf>\n";
    EXPECT_EQ(none.substr(none.size() - end.size()), end);
}

TEST(ConfigWriter, LogFileAndPidPoolWhenChangedByTheForm) {
    edtest::TempDir dir;
    RequestMap_t r = Scalars(dir.file("q.conf"));
    r["LogFile"] = "/usr/local/qoric/logs/qoric.log";
    r["LogOptions"] = "h3";
    r["PidPoolLow"] = "1000";
    r["PidPoolHigh"] = "5000";
    const std::string f = Save(r);
    EXPECT_TRUE(Has(f, "<LogFile value=\"/usr/local/qoric/logs/qoric.log\" options=\"h3\"/>\n"));
    EXPECT_TRUE(Has(f, "<PidPool low=\"1000\" high=\"5000\"/>\n"));
    CZelConfigParser m;
    ReadConfigPath(dir.file("q.conf"), m);
    EXPECT_EQ(m.GetLogOptions(), "h3");
    EXPECT_EQ(m.GetPidPoolLow(), 1000);
    EXPECT_EQ(m.GetPidPoolHigh(), 5000);
}

TEST(ConfigWriter, ReplacesTheFileSafely) {
    edtest::TempDir dir;
    const std::string path = dir.file("q.conf");
    WriteFile(path, "<ServerAdmin value=\"old\"/>");
    chmod(path.c_str(), 0640);
    struct stat before {};
    stat(path.c_str(), &before);
    Save(Scalars(path));
    struct stat after {};
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_NE(after.st_ino, before.st_ino);   // a new file took the old one's place

    // A link stays a link; the file it points to is replaced.
    ASSERT_EQ(symlink("q.conf", dir.file("link.conf").c_str()), 0);
    Save(Scalars(dir.file("link.conf")));
    struct stat l {};
    ASSERT_EQ(lstat(dir.file("link.conf").c_str(), &l), 0);
    EXPECT_TRUE(S_ISLNK(l.st_mode));

    // No temporary files are left behind, after success or failure.
    std::string why;
    Save(Scalars(dir.file("missing-dir/q.conf")), false, &why);
    EXPECT_NE(why.find("cannot create a temporary file beside"), std::string::npos);
    mkdir(dir.file("isdir.conf").c_str(), 0700);
    Save(Scalars(dir.file("isdir.conf")), false, &why);
    EXPECT_EQ(why, "the current configuration file cannot be read");
    DIR *d = opendir(dir.path().c_str());
    ASSERT_NE(d, nullptr);
    while (dirent *e = readdir(d)) EXPECT_EQ(std::string(e->d_name).find(".conf."), std::string::npos);
    closedir(d);
}

}  // namespace
