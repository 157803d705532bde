// Saving a file through a temporary file and a rename, or in place.
#include "FileSave.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

std::string Reason(const std::string &what, const std::string &path, int err) {
    return what + " " + path + ": " + std::strerror(err);
}

// Closes a descriptor and removes the temporary file unless it was renamed.
struct TempFile {
    std::string path;
    int fd = -1;
    bool keep = false;
    ~TempFile() {
        if (fd >= 0) ::close(fd);
        if (!keep && !path.empty()) ::unlink(path.c_str());
    }
};

struct Descriptor {
    int fd = -1;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

bool WriteAllAt(int fd, std::string_view text, off_t at) {
    while (!text.empty()) {
        const ssize_t n = ::pwrite(fd, text.data(), text.size(), at);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(n));
        at += n;
    }
    return true;
}

bool ReadAll(int fd, std::string &text) {
    text.clear();
    char buf[8192];
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(fd, buf, sizeof buf, at);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return true;
        text.append(buf, static_cast<std::size_t>(n));
        at += n;
    }
}

mode_t NewFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

bool Writable(const std::string &path) {
    return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

// Removes this file's temporary files that a save left behind.
void RemoveStaleTemporaries(const std::string &dir, const std::string &base) {
    DIR *d = ::opendir(dir.c_str());
    if (!d) return;
    const std::string prefix = base + kSaveMarker;
    const time_t now = std::time(nullptr);
    while (const dirent *e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0) continue;
        struct stat st {};
        if (::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && now - st.st_mtime > kStaleSaveSeconds)
            ::unlinkat(::dirfd(d), e->d_name, 0);
    }
    ::closedir(d);
}

// Flushes the folder, so that a rename in it survives a crash.
void SyncFolder(const std::string &dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    (void)::fsync(fd);
    ::close(fd);
}

enum class TempResult { Saved, Failed, NoRoom };

// The temporary file and the rename. NoRoom when the folder refuses a new
// file (the caller then writes in place).
TempResult SaveThroughTemporary(const std::string &target, const std::string &dir,
                                const struct stat *old, std::string_view text, std::string &why) {
    TempFile tmp;
    std::string pattern = target + kSaveMarker + "XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    tmp.fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (tmp.fd < 0) {
        const int e = errno;
        if (old && (e == EACCES || e == EPERM || e == EROFS)) return TempResult::NoRoom;
        why = Reason("cannot create a temporary file beside", target, e);
        return TempResult::Failed;
    }
    tmp.path = name.data();
    const mode_t mode = old ? (old->st_mode & 07777) : NewFileMode();
    if (old && (old->st_uid != ::geteuid() || old->st_gid != ::getegid()))
        (void)!::fchown(tmp.fd, old->st_uid, old->st_gid);   // kept where allowed
    if (!WriteAllAt(tmp.fd, text, 0) || ::fchmod(tmp.fd, mode) != 0 || ::fsync(tmp.fd) != 0) {
        why = Reason("cannot write", tmp.path, errno);
        return TempResult::Failed;
    }
    const int fd = tmp.fd;
    tmp.fd = -1;
    if (::close(fd) != 0) {
        why = Reason("cannot write", tmp.path, errno);
        return TempResult::Failed;
    }
    if (::rename(tmp.path.c_str(), target.c_str()) != 0) {
        why = Reason("cannot replace", target, errno);
        return TempResult::Failed;
    }
    tmp.keep = true;
    SyncFolder(dir);
    return TempResult::Saved;
}

// Rewrites the file in place; on a failure its old text goes back.
bool SaveInPlace(const std::string &target, std::string_view text, std::string &why) {
    Descriptor file;
    file.fd = ::open(target.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (file.fd < 0) {
        why = Reason("cannot open", target, errno);
        return false;
    }
    // Two editors saving at once write one after the other.
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    while (::fcntl(file.fd, F_SETLKW, &lock) != 0) {
        if (errno != EINTR) {
            why = Reason("cannot lock", target, errno);
            return false;
        }
    }
    std::string old;
    if (!ReadAll(file.fd, old)) {
        why = Reason("cannot read", target, errno);
        return false;
    }
    if (WriteAllAt(file.fd, text, 0) && ::ftruncate(file.fd, static_cast<off_t>(text.size())) == 0 &&
        ::fsync(file.fd) == 0)
        return true;
    const int err = errno;
    why = Reason("cannot write", target, err);
    if (WriteAllAt(file.fd, old, 0) && ::ftruncate(file.fd, static_cast<off_t>(old.size())) == 0 &&
        ::fsync(file.fd) == 0) {
        why += "; its old text was written back";
    } else {
        why += std::string("; writing its old text back failed too (") + std::strerror(errno) +
               "), the file may be damaged";
    }
    return false;
}

}  // namespace

bool SaveFileText(const std::string &path, std::string_view text, std::string &why) {
    // The file a link points to is saved, so the link stays a link.
    std::string target = path;
    struct stat st {};
    const bool exists = ::stat(path.c_str(), &st) == 0;
    if (exists) {
        if (!S_ISREG(st.st_mode)) {
            why = path + " is not a regular file";
            return false;
        }
        if (char *real = ::realpath(path.c_str(), nullptr)) {
            target = real;
            std::free(real);
        }
        if ((st.st_mode & 0222) == 0 || !Writable(target)) {
            char mode[8];
            std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
            why = target + " is read-only for the editor (mode " + mode + ")";
            return false;
        }
    } else if (errno != ENOENT) {
        why = Reason("cannot reach", path, errno);
        return false;
    }

    const std::size_t slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    RemoveStaleTemporaries(dir, base);

    if (!exists || ::faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) == 0) {
        switch (SaveThroughTemporary(target, dir, exists ? &st : nullptr, text, why)) {
        case TempResult::Saved: return true;
        case TempResult::Failed: return false;
        case TempResult::NoRoom: break;
        }
    }
    return SaveInPlace(target, text, why);
}
