"""Independent geometric checks for packed layouts.

Everything here is plain Python on the items' stored data (outer contour,
holes, radius, rotation, translation, inflation); none of the library's own
geometry functions is called, so a fault shared by the placer and the kernel
cannot hide itself.

Items are judged by their inflated outlines: a polygon's outer contour grown by
``infl`` with mitred corners (mirrored x -> -x first when the item is
mirrored), a circle as the exact disk of radius ``radius + infl``. Two outlines may overlap by at most a penetration depth
(the shortest move that separates them), which is what the tolerances bound.
"""
import math

# ---------------------------------------------------------------- contours


def signed_area(pts):
    """Shoelace area of a contour; the closing edge is added if missing."""
    n = len(pts)
    s = 0.0
    for i in range(n):
        x1, y1 = pts[i]
        x2, y2 = pts[(i + 1) % n]
        s += x1 * y2 - x2 * y1
    return s / 2.0


def distinct(pts):
    """Drop the repeated closing entry, if any."""
    pts = [tuple(map(float, p)) for p in pts]
    if len(pts) > 1 and pts[0] == pts[-1]:
        pts = pts[:-1]
    return pts


def ccw(pts):
    """Distinct vertices in counter-clockwise order."""
    pts = distinct(pts)
    return pts if signed_area(pts) > 0 else pts[::-1]


def offset(pts, d):
    """Convex contour with every edge moved outward by ``d`` (inward when
    negative), joined at the intersections of consecutive moved edges."""
    pts = ccw(pts)
    if abs(d) < 1e-12:
        return pts
    lines = []
    n = len(pts)
    for i in range(n):
        (x1, y1), (x2, y2) = pts[i], pts[(i + 1) % n]
        L = math.hypot(x2 - x1, y2 - y1)
        if L < 1e-12:
            continue
        # counter-clockwise: the outward normal is the right normal
        nx, ny = (y2 - y1) / L, -(x2 - x1) / L
        lines.append(((x1 + d * nx, y1 + d * ny), (x2 + d * nx, y2 + d * ny)))
    out = []
    m = len(lines)
    for i in range(m):
        (p1, p2), (p3, p4) = lines[i], lines[(i + 1) % m]
        den = (p1[0] - p2[0]) * (p3[1] - p4[1]) - (p1[1] - p2[1]) * (p3[0] - p4[0])
        if abs(den) < 1e-12:
            out.append(p2)
            continue
        t = ((p1[0] - p3[0]) * (p3[1] - p4[1]) - (p1[1] - p3[1]) * (p3[0] - p4[0])) / den
        out.append((p1[0] + t * (p2[0] - p1[0]), p1[1] + t * (p2[1] - p1[1])))
    return out


def regular_ngon(cx, cy, r, n=64):
    """Clockwise closed n-gon inscribed in a circle, first vertex on top."""
    pts = []
    for i in range(n):
        a = math.pi / 2 - 2 * math.pi * i / n
        pts.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    pts.append(pts[0])
    return pts


def bbox(pts):
    xs = [p[0] for p in pts]
    ys = [p[1] for p in pts]
    return min(xs), min(ys), max(xs), max(ys)


def is_strictly_convex(pts):
    pts = ccw(pts)
    n = len(pts)
    for i in range(n):
        a, b, c = pts[i], pts[(i + 1) % n], pts[(i + 2) % n]
        if (b[0] - a[0]) * (c[1] - b[1]) - (b[1] - a[1]) * (c[0] - b[0]) <= 0:
            return False
    return n >= 3


def clip_convex(subject, clip):
    """Sutherland-Hodgman: the part of ``subject`` inside the convex ``clip``."""
    out = ccw(subject)
    c = ccw(clip)
    for i in range(len(c)):
        a, b = c[i], c[(i + 1) % len(c)]

        def side(p):
            return (b[0] - a[0]) * (p[1] - a[1]) - (b[1] - a[1]) * (p[0] - a[0])

        inp, out = out, []
        if not inp:
            break
        for j in range(len(inp)):
            p, q = inp[j], inp[(j + 1) % len(inp)]
            sp, sq = side(p), side(q)
            if sp >= 0:
                out.append(p)
            if (sp >= 0) != (sq >= 0):
                t = sp / (sp - sq)
                out.append((p[0] + t * (q[0] - p[0]), p[1] + t * (q[1] - p[1])))
    return out


def convex_intersection_area(a, b):
    inter = clip_convex(a, b)
    return abs(signed_area(inter)) if len(inter) >= 3 else 0.0


# ------------------------------------------------------------ penetration


def _axes(pts):
    n = len(pts)
    for i in range(n):
        (x1, y1), (x2, y2) = pts[i], pts[(i + 1) % n]
        L = math.hypot(x2 - x1, y2 - y1)
        if L > 1e-12:
            yield ((y2 - y1) / L, -(x2 - x1) / L)


def _project(pts, ax):
    vals = [p[0] * ax[0] + p[1] * ax[1] for p in pts]
    return min(vals), max(vals)


