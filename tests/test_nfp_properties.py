"""Random layouts from NfpPlacer, judged by the independent checker."""
import math
import os
import sys

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

sys.path.insert(0, os.path.dirname(__file__))

import geometry_check as gc  # noqa: E402
from Quarvo.geometry import Circle, Polygon  # noqa: E402
from Quarvo.placer_nfp import NfpPlacer  # noqa: E402

PROPS = settings(max_examples=50, deadline=None, suppress_health_check=[HealthCheck.too_slow])


# ------------------------------------------------------- the checker itself


def sq(x0, y0, s):
    return [(x0, y0), (x0, y0 + s), (x0 + s, y0 + s), (x0 + s, y0), (x0, y0)]


class Fake:
    """A stand-in item with just the stored data the checker reads."""

    def __init__(self, tx=0.0, ty=0.0, rotation=0.0, infl=0.0, outer=None, holes=(), radius=None):
        self.tx, self.ty, self.rotation, self.infl = tx, ty, rotation, infl
        if radius is not None:
            self.radius = radius
        else:
            self.outer, self.holes = outer, list(holes)


@pytest.mark.parametrize("a,b,ok", [
    (Fake(outer=sq(0, 0, 2)), Fake(outer=sq(2, 0, 2)), True),            # touching
    (Fake(outer=sq(0, 0, 2)), Fake(outer=sq(1.9, 0, 2)), False),          # overlap 0.1
    (Fake(outer=sq(0, 0, 2), infl=0.5), Fake(outer=sq(2.9, 0, 2), infl=0.5), False),
    (Fake(outer=sq(0, 0, 2), infl=0.5), Fake(outer=sq(3, 0, 2), infl=0.5), True),
    (Fake(radius=1), Fake(radius=1, tx=2), True),
    (Fake(radius=1), Fake(radius=1, tx=1.99), False),
    (Fake(radius=1, tx=-1.4, ty=-1.4), Fake(outer=sq(0, 0, 2)), True),   # near the corner, apart
    (Fake(radius=1, tx=-0.6, ty=-0.6), Fake(outer=sq(0, 0, 2)), False),
    (Fake(outer=sq(0, 0, 2), rotation=math.pi / 4), Fake(outer=sq(-1.5, 0.5, 1)), False),
    (Fake(outer=sq(0, 0, 10), holes=[sq(2, 2, 6)[::-1]]), Fake(radius=2.9, tx=5, ty=5), True),
    (Fake(outer=sq(0, 0, 10), holes=[sq(2, 2, 6)[::-1]]), Fake(radius=3.1, tx=5, ty=5), False),
    (Fake(outer=sq(0, 0, 10), holes=[sq(2, 2, 6)[::-1]], infl=0.5), Fake(radius=2.4, tx=5, ty=5, infl=0.1), True),
    (Fake(outer=sq(0, 0, 10), holes=[sq(2, 2, 6)[::-1]], infl=0.5), Fake(radius=2.4, tx=5, ty=5, infl=0.2), False),
    (Fake(outer=sq(0, 0, 10), holes=[sq(2, 2, 6)[::-1]]), Fake(outer=sq(2.5, 2.5, 5)), True),
    (Fake(outer=sq(0, 0, 10), holes=[sq(2, 2, 6)[::-1]]), Fake(outer=sq(1.5, 2.5, 5)), False),
])
def test_checker_cases(a, b, ok):
    v = gc.pair_violation(gc.Outline(a), gc.Outline(b), rel_tol=0.0, abs_tol=1e-9)
    assert (v is None) == ok, v


def test_checker_bin_and_clip_area():
    o = gc.Outline(Fake(radius=1, tx=1, ty=1, infl=0.25))
    assert gc.bin_excess(o, 10, 10) == pytest.approx(0.25)
    assert gc.convex_intersection_area(sq(0, 0, 2), sq(1, 1, 2)) == pytest.approx(1)
    assert gc.convex_intersection_area(sq(0, 0, 2), sq(3, 3, 2)) == 0


# --------------------------------------------------------- random layouts


@st.composite
def convex_polygon(draw):
    """Points on an ellipse at well separated angles: strictly convex."""
    n = draw(st.integers(3, 8))
    a = draw(st.floats(4, 30))
    b = draw(st.floats(4, 30))
    phase = draw(st.floats(0, 2 * math.pi))
    gaps = draw(st.lists(st.floats(0.3, 1.0), min_size=n, max_size=n))
    total = sum(gaps)
    angles, acc = [], phase
    for g in gaps:
        angles.append(acc)
        acc += 2 * math.pi * g / total
    pts = [(a * math.cos(t), b * math.sin(t)) for t in angles]
    return Polygon(pts)


