"""quarvo nest: parts from DXF and SVG drawings nested on sheets, for cutting shops.

    quarvo nest PARTS... --sheet 3000x1500 [--gap 8] [--edge 10] [--rotations 0,90,180,270]
                [--mirror] [--time 10] [--layers CUT,HOLES] [-o nest.dxf|nest.svg|nest.json]
                [--explode|--blocks] [--plot nest.png|nest.svg] [--report sheets.csv]

Every part of every drawing is nested once, or COUNT times for FILE:COUNT.
The command packs as a shop wants it: non-convex parts, parts in the holes
and cavities of others, circles with their exact clearance. A drawing that
gives no sound part is refused with one line and exit status 2 before
anything is packed or written.
"""
import argparse
import math
import os
import re
import sys

from Quarvo.cli.running import EXIT_BAD_JOB, EXIT_TERMINATED, add_report_options, check_outputs, run
from Quarvo.cli.terminal import print_error
from Quarvo.files import Terminated, UnsafeOutput, terminate_cleanly
from Quarvo.job import CAD_EXTRA, CAD_UNITS, DEFAULT_ROTATIONS_DEG, MAX_ITEMS, MAX_VALUE, MIN_TOLERANCE, \
    SHOP_OPTIONS, BinKind, Job, JobError, cad_available, part_defs, read_drawing
from Quarvo.job.fields import CAD_TOLERANCE_TEXT
from Quarvo.report.outputs import check_drawing_output

EXIT_BAD = 2

EPILOG = """\
PARTS are DXF or SVG drawings; each closed outer contour is a part, the
contours inside it its holes, a lone circle a round part. FILE:COUNT nests
every part of FILE COUNT times. Lengths are converted to --unit.

By default every layer is read but those drawings give their frames, titles,
dimensions and construction (BORDER, FRAME, TITLE, TITLEBLOCK, TEXT, NOTES,
DIM, DIMENSIONS, DEFPOINTS, CONSTRUCTION, CENTER, HIDDEN, ...; without case),
and a contour round every other one of a drawing of several parts is refused
as a border; --layers names the layers to read instead. The drawing written
keeps the parts' own lines, arcs, circles, bulges and splines; a DXF has per
sheet a layer sheet-N (its outline, not cut) and parts-N (its parts).

examples:
  quarvo nest bracket.dxf:12 flange.dxf:4 plate.svg --sheet 3000x1500 --gap 8 --edge 10 -o nest.dxf
  quarvo nest parts/*.dxf --sheet 1250 --mirror --time 20 -o nest.svg --plot nest.png
  quarvo nest cover.dxf:6 --layers CUT,HOLES --sheet 3000x1500 -o nest.dxf --report sheets.csv

--sheet WIDTH alone is a strip (coil) of that width: its used length is reported,
and --time goes to the compression phase, which shortens it.
exit status: 0 nested (even with unplaced parts), 1 packing or writing failed,
2 bad arguments or a drawing without sound parts, 3 layout check failed (with --check).
"""


