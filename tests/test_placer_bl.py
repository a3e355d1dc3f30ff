"""Bottom-left placement as the host sees it: module surface, the placer's
`packed` list, argument handling, the cavity fault, and random layouts checked
by an independent geometric test."""
import gc
import math
import weakref

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import Quarvo.geometry as geometry
import Quarvo.geometry_handle as geometry_handle
import Quarvo.placer_bl as bl
import Quarvo.placer_nfp as nfp
from Quarvo.geometry import Circle, Polygon
from Quarvo.placer_bl import EPS, BottomLeftPlacer

from geometry_check import assert_checked


def rect(w, h):
    return Polygon([(0, 0), (0, h), (w, h), (w, 0)])


def u_down(w, h, t):
    return Polygon([(0, 0), (0, h), (w, h), (w, 0), (w - t, 0), (w - t, h - t), (t, h - t), (t, 0)])


def c_left(w, h, t):
    return Polygon([(0, 0), (0, t), (w - t, t), (w - t, h - t), (0, h - t), (0, h), (w, h), (w, 0)])


def gamma():
    return Polygon([(0, 0), (0, 26), (25, 26), (25, 18), (5, 18), (5, 0)])


# ------------------------------------------------ independent geometry

def world(item):
    """World outline from the item's stored data; a circle as its 64-gon."""
    if isinstance(item, Circle):
        r = item.radius + item.infl
        pts = [(item.tx + r * math.cos(math.pi / 2 - 2 * math.pi * i / 64),
                item.ty + r * math.sin(math.pi / 2 - 2 * math.pi * i / 64)) for i in range(64)]
        return pts
    c, s = math.cos(item.rotation), math.sin(item.rotation)
    pts = [(x * c - y * s + item.tx, x * s + y * c + item.ty) for x, y in item.outer]
    return pts[:-1] if pts[0] == pts[-1] else pts


def area(pts):
    return sum(pts[i][0] * pts[(i + 1) % len(pts)][1] - pts[(i + 1) % len(pts)][0] * pts[i][1]
               for i in range(len(pts))) / 2.0


def triangulate(pts):
    """Ear clipping of a simple polygon (any winding) into ccw triangles."""
    pts = list(pts) if area(pts) > 0 else list(reversed(pts))
    tris = []

    def cr(o, a, b):
        return (a[0] - o[0]) * (b[1] - o[1]) - (a[1] - o[1]) * (b[0] - o[0])

    while len(pts) > 3:
        for i in range(len(pts)):
            a, b, c = pts[i - 1], pts[i], pts[(i + 1) % len(pts)]
            if cr(a, b, c) <= 0:
                continue
            if any(cr(a, b, p) >= 0 and cr(b, c, p) >= 0 and cr(c, a, p) >= 0
                   for p in pts if p not in (a, b, c)):
                continue
            tris.append((a, b, c))
            del pts[i]
            break
        else:  # only collinear leftovers
            break
    if len(pts) == 3 and area(pts) > 0:
        tris.append(tuple(pts))
    return tris


def clip(subject, tri):
    """Sutherland-Hodgman: the part of ``subject`` inside the ccw triangle;
    for a non-convex subject the area of the result is still the area of the
    intersection."""
    out = subject
    for i in range(3):
        a, b = tri[i], tri[(i + 1) % 3]
        inp, out = out, []
        if not inp:
            break

        def side(p):
            return (b[0] - a[0]) * (p[1] - a[1]) - (b[1] - a[1]) * (p[0] - a[0])

        for j in range(len(inp)):
            p, q = inp[j - 1], inp[j]
            sp, sq = side(p), side(q)
            if sq >= 0:
                if sp < 0:
                    t = sp / (sp - sq)
                    out.append((p[0] + t * (q[0] - p[0]), p[1] + t * (q[1] - p[1])))
                out.append(q)
            elif sp >= 0:
                t = sp / (sp - sq)
                out.append((p[0] + t * (q[0] - p[0]), p[1] + t * (q[1] - p[1])))
    return out


def overlap_area(a, b):
    bx = [p[0] for p in b]
    by = [p[1] for p in b]
    if (max(p[0] for p in a) <= min(bx) or max(bx) <= min(p[0] for p in a)
            or max(p[1] for p in a) <= min(by) or max(by) <= min(p[1] for p in a)):
        return 0.0
    sub = a if area(a) > 0 else list(reversed(a))
    return sum(abs(area(clip(sub, t))) for t in triangulate(b))


