"""The checker judges every promise of a layout: crafted layouts that break one
promise each, tangent inclusions of discs, rings and polygons, and random
packed layouts that pass until one promise is broken."""
import math
import random

import pytest
from hypothesis import assume, given, settings
from hypothesis import strategies as st

from Quarvo.check import REST_TOL, TOLERANCE, area_over_perimeter, check_layout
from Quarvo.first_fit_algorithm import FirstFit
from Quarvo.geometry import Bin, Circle, Pipe, Polygon

BIN = Bin(100.0, 100.0)


def at(item, x, y, rot=0.0):
    item.rotation = rot
    item.set_position(x, y)
    return item


def square(s, x, y, sid="sq"):
    return at(Polygon([(0, 0), (s, 0), (s, s), (0, s)], shape_id=sid), x, y)


def ngon(r, n, phase=0.0):
    return [(r * math.cos(phase + 2 * math.pi * k / n), r * math.sin(phase + 2 * math.pi * k / n)) for k in range(n)]


def frame(x, y, sid="frame"):
    """30 x 30 with a 20 x 20 hole: the hole is [x + 5, x + 25] x [y + 5, y + 25]."""
    return at(Polygon([(0, 0), (30, 0), (30, 30), (0, 30)], [[(5, 5), (25, 5), (25, 25), (5, 25)]], shape_id=sid),
              x, y)


def disc(r, x, y, sid="disc"):
    return at(Circle(r, shape_id=sid), x, y)


def pipe(od, wall, x, y, sid="pipe", **kw):
    return at(Pipe(od, wall, shape_id=sid, **kw), x, y)


# (items, bin, check_layout keywords, the one kind expected, the items it names)
BROKEN = {
    "overlap": (lambda: [square(10, 0, 0), square(10, 9.9, 0, "b")], BIN, {}, "overlap", (0, 1)),
    "outside": (lambda: [square(10, 90.1, 0)], BIN, {}, "outside", (0,)),
    "too close": (lambda: [square(10, 0, 0), square(10, 11, 0, "b")], BIN, dict(distance=2.0), "too_close", (0, 1)),
    "near the edge": (lambda: [square(10, 0.5, 50)], Bin(100, 100, margin=1.0), {}, "near_edge", (0,)),
    "hanging over the floor": (lambda: [disc(5, 50, 5.5)], BIN, dict(gravity=True), "floating", (0,)),
    "hanging twice its spacing over the floor": (lambda: [disc(5, 50, 7)], BIN, dict(gravity=True, distance=2.0),
                                                 "floating", (0,)),
    "overloaded": (lambda: [pipe(219.1, 8.18, 150, 150, "a", length=12), pipe(219.1, 8.18, 450, 150, "b", length=12)],
                   Bin(1000, 1000, max_load=1000), {}, "overloaded", (0, 1)),
    "a pipe longer than the bin": (lambda: [pipe(114.3, 6.02, 100, 100, length=12)], Bin(1000, 1000, length=5898),
                                   {}, "too_long", (0,)),
    "too close to a hole's wall": (lambda: [frame(40, 40), disc(5, 55, 51.5)], BIN, dict(distance=2.0),
                                   "too_close", (0, 1)),
    "across a hole's wall": (lambda: [frame(40, 40), disc(3, 45, 55)], BIN, {}, "overlap", (0, 1)),
    "too close to a bore's wall": (lambda: [pipe(60, 5, 50, 50), disc(10, 50, 64)], BIN, dict(distance=2.0),
                                   "too_close", (0, 1)),
    "across a bore's wall": (lambda: [pipe(60, 5, 50, 50), disc(4, 50, 75)], BIN, {}, "overlap", (0, 1)),
    "a polygon in a bore, too close": (lambda: [pipe(60, 5, 50, 50), square(10, 45, 63, "p")], BIN,
                                       dict(distance=2.0), "too_close", (0, 1)),
    # wholly inside a solid item, touching its edge from inside
    "a disc in a square": (lambda: [square(9, 0, 0), disc(2.5, 6.5, 4)], BIN, {}, "overlap", (0, 1)),
    "a disc in a disc": (lambda: [disc(10, 50, 50), disc(3, 57, 50, "in")], BIN, {}, "overlap", (0, 1)),
    "a pipe in a square": (lambda: [square(50, 0, 0), pipe(20, 2, 40, 25)], BIN, {}, "overlap", (0, 1)),
    "a ring polygon in a square": (lambda: [square(20, 0, 0), at(Polygon(ngon(5, 16), [ngon(3, 16)]), 15, 10)], BIN, {},
                                   "overlap", (0, 1)),
    "a square in a square": (lambda: [square(20, 0, 0), square(5, 15, 3, "in")], BIN, {}, "overlap", (0, 1)),
    "a triangle in a disc": (lambda: [disc(10, 50, 50), at(Polygon(ngon(10, 3)), 50, 50, 0.3)], BIN, {},
                             "overlap", (0, 1)),
    "a disc in a frame's wall": (lambda: [frame(40, 40), disc(2.5, 42.5, 55)], BIN, {}, "overlap", (0, 1)),
    "a disc in a pipe's wall": (lambda: [pipe(60, 20, 50, 50), disc(5, 75, 50)], BIN, {}, "overlap", (0, 1)),
    # below the grid the tolerance would cover the whole item
    "sub-grid discs overlapping": (lambda: [disc(4e-7, 5e-7, 5e-7), disc(4e-7, 9e-7, 9e-7, "b")], Bin(2e-6, 2e-6),
                                   {}, "overlap", (0, 1)),
    "a sub-grid disc outside": (lambda: [disc(4e-7, 2e-7, 1e-6)], Bin(2e-6, 2e-6), {}, "outside", (0,)),
}


