"""Time the ring check a Polygon runs when it is built (its rings must bound a
sound region): a convex contour, a simple non-convex star and a random tangled
contour, each of N points (default 100,000). Prints the figures with the
commit and the machine. Run from the repository root:

    PYTHONPATH=python /work/main/.venv/bin/python benchmarks/bench_ring_check.py [--points N] [--repeat R]
"""
import argparse
import math
import os
import platform
import random
import subprocess
import time

from Quarvo.geometry import Polygon


def contours(n):
    rng = random.Random(1)
    return {
        "convex": [(100 * math.cos(2 * math.pi * i / n), 100 * math.sin(2 * math.pi * i / n)) for i in range(n)],
        "simple star": [((100 + i % 2) * math.cos(2 * math.pi * i / n), (100 + i % 2) * math.sin(2 * math.pi * i / n))
                        for i in range(n)],
        "tangled (refused)": [(rng.uniform(0, 100), rng.uniform(0, 100)) for _ in range(n)],
    }


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--points", type=int, default=100_000)
    ap.add_argument("--repeat", type=int, default=3)
    args = ap.parse_args()
    commit = subprocess.run(["git", "rev-parse", "--short", "HEAD"], capture_output=True, text=True).stdout.strip()
    print(f"commit {commit}, {platform.processor() or platform.machine()}, {os.cpu_count()} cores, {platform.python_version()}")
    for name, pts in contours(args.points).items():
        best = math.inf
        for _ in range(args.repeat):
            t = time.perf_counter()
            try:
                Polygon(pts)
            except ValueError:
                pass
            best = min(best, time.perf_counter() - t)
        print(f"{name:>18}: {len(pts)} points, best of {args.repeat}: {best:.3f} s")


if __name__ == "__main__":
    main()
