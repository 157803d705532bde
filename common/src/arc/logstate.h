// Process state of the log, shared by the log units (logprint.cpp,
// logdump.cpp, logserver.cpp). Not for use outside the log module, except
// logResetState, which tests use to start from the start-up state.
#ifndef QOR_LOGSTATE_H
#define QOR_LOGSTATE_H

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

struct LogState {
    FILE *file = nullptr;      // the open log stream, null when closed
    int fifoFd = -1;           // >= 0: a log-server client; file wraps it
    bool fdLog = false;        // the stream came from option "#fd"
    bool doLogNl = true;       // the last byte written was a line end

    std::string logFname = "log.error"; // configured name ('~' expanded)
    std::string realLogFname;  // after $-expansion, made absolute
    std::string saveLogFname;  // configured name, for logReOpen
    std::string logSpecialName; // directory of the log-server files

    int saveCtrl = 0;          // option letters collect here
    long long logSize = 31457280;       // wrap size, <= 0: no wrapping
    long long logOverSize = 209715200;  // run-away limit
    long long logCurrentSize = 0;       // last measured file position
    long long logWriteSinceTell = 0;    // bytes written since then
    long long logSeekPoint = 0;         // where a wrap returns to
    int cycle = 0;             // wraps so far

    std::string tag;           // line tag, with one blank behind
    std::string tod;           // the current time prefix
    std::string today;         // "Jan 5, 2025"
    int indent = 0;            // length of the last time prefix
    int offset = 0;            // hanging indent of continuation lines
    int countdown = 0;         // prefixes left until the time shows again

    int keepCopies = 16;
    bool bKeepOld = false;
    bool traceMode = false;    // option G or COB_SET_TRACE=Y
    bool serverStarter = false; // this process forked the log server
    bool inWrap = false;       // guards the wrap's own cycle line
    bool openFailed = false;   // the last logOpen could not open its file or FIFO

    std::vector<std::string> saveOptions; // option strings applied so far
    size_t saveOptionsLen = 0;            // their total length (<= 63)
};

extern LogState logState;

// printf into a string (cut at 2200 bytes, as a message).
std::string logFormat(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
// The tag of option P: ":P<pid>:" padded with blanks to 10 characters.
std::string logPidTag(int pid);
// A leading '~' becomes HOME (else QORROOT) and '/'.
std::string logExpandTilde(const std::string &name);
// The file name after $$$, $$, $D$ and $T$ expansion, made absolute. $$
// stands for nothing in a shared log; $$ and $T$ clear keepOld.
std::string logFileName(const std::string &tmpl, bool shared, bool &keepOld);
// Applies option letters without recording them for logReOpen.
void logApplyOptions(std::string_view opts);
// Trace mode: logs of at least 500 MB, flushed, time on every prefix.
void logApplyTrace();

// Makes a fresh time prefix into logState.tod and returns it.
const std::string &logMakePrefix();
// "64K" or "3M" for a size limit.
std::string logSizeText(long long size);
// Writes one message (with leader rules) into the open log; 1, or 0 when
// no log is open or it was closed as a run-away.
int logMessage(std::string_view msg);
// Writes text as it stands (dumps): counted, and in log-server mode sent
// in line-aligned pieces of at most PIPE_BUF bytes.
void logWriteBlock(std::string_view text);
// Kept copies "<name>.<n>.log": copy n becomes n + 1, the file copy 1,
// copies above keep (up to 48) are removed.
void logRotateCopies(const std::string &name, int keep);
// Closes the stream without sending CLOSE or compressing (fork children,
// lost FIFO).
void logDropStream();

// Test support: closes any log and restores the start-up state.
void logResetState();

#endif
