// fuzz-libs: qor_arc
// Host message records as another process may send them: a record whose
// sizes agree with its header is read parameter by parameter, and every
// string found must lie inside the record, the local memory or one run of
// the I/O pool.
#include "msgbuf.h"
#include "packmsg.h"
#include "vmu.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sys/shm.h>

namespace {

char s_local[4096];

// An I/O pool of a private segment, removed at once: it goes with the
// process whatever happens.
bool setUp()
{
    VmuBoot boot{};
    boot.pool[kIoPool] = {'S', kVmuNone, 64 << 10};
    if (setupVmu(true, &boot) != 1)
        std::abort();
    shmctl(static_cast<int>(boot.pool[kIoPool].param), IPC_RMID, nullptr);
    pmAlloc(kIoPool, 10000, 1);
    setBaseLvmu(s_local, sizeof s_local);
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool ready = setUp();
    (void)ready;
    qormsg msg{};
    const size_t received = size < sizeof msg - sizeof msg.pri ? size : sizeof msg - sizeof msg.pri;
    std::memcpy(reinterpret_cast<char *>(&msg) + offsetof(qormsg, pid), data, received);
    if (msgExpected(&msg, static_cast<int>(received)) != static_cast<int>(received))
        return 0;
    unsigned sum = 0;
    char text[40];
    for (int i = 1; i <= getNumPrms(&msg) + 1; ++i) {
        const int type = getPrmType(&msg, i);
        if (type == kPrmStr) {
            const char *p = getPrmPtr(&msg, i);
            const int n = getPrmStrsz(&msg, i);
            for (int k = 0; p && k < n; ++k)
                sum += static_cast<unsigned char>(p[k]);
            getPrmStr(&msg, i, text, sizeof text);
            getPrmAdrs(&msg, i);
        } else {
            sum += getPrmChar(&msg, i) + static_cast<unsigned>(getPrmShort(&msg, i)) +
                   static_cast<unsigned>(getPrmInt(&msg, i));
        }
    }
    // Whatever was read, one more parameter fits or is refused cleanly.
    putPrmStr(&msg, "more", -1);
    return sum == 0xFFFFFFFF;
}
