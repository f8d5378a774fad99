# shellcheck shell=bash
# The Windows demo of scripts/demo: qvlsetup.exe (x86_64) built for the demo server and run
# under wine64 against it, with the server's files replaced by real Windows programs built from
# demo/windows/. Source this file from scripts/demo, then call
#   demo_windows ROOT RUN-FOLDER BASE-URL SERVER-FOLDER ACCESS-LOG HEADLESS
# Everything lands in RUN-FOLDER/wine/ (the wine prefix and its HOME) and RUN-FOLDER/window.png.

# shellcheck source=wine.sh
. "$(dirname "${BASH_SOURCE[0]}")/wine.sh"

demo_windows_chain() { # FOLDER: a small sample chain folder, shaped like a wallet's data folder
    local chain=$1
    mkdir -p "$chain/blocks/index" "$chain/chainstate"
    head -c 524288 /dev/urandom > "$chain/blocks/blk00000.dat"
    head -c 32768 < <(yes "qvl demo chain undo0") > "$chain/blocks/rev00000.dat"
    printf 'MANIFEST-000002\n' > "$chain/blocks/index/CURRENT"
    head -c 24576 < <(yes "qvl demo chain state") > "$chain/chainstate/000002.ldb"
    printf 'network=qvl-demo\nheight=1440\n' > "$chain/chain-info.txt"
}

# The EXIT trap while the Windows demo runs: wine's background processes, Xvfb, the server.
demo_windows_stop() {
    wine_session_stop
    nginx_stop
}

demo_windows() { # ROOT RUN BASE-URL SERVER ACCESS-LOG HEADLESS
    local root=$1 run=$2 base_url=$3 server=$4 access_log=$5 headless=$6
    local build="$root/build-demo-win64" wine=$WINE64
    require_tools demo-windows

    say "building qvlsetup.exe (x86_64) for $base_url and the demo's Windows programs into build-demo-win64/"
    local launcher=()
    command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQVL_BUILD_TESTS=OFF -DQVL_BASE_URL="$base_url" "${launcher[@]}" \
        > "$run/configure-windows.log" 2>&1 || { cat "$run/configure-windows.log" >&2; die "configuring build-demo-win64/ failed"; }
    cmake --build "$build" -j "$(nproc)" --target qvlsetup demo-launcher demo-wallet demo-chain-archive

    say "the demo server's files as Windows programs (demo-run/server/)"
    local chain="$run/chain-windows"
    rm -rf "$chain"
    demo_windows_chain "$chain"
    cp "$build/demo/demo-launcher.exe" "$server/qvlloader.exe"
    cp "$build/demo/demo-wallet.exe" "$server/quorvale-qt.exe"
    bash "$root/demo/windows/pack-archive" "$build/demo/demo-chain-archive.exe" "$chain" "$server/qvlchain.exe"
    rm -rf "$chain"
    (cd "$server" && for f in qvlloader.exe quorvale-qt.exe version.txt qvlchain.exe; do
        printf '  %-16s %8d bytes  %s\n' "$f" "$(stat -c %s "$f")" "$(file -b "$f" | cut -c1-50)"
    done)

    local wine_dir="$run/wine"
    rm -rf "$wine_dir" "$run/window.png" "$run/install.log"
    # With a Desktop folder in HOME, wine's desktop is that folder (else it is HOME itself, shared
    # with Documents, Music and the others).
    mkdir -p "$wine_dir/home/Desktop"
    trap demo_windows_stop EXIT

    local winrun="Z:${run//\//\\}" status
    local options=(--log "$winrun\\install.log")
    local unattended=1
    if [ "$headless" -eq 0 ] && [ -n "${DISPLAY:-}" ]; then unattended=0; fi
    # A window needs a display under wine: the user's, or in the unattended run a private Xvfb
    # nobody sees.
    local display=()
    [ "$unattended" -eq 1 ] || display=(--use-display)
    say "making the wine prefix (demo-run/wine/prefix/)"
    wine_session_start --dir "$wine_dir" "${display[@]}" || die "the wine session could not be started"
    unset http_proxy HTTP_PROXY no_proxy NO_PROXY
    if [ "$unattended" -eq 1 ]; then
        options+=(--unattended --select program,blockchain --screenshot "$winrun\\window.png")
        say "running qvlsetup.exe under wine64 unattended (Xvfb $DISPLAY): qvlsetup.exe ${options[*]}"
    else
        say "opening qvlsetup.exe's window under wine64: tick \"program\" and/or \"blockchain\" and press \"Next\""
    fi
    # Wine's background processes inherit standard output: files, not pipes.
    set +e
    (cd "$wine_dir" && timeout 900 "$wine" "$build/src/installer/qvlsetup.exe" "${options[@]}" \
        > "$wine_dir/qvlsetup.out" 2> "$wine_dir/qvlsetup.err" < /dev/null)
    status=$?
    set -e
    if [ -f "$run/install.log" ]; then
        say "installer log (demo-run/install.log)"
        cat "$run/install.log"
    fi

    local drive="$WINEPREFIX/drive_c"
    say "installed files (in the wine prefix's C: drive, demo-run/wine/prefix/drive_c/)"
    (cd "$drive" && find Quorvale users/*/AppData/Roaming/Quorvale users/*/AppData/Roaming/qvlchain.exe \
        -type f -printf '  %-64p %10s bytes\n' 2>/dev/null | sort)
    local lnk
    while IFS= read -r -d '' lnk; do
        local info
        info=$(lnkinfo "$lnk" 2>/dev/null || true)
        printf '  %s\n    -> %s  (%s)\n' "${lnk#"$run"/}" \
            "$(sed -n 's/^[[:space:]]*Local path[[:space:]]*: //p' <<< "$info")" \
            "$(sed -n 's/^[[:space:]]*Description[[:space:]]*: //p' <<< "$info")"
    done < <(find "$drive/users" "$HOME/Desktop" -name '*.lnk' -path '*Quorvale*' -print0 2>/dev/null)
    if [ -f "$drive/Quorvale/qvlloader.exe" ]; then
        say "the installed launcher says (under wine64)"
        (cd "$wine_dir" && "$wine" 'C:\Quorvale\qvlloader.exe' > "$wine_dir/launcher.out" 2>&1 < /dev/null) || true
        sed 's/^/  /' "$wine_dir/launcher.out"
    fi
    say "requests the demo server answered"
    sed 's/^/  /' "$access_log"
    [ -f "$run/window.png" ] && say "picture of the window at the end: demo-run/window.png"
    case $status in
        0) say "installation succeeded" ;;
        124) die "qvlsetup.exe did not finish within 900 s" ;;
        *) sed 's/^/  /' "$wine_dir/qvlsetup.err" >&2; die "qvlsetup.exe ended with status $status" ;;
    esac
}
