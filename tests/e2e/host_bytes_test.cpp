// Converted screens give the host back exactly its screen, changed only
// where the user typed: through lighttpd, each test compares the bytes the
// host receives with the bytes it sent.
#include "host_formats.h"

#include <fcntl.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <thread>

namespace e2e {
namespace {

class HostBytes : public ::testing::Test {
protected:
    void SetUp() override { E2E_REQUIRE_QORIC(); }
};

const std::string kNul(1, '\0');

// KEEP: a number of 7 host digits whose mask ZZ9.99 shows 5 (its first
// host bytes are no field's), an upper-case field, a number whose host
// mask is padded with NULs, a text after it and the terminal id; the
// host's error line below.
const std::string kKeepArea = bytes({6, 0x4C, 0, 0x02, 7}) + "ZZ9.99" + bytes({4, 0x41, 0}) +
                              bytes({8, 0x4C, 0, 0, 4}) + "ZZZ9" + kNul + kNul + kNul + kNul +
                              bytes({4, 0x42, 0}) + bytes({4, 0x9A, 0}) + bytes({0, 0x14, 0, 60, 0x92, 0});
const std::string kKeepData = "0012345" "ab12" "0042" "TEXT";

StackOptions keepHost(const std::string& screenLines, const std::string& extra = "")
{
    return hostWith("transaction KEEP KEEP\nscreen KEEP\n  field 0 7 \"0012345\"\n  field 7 4 \"ab12\"\n"
                    "  field 11 4 \"0042\"\n  field 15 4 \"TEXT\"\n  terminal T001\n" +
                        screenLines + "  enter -> same\n",
                    {{"keep.t3z", screenFormat("KEEP", kKeepArea)}},
                    // Every data field an input (the demo's level is limited).
                    "<Transaction NAME=\"KEEP\" ID=\"KEEP\" LOCAP=\"QOR1\"/>\n<FccModsSupport VALUE=\"none\"/>\n" +
                        extra);
}

TEST_F(HostBytes, FieldsTheUserLeftAloneKeepTheHostBytes)
{
    Stack s(keepHost("  cursor 0\n"));
    Visitor v(s.port());
    ASSERT_TRUE(isScreen(v.open("/demo/KEEP"), "KEEP"));
    EXPECT_EQ(v.form().get("field_001"), "123.45");
    EXPECT_EQ(v.form().get("field_002"), "ab12");
    EXPECT_EQ(v.form().get("field_003"), "  42");
    EXPECT_EQ(v.form().get("field_004"), "TEXT") << "the NUL-padded mask moves no later field";
    EXPECT_EQ(v.form().get("McsCount"), "19");
    // The cursor goes where the host put it, past the bytes no field covers.
    EXPECT_TRUE(pageHas(v.last().body, "document.KEEP.field_001.focus()")) << v.last().body;

    // Posted as shown: the host gets its own bytes, hidden digits, lower
    // case and all.
    ASSERT_TRUE(isScreen(v.submit(), "KEEP"));
    EXPECT_TRUE(hostReceived(s.hostLog(), mcsInput("KEEP", 19, ' ', ' ', 19, kKeepData))) << s.hostLog();

    // A changed number fills all its host bytes; fields not posted keep
    // theirs.
    ASSERT_TRUE(isScreen(v.submitWithout({"field_002", "field_004"}, {{"field_001", "7.5"}, {"field_003", "9"}}),
                         "KEEP"));
    EXPECT_TRUE(hostReceived(s.hostLog(), mcsInput("KEEP", 19, ' ', ' ', 19, "0000750" "ab12" "0009" "TEXT")))
        << s.hostLog();

    // A DoXMIT count below the screen's size sends that many bytes.
    ASSERT_TRUE(isScreen(v.submit({{"McsCount", "9"}}), "KEEP"));
    EXPECT_TRUE(hostReceived(s.hostLog(), mcsInput("KEEP", 19, ' ', ' ', 9, "0012345ab"))) << s.hostLog();
}

TEST_F(HostBytes, LettersInANumberAreRefusedAndNothingIsSent)
{
    Stack s(keepHost("  cursor 2\n"));
    Visitor v(s.port());
    ASSERT_TRUE(isScreen(v.open("/demo/KEEP"), "KEEP"));
    EXPECT_TRUE(pageHas(v.last().body, "document.KEEP.field_003.focus()"));
    EXPECT_TRUE(pageHas(v.last().body, "<SPAN CLASS=\"SPECIAL\"></SPAN>")) << "the terminal id is defined";
    EXPECT_EQ(v.last().body.find("Missing variable"), std::string::npos);
    const size_t before = inputsCount(s.hostLog());
    for (const char* bad : {"ab", "12x"}) {
        ASSERT_TRUE(isScreen(v.submit({{"field_003", bad}, {"field_004", "TYPED"}}), "KEEP"));
        EXPECT_TRUE(pageHas(v.last().body, "The field field_003 takes a number of at most 4 digits, without decimals"
                                           " or sign: nothing was sent."))
            << v.last().body;
        EXPECT_EQ(v.form().get("field_003"), bad) << "what the user typed stays";
        EXPECT_EQ(v.form().get("field_004"), "TYPED");
        EXPECT_EQ(inputsCount(s.hostLog()), before);
    }
    // The session goes on.
    ASSERT_TRUE(isScreen(v.submit({{"field_003", " 1,2"}, {"field_004", "TEXT"}}), "KEEP"));
    EXPECT_TRUE(hostReceived(s.hostLog(), mcsInput("KEEP", 19, ' ', ' ', 19, "0012345" "ab12" "0012" "TEXT")))
        << s.hostLog();

    // Without a stored screen (none can be stored) a number is refused
    // all the same.
    std::filesystem::remove_all(s.runDir() + "/latestmcsdata");
    hosttest::writeFile(s.runDir() + "/latestmcsdata", "");
    Visitor w(s.port());
    ASSERT_TRUE(isScreen(w.open("/demo/KEEP"), "KEEP"));
    const size_t sent = inputsCount(s.hostLog());
    ASSERT_TRUE(isScreen(w.submit({{"field_003", "4-2"}}), "KEEP"));
    EXPECT_TRUE(pageHas(w.last().body, "The field field_003 takes a number")) << w.last().body;
    EXPECT_EQ(inputsCount(s.hostLog()), sent);
}

// A number its field cannot hold as typed (a sign where the host field
// has none, whole digits or decimals beyond its own) is refused with what
// the field takes, and nothing is sent; signed and fitting numbers go.
// NUMS: an unsigned quantity of 4 digits, an unsigned amount and a signed
// one (-ZZ9.99) of 2 decimals; the host shows the signed one back.
TEST_F(HostBytes, NumbersAFieldCannotHoldAreRefusedAndNothingIsSent)
{
    const std::string area = bytes({4, 0x4C, 0, 0x00, 4}) + "ZZZ9" + bytes({6, 0x4C, 0, 0x02, 5}) + "ZZ9.99" +
                             bytes({6, 0x4C, 0, 0x12, 5}) + "ZZ9.99" + bytes({0, 0x14, 0, 60, 0x92, 0});
    Stack s(hostWith("transaction NUMS NUMS\nscreen NUMS\n  field 0 14 \"00010000000000\"\n  filler _\n"
                     "  fcc \".U.U.U\"\n  error \"GOT ${NUM:9:5}\"\n  enter -> same\n",
                     {{"nums.t3z", screenFormat("NUMS", area)}}, "<Transaction NAME=\"NUMS\" ID=\"NUMS\" LOCAP=\"QOR1\"/>"));
    Visitor v(s.port());
    ASSERT_TRUE(isScreen(v.open("/demo/NUMS"), "NUMS"));
    HeaderList shown;
    for (const char* f : {"field_001", "field_002", "field_003"}) shown.push_back({f, v.form().get(f)});
    const std::string qty = "a number of at most 4 digits, without decimals or sign";
    const struct {
        size_t field;
        const char* typed;
        std::string takes, sent;   // takes empty: sent
    } rows[] = {
        {0, "4-2", qty, ""}, {0, "-5", qty, ""}, {0, "1.5", qty, ""}, {0, "12345", qty, ""},
        {1, "1.255", "a number of at most 3 digits and 2 decimals, without sign", ""},
        {1, "1.50", "", "0001" "00150" "00000"}, {2, "-12.50", "", "0001" "00000" "0125p"},
    };
    for (const auto& r : rows) {
        HeaderList typed = shown;
        typed[r.field].second = r.typed;
        const std::string& name = typed[r.field].first;
        SCOPED_TRACE(name + "=" + r.typed);
        const size_t before = inputsCount(s.hostLog());
        ASSERT_TRUE(isScreen(v.submit(typed), "NUMS"));
        if (r.takes.empty()) {
            EXPECT_TRUE(hostReceived(s.hostLog(), mcsInput("NUMS", 14, ' ', '_', 14, r.sent))) << s.hostLog();
            continue;
        }
        EXPECT_TRUE(pageHas(v.last().body, "The field " + name + " takes " + r.takes + ": nothing was sent."))
            << v.last().body;
        EXPECT_EQ(v.form().get(name), r.typed) << "what the user typed stays";
        EXPECT_EQ(inputsCount(s.hostLog()), before);
    }
    EXPECT_TRUE(pageHas(v.last().body, "GOT -1250")) << v.last().body;
    // A function key sends no field: it goes whatever was typed.
    ASSERT_TRUE(isScreen(v.submit({{"field_001", "4-2"}}, '3'), "NUMS"));
    EXPECT_TRUE(hostReceived(s.hostLog(), mcsInput("NUMS", 0, '3', '_', 0))) << s.hostLog();
}

// An input-only field gives the page toweb and fromweb records: signed
// numbers go both ways as on every other converted page, leading blanks
// and the host's bytes stay.
TEST_F(HostBytes, AnInputOnlyFormatKeepsSignsAndBytes)
{
    const std::string area = bytes({7, 0x4C, 0, 0x10, 7}) + "ZZZZZZ9" + bytes({3, 0x42, 0x20}) + bytes({4, 0x42, 0});
    Stack s(hostWith("transaction SIGN SIGN\nscreen SIGN\n  field 0 7 \"001234u\"\n  field 7 4 \"  AB\"\n"
                     "  enter -> same\n",
                     {{"sign.t3z", screenFormat("SIGN", area, 0x20)}},
                     "<Transaction NAME=\"SIGN\" ID=\"SIGN\" LOCAP=\"QOR1\"/>\n<FccModsSupport VALUE=\"none\"/>"));
    Visitor v(s.port());
    ASSERT_TRUE(isScreen(v.open("/demo/SIGN"), "SIGN"));
    EXPECT_EQ(v.form().get("field_001"), " -12345") << v.last().body;
    EXPECT_EQ(v.form().get("field_003"), "  AB");
    ASSERT_TRUE(isScreen(v.submit({{"field_002", "in"}}), "SIGN"));
    EXPECT_TRUE(hostReceived(s.hostLog(), mcsInput("SIGN", 14, ' ', ' ', 14, "001234u" "in " "  AB"))) << s.hostLog();
    ASSERT_TRUE(isScreen(v.submit({{"field_001", "-7"}, {"field_003", "AB"}}), "SIGN"));
    EXPECT_TRUE(hostReceived(s.hostLog(), mcsInput("SIGN", 14, ' ', ' ', 14, "000000w" "   " "AB  "))) << s.hostLog();
}

// At level full a worker that never showed the screen gets a forged post:
// what the screen shows protected keeps the host's bytes.
TEST_F(HostBytes, ForgedValuesForProtectedFieldsDoNotReachTheHost)
{
    // Protected, unprotected but protected by the host, plain, and
    // protected but unprotected by the host.
    const std::string area = bytes({4, 0x82, 0, 4, 0x42, 0, 4, 0x42, 0, 4, 0x82, 0});
    Stack s(hostWith("transaction PROT PROT\nscreen PROT\n  field 0 16 \"PPPPMMMMEEEEUUUU\"\n"
                     "  fcc \"  .P  .U\"\n  filler X\n  enter -> same\n",
                     {{"prot.t3z", screenFormat("PROT", area)}},
                     "<Transaction NAME=\"PROT\" ID=\"PROT\" LOCAP=\"QOR1\"/>\n"
                     "<FccModsSupport VALUE=\"full\"/>\n<MaxUsage VALUE=\"1\"/>"));
    Visitor v(s.port());
    ASSERT_TRUE(isScreen(v.open("/demo/PROT"), "PROT"));
    ASSERT_TRUE(isScreen(v.submit({{"field_001", "ffff"}, {"field_002", "ffff"}, {"field_003", "eeee"},
                                   {"field_004", "uuuu"}}),
                         "PROT"));
    EXPECT_TRUE(hostReceived(s.hostLog(), mcsInput("PROT", 16, ' ', 'X', 16, "PPPPMMMMeeeeuuuu"))) << s.hostLog();
    // A refused post shows the screen with its modifications.
    ASSERT_TRUE(isScreen(v.submit({{"field_001", "ffff"}, {"field_003", "&#8364;"}}), "PROT"));
    EXPECT_TRUE(pageHas(v.last().body, "<SPAN CLASS=\"DATA_READONLY\">PPPP</SPAN>")) << v.last().body;
    EXPECT_EQ(v.form().get("field_003"), "&#8364;");
}

// With ISO-8859-1 a reference to a character of the set was typed as text
// and reaches the host as typed; one to a character outside it (what a
// browser sends for Ł) is refused, and the page shown again (its error
// line holds the notice) has it as a reference: the browser shows Ł.
TEST_F(HostBytes, ACharacterReferenceTypedAsTextReachesTheHost)
{
    Stack s(hostWith("transaction REFS REFS\nscreen REFS\n  field 0 12 \"            \"\n  enter -> same\n",
                     {{"refs.t3z", screenFormat("REFS", bytes({12, 0x42, 0, 0, 0x14, 0, 60, 0x92, 0}))}},
                     "<Transaction NAME=\"REFS\" ID=\"REFS\" LOCAP=\"QOR1\"/>\n<FccModsSupport VALUE=\"none\"/>"));
    Visitor v(s.port());
    ASSERT_TRUE(isScreen(v.open("/demo/REFS"), "REFS"));
    ASSERT_TRUE(isScreen(v.submit({{"field_001", "&#65;"}}), "REFS"));
    EXPECT_TRUE(hostReceived(s.hostLog(), mcsInput("REFS", 12, ' ', ' ', 12, "&#65;       "))) << s.hostLog();
    const size_t before = inputsCount(s.hostLog());
    const struct {
        const char* typed;
        const char* shown;
    } refused[] = {
        {"x&#321;y", "VALUE=\"x&#321;y\""},
        {"&#65;&#321;", "VALUE=\"&amp;#65;&#321;\""},   // typed A as text, and Ł
        {"&#1;&#321<b>", "VALUE=\"&amp;#1;&amp;#321&lt;b&gt;\""},
    };
    for (const auto& r : refused) {
        ASSERT_TRUE(isScreen(v.submit({{"field_001", r.typed}}), "REFS"));
        EXPECT_TRUE(pageHas(v.last().body, "cannot be sent to the host")) << v.last().body;
        EXPECT_TRUE(pageHas(v.last().body, r.shown)) << v.last().body;
    }
    EXPECT_EQ(inputsCount(s.hostLog()), before) << s.hostLog();
}

// A hand-written page: a checkbox the user cleared is not posted, and its
// byte is zeroed as before; the text field left alone keeps its bytes.
TEST_F(HostBytes, AClearedCheckboxOfAHandWrittenPageIsZeroed)
{
    Stack s(hostWith("transaction BOX BOXS\nscreen BOXS\n  field 0 5 \" TEXY\"\n  enter -> same\n", {},
                     "<Transaction NAME=\"BOX\" ID=\"BOX\" LOCAP=\"QOR1\"/>"));
    hosttest::writeFile(s.root() + "/htx/boxs.t3i",
                        "<record type=\"main\">\n    <field name=\"t\" mask=\"X(4)\"/>\n"
                        "    <field name=\"box\" mask=\"X(1)\"/>\n</record>\n");
    hosttest::writeFile(s.root() + "/htx/boxs.htx",
                        "<HTML><BODY><FORM NAME=\"\\{mcs.name}\" METHOD=\"POST\" ACTION=\"qoric?sid=\\{sid}"
                        "&pib.transaction=\\{pib.transaction}&pib.locap=\\{pib.locap}&mcs.name=\\{mcs.name}\">\n"
                        "<INPUT TYPE=TEXT NAME=\"t\" VALUE=\"\\{t}\">\n"
                        "<INPUT TYPE=CHECKBOX NAME=\"box\" VALUE=\"Y\">\n"
                        "<INPUT TYPE=HIDDEN NAME=\"McsSize\" VALUE=\"5\"><INPUT TYPE=HIDDEN NAME=\"McsCount\" VALUE=\"5\">\n"
                        "</FORM></BODY></HTML>\n");
    Visitor v(s.port());
    ASSERT_TRUE(isScreen(v.open("/demo/BOX"), "BOXS"));
    ASSERT_TRUE(isScreen(v.submit(), "BOXS"));
    EXPECT_TRUE(hostReceived(s.hostLog(), mcsInput("BOXS", 5, ' ', ' ', 5, " TEX" + kNul))) << s.hostLog();
}

// A hand-written page of the stack: its field file, and a form of the
// given inputs that posts size bytes.
void writePage(const Stack& s, const std::string& name, const std::string& t3i, const std::string& inputs, int size)
{
    const std::string n = std::to_string(size);
    hosttest::writeFile(s.root() + "/htx/" + name + ".t3i", t3i);
    hosttest::writeFile(s.root() + "/htx/" + name + ".htx",
                        "<HTML><BODY><FORM NAME=\"\\{mcs.name}\" METHOD=\"POST\" ACTION=\"qoric?sid=\\{sid}"
                        "&pib.transaction=\\{pib.transaction}&pib.locap=\\{pib.locap}&mcs.name=\\{mcs.name}\">\n" +
                            inputs + "<INPUT TYPE=HIDDEN NAME=\"McsSize\" VALUE=\"" + n +
                            "\"><INPUT TYPE=HIDDEN NAME=\"McsCount\" VALUE=\"" + n + "\">\n</FORM></BODY></HTML>\n");
}

// A field file mended while its page stays the same: sessions opened at
// once have the page compiled on both workers; a post more than the 3 s
// check interval after the mend goes through the new table on each.
TEST_F(HostBytes, AMendedFieldFileIsUsedByEveryWorker)
{
    Stack s(hostWith("transaction FLD FLDS\nscreen FLDS\n  field 0 6 \"ABCDEF\"\n  enter -> same\n", {},
                     "<Transaction NAME=\"FLD\" ID=\"FLD\" LOCAP=\"QOR1\"/>"));
    auto fields = [&](const std::string& mask) {
        hosttest::writeFile(s.root() + "/htx/flds.t3i",
                            "<record type=\"main\">\n    <field name=\"t\" mask=\"" + mask + "\"/>\n</record>\n");
    };
    const std::string t3i = "<record type=\"main\">\n    <field name=\"t\" mask=\"X(6)\"/>\n</record>\n";
    writePage(s, "flds", t3i, "<INPUT TYPE=TEXT NAME=\"t\" VALUE=\"\\{t}\">\n", 6);
    constexpr size_t kSessions = 6;
    std::vector<std::unique_ptr<Visitor>> visitors;
    for (size_t i = 0; i < kSessions; ++i) visitors.push_back(std::make_unique<Visitor>(s.port()));
    auto atOnce = [&](const std::function<bool(Visitor&)>& step) {
        std::vector<std::future<bool>> done;
        for (auto& v : visitors) done.push_back(std::async(std::launch::async, step, std::ref(*v)));
        size_t ok = 0;
        for (auto& d : done) ok += d.get() ? 1 : 0;
        return ok;
    };
    auto post = [](Visitor& v) { return isScreen(v.submit({{"t", "AB"}}), "FLDS"); };
    auto sent = [&](const std::string& data) {
        size_t n = 0;
        for (const std::string& f : hostFrames(s.hostLog(), "recv", "MCSO")) {
            const std::string input = mcsInput("FLDS", 6, ' ', ' ', 6, data);
            n += f.size() >= input.size() && f.compare(f.size() - input.size(), input.size(), input) == 0;
        }
        return n;
    };
    ASSERT_EQ(atOnce([](Visitor& v) { return isScreen(v.open("/demo/FLD"), "FLDS"); }), kSessions);
    ASSERT_EQ(atOnce(post), kSessions);
    ASSERT_TRUE(hostLogged(s, "recv", "MCSO", kSessions));
    EXPECT_EQ(sent("AB    "), kSessions) << s.hostLog();

    fields("X(2)");
    const auto mended = std::chrono::steady_clock::now();
    // The workers compare the field file again once the interval has passed.
    std::this_thread::sleep_until(mended + std::chrono::milliseconds(3100));
    ASSERT_EQ(atOnce(post), kSessions);
    ASSERT_TRUE(hostLogged(s, "recv", "MCSO", 2 * kSessions));
    EXPECT_EQ(sent("ABCDEF"), kSessions) << "the host's bytes past the shorter field stay";
}

// At level limited, an Enter post for a session whose stored screen or
// modifications were lost is refused, whatever page it names: what a page
// shows protected cannot be told from what the user may change. A DezUR
// exchange, which has no screen to lose, still sends.
TEST_F(HostBytes, NoInputReachesTheHostWhenTheStoredScreenIsLost)
{
    StackOptions o;
    o.hostArgs = {"--fault", "dezur:form=DEZFORM,skip=1,times=1"};   // the second program started
    Stack s(o);
    writePage(s, "dezform", "<record type=\"main\">\n    <field name=\"a\" mask=\"X(4)\"/>\n</record>\n",
              "<INPUT TYPE=TEXT NAME=\"a\" VALUE=\"\">\n", 4);
    const std::string folder = s.runDir() + "/latestmcsdata";
    // A file where the folder should be: nothing can be stored there,
    // whichever user the workers run as.
    std::filesystem::remove_all(folder);
    hosttest::writeFile(folder, "");
    Visitor v(s.port());
    ASSERT_TRUE(isScreen(v.open("/demo/ORDER"), "ORDENTRY"));
    const std::string lost = "The data of the current screen was lost: nothing was sent. Press a function key to go on.";
    ASSERT_TRUE(isScreen(v.submit({{"field_012", "99999999"}, {"field_008", "4711"}}), "ORDENTRY"));
    EXPECT_TRUE(pageHas(v.last().body, lost)) << v.last().body;
    EXPECT_EQ(v.form().get("field_008"), "4711") << "what the user typed stays";
    // The form posted as naming a hand-written page without modifications
    // (ORDENTRY's filler is no blank: the action needs no escape).
    std::string action = resolveUrl(v.path(), v.form().action);
    action.replace(action.find("mcs.name=ORDENTRY"), 17, "mcs.name=ECHO");
    const HttpResponse forged = s.post(action, formEncode(v.form().fields));
    EXPECT_TRUE(isScreen(forged, "ECHO"));
    EXPECT_TRUE(pageHas(forged.body, lost)) << forged.body;

    Visitor dezUr(s.port());
    ASSERT_TRUE(isScreen(dezUr.open("/demo/ECHO"), "DEZFORM"));
    ASSERT_TRUE(isScreen(dezUr.submit({{"a", "DEZ"}}), "ECHO"));
    EXPECT_EQ(inputsCount(s.hostLog()), 1u) << s.hostLog();

    // The modifications file of a stored screen removed.
    std::filesystem::remove(folder);
    std::filesystem::create_directory(folder);
    Visitor w(s.port());
    ASSERT_TRUE(isScreen(w.open("/demo/ORDER"), "ORDENTRY"));
    for (const auto& f : std::filesystem::directory_iterator(folder))
        if (f.path().extension() == ".fcc") std::filesystem::remove(f.path());
    ASSERT_TRUE(isScreen(w.submit({{"field_012", "99999999"}}), "ORDENTRY"));
    EXPECT_TRUE(pageHas(w.last().body, lost)) << w.last().body;
    EXPECT_TRUE(gatewayLogged(s, ".fcc: No such file or directory"));
    EXPECT_EQ(inputsCount(s.hostLog()), 1u) << s.hostLog();
    EXPECT_EQ(s.table().records.size(), 3u) << "the sessions stay";
    // A function key is the way out: the host answers with its next screen.
    ASSERT_TRUE(isScreen(w.submit({}, '4'), "ORDENTRY"));
    EXPECT_EQ(inputsCount(s.hostLog()), 2u) << s.hostLog();
}

// A form above the body limit is not read, and nothing of it is acted on.
TEST_F(HostBytes, AFormAboveTheBodyLimitSendsNothing)
{
    Stack s;
    Visitor v(s.port());
    ASSERT_TRUE(isScreen(v.open("/demo/ORDER"), "ORDENTRY"));
    const std::string digits(4u << 20, '9');
    ASSERT_TRUE(isScreen(v.submit({{"field_008", digits}}), "ORDENTRY"));
    EXPECT_TRUE(pageHas(v.last().body, "The form was too large: nothing was sent.")) << v.last().body.substr(0, 2000);
    EXPECT_EQ(inputsCount(s.hostLog()), 0u);
    ASSERT_TRUE(isScreen(v.submit({{"field_008", "4711"}}), "ORDTAKEN")) << "the session goes on";

    // Without a session: an error page, and no session is started.
    EXPECT_TRUE(isErrorPage(s.post("/demo/ORDER", "field_008=" + digits), -7));
    EXPECT_EQ(s.table().records.size(), 1u);
}

// A hand-written page with only a fromweb table shows no host values: its
// form merges from zeros. With a main table too, main lays out the host's
// bytes: a field keeps them from main's place of its name.
TEST_F(HostBytes, AFromwebPageTakesHostBytesOnlyThroughMain)
{
    Stack s(hostWith("transaction FW FROMW\nscreen FROMW\n  field 0 8 \"HOSTSCRN\"\n  enter -> same\n"
                     "transaction FM FROMM\nscreen FROMM\n  field 0 4 \"AB  \"\n  enter -> same\n",
                     {},
                     "<Transaction NAME=\"FW\" ID=\"FW\" LOCAP=\"QOR1\"/>\n"
                     "<Transaction NAME=\"FM\" ID=\"FM\" LOCAP=\"QOR1\"/>"));
    writePage(s, "fromw",
              "<record type=\"fromweb\">\n    <field name=\"a\" mask=\"X(4)\"/>\n"
              "    <field name=\"b\" mask=\"X(4)\"/>\n</record>\n",
              "<INPUT TYPE=TEXT NAME=\"a\" VALUE=\"\">\n", 8);
    writePage(s, "fromm",
              "<record type=\"fromweb\">\n    <field name=\"i\" mask=\"X(2)\"/>\n"
              "    <field name=\"a\" mask=\"X(4)\"/>\n</record>\n"
              "<record type=\"main\">\n    <field name=\"a\" mask=\"X(4)\"/>\n</record>\n",
              "<INPUT TYPE=TEXT NAME=\"a\" VALUE=\"\\{a}\">\n", 6);

    Visitor alone(s.port());
    ASSERT_TRUE(isScreen(alone.open("/demo/FW"), "FROMW"));
    ASSERT_TRUE(isScreen(alone.submit({{"a", "zz"}}), "FROMW"));
    EXPECT_TRUE(hostReceived(s.hostLog(), mcsInput("FROMW", 8, ' ', ' ', 8, "zz  " + std::string(4, '\0'))))
        << s.hostLog();

    Visitor withMain(s.port());
    ASSERT_TRUE(isScreen(withMain.open("/demo/FM"), "FROMM"));
    EXPECT_EQ(withMain.form().get("a"), "AB");
    ASSERT_TRUE(isScreen(withMain.submit(), "FROMM"));
    EXPECT_TRUE(hostReceived(s.hostLog(), mcsInput("FROMM", 6, ' ', ' ', 6, kNul + kNul + "AB  "))) << s.hostLog();
}

// Host text with line breaks and a tab, left alone in a text input and a
// TEXTAREA, comes back as a browser posts it (the input without CR and
// LF, the text area with CR LF): the host gets its bytes unchanged. A
// browser drops the line break right after <TEXTAREA>: text that starts
// with one is written after one more.
TEST_F(HostBytes, LineBreaksTheUserLeftAloneReachTheHostUnchanged)
{
    Stack s(hostWith("transaction LIN LINES\nscreen LINES\n  field 0 12 \"a\\rb\\nc\\r\\nd\\te\"\n"
                     "  field 12 12 \"a\\rb\\nc\\r\\nd\\te\"\n  field 24 12 \"\\r\\nab\"\n  enter -> same\n",
                     {}, "<Transaction NAME=\"LIN\" ID=\"LIN\" LOCAP=\"QOR1\"/>"));
    writePage(s, "lines",
              "<record type=\"main\">\n    <field name=\"t\" mask=\"X(12)\"/>\n"
              "    <field name=\"x\" mask=\"X(12)\"/>\n    <field name=\"y\" mask=\"X(12)\"/>\n</record>\n",
              "<INPUT TYPE=TEXT NAME=\"t\" VALUE=\"\\{t}\">\n<TEXTAREA NAME=\"x\">\\{x}</TEXTAREA>\n"
              "<TEXTAREA NAME=\"y\">\\{y}</TEXTAREA>\n",
              36);
    const std::string text = "a\rb\nc\r\nd\te";
    Visitor v(s.port());
    ASSERT_TRUE(isScreen(v.open("/demo/LIN"), "LINES"));
    EXPECT_TRUE(pageHas(v.last().body, "<TEXTAREA NAME=\"x\">" + text + "</TEXTAREA>")) << v.last().body;
    EXPECT_TRUE(pageHas(v.last().body, "<TEXTAREA NAME=\"y\">\n\r\nab</TEXTAREA>")) << v.last().body;
    ASSERT_TRUE(isScreen(v.submit({{"t", "abcd\te"}, {"x", "a\r\nb\r\nc\r\nd\te"}, {"y", "\r\nab"}}), "LINES"));
    EXPECT_TRUE(hostReceived(s.hostLog(),
                             mcsInput("LINES", 36, ' ', ' ', 36, text + "  " + text + "  \r\nab" + std::string(8, ' '))))
        << s.hostLog();
}

// A refused post shows the screen again: what the user did not type shows
// as the page first showed it, in the text and its hidden copy.
TEST_F(HostBytes, ARefusedPostShowsNumbersAsFirstShown)
{
    Stack s;
    Visitor v(s.port());
    ASSERT_TRUE(isScreen(v.open("/demo/ORDER"), "ORDENTRY"));
    for (const HeaderList& typed : {HeaderList{{"field_008", "12ab"}, {"field_006", "acme"}},
                                    HeaderList{{"field_006", "caf\x80"}, {"field_010", "7"}}}) {
        ASSERT_TRUE(isScreen(v.submit(typed), "ORDENTRY"));
        EXPECT_TRUE(pageHas(v.last().body, "nothing was sent")) << v.last().body;
        EXPECT_EQ(v.form().get("field_012"), "     12.50") << v.last().body;
        EXPECT_TRUE(pageHas(v.last().body, "<SPAN CLASS=\"DATA_READONLY\">     12.50</SPAN>")) << v.last().body;
        EXPECT_EQ(v.form().get(typed[0].first), typed[0].second) << "what was typed stays";
    }
    EXPECT_EQ(inputsCount(s.hostLog()), 0u);
}

// A hand-written page whose field file puts hidden digits before a text
// field: the file is refused, and a post through it sends nothing.
TEST_F(HostBytes, AFieldFileWithHiddenDigitsOnATextIsRefused)
{
    Stack s(hostWith("transaction HID HIDS\nscreen HIDS\n  field 0 6 \"ABCDEF\"\n  enter -> same\n", {},
                     "<Transaction NAME=\"HID\" ID=\"HID\" LOCAP=\"QOR1\"/>"));
    hosttest::writeFile(s.root() + "/htx/hids.t3i", "<record type=\"main\">\n    <field name=\"a\" mask=\"X(2)\"/>\n"
                                                    "    <field name=\"t\" mask=\"X(4)\" hidden=\"2\"/>\n</record>\n");
    hosttest::writeFile(s.root() + "/htx/hids.htx",
                        "<HTML><BODY><P>\\{mcs.error}</P><FORM NAME=\"\\{mcs.name}\" METHOD=\"POST\" ACTION=\"qoric?"
                        "sid=\\{sid}&pib.transaction=\\{pib.transaction}&pib.locap=\\{pib.locap}&mcs.name=\\{mcs.name}\">\n"
                        "<INPUT TYPE=TEXT NAME=\"t\" VALUE=\"\"></FORM></BODY></HTML>\n");
    Visitor v(s.port());
    ASSERT_TRUE(isScreen(v.open("/demo/HID"), "HIDS"));
    EXPECT_TRUE(gatewayLogged(s, "hids.t3i refused: field 't' hidden 2 on a field that is no number"));
    ASSERT_TRUE(isScreen(v.submit({{"t", "WXYZ"}}), "HIDS"));
    EXPECT_TRUE(pageHas(v.last().body, "The page&#39;s field file cannot be read: nothing was sent.")) << v.last().body;
    EXPECT_EQ(inputsCount(s.hostLog()), 0u) << s.hostLog();
}

// Pages in the Cache store whose field files an earlier build wrote (no
// converted marker; a mask's hidden digits in a filler line) are converted
// afresh when shown and when a post of one arrives; a screen whose format
// the host cannot give then ends as a missing page's does.
TEST_F(HostBytes, PagesConvertedByAnEarlierBuildAreConvertedAfresh)
{
    Stack s(hostWith("transaction OLD OLDS\nscreen OLDS\n  field 0 7 \"1212345\"\n  enter -> same\n"
                     "transaction GONE GONE\nscreen GONE\n  field 0 7 \"1212345\"\n",
                     {{"olds.t3z", screenFormat("OLDS", bytes({6, 0x4C, 0, 0x02, 7}) + "ZZ9.99")}},
                     "<Transaction NAME=\"OLD\" ID=\"OLD\" LOCAP=\"QOR1\"/>\n"
                     "<Transaction NAME=\"GONE\" ID=\"GONE\" LOCAP=\"QOR1\"/>\n<FccModsSupport VALUE=\"none\"/>"));
    const std::string cache = s.root() + "/cache/";
    auto earlierBuild = [&](const std::string& base) {
        hosttest::writeFile(cache + base + ".t3i", "<record type=\"main\">\n    <field name=\"filler\" mask=\"X(2)\"/>\n"
                                                   "    <field name=\"field_001\" mask=\"ZZ9.99\"/>\n</record>\n");
        if (readFile(cache + base + ".htx").empty()) hosttest::writeFile(cache + base + ".htx", "<HTML>OLD</HTML>");
        const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, (cache + base + ".htx").c_str(), old, 0), 0);
    };
    earlierBuild("gone");
    EXPECT_TRUE(isErrorPage(s.get("/demo/GONE"), -1010));

    earlierBuild("olds");
    Visitor v(s.port());
    ASSERT_TRUE(isScreen(v.open("/demo/OLD"), "OLDS"));
    EXPECT_TRUE(pageHas(readFile(cache + "olds.t3i"), "<records converted=\"yes\">"));
    // The page shown, then its field file outdated before the post.
    earlierBuild("olds");
    ASSERT_TRUE(isScreen(v.submit({{"field_001", "7.5"}}), "OLDS"));
    EXPECT_TRUE(hostReceived(s.hostLog(), mcsInput("OLDS", 7, ' ', ' ', 7, "0000750"))) << s.hostLog();
    EXPECT_EQ(countOf(s.hostLog(), "format OLDS for session"), 2u);
}

}  // namespace
}  // namespace e2e
