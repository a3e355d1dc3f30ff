"""Hostile drawings are refused by the reading budget before the work is done,
in bounded memory, with one line naming the file and the entity; and the
drawings Quarvo writes itself read back."""
import json
import os
import subprocess
import sys
import textwrap

import pytest

from Quarvo.cli import main

ezdxf = pytest.importorskip("ezdxf")
pytest.importorskip("svgelements")


def nested_inserts(path, depth=9, fan=10):
    """Each block inserts the one below it fan times: fan ** depth lines once expanded, a few KB on disk."""
    doc = ezdxf.new()
    doc.blocks.new("B0").add_line((0, 0), (1, 0))
    for d in range(1, depth):
        block = doc.blocks.new(f"B{d}")
        for k in range(fan):
            block.add_blockref(f"B{d - 1}", (k, 0))
    doc.modelspace().add_blockref(f"B{depth - 1}", (0, 0))
    doc.saveas(path)


def minsert(path):
    doc = ezdxf.new()
    doc.blocks.new("SQ").add_lwpolyline([(0, 0), (1, 0), (1, 1), (0, 1)], close=True)
    ref = doc.modelspace().add_blockref("SQ", (0, 0))
    ref.dxf.row_count, ref.dxf.column_count = 100000, 100000
    ref.dxf.row_spacing, ref.dxf.column_spacing = 2, 2
    doc.saveas(path)


def self_insert(path):
    doc = ezdxf.new()
    name = "A" * 200  # a long name must not make a long message
    block = doc.blocks.new(name)
    block.add_line((0, 0), (1, 0))
    block.add_blockref(name, (1, 1))
    doc.modelspace().add_blockref(name, (0, 0))
    doc.saveas(path)


def use_fan_out(path, depth=9, fan=10):
    parts = ['<svg xmlns="http://www.w3.org/2000/svg" xmlns:xlink="http://www.w3.org/1999/xlink" '
             'width="100mm" height="100mm" viewBox="0 0 100 100"><defs>',
             '<g id="a0"><circle cx="1" cy="1" r="1"/></g>']
    for d in range(1, depth):
        parts.append(f'<g id="a{d}">' + f'<use xlink:href="#a{d - 1}"/>' * fan + "</g>")
    parts.append(f'</defs><use xlink:href="#a{depth - 1}"/></svg>')
    open(path, "w").write("".join(parts))


def use_cycle(path):
    open(path, "w").write('<svg xmlns="http://www.w3.org/2000/svg" width="10mm" height="10mm" viewBox="0 0 10 10">'
                          '<g id="a"><rect width="1" height="1"/><use href="#b"/></g>'
                          '<g id="b"><use href="#a"/></g></svg>')


def deep_groups(path):
    open(path, "w").write('<svg xmlns="http://www.w3.org/2000/svg" width="10mm" height="10mm">' + "<g>" * 5000
                          + '<rect width="1" height="1"/>' + "</g>" * 5000 + "</svg>")


def huge_file(path):
    with open(path, "wb") as f:  # sparse: no disk is spent on it
        f.truncate(40 << 20)


def fine_circle(path):
    doc = ezdxf.new(units=ezdxf.units.MM)
    doc.modelspace().add_circle((0, 0), 500)
    doc.saveas(path)


# (maker, file name, read_parts keywords, words the refusal holds)
HOSTILE = [
    (nested_inserts, "nested.dxf", {}, "entities once expanded, more than the reading budget"),
    (minsert, "minsert.dxf", {}, "entities once expanded, more than the reading budget"),
    (self_insert, "self.dxf", {}, "holds itself"),
    (use_fan_out, "fan.svg", {}, "shapes once expanded, more than the reading budget"),
    (use_cycle, "cycle.svg", {}, "holds itself"),
    (deep_groups, "deep.svg", {}, "nested more than"),
    (huge_file, "huge.dxf", {}, "MB, more than the reading budget"),
    (fine_circle, "circle.dxf", {"tolerance": 1e-12}, "chords (at most"),
]

CHILD = textwrap.dedent("""
    import json, os, resource, sys
    # 3 GB of address space at most; AddressSanitizer maps terabytes of shadow, so under it the
    # memory is left to the sanitizer and only the refusals are judged
    if "asan" not in os.environ.get("LD_PRELOAD", ""):
        resource.setrlimit(resource.RLIMIT_AS, (3 << 30, 3 << 30))
    from Quarvo.cad import read_parts
    out = []
    for path, kw in json.loads(sys.argv[1]):
        try:
            read_parts(path, **kw)
            out.append("read")
        except ValueError as exc:
            out.append(str(exc))
        except MemoryError:
            out.append("MemoryError")
    print(json.dumps(out))
""")


