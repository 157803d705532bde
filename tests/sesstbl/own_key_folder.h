// A working folder whose session table key is this test's own.
//
// The key of a folder's session table (and the name of its lock file under
// /tmp) comes from the folder's inode: two folders can share it, and a
// segment or lock file that another run (or a killed one) has under the
// same key would be taken for this test's. The folder is made again, under
// a name beside it, until no segment and no lock file carry its key, then
// renamed into place (a rename keeps the inode, and so the key).
#ifndef QOR_TESTS_OWN_KEY_FOLDER_H
#define QOR_TESTS_OWN_KEY_FOLDER_H

#include "ZelSessionTableLayout.h"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace sesstbl {

inline bool KeyIsFree(key_t key)
{
    return key != -1 && shmget(key, 0, 0) < 0 && access(LockFilePath(static_cast<int32_t>(key)).c_str(), F_OK) != 0;
}

// Makes the folder `path` (its parent must exist) with a free key.
inline void MakeFolderWithOwnKey(const std::string &path, mode_t mode = 0755)
{
    std::vector<std::string> taken;   // kept until the end, so that each try gets a new inode
    bool made = false;
    for (int n = 0; n < 64 && !made; ++n) {
        const std::string tryPath = path + ".try" + std::to_string(n);
        if (mkdir(tryPath.c_str(), mode) != 0) continue;
        if (KeyIsFree(ftok(tryPath.c_str(), kFtokProjectId)) && rename(tryPath.c_str(), path.c_str()) == 0)
            made = true;
        else
            taken.push_back(tryPath);
    }
    for (const std::string &t : taken) rmdir(t.c_str());
    if (!made) throw std::runtime_error("no folder with a free session table key beside " + path);
}

}  // namespace sesstbl

#endif
