// Server context: start-up and reload (Init), the cleaner's start and
// hand-over, the request hooks and shut-down.
#include "ZelServerContext.h"

#include <netinet/in.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "IcParserIntegrator.h"
#include "goscore.h"
#include "logprint.h"
#include "xfcgihtml.h"
#include "xfcgin.h"
#include "xfcgiout.h"

namespace {

// Set while a request is being served: a process forked then (a cleaner
// started by a reload, a log server) must leave that request to its parent.
volatile sig_atomic_t s_bRequestOpen = 0;

// Whether two socket addresses name the same listening place: the path of
// a local socket, the port of an internet socket.
bool SamePlace(const sockaddr_storage &a, socklen_t alen, const sockaddr_storage &b, socklen_t blen) {
    if (a.ss_family != b.ss_family) return false;
    switch (a.ss_family) {
    case AF_UNIX:
        return alen == blen && std::memcmp(&a, &b, alen) == 0;
    case AF_INET:
        return reinterpret_cast<const sockaddr_in &>(a).sin_port ==
               reinterpret_cast<const sockaddr_in &>(b).sin_port;
    case AF_INET6:
        return reinterpret_cast<const sockaddr_in6 &>(a).sin6_port ==
               reinterpret_cast<const sockaddr_in6 &>(b).sin6_port;
    default:
        return false;
    }
}

// In the child of a fork made while a request was open: closes the web
// server's connection of that request (a connection accepted on the
// FastCGI socket, descriptor 0) without a word on it, and leaves the
// request state, so nothing in this process can answer or finish it.
void DropInheritedRequest() {
    if (!s_bRequestOpen) return;
    s_bRequestOpen = 0;
    bActive = 0;
    sockaddr_storage listener {};
    socklen_t listenerLen = sizeof listener;
    if (::getsockname(0, reinterpret_cast<sockaddr *>(&listener), &listenerLen) != 0) return;
    const long maxFd = ::sysconf(_SC_OPEN_MAX);
    for (int fd = 1; fd < (maxFd > 0 && maxFd < 65536 ? maxFd : 1024); ++fd) {
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode)) continue;
        sockaddr_storage local {}, peer {};
        socklen_t localLen = sizeof local, peerLen = sizeof peer;
        if (::getsockname(fd, reinterpret_cast<sockaddr *>(&local), &localLen) != 0) continue;
        if (!SamePlace(local, localLen, listener, listenerLen)) continue;
        if (::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &peerLen) != 0) continue;
        ::close(fd);
    }
}

void InstallForkHook() {
    static const bool installed = ::pthread_atfork(nullptr, nullptr, DropInheritedRequest) == 0;
    (void)installed;
}

constexpr const char *kBuildDate = "Mar 12 2017";

// Modification time of a file in whole seconds, or -1.
int64_t FileTime(const std::string &path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return -1;
    return static_cast<int64_t>(st.st_mtime);
}

// The shared stamp and the process's own time are 32-bit seconds.
int32_t Time32(int64_t t) { return static_cast<int32_t>(t); }

}  // namespace

CZelConfigFileVersion CZelConfigFileVersion::Of(const std::string &path) {
    CZelConfigFileVersion v;
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return v;
    v.exists = true;
    v.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    v.size = static_cast<int64_t>(st.st_size);
    v.dev = static_cast<uint64_t>(st.st_dev);
    v.ino = static_cast<uint64_t>(st.st_ino);
    return v;
}

int CZelServerContext::ReadConfiguration(const std::string &path) {
    // Read whole or not at all: the settings after a fault would silently
    // be missing, and a reload must not lose the configuration in force.
    CIcParserIntegrator reader(this);
    return ResultCode(reader.ReadWholeConfigFile(path));
}

