"""A part as drawn: its outer loop and holes made of the drawing's own lines,
arcs, circles, bulges and curves (the segments of ``Quarvo.cad.contours``),
beside the chords the engine packs. Moved into place by the same map as the
part (``Affine.placement``), the written layout gives back the drawing's
curves exactly; its area and extent are those of the curves, not of the
chords.
"""
import math

from Quarvo.cad.contours import Affine, Bezier, Drawn, EllArc, Line, Sampled, loop_circle


class TrueShape:
    """``outer``: the outer loop, anticlockwise; ``holes``: the holes,
    clockwise; each a list of segments end to end, drawn in a frame that lies
    at ``offset`` in the part's own (a part read from a drawing keeps the
    drawing's segments: its frame is the drawing's less the offset)."""

    __slots__ = ("outer", "holes", "offset")

    def __init__(self, outer, holes=(), offset=(0.0, 0.0)):
        self.outer, self.holes, self.offset = outer, holes, offset

    @classmethod
    def of_polygon(cls, outer, holes=(), round_outer=None, round_holes=()):
        """The shape of a polygon item that no drawing gave: its rings as
        closed polylines, those marked round ((cx, cy, r) or None) as circles."""
        round_holes = list(round_holes) or [None] * len(holes)

        def loop(ring, circle, ccw):
            if circle is not None:
                cx, cy, r = circle
                return [EllArc((cx, cy), (r, 0.0), (0.0, r), 0.0, 2 * math.pi if ccw else -2 * math.pi, "circle",
                               drawn=Drawn("circle"))]
            pts = [tuple(p) for p in ring]
            if len(pts) > 1 and pts[0] == pts[-1]:
                pts.pop()
            if (_shoelace(pts + pts[:1]) > 0) != ccw:
                pts = pts[:1] + pts[:0:-1]  # the other way round, from the same first point
            drawn = Drawn("polyline")
            return [Line(p, q, "ring", drawn) for p, q in zip(pts, pts[1:] + pts[:1]) if p != q]

        return cls(loop(outer, round_outer, True), [loop(h, c, False) for h, c in zip(holes, round_holes)])

    def loops(self):
        return [self.outer] + self.holes

    def mapped(self, m):
        """The shape under the map ``m`` (an ``Affine``) of the part's frame; a
        spline's own definition is mapped once for all its segments."""
        if self.offset != (0.0, 0.0):
            m = _Shifted(m, self.offset)
        drawn = {}

        def seg(s):
            key = id(s.drawn)
            if key not in drawn:
                drawn[key] = None if s.drawn is None else s.drawn.mapped(m)
            return s.mapped(m, drawn[key])

        return TrueShape([seg(s) for s in self.outer], [[seg(s) for s in h] for h in self.holes])

    def placed(self, rotation, mirrored, tx, ty):
        return self.mapped(Affine.placement(rotation, mirrored, tx, ty))

    def local(self):
        """The shape's segments in the part's own frame."""
        return self if self.offset == (0.0, 0.0) else self.mapped(Affine.shift(0.0, 0.0))

    def area(self):
        """The material's area: inside the outer loop, outside the holes
        (reckoned in the part's own frame: far from the drawing's origin the
        drawing's coordinates would cancel its digits)."""
        shape = self.local()
        return abs(loop_area(shape.outer)) - sum(abs(loop_area(h)) for h in shape.holes)

    def box(self):
        """(x0, y0, x1, y1) of the outer loop's curves, in the part's frame."""
        boxes = [segment_box(s) for s in self.outer]
        ox, oy = self.offset
        return (min(b[0] for b in boxes) - ox, min(b[1] for b in boxes) - oy, max(b[2] for b in boxes) - ox,
                max(b[3] for b in boxes) - oy)

    def circles(self):
        """(centre, radius) of each loop that is one whole circle, else None."""
        return [loop_circle(loop) for loop in self.loops()]


class _Shifted:
    """A map after the shift by -offset: each point shifted first, as the
    part's own frame has it, then mapped."""

    __slots__ = ("m", "ox", "oy")

    def __init__(self, m, offset):
        self.m, (self.ox, self.oy) = m, offset

    def __call__(self, p):
        return self.m((p[0] - self.ox, p[1] - self.oy))

    def linear(self, v):
        return self.m.linear(v)


def _shoelace(pts):
    return sum(x0 * y1 - x1 * y0 for (x0, y0), (x1, y1) in zip(pts, pts[1:])) / 2.0


def _cross(u, v):
    return u[0] * v[1] - u[1] * v[0]


def _power_basis(pts):
    """Coefficients of t**k of a Bezier curve's x and y."""
    n = len(pts) - 1
    xs, ys = [0.0] * (n + 1), [0.0] * (n + 1)
    for i, (px, py) in enumerate(pts):
        # B_i(t) = C(n, i) t^i (1 - t)^(n - i) = sum_k C(n, i) C(n - i, k) (-1)^k t^(i + k)
        for k in range(n - i + 1):
            c = math.comb(n, i) * math.comb(n - i, k) * (-1) ** k
            xs[i + k] += c * px
            ys[i + k] += c * py
    return xs, ys


