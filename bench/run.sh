#!/usr/bin/env bash
# Prints the project's speed and memory figures. Usage: bench/run.sh BUILD_DIR
# Each area's figures come from bench/run-*.sh, run in name order.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
export TELORIA_BUILD="$build"
for part in "$here"/run-*.sh; do
  [ -e "$part" ] || continue
  echo "== $(basename "$part" .sh | sed 's/^run-//') =="
  bash "$part" "$build"
  echo
done
