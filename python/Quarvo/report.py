"""Packing a checked job and reporting it: the summary, the result document
and the reasons for unplaced items.

An item the engine refuses (a ``ValueError`` naming it) does not stop the job:
it is listed as unplaced with the engine's own message.
"""
import math
import os
import time
from dataclasses import dataclass, field

from Quarvo.job import DEFAULT_ROTATIONS_DEG, Job, _show, fmt


@dataclass
class Entry:
    """One copy of a job item, built as a library item."""

    number: int  # 1-based, the shape_id and the label in the plot
    idef: object  # the job's ItemDef
    copy: int  # 1-based copy of its job item
    shape: object  # None when the engine refused the item
    refusal: str = None  # the engine's message when it refused the item


def _shape(idef, number):
    from Quarvo.geometry import Circle, Polygon

    shape = Circle(idef.radius, shape_id=number) if idef.kind == "circle" else \
        Polygon(idef.outer, idef.holes, shape_id=number)
    shape.weight = idef.weight
    shape.margin = idef.margin
    shape.inflation = idef.inflation
    return shape


def build_items(job, refused=None):
    """One Entry per copy of every job item; items in ``refused`` (index ->
    message) or refused by the engine when built get no shape."""
    refused = {} if refused is None else refused
    entries = []
    for idef in job.items:
        for copy in range(1, idef.quantity + 1):
            number = len(entries) + 1
            shape = None
            if idef.index not in refused:
                try:
                    shape = _shape(idef, number)
                except ValueError as exc:
                    refused[idef.index] = str(exc)
            entries.append(Entry(number, idef, copy, shape, refused.get(idef.index)))
    return entries


def _first_fit(job, shapes):
    from Quarvo.first_fit_algorithm import FirstFit
    from Quarvo.geometry import Bin

    return FirstFit(shapes, Bin(job.bin_w, job.bin_h), global_distance=job.distance, rotations=job.rotations,
                    strategy=job.strategy, placement=job.placement, **job.options)


def engine_refusal(job, idef, number):
    """The engine's message when it refuses the item (as item ``number``)
    packed alone into an empty bin, or None when it takes it (or merely finds
    no room)."""
    try:
        _first_fit(job, [_shape(idef, number)]).do_pack()
    except ValueError as exc:
        return str(exc)
    return None


@dataclass
class Result:
    job: Job
    entries: list
    bins: list  # lists of Entry, in placement order
    unplaced: list  # Entry: the refused ones first, then in processing order
    seconds: float
    used_length: float = 0.0  # a strip's: the largest y of any placed item's outline
    check: object = None  # the layout checker's report
    reasons: dict = field(default_factory=dict)  # item index -> reason, filled on demand

    @property
    def placed(self):
        return len(self.entries) - len(self.unplaced)


def pack(job, progress=None):
    """Pack the job; an item the engine refuses is set aside with its message."""
    refused = {}
    while True:
        entries = build_items(job, refused)
        live = [e for e in entries if e.shape is not None]
        try:
            ff = _first_fit(job, [e.shape for e in live])
            if progress is not None:
                progress.watch(ff)
            start = time.perf_counter()
            bins, unplaced = ff.do_pack()
            break
        except ValueError:
            # A fault of the job's settings shows without items; else find the items the
            # engine refuses on their own (without one, the fault is still the job's).
            _first_fit(job, []).do_pack()
            first = {e.idef.index: e.number for e in reversed(entries)}
            found = {i.index: m for i in job.items if i.index not in refused
                     for m in [engine_refusal(job, i, first[i.index])] if m is not None}
            if not found:
                raise
            refused.update(found)
    seconds = time.perf_counter() - start
    by_shape = {id(e.shape): e for e in live}
    result = Result(job, entries, [[by_shape[id(s)] for s in b] for b in bins],
                    [e for e in entries if e.shape is None] + [by_shape[id(s)] for s in unplaced], seconds,
                    used_length=ff.used_length if job.bin_h is None else 0.0)
    if progress is not None:
        progress.done(result.placed, len(bins))
    return result


def check(result):
    """Check the packed layout with the independent checker: in the bins, apart, the distance kept.

    Circles take part in placement as inscribed 64-gons unless the job asks
    for exact clearance, so the checker is then given its circle tolerance.
    """
    from Quarvo.check import CIRCLE_REL_TOL, check_layout
    from Quarvo.geometry import Bin

    job = result.job
    tol = 0.0 if job.options.get("exact_clearance") else CIRCLE_REL_TOL
    return check_layout([[e.shape for e in b] for b in result.bins], Bin(job.bin_w, job.bin_h),
                        distance=job.distance, circle_rel_tol=tol)


# --------------------------------------------------------------- reporting


def net_area(entry):
    """Area of the item's material: a ring's hole is not part of it."""
    from Quarvo.geometry_handle import polygon_area

    idef = entry.idef
    if idef.kind == "circle":
        return math.pi * idef.radius * idef.radius
    return abs(polygon_area(idef.outer)) - sum(abs(polygon_area(h)) for h in idef.holes)


def spacing(entry, job):
    return job.distance / 2.0 + entry.idef.inflation + entry.idef.margin


