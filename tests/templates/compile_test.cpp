// The template compiler: segments, keywords, directives, form fields,
// block links and the compile messages.
#include <gtest/gtest.h>

#include "template_util.h"
#include "xml/log_capture.h"

namespace {

using tpl::Compiled;
using tpl::compile;

std::string kinds(const tcpHTML& t) {
    std::string out;
    for (const HtmlSegment& g : t.segments) {
        if (!out.empty()) out += ' ';
        out += xFcgiSegKindName(g.kind);
    }
    return out;
}

std::string name(const tcpHTML& t, size_t i) {
    return std::string(t.textOf(t.segments.at(i).name));
}

TEST(TemplateCompile, PlaceholdersAndLiteralText) {
    Compiled c;
    compile(c, "a \\{x} b \\\\{y} c");
    ASSERT_EQ(kinds(c.t), "Text Variable Text");
    EXPECT_EQ(name(c.t, 1), "x");
    EXPECT_EQ(c.t.segments[1].direction, HtmlSegment::kOutput);
    EXPECT_EQ(c.t.segments[1].size, 0);  // outside a form tag
    EXPECT_EQ(c.t.textOf(c.t.segments[2].own), " b \\\\{y} c");
    EXPECT_EQ(c.t.errors, 0);
}

TEST(TemplateCompile, PlaceholderKeywords) {
    Compiled c;
    compile(c,
            "\\{total SIZE=8 INT}\\{f FLOAT}\\{v VARCHAR=12}\\{ch CHAR='3'}"
            "\\{b BOOL='checked' 'off'}\\{e ECHO}\\{h HREF=Y}\\{i IMAGES=Y}\\{$TRX}\\{*TRY}"
            "\\{a+b}");
    ASSERT_EQ(kinds(c.t),
              "Int Float Varchar Variable Bool Echo Variable Variable Transaction Transaction Echo");
    const auto& s = c.t.segments;
    EXPECT_EQ(name(c.t, 0), "total");
    EXPECT_EQ(s[0].size, 8);
    EXPECT_EQ(s[2].size, 12);
    EXPECT_EQ(s[3].size, 3);
    EXPECT_EQ(c.t.textOf(s[4].value), "checked");
    EXPECT_EQ(c.t.textOf(s[4].defValue), "off");
    EXPECT_EQ(s[4].size, 1);
    EXPECT_TRUE(s[6].flags & HtmlSegment::kHref);
    EXPECT_TRUE(s[6].flags & HtmlSegment::kSid);
    EXPECT_TRUE(s[7].flags & HtmlSegment::kImages);
    EXPECT_EQ(name(c.t, 8), "TRX");
    EXPECT_FALSE(s[8].flags & HtmlSegment::kSid);
    EXPECT_TRUE(s[9].flags & HtmlSegment::kSid);
    // An expression placeholder computes its value.
    EXPECT_TRUE(s[10].flags & HtmlSegment::kCompute);
    EXPECT_EQ(s[10].firstKind, SEG_VARIABLE);
    ASSERT_EQ(s[10].expr.entries.size(), 3u);
    EXPECT_EQ(s[10].expr.entries[2].op(), EXPR_ADD);
    EXPECT_EQ(c.t.errors, 0);
}

TEST(TemplateCompile, IfElseChainIsLinked) {
    Compiled c;
    compile(c, "<!--#IF EXPR=\"x\"-->A<!--#ELIF expr = \"y\" -->B<!--#ELSE-->C<!--#ENDIF-->D");
    ASSERT_EQ(kinds(c.t), "If Text Elif Text Else Text End Text");
    const auto& s = c.t.segments;
    EXPECT_EQ(s[0].level, 0);
    EXPECT_EQ(s[1].level, 1);
    EXPECT_EQ(s[2].level, 0);
    EXPECT_EQ(s[4].level, 0);
    EXPECT_EQ(s[6].level, 0);
    EXPECT_EQ(s[0].elseAt, 2u);
    EXPECT_EQ(s[2].elseAt, 4u);
    EXPECT_EQ(s[4].elseAt, 6u);
    for (int i : {0, 2, 4}) EXPECT_EQ(s[i].endAt, 6u);
    EXPECT_EQ(s[6].endAt, 0u);  // an End points back to its start
    // Blanks after "=" are accepted; a lone operand is compared with ''.
    EXPECT_EQ(c.t.errors, 0) << c.messages;
    ASSERT_EQ(s[0].expr.entries.size(), 3u);
    EXPECT_EQ(s[0].expr.entries[2].op(), EXPR_NE);
}

TEST(TemplateCompile, WhiteSpaceBetweenDirectivesMakesNoSegment) {
    Compiled c;
    compile(c, "<!--#IF EXPR=\"x\"-->\n  <!--#SET VAR=a VALUE=\"1\"-->\n<!--#ENDIF--> \n");
    EXPECT_EQ(kinds(c.t), "If Set End Text");
}

TEST(TemplateCompile, BeginBlocks) {
    Compiled c;
    compile(c,
            "<!--#BEGIN NAME=rows MAX=5-->x<!--#END NAME=rows-->"
            "<!--#BEGIN NAME=all MAX=*-->y<!--#END-->"
            "<!--#BEGIN NAME=one INLINE=\"YES\" RadioGroup=\"YES\"-->z<!--#END NAME=other-->");
    ASSERT_EQ(kinds(c.t), "Begin Text End Begin Text End Begin Text End");
    const auto& s = c.t.segments;
    EXPECT_EQ(name(c.t, 0), "rows");
    EXPECT_EQ(s[0].maxRep, 5);
    EXPECT_EQ(s[0].endAt, 2u);
    EXPECT_EQ(s[3].maxRep, -1);
    EXPECT_TRUE(s[3].flags & HtmlSegment::kUnlimited);
    EXPECT_TRUE(s[6].flags & HtmlSegment::kInline);
    EXPECT_TRUE(s[6].flags & HtmlSegment::kRadioGroup);
    EXPECT_NE(c.messages.find("Warning! Block 'one' not match end tag 'other'"), std::string::npos);
    EXPECT_EQ(c.t.warnings, 1);
}

TEST(TemplateCompile, OlderFormsGiveWarnings) {
    Compiled c;
    compile(c, "<!--BGN=rows-->a<!--END=rows--><!--#BEGIN=b INLINE-->c<!--#END--><!--#IF x-->d<!--#ENDIF-->");
    EXPECT_EQ(kinds(c.t), "Begin Text End Begin Text End If Text End");
    EXPECT_NE(c.messages.find("Warning! Replace BGN= with #BEGIN NAME=rows in mem.htx"), std::string::npos);
    EXPECT_NE(c.messages.find("Warning! Replace END= with #END NAME=rows in mem.htx"), std::string::npos);
    EXPECT_NE(c.messages.find("Warning! Replace #BEGIN= with #BEGIN NAME=b in mem.htx"), std::string::npos);
    EXPECT_NE(c.messages.find("Warning! Replace INLINE with INLINE=\"YES\" in mem.htx"), std::string::npos);
    EXPECT_NE(c.messages.find("Warning! Change to #IF expr=\"x\" in mem.htx"), std::string::npos);
    EXPECT_EQ(c.t.warnings, 5);
    EXPECT_EQ(c.t.errors, 0);
    EXPECT_EQ(c.t.textOf(c.t.segments[6].value), "x");
}

TEST(TemplateCompile, ErrorsAreCountedAndCompilationGoesOn) {
    Compiled c;
    compile(c,
            "a\n<!--#END-->\nb<!--#BEGIN-->c<!--#END--><!--#INCLUDE-->"
            "<!--#SET VALUE=\"1\"--><!--#SET VAR=x--><!--#IF EXPR=x-->d<!--#ENDIF-->");
    EXPECT_NE(c.messages.find("\nMissing #BEGIN or #IF\nToo many --#END markers in mem.htx\n"
                              "Around line 2 [<!--#END-->"),
              std::string::npos)
        << c.messages;
    EXPECT_NE(c.messages.find("#BEGIN is missing NAME= in mem.htx"), std::string::npos);
    EXPECT_NE(c.messages.find("Line 3: #INCLUDE is missing FILE= in mem.htx"), std::string::npos);
    EXPECT_NE(c.messages.find("Line 3: Missing VAR= in #SET in mem.htx"), std::string::npos);
    EXPECT_NE(c.messages.find("Line 3: Missing VALUE= in #SET in mem.htx"), std::string::npos);
    EXPECT_NE(c.messages.find("Line 3: Missing quote after #IF expr= in mem.htx"), std::string::npos);
    EXPECT_EQ(c.t.errors, 6);
    // The END of the BEGIN without NAME is taken with it.
    EXPECT_EQ(kinds(c.t), "Text Text Text If Text End");
}

TEST(TemplateCompile, UnclosedBlocksRunToTheEnd) {
    Compiled c;
    compile(c, "<!--#BEGIN NAME=r-->a<!--#IF EXPR=\"x\"-->b");
    const auto& s = c.t.segments;
    ASSERT_EQ(kinds(c.t), "Begin Text If Text");
    EXPECT_EQ(s[0].endAt, 4u);
    EXPECT_EQ(s[2].endAt, 4u);
    EXPECT_EQ(s[2].elseAt, 4u);
    EXPECT_NE(c.messages.find("Missing 2 --END in mem.htx"), std::string::npos);
    EXPECT_NE(c.messages.find("Error! Block 'r' has no end tag"), std::string::npos);
    EXPECT_EQ(c.t.errors, 2);
}

TEST(TemplateCompile, NestingPast128IsAnErrorButRecorded) {
    std::string text;
    for (int i = 0; i < 130; ++i) text += "<!--#IF EXPR=\"1\"-->";
    text += "x";
    for (int i = 0; i < 130; ++i) text += "<!--#ENDIF-->";
    Compiled c;
    compile(c, text);
    EXPECT_EQ(c.t.segments.size(), 261u);
    EXPECT_EQ(c.t.errors, 2);
    EXPECT_NE(c.messages.find("Line 1: Too much nesting of #IF markers in mem.htx"), std::string::npos);
}

TEST(TemplateCompile, IncludeSetEchoAndComments) {
    Compiled c;
    compile(c,
            "<!--#INCLUDE FILE=head.htx PROCESS=NO--><!--#INCLUDE FILE=\"body.htx\"-->"
            "<!--#INCLUDE \"raw.txt\"--><!--#COMMENT anything \\{x} -->"
            "<!--#SET VAR=n COMPUTE=\"a + 1\" : a note-->"
            "<!--#ECHO VAR=m VALUE=\"${n}!\"--><!--#ECHO EXPR=\"2*3\"-->");
    ASSERT_EQ(kinds(c.t), "Include Include Include Set Echo Echo");
    const auto& s = c.t.segments;
    EXPECT_EQ(name(c.t, 0), "head.htx");
    EXPECT_FALSE(s[0].flags & HtmlSegment::kIncludeProcessed);
    EXPECT_TRUE(s[1].flags & HtmlSegment::kIncludeProcessed);
    EXPECT_EQ(name(c.t, 2), "raw.txt");
    EXPECT_FALSE(s[2].flags & HtmlSegment::kIncludeProcessed);
    EXPECT_TRUE(s[3].flags & HtmlSegment::kCompute);
    EXPECT_EQ(s[3].expr.entries.size(), 3u);
    EXPECT_EQ(c.t.textOf(s[4].value), "${n}!");
    EXPECT_TRUE(s[5].name.empty());
    EXPECT_EQ(c.t.errors, 0) << c.messages;
}

TEST(TemplateCompile, FormFields) {
    Compiled c;
    compile(c,
            "<form><INPUT TYPE=text NAME=plain>"
            "<input name=\"cust\" value=\"\\{customer}\" maxlength=10 size=5>"
            "<input type=checkbox name=ok value=YES>"
            "<input type=radio name=r value=1><input type=radio name=r value=2>"
            "<select name=s><option>one<option value=2> three  </select>"
            "<textarea name=ta rows=2 cols=10>\\{ta}</textarea>"
            "<input type=image name=map src=x.gif>"
            "<input type=submit value=Go><input type=reset>"
            "<input type=text value=x></form>");
    const auto& s = c.t.segments;
    std::vector<const HtmlSegment*> fields;
    for (const auto& g : s)
        if (g.kind != SEG_TEXT) fields.push_back(&g);
    ASSERT_EQ(fields.size(), 9u) << kinds(c.t);
    EXPECT_EQ(fields[0]->kind, SEG_VARIABLE);  // a text input without sizes
    EXPECT_EQ(fields[0]->size, 16);
    EXPECT_EQ(fields[0]->direction, HtmlSegment::kInput);
    EXPECT_EQ(fields[1]->kind, SEG_VARIABLE);  // the placeholder is the field
    EXPECT_EQ(c.t.textOf(fields[1]->name), "customer");
    EXPECT_EQ(c.t.textOf(fields[1]->altName), "cust");
    EXPECT_EQ(fields[1]->size, 10);
    EXPECT_EQ(fields[1]->direction, 3);
    EXPECT_EQ(fields[2]->kind, SEG_CHECKBOX);
    EXPECT_EQ(fields[2]->size, 1);  // no MAXLENGTH, SIZE or placeholder: at least 1
    EXPECT_EQ(fields[3]->kind, SEG_RADIO);
    EXPECT_EQ(fields[3]->rep, 1);
    EXPECT_EQ(fields[3]->maxRep, 2);
    EXPECT_EQ(fields[4]->rep, 2);
    EXPECT_EQ(fields[5]->kind, SEG_SELECT);
    EXPECT_EQ(fields[5]->size, 5);  // "three" without its blanks
    EXPECT_EQ(fields[6]->kind, SEG_TEXTAREA);
    EXPECT_EQ(fields[6]->size, 24);
    EXPECT_EQ(fields[6]->rows, 2);
    EXPECT_EQ(fields[7]->kind, SEG_VARIABLE);  // \{ta} inside the text area
    EXPECT_EQ(fields[8]->kind, SEG_INT);
    EXPECT_EQ(fields[8]->size, 8);
    EXPECT_TRUE(fields[8]->flags & HtmlSegment::kImage);
    EXPECT_FALSE(fields[8]->flags & HtmlSegment::kApp);
    // Nameless fields are warned about, except buttons such as reset.
    EXPECT_EQ(c.t.warnings, 2) << c.messages;
    EXPECT_NE(c.messages.find("Warning! missing NAME in mem.htx\n    at: <input type=submit"),
              std::string::npos);
}

// A text area's size: (columns + 2) x rows, or its placeholders' sizes
// when larger, computed without overflow and capped at 1,000,000 like any
// size the text gives (rows and columns near the int limit included).
TEST(TemplateCompile, TextAreaSizesAreCapped) {
    const struct {
        const char* area;
        int size;
    } cases[] = {
        {"<textarea name=t rows=2 cols=10></textarea>", 24},
        {"<textarea name=t rows=1 cols=1>\\{a SIZE=50}</textarea>", 50},
        {"<textarea name=t rows=1000 cols=1000></textarea>", 1000000},
        {"<textarea name=t rows=2147483647 cols=2147483647></textarea>", 1000000},
        {"<textarea name=t rows=99999999999 cols=99999999999></textarea>", 1000000},
        {"<textarea name=t>\\{a SIZE=1000000}\\{b SIZE=1000000}\\{c SIZE=1000000}</textarea>", 1000000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.area);
        Compiled t;
        compile(t, std::string("<form>") + c.area + "</form>");
        const HtmlSegment* area = nullptr;
        for (const auto& g : t.t.segments)
            if (g.kind == SEG_TEXTAREA) area = &g;
        ASSERT_NE(area, nullptr) << kinds(t.t);
        EXPECT_EQ(area->size, c.size);
    }
    // Many large placeholders cannot wrap the sum round either.
    std::string many = "<form><textarea name=t>";
    for (int i = 0; i < 2200; ++i) many += "\\{p" + std::to_string(i) + " SIZE=1000000}";
    Compiled t;
    compile(t, many + "</textarea></form>");
    for (const auto& g : t.t.segments) {
        if (g.kind == SEG_TEXTAREA) {
            EXPECT_EQ(g.size, 1000000);
        }
    }
}

TEST(TemplateCompile, XfcgiAttribute) {
    Compiled c;
    compile(c, "<input name=f1 XFCGI=\"cust SIZE=7 INT\"><input name=f2 XFCGI=cust>");
    std::vector<const HtmlSegment*> fields;
    for (const auto& g : c.t.segments)
        if (g.kind != SEG_TEXT) fields.push_back(&g);
    ASSERT_EQ(fields.size(), 2u);
    EXPECT_EQ(c.t.textOf(fields[1]->name), "f2");
    EXPECT_EQ(fields[0]->kind, SEG_INT);
    EXPECT_EQ(c.t.textOf(fields[0]->name), "cust");
    EXPECT_EQ(c.t.textOf(fields[0]->altName), "f1");
    EXPECT_EQ(fields[0]->size, 7);
    EXPECT_NE(c.messages.find("Error Line 1: XFCGI= Missing quote!"), std::string::npos);
}

TEST(TemplateCompile, RepeatedInputsGetSubscripts) {
    Compiled c;
    compile(c,
            "<!--#BEGIN NAME=o--><!--#BEGIN NAME=i-->"
            "<input name=\"q\"><input type=radio name=r value=1><input type=button name=b>"
            "<!--#END--><!--#END-->");
    std::vector<const HtmlSegment*> subs;
    for (const auto& g : c.t.segments)
        if (g.kind == SEG_SUBSCRIPT) subs.push_back(&g);
    ASSERT_EQ(subs.size(), 2u);
    EXPECT_EQ(subs[0]->level, 2);
    EXPECT_FALSE(subs[0]->flags & HtmlSegment::kRadioGroup);
    EXPECT_TRUE(subs[1]->flags & HtmlSegment::kRadioGroup);
    // The subscript follows the name inside its quotes.
    EXPECT_NE(kinds(c.t).find("Begin Begin Text Subscript Text"), std::string::npos) << kinds(c.t);
    EXPECT_EQ(c.t.textOf(c.t.segments[2].own), "<input name=\"q");
}

TEST(TemplateCompile, ScriptKeepsDirectivesAndPlaceholders) {
    Compiled c;
    compile(c,
            "<script>var a='<input name=x>';<!--#IF EXPR=\"f\"-->document.\\{f}.focus();"
            "<!--#ENDIF--></script>\\{after}");
    EXPECT_EQ(kinds(c.t), "Text If Text Variable Text End Text Variable");
    EXPECT_TRUE(c.t.segments[3].flags & HtmlSegment::kInScript);
    EXPECT_FALSE(c.t.segments[7].flags & HtmlSegment::kInScript);
}

TEST(TemplateCompile, DezurNamesAndSubstitutionList) {
    Compiled c;
    compile(c,
            "<!--#DEZUR-SUBSTITUTION-LIST (~ CUST-NO(6,1,'9(6)') = custno; LINE(10,3) = line; -->"
            "a ~custno~ b ~not a name~ \\{custno}");
    ASSERT_EQ(c.t.mainFields.size(), 2u);
    EXPECT_EQ(c.t.mainFields[0].name, "custno");
    EXPECT_EQ(c.t.mainFields[0].cobName, "CUST-NO");
    EXPECT_EQ(c.t.mainFields[0].kind, SEG_VARCHAR);
    EXPECT_EQ(c.t.mainFields[0].picture, "9(6)");
    EXPECT_EQ(c.t.mainFields[1].occurrences, 3);
    EXPECT_EQ(c.t.mainFields[1].location, 6);
    EXPECT_TRUE(c.t.flags & tcpHTML::kWebTables);
    ASSERT_EQ(kinds(c.t), "Text Variable Text Variable");
    EXPECT_EQ(name(c.t, 1), "custno");
    // Sized from the main table.
    EXPECT_EQ(c.t.segments[3].size, 6);
    EXPECT_TRUE(c.t.segments[3].flags & HtmlSegment::kSizedFromTable);

    // The main-table name matches without regard to case only.
    Compiled d;
    d.t.mainFields.resize(1);
    d.t.mainFields[0].name = "cust_no";
    d.t.mainFields[0].length = 7;
    compile(d, "<!--#DEZUR-CONVERTED-->~CUST_NO~");
    ASSERT_EQ(kinds(d.t), "Variable");
    EXPECT_EQ(d.t.segments[0].size, 7);
    compile(d, "<!--#DEZUR-CONVERTED-->~cust-no~");
    ASSERT_EQ(kinds(d.t), "Variable");
    EXPECT_EQ(d.t.segments[0].size, 0);
    EXPECT_FALSE(d.t.segments[0].flags & HtmlSegment::kSizedFromTable);
}

TEST(TemplateCompile, BlockChecksGoOnlyToTheErrorStream) {
    const std::string text =
        "<!--#BEGIN NAME=a-->x<!--#END NAME=b--><!--#BEGIN-->y<!--#BEGIN NAME=open-->z";
    Compiled c;
    compile(c, text);
    EXPECT_NE(c.messages.find("Warning! Block 'a' not match end tag 'b'"), std::string::npos);
    EXPECT_NE(c.messages.find("Missing 1 --END in mem.htx"), std::string::npos);
    EXPECT_NE(c.messages.find("Error! Block 'open' has no end tag"), std::string::npos);
    // Without an error stream the other messages go to the log with a
    // leading "#"; the block checks are only counted.
    LogCapture log("blocks.log");
    tcpHTML t;
    t.path = "log.htx";
    t.text = text;
    xFcgiCompileTemplate(t, nullptr);
    EXPECT_EQ(t.errors, c.t.errors);
    EXPECT_EQ(t.warnings, c.t.warnings);
    EXPECT_TRUE(log.contains("#BEGIN is missing NAME= in log.htx")) << log.text();
    EXPECT_FALSE(log.contains("not match end tag"));
    EXPECT_FALSE(log.contains("--END"));
    EXPECT_FALSE(log.contains("has no end tag"));
}

TEST(TemplateCompile, KeyWordAndDirectiveRecognition) {
    int skip = 0;
    const char* text = "<input  name  = x>";
    const char* v = xFcgiKeyWord(text + 6, "NAME", 4, &skip);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v, text + 15);
    EXPECT_EQ(skip, 9);
    EXPECT_EQ(xFcgiKeyWord(" names=1", "NAME", 4, &skip), nullptr);
    EXPECT_EQ(xFcgiKeyWord(" name 1", "NAME", 4, &skip), nullptr);

    EXPECT_EQ(isDirective("<!--#if expr", "#IF", &skip), 7);
    EXPECT_EQ(isDirective("<!-- #IF", "#IF", &skip), 0);
    EXPECT_EQ(isDirective("<!--#ELSE-IF", "#ELSE", &skip), 0);
    EXPECT_EQ(isDirective("<!--#ENDIF-->", "#END", &skip), 0);
    EXPECT_EQ(isDirective("<!--#END-->", "#END", &skip), 8);
    EXPECT_EQ(isDirective("<!--  BGN = rows", "BGN=", &skip), 11);
}

}  // namespace
