#!/bin/sh
# Monte-Carlo calibration of piecewise hazards through the program, with the exact model
# (--exact): a delayed effect on EP1 (ratio 1 for the first fifth of the study, 0.6 after) and a
# waning effect on EP2 (0.65 for two years, 0.9 after), constant control hazards 0.4 and 0.15,
# Clayton correlation 0.5, TA 2, TF 3, calendar looks at 2.5 and 5, decision rules 1 and 3.
#   - the simulated power PWCS against the analytic power APW with NSIM trials (and its SE);
#   - the proportional-hazards design of the same (information-weighted) average ratios: its
#     size, and the power that size really has under the piecewise law (the model's APW at that
#     size), the power the proportional-hazards plan would have lost.
# Usage: piecewise_power_calibration.sh path/to/kestrel [seed] [NSIM]
set -eu
bin=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
seed=${2:-20261208}
nsim=${3:-100000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

record() {  # $1 NSIM, $2 MSSG, $3 rule, $4 HR1 (deck: control over treatment), $5 HR2
  cat <<DECK
$1 3 1 1 1 $2
$4 $5 0.5 $4 $5 0.5
2.0 3.0 $(python3 -c 'import math; print(round(math.exp(-0.4*5), 12), round(math.exp(-0.15*5), 12))') 0.5 1
0.025 0 0.8 $3 2 3 1 1
2.5 5.0
DECK
}
pieces() {
  echo "HAZARDS EP1 2  1.0  0.4 0.4  1 0.6      delayed effect"
  echo "HAZARDS EP2 2  2.0  0.15 0.15  0.65 0.9  waning effect"
}
run() {  # $1 case directory; the deck on standard input
  mkdir -p "$work/$1/a"
  cat > "$work/$1/a/input.txt"
  (cd "$work/$1" && "$bin" --seed "$seed" --exact > stdout.txt 2> stderr.txt)
}
field() {  # $1 case, $2 python expression over the first set s and the design d
  python3 - "$work/$1/a/kestrel-results.json" "$2" <<'PY'
import json, sys
run = json.load(open(sys.argv[1]))
designs = run["designs"] if "designs" in run else run["run"]["designs"]
out = []
for d in designs:
    s = d["sets"][0]
    v = eval(sys.argv[2])
    out.append("\t".join(map(str, v)) if isinstance(v, tuple) else str(v))
print("\n".join(out) if "\t" in "".join(out) else " ".join(out))
PY
}

{ printf "0 0 0.0 0.0\n'piecewise calibration'\n"
  for rule in 1 3; do record "$nsim" 0 "$rule" 1.6667 1.4286; pieces; done; } | run pw
printf "rule\tMSS\tAPW\tPWCS\tSE\t(PWCS-APW)/SE\tAHR1\tAHR2\n"
field pw '(d["stored"]["DF"], s["MSS"], round(s["APW"], 4), round(s["simulation"]["PWCS"], 4), round((s["simulation"]["PWCS"]*(1-s["simulation"]["PWCS"])/d["stored"]["NSIM"])**0.5, 4), round((s["simulation"]["PWCS"]-s["APW"])/(s["simulation"]["PWCS"]*(1-s["simulation"]["PWCS"])/d["stored"]["NSIM"])**0.5, 2), round(s["information"]["AHR1"], 4), round(s["information"]["AHR2"], 4))'
ahr1=$(field pw 's["information"]["AHR1"]' | cut -d' ' -f1)
ahr2=$(field pw 's["information"]["AHR2"]' | cut -d' ' -f1)
inv() { python3 -c "print(repr(1/$1))"; }
{ printf "0 0 0.0 0.0\n'proportional hazards at the average ratios'\n"
  for rule in 1 3; do record 0 0 "$rule" "$(inv "$ahr1")" "$(inv "$ahr2")"; done; } | run ph
ph=$(field ph 's["MSS"]')
echo "proportional-hazards design at the average ratios: MSS $ph (rules 1, 3)"
set -- $ph
{ printf "0 0 0.0 0.0\n'piecewise law at the proportional-hazards sizes'\n"
  record 0 "$1" 1 1.6667 1.4286; pieces; record 0 "$2" 3 1.6667 1.4286; pieces; } | run at
echo "power of those sizes under the piecewise law (model, --exact): $(field at 'round(s["APW"], 4)')"
# The plan that ignores the delay and the waning: proportional hazards at the ratios after the
# delay (EP1 0.6) and before the waning (EP2 0.65).
{ printf "0 0 0.0 0.0\n'proportional hazards at the early ratios'\n"
  for rule in 1 3; do record 0 0 "$rule" 1.6667 1.5385; done; } | run naive
naive=$(field naive 's["MSS"]')
echo "proportional-hazards design at ratios 0.6 and 0.65: MSS $naive (rules 1, 3)"
set -- $naive
{ printf "0 0 0.0 0.0\n'piecewise law at the naive sizes'\n"
  record 0 "$1" 1 1.6667 1.4286; pieces; record 0 "$2" 3 1.6667 1.4286; pieces; } | run at2
echo "power of those sizes under the piecewise law (model, --exact): $(field at2 'round(s["APW"], 4)')"
