// tpltest run as a program: usage, load failures, the sample file and the
// form test written to its log.
#include "tpltest/tpltest_run.h"

#include <sys/stat.h>

#include <functional>

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

TEST_F(Tpltest, RewritingIntoTheCurrentDirectory) {
    write("page.htx", "<p>\\{a}</p>");
    std::string out;
    EXPECT_EQ(run("-c ./ -h . -i page.htx", out), 0);
    char* cwd = getcwd(nullptr, 0);
    const std::string here = std::string(cwd) + "/" + dir_.substr(2);
    std::free(cwd);
    EXPECT_EQ(out, "Could not find T3I file: ./page.t3i\n"
                   "DezUR COPY books written to " + here + "\n"
                   "QOR/ic htx/t3i files written to " + here + "\n"
                   "Processing of page.htx is complete\n");
    EXPECT_EQ(readFile(dir_ + "/page.t3i"),
              "<record type=\"main\">\n    <field name=\"a\" mask=\"X(0)\" type=\"output\"/>\n</record>\n");
    EXPECT_NE(readFile(dir_ + "/HTML-PAGE-INPUT").find("       01  HTML-PAGE-INPUT.\n"), std::string::npos);
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

// Screen data in a page: escaped for HTML (single quotes too), escaped as
// JavaScript inside a script's string, cut to an identifier in its code.
TEST_F(Tpltest, ScreenDataInAttributesAndScripts) {
    write("p.htx",
          "<input name=m value='\\{m}'>\n"
          "<script>alert('\\{m}'); document.\\{f}.focus();</script>");
    write("p.t3i",
          "<records><record type=\"toweb\"><field name=\"m\" mask=\"X(10)\"/>"
          "<field name=\"f\" mask=\"X(7)\"/></record></records>");
    write("s.txt", "<mcsdata>\nx y'</b>\"\\F1\";x()\n</mcsdata>\n");
    std::string out;
    EXPECT_EQ(run("-t -i ./p.htx -m s.txt", out), 0) << out;
    const std::string log = readFile(kLog);
    EXPECT_NE(log.find("<input name=m value='x y&#39;&lt;/b&gt;&quot;\\'>\n"
                       "<script>alert('x y\\x27\\x3C\\x2Fb\\x3E\\x22\\x5C'); "
                       "document.F1x.focus();</script>"),
              std::string::npos)
        << log;
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

// The -t log is written only into a regular file of the running user: a
// symbolic link placed at its path (its target untouched), a FIFO, a
// folder or another user's file are refused on standard error, and the
// run goes on without a log. A file of our own is emptied and written.
TEST_F(Tpltest, LogIsNeverWrittenThroughALinkOrIntoAnotherUsersFile) {
    write("p.htx", "[\\{a}]");
    write("p.t3i", "<record type=\"toweb\"><field name=\"a\" mask=\"X(3)\"/></record>");
    write("s.txt", "ABC\n");
    const std::string victim = absDir_ + "/victim";
    const struct {
        const char* what;
        std::function<bool()> place;   // false: cannot be set up here
        const char* said;
    } cases[] = {
        {"link", [&] { return symlink(victim.c_str(), kLog.c_str()) == 0; }, "it is a symbolic link"},
        {"fifo", [&] { return mkfifo(kLog.c_str(), 0600) == 0; }, "it is not a regular file"},
        {"folder", [&] { return mkdir(kLog.c_str(), 0700) == 0; }, "Is a directory"},
        {"other user's file",
         [&] {
             // Only root can give a file away.
             std::ofstream(kLog) << "theirs\n";
             return geteuid() == 0 && chown(kLog.c_str(), 65534, 65534) == 0;
         },
         "it belongs to another user"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::system(("rm -rf '" + kLog + "'").c_str());
        std::ofstream(victim, std::ios::binary) << "precious\n";
        if (!c.place()) {
            std::printf("(%s not set up here)\n", c.what);
            continue;
        }
        std::string out, err;
        EXPECT_EQ(run("-t -i ./p.htx -m s.txt", out, "", &err), 0) << out;
        EXPECT_NE(err.find("tpltest: log " + kLog + " not written: " + c.said), std::string::npos) << err;
        EXPECT_EQ(readFile(victim), "precious\n");
    }
    struct stat st {};
    ASSERT_EQ(lstat(kLog.c_str(), &st), 0);
    if (geteuid() == 0) {
        EXPECT_EQ(readFile(kLog), "theirs\n");
    }

    // Our own file: emptied and written.
    std::system(("rm -rf '" + kLog + "'").c_str());
    std::ofstream(kLog) << std::string(10000, 'o');
    std::string out, err;
    EXPECT_EQ(run("-t -i ./p.htx -m s.txt", out, "", &err), 0) << err;
    const std::string log = readFile(kLog);
    EXPECT_NE(log.find("\r\n\r\n[ABC]"), std::string::npos) << log;
    EXPECT_EQ(log.find("ooo"), std::string::npos);
}
