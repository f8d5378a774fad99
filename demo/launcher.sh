#!/bin/sh
# qvlloader.exe of the demo download server: the Quorvale launcher. It says who it is and
# starts the wallet program that was installed next to it.
set -eu
echo "qvlloader: Quorvale launcher (demo build @VERSION@)"
here=$(dirname -- "$0")
wallet="$here/quorvale-qt.exe"
if [ -f "$wallet" ]; then
    echo "qvlloader: starting $wallet"
    # A downloaded file carries no execute bit, so the wallet is run through the shell.
    exec /bin/sh "$wallet" "$@"
fi
echo "qvlloader: no wallet program at $wallet" >&2
exit 1
