// bench-libs: qor_xfcgi qor_arc
// Expression cost per page: compiling at template load, and running the
// kinds of expressions converted pages evaluate for every field.
#include <benchmark/benchmark.h>

#include "xfcgiexpr.h"
#include "xfcgiout.h"

namespace {

const char *const kCondition = "(mcs.fccmods[3].protected eq 0) and (mcs.filler ne ' ')";
const char *const kValue = "printf('%05d|%s', total + 1, substr(name, 2, 3))";

void setUpTable() {
    xFcgiPutClear();
    xFcgiPutStr("mcs.fccmods[3].protected", "0");
    xFcgiPutStr("mcs.filler", "A");
    xFcgiPutStr("total", "41");
    xFcgiPutStr("name", "abcdef");
}

void BM_Compile(benchmark::State &state) {
    ExprList x;
    for (auto _ : state) {
        parseExpr(x, kCondition, false, nullptr, "bench.htx");
        benchmark::DoNotOptimize(x.entries.data());
    }
}
BENCHMARK(BM_Compile);

void BM_RunCondition(benchmark::State &state) {
    setUpTable();
    ExprList x;
    parseExpr(x, kCondition, false, nullptr, "bench.htx");
    for (auto _ : state) {
        ExprValue v = execExpr(x);
        benchmark::DoNotOptimize(v.text.data());
    }
}
BENCHMARK(BM_RunCondition);

void BM_RunPrintf(benchmark::State &state) {
    setUpTable();
    ExprList x;
    parseExpr(x, kValue, true, nullptr, "bench.htx");
    for (auto _ : state) {
        ExprValue v = execExpr(x);
        benchmark::DoNotOptimize(v.text.data());
    }
}
BENCHMARK(BM_RunPrintf);

}  // namespace

BENCHMARK_MAIN();
