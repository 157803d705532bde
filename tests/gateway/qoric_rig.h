// A gateway installation for tests: a scratch directory with a working
// directory, a log directory, templates and a configuration file; the
// stand-in host; qoric workers listening on a Unix socket as the web
// server's FastCGI manager would start them; and requests sent through
// cgi-fcgi. The destructor ends every process it started, the cleaner and
// the log server, and removes the session table.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dtphost/host_harness.h"

namespace gwtest {

struct Response {
    bool ok = false;           // cgi-fcgi ran and the worker answered
    std::string raw;           // everything the worker wrote
    std::string headers;       // up to the empty line
    std::string body;

    bool has(const std::string &part) const { return raw.find(part) != std::string::npos; }
};

struct RequestOptions {
    std::string method = "GET";
    std::string uri = "/qoric";
    std::string query;
    std::string body;
    std::string cookie;
    std::string remoteAddr = "127.0.0.1";
    std::vector<std::string> env;   // extra NAME=value entries
};

class QoricRig {
public:
    // hostArgs: arguments of dtphost besides port, log and lifetime (no
    // host when hostArgs holds "none").
    explicit QoricRig(const std::vector<std::string> &hostArgs = {});
    ~QoricRig();
    QoricRig(const QoricRig &) = delete;
    QoricRig &operator=(const QoricRig &) = delete;

    const std::string &base() const { return base_; }
    std::string file(const std::string &rel) const { return base_ + "/" + rel; }
    std::string workDir() const { return file("work"); }
    std::string logPath() const { return file("logs/qoric.log"); }
    std::string confPath() const { return file("conf/qoric.conf"); }
    uint16_t hostPort() const { return host_ ? host_->port() : 0; }
    hosttest::HostProcess *host() { return host_.get(); }
    void write(const std::string &rel, const std::string &text) const;

    // The standard configuration with extra elements inside the root.
    void configure(const std::string &extra = "");
    // The demo's templates for the ECHO, LOGON, MENU and DETAIL screens.
    void writeTemplates();

    // The workers' FastCGI socket, listening (made by the first call, or
    // by the first worker); its path.
    std::string listen();
    // A worker on the shared socket; env entries are added to its
    // environment; program, when given, is run in place of qoric. Its pid.
    pid_t startWorker(const std::vector<std::string> &env = {}, const std::string &program = "");
    // Runs qoric with arguments to its end; its exit status (-1: killed).
    int runQoric(const std::vector<std::string> &args, int timeoutMs = 20000);

    Response request(const RequestOptions &req, int timeoutMs = 20000);
    Response get(const std::string &uri, const std::string &query = "");
    Response post(const std::string &uri, const std::string &query, const std::string &body);

    // The worker's exit status, waiting up to timeoutMs; -2 still running.
    int waitWorker(pid_t pid, int timeoutMs);
    bool alive(pid_t pid);
    // Open sockets of a process other than its descriptor 0; -1 when its
    // descriptors cannot be read.
    int socketsBesidesZero(pid_t pid) const;

    std::string log() const;
    // Waits until the log holds needle (count times); false on time-out.
    bool waitLog(const std::string &needle, int timeoutMs, size_t count = 1) const;

    // The session table of the working directory (0 / -1 when absent).
    int32_t cleanerPid() const;
    uint32_t reconfigStamp() const;
    bool writeStamp(uint32_t value) const;
    bool tableExists() const;

    // Sanitizer reports of the workers (empty when clean).
    std::string sanitizerReports() const;

private:
    void stopAll();

    std::string base_;
    std::unique_ptr<hosttest::HostProcess> host_;
    std::vector<pid_t> workers_;
    int listenFd_ = -1;
    std::string sockDir_;      // short private folder of the FastCGI socket
    std::string socketPath() const { return sockDir_ + "/qoric.sock"; }
};

std::string readText(const std::string &path);
// The 32 lower-case hex digits of a session id inside a page, or "".
std::string sessionIdIn(const std::string &page);
std::string qoricBinary();

}  // namespace gwtest
