// tpltest run as a program: usage, load failures, the sample file and the
// form test written to its log.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

constexpr const char* kLog = "/tmp/xfcgi.log";

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

class Tpltest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* bin = std::getenv("QOR_BINARY_DIR");
        program_ = std::string(bin ? bin : "..") + "/tools/tpltest/tpltest";
        char pattern[] = "./cliXXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        std::remove(kLog);
    }
    void TearDown() override {
        std::system(("rm -rf '" + dir_ + "'").c_str());
        std::remove(kLog);
    }
    void write(const std::string& name, const std::string& text) {
        std::ofstream(dir_ + "/" + name, std::ios::binary) << text;
    }
    // Runs tpltest in the scratch folder; its standard output in out.
    int run(const std::string& args, std::string& out) {
        std::string cmd = "cd '" + dir_ + "' && DOCUMENT_ROOT=/nonexistent '" + program_ + "' " +
                          args + " 2>/dev/null";
        FILE* p = popen(cmd.c_str(), "r");
        if (!p) return -1;
        out.clear();
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        int status = pclose(p);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string program_, dir_;
};

TEST_F(Tpltest, UsageWithoutTemplate) {
    std::string out;
    EXPECT_EQ(run("", out), 255);
    EXPECT_EQ(out.find("\nQOR/ix ver 2017/03/11 2.5 R0 - 0354  "), 0u) << out;
    EXPECT_NE(out.find(" -i htmltemplate -c cpydir -h htxdir\n"
                       "    -i   Input HTML template file to read\n"),
              std::string::npos);
    EXPECT_NE(out.find("    -t   turns on logging (/tmp/xfcgi.log)\n"
                       "    -m   Sample file with mcsdata/fccmod\n"),
              std::string::npos);
    // An unknown option after -i forgets the template.
    EXPECT_EQ(run("-i x.htx -x", out), 255);
    EXPECT_NE(out.find("Bad option x \n"), std::string::npos) << out;
    EXPECT_NE(out.find("Input HTML template file to read"), std::string::npos);
}

TEST_F(Tpltest, TemplateThatCannotBeLoaded) {
    std::string out;
    EXPECT_EQ(run("-i missing.html", out), 255);
    EXPECT_EQ(out, "ERROR missing.html was not loaded\n");
}

TEST_F(Tpltest, LoadOnly) {
    write("page.htx", "<p>\\{a}</p>");
    std::string out;
    // An unknown option before -i is harmless.
    EXPECT_EQ(run("-z -i page.htx", out), 0);
    EXPECT_EQ(out, "Bad option z \nCould not find T3I file: ./page.t3i\n");
}

TEST_F(Tpltest, RewritingIsNotAvailableYet) {
    write("page.htx", "x");
    std::string out;
    EXPECT_EQ(run("-c . -i page.htx", out), 255);
    EXPECT_EQ(run("-h out -i page.htx", out), 255);
}

TEST_F(Tpltest, SampleFileProblems) {
    write("page.htx", "x");
    std::string out;
    EXPECT_EQ(run("-i page.htx -m nofile", out), 255);
    EXPECT_NE(out.find("Unable to open sample MCSDATA file nofile (No such file or directory)\n"),
              std::string::npos)
        << out;
    write("s.txt", "ABC\n");
    EXPECT_EQ(run("-i ./page.htx -m s.txt", out), 255);
    EXPECT_NE(out.find("ERROR opening ./page.t3i\n"), std::string::npos) << out;
    // A field file that opens but is refused says so, and why.
    write("page.t3i", "<record type=\"main\"><field name=\"big\" mask=\"X(100)\" occurs=\"1000\"/></record>");
    EXPECT_EQ(run("-i ./page.htx -m s.txt", out), 255);
    EXPECT_EQ(out.find("ERROR opening"), std::string::npos) << out;
    EXPECT_NE(out.find("ERROR ./page.t3i was refused: field 'big' length 100 at 0 ends at 100000, "
                       "past the largest screen of 65535 bytes\n"),
              std::string::npos)
        << out;
}

TEST_F(Tpltest, FormTestWritesThePageToTheLog) {
    write("p.htx",
          "<form action=\"x?sid=\\{SID}&t=\\{pib.transaction}\">\\{mcs.name}|\\{a}|\\{amt}\n"
          "<input name=a value=\"\\{a}\" maxlength=4></form>");
    write("p.t3i",
          "<records><record type=\"toweb\"><field name=\"a\" mask=\"X(4)\"/>"
          "<field name=\"amt\" mask=\"9(3)V99\"/></record>"
          "<record type=\"fromweb\"><field name=\"a\" mask=\"X(4)\"/>"
          "<field name=\"amt\" mask=\"9(3)V99\"/></record></records>");
    write("s.txt", "<mcsdata>\nA<B&\n0012J\n</mcsdata>\n<inpdata>\namt=-12.5\na=x+y%21\n</inpdata>\n");
    std::string out;
    EXPECT_EQ(run("-t -i ./p.htx -m s.txt", out), 0) << out;
    std::string log = readFile(kLog);
    size_t start = log.find("Testing form with sample data s.txt");
    size_t result = log.find("Result of Send Form follows");
    size_t end = log.find("End of Send Form");
    ASSERT_NE(start, std::string::npos) << log;
    ASSERT_NE(result, std::string::npos) << log;
    ASSERT_NE(end, std::string::npos) << log;
    EXPECT_LT(start, result);
    std::string pageText = log.substr(result, end - result);
    EXPECT_NE(pageText.find("Content-type: text/html\r\nCache-Control: no-cache\r\n"),
              std::string::npos);
    EXPECT_NE(pageText.find("<form action=\"x?sid=01SID99TST&t=tpltest\">TSTMCSNM|A&lt;B&amp;|00121\n"
                            "<input name=a value=\"A&lt;B&amp;\" maxlength=4></form>"),
              std::string::npos)
        << pageText;
    // The form read: "x y!" and the zoned -12.5.
    EXPECT_NE(log.find("Result of Simulated Form Read"), std::string::npos);
    EXPECT_NE(log.find("End of Form Read"), std::string::npos);
    EXPECT_NE(log.find("'x y!0125}'"), std::string::npos) << log;
}

TEST_F(Tpltest, SampleWithoutTagsAndWithoutLog) {
    write("p.htx", "[\\{a}]");
    write("p.t3i", "<record type=\"toweb\"><field name=\"a\" mask=\"X(3)\"/></record>");
    write("s.txt", "XYZW\n");
    std::string out;
    EXPECT_EQ(run("-i ./p.htx -m s.txt", out), 0);
    EXPECT_EQ(readFile(kLog), "");
    EXPECT_EQ(run("-t -i ./p.htx -m s.txt", out), 0);
    std::string log = readFile(kLog);
    EXPECT_NE(log.find("\r\n\r\n[XYZ]"), std::string::npos) << log;
    EXPECT_EQ(log.find("Result of Simulated Form Read"), std::string::npos);
}

}  // namespace
