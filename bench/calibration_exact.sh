#!/bin/sh
# Calibration of the analytic power against simulated trials, today's model beside the exact one
# (--exact): the calendar design TA 2, TF 3, analyses 3 and 5, control survival 0.3 (EP1) and 0.4
# (EP2), Clayton rho 0.5, searched to 80% power, for SR 0.25, 0.5, 0.75, hazard ratios 0.6 and
# 0.8 on both endpoints, decision rules 1 and 3; each design's size is simulated NSIM times.
# Usage: bench/calibration_exact.sh KESTREL_BINARY [NSIM] [WORKDIR]
# RULES, HRS (deck values, control over treatment) and SRS select a part of the grid; SEED (7)
# the seed.
# Prints per design: SR, HR, rule, and for each model MSS, APW, PWCS and (PWCS - APW)/SE.
set -e
bin=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")  # the runs cd into their own directories
nsim=${2:-100000}
work=${3:-$(mktemp -d)}
mkdir -p "$work/default/a" "$work/exact/a"
deck="$work/default/a/input.txt"
{
  echo "0 0 0.0 0.0"
  echo "'calibration of APW against PWCS'"
  for rule in ${RULES:-1 3}; do
    for hr in ${HRS:-1.6667 1.25}; do
      for sr in ${SRS:-0.25 0.5 0.75}; do
        echo "$nsim 3 1 1 1 0"
        echo "$hr $hr 0.5 $hr $hr 0.5"
        echo "2.0 3.0 0.3 0.4 $sr 1"
        echo "0.025 0 0.8 $rule 2 3 1 1"
        echo "3.0 5.0"
      done
    done
  done
} > "$deck"
cp "$deck" "$work/exact/a/input.txt"
(cd "$work/default" && nice -n 15 "$bin" --seed "${SEED:-7}" > stdout.txt 2> stderr.txt)
(cd "$work/exact" && nice -n 15 "$bin" --seed "${SEED:-7}" --exact > stdout.txt 2> stderr.txt)
for m in default exact; do
  python3 - "$work/$m/a/kestrel-results.json" $m <<'PY'
import json, math, sys
run = json.load(open(sys.argv[1]))
for d in run["designs"]:
    r = d["read"]
    for s in d["sets"]:
        sim = s["simulation"]
        n, apw, pw = sim["NSIM"], s["APW"], sim["PWCS"]
        se = math.sqrt(pw * (1 - pw) / n)
        print("%-8s SR %.2f HR %.2f rule %d  MSS %5d  APW %.4f  PWCS %.4f  (%+.1f SE)" %
              (sys.argv[2], r["SR"], 1 / r["HR1"], r["DF"], s["MSS"], apw, pw, (pw - apw) / se))
PY
done
