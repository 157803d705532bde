// qoric, the gateway: a FastCGI responder that the web server starts. With
// "-reconf" (any case) among its arguments it only stamps the shared
// reconfiguration time, starts a cleaner when none runs, and exits.
#include <signal.h>
#include <strings.h>
#include <unistd.h>

#include <climits>
#include <string>
#include <vector>

#include "ZelApp.h"
#include "goscore.h"
#include "gossig.h"
#include "searchpath.h"
#include "xfcgiout.h"

namespace {

// The one application object of the process, made when main first needs
// it (after every library's own state exists) and destroyed at exit.
CZelApp &theApp() {
    static CZelApp app;
    return app;
}

// The running program's path for the fatal-signal report: along the
// search path, else the kernel's name for it, else as invoked.
std::string ProgramPath(const char *argv0) {
    if (argv0 && *argv0)
        if (const char *found = searchPath(argv0, nullptr)) return found;
    char self[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) return std::string(self, static_cast<size_t>(n));
    return argv0 ? argv0 : "qoric";
}

}  // namespace

int main(int argc, char **argv) {
    // As started, before anything changes the environment: a retiring
    // worker starts the program afresh with these.
    const std::vector<std::string> args(argv, argv + argc);
    std::vector<std::string> environment;
    for (char **e = environ; e && *e; ++e) environment.emplace_back(*e);
    // A run started afresh by a retiring worker begins with the termination
    // signals blocked, so that one sent meanwhile is not lost: it ends the
    // process here.
    sigset_t ends;
    sigemptyset(&ends);
    sigaddset(&ends, SIGTERM);
    sigaddset(&ends, SIGHUP);
    sigprocmask(SIG_UNBLOCK, &ends, nullptr);
    qorIgnoreSigPipe();
    bool reconfigure = false;
    for (int i = 1; i < argc; ++i)
        if (strcasecmp(argv[i], "-reconf") == 0) reconfigure = true;

    const std::string path = ProgramPath(argc > 0 ? argv[0] : nullptr);
    saveBinaryName(path.c_str());
    gosCoreHandler(path.c_str(), nullptr);

    CZelApp &app = theApp();
    app.SetStartCommand(path, args, environment);
    int result = app.Init(reconfigure);
    if (!reconfigure && result == 0) result = app.Run();
    app.Exit();
    return result;
}
