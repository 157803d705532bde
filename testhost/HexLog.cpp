#include "HexLog.h"

#include "Wire.h"

#include <sys/time.h>
#include <ctime>

namespace dtphost {

HexLog::~HexLog()
{
    if (own_ && out_) std::fclose(out_);
}

bool HexLog::open(const std::string& path)
{
    if (path.empty() || path == "-") {
        out_ = stderr;
        return true;
    }
    out_ = std::fopen(path.c_str(), "a");
    own_ = out_ != nullptr;
    return own_;
}

void HexLog::line(int conn, const std::string& text)
{
    timeval tv{};
    gettimeofday(&tv, nullptr);
    tm t{};
    time_t secs = tv.tv_sec;
    localtime_r(&secs, &t);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03d", t.tm_hour, t.tm_min, t.tm_sec,
                  static_cast<int>(tv.tv_usec / 1000));
    if (conn > 0)
        std::fprintf(out_, "%s [c%d] %s\n", stamp, conn, text.c_str());
    else
        std::fprintf(out_, "%s %s\n", stamp, text.c_str());
}

void HexLog::dump(const uint8_t* data, size_t n)
{
    for (size_t row = 0; row < n; row += 16) {
        char hex[16 * 3 + 2] = {0}, text[17] = {0};
        size_t h = 0;
        for (size_t i = 0; i < 16; ++i) {
            if (row + i < n) {
                uint8_t c = data[row + i];
                h += std::snprintf(hex + h, sizeof hex - h, i == 8 ? " %02X " : "%02X ", c);
                text[i] = c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '.';
            } else {
                h += std::snprintf(hex + h, sizeof hex - h, i == 8 ? "    " : "   ");
                text[i] = ' ';
            }
        }
        std::fprintf(out_, "    %04zX  %s |%s|\n", row, hex, text);
    }
}

void HexLog::frame(int conn, bool sent, const uint8_t* body, size_t n)
{
    std::lock_guard<std::mutex> lock(mu_);
    if (!out_) return;
    std::string what = n ? className(body[0]) + " (" + std::to_string(body[0]) + ")" : "empty frame";
    line(conn, std::string(sent ? "send " : "recv ") + what + ", " + std::to_string(n) + " bytes");
    dump(body, n);
    std::fflush(out_);
}

void HexLog::raw(int conn, const uint8_t* data, size_t n)
{
    std::lock_guard<std::mutex> lock(mu_);
    if (!out_) return;
    line(conn, "send raw bytes without a frame, " + std::to_string(n) + " bytes");
    dump(data, n);
    std::fflush(out_);
}

void HexLog::event(int conn, const std::string& text)
{
    std::lock_guard<std::mutex> lock(mu_);
    if (!out_) return;
    line(conn, text);
    std::fflush(out_);
}

void HexLog::warning(int conn, const std::string& text) { event(conn, "warning: " + text); }
void HexLog::error(int conn, const std::string& text) { event(conn, "error: " + text); }

}  // namespace dtphost
