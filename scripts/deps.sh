#!/usr/bin/env bash
# Installs the Debian packages the build, the tests or the demo need,
# only those that are missing.  Usage: deps.sh build|test|demo
# The tests run python3 (the JSON check), compress (ncompress), lighttpd,
# curl, wrk, chromium and cgi-fcgi (libfcgi-bin); the fuzz build needs clang.
set -euo pipefail
what=${1:-build}
pkgs=(cmake make g++ binutils libfcgi-dev libfcgi-bin)
case "$what" in
  test) pkgs+=(python3 ncompress libgtest-dev googletest libbenchmark-dev clang libclang-rt-14-dev lighttpd curl wrk chromium) ;;
  demo) pkgs+=(ncompress lighttpd curl) ;;
esac
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