def penetration_polygons(a, b):
    """Depth of overlap of two convex contours (<= 0 when they are apart)."""
    a, b = distinct(a), distinct(b)
    depth = math.inf
    for ax in list(_axes(a)) + list(_axes(b)):
        amin, amax = _project(a, ax)
        bmin, bmax = _project(b, ax)
        depth = min(depth, min(amax, bmax) - max(amin, bmin))
    return depth


def penetration_disk_polygon(c, r, poly):
    """Depth of overlap of a disk and a convex contour."""
    poly = distinct(poly)
    axes = list(_axes(poly))
    nearest = min(poly, key=lambda p: (p[0] - c[0]) ** 2 + (p[1] - c[1]) ** 2)
    L = math.hypot(nearest[0] - c[0], nearest[1] - c[1])
    if L > 1e-12:
        axes.append(((nearest[0] - c[0]) / L, (nearest[1] - c[1]) / L))
    depth = math.inf
    for ax in axes:
        pmin, pmax = _project(poly, ax)
        cc = c[0] * ax[0] + c[1] * ax[1]
        depth = min(depth, min(pmax, cc + r) - max(pmin, cc - r))
    return depth


def penetration_disks(c1, r1, c2, r2):
    return r1 + r2 - math.hypot(c1[0] - c2[0], c1[1] - c2[1])


def polygon_in_convex(pts, region):
    """Largest distance by which a vertex of ``pts`` lies outside ``region``."""
    region = ccw(region)
    worst = -math.inf
    n = len(region)
    for p in distinct(pts):
        for i in range(n):
            a, b = region[i], region[(i + 1) % n]
            L = math.hypot(b[0] - a[0], b[1] - a[1])
            # positive outside (to the right of a counter-clockwise edge)
            s = ((b[0] - a[0]) * (p[1] - a[1]) - (b[1] - a[1]) * (p[0] - a[0])) / L
            worst = max(worst, -s)
    return worst


def disk_in_convex(c, r, region):
    """Largest distance by which the disk reaches outside ``region``."""
    return polygon_in_convex([c], region) + r


# ------------------------------------------------------------------ items


def pose_of(item):
    """The map from an item's local frame to the world: mirrored x -> -x
    first when the item is mirrored, then rotated, then moved."""
    th = float(item.rotation)
    ct, st = math.cos(th), math.sin(th)
    tx, ty = float(item.tx), float(item.ty)
    sx = -1.0 if getattr(item, "mirrored", False) else 1.0

    def world(p):
        x, y = sx * p[0], p[1]
        return (x * ct - y * st + tx, x * st + y * ct + ty)

    return world


class Outline:
    """World outline of an item, computed from its stored data only."""

    def __init__(self, item):
        self.item = item
        self.infl = float(item.infl)
        if hasattr(item, "radius"):
            self.is_circle = True
            self.center = (float(item.tx), float(item.ty))
            self.r = float(item.radius) + self.infl
            self.poly = None
            self.holes = []
            cx, cy = self.center
            self.box = (cx - self.r, cy - self.r, cx + self.r, cy + self.r)
        else:
            self.is_circle = False
            world = pose_of(item)
            self.poly = [world(p) for p in offset(item.outer, self.infl)]
            # the room inside a hole: the hole moved inward by the inflation
            self.holes = [offset([world(p) for p in h], -self.infl) for h in item.holes]
            self.box = bbox(self.poly)

    def penetration(self, other):
        """Depth by which this outline and ``other`` overlap."""
        if self.is_circle and other.is_circle:
            return penetration_disks(self.center, self.r, other.center, other.r)
        if self.is_circle:
            return penetration_disk_polygon(self.center, self.r, other.poly)
        if other.is_circle:
            return penetration_disk_polygon(other.center, other.r, self.poly)
        return penetration_polygons(self.poly, other.poly)

    def outside_region(self, region):
        """How far this outline reaches outside the convex ``region``."""
        if self.is_circle:
            return disk_in_convex(self.center, self.r, region)
        return polygon_in_convex(self.poly, region)

    def circle_radii(self):
        return self.r if self.is_circle else 0.0


def bin_excess(outline, bin_w, bin_h):
    """How far the outline's bounding box leaves the bin (<= 0 inside)."""
    minx, miny, maxx, maxy = outline.box
    return max(-minx, -miny, maxx - bin_w, maxy - bin_h)


def edge_gap(outline, bin_w, bin_h=None):
    """Least distance from the outline's box to the bin's edges (a strip,
    ``bin_h`` None, has no top edge); negative when it reaches past one."""
    minx, miny, maxx, maxy = outline.box
    gaps = [minx, miny, bin_w - maxx] + ([] if bin_h is None else [bin_h - maxy])
    return min(gaps)


def pair_violation(a, b, rel_tol=0.0013, abs_tol=1e-5):
    """None when the two outlines are fine together, else a description.

    Fine means: they overlap by no more than the tolerance, or one lies wholly
    within a hole room of the other. The relative part of the tolerance covers
    circles being handled as inscribed 64-gons (1 - cos(pi/64) = 0.0012 of the
    radius), the absolute part the 1e-6 grid of the union.
    """
    tol = abs_tol + rel_tol * (a.circle_radii() + b.circle_radii())
    depth = a.penetration(b)
    if depth <= tol:
        return None
    for outer, inner in ((a, b), (b, a)):
        for room in outer.holes:
            if len(room) >= 3 and signed_area(room) > 0 and inner.outside_region(room) <= tol:
                return None
    return "overlap depth %.9g > %.3g" % (depth, tol)


