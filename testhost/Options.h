// Command line of dtphost.
#pragma once

#include "Engine.h"
#include "Faults.h"

#include <cstdint>
#include <string>
#include <vector>

namespace dtphost {

struct Options {
    std::string bind = "127.0.0.1";
    uint16_t port = 0;
    std::string script;      // empty: the built-in script
    std::string log;         // empty: standard error
    uint64_t logLimit = 64ull << 20;   // bytes per log file, 0: none
    unsigned lifetime = 0;   // seconds, 0: until SIGTERM or SIGINT
    bool check = false;      // parse the script and the faults, then exit
    bool help = false;
    HostConfig host;
    std::vector<Fault> faults;
};

// Parses argv; on failure returns false with the reason.
bool parseOptions(int argc, char** argv, Options& out, std::string& error);
const char* usageText();

}  // namespace dtphost
