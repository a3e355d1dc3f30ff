"""Geometry kernel: exact example values and bit-for-bit agreement with plain
Python versions of the algorithms on many random inputs."""
import copy
import math
import random
import struct
from fractions import Fraction

import pytest
from hypothesis import assume, given, settings
from hypothesis import strategies as st

import Quarvo.geometry_handle as g
from Quarvo._quarvo import geometry_handle as _k

PROPS = settings(max_examples=400, deadline=None)


# ---------------------------------------------------------------------------
# Plain Python versions, written step by step in the documented order of
# operations. Any reordering or fused multiply-add in the engine shows up as
# a one-ulp difference against these.

def r_area(pts):
    s = 0.0
    for i in range(len(pts) - 1):
        s += pts[i][0] * pts[i + 1][1] - pts[i + 1][0] * pts[i][1]
    return s / 2.0


def r_ensure_winding(pts, clockwise):
    if len(pts) < 2:
        return list(pts)
    closed = list(pts)
    if closed[0][0] != closed[-1][0] or closed[0][1] != closed[-1][1]:
        closed.append(closed[0])
    if (r_area(closed) < 0) != clockwise:
        closed.reverse()
    return closed


def r_bbox(pts):
    xs = [p[0] for p in pts]
    ys = [p[1] for p in pts]
    return (min(xs), min(ys), max(xs), max(ys))


def r_centroid(pts):
    a = r_area(pts)
    cx = cy = 0.0
    for i in range(len(pts) - 1):
        f = pts[i][0] * pts[i + 1][1] - pts[i + 1][0] * pts[i][1]
        cx += (pts[i][0] + pts[i + 1][0]) * f
        cy += (pts[i][1] + pts[i + 1][1]) * f
    if abs(a) < 1e-12:
        sx = sy = 0.0
        for p in pts:
            sx += p[0]
        for p in pts:
            sy += p[1]
        return (sx / len(pts), sy / len(pts))
    return (cx / (6 * a), cy / (6 * a))


def r_is_convex(poly):
    n = len(poly) - 1
    if n < 3:
        return True
    sign = 0
    for i in range(n):
        a, b, c = poly[i], poly[(i + 1) % n], poly[(i + 2) % n]
        cr = (b[0] - a[0]) * (c[1] - b[1]) - (b[1] - a[1]) * (c[0] - b[0])
        if abs(cr) < 1e-12:
            continue
        if sign == 0:
            sign = 1 if cr > 0 else -1
        elif (cr > 0) != (sign > 0):
            return False
    return True


def r_circle(center, radius, n=64):
    out = []
    for i in range(n):
        a = (math.pi / 2) - (((2 * math.pi) * i) / n)
        out.append((center[0] + radius * math.cos(a), center[1] + radius * math.sin(a)))
    out.append(out[0])
    return out


def r_key(p):
    return (round(p[1] / 1e-9), p[0])


def r_top_right(pts):
    return max(pts, key=r_key)


def r_bottom_left(pts):
    return min(pts, key=r_key)


def r_line_intersection(p1, p2, p3, p4):
    x1, y1 = p1
    x2, y2 = p2
    x3, y3 = p3
    x4, y4 = p4
    d = (x1 - x2) * (y3 - y4) - (y1 - y2) * (x3 - x4)
    if abs(d) < 1e-12:
        return p2
    t = ((x1 - x3) * (y3 - y4) - (y1 - y3) * (x3 - x4)) / d
    return (x1 + t * (x2 - x1), y1 + t * (y2 - y1))


def r_offset(poly, dist):
    if abs(dist) < 1e-12:
        return list(poly)
    n = len(poly) - 1
    if n < 3:
        return list(poly)
    shifted = []
    for i in range(n):
        p1, p2 = poly[i], poly[i + 1]
        dx = p2[0] - p1[0]
        dy = p2[1] - p1[1]
        length = math.hypot(dx, dy)
        if length < 1e-12:
            continue
        nx = -dy / length
        ny = dx / length
        shifted.append((p1[0] + dist * nx, p1[1] + dist * ny, p2[0] + dist * nx, p2[1] + dist * ny))
    if len(shifted) < 3:
        return list(poly)
    m = len(shifted)
    out = []
    for i in range(m):
        e1, e2 = shifted[i], shifted[(i + 1) % m]
        out.append(r_line_intersection(e1[0:2], e1[2:4], e2[0:2], e2[2:4]))
    out.append(out[0])
    return out


