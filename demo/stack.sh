# Shell functions that lay out and run the demo stack: dtphost with the
# sample transactions, lighttpd from lighttpd.conf.in, and the qoric workers
# that lighttpd starts.  Sourced by scripts/demo-run.sh and
# scripts/bench-wrk.sh; they set the variables below and call
#   stack_init, stack_start_host, stack_write_config, stack_start_web,
# and stack_stop (from a trap) at the end.
#
# In:  BUILD (build folder), ROOT (run-time folder, made here),
#      WORKERS (qoric workers), PORT (web server port), optional
#      STACK_ROUTES / STACK_APPS (more FastCGI programs, lighttpd syntax),
#      optional STACK_HOST_LOG (dtphost's log, default host/dtphost.log).
# Out: HOST_PORT, WEB_PID, HOST_PID, SOCKDIR.

DEMO_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
SOURCE_DIR=$(dirname "$DEMO_DIR")
WEB_PID=
HOST_PID=
SOCKDIR=

# Background programs get a session of their own, so that a Ctrl-C reaches
# only the script, which then stops them in order; the web server's session
# also holds everything it starts (workers, their cleaner and log server),
# so that stopping ends exactly those.
STACK_SETSID=$(command -v setsid || true)
WEB_SID=

stack_die() { echo "error: $*" >&2; exit 1; }

stack_lighttpd() {
  local p
  for p in /usr/sbin/lighttpd /usr/bin/lighttpd "$(command -v lighttpd 2>/dev/null)"; do
    [ -n "$p" ] && [ -x "$p" ] && { echo "$p"; return; }
  done
  stack_die "lighttpd is not installed (apt-get install lighttpd)"
}

# A loopback port nobody listens on, from a range above the usual ones and
# below the kernel's ephemeral ports (32768 up), which outgoing connections
# take and would make a later bind fail.
stack_free_port() {
  local p tries=0
  while [ $tries -lt 200 ]; do
    p=$(( 20000 + (RANDOM % 12000) ))
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then echo "$p"; return; fi
    tries=$((tries + 1))
  done
  stack_die "no free loopback port"
}

stack_port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# The key the session table of folder $1 gets (ftok of the folder and 'j').
stack_table_key() {
  local dev ino
  read -r dev ino < <(stat -c '%d %i' "$1")
  printf '0x%08x' $(( (0x6a << 24) | ((dev & 0xff) << 16) | (ino & 0xffff) ))
}

# True when no shared-memory segment has the key of folder $1's table.
stack_key_free() {
  local key
  key=$(stack_table_key "$1")
  ! ipcs -m 2>/dev/null | awk '{ print $1 }' | grep -qix "$key"
}

