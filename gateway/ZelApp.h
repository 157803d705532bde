// CZelApp: the gateway program's application object. It is the server
// context with the FastCGI request loop: poll the FastCGI socket and the
// host sockets, accept and serve one request at a time, take host
// messages between requests, and leave the loop on a poll or accept error
// or a failed reload. The use limit, a replaced executable, a changed
// configuration file and a lost host connection retire the worker: it
// answers the connections already queued on its socket, then leaves (the
// web server then starts a fresh worker).
#ifndef QOR_ZELAPP_H
#define QOR_ZELAPP_H

#include <cstdint>

#include "ZelServerContext.h"

class CZelApp : public CZelServerContext {
public:
    // Milliseconds of one wait for a request or host input.
    static constexpr int kPollTimeoutMs = 300000;

    CZelApp() = default;

    int Init(bool reconfigure) { return CZelServerContext::Init(reconfigure); }
    void Exit() { CZelServerContext::Exit(); }

    // The request loop; 0 whenever it ends (the FastCGI state finished).
    int Run();
    // 1 to go on; 0 when the executable (SCRIPT_FILENAME) was replaced.
    int AutoUpgrade(CZelServerContext *context);

    long GetRequestCount() const { return m_nRequests; }

private:
    // After a served request: 0 to retire (replaced executable or changed
    // configuration file), else 1.
    int CheckForUpdates();

    int32_t m_nExecTime = 0;   // modification time of the executable
    long m_nRequests = 0;      // accepted requests
};

#endif
