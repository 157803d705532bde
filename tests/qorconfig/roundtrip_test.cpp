// Show the form, post it back as a browser would, save: the saved file
// reads back into the same model, and saving again gives the same bytes.
// Values hold blanks (posted as "+") and plus signs (posted as "%2B").
#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "ConfigForm.h"
#include "ConfigWriter.h"
#include "IcParserIntegrator.h"
#include "editor_test_util.h"

namespace {

using edtest::Dump;
using edtest::ReadFile;

const char *kConfig =
    "<ZelConf>\n"
    "  <ServerRoot value=\"/opt/qoric\"/>\n"
    "  <ServerAdmin value=\"QOR operations, ops@example.org\"/>\n"
    "  <LogLevel value=\"debug\"/>\n"
    "  <RegularStore value=\"/opt/qoric/my htx\"/>\n"
    "  <Cache value=\"/opt/qoric/cache\"/>\n"
    "  <ThisLocap value=\"ICL\"/>\n"
    "  <AdditionalHtml value=\"foot.html\"/>\n"
    "  <DefaultStylesheet value=\"site.css\"/>\n"
    "  <FccModsSupport value=\"limited\"/>\n"
    "  <OnPRENPage value=\"bye.htx\"/>\n"
    "  <OnErrorPage value=\"oops.htx\"/>\n"
    "  <InstanceCleanup value=\"600\"/>\n"
    "  <SystemCleanup value=\"1200\"/>\n"
    "  <MaxSessions value=\"64\"/>\n"
    "  <LogFile value=\"/opt/qoric/logs/q.log\" options=\"h3MK\"/>\n"
    "  <PidPool low=\"500\" high=\"900\"/>\n"
    "  <EnableXmlTrace value=\"true\"/>\n"
    "  <CacheCleanup value=\"15\"/>\n"
    "  <MaxUsage value=\"1000\"/>\n"
    "  <EnableDezUr value=\"false\"/>\n"
    "  <Setenv name=\"lang\" value=\"C\"/>\n"
    "  <Setenv name=\"QOR_SITE\" value=\"a&amp;b<c>50%\"/>\n"
    "  <Locaps>\n"
    "    <Locap name=\"zeta\" address=\"10.0.0.9\" port=\"7009\"/>\n"
    "    <Locap name=\"alpha\" address=\"host.example\" port=\"7000\" default=\"yes\"/>\n"
    "  </Locaps>\n"
    "  <Transaction name=\"order\" id=\"ordprog\" locap=\"zeta\" cda=\"A+B=C&amp;D E\""
    " stylesheet=\"o.css\" addhtx=\"o.htx\" log=\"hT\"/>\n"
    "  <Transaction name=\"plain\" id=\"p\"/>\n"
    "  <AppGroup url=\"/shop/\" name=\"shop\" store=\"/opt/shop\" log=\"L1\" html=\"in.htx\""
    " trid=\"ORDER\" cda=\"x+y z\" sid=\"SHOPSID\" dezur=\"yes\" pidpool=\"yes\"/>\n"
    "  <AppGroup url=\"/Mixed/\" transaction=\"PLAIN\"/>\n"
    "</ZelConf>\n";

// One request as the program handles it: the body parsed, the configured
// path and script name put in, then the action.
std::string Request(const std::string &path, const std::string &body) {
    RequestMap_t request;
    ParseRequestBody(body, request);
    request.insert_or_assign("ConfigFile", path);
    request.insert_or_assign("ScriptName", "/qorconfig");
    std::istringstream in;
    std::ostringstream out, err;
    DispatchRequest(in, out, err, request);
    return out.str();
}

// The page less the line that says when the file was saved.
std::string WithoutSavedLine(std::string page) {
    const size_t at = page.find("<font color=\"green\"><b>Saved:</b>");
    if (at != std::string::npos) page.erase(at, page.find("<br><br>\n", at) + 9 - at);
    return page;
}

TEST(EditorRoundTrip, UnchangedFormSavesTheSameModelAndStableBytes) {
    edtest::TempDir dir;
    const std::string path = dir.file("qoric.conf");
    edtest::WriteFile(path, kConfig);
    CZelConfigParser original;
    ASSERT_EQ(ReadConfigPath(path, original), Result::Success);
    ASSERT_EQ(original.GetLocapTable().Size(), 2u);
    ASSERT_EQ(original.GetAppGroupTable().Size(), 2u);

    const std::string form = Request(path, "");
    const RequestMap_t fields = edtest::FormFields(form);
    EXPECT_EQ(fields.at("nextaction"), "write_file");
    EXPECT_EQ(fields.at("DefaultLocap"), "0");   // ALPHA, the first row
    EXPECT_EQ(fields.at("FccModsSupport"), "limited");

    const std::string page = Request(path, edtest::EncodeBody(fields));
    ASSERT_EQ(page.find("Can't save"), std::string::npos) << page;
    // The form shown after the save is the same, with a line that says when.
    EXPECT_EQ(WithoutSavedLine(page), form);
    EXPECT_NE(page.find("<b>Saved:</b> the file was written at "), std::string::npos);
    const std::string first = ReadFile(path);
    CZelConfigParser saved;
    int status = 1;
    ASSERT_EQ(ReadConfigPath(path, saved, &status), Result::Success);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(Dump(saved), Dump(original));

    Request(path, edtest::EncodeBody(edtest::FormFields(Request(path, ""))));
    EXPECT_EQ(ReadFile(path), first);
}

TEST(EditorRoundTrip, AddRowsThroughTheForm) {
    edtest::TempDir dir;
    const std::string path = dir.file("qoric.conf");
    edtest::WriteFile(path, kConfig);

    // The Add button saves and shows one more, empty row.
    RequestMap_t fields = edtest::FormFields(Request(path, ""));
    fields["LocapAdd"] = "Add locap";
    const std::string form = Request(path, edtest::EncodeBody(fields));
    fields = edtest::FormFields(form);
    ASSERT_EQ(fields.at("LocapCount"), "3");
    fields["LocapName2"] = "new";
    fields["LocapHost2"] = "10.1.1.1";
    fields["LocapPort2"] = "7100";
    fields["TransactionName0"] = "";   // clearing a name drops the row
    Request(path, edtest::EncodeBody(fields));

    CZelConfigParser m;
    ASSERT_EQ(ReadConfigPath(path, m), Result::Success);
    ASSERT_NE(m.GetLocapTable().Find("NEW"), nullptr);
    EXPECT_EQ(m.GetLocapTable().Find("NEW")->m_nPort, 7100);
    EXPECT_EQ(m.GetDefaultLocap(), "ALPHA");
    EXPECT_EQ(m.GetTransactionTable().Size(), 1u);
    EXPECT_EQ(m.GetTransactionTable().Lookup("PLAIN")->m_strId, "P");
}

// A file as the editor saves it, cut at many points up to its last
// closing tag (a save that broke off, a disk that filled up): the form says
// it is broken, posting that form back unchanged is refused and leaves the
// file byte for byte as it was, and the gateway's reader refuses it whole.
TEST(EditorRoundTrip, AFileCutAnywhereIsNeverSavedOver) {
    edtest::TempDir dir;
    const std::string path = dir.file("qoric.conf");
    edtest::WriteFile(path, kConfig);
    ASSERT_EQ(Request(path, edtest::EncodeBody(edtest::FormFields(Request(path, "")))).find("Can't save"),
              std::string::npos);
    const std::string saved = ReadFile(path);
    const size_t last = saved.rfind('>');
    ASSERT_GT(last, 4000u);
    CZelConfigParser gateway;
    ASSERT_EQ(ReadConfigPath(path, gateway), Result::Success);
    std::vector<size_t> cuts;
    for (size_t cut = 0; cut < last; cut += 29) cuts.push_back(cut);   // 0: an empty file
    cuts.push_back(last);   // all but the last '>'
    for (size_t cut : cuts) {
        const std::string part = saved.substr(0, cut);
        edtest::WriteFile(path, part);
        const std::string form = Request(path, "");
        ASSERT_NE(form.find("<b>Warning:</b> the file is broken (line "), std::string::npos)
            << "cut at " << cut << ":\n" << form;
        const std::string page = Request(path, edtest::EncodeBody(edtest::FormFields(form)));
        EXPECT_NE(page.find("Can't save config file!"), std::string::npos) << cut;
        EXPECT_NE(page.find("the current configuration file is broken (line "), std::string::npos) << page;
        ASSERT_EQ(ReadFile(path), part) << "cut at " << cut;
        CIcParserIntegrator reader(&gateway);
        EXPECT_EQ(reader.ReadWholeConfigFile(path), Result::ParserFileNotFound) << cut;
        EXPECT_EQ(gateway.GetServerRoot(), "/opt/qoric") << cut;
        EXPECT_EQ(gateway.GetLocapTable().Size(), 2u) << cut;
    }
    EXPECT_GT(cuts.size(), 150u);
}

}  // namespace
