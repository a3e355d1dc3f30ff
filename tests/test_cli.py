"""The command line: arguments, packing runs, outputs, progress and exit status."""
import importlib.util
import io
import json
import math
import os
import signal
import subprocess
import sys
import time

os.environ.setdefault("MPLBACKEND", "Agg")

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings, strategies as st


from Quarvo.cli import running as cli
from Quarvo.job import packing
from Quarvo.report import outputs as output
from Quarvo.cli import main
from job_helpers import base_job, load_output, ngon, run, square

HAS_FIRST_FIT = importlib.util.find_spec("Quarvo.first_fit_algorithm") is not None


def _bottom_left_works():
    try:
        from Quarvo.first_fit_algorithm import FirstFit
        from Quarvo.geometry import Bin, Circle

        bins, _ = FirstFit([Circle(1.0)], Bin(10.0, 10.0), strategy="bl").do_pack()
        return len(bins) == 1
    except (ImportError, NotImplementedError):
        return False


HAS_BL = _bottom_left_works()
HAS_MPL = importlib.util.find_spec("matplotlib") is not None
needs_first_fit = pytest.mark.skipif(not HAS_FIRST_FIT, reason="the first-fit driver is not built yet")
needs_bl = pytest.mark.skipif(not HAS_BL, reason="the bottom-left placer is not built yet")
needs_mpl = pytest.mark.skipif(not HAS_MPL, reason="matplotlib is not installed")


@pytest.mark.parametrize("args, words", [
    (["--plot", "{tmp}/a.gif"], ["--plot", ".gif"]),
    (["--plot", "{tmp}/a"], ["--plot", "(none)"]),
    (["--output", "{tmp}/no/such/dir/o.json"], ["--output", "does not exist"]),
    (["--output", "{tmp}"], ["--output", "folder"]),
    (["--output", "{tmp}/x.svg", "--plot", "{tmp}/x.svg"], ["same file"]),
])
def test_bad_output_arguments(tmp_path, capsys, args, words):
    args = [a.format(tmp=tmp_path) for a in args]
    status, _, err = run(tmp_path, base_job(), *args, capsys=capsys)
    assert status == 2
    for w in words:
        assert w in err
    assert sorted(p.name for p in tmp_path.iterdir()) == ["job.json"]


@pytest.mark.parametrize("args, words", [
    (["--output", "{job}"], ["--output", "would replace the job file"]),
    (["--plot", "{tmp}/../{tmpname}/job.json"], ["--plot", "would replace the job file"]),
    (["--output", "{tmp}/a.svg", "--plot", "{tmp}/./a.svg"], ["same file"]),
    pytest.param(["--plot", "{tmp}/p.png", "--output", "/proc/x.json"], ["--output", "cannot write"],
                 marks=pytest.mark.matplotlib),
])
def test_outputs_never_destroy_the_job_or_half_write(tmp_path, capsys, args, words):
    job = json.dumps(base_job())
    args = [a.format(tmp=tmp_path, tmpname=tmp_path.name, job=tmp_path / "job.json") for a in args]
    status, out, err = run(tmp_path, job, *args, capsys=capsys)
    assert status == 2 and out == "" and err.count("\n") == 1
    for w in words:
        assert w in err
    assert sorted(p.name for p in tmp_path.iterdir()) == ["job.json"]
    assert (tmp_path / "job.json").read_text() == job


@pytest.mark.matplotlib
def test_a_failed_write_leaves_no_output(tmp_path, capsys, monkeypatch):
    def fail(*a):
        raise OSError("disk full")

    monkeypatch.setattr(output, "dump_document", fail)
    status, _, err = run(tmp_path, base_job(), "--plot", str(tmp_path / "p.png"), "--output",
                         str(tmp_path / "o.json"), capsys=capsys)
    assert status == 1 and "disk full" in err and "nothing written" in err
    assert sorted(p.name for p in tmp_path.iterdir()) == ["job.json"]


