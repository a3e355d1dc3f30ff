"""Items at rest: the checker's gravity check on hand-made layouts, stable
placement judged by the independent rest check (tests/rest_check.py), and
hosts judged by independent geometry."""
import math
import random

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import geometry_check
import rest_check
from Quarvo.check import REST_TOL, check_layout, hosts, rest_states
from Quarvo.first_fit_algorithm import FirstFit
from Quarvo.geometry import Bin, Circle, Pipe, Polygon
from Quarvo.placer_nfp import NfpPlacer

S3 = math.sqrt(3.0)


def disc(r, x, y):
    c = Circle(r)
    c.set_position(x, y)
    return c


def block(x0, y0, x1, y1):
    p = Polygon([(x0, y0), (x0, y1), (x1, y1), (x1, y0)])
    p.set_position(0.0, 0.0)
    return p


def pipe(od, wall, x, y):
    p = Pipe(od, wall)
    p.set_position(x, y)
    return p


def ngon(r, n=64, x=0.0, y=0.0):
    return [(x + r * math.cos(2 * math.pi * k / n), y + r * math.sin(2 * math.pi * k / n)) for k in range(n)]


def ring(r_out, r_in, x=0.0, y=0.0):
    p = Polygon(ngon(r_out), [ngon(r_in)])
    p.set_position(x, y)
    return p


def frame(x0, y0, x1, y1, wall):
    p = Polygon([(x0, y0), (x0, y1), (x1, y1), (x1, y0)],
                [[(x0 + wall, y0 + wall), (x1 - wall, y0 + wall), (x1 - wall, y1 - wall), (x0 + wall, y1 - wall)]])
    return p


HOLE = ngon(30, x=50, y=51)  # the hole of ring(45, 30, 50, 51)


def on_hole_wall(r, k, toward=None):
    """The centre of a disc of radius r touching edge k of HOLE from inside:
    at the edge's middle, or, with toward = (centre, radius) of a disc, where
    it touches that disc as well."""
    (ax, ay), (bx, by) = HOLE[k], HOLE[(k + 1) % len(HOLE)]
    length = math.hypot(bx - ax, by - ay)
    ux, uy = (bx - ax) / length, (by - ay) / length
    nx, ny = -uy, ux  # counter-clockwise hole: inward is to the left
    ox, oy = ax + r * nx, ay + r * ny  # the line of centres
    if toward is None:
        return ox + ux * length / 2, oy + uy * length / 2
    (cx, cy), rc = toward
    # |o + t u - c| = r + rc
    wx, wy = ox - cx, oy - cy
    b = wx * ux + wy * uy
    t = -b + math.sqrt(b * b - (wx * wx + wy * wy - (r + rc) ** 2))
    assert 0 < t < length
    return ox + t * ux, oy + t * uy


LOW = (50, 21 + 10 / math.cos(math.pi / 64))  # a disc of 10 on the hole's two lowest edges


