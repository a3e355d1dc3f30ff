"""Mixed stock: the cost and the bins of the plans FirstFit makes on the
instances of stock_instances.py (a shop's rack of sheets and remnants, and
irregular hides with defects), against the lower bound the items' area gives
at the cheapest cost per usable area, at the greedy pass and after a search of
--time seconds each (default 10 and 60; 2 threads), checked by the layout
checker on the true outlines.

    PYTHONPATH=python python benchmarks/bench_stock.py [--time 10 60] [--seed 0] [--only rack]
        [--iterations N] [--export DIR]

--iterations N runs a search of N layouts instead of --time (the same plan on
any machine, whatever its load). --export DIR writes each instance as JSON
(kinds with outline, holes, defects, count and cost; items with outline,
holes and demand; the distance and angles) for running other solvers on it.
"""
import argparse
import json
import math
import os
import time

from _about import commit_and_machine
from stock_instances import INSTANCES, build
from Quarvo import FirstFit
from Quarvo.check import check_plan
from Quarvo.stock import plan_summary

DISTANCE = 5.0
ROTATIONS = [0.0, 90.0, 180.0, 270.0]


def export(name, kinds, parts, folder):
    doc = {"name": name, "distance": DISTANCE, "rotations_deg": ROTATIONS,
           "kinds": [{"width": b.width, "height": b.height, "margin": b.margin, "count": b.count,
                      "cost": b.unit_cost, "outer": b.outer, "holes": b.holes, "defects": b.defects} for b in kinds],
           "items": [{"outline": o, "holes": h, "demand": d} for o, h, d in parts]}
    path = os.path.join(folder, f"{name}.json")
    with open(path, "w") as f:
        json.dump(doc, f)
    return path


def run(kinds, items, **kw):
    t0, c0 = time.time(), time.process_time()
    ff = FirstFit(items, bins=kinds, global_distance=DISTANCE, rotations=[math.radians(a) for a in ROTATIONS],
                  nonconvex=True, threads=2, **kw)
    layout = ff.do_pack()
    wall, cpu = time.time() - t0, time.process_time() - c0
    plan = plan_summary(ff, layout)
    report = check_plan(layout, [kinds[t] for t in ff.bin_types], distance=DISTANCE)
    return plan, report, wall, cpu


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--time", type=float, nargs="*", default=[10.0, 60.0])
    ap.add_argument("--iterations", type=int, default=None)
    ap.add_argument("--seed", type=int, nargs="*", default=[0])
    ap.add_argument("--only", default="")
    ap.add_argument("--export", default=None)
    args = ap.parse_args()
    print(commit_and_machine())
    print(f"distance {DISTANCE:g}, angles {ROTATIONS}, nonconvex, 2 threads")
    for name, make in INSTANCES.items():
        if args.only and args.only not in name:
            continue
        for seed in args.seed:
            kinds, parts = make(seed)
            label = f"{name}/{seed}"
            if args.export:
                os.makedirs(args.export, exist_ok=True)
                print(f"{label}: written to {export(f'{name}-{seed}', kinds, parts, args.export)}")
            items = build(parts)
            settings = [("greedy", {})]
            if args.iterations is not None:
                settings.append((f"{args.iterations} iterations", dict(iterations=args.iterations, seed=seed)))
            else:
                settings += [(f"{t:g} s", dict(time_limit=t, seed=seed)) for t in args.time]
            for what, kw in settings:
                plan, report, wall, cpu = run(kinds, build(parts), **kw)
                used = ", ".join(f"{n} x kind {k}" for k, n in plan.per_kind.items())
                gap = "" if plan.gap is None else f" (+{plan.gap:.1%})"
                print(f"{label:9s} {len(items):4d} items  {what:16s} cost {plan.total_cost:12.6g}  "
                      f"lower bound {plan.lower_bound:12.6g}{gap}  bins {len(plan.bins)} [{used}]  "
                      f"unplaced {plan.unplaced}  last used length {plan.bins[-1].used_length if plan.bins else 0:.1f}  "
                      f"wall {wall:.1f} s, CPU {cpu:.1f} s  check {'ok' if report.ok else 'FAILED'}", flush=True)
                if not report.ok:
                    print(report.summary(max_lines=5))


if __name__ == "__main__":
    main()
