#!/usr/bin/env bash
# The SQL bridge on the benchmark's table Big (ROWS rows, made by import_bench unless a file is
# given): a grouped aggregate over every row beside the same query in SQLite itself over a copy of
# the same rows (made by migrate), a lookup by primary key beside a query that must scan, and the
# peak memory of streaming SELECT * of the whole table. Each time the median of RUNS runs, ratios
# from the same run.
# Usage: bench/sql_bench.sh [BUILD_DIR] [FILE.mdb]   (environment: ROWS, RUNS)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
[[ $build = /* ]] || build=$here/../$build
rows=${ROWS:-1000000}
runs=${RUNS:-3}
work=$(mktemp -d /tmp/tabulonix-sql-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
cli=$build/bin/tabulonix-cli
db=${2:-}
if [ -z "$db" ]; then
  cmake --build "$build" --target tabulonix-cli import_bench >/dev/null
  "$build/bin/import_bench" "$rows" "$work" >/dev/null
  db=$work/import.mdb
fi
command -v sqlite3 >/dev/null || { echo "sqlite3 is needed"; exit 1; }
[ -x /usr/bin/time ] || { echo "GNU time (/usr/bin/time) is needed"; exit 1; }
"$cli" migrate "$db" "sqlite:$work/native.sqlite" --tables Big --quiet >/dev/null

median() { sort -g | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
# Runs a command `runs` times, output discarded; prints the medians "clock processor peak-KB".
# The clock is the shell's, to the microsecond (time's own is in hundredths of a second, too
# coarse for a lookup of a few milliseconds).
measure() {
  local c=() p=() m=() start end
  for ((r = 0; r < runs; r++)); do
    start=$EPOCHREALTIME
    /usr/bin/time -f "%U %S %M" -o "$work/time" "$@" >/dev/null
    end=$EPOCHREALTIME
    read -r u s k < "$work/time"
    c+=("$(awk -v a="$start" -v b="$end" 'BEGIN {print b - a}')"); p+=("$(awk -v u="$u" -v s="$s" 'BEGIN {print u + s}')"); m+=("$k")
  done
  echo "$(printf "%s\n" "${c[@]}" | median) $(printf "%s\n" "${p[@]}" | median) $(printf "%s\n" "${m[@]}" | median)" \
    "$(printf "%s\n" "${c[@]}" | sort -g | head -1)"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.1f", (b > 0 ? a / b : 0)}'; }

group="SELECT Active, count(*), sum(Qty), avg(Price), max(Created) FROM Big GROUP BY Active"
same=$(diff <("$cli" sql "$db" "$group" --format csv | tail -n +2 | cut -d, -f1-3) \
            <(sqlite3 -csv "$work/native.sqlite" "$group" | cut -d, -f1-3) >/dev/null && echo "same answers" || echo "ANSWERS DIFFER")
read -r oc op om _ <<< "$(measure "$cli" sql "$db" "$group")"
read -r nc np nm _ <<< "$(measure sqlite3 "$work/native.sqlite" "$group")"
printf "sql      grouped aggregate over %d rows: %.2f s, SQLite on its own file %.2f s: %sx by the clock, %sx by processor time; %s\n" \
  "$rows" "$oc" "$nc" "$(ratio "$oc" "$nc")" "$(ratio "$op" "$np")" "$same"

# A lookup takes milliseconds: it is timed on its own (GNU time's own start would add several),
# alternating with the scan so that both see the same machine, and the fastest run is given beside
# the median.
key=$((rows * 3 / 4))
lookup=("$cli" sql "$db" "SELECT * FROM Big WHERE ID = $key")
scan=("$cli" sql "$db" "SELECT * FROM Big WHERE Qty = -1")
clock() { local start=$EPOCHREALTIME; "$@" >/dev/null; awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN {print (b - a) * 1000}'; }
lookups=() scans=()
for ((r = 0; r < runs; r++)); do
  lookups+=("$(clock "${lookup[@]}")")
  scans+=("$(clock "${scan[@]}")")
done
kc=$(printf "%s\n" "${lookups[@]}" | median) sc=$(printf "%s\n" "${scans[@]}" | median)
kb=$(printf "%s\n" "${lookups[@]}" | sort -g | head -1) sb=$(printf "%s\n" "${scans[@]}" | sort -g | head -1)
printf "sql      lookup by primary key, whole command: %.1f ms (fastest %.1f ms); a query that scans: %.1f ms (fastest %.1f ms): %sx slower by the clock, %sx fastest to fastest\n" \
  "$kc" "$kb" "$sc" "$sb" "$(ratio "$sc" "$kc")" "$(ratio "$sb" "$kb")"

read -r ac ap am _ <<< "$(measure "$cli" sql "$db" "SELECT * FROM Big" --format csv)"
printf "sql      SELECT * of %d rows streamed as CSV: %.2f s, peak %d MB\n" "$rows" "$ac" "$((am / 1024))"
