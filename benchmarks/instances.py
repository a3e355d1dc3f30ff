"""Strip-packing instances made here, in the JSON layout of the ESICUP files
(`Strip.Height`, `Items[k].Shape.Data`, `Demand`, `AllowedOrientations`), for
measuring beyond the four shared ones. Each family is built from a fixed seed,
so every run gets the same instance:

- jigsaw: a 60 x 40 rectangle cut into 4 x 6 pieces whose shared edges carry
  dovetail tabs (density 1 is possible), turned 0 / 180 degrees;
- blocks: 25 polyomino-like pieces (rectangles, L, T, U, S shapes) on a unit
  grid, four orientations, a strip 40 wide;
- convex: 12 distinct convex polygons of very different sizes, four
  orientations, a strip 38 wide;
- figures: 4 kinds of simple figures (cross, L, octagon, arrow), 43 pieces,
  one orientation (figures0) or two (figures1), a strip 40 wide;
- blobs: 10 kinds of curved non-convex outlines of 24 to 48 points, 48
  pieces, two orientations, a wide strip;
- panels: 9 kinds of garment-like panels with curved sides, 20 pieces, four
  orientations;
- puzzle: a 100 x 100 square cut along jittered lines into 4 x 4 pieces whose
  inner edges carry pointed tabs, one orientation (density 1 is possible);
- cuts16, cuts10: a 100 x 100 square cut along jittered lines, each inner
  edge bent once, into 4 x 4 and 5 x 2 pieces, one orientation (density 1 is
  possible).

    python benchmarks/instances.py DIR     writes DIR/<name>.json for each
"""
import json
import math
import os
import random
import sys

from bench_search import hull as convex_hull


def _inst(name, width, kinds):
    """kinds: (outline, demand, orientations) triples."""
    return {"Name": name, "Strip": {"Height": float(width)},
            "Items": [{"Demand": d, "AllowedOrientations": list(o),
                       "Shape": {"Type": "Polygon", "Data": [[round(x, 6), round(y, 6)] for x, y in pts]}}
                      for pts, d, o in kinds]}


def _area(pts):
    return sum(pts[i][0] * pts[i - 1][1] - pts[i - 1][0] * pts[i][1] for i in range(len(pts))) / 2


def _ccw(pts):
    return pts if _area(pts) > 0 else pts[::-1]


def jigsaw(seed=1, cols=6, rows=4, w=60.0, h=40.0):
    rng = random.Random(seed)
    cw, ch = w / cols, h / rows

    def edge(a, b, sign):
        """Polyline from a to b (without b) with a dovetail tab on one side."""
        (ax, ay), (bx, by) = a, b
        dx, dy = bx - ax, by - ay
        nx, ny = -dy * sign, dx * sign
        t = rng.uniform(0.38, 0.48)
        d = rng.uniform(0.16, 0.22)
        pts = [(0, 0), (t, 0), (t - 0.06, d), (1 - t + 0.06 + rng.uniform(-0.03, 0.03), d), (1 - t, 0)]
        return [(ax + dx * u + nx * v, ay + dy * u + ny * v) for u, v in pts]

    horiz = {}  # (i, j): edge from (i, j) to (i + 1, j), interior rows only
    vert = {}
    for j in range(1, rows):
        for i in range(cols):
            horiz[i, j] = edge((i * cw, j * ch), ((i + 1) * cw, j * ch), rng.choice((-1, 1)))
    for i in range(1, cols):
        for j in range(rows):
            vert[i, j] = edge((i * cw, j * ch), (i * cw, (j + 1) * ch), rng.choice((-1, 1)))

    def path(i0, j0, i1, j1):
        """Points from corner (i0, j0) to corner (i1, j1) (without the end)."""
        if j0 == j1:
            i, j = min(i0, i1), j0
            pts = horiz.get((i, j)) or [(i * cw, j * ch)]
            if i0 > i1:
                pts = [((i + 1) * cw, j * ch)] + pts[1:][::-1]
            return pts
        i, j = i0, min(j0, j1)
        pts = vert.get((i, j)) or [(i * cw, j * ch)]
        if j0 > j1:
            pts = [(i * cw, (j + 1) * ch)] + pts[1:][::-1]
        return pts

    kinds = []
    for j in range(rows):
        for i in range(cols):
            pts = path(i, j, i + 1, j) + path(i + 1, j, i + 1, j + 1) + path(i + 1, j + 1, i, j + 1) + path(i, j + 1, i, j)
            pts = [(x - i * cw, y - j * ch) for x, y in pts]
            kinds.append((_ccw(pts), 1, (0, 180)))
    # the instance's strip is open along x: the rectangle lies with its long side along x
    return _inst("jigsaw", h, [([(x, y) for x, y in pts], d, o) for pts, d, o in kinds])


