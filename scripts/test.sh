#!/usr/bin/env bash
# Builds and runs every test: a normal build, an AddressSanitizer +
# UndefinedBehaviorSanitizer build, then each libFuzzer target for a few
# seconds over its seed corpus.
#
# Each build has its own folder under build/ (release, asan, fuzz; the demo
# builds in build/demo), and each is configured with its tests on whatever
# an earlier run configured there. A suite that runs no test fails, and so
# does one with a skipped test, unless the test needs root and this command
# is not run as root: every skip is named with its reason in the summary.
#
# Environment: QOR_JOBS (parallel build and test jobs, default: the number
# of processors), QOR_FUZZ_SECONDS (per fuzz target, default 5).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/jobs.sh
bash scripts/deps.sh test
fuzz_seconds=${QOR_FUZZ_SECONDS:-5}
total_pass=0 total_fail=0
skips=()   # "<suite>: <test>: <reason>", named again in the closing summary
bad_skips=0

# The closing summary: every skip, then the line CI reads.
finish() {  # <exit status>
  local s
  for s in "${skips[@]}"; do echo "skipped: $s"; done
  echo "all: $total_pass passed, $total_fail failed, ${#skips[@]} skipped"
  exit "$1"
}

# Runs one build's tests. A test that skips (exit 77, or a GoogleTest case
# with GTEST_SKIP) is counted and named apart from the passes, and fails
# the suite, unless it needs root and this command does not run as root.
run_suite() {  # <build dir> <label>
  local dir=$1 label=$2 rc=0
  local log="$dir/ctest.log" junit="$PWD/$dir/ctest-junit.xml" gtest_xml="$PWD/$dir/gtest-xml"
  rm -rf "$junit" "$gtest_xml"
  mkdir -p "$gtest_xml"
  (cd "$dir" && GTEST_OUTPUT="xml:$gtest_xml/" \
     ctest --output-on-failure --no-tests=error -j"$jobs" --output-junit "$junit") 2>&1 | tee "$log" || rc=$?
  local results passed=0 failed=0 nskip=0 line
  results=$(python3 scripts/test-results.py "$junit" "$gtest_xml") || rc=1
  passed=$(sed -n 's/^passed //p' <<<"$results")
  failed=$(sed -n 's/^failed //p' <<<"$results")
  while IFS= read -r line; do
    [ -n "$line" ] || continue
    nskip=$((nskip + 1))
    if [[ $line == *"needs root"* ]] && [ "$(id -u)" -ne 0 ]; then
      skips+=("$label: $line (not run as root)")
    else
      skips+=("$label: $line")
      bad_skips=$((bad_skips + 1))
    fi
  done < <(sed -n 's/^skip //p' <<<"$results")
  total_pass=$((total_pass + ${passed:-0}))
  total_fail=$((total_fail + ${failed:-0}))
  echo "$label suite: ${passed:-0} passed, ${failed:-0} failed, $nskip skipped"
  if [ "$rc" -ne 0 ]; then
    echo "$label suite failed"
    [ "${failed:-0}" -gt 0 ] || total_fail=$((total_fail + 1))
    finish 1
  fi
  if [ "${passed:-0}" -eq 0 ]; then
    echo "$label suite ran no test: is $dir configured without tests?"
    finish 1
  fi
  if [ "$bad_skips" -gt 0 ]; then
    echo "$label suite skipped tests that must run here (see the skips below)"
    finish 1
  fi
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
    total_fail=$((total_fail + 1))
    finish 1
  fi
  tail -n 1 "$work.log"
  rm -rf "$work" "$work.log"
  fuzz_pass=$((fuzz_pass + 1))
done
[ "$fuzz_pass" -gt 0 ] || { echo "no fuzz target was built"; finish 1; }
total_pass=$((total_pass + fuzz_pass))
echo "fuzz targets: $fuzz_pass passed, 0 failed, 0 skipped"
finish 0
