#!/usr/bin/env bash
# Installs BUILD-DIR into a temporary prefix and checks every installed file: exactly the
# expected set, programs that run from there, a menu entry that validates and names the
# installed program and icon, a 128x128 PNG icon, manual pages that decompress.
#   install-layout.sh BUILD-DIR VERSION
set -euo pipefail
build=$1 version=$2
fail() { echo "install layout: $*" >&2; exit 1; }

dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT
cmake --install "$build" --prefix "$dest/usr" > "$dest.log" 2>&1 || { cat "$dest.log" >&2; rm -f "$dest.log"; fail "cmake --install failed"; }
rm -f "$dest.log"

expected="usr/bin/qvl-get
usr/bin/qvlsetup
usr/share/applications/qvlsetup.desktop
usr/share/doc/qvlsetup/changelog.gz
usr/share/doc/qvlsetup/copyright
usr/share/icons/hicolor/128x128/apps/qvlsetup.png
usr/share/man/man1/qvl-get.1.gz
usr/share/man/man1/qvlsetup.1.gz"
actual=$(cd "$dest" && find . -type f -printf '%P\n' | LC_ALL=C sort)
[ "$actual" = "$expected" ] || fail "installed files differ from the expected ones:
$(diff <(echo "$expected") <(echo "$actual") || true)"

for program in qvlsetup qvl-get; do
    [ -x "$dest/usr/bin/$program" ] || fail "usr/bin/$program is not executable"
done
# Run from the prefix, the programs need nothing of the build folder.
version_text=$("$dest/usr/bin/qvlsetup" --version 2>&1) || fail "qvlsetup --version failed: $version_text"
case $version_text in *"$version"*) ;; *) fail "qvlsetup --version does not name $version: $version_text" ;; esac
help_text=$("$dest/usr/bin/qvl-get" --help 2>&1) || fail "qvl-get --help failed: $help_text"
case $help_text in "usage: qvl-get "*) ;; *) fail "qvl-get --help printed: $help_text" ;; esac

entry="$dest/usr/share/applications/qvlsetup.desktop"
report=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate refused the entry: $report"
[ -z "$report" ] || fail "desktop-file-validate warns: $report"
entry_text=$(cat "$entry")
exec_line=$(sed -n 's/^Exec=//p' <<<"$entry_text")
icon_line=$(sed -n 's/^Icon=//p' <<<"$entry_text")
[ -x "$dest/usr/bin/${exec_line%% *}" ] || fail "Exec=$exec_line names no installed program"
[ -f "$dest/usr/share/icons/hicolor/128x128/apps/$icon_line.png" ] || fail "Icon=$icon_line names no installed icon"

icon_type=$(file -b "$dest/usr/share/icons/hicolor/128x128/apps/qvlsetup.png")
case $icon_type in "PNG image data, 128 x 128,"*) ;; *) fail "the icon is not a 128x128 PNG: $icon_type" ;; esac

for page in usr/share/man/man1/qvlsetup.1.gz usr/share/man/man1/qvl-get.1.gz usr/share/doc/qvlsetup/changelog.gz; do
    text=$(gzip -dc "$dest/$page") || fail "$page does not decompress"
    if [[ $text =~ @[A-Z_]+@ ]]; then fail "$page keeps a placeholder: ${BASH_REMATCH[0]}"; fi
done
echo "install layout: ok"