def r_orient(p, q, r):
    return (q[0] - p[0]) * (r[1] - p[1]) - (q[1] - p[1]) * (r[0] - p[0])


def r_segments_intersect(a, b, c, d):
    o1, o2, o3, o4 = r_orient(a, b, c), r_orient(a, b, d), r_orient(c, d, a), r_orient(c, d, b)
    eps = 1e-12
    if abs(o1) < eps and abs(o2) < eps and abs(o3) < eps and abs(o4) < eps:
        return (max(min(a[0], b[0]), min(c[0], d[0])) <= min(max(a[0], b[0]), max(c[0], d[0])) + eps
                and max(min(a[1], b[1]), min(c[1], d[1])) <= min(max(a[1], b[1]), max(c[1], d[1])) + eps)
    return (o1 * o2 <= 0) and (o3 * o4 <= 0)


def r_sat(a, b):
    def axes(poly):
        return [(-(poly[i + 1][1] - poly[i][1]), poly[i + 1][0] - poly[i][0]) for i in range(len(poly) - 1)]

    def proj(p, ax):
        vals = [x * ax[0] + y * ax[1] for x, y in p]
        return min(vals), max(vals)

    for poly in (a, b):
        for ax in axes(poly):
            min1, max1 = proj(a, ax)
            min2, max2 = proj(b, ax)
            if max1 < min2 or max2 < min1:
                return False
    return True


def r_pip(pt, poly):
    x, y = pt
    n = len(poly) - 1
    if n < 3:
        return False
    inside = False
    for i in range(n):
        x1, y1 = poly[i]
        x2, y2 = poly[i + 1]
        if ((x2 - x1) * (y - y1) == (y2 - y1) * (x - x1) and min(x1, x2) <= x <= max(x1, x2)
                and min(y1, y2) <= y <= max(y1, y2)):
            return True
        if (y1 > y) != (y2 > y):
            x_int = x1 + (y - y1) * (x2 - x1) / (y2 - y1)
            if x_int > x:
                inside = not inside
    return inside


def r_pip_convex(pt, poly):
    n = len(poly) - 1
    if n < 3:
        return False
    sign = 0
    for i in range(n):
        a, b = poly[i], poly[i + 1]
        c = (b[0] - a[0]) * (pt[1] - a[1]) - (b[1] - a[1]) * (pt[0] - a[0])
        if abs(c) < 1e-12:
            continue
        if sign == 0:
            sign = 1 if c > 0 else -1
        elif (c > 0) != (sign > 0):
            return False
    return True


def canon(v):
    """Bit-exact comparable form: -0.0 differs from 0.0, every NaN is one value."""
    if isinstance(v, float):
        return "nan" if math.isnan(v) else v.hex()
    if isinstance(v, (list, tuple)):
        return (type(v).__name__, [canon(x) for x in v])
    return v


def same(a, b):
    return canon(a) == canon(b)


def is_float_contour(c):
    return isinstance(c, list) and all(
        isinstance(p, tuple) and len(p) == 2 and all(type(v) is float for v in p) for p in c)


# ---------------------------------------------------------------------------
# Strategies

grid = st.integers(-4, 4).map(float)
finite = st.floats(-1e3, 1e3, allow_nan=False, allow_infinity=False)
coord = st.one_of(grid, finite, grid.map(lambda v: v + 5e-13))
wild = st.one_of(coord, st.floats(), st.sampled_from([0.0, -0.0, 1e-300, 1e300, -1e300, 5e-324]))
point = st.tuples(coord, coord)
wild_point = st.tuples(wild, wild)


def closed(pts):
    return pts + [pts[0]] if pts else pts


