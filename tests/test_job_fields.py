"""One table of job fields drives the validator, --help, the job reference and
the JSON Schema: every field the validator reads is in the table, every field
in the table is validated, and the shipped files equal what the table gives."""
import json
from pathlib import Path

import pytest

from Quarvo.cli import main
from Quarvo.job import JobError, parse_job
from Quarvo.job.fields import FIELDS, ITEM, fields_of, markdown, schema, schema_text

jsonschema = pytest.importorskip("jsonschema")
ezdxf = pytest.importorskip("ezdxf")

ROOT = Path(__file__).resolve().parent.parent
SCHEMA = jsonschema.Draft202012Validator(schema())


def example_jobs():
    """Every job file the repository ships."""
    return sorted([*ROOT.glob("examples/*.json"), *ROOT.glob("benchmarks/loads/*.json"),
                   ROOT / "python/Quarvo/data/pipes.json"])


def drawing(path):
    doc = ezdxf.new(units=ezdxf.units.MM)
    doc.modelspace().add_lwpolyline([(0, 0), (30, 0), (30, 20), (0, 20)], close=True)
    doc.saveas(path)


def every_field_job():
    """A job that gives every field of the table once (a drawing item included)."""
    return {
        "$schema": "job.schema.json", "name": "all", "description": {"any": 1}, "unit": "mm",
        "bin": {"width": 1000, "height": 900, "margin": 1, "max_load": 9000, "length": 13600},
        "distance": 1, "strategy": "nfp", "placement": "corner", "rotations": [0, 90], "rotation_unit": "degrees",
        "pipe_length": 6, "incremental": False, "threads": 1, "hole_fill": "dense", "exact_clearance": True,
        "nonconvex": True, "stable": False, "time_limit": 0, "iterations": 1, "seed": 3, "compress": False,
        "mirror": True,
        "items": [
            {"id": "c", "type": "circle", "radius": 5, "quantity": 2, "weight": 1, "margin": 0, "inflation": 0,
             "description": "d", "mass": 1},
            {"id": 7, "type": "polygon", "outer": [[0, 0], [50, 0], [50, 40]], "holes": [], "mass": 2},
            {"type": "pipe", "od": 114.3, "wall": 6, "length": 6, "density": 7850},
            {"type": "pipe", "size": "NPS 4", "schedule": "STD"},
            {"file": "part.dxf", "id": "p", "quantity": 1, "weight": 0, "margin": 0, "inflation": 0,
             "description": "x", "tolerance": 0.1, "mass": 3, "layers": ["0"]},
        ],
    }


class Recorder(dict):
    """A JSON object that remembers which of its keys were read."""

    def __init__(self, *a):
        super().__init__(*a)
        self.read = set()

    def __getitem__(self, key):
        self.read.add(key)
        return super().__getitem__(key)

    def get(self, key, default=None):
        self.read.add(key)
        return super().get(key, default)

    def __contains__(self, key):
        self.read.add(key)
        return super().__contains__(key)


def test_the_validator_reads_only_fields_of_the_table(tmp_path):
    drawing(tmp_path / "part.dxf")
    raw = json.loads(json.dumps(every_field_job()), object_pairs_hook=Recorder)
    parse_job(raw, "job", base=str(tmp_path))
    objects = [(raw, "job"), (raw["bin"], "bin")]
    objects += [(it, it.get("type", "file")) for it in raw["items"]]
    # an item is told from a drawing's by asking for "file" and "type", fields of items both
    dispatch = {"file", "type"}
    for obj, scope in objects:
        assert obj.read - set(fields_of(scope)) - (dispatch if scope not in ("job", "bin") else set()) == set(), scope


def _cases():
    for f in FIELDS:
        if f.kind in ("any", "items", "object"):
            continue  # free text; the bin and the items are checked field by field
        for scope in f.scopes:
            yield pytest.param(scope, f.name, id=f"{scope}.{f.name}")


def _job_with(scope, name, value):
    job = {"bin": {"width": 100, "height": 100}, "items": [{"type": "circle", "radius": 5}]}
    if scope == "job":
        job[name] = value
    elif scope == "bin":
        job["bin"][name] = value
    else:
        item = {"circle": {"type": "circle", "radius": 5},
                "polygon": {"type": "polygon", "outer": [[0, 0], [5, 0], [5, 5]]},
                "pipe": {"type": "pipe", "od": 50, "wall": 3},
                "file": {"file": "part.dxf"}}[scope]
        if name in ("size", "schedule"):
            item = {"type": "pipe", "size": "NPS 4", "schedule": "STD"}
        item[name] = value
        job["items"] = [item]
    return job


@pytest.mark.parametrize("scope, name", list(_cases()))
def test_every_field_of_the_table_is_validated(tmp_path, scope, name):
    drawing(tmp_path / "part.dxf")
    with pytest.raises(JobError) as refused:
        parse_job(_job_with(scope, name, {"not": "this"}), "job", base=str(tmp_path))
    assert name in str(refused.value) or (name == "type" and "type" in str(refused.value))