def assert_sound(placer):
    eps = placer.epsilon
    outlines = [world(it) for it in placer.packed]
    for pts in outlines:
        for x, y in pts:
            assert -eps <= x <= placer.bin_w + eps and -eps <= y <= placer.bin_h + eps
    for i in range(len(outlines)):
        for j in range(i):
            assert overlap_area(outlines[i], outlines[j]) < 1e-7, (i, j)


def test_checker_sees_an_overlap_in_a_cavity():
    u = world(u_down(30, 25, 5))
    inside = [(12, 2), (12, 10), (18, 10), (18, 2)]
    leg = [(2, 2), (2, 10), (8, 10), (8, 2)]
    assert overlap_area(u, inside) < 1e-12
    assert overlap_area(u, leg) == pytest.approx(3 * 8)


# ------------------------------------------------------------- surface

def test_module_names():
    assert bl.EPS == 0.001 and bl.MIN_PROGRESS == 1e-06
    for name in ("Shape", "Point", "Circle"):
        assert getattr(bl, name) is getattr(geometry, name)
    for name in ("circle_to_polygon", "is_convex", "polygon_bbox", "segments_intersect",
                 "sat_intersects", "point_in_polygon"):
        assert getattr(bl, name) is getattr(geometry_handle, name)
    for name in ("_as_polygon", "_to_wall_poly", "_horizontal_distance", "_vertical_distance",
                 "_available_space", "polys_intersect", "BottomLeftPlacer"):
        assert callable(getattr(bl, name))
    assert BottomLeftPlacer.__module__ == "Quarvo.placer_bl"


def test_constructor_stores_values_as_given():
    p = BottomLeftPlacer(100, 50)
    assert (p.bin_w, p.bin_h, p.epsilon) == (100, 50, EPS)
    assert type(p.bin_w) is int
    assert p.packed == [] and p.packed is p.packed
    q = BottomLeftPlacer(bin_w=3.5, bin_h=2.0, epsilon=0.25)
    assert (q.bin_w, q.bin_h, q.epsilon) == (3.5, 2.0, 0.25)
    with pytest.raises(TypeError):
        BottomLeftPlacer("10", 10)


# -------------------------------------------------------------- packed

class Tagged(Polygon):
    pass


class Round(Circle):
    pass


def test_packed_holds_the_callers_objects():
    p = BottomLeftPlacer(100, 100)
    items = [rect(10, 10), Circle(4), Tagged([(0, 0), (0, 3), (3, 3), (3, 0)]), Round(2)]
    items[2].note = "kept"
    for it in items:
        assert p.trypack(it)
    lst = p.packed
    assert lst is p.packed and len(lst) == 4
    assert all(a is b for a, b in zip(lst, items))
    assert p.packed[2].note == "kept"
    polys = p._packed_polys()
    assert polys[0] is items[0].transformed()
    assert len(polys[1]) == 65


def test_packed_keeps_items_alive():
    p = BottomLeftPlacer(100, 100)
    item = Tagged([(0, 0), (0, 5), (5, 5), (5, 0)])
    ref = weakref.ref(item)
    assert p.trypack(item)
    del item
    gc.collect()
    assert ref() is not None
    with pytest.raises(ValueError, match="already placed"):  # still there
        p.trypack(p.packed[0])


def test_placer_in_a_reference_cycle_is_collected():
    p = BottomLeftPlacer(100, 100)
    item = Tagged([(0, 0), (0, 5), (5, 5), (5, 0)])
    item.placer = p
    assert p.trypack(item)
    ref = weakref.ref(item)
    del p, item
    gc.collect()
    assert ref() is None


def test_caller_changes_to_packed_are_followed():
    p = BottomLeftPlacer(20, 100)
    a, b = rect(20, 10), rect(20, 10)
    assert p.trypack(a) and p.trypack(b)
    assert b.bounding_box()[1] > 10
    p.packed.remove(b)
    c = rect(20, 10)
    assert p.trypack(c)
    assert c.bounding_box()[1] == pytest.approx(b.bounding_box()[1])
    p.packed.clear()
    d = rect(20, 10)
    assert p.trypack(d)
    assert d.bounding_box()[1] == pytest.approx(0.001)
    p.packed = [a]
    e = rect(20, 10)
    assert p.trypack(e) and p.packed == [a, e]
    p.packed.append("not an item")
    with pytest.raises(TypeError):
        p.trypack(rect(1, 1))
    with pytest.raises(TypeError):
        p.packed = (a,)


