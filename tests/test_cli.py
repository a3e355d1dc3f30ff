import importlib.util
import io
import json
import math
import os
import pathlib
import subprocess
import sys

os.environ.setdefault("MPLBACKEND", "Agg")

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings, strategies as st

from Quarvo import cli
from Quarvo.cli import main

ROOT = pathlib.Path(__file__).resolve().parent.parent
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


def square(s, x=0.0, y=0.0):
    return [[x, y], [x + s, y], [x + s, y + s], [x, y + s]]


def ngon(r, n=64):
    return [[r * math.cos(2 * math.pi * k / n), r * math.sin(2 * math.pi * k / n)] for k in range(n)]


def base_job(**over):
    job = {
        "bin": {"width": 100, "height": 80},
        "distance": 2,
        "items": [
            {"id": "ring", "type": "polygon", "outer": square(40), "holes": [square(20, 10, 10)], "weight": 5},
            {"id": "disc", "type": "circle", "radius": 5, "quantity": 3},
        ],
    }
    job.update(over)
    return job


def run(tmp_path, job, *extra, capsys=None):
    """Write the job (a dict, or raw text), run main and return (status, stdout, stderr)."""
    path = tmp_path / "job.json"
    if isinstance(job, (dict, list)):
        path.write_text(json.dumps(job))
    elif isinstance(job, bytes):
        path.write_bytes(job)
    else:
        path.write_text(job)
    status = main([str(path), *extra])
    out, err = capsys.readouterr()
    return status, out, err


def edit(job, path, value):
    """Set (or with value None, delete) a field given by a path of keys."""
    target = job
    for key in path[:-1]:
        target = target[key]
    if value is None:
        del target[path[-1]]
    else:
        target[path[-1]] = value
    return job


BAD_JOBS = [
    # (path to edit, new value or None to delete, words the message must hold)
    (("bin",), None, ["bin: missing"]),
    (("bin",), [100, 80], ["bin: must be an object"]),
    (("bin", "width"), -5, ["bin.width", "positive", "-5"]),
    (("bin", "height"), None, ["bin.height: missing"]),
    (("bin", "height"), "80", ["bin.height", "number"]),
    (("distance",), -1, ["distance", "negative"]),
    (("strategy",), "nfpp", ["strategy", "unknown value", '"nfpp"']),
    (("placement",), "middle", ["placement", "unknown value", '"middle"']),
    (("rotation_unit",), "grad", ["rotation_unit", '"grad"']),
    (("rotations",), [], ["rotations", "non-empty"]),
    (("rotations",), [0, "90"], ["rotations[1]", "number"]),
    (("items",), None, ["items: missing"]),
    (("items",), {"a": 1}, ["items: must be a list"]),
    (("strateg",), "bl", ["unknown field", '"strateg"']),
    (("items", 1, "radius"), -3, ["items[1].radius", "positive", "-3"]),
    (("items", 1, "radius"), 0, ["items[1].radius", "positive"]),
    (("items", 1, "radius"), True, ["items[1].radius", "number"]),
    (("items", 1, "radius"), None, ["items[1].radius: missing"]),
    (("items", 1, "type"), "square", ["items[1].type", '"square"']),
    (("items", 1, "type"), None, ["items[1].type: missing"]),
    (("items", 1, "quantity"), 0, ["items[1].quantity"]),
    (("items", 1, "quantity"), 2.5, ["items[1].quantity"]),
    (("items", 1, "margin"), -1, ["items[1].margin", "negative"]),
    (("items", 1, "outer"), square(3), ["items[1]", "unknown field", '"outer"']),
    (("items", 0, "outer"), [[0, 0], [1, 0]], ["items[0].outer", "three"]),
    (("items", 0, "outer"), [[0, 0], [1, 0], [0, 0]], ["items[0].outer", "three"]),
    (("items", 0, "outer"), [[0, 0], [1, 1], [2, 2]], ["items[0].outer", "no area"]),
    (("items", 0, "outer"), [[0, 0], [1, 0], [1]], ["items[0].outer[2]", "[x, y]"]),
    (("items", 0, "holes"), [square(10, 50, 50)], ["items[0].holes[0]", "outside its outer contour"]),
    (("items", 0, "holes"), [square(20, 30, 10)], ["items[0].holes[0]", "outer contour"]),
    (("items", 0, "holes"), [square(40)], ["items[0].holes[0]", "outer contour"]),
    (("items", 0, "holes"), [[[1, 1], [2, 2]]], ["items[0].holes[0]", "three"]),
    (("items", 0, "id"), [1], ["items[0].id"]),
    (("items", 0), 7, ["items[0]", "object"]),
]


