// Test side of the DTP protocol tests: a private installation directory per
// test (its own session table, screen-data files and gateway log), the
// stand-in host's frames read back from its hex log, the frames a gateway
// must send built byte by byte, and forked children for cases that end a
// connection or run the cleaner.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "dtphost/host_harness.h"

class CBuffer;

namespace prototest {

using hosttest::Bytes;

// --- the host's log --------------------------------------------------------
struct Frame {
    int conn = 0;        // connection number of the host ([cN])
    bool sent = false;   // sent by the host (else received from the gateway)
    Bytes body;
};
std::vector<Frame> ParseHostLog(const std::string &log);
// Frames the host received, in order (all connections, or one).
std::vector<Frame> Received(const std::vector<Frame> &all, int conn = 0);
std::vector<Frame> Sent(const std::vector<Frame> &all, int conn = 0);
std::string Hex(const Bytes &b);

// --- frames a gateway sends -------------------------------------------------
// PRST as this gateway builds it: no Unix user or user, no client address.
Bytes ExpectedPrst(uint32_t L, const std::string &trid, const std::string &cda, int pool = 0);
// An MCS header and data as the conversation hands it to SendMcso.
Bytes McsScreen(const std::string &name, char status, const std::string &data);
CBuffer ToBuffer(const Bytes &b);
Bytes ToBytes(const CBuffer &b);

// --- one test's directory ---------------------------------------------------
// <tmp>/root/work is the working directory while the object lives (the
// session table's key and ./latestmcsdata hang on it); <tmp>/root/logs
// holds ".shmid", the gateway log and the host's files. The destructor ends
// a cleaner named in the control block, removes the segment and the tree.
class ProtoDir {
public:
    ProtoDir();
    ~ProtoDir();
    ProtoDir(const ProtoDir &) = delete;
    ProtoDir &operator=(const ProtoDir &) = delete;

    std::string Work() const { return m_root + "/work"; }
    std::string Logs() const { return m_root + "/logs"; }
    std::string GatewayLog() const { return Logs() + "/gateway.log"; }
    std::string ReadGatewayLog() const;
    key_t Key() const;
    bool SegmentExists() const;
    // The cleaner pid stored in the control block, 0 when none (or no table).
    int CleanerPid() const;
    // Kills the cleaner named in the control block (when it still runs in
    // this directory) and waits for its end.
    void EndCleaner();

private:
    std::string m_base, m_root, m_oldCwd;
};

std::string ReadFile(const std::string &path);
// Script of the test transactions served by the stand-in host.
std::string HostScript();
// Waits until pred is true (polling every 20 ms); false on time-out.
bool WaitFor(const std::function<bool()> &pred, int timeoutMs);
// Whether no process holds the cleaner byte of the lock file of the table
// of the current working directory.
bool CleanerLockFree();
// Waits until process pid has ended (or is a zombie).
bool WaitGone(pid_t pid, int timeoutMs);
// The working directory of process pid, empty when it cannot be read (it
// has ended, or is a zombie).
std::string WorkingDirectoryOf(pid_t pid);
// Kills every process but this one whose working directory is dir and
// waits for each to go: whatever a test started there (workers, cleaners,
// children), also after they were handed to another parent.
void EndProcessesIn(const std::string &dir);

// A listening socket on loopback that plays a host by hand.
class HandHost {
public:
    HandHost();
    ~HandHost();
    HandHost(const HandHost &) = delete;
    HandHost &operator=(const HandHost &) = delete;
    int Port() const { return port_; }
    // Takes the next connection (closing the one before).
    bool Accept(int timeoutMs);
    void Send(const Bytes &body);   // one frame
    // Ends the connection taken last.
    void Hangup();
    // The frames that arrive within timeoutMs (until the end of the stream,
    // or until upTo frames have come).
    std::vector<Bytes> Read(int timeoutMs, size_t upTo = SIZE_MAX);

private:
    int fd_ = -1, conn_ = -1, port_ = 0;
};

// Runs body in a forked child and returns the text it produced (it writes
// nothing on its own into the test's output). "child failed: ..." when it
// ended otherwise.
std::string InChild(const std::function<std::string()> &body, int timeoutMs = 20000);

}  // namespace prototest
