"""Time the layout checker on synthetic layouts and on a packed one.

Synthetic layouts are grids of mixed items (circles, hexagons, squares,
containers holding a circle), either touching their neighbours (distance 0,
the slow case: every touching pair needs an overlap search) or kept apart by
the distance. Run from the repository root:

    PYTHONPATH=python /work/venv/bin/python benchmarks/bench_check.py [--pack N] [--repeat R]
"""
import argparse
import math
import random
import time

from Quarvo.check import CIRCLE_REL_TOL, check_layout
from Quarvo.first_fit_algorithm import FirstFit
from Quarvo.geometry import Bin, Circle, Polygon


def grid(n, cell, gap, vertices=6):
    """About n items on a square grid of cells of size `cell` + `gap`."""
    side = math.ceil(math.sqrt(n))
    pitch = cell + gap
    items = []
    h = cell / 2
    for k in range(n):
        x, y = (k % side) * pitch + h, (k // side) * pitch + h
        kind = k % 4
        if kind == 0:
            it = Circle(h)
        elif kind == 1:
            # Regular polygon whose left and right vertices touch the cell walls.
            it = Polygon([(h * math.cos(2 * math.pi * i / vertices), h * math.sin(2 * math.pi * i / vertices))
                          for i in range(vertices)])
        elif kind == 2:
            it = Polygon([(-h, -h), (h, -h), (h, h), (-h, h)])
        else:
            w = h / 3
            hole = [(-h + w, -h + w), (h - w, -h + w), (h - w, h - w), (-h + w, h - w)]
            it = Polygon([(-h, -h), (h, -h), (h, h), (-h, h)], [hole])
            inner = Circle(h - w - gap - 0.1 if gap else h - w)
            inner.set_position(x, y)
            items.append(inner)
        it.set_position(x, y)
        items.append(it)
    return items[:n], side * pitch


def timed(fn, repeat):
    best = float("inf")
    for _ in range(repeat):
        t = time.perf_counter()
        out = fn()
        best = min(best, time.perf_counter() - t)
    return best, out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--pack", type=int, default=150, help="items in the packed layout (0: skip)")
    ap.add_argument("--repeat", type=int, default=5)
    a = ap.parse_args()
    random.seed(1)
    print(f"{'layout':44s} {'items':>6s} {'bins':>5s} {'verdict':>8s} {'best of ' + str(a.repeat):>12s}")
    for n, gap, verts in [(1000, 0.0, 6), (1000, 2.0, 6), (5000, 2.0, 6), (1000, 0.0, 64), (200, 0.0, 500)]:
        items, size = grid(n, 10.0, gap, verts)
        dist = gap
        t, rep = timed(lambda: check_layout(items, size, size, distance=dist), a.repeat)
        name = f"grid, distance {dist:g}, {verts}-gons"
        print(f"{name:44s} {n:6d} {len(rep.bins):5d} {'ok' if rep.ok else 'FAILED':>8s} {t * 1000:10.1f} ms")
    if a.pack:
        rng = random.Random(3)
        items = []
        for k in range(a.pack):
            if rng.random() < 0.5:
                items.append(Circle(rng.uniform(2, 8), shape_id=k))
            else:
                m, r = rng.randint(3, 8), rng.uniform(3, 9)
                items.append(Polygon([(r * math.cos(2 * math.pi * i / m), r * math.sin(2 * math.pi * i / m))
                                      for i in range(m)], shape_id=k))
        b = Bin(150.0, 120.0)
        for dist in (0.0, 2.0):
            t0 = time.perf_counter()
            res = FirstFit(items, b, dist).do_pack()
            tp = time.perf_counter() - t0
            t, rep = timed(lambda: check_layout(res, b, distance=dist, circle_rel_tol=CIRCLE_REL_TOL), a.repeat)
            name = f"FirstFit nfp, distance {dist:g} (packed in {tp:.1f} s)"
            print(f"{name:44s} {a.pack:6d} {len(rep.bins):5d} {'ok' if rep.ok else 'FAILED':>8s} {t * 1000:10.1f} ms")


if __name__ == "__main__":
    main()
