#!/usr/bin/env bash
# Two demos of one build side by side, as a user runs them on two ports:
# stopping the first leaves the second working and ends everything of the
# first (its web server's process session, its session table).
# Usage: two_demos_test.sh BUILD_DIR   (exit 77 while qoric is not built)
set -uo pipefail
BUILD=$(cd "$1" && pwd)
[ -x "$BUILD/gateway/qoric" ] || { echo "qoric is not built yet: skipped"; exit 77; }
SCRIPTS=$(cd "$(dirname "$0")/../../scripts" && pwd)
source "$SCRIPTS/../demo/stack.sh"
WORK=$(mktemp -d)
pid=() port=() root=()
trap 'for p in "${pid[@]}"; do kill -TERM $p; wait $p; done 2>/dev/null; rm -rf "$WORK" "${root[@]}"' EXIT
fail() { echo "FAIL: $*"; cat "$WORK"/out*; exit 1; }
answers() { curl -fsS "http://127.0.0.1:${port[$1]}/demo/ECHO" | grep -q 'NAME="ECHO"'; }

for n in 0 1; do
  port[$n]=$(stack_free_port)
  QOR_DEMO_WORKERS=2 bash "$SCRIPTS/demo-run.sh" "$BUILD" "${port[$n]}" >"$WORK/out$n" 2>&1 &
  pid[$n]=$!
  for i in $(seq 300); do grep -q "Press Ctrl-C" "$WORK/out$n" && break; sleep 0.1; done
  root[$n]=$(sed -n 's/^  Run folder: *//p' "$WORK/out$n")
  [ -n "${root[$n]}" ] && answers $n || fail "demo $n did not start"
done
[ "${root[0]}" != "${root[1]}" ] || fail "both demos run in ${root[0]}"

web=$(cat "${root[0]}/logs/web.pid")
shmid=$(cat "${root[0]}/logs/.shmid")
kill -TERM "${pid[0]}"
wait "${pid[0]}" || fail "the first demo ended with a failure"
for d in /proc/[0-9]*; do
  [ "$(stack_session_of "${d#/proc/}")" = "$web" ] && fail "process ${d#/proc/} of the first demo is left"
done
ipcs -m | awk '{ print $2 }' | grep -qx "$shmid" && fail "the first demo's session table is left"
[ -s "${root[0]}/logs/qoric.log" ] || fail "the first demo's log was not kept"
answers 1 || fail "the second demo stopped answering"
echo "two demos side by side: ok"
