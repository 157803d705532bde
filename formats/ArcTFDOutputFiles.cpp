// Writing output files through temporary names.
#include "ArcTFDOutputFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

std::string Failure(const char *what, const std::string &path) {
    return std::string(what) + " " + path + ": " + std::strerror(errno);
}

// The permissions a new file gets from the process's umask.
mode_t FileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

bool WriteAll(int fd, const std::string &text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// A temporary file beside path holding text; its name in temp.
bool WriteTemporary(const CArcTFDOutputFile &file, std::string &temp, std::string &why) {
    const size_t slash = file.path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : file.path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? file.path : file.path.substr(slash + 1);
    temp = folder + "." + base + ".XXXXXX";
    const int fd = ::mkstemp(&temp[0]);
    if (fd < 0) {
        why = Failure("cannot create a file in the folder of", file.path);
        temp.clear();
        return false;
    }
    bool ok = ::fchmod(fd, FileMode()) == 0 && WriteAll(fd, file.text);
    if (!ok) why = Failure("cannot write", temp);
    if (::close(fd) != 0 && ok) {
        why = Failure("cannot write", temp);
        ok = false;
    }
    return ok;
}

}  // namespace

bool WriteOutputFiles(const std::vector<CArcTFDOutputFile> &files, std::string &why) {
    std::vector<std::string> temps;
    bool ok = true;
    for (const CArcTFDOutputFile &file : files) {
        std::string temp;
        ok = WriteTemporary(file, temp, why);
        if (!temp.empty()) temps.push_back(temp);
        if (!ok) break;
    }
    for (size_t i = 0; ok && i < files.size(); ++i) {
        if (std::rename(temps[i].c_str(), files[i].path.c_str()) != 0) {
            why = Failure("cannot rename into place", files[i].path);
            ok = false;
        } else {
            temps[i].clear();
        }
    }
    for (const std::string &temp : temps)
        if (!temp.empty()) ::unlink(temp.c_str());
    return ok;
}
