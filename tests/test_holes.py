"""Holes of placed containers: sound rooms, nesting to any depth, dense hole
filling and the exact clearance around circles."""
import random

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from Quarvo.check import check_layout
from Quarvo.first_fit_algorithm import FirstFit
from Quarvo.geometry import Bin, Circle, Polygon


def box(x0, y0, x1, y1, clockwise=True):
    pts = [(x0, y0), (x0, y1), (x1, y1), (x1, y0)]
    if not clockwise:
        pts.reverse()
    return pts + [pts[0]]


def test_a_hole_moved_past_its_width_is_no_room():
    plate = Polygon(box(0, 0, 0.496, 0.268), [box(x0, 0.05, x1, 0.2, clockwise=False)
                                              for x0, x1 in ((0.03, 0.13), (0.18, 0.3), (0.35, 0.46))])
    plate.margin, plate.weight = 1.1779390109525296, 88.9
    layout = FirstFit([plate, Circle(0.7536121952887429)], Bin(169.39, 755.72),
                      rotations=[-2.3265911036504043], placement="center").do_pack()
    assert len(layout[0][0]) == 2 and check_layout(layout, Bin(169.39, 755.72)).ok


def ngon(r, n=64, clockwise=True):
    import math
    pts = [(r * math.cos(2 * math.pi * k / n), r * math.sin(2 * math.pi * k / n)) for k in range(n)]
    if clockwise:
        pts.reverse()
    return pts + [pts[0]]


def pipe(od, wall, weight):
    """A steel pipe's cross-section: a ring of outside diameter od."""
    p = Polygon(ngon(od / 2), [ngon(od / 2 - wall, clockwise=False)])
    p.weight = weight
    return p


@pytest.mark.parametrize("options", [{}, {"hole_fill": "dense", "exact_clearance": True}])
def test_telescoping_pipes_nest_three_deep(options):
    from Quarvo.check import nesting_depths
    rings = [pipe(355.6, 9.5, 81.3), pipe(323.9, 9.5, 73.9), pipe(273.0, 9.3, 60.3)]
    core = Circle(109.55)
    core.weight = 42.5
    bins, unplaced = FirstFit(rings + [core], Bin(360, 360), 2.0, rotations=[0], **options).do_pack()
    assert not unplaced and len(bins) == 1
    assert nesting_depths(bins[0]) == [0, 1, 2, 3]
    assert check_layout((bins, unplaced), Bin(360, 360), distance=2.0,
                        circle_rel_tol=0 if options else 0.0012).ok


def test_dense_holes_fill_a_ring_until_it_is_full():
    from Quarvo.check import nesting_depths
    placed = {}
    for fill in ("sampled", "dense"):
        ring = pipe(323.9, 9.5, 73.9)
        layout = FirstFit([ring] + [Circle(30.15) for _ in range(30)], Bin(326, 326), 2.0, rotations=[0],
                          hole_fill=fill, exact_clearance=True).do_pack()
        first = layout[0][0]
        # a DN50 fits in none of the bin's corners: whatever else the ring's bin took is in its hole
        assert nesting_depths(first)[1:] == [1] * (len(first) - 1)
        assert check_layout(layout, Bin(326, 326), distance=2.0).ok
        placed[fill] = len(first) - 1
    assert placed["sampled"] < placed["dense"] >= 15


def test_dense_holes_are_filled_before_the_bin():
    from Quarvo.check import nesting_depths
    # the DN250 could stand on the floor beside the DN300, lower than in its hole
    for fill, depths in (("sampled", [0, 0]), ("dense", [0, 1])):
        layout = FirstFit([pipe(323.9, 9.5, 73.9), pipe(273.0, 9.3, 60.3)], Bin(700, 400), 2.0, rotations=[0],
                          hole_fill=fill).do_pack()
        assert nesting_depths(layout[0][0]) == depths and check_layout(layout, Bin(700, 400), distance=2.0).ok


@pytest.mark.parametrize("strategy", ["nfp", "bl"])
@settings(max_examples=12, deadline=None, derandomize=True)
@given(seed=st.integers(0, 10**6), n=st.integers(2, 24), distance=st.sampled_from([0.0, 2.0]))
def test_exact_clearance_keeps_true_circles_apart(strategy, seed, n, distance):
    rng = random.Random(seed)
    radii = [rng.choice([rng.uniform(0.5, 3.0), rng.uniform(3.0, 18.0)]) for _ in range(n)]
    extra = {"hole_fill": "dense"} if strategy == "nfp" else {}
    for exact in (False, True):  # the inscribed run fills the NFP cache first
        items = [Circle(r) for r in radii]
        if strategy == "nfp":
            items.append(pipe(60.0, 3.0, 0.0))
        layout = FirstFit(items, Bin(100, 80), distance, strategy=strategy, exact_clearance=exact, **extra).do_pack()
    report = check_layout(layout, Bin(100, 80), distance=distance)
    assert report.ok, report.summary()


@pytest.mark.parametrize("make", [
    lambda **kw: __import__("Quarvo.placer_nfp").placer_nfp.NfpPlacer(10, 10, **kw),
    lambda **kw: FirstFit([], Bin(10, 10), **kw),
])
def test_hole_fill_and_exact_clearance_options(make):
    p = make()
    assert (p.hole_fill, p.exact_clearance) == ("sampled", False)
    p = make(hole_fill="dense", exact_clearance=True)
    assert (p.hole_fill, p.exact_clearance) == ("dense", True)
    for bad in ("Dense", "", None, 1):
        with pytest.raises(ValueError, match="hole_fill must be 'sampled' or 'dense', got " + repr(bad)):
            make(hole_fill=bad)
        with pytest.raises(ValueError, match=repr(bad)):
            p.hole_fill = bad
    assert p.hole_fill == "dense"
