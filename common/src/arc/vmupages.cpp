// The page allocator of the host pools. Runs of pages carry their size,
// with the free bit, in their first and last map entry (boundary tags), so
// a freed run finds free neighbours at once; free runs are doubly linked
// through their first entries.
//
// The map lives in shared memory and may be damaged by any process: every
// index read from it is checked against the pool before use, every walk
// stops after as many steps as the pool has pages, and the allocator
// changes nothing until everything it will touch has been checked.
#include "vmu.h"

#include "logprint.h"

#include <cstring>
#include <vector>

namespace {

constexpr uint16_t kSizeMask = 0x7FFF;

uint32_t s_maxClear = 0xFFFFFFFFu;

// A checked view of one pool's map.
struct Map {
    int pool = 0;
    PmHeader *hdr = nullptr;
    PmPage *page = nullptr;
    uint32_t pageSize = 0;
    uint16_t pages = 0;
    uint16_t mapPages = 0;

    static uint16_t runSize(const PmPage &e) { return e.size & kSizeMask; }
    static bool isFree(const PmPage &e) { return (e.size & kPmFree) != 0; }
    bool inPool(uint16_t i) const { return i >= mapPages && i < pages; }
    bool linkOk(uint16_t i) const { return i == kPmNil || inPool(i); }

    void damaged(const char *who, int at) const
    {
        logPrintf("#%s: page map of pool %d damaged at page %d\n", who, pool, at);
    }

    void setRun(uint16_t head, uint16_t n, bool free, uint16_t owner)
    {
        const uint16_t tag = static_cast<uint16_t>(n | (free ? kPmFree : 0));
        page[head].size = tag;
        page[head + n - 1].size = tag;
        page[head].owner = free ? 0 : owner;
        page[head].next = page[head].prev = kPmNil;
    }

    // Takes a free run out of the list; its links are checked first.
    bool unlink(uint16_t i)
    {
        const uint16_t next = page[i].next, prev = page[i].prev;
        if (!linkOk(next) || !linkOk(prev))
            return false;
        if (prev == kPmNil)
            hdr->freeHead = next;
        else
            page[prev].next = next;
        if (next != kPmNil)
            page[next].prev = prev;
        return true;
    }

    // Whether the free run at i is on the free list with links that agree
    // at i, so that unlink(i) mends the list rather than cutting it: a run
    // whose tag says free but that the list does not reach (a damaged tag)
    // must not be unlinked.
    bool onFreeList(uint16_t i) const
    {
        uint16_t prev = kPmNil;
        uint16_t cur = hdr->freeHead;
        for (uint32_t steps = 0; cur != kPmNil && steps < pages; ++steps) {
            if (!inPool(cur))
                return false;
            if (cur == i) {
                const uint16_t next = page[i].next;
                return page[i].prev == prev && linkOk(next) && (next == kPmNil || page[next].prev == i);
            }
            prev = cur;
            cur = page[cur].next;
        }
        return false;
    }

    // A free run joined by pmFree: the run whose first entry is head.
    // false when its tags disagree or it is not on the free list.
    bool joinable(uint16_t head) const
    {
        const PmPage e = page[head];
        const uint16_t s = runSize(e);
        return isFree(e) && s >= 1 && uint32_t{head} + s <= pages && page[head + s - 1].size == e.size &&
               onFreeList(head);
    }

