"""Strip packing with the improvement search: the four ESICUP instances and the
bundled pipe job, each as a strip, against the published records.

Run:  PYTHONPATH=python python benchmarks/bench_search.py [--time 10] [--threads 2] [--only NAME]

ESICUP (../shared/data/esicup/): width = Strip.Height, every copy of every
item turned a quarter as in bench_esicup.py, the instance's allowed
orientations, strategy nfp with nonconvex=True
where the engine has it (otherwise each piece's convex hull, said in the
output), incremental unions. Density = item area / (width x used length).

Pipes (examples/pipes.json): a strip 800 wide, the job's distance, weights and
rotations, library defaults otherwise.
"""
import argparse
import json
import math
import os
import time

from _about import ROOT, commit_and_machine, shared_data

DATA = os.environ.get("QUARVO_ESICUP") or shared_data("esicup")
RECORDS = {"albano": 0.8982, "dagli": 0.9017, "shirts": 0.9092, "trousers": 0.9262}


def hull(points):
    pts = sorted(set(map(tuple, points)))
    if len(pts) < 3:
        return pts

    def half(seq):
        out = []
        for p in seq:
            while len(out) >= 2 and ((out[-1][0] - out[-2][0]) * (p[1] - out[-2][1])
                                     - (out[-1][1] - out[-2][1]) * (p[0] - out[-2][0])) <= 0:
                out.pop()
            out.append(p)
        return out

    lower, upper = half(pts), half(reversed(pts))
    return lower[:-1] + upper[:-1]


def area(pts):
    return abs(sum(pts[i][0] * pts[i - 1][1] - pts[i - 1][0] * pts[i][1] for i in range(len(pts)))) / 2


def has_nonconvex():
    from Quarvo.first_fit_algorithm import FirstFit
    from Quarvo.geometry import Bin

    try:
        FirstFit([], Bin(10.0, 10.0), nonconvex=True)
        return True
    except TypeError:
        return False


def run(items, width, rotations, time_limit, threads, **kw):
    from Quarvo.check import CIRCLE_REL_TOL, check_layout
    from Quarvo.first_fit_algorithm import FirstFit
    from Quarvo.geometry import Bin

    ff = FirstFit(items, Bin(width, None), rotations=rotations, threads=threads, time_limit=time_limit, **kw)
    t0, c0 = time.perf_counter(), time.process_time()
    bins, unplaced = ff.do_pack()
    dt = time.perf_counter() - t0
    run.cpu = time.process_time() - c0
    length = ff.used_length
    rep = check_layout((bins, unplaced), width, length, kw.get("global_distance", 0.0), circle_rel_tol=CIRCLE_REL_TOL)
    return length, dt, len(unplaced), rep.ok, ff._search_progress[1]


def esicup(name, time_limit, threads, nonconvex):
    from bench_esicup import outline
    from Quarvo.geometry import Polygon

    with open(os.path.join(DATA, name + ".json")) as f:
        inst = json.load(f)
    width = inst["Strip"]["Height"]
    items, total = [], 0.0
    rots = None
    for k, it in enumerate(inst["Items"]):
        pts = outline(it)
        if pts[0] == pts[-1]:
            pts = pts[:-1]
        true = pts
        if not nonconvex:
            pts = hull(pts)
        rots = [math.radians(a) for a in it["AllowedOrientations"]]
        for c in range(it["Demand"]):
            items.append(Polygon(pts, shape_id=f"{k}.{c}"))
            total += area(true)
    kw = dict(strategy="nfp", incremental=True)
    if nonconvex:
        kw["nonconvex"] = True
    return width, items, total, rots, kw


def pipes():
    # Read through the job reader, so pipe items (od and wall, or size and schedule) load as the command line loads them.
    from Quarvo.job import load_job
    from Quarvo.job.packing import build_items

    job = load_job(os.path.join(ROOT, "examples", "pipes.json"))
    return [e.shape for e in build_items(job)], job.rotations or [0.0], job.distance


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--time", type=float, default=10.0)
    ap.add_argument("--threads", type=int, default=2)
    ap.add_argument("--only", help="one instance (albano, dagli, shirts, trousers, pipes)")
    args = ap.parse_args()
    nonconvex = has_nonconvex()
    print(commit_and_machine())
    print(f"time limit {args.time} s, {args.threads} threads; pieces: "
          + ("true outlines (nonconvex=True)" if nonconvex else "convex hulls (this engine has no nonconvex keyword)"))
    print("greedy/search: density = item area / (width x used length); ratio = search / record; "
          "cpu s: CPU time the process got (the machine may be shared)")
    print()
    print(f"{'instance':<10}{'items':>6}{'greedy':>9}{'search':>9}{'record':>9}{'ratio':>8}{'evals':>7}"
          f"{'time s':>8}{'cpu s':>7}  check")
    ratios = []
    for name in RECORDS:
        if args.only and args.only != name:
            continue
        width, items, total, rots, kw = esicup(name, args.time, args.threads, nonconvex)
        g, _, _, _, _ = run(items, width, rots, None, args.threads, **kw)
        length, dt, unplaced, ok, evals = run(items, width, rots, args.time, args.threads, **kw)
        dens_g, dens = total / (width * g), total / (width * length)
        ratios.append(dens / RECORDS[name])
        print(f"{name:<10}{len(items):>6}{dens_g:>9.4f}{dens:>9.4f}{RECORDS[name]:>9.4f}{ratios[-1]:>8.3f}"
              f"{evals:>7}{dt:>8.1f}{run.cpu:>7.1f}  {'ok' if ok and not unplaced else 'FAULT'}")
    if ratios:
        print(f"{'mean':<10}{'':>6}{'':>9}{'':>9}{'':>9}{sum(ratios) / len(ratios):>8.3f}")
    if not args.only or args.only == "pipes":
        print()
        # The library's defaults, then the command line's (dense holes, exact clearance) where the engine has them.
        modes = [("library defaults", {}), ("dense holes, exact clearance", dict(hole_fill="dense", exact_clearance=True))]
        for label, extra in modes:
            items, rots, dist = pipes()
            try:
                g, _, _, _, _ = run(items, 800.0, rots, None, args.threads, global_distance=dist, **extra)
            except TypeError:
                continue
            items, rots, dist = pipes()
            length, dt, unplaced, ok, evals = run(items, 800.0, rots, args.time, args.threads, global_distance=dist,
                                                  **extra)
            print(f"pipes (examples/pipes.json) as a strip 800 wide, {label}: greedy {g:.1f} mm, search {length:.1f} mm "
                  f"({evals} layouts, {dt:.1f} s, {run.cpu:.1f} cpu s), check {'ok' if ok and not unplaced else 'FAULT'}")


if __name__ == "__main__":
    main()
