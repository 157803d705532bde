#!/usr/bin/env bash
# Builds everything and shows what the system can do so far.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh demo
jobs=$(nproc)
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQOR_TESTS=OFF -DQOR_BENCH=OFF >/dev/null
cmake --build build/release -j"$jobs"

bin=build/release
echo
echo "== What is built =="
found=0
for p in gateway/qoric configeditor/qorconfig tools/fmtconv/fmtconv tools/tpltest/tpltest tools/qorshm/qorshm testhost/dtphost; do
  if [ -x "$bin/$p" ]; then echo "  $bin/$p"; found=1; fi
done
for l in common/src/arc/libqor_arc.a common/src/arc/libqor_xml.a xfcgi/libqor_xfcgi.a gateway/foundation/libqor_foundation.a; do
  [ -f "$bin/$l" ] && echo "  $bin/$l"
done
[ "$found" = 1 ] || echo "  (no programs yet: only the libraries above)"

if [ -x "$bin/tools/qorshm/qorshm" ]; then
  echo
  echo "== qorshm: shared-memory segments of this machine =="
  "$bin/tools/qorshm/qorshm" -l || true
fi
if [ -x "$bin/testhost/dtphost" ]; then
  echo
  echo "== dtphost, the stand-in transaction host =="
  "$bin/testhost/dtphost" --help 2>&1 | head -20 || true
fi
echo
echo "The gateway (qoric) is not built yet; see README.md for what exists so far."
