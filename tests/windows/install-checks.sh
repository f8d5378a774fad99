# shellcheck shell=bash disable=SC2154
# What the scripts that install under wine share: the nginx, wine and tool helpers, a scratch
# folder, their checks, running qvlsetup.exe, and the release they serve, made of the demo's
# Windows programs. `run` and `expect_exit` use $WINE64 and the sourcing script's $qvlsetup.
_install_lib="$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib"
# shellcheck source=../../scripts/lib/nginx.sh
. "$_install_lib/nginx.sh"
# shellcheck source=../../scripts/lib/wine.sh
. "$_install_lib/wine.sh"
# shellcheck source=../../scripts/lib/tools.sh
. "$_install_lib/tools.sh"
require_tools wine

# The scratch folder $tmp (qvl-NAME.XXXXXX), removed at exit after nginx and the wine session
# are stopped; in it $www for the served files and $chain for what the chain archive unpacks.
install_scratch() { # NAME
    tmp=$(mktemp -d "${TMPDIR:-/tmp}/qvl-$1.XXXXXX")
    trap install_cleanup EXIT
    www=$tmp/www chain=$tmp/chain
}
install_cleanup() {
    nginx_stop
    wine_session_stop
    rm -rf -- "$tmp"
}

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check_same() { # WHAT EXPECTED ACTUAL
    if cmp -s -- "$2" "$3"; then echo "ok: $1 is byte-identical"; else fail "$1 differs: $3 is not $2"; fi
}
has_line() { # LOG LINE
    if grep -qxF -- "$2" "$1"; then echo "ok: the log says \"$2\""; else fail "the log lacks \"$2\""; fi
}

# qvlsetup.exe under wine, its output in $tmp/NAME.out and .err and its exit status in
# $tmp/NAME.rc. Wine's background processes inherit standard output: files, not pipes.
run() { # NAME ARGS...
    local name=$1 rc=0; shift
    "$WINE64" "$qvlsetup" "$@" > "$tmp/$name.out" 2> "$tmp/$name.err" < /dev/null || rc=$?
    echo "$rc" > "$tmp/$name.rc"
}
expect_exit() { # NAME STATUS
    local rc
    rc=$(cat "$tmp/$1.rc")
    if [ "$rc" = "$2" ]; then echo "ok: exit status $2"; else fail "exit status $rc, expected $2 ($(cat "$tmp/$1.err"))"; fi
}
winpath() { printf 'Z:%s' "${1//\//\\}"; }
# The user's AppData\Roaming in the wine prefix.
roaming_folder() { find "$WINEPREFIX/drive_c/users" -maxdepth 4 -type d -path '*/AppData/Roaming' | head -n 1; }

# The first install of program and blockchain from $www: exit 0, and the launcher, the wallet and
# the version file byte-identical to what was served. Sets $drive (C:) and $appdata.
check_first_install() {
    run first --unattended --select program,blockchain --log "$(winpath "$tmp/first.log")"
    expect_exit first 0
    drive=$WINEPREFIX/drive_c
    appdata=$(roaming_folder)
    check_same launcher "$www/qvlloader.exe" "$drive/Quorvale/qvlloader.exe"
    check_same wallet "$www/quorvale-qt.exe" "$drive/Quorvale/quorvale-qt.exe"
    check_same "version file" "$www/version.txt" "$appdata/Quorvale/version.txt"
}
# No temporary (dot) file left in C:\Quorvale.
check_no_leftovers() {
    local leftovers
    leftovers=$(find "$drive/Quorvale" -name '.*')
    if [ -z "$leftovers" ]; then echo "ok: no temporary file left"; else fail "temporary files left behind: $leftovers"; fi
}

# A block file of BYTES random bytes in $chain, for the chain archive.
make_chain() { # BYTES
    mkdir -p "$chain/blocks"
    head -c "$1" /dev/urandom > "$chain/blocks/blk00000.dat"
}

# The served release: the demo's launcher and wallet, a version file, CHAIN packed as the chain
# archive.
serve_demo_release() { # DEMO-PROGRAM-FOLDER SOURCE-FOLDER CHAIN WWW
    local demo=$1 source=$2 chain=$3 www=$4
    mkdir -p "$www"
    cp "$demo/demo-launcher.exe" "$www/qvlloader.exe"
    cp "$demo/demo-wallet.exe" "$www/quorvale-qt.exe"
    printf '1.0.0\n' > "$www/version.txt"
    bash "$source/demo/windows/pack-archive" "$demo/demo-chain-archive.exe" "$chain" "$www/qvlchain.exe"
}

# The end of the script: exit 1, showing LOGS, when a check failed.
finish_checks() { # LOG...
    if [ "$failures" -gt 0 ]; then
        echo "== $failures check(s) failed; the logs:"
        cat "$@" 2>/dev/null || true
        exit 1
    fi
    echo "== all checks passed"
}
