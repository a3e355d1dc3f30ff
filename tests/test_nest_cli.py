"""quarvo nest end to end: part drawings made as other programs make them
(ezdxf for DXF, SVG text as drawing programs write it) nested on sheets, and
the written nest read back independently with ezdxf (``drawing_check``):
every part present once with its area on its drawn curves, no overlap, gaps
at least --gap and at least --edge from the sheet's edges on the true curves,
inside the sheets. Frames and title blocks are left out or refused; malformed
drawings get one line and exit 2.
"""
import json
import math
import sys

import pytest

ezdxf = pytest.importorskip("ezdxf")
pytest.importorskip("svgelements")

from drawing_check import assert_sound_nest  # noqa: E402
from Quarvo.cli import main  # noqa: E402
from test_cad import _dxf, new_doc  # noqa: E402


def nest(*args):
    return main(["nest", *map(str, args)])


def run(capsys, *args):
    status = nest(*args)
    out, err = capsys.readouterr()
    return status, out, err


# ---------------------------------------------------------------- part drawings


def bracket(path):
    """An L of LINEs and ARCs (an inner fillet), a bolt hole: mm. Area 120*30 + 30*60 - fillet - hole."""
    doc, msp = new_doc()
    msp.add_line((0, 0), (120, 0))
    msp.add_line((120, 0), (120, 30))
    msp.add_line((120, 30), (40, 30))
    msp.add_arc((40, 40), 10, 180, 270)  # concave fillet between the arms
    msp.add_line((30, 40), (30, 90))
    msp.add_line((30, 90), (0, 90))
    msp.add_line((0, 90), (0, 0))
    msp.add_circle((15, 15), 6)
    doc.saveas(path)
    return 120 * 30 + 30 * 60 + (100 - math.pi * 25) - math.pi * 36


def plate(path):
    """A 200 x 100 plate with bulge-rounded corners (radius 10) and a slot: mm."""
    doc, msp = new_doc()
    msp.add_lwpolyline([(10, 0, 0), (190, 0, 0.41421356237), (200, 10, 0), (200, 90, 0.41421356237),
                        (190, 100, 0), (10, 100, 0.41421356237), (0, 90, 0), (0, 10, 0.41421356237)],
                       format="xyb", close=True)
    msp.add_lwpolyline([(60, 40, 0), (140, 40, 1), (140, 60, 0), (60, 60, 1)], format="xyb", close=True)
    doc.saveas(path)
    return 200 * 100 - (400 - 100 * math.pi) - (80 * 20 + math.pi * 100)


def flange(path):
    """A ring with six bolt holes, drawn in inches (8 in across, 4 in bore)."""
    doc, msp = new_doc(units=1)
    msp.add_circle((0, 0), 4)
    msp.add_circle((0, 0), 2)
    for k in range(6):
        a = 2 * math.pi * k / 6
        msp.add_circle((3 * math.cos(a), 3 * math.sin(a)), 0.25)
    doc.saveas(path)
    inch = 25.4
    return math.pi * ((4 * inch) ** 2 - (2 * inch) ** 2 - 6 * (0.25 * inch) ** 2)


def washer_in_frame(path):
    """Nested holes: a frame whose window holds a washer (a part in a hole), mm, on layer CUT (a
    frame round another part is a border unless the layers are named)."""
    doc, msp = new_doc()
    cut = {"layer": "CUT"}
    msp.add_lwpolyline([(0, 0), (150, 0), (150, 150), (0, 150)], close=True, dxfattribs=cut)
    msp.add_lwpolyline([(20, 20), (130, 20), (130, 130), (20, 130)], close=True, dxfattribs=cut)
    msp.add_circle((75, 75), 40, dxfattribs=cut)
    msp.add_circle((75, 75), 15, dxfattribs=cut)
    doc.saveas(path)
    return [150 * 150 - 110 * 110, math.pi * (40 * 40 - 15 * 15)]


def fin(path):
    """A part with a SPLINE edge and an ELLIPSE hole, mm."""
    doc, msp = new_doc()
    msp.add_open_spline([(0, 0), (20, 40), (60, -20), (80, 30)], degree=3)
    msp.add_line((80, 30), (80, -50))
    msp.add_line((80, -50), (0, -50))
    msp.add_line((0, -50), (0, 0))
    msp.add_ellipse((40, -25), major_axis=(15, 0), ratio=0.5)
    doc.saveas(path)
    return None  # a spline's area is left to the reader's own flattening


