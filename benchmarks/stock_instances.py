"""Made-up stock for the benchmarks of mixed bins (bench_stock.py): seeded,
so the same instance comes back on every machine.

- ``rack(seed)``: a cutting shop's rack: full sheets of three sizes (any
  number of each, cost their area) and five or six remnants from earlier jobs
  (a sheet with a corner or a strip cut off, an L, a sheet with a cut-out;
  one of each, at half the cost of their area, since they are paid for
  already), and shop parts with demands: rectangles, L and U brackets,
  plates with a hole, flanges.
- ``hides(seed)``: leather-like stock: four kinds of irregular hide (a
  48-gon of wavy outline, one to three of each, cost their area), each with
  three to six defects (small blobs, some across the outline), and a dozen
  kinds of piece with demands of 8 to 24 (about three hides' worth), half
  of them not convex.

Each returns ``(kinds, items)``: a list of ``Bin`` and a list of
``(outline, holes, demand)`` per kind of item; ``build(items)`` makes the
items (``shape_id`` "k-j": kind k, copy j).
"""
import math
import random

from Quarvo import Bin, Polygon


def _blob(rng, cx, cy, rx, ry, n, wave=0.12):
    a1, a2, a3 = (rng.uniform(0, 2 * math.pi) for _ in range(3))
    pts = []
    for k in range(n):
        t = 2 * math.pi * k / n
        f = 1 + wave * math.sin(2 * t + a1) + wave * 0.7 * math.sin(3 * t + a2) + wave * 0.4 * math.sin(5 * t + a3)
        f *= rng.uniform(0.97, 1.03)
        pts.append((cx + rx * f * math.cos(t), cy + ry * f * math.sin(t)))
    return pts


def _rect(w, h):
    return [(0, 0), (w, 0), (w, h), (0, h)]


def _ring(r, n=24):
    return [(r * math.cos(2 * math.pi * k / n), r * math.sin(2 * math.pi * k / n)) for k in range(n)]


def rack(seed=0):
    rng = random.Random(f"rack/{seed}")
    kinds = [Bin(3000, 1500), Bin(2500, 1250), Bin(2000, 1000)]
    remnants = [
        [(0, 0), (1800, 0), (1800, 700), (1200, 1200), (0, 1200)],                 # a corner cut off
        [(0, 0), (1400, 0), (1400, 500), (600, 500), (600, 1100), (0, 1100)],       # an L
        [(0, 0), (2400, 0), (2400, 600), (0, 600)],                                 # a strip cut off
        [(0, 0), (1500, 0), (1500, 300), (1100, 300), (1100, 900), (0, 900)],        # a step
        [(0, 0), (1600, 0), (1700, 800), (100, 900)],                               # a skewed offcut
    ]
    for outline in remnants:
        b = Bin.polygon(outline, count=1)
        b.cost = 0.5 * b.area
        kinds.append(b)
    holed = Bin.polygon(_rect(1600, 1000), holes=[_rect(500, 400)], count=1)
    holed.holes = [[(x + 600, y + 300) for x, y in holed.holes[0]]]
    holed.cost = 0.5 * holed.area
    kinds.append(holed)
    parts = []
    for _ in range(6):
        w, h = rng.uniform(150, 700), rng.uniform(100, 450)
        parts.append((_rect(w, h), [], rng.randint(2, 8)))
    for _ in range(3):
        a, b, t = rng.uniform(250, 500), rng.uniform(200, 400), rng.uniform(60, 120)
        parts.append(([(0, 0), (a, 0), (a, t), (t, t), (t, b), (0, b)], [], rng.randint(2, 6)))
    for _ in range(2):
        a, b, t = rng.uniform(300, 500), rng.uniform(200, 350), rng.uniform(60, 100)
        parts.append(([(0, 0), (a, 0), (a, b), (a - t, b), (a - t, t), (t, t), (t, b), (0, b)], [],
                      rng.randint(2, 5)))
    for _ in range(2):
        w, h = rng.uniform(300, 600), rng.uniform(200, 400)
        r = min(w, h) * 0.2
        hole = [(w / 2 + x, h / 2 + y) for x, y in _ring(r, 16)][::-1]
        parts.append((_rect(w, h), [hole], rng.randint(2, 5)))
    for _ in range(2):
        r = rng.uniform(120, 260)
        parts.append((_ring(r, 32), [_ring(r * 0.45, 24)[::-1]], rng.randint(2, 6)))
    return kinds, parts


def hides(seed=0):
    rng = random.Random(f"hides/{seed}")
    kinds = []
    for h in range(4):
        rx, ry = rng.uniform(900, 1200), rng.uniform(650, 850)
        outline = _blob(rng, 0, 0, rx, ry, 48)
        defects = []
        for _ in range(rng.randint(3, 6)):
            t = rng.uniform(0, 2 * math.pi)
            # some well inside, some across the outline (a torn edge)
            f = rng.choice([rng.uniform(0.1, 0.7), rng.uniform(0.92, 1.05)])
            r = rng.uniform(20, 60)
            defects.append(_blob(rng, rx * f * math.cos(t), ry * f * math.sin(t), r, r * rng.uniform(0.6, 1.0), 10))
        kinds.append(Bin.polygon(outline, defects=defects, count=rng.randint(1, 3)))
    # enough pieces for three or four hides
    pieces = []
    for k in range(12):
        s = rng.uniform(120, 320)
        u = k % 4
        if u == 0:
            outline = _blob(rng, 0, 0, s / 2, s * rng.uniform(0.25, 0.45), 16, wave=0.05)  # an oval panel
        elif u == 1:
            w, h = s, s * rng.uniform(0.3, 0.6)                                          # a strap, corners cut
            c = h * 0.25
            outline = [(c, 0), (w - c, 0), (w, c), (w, h - c), (w - c, h), (c, h), (0, h - c), (0, c)]
        elif u == 2:
            a, b = s, s * rng.uniform(0.6, 0.9)                                           # an L-shaped upper
            t = b * rng.uniform(0.35, 0.5)
            outline = [(0, 0), (a, 0), (a, t), (t, t), (t, b), (0, b)]
        else:
            outline = []                                                                  # a kidney: not convex
            for j in range(18):
                th = 2 * math.pi * j / 18
                r = s / 2 * (1 - 0.35 * max(0.0, math.cos(th)) ** 3)
                outline.append((r * math.cos(th), 0.6 * r * math.sin(th)))
        pieces.append((outline, [], rng.randint(8, 24)))
    return kinds, pieces


def build(parts):
    items = []
    for k, (outline, holes, demand) in enumerate(parts):
        for j in range(demand):
            items.append(Polygon(outline, holes=holes or None, shape_id=f"{k}-{j}"))
    return items


INSTANCES = {"rack": rack, "hides": hides}