@pytest.mark.parametrize("path, value, words", BAD_JOBS)
def test_bad_job_is_rejected_in_one_line_and_nothing_written(tmp_path, capsys, path, value, words):
    job = edit(base_job(), path, value)
    status, out, err = run(tmp_path, job, "--output", str(tmp_path / "o.json"), "--plot",
                           str(tmp_path / "o.png"), capsys=capsys)
    assert status == 2
    assert out == ""
    assert err.startswith("quarvo: error: ") and err.count("\n") == 1
    for w in words:
        assert w in err
    assert sorted(p.name for p in tmp_path.iterdir()) == ["job.json"]


@settings(max_examples=150, deadline=None)
@given(
    outer=st.lists(st.tuples(st.floats(0.2, 10), st.integers(0, 3)), min_size=3, max_size=40),
    ring=st.lists(st.tuples(st.floats(-12, 12), st.floats(-12, 12)), min_size=3, max_size=12),
)
def test_bucketed_boundary_test_agrees_with_all_pairs(outer, ring):
    from Quarvo.geometry_handle import segments_intersect

    # a star-shaped outer contour, some vertices snapped to a coarse grid so edges can touch exactly
    n = len(outer)
    pts = [(round(r * math.cos(2 * math.pi * k / n), q) if q else r * math.cos(2 * math.pi * k / n),
            round(r * math.sin(2 * math.pi * k / n), q) if q else r * math.sin(2 * math.pi * k / n))
           for k, (r, q) in enumerate(outer)]
    closed_outer = pts + [pts[0]]
    closed_ring = ring + [ring[0]]
    brute = any(segments_intersect(a, b, c, d) for a, b in zip(closed_ring, closed_ring[1:])
                for c, d in zip(closed_outer, closed_outer[1:]))
    assert cli._boundaries_meet(closed_ring, closed_outer) == brute


def test_many_point_contours_are_checked(tmp_path, capsys):
    job = base_job(items=[{"type": "polygon", "outer": ngon(100, 20000), "holes": [ngon(99.9, 20000)]}])
    assert cli.parse_job(job).items[0].holes
    job["items"][0]["holes"] = [[[x + 60, y] for x, y in ngon(50, 20000)]]
    with pytest.raises(cli.JobError, match="crosses"):
        cli.parse_job(job)
    job["items"][0]["holes"] = [ngon(100.5, 20000)]  # around the outer contour, not inside it
    with pytest.raises(cli.JobError, match="lies outside"):
        cli.parse_job(job)


def test_bl_with_center_is_rejected(tmp_path, capsys):
    status, _, err = run(tmp_path, base_job(strategy="bl", placement="center"), capsys=capsys)
    assert status == 2 and "placement" in err and '"center"' in err


@pytest.mark.parametrize("content, words", [
    ("{not json", ["not valid JSON", "line 1"]),
    ("", ["not valid JSON"]),
    ("[1, 2]", ["job: must be a JSON object"]),
    (b"\xff\xfe\x00garbage", ["not a JSON file"]),
    ('{"bin": {"width": 1e400, "height": 5}, "items": []}', ["bin.width", "finite"]),
    ('{"bin": {"width": NaN, "height": 5}, "items": []}', ["bin.width", "finite"]),
    ("[" * 100000 + "]" * 100000, ["not valid JSON"]),
])
def test_not_a_job(tmp_path, capsys, content, words):
    status, out, err = run(tmp_path, content, "--output", str(tmp_path / "o.json"), capsys=capsys)
    assert status == 2 and out == "" and err.count("\n") == 1
    for w in words:
        assert w in err
    assert not (tmp_path / "o.json").exists()


