"""The command-line job: its schema, reading and checking, and the library items built from it.

A job that cannot be packed as written raises ``JobError`` with a one-line
message naming the field (``items[k].radius``: k is the item's index in the
job, whatever its quantity).
"""
import json
import math
import os
from dataclasses import dataclass, field
from typing import Callable, NamedTuple

from Quarvo.geometry_handle import point_in_polygon, polygon_area, segments_intersect

# More copies than this is almost surely a typo in a quantity, and would only
# keep the packer busy for hours.
MAX_ITEMS = 100_000
# Largest length or angle magnitude the engine takes: the polygon union works
# on a 1e-6 integer grid that must fit in 62 bits.
MAX_VALUE = 1e12

# Deepest nesting of arrays and objects a job may have: the deepest field, a
# point of a defect of a bin, lies six levels down.
MAX_JSON_DEPTH = 16
# Finest chord tolerance of curves read from drawings: the engine's grid.
MIN_TOLERANCE = 1e-6

BUNDLED_NAME = "pipes.json"
DEFAULT_ROTATIONS_DEG = (0.0, 90.0, 180.0, 270.0)


class JobError(Exception):
    """A job that cannot be packed as written; the message is one line."""


def fmt(x):
    """A length or ratio for people: ten significant digits, three below 0.01."""
    return f"{x:.10g}" if abs(x) >= 0.01 or x == 0 else f"{x:.3g}"


def _show(v, limit=40):
    text = json.dumps(v, ensure_ascii=False) if not isinstance(v, float) or math.isfinite(v) else repr(v)
    return text if len(text) <= limit else text[: limit - 3] + "..."


def _number(v, where, *, positive=False, non_negative=False, bounded=True):
    if not isinstance(v, (int, float)) or isinstance(v, bool):
        raise JobError(f"{where}: must be a number, got {_show(v)}")
    try:
        x = float(v)
    except OverflowError:
        raise JobError(f"{where}: number too large: {_show(v)}") from None
    if not math.isfinite(x):
        raise JobError(f"{where}: must be a finite number, got {_show(v)}")
    if positive and not x > 0.0:
        raise JobError(f"{where}: must be a positive number, got {_show(v)}")
    if non_negative and x < 0.0:
        raise JobError(f"{where}: must not be negative, got {_show(v)}")
    if bounded and abs(x) > MAX_VALUE:
        raise JobError(f"{where}: {_show(v)} is beyond the engine's range (at most 1e12 in magnitude)")
    return x


def _flag(v, where):
    if not isinstance(v, bool):
        raise JobError(f"{where}: must be true or false, got {_show(v)}")
    return v


def _whole(minimum):
    def read(v, where):
        if not isinstance(v, int) or isinstance(v, bool) or v < minimum:
            raise JobError(f"{where}: must be a whole number of at least {minimum}, got {_show(v)}")
        return v
    return read


def _one_of(*choices):
    def read(v, where):
        if not isinstance(v, str) or v not in choices:
            listed = " or ".join(f'"{c}"' for c in choices)
            raise JobError(f"{where}: unknown value {_show(v)} (expected {listed})")
        return v
    return read


def _text(v, where):
    if not isinstance(v, str):
        raise JobError(f"{where}: must be a text, got {_show(v)}")
    return v


def _seconds(v, where):
    return _number(v, where, non_negative=True)


class Option(NamedTuple):
    read: Callable  # (value, field name) -> the checked value
    example: str  # a value as --help shows it
    help: str
    default: object = None  # the command line's default; None leaves the engine's own


