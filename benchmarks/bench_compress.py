"""Strip packing with the compression phase: share of the best known density
per instance at each time limit, on 2 threads; with --bins, the bin-packing
versions of the same instances.

Run:  PYTHONPATH=python python benchmarks/bench_compress.py [--time 10 60] [--threads 2] [--only NAME ...]
                                                            [--nesting] [--no-compress] [--seed 0 ...]
                                                            [--iterations N ...] [--pipes] [--bins]
                                                            [--record NAME=DENSITY ...] [--bin-length NAME=LENGTH ...]

--only takes instance names or JSON files in the ESICUP layout (another
instance of the collection: `--only path/to/fu.json --record fu=0.9`, its best
known density given by the file's stem). An instance without a known density
gets no share, and the mean is over those with one.

--pipes adds the bundled pipe job (examples/pipes.json) as a strip 800 wide,
weights kept, dense holes and exact clearance, compress=True explicitly (its
weights differ): the used length in mm (the improvement search alone gave
694.7 mm at 10 s).

--iterations N replaces the time limits by a fixed amount of work (N
iterations, 20 item moves each): the same layouts on any machine and under
any load, for comparing changes to the method itself. With several seeds the
share is averaged over them. "moves/s" is the phase's item moves per second
of wall time (the machine is shared: compare it at low load only); "cpu s"
the CPU seconds of the phase on all its threads (FirstFit.cpu_seconds), so
that a figure can be set beside one from a machine of other cores.

--bins packs the bin-packing version of each instance with a known density
instead: bins as wide as the strip and record length / 2.5 long (the record
length: the item area over the width and the best known density), so that
about 2.5 records' worth of bins hold the items (or --bin-length NAME=LENGTH, for an instance
without a known density, or whose pieces are longer than that), compress=True, and prints the bins, the used
length of the last bin, the lower bound (FirstFit.lower_bound: bins by area,
the last bin's length by the area left for it) and whether the run stopped
early at it (FirstFit.stopped_early).

Instances: the four ESICUP ones (../shared/data/esicup), nine more of the
collection (esicup_more.py), with --nesting the four real-world ones
(../shared/data/nesting, slow to set up: detailed outlines), and the families
of instances.py made here. Each is packed as the README of the ESICUP data
says: a strip of width Strip.Height, every piece turned a quarter, the allowed
orientations, strategy nfp with nonconvex=True and incremental unions,
FirstFit(..., time_limit=T, compress=True). Density = item area / (width x
used length); share = density / best known density: the published records for
the shared instances, and for the other instances the best this phase reached
in our own longest runs (commit, seconds and seed in KNOWN below; the
published records may be higher). The load average is printed before and
after: the machine is shared, and the figures move with it.
"""
import argparse
import json
import math
import os
import time

import esicup_more
from _about import ROOT, commit_and_machine, shared_data
from instances import FAMILIES, build

RECORDS = {"albano": 0.8982, "dagli": 0.9017, "shirts": 0.9092, "trousers": 0.9262,
           "gardeyn1": 0.9023, "gardeyn4": 0.7992, "gardeyn5": 0.7055, "gardeyn7": 0.8701}
# The families made here: the best density our own runs reached (the phase at
# 150 s on 2 threads, seed 7, commits 22bdf7d-f27e88f, or 100,000 item moves
# where that was better; the jigsaw, the puzzle and the cuts are cut from a
# rectangle, so 1). Not published records: shares against them run high.
KNOWN = {"jigsaw": 1.0, "blocks": 0.8855, "convex": 0.8278, "figures0": 0.7618, "figures1": 0.7852,
         "blobs": 0.7611, "panels": 0.8347, "puzzle": 1.0,
         "cuts16": 1.0, "cuts10": 1.0}


def load(name):
    if name in FAMILIES:
        return build(name)
    if name in esicup_more.PIECES:
        return esicup_more.build(name)
    if name.endswith(".json") and os.path.exists(name):
        with open(name) as f:
            return json.load(f)
    for sub in ("esicup", "nesting"):
        path = os.path.join(shared_data(sub), name + ".json")
        if os.path.exists(path):
            with open(path) as f:
                return json.load(f)
    raise SystemExit(f"no instance {name}")


def items_of(inst):
    from Quarvo import Polygon

    items, rots = [], []
    for k, it in enumerate(inst["Items"]):
        pts = [(float(y), -float(x)) for x, y in it["Shape"]["Data"]]
        if pts[0] == pts[-1]:
            pts = pts[:-1]
        rots += [r for r in (math.radians(a) for a in it["AllowedOrientations"]) if r not in rots]
        for c in range(int(it["Demand"])):
            items.append(Polygon(pts, shape_id=f"{k}.{c}"))
    return float(inst["Strip"]["Height"]), items, rots


