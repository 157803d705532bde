#!/usr/bin/env bash
# Two demos of one build side by side, as scripts/demo-run.sh runs them for
# a user (each on its own port): each has its own run folder and session
# table; stopping one leaves the other working and ends everything of its
# own (the web server's process session, the session table).
# Usage: two_demos_test.sh BUILD_DIR   (exit 77 while qoric is not built)
set -uo pipefail
BUILD=$(cd "$1" && pwd)
[ -x "$BUILD/gateway/qoric" ] || { echo "qoric is not built yet: skipped"; exit 77; }
SCRIPTS=$(cd "$(dirname "$0")/../../scripts" && pwd)
source "$SCRIPTS/../demo/stack.sh"
WORK=$(mktemp -d)
pids=()
roots=()
cleanup() {
  local p
  for p in "${pids[@]}"; do kill -TERM "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
  for p in "${roots[@]}"; do rm -rf "$p"; done
  rm -rf "$WORK"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; for f in "$WORK"/demo*.out; do echo "--- $f"; cat "$f"; done; exit 1; }

start_demo() {  # start_demo N: sets port_N, pid_N, root_N
  local n=$1 port out i root
  port=$(stack_free_port)
  out=$WORK/demo$n.out
  QOR_DEMO_WORKERS=2 bash "$SCRIPTS/demo-run.sh" "$BUILD" "$port" >"$out" 2>&1 &
  pids+=($!)
  eval "pid_$n=$!; port_$n=$port"
  for i in $(seq 300); do
    grep -q "Press Ctrl-C" "$out" && break
    sleep 0.1
  done
  root=$(sed -n 's/^  Run folder: *//p' "$out")
  [ -n "$root" ] || fail "demo $n did not start"
  roots+=("$root")
  eval "root_$n=\$root"
}

answers() {  # answers PORT: the demo starts an ECHO session
  curl -fsS "http://127.0.0.1:$1/demo/ECHO" | grep -q 'NAME="ECHO"'
}

stop_demo() {  # stop_demo N: stops it and checks that nothing of it is left
  local n=$1 pid root web shmid d
  eval "pid=\$pid_$n; root=\$root_$n"
  web=$(cat "$root/logs/web.pid")
  shmid=$(cat "$root/logs/.shmid")
  kill -TERM "$pid"
  wait "$pid" || fail "demo $n ended with a failure"
  for d in /proc/[0-9]*; do
    [ "$(stack_session_of "${d#/proc/}")" = "$web" ] && fail "process ${d#/proc/} of demo $n is left"
  done
  ipcs -m | awk '{ print $2 }' | grep -qx "$shmid" && fail "session table $shmid of demo $n is left"
  [ -s "$root/logs/qoric.log" ] || fail "the log of demo $n was not kept"
}

start_demo 1
start_demo 2
[ "$root_1" != "$root_2" ] || fail "both demos use $root_1"
answers "$port_1" || fail "demo 1 does not answer"
answers "$port_2" || fail "demo 2 does not answer"
[ "$(cat "$root_1/logs/.shmid")" != "$(cat "$root_2/logs/.shmid")" ] || fail "one session table for both"

stop_demo 1
[ -d "$root_2/run" ] || fail "stopping demo 1 removed the folder of demo 2"
answers "$port_2" || fail "demo 2 stopped answering when demo 1 stopped"
grep -q "Got SIGTERM\|Exiting" "$root_1/logs/qoric.log" || fail "demo 1's workers did not end by SIGTERM"
stop_demo 2
pids=()
echo "two demos side by side: ok"
