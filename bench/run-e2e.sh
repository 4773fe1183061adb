#!/usr/bin/env bash
# End-to-end speed over the bundled service on loopback, all in one run:
# teloria-batch with --jobs 1 and --jobs 8, the window's own run driven
# offscreen, and a bare libcurl loop (one easy handle per request) as the
# cost of the requests alone; then the window's peak memory with 100,000 rows.
# Usage: bench/run-e2e.sh BUILD_DIR   (E2E_COUNT, E2E_MEMORY_COUNT, E2E_REPEAT to change the sizes)
set -euo pipefail
source "$(dirname "$0")/lib.sh" "$@"
require_built teloria-lookupd teloria-batch e2e_baseline
count=${E2E_COUNT:-10000}
memory_count=${E2E_MEMORY_COUNT:-100000}
repeat=${E2E_REPEAT:-3}

numbers "$count" 20240601 > "$work/numbers.txt"
numbers "$memory_count" 20240602 > "$work/numbers-100k.txt"

start_service
echo "service: $base, $count numbers, best of $repeat"

# Seconds of the fastest of $repeat runs of a command that prints its seconds.
best() {
  local best_s= s
  for _ in $(seq 1 "$repeat"); do
    s=$("$@")
    if [ -z "$best_s" ] || awk -v a="$s" -v b="$best_s" 'BEGIN { exit !(a < b) }'; then best_s=$s; fi
  done
  echo "$best_s"
}

# teloria-batch reports the run's seconds in its summary line on standard error.
batch_seconds() {
  local jobs=$1
  "$bin/teloria-batch" --service "$base" --jobs "$jobs" -o "$work/out-$jobs.csv" "$work/numbers.txt" 2> "$work/batch.err" \
    || { echo "teloria-batch --jobs $jobs failed:" >&2; cat "$work/batch.err" >&2; exit 1; }
  sed -n 's/.*, \([0-9.]*\) s$/\1/p' "$work/batch.err"
}
baseline_seconds() { "$bin/e2e_baseline" "$base" "$work/numbers.txt" | awk '{ print $2 }'; }
window() {
  "$bin/e2e_window" "$base" "$1" 2> "$work/window.err" \
    || { echo "e2e_window failed:" >&2; cat "$work/window.err" >&2; exit 1; }
}
window_seconds() { window "$work/numbers.txt" | awk '{ print $2 }'; }

rate() { awk -v n="$count" -v s="$1" 'BEGIN { printf "%.0f", (s > 0 ? n / s : 0) }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

# A first pass warms the service's caches and the page cache for everyone alike.
"$bin/e2e_baseline" "$base" "$work/numbers.txt" > /dev/null

baseline=$(best baseline_seconds)
jobs1=$(best batch_seconds 1)
jobs8=$(best batch_seconds 8)
if cmp -s "$work/out-1.csv" "$work/out-8.csv"; then same="identical"; else same="DIFFERENT"; fi

printf '%-44s %8s s %8s numbers/s\n' "baseline loop (libcurl, handle per request)" "$baseline" "$(rate "$baseline")"
printf '%-44s %8s s %8s numbers/s\n' "teloria-batch --jobs 1" "$jobs1" "$(rate "$jobs1")"
printf '%-44s %8s s %8s numbers/s\n' "teloria-batch --jobs 8" "$jobs8" "$(rate "$jobs8")"
window=
if [ -x "$bin/e2e_window" ]; then
  window=$(best window_seconds)
  printf '%-44s %8s s %8s numbers/s\n' "window run (click to end message)" "$window" "$(rate "$window")"
else
  echo "window run: skipped ($bin/e2e_window is not built)"
fi
echo "result files of --jobs 1 and --jobs 8: $same"
echo
echo "--jobs 8 / --jobs 1 speed:      $(ratio "$jobs1" "$jobs8")x   (target >= 2)"
echo "--jobs 1 / baseline speed:      $(ratio "$baseline" "$jobs1")x"
if [ -n "$window" ]; then
  echo "window time / baseline time:    $(ratio "$window" "$baseline")x   (target <= 1.5)"
  window "$work/numbers-100k.txt" > "$work/window-100k.txt"
  read -r rows seconds peak before < "$work/window-100k.txt"
  awk -v r="$rows" -v s="$seconds" -v p="$peak" -v b="$before" 'BEGIN {
    printf "window holding %d rows: peak RSS %.1f MB (%.1f MB before the click), run %.1f s   (target < 150 MB)\n",
           r, p / 1024, b / 1024, s }'
fi
if command -v /usr/bin/time > /dev/null; then
  peak=$( { /usr/bin/time -f '%M' "$bin/teloria-batch" --service "$base" --jobs 8 -o "$work/out-100k.csv" "$work/numbers-100k.txt" 2>&1 >/dev/null; } | tail -n 1)
  awk -v p="$peak" -v n="$memory_count" 'BEGIN { printf "teloria-batch --jobs 8 over %d numbers: peak RSS %.1f MB\n", n, p / 1024 }'
fi
