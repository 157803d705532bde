// fuzz-libs: qor_arc
// A pool's page map as any host process may have left it: every walk ends
// and stays inside the pool, whatever the map says.
#include "vmu.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sys/shm.h>

namespace {

constexpr uint32_t kPool = 64 << 10;  // 16 pages

bool setUp()
{
    VmuBoot boot{};
    boot.pool[0] = {'S', kVmuNone, kPool};
    if (setupVmu(true, &boot) != 1)
        std::abort();
    shmctl(static_cast<int>(boot.pool[0].param), IPC_RMID, nullptr);
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool ready = setUp();
    (void)ready;
    if (size < 1)
        return 0;
    pmInit(0, kPool);
    // The first byte chooses whether the header's sizes are kept.
    const size_t from = data[0] & 1 ? 8 : sizeof(PmHeader);
    const size_t room = sizeof(PmHeader) + 16 * sizeof(PmPage) - from;
    const size_t n = size - 1 < room ? size - 1 : room;
    std::memcpy(pmGetMap(0) + from, data + 1, n);

    pmCheck(0);
    uint32_t largest = 0;
    pmAvail(0, &largest);
    pmSnap(0);
    for (uint32_t off = 0; off < kPool; off += 4096) {
        pmRunOf(0, off, nullptr, nullptr);
        pmFree(0, off, nullptr);
    }
    pmAlloc(0, 4096, 1);
    pmAlloc(0, 3 * 4096, 2);
    pmCheck(0);
    return 0;
}
