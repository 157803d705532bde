// bench-libs: qor_arc
// Log lines per second: written directly into the file, and sent through
// the shared log server's FIFO.
#include "logprint.h"
#include "logserver.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

std::string benchDir()
{
    static std::string dir = [] {
        char tmpl[] = "/tmp/qorlogbench.XXXXXX";
        const char *p = mkdtemp(tmpl);
        return std::string(p ? p : "/tmp");
    }();
    return dir;
}

void writeLines(benchmark::State &state)
{
    long n = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(logPrintf("#benchmark line %ld with some ordinary text\n", n++));
    state.SetItemsProcessed(n);
}

void BM_LogDirect(benchmark::State &state)
{
    logOptions("h");
    if (!logOpen((benchDir() + "/direct.log").c_str(), 0)) {
        state.SkipWithError("cannot open the log");
        return;
    }
    writeLines(state);
    logClose();
}
BENCHMARK(BM_LogDirect);

void BM_LogDirectNoFlush(benchmark::State &state)
{
    logOptions("hF");
    if (!logOpen((benchDir() + "/direct.log").c_str(), 0)) {
        state.SkipWithError("cannot open the log");
        return;
    }
    writeLines(state);
    logOptions("N");
    logClose();
}
BENCHMARK(BM_LogDirectNoFlush);

void BM_LogThroughServer(benchmark::State &state)
{
    logServerSetTiming(16000, 20); // a quick end once the benchmark is done
    logOptions("hP");
    if (!logOpen((benchDir() + "/server.log").c_str(), 0)) {
        state.SkipWithError("cannot reach the log server");
        return;
    }
    writeLines(state);
    logClose();
}
BENCHMARK(BM_LogThroughServer);

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // Let the log server finish its idle passes, then clear the folder.
    std::string pidFile = benchDir() + "/.pid.server.log";
    for (int i = 0; i < 300 && access(pidFile.c_str(), F_OK) == 0; ++i)
        usleep(10000);
    if (benchDir() != "/tmp") {
        std::string cmd = "rm -rf '" + benchDir() + "'";
        if (system(cmd.c_str()) != 0)
            return 1;
    }
    return 0;
}
