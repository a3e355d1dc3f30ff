import math

import pytest
from hypothesis import HealthCheck, assume, given, settings
from hypothesis import strategies as st

from Quarvo.check import CIRCLE_REL_TOL, TOLERANCE, check_layout, circle_tolerance, measure_pair, outside_amount
from Quarvo.first_fit_algorithm import FirstFit
from Quarvo.geometry import Bin, Circle, Polygon
from Quarvo.placer_nfp import NfpPlacer

BIN = Bin(100.0, 100.0)
CORNER_ANGLE = math.pi / 4 + math.pi / 64


def rect(w, h, x, y, sid=0, rot=0.0):
    p = Polygon([(0, 0), (w, 0), (w, h), (0, h)], shape_id=sid)
    p.rotation = rot
    p.set_position(x, y)
    return p


def circle(r, x, y, sid=0):
    c = Circle(r, shape_id=sid)
    c.set_position(x, y)
    return c


def frame(x=40.0, y=40.0, sid=9):
    """30 x 30 container with a 20 x 20 hole: walls 5 thick, hole [x+5, x+25]."""
    p = Polygon([(0, 0), (30, 0), (30, 30), (0, 30)], [[(5, 5), (25, 5), (25, 25), (5, 25)]], shape_id=sid)
    p.set_position(x, y)
    return p


def small_frame(x, y):
    p = Polygon([(0, 0), (14, 0), (14, 14), (0, 14)], [[(2, 2), (12, 2), (12, 12), (2, 12)]])
    p.set_position(x, y)
    return p


FAULTY = {
    "squares overlap 0.01": (lambda: [rect(10, 10, 0, 0), rect(10, 10, 9.99, 0)], 0.0, ("overlap", 0.01)),
    "circles overlap 0.01": (lambda: [circle(5, 10, 10), circle(5, 19.99, 10)], 0.0, ("overlap", 0.01)),
    "circle into square 0.01": (lambda: [rect(10, 10, 0, 0), circle(5, 14.99, 5)], 0.0, ("overlap", 0.01)),
    "square out left 0.01": (lambda: [rect(10, 10, -0.01, 50)], 0.0, ("outside", 0.01)),
    "square out top 0.01": (lambda: [rect(10, 10, 50, 90.01)], 0.0, ("outside", 0.01)),
    "circle out right 0.01": (lambda: [circle(5, 95.01, 50)], 0.0, ("outside", 0.01)),
    "circle out bottom 0.01": (lambda: [circle(5, 50, 4.99)], 0.0, ("outside", 0.01)),
    "rotated square out right 0.01": (lambda: [rect(10, 10, 100.01, 0, rot=math.pi / 2)], 0.0, ("outside", 0.01)),
    "squares 0.5 short": (lambda: [rect(10, 10, 0, 0), rect(10, 10, 11.5, 3)], 2.0, ("too_close", 0.5)),
    "circles 0.5 short": (lambda: [circle(5, 10, 10), circle(5, 21.5, 10)], 2.0, ("too_close", 0.5)),
    # Off the corner between two vertices of a 64-gon, which would be 0.006 off.
    "circle to corner 0.5 short": (lambda: [rect(10, 10, 0, 0), circle(5, 10 + 6.5 * math.cos(CORNER_ANGLE),
                                                                       10 + 6.5 * math.sin(CORNER_ANGLE))],
                                   2.0, ("too_close", 0.5)),
    "circle in hole 0.5 short of wall": (lambda: [frame(), circle(5, 55, 51.5)], 2.0, ("too_close", 0.5)),
    "circle across hole wall": (lambda: [frame(), circle(5, 55, 46)], 0.0, ("overlap", None)),
    "square across hole wall": (lambda: [frame(), rect(6, 6, 42, 50)], 0.0, ("overlap", None)),
    "square across outer wall": (lambda: [frame(), rect(6, 6, 35, 50)], 0.0, ("overlap", None)),
    "square inside the wall": (lambda: [frame(), rect(2, 2, 41.5, 50)], 0.0, ("overlap", None)),
    "duplicate placement": (lambda: [rect(10, 10, 20, 20), rect(10, 10, 20, 20)], 0.0, ("overlap", 5.0)),
}