# Engine options: each is passed to ``FirstFit`` as the keyword of its name
# when the job gives it or the option has a default here. A new engine option
# is one line in this table.
OPTIONS = {
    "incremental": Option(_flag, "false", "nfp only: extend one union per item kind instead\n"
                                          "of uniting every no-fit polygon afresh (much faster\n"
                                          "on large jobs; positions may differ by about 1e-6)"),
    "threads": Option(_whole(1), "2", "nfp only: threads trying the rotations side by side\n"
                                   "(default one per core; same layout for any count)"),
    "hole_fill": Option(_one_of("dense", "sampled"), '"dense"',
                        'nfp only: "dense" searches every hole of a placed\n'
                        'container like a small bin and fills holes before the\n'
                        'bin; "sampled" tries 17 points per hole (the library\'s\n'
                        "default)", default="dense"),
    "exact_clearance": Option(_flag, "true", "circles as circumscribed 64-gons, so the distance\n"
                                             "holds around true circles (false: inscribed,\n"
                                             "the library's default); pipes keep it around\n"
                                             "their true walls either way", default=True),
    "nonconvex": Option(_flag, "true", "nfp only: take non-convex outlines and holes of any\n"
                                       "shape (exact no-fit polygons by Minkowski sums)"),
    "stable": Option(_flag, "true", "nfp only: place every item only where it rests on\n"
                                    "the floor, the walls and the items below it (default\n"
                                    "true when the job has pipe items or every item is a\n"
                                    "circle or a ring; false otherwise)"),
    "time_limit": Option(_seconds, "10", "seconds of improvement search after the greedy\n"
                                         "pass (the best layout found is kept)"),
    "iterations": Option(_whole(0), "2000", "layouts the improvement search tries (the same\n"
                                         "result on every run and any thread count)"),
    "seed": Option(_whole(0), "0", "seed of the improvement search"),
    "compress": Option(_flag, "true", "after the greedy pass, let items overlap on a\n"
                                      "shorter strip (or in fewer bins) and move them apart,\n"
                                      "within time_limit or iterations (20 item moves each;\n"
                                      "default: on for a strip whose items all weigh the same)"),
    "mirror": Option(_flag, "true", "nfp only: polygons may also be placed mirrored\n"
                                    "(about their vertical axis, then rotated)"),
}

# Units a drawing's lengths can be converted to (a job without "unit" takes millimetres).
CAD_UNITS = ("mm", "cm", "m", "in")
CAD_EXTRA = 'pip install "Quarvo[cad]"'
CAD_SUFFIXES = (".dxf", ".svg")


def cad_available():
    """Whether the extra Quarvo[cad] (ezdxf and svgelements) is installed."""
    try:
        import ezdxf  # noqa: F401
        import svgelements  # noqa: F401
    except ImportError:
        return False
    return True

_TOP_FIELDS = ("name", "description", "unit", "bin", "distance", "strategy", "placement", "rotations",
               "rotation_unit", "pipe_length", "items") + tuple(OPTIONS)
_BIN_FIELDS = ("width", "height", "margin", "max_load", "length", "carrier")
_COMMON_ITEM_FIELDS = ("id", "type", "quantity", "weight", "margin", "inflation", "description")
_ITEM_FIELDS = {"circle": _COMMON_ITEM_FIELDS + ("radius", "mass"),
                "polygon": _COMMON_ITEM_FIELDS + ("outer", "holes", "mass"),
                "pipe": _COMMON_ITEM_FIELDS + ("od", "wall", "size", "schedule", "length", "density"),
                "file": ("id", "file", "quantity", "weight", "margin", "inflation", "description", "tolerance",
                         "mass")}
_TYPES = ("circle", "polygon", "pipe")
DEFAULT_DENSITY = 7850.0


# ---------------------------------------------------------------- job model


@dataclass
class ItemDef:
    index: int  # position in the job's item list (a drawing's parts follow each other)
    id: object
    kind: str  # "circle", "polygon" or "pipe"
    quantity: int = 1
    weight: float = None  # None: the library's default (0, a pipe's mass)
    margin: float = 0.0
    inflation: float = 0.0
    radius: float = 0.0
    outer: list = field(default_factory=list)
    holes: list = field(default_factory=list)
    description: str = ""
    mass: float = 0.0  # kg per piece of a circle or polygon
    od: float = 0.0  # a pipe's, in mm, as are its wall
    wall: float = 0.0
    length: float = None  # a pipe's, in m; None: mass per metre
    density: float = DEFAULT_DENSITY
    size: str = None  # a pipe's catalogue size and schedule, when given so
    schedule: str = None
    # A part read from a drawing: the file as the job names it and the path it
    # was read from, and its contours drawn as whole circles ((cx, cy, r) in
    # the local frame, or None), written back as circles.
    file: str = None
    path: str = None
    round_outer: tuple = None
    round_holes: list = field(default_factory=list)


