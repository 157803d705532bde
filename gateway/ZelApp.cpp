// The request loop and its exits.
#include "ZelApp.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "IcParserIntegrator.h"
#include "logprint.h"
#include "xfcgin.h"

int CZelApp::Run() {
    // Host input between requests is read here (OnSocketInput), so that a
    // whole message taken costs no trouble count and no pause.
    xFcgiCallerReadsSockets(true);
    for (;;) {
        if (!xFcgiRetiring() && m_nMaxRunUsage > 0 && m_nRequests >= m_nMaxRunUsage) {
            if (logCtrlFlgs & LOG_DETAIL) logPrintf("#Hit MaxUsage of %ld\n", m_nMaxRunUsage);
            xFcgiRetire();
        }
        if (xFcgiRetiring()) {
            // The web server may already have handed this worker more
            // connections, which it would answer with its own error if the
            // worker just ended. A fresh run of the program takes over the
            // socket in this process instead, with every connection queued
            // on it. Should that fail, the queued ones are answered here.
            xFcgiFinish();
            if (m_nDrainLeft < 0) {
                StartAfresh();
                m_nDrainLeft = kMaxDrained;
            }
            if (m_nDrainLeft-- == 0 || !xFcgiQueued()) return Retired();
        } else {
            const int n = xFcgiPoll(kPollTimeoutMs);
            if (n < 0) {
                xFcgiFinish();
                return 0;
            }
            if (n != 0 && n != 1) {
                // A host socket has input between requests: a whole
                // message is taken there; anything else is trouble.
                if (!OnSocketInput(n - 1)) xFcgiSocketTrouble(n - 1);
                continue;
            }
        }
        if (!xFcgiAccept()) {
            if (xFcgiRetiring()) return Retired();
            logPrintf("#ZelApp: Error on Accept\n");
            xFcgiFinish();
            return 0;
        }
        ++m_nRequests;
        if (OnBeginRequest() < 0) {
            SendEmptyResponseIfNone();
            xFcgiFinish();
            return 0;
        }
        if (RouteRequest() != Route::InitialPage) {
            OnEndRequest();
            if (!xFcgiRetiring() && !CheckForUpdates()) xFcgiRetire();
        }
        if (!xFcgiRetiring()) {
            // The answer is complete, so a cleaner forked now holds no
            // request of the web server's.
            xFcgiFinish();
            KeepCleanerAlive();
        }
    }
}

void CZelApp::SetStartCommand(const std::string &program, const std::vector<std::string> &args,
                              const std::vector<std::string> &environment) {
    m_strProgram = program;
    m_Args = args;
    m_Environment = environment;
}

void CZelApp::StartAfresh() {
    // Termination asked for by a signal is an end, not a retirement.
    if (bSigTerm) return;
    if (m_strProgram.empty() || m_Args.empty() || ::access(m_strProgram.c_str(), X_OK) != 0) {
        if (logCtrlFlgs & LOG_EVENTS)
            logPrintf("#App: %s cannot be started afresh; P%d ends once what is queued is answered\n",
                      m_strProgram.c_str(), static_cast<int>(::getpid()));
        return;
    }
    // A termination signal that comes from here on stays pending and ends
    // the fresh run at once (it unblocks them first thing).
    sigset_t ends;
    sigemptyset(&ends);
    sigaddset(&ends, SIGTERM);
    sigaddset(&ends, SIGHUP);
    sigprocmask(SIG_BLOCK, &ends, nullptr);
    if (bSigTerm) {
        sigprocmask(SIG_UNBLOCK, &ends, nullptr);
        return;
    }
    if (logCtrlFlgs & LOG_EVENTS)
        logPrintf("#App: P%d retires after %ld requests and starts afresh\n", static_cast<int>(::getpid()),
                  m_nRequests);
    Exit();
    std::fflush(nullptr);
    // Nothing of this run outlives it but the web server's socket
    // (descriptor 0) and the standard output and error.
    ::close_range(3, ~0U, 0);
    std::vector<char *> argv, envp;
    for (std::string &a : m_Args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    for (std::string &e : m_Environment) envp.push_back(&e[0]);
    envp.push_back(nullptr);
    ::execve(m_strProgram.c_str(), argv.data(), envp.data());
    // The log is closed already: the reason goes to standard error.
    std::fprintf(stderr, "#App: %s could not be started afresh, error %d\n", m_strProgram.c_str(), errno);
    ::_exit(0);
}

int CZelApp::Retired() {
    xFcgiFinish();
    if (logCtrlFlgs & LOG_DETAIL) logPrintf("#Retiring after %ld requests\n", m_nRequests);
    return 0;
}

int CZelApp::CheckForUpdates() {
    if (!AutoUpgrade(this)) {
        if (logCtrlFlgs & LOG_EVENTS) logPrintf("#App: binaries updated, terminating old instance\n");
        return 0;
    }
    if (!m_strConfFile.empty() && static_cast<unsigned char>(m_strConfFile[0]) > ' ') {
        const CZelConfigFileVersion now = CZelConfigFileVersion::Of(m_strConfFile);
        if (now.exists && now != m_ConfVersion) {
            m_ConfVersion = now;
            // A fresh run would refuse a file that is broken: this one
            // serves on with the configuration it has instead.
            std::string why;
            if (CIcParserIntegrator::CheckConfigFile(m_strConfFile, why) != 0) {
                logPrintf("#Config: %s was changed but cannot be used (%s); the configuration read before stays in force\n",
                          m_strConfFile.c_str(), why.c_str());
                return 1;
            }
            logPrintf("#Note: %s was updated; Exiting\n", m_strConfFile.c_str());
            return 0;
        }
    }
    return 1;
}

int CZelApp::AutoUpgrade(CZelServerContext *) {
    const char *binary = std::getenv("SCRIPT_FILENAME");
    if (!binary) return 1;
    struct stat st {};
    if (::stat(binary, &st) != 0) {
        if (logCtrlFlgs & LOG_ERRORS) logPrintf("#App: binary %s could not be stat()-ed\n", binary);
        return 1;
    }
    const int32_t t = static_cast<int32_t>(st.st_mtime);
    if (m_nExecTime > 0 && m_nExecTime != t) return 0;
    m_nExecTime = t;
    return 1;
}
