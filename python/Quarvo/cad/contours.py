"""Contours of CAD drawings, independent of the file format.

Readers turn entities into segments (``Line``, ``EllArc``, ``Bezier``,
``Sampled``) in the job's unit, y up, each carrying ``src``, the words that
name its entity in messages, and ``drawn``, what it was drawn as (the
writers give it back the same way). ``assemble`` joins open pieces end to
end into loops, nests the loops by even-odd depth into parts (an outer loop
and its holes) and flattens every loop to chords on the side that keeps the
clearance: the material only grows, so an outer contour contains the true
one and a flattened hole lies within the true hole. Each part keeps its true
loops beside the chords. ``LayerChoice`` says which layers are read.

Errors are ``ContourError`` with one line; the caller adds the file name.
"""
import math
from dataclasses import dataclass

# Full turns of an arc get at least this many chords, however coarse the tolerance.
MIN_STEPS_PER_TURN = 8
# A curve (an arc, a circle, a spline) cut into more chords than this means a
# tolerance far too fine for the drawing: refused before the chords are made.
MAX_CHORDS = 100_000
# Bezier subdivision depth: 2**-30 of a curve is far below any useful tolerance.
MAX_DEPTH = 30
# Largest coordinate magnitude the engine takes.
MAX_COORDINATE = 1e12
# Relative agreement of arc centres and radii for a loop to count as one circle.
CIRCLE_REL = 1e-9
# Default flattening tolerance, as a fraction of the larger side of a part's
# bounding box. The drawing's own curves are what is written, so the chords are
# about the packing's speed alone: 1/500 packs a nest of 72 shop parts in a
# quarter less time than 1/1000 (benchmarks/bench_shop_files.py) for outlines
# at most 0.2 % larger.
TOLERANCE_FRACTION = 2e-3


class ContourError(ValueError):
    """A drawing that gives no sound parts; the message is one line."""


@dataclass(frozen=True)
class ReadBudget:
    """What reading one drawing may cost, checked before the work is done:
    a file of more than ``max_bytes`` is not read; one whose entities (DXF)
    or shapes (SVG), counted after expanding blocks, MINSERT arrays and
    ``<use>``, pass ``max_entities``, or whose vertices pass ``max_vertices``,
    is refused before anything is expanded. Curves are cut into at most
    MAX_CHORDS chords each. Within these the reading takes seconds and a few
    hundred MB at most; pass a larger budget to ``read_parts`` for drawings
    beyond them."""

    max_bytes: int = 32 << 20
    max_entities: int = 200_000
    max_vertices: int = 2_000_000


DEFAULT_BUDGET = ReadBudget()


def over_budget(what, count, limit, src):
    return ContourError(f"{src}: {count:.3g} {what} once expanded, more than the reading budget of {limit} "
                        "(read_parts(..., budget=ReadBudget(...)) raises it)")


def _too_many_chords(src, tol, n):
    return ContourError(f"{src}: a tolerance of {num(tol)} would cut it into {n:.3g} chords (at most "
                        f"{MAX_CHORDS} a curve): use a coarser tolerance")


def num(v):
    return f"{v:.10g}"


# ---------------------------------------------------------------- layers

# Layers that drawings commonly give their frame, title block, notes,
# dimensions, construction and centre lines (and, for the sheets to come,
# defects): left out unless named. Compared without case, spaces, "-", "_" and ".".
SKIPPED_LAYERS = (
    "BORDER", "BORDERS", "FRAME", "FRAMES", "TITLE", "TITLES", "TITLEBLOCK", "TEXT", "NOTES", "ANNOTATION",
    "ANNOTATIONS", "DIM", "DIMS", "DIMENSION", "DIMENSIONS", "DEFPOINTS", "CONSTRUCTION", "CONST", "CENTER",
    "CENTRE", "CENTERLINE", "CENTERLINES", "CENTRELINE", "CENTRELINES", "HIDDEN", "AXIS", "AXES", "DEFECT",
    "DEFECTS",
)


def layer_key(name):
    return "".join(ch for ch in str(name).upper() if ch not in " -_.")


_SKIPPED_KEYS = frozenset(layer_key(n) for n in SKIPPED_LAYERS)


