#!/usr/bin/env bash
# Builds the libFuzzer targets in build-fuzz/ with clang and runs each for a set time.
#   FUZZ_SECONDS   seconds per target (default 60)
#   FUZZ_TARGETS   space-separated subset of targets (default: every built target)
# Corpora live in build-fuzz/corpus/<target> (seeded on first run from the shared test databases of
# every folder: .mdb and .accdb files, the encrypted ones included);
# crashing or hanging inputs are written to build-fuzz/findings/<target>/. The script fails when
# any target produced a finding.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD=$ROOT/build-fuzz
SECONDS_PER_TARGET=${FUZZ_SECONDS:-60}
TESTDATA=$(cd "$ROOT/.." && pwd)/shared/testdata
CC_BIN=$(command -v clang-14 || command -v clang)
CXX_BIN=$(command -v clang++-14 || command -v clang++)

cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTABULONIX_FUZZ=ON -DTABULONIX_GUI=OFF \
  -DCMAKE_C_COMPILER="$CC_BIN" -DCMAKE_CXX_COMPILER="$CXX_BIN" >/dev/null
targets=${FUZZ_TARGETS:-$(cd "$ROOT/fuzz" && ls fuzz_*.cpp | sed 's/\.cpp$//')}
built=()
for t in $targets; do
  if cmake --build "$BUILD" -j "${JOBS:-2}" --target "$t" >/dev/null 2>&1; then
    built+=("$t")
  else
    echo "fuzz: $t not built (its engine entry points are missing or do not compile)"
  fi
done

# Seeds: the database targets start from the real test files; the others from their own seed
# folder under fuzz/seeds/<target> when there is one.
# Every test database small enough to fuzz: testdata/, more/ and ace/.
databases() { find "$TESTDATA" -maxdepth 2 \( -name '*.mdb' -o -name '*.accdb' \) -size -600k | sort; }

seed() {
  local t=$1 dir=$2
  [ -n "$(ls -A "$dir" 2>/dev/null)" ] && return 0
  case $t in
    fuzz_open_db|fuzz_write_db|fuzz_repair|fuzz_sql_open)
      for f in $(databases); do cp "$f" "$dir/$(basename "$(dirname "$f")")-$(basename "$f")"; done ;;
    fuzz_long_value)
      # A Jet 4 / Jet 3 format byte and a one-page memo reference to page 1 row 0, then a real file.
      for f in $(databases); do
        for fmt in '\x01' '\x00'; do
          { printf "$fmt"'\x40\x00\x00\x40\x00\x01\x00\x00\x00\x00\x00\x00'; cat "$f"; } \
            >"$dir/$(basename "$f")-$(printf "$fmt" | od -An -tx1 | tr -d ' ')"
        done
      done ;;
    fuzz_text_codec|fuzz_index_key)
      # Slices of real pages: stored text, keys and numbers as the files hold them.
      for f in $(databases); do
        for at in 1 3 5 8 13; do
          dd if="$f" of="$dir/$(basename "$f")-$at" bs=256 skip=$((at * 16 + 2)) count=1 2>/dev/null
        done
      done ;;
  esac
  if [ -d "$ROOT/fuzz/seeds/$t" ]; then cp "$ROOT/fuzz/seeds/$t"/* "$dir/" 2>/dev/null || true; fi
}

# The SQL target runs its statements over a copy of one file with indexes and foreign keys.
export FUZZ_SQL_DB=${FUZZ_SQL_DB:-$TESTDATA/indexTestV2000.mdb}

status=0
for t in "${built[@]}"; do
  corpus=$BUILD/corpus/$t
  findings=$BUILD/findings/$t
  mkdir -p "$corpus" "$findings"
  seed "$t" "$corpus"
  echo "fuzz: $t for ${SECONDS_PER_TARGET}s"
  log=$BUILD/$t.log
  if ! "$BUILD/bin/$t" "$corpus" -max_total_time="$SECONDS_PER_TARGET" -timeout=20 -rss_limit_mb=2048 \
       -max_len=640000 -artifact_prefix="$findings/" -print_final_stats=1 >"$log" 2>&1; then
    echo "fuzz: $t FOUND A PROBLEM - see $log and $findings/"
    status=1
  fi
  grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$log" | sed "s/^/  /" || true
done
exit $status
