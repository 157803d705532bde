// The host's packed date-time record.
#include "gosdate.h"

#include <cstdio>
#include <sys/time.h>

namespace {

struct tm toTm(const DATETIME &dt)
{
    struct tm t {};
    t.tm_year = dt.year + 70;
    t.tm_mon = (dt.month & 0x0F) - 1;
    t.tm_mday = dt.dayWeek & 0x1F;
    t.tm_wday = dt.dayWeek >> 5;
    t.tm_hour = dt.hour & 0x1F;
    t.tm_min = dt.minute & 0x3F;
    t.tm_sec = dt.second & 0x3F;
    t.tm_isdst = -1;
    return t;
}

} // namespace

time_t datetime(DATETIME *out)
{
    struct timeval now {};
    gettimeofday(&now, nullptr);
    const time_t seconds = now.tv_sec;
    struct tm local {};
    localtime_r(&seconds, &local);
    if (out) {
        out->year = static_cast<uint8_t>(local.tm_year - 70);
        out->month = static_cast<uint8_t>((local.tm_mon + 1) & 0x0F);
        out->dayWeek = static_cast<uint8_t>((local.tm_mday & 0x1F) | (local.tm_wday << 5));
        out->hour = static_cast<uint8_t>(local.tm_hour & 0x1F);
        out->minute = static_cast<uint8_t>(local.tm_min & 0x3F);
        out->second = static_cast<uint8_t>(local.tm_sec & 0x3F);
        out->hundredths = static_cast<uint8_t>((now.tv_usec / 10000) & 0x7F);
        out->zero = 0;
    }
    return seconds;
}

size_t fmtdate(const DATETIME &dt, char *out, size_t size, const char *form)
{
    if (!out || size == 0 || !form)
        return 0;
    const struct tm t = toTm(dt);
    const size_t len = strftime(out, size, form, &t);
    if (len == 0)
        out[0] = '\0';
    return len;
}

char *fmttime(const DATETIME &dt, char *out, int length)
{
    const int h = dt.hour & 0x1F, m = dt.minute & 0x3F, s = dt.second & 0x3F;
    switch (length) {
    case 4: snprintf(out, 5, "%02d%02d", h, m); return out;
    case 5: snprintf(out, 6, "%02d:%02d", h, m); return out;
    case 8: snprintf(out, 9, "%02d:%02d:%02d", h, m, s); return out;
    default: return nullptr;
    }
}
