"""The command-line job: read a JSON job, pack it, report, write the results.

    quarvo [JOB.json] [--output OUT.json] [--plot FILE.png|FILE.svg] [--quiet]

Without a job file the bundled example (a steel pipe bundle) is packed.
A job that cannot be packed as written is rejected with a one-line message on
stderr and exit status 2, before anything is packed or written.
"""
import argparse
import json
import math
import os
import sys
import threading
import time
from dataclasses import dataclass, field

EXIT_OK = 0
EXIT_FAILED = 1
EXIT_BAD_JOB = 2
EXIT_CHECK_FAILED = 3
EXIT_INTERRUPTED = 130

# More copies than this is almost surely a typo in a quantity, and would only
# keep the packer busy for hours.
MAX_ITEMS = 100_000

BUNDLED_NAME = "pipes.json"
PLOT_FORMATS = (".png", ".svg")
DEFAULT_ROTATIONS_DEG = (0.0, 90.0, 180.0, 270.0)

_TOP_FIELDS = ("name", "description", "unit", "bin", "distance", "strategy", "placement", "rotations",
               "rotation_unit", "incremental", "items")
_BIN_FIELDS = ("width", "height")
_COMMON_ITEM_FIELDS = ("id", "type", "quantity", "weight", "margin", "inflation", "description")
_ITEM_FIELDS = {"circle": _COMMON_ITEM_FIELDS + ("radius",),
                "polygon": _COMMON_ITEM_FIELDS + ("outer", "holes")}

JOB_HELP = """\
job file (JSON):
  {
    "bin": {"width": 1200, "height": 800},      required, positive numbers
    "distance": 2,                              clear distance between items (default 0)
    "strategy": "nfp",                          "nfp" (default) or "bl"
    "placement": "corner",                      "corner" (default) or "center" (nfp only)
    "rotations": [0, 90, 180, 270],             angles tried for polygons (nfp only;
                                                default 0, 90, 180, 270 degrees)
    "rotation_unit": "degrees",                 unit of "rotations": degrees (default) or radians
    "incremental": false,                       nfp only: extend one union per item kind instead of
                                                uniting every no-fit polygon afresh (much faster on
                                                large jobs; positions may differ by about 1e-6)
    "items": [
      {"id": "DN100", "type": "circle", "radius": 57.15, "quantity": 8, "weight": 16.1},
      {"id": "plate", "type": "polygon", "outer": [[0, 0], [300, 0], [300, 200], [0, 200]],
       "holes": [[[50, 50], [100, 50], [100, 100], [50, 100]]]}
    ]
  }
  Optional per item: "quantity" (copies, default 1), "weight" (heavier first,
  default 0), "margin" and "inflation" (extra spacing, default 0).
  Items that fit in no bin are listed as unplaced; that is not an error.

exit status: 0 packed (even with unplaced items), 1 packing or writing failed,
2 bad job or arguments, 3 layout check failed (with --check), 130 interrupted.
"""


class JobError(Exception):
    """A job that cannot be packed as written; the message is one line."""


# ---------------------------------------------------------------- job model


@dataclass
class ItemDef:
    index: int  # position in the job's item list
    id: object
    kind: str  # "circle" or "polygon"
    quantity: int = 1
    weight: float = 0.0
    margin: float = 0.0
    inflation: float = 0.0
    radius: float = 0.0
    outer: list = field(default_factory=list)
    holes: list = field(default_factory=list)


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
    incremental: bool = False

    @property
    def total(self):
        return sum(s.quantity for s in self.items)


def _is_number(v):
    return isinstance(v, (int, float)) and not isinstance(v, bool)


def _number(v, where, *, positive=False, non_negative=False):
    if not _is_number(v):
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
    return x


def _show(v, limit=40):
    text = json.dumps(v, ensure_ascii=False) if not isinstance(v, float) or math.isfinite(v) else repr(v)
    return text if len(text) <= limit else text[: limit - 3] + "..."


def _choice(obj, key, where, choices, default):
    if key not in obj:
        return default
    v = obj[key]
    if v not in choices or not isinstance(v, str):
        listed = " or ".join(f'"{c}"' for c in choices)
        raise JobError(f"{where}: unknown value {_show(v)} (expected {listed})")
    return v


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
    if abs(_area(closed)) <= 1e-12:
        raise JobError(f"{where}: the points enclose no area")
    return closed


