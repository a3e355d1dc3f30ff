"""Layout checking: does a packing result keep every item inside its bin, clear
of the others and at the required distance?

The check works on each item's true outline: its stored geometry rotated and
translated, with no inflation (whatever ``infl`` holds), circles as exact
circles. A container's holes are empty space: an item wholly inside a hole is
apart from the container by its distance to the hole's wall; an item across
the wall overlaps it. Distances are exact point, segment and circle distances,
found with a bounding-box sweep; the placers' own tests are not used.

    report = check_layout(FirstFit(items, bin, 2.0).do_pack(), bin, distance=2.0,
                          circle_rel_tol=CIRCLE_REL_TOL)
    if not report.ok:
        print(report.summary())

Both placers see a circle as an inscribed 64-gon, so a packed circle may come
up to ``CIRCLE_REL_TOL`` of its radius (grown by half the distance) closer to
a neighbour than the polygon they reasoned with; pass
``circle_rel_tol=CIRCLE_REL_TOL`` to allow for that.

The default ``tol`` is ``TOLERANCE`` = sqrt(2) x 1e-6, the tolerance to which the
engine keeps the distance and the bin: no-fit polygons are snapped to the
union's 1e-6 grid (half a unit per coordinate) and the union rounds the points
where their edges cross to it (as much again), so a place can lie up to
sqrt(2) x 1e-6 short of touching; the candidate search lets an item out of
the bin by 1e-6. Every judgement also allows ``ROUNDING_TOLERANCE`` (1e-14) of
the coordinates' magnitude for the rounding of doubles.

With ``gravity=True`` the check also reports every item that is not at rest
("floating", with the reason), and ``hosts`` tells which item's hole holds
each item. Given a ``Bin`` (or one per bin of the layout) it judges what each
bin carries too: more than its ``max_load`` of the items' mass is
"overloaded", a pipe longer than its ``length`` is "too_long". An item below
the engine's grid (its material's area over perimeter under ``TOLERANCE``)
gets no tolerance but the rounding, so no overlap of such items passes.
"""
import math
from dataclasses import dataclass, field
from typing import Any, List, Optional, Sequence, Tuple

from Quarvo._quarvo import check as _c
from Quarvo._quarvo import stock as _stock
from Quarvo.geometry import Circle, Pipe, Shape
from Quarvo.geometry_handle import point_in_polygon

__all__ = [
    "CIRCLE_REL_TOL",
    "ROUNDING_TOLERANCE",
    "TOLERANCE",
    "CheckReport",
    "BinReport",
    "Violation",
    "REST_TOL",
    "LoadingReport",
    "area_over_perimeter",
    "check_layout",
    "check_loading",
    "check_plan",
    "circle_tolerance",
    "grid_limit",
    "hosts",
    "measure_pair",
    "nesting_depths",
    "outside_amount",
    "rest_states",
]

# Gap between a circle and the inscribed polygon the placers see, relative to the radius.
CIRCLE_REL_TOL = _c.CIRCLE_REL_TOL
# How far the engine may leave items short of the distance or past the bin.
TOLERANCE = _c.GRID_TOLERANCE
# The rounding of doubles every judgement allows, relative to the coordinates' magnitude.
ROUNDING_TOLERANCE = _c.ROUNDING_TOLERANCE
# How far beyond its spacers a contact of an item at rest may stand off.
REST_TOL = _c.REST_TOL

measure_pair = _c.measure_pair
area_over_perimeter = _c.area_over_perimeter
# The least area over perimeter of an item the engine keeps apart where
# coordinates reach the magnitude given (a bin's larger side): TOLERANCE plus
# the rounding of doubles there. Below it the library refuses the item.
grid_limit = _c.grid_limit
outside_amount = _c.outside_amount

KINDS = ("invalid", "duplicate", "outside", "overlap", "too_close", "near_edge", "floating", "overloaded", "too_long",
         "on_defect", "near_defect")


def circle_tolerance(items: Sequence[Shape], distance: float = 0.0) -> float:
    """The largest extra slack ``circle_rel_tol`` = CIRCLE_REL_TOL gives any pair
    of ``items`` (two largest circles, radii grown by half the distance)."""
    radii = sorted((it.radius + max(distance, 0.0) / 2.0 for it in items if isinstance(it, Circle)), reverse=True)
    return CIRCLE_REL_TOL * sum(radii[:2])


