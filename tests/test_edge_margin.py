"""The bin's edge margin: every item keeps the larger of the margin and its own
spacing from the bin's edges, with both placers, in strips, and in the checker.

Gaps are judged by tests/geometry_check.py on the items' stored data."""
import math

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import geometry_check as gc
from Quarvo import Bin, BottomLeftPlacer, Circle, FirstFit, NfpPlacer, Polygon
from Quarvo.check import CIRCLE_REL_TOL, check_layout

PROPS = settings(max_examples=40, deadline=None)


def rect(w, h, sid=0):
    return Polygon([(0, 0), (w, 0), (w, h), (0, h)], shape_id=sid)


@st.composite
def convex_polygon(draw):
    """Points on an ellipse at well separated angles: strictly convex."""
    n = draw(st.integers(3, 7))
    a, b = draw(st.floats(2, 14)), draw(st.floats(2, 14))
    phase = draw(st.floats(0, 2 * math.pi))
    gaps = draw(st.lists(st.floats(0.3, 1.0), min_size=n, max_size=n))
    angles, acc = [], phase
    for g in gaps:
        angles.append(acc)
        acc += 2 * math.pi * g / sum(gaps)
    return Polygon([(a * math.cos(t), b * math.sin(t)) for t in angles])


items_strategy = st.lists(st.one_of(st.floats(1.5, 10).map(Circle), convex_polygon()), min_size=3, max_size=14)


def spacing(item, distance):
    return distance / 2 + item.inflation + item.margin


@PROPS
@given(items=items_strategy, margin=st.sampled_from([0.0, 2.0, 6.0, 15.0]), distance=st.sampled_from([0.0, 2.0, 8.0]),
       strategy=st.sampled_from(["nfp", "bl"]), strip=st.booleans(),
       own=st.lists(st.sampled_from([0.0, 0.0, 1.5]), min_size=14, max_size=14))
def test_random_layouts_keep_the_margin_and_the_distance(items, margin, distance, strategy, strip, own):
    for it, extra in zip(items, own):
        it.inflation = extra
    w, h = 120.0, (None if strip else 90.0)
    b = Bin(w, h, margin=margin)
    bins, unplaced = FirstFit(items, b, distance, strategy=strategy).do_pack()
    if strip:
        assert len(bins) <= 1 and not unplaced
    for placed in bins:
        for it in placed:
            # the larger of the margin and the item's own spacing, independent geometry
            want = max(margin, spacing(it, distance))
            assert gc.edge_gap(gc.Outline(it), w, h) >= want - 1e-6, (it, want)
        # apart by the distance: each grown by half of it, then no overlap
        assert gc.spaced_violations(placed, w, h, lambda it: distance / 2 + it.inflation) == []
    report = check_layout((bins, unplaced), b, distance=distance, circle_rel_tol=CIRCLE_REL_TOL)
    assert report.ok, report.summary()


@pytest.mark.parametrize("strategy, height", [("nfp", 150.0), ("bl", 150.0), ("nfp", None)])
def test_shop_rule_eight_between_ten_from_the_edge(strategy, height):
    parts = [rect(40, 25, i) for i in range(12)]
    ff = FirstFit(parts, Bin(300, height, margin=10), 8.0, strategy=strategy)
    bins, unplaced = ff.do_pack()
    assert not unplaced
    boxes = [it.bounding_box() for b in bins for it in b]
    # the parts nearest the edges stand exactly 10 off (bottom-left adds its 0.001)
    assert min(bx[0] for bx in boxes) == pytest.approx(10.0, abs=0.002)
    assert min(bx[1] for bx in boxes) == pytest.approx(10.0, abs=0.002)
    assert max(bx[2] for bx in boxes) <= 290.0
    if height is None:
        # a strip's used length is the parts' top: its open end keeps no margin
        assert len(bins) == 1 and ff.used_length == pytest.approx(max(bx[3] for bx in boxes))
    else:
        assert max(bx[3] for bx in boxes) <= 140.0
    # and 8 apart, not more, along the bottom row
    row = sorted(bx[0] for bx in boxes if bx[1] < 11)
    assert row[1] - row[0] == pytest.approx(48.0, abs=0.01)
    report = check_layout(bins, Bin(300, height, margin=10), distance=8.0)
    assert report.ok and report.margin == 10


