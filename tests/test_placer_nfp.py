"""No-fit polygons, their cache, the union, the candidate search and NfpPlacer."""
import math
import os
import sys

import pytest

sys.path.insert(0, os.path.dirname(__file__))

import geometry_check as gc  # noqa: E402
import Quarvo.placer_nfp as pn  # noqa: E402
from Quarvo.geometry import Circle, Polygon  # noqa: E402

NON_CONVEX_MSG = "NFP 仅支持凸多边形/圆，收到非凸输入；非凸形状请用 bl 策略（或先实现 MinkowskiSum 非凸 NFP）"
UNIT_CW = [(0, 0), (0, 1), (1, 1), (1, 0), (0, 0)]
TWO_CW = [(0, 0), (0, 2), (2, 2), (2, 0), (0, 0)]
L_SHAPE = [(0, 0), (0, 2), (1, 2), (1, 1), (2, 1), (2, 0)]


def rect(x0, y0, x1, y1):
    """Closed clockwise rectangle."""
    return [(x0, y0), (x0, y1), (x1, y1), (x1, y0), (x0, y0)]


def ring(R, r, n=64):
    """A container whose outer contour and hole are concentric n-gons."""
    return Polygon(gc.regular_ngon(0, 0, R, n), [gc.regular_ngon(0, 0, r, n)])


def pts(seq):
    return [tuple(p) for p in seq]


def unfiltered_choice(placer, item):
    """Best (rotation, translation) by the candidate search alone, with hole
    candidates accepted after the bin test only."""
    best = (None, None, math.inf)
    for rot in placer._rotations_for(item):
        item.rotation = rot
        outer, holes = [], []
        for o in placer.packed:
            outer.append(pn.compute_nfp(o, item))
            if isinstance(o, Polygon) and o.is_container:
                holes.extend(pn.compute_hole_nfps(o, item))
        pos, score = pn.search_best_position(pn.merge_nfps(outer), holes, item, placer.bin_w, placer.bin_h,
                                             placement=placer.placement)
        if pos is not None and score < best[2]:
            best = (rot, pos, score)
    return best


# ------------------------------------------------------------ convex NFP


def test_angle_2pi_range_and_signed_zero():
    assert pn._angle_2pi(((0, 0), (1, 0))) == 0.0
    assert pn._angle_2pi(((0, 0), (0, 1))) == math.pi / 2
    assert pn._angle_2pi(((0, 0), (0, -1))) == -math.pi / 2 + 2 * math.pi
    a = pn._angle_2pi(((0, 0), (1, -1e-10)))
    assert 2 * math.pi - 1e-9 < a < 2 * math.pi
    z = pn._angle_2pi(((0, 0), (1, -0.0)))
    assert z == 0.0 and math.copysign(1, z) < 0


def test_nfp_of_unit_and_two_square_raw_and_anchored():
    raw, top = pn.nfp_convex_only(UNIT_CW, TWO_CW)
    assert pts(raw) == [(1, 1), (1, 0), (1, -2), (0, -2), (-2, -2), (-2, -1), (-2, 1), (-1, 1), (1, 1)]
    assert tuple(top) == (1, 1)
    raw_copy = list(raw)
    fixed = pn.correct_nfp_position(raw, top, UNIT_CW, TWO_CW)
    assert pts(fixed) == [(3, 3), (3, 2), (3, 0), (2, 0), (0, 0), (0, 1), (0, 3), (1, 3), (3, 3)]
    assert raw == raw_copy


@pytest.mark.parametrize("A,B", [([], []), ([(1, 2)], [(3, 4)]), ([(1, 2)], [])])
def test_nfp_without_edges_is_a_fresh_origin(A, B):
    raw, top = pn.nfp_convex_only(A, B)
    assert pts(raw) == [(0.0, 0.0)] and tuple(top) == (0.0, 0.0)
    raw.append((9, 9))
    assert len(pn.nfp_convex_only(A, B)[0]) == 1


