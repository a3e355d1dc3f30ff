"""Irregular strip packing on the ESICUP instances with non-convex NFPs.

Each instance is packed as one bin of width Strip.Height (the strip's fixed
width) and height 1e7 (the strip is open that way), strategy "nfp",
nonconvex=True, every copy of every item turned a quarter (the instance's strip is
open along x, the library's along y), the instance's allowed orientations,
corner placement, items in order of decreasing area. Prints per instance the
density = item area / (width x used height) and its share of the published
record, the wall-clock time, the layout checker's verdict, the non-convex NFPs
built per CPU second and the NFP cache's hit rate in that run; then the means,
the commit and the machine.

    PYTHONPATH=python python benchmarks/bench_esicup.py [--data DIR] [--threads N] [--incremental]

DIR defaults to ../shared/data/esicup from the repository's root.
"""
import argparse
import json
import math
import os
import time

from _about import commit_and_machine, shared_data
from Quarvo import Bin, FirstFit, Polygon
from Quarvo.check import check_layout
from Quarvo.placer_nfp import _minkowski_stats, nfp_cache_info

RECORDS = {"albano": 0.8982, "dagli": 0.9017, "shirts": 0.9092, "trousers": 0.9262}
HEIGHT = 1e7


def outline(item):
    """An instance item's outline in the library's frame. The instance's strip
    is open along x with its height fixed; the library's strip is open along y:
    a quarter turn maps one onto the other and keeps the allowed orientations
    (0 and 180 degrees)."""
    return [(float(y), -float(x)) for x, y in item["Shape"]["Data"]]


def load(path):
    with open(path) as f:
        inst = json.load(f)
    width = float(inst["Strip"]["Height"])
    items, rots = [], []
    for k, it in enumerate(inst["Items"]):
        pts = outline(it)
        # one list for the whole job: every orientation some item allows (they all allow the same here)
        rots += [r for r in (math.radians(a) for a in it["AllowedOrientations"]) if r not in rots]
        for _ in range(int(it["Demand"])):
            p = Polygon(pts)
            p.shape_id = k
            items.append(p)
    return width, items, rots


def run(name, path, threads, incremental):
    width, items, rots = load(path)
    for it in items:
        it.weight = it.area()  # largest first
    area = sum(it.area() for it in items)
    nfps0, sec0 = _minkowski_stats()
    cache0 = nfp_cache_info()
    t0 = time.perf_counter()
    bins, unplaced = FirstFit(items, Bin(width, HEIGHT), 0.0, rotations=rots, nonconvex=True,
                              threads=threads, incremental=incremental).do_pack()
    wall = time.perf_counter() - t0
    nfps1, sec1 = _minkowski_stats()
    cache1 = nfp_cache_info()
    placed = [it for b in bins for it in b]
    used = max(it.bounding_box()[3] for it in placed) - min(0.0, min(it.bounding_box()[1] for it in placed))
    density = area / (width * used) if not unplaced and len(bins) == 1 else float("nan")
    report = check_layout((bins, unplaced), width, HEIGHT)
    lookups = (cache1["hits"] - cache0["hits"]) + (cache1["misses"] - cache0["misses"])
    hit_rate = (cache1["hits"] - cache0["hits"]) / lookups if lookups else float("nan")
    nfps, sec = nfps1 - nfps0, sec1 - sec0
    return dict(name=name, items=len(items), placed=len(placed), bins=len(bins), density=density,
                share=density / RECORDS.get(name, float("nan")), wall=wall, ok=report.ok,
                overlaps=sum(1 for b in report.bins for v in b.violations if v.kind == "overlap"),
                nfps=nfps, nfp_rate=nfps / sec if sec > 0 else float("nan"), hit_rate=hit_rate)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--data", default=shared_data("esicup"))
    ap.add_argument("--threads", type=int, default=2)
    ap.add_argument("--incremental", action="store_true")
    args = ap.parse_args()
    names = sorted(f[:-5] for f in os.listdir(args.data) if f.endswith(".json"))
    print(commit_and_machine())
    print(f"threads {args.threads}, incremental {args.incremental}, data {os.path.abspath(args.data)}")
    print(f"{'instance':>10} {'items':>5} {'placed':>6} {'density':>8} {'/record':>8} {'seconds':>8} "
          f"{'checker':>8} {'overlaps':>8} {'NC NFPs':>8} {'NFP/s':>8} {'hit rate':>8}")
    rows = []
    for name in names:
        r = run(name, os.path.join(args.data, name + ".json"), args.threads, args.incremental)
        rows.append(r)
        print(f"{r['name']:>10} {r['items']:>5} {r['placed']:>6} {r['density']:>8.4f} {r['share']:>8.3f} "
              f"{r['wall']:>8.2f} {'ok' if r['ok'] else 'FAILED':>8} {r['overlaps']:>8} {r['nfps']:>8} "
              f"{r['nfp_rate']:>8.0f} {r['hit_rate']:>8.3f}")
    shares = [r["share"] for r in rows if r["name"] in RECORDS]
    if shares:
        print(f"mean density share of the records: {sum(shares) / len(shares):.3f} "
              f"(the convex-hull greedy: 0.79); slowest instance {max(r['wall'] for r in rows):.2f} s")


if __name__ == "__main__":
    main()
