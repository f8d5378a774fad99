#!/usr/bin/env bash
# A whole unattended install by qvlsetup.exe under wine64, against nginx on the Linux side, with
# the demo server's real Windows programs (launcher, wallet, self-extracting chain archive):
#   1. program and blockchain: exit 0; every file byte-identical to what nginx served; the
#      archive ran once and unpacked its files; both .lnk files name the launcher, "qvl QT
#      Wallet" and show command 5 (lnkinfo for target and description, the header for the
#      show command, which lnkinfo misreports);
#   2. the wallet answered with 404: exit 1, the failure box's text in the log, the installed
#      wallet unchanged;
#   3. with QVL_LINUX_QVLSETUP (the Linux build's qvlsetup-testable), the first-run log of both
#      builds is the same line for line, the paths they name aside.
# Usage: install-under-wine.sh QVLSETUP.exe DEMO-PROGRAM-FOLDER SOURCE-FOLDER
set -euo pipefail
qvlsetup=$1 demo=$2 source=$3
wine=${QVL_WINE:-/usr/lib/wine/wine64}
# shellcheck source=../../scripts/lib/nginx.sh
. "$source/scripts/lib/nginx.sh"

# shellcheck source=../../scripts/lib/tools.sh
. "$source/scripts/lib/tools.sh"
require_tools wine

