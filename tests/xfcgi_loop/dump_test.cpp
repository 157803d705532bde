// The input-table dump of the request loop.
#include "fake_fcgi.h"
#include "loop_util.h"

#include "logprint.h"
#include "xfcgiinput.h"
#include "xfcgin.h"

#include <gtest/gtest.h>

using namespace looptest;

TEST(InputDump, OneLinePerEntry)
{
    TempDir dir;
    const std::string logPath = dir.file("dump.log");
    ASSERT_NE(logOpen(logPath.c_str(), 0), nullptr);
    xFcgiGetParsedInput("a=1&name=two words");
    xFcgiDumpData();
    logClose();
    std::string text = readFile(logPath);
    EXPECT_NE(text.find("Dump of input variable table"), std::string::npos);
    EXPECT_NE(text.find(" 0) a                    = 1\n"), std::string::npos);
    EXPECT_NE(text.find(" 1) name                 = two words\n"), std::string::npos);
}
