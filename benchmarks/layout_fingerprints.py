"""Fingerprints of the layouts of many seeded jobs, one line per family of options.

A change that must leave layouts as they are (a move of files, a faster path
that must give the same answer) leaves every line as it was: compare the
output before and after. Each fingerprint hashes every item's bin, tx, ty and
rotation (exact doubles) and the unplaced items, over all jobs of the family.

    PYTHONPATH=python python benchmarks/layout_fingerprints.py [--jobs N] [--only SUBSTRING]
"""
import argparse
import hashlib
import math
import random
import struct
import sys

from _about import commit_and_machine
from Quarvo import Bin, Circle, FirstFit, Polygon


def regular(rng, r, n):
    ph = rng.uniform(0, 2 * math.pi)
    return [(r * math.cos(ph + 2 * math.pi * k / n), r * math.sin(ph + 2 * math.pi * k / n)) for k in range(n)]


def star(rng, r, n):
    pts = []
    for k in range(2 * n):
        rr = r if k % 2 == 0 else r * rng.uniform(0.45, 0.7)
        a = math.pi * k / n
        pts.append((rr * math.cos(a), rr * math.sin(a)))
    return pts


def ell(rng, s):
    a, b = s * rng.uniform(0.25, 0.5), s * rng.uniform(0.25, 0.5)
    return [(0, 0), (s, 0), (s, b), (a, b), (a, s), (0, s)]


def ring(r_out, r_in, n=64):
    pts = lambda r: [(r * math.cos(2 * math.pi * k / n), r * math.sin(2 * math.pi * k / n)) for k in range(n)]
    return pts(r_out), [pts(r_in)]


def make_items(rng, n, nonconvex):
    items = []
    for i in range(n):
        u = rng.random()
        if u < 0.3:
            it = Circle(rng.uniform(2, 14), shape_id=i)
        elif u < 0.45:
            r = rng.uniform(10, 22)
            outer, holes = ring(r, r * rng.uniform(0.6, 0.85))
            it = Polygon(outer, holes=holes, shape_id=i)
        elif nonconvex and u < 0.7:
            it = Polygon(star(rng, rng.uniform(5, 14), rng.randint(4, 6)) if rng.random() < 0.5
                         else ell(rng, rng.uniform(8, 20)), shape_id=i)
        else:
            it = Polygon(regular(rng, rng.uniform(3, 14), rng.randint(3, 8)), shape_id=i)
        if rng.random() < 0.3:
            it.weight = float(rng.randint(1, 4))
        if rng.random() < 0.15:
            it.margin = rng.uniform(0, 1)
        if rng.random() < 0.15:
            it.inflation = rng.uniform(0, 1)
        items.append(it)
    return items


FAMILIES = [
    # name, FirstFit keywords, strip, non-convex items
    ("nfp corner", dict(), False, False),
    ("nfp center", dict(placement="center"), False, False),
    ("nfp corner incremental", dict(incremental=True), False, False),
    ("nfp center incremental", dict(placement="center", incremental=True), False, False),
    ("nfp corner 2 threads", dict(threads=2), False, False),
    ("nfp dense holes", dict(hole_fill="dense"), False, False),
    ("nfp exact clearance", dict(exact_clearance=True), False, False),
    ("nfp dense exact incremental", dict(hole_fill="dense", exact_clearance=True, incremental=True), False, False),
    ("nfp nonconvex", dict(nonconvex=True), False, True),
    ("nfp nonconvex dense", dict(nonconvex=True, hole_fill="dense"), False, True),
    ("nfp strip", dict(), True, False),
    ("nfp strip nonconvex", dict(nonconvex=True), True, True),
    ("bl", dict(strategy="bl"), False, True),
    ("bl exact clearance", dict(strategy="bl", exact_clearance=True), False, True),
    ("bl strip", dict(strategy="bl"), True, True),
    ("search 40 iterations", dict(iterations=40, seed=3, threads=1), False, False),
    ("search strip nonconvex 40 iterations", dict(iterations=40, seed=5, nonconvex=True), True, True),
]


def fingerprint(family, jobs):
    name, kw, strip, nonconvex = family
    h = hashlib.sha256()
    placed = unplaced = 0
    for seed in range(jobs):
        rng = random.Random(f"{name}/{seed}")
        items = make_items(rng, rng.randint(8, 40), nonconvex)
        w = rng.choice([80.0, 120.0, 200.0])
        b = Bin(w, None) if strip else Bin(w, rng.choice([60.0, 100.0, 160.0]))
        kw2 = dict(kw)
        kw2.setdefault("threads", 1)
        if rng.random() < 0.5 and kw2.get("strategy") != "bl":
            kw2["rotations"] = [0.0, math.pi / 2] if rng.random() < 0.5 else [0.0, 0.7, math.pi]
        bins, left = FirstFit(items, b, global_distance=rng.choice([0.0, 1.0, 2.5]), **kw2).do_pack()
        for k, bn in enumerate(bins):
            for it in bn:
                h.update(struct.pack("<iddd", k, it.tx, it.ty, it.rotation))
                h.update(str(it.shape_id).encode())
                placed += 1
        for it in left:
            h.update(b"u" + str(it.shape_id).encode())
            unplaced += 1
    return h.hexdigest()[:16], placed, unplaced


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--jobs", type=int, default=12)
    ap.add_argument("--only", default="")
    args = ap.parse_args()
    print(commit_and_machine())
    for fam in FAMILIES:
        if args.only and args.only not in fam[0]:
            continue
        fp, placed, unplaced = fingerprint(fam, args.jobs)
        print(f"{fam[0]:40s} {fp}  placed {placed:5d}  unplaced {unplaced:4d}", flush=True)


if __name__ == "__main__":
    sys.exit(main())
