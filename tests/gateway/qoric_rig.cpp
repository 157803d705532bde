// Test installation of the gateway (see qoric_rig.h).
#include "qoric_rig.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "ZelSessionTableLayout.h"
#include "sesstbl/own_key_folder.h"

extern char **environ;

namespace gwtest {

namespace {

using Clock = std::chrono::steady_clock;

std::string slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::vector<char *> cstrings(std::vector<std::string> &v) {
    std::vector<char *> out;
    for (auto &s : v) out.push_back(&s[0]);
    out.push_back(nullptr);
    return out;
}

// The environment of the test with the sanitizers' reports sent to files
// under base, and entries added.
std::vector<std::string> childEnv(const std::string &base, const std::vector<std::string> &extra) {
    std::vector<std::string> env;
    std::string asan = "log_path=" + base + "/asan", ubsan = "log_path=" + base + "/ubsan";
    for (char **e = environ; *e; ++e) {
        std::string entry(*e);
        if (entry.rfind("ASAN_OPTIONS=", 0) == 0) {
            asan = entry.substr(13) + ":" + asan;
            continue;
        }
        if (entry.rfind("UBSAN_OPTIONS=", 0) == 0) {
            ubsan = entry.substr(14) + ":" + ubsan;
            continue;
        }
        if (entry.rfind("QORICCONFPATH=", 0) == 0 || entry.rfind("SCRIPT_FILENAME=", 0) == 0) continue;
        env.push_back(entry);
    }
    env.push_back("ASAN_OPTIONS=" + asan);
    env.push_back("UBSAN_OPTIONS=" + ubsan + ":print_stacktrace=1");
    env.push_back("QORICCONFPATH=" + base + "/conf/qoric.conf");
    for (const auto &x : extra) env.push_back(x);
    return env;
}

bool processGone(pid_t pid) {
    if (pid <= 0) return true;
    if (kill(pid, 0) != 0) return true;
    std::string stat = slurp("/proc/" + std::to_string(pid) + "/stat");
    size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z';
}

void killAndWait(pid_t pid) {
    if (pid <= 0 || processGone(pid)) return;
    kill(pid, SIGKILL);
    for (int i = 0; i < 3000 && !processGone(pid); ++i) sleepMs(10);
}

int tableId(const std::string &workDir) {
    key_t key = ftok(workDir.c_str(), 'j');
    if (key == -1) return -1;
    return shmget(key, 0, 0);
}

}  // namespace

std::string readText(const std::string &path) { return slurp(path); }

std::string qoricBinary() {
    const char *dir = std::getenv("QOR_BINARY_DIR");
    return std::string(dir ? dir : ".") + "/gateway/qoric";
}

std::string sessionIdIn(const std::string &page) {
    size_t at = page.find("SID=[");
    if (at == std::string::npos) return "";
    std::string sid = page.substr(at + 5, 32);
    if (sid.size() != 32 || sid.find_first_not_of("0123456789abcdef") != std::string::npos) return "";
    return sid;
}

QoricRig::QoricRig(const std::vector<std::string> &hostArgs) {
    char tmpl[] = "rig-XXXXXX";
    char *d = mkdtemp(tmpl);
    if (!d) throw std::runtime_error("mkdtemp failed");
    char *abs = realpath(d, nullptr);
    base_ = abs;
    std::free(abs);
    sesstbl::MakeFolderWithOwnKey(workDir());
    for (const char *sub : {"logs", "conf", "htx", "cache"}) mkdir(file(sub).c_str(), 0755);
    if (hostArgs.size() == 1 && hostArgs[0] == "none") return;
    std::vector<std::string> args = hostArgs;
    if (args.empty()) {
        const char *src = std::getenv("QOR_SOURCE_DIR");
        args = {"--locap", "QOR1", "--script",
                std::string(src ? src : ".") + "/testhost/samples/demo.dts"};
    }
    host_ = std::make_unique<hosttest::HostProcess>(base_, args);
}

QoricRig::~QoricRig() {
    stopAll();
    std::system(("rm -rf '" + base_ + "'").c_str());
    if (!sockDir_.empty()) std::system(("rm -rf '" + sockDir_ + "'").c_str());
}

// Every process whose working directory is dir: the workers, the cleaners
// they forked, and old cleaners that went on as workers.
static std::vector<pid_t> processesIn(const std::string &dir) {
    std::vector<pid_t> out;
    DIR *proc = opendir("/proc");
    if (!proc) return out;
    while (dirent *e = readdir(proc)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(e->d_name));
        if (pid <= 0 || pid == getpid()) continue;
        char cwd[4096];
        ssize_t n = readlink(("/proc/" + std::to_string(pid) + "/cwd").c_str(), cwd, sizeof cwd - 1);
        if (n <= 0) continue;
        std::string path(cwd, static_cast<size_t>(n));
        if (path == dir || path == dir + " (deleted)") out.push_back(pid);
    }
    closedir(proc);
    return out;
}