tmp=$(mktemp -d "${TMPDIR:-/tmp}/qvl-wine-install.XXXXXX")
xvfb_pid=""
cleanup() {
    nginx_stop
    WINEPREFIX="$tmp/prefix" wineserver -k >/dev/null 2>&1 || true
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    rm -rf -- "$tmp"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check_same() { # WHAT EXPECTED ACTUAL
    if cmp -s -- "$2" "$3"; then echo "ok: $1 is byte-identical"; else fail "$1 differs from what was served ($3)"; fi
}

# A normal window needs a display; without one, a private Xvfb.
if [ -z "${DISPLAY:-}" ]; then
    exec 3> "$tmp/display"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    exec 3>&-
    for _ in $(seq 100); do [ -s "$tmp/display" ] && break; sleep 0.1; done
    DISPLAY=:$(cat "$tmp/display")
    export DISPLAY
fi

# The served files: the demo's Windows programs and a chain archive packed here.
www=$tmp/www chain=$tmp/chain
mkdir -p "$www" "$chain/blocks/index"
cp "$demo/demo-launcher.exe" "$www/qvlloader.exe"
cp "$demo/demo-wallet.exe" "$www/quorvale-qt.exe"
printf '1.0.0\n' > "$www/version.txt"
head -c 300000 /dev/urandom > "$chain/blocks/blk00000.dat"
printf 'MANIFEST-000002\r\n' > "$chain/blocks/index/CURRENT"
printf 'network=qvl-test\n' > "$chain/chain-info.txt"
bash "$source/demo/windows/pack-archive" "$demo/demo-chain-archive.exe" "$chain" "$www/qvlchain.exe"
nginx_start "$tmp/nginx" "$www"
export QVL_TEST_BASE_URL="http://127.0.0.1:$NGINX_PORT/"

export WINEPREFIX="$tmp/prefix" HOME="$tmp/home" WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d"
mkdir -p "$HOME"
unset http_proxy HTTP_PROXY no_proxy NO_PROXY
# Wine's background processes inherit standard output: files, not pipes.
run() { # NAME ARGS...
    local name=$1 rc=0; shift
    "$wine" "$qvlsetup" "$@" > "$tmp/$name.out" 2> "$tmp/$name.err" < /dev/null || rc=$?
    echo "$rc" > "$tmp/$name.rc"
}
winpath() { printf 'Z:%s' "${1//\//\\}"; }

echo "== program and blockchain"
run first --unattended --select program,blockchain --log "$(winpath "$tmp/first.log")"
rc=$(cat "$tmp/first.rc")
[ "$rc" = 0 ] || fail "exit status $rc, expected 0 ($(cat "$tmp/first.err"))"
drive=$WINEPREFIX/drive_c
appdata=$(find "$drive/users" -maxdepth 4 -type d -path '*/AppData/Roaming' | head -n 1)
check_same launcher "$www/qvlloader.exe" "$drive/Quorvale/qvlloader.exe"
check_same wallet "$www/quorvale-qt.exe" "$drive/Quorvale/quorvale-qt.exe"
check_same "version file" "$www/version.txt" "$appdata/Quorvale/version.txt"
check_same "chain archive" "$www/qvlchain.exe" "$appdata/qvlchain.exe"
while IFS= read -r -d '' file; do
    check_same "unpacked ${file#"$chain"/}" "$file" "$appdata/Quorvale/${file#"$chain"/}"
done < <(find "$chain" -type f -print0)
# The archive notes each run in its folder.
runs=$(grep -c '^qvlchain: unpacked 3 files' "$appdata/Quorvale/qvlchain.log" 2>/dev/null || true)
[ "$runs" = 1 ] && echo "ok: the archive ran once" || fail "the archive ran ${runs:-0} times"
log=$(cat "$tmp/first.log")
for line in "unzipping blockchain - this will take a while..." "Making Shortcut to your Start menu"; do
    grep -qxF -- "$line" <<< "$log" || fail "the log lacks \"$line\""
done
[ "$(tail -n 1 <<< "$log")" = "Done." ] || fail "the log does not end with Done."

desktop_lnk=$(find -L "$HOME" "$drive/users" -name Quorvale.lnk -path '*Desktop*' -print -quit 2>/dev/null)
menu_lnk=$(find "$drive/users" -name Quorvale.lnk -path '*Start Menu/Programs/Quorvale/*' -print -quit)
for lnk in "$desktop_lnk" "$menu_lnk"; do
    if [ -z "$lnk" ]; then fail "a shortcut is missing (desktop: '$desktop_lnk', menu: '$menu_lnk')"; continue; fi
    info=$(lnkinfo "$lnk" 2>&1 || true)
    grep -qE 'Local path[[:space:]]*: C:\\Quorvale\\qvlloader\.exe$' <<< "$info" || fail "$lnk: target: $info"
    grep -qE 'Description[[:space:]]*: qvl QT Wallet$' <<< "$info" || fail "$lnk: description: $info"
    show=$(od -An -tu4 -j60 -N4 "$lnk" | tr -d ' ')
    [ "$show" = 5 ] || fail "$lnk: show command $show, expected 5"
    echo "ok: ${lnk#"$tmp"/} -> C:\\Quorvale\\qvlloader.exe, qvl QT Wallet, show command $show"
done
requests=$(cat "$tmp/nginx/access.log")
expected_requests='200 GET /qvlloader.exe
200 GET /quorvale-qt.exe
200 GET //version.txt
200 GET /qvlchain.exe'
[ "$(awk '{ print $1, substr($3, 2), $4 }' <<< "$requests")" = "$expected_requests" ] ||
    fail "the server saw: $requests"

echo "== the wallet answered with 404"
: > "$tmp/nginx/access.log"
mv "$www/quorvale-qt.exe" "$tmp/wallet.served"
run second --unattended --select program --log "$(winpath "$tmp/second.log")"
rc=$(cat "$tmp/second.rc")
[ "$rc" = 1 ] && echo "ok: exit status 1" || fail "exit status $rc, expected 1"
grep -qxF "Download failure: could not download wallet" "$tmp/second.log" &&
    echo "ok: the box's text is in the log" || fail "no failure box in the log: $(cat "$tmp/second.log")"
check_same "installed wallet after the 404" "$tmp/wallet.served" "$drive/Quorvale/quorvale-qt.exe"
leftovers=$(find "$drive/Quorvale" -name '.*' | wc -l)
[ "$leftovers" = 0 ] || fail "temporary files left behind: $(find "$drive/Quorvale" -name '.*')"
mv "$tmp/wallet.served" "$www/quorvale-qt.exe"

if [ -n "${QVL_LINUX_QVLSETUP:-}" ]; then
    echo "== the first-run log against the Linux build's"
    box=$tmp/linux
    mkdir -p "$box/home" "$box/appdata" "$box/desktop"
    : > "$tmp/nginx/access.log"
    HOME="$box/home" APPDATA="$box/appdata" XDG_DATA_HOME="$box/xdg" XDG_DESKTOP_DIR="$box/desktop" \
        QT_QPA_PLATFORM=offscreen "$QVL_LINUX_QVLSETUP" --unattended --select program,blockchain \
        --log "$box/first.log" > "$box/out" 2>&1 || true
    # The paths each build names: its APPDATA value.
    windows_appdata=$(sed -n 's/^datapath is //p' "$tmp/first.log")
    # Where a progress line falls depends on how the body arrived (the first read takes
    # what came with the header), so a run of progress lines compares by its last one:
    # the total and the final position, which must be the same on both.
    normalise() { # LOG APPDATA
        local line progress=
        while IFS= read -r line; do
            if [[ $line == Max=* ]]; then progress=$line; continue; fi
            [ -z "$progress" ] || printf '%s\n' "$progress"
            progress=
            printf '%s\n' "${line//"$2"/<APPDATA>}"
        done < "$1"
        [ -z "$progress" ] || printf '%s\n' "$progress"
    }
    if diff <(normalise "$box/first.log" "$box/appdata") <(normalise "$tmp/first.log" "$windows_appdata") > "$tmp/log.diff"; then
        echo "ok: the first-run logs are the same, $(wc -l < "$tmp/first.log") lines"
    else
        fail "the first-run logs differ (< Linux, > Windows):"
        cat "$tmp/log.diff"
    fi
else
    echo "SKIPPED: the first-run log against the Linux build's (QVL_LINUX_QVLSETUP is not set)"
fi

if [ "$failures" -gt 0 ]; then
    echo "== $failures check(s) failed; the first run's log:"
    cat "$tmp/first.log"
    exit 1
fi
echo "== all checks passed"
