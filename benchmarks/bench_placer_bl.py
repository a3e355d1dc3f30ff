"""Fill one 1000 x 1000 bin with 300 mixed items through BottomLeftPlacer.

A third circles, a third convex polygons, a third non-convex polygons (L, U,
T and zig-zag outlines), fixed seed, offered largest first. Prints the time
per item, the total and the peak resident memory. Run from the repository
root:

    PYTHONPATH=python /work/venv/bin/python benchmarks/bench_placer_bl.py [--repeat N]
"""
import argparse
import math
import random
import resource
import time

from Quarvo.geometry import Circle, Polygon
from Quarvo.placer_bl import BottomLeftPlacer

BIN = 1000.0
COUNT = 300


def non_convex(rng, kind, w, h):
    t = min(w, h) * rng.uniform(0.2, 0.35)
    if kind == "L":
        pts = [(0, 0), (0, h), (t, h), (t, t), (w, t), (w, 0)]
    elif kind == "U":
        pts = [(0, 0), (0, h), (t, h), (t, t), (w - t, t), (w - t, h), (w, h), (w, 0)]
    elif kind == "T":
        a = (w - t) / 2
        pts = [(a, 0), (a, h - t), (0, h - t), (0, h), (w, h), (w, h - t), (a + t, h - t), (a + t, 0)]
    else:  # zig-zag top edge
        n = 4
        pts = [(0, 0), (0, h)]
        for i in range(1, n + 1):
            pts.append((w * (i - 0.5) / n, h - t))
            pts.append((w * i / n, h))
        pts.append((w, 0))
    return Polygon(pts)


def convex(rng, size):
    k = rng.randint(3, 9)
    rx, ry = size / 2 * rng.uniform(0.6, 1.0), size / 2 * rng.uniform(0.6, 1.0)
    step = 2 * math.pi / k
    angles = [i * step + rng.uniform(-0.3, 0.3) * step for i in range(k)]
    return Polygon([(rx * math.cos(a), ry * math.sin(a)) for a in angles])


def make_items(seed=20240601):
    rng = random.Random(seed)
    items = []
    for i in range(COUNT):
        size = rng.uniform(15.0, 45.0)
        if i % 3 == 0:
            items.append(Circle(size / 2))
        elif i % 3 == 1:
            items.append(convex(rng, size))
        else:
            kind = rng.choice("LUTZ")
            items.append(non_convex(rng, kind, size, size * rng.uniform(0.6, 1.2)))
    items.sort(key=lambda s: -s.area())
    return items


def run_once():
    items = make_items()
    placer = BottomLeftPlacer(BIN, BIN)
    t0 = time.perf_counter()
    refused = 0
    for it in items:
        if not placer.trypack(it):
            refused += 1
    return time.perf_counter() - t0, len(placer.packed), refused


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--repeat", type=int, default=5, help="fills to run; the best is reported")
    args = ap.parse_args()
    times = []
    for _ in range(args.repeat):
        total, placed, refused = run_once()
        times.append(total)
    best = min(times)
    peak_kib = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    print(f"BottomLeftPlacer, one {BIN:.0f} x {BIN:.0f} bin, {COUNT} items (100 circles, 100 convex, 100 non-convex)")
    print(f"placed {placed}, refused {refused}")
    print(f"total   best {best:.4f} s   median {sorted(times)[len(times) // 2]:.4f} s over {args.repeat} fills")
    print(f"per item {best / COUNT * 1e3:.3f} ms")
    print(f"peak RSS {peak_kib / 1024:.1f} MiB")


if __name__ == "__main__":
    main()
