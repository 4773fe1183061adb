#!/usr/bin/env bash
# The prefix store: build time and memory with the built-in data alone and
# with a generated 500,000-prefix phone.dat file (goals: under 0.3 s and
# 30 MB extra), warm lookup cost (goal: under 20 ns), and coverage per
# segment from teloria-data stats, built-in data alone and with the file.
# Usage: bench/run-data.sh BUILD_DIR
set -euo pipefail
source "$(dirname "$0")/lib.sh" "$@"
require_built data_bench data_store_build teloria-data

"$bin/data_store_build" --generate "$work/500k.dat" 500000

echo "-- building the store (goals: under 0.3 s, under 30 MB extra)"
"$bin/data_store_build"
"$bin/data_store_build" "$work/500k.dat"
"$bin/data_store_build" --all

echo
echo "-- warm lookup (goal: under 20 ns)"
"$bin/data_bench" --benchmark_format=json > "$work/bench.json" 2>/dev/null
python3 - "$work/bench.json" <<'PY'
import json, sys
runs = json.load(open(sys.argv[1]))["benchmarks"]
for r in runs:
    ns = r["cpu_time"] * {"ns": 1, "us": 1e3, "ms": 1e6}[r["time_unit"]]
    print(f"{r['name']:<34} {ns:>8.2f} ns  {'ok' if ns < 20 else 'MISSED'}")
PY

echo
echo "-- coverage per segment: built-in data alone | with the 500,000-prefix file"
"$bin/teloria-data" stats > "$work/before.txt" 2>/dev/null
"$bin/teloria-data" --data "$work/500k.dat" stats > "$work/after.txt" 2>/dev/null
python3 - "$work/before.txt" "$work/after.txt" <<'PY'
import sys
def read(path):
    # The segment table ends at the first blank line; the sources follow it.
    text = open(path).read().split("\n\n")[0]
    rows = [line.split("\t") for line in text.splitlines()]
    return rows[0], {r[0]: r[1:] for r in rows[1:]}
header, before = read(sys.argv[1])
_, after = read(sys.argv[2])
keys = sorted(k for k in set(before) | set(after) if k != "total") + ["total"]
fmt = "{:<8} {:>9} {:>16} {:>16}  | {:>9} {:>16} {:>16}"
print(fmt.format(header[0], *header[1:], *header[1:]))
for k in keys:
    print(fmt.format(k, *before.get(k, ["-"] * 3), *after.get(k, ["-"] * 3)))
PY

echo
echo "-- teloria-data update of the 500,000-prefix file (report and install; reference: teloria-data check of the same file)"
export XDG_CONFIG_HOME="$work/config"
measure() { # prints "seconds peak-MB" of one run
  /usr/bin/time -f '%e %M' -o "$work/time.txt" "$@" > "$work/cmd.out" 2> "$work/cmd.err" \
    || { echo "failed: $*" >&2; cat "$work/cmd.err" >&2; exit 1; }
  awk '{ printf "%s %.1f", $1, $2 / 1024 }' "$work/time.txt"
}
read -r check_s check_mb <<< "$(measure "$bin/teloria-data" check "$work/500k.dat")"
read -r new_s new_mb <<< "$(measure "$bin/teloria-data" update "$work/500k.dat")"
read -r again_s again_mb <<< "$(measure "$bin/teloria-data" update "$work/500k.dat")"
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", (b > 0 ? a / b : 0) }'; }
printf '%-48s %6s s %8s MB peak\n' "teloria-data check (reference)" "$check_s" "$check_mb"
printf '%-48s %6s s %8s MB peak  %5sx the reference\n' "teloria-data update, new file" "$new_s" "$new_mb" "$(ratio "$new_s" "$check_s")"
printf '%-48s %6s s %8s MB peak  %5sx the reference\n' "teloria-data update, replacing it (NAME.previous)" "$again_s" "$again_mb" "$(ratio "$again_s" "$check_s")"
grep -m1 '^prefixes added' "$work/cmd.out" || true
