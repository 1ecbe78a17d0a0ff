#!/usr/bin/env bash
# Compaction of a generated database of about 100 MB (an indexed table with a memo column, one row
# in ten deleted), median of RUNS runs: MB of source per second by the clock and by processor time,
# beside a plain copy of the same file. The source is made on the first run and kept in WORK.
# Usage: bench/compact_bench.sh   (environment: BUILD_DIR=build MB=100 RUNS=3 WORK=/tmp/...)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
cmake --build "$BUILD_DIR" --target compact_bench >/dev/null
work=${WORK:-/tmp/tabulonix-compact-bench}
mkdir -p "$work"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
"$BUILD_DIR/bin/compact_bench" "$work" "${MB:-100}" "${RUNS:-3}"
