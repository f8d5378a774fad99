#!/bin/sh
# qvlchain.exe of the demo download server: a self-extracting archive of a small sample chain
# folder. The installer runs it with no arguments, with its own environment and working folder,
# and waits for it. It unpacks into the chain directory, which it finds as the installer does:
# the APPDATA value (variable name matched ignoring case; when there is none, XDG_DATA_HOME,
# else ~/.local/share), then "\Quorvale\", with "\" read as "/" and a leading "C:" as $HOME.
set -eu

PAYLOAD_LINE=@PAYLOAD_LINE@
PAYLOAD_SHA256=@PAYLOAD_SHA256@

say() { printf 'qvlchain: %s\n' "$*"; }

# "=value" for the first variable named APPDATA in any letter case; nothing when there is none.
found=$(env | awk '{ eq = index($0, "="); if (eq > 1 && tolower(substr($0, 1, eq - 1)) == "appdata") { print "=" substr($0, eq + 1); exit } }')
if [ -n "$found" ]; then
    datapath=${found#=}
else
    datapath=${XDG_DATA_HOME:-${HOME:-}/.local/share}
fi

# datapath + "\Quorvale\" with both separators read as "/" ("\" is octal 134 for tr).
chaindir=$(printf '%s/Quorvale/' "$datapath" | tr '\134' '/')
case $chaindir in
    [Cc]:*)
        home=${HOME:-}
        while [ "${home%/}" != "$home" ]; do home=${home%/}; done
        rest=${chaindir#??}
        case $rest in /*) ;; *) rest=/$rest ;; esac
        chaindir=$home$rest
        ;;
esac

say "Quorvale blockchain archive (demo build @VERSION@)"
say "default location: $chaindir"
mkdir -p -- "$chaindir"

payload=$(mktemp "${chaindir%/}/.qvlchain-payload.XXXXXX")
trap 'rm -f -- "$payload"' EXIT
tail -n "+$PAYLOAD_LINE" -- "$0" > "$payload"
if command -v sha256sum >/dev/null 2>&1; then
    actual=$(sha256sum < "$payload")
    actual=${actual%% *}
    if [ "$actual" != "$PAYLOAD_SHA256" ]; then
        say "the archive is damaged (checksum mismatch); nothing was unpacked" >&2
        exit 2
    fi
fi
tar -xzf "$payload" -C "$chaindir" --no-same-owner
count=$(tar -tzf "$payload" | grep -vc '/$' || true)
say "unpacked $count files into $chaindir"
exit 0
# The tar.gz payload follows this line.
