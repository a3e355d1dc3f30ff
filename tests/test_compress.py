"""The compression phase (compress=True): on random instances every layout it
returns is sound by the independent geometry of geometry_check, loses no item
and is never worse than the greedy layout; the same result on every run and
thread count with iterations and a seed; Ctrl-C during the phase returns a
sound layout; without a limit, or without the keyword, nothing changes."""
import json
import math
import os
import random
import subprocess
import sys

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from geometry_check import Outline, clear_gap, edge_gap, pipe_layout_faults, spaced_violations
from Quarvo import Bin, Circle, FirstFit, Polygon, pipes
from Quarvo.geometry import Pipe
from Quarvo.check import CIRCLE_REL_TOL, check_layout

TESTS = os.path.dirname(os.path.abspath(__file__))


def random_items(seed, n, nonconvex=True):
    """Convex (and with `nonconvex`, non-convex) polygons of random sizes,
    circles, and a square ring whose hole takes small items."""
    rng = random.Random(seed)
    items = []
    for i in range(n):
        w, h = rng.uniform(3, 16), rng.uniform(3, 16)
        kind = rng.random()
        if not nonconvex and 0.5 <= kind < 0.9:
            kind -= 0.5
        if kind < 0.3:
            it = Polygon([(0, 0), (w, 0), (w, h), (0, h)], shape_id=i)
        elif kind < 0.5:
            it = Polygon([(0, 0), (w, 0), (0.5 * w, h)], shape_id=i)
        elif kind < 0.75:  # an L
            it = Polygon([(0, 0), (w, 0), (w, 0.4 * h), (0.4 * w, 0.4 * h), (0.4 * w, h), (0, h)], shape_id=i)
        elif kind < 0.9:  # a U, whose cavity takes small items
            it = Polygon([(0, 0), (w, 0), (w, h), (0.7 * w, h), (0.7 * w, 0.3 * h), (0.3 * w, 0.3 * h),
                          (0.3 * w, h), (0, h)], shape_id=i)
        else:
            it = Circle(w / 3, shape_id=i)
        items.append(it)
    if rng.random() < 0.5:
        items.append(Polygon([(0, 0), (24, 0), (24, 24), (0, 24)], [[(5, 5), (19, 5), (19, 19), (5, 19)]],
                             shape_id="ring"))
    return items


def placed_ids(bins):
    return sorted(str(it.shape_id) for b in bins for it in b)


def poses(bins, unplaced):
    return ([[(it.shape_id, it.tx, it.ty, it.rotation) for it in b] for b in bins],
            [it.shape_id for it in unplaced])


def last_length(ff, bins):
    from Quarvo.first_fit_algorithm import used_length
    return used_length(bins[-1]) if bins else 0.0


def assert_sound(bins, width, height, distance):
    """Independent geometry (convex outlines and rooms only): every item in
    its bin, no overlap, the distance kept."""
    for b in bins:
        faults = spaced_violations(b, width, height, lambda it: distance / 2.0)
        assert not faults, faults


