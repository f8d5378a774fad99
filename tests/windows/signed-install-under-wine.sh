#!/usr/bin/env bash
# qvlsetup.exe as a publisher ships it, built with two release keys (the second one replacing
# the first), installing under wine64 from nginx on the Linux side; its signatures are checked
# by CNG. The key pairs are made here and BUILD-FOLDER is configured with them
# (-DQVL_RELEASE_KEY="a.pub.pem;b.pub.pem", and nginx's URL as the base URL, so the program users
# get is the one tested); only qvlsetup is built there, with ccache sharing the other Windows
# build's objects.
#   1. a signed release (serial 5) of the demo's Windows programs: exit 0, every file
#      byte-identical to what nginx served, each one's checksum verified in the log;
#   2. the same release with one byte of the wallet changed: exit 1, the mismatch in the log,
#      the installed wallet unchanged byte for byte, no temporary file left;
#   3. refused before any download, each with exit 1, its reason in the log, only the manifest
#      and its signature asked for, and every installed file unchanged: a validly signed
#      serial 4 (rollback), serial 5 with other bytes, an expired manifest, one with an unknown
#      line, one signed by a key that is not built in;
#   4. serial 7 signed by the second key installs;
#   5. size refusals, the installed files unchanged and nothing left beside them: a served
#      wallet one byte longer than signed (nginx's Content-Length), and from a scripted server
#      on nginx's port a chain archive that never ends (no length, never closed) and one that
#      ends short.
# Usage: signed-install-under-wine.sh BUILD-FOLDER DEMO-PROGRAM-FOLDER SOURCE-FOLDER
set -euo pipefail
build=$1 demo=$2 source=$3
# shellcheck source=../../scripts/lib/nginx.sh
. "$source/scripts/lib/nginx.sh"
# shellcheck source=../../scripts/lib/wine.sh
. "$source/scripts/lib/wine.sh"

# shellcheck source=../../scripts/lib/tools.sh
. "$source/scripts/lib/tools.sh"
require_tools wine

