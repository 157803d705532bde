// Parser integrator, page mode: template search, the values a page gets,
// and the screen a form is read into, sized by what the buffer holds.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>
#include <string>

#include "IcParserIntegrator.h"
#include "ZelBuffer.h"
#include "cgiinput/fcgi_stub.h"
#include "gw_test_util.h"
#include "logprint.h"
#include "xfcgihtml.h"
#include "xfcgiinput.h"
#include "xfcgiout.h"

using gwtest::contains;
using gwtest::ScratchDir;

namespace {

// A 20-byte MCS header followed by data.
CBuffer Screen(const std::string &name, uint16_t size, uint16_t count, char filler,
               const std::string &data) {
    std::string h = name;
    h.resize(8, ' ');
    h += "    ";
    h += "  ";
    h += static_cast<char>(size >> 8);
    h += static_cast<char>(size & 0xFF);
    h += ' ';
    h += filler;
    h += static_cast<char>(count >> 8);
    h += static_cast<char>(count & 0xFF);
    h += data;
    return CBuffer(h.data(), static_cast<int>(h.size()));
}

std::string Bytes(const CBuffer &b) { return std::string(b.GetBuffer(), static_cast<size_t>(b.GetLength())); }

const char *kHundredT3i =
    "<records><record type=\"main\">"
    "<field name=\"a\" mask=\"X(60)\"/><field name=\"b\" mask=\"X(40)\"/>"
    "</record></records>";

class PageMode : public ::testing::Test {
protected:
    void SetUp() override {
        logOpen(dir.file("test.log").c_str(), 0);
        logOptions("t");
        xFcgiSetTemplateCheckInterval(0);
        dir.mkdir("reg");
        dir.mkdir("alt");
        dir.mkdir("cache");
        CIcParserIntegrator::SetRegularStorePath(dir.file("reg"));
        CIcParserIntegrator::SetAlternateStorePath("");
        CIcParserIntegrator::SetCachePath(dir.file("cache"));
        fcgistub::reset();
        xFcgiPutClear();
    }
    void TearDown() override {
        CIcParserIntegrator::SetRegularStorePath("");
        CIcParserIntegrator::SetCachePath("");
        CIcParserIntegrator::SetAlternateStorePath("");
        xFcgiTemplateCache(0);       // empties the cache
        xFcgiTemplateCache(409600);  // and gives it its room back
        logClose();
    }
    std::string Var(const char *name) {
        int i = searchOutTab(name, -1);
        return i < 0 ? std::string("<none>") : std::string(xFcgiVarValue(i));
    }

    ScratchDir dir;
};

}  // namespace

TEST_F(PageMode, StoresAreSearchedAlternateFirst) {
    dir.write("reg/x.htx", "regular");
    dir.write("alt/x.htx", "alternate");
    dir.write("cache/y.htx", "cached");
    std::string name = "x.htx";
    EXPECT_EQ(CIcParserIntegrator::FindTemplateFile(name), Result::Success);
    EXPECT_EQ(name, dir.file("reg/x.htx"));

    CIcParserIntegrator::SetAlternateStorePath(dir.file("alt"));
    name = "x.htx";
    EXPECT_EQ(CIcParserIntegrator::FindTemplateFile(name), Result::Success);
    EXPECT_EQ(name, dir.file("alt/x.htx"));

    name = "y.htx";
    EXPECT_EQ(CIcParserIntegrator::FindTemplateFile(name), Result::Success);
    EXPECT_EQ(name, dir.file("cache/y.htx"));

    name = "nowhere.htx";
    EXPECT_EQ(CIcParserIntegrator::FindTemplateFile(name), Result::FileNotFound);
    EXPECT_EQ(name, "nowhere.htx");

    dir.mkdir("reg/d.htx");
    name = "d.htx";
    EXPECT_EQ(CIcParserIntegrator::FindTemplateFile(name), Result::BadFormat);

    name = dir.file("cache/y.htx");   // an absolute name is taken as it is
    EXPECT_EQ(CIcParserIntegrator::FindTemplateFile(name), Result::Success);
    name = dir.file("cache");
    EXPECT_EQ(CIcParserIntegrator::FindTemplateFile(name), Result::BadFormat);
}

