// Conversation without a host: the request's values, page names, the
// screen's shaping before it is sent, and the output variables.
#include <gtest/gtest.h>

#include <string>

#include "ZelConversation.h"
#include "gw_test_util.h"
#include "logprint.h"
#include "xfcgiout.h"

namespace {

std::string Var(const char *name) {
    int i = searchOutTab(name, -1);
    return i < 0 ? std::string("<none>") : std::string(xFcgiVarValue(i));
}

class ConversationUnit : public ::testing::Test {
protected:
    void SetUp() override { logOpen(dir.file("test.log").c_str(), 0); }
    void TearDown() override { logClose(); }
    CBuffer &Screen() { return conv.GetProtocol().GetLastMcsData(); }

    gwtest::ScratchDir dir;
    CZelConversation conv;
};

}  // namespace

TEST_F(ConversationUnit, FormatAndPageNames) {
    conv.SetFormat("ab_c");
    EXPECT_EQ(conv.GetFormatName(), "ABAC");
    EXPECT_EQ(CZelConversation::PageName(conv.GetFormatName()), "abac.htx");
    EXPECT_EQ(CZelConversation::PageName("AB C    "), "ab.htx");
    EXPECT_EQ(CZelConversation::PageName(" AB"), "");
    EXPECT_EQ(CZelConversation::PageName(""), "");

    EXPECT_TRUE(CZelConversation::IsSafePageName("logon.htx"));
    EXPECT_FALSE(CZelConversation::IsSafePageName(""));
    EXPECT_FALSE(CZelConversation::IsSafePageName("/etc/passwd.htx"));
    EXPECT_FALSE(CZelConversation::IsSafePageName("../x.htx"));
    EXPECT_FALSE(CZelConversation::IsSafePageName("a/b.htx"));
    EXPECT_FALSE(CZelConversation::IsSafePageName("..htx"));
    EXPECT_FALSE(CZelConversation::IsSafePageName(std::string("a\nb.htx")));
}

TEST(ConversationInput, CharacterReferencesControlBytesAndPagesOfScreens) {
    for (const char *v : {"&#8364;", "price &#8364; 5", "&#x20AC;", "a&#1;"})
        EXPECT_GE(CZelConversation::FirstRefusedCharacter(v, false), 0) << v;
    for (const char *v : {"", "&#;", "&#x;", "&#12", "&#12a;", "AT&T", "&amp;"})
        EXPECT_EQ(CZelConversation::FirstRefusedCharacter(v, false), -1) << v;
    // ISO-8859-1 (as browsers read it, windows-1252) and its control bytes.
    for (const char *name : {"ISO-8859-1", "iso_8859-1", "Latin-1", "l1", "CP819"})
        EXPECT_TRUE(CZelConversation::IsLatin1(name)) << name;
    EXPECT_FALSE(CZelConversation::IsLatin1("ISO-8859-15"));
    // The character a notice names: the first refused one, as a code point.
    const struct {
        const char *value;
        bool refuseC1;
        long code;
    } refused[] = {
        {"&#8364;", false, 0x20AC},         {"a &#x20ac; b", false, 0x20AC},
        {"5 \x80", true, 0x20AC},           {"5 \x80", false, -1},
        {"\x9F\x81", true, 0x178},           {"x\x92&#937;", true, 0x2019},
        {"&#937;\x80", true, 937},          {"&#99999999999999999999;", false, 0x110000},
        {"AT&T &#; &#12", true, -1},       {"caf\xE9 \xA0\x7F", true, -1},
        // With ISO-8859-1 a reference to a character of the set was typed
        // as text (the browser would have sent the byte): it is kept.
        {"&#65;", true, -1},               {"&#65;", false, 65},
        {"&#x41;&#00233;&#160;&#126;", true, -1}, {"&#65;x&#321;y", true, 321},
        {"&#31;", true, 31},               {"&#127;", true, 127},
        {"&#159;", true, 159},             {"&#256;", true, 256},
        {"&#xD800;", true, 0xD800},        {"&#99999999999999999999;", true, 0x110000},
    };
    for (const auto &r : refused)
        EXPECT_EQ(CZelConversation::FirstRefusedCharacter(r.value, r.refuseC1), r.code) << r.value;
    // Screen names compare as pages are named.
    EXPECT_TRUE(CZelConversation::SamePage("menu", "MENU    "));
    EXPECT_TRUE(CZelConversation::SamePage("AB_C", "ABAC    "));
    EXPECT_FALSE(CZelConversation::SamePage("LOGON", "MENU    "));
    EXPECT_FALSE(CZelConversation::SamePage("", "MENU    "));
}