def test_parallel_edges_keep_a_before_b():
    # A's bottom edge and B's reversed top edge both point left; A's is longer
    # and chained first, so the chain's third vertex comes from A's edge.
    A = [(0, 0), (0, 1), (3, 1), (3, 0), (0, 0)]
    B = [(0, 0), (0, 1), (1, 1), (1, 0), (0, 0)]
    raw, _ = pn.nfp_convex_only(A, B)
    xs = [p[0] for p in raw]
    ys = [p[1] for p in raw]
    # the left-pointing run: a 3-long edge then a 1-long edge at the same height
    i = next(k for k in range(len(raw) - 1) if ys[k] == ys[k + 1] and xs[k + 1] < xs[k])
    assert xs[i] - xs[i + 1] == 3 and xs[i + 1] - xs[i + 2] == 1


# --------------------------------------------------------- dispatch / cache


def test_hole_nfp_of_square_and_circle():
    cont = Polygon(rect(-1, -1, 11, 11), [[(0, 0), (10, 0), (10, 10), (0, 10), (0, 0)]])
    b = Polygon(TWO_CW)
    assert [pts(h) for h in pn.compute_hole_nfps(cont, b)] == [
        [(12, 12), (12, 2), (12, 0), (2, 0), (0, 0), (0, 10), (0, 12), (10, 12), (12, 12)]]
    c = Circle(0.5)
    c.infl = 0.5
    (h,) = pn.compute_hole_nfps(cont, c)
    assert gc.bbox(h) == (1, 1, 9, 9) and len(h) == 5
    assert pn.compute_hole_nfps(Polygon(UNIT_CW), c) == []
    assert pn.compute_hole_nfps(Circle(4), c) == []


def test_circle_pair_nfp():
    a, b = Circle(10), Circle(5)
    a.infl = b.infl = 1
    a.set_position(100, 50)
    nfp = pn.compute_nfp(a, b)
    assert len(nfp) == 65 and nfp[0] == nfp[-1]
    assert nfp[0][0] == pytest.approx(100, abs=1e-12) and nfp[0][1] == 67
    for x, y in nfp:
        assert math.hypot(x - 100, y - 50) == pytest.approx(17, rel=1e-14)
    assert gc.signed_area(nfp[:-1]) < 0


def test_cache_serves_translations_from_one_entry():
    a, b = Circle(7.3125), Polygon(rect(0, 0, 1.5, 2.25))
    n0 = len(pn._nfp_cache)
    first = pn.compute_nfp(a, b)
    a.set_position(10.5, -4.25)
    second = pn.compute_nfp(a, b)
    assert len(pn._nfp_cache) == n0 + 1
    assert second == [(x + 10.5, y - 4.25) for x, y in first]
    assert first[0] is not second[0]


def test_equal_geometries_share_entries_last_bit_does_not():
    outer = rect(0, 0, 3.375, 1.625)
    a1, a2 = Polygon(outer), Polygon(list(outer))
    b = Circle(2.0625)
    n0 = len(pn._nfp_cache)
    pn.compute_nfp(a1, b)
    pn.compute_nfp(a2, b)
    assert len(pn._nfp_cache) == n0 + 1
    a3 = Polygon(rect(0, 0, math.nextafter(3.375, 4), 1.625))
    pn.compute_nfp(a3, b)
    assert len(pn._nfp_cache) == n0 + 2
    assert pn._geometry_signature(a1) == pn._geometry_signature(a2)
    assert pn._geometry_signature(a1) != pn._geometry_signature(a3)


def test_signed_zero_coordinates_and_rotation_share_entries():
    a1 = Polygon([(0.0, 0.0), (0.0, 1.75), (2.75, 1.75), (2.75, 0.0)])
    a2 = Polygon([(-0.0, 0.0), (-0.0, 1.75), (2.75, 1.75), (2.75, -0.0)])
    b = Circle(0.8125)
    a2.rotation = -0.0
    n0 = len(pn._nfp_cache)
    assert pn.compute_nfp(a1, b) == pn.compute_nfp(a2, b)
    assert len(pn._nfp_cache) == n0 + 1


def test_signatures():
    c = Circle(4.5)
    assert pn._geometry_signature(c) == ("C", 4.5)
    p = Polygon(rect(0, 0, 4, 4), [[(1, 1), (2, 1), (2, 2), (1, 1)]])
    tag, outer, holes = pn._geometry_signature(p)
    assert tag == "P" and pts(outer) == pts(p.outer) and [pts(h) for h in holes] == [pts(h) for h in p.holes]
    # stays as first computed, through moves and inflation
    p.set_position(5, 5)
    p.infl = 2
    assert pn._geometry_signature(p) == (tag, outer, holes)


