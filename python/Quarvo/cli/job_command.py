"""``quarvo [JOB.json]``: pack one job file (by default the bundled example).

    quarvo [JOB.json] [--output OUT.json|OUT.dxf|OUT.svg] [--blocks] [--plot FILE.png|FILE.svg]
           [--table FILE.csv] [--report FILE.csv] [--quiet] [--incremental] [--check] [--parts-root DIR]
"""
import argparse
import sys

from Quarvo.cli.running import EXIT_BAD_JOB, EXIT_TERMINATED, add_report_options, check_outputs, drawings_read, \
    named_outputs, run
from Quarvo.cli.terminal import print_error
from Quarvo.files import Terminated, UnsafeOutput, refuse_replacing_inputs, terminate_cleanly
from Quarvo.job import JobError, load_job
from Quarvo.job.fields import help_text
from Quarvo.report.outputs import check_drawing_output


JOB_HELP = help_text() + """

  A pipe is a ring of steel: its mass is density x pi/4 x (od^2 - (od - 2 wall)^2) x
  length (per metre without a length), and its weight is that mass unless given, so
  heavier pipes go first; smaller items go into its bore. Items that fit in no bin are
  listed as unplaced with the reason; that is not an error. Lengths and angles are at
  most 1e12 in magnitude. The whole reference: docs/job-format.md; the JSON Schema:
  quarvo schema.
"""


EPILOG = JOB_HELP + """
exit status: 0 packed (even with unplaced items), 1 packing or writing failed,
2 bad job or arguments, 3 layout check failed (with --check), 130 interrupted.

Parts from drawings: quarvo nest PARTS... --sheet WxH (see quarvo nest --help).
Many jobs at once: quarvo batch JOB.json... --output-dir DIR (see quarvo batch --help).
"""


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
    p.add_argument("--blocks", action="store_true",
                   help="write a DXF drawing's parts as blocks inserted at their places (default: each part's own "
                        "entities)")
    p.add_argument("-q", "--quiet", action="store_true", help="print nothing but errors")
    p.add_argument("--incremental", action="store_true",
                   help='same as "incremental": true in the job (faster nfp packing of large jobs)')
    p.add_argument("--check", action="store_true",
                   help="exit with status 3 when the independent layout check (always run and shown in the "
                        "summary) finds an item outside its bin, an overlap, a pair closer than the distance "
                        'or, with "stable", an item not at rest')
    add_report_options(p)
    p.add_argument("--parts-root", metavar="DIR",
                   help='the folder the job\'s drawings ("file") may be read from (default: the job file\'s folder; '
                        "a drawing outside it is refused)")
    p.add_argument("--version", action="version", version=f"quarvo {_version()}")
    return p


def _version():
    from Quarvo._version import __version__

    return __version__


def main(argv):
    """Run ``quarvo [JOB.json] ...``; returns the exit status."""
    parser = _parser()
    try:
        args = parser.parse_args(argv)
    except SystemExit as exc:  # --help, --version and argument errors
        return exc.code if isinstance(exc.code, int) else EXIT_BAD_JOB
    try:
        with terminate_cleanly():
            try:
                outputs = named_outputs(args.output, args.plot, args.table, args.report)
                refuse_replacing_inputs(outputs, [("the job file", args.job)])
                job = load_job(args.job, parts_root=args.parts_root)
                check_outputs(args.output, args.plot, drawings_read(job), table=args.table, report=args.report)
                check_drawing_output(args.output, job)
                if args.incremental:
                    job.options["incremental"] = True
            except (JobError, UnsafeOutput) as exc:
                print_error("quarvo", exc)
                return EXIT_BAD_JOB
            return run(job, args.output, args.plot, quiet=args.quiet, check_layout=args.check, table=args.table,
                       report=args.report, precision=args.precision, paper=args.paper,
                       explode=not args.blocks)
    except Terminated:
        print("\nquarvo: terminated, nothing written", file=sys.stderr)
        return EXIT_TERMINATED