any_contour = st.lists(point, max_size=9).map(closed)
wild_contour = st.lists(wild_point, max_size=8).map(closed)


@st.composite
def convex_cw(draw):
    """Random points on a circle, listed clockwise and closed; sometimes with a
    repeated vertex or an extra vertex in the middle of a side."""
    cx, cy = draw(finite), draw(finite)
    r = draw(st.floats(1e-4, 1e4))
    angles = draw(st.lists(st.floats(0.0, 2 * math.pi, exclude_max=True), min_size=3, max_size=14, unique=True))
    angles.sort(reverse=True)
    pts = [(cx + r * math.cos(a), cy + r * math.sin(a)) for a in angles]
    extra = draw(st.sampled_from(["none", "repeat", "mid"]))
    i = draw(st.integers(0, len(pts) - 1))
    if extra == "repeat":
        pts.insert(i, pts[i])
    elif extra == "mid":
        j = (i + 1) % len(pts)
        pts.insert(i + 1, ((pts[i][0] + pts[j][0]) / 2, (pts[i][1] + pts[j][1]) / 2))
    return closed(pts)


# y values on, near and half-way between multiples of the 1e-9 quantum
quant_y = st.one_of(
    st.integers(-40, 40).map(lambda k: k * 0.5e-9),
    st.integers(-40, 40).map(lambda k: k / 2 / 1e9),
    st.tuples(st.integers(-40, 40), st.sampled_from([-1, 1])).map(lambda t: math.nextafter(t[0] * 1e-9, t[1] * math.inf)),
    st.floats(-5e-8, 5e-8),
    st.sampled_from([1.0, 1.0000000000000002, 0.9999999999999999]),
)
quant_pts = st.lists(st.tuples(st.sampled_from([-1.0, 0.0, 1.0, 2.0, -0.0]), quant_y), min_size=1, max_size=12)


# ---------------------------------------------------------------------------
# Module surface

EXPORTED = ["Point", "EXTREMA_TOL", "vadd", "vsub", "cross", "polygon_area", "ensure_winding", "polygon_bbox",
            "polygon_centroid", "is_convex", "circle_to_polygon", "top_right", "bottom_left", "_line_intersection",
            "offset_convex", "segments_intersect", "sat_intersects", "point_in_polygon", "point_in_convex_polygon"]


def test_module_names_and_constants():
    from typing import Tuple
    missing = [n for n in EXPORTED if not hasattr(g, n)]
    assert missing == []
    assert g.EXTREMA_TOL == 1e-9 and type(g.EXTREMA_TOL) is float
    assert g.Point == Tuple[float, float]


def test_issue_example_prints_exactly():
    out = g.offset_convex([(0, 0), (0, 1), (1, 1), (1, 0), (0, 0)], 1.0)
    assert repr(out) == "[(-1.0, 2.0), (2.0, 2.0), (2.0, -1.0), (-1.0, -1.0), (-1.0, 2.0)]"


# ---------------------------------------------------------------------------
# Exact example values

SQ = [(1, 1), (2, 1), (2, 2), (1, 2), (1, 1)]
UNIT_CW = [(0, 0), (0, 1), (1, 1), (1, 0), (0, 0)]
UNIT_CCW = [(0, 0), (1, 0), (1, 1), (0, 1), (0, 0)]


@pytest.mark.parametrize("pts, expected", [
    (SQ, 1.0),
    (SQ[::-1], -1.0),
    (SQ[:4], 1.5),
    ([], 0.0),
    ([(3, 4)], 0.0),
])
def test_polygon_area_examples(pts, expected):
    assert same(g.polygon_area(pts), expected)


