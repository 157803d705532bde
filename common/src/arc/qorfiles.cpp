// The transaction host's root directory and the names made from it.
#include "qorfiles.h"

#include <cstdlib>

namespace {

struct HostNames {
    bool done = false;
    int hostProcess = 0;
    std::string root, files, boot;
};

HostNames &names()
{
    static HostNames n;
    return n;
}

} // namespace

int qorfiles(const char *root, bool again)
{
    HostNames &n = names();
    if (n.done && !again)
        return n.hostProcess;
    const char *env = std::getenv("QORROOT");
    n.root = env ? env : root ? root : "/qorix";
    if (n.root.empty() || n.root.back() != '/')
        n.root += '/';
    n.files = n.root + "qorfiles";
    n.boot = n.root + "qorboot.sys";
    n.hostProcess = std::getenv("QoRsHmId") ? 1 : 0;
    n.done = true;
    return n.hostProcess;
}

const std::string &qorixroot()
{
    qorfiles(nullptr);
    return names().root;
}

const std::string &qorixfiles()
{
    qorfiles(nullptr);
    return names().files;
}

const std::string &qorixboot()
{
    qorfiles(nullptr);
    return names().boot;
}
