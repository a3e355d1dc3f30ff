"""Strips and the improvement search: used length, the weight rule, determinism,
Ctrl-C keeping the best layout, and every returned layout judged by the checker."""
import json
import math
import random
import subprocess
import sys

import pytest

from Quarvo import Bin, Circle, FirstFit, Polygon
from Quarvo.check import CIRCLE_REL_TOL, check_layout
from Quarvo.first_fit_algorithm import used_length
from Quarvo.geometry_handle import circle_to_polygon


def job(seed, n=18):
    """Rectangles, trapezoids, circles and a ring, in two or three weight classes."""
    rng = random.Random(seed)
    items = []
    for i in range(n):
        w, h = rng.uniform(4, 24), rng.uniform(4, 24)
        kind = rng.random()
        if kind < 0.4:
            it = Polygon([(0, 0), (w, 0), (w, h), (0, h)], shape_id=i)
        elif kind < 0.8:
            it = Polygon([(0, 0), (w, 0), (0.6 * w, h), (0, 0.7 * h)], shape_id=i)
        else:
            it = Circle(w / 3, shape_id=i)
        it.weight = rng.choice([1.0, 2.0, 5.0])
        items.append(it)
    ring = Polygon([(0, 0), (30, 0), (30, 30), (0, 30)], [[(6, 6), (24, 6), (24, 24), (6, 24)]], shape_id="ring")
    ring.weight = 2.0
    return items + [ring]


def world_top(it):
    """Largest y of the world outline, computed here from the host lists."""
    if isinstance(it, Circle):
        (cx, cy), r = it.transformed()
        return max(p[1] for p in circle_to_polygon((cx, cy), r, 64))
    return max(p[1] for p in it.transformed())


def poses(bins, unplaced):
    return ([[(it.shape_id, it.tx, it.ty, it.rotation) for it in b] for b in bins],
            [it.shape_id for it in unplaced])


def cost(bins, unplaced):
    return (len(unplaced), len(bins), used_length(bins[-1]) if bins else 0.0)


@pytest.mark.parametrize("strategy", ["nfp", "bl"])
def test_strip_is_one_bin_and_reports_its_used_length(strategy):
    items = [Polygon([(0, 0), (10, 0), (10, 10), (0, 10)], shape_id=i) for i in range(7)]
    wide = Polygon([(0, 0), (31, 0), (31, 2), (0, 2)], shape_id="wide")
    ff = FirstFit(items + [wide, Circle(4.0, shape_id="c")], Bin(30, None), 1.0, strategy=strategy, rotations=[0.0])
    bins, unplaced = ff.do_pack()
    assert [it.shape_id for it in unplaced] == ["wide"] and len(bins) == 1 and len(bins[0]) == 8
    assert ff.used_length == max(world_top(it) for it in bins[0]) == used_length(bins[0])
    assert ff.used_length >= 3 * 10 + 2  # 8 items, at most 2 a row at 11 apart
    assert check_layout(bins, 30, ff.used_length, 1.0, circle_rel_tol=CIRCLE_REL_TOL).ok
    assert check_layout(bins, Bin(30, None), distance=1.0, circle_rel_tol=CIRCLE_REL_TOL).ok
    bins[0][0].translate(-1.0, 0.0)  # the strip's wall still binds
    assert not check_layout(bins, Bin(30, None), distance=1.0, circle_rel_tol=CIRCLE_REL_TOL).ok


@pytest.mark.parametrize("kwargs, error, text", [
    (dict(bin=Bin(30, None), placement="center"), ValueError, "strip"),
    (dict(time_limit=-1.0), ValueError, "time_limit"),
    (dict(time_limit=float("nan")), ValueError, "time_limit"),
    (dict(iterations=-3), ValueError, "iterations"),
    (dict(iterations=2.5), TypeError, "iterations"),
    (dict(seed="x"), TypeError, "seed"),
])
def test_bad_search_and_strip_arguments(kwargs, error, text):
    items = job(1, 4)
    before = poses([items], [])
    kw = dict(bin=Bin(100, 100))
    kw.update(kwargs)
    with pytest.raises(error, match=text):
        FirstFit(items, **kw).do_pack()
    assert poses([items], []) == before and all(it.infl == 0.0 for it in items)