@pytest.mark.parametrize("pts, cw, expected", [
    ([(0, 0), (1, 0), (0, 1)], True, [(0.0, 0.0), (0.0, 1.0), (1.0, 0.0), (0.0, 0.0)]),
    ([(0, 0), (1, 0), (0, 1)], False, [(0.0, 0.0), (1.0, 0.0), (0.0, 1.0), (0.0, 0.0)]),
    ([(2, 3)], True, [(2.0, 3.0)]),
    ([], True, []),
    ([(0, 0), (1, 0), (2, 0), (0, 0)], True, [(0.0, 0.0), (2.0, 0.0), (1.0, 0.0), (0.0, 0.0)]),
    ([(0, 0), (1, 0), (2, 0), (0, 0)], False, [(0.0, 0.0), (1.0, 0.0), (2.0, 0.0), (0.0, 0.0)]),
])
def test_ensure_winding_examples(pts, cw, expected):
    out = g.ensure_winding(pts, cw)
    assert same(out, expected)
    assert out is not pts


@pytest.mark.parametrize("pts, expected", [
    (SQ, (1.5, 1.5)),
    (SQ[::-1], (1.5, 1.5)),
    ([(0, 0), (1, 0), (2, 0), (0, 0)], (0.75, 0.0)),
])
def test_polygon_centroid_examples(pts, expected):
    assert same(g.polygon_centroid(pts), expected)


PENTAGRAM = [(math.cos(math.pi / 2 + k * 4 * math.pi / 5), math.sin(math.pi / 2 + k * 4 * math.pi / 5)) for k in range(5)]


@pytest.mark.parametrize("poly, expected", [
    ([], True),
    ([(0, 0)], True),
    ([(0, 0), (5, 1), (1, 7)], True),
    ([(0, 0), (0, 0.5), (0, 1), (1, 1), (1, 0), (0, 0)], True),
    ([(0, 0), (0, 2), (1, 2), (1, 1), (2, 1), (2, 0), (0, 0)], False),
    (closed(PENTAGRAM), True),
    (UNIT_CW, True),
    (UNIT_CCW, True),
])
def test_is_convex_examples(poly, expected):
    assert g.is_convex(poly) is expected


def test_circle_to_polygon_examples():
    four = g.circle_to_polygon((0, 0), 1.0, 4)
    assert same(four, [(6.123233995736766e-17, 1.0), (1.0, 0.0), (6.123233995736766e-17, -1.0),
                       (-1.0, -1.2246467991473532e-16), (6.123233995736766e-17, 1.0)])
    default = g.circle_to_polygon((0, 0), 1.0)
    assert len(default) == 65 and default[0] == default[-1]
    assert g.polygon_area(default) < 0
    assert same(g.circle_to_polygon(center=(1, 2), radius=3.0, n=7), r_circle((1.0, 2.0), 3.0, 7))


@pytest.mark.parametrize("pts", [
    [(1.0, 1.0), (-1.0, 1.0000000000000002)],
    [(-1.0, 1.0000000000000002), (1.0, 1.0)],
])
def test_top_right_bottom_left_quantised_key(pts):
    assert same(g.top_right(pts), (1.0, 1.0))
    assert same(g.bottom_left(pts), (-1.0, 1.0000000000000002))


@pytest.mark.parametrize("pts, tr, bl", [
    # 1.5e-9 and 2.5e-9 both round to k = 2 (ties to even): x decides
    ([(0.0, 1.5e-9), (1.0, 2.5e-9)], (1.0, 2.5e-9), (0.0, 1.5e-9)),
    ([(1.0, 2.5e-9), (0.0, 1.5e-9)], (1.0, 2.5e-9), (0.0, 1.5e-9)),
    # 0.5e-9 rounds to k = 0 like 0.0
    ([(5.0, 0.0), (-5.0, 0.5e-9)], (5.0, 0.0), (-5.0, 0.5e-9)),
])
def test_extremum_key_ties_to_even(pts, tr, bl):
    assert same(g.top_right(pts), tr)
    assert same(g.bottom_left(pts), bl)


def test_closing_entry_never_preferred():
    first = (1.0, 1.0)
    last = (1.0, 1.0)  # equal value, distinct object
    pts = [first, (0.0, 1.0), (0.0, 0.0), (1.0, 0.0), last]
    assert g.top_right(pts) is first
    pts = [(0.0, 0.0), (0.0, 1.0), (1.0, 1.0), (1.0, 0.0), (0.0, 0.0)]
    assert g.bottom_left(pts) is pts[0]


