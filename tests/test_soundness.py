"""Jobs the random-job validator (benchmarks/random_jobs.py) found packed
unsoundly, shrunk, one table per fault (unsound_jobs.json). Each must now pack
soundly as judged by the plain geometry of geometry_check: every item keeps its
inflation (half the distance, its own inflation and margin) from the bin's
sides and the sum of both from every other item, to the engine's tolerance."""
import json
import math
import os

import pytest

import geometry_check as gc
from Quarvo import Bin, Circle, FirstFit, Polygon
from Quarvo.check import CIRCLE_REL_TOL, ROUNDING_TOLERANCE, TOLERANCE, measure_pair
from Quarvo.placer_nfp import _beyond_tolerance, _nfp_region

with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "unsound_jobs.json")) as f:
    JOBS = json.load(f)


def build(rows):
    items = []
    for k, it in enumerate(rows):
        if it[0] == "c":
            item, extra = Circle(it[1], shape_id=k), it[2]
        else:
            item, extra = Polygon([tuple(p) for p in it[1]], holes=[[tuple(p) for p in h] for h in it[2]] or None,
                                  shape_id=k), it[3]
        for attr, v in extra.items():
            setattr(item, attr, v)
        items.append(item)
    return items


def faults(job):
    (w, h), kw = job["bin"], job["kw"]
    items = build(job["items"])
    bins, _ = FirstFit(items, Bin(w, h), **kw).do_pack()
    d = kw["global_distance"]
    scale = max([w, h or 0.0] + [abs(it.tx) + abs(it.ty) for b in bins for it in b])
    gap = 0.0 if kw.get("exact_clearance") else CIRCLE_REL_TOL
    return gc.inflated_faults(bins, w, h, lambda it: d / 2 + it.inflation + it.margin,
                              TOLERANCE + ROUNDING_TOLERANCE * scale, gap)


# The faults of the tables, as they were found:
# - snapped NFP not convex: a convex NFP snapped to the grid can turn back
#   where its closing point lands a unit off its first: clipped against its
#   edges' half-planes it held nothing, and the union's outline ran through it
#   (centre placement; center_incremental is the reproduction the fault was
#   reported with).
# - room not convex: all of an item's vertices in an L-shaped hole, an edge
#   across its corner.
# - inner-fit sliver: the inner-fit region of an item too large for a hole
#   came back as a sliver, whose places were taken without a look at the room.
# - false cavity: the union of the sum's pieces left a sliver inside the NFP of
#   two non-convex items, taken for a cavity the mover could sit in.
# - spike in a Minkowski NFP: the sum of two L shapes came with an edge running
#   back along the one before it, its tip deep in the NFP of a U placed before.
# - alike to six decimals: an NFP cached for one angle served another 2e-7
#   away, which turns an outline far from its origin well off it.
# - notch unswept: a star sliding left: its spike ran into an item under its
#   lower notch, outside the region between its wall-facing side and the wall.
# - reflex corner at a repeated point: a dart whose reflex corner was given
#   twice (or as two points 1e-300 apart) passed the convexity test, which
#   skips turns too small to judge, and was placed on convex NFPs (found by
#   fuzzing; mirrored, it sat 0.32 deep in a circle).
@pytest.mark.parametrize("job", [pytest.param(job, id=f"{fault}: {job.get('name', f'job{k}')}")
                                 for fault, jobs in JOBS.items() for k, job in enumerate(jobs)])
def test_jobs_once_packed_unsoundly_pack_soundly(job):
    assert faults(job) == []


def test_a_minkowski_nfp_is_anchored_on_its_outer_contour():
    # Two U shapes, one small and far from its origin: the sum came with a
    # sliver apart from it listed first, and the box rule anchored the NFP on
    # the sliver's box, 0.1 off. Every vertex of the NFP is a touching place.
    u = [(0.0, 0.0), (0.0, 0.16272123669641364), (0.050455722298519474, 0.16272123669641364),
         (0.050455722298519474, 0.050455722298519474), (0.15918385408781274, 0.050455722298519474),
         (0.15918385408781274, 0.16272123669641364), (0.2096395763863322, 0.16272123669641364), (0.2096395763863322, 0.0)]
    small = [(-1.4282310183551552, -6.165174897381518), (-1.4282310183551552, -6.131079544761775),
             (-1.4159881903779916, -6.131079544761775), (-1.4159881903779916, -6.152932069404354),
             (-1.385664017392512, -6.152932069404354), (-1.385664017392512, -6.131079544761775),
             (-1.3734211894153483, -6.131079544761775), (-1.3734211894153483, -6.165174897381518)]
    a, b = Polygon(small), Polygon(u)
    a.rotation = b.rotation = 2.8279353723998844
    a.set_position(0.3, 0.2)
    nfp = _nfp_region(a, b)
    assert len(nfp) == 1
    ref = b.reference_point_local()
    for x, y in nfp[0][::3]:
        b.set_position(x - ref[0], y - ref[1])
        assert abs(measure_pair(a, b)[0]) < 1e-9


