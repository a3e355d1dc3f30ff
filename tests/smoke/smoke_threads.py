"""A threaded smoke pack for a ThreadSanitizer build of the extension: every
place where the engine runs threads (rotations side by side, the search's and
the compression phase's two chains, stable placement among pipes), and packs
run at once from Python threads, which share the process-wide NFP cache and
signature registry with the GIL released. It exits non-zero on a wrong
answer; ThreadSanitizer aborts it on a data race."""
import math
import random
import sys
import threading

import Quarvo
from Quarvo import Bin, Circle, FirstFit, Pipe, Polygon
from Quarvo.check import CIRCLE_REL_TOL, check_layout


def job(seed, n):
    rng = random.Random(seed)
    items = []
    for k in range(n):
        t = rng.random()
        if t < 0.35:
            items.append(Circle(rng.uniform(1, 6), shape_id=k))
        elif t < 0.8:
            m, r = rng.randint(3, 8), rng.uniform(2, 7)
            items.append(Polygon([(r * math.cos(2 * math.pi * i / m), r * math.sin(2 * math.pi * i / m))
                                  for i in range(m)], shape_id=k))
        else:
            w, h = rng.uniform(12, 20), rng.uniform(12, 20)
            items.append(Polygon([(0, 0), (w, 0), (w, h), (0, h)], [[(2, 2), (w - 2, 2), (w - 2, h - 2), (2, h - 2)]],
                                 shape_id=k))
    return items


def expect(cond, what):
    if not cond:
        print("smoke: FAILED:", what)
        sys.exit(1)


def packed_soundly(label, items, bin_, distance=1.0, **kw):
    bins, unplaced = FirstFit(items, bin_, distance, threads=2, **kw).do_pack()
    report = check_layout((bins, unplaced), bin_, distance=distance, circle_rel_tol=CIRCLE_REL_TOL,
                          gravity=kw.get("stable", False))
    expect(report.ok, f"{label}: {report.summary()}")
    print(f"smoke: {label}: {len(bins)} bins, {len(unplaced)} unplaced, check ok", flush=True)
    return bins


def main():
    print("smoke: package from", Quarvo.__file__)
    rotations = [0.0, math.pi / 2, math.pi, 0.7]
    packed_soundly("rotations side by side", job(1, 40), Bin(80.0, 60.0), rotations=rotations)
    packed_soundly("rotations side by side, incremental, dense holes", job(2, 40), Bin(80.0, 60.0),
                   rotations=rotations, incremental=True, hole_fill="dense")
    packed_soundly("the search's two chains", job(3, 20), Bin(60.0, None), rotations=rotations, iterations=12, seed=1)
    packed_soundly("the compression phase's two chains", job(4, 20), Bin(60.0, None), rotations=[0.0, math.pi],
                   compress=True, iterations=10, seed=2)
    rng = random.Random(5)
    pipes = [Pipe(rng.uniform(40, 160), rng.uniform(3, 12), length=6, shape_id=k) for k in range(30)]
    packed_soundly("pipes at rest, centre placement", pipes, Bin(600.0, 500.0), 2.0, stable=True,
                   placement="center", hole_fill="dense", exact_clearance=True)

    # Packs at once from Python threads: the engine runs with the GIL released
    # and its NFP cache and signature registry are the process's.
    results, failures = {}, []

    def run(k):
        try:
            items = job(10 + k % 2, 20)  # two threads on the same geometry, two on other geometry
            bins, unplaced = FirstFit(items, Bin(70.0, 60.0), 1.0, rotations=rotations, threads=2).do_pack()
            results[k] = check_layout((bins, unplaced), Bin(70.0, 60.0), distance=1.0,
                                      circle_rel_tol=CIRCLE_REL_TOL).ok
        except Exception as e:  # noqa: BLE001 - reported below
            failures.append(f"{type(e).__name__}: {e}")

    threads = [threading.Thread(target=run, args=(k,)) for k in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    expect(not failures, f"packs at once: {failures}")
    expect(all(results.get(k) for k in range(4)), f"packs at once: {results}")
    print("smoke: four packs at once from Python threads, check ok")
    print("smoke: ok")


if __name__ == "__main__":
    main()
