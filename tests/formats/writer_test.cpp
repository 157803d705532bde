// Pages and field files of hand-built formats, byte for byte: the page
// skeleton, the table layout (column widths, gaps, rows skipped), every
// kind of field at the three field-control levels, the field file in step
// with the host data (pads, cut masks, toweb/fromweb), escaping, the
// style-sheet link and the additional HTML.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "ZelMCSConverter.h"
#include "format_bytes.h"

using namespace fmt_test;

namespace {

struct Converted {
    Result result = Result::FormatGeneric;
    std::string htx, t3i;
};

Converted ConvertBytes(const std::string &bytes, FccModsLevel level = FccModsNone, const std::string &style = "",
                       const std::string &additional = "") {
    mkdir("out", 0755);
    std::remove("out/test.htx");
    std::remove("out/test.t3i");
    CZelMCSConverter c;
    c.SetOutputDirectory("out");
    c.SetFccModsStyle(level);
    c.SetStylesheetFile(style);
    c.SetAdditionalHTMLFile(additional);
    CBuffer b(bytes.data(), static_cast<int>(bytes.size()));
    Converted out;
    out.result = c.Convert(b);
    out.htx = Slurp("out/test.htx");
    out.t3i = Slurp("out/test.t3i");
    return out;
}

// The field part of a page: after the FORM line, up to the hidden fields.
std::string Body(const std::string &htx) {
    const size_t form = htx.find("<FORM ");
    const size_t start = htx.find('\n', form) + 1;
    const size_t end = htx.find("            <INPUT TYPE=HIDDEN NAME=\"McsStatus\"");
    return form == std::string::npos || end == std::string::npos ? "?" : htx.substr(start, end - start);
}

std::string Room(const std::string &htx) {
    const std::string key = "NAME=\"McsCount\" VALUE=\"";
    const size_t at = htx.find(key);
    return at == std::string::npos ? "?" : htx.substr(at + key.size(), htx.find('"', at + key.size()) - at - key.size());
}

// A converter's field file: its records inside the root that marks it.
std::string Root(const std::string &records) {
    return records.empty() ? records : "<records converted=\"yes\">\n" + records + "</records>\n";
}

const std::string I36(36, ' ');
const std::string kNbsp10 = "&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;";

std::string Input(const char *cls, const char *filters, const std::string &name, int len, const char *type = "TEXT") {
    const std::string n = std::to_string(len);
    return std::string("<INPUT CLASS=\"") + cls + "\" TYPE=" + type + " onfocus=\"javascript:EnableFilter(" + filters +
           ");SelectOnFocus(this)\" onblur=\"javascript:DisableFilter(this)\" NAME=\"" + name + "\" SIZE=" + n + " MAXLENGTH=" + n +
           " VALUE=\"\\{" + name + "}\">";
}

const char *const kPlain = "false,false,false";

TEST(PageWriter, TheEmptyFormatIsTheSkeleton) {
    const char *src = std::getenv("QOR_SOURCE_DIR");
    ASSERT_NE(src, nullptr);
    const Converted c = ConvertBytes(Format(""));
    ASSERT_EQ(c.result, Result::Success);
    EXPECT_EQ(c.htx, Slurp(std::string(src) + "/tests/formats/golden/empty.htx"));
    EXPECT_EQ(c.t3i, "");
}

struct PageCase {
    const char *what;
    std::string area;
    FccModsLevel level;
    std::string body;
    std::string t3i;
    std::string room;
};

TEST(PageWriter, LayoutsAndFieldsByteForByte) {
    const PageCase cases[] = {
        {"gaps and widths: 12.5 rounds down, the last field takes the rest",
         B({0xCA, 20, 0x42, 0, 0xCA, 10, 0x42, 0}), FccModsNone,
         "            <TABLE>\n"
         "                <COL WIDTH=\"12%\">\n"
         "                <COL WIDTH=\"25%\">\n"
         "                <COL WIDTH=\"12%\">\n"
         "                <COL WIDTH=\"51%\">\n"
         "                <TD>" + kNbsp10 + "</TD>\n"
         "                <TD>\n" +
             I36 + Input("DATA_NORMAL", kPlain, "field_001", 20) + "\n"
             "                </TD>\n"
             "                <TD>" + kNbsp10 + "</TD>\n"
             "                <TD>\n" +
             I36 + Input("DATA_NORMAL", kPlain, "field_002", 10) + "\n"
             "                </TD>\n"
             "            </TABLE>\n",
         "<record type=\"main\">\n"
         "    <field name=\"field_001\" mask=\"X(20)\"/>\n"
         "    <field name=\"field_002\" mask=\"X(10)\"/>\n"
         "</record>\n",
         "30"},
        // 22/80 is 27.5 exactly (in doubles a hair above): 27. A first row
        // of 1 gets no <BR>, rows 1 and 4 two.
        {"exact halves and skipped rows",
         B({0, 0x14, 0, 22, 0x93, 0}) + "ABCDEFGHIJKLMNOPQRSTUV" + B({10, 0x82, 0, 0, 0x14, 0, 0, 0x14, 0, 0, 0x14, 0, 80, 0x82, 0}),
         FccModsNone,
         "            <TABLE>\n"
         "                <COL WIDTH=\"27%\">\n"
         "                <COL WIDTH=\"73%\">\n"
         "                <TD>\n" +
             I36 + "<SPAN CLASS=\"HEADING\">ABCDEFGHIJKLMNOPQRSTUV</SPAN>\n"
             "                </TD>\n"
             "                <TD>\n" +
             I36 + Input("DATA_READONLY", kPlain, "field_002", 10) + "\n"
             "                </TD>\n"
             "            </TABLE>\n"
             "                <BR>\n"
             "                <BR>\n"
             "            <TABLE>\n"
             "                <COL WIDTH=\"100%\">\n"
             "                <TD>\n" +
             I36 + Input("DATA_READONLY", kPlain, "field_003", 80) + "\n"
             "                </TD>\n"
             "            </TABLE>\n",
         "<record type=\"main\">\n"
         "    <field name=\"field_002\" mask=\"X(10)\"/>\n"
         "    <field name=\"field_003\" mask=\"X(80)\"/>\n"
         "</record>\n",
         "90"},
        {"host text escaped, system values and the error text",
         B({12, 0x93, 0}) + "A<B & C\t\\{x}" + B({8, 0x97, 0, 4, 0x12, 0}), FccModsFull,
         "            <TABLE>\n"
         "                <COL WIDTH=\"15%\">\n"
         "                <COL WIDTH=\"10%\">\n"
         "                <COL WIDTH=\"75%\">\n"
         "                <TD>\n" +
             I36 + "<SPAN CLASS=\"HEADING\">A&lt;B &amp; C &#92;{x}</SPAN>\n"
             "                </TD>\n"
             "                <TD>\n" +
             I36 + "<SPAN CLASS=\"SPECIAL\">\\{pib.date}</SPAN>\n"
             "                </TD>\n"
             "                <TD>\n" +
             I36 + "<SPAN CLASS=\"ERROR\">\\{mcs.error}</SPAN>\n"
             "                </TD>\n"
             "            </TABLE>\n",
         "", "0"},
        {"limited: unprotected and protected inputs", B({2, 0x42, 0, 3, 0x82, 0}), FccModsLimited,
         "            <TABLE>\n"
         "                <COL WIDTH=\"2%\">\n"
         "                <COL WIDTH=\"98%\">\n"
         "                <TD>\n" +
             I36 + "<!--#if expr = \"(mcs.fccmods[0].protected eq 0) and (mcs.filler ne ' ')\"-->\n" +
             I36 + "    " + Input("DATA_NORMAL", kPlain, "field_001", 2) + "\n" +
             I36 + "<!--#else-->\n" +
             I36 + "    <SPAN CLASS=\"DATA_NORMAL\">\\{field_001}</SPAN>\n" +
             I36 + "    <INPUT TYPE=HIDDEN NAME=\"field_001\" VALUE=\"\\{field_001}\">\n" +
             I36 + "<!--#endif-->\n\n"
             "                </TD>\n"
             "                <TD>\n" +
             I36 + "<!--#if expr = \"mcs.fccmods[1].unprotected\"-->\n" +
             I36 + "    " + Input("DATA_READONLY", kPlain, "field_002", 3) + "\n" +
             I36 + "<!--#else-->\n" +
             I36 + "    <SPAN CLASS=\"DATA_READONLY\">\\{field_002}</SPAN>\n" +
             I36 + "    <INPUT TYPE=HIDDEN NAME=\"field_002\" VALUE=\"\\{field_002}\">\n" +
             I36 + "<!--#endif-->\n\n"
             "                </TD>\n"
             "            </TABLE>\n",
         "<record type=\"main\">\n"
         "    <field name=\"field_001\" mask=\"X(2)\" fccindex=\"0\"/>\n"
         "    <field name=\"field_002\" mask=\"X(3)\" fccindex=\"1\" protected=\"yes\"/>\n"
         "</record>\n",
         "5"},
        {"full: a field of the dark colour 1 and one of another colour", B({2, 0x42, 1, 2, 0x42, 0}), FccModsFull,
         "            <TABLE>\n"
         "                <COL WIDTH=\"2%\">\n"
         "                <COL WIDTH=\"98%\">\n"
         "                <TD>\n" +
             I36 + "<!--#if expr = \"(mcs.fccmods[0].protected eq 0) and (mcs.filler ne ' ')\"-->\n" +
             I36 + "    <!--#if expr = \"(mcs.fccmods[0].off) or (mcs.fccmods[0].mask.video eq 0)\"-->\n" +
             I36 + "        " + Input("DATA_NORMAL", kPlain, "field_001", 2, "PASSWORD") + "\n" +
             I36 + "    <!--#else-->\n" +
             I36 + "        " + Input("DATA_NORMAL", kPlain, "field_001", 2) + "\n" +
             I36 + "    <!--#endif-->\n" +
             I36 + "<!--#else-->\n" +
             I36 + "    <!--#if expr = \"(mcs.fccmods[0].off eq 0) and (mcs.fccmods[0].mask.video)\"-->\n" +
             I36 + "        <SPAN CLASS=\"DATA_NORMAL\">\\{field_001}</SPAN>\n" +
             I36 + "    <!--#endif-->\n" +
             I36 + "    <INPUT TYPE=HIDDEN NAME=\"field_001\" VALUE=\"\\{field_001}\">\n" +
             I36 + "<!--#endif-->\n" +
             I36 + "<!--#if expr = \"mcs.fccmods[0].blink\"-->\n" +
             "    " + I36 + "<SPAN CLASS=\"DATA_NORMAL\"> *</SPAN>\n" +
             I36 + "<!--#endif-->\n"
             "                </TD>\n"
             "                <TD>\n" +
             I36 + "<!--#if expr = \"(mcs.fccmods[1].protected eq 0) and (mcs.filler ne ' ')\"-->\n" +
             I36 + "    <!--#if expr = \"mcs.fccmods[1].off\"-->\n" +
             I36 + "        " + Input("DATA_NORMAL", kPlain, "field_002", 2, "PASSWORD") + "\n" +
             I36 + "    <!--#else-->\n" +
             I36 + "        " + Input("DATA_NORMAL", kPlain, "field_002", 2) + "\n" +
             I36 + "    <!--#endif-->\n" +
             I36 + "<!--#else-->\n" +
             I36 + "    <!--#if expr = \"mcs.fccmods[1].off eq 0\"-->\n" +
             I36 + "        <SPAN CLASS=\"DATA_NORMAL\">\\{field_002}</SPAN>\n" +
             I36 + "    <!--#endif-->\n" +
             I36 + "    <INPUT TYPE=HIDDEN NAME=\"field_002\" VALUE=\"\\{field_002}\">\n" +
             I36 + "<!--#endif-->\n" +
             I36 + "<!--#if expr = \"mcs.fccmods[1].blink\"-->\n" +
             "    " + I36 + "<SPAN CLASS=\"DATA_NORMAL\"> *</SPAN>\n" +
             I36 + "<!--#endif-->\n"
             "                </TD>\n"
             "            </TABLE>\n",
         "<record type=\"main\">\n"
         "    <field name=\"field_001\" mask=\"X(2)\" fccindex=\"0\"/>\n"
         "    <field name=\"field_002\" mask=\"X(2)\" fccindex=\"1\"/>\n"
         "</record>\n",
         "4"},
    };
    for (const PageCase &c : cases) {
        const Converted out = ConvertBytes(Format(c.area), c.level);
        ASSERT_EQ(out.result, Result::Success) << c.what;
        EXPECT_EQ(Body(out.htx), c.body) << c.what;
        EXPECT_EQ(out.t3i, Root(c.t3i)) << c.what;
        EXPECT_EQ(Room(out.htx), c.room) << c.what;
    }
}

// Each kind's key filter, and protection that plays no part without field
// control modifications.
TEST(PageWriter, FiltersPerKind) {
    const Converted out = ConvertBytes(Format(B({2, 0x41, 0, 2, 0x44, 0, 2, 0x42, 0, 3, 0x49, 0, 2, 0x82, 0})));
    ASSERT_EQ(out.result, Result::Success);
    for (const std::string &input :
         {Input("DATA_NORMAL", "true,false,false", "field_001", 2), Input("DATA_NORMAL", "true,true,false", "field_002", 2),
          Input("DATA_NORMAL", kPlain, "field_003", 2), Input("DATA_NORMAL", "false,false,true", "field_004", 3),
          Input("DATA_READONLY", kPlain, "field_005", 2)})
        EXPECT_NE(out.htx.find(I36 + input + "\n"), std::string::npos) << input;
    EXPECT_EQ(out.t3i, Root("<record type=\"main\">\n"
                       "    <field name=\"field_001\" mask=\"U(2)\"/>\n"
                       "    <field name=\"field_002\" mask=\"A(2)\"/>\n"
                       "    <field name=\"field_003\" mask=\"X(2)\"/>\n"
                       "    <field name=\"field_004\" mask=\"9(3)\"/>\n"
                       "    <field name=\"field_005\" mask=\"X(2)\"/>\n"
                       "</record>\n"));
}

// The field file follows the host data: host digits beyond a mask become
// pad (the field says it hides them), a mask with more digits than the host keeps loses its first ones,
// input-only fields of an SFS format have a layout per direction, and the
// error line after the SFS error indicator keeps its room.
TEST(FieldFile, StaysInStepWithTheHostData) {
    struct Case {
        const char *what;
        std::string area;
        int flags29;
        std::string t3i;
        std::string room;
    } cases[] = {
        // The high digits of a wide host number lie before its picture.
        {"pads and cut masks",
         B({2, 0x42, 0, 3, 0x4C, 0, 0, 5}) + "ZZ9" + B({4, 0x42, 0}) + B({10, 0x4C, 0, 2, 6}) + "ZZZ,ZZ9.99" +
             B({2, 0x42, 0}),
         0,
         "<record type=\"main\">\n"
         "    <field name=\"field_001\" mask=\"X(2)\" pad=\"2\"/>\n"
         "    <field name=\"field_002\" mask=\"ZZ9\" hidden=\"2\"/>\n"
         "    <field name=\"field_003\" mask=\"X(4)\"/>\n"
         "    <field name=\"field_004\" mask=\"Z,ZZ9.99\"/>\n"
         "    <field name=\"field_005\" mask=\"X(2)\"/>\n"
         "</record>\n",
         "19"},
        {"a wide number first: a filler line", B({3, 0x4C, 0, 0, 5}) + "ZZ9", 0,
         "<record type=\"main\">\n"
         "    <field name=\"filler\" mask=\"X(2)\"/>\n"
         "    <field name=\"field_001\" mask=\"ZZ9\" hidden=\"2\"/>\n"
         "</record>\n",
         "5"},
        {"input only and the SFS error line",
         B({1, 0x1F, 3}) + "7" + B({4, 0x42, 0, 3, 0x42, 0x20, 2, 0x42, 0, 0, 0x14, 0, 0, 0x10, '7', 20, 0x02, 0, 2, 0x42, 0}),
         0x20,
         "<record type=\"toweb\">\n"
         "    <field name=\"field_001\" mask=\"X(4)\"/>\n"
         "    <field name=\"field_003\" mask=\"X(2)\"/>\n"
         "    <field name=\"field_004\" mask=\"X(20)\"/>\n"
         "    <field name=\"field_005\" mask=\"X(2)\"/>\n"
         "    <field name=\"field_002\" mask=\"X(3)\"/>\n"
         "</record>\n"
         "<record type=\"fromweb\">\n"
         "    <field name=\"field_001\" mask=\"X(4)\"/>\n"
         "    <field name=\"field_002\" mask=\"X(3)\"/>\n"
         "    <field name=\"field_003\" mask=\"X(2)\"/>\n"
         "    <field name=\"field_004\" mask=\"X(20)\"/>\n"
         "    <field name=\"field_005\" mask=\"X(2)\"/>\n"
         "</record>\n",
         "31"},
        // A logical field begin of no width shares its place with the data
        // field after it: both are written, in the format's order.
        {"two fields at one place", B({0, 0x1E, 255, 2, 0x42, 0, 3, 0x42, 0}), 0,
         "<record type=\"main\">\n"
         "    <field name=\"field_002\" mask=\"X(2)\"/>\n"
         "    <field name=\"field_003\" mask=\"X(3)\"/>\n"
         "</record>\n",
         "5"},
        {"default text escaped", B({6, 0x42, 0x40}) + "a\"<b&c", 0,
         "<record type=\"main\">\n"
         "    <field name=\"field_001\" mask=\"X(6)\" default=\"a&quot;&lt;b&amp;c\"/>\n"
         "</record>\n",
         "6"},
        // The edit byte's sign (leading minus, trailing minus, CR): S before
        // the mask, as the merge reads it; no sign, no S.
        {"signed masks", B({3, 0x4C, 0, 0x10, 3}) + "ZZ9" + B({3, 0x4C, 0, 0x21, 2}) + "9.9" +
             B({3, 0x4C, 0, 0x40, 3}) + "ZZ9" + B({3, 0x4C, 0, 0x00, 3}) + "ZZ9", 0,
         "<record type=\"main\">\n"
         "    <field name=\"field_001\" mask=\"SZZ9\"/>\n"
         "    <field name=\"field_002\" mask=\"S9.9\"/>\n"
         "    <field name=\"field_003\" mask=\"SZZ9\"/>\n"
         "    <field name=\"field_004\" mask=\"ZZ9\"/>\n"
         "</record>\n",
         "11"},
        {"a host edit mask keeps only mask characters", B({4, 0x4C, 0, 0, 2}) + "9\"<9" + B({2, 0x42, 0}), 0,
         "<record type=\"main\">\n"
         "    <field name=\"field_001\" mask=\"9(2)\"/>\n"
         "    <field name=\"field_002\" mask=\"X(2)\"/>\n"
         "</record>\n",
         "4"},
    };
    for (const Case &c : cases) {
        Hdr h;
        h.flags29 = c.flags29;
        const Converted out = ConvertBytes(Format(c.area, h));
        ASSERT_EQ(out.result, Result::Success) << c.what;
        EXPECT_EQ(out.t3i, Root(c.t3i)) << c.what;
        EXPECT_EQ(Room(out.htx), c.room) << c.what;
    }
    // The error line shows, protected.
    Hdr sfs;
    sfs.flags29 = 0x20;
    const Converted out = ConvertBytes(Format(std::string(cases[2].area), sfs));
    EXPECT_NE(out.htx.find(Input("DATA_READONLY", kPlain, "field_004", 20)), std::string::npos);
}

TEST(PageWriter, StyleSheetLinkAndAdditionalHtml) {
    // The page names the file without its folders.
    mkdir("add", 0755);
    std::ofstream("add/extra.html") << "<P>extra \\{pib.user}</P>\n";
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    const Converted out = ConvertBytes(Format(B({2, 0x42, 0})), FccModsNone, "/css/a\"b\\c.css",
                                       std::string(cwd) + "/add/extra.html");
    ASSERT_EQ(out.result, Result::Success);
    EXPECT_NE(out.htx.find("        <TITLE></TITLE>\n"
                           "        <LINK REL=\"stylesheet\" HREF=\"/css/a&quot;b&#92;c.css\" TYPE=\"text/css\">\n"
                           "    </HEAD>\n"),
              std::string::npos)
        << out.htx;
    EXPECT_EQ(out.htx.find("<STYLE>"), std::string::npos);
    EXPECT_NE(out.htx.find("            <INPUT TYPE=HIDDEN NAME=\"McsCount\" VALUE=\"2\">\n"
                           "    <!-- Following is a contents of the file extra.html -->\n"
                           "<P>extra \\{pib.user}</P>\n\n"
                           "    <!-- End of a  contents of the file extra.html -->\n"
                           "        </FORM>\n"),
              std::string::npos)
        << out.htx;
    EXPECT_EQ(out.htx.find(cwd), std::string::npos);
    // A file that cannot be read adds nothing.
    const Converted none = ConvertBytes(Format(B({2, 0x42, 0})), FccModsNone, "", "missing.html");
    EXPECT_EQ(none.htx.find("Following is"), std::string::npos);
    EXPECT_NE(none.htx.find("        <STYLE>\n"), std::string::npos);
}

}  // namespace
