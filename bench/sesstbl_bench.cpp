// bench-libs: qor_foundation qor_arc
// Session table: look-up by GUID (and by id) in a full table of 10,000
// records, and taking and releasing a record lock.  The table lives in a
// temporary working directory of its own and is removed at the end.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>
#include <vector>

#include "ZelSessionTable.h"

namespace {

constexpr int kRecords = 10000;

CZelSessionTable *g_table = nullptr;
std::vector<CZelSessionTable::Guid_t> g_guids;
std::vector<unsigned> g_ids;
std::string g_dir;

bool SetUpTable() {
    char templ[] = "/tmp/qor-sesstbl-bench-XXXXXX";
    if (!mkdtemp(templ)) return false;
    g_dir = templ;
    std::filesystem::create_directories(g_dir + "/work");
    std::filesystem::create_directories(g_dir + "/logs");
    if (chdir((g_dir + "/work").c_str()) != 0) return false;
    g_table = new CZelSessionTable;
    if (ResultCode(g_table->Init(kRecords, 1, 100000)) < 0) return false;
    for (int i = 0; i < kRecords; ++i) {
        std::unique_ptr<CZelSessionTable::Record> h;
        if (g_table->Get(0u, h, true, false) != Result::Success) return false;
        CZelSessionTable::Guid_t g;
        h->GetSessionGuid(g);
        g_guids.push_back(g);
        g_ids.push_back(h->GetLocalSessionId());
    }
    return true;
}

void TearDownTable() {
    if (g_table && g_table->GetSharedMemoryId() >= 0) shmctl(g_table->GetSharedMemoryId(), IPC_RMID, nullptr);
    if (!g_dir.empty()) {
        std::error_code ec;
        std::filesystem::current_path("/", ec);
        std::filesystem::remove_all(g_dir, ec);
    }
}

void BM_GetByGuidLast(benchmark::State &state) {
    const CZelSessionTable::Guid_t g = g_guids.back();
    for (auto _ : state) {
        std::unique_ptr<CZelSessionTable::Record> h;
        Result r = g_table->Get(g, h, true, false);
        benchmark::DoNotOptimize(r);
    }
}
BENCHMARK(BM_GetByGuidLast);

void BM_GetByGuidRandom(benchmark::State &state) {
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> pick(0, kRecords - 1);
    for (auto _ : state) {
        std::unique_ptr<CZelSessionTable::Record> h;
        Result r = g_table->Get(g_guids[pick(rng)], h, true, false);
        benchmark::DoNotOptimize(r);
    }
}
BENCHMARK(BM_GetByGuidRandom);

void BM_GetByGuidTouched(benchmark::State &state) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> pick(0, kRecords - 1);
    for (auto _ : state) {
        std::unique_ptr<CZelSessionTable::Record> h;
        Result r = g_table->Get(g_guids[pick(rng)], h, true, true);
        benchmark::DoNotOptimize(r);
    }
}
BENCHMARK(BM_GetByGuidTouched);

void BM_GetByIdRandom(benchmark::State &state) {
    std::mt19937 rng(43);
    std::uniform_int_distribution<int> pick(0, kRecords - 1);
    for (auto _ : state) {
        std::unique_ptr<CZelSessionTable::Record> h;
        Result r = g_table->Get(g_ids[pick(rng)], h, true, false);
        benchmark::DoNotOptimize(r);
    }
}
BENCHMARK(BM_GetByIdRandom);

void BM_RecordLockUnlock(benchmark::State &state) {
    int i = 0;
    for (auto _ : state) {
        CZelSessionTable::Lock lock(g_table, i, 1, false);
        benchmark::DoNotOptimize(lock.IsLockSuccessful());
        i = (i + 1) % kRecords;
    }
}
BENCHMARK(BM_RecordLockUnlock);

void BM_ControlBlockLockUnlock(benchmark::State &state) {
    for (auto _ : state) {
        CZelSessionTable::Lock lock(g_table, CZelSessionTable::Lock::ControlBlockLock, true);
        benchmark::DoNotOptimize(lock.IsLockSuccessful());
    }
}
BENCHMARK(BM_ControlBlockLockUnlock);

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    bool ready = SetUpTable();
    if (ready) benchmark::RunSpecifiedBenchmarks();
    else fprintf(stderr, "session table could not be set up\n");
    TearDownTable();
    benchmark::Shutdown();
    return ready ? 0 : 1;
}
