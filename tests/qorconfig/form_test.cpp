// The configuration form: its fixed text, rows, hidden counts, options,
// escaping and the environment block.
#include <gtest/gtest.h>

#include <sstream>

#include "ConfigForm.h"
#include "FormElements.h"
#include "editor_test_util.h"

namespace {

std::string Form(const std::string &configText, RequestMap_t extra = {}) {
    static int n = 0;
    const std::string path = "form" + std::to_string(++n) + ".conf";
    edtest::WriteFile(path, configText);
    extra.emplace("ConfigFile", path);
    extra.emplace("ScriptName", "/cgi-bin/qorconfig");
    std::istringstream in;
    std::ostringstream out, err;
    EXPECT_TRUE(ShowConfigEditForm(in, out, err, extra));
    return out.str();
}

bool Has(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

TEST(FormElements, InputLayout) {
    std::ostringstream o;
    ShowInputElement(o, 2, "text", "N", 5, std::string("a\"b"), "", 9);
    EXPECT_EQ(o.str(), "  <input\n"
                       "      type=\"text\"\n"
                       "      id=\"N\"\n"
                       "      name=\"N\"\n"
                       "      size=\"5\"\n"
                       "      maxlength=\"9\"\n"
                       "      value=\"a&quot;b\">\n");
    o.str("");
    ShowRadioButtonInputElement(o, 0, "R", 3, true);
    EXPECT_EQ(o.str(), "<input\n    type=\"radio\"\n    id=\"R\"\n    name=\"R\"\n"
                       "    value=\"3\" checked\n>\n");
    o.str("");
    static const char *const opts[] = {"none", "full", nullptr};
    ShowSelectInputElementInRow(o, 4, "S", "Label: ", 7, opts);
    EXPECT_EQ(o.str(), "    <tr>\n"
                       "        <td><font color=\"blue\">Label: </font></td>\n"
                       "        <td><select \n"
                       "            name=\"S\"\n"
                       "            id=\"S\">\n"
                       "            <option>none</option>\n"
                       "            <option>full</option>\n"
                       "        </select></td>\n"
                       "    </tr>\n");
}

TEST(ConfigForm, HeadGeneralRowsAndEnd) {
    const std::string f = Form("<ZelConf><ServerRoot value=\"/usr/local/qoric\"/>"
                               "<FccModsSupport value=\"full\"/></ZelConf>");
    EXPECT_EQ(f.rfind("<h2><font color=\"teal\"> QOR/ic Configuration </font></h2> \n"
                      "<form action=\"/cgi-bin/qorconfig\" method=\"post\">\n"
                      "<font color=\"#808080\" size=\"-1\"><b>Config file:</b> form",
                      0),
              0u);
    EXPECT_TRUE(Has(f, "</font><br><br>\n<table border=\"0\">\n    <tr>\n"
                       "        <td><font color=\"blue\">Server root: </font></td>\n"
                       "        <td>\n"
                       "            <input\n"
                       "                type=\"text\"\n"
                       "                id=\"ServerRoot\"\n"
                       "                name=\"ServerRoot\"\n"
                       "                size=\"60\"\n"
                       "                value=\"/usr/local/qoric\">\n"
                       "        </td>\n"
                       "    </tr>\n"));
    EXPECT_TRUE(Has(f, "value=\"150001\">\n        </td>\n    </tr>\n</table>\n<br><hr><br>\n"
                       "<table border=\"0\">\n    <tr>\n"
                       "<b><font color=\"blue\">Dynamic Screen Format Conversion "
                       "Parameters:</font></b>\n    </tr>\n"));
    EXPECT_TRUE(Has(f, "            <option>limited</option>\n"
                       "            <option selected>full</option>\n"));
    EXPECT_TRUE(Has(f, "<font color=\"blue\">Dynamically appended template:  </font>"));
    EXPECT_TRUE(Has(f, "id=\"LogOptions\"\n                name=\"LogOptions\"\n"
                       "                size=\"10\"\n                value=\"h3MPK\">\n"));
    EXPECT_TRUE(Has(f, "    <br>\n"
                       "    <input type=\"submit\" value=\"Submit\" >\n"
                       "    <input type=\"reset\" value=\"Reset\" >\n"
                       "    <input type=\"submit\" name=\"LocapAdd\" value=\"Save and add a locap\" >\n"
                       "    <input type=\"submit\" name=\"TransactionAdd\" value=\"Save and add a transaction\" >\n"
                       "    <input type=\"submit\" name=\"AppGroupAdd\" value=\"Save and add an application group\" >\n"));
    // Only a form shown after a save says when the file was saved.
    EXPECT_FALSE(Has(f, "<b>Saved:</b>"));
    const std::string tail = "    <input\n        type=\"hidden\"\n        name=\"nextaction\"\n"
                             "        value=\"write_file\">\n</form>\n\n";
    EXPECT_EQ(f.substr(f.size() - tail.size()), tail);
    // No Setenv: no environment block.
    EXPECT_FALSE(Has(f, "Environment Variables set:"));
}

TEST(ConfigForm, LocapRowsDefaultRadioAndExtraRow) {
    const std::string conf = "<Locap name=\"b\" address=\"hb\" port=\"2\"/>"
                             "<Locap name=\"a\" address=\"ha\" port=\"1\" default=\"yes\"/>";
    std::string f = Form(conf);
    EXPECT_TRUE(Has(f, "    <input\n        type=\"hidden\"\n        id=\"LocapCount\"\n"
                       "        name=\"LocapCount\"\n        value=\"2\">\n<table>\n"
                       "    <thead>\n        <tr>\n            <td>\n"
                       "                <b><font color=\"blue\">Locaps:</font></b>\n"
                       "            </td>\n        </tr>\n        <tr>\n            <td>\n"
                       "                <b><font color=\"blue\">Name</font></b>\n"
                       "            </td>\n"));
    // Rows in key order; A is the default and its radio is checked.
    EXPECT_TRUE(Has(f, "        <tr>\n            <td>\n                    <input\n"
                       "                        type=\"text\"\n"
                       "                        id=\"LocapName0\"\n"
                       "                        name=\"LocapName0\"\n"
                       "                        size=\"10\"\n"
                       "                        value=\"A\">\n            </td>\n"));
    EXPECT_TRUE(Has(f, "name=\"LocapPort1\"\n                        size=\"10\"\n"
                       "                        value=\"2\">\n"));
    EXPECT_TRUE(Has(f, "                        name=\"DefaultLocap\"\n"
                       "                        value=\"0\" checked\n>\n"
                       "                default\n            </td>\n        </tr>\n"));
    EXPECT_TRUE(Has(f, "name=\"DefaultLocap\"\n                        value=\"1\">\n"));
    EXPECT_FALSE(Has(f, "LocapName2"));

    f = Form(conf, {{"LocapAdd", "x"}});
    EXPECT_TRUE(Has(f, "name=\"LocapCount\"\n        value=\"3\">\n"));
    EXPECT_TRUE(Has(f, "name=\"LocapName2\"\n                        size=\"10\"\n"
                       "                        value=\"\">\n"));
    EXPECT_TRUE(Has(f, "name=\"DefaultLocap\"\n                        value=\"2\">\n"));

    // Empty table: headings only; with an added row and no default known,
    // the empty row's radio is checked.
    f = Form("<ZelConf/>");
    EXPECT_TRUE(Has(f, "name=\"LocapCount\"\n        value=\"0\">\n"));
    EXPECT_FALSE(Has(f, "LocapName0"));
    f = Form("<ZelConf/>", {{"LocapAdd", ""}});
    EXPECT_TRUE(Has(f, "name=\"DefaultLocap\"\n                        value=\"0\" checked\n>\n"));
}

TEST(ConfigForm, TransactionAndGroupRows) {
    const std::string f = Form(
        "<Transaction name=\"t1\" id=\"p1\" locap=\"l\" cda=\"c+d\" log=\"L\" stylesheet=\"s\""
        " addhtx=\"h\"/><AppGroup url=\"/g/\" name=\"grp\" pidpool=\"yes\" store=\"/st\"/>",
        {{"TransactionAdd", ""}, {"AppGroupAdd", ""}});
    EXPECT_TRUE(Has(f, "name=\"TransactionCount\"\n        value=\"2\">\n"));
    EXPECT_TRUE(Has(f, "                <b><font color=\"blue\">Log Options</font></b>\n"));
    EXPECT_TRUE(Has(f, "                <b><font color=\"blue\">Add .htx</font></b>\n"));
    EXPECT_TRUE(Has(f, "name=\"TransactionCda0\"\n                        size=\"10\"\n"
                       "                        maxlength=\"500\"\n"
                       "                        value=\"c+d\">\n"));
    EXPECT_TRUE(Has(f, "name=\"TransactionId0\"\n                        size=\"20\"\n"
                       "                        value=\"P1\">\n"));
    EXPECT_TRUE(Has(f, "name=\"TransactionExtraHtx1\"\n"));
    EXPECT_TRUE(Has(f, "name=\"AppGroupCount\"\n        value=\"2\">\n"));
    EXPECT_TRUE(Has(f, "                <b><font color=\"blue\">CDA Text</font></b>\n"));
    EXPECT_TRUE(Has(f, "name=\"AppGroupPid0\"\n                        size=\"8\"\n"
                       "                        value=\"Yes\">\n"));
    EXPECT_TRUE(Has(f, "name=\"AppGroupPid1\"\n                        size=\"8\"\n"
                       "                        value=\"\">\n"));
    EXPECT_TRUE(Has(f, "name=\"AppGroupCda0\"\n                        size=\"12\"\n"
                       "                        value=\"\">\n            </td>\n"
                       "            <td>\n            </td>\n        </tr>\n"));
}

TEST(ConfigForm, ValuesPathsAndEnvironmentAreEscaped) {
    edtest::WriteFile("esc&<x>.conf", "<ServerAdmin value=\"<script>alert(1)</script>\"/>"
                                      "<Setenv name=\"lang\" value=\"C\"/>"
                                      "<Setenv name=\"tag\" value=\"<b>&x\"/>");
    std::istringstream in;
    std::ostringstream out, err;
    ASSERT_TRUE(ShowConfigEditForm(in, out, err,
                                   {{"ConfigFile", "esc&<x>.conf"}, {"ScriptName", "\"><x"}}));
    const std::string f = out.str();
    EXPECT_TRUE(Has(f, "<form action=\"&quot;&gt;&lt;x\" method=\"post\">\n"));
    EXPECT_TRUE(Has(f, "<b>Config file:</b> esc&amp;&lt;x&gt;.conf</font>"));
    EXPECT_TRUE(Has(f, "value=\"&lt;script&gt;alert(1)&lt;/script&gt;\">"));
    EXPECT_FALSE(Has(f, "<script>"));
    EXPECT_TRUE(Has(f, "<p><b><font color=\"blue\">Environment Variables set:</font></b>\n"
                       "<br>LANG=C\n<br>TAG=&lt;b&gt;&amp;x\n<br><hr><br>\n"));
}

TEST(ConfigForm, BrokenFileIsShownWithAWarning) {
    const std::string f = Form("<ServerAdmin value=\"a\"/></nothing><Cache value=\"b\"/>");
    EXPECT_TRUE(Has(f, "<b>Warning:</b> the file is broken (line 1: the close tag &lt;/nothing&gt; closes "
                       "no element); only what could be read is shown"));
    EXPECT_TRUE(Has(f, "value=\"a\">"));
    const std::string g = Form("<ZelConf><ServerAdmin value=\"a\"/><Max<<Sessions value=\"5\"/>"
                               "<Cache value=\"b\"/></ZelConf>");
    EXPECT_TRUE(Has(g, "<b>Warning:</b> the file is broken (line 1: the tag name "
                       "&quot;Max&lt;&lt;Sessions&quot; holds &#39;&lt;&#39;)"))
        << g;
    EXPECT_TRUE(Has(g, "value=\"b\">"));   // what could be read is shown
    EXPECT_FALSE(Has(Form("<ZelConf><Cache value=\"b\"/></ZelConf>"), "Warning:"));
}

TEST(ConfigForm, AFormShownAfterASaveSaysWhen) {
    edtest::WriteFile("saved.conf", "<ZelConf/>");
    RequestMap_t r{{"ConfigFile", "saved.conf"}, {"ScriptName", "/qorconfig"}};
    std::istringstream in;
    std::ostringstream out, err;
    ASSERT_TRUE(ShowConfigEditForm(in, out, err, r, SaveTimeText(32875200)));
    const std::string f = out.str();
    const size_t saved = f.find("<font color=\"green\"><b>Saved:</b> the file was written at 1971-01-1");
    EXPECT_NE(saved, std::string::npos) << f;
    EXPECT_LT(f.find("<b>Config file:</b> saved.conf"), saved);
    EXPECT_LT(saved, f.find("<table"));
}

}  // namespace