def disc(path):
    """A lone CIRCLE: a round part."""
    doc, msp = new_doc()
    msp.add_circle((500, 500), 35)
    doc.saveas(path)
    return math.pi * 35 * 35


SHEET_SVG = """<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" width="120mm" height="90mm" viewBox="0 0 120 90" version="1.1">
  <g transform="translate(5,5)">
    <path id="hook" d="M 0,0 H 60 V 20 A 10,10 0 0 1 50,30 H 0 Z M 10,10 C 10,5 20,5 20,10 C 20,15 10,15 10,10 Z"/>
    <rect id="tab" x="70" y="0" width="40" height="30" rx="5" ry="5"/>
  </g>
</svg>
"""


def svg_parts(path):
    path.write_text(SHEET_SVG)
    return None


@pytest.fixture(scope="module")
def drawings(tmp_path_factory):
    folder = tmp_path_factory.mktemp("parts")
    areas = {}
    for make in (bracket, plate, flange, washer_in_frame, fin, disc):
        path = folder / f"{make.__name__}.dxf"
        areas[make.__name__] = make(path)
    svg_parts(folder / "sheet.svg")
    return folder, areas


# ---------------------------------------------------------------- end to end


def test_nest_of_every_kind_of_drawing_reads_back_sound(drawings, tmp_path, capsys):
    folder, areas = drawings
    counts = {"bracket": 6, "plate": 2, "flange": 3, "washer_in_frame": 1, "fin": 2, "disc": 4}
    args = [f"{folder / (name + '.dxf')}:{n}" for name, n in counts.items()] + [folder / "sheet.svg"]
    out = tmp_path / "nest.dxf"
    status, text, err = run(capsys, *args, "--sheet", "1000x600", "--gap", 8, "--edge", 10, "-o", out,
                            "--plot", tmp_path / "nest.png", "--layers", "0,cut")
    assert status == 0, err
    assert "placed 21 of 21 items" in text and "layout check: ok" in text
    sheets, parts = assert_sound_nest(out, gap=8, edge=10)
    assert len(parts) == 21 and len(sheets) >= 1
    # every part once, with its area: the drawing's own curves
    want = []
    for name, n in counts.items():
        a = areas[name]
        for one in (a if isinstance(a, list) else [a]):
            want += [(name, one)] * n
    got = sorted(p.area for p in parts)
    for name, a in want:
        if a is None:
            continue
        assert any(abs(g - a) <= 1e-9 * a for g in got), (name, a)
    # the inch drawing came in millimetres: an 8 inch flange is 203.2 mm across
    flanges = [p for p in parts if p.circles and max(c[2] for c in p.circles) == pytest.approx(101.6)]
    assert len(flanges) == 3
    # the round part is a CIRCLE entity, its exact radius
    assert sum(1 for p in parts if len(p.curves) == 1 and p.circles and p.circles[0][2] == pytest.approx(35)) == 4
    assert (tmp_path / "nest.png").stat().st_size > 0


def test_nest_as_svg_and_json(drawings, tmp_path, capsys):
    folder, _ = drawings
    svg, doc = tmp_path / "nest.svg", tmp_path / "nest.json"
    for out in (svg, doc):
        status, _, err = run(capsys, f"{folder / 'bracket.dxf'}:3", folder / "disc.dxf", "--sheet", "400x300",
                             "--gap", 5, "--edge", 7, "-o", out)
        assert status == 0, err
    text = svg.read_text()
    assert 'viewBox="0 0 400.0 300.0"' in text and 'width="400.0mm"' in text
    assert text.count('class="part"') == 4 and "<circle" in text
    result = json.loads(doc.read_text())
    assert result["bin"] == {"width": 400.0, "height": 300.0, "margin": 7.0}
    assert result["unit"] == "mm" and len(result["placements"]) == 4
    for rec in result["placements"]:
        xs = [p[0] for p in rec["contour"]]
        ys = [p[1] for p in rec["contour"]]
        assert min(xs) >= 7 - 1e-6 and min(ys) >= 7 - 1e-6 and max(xs) <= 393 + 1e-6 and max(ys) <= 293 + 1e-6


S_PART = [(0, 0), (40, 0), (40, 20), (60, 20), (60, 40), (20, 40), (20, 20), (0, 20)]


