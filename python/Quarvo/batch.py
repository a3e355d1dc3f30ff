"""Many independent jobs at once: a local process pool, or a Dask cluster.

``pack_jobs(jobs)`` packs command-line job documents (dicts, or paths of job
files) side by side and returns one result per job, in input order: the
command line's result document plus ``"status"`` (``"ok"`` or ``"failed"``;
a failed job has ``"error"`` instead of the layout). A job that fails does not
stop the others, and every result is the one the job gives packed alone.

Without a scheduler the jobs run on a local process pool, one worker per core.
With ``scheduler="tcp://HOST:PORT"`` they run as tasks on that Dask cluster
(``pip install Quarvo[dask]``, and Quarvo installed on every worker); a worker
that dies mid-job costs only a rerun of its task elsewhere.

Inside a batch every job packs on one thread (``"threads": 1``) unless the job
asks otherwise: the batch already keeps every core busy, and the layout does
not depend on the thread count.
"""
import multiprocessing
import os
import signal
import tempfile
import time
import uuid
from concurrent.futures import FIRST_COMPLETED, ProcessPoolExecutor, wait

CONNECT_TIMEOUT = 5.0  # seconds to reach a scheduler
TASK_RETRIES = 2  # reruns of a task whose worker died or failed


class SchedulerError(Exception):
    """The Dask scheduler cannot be reached (or Dask is not installed)."""


def job_name(job, index):
    """A job's name for its files: the file's stem, else its "name" field, else job-<k>."""
    if isinstance(job, (str, os.PathLike)):
        stem = os.path.splitext(os.path.basename(os.fspath(job)))[0]
    else:
        stem = job.get("name") if isinstance(job, dict) and isinstance(job.get("name"), str) else ""
    stem = "".join(c if c.isalnum() or c in "-_.+" else "_" for c in stem).strip("._")
    return stem or f"job-{index + 1}"


def unique_names(jobs):
    """One file name per job; a name that repeats gets -2, -3, ... (case-blind, for any file system)."""
    taken, names = set(), []
    for k, job in enumerate(jobs):
        base = name = job_name(job, k)
        n = 1
        while name.lower() in taken:
            n += 1
            name = f"{base}-{n}"
        taken.add(name.lower())
        names.append(name)
    return names


def _failed(source, error, seconds=0.0):
    return {"job": source, "status": "failed", "error": error, "seconds": round(seconds, 4)}


def _read(job):
    """(source, text or dict) of a job, or the failed result when its file cannot be read."""
    if not isinstance(job, (str, os.PathLike)):
        return "job", job, None
    path = os.fspath(job)
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as exc:
        return path, None, _failed(path, f"{path}: cannot read the job file: {exc.strerror or exc}")
    try:
        return path, data.decode("utf-8-sig"), None
    except UnicodeDecodeError:
        return path, None, _failed(path, f"{path}: not a JSON file (not UTF-8 text)")


def run_job(source, job, plot=False):
    """Pack one job (its JSON text or decoded document) as the command line does.

    Runs in a worker. Returns the result document with "status"; with plot, the
    PNG picture's bytes under "picture".
    """
    from Quarvo.job import JobError, decode_job, parse_job
    from Quarvo.output import write_plot
    from Quarvo.packing import check, pack
    from Quarvo.report import result_document

    start = time.perf_counter()
    try:
        parsed = decode_job(job, source) if isinstance(job, str) else parse_job(job, source)
    except JobError as exc:
        return _failed(source, str(exc), time.perf_counter() - start)
    parsed.options.setdefault("threads", 1)
    try:
        result = pack(parsed)
        result.check = check(result)
        doc = {"status": "ok", **result_document(result)}
        if plot:
            fd, tmp = tempfile.mkstemp(suffix=".png")
            os.close(fd)
            try:
                write_plot(result, tmp)
                with open(tmp, "rb") as f:
                    doc["picture"] = f.read()
            finally:
                os.remove(tmp)
    except Exception as exc:  # an engine fault is this job's error, never the batch's
        return _failed(source, f"{type(exc).__name__}: {exc}", time.perf_counter() - start)
    return doc


def _ignore_sigint():
    # Ctrl-C reaches the whole process group: the batch's own process cancels the workers.
    signal.signal(signal.SIGINT, signal.SIG_IGN)


def _local(tasks, workers, plot, done):
    pool = ProcessPoolExecutor(max_workers=workers, mp_context=multiprocessing.get_context("spawn"),
                               initializer=_ignore_sigint)
    try:
        pending = {pool.submit(run_job, source, job, plot): k for k, (source, job) in tasks}
        while pending:
            finished, _ = wait(pending, return_when=FIRST_COMPLETED)
            for fut in finished:
                k = pending.pop(fut)
                try:
                    res = fut.result()
                except Exception as exc:  # the worker process died
                    res = _failed(_source_of(tasks, k), f"worker failed: {type(exc).__name__}: {exc}")
                done(k, res)
    except BaseException:
        for fut in pending:
            fut.cancel()
        for proc in list(getattr(pool, "_processes", {}).values()):
            proc.terminate()
        pool.shutdown(wait=False, cancel_futures=True)
        raise
    pool.shutdown()


def _source_of(tasks, k):
    return next(source for j, (source, _) in tasks if j == k)


def _connect(scheduler):
    try:
        from distributed import Client
    except ImportError:
        raise SchedulerError("a scheduler needs Dask: pip install Quarvo[dask]") from None
    try:
        return Client(scheduler, timeout=CONNECT_TIMEOUT, set_as_default=False)
    except Exception as exc:
        raise SchedulerError(f"cannot reach the scheduler {scheduler}: {exc}") from None


def _dask(client, tasks, plot, done):
    from distributed import as_completed

    token = uuid.uuid4().hex[:8]
    futures = {}
    try:
        for k, (source, job) in tasks:
            fut = client.submit(run_job, source, job, plot, key=f"quarvo-job-{k}-{token}", pure=False,
                                retries=TASK_RETRIES)
            futures[fut] = k
        for fut in as_completed(list(futures), loop=client.loop):
            k = futures[fut]
            try:
                res = fut.result()
            except Exception as exc:  # retries exhausted: the task's workers kept dying
                res = _failed(_source_of(tasks, k), f"task failed: {type(exc).__name__}: {exc}")
            done(k, res)
    except BaseException:
        client.cancel(list(futures))
        raise


def pack_jobs(jobs, *, workers=None, scheduler=None, progress=None, plot=False):
    """Pack many jobs; returns one result per job, in input order.

    ``workers``: local processes (default one per core). ``scheduler``: the
    address of a Dask scheduler to run on instead. ``progress(done, total,
    index, result)`` is called in this process as each job finishes.
    ``plot``: also draw each layout (PNG bytes under "picture").
    Raises ``SchedulerError`` when the scheduler cannot be reached.
    """
    jobs = list(jobs)
    results = [None] * len(jobs)
    tasks = []
    count = [0]

    def done(k, res):
        results[k] = res
        count[0] += 1
        if progress is not None:
            progress(count[0], len(jobs), k, res)

    for k, job in enumerate(jobs):
        source, content, failure = _read(job)
        if failure is None:
            tasks.append((k, (source, content)))
        else:
            results[k] = failure
    client = _connect(scheduler) if scheduler is not None else None  # before anything is reported
    try:
        for k, res in enumerate(list(results)):
            if res is not None:
                done(k, res)
        if tasks and client is not None:
            _dask(client, tasks, plot, done)
        elif tasks:
            _local(tasks, max(1, min(len(tasks), workers or os.cpu_count() or 1)), plot, done)
    finally:
        if client is not None:
            client.close()
    return results
