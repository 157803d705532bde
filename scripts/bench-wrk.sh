#!/usr/bin/env bash
# Screen round trips per second and their latency, measured with wrk through
# lighttpd to the qoric workers and dtphost, beside a bare FastCGI responder
# that answers a fixed page of the same size behind the same web server.
# Prints both and their ratio.  It builds nothing: give it a build folder.
#
#   scripts/bench-wrk.sh BUILD_DIR [SECONDS] [CONNECTIONS]
#
# SECONDS per measurement (default 10); CONNECTIONS wrk connections, one
# wrk thread and one host session each, and as many workers of each
# program (default 8).  The host keeps no log: writing every frame in hex
# made the host, not the gateway, the slow end of the round trips, and the
# figures are to be the gateway's.  Exit status 77 while qoric is not built.
set -euo pipefail

[ $# -ge 1 ] || { sed -n '2,13p' "$0"; exit 2; }
BUILD=$(cd "$1" && pwd)
SECONDS_EACH=${2:-10}
CONNS=${3:-8}
WORKERS=$CONNS
command -v wrk >/dev/null || { echo "wrk is not installed (apt-get install wrk)" >&2; exit 1; }
command -v curl >/dev/null || { echo "curl is not installed (apt-get install curl)" >&2; exit 1; }
[ -x "$BUILD/gateway/qoric" ] || { echo "qoric is not built yet: nothing to measure"; exit 77; }
source "$(dirname "$0")/../demo/stack.sh"
WRK_DIR=$SOURCE_DIR/bench/wrk

ROOT=$(mktemp -d "$BUILD/bench-wrk.XXXXXX")
trap 'stack_stop; rm -rf "$ROOT"' EXIT
trap 'trap "" INT TERM; exit 1' INT TERM   # a second signal must not cut the stop short
stack_init

# The baseline responder: from the test build, or compiled here.
FIXED=$BUILD/tests/e2e/e2e_fixed_page
if [ ! -x "$FIXED" ]; then
  FIXED=$ROOT/fixed_page
  c++ -O2 -o "$FIXED" "$SOURCE_DIR/tests/e2e/fixed_page_responder.cpp" -lfcgi
fi
cp "$FIXED" "$RUN/fixed"

PORT=$(stack_free_port)
STACK_HOST_LOG=/dev/null
stack_start_host
# No worker retires during a run, and the log takes errors only.
stack_write_config "<MaxUsage VALUE=\"0\"/><LogFile VALUE=\"$ROOT/logs/qoric.log\" OPTIONS=\"h3MPKw\"/>"
# The baseline's page size is written to this file once it is known; the
# responder reads it at its first page.
SIZE_FILE=$ROOT/page-bytes
STACK_ROUTES='"^/fixed(.*)$" => "/fixed$1", '
STACK_APPS="\"/fixed\" => (( \"bin-path\" => \"$RUN/fixed\", \"socket\" => \"$SOCKDIR/fixed.sock\", \"min-procs\" => $WORKERS, \"max-procs\" => $WORKERS, \"check-local\" => \"disable\", \"bin-environment\" => ( \"FIXED_PAGE_BYTES_FILE\" => \"$SIZE_FILE\" ) )),"
stack_start_web
BASE=http://127.0.0.1:$PORT

# One ECHO session per connection; one round trip gives the page size.
SESSIONS=$ROOT/sessions.txt
: > "$SESSIONS"
for i in $(seq "$CONNS"); do
  page=$(curl -fsS "$BASE/qoric?pib.transaction=ECHO") || { echo "the gateway does not answer" >&2; exit 1; }
  sid=$(sed -n 's/.*qoric?sid=\([0-9a-f]\{32\}\)&.*/\1/p' <<<"$page" | head -n1)
  host_id=$(sed -n 's/.*NAME="field_003" VALUE="\([0-9A-F]*\)".*/\1/p' <<<"$page" | head -n1)
  [ -n "$sid" ] && [ -n "$host_id" ] || { echo "no ECHO session: $page" >&2; exit 1; }
  echo "$sid $host_id" >> "$SESSIONS"
done
read -r sid host_id < "$SESSIONS"
curl -fsS -o "$ROOT/page.html" \
  --data "field_003=$host_id&field_005=0&field_007=wrk+0+0&field_009=&McsStatus=+&McsSize=74&McsCount=74" \
  "$BASE/qoric?sid=$sid&pib.transaction=ECHO&pib.locap=QOR1&mcs.name=ECHO&mcs.filler="
PAGE_BYTES=$(wc -c < "$ROOT/page.html")
grep -q 'NAME="ECHO"' "$ROOT/page.html" || { echo "the round trip gave no ECHO screen" >&2; exit 1; }

echo "$PAGE_BYTES" > "$SIZE_FILE"
[ "$(curl -fsS --data "" "$BASE/fixed" | wc -c)" = "$PAGE_BYTES" ] || { echo "the baseline page has the wrong size" >&2; exit 1; }

run_wrk() {  # run_wrk NAME SECONDS URL SCRIPT [ARGS]
  local name=$1 secs=$2 url=$3 script=$4
  shift 4
  wrk -t "$CONNS" -c "$CONNS" -d "${secs}s" --latency --timeout 10s -s "$script" "$url" -- "$@" \
    > "$ROOT/$name.txt" 2>&1
}
echo "Warming up..."
WARM=$(( SECONDS_EACH < 2 ? 1 : 2 ))
run_wrk warm-gw "$WARM" "$BASE/qoric" "$WRK_DIR/echo_round_trip.lua" "$SESSIONS"
run_wrk warm-fixed "$WARM" "$BASE/fixed" "$WRK_DIR/fixed_page.lua"
echo "Measuring $SECONDS_EACH s each, $CONNS connections, $WORKERS workers, pages of $PAGE_BYTES bytes..."
run_wrk gateway "$SECONDS_EACH" "$BASE/qoric" "$WRK_DIR/echo_round_trip.lua" "$SESSIONS"
run_wrk fixed "$SECONDS_EACH" "$BASE/fixed" "$WRK_DIR/fixed_page.lua"

# wrk prints times as 1.23us, 4.56ms or 1.20s; all in milliseconds here.
to_ms() {
  awk -v t="$1" 'BEGIN { v = t + 0; if (t ~ /us$/) v /= 1000; else if (t ~ /ms$/) v = v; else if (t ~ /s$/) v *= 1000; printf "%.3f", v }'
}
field() {  # field FILE: requests/s, mean, p50, p99 latency (ms), errors
  local f=$ROOT/$1.txt
  local rps mean p50 p99 non2xx wrong
  rps=$(awk '/^Requests\/sec:/ { print $2 }' "$f")
  mean=$(to_ms "$(awk '$1 == "Latency" { print $2; exit }' "$f")")
  p50=$(to_ms "$(awk '$1 == "50%" { print $2 }' "$f")")
  p99=$(to_ms "$(awk '$1 == "99%" { print $2 }' "$f")")
  non2xx=$(awk '/Non-2xx/ { print $NF }' "$f")
  wrong=$(awk '/^wrong answers:/ { print $3 }' "$f")
  echo "${rps:-0} $mean $p50 $p99 ${non2xx:-0} ${wrong:-0}"
}
read -r g_rps g_mean g_p50 g_p99 g_bad g_wrong <<<"$(field gateway)"
read -r f_rps f_mean f_p50 f_p99 f_bad f_wrong <<<"$(field fixed)"

echo
printf "%-34s %12s %10s %10s %10s %8s\n" "" "requests/s" "mean ms" "p50 ms" "p99 ms" "errors"
printf "%-34s %12s %10s %10s %10s %8s\n" "gateway (screen round trips)" "$g_rps" "$g_mean" "$g_p50" "$g_p99" "$((g_bad + g_wrong))"
printf "%-34s %12s %10s %10s %10s %8s\n" "bare FastCGI responder" "$f_rps" "$f_mean" "$f_p50" "$f_p99" "$f_bad"
awk -v g="$g_rps" -v f="$f_rps" -v gm="$g_mean" -v fm="$f_mean" 'BEGIN {
  if (f > 0 && fm > 0) printf "ratio gateway / bare: %.3f of the throughput, %.2f times the mean latency\n", g / f, gm / fm }'
if [ "$((g_bad + g_wrong + f_bad))" != 0 ]; then
  echo "errors during the run: see $ROOT/gateway.txt and $ROOT/fixed.txt" >&2
  trap 'stack_stop' EXIT   # keep the folder for a look
  exit 1
fi
