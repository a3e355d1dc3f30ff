"""Anchoring of outer NFPs by the exact box rule, and the bounded NFP cache."""
import math
import random

import pytest

import Quarvo.placer_nfp as pn
from Quarvo import Bin, Circle, FirstFit, Polygon
from Quarvo.check import CIRCLE_REL_TOL, check_layout


def rect(w, h, x=0.0, y=0.0):
    return Polygon([(x, y), (x + w, y), (x + w, y + h), (x, y + h)])


def checked(items, b, d, **kw):
    layout = FirstFit(items, b, d, **kw).do_pack()
    return check_layout(layout, b, distance=d, circle_rel_tol=CIRCLE_REL_TOL)


def test_top_edge_ends_in_different_quanta():
    # the raw NFP's top edge ends round to different 1e-9 quanta: anchored at the wrong end
    # the rectangle went over the circle (depth 63.8)
    items = [rect(91.53990451295276, 63.55581110012867), Circle(96.56086914843704)]
    rep = checked(items, Bin(290.66772528725517, 323.4002703315124), 12.277926199000046)
    assert rep.ok, rep.summary()


def random_large_job(rng):
    s = 10 ** rng.uniform(4, 7)
    items = []
    for _ in range(rng.randint(2, 4)):
        it = Circle(rng.uniform(0.02, 0.15) * s) if rng.random() < 0.5 else rect(
            rng.uniform(0.05, 0.3) * s, rng.uniform(0.05, 0.3) * s)
        it.inflation = rng.choice([0.0, rng.uniform(0, 0.02) * s])
        items.append(it)
    kw = dict(rotations=rng.choice([None, [math.pi], [rng.uniform(-3, 3)]]),
              placement=rng.choice(["corner", "center"]))
    return items, Bin(s * rng.uniform(0.5, 1), s * rng.uniform(0.5, 1)), rng.uniform(0, 0.01) * s, kw


def test_large_coordinates_never_overlap():
    # before the box rule, 17 of these 120 jobs came back overlapping
    rng = random.Random(0)
    for _ in range(120):
        items, b, d, kw = random_large_job(rng)
        rep = checked(items, b, d, **kw)
        assert rep.ok, rep.summary()


# Items are built in the test, not at collection: pytest keeps the parameters
# until the interpreter exits, and a daemon thread (Dask's) can keep them past it.
@pytest.mark.parametrize("make_a, make_b", [
    (lambda: Circle(96.56086914843704), lambda: rect(91.53990451295276, 63.55581110012867)),
    (lambda: Circle(3.0), lambda: rect(2.0, 1.0, 5e5, -3e5)),
    (lambda: rect(1.7e6, 2.3e5, 4e6, 1e6), lambda: rect(3.1e5, 7.7e5, -2e6, 5e5)),
])
def test_nfp_box_is_the_exact_sum_box(make_a, make_b):
    a, b = make_a(), make_b()
    # the polygon-polygon and circle-polygon NFPs, the two that are anchored
    for rot in (0.0, 1.0, math.pi):
        a.rotation = b.rotation = rot
        a.infl = b.infl = 6.138963099499989
        nfp = pn._compute_nfp0(a, b)
        ca = a.rotated_shape() if isinstance(a, Polygon) else pn.circle_to_polygon((0, 0), a.radius + a.infl, 64)
        cb = b.rotated_shape()
        ref = pn.top_right(cb)
        big = max(abs(v) for p in list(ca) + list(cb) for v in p)
        want = (min(p[0] for p in ca) - max(p[0] for p in cb) + ref[0],
                min(p[1] for p in ca) - max(p[1] for p in cb) + ref[1])
        got = (min(p[0] for p in nfp), min(p[1] for p in nfp))
        assert got == pytest.approx(want, abs=1e-11 * (1 + big) * 4)


def test_cache_bound_evicts_and_never_changes_a_layout():
    rng = random.Random(5)

    def job():
        return [rect(rng.uniform(1, 9), rng.uniform(1, 9)) if k % 2 else Circle(rng.uniform(0.5, 4))
                for k in range(30)]

    def positions(items):
        bins, _ = FirstFit(items, Bin(40, 40), 0.5).do_pack()
        return [(it.tx, it.ty, it.rotation) for b in bins for it in b]

    state = rng.getstate()
    pn.clear_nfp_cache()
    assert len(pn._nfp_cache) == 0 and pn.nfp_cache_info()["bytes"] == 0
    free = positions(job())
    full = pn.nfp_cache_info()
    assert full["entries"] == len(pn._nfp_cache) > 0 and full["bytes"] > 0
    try:
        pn.clear_nfp_cache()
        pn.set_nfp_cache_limit(64 * 4096)  # a few entries per shard
        rng.setstate(state)
        assert positions(job()) == free
        info = pn.nfp_cache_info()
        assert info["limit"] == 64 * 4096 and info["bytes"] <= info["limit"]
        assert info["entries"] < full["entries"]
        pn.set_nfp_cache_limit(0)
        assert pn.nfp_cache_info()["entries"] <= 64
    finally:
        pn.set_nfp_cache_limit(256 << 20)


@pytest.mark.parametrize("bad, exc", [(-1, ValueError), (1.5, TypeError), ("1", TypeError), (True, TypeError)])
def test_cache_limit_refuses_bad_values(bad, exc):
    with pytest.raises(exc, match="NFP cache limit"):
        pn.set_nfp_cache_limit(bad)
