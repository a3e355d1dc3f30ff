"""Mixed stock: bins of several kinds with counts and costs, bins of any
outline with holes and defects, the cheapest plan and its summary."""
import math
import random

import pytest
from hypothesis import given, settings, strategies as st

from geometry_check import stock_faults
from Quarvo import Bin, Circle, FirstFit, Polygon
from Quarvo.check import CIRCLE_REL_TOL, check_layout, check_plan
from Quarvo.stock import cost_lower_bound, plan_summary


def square(s, i):
    return Polygon([(0, 0), (s, 0), (s, s), (0, s)], shape_id=i)


def ell(s, i):
    return Polygon([(0, 0), (s, 0), (s, s / 3), (s / 3, s / 3), (s / 3, s), (0, s)], shape_id=i)


def blob(rng, cx, cy, r, n, wave=0.15):
    a, b = rng.uniform(0, 6.3), rng.uniform(0, 6.3)
    return [(cx + r * (1 + wave * math.sin(2 * t + a) + wave * 0.6 * math.sin(3 * t + b)) * math.cos(t),
             cy + r * (1 + wave * math.sin(2 * t + a) + wave * 0.6 * math.sin(3 * t + b)) * math.sin(t))
            for t in (2 * math.pi * k / n for k in range(n))]


def spacing(distance, margin):
    """The gap every item keeps from a bin's outline, holes and defects."""
    return lambda it: max(margin, distance / 2 + it.inflation + it.margin)


# ------------------------------------------------------------------ records


def test_polygon_bin_moves_its_contours_to_its_box():
    b = Bin.polygon([(10, 20), (110, 20), (110, 70), (10, 70)], holes=[[(20, 30), (30, 30), (30, 40), (20, 40)]],
                    defects=[[(50, 40), (60, 40), (55, 50)]], count=2, cost=7.5)
    assert (b.width, b.height, b.origin, b.count, b.cost) == (100, 50, (10, 20), 2, 7.5)
    assert b.outer[0] == (0, 0) and b.holes[0][0] == (10, 10) and b.defects[0][2] == (45, 30)
    assert repr(b) == ("Bin(width=100.0, height=50.0, count=2, cost=7.5, outer=<4 points>, holes=<1 contours>, "
                       "defects=<1 contours>, origin=(10.0, 20.0))")
    assert repr(Bin(600, 400)) == "Bin(width=600, height=400)"


@pytest.mark.parametrize("bin_record, area, usable, cost", [
    (Bin(30, 20), 600, 600, 600),
    (Bin(30, 20, cost=5), 600, 600, 5),
    (Bin(30, 20, holes=[[(1, 1), (11, 1), (11, 11), (1, 11)]]), 500, 500, 500),
    # a defect half out of the outline, and one over a hole: only what they take of the material counts
    (Bin(30, 20, holes=[[(1, 1), (9, 1), (9, 9), (1, 9)]],
         defects=[[(25, 0), (35, 0), (35, 10), (25, 10)], [(0, 0), (10, 0), (10, 10), (0, 10)]]), 536, 450, 536),
    (Bin.polygon([(0, 0), (10, 0), (0, 10)]), 50, 50, 50),
])
def test_areas_and_costs(bin_record, area, usable, cost):
    assert bin_record.area == pytest.approx(area)
    assert bin_record.usable_area == pytest.approx(usable)
    assert bin_record.unit_cost == pytest.approx(cost)


