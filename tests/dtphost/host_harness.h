// Test side of the stand-in host: starts dtphost as a child process, talks
// to it over loopback like a gateway would, and builds and parses the
// frames byte by byte on its own (nothing is shared with the host's code).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace hosttest {

using Bytes = std::vector<uint8_t>;

// --- bytes ----------------------------------------------------------------
Bytes be16(uint16_t v);
Bytes be32(uint32_t v);
uint16_t rd16(const Bytes& b, size_t at);
uint32_t rd32(const Bytes& b, size_t at);
Bytes text(const std::string& s, size_t width);  // blank-padded or cut
Bytes str(const std::string& s);
Bytes cat(std::initializer_list<Bytes> parts);
std::string asText(const Bytes& b, size_t at, size_t n);
Bytes slice(const Bytes& b, size_t at, size_t n);

// --- what a gateway sends ------------------------------------------------------
Bytes hello(const std::string& locap);
Bytes openPkt(uint32_t R, const std::string& locap = "WEB1");
Bytes closePkt(uint32_t R, uint32_t L, const std::string& locap = "WEB1");
Bytes prstPkt(uint32_t L, const std::string& trid, const std::string& cda = "");
// Screen input: the PIB and an MCS header with `status`; for a blank status
// the data follows the header and count is its length.
Bytes inputPkt(uint32_t L, const uint32_t ids[4], const Bytes& pib, const std::string& name,
               char status, const std::string& data = "");
Bytes formatRequest(uint32_t L, const uint32_t ids[4], const std::string& name);
Bytes dezurAnswer(uint32_t L, const std::string& group, const std::string& form,
                  const std::string& t1, const std::string& t2, const std::string& t3,
                  const std::string& data);

// --- what the host sends -------------------------------------------------------
struct McsMsg {
    uint32_t receiver = 0;
    uint32_t ids[4] = {0, 0, 0, 0};
    uint16_t type = 0, index = 0, count = 0, paramBytes = 0;
    std::vector<Bytes> params;
};
// Parses an MCSO and checks its framing (prefix, blanks, parameter sum and
// that the parameters fill the body exactly); throws on any deviation.
McsMsg parseMcso(const Bytes& body);

// --- the host process -----------------------------------------------------------
class HostProcess {
public:
    // Starts dtphost with `args` plus --port 0, a log in `dir` and a lifetime.
    HostProcess(const std::string& dir, const std::vector<std::string>& args);
    ~HostProcess();
    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;

    uint16_t port() const { return port_; }
    pid_t pid() const { return pid_; }
    std::string log() const;
    std::string errors() const;  // its standard error (sanitizer reports)
    bool alive();
    // Ends it with SIGTERM; its exit status, or -1 when it did not exit.
    int stop();

private:
    pid_t pid_ = -1;
    int status_ = -1;
    uint16_t port_ = 0;
    std::string logPath_, errPath_;
};

// Runs dtphost to its end with `args`; returns the exit status and the
// standard error text.
int runHost(const std::vector<std::string>& args, std::string& err);

std::string hostBinary();
std::string makeTempDir();
void removeTree(const std::string& dir);
void writeFile(const std::string& path, const std::string& content);

// --- a gateway-like connection ----------------------------------------------------
class Client {
public:
    explicit Client(uint16_t port);
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    void send(const Bytes& body);         // one frame
    void sendRaw(const Bytes& bytes);     // as they are
    Bytes read(int timeoutMs = 20000);    // one frame body; throws on EOF or time-out
    bool silent(int ms);                  // nothing arrives within ms
    bool closedByPeer(int timeoutMs = 20000);  // end of stream, nothing before it

    // HelloDTP exchange, OPEN and PRST as a gateway does it; returns the
    // host session id L and leaves the first screen in `screen`.
    uint32_t greetAndOpen(uint32_t R, Bytes* accept = nullptr);
    uint32_t startSession(uint32_t R, const std::string& trid, McsMsg& screen,
                          const std::string& cda = "");

private:
    bool readExact(uint8_t* p, size_t n, int timeoutMs);
    int fd_ = -1;
};

}  // namespace hosttest
