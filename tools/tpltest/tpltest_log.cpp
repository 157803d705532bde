// The -t log: "xfcgi.log" in the folder TMPDIR names (default /tmp), opened
// so that nobody can make tpltest write elsewhere: never through a symbolic
// link, never into anything but a regular file of the running user.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "logprint.h"
#include "tpltest.h"

std::string tpltestLogPath() {
    const char* tmp = std::getenv("TMPDIR");
    std::string folder = tmp && *tmp ? tmp : "/tmp";
    if (folder.back() != '/') folder += '/';
    return folder + "xfcgi.log";
}

FILE* tpltestOpenLog() {
    const std::string path = tpltestLogPath();
    // Non-blocking: a FIFO placed there must not stall the run.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int e = errno;
        // ENXIO: a FIFO nobody reads, a socket or a device.
        std::fprintf(stderr, "tpltest: log %s not written: %s\n", path.c_str(),
                     e == ELOOP   ? "it is a symbolic link"
                     : e == ENXIO ? "it is not a regular file"
                                  : std::strerror(e));
        return nullptr;
    }
    struct stat st {};
    const char* refused = nullptr;
    if (::fstat(fd, &st) != 0)
        refused = std::strerror(errno);
    else if (!S_ISREG(st.st_mode))
        refused = "it is not a regular file";
    else if (st.st_uid != ::geteuid())
        refused = "it belongs to another user";
    if (refused) {
        std::fprintf(stderr, "tpltest: log %s not written: %s\n", path.c_str(), refused);
        ::close(fd);
        return nullptr;
    }
    // The log opens (and empties) its file by name, as any log. The name of
    // the descriptor held here is the file just checked, whatever becomes
    // of the path meanwhile; it stays open for as long as the log may open
    // its file again.
    return logOpen(("/proc/self/fd/" + std::to_string(fd)).c_str(), 0);
}
