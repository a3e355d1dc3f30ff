"""``quarvo batch``: many job files at once, one result file per job.

    quarvo batch JOB.json... --output-dir DIR [--workers N] [--scheduler ADDRESS] [--plot] [--quiet]

Each job writes DIR/<name>.json (and <name>.png with --plot), or
DIR/<name>.error.json with the reason when it fails; every file is written
atomically. Names that repeat are made unique (<name>-2, ...).
"""
import argparse
import json
import os
import sys
import time

from Quarvo.job import JobError
from Quarvo.output import check_plot_format, dump_document, print_lines, write_atomic

EXIT_OK = 0
EXIT_BAD_ARGS = 2
EXIT_SOME_FAILED = 4
EXIT_INTERRUPTED = 130


def _parser():
    p = argparse.ArgumentParser(
        prog="quarvo batch",
        description="Pack many job files side by side: on a local process pool (one worker per core), "
                    "or on a Dask cluster with --scheduler. The job files are the command-line jobs "
                    "(quarvo --help); inside a batch each job packs on one thread unless it sets \"threads\".",
        epilog="exit status: 0 every job packed, 4 some jobs failed (see DIR/<name>.error.json), "
               "2 bad arguments or an unreachable scheduler, 130 interrupted (finished files are kept).",
    )
    p.add_argument("jobs", nargs="+", metavar="JOB.json", help="job files")
    p.add_argument("-d", "--output-dir", required=True, metavar="DIR", help="folder for the result files")
    p.add_argument("-w", "--workers", type=int, metavar="N", help="local worker processes (default: one per core)")
    p.add_argument("-s", "--scheduler", metavar="ADDRESS",
                   help="run on this Dask scheduler (tcp://HOST:PORT; needs pip install Quarvo[dask])")
    p.add_argument("-p", "--plot", action="store_true", help="also draw each layout into DIR/<name>.png")
    p.add_argument("-q", "--quiet", action="store_true", help="print nothing but errors")
    return p


def _check_args(args):
    if args.workers is not None and args.workers < 1:
        raise JobError(f"--workers: must be at least 1, got {args.workers}")
    out = os.path.abspath(args.output_dir)
    if os.path.exists(out) and not os.path.isdir(out):
        raise JobError(f"--output-dir: {args.output_dir!r} is not a folder")
    parent = out if os.path.isdir(out) else os.path.dirname(out)
    if not os.path.isdir(parent) or not os.access(parent, os.W_OK):
        raise JobError(f"--output-dir: cannot write into {parent!r}")
    if args.plot:
        check_plot_format("x.png")


def _row(name, res):
    if res.get("status") != "ok":
        return f"  {name:<24} failed: {res.get('error', '')}"
    bins = res["bins"]
    fill = sum(b["fill_ratio"] for b in bins) / len(bins) if bins else 0.0
    verdict = "ok" if res.get("check", {}).get("ok") else "FAILED"
    return (f"  {name:<24} {len(bins):>5} {100 * fill:>6.1f}% {len(res['unplaced']):>9} "
            f"{res['seconds']:>8.2f} {verdict:>6}")


class _Writer:
    """Writes each job's files as it finishes and keeps the progress line."""

    def __init__(self, args, names, show):
        self.args, self.names, self.show = args, names, show
        self.placed = 0
        self.written = 0
        self.start = time.perf_counter()

    def __call__(self, done, total, k, res):
        out = self.args.output_dir
        os.makedirs(out, exist_ok=True)
        name = self.names[k]
        picture = res.pop("picture", None)
        try:
            if res.get("status") == "ok":
                if picture is not None:
                    write_atomic(os.path.join(out, f"{name}.png"), picture)
                write_atomic(os.path.join(out, f"{name}.json"), dump_document(res).encode("utf-8"))
                self.placed += len(res["placements"])
            else:
                write_atomic(os.path.join(out, f"{name}.error.json"),
                              (json.dumps(res, ensure_ascii=False, indent=2) + "\n").encode("utf-8"))
            self.written += 1
        except OSError as exc:  # this job's output failed; the others carry on
            res.clear()
            res.update({"status": "failed", "error": f"writing the results failed: {exc}"})
        if self.show:
            sys.stderr.write(f"\r\x1b[Kjobs {done} of {total} done, {self.placed} items placed ... "
                             f"{time.perf_counter() - self.start:.1f} s")
            sys.stderr.flush()


def main(argv):
    """``quarvo batch ...``; returns the exit status."""
    from Quarvo.batch import SchedulerError, pack_jobs, unique_names

    try:
        args = _parser().parse_args(argv)
    except SystemExit as exc:
        return exc.code if isinstance(exc.code, int) else EXIT_BAD_ARGS
    err = sys.stderr
    try:
        _check_args(args)
    except JobError as exc:
        print(f"quarvo batch: error: {exc}", file=err)
        return EXIT_BAD_ARGS
    names = unique_names(args.jobs)
    writer = _Writer(args, names, not args.quiet and hasattr(err, "isatty") and err.isatty())
    try:
        results = pack_jobs(args.jobs, workers=args.workers, scheduler=args.scheduler, progress=writer,
                            plot=args.plot)
    except SchedulerError as exc:
        print(f"quarvo batch: error: {exc}", file=err)
        return EXIT_BAD_ARGS
    except KeyboardInterrupt:
        print(f"\nquarvo batch: interrupted; {writer.written} of {len(names)} jobs finished, their files kept",
              file=err)
        return EXIT_INTERRUPTED
    if writer.show:
        err.write("\n")
    failed = sum(1 for r in results if r.get("status") != "ok")
    if not args.quiet:
        print_lines([f"  {'job':<24} {'bins':>5} {'fill':>7} {'unplaced':>9} {'time s':>8} {'check':>6}"]
                    + [_row(name, res) for name, res in zip(names, results)]
                    + [f"  {len(results) - failed} of {len(results)} jobs packed, {failed} failed, "
                       f"{writer.placed} items placed, {time.perf_counter() - writer.start:.2f} s; "
                       f"files in {args.output_dir}"])
    return EXIT_SOME_FAILED if failed else EXIT_OK
