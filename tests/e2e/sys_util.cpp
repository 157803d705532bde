#include "sys_util.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace e2e {

std::string sourceDir()
{
    const char* d = std::getenv("QOR_SOURCE_DIR");
    return d && *d ? d : QOR_E2E_SOURCE_DIR;
}

std::string binaryDir()
{
    const char* d = std::getenv("QOR_BINARY_DIR");
    return d && *d ? d : QOR_E2E_BINARY_DIR;
}

// QOR_E2E_QORIC may name a gateway binary built elsewhere.
std::string qoricBinary()
{
    const char* q = std::getenv("QOR_E2E_QORIC");
    return q && *q ? q : binaryDir() + "/gateway/qoric";
}
std::string qorconfigBinary() { return binaryDir() + "/configeditor/qorconfig"; }
std::string qorshmBinary() { return binaryDir() + "/tools/qorshm/qorshm"; }
std::string fixedPageBinary() { return binaryDir() + "/tests/e2e/e2e_fixed_page"; }

bool isExecutable(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

time_t modTime(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_mtime : 0;
}

void setModTime(const std::string& path, time_t t)
{
    timespec times[2] = {{t, 0}, {t, 0}};
    if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
        throw std::runtime_error("cannot set the time of " + path);
}

void waitPastModTime(const std::string& path)
{
    const time_t t = modTime(path);
    while (time(nullptr) <= t) sleepMs(20);
}

void writeText(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string realPath(const std::string& p)
{
    char* r = realpath(p.c_str(), nullptr);
    if (!r) return p;
    std::string out = r;
    std::free(r);
    return out;
}

std::string makeDir(const std::string& pattern)
{
    std::string t = pattern;
    if (!mkdtemp(&t[0])) throw std::runtime_error("mkdtemp " + pattern + ": " + std::strerror(errno));
    return realPath(t);
}

// Chosen below the kernel's ephemeral ports (32768 up): a port from that
// range can be taken as the source port of some outgoing connection between
// this check and the server's bind.
uint16_t freePort()
{
    static std::mt19937 pick(std::random_device{}());
    std::uniform_int_distribution<int> range(20000, 31999);
    for (int tries = 0; tries < 200; ++tries) {
        const uint16_t port = static_cast<uint16_t>(range(pick));
        int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (s < 0) break;
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        const bool free = bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        close(s);
        if (free) return port;
    }
    throw std::runtime_error("no free loopback port");
}

bool portOpen(uint16_t port)
{
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(s);
    return ok;
}

size_t countOf(const std::string& text, const std::string& part)
{
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

std::vector<ProcInfo> allProcesses()
{
    std::vector<ProcInfo> out;
    DIR* d = opendir("/proc");
    if (!d) return out;
    while (dirent* e = readdir(d)) {
        char* end = nullptr;
        long pid = std::strtol(e->d_name, &end, 10);
        if (!end || *end || pid <= 0) continue;
        std::string stat = readFile("/proc/" + std::string(e->d_name) + "/stat");
        size_t close = stat.rfind(')');
        if (close == std::string::npos || close + 4 > stat.size()) continue;
        char state = stat[close + 2];
        if (state == 'Z' || state == 'X') continue;
        out.push_back({static_cast<pid_t>(pid), static_cast<pid_t>(std::atol(stat.c_str() + close + 4))});
    }
    closedir(d);
    return out;
}

std::string linkOf(pid_t pid, const char* what)
{
    char buf[4096];
    std::string p = "/proc/" + std::to_string(pid) + "/" + what;
    ssize_t n = readlink(p.c_str(), buf, sizeof buf - 1);
    if (n <= 0) return "";
    return std::string(buf, static_cast<size_t>(n));
}

std::vector<char*> argvOf(std::vector<std::string>& all)
{
    std::vector<char*> v;
    for (std::string& s : all) v.push_back(&s[0]);
    v.push_back(nullptr);
    return v;
}

// In a forked child: standard input from /dev/null, output to `out`.
void redirectChild(const std::string& out)
{
    int in = open("/dev/null", O_RDONLY);
    if (in >= 0) dup2(in, 0);
    int o = open(out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (o >= 0) { dup2(o, 1); dup2(o, 2); }
}

bool processAlive(pid_t pid)
{
    if (pid <= 0) return false;
    std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    size_t close = stat.rfind(')');
    if (close == std::string::npos || close + 2 >= stat.size()) return false;
    char state = stat[close + 2];
    return state != 'Z' && state != 'X';
}

bool waitGone(pid_t pid, int timeoutMs)
{
    for (int waited = 0; waited <= timeoutMs; waited += 20) {
        waitpid(pid, nullptr, WNOHANG);  // reaps it when it is our child
        if (!processAlive(pid)) return true;
        sleepMs(20);
    }
    return false;
}

bool waitFifoEmpty(const std::string& path, int timeoutMs)
{
    const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return true;
    int n = -1;
    for (int waited = 0; waited <= timeoutMs; waited += 20) {
        if (ioctl(fd, FIONREAD, &n) != 0 || n == 0) break;
        sleepMs(20);
    }
    close(fd);
    return n == 0;
}

}  // namespace e2e
