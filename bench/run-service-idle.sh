#!/usr/bin/env bash
# The lookup service with many idle connections open, against nginx serving
# the same page as a file, all on 127.0.0.1 (issue goal 4):
#  - wrk -t2 -c16 -d5s --latency while 1,000 idle keep-alive connections are
#    held open, 3 rounds with the two servers taking turns: median requests/s
#    ratio (goal >= 1.2x) and p99 (goal: no worse than nginx's);
#  - the same without idle connections, as many rounds (goal: no worse than 1.43x;
#    their p99 is printed beside);
#  - a normal request while 2,500 idle and 2,500 trickling connections are
#    open (goal: every one answered within 100 ms).
# Usage: bench/run-service-idle.sh BUILD_DIR   (IDLE_ROUNDS to change the 3)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh" "$@"
require_built teloria-lookupd
rounds=${IDLE_ROUNDS:-3}
if ! command -v wrk >/dev/null || ! command -v nginx >/dev/null; then
  echo "skipped: wrk or nginx is not installed"
  exit 0
fi
ulimit -n 20000 2>/dev/null || ulimit -n "$(ulimit -Hn)"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
start_service
port=${base##*:}
target="/sim_search138.asp?mobile=13800138000"
start_nginx "$target" 8192

# Holds N idle (and M trickling) connections to port P while a command runs.
with_idle() { # P N M command...
  local p=$1 n=$2 m=$3; shift 3
  local fifo=$work/idle.fifo
  rm -f "$fifo"; mkfifo "$fifo"
  python3 "$here/idle_clients.py" "$p" "$n" "$m" < "$fifo" > "$work/idle.out" &
  local holder=$!
  exec 8>"$fifo"
  while ! grep -q ready "$work/idle.out" 2>/dev/null; do
    kill -0 "$holder" 2>/dev/null || { echo "the idle clients did not connect" >&2; exit 1; }
    sleep 0.1
  done
  sleep 1 # let the server take the last of them from its backlog
  "$@"
  exec 8>&-
  wait "$holder" || true
}
# wrk on port P into file F.
run_wrk() { wrk -t2 -c16 -d5s --latency "http://127.0.0.1:$1$target" > "$2"; }

for round in $(seq 1 "$rounds"); do
  if [ $((round % 2)) = 1 ]; then order="lookupd nginx"; else order="nginx lookupd"; fi
  for who in $order; do
    if [ "$who" = lookupd ]; then p=$port; else p=$nginx_port; fi
    with_idle "$p" 1000 0 run_wrk "$p" "$work/wrk-idle-$who-$round.out"
  done
done
for round in $(seq 1 "$rounds"); do
  if [ $((round % 2)) = 1 ]; then order="lookupd nginx"; else order="nginx lookupd"; fi
  for who in $order; do
    if [ "$who" = lookupd ]; then p=$port; else p=$nginx_port; fi
    run_wrk "$p" "$work/wrk-alone-$who-$round.out"
  done
done
with_idle "$port" 2500 2500 python3 "$here/normal_request.py" "$port" 20 > "$work/many-lookupd.out"
with_idle "$nginx_port" 2500 2500 python3 "$here/normal_request.py" "$nginx_port" 20 > "$work/many-nginx.out"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

python3 - "$work" "$rounds" <<'PY'
import re, statistics, sys
work, rounds = sys.argv[1], int(sys.argv[2])
def wrk(path):
    text = open(path).read()
    rps = float(re.search(r"Requests/sec:\s+([\d.]+)", text).group(1))
    m = re.search(r"99%\s+([\d.]+)(us|ms|s)\b", text)
    p99 = float(m.group(1)) * {"us": 0.001, "ms": 1.0, "s": 1000.0}[m.group(2)]
    bad = re.search(r"Non-2xx or 3xx responses: (\d+)", text)
    return rps, p99, int(bad.group(1)) if bad else 0
def verdict(ok):
    return "PASS" if ok else "MISS"
ratios, figures = [], {"lookupd": [], "nginx": []}
for r in range(1, rounds + 1):
    s, n = wrk(f"{work}/wrk-idle-lookupd-{r}.out"), wrk(f"{work}/wrk-idle-nginx-{r}.out")
    figures["lookupd"].append(s); figures["nginx"].append(n)
    ratios.append(s[0] / n[0])
    print(f"round {r} with 1,000 idle: lookupd {s[0]:,.0f} requests/s p99 {s[1]:.2f} ms ({s[2]} non-2xx), "
          f"nginx {n[0]:,.0f} requests/s p99 {n[1]:.2f} ms -> {s[0] / n[0]:.2f}x")
ratio = statistics.median(ratios)
p99s = statistics.median(f[1] for f in figures["lookupd"])
p99n = statistics.median(f[1] for f in figures["nginx"])
print(f"goal 4: lookupd/nginx with 1,000 idle = {ratio:.2f}x median of {rounds} (>= 1.2x) {verdict(ratio >= 1.2)}")
print(f"goal 4: p99 with 1,000 idle, median of {rounds}: lookupd {p99s:.2f} ms, nginx {p99n:.2f} ms (no worse) "
      f"{verdict(p99s <= p99n)}")
alone = [(wrk(f"{work}/wrk-alone-lookupd-{r}.out"), wrk(f"{work}/wrk-alone-nginx-{r}.out"))
         for r in range(1, rounds + 1)]
ratio = statistics.median(s[0] / n[0] for s, n in alone)
print(f"goal 4: lookupd/nginx alone = {ratio:.2f}x median of {rounds} "
      f"({', '.join(f'{s[0]:,.0f} vs {n[0]:,.0f}' for s, n in alone)} requests/s) (>= 1.43x) {verdict(ratio >= 1.43)}")
print(f"        p99 alone, median of {rounds}: lookupd {statistics.median(s[1] for s, _ in alone):.2f} ms, "
      f"nginx {statistics.median(n[1] for _, n in alone):.2f} ms")
for who in ("lookupd", "nginx"):
    median, worst, unanswered = open(f"{work}/many-{who}.out").read().split()
    line = (f"{who} with 2,500 idle and 2,500 trickling: 20 requests, median {float(median):.2f} ms, "
            f"worst {float(worst):.2f} ms, {unanswered} unanswered")
    if who == "lookupd":
        ok = int(unanswered) == 0 and float(worst) < 100
        print(f"goal 4: {line} (every one < 100 ms) {verdict(ok)}")
    else:
        print(f"        {line}")
PY
