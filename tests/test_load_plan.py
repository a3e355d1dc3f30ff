"""The load plan of a command-line job: stable placement by default for pipe
loads, hosts, depths and lifts in the result document judged by independent
geometry, the load table, and the summary's modes and counts."""
import csv
import io
import json
import math

import pytest

import rest_check
from job_helpers import base_job, ngon, run, square
from Quarvo.report import outputs as output
from Quarvo.job import JobError, parse_job
from Quarvo.job.packing import check, pack
from Quarvo.report import TABLE_COLUMNS, load_table, load_table_csv, result_document
from Quarvo.report.summary import modes_line


def pipe_job(**over):
    """Rings that nest three deep and discs, in a bin with room to spare."""
    job = {
        "bin": {"width": 300, "height": 200},
        "distance": 1,
        "rotations": [0],
        "hole_fill": "dense",
        "items": [
            {"id": "big", "type": "polygon", "outer": ngon(60), "holes": [ngon(55)], "weight": 9, "quantity": 2},
            {"id": "mid", "type": "polygon", "outer": ngon(45), "holes": [ngon(41)], "weight": 8, "quantity": 2},
            {"id": "small", "type": "polygon", "outer": ngon(30), "holes": [ngon(27)], "weight": 7},
            {"id": "rod", "type": "circle", "radius": 8, "weight": 1, "quantity": 12},
        ],
    }
    job.update(over)
    return job


@pytest.mark.parametrize("job, stable", [
    (pipe_job(), True),                                                  # circles and rings
    (base_job(), False),                                                 # a square frame is no pipe
    (pipe_job(stable=False), False),                                     # said so
    (pipe_job(strategy="bl"), False),                                    # bottom-left cannot
    (base_job(stable=True), True),
    (pipe_job(items=[{"type": "polygon", "outer": ngon(10, 7), "holes": [ngon(5, 7)]}]), False),  # heptagons
])
def test_stable_by_default_for_pipe_loads(job, stable):
    assert bool(parse_job(job).options.get("stable")) == stable


def test_a_strip_of_pipes_is_not_compressed_by_default():
    """Compression is on by default for strips of equal weights, but it moves items off their rests."""
    rods = [{"type": "circle", "radius": 8, "quantity": 5}]
    assert parse_job(pipe_job(bin={"width": 300}, items=rods)).options.get("compress") is None
    assert parse_job(pipe_job(bin={"width": 300}, items=rods, stable=False)).options.get("compress") is True


@pytest.mark.parametrize("job, words", [
    (pipe_job(strategy="bl", stable=True), 'stable: needs strategy "nfp"'),
    (pipe_job(compress=True), "compress: moves items freely"),
    (base_job(stable=True, compress=True), "compress: moves items freely"),
    (pipe_job(stable="yes"), "stable: must be true or false"),
])
def test_bad_stable_fields(job, words):
    with pytest.raises(JobError, match=words):
        parse_job(job)


def _placed(doc):
    return {(p["id"], p["copy"]): p for p in doc["placements"]}


def _body(p):
    """An independent outline of a placement record (true geometry as written out)."""
    class Item:
        inflation = margin = 0.0
        rotation = 0.0
        tx = ty = 0.0

    it = Item()
    if p["type"] == "circle":
        it.radius = p["radius"]
        it.tx, it.ty = p["center"]
    else:
        it.outer, it.holes = p["contour"], p["holes"]
    return rest_check.Body(it, 0.0)


