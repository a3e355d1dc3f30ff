"""The files of a cutting shop's nest: six kinds of parts drawn with ezdxf as a
shop draws them (brackets with round corners, slots and bolt holes; an L-plate
of LINEs and ARCs with a concave fillet; a flange; a gusset whose long side is
a concave arc; a cover drawn in inches; washers), 72 parts on 3000 x 1500
sheets, gap 8, edge 10, nested by `quarvo nest` and written as DXF.

Prints per chord tolerance (the default first, then the fractions of each
part's size given): the time to pack (wall and CPU seconds of the packing, and
CPU seconds of the whole command: reading, packing, writing), the vertices
packed, the sheets, the utilisation on the parts' true areas and the used
length, and how far the written contours lie from the drawing's own curves
moved into place (every entity of every part read back with ezdxf and
compared: 0 up to rounding, as the curves are written, not their chords).
Then a part of a few hundred curved edges (a gear of 240 arcs with a bore
and six holes) alone and 20 times. The commit and the machine come first.

    PYTHONPATH=python python benchmarks/bench_shop_files.py [--fractions 2e-3 5e-3] [--repeat 3]

The greedy pass does the same work on every run, so CPU seconds are the
figure to compare on a shared machine (the best of --repeat runs).
"""
import argparse
import math
import os
import tempfile
import time

import ezdxf

from _about import commit_and_machine
from Quarvo.cad import TOLERANCE_FRACTION, contours
from Quarvo.cli.nest import _parser as nest_parser, build_job
from Quarvo.job.packing import pack
from Quarvo.report.outputs import write_outputs
from Quarvo.report.sheets import sheet_reports

SHEET, GAP, EDGE = "3000x1500", 8, 10


def _quarter():
    return math.tan(math.radians(90) / 4)


def _rounded_rect(msp, x0, y0, x1, y1, r):
    b = _quarter()
    msp.add_lwpolyline([(x0 + r, y0, 0), (x1 - r, y0, b), (x1, y0 + r, 0), (x1, y1 - r, b), (x1 - r, y1, 0),
                        (x0 + r, y1, b), (x0, y1 - r, 0), (x0, y0 + r, b)], format="xyb", close=True)


def bracket(msp):
    """250 x 120, corners of radius 15 (bulges), two slots 60 x 16, two bolt holes."""
    _rounded_rect(msp, 0, 0, 250, 120, 15)
    for x in (40, 150):
        msp.add_lwpolyline([(x, 52, 0), (x + 60, 52, 1), (x + 60, 68, 0), (x, 68, 1)], format="xyb", close=True)
    msp.add_circle((20, 20), 6)
    msp.add_circle((230, 100), 6)


def lplate(msp):
    """An L of 300 x 200, arms 80 wide, of LINEs and ARCs: outer corners of radius 10, a concave fillet of 25."""
    msp.add_line((10, 0), (290, 0))
    msp.add_arc((290, 10), 10, 270, 360)
    msp.add_line((300, 10), (300, 70))
    msp.add_arc((290, 70), 10, 0, 90)
    msp.add_line((290, 80), (105, 80))
    msp.add_arc((105, 105), 25, 180, 270)
    msp.add_line((80, 105), (80, 190))
    msp.add_arc((70, 190), 10, 0, 90)
    msp.add_line((70, 200), (10, 200))
    msp.add_arc((10, 190), 10, 90, 180)
    msp.add_line((0, 190), (0, 10))
    msp.add_arc((10, 10), 10, 180, 270)
    for x, y in ((40, 40), (260, 40), (40, 160)):
        msp.add_circle((x, y), 8.5)


def flange(msp):
    msp.add_circle((0, 0), 150)
    msp.add_circle((0, 0), 80)
    for k in range(8):
        a = 2 * math.pi * k / 8
        msp.add_circle((115 * math.cos(a), 115 * math.sin(a)), 11)


def gusset(msp):
    """A right triangle of 250 whose long side is a concave arc (its centre beyond the part), a hole."""
    msp.add_line((0, 0), (250, 0))
    msp.add_line((0, 0), (0, 250))
    msp.add_arc((250, 250), 250, 180, 270)
    msp.add_circle((40, 40), 10)


