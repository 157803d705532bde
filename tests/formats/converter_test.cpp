// The converter's files: names, results of formats that cannot be read or
// files that cannot be written (nothing half-written stays), the function
// keys, the layouts no conversion chooses, and fields written back as
// descriptors.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <fstream>
#include <set>
#include <sstream>

#include "ArcTFDFormatSaver.h"
#include "ArcTFDIntConnFilesInfo.h"
#include "ZelMCSConverter.h"
#include "format_bytes.h"
#include "xml/log_capture.h"

using namespace fmt_test;

namespace {

// Every name in a folder, hidden temporary files included.
std::set<std::string> Files(const std::string &dir) {
    std::set<std::string> out;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d)) out.insert(e->d_name);
        closedir(d);
    }
    out.erase(".");
    out.erase("..");
    return out;
}

std::string Fresh(const std::string &dir) {
    std::system(("rm -rf '" + dir + "'").c_str());
    mkdir(dir.c_str(), 0755);
    return dir;
}

Result ConvertBuffer(CZelMCSConverter &c, const std::string &bytes, const std::string *name = nullptr) {
    CBuffer b(bytes.data(), static_cast<int>(bytes.size()));
    return name ? c.Convert(b, *name) : c.Convert(b);
}

TEST(Converter, FilesAreNamedAfterTheFormatOrTheScreen) {
    Hdr h;
    h.name = "ORD_01";
    const std::string bytes = Format(B({2, 0x42, 0}), h);
    const std::string dir = Fresh("names");
    CZelMCSConverter c;
    for (const char *out : {"names", "names/"}) {
        c.SetOutputDirectory(out);
        EXPECT_EQ(c.GetOutputDirectory(), "names/");
        ASSERT_EQ(ConvertBuffer(c, bytes), Result::Success);
        EXPECT_EQ(Files(dir), (std::set<std::string>{"orda01.htx", "orda01.t3i"}));
    }
    // The gateway names the files after the screen it asked for.
    const std::string screen = "Menu_X  ";
    ASSERT_EQ(ConvertBuffer(c, bytes, &screen), Result::Success);
    EXPECT_EQ(Files(dir), (std::set<std::string>{"orda01.htx", "orda01.t3i", "menuax.htx", "menuax.t3i"}));
    const std::string bad = "../up";
    EXPECT_EQ(ConvertBuffer(c, bytes, &bad), Result::FormatConversionError);
    // Without an output directory: the working directory.
    CZelMCSConverter here;
    std::remove("orda01.htx");
    ASSERT_EQ(ConvertBuffer(here, bytes), Result::Success);
    EXPECT_FALSE(Slurp("orda01.htx").empty());
}

