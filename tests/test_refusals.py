"""Input that cannot be packed soundly is refused with a ValueError naming the
item and the fault, when it is given, before anything moves."""
import math

import pytest
from hypothesis import given
from hypothesis import strategies as st

from Quarvo.first_fit_algorithm import FirstFit
from Quarvo.geometry import Bin, Circle, Polygon
from Quarvo.placer_bl import BottomLeftPlacer
from Quarvo.placer_nfp import NfpPlacer

SQ = [(0, 0), (0, 8), (8, 8), (8, 0)]


def box(x0, y0, x1, y1):
    return [(x0, y0), (x1, y0), (x1, y1), (x0, y1)]


@pytest.mark.parametrize("outer, holes, fault", [
    ([(0, 0), (1, 1), (1, 0), (0, 1)], [], "the outer contour crosses or touches itself"),
    ([(0, 0), (4, 0), (4, 4), (2, 0), (0, 4)], [], "the outer contour crosses or touches itself"),  # touches
    ([(0, 0), (4, 0), (2, 0), (2, 3)], [], "the outer contour crosses or touches itself"),  # an edge runs back along another
    ([(0, 0), (1, 1)], [], "the outer contour has fewer than three distinct points"),
    ([(0, 0), (1, 1), (0, 0), (1, 1)], [], "the outer contour has fewer than three distinct points"),
    ([(0, 0), (1, 0), (3, 0)], [], "the outer contour has zero area"),
    (SQ, [box(2, 2, 3, 3) + [(2, 3), (3, 2)]], "hole 0 crosses or touches itself"),
    (SQ, [box(6, 2, 9, 3)], "hole 0 crosses or touches the outer contour"),
    (SQ, [box(0, 2, 3, 3)], "hole 0 crosses or touches the outer contour"),  # touches along an edge
    (SQ, [box(9, 9, 10, 10)], "hole 0 lies outside the outer contour"),
    (box(2, 2, 3, 3), [box(0, 0, 8, 8)], "hole 0 lies outside the outer contour"),  # the hole holds the outer
    (SQ, [box(1, 1, 4, 4), box(3, 3, 5, 5)], "hole 1 crosses or touches hole 0"),
    (SQ, [box(1, 1, 6, 6), box(2, 2, 3, 3)], "hole 1 lies inside hole 0"),
    (SQ, [box(2, 2, 3, 3), [(4, 4)]], "hole 1 has fewer than three distinct points"),
])
def test_unsound_polygons_are_refused_when_built(outer, holes, fault):
    with pytest.raises(ValueError, match=r"polygon \(shape_id 'p7'\): " + fault):
        Polygon(outer, holes, shape_id="p7")


def test_sound_polygons_are_kept():
    star = [(math.cos(i * math.pi / 5) * (1 + i % 2), math.sin(i * math.pi / 5) * (1 + i % 2)) for i in range(10)]
    Polygon(star)  # a simple star
    Polygon(SQ, [box(1, 1, 3, 3), box(3.5, 1, 7, 7), box(1, 4, 3, 7)])
    Polygon([(0, 0), (2, 0), (2, 0), (2, 2), (0, 2), (0, 0)])  # repeated points


@pytest.mark.parametrize("field", ["radius", "margin", "inflation"])
def test_negative_sizes_are_refused_when_given(field):
    with pytest.raises(ValueError, match=rf"circle \(shape_id 'c'\): radius is -1, negative"):
        Circle(-1.0, shape_id="c")
    c = Circle(1.0, shape_id="c")
    with pytest.raises(ValueError, match=rf"item \(shape_id 'c'\): {field} is -0.5, negative"):
        setattr(c, field, -0.5)
    assert getattr(c, field) == (1.0 if field == "radius" else 0.0)


