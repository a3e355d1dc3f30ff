"""Strip-packing instances with detailed outlines, made up from seeds, for measuring beside the real ones.

Each is a dict in the nesting JSON layout (``Strip.Height``; ``Items[k].Shape.Data``, ``Demand``,
``AllowedOrientations``), with ``Items[k].Shape.Holes`` where a part has holes:

- ``filleted_<esicup>``: the pieces of an ESICUP instance with every corner rounded by an arc of 8 chords and
  every edge cut into pieces of at most 1/40 of the piece's size (collinear points, as CAD exports give them);
- ``blobs``: 60 smooth random blobs of 12 kinds, 240-400 vertices each, concave bays included;
- ``bolted``: 40 plates of 5 kinds (rectangles and L-shapes with rounded corners) with 2-6 circular bolt holes;
- ``repeated``: 150 copies of two detailed kinds, where the union of many no-fit polygons weighs more than
  their sums.
"""
import json
import math
import os
import random


def _area(p):
    return 0.5 * sum(p[i][0] * p[i - 1][1] - p[i - 1][0] * p[i][1] for i in range(len(p)))


def _ccw(p):
    return p if _area(p) > 0 else p[::-1]


def fillet(poly, radius_frac=0.2, chords=8):
    """Every corner replaced by an arc tangent to both edges, of radius radius_frac x the shorter edge."""
    p = _ccw([tuple(q) for q in poly])
    if p[0] == p[-1]:
        p = p[:-1]
    n = len(p)
    out = []
    for i in range(n):
        a, b, c = p[i - 1], p[i], p[(i + 1) % n]
        u = (a[0] - b[0], a[1] - b[1])
        v = (c[0] - b[0], c[1] - b[1])
        lu, lv = math.hypot(*u), math.hypot(*v)
        if lu == 0 or lv == 0:
            continue
        u = (u[0] / lu, u[1] / lu)
        v = (v[0] / lv, v[1] / lv)
        cosang = max(-1.0, min(1.0, u[0] * v[0] + u[1] * v[1]))
        ang = math.acos(cosang)  # the corner's opening
        if ang < 1e-3 or ang > math.pi - 1e-3:
            out.append(b)
            continue
        # tangent length along each edge, kept below a fifth of the shorter edge
        t = radius_frac * min(lu, lv)
        r = t * math.tan(ang / 2)
        p0 = (b[0] + u[0] * t, b[1] + u[1] * t)
        p1 = (b[0] + v[0] * t, b[1] + v[1] * t)
        bis = (u[0] + v[0], u[1] + v[1])
        lb = math.hypot(*bis)
        d = r / math.sin(ang / 2)
        centre = (b[0] + bis[0] / lb * d, b[1] + bis[1] / lb * d)
        a0 = math.atan2(p0[1] - centre[1], p0[0] - centre[0])
        a1 = math.atan2(p1[1] - centre[1], p1[0] - centre[0])
        da = (a1 - a0 + math.pi) % (2 * math.pi) - math.pi
        for k in range(chords + 1):
            th = a0 + da * k / chords
            out.append((centre[0] + r * math.cos(th), centre[1] + r * math.sin(th)))
    return out


def subdivide(poly, max_len):
    out = []
    n = len(poly)
    for i in range(n):
        a, b = poly[i], poly[(i + 1) % n]
        k = max(1, int(math.ceil(math.hypot(b[0] - a[0], b[1] - a[1]) / max_len)))
        for j in range(k):
            out.append((a[0] + (b[0] - a[0]) * j / k, a[1] + (b[1] - a[1]) * j / k))
    return out


def _size(p):
    xs, ys = [q[0] for q in p], [q[1] for q in p]
    return math.hypot(max(xs) - min(xs), max(ys) - min(ys))


def _rounded(p, digits=3):
    return [[round(x, digits), round(y, digits)] for x, y in p]