@pytest.mark.parametrize("items,distance,want", FAULTY.values(), ids=FAULTY.keys())
def test_faulty_layouts_are_caught(items, distance, want):
    items = items()
    r = check_layout(items, BIN, distance=distance)
    assert not r.ok
    assert len(r.violations) == 1
    v = r.violations[0]
    assert v.kind == want[0]
    if want[1] is not None:
        assert v.amount == pytest.approx(want[1], abs=1e-6)
        # The same fault within a looser tolerance passes.
        assert check_layout(items, BIN, distance=distance, tol=want[1] * 1.01).ok


FINE = {
    "circle in hole": (lambda: [frame(), circle(5, 55, 55)], 2.0),
    "square in hole": (lambda: [frame(), rect(8, 8, 47, 47)], 2.0),
    "circle in hole exactly at distance": (lambda: [frame(), circle(5, 55, 52)], 2.0),
    "two items in one hole": (lambda: [frame(), circle(4, 50, 50), circle(4, 60, 60)], 1.0),
    "squares exactly at distance": (lambda: [rect(10, 10, 0, 0), rect(10, 10, 12, 0)], 2.0),
    "touching at distance 0": (lambda: [rect(10, 10, 0, 0), rect(10, 10, 10, 0), circle(5, 25, 5)], 0.0),
    "filling the bin": (lambda: [rect(100, 100, 0, 0)], 0.0),
    "container in a container's hole": (lambda: [frame(), small_frame(48, 48)], 1.0),
}


@pytest.mark.parametrize("items,distance", FINE.values(), ids=FINE.keys())
def test_sound_layouts_pass(items, distance):
    r = check_layout(items(), BIN, distance=distance)
    assert r.ok, r.summary()


def test_inflation_is_ignored():
    a, b = rect(10, 10, 0, 0), circle(5, 17, 5)
    base = check_layout([a, b], BIN, distance=2.0)
    a.infl, b.infl = 3.0, 3.0
    assert check_layout([a, b], BIN, distance=2.0) == base
    assert base.ok
    assert measure_pair(a, b) == pytest.approx((2.0, 0.0))
    assert outside_amount(b, 100, 100) == 0.0


def test_layout_forms_and_duplicates():
    a, b, c = rect(10, 10, 0, 0), rect(10, 10, 9.99, 0), circle(3, 50, 50)
    assert check_layout(([[a, b], [c]], []), BIN).count("overlap") == 1
    assert len(check_layout([[a], [b, c]], 100, 100).bins) == 2
    assert len(check_layout([a, c], BIN).bins) == 1
    assert check_layout(([], [a, b]), BIN).ok  # unplaced items are not checked
    dup = check_layout(([[a], [c]], [a]), BIN)
    assert [v.kind for v in dup.violations] == ["duplicate"]
    assert check_layout([[c], [c]], BIN).count("duplicate") == 1
    placer = NfpPlacer(100.0, 100.0)
    assert placer.trypack(Circle(5.0))
    assert check_layout(placer, BIN).ok and check_layout(placer.packed, BIN).ok


@pytest.mark.parametrize("call,exc", [
    (lambda one: check_layout("nope", BIN), TypeError),
    (lambda one: check_layout([1, 2], BIN), TypeError),
    (lambda one: check_layout(one, 5), TypeError),
    (lambda one: check_layout(one, BIN, distance=float("nan")), ValueError),
    (lambda one: check_layout(one, BIN, tol=-1.0), ValueError),
    (lambda one: check_layout(one, BIN, circle_rel_tol=-0.1), ValueError),
    (lambda one: check_layout(one, float("inf"), 10.0), ValueError),
])
def test_bad_arguments(call, exc):
    with pytest.raises(exc):
        call([rect(1, 1, 0, 0)])