def _area(closed):
    s = 0.0
    for (x1, y1), (x2, y2) in zip(closed, closed[1:]):
        s += x1 * y2 - x2 * y1
    return s / 2.0


def _boundaries_meet(ring, outer):
    """Whether any edge of ring touches or crosses an edge of outer.

    Outer edges are bucketed on a grid of about sqrt(n) x sqrt(n) cells, so
    contours of many thousand points are checked in near-linear time.
    """
    from Quarvo.geometry_handle import segments_intersect

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
    from Quarvo.geometry_handle import point_in_polygon

    if _boundaries_meet(hole, outer):
        raise JobError(f"{where}: crosses or touches its outer contour")
    # The boundaries are apart, so one vertex tells whether the whole hole is inside.
    if not point_in_polygon(hole[0], outer):
        raise JobError(f"{where}: lies outside its outer contour (point {_show(list(hole[0]))})")


def _item(raw, i):
    where = f"items[{i}]"
    if not isinstance(raw, dict):
        raise JobError(f"{where}: must be an object, got {_show(raw)}")
    if "type" not in raw:
        raise JobError(f'{where}.type: missing (expected "circle" or "polygon")')
    kind = _choice(raw, "type", f"{where}.type", ("circle", "polygon"), None)
    _check_fields(raw, where, _ITEM_FIELDS[kind])
    item_id = raw.get("id", i)
    if not (isinstance(item_id, str) or (isinstance(item_id, int) and not isinstance(item_id, bool))):
        raise JobError(f"{where}.id: must be a text or an integer, got {_show(item_id)}")
    idef = ItemDef(index=i, id=item_id, kind=kind)
    if "quantity" in raw:
        q = raw["quantity"]
        if not isinstance(q, int) or isinstance(q, bool) or q < 1:
            raise JobError(f"{where}.quantity: must be a whole number of at least 1, got {_show(q)}")
        idef.quantity = q
    if "weight" in raw:
        idef.weight = _number(raw["weight"], f"{where}.weight")
    if "margin" in raw:
        idef.margin = _number(raw["margin"], f"{where}.margin", non_negative=True)
    if "inflation" in raw:
        idef.inflation = _number(raw["inflation"], f"{where}.inflation", non_negative=True)
    if kind == "circle":
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
    return idef


def parse_job(raw, source="job"):
    """Check a decoded job document and return a ``Job``; raises ``JobError``."""
    if not isinstance(raw, dict):
        raise JobError(f"job: must be a JSON object, got {_show(raw)}")
    _check_fields(raw, "job", _TOP_FIELDS)
    if "bin" not in raw:
        raise JobError('bin: missing (expected {"width": ..., "height": ...})')
    b = raw["bin"]
    if not isinstance(b, dict):
        raise JobError(f'bin: must be an object {{"width": ..., "height": ...}}, got {_show(b)}')
    _check_fields(b, "bin", _BIN_FIELDS)
    for key in _BIN_FIELDS:
        if key not in b:
            raise JobError(f"bin.{key}: missing")
    bin_w = _number(b["width"], "bin.width", positive=True)
    bin_h = _number(b["height"], "bin.height", positive=True)
    distance = _number(raw.get("distance", 0.0), "distance", non_negative=True)
    strategy = _choice(raw, "strategy", "strategy", ("nfp", "bl"), "nfp")
    placement = _choice(raw, "placement", "placement", ("corner", "center"), "corner")
    if strategy == "bl" and placement == "center":
        raise JobError('placement: "center" needs strategy "nfp" (bottom-left always packs from the corner)')
    unit = _choice(raw, "rotation_unit", "rotation_unit", ("degrees", "radians"), "degrees")
    rotations = None
    given = None
    if "rotations" in raw:
        r = raw["rotations"]
        if not isinstance(r, list) or not r:
            raise JobError(f"rotations: must be a non-empty list of angles, got {_show(r)}")
        given = [_number(a, f"rotations[{k}]") for k, a in enumerate(r)]
        rotations = [math.radians(a) for a in given] if unit == "degrees" else list(given)
    incremental = raw.get("incremental", False)
    if not isinstance(incremental, bool):
        raise JobError(f"incremental: must be true or false, got {_show(incremental)}")
    name = raw.get("name", "")
    if not isinstance(name, str):
        raise JobError(f"name: must be a text, got {_show(name)}")
    if "items" not in raw:
        raise JobError("items: missing (expected a list of items)")
    if not isinstance(raw["items"], list):
        raise JobError(f"items: must be a list, got {_show(raw['items'])}")
    items = [_item(it, i) for i, it in enumerate(raw["items"])]
    job = Job(source=source, name=name, bin_w=bin_w, bin_h=bin_h, distance=distance, strategy=strategy,
              placement=placement, rotations=rotations, rotation_unit=unit, rotations_given=given, items=items,
              incremental=incremental)
    if job.total > MAX_ITEMS:
        raise JobError(f"items: {job.total} items in all (quantities included), more than {MAX_ITEMS}")
    return job