def test_plot_without_matplotlib_is_rejected(tmp_path, capsys, monkeypatch):
    real = importlib.util.find_spec
    monkeypatch.setattr(importlib.util, "find_spec", lambda name, *a: None if name == "matplotlib" else real(name, *a))
    status, _, err = run(tmp_path, base_job(), "--plot", str(tmp_path / "a.png"), capsys=capsys)
    assert status == 2 and "pip install matplotlib" in err


def test_unknown_option_and_help(capsys):
    assert main(["--frobnicate"]) == 2
    assert main(["--help"]) == 0
    out, _ = capsys.readouterr()
    assert "default degrees" in out and "--plot" in out and "--output" in out



# ------------------------------------------------------------- packing runs


@needs_first_fit
def test_job_packs_and_writes_placements(tmp_path, capsys):
    out = tmp_path / "o.json"
    status, text, err = run(tmp_path, base_job(), "--output", str(out), capsys=capsys)
    assert status == 0 and err == ""
    assert "placed 4 of 4 items in 1 bin(s), 0 unplaced" in text
    doc = load_output(out)
    assert doc["bin"] == {"width": 100.0, "height": 80.0} and doc["rotation_unit"] == "degrees"
    assert [b["items"] for b in doc["bins"]] == [4]
    net = (1600 - 400) + 3 * math.pi * 25
    assert doc["bins"][0]["fill_ratio"] == pytest.approx(net / 8000)
    places = doc["placements"]
    assert [p["item"] for p in places][0] == 1  # the heavy ring goes first
    assert sorted(p["item"] for p in places) == [1, 2, 3, 4]
    assert [p["copy"] for p in places if p["id"] == "disc"] == [1, 2, 3]
    for p in places:
        assert p["bin"] == 0
        xs, ys = zip(*p["contour"])
        assert min(xs) >= -1e-9 and min(ys) >= -1e-9 and max(xs) <= 100 + 1e-9 and max(ys) <= 80 + 1e-9
        if p["type"] == "circle":
            assert p["center"] == [p["tx"], p["ty"]] and p["radius"] == 5.0
            assert len(p["contour"]) == 65
            assert all(math.hypot(x - p["tx"], y - p["ty"]) == pytest.approx(5.0) for x, y in p["contour"])
        else:
            assert len(p["holes"]) == 1 and len(p["contour"]) == 5
    assert doc["unplaced"] == []


@needs_first_fit
def test_unplaced_items_are_reported_with_their_reason(tmp_path, capsys):
    job = base_job(items=[
        {"id": "big", "type": "circle", "radius": 60},
        {"id": "L", "type": "polygon", "outer": [[0, 0], [20, 0], [20, 5], [5, 5], [5, 20], [0, 20]]},
        {"id": "ok", "type": "circle", "radius": 3},
        {"id": "wide", "type": "polygon", "outer": square(90), "quantity": 1},
    ])
    out = tmp_path / "o.json"
    status, text, _ = run(tmp_path, job, "--output", str(out), capsys=capsys)
    assert status == 0
    doc = load_output(out)
    reasons = {u["id"]: u["reason"] for u in doc["unplaced"]}
    assert set(reasons) == {"big", "L", "wide"}
    assert reasons["L"].startswith("non-convex") and '"nonconvex": true' in reasons["L"]
    assert "does not fit in an empty 100 x 80 bin" in reasons["big"] and "122 x 122" in reasons["big"]
    assert "does not fit" in reasons["wide"]
    assert [p["id"] for p in doc["placements"]] == ["ok"]
    assert "placed 1 of 4 items" in text and "non-convex" in text


STAR = [[10 * math.cos(math.pi / 2 + 4 * math.pi * k / 5), 10 * math.sin(math.pi / 2 + 4 * math.pi * k / 5)]
        for k in range(5)]


def test_a_star_outline_gets_the_engines_reason(tmp_path, capsys):
    from Quarvo import Bin, FirstFit, Polygon

    try:  # the engine's own verdict on an outline that crosses itself
        FirstFit([Polygon(STAR, shape_id=2)], Bin(100, 80)).do_pack()
        expected = "does not fit"  # an engine that does not check outlines only finds no room
    except ValueError as exc:
        expected = str(exc)
    job = base_job(items=[{"id": "c", "type": "circle", "radius": 3}, {"id": "star", "type": "polygon", "outer": STAR}])
    out = tmp_path / "o.json"
    status, text, _ = run(tmp_path, job, "--output", str(out), capsys=capsys)
    assert status == 0
    (u,) = load_output(out)["unplaced"]
    assert u["id"] == "star" and u["reason"].startswith(expected) and expected in text


