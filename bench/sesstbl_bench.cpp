// bench-libs: qor_foundation qor_arc
// Session table: look-up by GUID and by id in full tables of 1,000 and
// 10,000 records, the record-lock steps of one request, taking and
// releasing the locks, and a session's screen files.  Each table lives in a temporary working directory
// of its own and is removed at the end.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>
#include <vector>

#include "ZelBuffer.h"
#include "ZelSessionTable.h"

namespace {

using RecordPtr = std::unique_ptr<CZelSessionTable::Record>;

struct Table {
    std::string dir;
    std::unique_ptr<CZelSessionTable> table;
    std::vector<CZelSessionTable::Guid_t> guids;
    std::vector<unsigned> ids;
};

std::map<int, Table> g_tables;

bool SetUpTable(int records) {
    char templ[] = "/tmp/qor-sesstbl-bench-XXXXXX";
    if (!mkdtemp(templ)) return false;
    Table &t = g_tables[records];
    t.dir = templ;
    std::filesystem::create_directories(t.dir + "/work");
    std::filesystem::create_directories(t.dir + "/logs");
    if (chdir((t.dir + "/work").c_str()) != 0) return false;
    t.table = std::make_unique<CZelSessionTable>();
    if (ResultCode(t.table->Init(records, 1, 100000)) < 0) return false;
    for (int i = 0; i < records; ++i) {
        RecordPtr h;
        if (t.table->Get(0u, h, true, false) != Result::Success) return false;
        CZelSessionTable::Guid_t g;
        h->GetSessionGuid(g);
        t.guids.push_back(g);
        t.ids.push_back(h->GetLocalSessionId());
    }
    return true;
}

void TearDownTables() {
    std::error_code ec;
    std::filesystem::current_path("/", ec);
    for (auto &entry : g_tables) {
        Table &t = entry.second;
        if (t.table && t.table->GetSharedMemoryId() >= 0) shmctl(t.table->GetSharedMemoryId(), IPC_RMID, nullptr);
        if (t.table && !t.table->GetLockFilePath().empty()) std::remove(t.table->GetLockFilePath().c_str());
        if (!t.dir.empty()) std::filesystem::remove_all(t.dir, ec);
    }
}

Table &TableOf(const benchmark::State &state) { return g_tables.at(static_cast<int>(state.range(0))); }

// The session of the last record: a process that has served it before.
void BM_GetByGuidLast(benchmark::State &state) {
    Table &t = TableOf(state);
    const CZelSessionTable::Guid_t g = t.guids.back();
    for (auto _ : state) {
        RecordPtr h;
        Result r = t.table->Get(g, h, true, false);
        benchmark::DoNotOptimize(r);
    }
}

// Any session of the table, as many workers share them.
void BM_GetByGuidRandom(benchmark::State &state) {
    Table &t = TableOf(state);
    std::mt19937 rng(42);
    std::uniform_int_distribution<size_t> pick(0, t.guids.size() - 1);
    for (auto _ : state) {
        RecordPtr h;
        Result r = t.table->Get(t.guids[pick(rng)], h, true, false);
        benchmark::DoNotOptimize(r);
    }
}

// A GUID that names no session (an old bookmark): the whole table is read.
void BM_GetByGuidUnknown(benchmark::State &state) {
    Table &t = TableOf(state);
    uint32_t words[4] = {0x7FFFFFE0u, 1, 2, 3};
    const CZelSessionTable::Guid_t g(words);
    for (auto _ : state) {
        RecordPtr h;
        Result r = t.table->Get(g, h, true, false);
        benchmark::DoNotOptimize(r);
    }
}

void BM_GetByIdRandom(benchmark::State &state) {
    Table &t = TableOf(state);
    std::mt19937 rng(43);
    std::uniform_int_distribution<size_t> pick(0, t.ids.size() - 1);
    for (auto _ : state) {
        RecordPtr h;
        Result r = t.table->Get(t.ids[pick(rng)], h, true, false);
        benchmark::DoNotOptimize(r);
    }
}

// What one screen round trip asks of the table: the look-up by GUID and
// three more steps by id (stored screen, screen input, the page's session
// id), each counting as activity.  Held: the first handle stays until the
// end, as a request holds its session; else each step locks on its own.
void RequestSteps(benchmark::State &state, bool held) {
    Table &t = TableOf(state);
    std::mt19937 rng(44);
    std::uniform_int_distribution<size_t> pick(0, t.ids.size() - 1);
    for (auto _ : state) {
        const size_t i = pick(rng);
        RecordPtr session;
        t.table->Get(t.guids[i], session, true, true);
        if (!held) session.reset();
        for (int step = 0; step < 3; ++step) {
            RecordPtr h;
            Result r = t.table->Get(t.ids[i], h, true, true);
            benchmark::DoNotOptimize(r);
        }
    }
}
void BM_RequestStepsHeld(benchmark::State &state) { RequestSteps(state, true); }
void BM_RequestStepsEachLocked(benchmark::State &state) { RequestSteps(state, false); }

void BM_RecordLockUnlock(benchmark::State &state) {
    Table &t = TableOf(state);
    const int n = static_cast<int>(t.ids.size());
    int i = 0;
    for (auto _ : state) {
        CZelSessionTable::Lock lock(t.table.get(), i, 1, false);
        benchmark::DoNotOptimize(lock.IsLockSuccessful());
        i = (i + 1) % n;
    }
}

// A lock this process holds already: counted, no system call.
void BM_RecordLockNested(benchmark::State &state) {
    Table &t = TableOf(state);
    CZelSessionTable::Lock outer(t.table.get(), 0, 1, false);
    for (auto _ : state) {
        CZelSessionTable::Lock lock(t.table.get(), 0, 1, false);
        benchmark::DoNotOptimize(lock.IsLockSuccessful());
    }
}

void BM_ControlBlockLockUnlock(benchmark::State &state) {
    Table &t = TableOf(state);
    for (auto _ : state) {
        CZelSessionTable::Lock lock(t.table.get(), CZelSessionTable::Lock::ControlBlockLock, true);
        benchmark::DoNotOptimize(lock.IsLockSuccessful());
    }
}

// The table's stamp at every access: the same second costs no lock.
void BM_TableStampSameSecond(benchmark::State &state) {
    Table &t = TableOf(state);
    const time_t now = time(nullptr);
    for (auto _ : state) t.table->SetLastAccessed(now);
}

// One screen round trip's file work for its session: the stored screen and
// its modifications read, the reply's written (a 24 x 80 screen; with no
// modifications, or with a pair for each of 10 fields).
void BM_ScreenFilesRoundTrip(benchmark::State &state) {
    Table &t = TableOf(state);
    RecordPtr h;
    if (t.table->Get(t.ids[0], h, true, false) != Result::Success) return state.SkipWithError("no record");
    const std::string screen(20 + 1920, 'S'), pairs(static_cast<size_t>(2 * state.range(1)), '\x13');
    const CBuffer data(screen.data(), static_cast<int>(screen.size()));
    const CBuffer mods(pairs.data(), static_cast<int>(pairs.size()));
    h->SetLatestScreen(data, mods);
    for (auto _ : state) {
        CBuffer back, backMods;
        std::string lost;
        benchmark::DoNotOptimize(h->GetLatestScreen(back, backMods, lost));
        benchmark::DoNotOptimize(h->SetLatestScreen(data, mods));
    }
}

void Sizes(benchmark::internal::Benchmark *b) { b->Arg(1000)->Arg(10000); }

BENCHMARK(BM_GetByGuidLast)->Apply(Sizes);
BENCHMARK(BM_GetByGuidRandom)->Apply(Sizes);
BENCHMARK(BM_GetByGuidUnknown)->Apply(Sizes);
BENCHMARK(BM_GetByIdRandom)->Apply(Sizes);
BENCHMARK(BM_RequestStepsHeld)->Apply(Sizes);
BENCHMARK(BM_RequestStepsEachLocked)->Apply(Sizes);
BENCHMARK(BM_RecordLockUnlock)->Arg(1000);
BENCHMARK(BM_RecordLockNested)->Arg(1000);
BENCHMARK(BM_ControlBlockLockUnlock)->Arg(1000);
BENCHMARK(BM_TableStampSameSecond)->Arg(1000);
BENCHMARK(BM_ScreenFilesRoundTrip)->Args({1000, 0})->Args({1000, 10});

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    const bool ready = SetUpTable(1000) && SetUpTable(10000);
    if (ready) benchmark::RunSpecifiedBenchmarks();
    else std::fprintf(stderr, "session tables could not be set up\n");
    TearDownTables();
    benchmark::Shutdown();
    return ready ? 0 : 1;
}
