"""Pipe items: rings by outer diameter and wall, their mass, carriers with a
payload and a length, and random pipe orders packed soundly, judged from the
true circles by tests/geometry_check.py."""
import math
import re

import pytest
from hypothesis import HealthCheck, given, settings, strategies as st

import Quarvo
from Quarvo import Bin, Circle, FirstFit, Polygon, pipes
from Quarvo.check import check_layout, nesting_depths
from Quarvo.geometry import Pipe

from geometry_check import pipe_depths, pipe_layout_faults

STEEL = 7850.0


def steel_mass(od, wall, length=1.0, density=STEEL):
    inner = max(0.0, od - 2 * wall)
    return density * math.pi / 4 * (od * od - inner * inner) * 1e-6 * length


# ---------------------------------------------------------------- the item


def test_pipe_is_a_circle_exported_beside_the_written_names():
    assert Quarvo.Pipe is Pipe and "Pipe" not in Quarvo.__all__
    assert Quarvo.__all__ == ["Shape", "Polygon", "Circle", "Bin", "FirstFit", "NfpPlacer", "BottomLeftPlacer",
                              "plot_layout", "__version__"]
    p = Pipe(323.8, 9.53, length=12, shape_id="NPS12-1")
    assert isinstance(p, Circle) and p.is_container
    assert (p.od, p.wall, p.length, p.density, p.radius, p.shape_id) == (323.8, 9.53, 12.0, STEEL, 161.9, "NPS12-1")
    assert repr(p) == "Pipe(od=323.8, wall=9.53, length=12.0, shape_id='NPS12-1')"


@pytest.mark.parametrize("od, wall, length, density, bore, per", [
    (323.8, 9.53, 12.0, STEEL, 161.9 - 9.53, "piece"),
    (60.3, 3.91, None, STEEL, 26.24, "metre"),        # without a length, mass per metre
    (60.3, 3.91, 6.0, 2700.0, 26.24, "piece"),        # aluminium: the density scales it
    (50.0, 25.0, 2.0, STEEL, 0.0, "piece"),           # a wall of half the od: a solid bar
    (50.0, 30.0, 2.0, STEEL, 0.0, "piece"),           # thicker still: the same bar
])
def test_mass_bore_and_weight(od, wall, length, density, bore, per):
    p = Pipe(od, wall, length=length, density=density)
    assert p.bore == pytest.approx(bore) and p.is_container == (bore > 0)
    assert p.mass == pytest.approx(steel_mass(od, wall, length or 1.0, density), rel=1e-12)
    assert p.weight == p.mass
    assert p.transformed_holes() == ([] if bore == 0 else p.transformed_holes())
    p.weight = 3.0  # the weight is the caller's to change, the mass is not
    assert p.weight == 3.0 and p.mass > 0


BAD_PIPES = [
    ((0, 5), {}, ValueError, "od is 0, not positive"),
    ((-60.3, 5), {}, ValueError, "od is -60.3"),
    ((60.3, 0), {}, ValueError, "wall is 0, not positive"),
    ((60.3, -1), {}, ValueError, "wall is -1"),
    ((math.nan, 5), {}, ValueError, "od is nan"),
    ((math.inf, 5), {}, ValueError, "od is inf"),
    ((60.3, 5), {"length": 0}, ValueError, "length is 0"),
    ((60.3, 5), {"length": math.nan}, ValueError, "length is nan"),
    ((60.3, 5), {"density": -7850}, ValueError, "density is -7850"),
    ((60.3, 5), {"shape_id": "x", "length": -2}, ValueError, "pipe (shape_id 'x'): length is -2"),
    (("60", 5), {}, TypeError, "od"),
    ((60.3, None), {}, TypeError, "wall"),
    ((60.3, 5), {"length": "12 m"}, TypeError, "length"),
]


@pytest.mark.parametrize("args, kw, exc, fragment", BAD_PIPES, ids=[str(b[:2]) for b in BAD_PIPES])
def test_bad_pipes_are_refused_by_name(args, kw, exc, fragment):
    with pytest.raises(exc, match=re.escape(fragment)):
        Pipe(*args, **kw)


