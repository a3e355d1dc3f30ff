"""Writing a job's results: the result document as JSON (or the layout as a
DXF or SVG drawing), the picture, the load table as CSV, the report per
sheet, all moved into place together (``Quarvo.files``)."""
import csv
import importlib.util
import io
import json
import os

from Quarvo.job.reading import CAD_EXTRA, CAD_UNITS, JobError, cad_available
from Quarvo.files import OutputSet
from Quarvo.report.document import result_document
from Quarvo.report.sheets import REPORT_COLUMNS, from_drawings, report_rows, sheet_reports, sheet_title
from Quarvo.report.loading import side_views
from Quarvo.report.summary import bin_name, title
from Quarvo.report.document import item_size
from Quarvo.report.table import _cell as table_cell, load_table_csv

PLOT_FORMATS = (".png", ".svg")
# An --output of these types is the layout as a drawing; any other is the result document.
DRAWING_FORMATS = (".dxf", ".svg")


def is_drawing(path):
    return path is not None and os.path.splitext(path)[1].lower() in DRAWING_FORMATS


def drawing_unit(job):
    """The unit a drawing of the job is written in: the job's, millimetres when it names none."""
    return job.unit or "mm"


def check_drawing_output(path, job=None, opt="--output"):
    """Refuse a drawing output that cannot be written, before anything is packed."""
    if not is_drawing(path):
        return
    if not cad_available():
        raise JobError(f"{opt}: writing {os.path.splitext(path)[1].lower()} drawings needs the extra "
                       f"Quarvo[cad]: {CAD_EXTRA}")
    if job is not None and drawing_unit(job) not in CAD_UNITS:
        raise JobError(f'{opt}: a drawing is written in {", ".join(CAD_UNITS)}; the job\'s "unit" is '
                       f"{job.unit!r}")


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


def write_plot(result, path):
    job = result.job
    for b in result.bins:
        for e in b:
            e.shape.kind = e.idef.id  # the picture colours and counts by the job's item id
    bins = [[e.shape for e in b] for b in result.bins]
    if job.kinds is not None:
        # each bin judged against its own kind's payload
        from Quarvo.report.summary import max_load_of

        bins = [_BinItems(items, max_load_of(result, k)) for k, items in enumerate(bins)]
    heading = f"{title(job)}: {result.placed} items in {len(result.bins)} bin(s)"
    titles = None
    if from_drawings(job):
        # each sheet titled with its utilisation and used length
        titles = [sheet_title(r, f" {job.unit}" if job.unit else "") for r in sheet_reports(result)]
        heading = f"{title(job)}: {result.placed} parts on {len(result.bins)} sheet(s)"
    if result.plan is not None and titles is None and not any(k.max_load for k in job.kinds):
        # sheets of several kinds: each titled with its fill (loads with payloads: mass and share, by default)
        titles = [f"{bin_name(result, k)}: {u.items} items, fill {100 * u.fill:.1f}%"
                  for k, u in enumerate(result.plan.bins)]
    if os.path.splitext(path)[1].lower() == ".svg":
        # geometry in job units, drawn by the package's own SVG writer
        from Quarvo.pictures import write_plan_svg

        unit = job.unit if job.unit in CAD_UNITS else "mm"
        write_plan_svg(bins, job.bin_w, job.bin_h, path, title=heading, max_load=job.max_load, unit=unit,
                       bin_titles=titles, bin_names=[bin_name(result, k) for k in range(len(result.bins))])
        return
    import matplotlib

    matplotlib.use("Agg")
    from Quarvo.visualize import plot_layout

    # every item carries its number, the same as in the table, the CSV and the result document
    numbers = {id(e.shape): str(e.number) for b in result.bins for e in b}
    notes = {}
    for idef in job.items:
        notes.setdefault(idef.id, item_size(idef))
    stock, (frame_w, frame_h) = stock_pictured(result), (job.bin_w, job.bin_h)
    if stock:
        frame_w, frame_h = max(b.width for b in stock), max(b.height for b in stock)
    names = [bin_name(result, k) for k in range(len(result.bins))]
    plot_layout(bins, frame_w, frame_h, out_path=path, title=heading, style="plan",
                max_load=job.max_load if job.kinds is None else None,
                label=lambda item: numbers.get(id(item)), kinds=[i.id for i in job.items], leaders=True,
                unit=job.unit or "mm", kind_notes={k: v for k, v in notes.items() if v != str(k)},
                crop=not stock or not any(k.shaped for k in job.kinds),
                bin_titles=titles, sides=side_views(result) if job.rows else None, stock=stock, bin_names=names)


