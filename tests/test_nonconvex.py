"""nonconvex=True: exact NFPs of non-convex pairs, cavities, holes of any shape."""
import math
import random

import pytest

import Quarvo.placer_nfp as pn
from Quarvo import Bin, Circle, FirstFit, Polygon
from Quarvo.check import CIRCLE_REL_TOL, check_layout, measure_pair

L = [(0, 0), (6, 0), (6, 2), (2, 2), (2, 7), (0, 7)]
U = [(0, 0), (10, 0), (10, 10), (7, 10), (7, 3), (3, 3), (3, 10), (0, 10)]
COMB = [(0, 0), (12, 0), (12, 6), (10, 6), (10, 2), (8, 2), (8, 6), (6, 6), (6, 2), (4, 2), (4, 6), (2, 6),
        (2, 2), (0, 2)]
# a cavity whose mouth is narrower than the items it holds: their NFP has a hole
C = [(0, 0), (10, 0), (10, 10), (5.5, 10), (5.5, 8), (7, 8), (7, 3), (3, 3), (3, 8), (4.5, 8), (4.5, 10), (0, 10)]


def star(n=7, r0=2.0, r1=6.0):
    return [((r1 if k % 2 == 0 else r0) * math.cos(math.pi * k / n), (r1 if k % 2 == 0 else r0) * math.sin(math.pi * k / n))
            for k in range(2 * n)]


def random_star(rng, n):
    """A simple polygon, star-shaped about the origin."""
    angles = sorted(rng.uniform(0, 2 * math.pi) for _ in range(n))
    return [(r * math.cos(a), r * math.sin(a)) for a, r in zip(angles, (rng.uniform(1, 5) for _ in range(n)))]


def ring_with_square_hole():
    return Polygon([(0, 0), (12, 0), (12, 12), (0, 12)], [[(3, 3), (9, 3), (9, 9), (3, 9)]])


def inside(p, region):
    """Inside an outer contour of the region more often than inside its holes (winding by crossings)."""
    count = 0
    for c in region:
        hit = False
        for (x0, y0), (x1, y1) in zip(c, c[1:]):
            if (y0 > p[1]) != (y1 > p[1]) and p[0] < x0 + (p[1] - y0) * (x1 - x0) / (y1 - y0):
                hit = not hit
        if hit:
            area = sum(a[0] * b[1] - b[0] * a[1] for a, b in zip(c, c[1:]))
            count += 1 if area < 0 else -1
    return count > 0


def ref_point(item):
    return (0.0, 0.0) if isinstance(item, Circle) else pn.top_right(item.rotated_shape())


STATIONARY = [L, U, COMB, C, star(), "ring"]
MOVING = [lambda: Polygon([(0, 0), (3, 0), (3, 3), (0, 3)]), lambda: Polygon(L), lambda: Polygon(star(5, 1, 3)),
          lambda: Circle(1.5)]


@pytest.mark.parametrize("a", STATIONARY, ids=["L", "U", "comb", "C", "star", "ring"])
@pytest.mark.parametrize("make_b", MOVING, ids=["square", "L", "star", "circle"])
def test_nfp_interior_is_exactly_the_overlapping_positions(a, make_b):
    rng = random.Random(7)
    a = ring_with_square_hole() if a == "ring" else Polygon(a)
    b = make_b()
    a.rotation, b.rotation = 0.3, 1.1
    a.set_position(1.5, -2.0)
    region = pn._nfp_region(a, b)
    holes = [pn.hole_inner_fit(h, b) for h in a.transformed_holes()]
    ref = ref_point(b)
    xs = [p[0] for p in region[0]]
    ys = [p[1] for p in region[0]]
    decided = 0
    for _ in range(400):
        p = (rng.uniform(min(xs) - 1, max(xs) + 1), rng.uniform(min(ys) - 1, max(ys) + 1))
        b.set_position(p[0] - ref[0], p[1] - ref[1])
        clearance, depth = measure_pair(a, b)
        if abs(clearance) < 1e-6 and depth < 1e-6:
            continue  # touching: on the NFP's boundary
        overlap = depth > 1e-6
        circle_slack = isinstance(b, Circle) and -CIRCLE_REL_TOL * 1.5 < clearance < 0
        if circle_slack:
            continue  # between the circle and its 64-gon
        in_nfp = inside(p, region) and not any(inside(p, fit) for fit in holes)
        if isinstance(b, Circle) and a.is_container:
            assert in_nfp >= overlap, (p, clearance, depth)  # the written offset: mitred, not round
        else:
            assert in_nfp == overlap, (p, clearance, depth)
        decided += 1
    assert decided > 300


def cavity_layout(outline, nonconvex=True, **kw):
    cup, sq = Polygon(outline), Polygon([(0, 0), (3, 0), (3, 3), (0, 3)])
    p = pn.NfpPlacer(10, 30, rotations=[0.0], nonconvex=nonconvex, **kw)
    assert p.trypack(cup) and p.trypack(sq)
    return sq.bounding_box(), p


@pytest.mark.parametrize("outline", [U, C], ids=["open", "narrow mouth"])
@pytest.mark.parametrize("kw", [{}, {"incremental": True}, {"placement": "center", "threads": 2},
                                {"placement": "center", "incremental": True}])
