#!/bin/bash
# tools/check_layers.sh on a copy of the sources: it passes on them as they are and with includes
# that go downwards, and fails for each include planted upwards or around the engine's front door.
# Usage: check_layers_test.sh SOURCE_ROOT
root=$(cd "$1" && pwd) || exit 2
copy=$(mktemp -d) || exit 2
trap 'rm -rf "$copy"' EXIT
(cd "$root" && find . \( -path './build*' -o -path './.*' -o -name node_modules \) -prune \
   -o \( -name '*.h' -o -name '*.cpp' -o -name '*.c' \) -print0 | tar --null -T - -cf -) | tar -C "$copy" -xf -
check() { "$root/tools/check_layers.sh" "$copy"; }
plant() {  # plant FILE HEADER: FILE includes HEADER (made when missing)
  mkdir -p "$copy/$(dirname "$1")" "$copy/$(dirname "$2")"
  [ -f "$copy/$2" ] || touch "$copy/$2" "$copy/$2.planted"
  printf '#include "%s"\n' "$2" >"$copy/$1"
}
unplant() { rm -f "$copy/$1"; [ -f "$copy/$2.planted" ] && rm -f "$copy/$2" "$copy/$2.planted"; }

failed=0
check >/dev/null || { echo "FAIL: the sources as they are do not pass"; check; exit 1; }

# Downwards, several folders apart: allowed.
downwards=(
  "jet/catalog/planted.cpp jet/base/error.h"
  "jet/storage/planted.cpp jet/expr/planted.h"
  "jet/planted.cpp jet/table/table_def.h"
  "odbc/planted.cpp jet/database.h"
  "sql/planted.cpp jet/table/row.h"
  "app/planted.cpp edit/commands.h"
  "app/planted2.cpp jet/base/value.h"
  "cli/planted.cpp sql/planted.h"
  "tests/jet/planted.cpp jet/storage/page_file.h"
)
for c in "${downwards[@]}"; do plant $c; done
check >/dev/null || { echo "FAIL: includes downwards refused:"; check; failed=1; }
for c in "${downwards[@]}"; do unplant $c; done

# Upwards or around the front door: each refused, naming the file.
upwards=(
  "jet/base/planted.h jet/storage/page_file.h"
  "jet/expr/planted.cpp jet/storage/page_file.h"
  "jet/storage/planted.cpp jet/index/index.h"
  "jet/table/planted.cpp jet/catalog/catalog.h"
  "jet/catalog/planted.cpp jet/database.h"
  "jet/rules/planted.cpp jet/compact.h"
  "jet/planted.cpp db/dao.h"
  "db/planted.cpp jet/storage/header.h"
  "db/planted.cpp shell/shell.h"
  "shell/planted.cpp browse/grid.h"
  "browse/planted.cpp edit/commands.h"
  "design/planted.h app/form1.h"
  "cli/planted.cpp shell/shell.h"
  "cli/planted.cpp odbc/planted.h"
  "sql/planted.cpp db/dao.h"
  "sql/planted.cpp cli/command.h"
  "odbc/planted.cpp jet/table/row.h"
  "samples/planted.cpp cli/commands.h"
  "newfolder/planted.cpp jet/database.h"
)
for c in "${upwards[@]}"; do
  set -- $c
  plant "$1" "$2"
  out=$(check)
  if [ $? -eq 0 ] || [[ $out != *"$1"* ]]; then echo "FAIL: $1 including $2 passes"; failed=1; fi
  unplant "$1" "$2"
done
[ $failed -eq 0 ] && echo "layer check: ${#downwards[@]} downward includes pass, ${#upwards[@]} upward ones fail"
exit $failed