@dataclass
class Job:
    source: str
    name: str
    bin_w: float
    bin_h: float
    distance: float
    strategy: str
    placement: str
    rotations: list  # radians, or None for the placer's default
    rotation_unit: str
    rotations_given: list  # as written in the job, for reporting rotations back
    items: list
    options: dict = field(default_factory=dict)  # FirstFit keywords from OPTIONS
    unit: str = ""
    max_load: float = None  # kg per bin; None: no limit
    bin_length: float = None  # mm; None: no limit
    carrier: str = None  # the named carrier the bin is, if any
    margin: float = 0.0  # the bin's edge margin

    @property
    def total(self):
        return sum(s.quantity for s in self.items)


def _choice(obj, key, where, choices, default):
    return _one_of(*choices)(obj[key], where) if key in obj else default


def _check_fields(obj, where, allowed):
    for key in obj:
        if key not in allowed:
            raise JobError(f"{where}: unknown field {_show(key)}")


def _contour(v, where):
    if not isinstance(v, list):
        raise JobError(f"{where}: must be a list of [x, y] points")
    pts = []
    for k, p in enumerate(v):
        if not isinstance(p, list) or len(p) != 2:
            raise JobError(f"{where}[{k}]: a point must be [x, y], got {_show(p)}")
        pts.append((_number(p[0], f"{where}[{k}][0]"), _number(p[1], f"{where}[{k}][1]")))
    distinct = pts[:-1] if len(pts) > 1 and pts[0] == pts[-1] else pts
    if len(set(distinct)) < 3:
        raise JobError(f"{where}: a polygon needs at least three distinct points, got {len(set(distinct))}")
    closed = distinct + [distinct[0]]
    if abs(polygon_area(closed)) <= 1e-12:
        raise JobError(f"{where}: the points enclose no area")
    return closed


def _boundaries_meet(ring, outer):
    """Whether any edge of ring touches or crosses an edge of outer.

    Outer edges are bucketed on a grid of about sqrt(n) x sqrt(n) cells, so
    contours of many thousand points are checked in near-linear time.
    """
    xs = [p[0] for p in outer]
    ys = [p[1] for p in outer]
    x0, y0 = min(xs), min(ys)
    cells = max(1, int(math.sqrt(len(outer))))
    cw = (max(xs) - x0) / cells or 1.0
    ch = (max(ys) - y0) / cells or 1.0
    pad = 1e-9

    def span(a, b):
        def index(v, lo, size):
            return min(cells - 1, max(0, int((v - lo) / size)))

        return (range(index(min(a[0], b[0]) - pad, x0, cw), index(max(a[0], b[0]) + pad, x0, cw) + 1),
                range(index(min(a[1], b[1]) - pad, y0, ch), index(max(a[1], b[1]) + pad, y0, ch) + 1))

    grid = {}
    edges = list(zip(outer, outer[1:]))
    for k, (c, d) in enumerate(edges):
        cols, rows = span(c, d)
        for i in cols:
            for j in rows:
                grid.setdefault((i, j), []).append(k)
    for a, b in zip(ring, ring[1:]):
        cols, rows = span(a, b)
        near = {k for i in cols for j in rows for k in grid.get((i, j), ())}
        if any(segments_intersect(a, b, *edges[k]) for k in near):
            return True
    return False


def _check_hole(hole, outer, where):
    if _boundaries_meet(hole, outer):
        raise JobError(f"{where}: crosses or touches its outer contour")
    # The boundaries are apart, so one vertex tells whether the whole hole is inside.
    if not point_in_polygon(hole[0], outer):
        raise JobError(f"{where}: lies outside its outer contour (point {_show(list(hole[0]))})")


def _longest_carrier():
    from Quarvo.pipes import carriers

    return max((c for c in carriers() if c.length is not None), key=lambda c: c.length)


