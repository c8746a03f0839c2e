#!/usr/bin/env bash
# The recipes of docs/scale-out.md tried as written:
#   1. the GNU parallel recipe runs the twelve-design deck tests/decks/scale_out/twelve_designs.txt
#      in three shards and merges them; the merged results file, HTML report and a/TEST_7b.OUT
#      must equal those of one run of the whole deck byte for byte;
#   2. the Slurm script passes `bash -n`, and its array arithmetic gives every shard I/N once
#      for arrays numbered from 1 and from 0 (kestrel replaced by a stub that records its options).
# usage: scale_out_test.sh KESTREL_BINARY SOURCE_DIR
set -euo pipefail
kestrel_bin=$(realpath "$1")
src=$(realpath "$2")
doc="$src/docs/scale-out.md"
work=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-scale-out.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# The fenced block that follows the line "<!-- recipe: NAME ...", without its fences.
recipe() {
  awk -v name="$1" '
    index($0, "<!-- recipe: " name) == 1 { found = 1; next }
    found && /^```/ { if (inside) exit; inside = 1; next }
    inside { print }' "$doc"
}

# Fast options for the test: a coarse accuracy keeps the run to seconds in a sanitizer build.
options="--seed 7 --mvn-accuracy 1e-5"

# 1. GNU parallel
command -v parallel >/dev/null || fail "GNU parallel is not installed (Debian: apt-get install parallel)"
mkdir -p "$work/bin" "$work/whole/a" "$work/parts/a"
ln -s "$kestrel_bin" "$work/bin/kestrel"
export PATH="$work/bin:$PATH"
cp "$src/tests/decks/scale_out/twelve_designs.txt" "$work/whole/a/input.txt"
cp "$src/tests/decks/scale_out/twelve_designs.txt" "$work/parts/a/input.txt"
(cd "$work/whole" && kestrel $options > console.txt) || fail "the whole run failed"
recipe gnu-parallel > "$work/parallel.sh"
grep -q '^OPTIONS=' "$work/parallel.sh" || fail "no OPTIONS line in the GNU parallel recipe"
# The recipe as written, with the test's options on its OPTIONS line.
sed -i "s|^OPTIONS=.*|OPTIONS=\"$options\"|" "$work/parallel.sh"
(cd "$work/parts" && bash -euo pipefail "$work/parallel.sh") || fail "the GNU parallel recipe failed"
for f in kestrel-results.json kestrel-report.html TEST_7b.OUT; do
  cmp "$work/whole/a/$f" "$work/parts/a/$f" || fail "merged a/$f differs from the whole run's"
done
for i in 1 2 3; do
  grep -q "\"selection\": \"shard $i/3\"" "$work/parts/shard$i/a/kestrel-results.json" ||
    fail "shard $i did not run as shard $i/3"
done
grep -q '"selection": null' "$work/parts/a/kestrel-results.json" || fail "merged selection not null"
echo "GNU parallel recipe: 3 shards merged equal the whole run"

# 2. Slurm
recipe slurm > "$work/slurm.sh"
[ -s "$work/slurm.sh" ] || fail "no Slurm script in $doc"
bash -n "$work/slurm.sh" || fail "the Slurm script does not parse"
grep -q '^#SBATCH --array=1-16' "$work/slurm.sh" || fail "the Slurm script's array is not 1-16"
rm "$work/bin/kestrel"  # the link to the program: the stub must not be written through it
cat > "$work/bin/kestrel" <<'STUB'
#!/usr/bin/env bash
echo "$*" >> "$STUB_LOG"
STUB
chmod +x "$work/bin/kestrel"
for min in 1 0; do
  max=$((min + 15))
  mkdir -p "$work/slurm$min/a"
  echo deck > "$work/slurm$min/a/input.txt"
  export STUB_LOG="$work/slurm$min/calls.txt"
  for id in $(seq $min $max); do
    (cd "$work/slurm$min" && SLURM_ARRAY_TASK_ID=$id SLURM_ARRAY_TASK_MIN=$min \
      SLURM_ARRAY_TASK_MAX=$max SLURM_CPUS_PER_TASK=2 SEED=99 bash "$work/slurm.sh") ||
      fail "task $id of array $min-$max failed"
  done
  expected=$(for i in $(seq 1 16); do echo "-C shard$i --seed 99 --shard $i/16"; done | sort)
  [ "$(sort "$STUB_LOG")" = "$expected" ] || fail "array $min-$max gave: $(cat "$STUB_LOG")"
  for i in $(seq 1 16); do
    cmp -s "$work/slurm$min/a/input.txt" "$work/slurm$min/shard$i/a/input.txt" ||
      fail "shard $i has no copy of the deck"
  done
done
echo "Slurm script: parses; arrays 1-16 and 0-15 give shards 1/16 to 16/16 once each"
