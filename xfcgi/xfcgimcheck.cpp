// The heap-check report.
#include "xfcgimcheck.h"

#include "goscore.h"
#include "logprint.h"
#include "xfcgiout.h"

#include <cstdint>
#include <execinfo.h>

void memCheckError(enum mcheck_status status) {
    constexpr int kMaxFrames = 16;
    switch (status) {
    case MCHECK_OK: return;
    case MCHECK_DISABLED: logPrintf("#Mcheck Disabled\n"); break;
    case MCHECK_FREE: logPrintf("#Mcheck: Block freed twice\n"); break;
    case MCHECK_HEAD:
    case MCHECK_TAIL: logPrintf("#Mcheck: Block clobbered\n"); break;
    default: break;
    }
    // The calls that led here; the first frame is this function itself.
    void* frames[kMaxFrames];
    const int n = backtrace(frames, kMaxFrames);
    uintptr_t callers[kMaxFrames];
    for (int i = 1; i < n; ++i) callers[i - 1] = reinterpret_cast<uintptr_t>(frames[i]);
    gosLogSourceLines(xFcgiBinaryName(), callers, n > 1 ? n - 1 : 0, true);
    logPrintf("**************************************\n");
}
