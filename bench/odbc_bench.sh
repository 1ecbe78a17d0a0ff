#!/usr/bin/env bash
# ODBC: every row of the benchmark table fetched through pyodbc (cursor.execute("SELECT * FROM
# Big").fetchall()) with the Tabulonix driver and with mdbtools' driver (Debian's odbc-mdbtools),
# run alternately in the same run, medians of RUNS; the ratio by the clock and by processor time.
# Both drivers are registered in a private odbcinst.ini (no root needed).
# Usage: bench/odbc_bench.sh [BUILD_DIR]   (environment: ODBC_FILE an existing file with table Big,
# otherwise one of ROWS rows is generated; RUNS)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
[[ $build = /* ]] || build=$here/../$build
rows=${ROWS:-1000000}
runs=${RUNS:-3}
work=$(mktemp -d /tmp/tabulonix-odbc-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
cmake --build "$build" --target tabulonix-odbc >/dev/null 2>&1 ||
  { echo "odbc     skipped: the ODBC driver is not part of this build"; exit 0; }
driver=$build/lib/libtabulonix-odbc.so
peer=$(dpkg -L odbc-mdbtools 2>/dev/null | grep -m1 '/libmdbodbc\.so$' || true)
[ -n "$peer" ] || { echo "odbc     skipped: mdbtools' ODBC driver (odbc-mdbtools) is not installed"; exit 0; }
/usr/bin/python3 -c "import pyodbc" 2>/dev/null || { echo "odbc     skipped: python3-pyodbc is not installed"; exit 0; }
file=${ODBC_FILE:-}
if [ -z "$file" ]; then
  cmake --build "$build" --target import_bench >/dev/null
  "$build/bin/import_bench" "$rows" "$work" >/dev/null
  file=$work/import.mdb
fi
printf '[Tabulonix]\nDriver = %s\n[MDBToolsPeer]\nDriver = %s\n' "$driver" "$peer" > "$work/odbcinst.ini"
export ODBCSYSINI=$work ODBCINSTINI=odbcinst.ini ODBCINI=$work/odbc.ini
: > "$work/odbc.ini"

median() { sort -g | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
ours=(); theirs=(); oursCpu=(); theirsCpu=()
for ((r = 0; r < runs; r++)); do
  for d in Tabulonix MDBToolsPeer; do
    n=$(/usr/bin/time -f "%e %U %S" -o "$work/time" /usr/bin/python3 "$here/odbc_fetch.py" "$d" "$file")
    read -r clock user sys < "$work/time"
    if [ "$d" = Tabulonix ]; then ours+=("$clock"); oursCpu+=("$(awk -v a="$user" -v b="$sys" 'BEGIN {print a + b}')"); got=$n
    else theirs+=("$clock"); theirsCpu+=("$(awk -v a="$user" -v b="$sys" 'BEGIN {print a + b}')"); peerGot=$n; fi
  done
done
[ "$got" = "$peerGot" ] || { echo "odbc     row counts differ: Tabulonix $got, mdbtools $peerGot"; exit 1; }
oc=$(printf "%s\n" "${ours[@]}" | median); tc=$(printf "%s\n" "${theirs[@]}" | median)
op=$(printf "%s\n" "${oursCpu[@]}" | median); tp=$(printf "%s\n" "${theirsCpu[@]}" | median)
printf "odbc     pyodbc fetchall of %d rows: Tabulonix driver %.2f s, mdbtools' driver %.2f s: %sx by the clock, %sx by processor time\n" \
  "$got" "$oc" "$tc" "$(awk -v a="$oc" -v b="$tc" 'BEGIN {printf "%.1f", b / a}')" \
  "$(awk -v a="$op" -v b="$tp" 'BEGIN {printf "%.1f", b / a}')"
