#!/usr/bin/env bash
# qvlsetup.exe as a publisher ships it, built with a release key, installing under wine64 from
# nginx on the Linux side. A key pair is made here and BUILD-FOLDER is configured with it
# (-DQVL_RELEASE_KEY, and nginx's URL as the base URL, so the program users get is the one
# tested); only qvlsetup is built there, with ccache sharing the other Windows build's objects.
#   1. a signed release of the demo's Windows programs: exit 0, every file byte-identical to
#      what nginx served, each one's checksum verified in the log;
#   2. the same release with one byte of the wallet changed: exit 1, the mismatch in the log,
#      the installed wallet unchanged byte for byte, no temporary file left.
# Usage: signed-install-under-wine.sh BUILD-FOLDER DEMO-PROGRAM-FOLDER SOURCE-FOLDER
set -euo pipefail
build=$1 demo=$2 source=$3
# shellcheck source=install-checks.sh
. "$source/tests/windows/install-checks.sh"
install_scratch wine-signed

# The signed release: the demo's Windows programs and a small chain archive.
make_chain 100000
serve_demo_release "$demo" "$source" "$chain" "$www"
bash "$source/scripts/sign-release" --new-key "$tmp/key.pem" > /dev/null
bash "$source/scripts/sign-release" "$www" "$tmp/key.pem" > /dev/null
# The port is held from here on, so the base URL built in stays right.
nginx_start "$tmp/nginx" "$www"

echo "== building qvlsetup.exe with the release key in $build"
launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
if ! { cmake -S "$source" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQVL_WERROR=ON "${launcher[@]}" \
         -DCMAKE_TOOLCHAIN_FILE="$source/cmake/mingw-x86_64.cmake" -DQVL_BUILD_TESTS=OFF \
         -DQVL_RELEASE_KEY="$tmp/key.pub.pem" -DQVL_BASE_URL="http://127.0.0.1:$NGINX_PORT/" &&
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

echo "== a signed release"
check_first_install
check_same "unpacked block file" "$chain/blocks/blk00000.dat" "$appdata/Quorvale/blocks/blk00000.dat"
has_line "$tmp/first.log" "the release list is signed by the publisher (4 files)"
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
expect_exit second 1
has_line "$tmp/second.log" "checksum mismatch: quorvale-qt.exe was not installed"
check_same "installed wallet after the refusal" "$tmp/wallet.signed" "$drive/Quorvale/quorvale-qt.exe"
check_no_leftovers

finish_checks "$tmp/first.log" "$tmp/second.log"