def test_a_margin_below_half_the_distance_changes_nothing():
    def layout(margin):
        items = [rect(10 + i, 7, i) for i in range(9)] + [Circle(4 + i % 3, f"c{i}") for i in range(6)]
        bins, _ = FirstFit(items, Bin(80, 60, margin=margin), 6.0).do_pack()
        return [(k, it.shape_id, it.tx, it.ty, it.rotation) for k, b in enumerate(bins) for it in b]
    assert layout(3.0) == layout(0.0) == layout(2.0)
    assert layout(3.5) != layout(0.0)


def test_placers_take_the_margin_themselves():
    nfp = NfpPlacer(50, 50, margin=4)
    bl = BottomLeftPlacer(50, 50, margin=4)
    assert (nfp.margin, bl.margin) == (4.0, 4.0)
    a, b = rect(10, 10), rect(10, 10)
    assert nfp.trypack(a) and bl.trypack(b)
    assert a.bounding_box()[:2] == (4.0, 4.0)
    assert b.bounding_box()[0] == pytest.approx(4.001)
    big = rect(43, 43)
    assert not NfpPlacer(50, 50, margin=4).trypack(big)
    assert NfpPlacer(50, 50, margin=3.5).trypack(big)
    # the driver's placer carries its bin's margin
    assert FirstFit([], Bin(50, 50, margin=4))._make_placer().margin == 4.0
    assert FirstFit([], Bin(50, 50, margin=4), strategy="bl")._make_placer().margin == 4.0


def test_bin_record_with_a_margin():
    assert repr(Bin(600, 600)) == "Bin(width=600, height=600)"
    assert repr(Bin(600, 600, margin=10)) == "Bin(width=600, height=600, margin=10)"
    assert Bin(600, 600) == Bin(600, 600, margin=0.0) != Bin(600, 600, margin=1)
    with pytest.raises(TypeError):
        Bin(600, 600, 10)  # the margin is a keyword: Bin(width, height) keeps two positional fields


BAD_MARGINS = [(-1.0, ValueError), (math.nan, ValueError), (math.inf, ValueError), (1e13, ValueError),
               ("10", TypeError)]


@pytest.mark.parametrize("value, error", BAD_MARGINS, ids=["negative", "nan", "inf", "huge", "text"])
def test_bad_margins_are_refused_by_name(value, error):
    item = rect(1, 1)
    with pytest.raises(error, match="margin"):
        FirstFit([item], Bin(10, 10, margin=value)).do_pack()
    assert (item.tx, item.ty) == (0.0, 0.0)
    with pytest.raises(error, match="margin"):
        NfpPlacer(10, 10, margin=value)
    with pytest.raises(error, match="margin"):
        BottomLeftPlacer(10, 10, margin=value)
    if error is ValueError and not value > 1e12:
        with pytest.raises(ValueError, match="margin"):
            check_layout([[item]], 10, 10, margin=value)


def test_checker_reports_items_nearer_the_edge_than_the_margin():
    near, fine, out = rect(10, 10, "near"), rect(10, 10, "fine"), rect(10, 10, "out")
    near.set_position(3, 20)
    fine.set_position(20, 20)
    out.set_position(45, 20)
    report = check_layout([[near, fine, out]], Bin(50, 50, margin=5))
    kinds = [(v.kind, v.shape_ids) for v in report.violations]
    assert kinds == [("near_edge", ("near",)), ("outside", ("out",))]
    v = report.violations[0]
    assert v.amount == pytest.approx(2.0) and v.clearance == pytest.approx(3.0)
    assert "3 from the bin's edge, 2 short of the margin" in str(v)
    assert "margin 5" in report.summary()
    # an explicit margin wins over the bin's, and no margin reports no near_edge
    assert check_layout([[near]], Bin(50, 50, margin=5), margin=2).ok
    assert check_layout([[near]], 50, 50).ok
