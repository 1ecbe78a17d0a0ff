#!/usr/bin/env bash
# Range-delete speed: `delete_bench` loads ROWS rows (default 300,000) into a Jet 4 table with an
# auto-number key and deletes them all with `tabulonix-cli delete FILE Big 0 LAST`, RUNS times (default 3); prints
# each run's rates and the median delete rate, with the load's rate in the same run as its peer,
# and the rate of deleting rows one commit each for scale.
# Usage: bench/delete_bench.sh [BUILD_DIR]   (environment: ROWS, RUNS, WORK)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
bench=$build/bin/delete_bench
rows=${ROWS:-300000}
runs=${RUNS:-3}
work=${WORK:-$(mktemp -d /tmp/tabulonix-delete.XXXXXX)}
[ -x "$bench" ] || { echo "build first: cmake --build $build --target delete_bench"; exit 1; }
rates=()
for ((r = 1; r <= runs; r++)); do
  out=$("$bench" "$rows" "$work")
  echo "run $r:"; sed 's/^/  /' <<< "$out"
  rates+=("$(sed -nE 's/^range delete: .* = ([0-9]+) rows\/s.*/\1/p' <<< "$out")")
done
printf "median of %d runs: %s rows/s deleted\n" "$runs" "$(printf "%s\n" "${rates[@]}" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')"
[ -n "${WORK:-}" ] || rm -rf "$work"
