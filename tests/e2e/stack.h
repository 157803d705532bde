// The system under test as a browser meets it: dtphost running the sample
// transactions, lighttpd started from the shipped configuration template,
// and the gateway workers that lighttpd starts, all in a folder of their own
// with their own ports.  The destructor stops them, ends the gateway's
// cleaner, removes the shared session table and fails the test when a log
// holds a sanitizer report.
#pragma once

#include "http_client.h"
#include "sys_util.h"
#include "../dtphost/host_harness.h"

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace e2e {

// Ends the current test as skipped while the gateway is not built.
#define E2E_REQUIRE_QORIC()                                                   \
    do {                                                                      \
        if (!::e2e::isExecutable(::e2e::qoricBinary()))                       \
            GTEST_SKIP() << "qoric is not built yet: " << ::e2e::qoricBinary(); \
    } while (0)

struct StackOptions {
    std::string app;                    // FastCGI program; default: the qoric binary
    int workers = 2;                    // lighttpd max-procs
    std::string configExtra;            // XML elements added to the demo configuration
    std::vector<std::string> hostArgs;  // more dtphost arguments (faults)
    std::string hostScript;             // default testhost/samples/demo.dts
    bool editor = false;                // serve qorconfig at /qorconfig too
    std::vector<std::string> appEnv;    // "NAME=value" for the FastCGI program
};

// A snapshot of the shared session table of a working folder.
struct TableView {
    bool present = false;
    uint32_t lastReconfigured = 0;
    int32_t cleanerPid = 0;
    std::vector<int32_t> registry;      // registered process ids
    struct Record {
        uint32_t localId, hostId, lastAccessed, pidPool;
        std::string locap, guidText;    // guidText as browsers see the session id
        uint8_t flags;
        int32_t lastPid;
    };
    std::vector<Record> records;        // records in use
};

class Stack {
public:
    explicit Stack(StackOptions options = {});
    ~Stack();
    Stack(const Stack&) = delete;
    Stack& operator=(const Stack&) = delete;

    uint16_t port() const { return port_; }
    uint16_t hostPort() const { return hostPort_; }
    const std::string& root() const { return root_; }      // logs/, conf/, htx/, cache/, run/
    const std::string& runDir() const { return run_; }     // workers' working folder
    std::string configPath() const { return root_ + "/conf/qoric.conf"; }
    std::string appPath() const { return run_ + "/" + appName_; }

    HttpResponse get(const std::string& target, const HeaderList& headers = {});
    HttpResponse post(const std::string& target, const std::string& body, const HeaderList& headers = {});

    // The configuration file rewritten from the demo template with other
    // extra elements (its modification time moves).
    void writeConfig(const std::string& extra);
    // The configuration file replaced by `text` as it is.
    void writeRawConfig(const std::string& text);
    std::string configText() const { return readFile(configPath()); }
    // The lines of the host's log, and whether it logged a warning or error.
    std::string hostLog() const { return host_->log(); }
    std::string gatewayLog() const;
    std::string webServerLog() const;

    pid_t webServerPid() const { return web_; }
    // Gateway workers: the web server's children that run the FastCGI program.
    std::vector<pid_t> workers() const;
    // Waits until there are `n` workers; false on time-out.
    bool waitForWorkers(size_t n, int timeoutMs = 10000) const;
    // The gateway's cleaner processes: its processes other than the web
    // server's workers and the log server (workers that start together may
    // each fork one; only one holds the cleaner lock).
    std::vector<pid_t> cleaners() const;
    // Waits until the table names a living cleaner and no other cleaner is
    // left (one that lost the lock, or is still being forked: until it has
    // let go of descriptor 0, the web server takes a dead worker's socket
    // for one still served and starts no new worker). Its pid, 0 on time-out.
    pid_t waitForCleaner(int timeoutMs = 15000) const;
    // Waits until the workers wait for requests and a cleaner runs, then
    // kills every cleaner (the cleaner lock is free).
    void killCleaners();
    TableView table() const;
    // Writes the shared reconfiguration stamp (as the editor or "-reconf" would).
    void setReconfigured(uint32_t stamp) const;

    // Pauses and resumes the host (SIGSTOP / SIGCONT): a request then waits
    // for its reply as long as the test wants.
    void pauseHost();
    void resumeHost();
    // Ends the host (its connections close), and starts it again on the
    // same port with the same arguments (it knows no session then).
    void stopHost();
    void startHost();

    // Runs the gateway binary of this stack with `args` in its working
    // folder and configuration; returns the exit status.
    int runGateway(const std::vector<std::string>& args) const;

private:
    void tearDown();
    void layOut();
    void startWebServer();
    void stopWebServer();
    void endLeftovers(const std::vector<pid_t>& lastWorkers);
    void checkReports();
    std::string fill(const std::string& templ) const;

    StackOptions opt_;
    std::string root_, run_, sockDir_, appName_;
    std::unique_ptr<hosttest::HostProcess> host_;
    std::vector<std::string> hostArgs_;
    uint16_t hostPort_ = 0;
    pid_t web_ = -1;
    uint16_t port_ = 0;
    bool paused_ = false;
};

}  // namespace e2e
