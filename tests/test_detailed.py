"""nonconvex=True on detailed outlines (hundreds of vertices, arcs cut into chords, collinear points, bolt
holes), judged on the true outlines by the plain-Python geometry of geometry_check."""
import math
import random

from hypothesis import HealthCheck, assume, given, settings
from hypothesis import strategies as st

import Quarvo.placer_nfp as pn
from geometry_check import (bbox, depth_into, in_ring, point_segment_distance, signed_area, simple_layout_violations,
                            true_rings)
from Quarvo import Bin, FirstFit, Polygon
from Quarvo.check import check_layout


def blob(rng, n, size, grid):
    """A smooth outline with bays: a few random harmonics of the radius, snapped to `grid`."""
    harm = [(k, rng.uniform(0.05, 0.3) / k ** 0.5, rng.uniform(0, 2 * math.pi)) for k in range(2, 6)]
    pts = []
    for i in range(n):
        th = 2 * math.pi * i / n
        r = max(0.35, 1.0 + sum(a * math.cos(k * th + ph) for k, a, ph in harm))
        p = (round(size * r * math.cos(th) / grid) * grid, round(size * r * math.sin(th) / grid) * grid)
        if not pts or p != pts[-1]:
            pts.append(p)
    return pts


def arc(c, r, a0, a1, chords):
    return [(c[0] + r * math.cos(a0 + (a1 - a0) * k / chords), c[1] + r * math.sin(a0 + (a1 - a0) * k / chords))
            for k in range(chords + 1)]


def plate(rng, w, h, notch, holes, chords=12):
    """A plate as CAD gives it: corners rounded by arcs of chords, long edges cut into collinear pieces, a
    rectangular notch (an inner corner) and round bolt holes."""
    r = min(w, h) * 0.12
    q = math.pi / 2
    outer = [(r + (w - 2 * r) * k / 12, 0.0) for k in range(12)]  # collinear points along the bottom
    outer += arc((w - r, r), r, -q, 0, chords)
    if notch:
        nw, nh = w * 0.35, h * 0.4
        outer += [(w, h - nh), (w - nw, h - nh), (w - nw, h)]
    else:
        outer += arc((w - r, h - r), r, 0, q, chords)
    outer += arc((r, h - r), r, q, 2 * q, chords) + arc((r, r), r, 2 * q, 3 * q, chords)
    ring = []
    for p in outer:
        if not ring or math.dist(p, ring[-1]) > 1e-9:
            ring.append(p)
    rh = min(w, h) * rng.uniform(0.08, 0.14)
    spots = [(w * 0.2, h * 0.25), (w * 0.2, h * 0.75), (w * 0.55, h * 0.25)][:holes]
    return ring, [arc(s, rh, 0, 2 * math.pi, 24)[:-1] for s in spots]


@st.composite
def kinds(draw):
    rng = random.Random(draw(st.integers(0, 10 ** 9)))
    out = []
    for _ in range(draw(st.integers(2, 5))):
        k = rng.random()
        if k < 0.45:
            pts = blob(rng, rng.randint(80, 240), rng.uniform(8, 22), rng.choice([1e-3, 0.25, 1.0]))
            out.append((pts, []))
        elif k < 0.85:
            out.append(plate(rng, rng.uniform(25, 60), rng.uniform(15, 40), rng.random() < 0.5, rng.randint(0, 3),
                             rng.randint(8, 16)))
        else:  # small enough for the bolt holes
            out.append((blob(rng, rng.randint(20, 40), rng.uniform(1.0, 2.0), 1e-3), []))
    return out


def build(kinds_, copies, rng):
    items = []
    for outer, holes in kinds_:
        try:
            Polygon(outer, holes=holes or None)
        except ValueError:
            continue  # snapping made the outline touch itself
        for _ in range(copies):
            p = Polygon(outer, holes=holes or None)
            p.weight = rng.choice([0.0, 1.0])
            items.append(p)
    return items


ROTATIONS = [None, [0.0, math.pi], [0.3, 2.0], [0.0]]


