#!/bin/sh
# Simulated trials at 2:1 allocation (SR = 0.6667, randomised in blocks of 3) against the exact
# model's power: a calendar design (TA 2, TF 3, looks at 3 and 5, hazard ratios 0.7 on both
# endpoints unless given, Clayton rho 0.5, decision rule 1), its size searched to 80 % power with --exact,
# then NSIM simulated trials. Prints MSS, APW, the simulated power PWCS and their difference in
# binomial standard errors, and the layout of the allocation: the complete blocks of 3 hold
# exactly 2 treated patients each (the simulation tests count them), and only the MSS mod 3
# patients after them draw their arm.
# Usage: allocation_two_to_one.sh path/to/kestrel [seed] [NSIM] [deck hazard ratio, control over
# treatment: 1.4286 is 0.7, 1.25 is 0.8]
set -eu
bin=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
seed=${2:-20261208}
nsim=${3:-100000}
ratio=${4:-1.4286}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/a"
cat > "$work/a/input.txt" <<DECK
0 0 0.0 0.0
'2:1 allocation, exact model'
$nsim 3 1 1 1 0
$ratio $ratio 0.5 $ratio $ratio 0.5
2.0 3.0 0.3 0.4 0.6667 1
0.025 0 0.8 1 2 3 1 1
3.0 5.0
DECK
(cd "$work" && "$bin" --seed "$seed" --exact > stdout.txt 2> stderr.txt)
tail -n +2 "$work/a/TEST_7b.OUT" | tr -d ' ' | awk -F, -v n="$nsim" '{
  apw = $23 / 100; pwcs = $28 / 100; se = sqrt(apw * (1 - apw) / n); N = $22
  full = N - N % 3
  printf "MSS %d  APW %.4f  PWCS %.4f  difference %+.4f = %+.2f SE (SE %.4f)\n", N, apw, pwcs,
         pwcs - apw, (pwcs - apw) / se, se
  printf "allocation rule (counted by Allocation.WholeNumberRatiosFillBlocksOfTheirSize): %d complete blocks of 3, %d of their %d patients treated (share 2/3), %d patient(s) drawing the arm\n",
         full / 3, 2 * full / 3, full, N % 3
}'
