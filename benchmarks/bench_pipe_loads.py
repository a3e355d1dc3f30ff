"""The pipe loads of benchmarks/loads: pipe items against 64-gon rings, and the cost per pipe as a load grows.

1. Each load (the 100-piece oil-field load of casing and tubing as a strip
   2,330 wide, the 84-piece stockyard lot as a strip 2,400 wide) is packed
   as the command line packs it (dense holes, exact clearance), once as pipe
   items and once as the same pipes given as 64-gon polygon rings (the outer
   contour circumscribed, the bore inscribed: the same clear distance around
   the true walls), each kind in a process of its own so that both start
   with an empty NFP cache. Printed: seconds (the pipes the best of
   --repeat runs), used length, pipes in bores per depth, the layout check,
   and how many times faster the pipes are.
2. The oil-field mix at 100, 300 and 1,000 pieces (every quantity times 1, 3
   and 10), pipe items, dense and sampled holes: do_pack's seconds per pipe
   (best of --repeat runs), and, where valgrind is installed, the
   instructions per pipe that callgrind counts in the engine's do_pack
   (which the machine's load does not change); each against 100 pieces.

The machine's load average is printed with the figures: the development
machine is shared, and wall-clock seconds follow its load.

    PYTHONPATH=python python benchmarks/bench_pipe_loads.py [--repeat N] [--no-rings] [--no-callgrind]
"""
import argparse
import json
import math
import os
import shutil
import subprocess
import sys
import time

from _about import ROOT, commit_and_machine

LOADS = os.path.join(ROOT, "benchmarks", "loads")


def load_job(name, times=1, **over):
    from Quarvo.job import parse_job

    with open(os.path.join(LOADS, name)) as f:
        raw = json.load(f)
    raw["items"] = [dict(it, quantity=it.get("quantity", 1) * times) for it in raw["items"]]
    raw.update(over)
    return parse_job(raw, name)


def pipe_items(job):
    from Quarvo.job.packing import build_items

    return [e.shape for e in build_items(job)]


def ring_items(job):
    """The same pipes as 64-gon polygon rings, weighing what the pipes weigh."""
    from Quarvo.geometry import Polygon

    out = []
    for p in pipe_items(job):
        outer_r = p.od / 2 / math.cos(math.pi / 64)

        def ngon(r):
            return [(r * math.cos(2 * math.pi * k / 64), r * math.sin(2 * math.pi * k / 64)) for k in range(64)]

        ring = Polygon(ngon(outer_r), holes=[ngon(p.bore)] if p.bore > 0 else None, shape_id=p.shape_id)
        ring.weight = p.weight
        out.append(ring)
    return out


def first_fit(job, items):
    from Quarvo.job.packing import _first_fit

    return _first_fit(job, items)


def pack_once(job, make_items):
    items = make_items(job)
    ff = first_fit(job, items)
    t0 = time.perf_counter()
    bins, unplaced = ff.do_pack()
    return time.perf_counter() - t0, ff, bins, unplaced


def describe(job, ff, bins, unplaced, kind):
    from collections import Counter

    from Quarvo.check import check_layout, nesting_depths
    from Quarvo.geometry import Bin

    depths = Counter(d for b in bins for d in nesting_depths(b) if d)
    ok = check_layout((bins, unplaced), Bin(job.bin_w, job.bin_h), distance=job.distance).ok
    by_depth = " ".join(f"{d}:{depths[d]}" for d in sorted(depths))
    return {"kind": kind, "length": ff.used_length, "in_holes": sum(depths.values()), "by_depth": by_depth,
            "unplaced": len(unplaced), "ok": ok}


def row_kind(name, kind, repeat):
    """One load as one kind of item, in this process: best of `repeat` runs for pipes, one for rings."""
    job = load_job(name)
    seconds, ff, bins, unplaced = pack_once(job, pipe_items if kind == "pipes" else ring_items)
    if kind == "pipes":
        seconds = min(seconds, best_of(job, repeat)[0])
    return dict(describe(job, ff, bins, unplaced, kind), seconds=seconds, pieces=job.total)


def best_of(job, repeat, budget=2.0):
    """The least do_pack time of at least `repeat` runs, more while they take under `budget` seconds in all:
    a run of a few milliseconds is easily interrupted on a shared machine, the least one was not."""
    times, start = [], time.perf_counter()
    while len(times) < repeat or time.perf_counter() - start < budget:
        times.append(pack_once(job, pipe_items)[0])
    return min(times), len(times)