def layout_violations(items, bin_w, bin_h, bin_tol=1e-6 + 1e-9, **kw):
    """All faults of a single-bin layout: items out of the bin, overlaps."""
    outs = [Outline(it) for it in items]
    faults = []
    for i, o in enumerate(outs):
        ex = bin_excess(o, bin_w, bin_h)
        if ex > bin_tol:
            faults.append("item %d leaves the bin by %.9g" % (i, ex))
    for i in range(len(outs)):
        for j in range(i + 1, len(outs)):
            v = pair_violation(outs[i], outs[j], **kw)
            if v:
                faults.append("items %d and %d: %s" % (i, j, v))
    return faults


def spaced_violations(items, bin_w, bin_h, spacing):
    """layout_violations of the items each grown by ``spacing(item)`` (half the
    clear distance and its own share), as the placers space them; a strip,
    ``bin_h`` None, has no top. The items are given back ungrown."""
    for it in items:
        it.infl = spacing(it)
    try:
        return layout_violations(items, bin_w, math.inf if bin_h is None else bin_h)
    finally:
        for it in items:
            it.infl = 0.0


def assert_checked(placer, bin_w, bin_h):
    """The package's layout checker on the placer's items, run after every
    successful trypack: no overlap, nothing outside the bin."""
    from Quarvo.check import CIRCLE_REL_TOL, check_layout
    report = check_layout(placer, bin_w, bin_h, circle_rel_tol=CIRCLE_REL_TOL)
    assert report.ok, report.summary()


# ---------------------------------------------------------------- pipes


def ring(item):
    """A pipe's true ring from its own data: centre, outer radius od / 2, bore
    radius od / 2 - wall (0 for a solid bar)."""
    r = item.od / 2.0
    return (float(item.tx), float(item.ty)), r, max(0.0, r - item.wall)


def ring_clearance(a, b, tol=1e-6):
    """Clear distance between two pipes' true walls, and which holds which:
    (gap, 'a' when b lies in a's bore, 'b' the other way, None side by side).
    A pair neither apart nor nested overlaps: the gap is then negative."""
    (ca, ra, ba), (cb, rb, bb) = a, b
    d = math.hypot(ca[0] - cb[0], ca[1] - cb[1])
    if ba > 0 and d + rb <= ba + tol:
        return ba - (d + rb), "a"
    if bb > 0 and d + ra <= bb + tol:
        return bb - (d + ra), "b"
    return d - (ra + rb), None


def pipe_layout_faults(bins, bin_w, bin_h, distance, tol=1e-6):
    """Faults of a layout of pipes judged on their true circles: a pipe out of
    its bin, two pipes' walls closer than the distance (or crossing), or a
    pipe that lies in the bores of two pipes neither of which holds the other."""
    faults = []
    for k, items in enumerate(bins):
        rings = [ring(it) for it in items]
        for i, ((cx, cy), r, _) in enumerate(rings):
            out = max(r - cx, r - cy, cx + r - bin_w, (cy + r - bin_h) if bin_h is not None else -1.0)
            if out > tol:
                faults.append(f"bin {k}: pipe {i} leaves the bin by {out:.9g}")
        holders = [[] for _ in rings]
        for i in range(len(rings)):
            for j in range(i + 1, len(rings)):
                gap, inside = ring_clearance(rings[i], rings[j])
                if gap < distance - tol:
                    faults.append(f"bin {k}: pipes {i} and {j} are {gap:.9g} apart, less than {distance}")
                if inside == "a":
                    holders[j].append(i)
                elif inside == "b":
                    holders[i].append(j)
        for i, hs in enumerate(holders):
            for a in hs:
                for b in hs:
                    if a < b and a not in holders[b] and b not in holders[a]:
                        faults.append(f"bin {k}: pipe {i} lies in the bores of {a} and {b}, apart")
    return faults


def pipe_depths(items):
    """How many pipes' bores hold each pipe, from the true circles."""
    rings = [ring(it) for it in items]
    depths = []
    for i, a in enumerate(rings):
        depths.append(sum(1 for j, b in enumerate(rings) if j != i and ring_clearance(b, a)[1] == "a"))
    return depths


# ------------------------------------------- simple (non-convex) true outlines


def true_rings(item):
    """An item's true outline in the world, without its inflation: the outer
    contour and the holes, each as distinct vertices (mirrored x -> -x first
    when the item is mirrored)."""
    world = pose_of(item)
    return [world(p) for p in distinct(item.outer)], [[world(p) for p in distinct(h)] for h in item.holes]


def in_ring(p, ring):
    """Even-odd ray test."""
    x, y = p
    inside = False
    n = len(ring)
    for i in range(n):
        (x1, y1), (x2, y2) = ring[i], ring[(i + 1) % n]
        if (y1 > y) != (y2 > y) and x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
            inside = not inside
    return inside


