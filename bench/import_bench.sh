#!/usr/bin/env bash
# Import speed and memory: `import_bench` loads ROWS generated rows (default 1,000,000) into a new
# Jet 4 table with an auto-number primary key, RUNS times (default 3), then once with a tenth of
# the rows, so that the peak memory of both can be compared; the last file is verified with
# `tabulonix-cli check` and counted with mdb-export when it is installed.
# Usage: bench/import_bench.sh [BUILD_DIR]   (environment: ROWS, RUNS, WORK)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
bench=$build/bin/import_bench
cli=$build/bin/tabulonix-cli
rows=${ROWS:-1000000}
runs=${RUNS:-3}
work=${WORK:-$(mktemp -d /tmp/tabulonix-import.XXXXXX)}
[ -x "$bench" ] && [ -x "$cli" ] || { echo "build first: cmake --build $build --target import_bench tabulonix-cli"; exit 1; }

rates=()
for ((r = 1; r <= runs; r++)); do
  line=$("$bench" "$rows" "$work")
  echo "run $r: $line"
  rates+=("$(sed -E 's/.* = ([0-9]+) rows\/s.*/\1/' <<< "$line")")
done
printf "median of %d runs: %s rows/s\n" "$runs" "$(printf "%s\n" "${rates[@]}" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')"
"$cli" check "$work/import.mdb" > /dev/null && echo "check: ok"
if command -v mdb-export > /dev/null; then
  echo "mdb-export reads $(($(mdb-export "$work/import.mdb" Big | wc -l) - 1)) rows"
fi
echo "a tenth of the rows: $("$bench" $((rows / 10)) "$work")"
[ -n "${WORK:-}" ] || rm -rf "$work"