def test_mirrored_parts_are_written_mirrored(tmp_path, capsys):
    doc, msp = new_doc()
    msp.add_lwpolyline(S_PART, close=True)
    doc.saveas(tmp_path / "s.dxf")
    exploded, blocks, js = tmp_path / "nest.dxf", tmp_path / "blocks.dxf", tmp_path / "nest.json"
    args = [f"{tmp_path / 's.dxf'}:9", "--sheet", "150x105", "--gap", 1, "--rotations", "0", "--mirror"]
    assert nest(*args, "-o", exploded) == 0
    assert nest(*args, "-o", blocks, "--blocks") == 0
    assert nest(*args, "-o", js) == 0
    capsys.readouterr()
    placements = json.loads(js.read_text())["placements"]
    assert any(p["mirrored"] for p in placements) and not all(p["mirrored"] for p in placements)
    for out in (exploded, blocks):
        sheets, parts = assert_sound_nest(out, gap=1, edge=0.5)
        assert len(parts) == 9
        for part in parts:
            # a mirrored part's outline is the part's mirror image: its top arm runs left of its bottom one
            ends = [q for c in part.curves for q in (c[1], c[2])]
            low = [x for x, y in ends if abs(y - part.box[1]) < 1e-6]
            high = [x for x, y in ends if abs(y - part.box[3]) < 1e-6]
            ox = sheets[part.sheet][0]
            (placed,) = [p for p in placements if p["bin"] + 1 == part.sheet
                         and min(x for x, _ in p["contour"]) + ox == pytest.approx(part.box[0])
                         and min(y for _, y in p["contour"]) == pytest.approx(part.box[1])]
            assert (min(high) < min(low)) == placed["mirrored"]
            if out == blocks:
                assert part.mirrored == placed["mirrored"]  # inserted with x scale -1


def framed_bracket(path, frame_layer):
    """The bracket drawn on CUT, its bolt hole and slot on HOLES, inside a drawing frame with a title block."""
    doc, msp = new_doc()
    doc.layers.add("CUT")
    msp.add_lwpolyline([(0, 0), (120, 0), (120, 30), (30, 30), (30, 90), (0, 90)], close=True,
                       dxfattribs={"layer": "CUT"})
    msp.add_circle((15, 15), 6, dxfattribs={"layer": "HOLES"})
    msp.add_lwpolyline([(50, 10, 0), (90, 10, 1), (90, 20, 0), (50, 20, 1)], format="xyb", close=True,
                       dxfattribs={"layer": "HOLES"})
    for ring in ([(-40, -40), (260, -40), (260, 160), (-40, 160)], [(160, -35), (255, -35), (255, -5), (160, -5)]):
        msp.add_lwpolyline(ring, close=True, dxfattribs={"layer": frame_layer})
    msp.add_text("BRACKET 7", dxfattribs={"layer": "TEXT"})
    doc.saveas(path)
    return 120 * 30 + 30 * 60 - math.pi * 36 - (40 * 10 + math.pi * 25)


def test_a_frame_is_left_out_by_its_layer_or_refused_as_a_border(tmp_path, capsys):
    area = framed_bracket(tmp_path / "usual.dxf", "BORDER")
    framed_bracket(tmp_path / "own.dxf", "Rahmen")
    out = tmp_path / "nest.dxf"
    # the frame on a layer frames are drawn on is left out: one bracket with its two holes, six times
    status, text, err = run(capsys, f"{tmp_path / 'usual.dxf'}:6", "--sheet", "500x400", "--gap", 5, "-o", out)
    assert status == 0, err
    _, parts = assert_sound_nest(out, gap=5, edge=2.5)
    assert len(parts) == 6 and all(p.area == pytest.approx(area, rel=1e-9) for p in parts)
    # on a layer of another name it is refused, nothing written, until the part layers are named
    out.unlink()
    status, text, err = run(capsys, tmp_path / "own.dxf", "--sheet", "500x400", "-o", out)
    assert status == 2 and text == "" and err.count("\n") == 1 and not out.exists()
    assert "own.dxf: contour (LWPOLYLINE" in err and "looks like a border; name the part layers with --layers" in err
    status, text, err = run(capsys, f"{tmp_path / 'own.dxf'}:6", "--sheet", "500x400", "--gap", 5, "-o", out,
                            "--layers", "cut,HOLES")
    assert status == 0, err
    _, parts = assert_sound_nest(out, gap=5, edge=2.5)
    assert len(parts) == 6 and all(p.area == pytest.approx(area, rel=1e-9) for p in parts)
    # a job names them in its drawing item
    job = {"bin": {"width": 500, "height": 400}, "distance": 5,
           "items": [{"file": "own.dxf", "quantity": 2, "layers": ["CUT", "HOLES"]}]}
    (tmp_path / "job.json").write_text(json.dumps(job))
    assert main([str(tmp_path / "job.json"), "-o", str(tmp_path / "job.dxf"), "-q"]) == 0
    _, parts = assert_sound_nest(tmp_path / "job.dxf", gap=5, edge=2.5)
    assert len(parts) == 2
    (tmp_path / "job.json").write_text(json.dumps({**job, "items": [{"file": "own.dxf"}]}))
    assert main([str(tmp_path / "job.json"), "-q"]) == 2
    assert "items[0].file: own.dxf: contour" in capsys.readouterr().err