@dataclass(frozen=True)
class Violation:
    """One fault. ``items`` are positions in the bin's item list (one for
    invalid, duplicate, outside, near_edge, floating and too_long, two for
    overlap and too_close, every item with a mass for overloaded).

    ``amount``: outside, how far the outline reaches past the bin; overlap, how
    far one outline reaches into the other; too_close, how much the clear
    distance falls short of the required one; near_edge, how much the
    distance to the bin's nearest edge falls short of the margin;
    overloaded, how many kg the bin's load exceeds its max_load by;
    too_long, how many mm the pipe is longer than the bin.
    ``clearance`` is the clear distance of a pair (negative for an overlap),
    or for near_edge the distance to the nearest edge. ``reason``: floating,
    why the item does not rest ("no contact", "one contact, not below its
    centre", ...). ``value`` and ``limit``: overloaded, the bin's load and
    max_load (kg); too_long, the pipe's length (m) and the bin's (mm)."""

    kind: str
    bin: int
    items: Tuple[int, ...]
    shape_ids: Tuple[Any, ...]
    amount: float
    clearance: Optional[float] = None
    reason: Optional[str] = None
    value: Optional[float] = None
    limit: Optional[float] = None

    def _who(self, k: int) -> str:
        return f"item {self.items[k]} (id {self.shape_ids[k]!r})"

    def _all(self, most: int = 6) -> str:
        named = ", ".join(self._who(k) for k in range(min(most, len(self.items))))
        return named + (f" and {len(self.items) - most} more" if len(self.items) > most else "")

    def __str__(self) -> str:
        where = "unplaced" if self.bin < 0 else f"bin {self.bin}"
        if self.kind == "outside":
            return f"{where}: {self._who(0)} is outside the bin by {self.amount:.6g}"
        if self.kind == "overlap":
            return f"{where}: {self._who(0)} and {self._who(1)} overlap, depth {self.amount:.6g}"
        if self.kind == "too_close":
            return (f"{where}: {self._who(0)} and {self._who(1)} are {self.clearance:.6g} apart, "
                    f"{self.amount:.6g} short of the distance")
        if self.kind == "near_edge":
            return (f"{where}: {self._who(0)} is {self.clearance:.6g} from the bin's edge, "
                    f"{self.amount:.6g} short of the margin")
        if self.kind == "floating":
            return f"{where}: {self._who(0)} is not at rest: {self.reason}"
        if self.kind == "overloaded":
            return (f"{where}: {self._all()} weigh {self.value:.6g} kg, {self.amount:.6g} kg more than "
                    f"the bin's max_load of {self.limit:.6g} kg")
        if self.kind == "too_long":
            return (f"{where}: {self._who(0)} is {self.value:.6g} m long, {self.amount:.6g} mm longer than "
                    f"the bin's length of {self.limit:.6g} mm")
        if self.kind == "on_defect":
            return f"{where}: {self._who(0)} lies on {self.reason}, depth {self.amount:.6g}"
        if self.kind == "near_defect":
            return (f"{where}: {self._who(0)} is {self.clearance:.6g} from {self.reason}, "
                    f"{self.amount:.6g} short of the margin")
        if self.kind == "duplicate":
            return f"{where}: {self._who(0)} appears more than once in the layout"
        return f"{where}: {self._who(0)} has no usable outline (non-finite values, negative radius or no points)"


@dataclass
class BinReport:
    index: int
    n_items: int
    violations: List[Violation] = field(default_factory=list)
    # The bin it was judged against: its width and height (a strip's used
    # length plus its margin), and its max_load (kg) and length (mm), None
    # for no limit.
    width: Optional[float] = None
    height: Optional[float] = None
    max_load: Optional[float] = None
    length: Optional[float] = None

    @property
    def ok(self) -> bool:
        return not self.violations


