// The process log: one text log per process, time-stamped entries chosen
// by option letters, size-limited (the file wraps in place), optionally
// kept in numbered old copies, and optionally written through a shared
// log-server process fed by a FIFO (options p/P or LOGPRINTSPECIAL).
//
// Plain functions over state that exists once per process; no handle.
//
// A message that begins with '#' gets the time prefix (cycle letter, line
// tag, time stamp); one that begins with '~' gets the tag padded to the
// prefix width; any other text continues the entry with a hanging indent.
#ifndef QOR_LOGPRINT_H
#define QOR_LOGPRINT_H

#include <cstdio>
#include <string>

// Control word: the programs test its bits to decide what to log.
extern int logCtrlFlgs;
// With an interval n > 0 only every n-th time prefix shows the time.
extern int logTimeInterval;
// Non-zero: the stamp shows seconds and hundredths.
extern int logTimeSec;
// Base offset printed by the next hex dump; reset to 0 after each dump.
extern int logHexAdrs;

// Bits of logCtrlFlgs.
enum : int {
    LOG_OPEN       = 0x1,      // a log is open
    LOG_ERRORS     = 0x2,      // w: errors
    LOG_PROG       = 0x4,      // s: free for the program
    LOG_EVENTS     = 0x8,      // d: events (DTP, sessions, banner)
    LOG_DETAIL     = 0x10,     // t: detail
    LOG_HUNDREDTHS = 0x40,     // h: stamp with hundredths on every prefix
    LOG_NOFLUSH    = 0x80,     // F: no flush after each message
    LOG_TRACE      = 0x100,    // c: per-request trace
    LOG_NOFILE     = 0x200,    // f: no log file
    LOG_R          = 0x400,    // r
    LOG_Q          = 0x800,    // q
    LOG_KEEP       = 0x1000,   // k: survives logClose
    LOG_NAMEDBYOPT = 0x2000,   // o: the file name came from an option
    LOG_APPEND     = 0x4000,   // A, #fd: append, never wrap, never run away
    LOG_HMS        = 0x8000,   // T: stamp of hours, minutes, seconds
    LOG_EBCDIC     = 0x10000,  // E: hex dumps translate EBCDIC to ASCII
    LOG_COMPRESS   = 0x20000,  // Z: compress the file when it is closed
    LOG_SERVER     = 0x40000,  // p, P: write through the log server
    LOG_SOCKDUMP   = 0x80000,  // S: socket hex dumps
};

// Applies option letters, left to right, before or after logOpen; unknown
// letters are ignored. '!' negates the letters after it (until the next
// '!' or the end of this call).
//   c w d a s q S r Z k E F   set program bits (see above); e clears E
//   t      set 0x51A, clear F            N  clear F
//   h T    hundredths / hh:mm:ss stamp   A  append
//   f n    no file / file again          G  trace mode (>= 500 MB logs)
//   K, K=n keep n old copies at open     C  cycle point now
//   'tag'  line tag (8 characters)       o=name,  file name ($$: pid)
//   p, P   through the log server (P: tag ":P<pid>:")
//   #fd    log onto an open descriptor   digits[K|M]  size limit
void logOptions(const char *opts);

// Opens the log; `hang` sets the continuation indent (1..30, negative: 0)
// when none is set yet. A null name re-uses the current one. Returns the
// stream or null. A log that is already open is closed first.
FILE *logOpen(const char *name, int hang);

// 1 when the last logOpen could not open the file or the log server's FIFO
// (a folder not writable, say); 0 after a successful open, under option f
// and after a run-away close. A long-running process may then try again.
int logOpenFailed();

// Writes one message. Returns 1, or 0 when no log is open or the log was
// just closed as a run-away.
int logPrintf(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// Closes the log (sends CLOSE to the log server; compresses under Z).
void logClose();

// Re-opens in a forked child: announces the child to the log server, or
// re-opens the file for appending in direct mode.
void logReOpen();

// Error block; opens an error log when no log is open. Returns 1.
int logError(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// Dumps memory into the log: hex, or characters where the area is text.
// A title beginning with '#' gets a time prefix, any other a '~' heading,
// null none. Return 1, or 0 without an open log.
int logDumpHex(const char *title, const void *mem, int len);
int logDumpChar(const char *title, const void *mem, int len);
// As logError, with "#ERROR DUMP:" and a hex dump in place of a message.
int logDumpError(const char *title, const void *mem, int len);

// Outside text as it may stand in a log line: cut at maxLen bytes, with
// control characters (which could forge lines) as '?'.
std::string logSafeText(const std::string &text, size_t maxLen);

// Hex dump of len bytes onto any stream, offsets counted from base; xlate
// (256 entries, may be null) translates bytes before the printable test.
void dumpHex(FILE *stream, const void *mem, unsigned base, int len,
             const unsigned char *xlate);

// Console block into "<root>/log/CONSOLE" (else "log.CONSOLE").
int logConsole(const char *root, const char *fmt, ...)
    __attribute__((format(printf, 2, 3)));

// An entry a signal handler can write: logPrepareSignalEntry takes, while
// the log may still be used (before the process blocks), what the time
// prefix of the next entry will be; logWriteSignalEntry, which is
// async-signal-safe, then writes text (a message without its leading '#')
// behind that prefix with the time of the moment. Nothing is written
// without a prepared, open log.
void logPrepareSignalEntry();
void logWriteSignalEntry(const char *text);

void logForceFlush();
FILE *logGetFILE();
const char *logGetFname();   // the expanded (absolute) file name

// Option C: the current position becomes the wrap point.
void logCyclePoint();

// Appends a copy of the log to a side file through the shell.
void logSaveFile(int bAppend, const char *suffix);

// Sets the log-server directory, applies option "P" and exports
// LOGPRINTSPECIAL.
void logSpecial(const char *dir);

// A separate error log "<host root>/log/<name>.err", options "Ah".
FILE *logOpenError(const char *name, int hang);
void logCloseError();

// Soft assertion: logs the failed check's place (the source file's name,
// without the build's directories, and the line) and carries on.
#ifdef __FILE_NAME__
#define LOG_ASSERT_FILE __FILE_NAME__
#else
#define LOG_ASSERT_FILE __FILE__
#endif
#define LOG_ASSERT(cond)                                                            \
    do {                                                                            \
        if (!(cond))                                                                \
            logPrintf("%s Line %d Something asserted\n", LOG_ASSERT_FILE, __LINE__); \
    } while (0)

#endif
