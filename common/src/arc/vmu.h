// The transaction host's shared-memory pools ("VMU"): up to three pools,
// each a System V segment or a part of a mapped device file, and a page
// allocator whose page map lives at the start of each pool, so that every
// host process that attaches a pool sees the same allocations.
//
// Only one process at a time may change a pool's page map (the host's main
// process hands out runs); any process may read it. Every walk over a map
// is bounded by the pool's page count, so a damaged map gives a log line
// and a failure, never a loop or a read outside the pool.
//
// No program of the gateway calls this unit; it serves host-side tools.
#ifndef QOR_VMU_H
#define QOR_VMU_H

#include <cstddef>
#include <cstdint>
#include <string>

constexpr int kVmuPools = 3;
// A descriptor's param before its segment exists.
constexpr uint32_t kVmuNone = 0xFFFFFFFFu;

// A pool's location as host processes share it (boot block, QORVMEM).
struct vmu {
    int32_t type;    // 'S' System V segment, 'M' mapped device file, 0 unused
    uint32_t param;  // 'S': segment id (kVmuNone: create it); 'M': offset in the device
    uint32_t size;   // bytes
};
static_assert(sizeof(vmu) == 12, "pool descriptor layout");
static_assert(offsetof(vmu, param) == 4 && offsetof(vmu, size) == 8, "pool descriptor layout");

// The part of the host's boot block that names the pools.
struct VmuBoot {
    vmu pool[kVmuPools];
};
static_assert(sizeof(VmuBoot) == 36, "boot block pools layout");

// ------------------------------------------------------ page map layout ----
// Offset 0 of a pool: the header, then one PmPage per page. The header and
// the map take the first pages of the pool (one run owned by kPmSystem).
constexpr uint32_t kPmMagic = 0x564D5531u;  // "VMU1"
constexpr uint16_t kPmNil = 0xFFFF;         // end of the free list
constexpr uint16_t kPmFree = 0x8000;        // in PmPage::size: the run is free
constexpr uint16_t kPmSystem = 0xFFFF;      // owner of the map's own pages
constexpr uint32_t kPmMaxPages = 0x7FFF;    // pages of a pool, at most
constexpr uint32_t kPmMinPage = 4096;       // bytes of a page, at least

struct PmHeader {
    uint32_t magic;
    uint32_t pageSize;  // a power of two, at least kPmMinPage
    uint32_t pages;     // pages of the pool
    uint16_t mapPages;  // pages taken by the header and the map
    uint16_t freeHead;  // first page of the first free run, or kPmNil
};
static_assert(sizeof(PmHeader) == 16, "page map header layout");

struct PmPage {
    uint16_t next;   // first page of a free run: the next free run
    uint16_t prev;   // first page of a free run: the previous free run
    uint16_t size;   // first and last page of a run: its pages, kPmFree when free
    uint16_t owner;  // first page of an allocated run: its owner
};
static_assert(sizeof(PmPage) == 8, "page map entry layout");

// ----------------------------------------------------------- the pools ----
// Attaches the pools the boot block names (null: those of QORVMEM), after
// detaching any this process had. With writable, a segment descriptor whose
// param is kVmuNone is created (mode 0600), its id stored in the boot block
// and its page map initialised. The pools are then exported in QORVMEM for
// child processes. Returns the number of pools attached, or -1 (logged).
int setupVmu(bool writable, VmuBoot *boot);
// Detaches every pool and removes the segments of the boot block (null:
// of the pools attached), whose params become kVmuNone. 0, or -1.
int destroyVmu(VmuBoot *boot);

// Reads QORVMEM-style text: up to three descriptors separated by ',', each
// a type letter and "param/size" in hexadecimal ("S1a/100000"). Fills pools
// and returns how many, or -1 with "#<text> has unknown type <c>" or
// "#error: <text> unparseable" logged.
int parseVmuText(const char *text, vmu pools[kVmuPools]);
// The same text for descriptors (unused ones are left out).
std::string vmuText(const vmu pools[kVmuPools]);

// Opens the device file of 'M' pools and exports its descriptor as
// QORMMAPFD (hexadecimal) for child processes. The descriptor, or -1.
int openMmap(const char *path);

// Maps bytes [offset, offset + size) of a pool at address (null: anywhere),
// read-only or writable: a segment is attached whole with shmat, a device
// part with mmap. Returns the address of offset, or null (logged).
void *pmMap(bool writable, int pool, uint32_t offset, uint32_t size, void *address);
// Undoes a pmMap given the address it returned. 0, or -1.
int pmUnmap(int pool, void *address, uint32_t size);
// The pool's own mapping (whole pool, as setupVmu attached it); null when
// the pool is not attached. *size (optional) receives its bytes.
char *pmGetMap(int pool, uint32_t *size = nullptr);
// Whether that mapping is writable (the allocator changes only such maps).
bool pmWritable(int pool);

// ----------------------------------------------------- the allocator ----
// Writes a fresh page map over the first `bytes` bytes of the attached
// pool: the pages after the map form one free run. Pages, or -1.
int pmInit(int pool, uint32_t bytes);
// First fit over the free list: offset of the first page of a run of at
// least `bytes` bytes recorded for owner, or 0 when none is free.
uint32_t pmAlloc(int pool, uint32_t bytes, uint16_t owner);
// Frees the run that starts at offset, joining it with free neighbours.
// With clearAddress (where the caller sees the run) its bytes are zeroed,
// at most pmMaxClear's limit. Returns the pages freed, or -1 (logged) when
// offset starts no allocated run.
int pmFree(int pool, uint32_t offset, void *clearAddress);
// Free bytes of the pool; *largest (optional) gets the largest free run.
uint32_t pmAvail(int pool, uint32_t *largest);
// Bytes pmFree clears at most (default: all). Returns the previous limit.
uint32_t pmMaxClear(uint32_t max);
// The allocated run that holds offset: its first byte, its length and its
// owner (each optional).
bool pmRunOf(int pool, uint32_t offset, uint32_t *start, uint32_t *bytes, uint16_t *owner = nullptr);
// Walks the free list and logs each fault found; returns their number.
int pmCheck(int pool);
// Logs the page map: every run with its pages, kilobytes and owner.
void pmSnap(int pool);

// ------------------------------------------------------------ reports ----
// "file:line: bad address 0x... (offset 0x...) in pool n" (or "outside
// every pool") for a log line.
std::string badAddrOf(const char *file, int line, const void *address, uint32_t offset);
// Appends a time-stamped line to "<host root>log/HISTORY". 0, or -1.
int writeHistory(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

#endif