# Each layout: its items (the first is the one judged), the bin width, the
# clear distance, and why the first is not at rest (None: it rests).
LAYOUTS = {
    "disc on the floor": (lambda: [disc(10, 50, 10)], 100, 0.0, None),
    "disc in mid-air": (lambda: [disc(10, 50, 40)], 100, 0.0, "no contact"),
    "disc on one disc": (lambda: [disc(10, 50, 30), disc(10, 50, 10)], 100, 0.0,
                         "balanced on one point right below its centre"),
    "disc on a disc's shoulder": (lambda: [disc(10, 60, 10 + 10 * S3), disc(10, 50, 10)], 100, 0.0,
                                  "one contact, not below its centre"),
    "disc between two walls": (lambda: [disc(10, 10, 40)], 20, 0.0, "no contact below"),
    "disc in a valley": (lambda: [disc(10, 50, 10 + 10 * S3), disc(10, 40, 10), disc(10, 60, 10)], 100, 0.0, None),
    "disc between the wall and a disc": (lambda: [disc(10, 10, 20), disc(10, 10 + 10 * S3, 10)], 100, 0.0, None),
    "disc on a flat top": (lambda: [disc(10, 50, 30), block(20, 0, 80, 20)], 100, 0.0, None),
    "disc at the bottom of a ring's hole": (lambda: [disc(10, *LOW), ring(45, 30, 50, 51)], 100, 0.0, None),
    "disc up a ring's hole": (lambda: [disc(10, *on_hole_wall(10, 53)), ring(45, 30, 50, 51)], 100, 0.0,
                              "one contact, not below its centre"),
    "disc wedged in a ring's hole against a disc below": (
        lambda: [disc(10, *on_hole_wall(10, 58, (LOW, 10))), ring(45, 30, 50, 51), disc(10, *LOW)], 100, 0.0, None),
    "disc beside a disc in a ring's hole": (
        lambda: [disc(10, *on_hole_wall(10, 58, (LOW, 10))), ring(45, 30, 50, 51)], 100, 0.0,
        "one contact, not below its centre"),
    "disc at the bottom of a pipe's bore": (lambda: [disc(10, 50, 31), pipe(90, 15, 50, 51)], 100, 0.0, None),
    "disc up a pipe's bore": (lambda: [disc(10, 50 + 20 * S3 / 2, 41), pipe(90, 15, 50, 51)], 100, 0.0,
                              "one contact, not below its centre"),
    "disc wedged in a pipe's bore against a disc below": (
        lambda: [disc(10, 50 + 20 * S3 / 2, 41), pipe(90, 15, 50, 51), disc(10, 50, 31)], 100, 0.0, None),
    "disc on top of a pipe": (lambda: [disc(10, 50, 70), pipe(60, 10, 50, 30)], 100, 0.0,
                              "balanced on one point right below its centre"),
    "pipe held only by what lies in its bore": (lambda: [pipe(90, 15, 50, 51), disc(10, 50, 31)], 100, 0.0,
                                                "no contact"),
    "disc on the floor at its spacing": (lambda: [disc(10, 50, 11 + REST_TOL / 2)], 100, 2.0, None),
    "disc just past its spacing": (lambda: [disc(10, 50, 11 + REST_TOL * 1.5)], 100, 2.0, "no contact"),
    # once the spacing off the floor more than the distance asks: hanging
    "disc at twice its spacing": (lambda: [disc(10, 50, 12)], 100, 2.0, "no contact"),
    "disc against the wall at its spacing, on a disc": (
        lambda: [disc(10, 11 + REST_TOL / 2, 11 + 11 * S3), disc(10, 22 + REST_TOL / 2, 11)], 100, 2.0, None),
    "disc off the wall by twice its spacing, on a disc": (
        lambda: [disc(10, 12, 11 + 11 * S3), disc(10, 23, 11)], 100, 2.0, "one contact, not below its centre"),
    "discs apart by the distance": (lambda: [disc(10, 50, 11 + math.sqrt(22 ** 2 - 121)), disc(10, 39, 11),
                                             disc(10, 61, 11)], 100, 2.0, None),
    "block on the floor": (lambda: [block(40, 0, 60, 20)], 100, 0.0, None),
    "block on a post on one side": (lambda: [block(40, 20, 60, 40), block(38, 0, 45, 20)], 100, 0.0,
                                     "contacts below its centroid on one side only"),
    "block across a post": (lambda: [block(40, 20, 60, 40), block(45, 0, 55, 20)], 100, 0.0, None),
    "block hanging from a block": (lambda: [block(40, 20, 60, 40), block(30, 40, 70, 50)], 100, 0.0,
                                   "no contact below its centroid"),
    "block against the wall on a post": (lambda: [block(0, 20, 20, 40), block(15, 0, 25, 20)], 100, 0.0, None),
    "frame held only by what lies in it": (lambda: [frame(20, 20, 80, 80, 10), block(40, 30, 60, 40)], 100, 0.0,
                                           "no contact"),
    "block on a frame's hole floor": (lambda: [block(40, 30, 60, 40), frame(20, 20, 80, 80, 10)], 100, 0.0, None),
}