@pytest.mark.parametrize("where", ["built", "packed"])
def test_an_item_the_engine_refuses_is_set_aside_with_its_message(tmp_path, capsys, monkeypatch, where):
    from Quarvo.geometry import Polygon

    def refuse(number):
        return ValueError(f"item {number}: outer contour crosses itself at (1, 2)")

    if where == "built":
        real_shape = packing._shape

        def shape(idef, number):
            if idef.kind == "polygon":
                raise refuse(number)
            return real_shape(idef, number)
        monkeypatch.setattr(packing, "_shape", shape)
    else:
        real_ff = packing._first_fit

        class Refusing:
            def __init__(self, number):
                self.number = number

            def do_pack(self):
                raise refuse(self.number)

        def first_fit(job, shapes, **change):
            bad = [s.shape_id for s in shapes if isinstance(s, Polygon)]
            return Refusing(bad[0]) if bad else real_ff(job, shapes, **change)
        monkeypatch.setattr(packing, "_first_fit", first_fit)
    out = tmp_path / "o.json"
    status, text, _ = run(tmp_path, base_job(), "--output", str(out), capsys=capsys)
    assert status == 0
    doc = load_output(out)
    assert [u["reason"] for u in doc["unplaced"]] == ["item 1: outer contour crosses itself at (1, 2)"]
    assert len(doc["placements"]) == 3 and "crosses itself" in text


@pytest.mark.parametrize("unit", [None, "mm"])
def test_the_unit_is_shown_and_written(tmp_path, capsys, unit):
    job = base_job(**({"unit": unit} if unit else {}))
    out = tmp_path / "o.json"
    status, text, _ = run(tmp_path, job, "--output", str(out), capsys=capsys)
    assert status == 0
    assert ("bin 100 x 80 mm, distance 2 mm" in text) == bool(unit)
    assert load_output(out).get("unit") == unit


@needs_first_fit
@pytest.mark.parametrize("unit, given, back", [
    ("degrees", [0, 90], 90),
    ("radians", [0, math.pi / 2], math.pi / 2),
    (None, None, 90),  # default rotations, reported in the default unit, degrees
])
def test_rotations_in_degrees_or_radians(tmp_path, capsys, unit, given, back):
    job = {"bin": {"width": 20, "height": 40},
           "items": [{"type": "polygon", "outer": [[0, 0], [30, 0], [30, 10], [0, 10]]}]}
    if unit:
        job["rotation_unit"] = unit
    if given is not None:
        job["rotations"] = given
    out = tmp_path / "o.json"
    status, _, _ = run(tmp_path, job, "--output", str(out), capsys=capsys)
    assert status == 0
    (p,) = load_output(out)["placements"]
    assert p["rotation"] == back
    xs, ys = zip(*p["contour"])
    assert max(xs) - min(xs) == pytest.approx(10) and max(ys) - min(ys) == pytest.approx(30)


@needs_first_fit
@needs_bl
def test_bottom_left_takes_non_convex_items(tmp_path, capsys):
    job = base_job(strategy="bl", items=[
        {"id": "L", "type": "polygon", "outer": [[0, 0], [20, 0], [20, 5], [5, 5], [5, 20], [0, 20]], "quantity": 3}])
    out = tmp_path / "o.json"
    status, _, _ = run(tmp_path, job, "--output", str(out), capsys=capsys)
    assert status == 0
    doc = load_output(out)
    assert len(doc["placements"]) == 3 and doc["unplaced"] == []


@needs_first_fit
def test_quiet_prints_nothing(tmp_path, capsys):
    out = tmp_path / "o.json"
    status, text, err = run(tmp_path, base_job(), "--quiet", "--output", str(out), capsys=capsys)
    assert status == 0 and text == "" and err == "" and out.exists()