def row_scale(times, fill, repeat):
    job = load_job("oilfield-100.json", times, hole_fill=fill)
    best, runs = best_of(job, repeat)
    return {"pieces": job.total, "seconds": best, "runs": runs}


def instructions(times, fill):
    """Instructions callgrind counts in the engine's do_pack, or None without valgrind."""
    if shutil.which("valgrind") is None:
        return None
    out = subprocess.run(["valgrind", "--tool=callgrind", "--collect-atstart=no",
                          "--toggle-collect=quarvo::FirstFit::do_pack*", "--callgrind-out-file=/dev/null",
                          sys.executable, __file__, "--pack-only", str(times), fill],
                         capture_output=True, text=True, env=dict(os.environ))
    for line in out.stderr.splitlines():
        if "refs:" in line:
            return int(line.split("refs:")[1].replace(",", "").strip())
    return None


def child(args):
    return json.loads(subprocess.run([sys.executable, __file__, *args], capture_output=True, text=True,
                                     check=True).stdout)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--repeat", type=int, default=7, help="runs per figure of pipe items at least (the best is shown)")
    ap.add_argument("--no-rings", action="store_true", help="skip the 64-gon rings (about 10 s per load)")
    ap.add_argument("--no-callgrind", action="store_true", help="skip the instruction counts")
    ap.add_argument("--kind", nargs=2, help=argparse.SUPPRESS)
    ap.add_argument("--scale", nargs=2, help=argparse.SUPPRESS)
    ap.add_argument("--pack-only", nargs=2, help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.kind:
        print(json.dumps(row_kind(args.kind[0], args.kind[1], args.repeat)))
        return
    if args.scale:
        print(json.dumps(row_scale(int(args.scale[0]), args.scale[1], args.repeat)))
        return
    if args.pack_only:
        pack_once(load_job("oilfield-100.json", int(args.pack_only[0]), hole_fill=args.pack_only[1]), pipe_items)
        return

    print(commit_and_machine())
    print("load average %.2f %.2f %.2f (1, 5, 15 min)" % os.getloadavg())
    print("\nloads as the command line packs them (dense holes, exact clearance), as strips")
    print(f"  {'load':20} {'items':12} {'pieces':>6} {'seconds':>9} {'length':>8} {'in bores':>8}  {'by depth':30} check")
    for name in ("oilfield-100.json", "stockyard-84.json"):
        rows = [child(["--kind", name, "pipes", "--repeat", str(args.repeat)])]
        if not args.no_rings:
            rows.append(child(["--kind", name, "rings", "--repeat", "1"]))
        for r in rows:
            print(f"  {name[:-5]:20} {r['kind'] + (' (best)' if r['kind'] == 'pipes' else ''):12} {r['pieces']:6d} "
                  f"{r['seconds']:9.4f} {r['length']:8.1f} {r['in_holes']:8d}  {r['by_depth']:30} "
                  f"{'ok' if r['ok'] and not r['unplaced'] else 'FAILED'}")
        if len(rows) == 2:
            print(f"  {'':20} rings / pipes: {rows[1]['seconds'] / rows[0]['seconds']:.0f}x the time, "
                  f"length {rows[0]['length'] - rows[1]['length']:+.1f} with pipes")
    print("\nthe oil-field mix as it grows, pipe items (seconds: the best of at least %d runs, more while they take\n"
          "under 2 s in all; instructions: callgrind, in the engine's do_pack)" % args.repeat)
    print(f"  {'holes':8} {'pieces':>6} {'seconds':>9} {'us/pipe':>8} {'x 100':>6} {'instr/pipe':>11} {'x 100':>6}")
    for fill in ("dense", "sampled"):
        base = None
        for times in (1, 3, 10):
            r = child(["--scale", str(times), fill, "--repeat", str(args.repeat)])
            per = r["seconds"] / r["pieces"]
            ir = None if args.no_callgrind else instructions(times, fill)
            ir_per = ir / r["pieces"] if ir else None
            base = base or (per, ir_per)
            ir_text = f"{ir_per:11.0f} {ir_per / base[1]:6.2f}" if ir_per and base[1] else f"{'-':>11} {'':6}"
            print(f"  {fill:8} {r['pieces']:6d} {r['seconds']:9.4f} {per * 1e6:8.1f} {per / base[0]:6.2f} {ir_text}",
                  flush=True)
    print("load average %.2f %.2f %.2f (1, 5, 15 min)" % os.getloadavg())


if __name__ == "__main__":
    main()