class LayerChoice:
    """The layers parts are read from: ``names`` (compared without case), or
    by default every layer but SKIPPED_LAYERS. ``skipped`` collects the layers
    left out that held outlines, ``seen`` every layer that did."""

    def __init__(self, names=None):
        self.names = None if names is None else {str(n).upper() for n in names}
        self.skipped, self.seen = {}, {}
        self._taken = {}  # layer name as drawn -> taken

    @property
    def default(self):
        return self.names is None

    def takes(self, layer):
        taken = self._taken.get(layer)
        if taken is None:
            name = str(layer)
            self.seen.setdefault(name.upper(), name)
            taken = layer_key(name) not in _SKIPPED_KEYS if self.names is None else name.upper() in self.names
            self._taken[layer] = taken
        if not taken:
            self.skipped.setdefault(str(layer).upper(), str(layer))
        return taken

    def skipped_layers(self):
        return sorted(self.skipped.values(), key=str.upper)

    def seen_layers(self):
        return sorted(self.seen.values(), key=str.upper)


# ---------------------------------------------------------------- maps and what was drawn


class Affine:
    """The map p -> (a x + b y + e, c x + d y + f)."""

    __slots__ = ("a", "b", "c", "d", "e", "f")

    def __init__(self, a, b, c, d, e, f):
        self.a, self.b, self.c, self.d, self.e, self.f = a, b, c, d, e, f

    @classmethod
    def placement(cls, rotation, mirrored, tx, ty):
        """As the engine places an item: mirrored about the local y axis when
        it is, then turned by ``rotation`` and moved by (tx, ty)."""
        c, s = math.cos(rotation), math.sin(rotation)
        m = -1.0 if mirrored else 1.0
        return cls(m * c, -s, m * s, c, tx, ty)

    @classmethod
    def shift(cls, dx, dy):
        return cls(1.0, 0.0, 0.0, 1.0, dx, dy)

    def __call__(self, p):
        x, y = p
        return (self.a * x + self.b * y + self.e, self.c * x + self.d * y + self.f)

    def linear(self, v):
        x, y = v
        return (self.a * x + self.b * y, self.c * x + self.d * y)


class Spline:
    """A B-spline as drawn: its degree, control points, knots and weights (empty: not rational)."""

    __slots__ = ("degree", "points", "knots", "weights")

    def __init__(self, degree, points, knots, weights=()):
        self.degree, self.points, self.knots, self.weights = degree, list(points), list(knots), list(weights)

    def mapped(self, m):
        return Spline(self.degree, [m(p) for p in self.points], self.knots, self.weights)


class Drawn:
    """What segments were drawn as, shared by the segments of one entity:
    ``kind`` "line", "arc", "circle", "ellipse", "polyline" (lines and
    bulges), "spline" or "path" (an SVG shape); ``spline`` a spline's own
    definition, written back whole; ``first`` the end points of the entity's
    first segment as drawn, which give a line or a polyline back its own
    direction and start."""

    __slots__ = ("kind", "spline", "first")

    def __init__(self, kind, spline=None, first=None):
        self.kind, self.spline, self.first = kind, spline, first

    def mapped(self, m):
        if self.spline is None and self.first is None:
            return self
        return Drawn(self.kind, None if self.spline is None else self.spline.mapped(m),
                     None if self.first is None else (m(self.first[0]), m(self.first[1])))


def _sub(a, b):
    return (a[0] - b[0], a[1] - b[1])


def _dot(a, b):
    return a[0] * b[0] + a[1] * b[1]


def _cross(a, b):
    return a[0] * b[1] - a[1] * b[0]


def _dist(a, b):
    return math.hypot(a[0] - b[0], a[1] - b[1])


def _seg_dist(p, a, b):
    """Distance of p from the segment a-b."""
    d = _sub(b, a)
    dd = _dot(d, d)
    t = 0.0 if dd == 0.0 else max(0.0, min(1.0, _dot(_sub(p, a), d) / dd))
    return math.hypot(p[0] - a[0] - t * d[0], p[1] - a[1] - t * d[1])


class Line:
    __slots__ = ("a", "b", "src", "drawn")
    curve = False

    def __init__(self, a, b, src, drawn=None):
        self.a, self.b, self.src, self.drawn = a, b, src, drawn

    def reversed(self):
        return Line(self.b, self.a, self.src, self.drawn)

    def mapped(self, m, drawn):
        return Line(m(self.a), m(self.b), self.src, drawn)

    def samples(self):
        return [self.b]

    def flatten(self, tol):
        return [self.b]

    def hull(self):
        return [self.a, self.b]