def given(table, name):
    """An instance's entry in `table`, by its name or its file's stem; None if it has none."""
    return table.get(name) or table.get(os.path.splitext(os.path.basename(name))[0])


def best_known(name):
    return given(RECORDS, name) or given(KNOWN, name) or float("nan")


# Bin lengths given by --bin-length, in place of record length / 2.5.
BIN_LENGTHS = {}


def add_record_option(ap):
    ap.add_argument("--record", nargs="+", default=[], metavar="NAME=DENSITY",
                    help="the best known density of an instance given by name or as a JSON file")
    ap.add_argument("--bin-length", nargs="+", default=[], metavar="NAME=LENGTH",
                    help="with --bins, the bins' length for an instance (record length / 2.5 if not given)")


def take_records(ap, args):
    """The densities given by --record, as best known ones, and the lengths given by --bin-length."""
    for option, entries, table, form in (("--record", args.record, RECORDS, "NAME=DENSITY"),
                                         ("--bin-length", args.bin_length, BIN_LENGTHS, "NAME=LENGTH")):
        for entry in entries:
            key, _, value = entry.partition("=")
            try:
                table[key] = float(value)
            except ValueError:
                ap.error(f"{option} {entry}: not {form}")


def bin_length(name, width, area):
    """The bins' length of an instance's bin-packing version."""
    return given(BIN_LENGTHS, name) or area / (width * best_known(name)) / 2.5


def has_bins(name):
    """Whether the bin-packing version of an instance has a length: a record or one given."""
    return given(BIN_LENGTHS, name) is not None or math.isfinite(best_known(name))


def run(name, seconds, threads, compress, seed, iterations=None, bins=False):
    """One pack of a strip (or with `bins`, of its bin-packing version)."""
    from Quarvo import Bin, FirstFit
    from Quarvo.check import check_layout

    width, items, rots = items_of(load(name))
    area = sum(it.area() for it in items)
    best = best_known(name)
    height = bin_length(name, width, area) if bins else None
    ff = FirstFit(items, Bin(width, height), rotations=rots, nonconvex=True, incremental=True, threads=threads,
                  time_limit=None if iterations else seconds, iterations=iterations, seed=seed,
                  compress=compress)
    t0 = time.perf_counter()
    layout, unplaced = ff.do_pack()
    wall = time.perf_counter() - t0
    ok = check_layout((layout, unplaced), Bin(width, height)).ok and (bins or not unplaced)
    density = area / (width * ff.used_length)
    return {"density": density, "share": density / best, "wall": wall, "ok": ok, "cpu": ff.cpu_seconds,
            "unplaced": len(unplaced),
            "moves": ff._search_progress[1] if compress else 0, "bins": len(layout), "last": ff.used_length,
            "height": height, "bound": ff.lower_bound, "early": ff.stopped_early}


def run_pipes(limit, threads, seed):
    from Quarvo import Bin, FirstFit
    from Quarvo.check import CIRCLE_REL_TOL, check_layout
    from Quarvo.job import load_job
    from Quarvo.job.packing import build_items

    job = load_job(os.path.join(ROOT, "examples", "pipes.json"))
    items = [e.shape for e in build_items(job)]
    unit, n = limit
    ff = FirstFit(items, Bin(800.0, None), global_distance=job.distance, rotations=job.rotations,
                  hole_fill="dense", exact_clearance=True, incremental=True, threads=threads, seed=seed,
                  time_limit=n if unit == "s" else None, iterations=n if unit == "it" else None, compress=True)
    t0 = time.perf_counter()
    bins, unplaced = ff.do_pack()
    wall = time.perf_counter() - t0
    length = ff.used_length
    ok = check_layout((bins, unplaced), 800.0, length, job.distance, circle_rel_tol=CIRCLE_REL_TOL).ok
    return length, wall, ok and not unplaced, ff._search_progress[1]


def mean(values):
    return sum(values) / len(values)