@pytest.mark.parametrize("strategy, height, incremental, placement", [
    ("nfp", None, False, "corner"), ("nfp", 60.0, True, "corner"), ("nfp", 60.0, True, "center"),
    ("bl", None, False, "corner"), ("bl", 60.0, False, "corner")])
def test_search_is_sound_no_worse_and_keeps_the_weight_rule(strategy, height, incremental, placement):
    for seed in range(3):
        kw = dict(strategy=strategy, incremental=incremental, placement=placement,
                  rotations=[0.0, math.pi / 2, math.pi])
        greedy = FirstFit(job(seed), Bin(70, height), 1.0, **kw).do_pack()
        items = job(seed)
        ff = FirstFit(items, Bin(70, height), 1.0, iterations=30, seed=seed, **kw)
        bins, unplaced = ff.do_pack()
        assert all(it.infl == 0.0 for it in items)
        assert sorted(id(it) for b in bins for it in b) + [] == sorted(
            id(it) for it in items if it not in unplaced)
        assert cost(bins, unplaced) <= cost(*greedy)
        rep = check_layout((bins, unplaced), 70, height if height else ff.used_length, 1.0,
                           circle_rel_tol=CIRCLE_REL_TOL)
        assert rep.ok, rep.summary()
        # Each bin lists its items in the order offered: never a heavier after a lighter.
        for b in bins:
            assert all(a.weight >= c.weight for a, c in zip(b, b[1:]))


def test_same_result_on_every_run_and_thread_count():
    runs = []
    for threads in (1, 2, 3, 2):
        ff = FirstFit(job(7, 24), Bin(80, None), 1.0, threads=threads, iterations=24, seed=11, incremental=True)
        runs.append(poses(*ff.do_pack()))
    assert all(r == runs[0] for r in runs)


CHILD = r'''
import json, math, random, signal, sys, threading, time, _thread
# A child started from a shell that ignores SIGINT (a background job, CI)
# inherits that: interrupt_main would do nothing.
signal.signal(signal.SIGINT, signal.default_int_handler)
sys.path.insert(0, sys.argv[1])
from test_search import job
from Quarvo import Bin, FirstFit
from Quarvo.check import CIRCLE_REL_TOL, check_layout
items = [it for s in range(6) for it in job(s)]
ff = FirstFit(items, Bin(120, None), 1.0, time_limit=120.0, threads=2)
def send():
    while not ff._search_progress[0]:
        time.sleep(0.01)
    time.sleep(0.5)
    _thread.interrupt_main()
threading.Thread(target=send, daemon=True).start()
t0 = time.monotonic()
bins, unplaced = ff.do_pack()
rep = check_layout((bins, unplaced), 120, ff.used_length, 1.0, circle_rel_tol=CIRCLE_REL_TOL)
print(json.dumps(dict(seconds=time.monotonic() - t0, ok=rep.ok, placed=sum(map(len, bins)), n=len(items),
                      deflated=all(it.infl == 0.0 for it in items), best=ff._search_progress[3],
                      length=ff.used_length)))
'''


def test_ctrl_c_during_the_search_returns_the_best_layout():
    import os
    proc = subprocess.run([sys.executable, "-c", CHILD, os.path.dirname(os.path.abspath(__file__))],
                          capture_output=True, text=True, timeout=200)
    assert proc.returncode == 0, proc.stderr
    r = json.loads(proc.stdout.strip().splitlines()[-1])
    assert r["seconds"] < 60 and r["ok"] and r["deflated"] and r["placed"] == r["n"]
    assert r["length"] == pytest.approx(r["best"])


def test_plot_draws_a_strip_to_its_used_length():
    pytest.importorskip("matplotlib")
    from Quarvo.visualize import plot_layout
    items = job(2, 6)
    ff = FirstFit(items, Bin(50, None), 1.0)
    bins, _ = ff.do_pack()
    fig = plot_layout(bins, 50, None)
    frame = fig.axes[0].patches[0]
    assert (frame.get_width(), frame.get_height()) == (50, ff.used_length)
