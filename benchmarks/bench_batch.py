"""Batch throughput: many pipe jobs on a local process pool and on a Dask cluster.

100 jobs (by default), each a pipe workload of 200 items (solid pipes of seven
standard sizes and hollow pipes as 64-gon rings that take smaller pipes in their
holes) into 1200 x 800 bins, distance 2. Prints the wall time and jobs per
second packed sequentially in this process, on the local pool with 1 and 2
workers, and through a distributed.LocalCluster with 2 worker processes on
loopback, and the speed-up of each over one process; every path's results are
compared with the sequential ones. The overhead per job of each path is
measured apart, as the wall time per job of as many one-circle jobs. The load
average is printed before and after: on a shared machine the speed-ups say
little when it is above the number of cores.

    PYTHONPATH=python python benchmarks/bench_batch.py [--jobs N] [--items N]
"""
import argparse
import math
import os
import platform
import random
import subprocess
import time

from Quarvo.batch import pack_jobs, run_job

# (id, outside radius mm, wall mm, kg per metre)
PIPES = [("DN50", 30.15, 3.9, 5.4), ("DN80", 44.45, 5.5, 11.3), ("DN100", 57.15, 6.0, 16.1),
         ("DN150", 84.15, 7.1, 28.3), ("DN200", 109.55, 8.2, 42.6), ("DN250", 136.5, 9.3, 60.3),
         ("DN300", 161.95, 9.5, 73.9)]


def ring(r, n=64, clockwise=True):
    sign = -1 if clockwise else 1
    return [[round(r * math.cos(sign * 2 * math.pi * k / n), 4), round(r * math.sin(sign * 2 * math.pi * k / n), 4)]
            for k in range(n)]


def pipe_job(seed, n_items):
    rnd = random.Random(seed)
    counts = {}
    for _ in range(n_items):
        pipe = rnd.choices(PIPES, weights=[6, 5, 4, 3, 2, 1, 1])[0]
        hollow = pipe[1] >= 84 and rnd.random() < 0.5
        counts[pipe[0], hollow] = counts.get((pipe[0], hollow), 0) + 1
    items = []
    for (pid, hollow), q in sorted(counts.items()):
        _, r, wall, kg = next(p for p in PIPES if p[0] == pid)
        if hollow:
            items.append({"id": f"{pid}-hollow", "type": "polygon", "outer": ring(r),
                          "holes": [ring(r - wall, clockwise=False)], "quantity": q, "weight": kg})
        else:
            items.append({"id": pid, "type": "circle", "radius": r, "quantity": q, "weight": kg})
    return {"name": f"pipes {seed}", "unit": "mm", "bin": {"width": 1200, "height": 800}, "distance": 2,
            "rotations": [0], "items": items}


def commit():
    try:
        return subprocess.check_output(["git", "rev-parse", "--short", "HEAD"], text=True).strip()
    except Exception:
        return "?"


def strip(res):
    return {k: v for k, v in res.items() if k != "seconds"}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--jobs", type=int, default=100)
    ap.add_argument("--items", type=int, default=200)
    args = ap.parse_args()
    jobs = [pipe_job(seed, args.items) for seed in range(args.jobs)]
    print(f"commit {commit()}  machine {platform.machine()} {os.cpu_count()} cores  python {platform.python_version()}")
    print(f"{args.jobs} pipe jobs of {args.items} items, 1200 x 800 bins, distance 2; "
          f"load average {os.getloadavg()[0]:.1f}")
    print()
    rows = []
    start = time.perf_counter()
    reference = [run_job("job", job) for job in jobs]
    rows.append(("sequential, this process", time.perf_counter() - start, True))
    for workers in (1, 2):
        start = time.perf_counter()
        got = pack_jobs(jobs, workers=workers)
        rows.append((f"local pool, {workers} worker(s)", time.perf_counter() - start,
                     all(strip(a) == strip(b) for a, b in zip(got, reference))))
    from distributed import LocalCluster

    with LocalCluster(n_workers=2, processes=True, threads_per_worker=1, host="127.0.0.1",
                      dashboard_address=None) as cluster:
        pack_jobs(jobs[:2], scheduler=cluster.scheduler_address)  # the workers import Quarvo once
        start = time.perf_counter()
        got = pack_jobs(jobs, scheduler=cluster.scheduler_address)
        rows.append(("LocalCluster, 2 workers", time.perf_counter() - start,
                     all(strip(a) == strip(b) for a, b in zip(got, reference))))
        tiny = [{"bin": {"width": 10, "height": 10}, "items": [{"type": "circle", "radius": 1}]}] * args.jobs
        start = time.perf_counter()
        pack_jobs(tiny, scheduler=cluster.scheduler_address)
        per_job_cluster = (time.perf_counter() - start) / args.jobs
    start = time.perf_counter()
    pack_jobs(tiny, workers=2)
    per_job_local = (time.perf_counter() - start) / args.jobs
    base = rows[0][1]
    print(f"  {'path':<28} {'wall s':>8} {'jobs/s':>8} {'speed-up':>9}  same results")
    for name, wall, same in rows:
        print(f"  {name:<28} {wall:>8.2f} {args.jobs / wall:>8.2f} {base / wall:>8.2f}x  {'yes' if same else 'NO'}")
    print()
    print(f"overhead per job ({args.jobs} one-circle jobs): LocalCluster {1000 * per_job_cluster:.1f} ms, "
          f"local pool {1000 * per_job_local:.1f} ms (with its start-up)")
    placed = sum(len(r["placements"]) for r in reference if r["status"] == "ok")
    print(f"{placed} of {args.jobs * args.items} items placed; "
          f"{sum(len(r['bins']) for r in reference if r['status'] == 'ok')} bins; load average {os.getloadavg()[0]:.1f}")


if __name__ == "__main__":
    main()
