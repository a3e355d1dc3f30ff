"""Single-bin fills through NfpPlacer: time per item, the union's share of the
time, NFP cache entries and peak memory.

Run:  PYTHONPATH=python python benchmarks/bench_placer_nfp.py [--seed N] [--runs N]

Each case runs in a fresh interpreter, so the process-wide NFP cache and the
peak resident size belong to that case alone.

The fill is timed twice: on one thread (CPU time, the basis of the union's
share) and with the default placer, which tries rotations on one thread per
core (wall-clock time).

The union's time is measured inside the engine: the thread CPU time spent in
Clipper's union (Quarvo.placer_nfp._union_seconds()) during the one-thread
fill, against the process CPU time of that fill.
"""
import argparse
import json
import math
import random
import resource
import subprocess
import sys
import time

CASES = {
    "circles200": dict(kind="circles", n=200, bin=1000.0),
    "circles400": dict(kind="circles", n=400, bin=1400.0),
    "polygons150": dict(kind="polygons", n=150, bin=1000.0),
}
RADII = [10.0, 20.0, 30.0, 40.0, 50.0, 60.0]
DISTANCE = 2.0
clock = time.process_time  # CPU time of this process: other load on the machine counts less


def make_items(kind, n, seed):
    from Quarvo.geometry import Circle, Polygon

    rnd = random.Random(seed)
    items = []
    for i in range(n):
        if kind == "circles":
            it = Circle(rnd.choice(RADII), shape_id=i)
            size = it.radius
        else:
            k = rnd.randint(3, 8)
            a, b = rnd.uniform(12, 55), rnd.uniform(12, 55)
            phase = rnd.uniform(0, 2 * math.pi)
            gaps = [rnd.uniform(0.4, 1.0) for _ in range(k)]
            tot, acc, pts = sum(gaps), phase, []
            for g in gaps:
                pts.append((a * math.cos(acc), b * math.sin(acc)))
                acc += 2 * math.pi * g / tot
            it = Polygon(pts, shape_id=i)
            size = it.area()
        it.infl = DISTANCE / 2
        items.append((size, it))
    return items


def run_case(name, order, seed, threads):
    import Quarvo.placer_nfp as pn

    case = CASES[name]
    items = make_items(case["kind"], case["n"], seed)
    if order == "descending":
        items.sort(key=lambda p: p[0], reverse=True)  # stable
    items = [it for _, it in items]
    W = H = case["bin"]
    placer = pn.NfpPlacer(W, H, threads=threads)

    rss_base = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    u0 = pn._union_seconds()
    w0, t0 = time.perf_counter(), clock()
    for it in items:
        placer.trypack(it)
    fill, wall = clock() - t0, time.perf_counter() - w0
    union = pn._union_seconds() - u0
    cache_entries = len(pn._nfp_cache)
    rss_fill = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    return dict(case=name, order=order, threads=placer.threads, items=len(items), placed=len(placer.packed),
                fill_s=fill, wall_s=wall, per_item_ms=1000 * fill / len(items), cache_entries=cache_entries,
                peak_rss_mb=rss_fill / 1024.0, base_rss_mb=rss_base / 1024.0, union_s=union)


def measure(name, order, seed, runs, threads):
    """Least times over fresh processes."""
    rows = []
    for _ in range(runs):
        cmd = [sys.executable, __file__, "--case", name, "--order", order, "--seed", str(seed)]
        if threads:
            cmd += ["--threads", str(threads)]
        out = subprocess.run(cmd, check=True, capture_output=True, text=True)
        rows.append(json.loads(out.stdout))
    r = min(rows, key=lambda x: x["fill_s"])
    r["wall_s"] = min(x["wall_s"] for x in rows)
    return r


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--seed", type=int, default=20240611)
    ap.add_argument("--runs", type=int, default=3, help="fresh processes per case; the least times count")
    ap.add_argument("--case", choices=sorted(CASES), help=argparse.SUPPRESS)
    ap.add_argument("--order", choices=["random", "descending"], help=argparse.SUPPRESS)
    ap.add_argument("--threads", type=int, help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.case:
        print(json.dumps(run_case(args.case, args.order, args.seed, args.threads)))
        return

    rows = []
    for name in CASES:
        for order in ("random", "descending"):
            r = measure(name, order, args.seed, args.runs, 1)
            r["wall_default"] = measure(name, order, args.seed, args.runs, None)
            rows.append(r)
            print("done %s/%s" % (name, order), file=sys.stderr)

    print("seed %d, distance %.1f (infl %.1f), default rotations; least of %d fresh processes"
          % (args.seed, DISTANCE, DISTANCE / 2, args.runs))
    head = ("case", "order", "placed", "CPU s", "ms/item", "union s", "union %", "other %",
            "wall s", "thr", "cache", "peak MB", "base MB")
    fmt = "%-12s %-10s %8s %7s %7s %7s %7s %7s %7s %3s %6s %7s %7s"
    print(fmt % head)
    for r in rows:
        d = r["wall_default"]
        share = r["union_s"] / r["fill_s"]
        print(fmt % (r["case"], r["order"], "%d/%d" % (r["placed"], r["items"]), "%.3f" % r["fill_s"],
                     "%.2f" % r["per_item_ms"], "%.3f" % r["union_s"], "%.1f" % (100 * share),
                     "%.1f" % (100 * (1 - share)), "%.3f" % d["wall_s"], d["threads"], r["cache_entries"],
                     "%.1f" % r["peak_rss_mb"], "%.1f" % r["base_rss_mb"]))
    print()
    print("CPU s, ms/item: the trypack loop on one thread (threads=1), CPU time of the process.")
    print("union s: CPU time inside Clipper's union during that fill; other %: the rest (target: 15 or less).")
    print("wall s: the same fill with the default placer (thr = threads, one per core), wall-clock time.")
    print("cache: len(_nfp_cache) after the fill; peak MB: ru_maxrss after it; base MB: before it.")


if __name__ == "__main__":
    main()
