"""Random-job validator: packs seeded random valid jobs of every kind and judges
every layout with its own geometry (tests/geometry_check.py: plain Python, no
engine call, not Quarvo.check).

A job is a list of items (circles, convex and non-convex polygons, rings and
other containers, tiny and huge ones, outlines far from their origin, outlines
with a vertex given twice, mirrored parts, copies of one geometry, with
weights, margins and inflations) in a bin from 0.01 to 1e7 wide or a strip,
packed by one family of options (strategy, placement, incremental, the
compression phase) with the other options drawn at random (rotations,
hole_fill, exact_clearance, nonconvex, mirror, threads, distance). A layout
is unsound when an item leaves its bin, or two items come closer than their
inflations ask (half the distance plus each item's inflation and margin), by
more than the engine's tolerance, sqrt(2) x 1e-6 (and 1e-14 of the
coordinates' magnitude), and for circles seen as inscribed 64-gons that gap.
Lost items, refused valid input, errors and hangs are counted too.

Each unsound job is shrunk (items removed while it stays unsound) and written
as a runnable reproduction into --repro (default /tmp/quarvo_repro).

    PYTHONPATH=python python benchmarks/random_jobs.py [--jobs N] [--first SEED] [--family SUBSTRING]
        [--workers K] [--repro DIR] [--timeout SECONDS] [--near-twins] [--far]

--near-twins draws a vertex's twin 1e-12 to 1e-9 of the outline's size apart
instead of on it (the written offset took such a twin's direction at face
value, and some layouts came out short). --far moves a quarter of the
outlines 1e6 to 8e11 from their own origin (the documented range is 1e12).
Items below the grid (their material's area over perimeter under the
engine's tolerance at the bin's size), which the engine refuses, are not drawn.
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

# The tolerance to which the engine keeps the distance and the bin (and 1e-14
# of the coordinates' magnitude for the rounding of doubles).
TOL = math.sqrt(2) * 1e-6
CIRCLE_GAP = 1.0 - math.cos(math.pi / 64)

FAMILIES = [
    ("nfp corner", dict(strategy="nfp", placement="corner")),
    ("nfp center", dict(strategy="nfp", placement="center")),
    ("nfp corner incremental", dict(strategy="nfp", placement="corner", incremental=True)),
    ("nfp center incremental", dict(strategy="nfp", placement="center", incremental=True)),
    ("bl", dict(strategy="bl", placement="corner")),
    # the compression phase after the greedy pass (600 item moves)
    ("nfp corner compress", dict(strategy="nfp", placement="corner", compress=True, iterations=30)),
    ("bl compress", dict(strategy="bl", placement="corner", compress=True, iterations=30)),
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


WIDTHS = (-2.0, 7.0)  # bin widths from 10^-2 to 10^7
# Twins a hair apart instead of exact repeats (--near-twins; other jobs).
NEAR_TWINS = False
# Outlines 1e6 to 8e11 from their own origin (--far; other jobs).
FAR = False


def below_grid(item, magnitude):
    """Whether the engine refuses the item as below its grid: its material's
    area over its perimeter (each ring taken about its first point, as the
    engine takes an outline far from its origin) under the tolerance."""
    limit = (TOL + 1e-14 * magnitude) * 1.001
    if isinstance(item, Circle):
        return item.radius / 2 < limit
    area = length = 0.0
    for k, ring in enumerate([item.outer] + list(item.holes)):
        x0, y0 = ring[0]
        pts = [(x - x0, y - y0) for x, y in ring]
        area += (1 if k == 0 else -1) * abs(sum(x1 * y2 - x2 * y1 for (x1, y1), (x2, y2) in zip(pts, pts[1:] + pts[:1]))) / 2
        length += sum(math.hypot(x2 - x1, y2 - y1) for (x1, y1), (x2, y2) in zip(pts, pts[1:] + pts[:1]))
    return max(area, 0.0) / length < limit


def make_job(seed, family, widths=WIDTHS):
    """The items, bin and FirstFit keywords of job ``seed`` of ``family`` (a pair
    name, options), its bin width 10^u for u uniform in ``widths``."""
    name, fixed = family
    rng = random.Random(f"{name}/{seed}" if widths == WIDTHS else f"{name}/{seed}/{widths}")
    # the kinds added later draw from a generator of their own, so that the
    # jobs of a seed keep the rest of what they were
    later = random.Random(f"{name}/{seed}/later" if widths == WIDTHS else f"{name}/{seed}/{widths}/later")
    bw = 10 ** rng.uniform(*widths)
    strip = fixed["placement"] == "corner" and rng.random() < 0.12
    bh = None if strip else bw * rng.uniform(0.5, 1.5)
    items = []
    for _ in range(rng.randint(1, 24)):
        if len(items) >= 48:
            break
        v = rng.random()
        s = bw * (rng.uniform(0.001, 0.01) if v < 0.08 else rng.uniform(1.05, 1.6) if v < 0.11
                  else 10 ** rng.uniform(-2, -0.4))
        shape = plain = _shape(rng, s)
        if shape[0] != "circle" and later.random() < 0.08:
            # a vertex given twice; with --near-twins the twin lies 1e-12 to
            # 1e-9 of the outline's size apart, in any direction
            pts = list(shape[1])
            k = later.randrange(len(pts))
            if NEAR_TWINS:
                ang = later.uniform(0, 2 * math.pi)
                d = s * 10 ** later.uniform(-12, -9)
                pts.insert(k + 1, (pts[k][0] + d * math.cos(ang), pts[k][1] + d * math.sin(ang)))
            else:
                pts.insert(k + 1, pts[k])
            shape = (shape[0], pts, shape[2])
        if shape[0] != "circle" and rng.random() < 0.2:  # an outline far from its local origin
            dx, dy = bw * rng.uniform(-5, 5), bw * rng.uniform(-5, 5)
            shape = (shape[0], [(x + dx, y + dy) for x, y in shape[1]],
                     [[(x + dx, y + dy) for x, y in h] for h in shape[2]])
        if FAR and shape[0] != "circle" and later.random() < 0.25:  # very far, within the documented 1e12
            far, a = 10 ** later.uniform(6, 11.9), later.uniform(0, 2 * math.pi)
            dx, dy = far * math.cos(a), far * math.sin(a)
            shape = (shape[0], [(x + dx, y + dy) for x, y in shape[1]],
                     [[(x + dx, y + dy) for x, y in h] for h in shape[2]])
        weight = rng.choice([1.0, 5.0, rng.uniform(0, 60)]) if rng.random() < 0.3 else 0.0
        # mostly thin, sometimes wider than a U's arms or a star's notches
        margin = s * rng.uniform(0, rng.choice([0.05, 0.05, 0.3])) if rng.random() < 0.2 else 0.0
        inflation = s * rng.uniform(0, rng.choice([0.05, 0.05, 0.3])) if rng.random() < 0.2 else 0.0
        # copies of one geometry, as pipes come: most alike, some with a margin
        # of their own, some with one that differs by less than 1e-6
        for c in range(1 if rng.random() < 0.6 else rng.randint(2, 8)):
            i = len(items)
            try:
                it = Circle(shape[1], shape_id=i) if shape[0] == "circle" else \
                    Polygon(shape[1], holes=shape[2] or None, shape_id=i)
            except ValueError:  # the twin made the outline touch itself: valid jobs only
                shape = plain
                it = Polygon(shape[1], holes=shape[2] or None, shape_id=i)
            it.weight, it.margin, it.inflation = weight, margin, inflation
            if shape[0] != "circle" and later.random() < 0.15:
                it.mirrored = True
            if below_grid(it, max(bw, bh or bw)):
                continue
            u = rng.random()
            if c and u < 0.15:
                it.margin = s * rng.uniform(0, 0.05)
            elif c and u < 0.25:
                it.margin = margin + rng.uniform(1e-9, 4e-7)
            items.append(it)
    kw = dict(fixed)
    kw["global_distance"] = 0.0 if rng.random() < 0.4 else bw * 10 ** rng.uniform(-4, -1.2)
    kw["threads"] = rng.choice([1, 2])
    if kw["strategy"] == "nfp":
        a = rng.uniform(0, 2 * math.pi)
        kw["rotations"] = rng.choice([None, None, [0.0], [0.0, math.pi / 2],
                                      [rng.uniform(0, 2 * math.pi) for _ in range(rng.randint(1, 3))],
                                      [a, a + rng.uniform(1e-9, 4e-7)]])  # angles 1e-6 cannot tell apart
        kw["hole_fill"] = rng.choice(["sampled", "sampled", "dense"])
        kw["nonconvex"] = rng.random() < 0.3
        kw["mirror"] = later.random() < 0.2
    kw["exact_clearance"] = rng.random() < 0.25
    return items, Bin(bw, bh), kw


# ------------------------------------------------------------------ judging

def judge(items, bin_, kw, bins, unplaced, stats=None):
    """Faults of a finished job as (kind, shortfall, tolerance, text); empty when
    sound. ``stats``: the largest bin excess and pair shortfall beyond the
    circles' gap ("bin", "pair")."""
    faults = []
    placed = [it for b in bins for it in b]
    if sorted(map(id, placed + list(unplaced))) != sorted(map(id, items)):
        faults.append(("lost", math.inf, 0.0, "items lost or duplicated"))
    if any(it.infl != 0.0 for it in items):
        faults.append(("lost", math.inf, 0.0, "an item keeps its inflation"))
    d = kw.get("global_distance", 0.0)
    scale = max([bin_.width, bin_.height or 0.0] + [abs(it.tx) + abs(it.ty) for it in placed])
    tol = TOL + 1e-14 * scale
    gap = 0.0 if kw.get("exact_clearance", False) else CIRCLE_GAP
    return faults + gc.inflated_faults(bins, bin_.width, bin_.height, lambda it: d / 2 + it.inflation + it.margin,
                                       tol, gap, stats)


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