@settings(max_examples=12, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(seed=st.integers(0, 10_000), n=st.integers(4, 22), distance=st.sampled_from([0.0, 0.5, 1.5]),
       nonconvex=st.booleans(), exact=st.booleans())
def test_strip_is_sound_keeps_every_item_and_is_never_longer(seed, n, distance, nonconvex, exact):
    kw = dict(rotations=[0.0, math.pi / 2, math.pi, 3 * math.pi / 2], nonconvex=nonconvex,
              exact_clearance=exact, incremental=True)
    greedy_ff = FirstFit(random_items(seed, n, nonconvex), Bin(40, None), distance, **kw)
    greedy = greedy_ff.do_pack()
    items = random_items(seed, n, nonconvex)
    ff = FirstFit(items, Bin(40, None), distance, iterations=300, seed=seed, compress=True, **kw)
    bins, unplaced = ff.do_pack()
    assert all(it.infl == 0.0 for it in items)
    assert placed_ids(bins) == placed_ids(greedy[0])
    assert sorted(str(it.shape_id) for it in unplaced) == sorted(str(it.shape_id) for it in greedy[1])
    assert len(bins) <= 1
    assert ff.used_length <= greedy_ff.used_length + 1e-9
    if not nonconvex:
        assert_sound(bins, 40, None, distance)
    # non-convex outlines: the package's checker, which uses no NFPs either
    rep = check_layout((bins, unplaced), Bin(40, None), distance=distance,
                       circle_rel_tol=0.0 if exact else CIRCLE_REL_TOL)
    assert rep.ok, rep.summary()


def cut_square(seed, cols, rows, size=30.0):
    """A square cut along jittered lines into convex pieces that fit together
    one way only: layouts of many exact contacts."""
    rng = random.Random(seed)
    cw, ch = size / cols, size / rows
    corner = {(i, j): (i * cw + (rng.uniform(-0.2, 0.2) * cw if 0 < i < cols else 0.0),
                       j * ch + (rng.uniform(-0.2, 0.2) * ch if 0 < j < rows else 0.0))
              for i in range(cols + 1) for j in range(rows + 1)}
    return [Polygon([corner[(i, j)], corner[(i + 1, j)], corner[(i + 1, j + 1)], corner[(i, j + 1)]],
                    shape_id=f"{i}.{j}") for i in range(cols) for j in range(rows)]


@settings(max_examples=10, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(seed=st.integers(0, 10_000), cols=st.integers(2, 4), rows=st.integers(1, 4),
       distance=st.sampled_from([0.0, 0.0, 0.3]))
def test_pieces_of_a_cut_square_close_up_soundly(seed, cols, rows, distance):
    greedy_ff = FirstFit(cut_square(seed, cols, rows), Bin(30, None), distance, incremental=True)
    greedy_ff.do_pack()
    items = cut_square(seed, cols, rows)
    ff = FirstFit(items, Bin(30, None), distance, incremental=True, iterations=400, seed=seed, compress=True)
    bins, unplaced = ff.do_pack()
    assert not unplaced and sorted(str(it.shape_id) for it in bins[0]) == sorted(str(it.shape_id) for it in items)
    assert ff.used_length <= greedy_ff.used_length + 1e-9
    # the pieces cover the square: no layout is shorter than it
    assert ff.used_length >= 30.0 - 1e-6
    assert_sound(bins, 30, None, distance)


@pytest.mark.parametrize("strategy, nonconvex", [("nfp", True), ("nfp", False), ("bl", False), ("bl", True)])
def test_bins_never_more_and_the_last_never_higher(strategy, nonconvex):
    for seed in range(3):
        kw = dict(strategy=strategy, nonconvex=nonconvex and strategy == "nfp", rotations=[0.0, math.pi / 2])
        greedy_ff = FirstFit(random_items(seed, 26, nonconvex), Bin(45, 45), 1.0, **kw)
        greedy = greedy_ff.do_pack()
        items = random_items(seed, 26, nonconvex)
        ff = FirstFit(items, Bin(45, 45), 1.0, iterations=400, seed=seed, compress=True, **kw)
        bins, unplaced = ff.do_pack()
        assert placed_ids(bins) == placed_ids(greedy[0])
        assert (len(bins), last_length(ff, bins)) <= (len(greedy[0]), last_length(greedy_ff, greedy[0]) + 1e-9)
        if nonconvex:
            rep = check_layout((bins, unplaced), Bin(45, 45), distance=1.0, circle_rel_tol=CIRCLE_REL_TOL)
            assert rep.ok, rep.summary()
        else:
            assert_sound(bins, 45, 45, 1.0)


PIPE_SIZES = [e for e in pipes.catalogue() if 40 <= e.od <= 620][::7]


def random_pipes(seed, n):
    rng = random.Random(seed)
    return [Pipe(e.od, e.wall, shape_id=f"{e.size}-{i}") for i, e in enumerate(rng.choice(PIPE_SIZES) for _ in range(n))]


@pytest.mark.parametrize("seed, exact, fill, height, max_load", [
    (1, True, "dense", None, None), (2, False, "sampled", None, None), (3, True, "dense", 900.0, 2500.0),
    (4, False, "dense", 1200.0, 900.0)])
def test_pipes_stay_sound_and_bins_keep_their_load(seed, exact, fill, height, max_load):
    """Pipes with smaller ones in their bores, judged on their true circles;
    with a load limit every item stays in the bin the greedy pass gave it."""
    kw = dict(exact_clearance=exact, hole_fill=fill, incremental=True)
    bin_ = Bin(900.0, height, max_load=max_load)
    greedy_ff = FirstFit(random_pipes(seed, 30), bin_, 2.0, **kw)
    greedy, _ = greedy_ff.do_pack()
    ff = FirstFit(random_pipes(seed, 30), bin_, 2.0, iterations=300, seed=seed, compress=True, **kw)
    bins, unplaced = ff.do_pack()
    assert [sorted(str(s.shape_id) for s in b) for b in bins] == [sorted(str(s.shape_id) for s in b) for b in greedy] \
        or max_load is None
    assert placed_ids(bins) == placed_ids(greedy)
    assert (len(bins), last_length(ff, bins)) <= (len(greedy), last_length(greedy_ff, greedy) + 1e-9)
    if max_load is not None:
        assert all(sum(s.mass for s in b) <= max_load for b in bins)
    assert not pipe_layout_faults(bins, 900.0, height, 2.0, tol=1e-6)
    rep = check_layout((bins, unplaced), bin_, distance=2.0, circle_rel_tol=0.0 if exact else CIRCLE_REL_TOL)
    assert rep.ok, rep.summary()


@pytest.mark.parametrize("height", [None, 45.0], ids=["strip", "bins"])
def test_the_edge_margin_and_mirrored_parts_hold(height):
    for seed in range(3):
        items = random_items(seed, 22)
        b = Bin(45, height, margin=4.0)
        ff = FirstFit(items, b, 1.0, iterations=300, seed=seed, compress=True, nonconvex=True, mirror=True,
                      rotations=[0.0, math.pi / 2])
        bins, unplaced = ff.do_pack()
        assert check_layout((bins, unplaced), b, distance=1.0, circle_rel_tol=CIRCLE_REL_TOL).ok
        for placed in bins:
            outlines = [Outline(it) for it in placed]
            # the margin at the sides and the floor (and a bin's top), by independent geometry
            assert min(edge_gap(o, 45, height) for o in outlines) >= 4.0 - 1e-6
            for i, a in enumerate(outlines):
                for o in outlines[i + 1:]:
                    short = 1e-6 + CIRCLE_REL_TOL * sum(x.r + 0.5 for x in (a, o) if x.is_circle)
                    assert clear_gap(a, o) >= 1.0 - short, (a.item.shape_id, o.item.shape_id)


@pytest.mark.parametrize("seed", [2, 6])
def test_the_last_bin_is_emptied_into_the_others(seed):
    """Fourteen rectangles that greedy spreads over three 12 x 12 bins fit in two."""
    def rects():
        rng = random.Random(seed)
        return [Polygon([(0, 0), (w, 0), (w, h), (0, h)], shape_id=i)
                for i, (w, h) in enumerate((rng.uniform(2, 6), rng.uniform(2, 6)) for _ in range(14))]

    kw = dict(rotations=[0.0, math.pi / 2])
    greedy, _ = FirstFit(rects(), Bin(12, 12), **kw).do_pack()
    bins, unplaced = FirstFit(rects(), Bin(12, 12), iterations=1000, seed=1, compress=True, **kw).do_pack()
    assert len(greedy) == 3 and len(bins) == 2 and not unplaced and sum(map(len, bins)) == 14
    assert_sound(bins, 12, 12, 0.0)


def test_a_strip_gets_shorter_and_items_go_into_holes():
    """Squares that fit a ring's hole: the phase is free to put them there."""
    ring = Polygon([(0, 0), (30, 0), (30, 30), (0, 30)], [[(4, 4), (26, 4), (26, 26), (4, 26)]], shape_id="ring")
    items = [ring] + [Polygon([(0, 0), (9, 0), (9, 9), (0, 9)], shape_id=i) for i in range(8)]
    greedy_ff = FirstFit(list(items), Bin(32, None), 0.5)
    greedy_ff.do_pack()
    for it in items:
        it.set_position(0.0, 0.0)
    ff = FirstFit(items, Bin(32, None), 0.5, iterations=2000, seed=3, compress=True)
    bins, unplaced = ff.do_pack()
    assert not unplaced and ff.used_length < greedy_ff.used_length - 1.0
    assert_sound(bins, 32, None, 0.5)


def test_same_result_on_every_run_and_thread_count():
    runs = []
    for threads in (1, 2, 3, 1):
        ff = FirstFit(random_items(5, 20), Bin(40, None), 1.0, threads=threads, iterations=400, seed=9,
                      compress=True, nonconvex=True, incremental=True)
        runs.append(poses(*ff.do_pack()))
    assert all(r == runs[0] for r in runs)
    ff = FirstFit(random_items(5, 20), Bin(40, None), 1.0, iterations=400, seed=10, compress=True, nonconvex=True)
    assert poses(*ff.do_pack()) != runs[0]  # the seed matters


def test_without_a_limit_or_the_keyword_the_layout_is_the_greedy_one():
    plain = poses(*FirstFit(random_items(2, 15), Bin(40, None), 1.0, nonconvex=True).do_pack())
    assert poses(*FirstFit(random_items(2, 15), Bin(40, None), 1.0, nonconvex=True, compress=True).do_pack()) == plain
    searched = poses(*FirstFit(random_items(2, 15), Bin(40, None), 1.0, nonconvex=True, iterations=20).do_pack())
    off = FirstFit(random_items(2, 15), Bin(40, None), 1.0, nonconvex=True, iterations=20, compress=False)
    assert poses(*off.do_pack()) == searched


@settings(max_examples=10, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(seed=st.integers(0, 10_000), n=st.integers(3, 14), distance=st.sampled_from([0.0, 1.0]),
       height=st.sampled_from([None, 30.0]), margin=st.sampled_from([0.0, 2.0]), compress=st.booleans())
def test_no_layout_beats_the_lower_bound(seed, n, distance, height, margin, compress):
    """The bound holds for every layout the search and the phase return, and
    is at least the items' area less holes over the bin's width."""
    items = random_items(seed, n)
    kw = dict(rotations=[0.0, math.pi / 2], nonconvex=True, iterations=150, seed=seed, compress=compress)
    ff = FirstFit(items, Bin(40, height, margin=margin), distance, **kw)
    bins, unplaced = ff.do_pack()
    if unplaced:
        assert ff.lower_bound is None
        return
    least_bins, least_last = ff.lower_bound
    assert len(bins) >= least_bins
    if len(bins) == least_bins:
        assert ff.used_length >= least_last - 2e-6  # (the placers' grid)
    material = sum(it.area() for it in items if it.shape_id != "ring") + sum(24 * 24 - 14 * 14 for it in items
                                                                           if it.shape_id == "ring")
    if height is None:
        assert least_last >= material / 40 * (1 - 1e-9)
    else:
        assert least_bins >= math.ceil(material / (40 * height) - 1e-9)
    assert not ff.stopped_early  # only a time limit stops at the bound


@pytest.mark.parametrize("compress, bin_, count, bound", [
    (False, Bin(40, None), 4, (1, 10.0)),  # four squares in a row: the greedy layout is as short as can be
    (True, Bin(40, None), 4, (1, 10.0)),
    (True, Bin(20, 20), 8, (2, 20.0)),     # greedy takes three bins; two hold them, each full
])
def test_a_layout_at_the_lower_bound_ends_the_time_limit_early(compress, bin_, count, bound):
    items = [Polygon([(0, 0), (10, 0), (10, 10), (0, 10)], shape_id=i) for i in range(count)]
    ff = FirstFit(items, bin_, time_limit=60.0, threads=2, compress=compress)
    bins, unplaced = ff.do_pack()
    assert ff.stopped_early and ff.lower_bound == pytest.approx(bound)
    assert (len(bins), ff.used_length) == pytest.approx(bound) and not unplaced
    assert 0.0 <= ff.cpu_seconds < 30.0


def test_without_a_search_or_phase_there_is_no_bound():
    ff = FirstFit(random_items(1, 8), Bin(40, None), compress=True)
    ff.do_pack()
    assert ff.lower_bound is None and not ff.stopped_early and ff.cpu_seconds == 0.0


@pytest.mark.parametrize("value, error", [(1, TypeError), ("yes", TypeError), (None, TypeError)])
def test_compress_must_be_true_or_false(value, error):
    with pytest.raises(error, match="compress"):
        FirstFit([], Bin(10, None), compress=value)
    ff = FirstFit([], Bin(10, None))
    with pytest.raises(error, match="compress"):
        ff.compress = value
    ff.compress = True
    assert ff.compress is True


CHILD = r'''
import json, signal, sys, threading, time, _thread
# A child started from a shell that ignores SIGINT would never see interrupt_main.
signal.signal(signal.SIGINT, signal.default_int_handler)
sys.path.insert(0, sys.argv[1])
from test_compress import random_items
from Quarvo import Bin, FirstFit
from Quarvo.check import CIRCLE_REL_TOL, check_layout
items = [it for s in range(3) for it in random_items(s, 20)]
for k, it in enumerate(items):
    it.shape_id = k
ff = FirstFit(items, Bin(60, None), 1.0, time_limit=30.0, threads=2, compress=True, nonconvex=True)
def send():
    while not ff._search_progress[4]:
        time.sleep(0.01)
    time.sleep(0.7)
    _thread.interrupt_main()
threading.Thread(target=send, daemon=True).start()
t0 = time.monotonic()
bins, unplaced = ff.do_pack()
rep = check_layout((bins, unplaced), Bin(60, None), distance=1.0, circle_rel_tol=CIRCLE_REL_TOL)
print(json.dumps(dict(seconds=time.monotonic() - t0, ok=rep.ok, placed=sum(map(len, bins)), n=len(items),
                      deflated=all(it.infl == 0.0 for it in items), best=ff._search_progress[3],
                      length=ff.used_length, compressing=ff._search_progress[4])))
'''


def test_ctrl_c_during_the_phase_returns_a_sound_layout():
    proc = subprocess.run([sys.executable, "-c", CHILD, TESTS], capture_output=True, text=True, timeout=200)
    assert proc.returncode == 0, proc.stderr
    r = json.loads(proc.stdout.strip().splitlines()[-1])
    assert r["seconds"] < 60 and r["ok"] and r["deflated"] and r["placed"] == r["n"]
    assert r["length"] == pytest.approx(r["best"]) and not r["compressing"]


@pytest.mark.parametrize("bin_, weights, given, expected", [
    ({"width": 50}, [1.0, 1.0], None, True),      # a strip of equal weights: on
    ({"width": 50}, [1.0, 2.0], None, None),      # weights differ: off unless asked
    ({"width": 50}, [1.0, 2.0], True, True),
    ({"width": 50}, [1.0, 1.0], False, False),
    ({"width": 50, "height": 50}, [1.0, 1.0], None, True),  # sheets of parts: on, as strips
    ({"width": 50, "height": 50}, [1.0, 2.0], None, None),
    ({"width": 50, "height": 50}, [1.0, 1.0], False, False),
])
def test_the_command_line_compresses_strips_and_sheets_of_equal_weights(bin_, weights, given, expected):
    from Quarvo.job import parse_job
    # squares: a load of circles would be placed at rest, which compression cannot keep
    square = [[0, 0], [6, 0], [6, 6], [0, 6]]
    raw = {"bin": bin_, "items": [{"type": "polygon", "outer": square, "weight": w} for w in weights]}
    if given is not None:
        raw["compress"] = given
    assert parse_job(raw).options.get("compress") == expected


def test_sheets_of_pipes_keep_their_stable_default():
    from Quarvo.job import parse_job

    raw = {"bin": {"width": 500, "height": 500}, "items": [{"type": "pipe", "od": 60, "wall": 5, "quantity": 4}]}
    options = parse_job(raw).options
    assert options.get("stable") is True and not options.get("compress")


@pytest.mark.parametrize("bin_, words", [
    ({"width": 100}, "stopped early at the lower bound (a used length of 100"),
    ({"width": 100, "height": 100}, "stopped early at the lower bound (1 bin, the last used to 100"),
    ({"width": 100, "height": 60}, "stopped early at the lower bound (2 bins, the last used to 50"),
])
def test_the_summary_says_how_the_search_ended(tmp_path, capsys, bin_, words):
    from job_helpers import run

    # four squares of 50: a strip 100 long, or a full bin, is provably the best
    job = {"bin": bin_, "time_limit": 1, "threads": 2,
           "items": [{"type": "polygon", "outer": [[0, 0], [50, 0], [50, 50], [0, 50]], "quantity": 4}]}
    status, out, err = run(tmp_path, job, capsys=capsys)
    assert status == 0, err
    assert words in out and "CPU s on 2 threads" in out