def test_top_right_returns_the_entry_itself():
    pts = [[0, 0], [3, 4], [1, 2]]
    assert g.top_right(pts) is pts[1]
    assert g.bottom_left(iter(pts)) is pts[0]


@pytest.mark.parametrize("poly, dist, expected", [
    (UNIT_CW, 1.0, [(-1, 2), (2, 2), (2, -1), (-1, -1), (-1, 2)]),
    (UNIT_CW, -0.25, [(0.25, 0.75), (0.75, 0.75), (0.75, 0.25), (0.25, 0.25), (0.25, 0.75)]),
    (UNIT_CCW, 0.25, [(0.75, 0.25), (0.75, 0.75), (0.25, 0.75), (0.25, 0.25), (0.75, 0.25)]),
    (UNIT_CW, 0.0, UNIT_CW),
    (UNIT_CW, 9e-13, UNIT_CW),
    (UNIT_CW, -9e-13, UNIT_CW),
    ([(0, 0), (0, 1), (0, 1), (1, 1), (1, 0), (0, 0)], 1.0, [(-1, 2), (2, 2), (2, -1), (-1, -1), (-1, 2)]),
    ([(0, 0), (0, 0.5), (0, 1), (1, 1), (1, 0), (0, 0)], 1.0,
     [(-1, 0.5), (-1, 2), (2, 2), (2, -1), (-1, -1), (-1, 0.5)]),
    ([(0, 0), (0, 1), (1, 1), (0, 0)], 0.5,
     [(-0.5, 1.5), (2.2071067811865475, 1.5), (-0.5, -1.2071067811865475), (-0.5, 1.5)]),
    ([(0, 0), (0, 1), (1, 1)], 0.5, [(0, 0), (0, 1), (1, 1)]),
])
def test_offset_convex_examples(poly, dist, expected):
    out = g.offset_convex(poly, dist)
    assert same(out, [(float(x), float(y)) for x, y in expected])
    assert is_float_contour(out)


def test_offset_of_circle_approximation():
    circ = g.circle_to_polygon((0, 0), 10.0)
    out = g.offset_convex(circ, 1.0)
    assert len(out) == 65 and out[0] == out[-1]
    expected = 10 + 1 / math.cos(math.pi / 64)
    assert all(abs(math.hypot(x, y) - expected) < 1e-9 for x, y in out)
    # the last distinct entry is the moved top vertex
    assert abs(out[-2][0]) < 1e-9 and abs(out[-2][1] - expected) < 1e-9


def test_line_intersection_examples():
    assert same(g._line_intersection((0, 0), (1, 1), (0, 1), (1, 0)), (0.5, 0.5))
    p2 = (1, 0)
    assert g._line_intersection((0, 0), p2, (2, 0), (3, 0)) is p2


@pytest.mark.parametrize("a, b, c, d, expected", [
    ((0, 0), (2, 2), (0, 2), (2, 0), True),
    ((0, 0), (1, 0), (1, 0), (2, 5), True),
    ((0, 0), (2, 0), (1, 0), (1, 5), True),
    ((0, 0), (1, 0), (0, 1), (1, 1), False),
    ((0, 0), (1, 0), (2, 0), (2, 1), False),
    ((0, 0), (2, 0), (1, 0), (3, 0), True),
    ((0, 0), (1, 0), (1, 0), (3, 0), True),
    ((0, 0), (1, 0), (1.5, 0), (3, 0), False),
    ((0, 0), (1, 0), (1 + 5e-13, 0), (3, 0), True),
    ((0, 0), (0, 1), (0, 2), (0, 3), False),
    ((0.5, 0), (0.5, 0), (0, 0), (1, 0), True),
    ((0.5, 1), (0.5, 1), (0, 0), (1, 0), False),
])
def test_segments_intersect_examples(a, b, c, d, expected):
    assert g.segments_intersect(a, b, c, d) is expected


