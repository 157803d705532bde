// The host's side of the DTP conversation: greets each connection, answers
// OPEN, PRST, screen input, format requests and DezUR reads, and keeps the
// host sessions.  Sessions belong to the host, not to a connection: any
// connection may continue or close any session.  The engine does no I/O;
// it turns each received body into the frames to send, so a test can drive
// it directly.
#pragma once

#include "Faults.h"
#include "HexLog.h"
#include "Script.h"
#include "Wire.h"

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace dtphost {

struct HostConfig {
    std::string locap = "QOR1";
    uint32_t firstId = 0x10001;  // first host session id handed out
    unsigned pibLength = kPibLong;
    std::string pibDate;         // 12 digits YYMMDDhhmmss; empty: local time
    std::string formatsDir;      // where <name>.t3z files are looked up
};

// One thing to do on the connection.
struct Output {
    enum Kind { Frame, Raw, Drop } kind = Frame;
    Bytes bytes;           // Frame: the body; Raw: bytes written as they are
    unsigned delayMs = 0;  // sent this long after the request was answered
};

// What the engine knows of one connection.
struct Peer {
    int id = 0;
    std::string gatewayLocap;  // from the gateway's HelloDTP
    unsigned hellos = 0;
};

class Engine {
public:
    Engine(HostConfig config, Script script, std::vector<Fault> faults, HexLog& log);

    // The first frame of a new connection.
    std::vector<Output> greet(Peer& peer);
    // The answer to one frame body from the gateway.
    std::vector<Output> onFrame(Peer& peer, const Bytes& body);
    // True when a drop fault closes the connection after this frame.
    bool dropAfter(const Peer& peer, bool sent, uint8_t cls);

    size_t openSessions() const;
    // Sessions the engine keeps whole: closed ones are forgotten once the
    // frame that closed them is answered, so a host that runs for days
    // does not grow. The gateway ids of the last kClosedKept closed ones
    // are kept, so that a late PRST or MCSO for one gets a CLOSE naming it.
    size_t knownSessions() const;
    static constexpr size_t kClosedKept = 4096;

private:
    struct Session {
        uint32_t L = 0, R = 0;
        uint64_t order = 0;
        bool open = true;
        std::string gatewayLocap, trid, user, cda;
        bool running = false;                // a program runs in the session
        const Transaction* trx = nullptr;
        const ScreenDef* current = nullptr;  // null: the first screen comes next
        unsigned inputs = 0, screens = 0;
        uint32_t ids[4] = {0, 0, 0, 0};
        Bytes pib;                           // the PIB sent last
        Bytes input;                         // screen data of the last input
        char key = ' ';
        bool dezurPending = false;
        std::string dzGroup, dzForm, dzHeader, dzScreen;
    };
    struct Plan {
        std::vector<Output> lead, before, main, after;
    };
    struct Dest {
        uint32_t L = 0, R = 0;
        Session* s = nullptr;
    };

    bool decoded(const Peer& peer, const std::string& error,
                 const std::vector<std::string>& warnings);
    void onHello(Peer& peer, const Bytes& body, std::string& error);
    void onOpen(Peer& peer, const Bytes& body, Plan& plan, std::string& error);
    void onClose(Peer& peer, const Bytes& body, std::string& error);
    void onPrst(Peer& peer, const Bytes& body, Plan& plan, std::string& error);
    void onMcso(Peer& peer, const Bytes& body, Plan& plan, std::string& error);
    void onInput(Peer& peer, Session& s, const Bytes& body, const McsMessage& m, Plan& plan,
                 std::string& error);
    void onFormatRequest(Peer& peer, Session& s, const Bytes& body, const McsMessage& m,
                         Plan& plan);
    void onDezUrRead(Peer& peer, const Bytes& body, Plan& plan, std::string& error);

    Session* find(uint32_t L);
    void close(Session& s);   // closed: forgotten after this frame
    void forgetClosed();
    void unknownSession(const Peer& peer, uint32_t L, const char* what, Plan& plan);
    Dest resolve(const std::string& to, Session* self, uint32_t selfR);
    Fault* firing(Fault::Kind kind, const std::string& event);
    void inject(const Peer& peer, const std::string& event, Session* self, uint32_t selfR,
                Plan& plan);
    std::vector<Output> faultFrames(const Peer& peer, const Fault& f, Session* self,
                                    uint32_t selfR);

    std::string expand(const std::string& text, const Session& s) const;
    Bytes screenData(const Session& s, const ScreenDef& sc, bool eScreen) const;
    Bytes buildPib(const Session& s, const ScreenDef& sc) const;
    Bytes programMessage(Session& s, const ScreenDef& sc, uint32_t receiver, bool eScreen);
    bool loadFormat(const std::string& name, FormatRecord& rec, std::string& why) const;

    HostConfig config_;
    Script script_;
    std::vector<Fault> faults_;
    HexLog& log_;
    mutable std::mutex mu_;
    std::map<uint32_t, Session> sessions_;  // by host session id L
    std::vector<uint32_t> closing_;         // closed while this frame is answered
    std::unordered_map<uint32_t, uint32_t> closedR_;  // L -> R of closed sessions
    std::deque<uint32_t> closedOrder_;      // their L, oldest first
    uint32_t nextId_;
    bool hasDrop_ = false;   // a drop switch is among the faults (fixed at start)
    uint64_t order_ = 0;
};

}  // namespace dtphost
