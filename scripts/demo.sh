#!/usr/bin/env bash
# Builds everything into build/demo and runs the demo: the stand-in
# transaction host with the sample transactions, and lighttpd on a loopback
# port starting the qoric workers.  Prints the address to open and runs
# until Ctrl-C, which stops everything it started.
#   scripts/demo.sh [PORT]      (default 8080)
# Environment: QOR_JOBS (parallel build jobs, default: the processors).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/jobs.sh
bash scripts/deps.sh demo
# Tests and benchmarks off: the test command builds them in folders of its own.
cmake -S . -B build/demo -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQOR_TESTS=OFF -DQOR_BENCH=OFF \
  -DQOR_SANITIZE=OFF -DQOR_FUZZ=OFF >/dev/null
cmake --build build/demo -j"$jobs"
# Messages about the command line name this command, not demo-run.sh.
QOR_DEMO_COMMAND="scripts/demo.sh" exec bash scripts/demo-run.sh build/demo "$@"
