# Sourced by the shell tests that run qorconfig behind lighttpd.
#
# start_qorconfig_lighttpd <folder> <document root> <qorconfig> <configuration> <socket>
# starts lighttpd in the foreground with qorconfig at /qorconfig, its files
# (lighttpd.conf, error.log, lighttpd.out) in folder, and waits up to 30 s
# for it to answer. lighttpd refuses a port in use: a few ports below the
# ephemeral ones are tried. Sets pid and port; returns 1 when none served.
start_qorconfig_lighttpd() {
    local dir=$1 docroot=$2 bin=$3 conf=$4 sock=$5 attempt i
    local lighttpd
    lighttpd=$(command -v lighttpd || echo /usr/sbin/lighttpd)
    for attempt in 1 2 3 4 5 6 7 8; do
        port=$((20000 + RANDOM % 12000))
        cat >"$dir/lighttpd.conf" <<CONF
server.document-root = "$docroot"
server.bind = "127.0.0.1"
server.port = $port
server.errorlog = "$dir/error.log"
server.modules = ("mod_fastcgi")
fastcgi.server = ( "/qorconfig" => ((
    "bin-path" => "$bin",
    "socket" => "$sock",
    "max-procs" => 1,
    "check-local" => "disable",
    "bin-environment" => ( "QORICCONFPATH" => "$conf" )
)))
CONF
        "$lighttpd" -D -f "$dir/lighttpd.conf" >"$dir/lighttpd.out" 2>&1 &
        pid=$!
        for i in $(seq 1 300); do   # up to 30 s on a busy machine
            curl -s -o /dev/null "http://127.0.0.1:$port/qorconfig" && break
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -0 "$pid" 2>/dev/null && return 0
        wait "$pid" 2>/dev/null
        pid=
    done
    return 1
}
