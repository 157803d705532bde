#include "stack.h"

#include "ZelSessionTableLayout.h"
#include "sesstbl/own_key_folder.h"

#include <signal.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace e2e {

namespace {

// Whether the process waits in poll() for longer than the FastCGI library
// waits for the web server to close a finished request's connection (2 s):
// as an idle worker waits for requests (true when it cannot be told).
bool waitsForRequests(pid_t pid)
{
    std::istringstream call(readFile("/proc/" + std::to_string(pid) + "/syscall"));
    std::string number, fds, count, timeout;
    if (!(call >> number >> fds >> count >> timeout)) return number.empty();
#ifdef SYS_poll
    if (std::strtol(number.c_str(), nullptr, 10) == SYS_poll)
        return static_cast<int>(std::strtoull(timeout.c_str(), nullptr, 16)) > 2000 ||
               static_cast<int>(std::strtoull(timeout.c_str(), nullptr, 16)) < 0;
#endif
    return std::strtol(number.c_str(), nullptr, 10) == SYS_ppoll;
}

std::string replaceAll(std::string s, const std::string& from, const std::string& to)
{
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
    return s;
}

std::string webServerBinary()
{
    for (const char* p : {"/usr/sbin/lighttpd", "/usr/bin/lighttpd", "/usr/local/sbin/lighttpd"})
        if (isExecutable(p)) return p;
    throw std::runtime_error("lighttpd is not installed (apt-get install lighttpd)");
}

// Attaches the session table of a working folder; null when there is none.
struct Segment {
    int id = -1;
    void* at = nullptr;
    size_t size = 0;
    Segment(const std::string& dir, bool write)
    {
        key_t key = ftok(dir.c_str(), sesstbl::kFtokProjectId);
        if (key == -1) return;
        id = shmget(key, 0, 0);
        if (id < 0) return;
        shmid_ds ds{};
        if (shmctl(id, IPC_STAT, &ds) != 0) { id = -1; return; }
        size = ds.shm_segsz;
        void* p = shmat(id, nullptr, write ? 0 : SHM_RDONLY);
        if (p == reinterpret_cast<void*>(-1)) { id = -1; return; }
        at = p;
    }
    ~Segment() { if (at) shmdt(at); }
    Segment(const Segment&) = delete;
    Segment& operator=(const Segment&) = delete;
    bool ok() const { return at && size >= static_cast<size_t>(sesstbl::kControlBlockSize); }
};

}  // namespace

// ---------------------------------------------------------------------------
// Stack

Stack::Stack(StackOptions options) : opt_(std::move(options))
{
    if (opt_.app.empty()) opt_.app = qoricBinary();
    if (!isExecutable(opt_.app)) throw std::runtime_error("FastCGI program not built: " + opt_.app);
    // dtphost is found through QOR_BINARY_DIR, also when run outside ctest.
    setenv("QOR_BINARY_DIR", binaryDir().c_str(), 0);
    char cwd[4096];
    if (!getcwd(cwd, sizeof cwd)) throw std::runtime_error("getcwd failed");
    root_ = makeDir(std::string(cwd) + "/stack-XXXXXX");
    appName_ = "qoric";
    try {
        // FastCGI socket paths must stay short (sun_path), so they live in /tmp.
        sockDir_ = makeDir("/tmp/qe2e-XXXXXX");
        layOut();
        std::string script = opt_.hostScript.empty() ? sourceDir() + "/testhost/samples/demo.dts" : opt_.hostScript;
        std::vector<std::string> args = {"--locap", "QOR1", "--script", script,
                                         "--formats", sourceDir() + "/testhost/samples/formats",
                                         "--lifetime", "600"};
        args.insert(args.end(), opt_.hostArgs.begin(), opt_.hostArgs.end());
        hostArgs_ = args;
        host_ = std::make_unique<hosttest::HostProcess>(root_ + "/host", args);
        hostPort_ = host_->port();
        writeConfig(opt_.configExtra);
        startWebServer();
    } catch (...) {
        tearDown();
        throw;
    }
}

Stack::~Stack() { tearDown(); }

