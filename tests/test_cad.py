"""Quarvo.cad: parts read from DXF and SVG drawings, layouts written back.

Drawings are built here: DXF with ezdxf, SVG as text the way drawing programs
write it. Flattened contours are judged against the true curves sampled
densely: an outer contour must contain them, a hole must lie within them,
both within the tolerance.
"""
import importlib
import math
import os
import sys

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

ezdxf = pytest.importorskip("ezdxf")
pytest.importorskip("svgelements")

import geometry_check as gc  # noqa: E402
from Quarvo import Bin, Circle, FirstFit, Polygon  # noqa: E402
from Quarvo import cad  # noqa: E402


# ---------------------------------------------------------------- geometry


def boundary_dist(p, poly):
    return min(gc.point_segment_distance(p, a, b) for a, b in zip(poly, poly[1:]))


def area(poly):
    return abs(gc.signed_area(poly))


def world(item, ring):
    w = gc.pose_of(item)
    return [w(p) for p in ring]


def arc_pts(cx, cy, r, a0, a1, n=720):
    return [(cx + r * math.cos(a0 + (a1 - a0) * k / n), cy + r * math.sin(a0 + (a1 - a0) * k / n)) for k in range(n + 1)]


def ellipse_pts(cx, cy, a, b, rot=0.0, t0=0.0, t1=2 * math.pi, n=720):
    c, s = math.cos(rot), math.sin(rot)
    out = []
    for k in range(n + 1):
        t = t0 + (t1 - t0) * k / n
        x, y = a * math.cos(t), b * math.sin(t)
        out.append((cx + x * c - y * s, cy + x * s + y * c))
    return out


def bezier_pts(ctrl, n=400):
    out = []
    for k in range(n + 1):
        t = k / n
        pts = list(ctrl)
        while len(pts) > 1:
            pts = [((1 - t) * p[0] + t * q[0], (1 - t) * p[1] + t * q[1]) for p, q in zip(pts, pts[1:])]
        out.append(pts[0])
    return out


def check_side(poly, true_pts, tol, hole):
    """Every true point on the material's side of the flattened contour, and
    every flattened vertex within tol of the true curve."""
    for p in true_pts:
        if boundary_dist(p, poly) > 1e-9:
            assert gc.in_ring(p, poly) != hole, f"true point {p} on the wrong side"
    for v in poly:
        assert min(math.dist(v, p) for p in true_pts) <= tol * 1.01 + 1e-9 or boundary_dist(v, true_pts) <= tol * 1.01


def new_doc(units=4):
    doc = ezdxf.new("R2010")
    doc.units = units
    return doc, doc.modelspace()


def rect(msp, x0, y0, x1, y1, **kw):
    return msp.add_lwpolyline([(x0, y0), (x1, y0), (x1, y1), (x0, y1)], close=True, **kw)


# ---------------------------------------------------------------- DXF curves on the right side

TOL = 0.05


def _plate_with_hole(msp):
    rect(msp, 0, 0, 100, 60)
    msp.add_circle((40, 30), 12)
    return {"outer": [(0, 0), (100, 0), (100, 60), (0, 60), (0, 0)], "holes": [arc_pts(40, 30, 12, 0, 2 * math.pi)],
            "area": 6000.0}


def _rounded_by_lines_and_arcs(msp):
    # a 80 x 40 plate with one rounded corner of radius 10, drawn line by line
    msp.add_line((0, 0), (70, 0))
    msp.add_arc((70, 10), 10, 270, 360)
    msp.add_line((80, 10), (80, 40))
    msp.add_line((0, 40), (80, 40))  # drawn backwards: chaining turns it round
    msp.add_line((0, 40), (0, 0))
    true = [(0, 0), (70, 0)] + arc_pts(70, 10, 10, -math.pi / 2, 0) + [(80, 40), (0, 40), (0, 0)]
    return {"outer": true, "holes": [], "area": 3200 - 100 + 25 * math.pi}


def _bulged_notch(msp):
    # a 60 x 30 plate whose top edge has a half-round notch (material outside the arc's circle)
    # and whose right edge bulges out by a half circle (material inside it)
    msp.add_lwpolyline([(0, 0, 0), (60, 0, 1), (60, 30, 0), (40, 30, -1), (20, 30, 0), (0, 30, 0)],
                       format="xyb", close=True)
    true = [(0, 0)] + arc_pts(60, 15, 15, -math.pi / 2, math.pi / 2) + arc_pts(30, 30, 10, 0, -math.pi) + [(0, 30), (0, 0)]
    return {"outer": true, "holes": [], "area": 1800 + math.pi * 15 ** 2 / 2 - math.pi * 10 ** 2 / 2}


def _ellipse_with_elliptic_hole(msp):
    msp.add_ellipse((0, 0), major_axis=(50, 20), ratio=0.5)
    msp.add_ellipse((5, 2), major_axis=(0, 8), ratio=0.5)
    a, rot = math.hypot(50, 20), math.atan2(20, 50)
    return {"outer": ellipse_pts(0, 0, a, a * 0.5, rot), "holes": [ellipse_pts(5, 2, 8, 4, math.pi / 2)],
            "area": math.pi * a * a * 0.5}


def _half_ellipse(msp):
    e = msp.add_ellipse((0, 0), major_axis=(30, 0), ratio=0.4, start_param=0, end_param=math.pi)
    assert e is not None
    msp.add_line((-30, 0), (30, 0))
    return {"outer": ellipse_pts(0, 0, 30, 12, 0, 0, math.pi) + [(30, 0)], "holes": [], "area": math.pi * 30 * 12 / 2}


_CTRL = [(0, 0), (20, 40), (60, -20), (80, 30)]


def _spline_edge(msp):
    s = msp.add_open_spline(_CTRL, degree=3)
    assert s is not None
    msp.add_line((80, 30), (80, -50))
    msp.add_line((80, -50), (0, -50))
    msp.add_line((0, -50), (0, 0))
    true = bezier_pts(_CTRL) + [(80, -50), (0, -50), (0, 0)]
    return {"outer": true, "holes": [], "area": area(true)}


