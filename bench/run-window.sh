#!/usr/bin/env bash
# The window's figures, all in one run:
# - its run over 10,000 numbers on its in-process bundled service against a
#   bare libcurl loop (one easy handle per request) on the same service, the
#   rounds of the two taking turns (goal: window / loop <= 0.6);
# - import of a 1,000,000-line text file and of a 100,000-row xlsx (time, peak memory);
# - statistics over 1,000,000 rows (goal: under a second);
# - save as XLSX of 100,000 rows.
# Usage: bench/run-window.sh BUILD_DIR   (WINDOW_COUNT, WINDOW_ROUNDS to change the run's size)
set -euo pipefail
source "$(dirname "$0")/lib.sh" "$@"
require_built window_run_bench window_tools_bench
count=${WINDOW_COUNT:-10000}
rounds=${WINDOW_ROUNDS:-5}

numbers "$count" 20240601 > "$work/numbers.txt"
read -r _ window _ baseline _ ratio < <("$bin/window_run_bench" "$work/numbers.txt" "$rounds")
verdict=$(awk -v r="$ratio" 'BEGIN { print (r <= 0.6 ? "met" : "NOT met") }')
printf 'window run, %d numbers, bundled service:   %8s s (median of %d)\n' "$count" "$window" "$rounds"
printf 'bare libcurl loop, handle per request:     %8s s (median of %d, rounds interleaved)\n' "$baseline" "$rounds"
echo "window / loop:                             ${ratio}x   (goal <= 0.6: $verdict)"
echo

tools() { "$bin/window_tools_bench" "$@"; }
mb() { awk -v k="$1" 'BEGIN { printf "%.1f MB", k / 1024 }'; }

numbers 1000000 20240603 > "$work/million.txt"
read -r s peak n stall < <(tools import "$work/million.txt")
echo "import, text file of $n lines:          $s s, peak RSS $(mb "$peak"), window's longest stall $stall s   (goal: a few seconds)"
tools make-xlsx 100000 "$work/numbers.xlsx"
read -r s peak n stall < <(tools import "$work/numbers.xlsx")
echo "import, xlsx of $n rows:                 $s s, peak RSS $(mb "$peak"), window's longest stall $stall s"
read -r s peak n < <(tools stats 1000000)
verdict=$(awk -v s="$s" 'BEGIN { print (s < 1 ? "met" : "NOT met") }')
echo "statistics over $n rows:                $s s   (goal < 1 s: $verdict)"
read -r s peak n < <(tools save-xlsx 100000 "$work/saved.xlsx")
echo "save as XLSX, $n rows:                   $s s, peak RSS $(mb "$peak"), $(stat -c %s "$work/saved.xlsx") bytes"