void Stack::tearDown()
{
    if (paused_) resumeHost();
    const std::vector<pid_t> lastWorkers = web_ > 0 ? workers() : std::vector<pid_t>{};
    stopWebServer();
    endLeftovers(lastWorkers);
    // The session table goes with the working folder's key.
    {
        Segment seg(run_, false);
        if (seg.id >= 0) shmctl(seg.id, IPC_RMID, nullptr);
    }
    if (!run_.empty()) {
        key_t key = ftok(run_.c_str(), sesstbl::kFtokProjectId);
        if (key != -1) unlink(sesstbl::LockFilePath(static_cast<int32_t>(key)).c_str());
    }
    if (host_) host_->stop();
    checkReports();
    std::error_code ec;
    if (!sockDir_.empty()) fs::remove_all(sockDir_, ec);
    if (::testing::Test::HasFailure())
        std::fprintf(stderr, "[ e2e ] kept the stack folder %s\n", root_.c_str());
    else
        fs::remove_all(root_, ec);
}

void Stack::layOut()
{
    for (const char* d : {"logs", "conf", "htx", "cache", "host"}) fs::create_directories(root_ + "/" + d);
    // The session table's key comes from the workers' folder.
    run_ = root_ + "/run";
    sesstbl::MakeFolderWithOwnKey(run_);
    for (const auto& e : fs::directory_iterator(sourceDir() + "/demo/htx"))
        fs::copy_file(e.path(), root_ + "/htx/" + e.path().filename().string());
    // A copy, so that tests may touch the executable without touching the build.
    fs::copy_file(opt_.app, appPath());
    if (opt_.editor) {
        if (!isExecutable(qorconfigBinary())) throw std::runtime_error("qorconfig is not built");
        fs::copy_file(qorconfigBinary(), run_ + "/qorconfig");
    }
}

std::string Stack::fill(const std::string& templ) const
{
    std::string routes, apps;
    if (opt_.editor) {
        routes = "\"^/qorconfig(.*)$\" => \"/qorconfig$1\", ";
        apps = "\n    \"/qorconfig\" => ((\n"
               "        \"bin-path\" => \"" + run_ + "/qorconfig\",\n"
               "        \"socket\" => \"" + sockDir_ + "/qorconfig.sock\",\n"
               "        \"max-procs\" => 1,\n"
               "        \"check-local\" => \"disable\",\n"
               "        \"bin-environment\" => ( \"QORICCONFPATH\" => \"" + configPath() + "\" ),\n"
               "    )),";
    }
    std::string s = templ;
    s = replaceAll(s, "@ROUTES@", routes);
    s = replaceAll(s, "@APPS@", apps);
    s = replaceAll(s, "@RUN@", run_);
    s = replaceAll(s, "@ROOT@", root_);
    s = replaceAll(s, "@SOCKDIR@", sockDir_);
    s = replaceAll(s, "@CONF@", configPath());
    s = replaceAll(s, "@MAXPROCS@", std::to_string(opt_.workers));
    s = replaceAll(s, "@PORT@", std::to_string(port_));
    s = replaceAll(s, "@HOSTPORT@", std::to_string(hostPort_));
    return s;
}

void Stack::writeConfig(const std::string& extra)
{
    std::string conf = fill(readFile(sourceDir() + "/demo/qoric.conf.in"));
    writeRawConfig(replaceAll(conf, "@EXTRA@", extra));
}

void Stack::writeRawConfig(const std::string& text)
{
    // Written beside it and renamed, so that no worker ever reads half a file.
    std::string tmp = configPath() + ".new";
    writeText(tmp, text);
    if (std::rename(tmp.c_str(), configPath().c_str()) != 0) throw std::runtime_error("rename of the configuration failed");
}

void Stack::startWebServer()
{
    const std::string bin = webServerBinary();
    const std::string out = root_ + "/logs/lighttpd.out";
    for (int attempt = 0; attempt < 4; ++attempt) {
        port_ = freePort();
        const std::string conf = root_ + "/conf/lighttpd.conf";
        writeText(conf, fill(readFile(sourceDir() + "/demo/lighttpd.conf.in")));
        std::vector<std::string> all = {bin, "-D", "-f", conf};
        std::vector<char*> argv = argvOf(all);
        pid_t pid = fork();
        if (pid < 0) throw std::runtime_error("fork failed");
        if (pid == 0) {
            redirectChild(out);
            for (const std::string& e : opt_.appEnv) putenv(const_cast<char*>(e.c_str()));
            execv(argv[0], argv.data());
            _exit(127);
        }
        web_ = pid;
        for (int waited = 0; waited < 15000; waited += 20) {
            if (portOpen(port_)) return;
            if (waitpid(pid, nullptr, WNOHANG) == pid) break;
            sleepMs(20);
        }
        if (processAlive(pid)) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        web_ = -1;
        if (readFile(out).find("in use") == std::string::npos) break;
    }
    throw std::runtime_error("lighttpd did not start; its output:\n" + readFile(out) +
                             readFile(root_ + "/logs/lighttpd-error.log"));
}