@pytest.mark.parametrize("bad", [None, "item", (0, 0), 3.0])
def test_trypack_needs_an_item(bad):
    with pytest.raises(TypeError):
        BottomLeftPlacer(10, 10).trypack(bad)


# ------------------------------------------------------------- behaviour

def test_empty_bin_and_refusals():
    p = BottomLeftPlacer(100, 100)
    sq = rect(10, 10)
    assert p.trypack(sq)
    x0, y0, _, _ = sq.bounding_box()
    assert x0 == pytest.approx(0.001, abs=1e-12) and y0 == pytest.approx(0.001, abs=1e-12)
    with pytest.raises(ValueError, match="already placed"):
        p.trypack(sq)
    tall = rect(5, 100.5)
    assert not p.trypack(tall)
    assert p.packed == [sq] and tall.tx != 0.0
    assert BottomLeftPlacer(10, 100).trypack(rect(10, 5))
    assert not BottomLeftPlacer(100, 0.25, 0.25).trypack(rect(1, 0.1))


@pytest.mark.parametrize("direction", ["down", "right", "up", "LEFT", "", None, 0])
def test_every_direction_but_left_is_down(direction):
    item = [(5, 5), (5, 7), (7, 7), (7, 5), (5, 5)]
    obstacles = [[(1, 4), (1, 8), (3, 8), (3, 4), (1, 4)], [(5, 0), (5, 1), (9, 1), (9, 0), (5, 0)]]
    assert bl._available_space(item, obstacles, direction) == 4.0
    assert bl._available_space(item, obstacles, "left") == 2.0
    assert bl._to_wall_poly(item, direction) == bl._to_wall_poly(item, "down")


def test_wall_poly_passes_the_points_through():
    pts = [[0, 0], [0, 10], [10, 10], [10, 0], [0, 0]]
    out = bl._to_wall_poly(pts, "left")
    assert out == [[0, 10], [0, 0], (0.0, 0), (0.0, 10), [0, 10]]
    assert out[0] is pts[1]
    short = [(1, 2), (3, 4), (1, 2)]
    copy = bl._to_wall_poly(short, "down")
    assert copy == short and copy is not short


def test_distance_functions():
    assert bl._horizontal_distance((10, 3), ((8, 3), (1, 3))) == 9.0
    assert bl._horizontal_distance((10, 11), ((2, 0), (2, 10))) == math.inf
    assert bl._vertical_distance((5, 10), [(0, 2), (10, 2)]) == 8.0
    with pytest.raises(ValueError):
        bl._horizontal_distance((0, 0), [(0, 0), (1, 1), (2, 2)])
    with pytest.raises(TypeError):
        bl._vertical_distance((0, 0), 5)


def test_as_polygon():
    sq = rect(2, 2)
    assert bl._as_polygon(sq) is sq.transformed()
    c = Circle(2)
    c.set_position(5, 5)
    pts = bl._as_polygon(c)
    assert len(pts) == 65 and pts[0] == pts[-1] == (5.0, 7.0)
    assert geometry_handle.polygon_area(pts) < 0


@pytest.mark.parametrize("field, bad", [("bin_w", math.nan), ("bin_h", math.inf), ("epsilon", -math.inf),
                                        ("tx", math.nan), ("ty", math.inf), ("rotation", math.nan)])
def test_non_finite_values_raise_before_moving(field, bad):
    p = BottomLeftPlacer(50, 50)
    item = rect(3, 3)
    target = p if field in ("bin_w", "bin_h", "epsilon") else item
    setattr(target, field, bad)
    before = (item.tx, item.ty)
    with pytest.raises(ValueError, match="finite"):
        p.trypack(item)
    assert (item.tx, item.ty) == before or field in ("tx", "ty")
    assert p.packed == []


@pytest.mark.parametrize("width, text", [(1e300, "1.0000000000000001e[+]300, beyond"), (math.nan, "nan, not a finite")])
def test_both_placers_refuse_a_bad_bin_alike(width, text):
    for placer in (BottomLeftPlacer(width, 100), nfp.NfpPlacer(width, 100)):
        with pytest.raises(ValueError, match="bin: width is " + text):
            placer.trypack(rect(1, 1))