def test_hostile_drawings_are_refused_within_the_budget_in_bounded_memory(tmp_path):
    cases = []
    for make, name, kw, _ in HOSTILE:
        make(str(tmp_path / name))
        cases.append((str(tmp_path / name), kw))
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    r = subprocess.run([sys.executable, "-c", CHILD, json.dumps(cases)], env=env, capture_output=True, text=True,
                       timeout=300)
    assert r.returncode == 0, r.stderr[-2000:]
    messages = json.loads(r.stdout)
    for (_, name, _, words), message in zip(HOSTILE, messages):
        assert message.startswith(name) and words in message and "\n" not in message, (name, message)
        assert len(message) < 200, message


@pytest.mark.parametrize("args, words", [
    (["--tolerance", "1e-12"], "--tolerance: '1e-12' is finer than the engine's grid"),
    (["--tolerance", "0"], "--tolerance"),
])
def test_a_tolerance_below_the_grid_is_refused(tmp_path, capsys, args, words):
    fine_circle(str(tmp_path / "c.dxf"))
    assert main(["nest", str(tmp_path / "c.dxf"), "--sheet", "2000x2000", *args]) == 2
    assert words in capsys.readouterr().err


def test_the_job_field_tolerance_has_a_floor(tmp_path, capsys):
    fine_circle(str(tmp_path / "c.dxf"))
    job = {"bin": {"width": 2000, "height": 2000}, "items": [{"file": "c.dxf", "tolerance": 1e-12}]}
    (tmp_path / "job.json").write_text(json.dumps(job))
    assert main([str(tmp_path / "job.json")]) == 2
    assert "items[0].tolerance: 1e-12 is finer than the engine's grid" in capsys.readouterr().err


def test_a_hostile_drawing_in_a_batch_is_that_job_s_failure(tmp_path, capsys):
    nested_inserts(str(tmp_path / "nested.dxf"))
    (tmp_path / "bad.json").write_text(json.dumps({"bin": {"width": 100, "height": 100},
                                                   "items": [{"file": "nested.dxf"}]}))
    (tmp_path / "good.json").write_text(json.dumps({"bin": {"width": 100, "height": 100},
                                                    "items": [{"type": "circle", "radius": 4}]}))
    out = tmp_path / "out"
    assert main(["batch", str(tmp_path / "bad.json"), str(tmp_path / "good.json"), "-d", str(out), "-q",
                 "--workers", "1"]) == 4
    assert "reading budget" in json.loads((out / "bad.error.json").read_text())["error"]
    assert (out / "good.json").exists()


# ---------------------------------------------------------------- what Quarvo writes reads back


@pytest.mark.parametrize("ext, blocks", [(".dxf", False), (".dxf", True), (".svg", False)])
def test_a_nest_written_with_no_gap_reads_back(tmp_path, capsys, ext, blocks):
    doc = ezdxf.new(units=ezdxf.units.MM)
    doc.modelspace().add_lwpolyline([(0, 0), (10, 0), (10, 10), (0, 10)], close=True)
    doc.saveas(tmp_path / "sq.dxf")
    doc = ezdxf.new(units=ezdxf.units.MM)
    doc.modelspace().add_lwpolyline([(0, 0), (12, 0), (0, 7)], close=True)
    doc.saveas(tmp_path / "tri.dxf")
    # drawn line by line, and written so: each part is joined up on its own
    doc = ezdxf.new(units=ezdxf.units.MM)
    for a, b in (((0, 0), (12, 0)), ((19, 7), (0, 7)), ((0, 7), (0, 0))):
        doc.modelspace().add_line(a, b)
    doc.modelspace().add_arc((12, 7), 7, 270, 0)
    doc.saveas(tmp_path / "tab.dxf")
    out = tmp_path / f"nest{ext}"
    assert main(["nest", f"{tmp_path / 'sq.dxf'}:6", f"{tmp_path / 'tri.dxf'}:5", f"{tmp_path / 'tab.dxf'}:4",
                 "--sheet", "40x40", "--gap", "0", "-o", str(out), "-q", "--check"] + (["--blocks"] if blocks else [])) == 0
    from Quarvo.cad import read_parts

    assert len(read_parts(out)) == 15


def test_a_closed_spline_through_fit_points_is_read(tmp_path):
    import math

    from Quarvo.cad import read_parts

    doc = ezdxf.new(units=ezdxf.units.MM)
    pts = [(10 * math.cos(k * math.pi / 4), 7 * math.sin(k * math.pi / 4)) for k in range(8)]
    doc.modelspace().add_spline(pts).closed = True
    doc.saveas(tmp_path / "s.dxf")
    (part,) = read_parts(tmp_path / "s.dxf")
    xs = [p[0] for p in part.transformed()]
    assert max(xs) - min(xs) == pytest.approx(20, rel=0.05)
