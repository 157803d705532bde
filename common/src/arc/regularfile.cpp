// Opening a file to read without waiting on a FIFO or a device.
#include "regularfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

UniqueFile OpenRegularFile(const std::string &path, std::string *why) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (why) *why = std::strerror(errno);
        return nullptr;
    }
    struct stat st {};
    const char *fault = nullptr;
    if (::fstat(fd, &st) != 0)
        fault = std::strerror(errno);
    else if (!S_ISREG(st.st_mode))
        fault = "not a regular file";
    else if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
        fault = std::strerror(errno);
    FILE *f = fault ? nullptr : ::fdopen(fd, "r");
    if (!f) {
        if (!fault) fault = std::strerror(errno);
        ::close(fd);
        if (why) *why = fault;
        return nullptr;
    }
    return UniqueFile(f);
}
