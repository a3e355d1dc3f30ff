"""Pipe bundles: holes sampled or searched densely, circles inscribed or exact.

For the bundled job (examples/pipes.json) in its 1200 x 800 bin and as a strip
800 wide (a bin 800 x 1e7; the used length is the largest y of any item's
outline), and for random pipes of the sizes of examples/telescoping.json (ten
large sizes, DN450 down to DN80, and four small ones) in 1200 x 800 bins, all
pipe items, prints per mode: bins,
unplaced items, the used length, the items in holes per nesting depth, the
packing time (each mode in a process of its own, so that every mode starts
with an empty NFP cache) and whether the layout check passes
(circle_rel_tol=0 for exact clearance, the inscribed allowance otherwise).

    PYTHONPATH=python python benchmarks/bench_pipes.py [--random N] [--seed S]
"""
import argparse
import collections
import json
import os
import platform
import random
import subprocess
import sys
import time

from Quarvo.check import CIRCLE_REL_TOL, check_layout, nesting_depths
from Quarvo.first_fit_algorithm import FirstFit
from Quarvo.geometry import Bin
from Quarvo.job import parse_job
from Quarvo.job.packing import _shape, build_items

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MODES = [("sampled", False), ("dense", False), ("sampled", True), ("dense", True)]


def load(name):
    with open(os.path.join(ROOT, "examples", name)) as f:
        return json.load(f)


def bundled_items(job):
    return [e.shape for e in build_items(parse_job(job))]


def random_items(n, seed):
    table = parse_job(load("telescoping.json")).items
    large, small = table[1:11], table[11:]  # ten sizes DN450 down to DN80; DN65 to DN25
    rng = random.Random(seed)
    # small pipes are the common ones
    return [_shape(rng.choice(large) if rng.random() < 0.4 else rng.choice(small), k + 1) for k in range(n)]


def used_length(bins):
    top = 0.0
    for b in bins:
        for s in b:
            top = max(top, s.bounding_box()[3])
    return top


def run(make_items, bin_, distance, rotations, fill, exact):
    t0 = time.perf_counter()
    bins, unplaced = FirstFit(make_items(), bin_, distance, rotations=rotations, hole_fill=fill,
                              exact_clearance=exact).do_pack()
    seconds = time.perf_counter() - t0
    depths = collections.Counter(d for b in bins for d in nesting_depths(b) if d)
    ok = check_layout((bins, unplaced), bin_, distance=distance, circle_rel_tol=0.0 if exact else CIRCLE_REL_TOL).ok
    return bins, unplaced, depths, seconds, ok


def row(case, fill, exact, n, seed):
    """One mode of one case, in a process of its own: the NFP cache starts empty for every mode."""
    job = load("pipes.json")
    rot = [r * 3.141592653589793 / 180 for r in job.get("rotations", [0])]
    w, h = job["bin"]["width"], job["bin"]["height"]
    if case == "bin":
        res = run(lambda: bundled_items(job), Bin(w, h), job["distance"], rot, fill, exact)
    elif case == "strip":
        res = run(lambda: bundled_items(job), Bin(h, 1e7), job["distance"], rot, fill, exact)
    else:
        res = run(lambda: random_items(n, seed), Bin(w, h), 2.0, [0.0], fill, exact)
    bins, unplaced, depths, seconds, ok = res
    by_depth = " ".join(f"{d}:{depths[d]}" for d in sorted(depths))
    length = f"{used_length(bins):8.1f}" if case != "random" else f"{'':8}"
    return (f"  {fill:8} {'exact' if exact else 'inscribed':10} {len(bins):4d} {len(unplaced):4d} {length} "
            f"{sum(depths.values()):8d}  {by_depth:40} {seconds:8.2f}  {'ok' if ok else 'FAILED'}"), seconds


def table(title, case, args):
    print(f"\n{title}")
    print(f"  {'holes':8} {'circles':10} {'bins':>4} {'unpl':>4} {'length':>8} {'in holes':>8}  by depth"
          f"{'':32} {'seconds':>8}  check", flush=True)
    base = None
    for fill, exact in MODES:
        out = subprocess.run([sys.executable, __file__, "--row", case, fill, str(exact), "--random", str(args.random),
                              "--seed", str(args.seed)], capture_output=True, text=True, check=True).stdout
        line, seconds = out.rsplit("\t", 1)
        base = base or float(seconds)
        print(f"{line}  ({float(seconds) / base:.1f}x)", flush=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--random", type=int, default=400, help="random pipes (default 400)")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--row", nargs=3, metavar=("CASE", "FILL", "EXACT"), help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.row:
        line, seconds = row(args.row[0], args.row[1], args.row[2] == "True", args.random, args.seed)
        print(f"{line}\t{seconds}")
        return
    try:
        commit = subprocess.run(["git", "rev-parse", "--short", "HEAD"], cwd=ROOT, capture_output=True,
                                text=True).stdout.strip() or "unknown"
    except OSError:
        commit = "unknown"
    print(f"commit {commit}; {platform.node()}, {platform.machine()}, {os.cpu_count()} cpus, "
          f"Python {platform.python_version()}")
    job = load("pipes.json")
    w, h = job["bin"]["width"], job["bin"]["height"]
    table(f"bundled job, {len(bundled_items(job))} pipes, one {w:g} x {h:g} bin (used height)", "bin", args)
    table(f"bundled job as a strip {h:g} wide (bin {h:g} x 1e7)", "strip", args)
    table(f"{args.random} random pipes, ten large sizes and four small ones (seed {args.seed}), {w:g} x {h:g} bins",
          "random", args)


if __name__ == "__main__":
    main()
