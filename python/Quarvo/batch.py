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

A job reads drawings only from its own folder (a job given as a dict: the
working folder) unless ``parts_root`` widens it. With ``job_timeout`` a job
that runs longer is stopped and reported as failed, and its worker is free
for the next job: the engine stops at its next check of the clock (on a
local pool a worker that does not stop is ended and its other jobs rerun).
"""
import multiprocessing
import os
import shutil
import signal
import socket
import tempfile
import time
import uuid
from concurrent.futures import FIRST_COMPLETED, ProcessPoolExecutor, wait
from concurrent.futures.process import BrokenProcessPool

CONNECT_TIMEOUT = 5.0  # seconds to reach a scheduler
TASK_RETRIES = 2  # reruns of a task whose worker died or failed
# A local worker still busy this long after its job's timeout has not stopped
# by itself: it is ended.
TIMEOUT_GRACE = 10.0


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


def unique_names(jobs, files=lambda name: (name,), forbidden=lambda file: False):
    """One name per job. ``files(name)`` are the file names a job of that name
    writes: a name any of whose files another job's already take (case-blind,
    for any file system), or that ``forbidden`` refuses, gets -2, -3, ..."""
    taken, names = set(), []
    for k, job in enumerate(jobs):
        base = name = job_name(job, k)
        n = 1
        while any(f.lower() in taken or forbidden(f) for f in files(name)):
            n += 1
            name = f"{base}-{n}"
        taken.update(f.lower() for f in files(name))
        names.append(name)
    return names


def _failed(source, error, seconds=0.0):
    return {"job": source, "status": "failed", "error": error, "seconds": round(seconds, 4)}


def _read(job):
    """(source, text or dict) of a job, or the failed result when its file cannot be read."""
    if not isinstance(job, (str, os.PathLike)):
        return "job", job, None
    from Quarvo.job import MAX_JOB_BYTES

    path = os.fspath(job)
    try:
        with open(path, "rb") as f:
            data = f.read(MAX_JOB_BYTES + 1)
    except OSError as exc:
        return path, None, _failed(path, f"{path}: cannot read the job file: {exc.strerror or exc}")
    if len(data) > MAX_JOB_BYTES:
        return path, None, _failed(path, f"{path}: more than {MAX_JOB_BYTES >> 20} MB: not a job file")
    try:
        return path, data.decode("utf-8-sig"), None
    except UnicodeDecodeError:
        return path, None, _failed(path, f"{path}: not a JSON file (not UTF-8 text)")


def timeout_text(seconds):
    return f"stopped: ran longer than the job timeout of {seconds:g} s"


def run_job(source, job, plot=False, parts_root=None, timeout=None):
    """Pack one job (its JSON text or decoded document) as the command line does.

    Runs in a worker. Returns the result document with "status"; with plot, the
    PNG picture's bytes under "picture". With ``timeout`` (seconds) a job that
    runs longer is stopped and fails with that reason.
    """
    from Quarvo._quarvo import _set_deadline
    from Quarvo.job import JobError, decode_json, parse_job
    from Quarvo.job.packing import check, pack
    from Quarvo.report import loading_check, result_document
    from Quarvo.report.outputs import write_plot

    start = time.perf_counter()

    def late():
        return timeout is not None and time.perf_counter() - start > timeout

    _set_deadline(timeout)
    try:
        try:
            # a job file's drawings are its folder's, wherever the worker runs
            base = os.path.dirname(os.path.abspath(source)) if isinstance(job, str) else None
            raw = decode_json(job, source) if isinstance(job, str) else job
            parsed = parse_job(raw, source, base=base, parts_root=parts_root)
        except JobError as exc:
            return _failed(source, str(exc), time.perf_counter() - start)
        parsed.options.setdefault("threads", 1)
        try:
            result = pack(parsed)
            if late():
                raise TimeoutError()
            result.check = check(result)
            if parsed.rows:
                result.loading = loading_check(result)
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
        except TimeoutError:
            return _failed(source, timeout_text(timeout), time.perf_counter() - start)
        except Exception as exc:  # an engine fault is this job's error, never the batch's
            return _failed(source, f"{type(exc).__name__}: {exc}", time.perf_counter() - start)
        if late():
            return _failed(source, timeout_text(timeout), time.perf_counter() - start)
        return doc
    finally:
        _set_deadline(None)


def _ignore_sigint():
    # Ctrl-C reaches the whole process group: the batch's own process cancels the workers.
    signal.signal(signal.SIGINT, signal.SIG_IGN)


def _new_pool(workers):
    return ProcessPoolExecutor(max_workers=workers, mp_context=multiprocessing.get_context("spawn"),
                               initializer=_ignore_sigint)


def _end_pool(pool):
    for proc in list(getattr(pool, "_processes", {}).values()):
        proc.terminate()
    pool.shutdown(wait=False, cancel_futures=True)


def _local(tasks, workers, job_args, done):
    """Runs the tasks on a local process pool, as many at a time as there are
    workers, so that a job's start is known: one that overstays its timeout by
    TIMEOUT_GRACE is failed and its worker ended (the pool is renewed and the
    other jobs running then start again)."""
    plot, parts_root, timeout = job_args
    queue = list(tasks)
    running = {}  # future -> (k, source, job, started)
    unguarded = os.path.join(tempfile.mkdtemp(prefix="quarvo-batch-"), "unguarded")
    os.environ[_UNGUARDED] = unguarded
    pool = _new_pool(workers)

    def submit(task):
        k, (source, job) = task
        fut = pool.submit(run_job, source, job, plot, parts_root, timeout)
        running[fut] = (k, source, job, time.monotonic())

    try:
        while queue or running:
            while queue and len(running) < workers:
                submit(queue.pop(0))
            wait_for = None
            if timeout is not None:
                oldest = min(started for _, _, _, started in running.values())
                wait_for = max(0.05, oldest + timeout + TIMEOUT_GRACE - time.monotonic())
            finished, _ = wait(running, timeout=wait_for, return_when=FIRST_COMPLETED)
            for fut in finished:
                k, source, _, _ = running.pop(fut)
                try:
                    res = fut.result()
                except BrokenProcessPool as exc:  # a worker died, or never started
                    if os.path.exists(unguarded):
                        raise MissingMainGuard(MAIN_GUARD) from exc
                    res = _failed(source, f"worker failed: {type(exc).__name__}: {exc}")
                except Exception as exc:
                    res = _failed(source, f"worker failed: {type(exc).__name__}: {exc}")
                done(k, res)
            if not finished and timeout is not None:
                now = time.monotonic()
                stuck = [f for f, (_, _, _, started) in running.items() if now - started > timeout + TIMEOUT_GRACE]
                if stuck:
                    _end_pool(pool)
                    pool = _new_pool(workers)
                    again = []
                    for fut, (k, source, job, started) in list(running.items()):
                        if fut in stuck:
                            done(k, _failed(source, timeout_text(timeout), now - started))
                        else:
                            again.append((k, (source, job)))
                    running.clear()
                    queue[:0] = again
    except BaseException:
        for fut in running:
            fut.cancel()
        _end_pool(pool)
        raise
    finally:
        os.environ.pop(_UNGUARDED, None)
        shutil.rmtree(os.path.dirname(unguarded), ignore_errors=True)
    pool.shutdown()


def _source_of(tasks, k):
    return next(source for j, (source, _) in tasks if j == k)


def _connect(scheduler):
    try:
        from distributed import Client
        from distributed.comm import parse_address
        from distributed.comm.addressing import parse_host_port
    except ImportError:
        raise SchedulerError('a scheduler needs Dask: pip install "Quarvo[dask]"') from None
    shown = repr(scheduler) if len(str(scheduler)) <= 60 else repr(str(scheduler)[:57] + "...")
    # The address is checked and the port tried first: a Client that cannot
    # connect lingers until exit and prints its own traceback then.
    try:
        protocol, where = parse_address(str(scheduler))
        if protocol not in ("tcp", "tls"):
            raise ValueError(f"protocol {protocol!r} (expected tcp:// or tls://)")
        host, port = parse_host_port(where)
    except (ValueError, TypeError) as exc:
        raise SchedulerError(f"--scheduler: {shown} is not a scheduler address such as tcp://HOST:PORT ({exc})") \
            from None
    try:
        socket.create_connection((host, port), timeout=CONNECT_TIMEOUT).close()
    except OSError as exc:
        raise SchedulerError(f"cannot reach the scheduler {shown}: {exc.strerror or exc}") from None
    try:
        return Client(scheduler, timeout=CONNECT_TIMEOUT, set_as_default=False)
    except Exception as exc:
        raise SchedulerError(f"cannot reach the scheduler {shown}: {exc}") from None


def _dask(client, tasks, job_args, done):
    from distributed import as_completed

    token = uuid.uuid4().hex[:8]
    futures = {}
    try:
        for k, (source, job) in tasks:
            fut = client.submit(run_job, source, job, *job_args, key=f"quarvo-job-{k}-{token}", pure=False,
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


MAIN_GUARD = ('Quarvo.batch.pack_jobs runs its jobs in worker processes, which import the calling script again '
              'as they start: keep the script\'s own work under `if __name__ == "__main__":`')


class MissingMainGuard(RuntimeError):
    """pack_jobs called again by a worker process importing the calling script."""


# Where a worker that starts a batch while it starts leaves word of it for
# the batch that spawned it.
_UNGUARDED = "QUARVO_BATCH_UNGUARDED"


def _refuse_in_a_starting_worker():
    # A spawned worker imports the parent's script as __mp_main__: unguarded
    # code there would start a batch of its own, and fail obscurely.
    if getattr(multiprocessing.current_process(), "_inheriting", False):
        marker = os.environ.get(_UNGUARDED)
        if marker:
            open(marker, "w").close()
        raise MissingMainGuard(MAIN_GUARD)


def pack_jobs(jobs, *, workers=None, scheduler=None, progress=None, plot=False, parts_root=None,
              job_timeout=None):
    """Pack many jobs; returns one result per job, in input order.

    ``workers``: local processes (default one per core). ``scheduler``: the
    address of a Dask scheduler to run on instead. ``progress(done, total,
    index, result)`` is called in this process as each job finishes.
    ``plot``: also draw each layout (PNG bytes under "picture").
    ``parts_root``: the folder drawings may be read from (default: each job's
    own folder). ``job_timeout``: seconds a job may run before it is stopped
    and fails. Raises ``SchedulerError`` when the scheduler cannot be reached.

    Local workers are started with ``spawn``: a script that calls this must
    guard its own work with ``if __name__ == "__main__":`` (a spawned worker
    imports the script again).
    """
    _refuse_in_a_starting_worker()
    if job_timeout is not None and (isinstance(job_timeout, bool) or not isinstance(job_timeout, (int, float))
                                    or not job_timeout > 0 or job_timeout != job_timeout):
        raise ValueError(f"job_timeout must be a positive number of seconds, got {job_timeout!r}")
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
        job_args = (plot, parts_root, job_timeout)
        if tasks and client is not None:
            _dask(client, tasks, job_args, done)
        elif tasks:
            _local(tasks, max(1, min(len(tasks), workers or os.cpu_count() or 1)), job_args, done)
    finally:
        if client is not None:
            client.close()
    return results