class EllArc:
    """point(t) = c + ux cos t + uy sin t for t from t0 to t0 + dt (signed):
    a circular or elliptic arc, an affine image of the unit circle. ``a`` and
    ``b`` are the exact end points as drawn."""

    __slots__ = ("c", "ux", "uy", "t0", "dt", "a", "b", "src", "drawn")
    curve = False

    def __init__(self, c, ux, uy, t0, dt, src, a=None, b=None, drawn=None):
        self.c, self.ux, self.uy, self.t0, self.dt, self.src, self.drawn = c, ux, uy, t0, dt, src, drawn
        self.a = self.point(t0) if a is None else a
        self.b = self.a if b is None and self.full else self.point(t0 + dt) if b is None else b

    def point(self, t, f=1.0):
        c, s = math.cos(t) * f, math.sin(t) * f
        return (self.c[0] + self.ux[0] * c + self.uy[0] * s, self.c[1] + self.ux[1] * c + self.uy[1] * s)

    def reversed(self):
        return EllArc(self.c, self.ux, self.uy, self.t0 + self.dt, -self.dt, self.src, self.b, self.a, self.drawn)

    def mapped(self, m, drawn):
        return EllArc(m(self.c), m.linear(self.ux), m.linear(self.uy), self.t0, self.dt, self.src, m(self.a),
                      m(self.b), drawn)

    @property
    def full(self):
        return abs(abs(self.dt) - 2 * math.pi) < 1e-12

    def circle(self):
        """(centre, radius) when the arc is circular, else None."""
        rx, ry = math.hypot(*self.ux), math.hypot(*self.uy)
        if abs(rx - ry) <= CIRCLE_REL * rx and abs(_dot(self.ux, self.uy)) <= CIRCLE_REL * rx * ry:
            return self.c, 0.5 * (rx + ry)
        return None

    def stretch(self):
        """Largest distance from the centre: bounds the deviation of either flattening."""
        rx, ry = math.hypot(*self.ux), math.hypot(*self.uy)
        if abs(_dot(self.ux, self.uy)) <= 1e-12 * rx * ry:
            return max(rx, ry)
        return math.hypot(rx, ry)

    def steps(self, tol):
        r = self.stretch()
        turn = abs(self.dt)
        n = math.ceil(turn / (2 * math.pi) * MIN_STEPS_PER_TURN)
        if r > 0.0 and tol > 0.0:
            # circumscribed chords stand off by r (sec(h/2) - 1), inscribed ones
            # sag by r (1 - cos(h/2)), which is less: one step h serves both.
            # sec(h/2) = (r + tol) / r, solved without the cancellation of
            # acos near 1 (a tolerance far below r must still give its chords)
            h = 2.0 * math.atan(math.sqrt(tol * (2.0 * r + tol)) / r)
            if h > 0.0:
                n = max(n, math.ceil(turn / h))
        return max(1, n)

    def samples(self):
        n = math.ceil(abs(self.dt) / (2 * math.pi) * 64)
        return self.inscribed(max(2, n))

    def inscribed(self, n):
        h = self.dt / n
        return [self.point(self.t0 + k * h) for k in range(1, n)] + [self.b]

    def circumscribed(self, n):
        h = self.dt / n
        f = 1.0 / math.cos(h / 2)
        return [self.point(self.t0 + (k + 0.5) * h, f) for k in range(n)] + [self.b]

    def centre_left(self):
        """The centre lies left of the direction of travel."""
        return (self.dt > 0) == (_cross(self.ux, self.uy) > 0)

    def flatten(self, tol):
        # material lies on the left: around the centre the chords must stand
        # outside the curve, away from the centre they must cut inside it
        n = self.steps(tol)
        if n > MAX_CHORDS:
            raise _too_many_chords(self.src, tol, n)
        return self.circumscribed(n) if self.centre_left() else self.inscribed(n)

    def hull(self):
        return [self.a] + self.samples()


class _Curve:
    """A curve through its first and last point, bounded by all of them; its
    chords are pushed away from the material."""

    __slots__ = ("pts", "src", "drawn")
    curve = True

    def __init__(self, pts, src, drawn=None):
        self.pts, self.src, self.drawn = list(pts), src, drawn

    @property
    def a(self):
        return self.pts[0]

    @property
    def b(self):
        return self.pts[-1]

    def reversed(self):
        return type(self)(self.pts[::-1], self.src, self.drawn)

    def mapped(self, m, drawn):
        return type(self)([m(p) for p in self.pts], self.src, drawn)

    def hull(self):
        return self.pts


class Bezier(_Curve):
    """A Bezier curve of any degree given by its control points."""

    __slots__ = ()

    def chords(self, d):
        """On-curve points after the start whose chords the curve stays within d of."""
        out = []
        stack = [(self.pts, 0)]
        while stack:
            ctrl, depth = stack.pop()
            a, b = ctrl[0], ctrl[-1]
            if depth >= MAX_DEPTH or all(_seg_dist(p, a, b) <= d for p in ctrl[1:-1]):
                out.append(b)
                if len(out) > MAX_CHORDS:
                    raise _too_many_chords(self.src, d, len(out))
                continue
            left, right = _split(ctrl)
            stack.append((right, depth + 1))
            stack.append((left, depth + 1))
        return out

    def samples(self):
        xs = [p[0] for p in self.pts]
        ys = [p[1] for p in self.pts]
        size = max(max(xs) - min(xs), max(ys) - min(ys))
        return self.chords(size * 1e-3)

    def straight(self):
        a, b = self.pts[0], self.pts[-1]
        scale = max(abs(a[0]), abs(a[1]), abs(b[0]), abs(b[1]), _dist(a, b))
        return all(_seg_dist(p, a, b) <= 1e-13 * scale for p in self.pts[1:-1])


