// The cleaner process: its loop, and closing one expired session on its
// host. See ZelCleaner.h.
#include "ZelCleaner.h"

#include <fcntl.h>

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <vector>

#include "ZelConfigParser.h"
#include "ZelDtpProtocol.h"
#include "ZelSocketTransport.h"
#include "gossig.h"
#include "logprint.h"
#include "xfcgin.h"

namespace {

// How long a worker that forked a cleaner waits for it to let go of the web
// server's socket.
constexpr int kReleaseWaitMs = 2000;

bool ModificationTime(const std::string &path, time_t &out) {
    struct stat st {};
    if (path.empty() || stat(path.c_str(), &st) != 0) return false;
    out = st.st_mtime;
    return true;
}

// Sleeps the whole time, also when a signal interrupts the sleep. The
// cleaner does not look at the worker's termination flag: it may be
// inherited from the worker that forked it, and the socket layer sets it
// when a host ends a connection, which must not end the cleaning.
void SleepSeconds(unsigned seconds) {
    while (seconds > 0) seconds = sleep(seconds);
}

}  // namespace

bool CZelDtpProtocol::IsCleanerMissing() {
    if (!m_SessionTable.IsAttached()) return false;
    try {
        return m_SessionTable.CheckCleanerProcessRunning() == Result::SessTblNoCleanerProcess;
    } catch (const CZelSessionTable::Exception &e) {
        logPrintf("#Cleaner: Session Table exception %d\n", ResultCode(e.GetResult()));
        return false;
    }
}