void QoricRig::stopAll() {
    for (pid_t pid : workers_) {
        if (pid <= 0) continue;
        kill(-pid, SIGKILL);
        kill(pid, SIGKILL);
        int st = 0;
        waitpid(pid, &st, 0);
    }
    workers_.clear();
    if (listenFd_ >= 0) close(listenFd_);
    listenFd_ = -1;
    const int32_t cleaner = cleanerPid();
    if (cleaner > 0) killAndWait(cleaner);
    for (pid_t pid : processesIn(workDir())) killAndWait(pid);
    int id = tableId(workDir());
    if (id >= 0) shmctl(id, IPC_RMID, nullptr);
    const key_t key = ftok(workDir().c_str(), sesstbl::kFtokProjectId);
    if (key != -1) unlink(sesstbl::LockFilePath(static_cast<int32_t>(key)).c_str());
    std::string logServer = slurp(file("logs/.pid.qoric.log"));
    if (!logServer.empty()) killAndWait(static_cast<pid_t>(std::atoi(logServer.c_str())));
    host_.reset();
}

void QoricRig::write(const std::string &rel, const std::string &text) const {
    std::ofstream(file(rel), std::ios::binary) << text;
}

void QoricRig::configure(const std::string &extra) {
    write("conf/qoric.conf",
          "<qoric>\n"
          " <LogFile VALUE=\"" + logPath() + "\" OPTIONS=\"h3MPKt\"/>\n"
          " <ThisLocap VALUE=\"WEB1\"/>\n"
          " <Locap NAME=\"QOR1\" ADDRESS=\"127.0.0.1\" PORT=\"" + std::to_string(hostPort()) + "\"/>\n"
          " <Transaction NAME=\"ECHO\" ID=\"ECHO\" LOCAP=\"QOR1\"/>\n"
          " <Transaction NAME=\"DEMO\" ID=\"DEMO\" LOCAP=\"QOR1\"/>\n"
          " <RegularStore VALUE=\"" + file("htx") + "\"/>\n"
          " <Cache VALUE=\"" + file("cache") + "\"/>\n"
          " <InstanceCleanup VALUE=\"3\"/>\n"
          " <SystemCleanup VALUE=\"600\"/>\n"
          " <MaxSessions VALUE=\"64\"/>\n"
          " <AppGroup URL=\"/app/\" NAME=\"APP\"/>\n" +
              extra + "</qoric>\n");
}

void QoricRig::writeTemplates() {
    const std::string common =
        "<p>SID=[\\{SID}] NAME=[\\{mcs.name}] TRX=[\\{pib.transaction}] LOCAP=[\\{pib.locap}] "
        "ERR=[\\{mcs.error}] SIZE=[\\{McsSize}] COUNT=[\\{McsCount}]</p>\n";
    write("htx/echo.htx", common + "<p>HOST=[\\{hostid}] N=[\\{n}] SHOWN=[\\{shown}]</p>\n");
    write("htx/echo.t3i",
          "<records><record type=\"main\">"
          "<field name=\"hostid\" mask=\"X(8)\"/><field name=\"n\" mask=\"X(6)\"/>"
          "<field name=\"typed\" mask=\"X(30)\"/><field name=\"shown\" mask=\"X(30)\"/>"
          "</record></records>\n");
    write("htx/logon.htx", common + "<p>HOST=[\\{hostid}] TEXT=[\\{text}]</p>\n");
    write("htx/logon.t3i",
          "<records><record type=\"main\">"
          "<field name=\"hostid\" mask=\"X(8)\"/><field name=\"user\" mask=\"X(8)\"/>"
          "<field name=\"text\" mask=\"X(40)\"/></record></records>\n");
    write("htx/menu.htx", common + "<p>HOST=[\\{hostid}] N=[\\{n}] TEXT=[\\{text}]</p>\n");
    write("htx/menu.t3i",
          "<records><record type=\"main\">"
          "<field name=\"hostid\" mask=\"X(8)\"/><field name=\"n\" mask=\"X(6)\"/>"
          "<field name=\"choice\" mask=\"X(1)\"/><field name=\"text\" mask=\"X(40)\"/>"
          "</record></records>\n");
    write("htx/detail.htx", common + "<p>HOST=[\\{hostid}] CHOICE=[\\{choice}] TEXT=[\\{text}]</p>\n");
    write("htx/detail.t3i",
          "<records><record type=\"main\">"
          "<field name=\"hostid\" mask=\"X(8)\"/><field name=\"choice\" mask=\"X(1)\"/>"
          "<field name=\"text\" mask=\"X(40)\"/></record></records>\n");
}

