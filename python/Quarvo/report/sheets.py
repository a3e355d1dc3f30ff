"""The report per sheet of a nest of parts from drawings: the parts placed by
name and count, the mirrored ones, the utilisation on the parts' true areas
(their drawn curves, not the chords packed), the used length along the sheet
(the highest point of the parts' curves: sheets fill from the bottom up) and
the leftover: the largest rectangle clear of every part that reaches the
sheet's free end, a remnant to keep. As lines of the summary, records of the
result document and rows of the report file (``--report``, written by
``Quarvo.report.outputs``).

Sheets are numbered from 1 wherever people read them (the summary, the
picture, the drawing's layers, the report); the result document's ``"bin"``
stays the 0-based index it always was, beside ``"sheet"``.
"""
import bisect
import math
from dataclasses import dataclass



@dataclass
class SheetReport:
    number: int  # from 1
    parts: list  # (id, count, mirrored) in the order the parts were placed
    mirrored: int
    area: float  # the parts' material, on their true curves
    utilisation: float  # area / (width x height), on a strip / (width x used length)
    used_length: float
    leftover: tuple  # (x, y, width, height) in the sheet's frame; None on a strip


def from_drawings(job):
    """Whether the job nests parts from drawings (its summary reports per sheet)."""
    return any(idef.file is not None for idef in job.items)


def material_area(entry):
    """Area of the item's material, holes left out: a drawn part's by its true curves."""
    from Quarvo.geometry_handle import polygon_area

    idef = entry.idef
    if idef.true_shape is not None:
        return idef.true_shape.area()
    if idef.kind == "circle":
        return math.pi * idef.radius * idef.radius
    if idef.kind == "pipe":
        bore = max(0.0, idef.od / 2 - idef.wall)
        return math.pi * ((idef.od / 2) ** 2 - bore * bore)
    return abs(polygon_area(idef.outer)) - sum(abs(polygon_area(h)) for h in idef.holes)


def placed_box(entry):
    """(x0, y0, x1, y1) of the placed item in its sheet: a drawn part's by its true curves."""
    s = entry.shape
    if entry.idef.true_shape is not None:
        return entry.idef.true_shape.placed(s.rotation, bool(getattr(s, "mirrored", False)), s.tx, s.ty).box()
    if entry.idef.kind in ("circle", "pipe"):
        (cx, cy), r = s.transformed()
        return (cx - r, cy - r, cx + r, cy + r)
    pts = s.transformed()
    return (min(p[0] for p in pts), min(p[1] for p in pts), max(p[0] for p in pts), max(p[1] for p in pts))


def drawing_to_sheet(entry):
    """(a, b, c, d, e, f): the drawing's point (x, y) of a drawn part lies at
    (a x + b y + e, c x + d y + f) on its sheet."""
    s = entry.shape
    ox, oy = entry.idef.true_shape.offset
    c, si = math.cos(s.rotation), math.sin(s.rotation)
    m = -1.0 if getattr(s, "mirrored", False) else 1.0
    a, b, c_, d = m * c, -si, m * si, c
    return [a, b, c_, d, s.tx - a * ox - b * oy, s.ty - c_ * ox - d * oy]


def leftover(boxes, width, height):
    """The largest rectangle (x, y, w, h) of the sheet clear of every box that
    reaches its top edge (y + h = height); wider first among equals."""
    xs = sorted({0.0, width, *(min(max(x, 0.0), width) for b in boxes for x in (b[0], b[2]))})
    floor = [0.0] * (len(xs) - 1)  # per stretch between neighbouring xs, the highest box over it
    for x0, _, x1, y1 in boxes:
        for i in range(max(bisect.bisect_right(xs, x0) - 1, 0), len(floor)):
            if xs[i] >= x1:
                break
            if xs[i + 1] > x0:
                floor[i] = max(floor[i], min(y1, height))
    # the largest rectangle in the histogram of the free heights hanging from the top
    free = [height - f for f in floor]
    best = (0.0, 0.0, (0.0, height, 0.0, 0.0))
    stack = []  # (first stretch, free height), heights rising
    for i in range(len(free) + 1):
        h = free[i] if i < len(free) else -1.0
        start = i
        while stack and stack[-1][1] >= h:
            first, fh = stack.pop()
            w = xs[i] - xs[first]
            best = max(best, (w * fh, w, (xs[first], height - fh, w, fh)), key=lambda c: (c[0], c[1]))
            start = first
        stack.append((start, h))
    return best[2]