def test_strip_sheet_reports_its_used_length(drawings, tmp_path, capsys):
    folder, _ = drawings
    out = tmp_path / "coil.dxf"
    status, text, _ = run(capsys, f"{folder / 'plate.dxf'}:5", "--sheet", "450", "--gap", 4, "--edge", 6,
                          "--time", 0.3, "-o", out)
    assert status == 0 and "used length" in text and "compression" in text
    sheets, parts = assert_sound_nest(out, gap=4, edge=0)
    (x0, y0, x1, y1), = sheets.values()
    assert x1 - x0 == 450 and len(parts) == 5
    # the edge margin at the sides and the floor; the open end is no edge
    assert min(p.box[0] for p in parts) >= 6 - 1e-6 and min(p.box[1] for p in parts) >= 6 - 1e-6
    assert max(p.box[2] for p in parts) <= 450 - 6 + 1e-6


def largest_rectangle_at_the_top(boxes, width, height):
    """By brute force: the largest w x h of a rectangle clear of the boxes whose top is the sheet's."""
    xs = sorted({0.0, width, *(min(max(v, 0.0), width) for b in boxes for v in (b[0], b[2]))})
    best = 0.0
    for i, x0 in enumerate(xs):
        for x1 in xs[i + 1:]:
            floor = max([b[3] for b in boxes if b[0] < x1 and b[2] > x0], default=0.0)
            best = max(best, (x1 - x0) * (height - floor))
    return best