def segment_area(s):
    """Half the integral of x dy - y dx along the segment (exact for lines,
    arcs and Bezier curves; a sampled curve by its samples)."""
    if isinstance(s, Line):
        return _cross(s.a, s.b) / 2.0
    if isinstance(s, EllArc):
        # p = c + ux cos t + uy sin t: p x p' = c x p' + ux x uy
        return (_cross(s.c, (s.b[0] - s.a[0], s.b[1] - s.a[1])) + _cross(s.ux, s.uy) * s.dt) / 2.0
    if isinstance(s, Bezier):
        xs, ys = _power_basis(s.pts)
        total = 0.0
        for i, (ax, ay) in enumerate(zip(xs, ys)):
            for j in range(1, len(xs)):
                total += j * (ax * ys[j] - ay * xs[j]) / (i + j)
        return total / 2.0
    return _shoelace(s.pts)


def loop_area(segs):
    """Signed area of a closed loop of segments (anticlockwise positive)."""
    return sum(segment_area(s) for s in segs)


def _angle_in(t, t0, dt):
    """Whether angle t lies on the sweep from t0 by dt (signed)."""
    lo, span = (t0, dt) if dt >= 0 else (t0 + dt, -dt)
    return (t - lo) % (2 * math.pi) <= span


def segment_box(s):
    """(x0, y0, x1, y1) of the segment's points."""
    if isinstance(s, EllArc):
        pts = [s.a, s.b]
        for axis in (0, 1):
            # x(t) = c + ux cos t + uy sin t is extreme where tan t = uy / ux
            t = math.atan2(s.uy[axis], s.ux[axis])
            for u in (t, t + math.pi):
                if s.full or _angle_in(u, s.t0, s.dt):
                    pts.append(s.point(u))
    elif isinstance(s, Bezier) and len(s.pts) <= 4:
        pts = [s.a, s.b]
        xs, ys = _power_basis(s.pts)
        for coef in (xs, ys):
            # roots in (0, 1) of the derivative, at most a quadratic
            d = [k * c for k, c in enumerate(coef)][1:] + [0.0, 0.0]
            c0, c1, c2 = d[0], d[1], d[2]
            roots = []
            if abs(c2) > 1e-300:
                disc = c1 * c1 - 4 * c2 * c0
                if disc >= 0:
                    q = -0.5 * (c1 + math.copysign(math.sqrt(disc), c1))
                    roots = [q / c2] + ([c0 / q] if q != 0 else [])
            elif abs(c1) > 1e-300:
                roots = [-c0 / c1]
            for t in roots:
                if 0.0 < t < 1.0:
                    pts.append((sum(c * t ** k for k, c in enumerate(xs)), sum(c * t ** k for k, c in enumerate(ys))))
    elif isinstance(s, Bezier):
        xs, ys = [p[0] for p in s.pts], [p[1] for p in s.pts]
        pts = [s.a] + s.chords(max(max(xs) - min(xs), max(ys) - min(ys)) * 1e-6)
    elif isinstance(s, Sampled):
        pts = s.pts
    else:
        pts = [s.a, s.b]
    xs, ys = [p[0] for p in pts], [p[1] for p in pts]
    return (min(xs), min(ys), max(xs), max(ys))


def ellipse_axes(arc):
    """(centre, major axis, ratio, start, end) of an elliptic arc as an
    ELLIPSE takes it: principal axes, the minor one anticlockwise of the
    major one, parameters increasing from start to end."""
    u, v, t0, dt = arc.ux, arc.uy, arc.t0, arc.dt
    uu, vv, uv = u[0] * u[0] + u[1] * u[1], v[0] * v[0] + v[1] * v[1], u[0] * v[0] + u[1] * v[1]
    if uv != 0.0:
        # conjugate diameters: turn the parameter to the principal axes
        s = 0.5 * math.atan2(2.0 * uv, uu - vv)
        c_, s_ = math.cos(s), math.sin(s)
        u, v = (u[0] * c_ + v[0] * s_, u[1] * c_ + v[1] * s_), (v[0] * c_ - u[0] * s_, v[1] * c_ - u[1] * s_)
        t0 -= s
    if u[0] * v[1] - u[1] * v[0] < 0.0:
        v, t0, dt = (-v[0], -v[1]), -t0, -dt
    if math.hypot(*v) > math.hypot(*u):
        u, v, t0 = v, (-u[0], -u[1]), t0 - math.pi / 2
    if dt < 0.0:
        t0, dt = t0 + dt, -dt
    ratio = min(1.0, math.hypot(*v) / math.hypot(*u))
    if dt >= 2 * math.pi - 1e-12:
        return arc.c, (u[0], u[1], 0.0), ratio, 0.0, 2 * math.pi
    t0 %= 2 * math.pi
    return arc.c, (u[0], u[1], 0.0), ratio, t0, t0 + dt
