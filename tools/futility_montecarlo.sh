#!/bin/sh
# Monte-Carlo check of the futility stops through the program (not part of the suite): for each
# decision rule, the example futility design (beta spending 1, allocation 1:1) with NSIM trials
# under the alternative, then at the size found under the global null (HR1TR = HR2TR = 1) and,
# for rules 1 to 3, under each partial null (one endpoint's HR1TR or HR2TR 1, the other at its
# alternative), non-binding and binding. Prints the analytic power APW against the simulated
# PWCS, and under each null the analytic type I error (with the futility stops in force, and
# without them) against the simulated rejections of both endpoints; per analysis the analytic
# futility stops against the simulated ones; each with its distance in standard errors of the
# simulation. Under the global null of a non-binding design it also says whether the simulated
# type I error is at most TYPE1 + 3 SE.
# Usage: tools/futility_montecarlo.sh path/to/kestrel [NSIM] [options such as --exact]
# RULES, BINDINGS and HYPOTHESES (environment) choose a part: RULES="1 3" BINDINGS=NONBINDING
# HYPOTHESES="alternative null ep1null ep2null". The null runs use the size of the alternative
# run of the same rule, so HYPOTHESES starts with alternative.
set -eu
KESTREL=$(realpath "$1")
NSIM=${2:-100000}
shift; [ $# -gt 0 ] && shift
HERE=$(cd "$(dirname "$0")/.." && pwd)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
for binding in ${BINDINGS:-NONBINDING BINDING}; do
for rule in ${RULES:-1 2 3 4}; do
  for hyp in ${HYPOTHESES:-alternative null ep1null ep2null}; do
    case "$hyp" in
      alternative) hrtr="1.4286 1.4286 0.5" ;;
      null) hrtr="1.0 1.0 0.5" ;;
      ep1null) hrtr="1.0 1.4286 0.5" ;;
      ep2null) hrtr="1.4286 1.0 0.5" ;;
    esac
    # Rule 4 tests EP2 only at the final: no partial nulls.
    [ "$rule" = 4 ] && [ "$hyp" != alternative ] && [ "$hyp" != null ] && continue
    mkdir -p "$WORK/$rule$hyp$binding/a"
    # The design at the size found under the alternative is run under the nulls at that size.
    mssg=0
    [ "$hyp" != alternative ] && mssg=$(cat "$WORK/mss$rule$binding")
    cat > "$WORK/$rule$hyp$binding/a/input.txt" <<DECK
0 0 0.0 0.0
'futility Monte-Carlo check'
$NSIM 2 3 1 1 $mssg
1.4286 1.4286 0.5 $hrtr
2.0 3.0 0.3 0.4 0.5 1
0.025 0 0.8 $rule 3 3 1 1
0.5 0.75 1.0
FUTILITY $binding SPENDING 1
DECK
    (cd "$WORK/$rule$hyp$binding" && "$KESTREL" --seed 20261208 "$@" > console.txt 2>&1)
    python3 - "$WORK/$rule$hyp$binding/a/kestrel-results.json" "$rule" "$hyp" "$binding" "$NSIM" \
        "$WORK/mss$rule$binding" <<'PY'
import json, math, sys
path, rule, hyp, binding, nsim, mss_file = sys.argv[1:7]
n = int(nsim)
d = json.load(open(path))["designs"][0]
e = d["sets"][0]
s = e["simulation"]
def z(sim, p):
    se = math.sqrt(max(p * (1 - p), 1e-12) / n)
    return (sim - p) / se
if hyp == "alternative":
    open(mss_file, "w").write(str(e["MSS"]))
    print(f"rule {rule} {binding:10s} alternative: MSS {e['MSS']}  APW {e['APW']:.4f}  PWCS {s['PWCS']:.4f}"
          f"  ({z(s['PWCS'], e['APW']):+.2f} SE)")
    for k, (a, b) in enumerate(zip(e["futility"]["QFUT"][:-1], s["F"][:-1])):
        print(f"    futility stop at analysis {k + 1}: analytic {a:.4f}  simulated {b:.4f}  ({z(b, a):+.2f} SE)")
else:
    name = {"null": "global", "ep1null": "EP1 null", "ep2null": "EP2 null"}[hyp]
    f = [h for h in e["nulls"] if h["hypothesis"] == name][0]
    line = (f"rule {rule} {binding:10s} {name:8s} at MSS {e['MSS']}: type I error analytic {f['success']:.5f}"
            f" (without futility {f['success_without_futility']:.5f})  simulated {s['PWCS']:.5f}"
            f"  ({z(s['PWCS'], f['success']):+.2f} SE); EP1 {s['PW1S']:.5f}  EP2 {s['PW2']:.5f}")
    if name == "global" and binding == "NONBINDING":
        bound = 0.025 + 3 * math.sqrt(0.025 * 0.975 / n)
        line += f"; at most TYPE1 + 3 SE ({bound:.5f}): {'yes' if s['PWCS'] <= bound else 'NO'}"
    print(line)
    for k, (a, b) in enumerate(zip(f["QFUT"][:-1], s["F"][:-1])):
        print(f"    futility stop at analysis {k + 1}: analytic {a:.4f}  simulated {b:.4f}  ({z(b, a):+.2f} SE)")
PY
  done
done
done
