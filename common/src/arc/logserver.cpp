// The shared log server and its client side.
//
// Start-up is serialised by a POSIX record lock on the pid file: a client
// holds it while it looks for the server, forks one when none reads the
// FIFO, waits a bounded time for it to read, and sends its OPEN record.
// The server takes the same lock before it removes its files and ends, so
// no client can attach to a server that is going away, and two servers can
// never run for one log.
#include "logserver.h"
#include "gossig.h"
#include "logprint.h"
#include "logstate.h"
#include "regularfile.h"

#include <array>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

const char fifoMark[] = "#@$FIFO-LOG$@#";

namespace {

constexpr size_t kMarkLen = sizeof fifoMark - 1;
constexpr size_t kMaxRecord = 64;       // mark to NUL, longest valid record
constexpr size_t kReadSize = 2559;
constexpr int kTableSize = 256;
constexpr int kIdlePasses = 7;
constexpr int kLockWaitMs = 10000;      // for the pid-file lock
constexpr int kStartWaitMs = 5000;      // for a new server to read
constexpr int kPollMs = 5;

constexpr mode_t kServerUmask = 027;
// The FIFO and the pid file are written (and the pid file locked) by every
// client of the group; the log itself only by the server.
constexpr mode_t kSharedMode = 0660;

int alarmMsSetting = 16000;
int idleSleepMsSetting = 1000;

void napMs(int ms)
{
    timespec ts{ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&ts, nullptr);
}

long long nowMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

std::string format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char *fmt, ...)
{
    char buf[1024];
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (n < 0)
        return std::string();
    return std::string(buf, std::min(static_cast<size_t>(n), sizeof buf - 1));
}

// Opens the pid file and takes a write lock on all of it, waiting at most
// kLockWaitMs. A file that was replaced or removed while we waited is
// opened anew. Returns the descriptor (closing it drops the lock) or -1.
int lockPidFile(const std::string &path, bool create)
{
    long long deadline = nowMs() + kLockWaitMs;
    for (;;) {
        int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), kSharedMode);
        if (fd < 0)
            return -1;
        struct flock fl{};
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        while (fcntl(fd, F_SETLK, &fl) < 0) {
            if ((errno != EACCES && errno != EAGAIN && errno != EINTR) ||
                nowMs() > deadline) {
                int e = errno == EACCES || errno == EAGAIN ? ETIMEDOUT : errno;
                close(fd);
                errno = e;
                return -1;
            }
            napMs(kPollMs);
        }
        struct stat held{}, named{};
        bool named_ok = stat(path.c_str(), &named) == 0;
        int e = errno;
        if (named_ok && fstat(fd, &held) == 0 && held.st_ino == named.st_ino &&
            held.st_dev == named.st_dev)
            return fd;
        close(fd);
        if (!create && !named_ok) {
            errno = e;
            return -1;
        }
    }
}

pid_t readPid(int fd)
{
    char buf[32];
    ssize_t n = pread(fd, buf, sizeof buf - 1, 0);
    if (n <= 0)
        return 0;
    buf[n] = '\0';
    long v = strtol(buf, nullptr, 10);
    return v > 0 && v <= INT_MAX ? static_cast<pid_t>(v) : 0;
}

bool alive(pid_t pid)
{
    return pid > 0 && (kill(pid, 0) == 0 || errno != ESRCH);
}

// Opens the FIFO for writing when a reader has it open; blocking writes.
int openFifoWriter(const std::string &fifo)
{
    int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st{};
    if (fstat(fd, &st) != 0 || !S_ISFIFO(st.st_mode)) {
        close(fd);
        errno = ENXIO;
        return -1;
    }
    int fl = fcntl(fd, F_GETFL);
    if (fl >= 0)
        fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
    return fd;
}

bool sendRecord(int fd, const std::string &body)
{
    std::string rec = fifoMark + body;
    rec += '\0';
    return logFifoWrite(fd, rec.data(), rec.size());
}

// ---------------------------------------------------------------- server

volatile sig_atomic_t gotAlarm = 0;
volatile sig_atomic_t gotTerm = 0;

