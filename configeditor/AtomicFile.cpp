// Temporary file and rename.
#include "AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::string Reason(const std::string &what, const std::string &path, int err) {
    return what + " " + path + ": " + std::strerror(err);
}

// Removes the temporary file unless it has been renamed.
struct TempFile {
    std::string path;
    int fd = -1;
    bool keep = false;
    ~TempFile() {
        if (fd >= 0) close(fd);
        if (!keep && !path.empty()) unlink(path.c_str());
    }
};

bool WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = write(fd, text.data(), text.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

mode_t NewFileMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

}  // namespace

bool ReplaceFileAtomically(const std::string &path, std::string_view text, std::string &why) {
    // Write beside the file a link points to, so the link stays a link.
    std::string target = path;
    struct stat st {};
    const bool exists = stat(path.c_str(), &st) == 0;
    if (exists) {
        if (!S_ISREG(st.st_mode)) {
            why = path + " is not a regular file";
            return false;
        }
        if (char *real = realpath(path.c_str(), nullptr)) {
            target = real;
            std::free(real);
        }
    } else if (errno != ENOENT) {
        why = Reason("cannot reach", path, errno);
        return false;
    }

    TempFile tmp;
    std::vector<char> name(target.begin(), target.end());
    const char suffix[] = ".XXXXXX";
    name.insert(name.end(), suffix, suffix + sizeof suffix);   // with the NUL
    tmp.fd = mkstemp(name.data());
    if (tmp.fd < 0) {
        why = Reason("cannot create a temporary file beside", target, errno);
        return false;
    }
    tmp.path = name.data();

    const mode_t mode = exists ? (st.st_mode & 07777) : NewFileMode();
    if (exists && (st.st_uid != geteuid() || st.st_gid != getegid()))
        (void)!fchown(tmp.fd, st.st_uid, st.st_gid);   // kept where allowed
    if (!WriteAll(tmp.fd, text) || fchmod(tmp.fd, mode) != 0 || fsync(tmp.fd) != 0) {
        why = Reason("cannot write", tmp.path, errno);
        return false;
    }
    const int fd = tmp.fd;
    tmp.fd = -1;
    if (close(fd) != 0) {
        why = Reason("cannot write", tmp.path, errno);
        return false;
    }
    if (rename(tmp.path.c_str(), target.c_str()) != 0) {
        why = Reason("cannot replace", target, errno);
        return false;
    }
    tmp.keep = true;
    return true;
}