def _spline_hole(msp):
    rect(msp, -20, -60, 100, 60)
    # a closed hole: the spline and a line back along its chord's left side
    msp.add_open_spline(_CTRL, degree=3)
    msp.add_line((80, 30), (80, -40))
    msp.add_line((80, -40), (0, -40))
    msp.add_line((0, -40), (0, 0))
    hole = bezier_pts(_CTRL) + [(80, -40), (0, -40), (0, 0)]
    return {"outer": [(-20, -60), (100, -60), (100, 60), (-20, 60), (-20, -60)], "holes": [hole], "area": 120 * 120}


def _polyline_with_bulges(msp):
    # the old POLYLINE entity: a 40 x 20 stadium, two half circles on its short sides
    msp.add_polyline2d([(10, 0, 0), (30, 0, 1), (30, 20, 0), (10, 20, 1)], format="xyb", close=True)
    true = arc_pts(30, 10, 10, -math.pi / 2, math.pi / 2) + arc_pts(10, 10, 10, math.pi / 2, 3 * math.pi / 2)
    return {"outer": true + [true[0]], "holes": [], "area": 400 + math.pi * 100}


def _rational_spline(msp):
    # a quarter disc whose arc is a rational spline (exact circle): sampled, then pushed out
    msp.add_rational_spline([(50, 0), (50, 50), (0, 50)], [1, math.sqrt(0.5), 1], degree=2)
    msp.add_line((0, 50), (0, 0))
    msp.add_line((0, 0), (50, 0))
    return {"outer": arc_pts(0, 0, 50, 0, math.pi / 2) + [(0, 0), (50, 0)], "holes": [], "area": math.pi * 2500 / 4}


DXF_CASES = {
    "polyline bulges": _polyline_with_bulges,
    "rational spline": _rational_spline,
    "circle hole": _plate_with_hole,
    "line and arc chain": _rounded_by_lines_and_arcs,
    "bulges both ways": _bulged_notch,
    "ellipses": _ellipse_with_elliptic_hole,
    "elliptic arc": _half_ellipse,
    "spline edge": _spline_edge,
    "spline in a hole": _spline_hole,
}


@pytest.mark.parametrize("name", list(DXF_CASES))
def test_dxf_curves_flatten_on_the_material_side_within_tolerance(tmp_path, name):
    doc, msp = new_doc()
    want = DXF_CASES[name](msp)
    path = tmp_path / "part.dxf"
    doc.saveas(path)
    (item,) = cad.read_parts(path, tolerance=TOL)
    assert isinstance(item, Polygon) and item.shape_id == "part"
    outer = world(item, item.outer)
    check_side(outer, want["outer"], TOL, hole=False)
    holes = [world(item, h) for h in item.holes]
    assert len(holes) == len(want["holes"])
    for h, true in zip(holes, want["holes"]):
        check_side(h, true, TOL, hole=True)
        assert area(h) <= area(true) + 1e-9
    # the outer area is at least the true one and exceeds it by less than perimeter x tolerance
    perim = sum(math.dist(p, q) for p, q in zip(want["outer"], want["outer"][1:]))
    assert want["area"] - 1e-6 <= item.area() <= want["area"] + perim * TOL


def test_default_tolerance_is_a_500th_of_each_part(tmp_path):
    doc, msp = new_doc()
    msp.add_circle((0, 0), 1000)
    msp.add_circle((0, 0), 500)
    msp.add_circle((5000, 0), 10)
    rect(msp, 4000, -30, 4050, 30)
    msp.add_circle((4025, 0), 10)
    doc.saveas(tmp_path / "d.dxf")
    ring, lone, plate = cad.read_parts(tmp_path / "d.dxf")
    assert isinstance(lone, Circle) and lone.radius == 10 and (lone.tx, lone.ty) == (5000, 0)
    # the ring's size is 2000: chords within 4 of both circles
    for v in world(ring, ring.outer):
        assert 1000 <= math.hypot(*v) <= 1004 + 1e-9
    for v in world(ring, ring.holes[0]):
        assert 496 - 1e-9 <= math.hypot(*v) <= 500 + 1e-9
    assert max(math.hypot(*v) for v in world(ring, ring.outer)) > 1002  # not the finer 1/1000
    # the plate is 60 across: its hole of radius 10 within 0.12
    for v in world(plate, plate.holes[0]):
        assert 10 - 0.12 <= math.hypot(v[0] - 4025, v[1]) <= 10 + 1e-9
    cx, cy, r = ring.round_outer
    assert (cx + ring.tx, cy + ring.ty, r) == pytest.approx((0, 0, 1000), abs=1e-9)
    assert plate.round_holes == [pytest.approx((25, 30, 10))]


def test_nesting_by_even_odd_depth(tmp_path):
    doc, msp = new_doc()
    rect(msp, 0, 0, 100, 100)       # part
    rect(msp, 10, 10, 90, 90)       # its hole
    rect(msp, 20, 20, 80, 80)       # a part in the hole
    msp.add_circle((50, 50), 10)    # that part's hole
    msp.add_circle((50, 50), 5)     # a lone circle in that hole
    msp.add_circle((95, 5), 2)      # a hole of the outer part
    doc.saveas(tmp_path / "nest.dxf")
    # one contour round all the others: a border, unless the layers are named
    with pytest.raises(ValueError, match="looks like a border; name the part layers with --layers"):
        cad.read_parts(tmp_path / "nest.dxf", tolerance=0.01)
    outer, inner, disc = cad.read_parts(tmp_path / "nest.dxf", tolerance=0.01, layers=["0"])
    assert [outer.shape_id, inner.shape_id, disc.shape_id] == ["nest-1", "nest-2", "nest-3"]
    assert len(outer.holes) == 2 and outer.round_holes[0] is None and outer.round_holes[1] is not None
    assert len(inner.holes) == 1 and inner.area() == pytest.approx(3600)
    assert isinstance(disc, Circle) and disc.radius == 5