void onAlarm(int) { gotAlarm = 1; }
// SIGTERM (a web server stopping its process group, a system shutdown):
// the loop ends the way it ends for want of clients.
void onTerm(int) { gotTerm = 1; }

void armTimer(int ms)
{
    itimerval it{};
    it.it_value.tv_sec = ms / 1000;
    it.it_value.tv_usec = (ms % 1000) * 1000;
    setitimer(ITIMER_REAL, &it, nullptr);
}

class LogServer : public LogRecordSplitter::Handler {
public:
    LogServer(std::string log, std::string special, std::string pidPath,
              std::string fifoPath, bool keepOld)
        : log_(std::move(log)), special_(std::move(special)), pidPath_(std::move(pidPath)),
          fifoPath_(std::move(fifoPath)), keepOld_(keepOld), split_(*this)
    {
    }

    [[noreturn]] void run();

    // The splitter's findings are collected and acted on per chunk.
    void text(const char *p, size_t n) override { pending_.append(p, n); }
    void open(pid_t pid) override { records_.push_back({'O', pid}); }
    void close(pid_t pid) override { records_.push_back({'C', pid}); }
    void cycle() override { records_.push_back({'Y', 0}); }

private:
    void detach();
    [[noreturn]] void leave(int status);
    void feed(const char *p, size_t n);
    void drain();
    void writeChunk();
    void writeText(const char *p, size_t n);
    void addClient(pid_t pid);
    void removeClient(pid_t pid);
    void markCycle();
    void own(const std::string &s);
    std::string prefix() { return logMakePrefix(); }
    std::string limitParts();
    int clients() const;
    int checkClients();
    void wrapCheck();
    void tryStop(char *buf, bool asked = false);
    [[noreturn]] void stop(char *buf, int lk, int lockErr);

    std::string log_, special_, pidPath_, fifoPath_;
    bool keepOld_;
    LogRecordSplitter split_;
    struct Record {
        char kind;             // 'O' open, 'C' close, 'Y' cycle
        pid_t pid;
    };
    std::string pending_;      // client text of the chunk being taken apart
    std::vector<Record> records_; // and its records
    FILE *out_ = nullptr;
    int fifo_ = -1;
    std::array<pid_t, kTableSize> wrtpids_{};
    int maxWrtIdx_ = 0;
    long long pos_ = 0;        // file position = bytes of this cycle
    long long wrapPoint_ = 0;
    bool lineStart_ = true;
};