@pytest.mark.parametrize("make,width,distance,why", LAYOUTS.values(), ids=LAYOUTS.keys())
def test_gravity_on_hand_made_layouts(make, width, distance, why):
    items = make()
    # the layouts themselves are sound: only gravity is at stake
    assert check_layout(items, width, 100, distance=distance, tol=1e-5).ok
    report = check_layout(items, width, 100, distance=distance, gravity=True)
    floating = {v.items[0]: v.reason for v in report.violations if v.kind == "floating"}
    assert floating.get(0) == why
    assert (0 in dict(rest_check.floating(items, width, distance))) == (why is not None)
    if why is not None:
        assert f"item 0 (id 0) is not at rest: {why}" in report.summary()


def test_rest_states_give_the_items_holding_each_one_up():
    items = [disc(10, 40, 10), disc(10, 60, 10), disc(10, 50, 10 + 10 * S3), block(30, 10 + 10 * S3 + 10, 70, 40)]
    states = rest_states(items, Bin(100, 100))
    assert [s[0] for s in states] == [True, True, True, False]
    assert [s[2] for s in states] == [[], [], [0, 1], [2]]
    assert states[3][1] == "contacts below its centroid on one side only"


@pytest.mark.parametrize("bad,exc", [
    (dict(gravity=1), TypeError),
    (dict(gravity=True, contact_tol=-1.0), ValueError),
    (dict(gravity=True, contact_tol=float("nan")), ValueError),
])
def test_gravity_options_are_checked(bad, exc):
    with pytest.raises(exc):
        check_layout([disc(1, 5, 5)], 10, 10, **bad)


# ------------------------------------------------------------ stable placement


def _shape(kind, size, rnd):
    if kind == "disc":
        return Circle(size)
    if kind == "rect":
        return Polygon([(0, 0), (2 * size, 0), (2 * size, size * rnd.uniform(0.3, 1.0)), (0, size * 0.5)])
    if kind == "tri":
        return Polygon([(0, 0), (2 * size, 0), (size * rnd.uniform(0.2, 1.8), size * 1.5)])
    return Polygon(ngon(size * 1.6), [ngon(size * 1.6 * rnd.uniform(0.6, 0.85))])


def random_job(seed):
    rnd = random.Random(seed)
    kinds = rnd.choice([("disc",), ("disc", "ring"), ("disc", "rect", "tri"), ("rect", "tri", "ring")])
    items = []
    for _ in range(rnd.randint(4, 26)):
        it = _shape(rnd.choice(kinds), rnd.uniform(2, 12), rnd)
        it.weight = rnd.choice([0, 1, 2])
        if rnd.random() < 0.2:
            it.margin = rnd.uniform(0, 1)
        items.append(it)
    options = dict(placement=rnd.choice(["corner", "center"]), hole_fill=rnd.choice(["sampled", "dense"]),
                   exact_clearance=rnd.random() < 0.5, rotations=rnd.choice([None, [0.0], [0.0, 0.7, 2.0]]),
                   incremental=rnd.random() < 0.4, mirror=rnd.random() < 0.3)
    height = rnd.choice([rnd.uniform(40, 120), None])
    if height is None:
        options["placement"] = "corner"
    margin = rnd.choice([0.0, 0.0, 0.7, 3.0])  # the edge margin: items stand that far off the floor and walls
    return items, Bin(rnd.uniform(40, 120), height, margin=margin), rnd.choice([0.0, 0.5, 2.0]), options


