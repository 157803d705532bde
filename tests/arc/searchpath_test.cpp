// Executable search: permissions, order of places, list elements, limits.
#include "searchpath.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A scratch directory tree; the test program runs in a working directory
// of its own, so relative names stay inside it.
class SearchPathTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/qor_searchpath_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        setExecRequired(true);
    }
    void TearDown() override
    {
        setExecRequired(true);
        std::system(("rm -rf '" + dir_ + "'").c_str());
    }
    std::string makeFile(const std::string &sub, const std::string &name, mode_t mode)
    {
        const std::string d = dir_ + "/" + sub;
        mkdir(d.c_str(), 0755);
        const std::string path = d + "/" + name;
        std::ofstream(path) << "#!/bin/sh\n";
        chmod(path.c_str(), mode);
        return path;
    }
    std::string dir_;
};

TEST_F(SearchPathTest, FindsLsAlongPath)
{
    static char qorpath[] = "QORPATH";
    static char path[] = "PATH=/usr/local/bin:/bin";
    unsetenv(qorpath);
    putenv(path);
    const char *found = searchPath("ls", nullptr);
    ASSERT_NE(found, nullptr);
    EXPECT_STREQ(found, "/bin/ls");
}

TEST_F(SearchPathTest, ListIsTriedInOrderAndQorpathComesFirst)
{
    const std::string a = makeFile("a", "tool", 0755);
    const std::string b = makeFile("b", "tool", 0755);
    const std::string list = dir_ + "/none:" + dir_ + "/b:" + dir_ + "/a";
    ASSERT_NE(searchPath("tool", list.c_str()), nullptr);
    EXPECT_EQ(std::string(searchPath("tool", list.c_str())), b);

    static std::string qorpath;
    qorpath = "QORPATH=" + dir_ + "/a";
    putenv(&qorpath[0]);
    ASSERT_NE(searchPath("tool", nullptr), nullptr);
    EXPECT_EQ(std::string(searchPath("tool", nullptr)), a);
    unsetenv("QORPATH");
}

TEST_F(SearchPathTest, OwnerNeedsReadAndExecute)
{
    makeFile("m", "xonly", 0100);
    makeFile("m", "rx", 0500);
    const std::string list = dir_ + "/m";
    EXPECT_EQ(searchPath("xonly", list.c_str()), nullptr);
    EXPECT_NE(searchPath("rx", list.c_str()), nullptr);
    // Read permission is enough once execution is not required.
    makeFile("m", "data", 0400);
    EXPECT_EQ(searchPath("data", list.c_str()), nullptr);
    setExecRequired(false);
    EXPECT_NE(searchPath("data", list.c_str()), nullptr);
}

TEST_F(SearchPathTest, OthersBitsApplyToForeignFiles)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to give a file away";
    const std::string p = makeFile("o", "foreign", 0001);
    ASSERT_EQ(chown(p.c_str(), 54321, 54321), 0);
    const std::string list = dir_ + "/o";
    EXPECT_NE(searchPath("foreign", list.c_str()), nullptr);
    chmod(p.c_str(), 0700);
    EXPECT_EQ(searchPath("foreign", list.c_str()), nullptr);
}

TEST_F(SearchPathTest, CobolModulesOnlyHaveToExist)
{
    makeFile("c", "prog.int", 0644);
    makeFile("c", "prog.txt", 0644);
    const std::string list = dir_ + "/c";
    EXPECT_NE(searchPath("prog.int", list.c_str()), nullptr);
    EXPECT_EQ(searchPath("prog.txt", list.c_str()), nullptr);
    const char *ext = nullptr;
    const char *found = searchPathExt("prog", list.c_str(), "gnt:int:", &ext);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(std::string(found), list + "/prog.int");
    EXPECT_STREQ(ext, "int");
}

TEST_F(SearchPathTest, CurrentDirectoryComesFirst)
{
    std::ofstream("here") << "x";
    chmod("here", 0755);
    makeFile("d", "here", 0755);
    const std::string list = dir_ + "/d";
    ASSERT_NE(searchPath("here", list.c_str()), nullptr);
    EXPECT_STREQ(searchPath("here", list.c_str()), "./here");
    unlink("here");
}

TEST_F(SearchPathTest, EmptyElementIsTheRoot)
{
    // "bin/ls" exists only below the root, so finding it shows that the
    // empty element stood for "/".
    const std::string list = dir_ + "/none::";
    const char *found = searchPath("bin/ls", list.c_str());
    ASSERT_NE(found, nullptr);
    EXPECT_STREQ(found, "/bin/ls");
}

TEST_F(SearchPathTest, PathsAreTakenAsTheyAre)
{
    const std::string p = makeFile("p", "noexec", 0644);
    EXPECT_EQ(std::string(searchPath(p.c_str(), "/nowhere")), p);  // no permission test
    EXPECT_EQ(searchPath(dir_.c_str(), nullptr), nullptr);          // a directory
    EXPECT_EQ(searchPath("./missing", nullptr), nullptr);
}

TEST_F(SearchPathTest, OverlongNamesAreRefused)
{
    const std::string longName(300, 'x');
    EXPECT_EQ(searchPath(longName.c_str(), "/bin"), nullptr);
    EXPECT_EQ(searchPath(("/" + longName).c_str(), nullptr), nullptr);
    // An element too long to hold together with the name is skipped.
    const std::string list = "/" + std::string(250, 'd') + ":/bin";
    EXPECT_STREQ(searchPath("ls", list.c_str()), "/bin/ls");
    EXPECT_EQ(searchPath("", "/bin"), nullptr);
}

TEST_F(SearchPathTest, CacheRemembersRecentFinds)
{
    const std::string t = makeFile("k", "cached", 0755);
    const std::string list = dir_ + "/k";
    EXPECT_EQ(searchPath(nullptr, nullptr), nullptr);  // cache on and empty
    ASSERT_NE(searchPath("cached", list.c_str()), nullptr);
    unlink(t.c_str());
    // Found again from the cache although the file is gone.
    ASSERT_NE(searchPath("cached", list.c_str()), nullptr);
    EXPECT_EQ(std::string(searchPath("cached", list.c_str())), t);
    searchPath(nullptr, nullptr);  // emptied
    EXPECT_EQ(searchPath("cached", list.c_str()), nullptr);
}

TEST_F(SearchPathTest, StickyBitIsReported)
{
    makeFile("s", "sticky", 01755);
    makeFile("s", "plain", 0755);
    const std::string list = dir_ + "/s";
    ASSERT_NE(searchPath("sticky", list.c_str()), nullptr);
    EXPECT_TRUE(searchPathSticky());
    ASSERT_NE(searchPath("plain", list.c_str()), nullptr);
    EXPECT_FALSE(searchPathSticky());
}

} // namespace
