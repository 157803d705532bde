// bench-libs: qor_foundation qor_arc
// CBuffer append and read rates: packet-sized builds of big-endian fields
// and COBOL strings, byte-wise appends through the storage buckets, and
// reading a frame back field by field.
#include <benchmark/benchmark.h>

#include <string>

#include "ZelBuffer.h"
#include "ZelName.h"

namespace {

// A packet-like record: header words, two names, screen text.
void BuildRecord(CBuffer &b, const std::string &text) {
    b << static_cast<unsigned char>(30) << static_cast<unsigned char>(0)
      << static_cast<unsigned short>(0) << 0x12345678u << 0x9ABCDEF0u;
    b.AddCobolString("LOCAP01", 8);
    b.AddCobolString("TRANS", 8);
    b << static_cast<unsigned short>(text.size());
    b.AddChars(text.data(), static_cast<int>(text.size()));
}

void BM_AppendRecord(benchmark::State &state) {
    const std::string text(static_cast<size_t>(state.range(0)), 'x');
    for (auto _ : state) {
        CBuffer b;
        BuildRecord(b, text);
        benchmark::DoNotOptimize(b.GetBuffer());
    }
    state.SetBytesProcessed(state.iterations() * (30 + state.range(0)));
}
BENCHMARK(BM_AppendRecord)->Arg(64)->Arg(1920)->Arg(8192);

void BM_AppendBytes(benchmark::State &state) {
    const int n = static_cast<int>(state.range(0));
    for (auto _ : state) {
        CBuffer b;
        for (int i = 0; i < n; ++i) b << static_cast<char>(i);
        benchmark::DoNotOptimize(b.GetBuffer());
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_AppendBytes)->Arg(256)->Arg(4096);

void BM_AppendInts(benchmark::State &state) {
    const int n = static_cast<int>(state.range(0));
    for (auto _ : state) {
        CBuffer b;
        for (int i = 0; i < n; ++i) b << i;
        benchmark::DoNotOptimize(b.GetBuffer());
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_AppendInts)->Arg(1024);

void BM_ReadRecord(benchmark::State &state) {
    const std::string text(static_cast<size_t>(state.range(0)), 'y');
    CBuffer frame;
    BuildRecord(frame, text);
    std::string name, body;
    for (auto _ : state) {
        CBuffer b(frame);
        unsigned char cls, pad;
        unsigned short zero, len;
        unsigned a, c;
        b >> cls >> pad >> zero >> a >> c;
        b.GetCobolString(name, 8, 1);
        b.GetCobolString(name, 8, 1);
        b >> len;
        b.GetString(body, len);
        benchmark::DoNotOptimize(body.data());
        benchmark::DoNotOptimize(a + c + cls);
    }
    state.SetBytesProcessed(state.iterations() * frame.GetLength());
}
BENCHMARK(BM_ReadRecord)->Arg(64)->Arg(1920);

void BM_ReadInts(benchmark::State &state) {
    const int n = static_cast<int>(state.range(0));
    CBuffer src;
    for (int i = 0; i < n; ++i) src << i;
    for (auto _ : state) {
        src.SetOffset(-src.GetOffset());   // rewind
        long long sum = 0;
        for (int i = 0; i < n; ++i) {
            int v;
            src >> v;
            sum += v;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_ReadInts)->Arg(1024);

void BM_NameRoundTrip(benchmark::State &state) {
    CZelName out("LOCAP01", 8), in(8);
    for (auto _ : state) {
        CBuffer b;
        b << out;
        b >> in;
        benchmark::DoNotOptimize(in.GetData());
    }
}
BENCHMARK(BM_NameRoundTrip);

}  // namespace

BENCHMARK_MAIN();
