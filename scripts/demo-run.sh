#!/usr/bin/env bash
# Runs the demo from a build folder (it builds nothing): dtphost with the
# sample transactions, and lighttpd on a loopback port with the qoric
# workers it starts.  Prints the address to open and stops everything on
# Ctrl-C.
#
#   scripts/demo-run.sh BUILD_DIR [PORT]     interactive; PORT default 8080
#   scripts/demo-run.sh BUILD_DIR --check    start, try the demo with curl, stop
#
# Each run has a run-time folder of its own (BUILD_DIR/demo-runs/PORT.XXXXXX;
# the three newest of the stopped ones are kept for their logs), so demos
# on other ports run side by side.  Stopping ends the web server's whole
# process session (workers, their cleaner and log server) and removes the
# session table this run's gateway made.
#
# Environment: QOR_DEMO_WORKERS (default 4), QOR_DEMO_ROOT (run-time
# folder instead of a new one).
set -euo pipefail

[ $# -ge 1 ] || { sed -n '2,19p' "$0"; exit 2; }
BUILD=$(cd "$1" && pwd)
MODE=run
PORT=8080
case "${2:-}" in
  --check) MODE=check ;;
  "") ;;
  *) PORT=$2 ;;
esac
WORKERS=${QOR_DEMO_WORKERS:-4}
source "$(dirname "$0")/../demo/stack.sh"

if [ "$MODE" = check ]; then
  # A smoke run for the tests: skipped (77) while the gateway is not built.
  [ -x "$BUILD/gateway/qoric" ] || { echo "qoric is not built yet: skipped"; exit 77; }
  ROOT=${QOR_DEMO_ROOT:-$(mktemp -d "$BUILD/demo-check.XXXXXX")}
  PORT=$(stack_free_port)
else
  [[ "$PORT" =~ ^[0-9]+$ ]] && [ "$PORT" -ge 1 ] && [ "$PORT" -le 65535 ] \
    || stack_die "not a port number: $PORT"
  stack_port_open "$PORT" && stack_die "port $PORT is in use; give another: $0 $1 PORT"
  if [ -n "${QOR_DEMO_ROOT:-}" ]; then
    ROOT=$QOR_DEMO_ROOT
  else
    mkdir -p "$BUILD/demo-runs"
    # Runs that have stopped: the three newest are kept for their logs.
    old=0
    while IFS= read -r d; do
      d=${d%/}
      stack_running "$d" && continue
      old=$((old + 1))
      [ "$old" -gt 3 ] && rm -rf "$d"
    done < <(ls -1dt "$BUILD"/demo-runs/*/ 2>/dev/null)
    ROOT=$(mktemp -d "$BUILD/demo-runs/$PORT.XXXXXX")
  fi
fi

# The configuration editor, when it is built, shares the workers' folder so
# that its saves reach them.
STACK_ROUTES=
STACK_APPS=
trap 'stack_stop' EXIT
trap 'echo; echo "Stopping..."; exit 0' INT TERM HUP
stack_init
if [ -x "$BUILD/configeditor/qorconfig" ]; then
  ln -s "$BUILD/configeditor/qorconfig" "$RUN/qorconfig"
  STACK_ROUTES='"^/qorconfig(.*)$" => "/qorconfig$1", '
  STACK_APPS="\"/qorconfig\" => (( \"bin-path\" => \"$RUN/qorconfig\", \"socket\" => \"$SOCKDIR/qorconfig.sock\", \"max-procs\" => 1, \"check-local\" => \"disable\", \"bin-environment\" => ( \"QORICCONFPATH\" => \"$ROOT/conf/qoric.conf\" ) )),"
fi
stack_start_host
stack_write_config
stack_start_web

URL="http://127.0.0.1:$PORT/demo/"
if [ "$MODE" = check ]; then
  fail() { echo "demo check failed: $*" >&2; tail -n 20 "$ROOT/logs/qoric.log" >&2 2>/dev/null || true; exit 1; }
  page=$(curl -fsS "$URL") || fail "no welcome page at $URL"
  grep -q "QOR/ix gateway demo" <<<"$page" || fail "the welcome page is wrong"
  page=$(curl -fsSL "http://127.0.0.1:$PORT/") || fail "no answer at the site's root"
  grep -q "QOR/ix gateway demo" <<<"$page" || fail "the site's root does not lead to the welcome page"
  page=$(curl -fsS "http://127.0.0.1:$PORT/demo/DEMO") || fail "the DEMO transaction did not start"
  grep -q 'NAME="LOGON"' <<<"$page" || fail "no log-on screen: $page"
  sid=$(sed -n 's/.*qoric?sid=\([0-9a-f]\{32\}\)&.*/\1/p' <<<"$page" | head -n1)
  [ -n "$sid" ] || fail "no session id in the log-on screen"
  host_id=$(sed -n 's/.*NAME="field_003" VALUE="\([0-9A-F]*\)".*/\1/p' <<<"$page" | head -n1)
  page=$(curl -fsS --data "field_003=$host_id&field_005=demo&field_006=&McsStatus=+&McsSize=56&McsCount=56" \
    "http://127.0.0.1:$PORT/demo/qoric?sid=$sid&pib.transaction=DEMO&pib.locap=QOR1&mcs.name=LOGON&mcs.filler=") \
    || fail "the log-on screen could not be submitted"
  grep -q 'NAME="MENU"' <<<"$page" || fail "no menu after the log-on: $page"
  # Stopping leaves nothing of this run: no process of the web server's
  # session, no session table.
  web_sid=$WEB_SID
  shmid=$(cat "$ROOT/logs/.shmid" 2>/dev/null || true)
  [ -n "$web_sid" ] || fail "the web server's session is not known"
  [ -n "$shmid" ] || fail "the gateway wrote no session table id"
  stack_stop
  for d in /proc/[0-9]*; do
    [ "$(stack_session_of "${d#/proc/}")" = "$web_sid" ] && fail "process ${d#/proc/} of the web server's session is left"
  done
  ipcs -m | awk '{ print $2 }' | grep -qx "$shmid" && fail "session table $shmid is left"
  echo "demo check passed: $URL"
  [ -n "${QOR_DEMO_ROOT:-}" ] || rm -rf "$ROOT"
  exit 0
fi

cat <<EOF

The demo runs: open  http://127.0.0.1:$PORT/  (the welcome page, $URL)
  DEMO: log-on, menu (with a help page), detail; ECHO: shows back what you type.
  Run folder:         $ROOT
  Gateway log:        $ROOT/logs/qoric.log
  Stand-in host log:  $ROOT/host/dtphost.log
  Programs:           $BUILD (gateway/qoric, tools/qorshm/qorshm, ...)
  Session table:      $BUILD/tools/qorshm/qorshm -d $ROOT -t
EOF
[ -x "$BUILD/configeditor/qorconfig" ] && echo "  Configuration editor: http://127.0.0.1:$PORT/qorconfig"
echo
echo "Press Ctrl-C to stop."
wait "$WEB_PID" || true
