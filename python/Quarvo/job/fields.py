"""Every field of the command-line job, described once.

``FIELDS`` is the one table: each field's name, where it may appear (the job,
its bin, an item of a kind), its type, unit, default, allowed values and
meaning, and the reader that checks it. The validator takes the fields each
object may hold and their readers from here; ``quarvo --help``, the job
reference (``markdown()``, written to docs/job-format.md) and the JSON
Schema (``schema()``, printed by ``quarvo schema`` and shipped as
``job.schema.json``) are drawn from it, so none can drift from the others.

A new field is one entry here and, where it changes what is packed, the code
that uses its value. An engine option (``option=True``) needs nothing else:
it is handed to ``FirstFit`` as the keyword of its name.

    quarvo schema --markdown > docs/job-format.md     # the reference, regenerated
"""
import json
import math
import textwrap
from dataclasses import dataclass, field
from typing import Any, Callable, Optional, Tuple

# Largest length or angle magnitude the engine takes: the polygon union works
# on a 1e-6 integer grid that must fit in 62 bits.
MAX_VALUE = 1e12
# Finest chord tolerance of curves read from drawings: the engine's grid.
MIN_TOLERANCE = 1e-6
# More copies than this is almost surely a typo in a quantity, and would only
# keep the packer busy for hours.
MAX_ITEMS = 100_000
# Units a drawing's lengths can be converted to (a job without "unit" takes millimetres).
CAD_UNITS = ("mm", "cm", "m", "in")
DEFAULT_ROTATIONS_DEG = (0.0, 90.0, 180.0, 270.0)
# The default chord tolerance of drawings' curves, as people read it (Quarvo.cad.TOLERANCE_FRACTION).
CAD_TOLERANCE_TEXT = "1/500"
ITEM_TYPES = ("circle", "polygon", "pipe")


class JobError(Exception):
    """A job that cannot be packed as written; the message is one line."""


def fmt(x):
    """A length or ratio for people: ten significant digits, three below 0.01."""
    return f"{x:.10g}" if abs(x) >= 0.01 or x == 0 else f"{x:.3g}"


def show(v, limit=40):
    """A value of the job as messages quote it."""
    text = json.dumps(v, ensure_ascii=False) if not isinstance(v, float) or math.isfinite(v) else repr(v)
    return text if len(text) <= limit else text[: limit - 3] + "..."


# ---------------------------------------------------------------- readers: (value, where) -> checked value


def number(v, where, *, positive=False, non_negative=False, bounded=True):
    if not isinstance(v, (int, float)) or isinstance(v, bool):
        raise JobError(f"{where}: must be a number, got {show(v)}")
    try:
        x = float(v)
    except OverflowError:
        raise JobError(f"{where}: number too large: {show(v)}") from None
    if not math.isfinite(x):
        raise JobError(f"{where}: must be a finite number, got {show(v)}")
    if positive and not x > 0.0:
        raise JobError(f"{where}: must be a positive number, got {show(v)}")
    if non_negative and x < 0.0:
        raise JobError(f"{where}: must not be negative, got {show(v)}")
    if bounded and abs(x) > MAX_VALUE:
        raise JobError(f"{where}: {show(v)} is beyond the engine's range (at most 1e12 in magnitude)")
    return x


def positive(v, where):
    return number(v, where, positive=True)


def non_negative(v, where):
    return number(v, where, non_negative=True)


def any_number(v, where):
    return number(v, where)


def unbounded(v, where):
    return number(v, where, bounded=False)


def flag(v, where):
    if not isinstance(v, bool):
        raise JobError(f"{where}: must be true or false, got {show(v)}")
    return v


def whole(minimum):
    def read(v, where):
        if not isinstance(v, int) or isinstance(v, bool) or v < minimum:
            raise JobError(f"{where}: must be a whole number of at least {minimum}, got {show(v)}")
        return v
    read.minimum = minimum
    return read