def filleted(esicup_path):
    with open(esicup_path) as f:
        inst = json.load(f)
    items = []
    for it in inst["Items"]:
        p = fillet(it["Shape"]["Data"])
        p = subdivide(p, _size(p) / 40)
        items.append({"Shape": {"Type": "Polygon", "Data": _rounded(p)}, "Demand": it["Demand"],
                      "AllowedOrientations": it["AllowedOrientations"]})
    return {"Name": "filleted_" + inst["Name"] if "Name" in inst else "filleted",
            "Strip": inst["Strip"], "Items": items}


def blob(rnd, n, size):
    """A smooth star-shaped outline: a few random harmonics of the radius, deep enough for bays."""
    harm = [(k, rnd.uniform(0.05, 0.25) / k ** 0.5, rnd.uniform(0, 2 * math.pi)) for k in range(2, 7)]
    pts = []
    for i in range(n):
        th = 2 * math.pi * i / n
        r = 1.0 + sum(a * math.cos(k * th + ph) for k, a, ph in harm)
        r = max(r, 0.3)
        pts.append((size * r * math.cos(th), size * r * math.sin(th)))
    return pts


def blobs(seed=1):
    rnd = random.Random(seed)
    items = []
    for _ in range(12):
        p = blob(rnd, rnd.randint(240, 400), rnd.uniform(60, 160))
        items.append({"Shape": {"Type": "Polygon", "Data": _rounded(p)}, "Demand": 5,
                      "AllowedOrientations": [0, 90, 180, 270]})
    return {"Name": "blobs", "Strip": {"Height": 1200.0}, "Items": items}


def circle(cx, cy, r, n=32):
    return [(cx + r * math.cos(2 * math.pi * k / n), cy + r * math.sin(2 * math.pi * k / n)) for k in range(n)]


def bolted(seed=2):
    rnd = random.Random(seed)
    items = []
    for k in range(5):
        w, h = rnd.uniform(150, 400), rnd.uniform(100, 250)
        if k % 2:
            cut = (w * rnd.uniform(0.3, 0.6), h * rnd.uniform(0.3, 0.6))
            outer = [(0, 0), (w, 0), (w, h - cut[1]), (w - cut[0], h - cut[1]), (w - cut[0], h), (0, h)]
            spots = [(0.12 * w, 0.15 * h), (0.8 * w, 0.15 * (h - cut[1])), (0.12 * w, 0.85 * h)]
        else:
            outer = [(0, 0), (w, 0), (w, h), (0, h)]
            spots = [(0.1 * w, 0.15 * h), (0.9 * w, 0.15 * h), (0.9 * w, 0.85 * h), (0.1 * w, 0.85 * h),
                     (0.5 * w, 0.15 * h), (0.5 * w, 0.85 * h)][: rnd.randint(2, 6)]
        outer = fillet(outer, 0.1, 10)
        r = min(w, h) * 0.04
        holes = [_rounded(circle(x, y, r)) for x, y in spots]
        items.append({"Shape": {"Type": "Polygon", "Data": _rounded(outer), "Holes": holes}, "Demand": 8,
                      "AllowedOrientations": [0, 90, 180, 270]})
    return {"Name": "bolted", "Strip": {"Height": 1000.0}, "Items": items}


def repeated(seed=3):
    rnd = random.Random(seed)
    items = [{"Shape": {"Type": "Polygon", "Data": _rounded(blob(rnd, 300, 50))}, "Demand": 75,
              "AllowedOrientations": [0, 90, 180, 270]} for _ in range(2)]
    return {"Name": "repeated", "Strip": {"Height": 1000.0}, "Items": items}


def all_instances(esicup_dir=None):
    out = [blobs(), bolted(), repeated()]
    if esicup_dir and os.path.isdir(esicup_dir):
        for name in sorted(f for f in os.listdir(esicup_dir) if f.endswith(".json")):
            out.append(filleted(os.path.join(esicup_dir, name)))
    return out
