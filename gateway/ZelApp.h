// CZelApp: the gateway program's application object. It is the server
// context with the FastCGI request loop: poll the FastCGI socket and the
// host sockets, accept and serve one request at a time, take host
// messages between requests, and leave the loop on a poll or accept error
// or a failed reload (the web server then starts a fresh worker). The use
// limit, a replaced executable, a changed configuration file and a lost
// host connection retire the worker: its program starts afresh in the same
// process on the same socket, so the web server never finds the worker
// gone and every connection already queued is answered.
#ifndef QOR_ZELAPP_H
#define QOR_ZELAPP_H

#include <cstdint>
#include <string>
#include <vector>

#include "ZelServerContext.h"

class CZelApp : public CZelServerContext {
public:
    // Milliseconds of one wait for a request or host input.
    static constexpr int kPollTimeoutMs = 300000;
    // Most requests a retiring worker that cannot start afresh still takes
    // from its socket before it ends.
    static constexpr long kMaxDrained = 32;

    CZelApp() = default;

    int Init(bool reconfigure) { return CZelServerContext::Init(reconfigure); }
    void Exit() { CZelServerContext::Exit(); }

    // The request loop; 0 whenever it ends (the FastCGI state finished).
    int Run();
    // How the program was started (its path, arguments and environment),
    // so that a retiring worker can start it afresh.
    void SetStartCommand(const std::string &program, const std::vector<std::string> &args,
                         const std::vector<std::string> &environment);
    // 1 to go on; 0 when the executable (SCRIPT_FILENAME) was replaced.
    int AutoUpgrade(CZelServerContext *context);

    long GetRequestCount() const { return m_nRequests; }

private:
    // After a served request: 0 to retire (replaced executable or changed
    // configuration file), else 1.
    int CheckForUpdates();

    // Replaces this process by a fresh run of the program, after the
    // worker's own end (Exit); returns at once, changing nothing, when the
    // program cannot be run or termination was asked for.
    void StartAfresh();
    // The end of a retired worker's loop; 0.
    int Retired();

    int32_t m_nExecTime = 0;   // modification time of the executable
    long m_nRequests = 0;      // accepted requests
    long m_nDrainLeft = -1;    // retiring: requests it may still take (-1: not yet)
    std::string m_strProgram;  // how the program was started
    std::vector<std::string> m_Args;
    std::vector<std::string> m_Environment;
};

#endif
