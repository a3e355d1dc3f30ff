"""The command-line job: its schema, reading and checking, and the library items built from it.

A job that cannot be packed as written raises ``JobError`` with a one-line
message naming the field (``items[k].radius``: k is the item's index in the
job, whatever its quantity).
"""
import json
import math
import os
from dataclasses import dataclass, field

from Quarvo.geometry_handle import point_in_polygon, polygon_area, segments_intersect
from Quarvo.job.fields import (  # noqa: F401  (names the package passes on)
    CAD_UNITS,
    DEFAULT_ROTATIONS_DEG,
    ITEM_TYPES,
    MAX_ITEMS,
    MAX_VALUE,
    MIN_TOLERANCE,
    JobError,
    check_names,
    fields_of,
    fmt,
    number as _number,
    points,
    one_of as _one_of,
    options,
    read_field,
    show as _show,
    text as _text,
    whole as _whole,
)

# Deepest nesting of arrays and objects a job may have: the deepest field, a
# point of a defect of a bin, lies six levels down.
MAX_JSON_DEPTH = 16

BUNDLED_NAME = "pipes.json"

# Engine options: each is passed to ``FirstFit`` as the keyword of its name
# when the job gives it or the command line has a default for it.
OPTIONS = options()

CAD_EXTRA = 'pip install "Quarvo[cad]"'
CAD_SUFFIXES = (".dxf", ".svg")

# How parts from drawings are packed, by quarvo nest and by a job that reads
# drawings unless it says otherwise: non-convex outlines, parts in the holes of
# others, circles with their exact clearance.
SHOP_OPTIONS = {"hole_fill": "dense", "exact_clearance": True, "nonconvex": True}


def cad_available():
    """Whether the extra Quarvo[cad] (ezdxf and svgelements) is installed."""
    try:
        import ezdxf  # noqa: F401
        import svgelements  # noqa: F401
    except ImportError:
        return False
    return True

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
    own_mass: float = None  # a pipe's mass per piece (kg) or per metre as the job gives it
    mass_per_m: float = None
    coupling_od: float = None  # mm as the job gives it (0: none); None: the catalogue's
    nominal_mass: float = None  # kg/m of a catalogue API size
    coupled: bool = False  # a catalogue size joined by a coupling
    table_coupling: float = None  # its coupling's outside diameter in the coupling table (mm), if listed
    mass_basis: str = "plain_end"  # the job's: what an API pipe weighs
    couplings: bool = False  # whether the catalogue's couplings apply (the job's pipes have lengths)
    unit_mm: float = 1.0  # millimetres per length unit of the job (a pipe's od and wall are in that unit)
    # A part read from a drawing: the file as the job names it and the path it
    # was read from, its contours drawn as whole circles ((cx, cy, r) in the
    # local frame, or None), its true shape as drawn (Quarvo.cad.TrueShape, in
    # the local frame: what the written layout and the report use) and the
    # drawing's layers left out by default.
    file: str = None
    path: str = None
    round_outer: tuple = None
    round_holes: list = field(default_factory=list)
    true_shape: object = None
    skipped_layers: tuple = ()


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
    mass_basis: str = "plain_end"  # what API pipes weigh: "nominal" or "plain_end"
    supports: tuple = ()  # Support records of the bin (with rows)
    cog_tolerance: float = None  # the carrier's limit on the load's centre along, a share of the length
    # the kinds of bin on offer ("bins", or a "bin" of any outline): BinKind records; None: the one bin above
    kinds: list = None

    @property
    def several_kinds(self):
        return self.kinds is not None and len(self.kinds) > 1

    def kind_of(self, k):
        """The BinKind of bin kind k (None for the job's one rectangular bin)."""
        return None if self.kinds is None else self.kinds[k]

    @property
    def has_lengths(self):
        return any(i.kind == "pipe" and i.length is not None for i in self.items)

    @property
    def rows(self):
        return bool(self.options.get("rows"))

    @property
    def row_length(self):
        """The length rows fill (mm): the bin's, else as long as the longest pipe (a bundle's)."""
        if self.bin_length is not None:
            return self.bin_length
        return 1000.0 * max((i.length for i in self.items if i.kind == "pipe" and i.length is not None), default=0.0) \
            or None

    @property
    def total(self):
        return sum(s.quantity for s in self.items)