@pytest.mark.parametrize("other,w", [(0.1000004, 2.875), (0.100001, 2.625)])
def test_rotations_key_the_cache_exactly(other, w):
    # angles that agree to six decimals still turn an outline apart: an entry each
    a1, a2 = Polygon(rect(0, 0, w, 1.125)), Polygon(rect(0, 0, w, 1.125))
    b = Polygon(rect(0, 0, 0.875, 0.625))
    a1.rotation, a2.rotation = 0.1, other
    n0 = len(pn._nfp_cache)
    r1 = pn.compute_nfp(a1, b)
    r2 = pn.compute_nfp(a2, b)
    assert len(pn._nfp_cache) == n0 + 2
    assert r1 != r2
    assert pn.compute_nfp(a1, b) == r1


def test_inflations_key_the_cache_exactly():
    a, b = Circle(3.1875), Circle(1.4375)
    n0 = len(pn._nfp_cache)
    a.infl = 0.5
    first = pn.compute_nfp(a, b)
    a.infl = 0.5000004
    assert pn.compute_nfp(a, b) != first
    a.infl = 0.5
    assert pn.compute_nfp(a, b) == first
    assert len(pn._nfp_cache) == n0 + 2


@pytest.mark.parametrize("order", ["a", "b"])
def test_non_convex_raises_before_the_cache(order):
    conv, lsh = Polygon(rect(0, 0, 1.3125, 1.3125)), Polygon(L_SHAPE)
    pn.compute_nfp(conv, Polygon(rect(0, 0, 1.3125, 1.3125)))  # an entry for the convex pair
    n0 = len(pn._nfp_cache)
    args = (lsh, conv) if order == "a" else (conv, lsh)
    for _ in range(2):
        with pytest.raises(ValueError) as ei:
            pn.compute_nfp(*args)
        assert str(ei.value) == NON_CONVEX_MSG
    assert len(pn._nfp_cache) == n0


def test_compute_nfp0_polygon_circle_is_offset_path():
    a = Polygon(rect(0, 0, 4, 2))
    b = Circle(1)
    nfp = pn._compute_nfp0(a, b)
    assert gc.bbox(nfp) == (-1, -1, 5, 3)


# ------------------------------------------------------------------ union


def test_union_single_square():
    (c,) = pn.merge_nfps([rect(0, 0, 2, 2)])
    assert len(c) == 5 and c[0] == c[-1]
    assert sorted(set(pts(c))) == [(0, 0), (0, 2), (2, 0), (2, 2)]


def test_union_two_overlapping_squares():
    (c,) = pn.merge_nfps([rect(0, 0, 2, 2), rect(1, 1, 3, 3)])
    assert len(c) == 9 and c[0] == c[-1] and len(set(pts(c))) == 8
    assert abs(gc.signed_area(c[:-1])) == 7


def test_union_ring_of_four_squares():
    ring4 = [rect(0, 0, 3, 1), rect(2, 0, 3, 3), rect(0, 2, 3, 3), rect(0, 0, 1, 3)]
    out = pn.merge_nfps(ring4)
    assert len(out) == 2
    assert sorted(set(pts(out[0]))) == [(0, 0), (0, 3), (3, 0), (3, 3)]
    assert sorted(set(pts(out[1]))) == [(1, 1), (1, 2), (2, 1), (2, 2)]


def test_union_snaps_to_the_grid():
    (c,) = pn.merge_nfps([[(0, 0.0000005), (0, 2), (2, 2), (2, 0.0000015), (0, 0.0000005)]])
    assert set(pts(c)) == {(0, 0), (0, 2), (2, 2), (2, 0.000002)}


def test_counter_clockwise_path_adds_no_area():
    ccw = rect(5, 5, 6, 6)[::-1]
    assert pn.merge_nfps([ccw]) == []
    out = pn.merge_nfps([rect(0, 0, 2, 2), ccw])
    assert len(out) == 1 and sorted(set(pts(out[0]))) == [(0, 0), (0, 2), (2, 0), (2, 2)]


