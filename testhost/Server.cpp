#include "Server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

namespace dtphost {

namespace {

using Clock = std::chrono::steady_clock;

// More connections than any test or demo opens; beyond it new ones are
// closed at once.
constexpr size_t kMaxConnections = 2000;
constexpr int kTickMs = 200;

bool writeAll(int fd, const uint8_t* p, size_t n)
{
    while (n > 0) {
        ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

struct Delayed {
    Clock::time_point due;
    Output out;
};

}  // namespace

Server::~Server()
{
    stopping_ = true;
    for (auto& w : workers_)
        if (w->thread.joinable()) w->thread.join();
    if (listenFd_ >= 0) ::close(listenFd_);
}

int Server::listen(const std::string& address, uint16_t port, std::string& error)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) {
        error = "not an IPv4 address: " + address;
        return -1;
    }
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return -1;
    }
    int one = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        ::listen(listenFd_, 256) != 0) {
        error = "cannot listen on " + address + ":" + std::to_string(port) + ": " + std::strerror(errno);
        return -1;
    }
    socklen_t len = sizeof sa;
    getsockname(listenFd_, reinterpret_cast<sockaddr*>(&sa), &len);
    return ntohs(sa.sin_port);
}

void Server::run(const volatile std::sig_atomic_t& stop, unsigned lifetimeSeconds)
{
    const Clock::time_point start = Clock::now();
    int nextId = 1;
    while (!stop) {
        if (lifetimeSeconds &&
            Clock::now() - start >= std::chrono::seconds(lifetimeSeconds)) {
            log_.event(0, "lifetime of " + std::to_string(lifetimeSeconds) + " s is over");
            break;
        }
        // Threads of closed connections are joined as they finish.
        for (auto it = workers_.begin(); it != workers_.end();) {
            if ((*it)->done) {
                (*it)->thread.join();
                it = workers_.erase(it);
            } else {
                ++it;
            }
        }
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, kTickMs) <= 0) continue;
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        int fd = ::accept4(listenFd_, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
        if (fd < 0) continue;
        int id = nextId++;
        char addr[INET_ADDRSTRLEN] = "?";
        inet_ntop(AF_INET, &peer.sin_addr, addr, sizeof addr);
        if (workers_.size() >= kMaxConnections) {
            log_.error(id, std::string("connection from ") + addr + " refused: too many connections");
            ::close(fd);
            continue;
        }
        // Frames are small and answered at once: no Nagle delay.
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        // A gateway that stops reading must not hold a thread for ever.
        timeval sendLimit{10, 0};
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &sendLimit, sizeof sendLimit);
        log_.event(id, std::string("connection from ") + addr + ":" + std::to_string(ntohs(peer.sin_port)));
        auto w = std::make_unique<Worker>();
        Worker* raw = w.get();
        w->thread = std::thread([this, fd, id, raw] {
            serve(fd, id);
            raw->done = true;
        });
        workers_.push_back(std::move(w));
    }
    stopping_ = true;
    for (auto& w : workers_)
        if (w->thread.joinable()) w->thread.join();
    workers_.clear();
}

void Server::serve(int fd, int id)
{
    HexLog::Batch batch(log_);
    Peer peer;
    peer.id = id;
    std::vector<Delayed> later;

    // Sends what the engine asked for; false once the connection is to close.
    auto perform = [&](std::vector<Output> outs) {
        for (Output& o : outs) {
            if (o.delayMs > 0) {
                Clock::time_point due = Clock::now() + std::chrono::milliseconds(o.delayMs);
                o.delayMs = 0;
                later.push_back({due, std::move(o)});
                std::stable_sort(later.begin(), later.end(),
                                 [](const Delayed& a, const Delayed& b) { return a.due < b.due; });
                continue;
            }
            if (o.kind == Output::Drop) {
                log_.event(id, "closing the connection");
                return false;
            }
            if (o.kind == Output::Raw) {
                log_.raw(id, o.bytes.data(), o.bytes.size());
                log_.flush();
                if (!writeAll(fd, o.bytes.data(), o.bytes.size())) {
                    log_.error(id, std::string("write failed: ") + std::strerror(errno));
                    return false;
                }
                continue;
            }
            log_.frame(id, true, o.bytes.data(), o.bytes.size());
            log_.flush();
            Bytes wire = frame(o.bytes);
            if (!writeAll(fd, wire.data(), wire.size())) {
                log_.error(id, std::string("write failed: ") + std::strerror(errno));
                return false;
            }
            if (engine_.dropAfter(peer, true, o.bytes.empty() ? 0 : o.bytes[0])) return false;
        }
        return true;
    };

    bool alive = perform(engine_.greet(peer));
    Bytes in;
    std::vector<uint8_t> chunk(64 * 1024);
    while (alive && !stopping_) {
        log_.flush();   // nothing waits in the batch while the connection waits
        int timeout = kTickMs;
        if (!later.empty()) {
            auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(later.front().due - Clock::now());
            timeout = static_cast<int>(std::max<long long>(0, std::min<long long>(timeout, wait.count())));
        }
        pollfd p{fd, POLLIN, 0};
        int r = ::poll(&p, 1, timeout);
        while (alive && !later.empty() && later.front().due <= Clock::now()) {
            std::vector<Output> due;
            due.push_back(std::move(later.front().out));
            later.erase(later.begin());
            alive = perform(std::move(due));
        }
        if (!alive || r <= 0) continue;
        ssize_t n = ::recv(fd, chunk.data(), chunk.size(), 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) {
            if (n == 0) log_.event(id, "connection closed by the gateway");
            else log_.error(id, std::string("read failed: ") + std::strerror(errno));
            break;
        }
        in.insert(in.end(), chunk.begin(), chunk.begin() + n);
        size_t used = 0;
        while (alive && in.size() - used >= 4) {
            uint32_t len = getU32(&in[used]);
            if (len > kMaxFrameBody) {
                log_.error(id, "frame length " + std::to_string(len) +
                                   " above 1 MiB refused; closing the connection");
                alive = false;
                break;
            }
            if (in.size() - used - 4 < len) break;
            Bytes body(in.begin() + used + 4, in.begin() + used + 4 + len);
            used += 4 + len;
            log_.frame(id, false, body.data(), body.size());
            if (engine_.dropAfter(peer, false, body.empty() ? 0 : body[0])) {
                alive = false;
                break;
            }
            alive = perform(engine_.onFrame(peer, body));
        }
        in.erase(in.begin(), in.begin() + used);
    }
    if (!in.empty() && alive)
        log_.warning(id, std::to_string(in.size()) + " bytes of an incomplete frame left");
    log_.flush();
    ::close(fd);
    log_.event(id, "connection ended");
}

}  // namespace dtphost