    // The run that holds page `at`, walking runs in address order.
    bool runOf(uint16_t at, uint16_t &head, uint16_t &size, const char *who) const
    {
        for (uint32_t p = 0; p < pages;) {
            const uint16_t s = runSize(page[p]);
            if (s == 0 || p + s > pages) {
                damaged(who, static_cast<int>(p));
                return false;
            }
            if (at < p + s) {
                head = static_cast<uint16_t>(p);
                size = s;
                return true;
            }
            p += s;
        }
        return false;
    }
};

bool openMap(int pool, Map &m, bool forWrite, const char *who)
{
    uint32_t size = 0;
    char *base = pmGetMap(pool, &size);
    if (!base || size < sizeof(PmHeader)) {
        logPrintf("#%s: pool %d is not attached\n", who, pool);
        return false;
    }
    if (forWrite && !pmWritable(pool)) {
        logPrintf("#%s: pool %d is attached read-only\n", who, pool);
        return false;
    }
    m.pool = pool;
    m.hdr = reinterpret_cast<PmHeader *>(base);
    m.page = reinterpret_cast<PmPage *>(base + sizeof(PmHeader));
    const PmHeader h = *m.hdr;
    const bool powerOfTwo = h.pageSize >= kPmMinPage && (h.pageSize & (h.pageSize - 1)) == 0;
    if (h.magic != kPmMagic || !powerOfTwo || h.pages == 0 || h.pages > kPmMaxPages ||
        uint64_t{h.pages} * h.pageSize > size || h.mapPages == 0 || h.mapPages > h.pages ||
        sizeof(PmHeader) + sizeof(PmPage) * uint64_t{h.pages} > uint64_t{h.mapPages} * h.pageSize) {
        logPrintf("#%s: pool %d has no page map\n", who, pool);
        return false;
    }
    m.pageSize = h.pageSize;
    m.pages = static_cast<uint16_t>(h.pages);
    m.mapPages = h.mapPages;
    return true;
}

// -1 for the end of a list, for log lines.
int shown(uint16_t i) { return i == kPmNil ? -1 : i; }

} // namespace

int pmInit(int pool, uint32_t bytes)
{
    uint32_t size = 0;
    char *base = pmGetMap(pool, &size);
    if (!base || !pmWritable(pool) || bytes > size) {
        logPrintf("#pmInit: pool %d is not attached writable with %u bytes\n", pool, bytes);
        return -1;
    }
    uint32_t pageSize = kPmMinPage;
    while (bytes / pageSize > kPmMaxPages)
        pageSize *= 2;
    const uint32_t pages = bytes / pageSize;
    const uint32_t mapBytes = sizeof(PmHeader) + sizeof(PmPage) * pages;
    const uint32_t mapPages = (mapBytes + pageSize - 1) / pageSize;
    if (pages <= mapPages) {
        logPrintf("#pmInit: pool %d of %u bytes is too small\n", pool, bytes);
        return -1;
    }
    std::memset(base, 0, mapBytes);
    PmHeader *hdr = reinterpret_cast<PmHeader *>(base);
    *hdr = PmHeader{kPmMagic, pageSize, pages, static_cast<uint16_t>(mapPages),
                    static_cast<uint16_t>(mapPages)};
    Map m;
    if (!openMap(pool, m, true, "pmInit"))
        return -1;
    m.setRun(0, m.mapPages, false, kPmSystem);
    m.setRun(m.mapPages, static_cast<uint16_t>(pages - mapPages), true, 0);
    return static_cast<int>(pages);
}

uint32_t pmAlloc(int pool, uint32_t bytes, uint16_t owner)
{
    Map m;
    if (bytes == 0 || !openMap(pool, m, true, "pmAlloc"))
        return 0;
    const uint32_t need = bytes / m.pageSize + (bytes % m.pageSize ? 1 : 0);
    uint16_t cur = m.hdr->freeHead;
    for (uint32_t steps = 1; cur != kPmNil; ++steps) {
        if (steps > m.pages) {
            logPrintf("#%d iterations: bailing out\n", static_cast<int>(steps));
            return 0;
        }
        if (!m.inPool(cur)) {
            m.damaged("pmAlloc", cur);
            return 0;
        }
        const PmPage e = m.page[cur];
        const uint16_t s = Map::runSize(e);
        if (!Map::isFree(e) || s == 0 || cur + s > m.pages || !m.linkOk(e.next) || !m.linkOk(e.prev)) {
            m.damaged("pmAlloc", cur);
            return 0;
        }
        if (s >= need) {
            if (s == need) {
                m.unlink(cur);
            } else {
                // The rest stays free and takes the run's place in the list.
                const uint16_t rest = static_cast<uint16_t>(cur + need);
                m.setRun(rest, static_cast<uint16_t>(s - need), true, 0);
                m.page[rest].next = e.next;
                m.page[rest].prev = e.prev;
                if (e.prev == kPmNil)
                    m.hdr->freeHead = rest;
                else
                    m.page[e.prev].next = rest;
                if (e.next != kPmNil)
                    m.page[e.next].prev = rest;
            }
            m.setRun(cur, static_cast<uint16_t>(need), false, owner);
            return uint32_t{cur} * m.pageSize;
        }
        cur = e.next;
    }
    logPrintf("#pmAlloc: no free run of %u pages in pool %d\n", need, pool);
    return 0;
}

