// CZelSocketTransport: one TCP connection from a gateway process to the
// DTP port of one host (one locap).
//
// It connects, puts the socket into the request loop's poll set so that
// unsolicited host messages wake the loop, writes DTP frames (a 4-byte
// big-endian length, then the body) and reads them back whole, and traces
// the traffic into the log. The end of the connection during a read closes
// the transport and asks the worker process to retire after its current
// request; so does a frame length above 1 MiB, which is refused.
//
// Every wait on the host (connect, read, a full send buffer) ends at the
// deadline the caller set: a host that stops answering never holds the
// worker for ever. A termination signal (SIGTERM) also ends such a wait.
//
// Results are Result codes: -1001 not connected or not open, -1002
// keep-alive could not be set, -1003 bad length word, -1005 unknown host,
// -5 no socket, -1009 connection closed, -1011 no answer before the
// deadline (or a termination signal came), -1000 other read or write error.
#ifndef QOR_ZELSOCKETTRANSPORT_H
#define QOR_ZELSOCKETTRANSPORT_H

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "Result.h"

class CBuffer;

class CZelSocketTransport {
public:
    using Clock = std::chrono::steady_clock;

    // Smallest receive buffer of the socket and of a read buffer.
    static constexpr int kMinReceiveBuffer = 2560;
    // Largest frame body accepted.
    static constexpr uint32_t kMaxFrameLength = 1u << 20;

    explicit CZelSocketTransport(const std::string &name);
    CZelSocketTransport(const CZelSocketTransport &) = delete;
    CZelSocketTransport &operator=(const CZelSocketTransport &) = delete;
    // Closes a connection still open.
    ~CZelSocketTransport();

    // Connects to host (dotted IPv4, else looked up by name; the first
    // address is used) and port: 0, -1005, -5, -1001 or -1002.
    Result Create(const std::string &host, int port);
    // Takes over a connected stream socket (tests use a socket pair):
    // 0, or -1001 for a negative descriptor.
    Result Adopt(int fd);

    // Writes request's bytes from its offset as one frame; with bRead, then
    // reads one frame into reply.
    Result SendMessage(CBuffer &request, CBuffer &reply, bool bRead);
    // Reads one frame: buffer then holds the length word and the body, its
    // offset at the body.
    Result Read(CBuffer &buffer);
    Result ReadMessage(CBuffer &buffer) { return Read(buffer); }
    // Whether a message waits: Result::CommPollDataReady (1012),
    // CommPollFailed (-1011, nothing within timeout ms), CommDisconnected
    // (-1001, hang-up or not open), or Result(1) for a poll error or any
    // other event.
    Result Poll(int timeout);
    // Closes the connection; 0.
    Result Close();

    // One frame from a byte area.
    Result WriteText(const char *data, int length);
    // A buffer's bytes as they are, without a frame.
    Result WriteBlock(const CBuffer &buffer);
    // Reads exactly length bytes: length, or a negative Result code.
    int ReadBlock(char *area, int length);

    // Waits for the host end at this time (Clock::time_point::max(): never).
    void SetDeadline(Clock::time_point deadline) { m_Deadline = deadline; }
    Clock::time_point GetDeadline() const { return m_Deadline; }
    // The host address and port connected to (empty and 0 for Adopt).
    const std::string &GetHost() const { return m_strHost; }
    int GetPort() const { return m_nPort; }

    bool IsOpen() const { return m_bOpen != 0; }
    int GetSocket() const { return m_nSocket; }
    const std::string &GetName() const { return m_strName; }

    static bool IsClosed(int err);   // EPIPE, ENOENT, ECONNRESET, ENOTCONN, ECONNABORTED
    static bool IsError(int err);    // all but EINTR and EAGAIN
    static int GetError();
    static ssize_t Read(int fd, void *area, size_t length);
    static ssize_t Write(int fd, const void *area, size_t length);   // never raises SIGPIPE
    static int CloseSocket(int fd);

private:
    // ReadBlock; with tryFirst, bytes already there are taken before any
    // wait.
    int ReadBlock(char *area, int length, bool tryFirst);
    // Writes all n bytes: 0, -1009 or -1000.
    Result WriteAll(const char *p, size_t n);
    // The end of the connection, or a refused frame: close and retire.
    void CloseAndRetire();
    // Waits until fd is ready for events, at most until the deadline:
    // Success, CommPollFailed (deadline passed or termination asked for),
    // or CommGeneric (poll failed).
    Result WaitReady(int fd, short events);

    std::string m_strName;
    int32_t m_nSocket = -1;
    uint8_t m_bOpen = 0;
    Clock::time_point m_Deadline = Clock::time_point::max();
    std::string m_strHost;
    int m_nPort = 0;
};

#endif