def test_read_only_sizes_and_a_settable_mass_on_plain_items():
    p = Pipe(100, 10)
    for name in ("od", "wall", "length", "density", "mass", "radius", "bore"):
        with pytest.raises(AttributeError):
            setattr(p, name, 1.0)
    c = Circle(10)
    assert c.mass == 0.0
    c.mass = 12.5
    assert c.mass == 12.5
    for bad in (-1.0, math.nan, math.inf):
        with pytest.raises(ValueError, match="mass"):
            c.mass = bad
    with pytest.raises(TypeError):
        c.mass = "heavy"


def test_bin_limits_print_when_set_and_are_checked():
    assert repr(Bin(600, None, max_load=900)) == "Bin(width=600, height=None, max_load=900)"
    for field in ("max_load", "length"):
        for bad in (0, -5, math.nan):
            with pytest.raises(ValueError, match=field):
                FirstFit([Pipe(10, 1)], Bin(100, 100, **{field: bad}))


# ---------------------------------------------------------------- packing


def pack(items, bin_, distance, **kw):
    ff = FirstFit(items, bin_, distance, **kw)
    bins, unplaced = ff.do_pack()
    return ff, bins, unplaced


@pytest.mark.parametrize("strategy, fill, exact, margin", [
    ("nfp", "dense", False, 0.0), ("nfp", "sampled", False, 0.0), ("nfp", "dense", True, 0.0),
    ("bl", "sampled", False, 0.0), ("nfp", "dense", True, 15.0), ("bl", "sampled", False, 15.0),
])
def test_true_walls_keep_the_distance_whatever_the_options(strategy, fill, exact, margin):
    # exact_clearance off: plain circles may come 0.12 % closer, pipes not at all
    items = [Pipe(od, wall) for od, wall in [(219.1, 8.18)] * 3 + [(114.3, 6.02)] * 6 + [(60.3, 3.91)] * 10]
    bin_ = Bin(600, 600, margin=margin)
    ff, bins, unplaced = pack(items, bin_, 4.0, strategy=strategy, hole_fill=fill, exact_clearance=exact)
    assert not unplaced and pipe_layout_faults(bins, 600, 600, 4.0) == []
    assert check_layout((bins, unplaced), bin_, distance=4.0).ok
    # the edge margin, on the true outer circles (bottom-left stops 0.001 short)
    edge = max(margin, 2.0) - 0.002
    for s in (s for b in bins for s in b):
        assert edge <= s.tx - s.radius and s.tx + s.radius <= 600 - edge
        assert edge <= s.ty - s.radius and s.ty + s.radius <= 600 - edge
    if strategy == "nfp":
        assert max(nesting_depths(bins[0])) >= 2  # 60.3 in 114.3 in 219.1


def test_pipes_beside_polygons_and_circles():
    # a bin with a polygon is searched by no-fit polygons: pipes keep their true walls there too
    items = [Pipe(219.1, 8.18), Pipe(168.3, 7.11), Pipe(88.9, 5.49), Pipe(60.3, 3.91)]
    items += [Polygon([(0, 0), (50, 0), (50, 30), (0, 30)]), Circle(20), Circle(12)]
    ff, bins, unplaced = pack(items, Bin(400, 400), 3.0, hole_fill="dense")
    assert not unplaced
    assert check_layout((bins, unplaced), Bin(400, 400), distance=3.0, circle_rel_tol=0.0013).ok
    assert pipe_layout_faults([[s for s in bins[0] if isinstance(s, Pipe)]], 400, 400, 3.0) == []


def test_carriers_refuse_long_and_heavy_pipes_with_their_reasons():
    trailer = pipes.carrier("trailer-13.6", max_load=2000)
    items = [pipes.standard("NPS 8", "40", length=12, shape_id=f"ok{i}") for i in range(6)]  # 510 kg each
    items.append(pipes.standard("NPS 8", "40", length=14, shape_id="long"))
    items.append(pipes.standard("NPS 24", "XS", length=12, shape_id="heavy"))  # 2,245 kg
    ff, bins, unplaced = pack(items, trailer, 5.0)
    assert [sorted(s.shape_id for s in b) for b in bins] == [["ok0", "ok1", "ok2"], ["ok3", "ok4", "ok5"]]
    reasons = dict(zip((s.shape_id for s in unplaced), ff.unplaced_reasons))
    assert set(reasons) == {"long", "heavy"}
    assert reasons["long"] == "length 14 m is longer than the bin's length of 13600 mm"
    assert reasons["heavy"].startswith("mass 2244.9") and "max_load of 2000 kg" in reasons["heavy"]
    assert all(sum(s.mass for s in b) <= 2000 for b in bins)


