#!/usr/bin/env bash
# Learning from an online lookup service: one request per unknown prefix
# against a slow fake upstream, and the cost of a learned lookup.
# Usage: bench/run-learn.sh BUILD_DIR
set -euo pipefail
source "$(dirname "$0")/lib.sh" "$@"
require_built learn_bench
"$bin/learn_bench"

echo
echo "-- teloria-data learn: 2,000 prefixes on the fake upstream"
require_built learn_walk_bench
"$bin/learn_walk_bench"