void LogServer::detach()
{
    if (getppid() != 1) {
        qorsetsig(SIGTTOU, SIG_IGN);
        qorsetsig(SIGTTIN, SIG_IGN);
        qorsetsig(SIGTSTP, SIG_IGN);
        pid_t p = fork();
        if (p != 0)
            _exit(p < 0 ? 1 : 0);
        setpgid(0, getpid());
        qorsetsig(SIGHUP, SIG_IGN);
        p = fork();
        if (p != 0)
            _exit(p < 0 ? 1 : 0);
    }
    int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) {
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
    }
    // The server holds nothing of its client: no sockets, no log stream.
    close_range(3, ~0U, 0);
    // Its files are for the owner and the group (the web server's workers
    // share it), never for other local users: they could forge or
    // overwrite log records, or point clients at a FIFO nobody reads.
    umask(kServerUmask);
    qorsetsig(SIGHUP, SIG_IGN);
    qorsetsig(SIGPIPE, SIG_IGN);
    qorsetsig(SIGTERM, SIG_DFL);
    qorsetsig(SIGINT, SIG_DFL);
    qorsetsig(SIGCHLD, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

void LogServer::own(const std::string &s)
{
    if (s.empty())
        return;
    fwrite(s.data(), 1, s.size(), out_);
    pos_ += static_cast<long long>(s.size());
    lineStart_ = s.back() == '\n';
    if (lineStart_ && wrapPoint_ == 0 && pos_ > 512)
        wrapPoint_ = pos_;
}

std::string LogServer::limitParts()
{
    std::string s;
    if (!special_.empty())
        s += format(";\n%s  Log Special %s", prefix().c_str(), special_.c_str());
    if (logState.logSize > 0)
        s += "; Max Log " + logSizeText(logState.logSize);
    return s + "\n";
}

void LogServer::feed(const char *p, size_t n)
{
    split_.feed(p, n);
    writeChunk();
}

// No more data is on its way: text held back for a possible mark is text.
void LogServer::drain()
{
    split_.flush();
    writeChunk();
}

// A chunk is taken apart first: its records act (and write their lines),
// then the client text around them is written, joined, as one piece. A
// line that the previous read cut off is completed before the records'
// lines, so that no client line is ever split.
void LogServer::writeChunk()
{
    if (!lineStart_ && !records_.empty()) {
        size_t nl = pending_.find('\n');
        if (nl != std::string::npos) {
            writeText(pending_.data(), nl + 1);
            pending_.erase(0, nl + 1);
        }
    }
    for (const Record &r : records_) {
        if (r.kind == 'O')
            addClient(r.pid);
        else if (r.kind == 'C')
            removeClient(r.pid);
        else
            markCycle();
    }
    records_.clear();
    writeText(pending_.data(), pending_.size());
    pending_.clear();
}

void LogServer::writeText(const char *p, size_t n)
{
    if (n == 0)
        return;
    const bool limited = logState.logSize > 0;
    const char letter = logState.cycle >= 1 ? ((logState.cycle & 1) ? 'A' : 'B') : ' ';
    std::string buf;
    buf.reserve(n + 16);
    for (size_t k = 0; k < n; ++k) {
        if (lineStart_) {
            if (limited)
                buf += letter;
            lineStart_ = false;
        }
        buf += p[k];
        if (p[k] == '\n') {
            lineStart_ = true;
            long long at = pos_ + static_cast<long long>(buf.size());
            if (wrapPoint_ == 0 && at > 512)
                wrapPoint_ = at;
        }
    }
    fwrite(buf.data(), 1, buf.size(), out_);
    pos_ += static_cast<long long>(buf.size());
}

int LogServer::clients() const
{
    int n = 0;
    for (int i = 0; i < maxWrtIdx_; ++i)
        n += wrtpids_[static_cast<size_t>(i)] != 0;
    return n;
}

// Drops the ids of processes that are gone and moves the rest to the front.
int LogServer::checkClients()
{
    int n = 0;
    for (int i = 0; i < maxWrtIdx_; ++i) {
        pid_t id = wrtpids_[static_cast<size_t>(i)];
        if (id != 0 && alive(id))
            wrtpids_[static_cast<size_t>(n++)] = id;
    }
    for (int i = n; i < maxWrtIdx_; ++i)
        wrtpids_[static_cast<size_t>(i)] = 0;
    maxWrtIdx_ = n;
    return n;
}

void LogServer::addClient(pid_t pid)
{
    auto insert = [&] {
        for (int i = 0; i < maxWrtIdx_; ++i)
            if (wrtpids_[static_cast<size_t>(i)] == pid)
                return true;
        for (int i = 0; i < kTableSize; ++i) {
            if (wrtpids_[static_cast<size_t>(i)] == 0) {
                wrtpids_[static_cast<size_t>(i)] = pid;
                maxWrtIdx_ = std::max(maxWrtIdx_, i + 1);
                return true;
            }
        }
        return false;
    };
    bool ok = insert();
    if (!ok) {
        checkClients();
        ok = insert();
    }
    if (ok)
        own(format("%s...... Log Server process P%d, P%d open, now %d clients\n",
                   prefix().c_str(), static_cast<int>(getpid()), static_cast<int>(pid),
                   clients()));
    else
        own(format("%s...... Log Server process P%d table is full!\n\n", prefix().c_str(),
                   static_cast<int>(getpid())));
}

void LogServer::removeClient(pid_t pid)
{
    for (int i = 0; i < maxWrtIdx_; ++i)
        if (wrtpids_[static_cast<size_t>(i)] == pid)
            wrtpids_[static_cast<size_t>(i)] = 0;
    own(format("%s...... Log Server process P%d, P%d close, now %d clients\n",
               prefix().c_str(), static_cast<int>(getpid()), static_cast<int>(pid), clients()));
}

void LogServer::markCycle()
{
    own("\n");
    fflush(out_);
    wrapPoint_ = pos_;
    std::string line = prefix();
    line = format("%s Log cycle %d on %s", line.c_str(), logState.cycle, logState.today.c_str());
    own(line + limitParts());
}

// Past the size limit: cut the file here and continue at the wrap point.
void LogServer::wrapCheck()
{
    if (logState.logSize <= 0 || pos_ <= logState.logSize)
        return;
    const long long back = wrapPoint_; // the line below must not move it
    std::string p = prefix();
    own(format("\n\n%s....... Log Server wrap around point %s\n\n", p.c_str(),
               logState.today.c_str()));
    fflush(out_);
    if (ftruncate(fileno(out_), pos_) != 0) {
        // the file keeps its tail; the wrap still returns
    }
    fseek(out_, back, SEEK_SET);
    pos_ = wrapPoint_ = back;
    ++logState.cycle;
    p = prefix();
    std::string line = format("\n%s....... Log Server:  log cycle %d  %s", p.c_str(),
                              logState.cycle, logState.today.c_str());
    own(line + limitParts());
}

// No client is left, or the server was asked to end (asked: SIGTERM).
// Under the pid-file lock (so no client attaches meanwhile and no new
// server truncates the file under us): take what arrived meanwhile and,
// unless asked to end, carry on; else stop.
void LogServer::tryStop(char *buf, bool asked)
{
    int lk = lockPidFile(pidPath_, false);
    int lockErr = errno;
    int fl = fcntl(fifo_, F_GETFL);
    fcntl(fifo_, F_SETFL, fl | O_NONBLOCK);
    ssize_t n = read(fifo_, buf, kReadSize);
    if (n > 0 && !asked) {
        fcntl(fifo_, F_SETFL, fl);
        feed(buf, static_cast<size_t>(n));
        wrapCheck();
        fflush(out_);
        if (lk >= 0)
            ::close(lk);
        return;
    }
    if (n > 0)
        feed(buf, static_cast<size_t>(n));
    stop(buf, lk, lockErr);
}

// Writes what the FIFO still holds, closes it, writes the closing line,
// closes the file, removes the pid file and the FIFO (when they are still
// this server's), and ends.
void LogServer::stop(char *buf, int lk, int lockErr)
{
    ssize_t n;
    while ((n = read(fifo_, buf, kReadSize)) > 0)
        feed(buf, static_cast<size_t>(n));
    ::close(fifo_); // a late writer gets EPIPE and starts a new server
    drain();
    if (gotTerm)
        own(format("%s...... Log Server process P%d got SIGTERM\n", prefix().c_str(),
                   static_cast<int>(getpid())));
    std::string p = prefix();
    own(format("%s...... Log Server process P%d closing %s\n\n\n", p.c_str(),
               static_cast<int>(getpid()), logState.today.c_str()));
    fclose(out_);
    if (lk >= 0) {
        if (readPid(lk) == getpid()) {
            unlink(pidPath_.c_str());
            unlink(fifoPath_.c_str());
        }
        ::close(lk);
    } else if (lockErr == ENOENT) {
        unlink(fifoPath_.c_str()); // pid file gone: no other server uses it
    }
    _exit(0);
}

// Ends without a log: the pid file and the FIFO go when they are still
// this server's, so that nothing is left behind for a server that is gone.
void LogServer::leave(int status)
{
    int lk = lockPidFile(pidPath_, false);
    if (lk >= 0 && readPid(lk) == getpid()) {
        unlink(pidPath_.c_str());
        unlink(fifoPath_.c_str());
    }
    _exit(status);
}

void LogServer::run()
{
    detach();
    LogState &g = logState;
    g.file = nullptr; // the client's stream: its descriptor is closed
    g.fifoFd = -1;
    for (char &c : g.tag)
        c = '.';
    if (keepOld_)
        logRotateCopies(log_, g.keepCopies);
    int pf = ::open(pidPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, kSharedMode);
    if (pf >= 0) {
        fchmod(pf, kSharedMode); // a client made it under its own umask
        std::string s = format("%d\n", static_cast<int>(getpid()));
        if (::write(pf, s.data(), s.size()) < 0) {
            // clients then see no live server and start another
        }
        ::close(pf);
    }
    if (g.logSize > 4096)
        g.logSize -= 1024;

    struct sigaction sa{};
    sa.sa_handler = onAlarm;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGALRM, &sa, nullptr); // no SA_RESTART: open and read return
    sa.sa_handler = onTerm;
    sigaction(SIGTERM, &sa, nullptr);

    // Wait for the first writer, bounded by the alarm: a client that gave
    // up waiting cannot leave the server hanging here.
    chmod(fifoPath_.c_str(), kSharedMode);
    armTimer(alarmMsSetting);
    fifo_ = ::open(fifoPath_.c_str(), O_RDONLY | O_CLOEXEC);
    armTimer(0);
    if (fifo_ < 0 && gotTerm)
        leave(0); // ended before any client wrote: nothing to log
    if (fifo_ < 0) {
        fprintf(stderr, "logserver: ERROR open %s [%s]\n", fifoPath_.c_str(), strerror(errno));
        _exit(-1);
    }
    // A FIFO put at the log would hold this open until a reader came, while
    // the clients fill the FIFO and then wait on it: only a regular file is
    // taken, without waiting. Ending closes this end of the FIFO, and the
    // clients go on as they do whenever the server is gone.
    std::string why;
    out_ = OpenRegularFileToWrite(log_, O_WRONLY | O_CREAT | O_TRUNC, &why).release();
    if (!out_) {
        fprintf(stderr, "logserver: ERROR open %s [%s]\n", log_.c_str(), why.c_str());
        leave(-1);
    }
    struct stat logStat{};
    if (fstat(fileno(out_), &logStat) == 0 && (logStat.st_mode & 07))
        fchmod(fileno(out_), logStat.st_mode & 07770); // a log left open to all by an older server
    logCtrlFlgs = g.saveCtrl | LOG_OPEN | LOG_HMS;
    std::string p = prefix();
    std::string head = format("%s...... Log Server process P%d %s %s", p.c_str(),
                              static_cast<int>(getpid()), keepOld_ ? "KEEP" : "",
                              g.today.c_str());
    if (!special_.empty())
        head += format("\n%s...... Log special: %s", prefix().c_str(), special_.c_str());
    if (g.logSize > 0)
        head += ";  Max log " + logSizeText(g.logSize);
    own(head + "\n");
    fflush(out_);

    char buf[kReadSize];
    int idle = 0;
    for (;;) {
        if (gotTerm)
            tryStop(buf, true);
        // The wait for data is bounded, so dead clients are noticed even
        // while some process keeps the FIFO open.
        pollfd pfd{fifo_, POLLIN, 0};
        int ready = poll(&pfd, 1, alarmMsSetting);
        int pollErr = errno;
        ssize_t n = -1;
        int e = 0;
        bool timeout = ready == 0;
        if (timeout) {
            e = EINTR; // reported as the alarm's interrupted read
        } else if (ready < 0) {
            e = pollErr;
        } else {
            errno = 0;
            n = read(fifo_, buf, kReadSize);
            e = errno;
        }
        if (n > 0) {
            idle = 0;
            feed(buf, static_cast<size_t>(n));
            wrapCheck();
            fflush(out_);
            continue;
        }
        if (n < 0 && !timeout) {
            if (e != EINTR) {
                checkClients();
                napMs(idleSleepMsSetting);
            }
            continue;
        }
        // End of file (no writer) or the alarm: nothing more is on its way.
        drain();
        wrapCheck();
        fflush(out_);
        if (checkClients() > 0) {
            idle = 0;
            if (n == 0)
                napMs(idleSleepMsSetting); // no writer: don't spin on EOF
            continue;
        }
        if (n != 0 || e != 0)
            own(format("%s...... Log Server process P%d, no clients; len %d errno %d %s\n",
                       prefix().c_str(), static_cast<int>(getpid()), static_cast<int>(n), e,
                       timeout ? "Timeout" : ""));
        else if (idle % 3 == 0) {
            std::string p = prefix();
            own(format("%s...... Log Server process P%d, no clients %s\n", p.c_str(),
                       static_cast<int>(getpid()), g.today.c_str()));
        }
        fflush(out_);
        if (idle >= kIdlePasses) {
            tryStop(buf); // returns only when data arrived meanwhile
            idle = 0;
            continue;
        }
        ++idle;
        napMs(idleSleepMsSetting);
    }
}

} // namespace