def test_beyond_the_range_is_refused_as_by_the_nfp_placer():
    for placer in (BottomLeftPlacer(100, 100), nfp.NfpPlacer(100, 100)):
        far = Circle(1.0)
        far.tx = 1e13
        with pytest.raises(ValueError, match="tx is 10000000000000, beyond"):
            placer.trypack(far)
        assert far.tx == 1e13


# ------------------------------------------------------- cavity fault

@pytest.mark.parametrize("make, victim", [
    (lambda: [rect(40, 10), rect(10, 20), rect(15, 10), u_down(30, 25, 5)], 1),
    (lambda: [gamma(), rect(30, 5), rect(20, 10), c_left(20, 24, 5)], 0),
], ids=["U over a block", "C through a Gamma arm"])
def test_slide_into_a_placed_item_is_refused(make, victim):
    items = make()
    p = BottomLeftPlacer(60, 100)
    for it in items[:-1]:
        assert p.trypack(it)
    last = items[-1]
    assert not p.trypack(last)
    assert p.packed == items[:-1]
    # where the slide ended, it overlaps
    assert overlap_area(world(last), world(items[victim])) > 1.0


# ------------------------------------------------------------ property

def make_item(kind, w, h, frac):
    t = min(w, h) * frac
    if kind == "circle":
        return Circle(w / 2)
    if kind == "convex":
        k = 3 + int(frac * 20) % 6
        return Polygon([(w / 2 * math.cos(2 * math.pi * i / k + frac), h / 2 * math.sin(2 * math.pi * i / k + frac))
                        for i in range(k)])
    if kind == "L":
        return Polygon([(0, 0), (0, h), (t, h), (t, t), (w, t), (w, 0)])
    if kind == "U":
        return u_down(w, h, t)
    if kind == "Uup":
        return Polygon([(0, 0), (0, h), (t, h), (t, t), (w - t, t), (w - t, h), (w, h), (w, 0)])
    if kind == "C":
        return c_left(w, h, t)
    if kind == "T":
        a = (w - t) / 2
        return Polygon([(a, 0), (a, h - t), (0, h - t), (0, h), (w, h), (w, h - t), (a + t, h - t), (a + t, 0)])
    pts = [(0, 0), (0, h)]  # zig-zag
    for i in range(1, 4):
        pts += [(w * (i - 0.5) / 3, h - t), (w * i / 3, h)]
    return Polygon(pts + [(w, 0)])


# Small solid items and large items with cavities: the mix in which a cavity
# comes to hold a placed item.
small_recipe = st.tuples(st.sampled_from(["circle", "convex", "T", "Z"]),
                       st.floats(3, 12), st.floats(3, 12), st.floats(0.15, 0.45))
large_recipe = st.tuples(st.sampled_from(["U", "Uup", "C", "L", "circle", "convex"]),
                       st.floats(12, 35), st.floats(12, 35), st.floats(0.15, 0.35))


@settings(max_examples=250, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(st.lists(st.one_of(small_recipe, large_recipe), min_size=1, max_size=30), st.floats(30, 60),
       st.floats(40, 90), st.sampled_from([0.001, 0.01, 0.2]))
def test_accepted_layouts_never_overlap(recipes, bw, bh, eps):
    p = BottomLeftPlacer(bw, bh, eps)
    for recipe in recipes:
        item = make_item(*recipe)
        placed = p.trypack(item)
        assert placed == (bool(p.packed) and p.packed[-1] is item)
        if placed:
            assert_checked(p, bw, bh)
    assert_sound(p)


# ------------------------------------------------------- tiny bins

@pytest.mark.parametrize("bin_w, bin_h, w, h", [
    (1.0, 0.0118, 0.5, 0.0112),  # would stand 4e-4 out of the top
    (0.0118, 1.0, 0.005, 0.99995),  # would stand out of the top of a tall bin
    (0.01, 0.01, 0.0095, 0.0095),
])
def test_tiny_bins_never_take_an_item_standing_out(bin_w, bin_h, w, h):
    p = BottomLeftPlacer(bin_w, bin_h)
    assert not p.trypack(rect(w, h))  # the clearance would leave it standing out by up to EPS
    assert p.trypack(rect(w / 2, h / 2))  # what fits with the clearance is still placed
