#!/usr/bin/env bash
# Builds the programs into build/install and installs them: qoric,
# qorconfig, fmtconv, tpltest and qorshm into PREFIX/bin, the gateway's
# folders and its example configuration under PREFIX/qoric (an existing
# configuration is kept).  Installs the Debian packages the build needs.
#   scripts/install.sh [PREFIX]      (default /usr/local)
# Environment: QOR_JOBS (parallel build jobs, default: the processors),
# QOR_WEB_USER (the user the web server runs qoric and qorconfig as,
# default www-data).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/jobs.sh
prefix=${1:-/usr/local}
[[ "$prefix" == /* ]] || { echo "the prefix must be an absolute path: $prefix" >&2; exit 2; }
bash scripts/deps.sh build
cmake -S . -B build/install -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQOR_TESTS=OFF -DQOR_BENCH=OFF \
  -DQOR_SANITIZE=OFF -DQOR_FUZZ=OFF -DQOR_WEB_USER="${QOR_WEB_USER:-www-data}" >/dev/null
cmake --build build/install -j"$jobs"
cmake --install build/install --prefix "$prefix"
