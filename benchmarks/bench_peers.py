"""Quarvo beside its peers, packingsolver and spyrrow, on the instances of
bench_compress.py: strips (density and share of the best known density) and,
with --bins, their bin-packing versions (bins and the used length of the last
bin), each at the same time limit on the same threads, side by side.

Run:  PYTHONPATH=python python benchmarks/bench_peers.py --peer-python /path/to/python3.12
                                                        [--time 10] [--threads 2] [--bins] [--only NAME ...]
                                                        [--seed 0] [--record NAME=DENSITY ...]

The peers are not dependencies: they need Python >= 3.12 and live in a
virtual environment of their own (outside the repository), whose interpreter
--peer-python names. Each peer runs in a child process of that interpreter,
which imports it there; a peer that is not installed (or no --peer-python)
is skipped, and its columns say so. The instances are those of the ESICUP
layout, given to the peers as they are (a strip open along x of height
Strip.Height; a bin of that height and the bin-packing version's length) and
to Quarvo turned a quarter, as bench_compress.py packs them. packingsolver:
objective OpenDimensionX for a strip, BinPackingWithLeftovers for bins (fewest
bins, then the most room left in the last), its own default threads; spyrrow
(strips only): total_computation_time, num_workers = --threads. Densities of
the peers are the item area over the width times the length they report.
"""
import argparse
import json
import math
import os
import subprocess
import sys

import bench_compress as bc
from _about import commit_and_machine

# Run by the peer interpreter: the request on stdin, the answer (or why not) on stdout.
PEER = r'''
import json, sys, time
req = json.load(sys.stdin)
out = {}
try:
    if req["peer"] == "spyrrow":
        import spyrrow
        items = [spyrrow.Item(str(k), [tuple(p) for p in it["pts"]], demand=it["demand"],
                              allowed_orientations=it["orients"]) for k, it in enumerate(req["items"])]
        inst = spyrrow.StripPackingInstance("bench", float(req["width"]), items)
        cfg = spyrrow.StripPackingConfig(early_termination=True, total_computation_time=int(req["time"]),
                                         num_workers=req["threads"], seed=req["seed"])
        t0 = time.perf_counter()
        sol = inst.solve(cfg)
        out = {"length": sol.width, "bins": 1, "wall": time.perf_counter() - t0}
    else:
        import packingsolver.irregular as pi
        b = pi.InstanceBuilder()
        strip = req["length"] is None
        b.set_objective(pi.Objective.OpenDimensionX if strip else pi.Objective.BinPackingWithLeftovers)
        long = sum(max(p[0] for p in it["pts"]) - min(p[0] for p in it["pts"]) for it in req["items"]) * 2
        size = long * max(it["demand"] for it in req["items"]) if strip else req["length"]
        b.add_bin_type(pi.build_rectangle(float(size), float(req["width"])), copies=1 if strip else -1)
        for it in req["items"]:
            b.add_item_type(pi.build_shape([list(map(float, p)) for p in it["pts"]]),
                            allowed_rotations=[(a, a, False) for a in it["orients"]], copies=it["demand"])
        params = pi.OptimizeParameters()
        params.time_limit = float(req["time"])
        params.verbosity_level = 0
        t0 = time.perf_counter()
        sol = pi.optimize(b.build(), params).solution
        n = sol.number_of_bins()
        last = sol.bin(n - 1).x_max if n else float("nan")
        out = {"length": sol.x_max() if strip else last, "bins": n, "wall": time.perf_counter() - t0,
               "items": sol.number_of_items()}
except ImportError as e:
    out = {"skipped": f"{req['peer']} not importable ({e})"}
print(json.dumps(out))
'''


def counter_clockwise(pts):
    """The outline counter-clockwise, as packingsolver takes it (marques's drawings run clockwise)."""
    pts = [list(p) for p in pts]
    twice = sum(pts[i - 1][0] * pts[i][1] - pts[i][0] * pts[i - 1][1] for i in range(len(pts)))
    return pts if twice >= 0 else pts[::-1]


def run_peer(python, peer, inst, length, seconds, threads, seed):
    """The peer's answer, or why it was skipped."""
    if not python:
        return {"skipped": "no --peer-python"}
    items = [{"pts": counter_clockwise(it["Shape"]["Data"]), "demand": int(it["Demand"]),
              "orients": [float(a) for a in it["AllowedOrientations"]]} for it in inst["Items"]]
    req = {"peer": peer, "width": float(inst["Strip"]["Height"]), "length": length, "items": items,
           "time": seconds, "threads": threads, "seed": seed}
    try:
        proc = subprocess.run([python, "-c", PEER], input=json.dumps(req), capture_output=True, text=True,
                              timeout=seconds * 3 + 60)
    except (OSError, subprocess.TimeoutExpired) as e:
        return {"skipped": f"{peer}: {e}"}
    try:
        return json.loads(proc.stdout.strip().splitlines()[-1])
    except (ValueError, IndexError):
        return {"skipped": f"{peer} failed: {proc.stderr.strip().splitlines()[-1:] or proc.returncode}"}


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--peer-python", help="the interpreter of the peers' virtual environment (Python >= 3.12)")
    ap.add_argument("--time", type=float, default=10.0)
    ap.add_argument("--threads", type=int, default=2)
    ap.add_argument("--bins", action="store_true", help="the bin-packing versions instead of the strips")
    ap.add_argument("--only", nargs="+")
    ap.add_argument("--seed", type=int, default=0)
    bc.add_record_option(ap)
    args = ap.parse_args()
    bc.take_records(ap, args)
    names = args.only or (list(bc.RECORDS)[:4] + list(bc.esicup_more.PIECES))
    names = [n for n in names if (bc.has_bins(n) if args.bins else math.isfinite(bc.best_known(n)))]
    peers = ["packingsolver"] + ([] if args.bins else ["spyrrow"])
    print(commit_and_machine())
    print(f"load average before: {' '.join(f'{x:.2f}' for x in os.getloadavg())}; {args.time:g} s, "
          f"threads {args.threads}, seed {args.seed}")
    unit = "bins / last" if args.bins else "density / share"
    print(f"{'instance':<10}" + "".join(f"{name + ': ' + unit:>34}" for name in ["Quarvo"] + peers))
    for name in names:
        inst = bc.load(name)
        g = bc.run(name, args.time, args.threads, True, args.seed, bins=args.bins)
        width = float(inst["Strip"]["Height"])
        area = sum(it.area() for it in bc.items_of(inst)[1])
        best = bc.best_known(name)

        def cell(bins, length, ok=True):
            if args.bins:
                return f"{bins} / {length:.6g}{'' if ok else ' FAULT'}"
            density = area / (width * length)
            return f"{density:.4f} / {density / best:.3f}{'' if ok else ' FAULT'}"

        row = f"{name:<10}{cell(g['bins'], g['last'], g['ok']):>34}"
        for peer in peers:
            got = run_peer(args.peer_python, peer, inst, g["height"], args.time, args.threads, args.seed)
            if "skipped" in got:
                row += f"{'skipped':>34}"
                note = got["skipped"]
            else:
                every = got.get("items", len(bc.items_of(inst)[1])) == len(bc.items_of(inst)[1])
                row += f"{cell(got['bins'], got['length']) + ('' if every else ' (not all)'):>34}"
                note = None
            if note:
                print(f"  ({note})", file=sys.stderr)
        print(row, flush=True)
    print(f"load average after: {' '.join(f'{x:.2f}' for x in os.getloadavg())}")


if __name__ == "__main__":
    main()
