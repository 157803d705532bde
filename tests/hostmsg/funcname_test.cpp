// Function-code names.
#include "funcname.h"
#include "hostmsg/ipc_util.h"

#include <gtest/gtest.h>

#include <climits>

TEST(FuncName, NamesPaddingAndCase)
{
    const struct {
        int code;
        const char *name;
    } cases[] = {
        {1, "dFlogin   "},          {7, "dFgrowbuf "},     {236, "dFwsVersionInfo"}, {259, "dFssAck   "},
        {0, "dF#0      "},          {10, "dF#10     "},    {260, "dF#260    "},      {100000, "dF#100000 "},
        {-1, "DFLOGIN   "},         {-21, "DFMSGO    "},   {-10, "DF#10     "},      {-300, "DF#300    "},
        {INT_MIN, "DF#2147483648"}, {INT_MAX, "dF#2147483647"},
    };
    for (const auto &c : cases)
        EXPECT_STREQ(funcName(c.code), c.name) << c.code;
}

TEST(FuncName, ThreeInOneLogLine)
{
    hostmsg::Log log("names.log");
    logPrintf("#%s|%s|%s\n", funcName(1), funcName(-2), funcName(999));
    EXPECT_NE(log.text().find("dFlogin   |DFLOGOUT  |dF#999    "), std::string::npos) << log.text();
}
