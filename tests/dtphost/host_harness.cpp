#include "host_harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace hosttest {

// ---------------------------------------------------------------------------
// Bytes

Bytes be16(uint16_t v) { return {uint8_t(v >> 8), uint8_t(v)}; }
Bytes be32(uint32_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }

uint16_t rd16(const Bytes& b, size_t at)
{
    if (at + 2 > b.size()) throw std::runtime_error("rd16 past the end");
    return uint16_t(b[at] << 8 | b[at + 1]);
}

uint32_t rd32(const Bytes& b, size_t at)
{
    if (at + 4 > b.size()) throw std::runtime_error("rd32 past the end");
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

Bytes text(const std::string& s, size_t width)
{
    Bytes b(width, ' ');
    for (size_t i = 0; i < width && i < s.size(); ++i) b[i] = uint8_t(s[i]);
    return b;
}

Bytes str(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

std::string asText(const Bytes& b, size_t at, size_t n)
{
    if (at + n > b.size()) throw std::runtime_error("asText past the end");
    return std::string(b.begin() + at, b.begin() + at + n);
}

Bytes slice(const Bytes& b, size_t at, size_t n)
{
    if (at + n > b.size()) throw std::runtime_error("slice past the end");
    return Bytes(b.begin() + at, b.begin() + at + n);
}

// ---------------------------------------------------------------------------
// Gateway packets

Bytes hello(const std::string& locap)
{
    return cat({str("tDTP"), {0x00, 0x21, 'W', 0x00}, text(locap, 8)});
}

static Bytes sessHdr(uint8_t cls, uint32_t sender, uint32_t receiver, const std::string& locap)
{
    return cat({{cls, 0, 0, 0}, be32(sender), be32(receiver), text(locap, 8), text("", 8),
                {0x09, 0x00, 0x18, 0x50}});
}

Bytes openPkt(uint32_t R, const std::string& locap) { return sessHdr(1, R, 0, locap); }
Bytes closePkt(uint32_t R, uint32_t L, const std::string& locap) { return sessHdr(4, R, L, locap); }

Bytes prstPkt(uint32_t L, const std::string& trid, const std::string& cda)
{
    Bytes b = cat({{6, 0, 0, 0}, be32(L), text("", 4), str("web"), Bytes(6, 0), {3, 1, 0},
                   text("", 8), text("", 4), text("", 8), text("", 16), {0xFF, 0xFF, 0xFF, 0x11},
                   {0x00, 0x18, 0x00, 0x50, 0x0E, 0, 0, 0}, Bytes(24, 0), text(trid, 8),
                   be32(uint32_t(cda.size())), str(cda)});
    if (b.size() != 108 + cda.size()) throw std::logic_error("PRST layout");
    return b;
}

static Bytes mcso(uint32_t L, const uint32_t ids[4], uint16_t type, uint16_t index,
                  const std::vector<Bytes>& params)
{
    Bytes b = cat({{30, 0, 0, 0}, be32(L), text("", 12), be32(0)});
    for (int i = 0; i < 4; ++i) b = cat({b, be32(ids[i])});
    size_t sum = 0;
    for (const Bytes& p : params) sum += p.size() + 4;
    b = cat({b, be16(type), be16(index), be16(uint16_t(params.size())), be16(uint16_t(sum))});
    for (const Bytes& p : params) b = cat({b, be16(uint16_t(p.size())), be16(3), p});
    return b;
}

Bytes inputPkt(uint32_t L, const uint32_t ids[4], const Bytes& pib, const std::string& name,
               char status, const std::string& data)
{
    uint16_t n = status == ' ' ? uint16_t(data.size()) : 0;
    Bytes mcs = cat({text(name, 8), text("", 4), {' ', ' '}, be16(n), {uint8_t(status), ' '}, be16(n),
                     status == ' ' ? str(data) : Bytes{}});
    return mcso(L, ids, 139, 3, {pib, mcs});
}

Bytes formatRequest(uint32_t L, const uint32_t ids[4], const std::string& name)
{
    return mcso(L, ids, 200, 0, {text(name, 8)});
}

Bytes dezurAnswer(uint32_t L, const std::string& group, const std::string& form,
                  const std::string& t1, const std::string& t2, const std::string& t3,
                  const std::string& data)
{
    auto len = [](const std::string& s) { return uint16_t(s.empty() ? 0 : s.size() + 1); };
    Bytes b = cat({{48, 0, 0, 0}, be32(L), text("", 8), be32(0), {' ', 0, 0, 0}, text(group, 8),
                   text(form, 24), be16(len(t1)), be16(len(t2)), be16(len(t3)), be16(len(data))});
    for (const std::string* s : {&t1, &t2, &t3, &data})
        if (!s->empty()) b = cat({b, str(*s), {0}});
    return b;
}

// ---------------------------------------------------------------------------
// Host packets

McsMsg parseMcso(const Bytes& body)
{
    if (body.size() < 48) throw std::runtime_error("MCSO shorter than 48 bytes");
    if (body[0] != 30 || body[1] || body[2] || body[3]) throw std::runtime_error("not an MCSO prefix");
    if (body.size() < 48 || slice(body, 8, 12) != text("", 12) || rd32(body, 20) != 0)
        throw std::runtime_error("MCSO bytes 8-23 are not blanks and zero");
    McsMsg m;
    m.receiver = rd32(body, 4);
    for (int i = 0; i < 4; ++i) m.ids[i] = rd32(body, 24 + 4 * i);
    m.type = rd16(body, 40);
    m.index = rd16(body, 42);
    m.count = rd16(body, 44);
    m.paramBytes = rd16(body, 46);
    size_t pos = 48, sum = 0;
    for (unsigned i = 0; i < m.count; ++i) {
        uint16_t len = rd16(body, pos);
        if (rd16(body, pos + 2) != 3) throw std::runtime_error("parameter type is not 3");
        m.params.push_back(slice(body, pos + 4, len));
        pos += 4 + len;
        sum += 4 + len;
    }
    if (pos != body.size()) throw std::runtime_error("bytes after the MCS parameters");
    if (sum != m.paramBytes) throw std::runtime_error("parameter bytes word is wrong");
    return m;
}

// ---------------------------------------------------------------------------
// Host process

std::string hostBinary()
{
    const char* dir = std::getenv("QOR_BINARY_DIR");
    return std::string(dir ? dir : ".") + "/testhost/dtphost";
}

std::string makeTempDir()
{
    char tmpl[] = "dtphost-XXXXXX";
    char* d = mkdtemp(tmpl);
    if (!d) throw std::runtime_error("mkdtemp failed");
    char* abs = realpath(d, nullptr);
    std::string out = abs;
    std::free(abs);
    return out;
}

void removeTree(const std::string& dir)
{
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}

void writeFile(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary);
    out << content;
    if (!out) throw std::runtime_error("cannot write " + path);
}

static std::vector<char*> argvOf(std::vector<std::string>& all)
{
    std::vector<char*> v;
    for (std::string& s : all) v.push_back(&s[0]);
    v.push_back(nullptr);
    return v;
}

HostProcess::HostProcess(const std::string& dir, const std::vector<std::string>& args)
    : logPath_(dir + "/host.log"), errPath_(dir + "/host.err")
{
    std::vector<std::string> all = {hostBinary(), "--port", "0", "--log", logPath_, "--lifetime", "120"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv = argvOf(all);
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ == 0) {
        dup2(out[1], 1);
        int e = open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (e >= 0) dup2(e, 2);
        close(out[0]);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    // The port line comes once the host listens: at once on a quiet
    // machine, some seconds later on a busy one (a sanitizer build).
    std::string line;
    pollfd p{out[0], POLLIN, 0};
    char c;
    while (line.find('\n') == std::string::npos && poll(&p, 1, 20000) > 0 && read(out[0], &c, 1) == 1)
        line += c;
    close(out[0]);
    port_ = uint16_t(std::atoi(line.c_str()));
    if (port_ == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        throw std::runtime_error("dtphost did not print its port");
    }
}

HostProcess::~HostProcess() { stop(); }

int HostProcess::stop()
{
    if (pid_ <= 0) return status_;
    kill(pid_, SIGTERM);
    int status = 0;
    pid_t done = 0;
    for (int i = 0; i < 250 && (done = waitpid(pid_, &status, WNOHANG)) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (done == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        status_ = -1;
    } else {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    pid_ = -1;
    return status_;
}

std::string HostProcess::errors() const
{
    std::ifstream in(errPath_);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string HostProcess::log() const
{
    std::ifstream in(logPath_);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool HostProcess::alive()
{
    return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0;
}

int runHost(const std::vector<std::string>& args, std::string& err)
{
    std::vector<std::string> all = {hostBinary()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv = argvOf(all);
    int pe[2];
    if (pipe(pe) != 0) throw std::runtime_error("pipe failed");
    pid_t pid = fork();
    if (pid == 0) {
        dup2(pe[1], 2);
        int null = open("/dev/null", O_WRONLY);
        if (null >= 0) dup2(null, 1);
        close(pe[0]);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pe[1]);
    char buf[512];
    ssize_t n;
    err.clear();
    while ((n = read(pe[0], buf, sizeof buf)) > 0) err.append(buf, size_t(n));
    close(pe[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// ---------------------------------------------------------------------------
// Client

Client::Client(uint16_t port)
{
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ < 0 || connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0)
        throw std::runtime_error(std::string("connect: ") + std::strerror(errno));
    int one = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

Client::~Client()
{
    if (fd_ >= 0) close(fd_);
}

void Client::sendRaw(const Bytes& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t w = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (w <= 0) throw std::runtime_error("send failed");
        done += size_t(w);
    }
}

void Client::send(const Bytes& body) { sendRaw(cat({be32(uint32_t(body.size())), body})); }

bool Client::readExact(uint8_t* p, size_t n, int timeoutMs)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t got = 0;
    while (got < n) {
        int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(
                           end - std::chrono::steady_clock::now()).count());
        pollfd pf{fd_, POLLIN, 0};
        if (left <= 0 || poll(&pf, 1, left) <= 0) throw std::runtime_error("time-out reading from dtphost");
        ssize_t r = recv(fd_, p + got, n - got, 0);
        if (r == 0) return false;
        if (r < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        got += size_t(r);
    }
    return true;
}

Bytes Client::read(int timeoutMs)
{
    uint8_t len[4];
    if (!readExact(len, 4, timeoutMs)) throw std::runtime_error("dtphost closed the connection");
    uint32_t n = uint32_t(len[0]) << 24 | uint32_t(len[1]) << 16 | uint32_t(len[2]) << 8 | len[3];
    if (n > (1u << 20)) throw std::runtime_error("frame length above 1 MiB");
    Bytes body(n);
    if (n && !readExact(body.data(), n, timeoutMs)) throw std::runtime_error("dtphost closed mid-frame");
    return body;
}

bool Client::silent(int ms)
{
    pollfd pf{fd_, POLLIN, 0};
    return poll(&pf, 1, ms) == 0;
}

bool Client::closedByPeer(int timeoutMs)
{
    pollfd pf{fd_, POLLIN, 0};
    if (poll(&pf, 1, timeoutMs) <= 0) return false;
    uint8_t c;
    return recv(fd_, &c, 1, 0) <= 0;
}

uint32_t Client::greetAndOpen(uint32_t R, Bytes* accept)
{
    Bytes h = read();
    if (h.size() != 16 || h[0] != 't') throw std::runtime_error("no HelloDTP greeting");
    send(hello("WEB1"));
    send(openPkt(R));
    Bytes a = read();
    if (a.size() != 32 || a[0] != 2 || rd32(a, 8) != R) throw std::runtime_error("no ACCEPT for the OPEN");
    if (accept) *accept = a;
    return rd32(a, 4);
}

uint32_t Client::startSession(uint32_t R, const std::string& trid, McsMsg& screen,
                              const std::string& cda)
{
    uint32_t L = greetAndOpen(R);
    send(prstPkt(L, trid, cda));
    Bytes prok = read();
    if (prok.size() != 20 || prok[0] != 7) throw std::runtime_error("no PROK after PRST");
    screen = parseMcso(read());
    return L;
}

}  // namespace hosttest