def point_segment_distance(p, a, b):
    dx, dy = b[0] - a[0], b[1] - a[1]
    L2 = dx * dx + dy * dy
    t = 0.0 if L2 == 0 else max(0.0, min(1.0, ((p[0] - a[0]) * dx + (p[1] - a[1]) * dy) / L2))
    return math.hypot(p[0] - a[0] - t * dx, p[1] - a[1] - t * dy)


def _edges(rings):
    return [(r[i], r[(i + 1) % len(r)]) for r in rings for i in range(len(r))]


def rings_gap(ra, rb, cutoff):
    """Least distance between the edges of two sets of rings, or ``cutoff`` when
    it is at least that (edges crossing each other count as 0)."""
    def box(e, c):
        return (min(e[0][0], e[1][0]) - c, min(e[0][1], e[1][1]) - c, max(e[0][0], e[1][0]) + c,
                max(e[0][1], e[1][1]) + c)

    eb = [(e, box(e, 0.0)) for e in _edges(rb)]
    best = cutoff
    for ea in _edges(ra):
        ba = box(ea, best)
        for e, b in eb:
            if b[0] > ba[2] or ba[0] > b[2] or b[1] > ba[3] or ba[1] > b[3]:
                continue
            (p, q), (r, s) = ea, e
            d1 = (q[0] - p[0]) * (r[1] - p[1]) - (q[1] - p[1]) * (r[0] - p[0])
            d2 = (q[0] - p[0]) * (s[1] - p[1]) - (q[1] - p[1]) * (s[0] - p[0])
            d3 = (s[0] - r[0]) * (p[1] - r[1]) - (s[1] - r[1]) * (p[0] - r[0])
            d4 = (s[0] - r[0]) * (q[1] - r[1]) - (s[1] - r[1]) * (q[0] - r[0])
            if (d1 > 0) != (d2 > 0) and (d3 > 0) != (d4 > 0):
                return 0.0
            best = min(best, point_segment_distance(p, r, s), point_segment_distance(q, r, s),
                       point_segment_distance(r, p, q), point_segment_distance(s, p, q))
    return best


def _in_material(p, outer, holes):
    return in_ring(p, outer) and not any(in_ring(p, h) for h in holes)


def depth_into(src_rings, outer, holes, per_edge=4, enough=math.inf):
    """How far points of the source rings' edges (vertices and ``per_edge - 1``
    points between) reach into the material of (outer, holes): the largest
    distance from such a point inside it to its rings (or the first beyond
    ``enough``)."""
    rings = [outer] + holes
    box = bbox(outer)
    worst = 0.0
    for a, b in _edges(src_rings):
        for k in range(per_edge):
            t = k / per_edge
            p = (a[0] + (b[0] - a[0]) * t, a[1] + (b[1] - a[1]) * t)
            if box[0] <= p[0] <= box[2] and box[1] <= p[1] <= box[3] and _in_material(p, outer, holes):
                worst = max(worst, min(point_segment_distance(p, u, v) for u, v in _edges(rings)))
                if worst > enough:
                    return worst
    return worst


def simple_pair_violation(a, b, distance=0.0, tol=1e-5):
    """None when two placed polygons (any simple outlines, holes as empty
    space) are fine together on their true outlines: apart by at least
    ``distance - tol``, or one lying in a hole of the other that far from its
    edges. Else a description."""
    (oa, ha), (ob, hb) = true_rings(a), true_rings(b)
    for (outer, holes), inner in (((oa, ha), ob), ((ob, hb), oa)):
        for h in holes:
            if all(in_ring(p, h) for p in inner):
                gap = rings_gap([inner], [h], distance)
                return None if gap >= distance - tol else "%.9g from the edge of the hole it lies in" % gap
    depth = max(depth_into([oa], ob, hb), depth_into([ob], oa, ha))
    if depth > tol:
        return "overlap depth %.9g" % depth
    if distance > 0:
        gap = rings_gap([oa] + ha, [ob] + hb, distance)
        if gap < distance - tol:
            return "clear distance %.9g < %.9g" % (gap, distance)
    return None


def simple_layout_violations(items, bin_w, bin_h, distance=0.0, tol=1e-5):
    """All faults of a single-bin layout of polygons judged on their true
    outlines: outside the bin (``bin_h`` None: a strip), too close, overlapping."""
    faults = []
    boxes = []
    for i, it in enumerate(items):
        outer, _ = true_rings(it)
        box = bbox(outer)
        boxes.append(box)
        if box[0] < -tol or box[1] < -tol or box[2] > bin_w + tol or (bin_h is not None and box[3] > bin_h + tol):
            faults.append("item %d leaves the bin: box %s" % (i, box))
    for i in range(len(items)):
        for j in range(i + 1, len(items)):
            bi, bj = boxes[i], boxes[j]
            if bi[0] > bj[2] + distance or bj[0] > bi[2] + distance or bi[1] > bj[3] + distance or bj[1] > bi[3] + distance:
                continue
            v = simple_pair_violation(items[i], items[j], distance, tol)
            if v:
                faults.append("items %d and %d: %s" % (i, j, v))
    return faults


