// Several input values at once into sized destinations, and the heap-check
// report.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <unistd.h>

#include "xfcgiinput.h"
#include "xfcgimcheck.h"
#include "xfcgiout.h"
#include "xml/log_capture.h"

TEST(GetValues, ConversionsChosenByTheFirstLetter) {
    xFcgiGetParsedInput("hex=1f&Int=42&dbl=x2.5&text=hello+world&list_2=second");
    int32_t h = 0, i = 0;
    double d = 0;
    char text[6], missing[32], second[16];
    char errors[64] = "old";
    EXPECT_EQ(xFcgiGetValues(errors, sizeof errors, 0,
                             {{"hex", &h, sizeof h},
                              {"int", &i, sizeof i},
                              {"Dbl", &d, sizeof d},
                              {"text", text, sizeof text},
                              {"nothing", missing, sizeof missing}}),
              1);
    EXPECT_EQ(h, 31);
    EXPECT_EQ(i, 42);
    EXPECT_EQ(d, 2.5);
    EXPECT_STREQ(text, "hello");  // cut to its destination
    EXPECT_STREQ(missing, "nothing not found!");
    EXPECT_STREQ(errors, "");
    xFcgiGetValues(errors, sizeof errors, 2, {{"list", second, sizeof second}});
    EXPECT_STREQ(second, "second");
}

TEST(GetValues, SmallDestinationsAreLeftAloneAndNamed) {
    xFcgiGetParsedInput("int=7&dbl=1.5&s=abc&after=1");
    int16_t small = -1;
    float f = -1;
    char none[1] = {'x'};
    int32_t after = 0;
    char errors[24];
    xFcgiGetValues(errors, sizeof errors, 0,
                   {{"int", &small, sizeof small},
                    {"dbl", &f, sizeof f},
                    {"s", none, 0},
                    {nullptr, &after, sizeof after}});  // the list ends at a null name
    EXPECT_EQ(small, -1);
    EXPECT_EQ(f, -1);
    EXPECT_EQ(none[0], 'x');
    EXPECT_EQ(after, 0);
    EXPECT_STREQ(errors, "int: too small; dbl: to");  // cut to its own size
}

TEST(MemCheck, ReportsWhatTheHeapCheckFound) {
    char self[PATH_MAX] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    saveBinaryName(self);
    {
        LogCapture log("mcheck_ok.log");
        memCheckError(MCHECK_OK);
        EXPECT_EQ(log.text().find("Mcheck"), std::string::npos);
    }
    const struct {
        mcheck_status status;
        const char* line;
    } cases[] = {{MCHECK_FREE, "#Mcheck: Block freed twice"},
                 {MCHECK_HEAD, "#Mcheck: Block clobbered"},
                 {MCHECK_TAIL, "#Mcheck: Block clobbered"},
                 {MCHECK_DISABLED, "#Mcheck Disabled"}};
    for (const auto& c : cases) {
        LogCapture log("mcheck.log");
        memCheckError(c.status);
        const std::string text = log.text();
        EXPECT_NE(text.find(c.line + 1), std::string::npos) << text;
        EXPECT_NE(text.find("Stack back trace follows"), std::string::npos) << text;
        // Source lines of the callers, without their folders.
        EXPECT_NE(text.find(" 1)  "), std::string::npos) << text;
        EXPECT_NE(text.find(")  cgi_values_test.cpp:"), std::string::npos) << text;
        EXPECT_EQ(text.find(")  /"), std::string::npos) << text;
        EXPECT_NE(text.find("**************************************\n"), std::string::npos) << text;
    }
    saveBinaryName(nullptr);
}