std::string QoricRig::listen() {
    if (listenFd_ < 0) {
        // A socket path must stay short (about 100 bytes), wherever the tree lies.
        char sockTmpl[] = "/tmp/qrig-XXXXXX";
        if (sockDir_.empty() && !mkdtemp(sockTmpl)) throw std::runtime_error("mkdtemp failed");
        if (sockDir_.empty()) sockDir_ = sockTmpl;
        listenFd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        const std::string path = socketPath();
        if (path.size() >= sizeof addr.sun_path) throw std::runtime_error("socket path too long");
        std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
        if (listenFd_ < 0 || bind(listenFd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
            ::listen(listenFd_, 16) != 0)
            throw std::runtime_error("cannot listen on " + path);
    }
    return socketPath();
}

pid_t QoricRig::startWorker(const std::vector<std::string> &env, const std::string &program) {
    listen();
    std::vector<std::string> envs = childEnv(base_, env);
    std::vector<std::string> args = {program.empty() ? qoricBinary() : program};
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        if (chdir(workDir().c_str()) != 0) _exit(126);
        dup2(listenFd_, 0);
        int err = open(file("worker.stderr").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (err >= 0) {
            dup2(err, 1);
            dup2(err, 2);
        }
        std::vector<char *> argv = cstrings(args), envp = cstrings(envs);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    if (pid > 0) workers_.push_back(pid);
    return pid;
}

int QoricRig::runQoric(const std::vector<std::string> &args, int timeoutMs) {
    std::vector<std::string> envs = childEnv(base_, {});
    std::vector<std::string> all = {qoricBinary()};
    all.insert(all.end(), args.begin(), args.end());
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(workDir().c_str()) != 0) _exit(126);
        int null = open("/dev/null", O_RDONLY);
        dup2(null, 0);
        int err = open(file("run.stderr").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (err >= 0) {
            dup2(err, 1);
            dup2(err, 2);
        }
        std::vector<char *> argv = cstrings(all), envp = cstrings(envs);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    int st = -2;
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < end) {
        if (waitpid(pid, &st, WNOHANG) == pid) return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        sleepMs(10);
    }
    kill(pid, SIGKILL);
    waitpid(pid, &st, 0);
    return -1;
}

Response QoricRig::request(const RequestOptions &req, int timeoutMs) {
    Response r;
    write("req.body", req.body);
    std::vector<std::string> env = {
        "PATH=/usr/bin:/bin",
        "REQUEST_METHOD=" + req.method,
        "REQUEST_URI=" + req.uri + (req.query.empty() ? "" : "?" + req.query),
        "QUERY_STRING=" + req.query,
        "CONTENT_LENGTH=" + std::to_string(req.body.size()),
        "SCRIPT_NAME=/qoric",
        "REMOTE_ADDR=" + req.remoteAddr,
    };
    if (!req.body.empty()) env.push_back("CONTENT_TYPE=application/x-www-form-urlencoded");
    if (!req.cookie.empty()) env.push_back("HTTP_COOKIE=" + req.cookie);
    env.insert(env.end(), req.env.begin(), req.env.end());
    std::vector<std::string> args = {"/usr/bin/cgi-fcgi", "-bind", "-connect", socketPath()};
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(base_.c_str()) != 0) _exit(126);
        int in = open("req.body", O_RDONLY);
        int out = open("req.out", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open("req.err", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char *> argv = cstrings(args), envp = cstrings(env);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    int st = 0;
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    bool done = false;
    while (Clock::now() < end) {
        if (waitpid(pid, &st, WNOHANG) == pid) {
            done = true;
            break;
        }
        sleepMs(5);
    }
    if (!done) {
        kill(pid, SIGKILL);
        waitpid(pid, &st, 0);
        return r;
    }
    r.raw = slurp(file("req.out"));
    r.ok = WIFEXITED(st) && WEXITSTATUS(st) == 0 && !r.raw.empty();
    size_t split = r.raw.find("\r\n\r\n");
    size_t skip = 4;
    size_t lf = r.raw.find("\n\n");
    if (lf != std::string::npos && (split == std::string::npos || lf < split)) {
        split = lf;
        skip = 2;
    }
    if (split != std::string::npos) {
        r.headers = r.raw.substr(0, split);
        r.body = r.raw.substr(split + skip);
    }
    return r;
}

Response QoricRig::get(const std::string &uri, const std::string &query) {
    RequestOptions s;
    s.uri = uri;
    s.query = query;
    return request(s);
}

Response QoricRig::post(const std::string &uri, const std::string &query, const std::string &body) {
    RequestOptions s;
    s.method = "POST";
    s.uri = uri;
    s.query = query;
    s.body = body;
    return request(s);
}

int QoricRig::waitWorker(pid_t pid, int timeoutMs) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int st = 0;
    while (Clock::now() < end) {
        if (waitpid(pid, &st, WNOHANG) == pid) {
            for (auto &w : workers_)
                if (w == pid) w = -1;
            return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        }
        sleepMs(10);
    }
    return -2;
}

bool QoricRig::alive(pid_t pid) { return !processGone(pid); }

int QoricRig::socketsBesidesZero(pid_t pid) const {
    const std::string dir = "/proc/" + std::to_string(pid) + "/fd";
    DIR *d = opendir(dir.c_str());
    if (!d) return -1;
    int n = 0;
    while (dirent *e = readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == ".." || name == "0") continue;
        char target[256];
        ssize_t len = readlink((dir + "/" + name).c_str(), target, sizeof target - 1);
        if (len > 0 && std::string(target, static_cast<size_t>(len)).rfind("socket:", 0) == 0) ++n;
    }
    closedir(d);
    return n;
}

