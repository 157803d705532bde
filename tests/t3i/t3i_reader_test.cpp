// .t3i field files: picture expansion, tables, locations, refusals.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "xfcgihtml.h"
#include "xfcgit3i.h"
#include "xml/log_capture.h"

namespace {

struct Mask {
    bool numeric;
    std::string expanded;
    int length, decimals;
};

Mask expand(const std::string& pic) {
    Mask m{};
    m.numeric = expandMask(pic, m.expanded, m.length, m.decimals);
    return m;
}

std::string writeFile(const std::string& name, const std::string& text) {
    std::ofstream(name) << text;
    return name;
}

}  // namespace

TEST(ExpandMask, PicturesFromTheFieldFiles) {
    Mask x = expand("X(10)");
    EXPECT_FALSE(x.numeric);
    EXPECT_EQ(x.length, 10);
    EXPECT_EQ(x.decimals, 0);

    Mask n = expand("9(5)V9(2)");
    EXPECT_TRUE(n.numeric);
    EXPECT_EQ(n.expanded, "9999999");
    EXPECT_EQ(n.length, 7);
    EXPECT_EQ(n.decimals, 2);

    Mask s = expand("S9(3)");
    EXPECT_EQ(s.length, 3);
    EXPECT_EQ(s.expanded, "S999");

    Mask lower = expand("9(3)v99");
    EXPECT_EQ(lower.expanded, "99999");
    EXPECT_EQ(lower.decimals, 2);

    Mask edited = expand("ZZ,ZZ9.99CR");
    EXPECT_TRUE(edited.numeric);
    EXPECT_EQ(edited.length, 7);
    EXPECT_EQ(edited.decimals, 2);
    EXPECT_EQ(edited.expanded, "ZZ,ZZ9.99CR");

    Mask u = expand("U(3)A");
    EXPECT_FALSE(u.numeric);
    EXPECT_EQ(u.length, 4);
}

// The signs a mask can give its number; the reader marks such fields.
TEST(ExpandMask, SignedPictures) {
    for (const char* pic : {"S9(3)", "s9(3)V99", "-ZZ9", "ZZ9-", "+ZZ9", "ZZ9+", "(ZZ9)", "ZZ9.99CR", "ZZ9db"})
        EXPECT_TRUE(xFcgiIsSignedPicture(pic)) << pic;
    for (const char* pic : {"9(3)", "ZZ,ZZ9.99", "$ZZ9", "2(4)", "9(3)V99", "Z9/99", "", "C"})
        EXPECT_FALSE(xFcgiIsSignedPicture(pic)) << pic;
}

TEST(ExpandMask, BlankWhenBlankDigitCountsLikeNine) {
    Mask m = expand("2(4)");
    EXPECT_TRUE(m.numeric);
    EXPECT_EQ(m.length, 4);
    EXPECT_EQ(m.expanded, "2222");
    Mask d = expand("2(3)V2(2)");
    EXPECT_EQ(d.length, 5);
    EXPECT_EQ(d.decimals, 2);
    Mask p = expand("22.2");
    EXPECT_EQ(p.length, 3);
    EXPECT_EQ(p.decimals, 1);
}

TEST(ExpandMask, RepeatCountsAreBounded) {
    LogCapture log;
    Mask zero = expand("X(0)");
    EXPECT_EQ(zero.length, 1);
    EXPECT_TRUE(log.contains("PROBLEM: with mask X(0); len 0"));
    Mask big = expand("9(99999999999)");
    EXPECT_EQ(big.length, 8192);
    EXPECT_EQ(big.expanded.size(), 8192u);
    EXPECT_TRUE(log.contains("very large"));
    // The line shows the count as written.
    Mask five = expand("X(99999)");
    EXPECT_EQ(five.length, 8192);
    EXPECT_TRUE(log.contains("PROBLEM: with mask X(99999); len 99999 very large"));
    Mask nothing = expand("(5)");  // nothing to repeat
    EXPECT_EQ(nothing.length, 0);
    Mask open = expand("X(3");  // unclosed repeat
    EXPECT_EQ(open.length, 3);
    std::string many;
    for (int i = 0; i < 400; ++i) many += "X(8192)";
    Mask huge = expand(many);
    EXPECT_EQ(huge.length, 400 * 8192);
    EXPECT_LE(huge.expanded.size(), 65536u);
}

