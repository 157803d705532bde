// The request loop and its exits.
#include "ZelApp.h"

#include <sys/stat.h>

#include <cstdlib>

#include "logprint.h"
#include "xfcgin.h"

int CZelApp::Run() {
    for (;;) {
        if (!xFcgiRetiring() && m_nMaxRunUsage > 0 && m_nRequests >= m_nMaxRunUsage) {
            if (logCtrlFlgs & LOG_DETAIL) logPrintf("#Hit MaxUsage of %ld\n", m_nMaxRunUsage);
            xFcgiRetire();
        }
        if (xFcgiRetiring()) {
            // The web server may already have handed this worker more
            // connections: each is answered before the worker ends, else
            // the web server would answer them with its own error.
            xFcgiFinish();
            if (!xFcgiQueued()) {
                if (logCtrlFlgs & LOG_DETAIL) logPrintf("#Retiring after %ld requests\n", m_nRequests);
                return 0;
            }
        } else {
            const int n = xFcgiPoll(kPollTimeoutMs);
            if (n < 0) {
                xFcgiFinish();
                return 0;
            }
            if (n != 0 && n != 1) {
                // A host socket has input between requests.
                OnSocketInput();
                continue;
            }
        }
        if (!xFcgiAccept()) {
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
        if (RouteRequest() == Route::InitialPage) continue;
        OnEndRequest();
        if (!xFcgiRetiring() && !CheckForUpdates()) xFcgiRetire();
    }
}

int CZelApp::CheckForUpdates() {
    if (!AutoUpgrade(this)) {
        if (logCtrlFlgs & LOG_EVENTS) logPrintf("#App: binaries updated, terminating old instance\n");
        return 0;
    }
    if (!m_strConfFile.empty() && static_cast<unsigned char>(m_strConfFile[0]) > ' ') {
        struct stat st {};
        if (::stat(m_strConfFile.c_str(), &st) == 0 && static_cast<int64_t>(st.st_mtime) != m_tConfMod) {
            logPrintf("#Note: %s was updated; Exiting\n", m_strConfFile.c_str());
            m_tConfMod = static_cast<int64_t>(st.st_mtime);
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