def test_result_document_hosts_depths_and_lifts(tmp_path, capsys):
    out = tmp_path / "o.json"
    status, text, _ = run(tmp_path, pipe_job(), "--output", str(out), "--check", capsys=capsys)
    assert status == 0, text
    assert "stable (every item at rest)" in text and "every item at rest" in text.splitlines()[-2]
    doc = json.loads(out.read_text())
    places = _placed(doc)
    bodies = {key: _body(p) for key, p in places.items()}
    # every host is the item whose hole really holds it: the innermost hole around it
    for key, p in places.items():
        around = [(abs(rest_check._area_centroid(h)[0]), other) for other, b in bodies.items() if other != key
                  for h in [b.hole_holding(bodies[key])] if h is not None]
        want = min(around)[1] if around else None
        got = None if p["host"] is None else (p["host"]["id"], p["host"]["copy"])
        assert got == want, key
        depth, k = 0, key
        while places[k]["host"] is not None:
            k, depth = (places[k]["host"]["id"], places[k]["host"]["copy"]), depth + 1
        assert p["depth"] == depth
        assert ("center" in p) == (p["type"] == "circle")
    assert max(p["depth"] for p in places.values()) >= 2
    # lifts: every placed item in exactly one, nests complete, innermost first
    (b,) = doc["bins"]
    by_number = {p["item"]: p for p in places.values()}
    seen = []
    for n, lift in enumerate(b["lifts"], 1):
        assert lift["lift"] == n
        top = by_number[lift["item"]]
        assert top["host"] is None and top["lift"] == n
        inside = [o["item"] for o in lift["order"]]
        assert lift["items"] == len(inside) + 1
        for o in lift["order"]:
            p = by_number[o["item"]]
            assert (p["host"]["id"], p["host"]["copy"]) == (by_number[o["into"]]["id"], by_number[o["into"]]["copy"])
            # what it holds went in before it
            assert all(inside.index(q["item"]) < inside.index(o["item"]) for q in lift["order"] if q["into"] == o["item"])
        seen += [lift["item"]] + inside
    assert sorted(seen) == sorted(by_number)
    # loading order: a lift comes after the lifts holding it up
    bodies_list = [bodies[k] for k in places]
    numbers = [places[k]["item"] for k in places]
    lift_of = {p["item"]: p["lift"] for p in places.values()}
    for k, key in enumerate(places):
        if places[key]["host"] is None:
            x = bodies_list[k]
            for j, y in enumerate(bodies_list):
                if j != k and places[list(places)[j]]["host"] is None:
                    contacts = rest_check._contacts(x, y, 1.0 + rest_check.REST_TOL + x.excess + y.excess)
                    if any(n is not None and n[1] > 1e-6 for _, n, _ in contacts):
                        assert lift_of[numbers[j]] < lift_of[numbers[k]]


def test_masses_add_up_in_lifts_and_totals():
    massless = pack(parse_job(pipe_job()))
    assert all(r["mass"] is None for r in load_table(massless))  # no masses in the job: none shown
    raw = pipe_job()
    for k, it in enumerate(raw["items"]):
        it["mass"] = 10.0 * k + 1.0
    result = pack(parse_job(raw))
    rows = load_table(result)
    for r in rows[:-1]:
        assert r["mass"] == result.entries[r["item"] - 1].idef.mass
    assert rows[-1]["id"] == "total" and rows[-1]["mass"] == pytest.approx(sum(r["mass"] for r in rows[:-1]))
    doc = result_document(result)
    by_number = {p["item"]: p for p in doc["placements"]}
    for b in doc["bins"]:
        for lift in b["lifts"]:
            nest = [lift["item"]] + [o["item"] for o in lift["order"]]
            assert lift["items"] == len(nest)
            assert lift["mass"] == pytest.approx(sum(by_number[n]["mass"] for n in nest))


def test_load_table_rows_and_csv():
    result = pack(parse_job(pipe_job()))
    rows = load_table(result)
    placed = [r for r in rows if r["id"] != "total"]
    assert len(placed) == result.placed and len(rows) == result.placed + len(result.bins)
    assert all(tuple(r) == TABLE_COLUMNS for r in rows)
    # lift by lift, each nest innermost first and its top item last
    lifts = [r["lift"] for r in placed]
    assert lifts == sorted(lifts)
    for n in set(lifts):
        nest = [r for r in placed if r["lift"] == n]
        assert nest[-1]["host"] is None and all(r["host"] is not None for r in nest[:-1])
        assert [r["depth"] for r in nest[:-1]] == sorted((r["depth"] for r in nest[:-1]), reverse=True) or \
            len({r["host"] for r in nest[:-1]}) > 1
    text = load_table_csv(result)
    parsed = list(csv.reader(io.StringIO(text)))
    assert parsed[0] == list(TABLE_COLUMNS) and len(parsed) == len(rows) + 1
    assert parsed[-1][TABLE_COLUMNS.index("id")] == "total"
    assert parsed[1][TABLE_COLUMNS.index("description")].startswith(("polygon", "circle"))