def moved(poly, dx, dy):
    return [(x + dx, y + dy) for x, y in poly]


@pytest.mark.parametrize("a, b, expected", [
    (UNIT_CW, moved(UNIT_CW, 1, 0), True),
    (UNIT_CW, moved(UNIT_CW, 1, 1), True),
    (UNIT_CW, moved(UNIT_CW, 1.5, 0), False),
    ([(0, 0), (1, 0), (0, 1), (0, 0)], [(0.6, 0.6), (0.6, 1), (1, 1), (1, 0.6), (0.6, 0.6)], False),
])
def test_sat_intersects_examples(a, b, expected):
    assert g.sat_intersects(a, b) is expected
    assert g.sat_intersects(b, a) is expected


@pytest.mark.parametrize("pt, poly, expected", [
    ((0.5, 0.5), UNIT_CW, True),
    ((0, 0.5), UNIT_CW, True),
    ((1, 0.5), UNIT_CW, True),
    ((0.5, 1), UNIT_CW, True),
    ((1, 1), UNIT_CW, True),
    ((2, 0.5), UNIT_CW, False),
    ((-1, 0.5), UNIT_CW, False),
    ((0.1, 0.1), [(0, 0), (1, 0), (0, 1)], False),
    ((0, 0), [(0, 0), (1, 0), (0, 1)], False),
])
def test_point_in_polygon_examples(pt, poly, expected):
    assert g.point_in_polygon(pt, poly) is expected


@pytest.mark.parametrize("poly", [UNIT_CW, UNIT_CCW])
@pytest.mark.parametrize("pt, expected", [
    ((0.5, 0.5), True), ((0, 0.5), True), ((1, 1), True), ((2, 0.5), False), ((0, 2), False),
])
def test_point_in_convex_polygon_examples(pt, poly, expected):
    assert g.point_in_convex_polygon(pt, poly) is expected


def test_point_in_convex_polygon_three_entries():
    assert g.point_in_convex_polygon((0.1, 0.1), [(0, 0), (1, 0), (0, 1)]) is False


@pytest.mark.parametrize("fn, args, expected", [
    (g.vadd, ((1, 2), [3, 4.5]), (4.0, 6.5)),
    (g.vsub, ((1, 2), (3, 4.5)), (-2.0, -2.5)),
    (g.cross, ((1, 2), (3, 4)), -2.0),
    (g.cross, ((0.1, 0.2), (0.3, 0.7)), 0.1 * 0.7 - 0.2 * 0.3),
    (g.polygon_bbox, ([(3, -1), (-2, 5), (0, 0)],), (-2.0, -1.0, 3.0, 5.0)),
])
def test_small_functions(fn, args, expected):
    out = fn(*args)
    assert same(out, expected)


# ---------------------------------------------------------------------------
# Errors that are part of the contract

@pytest.mark.parametrize("fn, args, exc", [
    (g.polygon_centroid, ([],), ZeroDivisionError),
    (g.circle_to_polygon, ((0, 0), 1.0, 0), IndexError),
    (g.circle_to_polygon, ((0, 0), 1.0, -3), IndexError),
    (g.polygon_bbox, ([],), ValueError),
    (g.top_right, ([],), ValueError),
    (g.bottom_left, ([],), ValueError),
    (g.top_right, ([(0, 0), (1, math.nan)],), ValueError),
    (g.bottom_left, ([(1, math.nan)],), ValueError),
    (g.top_right, ([(0, 0), (1, math.inf)],), OverflowError),
    (g.bottom_left, ([(0, -math.inf)],), OverflowError),
    (g.top_right, ([(0, 1e300)],), OverflowError),  # 1e300 / 1e-9 is infinite
    (g.vadd, ((1, 2, 3), (1, 2)), ValueError),
    (g.vadd, ((1,), (1, 2)), ValueError),
    (g.vadd, ("ab", (1, 2)), TypeError),
    (g.vadd, (("a", "b"), (1, 2)), TypeError),
    (g.vadd, (None, (1, 2)), TypeError),
    (g.polygon_area, ([(1, 2), 5],), TypeError),
    (g.polygon_area, (None,), TypeError),
    (g.ensure_winding, ([(0, 0), (1, 0), (0, 1)],), TypeError),  # clockwise has no default
])
def test_documented_failures(fn, args, exc):
    with pytest.raises(exc):
        fn(*args)