@dataclass
class CheckReport:
    bins: List[BinReport]
    n_unplaced: int
    bin_w: float
    bin_h: float
    distance: float
    tol: float
    circle_rel_tol: float = 0.0
    # Faults that belong to no bin: items listed twice among the unplaced.
    other: List[Violation] = field(default_factory=list)
    margin: float = 0.0
    gravity: bool = False

    @property
    def violations(self) -> List[Violation]:
        return [v for b in self.bins for v in b.violations] + list(self.other)

    @property
    def ok(self) -> bool:
        return not self.other and all(b.ok for b in self.bins)

    def count(self, kind: str) -> int:
        return sum(1 for v in self.violations if v.kind == kind)

    def worst(self, kind: str) -> float:
        """The largest amount among violations of ``kind``, 0.0 when none."""
        return max((v.amount for v in self.violations if v.kind == kind), default=0.0)

    def summary(self, max_lines: int = 20) -> str:
        placed = sum(b.n_items for b in self.bins)
        setting = f"distance {self.distance:g}, tol {self.tol:g}"
        if self.circle_rel_tol:
            setting += f", circle_rel_tol {self.circle_rel_tol:.3g}"
        if self.margin:
            setting += f", margin {self.margin:g}"
        loads = {b.max_load for b in self.bins if b.max_load is not None}
        lengths = {b.length for b in self.bins if b.length is not None}
        if loads:
            setting += f", max_load {loads.pop():g} kg" if len(loads) == 1 else ", max_load per bin"
        if lengths:
            setting += f", length {lengths.pop():g} mm" if len(lengths) == 1 else ", length per bin"
        if self.gravity:
            setting += ", every item at rest"
        scope = f"{len(self.bins)} bins, {placed} items placed, {self.n_unplaced} unplaced; {setting}"
        if self.ok:
            return f"layout check: ok ({scope})"
        vs = self.violations
        counts = ", ".join(f"{self.count(k)} {k}" for k in KINDS if self.count(k))
        bad = sum(1 for b in self.bins if not b.ok)
        lines = [f"layout check: FAILED ({counts} in {bad} of {len(self.bins)} bins; {scope})"]
        lines += [f"  {v}" for v in vs[:max_lines]]
        if len(vs) > max_lines:
            lines.append(f"  ... and {len(vs) - max_lines} more")
        return "\n".join(lines)

    __str__ = summary


def _is_item_list(x: Any) -> bool:
    return isinstance(x, (list, tuple)) and all(isinstance(e, Shape) for e in x)


_FORMS = "a do_pack result, a list of bins or a list of items"


def _split(layout: Any) -> Tuple[List[List[Shape]], List[Shape]]:
    """(bins, unplaced) from a do_pack result, a list of bins, one bin's item
    list or a placer."""
    if isinstance(layout, (str, bytes)) or layout is None:
        raise TypeError(f"layout must be {_FORMS}, not {type(layout).__name__}")
    if not isinstance(layout, (list, tuple)) and hasattr(layout, "packed"):
        return [list(layout.packed)], []
    if (isinstance(layout, tuple) and len(layout) == 2 and isinstance(layout[0], (list, tuple))
            and not any(isinstance(b, Shape) for b in layout[0]) and _is_item_list(layout[1])):
        bins, unplaced = layout
        if not all(_is_item_list(b) for b in bins):
            raise TypeError("every bin of a do_pack result must be a list of items")
        return [list(b) for b in bins], list(unplaced)
    try:
        seq = list(layout)
    except TypeError:
        raise TypeError(f"layout must be {_FORMS}, not {type(layout).__name__}") from None
    if all(isinstance(e, Shape) for e in seq):
        return ([seq] if seq else []), []
    if all(_is_item_list(b) for b in seq):
        return [list(b) for b in seq], []
    raise TypeError("layout must be a do_pack result, a list of bins (lists of items) or a list of items")


def _top(item):
    """Largest y of an item's outline (a circle's true top)."""
    try:
        if isinstance(item, Circle):
            (_, cy), r = item.transformed()
            return cy + r
        return max(p[1] for p in item.transformed())
    except (TypeError, ValueError):  # an unusable item is reported by the check itself
        return 0.0


def _is_bin(b: Any) -> bool:
    return hasattr(b, "width") and hasattr(b, "height")


def _limit(b: Any, name: str) -> Optional[float]:
    v = getattr(b, name, None)
    if v is None:
        return None
    if isinstance(v, bool) or not isinstance(v, (int, float)) or not v > 0:
        raise ValueError(f"the bin's {name} must be a number > 0 or None, got {v!r}")
    return float(v)


def _bins_given(bin_w, bin_h, margin, n_bins):
    """Per bin of the layout: (width, height, strip, margin, max_load, length)
    from a width and height, a Bin, or one Bin per bin."""
    if bin_h is not None:
        return [(bin_w, bin_h, False, _margin(margin), None, None)] * n_bins
    if isinstance(bin_w, (list, tuple)):
        if not bin_w or not all(_is_bin(b) for b in bin_w):
            raise TypeError("give bin_w and bin_h, a Bin, or a list of Bins (one per bin of the layout)")
        if len(bin_w) != n_bins:
            raise ValueError(f"{len(bin_w)} bins given for a layout of {n_bins} bins: give one Bin for all, "
                             f"or one per bin of the layout")
        given = list(bin_w)
    elif _is_bin(bin_w):
        given = [bin_w] * n_bins
    else:
        raise TypeError("give bin_w and bin_h, a Bin, or a list of Bins (one per bin of the layout)")
    return [(b.width, b.height, b.height is None, _margin(getattr(b, "margin", 0.0) if margin is None else margin),
             _limit(b, "max_load"), _limit(b, "length")) for b in given]