@pytest.mark.parametrize("kw, fault", [
    (dict(bin=Bin(0, 0)), "bin: width is 0, not positive"),
    (dict(bin=Bin(10, -1)), "bin: height is -1, not positive"),
    (dict(global_distance=-0.5), "global_distance is -0.5, negative"),
    (dict(threads=0), "threads is 0, not at least 1"),
    (dict(twice=True), r"item 2 \(shape_id 'a'\): the same item object is also item 0"),
])
def test_driver_refuses_what_it_is_given(kw, fault):
    a = Circle(1.0, shape_id="a")
    items = [a, Circle(2.0)] + ([a] if kw.pop("twice", False) else [])
    args = dict(items=items, bin=Bin(10, 10))
    args.update(kw)
    with pytest.raises(ValueError, match=fault):
        FirstFit(**args)
    ff = FirstFit([a, Circle(2.0)], Bin(10, 10))
    name = next(iter(kw), "items")
    with pytest.raises(ValueError, match=fault):  # the setter runs the same check
        setattr(ff, name, args[name])
    assert (a.tx, a.ty, a.infl) == (0.0, 0.0, 0.0)


LIMIT = math.sqrt(2) * 1e-6  # the engine's tolerance: the grid limit of a 1-wide bin, to rounding


def _pipe(od, wall):
    from Quarvo.geometry import Pipe
    return Pipe(od, wall, shape_id="s")


# Below the grid: what the engine cannot keep apart on its 1e-6 grid.
@pytest.mark.parametrize("make, fault", [
    (lambda: Circle(4e-7, shape_id="s"), r"radius is 3.9999999999999998e-07, below the grid: the engine keeps items "
                                         r"apart to 1\.4142\d*e-06, and a circle needs a radius of at least "
                                         r"twice that, 2\.8284\d*e-06"),
    (lambda: Circle(0.0, shape_id="s"), "radius is 0, below the grid"),
    (lambda: _pipe(100.0, 1e-15), r"wall is 1.0000000000000001e-15, below the grid: .* a pipe's wall needs at least "
                                  r"twice that"),
    (lambda: _pipe(4e-6, 5e-6), r"od is 3.9999999999999998e-06, below the grid: .* a bar needs an od of at least"),
    (lambda: Polygon(box(0, 0, 5e-6, 5e-6), shape_id="s"),
     r"the area of its material over its perimeter is 1.25\d*e-06, below the grid: .* \(a square of side 5.656"),
    (lambda: Polygon(box(0, 0, 1, 1), [box(1e-6, 1e-6, 1 - 1e-6, 1 - 1e-6)], shape_id="s"),
     "the area of its material over its perimeter is .*e-07, below the grid"),
])
@pytest.mark.parametrize("run", ["driver", "nfp", "bl"])
def test_items_below_the_grid_are_refused(make, fault, run):
    item = make()
    with pytest.raises(ValueError, match=(r"item 0 \(shape_id 's'\): " if run == "driver" else
                                          r"item \(shape_id 's'\): ") + fault):
        if run == "driver":
            FirstFit([item], Bin(1.0, 1.0)).do_pack()
        else:
            (NfpPlacer if run == "nfp" else BottomLeftPlacer)(1.0, 1.0).trypack(item)
    assert (item.tx, item.ty, item.infl) == (0.0, 0.0, 0.0)


def test_the_grid_limit_grows_with_the_bin_and_just_above_it_items_pack():
    from Quarvo.check import area_over_perimeter, grid_limit
    assert grid_limit(0.0) == LIMIT and grid_limit(1e8) == LIMIT + 1e-6
    assert area_over_perimeter(Circle(2 * LIMIT)) == LIMIT
    r = 2 * LIMIT * (1 + 1e-9)
    bins, unplaced = FirstFit([Circle(r), Circle(r)], Bin(1e-5, 1e-5)).do_pack()
    assert not unplaced
    # out where the rounding of doubles is 1e-14 of 1e8, the limit is that much higher
    with pytest.raises(ValueError, match="below the grid: the engine keeps items apart to 2.414213562373"):
        FirstFit([Circle(2e-6)], Bin(1e8, 1e8)).do_pack()


def test_a_bin_below_the_grid_is_refused():
    with pytest.raises(ValueError, match=r"bin: width is 9.9999999999999995e-07, below the grid: the engine keeps "
                                         r"items apart to 1.414\d*e-06, and no item it takes fits in less than twice "
                                         r"that, 2.828\d*e-06"):
        FirstFit([Circle(1e-5)], Bin(1e-6, 1e-6)).do_pack()
    with pytest.raises(ValueError, match="bin: width .* below the grid"):
        FirstFit([Circle(1e-5)], Bin(1e-6, None)).do_pack()