def test_unusable_items_are_reported():
    bad = circle(2, float("nan"), 5)
    neg = Circle(1.0)
    neg.tx = float("inf")  # a negative radius is refused when the circle is built
    r = check_layout([bad, neg, rect(5, 5, 0, 0)], BIN)
    assert [(v.kind, v.items) for v in r.violations] == [("invalid", (0,)), ("invalid", (1,))]


def test_summary_names_the_faults():
    r = check_layout([rect(10, 10, 0, 0, sid="A"), rect(10, 10, 9.99, 0, sid="B")], BIN)
    text = r.summary()
    assert text.startswith("layout check: FAILED") and "'A'" in text and "'B'" in text and "overlap" in text
    assert check_layout([], BIN).summary().startswith("layout check: ok")


# --- random layouts against an oracle written here for rectangles and circles ---

def signed_gap(a, b):
    """Clear distance of two items, negative when the interiors overlap."""
    if isinstance(a, Circle) and isinstance(b, Circle):
        return math.hypot(a.tx - b.tx, a.ty - b.ty) - a.radius - b.radius
    if isinstance(a, Circle) or isinstance(b, Circle):
        c, p = (a, b) if isinstance(a, Circle) else (b, a)
        x0, y0, x1, y1 = p._box
        dx, dy = max(x0 - c.tx, 0.0, c.tx - x1), max(y0 - c.ty, 0.0, c.ty - y1)
        d = math.hypot(dx, dy)
        return d - c.radius if d > 0 else -1.0
    ax0, ay0, ax1, ay1 = a._box
    bx0, by0, bx1, by1 = b._box
    gx, gy = max(bx0 - ax1, ax0 - bx1), max(by0 - ay1, ay0 - by1)
    if gx < 0 and gy < 0:
        return max(gx, gy)
    return math.hypot(max(gx, 0.0), max(gy, 0.0))


def past_bin(item):
    if isinstance(item, Circle):
        r = item.radius
        x0, y0, x1, y1 = item.tx - r, item.ty - r, item.tx + r, item.ty + r
    else:
        x0, y0, x1, y1 = item._box
    return max(0.0, -x0, -y0, x1 - 100.0, y1 - 100.0)


@st.composite
def random_items(draw):
    items = []
    for k in range(draw(st.integers(1, 10))):
        x, y = draw(st.floats(-5, 100)), draw(st.floats(-5, 100))
        if draw(st.booleans()):
            items.append(circle(draw(st.floats(0.5, 15)), x, y, k))
        else:
            w, h, q = draw(st.floats(0.5, 30)), draw(st.floats(0.5, 30)), draw(st.integers(0, 3))
            p = rect(w, h, x, y, k, rot=q * math.pi / 2)
            # Quarter turns of [0, w] x [0, h] about the origin, then the move.
            bx = [(0, 0, w, h), (-h, 0, 0, w), (-w, -h, 0, 0), (0, -w, h, 0)][q]
            p._box = (bx[0] + x, bx[1] + y, bx[2] + x, bx[3] + y)
            items.append(p)
    return items


@settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.filter_too_much])
@given(random_items(), st.sampled_from([0.0, 1.0, 2.5]))
def test_random_layouts_match_oracle(items, distance):
    want = set()
    for i, it in enumerate(items):
        past = past_bin(it)
        assume(abs(past) > 1e-3 or past == 0.0)
        if past > 1e-6:
            want.add(("outside", (i,)))
        for j in range(i + 1, len(items)):
            g = signed_gap(it, items[j])
            assume(abs(g) > 1e-3 and abs(g - distance) > 1e-3)
            if g < 0:
                want.add(("overlap", (i, j)))
            elif g < distance:
                want.add(("too_close", (i, j)))
    r = check_layout(items, BIN, distance=distance)
    assert {(v.kind, v.items) for v in r.violations} == want
    for v in r.violations:
        if v.kind == "too_close":
            assert v.amount == pytest.approx(distance - signed_gap(items[v.items[0]], items[v.items[1]]), abs=1e-9)
        if v.kind == "outside":
            assert v.amount == pytest.approx(past_bin(items[v.items[0]]), abs=1e-9)