def check_layout(layout: Any, bin_w: Any, bin_h: Optional[float] = None, distance: float = 0.0,
                 tol: float = TOLERANCE, circle_rel_tol: float = 0.0, margin: Optional[float] = None,
                 gravity: bool = False, contact_tol: float = REST_TOL) -> CheckReport:
    """Check a packing result against a bin size and a required clear distance.

    ``layout``: the ``(bins, unplaced)`` pair of ``do_pack``, a list of bins
    (each a list of items), one flat list of items (a placer's ``packed``) or a
    placer. ``bin_w`` may be a ``Bin`` when ``bin_h`` is omitted, or a list of
    ``Bin``s, one per bin of the layout; a ``Bin`` without a height is a
    strip, open upward. A ``Bin``'s ``max_load`` and ``length`` are judged too:
    a bin whose items' ``mass`` adds up to more than its max_load is
    ``overloaded`` (naming every item with a mass, the load and the excess),
    and a pipe longer than its length (the pipe's in m, the bin's in mm) is
    ``too_long``.

    Per bin it reports items whose outline leaves [0, bin_w] x [0, bin_h] by
    more than ``tol``, pairs whose interiors overlap by more than ``tol``,
    pairs whose clear distance is less than ``distance - tol``, and
    (``near_edge``) items inside the bin but closer than ``margin - tol`` to
    one of its edges (``margin`` defaults to the ``Bin``'s own margin when a
    ``Bin`` is given, else 0; a strip's open top is no edge); ``tol`` is the
    engine's tolerance by default, and 1e-14 of the coordinates' magnitude is
    allowed on top for the rounding of doubles. An item below the engine's
    grid, whose material's area over its perimeter (``area_over_perimeter``:
    a disc's radius / 2, a ring's wall / 2) is under ``TOLERANCE``, could lie
    wholly within that tolerance of another and is judged with the rounding
    alone (the library refuses such items). Pairs with
    circles get ``circle_rel_tol`` x (radius + distance / 2) more slack per
    circle. A negative ``distance`` lets pairs overlap by that much. An item
    listed twice in the layout is a ``duplicate``; an item without a usable
    outline (non-finite values, negative radius, no points, coordinates beyond
    1e100) is ``invalid``. Unplaced items are not checked.

    With ``gravity=True``, every item that is not at rest is ``floating``,
    with the reason. A circle rests when the upward direction lies in the cone
    of its contact normals (each pointing from the contact towards its
    centre), counting the floor, the walls, other items and the wall of the
    hole it lies in; a single contact right below its centre holds it only on
    a flat or hollow support (the floor, a straight edge, a bore's wall). A
    polygon rests when it touches the floor, or when its supporting contacts
    below its centroid lie on both sides of the centroid's vertical (a wall
    counts for its side). Two items touch when their gap is at most their
    spacings (``distance`` / 2 plus each item's own ``inflation`` and
    ``margin``) plus ``contact_tol``, plus (radius + spacing) x (1 / cos(pi /
    64) - 1) for each circle (drawn as a circumscribed 64-gon); an item
    touches the floor or a wall when its gap there is at most its spacing or
    the margin, whichever is larger, plus ``contact_tol``, nothing more.
    Items lying in an item's holes are its load, not its supports.

    ValueError for non-finite bin sizes or distance and for negative or
    non-finite ``tol`` / ``circle_rel_tol`` / ``margin``; TypeError for a
    layout that is none of the forms above.
    """
    if not isinstance(gravity, bool):
        raise TypeError(f"gravity must be True or False, not {type(gravity).__name__}")
    bins, unplaced = _split(layout)
    given = _bins_given(bin_w, bin_h, margin, max(len(bins), 1))
    records = (list(bin_w) if isinstance(bin_w, (list, tuple)) else [bin_w] * max(len(bins), 1)) \
        if bin_h is None else [None] * max(len(bins), 1)
    seen = {}
    reports: List[BinReport] = []
    other: List[Violation] = []
    for b, items in enumerate(bins):
        w, h, strip, edge, max_load, length = given[b]
        if strip:
            # A strip (a Bin without a height) is open upward: only its width and
            # floor bind, and its top is no edge to keep the margin from.
            h = max((t for t in map(_top, items) if math.isfinite(t)), default=0.0) + edge
        rep = BinReport(b, len(items), width=float(w), height=float(h), max_load=max_load, length=length)
        for kind, i, j, amount, clearance, why, value in _c.check_items(
                items, w, h, distance, tol, circle_rel_tol, edge, gravity, contact_tol, max_load, length):
            if kind == "overloaded":
                pos = tuple(k for k, it in enumerate(items) if it.mass > 0)
                rep.violations.append(Violation(kind, b, pos, tuple(items[k].shape_id for k in pos), amount,
                                                value=value, limit=max_load))
                continue
            ids = (items[i].shape_id,) if i == j else (items[i].shape_id, items[j].shape_id)
            pos = (i,) if i == j else (i, j)
            rep.violations.append(Violation(kind, b, pos, ids, amount,
                                            clearance if kind in ("overlap", "too_close", "near_edge") else None,
                                            why, value if kind == "too_long" else None,
                                            length if kind == "too_long" else None))
        record = records[b]
        if record is not None and _shaped(record):
            # an item past the outline is past the bin's box too, as a rule: named once
            boxed = {(v.kind, v.items[0]) for v in rep.violations}
            rep.violations += [v for v in _stock_violations(b, items, record, edge, tol)
                               if not (v.reason == "the outline" and (v.kind, v.items[0]) in boxed)]
        for i, it in enumerate(items):
            if id(it) in seen:
                rep.violations.append(Violation("duplicate", b, (i,), (it.shape_id,), 0.0))
            seen[id(it)] = it
        reports.append(rep)
    for i, it in enumerate(unplaced):
        if id(it) in seen:
            other.append(Violation("duplicate", -1, (i,), (it.shape_id,), 0.0))
        seen[id(it)] = it
    w, h, strip, edge = given[0][:4]
    if strip:
        h = reports[0].height if reports else edge
    return CheckReport(reports, len(unplaced), float(w), float(h), float(distance), float(tol),
                       float(circle_rel_tol), other, float(edge), gravity)


