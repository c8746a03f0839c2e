#!/bin/bash
# Runs every example, engine and simulation deck with two binaries (tools/run_decks.sh, seed
# 12345) and compares their results files (tools/compare_results.py --strict): the sizes MSS, ME1,
# ME2 identical and every probability within 2 x ACCURACY (default 1e-8, the default accuracy).
# usage: compare_binaries.sh BIN_BEFORE BIN_AFTER OUT [ACCURACY]
# The runs go to OUT/before and OUT/after; the exit status is that of the comparison.
set -u
BEFORE=$1; AFTER=$2; OUT=$3; ACC=${4:-1e-8}
HERE=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$OUT"
echo "before: $BEFORE"; "$HERE/run_decks.sh" "$BEFORE" "$OUT/before"
echo "after: $AFTER"; "$HERE/run_decks.sh" "$AFTER" "$OUT/after"
python3 "$HERE/compare_results.py" --strict "$ACC" "$OUT/before" "$OUT/after"