int CZelDtpProtocol::RunCleanerLoop(int recordTimeout, int systemTimeout, const CZelLocapTable &locaps,
                                    time_t configTime, const std::string &configPath, CZelCleanerStart start) {
    try {
        if (m_SessionTable.CheckCleanerProcessRunning() != Result::SessTblNoCleanerProcess) return 1;
        // Nobody else is alive: every session left in the table is stale.
        if (start == CZelCleanerStart::Fresh && m_SessionTable.CheckProcessIDs() == 1) m_SessionTable.ExpireAll();
    } catch (const CZelSessionTable::Exception &e) {
        logPrintf("#Cleaner: Session Table exception %d\n", ResultCode(e.GetResult()));
        return 1;
    }
    qorsetsig(SIGCHLD, SIG_IGN);
    logForceFlush();
    std::fflush(nullptr);
    // A worker that has served a request handles SIGTERM and SIGHUP by only
    // noting them while it is busy, and the cleaner never looks at that
    // note. The cleaner ends on them as a process that set up no handling
    // does: held across the fork, they are set back to their default action
    // in the child before one sent to it can arrive.
    sigset_t ends, before;
    sigemptyset(&ends);
    sigaddset(&ends, SIGTERM);
    sigaddset(&ends, SIGHUP);
    sigprocmask(SIG_BLOCK, &ends, &before);
    // The web server's socket on descriptor 0 stays the workers': while the
    // cleaner still held it, the web server would take a retired worker's
    // socket for one in use and not replace the worker. The parent returns
    // once the child has let go of it (or after a time limit), so that a
    // worker ending right after the fork leaves no copy behind.
    int released[2];
    const bool handshake = pipe2(released, O_CLOEXEC) == 0;
    const pid_t pid = fork();
    if (pid != 0) {
        sigprocmask(SIG_SETMASK, &before, nullptr);
        if (pid < 0) logPrintf("#Cleaner: fork failed, error %d\n", errno);
        if (handshake) {
            ::close(released[1]);
            pollfd end{released[0], POLLIN, 0};
            if (pid > 0) ::poll(&end, 1, kReleaseWaitMs);   // the child's end closed: POLLHUP
            ::close(released[0]);
        }
        return 1;
    }
    const int devNull = ::open("/dev/null", O_RDWR);
    if (devNull > 0) {
        ::dup2(devNull, 0);
        ::close(devNull);
    }
    if (handshake) {
        ::close(released[0]);
        ::close(released[1]);
    }
    qorsetsig(SIGTERM, SIG_DFL);
    qorsetsig(SIGHUP, SIG_DFL);
    bSigReady = 0;
    sigprocmask(SIG_SETMASK, &before, nullptr);

    // The cleaner: the parent's connections stay the parent's.
    DropInheritedConnections();
    // A termination asked of the worker is not the cleaner's: its host
    // waits end at their deadlines only.
    bSigTerm = 0;
    ResetBuffers();
    logReOpen();
    const CZelCleanerTimeouts t = CZelCleanerTimeouts::From(recordTimeout, systemTimeout);
    if (logCtrlFlgs & LOG_EVENTS)
        logPrintf("#Cleaner process started, P%d; timeout %d; expiry %d\n", static_cast<int>(getpid()),
                  recordTimeout, systemTimeout);
    if (t.adjusted && (logCtrlFlgs & LOG_EVENTS))
        logPrintf("#Cleaner Adjusted values: timeout %u; expiry %u\n", t.record, t.table);

    int result = 0;
    try {
        CZelSessionTable::Cleaner cleaner(&m_SessionTable);
        // Two workers may both have found no cleaner and forked; only the
        // one that holds the cleaner lock goes on, the other ends at once.
        if (!cleaner.IsLockSuccessful()) {
            if (logCtrlFlgs & LOG_EVENTS)
                logPrintf("#Cleaner P%d: another cleaner holds the lock; ending\n", static_cast<int>(getpid()));
            return 0;
        }
        cleaner.SetRecordTimeout(t.record);
        cleaner.SetTableTimeout(t.table);
        time_t kept = 0;
        bool haveKept = ModificationTime(configPath, kept);
        m_SessionTable.SetCleanerPid();
        std::vector<int> killed;
        for (unsigned wakeups = 0;; ++wakeups) {
            if (wakeups > 0 || start == CZelCleanerStart::Fresh) SleepSeconds(t.wake);
            time_t now = 0;
            if (ModificationTime(configPath, now) && (!haveKept || now != kept)) {
                if (logCtrlFlgs & LOG_EVENTS) logPrintf("#Cleaner DTP: %s changed\n", configPath.c_str());
                result = 2;
                break;
            }
            if (!IsReconfigured(configTime)) {
                if (logCtrlFlgs & LOG_EVENTS) logPrintf("#Cleaner DTP: reconfiguration stamp moved\n");
                result = 2;
                break;
            }
            if (wakeups % CZelCleanerTimeouts::kWakeLogInterval == 0 && (logCtrlFlgs & LOG_DETAIL))
                logPrintf("#Cleaner DTP: wake up and check state\n");
            Result r = Result::Success;
            try {
                r = cleaner.Run(killed);
            } catch (const CZelSessionTable::Exception &e) {
                logPrintf("#Cleaner: Session Table exception %d\n", ResultCode(e.GetResult()));
            }
            for (int id : killed) {
                if (logCtrlFlgs & LOG_EVENTS) logPrintf("#Cleaner DTP: closing killed session R%X\n", id);
                CloseExpiredSession(static_cast<int>(t.record), static_cast<unsigned>(id), locaps);
            }
            killed.clear();
            if (r == Result::SessTblStopCleanerProcess) {
                if (logCtrlFlgs & LOG_EVENTS) logPrintf("#Cleaner DTP: terminating now");
                result = 0;
                break;
            }
        }
    } catch (const CZelSessionTable::Exception &e) {
        logPrintf("#Cleaner: Session Table exception %d\n", ResultCode(e.GetResult()));
        result = 0;
    }
    return result;
}