TEST_F(PageMode, ARequestFindsEachPageOnceAndTheNextSeesItsChanges) {
    dir.write("reg/p.htx", "FIRST");
    _tagT3IVALUES values;
    CIcParserIntegrator::BeginRequest();
    {
        CIcParserIntegrator page(&values, nullptr, "");
        EXPECT_EQ(page.OpenHtmlFile("p.htx", 1, 0), Result::Success);
        // A page not found is looked for again (a conversion may write it).
        std::string name = "late.htx";
        EXPECT_EQ(CIcParserIntegrator::FindTemplateFile(name), Result::FileNotFound);
        dir.write("cache/late.htx", "LATE");
        name = "late.htx";
        EXPECT_EQ(CIcParserIntegrator::FindTemplateFile(name), Result::Success);
        // A page found is not looked at again within the request.
        dir.write("reg/p.htx", "SECOND");
        const timespec later[2] = {{time(nullptr) + 10, 0}, {time(nullptr) + 10, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, dir.file("reg/p.htx").c_str(), later, 0), 0);
        EXPECT_EQ(page.OpenHtmlFile("p.htx", 1, 0), Result::Success);
    }
    CIcParserIntegrator::EndRequest();
    EXPECT_EQ(fcgistub::output.find("SECOND"), std::string::npos) << fcgistub::output;
    CIcParserIntegrator::BeginRequest();
    {
        CIcParserIntegrator page(&values, nullptr, "");
        EXPECT_EQ(page.OpenHtmlFile("p.htx", 1, 0), Result::Success);
    }
    CIcParserIntegrator::EndRequest();
    EXPECT_TRUE(contains(fcgistub::output, "SECOND")) << fcgistub::output;
}

TEST_F(PageMode, RelativeStoresStayRelativeToTheWorkingDirectory) {
    ScratchDir local;
    const std::string rel = local.path().substr(local.path().rfind('/') + 1);
    local.write("r.htx", "relative");
    CIcParserIntegrator::SetRegularStorePath(rel);
    std::string name = "r.htx";
    ASSERT_EQ(CIcParserIntegrator::FindTemplateFile(name), Result::Success);
    EXPECT_EQ(name, "./" + rel + "/r.htx");
    _tagT3IVALUES values;
    CIcParserIntegrator page(&values, nullptr, "");
    EXPECT_EQ(page.OpenHtmlFile("r.htx", 1, 0), Result::Success);
    EXPECT_TRUE(contains(fcgistub::output, "relative"));
}

TEST_F(PageMode, SessionValuesAndPageVariables) {
    dir.write("reg/p.htx",
              "T=\\{pib.transaction} L=\\{pib.locap} U=[\\{pib.user}] S=\\{SID} Y=\\{pib.yyyy} "
              "E=\\{mcs.error} C=[\\{cda.text}]");
    _tagT3IVALUES values;
    values.strTransaction = "TRX";
    values.strLocap = "QOR1";
    values.strSessionId = "0123abcd";
    CBuffer cda("CDA TEXT", 8);
    CIcParserIntegrator page(&values, nullptr, "oops <b>");
    page.SetCda(&cda);
    ASSERT_EQ(page.OpenHtmlFile("p.htx", 1, 0), Result::Success);
    const std::string &out = fcgistub::output;
    EXPECT_TRUE(contains(out, "Content-type: text/html\r\nCache-Control: no-cache\r\n")) << out;
    EXPECT_TRUE(contains(out, "T=TRX L=QOR1 U=[] S=0123abcd Y=20")) << out;
    EXPECT_TRUE(contains(out, "E=oops &lt;b&gt; C=[CDA TEXT]")) << out;
    EXPECT_EQ(Var("pib.yyyy").size(), 4u);
    EXPECT_EQ(Var("pib.mm").size(), 2u);
    EXPECT_FALSE(Var("pib.month").empty());
    EXPECT_FALSE(Var("pib.day").empty());
}

TEST_F(PageMode, WithoutSessionValuesOnlyThePageVariables) {
    dir.write("reg/q.htx", "plain");
    CIcParserIntegrator page(nullptr, nullptr, "");
    ASSERT_EQ(page.OpenHtmlFile("q.htx", 1, 0), Result::Success);
    EXPECT_EQ(Var("pib.transaction"), "<none>");
    EXPECT_EQ(Var("pib.yyyy"), "<none>");
    EXPECT_EQ(Var("mcs.error"), "");
    EXPECT_EQ(Var("mcs.activefield"), "");
    EXPECT_EQ(Var("cda.text"), "");
}