TEST(LoadDataDesc, TablesLocationsAndListing) {
    LogCapture log("capture.log", "qt");
    writeFile("p.t3i",
              "<records>\n"
              " <record type=\"toweb\">\n"
              "  <field name=\"a\" cobname=\"A-COB\" mask=\"X(4)\" occurs=\"3\"/>\n"
              "  <field name=\"b\" mask=\"9(5)V9(2)\"/>\n"
              " </record>\n"
              " <record type=\"fromweb\">\n"
              "  <FIELD NAME=\"c\" MASK=\"X(2)\" PAD=\"2\"/>\n"
              "  <field name=\"d\" mask=\"S9(3)\" default=\"ignored\"/>\n"
              " </record>\n"
              "</records>\n");
    tcpHTML t;
    ASSERT_EQ(xFcgiLoadDataDesc(&t, "p.t3i", true), 1);
    ASSERT_EQ(t.towebFields.size(), 2u);
    const TemplateField& a = t.towebFields[0];
    EXPECT_EQ(a.name, "a");
    EXPECT_EQ(a.cobName, "A-COB");
    EXPECT_EQ(a.kind, 1u);
    EXPECT_EQ(a.location, 0);
    EXPECT_EQ(a.length, 4u);
    EXPECT_EQ(a.occurrences, 3);
    EXPECT_EQ(a.elementLength, 4);
    EXPECT_EQ(a.picture, "X(4)");
    const TemplateField& b = t.towebFields[1];
    EXPECT_EQ(b.location, 12);
    EXPECT_EQ(b.length, 7u);
    EXPECT_EQ(b.decimals, 2);
    EXPECT_EQ(b.picture, "9999999");
    EXPECT_EQ(b.occurrences, 0);
    EXPECT_EQ(b.elementLength, 0);

    ASSERT_EQ(t.fromwebFields.size(), 2u);
    EXPECT_EQ(t.fromwebFields[0].location, 0);  // a new group starts at 0
    EXPECT_EQ(t.fromwebFields[0].pad, 2);
    EXPECT_EQ(t.fromwebFields[1].location, 4);  // behind c and its pad
    EXPECT_EQ(t.fromwebFields[1].picture, "S999");
    EXPECT_TRUE(t.fromwebFields[1].flags & TemplateField::kSigned);
    EXPECT_FALSE(b.flags & TemplateField::kSigned);
    EXPECT_TRUE(t.mainFields.empty());
    EXPECT_TRUE(t.flags & tcpHTML::kWebTables);
    EXPECT_EQ(t.screenSize, 19);
    EXPECT_EQ(t.fccModCount, 8);
    EXPECT_EQ(t.t3iPath, "p.t3i");

    std::string text = log.text();
    EXPECT_NE(text.find("Loaded t3i file: p.t3i mcssize=19, #fccmods=8"), std::string::npos);
    char line[200];
    std::snprintf(line, sizeof line, "%-30s %-10s   Loc  Len  Occ  Adj Pad\n", "Send To Web",
                  "Mask");
    EXPECT_NE(text.find(line), std::string::npos);
    std::snprintf(line, sizeof line, "%-30s %-10s %5d %4d %4d %4d %3d\n", "a", "X(4)", 0, 4, 3,
                  4, 0);
    EXPECT_NE(text.find(line), std::string::npos);
    std::snprintf(line, sizeof line, "%-30s %-10s %5d %4d %4d %4d %3d\n", "b", "9999999", 12, 7,
                  0, 0, 0);
    EXPECT_NE(text.find(line), std::string::npos);
    EXPECT_NE(text.find("Read From Web"), std::string::npos);
    EXPECT_EQ(text.find("MCS Fields"), std::string::npos);  // empty tables are not listed
}