void CZelDtpProtocol::CloseExpiredSession(int recordTimeout, unsigned id, const CZelLocapTable &locaps) {
    if (id == 0) return;
    try {
        RecordPtr rec;
        Result r = m_SessionTable.Get(id, rec, false, false);
        if (IsError(r) || !rec) {
            if (logCtrlFlgs & LOG_DETAIL) logPrintf("#Cleaner DTP: Not OK GET R%X record\n", id);
            return;
        }
        if (!rec->IsLockSuccessful()) {
            if (logCtrlFlgs & LOG_DETAIL) logPrintf("#Cleaner DTP: record R%X unable to lock\n", id);
            return;
        }
        if (logCtrlFlgs & LOG_DETAIL) logPrintf("#Cleaner DTP: record R%X locked\n", id);
        const time_t seen = rec->GetLastAccessed();
        // Still expired by the rule the pass listed it by.
        if (!CZelSessionTable::IsExpired(seen, time(nullptr), static_cast<unsigned>(recordTimeout))) return;
        if (logCtrlFlgs & LOG_DETAIL) logPrintf("#Cleaner DTP: record still expired\n");
        CZelName name(kLocapWidth);
        rec->GetLocap(name);
        const std::string locap = TrimmedLocap(name);
        if (!locap.empty()) {
            if (logCtrlFlgs & LOG_DETAIL) logPrintf("#Cleaner DTP: open locap %s\n", locap.c_str());
            if (const CZelLocapInfo *info = locaps.Find(locap)) {
                rec.reset();
                CloseOnHost(id, locap, info->m_strAddress, info->m_nPort, seen);
                return;
            }
        }
        // No host to tell: the record simply goes.
        if (logCtrlFlgs & LOG_DETAIL) logPrintf("#Cleaner DTP: removing R%X without host traffic\n", id);
        rec->Remove();
    } catch (CZelPktException *e) {
        logPrintf("#Cleaner: DTP packet exception %d\n", e ? static_cast<int>(e->GetErrorCode()) : 0);
        delete e;
    } catch (const CZelSessionTable::Exception &e) {
        logPrintf("#Cleaner: Session Table exception %d\n", ResultCode(e.GetResult()));
    } catch (...) {
        logPrintf("#Cleaner: unexpected exception closing R%X\n", id);
    }
}

void CZelDtpProtocol::CloseOnHost(unsigned id, const std::string &locap, const std::string &address, int port,
                                  time_t seen) {
    // This process's own connection; a new one is greeted, no OPEN is sent
    // (the session exists on the host).
    if (logCtrlFlgs & LOG_DETAIL) logPrintf("#DTP: Open session R%X to locap %s\n", id, locap.c_str());
    BeginExchange();
    CZelSocketTransport *conn =
        CheckConnection(locap, address, port) == Result::Success ? FindConnection(locap) : nullptr;
    Result r = Result::Success;
    if (!conn) {
        m_strTargetLocap = locap;
        r = Connect(locap, address, port, id, nullptr, conn);
        m_strTargetLocap.clear();
    }
    // A worker may have used the session meanwhile: its access time, read
    // without refreshing it, must still be the one found expired.
    RecordPtr rec;
    Result g = m_SessionTable.Get(id, rec, false, false);
    if (IsError(g) || !rec) {
        if (logCtrlFlgs & LOG_DETAIL) logPrintf("#Cleaner DTP: record R%X is gone\n", id);
        return;
    }
    if (!rec->IsLockSuccessful() || rec->GetLastAccessed() != seen) {
        if (logCtrlFlgs & LOG_DETAIL) logPrintf("#Cleaner DTP: session R%X was used meanwhile; left open\n", id);
        return;
    }
    if (r != Result::Success) {
        // The host cannot be reached: the session ends here as well.
        CloseSessionImpl(id, r == Result::CommClosed, true, false);
        return;
    }
    r = CloseSessionImpl(id, false, false, false);
    if (r != Result::Success) {
        if (logCtrlFlgs & LOG_ERRORS)
            logPrintf("Cleaner DTP: first close failed with error %d, next attempt should fix it.\n", ResultCode(r));
        // A later pass tries again.
        if (rec->GetLastAccessed() != seen) rec->SetLastAccessed(seen);
    }
}
