#!/usr/bin/env bash
# The speed benchmark behind `make bench`: one generated table of ROWS rows (default 1,000,000:
# an auto-number key, a text, a long, a currency, a double, a date, a Boolean and a memo in one
# row in ten) in one Jet 4 file, and every measure on that file in the same run, each the median
# of RUNS runs (default 3). One line per measure; where mdb-export does comparable work, the line
# gives the ratio against it measured in the same run, both by the clock and by processor time
# (the clock depends on what else the machine is doing; the load is printed first and last).
# The ODBC line fetches the table through pyodbc with our driver and with mdbtools' driver.
# The other *_bench.sh scripts of this folder measure more specific things and run on their own.
# Usage: bench/run.sh [BUILD_DIR]   (environment: ROWS, RUNS, WORK to keep the files)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-${BUILD_DIR:-$here/../build}}
[[ $build = /* ]] || build=$here/../$build
rows=${ROWS:-1000000}
runs=${RUNS:-3}
work=${WORK:-$(mktemp -d /tmp/tabulonix-bench.XXXXXX)}
mkdir -p "$work"
cli=$build/bin/tabulonix-cli
cmake --build "$build" --target tabulonix-cli import_bench sharing_bench >/dev/null
grid=""
if cmake --build "$build" --target grid_fill_bench >/dev/null 2>&1; then grid=$build/bin/grid_fill_bench; fi
command -v mdb-export >/dev/null || { echo "mdb-export (mdbtools) is needed"; exit 1; }
[ -x /usr/bin/time ] || { echo "GNU time (/usr/bin/time) is needed"; exit 1; }

median() { sort -g | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
# Runs a command with its output discarded; appends "clock processor peak-KB" to the named array.
measure() {
  local -n into=$1
  shift
  /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >/dev/null
  into+=("$(awk '{print $1, $2 + $3, $4}' "$work/time")")
}
field() { local n=$1; shift; printf "%s\n" "$@" | awk -v n="$n" '{print $n}' | median; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.1f", b / a}'; }
load() { echo "load average $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) processors"; }

load
# Import: the rows as JSON lines into a new table with its key, through the tool's import.
imports=(); importCpu=()
for ((r = 0; r < runs; r++)); do
  line=$("$build/bin/import_bench" "$rows" "$work")
  imports+=("$(sed -nE 's/.* = ([0-9]+) rows\/s.*/\1/p' <<< "$line")")
  importCpu+=("$(sed -nE 's/.*processor time ([0-9.]+) s.*/\1/p' <<< "$line")")
done
db=$work/import.mdb
check=$("$cli" check "$db" >/dev/null 2>&1 && echo "check passes" || echo "CHECK FAILS")
printf "import   %d rows (JSON lines, key index kept): %s rows/s by the clock, %.0f rows/s of processor time (reading and writing threads together); %s\n" \
  "$rows" "$(printf "%s\n" "${imports[@]}" | median)" \
  "$(awk -v n="$rows" -v s="$(printf "%s\n" "${importCpu[@]}" | median)" 'BEGIN {print n / s}')" "$check"

# Export to CSV beside mdb-export of the same table, run alternately.
ourRows=$("$cli" export "$db" Big --format csv | tail -n +2 | grep -c '^[0-9]' || true)
theirRows=$(mdb-export "$db" Big | tail -n +2 | grep -c '^[0-9]' || true)
[ "$ourRows" = "$rows" ] && [ "$theirRows" = "$rows" ] ||
  { echo "row counts differ: $rows made, tabulonix-cli exported $ourRows, mdb-export $theirRows"; exit 1; }
ours=(); theirs=()
for ((r = 0; r < runs; r++)); do
  measure ours "$cli" export "$db" Big --format csv
  measure theirs mdb-export "$db" Big
done
oc=$(field 1 "${ours[@]}"); tc=$(field 1 "${theirs[@]}")
op=$(field 2 "${ours[@]}"); tp=$(field 2 "${theirs[@]}")
printf "export   csv of %d rows: tabulonix-cli %.2f s, mdb-export %.2f s: %sx by the clock, %sx by processor time; peak %d MB\n" \
  "$rows" "$oc" "$tc" "$(ratio "$oc" "$tc")" "$(ratio "$op" "$tp")" "$(($(field 3 "${ours[@]}") / 1024))"

# Compaction of the same file, beside mdb-export reading it (the times above).
compacts=()
for ((r = 0; r < runs; r++)); do
  rm -f "$work/compacted.mdb"
  measure compacts "$cli" compact "$db" "$work/compacted.mdb"
done
mb=$(awk -v b="$(stat -c %s "$db")" 'BEGIN {printf "%.1f", b / 1048576}')
cc=$(field 1 "${compacts[@]}"); cp=$(field 2 "${compacts[@]}")
printf "compact  %s MB: %.2f s = %.0f MB/s; %sx mdb-export reading the file by the clock, %sx by processor time\n" \
  "$mb" "$cc" "$(awk -v m="$mb" -v s="$cc" 'BEGIN {print m / s}')" "$(ratio "$cc" "$tc")" "$(ratio "$cp" "$tp")"
rm -f "$work/compacted.mdb"

# The record grid filled with the whole table through the engine, then sorted by its text column.
if [ -n "$grid" ]; then
  firsts=(); shown=(); sorts=(); peaks=()
  for ((r = 0; r < runs; r++)); do
    out=$("$grid" "$db" Big 2>/dev/null)
    firsts+=("$(sed -nE 's/.*first_ms=([0-9]+).*/\1/p' <<< "$out")")
    shown+=("$(sed -nE 's/.*shown_ms=([0-9]+).*/\1/p' <<< "$out")")
    sorts+=("$(sed -nE 's/.*sort_ms=([0-9]+).*/\1/p' <<< "$out")")
    peaks+=("$(sed -nE 's/.*peak_rss_mb=([0-9]+).*/\1/p' <<< "$out")")
  done
  printf "grid     %d rows: first rows shown %s ms, all rows shown %s ms, sort of the text column %s ms, peak %s MB\n" \
    "$rows" "$(printf "%s\n" "${firsts[@]}" | median)" "$(printf "%s\n" "${shown[@]}" | median)" \
    "$(printf "%s\n" "${sorts[@]}" | median)" "$(printf "%s\n" "${peaks[@]}" | median)"
else
  echo "grid     skipped: built without the windows"
fi

# SQL over the same file: a grouped aggregate beside SQLite itself, a key lookup beside a scan, and
# the memory of streaming every row.
bash "$here/sql_bench.sh" "$build" "$db"

# The locking between programs, on against off in the same run: an import and a read loop.
"$build/bin/sharing_bench" "$(( rows / 5 ))" 3000 5 "$work" || echo "locking  FAILED"

# Migration to PostgreSQL beside the mdb-schema | psql and mdb-export | psql pipeline (once; it
# starts a server of its own).
if [ "${MIGRATE:-1}" = 1 ]; then
  out=$(MIGRATE_FILE=$db bash "$here/migrate_bench.sh" "$build" 2>&1 || true)
  if grep -q "^ratio:" <<< "$out"; then
    printf "migrate  %d rows to PostgreSQL: %s; %s\n" "$rows" \
      "$(sed -nE 's/^PostgreSQL.*: (mdb-schema.*)$/\1/p' <<< "$out")" "$(sed -nE 's/^ratio: //p' <<< "$out")"
  else
    echo "migrate  skipped: $(tail -n 1 <<< "$out")"
  fi
fi
# The ODBC driver: every row through pyodbc beside mdbtools' driver (bench/odbc_bench.sh).
if [ "${ODBC:-1}" = 1 ]; then
  ODBC_FILE=$db RUNS=$runs bash "$here/odbc_bench.sh" "$build" || echo "odbc     failed"
fi
load
[ -n "${WORK:-}" ] || rm -rf "$work"
