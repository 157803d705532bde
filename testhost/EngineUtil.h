// Small helpers shared by the engine's source files.
#pragma once

#include "Engine.h"

#include <cstdio>
#include <string>

namespace dtphost {
namespace detail {

inline std::string hex(uint32_t v)
{
    char s[16];
    std::snprintf(s, sizeof s, "%X", v);
    return s;
}

// Session ids as the log shows them: "L1A" for the host's, "R5" for the gateway's.
inline std::string sid(char prefix, uint32_t v) { return std::string(1, prefix) + hex(v); }

inline Output frameOut(Bytes body) { return Output{Output::Frame, std::move(body), 0}; }
inline Output dropOut() { return Output{Output::Drop, {}, 0}; }

// Text for the log, other bytes as \xHH.
inline std::string printable(const std::string& s)
{
    std::string out;
    for (unsigned char c : s) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char b[8];
            std::snprintf(b, sizeof b, "\\x%02X", c);
            out += b;
        }
    }
    return out;
}

}  // namespace detail
}  // namespace dtphost