@settings(max_examples=10, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(kinds_=kinds(), copies=st.integers(2, 4), seed=st.integers(0, 1000), strip=st.booleans(),
       distance=st.sampled_from([0.0, 0.8]), rots=st.sampled_from(ROTATIONS), threads=st.sampled_from([1, 2]))
def test_detailed_layouts_are_sound_on_the_true_outlines(kinds_, copies, seed, strip, distance, rots, threads):
    rng = random.Random(seed)
    items = build(kinds_, copies, rng)
    assume(items)
    b = Bin(150.0, None) if strip else Bin(150.0, 110.0)
    bins, unplaced = FirstFit(items, b, distance, rotations=rots, nonconvex=True, threads=threads).do_pack()
    for placed in bins:
        assert simple_layout_violations(placed, b.width, b.height, distance) == []
    assert check_layout((bins, unplaced), b, distance=distance).ok
    if strip:
        assert not unplaced


def nfp_inside(p, region):
    """Inside an outer contour of the region more often than inside its holes."""
    count = 0
    for c in region:
        if in_ring(p, c):
            count += 1 if signed_area(c) < 0 else -1
    return count > 0


@settings(max_examples=8, deadline=None)
@given(kinds_=kinds(), rot_a=st.sampled_from([0.0, 1.1, math.pi]), rot_b=st.sampled_from([0.0, math.pi / 2, 2.5]),
       seed=st.integers(0, 1000))
def test_detailed_nfp_holds_exactly_the_overlapping_positions(kinds_, rot_a, rot_b, seed):
    (oa, ha), (ob, _) = kinds_[0], kinds_[1]
    try:
        a, b = Polygon(oa, holes=ha or None), Polygon(ob)
    except ValueError:
        assume(False)
    a.rotation, b.rotation = rot_a, rot_b
    region = pn._nfp_region(a, b)
    ref = pn.top_right(b.rotated_shape())
    box = bbox([p for c in region for p in c])
    size = max(box[2] - box[0], box[3] - box[1])
    rng = random.Random(seed)
    decided = 0
    for _ in range(50):
        p = (rng.uniform(box[0] - 2, box[2] + 2), rng.uniform(box[1] - 2, box[3] + 2))
        near = min(point_segment_distance(p, c[i], c[i + 1]) for c in region for i in range(len(c) - 1))
        if near < 0.01 * size:
            continue  # shallow contacts are for the checker's exact depth, not for sampled edges
        b.set_position(p[0] - ref[0], p[1] - ref[1])
        (wa, wha), (wb, _) = true_rings(a), true_rings(b)
        if any(all(in_ring(q, h) for q in wb) for h in wha):
            continue  # in a hole of the container: the hole's inner-fit region says so, not the NFP
        ba, bb = bbox(wa), bbox(wb)
        apart = ba[0] > bb[2] or bb[0] > ba[2] or ba[1] > bb[3] or bb[1] > ba[3]
        overlap = not apart and (depth_into([wa], wb, [], enough=1e-9) > 1e-9 or depth_into([wb], wa, wha, enough=1e-9) > 1e-9)
        assert nfp_inside(p, region) == overlap, (p, near)
        decided += 1
    assert decided > 12


def test_small_parts_go_into_bolt_holes():
    rng = random.Random(3)
    outer, holes = plate(rng, 60, 40, False, 3)
    small = blob(rng, 40, 1.2, 1e-3)
    items = [Polygon(outer, holes=holes) for _ in range(2)] + [Polygon(small) for _ in range(8)]
    for it in items[:2]:
        it.weight = 2.0
    b = Bin(61.0, None)  # no room beside the plates
    bins, unplaced = FirstFit(items, b, 0.5, nonconvex=True).do_pack()
    assert not unplaced and simple_layout_violations(bins[0], b.width, None, 0.5) == []
    plates = [true_rings(it) for it in items[:2]]
    nested = sum(any(all(in_ring(q, h) for q in true_rings(it)[0]) for _, hs in plates for h in hs) for it in items[2:])
    assert nested >= 6  # three holes per plate, each takes one
