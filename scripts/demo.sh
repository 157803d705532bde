#!/usr/bin/env bash
# Builds everything and runs the demo: the stand-in transaction host with a
# sample transaction, and lighttpd on a loopback port starting the qoric
# workers.  Prints the address to open; Ctrl-C stops everything.
#   scripts/demo.sh [PORT]      (default 8080)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh demo
jobs=$(nproc)
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQOR_TESTS=OFF -DQOR_BENCH=OFF >/dev/null
cmake --build build/release -j"$jobs"
exec bash scripts/demo-run.sh build/release "$@"