def rest_states(items: Sequence[Shape], bin_w: Any, distance: float = 0.0, contact_tol: float = REST_TOL,
                margin: Optional[float] = None) -> List[Tuple[bool, Optional[str], List[int]]]:
    """Per item of one bin, ``(rests, reason, supports)`` under the rule of
    ``check_layout(..., gravity=True)``: whether it is at rest, why not, and
    the positions of the items that hold it up (those touching it at a
    contact that pushes upward). ``bin_w`` may be a ``Bin`` (its margin the
    default of ``margin``: items stand that far off the floor and walls)."""
    if hasattr(bin_w, "width"):
        if margin is None:
            margin = getattr(bin_w, "margin", 0.0)
        bin_w = bin_w.width
    return [(rests, why, list(sup))
            for rests, why, sup in _c.rest_states(items, bin_w, distance, contact_tol, _margin(margin))]


def _probe(item):
    """A point of the item's material, off its outline: which holes hold it
    tells which holes hold the item (the middle of its first edge, a hair
    inside, since an item may touch a hole's wall anywhere on its outline;
    a pipe's: the middle of its wall at the top, as its centre may lie in the
    bore of a pipe it holds)."""
    if isinstance(item, Pipe):
        return item.tx, item.ty + (item.radius + item.bore) / 2.0
    if isinstance(item, Circle):
        return item.tx, item.ty
    pts = item.transformed()
    area2 = sum(x1 * y2 - x2 * y1 for (x1, y1), (x2, y2) in zip(pts, pts[1:] + pts[:1]))
    hair = 1e-9 * (1.0 + max(abs(v) for p in pts for v in p))
    for (x1, y1), (x2, y2) in zip(pts, pts[1:]):
        length = math.hypot(x2 - x1, y2 - y1)
        if length > 0.0:
            # clockwise: the material lies to the right of each edge
            side = 1.0 if area2 < 0 else -1.0
            return ((x1 + x2) / 2.0 + side * hair * (y2 - y1) / length,
                    (y1 + y2) / 2.0 - side * hair * (x2 - x1) / length)
    return pts[0]


def _hole_area(hole):
    return abs(sum(x1 * y2 - x2 * y1 for (x1, y1), (x2, y2) in zip(hole, hole[1:] + hole[:1]))) / 2.0


def _containers(items):
    """The holes of one bin's containers as (item, world contour), and the
    pipes' bores as (pipe, centre, radius)."""
    holes, bores = [], []
    for c in items:
        if isinstance(c, Pipe):
            if c.bore > 0:
                bores.append((c, (c.tx, c.ty), c.bore))
        elif getattr(c, "is_container", False):
            holes.extend((c, h) for h in c.transformed_holes())
    return holes, bores


