// Per-session screen-data files: the latest MCS screen of each session,
// kept between requests (which different processes may serve) in a file
// named after the session GUID, and the field control modifications it came
// with in a file beside it.  Only the holder of the record lock reads or
// writes a record's files.
//
// The modifications file: "QFC1", a digest of the session GUID, the screen
// and the modifications (64-bit FNV-1a, big-endian), then the modifications.
// When either file is deleted, cut, emptied or replaced afterwards (by
// another session's, say), the pair no longer matches its digest: the
// reader tells such a loss apart from a session without a screen yet (no
// screen file, and a digest over an empty screen).
#include "ZelSessionTable.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

#include "ZelBuffer.h"
#include "logprint.h"

using namespace sesstbl;

namespace {

// Screens are a few KiB; anything this large is not a file of ours.
constexpr off_t kMaxDataFileSize = 16 * 1024 * 1024;

// The field control modifications of a session's screen, beside it.
constexpr const char *kFccModsSuffix = ".fcc";
constexpr char kFccMagic[4] = {'Q', 'F', 'C', '1'};
constexpr int kFccHeader = 12;                 // magic and digest

uint64_t PairDigest(const uint32_t (&guid)[4], const CBuffer &screen, const char *mods, std::size_t modsLength) {
    uint64_t h = 0xcbf29ce484222325u;
    auto mix = [&h](const void *p, std::size_t n) {
        for (const auto *b = static_cast<const unsigned char *>(p); n > 0; --n, ++b) {
            h ^= *b;
            h *= 0x100000001b3u;
        }
    };
    const uint64_t screenLength = static_cast<uint64_t>(screen.GetLength());
    mix(guid, sizeof guid);
    mix(&screenLength, sizeof screenLength);     // where the screen ends and the modifications begin
    mix(screen.GetBuffer(), static_cast<std::size_t>(screen.GetLength()));
    mix(mods, modsLength);
    return h;
}

std::string FccFileBytes(const uint32_t (&guid)[4], const CBuffer &screen, const CBuffer &mods) {
    std::string out(kFccMagic, sizeof kFccMagic);
    const uint64_t digest = PairDigest(guid, screen, mods.GetBuffer(), static_cast<std::size_t>(mods.GetLength()));
    for (int shift = 56; shift >= 0; shift -= 8) out += static_cast<char>((digest >> shift) & 0xFF);
    out.append(mods.GetBuffer(), static_cast<std::size_t>(mods.GetLength()));
    return out;
}

uint64_t StoredDigest(const CBuffer &fcc) {
    uint64_t digest = 0;
    for (int i = sizeof kFccMagic; i < kFccHeader; ++i)
        digest = (digest << 8) | static_cast<unsigned char>(fcc.GetBuffer()[i]);
    return digest;
}

std::string FileNameOf(const uint32_t (&guid)[4]) {
    char name[48];
    std::snprintf(name, sizeof name, "%" PRIu32 "-%" PRIu32 "-%" PRIu32 "-%" PRIu32, guid[0],
                  guid[1], guid[2], guid[3]);
    return name;
}

// Deletes a data file; a missing one is fine.
bool UnlinkDataFile(const std::string &path) {
    if (unlink(path.c_str()) == 0 || errno == ENOENT) return true;
    int err = errno;
    std::cerr << "CZelSessionTable::Record::Remove(): " << "Can't unlink() file " << path
              << ", errno: " << err << std::endl;
    return false;
}

// False with errno set.
bool WriteAll(int fd, const char *p, std::size_t n) {
    while (n > 0) {
        ssize_t w = write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w == 0) errno = ENOSPC;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Directory

std::string CZelSessionTable::GetLatestMcsDataDirectory() {
    if (m_strLatestMcsDataDirectory.empty()) SetLatestMcsDataDirectory(m_DefLatestMcsDataDirectory);
    return m_strLatestMcsDataDirectory;
}

Result CZelSessionTable::SetLatestMcsDataDirectory(const std::string &path) {
    m_strLatestMcsDataDirectory = path;
    if (path.empty()) return Result::Success;
    if (path.back() != '/') m_strLatestMcsDataDirectory += '/';
    const std::string &dir = m_strLatestMcsDataDirectory;
    // Every component in turn, from the root for an absolute path.
    for (std::size_t slash = dir.find('/', 1); slash != std::string::npos;
         slash = dir.find('/', slash + 1)) {
        std::string part = dir.substr(0, slash);
        if (part.empty() || part.back() == '/') continue;     // "//" in the path
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return Result::SessTblLatestMcsDataDir;
    }
    return Result::Success;
}

void CZelSessionTable::RemoveLatestDataFile(const SessionRecord &rec) {
    Guid_t guid(rec.guid);
    if (guid.IsZero()) return;
    std::string dir = m_strLatestMcsDataDirectory.empty() ? std::string(m_DefLatestMcsDataDirectory)
                                                          : m_strLatestMcsDataDirectory;
    UnlinkDataFile(dir + FileNameOf(rec.guid));
    UnlinkDataFile(dir + FileNameOf(rec.guid) + kFccModsSuffix);
}

// ---------------------------------------------------------------------------
// Record files

std::string CZelSessionTable::Record::GetLatestDataFileName() const {
    if (!m_pRecord) return std::string();
    return FileNameOf(m_pRecord->guid);
}

std::string CZelSessionTable::Record::LatestDataPath() const {
    return m_pTable->GetLatestMcsDataDirectory() + GetLatestDataFileName();
}

Result CZelSessionTable::Record::SetLatestScreen(const CBuffer &data, const CBuffer &mods) {
    LOG_ASSERT(m_pTable != nullptr);
    if (!Writable()) return Result::SessTblLatestMcsDataFile;
    // Marked until both files are written: a process killed in between
    // leaves the mark.
    m_pRecord->flags |= kFlagScreenLost;
    if (data.GetLength() > 0) m_pRecord->flags |= kFlagScreenStored;
    const std::string path = LatestDataPath();
    Result r = WriteDataFile(path, data);
    if (!IsError(r)) {
        const std::string fcc = FccFileBytes(m_pRecord->guid, data, mods);
        r = WriteDataFile(path + kFccModsSuffix, CBuffer(fcc.data(), static_cast<int>(fcc.size())));
    }
    if (!IsError(r)) m_pRecord->flags &= static_cast<uint8_t>(~kFlagScreenLost);
    return r;
}

Result CZelSessionTable::Record::SetLatestMcsData(const CBuffer &data) {
    LOG_ASSERT(m_pTable != nullptr);
    if (!Writable()) return Result::SessTblLatestMcsDataFile;
    CBuffer old, mods;
    std::string lost;
    GetLatestScreen(old, mods, lost);
    if (lost.empty()) return SetLatestScreen(data, mods);
    // Modifications that cannot be trusted are never given to a new screen.
    m_pRecord->flags |= kFlagScreenLost;
    if (data.GetLength() > 0) m_pRecord->flags |= kFlagScreenStored;
    return WriteDataFile(LatestDataPath(), data);
}

Result CZelSessionTable::Record::GetLatestScreen(CBuffer &data, CBuffer &mods, std::string &lost) const {
    LOG_ASSERT(m_pTable != nullptr);
    data.SetLength(0, 0);
    mods.SetLength(0, 0);
    lost.clear();
    if (!Writable()) {
        lost = "session record not held";
        return Result::SessTblLatestMcsDataFile;
    }
    const std::string path = LatestDataPath();
    std::string screenFault, fccFault;
    int screenError = 0;
    const Result r = ReadDataFile(path, data, &screenFault, &screenError);
    CBuffer fcc;
    const bool fccRead = !IsError(ReadDataFile(path + kFccModsSuffix, fcc, &fccFault));
    const bool fccOurs = fccRead && fcc.GetLength() >= kFccHeader &&
                         std::memcmp(fcc.GetBuffer(), kFccMagic, sizeof kFccMagic) == 0;
    if (fccOurs) mods = CBuffer(fcc.GetBuffer() + kFccHeader, fcc.GetLength() - kFccHeader);

    if (m_pRecord->flags & kFlagScreenLost)
        lost = path + ": a screen of the session could not be stored";
    else if (IsError(r) && screenError != ENOENT)
        lost = screenFault;
    else if (!fccRead)
        lost = fccFault;
    else if (!fccOurs)
        lost = path + kFccModsSuffix + ": not a modifications file (" + std::to_string(fcc.GetLength()) + " bytes)";
    else if (StoredDigest(fcc) != PairDigest(m_pRecord->guid, data, mods.GetBuffer(),
                                             static_cast<std::size_t>(mods.GetLength())))
        lost = IsError(r) ? screenFault
                          : path + " (" + std::to_string(data.GetLength()) + " bytes) and " + path +
                                kFccModsSuffix + ": not stored together";
    return r;
}

Result CZelSessionTable::Record::WriteDataFile(const std::string &path, const CBuffer &data) {
    if (data.GetLength() <= 0)
        return UnlinkDataFile(path) ? Result::Success : Result::SessTblLatestMcsDataFile;

    // The new screen is written over the old one, and a longer old one cut
    // after it. Emptying the file first (O_TRUNC) would free its block and
    // allocate it again at each screen, which on many file systems waits
    // for the disk (a discard, and a flush when the file is closed).
    // O_NONBLOCK: a FIFO put in a file's place must not hold the worker.
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    int err = fd < 0 ? errno : 0;
    const char *fault = nullptr;
    if (fd >= 0) {
        struct stat st {};
        const off_t length = data.GetLength();
        if (fstat(fd, &st) != 0)
            err = errno;
        else if (!S_ISREG(st.st_mode))
            fault = "not a regular file";
        else if (!WriteAll(fd, data.GetBuffer(), static_cast<std::size_t>(length)) ||
                 (st.st_size > length && ftruncate(fd, length) != 0))
            err = errno;
        if (close(fd) != 0 && !err && !fault) err = errno;
    }
    if (!err && !fault) return Result::Success;
    logPrintf("#Session table: %s not written: %s\n", path.c_str(), fault ? fault : std::strerror(err));
    return Result::SessTblLatestMcsDataFile;
}

bool CZelSessionTable::Record::HasStoredScreen() const {
    return m_pRecord && (m_pRecord->flags & kFlagScreenStored);
}

Result CZelSessionTable::Record::GetLatestMcsData(CBuffer &out) const {
    LOG_ASSERT(m_pTable != nullptr);
    out.SetLength(0, 0);
    if (!Writable()) return Result::SessTblLatestMcsDataFile;
    return ReadDataFile(LatestDataPath(), out);
}

Result CZelSessionTable::Record::ReadDataFile(const std::string &path, CBuffer &out, std::string *why,
                                              int *error) {
    out.SetLength(0, 0);
    int err = 0;
    const char *fault = nullptr;
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        err = errno;
    } else {
        struct stat st {};
        if (fstat(fd, &st) != 0)
            err = errno;
        else if (!S_ISREG(st.st_mode))
            fault = "not a regular file";
        else if (st.st_size > kMaxDataFileSize)
            fault = "too large for a screen";
        else
            out.SetLength(static_cast<int>(st.st_size), 0);
        if (!err && !fault && out.GetLength() != static_cast<int>(st.st_size)) fault = "no memory to read it";
        char *p = out.GetBuffer();
        std::size_t left = static_cast<std::size_t>(out.GetLength());
        while (!err && !fault && left > 0) {
            ssize_t r = read(fd, p, left);
            if (r < 0 && errno == EINTR) continue;
            if (r < 0) {
                err = errno;
            } else if (r == 0) {
                fault = "cut while it was read";
            } else {
                p += r;
                left -= static_cast<std::size_t>(r);
            }
        }
        close(fd);
    }
    if (!err && !fault) return Result::Success;
    out.SetLength(0, 0);
    if (error) *error = err;
    if (why) *why = path + ": " + (fault ? fault : std::strerror(err));
    return Result::SessTblLatestMcsDataFile;
}