@pytest.mark.parametrize("exact", [False, True])
def test_the_incremental_guard_draws_the_line_at_the_tolerance(exact):
    square = Polygon([(0, 0), (10, 0), (10, 10), (0, 10)])
    ring = Polygon(gc.regular_ngon(0, 0, 20, 32)[:-1], holes=[gc.regular_ngon(0, 0, 15, 32)[:-1]])
    ring.set_position(60, 60)
    mover = Circle(3.0)
    for depth, beyond in ((0.5, False), (2.0, True)):
        mover.set_position(10 + 3.0 - depth * TOLERANCE, 5)  # against the square's right side
        assert _beyond_tolerance([square, ring], mover, exact) is beyond
    mover.set_position(60, 60)  # in the ring's hole
    assert not _beyond_tolerance([square, ring], mover, exact)
    mover.set_position(60 + 17.5, 60)  # across the ring's wall
    assert _beyond_tolerance([square, ring], mover, exact)


# --- outlines far from their own origin, within the documented 1e12 range ---

def _far_items(rng, far):
    items = []
    for k in range(rng.randint(3, 10)):
        n, r, ph = rng.randint(3, 8), rng.uniform(2, 10), rng.uniform(0, 2 * math.pi)
        pts = [(r * math.cos(ph + 2 * math.pi * i / n), r * math.sin(ph + 2 * math.pi * i / n)) for i in range(n)]
        holes = [[(0.5 * x, 0.5 * y) for x, y in reversed(pts)]] if rng.random() < 0.2 else []
        dx, dy = far * rng.uniform(-1, 1), far * rng.uniform(-1, 1)
        if rng.random() < 0.7:
            pts = [(x + dx, y + dy) for x, y in pts]
            holes = [[(x + dx, y + dy) for x, y in h] for h in holes]
        it = Polygon(pts, holes or None, shape_id=k) if rng.random() < 0.85 else Circle(r, shape_id=k)
        it.mirrored = isinstance(it, Polygon) and rng.random() < 0.2
        items.append(it)
    return items


@pytest.mark.parametrize("far", [2e6, 1e9, 2.2e11, 9.9e11])
@pytest.mark.parametrize("kw", [dict(), dict(placement="center"), dict(strategy="bl"),
                                dict(rotations=[0.0, 1.0], mirror=True), dict(nonconvex=True, hole_fill="dense")],
                         ids=["corner", "center", "bl", "rotations", "nonconvex"])
def test_outlines_far_from_their_origin_pack_soundly(far, kw):
    # An outline 2.2e11 from its own origin once had a pentagon placed 3.6 deep in it.
    import random
    for seed in range(6):
        rng = random.Random(seed)
        items = _far_items(rng, far)
        bins, unplaced = FirstFit(items, Bin(60, 60), 1.0, **kw).do_pack()
        assert len(unplaced) < len(items)
        scale = max([60.0] + [abs(it.tx) + abs(it.ty) for b in bins for it in b])
        assert gc.inflated_faults(bins, 60, 60, lambda it: 0.5, TOLERANCE + ROUNDING_TOLERANCE * scale,
                                  CIRCLE_REL_TOL) == []


def test_an_outline_far_from_its_origin_keeps_its_translation_as_given():
    # The engine works on the outline carried to its origin; the host sees the
    # translation of the outline as given, through every setter.
    pts = [(3e11 + x, -2e11 + y) for x, y in [(0, 0), (4, 0), (4, 3), (0, 3)]]
    p = Polygon(pts)
    assert (p.tx, p.ty) == (0.0, 0.0) and p.outer[0] in pts
    assert p.transformed() == p.outer
    p.set_position(-3e11, 2e11)
    assert all(abs(x) < 10 and abs(y) < 10 for x, y in p.transformed())
    for rotation, mirrored in ((1.0, False), (1.0, True), (0.0, True)):
        p.rotation, p.mirrored = rotation, mirrored
        assert (p.tx, p.ty) == (-3e11, 2e11)
        c, s, f = math.cos(rotation), math.sin(rotation), -1.0 if mirrored else 1.0
        want = [(f * x * c - y * s + p.tx, f * x * s + y * c + p.ty) for x, y in p.outer]
        got = p.transformed()  # (a mirror image runs the other way round)
        assert max(min(math.hypot(u[0] - v[0], u[1] - v[1]) for v in got) for u in want) < 1e-14 * 4e11 * 4
        ref = p.reference_point_local()
        assert min(math.hypot(ref[0] + p.tx - x, ref[1] + p.ty - y) for x, y in got) < 1e-14 * 4e11 * 4


