// The parser integrator's configuration reading and the toolkit's start:
// file errors, documents that break off, and the err.* constants.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
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

    // A FIFO that no one writes to is refused at once by every reader (a
    // plain open would wait for a writer for ever).
    cfgtest::LogCapture log;
    unlink("a-fifo.conf");
    ASSERT_EQ(mkfifo("a-fifo.conf", 0600), 0);
    EXPECT_EQ(reader.OpenConfigFile("a-fifo.conf"), Result::ParserFileNotFound);
    EXPECT_EQ(reader.ReadWholeConfigFile("a-fifo.conf"), Result::ParserFileNotFound);
    std::string why;
    EXPECT_EQ(CIcParserIntegrator::CheckConfigFile("a-fifo.conf", why), ResultCode(Result::ParserFileNotFound));
    EXPECT_EQ(m.GetLocapTable().Size(), 1u);
    EXPECT_TRUE(log.contains("Config: a-fifo.conf is not a regular file\n")) << log.text();
    // A link to a regular file is read.
    std::ofstream("linked.conf") << "<ServerAdmin value=\"linked\"/>";
    unlink("a-link.conf");
    ASSERT_EQ(symlink("linked.conf", "a-link.conf"), 0);
    EXPECT_EQ(reader.OpenConfigFile("a-link.conf"), Result::Success);
    EXPECT_EQ(m.GetServerAdmin(), "linked");
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
    EXPECT_TRUE(log.contains("broken.conf is broken (line 4: the close tag </Mismatch> does not close "
                             "<ZelConf>); only what could be read is used"));

    ASSERT_EQ(ReadText(m, "<ServerAdmin value=\"b\"/>", "good.conf", &status), Result::Success);
    EXPECT_EQ(status, 0);
}

// The gateway's way: a file is applied whole or not at all.
TEST(ParserIntegrator, AWholeReadLeavesTheModelAloneForABrokenFile) {
    cfgtest::LogCapture log;
    CZelConfigParser m;
    ReadText(m, "<ZelConf><ServerAdmin value=\"before\"/><MaxSessions value=\"7\"/>"
                "<Locap name=\"a\" address=\"h\" port=\"1\"/></ZelConf>");
    const std::string whole = "<ZelConf><ServerAdmin value=\"after\"/><Locap name=\"b\" address=\"h\" port=\"2\"/>"
                              "<Transaction name=\"t\" id=\"p\"/></ZelConf>";
    const struct {
        std::string text;
        const char *fault;
    } broken[] = {
        {whole.substr(0, whole.size() - 1), "the close tag </ZelConf> has no '>'"},
        {whole.substr(0, whole.size() - 10), "the input ends with <ZelConf> still open"},
        {"", "the input holds no element"},
        {whole.substr(0, whole.find("<Transaction") + 20), "the input ends inside a quoted value"},
        {"<ZelConf><Max<<Sessions value=\"5\"/></ZelConf>", "the tag name \"Max<<Sessions\" holds '<'"},
        {"<ZelConf></Other><ServerAdmin value=\"x\"/></ZelConf>", "does not close <ZelConf>"},
    };
    CIcParserIntegrator reader(&m);
    for (const auto &b : broken) {
        {
            std::ofstream out("whole.conf", std::ios::binary | std::ios::trunc);
            out << b.text;
        }
        EXPECT_EQ(reader.ReadWholeConfigFile("whole.conf"), Result::ParserFileNotFound) << b.text;
        EXPECT_NE(reader.GetLastParseFault().find(b.fault), std::string::npos) << reader.GetLastParseFault();
        EXPECT_LT(reader.GetLastParseStatus(), 0);
        EXPECT_EQ(m.GetServerAdmin(), "before");
        EXPECT_EQ(m.GetMaxSessions(), 7);
        ASSERT_NE(m.GetLocapTable().Find("A"), nullptr);
        std::string why;
        EXPECT_LT(CIcParserIntegrator::CheckConfigFile("whole.conf", why), 0);
        EXPECT_NE(why.find(b.fault), std::string::npos) << why;
    }
    EXPECT_TRUE(log.contains("whole.conf is broken (line 1: "));
    EXPECT_TRUE(log.contains("); it is not used"));
    EXPECT_EQ(reader.ReadWholeConfigFile("no-such.conf"), Result::ParserFileNotFound);
    EXPECT_EQ(m.GetServerAdmin(), "before");

    // A whole file replaces the model (after Reset: MaxSessions is back to
    // its default, the old locap gone).
    {
        std::ofstream out("whole.conf", std::ios::binary | std::ios::trunc);
        out << whole;
    }
    std::string why = "x";
    EXPECT_EQ(CIcParserIntegrator::CheckConfigFile("whole.conf", why), 0);
    EXPECT_EQ(why, "");
    ASSERT_EQ(reader.ReadWholeConfigFile("whole.conf"), Result::Success);
    EXPECT_EQ(reader.GetLastParseStatus(), 0);
    EXPECT_EQ(m.GetServerAdmin(), "after");
    EXPECT_EQ(m.GetMaxSessions(), CZelConfigParser::kDefaultMaxSessions);
    EXPECT_EQ(m.GetLocapTable().Find("A"), nullptr);
    EXPECT_EQ(m.GetTransactionTable().GetDefaultLocap(), "B");
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
