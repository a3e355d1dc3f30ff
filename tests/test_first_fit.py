"""The first-fit driver: order, bins, spacing and what it leaves on the items."""
import math

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from Quarvo import Bin, BottomLeftPlacer, Circle, FirstFit, NfpPlacer, Polygon, Shape
from Quarvo.check import CIRCLE_REL_TOL, check_layout

PLACEMENT_MSG = "placement 仅支持 'corner'/'center'，收到："
BL_CENTER_MSG = ("BottomLeft 策略不支持 placement='center'（挤压贴角算法，无中心语义）；"
                 "请使用 strategy='nfp' 或 placement='corner'")


def square(s, sid=0):
    return Polygon([(0, 0), (s, 0), (s, s), (0, s)], shape_id=sid)


def ell(sid=0):
    return Polygon([(0, 0), (0, 20), (8, 20), (8, 8), (20, 8), (20, 0)], shape_id=sid)


def test_empty_items():
    assert FirstFit([], Bin(10, 10)).do_pack() == ([], [])


@pytest.mark.parametrize("strategy", ["nfp", "bl"])
def test_distance_and_margin_spacing_then_deflated(strategy):
    # distance 4 and margin 1: each item grows by 3, so neighbours keep 6 apart
    items = [square(10, i) for i in range(6)]
    for it in items:
        it.margin = 1.0
    bins, unplaced = FirstFit(items, Bin(200, 200), 4.0, strategy=strategy).do_pack()
    assert unplaced == [] and len(bins) == 1
    assert all(it.infl == 0.0 for it in items)
    report = check_layout(bins, 200, 200, distance=6.0, tol=1e-6)
    assert report.ok, report.summary()
    # 6 apart and not much more: the inflation really was 3
    xs = sorted(it.bounding_box()[0] for it in bins[0] if it.bounding_box()[1] < 5)
    assert xs[1] - xs[0] == pytest.approx(16.0, abs=0.01)


def test_weight_decides_before_area():
    light_big = square(10, "big")
    heavy_small = square(1, "small")
    heavy_small.weight = 5
    bins, _ = FirstFit([light_big, heavy_small], Bin(50, 50)).do_pack()
    assert bins[0][0] is heavy_small


def test_equal_keys_keep_the_callers_order():
    items = [square(5, i) for i in range(5)]
    bins, _ = FirstFit(items, Bin(100, 100)).do_pack()
    assert [it.shape_id for it in bins[0]] == [0, 1, 2, 3, 4]
    assert FirstFit(items, Bin(100, 100)).items is items


def test_area_breaks_weight_ties():
    items = [square(2, "s"), square(9, "l"), square(5, "m")]
    bins, _ = FirstFit(items, Bin(100, 100)).do_pack()
    assert [it.shape_id for it in bins[0]] == ["l", "m", "s"]


@pytest.mark.parametrize("strategy", ["nfp", "bl"])
def test_oversized_items_open_no_bin(strategy):
    a, b = square(20, "a"), square(30, "b")
    bins, unplaced = FirstFit([a, b], Bin(10, 10), strategy=strategy).do_pack()
    assert bins == [] and unplaced == [b, a]  # sorted order: larger area first


@pytest.mark.parametrize("strategy", ["nfp", "bl"])
def test_new_bins_open_at_the_end_and_small_items_go_back(strategy):
    big = [square(8, f"big{i}") for i in range(3)]
    small = square(1, "small")
    bins, unplaced = FirstFit(big + [small], Bin(10, 10), strategy=strategy).do_pack()
    assert unplaced == []
    assert [len(b) for b in bins] == [2, 1, 1] or [len(b) for b in bins] == [1, 1, 2]
    assert [b[0].shape_id for b in bins] == ["big0", "big1", "big2"]
    assert small in bins[0]


def test_constructor_messages():
    with pytest.raises(ValueError) as e:
        FirstFit([], Bin(1, 1), placement="middle")
    assert str(e.value) == PLACEMENT_MSG + "'middle'"
    with pytest.raises(ValueError) as e:
        FirstFit([], Bin(1, 1), strategy="bl", placement="middle")
    assert str(e.value) == PLACEMENT_MSG + "'middle'"  # placement is checked first
    with pytest.raises(ValueError) as e:
        FirstFit([], Bin(1, 1), placement=None)
    assert str(e.value) == PLACEMENT_MSG + "None"
    with pytest.raises(ValueError) as e:
        FirstFit([], Bin(1, 1), strategy="bl", placement="center")
    assert str(e.value) == BL_CENTER_MSG


def test_fields_are_stored_unchanged():
    items, b, rots = [], Bin(3, 4), [0.0]
    ff = FirstFit(items, b, 2, rots, "nfp", "center")
    assert (ff.items, ff.bin, ff.global_distance, ff.rotations, ff.strategy, ff.placement) == (items, b, 2, rots, "nfp", "center")
    assert ff.items is items and ff.rotations is rots


def test_misspelt_strategy_means_nfp():
    # the bottom-left placer takes non-convex items, the NFP placer refuses them
    assert FirstFit([ell()], Bin(50, 50), strategy="bl").do_pack()[1] == []
    for strategy in ("nfp", "BL", "bottomleft", ""):
        bins, unplaced = FirstFit([ell()], Bin(50, 50), strategy=strategy).do_pack()
        assert bins == [] and len(unplaced) == 1


def test_make_placer_builds_the_strategys_placer():
    assert isinstance(FirstFit([], Bin(5, 6), strategy="bl")._make_placer(), BottomLeftPlacer)
    p = FirstFit([], Bin(5, 6), rotations=[0.0], placement="center")._make_placer()
    assert isinstance(p, NfpPlacer) and (p.bin_w, p.bin_h, p.rotations, p.placement) == (5, 6, [0.0], "center")