def run_job(seed, fam_index, timeout, subset=None, widths=WIDTHS):
    """(status, faults, seconds, worst) of one job; ``subset``: the item indices to keep."""
    family = FAMILIES[fam_index]
    items, bin_, kw = make_job(seed, family, widths)
    if subset is not None:
        items = [items[i] for i in subset]
    t0 = time.perf_counter()
    try:
        bins, unplaced = pack(items, bin_, kw, timeout)
    except Hang:
        return "hang", [], time.perf_counter() - t0, {}
    except KeyboardInterrupt:
        return "hang", [], time.perf_counter() - t0, {}
    except ValueError as e:
        return "refused", [("refused", math.inf, 0.0, str(e))], time.perf_counter() - t0, {}
    except Exception as e:  # noqa: BLE001 - any other failure is counted and shown
        return "error", [("error", math.inf, 0.0, f"{type(e).__name__}: {e}")], time.perf_counter() - t0, {}
    dt = time.perf_counter() - t0
    stats = {}
    faults = judge(items, bin_, kw, bins, unplaced, stats)
    return ("unsound" if faults else "ok"), faults, dt, stats


def shrink(seed, fam_index, timeout, widths=WIDTHS, budget=150):
    """Item indices of a smaller job that is still unsound."""
    n = len(make_job(seed, FAMILIES[fam_index], widths)[0])
    keep = list(range(n))
    tries = 0
    chunk = max(1, n // 2)
    while chunk >= 1 and tries < budget:
        i, changed = 0, False
        while i < len(keep) and tries < budget:
            trial = keep[:i] + keep[i + chunk:]
            tries += 1
            if trial and run_job(seed, fam_index, timeout, trial, widths)[0] == "unsound":
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
        holes = [list(map(tuple, h)) for h in it.holes]
        lines = [f"it = Polygon({list(map(tuple, it.outer))!r}, holes={holes or None!r}, "
                 f"shape_id={it.shape_id!r})"]
    for attr in ("weight", "margin", "inflation", "mirrored"):
        if getattr(it, attr):
            lines.append(f"it.{attr} = {getattr(it, attr)!r}")
    return lines + ["items.append(it)"]


def write_repro(path, seed, fam_index, subset, faults, widths=WIDTHS):
    family = FAMILIES[fam_index]
    items, bin_, kw = make_job(seed, family, widths)
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
    seed, fam_index, timeout, widths = args
    return seed, fam_index, run_job(seed, fam_index, timeout, None, widths)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--jobs", type=int, default=200, help="jobs per family")
    ap.add_argument("--first", type=int, default=0, help="first seed")
    ap.add_argument("--family", default="", help="only families whose name contains this")
    ap.add_argument("--workers", type=int, default=1)
    ap.add_argument("--timeout", type=float, default=300.0, help="seconds before a job counts as hung")
    ap.add_argument("--repro", default="/tmp/quarvo_repro", help="folder for the reproductions")
    ap.add_argument("--no-shrink", action="store_true")
    ap.add_argument("--widths", type=float, nargs=2, default=WIDTHS, metavar=("LO", "HI"),
                    help="bin widths from 10^LO to 10^HI (other ranges draw other jobs)")
    ap.add_argument("--near-twins", action="store_true",
                    help="a vertex's twin lies 1e-12 to 1e-9 of the outline's size apart, not on it")
    ap.add_argument("--far", action="store_true", help="a quarter of the outlines 1e6 to 8e11 from their own origin")
    args = ap.parse_args()
    global NEAR_TWINS, FAR
    NEAR_TWINS = args.near_twins
    FAR = args.far
    widths = tuple(args.widths)
    print(commit_and_machine(), flush=True)
    fams = [k for k, (name, _) in enumerate(FAMILIES) if args.family in name]
    tasks = [(s, k, args.timeout, widths) for s in range(args.first, args.first + args.jobs) for k in fams]
    counts = {k: dict(jobs=0, ok=0, unsound=0, refused=0, error=0, hang=0, lost=0, seconds=0.0, bin=-math.inf,
                      pair=-math.inf) for k in fams}
    bad = []
    t0 = time.perf_counter()
    with cf.ProcessPoolExecutor(args.workers) as ex:
        for seed, k, (status, faults, dt, worst) in ex.map(_work, tasks, chunksize=4):
            c = counts[k]
            if status == "ok":
                for key in ("bin", "pair"):
                    c[key] = max(c[key], worst.get(key, -math.inf))
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
        subset = shrink(seed, k, args.timeout, widths)
        st, fs, _, _ = run_job(seed, k, args.timeout, subset, widths)
        path = os.path.join(args.repro, f"{FAMILIES[k][0].replace(' ', '_')}_{seed}.py")
        write_repro(path, seed, k, subset, fs or faults, widths)
        print(f"  reproduction of seed {seed} ({FAMILIES[k][0]}, {len(subset)} items): {path}", flush=True)
    print(f"{'family':28s} {'jobs':>6s} {'unsound':>8s} {'refused':>8s} {'errors':>7s} {'hung':>5s} {'lost':>5s} "
          f"{'pack s':>8s}  {'worst of the sound: bin excess':>30s} {'pair shortfall':>15s}")
    tot = dict(jobs=0, unsound=0, refused=0, error=0, hang=0, lost=0, seconds=0.0)
    for k in fams:
        c = counts[k]
        for key in tot:
            tot[key] += c[key]
        print(f"{FAMILIES[k][0]:28s} {c['jobs']:6d} {c['unsound']:8d} {c['refused']:8d} {c['error']:7d} "
              f"{c['hang']:5d} {c['lost']:5d} {c['seconds']:8.1f}  {c['bin']:30.4g} {c['pair']:15.4g}")
    print(f"{'all':28s} {tot['jobs']:6d} {tot['unsound']:8d} {tot['refused']:8d} {tot['error']:7d} {tot['hang']:5d} "
          f"{tot['lost']:5d} {tot['seconds']:8.1f}   (seeds {args.first}-{args.first + args.jobs - 1}, "
          f"widths 1e{widths[0]:g}-1e{widths[1]:g}, {time.perf_counter() - t0:.0f} s wall)")
    return 1 if tot["unsound"] or tot["refused"] or tot["error"] or tot["hang"] else 0


if __name__ == "__main__":
    sys.exit(main())