# Sizes of random orders: tubing to NPS 24, with walls from the catalogue.
SIZES = [e for e in pipes.catalogue() if 40 <= e.od <= 620][::5]


@st.composite
def orders(draw):
    n = draw(st.integers(1, 45))
    items = []
    for i in range(n):
        e = draw(st.sampled_from(SIZES))
        length = draw(st.sampled_from([None, 6.0, 12.0, 13.0, 14.0]))
        items.append(Pipe(e.od, e.wall, length=length, shape_id=f"{e.size}-{i}"))
    strip = draw(st.booleans())
    width = draw(st.sampled_from([700.0, 1200.0, 2400.0]))
    height = None if strip else draw(st.sampled_from([700.0, 1200.0]))
    max_load = draw(st.sampled_from([None, 1500.0, 4000.0]))
    length = draw(st.sampled_from([None, 12500.0]))
    return items, Bin(width, height, max_load=max_load, length=length), draw(st.sampled_from([0.0, 2.0, 5.0])), \
        draw(st.sampled_from(["dense", "sampled"]))


@settings(max_examples=60, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(orders())
def test_random_pipe_orders_are_sound_and_within_payload(case):
    items, bin_, distance, fill = case
    ff, bins, unplaced = pack(items, bin_, distance, hole_fill=fill)
    placed = [s for b in bins for s in b]
    # nothing lost, nothing twice, and a reason for everything left out
    assert sorted(map(id, placed + unplaced)) == sorted(map(id, items))
    assert len(ff.unplaced_reasons) == len(unplaced) and all(ff.unplaced_reasons)
    for s, why in zip(unplaced, ff.unplaced_reasons):
        if bin_.length is not None and s.length is not None and s.length * 1000 > bin_.length:
            assert why.startswith("length ")
        elif bin_.max_load is not None and s.mass > bin_.max_load:
            assert why.startswith("mass ") and "the bin's max_load" in why
    for b in bins:
        if bin_.max_load is not None:
            assert sum(s.mass for s in b) <= bin_.max_load
        if bin_.length is not None:
            assert all(s.length is None or s.length * 1000 <= bin_.length for s in b)
    if bin_.height is None:
        assert len(bins) <= 1
    else:
        # a pipe left out of a bin of boxes is too long, too heavy or too wide for an empty one
        for s, why in zip(unplaced, ff.unplaced_reasons):
            assert why.startswith(("length ", "mass ")) or s.od + distance > min(bin_.width, bin_.height)
    assert pipe_layout_faults(bins, bin_.width, bin_.height, distance) == []
    for b in bins:
        assert nesting_depths(b) == pipe_depths(b)
    assert check_layout((bins, unplaced), bin_, distance=distance).ok


def test_heavier_pipes_go_first():
    # weight is the mass: the heavy casing is packed first, at the bottom of the strip
    items = [pipes.standard("casing 20", "94", length=12)] + \
            [pipes.standard("tubing 2-3/8", "4.6", length=9.6) for _ in range(8)]
    ff, bins, _ = pack(items[::-1], Bin(2330, None), 5.0, hole_fill="dense")
    assert bins[0][0] is items[0] and (items[0].tx, items[0].ty) == pytest.approx((256.5, 256.5))


@pytest.mark.parametrize("height", [600.0, None])
def test_compression_keeps_every_bin_within_its_payload(height):
    # moving items between bins knows nothing of mass: bins with a payload keep first fit's loads
    items = [Pipe(114.3, 6.02, length=6, shape_id=i) for i in range(24)]  # 97.6 kg each
    bin_ = Bin(600, height, max_load=900)  # room for all of them, payload for 9
    ff, bins, unplaced = pack(items, bin_, 2.0, iterations=400, seed=1, compress=True)
    assert all(sum(s.mass for s in b) <= 900 for b in bins)
    assert len(bins) == (1 if height is None else 3) and pipe_layout_faults(bins, 600, height, 2.0) == []
    assert len(unplaced) == (24 - 9 if height is None else 0) == len(ff.unplaced_reasons)