def _split(ctrl):
    left, right = [ctrl[0]], [ctrl[-1]]
    pts = ctrl
    while len(pts) > 1:
        pts = [((p[0] + q[0]) * 0.5, (p[1] + q[1]) * 0.5) for p, q in zip(pts, pts[1:])]
        left.append(pts[0])
        right.append(pts[-1])
    return left, right[::-1]


class Sampled(_Curve):
    """A curve known only by dense samples (a rational spline)."""

    __slots__ = ()

    def chords(self, d):
        return self.pts[1:]

    def samples(self):
        return self.pts[1:]

    def straight(self):
        return False


# ---------------------------------------------------------------- pushing out


def _push(points, d, closed):
    """Move a chain of chords by d to its right (away from the material), with
    mitre joins (square ones at sharp outer turns); an open chain keeps its end
    points and steps out to the pushed chords there."""
    pts = [p for k, p in enumerate(points) if k == 0 or p != points[k - 1]]
    if closed and len(pts) > 1 and pts[0] == pts[-1]:
        pts.pop()
    m = len(pts)
    if m < 2:
        return list(points)
    edges = m if closed else m - 1
    tn = []
    for i in range(edges):
        p, q = pts[i], pts[(i + 1) % m]
        ln = _dist(p, q)
        t = ((q[0] - p[0]) / ln, (q[1] - p[1]) / ln)
        tn.append((t, (t[1], -t[0])))
    out = []
    if not closed:
        out.append(pts[0])
        n0 = tn[0][1]
        out.append((pts[0][0] + d * n0[0], pts[0][1] + d * n0[1]))
    inner = range(m) if closed else range(1, m - 1)
    for j in inner:
        (tp, np_), (tq, nq) = tn[j - 1], tn[j]
        v = pts[j]
        c = _dot(np_, nq)
        if _cross(tp, tq) > 0 and c < -0.5:
            out.append((v[0] + d * (np_[0] + tp[0]), v[1] + d * (np_[1] + tp[1])))
            out.append((v[0] + d * (nq[0] - tq[0]), v[1] + d * (nq[1] - tq[1])))
        elif 1.0 + c < 1e-6:
            out.append((v[0] + d * np_[0], v[1] + d * np_[1]))
            out.append((v[0] + d * nq[0], v[1] + d * nq[1]))
        else:
            f = d / (1.0 + c)
            out.append((v[0] + f * (np_[0] + nq[0]), v[1] + f * (np_[1] + nq[1])))
    if not closed:
        nl = tn[-1][1]
        out.append((pts[-1][0] + d * nl[0], pts[-1][1] + d * nl[1]))
        out.append(pts[-1])
    return out


def _meet(p, u, q, v):
    """Where the line p + s u meets the line q + r v: (point, s, r), or None when parallel."""
    den = _cross(u, v)
    if den == 0.0:
        return None
    w = _sub(q, p)
    s, r = _cross(w, v) / den, _cross(w, u) / den
    return (p[0] + s * u[0], p[1] + s * u[1]), s, r


def _unit(p, q):
    ln = _dist(p, q)
    return None if ln == 0.0 else ((q[0] - p[0]) / ln, (q[1] - p[1]) / ln), ln


def _pushed_run(chain, d, before, after):
    """A run of curve chords pushed right by d between two fixed edges: where
    an edge turns right into the run (an inner corner of the pushed side) the
    pushed chord is cut at the edge, elsewhere the run steps out by d at its
    end points. ``before`` is the fixed edge (p, q) ending at the run's start,
    ``after`` the one starting at its end. Returns (new end of ``before`` or
    None, points of the run after its start, ends at the run's end)."""
    pushed = _push(chain, d, closed=False)  # V0, V0 + d n0, mitres ..., Vm + d nl, Vm
    first, last = pushed[1], pushed[-2]
    body = pushed[2:-2]
    new_before = None
    head = [first]
    got = _unit(chain[0], chain[1]) if len(chain) > 1 else None
    eb = _unit(*before)
    if got and eb and _cross(eb[0], got[0]) < 0:
        hit = _meet(before[0], eb[0], first, got[0])
        if hit is not None and 0.0 <= hit[1] <= eb[1] and 0.0 <= hit[2] <= got[1]:
            new_before, head = hit[0], []
    tail = [last, chain[-1]]
    gl = _unit(chain[-2], chain[-1]) if len(chain) > 1 else None
    ea = _unit(*after)
    if gl and ea and _cross(gl[0], ea[0]) < 0:
        hit = _meet(last, gl[0], after[0], ea[0])
        if hit is not None and -gl[1] <= hit[1] <= 0.0 and 0.0 <= hit[2] <= ea[1]:
            tail = [hit[0]]
    return new_before, head + body + tail


