// Cleaner pass over the session table: lists the sessions that have been
// idle for the record time-out, and removes the whole table (and its lock
// file) once it has stayed empty for the table time-out.  Each pass first makes sure that
// its lock file is still the one on disk.
#include "ZelSessionTable.h"

#include <csignal>
#include <sys/shm.h>
#include <unistd.h>

#include "gospid.h"
#include "logprint.h"

using namespace sesstbl;

CZelSessionTable::Cleaner::Cleaner(CZelSessionTable *table)
    : m_Lock(table, Lock::CleanerLock, false) {}

Result CZelSessionTable::Cleaner::Run(std::vector<int> &expired) {
    CZelSessionTable *table = GetSessionTable();
    if (!m_Lock.IsLockSuccessful() || !table || !table->IsAttached())
        return Result::SessTblStopCleanerProcess;

    // A lock file deleted or replaced under the running processes: the
    // cleaner moves to the new file (no other lock of this process is held
    // now, so closing the old one loses nothing), unless another cleaner
    // already holds it there.
    if (table->IsLockFileReplaced()) {
        logPrintf("#Cleaner: lock file %s was replaced\n", table->m_strLockFile.c_str());
        m_Lock.Unlock();
        if (table->UseLockFile(table->m_strLockFile, true) != Result::Success || !m_Lock.Relock(false)) {
            logPrintf("#Cleaner: another cleaner holds the new lock file; ending\n");
            return Result::SessTblStopCleanerProcess;
        }
    }

    const int64_t now = static_cast<int64_t>(time(nullptr));
    if (table->GetNumberOfNotEmptyEntries() > 0) {
        for (unsigned i = 0; i < table->m_nRecords; ++i) {
            SessionRecord *rec = table->RecordAt(i);
            const unsigned id = rec->localId;
            if (id == 0) continue;
            if (!IsExpired(WordToTime(rec->lastAccessed), static_cast<time_t>(now), m_nRecordTimeout)) continue;
            try {
                Lock recordLock(table, static_cast<int>(i), 1, false);
                if (!recordLock.IsLockSuccessful()) {
                    // A worker stuck on an expired session must not keep it;
                    // only processes of this table are ever killed.
                    int pid = recordLock.GetLockProcessId();
                    if (pid > 0 && pid != static_cast<int>(gosProcessId()) && table->IsRegisteredProcessID(pid)) {
                        if (logCtrlFlgs & LOG_EVENTS)
                            logPrintf("#Cleaner: killing P%d holding expired session R%X\n", pid, id);
                        kill(pid, SIGKILL);
                    }
                }
            } catch (const Exception &e) {
                logPrintf("#Cleaner: lock test of R%X failed: %d\n", id, ResultCode(e.GetResult()));
            }
            expired.push_back(static_cast<int>(id));
        }
        return Result::Success;
    }

    // Creators attach under the control-block lock: holding it, no process
    // can be half-way into attaching while the count is checked.
    Lock cbLock(table, Lock::ControlBlockLock, true);
    const int64_t lastAccessed = static_cast<int64_t>(table->GetLastAccessed());
    table->CheckProcessIDs();
    struct shmid_ds ds {};
    if (now - lastAccessed >= m_nTableTimeout && shmctl(table->m_nShmId, IPC_STAT, &ds) == 0 &&
        ds.shm_nattch < 2) {
        table->RemoveSegment();
        unlink(m_ShmIdFilePath);
        // The lock file goes with its table, unless a process is using it
        // (one about to attach takes the file anew once it is gone).
        table->RemoveLockFile();
        return Result::SessTblStopCleanerProcess;
    }
    return Result::Success;
}
