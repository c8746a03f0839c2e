#!/bin/bash
# Runs every example, engine and simulation deck with BIN into OUT/NAME (seed 12345), for
# tools/compare_results.py. usage: run_decks.sh BIN OUT [extra kestrel options]
set -u
BIN=$1; OUT=$2; shift 2
SRC=$(cd "$(dirname "$0")/.." && pwd)
for deck in "$SRC"/examples/*.txt "$SRC"/tests/decks/engine/*.txt "$SRC"/tests/simulation/decks/*.txt; do
  name=$(basename "$(dirname "$deck")")_$(basename "$deck" .txt)
  d=$OUT/$name; rm -rf "$d"; mkdir -p "$d/a"; cp "$deck" "$d/a/input.txt"
  start=$(date +%s.%N)
  "$BIN" -C "$d" --seed 12345 "$@" > "$d/console.txt" 2> "$d/stderr.txt"
  rc=$?
  echo "$name rc=$rc $(echo "$(date +%s.%N) - $start" | bc) s"
done