def _parser():
    p = argparse.ArgumentParser(
        prog="quarvo nest", description="Nest the parts of DXF and SVG drawings on rectangular sheets.",
        epilog=EPILOG, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("parts", nargs="+", metavar="PART", help="a DXF or SVG drawing, or FILE:COUNT")
    p.add_argument("--sheet", action="append", default=[], metavar="WxH[:COUNT][@COST]",
                   help="sheet size, e.g. 3000x1500 (WIDTH alone: a strip); more than once for the sizes in the "
                        "rack, each with how many there are and what one costs (default: any number, its area)")
    p.add_argument("--stock", action="append", default=[], metavar="FILE[@COST]",
                   help="a DXF or SVG drawing of remnants or irregular plates, one bin per outline (its inner "
                        "contours cut-outs), the contours on a DEFECT or DEFECTS layer their defects; each piece "
                        "costs COST (default: its area); more than once for more drawings")
    p.add_argument("--gap", default="0", metavar="D", help="clear distance between parts (default 0)")
    p.add_argument("--edge", default="0", metavar="E",
                   help="least distance from every part to the sheet's edges (default: half the gap)")
    p.add_argument("--rotations", default=",".join(f"{a:g}" for a in DEFAULT_ROTATIONS_DEG), metavar="DEG,...",
                   help="angles in degrees a part may take (default 0,90,180,270)")
    p.add_argument("--mirror", action="store_true", help="parts may also be placed mirrored (flipped over)")
    p.add_argument("--time", default=None, metavar="S", help="seconds of improvement search after the first nest")
    p.add_argument("--unit", default="mm", choices=CAD_UNITS, help="unit of the sheet, gap and outputs (default mm)")
    p.add_argument("--tolerance", default=None, metavar="T",
                   help=f"chord tolerance of the outlines packed for curves (default {CAD_TOLERANCE_TEXT} of each "
                        "part's size; the drawing written keeps the curves)")
    p.add_argument("--layers", default=None, metavar="NAME,...",
                   help="read parts only from these layers (default: all but frames, titles, dimensions, "
                        "construction)")
    p.add_argument("-o", "--output", metavar="FILE", help="write the nest: .dxf or .svg drawing, or .json placements")
    parts = p.add_mutually_exclusive_group()
    parts.add_argument("--explode", dest="explode", action="store_true", default=True,
                       help="a DXF's parts as their own entities, one group each (the default)")
    parts.add_argument("--blocks", dest="explode", action="store_false",
                       help="a DXF's parts as blocks inserted at their places (mirrored ones with x scale -1)")
    p.add_argument("-p", "--plot", metavar="FILE", help="draw the nest into a PNG or SVG picture")
    p.add_argument("-q", "--quiet", action="store_true", help="print nothing but errors")
    p.add_argument("--check", action="store_true", help="exit with status 3 when the layout check fails")
    add_report_options(p)
    return p


def _number(text, opt):
    try:
        v = float(text)
    except ValueError:
        raise JobError(f"{opt}: not a number: {text!r}") from None
    if not math.isfinite(v) or abs(v) > MAX_VALUE:
        raise JobError(f"{opt}: {text!r} is not a finite number of at most 1e12 in magnitude")
    return v


def _length(text, opt, positive=False):
    v = _number(text, opt)
    if v < 0 or (positive and v == 0):
        raise JobError(f"{opt}: must be {'positive' if positive else 'at least 0'}, got {text!r}")
    return v


def parse_sheet_kind(text):
    """(width, height, count, cost) of "3000x1500[:COUNT][@COST]" (count and cost None when not given)."""
    m = re.fullmatch(r"\s*([^:@]+?)\s*(?::\s*([^:@]*?)\s*)?(?:@\s*([^:@]*?)\s*)?", text)
    if m is None:
        raise JobError(f"--sheet: expected WIDTHxHEIGHT[:COUNT][@COST] such as 3000x1500:4@120, got {text!r}")
    width, height = parse_sheet(m.group(1))
    count = cost = None
    if m.group(2) is not None:
        if not re.fullmatch(r"\d+", m.group(2)) or int(m.group(2)) < 1:
            raise JobError(f"--sheet: the count after ':' must be a whole number of at least 1, got {text!r}")
        count = int(m.group(2))
    if m.group(3) is not None:
        cost = _length(m.group(3), "--sheet (cost after '@')")
    return width, height, count, cost


def parse_sheet(text):
    """(width, height) of "3000x1500"; (width, None) of "3000", a strip."""
    parts = re.split(r"\s*[xX*×]\s*", text.strip())
    if len(parts) == 1:
        return _length(parts[0], "--sheet", positive=True), None
    if len(parts) != 2:
        raise JobError(f"--sheet: expected WIDTHxHEIGHT such as 3000x1500, got {text!r}")
    return _length(parts[0], "--sheet", positive=True), _length(parts[1], "--sheet", positive=True)


def parse_rotations(text):
    """Angles in degrees of "0,90,180,270"."""
    angles = [a for a in re.split(r"[,\s]+", text.strip()) if a]
    if not angles:
        raise JobError("--rotations: expected angles in degrees such as 0,90,180,270")
    return [_number(a, "--rotations") for a in angles]


def parse_part(arg):
    """(path, count) of PART or FILE:COUNT (a file of that very name wins)."""
    m = re.fullmatch(r"(.+):(\d+)", arg)
    if os.path.exists(arg) or m is None:
        return arg, 1
    count = int(m.group(2))
    if count < 1:
        raise JobError(f"{arg}: the count after ':' must be at least 1")
    return m.group(1), count


def parse_layers(text):
    """The layer names of "CUT,HOLES", or None for the default layers."""
    if text is None:
        return None
    names = [n.strip() for n in text.split(",") if n.strip()]
    if not names:
        raise JobError("--layers: expected layer names such as CUT,HOLES")
    return names


def parse_stock(arg):
    """(path, cost) of FILE or FILE@COST (a file of that very name wins): the cost of each piece, None for its
    area."""
    m = re.fullmatch(r"(.+)@([^@]+)", arg)
    if os.path.exists(arg) or m is None:
        return arg, None
    return m.group(1), _length(m.group(2), f"--stock {arg} (cost after '@')")


def stock_kinds(args, edge):
    """The kinds of bin of the nest: the --sheet sizes, then the --stock drawings' pieces."""
    if not args.sheet and not args.stock:
        raise JobError("--sheet: missing (give the sheet size, e.g. --sheet 3000x1500, or --stock FILE)")
    kinds = []
    for text in args.sheet:
        width, height, count, cost = parse_sheet_kind(text)
        kinds.append(BinKind(width, height, margin=edge, count=count, cost=cost))
    for arg in args.stock:
        from Quarvo.cad import read_stock

        path, cost = parse_stock(arg)
        try:
            bins = read_stock(path, unit=args.unit, cost=cost)
        except (ValueError, OSError) as exc:
            raise JobError(f"--stock {path}: {str(exc).splitlines()[0]}") from None
        for b in bins:
            ox, oy = b.origin

            def back(ring):
                return [(x + ox, y + oy) for x, y in ring]

            kinds.append(BinKind(b.width, b.height, margin=edge, count=b.count, cost=b.cost, outer=back(b.outer),
                                 holes=[back(h) for h in b.holes], defects=[back(d) for d in b.defects],
                                 origin=(ox, oy)))
    if len(kinds) > 1 and any(k.height is None for k in kinds):
        raise JobError("--sheet: a strip (WIDTH alone) cannot be one kind of sheet among others")
    if kinds[0].height is None and (kinds[0].count or kinds[0].cost is not None):
        raise JobError("--sheet: a strip (WIDTH alone) takes no count or cost")
    return kinds


def build_job(args):
    """The job of a nest: its parts read from the drawings; raises JobError."""
    if not cad_available():
        raise JobError(f"quarvo nest reads DXF and SVG drawings through the extra Quarvo[cad]: {CAD_EXTRA}")
    gap = _length(args.gap, "--gap")
    edge = _length(args.edge, "--edge")
    kinds = stock_kinds(args, edge)
    width, height = kinds[0].width, kinds[0].height
    degrees = parse_rotations(args.rotations)
    tolerance = None if args.tolerance is None else _length(args.tolerance, "--tolerance", positive=True)
    if tolerance is not None and tolerance < MIN_TOLERANCE:
        raise JobError(f"--tolerance: {args.tolerance!r} is finer than the engine's grid (at least {MIN_TOLERANCE:g})")
    options = dict(SHOP_OPTIONS)
    if args.mirror:
        options["mirror"] = True
    if args.time is not None:
        options["time_limit"] = _length(args.time, "--time")
    # --time goes to the compression phase (parts from drawings weigh the same), on a coil as on sheets;
    # stock of several kinds or of outlines gets the improvement search
    options["compress"] = True
    layers = parse_layers(args.layers)
    items = []
    for arg in args.parts:
        path, count = parse_part(arg)
        for idef in part_defs(read_drawing(path, None, args.unit, tolerance, layers), len(items)):
            idef.quantity = count
            idef.file = idef.path = path
            items.append(idef)
    job = Job(source="quarvo nest", name=f"nest of {len(args.parts)} drawing{'s' if len(args.parts) > 1 else ''}",
              bin_w=width, bin_h=height, distance=gap, strategy="nfp", placement="corner",
              rotations=[math.radians(a) for a in degrees], rotation_unit="degrees", rotations_given=degrees,
              items=items, options=options, unit=args.unit, margin=edge,
              kinds=kinds if len(kinds) > 1 or kinds[0].shaped or kinds[0].count or kinds[0].cost is not None
              else None)
    if job.total > MAX_ITEMS:
        raise JobError(f"{job.total} parts in all, more than {MAX_ITEMS}")
    return job


def main(argv):
    """Run quarvo nest; returns the exit status."""

    try:
        args = _parser().parse_intermixed_args(argv)  # parts may come after the options too
    except SystemExit as exc:  # --help and argument errors
        return exc.code if isinstance(exc.code, int) else EXIT_BAD_JOB
    try:
        with terminate_cleanly():
            try:
                if args.output is not None and \
                        os.path.splitext(args.output)[1].lower() not in (".dxf", ".svg", ".json"):
                    raise JobError(f"--output: unsupported type {os.path.splitext(args.output)[1] or '(none)'!r} "
                                   "(use .dxf or .svg for the nest as a drawing, .json for the placements)")
                check_outputs(args.output, args.plot,
                              inputs=[("the part drawing", parse_part(a)[0]) for a in args.parts]
                              + [("the stock drawing", parse_stock(a)[0]) for a in args.stock], report=args.report)
                job = build_job(args)
                check_drawing_output(args.output, job)
            except (JobError, UnsafeOutput) as exc:
                print_error("quarvo nest", exc)
                return EXIT_BAD_JOB
            return run(job, args.output, args.plot, quiet=args.quiet, check_layout=args.check, prog="quarvo nest",
                       report=args.report, precision=args.precision, paper=args.paper, explode=args.explode)
    except Terminated:
        print("\nquarvo nest: terminated, nothing written", file=sys.stderr)
        return EXIT_TERMINATED
