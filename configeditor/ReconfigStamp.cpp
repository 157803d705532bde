// Stamping the session table in attach mode.
#include "ReconfigStamp.h"

#include "ZelSessionTable.h"

bool StampReconfiguration(time_t now) {
    // One table object for the process, which keeps its lock file open;
    // the segment itself is let go after each stamp, so that an editor
    // that lives on never keeps an idle table from being removed.
    static CZelSessionTable table;
    const Result r = table.Init(0, 1, 150000);
    if (ResultCode(r) < 0) return false;
    // Past the stamp as it stands: a worker that read the file before this
    // save holds at most that stamp, also when it read it this second.
    table.MoveLastReconfigured(now, true);
    table.Detach();
    return true;
}