def clear_gap(a, b):
    """Least distance between the material of two outlines (``Outline``) of any
    simple shape, holes as empty space, or disks: 0 when they touch or overlap.
    An outline lying in the other's hole is apart by its distance to the hole's
    edges."""
    def rings(o):
        return [distinct(o.poly)] + [distinct(h) for h in o.holes]

    def in_material(p, o):
        if o.is_circle:
            return math.hypot(p[0] - o.center[0], p[1] - o.center[1]) < o.r
        return _in_material(p, distinct(o.poly), [distinct(h) for h in o.holes])

    if a.is_circle and b.is_circle:
        return max(0.0, math.hypot(a.center[0] - b.center[0], a.center[1] - b.center[1]) - a.r - b.r)
    if a.is_circle or b.is_circle:
        disk, poly = (a, b) if a.is_circle else (b, a)
        if in_material(disk.center, poly):
            return 0.0
        return max(0.0, min(point_segment_distance(disk.center, u, v) for u, v in _edges(rings(poly))) - disk.r)
    if in_material(distinct(a.poly)[0], b) or in_material(distinct(b.poly)[0], a):
        return 0.0
    return rings_gap(rings(a), rings(b), math.inf)


# ------------------------------------------- general outlines (any simple shape)
#
# For non-convex outlines and holes: the material of an item is its outer
# contour less its holes; two items are judged by the clear distance between
# their materials, which is what the distance asks of them. Only point,
# segment and ray tests are used, so any simple contour is judged right.


def _orient(a, b, c):
    return (b[0] - a[0]) * (c[1] - a[1]) - (b[1] - a[1]) * (c[0] - a[0])


def crossing_parameter(a, b, c, d):
    """The parameter along a-b where it properly crosses c-d, or None."""
    d1, d2 = _orient(c, d, a), _orient(c, d, b)
    d3, d4 = _orient(a, b, c), _orient(a, b, d)
    if ((d1 > 0) != (d2 > 0)) and d1 != 0 and d2 != 0 and ((d3 > 0) != (d4 > 0)) and d3 != 0 and d4 != 0:
        return d1 / (d1 - d2)
    return None


def segments_distance(a, b, c, d):
    if crossing_parameter(a, b, c, d) is not None:
        return 0.0
    return min(point_segment_distance(a, c, d), point_segment_distance(b, c, d),
               point_segment_distance(c, a, b), point_segment_distance(d, a, b))


point_in_ring = in_ring  # points on the boundary may go either way


class Material:
    """An item's true outline in the world: a disk, or rings (outer first, then
    the holes) whose even-odd interior is the material."""

    def __init__(self, item):
        self.item = item
        if hasattr(item, "radius"):
            self.circle = True
            self.c = (float(item.tx), float(item.ty))
            self.r = float(item.radius)
            self.rings = []
            cx, cy = self.c
            self.box = (cx - self.r, cy - self.r, cx + self.r, cy + self.r)
        else:
            self.circle = False
            outer, holes = true_rings(item)
            self.rings = [outer] + holes
            self.box = bbox(outer)
        self.edges = [(ring[i], ring[(i + 1) % len(ring)]) for ring in self.rings for i in range(len(ring))]

    def contains(self, p):
        if self.circle:
            return math.hypot(p[0] - self.c[0], p[1] - self.c[1]) < self.r
        return sum(point_in_ring(p, ring) for ring in self.rings) % 2 == 1

    def boundary_distance(self, p):
        if self.circle:
            return abs(self.r - math.hypot(p[0] - self.c[0], p[1] - self.c[1]))
        return min(point_segment_distance(p, a, b) for a, b in self.edges)

    def vertices(self):
        return [p for ring in self.rings for p in ring]


def _near(box, e, reach):
    (ax, ay), (bx, by) = e
    return not (max(ax, bx) < box[0] - reach or min(ax, bx) > box[2] + reach or
                max(ay, by) < box[1] - reach or min(ay, by) > box[3] + reach)


def _in_box(p, box):
    return box[0] <= p[0] <= box[2] and box[1] <= p[1] <= box[3]


def _depth_into(A, B):
    """How deep points of A's outline lie in B's material: its vertices, and the
    middles of the stretches of its edges between crossings with B's outline."""
    depth = 0.0
    for p in A.vertices():
        if _in_box(p, B.box) and B.contains(p):
            depth = max(depth, B.boundary_distance(p))
    for a, b in A.edges:
        if not _near(B.box, (a, b), 0.0):
            continue
        ts = sorted(t for c, d in B.edges for t in [crossing_parameter(a, b, c, d)] if t is not None)
        for t0, t1 in zip(ts, ts[1:]):
            m = (t0 + t1) / 2
            p = (a[0] + m * (b[0] - a[0]), a[1] + m * (b[1] - a[1]))
            if B.contains(p):
                depth = max(depth, B.boundary_distance(p))
    return depth


def _nested_in(A, B):
    """With outlines that do not cross: whether A's material lies in B's (judged
    by a vertex of A clear of B's outline)."""
    tiny = 1e-9 * (1.0 + max(map(abs, B.box)))
    for p in A.vertices() if not A.circle else [A.c]:
        if not _in_box(p, B.box):
            return False
        if B.boundary_distance(p) > tiny:
            return B.contains(p)
    return False


