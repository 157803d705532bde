#include "proto_harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "ZelBuffer.h"
#include "ZelSessionTableLayout.h"
#include "sesstbl/own_key_folder.h"

namespace prototest {

using namespace hosttest;

// --- the host's log --------------------------------------------------------

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

std::vector<Frame> ParseHostLog(const std::string &log) {
    std::vector<Frame> frames;
    std::istringstream in(log);
    std::string line;
    Frame *current = nullptr;
    size_t expected = 0;
    while (std::getline(in, line)) {
        if (current && line.rfind("    ", 0) == 0 && current->body.size() < expected) {
            // "    0000  74 44 54 50 ...  |tDTP...|"
            size_t bar = line.find('|');
            std::istringstream hex(line.substr(10, bar == std::string::npos ? std::string::npos : bar - 10));
            std::string token;
            while (hex >> token) {
                if (token.size() != 2 || HexValue(token[0]) < 0 || HexValue(token[1]) < 0) break;
                current->body.push_back(static_cast<uint8_t>(HexValue(token[0]) * 16 + HexValue(token[1])));
            }
            continue;
        }
        current = nullptr;
        size_t c = line.find(" [c");
        if (c == std::string::npos) continue;
        size_t close = line.find("] ", c);
        if (close == std::string::npos) continue;
        std::string rest = line.substr(close + 2);
        bool sent = rest.rfind("send ", 0) == 0;
        bool recv = rest.rfind("recv ", 0) == 0;
        if (!sent && !recv) continue;
        size_t comma = rest.rfind(", ");
        size_t bytes = rest.rfind(" bytes");
        if (comma == std::string::npos || bytes == std::string::npos || bytes < comma) continue;
        Frame f;
        f.conn = std::atoi(line.c_str() + c + 3);
        f.sent = sent;
        frames.push_back(f);
        current = &frames.back();
        expected = static_cast<size_t>(std::atol(rest.c_str() + comma + 2));
    }
    return frames;
}

std::vector<Frame> Received(const std::vector<Frame> &all, int conn) {
    std::vector<Frame> out;
    for (const Frame &f : all)
        if (!f.sent && (conn == 0 || f.conn == conn)) out.push_back(f);
    return out;
}

std::vector<Frame> Sent(const std::vector<Frame> &all, int conn) {
    std::vector<Frame> out;
    for (const Frame &f : all)
        if (f.sent && (conn == 0 || f.conn == conn)) out.push_back(f);
    return out;
}

std::string Hex(const Bytes &b) {
    std::string out;
    char buf[4];
    for (size_t i = 0; i < b.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02X", b[i]);
        if (i) out += (i % 16 == 0) ? " | " : " ";
        out += buf;
    }
    return out;
}

// --- frames a gateway sends -------------------------------------------------

Bytes ExpectedPrst(uint32_t L, const std::string &trid, const std::string &cda, int pool) {
    char poolText[16];
    std::snprintf(poolText, sizeof poolText, "#%07d", pool);
    return cat({{6, 0, 0, 0}, be32(L), text("", 4), Bytes(9, 0), {3, 1, 0}, text("", 8), text("", 4),
                pool > 0 ? str(poolText) : text("", 8), text("", 16), {0xFF, 0xFF, 0xFF, 0x11},
                {0x00, 0x18, 0x00, 0x50, 0x0E, 0, 0, 0}, Bytes(24, 0), text(trid, 8),
                be32(static_cast<uint32_t>(cda.size())), str(cda)});
}

Bytes McsScreen(const std::string &name, char status, const std::string &data) {
    const uint16_t n = static_cast<uint16_t>(data.size());
    return cat({text(name, 8), text("", 4), {' ', ' '}, be16(n), {static_cast<uint8_t>(status), ' '}, be16(n),
                str(data)});
}

CBuffer ToBuffer(const Bytes &b) {
    return CBuffer(reinterpret_cast<const char *>(b.data()), static_cast<int>(b.size()));
}

Bytes ToBytes(const CBuffer &b) {
    const auto *p = reinterpret_cast<const uint8_t *>(b.GetBuffer());
    return Bytes(p, p + b.GetLength());
}

// --- one test's directory ---------------------------------------------------

ProtoDir::ProtoDir() {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd)) m_oldCwd = cwd;
    char templ[] = "/tmp/qor-dtpproto-XXXXXX";
    if (!mkdtemp(templ)) throw std::runtime_error("mkdtemp failed");
    m_base = templ;
    m_root = m_base + "/root";
    mkdir(m_root.c_str(), 0700);
    sesstbl::MakeFolderWithOwnKey(Work(), 0700);
    mkdir(Logs().c_str(), 0700);
    if (chdir(Work().c_str()) != 0) throw std::runtime_error("chdir failed");
}