TEST(LoadDataDesc, MainRecordAndDefaults) {
    writeFile("m.t3i",
              "<record type=\"main\">\n"
              "  <field mask=\"X(3)\"/>\n"  // no name: empty, still placed
              "  <field name=\"n\"/>\n"       // no mask: length 1
              "  <field name=\"r\" mask=\"X\" occurs=\"1\"/>\n"
              "</record>\n"
              "<field name=\"s\"/>\n");
    tcpHTML t;
    t.flags = tcpHTML::kWebTables;
    ASSERT_EQ(xFcgiLoadDataDesc(&t, "m.t3i", false), 1);
    ASSERT_EQ(t.mainFields.size(), 4u);
    EXPECT_EQ(t.mainFields[0].name, "");
    EXPECT_EQ(t.mainFields[1].location, 3);
    EXPECT_EQ(t.mainFields[1].length, 1u);
    EXPECT_EQ(t.mainFields[1].picture, "");
    EXPECT_EQ(t.mainFields[2].occurrences, 0);  // occurs counts from 2 on
    EXPECT_EQ(t.mainFields[3].location, 5);
    EXPECT_FALSE(t.flags & tcpHTML::kWebTables);  // "main" clears it
    EXPECT_EQ(t.screenSize, 6);
}

TEST(LoadDataDesc, FieldsBeforeAnyRecordAndOtherTypes) {
    writeFile("o.t3i",
              "<field name=\"x\" mask=\"X(5)\"/>\n"
              "<record type=\"details\"><field name=\"y\" mask=\"X(2)\"/></record>\n"
              "<record><field name=\"z\"/></record>\n");
    tcpHTML t;
    ASSERT_EQ(xFcgiLoadDataDesc(&t, "o.t3i", false), 1);
    ASSERT_EQ(t.mainFields.size(), 3u);
    EXPECT_EQ(t.mainFields[0].location, 0);
    EXPECT_EQ(t.mainFields[1].location, 0);  // "details" restarts the location
    EXPECT_EQ(t.mainFields[2].location, 2);  // a record without type does not
}

TEST(LoadDataDesc, MissingFileKeepsTables) {
    LogCapture log;
    tcpHTML t;
    t.mainFields.resize(2);
    EXPECT_EQ(xFcgiLoadDataDesc(&t, "nowhere.t3i", false), 0);
    EXPECT_EQ(t.mainFields.size(), 2u);
    EXPECT_TRUE(log.contains("No t3i file: nowhere.t3i 'No such file or directory'"));
}