def test_the_report_per_sheet_is_what_the_nest_gives(tmp_path, capsys):
    import csv

    framed_bracket(tmp_path / "bracket.dxf", "Border")
    flange(tmp_path / "flange.dxf")
    out, doc, report, pic = tmp_path / "nest.dxf", tmp_path / "nest.json", tmp_path / "sheets.csv", tmp_path / "p.svg"
    args = [f"{tmp_path / 'bracket.dxf'}:14", f"{tmp_path / 'flange.dxf'}:3", "--sheet", "600x400", "--gap", 6,
            "--edge", 8, "--mirror", "--rotations", "0,90"]
    status, text, err = run(capsys, *args, "-o", out, "--report", report, "--plot", pic)
    assert status == 0, err
    assert nest(*args, "-o", doc, "-q") == 0
    result = json.loads(doc.read_text())
    sheets, parts = assert_sound_nest(out, gap=6, edge=8)
    rows = list(csv.DictReader(report.read_text(encoding="utf-8").splitlines()))
    placements = result["placements"]
    assert [p["sheet"] for p in placements] == [p["bin"] + 1 for p in placements]
    # the frame's layer is named in the summary as left out
    assert "layers left out" in text and "bracket.dxf: Border" in text
    for rec in result["bins"]:
        n = rec["sheet"]
        assert n == rec["bin"] + 1
        on = [p for p in parts if p.sheet == n]
        x0, y0, x1, y1 = sheets[n]
        # the true areas, the highest point and the leftover of the curves read back
        area = sum(p.area for p in on)
        used = max(p.box[3] for p in on) - y0
        boxes = [(p.box[0] - x0, p.box[1] - y0, p.box[2] - x0, p.box[3] - y0) for p in on]
        assert rec["utilisation"] == pytest.approx(area / (600 * 400), rel=1e-9)
        assert rec["used_length"] == pytest.approx(used, abs=1e-9)
        left = rec["leftover"]
        assert left["y"] + left["height"] == pytest.approx(400) and 0 <= left["x"] <= left["x"] + left["width"] <= 600
        assert all(b[2] <= left["x"] + 1e-9 or b[0] >= left["x"] + left["width"] - 1e-9 or b[3] <= left["y"] + 1e-9
                   for b in boxes)
        assert left["width"] * left["height"] == pytest.approx(largest_rectangle_at_the_top(boxes, 600, 400))
        mirrored = sum(p["mirrored"] for p in placements if p["sheet"] == n)
        assert rec["mirrored"] == mirrored
        assert sum(c["count"] for c in rec["parts"]) == len(on) == rec["items"]
        # the summary, the report file and the picture say the same
        line = f"sheet {n}: {len(on)} parts" + (f" ({mirrored} mirrored)" if mirrored else "")
        assert f"{line}, utilisation {100 * rec['utilisation']:.1f}%, used length {rec['used_length']:.6g} mm" in text
        total = next(r for r in rows if r["sheet"] == str(n) and r["part"] == "total")
        assert float(total["utilisation"]) == pytest.approx(rec["utilisation"], rel=1e-9)
        assert float(total["used_length"]) == pytest.approx(used, abs=1e-6)
        assert float(total["leftover_width"]) * float(total["leftover_height"]) == \
            pytest.approx(left["width"] * left["height"], rel=1e-9)
        assert {(r["part"], int(r["count"]), int(r["mirrored"])) for r in rows if r["sheet"] == str(n)} - \
            {("total", len(on), mirrored)} == {(c["id"], c["count"], c["mirrored"]) for c in rec["parts"]}
        assert f"sheet {n}: {len(on)} parts, {100 * rec['utilisation']:.1f}% used, used length " \
               f"{rec['used_length']:.6g} mm" in pic.read_text()
    # each drawn part's map from its drawing to its sheet: the flanges' bolt holes land on their written circles
    circles = [(c[1], c[2]) for p in parts for c in p.circles]
    for p in placements:
        if p["id"] == "flange":
            a, b, c, d, e, f = p["drawing_to_sheet"]
            ox = sheets[p["sheet"]][0]
            for k in range(6):
                x, y = 3 * 25.4 * math.cos(2 * math.pi * k / 6), 3 * 25.4 * math.sin(2 * math.pi * k / 6)
                at = (a * x + b * y + e + ox, c * x + d * y + f)
                assert any(math.dist(at, q) < 1e-9 and r == pytest.approx(6.35) for q, r in circles)
    # mirrored parts are marked in the picture: dashed, and named in its legend
    flipped = sum(p["mirrored"] for p in placements)
    assert flipped and pic.read_text().count("stroke-dasharray") == flipped + 1
    assert f"dashed outline: mirrored ({flipped})" in pic.read_text()


@pytest.mark.parametrize("name", ["sheets.docx", "sheets"])
def test_a_report_of_an_unknown_type_is_refused_before_packing(drawings, tmp_path, capsys, name):
    folder, _ = drawings
    status, text, err = run(capsys, folder / "disc.dxf", "--sheet", "100x100", "--report", tmp_path / name,
                            "-o", tmp_path / "n.dxf")
    assert status == 2 and text == "" and "--report: unsupported report type" in err and "(use .pdf, .csv)" in err
    assert list(tmp_path.iterdir()) == []


def test_job_items_name_drawings_relative_to_the_job(drawings, tmp_path, capsys, monkeypatch):
    folder, areas = drawings
    (tmp_path / "jobs" / "parts").mkdir(parents=True)
    (tmp_path / "jobs" / "parts" / "b.dxf").write_bytes((folder / "bracket.dxf").read_bytes())
    job = {"unit": "mm", "bin": {"width": 500, "height": 300, "margin": 10}, "distance": 6,
           "items": [{"file": "parts/b.dxf", "quantity": 4, "weight": 2},
                     {"id": "pin", "type": "circle", "radius": 8, "quantity": 2}]}
    (tmp_path / "jobs" / "cut.json").write_text(json.dumps(job))
    monkeypatch.chdir(tmp_path)  # not the job's folder
    out = tmp_path / "cut.dxf"
    assert main([str(tmp_path / "jobs" / "cut.json"), "-o", str(out)]) == 0
    text = capsys.readouterr().out
    assert "placed 6 of 6" in text and "edge margin 10 mm" in text
    _, parts = assert_sound_nest(out, gap=6, edge=10)
    assert sum(abs(p.area - areas["bracket"]) < 1e-9 * areas["bracket"] for p in parts) == 4