def bundled_job_text():
    """The text of the bundled example job (a steel pipe bundle)."""
    from importlib import resources

    return resources.files("Quarvo").joinpath("data", BUNDLED_NAME).read_text(encoding="utf-8")


def load_job(path):
    """Read and check a job file (or the bundled example when path is None)."""
    if path is None:
        text, source = bundled_job_text(), f"bundled example {BUNDLED_NAME}"
    else:
        source = path
        try:
            with open(path, "rb") as f:
                data = f.read()
        except OSError as exc:
            raise JobError(f"{path}: cannot read the job file: {exc.strerror or exc}") from None
        try:
            text = data.decode("utf-8-sig")
        except UnicodeDecodeError:
            raise JobError(f"{path}: not a JSON file (not UTF-8 text)") from None
    try:
        raw = json.loads(text)
    except json.JSONDecodeError as exc:
        raise JobError(f"{source}: not valid JSON: {exc.msg} (line {exc.lineno}, column {exc.colno})") from None
    except RecursionError:
        raise JobError(f"{source}: not valid JSON: nested too deeply") from None
    return parse_job(raw, source)


# ----------------------------------------------------------------- packing


@dataclass
class Entry:
    """One copy of a job item, built as a library item."""

    number: int  # 1-based, the shape_id and the label in the plot
    idef: ItemDef
    copy: int  # 1-based copy of its job item
    shape: object


def build_items(job):
    from Quarvo.geometry import Circle, Polygon

    entries = []
    for idef in job.items:
        for copy in range(1, idef.quantity + 1):
            number = len(entries) + 1
            if idef.kind == "circle":
                shape = Circle(idef.radius, shape_id=number)
            else:
                shape = Polygon(idef.outer, idef.holes, shape_id=number)
            shape.weight = idef.weight
            shape.margin = idef.margin
            shape.inflation = idef.inflation
            entries.append(Entry(number, idef, copy, shape))
    return entries


class _Progress:
    """Progress line on stderr while the packer runs: the packer keeps counters
    that this thread reads (the packing itself never calls back into Python)."""

    def __init__(self, stream, total, enabled):
        self.stream, self.total, self.enabled = stream, total, enabled
        self._stop = threading.Event()
        self._thread = None
        self._start = 0.0
        self.packer = None

    def watch(self, packer):
        self.packer = packer

    def __enter__(self):
        self._start = time.perf_counter()
        if self.enabled:
            self._write(f"packing {self.total} items ...")
            self._thread = threading.Thread(target=self._tick, daemon=True)
            self._thread.start()
        return self

    def _write(self, text):
        self.stream.write("\r\x1b[K" + text)
        self.stream.flush()

    def _tick(self):
        while not self._stop.wait(0.5):
            elapsed = time.perf_counter() - self._start
            counters = getattr(self.packer, "_progress", None)
            if counters:
                processed, placed, bins, _ = counters
                self._write(f"placed {placed} of {self.total} items ({processed - placed} unplaced, "
                            f"{bins} bin(s)) ... {elapsed:.1f} s")
            else:
                self._write(f"packing {self.total} items ... {elapsed:.1f} s")

    def done(self, placed, bins):
        if self.enabled:
            self._stop.set()
            self._thread.join()
            self._write(f"placed {placed} of {self.total} items in {bins} bin(s), "
                        f"{time.perf_counter() - self._start:.2f} s\n")

    def __exit__(self, *exc):
        if self.enabled and not self._stop.is_set():
            self._stop.set()
            self._thread.join()
            self.stream.write("\r\x1b[K")
            self.stream.flush()
        return False


@dataclass
class Result:
    job: Job
    entries: list
    bins: list  # lists of Entry, in placement order
    unplaced: list  # Entry, in processing order
    seconds: float
    check: object = None  # the layout checker's report, when the checker is there