def one_of(*choices):
    def read(v, where):
        if not isinstance(v, str) or v not in choices:
            listed = " or ".join(f'"{c}"' for c in choices)
            raise JobError(f"{where}: unknown value {show(v)} (expected {listed})")
        return v
    return read


def text(v, where):
    if not isinstance(v, str):
        raise JobError(f"{where}: must be a text, got {show(v)}")
    return v


def free_text(v, where):
    """Anything: shown as written."""
    return v if isinstance(v, str) else json.dumps(v, ensure_ascii=False)


def item_id(v, where):
    if not (isinstance(v, str) or (isinstance(v, int) and not isinstance(v, bool))):
        raise JobError(f"{where}: must be a text or an integer, got {show(v)}")
    return v


def schedule(v, where):
    if isinstance(v, bool) or not isinstance(v, (str, int, float)):
        raise JobError(f"{where}: must be a text or a number such as \"STD\" or 40, got {show(v)}")
    return v


def text_such_as(example):
    """A text, refused with an example of one."""
    def read(v, where):
        if not isinstance(v, str):
            raise JobError(f"{where}: must be a text such as {example}, got {show(v)}")
        return v
    return read


size = text_such_as('"NPS 12"')
carrier = text_such_as('"40ft"')


def tolerance(v, where):
    t = number(v, where, positive=True)
    if t < MIN_TOLERANCE:
        raise JobError(f"{where}: {show(v)} is finer than the engine's grid (at least {MIN_TOLERANCE:g})")
    return t


def names(v, where):
    """A non-empty list of non-empty texts."""
    if not isinstance(v, list) or not v:
        raise JobError(f"{where}: must be a non-empty list of names, got {show(v)}")
    for k, n in enumerate(v):
        if not isinstance(n, str) or not n.strip():
            raise JobError(f"{where}[{k}]: must be a non-empty text, got {show(n)}")
    return [n.strip() for n in v]


def angles(v, where):
    if not isinstance(v, list) or not v:
        raise JobError(f"{where}: must be a non-empty list of angles, got {show(v)}")
    return [number(a, f"{where}[{k}]") for k, a in enumerate(v)]


def points(v, where):
    """A contour as written: a list of [x, y] points (the validator checks its shape)."""
    if not isinstance(v, list):
        raise JobError(f"{where}: must be a list of [x, y] points")
    out = []
    for k, p in enumerate(v):
        if not isinstance(p, list) or len(p) != 2:
            raise JobError(f"{where}[{k}]: a point must be [x, y], got {show(p)}")
        out.append((number(p[0], f"{where}[{k}][0]"), number(p[1], f"{where}[{k}][1]")))
    return out


def contour_list(v, where):
    if not isinstance(v, list):
        raise JobError(f"{where}: must be a list of contours")
    return v


def as_is(v, where):
    """Read by the code that knows its structure (the bin, the items)."""
    return v


def support(v, where):
    """A point the load bears on: {"at": metres from the front, "max_load": kg}."""
    if not isinstance(v, dict):
        raise JobError(f'{where}: must be an object {{"at": ..., "max_load": ...}} (m from the front, kg), '
                       f"got {show(v)}")
    for key in v:
        if key not in ("at", "max_load"):
            raise JobError(f"{where}: unknown field {show(key)}")
    for key in ("at", "max_load"):
        if key not in v:
            raise JobError(f"{where}.{key}: missing")
    return {"at": number(v["at"], f"{where}.at", non_negative=True),
            "max_load": number(v["max_load"], f"{where}.max_load", positive=True)}


# ---------------------------------------------------------------- the table


