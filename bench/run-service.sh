#!/usr/bin/env bash
# The bundled lookup service: lookup cost without the network (Google
# Benchmark), the share of segments the built-in data cover, and requests per
# second with wrk on loopback (keep-alive, 16 connections, 5 s).
# Usage: bench/run-service.sh BUILD_DIR
set -euo pipefail
source "$(dirname "$0")/lib.sh" "$@"
require_built teloria-lookupd service_bench service_coverage

echo "-- lookups inside the service (CPU time per operation)"
"$bin/service_bench" --benchmark_format=json > "$work/bench.json" 2>/dev/null
python3 - "$work/bench.json" <<'PY'
import json, sys
runs = json.load(open(sys.argv[1]))["benchmarks"]
for r in runs:
    print(f"{r['name']:<32} {r['cpu_time']:>10.3f} {r['time_unit']}")
seen = next(r for r in runs if r["name"] == "BM_LookupSeenPrefix")
ns = seen["cpu_time"] * {"ns": 1, "us": 1e3, "ms": 1e6}[seen["time_unit"]]
print(f"target: one lookup of a 7-digit prefix already seen under 2 us CPU -> {ns / 1000:.3f} us "
      f"{'ok' if ns < 2000 else 'MISSED'}")
PY

echo
echo "-- built-in data coverage"
"$bin/service_coverage"

echo
echo "-- HTTP on loopback: wrk -t2 -c16 -d5s --latency, keep-alive"
if ! command -v wrk >/dev/null; then
  echo "skipped: wrk is not installed"
  exit 0
fi
start_service

# Numbers spread over the segments in use, so new prefixes keep coming as well
# as ones already seen.
cat > "$work/numbers.lua" <<'LUA'
local segments = {130,131,132,133,134,135,136,137,138,139,145,147,149,150,151,152,153,155,156,157,158,159,
                  162,165,166,167,170,171,172,173,175,176,177,178,180,181,182,183,184,185,186,187,188,189,
                  190,191,192,193,195,196,197,198,199}
math.randomseed(20240601)
request = function()
  local n = segments[math.random(#segments)] .. string.format("%08d", math.random(0, 99999999))
  return wrk.format("GET", "/sim_search138.asp?mobile=" .. n)
end
LUA
wrk -t2 -c16 -d5s --latency -s "$work/numbers.lua" "$base/" > "$work/wrk.out"
cat "$work/wrk.out"
python3 - "$work/wrk.out" <<'PY'
import re, sys
text = open(sys.argv[1]).read()
rps = float(re.search(r"Requests/sec:\s+([\d.]+)", text).group(1))
m = re.search(r"99%\s+([\d.]+)(us|ms|s)\b", text)
p99 = float(m.group(1)) * {"us": 0.001, "ms": 1.0, "s": 1000.0}[m.group(2)]
errors = re.search(r"Non-2xx or 3xx responses: (\d+)", text)
print(f"target: >= 20,000 requests/s with p99 < 5 ms -> {rps:,.0f} requests/s, p99 {p99:.2f} ms "
      f"{'ok' if rps >= 20000 and p99 < 5 else 'MISSED'}"
      + (f"; {errors.group(1)} non-2xx answers" if errors else ""))
PY

echo
echo "-- start to first answer: teloria-lookupd (median of 5; peak memory after the answer)"
first_answer() { # prints "MS PEAK_KB"
  local out=$work/first.out start pid url
  start=$(date +%s%N)
  "$bin/teloria-lookupd" --listen 127.0.0.1:0 > "$out" 2>&1 &
  pid=$!
  url=
  while [ -z "$url" ]; do
    url=$(sed -n 's/^listening on \(http:[^ ]*\).*/\1/p' "$out")
    kill -0 "$pid" 2>/dev/null || { echo "teloria-lookupd did not start" >&2; cat "$out" >&2; exit 1; }
  done
  curl -sf -o /dev/null "$url/sim_search138.asp?mobile=13800138000"
  local ms=$(( ($(date +%s%N) - start) / 1000000 ))
  local kb=$(awk '/VmHWM/ { print $2 }' "/proc/$pid/status")
  kill "$pid"; wait "$pid" 2>/dev/null || true
  echo "$ms $kb"
}
for _ in 1 2 3 4 5; do first_answer; done | sort -n | awk 'NR == 3 { ms = $1 } { if ($2 > kb) kb = $2 }
  END { printf "teloria-lookupd: %d ms to the first answer, %.1f MB peak; goal <= 60 ms and <= 25 MB: %s\n",
        ms, kb / 1024, (ms <= 60 && kb <= 25600 ? "met" : "NOT met") }'