class _BinItems(list):
    """A bin's items with the payload of its own kind (the plan reads ``max_load``)."""

    def __init__(self, items, max_load):
        super().__init__(items)
        self.max_load = max_load


def stock_pictured(result):
    """Per bin the Bin it is, where the job has kinds of bin (else None)."""
    from Quarvo.job.packing import bin_of

    if result.job.kinds is None:
        return None
    return [bin_of(result, k) for k in range(len(result.bins))]


def write_drawing(result, path, explode=True):
    """The placed parts as a DXF or SVG drawing in the job's unit, each as
    drawn (``Quarvo.cad.write_layout``; ``explode``: a DXF's parts as their
    own entities, else as blocks)."""
    from Quarvo.cad import write_layout

    job = result.job
    names = {id(e.shape): e.idef.id for b in result.bins for e in b}
    stock = stock_pictured(result)
    frame_w, frame_h = (job.bin_w, job.bin_h) if not stock else \
        (max(b.width for b in stock), max(b.height for b in stock))
    write_layout([[e.shape for e in b] for b in result.bins], frame_w, frame_h, path,
                 unit=drawing_unit(job), names=lambda item: names.get(id(item), item.shape_id), explode=explode,
                 stock=stock)


def write_outputs(result, output=None, plot=None, table=None, report=None, explode=True, precision=None,
                  paper="a4"):
    """Write the picture, the result document (or the drawing), the load table
    and the report to temporary files, and move them into place only when all
    are written: no output is left half-done, and either every output is in
    place or none is. ``precision``: decimals of the table's lengths and masses."""
    with OutputSet() as outputs:
        if plot is not None:
            write_plot(result, outputs.temp(plot))
        if output is not None:
            tmp = outputs.temp(output)
            if is_drawing(output):
                write_drawing(result, tmp, explode)
            else:
                with open(tmp, "w", encoding="utf-8") as f:
                    f.write(dump_document(result_document(result)))
        if table is not None:
            with open(outputs.temp(table), "w", encoding="utf-8", newline="") as f:
                f.write(load_table_csv(result, precision))
        if report is not None:
            write_report(result, outputs.temp(report), paper)
        outputs.commit()


def check_plot_format(path, opt="--plot"):
    ext = os.path.splitext(path)[1].lower()
    if ext not in PLOT_FORMATS:
        raise JobError(f"{opt}: unsupported picture type {ext or '(none)'!r} (use .png or .svg)")
    if ext == ".svg":
        # the SVG picture is written by the package itself; only its label fitting needs numpy
        if importlib.util.find_spec("numpy") is None:
            raise JobError(f'{opt}: an SVG picture needs numpy: pip install "Quarvo[plot]"')
        return
    if importlib.util.find_spec("matplotlib") is None:
        from Quarvo.visualize import _MISSING_MATPLOTLIB

        raise JobError(f"{opt}: {_MISSING_MATPLOTLIB}")


def write_load_table(result, path):
    """Write the load table as a CSV file (UTF-8), whole or not at all."""
    write_outputs(result, table=path)


# ---------------------------------------------------------------- the report per sheet


def report_csv(result):
    """The report per sheet as CSV text (CRLF rows, numbers to ten significant digits)."""
    out = io.StringIO()
    w = csv.writer(out, lineterminator="\r\n")
    w.writerow(REPORT_COLUMNS)
    for row in report_rows(result):
        w.writerow([table_cell(row.get(c)) for c in REPORT_COLUMNS])
    return out.getvalue()


def _write_report_csv(result, path, paper):
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write(report_csv(result))


def _write_report_pdf(result, path, paper):
    from Quarvo.report.pdf import write_pdf

    write_pdf(result, path, paper)


# The report's writers by the file's extension: (writer(result, path, paper), what it is).
REPORT_WRITERS = {".pdf": (_write_report_pdf, "the printable plan"),
                  ".csv": (_write_report_csv, "the report per sheet as CSV")}


def check_report_format(path, opt="--report"):
    ext = os.path.splitext(path)[1].lower()
    if ext not in REPORT_WRITERS:
        raise JobError(f"{opt}: unsupported report type {ext or '(none)'!r} (use {', '.join(REPORT_WRITERS)})")
    if ext == ".pdf" and importlib.util.find_spec("matplotlib") is None:
        from Quarvo.visualize import _MISSING_MATPLOTLIB

        raise JobError(f"{opt}: {_MISSING_MATPLOTLIB}")


def write_report(result, path, paper="a4"):
    """Write the report to ``path`` by the writer of its extension."""
    REPORT_WRITERS[os.path.splitext(path)[1].lower()][0](result, path, paper)
