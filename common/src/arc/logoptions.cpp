// Option letters of the log.
#include "logprint.h"
#include "logstate.h"

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

LogState &g = logState;

constexpr size_t kSaveOptionsMax = 63;    // record of applied options
constexpr size_t kSpecialMax = 200;       // log-server directory
constexpr long long kMinSize = 32768;

// "20" is 20 MiB, "500" 500 KiB, "64K" 64 KiB, "3M" 3 MiB; at least 32 KiB.
size_t parseSize(const std::string_view o, size_t i)
{
    long long v = 0;
    while (i < o.size() && o[i] >= '0' && o[i] <= '9') {
        v = std::min(v * 10 + (o[i] - '0'), 1LL << 30);
        ++i;
    }
    if (i < o.size() && o[i] == 'K') {
        v *= 1024;
        ++i;
    } else if (i < o.size() && o[i] == 'M') {
        v *= 1048576;
        ++i;
    } else if (v < 30) {
        v *= 1048576;
    } else if (v < 700) {
        v *= 1024;
    }
    g.logSize = std::max(v, kMinSize);
    return i;
}

// Option "#fd": log onto an already open descriptor (a copy of it, so that
// closing the log leaves the caller's descriptor alone).
void useDescriptor(int fd)
{
    int copy = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (copy < 0)
        return;
    FILE *f = fdopen(copy, "a");
    if (!f) {
        close(copy);
        return;
    }
    logDropStream();
    g.file = f;
    g.fdLog = true;
    g.realLogFname.clear();
    g.saveCtrl |= LOG_APPEND;
    g.saveCtrl &= ~LOG_NOFLUSH;
    off_t pos = lseek(copy, 0, SEEK_CUR);
    g.logSeekPoint = pos > 0 ? pos : 0;
    g.logCurrentSize = g.logSeekPoint;
    g.logWriteSinceTell = 0;
    g.doLogNl = true;
    logMakePrefix();
}

} // namespace

void logApplyOptions(std::string_view o)
{
    bool neg = false;
    auto bits = [&](int b) {
        if (neg)
            g.saveCtrl &= ~b;
        else
            g.saveCtrl |= b;
    };
    size_t i = 0;
    while (i < o.size()) {
        char c = o[i++];
        switch (c) {
        case '!': neg = !neg; break;
        case 'c': bits(0x100); break;
        case 'w': bits(0x2); break;
        case 'd': bits(0x108); break;
        case 'a': bits(0x50A); break;
        case 's': bits(0x4); break;
        case 'q': bits(0x800); break;
        case 'S': bits(0x80000); break;
        case 'r': bits(0x400); break;
        case 'Z': bits(0x20000); break;
        case 'k': bits(0x1000); break;
        case 'E': bits(0x10000); break;
        case 'F': bits(0x80); break;
        case 't':
            if (neg) {
                g.saveCtrl &= ~0x80D1A;
            } else {
                g.saveCtrl |= 0x51A;
                g.saveCtrl &= ~0x80;
            }
            break;
        case 'e':
            if (neg)
                g.saveCtrl |= 0x10000;
            else
                g.saveCtrl &= ~0x10000;
            break;
        case 'N': g.saveCtrl &= ~0x80; break;
        case 'h':
            g.saveCtrl |= 0x40;
            g.saveCtrl &= ~0x8000;
            break;
        case 'T':
            g.saveCtrl |= 0x8000;
            g.saveCtrl &= ~0x40;
            break;
        case 'A': g.saveCtrl |= LOG_APPEND; break;
        case 'f':
            g.saveCtrl |= LOG_NOFILE;
            logCtrlFlgs |= LOG_NOFILE;
            break;
        case 'n':
            g.saveCtrl &= ~LOG_NOFILE;
            logCtrlFlgs &= ~LOG_NOFILE;
            break;
        case 'K':
            g.bKeepOld = true;
            if (i < o.size() && o[i] == '=') {
                int n = 0;
                for (++i; i < o.size() && o[i] >= '0' && o[i] <= '9'; ++i)
                    n = std::min(n * 10 + (o[i] - '0'), 999);
                g.keepCopies = n == 0 ? 32 : n;
            }
            break;
        case '#': {
            size_t start = i;
            int fd = 0;
            while (i < o.size() && o[i] >= '0' && o[i] <= '9') {
                fd = std::min(fd * 10 + (o[i] - '0'), 1000000);
                ++i;
            }
            if (i > start)
                useDescriptor(fd);
            break;
        }
        case '\'': {
            size_t end = o.find('\'', i);
            std::string_view text = o.substr(i, end == std::string_view::npos
                                                     ? std::string_view::npos
                                                     : end - i);
            i = end == std::string_view::npos ? o.size() : end + 1;
            g.tag = std::string(text.substr(0, 8)) + " ";
            break;
        }
        case 'o': {
            if (i < o.size() && o[i] == '=')
                ++i;
            size_t end = o.find(',', i);
            std::string name(o.substr(i, end == std::string_view::npos
                                             ? std::string_view::npos
                                             : end - i));
            i = end == std::string_view::npos ? o.size() : end + 1;
            if (name.empty())
                break;
            std::string pid = std::to_string(getpid());
            for (size_t p = name.find("$$"); p != std::string::npos;
                 p = name.find("$$", p + pid.size()))
                name.replace(p, 2, pid);
            g.logFname = logExpandTilde(name);
            g.saveCtrl |= LOG_NAMEDBYOPT;
            break;
        }
        case 'P':
            g.tag = logPidTag(getpid());
            [[fallthrough]];
        case 'p':
            g.saveCtrl |= LOG_SERVER;
            g.saveCtrl &= ~LOG_NOFLUSH;
            break;
        case 'C': logCyclePoint(); break;
        case 'G': g.traceMode = true; break;
        default:
            if (c >= '0' && c <= '9')
                i = parseSize(o, i - 1);
            break;
        }
    }
}

void logOptions(const char *opts)
{
    if (!opts)
        return;
    std::string_view o(opts);
    if (g.saveOptionsLen + o.size() <= kSaveOptionsMax) {
        g.saveOptions.emplace_back(o);
        g.saveOptionsLen += o.size();
    }
    logApplyOptions(o);
    if (g.file) {
        logCtrlFlgs = g.saveCtrl | LOG_OPEN;
        if (g.saveCtrl & LOG_NOFILE)
            logClose();
    }
    if (g.traceMode)
        logApplyTrace();
}

void logSpecial(const char *dir)
{
    if (!dir)
        return;
    g.logSpecialName = std::string(dir).substr(0, kSpecialMax);
    logOptions("P");
    // putenv keeps the pointer: the string lives as long as the process.
    static std::string *env = nullptr;
    env = new std::string("LOGPRINTSPECIAL=" + g.logSpecialName);
    putenv(const_cast<char *>(env->c_str()));
}

