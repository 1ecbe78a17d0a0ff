#!/usr/bin/env bash
# Engine benchmarks.
#   1. Import: 1,000,000 generated rows (auto-number key, text, long, currency, double, date,
#      Boolean, a memo in one row in ten) into a new Jet 4 table with `tabulonix-cli import`;
#      prints rows per second and the peak memory of the import.
#   2. Export: `tabulonix-cli export --format csv` against `mdb-export` on the same file and table,
#      run alternately, median of RUNS runs each; prints both medians and the ratio, checks that
#      both wrote every row, and prints the peak memory (RSS) of each export. With generated
#      data the export's peak memory is also measured on a 10,000-row table of the same file:
#      reading streams through a bounded page cache, so the two figures should be about equal.
# Usage: bench/engine_bench.sh [BUILD_DIR]   (environment: ROWS=1000000 RUNS=5 WORK=/tmp/...;
#        BENCH_FILE=x.mdb BENCH_TABLE=T to time the export of an existing table only)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
cli=$build/bin/tabulonix-cli
rows=${ROWS:-1000000}
runs=${RUNS:-5}
work=${WORK:-$(mktemp -d /tmp/tabulonix-bench.XXXXXX)}
mkdir -p "$work"
[ -x "$cli" ] || { echo "build first: $cli is missing"; exit 1; }
command -v mdb-export >/dev/null || { echo "mdb-export (mdbtools) is needed"; exit 1; }

now() { date +%s.%N; }
median() { sort -g | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }

if [ -n "${BENCH_FILE:-}" ]; then
  # Export only, on a given file and table (BENCH_FILE, BENCH_TABLE).
  db=$BENCH_FILE
  table=${BENCH_TABLE:-Big}
  rows=$("$cli" export "$db" "$table" | tail -n +2 | wc -l)
else
db=$work/bench.mdb
table=Big
rm -f "$db"
echo "generating $rows rows"
awk -v n="$rows" 'BEGIN {
  srand(42);
  for (i = 1; i <= n; i++) {
    secs = 946684800 + int(rand() * 630000000);
    d = strftime("%Y-%m-%dT%H:%M:%S", secs, 1);
    printf "{\"Name\":\"Name %d %08x\",\"Qty\":%d,\"Price\":\"%d.%02d\",\"Ratio\":%.17g,\"Created\":\"%s\",\"Active\":%s", \
      i, int(rand() * 4294967295), int(rand() * 100000), int(rand() * 50000), int(rand() * 100), rand(), d, \
      (rand() < 0.5) ? "true" : "false";
    if (i % 10 == 0) printf ",\"Note\":\"A longer note for row %d, written to exercise memo storage in one row of ten.\"", i;
    printf "}\n";
  }
}' > "$work/rows.jsonl"

"$cli" create "$db" --format jet4
for t in $table Small; do
  "$cli" create-table "$db" $t ID:Long::auto Name:Text:60 Qty:Long Price:Currency Ratio:Double \
    Created:Date/Time Active:Boolean Note:Memo
done
head -n 10000 "$work/rows.jsonl" | "$cli" import "$db" Small
start=$(now)
if command -v /usr/bin/time >/dev/null; then
  /usr/bin/time -f "%M" -o "$work/import.mem" "$cli" import "$db" $table < "$work/rows.jsonl"
else
  "$cli" import "$db" $table < "$work/rows.jsonl"
fi
end=$(now)
secs=$(awk -v a="$start" -v b="$end" 'BEGIN {print b - a}')
printf "import: %d rows in %.2f s = %.0f rows/s" "$rows" "$secs" "$(awk -v n="$rows" -v s="$secs" 'BEGIN {print n / s}')"
[ -f "$work/import.mem" ] && printf ", peak memory %d KB" "$(cat "$work/import.mem")"
echo
fi

# Peak resident memory in KB of a command (output discarded), or "?" without GNU time.
peak() {
  if [ -x /usr/bin/time ]; then
    /usr/bin/time -f "%M" -o "$work/peak.mem" "$@" > /dev/null && cat "$work/peak.mem"
  else
    "$@" > /dev/null; echo "?"
  fi
}

# Both programs must write a header and every row (a CSV record may span lines, so records are
# counted by the ID column's pattern at the start of a line).
ourRows=$("$cli" export "$db" $table --format csv | tail -n +2 | grep -c '^[0-9]' || true)
theirRows=$(mdb-export "$db" $table | tail -n +2 | grep -c '^[0-9]' || true)
if [ -z "${BENCH_FILE:-}" ] && { [ "$ourRows" != "$rows" ] || [ "$theirRows" != "$rows" ]; }; then
  echo "row counts differ: generated $rows, tabulonix-cli wrote $ourRows, mdb-export $theirRows"
  exit 1
fi

ours=(); theirs=()
for ((r = 0; r < runs; r++)); do
  start=$(now); "$cli" export "$db" $table --format csv > /dev/null; end=$(now)
  ours+=("$(awk -v a="$start" -v b="$end" 'BEGIN {print b - a}')")
  start=$(now); mdb-export "$db" $table > /dev/null; end=$(now)
  theirs+=("$(awk -v a="$start" -v b="$end" 'BEGIN {print b - a}')")
done
a=$(printf "%s\n" "${ours[@]}" | median)
b=$(printf "%s\n" "${theirs[@]}" | median)
printf "export of %d rows, median of %d: tabulonix-cli %.3f s, mdb-export %.3f s, ratio %.2fx\n" \
  "$rows" "$runs" "$a" "$b" "$(awk -v a="$a" -v b="$b" 'BEGIN {print b / a}')"
printf "export peak memory: tabulonix-cli %s KB, mdb-export %s KB" \
  "$(peak "$cli" export "$db" $table --format csv)" "$(peak mdb-export "$db" $table)"
if [ -z "${BENCH_FILE:-}" ]; then
  printf "; tabulonix-cli on the 10,000-row table of the same file %s KB" \
    "$(peak "$cli" export "$db" Small --format csv)"
fi
echo
[ -n "${WORK:-}" ] || rm -rf "$work"
