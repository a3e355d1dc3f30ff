"""Memory over repeated runs: the same job packed 100 times in one process.

The NFP cache holds one entry per pair of item kinds, rotations and
inflations; neither more items of a kind nor more runs may add to it, and the
process must not grow from one run to the next. Prints, after the first and
after the last run (and a few in between), the peak resident size
(ru_maxrss), the current resident size and the number of cached NFPs, for
three ways of repeating the job: the same item objects packed again, equal
items built afresh for every run, and the bottom-left strategy.

Then `--varied` packs (default 1,000) of random jobs whose every item is a new
shape: each pack adds NFPs, and the cache must stay under its bound (256 MiB
unless `--limit` says otherwise) by evicting the least recently used ones.

    PYTHONPATH=python python benchmarks/bench_memory.py [--runs N] [--varied N] [--limit BYTES]
"""
import argparse
import math
import random
import resource
import time

from _about import commit_and_machine
from Quarvo import Bin, Circle, FirstFit, Polygon
from Quarvo.placer_nfp import _nfp_cache, nfp_cache_info, set_nfp_cache_limit

BIN = Bin(160.0, 120.0)
DISTANCE = 1.0


def job(seed=3, n=150):
    """Mixed kinds, many items of each: circles of four sizes, three regular
    polygons, a rectangle and a ring with a hole."""
    rng = random.Random(seed)
    kinds = [
        lambda: Circle(3.0), lambda: Circle(4.5), lambda: Circle(2.0), lambda: Circle(6.0),
        lambda: Polygon([(5 * math.cos(2 * math.pi * i / 6), 5 * math.sin(2 * math.pi * i / 6)) for i in range(6)]),
        lambda: Polygon([(4 * math.cos(2 * math.pi * i / 5), 4 * math.sin(2 * math.pi * i / 5)) for i in range(5)]),
        lambda: Polygon([(0, 0), (9, 0), (9, 4), (0, 4)]),
        lambda: Polygon([(0, 0), (18, 0), (18, 18), (0, 18)], [[(2, 2), (16, 2), (16, 16), (2, 16)]]),
    ]
    items = []
    for k in range(n):
        item = kinds[rng.randrange(len(kinds))]()
        item.weight = float(rng.randrange(3))
        items.append(item)
    return items


def rss_kb():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * resource.getpagesize() // 1024


def peak_kb():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss


def repeat(label, runs, make_items, strategy):
    shared = make_items() if label.startswith("same") else None
    print(f"\n{label} ({strategy}), {runs} runs")
    print(f"{'after run':>10} {'peak RSS MB':>12} {'RSS MB':>8} {'NFP cache':>10} {'bins':>5} {'seconds':>8}")
    print(f"{'before':>10} {peak_kb() / 1024:>12.1f} {rss_kb() / 1024:>8.1f} {len(_nfp_cache):>10}")
    first = None
    t0 = time.perf_counter()
    for run in range(1, runs + 1):
        items = shared if shared is not None else make_items()
        bins, unplaced = FirstFit(items, BIN, DISTANCE, strategy=strategy).do_pack()
        assert sum(map(len, bins)) + len(unplaced) == len(items)
        if run in (1, 2, 10, 50, runs):
            row = (peak_kb() / 1024, rss_kb() / 1024, len(_nfp_cache))
            if first is None:
                first = row
            print(f"{run:>10} {row[0]:>12.1f} {row[1]:>8.1f} {row[2]:>10} {len(bins):>5} {time.perf_counter() - t0:>8.2f}")
    last = (peak_kb() / 1024, rss_kb() / 1024, len(_nfp_cache))
    print(f"  growth from run 1 to run {runs}: peak {last[0] - first[0]:+.1f} MB, "
          f"RSS {last[1] - first[1]:+.1f} MB, NFP cache {last[2] - first[2]:+d} entries")
    return last[2] - first[2]


def varied_job(rng):
    """18 to 28 items, every one a shape of its own: random convex polygons,
    rectangles, circles and rings, sizes over three decades, random rotations."""
    s = 10 ** rng.uniform(0, 3)
    items = []
    for _ in range(rng.randint(18, 28)):
        k = rng.randrange(4)
        size = s * rng.uniform(0.03, 0.12)
        if k == 0:
            items.append(Circle(size))
        elif k == 1:
            items.append(Polygon([(0, 0), (size, 0), (size, size * rng.uniform(0.2, 1)), (0, size * 0.7)]))
        elif k == 2:
            n = rng.randint(5, 12)
            items.append(Polygon([(size * math.cos(2 * math.pi * (i + rng.random() * 0.5) / n),
                                   size * math.sin(2 * math.pi * (i + rng.random() * 0.5) / n)) for i in range(n)]))
        else:
            items.append(Polygon([(0, 0), (3 * size, 0), (3 * size, 3 * size), (0, 3 * size)],
                                 [[(size, size), (2 * size, size), (2 * size, 2 * size), (size, 2 * size)]]))
        items[-1].weight = rng.random()
    rots = [0.0, math.pi / 2, rng.uniform(0, math.pi), rng.uniform(math.pi, 2 * math.pi)]
    return items, Bin(s, s), s * rng.uniform(0, 0.01), rots


def varied(packs, limit):
    if limit is not None:
        set_nfp_cache_limit(limit)
    bound = nfp_cache_info()["limit"]
    print(f"\n{packs} varied random packs (every item a new shape), NFP cache bound {bound / 2**20:.1f} MiB")
    print(f"{'after pack':>10} {'peak RSS MB':>12} {'RSS MB':>8} {'entries':>8} {'cache MiB':>10} {'seconds':>8}")
    rng = random.Random(11)
    most = 0
    t0 = time.perf_counter()
    for k in range(1, packs + 1):
        items, b, d, rots = varied_job(rng)
        FirstFit(items, b, d, rotations=rots).do_pack()
        info = nfp_cache_info()
        most = max(most, info["bytes"])
        if k in (1, 10, 100, 250, 500, 750, packs):
            print(f"{k:>10} {peak_kb() / 1024:>12.1f} {rss_kb() / 1024:>8.1f} {info['entries']:>8} "
                  f"{info['bytes'] / 2**20:>10.1f} {time.perf_counter() - t0:>8.1f}")
    print(f"  largest cache size seen: {most / 2**20:.1f} MiB of {bound / 2**20:.1f} MiB "
          f"({'under' if most <= bound else 'OVER'} the bound)")


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--runs", type=int, default=100)
    ap.add_argument("--varied", type=int, default=1000, help="varied random packs (0: none)")
    ap.add_argument("--limit", type=int, default=None, help="NFP cache bound in bytes for the varied packs")
    args = ap.parse_args()
    print(commit_and_machine())
    print(f"job: {len(job())} items of 8 kinds, bin {BIN.width} x {BIN.height}, distance {DISTANCE}, "
          f"default rotations (4)")
    grew = repeat("same items packed again", args.runs, job, "nfp")
    grew += repeat("equal items built afresh", args.runs, job, "nfp")
    repeat("equal items built afresh", args.runs, job, "bl")
    print("\nNFP cache entries added after the first run:", grew)
    if args.varied > 0:
        varied(args.varied, args.limit)


if __name__ == "__main__":
    main()
