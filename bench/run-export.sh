#!/usr/bin/env bash
# The result file writer: time to save 100,000 rows of Chinese text, and the
# peak memory the save needs above the table. Usage: bench/run-export.sh BUILD_DIR
set -euo pipefail
build=${1:-${TELORIA_BUILD:-build}}
bin="$build/bin/export_bench"
[ -x "$bin" ] || { echo "export_bench not built in $build"; exit 1; }

out=$(mktemp)
trap 'rm -f "$out" "$out.time"' EXIT
# Whole-process figures from /usr/bin/time when it is there.
if [ -x /usr/bin/time ]; then
  /usr/bin/time -v -o "$out.time" "$bin" --benchmark_format=json >"$out" 2>/dev/null
else
  "$bin" --benchmark_format=json >"$out" 2>/dev/null
fi

python3 - "$out" <<'PY'
import json, sys
runs = json.load(open(sys.argv[1]))["benchmarks"]
print(f"{'benchmark':<40} {'time/save':>10} {'file':>8} {'peak above table':>17}")
for r in runs:
    print(f"{r['name']:<40} {r['real_time']:>7.1f} {r['time_unit']:<2} "
          f"{r['file_MB']:>6.2f}MB {r['peak_above_table_MB']:>15.2f}MB")
gbk = next(r for r in runs if r["name"].startswith("BM_WriteResultFile/gbk"))
t = gbk["real_time"] / 1000.0
print(f"target: 100,000 rows (GBK) under 0.3 s -> {t:.3f} s {'ok' if t < 0.3 else 'MISSED'}; "
      f"peak above table under 50 MB -> {gbk['peak_above_table_MB']:.2f} MB "
      f"{'ok' if gbk['peak_above_table_MB'] < 50 else 'MISSED'}")
PY

if [ -f "$out.time" ]; then
  rss=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$out.time")
  echo "whole benchmark process, table included: max RSS $((rss / 1024)) MB"
  rm -f "$out.time"
fi
