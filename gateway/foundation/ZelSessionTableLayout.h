// Byte layout of the shared session table segment.
//
// The segment is a 2048-byte control block followed by one 224-byte record
// per session.  Every gateway process, the cleaner, the configuration editor
// and qorshm map the same bytes, possibly from 32- and 64-bit builds, so the
// layout uses fixed-width fields only; words are in the machine's own byte
// order.  Times are seconds since the epoch kept in unsigned 32-bit words
// (good until 2106) and converted by value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

namespace sesstbl {

constexpr uint32_t kMarker = 0x00FADE07u;      // control block word 0 of a ready table
constexpr int kControlBlockSize = 2048;
constexpr int kRecordSize = 224;
constexpr int kRegistrySlots = 500;            // process registry size
constexpr int kPibSize = 156;
constexpr int kLocapSize = 8;
constexpr int kGuidWords = 4;
constexpr int kFtokProjectId = 'j';            // key = ftok(working dir, 'j')

// The lock file of the table with a key: each table has its own, so that
// installations on one machine never share lock bytes or a cleaner.
inline std::string LockFilePath(int32_t key) {
    char path[40];
    std::snprintf(path, sizeof path, "/tmp/sesstbl_lock.%08x", static_cast<unsigned>(static_cast<uint32_t>(key)));
    return path;
}

// The largest record count whose segment size still fits a signed 32-bit
// size (qorshm and the control block keep sizes and counts in 32 bits).
constexpr uint32_t kMaxRecords = (0x7FFFFFFFu - kControlBlockSize) / kRecordSize;

// Record flag bits (byte 40).
constexpr uint8_t kFlagOpen = 0x01;            // session open on the host
constexpr uint8_t kFlagProgramStarted = 0x02;  // transaction program started
// The session's screen or its modifications could not be stored: what its
// screen-data files hold is not what the browser was shown.
constexpr uint8_t kFlagScreenLost = 0x04;
// The session has had a host screen to store (set at the first, whether or
// not its files could be written): a lost screen then leaves no input that
// can be sent. A session without one (a DezUR exchange), or whose record
// an earlier build wrote, never has it.
constexpr uint8_t kFlagScreenStored = 0x08;
static_assert(((kFlagOpen | kFlagProgramStarted | kFlagScreenLost) & kFlagScreenStored) == 0,
              "record flags are distinct bits of byte 40");

struct ControlBlock {
    uint32_t marker;                    // 0: kMarker when initialised
    uint32_t lastSessionId;             // 4: last local session id handed out
    uint32_t lastAccessed;              // 8: last access of the table
    uint32_t lastReconfigured;          // 12: reconfiguration stamp
    int32_t registry[kRegistrySlots];   // 16: process ids, 0 = free slot
    int32_t pidPoolLow;                 // 2016
    int32_t pidPoolHigh;                // 2020: exclusive bound
    int32_t pidPoolNext;                // 2024
    int32_t cleanerPid;                 // 2028
    uint32_t unused2032;                // 2032
    uint32_t numberOfRecords;           // 2036: count given by the last creating Init
    uint8_t unused2040[8];              // 2040
};

struct SessionRecord {
    uint32_t localId;                   // 0: 0 = free; printed "R%X"
    uint32_t dtpId;                     // 4: host session id; printed "L%X"
    uint32_t guid[kGuidWords];          // 8
    uint32_t lastAccessed;              // 24
    char locap[kLocapSize];             // 28: blank-padded, no terminator
    uint32_t pidPool;                   // 36: 0 = none
    uint8_t flags;                      // 40: kFlag* bits
    uint8_t unused41[3];                // 41
    uint32_t mcsIds[4];                 // 44
    uint8_t pib[kPibSize];              // 60: PIB snapshot (transaction id at 68)
    uint8_t clientAddr[4];              // 216: IPv4, first octet first
    int32_t lastPid;                    // 220: last gateway process that touched it
};

constexpr int kPibTransactionOffset = 8;       // transaction id inside the PIB
constexpr int kTransactionSize = 8;

static_assert(sizeof(ControlBlock) == kControlBlockSize, "control block size");
static_assert(offsetof(ControlBlock, marker) == 0, "marker");
static_assert(offsetof(ControlBlock, lastSessionId) == 4, "last session id");
static_assert(offsetof(ControlBlock, lastAccessed) == 8, "table last access");
static_assert(offsetof(ControlBlock, lastReconfigured) == 12, "reconfiguration stamp");
static_assert(offsetof(ControlBlock, registry) == 16, "registry");
static_assert(offsetof(ControlBlock, pidPoolLow) == 2016, "pool low");
static_assert(offsetof(ControlBlock, pidPoolHigh) == 2020, "pool high");
static_assert(offsetof(ControlBlock, pidPoolNext) == 2024, "pool next");
static_assert(offsetof(ControlBlock, cleanerPid) == 2028, "cleaner pid");
static_assert(offsetof(ControlBlock, unused2032) == 2032, "spare word");
static_assert(offsetof(ControlBlock, numberOfRecords) == 2036, "record count");
static_assert(offsetof(ControlBlock, unused2040) == 2040, "spare bytes");

static_assert(sizeof(SessionRecord) == kRecordSize, "record size");
static_assert(offsetof(SessionRecord, localId) == 0, "local id");
static_assert(offsetof(SessionRecord, dtpId) == 4, "host id");
static_assert(offsetof(SessionRecord, guid) == 8, "guid");
static_assert(offsetof(SessionRecord, lastAccessed) == 24, "record last access");
static_assert(offsetof(SessionRecord, locap) == 28, "locap");
static_assert(offsetof(SessionRecord, pidPool) == 36, "pid pool");
static_assert(offsetof(SessionRecord, flags) == 40, "flags");
static_assert(offsetof(SessionRecord, unused41) == 41, "spare");
static_assert(offsetof(SessionRecord, mcsIds) == 44, "mcs ids");
static_assert(offsetof(SessionRecord, pib) == 60, "pib");
static_assert(offsetof(SessionRecord, pib) + kPibTransactionOffset == 68, "transaction id");
static_assert(offsetof(SessionRecord, clientAddr) == 216, "client address");
static_assert(offsetof(SessionRecord, lastPid) == 220, "last pid");

// Segment size for a record count, in 64 bits so no count can wrap it.
constexpr uint64_t SegmentSize(uint64_t records) {
    return kControlBlockSize + records * kRecordSize;
}

// Records that a segment of the given byte size really holds.
constexpr uint32_t RecordsInSegment(uint64_t segmentBytes) {
    if (segmentBytes < static_cast<uint64_t>(kControlBlockSize)) return 0;
    uint64_t n = (segmentBytes - kControlBlockSize) / kRecordSize;
    return n > kMaxRecords ? kMaxRecords : static_cast<uint32_t>(n);
}

// Stored time words <-> time_t, by value.
inline uint32_t TimeToWord(time_t t) { return static_cast<uint32_t>(static_cast<uint64_t>(t)); }
inline time_t WordToTime(uint32_t w) { return static_cast<time_t>(w); }

}  // namespace sesstbl