# The session id of process $1 (empty when it is gone, or has ended and
# waits as a zombie for a parent to reap it).
stack_session_of() {
  local stat
  read -r stat 2>/dev/null < "/proc/$1/stat" || return 0
  stat=${stat##*) }
  # state ppid pgrp session ...
  set -- $stat
  [ "${1:-}" = Z ] || echo "${4:-}"
}

# True while the run folder $1 has its web server running.
stack_running() {
  local pid
  pid=$(cat "$1/logs/web.pid" 2>/dev/null) || return 1
  [ -n "$pid" ] && grep -qF "$1/conf/lighttpd.conf" "/proc/$pid/cmdline" 2>/dev/null
}

stack_init() {
  [ -x "$BUILD/gateway/qoric" ] || stack_die "qoric is not built: $BUILD/gateway/qoric"
  [ -x "$BUILD/testhost/dtphost" ] || stack_die "dtphost is not built: $BUILD/testhost/dtphost"
  LIGHTTPD=$(stack_lighttpd)
  [ -n "$STACK_SETSID" ] || stack_die "setsid is not installed (apt-get install util-linux)"
  mkdir -p "$ROOT"
  ROOT=$(cd "$ROOT" && pwd)
  stack_running "$ROOT" && stack_die "a demo is running in $ROOT; stop it first or use another folder"
  rm -rf "${ROOT:?}"/{logs,conf,htx,cache,host,run*}
  mkdir -p "$ROOT"/{logs,conf,htx,cache,host}
  # A segment some other run left under the key of the workers' folder
  # would be taken for this one's: make the folder again until it is free.
  local n
  for n in "" 1 2 3 4 5 6 7 8 9; do
    RUN=$ROOT/run$n
    mkdir -p "$RUN"
    stack_key_free "$RUN" && break
  done
  cp "$DEMO_DIR"/htx/* "$ROOT/htx/"
  # The workers run in run/ (lighttpd starts them in the folder of their
  # binary), which keys the session table; the link follows rebuilds, and a
  # rebuilt binary makes the workers retire and come back new.
  ln -s "$BUILD/gateway/qoric" "$RUN/qoric"
  # FastCGI socket paths must stay short.
  SOCKDIR=$(mktemp -d /tmp/qoric-demo.XXXXXX)
}

stack_start_host() {
  local portfile=$ROOT/host/port
  $STACK_SETSID "$BUILD/testhost/dtphost" --port 0 --locap QOR1 \
      --script "$SOURCE_DIR/testhost/samples/demo.dts" \
      --formats "$SOURCE_DIR/testhost/samples/formats" \
      --log "${STACK_HOST_LOG:-$ROOT/host/dtphost.log}" >"$portfile" 2>"$ROOT/host/dtphost.err" &
  HOST_PID=$!
  local i
  for i in $(seq 600); do   # up to 30 s on a busy machine
    HOST_PORT=$(head -n1 "$portfile" 2>/dev/null || true)
    [ -n "$HOST_PORT" ] && return
    kill -0 "$HOST_PID" 2>/dev/null || break
    sleep 0.05
  done
  stack_die "dtphost did not start: $(cat "$ROOT/host/dtphost.err" 2>/dev/null)"
}

# Fills a template: stack_fill TEMPLATE OUTPUT [EXTRA-CONFIG-TEXT]
stack_fill() {
  local extra=${3:-}
  awk -v run="$RUN" -v root="$ROOT" -v port="$PORT" -v sockdir="$SOCKDIR" \
      -v conf="$ROOT/conf/qoric.conf" -v procs="$WORKERS" -v hostport="$HOST_PORT" \
      -v routes="${STACK_ROUTES:-}" -v apps="${STACK_APPS:-}" -v extra="$extra" '
    function put(s, from, to,   at, out) {
      out = ""
      while ((at = index(s, from)) > 0) { out = out substr(s, 1, at - 1) to; s = substr(s, at + length(from)) }
      return out s
    }
    { s = $0
      s = put(s, "@ROUTES@", routes); s = put(s, "@APPS@", apps)
      s = put(s, "@RUN@", run); s = put(s, "@ROOT@", root); s = put(s, "@PORT@", port)
      s = put(s, "@SOCKDIR@", sockdir); s = put(s, "@CONF@", conf); s = put(s, "@MAXPROCS@", procs)
      s = put(s, "@HOSTPORT@", hostport); s = put(s, "@EXTRA@", extra)
      print s }' "$1" > "$2"
}

stack_write_config() {
  stack_fill "$DEMO_DIR/qoric.conf.in" "$ROOT/conf/qoric.conf" "${1:-}"
}

stack_start_web() {
  stack_fill "$DEMO_DIR/lighttpd.conf.in" "$ROOT/conf/lighttpd.conf"
  "$LIGHTTPD" -tt -f "$ROOT/conf/lighttpd.conf" >/dev/null || stack_die "lighttpd rejects $ROOT/conf/lighttpd.conf"
  $STACK_SETSID "$LIGHTTPD" -D -f "$ROOT/conf/lighttpd.conf" >>"$ROOT/logs/lighttpd.out" 2>&1 </dev/null &
  WEB_PID=$!
  echo "$WEB_PID" > "$ROOT/logs/web.pid"
  local i
  for i in $(seq 3000); do
    WEB_SID=$(stack_session_of "$WEB_PID")
    [ "$WEB_SID" = "$WEB_PID" ] && break
    sleep 0.01
  done
  [ "$WEB_SID" = "$WEB_PID" ] || WEB_SID=
  for i in $(seq 600); do
    stack_port_open "$PORT" && return
    kill -0 "$WEB_PID" 2>/dev/null || break
    sleep 0.05
  done
  stack_die "lighttpd did not start on port $PORT: $(tail -n 5 "$ROOT/logs/lighttpd-error.log" "$ROOT/logs/lighttpd.out" 2>/dev/null)"
}

stack_stop_web() {
  [ -n "$WEB_PID" ] || return 0
  kill -TERM "$WEB_PID" 2>/dev/null || true   # lighttpd ends its workers with SIGTERM
  wait "$WEB_PID" 2>/dev/null || true
  WEB_PID=
}

# Processes left of this run: those of the web server's session (workers,
# their cleaner, the log server), and any other process working in run/.
stack_leftovers() {
  local d pid stat
  for d in /proc/[0-9]*; do
    pid=${d#/proc/}
    [ "$pid" = "$$" ] && continue
    if [ -n "$WEB_SID" ] && read -r stat 2>/dev/null < "$d/stat"; then
      stat=${stat##*) }
      set -- $stat    # state ppid pgrp session ...
      [ "${1:-}" = Z ] && continue   # ended; only its parent's wait is missing
      if [ "${4:-}" = "$WEB_SID" ]; then
        echo "$pid"
        continue
      fi
    fi
    # Same folder (device and inode), without a process per entry: on a
    # busy machine a readlink for each of a few hundred processes took
    # seconds, which a Ctrl-C waited for twice over.
    if [ -n "${RUN:-}" ] && [ "$d/cwd" -ef "$RUN" ]; then
      echo "$pid"
    fi
  done
  return 0
}

# Removes the session table whose id this run's gateway wrote beside its
# working folder, when that segment still carries the folder's key (a
# segment removed by the cleaner may meanwhile have given its id away).
stack_remove_table() {
  local id key
  [ -d "${RUN:-}" ] || return 0
  key=$(stack_table_key "$RUN")
  # The table's own lock file is named after its key.
  rm -f "/tmp/sesstbl_lock.${key#0x}"
  id=$(cat "$ROOT/logs/.shmid" 2>/dev/null) || return 0
  [[ "$id" =~ ^[0-9]+$ ]] || return 0
  if ipcs -m 2>/dev/null | awk -v id="$id" '$2 == id { print $1 }' | grep -qix "$key"; then
    ipcrm -m "$id" 2>/dev/null || true
  fi
}

stack_stop() {
  stack_stop_web
  local pids n
  pids=$(stack_leftovers)
  if [ -n "$pids" ]; then
    kill -TERM $pids 2>/dev/null || true
    for n in $(seq 100); do
      sleep 0.1
      pids=$(stack_leftovers)
      [ -z "$pids" ] && break
    done
    [ -n "$pids" ] && kill -KILL $pids 2>/dev/null
  fi
  WEB_SID=
  [ -n "${ROOT:-}" ] && stack_remove_table
  [ -n "${ROOT:-}" ] && rm -f "$ROOT/logs/web.pid"
  if [ -n "$HOST_PID" ]; then
    kill -TERM "$HOST_PID" 2>/dev/null || true
    wait "$HOST_PID" 2>/dev/null || true
    HOST_PID=
  fi
  [ -n "$SOCKDIR" ] && rm -rf "$SOCKDIR"
  SOCKDIR=
  return 0
}