def _pipe(raw, idef, where, pipe_length, bin_length):
    """A pipe item's size (od and wall, or size and schedule), length and density."""
    from Quarvo import pipes

    by_size = "size" in raw
    if by_size and "od" in raw:
        raise JobError(f'{where}: give "od" and "wall", or "size" with "schedule" (or "wall"), not both')
    if by_size:
        if not isinstance(raw["size"], str):
            raise JobError(f"{where}.size: must be a text such as \"NPS 12\", got {_show(raw['size'])}")
        schedule = raw.get("schedule")
        if schedule is not None and (isinstance(schedule, bool) or not isinstance(schedule, (str, int, float))):
            raise JobError(f"{where}.schedule: must be a text or a number such as \"STD\" or 40, got {_show(schedule)}")
        wall = _number(raw["wall"], f"{where}.wall", positive=True) if "wall" in raw else None
        try:
            pipes._resolve_size(raw["size"])
        except ValueError as exc:
            raise JobError(f"{where}.size: {exc}") from None
        try:
            entry = pipes.lookup(raw["size"], schedule, wall=wall)
        except (ValueError, TypeError) as exc:
            raise JobError(f"{where}.{'wall' if wall is not None and schedule is None else 'schedule'}: {exc}") from None
        idef.od, idef.wall = entry.od, entry.wall
        idef.size, idef.schedule = entry.size, entry.schedule
    else:
        if "schedule" in raw:
            raise JobError(f'{where}.schedule: needs "size" (od and wall give the pipe already)')
        for key in ("od", "wall"):
            if key not in raw:
                raise JobError(f'{where}.{key}: missing (a pipe takes "od" and "wall" in mm, or "size" and "schedule")')
        idef.od = _number(raw["od"], f"{where}.od", positive=True)
        idef.wall = _number(raw["wall"], f"{where}.wall", positive=True)
        if idef.wall > idef.od / 2:
            raise JobError(f"{where}.wall: {_show(raw['wall'])} is larger than the radius "
                           f"({fmt(idef.od / 2)}, half the od)")
    if "length" in raw:
        idef.length = _number(raw["length"], f"{where}.length", positive=True)
        length_where = f"{where}.length"
    else:
        idef.length = pipe_length
        length_where = "pipe_length"
    if idef.length is not None:
        longest = _longest_carrier()
        if idef.length * 1000.0 > longest.length and (bin_length is None or idef.length * 1000.0 > bin_length):
            raise JobError(f"{length_where}: a pipe of {fmt(idef.length)} m is longer than every carrier "
                           f"(the longest, {longest.name}, is {fmt(longest.length / 1000.0)} m)"
                           + ("" if bin_length is None else f" and than the bin ({fmt(bin_length)} mm)"))
    if "density" in raw:
        idef.density = _number(raw["density"], f"{where}.density", positive=True)


def _weight_key(idef):
    """What decides an item's weight: the weight given, else a pipe's size,
    length and density (its mass), else 0."""
    if idef.weight is not None:
        return idef.weight
    return (idef.od, idef.wall, idef.length, idef.density) if idef.kind == "pipe" else 0.0


def _common(raw, where, idef):
    if "quantity" in raw:
        idef.quantity = _whole(1)(raw["quantity"], f"{where}.quantity")
    if "weight" in raw:
        idef.weight = _number(raw["weight"], f"{where}.weight", bounded=False)
    if "margin" in raw:
        idef.margin = _number(raw["margin"], f"{where}.margin", non_negative=True)
    if "inflation" in raw:
        idef.inflation = _number(raw["inflation"], f"{where}.inflation", non_negative=True)
    if "description" in raw:  # free text: whatever it is, it is shown as written
        d = raw["description"]
        idef.description = d if isinstance(d, str) else json.dumps(d, ensure_ascii=False)
    if "mass" in raw:
        idef.mass = _number(raw["mass"], f"{where}.mass", non_negative=True)
    return idef


def _item_id(raw, where, default):
    item_id = raw.get("id", default)
    if not (isinstance(item_id, str) or (isinstance(item_id, int) and not isinstance(item_id, bool))):
        raise JobError(f"{where}.id: must be a text or an integer, got {_show(item_id)}")
    return item_id