@settings(max_examples=40, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(st.integers(0, 10 ** 6))
def test_stable_layouts_rest_by_the_independent_check(seed):
    items, b, distance, options = random_job(seed)
    pipes = all(isinstance(it, Circle) or len(it.holes) == 1 for it in items)
    bins, unplaced = FirstFit(items, b, distance, stable=True, **options).do_pack()
    if b.height is None and pipes:
        # a pile of pipes always has a valley on top (polygons at fixed angles
        # may find no flat top: then they stay out)
        assert not unplaced
    report = check_layout((bins, unplaced), b, distance=distance, gravity=True,
                          circle_rel_tol=0.0 if options["exact_clearance"] else 0.0013)
    assert report.ok, report.summary()
    for items_of_bin in bins:
        assert rest_check.floating(items_of_bin, b.width, distance, margin=b.margin) == []
        assert geometry_check.spaced_violations(items_of_bin, b.width, b.height,
                                                lambda it: distance / 2 + it.margin) == []


def test_without_stable_the_same_jobs_leave_items_off_rest():
    """The check above would pass trivially if nothing ever floated."""
    floating = 0
    for seed in range(40):
        items, b, distance, options = random_job(seed)
        bins, _ = FirstFit(items, b, distance, **options).do_pack()
        floating += sum(len(rest_check.floating(x, b.width, distance, margin=b.margin)) for x in bins)
    assert floating > 5


@pytest.mark.parametrize("placement", ["corner", "center"])
def test_circles_of_many_sizes_rest_in_the_probe_windows(placement):
    """Incremental unions search the free space of probe discs window by window
    once a bin has seen many kinds: those places rest too."""
    rnd = random.Random(7)
    items = [Circle(rnd.uniform(2, 9)) for _ in range(90)]
    b = Bin(80, 80)
    bins, _ = FirstFit(items, b, 1.0, incremental=True, stable=True, placement=placement).do_pack()
    assert check_layout(bins, b, distance=1.0, gravity=True, circle_rel_tol=0.0013).ok
    for x in bins:
        assert rest_check.floating(x, 80, 1.0) == []


def test_the_search_keeps_every_item_at_rest():
    rnd = random.Random(4)
    items = [Circle(rnd.uniform(3, 9)) for _ in range(14)] + [Polygon(ngon(14), [ngon(11)]) for _ in range(2)]
    bins, unplaced = FirstFit(items, Bin(60, None), 1.0, stable=True, iterations=25, seed=3).do_pack()
    assert not unplaced
    assert check_layout((bins, unplaced), Bin(60, None), distance=1.0, gravity=True, circle_rel_tol=0.0013).ok
    assert rest_check.floating(bins[0], 60, 1.0) == []


def test_a_placer_at_rest_and_the_options_that_refuse_it():
    p = NfpPlacer(100, 100, stable=True)
    assert p.stable is True
    for r in (10, 10, 10, 6):
        assert p.trypack(Circle(r))
    assert rest_check.floating(p.packed, 100) == []
    with pytest.raises(TypeError, match="stable"):
        NfpPlacer(100, 100, stable="yes")
    with pytest.raises(ValueError, match="stable=True needs strategy='nfp'"):
        FirstFit([Circle(1)], Bin(10, 10), strategy="bl", stable=True).do_pack()
    c = Circle(1)
    with pytest.raises(ValueError, match="stable=True cannot go with compress=True"):
        FirstFit([c], Bin(10, None), stable=True, compress=True, iterations=5).do_pack()
    assert c.infl == 0.0


def test_centre_placement_at_rest_starts_on_the_middle_of_the_floor():
    p = NfpPlacer(100, 100, placement="center", stable=True)
    c = Circle(10)
    assert p.trypack(c)
    assert (c.tx, c.ty) == (50, 10)


# -------------------------------------------------------------------- hosts


def independent_hosts(items):
    """Per item, the item whose hole holds it, by plain geometry: of the holes
    around a point of its material, the smallest."""
    bodies = [rest_check.Body(it, 0.0) for it in items]
    out = []
    for k, b in enumerate(bodies):
        around = [(math.pi * c.bore ** 2 if h is rest_check.BORE else abs(rest_check._area_centroid(h)[0]), j)
                  for j, c in enumerate(bodies) if j != k for h in [c.hole_holding(b)] if h is not None]
        out.append(items[min(around)[1]] if around else None)
    return out


def random_pipe_job(seed):
    """Pipes that nest (and a few solid bars and discs), heavier first, as
    strips or bins, with a distance."""
    rnd = random.Random(seed)
    items = []
    for _ in range(rnd.randint(3, 30)):
        od = rnd.uniform(10, 120)
        it = Pipe(od, od / 2 if rnd.random() < 0.1 else od * rnd.uniform(0.04, 0.2)) if rnd.random() < 0.8 \
            else Circle(rnd.uniform(3, 20))
        items.append(it)
    height = rnd.choice([rnd.uniform(150, 300), None])
    options = dict(hole_fill=rnd.choice(["sampled", "dense"]), exact_clearance=rnd.random() < 0.5,
                   placement="corner" if height is None else rnd.choice(["corner", "center"]))
    return items, Bin(rnd.uniform(150, 400), height), rnd.choice([0.0, 1.0, 3.0]), options


@settings(max_examples=25, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(st.integers(0, 10 ** 6))
def test_pipes_at_rest_by_the_independent_check_and_their_hosts(seed):
    items, b, distance, options = random_pipe_job(seed)
    for it in items:
        it.weight = it.mass
    bins, unplaced = FirstFit(items, b, distance, stable=True, **options).do_pack()
    if b.height is None:
        assert not unplaced  # a pile of pipes always has a valley on top
    report = check_layout((bins, unplaced), b, distance=distance, gravity=True,
                          circle_rel_tol=0.0 if options["exact_clearance"] else 0.0013)
    assert report.ok, report.summary()
    for items_of_bin in bins:
        assert rest_check.floating(items_of_bin, b.width, distance) == []
        assert [id(h) if h else None for h in hosts(items_of_bin)] == \
            [id(h) if h else None for h in independent_hosts(items_of_bin)]


@settings(max_examples=25, deadline=None)
@given(st.integers(0, 10 ** 6))
def test_hosts_are_the_items_whose_holes_hold_them(seed):
    rnd = random.Random(seed)
    sizes = sorted((rnd.uniform(8, 40) for _ in range(rnd.randint(2, 8))), reverse=True)
    items = [Polygon(ngon(r), [ngon(r * rnd.uniform(0.75, 0.9))]) for r in sizes]
    items += [Circle(rnd.uniform(2, 8)) for _ in range(rnd.randint(3, 15))]
    for k, it in enumerate(items):
        it.weight = len(items) - k
    bins, _ = FirstFit(items, Bin(150, 150), rnd.choice([0.0, 1.0]), rotations=[0], hole_fill="dense",
                       stable=rnd.random() < 0.5).do_pack()
    for b in bins:
        assert [id(h) if h else None for h in hosts(b)] == [id(h) if h else None for h in independent_hosts(b)]


@pytest.mark.parametrize("placement", ["corner", "center"])
@pytest.mark.parametrize("seed", [0, 1])
def test_a_stable_pipe_order_lies_truly_on_its_supports(placement, seed):
    """An order of catalogue pipes in a 2400 x 2400 section, as the command line
    packs it: no pipe stands off the floor or a wall by more than its spacing
    (a pipe 2 mm above the floor leaning on one neighbour once passed), and
    every pipe rests by the independent check of the strict rule."""
    from Quarvo import pipes as catalogue
    rnd = random.Random(seed)
    sizes = rnd.sample(["NPS 2", "NPS 4", "NPS 6", "NPS 8", "NPS 12", "NPS 16", "NPS 20", "NPS 24"], 5)
    items = [catalogue.standard(rnd.choice(sizes), "STD", length=12, shape_id=k) for k in range(94)]
    b, distance = Bin(2400, 2400), 5.0
    bins, unplaced = FirstFit(items, b, distance, placement=placement, stable=True, hole_fill="dense",
                              exact_clearance=True).do_pack()
    assert check_layout((bins, unplaced), b, distance=distance, gravity=True).ok
    spacing = distance / 2
    for items_of_bin in bins:
        assert rest_check.floating(items_of_bin, b.width, distance) == []
        for it in items_of_bin:
            for gap in (it.ty - it.radius, it.tx - it.radius, b.width - it.tx - it.radius):
                assert not spacing + REST_TOL < gap <= 2 * spacing + REST_TOL, (it.shape_id, gap)
