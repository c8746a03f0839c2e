#!/bin/bash
# Runs every example, engine, report, scale-out, stop and simulation deck (with and without
# --under-nulls), and a set of `kestrel bounds` tables, with two binaries, and compares every file
# they write byte for byte (diff -r): for changes that must leave every report as it was.
# usage: compare_bytes.sh BIN_BEFORE BIN_AFTER OUT
# The runs go to OUT/before and OUT/after; the exit status is 0 when every byte agrees.
set -u
BEFORE=$1; AFTER=$2; OUT=$3
SRC=$(cd "$(dirname "$0")/.." && pwd)

run_all() {
  local bin=$1 out=$2
  rm -rf "$out"; mkdir -p "$out"
  for deck in "$SRC"/examples/*.txt "$SRC"/tests/decks/{engine,report,scale_out,stop}/*.txt \
              "$SRC"/tests/simulation/decks/*.txt; do
    for opt in "" --under-nulls; do
      name=$(basename "$(dirname "$deck")")_$(basename "$deck" .txt)${opt:+_nulls}
      d=$out/$name; mkdir -p "$d/a"; cp "$deck" "$d/a/input.txt"
      "$bin" -C "$d" --seed 12345 $opt > "$d/console.txt" 2> "$d/stderr.txt"
      echo "rc=$?" >> "$d/console.txt"
    done
  done
  local i=0
  while IFS= read -r args; do
    [ -z "$args" ] && continue
    i=$((i + 1))
    # shellcheck disable=SC2086
    "$bin" bounds $args > "$out/bounds_$i.txt" 2>&1
    echo "rc=$? args=$args" >> "$out/bounds_$i.txt"
  done <<'EOF'
--alpha 0.025 --sides 1 --spending 1 --times 1/3,2/3,1 --power 0.9 --hr 0.7 --accrual 2 --follow-up 1 --survival 0.4 --allocation 0.5
--alpha 0.025 --spending 2 --times 0.5,1 --power 0.8 --hr 0.75 --accrual 1.5 --follow-up 2 --survival 0.6 --csv
--alpha 0.025 --spending 1 --times 1/3,2/3,1 --power 0.9 --hr 0.7 --accrual 1 --follow-up 1 --survival 0.5 --futility-spending 1 --exact
--alpha 0.025 --spending 1 --times 1/3,2/3,1 --power 0.9 --hr 0.7 --accrual 1 --follow-up 1 --survival 0.5 --futility-spending 2 --binding
--alpha 0.05 --sides 2 --spending 3 --phi 2 --times 0.25,0.5,0.75,1
--alpha 0.025 --spending 4 --phi -4 --times 0.3,0.6,1 --futility-z 0,1
--alpha 0.025 --spending 1 --times 0.5,1 --power 0.9 --hr 0.7 --accrual 1 --follow-up 1 --median 1 --futility-hr 0.95
--alpha 0.025 --spending 1 --times 1/3,2/3,1 --power 0.9 --hr 0.7 --accrual 1 --follow-up 1 --survival 0.5 --dropout 0.05,0.05
--alpha 0.025 --spending 1 --times 0.5,1 --power 0.9 --accrual 1 --follow-up 2 --hazard-times 0.5 --hazards 0.7,0.7 --hazard-ratios 1,0.6
--help
--times 0.5,1.5
EOF
}

echo "before: $BEFORE"; run_all "$BEFORE" "$OUT/before"
echo "after: $AFTER"; run_all "$AFTER" "$OUT/after"
if diff -r "$OUT/before" "$OUT/after" > "$OUT/diff.txt"; then
  echo "every file agrees byte for byte ($(find "$OUT/before" -type f | wc -l) files)"
else
  echo "files differ: $OUT/diff.txt"; head -40 "$OUT/diff.txt"; exit 1
fi
