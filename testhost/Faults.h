// Fault switches of the stand-in host, given on the command line as
//   --fault NAME[:key=value,key=value...]
// Each switch fires on the gateway requests it names (key "on"), after
// letting "skip" of them pass, at most "times" times.  README.md lists the
// names and keys.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dtphost {

struct Fault {
    enum Kind {
        FirstFrame,   // a frame of another class in place of the greeting
        HelloLocap,   // greeting with another locap name
        Reject,       // REJECT in place of ACCEPT
        AcceptOther,  // an ACCEPT for another session before the real one
        Close,        // a host CLOSE
        Mcso,         // an extra screen, for this session or another one
        Pren,         // a program end
        Msgo,         // an MSGO message
        Free,         // a FREE program message
        EScreen,      // the reply screen as an 'E' message with 0xFF bytes
        Drop,         // close the connection after a chosen frame
        Garbage,      // a frame the gateway must refuse
        DezUr,        // a DezUR exchange in place of the first screen
        Silent,       // no answer at all (a stalled host)
        FormatReply,  // a screen-format reply nobody asked for
    };
    enum Pos { Before, Instead, After };

    Kind kind = Close;
    std::string given;       // as given, for the log
    std::string on;          // request filter: open prst input enter key format dezur any
    Pos pos = Instead;
    unsigned delayMs = 0;    // After: wait this long before sending
    unsigned skip = 0;       // matching events let pass first
    long times = -1;         // firings left, -1 unlimited
    std::string to = "self"; // self, other, or a gateway session id
    char reason = ' ';       // PREN reason
    uint8_t rejectReason = 0;
    std::string cda, name, group, form, header, screen, garbage;
    uint8_t cls = kAnyClass; // FirstFrame: class sent; Drop: class watched
    unsigned length = 32;    // FirstFrame: body length
    bool afterSend = false;  // Drop: watch sent (true) or received frames

    static constexpr uint8_t kAnyClass = 0;

    // True when the fault applies to request `event` ("open", "enter", ...)
    // now; counts the firing.
    bool fire(const std::string& event);
    // Drop: true when the connection is to close after this frame.
    bool fireFrame(bool sent, uint8_t frameClass);
};

// Parses one --fault argument; on failure returns false with the reason.
bool parseFault(const std::string& given, Fault& out, std::string& error);

// Packet class from a name ("accept", "mcso", "hello") or a number.
bool parseClass(const std::string& text, uint8_t& out);

}  // namespace dtphost