// ---------------------------------------------------------------- records

void LogRecordSplitter::feed(const char *p, size_t n)
{
    carry_.append(p, n);
    scan(carry_, false);
}

void LogRecordSplitter::flush() { scan(carry_, true); }

void LogRecordSplitter::scan(std::string &buf, bool final)
{
    size_t pos = 0;
    while (pos < buf.size()) {
        size_t m = buf.find(fifoMark, pos, kMarkLen);
        if (m == std::string::npos) {
            // Hold back an end that may be the start of a mark.
            size_t keep = 0;
            if (!final)
                for (size_t k = std::min(kMarkLen - 1, buf.size() - pos); k > 0; --k)
                    if (buf.compare(buf.size() - k, k, fifoMark, k) == 0) {
                        keep = k;
                        break;
                    }
            if (buf.size() - pos > keep)
                h_.text(buf.data() + pos, buf.size() - pos - keep);
            buf.erase(0, buf.size() - keep);
            return;
        }
        if (m > pos)
            h_.text(buf.data() + pos, m - pos);
        size_t nul = buf.find('\0', m + kMarkLen);
        if (nul == std::string::npos || nul - m > kMaxRecord) {
            if (nul == std::string::npos && !final && buf.size() - m <= kMaxRecord) {
                buf.erase(0, m); // the rest of the record comes with the next read
                return;
            }
            h_.text(buf.data() + m, kMarkLen); // no record: the mark is text
            pos = m + kMarkLen;
            continue;
        }
        std::string body(buf, m + kMarkLen, nul - m - kMarkLen);
        pos = nul + 1;
        auto pidOf = [](const std::string &s) -> pid_t {
            char *end = nullptr;
            long v = strtol(s.c_str(), &end, 10);
            return end != s.c_str() && v > 0 && v <= INT_MAX ? static_cast<pid_t>(v) : 0;
        };
        if (body.compare(0, 5, "OPEN ") == 0) {
            if (pid_t id = pidOf(body.substr(5)))
                h_.open(id);
        } else if (body.compare(0, 5, "CLOSE") == 0) {
            if (pid_t id = pidOf(body.substr(5)))
                h_.close(id);
        } else if (body == "CYCLE") {
            h_.cycle();
        }
    }
    buf.clear();
}