def read_drawing(path, where, unit, tolerance=None):
    """The parts of a DXF or SVG drawing (``Quarvo.cad``), in ``unit``; raises
    ``JobError``, one line led by ``where`` when given, for a missing extra, a
    missing, unreadable or malformed drawing."""
    lead = f"{where}: " if where else ""
    try:
        from Quarvo.cad import parts_for_job_item
    except ImportError:
        raise JobError(f"{lead}reading DXF and SVG drawings needs the extra Quarvo[cad]: {CAD_EXTRA}") from None
    if not os.path.isfile(path):
        raise JobError(f"{lead}{path}: {'not a file' if os.path.exists(path) else 'no such file'}")
    try:
        return parts_for_job_item(path, 1, tolerance, unit)
    except OSError as exc:
        raise JobError(f"{lead}cannot read {path!r}: {exc.strerror or exc}") from None
    except (ValueError, TypeError) as exc:
        text = str(exc).splitlines()[0] if str(exc) else type(exc).__name__
        raise JobError(f"{lead}{text}") from None


def part_defs(parts, first_index, item_id=None):
    """One ItemDef per part of a drawing, with its contours in its own frame."""
    defs = []
    for k, part in enumerate(parts):
        if item_id is None:
            pid = part.shape_id
        else:
            pid = item_id if len(parts) == 1 else f"{item_id}-{k + 1}"
        if hasattr(part, "radius"):
            idef = ItemDef(index=first_index + k, id=pid, kind="circle", radius=float(part.radius))
        else:
            idef = ItemDef(index=first_index + k, id=pid, kind="polygon", outer=[tuple(p) for p in part.outer],
                           holes=[[tuple(p) for p in h] for h in part.holes],
                           round_outer=getattr(part, "round_outer", None),
                           round_holes=list(getattr(part, "round_holes", None) or []))
        defs.append(idef)
    return defs


def confined_path(name, base, root, where):
    """The path of a drawing the job names, relative to ``base`` (the job's
    folder); it must lie inside ``root`` once links are resolved, else the
    same refusal whether or not it exists, so that a job cannot probe the host."""
    path = os.path.join(base, name)
    real, top = os.path.realpath(path), os.path.realpath(root)
    if real != top and not real.startswith(top.rstrip(os.sep) + os.sep):
        raise JobError(f"{where}: {_show(name)} is outside the folder drawings are read from; "
                       "widen it with --parts-root DIR (parts_root=) if you mean it")
    return path


def _tolerance(raw, where):
    if "tolerance" not in raw:
        return None
    tolerance = _number(raw["tolerance"], where, positive=True)
    if tolerance < MIN_TOLERANCE:
        raise JobError(f"{where}: {_show(raw['tolerance'])} is finer than the engine's grid "
                       f"(at least {MIN_TOLERANCE:g})")
    return tolerance


def _file_items(raw, i, first_index, base, unit, root):
    where = f"items[{i}]"
    _check_fields(raw, where, _ITEM_FIELDS["file"])
    name = _text(raw["file"], f"{where}.file")
    if name == "":
        raise JobError(f"{where}.file: empty file name")
    if unit not in CAD_UNITS:
        raise JobError(f'{where}.file: a drawing is converted to the job\'s unit, and "unit" {_show(unit)} '
                       f'is none of {", ".join(CAD_UNITS)}')
    tolerance = _tolerance(raw, f"{where}.tolerance")
    path = confined_path(name, base, root, f"{where}.file")
    parts = read_drawing(path, f"{where}.file", unit, tolerance)
    item_id = _item_id(raw, where, None) if "id" in raw else None
    defs = part_defs(parts, first_index, item_id)
    for idef in defs:
        idef.file, idef.path = name, path
        _common(raw, where, idef)
    return defs