def material_gap(A, B, reach):
    """Clear distance between two materials when below ``reach`` (else ``reach``);
    negative when they overlap: minus how deep one reaches into the other."""
    if A.box[0] - reach > B.box[2] or B.box[0] - reach > A.box[2] or \
            A.box[1] - reach > B.box[3] or B.box[1] - reach > A.box[3]:
        return reach
    if A.circle and B.circle:
        return min(reach, math.hypot(A.c[0] - B.c[0], A.c[1] - B.c[1]) - A.r - B.r)
    if A.circle or B.circle:
        C, P = (A, B) if A.circle else (B, A)
        if P.contains(C.c):
            return -(C.r + P.boundary_distance(C.c))
        return min(reach, P.boundary_distance(C.c) - C.r)
    gap, crossing = reach, False
    for a, b in A.edges:
        if not _near(B.box, (a, b), gap):
            continue
        eb = (min(a[0], b[0]), min(a[1], b[1]), max(a[0], b[0]), max(a[1], b[1]))
        for c, d in B.edges:
            if _near(eb, (c, d), gap):
                if crossing_parameter(a, b, c, d) is not None:
                    crossing = True
                    gap = 0.0
                else:
                    gap = min(gap, segments_distance(a, b, c, d))
    if crossing:
        return -max(_depth_into(A, B), _depth_into(B, A))
    if _nested_in(A, B) or _nested_in(B, A):
        return -max(_depth_into(A, B), _depth_into(B, A), 1e-300)
    return gap


def material_bin_excess(M, grow, bin_w, bin_h):
    """How far the material grown by ``grow`` leaves the bin (<= 0 inside); a
    bin height of None is a strip, open upward."""
    minx, miny, maxx, maxy = M.box
    ex = max(grow - minx, grow - miny, maxx + grow - bin_w)
    return ex if bin_h is None else max(ex, maxy + grow - bin_h)


def inflated_faults(bins, bin_w, bin_h, infl, tol, circle_gap=0.0, stats=None):
    """Faults of a layout whose items must keep their inflations ``infl(item)``
    (half the distance, their inflation and margin) from the bin's sides and
    the sum of both from each other: (kind, shortfall, tolerance, text) with
    kind "bin" or "pair", for shortfalls beyond ``tol`` plus ``circle_gap`` x
    (radius + inflation) per circle (the gap of an inscribed 64-gon). A bin
    height of None is a strip. ``stats`` gets the largest shortfalls beyond
    the circles' gap ("bin", "pair")."""
    faults = []
    worst = {"bin": -math.inf, "pair": -math.inf}

    def slack(it):
        return circle_gap * (it.radius + infl(it)) if hasattr(it, "radius") else 0.0

    for k, b in enumerate(bins):
        mats = [Material(it) for it in b]
        for it, m in zip(b, mats):
            ex = material_bin_excess(m, infl(it), bin_w, bin_h)
            worst["bin"] = max(worst["bin"], ex - slack(it))
            if ex > tol + slack(it):
                faults.append(("bin", ex, tol + slack(it), f"bin {k}: item {it.shape_id} leaves the bin by {ex:.6g}"))
        for i in range(len(b)):
            for j in range(i + 1, len(b)):
                need = infl(b[i]) + infl(b[j])
                allowed = tol + slack(b[i]) + slack(b[j])
                gap = material_gap(mats[i], mats[j], need + 1.0)
                worst["pair"] = max(worst["pair"], need - gap - slack(b[i]) - slack(b[j]))
                if need - gap > allowed:
                    faults.append(("pair", need - gap, allowed, f"bin {k}: items {b[i].shape_id} and {b[j].shape_id} "
                                   f"are {gap:.9g} apart, {need - gap:.6g} short of {need:.9g}"))
    if stats is not None:
        stats.update(worst)
    return faults


# ------------------------------------------- bins of any outline, with defects


class _Rings:
    """A fixed region of a bin (a hole or a defect, or the outside of the
    outline within a frame around it) judged like an item's material."""

    def __init__(self, rings):
        self.circle = False
        self.rings = [distinct(r) for r in rings]
        self.box = bbox(self.rings[0])
        self.edges = [(ring[i], ring[(i + 1) % len(ring)]) for ring in self.rings for i in range(len(ring))]

    contains = Material.contains
    boundary_distance = Material.boundary_distance
    vertices = Material.vertices


def stock_faults(items, bin_record, gap, tol=1e-6):
    """Faults of one bin's items against a shaped bin (``outer``, ``holes``,
    ``defects`` of a ``Bin``), each judged on its true outline: an item must
    lie in the outline, out of the holes and off the defects, at least
    ``gap(item)`` from each (the larger of the margin and its own spacing),
    less ``tol``. Returns (item index, what, clear distance) per fault."""
    w, h = bin_record.width, bin_record.height
    fixed = []
    if bin_record.outer is not None:
        pad = max(w, h) + 10.0
        frame = [(-pad, -pad), (w + pad, -pad), (w + pad, h + pad), (-pad, h + pad)]
        fixed.append(("the outline", _Rings([frame, bin_record.outer])))
    fixed += [(f"hole {k}", _Rings([r])) for k, r in enumerate(bin_record.holes)]
    fixed += [(f"defect {k}", _Rings([r])) for k, r in enumerate(bin_record.defects)]
    faults = []
    for i, it in enumerate(items):
        m = Material(it)
        need = gap(it)
        for what, region in fixed:
            clear = material_gap(m, region, need + 1.0)
            if clear < need - tol:
                faults.append((i, what, clear))
    return faults


