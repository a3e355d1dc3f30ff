"""A cutting shop's nest: 36 sheet parts (L and U brackets, plates with holes,
flange rings with bolt holes) drawn as DXF files, nested by `quarvo nest` on
3000 x 1500 sheets, 8 apart and 10 from the edges, and on a strip 1500 wide.

Prints per setting (greedy or a search of --time seconds, with and without
--mirror): sheets used, the used length of the last sheet or the strip, the
fill (material over sheet area, or over width x used length), mirrored parts,
wall-clock and CPU seconds (the machine is shared: CPU seconds are the steadier
figure) and the layout check. The commit and the machine come first.

    PYTHONPATH=python python benchmarks/bench_shop.py [--time S] [--iterations N]

--iterations N searches a fixed number of iterations instead (the job of
quarvo nest with "iterations" set): the same layout on any machine, whatever
its load.
"""
import argparse
import json
import math
import os
import tempfile
import time

import ezdxf

from _about import commit_and_machine
from Quarvo.cli import main
from Quarvo.cli.running import run as run_job
from Quarvo.cli.nest import _parser as nest_parser, build_job

BRACKETS = {"L": [(0, 0), (260, 0), (260, 60), (60, 60), (60, 180), (0, 180)],
            "U": [(0, 0), (300, 0), (300, 200), (240, 200), (240, 60), (60, 60), (60, 200), (0, 200)]}


def draw(folder):
    """The parts as DXF drawings; (file, count) per kind."""
    out = []
    for name, outline in BRACKETS.items():
        doc = ezdxf.new("R2010")
        doc.units = 4
        msp = doc.modelspace()
        msp.add_lwpolyline(outline, close=True)
        msp.add_circle((30, 30), 9)
        msp.add_circle((outline[1][0] - 30, 30), 9)
        doc.saveas(os.path.join(folder, f"{name}.dxf"))
        out.append((f"{name}.dxf", 10))
    doc = ezdxf.new("R2010")
    doc.units = 4
    msp = doc.modelspace()
    msp.add_lwpolyline([(0, 0), (400, 0), (400, 250), (0, 250)], close=True)
    msp.add_circle((100, 125), 40)
    msp.add_lwpolyline([(220, 100), (320, 100), (320, 150), (220, 150)], close=True)
    doc.saveas(os.path.join(folder, "plate.dxf"))
    out.append(("plate.dxf", 8))
    doc = ezdxf.new("R2010")
    doc.units = 4
    msp = doc.modelspace()
    msp.add_circle((0, 0), 230)
    msp.add_circle((0, 0), 140)
    for k in range(8):
        a = 2 * math.pi * k / 8
        msp.add_circle((185 * math.cos(a), 185 * math.sin(a)), 11)
    doc.saveas(os.path.join(folder, "flange.dxf"))
    out.append(("flange.dxf", 8))
    return out


def run(folder, parts, sheet, mirror, seconds, iterations):
    doc = os.path.join(folder, "nest.json")
    args = ["nest", *[f"{os.path.join(folder, f)}:{n}" for f, n in parts], "--sheet", sheet, "--gap", "8",
            "--edge", "10", "-o", doc, "--quiet"]
    if mirror:
        args.append("--mirror")
    if seconds:
        args += ["--time", str(seconds)]
    start, cpu = time.perf_counter(), time.process_time()
    if iterations:
        job = build_job(nest_parser().parse_intermixed_args(args[1:]))
        job.options["iterations"] = iterations
        status = run_job(job, doc, quiet=True)
    else:
        status = main(args)
    wall, cpu = time.perf_counter() - start, time.process_time() - cpu
    result = json.loads(open(doc).read())
    return status, wall, cpu, result


def main_():
    ap = argparse.ArgumentParser()
    ap.add_argument("--time", type=float, default=20.0, help="seconds of search of the searched settings (default 20)")
    ap.add_argument("--iterations", type=int, default=None,
                    help="search this many iterations instead of --time seconds")
    args = ap.parse_args()
    print(commit_and_machine())
    print(f"{'setting':38s} {'sheets':>6s} {'length':>8s} {'fill':>6s} {'mirrored':>8s} {'wall s':>8s} {'CPU s':>8s}  check")
    with tempfile.TemporaryDirectory() as folder:
        parts = draw(folder)
        for sheet in ("3000x1500", "1500"):
            for searched in (False, True):
                seconds = args.time if searched and not args.iterations else 0
                iterations = args.iterations if searched else None
                for mirror in (False, True):
                    status, wall, cpu, r = run(folder, parts, sheet, mirror, seconds, iterations)
                    last = max(p["bin"] for p in r["placements"])
                    top = max(y for p in r["placements"] if p["bin"] == last for _, y in p["contour"])
                    fill = r["bins"][-1]["fill_ratio"]
                    mirrored = sum(1 for p in r["placements"] if p.get("mirrored"))
                    search = f"search {iterations} iterations" if iterations else f"search {seconds:g} s"
                    name = f"{sheet} {search if searched else 'greedy'}" \
                           f"{' mirror' if mirror else ''}"
                    print(f"{name:38s} {len(r['bins']):6d} {top:8.1f} {fill:6.3f} {mirrored:8d} {wall:8.2f} {cpu:8.2f}  "
                          f"{'ok' if r['check']['ok'] and status == 0 else 'FAILED'} "
                          f"({len(r['placements'])} placed, {len(r['unplaced'])} unplaced)", flush=True)


if __name__ == "__main__":
    main_()