def pack(job, progress=None):
    from Quarvo.first_fit_algorithm import FirstFit
    from Quarvo.geometry import Bin

    entries = build_items(job)
    by_shape = {id(e.shape): e for e in entries}
    shapes = [e.shape for e in entries]
    ff = FirstFit(shapes, Bin(job.bin_w, job.bin_h), global_distance=job.distance, rotations=job.rotations,
                  strategy=job.strategy, placement=job.placement, incremental=job.incremental)
    if progress is not None:
        progress.watch(ff)
    start = time.perf_counter()
    bins, unplaced = ff.do_pack()
    seconds = time.perf_counter() - start
    result = Result(job, entries, [[by_shape[id(s)] for s in b] for b in bins],
                    [by_shape[id(s)] for s in unplaced], seconds)
    if progress is not None:
        progress.done(len(entries) - len(unplaced), len(bins))
    return result


def checker_available():
    """Whether the independent layout checker ``Quarvo.check`` is installed."""
    import importlib.util

    try:
        return importlib.util.find_spec("Quarvo.check") is not None
    except (ImportError, ValueError):
        return False


def check(result):
    """Check the packed layout with the independent checker: in the bins, apart, the distance kept.

    Circles take part in placement as inscribed 64-gons, so the checker is
    given its circle tolerance for them.
    """
    from Quarvo.check import CIRCLE_REL_TOL, check_layout

    job = result.job
    return check_layout([[e.shape for e in b] for b in result.bins], job.bin_w, job.bin_h, job.distance,
                        circle_rel_tol=CIRCLE_REL_TOL)


# --------------------------------------------------------------- reporting


def net_area(entry):
    """Area of the item's material: a ring's hole is not part of it."""
    idef = entry.idef
    if idef.kind == "circle":
        return math.pi * idef.radius * idef.radius
    return abs(_area(idef.outer)) - sum(abs(_area(h)) for h in idef.holes)


def spacing(entry, job):
    return job.distance / 2.0 + entry.idef.inflation + entry.idef.margin


def unplaced_reason(entry, job):
    from Quarvo.geometry_handle import is_convex

    idef = entry.idef
    if job.strategy == "nfp" and idef.kind == "polygon" and not is_convex(idef.outer):
        return 'non-convex polygon: strategy "nfp" packs convex polygons and circles only (try "bl")'
    s = spacing(entry, job)
    if idef.kind == "circle":
        w = h = 2.0 * (idef.radius + s)
    else:
        xs = [p[0] for p in idef.outer]
        ys = [p[1] for p in idef.outer]
        w, h = max(xs) - min(xs) + 2.0 * s, max(ys) - min(ys) + 2.0 * s
    turns = "" if idef.kind == "circle" or job.strategy == "bl" else " at any allowed rotation"
    return (f"does not fit in an empty {_fmt(job.bin_w)} x {_fmt(job.bin_h)} bin{turns} "
            f"(about {_fmt(w)} x {_fmt(h)} with its spacing)")


def _fmt(x):
    return f"{x:.10g}" if abs(x) >= 0.01 or x == 0 else f"{x:.3g}"


def items_in_holes(bin_entries):
    """Items of a bin that sit in a hole of another item of the bin."""
    from Quarvo.geometry_handle import point_in_polygon

    holes = [(e, h) for e in bin_entries if e.idef.holes for h in e.shape.transformed_holes()]
    if not holes:
        return 0
    count = 0
    for e in bin_entries:
        # a circle's centre or a polygon's first outline vertex; a ring's
        # centroid would not do, it lies in the ring's own hole
        probe = e.shape.transformed()[0]
        if any(owner is not e and point_in_polygon(probe, h) for owner, h in holes):
            count += 1
    return count


def _rotation_out(angle, job):
    """The rotation in the job's unit, as written in the job when it came from there."""
    given = job.rotations_given
    radians = job.rotations
    if given is None:
        given = list(DEFAULT_ROTATIONS_DEG)
        radians = [0.0, math.pi / 2, math.pi, 3 * math.pi / 2]
        if job.rotation_unit == "radians":
            given = list(radians)
    for g, r in zip(given, radians):
        if r == angle:
            return g
    return math.degrees(angle) if job.rotation_unit == "degrees" else angle


