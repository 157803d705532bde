// The stand-in host's log: one line per event and a hex dump of every frame
// sent and received.  Each entry reaches the file whole and at once (one
// write), so a test may read the log while the host runs.  A log file that
// passes its size limit is renamed with ".1" (replacing the one before)
// and begun anew, so a host left running keeps at most twice the limit.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <shared_mutex>
#include <string>

namespace dtphost {

class HexLog {
public:
    HexLog() = default;
    ~HexLog();
    HexLog(const HexLog&) = delete;
    HexLog& operator=(const HexLog&) = delete;

    // Opens the log file (appending); "" or "-" is standard error, which
    // has no limit. limit: bytes per file, 0 for none.
    bool open(const std::string& path, uint64_t limit = 0);

    // "[cN] send|recv <class name> (<class>), <n> bytes" and the body in hex.
    void frame(int conn, bool sent, const uint8_t* body, size_t n);
    // Raw bytes written without a frame (a fault): dumped as they are.
    void raw(int conn, const uint8_t* data, size_t n);
    void event(int conn, const std::string& text);
    void warning(int conn, const std::string& text);  // "warning: ..."
    void error(int conn, const std::string& text);    // "error: ..."

    // While a Batch lives in a thread, that thread's entries are kept and
    // written together at its flush(): a connection writes what one frame
    // caused at once, and never while it holds another lock.  Whatever is
    // flushed before a frame is sent is in the file before the gateway
    // can have the frame.
    class Batch {
    public:
        explicit Batch(HexLog& log);
        ~Batch();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        HexLog& log_;
    };
    // Writes the entries the calling thread kept.
    void flush();

private:
    void write(std::string text);
    void writeNow(const std::string& text);
    void rotate();

    std::mutex mu_;
    std::shared_mutex fdMu_;   // entries are written sharing it; rotate() holds it alone
    int fd_ = -1;
    bool own_ = false;
    bool shared_ = false;   // not a regular file: entries written under mu_
    std::string path_;
    std::atomic<uint64_t> limit_{0};   // 0: none (also after a failed rotation)
    std::atomic<uint64_t> size_{0};   // bytes in the current file
};

}  // namespace dtphost
