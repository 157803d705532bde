// Helpers for the log tests: temporary folders, file contents, waiting.
#ifndef QOR_TESTS_LOG_UTIL_H
#define QOR_TESTS_LOG_UTIL_H

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace logtest {

// A fresh folder under /tmp, removed with its contents at the end.
struct TempDir {
    std::string path;
    TempDir()
    {
        char tmpl[] = "/tmp/qorlogtest.XXXXXX";
        const char *p = mkdtemp(tmpl);
        path = p ? p : "/tmp";
    }
    ~TempDir()
    {
        if (path.rfind("/tmp/qorlogtest.", 0) == 0) {
            std::string cmd = "rm -rf '" + path + "'";
            if (system(cmd.c_str()) != 0) {
            }
        }
    }
    std::string operator/(const std::string &name) const { return path + "/" + name; }
};

inline std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        out.push_back(l);
    return out;
}

inline bool exists(const std::string &path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

inline size_t countOf(const std::string &text, const std::string &part)
{
    size_t n = 0;
    for (size_t p = text.find(part); p != std::string::npos; p = text.find(part, p + 1))
        ++n;
    return n;
}

// Polls cond every 10 ms for at most ms milliseconds.
inline bool waitFor(const std::function<bool()> &cond, int ms = 30000)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

} // namespace logtest

#endif
