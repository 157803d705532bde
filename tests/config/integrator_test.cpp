// The parser integrator's configuration reading and the toolkit's start:
// file errors, documents that break off, and the err.* constants.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "Result.h"
#include "config_test_util.h"
#include "xfcgiout.h"

using cfgtest::ReadText;

namespace {

std::string VarValue(const char *name) {
    const int idx = searchOutTab(name, static_cast<int>(std::strlen(name)));
    return idx < 0 ? std::string("<none>") : std::string(xFcgiVarValue(idx));
}

// Must run before any ordinary put of this test program.
TEST(ParserIntegrator, InitRegistersTheTemplateConstants) {
    ASSERT_EQ(CIcParserIntegrator::InitXFcgi(), 0);
    std::size_t registered = 0;
    for (const ResultName *n = ResultNamesBegin(); n != ResultNamesEnd(); ++n) {
        if (!n->templateConstant) {
            EXPECT_EQ(VarValue(n->errName), "<none>") << n->errName;
            continue;
        }
        ++registered;
        EXPECT_EQ(VarValue(n->errName), std::to_string(ResultCode(n->code))) << n->errName;
    }
    EXPECT_EQ(VarValue("err.SessTblFull"), "-4004");
    EXPECT_EQ(VarValue("err.ParserFileNotFound"), "-3001");
    EXPECT_EQ(VarValue("err.ConfigurationChanged"), "<none>");
    EXPECT_EQ(static_cast<std::size_t>(xFcgiConstCount()), registered);

    // They outlive every request's clear, and the exit.
    xFcgiPutStr("page.value", "x");
    xFcgiPutClear();
    EXPECT_EQ(VarValue("page.value"), "<none>");
    EXPECT_EQ(VarValue("err.QorTimeout"), "-5006");
    EXPECT_EQ(CIcParserIntegrator::ExitXFcgi(), 0);
    EXPECT_EQ(VarValue("err.QorTimeout"), "-5006");
}

TEST(ParserIntegrator, UnreadableFileLeavesTheModelAlone) {
    CZelConfigParser m;
    ReadText(m, "<ServerAdmin value=\"before\"/><Locap name=\"a\" address=\"h\" port=\"1\"/>");
    CIcParserIntegrator reader(&m);
    EXPECT_EQ(reader.OpenFile("no-such-file.conf", 0, 0), Result::ParserFileNotFound);
    EXPECT_EQ(m.GetServerAdmin(), "before");
    EXPECT_EQ(m.GetLocapTable().Size(), 1u);

    mkdir("a-directory.conf", 0700);
    EXPECT_EQ(reader.OpenConfigFile("a-directory.conf"), Result::ParserFileNotFound);
    EXPECT_EQ(m.GetLocapTable().Size(), 1u);
}

TEST(ParserIntegrator, DocumentThatBreaksOffKeepsWhatCameBefore) {
    cfgtest::LogCapture log;
    CZelConfigParser m;
    int status = 0;
    ASSERT_EQ(ReadText(m,
                       "<ZelConf>\n<ServerAdmin value=\"a\"/>\n"
                       "<Locap name=\"x\" address=\"h\" port=\"1\"/>\n"
                       "</Mismatch>\n<Cache value=\"after\"/>\n</ZelConf>\n",
                       "broken.conf", &status),
              Result::Success);
    EXPECT_EQ(status, -2);
    EXPECT_EQ(m.GetServerAdmin(), "a");
    EXPECT_EQ(m.GetCacheStore(), "");
    // The completion still ran: the locap read before the fault is the default.
    EXPECT_EQ(m.GetTransactionTable().GetDefaultLocap(), "X");
    EXPECT_TRUE(log.contains("broken.conf breaks off (XML error -2)"));

    ASSERT_EQ(ReadText(m, "<ServerAdmin value=\"b\"/>", "good.conf", &status), Result::Success);
    EXPECT_EQ(status, 0);
}

TEST(ParserIntegrator, StreamsAndOddBytesAreReadWithoutHarm) {
    CZelConfigParser m;
    m.Reset();
    CIcParserIntegrator reader(&m);
    std::string text = "<ZelConf><ThisLocap value=\"";
    text += std::string("a\0b", 3);
    text += "\"/>\xff\xfe<<<>>>&amp;<Cache value='x'/></ZelConf>";
    FILE *f = fmemopen(&text[0], text.size(), "r");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(reader.ReadConfigStream(f, "memory"), Result::Success);
    std::fclose(f);
    EXPECT_EQ(m.GetThisLocap(), std::string("a\0b", 3));
    EXPECT_EQ(reader.ReadConfigStream(nullptr, "none"), Result::ParserFileNotFound);
}

}  // namespace