# --- real layouts ---

def job(seed, n):
    import random
    rng = random.Random(seed)
    items = []
    for k in range(n):
        t = rng.random()
        if t < 0.4:
            items.append(Circle(rng.uniform(2, 9), shape_id=k))
        elif t < 0.85:
            m, r = rng.randint(3, 8), rng.uniform(3, 10)
            items.append(Polygon([(r * math.cos(2 * math.pi * i / m), r * math.sin(2 * math.pi * i / m))
                                  for i in range(m)], shape_id=k))
        else:
            w, h = rng.uniform(14, 30), rng.uniform(14, 30)
            items.append(Polygon([(0, 0), (w, 0), (w, h), (0, h)], [[(2, 2), (w - 2, 2), (w - 2, h - 2), (2, h - 2)]],
                                 shape_id=k))
    return items


def pack(items, distance, strategy, placement="corner"):
    try:
        return FirstFit(items, Bin(80.0, 60.0), distance, strategy=strategy, placement=placement).do_pack()
    except NotImplementedError:
        pytest.skip(f"strategy {strategy!r} is not available yet")


@pytest.mark.parametrize("strategy,placement", [("nfp", "corner"), ("nfp", "center"), ("bl", "corner")])
@pytest.mark.parametrize("distance", [0.0, 1.5])
@settings(max_examples=8, deadline=None)
@given(seed=st.integers(0, 10**6), n=st.integers(2, 14))
def test_packed_layouts_pass_and_tampering_is_caught(strategy, placement, distance, seed, n):
    items = job(seed, n)
    bins, unplaced = pack(items, distance, strategy, placement)
    r = check_layout((bins, unplaced), Bin(80.0, 60.0), distance=distance, circle_rel_tol=CIRCLE_REL_TOL)
    assert r.ok, r.summary()
    assert sum(b.n_items for b in r.bins) + r.n_unplaced == n
    full = [b for b in bins if len(b) >= 2]
    if full:
        # Every item's local origin lies on or in its material, with material
        # next to it on the same side at equal rotations: stacking two items'
        # poses makes them overlap.
        a, b = full[0][0], full[0][-1]
        b.rotation = a.rotation
        b.set_position(a.tx, a.ty)
        bad = check_layout((bins, unplaced), Bin(80.0, 60.0), distance=distance, circle_rel_tol=CIRCLE_REL_TOL)
        assert (0, len(full[0]) - 1) in {v.items for v in bad.violations if v.kind == "overlap"}


def test_circle_tolerance_covers_the_two_largest_circles():
    items = [Circle(4.0), Circle(10.0), rect(50, 50, 0, 0), Circle(6.0)]
    assert circle_tolerance(items, distance=2.0) == pytest.approx(CIRCLE_REL_TOL * (11.0 + 7.0))


@pytest.mark.parametrize("distance", [0.0, 1.5])
@settings(max_examples=8, deadline=None)
@given(seed=st.integers(0, 10**6), n=st.integers(2, 20))
def test_bottom_left_layouts_pass(distance, seed, n):
    from Quarvo.placer_bl import BottomLeftPlacer

    items = job(seed, n)
    # Non-convex L shapes, which only bottom-left placement takes.
    items += [Polygon([(0, 0), (9, 0), (9, 3), (3, 3), (3, 8), (0, 8)], shape_id=-k) for k in range(1, 4)]
    # The driver's spacing: grow by half the distance while placing.
    for it in items:
        it.infl = it.total_inflation(distance / 2.0)
    placer = BottomLeftPlacer(80.0, 60.0)
    for it in sorted(items, key=lambda it: -it.area()):
        placer.trypack(it)
    for it in items:
        it.infl = 0.0
    r = check_layout(placer, Bin(80.0, 60.0), distance=distance, circle_rel_tol=CIRCLE_REL_TOL)
    assert r.ok, r.summary()


