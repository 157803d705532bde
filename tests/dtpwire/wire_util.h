// Helpers of the DTP wire tests: byte strings, packet bodies, caught packet
// exceptions, a log captured in the working folder, REMOTE_ADDR settings.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <sstream>
#include <string>

#include "DtpPacket.h"
#include "logprint.h"

namespace wiretest {

using Bytes = std::string;

// Bytes from small integers: B({0x74, 0x44}).
inline Bytes B(std::initializer_list<int> v) {
    Bytes out;
    for (int x : v) out.push_back(static_cast<char>(x));
    return out;
}
inline Bytes Be16(uint16_t v) { return B({v >> 8, v & 0xFF}); }
inline Bytes Be32(uint32_t v) { return B({int(v >> 24), int(v >> 16 & 0xFF), int(v >> 8 & 0xFF), int(v & 0xFF)}); }
inline Bytes Pad(const std::string &s, size_t width, char fill = ' ') {
    Bytes out = s.substr(0, width);
    out.append(width - out.size(), fill);
    return out;
}
inline Bytes Zeros(size_t n) { return Bytes(n, '\0'); }

// The bytes of a buffer from its read offset.
inline Bytes Body(const CBuffer &b) { return Bytes(b.GetBuffer(), static_cast<size_t>(b.GetLength())); }

inline std::string Hex(const Bytes &b) {
    std::string out;
    char x[4];
    for (unsigned char c : b) {
        std::snprintf(x, sizeof x, "%02X ", c);
        out += x;
    }
    return out;
}

// A received packet: length word, then the body, offset at the body.
inline CZelDtpPacket *Received(const Bytes &body) {
    auto *p = new CZelDtpPacket;
    const Bytes frame = Be32(static_cast<uint32_t>(body.size())) + body;
    p->AddChars(frame.data(), static_cast<int>(frame.size()));
    p->SetOffset(4);
    return p;
}

// The code of the packet exception f throws (deleted here), or 0.
inline int PktErrorCode(const std::function<void()> &f) {
    try {
        f();
    } catch (CZelPktException *e) {
        const int code = e->GetErrorCode();
        delete e;
        return code;
    }
    return 0;
}

// Sets (or, with null, removes) REMOTE_ADDR for one scope. The runtime
// library's putenv keeps the pointer, so the entry lives in the object.
class RemoteAddr {
public:
    explicit RemoteAddr(const char *value) {
        unsetenv("REMOTE_ADDR");
        if (value) {
            entry_ = std::string("REMOTE_ADDR=") + value;
            putenv(&entry_[0]);
        }
    }
    ~RemoteAddr() { unsetenv("REMOTE_ADDR"); }
    RemoteAddr(const RemoteAddr &) = delete;
    RemoteAddr &operator=(const RemoteAddr &) = delete;

private:
    std::string entry_;
};

// The process log on a file of the working folder, with the error, event
// and detail bits on.
class LogFile {
public:
    explicit LogFile(const std::string &name) : path_(name) {
        logClose();
        std::remove(name.c_str());
        logOpen(path_.c_str(), 0);
        saved_ = logCtrlFlgs;
        logCtrlFlgs |= LOG_ERRORS | LOG_EVENTS | LOG_DETAIL;
    }
    ~LogFile() {
        logCtrlFlgs = saved_;
        logClose();
    }
    std::string Text() const {
        logForceFlush();
        std::ifstream in(path_);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    bool Contains(const std::string &s) const { return Text().find(s) != std::string::npos; }

private:
    std::string path_;
    int saved_ = 0;
};

}  // namespace wiretest
