#!/usr/bin/env bash
# Test code against product code: non-blank, non-comment lines of the C++ sources (*.cpp, *.h).
# Tests are everything under tests/; code is every other tracked source. Prints both counts and
# the ratio.
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"
count() {
  # Drops blank lines, // lines and /* */ blocks (a block's first and last line included).
  xargs -0 -r awk '
    { line = $0; sub(/^[ \t]+/, "", line) }
    inblock { if (line ~ /\*\//) inblock = 0; next }
    line == "" || line ~ /^\/\// { next }
    line ~ /^\/\*/ { if (line !~ /\*\//) inblock = 1; next }
    { n++ }
    END { print n + 0 }'
}
tests=$(git ls-files -z -- 'tests/*.cpp' 'tests/*.h' | count)
code=$(git ls-files -z -- '*.cpp' '*.h' ':!:tests/' | count)
echo "tests: $tests lines"
echo "code: $code lines"
awk -v t="$tests" -v c="$code" 'BEGIN { printf "ratio: %.1f%%\n", 100 * t / c }'
