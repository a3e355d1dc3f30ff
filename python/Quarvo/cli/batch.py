"""``quarvo batch``: many job files at once, one result file per job.

    quarvo batch JOB.json... --output-dir DIR [--workers N] [--scheduler ADDRESS] [--plot] [--quiet]
                 [--parts-root DIR] [--job-timeout S]

Each job writes DIR/<name>.json (and <name>.png with --plot), or
DIR/<name>.error.json with the reason when it fails; in a folder that holds
jobs of the batch they are <name>.result.json and <name>.result.png, so that
no result can replace a job. Every file is written atomically, and writing a
job's result removes what an earlier run left under its other names (a stale
error beside a new result). Names never repeat and never name an input: a
name whose files another job's would take gets -2, -3, ...
"""
import argparse
import json
import os
import sys
import time

from Quarvo.job import JobError
from Quarvo.files import OutputSet, Terminated, UnsafeOutput, file_identity, refuse_replacing_inputs, same_file, \
    terminate_cleanly
from Quarvo.cli.terminal import print_error, print_lines
from Quarvo.report.outputs import check_plot_format, dump_document

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
    p.add_argument("--parts-root", metavar="DIR",
                   help="the folder the jobs' drawings may be read from (default: each job's own folder)")
    p.add_argument("--job-timeout", type=float, metavar="S",
                   help="stop a job that runs longer than S seconds and report it as failed")
    return p


def _check_args(args):
    if args.workers is not None and args.workers < 1:
        raise JobError(f"--workers: must be at least 1, got {args.workers}")
    if args.job_timeout is not None and not args.job_timeout > 0:  # nan included
        raise JobError(f"--job-timeout: must be a positive number of seconds, got {args.job_timeout}")
    out = os.path.abspath(args.output_dir)
    if os.path.exists(out) and not os.path.isdir(out):
        raise JobError(f"--output-dir: {args.output_dir!r} is not a folder")
    parent = out if os.path.isdir(out) else os.path.dirname(out)
    if not os.path.isdir(parent) or not os.access(parent, os.W_OK):
        raise JobError(f"--output-dir: cannot write into {parent!r}")
    refuse_replacing_inputs([("--output-dir", os.path.join(out, "x"))], [])
    if args.plot:
        check_plot_format("x.png")


def result_files(name, in_jobs_folder):
    """The files a job of this name may write: result, picture, error."""
    lead = f"{name}.result" if in_jobs_folder else name
    return {"result": f"{lead}.json", "picture": f"{lead}.png", "error": f"{name}.error.json"}


def output_names(jobs, out_dir):
    """One name per job whose files are no other job's and no input of the batch;
    and whether the folder holds jobs of the batch (results are then
    <name>.result.json)."""
    from Quarvo.batch import unique_names

    out = os.path.abspath(out_dir)
    paths = [os.fspath(j) for j in jobs if isinstance(j, (str, os.PathLike))]
    in_jobs_folder = os.path.isdir(out) and any(same_file(os.path.dirname(os.path.abspath(p)), out) for p in paths)
    real = {os.path.realpath(p) for p in paths}
    nodes = {i for i in map(file_identity, paths) if i is not None}

    def is_input(f):
        path = os.path.join(out, f)
        return os.path.realpath(path) in real or file_identity(path) in nodes

    names = unique_names(jobs, files=lambda name: result_files(name, in_jobs_folder).values(), forbidden=is_input)
    return names, in_jobs_folder


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

    def __init__(self, args, names, in_jobs_folder, show):
        self.args, self.names, self.in_jobs_folder, self.show = args, names, in_jobs_folder, show
        self.placed = 0
        self.written = 0
        self.start = time.perf_counter()

    def __call__(self, done, total, k, res):
        out = self.args.output_dir
        os.makedirs(out, exist_ok=True)
        files = {key: os.path.join(out, f) for key, f in result_files(self.names[k], self.in_jobs_folder).items()}
        picture = res.pop("picture", None)
        try:
            with OutputSet() as outputs:
                if res.get("status") == "ok":
                    if picture is not None:
                        with open(outputs.temp(files["picture"]), "wb") as f:
                            f.write(picture)
                    with open(outputs.temp(files["result"]), "w", encoding="utf-8") as f:
                        f.write(dump_document(res))
                    stale = [files["error"]] + ([] if picture is not None else [files["picture"]])
                else:
                    with open(outputs.temp(files["error"]), "w", encoding="utf-8") as f:
                        f.write(json.dumps(res, ensure_ascii=False, indent=2) + "\n")
                    stale = [files["result"], files["picture"]]
                outputs.commit()
            for path in stale:  # an earlier run's files of this job that this run's outcome makes wrong
                if os.path.lexists(path):
                    os.remove(path)
            if res.get("status") == "ok":
                self.placed += len(res["placements"])
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
    with terminate_cleanly():
        return _main(argv)


def _main(argv):
    from Quarvo.batch import SchedulerError, pack_jobs

    try:
        args = _parser().parse_args(argv)
    except SystemExit as exc:
        return exc.code if isinstance(exc.code, int) else EXIT_BAD_ARGS
    err = sys.stderr
    try:
        _check_args(args)
    except (JobError, UnsafeOutput) as exc:
        print_error("quarvo batch", exc)
        return EXIT_BAD_ARGS
    names, in_jobs_folder = output_names(args.jobs, args.output_dir)
    writer = _Writer(args, names, in_jobs_folder, not args.quiet and hasattr(err, "isatty") and err.isatty())
    try:
        results = pack_jobs(args.jobs, workers=args.workers, scheduler=args.scheduler, progress=writer,
                            plot=args.plot, parts_root=args.parts_root, job_timeout=args.job_timeout)
    except SchedulerError as exc:
        print_error("quarvo batch", exc)
        return EXIT_BAD_ARGS
    except (KeyboardInterrupt, Terminated) as exc:
        what = "interrupted" if isinstance(exc, KeyboardInterrupt) else "terminated"
        print(f"\nquarvo batch: {what}; {writer.written} of {len(names)} jobs finished, their files kept",
              file=err)
        return EXIT_INTERRUPTED if isinstance(exc, KeyboardInterrupt) else 143
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
