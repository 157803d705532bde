// One TCP connection to a host's DTP port. See ZelSocketTransport.h.
#include "ZelSocketTransport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "ZelBuffer.h"
#include "logprint.h"
#include "xfcgin.h"

namespace {

bool LogOn(int bit) { return (logCtrlFlgs & bit) != 0; }

// Longest single wait, so that a termination signal that comes just before
// a wait starts is seen soon all the same.
constexpr int kWaitSliceMs = 250;

bool SetBlocking(int fd, bool blocking) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0) return false;
    return ::fcntl(fd, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK) == 0;
}

// The first IPv4 address of host: dotted, else looked up by name.
bool ResolveHost(const std::string &host, in_addr &address) {
    if (::inet_pton(AF_INET, host.c_str(), &address) == 1) return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) return false;
    address = reinterpret_cast<const sockaddr_in *>(found->ai_addr)->sin_addr;
    ::freeaddrinfo(found);
    return true;
}

}  // namespace

CZelSocketTransport::CZelSocketTransport(const std::string &name) : m_strName(name) {}

CZelSocketTransport::~CZelSocketTransport() {
    if (m_nSocket >= 0 || m_bOpen) Close();
}

bool CZelSocketTransport::IsClosed(int err) {
    return err == EPIPE || err == ENOENT || err == ECONNRESET || err == ENOTCONN || err == ECONNABORTED;
}

bool CZelSocketTransport::IsError(int err) { return err != EINTR && err != EAGAIN; }

int CZelSocketTransport::GetError() { return errno; }

ssize_t CZelSocketTransport::Read(int fd, void *area, size_t length) { return ::read(fd, area, length); }

ssize_t CZelSocketTransport::Write(int fd, const void *area, size_t length) {
    // A peer that has gone must give EPIPE, not kill the process.
    return ::send(fd, area, length, MSG_NOSIGNAL);
}

int CZelSocketTransport::CloseSocket(int fd) { return ::close(fd); }

Result CZelSocketTransport::Create(const std::string &host, int port) {
    if (m_nSocket >= 0 || m_bOpen) Close();
    if (LogOn(LOG_EVENTS)) logPrintf("#Socket: *** Attempt to connect to %s:%d ***\n", host.c_str(), port);

    in_addr address{};
    if (port < 1 || port > 0xFFFF) {
        if (LogOn(LOG_ERRORS)) logPrintf("#Socket: **** Bad port %d for host `%s'\n", port, host.c_str());
        return Result::CommNoHost;
    }
    if (!ResolveHost(host, address)) {
        if (LogOn(LOG_ERRORS)) logPrintf("#Socket: **** Bad Host name `%s'\n", host.c_str());
        return Result::CommNoHost;
    }

    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        if (LogOn(LOG_ERRORS)) logPrintf("#Socket: **** Unable to get socket! error=%d\n", errno);
        return Result::NoResource;
    }

    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<uint16_t>(port));
    peer.sin_addr = address;
    // Connected without blocking, so that an address that never answers
    // costs no more than the deadline.
    SetBlocking(fd, false);
    if (LogOn(LOG_DETAIL)) logPrintf("#Socket: connect - try sock[%d] port[%d]\n", fd, port);
    errno = 0;
    const int rc = ::connect(fd, reinterpret_cast<const sockaddr *>(&peer), sizeof peer);
    int err = rc == 0 ? 0 : errno;
    if (LogOn(LOG_DETAIL)) logPrintf("#Socket: connect - sock[%d] port[%d] ret[%d] error[%d]\n", fd, port, rc, err);
    Result waited = Result::Success;
    if (err == EINPROGRESS || err == EINTR || err == EAGAIN) {
        if (LogOn(LOG_ERRORS) && err != EINPROGRESS)
            logPrintf("#Socket: connect - ignore return code and retry connect\n");
        waited = WaitReady(fd, POLLOUT);
        socklen_t errLen = sizeof err;
        if (waited != Result::Success)
            err = ETIMEDOUT;
        else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &errLen) != 0)
            err = errno;
    }
    if (err != 0 || !SetBlocking(fd, true)) {
        if (LogOn(LOG_ERRORS)) {
            logPrintf("#Socket: connect - connect failed");
            logPrintf("#Socket: **** Unable to connect! error=%d\n", err);
        }
        CloseSocket(fd);
        return waited == Result::Success ? Result::CommDisconnected : waited;
    }
    if (LogOn(LOG_DETAIL)) logPrintf("#Socket: connect - connected OK....\n");

    int size = 0;
    socklen_t len = sizeof size;
    if (::getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, &len) == 0 && size < kMinReceiveBuffer) {
        size = kMinReceiveBuffer;
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }
    const int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0) {
        if (LogOn(LOG_ERRORS)) logPrintf("#Socket: setsockopt keepalive error = %d\n", errno);
        CloseSocket(fd);
        return Result::CommKeepAlive;
    }
    const Result r = Adopt(fd);
    m_strHost = host;
    m_nPort = port;
    return r;
}