@needs_first_fit
@pytest.mark.parametrize("extra, flag, status", [(0.0, True, 0), (5.0, False, 0), (5.0, True, 3)])
def test_layout_check_verdict_and_exit_status(tmp_path, capsys, monkeypatch, extra, flag, status):
    from Quarvo.check import CIRCLE_REL_TOL, check_layout

    def strict(result):  # asks for more distance than was packed with, so the check fails
        job = result.job
        return check_layout([[e.shape for e in b] for b in result.bins], job.bin_w, job.bin_h,
                            job.distance + extra, circle_rel_tol=CIRCLE_REL_TOL)

    monkeypatch.setattr(cli, "check", strict)
    out = tmp_path / "o.json"
    got, text, _ = run(tmp_path, base_job(), "--output", str(out), *(["--check"] if flag else []), capsys=capsys)
    assert got == status
    doc = load_output(out)  # the layout is written either way
    if extra:
        assert "layout check: FAILED" in text and "too_close" in text
        assert doc["check"]["ok"] is False and doc["check"]["violations"]
    else:
        assert "layout check: ok" in text and doc["check"] == {"ok": True, "violations": []}




class _Tty(io.StringIO):
    def isatty(self):
        return True


@needs_first_fit
@pytest.mark.parametrize("quiet", [False, True])
def test_progress_only_on_a_terminal(tmp_path, monkeypatch, quiet):
    path = tmp_path / "job.json"
    path.write_text(json.dumps(base_job()))
    fake = _Tty()
    monkeypatch.setattr(sys, "stderr", fake)
    monkeypatch.setattr(sys, "stdout", io.StringIO())
    assert main([str(path)] + (["--quiet"] if quiet else [])) == 0
    text = fake.getvalue()
    if quiet:
        assert text == ""
    else:
        assert "packing 4 items" in text and "placed 4 of 4 items" in text


@needs_first_fit
@pytest.mark.parametrize("exc, status, words", [
    (KeyboardInterrupt(), 130, "interrupted"),
    (RuntimeError("engine broke"), 1, "packing failed: RuntimeError: engine broke"),
])
def test_failures_while_packing_write_nothing(tmp_path, capsys, monkeypatch, exc, status, words):
    def boom(*a, **k):
        raise exc

    monkeypatch.setattr(cli, "pack", boom)
    got, _, err = run(tmp_path, base_job(), "--output", str(tmp_path / "o.json"), capsys=capsys)
    assert got == status and words in err and "Traceback" not in err
    assert sorted(p.name for p in tmp_path.iterdir()) == ["job.json"]


# ---------------------------------------------- independent layout check


def _segments(contour):
    a = np.asarray(contour, dtype=float)
    return a[:-1], a[1:]


def _point_segment_distance(p, a, b):
    """Distances from every point of p to every segment a-b, shape (len(p), len(a))."""
    ab = b - a
    ap = p[:, None, :] - a[None, :, :]
    t = np.clip((ap * ab[None]).sum(-1) / np.maximum((ab * ab).sum(-1), 1e-300)[None], 0.0, 1.0)
    d = ap - t[..., None] * ab[None]
    return np.sqrt((d * d).sum(-1))


def _crossing(a1, b1, a2, b2):
    def orient(p, q, r):
        return (q[..., 0] - p[..., 0]) * (r[..., 1] - p[..., 1]) - (q[..., 1] - p[..., 1]) * (r[..., 0] - p[..., 0])

    p, q = a1[:, None], b1[:, None]
    r, s = a2[None], b2[None]
    o1, o2, o3, o4 = orient(p, q, r), orient(p, q, s), orient(r, s, p), orient(r, s, q)
    return bool(np.any((o1 * o2 < 0) & (o3 * o4 < 0)))


def boundary_gap(c1, c2):
    """Smallest distance between two closed contours' boundaries (0 when they cross)."""
    a1, b1 = _segments(c1)
    a2, b2 = _segments(c2)
    if _crossing(a1, b1, a2, b2):
        return 0.0
    return min(_point_segment_distance(a1, a2, b2).min(), _point_segment_distance(a2, a1, b1).min())