def test_union_of_nothing_and_of_degenerate_paths():
    assert pn.merge_nfps([]) == []
    assert pn.merge_nfps([[(0, 0), (1, 1), (0, 0)]]) == []


@pytest.mark.parametrize("bad", [1e13, -1e13, math.inf, math.nan])
def test_union_refuses_coordinates_beyond_the_grid(bad):
    with pytest.raises(ValueError):
        pn.merge_nfps([[(0, 0), (0, bad), (1, 1), (1, 0), (0, 0)]])


# ---------------------------------------------------------- candidate search


def test_sample_boundary():
    sq = [(0, 0), (1, 0), (1, 1), (0, 1), (0, 0)]
    s = pts(pn._sample_boundary(sq, 4))
    assert len(s) == 16
    assert s[:6] == [(0, 0), (0.25, 0), (0.5, 0), (0.75, 0), (1, 0), (1, 0.25)]
    assert s[-1] == (0, 0.25)
    assert pn._sample_boundary([(3, 3)], 4) == [] and pn._sample_boundary([], 4) == []


def test_sample_hole_interior():
    s = pts(pn._sample_hole_interior([(0, 0), (0, 5), (5, 5), (5, 0), (0, 0)]))
    assert s == [(2.5, 2.5)] + [(i, j) for i in range(1, 5) for j in range(1, 5)]


def test_sample_hole_interior_keeps_only_inside_points():
    tri = [(0, 0), (0, 5), (5, 0), (0, 0)]
    s = pts(pn._sample_hole_interior(tri))
    assert s[0] == pytest.approx((5 / 3, 5 / 3))
    assert all(x + y <= 5 for x, y in s[1:]) and len(s) == 1 + 10


def test_search_without_candidates():
    assert pn.search_best_position([], [], Circle(1), 10, 10) == (None, math.inf)


def test_search_corner_height_beats_width():
    item = Polygon(UNIT_CW)  # reference (1, 1), box (0, 0, 1, 1)
    pos, score = pn.search_best_position([[(1, 1.5), (6, 1), (1, 1.5)]], [], item, 100, 100, steps=1)
    assert tuple(pos) == (5, 0) and score == 5
    pos, score = pn.search_best_position([[(1, 1.5), (1, 1.5)]], [], item, 100, 100, steps=1)
    assert score == 50.5


@pytest.mark.parametrize("first", [(45, 30), (55, 30)])
def test_search_equal_scores_keep_the_first(first):
    second = (100 - first[0], 30)
    pos, score = pn.search_best_position([[first, second, first]], [], Circle(0.5), 100, 60, steps=1,
                                         placement="center")
    assert tuple(pos) == first and score == 25


def test_search_center_score_zero():
    item = Polygon(UNIT_CW)
    pos, score = pn.search_best_position([[(50.5, 30.5), (50.5, 30.5)]], [], item, 100, 60, steps=1,
                                         placement="center")
    assert tuple(pos) == (49.5, 29.5) and score == 0


@pytest.mark.parametrize("x,ok", [(0.75, True), (0.7, False), (9.25, True), (9.3, False)])
def test_search_bin_tolerance_band(x, ok):
    pos, _ = pn.search_best_position([[(x, 5), (x, 5)]], [], Circle(1), 10, 10, steps=1, eps=0.25)
    assert (pos is not None) == ok


def test_search_hole_candidates_follow_boundary_ones():
    hole = [(0, 0), (0, 5), (5, 5), (5, 0), (0, 0)]
    pos, score = pn.search_best_position([], [hole], Circle(1), 10, 10)
    assert tuple(pos) == (1, 1) and score == 0
    # a boundary candidate of equal score wins over the hole candidate
    pos, _ = pn.search_best_position([[(1, 1), (1, 1)]], [hole], Circle(1), 10, 10, steps=1)
    assert tuple(pos) == (1, 1)


# ------------------------------------------------------------------ placer


