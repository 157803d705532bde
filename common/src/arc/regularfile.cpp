// Opening a file without waiting on a FIFO or a device.
#include "regularfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// The open does not wait (a FIFO without its other end, a device); what is
// opened must be a regular file, and is then read and written as usual.
UniqueFile openRegular(const std::string &path, int flags, const char *mode, std::string *why) {
    const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int e = errno;
        // ENXIO: a FIFO that no reader has open, or a device that is absent.
        if (why) *why = e == ENXIO ? "not a regular file" : std::strerror(e);
        errno = e == ENXIO ? EINVAL : e;
        return nullptr;
    }
    struct stat st {};
    const char *fault = nullptr;
    int e = 0;
    if (::fstat(fd, &st) != 0)
        e = errno;
    else if (!S_ISREG(st.st_mode))
        fault = "not a regular file", e = EINVAL;
    else if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
        e = errno;
    FILE *f = e ? nullptr : ::fdopen(fd, mode);
    if (!f) {
        if (!e) e = errno;
        ::close(fd);
        if (why) *why = fault ? fault : std::strerror(e);
        errno = e;
        return nullptr;
    }
    return UniqueFile(f);
}

}  // namespace

UniqueFile OpenRegularFile(const std::string &path, std::string *why) {
    return openRegular(path, O_RDONLY, "r", why);
}

UniqueFile OpenRegularFileToWrite(const std::string &path, int flags, std::string *why) {
    return openRegular(path, flags, (flags & O_APPEND) ? "a" : "w", why);
}
