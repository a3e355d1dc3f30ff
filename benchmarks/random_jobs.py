"""Random-job validator: packs seeded random valid jobs of every kind and judges
every layout with its own geometry (tests/geometry_check.py: plain Python, no
engine call, not Quarvo.check).

A job is a list of items (circles, convex and non-convex polygons, rings and
other containers, tiny and huge ones, outlines far from their origin, with
weights, margins and inflations) in a bin from 0.01 to 1e7 wide or a strip,
packed by one family of options (strategy, placement, incremental) with the
other options drawn at random (rotations, hole_fill, exact_clearance,
nonconvex, threads, distance). A layout is unsound when an item leaves its
bin, or two items come closer than their inflations ask (half the distance
plus each item's inflation and margin), by more than the tolerance of the
placement: the engine's grid tolerance for no-fit-polygon placement, the 0.001
clearance for bottom-left, and for circles seen as inscribed 64-gons that
gap. Lost items, refused valid input, errors and hangs are counted too.

Each unsound job is shrunk (items removed while it stays unsound) and written
as a runnable reproduction into --repro (default /tmp/quarvo_repro).

    PYTHONPATH=python python benchmarks/random_jobs.py [--jobs N] [--first SEED] [--family SUBSTRING]
        [--workers K] [--repro DIR] [--timeout SECONDS]
"""
import argparse
import concurrent.futures as cf
import math
import os
import random
import signal
import sys
import time

from _about import ROOT, commit_and_machine

sys.path.insert(0, os.path.join(ROOT, "tests"))
import geometry_check as gc  # noqa: E402
from Quarvo import Bin, Circle, FirstFit, Polygon  # noqa: E402

# The tolerance to which no-fit-polygon placement keeps the distance and the
# bin, and the clearance of bottom-left placement.
NFP_TOL = math.sqrt(2) * 1e-6
BL_TOL = 1e-3
CIRCLE_GAP = 1.0 - math.cos(math.pi / 64)

FAMILIES = [
    ("nfp corner", dict(strategy="nfp", placement="corner")),
    ("nfp center", dict(strategy="nfp", placement="center")),
    ("nfp corner incremental", dict(strategy="nfp", placement="corner", incremental=True)),
    ("nfp center incremental", dict(strategy="nfp", placement="center", incremental=True)),
    ("bl", dict(strategy="bl", placement="corner")),
]


# ------------------------------------------------------------------ shapes

def _regular(r, n, phase=0.0, cx=0.0, cy=0.0, sx=1.0):
    return [(cx + sx * r * math.cos(phase + 2 * math.pi * k / n), cy + r * math.sin(phase + 2 * math.pi * k / n))
            for k in range(n)]


def _shape(rng, s):
    """(kind, outer, holes) or ("circle", radius) of about size s."""
    u = rng.random()
    if u < 0.25:
        return ("circle", s * rng.uniform(0.3, 0.5))
    if u < 0.38:
        return ("poly", _regular(s / 2, rng.randint(3, 12), rng.uniform(0, 2 * math.pi)), [])
    if u < 0.50:  # random convex polygon on an ellipse
        k = rng.randint(3, 11)
        angles = sorted(rng.uniform(0, 2 * math.pi) for _ in range(k))
        rx, ry = s / 2 * rng.uniform(0.3, 1), s / 2 * rng.uniform(0.3, 1)
        pts = [(rx * math.cos(a), ry * math.sin(a)) for a in angles]
        return ("poly", pts, []) if abs(gc.signed_area(pts)) > 1e-3 * rx * ry else ("poly", _regular(s / 2, 4), [])
    if u < 0.56:
        w, h = s * rng.uniform(0.2, 1), s * rng.uniform(0.2, 1)
        return ("poly", [(0, 0), (w, 0), (w, h), (0, h)], [])
    if u < 0.72:  # ring: an n-gon with an n-gon hole
        n = rng.choice([8, 16, 32, 64])
        ro = s / 2
        return ("poly", _regular(ro, n), [_regular(ro * rng.uniform(0.55, 0.92), n)])
    if u < 0.76:  # a plate with two rectangular holes
        w, h = s, s * rng.uniform(0.4, 0.8)
        t = 0.075 * w
        holes = [[(t, t), (w / 2 - t / 2, t), (w / 2 - t / 2, h - t), (t, h - t)],
                 [(w / 2 + t / 2, t), (w - t, t), (w - t, h - t), (w / 2 + t / 2, h - t)]]
        return ("poly", [(0, 0), (w, 0), (w, h), (0, h)], holes)
    if u < 0.82:  # L
        a, b = s * rng.uniform(0.15, 0.5), s * rng.uniform(0.15, 0.5)
        return ("poly", [(0, 0), (s, 0), (s, b), (a, b), (a, s), (0, s)], [])
    if u < 0.87:  # U
        w, h, t = s, s * rng.uniform(0.5, 1), s * rng.uniform(0.08, 0.3)
        return ("poly", [(0, 0), (w, 0), (w, h), (w - t, h), (w - t, t), (t, t), (t, h), (0, h)], [])
    if u < 0.93:  # star
        n = rng.randint(4, 7)
        radii = [s / 2 if k % 2 == 0 else s / 2 * rng.uniform(0.35, 0.7) for k in range(2 * n)]
        return ("poly", [(r * math.cos(math.pi * k / n), r * math.sin(math.pi * k / n)) for k, r in enumerate(radii)], [])
    if u < 0.97:  # a simple polygon around a point: random radii at sorted angles
        k = rng.randint(5, 14)
        angles = [2 * math.pi * (i + rng.uniform(0, 0.9)) / k for i in range(k)]  # gaps below pi
        radii = [s / 2 * rng.uniform(0.3, 1) for _ in angles]
        pts = [(r * math.cos(a), r * math.sin(a)) for r, a in zip(radii, angles)]
        if abs(gc.signed_area(pts)) < 1e-3 * s * s:
            pts = _regular(s / 2, 5)
        return ("poly", pts, [])
    # a square frame with a non-convex (L-shaped) hole
    t = s * 0.1
    hole = [(t, t), (s - t, t), (s - t, s / 2), (s / 2, s / 2), (s / 2, s - t), (t, s - t)]
    return ("poly", [(0, 0), (s, 0), (s, s), (0, s)], [hole])