def blocks(seed=2):
    rng = random.Random(seed)
    shapes = [
        [(0, 0), (4, 0), (4, 2), (0, 2)],
        [(0, 0), (6, 0), (6, 3), (0, 3)],
        [(0, 0), (5, 0), (5, 2), (2, 2), (2, 6), (0, 6)],                       # L
        [(0, 0), (7, 0), (7, 2), (4.5, 2), (4.5, 5), (2.5, 5), (2.5, 2), (0, 2)],  # T
        [(0, 0), (6, 0), (6, 5), (4, 5), (4, 2), (2, 2), (2, 5), (0, 5)],       # U
        [(0, 0), (4, 0), (4, 2), (6, 2), (6, 4), (2, 4), (2, 2), (0, 2)],       # S
        [(0, 0), (3, 0), (3, 3), (0, 3)],
        [(0, 0), (8, 0), (8, 2), (0, 2)],
        [(0, 0), (5, 0), (5, 4), (3, 4), (3, 2), (0, 2)],
    ]
    kinds = []
    left = 25
    for k, s in enumerate(shapes):
        sc = rng.choice((1.0, 1.5, 2.0))
        d = min(left, rng.randint(2, 4)) if k < len(shapes) - 1 else left
        left -= d
        if d:
            kinds.append(([(x * sc, y * sc) for x, y in s], d, (0, 90, 180, 270)))
    return _inst("blocks", 40, kinds)


def _convex(rng, n, r):
    angs = sorted(rng.uniform(0, 2 * math.pi) for _ in range(n))
    pts = [(r * math.cos(a) * rng.uniform(0.8, 1.0), r * math.sin(a) * rng.uniform(0.8, 1.0)) for a in angs]
    hull = convex_hull(pts)  # keeps it convex
    mx, my = min(x for x, _ in hull), min(y for _, y in hull)
    return [(x - mx, y - my) for x, y in hull]


def convex(seed=3):
    rng = random.Random(seed)
    kinds = []
    for k in range(12):
        n = rng.choice((3, 4, 4, 5, 6))
        r = rng.uniform(4, 14)
        kinds.append((_ccw(_convex(rng, n, r)), 1, (0, 90, 180, 270)))
    return _inst("convex", 38, kinds)


def figures(orients, name):
    cross = [(2, 0), (4, 0), (4, 2), (6, 2), (6, 4), (4, 4), (4, 6), (2, 6), (2, 4), (0, 4), (0, 2), (2, 2)]
    ell = [(0, 0), (8, 0), (8, 3), (3, 3), (3, 8), (0, 8)]
    octo = [(2, 0), (6, 0), (8, 2), (8, 6), (6, 8), (2, 8), (0, 6), (0, 2)]
    arrow = [(0, 2), (6, 2), (6, 0), (10, 4), (6, 8), (6, 6), (0, 6)]
    kinds = [(cross, 15, orients), (ell, 8, orients), (octo, 8, orients), (arrow, 12, orients)]
    return _inst(name, 40, kinds)


def _blob(rng, n, r):
    """A star-shaped closed curve of n points with smooth random radius."""
    a = [rng.uniform(-0.25, 0.25) for _ in range(4)]
    ph = [rng.uniform(0, 2 * math.pi) for _ in range(4)]
    sx, sy = rng.uniform(0.7, 1.3), rng.uniform(0.7, 1.3)
    pts = []
    for k in range(n):
        t = 2 * math.pi * k / n
        rad = r * (1 + sum(a[m] * math.cos((m + 2) * t + ph[m]) for m in range(4)))
        pts.append((sx * rad * math.cos(t), sy * rad * math.sin(t)))
    return _ccw(pts)


def blobs(seed=5):
    rng = random.Random(seed)
    kinds = []
    for k in range(10):
        kinds.append((_blob(rng, rng.choice((24, 32, 40, 48)), rng.uniform(300, 900)), rng.choice((3, 4, 5, 6)),
                      (0, 180)))
    return _inst("blobs", 5600, kinds)


def panels(seed=6):
    """Panels: a trapezoid whose slanted sides bulge (arcs of several points)
    and whose top has a V notch."""
    rng = random.Random(seed)
    kinds = []
    for k in range(9):
        w, h = rng.uniform(300, 900), rng.uniform(400, 1200)
        top = w * rng.uniform(0.4, 1.0)
        bulge = rng.uniform(-0.15, 0.2) * w
        m = rng.choice((4, 6, 8))
        neck = rng.uniform(0.1, 0.3) * top
        pts = [(0.0, 0.0), (w, 0.0)]
        pts += [(w - (w - top) / 2 * t / m + bulge * math.sin(math.pi * t / m), h * t / m) for t in range(1, m + 1)]
        pts += [(w / 2 + neck / 2, h), (w / 2, h - neck), (w / 2 - neck / 2, h)]
        pts += [((w - top) / 2 * t / m - bulge * math.sin(math.pi * t / m), h * t / m) for t in range(m, 0, -1)]
        kinds.append((_ccw(pts), rng.choice((1, 2, 3, 3)), (0, 90, 180, 270)))
    return _inst("panels", 2500, kinds)