@dataclass
class BinKind:
    """One kind of bin of a job, as read: its size and limits, its count and
    cost, and its outline, cut-outs and flaws in the frame they were given in
    (``origin`` the lower-left corner of the outline's box in that frame)."""

    width: float
    height: float
    margin: float = 0.0
    max_load: float = None
    length: float = None
    carrier: str = None
    supports: tuple = ()
    cog_tolerance: float = None
    count: int = None
    cost: float = None
    outer: list = None
    holes: list = field(default_factory=list)
    defects: list = field(default_factory=list)
    origin: tuple = (0.0, 0.0)

    @property
    def shaped(self):
        return self.outer is not None or bool(self.defects)


def _get(obj, key, scope, where, default=None):
    """obj[key] checked by the table's reader, or ``default`` when absent."""
    return read_field(obj, key, scope, where) if key in obj else default


def _contour(v, where):
    pts = points(v, where)
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


# Millimetres per unit of a job: pipe catalogues, carriers and steel masses are in mm
UNIT_MM = {"": 1.0, "mm": 1.0, "cm": 10.0, "m": 1000.0, "in": 25.4}


def unit_in_mm(unit, where):
    """Millimetres per length unit of the job; a unit Quarvo cannot convert is refused where it matters."""
    if unit not in UNIT_MM:
        raise JobError(f"{where}: pipes and carriers need a unit Quarvo can convert (mm, cm, m or in), "
                       f"got unit {_show(unit)}")
    return UNIT_MM[unit]


def _longest_carrier():
    from Quarvo.pipes import carriers

    return max((c for c in carriers() if c.length is not None), key=lambda c: c.length)


def _pipe(raw, idef, where, pipe_length, bin_length):
    """A pipe item's size (od and wall, or size and schedule), length and density."""
    from Quarvo.pipes import sizes as pipes

    by_size = "size" in raw
    if by_size and "od" in raw:
        raise JobError(f'{where}: give "od" and "wall", or "size" with "schedule" (or "wall"), not both')
    if by_size:
        _get(raw, "size", "pipe", f"{where}.size")
        schedule = _get(raw, "schedule", "pipe", f"{where}.schedule")
        wall = _get(raw, "wall", "pipe", f"{where}.wall")
        try:
            pipes._resolve_size(raw["size"])
        except ValueError as exc:
            raise JobError(f"{where}.size: {exc}") from None
        try:
            entry = pipes.lookup(raw["size"], schedule, wall=wall)
        except (ValueError, TypeError) as exc:
            raise JobError(f"{where}.{'wall' if wall is not None and schedule is None else 'schedule'}: {exc}") from None
        # the catalogue's millimetres in the job's unit
        k = idef.unit_mm
        idef.od, idef.wall = (entry.od, entry.wall) if k == 1.0 else (entry.od / k, entry.wall / k)
        idef.size, idef.schedule = entry.size, entry.schedule
        idef.nominal_mass, idef.coupled = entry.nominal_mass, entry.coupled
        idef.table_coupling = entry.coupling_od if entry.coupling_od is None or k == 1.0 else entry.coupling_od / k
    else:
        if "schedule" in raw:
            raise JobError(f'{where}.schedule: needs "size" (od and wall give the pipe already)')
        for key in ("od", "wall"):
            if key not in raw:
                raise JobError(f'{where}.{key}: missing (a pipe takes "od" and "wall" in the job\'s unit, or "size" '
                               'and "schedule")')
        idef.od = read_field(raw, "od", "pipe", f"{where}.od")
        idef.wall = read_field(raw, "wall", "pipe", f"{where}.wall")
        if idef.wall > idef.od / 2:
            raise JobError(f"{where}.wall: {_show(raw['wall'])} is larger than the radius "
                           f"({fmt(idef.od / 2)}, half the od)")
    if "length" in raw:
        idef.length = read_field(raw, "length", "pipe", f"{where}.length")
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
    idef.density = _get(raw, "density", "pipe", f"{where}.density", DEFAULT_DENSITY)
    if "mass" in raw and "mass_per_m" in raw:
        raise JobError(f'{where}.mass_per_m: give "mass" (per piece) or "mass_per_m", not both')
    idef.own_mass = _get(raw, "mass", "pipe", f"{where}.mass")
    idef.mass_per_m = _get(raw, "mass_per_m", "pipe", f"{where}.mass_per_m")
    idef.coupling_od = _get(raw, "coupling_od", "pipe", f"{where}.coupling_od")
    if idef.coupling_od and idef.coupling_od <= idef.od:
        raise JobError(f"{where}.coupling_od: {_show(raw['coupling_od'])} is no larger than the pipe's od "
                       f"({fmt(idef.od)}); 0 for a pipe without a coupling")


