// dtphost: the stand-in QOR/ix transaction host used by the tests and the
// demo.  See README.md beside this file.
#include "Engine.h"
#include "HexLog.h"
#include "Options.h"
#include "Script.h"
#include "Server.h"

#include <csignal>
#include <cstdio>

namespace {

volatile std::sig_atomic_t g_stop = 0;

void onSignal(int) { g_stop = 1; }

}  // namespace

int main(int argc, char** argv)
{
    using namespace dtphost;
    Options opt;
    std::string error;
    if (!parseOptions(argc, argv, opt, error)) {
        std::fprintf(stderr, "dtphost: %s\nTry 'dtphost --help'.\n", error.c_str());
        return 2;
    }
    if (opt.help) {
        std::fputs(usageText(), stdout);
        return 0;
    }
    Script script;
    bool ok = opt.script.empty() ? parseScript(builtinScript(), "built-in script", script, error)
                                 : loadScript(opt.script, script, error);
    if (!ok) {
        std::fprintf(stderr, "dtphost: %s\n", error.c_str());
        return 2;
    }
    if (opt.check) {
        std::printf("%zu transactions, %zu screens, %zu faults\n", script.transactions.size(),
                    script.screens.size(), opt.faults.size());
        return 0;
    }

    HexLog log;
    if (!log.open(opt.log, opt.logLimit)) {
        std::fprintf(stderr, "dtphost: cannot open log %s\n", opt.log.c_str());
        return 2;
    }
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    Engine engine(opt.host, std::move(script), std::move(opt.faults), log);
    Server server(engine, log);
    int port = server.listen(opt.bind, opt.port, error);
    if (port < 0) {
        std::fprintf(stderr, "dtphost: %s\n", error.c_str());
        return 1;
    }
    log.event(0, "dtphost listening on " + opt.bind + ":" + std::to_string(port) + " as locap " +
                     opt.host.locap);
    std::printf("%d\n", port);
    std::fflush(stdout);
    server.run(g_stop, opt.lifetime);
    log.event(0, "dtphost ends");
    return 0;
}