@pytest.mark.parametrize("units, factor", [(4, 1.0), (1, 25.4), (5, 10.0), (6, 1000.0), (0, 1.0)])
def test_drawing_units_become_the_jobs(tmp_path, units, factor):
    doc, msp = new_doc(units)
    rect(msp, 1, 2, 4, 6)
    doc.saveas(tmp_path / "u.dxf")
    (mm,) = cad.read_parts(tmp_path / "u.dxf")
    (inch,) = cad.read_parts(tmp_path / "u.dxf", unit="in")
    assert mm.area() == pytest.approx(12 * factor ** 2, rel=1e-12)
    assert (mm.tx, mm.ty) == pytest.approx((1 * factor, 2 * factor), rel=1e-12)
    if units:
        assert inch.area() == pytest.approx(12 * (factor / 25.4) ** 2, rel=1e-12)


@pytest.mark.parametrize("xscale, yscale, rotation", [(1, 1, 0), (2, 2, 30), (-1, 1, 90), (1, -1, 45), (3, 1, 0), (-2, 0.5, 200)])
def test_block_inserts_are_expanded_with_scale_rotation_and_mirror(tmp_path, xscale, yscale, rotation):
    doc, msp = new_doc()
    blk = doc.blocks.new("BRACKET")
    blk.add_lwpolyline([(0, 0), (40, 0), (40, 10), (10, 10), (10, 30), (0, 30)], close=True)
    blk.add_circle((25, 5), 3)
    outer_blk = doc.blocks.new("TWO")  # a block holding the bracket twice: nested inserts
    outer_blk.add_blockref("BRACKET", (0, 0))
    outer_blk.add_blockref("BRACKET", (100, 0))
    msp.add_blockref("TWO", (500, 200), dxfattribs={"xscale": xscale, "yscale": yscale, "rotation": rotation})
    doc.saveas(tmp_path / "b.dxf")
    items = cad.read_parts(tmp_path / "b.dxf", tolerance=1e-3)
    assert len(items) == 2
    c, s = math.cos(math.radians(rotation)), math.sin(math.radians(rotation))

    def place(x, y):
        x, y = x * xscale, y * yscale
        return (500 + x * c - y * s, 200 + x * s + y * c)

    want_corners = sorted([place(dx + 40, 10) for dx in (0, 100)])
    got = [world(i, i.outer) for i in items]
    for corner in want_corners:
        assert any(min(math.dist(corner, v) for v in ring) < 1e-9 for ring in got)
    assert sum(i.area() for i in items) == pytest.approx(2 * 600 * abs(xscale * yscale), rel=1e-12)
    for i in items:
        hole = world(i, i.holes[0])
        assert area(hole) <= math.pi * 9 * abs(xscale * yscale) + 1e-9


# ---------------------------------------------------------------- SVG as drawing programs write it

INKSCAPE = """<?xml version="1.0" encoding="UTF-8" standalone="no"?>
<svg xmlns="http://www.w3.org/2000/svg" xmlns:xlink="http://www.w3.org/1999/xlink"
   xmlns:inkscape="http://www.inkscape.org/namespaces/inkscape"
   width="210mm" height="297mm" viewBox="0 0 210 297" version="1.1" id="svg8">
  <defs id="defs2"><path id="tri" d="m 0,0 h 20 l -10,15 z"/></defs>
  <g inkscape:label="Layer 1" inkscape:groupmode="layer" id="layer1" transform="translate(10,20)">
    <path id="plate" style="fill:none;stroke:#000000;stroke-width:0.26"
       d="M 0,0 H 60 V 20 A 10,10 0 0 1 50,30 H 0 Z M 10,10 C 10,5 20,5 20,10 C 20,15 10,15 10,10 Z"/>
    <circle id="disc" cx="100" cy="50" r="12.5"/>
    <ellipse id="oval" cx="150" cy="50" rx="20" ry="8" transform="rotate(30,150,50)"/>
    <rect id="rounded" x="0" y="100" width="40" height="30" rx="5" ry="5"/>
  </g>
  <g id="scaled" transform="matrix(2,0,0,2,0,200)"><rect id="small" x="0" y="0" width="10" height="5"/></g>
  <use xlink:href="#tri" x="150" y="150" id="copy"/>
  <text x="5" y="290" id="label">not a part</text>
</svg>
"""


def test_inkscape_like_svg(tmp_path):
    path = tmp_path / "sheet.svg"
    path.write_text(INKSCAPE)
    items = {i.shape_id: i for i in cad.read_parts(path, tolerance=0.01)}
    assert sorted(items) == [f"sheet-{k}" for k in range(1, 7)]
    plate, disc, oval, rounded, small, tri = (items[f"sheet-{k}"] for k in range(1, 7))
    # y up: the plate's corner at page (10, 20) lies at y = 297 - 20 - 30 = 247 .. 277
    assert (plate.tx, plate.ty) == pytest.approx((10, 247), abs=1e-9)
    exact = 60 * 30 - 100 + 25 * math.pi
    assert exact <= plate.area() <= exact + 0.01 * 200
    (hole,) = plate.holes
    true_hole = [(10 + x, 297 - 20 - y) for x, y in
                 bezier_pts([(10, 10), (10, 5), (20, 5), (20, 10)]) + bezier_pts([(20, 10), (20, 15), (10, 15), (10, 10)])]
    check_side(world(plate, hole), true_hole, 0.01, hole=True)
    assert isinstance(disc, Circle) and disc.radius == pytest.approx(12.5, rel=1e-12)
    assert (disc.tx, disc.ty) == pytest.approx((110, 297 - 70), rel=1e-12)
    true_oval = ellipse_pts(160, 297 - 70, 20, 8, -math.radians(30))
    check_side(world(oval, oval.outer), true_oval, 0.01, hole=False)
    assert math.pi * 160 <= oval.area() <= math.pi * 160 + 0.01 * 2 * math.pi * 20
    assert 1200 - 25 * (4 - math.pi) <= rounded.area() <= 1200 - 25 * (4 - math.pi) + 0.01 * 140
    assert small.area() == pytest.approx(200, rel=1e-12) and (small.tx, small.ty) == pytest.approx((0, 297 - 210))
    assert tri.area() == pytest.approx(150, rel=1e-12) and (tri.tx, tri.ty) == pytest.approx((150, 297 - 165))