def test_infl_reset_when_packing_fails():
    bad = Shape(7)
    items = [Circle(3), bad, square(2)]
    with pytest.raises(NotImplementedError):
        FirstFit(items, Bin(50, 50), 4.0).do_pack()
    assert all(it.infl == 0.0 for it in items)


@pytest.mark.parametrize("bad", [
    lambda items: FirstFit(items + [Circle(float("nan"))], Bin(10, 10)),
    lambda items: FirstFit(items, Bin(float("nan"), 10)),
    lambda items: FirstFit(items, Bin(10, 10), float("inf")),
    lambda items: FirstFit(items, Bin(10, 10), rotations=[float("nan")]),
])
def test_bad_numbers_are_refused_before_anything_moves(bad):
    # refused when given (the constructor) or at the latest by do_pack
    items = [Circle(1), square(1)]
    before = [(it.tx, it.ty, it.rotation, it.infl) for it in items]
    with pytest.raises(ValueError):
        bad(items).do_pack()
    assert [(it.tx, it.ty, it.rotation, it.infl) for it in items] == before


def test_bins_hold_the_callers_objects():
    items = [Circle(5, i) for i in range(4)]
    bins, _ = FirstFit(items, Bin(30, 30)).do_pack()
    assert {id(it) for b in bins for it in b} == {id(it) for it in items}


# ---------------------------------------------------------------- properties

def regular(n, r, phase=0.0):
    return [(r * math.cos(phase + 2 * math.pi * k / n), r * math.sin(phase + 2 * math.pi * k / n)) for k in range(n)]


def ring(r_out, r_in, sid):
    return Polygon(regular(64, r_out), holes=[regular(64, r_in)], shape_id=sid)


item_recipe = st.one_of(
    st.tuples(st.just("circle"), st.floats(3, 25)),
    st.tuples(st.just("ngon"), st.integers(3, 8), st.floats(4, 25), st.floats(0, 3)),
    st.tuples(st.just("ring"), st.floats(20, 40), st.floats(0.5, 0.85)),
    st.tuples(st.just("ell"), st.floats(0.5, 1.5)),
)


def build(recipe, sid):
    kind = recipe[0]
    if kind == "circle":
        return Circle(recipe[1], shape_id=sid)
    if kind == "ngon":
        return Polygon(regular(recipe[1], recipe[2], recipe[3]), shape_id=sid)
    if kind == "ring":
        return ring(recipe[1], recipe[1] * recipe[2], sid)
    s = recipe[1]
    return Polygon([(0, 0), (0, 20 * s), (8 * s, 20 * s), (8 * s, 8 * s), (20 * s, 8 * s), (20 * s, 0)], shape_id=sid)


@settings(max_examples=60, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(recipes=st.lists(item_recipe, min_size=1, max_size=25),
       weights=st.lists(st.integers(0, 3), min_size=25, max_size=25),
       distance=st.sampled_from([0.0, 1.0, 2.5]),
       strategy=st.sampled_from(["nfp", "bl"]),
       placement=st.sampled_from(["corner", "center"]),
       size=st.sampled_from([(120, 100), (200, 160)]),
       incremental=st.booleans())
def test_random_jobs_give_sound_layouts(recipes, weights, distance, strategy, placement, size, incremental):
    if strategy == "bl":
        placement = "corner"
    items = [build(s, i) for i, s in enumerate(recipes)]
    for it, w in zip(items, weights):
        it.weight = w
    w, h = size
    bins, unplaced = FirstFit(items, Bin(w, h), distance, strategy=strategy, placement=placement,
                              incremental=incremental).do_pack()
    # every item exactly once
    seen = [id(it) for b in bins for it in b] + [id(it) for it in unplaced]
    assert sorted(seen) == sorted(id(it) for it in items)
    assert all(it.infl == 0.0 for it in items)
    assert all(b for b in bins)
    if strategy != "bl":
        assert not any(isinstance(it, Polygon) and it.shape_id is not None and not _convex(it) and it not in unplaced
                       for it in items)
    report = check_layout(bins, w, h, distance=distance, circle_rel_tol=CIRCLE_REL_TOL)
    assert report.ok, report.summary()


def _convex(p):
    from Quarvo.geometry_handle import is_convex
    return is_convex(p.outer)


@pytest.mark.parametrize("seed", range(4))
@pytest.mark.parametrize("kind", ["circles", "polygons"])
@pytest.mark.parametrize("placement", ["corner", "center"])
def test_incremental_with_every_item_its_own_kind(seed, kind, placement):
    # a kind new to the bin searches the probe's free space: sound, and as many bins as the exact mode
    import random
    def job():
        rng = random.Random(seed)
        if kind == "circles":
            return [Circle(rng.uniform(3, 15), shape_id=i) for i in range(120)]
        out = []
        for i in range(50):
            k, rx, ry = rng.randint(3, 7), rng.uniform(5, 15), rng.uniform(5, 15)
            angles = sorted(rng.uniform(0, 2 * math.pi) for _ in range(k))
            out.append(Polygon([(rx * math.cos(a), ry * math.sin(a)) for a in angles], shape_id=i))
        return out
    layouts = {}
    for incremental in (False, True):
        bins, unplaced = FirstFit(job(), Bin(150, 120), 2.0, placement=placement, incremental=incremental).do_pack()
        report = check_layout(bins, 150, 120, distance=2.0, circle_rel_tol=CIRCLE_REL_TOL)
        assert report.ok, report.summary()
        layouts[incremental] = (len(bins), len(unplaced))
    assert layouts[True] == layouts[False]