def _item(raw, i, first_index=None, base=".", unit="mm", pipe_length=None, bin_length=None, root=None):
    """The ItemDefs of job item i: one, or one per part of the drawing it names."""
    where = f"items[{i}]"
    index = i if first_index is None else first_index
    if not isinstance(raw, dict):
        raise JobError(f"{where}: must be an object, got {_show(raw)}")
    if "file" in raw and "type" not in raw:
        return _file_items(raw, i, index, base, unit, base if root is None else root)
    if "type" not in raw:
        raise JobError(f'{where}.type: missing (expected "circle", "polygon" or "pipe", or a "file" to read parts from)')
    kind = _choice(raw, "type", f"{where}.type", _TYPES, None)
    _check_fields(raw, where, _ITEM_FIELDS[kind])
    item_id = _item_id(raw, where, i)
    idef = _common(raw, where, ItemDef(index=index, id=item_id, kind=kind))
    if kind == "pipe":
        _pipe(raw, idef, where, pipe_length, bin_length)
    elif kind == "circle":
        if "radius" not in raw:
            raise JobError(f"{where}.radius: missing")
        idef.radius = _number(raw["radius"], f"{where}.radius", positive=True)
    else:
        if "outer" not in raw:
            raise JobError(f"{where}.outer: missing")
        idef.outer = _contour(raw["outer"], f"{where}.outer")
        holes = raw.get("holes", [])
        if not isinstance(holes, list):
            raise JobError(f"{where}.holes: must be a list of contours")
        for k, h in enumerate(holes):
            hole = _contour(h, f"{where}.holes[{k}]")
            _check_hole(hole, idef.outer, f"{where}.holes[{k}]")
            idef.holes.append(hole)
    return [idef]


def _round(ring, rel=0.02):
    """Whether the contour's corners lie on one circle round its mean, within rel of its radius."""
    pts = ring[:-1] if len(ring) > 1 and ring[0] == ring[-1] else ring
    if len(pts) < 8:
        return False
    cx = sum(p[0] for p in pts) / len(pts)
    cy = sum(p[1] for p in pts) / len(pts)
    radii = [math.hypot(p[0] - cx, p[1] - cy) for p in pts]
    mean = sum(radii) / len(radii)
    return mean > 0 and max(abs(r - mean) for r in radii) <= rel * mean


def _pipe_like(idef):
    """A pipe or its cross-section: a circle, or a round polygon with one round hole (a ring)."""
    if idef.kind in ("circle", "pipe"):
        return True
    return len(idef.holes) == 1 and _round(idef.outer) and _round(idef.holes[0])


def _refuse_deep_nesting(raw):
    """No job nests deeper than MAX_JSON_DEPTH (checked without recursion)."""
    stack = [(raw, 1, "job")]
    while stack:
        value, depth, where = stack.pop()
        if depth > MAX_JSON_DEPTH:
            raise JobError(f"{where}: nested more than {MAX_JSON_DEPTH} levels deep")
        if isinstance(value, dict):
            stack.extend((v, depth + 1, f"{where}.{k}" if where != "job" else str(k)) for k, v in value.items())
        elif isinstance(value, list):
            stack.extend((v, depth + 1, f"{where}[{k}]") for k, v in enumerate(value))


def _refuse_lone_surrogates(raw):
    """Texts must be writable as UTF-8: JSON's \\ud800 escapes can decode to half a character."""
    stack = [(raw, "job")]
    while stack:
        value, where = stack.pop()
        if isinstance(value, dict):
            for key, v in value.items():
                stack.append((key, where))
                stack.append((v, f"{where}.{key}" if where != "job" else key))
        elif isinstance(value, list):
            stack.extend((v, f"{where}[{k}]") for k, v in enumerate(value))
        elif isinstance(value, str):
            try:
                value.encode("utf-8")
            except UnicodeEncodeError as exc:
                raise JobError(f"{where}: text holds a lone surrogate {value[exc.start]!r}") from None


