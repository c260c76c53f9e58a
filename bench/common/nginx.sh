# nginx.sh - shared by the download and pass benchmarks (sourced, not run):
# a private nginx on a free loopback port serving one folder, and timing helpers.
# Sets `work` (a temporary folder removed at exit), `port` and `nginx_pid`.

work=$(mktemp -d "${TMPDIR:-/tmp}/morlaken-bench-run.XXXXXX")
nginx_pid=
cleanup() {
  if [ -n "$nginx_pid" ]; then kill -TERM "$nginx_pid" 2>/dev/null || true; wait "$nginx_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()'; }
start_nginx() { # root [cert key]: with a certificate the server answers https
  local listen_extra="" tls_lines="" scheme=http
  if [ -n "${2:-}" ]; then
    listen_extra=" ssl"; scheme=https
    tls_lines="ssl_certificate $2; ssl_certificate_key $3;"
  fi
  for attempt in 1 2 3 4 5; do
    port=$(free_port)
    mkdir -p "$work/nginx/logs"
    cat > "$work/nginx/nginx.conf" <<CONF
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log warn;
events { worker_connections 64; }
http {
  access_log off; sendfile on;
  client_body_temp_path $work/nginx/body; proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fcgi; uwsgi_temp_path $work/nginx/uwsgi; scgi_temp_path $work/nginx/scgi;
  default_type application/octet-stream;
  keepalive_requests 100000;
  server { listen 127.0.0.1:$port$listen_extra; $tls_lines root $1; }
}
CONF
    nginx -c "$work/nginx/nginx.conf" -p "$work/nginx/" -g 'daemon off;' 2> "$work/nginx/stderr" &
    nginx_pid=$!
    for _ in $(seq 100); do
      if curl -s -k -o /dev/null "$scheme://127.0.0.1:$port/dosyalar.txt"; then return 0; fi
      kill -0 "$nginx_pid" 2>/dev/null || break
      sleep 0.05
    done
    kill -TERM "$nginx_pid" 2>/dev/null || true; wait "$nginx_pid" 2>/dev/null || true; nginx_pid=
  done
  echo "nginx did not start" >&2; cat "$work/nginx/stderr" >&2; exit 1
}
stop_nginx() { kill -TERM "$nginx_pid" 2>/dev/null || true; wait "$nginx_pid" 2>/dev/null || true; nginx_pid=; }

seconds() { local s e; s=$(date +%s.%N); "$@" > /dev/null; e=$(date +%s.%N); echo "$e - $s" | bc -l; }
best() { printf '%s\n' "$@" | sort -g | head -1; }
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