ProtoDir::~ProtoDir() {
    EndCleaner();
    EndProcessesIn(Work());
    key_t key = Key();
    for (int guard = 0; key != -1 && guard < 16; ++guard) {
        int id = shmget(key, 0, 0);
        if (id < 0 || shmctl(id, IPC_RMID, nullptr) != 0) break;
    }
    if (key != -1) unlink(sesstbl::LockFilePath(static_cast<int32_t>(key)).c_str());
    if (!m_oldCwd.empty() && chdir(m_oldCwd.c_str()) != 0) {
    }
    std::error_code ec;
    std::filesystem::remove_all(m_base, ec);
}

std::string ProtoDir::ReadGatewayLog() const { return ReadFile(GatewayLog()); }

key_t ProtoDir::Key() const { return ftok(Work().c_str(), 'j'); }

bool ProtoDir::SegmentExists() const { return Key() != -1 && shmget(Key(), 0, 0) >= 0; }

int ProtoDir::CleanerPid() const {
    int id = Key() == -1 ? -1 : shmget(Key(), 0, 0);
    if (id < 0) return 0;
    void *p = shmat(id, nullptr, SHM_RDONLY);
    if (p == reinterpret_cast<void *>(-1)) return 0;
    int32_t pid = 0;
    std::memcpy(&pid, static_cast<const char *>(p) + 2028, sizeof pid);
    shmdt(p);
    return pid;
}

void ProtoDir::EndCleaner() {
    int pid = CleanerPid();
    if (pid <= 0 || pid == getpid()) return;
    // The pid of a cleaner that has ended may belong to somebody else now.
    char real[PATH_MAX];
    if (!realpath(Work().c_str(), real) || WorkingDirectoryOf(pid) != real) return;
    kill(pid, SIGKILL);
    WaitGone(pid, 3000);
}

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string HostScript() {
    return R"(# transactions of the protocol tests
transaction PROG1 MENU
transaction PROG2 DETAIL

screen MENU
  terminal T001
  field 0 8 "${L}"
  input 8 10 "NAME"
  field 18 6 "N${N}"
  error "CHECK ${N}"
  cursor 1
  fcc "!B*0"
  enter -> same
  key 1 -> DETAIL
  key 2 -> end " " "BYE ${L}"
  key 5 -> close
  key * -> same

screen DETAIL
  kind V
  size 30
  field 0 6 "${TRX}"
  input 6 10
  enter -> MENU
  key * -> same
)";
}

bool WaitFor(const std::function<bool()> &pred, int timeoutMs) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (pred()) return true;
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

bool CleanerLockFree() {
    const key_t key = ftok(".", sesstbl::kFtokProjectId);
    if (key == -1) return true;
    int fd = open(sesstbl::LockFilePath(static_cast<int32_t>(key)).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return true;
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 1;
    bool free = fcntl(fd, F_GETLK, &fl) == 0 && fl.l_type == F_UNLCK;
    close(fd);
    return free;
}

bool WaitGone(pid_t pid, int timeoutMs) {
    return WaitFor(
        [pid] {
            if (waitpid(pid, nullptr, WNOHANG) == pid) return true;
            if (kill(pid, 0) != 0 && errno == ESRCH) return true;
            std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
            size_t paren = stat.rfind(')');
            return paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] == 'Z';
        },
        timeoutMs);
}

