// The one log entry a signal handler may write (see logprint.h).
//
// A handler may only call async-signal-safe functions: no stdio, no
// localtime, no allocation. So the entry's leader (line end, cycle letter,
// tag, the place and kind of the time stamp) and the offset of local time
// from UTC are taken beforehand, while the process may still use the log;
// the handler then fills in the time of day from clock_gettime with plain
// arithmetic and writes the whole entry with a single write(2).
#include "logprint.h"
#include "logstate.h"

#include <time.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <string>

namespace {

enum StampKind : int { kNoStamp, kHms, kMonthDayHm, kHundredths };

constexpr size_t kLeaderMax = 160;

struct Prepared {
    char leader[kLeaderMax];
    size_t length = 0;
    size_t stampAt = 0;
    int kind = kNoStamp;
    long utcOffset = 0;   // seconds east of UTC
    int fd = -1;
};

// Two copies: the one the handler reads is never the one being written.
Prepared prepared[2];
volatile sig_atomic_t current = -1;

void put2(char *at, long v)
{
    at[0] = static_cast<char>('0' + (v / 10) % 10);
    at[1] = static_cast<char>('0' + v % 10);
}

// Month and day of a count of days since 1970-01-01 (civil calendar).
void monthDay(long days, long &month, long &day)
{
    days += 719468;
    const long era = (days >= 0 ? days : days - 146096) / 146097;
    const long doe = days - era * 146097;
    const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long mp = (5 * doy + 2) / 153;
    day = doy - (153 * mp + 2) / 5 + 1;
    month = mp < 10 ? mp + 3 : mp - 9;
}

} // namespace

void logPrepareSignalEntry()
{
    LogState &g = logState;
    const int next = current == 0 ? 1 : 0;
    Prepared &p = prepared[next];
    if (!g.file) {
        current = -1;
        return;
    }
    // The time prefix as the next message would get it, without spending
    // one of the prefixes of a time interval.
    const bool noTime = !(logCtrlFlgs & LOG_HUNDREDTHS) && logTimeInterval > 0 && g.countdown > 0;
    const std::string tod = g.tod, today = g.today;
    const int indent = g.indent, countdown = g.countdown;
    const std::string prefix = logMakePrefix();
    g.tod = tod;
    g.today = today;
    g.indent = indent;
    g.countdown = countdown;

    size_t stampLength = 0;
    p.kind = kNoStamp;
    if (!noTime) {
        if (logCtrlFlgs & LOG_HMS) {
            p.kind = kHms;
            stampLength = 9;       // "hh:mm:ss "
        } else if (logTimeSec == 0 && !(logCtrlFlgs & LOG_HUNDREDTHS)) {
            p.kind = kMonthDayHm;
            stampLength = 12;      // "MM/DD hh:mm "
        } else {
            p.kind = kHundredths;
            stampLength = 12;      // "hh:mm:ss.hh "
        }
    }
    const std::string leader = (g.doLogNl ? "" : "\n") + prefix;
    if (leader.size() >= kLeaderMax || leader.size() < stampLength) {
        p.length = 0;
        p.kind = kNoStamp;
    } else {
        std::memcpy(p.leader, leader.data(), leader.size());
        p.length = leader.size();
    }
    p.stampAt = p.length - (p.kind == kNoStamp ? 0 : stampLength);

    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    struct tm local {};
    p.utcOffset = localtime_r(&ts.tv_sec, &local) ? local.tm_gmtoff : 0;
    p.fd = fileno(g.file);
    // The copy is complete before the handler may take it.
    std::atomic_signal_fence(std::memory_order_release);
    current = next;
}

void logWriteSignalEntry(const char *text)
{
    const int which = current;
    std::atomic_signal_fence(std::memory_order_acquire);
    if (which < 0 || !text)
        return;
    const Prepared &p = prepared[which];
    if (p.fd < 0)
        return;
    char out[kLeaderMax + 120];
    std::memcpy(out, p.leader, p.length);
    if (p.kind != kNoStamp) {
        timespec ts{};
        clock_gettime(CLOCK_REALTIME, &ts);
        const long long local = static_cast<long long>(ts.tv_sec) + p.utcOffset;
        long days = static_cast<long>(local / 86400);
        long seconds = static_cast<long>(local % 86400);
        if (seconds < 0) {
            seconds += 86400;
            --days;
        }
        char *at = out + p.stampAt;
        const long hh = seconds / 3600, mm = seconds / 60 % 60, ss = seconds % 60;
        if (p.kind == kMonthDayHm) {
            long month = 0, day = 0;
            monthDay(days, month, day);
            put2(at, month);
            at[2] = '/';
            put2(at + 3, day);
            at += 6;
            put2(at, hh);
            at[2] = ':';
            put2(at + 3, mm);
        } else {
            put2(at, hh);
            at[2] = ':';
            put2(at + 3, mm);
            at[5] = ':';
            put2(at + 6, ss);
            if (p.kind == kHundredths) {
                at[8] = '.';
                put2(at + 9, ts.tv_nsec / 10000000);
            }
        }
    }
    size_t n = p.length;
    for (const char *t = text; *t && n < sizeof out; ++t)
        out[n++] = *t;
    ssize_t written = write(p.fd, out, n);
    (void)written;
}