def flatten_loop(segs, tol):
    """Closed chord list (first point repeated last) of a loop whose material
    lies on its left, within tol of the true curve and never inside the material."""
    if len(segs) == 1 and isinstance(segs[0], EllArc) and segs[0].full:
        arc = segs[0]
        n = max(arc.steps(tol), 3)
        if n > MAX_CHORDS:
            raise _too_many_chords(arc.src, tol, n)
        pts = arc.circumscribed(n)[:-1] if arc.centre_left() else [arc.a] + arc.inscribed(n)[:-1]
        return pts + [pts[0]]
    # Bezier chords are at most d off the curve; the push by d and its mitre
    # (at most 2d at the sharpest turn that takes one) stay within tol.
    d = tol / 3.0
    kinds = [s.curve and not s.straight() for s in segs]
    if all(kinds):
        chain = [segs[0].a]
        for s in segs:
            chain.extend(s.chords(d))
        pts = _push(chain[:-1], d, closed=True)
        return pts + [pts[0]]
    # start at a segment that is no curve, so every run of curves is whole
    k = kinds.index(False)
    segs, kinds = segs[k:] + segs[:k], kinds[k:] + kinds[:k]
    blocks = []  # (True, chain from the run's start) or (False, flattened points after the start)
    i = 0
    while i < len(segs):
        if not kinds[i]:
            blocks.append((False, segs[i].flatten(tol)))
            i += 1
            continue
        chain = [segs[i].a]
        while i < len(segs) and kinds[i]:
            chain.extend(segs[i].chords(d))
            i += 1
        blocks.append((True, chain))
    out = [segs[0].a]
    for bi, (run, pts) in enumerate(blocks):
        if not run:
            out.extend(pts)
            continue
        pts = [out[-1]] + pts[1:]
        nxt = blocks[(bi + 1) % len(blocks)][1]  # fixed: runs never follow runs
        after_start = pts[-1] if bi + 1 < len(blocks) else out[0]
        new_before, emitted = _pushed_run(pts, d, (out[-2], out[-1]), (after_start, nxt[0]))
        if new_before is not None:
            out[-1] = new_before
        if bi + 1 == len(blocks) and emitted[-1] != pts[-1]:
            out[0] = emitted[-1]  # the run's cut end is the loop's first point
        out.extend(emitted)
    return out[:-1] + [out[0]]


def loop_circle(segs):
    """(centre, radius) when the loop is one whole circle drawn as arcs."""
    if not all(isinstance(s, EllArc) for s in segs):
        return None
    circles = [s.circle() for s in segs]
    if any(c is None for c in circles):
        return None
    (c0, r0) = circles[0]
    for c, r in circles[1:]:
        if abs(r - r0) > CIRCLE_REL * r0 or _dist(c, c0) > CIRCLE_REL * r0:
            return None
    turn = sum(s.dt for s in segs)
    if abs(abs(turn) - 2 * math.pi) > 1e-9:
        return None
    return c0, r0


# ---------------------------------------------------------------- chaining


class Piece:
    """Segments in order, end to end; ``closed`` when the last ends at the first.
    Open pieces join only pieces of their own ``group`` (None: any other)."""

    __slots__ = ("segs", "closed", "order", "group")

    def __init__(self, segs, closed, order, group=None):
        self.segs, self.closed, self.order, self.group = segs, closed, order, group


def _cells(p, size):
    return (math.floor(p[0] / size), math.floor(p[1] / size))


def chain_pieces(pieces, snap, where):
    """Closed pieces as they are, open ones joined end to end within snap into
    loops, each group apart (the parts of a written layout, however close).
    Every end must meet exactly one other end."""
    loops = [p for p in pieces if p.closed]
    groups = {}
    for p in pieces:
        if not p.closed:
            groups.setdefault(p.group, []).append(p)
    for open_ in groups.values():
        loops.extend(_joined(open_, snap, where))
    return loops


