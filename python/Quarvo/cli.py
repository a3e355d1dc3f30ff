"""The command-line job: arguments, progress and the exit status.

    quarvo [JOB.json] [--output OUT.json|OUT.dxf|OUT.svg] [--plot FILE.png|FILE.svg] [--table FILE.csv]
           [--quiet] [--incremental] [--check]
    quarvo nest PARTS... --sheet WxH ...      (parts from DXF and SVG drawings, see nest_cli)
    quarvo batch JOB.json... --output-dir DIR

Without a job file the bundled example (a steel pipe bundle) is packed.
A job that cannot be packed as written is rejected with a one-line message on
stderr and exit status 2, before anything is packed or written. The outputs
are written together at the end, or not at all.
"""
import argparse
import os
import sys
import threading
import time

from Quarvo.job import OPTIONS, JobError, load_job
from Quarvo.files import PartlyWritten, Terminated, UnsafeOutput, private_temp, refuse_replacing_inputs, same_file, \
    terminate_cleanly
from Quarvo.output import check_drawing_output, check_plot_format, one_line, print_error, print_lines, write_outputs
from Quarvo.packing import check, pack
from Quarvo.report import summary_lines

EXIT_OK = 0
EXIT_FAILED = 1
EXIT_BAD_JOB = 2
EXIT_CHECK_FAILED = 3
EXIT_INTERRUPTED = 130
EXIT_TERMINATED = 143


def _options_help():
    lines = []
    for name, opt in OPTIONS.items():
        head = f'    "{name}": {opt.example},'
        lines += [f"{head if k == 0 else '':<48}{line}" for k, line in enumerate(opt.help.splitlines())]
    return "\n".join(lines)


JOB_HELP = """\
job file (JSON):
  {
    "name": "bundle 7",                         shown in the summary (default: the file name)
    "description": "...",                       free text, not used
    "unit": "mm",                               name of the length unit, shown with the lengths
                                                in the summary and written to the result
    "bin": {"width": 1200, "height": 800},      required, positive numbers; without "height" a
                                                strip, open upward. "margin": 10 keeps every
                                                item at least 10 from the bin's edges (default:
                                                half the distance). Optional "max_load" (kg: no
                                                bin takes more of the items' mass) and "length"
                                                (mm: no pipe longer goes in). Or a named carrier,
                                                its door the cross-section, with its length and
                                                payload: {"carrier": "trailer-13.6"} ("20ft",
                                                "40ft", "40ft-hc", "trailer-13.6"); "width",
                                                "height", "max_load", "length" beside it override
    "distance": 2,                              clear distance between items (default 0)
    "strategy": "nfp",                          "nfp" (default) or "bl"
    "placement": "corner",                      "corner" (default) or "center" (nfp only)
    "rotations": [0, 90, 180, 270],             angles tried for polygons (nfp only;
                                                default 0, 90, 180, 270 degrees)
    "rotation_unit": "degrees",                 unit of "rotations": degrees (default) or radians
    "pipe_length": 12,                          length in m of every pipe item that gives none
                                                (default none: masses per metre)
""" + _options_help() + """
    "items": [
      {"id": "casing", "type": "pipe", "od": 244.48, "wall": 11.99, "quantity": 6},
      {"id": "line", "type": "pipe", "size": "NPS 12", "schedule": "STD", "quantity": 5,
       "length": 6, "density": 7850},
      {"id": "DN100", "type": "circle", "radius": 57.15, "quantity": 8, "weight": 16.1},
      {"id": "plate", "type": "polygon", "outer": [[0, 0], [300, 0], [300, 200], [0, 200]],
       "holes": [[[50, 50], [100, 50], [100, 100], [50, 100]]]},
      {"file": "bracket.dxf", "quantity": 4}
    ]
  }
  A pipe is a ring of steel: "od" and "wall" in mm (a wall of half the od is a
  solid bar), or a catalogue "size" with its "schedule" (ASME B36.10M: "NPS 12"
  or "DN 300" with "STD", "XS", "XXS", "40", ...; API 5CT: "casing 9-5/8" or
  "tubing 2-7/8" with the nominal weight in lb/ft, "47") or its "wall"; its
  "length" in m (default "pipe_length") and "density" in kg/m3 (default 7850)
  give its mass, density x pi/4 x (od^2 - (od - 2 wall)^2) x length, and its
  weight is that mass unless given. Smaller items go into its bore. The summary
  and the result give each bin's mass and its share of "max_load"; a pipe longer
  than the bin, or heavier than its max_load, is listed as unplaced with that reason;
  one longer than every carrier (and than the bin) is an error.
  Optional per item: "quantity" (copies, default 1), "weight" (heavier first,
  default 0, a pipe's mass), "margin" and "inflation" (extra spacing, default 0),
  "mass" (kg, circles and polygons: counts against "max_load"), "description".
  An item with "file" takes every part of a DXF or SVG drawing (a path relative
  to the job file; lengths converted to "unit", default mm; "tolerance" of the
  curves' chords; needs pip install "Quarvo[cad]").
  Lengths and angles are at most 1e12 in magnitude.
  Items that fit in no bin are listed as unplaced with the reason; that is not an error.
"""