// When a process reloads. A save moves the shared stamp past every stamp a
// process may hold (the editor and "-reconf" write at least the stamp plus
// one second, nothing ever moves it back), and a process's configuration
// time is the stamp as it stood just before it read the file. So a process
// reloads at its next request after every save, however close two saves
// are, and once: after the reload its time is level with the stamp again.
int CZelServerContext::Init(bool reconfigure) {
    struct rlimit core {};
    core.rlim_cur = core.rlim_max = static_cast<rlim_t>(kCoreLimit);
    ::setrlimit(RLIMIT_CORE, &core);

    // The path is taken from the process's own environment once: during a
    // request the environment is the request's, which does not carry it.
    if (m_strConfFile.empty()) {
        const char *env = std::getenv("QORICCONFPATH");
        m_strConfFile = env && *env ? env : kDefaultConfigPath;
    }
    const std::string path = m_strConfFile;

    time_t stampBefore = 0;
    const bool stampKnown = m_Conversation.GetReconfigureTimestamp(stampBefore);
    const CZelConfigFileVersion version = CZelConfigFileVersion::Of(path);
    const int status = ReadConfiguration(path);
    if (status != 0 && m_bConfigLoaded) {
        // A reload of a file that is broken or cannot be read: the process
        // serves on with the configuration it has, until the file changes
        // again or the next save.
        logPrintf("#Config: reload of %s refused (status %d); the configuration read before stays in force\n",
                  path.c_str(), status);
        m_ConfVersion = version;
        if (stampKnown) m_nOwnConfigTime = Time32(stampBefore);
        return 0;
    }
    if (status != 0) {
        static const char kHint[] =
            "#The configuration file is the one QORICCONFPATH names (default %s);"
            " see \"Configuring the gateway\" in README.md\n";
        logPrintf("#Status %d parsing %s\n", status, path.c_str());
        logPrintf(kHint, kDefaultConfigPath);
        // At the first start-up there is no log yet: say it where the web
        // server (or whoever started the program by hand) can see it.
        if (!(logCtrlFlgs & LOG_OPEN)) {
            std::fprintf(stderr, "#Status %d parsing %s\n", status, path.c_str());
            std::fprintf(stderr, kHint, kDefaultConfigPath);
        }
        return status;
    }
    m_bConfigLoaded = true;
    m_ConfVersion = version;
    return InitLogAndDtp(reconfigure, version, stampKnown, stampBefore);
}

void CZelServerContext::OpenLog() {
    std::string options = GetLogOptions() + "hP";
    if (IsTraceComEnabled()) options += 'S';
    logOptions(options.c_str());
    if (FILE *log = logOpen(GetLogFile().c_str(), 0)) ::dup2(fileno(log), STDERR_FILENO);
    logOptions("F");
    if (const char *name = logGetFname())
        gosCoreExtra(gosCoreCopyCommand(name).c_str(), true);
}

int CZelServerContext::InitLogAndDtp(bool reconfigure, const CZelConfigFileVersion &version, bool stampKnown,
                                     time_t stampBefore) {
    OpenLog();

    m_nMaxRunUsage = GetMaxUsage();

    if (GetTransactionTable().IsEmpty()) {
        logPrintf("#No Transactions defined in qoric.conf\n");
        return -1;
    }
    if (GetLocapTable().IsEmpty()) {
        logPrintf("#No LOCAPS defined in qoric.conf\n");
        return -1;
    }
    if (logCtrlFlgs & LOG_EVENTS)
        logPrintf("#QOR/ic version 2.2 %s Init for P%d\n", kBuildDate, static_cast<int>(::getpid()));

    Result r = m_Conversation.InitDtp(GetCacheStore(), GetAdditionalHtx(), GetStyleSheetHtml(),
                                      GetPidPoolLow(), GetPidPoolHigh(), GetMaxSessions(),
                                      GetFccModsLevel());
    if (IsError(r)) {
        logError("#App: failed to initialize DTP, error %d\n", ResultCode(r));
        return ResultCode(r);
    }

    if (stampKnown) {
        m_nOwnConfigTime = Time32(stampBefore);
    } else {
        // At start-up the table is joined only after the read: a file
        // changed meanwhile makes the first request reload.
        time_t stamp = 0;
        m_Conversation.GetReconfigureTimestamp(stamp);
        m_nOwnConfigTime = Time32(stamp);
        if (CZelConfigFileVersion::Of(m_strConfFile) != version) --m_nOwnConfigTime;
    }
    if (reconfigure)
        m_nOwnConfigTime = Time32(m_Conversation.SetReconfigureTimestamp(
            static_cast<time_t>(version.mtimeNs / 1000000000), true));

    const int x = CIcParserIntegrator::InitXFcgi();
    if (x < 0) {
        logError("#App: failed to initialize FastCGI, error %d\n", x);
        return x;
    }

    // Pages declare the host's character set, so that browsers send form
    // input in it (one byte per character).
    xFcgiSetCharset(GetCharacterSet().c_str());
    m_Conversation.SetCharacterSet(GetCharacterSet());
    m_Conversation.SetThisLocap(GetThisLocap());
    m_Conversation.SetInstanceTimeout(GetInstanceTimeout());
    m_Conversation.SetSystemTimeout(GetSystemTimeout());
    CIcParserIntegrator::SetRegularStorePath(GetRegularStore());
    CIcParserIntegrator::SetCachePath(GetCacheStore());

    if (!m_bCleanerLoop) return StartCleaner();
    return x;
}