def _weight_key(idef):
    """What decides an item's weight: the weight given, else a pipe's size,
    length and density (its mass), else 0."""
    if idef.weight is not None:
        return idef.weight
    if idef.kind != "pipe":
        return 0.0
    return (idef.od, idef.wall, idef.length, idef.density, idef.own_mass, idef.mass_per_m, idef.nominal_mass)


def _common(raw, where, idef, scope):
    allowed = fields_of(scope)
    # (a pipe's own mass is read with its size)
    for key in ("quantity", "weight", "margin", "inflation", "description") + (("mass",) if scope != "pipe" else ()):
        if key in allowed and key in raw:
            setattr(idef, key, read_field(raw, key, scope, f"{where}.{key}"))
    return idef


def _item_id(raw, where, default, scope):
    return _get(raw, "id", scope, f"{where}.id", default)


def read_drawing(path, where, unit, tolerance=None, layers=None):
    """The parts of a DXF or SVG drawing (``Quarvo.cad``) on ``layers`` (by
    default every layer but those of frames, titles, dimensions and
    construction), in ``unit``; raises ``JobError``, one line led by
    ``where`` when given, for a missing extra, a missing, unreadable or
    malformed drawing, or a border among the parts."""
    lead = f"{where}: " if where else ""
    try:
        from Quarvo.cad import parts_for_job_item
    except ImportError:
        raise JobError(f"{lead}reading DXF and SVG drawings needs the extra Quarvo[cad]: {CAD_EXTRA}") from None
    if not os.path.isfile(path):
        raise JobError(f"{lead}{path}: {'not a file' if os.path.exists(path) else 'no such file'}")
    try:
        return parts_for_job_item(path, 1, tolerance, unit, layers=layers)
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
                           round_holes=list(getattr(part, "round_holes", None) or []),
                           true_shape=getattr(part, "true_shape", None))
        idef.skipped_layers = tuple(getattr(parts, "skipped_layers", ()))
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


