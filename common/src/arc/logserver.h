// The shared log server: several processes write one log file through a
// FIFO beside it, and one background process (the server, forked by the
// first client) is the only writer of the file. The client side is called
// from logOpen, logClose, logReOpen and logCyclePoint.
//
// Files beside the log "dir/base": "dir/.pid.base" (the server's pid) and
// "dir/.fifo.base"; with a log-server directory D: "D/.pid" and "D/.fifo".
//
// Control records travel in the same stream as the text: the mark
// "#@$FIFO-LOG$@#", "OPEN <pid> ", "CLOSE<pid> " or "CYCLE", and one NUL.
#ifndef QOR_LOGSERVER_H
#define QOR_LOGSERVER_H

#include <cstddef>
#include <string>
#include <sys/types.h>

extern const char fifoMark[];   // "#@$FIFO-LOG$@#"

// Name of a file beside the log; kind is "pid" or "fifo".
std::string logServerFile(const std::string &logName,
                          const std::string &special, const char *kind);

// Result of logServerConnect.
struct LogServerLink {
    int fd = -1;           // FIFO opened for (blocking) writing, or -1
    bool fallback = false; // log-server mode is off: write the file itself
    bool started = false;  // this call forked the server
};

// Finds the running server of the log (or starts one, under a lock on the
// pid file so two can never start), opens the FIFO and sends OPEN with
// this process's id. Waits a bounded time for a new server to read. A
// server started here first rotates kept copies when keepOld is set.
LogServerLink logServerConnect(const std::string &logName,
                               const std::string &special, bool keepOld = false);

// Sends data with one write(2) (the caller keeps it within PIPE_BUF);
// a reader that is gone gives false with errno EPIPE, never SIGPIPE.
bool logFifoWrite(int fd, const char *data, size_t n);

// Control records.
bool logServerSendOpen(int fd, pid_t pid);
bool logServerSendClose(int fd, pid_t pid);
bool logServerSendCycle(int fd);

// Timing of the server: the alarm that bounds each read (default 16000 ms)
// and the sleep of an idle pass (default 1000 ms). Tests shorten them; a
// server forked afterwards uses the values of its client.
void logServerSetTiming(int alarmMs, int idleSleepMs);

// Record parsing, also used by the server loop: splits a stream into text
// and records, carrying a record (or a possible start of the mark) that a
// read cut off over to the next chunk.
class LogRecordSplitter {
public:
    struct Handler {
        virtual ~Handler() = default;
        virtual void text(const char *p, size_t n) = 0;
        virtual void open(pid_t pid) = 0;
        virtual void close(pid_t pid) = 0;
        virtual void cycle() = 0;
    };
    explicit LogRecordSplitter(Handler &h) : h_(h) {}
    // Feeds the next chunk read from the FIFO.
    void feed(const char *p, size_t n);
    // No more data is coming for now: anything held back is plain text.
    void flush();
    size_t pending() const { return carry_.size(); }

private:
    void scan(std::string &buf, bool final);
    Handler &h_;
    std::string carry_;
};

#endif