def hosts(items: Sequence[Shape]) -> List[Optional[Shape]]:
    """Per item of one bin, the item whose hole or bore holds it directly
    (the innermost of the containers around it), or None on the bin floor."""
    holes, bores = _containers(items)
    out = []
    for it in items:
        probe = _probe(it)
        around = [(_hole_area(h), c) for c, h in holes if c is not it and point_in_polygon(probe, h)]
        around += [(math.pi * r * r, c) for c, (cx, cy), r in bores
                   if c is not it and math.hypot(probe[0] - cx, probe[1] - cy) < r]
        out.append(min(around, key=lambda a: a[0])[1] if around else None)
    return out


def _margin(margin):
    margin = 0.0 if margin is None else margin
    if isinstance(margin, bool) or not isinstance(margin, (int, float)) or not (math.isfinite(margin) and margin >= 0):
        raise ValueError(f"margin must be a finite number >= 0, got {margin!r}")
    return margin


def nesting_depths(items: Sequence[Shape]) -> List[int]:
    """Per item of one bin, how many containers of that bin it lies in: 0 on
    the bin floor, 1 in a hole, 2 in a hole of a container in a hole, ...
    An item counts as in a hole when a point of its material is (a solid
    circle's centre, the middle of a pipe's wall at its top, a point just
    inside a polygon's first edge: a sound layout has it wholly there then); a
    ring's own centre would lie in the holes of the rings it holds. A pipe's
    bore is its true disc."""
    holes, bores = _containers(items)
    depths = []
    for it in items:
        probe = _probe(it)
        depth = sum(1 for c, h in holes if c is not it and point_in_polygon(probe, h))
        depth += sum(1 for c, (cx, cy), r in bores if c is not it and math.hypot(probe[0] - cx, probe[1] - cy) < r)
        depths.append(depth)
    return depths


# ------------------------------------------------ bins of any outline, several kinds


def _shaped(bin_record) -> bool:
    return (getattr(bin_record, "outer", None) is not None or bool(getattr(bin_record, "holes", None))
            or bool(getattr(bin_record, "defects", None)))


def _stock_violations(b, items, bin_record, margin, tol) -> List[Violation]:
    """The faults of one bin's items against its outline, holes and defects
    (the checker's own geometry on the true outlines): ``outside`` for an
    item out of the outline or in a hole, ``on_defect`` for one overlapping a
    defect, ``near_edge`` / ``near_defect`` for one nearer than the margin."""
    out = []
    for kind, i, amount, clearance, ring in _stock.check_stock(items, bin_record, margin, tol):
        if kind in ("on_defect", "near_defect"):
            what = f"defect {ring}"
        else:
            what = "the outline" if ring == 0 else f"hole {ring - 1}"
        out.append(Violation(kind, b, (i,), (items[i].shape_id,), amount,
                             clearance if kind in ("near_edge", "near_defect") else None, what))
    return out


def check_plan(layout: Any, bins: Sequence[Any], distance: float = 0.0, tol: float = TOLERANCE,
               circle_rel_tol: float = 0.0, gravity: bool = False, contact_tol: float = REST_TOL) -> CheckReport:
    """``check_layout`` for a layout whose bins are of several kinds:
    ``bins`` gives each bin of the layout its own ``Bin`` (with
    ``FirstFit(items, bins=kinds)``: ``[kinds[t] for t in ff.bin_types]``),
    whose size, margin, payload, length, outline, holes and defects it is
    judged by. The report's ``bin_w``, ``bin_h`` and ``margin`` are the first
    bin's."""
    bins = list(bins)
    per_bin, _ = _split(layout)
    if len(bins) != len(per_bin):
        raise ValueError(f"bins gives {len(bins)} bins, the layout has {len(per_bin)}")
    if not bins:
        return check_layout(layout, 1.0, 1.0, distance=distance, tol=tol, circle_rel_tol=circle_rel_tol,
                            gravity=gravity, contact_tol=contact_tol)
    return check_layout(layout, bins, distance=distance, tol=tol, circle_rel_tol=circle_rel_tol, gravity=gravity,
                        contact_tol=contact_tol)


# ---------------------------------------------------------------- the load along the bins


@dataclass
class LoadingReport:
    """The faults of a result document's load along its bins (``check_loading``)."""

    faults: List[str]
    bins: int
    pieces: int

    @property
    def ok(self) -> bool:
        return not self.faults

    def summary(self, max_lines: int = 20) -> str:
        scope = f"{self.bins} bins, {self.pieces} pieces"
        if self.ok:
            return f"load check: ok ({scope}: rows, hosts, couplings, payload, centre of gravity, axle loads)"
        lines = [f"load check: FAILED ({len(self.faults)} faults; {scope})"]
        lines += [f"  {f}" for f in self.faults[:max_lines]]
        if len(self.faults) > max_lines:
            lines.append(f"  ... and {len(self.faults) - max_lines} more")
        return "\n".join(lines)

    __str__ = summary


