"""Writing a job's results: the result document as JSON, the picture, each
through a temporary file beside it, so that no output is ever left half-written."""
import importlib.util
import json
import os

from Quarvo.job import JobError
from Quarvo.report import result_document, title

PLOT_FORMATS = (".png", ".svg")


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
    import matplotlib

    matplotlib.use("Agg")
    from Quarvo.visualize import plot_layout

    job = result.job
    for b in result.bins:
        for e in b:
            e.shape.kind = e.idef.id  # the picture colours and counts by the job's item id
    plot_layout([[e.shape for e in b] for b in result.bins], job.bin_w, job.bin_h, out_path=path,
                title=f"{title(job)}: {result.placed} items in {len(result.bins)} bin(s)", style="plan",
                max_load=job.max_load)


def temp_name(path):
    """A file beside path, hidden, with path's extension (the picture's format follows it)."""
    folder, name = os.path.split(os.path.abspath(path))
    return os.path.join(folder, f".{name}.{os.getpid()}.tmp{os.path.splitext(name)[1]}")


def write_atomic(path, data):
    """Write bytes to path through a temporary file beside it: never half a file."""
    tmp = temp_name(path)
    try:
        with open(tmp, "wb") as f:
            f.write(data)
        os.replace(tmp, path)
    finally:
        if os.path.exists(tmp):
            os.remove(tmp)


def write_outputs(result, output=None, plot=None):
    """Write the picture and the result document to temporary files, and move
    them into place only when both are written: no output is left half-done."""
    tmps = []
    try:
        if plot is not None:
            tmps.append((temp_name(plot), plot))
            write_plot(result, tmps[-1][0])
        if output is not None:
            tmps.append((temp_name(output), output))
            with open(tmps[-1][0], "w", encoding="utf-8") as f:
                f.write(dump_document(result_document(result)))
        for tmp, path in tmps:
            os.replace(tmp, path)
    finally:
        for tmp, _ in tmps:
            if os.path.exists(tmp):
                os.remove(tmp)


def check_plot_format(path, opt="--plot"):
    ext = os.path.splitext(path)[1].lower()
    if ext not in PLOT_FORMATS:
        raise JobError(f"{opt}: unsupported picture type {ext or '(none)'!r} (use .png or .svg)")
    if importlib.util.find_spec("matplotlib") is None:
        from Quarvo.visualize import _MISSING_MATPLOTLIB

        raise JobError(f"{opt}: {_MISSING_MATPLOTLIB}")