def _file_items(raw, i, first_index, base, unit, root):
    where = f"items[{i}]"
    check_names(raw, "file", where)
    name = read_field(raw, "file", "file", f"{where}.file")
    if name == "":
        raise JobError(f"{where}.file: empty file name")
    if unit not in CAD_UNITS:
        raise JobError(f'{where}.file: a drawing is converted to the job\'s unit, and "unit" {_show(unit)} '
                       f'is none of {", ".join(CAD_UNITS)}')
    tolerance = _get(raw, "tolerance", "file", f"{where}.tolerance")
    layers = _get(raw, "layers", "file", f"{where}.layers")
    path = confined_path(name, base, root, f"{where}.file")
    parts = read_drawing(path, f"{where}.file", unit, tolerance, layers)
    item_id = _item_id(raw, where, None, "file")
    defs = part_defs(parts, first_index, item_id)
    for idef in defs:
        idef.file, idef.path = name, path
        _common(raw, where, idef, "file")
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
    kind = _one_of(*ITEM_TYPES)(raw["type"], f"{where}.type")
    check_names(raw, kind, where)
    item_id = _item_id(raw, where, i, kind)
    idef = _common(raw, where, ItemDef(index=index, id=item_id, kind=kind), kind)
    if kind == "pipe":
        idef.unit_mm = unit_in_mm(unit, where)
        _pipe(raw, idef, where, pipe_length, bin_length)
    elif kind == "circle":
        if "radius" not in raw:
            raise JobError(f"{where}.radius: missing")
        idef.radius = read_field(raw, "radius", "circle", f"{where}.radius")
    else:
        if "outer" not in raw:
            raise JobError(f"{where}.outer: missing")
        idef.outer = _contour(raw["outer"], f"{where}.outer")
        holes = _get(raw, "holes", "polygon", f"{where}.holes", [])
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
    check_names(raw, "job", "job")
    if "bin" in raw and "bins" in raw:
        raise JobError('bins: give "bin" or "bins", not both')
    # the unit first: a carrier's section is given in it
    unit = _get(raw, "unit", "job", "unit", "")
    if "bins" in raw:
        kinds = _bin_kinds(raw["bins"], unit)
        b = raw["bins"][0]
    elif "bin" not in raw:
        raise JobError('bin: missing (expected {"width": ..., "height": ...}, {"width": ...} for a strip, '
                       'or {"carrier": ...})')
    else:
        b = raw["bin"]
        kinds = [_bin_kind(b, "bin", unit)]
    first = kinds[0]
    limits = {"width": first.width, "height": first.height, "max_load": first.max_load, "length": first.length}
    if len(kinds) > 1:
        # a pipe must fit the longest kind; each kind takes only the pipes that fit it
        lengths = [k.length for k in kinds]
        limits["length"] = None if None in lengths else max(lengths)
    carrier, cog_tolerance = first.carrier, first.cog_tolerance
    bin_w, bin_h, margin = first.width, first.height, first.margin
    # a job of one rectangular bin packs through the written bin; other stock through bins=[...]
    kinds = kinds if "bins" in raw or first.shaped else None
    pipe_length = _get(raw, "pipe_length", "job", "pipe_length")
    distance = _get(raw, "distance", "job", "distance", 0.0)
    strategy = _get(raw, "strategy", "job", "strategy", "nfp")
    placement = _get(raw, "placement", "job", "placement", "corner")
    if bin_h is None and placement == "center":
        raise JobError('placement: "center" needs a bin with a height (a strip is open upward)')
    if strategy == "bl" and placement == "center":
        raise JobError('placement: "center" needs strategy "nfp" (bottom-left always packs from the corner)')
    rotation_unit = _get(raw, "rotation_unit", "job", "rotation_unit", "degrees")
    rotations = None
    given = _get(raw, "rotations", "job", "rotations")
    if given is not None:
        rotations = [math.radians(a) for a in given] if rotation_unit == "degrees" else list(given)
    options = {key: opt.read(raw[key], key) if key in raw else opt.cli_default for key, opt in OPTIONS.items()
               if key in raw or opt.cli_default is not None}
    _get(raw, "$schema", "job", "$schema")  # for editors only: checked, not used
    name = _get(raw, "name", "job", "name", "")
    unit = _get(raw, "unit", "job", "unit", "")
    if "items" not in raw:
        raise JobError("items: missing (expected a list of items)")
    if not isinstance(raw["items"], list):
        raise JobError(f"items: must be a list, got {_show(raw['items'])}")
    if base is None:
        base = os.path.dirname(os.path.abspath(source)) if os.path.isfile(str(source)) else os.getcwd()
    items = []
    for i, it in enumerate(raw["items"]):
        items.extend(_item(it, i, len(items), base, unit or "mm", pipe_length, limits["length"], parts_root))
    supports = first.supports
    has_lengths = any(i.kind == "pipe" and i.length is not None for i in items)
    mass_basis = _get(raw, "mass_basis", "job", "mass_basis", "nominal" if has_lengths else "plain_end")
    for i in items:
        i.mass_basis, i.couplings = mass_basis, has_lengths
    several = kinds is not None  # several kinds, or one of any outline
    if "rows" not in raw and has_lengths and bin_h is not None and not several \
            and strategy == "nfp" and not any(k in options for k in ("time_limit", "iterations")) \
            and not options.get("compress"):
        options["rows"] = True
    if several and options.get("rows"):
        raise JobError('rows: pieces end to end along the length need one rectangular kind of bin, not '
                       + (f'"bins" of {len(kinds)} kinds' if len(kinds) > 1 else "a bin of an outline")
                       + ': set "rows": false')
    _check_rows(options, raw, limits["length"] is not None or has_lengths, bin_h, strategy, b)
    if not options.get("rows"):
        # the load on a carrier's supports is found along its rows only
        supports = ()
        for kind in kinds or ():
            kind.supports = ()
    if options.get("stable") and strategy == "bl":
        raise JobError('stable: needs strategy "nfp" (a bottom-left slide stops wherever it is blocked, '
                       'often on a slope, where nothing holds the item)')
    drawn = any(i.file is not None for i in items)
    if strategy == "nfp" and drawn:
        # parts from drawings pack as quarvo nest packs them, unless the job says otherwise
        options.update({key: value for key, value in SHOP_OPTIONS.items() if key not in raw})
    shaped = kinds is not None and any(k.shaped for k in kinds)
    if shaped and options.get("stable"):
        raise JobError('stable: needs rectangular bins without defects (items rest on a floor and walls; '
                       'a bin of an outline or with defects has none to rest on)')
    if "stable" not in raw and strategy == "nfp" and items and not shaped and (
            any(i.kind == "pipe" for i in items) or (all(_pipe_like(i) for i in items) and not drawn)):
        options["stable"] = True  # a load of pipes must stand
    # The compression phase moves items freely and can lift a heavy item above
    # lighter ones: on by default only for a strip whose items weigh the same
    # (a pipe without a weight weighs its mass: the same for the same size),
    # and never where items must rest.
    if options.get("stable") and options.get("compress"):
        raise JobError('compress: moves items freely, off what holds them up; it cannot keep "stable" '
                       '(on by default for a load of pipes): set "stable": false to compress')
    # ... and for sheets and bins of parts (no pipes) that weigh the same, as for strips
    if "compress" not in raw and kinds is None and (bin_h is None or not any(i.kind == "pipe" for i in items)) \
            and len({_weight_key(it) for it in items}) <= 1 and not options.get("stable") \
            and not options.get("rows"):
        options["compress"] = True
    job = Job(source=source, name=name, bin_w=bin_w, bin_h=bin_h, distance=distance, strategy=strategy,
              placement=placement, rotations=rotations, rotation_unit=rotation_unit, rotations_given=given,
              items=items, options=options, unit=unit, margin=margin, max_load=limits["max_load"],
              bin_length=limits["length"], carrier=carrier, mass_basis=mass_basis, supports=supports,
              cog_tolerance=cog_tolerance, kinds=kinds)
    if job.total > MAX_ITEMS:
        raise JobError(f"items: {job.total} items in all (quantities included), more than {MAX_ITEMS}")
    return job


