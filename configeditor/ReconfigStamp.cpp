// Stamping the session table in attach mode.
#include "ReconfigStamp.h"

#include "ZelSessionTable.h"

bool StampReconfiguration(time_t now) {
    // One table object for the process: it stays attached once it found a
    // table, instead of attaching again at every save.
    static CZelSessionTable table;
    const Result r = table.Init(0, 1, 150000);
    if (ResultCode(r) < 0) return false;
    table.SetLastReconfigured(now);
    return true;
}