void Stack::stopWebServer()
{
    if (web_ <= 0) return;
    kill(web_, SIGTERM);  // lighttpd ends its FastCGI workers with SIGTERM
    int status = 0;
    for (int waited = 0; waited < 10000; waited += 20) {
        if (waitpid(web_, &status, WNOHANG) == web_) { web_ = -1; return; }
        sleepMs(20);
    }
    kill(web_, SIGKILL);
    waitpid(web_, &status, 0);
    web_ = -1;
}

// What outlives the web server in the workers' folder: the gateway's
// cleaners (a cleaner turned worker too) and its log server.
void Stack::endLeftovers(const std::vector<pid_t>& lastWorkers)
{
    if (run_.empty()) return;  // nothing was started
    // Workers end on the web server's SIGTERM; what they write at exit (a
    // sanitizer report) still goes through the log server.
    for (pid_t p : lastWorkers) waitGone(p, 3000);
    auto inRun = [this]() {
        std::vector<pid_t> pids;
        for (const ProcInfo& p : allProcesses())
            if (p.pid != getpid() && linkOf(p.pid, "cwd") == run_) pids.push_back(p.pid);
        return pids;
    };
    const pid_t logServer = std::atoi(readFile(root_ + "/logs/.pid.qoric.log").c_str());
    for (pid_t p : inRun())
        if (p != logServer) kill(p, SIGKILL);
    for (pid_t p : inRun())
        if (p != logServer) waitGone(p, 10000);
    // The log server empties its FIFO into the log, then goes.
    if (logServer > 0 && processAlive(logServer) && linkOf(logServer, "cwd") == run_) {
        waitFifoEmpty(root_ + "/logs/.fifo.qoric.log", 10000);
        kill(logServer, SIGTERM);
        if (!waitGone(logServer, 10000)) kill(logServer, SIGKILL);
    }
    for (pid_t p : inRun()) {
        kill(p, SIGKILL);
        waitGone(p, 10000);
    }
}

