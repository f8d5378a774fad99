# shellcheck shell=bash disable=SC2034  # NGINX_PORT and NGINX_PID are read by the sourcing script
# A private nginx on a free port of 127.0.0.1 serving one folder, for scripts/demo and
# scripts/bench. Source this file, then:
#   nginx_start STATE-DIR DOCUMENT-ROOT [PORT-TO-TRY-FIRST]   sets NGINX_PORT and NGINX_PID
#   nginx_stop                                                  SIGTERM, 5 s, then SIGKILL
# STATE-DIR receives nginx.conf, the pid file, error.log, access.log and nginx's temp folders.
# The caller should `trap nginx_stop EXIT`.

NGINX_PID=""
NGINX_PORT=""

nginx_port_is_free() { # PORT
    python3 - "$1" <<'PY' 2>/dev/null
import socket, sys
s = socket.socket()
# As nginx binds: connections of an earlier run still in TIME_WAIT do not make the port busy.
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", int(sys.argv[1])))
PY
}

nginx_pick_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# NGINX_MAIN_CONFIG and NGINX_SERVER_CONFIG, when set, are added as they stand at the top of
# the configuration (e.g. load_module) and inside the server block (e.g. a location).
nginx_write_config() { # DIR ROOT PORT
    local dir=$1 root=$2 port=$3 user_line=""
    # nginx started by root would drop its workers to `user`; one process that keeps our user
    # can read the served folder wherever it lies.
    if [ "$(id -u)" -eq 0 ]; then user_line="user $(id -un) $(id -gn);"; fi
    mkdir -p "$dir"/temp/{body,proxy,fastcgi,uwsgi,scgi}
    cat > "$dir/nginx.conf" <<CONF
$user_line
${NGINX_MAIN_CONFIG:-}
daemon off;
master_process off;
worker_processes 1;
pid "$dir/nginx.pid";
error_log "$dir/error.log" info;
events { worker_connections 64; }
http {
  default_type application/octet-stream;
  types { }
  log_format plain '\$status \$body_bytes_sent "\$request"';
  access_log "$dir/access.log" plain;
  client_body_temp_path "$dir/temp/body";
  proxy_temp_path "$dir/temp/proxy";
  fastcgi_temp_path "$dir/temp/fastcgi";
  uwsgi_temp_path "$dir/temp/uwsgi";
  scgi_temp_path "$dir/temp/scgi";
  sendfile on;
  etag off;
  server {
    listen 127.0.0.1:$port;
    server_name 127.0.0.1;
    root "$root";
${NGINX_SERVER_CONFIG:-}
  }
}
CONF
}

# Returns 1 when the port was taken meanwhile; exits the script on any other failure.
nginx_start_on() { # DIR ROOT PORT
    local dir=$1 root=$2 port=$3
    nginx_write_config "$dir" "$root" "$port"
    rm -f "$dir/nginx.pid"
    : > "$dir/error.log"
    /usr/sbin/nginx -p "$dir/" -c "$dir/nginx.conf" -e "$dir/error.log" > "$dir/nginx.out" 2>&1 &
    NGINX_PID=$!
    # Ready when nginx has written its pid file (it does so after binding the port) and accepts
    # a connection; bounded to 10 s.
    local _
    for _ in $(seq 200); do
        if ! kill -0 "$NGINX_PID" 2>/dev/null; then
            wait "$NGINX_PID" 2>/dev/null || true
            NGINX_PID=""
            grep -q "Address already in use" "$dir/error.log" && return 1
            cat "$dir/error.log" "$dir/nginx.out" >&2
            echo "nginx did not start" >&2
            exit 1
        fi
        if [ "$(cat "$dir/nginx.pid" 2>/dev/null)" = "$NGINX_PID" ] &&
            curl -s -0 -o /dev/null --max-time 2 "http://127.0.0.1:$port/"; then
            # nginx logs the probe after answering it: wait for that line (bounded) before
            # emptying the log, so that it shows the client's requests only.
            local _line
            for _line in $(seq 40); do
                [ -s "$dir/access.log" ] && break
                sleep 0.05
            done
            : > "$dir/access.log"
            return 0
        fi
        sleep 0.05
    done
    echo "nginx did not answer within 10 s (see $dir/error.log)" >&2
    exit 1
}

nginx_start() { # DIR ROOT [PORT]
    local dir=$1 root=$2 port=${3:-} _
    mkdir -p "$dir"
    for _ in 1 2 3 4 5 6 7 8; do
        if [ -z "$port" ] || ! nginx_port_is_free "$port"; then port=$(nginx_pick_port); fi
        if nginx_start_on "$dir" "$root" "$port"; then
            NGINX_PORT=$port
            return 0
        fi
        port=""
    done
    echo "no free port for nginx on 127.0.0.1" >&2
    exit 1
}

nginx_stop() {
    if [ -n "$NGINX_PID" ]; then
        if kill -0 "$NGINX_PID" 2>/dev/null; then
            kill -TERM "$NGINX_PID" 2>/dev/null || true
            local _
            for _ in $(seq 50); do
                kill -0 "$NGINX_PID" 2>/dev/null || break
                sleep 0.1
            done
            kill -KILL "$NGINX_PID" 2>/dev/null || true
        fi
        wait "$NGINX_PID" 2>/dev/null || true
        NGINX_PID=""
    fi
}