def test_setters_check_placement_as_the_constructors_do():
    ff, placer = FirstFit([], Bin(1, 1)), NfpPlacer(10, 10)
    for obj in (ff, placer):
        with pytest.raises(ValueError, match="placement 仅支持"):
            obj.placement = "middle"
        assert obj.placement == "corner"
    ff.placement = "center"
    with pytest.raises(ValueError, match="BottomLeft 策略不支持"):
        ff.strategy = "bl"


@pytest.mark.parametrize("make", [lambda: BottomLeftPlacer(50, 50), lambda: NfpPlacer(50, 50)])
def test_trypack_of_a_placed_item_is_refused(make):
    placer, c = make(), Circle(1.0, shape_id=3)
    assert placer.trypack(c)
    where = (c.tx, c.ty)
    with pytest.raises(ValueError, match=r"item \(shape_id 3\): already placed in this bin"):
        placer.trypack(c)
    assert placer.packed == [c] and (c.tx, c.ty) == where


# The sweep against a plain all-pairs oracle, on a coarse grid where
# vertices touch edges, edges overlap and points repeat.
def _orient(a, b, c):
    return (b[0] - a[0]) * (c[1] - a[1]) - (b[1] - a[1]) * (c[0] - a[0])


def _on(a, b, p):
    return min(a[0], b[0]) <= p[0] <= max(a[0], b[0]) and min(a[1], b[1]) <= p[1] <= max(a[1], b[1])


def _meet(a, b, c, d):
    o1, o2, o3, o4 = _orient(a, b, c), _orient(a, b, d), _orient(c, d, a), _orient(c, d, b)
    if o1 * o2 < 0 and o3 * o4 < 0:
        return True
    return (o1 == 0 and _on(a, b, c)) or (o2 == 0 and _on(a, b, d)) or (o3 == 0 and _on(c, d, a)) or \
        (o4 == 0 and _on(c, d, b))


def _ring(pts):
    r = [p for i, p in enumerate(pts) if i == 0 or p != pts[i - 1]]
    while len(r) > 1 and r[-1] == r[0]:
        r.pop()
    return r


def _simple(r):
    """Oracle: at least three points not on one line, and no two edges share a
    point but adjacent ones at their common vertex."""
    if len(set(r)) < 3 or all(_orient(r[0], r[1], p) == 0 for p in r):
        return False
    n = len(r)
    edges = [(r[i], r[(i + 1) % n]) for i in range(n)]
    for i in range(n):
        for j in range(i + 1, n):
            (a, b), (c, d) = edges[i], edges[j]
            if j == i + 1 or (i == 0 and j == n - 1):
                v, u, w = (b, a, d) if j == i + 1 else (a, b, c)
                # adjacent: only a turn back along the same line shares more than the vertex
                if _orient(v, u, w) == 0 and (u[0] - v[0]) * (w[0] - v[0]) + (u[1] - v[1]) * (w[1] - v[1]) > 0:
                    return False
            elif _meet(a, b, c, d):
                return False
    return True


grid_pts = st.lists(st.tuples(st.integers(-1, 9), st.integers(-1, 9)), min_size=1, max_size=9)


@given(grid_pts)
def test_simple_outlines_are_told_apart_as_by_all_pairs(pts):
    try:
        Polygon(pts)
        refused = False
    except ValueError:
        refused = True
    assert refused == (not _simple(_ring(pts)))


@given(grid_pts)
def test_holes_are_told_apart_as_by_all_pairs(pts):
    hole = _ring(pts)
    outer = SQ
    sound = _simple(hole) and not any(
        _meet(a, b, c, d) for a, b in zip(hole, hole[1:] + hole[:1]) for c, d in zip(outer, outer[1:] + outer[:1])) \
        and all(0 < x < 8 and 0 < y < 8 for x, y in hole)
    try:
        Polygon(outer, [pts])
        refused = False
    except ValueError:
        refused = True
    assert refused == (not sound)
