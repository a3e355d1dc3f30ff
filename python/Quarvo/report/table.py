"""The load table: one row per placed item, lift by lift, and each bin's
totals; as rows and as CSV text a spreadsheet shows as written."""
import csv
import io

from Quarvo.job.reading import fmt
from Quarvo.report.document import bin_plan
from Quarvo.report.summary import _rotation_out, mass_of, shows_mass


TABLE_COLUMNS = ("bin", "lift", "item", "id", "copy", "description", "x", "y", "rotation", "host", "depth", "mass")


def _size(idef):
    """What the item is, for people: its description, else its size."""
    if idef.description:
        return idef.description
    if idef.kind == "circle":
        return f"circle D {fmt(2.0 * idef.radius)}"
    if idef.kind == "pipe":
        size = f"OD {fmt(idef.od)} x {fmt(idef.wall)}"
        if idef.size:
            size = f"{idef.size} {idef.schedule}" if idef.schedule else f"{idef.size}, wall {fmt(idef.wall)}"
        return f"pipe {size}" + (f", {fmt(idef.length)} m" if idef.length is not None else "")
    xs = [p[0] for p in idef.outer]
    ys = [p[1] for p in idef.outer]
    holes = f", {len(idef.holes)} hole{'s' if len(idef.holes) != 1 else ''}" if idef.holes else ""
    return f"polygon {fmt(max(xs) - min(xs))} x {fmt(max(ys) - min(ys))}{holes}"


def load_table(result):
    """The load plan as rows (dicts keyed by TABLE_COLUMNS): per bin, one row
    per placed item, lift by lift bottom up and in each lift in the order the
    items go in (innermost first, the lift's top item last), then the bin's
    totals. ``x``, ``y``: a circle's centre, a polygon's translation;
    ``rotation`` in the job's unit; ``host``: the number of the item whose
    hole holds it; ``mass`` in kg where the job has masses (a pipe's from
    its size, length and density; per metre for a pipe without a length)."""
    job = result.job
    masses = shows_mass(result)
    rows = []
    for k, entries in enumerate(result.bins):
        plan = bin_plan(result, k)
        for lift in plan.lifts:
            for e in [e for e, _ in lift.order] + [lift.top]:
                host = plan.host[id(e)]
                rows.append({"bin": k, "lift": lift.number, "item": e.number, "id": e.idef.id, "copy": e.copy,
                             "description": _size(e.idef), "x": e.shape.tx, "y": e.shape.ty,
                             "rotation": _rotation_out(e.shape.rotation, job),
                             "host": None if host is None else host.number, "depth": plan.depth[id(e)],
                             "mass": e.shape.mass if masses else None})
        rows.append({"bin": k, "lift": None, "item": None, "id": "total", "copy": None,
                     "description": f"{len(entries)} items in {len(plan.lifts)} lifts", "x": None, "y": None,
                     "rotation": None, "host": None, "depth": None,
                     "mass": mass_of(entries) if masses else None})
    return rows


# A spreadsheet takes a cell that starts with one of these for a formula.
_FORMULA_LEAD = ("=", "+", "-", "@", "\t", "\r")


def spreadsheet_text(text):
    """A text cell a spreadsheet shows as the text it is: a leading quote keeps
    "=HYPERLINK(...)" or "-2+3" from being evaluated."""
    return "'" + text if text.startswith(_FORMULA_LEAD) else text


def _cell(v):
    if v is None:
        return ""
    if isinstance(v, float):
        return f"{v:.10g}"
    if isinstance(v, int) and not isinstance(v, bool):
        return str(v)
    return spreadsheet_text(str(v))


def load_table_csv(result):
    """The load table as CSV text with a header row (numbers to ten significant digits)."""
    out = io.StringIO()
    # CRLF rows (RFC 4180): a text holding a lone CR or LF is then quoted, never a row break
    w = csv.writer(out, lineterminator="\r\n")
    w.writerow(TABLE_COLUMNS)
    for row in load_table(result):
        w.writerow([_cell(row[c]) for c in TABLE_COLUMNS])
    return out.getvalue()