def test_constructor_defaults_and_fields():
    rots = [0.0, 1.0]
    p = pn.NfpPlacer(20, 40, rots, "center")
    assert (p.bin_w, p.bin_h, p.placement, p.packed) == (20, 40, "center", [])
    assert p.rotations is rots
    assert pn.NfpPlacer(1, 1).rotations == [0.0, math.pi / 2, math.pi, (3 * math.pi) / 2]


@pytest.mark.parametrize("bad,shown", [("left", "'left'"), ("", "''"), ("Corner", "'Corner'")])
def test_bad_placement_message(bad, shown):
    with pytest.raises(ValueError) as ei:
        pn.NfpPlacer(10, 10, placement=bad)
    assert str(ei.value) == "placement 仅支持 'corner'/'center'，收到：" + shown


def test_rectangle_rotated_into_narrow_bin():
    item = Polygon(rect(0, 0, 30, 10))
    p = pn.NfpPlacer(20, 40)
    assert p.trypack(item)
    assert item.rotation == math.pi / 2 and p.packed[0] is item
    minx, miny, maxx, maxy = item.bounding_box()
    assert (minx, miny) == pytest.approx((0, 0), abs=1e-12)
    assert (maxx, maxy) == pytest.approx((10, 30), abs=1e-12)


def test_center_start_position():
    item = Polygon(rect(0, 0, 7, 3))
    p = pn.NfpPlacer(100, 60, placement="center")
    assert p.trypack(item)
    minx, miny, maxx, maxy = item.bounding_box()
    assert ((minx + maxx) / 2, (miny + maxy) / 2) == (50, 30)


def test_circle_only_tries_rotation_zero():
    c = Circle(3)
    c.infl = 0.5
    p = pn.NfpPlacer(50, 50, rotations=[1.0, 2.0])
    assert p._rotations_for(c) == [0.0]
    assert p._rotations_for(Polygon(UNIT_CW)) is p.rotations
    assert p.trypack(c)
    assert (c.rotation, c.tx, c.ty) == (0.0, 3.5, 3.5)


@pytest.mark.parametrize("fill", [False, True])
def test_non_convex_refused_untouched(fill):
    p = pn.NfpPlacer(100, 100)
    if fill:
        assert p.trypack(Polygon(UNIT_CW))
    before = list(p.packed)
    item = Polygon(L_SHAPE)
    item.rotation = 0.25
    item.set_position(3, 4)
    assert p.trypack(item) is False
    assert p.packed == before
    assert (item.rotation, item.tx, item.ty) == (0.25, 3, 4)


@pytest.mark.parametrize("fill", [False, True])
def test_too_large_item_refused(fill):
    p = pn.NfpPlacer(10, 10)
    if fill:
        assert p.trypack(Circle(1))
    before = list(p.packed)
    assert not p.trypack(Polygon(rect(0, 0, 12, 3)))
    assert not p.trypack(Circle(6))
    assert p.packed == before


def test_rotations_never_tried_when_only_zero():
    p = pn.NfpPlacer(100, 100, rotations=[0.0])
    items = [Polygon(rect(0, 0, 8, 3)) for _ in range(5)]
    assert all(p.trypack(it) for it in items)
    assert all(it.rotation == 0.0 for it in items)


@pytest.mark.parametrize("rots", [[0.0, -0.0], [-0.0, 0.0]])
def test_equal_scores_across_rotations_keep_the_earlier(rots):
    # 0.0 and -0.0 give identical geometry, so every score ties
    p = pn.NfpPlacer(50, 50, rotations=rots)
    a, b = Polygon(rect(0, 0, 4, 3)), Polygon(rect(0, 0, 4, 3))
    assert p.trypack(a) and p.trypack(b)
    assert math.copysign(1, b.rotation) == math.copysign(1, rots[0])


def test_second_item_goes_beside_the_first_in_corner_mode():
    p = pn.NfpPlacer(100, 100, rotations=[0.0])
    a, b = Polygon(rect(0, 0, 10, 5)), Polygon(rect(0, 0, 10, 5))
    assert p.trypack(a) and p.trypack(b)
    assert b.bounding_box() == pytest.approx((10, 0, 20, 5), abs=1e-6)
    assert p.packed[1] is b