# ---------------------------------------------------------------------------
# Bit-for-bit agreement on random inputs

@PROPS
@given(wild_contour)
def test_area_centroid_bbox_match(pts):
    before = copy.deepcopy(pts)
    assert same(g.polygon_area(pts), r_area(pts))
    if pts:
        assert same(g.polygon_centroid(pts), r_centroid(pts))
        assert same(g.polygon_bbox(pts), r_bbox(pts))
    assert pts == before


@PROPS
@given(st.lists(point, max_size=8), st.booleans(), st.booleans())
def test_ensure_winding_matches(pts, close, cw):
    if close:
        pts = closed(pts)
    out = g.ensure_winding(pts, cw)
    assert same(out, r_ensure_winding(pts, cw))
    assert is_float_contour(out) and out is not pts
    if len(pts) >= 2:
        assert out[0] == out[-1]


@PROPS
@given(st.one_of(any_contour, convex_cw(), wild_contour))
def test_is_convex_matches(poly):
    assert g.is_convex(poly) is r_is_convex(poly)


@PROPS
@given(point, st.floats(-1e4, 1e4), st.integers(1, 200))
def test_circle_to_polygon_matches(center, radius, n):
    assert same(g.circle_to_polygon(center, radius, n), r_circle(center, radius, n))


@PROPS
@given(quant_pts)
def test_top_right_bottom_left_pick_same_entry(pts):
    pts = [tuple(p) for p in pts]  # distinct objects
    i = next(k for k, p in enumerate(pts) if p is r_top_right(pts))
    j = next(k for k, p in enumerate(pts) if p is r_bottom_left(pts))
    assert g.top_right(pts) is pts[i]
    assert g.bottom_left(pts) is pts[j]


@PROPS
@given(st.lists(wild_point, min_size=1, max_size=6))
def test_top_right_failures_match_round(pts):
    for mine, ref in ((g.top_right, r_top_right), (g.bottom_left, r_bottom_left)):
        try:
            expected = ref(pts)
        except (ValueError, OverflowError) as e:
            with pytest.raises(type(e)):
                mine(pts)
        else:
            assert mine(pts) is expected


@PROPS
@given(convex_cw(), st.one_of(st.floats(-50, 50), st.sampled_from([1e-12, -1e-12, 1e-13, 0.0, 1.0])))
def test_offset_convex_matches_on_convex(poly, dist):
    before = list(poly)
    out = g.offset_convex(poly, dist)
    assert same(out, r_offset(poly, dist))
    assert out is not poly and poly == before
    assert out[0] == out[-1]


@PROPS
@given(st.one_of(any_contour, wild_contour), st.one_of(finite, wild))
def test_offset_convex_matches_on_anything(poly, dist):
    assert same(g.offset_convex(poly, dist), r_offset(poly, dist))


@PROPS
@given(st.tuples(wild_point, wild_point, wild_point, wild_point))
def test_line_intersection_matches(ps):
    assert same(g._line_intersection(*ps), r_line_intersection(*ps))


@PROPS
@given(st.one_of(st.tuples(point, point, point, point), st.tuples(wild_point, wild_point, wild_point, wild_point)))
def test_segments_intersect_matches(ps):
    assert g.segments_intersect(*ps) is r_segments_intersect(*ps)


@PROPS
@given(st.one_of(convex_cw(), any_contour), st.one_of(convex_cw(), any_contour))
def test_sat_intersects_matches(a, b):
    try:
        expected = r_sat(a, b)
    except ValueError:
        with pytest.raises(ValueError):
            g.sat_intersects(a, b)
        return
    assert g.sat_intersects(a, b) is expected


