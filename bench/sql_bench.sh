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
measure() {
  local c=() p=() m=()
  for ((r = 0; r < runs; r++)); do
    /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >/dev/null
    read -r e u s k < "$work/time"
    c+=("$e"); p+=("$(awk -v u="$u" -v s="$s" 'BEGIN {print u + s}')"); m+=("$k")
  done
  echo "$(printf "%s\n" "${c[@]}" | median) $(printf "%s\n" "${p[@]}" | median) $(printf "%s\n" "${m[@]}" | median)"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.1f", (b > 0 ? a / b : 0)}'; }

group="SELECT Active, count(*), sum(Qty), avg(Price), max(Created) FROM Big GROUP BY Active"
same=$(diff <("$cli" sql "$db" "$group" --format csv | tail -n +2 | cut -d, -f1-3) \
            <(sqlite3 -csv "$work/native.sqlite" "$group" | cut -d, -f1-3) >/dev/null && echo "same answers" || echo "ANSWERS DIFFER")
read -r oc op om <<< "$(measure "$cli" sql "$db" "$group")"
read -r nc np nm <<< "$(measure sqlite3 "$work/native.sqlite" "$group")"
printf "sql      grouped aggregate over %d rows: %.2f s, SQLite on its own file %.2f s: %sx by the clock, %sx by processor time; %s\n" \
  "$rows" "$oc" "$nc" "$(ratio "$oc" "$nc")" "$(ratio "$op" "$np")" "$same"

key=$((rows * 3 / 4))
read -r kc kp km <<< "$(measure "$cli" sql "$db" "SELECT * FROM Big WHERE ID = $key")"
read -r sc sp sm <<< "$(measure "$cli" sql "$db" "SELECT * FROM Big WHERE Qty = -1")"
printf "sql      lookup by primary key, whole command: %.0f ms (%.0f ms of processor time); a query that scans: %.0f ms (%.0f ms): %sx slower by the clock, %sx by processor time\n" \
  "$(awk -v s="$kc" 'BEGIN {print s * 1000}')" "$(awk -v s="$kp" 'BEGIN {print s * 1000}')" \
  "$(awk -v s="$sc" 'BEGIN {print s * 1000}')" "$(awk -v s="$sp" 'BEGIN {print s * 1000}')" \
  "$(ratio "$sc" "$kc")" "$(ratio "$sp" "$kp")"

read -r ac ap am <<< "$(measure "$cli" sql "$db" "SELECT * FROM Big" --format csv)"
printf "sql      SELECT * of %d rows streamed as CSV: %.2f s, peak %d MB\n" "$rows" "$ac" "$((am / 1024))"
