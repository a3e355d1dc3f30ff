"""Batch packing: a local process pool and a real Dask cluster on loopback."""
import json
import math
import os
import random
import signal
import subprocess
import sys
import time

import pytest

from Quarvo.batch import pack_jobs, unique_names
from Quarvo.cli import main
from Quarvo.job import parse_job
from Quarvo.job.packing import check, pack
from Quarvo.report import result_document

distributed = pytest.importorskip("distributed")


def small(k):
    rnd = random.Random(k)
    ring = [[r * math.cos(2 * math.pi * i / 32), r * math.sin(2 * math.pi * i / 32)] for r in (40,) for i in range(32)]
    hole = [[x * 0.8, y * 0.8] for x, y in ring]
    return {"name": f"job {k}", "bin": {"width": 200, "height": 150}, "distance": rnd.choice([0, 1, 2]),
            "strategy": "bl" if k % 4 == 3 else "nfp",
            "items": [{"type": "circle", "radius": rnd.uniform(4, 30), "weight": rnd.randint(0, 3),
                       "quantity": rnd.randint(1, 3)} for _ in range(5)]
            + [{"type": "polygon", "outer": ring, "holes": [hole], "weight": 9}]}


def long_job(n=150):
    rnd = random.Random(1)
    return {"name": "long", "bin": {"width": 1000, "height": 1000}, "distance": 2,
            "items": [{"type": "circle", "radius": rnd.uniform(10, 40)} for _ in range(n)]}


def alone(job):
    """The result of the job packed on its own, as the command line would."""
    result = pack(parse_job(job, "job"))
    result.check = check(result)
    return {"status": "ok", **result_document(result)}


def same(a, b):
    drop = ("seconds",)
    return {k: v for k, v in a.items() if k not in drop} == {k: v for k, v in b.items() if k not in drop}


@pytest.fixture(scope="module")
def cluster():
    with distributed.LocalCluster(n_workers=2, processes=True, host="127.0.0.1", threads_per_worker=1,
                                  dashboard_address=None) as c:
        yield c


@pytest.mark.parametrize("where", ["local", "dask"])
def test_results_are_those_of_each_job_alone(request, where):
    jobs = [small(k) for k in range(20)]
    jobs[7] = dict(jobs[7], bin={"width": -1, "height": 5})  # a bad job among good ones
    kw = {"scheduler": request.getfixturevalue("cluster").scheduler_address} if where == "dask" else {"workers": 2}
    seen = []
    results = pack_jobs(jobs, progress=lambda done, total, k, res: seen.append((done, total, k)), **kw)
    assert results[7]["status"] == "failed" and "bin.width" in results[7]["error"]
    for k, (job, res) in enumerate(zip(jobs, results)):
        if k != 7:
            assert same(res, alone(job)), k
    assert sorted(k for _, _, k in seen) == list(range(20)) and [d for d, _, _ in seen] == list(range(1, 21))


def test_a_worker_killed_mid_job_still_yields_every_result(cluster):
    jobs = [long_job()] + [small(k) for k in range(6)]
    with distributed.Client(cluster, set_as_default=False) as spy:
        pids = spy.run(os.getpid)
        killed = []

        def progress(done, total, k, res):  # a small job is done: the long one is running
            for addr, keys in spy.processing().items():
                if not killed and any(str(key).startswith("quarvo-job-0-") for key in keys):
                    os.kill(pids[addr], signal.SIGKILL)
                    killed.append(addr)

        results = pack_jobs(jobs, scheduler=cluster.scheduler_address, progress=progress)
    assert killed
    assert results[0]["status"] == "ok" and len(results[0]["placements"]) == 150
    assert all(same(res, alone(job)) for job, res in zip(jobs[1:], results[1:]))


@pytest.mark.parametrize("where", ["local", "dask"])
def test_batch_command_writes_a_file_per_job(request, tmp_path, capsys, where):
    (tmp_path / "sub").mkdir()
    paths = []
    for name, job in [("a", small(1)), ("b", small(2)), ("sub/a", small(3)), ("bad", {"bin": 5})]:
        paths.append(str(tmp_path / f"{name}.json"))
        (tmp_path / f"{name}.json").write_text(json.dumps(job))
    out = tmp_path / "out"
    where_args = ["--scheduler", request.getfixturevalue("cluster").scheduler_address] if where == "dask" \
        else ["--workers", "2"]
    assert main(["batch", *paths, str(tmp_path / "nope.json"), "--output-dir", str(out), *where_args]) == 4
    text, _ = capsys.readouterr()
    assert sorted(p.name for p in out.iterdir()) == ["a-2.json", "a.json", "b.json", "bad.error.json",
                                                     "nope.error.json"]
    for name, job in [("a", small(1)), ("b", small(2)), ("a-2", small(3))]:
        assert same(json.loads((out / f"{name}.json").read_text()), alone(job))
    assert "bin: must be an object" in json.loads((out / "bad.error.json").read_text())["error"]
    assert "3 of 5 jobs packed, 2 failed" in text and "cannot read the job file" in text