def centre_gap(centre, contour):
    a, b = _segments(contour)
    return float(_point_segment_distance(np.asarray([centre], dtype=float), a, b).min())


def gap(p, ring, q):
    """Clear distance between item p (or one of its hole rings) and item q; circles exactly."""
    pc = p["type"] == "circle" and ring is p["contour"]
    if pc and q["type"] == "circle":
        return math.dist(p["center"], q["center"]) - p["radius"] - q["radius"]
    if pc:
        return centre_gap(p["center"], q["contour"]) - p["radius"]
    if q["type"] == "circle":
        return centre_gap(q["center"], ring) - q["radius"]
    return boundary_gap(ring, q["contour"])


def inside(pt, contour):
    x, y = pt
    c = np.asarray(contour, dtype=float)
    x1, y1, x2, y2 = c[:-1, 0], c[:-1, 1], c[1:, 0], c[1:, 1]
    spans = (y1 > y) != (y2 > y)
    with np.errstate(divide="ignore", invalid="ignore"):
        xi = x1 + (y - y1) * (x2 - x1) / (y2 - y1)
    return bool(np.count_nonzero(spans & (xi > x)) % 2)


def anchor(p):
    """A point inside the item's material: the centre of a circle, or just
    right of the first edge of a (clockwise) polygon contour."""
    if p["type"] == "circle":
        return p["center"]
    (x1, y1), (x2, y2) = p["contour"][0], p["contour"][1]
    dx, dy = x2 - x1, y2 - y1
    eps = 1e-4
    return [(x1 + x2) / 2 + eps * dy, (y1 + y2) / 2 - eps * dx]


CIRCLE_SAG = 1.0 - math.cos(math.pi / 64)


def check_layout(doc, approx=1e-5):
    """Every item in its bin, no two overlapping, the clear distance kept up to approx.

    Circles are judged as true circles, polygons by their contours. The
    packer sees a circle (grown by half the distance) as its inscribed 64-gon,
    which lies inside it by up to CIRCLE_SAG times its radius: that much is
    allowed per circle of a pair. An item may sit in a container's hole: then
    it must clear the hole's wall by the distance and overlap nothing else.
    """
    w, h, d = doc["bin"]["width"], doc["bin"]["height"], doc["distance"]
    places = doc["placements"]
    for p in places:
        if p["type"] in ("circle", "pipe"):
            (cx, cy), r = p["center"], p["radius"]
            xs, ys = (cx - r, cx + r), (cy - r, cy + r)
        else:
            xs, ys = zip(*p["contour"])
        assert min(xs) >= d / 2 - 1e-5 and min(ys) >= d / 2 - 1e-5
        assert max(xs) <= w - d / 2 + 1e-5 and max(ys) <= h - d / 2 + 1e-5
    in_holes = set()
    for i, p in enumerate(places):
        for q in places[i + 1:]:
            if p["bin"] != q["bin"]:
                continue
            # bounding boxes farther apart than the distance cannot clash
            (px, py), (qx, qy) = zip(*p["contour"]), zip(*q["contour"])
            if min(px) > max(qx) + d or min(qx) > max(px) + d or min(py) > max(qy) + d or min(qy) > max(py) + d:
                continue
            if p["type"] == q["type"] == "pipe":
                # true rings: one in the other's bore, or side by side
                apart = math.dist(p["center"], q["center"])
                for a, b in ((p, q), (q, p)):
                    bore = a["od"] / 2 - a["wall"]
                    if bore > 0 and apart + b["radius"] <= bore + approx:
                        in_holes.add(b["item"])
                        assert bore - apart - b["radius"] >= d - approx, (a["item"], b["item"])
                        break
                else:
                    assert apart - p["radius"] - q["radius"] >= d - approx, (p["item"], q["item"])
                continue
            sag = sum(CIRCLE_SAG * (x["radius"] + d / 2) for x in (p, q) if x["type"] == "circle")
            holder = None
            for a, b in ((p, q), (q, p)):
                for hole in a.get("holes", []):
                    if inside(anchor(b), hole):
                        holder = (a, hole, b)
            if holder is not None:
                a, hole, b = holder
                in_holes.add(b["item"])
                assert gap(a, hole, b) >= d - approx - sag, (a["item"], b["item"])
            else:
                assert gap(p, p["contour"], q) >= d - approx - sag, (p["item"], q["item"])
                assert not inside(anchor(p), q["contour"]) and not inside(anchor(q), p["contour"])
    return in_holes