// The host's selected field counts the real fields of the page's table (a
// filler line of host bytes is no field); a position that names no field
// of the form names none, also when a META tag or a script names it.
TEST_F(PageMode, ActiveFieldIsTheHostsSelectedField) {
    dir.write("reg/f.htx", "A=\\{mcs.activefield}<INPUT NAME=\"a\"><INPUT NAME='b'>"
                           "<META NAME=\"c\" CONTENT=\"x\"><SCRIPT>var s = 'NAME=c>';</SCRIPT>");
    dir.write("reg/f.t3i", "<record type=\"main\"><field name=\"filler\" mask=\"X(2)\"/>"
                           "<field name=\"a\" mask=\"X(58)\"/><field name=\"b\" mask=\"X(30)\"/>"
                           "<field name=\"c\" mask=\"X(10)\"/></record>");
    const struct {
        int selected;
        const char *shown;
    } cases[] = {{0, "A=a<"}, {1, "A=b<"}, {2, "A=<"}, {3, "A=<"}, {-1, "A=<"}};
    for (const auto &c : cases) {
        fcgistub::reset();
        CBuffer screen = Screen("F", 100, 100, ' ', std::string(100, 'x'));
        CIcParserIntegrator page(nullptr, &screen, "");
        page.SetSelectedField(c.selected);
        ASSERT_EQ(page.OpenHtmlFile("f.htx", 1, 1), Result::Success);
        EXPECT_TRUE(contains(fcgistub::output, c.shown)) << c.selected << fcgistub::output;
    }
}

TEST_F(PageMode, ScreenIsPaddedWithTheFillerUpToTheTemplatesSize) {
    dir.write("reg/s.htx", "A=[\\{a}] B=[\\{b}]");
    dir.write("reg/s.t3i", kHundredT3i);
    // Header size 80 and 80 data bytes: 20 fillers are added.
    CBuffer screen = Screen("S", 80, 80, '*', std::string(60, 'a') + std::string(20, 'b'));
    {
        CIcParserIntegrator page(nullptr, &screen, "");
        ASSERT_EQ(page.OpenHtmlFile("s.htx", 1, 1), Result::Success);
    }
    ASSERT_EQ(screen.GetLength(), 120);
    EXPECT_EQ(Bytes(screen).substr(100), std::string(20, '*'));
    // The page shows the header's count of bytes.
    EXPECT_TRUE(contains(fcgistub::output, "B=[bbbbbbbbbbbbbbbbbbbb]")) << fcgistub::output;

    // The header claims 80 but only 50 bytes are there: padded by what is.
    fcgistub::reset();
    CBuffer shortScreen = Screen("S", 80, 80, '-', std::string(50, 'c'));
    {
        CIcParserIntegrator page(nullptr, &shortScreen, "");
        ASSERT_EQ(page.OpenHtmlFile("s.htx", 1, 1), Result::Success);
    }
    ASSERT_EQ(shortScreen.GetLength(), 120);
    EXPECT_EQ(Bytes(shortScreen).substr(70), std::string(50, '-'));
}

TEST_F(PageMode, FormIsReadIntoTheRealScreenWhateverTheHeaderClaims) {
    dir.write("reg/m.htx", "merge");
    dir.write("reg/m.t3i", kHundredT3i);
    // The browser posts McsSize and McsCount of 65535 over a 10-byte screen.
    CBuffer screen = Screen("M", 0xFFFF, 0xFFFF, ' ', "0123456789");
    xFcgiGetParsedInput("a=HELLO&b=WORLD");
    {
        CIcParserIntegrator merge(nullptr, &screen, "");
        ASSERT_EQ(merge.OpenHtmlFile("m.htx", 0, 1), Result::Success);
    }
    ASSERT_EQ(screen.GetLength(), 120);
    const std::string data = Bytes(screen).substr(20);
    EXPECT_EQ(data.substr(0, 5), "HELLO");
    EXPECT_EQ(data.substr(60, 5), "WORLD");
    EXPECT_EQ(Bytes(screen).substr(0, 8), "M       ");
    EXPECT_TRUE(fcgistub::output.empty());   // reading a form sends nothing
}

