"""Writing a job's results: the result document as JSON (or the layout as a
DXF or SVG drawing), the picture, the load table as CSV, all moved into
place together (``Quarvo.files``)."""
import importlib.util
import json
import os
import sys

from Quarvo.job import CAD_EXTRA, CAD_UNITS, JobError, cad_available
from Quarvo.files import OutputSet
from Quarvo.report import load_table_csv, result_document, title

PLOT_FORMATS = (".png", ".svg")
# An --output of these types is the layout as a drawing; any other is the result document.
DRAWING_FORMATS = (".dxf", ".svg")


# Control characters (C0, DEL and C1) other than the tab: a name or an id that
# holds an escape sequence must not drive the user's terminal.
_CONTROL = {c: f"\\x{c:02x}" for c in list(range(0x00, 0x09)) + list(range(0x0a, 0x20)) + list(range(0x7f, 0xa0))}


def terminal_text(text):
    """The text with its control characters written out (``\\x1b``), safe to print."""
    return str(text).translate(_CONTROL)


# A refusal is one line a person reads: longer ones are cut here.
MAX_MESSAGE = 200


def one_line(text, limit=MAX_MESSAGE):
    """A message as printed: control characters written out, at most ``limit`` characters."""
    text = terminal_text(text)
    return text if len(text) <= limit else text[: limit - 3] + "..."


def print_error(prog, message, err=None):
    """``prog: error: message`` on stderr, as one safe line."""
    print(f"{prog}: error: {one_line(message)}", file=sys.stderr if err is None else err)


def print_lines(lines, out=None):
    """Print the lines (control characters written out) and flush. A reader
    that leaves early (``quarvo job.json | head -1``) ends the printing, not
    the run: the files are already written and the exit status still tells
    how the run went."""
    out = sys.stdout if out is None else out
    try:
        for line in lines:
            print(terminal_text(line), file=out)
        out.flush()
    except BrokenPipeError:
        # Point stdout at nothing, so that Python's own flush at exit stays quiet.
        devnull = os.open(os.devnull, os.O_WRONLY)
        try:
            os.dup2(devnull, out.fileno())
        finally:
            os.close(devnull)


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
    heading = f"{title(job)}: {result.placed} items in {len(result.bins)} bin(s)"
    if os.path.splitext(path)[1].lower() == ".svg":
        # geometry in job units, drawn by the package's own SVG writer
        from Quarvo.visualize_plan import write_plan_svg

        unit = job.unit if job.unit in CAD_UNITS else "mm"
        write_plan_svg(bins, job.bin_w, job.bin_h, path, title=heading, max_load=job.max_load, unit=unit)
        return
    import matplotlib

    matplotlib.use("Agg")
    from Quarvo.visualize import plot_layout

    plot_layout(bins, job.bin_w, job.bin_h, out_path=path, title=heading, style="plan", max_load=job.max_load)


def write_drawing(result, path):
    """The placed parts as a DXF or SVG drawing in the job's unit (``Quarvo.cad.write_layout``)."""
    from Quarvo.cad import write_layout

    job = result.job
    names = {id(e.shape): e.idef.id for b in result.bins for e in b}
    write_layout([[e.shape for e in b] for b in result.bins], job.bin_w, job.bin_h, path,
                 unit=drawing_unit(job), names=lambda item: names.get(id(item), item.shape_id))


def write_outputs(result, output=None, plot=None, table=None):
    """Write the picture, the result document and the load table to temporary
    files, and move them into place only when all are written: no output is
    left half-done, and either every output is in place or none is."""
    with OutputSet() as outputs:
        if plot is not None:
            write_plot(result, outputs.temp(plot))
        if output is not None:
            tmp = outputs.temp(output)
            if is_drawing(output):
                write_drawing(result, tmp)
            else:
                with open(tmp, "w", encoding="utf-8") as f:
                    f.write(dump_document(result_document(result)))
        if table is not None:
            with open(outputs.temp(table), "w", encoding="utf-8", newline="") as f:
                f.write(load_table_csv(result))
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
