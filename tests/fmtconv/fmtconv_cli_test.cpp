// fmtconv run as a program: its command line, messages and exit status,
// failed files and writes, and the stand-in host's sample formats
// converted into the field files the demo wrote by hand.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "formats/field_file_pairs.h"
#include "formats/hostile_formats.h"

namespace {

std::string readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool exists(const std::string &path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

const char kBanner[] = "fmtconv: QOR/ix screen formats (.t3z) to page templates (.htx) and field files (.t3i)\n";
const char kUsage[] =
    "Usage:\n"
    "        fmtconv [-a<add_html>] <file> ... [<out_dir>]\n"
    "        fmtconv [-h|-?]\n"
    "    Converts all files given in \"<file> ...\".\n"
    "    (you can use wildcards here, such as in \n"
    "        fmtconv ./in_dir/*.t3z ./out_dir \n"
    "    Output .htx and .t3i files are written\n"
    "    into the (existing!) directory <out_dir> if given \n"
    "    (that is, if the last argument is the name of the existing\n"
    "    directory), otherwise into the current directory.\n"
    "    If -a option is present, file <add_html> is\n"
    "    used as additional html file.\n"
    "    If -h or -? option are present prints usage and\n"
    "    exits.\n"
    "    The QOR/ix MCS formats a kept in $QORROOT/mcs/group \n"
    "      where 'group' is QOR$Y$ or a customer group name \n";

// A screen format named `name` with one data field of 2 bytes.
std::string format(const std::string &name) {
    std::string n = name;
    n.resize(8, ' ');
    std::string h = std::string("\0\0\0\0\0\1\0\1\x18\x50\0\0", 12) + n + n;
    h += std::string("\x01\0:\x01\0\0\0\x02\0\0\0\x03\x03\x02\x02\x04\0\0\0\0", 20);
    return h + std::string("\x02\x42\0", 3);
}

class Fmtconv : public ::testing::Test {
protected:
    void SetUp() override {
        const char *bin = std::getenv("QOR_BINARY_DIR");
        program_ = std::string(bin ? bin : "..") + "/tools/fmtconv/fmtconv";
        char pattern[] = "./fmtXXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        write("a.t3z", format("ORDER_A"));
        write("b.t3z", format("B"));
        write("bad.t3z", "not a format");
        // FIFOs that nobody writes: read, they would hold the run for good.
        mkfifo((dir_ + "/fifo.t3z").c_str(), 0600);
        mkfifo((dir_ + "/fifo.html").c_str(), 0600);
        mkdir((dir_ + "/out").c_str(), 0755);
        mkdir((dir_ + "/sub").c_str(), 0755);
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }
    void write(const std::string &name, const std::string &text) {
        std::ofstream(dir_ + "/" + name, std::ios::binary) << text;
    }
    std::string in(const std::string &name) const { return dir_ + "/" + name; }
    // Runs fmtconv in the scratch folder; its standard output in out, its
    // standard error in the file err.
    int run(const std::string &args, std::string &out) {
        const std::string cmd = "cd '" + dir_ + "' && '" + program_ + "' " + args + " 2>err";
        FILE *p = popen(cmd.c_str(), "r");
        if (!p) return -1;
        out.clear();
        char buf[4096];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
        const int status = pclose(p);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string program_, dir_;
};

TEST_F(Fmtconv, CommandLine) {
    struct Case {
        const char *args;
        int status;
        std::string out;
        std::vector<const char *> made, notMade;
        const char *err = "";   // found in standard error
    } cases[] = {
        {"", 1, std::string(kBanner) + kUsage, {}, {}},
        {"-h", 1, std::string(kBanner) + kUsage, {}, {}},
        {"'-?'", 1, std::string(kBanner) + kUsage, {}, {}},
        {"-x a.t3z", 1, std::string(kBanner) + kUsage, {}, {"orderaa.htx"}},
        {"-a extra.html", 0, kBanner, {}, {}},
        {"a.t3z b.t3z nothere", 1, "Something wrong with file or directory nothere\n", {}, {"orderaa.htx", "b.htx"}},
        {"a.t3z b.t3z out", 0, kBanner, {"out/orderaa.htx", "out/orderaa.t3i", "out/b.htx", "out/b.t3i"}, {"b.htx"}},
        {"a.t3z b.t3z", 0, kBanner, {"orderaa.htx", "orderaa.t3i", "b.htx", "b.t3i"}, {}},
        {"sub a.t3z", 1, std::string(kBanner) + "Can't convert file sub\n", {}, {"orderaa.htx"}},
        {"a.t3z bad.t3z b.t3z out", 1, std::string(kBanner) + "Can't convert file bad.t3z\n", {"out/orderaa.htx"},
         {"out/b.htx"}},
        {"fifo.t3z b.t3z out", 1, std::string(kBanner) + "Can't convert file fifo.t3z\n", {}, {"out/b.htx"},
         "fifo.t3z cannot be opened: not a regular file"},
        {"-a fifo.html b.t3z out", 0, kBanner, {"out/b.htx", "out/b.t3i"}, {},
         "additional HTML file fifo.html cannot be read (not a regular file)"},
    };
    for (const Case &c : cases) {
        std::system(("cd '" + dir_ + "' && rm -rf out/* *.htx *.t3i").c_str());
        std::string out;
        EXPECT_EQ(run(c.args, out), c.status) << c.args;
        EXPECT_EQ(out, c.out) << c.args;
        for (const char *f : c.made) EXPECT_TRUE(exists(in(f))) << c.args << ": " << f;
        for (const char *f : c.notMade) EXPECT_FALSE(exists(in(f))) << c.args << ": " << f;
        EXPECT_NE(readFile(in("err")).find(c.err), std::string::npos) << c.args;
    }
}

TEST_F(Fmtconv, AdditionalHtmlAndAFailedWrite) {
    write("keys.html", "<P>keys</P>");
    std::string out;
    ASSERT_EQ(run("-akeys.html b.t3z out", out), 0);
    EXPECT_NE(readFile(in("out/b.htx")).find("<P>keys</P>\n"), std::string::npos);
    EXPECT_EQ(readFile(in("err")), "");
    // A file that cannot be read: the pages are written without it, with a
    // warning that names it for each of them.
    ASSERT_EQ(run("-a nothere/keys.html a.t3z b.t3z out", out), 0);
    EXPECT_EQ(out, kBanner);
    EXPECT_EQ(readFile(in("out/b.htx")).find("<P>keys</P>"), std::string::npos);
    const std::string err = readFile(in("err"));
    const std::string warning = "warning: additional HTML file nothere/keys.html cannot be read";
    const size_t first = err.find(warning);
    EXPECT_NE(first, std::string::npos) << err;
    EXPECT_NE(err.find(warning, first + 1), std::string::npos) << err;
    // A page that cannot be put in place (a folder has its name): reported.
    // The field file went into place first; no temporary file stays.
    std::system(("cd '" + dir_ + "' && rm -rf out/* && mkdir out/b.htx").c_str());
    EXPECT_EQ(run("b.t3z out", out), 1);
    EXPECT_EQ(out, std::string(kBanner) + "Can't convert file b.t3z\n");
    std::string listing;
    FILE *p = popen(("ls -A '" + in("out") + "'").c_str(), "r");
    char buf[256];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) listing.append(buf, n);
    pclose(p);
    EXPECT_EQ(listing, "b.htx\nb.t3i\n");
}

// Formats that no 24 x 80 screen can be: not converted, nothing written,
// and the run stops there. A full screen of one-column fields converts.
TEST_F(Fmtconv, HostileFormatsAreNotConverted) {
    for (const hostile::Case &h : hostile::Cases()) {
        SCOPED_TRACE(h.what);
        std::system(("cd '" + dir_ + "' && rm -rf out/*").c_str());
        write(h.name + ".t3z", h.t3z);
        std::string out;
        EXPECT_EQ(run(h.name + ".t3z b.t3z out", out), 1);
        EXPECT_EQ(out, std::string(kBanner) + "Can't convert file " + h.name + ".t3z\n");
        std::string lower = h.name;
        for (char &c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_FALSE(exists(in("out/" + lower + ".htx")));
        EXPECT_FALSE(exists(in("out/" + lower + ".t3i")));
        EXPECT_FALSE(exists(in("out/b.htx")));
    }
    write("full.t3z", hostile::FullScreen("FULL", 24, 80));
    std::string out;
    EXPECT_EQ(run("full.t3z out", out), 0);
    EXPECT_EQ(out, kBanner);
    EXPECT_GT(readFile(in("out/full.htx")).size(), 500000u);
}

TEST_F(Fmtconv, SampleFormatsGiveTheDemoFieldFiles) {
    const char *src = std::getenv("QOR_SOURCE_DIR");
    ASSERT_NE(src, nullptr);
    std::string out;
    ASSERT_EQ(run(std::string(src) + "/testhost/samples/formats/*.t3z out", out), 0) << out;
    for (const char *name : {"logon", "menu", "detail", "echo"}) {
        const std::vector<std::string> expected =
            fmt_test::FieldFilePairs(readFile(std::string(src) + "/demo/htx/" + name + ".t3i"));
        ASSERT_FALSE(expected.empty()) << name;
        EXPECT_EQ(fmt_test::FieldFilePairs(readFile(in("out/") + name + ".t3i")), expected) << name;
    }
    EXPECT_TRUE(exists(in("out/ordentry.htx")));
}

}  // namespace