def summary_lines(result):
    job = result.job
    bin_area = job.bin_w * job.bin_h
    total = len(result.entries)
    placed = total - len(result.unplaced)
    title = job.name or os.path.basename(job.source)
    lines = [
        f"job: {title}",
        f"  {total} items, bin {_fmt(job.bin_w)} x {_fmt(job.bin_h)}, distance {_fmt(job.distance)}, "
        f"strategy {job.strategy}, placement {job.placement}",
        "",
        f"  {'bin':>4}  {'items':>6}  {'in holes':>8}  {'fill':>7}",
    ]
    for k, b in enumerate(result.bins):
        fill = sum(net_area(e) for e in b) / bin_area
        lines.append(f"  {k:>4}  {len(b):>6}  {items_in_holes(b):>8}  {100.0 * fill:>6.1f}%")
    if not result.bins:
        lines.append("  (no bin used)")
    lines.append("")
    lines.append(f"  placed {placed} of {total} items in {len(result.bins)} bin(s), "
                 f"{len(result.unplaced)} unplaced, {result.seconds:.2f} s")
    lines.append("  fill = material area of the bin's items (holes excluded) / bin area")
    if result.unplaced:
        lines.append("  unplaced:")
        for e in result.unplaced:
            lines.append(f"    item {e.number} (id {_show(e.idef.id)}, copy {e.copy}): {unplaced_reason(e, job)}")
    if result.check is not None:
        lines.extend("  " + line for line in result.check.summary(max_lines=10).splitlines())
    return lines


def _points(contour):
    return [[x, y] for x, y in contour]


def placement_record(entry, bin_index, job):
    from Quarvo.geometry_handle import circle_to_polygon

    s = entry.shape
    rec = {"item": entry.number, "id": entry.idef.id, "copy": entry.copy, "type": entry.idef.kind,
           "bin": bin_index, "tx": s.tx, "ty": s.ty, "rotation": _rotation_out(s.rotation, job)}
    if entry.idef.kind == "circle":
        (cx, cy), r = s.transformed()
        rec["center"] = [cx, cy]
        rec["radius"] = r
        rec["contour"] = _points(circle_to_polygon((cx, cy), r, 64))
    else:
        rec["contour"] = _points(s.transformed())
        rec["holes"] = [_points(h) for h in s.transformed_holes()]
    return rec


def result_document(result):
    job = result.job
    bin_area = job.bin_w * job.bin_h
    return {
        "job": job.name or job.source,
        "bin": {"width": job.bin_w, "height": job.bin_h},
        "distance": job.distance,
        "strategy": job.strategy,
        "placement": job.placement,
        "rotation_unit": job.rotation_unit,
        "seconds": round(result.seconds, 4),
        "bins": [{"bin": k, "items": len(b), "fill_ratio": sum(net_area(e) for e in b) / bin_area}
                 for k, b in enumerate(result.bins)],
        "placements": [placement_record(e, k, job) for k, b in enumerate(result.bins) for e in b],
        "unplaced": [{"item": e.number, "id": e.idef.id, "copy": e.copy, "reason": unplaced_reason(e, job)}
                     for e in result.unplaced],
        **({"check": {"ok": result.check.ok, "violations": [str(v) for v in result.check.violations]}}
           if result.check is not None else {}),
    }


def dump_document(doc):
    """JSON with one placement per line: readable, and still plain JSON."""
    parts = []
    for key, value in doc.items():
        if key in ("placements", "unplaced", "bins") and value:
            rows = ",\n".join("    " + json.dumps(v, ensure_ascii=False) for v in value)
            parts.append(f"  {json.dumps(key)}: [\n{rows}\n  ]")
        else:
            parts.append(f"  {json.dumps(key)}: {json.dumps(value, ensure_ascii=False)}")
    return "{\n" + ",\n".join(parts) + "\n}\n"


def _write_atomic(path, text):
    tmp = f"{path}.tmp{os.getpid()}"
    try:
        with open(tmp, "w", encoding="utf-8") as f:
            f.write(text)
        os.replace(tmp, path)
    finally:
        if os.path.exists(tmp):
            os.remove(tmp)


def write_plot(result, path):
    import matplotlib

    matplotlib.use("Agg")
    from Quarvo.visualize import plot_layout

    job = result.job
    title = f"{job.name or os.path.basename(job.source)}: {len(result.entries) - len(result.unplaced)} items " \
            f"in {len(result.bins)} bin(s)"
    plot_layout([[e.shape for e in b] for b in result.bins], job.bin_w, job.bin_h, out_path=path, title=title)