void Stack::checkReports()
{
    static const char* const marks[] = {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:"};
    for (const std::string& file : {root_ + "/logs/qoric.log", root_ + "/logs/lighttpd.out",
                                    root_ + "/logs/lighttpd-error.log", root_ + "/logs/gateway.out",
                                    root_ + "/host/host.err"}) {
        std::string text = readFile(file);
        for (const char* m : marks) {
            size_t at = text.find(m);
            if (at != std::string::npos)
                ADD_FAILURE() << "sanitizer report in " << file << ":\n"
                              << text.substr(at > 200 ? at - 200 : 0, 3000);
        }
    }
}

HttpResponse Stack::get(const std::string& target, const HeaderList& headers)
{
    return httpRequest(port_, "GET", target, "", headers);
}

HttpResponse Stack::post(const std::string& target, const std::string& body, const HeaderList& headers)
{
    return httpRequest(port_, "POST", target, body, headers);
}

std::string Stack::gatewayLog() const { return readFile(root_ + "/logs/qoric.log"); }

std::string Stack::webServerLog() const
{
    return readFile(root_ + "/logs/lighttpd-error.log") + readFile(root_ + "/logs/lighttpd.out");
}

std::vector<pid_t> Stack::workers() const
{
    std::vector<pid_t> out;
    const std::string exe = realPath(appPath());
    for (const ProcInfo& p : allProcesses())
        if (p.ppid == web_ && linkOf(p.pid, "exe") == exe) out.push_back(p.pid);
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<pid_t> Stack::cleaners() const
{
    std::vector<pid_t> out;
    const std::string exe = realPath(appPath());
    const pid_t logServer = std::atoi(readFile(root_ + "/logs/.pid.qoric.log").c_str());
    for (const ProcInfo& p : allProcesses())
        if (p.ppid != web_ && p.pid != logServer && linkOf(p.pid, "exe") == exe && linkOf(p.pid, "cwd") == run_)
            out.push_back(p.pid);
    return out;
}

pid_t Stack::waitForCleaner(int timeoutMs) const
{
    for (int waited = 0; waited <= timeoutMs; waited += 20) {
        const pid_t cleaner = table().cleanerPid;
        if (processAlive(cleaner) && cleaners() == std::vector<pid_t>{cleaner}) return cleaner;
        sleepMs(20);
    }
    return 0;
}

void Stack::killCleaners()
{
    // A worker looks for a cleaner after each page it sends: once every
    // worker waits for requests again, none starts one in place of those
    // killed here before its next request.
    for (int waited = 0; waited <= 30000; waited += 20) {
        const std::vector<pid_t> w = workers();
        if (std::all_of(w.begin(), w.end(), waitsForRequests)) break;
        sleepMs(20);
    }
    waitForCleaner();
    for (pid_t p : cleaners()) kill(p, SIGKILL);
    for (pid_t p : cleaners()) waitGone(p, 30000);
}

bool Stack::waitForWorkers(size_t n, int timeoutMs) const
{
    for (int waited = 0; waited <= timeoutMs; waited += 20) {
        if (workers().size() == n) return true;
        sleepMs(20);
    }
    return false;
}

TableView Stack::table() const
{
    TableView v;
    Segment seg(run_, false);
    if (!seg.ok()) return v;
    const auto* cb = static_cast<const sesstbl::ControlBlock*>(seg.at);
    v.present = cb->marker == sesstbl::kMarker;
    v.lastReconfigured = cb->lastReconfigured;
    v.cleanerPid = cb->cleanerPid;
    for (int32_t p : cb->registry)
        if (p) v.registry.push_back(p);
    const uint32_t n = sesstbl::RecordsInSegment(seg.size);
    const auto* recs = reinterpret_cast<const sesstbl::SessionRecord*>(
        static_cast<const char*>(seg.at) + sesstbl::kControlBlockSize);
    for (uint32_t i = 0; i < n; ++i) {
        const sesstbl::SessionRecord& r = recs[i];
        if (!r.localId) continue;
        char guid[40];
        std::snprintf(guid, sizeof guid, "%08x%08x%08x%08x", r.guid[0], r.guid[1], r.guid[2], r.guid[3]);
        std::string locap(r.locap, sesstbl::kLocapSize);
        while (!locap.empty() && (locap.back() == ' ' || locap.back() == '\0')) locap.pop_back();
        v.records.push_back({r.localId, r.dtpId, r.lastAccessed, r.pidPool, locap, guid, r.flags, r.lastPid});
    }
    return v;
}

void Stack::setReconfigured(uint32_t stamp) const
{
    Segment seg(run_, true);
    if (!seg.ok()) throw std::runtime_error("no session table in " + run_);
    static_cast<sesstbl::ControlBlock*>(seg.at)->lastReconfigured = stamp;
}

void Stack::pauseHost()
{
    if (host_ && host_->pid() > 0) kill(host_->pid(), SIGSTOP);
    paused_ = true;
}

void Stack::resumeHost()
{
    if (host_ && host_->pid() > 0) kill(host_->pid(), SIGCONT);
    paused_ = false;
}

void Stack::stopHost()
{
    if (paused_) resumeHost();
    if (host_) host_->stop();
}

void Stack::startHost()
{
    std::vector<std::string> args = hostArgs_;
    args.insert(args.end(), {"--port", std::to_string(hostPort_)});
    // The old host's port may take a moment to be free again.
    for (int attempt = 0;; ++attempt) {
        try {
            host_ = std::make_unique<hosttest::HostProcess>(root_ + "/host", args);
            return;
        } catch (const std::exception&) {
            if (attempt >= 20) throw;
            sleepMs(100);
        }
    }
}

int Stack::runGateway(const std::vector<std::string>& args) const
{
    std::vector<std::string> all = {appPath()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv = argvOf(all);
    const std::string conf = "QORICCONFPATH=" + configPath();
    const std::string out = root_ + "/logs/gateway.out";
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        if (chdir(run_.c_str()) != 0) _exit(126);
        redirectChild(out);
        putenv(const_cast<char*>(conf.c_str()));
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    for (int waited = 0; waited < 30000; waited += 20) {
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        sleepMs(20);
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}


}  // namespace e2e
