#!/bin/bash
# Refuses includes that reach upwards. Every folder of the source tree has its place in one order,
# and a file may include only its own folder and what lies below it:
#   inside the engine:  jet/base -> jet/expr -> jet/storage -> jet/index -> jet/table -> jet/catalog
#                       -> jet/rules -> jet/ (the front door)
#   over the engine:    sql/ -> odbc/;  db/ -> shell/ -> browse/ design/ edit/ -> app/;
#                       cli/ over db/ and sql/;  samples/ over the engine
#   anything:           tests/, bench/, fuzz/, tools/
# Folders over the engine see it through its front door (jet/*.h) and its vocabulary (jet/base/)
# only, never through the layers in between; the SQL bridge alone sits on every engine layer. A folder that has no place here is refused too.
# Usage: tools/check_layers.sh [source root]
cd "${1:-$(dirname "$0")/..}" || exit 2

declare -A jet_rank=([base]=0 [expr]=1 [storage]=2 [index]=3 [table]=4 [catalog]=5 [rules]=6 [jet]=7)
# What each folder over the engine builds on directly; the check follows these downwards.
declare -A builds_on=(
  [jet]="" [sql]="jet" [odbc]="sql" [db]="jet" [shell]="db"
  [browse]="shell" [design]="shell" [edit]="shell" [app]="browse design edit"
  [cli]="db sql" [samples]="jet"
  [tests]="*" [bench]="*" [fuzz]="*" [tools]="*")

# The unit a path belongs to, in $unit: a layer of the engine (base, ..., jet for the front door)
# or a top folder.
unit_of() {
  local top=${1%%/*} rest=${1#*/}
  unit=$top
  if [ "$top" = jet ]; then [[ $rest == */* ]] && unit=${rest%%/*}; fi
}

# Every folder below each folder (transitively), space-padded for matching.
set -f  # the "*" above is a word, not a pattern
declare -A below=()
collect() {  # collect FOLDER: appends what lies below FOLDER to $acc
  local d
  for d in ${builds_on[$1]}; do [ "$d" = "*" ] || { acc+=" $d "; collect "$d"; }; done
}
for k in "${!builds_on[@]}"; do acc=" "; collect "$k"; below[$k]=$acc; done

# 0 when a file of unit $1 may include a header of unit $2.
allowed() {
  local from=$1 to=$2
  [ "$from" = "$to" ] && return 0
  [ "${builds_on[$from]}" = "*" ] && return 0
  if [ -n "${jet_rank[$from]+x}" ] && [ "$from" != jet ]; then  # inside the engine
    [ -n "${jet_rank[$to]+x}" ] && [ "${jet_rank[$to]}" -le "${jet_rank[$from]}" ]
    return
  fi
  if [ -n "${jet_rank[$to]+x}" ]; then  # from the front door or over the engine into it
    [ "$from" = jet ] && return 0
    # The SQL bridge seeks in indexes and scans tables itself: it sits on the whole engine.
    [ "$from" = sql ] && return 0
    [[ ${below[$from]} == *" jet "* ]] && { [ "$to" = jet ] || [ "$to" = base ]; }
    return
  fi
  [[ ${below[$from]} == *" $to "* ]]
}

known() { [ -n "${jet_rank[$1]+x}" ] || [ -n "${builds_on[$1]+x}" ]; }

bad=0
declare -A seen=()
while IFS= read -r line; do
  f=${line%%:*} inc=${line#*:}
  f=${f#./} inc=${inc#*\"} inc=${inc%%\"*}
  unit_of "$f"; own=$unit
  if ! known "$own"; then
    [ -z "${seen[$own]}" ] && echo "$f: $own/ has no place in the layer order (tools/check_layers.sh)"
    seen[$own]=1; bad=1; continue
  fi
  if [ -f "$inc" ]; then
    unit_of "$inc"; to=$unit
  elif [ -f "${f%/*}/$inc" ] || [ -f "${f%%/*}/$inc" ]; then
    to=$own  # a header of the file's own folder, found from there
  else
    unit_of "$inc"
    # Headers of other projects under a name of their own are not ours to check.
    known "$unit" && { echo "$f: includes $inc, which does not exist"; bad=1; }
    continue
  fi
  allowed "$own" "$to" || { echo "$f: includes $inc, which lies above it or around the engine's front door"; bad=1; }
done < <(find . \( -path './build*' -o -path './.*' -o -name node_modules \) -prune \
           -o -path './*/*' \( -name '*.h' -o -name '*.cpp' -o -name '*.c' \) -print0 | sort -z |
         xargs -0 grep -HE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' | grep -v '^[^:]*:[^"]*"[^/"]*"')
[ $bad -eq 0 ] && echo "layers: no include reaches upwards"
exit $bad
