#!/bin/sh
# quorvale-qt.exe of the demo download server: the Quorvale wallet. It says who it is.
set -eu
echo "quorvale-qt: Quorvale Core wallet (qvl), demo build @VERSION@"
echo "quorvale-qt: this demo wallet holds no keys and talks to no network."
