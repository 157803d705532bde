#!/usr/bin/env bash
# qorconfig behind a real web server: lighttpd starts it through mod_fastcgi
# (bin-path, one process) and curl reads and posts the form.
# Usage: lighttpd_qorconfig_test.sh <qorconfig binary>
# Exit 77 (skipped) when lighttpd or curl is not installed.
set -u
qorconfig=$1
lighttpd=$(command -v lighttpd || echo /usr/sbin/lighttpd)
[ -x "$lighttpd" ] || { echo "lighttpd is not installed"; exit 77; }
command -v curl >/dev/null || { echo "curl is not installed"; exit 77; }

dir=$(mktemp -d "$PWD/lighttpd.XXXXXX")
# lighttpd refuses socket paths of more than about 100 bytes: the socket
# lives in a short private folder, wherever the tree lies.
sockdir=$(mktemp -d /tmp/qorcfg.XXXXXX)
pid=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    rm -rf "$dir" "$sockdir"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*"
    echo "--- lighttpd error log"; cat "$dir/error.log" 2>/dev/null
    exit 1
}

mkdir -p "$dir/htdocs"
cat >"$dir/qoric.conf" <<'EOF'
<ZelConf>
<ServerAdmin value="before@example.org"/>
<Setenv name="lang" value="C"/>
<Locap name="main" address="127.0.0.1" port="7000"/>
<Transaction name="order" id="ordprog" log="hT"/>
</ZelConf>
EOF
echo "keep me" >"$dir/victim"

# lighttpd refuses a port in use: try a few.
for attempt in 1 2 3 4 5 6 7 8; do
    port=$((20000 + RANDOM % 20000))
    cat >"$dir/lighttpd.conf" <<EOF
server.document-root = "$dir/htdocs"
server.bind = "127.0.0.1"
server.port = $port
server.errorlog = "$dir/error.log"
server.modules = ("mod_fastcgi")
fastcgi.server = ( "/qorconfig" => ((
    "socket" => "$sockdir/qorconfig.sock",
    "bin-path" => "$qorconfig",
    "bin-environment" => ( "QORICCONFPATH" => "$dir/qoric.conf" ),
    "max-procs" => 1,
    "check-local" => "disable"
)))
EOF
    "$lighttpd" -D -f "$dir/lighttpd.conf" >"$dir/lighttpd.out" 2>&1 &
    pid=$!
    for i in $(seq 1 50); do
        curl -s -o /dev/null "http://127.0.0.1:$port/qorconfig" && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$pid" 2>/dev/null && break
    wait "$pid" 2>/dev/null
    pid=
done
[ -n "$pid" ] || fail "lighttpd did not start"
url="http://127.0.0.1:$port/qorconfig"

# The form, read with a POST of nothing.
page=$(curl -s -X POST --data-binary '' "$url") || fail "no answer"
head='<h2><font color="teal"> QOR/ic Configuration </font></h2> '
[[ "$page" == "<html>"* && "$page" == *"$head"* ]] || fail "no form: $page"
grep -q 'value="before@example.org">' <<<"$page" || fail "setting not shown"
grep -q '<br>LANG=C' <<<"$page" || fail "environment entry not shown"
grep -q 'value="write_file">' <<<"$page" || fail "no write_file action"

# A save as the browser posts it (curl encodes the fields; a blank goes
# as "+" the way a browser sends it, a "+" as "%2B"); a posted ConfigFile
# is ignored.
curl -s -o "$dir/saved.html" "$url" \
    --data-urlencode "ServerRoot=/usr/local/qoric" \
    --data-urlencode "ServerAdmin=ops@example.org" \
    --data-urlencode "RegularStore=/usr/local/qoric/htx" \
    --data-urlencode "Cache=/usr/local/qoric/cache" \
    --data-urlencode "ThisLocap=ICL" --data-urlencode "AdditionalHtml=" \
    --data-urlencode "DefaultStylesheet=" --data-urlencode "FccModsSupport=full" \
    --data "OnPRENPage=the+end.htx" --data-urlencode "OnErrorPage=error.htx" \
    --data-urlencode "InstanceCleanup=120" --data-urlencode "SystemCleanup=240" \
    --data-urlencode "MaxSessions=64" --data-urlencode "LocapCount=1" \
    --data-urlencode "LocapName0=MAIN" --data-urlencode "LocapHost0=127.0.0.1" \
    --data-urlencode "LocapPort0=7000" --data-urlencode "DefaultLocap=0" \
    --data-urlencode "TransactionCount=1" --data-urlencode "TransactionName0=ORDER" \
    --data-urlencode "TransactionId0=ORDPROG" --data-urlencode "TransactionCda0=a+b" \
    --data-urlencode "ConfigFile=$dir/victim" \
    --data-urlencode "nextaction=write_file" || fail "save request failed"
grep -q 'value="ops@example.org">' "$dir/saved.html" || fail "saved form not shown: $(cat "$dir/saved.html")"
grep -q '<ServerAdmin value="ops@example.org"/>' "$dir/qoric.conf" || fail "file not written"
grep -q '<Transaction name="ORDER" id="ORDPROG" cda="a+b" log="hT"/>' "$dir/qoric.conf" \
    || fail "transaction row or carried log option missing"
grep -q '<Setenv name="LANG" value="C"/>' "$dir/qoric.conf" || fail "Setenv lost"
grep -q '<OnPRENPage value="the end.htx"/>' "$dir/qoric.conf" || fail "blank posted as + not kept"
[ "$(cat "$dir/victim")" = "keep me" ] || fail "posted ConfigFile was written"

# A refused save leaves the file alone.
before=$(cat "$dir/qoric.conf")
curl -s -o "$dir/refused.html" "$url" --data-urlencode 'Cache=a"b' --data-urlencode "nextaction=write_file"
grep -q "Can't save config file" "$dir/refused.html" || fail "quote not refused"
[ "$before" = "$(cat "$dir/qoric.conf")" ] || fail "refused save changed the file"

echo "lighttpd + qorconfig: ok"
exit 0