def test_item_fitting_the_cavity_is_placed_there(outline, kw):
    box, p = cavity_layout(outline, **kw)
    ox, oy = p.packed[0].bounding_box()[:2]
    box = (box[0] - ox, box[1] - oy, box[2] - ox, box[3] - oy)
    assert 3 - 1e-6 <= box[0] and box[2] <= 7 + 1e-6 and 3 - 1e-6 <= box[1] and box[3] <= 10 + 1e-6
    assert check_layout(p, 10, 30).ok


def test_without_the_keyword_non_convex_items_are_refused():
    p = pn.NfpPlacer(10, 30)
    assert not p.trypack(Polygon(U))


def random_job(rng):
    items = []
    for _ in range(rng.randint(4, 12)):
        k = rng.randrange(6)
        if k == 0:
            items.append(Circle(rng.uniform(0.5, 3)))
        elif k == 1:
            items.append(Polygon(random_star(rng, rng.randint(4, 12))))
        elif k == 2:
            s = rng.uniform(0.3, 1.2)
            items.append(Polygon([(x * s, y * s) for x, y in rng.choice([L, U, COMB, C, star()])]))
        elif k == 3:
            w = rng.uniform(1, 6)
            items.append(Polygon([(0, 0), (w, 0), (w, rng.uniform(1, 6)), (0, 3)]))
        elif k == 4:
            s = rng.uniform(0.8, 1.6)
            hole = rng.choice([[(3, 3), (9, 3), (9, 9), (3, 9)], [(2, 2), (10, 2), (10, 4), (4, 4), (4, 10), (2, 10)]])
            items.append(Polygon([(0, 0), (12 * s, 0), (12 * s, 12 * s), (0, 12 * s)], [[(x * s, y * s) for x, y in hole]]))
        else:
            s = rng.uniform(0.5, 1.5)
            items.append(Polygon([(x * s, y * s) for x, y in U],))
        items[-1].weight = rng.random()
        items[-1].inflation = rng.choice([0.0, 0.0, rng.uniform(0, 0.3)])
    return items


@pytest.mark.parametrize("seed", range(12))
def test_random_non_convex_jobs_pass_the_checker(seed):
    rng = random.Random(seed)
    items = random_job(rng)
    b, d = Bin(rng.uniform(15, 30), rng.uniform(15, 30)), rng.choice([0.0, rng.uniform(0, 0.5)])
    kw = dict(rotations=rng.choice([None, [0.0], [rng.uniform(0, 6)], [0.0, math.pi]]),
              placement=rng.choice(["corner", "center"]), incremental=rng.random() < 0.3,
              threads=rng.choice([1, 2]))
    layout = FirstFit(items, b, d, nonconvex=True, **kw).do_pack()
    rep = check_layout(layout, b, distance=d, circle_rel_tol=CIRCLE_REL_TOL)
    assert rep.ok, rep.summary()
    assert not layout[1] or all(i.area() > b.width * b.height / 4 for i in layout[1])


def test_item_placed_in_a_non_convex_hole():
    cont = Polygon([(0, 0), (12, 0), (12, 12), (0, 12)], [[(2, 2), (10, 2), (10, 4), (4, 4), (4, 10), (2, 10)]])
    cont.infl = 0.2
    it = Polygon([(0, 0), (1.0, 0), (1.0, 5), (0, 5)])
    it.infl = 0.2
    p = pn.NfpPlacer(13, 40, rotations=[0.0], nonconvex=True)
    assert p.trypack(cont) and p.trypack(it)
    box = it.bounding_box()
    assert box[3] < 10  # in the hole's arm, not above the container
    assert check_layout(p, 13, 40, distance=0.4).ok


@pytest.mark.parametrize("seed", range(4))
def test_convex_jobs_are_unchanged_by_the_keyword(seed):
    def run(flag):
        rng = random.Random(seed)
        items = [Circle(rng.uniform(0.5, 3)) if rng.random() < 0.4 else
                 Polygon([(3 * math.cos(a), 2 * math.sin(a)) for a in sorted(rng.uniform(0, 6.28) for _ in range(6))])
                 for _ in range(25)]
        items.append(Polygon([(0, 0), (8, 0), (8, 8), (0, 8)], [[(2, 2), (6, 2), (6, 6), (2, 6)]]))
        FirstFit(items, Bin(20, 20), 0.3, nonconvex=flag, placement="center" if seed % 2 else "corner").do_pack()
        return [(i.tx, i.ty, i.rotation, i.bin_id) for i in items]

    assert run(True) == run(False)


@pytest.mark.parametrize("make", [lambda v: pn.NfpPlacer(5, 5, nonconvex=v), lambda v: FirstFit([], Bin(5, 5), nonconvex=v)])
def test_keyword_takes_only_booleans(make):
    obj = make(True)
    assert obj.nonconvex is True
    for bad in (1, "yes", None):
        with pytest.raises(TypeError, match="nonconvex"):
            make(bad)
        with pytest.raises(TypeError):
            obj.nonconvex = bad
    obj.nonconvex = False
    assert obj.nonconvex is False