EPILOG = JOB_HELP + """
exit status: 0 packed (even with unplaced items), 1 packing or writing failed,
2 bad job or arguments, 3 layout check failed (with --check), 130 interrupted.

Parts from drawings: quarvo nest PARTS... --sheet WxH (see quarvo nest --help).
Many jobs at once: quarvo batch JOB.json... --output-dir DIR (see quarvo batch --help).
"""


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


# -------------------------------------------------------------- arguments


def _parser():
    p = argparse.ArgumentParser(
        prog="quarvo",
        description="Pack circles and polygons (pipe cross-sections) into rectangular bins. "
                    "Without JOB the bundled example job, a steel pipe bundle, is packed.",
        epilog=EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    p.add_argument("job", nargs="?", metavar="JOB.json", help="the job file (default: the bundled example)")
    p.add_argument("-o", "--output", metavar="OUT.json",
                   help="write the placements as JSON, or the layout as a .dxf or .svg drawing in the job's unit")
    p.add_argument("-p", "--plot", metavar="FILE",
                   help="draw the layout into a PNG (needs matplotlib) or an SVG picture in job units")
    p.add_argument("-t", "--table", metavar="FILE.csv",
                   help="write the load table: one row per placed item (bin, lift, id, size, position, "
                        "host, depth, mass), lift by lift, then each bin's totals")
    p.add_argument("-q", "--quiet", action="store_true", help="print nothing but errors")
    p.add_argument("--incremental", action="store_true",
                   help='same as "incremental": true in the job (faster nfp packing of large jobs)')
    p.add_argument("--check", action="store_true",
                   help="exit with status 3 when the independent layout check (always run and shown in the "
                        "summary) finds an item outside its bin, an overlap, a pair closer than the distance "
                        'or, with "stable", an item not at rest')
    p.add_argument("--parts-root", metavar="DIR",
                   help='the folder the job\'s drawings ("file") may be read from (default: the job file\'s folder; '
                        "a drawing outside it is refused)")
    p.add_argument("--version", action="version", version=f"quarvo {_version()}")
    return p


def _version():
    from Quarvo import __version__

    return __version__


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


def named_outputs(output, plot, table=None):
    return [(opt, path) for opt, path in (("--output", output), ("--plot", plot), ("--table", table))
            if path is not None]


def check_outputs(output, plot, inputs=(), table=None):
    """Refuse outputs that would replace an input (``inputs``: (what, path)
    pairs, say ("the job file", path)) or a file of the package, or each
    other, or cannot be written."""
    outputs = named_outputs(output, plot, table)
    refuse_replacing_inputs(outputs, inputs)
    for k, (opt, path) in enumerate(outputs):
        for other, path2 in outputs[k + 1:]:
            if path != "" and path2 != "" and same_file(path, path2):
                raise JobError(f"{opt} and {other} name the same file")
    if plot is not None:
        check_plot_format(plot)
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


def main(argv=None):
    """Run the command-line job (or ``quarvo batch ...``); returns the exit status."""
    argv = sys.argv[1:] if argv is None else list(argv)
    if argv[:1] == ["batch"]:
        from Quarvo.batch_cli import main as batch_main

        return batch_main(argv[1:])
    if argv[:1] == ["nest"]:
        from Quarvo.nest_cli import main as nest_main

        return nest_main(argv[1:])
    parser = _parser()
    try:
        args = parser.parse_args(argv)
    except SystemExit as exc:  # --help, --version and argument errors
        return exc.code if isinstance(exc.code, int) else EXIT_BAD_JOB
    try:
        with terminate_cleanly():
            try:
                outputs = named_outputs(args.output, args.plot, args.table)
                refuse_replacing_inputs(outputs, [("the job file", args.job)])
                job = load_job(args.job, parts_root=args.parts_root)
                check_outputs(args.output, args.plot, drawings_read(job), table=args.table)
                check_drawing_output(args.output, job)
                if args.incremental:
                    job.options["incremental"] = True
            except (JobError, UnsafeOutput) as exc:
                print_error("quarvo", exc)
                return EXIT_BAD_JOB
            return run(job, args.output, args.plot, quiet=args.quiet, check_layout=args.check, table=args.table)
    except Terminated:
        print("\nquarvo: terminated, nothing written", file=sys.stderr)
        return EXIT_TERMINATED


def run(job, output=None, plot=None, quiet=False, check_layout=False, prog="quarvo", table=None):
    """Pack a checked job with progress, check it, write its outputs together
    and print the summary; returns the exit status."""
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
    except Exception as exc:  # a checker fault must not cost the user the layout
        print(one_line(f"{prog}: warning: the layout check could not run: {type(exc).__name__}: {exc}"), file=err)

    try:
        write_outputs(result, output, plot, table)
    except PartlyWritten as exc:
        print_error(prog, f"writing the results failed: {exc}", err)
        return EXIT_FAILED
    except (OSError, ValueError, ImportError) as exc:
        print_error(prog, f"writing the results failed, nothing written: {exc}", err)
        return EXIT_FAILED

    if not quiet:
        print_lines(summary_lines(result) + [f"  wrote {path}" for path in (output, plot, table) if path is not None])
    if check_layout and (result.check is None or not result.check.ok):
        return EXIT_CHECK_FAILED
    return EXIT_OK
