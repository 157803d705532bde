// Helpers of the request-loop tests: temporary folders, files, child
// processes and their states.
#ifndef QOR_TEST_LOOP_UTIL_H
#define QOR_TEST_LOOP_UTIL_H

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace looptest {

// A fresh folder under /tmp, removed with its files at the end.
class TempDir {
public:
    TempDir()
    {
        char tmpl[] = "/tmp/qor-loop-XXXXXX";
        const char *d = mkdtemp(tmpl);
        path_ = d ? d : "/tmp";
    }
    ~TempDir()
    {
        std::string cmd = "rm -rf '" + path_ + "'";
        if (std::system(cmd.c_str()) != 0) {
        }
    }
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline size_t count(const std::string &text, const std::string &what)
{
    size_t n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1))
        ++n;
    return n;
}

// Whether the line of `message` (written by the signal handler) has the
// time prefix of the line of `logged`: digits where it has digits, the
// same characters elsewhere.
inline bool hasLogPrefix(const std::string &text, const std::string &message, const std::string &logged)
{
    std::string leader[2];
    for (int i = 0; i < 2; ++i) {
        size_t at = text.find(i ? logged : message), start = text.rfind('\n', at) + 1;
        leader[i] = at == std::string::npos ? "" : text.substr(start, at - start);
        for (char &c : leader[i])
            c = std::isdigit(static_cast<unsigned char>(c)) ? '9' : c;
    }
    return !leader[0].empty() && leader[0] == leader[1];
}

// Process state letter from /proc (R, S, D, Z ...), or 0.
inline char procState(pid_t pid)
{
    std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    size_t p = stat.rfind(')');
    return p != std::string::npos && p + 2 < stat.size() ? stat[p + 2] : 0;
}

// Waits until the file holds `marker` and the process sleeps in a blocking
// call; false after half a minute.
inline bool waitBlocked(pid_t pid, const std::string &file, const std::string &marker)
{
    for (int i = 0; i < 3000; ++i) {
        if (readFile(file).find(marker) != std::string::npos && procState(pid) == 'S') {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (procState(pid) == 'S')
                return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// Waits until the process has taken signal `sig` (it is pending no more)
// and sleeps in a blocking call again; false after half a minute.
inline bool waitSignalTaken(pid_t pid, int sig)
{
    const unsigned long long bit = 1ULL << (sig - 1);
    for (int i = 0; i < 3000; ++i) {
        std::istringstream status(readFile("/proc/" + std::to_string(pid) + "/status"));
        unsigned long long pending = 0;
        for (std::string line; std::getline(status, line);)
            if (line.rfind("SigPnd:", 0) == 0 || line.rfind("ShdPnd:", 0) == 0)
                pending |= std::strtoull(line.c_str() + 7, nullptr, 16);
        if (!(pending & bit) && procState(pid) == 'S')
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// Wait status of a child, or -1 when it did not end within the time.
inline int waitChild(pid_t pid, int seconds = 20)
{
    for (int i = 0; i < seconds * 100; ++i) {
        int st = 0;
        pid_t r = waitpid(pid, &st, WNOHANG);
        if (r == pid)
            return st;
        if (r < 0)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    int st = 0;
    waitpid(pid, &st, 0);
    return -1;
}

} // namespace looptest

#endif
