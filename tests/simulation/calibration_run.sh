#!/bin/sh
# Larger calibration of the simulated power (two analyses, 4000 trials per design): the simulated
# power PWCS against the analytic power APW of the sample-size search, and with simulation hazard
# ratios of 1 the rejection rates PW1S, PW2 against alpha = 2.5%, each with three binomial
# standard errors. Usage: calibration_run.sh path/to/kestrel [seed]
set -eu
bin=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
seed=${2:-4242}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

deck() {  # $1 simulation ratio of both endpoints of design 1, $2 and $3 those of design 2
  cat <<DECK
0 0 0.0 0.0
'calibration: calendar looks (Clayton, rule 1) and EP2-driven fractions (positive stable, rule 2)'
4000 3 1 1 1 0
1.4286 1.4286 0.3 $1 $1 0.3
2.0 3.0 0.3 0.4 0.5 1
0.025 0 0.8 1 2 3 1 1
3.0 5.0
4000 2 2 1 1 0
1.4286 1.25 0.4 $2 $3 0.4
2.0 2.0 0.3 0.4 0.5 1
0.025 0 0.8 2 2 3 2 2
0.5 1.0
DECK
}

for case in power null; do
  mkdir -p "$work/$case/a"
  if [ "$case" = power ]; then deck 1.4286 1.4286 1.25; else deck 1.0 1.0 1.0; fi > "$work/$case/a/input.txt"
  start=$(date +%s)
  "$bin" -C "$work/$case" --seed "$seed" > "$work/$case/console.txt"
  end=$(date +%s)
  echo "== $case (seed $seed, $((end - start)) s)"
  tail -n +2 "$work/$case/a/TEST_7b.OUT" | tr -d ' ' | awk -F, -v c="$case" -v n=4000 '{
    apw = $23 / 100; pwcs = $28 / 100; pw1 = $30 / 100; pw2 = $31 / 100
    if (c == "power") {
      se = sqrt(apw * (1 - apw) / n)
      printf "%s MSS %d  APW %.4f  PWCS %.4f  difference %.4f  3 SE %.4f  %s\n", $1, $22, apw, pwcs,
             pwcs - apw, 3 * se, (pwcs - apw <= 3 * se && apw - pwcs <= 3 * se) ? "ok" : "OUTSIDE"
    } else {
      se = sqrt(0.025 * 0.975 / n)
      printf "%s MSS %d  PW1S %.4f  PW2 %.4f  alpha 0.025  3 SE %.4f\n", $1, $22, pw1, pw2, 3 * se
    }
  }'
done