int pmFree(int pool, uint32_t offset, void *clearAddress)
{
    Map m;
    if (!openMap(pool, m, true, "pmFree"))
        return -1;
    const uint32_t at = offset / m.pageSize;
    uint16_t head = 0, n = 0;
    if (offset % m.pageSize != 0 || at < m.mapPages || at >= m.pages ||
        !m.runOf(static_cast<uint16_t>(at), head, n, "pmFree") || head != at ||
        Map::isFree(m.page[head])) {
        logPrintf("#pmFree: offset 0x%x starts no allocated run of pool %d\n", offset, pool);
        return -1;
    }
    const int freed = n;
    // Every neighbour that is to be joined is checked before anything
    // changes: a tag that says free on a run the free list does not hold
    // is damage, and unlinking that run would cut the list.
    uint16_t before = kPmNil, after = kPmNil;
    if (head > m.mapPages && Map::isFree(m.page[head - 1])) {
        const uint16_t ps = Map::runSize(m.page[head - 1]);
        if (ps == 0 || head - ps < m.mapPages || m.page[head - ps].size != m.page[head - 1].size ||
            !m.joinable(static_cast<uint16_t>(head - ps))) {
            m.damaged("pmFree", head - 1);
            return -1;
        }
        before = static_cast<uint16_t>(head - ps);
    }
    if (uint32_t{head} + n < m.pages && Map::isFree(m.page[head + n])) {
        if (!m.joinable(static_cast<uint16_t>(head + n))) {
            m.damaged("pmFree", head + n);
            return -1;
        }
        after = static_cast<uint16_t>(head + n);
    }
    if (clearAddress) {
        const uint64_t runBytes = uint64_t{n} * m.pageSize;
        std::memset(clearAddress, 0, runBytes < s_maxClear ? runBytes : s_maxClear);
    }
    uint16_t start = head;
    uint16_t total = n;
    if (before != kPmNil) {
        m.unlink(before);
        start = before;
        total = static_cast<uint16_t>(total + (head - before));
        m.page[head - 1].size = 0;
        m.page[head].size = 0;
    }
    if (after != kPmNil) {
        total = static_cast<uint16_t>(total + Map::runSize(m.page[after]));
        m.unlink(after);
        m.page[after - 1].size = 0;
        m.page[after].size = 0;
    }
    const uint16_t oldHead = m.hdr->freeHead;
    m.setRun(start, total, true, 0);
    if (m.inPool(oldHead)) {
        m.page[start].next = oldHead;
        m.page[oldHead].prev = start;
    }
    m.hdr->freeHead = start;
    return freed;
}

uint32_t pmAvail(int pool, uint32_t *largest)
{
    if (largest)
        *largest = 0;
    Map m;
    if (!openMap(pool, m, false, "pmAvail"))
        return 0;
    uint32_t total = 0, big = 0;
    uint16_t cur = m.hdr->freeHead;
    for (uint32_t steps = 1; cur != kPmNil; ++steps) {
        const PmPage e = m.inPool(cur) ? m.page[cur] : PmPage{};
        const uint16_t s = Map::runSize(e);
        if (steps > m.pages || s == 0 || !Map::isFree(e) || cur + s > m.pages) {
            m.damaged("pmAvail", cur);
            break;
        }
        total += s;
        big = s > big ? s : big;
        cur = e.next;
    }
    if (largest)
        *largest = big * m.pageSize;
    return total * m.pageSize;
}

uint32_t pmMaxClear(uint32_t max)
{
    const uint32_t previous = s_maxClear;
    s_maxClear = max;
    return previous;
}

