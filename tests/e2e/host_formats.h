// Hosts that serve screen formats built in a test: the format bytes and a
// stack whose host runs a script with them.
#pragma once

#include "checks.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace e2e {

inline std::string bytes(std::initializer_list<int> list)
{
    std::string s;
    for (int b : list) s += static_cast<char>(b);
    return s;
}

// A screen format: the 48-byte header (24 x 80 from row 1; flags29 0x20
// makes it an SFS emulation format) and its field area.
inline std::string screenFormat(const std::string& name, const std::string& area, int flags29 = 0)
{
    const std::string n = pad(name, 8);
    const int size = static_cast<int>(area.size());
    return bytes({0, 0, 0, 0, 0, 1, 0, 1, 24, 80, 0, 0}) + n + n +
           bytes({1, flags29, ':', 1, 0, 0, 0, 0, 0, 0, size >> 8, size & 255, 3, 2, 2, 4, 0, 0, 0, 0}) + area;
}

// A stack whose host runs `script` with the formats in `formats` (file
// name, bytes), each named in the configuration as a transaction. They are
// written to a folder of this test process's own (other runs of the suite
// may be going on).
inline StackOptions hostWith(const std::string& script,
                             const std::vector<std::pair<std::string, std::string>>& formats,
                             const std::string& extra = "")
{
    static const struct Folder {   // removed when the process ends
        std::string path = std::string(::testing::TempDir()) + "/conversion-formats-" + std::to_string(getpid());
        ~Folder() { hosttest::removeTree(path); }
    } folder;
    const std::string& dir = folder.path;
    std::system(("rm -rf '" + dir + "'").c_str());
    mkdir(dir.c_str(), 0755);
    for (const auto& f : formats) hosttest::writeFile(dir + "/" + f.first, f.second);
    hosttest::writeFile(dir + "/script.dts", script);
    StackOptions o;
    o.hostScript = dir + "/script.dts";
    o.hostArgs = {"--formats", dir};
    o.configExtra = extra;
    return o;
}

}  // namespace e2e