def _centroid(contour, holes):
    """Area and centroid of a contour less its holes (shoelace)."""
    def ring(pts):
        a = cx = cy = 0.0
        for (x1, y1), (x2, y2) in zip(pts, pts[1:] + pts[:1]):
            c = x1 * y2 - x2 * y1
            a += c
            cx += (x1 + x2) * c
            cy += (y1 + y2) * c
        return abs(a) / 2.0, (cx / (3.0 * a), cy / (3.0 * a)) if a else (0.0, 0.0)

    a0, (x0, y0) = ring(contour)
    area, mx, my = a0, a0 * x0, a0 * y0
    for h in holes:
        ah, (xh, yh) = ring(h)
        area, mx, my = area - ah, mx - ah * xh, my - ah * yh
    return (mx / area, my / area) if area > 0 else (x0, y0)


def _near(a, b, tol):
    return abs(a - b) <= tol * max(1.0, abs(a), abs(b))


def check_loading(document: dict, total: Optional[int] = None, tol: float = 1e-6) -> LoadingReport:
    """Judge a result document's load along its bins from the document alone.

    Every piece appears once (and, given ``total``, every piece of the job is
    placed or unplaced); no bin carries more than its ``max_load``. With rows
    (the document's ``"rows"``): every piece lies within the bin's length and
    is as long as it says; the pieces of a row share their place of the
    section and keep ``end_gap`` between them; a piece that lies in a bore (by
    its centre and radius against every pipe's bore in its bin) lies within
    one piece of the innermost such host row, but for the ``overhang``, and
    that piece is its ``host``; a coupled piece in a bore has a coupling of
    known size that passes the bore with the distance; each bin's ``cog`` and
    ``axle_loads``, recomputed from the pieces (a beam on its two supports),
    equal the reported ones and keep the supports' limits, and so does the
    reported ``cog_offset`` (the centre's distance from the middle, a share
    of the length, which a container's code bounds: reported, not judged).
    ``tol`` is relative (1e-6 of the values compared, at least 1e-6
    absolute)."""
    faults = []
    placements = document.get("placements", [])
    seen = {}
    for p in placements + document.get("unplaced", []):
        key = (p["id"], p["copy"])
        if key in seen:
            faults.append(f"item {p['id']!r} copy {p['copy']} appears more than once")
        seen[key] = p
    if total is not None and len(seen) != total:
        faults.append(f"{len(seen)} pieces in the result, {total} in the job")
    bin_rec = document.get("bin", {})
    # with several kinds of bin, each bin's payload is its kind's
    kinds = document.get("kinds")
    types = {b["bin"]: b.get("type", 0) for b in document.get("bins", [])}
    by_bin = {}
    for p in placements:
        by_bin.setdefault(p["bin"], []).append(p)
    for k, ps in sorted(by_bin.items()):
        max_load = bin_rec.get("max_load") if kinds is None else kinds[types.get(k, 0)].get("max_load")
        mass = sum(p["mass"] for p in ps)
        if max_load is not None and mass > max_load * (1 + tol):
            faults.append(f"bin {k}: {mass:.6g} kg, more than its max_load of {max_load:.6g} kg")
    rows = document.get("rows")
    if rows is not None:
        faults += _check_rows(document, by_bin, rows, tol)
    return LoadingReport(faults, len(document.get("bins", [])), len(placements))