@pytest.mark.parametrize("bad, error, words", [
    (Bin(10, 10, count=-1), ValueError, "count is -1"),
    (Bin(10, 10, count=1.5), TypeError, "count must be a whole number"),
    (Bin(10, 10, count=10 ** 30), ValueError, "count is beyond"),
    (Bin(10, 10, outer=[]), ValueError, "the outline has no points"),
    (Bin(10, 10, cost=float("nan")), ValueError, "cost is nan"),
    (Bin(10, 10, cost=-3), ValueError, "cost is -3"),
    (Bin(10, 10, outer=[(0, 0), (20, 0), (20, 10), (0, 10)]), ValueError, "lies outside [0, width]"),
    (Bin(10, 10, outer=[(0, 0), (10, 10), (10, 0), (0, 10)]), ValueError, "the outline"),
    (Bin(10, 10, defects=[[(0, 0), (5, 5), (5, 0), (0, 5)]]), ValueError, "defect 0"),
    (Bin(10, 10, holes=[[(8, 8), (12, 8), (12, 12), (8, 12)]]), ValueError, "the outline"),
    (Bin(10, None, defects=[[(1, 1), (2, 1), (2, 2)]]), ValueError, "a strip"),
])
def test_bad_bins_are_refused_naming_the_value(bad, error, words):
    with pytest.raises(error, match=None) as e:
        FirstFit([square(1, 0)], bad).do_pack()
    assert words in str(e.value)
    with pytest.raises(error) as e:
        FirstFit([square(1, 0)], bins=[Bin(5, 5), bad]).do_pack()
    assert words in str(e.value) and ("bins[1]" in str(e.value) or error is TypeError)


def test_bin_or_bins_not_both():
    with pytest.raises(ValueError, match="not both"):
        FirstFit([], Bin(5, 5), bins=[Bin(5, 5)])
    ff = FirstFit([], bins=[Bin(5, 5)])
    with pytest.raises(ValueError, match="not both"):
        ff.bin = Bin(5, 5)
    with pytest.raises(TypeError, match="needs a bin"):
        FirstFit([square(1, 0)]).do_pack()
    with pytest.raises(ValueError, match="empty"):
        FirstFit([], bins=[])
    with pytest.raises(ValueError, match="one kind among several"):
        FirstFit([square(1, 0)], bins=[Bin(5, 5), Bin(5, None)]).do_pack()


# ------------------------------------------------------------ kinds and counts


def layout_of(bins):
    return [[(it.shape_id, it.tx, it.ty, it.rotation) for it in b] for b in bins]


def test_one_kind_in_bins_packs_as_the_bin_does():
    rng = random.Random(3)
    make = lambda: [square(rng.uniform(5, 30), i) for i in range(40)]
    rng.seed(3)
    a = FirstFit(make(), Bin(100, 80), 2.0).do_pack()
    rng.seed(3)
    ff = FirstFit(make(), bins=[Bin(100, 80)], global_distance=2.0)
    b = ff.do_pack()
    assert layout_of(a[0]) == layout_of(b[0]) and ff.bin_types == [0] * len(b[0])
    assert ff.bin_costs == [8000.0] * len(b[0])


@pytest.mark.parametrize("strategy", ["nfp", "bl"])
def test_never_more_bins_of_a_kind_than_its_count(strategy):
    items = [square(30, i) for i in range(40)]
    kinds = [Bin(70, 70, count=2), Bin(100, 70, count=1), Bin(40, 40, count=3)]
    ff = FirstFit(items, bins=kinds, global_distance=1.0, strategy=strategy)
    bins, unplaced = ff.do_pack()
    for k, b in enumerate(kinds):
        assert ff.bin_types.count(k) <= b.count
    placed = sum(len(b) for b in bins)
    assert placed == 4 * 2 + 6 + 3 and len(unplaced) == 40 - placed
    assert ff.unplaced_reasons == ["no bin left"] * len(unplaced)
    assert check_plan((bins, unplaced), [kinds[t] for t in ff.bin_types], distance=1.0).ok


def test_one_kind_with_a_count_and_items_too_big():
    items = [square(30, i) for i in range(10)] + [square(90, "big")]
    ff = FirstFit(items, Bin(70, 70, count=2), 0.0)
    bins, unplaced = ff.do_pack()
    assert len(bins) == 2 and len(unplaced) == 3
    reasons = dict(zip([it.shape_id for it in unplaced], ff.unplaced_reasons))
    assert reasons.pop("big") == "does not fit in an empty bin"
    assert set(reasons.values()) == {"no bin left"}


def test_unplaced_reasons_name_each_kind_when_they_differ():
    ff = FirstFit([square(60, 0)], bins=[Bin(50, 50), Bin(80, 80, count=0)])
    bins, unplaced = ff.do_pack()
    assert bins == [] and ff.unplaced_reasons == ["no bin left"]
    ff = FirstFit([square(60, 0)], bins=[Bin(50, 50), Bin(50, 40)])
    ff.do_pack()
    assert ff.unplaced_reasons == ["does not fit in an empty bin"]


