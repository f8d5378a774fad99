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
# shellcheck source=install-checks.sh
. "$source/tests/windows/install-checks.sh"
install_scratch wine-install

# The served files: the demo's Windows programs and a chain archive packed here.
make_chain 300000
mkdir -p "$chain/blocks/index"
printf 'MANIFEST-000002\r\n' > "$chain/blocks/index/CURRENT"
printf 'network=qvl-test\n' > "$chain/chain-info.txt"
serve_demo_release "$demo" "$source" "$chain" "$www"
nginx_start "$tmp/nginx" "$www"
export QVL_TEST_BASE_URL="http://127.0.0.1:$NGINX_PORT/"

# A fresh prefix in $tmp; a normal window needs a display (without one, a private Xvfb).
wine_session_start --dir "$tmp" --use-display
unset http_proxy HTTP_PROXY no_proxy NO_PROXY

echo "== program and blockchain"
check_first_install
check_same "chain archive" "$www/qvlchain.exe" "$appdata/qvlchain.exe"
while IFS= read -r -d '' file; do
    check_same "unpacked ${file#"$chain"/}" "$file" "$appdata/Quorvale/${file#"$chain"/}"
done < <(find "$chain" -type f -print0)
# The archive notes each run in its folder.
runs=$(grep -c '^qvlchain: unpacked 3 files' "$appdata/Quorvale/qvlchain.log" 2>/dev/null || true)
[ "$runs" = 1 ] && echo "ok: the archive ran once" || fail "the archive ran ${runs:-0} times"
for line in "unzipping blockchain - this will take a while..." "Making Shortcut to your Start menu"; do
    has_line "$tmp/first.log" "$line"
done
[ "$(tail -n 1 "$tmp/first.log")" = "Done." ] || fail "the log does not end with Done."

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
expect_exit second 1
has_line "$tmp/second.log" "Download failure: could not download wallet"
check_same "installed wallet after the 404" "$tmp/wallet.served" "$drive/Quorvale/quorvale-qt.exe"
check_no_leftovers
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

finish_checks "$tmp/first.log" "$tmp/second.log"
