// The process log: options, open and close, message writing with time
// prefixes, wrapping in place and the run-away limit.
#include "logprint.h"
#include "logserver.h"
#include "logstate.h"
#include "qorstring.h"
#include "regularfile.h"
#include "searchpath.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

int logCtrlFlgs = 0;
int logTimeInterval = 0;
int logTimeSec = 0;
int logHexAdrs = 0;

LogState logState;

namespace {

LogState &g = logState;

constexpr size_t kMsgMax = 2200;          // a message is cut to this size
constexpr size_t kSpecialMax = 200;       // log-server directory
constexpr long long kTraceSize = 524288000;
constexpr long long kMeasureEvery = 32768; // bytes between file-size checks
constexpr long long kLateSlack = 24576;   // unfinished lines may run over

const char *const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool appendOnce = false;   // logReOpen in direct mode: never truncate

struct Now {
    struct tm tm {};
    int hundredths = 0;
    bool ok = false;
};

Now now()
{
    Now n;
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    n.ok = localtime_r(&ts.tv_sec, &n.tm) != nullptr;
    n.hundredths = static_cast<int>(ts.tv_nsec / 10000000);
    return n;
}

char cycleLetter(int cycle) { return (cycle & 1) ? 'A' : 'B'; }

// Measures the file position every 32 KiB of output and after a failure.
void countWrite(size_t n, bool failed)
{
    g.logWriteSinceTell += static_cast<long long>(n);
    if (g.logWriteSinceTell > kMeasureEvery || failed) {
        long pos = ftell(g.file);
        if (pos >= 0)
            g.logCurrentSize = pos;
        g.logWriteSinceTell = 0;
    }
}

// Something other than a regular file is at the log's path (a FIFO put in
// its place): no server can write it.
bool logIsNoRegularFile(const std::string &name)
{
    struct stat st{};
    return stat(name.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
}

// One piece of a shared log: a single write(2). A server that went away
// is replaced once; when that fails the process has no log. A server that
// ended because its log is no regular file is not replaced: another would
// end the same way.
bool fifoSend(const char *p, size_t n)
{
    if (logFifoWrite(g.fifoFd, p, n))
        return true;
    if (errno == EPIPE && !g.realLogFname.empty() && !logIsNoRegularFile(g.realLogFname)) {
        logDropStream();
        LogServerLink link = logServerConnect(g.realLogFname, g.logSpecialName);
        if (link.started)
            g.serverStarter = true;
        if (!link.fallback && link.fd >= 0) {
            g.file = fdopen(link.fd, "w");
            if (g.file) {
                g.fifoFd = link.fd;
                if (logFifoWrite(g.fifoFd, p, n))
                    return true;
            } else {
                close(link.fd);
            }
        }
    }
    logDropStream();
    logCtrlFlgs &= LOG_KEEP;
    return false;
}

// Writes bytes as they stand into the log.
bool writeOut(std::string_view s)
{
    if (s.empty() || !g.file)
        return g.file != nullptr;
    if (g.fifoFd >= 0) {
        fflush(g.file); // text a caller put on logGetFILE() goes first
        while (!s.empty()) {
            size_t n = s.size();
            if (n > PIPE_BUF) {
                size_t nl = s.rfind('\n', PIPE_BUF - 1);
                n = nl == std::string_view::npos ? PIPE_BUF : nl + 1;
            }
            if (!fifoSend(s.data(), n))
                return false;
            s.remove_prefix(n);
        }
        return true;
    }
    size_t w = fwrite(s.data(), 1, s.size(), g.file);
    countWrite(w, w != s.size());
    return true;
}

void emit(std::string_view s)
{
    if (writeOut(s) && !s.empty())
        g.doLogNl = s.back() == '\n';
}

void flush()
{
    if (g.file && !(logCtrlFlgs & LOG_NOFLUSH))
        fflush(g.file);
}

// The file passed its size limit: cut it here and go back to the wrap
// point, so that later text overwrites the oldest text after it.
void sizeCheck()
{
    if (logCtrlFlgs & LOG_APPEND) {
        g.logSize = 0;
        return;
    }
    if (g.inWrap || g.logCurrentSize <= g.logSize)
        return;
    g.inWrap = true;
    ++g.cycle;
    emit("\n");
    fflush(g.file);
    long pos = ftell(g.file);
    if (pos >= 0 && ftruncate(fileno(g.file), pos) != 0) {
        // the file keeps its length; the wrap still returns
    }
    if (fseek(g.file, g.logSeekPoint, SEEK_SET) != 0) {
        int e = errno;
        emit(logFormat("\n fseek error %d '%s'\n", e, strerror(e)));
    }
    g.logCurrentSize = g.logSeekPoint;
    g.logWriteSinceTell = 0;
    emit("\n");
    Now n = now();
    if (n.ok)
        logMessage(logFormat("#Log file cycle %d on %s %d, %d; Max size %s\n", g.cycle,
                             kMonths[n.tm.tm_mon], n.tm.tm_mday, n.tm.tm_year + 1900,
                             logSizeText(g.logSize).c_str()));
    else
        logMessage(logFormat("#Log file cycle %d; Max size %s\n", g.cycle,
                             logSizeText(g.logSize).c_str()));
    if (g.file)
        fflush(g.file);
    g.inWrap = false;
}

// Closes the stream; sendClose tells the log server first.
void closeStream(bool sendClose)
{
    if (!g.file)
        return;
    if (g.fifoFd >= 0) {
        fflush(g.file);
        if (sendClose)
            logServerSendClose(g.fifoFd, getpid());
        __fpurge(g.file); // a gone server must not cost a SIGPIPE here
    }
    fclose(g.file);
    g.file = nullptr;
    g.fifoFd = -1;
    g.fdLog = false;
}

void compressFile(const std::string &name)
{
    static std::string *shellEnv = nullptr; // putenv keeps the pointer
    if (const char *sh = searchPath("sh", nullptr)) {
        std::string want = std::string("SHELL=") + sh;
        if (!shellEnv || *shellEnv != want) {
            shellEnv = new std::string(want);
            putenv(const_cast<char *>(shellEnv->c_str()));
        }
    }
    std::string cmd = "compress -f " + qorShellQuote(name) + " >/dev/null";
    if (system(cmd.c_str()) == -1) {
        // nothing to report to: the log is closed
    }
}

// Opens the file itself (not through the log server).
FILE *openDirect(bool keepOld)
{
    const std::string &name = g.realLogFname;
    bool reopen = appendOnce;
    if (keepOld && !reopen)
        logRotateCopies(name, g.keepCopies);
    if (g.saveCtrl & LOG_NOFILE) {
        logCtrlFlgs = 0;
        return nullptr;
    }
    int flags = O_WRONLY | O_CREAT; // reopened: the file as it stands
    if (!reopen) {
        if (g.saveCtrl & LOG_APPEND) {
            flags |= O_APPEND;
        } else if (g.traceMode) {
            unlink(name.c_str());
            flags |= O_APPEND;
        } else {
            flags |= O_TRUNC;
        }
    }
    // A FIFO put at the log would hold the open until a reader came.
    std::string why;
    FILE *f = OpenRegularFileToWrite(name, flags, &why).release();
    if (!f) {
        int e = errno;
        fprintf(stderr, "ERROR %d: Opening %s; %s\n", e, name.c_str(), why.c_str());
        logCtrlFlgs = 0;
        return nullptr;
    }
    fseek(f, 0, SEEK_END);
    long pos = ftell(f);
    g.file = f;
    g.logCurrentSize = pos > 0 ? pos : 0;
    g.logWriteSinceTell = 0;
    if (!reopen) {
        g.cycle = 0;
        g.logSeekPoint = 0;
        g.doLogNl = true;
    }
    return f;
}

} // namespace

std::string logFormat(const char *fmt, ...)
{
    char buf[kMsgMax];
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (n < 0)
        return std::string();
    return std::string(buf, std::min(static_cast<size_t>(n), sizeof buf - 1));
}

std::string logPidTag(int pid)
{
    std::string t = logFormat(":P%d:", pid);
    if (t.size() < 10)
        t.resize(10, ' ');
    return t;
}

// A leading '~' becomes HOME (else QORROOT) and '/'.
std::string logExpandTilde(const std::string &name)
{
    if (name.empty() || name[0] != '~')
        return name;
    const char *home = getenv("HOME");
    if (!home)
        home = getenv("QORROOT");
    if (!home)
        return name;
    size_t rest = 1;
    while (rest < name.size() && name[rest] == '/')
        ++rest;
    return std::string(home) + "/" + name.substr(rest);
}

namespace {

// $$$ -> pid; $$ -> pid (nothing for a shared log) and no kept copies;
// $D$ or $d$ -> yyyymmdd; $T$ (upper case only) -> yyyymmddhhmm and no
// kept copies.
std::string expandName(const std::string &tmpl, bool shared, bool &keepOld)
{
    std::string out;
    std::string pid = std::to_string(getpid());
    Now n = now();
    for (size_t i = 0; i < tmpl.size();) {
        if (tmpl[i] != '$') {
            out += tmpl[i++];
            continue;
        }
        if (tmpl.compare(i, 3, "$$$") == 0) {
            out += pid;
            i += 3;
        } else if (tmpl.compare(i, 2, "$$") == 0) {
            if (!shared)
                out += pid;
            keepOld = false;
            i += 2;
        } else if (i + 2 < tmpl.size() && tmpl[i + 2] == '$' &&
                   (tmpl[i + 1] == 'D' || tmpl[i + 1] == 'd')) {
            out += logFormat("%04d%02d%02d", n.tm.tm_year + 1900, n.tm.tm_mon + 1,
                             n.tm.tm_mday);
            i += 3;
        } else if (i + 2 < tmpl.size() && tmpl[i + 2] == '$' && tmpl[i + 1] == 'T') {
            out += logFormat("%04d%02d%02d%02d%02d", n.tm.tm_year + 1900,
                             n.tm.tm_mon + 1, n.tm.tm_mday, n.tm.tm_hour, n.tm.tm_min);
            keepOld = false;
            i += 3;
        } else {
            out += tmpl[i++];
        }
    }
    return out;
}

std::string makeAbsolute(const std::string &name)
{
    if (!name.empty() && name[0] == '/')
        return name;
    char *cwd = getcwd(nullptr, 0);
    if (!cwd)
        return name;
    std::string dir(cwd);
    free(cwd);
    if (dir.empty() || dir.back() != '/')
        dir += '/';
    return dir + name;
}

} // namespace

std::string logFileName(const std::string &tmpl, bool shared, bool &keepOld)
{
    return makeAbsolute(expandName(tmpl, shared, keepOld));
}

void logApplyTrace()
{
    g.logSize = std::max(g.logSize, kTraceSize);
    g.saveCtrl &= ~LOG_NOFLUSH;
    logCtrlFlgs &= ~LOG_NOFLUSH;
    logTimeInterval = 0;
}

void logRotateCopies(const std::string &name, int keep)
{
    auto copy = [&](int n) { return name + "." + std::to_string(n) + ".log"; };
    for (int n = keep - 2; n >= 1; --n)
        rename(copy(n).c_str(), copy(n + 1).c_str());
    rename(name.c_str(), copy(1).c_str());
    if (keep < 48)
        for (int n = 48; n > keep; --n)
            unlink(copy(n).c_str());
}

const std::string &logMakePrefix()
{
    if (!(logCtrlFlgs & LOG_HUNDREDTHS) && logTimeInterval > 0 && g.countdown > 0) {
        std::string p;
        if (g.cycle >= 1)
            p += cycleLetter(g.cycle);
        p += g.tag;
        p += " ...";
        if (static_cast<int>(p.size()) < g.indent)
            p.resize(static_cast<size_t>(g.indent), ' ');
        --g.countdown;
        g.tod = p;
    } else {
        g.countdown = logTimeInterval > 0 ? logTimeInterval - 1 : 0;
        Now n = now();
        std::string stamp;
        if (n.ok) {
            const struct tm &t = n.tm;
            g.today = logFormat("%s %d, %d", kMonths[t.tm_mon], t.tm_mday, t.tm_year + 1900);
            if (logCtrlFlgs & LOG_HMS)
                stamp = logFormat("%02d:%02d:%02d ", t.tm_hour, t.tm_min, t.tm_sec);
            else if (logTimeSec == 0 && !(logCtrlFlgs & LOG_HUNDREDTHS))
                stamp = logFormat("%02d/%02d %02d:%02d ", t.tm_mon + 1, t.tm_mday,
                                  t.tm_hour, t.tm_min);
            else
                stamp = logFormat("%02d:%02d:%02d.%02d ", t.tm_hour, t.tm_min, t.tm_sec,
                                  n.hundredths);
        }
        std::string p;
        if (g.cycle >= 1)
            p += cycleLetter(g.cycle);
        else if (g.logSize > 0)
            p += ' ';
        p += g.tag;
        p += stamp;
        g.tod = p;
    }
    g.indent = static_cast<int>(g.tod.size());
    return g.tod;
}

std::string logSizeText(long long size)
{
    if (size <= 2 * 1048576LL)
        return logFormat("%lldK", (size + 512) / 1024);
    return logFormat("%lldM", (size + 500000) / 1048576);
}

int logMessage(std::string_view msg)
{
    if (!g.file)
        return 0;
    if (msg.empty())
        return 1;
    std::string out;
    std::string_view rest = msg;
    if (msg[0] == '#' || msg[0] == '~') {
        if (!g.doLogNl)
            out += '\n';
        const std::string &prefix = logMakePrefix();
        int w = g.indent + g.offset;
        if (w > 63) {
            w = 30;
            g.offset = std::min(g.offset, 30);
        }
        std::string leader;
        if (msg[0] == '#') {
            leader = prefix;
        } else {
            leader = g.tag;
            size_t width = std::min(prefix.size(), static_cast<size_t>(w));
            if (leader.size() < width)
                leader.resize(width, ' ');
        }
        rest.remove_prefix(1);
        // A TAB while the leader is short of the column ends the leader,
        // padded to the column.
        size_t tab = rest.find('\t');
        if (tab != std::string_view::npos && leader.size() + tab < static_cast<size_t>(w)) {
            leader.append(rest.substr(0, tab));
            leader.resize(static_cast<size_t>(w), ' ');
            rest.remove_prefix(tab + 1);
        }
        out += leader;
    } else {
        int w = g.indent + g.offset;
        if (w > 63) {
            w = 30;
            g.offset = std::min(g.offset, 30);
        }
        if (g.doLogNl && msg[0] != '\n' && w >= 1)
            out.append(static_cast<size_t>(w), ' ');
    }
    out += rest;
    emit(out);
    if (!g.file)
        return 0;
    if (g.fifoFd >= 0)
        return 1; // the server flushes, wraps and limits
    bool endsLine = out.back() == '\n';
    if (g.logSize > 0 &&
        (endsLine || g.logCurrentSize > g.logSize + kLateSlack))
        sizeCheck();
    if (!g.file)
        return 0;
    flush();
    if (!(logCtrlFlgs & LOG_APPEND) && g.logCurrentSize > g.logOverSize && !g.fdLog) {
        emit("\n\nERROR: Log file run away!!!\n\n");
        logClose();
        return 0;
    }
    return 1;
}

void logWriteBlock(std::string_view text)
{
    emit(text);
}

void logDropStream()
{
    if (g.file) {
        __fpurge(g.file);
        fclose(g.file);
    }
    g.file = nullptr;
    g.fifoFd = -1;
    g.fdLog = false;
}

void logResetState()
{
    logDropStream();
    logState = LogState();
    logCtrlFlgs = 0;
    logTimeInterval = 0;
    logTimeSec = 0;
    logHexAdrs = 0;
    appendOnce = false;
}

FILE *logOpen(const char *name, int hang)
{
    if (const char *m = getenv("MAX_LOG_SIZE")) {
        char *end = nullptr;
        long long mib = strtoll(m, &end, 10);
        if (end != m && mib > 0)
            g.logOverSize = std::min(mib, 1LL << 30) * 1048576;
    }
    if (const char *t = getenv("COB_SET_TRACE"); t && t[0] == 'Y')
        g.traceMode = true;
    if (const char *s = getenv("LOGPRINTSPECIAL"); s && *s && !g.serverStarter) {
        g.logSpecialName = std::string(s).substr(0, kSpecialMax);
        if (!(g.saveCtrl & LOG_SERVER))
            logApplyOptions("P");
    }
    if (g.traceMode)
        logApplyTrace();

    if (g.offset > 0)
        g.offset = std::min(g.offset, 30);
    else if (hang > 0)
        g.offset = std::min(hang, 30);
    else if (hang < 0)
        g.offset = 0;

    if (g.file && g.fdLog) { // a descriptor given by option stays the log
        logCtrlFlgs = g.saveCtrl | LOG_OPEN;
        logMakePrefix();
        return g.file;
    }
    // Opening again (a reload) replaces the log that is open.
    closeStream(true);
    g.openFailed = true; // until a stream is open, or option f wants none

    if (name && *name && !(g.saveCtrl & LOG_NAMEDBYOPT))
        g.logFname = logExpandTilde(name);
    g.saveLogFname = g.logFname;

    bool keepOld = g.bKeepOld;
    if (g.saveCtrl & LOG_SERVER) {
        g.realLogFname = logFileName(g.logFname, true, keepOld);
        LogServerLink link = logServerConnect(g.realLogFname, g.logSpecialName, keepOld);
        if (link.started)
            g.serverStarter = true;
        if (!link.fallback) {
            if (link.fd >= 0)
                g.file = fdopen(link.fd, "w");
            if (!g.file) {
                if (link.fd >= 0)
                    close(link.fd);
                logCtrlFlgs = 0;
                return nullptr;
            }
            g.fifoFd = link.fd;
            g.openFailed = false;
            g.logSize = 0; // the server wraps the file, not its clients
            g.saveCtrl &= ~LOG_NOFLUSH;
            g.doLogNl = true;
            logCtrlFlgs = g.saveCtrl | LOG_OPEN;
            logMakePrefix();
            return g.file;
        }
        g.saveCtrl &= ~LOG_SERVER; // no server: write the file itself
        keepOld = g.bKeepOld;
    }
    g.realLogFname = logFileName(g.logFname, false, keepOld);
    g.openFailed = !(g.saveCtrl & LOG_NOFILE);
    if (!openDirect(keepOld))
        return nullptr;
    g.openFailed = false;
    logCtrlFlgs = g.saveCtrl | LOG_OPEN;
    logMakePrefix();
    return g.file;
}

int logPrintf(const char *fmt, ...)
{
    if (!g.file || !fmt)
        return 0;
    char buf[kMsgMax];
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (n < 0)
        return 1;
    return logMessage(std::string_view(buf, std::min(static_cast<size_t>(n), sizeof buf - 1)));
}

int logOpenFailed()
{
    return g.openFailed ? 1 : 0;
}

void logClose()
{
    if (g.file) {
        if (g.fifoFd >= 0) {
            g.saveCtrl &= ~LOG_COMPRESS;
            logCtrlFlgs &= ~LOG_COMPRESS;
        }
        bool compress = (logCtrlFlgs & LOG_COMPRESS) && !g.fdLog && !g.realLogFname.empty();
        closeStream(true);
        if (compress)
            compressFile(g.realLogFname);
    }
    logCtrlFlgs &= LOG_KEEP;
    g.saveCtrl &= ~LOG_NAMEDBYOPT;
}

void logReOpen()
{
    g.serverStarter = false;
    if (g.file && g.fifoFd >= 0) {
        g.saveCtrl &= ~LOG_COMPRESS;
        logCtrlFlgs &= ~LOG_COMPRESS;
        if (g.tag.compare(0, 2, ":P") == 0)
            g.tag = logPidTag(getpid());
        __fpurge(g.file); // the parent's unsent text is the parent's
        std::string rec = fifoMark + logFormat("OPEN %d ", static_cast<int>(getpid()));
        rec += '\0';
        fifoSend(rec.data(), rec.size());
        return;
    }
    if (g.file && g.fdLog) {
        __fpurge(g.file);
        return;
    }
    if (g.realLogFname.empty() && !g.file)
        return; // this process never had a log
    // Direct mode: the parent's log is live; append to it, never truncate
    // or compress it.
    logDropStream();
    std::vector<std::string> opts;
    opts.swap(g.saveOptions);
    g.saveOptionsLen = 0;
    for (const std::string &o : opts)
        logOptions(o.c_str());
    if (g.saveLogFname.size() > 1)
        g.logFname = g.saveLogFname;
    // The file stays the parent's too: this process never compresses it.
    g.saveCtrl &= ~LOG_COMPRESS;
    appendOnce = true;
    logOpen(nullptr, g.offset);
    appendOnce = false;
}

void logForceFlush()
{
    if (g.file)
        fflush(g.file);
}

FILE *logGetFILE() { return g.file; }

const char *logGetFname() { return g.realLogFname.c_str(); }

void logCyclePoint()
{
    if (!g.file || g.traceMode)
        return;
    if (g.fifoFd >= 0) {
        if (g.serverStarter) {
            fflush(g.file);
            std::string rec = std::string(fifoMark) + "CYCLE";
            rec += '\0';
            fifoSend(rec.data(), rec.size());
        } else {
            g.logSize = 0;
            g.logSeekPoint = 0;
        }
        return;
    }
    emit("\n");
    fflush(g.file);
    long pos = ftell(g.file);
    if (pos >= 0) {
        g.logSeekPoint = pos;
        g.logCurrentSize = pos;
        g.logWriteSinceTell = 0;
    }
    Now n = now();
    g.inWrap = true;
    logMessage(logFormat("#Log file cycle %d on %s %d, %d; Max log size %s\n", g.cycle,
                         kMonths[n.ok ? n.tm.tm_mon : 0], n.tm.tm_mday, n.tm.tm_year + 1900,
                         logSizeText(g.logSize).c_str()));
    g.inWrap = false;
    // The line shows the limit in force; a wrap point beyond it then
    // leaves room for twice as much text again.
    if (g.logSize > 0 && g.logSeekPoint > g.logSize)
        g.logSize = 3 * g.logSeekPoint;
}