tmp=$(mktemp -d "${TMPDIR:-/tmp}/qvl-wine-signed.XXXXXX")
cleanup() {
    nginx_stop
    wine_session_stop
    rm -rf -- "$tmp"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check_same() { # WHAT EXPECTED ACTUAL
    if cmp -s -- "$2" "$3"; then echo "ok: $1 is byte-identical"; else fail "$1 differs: $3 is not $2"; fi
}

# The signed release: the demo's Windows programs and a small chain archive.
www=$tmp/www chain=$tmp/chain
mkdir -p "$www" "$chain/blocks"
cp "$demo/demo-launcher.exe" "$www/qvlloader.exe"
cp "$demo/demo-wallet.exe" "$www/quorvale-qt.exe"
printf '1.0.0\n' > "$www/version.txt"
head -c 100000 /dev/urandom > "$chain/blocks/blk00000.dat"
bash "$source/demo/windows/pack-archive" "$demo/demo-chain-archive.exe" "$chain" "$www/qvlchain.exe"
for k in key key2 key3; do bash "$source/scripts/sign-release" --new-key "$tmp/$k.pem" > /dev/null; done
sign() { bash "$source/scripts/sign-release" "$www" "$@" > /dev/null; }
sign "$tmp/key.pem" --serial 5
# The port is held from here on, so the base URL built in stays right.
nginx_start "$tmp/nginx" "$www"

echo "== building qvlsetup.exe with the release key in $build"
launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
if ! { cmake -S "$source" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQVL_WERROR=ON "${launcher[@]}" \
         -DCMAKE_TOOLCHAIN_FILE="$source/cmake/mingw-x86_64.cmake" -DQVL_BUILD_TESTS=OFF \
         -DQVL_RELEASE_KEY="$tmp/key.pub.pem;$tmp/key2.pub.pem" -DQVL_BASE_URL="http://127.0.0.1:$NGINX_PORT/" &&
       cmake --build "$build" -j "$(nproc)" --target qvlsetup; } > "$tmp/build.log" 2>&1; then
    cat "$tmp/build.log"
    echo "FAIL: the build with the release key failed"
    exit 1
fi
qvlsetup=$(find "$build/src/installer" -maxdepth 1 -name qvlsetup.exe -print -quit)
[ -n "$qvlsetup" ] || { echo "FAIL: no qvlsetup.exe in $build/src/installer"; exit 1; }

wine_available || { echo "FAIL: $WINE64 or Xvfb is missing"; exit 1; }
wine_session_start
unset http_proxy HTTP_PROXY no_proxy NO_PROXY
# Wine's background processes inherit standard output: files, not pipes.
run() { # NAME ARGS...
    local name=$1 rc=0; shift
    "$WINE64" "$qvlsetup" "$@" > "$tmp/$name.out" 2> "$tmp/$name.err" < /dev/null || rc=$?
    echo "$rc" > "$tmp/$name.rc"
}
winpath() { printf 'Z:%s' "${1//\//\\}"; }
has_line() { # LOG LINE
    grep -qxF -- "$2" "$1" && echo "ok: the log says \"$2\"" || fail "the log lacks \"$2\""
}
drive=$WINEPREFIX/drive_c

echo "== a signed release"
run first --unattended --select program,blockchain --log "$(winpath "$tmp/first.log")"
rc=$(cat "$tmp/first.rc")
[ "$rc" = 0 ] && echo "ok: exit status 0" || fail "exit status $rc, expected 0 ($(cat "$tmp/first.err"))"
appdata=$(find "$drive/users" -maxdepth 4 -type d -path '*/AppData/Roaming' | head -n 1)
check_same launcher "$www/qvlloader.exe" "$drive/Quorvale/qvlloader.exe"
check_same wallet "$www/quorvale-qt.exe" "$drive/Quorvale/quorvale-qt.exe"
check_same "version file" "$www/version.txt" "$appdata/Quorvale/version.txt"
check_same "unpacked block file" "$chain/blocks/blk00000.dat" "$appdata/Quorvale/blocks/blk00000.dat"
has_line "$tmp/first.log" "the release list is signed by the publisher (4 files)"
has_line "$tmp/first.log" "release serial 5, valid until $(sed -n '3s/^expires //p' "$www/RELEASE")"
for name in qvlloader.exe quorvale-qt.exe version.txt qvlchain.exe; do
    has_line "$tmp/first.log" "checksum verified: $name"
done

echo "== the wallet changed by one byte on the server"
cp "$www/quorvale-qt.exe" "$tmp/wallet.signed"
size=$(stat -c %s "$www/quorvale-qt.exe")
byte=$(od -An -tu1 -j $((size / 2)) -N1 "$www/quorvale-qt.exe" | tr -d ' ')
printf "\\$(printf '%03o' $(((byte + 1) % 256)))" |
    dd of="$www/quorvale-qt.exe" bs=1 seek=$((size / 2)) conv=notrunc status=none
cmp -s "$tmp/wallet.signed" "$www/quorvale-qt.exe" && fail "the served wallet was not changed"
run second --unattended --select program --log "$(winpath "$tmp/second.log")"
rc=$(cat "$tmp/second.rc")
[ "$rc" = 1 ] && echo "ok: exit status 1" || fail "exit status $rc, expected 1"
has_line "$tmp/second.log" "checksum mismatch: quorvale-qt.exe was not installed"
check_same "installed wallet after the refusal" "$tmp/wallet.signed" "$drive/Quorvale/quorvale-qt.exe"
leftovers=$(find "$drive/Quorvale" -name '.*')
[ -z "$leftovers" ] && echo "ok: no temporary file left" || fail "temporary files left behind: $leftovers"

cp "$tmp/wallet.signed" "$www/quorvale-qt.exe"

# Every installed file with its hash, the record of the accepted release among them.
# (The chain archive and its staged files lie in AppData itself, beside wine's own folders.)
snapshot() {
    local rel=${appdata#"$drive"/}
    (cd "$drive" && { find Quorvale "$rel/Quorvale" -type f -print0; find "$rel" -maxdepth 1 -name '*qvlchain*' -print0; } |
        LC_ALL=C sort -z | xargs -0 sha256sum) > "$tmp/$1.files"
}
refused() { # NAME SELECTION LOG-LINE: exit 1, the line in the log, nothing changed or left behind
    local name=$1 select=$2 line=$3 rc
    snapshot "$name.before"
    : > "$tmp/nginx/access.log"
    run "$name" --unattended --select "$select" --log "$(winpath "$tmp/$name.log")"
    rc=$(cat "$tmp/$name.rc")
    [ "$rc" = 1 ] && echo "ok: $name: exit status 1" || fail "$name: exit status $rc, expected 1"
    has_line "$tmp/$name.log" "$line"
    snapshot "$name.after"
    cmp -s "$tmp/$name.before.files" "$tmp/$name.after.files" && echo "ok: $name: the installed files are unchanged" ||
        fail "$name: the installed files changed: $(diff "$tmp/$name.before.files" "$tmp/$name.after.files" | head -n 5)"
}
only_manifest_asked() { # NAME
    local other
    other=$(grep -v '"GET /RELEASE\(\.sig\)\? HTTP/1.0"$' "$tmp/nginx/access.log" || true)
    [ -z "$other" ] && echo "ok: $1: only the manifest and its signature were asked for" || fail "$1: downloads were asked for: $other"
}
manifest_refused() { # NAME LOG-LINE
    refused "$1" program,blockchain "$2"
    only_manifest_asked "$1"
}
# A manifest written by hand from the signed one, signed with openssl itself.
hand_signed() { # SED-SCRIPT [EXTRA-LINE]
    sed "$1" "$www/RELEASE" > "$tmp/RELEASE.new"
    [ $# -lt 2 ] || printf '%s\n' "$2" >> "$tmp/RELEASE.new"
    mv "$tmp/RELEASE.new" "$www/RELEASE"
    openssl dgst -sha256 -sign "$tmp/key.pem" -out "$www/RELEASE.sig" "$www/RELEASE"
}

echo "== refused manifests"
sign "$tmp/key.pem" --serial 4
manifest_refused rollback "the release list is older than the one accepted before: serial 4 is below 5"
sign "$tmp/key.pem" --serial 5 --expires 3
manifest_refused same-serial "the release list is not the one accepted before under serial 5"
hand_signed '2s/.*/serial 6/; 3s/.*/expires 2026-01-01T00:00:00Z/'
manifest_refused expired "the release list has expired: it was valid until 2026-01-01T00:00:00Z"
sign "$tmp/key.pem" --serial 6
hand_signed '' 'mirror http://elsewhere/'
manifest_refused unknown-line "the release list failed verification: line 8 is not a file line (file <sha256> <size> <name>)"
sign "$tmp/key3.pem" --serial 6
manifest_refused third-key "the release list failed verification: the signature matches none of the publisher's keys"

echo "== a release signed by the second key"
sign "$tmp/key2.pem" --serial 7
run rotated --unattended --select program,blockchain --log "$(winpath "$tmp/rotated.log")"
rc=$(cat "$tmp/rotated.rc")
[ "$rc" = 0 ] && echo "ok: rotated: exit status 0" || fail "rotated: exit status $rc, expected 0"
has_line "$tmp/rotated.log" "release serial 7, valid until $(sed -n '3s/^expires //p' "$www/RELEASE")"
check_same "wallet after the second key's release" "$www/quorvale-qt.exe" "$drive/Quorvale/quorvale-qt.exe"

# The manifest accepted last (serial 7) stays: only the served files change.
echo "== sizes other than the signed ones"
wallet_size=$(stat -c %s "$www/quorvale-qt.exe")
printf '#' >> "$www/quorvale-qt.exe"
refused longer-wallet program \
    "size mismatch: quorvale-qt.exe was not installed (the server announced $((wallet_size + 1)) bytes, the release list says $wallet_size)"
cp "$tmp/wallet.signed" "$www/quorvale-qt.exe"

# nginx's port, now served by a scripted server: the manifest as signed, and a chain archive
# that never ends or ends one byte short.
chain_size=$(stat -c %s "$www/qvlchain.exe")
port=$NGINX_PORT
nginx_stop
cat > "$tmp/server.py" <<'PY'
import socket, sys
port, root, mode, report = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
listener = socket.socket()
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind(("127.0.0.1", port))
listener.listen(4)
listener.settimeout(120)
open(report + ".ready", "w").close()
while True:
    conn, _ = listener.accept()
    conn.settimeout(120)
    request = b""
    while b"\r\n\r\n" not in request:
        data = conn.recv(4096)
        if not data:
            break
        request += data
    name = request.split(b" ")[1].decode().lstrip("/") if b" " in request else ""
    body = open(root + "/" + name, "rb").read()
    if name != "qvlchain.exe":
        conn.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: %d\r\n\r\n" % len(body) + body)
        conn.close()
        continue
    conn.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 65536)
    sent = 0
    try:
        conn.sendall(b"HTTP/1.0 200 OK\r\n\r\n")
        if mode == "short":
            conn.sendall(body[:-1])
            sent = len(body) - 1
        else:
            # The signed bytes, then more for ever: only the client can end it.
            conn.sendall(body)
            sent = len(body)
            block = b"\0" * 65536
            while True:
                conn.sendall(block)
                sent += len(block)
    except OSError:
        pass
    open(report, "w").write(str(sent))
    conn.close()
    break
PY
for mode in endless short; do
    rm -f "$tmp/$mode.sent" "$tmp/$mode.sent.ready"
    python3 "$tmp/server.py" "$port" "$www" "$mode" "$tmp/$mode.sent" &
    server_pid=$!
    for _ in $(seq 100); do [ -e "$tmp/$mode.sent.ready" ] && break; sleep 0.1; done
    if [ "$mode" = endless ]; then
        reason="the body ran past $chain_size bytes"
    else
        reason="the body ended after $((chain_size - 1)) bytes"
    fi
    refused "$mode-chain" blockchain "size mismatch: qvlchain.exe was not installed ($reason, the release list says $chain_size)"
    wait "$server_pid" || true
    sent=$(cat "$tmp/$mode.sent" 2>/dev/null || echo none)
    if [ "$mode" = endless ]; then
        # What the server got rid of: what the client read plus what the sockets' buffers took.
        [ "$sent" != none ] && [ "$sent" -le $((chain_size + 16 * 1024 * 1024)) ] &&
            echo "ok: the endless body was ended after $sent bytes sent ($chain_size signed)" ||
            fail "the endless body was not ended in bounds: $sent bytes sent"
    fi
    grep -q "^Max=$chain_size  file posistion=$((chain_size + 1))" "$tmp/$mode-chain.log" && fail "$mode: a byte past the signed size was kept"
done
leftovers=$(find "$drive/Quorvale" "$appdata/Quorvale" -name '.*'; find "$appdata" -maxdepth 1 -name '.*qvlchain*')
[ -z "$leftovers" ] && echo "ok: no temporary file left" || fail "temporary files left behind: $leftovers"

if [ "$failures" -gt 0 ]; then
    echo "== $failures check(s) failed; the logs:"
    cat "$tmp"/*.log 2>/dev/null || true
    exit 1
fi
echo "== all checks passed"