@pytest.mark.parametrize("costs, cheaper", [((100.0, 60.0), 1), ((60.0, 100.0), 0), ((None, None), 1)])
@pytest.mark.parametrize("strategy", ["nfp", "bl"])
def test_the_cheaper_of_two_kinds_that_both_hold_everything(costs, cheaper, strategy):
    # both hold the six squares; by area (None) the smaller one is cheaper
    kinds = [Bin(100, 100, cost=costs[0]), Bin(70, 50, cost=costs[1])]
    items = [square(20, i) for i in range(6)]
    ff = FirstFit(items, bins=kinds, global_distance=1.0, strategy=strategy)
    bins, unplaced = ff.do_pack()
    assert not unplaced and ff.bin_types == [cheaper]


def test_fewer_big_bins_win_when_they_cost_less():
    # 16 squares: one big bin (cost 300) holds them, four small ones (100 each) would too
    kinds = [Bin(45, 45, cost=100), Bin(90, 90, cost=300)]
    items = [square(20, i) for i in range(16)]
    ff = FirstFit(items, bins=kinds, global_distance=1.0)
    ff.do_pack()
    assert ff.bin_types == [1] and ff.bin_costs == [300.0]


def test_search_is_deterministic_with_a_seed_whatever_the_threads_and_keeps_the_counts():
    rng = random.Random(5)
    sizes = [rng.uniform(10, 35) for _ in range(30)]
    kinds = [Bin(100, 60, count=2), Bin(80, 80), Bin.polygon([(0, 0), (90, 0), (90, 40), (40, 90), (0, 90)], count=1)]
    runs = []
    for threads in (1, 2):
        items = [ell(s, i) if i % 3 == 0 else square(s, i) for i, s in enumerate(sizes)]
        ff = FirstFit(items, bins=kinds, global_distance=1.0, nonconvex=True, iterations=60, seed=4, threads=threads)
        bins, unplaced = ff.do_pack()
        for k, b in enumerate(kinds):
            assert b.count is None or ff.bin_types.count(k) <= b.count
        assert check_plan((bins, unplaced), [kinds[t] for t in ff.bin_types], distance=1.0).ok
        runs.append((layout_of(bins), list(ff.bin_types)))
        greedy = FirstFit(items, bins=kinds, global_distance=1.0, nonconvex=True)
        greedy.do_pack()
        assert sum(ff.bin_costs) <= sum(greedy.bin_costs)
    assert runs[0] == runs[1]


def test_compress_with_several_kinds_runs_the_search():
    kinds = [Bin(60, 60), Bin(40, 40)]
    ff = FirstFit([square(15, i) for i in range(12)], bins=kinds, global_distance=1.0, compress=True, iterations=20)
    bins, unplaced = ff.do_pack()
    assert not unplaced and check_plan((bins, unplaced), [kinds[t] for t in ff.bin_types], distance=1.0).ok


# ------------------------------------------------------------ the summary


def test_plan_summary_and_its_lower_bound():
    kinds = [Bin(100, 100, cost=100), Bin(50, 50, cost=20, count=2)]
    items = [square(20, i) for i in range(20)]
    ff = FirstFit(items, bins=kinds, global_distance=1.0)
    layout = ff.do_pack()
    plan = plan_summary(ff, layout)
    assert plan.total_cost == sum(ff.bin_costs) and plan.unplaced == 0
    assert sum(plan.per_kind.values()) == len(layout[0]) and sum(b.items for b in plan.bins) == 20
    assert all(0 < b.fill <= 1 for b in plan.bins)
    # 8000 of material: 5000 of the small kind (0.008 per unit) first, the rest at 0.01
    assert plan.lower_bound == pytest.approx(5000 * 0.008 + 3000 * 0.01)
    assert plan.lower_bound <= plan.total_cost
    assert "total cost" in plan.text()
    assert cost_lower_bound(items, [Bin(10, 10, count=1)]) == pytest.approx(100)  # too little stock: all of it


# ------------------------------------------------------------ outlines and defects