# ------------------------------------------- true curves: lines and circular arcs
#
# A curve is ("seg", p, q) or ("arc", c, r, a0, sweep): the circle's points at
# angles a0 .. a0 + sweep, anticlockwise, 0 < sweep <= 2 pi. Distances between
# them are exact: the nearest points of two such curves are end points, or
# interior points where the line joining them is normal to both.


def arc_from_ends(c, r, p0, p1, anticlockwise=True):
    """The arc of centre c from p0 to p1, anticlockwise or not (p0 == p1: the whole circle)."""
    if not anticlockwise:
        p0, p1 = p1, p0
    a0 = math.atan2(p0[1] - c[1], p0[0] - c[0])
    a1 = math.atan2(p1[1] - c[1], p1[0] - c[0])
    sweep = (a1 - a0) % (2 * math.pi)
    return ("arc", c, r, a0, sweep if sweep > 1e-12 else 2 * math.pi)


def bulge_arc(p, q, bulge):
    """The arc a polyline's bulge draws from p to q (a bulge is tan(turn / 4), anticlockwise positive)."""
    turn = 4.0 * math.atan(bulge)
    dx, dy = q[0] - p[0], q[1] - p[1]
    chord = math.hypot(dx, dy)
    r = chord / (2.0 * abs(math.sin(turn / 2.0)))
    # the centre lies on the chord's normal, at r cos(turn / 2) from its middle
    h = chord / 2.0 / math.tan(turn / 2.0)
    c = ((p[0] + q[0]) / 2.0 - dy / chord * h, (p[1] + q[1]) / 2.0 + dx / chord * h)
    return arc_from_ends(c, r, p, q, anticlockwise=bulge > 0)


def _in_sweep(arc, angle):
    _, _, _, a0, sweep = arc
    return (angle - a0) % (2 * math.pi) <= sweep + 1e-15


def arc_ends(arc):
    _, (cx, cy), r, a0, sweep = arc
    return [(cx + r * math.cos(a), cy + r * math.sin(a)) for a in (a0, a0 + sweep)]


def _point_arc(p, arc):
    _, c, r, _, _ = arc
    if _in_sweep(arc, math.atan2(p[1] - c[1], p[0] - c[0])):
        return abs(math.dist(p, c) - r)
    return min(math.dist(p, e) for e in arc_ends(arc))


def _seg_arc(s, arc):
    _, a, b = s
    _, c, r, _, _ = arc
    d = (b[0] - a[0], b[1] - a[1])
    ln = math.hypot(*d)
    u = (d[0] / ln, d[1] / ln)
    # crossing: the points of the line at distance r from c
    w = (a[0] - c[0], a[1] - c[1])
    along = w[0] * u[0] + w[1] * u[1]
    disc = along * along - (w[0] * w[0] + w[1] * w[1] - r * r)
    if disc >= 0:
        for t in (-along - math.sqrt(disc), -along + math.sqrt(disc)):
            if 0.0 <= t <= ln:
                x = (a[0] + t * u[0], a[1] + t * u[1])
                if _in_sweep(arc, math.atan2(x[1] - c[1], x[0] - c[0])):
                    return 0.0
    best = min(_point_arc(a, arc), _point_arc(b, arc), *(point_segment_distance(e, a, b) for e in arc_ends(arc)))
    for n in ((-u[1], u[0]), (u[1], -u[0])):
        y = (c[0] + r * n[0], c[1] + r * n[1])
        t = (y[0] - a[0]) * u[0] + (y[1] - a[1]) * u[1]
        if 0.0 <= t <= ln and _in_sweep(arc, math.atan2(n[1], n[0])):
            best = min(best, abs((y[0] - a[0]) * n[0] + (y[1] - a[1]) * n[1]))
    return best


def _arc_arc(p, q):
    _, c1, r1, _, _ = p
    _, c2, r2, _, _ = q
    d = math.dist(c1, c2)
    if d > 0 and abs(r1 - r2) <= d <= r1 + r2:
        # crossing points of the circles
        a = (d * d + r1 * r1 - r2 * r2) / (2 * d)
        h = math.sqrt(max(r1 * r1 - a * a, 0.0))
        ux, uy = (c2[0] - c1[0]) / d, (c2[1] - c1[1]) / d
        for s in (h, -h):
            x = (c1[0] + a * ux - s * uy, c1[1] + a * uy + s * ux)
            if _in_sweep(p, math.atan2(x[1] - c1[1], x[0] - c1[0])) and \
                    _in_sweep(q, math.atan2(x[1] - c2[1], x[0] - c2[0])):
                return 0.0
    best = min([_point_arc(e, q) for e in arc_ends(p)] + [_point_arc(e, p) for e in arc_ends(q)])
    if d > 0:
        ux, uy = (c2[0] - c1[0]) / d, (c2[1] - c1[1]) / d
        for s1 in (1, -1):
            for s2 in (1, -1):
                if _in_sweep(p, math.atan2(s1 * uy, s1 * ux)) and _in_sweep(q, math.atan2(s2 * uy, s2 * ux)):
                    y1 = (c1[0] + s1 * r1 * ux, c1[1] + s1 * r1 * uy)
                    y2 = (c2[0] + s2 * r2 * ux, c2[1] + s2 * r2 * uy)
                    best = min(best, math.dist(y1, y2))
    else:
        best = min(best, abs(r1 - r2))  # concentric: any common direction (an over-estimate only where none is)
    return best