def test_missing_job_file(tmp_path, capsys):
    status = main([str(tmp_path / "nope.json")])
    _, err = capsys.readouterr()
    assert status == 2 and "nope.json" in err and "cannot read" in err and err.count("\n") == 1


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


def test_plot_without_matplotlib_is_rejected(tmp_path, capsys, monkeypatch):
    real = importlib.util.find_spec
    monkeypatch.setattr(importlib.util, "find_spec", lambda name, *a: None if name == "matplotlib" else real(name, *a))
    status, _, err = run(tmp_path, base_job(), "--plot", str(tmp_path / "a.png"), capsys=capsys)
    assert status == 2 and "pip install matplotlib" in err


def test_unknown_option_and_help(capsys):
    assert main(["--frobnicate"]) == 2
    assert main(["--help"]) == 0
    out, _ = capsys.readouterr()
    assert "degrees (default)" in out and "--plot" in out and "--output" in out


def test_bundled_job_is_shipped_with_the_package():
    text = cli.bundled_job_text()
    assert text == (ROOT / "examples" / "pipes.json").read_text(encoding="utf-8")
    job = cli.parse_job(json.loads(text), "bundled")
    assert 40 <= job.total <= 80
    rings = [s for s in job.items if s.holes]
    assert len(rings) >= 2 and all(len(s.outer) == 65 and len(s.holes[0]) == 65 for s in rings)
    assert {s.kind for s in job.items} == {"circle", "polygon"}
    # every ring takes at least the smallest pipe in its hole
    smallest = min(s.radius for s in job.items if s.kind == "circle")
    for s in rings:
        hole_r = min(math.hypot(x, y) for x, y in s.holes[0])
        assert hole_r > smallest + job.distance
    # heavier pipes are the bigger ones, so they are packed first and sit low
    by_size = sorted(job.items, key=lambda s: -(max(abs(x) for x, _ in s.outer) if s.outer else s.radius))
    assert [s.weight for s in by_size] == sorted((s.weight for s in job.items), reverse=True)


# ------------------------------------------------------------- packing runs


def load_output(path):
    doc = json.loads(path.read_text())
    assert set(doc) >= {"bin", "distance", "strategy", "placement", "rotation_unit", "bins", "placements",
                        "unplaced", "seconds"}
    return doc


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
    assert reasons["L"].startswith("non-convex")
    assert "does not fit in an empty 100 x 80 bin" in reasons["big"] and "122 x 122" in reasons["big"]
    assert "does not fit" in reasons["wide"]
    assert [p["id"] for p in doc["placements"]] == ["ok"]
    assert "placed 1 of 4 items" in text and "non-convex" in text


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


HAS_CHECK = importlib.util.find_spec("Quarvo.check") is not None
needs_check = pytest.mark.skipif(not HAS_CHECK, reason="the layout checker is not built yet")


@needs_first_fit
@needs_check
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


def test_without_the_checker_there_is_no_check_flag(tmp_path, capsys, monkeypatch):
    monkeypatch.setattr(cli, "checker_available", lambda: False)
    status, _, err = run(tmp_path, base_job(), "--check", capsys=capsys)
    assert status == 2 and "--check" in err


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
        if p["type"] == "circle":
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
    assert len(in_holes) >= 3
    row = next(line.split() for line in text.splitlines() if line.split()[:1] == ["0"])
    assert row[:3] == ["0", str(len(doc["placements"])), str(len(in_holes))]
    # heavy pipes sit low: the heaviest stand on the floor, and the hollow
    # pipes' centres lie below the solid ones' on average
    heaviest = [p for p in doc["placements"] if p["id"] == "DN300"]
    assert heaviest and all(min(y for _, y in p["contour"]) <= doc["distance"] / 2 + 0.01 for p in heaviest)
    rings = [p["ty"] for p in doc["placements"] if p["type"] == "polygon"]
    solids = [p["ty"] for p in doc["placements"] if p["type"] == "circle"]
    assert np.mean(rings) < np.mean(solids)
    if HAS_MPL:
        assert png.read_bytes()[:4] == b"\x89PNG"


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