# --- near twins: a vertex given again a hair away ---

def _twinned(rng, s):
    n, ph = rng.randint(3, 9), rng.uniform(0, 2 * math.pi)
    rx, ry = s / 2, s / 2 * rng.uniform(0.4, 1)
    pts = [(rx * math.cos(ph - 2 * math.pi * k / n), ry * math.sin(ph - 2 * math.pi * k / n)) for k in range(n)]
    k, a, hair = rng.randrange(n), rng.uniform(0, 2 * math.pi), s * 10 ** rng.uniform(-12, -9)
    pts.insert(k + 1, (pts[k][0] + hair * math.cos(a), pts[k][1] + hair * math.sin(a)))
    return pts


@pytest.mark.parametrize("kw", [dict(strategy="bl"), dict(), dict(placement="center"), dict(incremental=True),
                                dict(exact_clearance=True, hole_fill="dense")],
                         ids=["bl", "corner", "center", "incremental", "exact"])
def test_near_twin_polygons_keep_the_full_distance(kw):
    # A twin 1e-12 to 1e-9 of the outline apart, in any direction, turned an
    # edge of the written offset round: bottom-left layouts fell up to 0.088
    # short of a 0.19 distance, and NFP layouts overlapped.
    import random
    for seed in range(25):
        rng = random.Random(seed)
        scale = 10 ** rng.uniform(-1, 4)
        items = []
        for k in range(rng.randint(4, 16)):
            try:
                it = Polygon(_twinned(rng, scale * rng.uniform(0.1, 0.4)), shape_id=k)
            except ValueError:  # the twin made the outline touch itself
                continue
            it.margin = rng.choice([0.0, scale * rng.uniform(0, 0.02)])
            items.append(it)
        d = scale * rng.choice([0.005, 0.02, 0.06])
        b = Bin(2 * scale, 2 * scale)
        bins, _ = FirstFit(items, b, d, **kw).do_pack()
        magnitude = max([2 * scale] + [abs(it.tx) + abs(it.ty) for bn in bins for it in bn])
        assert gc.inflated_faults(bins, b.width, b.height, lambda it: d / 2 + it.margin,
                                  TOLERANCE + ROUNDING_TOLERANCE * magnitude, CIRCLE_REL_TOL) == [], seed


# --- outlines a few grid units across, grown by far more than their size ---

@pytest.mark.parametrize("kw", [dict(), dict(placement="center", incremental=True), dict(strategy="bl"),
                                dict(nonconvex=True, hole_fill="dense")], ids=["corner", "center", "bl", "nonconvex"])
def test_small_outlines_keep_the_distance_and_the_edge_margin(kw):
    # Edges a few tenths of a grid unit to a few units long meet at angles
    # whose cross products fall under the written offset's 1e-12: it took
    # the end of one moved edge for their meeting point and cut the corner
    # (a 2e-4 outline fell 1.8e-5 short of a distance of 2.5e-3).
    import random
    for seed in range(30):
        rng = random.Random(seed)
        items = []
        for k in range(rng.randint(3, 12)):
            s = 10 ** rng.uniform(-4.6, -3.3)
            angles = sorted(rng.uniform(0, 2 * math.pi) for _ in range(rng.randint(5, 12)))
            pts = [(s / 2 * math.cos(a), s / 2 * math.sin(a)) for a in angles]
            try:
                it = Polygon(pts, shape_id=k)
            except ValueError:
                continue
            it.margin = rng.choice([0.0, rng.uniform(0, 2e-3)])
            items.append(it)
        margin = rng.choice([0.0, 1e-3, 4e-3])
        b, d = Bin(0.06, 0.07, margin=margin), rng.choice([0.0, 5e-4, 2.5e-3])
        try:
            bins, _ = FirstFit(items, b, d, **kw).do_pack()
        except ValueError as e:  # an outline below the grid
            assert "below the grid" in str(e)
            continue
        assert gc.inflated_faults(bins, b.width, b.height, lambda it: max(d / 2 + it.margin, 0.0),
                                  TOLERANCE + ROUNDING_TOLERANCE, CIRCLE_REL_TOL) == [], seed
        from Quarvo.check import check_layout
        assert check_layout(bins, b, distance=d).ok, seed
