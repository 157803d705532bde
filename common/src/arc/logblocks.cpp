// Blocks written beside the normal flow of the log: error blocks (also
// without an open log), console blocks, side copies and the host error log.
#include "logprint.h"
#include "logstate.h"
#include "qorfiles.h"
#include "qorstring.h"
#include "regularfile.h"

#include <algorithm>
#include <fcntl.h>
#include <cstdarg>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <string>

namespace {

LogState &g = logState;

constexpr size_t kMsgMax = 2200; // a message is cut to this size

// A side file opened for appending; a FIFO put in its place is not waited on.
FILE *appendTo(const std::string &path)
{
    return OpenRegularFileToWrite(path, O_WRONLY | O_CREAT | O_APPEND).release();
}

// An error block: written into the open log, else into an error file that
// is opened for it ('o' name, "log/ERRORS", "log.ERRORS") and closed again.
int errorBlock(const char *heading, const std::function<void()> &body)
{
    auto block = [&] {
        logMessage("\n");
        logMessage(heading);
        body();
        logMessage("\n");
        logForceFlush();
    };
    if (g.file) {
        block();
        return 1;
    }
    FILE *f = nullptr;
    if (g.saveCtrl & LOG_NAMEDBYOPT) {
        bool keep = false;
        f = appendTo(logFileName(g.logFname, false, keep));
    }
    if (!f)
        f = appendTo("log/ERRORS");
    if (!f)
        f = appendTo("log.ERRORS");
    if (!f)
        return 1;
    LogState saved = g;
    int savedCtrl = logCtrlFlgs;
    g.file = f;
    g.fifoFd = -1;
    g.fdLog = false;
    g.doLogNl = true;
    logCtrlFlgs = g.saveCtrl | LOG_OPEN | LOG_APPEND;
    block();
    if (g.file)
        fclose(g.file);
    g = saved;
    logCtrlFlgs = savedCtrl;
    return 1;
}

} // namespace

int logError(const char *fmt, ...)
{
    char buf[kMsgMax];
    va_list ap;
    va_start(ap, fmt);
    int n = fmt ? vsnprintf(buf, sizeof buf, fmt, ap) : 0;
    va_end(ap);
    std::string_view msg(buf, n > 0 ? std::min(static_cast<size_t>(n), sizeof buf - 1) : 0);
    return errorBlock("#ERROR Message:\n", [&] { logMessage(msg); });
}

int logDumpError(const char *title, const void *mem, int len)
{
    return errorBlock("#ERROR DUMP:\n", [&] { logDumpHex(title, mem, len); });
}

int logConsole(const char *root, const char *fmt, ...)
{
    if (!root)
        return 0;
    char buf[kMsgMax];
    va_list ap;
    va_start(ap, fmt);
    int n = fmt ? vsnprintf(buf, sizeof buf, fmt, ap) : 0;
    va_end(ap);
    std::string_view msg(buf, n > 0 ? std::min(static_cast<size_t>(n), sizeof buf - 1) : 0);

    std::string path = root;
    if (!path.empty() && path.back() != '/')
        path += '/';
    path += "log/CONSOLE";
    FILE *f = appendTo(path);
    if (!f)
        f = appendTo("log.CONSOLE");
    if (!f)
        return 1;
    LogState saved = g; // the process log, set aside meanwhile
    int savedCtrl = logCtrlFlgs;
    g.file = f;
    g.fifoFd = -1;
    g.fdLog = false;
    g.doLogNl = true;
    logCtrlFlgs = g.saveCtrl | LOG_OPEN | LOG_APPEND;
    logMessage("\n");
    logMessage("# *** QOR/ix Console Message ***\n");
    logMessage(msg);
    logMessage("\n");
    if (g.file)
        fclose(g.file);
    g = saved;
    logCtrlFlgs = savedCtrl;
    return 1;
}

void logSaveFile(int bAppend, const char *suffix)
{
    if (!g.file || g.realLogFname.empty())
        return;
    logWriteBlock("\n");
    fflush(g.file);
    const std::string &log = g.realLogFname;
    std::string sfx = suffix ? suffix : "";
    std::string target;
    if (bAppend) {
        target = log + "." + sfx;
    } else {
        time_t t = time(nullptr);
        struct tm tm {};
        localtime_r(&t, &tm);
        target = log + logFormat(".%02d.%02d.", tm.tm_hour, tm.tm_min) + sfx;
    }
    std::string cmd = "cat " + qorShellQuote(log) + " >>" + qorShellQuote(target);
    if (system(cmd.c_str()) == -1)
        logMessage(logFormat("#logSaveFile: cannot run '%s'\n", cmd.c_str()));
}

FILE *logOpenError(const char *name, int hang)
{
    if (!name)
        return nullptr;
    logOptions("Ah");
    std::string path = qorixroot() + "log/" + name + ".err";
    FILE *f = logOpen(path.c_str(), hang);
    if (f)
        logPrintf("#Open log file for '%s'\n", name);
    return f;
}

void logCloseError() { logClose(); }
