"""Greedy strip packing of real parts with detailed outlines (hundreds of vertices per kind).

The instances of ../shared/data/nesting (the same JSON layout as the ESICUP ones): every piece turned a
quarter, (x, y) -> (y, -x), so that the instance's strip, open along x, is the library's strip, open along y;
packed into Bin(Strip.Height, None) with the allowed orientations in radians, strategy "nfp",
nonconvex=True, library defaults otherwise, items in order of decreasing area. Prints per instance the
wall-clock time of the greedy pass, the density = item area / (width x used length) and its share of the
published record, the layout checker's verdict on the true outlines, and where the time went: CPU seconds
of the non-convex Minkowski NFPs and of the unions, the NFP cache's misses; then the commit and the machine.

    PYTHONPATH=python python benchmarks/bench_detailed.py [--data DIR] [--threads N] [--only NAME ...] [--made-up]

DIR defaults to ../shared/data/nesting from the repository's root. Records are read from the README there.
--made-up adds the instances of detailed_instances.py (filleted ESICUP pieces, blobs, plates with bolt holes,
many copies of two kinds), which have no record.
"""
import argparse
import json
import math
import os
import re
import time

import detailed_instances
from _about import commit_and_machine, shared_data
from Quarvo import Bin, FirstFit, Polygon
from Quarvo.check import check_layout
from Quarvo.first_fit_algorithm import used_length
from Quarvo.placer_nfp import _minkowski_stats, _union_seconds, nfp_cache_info


def records(data):
    """Best published density per instance, from the data's README table."""
    out = {}
    try:
        with open(os.path.join(data, "README.md")) as f:
            for line in f:
                m = re.match(r"\|\s*(\w+)\s*\|.*\|\s*([\d.]+)\s*%\s*\|\s*$", line)
                if m:
                    out[m.group(1)] = float(m.group(2)) / 100.0
    except OSError:
        pass
    return out


def frame(inst):
    """The items turned a quarter into the library's frame, the strip's width and the rotations."""
    width = float(inst["Strip"]["Height"])
    items, rots, vertices = [], [], []
    for k, it in enumerate(inst["Items"]):
        pts = [(float(y), -float(x)) for x, y in it["Shape"]["Data"]]
        holes = [[(float(y), -float(x)) for x, y in h] for h in it["Shape"].get("Holes", [])]
        vertices.append(len(pts) + sum(len(h) for h in holes))
        rots += [r for r in (math.radians(a) for a in it["AllowedOrientations"]) if r not in rots]
        for _ in range(int(it["Demand"])):
            p = Polygon(pts, holes=holes or None)
            p.shape_id = k
            items.append(p)
    return width, items, rots, vertices


def run(name, inst, threads, record):
    width, items, rots, vertices = frame(inst)
    for it in items:
        it.weight = it.area()  # largest first
    area = sum(it.area() for it in items)
    nfps0, mink0 = _minkowski_stats()
    union0 = _union_seconds()
    cache0 = nfp_cache_info()
    cpu0 = time.process_time()
    t0 = time.perf_counter()
    bins, unplaced = FirstFit(items, Bin(width, None), 0.0, rotations=rots, nonconvex=True,
                              threads=threads).do_pack()
    wall = time.perf_counter() - t0
    cpu = time.process_time() - cpu0
    nfps1, mink1 = _minkowski_stats()
    cache1 = nfp_cache_info()
    placed = [it for b in bins for it in b]
    used = used_length(placed) if placed else float("nan")
    density = area / (width * used) if not unplaced else float("nan")
    report = check_layout((bins, unplaced), Bin(width, None), distance=0.0)
    return dict(name=name, items=len(items), vertices=f"{sum(vertices) / len(vertices):.0f}/{max(vertices)}",
                placed=len(placed), density=density, share=density / record if record else float("nan"),
                wall=wall, cpu=cpu, ok=report.ok, nfps=nfps1 - nfps0, mink=mink1 - mink0,
                union=_union_seconds() - union0, misses=cache1["misses"] - cache0["misses"])


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--data", default=shared_data("nesting"))
    ap.add_argument("--threads", type=int, default=None)
    ap.add_argument("--only", nargs="*", default=None, help="instance names (default: every one in DIR)")
    ap.add_argument("--made-up", action="store_true", help="also the instances of detailed_instances.py")
    args = ap.parse_args()
    recs = records(args.data)
    instances = []
    for f in sorted(os.listdir(args.data)):
        if f.endswith(".json"):
            with open(os.path.join(args.data, f)) as fh:
                instances.append((f[:-5], json.load(fh)))
    if args.made_up:
        esicup = os.path.join(os.path.dirname(args.data), "esicup")
        instances += [(inst["Name"], inst) for inst in detailed_instances.all_instances(esicup)]
    if args.only:
        instances = [(n, i) for n, i in instances if n in args.only]
    print(commit_and_machine())
    with open("/proc/loadavg") as f:
        print(f"threads {args.threads or 'default'}, load average {' '.join(f.read().split()[:3])}, "
              f"data {os.path.abspath(args.data)}")
    print(f"{'instance':>18} {'items':>5} {'verts':>8} {'placed':>6} {'density':>8} {'/record':>8} {'wall s':>8} "
          f"{'cpu s':>8} {'checker':>8} {'NC NFPs':>8} {'sums s':>8} {'union s':>8} {'misses':>7}")
    for name, inst in instances:
        r = run(name, inst, args.threads, recs.get(name))
        print(f"{r['name']:>18} {r['items']:>5} {r['vertices']:>8} {r['placed']:>6} {r['density']:>8.4f} "
              f"{r['share']:>8.3f} {r['wall']:>8.2f} {r['cpu']:>8.2f} {'ok' if r['ok'] else 'FAILED':>8} "
              f"{r['nfps']:>8} {r['mink']:>8.2f} {r['union']:>8.2f} {r['misses']:>7}", flush=True)


if __name__ == "__main__":
    main()
