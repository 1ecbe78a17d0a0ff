#!/usr/bin/env bash
# Runs every benchmark script of this folder.
set -euo pipefail
cd "$(dirname "$0")"
for script in ./*_bench.sh; do
  echo "== $script"
  bash "$script"
done