@PROPS
@given(convex_cw(), convex_cw())
def test_sat_separation_is_real(a, b):
    # Reported disjoint convex contours are disjoint: no vertex of one inside the other.
    if not g.sat_intersects(a, b):
        assert not any(r_pip(p, b) for p in a)
        assert not any(r_pip(p, a) for p in b)


@PROPS
@given(st.one_of(point, st.tuples(grid.map(lambda v: v / 2), grid.map(lambda v: v / 2)), wild_point),
       st.one_of(any_contour, convex_cw(), wild_contour))
def test_point_in_polygon_matches(pt, poly):
    assert g.point_in_polygon(pt, poly) is r_pip(pt, poly)
    assert g.point_in_convex_polygon(pt, poly) is r_pip_convex(pt, poly)


@PROPS
@given(st.tuples(wild, wild), st.tuples(wild, wild))
def test_vector_helpers_match(a, b):
    assert same(g.vadd(a, b), (a[0] + b[0], a[1] + b[1]))
    assert same(g.vsub(a, b), (a[0] - b[0], a[1] - b[1]))
    assert same(g.cross(a, b), a[0] * b[1] - a[1] * b[0])


# ---------------------------------------------------------------------------
# Correctly rounded helpers of the engine

def _random_double(rng):
    while True:
        v = struct.unpack("<d", struct.pack("<Q", rng.getrandbits(64)))[0]
        if math.isfinite(v):
            return v


def test_hypot_is_pythons_on_many_random_pairs():
    rng = random.Random(20240611)
    pairs = []
    for _ in range(60000):
        pairs.append((rng.uniform(-1e3, 1e3), rng.uniform(-1e3, 1e3)))
    for _ in range(20000):
        x = rng.uniform(-1, 1) * 2.0 ** rng.randint(-1074, 1023)
        pairs.append((x, x * rng.uniform(0.5, 2) * 2.0 ** rng.randint(-3, 3)))
    for _ in range(20000):
        pairs.append((_random_double(rng), _random_double(rng)))
    pairs += [(0.0, 0.0), (-0.0, 5e-324), (3.0, 4.0), (1e308, 1e308), (5e-324, 5e-324), (math.inf, math.nan),
              (math.nan, -math.inf), (math.nan, 1.0), (1.0, 1e-200)]
    # CPython's hypot rounds twice when the length is subnormal; lengths that
    # small never reach an offset (they are below 1e-12), and there the exact
    # check below decides.
    bad = [(x, y) for x, y in pairs
           if not same(_k._hypot(x, y), math.hypot(x, y)) and not (abs(math.hypot(x, y)) < 2.2250738585072014e-308)]
    assert bad == []
    tiny = [(x, y) for x, y in pairs if math.isfinite(x) and math.isfinite(y) and math.hypot(x, y) < 2.3e-308]
    exact = tiny + [pairs[i] for i in range(0, 60000, 40)] + [pairs[i] for i in range(80000, 100000, 40)]
    assert len(tiny) > 20
    assert [(x, y) for x, y in exact if not correctly_rounded_length(x, y, _k._hypot(x, y))] == []


def correctly_rounded_length(x, y, h):
    """True when h is the nearest double to sqrt(x*x + y*y), computed exactly."""
    if math.isinf(h):
        return math.isinf(math.hypot(x, y))
    s = Fraction(x) ** 2 + Fraction(y) ** 2
    lo = (Fraction(h) + Fraction(math.nextafter(h, 0.0))) / 2
    hi = (Fraction(h) + Fraction(math.nextafter(h, math.inf))) / 2
    return lo * lo <= s <= hi * hi


def test_round6_is_pythons_round():
    rng = random.Random(7)
    values = [rng.uniform(-1e3, 1e3) for _ in range(20000)]
    values += [k / 2e6 for k in range(-3000, 3000)]  # near ties
    values += [_random_double(rng) for _ in range(5000)]
    values += [0.0, -0.0, 2.5e-6, 0.0000005, 1e300, -1e300, math.inf, -math.inf, 4503599627.3704965]
    bad = [v for v in values if not same(_k._round6(v), round(v, 6))]
    assert bad == []