def test_table_is_written_with_the_other_outputs(tmp_path, capsys, monkeypatch):
    table, out = tmp_path / "t.csv", tmp_path / "o.json"
    status, text, _ = run(tmp_path, pipe_job(), "--table", str(table), "--output", str(out), capsys=capsys)
    assert status == 0 and f"wrote {table}" in text
    assert table.read_text().splitlines()[0] == ",".join(TABLE_COLUMNS)
    table.unlink()
    out.unlink()

    def fail(result, precision=None):
        raise OSError("disk full")

    monkeypatch.setattr(output, "load_table_csv", fail)
    status, _, err = run(tmp_path, pipe_job(), "--output", str(out), "--table", str(table), capsys=capsys)
    assert status == 1 and "nothing written" in err
    assert sorted(p.name for p in tmp_path.iterdir()) == ["job.json"]


@pytest.mark.parametrize("args, words", [
    (["--table", "{tmp}/a.csv", "--output", "{tmp}/a.csv"], "--output and --table name the same file"),
    (["--table", "{tmp}/no/such/t.csv"], "--table: folder"),
])
def test_bad_table_arguments(tmp_path, capsys, args, words):
    status, _, err = run(tmp_path, pipe_job(), *[a.format(tmp=tmp_path) for a in args], capsys=capsys)
    assert status == 2 and words in err
    assert sorted(p.name for p in tmp_path.iterdir()) == ["job.json"]


@pytest.mark.parametrize("fields, words", [
    ({}, ["holes dense", "clearance exact", "stable (every item at rest)"]),
    ({"nonconvex": True, "stable": False}, ["non-convex outlines"]),
    ({"incremental": True}, ["incremental unions"]),
    ({"time_limit": 2.5}, ["search 2.5 s, seed 0"]),
    ({"iterations": 30, "seed": 4}, ["search 30 iterations, seed 4"]),
    ({"time_limit": 1, "iterations": 30}, ["search 1 s or 30 iterations"]),
])
def test_modes_line_names_every_mode(fields, words):
    job = parse_job(pipe_job(**fields, exact_clearance=True))
    line = modes_line(job)
    for w in words:
        assert w in line
    if "stable" in fields and not fields["stable"]:
        assert "stable" not in line


def test_refused_items_count_the_same_in_the_packing_and_the_check_lines(tmp_path, capsys):
    star = [[10 * math.cos(math.pi / 2 + 4 * math.pi * k / 5), 10 * math.sin(math.pi / 2 + 4 * math.pi * k / 5)]
            for k in range(5)]  # crosses itself: refused by the engine, never packed
    job = base_job()
    job["items"].append({"id": "star", "type": "polygon", "outer": star})
    job["items"].append({"id": "huge", "type": "circle", "radius": 500})
    status, text, _ = run(tmp_path, job, capsys=capsys)
    assert status == 0
    assert "2 unplaced" in text and "0 unplaced" not in text
    assert "layout check: ok (1 bins, 4 items placed, 2 unplaced" in text


def test_check_of_a_stable_job_reports_floating_items():
    result = pack(parse_job(pipe_job()))
    assert check(result).ok
    from Quarvo.check import rest_states

    shapes = [e.shape for e in result.bins[0]]
    holding = {j for _, _, supports in rest_states(shapes, 300, 1.0) for j in supports}
    rod = next(e for k, e in enumerate(result.bins[0]) if e.idef.id == "rod" and k not in holding)
    for x, y in ((x, y) for y in range(190, 20, -10) for x in range(290, 10, -10)):
        rod.shape.set_position(x, y)  # somewhere in mid-air, clear of everything
        report = check(result)
        if report.count("overlap") + report.count("too_close") + report.count("outside") == 0:
            break
    assert [(v.kind, v.shape_ids, v.reason) for v in report.violations] == \
        [("floating", (rod.number,), "no contact")]


def test_an_item_that_cannot_rest_is_unplaced_with_the_reason(tmp_path, capsys):
    job = {"bin": {"width": 100}, "distance": 4, "rotations": [0], "stable": True,
           "items": [{"id": "spike", "type": "polygon", "outer": [[0, 0], [10, 0], [5, -40]]},  # point down
                     {"id": "box", "type": "polygon", "outer": square(10)}]}
    out = tmp_path / "o.json"
    status, text, _ = run(tmp_path, job, "--output", str(out), "--check", capsys=capsys)
    assert status == 0, text
    (u,) = json.loads(out.read_text())["unplaced"]
    assert u["id"] == "spike" and u["reason"].startswith("no place at rest even alone on the floor")
    job["rotations"] = [0, 180]  # upside up it stands on its base
    status, text, _ = run(tmp_path, job, "--output", str(out), capsys=capsys)
    assert json.loads(out.read_text())["unplaced"] == []
