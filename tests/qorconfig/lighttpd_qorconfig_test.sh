#!/usr/bin/env bash
# qorconfig behind a real web server: lighttpd starts it through mod_fastcgi
# (bin-path, one process) and curl reads and posts the form.
# Usage: lighttpd_qorconfig_test.sh <qorconfig binary>
# Exit 77 (skipped) when lighttpd or curl is not installed.
set -u
source "$(dirname "$0")/lighttpd_start.sh"
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
<LogLevel value="debug"/>
<Setenv name="lang" value="C"/>
<Locap name="main" address="127.0.0.1" port="7000"/>
<Transaction name="order" id="ordprog" log="hT"/>
</ZelConf>
EOF
echo "keep me" >"$dir/victim"

start_qorconfig_lighttpd "$dir" "$dir/htdocs" "$qorconfig" "$dir/qoric.conf" "$sockdir/qorconfig.sock" ||
    fail "lighttpd did not start"
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
grep -q '<b>Saved:</b> the file was written at 20' "$dir/saved.html" || fail "no line that says when it was saved"
grep -q '<ServerAdmin value="ops@example.org"/>' "$dir/qoric.conf" || fail "file not written"
grep -q '<Transaction name="ORDER" id="ORDPROG" cda="a+b" log="hT"/>' "$dir/qoric.conf" \
    || fail "transaction row or carried log option missing"
grep -q '<Setenv name="LANG" value="C"/>' "$dir/qoric.conf" || fail "Setenv lost"
grep -q '<OnPRENPage value="the end.htx"/>' "$dir/qoric.conf" || fail "blank posted as + not kept"
[ "$(cat "$dir/victim")" = "keep me" ] || fail "posted ConfigFile was written"
grep -q '<LogLevel value="debug"/>' "$dir/qoric.conf" || fail "LogLevel lost"

# A refused save leaves the file alone.
before=$(cat "$dir/qoric.conf")
curl -s -o "$dir/refused.html" "$url" --data-urlencode 'Cache=a"b' --data-urlencode "nextaction=write_file"
grep -q "Can't save config file" "$dir/refused.html" || fail "quote not refused"
[ "$before" = "$(cat "$dir/qoric.conf")" ] || fail "refused save changed the file"

# A save of the whole form; fields given first win (the editor keeps the
# first of repeated fields). Curl options may come among them.
save() {
    local args=() f
    for f in ServerRoot=/usr/local/qoric ServerAdmin=ops@example.org RegularStore=/r Cache=/c \
             ThisLocap=ICL AdditionalHtml= DefaultStylesheet= FccModsSupport=full OnPRENPage=p.htx \
             OnErrorPage=e.htx InstanceCleanup=120 SystemCleanup=240 MaxSessions=64 LocapCount=1 \
             LocapName0=MAIN LocapHost0=127.0.0.1 LocapPort0=7000 DefaultLocap=0 \
             TransactionCount=1 TransactionName0=ORDER TransactionId0=ORDPROG nextaction=write_file; do
        args+=(--data-urlencode "$f")
    done
    curl -s "$url" "$@" "${args[@]}"
}
# Each refused save names its reason and leaves the file as it was.
refused() {  # <what> <reason text> <save arguments...>
    local what=$1 reason=$2 page
    shift 2
    cp -p "$dir/qoric.conf" "$dir/before"
    page=$(save "$@")
    grep -q "Can't save config file" <<<"$page" || fail "$what: not refused: $page"
    grep -qF "$reason" <<<"$page" || fail "$what: no reason \"$reason\": $page"
    cmp -s "$dir/qoric.conf" "$dir/before" || fail "$what: the file changed"
    [ "$(stat -c %a "$dir/qoric.conf")" = "$(stat -c %a "$dir/before")" ] || fail "$what: the mode changed"
}
kept() {  # <what> <text the file then holds> <save arguments...>
    local what=$1 text=$2
    shift 2
    save "$@" >/dev/null
    grep -qF "$text" "$dir/qoric.conf" || fail "$what: not saved"
}
self="http://127.0.0.1:$port"

# Saves posted from pages of other sites.
other="not posted from a page of this server"
refused "foreign Origin" "$other" -H "Origin: http://evil.example" --data-urlencode "LocapPort0=7777"
refused "foreign Referer" "$other" -H "Referer: http://evil.example/x" --data-urlencode "LocapPort0=7777"
refused "same host, other port" "$other" -H "Origin: http://127.0.0.1:1" --data-urlencode "LocapPort0=7777"
refused "Origin null" "$other" -H "Origin: null" --data-urlencode "LocapPort0=7777"
kept "own Origin" 'port="7001"' -H "Origin: $self" --data-urlencode "LocapPort0=7001"
kept "own Referer" 'port="7002"' -H "Referer: $self/qorconfig" --data-urlencode "LocapPort0=7002"

# Numbers that are no numbers, or outside the gateway's bounds.
refused "timeout abc" "the value of InstanceCleanup is not a whole number from 1 to" \
    --data-urlencode "InstanceCleanup=abc"
refused "port 99999x" "the value of LocapPort0 is not a whole number from 1 to 65535" \
    --data-urlencode "LocapPort0=99999x"
refused "port 0" "LocapPort0 is not a whole number" --data-urlencode "LocapPort0=0"
refused "port 65536" "LocapPort0 is not a whole number" --data-urlencode "LocapPort0=65536"
refused "no sessions" "MaxSessions is not a whole number" --data-urlencode "MaxSessions=0"
kept "blanks around a number" '<InstanceCleanup value="300"/>' --data-urlencode "InstanceCleanup= 300 "
grep -q '<LogLevel value="debug"/>' "$dir/qoric.conf" || fail "LogLevel lost by a later save"

# A file that breaks off, or that ends before its last closing tag: shown
# with a warning, never saved over.
good=$(cat "$dir/qoric.conf")
printf '%s\n' '<ZelConf><ServerAdmin value="a"/></Broken>' \
    '<Transaction name="LATE" id="P"/><AppGroup url="/g1/"/><AppGroup url="/g2/"/></ZelConf>' \
    >"$dir/qoric.conf"
page=$(curl -s -X POST --data-binary '' "$url")
grep -q "the file is broken (line 1: the close tag" <<<"$page" || fail "no warning for a broken file"
refused "broken file" "is broken (line 1" --data-urlencode "ServerAdmin=x@example.org"
printf '%s' "${good%>*}" >"$dir/qoric.conf"
refused "cut file" "is broken (line" --data-urlencode "ServerAdmin=x@example.org"

# A file made read-only is not saved over, even by root.
printf '%s\n' "$good" >"$dir/qoric.conf"
chmod 0444 "$dir/qoric.conf"
refused "read-only file" "is read-only for the editor (mode 0444)" --data-urlencode "LocapPort0=7003"
chmod 0644 "$dir/qoric.conf"
ls -A "$dir" | grep -q qorconfig-save && fail "a temporary file was left"

echo "lighttpd + qorconfig: ok"
exit 0
