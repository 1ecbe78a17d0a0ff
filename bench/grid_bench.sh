#!/usr/bin/env bash
# The record grid's fill: the grid alone from generated texts (100,000 and 1,000,000 rows of eight
# columns), then whole tables through the engine: the 200,000-row test table and a generated
# 1,000,000-row, eight-column table. Prints one line a run: rows, fill time, peak memory.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
cmake --build "$BUILD_DIR" --target grid_fill_bench >/dev/null
bench="$BUILD_DIR/bin/grid_fill_bench"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "grid alone:"
"$bench" synthetic 100000 8
"$bench" synthetic 1000000 8

echo "through the engine:"
cp ../shared/testdata/generated/big200kV2000.mdb "$work/big200k.mdb"
"$bench" "$work/big200k.mdb" Big
if "$bench" make "$work/million.mdb" 1000000 >/dev/null; then
  "$bench" "$work/million.mdb" Million
else
  echo "(could not generate the 1,000,000-row table)"
fi
