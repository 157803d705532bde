// The host pools: the allocator over a real segment shared by two
// processes, damaged maps, the page-map listing, descriptors, mapped files.
#include "hostmsg/ipc_util.h"
#include "qorfiles.h"
#include "vmu.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <functional>

using namespace hostmsg;

namespace {

constexpr uint32_t kPage = 4096;
constexpr uint32_t kPool = 1 << 20;  // 256 pages, the first holds the map

PmHeader *header() { return reinterpret_cast<PmHeader *>(pmGetMap(0)); }
PmPage *pages() { return reinterpret_cast<PmPage *>(pmGetMap(0) + sizeof(PmHeader)); }

} // namespace

TEST(Pool, TwoProcessesAllocateFreeAndJoinRuns)
{
    Log log("pool.log");
    Pools pools(kPool);
    ASSERT_EQ(pools.attached, 1);
    uint32_t largest = 0;
    const uint32_t all = pmAvail(0, &largest);
    EXPECT_EQ(all, 255 * kPage);
    EXPECT_EQ(largest, all);

    const uint32_t a = pmAlloc(0, 10000, 1), b = pmAlloc(0, kPage, 1), c = pmAlloc(0, 1, 1);
    EXPECT_EQ(a, kPage);
    EXPECT_EQ(b, 4 * kPage);
    EXPECT_EQ(c, 5 * kPage);

    // Another process attaches the segment, allocates and frees.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t child = startChild("pool_child.log", [&] {
        if (setupVmu(true, &pools.boot) != 1)
            return 1;
        const uint32_t d = pmAlloc(0, 5000, 2);
        std::strcpy(pmGetMap(0) + d, "from the child");
        if (pmFree(0, b, pmGetMap(0) + b) != 1)
            return 2;
        return write(fds[1], &d, sizeof d) == sizeof d ? 0 : 3;
    });
    uint32_t d = 0;
    ASSERT_EQ(read(fds[0], &d, sizeof d), static_cast<ssize_t>(sizeof d));
    close(fds[0]);
    close(fds[1]);
    ASSERT_EQ(waitChild(child), 0) << readFile("pool_child.log");
    EXPECT_EQ(d, 6 * kPage);  // first fit skipped nothing: b was still in use
    uint32_t start = 0, bytes = 0;
    uint16_t owner = 0;
    ASSERT_TRUE(pmRunOf(0, d + 100, &start, &bytes, &owner));
    EXPECT_EQ(start, d);
    EXPECT_EQ(bytes, 2 * kPage);
    EXPECT_EQ(owner, 2);
    EXPECT_STREQ(pmGetMap(0) + d, "from the child");
    EXPECT_FALSE(pmRunOf(0, b, nullptr, nullptr));  // freed by the child

    // Only the start of an allocated run can be freed.
    EXPECT_EQ(pmFree(0, b, nullptr), -1);
    EXPECT_EQ(pmFree(0, a + kPage, nullptr), -1);
    EXPECT_EQ(pmFree(0, 0, nullptr), -1);
    EXPECT_NE(log.text().find("pmFree: offset 0x4000 starts no allocated run of pool 0"), std::string::npos);

    // Freeing joins neighbours until one run is left.
    EXPECT_EQ(pmFree(0, a, nullptr), 3);
    EXPECT_EQ(pmFree(0, c, nullptr), 1);
    EXPECT_EQ(pmFree(0, d, nullptr), 2);
    EXPECT_EQ(pmAvail(0, &largest), all);
    EXPECT_EQ(largest, all);
    EXPECT_EQ(pmCheck(0), 0);
    EXPECT_EQ(pmAlloc(0, all + 1, 1), 0u);
    EXPECT_EQ(pmAlloc(0, all, 1), kPage);

    // Freeing clears the run through the caller's address, up to the limit.
    pmFree(0, kPage, nullptr);
    const uint32_t e = pmAlloc(0, 100, 1);
    std::memset(pmGetMap(0) + e, 0xFF, 64);
    const uint32_t previous = pmMaxClear(16);
    pmFree(0, e, pmGetMap(0) + e);
    pmMaxClear(previous);
    EXPECT_EQ(pmGetMap(0)[e + 15], 0);
    EXPECT_EQ(static_cast<unsigned char>(pmGetMap(0)[e + 16]), 0xFF);
}