TEST_F(ConversationUnit, NumbersAndCharacters) {
    conv.SetCount("74");
    conv.SetSize("80");
    EXPECT_EQ(conv.GetCount(), 74);
    EXPECT_EQ(conv.GetSize(), 80);
    conv.SetCount("99999999");
    EXPECT_EQ(conv.GetCount(), 0xFFFF);
    conv.SetCount("-5");
    EXPECT_EQ(conv.GetCount(), 0);
    conv.SetSize("x");
    EXPECT_EQ(conv.GetSize(), 0);
    conv.SetSize("");
    EXPECT_EQ(conv.GetSize(), 0);
    conv.SetStatus("");
    EXPECT_EQ(conv.GetStatus(), ' ');
    conv.SetStatus("3x");
    EXPECT_EQ(conv.GetStatus(), '3');
    conv.SetFiller("");
    EXPECT_EQ(conv.GetFiller(), ' ');
    conv.SetNotifyMode("");
    EXPECT_TRUE(conv.IsNotify());
    conv.Reset();
    EXPECT_FALSE(conv.IsNotify());
    EXPECT_EQ(conv.GetStatus(), ' ');
    EXPECT_EQ(conv.GetCount(), 0);
}

TEST_F(ConversationUnit, FunctionKeySendsTheHeaderAlone) {
    Screen() = CBuffer(std::string(20, 'h').append(50, 'd').c_str(), 70);
    conv.SetSize("50");
    conv.SetCount("50");
    ASSERT_EQ(conv.ProcessInput('3'), Result::Success);
    ASSERT_EQ(Screen().GetLength(), 20);
    EXPECT_EQ(Screen().GetWORD(14), 0);   // size
    EXPECT_EQ(Screen().GetWORD(18), 0);   // count
    EXPECT_EQ(conv.GetSize(), 0);
    EXPECT_EQ(conv.GetCount(), 0);
}

TEST_F(ConversationUnit, PlainInputIsSizedByCount) {
    Screen() = CBuffer(std::string(20, ' ').append(5, 'd').c_str(), 25);
    conv.SetCount("12");
    conv.SetFiller("*");
    ASSERT_EQ(conv.ProcessInput(' '), Result::Success);
    ASSERT_EQ(Screen().GetLength(), 32);
    EXPECT_EQ(std::string(Screen().GetBuffer() + 20, 12), "ddddd*******");

    // A count below what the screen holds (a page's DoXMIT): exactly count
    // data bytes follow the header.
    conv.Reset();
    Screen() = CBuffer(std::string(20, ' ').append(27, 'f').c_str(), 47);
    conv.SetCount("14");
    ASSERT_EQ(conv.ProcessInput(' '), Result::Success);
    EXPECT_EQ(Screen().GetLength(), 34);

    // Count 0: the header's count becomes what the screen holds.
    conv.Reset();
    Screen() = CBuffer(std::string(20, ' ').append(7, 'e').c_str(), 27);
    ASSERT_EQ(conv.ProcessInput(' '), Result::Success);
    EXPECT_EQ(Screen().GetWORD(18), 7);

    conv.Reset();
    Screen() = CBuffer("short", 5);
    EXPECT_EQ(conv.ProcessInput(' '), Result::ParserBadMcsData);
}

TEST_F(ConversationUnit, OutputVariablesOfARequest) {
    xFcgiPutClear();
    conv.SetFormat("scr_1");
    conv.SetStatus("5");
    conv.SetSize("80");
    conv.SetCount("70");
    conv.SetFiller("_");
    conv.SetLocalSubscreen("SUB");
    conv.PrepareXFcgiRequest(Result::CommClosed, "admin@x");
    EXPECT_EQ(Var("mcs.name"), "SCRA1");
    EXPECT_EQ(Var("mcs.status"), "5");
    EXPECT_EQ(Var("McsStatus"), "5");
    EXPECT_EQ(Var("mcs.size"), "80");
    EXPECT_EQ(Var("McsSize"), "80");
    EXPECT_EQ(Var("mcs.count"), "70");
    EXPECT_EQ(Var("McsCount"), "70");
    EXPECT_EQ(Var("mcs.filler"), "_");
    EXPECT_EQ(Var("mcs.function"), " ");
    EXPECT_EQ(Var("mcs.page"), "SUB");
    EXPECT_EQ(Var("mcs.error"), "");
    EXPECT_EQ(Var("mcs.terminal"), "") << "defined, as the terminal-id field shows it";
    EXPECT_EQ(Var("err.code"), "-1009");
    EXPECT_EQ(Var("err.administrator"), "admin@x");
    conv.Reset();
    EXPECT_EQ(Var("mcs.name"), "<none>");
    conv.PrepareXFcgiRequest(Result::Success, nullptr);
    EXPECT_EQ(Var("err.administrator"), "");
    EXPECT_EQ(Var("err.code"), "0");
}