@pytest.mark.parametrize("size, factor", [('width="100mm" height="100mm" viewBox="0 0 100 100"', 1.0),
                                          ('width="10cm" height="10cm" viewBox="0 0 1000 1000"', 0.1),
                                          ('width="4in" height="4in" viewBox="0 0 4 4"', 25.4),
                                          ('width="400" height="400"', 25.4 / 96),
                                          ("", 25.4 / 96)])
def test_svg_page_units(tmp_path, size, factor):
    path = tmp_path / "u.svg"
    path.write_text(f'<svg xmlns="http://www.w3.org/2000/svg" {size}><rect x="1" y="1" width="2" height="3"/></svg>')
    (item,) = cad.read_parts(path)
    assert item.area() == pytest.approx(6 * factor ** 2, rel=1e-12)


# ---------------------------------------------------------------- malformed files


def _dxf(build):
    def make(path):
        doc, msp = new_doc()
        build(msp)
        doc.saveas(path)
    return make


def _text(data, binary=False):
    def make(path):
        if binary:
            path.write_bytes(data)
        else:
            path.write_text(data)
    return make


MALFORMED = [
    ("open.dxf", _dxf(lambda m: (m.add_line((0, 0), (120, 0)), m.add_line((120, 0), (120, 35)))),
     ["open contour", "LINE handle", "layer 0", "ends at (0, 0) with no other entity within 0.0012"]),
    ("bowtie.dxf", _dxf(lambda m: m.add_lwpolyline([(0, 0), (10, 10), (10, 0), (0, 10)], close=True)),
     ["crosses itself", "LWPOLYLINE handle", "(5, 5)"]),
    ("cross.dxf", _dxf(lambda m: (rect(m, 0, 0, 10, 10), rect(m, 5, 5, 15, 15))), ["contours cross", "(10, 5)"]),
    ("branch.dxf", _dxf(lambda m: (m.add_line((0, 0), (10, 0)), m.add_line((10, 0), (10, 10)),
                                   m.add_line((10, 10), (0, 0)), m.add_line((10, 0), (20, 0)))),
     ["branch", "(10, 0)"]),
    ("twice.dxf", _dxf(lambda m: (rect(m, 0, 0, 10, 10), rect(m, 0, 0, 10, 10))), ["drawn twice"]),
    ("empty.dxf", _dxf(lambda m: m.add_text("hello")), ["no closed contour"]),
    ("huge.dxf", _dxf(lambda m: rect(m, 0, 0, 1e13, 10)), ["beyond", "LWPOLYLINE handle", "1e+13"]),
    ("garbage.dxf", _text(bytes(range(256)) * 8, binary=True), ["not a readable DXF file"]),
    ("garbage.svg", _text(b"\x89PNG\r\n\x1a\n\x00\x00garbage", binary=True), ["not a readable SVG file"]),
    ("open.svg", _text('<svg xmlns="http://www.w3.org/2000/svg"><path id="edge" d="M 0 0 L 10 0 L 10 10"/></svg>'),
     ["open contour", 'path id "edge"']),
    ("bowtie.svg", _text('<svg xmlns="http://www.w3.org/2000/svg"><polygon id="bt" points="0,0 10,10 10,0 0,10"/></svg>'),
     ["crosses itself", 'polygon id "bt"']),
    ("empty.svg", _text('<svg xmlns="http://www.w3.org/2000/svg" width="10mm" height="10mm"></svg>'), ["no closed contour"]),
    ("huge.svg", _text('<svg xmlns="http://www.w3.org/2000/svg"><rect id="big" width="1e15" height="1"/></svg>'),
     ["beyond", 'rect id "big"']),
    ("zero.dxf", _dxf(lambda m: m.add_lwpolyline([(0, 0), (10, 0), (20, 0)], close=True)), ["encloses no area"]),
    ("nothing.txt", _text("just words"), ["neither a DXF nor an SVG"]),
]


@pytest.mark.parametrize("name, make, words", MALFORMED, ids=[m[0] for m in MALFORMED])
def test_malformed_files_raise_one_line(tmp_path, name, make, words):
    path = tmp_path / name
    make(path)
    with pytest.raises(ValueError) as info:
        cad.read_parts(path)
    msg = str(info.value)
    assert "\n" not in msg and msg.startswith(name + ": ")
    for w in words:
        assert w in msg


@pytest.mark.parametrize("kw", [{"tolerance": 0}, {"tolerance": -1}, {"tolerance": float("nan")},
                                {"unit": "furlong"}, {"snap": "1"}])
def test_bad_arguments(tmp_path, kw):
    doc, msp = new_doc()
    rect(msp, 0, 0, 1, 1)
    doc.saveas(tmp_path / "a.dxf")
    with pytest.raises(ValueError):
        cad.read_parts(tmp_path / "a.dxf", **kw)


def test_gaps_within_snap_join_and_beyond_do_not(tmp_path):
    doc, msp = new_doc()
    msp.add_line((0, 0), (100, 0))
    msp.add_line((100, 0.005), (100, 50))
    msp.add_line((100, 50), (0, 50))
    msp.add_line((0, 50), (0, 0))
    doc.saveas(tmp_path / "gap.dxf")
    with pytest.raises(ValueError, match="with no other entity within 0.001"):
        cad.read_parts(tmp_path / "gap.dxf")  # default snap: 1e-5 of 100
    (item,) = cad.read_parts(tmp_path / "gap.dxf", snap=0.01)
    assert item.area() == pytest.approx(5000, abs=0.1)