def _doc(*places, d=2.0):
    return {"bin": {"width": 100.0, "height": 100.0}, "distance": d, "placements": list(places)}


def _circle(item, x, y, r):
    return {"item": item, "bin": 0, "type": "circle", "center": [x, y], "radius": r,
            "contour": [[x + r * math.cos(a), y + r * math.sin(a)] for a in np.linspace(0, 2 * math.pi, 65)]}


def _ring(item, x, y, R, r):
    def ring(rad):
        pts = [[x + rad * math.cos(-a), y + rad * math.sin(-a)] for a in np.linspace(0, 2 * math.pi, 65)[:-1]]
        return pts + [pts[0]]
    return {"item": item, "bin": 0, "type": "polygon", "contour": ring(R), "holes": [ring(r)[::-1]]}


@pytest.mark.parametrize("doc, ok", [
    (_doc(_circle(1, 20, 20, 10), _circle(2, 42, 20, 10)), True),
    (_doc(_circle(1, 20, 20, 10), _circle(2, 41.95, 20, 10)), False),  # 0.05 short of the distance
    (_doc(_circle(1, 20, 20, 10), _circle(2, 39.99, 20, 10)), False),  # overlapping by 0.01
    (_doc(_circle(1, 89.01, 20, 10)), False),  # outside the bin's clear margin
    (_doc(_ring(1, 50, 50, 40, 30), _circle(2, 50, 50, 20)), True),  # in the hole
    (_doc(_ring(1, 50, 50, 40, 30), _circle(2, 50, 50, 28.5)), False),  # too close to the wall
    (_doc(_ring(1, 50, 50, 40, 30), _circle(2, 80, 50, 5)), False),  # across the wall
    (_doc(_ring(1, 50, 50, 40, 30), _circle(2, 50, 50, 5), _circle(3, 50, 60, 5)), False),  # clash in the hole
])
def test_the_layout_check_catches_faulty_layouts(doc, ok):
    if ok:
        check_layout(doc)
    else:
        with pytest.raises(AssertionError):
            check_layout(doc)


@needs_first_fit
def test_bundled_job_end_to_end(tmp_path, capsys):
    out, png = tmp_path / "pipes.json", tmp_path / "pipes.png"
    args = ["--output", str(out)] + (["--plot", str(png)] if HAS_MPL else [])
    status = main(args)
    text, err = capsys.readouterr()
    assert status == 0, err
    assert "steel pipe bundle" in text and "placed" in text
    doc = load_output(out)
    assert doc["unplaced"] == [] and len(doc["bins"]) == 1
    in_holes = check_layout(doc)
    # dense holes and exact clearance by default: 30 pipes or more in holes,
    # three levels deep, the distance kept around true circles
    assert len(in_holes) >= 30
    assert "holes dense, clearance exact" in text and "layout check: ok" in text
    row = next(line.split() for line in text.splitlines() if line.split()[:1] == ["1"])  # bins count from 1
    depths = next(k for k, t in enumerate(row) if t.startswith("("))  # after the bin's mass, when shown
    assert row[:2] == ["1", str(len(doc["placements"]))] and row[depths - 1] == str(len(in_holes))
    assert max(int(d.strip("()").split(":")[0]) for d in row[depths:]) >= 3
    # heavy pipes sit low: the heaviest stand on the floor, and the large
    # pipes' centres lie below the small ones' on average
    heaviest = [p for p in doc["placements"] if p["id"] == "DN300"]
    assert heaviest and all(p["center"][1] - p["radius"] <= doc["distance"] / 2 + 0.01 for p in heaviest)
    large = [p["ty"] for p in doc["placements"] if p["od"] > 200]
    small = [p["ty"] for p in doc["placements"] if p["od"] < 200]
    assert np.mean(large) < np.mean(small)
    if HAS_MPL:
        assert png.read_bytes()[:4] == b"\x89PNG"


