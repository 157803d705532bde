#!/usr/bin/env bash
# Installs this build (QOR_BINARY_DIR) into a folder of its own: the five
# programs without the setuid bit and nothing else in bin/, the gateway's
# folders with their modes, a configuration that qorconfig started as the
# README's lighttpd lines start it reads, and a second install that keeps
# the configuration in place.  Usage: install_test.sh <cmake>
# Exit 77 when lighttpd or curl is missing (the configuration is not read).
set -u
source "$(dirname "$0")/../qorconfig/lighttpd_start.sh"
cmake=$1
prefix=$(mktemp -d "$PWD/prefix.XXXXXX")
sockdir=$(mktemp -d /tmp/qorinst.XXXXXX)
pid=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    rm -rf "$prefix" "$prefix.out" "$sockdir"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }
run_install() { "$cmake" --install "$QOR_BINARY_DIR" --prefix "$prefix" >"$prefix.out" 2>&1 || fail "install: $(cat "$prefix.out")"; }

run_install
[ "$(ls "$prefix")" = "$(printf 'bin\nqoric')" ] || fail "the prefix holds $(ls "$prefix")"
[ "$(ls "$prefix/bin")" = "$(printf 'fmtconv\nqorconfig\nqoric\nqorshm\ntpltest')" ] || fail "bin/ holds $(ls "$prefix/bin")"
for p in "$prefix"/bin/*; do
    [ -f "$p" ] && [ -x "$p" ] && [ ! -u "$p" ] && [ ! -g "$p" ] || fail "$p: $(stat -c %A "$p")"
done
root=$prefix/qoric
web=
[ "$(id -u)" = 0 ] && id -u www-data >/dev/null 2>&1 && web=www-data
for f in conf:750:$web logs:750:$web cache:750:$web htx:755: run:755: run/latestmcsdata:700:$web conf/qoric.conf:640:$web; do
    IFS=: read -r path mode owner <<<"$f"
    [ "$(stat -c %a "$root/$path")" = "$mode" ] || fail "$path: mode $(stat -c %a "$root/$path"), not $mode"
    [ -z "$owner" ] || [ "$(stat -c %U "$root/$path")" = "$owner" ] || fail "$path is not $owner's"
done
for p in qoric qorconfig; do
    [ "$root/run/$p" -ef "$prefix/bin/$p" ] || fail "run/$p does not lead to bin/$p"
done
conf=$root/conf/qoric.conf
grep -q '@[A-Z]*@' "$conf" && fail "a placeholder is left: $(cat "$conf")"
grep -q "<LogFile VALUE=\"$root/logs/qoric.log\"" "$conf" || fail "the log is not under the root: $(cat "$conf")"

# A second install keeps the administrator's file.
echo '<MaxSessions VALUE="77"/>' >>"$conf"
run_install
grep -q 'VALUE="77"' "$conf" || fail "the second install wrote over qoric.conf"
grep -q 'configuration in place is kept' "$prefix.out" || fail "the second install does not say it kept qoric.conf"

# qorconfig, started from run/ as the web server starts it, reads the file.
lighttpd=$(command -v lighttpd || echo /usr/sbin/lighttpd)
[ -x "$lighttpd" ] && command -v curl >/dev/null || { echo "lighttpd or curl is missing: qoric.conf not read"; exit 77; }
start_qorconfig_lighttpd "$prefix" "$root/htx" "$root/run/qorconfig" "$conf" "$sockdir/qorconfig.sock" ||
    fail "lighttpd did not start: $(cat "$prefix/error.log" 2>/dev/null)"
page=$(curl -s "http://127.0.0.1:$port/qorconfig") || fail "qorconfig did not answer"
for want in "value=\"$root/logs/qoric.log\"" 'value="77"' 'QOR1' 'DEMO'; do
    grep -qF "$want" <<<"$page" || fail "the form lacks $want: $page"
done
echo "install test passed"