TEST(Converter, FailuresAreReportedAndLeaveNothingBehind) {
    LogCapture log("converter.log");
    const std::string dir = Fresh("fail");
    const std::string good = Format(B({2, 0x42, 0}));
    std::ofstream("fail.t3z", std::ios::binary) << good;
    std::ofstream("short.t3z", std::ios::binary) << good.substr(0, 40);
    std::ofstream("unknown.t3z", std::ios::binary) << Format(B({4, 0x05, 0}));

    CZelMCSConverter c;
    c.SetOutputDirectory(dir);
    EXPECT_EQ(c.Convert(std::string("missing.t3z")), Result::FormatUnknownError);
    EXPECT_EQ(c.Convert(std::string("short.t3z")), Result::FormatUnknownError);
    EXPECT_EQ(c.Convert(std::string("unknown.t3z")), Result::FormatUnknownError);
    EXPECT_EQ(ConvertBuffer(c, good.substr(0, 40)), Result::FormatConversionError);
    EXPECT_TRUE(Files(dir).empty());

    // An output directory that is not there, or cannot be written.
    c.SetOutputDirectory(dir + "/none");
    EXPECT_EQ(c.Convert(std::string("fail.t3z")), Result::FormatConversionError);
    EXPECT_EQ(ConvertBuffer(c, good), Result::FormatConversionError);
    EXPECT_TRUE(log.contains("Converter: cannot create a file in the folder of fail/none/test.t3i")) << log.text();
    if (geteuid() != 0) {   // root writes anywhere
        chmod(dir.c_str(), 0555);
        c.SetOutputDirectory(dir);
        EXPECT_EQ(c.Convert(std::string("fail.t3z")), Result::FormatConversionError);
        chmod(dir.c_str(), 0755);
    }
    EXPECT_TRUE(Files(dir).empty());

    // A file already there is replaced whole; the temporary files are gone.
    std::ofstream(dir + "/test.htx") << "old page";
    c.SetOutputDirectory(dir);
    ASSERT_EQ(c.Convert(std::string("fail.t3z")), Result::Success);
    EXPECT_EQ(Files(dir), (std::set<std::string>{"test.htx", "test.t3i"}));
    EXPECT_EQ(Slurp(dir + "/test.htx").substr(0, 6), "<HTML>");
    struct stat st {};
    ASSERT_EQ(stat((dir + "/test.t3i").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0444, 0444u) << "readable by the web server's workers";
}

TEST(FilesInfo, NamesAndFunctionKeys) {
    using F = CArcTFDIntConnFilesInfo;
    F info;
    info.SetT3IPath("/cache/order01.t3i");
    EXPECT_EQ(info.GetT3IName() + " " + info.GetT3INameExt(), "order01 order01.t3i");
    EXPECT_EQ(F::GetFKeyIdxFromName("TRANSMIT"), -1);
    EXPECT_EQ(F::GetFKeyIdxFromName("f7"), 7);
    EXPECT_EQ(F::GetFKeyIdxFromName("F99999999999999999999"), 999999999);   // no overflow
    EXPECT_EQ(F::GetFKeyNameFromIdx(12) + F::GetFKeyNameFromIdx(-1) + F::GetFKeyNameFromIdx(0), "F12TransmitMsgWait");

    // Keys replace their name's first key and go last; a new key of a name
    // that is there changes nothing.
    info.AddFKey("F3", F::FKey_t{"Send", "Send the \"form\"", ""});
    info.AddFKey("Transmit", F::FKey_t{"Send", "Send the \"form\"", ""});
    info.AddNewFKey("F3", F::FKey_t{"Other", "", ""});
    info.InsertFKey(0, "F1", F::FKey_t{"Help", "", ""});
    info.AddFKey("F3", F::FKey_t{"End", "", ""});
    CArcTFDFormat f;
    CArcTFDFormatSaver saver(&f);
    std::string table;
    saver.WriteHTMLFKeyTable(table, &info, 4);
    EXPECT_EQ(table,
              "    <TABLE WIDTH=\"100%\" CLASS=\"FKEY_TABLE\">\n"
              "        <TR>\n"
              "            <TD>\n"
              "                <INPUT CLASS=\"FKEY\" TYPE=BUTTON TITLE=\"\" VALUE=\"Help\" onClick=\"DoFKEY(this.form, 1)\">\n"
              "                <INPUT CLASS=\"FKEY\" TYPE=BUTTON TITLE=\"Send the &quot;form&quot;\" VALUE=\"Send\" "
              "onClick=\"this.form.submit()\">\n"
              "                <INPUT CLASS=\"FKEY\" TYPE=BUTTON TITLE=\"\" VALUE=\"End\" onClick=\"DoFKEY(this.form, 3)\">\n"
              "            </TD>\n"
              "        </TR>\n"
              "    </TABLE>\n");
    info.RemoveFKey("Transmit");
    info.RemoveFKey(0u);
    EXPECT_EQ(info.GetFKeyMapSize(), 1u);
}

// The layouts the converter never chooses, and the field types it never
// makes, written as pages built by other means want them.
TEST(PageWriter, OtherLayoutsAndFieldTypes) {
    CArcTFDFormat f;
    ASSERT_EQ(Read(f, Format(B({3, 0x93, 0}) + "ABC" + B({2, 0x42, 0, 0, 0x14, 0, 2, 0x42, 0}))), Result::Success);
    CArcTFDFormatSaver saver(&f);
    saver.SortFields(1);
    ASSERT_EQ(saver.GetSortedFields().size(), 3u);
    EXPECT_NE(saver.GetSortedFields()[0], f.GetFieldByIdx(0)) << "clones";

    // Absolute places: inputs are moved 2 pixels up and left; a row passed.
    std::string abs;
    saver.WriteHtmlFieldsAbsPos(abs, nullptr);
    for (const char *line : {"                    <INPUT STYLE='font-family:monospace; font-size:0.9em' CLASS=",
                             "                F1.style.top = ((CharCellHeight * 0 * 1.5)).toString() + 'px';\n",
                             "            <!-- Next row -->\n",
                             "                F3.style.top = ((CharCellHeight * 1 * 1.5) - 2).toString() + 'px';\n"})
        EXPECT_NE(abs.find(line), std::string::npos) << line << abs;

    // One table: a field kept with the next shares its row, in a new cell.
    saver.GetSortedFields()[1]->SetKeepWithNext(true);
    std::string simple;
    saver.WriteHtmlFieldsSimpleTable(simple, nullptr);
    EXPECT_NE(simple.find("                    </TD>\n                    <TD>\n                        <INPUT"),
              std::string::npos)
        << simple;

    // Field types of pages built by hand.
    CArcTFDDataField data(nullptr, &f, CArcTFDDataField::UpperLowerAlpha, 255, "");
    struct {
        int type;
        std::string html;
    } types[] = {
        {CArcTFDDrawableField::HtmlTitle, "  <H1 CLASS=\"DATA_NORMAL\">f&lt;1</H1>\n"},
        {CArcTFDDrawableField::HtmlShownHidden,
         "  <SPAN CLASS=\"DATA_NORMAL\">\\{f&lt;1}</SPAN><INPUT TYPE=HIDDEN NAME=\"f&lt;1\" VALUE=\"\\{f&lt;1}\">"},
        {CArcTFDDrawableField::HtmlRule, "  <HR CLASS=\"DATA_NORMAL\">\n"},
        {CArcTFDDrawableField::HtmlHidden, "  <INPUT TYPE=HIDDEN NAME=\"f&lt;1\" VALUE=\"\\{f&lt;1}\">\n"},
        {CArcTFDDrawableField::HtmlTransmit,
         "  <INPUT CLASS=\"DATA_NORMAL\" TYPE=BUTTON VALUE=\"Go &quot;on&quot;\" TITLE=\"Go &quot;on&quot;\" "
         "onClick=\"DoXMIT(this.form, 7, \\{CurrentRecord})\">"},
        {CArcTFDDrawableField::HtmlSelect,
         "  <SELECT CLASS=\"DATA_NORMAL\" NAME=\"f&lt;1\" SIZE=1>\n"
         "      <OPTION VALUE=\"a\">One\n"
         "      <OPTION VALUE=\"b&quot;\">b&quot;\n"
         "  </SELECT>"},
        {CArcTFDDrawableField::HtmlSkip3, ""},
    };
    data.SetHtmlName("Go \"on\"");
    data.SetHtmlComboValues({"One\ta", "b\""});
    for (const auto &t : types) {
        data.SetHtmlType(t.type);
        std::string out;
        data.GenerateHtmlTypeField("f<1", "", 5, 7, 1, 2, out, false);
        EXPECT_EQ(out, t.html) << t.type;
    }
}

// Fields written back as descriptors read as the same fields again.
TEST(PageWriter, FieldsSaveBackIntoDescriptors) {
    const std::string area = B({3, 0x93, 0}) + "ABC" + B({0xC2, 4, 0x42, 0, 0, 0x14, 0, 8, 0x97, 0, 3, 0x1E, 9}) +
                             B({5, 0x49, 0, 0, 0x14, 0, 4, 0x12, 0});
    CArcTFDFormat f;
    ASSERT_EQ(Read(f, Format(area)), Result::Success);
    CArcTFDFormatSaver saver(&f);
    saver.SortFields(0);
    CBuffer out;
    const int n = saver.SaveFieldsIntoBuffer(out);
    ASSERT_EQ(n, out.GetLength());
    EXPECT_EQ(f.GetFormatHdrPeeker()->GetDataBytes(), 9);
    EXPECT_EQ(f.GetFormatHdrPeeker()->GetErrorBytes(), 4);
    EXPECT_EQ(f.GetFormatHdrPeeker()->GetOutputCount(), 2);

    CArcTFDFormat again;
    ASSERT_EQ(Read(again, Format(std::string(out.GetBuffer(), static_cast<size_t>(out.GetLength())))), Result::Success);
    EXPECT_EQ(DescribeAll(again), DescribeAll(f));
    EXPECT_EQ(saver.CountFieldsWithHelp(), 0);
}

}  // namespace
