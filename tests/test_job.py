"""Reading and checking the command-line job (Quarvo.job)."""
import importlib.util
import json
import math
import pathlib

import pytest
from hypothesis import given, settings, strategies as st

from Quarvo.job import reading as jobmod
from Quarvo.cli import main
from job_helpers import base_job, edit, ngon, run, square

ROOT = pathlib.Path(__file__).resolve().parent.parent
HAS_MPL = importlib.util.find_spec("matplotlib") is not None


BAD_JOBS = [
    # (path to edit, new value or None to delete, words the message must hold)
    (("bin",), None, ["bin: missing"]),
    (("bin",), [100, 80], ["bin: must be an object"]),
    (("bin", "width"), -5, ["bin.width", "positive", "-5"]),
    (("bin", "width"), None, ["bin.width: missing"]),
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
    # beyond the engine's range: named by the job's index, whatever the quantity
    (("items", 1, "radius"), 1e13, ["items[1].radius", "1e12"]),
    (("items", 0, "outer", 2), [2e12, 40], ["items[0].outer[2][0]", "1e12"]),
    (("bin", "width"), -1e13, ["bin.width", "positive"]),
    (("distance",), 1e12 * 1.5, ["distance", "1e12"]),
    (("unit",), 5, ["unit", "text"]),
    (("threads",), 0, ["threads", "at least 1"]),
    (("hole_fill",), "full", ["hole_fill", '"full"']),
    (("exact_clearance",), 1, ["exact_clearance", "true or false"]),
    (("time_limit",), -1, ["time_limit", "negative"]),
    (("iterations",), 2.5, ["iterations", "whole number"]),
    (("bin", "margin"), -2, ["bin.margin", "negative"]),
    (("bin", "margin"), "10", ["bin.margin", "number"]),
    (("bin", "margin"), 2e12, ["bin.margin", "1e12"]),
    (("mirror",), "yes", ["mirror", "true or false"]),
    (("items", 1, "type"), None, ["items[1].type: missing", '"file"']),
]


@pytest.mark.parametrize("path, value, words", BAD_JOBS)
def test_bad_job_is_rejected_in_one_line_and_nothing_written(tmp_path, capsys, path, value, words):
    job = edit(base_job(), path, value)
    plot = ["--plot", str(tmp_path / "o.png")] if HAS_MPL else []
    status, out, err = run(tmp_path, job, "--output", str(tmp_path / "o.json"), *plot, capsys=capsys)
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
    assert jobmod._boundaries_meet(closed_ring, closed_outer) == brute


def test_many_point_contours_are_checked(tmp_path, capsys):
    job = base_job(items=[{"type": "polygon", "outer": ngon(100, 20000), "holes": [ngon(99.9, 20000)]}])
    assert jobmod.parse_job(job).items[0].holes
    job["items"][0]["holes"] = [[[x + 60, y] for x, y in ngon(50, 20000)]]
    with pytest.raises(jobmod.JobError, match="crosses"):
        jobmod.parse_job(job)
    job["items"][0]["holes"] = [ngon(100.5, 20000)]  # around the outer contour, not inside it
    with pytest.raises(jobmod.JobError, match="lies outside"):
        jobmod.parse_job(job)


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
    ('{"bin": {"width": 1' + "0" * 5000 + ', "height": 5}, "items": []}', ["too many digits"]),
    ('{"bin": {"width": 9, "height": 5}, "items": [{"type": "circle", "radius": 1, "id": "a\\ud800"}]}',
     ["items[0].id", "surrogate"]),
    ('{"bin": {"width": 9, "height": 5}, "items": [], "name": "\\udfff"}', ["name", "surrogate"]),
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



def test_bundled_job_is_shipped_with_the_package():
    text = jobmod.bundled_job_text()
    assert text == (ROOT / "examples" / "pipes.json").read_text(encoding="utf-8")
    job = jobmod.parse_job(json.loads(text), "bundled")
    assert 40 <= job.total <= 80
    assert {s.kind for s in job.items} == {"pipe"}
    # every pipe but the smallest takes the smallest in its bore
    smallest = min(s.od for s in job.items)
    for s in job.items:
        assert s.od == smallest or s.od / 2 - s.wall > smallest / 2 + job.distance
    # heavier pipes (their steel per metre) are the bigger ones, so they are packed first and sit low
    mass = [(s.od * s.od - (s.od - 2 * s.wall) ** 2) for s in sorted(job.items, key=lambda s: -s.od)]
    assert mass == sorted(mass, reverse=True) and all(s.weight is None for s in job.items)




@pytest.mark.parametrize("over, words", [
    ({}, "holes dense, clearance exact"),
    ({"hole_fill": "sampled"}, "holes sampled, clearance exact"),
    ({"exact_clearance": False}, "holes dense, clearance inscribed"),
    ({"strategy": "bl", "exact_clearance": False}, "holes none (bottom-left), clearance inscribed"),
    ({"nonconvex": True, "items": [{"id": "L", "type": "polygon", "outer": [[0, 0], [30, 0], [30, 10], [10, 10],
                                                                          [10, 30], [0, 30]], "quantity": 4}]},
     "placed 4 of 4"),
])
def test_pipe_defaults_and_their_overrides(tmp_path, capsys, over, words):
    status, text, _ = run(tmp_path, base_job(**over), capsys=capsys)
    assert status == 0 and words in text and "layout check: ok" in text


def test_strip_job_reports_its_used_length(tmp_path, capsys):
    out = tmp_path / "o.json"
    job = base_job(bin={"width": 60}, iterations=20, seed=3)
    status, text, _ = run(tmp_path, job, "--output", str(out), capsys=capsys)
    doc = json.loads(out.read_text())
    top = max(y for p in doc["placements"] for _, y in p["contour"])
    assert status == 0 and len(doc["bins"]) == 1 and doc["unplaced"] == [] and "layout check: ok" in text
    assert doc["bin"] == {"width": 60} and doc["used_length"] == pytest.approx(top, abs=1e-9)
    assert "strip 60 wide" in text and "used length" in text
    status, _, err = run(tmp_path, dict(job, placement="center"), capsys=capsys)
    assert status == 2 and "strip" in err