std::string QoricRig::log() const { return slurp(logPath()); }

bool QoricRig::waitLog(const std::string &needle, int timeoutMs, size_t count) const {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        std::string text = log();
        size_t n = 0;
        for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
        if (n >= count) return true;
        sleepMs(20);
    } while (Clock::now() < end);
    return false;
}

int32_t QoricRig::cleanerPid() const {
    int id = tableId(workDir());
    if (id < 0) return 0;
    void *p = shmat(id, nullptr, SHM_RDONLY);
    if (p == reinterpret_cast<void *>(-1)) return 0;
    int32_t pid = static_cast<const sesstbl::ControlBlock *>(p)->cleanerPid;
    shmdt(p);
    return pid;
}

uint32_t QoricRig::reconfigStamp() const {
    int id = tableId(workDir());
    if (id < 0) return 0;
    void *p = shmat(id, nullptr, SHM_RDONLY);
    if (p == reinterpret_cast<void *>(-1)) return 0;
    uint32_t stamp = static_cast<const sesstbl::ControlBlock *>(p)->lastReconfigured;
    shmdt(p);
    return stamp;
}

bool QoricRig::writeStamp(uint32_t value) const {
    int id = tableId(workDir());
    if (id < 0) return false;
    void *p = shmat(id, nullptr, 0);
    if (p == reinterpret_cast<void *>(-1)) return false;
    static_cast<sesstbl::ControlBlock *>(p)->lastReconfigured = value;
    shmdt(p);
    return true;
}

bool QoricRig::tableExists() const { return tableId(workDir()) >= 0; }

std::string QoricRig::sanitizerReports() const {
    std::string out;
    if (DIR *d = opendir(base_.c_str())) {
        while (dirent *e = readdir(d)) {
            std::string name = e->d_name;
            if (name.rfind("asan.", 0) == 0 || name.rfind("ubsan.", 0) == 0) out += slurp(file(name));
        }
        closedir(d);
    }
    for (const char *f : {"worker.stderr", "run.stderr"}) {
        std::string text = slurp(file(f));
        if (text.find("runtime error") != std::string::npos ||
            text.find("AddressSanitizer") != std::string::npos)
            out += text;
    }
    std::string text = log();
    if (text.find("runtime error:") != std::string::npos || text.find("AddressSanitizer") != std::string::npos)
        out += "(see the log) ";
    return out;
}

}  // namespace gwtest
