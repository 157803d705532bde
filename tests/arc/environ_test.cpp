// The library's own environment table: putenv keeps the caller's strings,
// replaces entries by name, grows, and survives other code replacing it.
#include "qorfiles.h"
#include "qorutenv.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

int countNamed(const char *prefix)
{
    int n = 0;
    for (char **e = environ; *e; ++e)
        if (std::strncmp(*e, prefix, std::strlen(prefix)) == 0)
            ++n;
    return n;
}

TEST(Environ, PutReplacesByName)
{
    static char a1[] = "QORT_A=1";
    static char a2[] = "QORT_A=2";
    ASSERT_EQ(putenv(a1), 0);
    ASSERT_EQ(putenv(a2), 0);
    EXPECT_EQ(countNamed("QORT_A="), 1);
    EXPECT_STREQ(getenv("QORT_A"), "2");
    EXPECT_EQ(unsetenv("QORT_A"), 0);
    EXPECT_EQ(getenv("QORT_A"), nullptr);
    EXPECT_EQ(unsetenv("QORT_A"), -1);
}

TEST(Environ, StoresTheCallersString)
{
    static char s[] = "QORT_B=before";
    ASSERT_EQ(putenv(s), 0);
    std::memcpy(s + 7, "after!", 7);
    EXPECT_STREQ(getenv("QORT_B"), "after!");
    unsetenv("QORT_B");
}

TEST(Environ, LookupMatchesWholeNames)
{
    static char ab[] = "QORT_AB=x";
    putenv(ab);
    EXPECT_EQ(lookenviron("QORT_A"), -1);
    EXPECT_EQ(errno, ENOENT);
    const int i = lookenviron("QORT_AB");
    ASSERT_GE(i, 0);
    EXPECT_EQ(environ[i], ab);
    EXPECT_EQ(lookenviron("QORT_AB=anything"), i);  // the name ends at '='
    putenv(const_cast<char *>("QORT_AB"));          // no '=': removes the entry
    EXPECT_EQ(lookenviron("QORT_AB"), -1);
}

TEST(Environ, GrowsAndStaysTerminated)
{
    static std::vector<std::string> vars;
    for (int i = 0; i < 200; ++i)
        vars.push_back("QORT_G" + std::to_string(i) + "=" + std::to_string(i * 7));
    for (std::string &v : vars)
        ASSERT_EQ(putenv(&v[0]), 0);
    for (int i = 0; i < 200; ++i)
        ASSERT_STREQ(getenv(("QORT_G" + std::to_string(i)).c_str()), std::to_string(i * 7).c_str());
    EXPECT_EQ(countNamed("QORT_G"), 200);
    for (int i = 0; i < 200; i += 2)
        unsetenv(("QORT_G" + std::to_string(i)).c_str());
    EXPECT_EQ(countNamed("QORT_G"), 100);
    EXPECT_EQ(getenv("QORT_G3")[0], '2');
    for (int i = 1; i < 200; i += 2)
        unsetenv(("QORT_G" + std::to_string(i)).c_str());
    EXPECT_EQ(countNamed("QORT_G"), 0);
}

TEST(Environ, SurvivesAnotherTableBeingInstalled)
{
    static char c[] = "QORT_C=1";
    ASSERT_EQ(checkenviron(), 0);
    char **ours = environ;
    // Someone else installs a copy of the environment.
    static std::vector<char *> other;
    for (char **e = environ; *e; ++e)
        other.push_back(*e);
    other.push_back(nullptr);
    environ = other.data();
    ASSERT_EQ(putenv(c), 0);
    EXPECT_NE(environ, other.data());  // a table of our own again
    EXPECT_NE(environ, nullptr);
    EXPECT_STREQ(getenv("QORT_C"), "1");
    (void)ours;
    unsetenv("QORT_C");
}

TEST(Environ, UserName)
{
    const std::string name = getUnixUser();
    EXPECT_LE(name.size(), 15u);
    EXPECT_EQ(name, qorixuser());
    if (geteuid() == 0) {
        EXPECT_EQ(name, "root");
    }
}

TEST(HostFiles, RootFromEnvironmentOrArgument)
{
    unsetenv("QORROOT");
    unsetenv("QoRsHmId");
    EXPECT_EQ(qorfiles("/opt/host", true), 0);
    EXPECT_EQ(qorixroot(), "/opt/host/");
    EXPECT_EQ(qorixfiles(), "/opt/host/qorfiles");
    EXPECT_EQ(qorixboot(), "/opt/host/qorboot.sys");
    // Later calls only report the host-process flag.
    static char shm[] = "QoRsHmId=7";
    putenv(shm);
    EXPECT_EQ(qorfiles("/elsewhere"), 0);
    EXPECT_EQ(qorixroot(), "/opt/host/");
    static char root[] = "QORROOT=/srv/q/";
    putenv(root);
    EXPECT_EQ(qorfiles("/elsewhere", true), 1);
    EXPECT_EQ(qorixroot(), "/srv/q/");
    unsetenv("QORROOT");
    unsetenv("QoRsHmId");
    EXPECT_EQ(qorfiles(nullptr, true), 0);
    EXPECT_EQ(qorixroot(), "/qorix/");
}

} // namespace
