#!/usr/bin/env python3
"""Compare the results files (a/kestrel-results.json) of two runs of the same decks.

usage: compare_results.py [--strict] ACCURACY BEFORE_DIR AFTER_DIR [NAME ...]

Each NAME is a subdirectory of both BEFORE_DIR and AFTER_DIR holding a/kestrel-results.json.
For every design and information set: the sizes MSS (and ME1, ME2) must be identical; every
probability (APW, QSTOP, QEP, the expected values divided by their maxima) must agree within
2 x ACCURACY x sqrt(R), R the number of rectangle probabilities the rule adds up for one power
(a sum of R estimates, each within its accuracy, moves by that much between two runs of the
same method with other random shifts); the plain 2 x ACCURACY test is counted as well.
With --strict the bound of every probability is 2 x ACCURACY. Simulated figures are compared
only for their sizes. Exit status 1 when a size differs or a probability is outside its bound.
"""
import json
import math
import os
import sys


def rectangles(rule, K):
    return {2: 2 ** K - 1, 3: K * (K + 1) // 2, 4: K}.get(rule, K * K)


def walk(obj, path=""):
    if isinstance(obj, dict):
        for k, v in obj.items():
            yield from walk(v, f"{path}.{k}")
    elif isinstance(obj, list):
        for i, v in enumerate(obj):
            yield from walk(v, f"{path}[{i}]")
    else:
        yield path, obj


PROBABILITY_KEYS = ("APW", "QSTOP", "QEP")
SIZE_KEYS = ("MSS", "ME1", "ME2", "NL", "NU")


def main():
    args = sys.argv[1:]
    strict = bool(args) and args[0] == "--strict"
    if strict:
        args = args[1:]
    acc = float(args[0])
    before, after = args[1], args[2]
    names = args[3:] or sorted(os.listdir(before))
    bad = 0
    worst = 0.0
    plain_over = 0
    total = 0
    for name in names:
        fb = os.path.join(before, name, "a", "kestrel-results.json")
        fa = os.path.join(after, name, "a", "kestrel-results.json")
        jb, ja = json.load(open(fb)), json.load(open(fa))
        for db, da in zip(jb["designs"], ja["designs"]):
            rule = db.get("stored", {}).get("DF", 1)
            K = db.get("stored", {}).get("LOOK", 1)
            bound = 2 * acc * (1 if strict else math.sqrt(rectangles(rule, K)))
            vb, va = dict(walk(db.get("sets"))), dict(walk(da.get("sets")))
            for path, x in vb.items():
                y = va.get(path)
                leaf = path.split(".")[-1].split("[")[0]
                is_sim = "simul" in path.lower() or "SIM" in path
                if any(path.endswith("." + k) for k in SIZE_KEYS) and not is_sim:
                    if x != y:
                        print(f"{name} design {db['number']}{path}: size {x} -> {y}")
                        bad += 1
                elif leaf in PROBABILITY_KEYS or any(f".{k}" in path for k in PROBABILITY_KEYS):
                    if is_sim or not isinstance(x, (int, float)) or not isinstance(y, (int, float)):
                        continue
                    d = abs(x - y)
                    total += 1
                    worst = max(worst, d / acc)
                    if d > 2 * acc:
                        plain_over += 1
                    if d > bound:
                        print(f"{name} design {db['number']}{path}: {x!r} -> {y!r} "
                              f"(|diff| {d:.2e} > {bound:.2e})")
                        bad += 1
        print(f"{name}: compared")
    print(f"{total} probabilities compared; largest difference {worst:.2f} x accuracy; "
          f"{plain_over} above 2 x accuracy; {bad} failures")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
