"""What reading drawings and keeping time cost, against their stated budgets.

1. Reading a DXF of N separate 10 x 10 squares (`Quarvo.cad.read_parts`) at
   2,500 / 10,000 / 20,000 / 100,000 parts: seconds and peak memory of a
   child process per size (the reading is linear: 20,000 in at most 4 s,
   100,000 in at most 20 s on the 2-core machine of the figures).
2. Hostile drawings refused by the reading budget: seconds and peak memory
   of each refusal (a budget is met within a second or two).
3. A time-limited job with items too big for its bin: the run's wall time
   against its time_limit (the reasons for unplaced items come from a quick
   test of each kind alone, never a rerun of the search).

    PYTHONPATH=python python benchmarks/bench_user_files.py [--sizes 2500 10000 20000 100000] [--limit 3]
"""
import argparse
import json
import math
import os
import subprocess
import sys
import tempfile
import textwrap
import time

from _about import ROOT, commit_and_machine

CHILD = textwrap.dedent("""
    import json, resource, sys, time
    from Quarvo.cad import read_parts
    start = time.perf_counter()
    try:
        what = f"{len(read_parts(sys.argv[1]))} parts"
    except ValueError as exc:
        what = "refused: " + str(exc)[:90]
    use = resource.getrusage(resource.RUSAGE_SELF)
    print(json.dumps([time.perf_counter() - start, use.ru_utime + use.ru_stime, use.ru_maxrss / 1024, what]))
""")


def squares(path, n):
    import ezdxf

    doc = ezdxf.new(units=ezdxf.units.MM)
    msp = doc.modelspace()
    k = math.ceil(math.sqrt(n))
    for i in range(n):
        x, y = (i % k) * 20, (i // k) * 20
        msp.add_lwpolyline([(x, y), (x + 10, y), (x + 10, y + 10), (x, y + 10)], close=True)
    doc.saveas(path)


def read_in_child(path):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([os.path.join(ROOT, "python")] + sys.path))
    r = subprocess.run([sys.executable, "-c", CHILD, path], capture_output=True, text=True, env=env, timeout=3600)
    if r.returncode:
        return None, None, None, r.stderr.strip().splitlines()[-1]
    return json.loads(r.stdout)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--sizes", type=int, nargs="+", default=[2500, 10000, 20000, 100000])
    ap.add_argument("--limit", type=float, default=3.0, help="time_limit of the job with unplaced items")
    args = ap.parse_args()
    print(commit_and_machine(), f"; load average {os.getloadavg()[0]:.1f}")
    sys.path.insert(0, os.path.join(ROOT, "tests"))
    import test_hostile_drawings as hostile

    with tempfile.TemporaryDirectory() as tmp:
        print("reading N separate squares (one child process each)")
        for n in args.sizes:
            path = os.path.join(tmp, f"squares-{n}.dxf")
            squares(path, n)
            seconds, cpu, mb, what = read_in_child(path)
            print(f"  {n:>7} squares  {os.path.getsize(path) / 2**20:6.1f} MB file  {seconds:7.2f} s  "
                  f"(CPU of the whole child {cpu:6.2f} s)  peak {mb:7.0f} MB  {what}")
        print("hostile drawings")
        for make, name, kw, _ in hostile.HOSTILE:
            if kw:
                continue
            path = os.path.join(tmp, name)
            make(path)
            seconds, _, mb, what = read_in_child(path)
            print(f"  {name:<12} {seconds:6.2f} s  peak {mb:6.0f} MB  {what}")
        job = {"bin": {"width": 300, "height": 300}, "time_limit": args.limit, "compress": False,
               "items": [{"type": "polygon", "outer": [[0, 0], [40, 0], [40, 25], [0, 25]], "quantity": 20}]
               + [{"id": f"big{k}", "type": "circle", "radius": 400 + k} for k in range(4)]}
        path = os.path.join(tmp, "job.json")
        with open(path, "w") as f:
            json.dump(job, f)
        start = time.perf_counter()
        r = subprocess.run([sys.executable, "-m", "Quarvo", path], capture_output=True, text=True,
                           env=dict(os.environ, PYTHONPATH=os.path.join(ROOT, "python")))
        wall = time.perf_counter() - start
        print(f"time-limited job, 4 kinds unplaced: time_limit {args.limit:g} s, whole run {wall:.2f} s "
              f"(exit {r.returncode}, {r.stdout.count('does not fit')} reasons)")


if __name__ == "__main__":
    main()
