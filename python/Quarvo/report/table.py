"""The load table: one row per placed item, lift by lift, and each bin's
totals; as rows and as CSV text a spreadsheet shows as written."""
import csv
import io

from Quarvo.job.reading import fmt
from Quarvo.report.document import item_size, result_document  # noqa: F401  (item_size: passed on)
from Quarvo.report.summary import _LENGTH_DECIMALS, kg


TABLE_COLUMNS = ("bin", "lift", "item", "id", "copy", "description", "x", "y", "rotation", "host", "depth", "mass")
# With rows: each piece's row and place along the bin (m from the front), and what its mass stands for.
ROW_COLUMNS = ("row", "from", "to", "basis")


def load_table(result):
    """The load plan as rows (dicts keyed by TABLE_COLUMNS), of a packed job's
    result or of its result document (the JSON the command line writes):
    per bin (numbered from 1, as every output numbers it), one row per placed
    item, lift by lift bottom up and in each lift in the order the items go
    in (innermost first, the lift's top item last), then the bin's totals.
    ``x``, ``y``: a circle's centre, a polygon's translation; ``rotation`` in
    the job's unit; ``host``: the number of the item whose hole holds it;
    ``mass`` in kg where the job has masses (a pipe's from its size, length
    and density; per metre for a pipe without a length). With rows also
    ``row``, ``from`` and ``to`` (m from the front of the bin's length) and
    ``basis`` (what the mass stands for); a bin's total row gives its centre
    of gravity and the load on its supports."""
    doc = result if isinstance(result, dict) else result_document(result)
    placements = {p["item"]: p for p in doc["placements"]}
    masses = (doc.get("bin", {}).get("max_load") is not None
                                     or any(k.get("max_load") is not None for k in doc.get("kinds", []))) or any(p.get("mass", 0) > 0 for p in doc["placements"])
    with_rows = _has_rows(doc)
    rows = []
    for b in doc["bins"]:
        for lift in b["lifts"]:
            for number in [step["item"] for step in lift["order"]] + [lift["item"]]:
                p = placements[number]
                host = p.get("host")
                row = {"bin": b["sheet"], "lift": lift["lift"], "item": number, "id": p["id"], "copy": p["copy"],
                       "description": p.get("size", ""), "x": p["tx"], "y": p["ty"],
                       "rotation": p["rotation"], "host": None if host is None else host.get("item"),
                       "depth": p.get("depth"), "mass": p["mass"] if masses else None}
                if with_rows:
                    start, end = p.get("along", (None, None))
                    row.update({"row": p.get("row"), "from": start, "to": end, "basis": p.get("mass_basis")})
                rows.append(row)
        total = {"bin": b["sheet"], "lift": None, "item": None, "id": "total", "copy": None,
                 "description": f"{b['items']} items in {len(b['lifts'])} lifts", "x": None, "y": None,
                 "rotation": None, "host": None, "depth": None, "mass": b["mass"] if masses else None}
        if with_rows:
            if "cog" in b:
                total["description"] += f"; centre of gravity {fmt(round(b['cog']['along'], 3))} m from the front"
            for name, v in b.get("axle_loads", {}).items():
                total["description"] += f"; {name} {kg(v)}"
            total.update({"row": None, "from": None, "to": None, "basis": None})
        rows.append(total)
    return rows


def _has_rows(doc):
    return any("row" in p for p in doc["placements"])


def table_columns(result):
    """The load table's columns: with rows, those of ROW_COLUMNS after the mass."""
    doc = result if isinstance(result, dict) else result_document(result)
    return TABLE_COLUMNS + (ROW_COLUMNS if _has_rows(doc) else ())


# A spreadsheet takes a cell that starts with one of these for a formula.
_FORMULA_LEAD = ("=", "+", "-", "@", "\t", "\r")


def spreadsheet_text(text):
    """A text cell a spreadsheet shows as the text it is: a leading quote keeps
    "=HYPERLINK(...)" or "-2+3" from being evaluated."""
    return "'" + text if text.startswith(_FORMULA_LEAD) else text


def _cell(v, decimals=None):
    if v is None:
        return ""
    if isinstance(v, float):
        return f"{v:.{decimals}f}" if decimals is not None else f"{v:.10g}"
    if isinstance(v, int) and not isinstance(v, bool):
        return str(v)
    return spreadsheet_text(str(v))


# Masses go to 0.1 kg; lengths to 0.1 mm in the job's unit.
MASS_DECIMALS = 1


def load_table_csv(result, precision=None):
    """The load table as CSV text with a header row: masses to 0.1 kg and
    positions to 0.1 mm (in the job's unit), or ``precision`` decimals of
    both; rotations as written in the job."""
    doc = result if isinstance(result, dict) else result_document(result)
    lengths = _LENGTH_DECIMALS.get(doc.get("unit", ""), 4) if precision is None else precision
    decimals = {"x": lengths, "y": lengths, "mass": MASS_DECIMALS if precision is None else precision,
                "rotation": None}
    out = io.StringIO()
    # CRLF rows (RFC 4180): a text holding a lone CR or LF is then quoted, never a row break
    w = csv.writer(out, lineterminator="\r\n")
    columns = table_columns(doc)
    w.writerow(columns)
    for row in load_table(doc):
        w.writerow([_cell(row[c], decimals.get(c)) for c in columns])
    return out.getvalue()