@dataclass(frozen=True)
class Field:
    """One field of the job.

    ``scopes``: where it may appear: "job", "bin", or an item kind ("circle",
    "polygon", "pipe", "file": an item that names a drawing). ``kind`` is its
    JSON type for the schema and the reference: "number", "integer",
    "boolean", "string", "id", "schedule", "angles", "names", "contour",
    "contours", "object", "support", "items", "any". ``default`` is the value the job takes without
    it, as a person reads it; ``cli_default`` an engine option's default on
    the command line where it differs from the library's."""

    name: str
    scopes: Tuple[str, ...]
    kind: str
    meaning: str
    read: Callable[[Any, str], Any] = as_is
    unit: str = ""
    default: str = ""
    choices: Tuple[str, ...] = ()
    minimum: Optional[float] = None
    exclusive_minimum: Optional[float] = None
    example: Any = None
    option: bool = False  # a FirstFit keyword of the same name
    cli_default: Any = None
    nest: str = ""  # the quarvo nest option that sets it
    required: Tuple[str, ...] = ()  # the scopes in which it must be given
    extra: dict = field(default_factory=dict)  # more schema keywords


ITEM = ("circle", "polygon", "pipe")
ANY_ITEM = ITEM + ("file",)

FIELDS = (
    # -- the job
    Field("$schema", ("job",), "string", "where an editor that checks job files finds their schema (a path "
          "or address of job.schema.json); not read", text, example="job.schema.json"),
    Field("name", ("job",), "string", "shown in the summary and written to the result", text,
          default="the file name", example="bundle 7"),
    Field("description", ("job",), "any", "free text, not used", free_text, example="..."),
    Field("unit", ("job",), "string", "the length unit of the job, shown with the lengths in the summary and "
          "written to the result; drawings, catalogue pipes and carriers' sections are converted to it (mm, cm, m "
          "or in; pipes and carriers need one of these), and a pipe's mass is its steel's whatever the unit",
          text, default="mm",
          example="mm"),
    Field("bin", ("job",), "object", 'the bin every item goes into: {"width": ..., "height": ...}; '
          'without "height" a strip, open upward; or a named carrier {"carrier": ...} (or give "bins")',
          example={"width": 1200, "height": 800}),
    Field("bins", ("job",), "bins", 'instead of "bin": the kinds of bin on offer, each a bin (below) with its '
          '"count" and "cost"; the plan uses the cheapest set that takes the items, and the result names each '
          "bin's kind by its index here", example=[{"width": 3000, "height": 1500, "cost": 90},
                                                   {"width": 2000, "height": 1000, "count": 3, "cost": 45}]),
    Field("distance", ("job",), "number", "clear distance between items", non_negative, unit="length",
          default="0", minimum=0, example=2, nest="--gap"),
    Field("strategy", ("job",), "string", "the placer: no-fit polygons (compact, rotations, container holes) "
          "or bottom-left sliding (fast, no rotation)", one_of("nfp", "bl"), default="nfp",
          choices=("nfp", "bl"), example="nfp"),
    Field("placement", ("job",), "string", "nfp only: fill from the lower-left corner, or grow from the bin's "
          "centre", one_of("corner", "center"), default="corner", choices=("corner", "center"), example="corner"),
    Field("rotations", ("job",), "angles", "angles tried for polygons (nfp only), in rotation_unit", angles,
          default="0, 90, 180, 270 degrees", example=[0, 90, 180, 270], nest="--rotations"),
    Field("rotation_unit", ("job",), "string", 'the unit of "rotations"', one_of("degrees", "radians"),
          default="degrees", choices=("degrees", "radians"), example="degrees"),
    Field("pipe_length", ("job",), "number", "length of every pipe item that gives none", positive, unit="m",
          default="none: masses per metre", exclusive_minimum=0, example=12),
    Field("mass_basis", ("job",), "string", 'what API casing and tubing weigh: "nominal", the weight they are '
          'sold by (threads and couplings included), or "plain_end", their steel by size; ASME pipe weighs its '
          "plain-end mass either way, and a pipe's own mass or mass_per_m wins", one_of("nominal", "plain_end"),
          default="nominal where pipes have lengths, else plain_end (as without it)",
          choices=("nominal", "plain_end"), example="nominal"),
    Field("items", ("job",), "items", "the items to pack (below)", required=("job",)),
    # -- engine options: each is handed to FirstFit as the keyword of its name
    Field("incremental", ("job",), "boolean", "nfp only: extend one union per item kind instead of uniting "
          "every no-fit polygon afresh (much faster on large jobs; positions may differ by about 1e-6)", flag,
          default="false", example=False, option=True),
    Field("threads", ("job",), "integer", "nfp only: threads trying the rotations side by side (the same "
          "layout for any count)", whole(1), default="one per core", minimum=1, example=2, option=True),
    Field("hole_fill", ("job",), "string", 'nfp only: "dense" searches every hole of a placed container like '
          'a small bin and fills holes before the bin; "sampled" tries 17 points per hole (the library\'s '
          "default)", one_of("dense", "sampled"), default="dense", choices=("dense", "sampled"), example="dense",
          option=True, cli_default="dense"),
    Field("exact_clearance", ("job",), "boolean", "circles as circumscribed 64-gons, so the distance holds "
          "around true circles (false: inscribed, the library's default); pipes keep it around their true "
          "walls either way", flag, default="true", example=True, option=True, cli_default=True),
    Field("nonconvex", ("job",), "boolean", "nfp only: take non-convex outlines and holes of any shape "
          "(exact no-fit polygons by Minkowski sums)", flag,
          default="false; true when an item names a drawing (as quarvo nest packs)", example=True, option=True),
    Field("stable", ("job",), "boolean", "nfp only: place every item only where it rests on the floor, the "
          "walls and the items below it", flag,
          default="true when the job has pipe items or every item is a circle or a ring (none from a drawing), "
          "else false",
          example=True, option=True),
    Field("time_limit", ("job",), "number", "seconds of improvement search after the greedy pass (the best "
          "layout found is kept)", non_negative, unit="s", default="none", minimum=0, example=10, option=True,
          nest="--time"),
    Field("iterations", ("job",), "integer", "layouts the improvement search tries (the same result on every "
          "run and any thread count)", whole(0), default="none", minimum=0, example=2000, option=True),
    Field("seed", ("job",), "integer", "seed of the improvement search", whole(0), default="0", minimum=0,
          example=0, option=True),
    Field("compress", ("job",), "boolean", "after the greedy pass, let items overlap on a shorter strip (or "
          "in fewer bins) and move them apart, within time_limit or iterations (20 item moves each)", flag,
          default="on where the items all weigh the same, none must rest and none is a pipe (but on a strip)",
          example=True, option=True),
    Field("mirror", ("job",), "boolean", "nfp only: polygons may also be placed mirrored (about their "
          "vertical axis, then rotated)", flag, default="false", example=True, option=True, nest="--mirror"),
    Field("rows", ("job",), "boolean", "nfp only: fill the bin along its length as well as across: one place "
          "of the section holds a row of pieces end to end (pipes of one size; other items take the whole "
          "length), a piece in a bore lies within its host's length, and the load keeps the bin's kingpin and "
          "axle group within their limits", flag,
          default="true when the bin has a length and the pipes have lengths", example=True, option=True),
    Field("end_gap", ("job",), "number", "with rows: the gap between two pieces of a row, end to end", non_negative,
          unit="m", default="0.05", minimum=0, example=0.05, option=True),
    Field("overhang", ("job",), "number", "with rows: how far a pipe in a bore may stand out of its host at "
          "either end", non_negative, unit="m", default="0: within its host", minimum=0, example=0.5, option=True),
    # -- the bin
    Field("width", ("bin",), "number", "the bin's width", positive, unit="length", exclusive_minimum=0,
          example=1200, required=("bin",), nest="--sheet"),
    Field("height", ("bin",), "number", "the bin's height", positive, unit="length",
          default="none: a strip, open upward", exclusive_minimum=0, example=800, nest="--sheet"),
    Field("margin", ("bin",), "number", "every item keeps at least this from the bin's edges (the gap at an "
          "edge is the larger of it and the item's spacing)", non_negative, unit="length",
          default="0: half the distance", minimum=0, example=10, nest="--edge"),
    Field("max_load", ("bin",), "number", "no bin takes more of the items' mass", positive, unit="kg",
          default="none", exclusive_minimum=0, example=24000),
    Field("length", ("bin",), "number", "no pipe longer goes into the bin; pipes with lengths fill it along in "
          "rows", positive, unit="mm", default="none", exclusive_minimum=0, example=13600),
    Field("kingpin", ("bin",), "support", 'with rows: where the load bears on a semi-trailer\'s kingpin and how '
          'much it may: {"at": m from the front of the length, "max_load": kg of the load}; with "axle_group"',
          support, default="the carrier's", example={"at": 1.6, "max_load": 9000}),
    Field("axle_group", ("bin",), "support", "with rows: the same for the axle group, with \"kingpin\"", support,
          default="the carrier's", example={"at": 9.35, "max_load": 18500}),
    Field("count", ("bin",), "integer", 'with "bins": how many bins of this kind there are', whole(1),
          default="any number", minimum=1, example=3),
    Field("cost", ("bin",), "number", 'with "bins": what one bin of this kind costs', non_negative,
          default="its usable area (fewer and smaller bins win)", minimum=0, example=45),
    Field("outer", ("bin",), "contour", "the bin's outline (a remnant, a hide): [x, y] points in any frame; the "
          "bin is its box, and places are given in the same frame", points, unit="length",
          default="the rectangle width x height", example=[[0, 0], [1800, 0], [1800, 700], [900, 1200], [0, 1200]]),
    Field("holes", ("bin",), "contours", 'cut-outs of the bin\'s outline (with "outer")', contour_list,
          unit="length", default="none", example=[[[200, 200], [400, 200], [400, 300], [200, 300]]]),
    Field("defects", ("bin",), "contours", "flaws no item may overlap, the bin's margin kept from them as from "
          'its edges (in the frame of "outer", or the rectangle\'s)', contour_list, unit="length",
          default="none", example=[[[600, 500], [640, 500], [640, 560], [600, 560]]]),
    Field("carrier", ("bin",), "string", 'a named carrier, its door the cross-section, with its length and '
          'payload ("20ft", "40ft", "40ft-hc", "trailer-13.6"); "width", "height", "max_load", "length" '
          "beside it override", carrier, example="trailer-13.6"),
    # -- items
    Field("id", ANY_ITEM, "id", "the item's name in the summary, the result and the pictures", item_id,
          default="its index in items (a drawing's parts: the file's stem, -k for the k-th)", example="casing"),
    Field("type", ITEM, "string", 'what the item is (an item without it names a drawing in "file")',
          one_of(*ITEM_TYPES), choices=ITEM_TYPES, example="pipe", required=ITEM),
    Field("quantity", ANY_ITEM, "integer", "copies of the item", whole(1), default="1", minimum=1, example=6),
    Field("weight", ANY_ITEM, "number", "heavier items go first", unbounded,
          default="0; a pipe's mass", example=5),
    Field("margin", ANY_ITEM, "number", "extra spacing of the item on every side", non_negative, unit="length",
          default="0", minimum=0, example=1),
    Field("inflation", ANY_ITEM, "number", "extra growth of the item's outline", non_negative, unit="length",
          default="0", minimum=0, example=0.5),
    Field("description", ANY_ITEM, "any", "free text, shown as written", free_text, example="steel pipe"),
    Field("mass", ("circle", "polygon", "file"), "number", "mass of one piece: counts against max_load",
          non_negative, unit="kg", default="0", minimum=0, example=16.1),
    Field("radius", ("circle",), "number", "the circle's radius", positive, unit="length", exclusive_minimum=0,
          example=57.15, required=("circle",)),
    Field("outer", ("polygon",), "contour", "outer contour: [x, y] points, any winding, closed or not",
          points, unit="length", example=[[0, 0], [300, 0], [300, 200], [0, 200]], required=("polygon",)),
    Field("holes", ("polygon",), "contours", "holes: contours inside the outer one (smaller items may go in)",
          contour_list, unit="length", default="none", example=[[[50, 50], [100, 50], [100, 100], [50, 100]]]),
    Field("od", ("pipe",), "number", 'outside diameter (or give "size": the catalogue\'s millimetres are then '
          "converted to the job's unit)", positive, unit="length",
          exclusive_minimum=0, example=244.48),
    Field("wall", ("pipe",), "number", 'wall thickness (half the od: a solid bar); with "size", picks the '
          "catalogue wall", positive, unit="length", exclusive_minimum=0, example=11.99),
    Field("size", ("pipe",), "string", 'catalogue size: ASME B36.10M "NPS 12" or "DN 300"; API 5CT "casing '
          '9-5/8" or "tubing 2-7/8"', size, example="NPS 12"),
    Field("schedule", ("pipe",), "schedule", 'with "size": ASME schedule or weight class ("STD", "XS", "XXS", '
          '"40", ...) or API nominal weight in lb/ft ("47")', schedule, example="STD"),
    Field("length", ("pipe",), "number", "length of one piece", positive, unit="m",
          default='"pipe_length"', exclusive_minimum=0, example=6),
    Field("density", ("pipe",), "number", "steel density: the plain-end mass is density x pi/4 x (od^2 - (od "
          "- 2 wall)^2) x length", positive, unit="kg/m3", default="7850", exclusive_minimum=0, example=7850),
    Field("mass", ("pipe",), "number", "mass of one piece, which then counts against max_load instead of the "
          "mass by size", non_negative, unit="kg", default="by mass_basis", minimum=0, example=840),
    Field("mass_per_m", ("pipe",), "number", "mass per metre, instead of the mass by size (not with \"mass\")",
          non_negative, unit="kg/m", default="by mass_basis", minimum=0, example=69.94),
    Field("coupling_od", ("pipe",), "number", "outside diameter of the coupling: the pipe goes into a bore only "
          "where its coupling passes with the distance (0: no coupling)", non_negative, unit="length",
          default="an API coupled size's from the coupling table (where it lists none, the pipe goes into no "
          "bore), with lengths; else none", minimum=0, example=269.88),
    Field("file", ("file",), "string", "a DXF or SVG drawing whose every part is an item (a path relative to "
          "the job file, inside its folder unless --parts-root widens it; needs Quarvo[cad])", text,
          example="bracket.dxf", required=("file",)),
    Field("tolerance", ("file",), "number", "chord tolerance of the outlines packed for the drawing's curves "
          "(the written layout keeps the curves themselves): a finer one packs a little closer, slower",
          tolerance, unit="length", default=f"{CAD_TOLERANCE_TEXT} of each part's size", minimum=MIN_TOLERANCE,
          example=0.05, nest="--tolerance"),
    Field("layers", ("file",), "names", "the drawing's layers to read parts from (without case; an SVG "
          "layer is an Inkscape layer's label or a top-level group's name)", names,
          default="every layer but those of frames, titles, dimensions and construction (BORDER, FRAME, TITLE, "
          "TITLEBLOCK, TEXT, NOTES, DIM, DIMENSIONS, DEFPOINTS, CONSTRUCTION, CENTER, HIDDEN, ...: "
          "docs/cutting-shops.md)", example=["CUT", "HOLES"], nest="--layers"),
)