def unplaced_reason(entry, result):
    """Why the item is unplaced: the engine's refusal when it refuses the item,
    else that it does not fit an empty bin."""
    if entry.refusal is not None:
        return entry.refusal
    job, idef = result.job, entry.idef
    if idef.index not in result.reasons:
        result.reasons[idef.index] = engine_refusal(job, idef, entry.number) or _no_room(entry, job)
    return result.reasons[idef.index]


def _no_room(entry, job):
    from Quarvo.geometry_handle import is_convex

    idef = entry.idef
    # The engine refused the item in an empty bin without a message: the nfp
    # placer takes convex polygons only.
    if job.strategy == "nfp" and idef.kind == "polygon" and not job.options.get("nonconvex") \
            and not is_convex(idef.outer):
        return 'non-convex polygon: strategy "nfp" packs convex polygons and circles only (try "bl")'
    s = spacing(entry, job)
    if idef.kind == "circle":
        w = h = 2.0 * (idef.radius + s)
    else:
        xs = [p[0] for p in idef.outer]
        ys = [p[1] for p in idef.outer]
        w, h = max(xs) - min(xs) + 2.0 * s, max(ys) - min(ys) + 2.0 * s
    turns = "" if idef.kind == "circle" or job.strategy == "bl" else " at any allowed rotation"
    room = f"a strip {fmt(job.bin_w)} wide" if job.bin_h is None else \
        f"an empty {fmt(job.bin_w)} x {fmt(job.bin_h)} bin"
    return (f"does not fit in {room}{turns} "
            f"(about {fmt(w)} x {fmt(h)} with its spacing)")


def holes_by_depth(bin_entries):
    """{depth: number of items} for the items of a bin that lie in holes."""
    from Quarvo.check import nesting_depths

    counts = {}
    for d in nesting_depths([e.shape for e in bin_entries]):
        if d:
            counts[d] = counts.get(d, 0) + 1
    return dict(sorted(counts.items()))


def _depths_text(counts):
    total = sum(counts.values())
    return f"{total} ({' '.join(f'{d}:{n}' for d, n in counts.items())})" if total else "0"


def modes_line(job):
    if job.strategy != "nfp":
        holes = "none (bottom-left)"
    else:
        holes = job.options.get("hole_fill", "sampled")
    clearance = "exact (circles as circumscribed 64-gons)" if job.options.get("exact_clearance") \
        else "inscribed (circles as inscribed 64-gons)"
    return f"  holes {holes}, clearance {clearance}"


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


def fill(result, bin_entries):
    job = result.job
    height = job.bin_h if job.bin_h is not None else result.used_length
    return sum(net_area(e) for e in bin_entries) / (job.bin_w * height) if height > 0 else 0.0


def bin_text(job):
    return f"strip {fmt(job.bin_w)} wide" if job.bin_h is None else f"bin {fmt(job.bin_w)} x {fmt(job.bin_h)}"


def title(job):
    return job.name or os.path.basename(job.source)


def summary_lines(result):
    job = result.job
    total = len(result.entries)
    unit = f" {job.unit}" if job.unit else ""
    lines = [
        f"job: {title(job)}",
        f"  {total} items, {bin_text(job)}{unit}, distance {fmt(job.distance)}{unit}, "
        f"strategy {job.strategy}, placement {job.placement}",
        modes_line(job),
        "",
        f"  {'bin':>4}  {'items':>6}  {'fill':>7}  in holes (by depth)",
    ]
    for k, b in enumerate(result.bins):
        lines.append(f"  {k:>4}  {len(b):>6}  {100.0 * fill(result, b):>6.1f}%  {_depths_text(holes_by_depth(b))}")
    if not result.bins:
        lines.append("  (no bin used)")
    lines.append("")
    lines.append(f"  placed {result.placed} of {total} items in {len(result.bins)} bin(s), "
                 f"{len(result.unplaced)} unplaced, {result.seconds:.2f} s")
    if job.bin_h is None:
        lines.append(f"  used length {fmt(result.used_length)}{unit} (the highest point of any item)")
        lines.append("  fill = material area of the items (holes excluded) / (width x used length)")
    else:
        lines.append("  fill = material area of the bin's items (holes excluded) / bin area")
    if result.unplaced:
        lines.append("  unplaced:")
        for e in result.unplaced:
            lines.append(f"    item {e.number} (id {_show(e.idef.id)}, copy {e.copy}): {unplaced_reason(e, result)}")
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
    return {
        "job": job.name or job.source,
        **({"unit": job.unit} if job.unit else {}),
        "bin": {"width": job.bin_w, "height": job.bin_h} if job.bin_h is not None else {"width": job.bin_w},
        "distance": job.distance,
        "strategy": job.strategy,
        "placement": job.placement,
        "rotation_unit": job.rotation_unit,
        "seconds": round(result.seconds, 4),
        **({"used_length": result.used_length} if job.bin_h is None else {}),
        "bins": [{"bin": k, "items": len(b), "fill_ratio": fill(result, b)} for k, b in enumerate(result.bins)],
        "placements": [placement_record(e, k, job) for k, b in enumerate(result.bins) for e in b],
        "unplaced": [{"item": e.number, "id": e.idef.id, "copy": e.copy, "reason": unplaced_reason(e, result)}
                     for e in result.unplaced],
        **({"check": {"ok": result.check.ok, "violations": [str(v) for v in result.check.violations]}}
           if result.check is not None else {}),
    }
