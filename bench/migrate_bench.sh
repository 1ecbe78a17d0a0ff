#!/usr/bin/env bash
# Migration speed: a generated Jet 4 file of ROWS rows (default 1,000,000; table Big with an
# auto-number primary key, text, long, currency, double, date, Boolean and a memo in one row in
# ten) moved into PostgreSQL and SQLite by `tabulonix-cli migrate`, and, in the same run against
# the same server, by the usual pipeline: `mdb-schema FILE postgres | psql` for the table and its
# key, then `mdb-export FILE Big | psql -c "\copy ..."` for the rows. Prints both times, their
# ratio, the SQLite rate and the cost of --verify. The server is started in a temporary folder
# (Unix socket only) and stopped at the end.
# Usage: bench/migrate_bench.sh [BUILD_DIR]   (environment: ROWS, WORK; MIGRATE_FILE to move an
#        existing file of that table instead of generating one)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
cli=$build/bin/tabulonix-cli
gen=$build/bin/import_bench
rows=${ROWS:-1000000}
work=${WORK:-$(mktemp -d /tmp/tabulonix-migrate.XXXXXX)}
[ -x "$cli" ] && [ -x "$gen" ] || { echo "build first: cmake --build $build --target import_bench tabulonix-cli"; exit 1; }
pgbin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
if [ -z "$pgbin" ] || ! command -v mdb-schema > /dev/null || ! command -v psql > /dev/null; then
  echo "migrate benchmark skipped: needs postgresql, psql and mdbtools"
  exit 0
fi

now() { date +%s.%N; }
secs() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }

if [ -n "${MIGRATE_FILE:-}" ]; then
  file=$MIGRATE_FILE  # an existing file with the same table
else
  "$gen" "$rows" "$work" > /dev/null  # leaves $work/import.mdb
  file=$work/import.mdb
fi

as=()
pgdir=$work/pg
mkdir -p "$pgdir"
if [ "$(id -u)" = 0 ]; then
  chmod 755 "$work"
  chown postgres "$pgdir"
  as=(runuser -u postgres --)
fi
"${as[@]}" "$pgbin/initdb" -D "$pgdir/data" -U postgres --auth-local=trust --no-sync -E UTF8 --locale=C > /dev/null
stop() { "${as[@]}" "$pgbin/pg_ctl" -D "$pgdir/data" -m fast stop > /dev/null 2>&1 || true; [ -n "${WORK:-}" ] || rm -rf "$work"; }
trap stop EXIT
"${as[@]}" "$pgbin/pg_ctl" -D "$pgdir/data" -w -l "$pgdir/log" \
  -o "-c listen_addresses='' -k $pgdir -c max_wal_size=4GB" start > /dev/null
psql=(psql -q -X -v ON_ERROR_STOP=1 -h "$pgdir" -U postgres)
for db in peer ours verified; do "${psql[@]}" -d postgres -c "CREATE DATABASE $db" > /dev/null; done

t0=$(now)
mdb-schema "$file" postgres 2> /dev/null | "${psql[@]}" -d peer > /dev/null
mdb-export -T "%Y-%m-%d %H:%M:%S" "$file" Big | "${psql[@]}" -d peer -c '\copy big FROM pstdin WITH (FORMAT csv, HEADER true)'
t1=$(now)
"$cli" migrate "$file" "postgresql://postgres@/ours?host=$pgdir" --quiet
t2=$(now)
TIMEFORMAT='%U %S'
{ time "$cli" migrate "$file" sqlite:"$work/big.sqlite" --quiet; } 2> "$work/cpu"
t3=$(now)
"$cli" migrate "$file" "postgresql://postgres@/verified?host=$pgdir" --quiet --verify
t4=$(now)
"$cli" migrate "$file" sqlite:"$work/verified.sqlite" --quiet --verify
t5=$(now)

peer=$(secs "$t0" "$t1"); ours=$(secs "$t1" "$t2"); lite=$(secs "$t2" "$t3")
echo "PostgreSQL, $rows rows with the primary key: mdb-schema | psql + mdb-export | psql \\copy $peer s, migrate $ours s"
awk -v p="$peer" -v o="$ours" 'BEGIN { printf "ratio: migrate is %.2fx as fast as the pipeline\n", p / o }'
read -r user sys < "$work/cpu"
awk -v r="$rows" -v s="$lite" -v c="$(awk -v u="$user" -v k="$sys" 'BEGIN { print u + k }')" \
  'BEGIN { printf "SQLite: %.2f s = %.0f rows/s (%.2f s of processor time = %.0f rows/s)\n", s, r / s, c, r / c }'
echo "with --verify: PostgreSQL $(secs "$t3" "$t4") s, SQLite $(secs "$t4" "$t5") s"
echo "rows arrived: peer $("${psql[@]}" -d peer -Atc 'SELECT count(*) FROM big'), ours $("${psql[@]}" -d ours -Atc 'SELECT count(*) FROM "Big"')"