SCOPES = ("job", "bin") + ANY_ITEM


def fields_of(scope):
    """The fields an object of ``scope`` may hold, in the table's order, by name."""
    return {f.name: f for f in FIELDS if scope in f.scopes}


def options():
    """The engine options: FirstFit keywords of the same names."""
    return {f.name: f for f in FIELDS if f.option}


def read_field(obj, name, scope, where):
    """The checked value of obj[name] by the table's reader."""
    return fields_of(scope)[name].read(obj[name], where)


def check_names(obj, scope, where):
    """Refuse a field the table does not give ``scope``."""
    allowed = fields_of(scope)
    for key in obj:
        if key not in allowed:
            raise JobError(f"{where}: unknown field {show(key)}")


# ---------------------------------------------------------------- the JSON Schema


def _property(f):
    kind = f.kind
    if kind == "number":
        out = {"type": "number"}
    elif kind == "integer":
        out = {"type": "integer"}
    elif kind == "boolean":
        out = {"type": "boolean"}
    elif kind == "string":
        out = {"type": "string"}
    elif kind == "id":
        out = {"type": ["string", "integer"]}
    elif kind == "schedule":
        out = {"type": ["string", "number"]}
    elif kind == "angles":
        out = {"type": "array", "items": {"type": "number"}, "minItems": 1}
    elif kind == "names":
        out = {"type": "array", "items": {"type": "string", "minLength": 1}, "minItems": 1}
    elif kind == "contour":
        out = {"$ref": "#/$defs/contour"}
    elif kind == "contours":
        out = {"type": "array", "items": {"$ref": "#/$defs/contour"}}
    elif kind == "object":
        out = {"$ref": "#/$defs/bin"}
    elif kind == "bins":
        out = {"type": "array", "items": {"$ref": "#/$defs/bin"}, "minItems": 1}
    elif kind == "support":
        out = {"$ref": "#/$defs/support"}
    elif kind == "items":
        out = {"type": "array", "items": {"$ref": "#/$defs/item"}}
    else:
        out = {}
    if f.choices:
        out["enum"] = list(f.choices)
    if f.minimum is not None:
        out["minimum"] = f.minimum
    if f.exclusive_minimum is not None:
        out["exclusiveMinimum"] = f.exclusive_minimum
    if kind in ("number",) and f.read is not unbounded:
        out["maximum"] = MAX_VALUE
        if f.minimum is None and f.exclusive_minimum is None:
            out["minimum"] = -MAX_VALUE
    out["description"] = f.meaning + (f" ({f.unit})" if f.unit and f.unit != "length" else "")
    out.update(f.extra)
    return out