// ---------------------------------------------------------------- client

std::string logServerFile(const std::string &logName, const std::string &special,
                          const char *kind)
{
    if (!special.empty())
        return special + "/." + kind;
    size_t slash = logName.rfind('/');
    if (slash == std::string::npos)
        return std::string(".") + kind + "." + logName;
    return logName.substr(0, slash + 1) + "." + kind + "." + logName.substr(slash + 1);
}

void logServerSetTiming(int alarmMs, int idleSleepMs)
{
    alarmMsSetting = alarmMs > 0 ? alarmMs : 16000;
    idleSleepMsSetting = idleSleepMs >= 0 ? idleSleepMs : 1000;
}

bool logFifoWrite(int fd, const char *data, size_t n)
{
    if (fd < 0) {
        errno = EBADF;
        return false;
    }
    // A reader that is gone must cost EPIPE, not the process: hold SIGPIPE
    // back around the write and swallow the one it raised.
    sigset_t pipeSet, old, pending;
    sigemptyset(&pipeSet);
    sigaddset(&pipeSet, SIGPIPE);
    sigprocmask(SIG_BLOCK, &pipeSet, &old);
    sigpending(&pending);
    bool wasPending = sigismember(&pending, SIGPIPE);
    size_t done = 0;
    int err = 0;
    while (done < n) {
        ssize_t w = ::write(fd, data + done, n - done);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            err = errno;
            break;
        }
        done += static_cast<size_t>(w);
    }
    if (err == EPIPE && !wasPending) {
        timespec zero{};
        sigtimedwait(&pipeSet, nullptr, &zero);
    }
    sigprocmask(SIG_SETMASK, &old, nullptr);
    errno = err;
    return done == n;
}

