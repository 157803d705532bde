// The packed date-time record of the host and its text forms.
#ifndef QOR_GOSDATE_H
#define QOR_GOSDATE_H

#include <cstddef>
#include <cstdint>
#include <ctime>

// 8 bytes as the host stores them.
struct DATETIME {
    uint8_t year;        // year - 1970
    uint8_t month;       // low 4 bits: 1..12
    uint8_t dayWeek;     // low 5 bits: day 1..31; high 3 bits: weekday, 0 = Sunday
    uint8_t hour;        // low 5 bits
    uint8_t minute;      // low 6 bits
    uint8_t second;      // low 6 bits
    uint8_t hundredths;  // low 7 bits
    uint8_t zero;
};
static_assert(sizeof(DATETIME) == 8, "DATETIME is an 8-byte record");
static_assert(offsetof(DATETIME, hundredths) == 6, "DATETIME layout");

// Fills out from the local clock; returns the seconds since the epoch.
time_t datetime(DATETIME *out);

// Formats the record with a strftime pattern into out (size bytes with the
// NUL). Returns the length written, 0 when it does not fit.
size_t fmtdate(const DATETIME &dt, char *out, size_t size, const char *form);
// The time of day: length 4 "HHMM", 5 "HH:MM", 8 "HH:MM:SS"; out needs
// length + 1 bytes. Returns out, or null for any other length.
char *fmttime(const DATETIME &dt, char *out, int length);

#endif
