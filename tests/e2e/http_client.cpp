#include "http_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <strings.h>

namespace e2e {

namespace {

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

HttpResponse failure(const std::string& why)
{
    HttpResponse r;
    r.status = -1;
    r.body = why;
    return r;
}

// Closes the descriptor whatever way the request ends.
struct Socket {
    int fd = -1;
    ~Socket() { if (fd >= 0) close(fd); }
};

bool waitFor(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        pollfd p{fd, events, 0};
        int n = poll(&p, 1, msLeft(deadline));
        if (n > 0) return true;
        if (n == 0) return false;
        if (errno != EINTR) return false;
    }
}

bool parseHead(const std::string& head, HttpResponse& r)
{
    size_t eol = head.find("\r\n");
    std::string statusLine = head.substr(0, eol);
    if (statusLine.compare(0, 5, "HTTP/") != 0) return false;
    size_t sp = statusLine.find(' ');
    if (sp == std::string::npos) return false;
    r.status = std::atoi(statusLine.c_str() + sp + 1);
    size_t at = eol == std::string::npos ? head.size() : eol + 2;
    while (at < head.size()) {
        size_t end = head.find("\r\n", at);
        if (end == std::string::npos) end = head.size();
        std::string line = head.substr(at, end - at);
        size_t colon = line.find(':');
        if (colon != std::string::npos) {
            size_t v = colon + 1;
            while (v < line.size() && line[v] == ' ') ++v;
            r.headers.emplace_back(line.substr(0, colon), line.substr(v));
        }
        at = end + 2;
    }
    return true;
}

}  // namespace

std::string HttpResponse::header(const std::string& name) const
{
    for (const auto& h : headers)
        if (strcasecmp(h.first.c_str(), name.c_str()) == 0) return h.second;
    return "";
}

bool HttpResponse::hasHeader(const std::string& name) const
{
    for (const auto& h : headers)
        if (strcasecmp(h.first.c_str(), name.c_str()) == 0) return true;
    return false;
}

std::vector<std::string> HttpResponse::all(const std::string& name) const
{
    std::vector<std::string> out;
    for (const auto& h : headers)
        if (strcasecmp(h.first.c_str(), name.c_str()) == 0) out.push_back(h.second);
    return out;
}

HttpResponse httpRequest(uint16_t port, const std::string& method, const std::string& target,
                         const std::string& body, const HeaderList& headers, int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    Socket s;
    s.fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (s.fd < 0) return failure(std::string("socket: ") + std::strerror(errno));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s.fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        if (errno != EINPROGRESS) return failure(std::string("connect: ") + std::strerror(errno));
        if (!waitFor(s.fd, POLLOUT, deadline)) return failure("connect: time-out");
        int err = 0;
        socklen_t len = sizeof err;
        getsockopt(s.fd, SOL_SOCKET, SO_ERROR, &err, &len);
        if (err) return failure(std::string("connect: ") + std::strerror(err));
    }

    std::string req = method + " " + target + " HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(port) +
                      "\r\nConnection: close\r\n";
    bool typed = false;
    for (const auto& h : headers) {
        req += h.first + ": " + h.second + "\r\n";
        if (strcasecmp(h.first.c_str(), "Content-Type") == 0) typed = true;
    }
    if (method == "POST") {
        if (!typed) req += "Content-Type: application/x-www-form-urlencoded\r\n";
        req += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    }
    req += "\r\n";
    req += body;

    size_t sent = 0;
    while (sent < req.size()) {
        ssize_t n = send(s.fd, req.data() + sent, req.size() - sent, MSG_NOSIGNAL);
        if (n > 0) { sent += static_cast<size_t>(n); continue; }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!waitFor(s.fd, POLLOUT, deadline)) return failure("send: time-out");
            continue;
        }
        return failure(std::string("send: ") + std::strerror(errno));
    }

    std::string in;
    char buf[16384];
    for (;;) {
        ssize_t n = recv(s.fd, buf, sizeof buf, 0);
        if (n > 0) { in.append(buf, static_cast<size_t>(n)); continue; }
        if (n == 0) break;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (!waitFor(s.fd, POLLIN, deadline))
                return failure("receive: time-out after " + std::to_string(in.size()) + " bytes");
            continue;
        }
        if (errno == ECONNRESET && !in.empty()) break;
        return failure(std::string("receive: ") + std::strerror(errno));
    }

    size_t split = in.find("\r\n\r\n");
    if (split == std::string::npos) return failure("no complete HTTP header in " + std::to_string(in.size()) + " bytes");
    HttpResponse r;
    if (!parseHead(in.substr(0, split), r)) return failure("bad status line: " + in.substr(0, 80));
    r.body = in.substr(split + 4);
    return r;
}

std::string formEncode(const std::string& value)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : value) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '*') out += static_cast<char>(c);
        else if (c == ' ') out += '+';
        else { out += '%'; out += hex[c >> 4]; out += hex[c & 15]; }
    }
    return out;
}

std::string formEncode(const HeaderList& fields)
{
    std::string out;
    for (const auto& f : fields) {
        if (!out.empty()) out += '&';
        out += formEncode(f.first) + "=" + formEncode(f.second);
    }
    return out;
}

std::string formDecode(const std::string& value)
{
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        if (c == '+') out += ' ';
        else if (c == '%' && i + 2 < value.size() && std::isxdigit(static_cast<unsigned char>(value[i + 1])) &&
                 std::isxdigit(static_cast<unsigned char>(value[i + 2]))) {
            out += static_cast<char>(std::stoi(value.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else out += c;
    }
    return out;
}

}  // namespace e2e