def _bin_kinds(v, unit="mm"):
    """The kinds of bin of "bins": each a bin with its count and cost; several kinds all have heights."""
    if not isinstance(v, list) or not v:
        raise JobError(f'bins: must be a non-empty list of bins, got {_show(v)}')
    kinds = [_bin_kind(b, f"bins[{k}]", unit) for k, b in enumerate(v)]
    if len(kinds) > 1:
        for k, kind in enumerate(kinds):
            if kind.height is None:
                raise JobError(f"bins[{k}].height: missing (a strip, open upward, cannot be one kind of bin "
                               "among others)")
    return kinds


def _bin_kind(b, where, unit="mm"):
    """A bin of the job ("bin", or one of "bins") as a BinKind; a carrier's section in the job's ``unit``."""
    if not isinstance(b, dict):
        raise JobError(f'{where}: must be an object {{"width": ..., "height": ...}}, got {_show(b)}')
    check_names(b, "bin", where)
    if where == "bin":
        for key in ("count", "cost"):
            if key in b:
                raise JobError(f'bin.{key}: has a meaning among several kinds of bin: give "bins" instead of "bin"')
    limits = {"width": None, "height": None, "max_load": None, "length": None}
    carrier = None
    carrier_supports, cog_tolerance = (), None
    if "carrier" in b:
        from Quarvo.pipes import lookup_carrier

        try:
            c = lookup_carrier(read_field(b, "carrier", "bin", f"{where}.carrier"))
        except ValueError as exc:
            raise JobError(f"{where}.carrier: {exc}") from None
        carrier = c.name
        k = unit_in_mm(unit, f"{where}.carrier")
        limits = {"width": c.width / k if k != 1.0 else c.width, "height": c.height / k if k != 1.0 else c.height,
                  "max_load": c.max_load, "length": c.length}
        carrier_supports, cog_tolerance = c.supports, c.cog_tolerance
    elif "width" not in b and "outer" not in b:
        raise JobError(f'{where}.width: missing (or name a "carrier", or give an "outer" outline)')
    for key in limits:
        limits[key] = _get(b, key, "bin", f"{where}.{key}", limits[key])
    kind = BinKind(limits["width"], limits["height"], margin=_get(b, "margin", "bin", f"{where}.margin", 0.0),
                   max_load=limits["max_load"], length=limits["length"], carrier=carrier,
                   supports=_supports(b, carrier_supports, where), cog_tolerance=cog_tolerance,
                   count=_get(b, "count", "bin", f"{where}.count"), cost=_get(b, "cost", "bin", f"{where}.cost"))
    _bin_outline(b, kind, where)
    return kind