# -------------------------------------------------------------- arguments


def _parser():
    p = argparse.ArgumentParser(
        prog="quarvo",
        description="Pack circles and polygons (pipe cross-sections) into rectangular bins. "
                    "Without JOB the bundled example job, a steel pipe bundle, is packed.",
        epilog=JOB_HELP,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    p.add_argument("job", nargs="?", metavar="JOB.json", help="the job file (default: the bundled example)")
    p.add_argument("-o", "--output", metavar="OUT.json", help="write the placements as JSON")
    p.add_argument("-p", "--plot", metavar="FILE", help="draw the layout into a PNG or SVG file (needs matplotlib)")
    p.add_argument("-q", "--quiet", action="store_true", help="print nothing but errors")
    p.add_argument("--incremental", action="store_true",
                   help='same as "incremental": true in the job (faster nfp packing of large jobs)')
    if checker_available():
        p.add_argument("--check", action="store_true",
                       help="exit with status 3 when the independent layout check (always run and shown in the "
                            "summary) finds an item outside its bin, an overlap or a pair closer than the distance")
    p.add_argument("--version", action="version", version=f"quarvo {_version()}")
    return p


def _version():
    try:
        from Quarvo import __version__
    except ImportError:
        return "unknown"
    return __version__


def _check_outputs(args):
    for opt, path in (("--output", args.output), ("--plot", args.plot)):
        if path is None:
            continue
        if path == "":
            raise JobError(f"{opt}: empty file name")
        folder = os.path.dirname(os.path.abspath(path))
        if not os.path.isdir(folder):
            raise JobError(f"{opt}: folder {folder!r} does not exist")
        if os.path.isdir(path):
            raise JobError(f"{opt}: {path!r} is a folder")
    if args.plot is not None:
        ext = os.path.splitext(args.plot)[1].lower()
        if ext not in PLOT_FORMATS:
            raise JobError(f"--plot: unsupported picture type {ext or '(none)'!r} (use .png or .svg)")
        import importlib.util

        if importlib.util.find_spec("matplotlib") is None:
            from Quarvo.visualize import _MISSING_MATPLOTLIB

            raise JobError(f"--plot: {_MISSING_MATPLOTLIB}")
    if args.output is not None and args.plot is not None and \
            os.path.abspath(args.output) == os.path.abspath(args.plot):
        raise JobError("--output and --plot name the same file")


def main(argv=None):
    """Run the command-line job; returns the exit status."""
    parser = _parser()
    try:
        args = parser.parse_args(argv)
    except SystemExit as exc:  # --help, --version and argument errors
        return exc.code if isinstance(exc.code, int) else EXIT_BAD_JOB
    err = sys.stderr
    try:
        _check_outputs(args)
        job = load_job(args.job)
        if args.incremental:
            job.incremental = True
    except JobError as exc:
        print(f"quarvo: error: {exc}", file=err)
        return EXIT_BAD_JOB

    show_progress = not args.quiet and hasattr(err, "isatty") and err.isatty()
    try:
        with _Progress(err, job.total, show_progress) as progress:
            result = pack(job, progress)
    except KeyboardInterrupt:
        print("\nquarvo: interrupted, nothing written", file=err)
        return EXIT_INTERRUPTED
    except Exception as exc:  # an engine error: report it in one line, write nothing
        print(f"quarvo: error: packing failed: {type(exc).__name__}: {exc}", file=err)
        return EXIT_FAILED
    if checker_available():
        try:
            result.check = check(result)
        except Exception as exc:  # a checker fault must not cost the user the layout
            print(f"quarvo: warning: the layout check could not run: {type(exc).__name__}: {exc}", file=err)

    try:
        if args.plot is not None:
            write_plot(result, args.plot)
        if args.output is not None:
            _write_atomic(args.output, dump_document(result_document(result)))
    except (OSError, ValueError, ImportError) as exc:
        print(f"quarvo: error: writing the results failed: {exc}", file=err)
        return EXIT_FAILED

    if not args.quiet:
        out = sys.stdout
        for line in summary_lines(result):
            print(line, file=out)
        for path in (args.output, args.plot):
            if path is not None:
                print(f"  wrote {path}", file=out)
    if getattr(args, "check", False) and (result.check is None or not result.check.ok):
        return EXIT_CHECK_FAILED
    return EXIT_OK