TEST_F(PageMode, FailedMergesLeaveTheScreenWhole) {
    const CBuffer original = Screen("K", 30, 30, ' ', std::string(30, 'k'));
    xFcgiGetParsedInput("a=CHANGED");

    dir.write("reg/nodesc.htx", "no data description");
    CBuffer one(original);
    {
        CIcParserIntegrator merge(nullptr, &one, "");
        EXPECT_EQ(merge.OpenHtmlFile("nodesc.htx", 0, 1), Result::ParserGeneric);
    }
    EXPECT_EQ(Bytes(one), Bytes(original));

    dir.write("reg/nofields.htx", "no fields");
    dir.write("reg/nofields.t3i", "<records><record type=\"main\"></record></records>");
    CBuffer two(original);
    {
        CIcParserIntegrator merge(nullptr, &two, "");
        EXPECT_EQ(merge.OpenHtmlFile("nofields.htx", 0, 1), Result::Success);
    }
    EXPECT_EQ(Bytes(two), Bytes(original));

    CBuffer three(original);
    {
        CIcParserIntegrator merge(nullptr, &three, "");
        EXPECT_EQ(merge.OpenHtmlFile("missing.htx", 0, 1), Result::FileNotFound);
    }
    EXPECT_EQ(Bytes(three), Bytes(original));

    // A FIFO put in place of a page or of its field file is not waited on.
    dir.write("reg/fifot3i.htx", "field file a FIFO");
    ASSERT_EQ(mkfifo(dir.file("reg/fifo.htx").c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(dir.file("reg/fifot3i.t3i").c_str(), 0600), 0);
    const std::pair<const char *, Result> fifos[] = {{"fifo.htx", Result::BadFormat},
                                                     {"fifot3i.htx", Result::ParserBadDataRecord}};
    for (const auto &[page, expected] : fifos) {
        CBuffer four(original);
        {
            CIcParserIntegrator merge(nullptr, &four, "");
            EXPECT_EQ(merge.OpenHtmlFile(page, 0, 1), expected) << page;
        }
        EXPECT_EQ(Bytes(four), Bytes(original)) << page;
    }
}

// A screen's page in the Cache store whose field file has fields but not
// the converter's marker is taken as missing; a file of no fields, a
// marked file and the administrator's stores are used as they are.
TEST_F(PageMode, CachedPagesOfAnEarlierBuildAreTakenAsMissing) {
    const std::string fields = "<record type=\"main\"><field name=\"a\" mask=\"X(4)\"/></record>";
    for (const char *base : {"cache/old", "cache/new", "cache/none", "reg/mine"}) dir.write(std::string(base) + ".htx", "page");
    dir.write("cache/old.t3i", fields);
    dir.write("cache/new.t3i", "<records converted=\"yes\">" + fields + "</records>");
    dir.write("cache/none.t3i", "");
    dir.write("reg/mine.t3i", fields);
    const struct {
        const char *page;
        bool stale;
    } cases[] = {{"old.htx", true}, {"new.htx", false}, {"none.htx", false}, {"mine.htx", false}};
    for (const auto &c : cases) {
        CBuffer screen = Screen("S", 4, 4, ' ', "DATA");
        CIcParserIntegrator page(nullptr, &screen, "");
        EXPECT_EQ(page.OpenHtmlFile(c.page, 1, 1), c.stale ? Result::FileNotFound : Result::Success) << c.page;
        EXPECT_EQ(page.IsStalePage(), c.stale) << c.page;
    }
}

TEST_F(PageMode, ReleasingTheTemplateDetachesTheScreen) {
    dir.write("reg/r.htx", "x");
    dir.write("reg/r.t3i", kHundredT3i);
    CBuffer screen = Screen("R", 100, 100, ' ', std::string(100, 'r'));
    tcpHTML *t = nullptr;
    {
        CIcParserIntegrator page(nullptr, &screen, "");
        ASSERT_EQ(page.OpenHtmlFile("r.htx", 1, 1), Result::Success);
        t = xFcgiGetFT(dir.file("reg/r.htx").c_str());
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->mcsData, screen.GetBuffer() + 20);
        EXPECT_EQ(t->mcsCount, 100);
    }
    EXPECT_EQ(t->mcsData, nullptr);
    EXPECT_EQ(t->mcsCount, 0);
    EXPECT_EQ(t->fccMods, nullptr);
}