TEST(LoadDataDesc, OutOfRangeFieldsRefuseTheWholeFile) {
    const char* bad[] = {
        "<field name=\"o\" mask=\"X\" occurs=\"40000\"/>",
        "<field name=\"p\" mask=\"X\" pad=\"256\"/>",
        "<field name=\"p\" mask=\"X\" pad=\"-1\"/>",
        "<field name=\"l\" mask=\"X(8192)\" occurs=\"9\"/>",
        "<field mask=\"X(8192)\"/><field mask=\"X(8192)\"/><field mask=\"X(8192)\"/>"
        "<field mask=\"X(8192)\"/><field mask=\"X(8192)\"/><field mask=\"X(8192)\"/>"
        "<field mask=\"X(8192)\"/><field mask=\"X(8192)\"/><field mask=\"X\"/>",
        "<field name=\"d\" mask=\"V9(300)\"/>",
        "<field name=\"n\" mask=\"X\" occurs=\"99999999999999999999\"/>",
        "<field name=\"h\" mask=\"9(3)\" hidden=\"2\"/>",   // more hidden digits than bytes before it
        "<field name=\"h\" mask=\"9(3)\" hidden=\"-1\"/>",
        "<field name=\"t\" mask=\"X(3)\" hidden=\"1\"/>",   // hidden digits before a text
        "<field name=\"f\" mask=\"X\" fccindex=\"-2\"/>",
    };
    for (const char* body : bad) {
        LogCapture log;
        writeFile("bad.t3i", std::string("<record type=\"toweb\"><field name=\"ok\"/>") + body +
                                 "</record>");
        tcpHTML t;
        EXPECT_EQ(xFcgiLoadDataDesc(&t, "bad.t3i", false), 0) << body;
        EXPECT_TRUE(t.towebFields.empty() && t.mainFields.empty()) << body;
        EXPECT_TRUE(log.contains("refused")) << body;
    }
    // The largest placement that still fits is accepted.
    writeFile("edge.t3i", "<field mask=\"X(8192)\" occurs=\"7\" pad=\"255\"/>"
                          "<field mask=\"X(7932)\" pad=\"4\"/>");
    tcpHTML t;
    EXPECT_EQ(xFcgiLoadDataDesc(&t, "edge.t3i", false), 1);
    EXPECT_EQ(t.screenSize, 65535);
}

// What the converter adds: the root that marks its files, the digits a
// mask hides, the field-control index and protection. Files without them
// read as before.
TEST(LoadDataDesc, ConverterMarkers) {
    writeFile("c.t3i", "<records converted=\"yes\"><record type=\"toweb\">"
                       "<field name=\"filler\" mask=\"X(2)\"/>"
                       "<field name=\"n\" mask=\"ZZ9\" hidden=\"2\" fccindex=\"0\" protected=\"yes\"/>"
                       "<field name=\"a\" mask=\"X(2)\" fccindex=\"3\"/></record></records>");
    tcpHTML t;
    ASSERT_EQ(xFcgiLoadDataDesc(&t, "c.t3i", false), 1);
    EXPECT_TRUE(t.flags & tcpHTML::kConverted);
    EXPECT_TRUE(t.flags & tcpHTML::kWebTables);
    EXPECT_FALSE(xFcgiHostStyle(t)) << "signs and blanks as on a main-record page";
    ASSERT_EQ(t.towebFields.size(), 3u);
    const TemplateField& n = t.towebFields[1];
    EXPECT_EQ(n.location, 2);
    EXPECT_EQ(n.hidden, 2);
    EXPECT_EQ(n.fccIndex, 0);
    EXPECT_TRUE(n.flags & TemplateField::kProtected);
    EXPECT_EQ(t.towebFields[2].fccIndex, 3);
    EXPECT_FALSE(t.towebFields[2].flags & TemplateField::kProtected);

    // A file of an earlier build, loaded into the same template.
    writeFile("old.t3i", "<record type=\"toweb\"><field name=\"n\" mask=\"ZZ9\"/></record>");
    ASSERT_EQ(xFcgiLoadDataDesc(&t, "old.t3i", false), 1);
    EXPECT_FALSE(t.flags & tcpHTML::kConverted);
    EXPECT_TRUE(xFcgiHostStyle(t));
    EXPECT_EQ(t.towebFields[0].hidden, 0);
    EXPECT_EQ(t.towebFields[0].fccIndex, -1);
}

TEST(LoadDataDesc, BrokenXmlUsesWhatWasRead) {
    LogCapture log;
    writeFile("x.t3i", "<record type=\"toweb\"><field name=\"a\" mask=\"X(2)\"/></wrong>"
                       "<field name=\"b\"/>");
    tcpHTML t;
    EXPECT_EQ(xFcgiLoadDataDesc(&t, "x.t3i", false), 1);
    ASSERT_EQ(t.towebFields.size(), 1u);
    EXPECT_TRUE(log.contains("XML error -2"));
}