def parse_job(raw, source="job", base=None, parts_root=None):
    """Check a decoded job document and return a ``Job``; raises ``JobError``.

    Items that name a drawing (``{"file": "part.dxf"}``) are read from
    ``base``, by default the folder of the job file ``source`` (the working
    folder when ``source`` names no file), and must lie inside ``parts_root``
    (default: ``base``) once links are resolved."""
    if not isinstance(raw, dict):
        raise JobError(f"job: must be a JSON object, got {_show(raw)}")
    _refuse_deep_nesting(raw)
    _refuse_lone_surrogates(raw)
    _check_fields(raw, "job", _TOP_FIELDS)
    if "bin" not in raw:
        raise JobError('bin: missing (expected {"width": ..., "height": ...}, {"width": ...} for a strip, '
                       'or {"carrier": ...})')
    b = raw["bin"]
    if not isinstance(b, dict):
        raise JobError(f'bin: must be an object {{"width": ..., "height": ...}}, got {_show(b)}')
    _check_fields(b, "bin", _BIN_FIELDS)
    limits = {"width": None, "height": None, "max_load": None, "length": None}
    carrier = None
    if "carrier" in b:
        from Quarvo.pipes import lookup_carrier

        if not isinstance(b["carrier"], str):
            raise JobError(f"bin.carrier: must be a text such as \"40ft\", got {_show(b['carrier'])}")
        try:
            c = lookup_carrier(b["carrier"])
        except ValueError as exc:
            raise JobError(f"bin.carrier: {exc}") from None
        carrier = c.name
        limits = {"width": c.width, "height": c.height, "max_load": c.max_load, "length": c.length}
    elif "width" not in b:
        raise JobError('bin.width: missing (or name a "carrier")')
    for key in limits:
        if key in b:
            limits[key] = _number(b[key], f"bin.{key}", positive=True)
    bin_w = limits["width"]
    margin = _number(b["margin"], "bin.margin", non_negative=True) if "margin" in b else 0.0
    # without a height the bin is a strip: one bin, open upward
    bin_h = limits["height"]
    pipe_length = _number(raw["pipe_length"], "pipe_length", positive=True) if "pipe_length" in raw else None
    distance = _number(raw.get("distance", 0.0), "distance", non_negative=True)
    strategy = _choice(raw, "strategy", "strategy", ("nfp", "bl"), "nfp")
    placement = _choice(raw, "placement", "placement", ("corner", "center"), "corner")
    if bin_h is None and placement == "center":
        raise JobError('placement: "center" needs a bin with a height (a strip is open upward)')
    if strategy == "bl" and placement == "center":
        raise JobError('placement: "center" needs strategy "nfp" (bottom-left always packs from the corner)')
    rotation_unit = _choice(raw, "rotation_unit", "rotation_unit", ("degrees", "radians"), "degrees")
    rotations = None
    given = None
    if "rotations" in raw:
        r = raw["rotations"]
        if not isinstance(r, list) or not r:
            raise JobError(f"rotations: must be a non-empty list of angles, got {_show(r)}")
        given = [_number(a, f"rotations[{k}]") for k, a in enumerate(r)]
        rotations = [math.radians(a) for a in given] if rotation_unit == "degrees" else list(given)
    options = {key: opt.read(raw[key], key) if key in raw else opt.default for key, opt in OPTIONS.items()
               if key in raw or opt.default is not None}
    name = _text(raw.get("name", ""), "name")
    unit = _text(raw.get("unit", ""), "unit")
    if "items" not in raw:
        raise JobError("items: missing (expected a list of items)")
    if not isinstance(raw["items"], list):
        raise JobError(f"items: must be a list, got {_show(raw['items'])}")
    if base is None:
        base = os.path.dirname(os.path.abspath(source)) if os.path.isfile(str(source)) else os.getcwd()
    items = []
    for i, it in enumerate(raw["items"]):
        items.extend(_item(it, i, len(items), base, unit or "mm", pipe_length, limits["length"], parts_root))
    if options.get("stable") and strategy == "bl":
        raise JobError('stable: needs strategy "nfp" (a bottom-left slide stops wherever it is blocked, '
                       'often on a slope, where nothing holds the item)')
    if "stable" not in raw and strategy == "nfp" and items and (
            any(i.kind == "pipe" for i in items) or all(_pipe_like(i) for i in items)):
        options["stable"] = True  # a load of pipes must stand
    # The compression phase moves items freely and can lift a heavy item above
    # lighter ones: on by default only for a strip whose items weigh the same
    # (a pipe without a weight weighs its mass: the same for the same size),
    # and never where items must rest.
    if options.get("stable") and options.get("compress"):
        raise JobError('compress: moves items freely, off what holds them up; it cannot keep "stable" '
                       '(on by default for a load of pipes): set "stable": false to compress')
    if "compress" not in raw and bin_h is None and len({_weight_key(it) for it in items}) <= 1 \
            and not options.get("stable"):
        options["compress"] = True
    job = Job(source=source, name=name, bin_w=bin_w, bin_h=bin_h, distance=distance, strategy=strategy,
              placement=placement, rotations=rotations, rotation_unit=rotation_unit, rotations_given=given,
              items=items, options=options, unit=unit, margin=margin, max_load=limits["max_load"],
              bin_length=limits["length"], carrier=carrier)
    if job.total > MAX_ITEMS:
        raise JobError(f"items: {job.total} items in all (quantities included), more than {MAX_ITEMS}")
    return job


