// Helpers of the host message tests: private queues and pools that are
// removed at the end, child processes with a time limit, log files.
#ifndef QOR_TESTS_HOSTMSG_IPC_UTIL_H
#define QOR_TESTS_HOSTMSG_IPC_UTIL_H

#include "logprint.h"
#include "vmu.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <sys/msg.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace hostmsg {

// A queue nobody else can name.
struct Queue {
    int id = msgget(IPC_PRIVATE, IPC_CREAT | 0600);
    ~Queue() { msgctl(id, IPC_RMID, nullptr); }
    // Lowers the queue's byte limit (allowed to its owner).
    bool limit(unsigned long bytes) const
    {
        msqid_ds ds{};
        if (msgctl(id, IPC_STAT, &ds) != 0)
            return false;
        ds.msg_qbytes = bytes;
        return msgctl(id, IPC_SET, &ds) == 0;
    }
};

// Pools of new private segments, sizes in bytes (0: unused).
struct Pools {
    VmuBoot boot{};
    int attached = -1;
    explicit Pools(uint32_t size0, uint32_t size1 = 0)
    {
        const uint32_t sizes[kVmuPools] = {size0, size1, 0};
        for (int i = 0; i < kVmuPools; ++i)
            boot.pool[i] = sizes[i] ? vmu{'S', kVmuNone, sizes[i]} : vmu{};
        attached = setupVmu(true, &boot);
    }
    ~Pools() { destroyVmu(&boot); }
};

inline std::string readFile(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// The process log on a file of the test's working folder.
struct Log {
    std::string path;
    explicit Log(const std::string &name) : path(name)
    {
        logClose();
        std::remove(path.c_str());
        logOpen(path.c_str(), 0);
    }
    ~Log() { logClose(); }
    std::string text() const
    {
        logForceFlush();
        return readFile(path);
    }
};

// Runs body in a child process whose log is `logName`; its result is the
// child's exit status.
inline pid_t startChild(const std::string &logName, const std::function<int()> &body)
{
    logForceFlush();
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        logClose();
        std::remove(logName.c_str());
        logOpen(logName.c_str(), 0);
        const int rc = body();
        logClose();
        _exit(rc);
    }
    return pid;
}

// The child's exit status; -1 when it ran past `seconds` (it is killed).
inline int waitChild(pid_t pid, int seconds = 30)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > end) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Waits until the file holds `marker` and the process sleeps in a blocking
// call (twice, a little apart); false after ten seconds.
inline bool waitBlocked(pid_t pid, const std::string &file, const std::string &marker)
{
    auto sleeping = [pid] {
        const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
        const size_t p = stat.rfind(')');
        return p != std::string::npos && p + 2 < stat.size() && stat[p + 2] == 'S';
    };
    for (int i = 0; i < 1000; ++i) {
        if (readFile(file).find(marker) != std::string::npos && sleeping()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (sleeping())
                return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

} // namespace hostmsg

#endif
