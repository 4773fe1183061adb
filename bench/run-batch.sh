#!/usr/bin/env bash
# teloria-batch over large inputs, file to file, side by side in one run:
# the in-process path over BATCH_COUNT numbers (numbers/s, peak RSS) next to
# wc -l and cat on the same file as the floor of reading the lines, and the
# HTTP path with --jobs 8 over BATCH_HTTP_COUNT numbers (peak RSS).
# Usage: bench/run-batch.sh BUILD_DIR   (BATCH_COUNT, BATCH_HTTP_COUNT to change the sizes)
set -euo pipefail
source "$(dirname "$0")/lib.sh" "$@"
require_built teloria-lookupd teloria-batch
count=${BATCH_COUNT:-10000000}
http_count=${BATCH_HTTP_COUNT:-1000000}

numbers "$count" 20261207 > "$work/numbers.txt"
head -n "$http_count" "$work/numbers.txt" > "$work/numbers-http.txt"
cat "$work/numbers.txt" "$work/numbers.txt" > "$work/numbers-twice.txt"

# "SECONDS PEAK_KB CPU_SECONDS" of one command, its output to a file; a failure stops the bench.
measure() {
  local out=$1; shift
  /usr/bin/time -f '%e %M %U' -o "$work/time" "$@" > "$out" 2> "$work/err" || {
    echo "failed: $*" >&2; cat "$work/err" >&2; exit 1; }
  cat "$work/time"
}
rate() { awk -v n="$1" -v s="$2" 'BEGIN { if (s > 0) printf "%.0f", n / s; else printf "-" }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", (b > 0 ? a / b : 0) }'; }
mb() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
# The rate per CPU second beside the rate per second: the machine may be shared.
row() { printf '%-40s %8s s %10s numbers/s %10s numbers/CPU s %8s MB peak\n' "$1" "$2" "$(rate "$3" "$2")" "$(rate "$3" "${5:-0}")" "$(mb "$4")"; }

cat "$work/numbers.txt" > /dev/null # into the page cache for everyone alike
read -r wc_s wc_kb wc_cpu < <(measure /dev/null wc -l "$work/numbers.txt")
read -r cat_s cat_kb cat_cpu < <(measure "$work/cat.txt" cat "$work/numbers.txt")
rm -f "$work/cat.txt"
echo "$count numbers, $(du -m "$work/numbers.txt" | cut -f1) MB"
row "wc -l" "$wc_s" "$count" "$wc_kb" "$wc_cpu"
row "cat (file to file)" "$cat_s" "$count" "$cat_kb" "$cat_cpu"

if "$bin/teloria-batch" --help | grep -q 'in-process'; then
  # Twice: cold (each prefix's first lookup asks the built-in data), then the
  # same numbers again in one run, as the store's answers then stand.
  read -r in_s in_kb in_cpu < <(measure /dev/null env -u TELORIA_SERVICE "$bin/teloria-batch" -o "$work/out.csv" "$work/numbers.txt")
  row "teloria-batch in-process" "$in_s" "$count" "$in_kb" "$in_cpu"
  read -r warm_s warm_kb warm_cpu < <(measure /dev/null env -u TELORIA_SERVICE "$bin/teloria-batch" -o "$work/out.csv" "$work/numbers-twice.txt")
  row "teloria-batch in-process, each twice" "$warm_s" "$((2 * count))" "$warm_kb" "$warm_cpu"
  echo "in-process time / cat time:     $(ratio "$in_s" "$cat_s")x   (cold)"
  echo "in-process time / wc -l time:   $(ratio "$in_s" "$wc_s")x   (cold)"
  echo "goal: >= 3000000 numbers/s, < 100 MB"
  rm -f "$work/out.csv"
else
  echo "teloria-batch in-process: skipped (this build has no in-process path)"
fi

start_service
read -r http_s http_kb http_cpu < <(measure /dev/null "$bin/teloria-batch" --service "$base" --jobs 8 -o "$work/out-http.csv" "$work/numbers-http.txt")
row "teloria-batch --jobs 8 over HTTP" "$http_s" "$http_count" "$http_kb" "$http_cpu"
echo "goal for the HTTP path: < 100 MB peak"
