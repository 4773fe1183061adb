# Shared by the bench/run-*.sh scripts (sourced, not run).
# Sets build and bin from $1 (or TELORIA_BUILD), a scratch folder $work removed
# on exit, and start_service, which starts teloria-lookupd on a free loopback
# port and sets base to its URL.
build=$(cd "${1:-${TELORIA_BUILD:-build}}" && pwd)
bin=$build/bin

# Exits the calling script (as a skip, not a failure) when a binary is missing.
require_built() {
  local tool
  for tool in "$@"; do
    if [ ! -x "$bin/$tool" ]; then
      echo "skipped: $bin/$tool is not built"
      exit 0
    fi
  done
}

work=$(mktemp -d)
# The built-in data's figures, not those of a user's files in ~/.local/share/teloria.
export XDG_DATA_HOME="$work/no-user-data"
service_pid=
cleanup() {
  if [ -n "$service_pid" ]; then kill "$service_pid" 2>/dev/null || true; wait "$service_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# Port 0: the service picks a free port and prints what it got.
start_service() {
  "$bin/teloria-lookupd" --listen 127.0.0.1:0 > "$work/service.out" 2>&1 &
  service_pid=$!
  base=
  for _ in $(seq 1 200); do
    base=$(sed -n 's/^listening on \(http:[^ ]*\).*/\1/p' "$work/service.out")
    [ -n "$base" ] && return 0
    kill -0 "$service_pid" 2>/dev/null || break
    sleep 0.05
  done
  echo "teloria-lookupd did not start:"; cat "$work/service.out"; exit 1
}

# N realistic mobile numbers, one per line: 11 digits behind the segments in
# use today, from a fixed seed.  Usage: numbers N SEED
numbers() {
  awk -v n="$1" -v seed="$2" 'BEGIN {
    split("130 131 132 133 134 135 136 137 138 139 145 147 149 150 151 152 153 155 156 157 158 159 " \
          "162 165 166 167 170 171 172 173 175 176 177 178 180 181 182 183 184 185 186 187 188 189 " \
          "190 191 192 193 195 196 197 198 199", p, " ")
    srand(seed)
    for (i = 0; i < n; i++) printf "%s%08d\n", p[1 + int(rand() * length(p))], int(rand() * 100000000)
  }'
}

# Starts nginx on a free loopback port serving the lookup page of $base$1 as a
# file, with worker_connections $2; sets nginx_port and nginx_pid, and stops it
# on exit. The reference the service is measured against.
start_nginx() { # TARGET CONNECTIONS
  local target=$1 connections=$2
  mkdir -p "$work/www" "$work/nginx"
  curl -sf "$base$target" -o "$work/www/sim_search138.asp"
  # nginx's workers may run as another user (when started by root): let them read the page.
  chmod a+rx "$work" "$work/www" && chmod a+r "$work/www/sim_search138.asp"
  nginx_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  cat > "$work/nginx/nginx.conf" <<CONF
worker_processes $(nproc);
worker_rlimit_nofile $((connections * 2 + 64));
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections $connections; }
http {
  access_log off;
  keepalive_timeout 75s;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  default_type "text/html; charset=GBK";
  server { listen 127.0.0.1:$nginx_port; root $work/www; }
}
CONF
  nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -g 'daemon off;' 2> "$work/nginx/stderr" &
  nginx_pid=$!
  trap 'kill $nginx_pid 2>/dev/null || true; wait $nginx_pid 2>/dev/null || true; cleanup' EXIT
  for _ in $(seq 1 100); do
    curl -sf "http://127.0.0.1:$nginx_port$target" -o /dev/null 2>/dev/null && break
    sleep 0.05
  done
  cmp -s <(curl -s "http://127.0.0.1:$nginx_port$target") "$work/www/sim_search138.asp" \
    || { echo "nginx did not serve the page:"; tail -5 "$work/nginx/error.log"; exit 1; }
}