def test_a_job_of_drawings_packs_as_quarvo_nest_unless_it_says_otherwise(drawings, tmp_path, capsys):
    folder, _ = drawings
    for name in ("bracket", "washer_in_frame", "flange"):
        (tmp_path / f"{name}.dxf").write_bytes((folder / f"{name}.dxf").read_bytes())
    items = [{"file": "bracket.dxf", "quantity": 5}, {"file": "washer_in_frame.dxf", "layers": ["CUT"]},
             {"file": "flange.dxf", "quantity": 2}]
    job = {"unit": "mm", "bin": {"width": 600, "height": 400, "margin": 10}, "distance": 8, "items": items}
    (tmp_path / "job.json").write_text(json.dumps(job))
    assert main([str(tmp_path / "job.json"), "-o", str(tmp_path / "job.json.out.json"), "-q"]) == 0
    assert nest(*[f"{tmp_path / n}.dxf:{q}" for n, q in (("bracket", 5),)], f"{tmp_path / 'washer_in_frame.dxf'}",
                f"{tmp_path / 'flange.dxf'}:2", "--layers", "CUT,0", "--sheet", "600x400", "--gap", 8, "--edge", 10,
                "-o", tmp_path / "nest.json", "-q") == 0
    by_job = json.loads((tmp_path / "job.json.out.json").read_text())
    by_nest = json.loads((tmp_path / "nest.json").read_text())
    # non-convex brackets, the washer in the frame's window, the flanges' bores: the same nest, part for part
    assert by_job["unplaced"] == [] and len(by_job["placements"]) == 9
    assert [(p["tx"], p["ty"], p["rotation"]) for p in by_job["placements"]] == \
        [(p["tx"], p["ty"], p["rotation"]) for p in by_nest["placements"]]
    # a job that says otherwise is taken at its word: convex outlines only leave the brackets out
    (tmp_path / "job.json").write_text(json.dumps({**job, "nonconvex": False}))
    assert main([str(tmp_path / "job.json"), "-o", str(tmp_path / "convex.json"), "-q"]) == 0
    unplaced = json.loads((tmp_path / "convex.json").read_text())["unplaced"]
    assert [u["id"] for u in unplaced] == ["bracket"] * 5 and "non-convex" in unplaced[0]["reason"]
    capsys.readouterr()


# ---------------------------------------------------------------- refusals


def _bytes(data):
    return lambda path: path.write_bytes(data)


MALFORMED = [
    ("open.dxf", _dxf(lambda m: (m.add_line((0, 0), (120, 0)), m.add_line((120, 0), (120, 35)))), "open contour"),
    ("crossing.dxf", _dxf(lambda m: m.add_lwpolyline([(0, 0), (10, 10), (10, 0), (0, 10)], close=True)),
     "crosses itself"),
    ("empty.dxf", _bytes(b""), "not a readable DXF file"),
    ("blank.svg", _bytes(b'<svg xmlns="http://www.w3.org/2000/svg" width="10mm" height="10mm"></svg>'),
     "no closed contour"),
    ("garbage.dxf", _bytes(bytes(range(256)) * 16), "not a readable DXF file"),
    ("garbage.svg", _bytes(b"\x00\x01\x02PK\x03\x04 binary"), "not a readable SVG file"),
    ("huge.dxf", _dxf(lambda m: m.add_lwpolyline([(0, 0), (1e15, 0), (1e15, 5), (0, 5)], close=True)), "beyond"),
    ("huge.svg", _bytes(b'<svg xmlns="http://www.w3.org/2000/svg"><rect id="r" width="1e300" height="2"/></svg>'),
     "beyond"),
    ("missing.dxf", None, "no such file"),
]


@pytest.mark.parametrize("name, make, words", MALFORMED, ids=[m[0] for m in MALFORMED])
def test_malformed_drawings_one_line_exit_2_nothing_written(drawings, tmp_path, capsys, name, make, words):
    folder, _ = drawings
    bad = tmp_path / name
    if make is not None:
        make(bad)
    out, pic = tmp_path / "nest.dxf", tmp_path / "nest.svg"
    status, text, err = run(capsys, folder / "plate.dxf", bad, "--sheet", "1000x600", "-o", out, "--plot", pic)
    assert status == 2 and text == ""
    assert err.count("\n") == 1 and err.startswith("quarvo nest: error: ") and words in err and name in err
    assert not out.exists() and not pic.exists()
    assert sorted(p.name for p in tmp_path.iterdir()) == ([name] if make else [])