def make_job(seed, family):
    """The items, bin and FirstFit keywords of job ``seed`` of ``family`` (a pair name, options)."""
    name, fixed = family
    rng = random.Random(f"{name}/{seed}")
    bw = 10 ** rng.uniform(-2, 7)
    strip = fixed["placement"] == "corner" and rng.random() < 0.12
    bh = None if strip else bw * rng.uniform(0.5, 1.5)
    items = []
    for i in range(rng.randint(1, 36)):
        v = rng.random()
        s = bw * (rng.uniform(0.001, 0.01) if v < 0.08 else rng.uniform(1.05, 1.6) if v < 0.11
                  else 10 ** rng.uniform(-2, -0.4))
        shape = _shape(rng, s)
        if shape[0] == "circle":
            it = Circle(shape[1], shape_id=i)
        else:
            outer, holes = shape[1], shape[2]
            if rng.random() < 0.2:  # an outline far from its local origin
                dx, dy = bw * rng.uniform(-5, 5), bw * rng.uniform(-5, 5)
                outer = [(x + dx, y + dy) for x, y in outer]
                holes = [[(x + dx, y + dy) for x, y in h] for h in holes]
            it = Polygon(outer, holes=holes or None, shape_id=i)
        if rng.random() < 0.3:
            it.weight = rng.choice([1.0, 5.0, rng.uniform(0, 60)])
        if rng.random() < 0.2:
            it.margin = s * rng.uniform(0, 0.05)
        if rng.random() < 0.2:
            it.inflation = s * rng.uniform(0, 0.05)
        items.append(it)
    kw = dict(fixed)
    kw["global_distance"] = 0.0 if rng.random() < 0.4 else bw * 10 ** rng.uniform(-4, -1.5)
    kw["threads"] = rng.choice([1, 2])
    if kw["strategy"] == "nfp":
        kw["rotations"] = rng.choice([None, None, [0.0], [0.0, math.pi / 2],
                                      [rng.uniform(0, 2 * math.pi) for _ in range(rng.randint(1, 3))]])
        kw["hole_fill"] = rng.choice(["sampled", "sampled", "dense"])
        kw["nonconvex"] = rng.random() < 0.3
    kw["exact_clearance"] = rng.random() < 0.25
    return items, Bin(bw, bh), kw


# ------------------------------------------------------------------ judging

