// Small helpers of the gateway's in-process tests: a scratch directory,
// files, and a log that every test writes into.
#pragma once

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace gwtest {

// A fresh directory under the test's working directory, removed at the end.
class ScratchDir {
public:
    ScratchDir() {
        char tmpl[] = "gw-XXXXXX";
        char *d = mkdtemp(tmpl);
        char *abs = d ? realpath(d, nullptr) : nullptr;
        path_ = abs ? abs : "";
        std::free(abs);
    }
    ~ScratchDir() {
        if (!path_.empty()) std::system(("rm -rf '" + path_ + "'").c_str());
    }
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;

    const std::string &path() const { return path_; }
    std::string file(const std::string &rel) const { return path_ + "/" + rel; }
    void mkdir(const std::string &rel) const { ::mkdir(file(rel).c_str(), 0755); }
    void write(const std::string &rel, const std::string &text) const {
        std::ofstream(file(rel), std::ios::binary) << text;
    }

private:
    std::string path_;
};

inline std::string readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline bool contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

}  // namespace gwtest