def test_best_rotation_wins_over_order():
    # in a 12-wide bin beside a 10-wide block only the upright bar lies low
    p = pn.NfpPlacer(12, 100)
    assert p.trypack(Polygon(rect(0, 0, 10, 10)))
    bar = Polygon(rect(0, 0, 5, 1))
    assert p.trypack(bar)
    assert bar.rotation in (math.pi / 2, 3 * math.pi / 2)
    # boundary samples are 40 per edge, so the bar stands near, not on, the floor
    assert bar.bounding_box()[1] < 1 and bar.bounding_box()[0] >= 10 - 1e-6


def test_ring_hole_takes_a_small_circle_at_the_hole_centroid():
    cont = Polygon(rect(0, 0, 20, 20), [[(5, 5), (15, 5), (15, 15), (5, 15)]])
    p = pn.NfpPlacer(40, 40, placement="center")
    assert p.trypack(cont)
    c = Circle(2)
    assert p.trypack(c)
    assert (c.tx, c.ty) == pytest.approx((20, 20), abs=1e-9)


# ------------------------------------------------- hole candidates, checked


def layout_ok(placer):
    return gc.layout_violations(placer.packed, placer.bin_w, placer.bin_h)


def test_square_beside_container_not_through_the_wall():
    cont = Polygon(rect(0, 0, 20, 20), [rect(5, 5, 15, 15)])
    sq = Polygon(rect(0, 0, 8, 8))
    p = pn.NfpPlacer(20, 40)
    assert p.trypack(cont)
    # the written search alone puts the square across the hole's wall
    rot, pos, _ = unfiltered_choice(p, sq)
    sq.rotation = rot
    sq.set_position(*pos)
    bad = gc.Outline(sq)
    assert gc.pair_violation(gc.Outline(cont), bad) is not None
    assert p.trypack(sq)
    assert layout_ok(p) == []


def test_circle_larger_than_the_hole_stays_out():
    rg, c = ring(40, 20), Circle(25)
    p = pn.NfpPlacer(200, 200, placement="center")
    assert p.trypack(rg)
    _, pos, _ = unfiltered_choice(p, c)
    assert math.hypot(pos[0] - 100, pos[1] - 100) < 1  # the turned-out hole's centroid
    assert p.trypack(c)
    assert layout_ok(p) == []
    assert math.hypot(c.tx - 100, c.ty - 100) >= 40 * math.cos(math.pi / 64) + 25 - 1e-6


@pytest.mark.parametrize("r", [8, 12])
def test_second_equal_circle_not_on_the_first(r):
    rg = ring(40, 20)
    p = pn.NfpPlacer(200, 200, placement="center")
    c1, c2, c3 = Circle(r), Circle(r), Circle(r)
    assert p.trypack(rg) and p.trypack(c1)
    assert (c1.tx, c1.ty) == pytest.approx((100, 100), abs=1e-9)  # in the hole
    _, pos, _ = unfiltered_choice(p, c2)
    assert tuple(pos) == pytest.approx((c1.tx, c1.ty), abs=1e-9)
    assert p.trypack(c2) and p.trypack(c3)
    assert layout_ok(p) == []


def test_item_in_hole_keeps_the_full_distance_from_the_wall():
    rg, c = ring(40, 20), Circle(18.5)
    rg.infl = c.infl = 1  # distance 2
    p = pn.NfpPlacer(200, 200, placement="center")
    assert p.trypack(rg)
    _, pos, _ = unfiltered_choice(p, c)
    assert math.hypot(pos[0] - 100, pos[1] - 100) < 1e-6
    assert p.trypack(c)
    assert layout_ok(p) == []
    # the written search would have left only 20*cos(pi/64) - 18.5 < 2 to the wall
    assert math.hypot(c.tx - 100, c.ty - 100) > 40


@pytest.mark.parametrize("item", [lambda: Circle(10), lambda: Polygon(rect(0, 0, 14, 14))])
def test_small_item_still_goes_into_the_hole(item):
    rg, it = ring(40, 20), item()
    rg.infl = it.infl = 1
    p = pn.NfpPlacer(200, 200, placement="center")
    assert p.trypack(rg) and p.trypack(it)
    assert layout_ok(p) == []
    box = it.bounding_box()
    cx, cy = (box[0] + box[2]) / 2, (box[1] + box[3]) / 2
    assert math.hypot(cx - 100, cy - 100) < 19  # inside the hole
    room = gc.offset(rg.transformed_holes()[0], -1)
    assert gc.Outline(it).outside_region(room) <= 1e-9


