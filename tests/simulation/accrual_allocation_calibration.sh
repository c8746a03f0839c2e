#!/bin/sh
# Monte-Carlo calibration of designs with an interim during accrual and of unequal allocation:
# the simulated power PWCS against the analytic power APW for
#   - calendar looks at 2 and 5 with accrual 4 and follow-up 1 (Clayton 0.3, rule 1, Pocock type),
#   - information fractions 0.3 and 1 timed by each endpoint (ITIME 1), whose first look falls
#     during accrual,
#   - treatment shares SR 0.25 and 0.75 (calendar looks after accrual),
# each with NSIM trials, and under the null (HR1TR = HR2TR = 1) the calendar deck's per-endpoint
# rejection rates PW1S and PW2 against alpha = 2.5% with NULLSIM trials. Each figure is printed
# with three binomial standard errors.
# Usage: accrual_allocation_calibration.sh path/to/kestrel [seed] [NSIM] [NULLSIM]
set -eu
bin=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
seed=${2:-20261207}
nsim=${3:-20000}
nullsim=${4:-100000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

header() { printf "0 0 0.0 0.0\n'%s'\n" "$1"; }
calendar() {  # $1 NSIM, $2 and $3 simulation deck ratios of EP1 and EP2
  cat <<DECK
$1 3 1 1 1 0
1.4286 1.25 0.3 $2 $3 0.3
4.0 1.0 0.3 0.4 0.5 1
0.025 0 0.8 1 2 3 2 2
2.0 5.0                                calendar looks at 2 and 5, accrual 4
DECK
}
fractions() {
  cat <<DECK
$1 1 1 1 1 0
1.4286 1.25 0.3 1.4286 1.25 0.3
4.0 1.0 0.3 0.4 0.5 1
0.025 0 0.8 1 2 3 2 2
0.3 1.0                                fraction 0.3 during accrual, both timings
DECK
}
allocation() {  # $1 NSIM, $2 SR
  cat <<DECK
$1 3 1 1 1 0
1.4286 1.25 0.3 1.4286 1.25 0.3
2.0 3.0 0.3 0.4 $2 1
0.025 0 0.8 1 2 3 1 2
3.0 5.0                                treatment share $2
DECK
}

report() {  # $1 case, $2 trials
  tail -n +2 "$work/$1/a/TEST_7b.OUT" | tr -d ' ' | awk -F, -v c="$1" -v n="$2" '{
    apw = $23 / 100; pwcs = $28 / 100; pw1 = $30 / 100; pw2 = $31 / 100
    if (c != "null") {
      se = sqrt(apw * (1 - apw) / n)
      printf "%-10s design %d %s MSS %d  APW %.4f  PWCS %.4f  difference %+.4f  3 SE %.4f  %s\n", c,
             NR, $1, $22, apw, pwcs, pwcs - apw, 3 * se,
             (pwcs - apw <= 3 * se && apw - pwcs <= 3 * se) ? "ok" : "OUTSIDE"
    } else {
      se = sqrt(0.025 * 0.975 / n)
      printf "%-10s %s MSS %d  PW1S %.4f  PW2 %.4f  alpha 0.025  3 SE %.4f  %s\n", c, $1, $22, pw1,
             pw2, 3 * se, (pw1 - 0.025 <= 3 * se && 0.025 - pw1 <= 3 * se && pw2 - 0.025 <= 3 * se &&
             0.025 - pw2 <= 3 * se) ? "ok" : "OUTSIDE"
    }
  }'
}

run() {  # $1 case, $2 trials; the deck on standard input
  mkdir -p "$work/$1/a"
  cat > "$work/$1/a/input.txt"
  start=$(date +%s)
  "$bin" -C "$work/$1" --seed "$seed" > "$work/$1/console.txt"
  end=$(date +%s)
  echo "== $1 (seed $seed, $2 trials, $((end - start)) s)"
  report "$1" "$2"
}

{ header 'calendar looks during accrual'; calendar "$nsim" 1.4286 1.25; } | run calendar "$nsim"
{ header 'fractions during accrual'; fractions "$nsim"; } | run fractions "$nsim"
{ header 'unequal allocation'; allocation "$nsim" 0.25; allocation "$nsim" 0.75; } | run allocation "$nsim"
{ header 'calendar looks during accrual, null'; calendar "$nullsim" 1.0 1.0; } | run null "$nullsim"
