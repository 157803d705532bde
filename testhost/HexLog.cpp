#include "HexLog.h"

#include "Wire.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace dtphost {

namespace {

// "hh:mm:ss.mmm [cN] text\n" (without "[cN] " for conn 0).
std::string stampedLine(int conn, const std::string& text)
{
    timeval tv{};
    gettimeofday(&tv, nullptr);
    tm t{};
    time_t secs = tv.tv_sec;
    localtime_r(&secs, &t);
    char stamp[48];
    int n = conn > 0 ? std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03d [c%d] ", t.tm_hour, t.tm_min,
                                     t.tm_sec, static_cast<int>(tv.tv_usec / 1000), conn)
                     : std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03d ", t.tm_hour, t.tm_min, t.tm_sec,
                                     static_cast<int>(tv.tv_usec / 1000));
    std::string out(stamp, static_cast<size_t>(n));
    out += text;
    out += '\n';
    return out;
}

// Rows of 16 bytes: "    OOOO  XX XX .. XX  XX .. XX  |text|" (a gap after
// the 8th byte, blanks where the last row ends).
void appendDump(std::string& out, const uint8_t* data, size_t n)
{
    static const char digits[] = "0123456789ABCDEF";
    for (size_t row = 0; row < n; row += 16) {
        char offset[24];
        std::snprintf(offset, sizeof offset, "    %04zX  ", row);
        out += offset;
        std::string text(16, ' ');
        for (size_t i = 0; i < 16; ++i) {
            if (i == 8) out += ' ';
            if (row + i < n) {
                uint8_t c = data[row + i];
                out += digits[c >> 4];
                out += digits[c & 15];
                out += ' ';
                text[i] = c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '.';
            } else {
                out += "   ";
            }
        }
        out += " |";
        out += text;
        out += "|\n";
    }
}

}  // namespace

HexLog::~HexLog()
{
    if (own_ && fd_ >= 0) ::close(fd_);
}

bool HexLog::open(const std::string& path, uint64_t limit)
{
    if (path.empty() || path == "-") {
        fd_ = STDERR_FILENO;
        struct stat st {};
        shared_ = fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode);
        return true;
    }
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    own_ = fd_ >= 0;
    struct stat st {};
    if (own_ && fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) {
        path_ = path;
        limit_ = limit;
        size_ = static_cast<uint64_t>(st.st_size);
    }
    return own_;
}

void HexLog::rotate()
{
    std::unique_lock<std::shared_mutex> alone(fdMu_);
    if (size_ < limit_) return;   // another thread was first
    const std::string old = path_ + ".1";
    int fd = -1;
    if (::rename(path_.c_str(), old.c_str()) == 0)
        fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        // The folder refuses: the file grows on rather than losing entries.
        limit_ = 0;
        return;
    }
    ::close(fd_);
    fd_ = fd;
    size_ = 0;
}

namespace {
// Batches living in the calling thread, and the entries they keep.
thread_local int batches = 0;
thread_local std::string kept;
}  // namespace

HexLog::Batch::Batch(HexLog& log) : log_(log)
{
    ++batches;
}

HexLog::Batch::~Batch()
{
    log_.flush();
    --batches;
}

void HexLog::flush()
{
    if (kept.empty()) return;
    writeNow(kept);
    kept.clear();
}

void HexLog::write(std::string text)
{
    if (batches > 0)
        kept += text;
    else
        writeNow(text);
}

void HexLog::writeNow(const std::string& text)
{
    // Each entry is made first and then written with one call: appends to
    // a regular file never mix, so connections need not wait for each
    // other; a pipe or terminal is written under the lock.
    if (limit_ && size_ >= limit_) rotate();
    std::shared_lock<std::shared_mutex> file(fdMu_);
    size_ += text.size();
    std::unique_lock<std::mutex> lock(mu_, std::defer_lock);
    if (shared_) lock.lock();
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t w = ::write(fd_, p, left);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return;
        p += w;
        left -= static_cast<size_t>(w);
    }
}

void HexLog::frame(int conn, bool sent, const uint8_t* body, size_t n)
{
    if (fd_ < 0) return;
    std::string what = n ? className(body[0]) + " (" + std::to_string(body[0]) + ")" : "empty frame";
    std::string text = stampedLine(conn, std::string(sent ? "send " : "recv ") + what + ", " + std::to_string(n) + " bytes");
    appendDump(text, body, n);
    write(std::move(text));
}

void HexLog::raw(int conn, const uint8_t* data, size_t n)
{
    if (fd_ < 0) return;
    std::string text = stampedLine(conn, "send raw bytes without a frame, " + std::to_string(n) + " bytes");
    appendDump(text, data, n);
    write(std::move(text));
}

void HexLog::event(int conn, const std::string& text)
{
    if (fd_ < 0) return;
    write(stampedLine(conn, text));
}

void HexLog::warning(int conn, const std::string& text) { event(conn, "warning: " + text); }
void HexLog::error(int conn, const std::string& text) { event(conn, "error: " + text); }

}  // namespace dtphost