@pytest.mark.parametrize("scope", ["job", "bin", "circle", "polygon", "pipe", "file"])
def test_a_field_the_table_does_not_give_is_refused(tmp_path, scope):
    drawing(tmp_path / "part.dxf")
    with pytest.raises(JobError, match='unknown field "frobnicate"'):
        parse_job(_job_with(scope, "frobnicate", 1), "job", base=str(tmp_path))


def test_help_reference_and_schema_are_the_table_s(capsys):
    assert main(["--help"]) == 0
    out = capsys.readouterr().out
    assert [f.name for f in FIELDS if f'"{f.name}"' not in out] == []
    assert (ROOT / "docs/job-format.md").read_text(encoding="utf-8") == markdown() + "\n" or \
        (ROOT / "docs/job-format.md").read_text(encoding="utf-8") == markdown()
    assert (ROOT / "python/Quarvo/job/job.schema.json").read_text(encoding="utf-8") == schema_text()
    assert main(["schema"]) == 0
    assert json.loads(capsys.readouterr().out) == schema()


@pytest.mark.parametrize("path", example_jobs(), ids=lambda p: p.name)
def test_the_schema_accepts_every_example_job(path):
    job = json.loads(path.read_text(encoding="utf-8"))
    assert list(SCHEMA.iter_errors(job)) == []
    parse_job(job, str(path))


def test_the_schema_accepts_a_job_of_every_field():
    assert [e.message for e in SCHEMA.iter_errors(every_field_job())] == []


# Bad jobs the schema and the validator both refuse: wrong types, missing or
# unknown fields, values out of range, choices that do not exist.
BAD = [
    ("no bin", lambda j: j.pop("bin")),
    ("no items", lambda j: j.pop("items")),
    ("unknown top field", lambda j: j.update(frobnicate=1)),
    ("distance negative", lambda j: j.update(distance=-1)),
    ("distance a text", lambda j: j.update(distance="2")),
    ("distance beyond range", lambda j: j.update(distance=1e13)),
    ("strategy unknown", lambda j: j.update(strategy="greedy")),
    ("placement unknown", lambda j: j.update(placement="middle")),
    ("rotations empty", lambda j: j.update(rotations=[])),
    ("rotations not numbers", lambda j: j.update(rotations=["ninety"])),
    ("threads zero", lambda j: j.update(threads=0)),
    ("iterations a float", lambda j: j.update(iterations=2.5)),
    ("stable a text", lambda j: j.update(stable="yes")),
    ("bin width zero", lambda j: j["bin"].update(width=0)),
    ("bin without width or carrier", lambda j: j["bin"].pop("width")),
    ("bin unknown field", lambda j: j["bin"].update(depth=3)),
    ("bin margin negative", lambda j: j["bin"].update(margin=-1)),
    ("item not an object", lambda j: j["items"].append(5)),
    ("item type unknown", lambda j: j["items"].append({"type": "square", "side": 3})),
    ("circle without radius", lambda j: j["items"].append({"type": "circle"})),
    ("circle radius negative", lambda j: j["items"].append({"type": "circle", "radius": -1})),
    ("polygon with two points", lambda j: j["items"].append({"type": "polygon", "outer": [[0, 0], [1, 1]]})),
    ("polygon point of three numbers", lambda j: j["items"].append({"type": "polygon",
                                                                    "outer": [[0, 0, 0], [1, 0, 0], [1, 1, 0]]})),
    ("pipe with od and size", lambda j: j["items"].append({"type": "pipe", "od": 100, "wall": 5, "size": "NPS 4"})),
    ("pipe without wall", lambda j: j["items"].append({"type": "pipe", "od": 100})),
    ("quantity zero", lambda j: j["items"][0].update(quantity=0)),
    ("id a list", lambda j: j["items"][0].update(id=[1])),
    ("mass negative", lambda j: j["items"][0].update(mass=-3)),
    ("file item with radius", lambda j: j["items"].append({"file": "part.dxf", "radius": 3})),
    ("tolerance below the grid", lambda j: j["items"].append({"file": "part.dxf", "tolerance": 1e-9})),
    ("layers empty", lambda j: j["items"].append({"file": "part.dxf", "layers": []})),
    ("layers not names", lambda j: j["items"].append({"file": "part.dxf", "layers": ["CUT", ""]})),
]


@pytest.mark.parametrize("what, spoil", BAD, ids=[b[0] for b in BAD])
def test_the_schema_and_the_validator_refuse_the_bad_jobs(tmp_path, what, spoil):
    drawing(tmp_path / "part.dxf")
    job = {"bin": {"width": 100, "height": 100}, "items": [{"type": "circle", "radius": 5}]}
    spoil(job)
    assert list(SCHEMA.iter_errors(job)), what
    with pytest.raises(JobError):
        parse_job(job, "job", base=str(tmp_path))


def test_the_default_tolerance_is_told_as_it_is():
    from fractions import Fraction

    from Quarvo.cad import TOLERANCE_FRACTION
    from Quarvo.job.fields import CAD_TOLERANCE_TEXT

    assert Fraction(CAD_TOLERANCE_TEXT) == Fraction(TOLERANCE_FRACTION).limit_denominator(10**6)


def test_every_item_kind_takes_the_common_fields():
    common = {"id", "quantity", "weight", "margin", "inflation", "description"}
    for scope in ITEM + ("file",):
        assert common <= set(fields_of(scope)), scope
