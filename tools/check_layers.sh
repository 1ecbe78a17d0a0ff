#!/bin/bash
# Refuses engine includes that reach upwards: a file in a layer of jet/ may include its own layer and
# the layers below it (base -> expr -> storage -> index -> table -> catalog -> the front door in jet/ itself).
# Usage: tools/check_layers.sh [source root]
cd "${1:-$(dirname "$0")/..}" || exit 2
rank() {
  case "$1" in
    base) echo 0 ;; expr) echo 1 ;; storage) echo 2 ;; index) echo 3 ;; table) echo 4 ;; catalog) echo 5 ;;
    *) echo 6 ;;
  esac
}
layer_of() {  # jet/<layer>/x.h -> <layer>; jet/x.h -> front
  local rest=${1#jet/}
  [[ $rest == */* ]] && echo "${rest%%/*}" || echo front
}
bad=0
while IFS= read -r f; do
  own=$(rank "$(layer_of "$f")")
  while IFS= read -r inc; do
    [ -f "$inc" ] || { echo "$f: includes $inc, which does not exist"; bad=1; continue; }
    if [ "$(rank "$(layer_of "$inc")")" -gt "$own" ]; then
      echo "$f: includes $inc from a higher layer"; bad=1
    fi
  done < <(sed -n 's/^#include "\(jet\/[^"]*\)".*/\1/p' "$f")
done < <(find jet -name '*.h' -o -name '*.cpp' | sort)
[ $bad -eq 0 ] && echo "jet/ layers: no include reaches upwards"
exit $bad