def _check_rows(document, by_bin, rows, tol):
    faults = []
    bin_rec = document["bin"]
    length = rows.get("length", bin_rec.get("length"))
    length = None if length is None else length / 1000.0
    gap, overhang, distance = rows["end_gap"], rows["overhang"], document.get("distance", 0.0)
    supports = rows.get("supports", {})
    bins = {b["bin"]: b for b in document.get("bins", [])}
    for k, ps in sorted(by_bin.items()):
        def who(p):
            return f"bin {k}: {p['id']!r} copy {p['copy']}"

        for p in ps:
            if "along" not in p:
                faults.append(f"{who(p)} has no place along the bin")
                continue
            s, e = p["along"]
            if s < -tol or e < s or (length is not None and e > length + tol):
                faults.append(f"{who(p)} lies at {s:.6g}..{e:.6g} m, not within the length of {length:.6g} m")
            if "length" in p and not _near(e - s, p["length"], tol):
                faults.append(f"{who(p)} takes {e - s:.6g} m along, but is {p['length']:.6g} m long")
        ps = [p for p in ps if "along" in p]
        rows_of = {}
        for p in ps:
            rows_of.setdefault(p["row"], []).append(p)
        for r, members in rows_of.items():
            members.sort(key=lambda p: p["along"][0])
            for a, b in zip(members, members[1:]):
                if b["along"][0] - a["along"][1] < gap - tol:
                    faults.append(f"bin {k}, row {r}: {a['id']!r} copy {a['copy']} and {b['id']!r} copy "
                                  f"{b['copy']} are {b['along'][0] - a['along'][1]:.6g} m apart, less than the "
                                  f"end gap of {gap:.6g} m")
                if a.get("center") != b.get("center") or a["tx"] != b["tx"] or a["ty"] != b["ty"]:
                    faults.append(f"bin {k}, row {r}: its pieces lie at different places of the section")
        pipes = [p for p in ps if p["type"] == "pipe" and p["od"] / 2.0 - p["wall"] > 0]
        for p in ps:
            if "center" not in p:
                continue
            (cx, cy), r = p["center"], p["radius"]
            around = [h for h in pipes if h is not p and
                      math.hypot(cx - h["center"][0], cy - h["center"][1]) + r <= h["od"] / 2.0 - h["wall"] + tol]
            host = p.get("host")
            if not around:
                if host is not None:
                    faults.append(f"{who(p)} names a host but lies in no bore")
                continue
            bore = min(h["od"] / 2.0 - h["wall"] for h in around)
            inner = [h for h in around if h["od"] / 2.0 - h["wall"] == bore]
            s, e = p["along"]
            holding = [h for h in inner if h["along"][0] - overhang - tol <= s and e <= h["along"][1] + overhang + tol]
            if not holding:
                faults.append(f"{who(p)} at {s:.6g}..{e:.6g} m lies beyond every piece whose bore holds it "
                              f"(overhang {overhang:.6g} m)")
            elif host is None or not any((host.get("id"), host.get("copy")) == (h["id"], h["copy"]) for h in holding):
                faults.append(f"{who(p)}: its host is {host}, but the piece around it is "
                              f"{holding[0]['id']!r} copy {holding[0]['copy']}")
            if "coupling_od" in p:
                c = p["coupling_od"]
                if c is None:
                    faults.append(f"{who(p)} has a coupling of unknown size and lies in a bore")
                elif c / 2.0 + distance > bore + tol:
                    faults.append(f"{who(p)}: its coupling of {c:.6g} mm does not pass the bore of "
                                  f"{2 * bore:.6g} mm with the distance of {distance:.6g}")
        mass = sum(p["mass"] for p in ps)
        rec = bins.get(k, {})
        if mass <= 0:
            continue
        moment = sum(p["mass"] * (p["along"][0] + p["along"][1]) / 2.0 for p in ps)
        xy = [tuple(p["center"]) if "center" in p else _centroid(p["contour"], p.get("holes", [])) for p in ps]
        cog = {"along": moment / mass, "x": sum(p["mass"] * c[0] for p, c in zip(ps, xy)) / mass,
               "y": sum(p["mass"] * c[1] for p, c in zip(ps, xy)) / mass}
        got = rec.get("cog")
        if got is None or any(not _near(got[a], cog[a], tol) for a in cog):
            faults.append(f"bin {k}: centre of gravity reported {got}, recomputed {cog}")
        if supports:
            (na, a), (nc, c) = sorted(supports.items(), key=lambda s: s[1]["at"])
            on_c = (moment - a["at"] * mass) / (c["at"] - a["at"])
            loads = {na: mass - on_c, nc: on_c}
            got = rec.get("axle_loads") or {}
            for name, v in loads.items():
                if name not in got or not _near(got[name], v, tol):
                    faults.append(f"bin {k}: load on the {name} reported {got.get(name)}, recomputed {v:.6g} kg")
                if v > supports[name]["max_load"] * (1 + tol):
                    faults.append(f"bin {k}: {v:.6g} kg on the {name}, more than its {supports[name]['max_load']:.6g}")
        if "cog_offset" in rec and length and not _near(rec["cog_offset"], (cog["along"] - length / 2.0) / length, tol):
            faults.append(f"bin {k}: centre of gravity reported {rec['cog_offset']} of the length from the middle, "
                          f"recomputed {(cog['along'] - length / 2.0) / length:.6g}")
    return faults
