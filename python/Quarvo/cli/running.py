"""Running a checked job as the commands do: its outputs checked before
anything is packed, the packing with its progress line, the layout check,
the outputs written together (or not at all) and the summary; the exit
status.

A job that cannot be packed as written is rejected with a one-line message on
stderr and exit status 2, before anything is packed or written.
"""
import os
import sys
import threading
import time

from Quarvo.cli.terminal import one_line, print_error, print_lines
from Quarvo.files import PartlyWritten, Terminated, private_temp, refuse_replacing_inputs, same_file, \
    terminate_cleanly
from Quarvo.job import JobError
from Quarvo.job.packing import check, pack
from Quarvo.report.document import loading_check
from Quarvo.report.outputs import check_drawing_output, check_plot_format, check_report_format, write_outputs
from Quarvo.report.summary import summary_lines


def add_report_options(p):
    """The options of the printed report and the table's rounding, shared by the commands."""
    p.add_argument("-r", "--report", metavar="FILE.pdf|FILE.csv",
                   help="write a report, by its extension: .pdf the printable plan (a cover page and one page per "
                        "bin with its picture, every item numbered as in the table, the bin's table and totals), "
                        ".csv the report per sheet (parts by name and count, mirrored ones, utilisation, used "
                        "length, leftover)")
    p.add_argument("--paper", choices=("a4", "letter"), default="a4", help="paper of the report (default a4)")
    p.add_argument("--precision", type=int, metavar="D",
                   help="decimals of the load table's lengths and masses (default: 0.1 mm in the job's unit, "
                        "0.1 kg)")


EXIT_OK = 0
EXIT_FAILED = 1
EXIT_BAD_JOB = 2
EXIT_CHECK_FAILED = 3
EXIT_INTERRUPTED = 130
EXIT_TERMINATED = 143


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
            search = getattr(self.packer, "_search_progress", None)
            if search and search[4]:
                _, moves, bins, length, _ = search
                self._write(f"compressing: {moves} item moves, best {bins} bin(s), "
                            f"length {length:.6g} ... {elapsed:.1f} s")
            elif search and search[0]:
                _, tried, bins, length, _ = search
                self._write(f"searching: {tried} layouts tried, best {bins} bin(s), "
                            f"length {length:.6g} ... {elapsed:.1f} s")
            elif counters:
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


def check_writable(opt, path):
    """Refuse an output path that cannot be written, before anything is packed."""
    if path == "":
        raise JobError(f"{opt}: empty file name")
    folder = os.path.dirname(os.path.abspath(path))
    if not os.path.isdir(folder):
        raise JobError(f"{opt}: folder {folder!r} does not exist")
    if os.path.isdir(path):
        raise JobError(f"{opt}: {path!r} is a folder")
    try:
        os.remove(private_temp(path))
    except OSError as exc:
        raise JobError(f"{opt}: cannot write into {folder!r}: {exc.strerror or exc}") from None


def named_outputs(output, plot, table=None, report=None):
    return [(opt, path) for opt, path in (("--output", output), ("--plot", plot), ("--table", table),
                                          ("--report", report)) if path is not None]


def check_outputs(output, plot, inputs=(), table=None, report=None):
    """Refuse outputs that would replace an input (``inputs``: (what, path)
    pairs, say ("the job file", path)) or a file of the package, or each
    other, or cannot be written."""
    outputs = named_outputs(output, plot, table, report)
    refuse_replacing_inputs(outputs, inputs)
    for k, (opt, path) in enumerate(outputs):
        for other, path2 in outputs[k + 1:]:
            if path != "" and path2 != "" and same_file(path, path2):
                raise JobError(f"{opt} and {other} name the same file")
    if plot is not None:
        check_plot_format(plot)
    if report is not None:
        check_report_format(report)
    check_drawing_output(output)
    for opt, path in outputs:
        check_writable(opt, path)


def drawings_read(job):
    """(what, path) of every drawing the job's items were read from."""
    seen = {}
    for idef in job.items:
        if idef.file is not None and idef.path not in seen:
            seen[idef.path] = (f"the drawing {idef.file!r} the job reads", idef.path)
    return list(seen.values())


def run(job, output=None, plot=None, quiet=False, check_layout=False, prog="quarvo", table=None, report=None,
        precision=None, paper="a4", explode=True):
    """Pack a checked job with progress, check it, write its outputs together
    (a DXF drawing's parts exploded, or as blocks) and print the summary;
    returns the exit status."""
    err = sys.stderr
    show_progress = not quiet and hasattr(err, "isatty") and err.isatty()
    try:
        with _Progress(err, job.total, show_progress) as progress:
            result = pack(job, progress)
    except KeyboardInterrupt:
        print(f"\n{prog}: interrupted, nothing written", file=err)
        return EXIT_INTERRUPTED
    except Exception as exc:  # an engine error: report it in one line, write nothing
        print_error(prog, f"packing failed: {type(exc).__name__}: {exc}", err)
        return EXIT_FAILED
    if terminate_cleanly.requested:  # SIGTERM in a search, which kept its best layout: still no outputs
        raise Terminated()
    if result.search_stopped:
        print(f"{prog}: interrupted: the search was cut short; its best layout so far is the result", file=err)
    try:
        result.check = check(result)
        if job.rows:
            result.loading = loading_check(result)
    except Exception as exc:  # a checker fault must not cost the user the layout
        print(one_line(f"{prog}: warning: the layout check could not run: {type(exc).__name__}: {exc}"), file=err)

    try:
        write_outputs(result, output, plot, table, report, explode=explode, precision=precision, paper=paper)
    except PartlyWritten as exc:
        print_error(prog, f"writing the results failed: {exc}", err)
        return EXIT_FAILED
    except (OSError, ValueError, ImportError) as exc:
        print_error(prog, f"writing the results failed, nothing written: {exc}", err)
        return EXIT_FAILED

    if not quiet:
        print_lines(summary_lines(result) + [f"  wrote {path}" for path in (output, plot, table, report)
                                             if path is not None])
    if check_layout and (result.check is None or not result.check.ok or
                         (result.loading is not None and not result.loading.ok)):
        return EXIT_CHECK_FAILED
    return EXIT_OK