def _corners(rng, cols, rows, size):
    """The corners of a size x size square's cut into cols x rows pieces, the
    inner ones jittered by up to a fifth of a piece."""
    cw, ch = size / cols, size / rows
    return {(i, j): (i * cw + (rng.uniform(-0.2, 0.2) * cw if 0 < i < cols else 0.0),
                     j * ch + (rng.uniform(-0.2, 0.2) * ch if 0 < j < rows else 0.0))
            for i in range(cols + 1) for j in range(rows + 1)}


def _pieces(name, cols, rows, size, edge):
    """The pieces of the cut, one orientation each; edge(p, q) gives the points
    from corner p towards corner q (without q)."""
    kinds = []
    for i in range(cols):
        for j in range(rows):
            ring = [(i, j), (i + 1, j), (i + 1, j + 1), (i, j + 1)]
            pts = [pt for k in range(4) for pt in edge(ring[k], ring[(k + 1) % 4])]
            kinds.append((_ccw(pts), 1, (0,)))
    return _inst(name, size, kinds)


def _inner(key, cols, rows):
    """Whether the edge between the two corners of ``key`` lies inside the square."""
    (i0, j0), (i1, j1) = key
    return not ((i0 == i1 in (0, cols)) or (j0 == j1 in (0, rows)))


def puzzle(seed=8, n=4, size=100.0):
    """A square cut along jittered lines, each inner edge with a pointed tab:
    pieces that only fit one way (no rotation); density 1 is possible."""
    rng = random.Random(seed)
    corner = _corners(rng, n, n, size)
    edges = {}

    def edge(p, q):
        key = (min(p, q), max(p, q))
        if key not in edges:
            a, b = corner[key[0]], corner[key[1]]
            pts = [a]
            if _inner(key, n, n):
                dx, dy = b[0] - a[0], b[1] - a[1]
                nx, ny = -dy, dx
                t, h = rng.uniform(0.35, 0.65), rng.choice((-1, 1)) * rng.uniform(0.12, 0.22)
                w = rng.uniform(0.12, 0.2)
                pts += [(a[0] + dx * (t - w), a[1] + dy * (t - w)), (a[0] + dx * t + nx * h, a[1] + dy * t + ny * h),
                        (a[0] + dx * (t + w), a[1] + dy * (t + w))]
            edges[key] = pts
        pts = edges[key]
        return pts if key[0] == p else [corner[p]] + pts[1:][::-1]

    return _pieces("puzzle", n, n, size, edge)


def cuts(name, seed, cols, rows, size=100.0):
    """A square cut along jittered lines, each inner edge bent at one point:
    plain pieces that fit together one way only; density 1 is possible."""
    rng = random.Random(seed)
    corner = _corners(rng, cols, rows, size)
    bend = {}

    def edge(p, q):
        key = (min(p, q), max(p, q))
        if not _inner(key, cols, rows):
            return [corner[p]]
        if key not in bend:
            (ax, ay), (bx, by) = corner[key[0]], corner[key[1]]
            t, h = rng.uniform(0.3, 0.7), rng.uniform(-0.12, 0.12)
            bend[key] = (ax + (bx - ax) * t - (by - ay) * h, ay + (by - ay) * t + (bx - ax) * h)
        return [corner[p], bend[key]]

    return _pieces(name, cols, rows, size, edge)


FAMILIES = {"jigsaw": jigsaw, "blocks": blocks, "convex": convex,
            "figures0": lambda: figures((0,), "figures0"), "figures1": lambda: figures((0, 180), "figures1"),
            "blobs": blobs, "panels": panels, "puzzle": puzzle,
            "cuts16": lambda: cuts("cuts16", 9, 4, 4), "cuts10": lambda: cuts("cuts10", 10, 5, 2)}


def build(name):
    return FAMILIES[name]()


if __name__ == "__main__":
    out = sys.argv[1] if len(sys.argv) > 1 else "."
    os.makedirs(out, exist_ok=True)
    for name in FAMILIES:
        with open(os.path.join(out, name + ".json"), "w") as f:
            json.dump(build(name), f)
        print("wrote", os.path.join(out, name + ".json"))