def _joined(open_, snap, where):
    loops = []
    grid = {}
    ends = []  # (piece index, 0 = start / 1 = end, point)
    for i, p in enumerate(open_):
        for side, pt in ((0, p.segs[0].a), (1, p.segs[-1].b)):
            e = len(ends)
            ends.append((i, side, pt))
            grid.setdefault(_cells(pt, snap), []).append(e)
    partner = [None] * len(ends)
    for e, (i, side, pt) in enumerate(ends):
        cx, cy = _cells(pt, snap)
        near = []
        for gx in (cx - 1, cx, cx + 1):
            for gy in (cy - 1, cy, cy + 1):
                for f in grid.get((gx, gy), ()):
                    if f != e and _dist(ends[f][2], pt) <= snap:
                        near.append(f)
        seg = open_[i].segs[0 if side == 0 else -1]
        if not near:
            raise ContourError(f"open contour ({seg.src}) ends at {where(pt)} with no other entity within {num(snap)}")
        if len(near) > 1:
            names = ", ".join(open_[ends[f][0]].segs[0 if ends[f][1] == 0 else -1].src for f in near[:3])
            raise ContourError(f"contours branch at {where(pt)}: {len(near) + 1} entity ends meet there ({seg.src}, {names})")
        partner[e] = near[0]
    used = [False] * len(open_)
    for i0 in range(len(open_)):
        if used[i0]:
            continue
        segs = []
        i, forward = i0, True
        while True:
            used[i] = True
            p = open_[i]
            segs.extend(p.segs if forward else [s.reversed() for s in reversed(p.segs)])
            out_end = 2 * i + (1 if forward else 0)
            f = partner[out_end]
            i, side = ends[f][0], ends[f][1]
            forward = side == 0
            if i == i0:
                break
            if used[i]:  # a cycle that does not come back to its start cannot happen with unique partners
                raise ContourError(f"contours branch near {where(ends[f][2])} ({open_[i].segs[0].src})")
        loops.append(Piece(segs, True, open_[i0].order))
    return loops


# ---------------------------------------------------------------- nesting


def _area(pts):
    s = 0.0
    for (x0, y0), (x1, y1) in zip(pts, pts[1:]):
        s += x0 * y1 - x1 * y0
    return s / 2.0


def _bbox(pts):
    xs = [p[0] for p in pts]
    ys = [p[1] for p in pts]
    return (min(xs), min(ys), max(xs), max(ys))


def _locate(pt, poly, eps):
    """+1 inside, -1 outside, 0 within eps of the closed contour poly."""
    x, y = pt
    inside = False
    for (x0, y0), (x1, y1) in zip(poly, poly[1:]):
        if _seg_dist(pt, (x0, y0), (x1, y1)) <= eps:
            return 0
        if (y0 > y) != (y1 > y):
            xc = x0 + (y - y0) * (x1 - x0) / (y1 - y0)
            if xc > x:
                inside = not inside
    return 1 if inside else -1


def _proper_cross(p, q, r, s, eps=0.0):
    """The open segments p-q and r-s cross at one point, each reaching more
    than eps beyond the other's line (touching does not count, nor a crossing
    that rounding makes of a touch: parts written side by side with no gap)."""
    d1 = _cross(_sub(q, p), _sub(r, p))
    d2 = _cross(_sub(q, p), _sub(s, p))
    d3 = _cross(_sub(s, r), _sub(p, r))
    d4 = _cross(_sub(s, r), _sub(q, r))
    if not (((d1 > 0 and d2 < 0) or (d1 < 0 and d2 > 0)) and ((d3 > 0 and d4 < 0) or (d3 < 0 and d4 > 0))):
        return False
    if eps > 0.0:
        # |d| / length is how far an end lies off the other segment's line
        lpq, lrs = _dist(p, q), _dist(r, s)
        if min(abs(d1), abs(d2)) <= eps * lpq or min(abs(d3), abs(d4)) <= eps * lrs:
            return False
    return True


# Crossings shallower than this share of the drawing's size, or than the
# engine's tolerance (parts it placed touching may reach that far into each
# other), are touches, not crossings: a nest written with no gap reads back.
CROSS_REL = 1e-10
TOUCH_DEPTH = 2e-6