Result CZelSocketTransport::Adopt(int fd) {
    if (fd < 0) return Result::CommDisconnected;
    if ((m_nSocket >= 0 || m_bOpen) && fd != m_nSocket) Close();
    m_strHost.clear();
    m_nPort = 0;
    m_nSocket = fd;
    m_bOpen = 1;
    xFcgiAddPoll(fd);
    return Result::Success;
}

Result CZelSocketTransport::Close() {
    if (m_bOpen && LogOn(LOG_ERRORS)) logPrintf("#Socket: *** connection closed ***\n");
    if (m_nSocket >= 0) {
        xFcgiDelPoll(m_nSocket);
        CloseSocket(m_nSocket);
        m_nSocket = -1;
    }
    m_bOpen = 0;
    return Result::Success;
}

void CZelSocketTransport::CloseAndRetire() {
    Close();
    xFcgiRetire();
}

Result CZelSocketTransport::WaitReady(int fd, short events) {
    for (;;) {
        if (bSigTerm) {
            if (LogOn(LOG_ERRORS)) logPrintf("#Socket: wait for host %s given up: termination requested\n", m_strName.c_str());
            return Result::CommPollFailed;
        }
        int wait = kWaitSliceMs;
        if (m_Deadline != Clock::time_point::max()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(m_Deadline - Clock::now()).count();
            if (left <= 0) {
                if (LogOn(LOG_ERRORS)) logPrintf("#Socket: no answer from host %s in time\n", m_strName.c_str());
                return Result::CommPollFailed;
            }
            if (left < wait) wait = static_cast<int>(left);
        }
        pollfd p{fd, events, 0};
        const int rc = ::poll(&p, 1, wait);
        // Ready, or a hang-up or error that the call which follows reports.
        if (rc > 0) return Result::Success;
        if (rc < 0 && errno != EINTR) {
            if (LogOn(LOG_ERRORS)) logPrintf("#Socket: poll failed with error %d\n", errno);
            return Result::CommGeneric;
        }
    }
}

Result CZelSocketTransport::WriteAll(const char *p, size_t n) {
    size_t done = 0;
    while (done < n) {
        errno = 0;
        const ssize_t rc = Write(m_nSocket, p + done, n - done);
        if (rc > 0) {
            done += static_cast<size_t>(rc);
            continue;
        }
        const int err = errno;
        if (rc < 0 && !IsError(err)) {
            if (err == EAGAIN) {
                const Result w = WaitReady(m_nSocket, POLLOUT);
                if (w != Result::Success) return w;
            }
            continue;
        }
        if (IsClosed(err)) return Result::CommClosed;
        if (LogOn(LOG_ERRORS)) logPrintf("#Socket: write failed with error %d\n", err);
        return Result::CommGeneric;
    }
    return Result::Success;
}

Result CZelSocketTransport::WriteText(const char *data, int length) {
    if (!m_bOpen || m_nSocket < 0) return Result::CommDisconnected;
    if (length < 0 || (length > 0 && !data)) {
        LOG_ASSERT(length >= 0 && (length == 0 || data));
        return Result::CommGeneric;
    }
    // Length word and body in one area, so that they go out together.
    std::string frame(4 + static_cast<size_t>(length), '\0');
    const uint32_t n = static_cast<uint32_t>(length);
    frame[0] = static_cast<char>(n >> 24);
    frame[1] = static_cast<char>(n >> 16);
    frame[2] = static_cast<char>(n >> 8);
    frame[3] = static_cast<char>(n);
    if (length > 0) std::memcpy(&frame[4], data, static_cast<size_t>(length));
    return WriteAll(frame.data(), frame.size());
}

Result CZelSocketTransport::WriteBlock(const CBuffer &buffer) {
    if (!m_bOpen || m_nSocket < 0) return Result::CommDisconnected;
    return WriteAll(buffer.GetBuffer(), static_cast<size_t>(std::max(buffer.GetLength(), 0)));
}

Result CZelSocketTransport::SendMessage(CBuffer &request, CBuffer &reply, bool bRead) {
    if (!m_bOpen) return Result::CommDisconnected;
    const int n = request.GetLength();
    if (LogOn(LOG_SOCKDUMP))
        logDumpHex("Socket Send Msg", request.GetBuffer(), n);
    else if (LogOn(LOG_DETAIL))
        logPrintf("#Socket: <<<<< Sending %d bytes then %s\n", n, bRead ? "read" : "return");
    const Result r = WriteText(request.GetBuffer(), n);
    if (r != Result::Success) {
        if (LogOn(LOG_DETAIL)) logPrintf("#Socket: ----- error %d on send\n", ResultCode(r));
        return r;
    }
    if (!bRead) return Result::Success;
    if (LogOn(LOG_DETAIL)) logPrintf("#Socket: ----- Sent, Now read\n");
    return Read(reply);
}

