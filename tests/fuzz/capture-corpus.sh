#!/usr/bin/env bash
# Captures the reply-reader seed corpus: raw HTTP/1.0 replies of nginx and of python's
# http.server on 127.0.0.1 (200 with a body, 404, 301 to a folder, a folder listing, 403,
# HEAD), each saved byte for byte as one file in corpus/reply/. Run it by hand when the seeds
# should be renewed; the fuzzing itself only reads the saved files.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
out="$here/corpus/reply"
work=$(mktemp -d)
py_pid=""
cleanup() {
    nginx_stop
    if [ -n "$py_pid" ]; then kill "$py_pid" 2>/dev/null || true; wait "$py_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
# shellcheck source=../../scripts/lib/nginx.sh
. "$root/scripts/lib/nginx.sh"
trap cleanup EXIT

mkdir -p "$work/www/files" "$out"
printf '0.3.1\n' > "$work/www/version.txt"
printf '<html><body>Quorvale</body></html>\n' > "$work/www/index.html"
head -c 300 /dev/zero | tr '\0' 'q' > "$work/www/files/blob.bin"

# One raw request, the reply saved as it came, read until the server closes.
fetch() { # PORT METHOD PATH FILE
    python3 - "$@" <<'PY'
import socket, sys
port, method, path, name = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
s = socket.create_connection(("127.0.0.1", port), timeout=5)
s.sendall(f"{method} {path} HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n".encode())
data = b""
while True:
    chunk = s.recv(65536)
    if not chunk:
        break
    data += chunk
open(name, "wb").write(data)
PY
}

nginx_start "$work/nginx" "$work/www"
fetch "$NGINX_PORT" GET /version.txt "$out/nginx-200-text"
fetch "$NGINX_PORT" GET /index.html "$out/nginx-200-html"
fetch "$NGINX_PORT" GET /files/blob.bin "$out/nginx-200-binary"
fetch "$NGINX_PORT" GET /missing.exe "$out/nginx-404"
fetch "$NGINX_PORT" GET /files "$out/nginx-301-folder"
fetch "$NGINX_PORT" GET /files/ "$out/nginx-403-listing-off"
fetch "$NGINX_PORT" HEAD /version.txt "$out/nginx-head"
nginx_stop

py_port=$(nginx_pick_port)
(cd "$work/www" && exec python3 -m http.server --bind 127.0.0.1 "$py_port" >"$work/py.log" 2>&1) &
py_pid=$!
for _ in $(seq 100); do
    curl -s -0 -o /dev/null --max-time 1 "http://127.0.0.1:$py_port/" && break
    sleep 0.05
done
fetch "$py_port" GET /version.txt "$out/python-200-text"
fetch "$py_port" GET /missing.exe "$out/python-404"
fetch "$py_port" GET /files "$out/python-301-folder"
fetch "$py_port" GET /files/ "$out/python-200-listing"
fetch "$py_port" HEAD /version.txt "$out/python-head"
ls -l "$out"
