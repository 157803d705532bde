// TCP side of the stand-in host: listens on one port and serves every
// connection in a thread of its own, framing what the engine sends and
// cutting what arrives into frames.
#pragma once

#include "Engine.h"
#include "HexLog.h"

#include <atomic>
#include <csignal>
#include <list>
#include <memory>
#include <string>
#include <thread>

namespace dtphost {

class Server {
public:
    Server(Engine& engine, HexLog& log) : engine_(engine), log_(log) {}
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds and listens; returns the port listened on, or -1 with a reason.
    int listen(const std::string& address, uint16_t port, std::string& error);

    // Serves until `stop` becomes non-zero or `lifetimeSeconds` (0: no
    // limit) have passed; every connection is closed before it returns.
    void run(const volatile std::sig_atomic_t& stop, unsigned lifetimeSeconds);

private:
    struct Worker {
        std::thread thread;
        std::atomic<bool> done{false};
    };

    void serve(int fd, int id);

    Engine& engine_;
    HexLog& log_;
    int listenFd_ = -1;
    std::atomic<bool> stopping_{false};
    std::list<std::unique_ptr<Worker>> workers_;
};

}  // namespace dtphost
