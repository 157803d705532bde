#!/usr/bin/env bash
# Runs the demo from a build folder (it builds nothing): dtphost with the
# sample transactions, and lighttpd on a loopback port with the qoric
# workers it starts.  Prints the address to open and stops everything on
# Ctrl-C.
#
#   scripts/demo-run.sh BUILD_DIR [PORT]     interactive; PORT default 8080
#   scripts/demo-run.sh BUILD_DIR --check    start, try the demo with curl, stop
#
# Environment: QOR_DEMO_WORKERS (default 4), QOR_DEMO_ROOT (run-time
# folder, default BUILD_DIR/demo-run).
set -euo pipefail

[ $# -ge 1 ] || { sed -n '2,12p' "$0"; exit 2; }
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
  ROOT=${QOR_DEMO_ROOT:-$BUILD/demo-run}
  stack_port_open "$PORT" && stack_die "port $PORT is in use; give another: $0 $1 PORT"
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
  page=$(curl -fsS "http://127.0.0.1:$PORT/demo/DEMO") || fail "the DEMO transaction did not start"
  grep -q 'NAME="LOGON"' <<<"$page" || fail "no log-on screen: $page"
  sid=$(sed -n 's/.*qoric?sid=\([0-9a-f]\{32\}\)&.*/\1/p' <<<"$page" | head -n1)
  [ -n "$sid" ] || fail "no session id in the log-on screen"
  host_id=$(sed -n 's/.*NAME="field_003" VALUE="\([0-9A-F]*\)".*/\1/p' <<<"$page" | head -n1)
  page=$(curl -fsS --data "field_003=$host_id&field_005=demo&field_006=&McsStatus=+&McsSize=56&McsCount=56" \
    "http://127.0.0.1:$PORT/demo/qoric?sid=$sid&pib.transaction=DEMO&pib.locap=QOR1&mcs.name=LOGON&mcs.filler=") \
    || fail "the log-on screen could not be submitted"
  grep -q 'NAME="MENU"' <<<"$page" || fail "no menu after the log-on: $page"
  echo "demo check passed: $URL"
  stack_stop
  [ -n "${QOR_DEMO_ROOT:-}" ] || rm -rf "$ROOT"
  exit 0
fi

cat <<EOF

The demo runs: open  $URL
  DEMO: log-on, menu (with a help page), detail; ECHO: shows back what you type.
  Gateway log:        $ROOT/logs/qoric.log
  Stand-in host log:  $ROOT/host/dtphost.log
EOF
[ -x "$BUILD/configeditor/qorconfig" ] && echo "  Configuration editor: http://127.0.0.1:$PORT/qorconfig"
echo
echo "Press Ctrl-C to stop."
wait "$WEB_PID" || true