@pytest.mark.parametrize("args, words", [
    (["--scheduler", "tcp://127.0.0.1:9"], "cannot reach the scheduler"),
    (["--workers", "0"], "--workers"),
])
def test_bad_batch_arguments_write_nothing(tmp_path, capsys, args, words):
    (tmp_path / "a.json").write_text(json.dumps(small(1)))
    start = time.monotonic()
    assert main(["batch", str(tmp_path / "a.json"), "--output-dir", str(tmp_path / "out"), *args]) == 2
    _, err = capsys.readouterr()
    assert time.monotonic() - start < 30
    assert words in err and err.count("\n") == 1 and not (tmp_path / "out").exists()


# `python -m Quarvo` whose Ctrl-C raises KeyboardInterrupt even when this
# process was started with SIGINT ignored (a background job, CI): a child
# inherits that disposition.
QUARVO_WITH_CTRL_C = ("import runpy, signal\n"
                      "signal.signal(signal.SIGINT, signal.default_int_handler)\n"
                      "runpy.run_module('Quarvo', run_name='__main__', alter_sys=True)\n")


def test_ctrl_c_keeps_the_finished_files(tmp_path):
    paths = []
    for name, job in [("s1", small(1)), ("s2", small(2)), ("long", long_job(400))]:
        paths.append(str(tmp_path / f"{name}.json"))
        (tmp_path / f"{name}.json").write_text(json.dumps(job))
    out = tmp_path / "out"
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    proc = subprocess.Popen([sys.executable, "-c", QUARVO_WITH_CTRL_C, "batch", *paths, "--output-dir", str(out),
                             "--workers", "1"], env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    deadline = time.monotonic() + 120
    while not ((out / "s1.json").exists() and (out / "s2.json").exists()) and time.monotonic() < deadline:
        time.sleep(0.05)
    proc.send_signal(signal.SIGINT)
    _, err = proc.communicate(timeout=60)
    assert proc.returncode == 130 and "2 of 3 jobs finished" in err
    assert sorted(p.name for p in out.iterdir()) == ["s1.json", "s2.json"]
    assert same(json.loads((out / "s1.json").read_text()), alone(small(1)))


def test_unique_names():
    assert unique_names(["x/a.json", "y/a.json", "A.json", {"name": "a b"}, {"name": 5}, {}]) == \
        ["a", "a-2", "A-3", "a_b", "job-5", "job-6"]


@pytest.mark.matplotlib
def test_batch_plot_draws_each_layout(tmp_path, capsys):
    (tmp_path / "a.json").write_text(json.dumps(small(1)))
    assert main(["batch", str(tmp_path / "a.json"), "--output-dir", str(tmp_path / "out"), "--plot", "-q"]) == 0
    assert capsys.readouterr() == ("", "")
    assert (tmp_path / "out" / "a.png").read_bytes()[:4] == b"\x89PNG" and (tmp_path / "out" / "a.json").exists()


def endless(k=0):
    """A job whose search would run for hours: only its timeout ends it."""
    return {"name": f"endless {k}", "bin": {"width": 300, "height": 300}, "iterations": 10**9, "compress": False,
            "items": [{"type": "polygon", "outer": [[0, 0], [30, 0], [30, 20], [0, 20]], "quantity": 12}]}


@pytest.mark.parametrize("where", ["local", "dask"])
def test_a_job_past_its_timeout_fails_and_frees_its_worker(request, where):
    kw = {"scheduler": request.getfixturevalue("cluster").scheduler_address} if where == "dask" else {"workers": 1}
    results = pack_jobs([endless(), small(1), endless(2), small(2)], job_timeout=2, **kw)
    assert [r["status"] for r in results] == ["failed", "ok", "failed", "ok"]
    assert all("job timeout of 2 s" in r["error"] for r in results[::2])
    assert all(r["seconds"] < 30 for r in results[::2])  # the jobs were stopped, not left to run on


def test_batch_command_takes_a_job_timeout(tmp_path, capsys):
    (tmp_path / "e.json").write_text(json.dumps(endless()))
    out = tmp_path / "out"
    assert main(["batch", str(tmp_path / "e.json"), "-d", str(out), "--job-timeout", "1", "-q", "--workers", "1"]) == 4
    assert "job timeout of 1 s" in json.loads((out / "e.error.json").read_text())["error"]
    assert main(["batch", str(tmp_path / "e.json"), "-d", str(out), "--job-timeout", "0"]) == 2


def test_a_hostile_drawing_on_the_cluster_is_its_job_s_failure_not_a_worker_s_death(tmp_path, cluster):
    pytest.importorskip("ezdxf")
    from test_hostile_drawings import minsert, use_fan_out

    minsert(str(tmp_path / "m.dxf"))
    use_fan_out(str(tmp_path / "f.svg"))
    jobs = []
    for name in ("m.dxf", "f.svg"):
        path = tmp_path / f"{name}.json"
        path.write_text(json.dumps({"bin": {"width": 100, "height": 100}, "items": [{"file": name}]}))
        jobs.append(str(path))
    results = pack_jobs(jobs + [small(3)], scheduler=cluster.scheduler_address)
    assert [r["status"] for r in results] == ["failed", "failed", "ok"]
    assert all("reading budget" in r["error"] for r in results[:2])
    assert len(cluster.scheduler_info["workers"]) == 2  # none died