def find_crossing(rings):
    """The first proper crossing between edges of closed contours (edges of one
    contour that share a vertex excepted, and crossings within CROSS_REL of the
    drawing's size): (ring a, edge i, ring b, edge j, point) or None."""
    edges = []
    for r, pts in enumerate(rings):
        n = len(pts) - 1
        for i in range(n):
            edges.append((r, i, n, pts[i], pts[i + 1]))
    if len(edges) < 2:
        return None
    xs = [e[3][0] for e in edges] + [e[4][0] for e in edges]
    ys = [e[3][1] for e in edges] + [e[4][1] for e in edges]
    span = max(max(xs) - min(xs), max(ys) - min(ys)) or 1.0
    eps = max(CROSS_REL * span, TOUCH_DEPTH)
    size = span / max(1.0, math.sqrt(len(edges)))
    x0, y0 = min(xs), min(ys)
    grid = {}
    for k, (_, _, _, p, q) in enumerate(edges):
        ax, bx = int((p[0] - x0) / size), int((q[0] - x0) / size)
        ay, by = int((p[1] - y0) / size), int((q[1] - y0) / size)
        gx0, gx1 = (ax, bx) if ax <= bx else (bx, ax)
        gy0, gy1 = (ay, by) if ay <= by else (by, ay)
        for gx in range(gx0, gx1 + 1):
            for gy in range(gy0, gy1 + 1):
                grid.setdefault((gx, gy), []).append(k)
    seen = set()
    for cell in grid.values():
        for a in range(len(cell)):
            ka = cell[a]
            ra, ia, na, p, q = edges[ka]
            for kb in cell[a + 1:]:
                rb, ib, nb, r, s = edges[kb]
                if ra == rb and (abs(ia - ib) <= 1 or abs(ia - ib) == na - 1):
                    continue
                if (ka, kb) in seen:
                    continue
                seen.add((ka, kb))
                if _proper_cross(p, q, r, s, eps):
                    d = _sub(q, p)
                    den = _cross(d, _sub(s, r))
                    t = _cross(_sub(r, p), _sub(s, r)) / den
                    return ra, ia, rb, ib, (p[0] + t * d[0], p[1] + t * d[1])
    return None


class Loop:
    __slots__ = ("segs", "order", "poly", "srcs", "area", "bbox", "depth", "parent", "children")

    def __init__(self, piece):
        self.segs, self.order = piece.segs, piece.order
        pts, srcs = [], []
        for s in self.segs:
            got = s.samples()
            pts.extend(got)
            srcs.extend([s.src] * len(got))
        self.poly = [pts[-1]] + pts
        self.srcs = [srcs[-1]] + srcs  # srcs[i]: the entity of the edge ending at poly[i]
        self.area = _area(self.poly)
        self.bbox = _bbox(self.poly)
        self.depth, self.parent, self.children = 0, None, []

    def size(self):
        return max(self.bbox[2] - self.bbox[0], self.bbox[3] - self.bbox[1])

    def edge_src(self, i):
        return self.srcs[i + 1]