@pytest.mark.parametrize("items,bin_,kw,kind,named", BROKEN.values(), ids=BROKEN.keys())
def test_a_layout_breaking_one_promise_fails_naming_it(items, bin_, kw, kind, named):
    items = items()
    r = check_layout(items, bin_, **kw)
    assert [(v.kind, v.items) for v in r.violations] == [(kind, named)], r.summary()
    text = str(r.violations[0])
    assert all(repr(items[k].shape_id) in text for k in named)
    # the figure: how far the promise is broken, and a text that says it
    assert r.violations[0].amount > 0 and f"{r.violations[0].amount:.6g}" in text or kind in ("floating", "overlap")


def test_load_and_length_figures():
    a, b = pipe(219.1, 8.18, 150, 150, "a", length=12), pipe(60.3, 3.91, 450, 150, "b", length=6.5)
    bin_ = Bin(1000, 1000, max_load=500, length=6000)
    r = check_layout([a, b, disc(10, 600, 600)], bin_)
    over, = [v for v in r.violations if v.kind == "overloaded"]
    assert over.items == (0, 1) and over.value == pytest.approx(a.mass + b.mass)
    assert over.amount == pytest.approx(a.mass + b.mass - 500) and over.limit == 500
    assert [(v.items, v.value, v.amount) for v in r.violations if v.kind == "too_long"] == [
        ((0,), 12.0, pytest.approx(6000.0)), ((1,), 6.5, pytest.approx(500.0))]
    assert "max_load 500 kg, length 6000 mm" in r.summary()
    # at the limits exactly: sound
    assert check_layout([a, b], Bin(1000, 1000, max_load=a.mass + b.mass, length=12000)).ok
    # one Bin per bin of the layout
    per_bin = check_layout([[a], [b]], [Bin(1000, 1000, length=12000), Bin(1000, 1000, max_load=1.0)])
    assert [(v.bin, v.kind) for v in per_bin.violations] == [(1, "overloaded")]
    with pytest.raises(ValueError, match="2 bins given for a layout of 1 bins"):
        check_layout([a], [bin_, bin_])


@pytest.mark.parametrize("inner", ["disc", "pipe", "ring", "polygon"])
@pytest.mark.parametrize("outer", ["square", "disc", "hexagon"])
@settings(max_examples=40, deadline=None)
@given(size=st.floats(0.05, 0.95), where=st.floats(0, 2 * math.pi), turn=st.floats(0, 2 * math.pi),
       scale=st.sampled_from([1e-3, 1.0, 1e4]))