std::string WorkingDirectoryOf(pid_t pid) {
    char target[PATH_MAX];
    const std::string link = "/proc/" + std::to_string(pid) + "/cwd";
    const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    return n > 0 ? std::string(target, static_cast<size_t>(n)) : std::string();
}

void EndProcessesIn(const std::string &dir) {
    char real[PATH_MAX];
    if (!realpath(dir.c_str(), real)) return;
    const std::string wanted = real;
    for (int round = 0; round < 5; ++round) {
        std::vector<pid_t> found;
        std::error_code ec;
        for (const auto &entry : std::filesystem::directory_iterator("/proc", ec)) {
            const std::string name = entry.path().filename().string();
            if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
            const pid_t pid = static_cast<pid_t>(std::atol(name.c_str()));
            if (pid > 1 && pid != getpid() && WorkingDirectoryOf(pid) == wanted) found.push_back(pid);
        }
        if (found.empty()) return;
        for (pid_t pid : found) kill(pid, SIGKILL);
        for (pid_t pid : found) WaitGone(pid, 3000);
    }
}

// --- a host played by hand ---------------------------------------------------

HandHost::HandHost() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 || listen(fd_, 4) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr *>(&sa), &len) != 0)
        throw std::runtime_error("hand host: no listening socket");
    port_ = ntohs(sa.sin_port);
}

HandHost::~HandHost() {
    Hangup();
    if (fd_ >= 0) close(fd_);
}

bool HandHost::Accept(int timeoutMs) {
    Hangup();
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) != 1) return false;
    conn_ = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    return conn_ >= 0;
}

void HandHost::Send(const Bytes &body) {
    Bytes frame = cat({be32(static_cast<uint32_t>(body.size())), body});
    if (conn_ < 0 || send(conn_, frame.data(), frame.size(), MSG_NOSIGNAL) < 0) {
    }
}

void HandHost::Hangup() {
    if (conn_ >= 0) close(conn_);
    conn_ = -1;
}

std::vector<Bytes> HandHost::Read(int timeoutMs, size_t upTo) {
    std::vector<Bytes> frames;
    std::string pending;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (conn_ >= 0 && frames.size() < upTo) {
        int left = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count());
        pollfd p{conn_, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, left) != 1) break;
        char buf[512];
        ssize_t n = read(conn_, buf, sizeof buf);
        if (n <= 0) break;
        pending.append(buf, static_cast<size_t>(n));
        while (pending.size() >= 4) {
            Bytes len(pending.begin(), pending.begin() + 4);
            uint32_t body = rd32(len, 0);
            if (pending.size() < 4 + body) break;
            frames.emplace_back(pending.begin() + 4, pending.begin() + 4 + body);
            pending.erase(0, 4 + body);
        }
    }
    return frames;
}

std::string InChild(const std::function<std::string()> &body, int timeoutMs) {
    int fds[2];
    if (pipe(fds) != 0) return "child failed: pipe";
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) return "child failed: fork";
    if (pid == 0) {
        close(fds[0]);
        std::string out;
        try {
            out = body();
        } catch (const std::exception &e) {
            out = std::string("child failed: exception ") + e.what();
        } catch (...) {
            out = "child failed: exception";
        }
        size_t done = 0;
        while (done < out.size()) {
            ssize_t w = write(fds[1], out.data() + done, out.size() - done);
            if (w <= 0) break;
            done += static_cast<size_t>(w);
        }
        _exit(0);
    }
    close(fds[1]);
    std::string out;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int left = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count());
        if (left <= 0) {
            kill(pid, SIGKILL);
            out = "child failed: time-out; " + out;
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, left) <= 0) continue;
        char buf[512];
        ssize_t n = read(fds[0], buf, sizeof buf);
        if (n <= 0) break;
        out.append(buf, static_cast<size_t>(n));
    }
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) out = "child failed: status " + std::to_string(status);
    return out;
}

}  // namespace prototest