def _object(scope, extra_required=(), const_type=None):
    props = {name: _property(f) for name, f in fields_of(scope).items()}
    if const_type is not None:
        props["type"] = {**props["type"], "const": const_type}
        props["type"].pop("enum", None)
    required = [name for name, f in fields_of(scope).items() if scope in f.required] + list(extra_required)
    out = {"type": "object", "properties": props, "additionalProperties": False}
    if required:
        out["required"] = required
    return out


def schema():
    """The JSON Schema (draft 2020-12) of a job file, drawn from the table."""
    pipe = _object("pipe", const_type="pipe")
    # a pipe by its od and wall, or by a catalogue size; never both
    pipe["oneOf"] = [{"required": ["od", "wall"], "not": {"required": ["size"]}},
                     {"required": ["size"], "not": {"required": ["od"]}}]
    bin_ = _object("bin")
    bin_["anyOf"] = [{"required": ["width"]}, {"required": ["carrier"]}, {"required": ["outer"]}]
    bin_["required"] = [r for r in bin_.get("required", []) if r != "width"] or None
    if bin_["required"] is None:
        del bin_["required"]
    return {
        "$schema": "https://json-schema.org/draft/2020-12/schema",
        "title": "Quarvo job",
        "description": "A job file of the quarvo command line: a bin and the items to pack into it.",
        **_object("job"),
        # one bin, or the kinds of bin on offer
        "oneOf": [{"required": ["bin"], "not": {"required": ["bins"]}},
                  {"required": ["bins"], "not": {"required": ["bin"]}}],
        "$defs": {
            "contour": {"type": "array", "minItems": 3,
                        "items": {"type": "array", "prefixItems": [{"type": "number"}, {"type": "number"}],
                                  "minItems": 2, "maxItems": 2}},
            "bin": bin_,
            "support": {"type": "object", "properties": {
                "at": {"type": "number", "minimum": 0, "maximum": MAX_VALUE,
                       "description": "metres from the front of the bin's length"},
                "max_load": {"type": "number", "exclusiveMinimum": 0, "maximum": MAX_VALUE,
                             "description": "kg of the load it may carry"}},
                "required": ["at", "max_load"], "additionalProperties": False},
            "item": {"oneOf": [_object("circle", const_type="circle"), _object("polygon", const_type="polygon"),
                               pipe, _object("file")]},
        },
    }


