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
# folder instead of a new one), QOR_DEMO_COMMAND (the command named in
# messages, default this script and BUILD_DIR).
set -euo pipefail

[ $# -ge 1 ] || { sed -n '2,18p' "$0"; exit 2; }
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
  # The command the user typed (scripts/demo.sh passes its own name).
  command=${QOR_DEMO_COMMAND:-$0 $1}
  stack_port_open "$PORT" && stack_die "port $PORT is in use; give another: bash $command PORT"
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
# A second Ctrl-C (or the time-out of a wrapper) while stopping must not cut
# the stop short: that would leave the host, the cleaner and the table.
trap 'trap "" INT TERM HUP; echo; echo "Stopping..."; exit 0' INT TERM HUP
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
  # DETAIL has no field: its page submits on Enter all the same, and Enter
  # goes back to the menu.
  post() {  # <screen> <transaction> <filler> <fields>: the page after the post
    curl -fsS --data "$4&McsStatus=+" "http://127.0.0.1:$PORT/demo/qoric?sid=$sid&pib.transaction=$2&pib.locap=QOR1&mcs.name=$1&mcs.filler=$3"
  }
  page=$(post MENU DEMO "" "field_003=$host_id&field_007=2&McsSize=55&McsCount=55") || fail "the menu could not be submitted"
  grep -q 'NAME="DETAIL"' <<<"$page" || fail "no detail screen after the menu: $page"
  grep -q 'function EnterSubmits' <<<"$page" || fail "the detail page does not submit on Enter"
  page=$(post DETAIL DEMO "" "field_003=$host_id&McsSize=49&McsCount=49") || fail "the detail screen could not be submitted"
  grep -q 'NAME="MENU"' <<<"$page" || fail "Enter on the detail screen does not lead to the menu: $page"
  # A name no host could know is named on its page, escaped.
  page=$(curl -sS "http://127.0.0.1:$PORT/demo/%3Cscript%3E") || fail "no page for an unknown transaction"
  grep -q 'There is no transaction named &lt;SCRIPT&gt;\.' <<<"$page" || fail "the unknown name is not named: $page"
  # ORDER's converted pages: the protected fields are text (with a hidden
  # copy), the others inputs; no server folder is named; what is typed
  # reaches the host, which shows it back on ORDER TAKEN.
  page=$(curl -fsS "http://127.0.0.1:$PORT/demo/ORDER") || fail "the ORDER transaction did not start"
  grep -q 'NAME="ORDENTRY"' <<<"$page" || fail "no order entry screen: $page"
  for f in 004 012; do
    grep -q "TYPE=HIDDEN NAME=\"field_$f\"" <<<"$page" && ! grep -q "TYPE=TEXT[^>]* NAME=\"field_$f\"" <<<"$page" \
      || fail "protected field_$f is not shown as text: $page"
  done
  for f in 006 008 010; do
    grep -q "TYPE=TEXT[^>]* NAME=\"field_$f\"" <<<"$page" || fail "field_$f is not an input: $page"
  done
  grep -qF "$ROOT" <<<"$page" && fail "the converted page names a server folder: $page"
  grep -q 'Following is a contents of the file orderkeys.html' <<<"$page" || fail "no additional HTML: $page"
  sid=$(sed -n 's/.*qoric?sid=\([0-9a-f]\{32\}\)&.*/\1/p' <<<"$page" | head -n1)
  hidden() { sed -n "s/.*NAME=\"$1\" VALUE=\"\([^\"]*\)\".*/\1/p" <<<"$page" | head -n1; }
  page=$(post ORDENTRY ORDER _ "field_004=$(hidden field_004)&field_006=acme&field_008=42&field_010=7&field_012=$(hidden field_012 | tr ' ' +)&McsSize=46&McsCount=46") \
    || fail "the order entry screen could not be submitted"
  grep -q 'NAME="ORDTAKEN"' <<<"$page" || fail "no order taken screen: $page"
  grep -q 'NAME="field_005" VALUE="ACME"' <<<"$page" && grep -q 'NAME="field_007" VALUE="000042"' <<<"$page" \
    || fail "the host did not get what was typed: $page"
  # The web server answers the browsers' icon itself.
  [ "$(curl -sS -o /dev/null -w '%{http_code}' "http://127.0.0.1:$PORT/favicon.ico")" = 404 ] \
    || fail "/favicon.ico is not answered with 404"
  grep -q favicon "$ROOT/logs/qoric.log" && fail "/favicon.ico reached the gateway"
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
  DEMO: log-on, menu (with a help page), detail; ECHO: shows back what you type;
  ORDER: an order entry whose pages the gateway converts from the host's screen formats.
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
