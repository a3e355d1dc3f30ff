"""The candidate search may skip work, never change its answer: it must give
bit for bit what scoring every sample in order gives."""
import math
import random

import pytest

from Quarvo.geometry import Circle, Polygon
from Quarvo.geometry_handle import circle_to_polygon, polygon_bbox, top_right
from Quarvo.placer_nfp import merge_nfps, search_best_position


def reference_search(contours, item, bin_w, bin_h, steps=40, eps=1e-6, placement="corner"):
    """Every boundary sample scored in order, ties to the first (hole NFPs left out)."""
    if isinstance(item, Circle):
        r = item.rotated_shape()[1]
        rb = (-r, -r, r, r)
        ref = (0.0, 0.0)
    else:
        rb = polygon_bbox(item.rotated_shape())
        ref = top_right(item.rotated_shape())
    best, best_pos = math.inf, None
    cx, cy = bin_w / 2.0, bin_h / 2.0
    for poly in contours:
        for i in range(len(poly) - 1):
            (ax, ay), (bx, by) = poly[i], poly[i + 1]
            dx, dy = bx - ax, by - ay
            for k in range(steps):
                t = k / steps
                px, py = ax + dx * t, ay + dy * t
                tx, ty = px - ref[0], py - ref[1]
                minx, maxx = rb[0] + tx, rb[2] + tx
                miny, maxy = rb[1] + ty, rb[3] + ty
                if minx < -eps or miny < -eps or maxx > bin_w + eps or maxy > bin_h + eps:
                    continue
                if placement == "center":
                    ddx, ddy = (minx + maxx) / 2.0 - cx, (miny + maxy) / 2.0 - cy
                    s = ddx * ddx + ddy * ddy
                else:
                    s = miny * (bin_w + 1.0) + minx
                if s < best:
                    best, best_pos = s, (tx, ty)
    return best_pos, best


def random_union(rng, n, bin_w, bin_h):
    nfps = []
    for _ in range(n):
        cx, cy = rng.uniform(-20, bin_w + 20), rng.uniform(-20, bin_h + 20)
        if rng.random() < 0.5:
            nfps.append(circle_to_polygon((cx, cy), rng.uniform(3, 25)))
        else:
            m, r, ph = rng.randint(3, 9), rng.uniform(3, 25), rng.uniform(0, 6.3)
            pts = [(cx + r * math.cos(ph - 2 * math.pi * k / m), cy + r * math.sin(ph - 2 * math.pi * k / m)) for k in range(m)]
            nfps.append(pts + [pts[0]])
    return merge_nfps(nfps)


@pytest.mark.parametrize("placement", ["corner", "center"])
@pytest.mark.parametrize("seed", range(25))
def test_search_equals_scoring_every_sample(seed, placement):
    rng = random.Random(seed)
    bin_w, bin_h = rng.choice([(100.0, 80.0), (37.5, 120.0), (1000.0, 1000.0)])
    contours = random_union(rng, rng.randint(1, 30), bin_w, bin_h)
    if rng.random() < 0.5:
        item = Circle(rng.uniform(0.5, 15))
    else:
        m = rng.randint(3, 8)
        item = Polygon([(rng.uniform(4, 12) * math.cos(2 * math.pi * k / m), rng.uniform(4, 12) * math.sin(2 * math.pi * k / m))
                        for k in range(m)])
        item.rotation = rng.choice([0.0, math.pi / 2, 1.234])
    item.infl = rng.choice([0.0, 0.5])
    steps = rng.choice([40, 7, 1])
    got = search_best_position(contours, [], item, bin_w, bin_h, steps=steps, placement=placement)
    want = reference_search(contours, item, bin_w, bin_h, steps=steps, placement=placement)
    assert got == want