def schema_text():
    return json.dumps(schema(), indent=2, ensure_ascii=False) + "\n"


# ---------------------------------------------------------------- what people read


def sections():
    """(title, scope, fields) as people read them: the job, its bin, what every
    item takes, then what each kind of item takes besides."""
    common = [f for f in FIELDS if set(ITEM) <= set(f.scopes)]
    out = [("The job", "job", list(fields_of("job").values())),
           ('The bin ("bin")', "bin", list(fields_of("bin").values())),
           ('Every item (of "items")', "circle", common)]
    titles = {"circle": 'A circle ("type": "circle")', "polygon": 'A polygon ("type": "polygon")',
              "pipe": 'A pipe ("type": "pipe")', "file": 'The parts of a drawing (an item with "file" and no "type")'}
    for scope, title in titles.items():
        out.append((title, scope, [f for f in fields_of(scope).values() if f not in common]))
    return out


def _unit_text(f):
    return "the job's unit" if f.unit == "length" else f.unit


def help_text(width=100):
    """The job fields as ``quarvo --help`` lists them."""
    lines = ["job file (JSON); every field, where it goes, and its default:"]
    for title, scope, fs in sections():
        lines.append("")
        lines.append(f"  {title}:")
        for f in fs:
            head = f'    "{f.name}": {json.dumps(f.example)}' if f.example is not None else f'    "{f.name}"'
            bits = [f.meaning]
            if f.unit:
                bits.append(f"in {_unit_text(f)}")
            if f.default:
                bits.append(f"default {f.default}")
            if scope in f.required:
                bits.append("required")
            body = "; ".join(bits)
            if len(head) > 44:
                lines.append(head)
                head = ""
            wrapped = textwrap.wrap(body, width - 46) or [""]
            lines.append(f"{head:<46}{wrapped[0]}")
            lines.extend(" " * 46 + w for w in wrapped[1:])
    return "\n".join(lines)