def sheet_reports(result):
    """The SheetReport of every sheet used (computed once per result)."""
    cached = result.__dict__.get("_sheets")
    if cached is not None:
        return cached
    job = result.job
    out = []
    for k, entries in enumerate(result.bins):
        parts, mirrored = {}, 0
        for e in entries:
            flipped = bool(getattr(e.shape, "mirrored", False))
            row = parts.setdefault(e.idef.id, [0, 0])
            row[0] += 1
            row[1] += flipped
            mirrored += flipped
        boxes = [placed_box(e) for e in entries]
        used = max((b[3] for b in boxes), default=0.0)
        area = sum(material_area(e) for e in entries)
        width, height = job.bin_w, job.bin_h
        usable = width * (height if height is not None else used)
        if job.kinds is not None:
            from Quarvo.job.packing import bin_of

            # a sheet of its kind's size; of an outline, with cut-outs or defects: what of it is usable
            b = bin_of(result, k)
            width, height, usable = b.width, b.height, b.usable_area
        out.append(SheetReport(k + 1, [(pid, n, m) for pid, (n, m) in parts.items()], mirrored, area,
                               area / usable if usable > 0 else 0.0, used,
                               None if height is None else leftover(boxes, width, height)))
    result.__dict__["_sheets"] = out
    return out


def _length(v, unit=""):
    """A length for people: six significant digits."""
    return f"{v:.6g}{unit}"


def sheet_title(report, unit=""):
    """A sheet's title in the picture."""
    placed = sum(n for _, n, _ in report.parts)
    return (f"sheet {report.number}: {placed} part{'' if placed == 1 else 's'}, "
            f"{100.0 * report.utilisation:.1f}% used, used length {_length(report.used_length, unit)}")


def _parts_text(report):
    return ", ".join(f"{pid} x {n}" + (f" ({m} mirrored)" if m else "") for pid, n, m in report.parts)


def report_lines(result):
    """The summary's lines per sheet, and the layers left out of the drawings."""
    job = result.job
    unit = f" {job.unit}" if job.unit else ""
    lines = []
    skipped = {}
    for idef in job.items:
        if idef.skipped_layers:
            skipped.setdefault(idef.file, idef.skipped_layers)
    if skipped:
        lines.append("  layers left out (frames, titles, dimensions, construction; --layers names the ones to "
                     "read): " + "; ".join(f"{name}: {', '.join(layers)}" for name, layers in skipped.items()))
    for r in sheet_reports(result):
        placed = sum(n for _, n, _ in r.parts)
        text = (f"  sheet {r.number}: {placed} part{'' if placed == 1 else 's'}"
                + (f" ({r.mirrored} mirrored)" if r.mirrored else "")
                + f", utilisation {100.0 * r.utilisation:.1f}%, used length {_length(r.used_length, unit)}")
        if r.leftover is not None:
            x, y, w, h = r.leftover
            text += f", leftover {_length(w)} x {_length(h, unit)} at ({_length(x)}, {_length(y)})"
        lines.append(text)
        lines.append(f"    {_parts_text(r)}")
    if result.bins:
        lines.append("  utilisation = the parts' area on their drawn curves (holes excluded) / "
                     + ("sheet area" if job.bin_h is not None else "(width x used length)")
                     + "; used length = the highest point of the parts"
                     + ("; leftover = the largest rectangle clear of the parts at the sheet's free end"
                        if job.bin_h is not None else ""))
    return lines


def sheet_record(result, k):
    """The result document's fields of sheet k (0-based), for a nest of drawn parts."""
    r = sheet_reports(result)[k]
    rec = {"utilisation": r.utilisation, "used_length": r.used_length, "mirrored": r.mirrored,
           "parts": [{"id": pid, "count": n, "mirrored": m} for pid, n, m in r.parts]}
    if r.leftover is not None:
        x, y, w, h = r.leftover
        rec["leftover"] = {"x": x, "y": y, "width": w, "height": h}
    return rec


REPORT_COLUMNS = ("sheet", "part", "count", "mirrored", "area", "utilisation", "used_length", "leftover_x",
                  "leftover_y", "leftover_width", "leftover_height")


def report_rows(result):
    """Per sheet one row per part name (its count, mirrored ones and true
    area), then the sheet's own row ("total") with its utilisation, used
    length and leftover."""
    rows = []
    areas = {}
    for k, entries in enumerate(result.bins):
        for e in entries:
            areas[k, e.idef.id] = areas.get((k, e.idef.id), 0.0) + material_area(e)
    for k, r in enumerate(sheet_reports(result)):
        for pid, n, m in r.parts:
            rows.append({"sheet": r.number, "part": pid, "count": n, "mirrored": m, "area": areas[k, pid]})
        total = {"sheet": r.number, "part": "total", "count": sum(n for _, n, _ in r.parts), "mirrored": r.mirrored,
                 "area": r.area, "utilisation": r.utilisation, "used_length": r.used_length}
        if r.leftover is not None:
            total.update(zip(REPORT_COLUMNS[7:], r.leftover))
        rows.append(total)
    return rows