def bundled_job_text():
    """The text of the bundled example job (a steel pipe bundle)."""
    from importlib import resources

    return resources.files("Quarvo").joinpath("data", BUNDLED_NAME).read_text(encoding="utf-8")


class _DuplicateKey(ValueError):
    pass


def _no_duplicates(pairs):
    obj = {}
    for key, value in pairs:
        if key in obj:
            raise _DuplicateKey(key)
        obj[key] = value
    return obj


def decode_json(text, source):
    """The JSON document of a job's text; raises ``JobError`` for text that is no
    JSON, a key given twice in one object, or nesting too deep."""
    try:
        return json.loads(text, object_pairs_hook=_no_duplicates)
    except _DuplicateKey as exc:
        raise JobError(f"{source}: the key {_show(exc.args[0])} is given twice in one object") from None
    except json.JSONDecodeError as exc:
        if looks_like_drawing(text):
            raise JobError(drawing_not_a_job(source)) from None
        raise JobError(f"{source}: not valid JSON: {exc.msg} (line {exc.lineno}, column {exc.colno})") from None
    except RecursionError:
        raise JobError(f"{source}: not valid JSON: nested too deeply") from None
    except ValueError:  # an integer of more digits than Python converts
        raise JobError(f"{source}: not valid JSON: a number with too many digits") from None


def decode_job(text, source, parts_root=None):
    """Decode a job's JSON text and check it; raises ``JobError``."""
    return parse_job(decode_json(text, source), source, parts_root=parts_root)


def drawing_not_a_job(path):
    return (f"{path}: a drawing, not a job file: nest its parts with "
            f"quarvo nest {os.path.basename(str(path))} --sheet WIDTHxHEIGHT")


def looks_like_drawing(text):
    """Whether a text that is no JSON starts as a DXF (group code 0, SECTION) or an SVG does."""
    head = text.lstrip()[:400].lower()
    if head.startswith("<?xml") or head.startswith("<svg"):
        return True
    lines = [line.strip() for line in head.splitlines()[:2]]
    return len(lines) == 2 and (lines == ["0", "section"] or lines[0] == "999")


# A job file larger than this is no job anyone wrote: refused before it is read.
MAX_JOB_BYTES = 64 << 20


def load_job(path, parts_root=None):
    """Read and check a job file (or the bundled example when path is None)."""
    if path is None:
        return decode_job(bundled_job_text(), f"bundled example {BUNDLED_NAME}")
    if os.path.splitext(str(path))[1].lower() in CAD_SUFFIXES:
        raise JobError(drawing_not_a_job(path))
    try:
        with open(path, "rb") as f:
            data = f.read(MAX_JOB_BYTES + 1)
    except OSError as exc:
        raise JobError(f"{path}: cannot read the job file: {exc.strerror or exc}") from None
    if len(data) > MAX_JOB_BYTES:
        raise JobError(f"{path}: more than {MAX_JOB_BYTES >> 20} MB: not a job file")
    if data.startswith(b"AutoCAD Binary DXF"):
        raise JobError(drawing_not_a_job(path))
    try:
        text = data.decode("utf-8-sig")
    except UnicodeDecodeError:
        raise JobError(f"{path}: not a JSON file (not UTF-8 text)") from None
    return decode_job(text, path, parts_root)
