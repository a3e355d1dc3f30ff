"""The density cost of placing every item at rest (stable=True).

Packs each load with and without stable placement and prints the used length
of each (the largest y of any item), their ratio, the items placed, the
items at rest by the checker's gravity check, and the seconds taken (each
run from an empty NFP cache; wall-clock, so noisy on a shared machine):

- the bundled pipe job and examples/telescoping.json, each as a strip of its
  bin's width and as one 800 wide (the command line's settings: dense holes,
  exact clearance);
- every stockyard order benchmarks/loads/*.json, the same way, when there are any;
- the four ESICUP instances as strips, as bench_esicup.py packs them
  (nonconvex=True, the pieces turned a quarter, largest first).

    PYTHONPATH=python python benchmarks/bench_stable.py [--data DIR] [--skip-esicup]
"""
import argparse
import glob
import os
import time

from _about import ROOT, commit_and_machine, shared_data
from bench_esicup import load as load_esicup
from Quarvo import Bin, FirstFit
from Quarvo.check import CIRCLE_REL_TOL, check_layout
from Quarvo.job import load_job
from Quarvo.job.packing import build_items
from Quarvo.placer_nfp import clear_nfp_cache


def pack(make, width, distance, options, stable):
    """(used length, placed, total, at rest, seconds) of one run."""
    items = make()
    clear_nfp_cache()  # each run builds its own no-fit polygons: the seconds compare
    t0 = time.perf_counter()
    ff = FirstFit(items, Bin(width, None), distance, stable=stable, **options)
    bins, unplaced = ff.do_pack()
    seconds = time.perf_counter() - t0
    tol = 0.0 if options.get("exact_clearance") else CIRCLE_REL_TOL
    report = check_layout((bins, unplaced), Bin(width, None), distance=distance, circle_rel_tol=tol, gravity=True)
    placed = sum(len(b) for b in bins)
    return ff.used_length, placed, len(items), placed - report.count("floating"), seconds


def job_load(path):
    """The items of a job file (None: the bundled one) and its settings as the command line packs them."""
    job = load_job(path)
    options = {k: v for k, v in job.options.items() if k != "stable"}
    if job.rotations is not None:
        options["rotations"] = job.rotations
    options["placement"] = job.placement

    def make():
        return [e.shape for e in build_items(job) if e.shape is not None]

    return make, job.bin_w, job.distance, options


def row(name, width, runs):
    (l0, p0, n, r0, s0), (l1, p1, _, r1, s1) = runs
    print(f"{name:>26} {width:>7.0f} {n:>5} {l0:>10.2f} {l1:>10.2f} {l1 / l0:>7.4f} {p0:>4}/{p1:<4} "
          f"{r0:>4}/{r1:<4} {s0:>7.2f} {s1:>7.2f}")
    return l1 / l0


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--data", default=shared_data("esicup"))
    ap.add_argument("--skip-esicup", action="store_true")
    args = ap.parse_args()
    print(commit_and_machine())
    print("used length without / with stable=True; placed and at rest (gravity check) without / with")
    print(f"{'load':>26} {'width':>7} {'items':>5} {'free':>10} {'stable':>10} {'ratio':>7} {'placed':>9} "
          f"{'at rest':>9} {'s free':>7} {'s stab':>7}")
    ratios = []
    jobs = [("bundled pipes", None), ("telescoping", os.path.join(ROOT, "examples", "telescoping.json"))]
    jobs += [(os.path.basename(p)[:-5], p) for p in sorted(glob.glob(os.path.join(ROOT, "benchmarks", "loads", "*.json")))]
    for name, path in jobs:
        make, bin_w, distance, options = job_load(path)
        for width in sorted({bin_w, 800.0}):
            runs = [pack(make, width, distance, options, stable) for stable in (False, True)]
            ratios.append(row(name, width, runs))
    if not args.skip_esicup and not os.path.isdir(args.data):
        print(f"no ESICUP instances in {os.path.abspath(args.data)} (give --data DIR)")
    elif not args.skip_esicup:
        for name in sorted(f[:-5] for f in os.listdir(args.data) if f.endswith(".json")):
            width, _, rots = load_esicup(os.path.join(args.data, name + ".json"))

            def make(path=os.path.join(args.data, name + ".json")):
                items = load_esicup(path)[1]
                for it in items:
                    it.weight = it.area()  # largest first
                return items

            runs = [pack(make, width, 0.0, dict(rotations=rots, nonconvex=True), stable) for stable in (False, True)]
            ratios.append(row(f"ESICUP {name}", width, runs))
    print(f"mean ratio of used lengths, stable / free: {sum(ratios) / len(ratios):.4f}")


if __name__ == "__main__":
    main()