def _cell(text_):
    return str(text_).replace("|", "\\|").replace("\n", " ")


def markdown():
    """The job format's reference, one table per object (docs/job-format.md)."""
    out = ["# The job format", "",
           "<!-- Generated from python/Quarvo/job/fields.py by `quarvo schema --markdown`: edit the table, not "
           "this file. -->", "",
           "A job file is a JSON object: the bin and the items to pack into it, and how. The same fields are "
           "described by the JSON Schema that `quarvo schema` prints (also shipped as "
           "`Quarvo/job/job.schema.json`), so an editor can check a job file before it is run: name the schema "
           "in the job's `\"$schema\"` field or in the editor's settings.", "",
           "Lengths are in the job's `unit` (millimetres by default) unless the table says otherwise. A field "
           "the table does not list is an error, as is a value of the wrong type; every refusal is one line "
           "naming the field (`items[2].radius: must be a positive number, got -1`).", ""]
    for title, scope, fs in sections():
        out += [f"## {title}", "", "| field | type | unit | default | allowed | meaning |",
                "|---|---|---|---|---|---|"]
        for f in fs:
            name = f.name
            allowed = ", ".join(f"`{c}`" for c in f.choices)
            if f.minimum is not None:
                allowed = allowed or f"at least {f.minimum:g}"
            elif f.exclusive_minimum is not None:
                allowed = allowed or f"more than {f.exclusive_minimum:g}"
            default = "required" if scope in f.required else f.default
            meaning = f.meaning + (f"; `quarvo nest {f.nest}`" if f.nest else "") + \
                ("; an engine option, the `FirstFit` keyword of this name" if f.option else "")
            out.append(f"| `{name}` | {f.kind} | {_cell(_unit_text(f))} | {_cell(default)} | {_cell(allowed)} | "
                       f"{_cell(meaning)} |")
        out.append("")
    return "\n".join(out)