Result CZelSocketTransport::Read(CBuffer &buffer) {
    if (!m_bOpen) {
        if (LogOn(LOG_ERRORS)) logPrintf("#Socket: socket not open in read\n");
        return Result::CommDisconnected;
    }
    // Room for a usual frame at once; the buffer only ever grows.
    if (buffer.GetActualLength() < kMinReceiveBuffer) buffer.SetLength(kMinReceiveBuffer, 0);
    buffer.SetLength(4, 0);
    if (buffer.GetLength() != 4) return Result::NoMemory;

    const int got = ReadBlock(buffer.GetBuffer(), 4);
    if (got != 4) {
        if (LogOn(LOG_ERRORS)) logPrintf("#Socket: Read Failed: rcvdSize[%d], error[%d]\n", got, errno);
        buffer.SetLength(0, 0);
        return got < 0 ? static_cast<Result>(got) : Result::CommReadLen;
    }
    const auto *w = reinterpret_cast<const uint8_t *>(buffer.GetBuffer());
    const uint32_t n = static_cast<uint32_t>(w[0]) << 24 | static_cast<uint32_t>(w[1]) << 16 |
                       static_cast<uint32_t>(w[2]) << 8 | w[3];
    if (n > kMaxFrameLength) {
        // Nothing sane follows such a length: the connection is lost.
        if (LogOn(LOG_ERRORS))
            logPrintf("#Socket: frame length %u above the limit of %u bytes\n", n, kMaxFrameLength);
        buffer.SetLength(0, 0);
        CloseAndRetire();
        return Result::CommReadLen;
    }

    const int body = static_cast<int>(n);
    buffer.SetLength(4 + body, 1);
    if (buffer.GetLength() != 4 + body) {
        buffer.SetLength(0, 0);
        CloseAndRetire();
        return Result::NoMemory;
    }
    if (body > 0) {
        // The body came with its length word, as a rule: it is read
        // before any wait.
        const int rc = ReadBlock(buffer.GetBuffer() + 4, body, true);
        if (rc != body) {
            buffer.SetLength(0, 0);
            return rc < 0 ? static_cast<Result>(rc) : Result::CommReadLen;
        }
    }
    buffer.SetOffset(4);
    if (LogOn(LOG_SOCKDUMP))
        logDumpHex("Socket Read Msg", buffer.GetBuffer(), body);
    else if (LogOn(LOG_DETAIL))
        logPrintf("#Socket: >>>>> Received %d bytes\n", body);
    return Result::Success;
}

int CZelSocketTransport::ReadBlock(char *area, int length) { return ReadBlock(area, length, false); }

int CZelSocketTransport::ReadBlock(char *area, int length, bool tryFirst) {
    if (!m_bOpen || m_nSocket < 0) {
        if (LogOn(LOG_ERRORS)) logPrintf("#Socket: socket not connected \n");
        return ResultCode(Result::CommDisconnected);
    }
    int got = 0;
    while (got < length) {
        ssize_t rc;
        // errno is cleared so that a stale value never hides the end.
        errno = 0;
        if (tryFirst) {
            // What is there already is taken without a wait; only when
            // nothing is does the wait (with its deadline) come.
            tryFirst = false;
            rc = ::recv(m_nSocket, area + got, static_cast<size_t>(length - got), MSG_DONTWAIT);
            if (rc < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOTSOCK)) continue;
        } else {
            const Result ready = WaitReady(m_nSocket, POLLIN);
            if (ready != Result::Success) return ResultCode(ready);
            errno = 0;
            rc = Read(m_nSocket, area + got, static_cast<size_t>(length - got));
        }
        const int err = errno;
        if (rc > 0) {
            got += static_cast<int>(rc);
            continue;
        }
        if (rc == 0) {
            if (LogOn(LOG_DETAIL)) logPrintf("#Socket %d EOF detected\n", m_nSocket);
            CloseAndRetire();
            return ResultCode(Result::CommClosed);
        }
        if (!IsError(err)) continue;
        if (IsClosed(err)) {
            if (LogOn(LOG_DETAIL)) logPrintf("#Socket Eof detected while reading\n");
            return ResultCode(Result::CommClosed);
        }
        if (LogOn(LOG_EVENTS)) logPrintf("#Socket Other Error %d reading '%s'\n", err, std::strerror(err));
        return ResultCode(Result::CommGeneric);
    }
    return length;
}

Result CZelSocketTransport::Poll(int timeout) {
    if (!m_bOpen || m_nSocket < 0) {
        if (LogOn(LOG_ERRORS)) logPrintf("#Socket: socket not open in read\n");
        return Result::CommDisconnected;
    }
    pollfd p{m_nSocket, POLLIN, 0};
    const int rc = ::poll(&p, 1, timeout);
    if (rc == 0) return Result::CommPollFailed;
    if (rc < 0) {
        const int err = errno;
        logPrintf("#Error in Socket Poll: %d '%s'\n", err, std::strerror(err));
        return static_cast<Result>(1);
    }
    if (p.revents & POLLIN) return Result::CommPollDataReady;
    if (p.revents & POLLHUP) return Result::CommDisconnected;
    return static_cast<Result>(1);
}