void CZelServerContext::KeepCleanerAlive() {
    const time_t now = std::time(nullptr);
    if (now == m_tLastCleanerCheck || m_bCleanerLoop || !m_bConfigLoaded) return;
    m_tLastCleanerCheck = now;
    if (!m_Conversation.IsCleanerMissing()) return;
    if (logCtrlFlgs & LOG_EVENTS)
        logPrintf("#App: no cleaner runs; P%d starts one\n", static_cast<int>(::getpid()));
    StartCleaner(CZelCleanerStart::Replacement);
}

int CZelServerContext::StartCleaner(CZelCleanerStart start) {
    m_bCleanerLoop = true;
    int r = m_Conversation.RunCleanerProcessLoop(GetLocapTable(), m_nOwnConfigTime, m_strConfFile, start);
    if (r == 1) {
        // The worker that forked (or found) the cleaner goes on serving.
        m_bCleanerLoop = false;
        return 0;
    }
    // This is the forked cleaner and its loop has ended.
    if (m_bInRequest) m_bForkedInRequest = true;
    while (r == 2) {
        // The configuration changed: take it up and hand the cleaning over
        // to a fresh cleaner. A file changed by hand moves the stamp to its
        // time, so that the workers reload too.
        const int64_t fileTime = FileTime(m_strConfFile);
        if (fileTime > 0) m_Conversation.SetReconfigureTimestamp(static_cast<time_t>(fileTime));
        if (Init(false) < 0) break;
        r = m_Conversation.RunCleanerProcessLoop(GetLocapTable(), m_nOwnConfigTime, m_strConfFile);
    }
    m_bCleanerLoop = false;
    // A cleaner never serves requests: the web server gave it no socket of
    // its own (its descriptor 0 is /dev/null), and a process manager that
    // gives each worker its own socket would wait for ever for a retired
    // worker's socket to be free while a cleaner held it.  So once its work
    // is handed over or done it ends instead of going on as a worker.
    if (m_bForkedInRequest) EndCleanerForkedInRequest(0);
    if (logCtrlFlgs & LOG_EVENTS)
        logPrintf("#Cleaner P%d ends\n", static_cast<int>(::getpid()));
    Exit();
    ::_exit(0);
}

void CZelServerContext::EndCleanerForkedInRequest(int status) {
    // The parent answers its request; this copy of it must not: no output,
    // no FastCGI finish, no way back into the request path.
    if (logCtrlFlgs & LOG_EVENTS)
        logPrintf("#Cleaner P%d was started during a request; ending with %d\n",
                  static_cast<int>(::getpid()), status);
    Exit();
    ::_exit(status);
}

void CZelServerContext::Exit() {
    m_Conversation.ExitDtp();
    CIcParserIntegrator::ExitXFcgi();
    logClose();
}

void CZelServerContext::ClearRequestStrings() {
    m_strTransaction.clear();
    m_strLocap.clear();
    m_strSessionId.clear();
    m_strCdaText.clear();
}

int CZelServerContext::OnBeginRequest() {
    InstallForkHook();
    m_bInRequest = true;
    s_bRequestOpen = 1;
    m_bResponseSent = false;
    if (!m_Conversation.IsReconfigured(m_nOwnConfigTime)) {
        int r = Init(false);
        if (r < 0) return r;
    } else if (logOpenFailed()) {
        // A log that could not be opened (its folder missing or not
        // writable for a while) is tried again, so the worker does not run
        // blind until it is restarted.
        OpenLog();
    }
    ClearRequestStrings();
    xFcgiSetEnvVars();
    CIcParserIntegrator::BeginRequest();
    return 0;
}

void CZelServerContext::OnEndRequest() {
    CIcParserIntegrator::EndRequest();
    m_Conversation.Reset();
    ClearRequestStrings();
    m_bInRequest = false;
    s_bRequestOpen = 0;
    m_bResponseSent = false;
}

bool CZelServerContext::OnSocketInput(int fd) { return m_Conversation.CheckSocket(fd); }