@needs_first_fit
def test_bundled_job_as_a_strip_800_wide_needs_at_most_740(tmp_path, capsys):
    from Quarvo.job import bundled_job_text
    job = dict(json.loads(bundled_job_text()), bin={"width": 800})
    status, text, err = run(tmp_path, job, "--output", str(tmp_path / "o.json"), capsys=capsys)
    doc = load_output(tmp_path / "o.json")
    assert status == 0 and doc["unplaced"] == [] and "layout check: ok" in text, err
    assert doc["used_length"] <= 740


@needs_first_fit
@settings(max_examples=40, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(
    radii=st.lists(st.floats(2, 25), min_size=1, max_size=12),
    rings=st.lists(st.tuples(st.floats(20, 45), st.floats(0.5, 0.85)), max_size=3),
    distance=st.sampled_from([0, 1, 2.5]),
    strategy=st.sampled_from(["nfp", "bl"] if HAS_BL else ["nfp"]),
)
def test_random_jobs_give_valid_layouts(tmp_path_factory, radii, rings, distance, strategy):
    tmp = tmp_path_factory.mktemp("job")
    items = [{"type": "circle", "radius": r, "weight": r} for r in radii]
    items += [{"type": "polygon", "outer": ngon(R), "holes": [ngon(R * f)], "weight": 100} for R, f in rings]
    job = {"bin": {"width": 150, "height": 120}, "distance": distance, "strategy": strategy, "items": items}
    (tmp / "job.json").write_text(json.dumps(job))
    out = tmp / "o.json"
    assert main([str(tmp / "job.json"), "--quiet", "--output", str(out)]) == 0
    doc = load_output(out)
    numbers = sorted([p["item"] for p in doc["placements"]] + [u["item"] for u in doc["unplaced"]])
    assert numbers == list(range(1, len(items) + 1))
    check_layout(doc)


def test_module_entry_point_runs_without_traceback(tmp_path):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    (tmp_path / "bad.json").write_text(json.dumps(base_job(strategy="fast")))
    r = subprocess.run([sys.executable, "-m", "Quarvo", str(tmp_path / "bad.json")], capture_output=True, text=True,
                       env=env)
    assert r.returncode == 2 and r.stdout == ""
    assert r.stderr == 'quarvo: error: strategy: unknown value "fast" (expected "nfp" or "bl")\n'


@pytest.mark.parametrize("command, written", [(["{job}", "--output", "{out}/out.json", "--check"], "out.json"),
                                              (["batch", "{job}", "--output-dir", "{out}/all"], "all/job.json")],
                         ids=["job", "batch"])
def test_a_reader_that_leaves_early_costs_neither_the_files_nor_the_status(tmp_path, command, written):
    # `quarvo job.json | head -1`: the reader is gone before the summary is printed.
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    (tmp_path / "job.json").write_text(json.dumps(base_job()))
    args = [a.format(job=tmp_path / "job.json", out=tmp_path) for a in command]
    proc = subprocess.Popen([sys.executable, "-m", "Quarvo", *args], env=env, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True)
    proc.stdout.close()
    err = proc.stderr.read()
    assert proc.wait(timeout=120) == 0, err
    assert "Error" not in err and "Exception" not in err
    assert json.loads((tmp_path / written).read_text())["placements"]


def test_incremental_field_and_flag(tmp_path):
    job = {"bin": {"width": 300, "height": 300}, "distance": 2, "incremental": True,
           "items": [{"id": "p", "type": "circle", "radius": 20, "quantity": 12}]}
    path = tmp_path / "job.json"
    path.write_text(json.dumps(job))
    out = tmp_path / "out.json"
    assert main([str(path), "--output", str(out), "--quiet"]) == 0
    assert len(json.loads(out.read_text())["placements"]) == 12
    job["incremental"] = "yes"
    path.write_text(json.dumps(job))
    assert main([str(path), "--quiet"]) == 2
    del job["incremental"]
    path.write_text(json.dumps(job))
    assert main([str(path), "--quiet", "--incremental"]) == 0


def test_a_fault_of_the_settings_is_not_blamed_on_the_items(tmp_path, capsys, monkeypatch):
    def first_fit(job, shapes, **change):
        raise ValueError("global_distance is 1e300, not a finite number of at most 1e12 in magnitude")

    monkeypatch.setattr(packing, "_first_fit", first_fit)
    status, _, err = run(tmp_path, base_job(), "--output", str(tmp_path / "o.json"), capsys=capsys)
    assert status == 1 and "packing failed: ValueError: global_distance" in err
    assert sorted(p.name for p in tmp_path.iterdir()) == ["job.json"]


def test_edge_margin_and_mirror_reach_the_summary_and_the_document(tmp_path, capsys):
    ell = [[0, 0], [30, 0], [30, 8], [8, 8], [8, 25], [0, 25]]
    job = base_job(unit="mm", mirror=True, nonconvex=True, bin={"width": 100, "height": 80, "margin": 6},
                   items=[{"id": "ell", "type": "polygon", "outer": ell, "quantity": 6},
                          {"id": "disc", "type": "circle", "radius": 5, "quantity": 2},
                          {"id": "wide", "type": "polygon", "outer": square(90)}])
    out = tmp_path / "o.json"
    status, text, _ = run(tmp_path, job, "--output", str(out), capsys=capsys)
    assert status == 0
    assert "edge margin 6 mm, parts may be mirrored" in text and "margin 6)" in text
    doc = load_output(out)
    assert doc["bin"] == {"width": 100, "height": 80, "margin": 6}
    assert all(("mirrored" in p) == (p["id"] == "ell") for p in doc["placements"])
    for p in doc["placements"]:
        assert min(min(x, y, 100 - x, 80 - y) for x, y in p["contour"]) >= 6 - 1e-6
    # a square 90 wide fits the bin but not within its margins: the reason names them
    (u,) = doc["unplaced"]
    assert "with its spacing and the edge margin" in u["reason"]


def test_reasons_for_unplaced_items_never_rerun_the_search(tmp_path, capsys, monkeypatch):
    """Each unplaced kind's reason comes from the greedy pass of the item alone."""
    job = base_job(time_limit=30, compress=False)
    job["items"].append({"id": "huge", "type": "circle", "radius": 500, "quantity": 4})
    job["items"].append({"id": "wide", "type": "polygon", "outer": [[0, 0], [900, 0], [900, 1], [0, 1]]})
    calls = []
    real = packing._first_fit

    def spy(job, shapes, **change):
        calls.append({**job.options, **change})
        return real(job, shapes, **change)

    monkeypatch.setattr(packing, "_first_fit", spy)
    job["iterations"] = 50  # the job's own search is short; the reasons must not repeat it
    del job["time_limit"]
    status, out, _ = run(tmp_path, job, capsys=capsys)
    assert status == 0 and "4 x huge (items" in out and out.count("does not fit") == 2
    assert calls[0].get("iterations") == 50
    assert len(calls) > 1 and all(c.get("iterations") is None and c.get("time_limit") is None for c in calls[1:])


def test_ctrl_c_in_the_search_says_it_cut_the_search_short(tmp_path):
    job = {"bin": {"width": 300, "height": 300}, "time_limit": 120, "compress": False,
           "items": [{"type": "polygon", "outer": [[0, 0], [30, 0], [30, 20], [0, 20]], "quantity": 12}]}
    (tmp_path / "job.json").write_text(json.dumps(job))
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    proc = subprocess.Popen([sys.executable, "-m", "Quarvo", str(tmp_path / "job.json"), "-o", str(tmp_path / "o.json")],
                            env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    time.sleep(4)
    proc.send_signal(signal.SIGINT)
    out, err = proc.communicate(timeout=60)
    assert proc.returncode == 0, err
    assert "the search was cut short" in err and "the search was cut short" in out
    assert json.loads((tmp_path / "o.json").read_text())["placements"]