bool logServerSendOpen(int fd, pid_t pid)
{
    return sendRecord(fd, format("OPEN %d ", static_cast<int>(pid)));
}

bool logServerSendClose(int fd, pid_t pid)
{
    return sendRecord(fd, format("CLOSE%d ", static_cast<int>(pid)));
}

bool logServerSendCycle(int fd) { return sendRecord(fd, "CYCLE"); }

LogServerLink logServerConnect(const std::string &logName, const std::string &special,
                               bool keepOld)
{
    LogServerLink r;
    const int me = static_cast<int>(getpid());
    std::string pidPath = logServerFile(logName, special, "pid");
    std::string fifoPath = logServerFile(logName, special, "fifo");

    int lk = lockPidFile(pidPath, true);
    if (lk < 0) {
        int e = errno;
        if (e == ETIMEDOUT) {
            fprintf(stderr, "logprint: P%d ERROR open %s [%s]\n", me, pidPath.c_str(),
                    strerror(e));
        } else {
            fprintf(stderr, "logprint P%d ERROR making '%s' [%s] Uid:%d Gid:%d\n", me,
                    pidPath.c_str(), strerror(e), static_cast<int>(geteuid()),
                    static_cast<int>(getegid()));
            r.fallback = true;
        }
        return r;
    }
    auto attach = [&](int fd) {
        if (logServerSendOpen(fd, getpid())) {
            r.fd = fd;
        } else {
            fprintf(stderr, "logprint: P%d ERROR open %s [%s]\n", me, fifoPath.c_str(),
                    strerror(errno));
            ::close(fd);
        }
        ::close(lk);
        return r;
    };

    if (alive(readPid(lk))) {
        int fd = openFifoWriter(fifoPath);
        if (fd >= 0)
            return attach(fd);
    }

    // No server reads the FIFO: start one.
    struct stat st{};
    if (lstat(fifoPath.c_str(), &st) == 0) {
        if (!S_ISFIFO(st.st_mode)) {
            fprintf(stderr, "logprint: ERROR %s is not FIFO\n", fifoPath.c_str());
            r.fallback = true;
            ::close(lk);
            return r;
        }
    } else if (mkfifo(fifoPath.c_str(), kSharedMode) != 0 && errno != EEXIST) {
        fprintf(stderr, "logprint P%d ERROR making '%s' [%s] Uid:%d Gid:%d\n", me,
                fifoPath.c_str(), strerror(errno), static_cast<int>(geteuid()),
                static_cast<int>(getegid()));
        r.fallback = true;
        ::close(lk);
        return r;
    }
    qorsetsig(SIGCHLD, SIG_IGN);
    pid_t child = fork();
    if (child < 0) {
        r.fallback = true;
        ::close(lk);
        return r;
    }
    if (child == 0)
        LogServer(logName, special, pidPath, fifoPath, keepOld).run();
    r.started = true;
    qorsetsig(SIGCHLD, SIG_IGN);

    long long deadline = nowMs() + kStartWaitMs;
    int fd;
    while ((fd = openFifoWriter(fifoPath)) < 0 && (errno == ENXIO || errno == ENOENT) &&
           nowMs() < deadline)
        napMs(kPollMs);
    if (fd < 0) {
        fprintf(stderr, "logprint: P%d ERROR open %s [%s]\n", me, fifoPath.c_str(),
                strerror(errno));
        ::close(lk);
        return r;
    }
    return attach(fd);
}