def test_hole_of_inflated_container_used_by_polygon_in_corner_mode():
    # nothing else fits under the container's top, so the hole is the lowest place
    cont = Polygon(rect(0, 0, 30, 30), [rect(5, 5, 25, 25)])
    cont.infl = 0.5
    p = pn.NfpPlacer(31, 60)
    assert p.trypack(cont)
    sq = Polygon(rect(0, 0, 6, 6))
    sq.infl = 0.5
    assert p.trypack(sq)
    assert layout_ok(p) == []
    assert sq.bounding_box()[3] < 30


# ------------------------------------------------------- placer internals


def test_start_positions_and_fits():
    c = Circle(2)
    c.infl = 0.5
    pn.NfpPlacer._place_at_origin(c)
    assert (c.tx, c.ty) == (2.5, 2.5)
    sq = Polygon(rect(-3, -1, 1, 2))
    pn.NfpPlacer._place_at_origin(sq)
    assert (sq.tx, sq.ty) == (3, 1)
    p = pn.NfpPlacer(100, 60)
    p._place_at_center(sq)
    assert (sq.tx, sq.ty) == (51, 29.5)
    p._place_at_center(c)
    assert (c.tx, c.ty) == (50, 30)
    c.set_position(2.5 - 5e-7, 2.5)
    assert p._fits(c)
    c.set_position(2.5 - 2e-6, 2.5)
    assert not p._fits(c) and p._fits(c, eps=1e-5)
    assert p.packed == []


@pytest.mark.parametrize("threads", [1, 2])
@pytest.mark.parametrize("incremental", [False, True])
def test_refused_item_keeps_last_rotation_and_translation(threads, incremental):
    p = pn.NfpPlacer(20, 20, rotations=[0.0, 0.5, 1.0], threads=threads, incremental=incremental)
    assert p.trypack(Polygon(rect(0, 0, 20, 15)))
    for it in (Polygon(rect(0, 0, 8, 8)), Polygon(rect(0, 0, 30, 3))):
        it.set_position(3, 4)
        assert not p.trypack(it)
        assert (it.rotation, it.tx, it.ty) == (1.0, 3, 4)
    assert len(p.packed) == 1


def test_refused_in_empty_bin_keeps_last_start_position():
    p = pn.NfpPlacer(10, 10, rotations=[0.0, 0.5])
    it = Polygon(rect(0, 0, 30, 3))
    assert not p.trypack(it)
    assert it.rotation == 0.5
    minx, miny, _, _ = it.bounding_box()
    assert (minx, miny) == pytest.approx((0, 0), abs=1e-12)


def test_trypack_halves_called_directly():
    p = pn.NfpPlacer(50, 50)
    a, b = Circle(5), Circle(5)
    assert p._trypack_empty(a) and p.packed == [a]
    assert p._trypack_nonempty(b) and p.packed == [a, b]
    assert math.hypot(b.tx - a.tx, b.ty - a.ty) >= 10 * math.cos(math.pi / 64) - 1e-6


def _placer_cycle():
    placer = pn.NfpPlacer(10.0, 10.0)
    item = Circle(1.0)
    assert placer.trypack(item)
    item.placer = placer  # the item refers to the placer that holds it
    return [placer, item]


def _driver_cycle():
    from Quarvo.first_fit_algorithm import FirstFit
    from Quarvo.geometry import Bin

    ff = FirstFit([], Bin(5.0, 5.0))
    ff.items = [ff]
    return [ff]


def _shape_id_cycle():
    a = Circle(1.0)
    b = Polygon([(0, 0), (1, 0), (0, 1)], shape_id=[a])
    a.other = b
    return [a, b]


@pytest.mark.parametrize("make", [_placer_cycle, _driver_cycle, _shape_id_cycle], ids=lambda f: f.__name__)
def test_reference_cycles_through_the_wrappers_are_collected(make):
    import gc as collector

    ids = {id(o) for o in make()}
    collector.collect()
    assert not [o for o in collector.get_objects() if id(o) in ids]