def test_items_keep_the_margin_from_outline_holes_and_defects():
    b = Bin.polygon([(0, 0), (200, 0), (200, 120), (90, 120), (90, 70), (0, 70)],
                    holes=[[(150, 30), (170, 30), (170, 50), (150, 50)]],
                    defects=[[(30, 20), (45, 20), (45, 35), (30, 35)], [(195, 100), (210, 100), (210, 110)]],
                    margin=3)
    items = [square(12, i) for i in range(40)] + [Circle(5, shape_id=f"c{i}") for i in range(15)]
    for strategy in ("nfp", "bl"):
        bins, unplaced = FirstFit(items, b, 1.0, strategy=strategy).do_pack()
        for placed in bins:
            assert not stock_faults(placed, b, spacing(1.0, 3))
        assert check_layout((bins, unplaced), b, distance=1.0, circle_rel_tol=CIRCLE_REL_TOL).ok


@pytest.mark.parametrize("where, kind", [
    ((2, 2), None),            # clear of everything, the margin kept
    ((0.5, 5), "near_edge"),   # nearer the outline than the margin
    ((-2, 5), "outside"),      # out of the outline
    ((21, 21), "outside"),     # in the hole
    ((18, 2), "on_defect"),    # across the defect
    ((15.5, 2), "near_defect"),
])
def test_the_checker_judges_outline_holes_and_defects(where, kind):
    b = Bin(40, 40, margin=1, holes=[[(20, 20), (30, 20), (30, 30), (20, 30)]],
            defects=[[(20, 0), (25, 0), (25, 5), (20, 5)]], outer=[(0, 0), (40, 0), (40, 40), (0, 40)])
    it = square(4, "s")
    it.tx, it.ty = where
    report = check_layout([[it]], b)
    assert [v.kind for v in report.violations] == ([] if kind is None else [kind])
    assert bool(stock_faults([it], b, lambda _: 1.0)) == (kind is not None)


@settings(max_examples=60, deadline=None, derandomize=True)
@given(st.integers(0, 10 ** 6), st.sampled_from(["nfp", "bl"]), st.booleans(), st.sampled_from([0.0, 2.0]))
def test_random_irregular_bins_with_defects(seed, strategy, nonconvex, margin):
    rng = random.Random(seed)
    outline = blob(rng, 0, 0, rng.uniform(60, 100), rng.randint(8, 24))
    defects = [blob(rng, rng.uniform(-50, 50), rng.uniform(-50, 50), rng.uniform(4, 12), 7)
               for _ in range(rng.randint(1, 4))]
    holes = [blob(rng, 0, 0, 8, 6, wave=0.0)] if rng.random() < 0.3 else []
    b = Bin.polygon(outline, holes=holes, defects=defects, margin=margin, count=rng.randint(1, 3))
    items = []
    for i in range(rng.randint(5, 25)):
        u = rng.random()
        if u < 0.3:
            items.append(Circle(rng.uniform(3, 12), shape_id=i))
        elif u < 0.6 and (nonconvex or strategy == "bl"):
            items.append(ell(rng.uniform(8, 25), i))
        else:
            r = rng.uniform(4, 14)
            items.append(Polygon(blob(rng, 0, 0, r, rng.randint(3, 7), wave=0.0), shape_id=i))
    distance = rng.choice([0.0, 1.0, 2.5])
    kinds = [b, Bin(rng.uniform(30, 60), rng.uniform(30, 60), count=1)]
    ff = FirstFit(items, bins=kinds, global_distance=distance, strategy=strategy, nonconvex=nonconvex,
                  rotations=[0.0, math.pi / 2] if rng.random() < 0.5 else None)
    bins, unplaced = ff.do_pack()
    for placed, t in zip(bins, ff.bin_types):
        assert t in (0, 1)
        if t == 0:
            assert not stock_faults(placed, b, spacing(distance, margin))
    assert ff.bin_types.count(0) <= b.count and ff.bin_types.count(1) <= 1
    report = check_plan((bins, unplaced), [kinds[t] for t in ff.bin_types], distance=distance,
                        circle_rel_tol=CIRCLE_REL_TOL)
    assert report.ok, report.summary()
