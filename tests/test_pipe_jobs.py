"""Pipe items, carriers and payloads in the command-line job: the fields read,
refused by name, and reported in the summary and the result document."""
import importlib.util
import json
import math
import pathlib
import re

import pytest

from Quarvo import job as jobmod
from job_helpers import edit, run

ROOT = pathlib.Path(__file__).resolve().parent.parent
HAS_MPL = importlib.util.find_spec("matplotlib") is not None


def pipe_job(**over):
    job = {
        "unit": "mm",
        "bin": {"width": 1000, "height": 700, "max_load": 3000, "length": 12500},
        "distance": 5,
        "pipe_length": 12,
        "items": [
            {"id": "casing", "type": "pipe", "size": "casing 9-5/8", "schedule": "47", "quantity": 3},
            {"id": "line", "type": "pipe", "od": 114.3, "wall": 6.02, "quantity": 4, "length": 6},
            {"id": "bar", "type": "pipe", "od": 60, "wall": 30, "quantity": 2, "density": 7900},
            {"id": "frame", "type": "circle", "radius": 40, "mass": 15},
        ],
    }
    job.update(over)
    return job


BAD_PIPE_JOBS = [
    (("items", 1, "od"), -114.3, ["items[1].od", "positive", "-114.3"]),
    (("items", 1, "od"), 0, ["items[1].od", "positive"]),
    (("items", 1, "wall"), 0, ["items[1].wall", "positive"]),
    (("items", 1, "wall"), 60, ["items[1].wall", "larger than the radius", "57.15"]),
    (("items", 1, "wall"), None, ["items[1].wall: missing"]),
    (("items", 1, "length"), 0, ["items[1].length", "positive"]),
    (("items", 1, "length"), 14, ["items[1].length", "longer than every carrier", "trailer-13.6"]),
    (("pipe_length",), 20, ["pipe_length", "longer than every carrier"]),
    (("pipe_length",), -1, ["pipe_length", "positive"]),
    (("items", 1, "density"), 0, ["items[1].density", "positive"]),
    (("items", 0, "size"), "casing 9-1/2", ["items[0].size", "nearest: casing 8-5/8, casing 9-5/8"]),
    (("items", 0, "size"), "NPS 13", ["items[0].size", "NPS 13 is not in ASME B36.10M"]),
    (("items", 0, "size"), 12, ["items[0].size", "text"]),
    (("items", 0, "schedule"), "48", ["items[0].schedule", "no nominal weight 48"]),
    (("items", 0, "schedule"), None, ["items[0].schedule", "needs a nominal weight"]),
    (("items", 0, "od"), 244.48, ["items[0]", "not both"]),
    (("items", 1, "schedule"), "STD", ["items[1].schedule", "needs \"size\""]),
    (("items", 1, "radius"), 5, ["items[1]", "unknown field", '"radius"']),
    (("items", 3, "mass"), -2, ["items[3].mass", "negative"]),
    (("bin", "max_load"), 0, ["bin.max_load", "positive"]),
    (("bin", "max_load"), -3000, ["bin.max_load", "positive"]),
    (("bin", "length"), 0, ["bin.length", "positive"]),
    (("bin", "carrier"), "53ft", ["bin.carrier", "'53ft' is unknown", "40ft-hc"]),
    (("bin", "carrier"), 40, ["bin.carrier", "text"]),
    (("bin", "weight"), 5, ["bin", "unknown field", '"weight"']),
]


@pytest.mark.parametrize("path, value, words", BAD_PIPE_JOBS)
def test_bad_pipe_job_is_rejected_in_one_line_and_nothing_written(tmp_path, capsys, path, value, words):
    job = edit(pipe_job(), path, value)
    plot = ["--plot", str(tmp_path / "o.png")] if HAS_MPL else []
    status, out, err = run(tmp_path, job, "--output", str(tmp_path / "o.json"), *plot, capsys=capsys)
    assert status == 2 and out == ""
    assert err.startswith("quarvo: error: ") and err.count("\n") == 1
    for w in words:
        assert w in err
    assert sorted(p.name for p in tmp_path.iterdir()) == ["job.json"]


@pytest.mark.parametrize("bin_, expected", [
    ({"carrier": "trailer-13.6"}, (2480, 2700, 24000, 13600, "trailer-13.6")),
    ({"carrier": "40ft", "max_load": 20000, "height": 2000}, (2343, 2000, 20000, 12032, "40ft")),
    ({"width": 2400, "height": 2400, "max_load": 24000, "length": 12500}, (2400, 2400, 24000, 12500, None)),
    ({"width": 2400}, (2400, None, None, None, None)),
])
def test_bins_and_carriers(bin_, expected):
    job = jobmod.parse_job(pipe_job(bin=bin_))
    assert (job.bin_w, job.bin_h, job.max_load, job.bin_length, job.carrier) == expected