def cover(msp):
    """Inches: 12 x 8, corners of 0.75, four holes of 0.25, a window 4 x 2 with corners of 0.5."""
    _rounded_rect(msp, 0, 0, 12, 8, 0.75)
    for x, y in ((0.75, 0.75), (11.25, 0.75), (11.25, 7.25), (0.75, 7.25)):
        msp.add_circle((x, y), 0.25)
    _rounded_rect(msp, 4, 3, 8, 5, 0.5)


def washer(msp):
    msp.add_circle((0, 0), 40)
    msp.add_circle((0, 0), 20)


def gear(msp, teeth=60, radius=150.0, depth=10.0):
    """An outline of 4 x teeth bulged edges, a bore and six holes: a part of a few hundred curved edges."""
    pts = []
    for k in range(teeth):
        for frac, r, bulge in ((0.0, radius - depth, 0.3), (0.25, radius, 0.15), (0.5, radius, 0.3),
                               (0.75, radius - depth, -0.15)):
            a = 2 * math.pi * (k + frac) / teeth
            pts.append((r * math.cos(a), r * math.sin(a), bulge))
    msp.add_lwpolyline(pts, format="xyb", close=True)
    msp.add_circle((0, 0), 40)
    for k in range(6):
        a = 2 * math.pi * k / 6
        msp.add_circle((90 * math.cos(a), 90 * math.sin(a)), 12)


# kind, drawing, $INSUNITS (1 inch, 4 mm), count in the nest
KINDS = [("bracket", bracket, 4, 12), ("lplate", lplate, 4, 12), ("flange", flange, 4, 6),
         ("gusset", gusset, 4, 12), ("cover", cover, 1, 6), ("washer", washer, 4, 24)]


def draw(folder, kinds):
    out = []
    for name, make, units, count in kinds:
        doc = ezdxf.new("R2010", units=units)
        make(doc.modelspace())
        path = os.path.join(folder, f"{name}.dxf")
        doc.saveas(path)
        out.append((path, count))
    return out


# ---------------------------------------------------------------- the written curves against the drawing's


def records(entities, m, scale):
    """Comparable records of DXF entities under the map m of drawing points (scale: drawing unit to mm)."""
    o, x, y = m((0, 0)), m((1, 0)), m((0, 1))
    flip = (x[0] - o[0]) * (y[1] - o[1]) - (x[1] - o[1]) * (y[0] - o[0]) < 0

    def at(p):
        return m((p[0] * scale, p[1] * scale))

    out = []
    for e in entities:
        kind = e.dxftype()
        if kind == "LINE":
            out.append((kind, sorted([at(e.dxf.start), at(e.dxf.end)])))
        elif kind == "CIRCLE":
            out.append((kind, [at(e.dxf.center), (e.dxf.radius * scale, 0.0)]))
        elif kind == "ARC":
            c, r = e.dxf.center, e.dxf.radius
            ends = [at((c.x + r * math.cos(math.radians(a)), c.y + r * math.sin(math.radians(a))))
                    for a in (e.dxf.start_angle, e.dxf.end_angle)]
            out.append((kind, [at(c), (r * scale, 0.0)] + (ends[::-1] if flip else ends)))
        elif kind == "LWPOLYLINE":
            out.append((kind, [(*at((px, py)), -b if flip else b) for px, py, b in e.get_points("xyb")]))
    return out


def deviation(got, want):
    """The largest difference between matching records (inf when some record has no match)."""
    worst = 0.0
    for kind, values in want:
        best = math.inf
        for kind2, values2 in got:
            if kind2 != kind or len(values2) != len(values):
                continue
            if kind == "LWPOLYLINE":  # a closed polyline may begin at another vertex
                turns = [values2[k:] + values2[:k] for k in range(len(values2))]
            else:
                turns = [values2]
            for v2 in turns:
                best = min(best, max(abs(a - b) for p, q in zip(values, v2) for a, b in zip(p, q)))
        worst = max(worst, best)
    return worst