def _bin_outline(b, kind, where):
    """The bin's outline, cut-outs and flaws, checked; the bin's size is then its outline's box."""
    if "outer" in b:
        for key in ("width", "height", "carrier"):
            if key in b:
                raise JobError(f'{where}.{key}: a bin with an "outer" outline takes its size from it '
                               f'(leave "{key}" out)')
        kind.outer = _contour(b["outer"], f"{where}.outer")
    holes = _get(b, "holes", "bin", f"{where}.holes", [])
    defects = _get(b, "defects", "bin", f"{where}.defects", [])
    if (holes or defects) and kind.outer is None:
        if kind.height is None:
            raise JobError(f"{where}.{'holes' if holes else 'defects'}: needs a bin with a height or an outline "
                           "(a strip is open upward)")
        w, h = kind.width, kind.height
        rect = [(0.0, 0.0), (w, 0.0), (w, h), (0.0, h), (0.0, 0.0)]
        if holes:
            kind.outer = rect
    for k, h in enumerate(holes):
        hole = _contour(h, f"{where}.holes[{k}]")
        _check_hole(hole, kind.outer, f"{where}.holes[{k}]")
        kind.holes.append(hole)
    kind.defects = [_contour(d, f"{where}.defects[{k}]") for k, d in enumerate(defects)]
    if kind.outer is not None:
        xs, ys = [p[0] for p in kind.outer], [p[1] for p in kind.outer]
        kind.origin = (min(xs), min(ys))
        kind.width, kind.height = max(xs) - min(xs), max(ys) - min(ys)


def _supports(b, carrier_supports, where="bin"):
    """The bin's supports: the carrier's, or the bin's kingpin and axle group where it gives them."""
    from Quarvo.geometry import Support

    given = {name: _get(b, key, "bin", f"{where}.{key}") for key, name in (("kingpin", "kingpin"),
                                                                         ("axle_group", "axle group"))}
    if not any(given.values()):
        return tuple(carrier_supports)
    own = {s.name: s for s in carrier_supports}
    for (key, name), value in zip((("kingpin", "kingpin"), ("axle_group", "axle group")), given.values()):
        if value is not None:
            own[name] = Support(name, value["at"], value["max_load"])
        elif name not in own:
            other = "axle_group" if key == "kingpin" else "kingpin"
            raise JobError(f'{where}.{other}: needs "{key}" as well (the load bears on both)')
    if own["kingpin"].at == own["axle group"].at:
        raise JobError(f"{where}.axle_group.at: {fmt(own['axle group'].at)} m, where the kingpin is")
    return (own["kingpin"], own["axle group"])


def _check_rows(options, raw, has_length, bin_h, strategy, b):
    """Refuse rows where they cannot work, and supports given where no rows carry them."""
    if not options.get("rows"):
        for key in ("kingpin", "axle_group"):
            if key in b:
                raise JobError(f"bin.{key}: the load on it is found along rows: give the pipes lengths "
                               '(and the bin a length), or leave "rows" on')
        for key in ("end_gap", "overhang"):
            if key in raw:
                raise JobError(f'{key}: has a meaning only with "rows" (pipes with lengths in a bin with a length)')
        return
    if not has_length:
        raise JobError('rows: needs a bin with a length ("length" in mm, or a carrier) or pipes with lengths')
    if bin_h is None:
        raise JobError('rows: needs a bin with a height (a strip has no rows to fill)')
    if strategy != "nfp":
        raise JobError('rows: needs strategy "nfp" (the bottom-left slide cannot keep a row within its host)')
    for key in ("time_limit", "iterations", "compress"):
        if options.get(key) is not None and options.get(key) is not False:
            raise JobError(f'{key}: cannot go with "rows" (the phases after the greedy pass move items without '
                           'their rows): set "rows": false')


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