@st.composite
def ring_item(draw):
    R = draw(st.floats(15, 45))
    r = R * draw(st.floats(0.35, 0.8))
    return Polygon(gc.regular_ngon(0, 0, R), [gc.regular_ngon(0, 0, r)])


item_strategy = st.one_of(
    st.floats(2, 25).map(Circle),
    convex_polygon(),
    ring_item(),
)

rotation_lists = st.one_of(
    st.none(),
    st.just([0.0]),
    st.lists(st.floats(0, 2 * math.pi), min_size=1, max_size=3),
)


def area_of(it):
    return math.pi * it.radius ** 2 if isinstance(it, Circle) else abs(gc.signed_area(it.outer))


@PROPS
@given(
    items=st.lists(item_strategy, min_size=2, max_size=9),
    bin_w=st.floats(60, 200),
    bin_h=st.floats(60, 200),
    placement=st.sampled_from(["corner", "center"]),
    infl=st.sampled_from([0.0, 0.5, 1.0, 2.5]),
    extra=st.lists(st.sampled_from([0.0, 0.25, 1.0]), min_size=9, max_size=9),
    rotations=rotation_lists,
    by_size=st.booleans(),
    incremental=st.booleans(),
    threads=st.sampled_from([1, 2]),
)
def test_layout_in_bin_and_apart(items, bin_w, bin_h, placement, infl, extra, rotations, by_size, incremental,
                                 threads):
    for it, e in zip(items, extra):
        it.infl = infl + e
    if by_size:
        items = sorted(items, key=area_of, reverse=True)
    placer = NfpPlacer(bin_w, bin_h, rotations, placement, incremental=incremental, threads=threads)
    for it in items:
        before = len(placer.packed)
        ok = placer.trypack(it)
        assert len(placer.packed) == before + ok
        if ok:
            assert placer.packed[-1] is it
            gc.assert_checked(placer, bin_w, bin_h)
    faults = gc.layout_violations(placer.packed, bin_w, bin_h)
    assert faults == []
    if rotations is not None:
        allowed = set(rotations) | {0.0}
        assert all(it.rotation in allowed for it in placer.packed)


@PROPS
@given(
    rings=st.lists(ring_item(), min_size=1, max_size=2),
    smalls=st.lists(st.one_of(st.floats(1, 12).map(Circle), convex_polygon()), min_size=2, max_size=7),
    placement=st.sampled_from(["corner", "center"]),
    infl=st.sampled_from([0.0, 0.5, 1.5]),
    incremental=st.booleans(),
)
def test_rings_first_then_small_items(rings, smalls, placement, infl, incremental):
    """Containers go in first, so their holes are offered to every later item."""
    for it in rings + smalls:
        it.infl = infl
    placer = NfpPlacer(150, 150, None, placement, incremental=incremental)
    for it in rings + smalls:
        if placer.trypack(it):
            gc.assert_checked(placer, 150, 150)
    assert gc.layout_violations(placer.packed, 150, 150) == []


@settings(max_examples=25, deadline=None)
@given(r=st.floats(3, 15), n=st.integers(2, 6), infl=st.sampled_from([0.0, 1.0]), incremental=st.booleans())
def test_equal_circles_in_the_middle_of_a_ring(r, n, infl, incremental):
    """Centre mode offers the hole first: equal circles must not pile up there."""
    rg = Polygon(gc.regular_ngon(0, 0, 40), [gc.regular_ngon(0, 0, 20)])
    rg.infl = infl
    placer = NfpPlacer(200, 200, placement="center", incremental=incremental)
    assert placer.trypack(rg)
    for _ in range(n):
        c = Circle(r)
        c.infl = infl
        if placer.trypack(c):
            gc.assert_checked(placer, 200, 200)
    assert gc.layout_violations(placer.packed, 200, 200) == []


@settings(max_examples=30, deadline=None)
@given(seed_items=st.lists(st.one_of(st.floats(2, 20).map(lambda r: ("c", r)), convex_polygon().map(lambda p: ("p", p.outer))),
                           min_size=2, max_size=10),
       placement=st.sampled_from(["corner", "center"]),
       rotations=rotation_lists)
def test_threads_give_the_sequential_layout(seed_items, placement, rotations):
    """Rotations tried side by side must choose exactly what one thread chooses."""
    layouts = []
    for threads in (1, 2):
        items = [Circle(v) if k == "c" else Polygon(v) for k, v in seed_items]
        for it in items:
            it.infl = 1.0
        placer = NfpPlacer(120, 120, rotations, placement, threads=threads)
        oks = [placer.trypack(it) for it in items]
        layouts.append([(ok, it.rotation, it.tx, it.ty) for ok, it in zip(oks, items)])
    assert layouts[0] == layouts[1]