def written_deviation(path, result, drawings):
    """How far the written parts lie from their drawings' curves moved into place (mm)."""
    from Quarvo.cad.contours import Affine

    out = ezdxf.readfile(path)
    groups = [list(g) for _, g in out.groups]
    placed = [e for b in result.bins for e in b]
    worst = 0.0
    for group, entry in zip(groups, placed):
        doc, scale, (ox, oy) = drawings[entry.idef.path]
        s = entry.shape
        place = Affine.placement(s.rotation, bool(getattr(s, "mirrored", False)), s.tx, s.ty)
        want = records(doc.modelspace(), lambda p: place((p[0] - ox, p[1] - oy)), scale)
        worst = max(worst, deviation(records(group, lambda p: p, 1.0), want))
    return worst


def offsets(parts):
    """The drawing, its unit in mm and its part's offset to its own frame, per drawing."""
    from Quarvo.cad import read_parts

    out = {}
    for path, _ in parts:
        doc = ezdxf.readfile(path)
        (item,) = read_parts(path)
        out[path] = (doc, 25.4 if doc.header.get("$INSUNITS") == 1 else 1.0, (item.tx, item.ty))
    return out


# ---------------------------------------------------------------- runs


def nest(folder, parts, fraction, repeat, mirror=False):
    """The best of ``repeat`` runs at a tolerance of ``fraction`` of each part's size."""
    contours.TOLERANCE_FRACTION = fraction
    args = [f"{p}:{n}" for p, n in parts] + ["--sheet", SHEET, "--gap", str(GAP), "--edge", str(EDGE)]
    if mirror:
        args.append("--mirror")
    best = None
    for _ in range(repeat):
        cpu0 = time.process_time()
        job = build_job(nest_parser().parse_intermixed_args(args))
        cpu1, wall1 = time.process_time(), time.perf_counter()
        result = pack(job)
        cpu2, wall2 = time.process_time(), time.perf_counter()
        out = os.path.join(folder, "nest.dxf")
        write_outputs(result, out)
        cpu3 = time.process_time()
        run = (cpu2 - cpu1, wall2 - wall1, cpu3 - cpu0, result, out)
        if best is None or run[0] < best[0]:
            best = run
    vertices = sum(len(i.outer) + sum(len(h) for h in i.holes) for i in job.items if i.kind == "polygon")
    return best + (vertices,)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--fractions", type=float, nargs="*", default=[1e-3, 2e-3, 5e-3, 1e-2],
                    help="chord tolerances to compare, as fractions of each part's size (the default comes first)")
    ap.add_argument("--repeat", type=int, default=3, help="runs of each setting; the least CPU time is shown")
    args = ap.parse_args()
    print(commit_and_machine())
    print(f"load average {os.getloadavg()[0]:.1f}; the default chord tolerance: {TOLERANCE_FRACTION:g} of each "
          "part's size")
    print(f"{'nest':34s} {'tolerance':>9s} {'vertices':>8s} {'pack CPU':>8s} {'pack wall':>9s} {'all CPU':>8s} "
          f"{'sheets':>6s} {'utilisation':>11s} {'used length':>11s} {'mirrored':>8s} {'written off':>11s}")
    default = TOLERANCE_FRACTION
    with tempfile.TemporaryDirectory() as folder:
        parts = draw(folder, KINDS)
        drawings = offsets(parts)
        gear_parts = draw(folder, [("gear", gear, 4, 1)])
        settings = [("72 parts", parts, f, False) for f in [default] + [f for f in args.fractions if f != default]]
        settings.append(("72 parts, --mirror", parts, default, True))
        settings += [(f"gear of 240 arcs x {n}", [(gear_parts[0][0], n)], default, False) for n in (1, 20)]
        for name, ps, fraction, mirror in settings:
            cpu, wall, total, result, out, vertices = nest(folder, ps, fraction, args.repeat, mirror)
            reports = sheet_reports(result)
            off = written_deviation(out, result, drawings) if ps is parts and fraction == default else None
            print(f"{name:34s} {fraction:9.0e} {vertices:8d} {cpu:8.3f} {wall:9.3f} {total:8.3f} "
                  f"{len(result.bins):6d} {' '.join(f'{r.utilisation:.4f}' for r in reports):>11s} "
                  f"{' '.join(f'{r.used_length:.1f}' for r in reports):>11s} "
                  f"{sum(r.mirrored for r in reports):8d} {'' if off is None else f'{off:.1e} mm':>11s}  "
                  f"{len(result.unplaced)} unplaced", flush=True)
    contours.TOLERANCE_FRACTION = default


if __name__ == "__main__":
    main()