def judge(items, bin_, kw, bins, unplaced, stats=None):
    """Faults of a finished job as (kind, shortfall, tolerance, text); empty when
    sound. ``stats["worst"]``: the largest shortfall beyond the circles' gap."""
    faults = []
    worst = -math.inf
    placed = [it for b in bins for it in b]
    if sorted(map(id, placed + list(unplaced))) != sorted(map(id, items)):
        faults.append(("lost", math.inf, 0.0, "items lost or duplicated"))
    if any(it.infl != 0.0 for it in items):
        faults.append(("lost", math.inf, 0.0, "an item keeps its inflation"))
    d = kw.get("global_distance", 0.0)
    bl = kw.get("strategy") == "bl"
    exact = kw.get("exact_clearance", False)
    infl = {id(it): d / 2 + it.inflation + it.margin for it in items}
    scale = max([bin_.width, bin_.height or 0.0] + [abs(it.tx) + abs(it.ty) for it in placed])
    base = (BL_TOL if bl else NFP_TOL) + 1e-14 * scale

    def slack(it):
        return CIRCLE_GAP * (it.radius + infl[id(it)]) if isinstance(it, Circle) and not exact else 0.0

    for k, b in enumerate(bins):
        mats = [gc.Material(it) for it in b]
        for it, m in zip(b, mats):
            ex = gc.material_bin_excess(m, infl[id(it)], bin_.width, bin_.height)
            tol = base + slack(it)
            worst = max(worst, ex - slack(it))
            if ex > tol:
                faults.append(("bin", ex, tol, f"bin {k}: item {it.shape_id} leaves the bin by {ex:.6g}"))
        for i in range(len(b)):
            for j in range(i + 1, len(b)):
                need = infl[id(b[i])] + infl[id(b[j])]
                tol = base + slack(b[i]) + slack(b[j])
                gap = gc.material_gap(mats[i], mats[j], need + 1.0)
                worst = max(worst, need - gap - slack(b[i]) - slack(b[j]))
                if need - gap > tol:
                    faults.append(("pair", need - gap, tol, f"bin {k}: items {b[i].shape_id} and {b[j].shape_id} "
                                   f"are {gap:.9g} apart, {need - gap:.6g} short of {need:.9g}"))
    if stats is not None:
        stats["worst"] = worst
    return faults


# ------------------------------------------------------------------ running

class Hang(Exception):
    pass


def _alarm(signum, frame):
    raise Hang()


def pack(items, bin_, kw, timeout):
    old = signal.signal(signal.SIGALRM, _alarm)
    signal.setitimer(signal.ITIMER_REAL, timeout)
    try:
        return FirstFit(items, bin_, **kw).do_pack()
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, old)


def run_job(seed, fam_index, timeout, subset=None):
    """(status, faults, seconds) of one job; ``subset``: the item indices to keep."""
    family = FAMILIES[fam_index]
    items, bin_, kw = make_job(seed, family)
    if subset is not None:
        items = [items[i] for i in subset]
    t0 = time.perf_counter()
    try:
        bins, unplaced = pack(items, bin_, kw, timeout)
    except Hang:
        return "hang", [], time.perf_counter() - t0, -math.inf
    except KeyboardInterrupt:
        return "hang", [], time.perf_counter() - t0, -math.inf
    except ValueError as e:
        return "refused", [("refused", math.inf, 0.0, str(e))], time.perf_counter() - t0, -math.inf
    except Exception as e:  # noqa: BLE001 - any other failure is counted and shown
        return "error", [("error", math.inf, 0.0, f"{type(e).__name__}: {e}")], time.perf_counter() - t0, -math.inf
    dt = time.perf_counter() - t0
    stats = {}
    faults = judge(items, bin_, kw, bins, unplaced, stats)
    return ("unsound" if faults else "ok"), faults, dt, stats.get("worst", -math.inf)


