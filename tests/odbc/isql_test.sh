#!/usr/bin/env bash
# isql and iusql (the narrow and the wide entry points) against the driver from a script: a data
# source from odbc.ini, rows, a grouped join, an error with its SQLSTATE, and a connection string.
# Environment: TABULONIX_ODBC_DRIVER (the built library), TABULONIX_TESTDATA_DIR.
set -euo pipefail
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cp "$TABULONIX_TESTDATA_DIR/indexTestV2000.mdb" "$tmp/db.mdb"
printf '[Tabulonix]\nDriver = %s\nThreading = 2\n' "$TABULONIX_ODBC_DRIVER" > "$tmp/odbcinst.ini"
printf '[Sample]\nDriver = Tabulonix\nDBQ = %s\nREADONLY = 1\n' "$tmp/db.mdb" > "$tmp/odbc.ini"
export ODBCSYSINI=$tmp ODBCINSTINI=odbcinst.ini ODBCINI=$tmp/odbc.ini
fail() { echo "FAIL: $*"; exit 1; }

got=$(printf '%s\n' "SELECT id, data FROM Table2 ORDER BY id" \
  "SELECT t3.data, count(*) FROM Table1 t1 JOIN Table3 t3 ON t3.id = t1.otherfk2 GROUP BY t3.data ORDER BY 1" |
  isql Sample -b -d'|')
expected=$(mdb-export -H -d '|' -Q "$tmp/db.mdb" Table2 | sort -n)
[ "$(grep -E '^[0-9]+\|foo' <<< "$got")" = "$expected" ] || fail "Table2 rows: $got"
# Each Table3 row's text with the number of Table1 rows that refer to it, counted independently.
while IFS='|' read -r id data; do
  n=$(mdb-export -H -Q "$tmp/db.mdb" Table1 | awk -F, -v id="$id" '$3 == id' | wc -l)
  [ "$n" = 0 ] || grep -qxF "$data|$n" <<< "$got" || fail "count for $data: $got"
done < <(mdb-export -H -d '|' -Q "$tmp/db.mdb" Table3)

err=$(echo "SELECT * FROM NoSuchTable" | isql Sample -b -v -3 2>&1 || true)
grep -q "42S02" <<< "$err" || fail "unknown table gave: $err"
err=$(echo "DELETE FROM Table2" | isql Sample -b -v -3 2>&1 || true)
grep -q "\[Tabulonix\]" <<< "$err" || fail "a read-only data source accepted a write: $err"
[ "$(mdb-export -H "$tmp/db.mdb" Table2 | wc -l)" != 0 ] || fail "a read-only data source lost its rows"

# The wide entry points (iusql), and a connection string without a data source (isql -k).
n=$(mdb-export -H "$tmp/db.mdb" Table2 | wc -l)
wide=$(echo "SELECT count(*) FROM Table2" | iusql Sample -b -d'|')
grep -qx "$n" <<< "$wide" || fail "iusql count: $wide"
direct=$(echo "SELECT count(*) FROM Table2" | isql "DRIVER={Tabulonix};DBQ=$tmp/db.mdb" -k -b -d'|')
grep -qx "$n" <<< "$direct" || fail "isql -k count: $direct"
echo "isql and iusql: ok"