TEST(Pool, SnapListsEveryRun)
{
    Log log("snap.log");
    Pools pools(kPool);
    pmAlloc(0, 8192, 7);
    pmSnap(0);
    const std::string text = log.text();
    for (const char *line : {"    0 thru   255: Page map\n", "    0 thru     0: used      4K owner 65535\n",
                             "    1 thru     2: used      8K owner 7\n", "    3 thru   255: free   1012K\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
}

TEST(Pool, CheckReportsEachDamage)
{
    struct Damage {
        const char *line;  // as logged, after the time prefix
        std::function<void()> harm;
    };
    // Free list after the set-up: 3 -> 1 -> 5 (pages 5..255).
    const Damage damages[] = {
        {"3 in free list but not marked free!", [] { pages()[3].size &= ~kPmFree; }},
        {"1 has bad backlink! 5, should be 3.", [] { pages()[1].prev = 5; }},
        {"5 has bad size trailer! 9, should be 33019.", [] { pages()[255].size = 9; }},
        {"1 has forward link to itself!", [] { pages()[1].next = 1; }},
        {"iterations: bailing out", [] { pages()[5].next = 3; }},
        {"1 has link out of the pool! 4000", [] { pages()[1].next = 4000; }},
        {"pmCheck: pool 0 has no page map", [] { header()->magic = 0; }},
    };
    Pools pools(kPool);
    for (const Damage &d : damages) {
        Log log("check.log");
        ASSERT_EQ(pmInit(0, kPool), 256);
        const uint32_t p1 = pmAlloc(0, 1, 1);
        pmAlloc(0, 1, 1);
        const uint32_t p3 = pmAlloc(0, 1, 1);
        pmAlloc(0, 1, 1);
        pmFree(0, p1, nullptr);
        pmFree(0, p3, nullptr);
        ASSERT_EQ(pmCheck(0), 0) << log.text();
        d.harm();
        EXPECT_GT(pmCheck(0), 0) << d.line;
        EXPECT_NE(log.text().find(d.line), std::string::npos) << d.line << "\n" << log.text();
        // The allocator stays within the map and comes back.
        pmAlloc(0, 200 * kPage, 1);
        pmAvail(0, nullptr);
        pmSnap(0);
    }
}

TEST(Pool, FreeNextToADamagedTagFailsAndChangesNothing)
{
    // Runs after the set-up: A pages 1-2, B page 3, C page 4, free 5-255.
    struct Damage {
        const char *name;
        std::function<void()> harm;
        const char *freeLine;   // pmFree's report
        const char *checkLine;  // pmCheck's
    };
    const Damage damages[] = {
        {"run after marked free", [] { pages()[4].size |= kPmFree; },
         "pmFree: page map of pool 0 damaged at page 4", "4 marked free but not in free list!"},
        {"run before marked free", [] { pages()[1].size |= kPmFree, pages()[2].size |= kPmFree; },
         "pmFree: page map of pool 0 damaged at page 2", "1 marked free but not in free list!"},
        {"last tag of the run before", [] { pages()[2].size |= kPmFree; },
         "pmFree: page map of pool 0 damaged at page 2", "1 has bad size trailer! 32770, should be 2."},
    };
    Pools pools(kPool);
    for (const Damage &d : damages) {
        Log log("damaged.log");
        ASSERT_EQ(pmInit(0, kPool), 256);
        ASSERT_EQ(pmAlloc(0, 2 * kPage, 1), kPage);
        const uint32_t b = pmAlloc(0, 1, 2);
        ASSERT_EQ(pmAlloc(0, 1, 3), 4 * kPage);
        std::memset(pmGetMap(0) + b, 0x5A, kPage);
        d.harm();

        EXPECT_EQ(pmFree(0, b, pmGetMap(0) + b), -1) << d.name;
        EXPECT_NE(log.text().find(d.freeLine), std::string::npos) << d.name << "\n" << log.text();
        // Nothing changed: B is still allocated and uncleared, the free
        // list still holds every free page.
        uint16_t owner = 0;
        EXPECT_TRUE(pmRunOf(0, b, nullptr, nullptr, &owner)) << d.name;
        EXPECT_EQ(owner, 2);
        EXPECT_EQ(static_cast<unsigned char>(pmGetMap(0)[b + kPage - 1]), 0x5A) << d.name;
        uint32_t largest = 0;
        EXPECT_EQ(pmAvail(0, &largest), 251 * kPage) << d.name;
        EXPECT_EQ(largest, 251 * kPage);
        EXPECT_GT(pmCheck(0), 0) << d.name;
        EXPECT_NE(log.text().find(d.checkLine), std::string::npos) << d.name << "\n" << log.text();
        // Other allocations and frees still work (away from the damage).
        EXPECT_EQ(pmAlloc(0, 200 * kPage, 4), 5 * kPage) << d.name;
        const uint32_t one = pmAlloc(0, 1, 5);
        EXPECT_EQ(one, 205 * kPage) << d.name;
        EXPECT_EQ(pmFree(0, one, nullptr), 1) << d.name;
        EXPECT_EQ(pmAvail(0, nullptr), 51 * kPage) << d.name;
    }
}

TEST(Pool, DescriptorText)
{
    Log log("text.log");
    vmu pools[kVmuPools] = {};
    ASSERT_EQ(parseVmuText("S1a/100000,M0/2000", pools), 2);
    EXPECT_EQ(pools[0].type, 'S');
    EXPECT_EQ(pools[0].param, 0x1au);
    EXPECT_EQ(pools[0].size, 0x100000u);
    EXPECT_EQ(pools[1].type, 'M');
    EXPECT_EQ(vmuText(pools), "S1a/100000,M0/2000");
    EXPECT_EQ(parseVmuText("SFFFFFFFF/FFFFFFFF", pools), 1);  // 32 bits each
    EXPECT_EQ(pools[0].size, 0xFFFFFFFFu);
    for (const char *bad : {"S100000000/1", "S1/0", "S1a", "S/10", "S1/2,", "S1/2,S3/4,S5/6,S7/8", "S1g/2"})
        EXPECT_EQ(parseVmuText(bad, pools), -1) << bad;
    EXPECT_EQ(parseVmuText("X1/2", pools), -1);
    const std::string text = log.text();
    EXPECT_NE(text.find("X1/2 has unknown type X"), std::string::npos) << text;
    EXPECT_NE(text.find("error: S1/0 unparseable"), std::string::npos) << text;
}

TEST(Pool, PoolInAMappedFile)
{
    Log log("mmap.log");
    const int file = open("pool.dev", O_RDWR | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(file, 0);
    ASSERT_EQ(ftruncate(file, 256 << 10), 0);
    const int fd = openMmap("pool.dev");
    ASSERT_GE(fd, 0);
    VmuBoot boot{};
    boot.pool[0] = {'M', 0x1000, 128 << 10};
    ASSERT_EQ(setupVmu(true, &boot), 1) << log.text();
    EXPECT_STREQ(getenv("QORVMEM"), "M1000/20000");
    char fdText[16];
    snprintf(fdText, sizeof fdText, "%x", fd);
    EXPECT_STREQ(getenv("QORMMAPFD"), fdText);
    ASSERT_EQ(pmInit(0, 128 << 10), 32);
    const uint32_t a = pmAlloc(0, 5000, 3);
    std::strcpy(pmGetMap(0) + a, "kept in the file");

    // A child finds the pool through the environment, read-only.
    const pid_t child = startChild("mmap_child.log", [&] {
        uint16_t owner = 0;
        if (setupVmu(false, nullptr) != 1 || !pmRunOf(0, a, nullptr, nullptr, &owner) || owner != 3)
            return 1;
        if (std::strcmp(pmGetMap(0) + a, "kept in the file") != 0 || pmCheck(0) != 0)
            return 2;
        return pmAlloc(0, 1, 4) == 0 ? 0 : 3;  // read-only: refused
    });
    EXPECT_EQ(waitChild(child), 0) << readFile("mmap_child.log");
    char back[17] = {};
    ASSERT_EQ(pread(file, back, 16, 0x1000 + a), 16);
    EXPECT_STREQ(back, "kept in the file");
    destroyVmu(nullptr);

    // A descriptor that claims more than the file or the segment holds is
    // refused: reads of the pool would run past the mapping.
    boot.pool[0] = {'M', 0x1000, 256 << 10};
    EXPECT_EQ(setupVmu(false, &boot), -1);
    EXPECT_NE(log.text().find("pmMap: file of pool 0 has 262144 bytes, not 0x41000"), std::string::npos)
        << log.text();
    const int small = shmget(IPC_PRIVATE, 4096, IPC_CREAT | 0600);
    ASSERT_GE(small, 0);
    boot.pool[0] = {'S', static_cast<uint32_t>(small), 1 << 20};
    EXPECT_EQ(setupVmu(false, &boot), -1);
    shmctl(small, IPC_RMID, nullptr);
    EXPECT_NE(log.text().find("has 4096 bytes, not 1048576"), std::string::npos) << log.text();

    close(fd);
    close(file);
    unsetenv("QORMMAPFD");
    unsetenv("QORVMEM");
}

TEST(Pool, Reports)
{
    Pools pools(kPool);
    const std::string inPool = badAddrOf("x.c", 12, pmGetMap(0) + 0x2010, 0x10);
    EXPECT_NE(inPool.find("x.c:12: bad address 0x"), std::string::npos) << inPool;
    EXPECT_NE(inPool.find(" (offset 0x10) in pool 0"), std::string::npos) << inPool;
    int local = 0;
    EXPECT_NE(badAddrOf("x.c", 12, &local, 0).find("outside every pool"), std::string::npos);

    char root[] = "/tmp/qorhist.XXXXXX";
    ASSERT_NE(mkdtemp(root), nullptr);
    const std::string dir = std::string(root) + "/";
    ASSERT_EQ(mkdir((dir + "log").c_str(), 0700), 0);
    setenv("QORROOT", root, 1);
    qorfiles(nullptr, true);
    EXPECT_EQ(writeHistory("pool %d ready", 0), 0);
    EXPECT_EQ(writeHistory("second\n"), 0);
    const std::string history = readFile(dir + "log/HISTORY");
    EXPECT_NE(history.find(" P" + std::to_string(getpid()) + " pool 0 ready\n"), std::string::npos) << history;
    EXPECT_NE(history.find(" second\n"), std::string::npos) << history;
    unsetenv("QORROOT");
    qorfiles(nullptr, true);
    if (std::system(("rm -rf '" + dir + "'").c_str()) != 0) {
    }
}