def curve_distance(p, q):
    """Least distance between two curves (0 where they cross or touch)."""
    if p[0] == "seg" and q[0] == "seg":
        return segments_distance(p[1], p[2], q[1], q[2])
    if p[0] == "seg":
        return _seg_arc(p, q)
    if q[0] == "seg":
        return _seg_arc(q, p)
    return _arc_arc(p, q)


def curve_box(cv):
    """(x0, y0, x1, y1) of a curve."""
    if cv[0] == "seg":
        pts = [cv[1], cv[2]]
    else:
        _, (cx, cy), r, _, _ = cv
        pts = arc_ends(cv) + [(cx + r * math.cos(a), cy + r * math.sin(a))
                              for a in (0.0, math.pi / 2, math.pi, 3 * math.pi / 2) if _in_sweep(cv, a)]
    return (min(p[0] for p in pts), min(p[1] for p in pts), max(p[0] for p in pts), max(p[1] for p in pts))


def curves_crossings(p, curves, turn=0.3):
    """How often a ray from p crosses the curves (even-odd: odd inside the
    material). The ray leaves at ``turn`` radians from +x, a direction no
    drawing's vertices line up on, so it meets no end point of a curve."""
    u = (math.cos(turn), math.sin(turn))
    n = 0
    for cv in curves:
        if cv[0] == "seg":
            a, b = cv[1], cv[2]
            d = (b[0] - a[0], b[1] - a[1])
            den = u[0] * d[1] - u[1] * d[0]
            if den == 0.0:
                continue
            w = (a[0] - p[0], a[1] - p[1])
            t = (w[0] * d[1] - w[1] * d[0]) / den  # along the ray
            s = (w[0] * u[1] - w[1] * u[0]) / den  # along the segment
            if t > 0.0 and 0.0 <= s < 1.0:
                n += 1
            continue
        _, c, r, _, _ = cv
        w = (p[0] - c[0], p[1] - c[1])
        half = u[0] * w[0] + u[1] * w[1]
        disc = half * half - (w[0] * w[0] + w[1] * w[1] - r * r)
        if disc <= 0.0:
            continue
        for t in (-half - math.sqrt(disc), -half + math.sqrt(disc)):
            x = (p[0] + t * u[0], p[1] + t * u[1])
            if t > 0.0 and _in_sweep(cv, math.atan2(x[1] - c[1], x[0] - c[0])):
                n += 1
    return n


def curves_area(curves, snap=1e-7):
    """The material's area of a part's curves (its outer loop less its holes): the
    curves are chained end to end into loops, each loop's area by Green's theorem."""
    cell = 16 * snap

    def key(p):
        return (math.floor(p[0] / cell), math.floor(p[1] / cell))

    ends = {}
    for k, cv in enumerate(curves):
        for side, e in enumerate(_ends(cv)):
            ends.setdefault(key(e), []).append((k, side))
    used = [False] * len(curves)

    def next_at(p):
        kx, ky = key(p)
        for gx in (kx - 1, kx, kx + 1):
            for gy in (ky - 1, ky, ky + 1):
                for k, side in ends.get((gx, gy), ()):
                    if not used[k] and math.dist(_ends(curves[k])[side], p) <= snap:
                        return k, side
        raise AssertionError(f"open contour at {p}")

    areas = []
    for k0, cv in enumerate(curves):
        if used[k0]:
            continue
        used[k0] = True
        if cv[0] == "arc" and cv[4] >= 2 * math.pi - 1e-12:
            areas.append(math.pi * cv[2] ** 2)
            continue
        start, end = _ends(cv)
        total = _green(cv, False)
        while math.dist(end, start) > snap:
            k, side = next_at(end)
            used[k] = True
            total += _green(curves[k], side == 1)
            end = _ends(curves[k])[1 - side]
        areas.append(abs(total))
    areas.sort(reverse=True)
    return areas[0] - sum(areas[1:])


def _ends(cv):
    return (cv[1], cv[2]) if cv[0] == "seg" else tuple(arc_ends(cv))


def _green(cv, backwards):
    """Half the integral of x dy - y dx along the curve."""
    if cv[0] == "seg":
        (x1, y1), (x2, y2) = cv[1], cv[2]
        v = (x1 * y2 - x2 * y1) / 2.0
    else:
        _, (cx, cy), r, a0, sweep = cv
        (x1, y1), (x2, y2) = arc_ends(cv)
        v = (cx * (y2 - y1) - cy * (x2 - x1) + r * r * sweep) / 2.0
    return -v if backwards else v