def shrink(seed, fam_index, timeout, budget=150):
    """Item indices of a smaller job that is still unsound."""
    n = len(make_job(seed, FAMILIES[fam_index])[0])
    keep = list(range(n))
    tries = 0
    chunk = max(1, n // 2)
    while chunk >= 1 and tries < budget:
        i, changed = 0, False
        while i < len(keep) and tries < budget:
            trial = keep[:i] + keep[i + chunk:]
            tries += 1
            if trial and run_job(seed, fam_index, timeout, trial)[0] == "unsound":
                keep, changed = trial, True
            else:
                i += chunk
        if not changed:
            chunk //= 2
    return keep


def _item_source(it):
    if isinstance(it, Circle):
        lines = [f"it = Circle({it.radius!r}, shape_id={it.shape_id!r})"]
    else:
        holes = [list(map(tuple, gc.distinct(h))) for h in it.holes]
        lines = [f"it = Polygon({list(map(tuple, gc.distinct(it.outer)))!r}, holes={holes or None!r}, "
                 f"shape_id={it.shape_id!r})"]
    for attr in ("weight", "margin", "inflation"):
        if getattr(it, attr):
            lines.append(f"it.{attr} = {getattr(it, attr)!r}")
    return lines + ["items.append(it)"]


def write_repro(path, seed, fam_index, subset, faults):
    family = FAMILIES[fam_index]
    items, bin_, kw = make_job(seed, family)
    items = [items[i] for i in subset]
    src = [f"# Random job {seed} of family {family[0]!r}, shrunk to {len(items)} items: unsound with",
           *[f"#   {f[3]}" for f in faults[:5]],
           "# Run: PYTHONPATH=python python THIS_FILE (from the repository root)",
           "import math, os, sys",
           f"sys.path.insert(0, {os.path.join(ROOT, 'benchmarks')!r})",
           "from Quarvo import Bin, Circle, Polygon, FirstFit",
           "from random_jobs import judge",
           "items = []"]
    for it in items:
        src += _item_source(it)
    src += [f"bin_ = Bin({bin_.width!r}, {bin_.height!r})",
            f"kw = {kw!r}",
            "bins, unplaced = FirstFit(items, bin_, **kw).do_pack()",
            "for k, b in enumerate(bins):",
            "    for it in b:",
            "        print('bin', k, it.shape_id, 'tx=%r ty=%r rot=%r' % (it.tx, it.ty, it.rotation))",
            "print('unplaced', [it.shape_id for it in unplaced])",
            "faults = judge(items, bin_, kw, bins, unplaced)",
            "print('\\n'.join(f[3] for f in faults) or 'sound')"]
    with open(path, "w") as f:
        f.write("\n".join(src) + "\n")


def _work(args):
    seed, fam_index, timeout = args
    return seed, fam_index, run_job(seed, fam_index, timeout)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--jobs", type=int, default=200, help="jobs per family")
    ap.add_argument("--first", type=int, default=0, help="first seed")
    ap.add_argument("--family", default="", help="only families whose name contains this")
    ap.add_argument("--workers", type=int, default=1)
    ap.add_argument("--timeout", type=float, default=300.0, help="seconds before a job counts as hung")
    ap.add_argument("--repro", default="/tmp/quarvo_repro", help="folder for the reproductions")
    ap.add_argument("--no-shrink", action="store_true")
    args = ap.parse_args()
    print(commit_and_machine(), flush=True)
    fams = [k for k, (name, _) in enumerate(FAMILIES) if args.family in name]
    tasks = [(s, k, args.timeout) for s in range(args.first, args.first + args.jobs) for k in fams]
    counts = {k: dict(jobs=0, ok=0, unsound=0, refused=0, error=0, hang=0, lost=0, seconds=0.0, worst=-math.inf)
              for k in fams}
    bad = []
    t0 = time.perf_counter()
    with cf.ProcessPoolExecutor(args.workers) as ex:
        for seed, k, (status, faults, dt, worst) in ex.map(_work, tasks, chunksize=4):
            c = counts[k]
            if status == "ok":
                c["worst"] = max(c["worst"], worst)
            c["jobs"] += 1
            c["seconds"] += dt
            if any(f[0] == "lost" for f in faults):
                c["lost"] += 1
                status = "unsound"
            c[status] += 1
            if status != "ok":
                bad.append((seed, k, status, faults))
                print(f"  {status}: seed {seed}, {FAMILIES[k][0]}: {faults[0][3] if faults else ''}", flush=True)
    os.makedirs(args.repro, exist_ok=True)
    for seed, k, status, faults in bad:
        if status != "unsound" or args.no_shrink:
            continue
        subset = shrink(seed, k, args.timeout)
        st, fs, _, _ = run_job(seed, k, args.timeout, subset)
        path = os.path.join(args.repro, f"{FAMILIES[k][0].replace(' ', '_')}_{seed}.py")
        write_repro(path, seed, k, subset, fs or faults)
        print(f"  reproduction of seed {seed} ({FAMILIES[k][0]}, {len(subset)} items): {path}", flush=True)
    print(f"{'family':28s} {'jobs':>6s} {'unsound':>8s} {'refused':>8s} {'errors':>7s} {'hung':>5s} {'lost':>5s} "
          f"{'pack s':>8s}  worst shortfall of the sound (beyond circles' gap)")
    tot = dict(jobs=0, unsound=0, refused=0, error=0, hang=0, lost=0, seconds=0.0)
    for k in fams:
        c = counts[k]
        for key in tot:
            tot[key] += c[key]
        print(f"{FAMILIES[k][0]:28s} {c['jobs']:6d} {c['unsound']:8d} {c['refused']:8d} {c['error']:7d} "
              f"{c['hang']:5d} {c['lost']:5d} {c['seconds']:8.1f}  {c['worst']:.4g}")
    print(f"{'all':28s} {tot['jobs']:6d} {tot['unsound']:8d} {tot['refused']:8d} {tot['error']:7d} {tot['hang']:5d} "
          f"{tot['lost']:5d} {tot['seconds']:8.1f}   (seeds {args.first}-{args.first + args.jobs - 1}, "
          f"{time.perf_counter() - t0:.0f} s wall)")
    return 1 if tot["unsound"] or tot["refused"] or tot["error"] or tot["hang"] else 0


if __name__ == "__main__":
    sys.exit(main())