def _inside(a, b, eps, where):
    """Loop a lies inside loop b (their contours do not cross)."""
    if not (b.bbox[0] <= a.bbox[0] and b.bbox[1] <= a.bbox[1] and a.bbox[2] <= b.bbox[2] and a.bbox[3] <= b.bbox[3]):
        return False
    step = max(1, (len(a.poly) - 1) // 8)
    verdicts = [_locate(p, b.poly, eps) for p in a.poly[:-1:step]]
    if 1 not in verdicts and -1 not in verdicts:
        raise ContourError(f"contour ({a.segs[0].src}) at {where(a.poly[0])} lies on another one ({b.segs[0].src}): "
                           "drawn twice?")
    return 1 in verdicts and -1 not in verdicts


# A loop whose box covers more cells of the nesting grid than this is kept
# apart and tried against every loop (frames, sheets: a few).
_BIG_LOOP_CELLS = 64


def _nest(loops, eps, where):
    """Even-odd nesting: the innermost loop around a loop is its parent.

    Only a loop whose box holds the other's can hold it, and such a box holds
    the other's centre: a grid of the boxes gives each loop the few candidates
    around its centre, so a drawing of many parts nests in linear time."""
    by_area = sorted(range(len(loops)), key=lambda k: abs(loops[k].area))
    rank = {k: r for r, k in enumerate(by_area)}
    x0 = min(l.bbox[0] for l in loops)
    y0 = min(l.bbox[1] for l in loops)
    span = max(max(l.bbox[2] for l in loops) - x0, max(l.bbox[3] for l in loops) - y0) or 1.0
    size = span / max(1.0, math.ceil(math.sqrt(len(loops))))

    def cell(v, lo):
        return int((v - lo) / size)

    grid, big = {}, []
    for k, l in enumerate(loops):
        cx0, cx1 = cell(l.bbox[0], x0), cell(l.bbox[2], x0)
        cy0, cy1 = cell(l.bbox[1], y0), cell(l.bbox[3], y0)
        if (cx1 - cx0 + 1) * (cy1 - cy0 + 1) > _BIG_LOOP_CELLS:
            big.append(k)
            continue
        for gx in range(cx0, cx1 + 1):
            for gy in range(cy0, cy1 + 1):
                grid.setdefault((gx, gy), []).append(k)
    for ka in by_area:
        a = loops[ka]
        centre = (cell((a.bbox[0] + a.bbox[2]) / 2, x0), cell((a.bbox[1] + a.bbox[3]) / 2, y0))
        # ties keep the order of the areas: a loop is held only by one after it
        near = grid.get(centre, ())
        candidates = [kb for kb in (list(near) + big if big else near) if rank[kb] > rank[ka]]
        if len(candidates) > 1:
            candidates.sort(key=rank.get)
        for kb in candidates:
            if _inside(a, loops[kb], eps, where):
                a.parent = loops[kb]
                break


class Part:
    """An outer loop with its holes, flattened; ``true_outer`` and
    ``true_holes`` are the same loops as drawn (segments, the outer one
    anticlockwise, the holes clockwise); ``circle`` is (centre, radius) for a
    lone whole circle, ``round_outer`` / ``round_holes`` mark loops that were
    whole circles."""

    __slots__ = ("outer", "holes", "true_outer", "true_holes", "circle", "round_outer", "round_holes", "order",
                 "src", "tol")


BORDER_WORDS = "looks like a border; name the part layers with --layers"


def assemble(pieces, snap, tolerance, where, refuse_border=False):
    """Parts of the drawing, in the order their outer contours first appear.
    With ``refuse_border``, a contour that holds every other one of a drawing
    of several parts is refused as a border."""
    loops = [Loop(p) for p in chain_pieces(pieces, snap, where)]
    if not loops:
        return []
    span = max(max(l.bbox[2] for l in loops) - min(l.bbox[0] for l in loops),
               max(l.bbox[3] for l in loops) - min(l.bbox[1] for l in loops))
    eps = span * 1e-12
    hit = find_crossing([l.poly for l in loops])
    if hit is not None:
        ra, ia, rb, ib, pt = hit
        sa, sb = loops[ra].edge_src(ia), loops[rb].edge_src(ib)
        if ra == rb:
            raise ContourError(f"self-crossing contour ({sa}) crosses itself at {where(pt)}" +
                               ("" if sa == sb else f" (with {sb})"))
        raise ContourError(f"contours cross at {where(pt)}: {sa} and {sb}")
    for l in loops:
        if abs(l.area) <= (l.size() ** 2) * 1e-12 or l.size() <= eps:
            raise ContourError(f"contour ({l.segs[0].src}) at {where(l.poly[0])} encloses no area")
    _nest(loops, eps, where)
    for l in sorted(loops, key=lambda l: -abs(l.area)):
        if l.parent is not None:
            l.depth = l.parent.depth + 1
            l.parent.children.append(l)
    tops = [l for l in loops if l.depth == 0]
    if refuse_border and len(tops) == 1 and sum(1 for l in loops if l.depth % 2 == 0) > 1:
        raise ContourError(f"contour ({tops[0].segs[0].src}) at {where(tops[0].poly[0])} {BORDER_WORDS}")
    parts = []
    for l in sorted((l for l in loops if l.depth % 2 == 0), key=lambda l: l.order):
        holes = sorted(l.children, key=lambda h: h.order)
        tol = tolerance if tolerance is not None else TOLERANCE_FRACTION * l.size()
        part = Part()
        part.order, part.src, part.tol = l.order, l.segs[0].src, tol
        circle = loop_circle(l.segs)
        part.circle = circle if circle is not None and not holes else None
        part.round_outer = circle
        # material left of travel: outer contours anticlockwise, holes clockwise
        part.true_outer = _oriented(l, ccw=True)
        part.true_holes = [_oriented(h, ccw=False) for h in holes]
        part.outer = flatten_loop(part.true_outer, tol)
        part.holes = [flatten_loop(h, tol) for h in part.true_holes]
        part.round_holes = [loop_circle(h.segs) for h in holes]
        # chords of curves may cross where the curves did not; straight edges were judged above
        curved = any(not isinstance(s, Line) for r in [l] + holes for s in r.segs)
        if curved and (holes or circle is None):
            hit = find_crossing([part.outer] + part.holes)
            if hit is not None:
                ra, _, rb, _, pt = hit
                names = [l] + holes
                raise ContourError(f"contour ({names[ra].segs[0].src}) crosses "
                                   f"{'itself' if ra == rb else names[rb].segs[0].src} at {where(pt)} "
                                   f"once flattened within {num(tol)}: a finer tolerance may help")
        parts.append(part)
    return parts


def _oriented(loop, ccw):
    if (loop.area > 0) == ccw:
        return loop.segs
    return [s.reversed() for s in reversed(loop.segs)]
