"""Independent check that every item of a layout is at rest.

Plain Python on the items' stored data (radius, outer contour, holes,
rotation, translation, inflation, margin); none of the library's geometry is
called. The rule, as the README states it:

- Two items touch when their gap is at most their spacings (half the clear
  distance plus each one's own inflation and margin) plus the contact
  tolerance, plus (radius + spacing) x (1 / cos(pi / 64) - 1) for each circle;
  an item touches the floor or a wall when its gap there is at most its own
  gap to them, its spacing or the bin's edge margin, whichever is larger,
  plus the tolerance: nothing more. Items in an item's holes are its load.
- A circle rests when the upward direction is a positive combination of its
  contact normals (each from the contact towards its centre); a lone normal
  straight up counts only when the support there is flat (the floor, the
  inside of a straight edge) or hollow (a round bore's wall).
- A polygon rests when it touches the floor, or when its contacts below its
  centroid lie on both sides of the centroid's vertical.
"""
import math

REST_TOL = 2e-3
BORE = "bore"  # what hole_holding gives for a pipe's bore
EXCESS = 1.0 / math.cos(math.pi / 64) - 1.0


def _closed(pts):
    pts = [(float(x), float(y)) for x, y in pts]
    if pts[0] != pts[-1]:
        pts.append(pts[0])
    return pts


def _edges(ring):
    return [(ring[i], ring[i + 1]) for i in range(len(ring) - 1) if ring[i] != ring[i + 1]]


def _area_centroid(ring):
    a = cx = cy = 0.0
    for (x1, y1), (x2, y2) in _edges(ring):
        k = x1 * y2 - x2 * y1
        a += k
        cx += (x1 + x2) * k
        cy += (y1 + y2) * k
    a /= 2.0
    return abs(a), (cx / (6.0 * a), cy / (6.0 * a))


def _foot(p, a, b):
    """Nearest point of segment a-b to p, and whether it lies strictly inside the segment."""
    dx, dy = b[0] - a[0], b[1] - a[1]
    t = ((p[0] - a[0]) * dx + (p[1] - a[1]) * dy) / (dx * dx + dy * dy)
    inside = 0.0 < t < 1.0
    t = min(1.0, max(0.0, t))
    return (a[0] + t * dx, a[1] + t * dy), inside


def _dist(p, q):
    return math.hypot(p[0] - q[0], p[1] - q[1])


def _inside_ring(p, ring):
    x, y = p
    inside = False
    for (x1, y1), (x2, y2) in _edges(ring):
        if (y1 > y) != (y2 > y) and x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
            inside = not inside
    return inside


class Body:
    """One item's true outline, where it stands."""

    def __init__(self, item, distance):
        self.item = item
        self.spacing = max(0.0, distance / 2.0 + float(item.inflation) + float(item.margin))
        self.round = hasattr(item, "radius")
        if self.round:
            self.c = (float(item.tx), float(item.ty))
            self.r = float(item.radius)
            self.bore = float(getattr(item, "bore", 0.0) or 0.0)  # a pipe's bore: a round hole
            self.excess = (self.r + self.spacing) * EXCESS
            self.rings = []
            self.holes = []
            self.centroid = self.c
            # a point of the material: the middle of a pipe's wall at its top
            self.material_point = (self.c[0], self.c[1] + (self.r + self.bore) / 2) if self.bore > 0 else self.c
            self.box = (self.c[0] - self.r, self.c[1] - self.r, self.c[0] + self.r, self.c[1] + self.r)
            return
        th = float(item.rotation)
        ct, st = math.cos(th), math.sin(th)
        tx, ty = float(item.tx), float(item.ty)

        flip = -1.0 if getattr(item, "mirrored", False) else 1.0  # mirrored: x -> -x before the rotation

        def world(ring):
            return _closed([(flip * x * ct - y * st + tx, flip * x * st + y * ct + ty) for x, y in ring])

        self.outer = world(item.outer)
        self.holes = [world(h) for h in item.holes]
        self.excess = 0.0
        a, (cx, cy) = _area_centroid(self.outer)
        sx, sy, sa = a * cx, a * cy, a
        for h in self.holes:
            ha, (hx, hy) = _area_centroid(h)
            sx, sy, sa = sx - ha * hx, sy - ha * hy, sa - ha
        self.centroid = (sx / sa, sy / sa)
        # a point of the material: just inside the middle of the first edge
        (x1, y1), (x2, y2) = _edges(self.outer)[0]
        length = math.hypot(x2 - x1, y2 - y1)
        inward = 1.0 if sum(x * y2_ - x2_ * y for (x, y), (x2_, y2_) in _edges(self.outer)) < 0 else -1.0
        hair = 1e-7 * (1.0 + max(abs(v) for p in self.outer for v in p))
        self.material_point = ((x1 + x2) / 2 + inward * hair * (y2 - y1) / length,
                               (y1 + y2) / 2 - inward * hair * (x2 - x1) / length)
        xs = [p[0] for p in self.outer]
        ys = [p[1] for p in self.outer]
        self.box = (min(xs), min(ys), max(xs), max(ys))

    def hole_holding(self, other):
        """The hole of this body that holds ``other`` (BORE for a pipe's bore), or None."""
        if self.round:
            return BORE if self.bore > 0 and _dist(other.material_point, self.c) < self.bore else None
        for h in self.holes:
            if _inside_ring(other.material_point, h):
                return h
        return None