@given(st.floats(0.5, 1e4), st.floats(0.5, 1e4), st.floats(0.01, 1.0), st.floats(0, 1), st.floats(-1e4, 1e4),
       st.floats(-1e4, 1e4), st.sampled_from("rltb"))
def test_a_circle_inside_a_polygon_tangent_to_its_edge_overlaps(w, h, frac, along, x, y, side):
    # The closest gap between the curves is zero or of rounding size, and a
    # point of the circle may lie on the edge: never a reason to call the pair apart.
    r = frac * min(w, h) / 2
    cx = {"r": x + w - r, "l": x + r}.get(side, x + r + along * (w - 2 * r))
    cy = {"t": y + h - r, "b": y + r}.get(side, y + r + along * (h - 2 * r))
    clearance, depth = measure_pair(rect(w, h, x, y), circle(r, cx, cy))
    assert depth > 0 and clearance < 0, (clearance, depth)


@settings(max_examples=12, deadline=None)
@given(seed=st.integers(0, 10**6), scale=st.sampled_from([0.01, 1.0, 1e4]), distance=st.sampled_from([0.0, 0.5]),
       beyond=st.sampled_from([0.99, 1.01]))
def test_the_checker_draws_the_line_at_the_tolerance(seed, scale, distance, beyond):
    # The engine keeps its layouts within TOLERANCE; moved by a little more
    # than that toward a neighbour or out of the bin, a layout fails.
    import random
    rng = random.Random(seed)
    items = [Circle(scale * rng.uniform(2, 9), shape_id=i) for i in range(12)]
    b = Bin(60 * scale, 60 * scale)
    bins, _ = FirstFit(items, b, distance * scale, exact_clearance=True).do_pack()
    placed = bins[0]
    assert check_layout(placed, b, distance=distance * scale).ok
    # the closest pair: one circle moves toward the other along the line of centres
    pairs = [(measure_pair(p, q)[0], p, q) for i, p in enumerate(placed) for q in placed[i + 1:]]
    clear, p, q = min(pairs, key=lambda t: t[0])
    dx, dy = q.tx - p.tx, q.ty - p.ty
    step = (clear - distance * scale) + TOLERANCE * beyond
    q.set_position(q.tx - dx / math.hypot(dx, dy) * step, q.ty - dy / math.hypot(dx, dy) * step)
    assert check_layout([p, q], b, distance=distance * scale).ok == (beyond < 1)
    # and the leftmost one out of the bin's left side
    c = min(placed, key=lambda it: it.tx - it.radius)
    c.set_position(c.radius - TOLERANCE * beyond, c.ty)
    assert check_layout([c], b, distance=distance * scale).ok == (beyond < 1)


def test_the_ring_job_passes_at_the_default_tolerance():
    def ring(r_out, r_in, n=64, **kw):
        pts = lambda r: [(r * math.cos(2 * math.pi * k / n), r * math.sin(2 * math.pi * k / n)) for k in range(n)]
        return Polygon(pts(r_out), holes=[pts(r_in)], **kw)
    items = []
    for name, (od, t), q in (("NPS12", (323.8, 9.53), 12), ("NPS8", (219.1, 8.18), 20),
                             ("NPS4", (114.3, 6.02), 25), ("NPS2", (60.3, 3.91), 30)):
        for i in range(q):
            it = ring(od / 2, od / 2 - t, shape_id=f"{name}-{i + 1}")
            it.weight = math.pi * (od - t) * t * 7850e-6 * 12
            items.append(it)
    r = check_layout(FirstFit(items, Bin(2400, 2400), global_distance=5.0).do_pack(), Bin(2400, 2400), distance=5.0)
    assert r.ok, r.summary()
    assert r.tol == TOLERANCE == math.sqrt(2) * 1e-6
