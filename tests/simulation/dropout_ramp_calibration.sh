#!/bin/sh
# Monte-Carlo calibration of loss to follow-up and a ramped accrual through the program: loss
# 0.05 per time unit in control and 0.15 in treatment, accrual over 3 in pieces of intensity 1, 2
# and 4, calendar looks at 2 (during accrual), 3.5 and 5, decision rule 1.
#   - under the null (HR1TR = HR2TR = 1) the per-endpoint rejection rates PW1S and PW2 against
#     alpha = 2.5% with NULLSIM trials;
#   - the simulated power PWCS against the analytic power APW with NSIM trials, with and without
#     the loss and the ramp (the analytic power's variance under the alternative is first-order,
#     so a difference of up to about 1.5 points is expected when the arms differ).
# Each figure is printed with its binomial standard error. The simulated events per analysis
# against the expected events are checked by SimData.EventsPerAnalysisWithLossAndRampMatchTheModel
# in the simulation tests.
# Usage: dropout_ramp_calibration.sh path/to/kestrel [seed] [NSIM] [NULLSIM]
set -eu
bin=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
seed=${2:-20261207}
nsim=${3:-20000}
nullsim=${4:-100000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

deck() {  # $1 NSIM, $2 simulation deck ratio (both endpoints), $3 1: loss and ramp
  printf "0 0 0.0 0.0\n'calibration'\n"
  cat <<DECK
$1 3 1 1 1 0
1.4286 1.4286 0.5 $2 $2 0.5
3.0 2.0 0.3 0.4 0.5 1
0.025 0 0.8 1 3 3 1 1
2.0 3.5 5.0                            calendar looks, the first during accrual
DECK
  if [ "$3" = 1 ]; then
    echo "DROPOUT HAZARD 0.05 0.15"
    echo "ACCRUAL 3  1.0 2.0 3.0  1 2 4"
  fi
}

run() {  # $1 case, $2 NSIM, $3 ratio, $4 loss
  mkdir -p "$work/$1/a"
  deck "$2" "$3" "$4" > "$work/$1/a/input.txt"
  (cd "$work/$1" && "$bin" --seed "$seed" > stdout.txt 2> stderr.txt)
  tail -n +2 "$work/$1/a/TEST_7b.OUT" | tr -d ' ' | awk -F, -v c="$1" -v n="$2" '{
    apw = $23 / 100; pwcs = $28 / 100; pw1 = $30 / 100; pw2 = $31 / 100
    if (c == "null") {
      se = sqrt(0.025 * 0.975 / n)
      printf "%-14s MSS %d  PW1S %.5f (%+.2f SE)  PW2 %.5f (%+.2f SE)  alpha 0.025  SE %.5f\n", c,
             $22, pw1, (pw1 - 0.025) / se, pw2, (pw2 - 0.025) / se, se
    } else {
      se = sqrt(apw * (1 - apw) / n)
      printf "%-14s MSS %d  APW %.4f  PWCS %.4f  difference %+.4f = %+.2f SE (SE %.4f)\n", c,
             $22, apw, pwcs, pwcs - apw, (pwcs - apw) / se, se
    }
  }'
}

run power-loss "$nsim" 1.4286 1
run power-plain "$nsim" 1.4286 0
run null "$nullsim" 1 1