BAD_ARGS = [
    (["--sheet", "3000by1500"], "--sheet"),
    (["--sheet", "0x100"], "--sheet"),
    (["--sheet", "100x100", "--gap", "-1"], "--gap"),
    (["--sheet", "100x100", "--edge", "nan"], "--edge"),
    (["--sheet", "100x100", "--rotations", "0,ninety"], "--rotations"),
    (["--sheet", "100x100", "--time", "-5"], "--time"),
    (["--sheet", "100x100", "-o", "nest.dwg"], "--output"),
    (["--sheet", "100x100", "--plot", "nest.pdf"], "--plot"),
    (["--sheet", "100x100", "{part}:0"], "at least 1"),
]


@pytest.mark.parametrize("extra, words", BAD_ARGS, ids=[" ".join(a) for a, _ in BAD_ARGS])
def test_bad_arguments_one_line_exit_2(drawings, tmp_path, capsys, monkeypatch, extra, words):
    folder, _ = drawings
    monkeypatch.chdir(tmp_path)
    status, text, err = run(capsys, folder / "disc.dxf", *[a.format(part=folder / "disc.dxf") for a in extra])
    assert status == 2 and text == "" and err.count("\n") == 1 and words in err
    assert list(tmp_path.iterdir()) == []


def test_without_the_extra_nest_names_it(drawings, capsys, monkeypatch):
    folder, _ = drawings
    monkeypatch.setitem(sys.modules, "ezdxf", None)
    status, _, err = run(capsys, folder / "disc.dxf", "--sheet", "100x100")
    assert status == 2 and 'pip install "Quarvo[cad]"' in err and err.count("\n") == 1


@pytest.mark.parametrize("name, content", [
    ("part.dxf", b"  0\nSECTION\n  2\nENTITIES\n  0\nENDSEC\n  0\nEOF\n"),
    ("part.svg", b'<svg xmlns="http://www.w3.org/2000/svg"/>'),
    ("drawing.json", b'<?xml version="1.0"?>\n<svg xmlns="http://www.w3.org/2000/svg"/>'),
    ("drawing.job", b"  0\nSECTION\n  2\nHEADER\n"),
])
def test_a_drawing_given_as_the_job_points_to_nest(tmp_path, capsys, name, content):
    path = tmp_path / name
    path.write_bytes(content)
    status = main([str(path)])
    _, err = capsys.readouterr()
    assert status == 2 and err.count("\n") == 1 and "quarvo nest" in err and "not valid JSON" not in err


JOB_FILE_FAULTS = [
    ({"file": "ok.dxf", "unit": "ft"}, "items[0].file", '"unit" "ft" is none of mm, cm, m, in'),
    ({"file": "nowhere.dxf"}, "items[0].file: ", "no such file"),
    ({"file": "bad.dxf"}, "items[0].file: ", "open contour"),
    ({"file": "ok.dxf", "radius": 3}, "items[0]", "unknown field"),
    ({"file": 7}, "items[0].file", "must be a text"),
    ({"file": "ok.dxf", "tolerance": 0}, "items[0].tolerance", "positive"),
]


@pytest.mark.parametrize("item, where, words", JOB_FILE_FAULTS, ids=[w for _, _, w in JOB_FILE_FAULTS])
def test_job_items_naming_drawings_are_checked(tmp_path, capsys, item, where, words):
    doc, msp = new_doc()
    msp.add_lwpolyline([(0, 0), (10, 0), (10, 10), (0, 10)], close=True)
    doc.saveas(tmp_path / "ok.dxf")
    doc, msp = new_doc()
    msp.add_line((0, 0), (10, 0))
    doc.saveas(tmp_path / "bad.dxf")
    item = dict(item)
    unit = item.pop("unit", "mm")  # a job field, given with the item it concerns
    (tmp_path / "job.json").write_text(json.dumps({"unit": unit, "bin": {"width": 100, "height": 100},
                                                   "items": [item]}))
    status = main([str(tmp_path / "job.json"), "-o", str(tmp_path / "out.json")])
    _, err = capsys.readouterr()
    assert status == 2 and err.count("\n") == 1 and where in err and words in err
    assert not (tmp_path / "out.json").exists()