def _contacts(x, y, allow):
    """(point, normal towards x, flat) of every contact of body x with body y."""
    hole = y.hole_holding(x)
    out = []
    if hole is BORE:
        # the bore's wall pushes towards its centre; hollow: it holds a lone contact below
        if x.round:
            d = _dist(x.c, y.c)
            if y.bore - d - x.r <= allow:
                u = ((x.c[0] - y.c[0]) / d, (x.c[1] - y.c[1]) / d) if d > 0 else (0.0, -1.0)
                out.append(((y.c[0] + y.bore * u[0], y.c[1] + y.bore * u[1]), (-u[0], -u[1]), True))
            return out
        return [(p, None, False) for p in x.outer[:-1] if y.bore - _dist(p, y.c) <= allow]
    if x.round:
        if y.round:
            d = _dist(x.c, y.c)
            if d - x.r - y.r <= allow and d > 0:
                n = ((x.c[0] - y.c[0]) / d, (x.c[1] - y.c[1]) / d)
                out.append(((y.c[0] + y.r * n[0], y.c[1] + y.r * n[1]), n, False))
            return out
        for a, b in _edges(hole if hole is not None else y.outer):
            q, inside = _foot(x.c, a, b)
            d = _dist(x.c, q)
            if d - x.r <= allow and d > 0:
                out.append((q, ((x.c[0] - q[0]) / d, (x.c[1] - q[1]) / d), inside))
        return out
    # A polygon: the nearest approach of two outlines lies at a corner of one
    # of them, or, against a circle, at the foot of the centre on a side.
    ring = hole if hole is not None else (None if y.round else y.outer)
    if y.round:
        for a, b in _edges(x.outer):
            q, _ = _foot(y.c, a, b)
            if _dist(q, y.c) - y.r <= allow:
                out.append((q, (q[0] - y.c[0], q[1] - y.c[1]), False))
        return out
    for p in x.outer[:-1]:
        if min(_dist(p, _foot(p, c, d)[0]) for c, d in _edges(ring)) <= allow:
            out.append((p, None, False))
    for w in ring[:-1]:
        gap, q = min((_dist(w, f), f) for f in (_foot(w, c, d)[0] for c, d in _edges(x.outer)))
        if gap <= allow:
            out.append((q, None, False))
    return out


def _boxes_near(a, b, reach):
    return (a.box[0] - reach <= b.box[2] and b.box[0] - reach <= a.box[2]
            and a.box[1] - reach <= b.box[3] and b.box[1] - reach <= a.box[3])


def _positive_pair(normals):
    """Whether up is a positive combination of two of the normals."""
    for i, (ax, ay) in enumerate(normals):
        for bx, by in normals[i + 1:]:
            det = ax * by - ay * bx
            if abs(det) <= 1e-9:  # parallel or opposite: no cone around up
                continue
            # up = s a + t b
            s, t = -bx / det, ax / det
            if s > 0 and t > 0:
                return True
    return False


def why_not_at_rest(bodies, k, bin_w, tol=REST_TOL, margin=0.0):
    """None when body k rests among ``bodies`` in a bin ``bin_w`` wide, else a reason."""
    x = bodies[k]
    wall = max(x.spacing, margin) + tol
    contacts = []  # (point, normal, flat)
    if x.round:
        (cx, cy), r = x.c, x.r
        if cy - r <= wall:
            contacts.append(((cx, cy - r), (0.0, 1.0), True))
        if cx - r <= wall:
            contacts.append(((cx - r, cy), (1.0, 0.0), False))
        if bin_w - cx - r <= wall:
            contacts.append(((cx + r, cy), (-1.0, 0.0), False))
    else:
        if any(p[1] <= wall for p in x.outer):
            return None
        contacts += [(p, (1.0, 0.0), False) for p in x.outer if p[0] <= wall]
        contacts += [(p, (-1.0, 0.0), False) for p in x.outer if bin_w - p[0] <= wall]
    for j, y in enumerate(bodies):
        if j == k or x.hole_holding(y) is not None:
            continue
        allow = x.spacing + y.spacing + tol + x.excess + y.excess
        if _boxes_near(x, y, allow):
            contacts += _contacts(x, y, allow)
    if not contacts:
        return "no contact"
    if x.round:
        normals = []
        for p, n, flat in contacts:
            if n[1] > 0 and abs(p[0] - x.c[0]) <= tol:
                if flat:
                    return None
                continue  # balanced on a point: holds nothing by itself
            normals.append(n)
        return None if _positive_pair(normals) else "not held"
    below = [p for p, n, flat in contacts if p[1] < x.centroid[1]]
    if any(p[0] < x.centroid[0] for p in below) and any(p[0] > x.centroid[0] for p in below):
        return None
    return "not held"


def floating(items, bin_w, distance=0.0, tol=REST_TOL, margin=0.0):
    """[(index, reason)] of the items of one bin that are not at rest."""
    bodies = [Body(it, distance) for it in items]
    return [(k, why) for k in range(len(bodies)) for why in [why_not_at_rest(bodies, k, bin_w, tol, margin)] if why]
