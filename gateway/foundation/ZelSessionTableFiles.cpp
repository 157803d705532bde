// Per-session screen-data files: the latest MCS screen of each session,
// kept between requests (which different processes may serve) in a file
// named after the session GUID.  Only the holder of the record lock reads
// or writes a record's file.
#include "ZelSessionTable.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
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

bool WriteAll(int fd, const char *p, std::size_t n) {
    while (n > 0) {
        ssize_t w = write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
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

Result CZelSessionTable::Record::SetLatestMcsData(const CBuffer &data) {
    LOG_ASSERT(m_pTable != nullptr);
    if (!Writable()) return Result::SessTblLatestMcsDataFile;
    return WriteDataFile(m_pTable->GetLatestMcsDataDirectory() + GetLatestDataFileName(), data);
}

Result CZelSessionTable::Record::SetLatestFccMods(const CBuffer &mods) {
    LOG_ASSERT(m_pTable != nullptr);
    if (!Writable()) return Result::SessTblLatestMcsDataFile;
    return WriteDataFile(m_pTable->GetLatestMcsDataDirectory() + GetLatestDataFileName() + kFccModsSuffix, mods);
}

Result CZelSessionTable::Record::GetLatestFccMods(CBuffer &out) const {
    LOG_ASSERT(m_pTable != nullptr);
    out.SetLength(0, 0);
    if (!Writable()) return Result::SessTblLatestMcsDataFile;
    const std::string path = m_pTable->GetLatestMcsDataDirectory() + GetLatestDataFileName() + kFccModsSuffix;
    if (access(path.c_str(), F_OK) != 0 && errno == ENOENT) return Result::Success;   // none
    return ReadDataFile(path, out);
}

Result CZelSessionTable::Record::WriteDataFile(const std::string &path, const CBuffer &data) {
    if (data.GetLength() <= 0)
        return UnlinkDataFile(path) ? Result::Success : Result::SessTblLatestMcsDataFile;

    // The new screen is written over the old one, and a longer old one cut
    // after it. Emptying the file first (O_TRUNC) would free its block and
    // allocate it again at each screen, which on many file systems waits
    // for the disk (a discard, and a flush when the file is closed).
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return Result::SessTblLatestMcsDataFile;
    struct stat st {};
    const off_t length = data.GetLength();
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
              WriteAll(fd, data.GetBuffer(), static_cast<std::size_t>(length)) &&
              (st.st_size <= length || ftruncate(fd, length) == 0);
    if (close(fd) != 0) ok = false;
    return ok ? Result::Success : Result::SessTblLatestMcsDataFile;
}

Result CZelSessionTable::Record::GetLatestMcsData(CBuffer &out) const {
    LOG_ASSERT(m_pTable != nullptr);
    out.SetLength(0, 0);
    if (!Writable()) return Result::SessTblLatestMcsDataFile;
    return ReadDataFile(m_pTable->GetLatestMcsDataDirectory() + GetLatestDataFileName(), out);
}

Result CZelSessionTable::Record::ReadDataFile(const std::string &path, CBuffer &out) {
    out.SetLength(0, 0);
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return Result::SessTblLatestMcsDataFile;
    struct stat st {};
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxDataFileSize;
    if (ok) {
        out.SetLength(static_cast<int>(st.st_size), 0);
        ok = out.GetLength() == static_cast<int>(st.st_size);
        char *p = out.GetBuffer();
        std::size_t left = static_cast<std::size_t>(st.st_size);
        while (ok && left > 0) {
            ssize_t r = read(fd, p, left);
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) ok = false;         // error, or the file shrank meanwhile
            else {
                p += r;
                left -= static_cast<std::size_t>(r);
            }
        }
    }
    close(fd);
    if (!ok) {
        out.SetLength(0, 0);
        return Result::SessTblLatestMcsDataFile;
    }
    return Result::Success;
}
