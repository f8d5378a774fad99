# shellcheck shell=bash
# A wine session for running the Windows builds: a private WINEPREFIX and HOME, an Xvfb display,
# no desktop integration. The tests, the demo and the benchmarks all start theirs here. Source
# this file, then:
#   wine_session_start [--dir FOLDER] [--use-display]
#                          exports WINEPREFIX (FOLDER/prefix), HOME (FOLDER/home), DISPLAY,
#                          WINEDEBUG, WINEDLLOVERRIDES, and makes the prefix. Without --dir the
#                          folder is a temporary one. With --use-display a DISPLAY that is set
#                          stays (a window the user sees); else a private Xvfb is started.
#   wine_session_stop      wineserver -k, Xvfb stopped, a temporary folder removed (a --dir
#                          FOLDER stays, with what the programs left in it)
# The caller should `trap wine_session_stop EXIT`. Wine's background processes inherit standard
# output and error, so everything wine prints goes to files here, never to a pipe (a pipe would
# stay open until wineserver ends). WINE64 names the wine loader (QVL_WINE, for the test
# scripts, another one, e.g. the 32-bit /usr/lib/wine/wine).

WINE64=${WINE64:-${QVL_WINE:-/usr/lib/wine/wine64}}
WINE_SESSION_DIR=""
WINE_SESSION_TEMPORARY=0
WINE_XVFB_PID=""

wine_available() { [ -x "$WINE64" ] && command -v Xvfb >/dev/null 2>&1; }

wine_session_start() {
    local dir="" use_display=0
    while [ $# -gt 0 ]; do
        case $1 in
            --dir) dir=$2; shift ;;
            --use-display) use_display=1 ;;
            *) echo "wine_session_start: unknown option $1" >&2; return 2 ;;
        esac
        shift
    done
    if [ -n "$dir" ]; then
        WINE_SESSION_DIR=$dir WINE_SESSION_TEMPORARY=0
    else
        WINE_SESSION_DIR=$(mktemp -d "${TMPDIR:-/tmp}/qvl-wine.XXXXXX") WINE_SESSION_TEMPORARY=1
    fi
    mkdir -p "$WINE_SESSION_DIR/home" "$WINE_SESSION_DIR/prefix"
    export WINEPREFIX="$WINE_SESSION_DIR/prefix"
    export HOME="$WINE_SESSION_DIR/home"
    export WINEDEBUG=-all
    # Saving a .lnk would make wine write desktop entries into $HOME; nobody wants them.
    export WINEDLLOVERRIDES="winemenubuilder.exe=d"
    # A display of our own: message-only windows need none, but normal windows do.
    if [ "$use_display" -eq 0 ] || [ -z "${DISPLAY:-}" ]; then
        local displayfile="$WINE_SESSION_DIR/display"
        rm -f "$displayfile"
        Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$displayfile" \
            >"$WINE_SESSION_DIR/xvfb.log" 2>&1 &
        WINE_XVFB_PID=$!
        local i
        for i in $(seq 1 100); do
            [ -s "$displayfile" ] && break
            sleep 0.1
        done
        [ -s "$displayfile" ] || { echo "wine: Xvfb did not start (see $WINE_SESSION_DIR/xvfb.log)" >&2; return 1; }
        export DISPLAY=":$(head -n1 "$displayfile")"
    fi
    # Make the prefix once, up front, and keep one wineserver for the whole session.
    "${WINE64%/*}/wineserver" -p >"$WINE_SESSION_DIR/wineserver.log" 2>&1 || true
    "$WINE64" wineboot --init >"$WINE_SESSION_DIR/wineboot.log" 2>&1 </dev/null || {
        echo "wine: the prefix could not be made (see $WINE_SESSION_DIR/wineboot.log)" >&2
        return 1
    }
}

wine_session_stop() {
    if [ -n "$WINE_SESSION_DIR" ]; then
        "${WINE64%/*}/wineserver" -k >/dev/null 2>&1 || true
    fi
    if [ -n "$WINE_XVFB_PID" ]; then
        kill "$WINE_XVFB_PID" 2>/dev/null || true
        wait "$WINE_XVFB_PID" 2>/dev/null || true
        WINE_XVFB_PID=""
    fi
    if [ -n "$WINE_SESSION_DIR" ]; then
        [ "$WINE_SESSION_TEMPORARY" -eq 0 ] || rm -rf "$WINE_SESSION_DIR"
        WINE_SESSION_DIR=""
    fi
}

# Whether this machine runs 32-bit x86 Windows programs: a 32-bit wine loader is installed and
# actually starts PROGRAM (many kernels here run no 32-bit code at all).
wine_runs_32bit() { # PROGRAM
    local loader=/usr/lib/wine/wine
    [ -x "$loader" ] || return 1
    timeout 120 "$loader" "$1" --help >"$WINE_SESSION_DIR/probe32.out" 2>"$WINE_SESSION_DIR/probe32.err" </dev/null
}

# The pid of this session's wineserver (the one whose environment names our prefix).
wine_server_pid() {
    local pid env
    for pid in $(pgrep -x wineserver64 || true); do
        env=$(tr '\0' '\n' < "/proc/$pid/environ" 2>/dev/null || true)
        case $'\n'$env$'\n' in
            *$'\n'"WINEPREFIX=$WINEPREFIX"$'\n'*) echo "$pid"; return 0 ;;
        esac
    done
    return 1
}
