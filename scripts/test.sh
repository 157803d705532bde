#!/usr/bin/env bash
# Builds and runs every test: a normal build, an AddressSanitizer +
# UndefinedBehaviorSanitizer build, then each libFuzzer target for a few
# seconds over its seed corpus.
#
# Each build has its own folder under build/ (release, asan, fuzz; the demo
# builds in build/demo), and each is configured with its tests on whatever
# an earlier run configured there. A suite that runs no test fails.
#
# Environment: QOR_JOBS (parallel build and test jobs, default: the number
# of processors), QOR_FUZZ_SECONDS (per fuzz target, default 5).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/jobs.sh
bash scripts/deps.sh test
fuzz_seconds=${QOR_FUZZ_SECONDS:-5}
total_pass=0

run_suite() {  # <build dir> <label>
  local log="$1/ctest.log" rc=0
  (cd "$1" && ctest --output-on-failure --no-tests=error -j"$jobs") 2>&1 | tee "$log" || rc=$?
  [ "$rc" -eq 0 ] || { echo "$2 suite failed"; exit 1; }
  local n
  n=$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -n1)
  if [ "${n:-0}" -eq 0 ]; then
    echo "$2 suite ran no test: is $1 configured without tests?"
    exit 1
  fi
  total_pass=$((total_pass + n))
}

echo "== normal build ($jobs jobs) =="
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQOR_TESTS=ON -DQOR_BENCH=ON \
  -DQOR_SANITIZE=OFF -DQOR_FUZZ=OFF >/dev/null
cmake --build build/release -j"$jobs"
run_suite build/release "normal"

echo "== sanitizer build =="
cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DQOR_SANITIZE=ON -DQOR_TESTS=ON -DQOR_BENCH=OFF \
  -DQOR_FUZZ=OFF >/dev/null
cmake --build build/asan -j"$jobs"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
run_suite build/asan "sanitizer"

echo "== fuzz targets =="
CC=clang CXX=clang++ cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=Debug -DQOR_FUZZ=ON >/dev/null
cmake --build build/fuzz -j"$jobs"
fuzz_pass=0
for bin in build/fuzz/fuzz/fuzz_*; do
  [ -x "$bin" ] || continue
  name=${bin##*/fuzz_}
  work=$(mktemp -d)
  cp -r "fuzz/corpus/$name/." "$work/" 2>/dev/null || true
  echo "-- $name (${fuzz_seconds}s)"
  if ! "$bin" -max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=0 "$work" >"$work.log" 2>&1; then
    tail -n 60 "$work.log"
    echo "fuzz target $name failed"
    exit 1
  fi
  tail -n 1 "$work.log"
  rm -rf "$work" "$work.log"
  fuzz_pass=$((fuzz_pass + 1))
done
[ "$fuzz_pass" -gt 0 ] || { echo "no fuzz target was built"; exit 1; }
total_pass=$((total_pass + fuzz_pass))
echo "fuzz targets: $fuzz_pass passed, 0 failed"
echo "all: $total_pass passed, 0 failed"