# ---------------------------------------------------------------- writing and reading back


def star(rng, n, r0, r1):
    """A star-shaped polygon around the origin; from 6 vertices on it holds the disc of radius 16."""
    pts = []
    angles = [2 * math.pi * (k + rng.uniform(-0.3, 0.3)) / n for k in range(n)]
    for a in angles:
        r = rng.uniform(r0, r1)
        pts.append((r * math.cos(a), r * math.sin(a)))
    return pts


@st.composite
def layouts(draw):
    import random

    rng = random.Random(draw(st.integers(0, 2 ** 32 - 1)))
    nbins = draw(st.integers(1, 3))
    bins = []
    for _ in range(nbins):
        items = []
        for cell in range(draw(st.integers(0, 6))):
            cx, cy = 50 + 100 * (cell % 3), 50 + 100 * (cell // 3)
            kind = rng.choice(["star", "star", "ring", "circle"])
            if kind == "circle":
                it = Circle(rng.uniform(1, 45), "c")
                it.set_position(cx, cy)
            else:
                outer = star(rng, rng.randint(3 if kind == "star" else 6, 12), 25, 45)
                holes, rounds = [], []
                if kind == "ring":
                    r = rng.uniform(3, 15)
                    hole = [(r * math.cos(2 * math.pi * k / 24), r * math.sin(2 * math.pi * k / 24)) for k in range(24)]
                    holes.append(hole)
                    rounds.append((0.0, 0.0, r) if rng.random() < 0.5 else None)
                it = Polygon(outer, holes, f"p{cell}")
                it.round_outer, it.round_holes = None, rounds
                it.rotation = rng.choice([0.0, math.pi / 2, rng.uniform(-math.pi, math.pi)])
                it.set_position(cx, cy)
                if rng.random() < 0.3:
                    it.mirrored = True
            items.append(it)
        bins.append(items)
    return bins


def placed_at(item, ox):
    """The map of the item's points to the page of bins, computed apart from the writer."""
    w = gc.pose_of(item)

    def at(p):
        x, y = w(p)
        return (x + ox, y)
    return at


@pytest.mark.parametrize("ext", [".dxf", ".svg"])
@settings(max_examples=25, deadline=None)
@given(bins=layouts())
def test_written_layouts_read_back_as_the_same_parts_at_their_places(tmp_path_factory, ext, bins):
    path = tmp_path_factory.mktemp("rt") / f"layout{ext}"
    W, H, gap = 300.0, 300.0, 20.0
    cad.write_layout((bins, []), W, H, path, gap=gap)
    back = cad.read_parts(path, tolerance=1e-4) if any(bins) else []
    placed = [(it, b * (W + gap)) for b, items in enumerate(bins) for it in items]
    assert len(back) == len(placed)
    scale = len(bins) * (W + gap)
    unused = list(back)
    for it, ox in placed:
        if isinstance(it, Circle):
            match = [r for r in unused if isinstance(r, Circle) and math.dist((r.tx, r.ty), (it.tx + ox, it.ty)) < 1e-9 * scale]
            assert len(match) == 1 and match[0].radius == pytest.approx(it.radius, rel=1e-9)
            unused.remove(match[0])
            continue
        at = placed_at(it, ox)
        outer, holes = [at(p) for p in it.outer[:-1]], [[at(p) for p in h[:-1]] for h in it.holes]
        rounds = it.round_holes
        cands = [r for r in unused if isinstance(r, Polygon) and
                 all(min(math.dist(v, q) for q in world(r, r.outer)) < 1e-9 * scale for v in outer)]
        assert len(cands) == 1, (it.shape_id, len(cands))
        r = cands[0]
        unused.remove(r)
        assert len(r.outer) == len(it.outer) and r.area() == pytest.approx(it.area(), rel=1e-9)
        assert len(r.holes) == len(holes)
        for hole, got, rnd, mark in zip(holes, r.holes, rounds, r.round_holes):
            if rnd is None:
                assert mark is None and len(got) == len(hole) + 1
                assert all(min(math.dist(v, q) for q in world(r, got)) < 1e-9 * scale for v in hole)
            else:
                # a hole read as a circle goes out as a circle and comes back as one
                centre = at(rnd[:2])
                assert mark[2] == pytest.approx(rnd[2], rel=1e-9)
                assert math.dist((mark[0] + r.tx, mark[1] + r.ty), centre) < 1e-9 * scale
    assert not unused


def test_dxf_layout_structure(tmp_path):
    a = Polygon([(0, 0), (10, 0), (0, 10)], None, "tri")
    b = Polygon([(0, 0), (10, 0), (0, 10)], None, "tri")
    b.set_position(20, 5)
    b.rotation = math.pi / 2
    b.mirrored = True
    c = Circle(4, "disc")
    c.set_position(50, 50)
    for explode in (True, False):
        path = tmp_path / f"out-{explode}.dxf"
        cad.write_layout([[a, b], [c]], 100, 80, path, unit="in", explode=explode)
        doc = ezdxf.readfile(path)
        assert doc.units == 1
        msp = doc.modelspace()
        # each sheet's outline on a layer of its own, grey and not plotted, its parts on another
        outlines = [e for e in msp if e.dxf.layer.startswith("sheet-")]
        assert [(o.dxftype(), o.dxf.layer, o.closed) for o in outlines] == [("LWPOLYLINE", "sheet-1", True),
                                                                           ("LWPOLYLINE", "sheet-2", True)]
        assert all(doc.layers.get(f"sheet-{n}").dxf.plot == 0 for n in (1, 2))
        parts = [e for e in msp if e not in outlines]
        assert {e.dxf.layer for e in parts} == {"parts-1", "parts-2"}
        if explode:
            groups = [(g.dxf.description, [e.dxftype() for e in g]) for _, g in doc.groups]
            assert groups == [("tri", ["LWPOLYLINE"]), ("tri", ["LWPOLYLINE"]), ("disc", ["CIRCLE"])]
            flipped = sorted(v for p in list(doc.groups)[1][1][0].get_points("xy") for v in p)
            assert flipped == pytest.approx(sorted([20, 5, 20, -5, 10, 5]))  # mirrored, then turned a quarter
            assert not msp.query("INSERT")
            continue
        inserts = msp.query("INSERT")
        assert [i.dxf.layer for i in inserts] == ["parts-1", "parts-1", "parts-2"]
        assert inserts[0].dxf.name == inserts[1].dxf.name  # one block for one shape
        assert inserts[1].dxf.rotation == pytest.approx(90) and inserts[1].dxf.xscale == -1
        assert tuple(inserts[2].dxf.insert)[:2] == (50 + 100 + 10, 50)  # gap: at least 10 units
        assert [e.dxftype() for e in doc.blocks.get(inserts[2].dxf.name)] == ["CIRCLE"]


def test_svg_layout_structure(tmp_path):
    ring = Polygon([(0, 0), (30, 0), (30, 30), (0, 30)], [[(10, 10), (20, 10), (20, 20), (10, 20)]], "ring")
    ring.set_position(0.1, 0.2)
    c = Circle(4, "disc")
    c.set_position(50, 50)
    path = tmp_path / "out.svg"
    cad.write_layout([[ring, c]], 1000.5, 80, path, unit="m")
    text = path.read_text()
    assert 'viewBox="0 0 1000.5 80.0"' in text and 'width="100050.0cm"' in text
    assert 'matrix(1 0 0 -1 0 80.0)' in text
    assert 'fill-rule="evenodd"' in text and '<circle id="parts-1-item-2"' in text
    assert "M 0.1 0.2 L" in text and 'r="4.0"' in text
    # per sheet an Inkscape layer for the outline and one for the parts
    assert '<g id="sheet-1" inkscape:groupmode="layer" inkscape:label="sheet-1">' in text
    assert '<g id="parts-1" inkscape:groupmode="layer" inkscape:label="parts-1">' in text


@pytest.mark.parametrize("args, err", [
    (([[]], 100, 100, "x.png"), ValueError),
    (([[]], 0, 100, "x.dxf"), ValueError),
    (([["not an item"]], 100, 100, "x.dxf"), TypeError),
])
def test_write_layout_refusals(tmp_path, args, err):
    bins, w, h, name = args
    with pytest.raises(err):
        cad.write_layout(bins, w, h, tmp_path / name)
    assert not os.listdir(tmp_path)


def test_pack_read_parts_and_write(tmp_path):
    doc, msp = new_doc()
    for k in range(4):
        rect(msp, 100 * k, 0, 100 * k + 60, 40)
        msp.add_circle((100 * k + 30, 20), 8)
    msp.add_circle((0, 200), 15)
    doc.saveas(tmp_path / "plates.dxf")
    items = cad.parts_for_job_item("plates.dxf", quantity=3, base=tmp_path)
    assert len(items) == 15 and len({id(i) for i in items}) == 15
    assert [i.shape_id for i in items[:4]] == ["plates-1"] * 3 + ["plates-2"]
    bins, unplaced = FirstFit(items, Bin(200, 150), 2.0).do_pack()
    assert not unplaced
    cad.write_layout((bins, unplaced), 200, 150, tmp_path / "nest.dxf")
    back = cad.read_parts(tmp_path / "nest.dxf")
    assert len(back) == 15
    assert sorted(round(i.area(), 6) for i in back) == sorted(round(i.area(), 6) for i in items)


@pytest.mark.parametrize("quantity", [0, -1, 1.5, True, "2"])
def test_job_item_quantity_must_be_whole(tmp_path, quantity):
    with pytest.raises(ValueError, match="quantity"):
        cad.parts_for_job_item(tmp_path / "a.dxf", quantity)


def test_without_the_extra_the_import_names_it(monkeypatch):
    monkeypatch.setitem(sys.modules, "ezdxf", None)
    monkeypatch.delitem(sys.modules, "Quarvo.cad")
    with pytest.raises(ImportError, match=r'pip install "Quarvo\[cad\]"'):
        importlib.import_module("Quarvo.cad")


# ---------------------------------------------------------------- the drawing's own curves, written back


def _shop_plate(msp):
    """A plate as a shop draws it: its outline of LINEs and ARCs (a round corner, a concave fillet), a slot of a
    polyline with bulges, bolt holes as CIRCLEs."""
    msp.add_line((0, 0), (150, 0))
    msp.add_arc((150, 15), 15, 270, 360)
    msp.add_line((165, 15), (165, 60))
    msp.add_line((165, 60), (70, 60))
    msp.add_arc((70, 80), 20, 180, 270)  # concave: the material lies outside its circle
    msp.add_line((50, 80), (50, 120))
    msp.add_line((50, 120), (0, 120))
    msp.add_line((0, 120), (0, 0))
    msp.add_lwpolyline([(90, 25, 0), (130, 25, 1), (130, 40, 0), (90, 40, 1)], format="xyb", close=True)
    msp.add_circle((20, 20), 6)
    msp.add_circle((25, 100), 8.5)


def _curved_fin(msp):
    """An outline with a SPLINE edge and an elliptic hole (ELLIPSE)."""
    msp.add_open_spline([(0, 0), (20, 40), (60, -20), (80, 30)], degree=3)
    msp.add_line((80, 30), (80, -50))
    msp.add_line((80, -50), (0, -50))
    msp.add_line((0, -50), (0, 0))
    msp.add_ellipse((40, -25), major_axis=(12, 9), ratio=0.5, start_param=0, end_param=2 * math.pi)


def _drawn_curves(entities, m=None):
    """DXF entities, read with ezdxf alone, as comparable records in the world
    under the map m of drawing points (None: as drawn)."""
    m = m or (lambda p: (p[0], p[1]))
    o, x, y = m((0, 0)), m((1, 0)), m((0, 1))
    flip = (x[0] - o[0]) * (y[1] - o[1]) - (x[1] - o[1]) * (y[0] - o[0]) < 0
    out = []
    for e in entities:
        kind = e.dxftype()
        if kind == "LINE":
            out.append(("seg", sorted([m(e.dxf.start), m(e.dxf.end)])))
        elif kind == "CIRCLE":
            out.append(("circle", m(e.dxf.center), e.dxf.radius))
        elif kind == "ARC":
            c, r = e.dxf.center, e.dxf.radius
            ends = [m((c.x + r * math.cos(math.radians(a)), c.y + r * math.sin(math.radians(a))))
                    for a in (e.dxf.start_angle, e.dxf.end_angle)]
            out.append(("arc", m(c), r, ends[::-1] if flip else ends))  # an ARC runs anticlockwise
        elif kind == "LWPOLYLINE":
            out.append(("polyline", [(*m((x, y)), -b if flip else b) for x, y, b in e.get_points("xyb")]))
        elif kind == "SPLINE":
            out.append(("spline", [m(p) for p in e.control_points], list(e.knots)))
        elif kind == "ELLIPSE":
            c = e.dxf.center
            a = e.dxf.major_axis
            major = math.hypot(a.x, a.y)
            out.append(("ellipse", m(c), major * e.dxf.ratio, sorted([m((c.x + a.x, c.y + a.y)),
                                                                      m((c.x - a.x, c.y - a.y))])))
    return out


def _same(got, want, eps):
    if got[0] != want[0]:
        return False
    if got[0] == "polyline":
        # a closed polyline may begin anywhere: compare it turned to the same first vertex
        a, b = got[1], want[1]
        if len(a) != len(b):
            return False
        for k in range(len(a)):
            if all(math.dist(p[:2], q[:2]) <= eps and abs(p[2] - q[2]) <= 1e-9 for p, q in zip(a[k:] + a[:k], b)):
                return True
        return False

    def flat(v):
        if isinstance(v, (int, float)):
            return [v]
        return [x for item in v for x in flat(item)]
    a, b = flat(got[1:]), flat(want[1:])
    return len(a) == len(b) and all(abs(x - y) <= eps for x, y in zip(a, b))


pose = st.tuples(st.sampled_from([0.0, math.pi / 2, math.pi, 3 * math.pi / 2, 0.37, -2.1]), st.booleans(),
                 st.floats(300, 2700), st.floats(300, 1200))


@pytest.mark.parametrize("draw", [_shop_plate, _curved_fin], ids=["lines-arcs-bulges-circles", "spline-ellipse"])
@settings(max_examples=12, deadline=None)
@given(poses=st.lists(pose, min_size=1, max_size=3))
def test_written_curves_are_the_drawings_own_moved_into_place(tmp_path_factory, draw, poses):
    folder = tmp_path_factory.mktemp("drawn")
    doc, msp = new_doc()
    draw(msp)
    doc.saveas(folder / "part.dxf")
    copies = cad.parts_for_job_item(folder / "part.dxf", quantity=len(poses))
    ox, oy = copies[0].tx, copies[0].ty  # read where the drawing has it: local = drawing - (ox, oy)
    for item, (rotation, mirrored, x, y) in zip(copies, poses):
        item.rotation, item.mirrored = rotation, mirrored
        item.set_position(x, y)
    cad.write_layout([copies], 3000, 1500, folder / "nest.dxf")
    out = ezdxf.readfile(folder / "nest.dxf")
    groups = [list(g) for _, g in out.groups]
    assert len(groups) == len(copies)
    eps = 1e-9 * 3000
    unmatched = [g for g in groups]
    for item in copies:
        at = gc.pose_of(item)
        want = _drawn_curves(doc.modelspace(), lambda p: at((p[0] - ox, p[1] - oy)))
        # the group that holds this copy's curves: every one of them, entity for entity
        found = None
        for g in unmatched:
            got = _drawn_curves(g)
            if len(got) == len(want) and all(any(_same(h, w, eps) for h in got) for w in want):
                found = g
                break
        assert found is not None, (item.rotation, item.mirrored)
        unmatched.remove(found)
        assert {e.dxf.layer for e in found} == {"parts-1"}


@pytest.mark.parametrize("ext", [".dxf", ".svg"])
@pytest.mark.parametrize("draw", [_shop_plate, _curved_fin], ids=["lines-arcs-bulges-circles", "spline-ellipse"])
def test_a_written_nest_reads_back_with_the_drawings_areas(tmp_path, draw, ext):
    doc, msp = new_doc()
    draw(msp)
    doc.saveas(tmp_path / "part.dxf")
    copies = cad.parts_for_job_item(tmp_path / "part.dxf", quantity=4)
    true_area = copies[0].true_shape.area()
    for k, item in enumerate(copies):
        item.rotation, item.mirrored = [0.0, math.pi / 2, 0.37, math.pi][k], k % 2 == 1
        item.set_position(300 + 400 * k, 400)
    for explode in (True, False):
        path = tmp_path / f"nest-{explode}{ext}"
        cad.write_layout([copies], 2000, 800, path, explode=explode)
        back = cad.read_parts(path, tolerance=0.5)  # a coarse tolerance: the curves read back are exact all the same
        assert len(back) == 4
        # the SVG has no spline: its cubic pieces are the spline's own
        assert [r.true_shape.area() for r in back] == pytest.approx([true_area] * 4, rel=1e-9)


# ---------------------------------------------------------------- layers


def _bracket_in_a_frame(msp, frame_layer):
    """A part on layer CUT, its holes on HOLES, a drawing frame and a title round it, text on TEXT."""
    rect(msp, 0, 0, 120, 60, dxfattribs={"layer": "CUT"})
    msp.add_circle((20, 30), 5, dxfattribs={"layer": "HOLES"})
    rect(msp, -50, -50, 250, 150, dxfattribs={"layer": frame_layer})
    rect(msp, 150, -45, 245, -20, dxfattribs={"layer": frame_layer})  # a title block in the frame
    msp.add_text("BRACKET", dxfattribs={"layer": "TEXT"})


@pytest.mark.parametrize("frame_layer", ["BORDER", "Title Block", "frame", "defpoints"])
def test_frames_on_their_usual_layers_are_left_out_and_named(tmp_path, frame_layer):
    doc, msp = new_doc()
    _bracket_in_a_frame(msp, frame_layer)
    doc.saveas(tmp_path / "b.dxf")
    parts = cad.read_parts(tmp_path / "b.dxf")
    assert len(parts) == 1 and len(parts[0].holes) == 1
    assert parts[0].true_shape.area() == pytest.approx(7200 - 25 * math.pi)
    assert parts.skipped_layers == (frame_layer,)


def test_a_frame_on_a_layer_of_its_own_name_is_refused_unless_the_layers_are_named(tmp_path):
    doc, msp = new_doc()
    _bracket_in_a_frame(msp, "RAHMEN")
    doc.saveas(tmp_path / "b.dxf")
    with pytest.raises(ValueError, match="looks like a border; name the part layers with --layers") as refused:
        cad.read_parts(tmp_path / "b.dxf")
    assert "RAHMEN" in str(refused.value)
    for layers in (["CUT", "HOLES"], "cut,holes"):
        (part,) = cad.read_parts(tmp_path / "b.dxf", layers=layers)
        assert len(part.holes) == 1
    (plain,) = cad.read_parts(tmp_path / "b.dxf", layers=["CUT"])
    assert plain.holes == []
    with pytest.raises(ValueError, match=r"no closed contour .*on the layers NOPE; layers with outlines: CUT, HOLES, "
                                         r"RAHMEN"):
        cad.read_parts(tmp_path / "b.dxf", layers=["nope"])
    with pytest.raises(ValueError, match="layers"):
        cad.read_parts(tmp_path / "b.dxf", layers=["CUT", ""])


def test_a_block_s_entities_on_layer_0_take_the_layer_of_its_insert(tmp_path):
    doc, msp = new_doc()
    frame = doc.blocks.new("FRAME-A3")
    rect(frame, -50, -50, 250, 150)  # on layer 0
    doc.blocks.new("PART").add_circle((0, 0), 10, dxfattribs={"layer": "CUT"})
    msp.add_blockref("FRAME-A3", (0, 0), dxfattribs={"layer": "BORDER"})
    msp.add_blockref("PART", (60, 40), dxfattribs={"layer": "BORDER"})  # its circle keeps its own layer
    rect(msp, 0, 0, 120, 80, dxfattribs={"layer": "CUT"})
    doc.saveas(tmp_path / "blocks.dxf")
    (part,) = cad.read_parts(tmp_path / "blocks.dxf")
    assert len(part.holes) == 1
    assert cad.read_parts(tmp_path / "blocks.dxf").skipped_layers == ("BORDER",)


INKSCAPE_LAYERS = """<svg xmlns="http://www.w3.org/2000/svg"
     xmlns:inkscape="http://www.inkscape.org/namespaces/inkscape" width="300mm" height="200mm" viewBox="0 0 300 200">
  <g inkscape:groupmode="layer" inkscape:label="Frame" id="layer1"><rect x="1" y="1" width="298" height="198"/></g>
  <g inkscape:groupmode="layer" inkscape:label="CUT" id="layer2">
    <g id="g7"><rect id="plate" x="20" y="20" width="100" height="60"/></g>
    <g inkscape:groupmode="layer" inkscape:label="HOLES" id="layer3"><circle cx="50" cy="50" r="10"/></g>
  </g>
</svg>
"""

GROUP_LAYERS = """<svg xmlns="http://www.w3.org/2000/svg" width="300mm" height="200mm" viewBox="0 0 300 200">
  <g id="BORDER_x5F_1" data-name="Border"><rect x="1" y="1" width="298" height="198"/></g>
  <g id="CUT"><g id="inner"><rect x="20" y="20" width="100" height="60"/></g><circle cx="50" cy="50" r="10"/></g>
</svg>
"""


@pytest.mark.parametrize("text", [INKSCAPE_LAYERS, GROUP_LAYERS], ids=["inkscape", "top-level groups"])
def test_svg_layers_are_inkscape_layers_or_top_level_groups(tmp_path, text):
    (tmp_path / "p.svg").write_text(text)
    (part,) = cad.read_parts(tmp_path / "p.svg")
    assert len(part.holes) == 1
    assert [l.upper() for l in cad.read_parts(tmp_path / "p.svg").skipped_layers] == ["BORDER" if "Border" in text
                                                                                      else "FRAME"]
    (plain,) = cad.read_parts(tmp_path / "p.svg", layers=["cut"])
    assert plain.holes == [] if "HOLES" in text else len(plain.holes) == 1


@pytest.mark.parametrize("ext, explode", [(".dxf", True), (".dxf", False), (".svg", True)])
def test_parts_drawn_line_by_line_written_touching_read_back_part_by_part(tmp_path, ext, explode):
    doc, msp = new_doc()
    for a, b in (((0, 0), (10, 0)), ((10, 0), (10, 10)), ((10, 10), (0, 10)), ((0, 10), (0, 0))):
        msp.add_line(a, b)
    doc.saveas(tmp_path / "sq.dxf")
    squares = cad.parts_for_job_item(tmp_path / "sq.dxf", quantity=4)
    # side by side and corner to corner: the ends of their lines meet
    for item, (x, y) in zip(squares, [(0, 0), (10, 0), (20, 10), (0, 10)]):
        item.set_position(x, y)
    cad.write_layout([squares], 40, 40, tmp_path / f"nest{ext}", explode=explode)
    back = cad.read_parts(tmp_path / f"nest{ext}")
    assert [v for p in sorted(back, key=lambda p: (round(p.tx), round(p.ty))) for v in (p.tx, p.ty)] == \
        pytest.approx([0, 0, 0, 10, 10, 0, 20, 10], abs=1e-9)
    assert all(p.true_shape.area() == pytest.approx(100) for p in back)