def test_an_item_wholly_inside_a_solid_item_and_touching_it_overlaps(inner, outer, size, where, turn, scale):
    # The inner item's outline touches the outer one's from inside at the
    # point in direction `where` from the centre (by construction to rounding).
    R = 9.0 * scale
    c = 10.0 * scale
    r = size * R / 2
    if inner == "disc":
        item, reach = Circle(r), lambda u: r
    elif inner == "pipe":
        item, reach = Pipe(2 * r, r * 0.3), lambda u: r
    else:
        n = 5 if inner == "polygon" else 12
        pts = ngon(r, n, turn)
        item = Polygon(pts, [ngon(r * 0.6, n, turn)] if inner == "ring" else None)
        reach = lambda u: max(px * u[0] + py * u[1] for px, py in pts)
    u = (math.cos(where), math.sin(where))
    if outer == "disc":
        host = disc(R, c, c, "host")
        if inner in ("ring", "polygon"):
            u = (math.cos(turn), math.sin(turn))  # towards a vertex, on the circle about the item
        d = R - r
    else:
        n = 4 if outer == "square" else 6
        corners = ngon(R, n, math.pi / n)
        host = at(Polygon(corners, shape_id="host"), c, c)
        # slide along the normal of the edge facing `where` until it touches
        k = int(((where - math.pi / n) % (2 * math.pi)) // (2 * math.pi / n))
        nrm = (math.cos(2 * math.pi * (k + 0.5) / n + math.pi / n), math.sin(2 * math.pi * (k + 0.5) / n + math.pi / n))
        u = nrm
        d = R * math.cos(math.pi / n) - reach(u)
    at(item, c + d * u[0], c + d * u[1])
    r_ = check_layout([host, item], 100 * scale, 100 * scale)
    assert r_.count("overlap") == 1, r_.summary()


def test_the_issue_s_discs_in_a_square():
    rng = random.Random(34)
    passed = 0
    for _ in range(2000):
        r = rng.uniform(0.1, 4)
        passed += check_layout([square(9, 0, 0), disc(r, 9 - r, rng.uniform(r, 9 - r))], BIN).ok
    assert passed == 0


def test_area_over_perimeter():
    assert area_over_perimeter(disc(4, 10, 10)) == pytest.approx(2.0)
    assert area_over_perimeter(pipe(20, 3, 50, 50)) == pytest.approx(1.5)
    assert area_over_perimeter(square(6, 0, 0)) == pytest.approx(1.5)
    assert area_over_perimeter(frame(0, 0)) == pytest.approx((900 - 400) / 200)


# --- random packed layouts: sound until one promise is broken ---

def items_of(rng, n):
    items = []
    for k in range(n):
        t = rng.random()
        if t < 0.35:
            it = Pipe(rng.uniform(40, 120), rng.uniform(3, 10), length=rng.choice([6.0, 12.0]), shape_id=f"p{k}")
        elif t < 0.6:
            it = Circle(rng.uniform(10, 40), shape_id=f"c{k}")
            it.mass = rng.uniform(0, 50)
        else:
            it = Polygon(ngon(rng.uniform(15, 45), rng.randint(3, 8), rng.uniform(0, 1)), shape_id=f"g{k}")
            it.mass = rng.uniform(0, 50)
        items.append(it)
    return items


def material_point(it):
    if isinstance(it, Pipe):
        return it.tx + (it.radius + it.bore) / 2, it.ty
    return it.tx, it.ty


def break_one(promise, rng, bins, bin_, distance):
    """Break one promise of the sound layout; the Bin to judge it against."""
    placed = [it for b in bins for it in b]
    it = rng.choice(placed)
    if promise == "overloaded":
        load = max(sum(x.mass for x in b) for b in bins)
        return Bin(bin_.width, bin_.height, margin=bin_.margin, max_load=load * 0.99, length=bin_.length)
    if promise == "too_long":
        longest = max(x.length for x in placed if isinstance(x, Pipe))
        return Bin(bin_.width, bin_.height, margin=bin_.margin, max_load=bin_.max_load, length=longest * 1000 - 1)
    if promise == "outside":
        x0, y0, x1, y1 = it.bounding_box()
        it.translate(bin_.width - x1 + 0.01, 0.0)
    elif promise == "near_edge":
        x0, y0, x1, y1 = it.bounding_box()
        it.translate(bin_.width - x1 - bin_.margin + 0.01, 0.0)
    elif promise == "overlap":
        other = rng.choice([x for x in placed if x is not it])
        # a point of its material onto one of the other's
        (x, y), (ox, oy) = material_point(it), material_point(other)
        it.translate(ox - x, oy - y)
    elif promise == "floating":
        # the top item lifted clear of whatever holds it up
        top = max(placed, key=lambda x: x.bounding_box()[3])
        top.translate(0.0, 2.0)
    return bin_


@pytest.mark.parametrize("promise", ["overlap", "outside", "near_edge", "floating", "overloaded", "too_long"])
@settings(max_examples=6, deadline=None)
@given(seed=st.integers(0, 10**6))
def test_random_layouts_pass_until_one_promise_is_broken(promise, seed):
    rng = random.Random(seed)
    distance = rng.choice([0.0, 2.0])
    margin = 3.0 if promise == "near_edge" else rng.choice([0.0, 3.0])
    bin_ = Bin(600.0, 500.0, margin=margin, max_load=2000.0, length=12000.0)
    items = items_of(rng, rng.randint(4, 14))
    bins, unplaced = FirstFit(items, bin_, distance, stable=True, exact_clearance=True).do_pack()
    placed = [it for b in bins for it in b]
    assume(len(placed) >= 2 and any(isinstance(it, Pipe) for it in placed))
    assume(max(it.bounding_box()[3] for it in placed) < bin_.height - margin - 2.0)
    kw = dict(distance=distance, gravity=True)
    before = check_layout((bins, unplaced), bin_, **kw)
    assert before.ok, before.summary()
    assert not any(v.kind for v in before.violations)
    judged = break_one(promise, rng, bins, bin_, distance)
    after = check_layout((bins, unplaced), judged, **kw)
    assert after.count(promise) >= 1, after.summary()
    if promise in ("overloaded", "too_long"):
        assert {v.kind for v in after.violations} == {promise}