def test_pipe_sizes_lengths_and_densities_are_read():
    job = jobmod.parse_job(pipe_job())
    casing, line, bar, frame = job.items
    assert (casing.od, casing.wall, casing.length, casing.size, casing.schedule) == \
        (244.48, 11.99, 12.0, "casing 9-5/8", "47.00")
    assert (line.od, line.wall, line.length, line.density) == (114.3, 6.02, 6.0, 7850.0)
    assert (bar.wall, bar.density, frame.mass) == (30, 7900.0, 15.0)
    per_metre = pipe_job()
    del per_metre["pipe_length"]
    assert jobmod.parse_job(per_metre).items[0].length is None


def test_summary_and_result_give_masses_payload_shares_and_reasons(tmp_path, capsys):
    job = pipe_job()
    job["items"].append({"id": "long", "type": "pipe", "od": 88.9, "wall": 5.49, "length": 13})
    job["items"].append({"id": "heavy", "type": "pipe", "size": "NPS 24", "schedule": "XS"})  # 2,245 kg
    out = tmp_path / "o.json"
    status, text, err = run(tmp_path, job, "--output", str(out), "--check", capsys=capsys)
    assert status == 0, err
    doc = json.loads(out.read_text())
    assert doc["bin"] == {"width": 1000, "height": 700, "max_load": 3000, "length": 12500}
    by_item = {p["item"]: p for p in doc["placements"]}
    for b in doc["bins"]:
        placed = [p for p in doc["placements"] if p["bin"] == b["bin"]]
        assert b["mass"] == pytest.approx(sum(p["mass"] for p in placed)) and b["mass"] <= 3000
        assert b["load_share"] == pytest.approx(b["mass"] / 3000)
    casing = by_item[1]
    assert casing["type"] == "pipe" and (casing["od"], casing["wall"], casing["length"]) == (244.48, 11.99, 12.0)
    # API casing weighs its nominal weight as sold: 47 lb/ft is 69.94 kg/m
    assert casing["mass"] == pytest.approx(69.94 * 12) and casing["mass_basis"] == "nominal"
    assert by_item[4]["mass"] == pytest.approx(7850 * math.pi / 4 * (114.3 ** 2 - 102.26 ** 2) * 1e-6 * 6)
    assert casing["radius"] == 122.24 and len(casing["holes"]) == 1
    assert by_item[10]["mass"] == 15.0  # the circle's own mass
    reasons = {u["id"]: u["reason"] for u in doc["unplaced"]}
    assert set(reasons) == {"long"}
    assert reasons["long"] == "length 13 m is longer than the bin's length of 12500 mm"
    assert "length 12500 mm, max_load 3,000 kg" in text
    assert "of max_load" in text and "longer than the bin's length" in text and "layout check: ok" in text
    # per bin: number, items, fill, mass and its share of max_load
    rows = re.findall(r"^\s+\d+\s+\d+\s+[\d.]+%\s+([\d,]+) kg\s+([\d.]+)%", text, re.M)
    assert len(rows) == len(doc["bins"])
    for (mass, share), b in zip(rows, doc["bins"]):
        assert int(mass.replace(",", "")) == round(b["mass"]) and float(share) == round(100 * b["load_share"], 1)


def test_help_documents_every_new_field(capsys):
    from Quarvo.cli import main

    assert main(["--help"]) == 0
    text = capsys.readouterr().out
    for field in ('"pipe"', '"od"', '"wall"', '"size"', '"schedule"', '"length"', '"density"', '"pipe_length"',
                  '"max_load"', '"carrier"', "trailer-13.6", '"mass"'):
        assert field in text, field


@pytest.mark.parametrize("example", ["pipes.json", "telescoping.json"])
def test_examples_are_pipe_jobs_that_pack_soundly(tmp_path, capsys, example):
    path = ROOT / "examples" / example
    raw = json.loads(path.read_text())
    assert {it["type"] for it in raw["items"]} == {"pipe"}
    from Quarvo.cli import main

    out = tmp_path / "o.json"
    assert main([str(path), "--output", str(out), "--check", "--quiet"]) == 0
    doc = json.loads(out.read_text())
    assert doc["unplaced"] == [] and doc["check"]["ok"]
