// The packed date-time record.
#include "gosdate.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(DateTime, MatchesLocalClock)
{
    DATETIME dt;
    std::memset(&dt, 0xEE, sizeof dt);
    const time_t now = datetime(&dt);
    struct tm local {};
    localtime_r(&now, &local);
    EXPECT_EQ(dt.year + 1970, local.tm_year + 1900);
    EXPECT_EQ(dt.month & 0x0F, local.tm_mon + 1);
    EXPECT_EQ(dt.dayWeek & 0x1F, local.tm_mday);
    EXPECT_EQ(dt.dayWeek >> 5, local.tm_wday);
    EXPECT_EQ(dt.hour, local.tm_hour);
    EXPECT_EQ(dt.minute, local.tm_min);
    EXPECT_EQ(dt.second, local.tm_sec);
    EXPECT_LT(dt.hundredths, 100);
    EXPECT_EQ(dt.zero, 0);
}

TEST(DateTime, TextForms)
{
    DATETIME dt {};
    dt.year = 55;            // 2025
    dt.month = 1;
    dt.dayWeek = 5 | (0 << 5);
    dt.hour = 7;
    dt.minute = 8;
    dt.second = 9;
    char out[16];
    EXPECT_STREQ(fmttime(dt, out, 4), "0708");
    EXPECT_STREQ(fmttime(dt, out, 5), "07:08");
    EXPECT_STREQ(fmttime(dt, out, 8), "07:08:09");
    EXPECT_EQ(fmttime(dt, out, 6), nullptr);
    EXPECT_EQ(fmtdate(dt, out, sizeof out, "%Y-%m-%d"), 10u);
    EXPECT_STREQ(out, "2025-01-05");
    EXPECT_EQ(fmtdate(dt, out, 4, "%Y-%m-%d"), 0u);  // does not fit
    EXPECT_STREQ(out, "");
}

} // namespace
