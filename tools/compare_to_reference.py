#!/usr/bin/env python3
"""Which of two runs of the same decks is closer to a high-accuracy reference run.

usage: compare_to_reference.py THRESHOLD OLD_DIR NEW_DIR REFERENCE_DIR [NAME ...]

The three directories hold runs of tools/run_decks.sh (e.g. two binaries at the default accuracy
and one at --mvn-accuracy 1e-10). For every probability of the results files (APW, QSTOP, QEP,
not the simulated ones) that moved by more than THRESHOLD between OLD and NEW, prints both
distances to the reference, then counts how often each run is the closer one and the largest
distance of each from the reference over all probabilities.
"""
import json
import os
import sys

from compare_results import PROBABILITY_KEYS, walk


def probabilities(path):
    out = {}
    for d in json.load(open(path))["designs"]:
        for p, x in walk(d.get("sets")):
            sim = "simul" in p.lower() or "SIM" in p
            if not sim and isinstance(x, (int, float)) and any(f".{k}" in p for k in PROBABILITY_KEYS):
                out[f"design {d['number']}{p}"] = x
    return out


def main():
    thresh = float(sys.argv[1])
    old, new, ref = sys.argv[2:5]
    names = sys.argv[5:] or sorted(os.listdir(old))
    moved = new_closer = old_closer = total = 0
    worst_old = worst_new = 0.0
    for name in names:
        f = lambda d: os.path.join(d, name, "a", "kestrel-results.json")
        po, pn, pr = probabilities(f(old)), probabilities(f(new)), probabilities(f(ref))
        for key, r in pr.items():
            if key not in po or key not in pn:
                continue
            o, n = po[key], pn[key]
            total += 1
            worst_old = max(worst_old, abs(o - r))
            worst_new = max(worst_new, abs(n - r))
            if abs(o - n) > thresh:
                moved += 1
                if abs(n - r) < abs(o - r):
                    new_closer += 1
                else:
                    old_closer += 1
                print(f"{name} {key}: old-ref {o - r:+.2e}  new-ref {n - r:+.2e}")
    print(f"{total} probabilities; {moved} moved by more than {thresh:g}: new closer to the reference "
          f"in {new_closer}, old in {old_closer}; largest distance from the reference: old {worst_old:.2e}, "
          f"new {worst_new:.2e}")


if __name__ == "__main__":
    main()