bool pmRunOf(int pool, uint32_t offset, uint32_t *start, uint32_t *bytes, uint16_t *owner)
{
    Map m;
    if (!openMap(pool, m, false, "pmRunOf"))
        return false;
    uint16_t head = 0, n = 0;
    const uint32_t at = offset / m.pageSize;
    if (at < m.mapPages || at >= m.pages || !m.runOf(static_cast<uint16_t>(at), head, n, "pmRunOf") ||
        Map::isFree(m.page[head]))
        return false;
    if (start)
        *start = uint32_t{head} * m.pageSize;
    if (bytes)
        *bytes = uint32_t{n} * m.pageSize;
    if (owner)
        *owner = m.page[head].owner;
    return true;
}

int pmCheck(int pool)
{
    Map m;
    if (!openMap(pool, m, false, "pmCheck"))
        return 1;
    int faults = 0;
    std::vector<bool> onList(m.pages);
    uint16_t prev = kPmNil;
    uint16_t cur = m.hdr->freeHead;
    for (uint32_t steps = 1; cur != kPmNil; ++steps) {
        if (steps > m.pages) {
            logPrintf("#%d iterations: bailing out\n", static_cast<int>(steps));
            return faults + 1;
        }
        if (!m.inPool(cur)) {
            logPrintf("#%d has link out of the pool! %d\n", shown(prev), cur);
            return faults + 1;
        }
        const PmPage e = m.page[cur];
        if (!Map::isFree(e)) {
            logPrintf("#%d in free list but not marked free!\n", cur);
            ++faults;
        }
        if (e.prev != prev) {
            logPrintf("#%d has bad backlink! %d, should be %d.\n", cur, shown(e.prev), shown(prev));
            ++faults;
        }
        const uint16_t s = Map::runSize(e);
        if (s == 0 || cur + s > m.pages) {
            logPrintf("#%d has bad size %d!\n", cur, s);
            ++faults;
        } else if (m.page[cur + s - 1].size != e.size) {
            logPrintf("#%d has bad size trailer! %d, should be %d.\n", cur, m.page[cur + s - 1].size,
                      e.size);
            ++faults;
        }
        if (e.next == cur) {
            logPrintf("#%d has forward link to itself!\n", cur);
            return faults + 1;
        }
        onList[cur] = true;
        prev = cur;
        cur = e.next;
    }
    // Runs in address order: a run tagged free that the list does not hold
    // can never be allocated, and pmFree refuses to join it.
    for (uint32_t p = m.mapPages; p < m.pages;) {
        const PmPage e = m.page[p];
        const uint16_t s = Map::runSize(e);
        if (s == 0 || p + s > m.pages) {
            logPrintf("#%u has bad run size %d!\n", p, s);
            return faults + 1;
        }
        if (!onList[p]) {
            // (Runs on the list had their trailers checked above.)
            if (Map::isFree(e)) {
                logPrintf("#%u marked free but not in free list!\n", p);
                ++faults;
            }
            if (m.page[p + s - 1].size != e.size) {
                logPrintf("#%u has bad size trailer! %d, should be %d.\n", p, m.page[p + s - 1].size,
                          e.size);
                ++faults;
            }
        }
        p += s;
    }
    return faults;
}

void pmSnap(int pool)
{
    Map m;
    if (!openMap(pool, m, false, "pmSnap"))
        return;
    logPrintf("#%5d thru %5d: Page map\n", 0, m.pages - 1);
    for (uint32_t p = 0; p < m.pages;) {
        const PmPage e = m.page[p];
        const uint16_t s = Map::runSize(e);
        if (s == 0 || p + s > m.pages) {
            logPrintf("%5u: bad run size %d\n", p, e.size);
            return;
        }
        const unsigned kb = static_cast<unsigned>(uint64_t{s} * m.pageSize / 1024);
        if (Map::isFree(e))
            logPrintf("%5u thru %5u: free %6uK\n", p, p + s - 1, kb);
        else
            logPrintf("%5u thru %5u: used %6uK owner %u\n", p, p + s - 1, kb, e.owner);
        p += s;
    }
}