def print_strips(names, limits, args):
    head = f"{'instance':<10}" + "".join(f"{f'dens@{n:g}{u}':>13}{'share':>7}{'wall s':>7}{'cpu s':>7}{'moves/s':>8}"
                                         for u, n in limits)
    print(head + "  check")
    shares = {lim: [] for lim in limits}
    for name in names:
        row, checks = f"{name:<10}", []
        for unit, n in limits:
            got = [run(name, n if unit == "s" else None, args.threads, not args.no_compress, seed,
                       n if unit == "it" else None) for seed in args.seed]
            rate = sum(g["moves"] for g in got) / max(1e-9, sum(g["wall"] for g in got))
            shares[(unit, n)].append(mean([g["share"] for g in got]))
            checks += [g["ok"] for g in got]
            row += (f"{mean([g['density'] for g in got]):>13.4f}{shares[(unit, n)][-1]:>7.3f}"
                    f"{mean([g['wall'] for g in got]):>7.1f}{mean([g['cpu'] for g in got]):>7.1f}{rate:>8.0f}")
        print(row + "  " + ("ok" if all(checks) else "FAULT"), flush=True)
    # Instances without a known density have no share: the mean is over the others.
    known = {lim: [x for x in s if math.isfinite(x)] for lim, s in shares.items()}
    print(f"{'mean':<10}" + "".join(f"{'':>13}{mean(s) if s else float('nan'):>7.3f}{'':>22}"
                                     for s in known.values())
          + (f"  (over the {len(next(iter(known.values())))} of {len(names)} with a known density)"
             if any(len(k) < len(s) for k, s in zip(known.values(), shares.values())) else ""))


def print_bins(names, limits, args):
    """The bin-packing versions: bins, the last bin's used length, the bound, an early stop."""
    names = [n for n in names if has_bins(n)]
    print(f"{'instance':<10}{'bin':>18}" + "".join(f"{f'@{n:g}{u}: bins':>13}{'last':>10}{'':>13}{'bound':>16}"
                                                  f"{'early':>6}{'wall s':>7}{'cpu s':>7}" for u, n in limits)
          + "  check")
    for name in names:
        for seed in args.seed:
            row, checks = f"{name:<10}", []
            for unit, n in limits:
                g = run(name, n if unit == "s" else None, args.threads, not args.no_compress, seed,
                        n if unit == "it" else None, bins=True)
                if not checks:
                    size = f"{items_of(load(name))[0]:g} x {g['height']:.6g}"
                    row += f"{size:>18}"
                bound = g["bound"]
                left = f"{g['unplaced']} unplaced" if g["unplaced"] else ""
                row += (f"{g['bins']:>13}{g['last']:>10.5g}{left:>13}"
                        f"{(f'{bound[0]}, {bound[1]:.5g}' if bound else '-'):>16}{'yes' if g['early'] else 'no':>6}"
                        f"{g['wall']:>7.1f}{g['cpu']:>7.1f}")
                checks.append(g["ok"])
            print(row + "  " + ("ok" if all(checks) else "FAULT") + (f"  seed {seed}" if len(args.seed) > 1 else ""),
                  flush=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--time", type=float, nargs="+", default=[10.0, 60.0])
    ap.add_argument("--threads", type=int, default=2)
    ap.add_argument("--only", nargs="+")
    ap.add_argument("--nesting", action="store_true", help="also the four real-world instances")
    ap.add_argument("--no-compress", action="store_true", help="the improvement search alone, for comparison")
    ap.add_argument("--seed", type=int, nargs="+", default=[0])
    ap.add_argument("--iterations", type=int, nargs="+", help="fixed work instead of --time")
    ap.add_argument("--pipes", action="store_true", help="also the bundled pipe job as a strip 800 wide")
    ap.add_argument("--bins", action="store_true", help="the bin-packing versions of the instances instead")
    add_record_option(ap)
    args = ap.parse_args()
    take_records(ap, args)
    limits = [("it", n) for n in args.iterations] if args.iterations else [("s", t) for t in args.time]
    names = (list(RECORDS)[:4] + list(esicup_more.PIECES) + (list(RECORDS)[4:8] if args.nesting else [])
             + list(FAMILIES))
    if args.only:
        names = args.only
    print(commit_and_machine())
    print(f"load average before: {' '.join(f'{x:.2f}' for x in os.getloadavg())}; threads {args.threads}, "
          f"compress {not args.no_compress}, seeds {' '.join(map(str, args.seed))}")
    if args.bins:
        print_bins(names, limits, args)
    else:
        print_strips(names, limits, args)
    if args.pipes:
        for lim in limits:
            length, wall, ok, moves = run_pipes(lim, args.threads, args.seed[0])
            print(f"pipes (examples/pipes.json) as a strip 800 wide, weights kept, {lim[1]:g} {lim[0]}: "
                  f"{length:.1f} mm ({moves} item moves, {wall:.1f} s), check {'ok' if ok else 'FAULT'}", flush=True)
    print(f"load average after: {' '.join(f'{x:.2f}' for x in os.getloadavg())}")


if __name__ == "__main__":
    main()
