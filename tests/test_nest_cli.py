"""quarvo nest end to end: part drawings made as other programs make them
(ezdxf for DXF, SVG text as drawing programs write it) nested on sheets, and
the written nest read back independently with ezdxf: every part present once
with its area, no overlap, gaps at least --gap, at least --edge from the
sheet's edges, inside the sheets. Malformed drawings get one line and exit 2.
"""
import json
import math
import sys

import pytest

ezdxf = pytest.importorskip("ezdxf")
pytest.importorskip("svgelements")
np = pytest.importorskip("numpy")

import geometry_check as gc  # noqa: E402
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
    """Nested holes: a frame whose window holds a washer (a part in a hole), mm."""
    doc, msp = new_doc()
    msp.add_lwpolyline([(0, 0), (150, 0), (150, 150), (0, 150)], close=True)
    msp.add_lwpolyline([(20, 20), (130, 20), (130, 130), (20, 130)], close=True)
    msp.add_circle((75, 75), 40)
    msp.add_circle((75, 75), 15)
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


# ---------------------------------------------------------------- reading a nest back, independently


class Part:
    """One inserted block in world coordinates: rings (closed polygons) and circles."""

    def __init__(self, rings, circles, name, mirrored):
        self.rings, self.circles, self.name, self.mirrored = rings, circles, name, mirrored
        areas = sorted([(abs(gc.signed_area(r)), "ring", k) for k, r in enumerate(rings)] +
                       [(math.pi * c[2] ** 2, "circle", k) for k, c in enumerate(circles)], reverse=True)
        # the largest contour is the outline, the others its holes
        self.outline = areas[0]
        self.area = areas[0][0] - sum(a for a, _, _ in areas[1:])
        pts = [p for r in rings for p in r] + [(c[0] + dx * c[2], c[1] + dy * c[2]) for c in circles
                                              for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1))]
        xs, ys = [p[0] for p in pts], [p[1] for p in pts]
        self.box = (min(xs), min(ys), max(xs), max(ys))
        segs = [np.array([(*p, *q) for p, q in zip(r, r[1:] + r[:1])]) for r in rings]
        self.segs = np.vstack(segs) if segs else np.zeros((0, 4))
        self.circ = np.array(circles) if circles else np.zeros((0, 3))

    def inside_material(self, p):
        """Inside the outline and outside every hole."""
        kind, k = self.outline[1], self.outline[2]
        if not _inside(p, self.rings[k] if kind == "ring" else None, self.circles[k] if kind == "circle" else None):
            return False
        for j, r in enumerate(self.rings):
            if not (kind == "ring" and j == k) and _inside(p, r, None):
                return False
        for j, c in enumerate(self.circles):
            if not (kind == "circle" and j == k) and _inside(p, None, c):
                return False
        return True

    def probe(self):
        if self.rings:
            return self.rings[0][0]
        c = self.circles[0]
        return (c[0] + c[2], c[1])


def _inside(p, ring, circle):
    if circle is not None:
        return math.hypot(p[0] - circle[0], p[1] - circle[1]) < circle[2]
    return gc.in_ring(p, ring)


def _seg_seg(a, b):
    """Least distance between every segment of a (n, 4) and every one of b (m, 4)."""
    if len(a) == 0 or len(b) == 0:
        return math.inf
    A, B = a[:, None, :], b[None, :, :]
    # apart, the nearest points include an end of one segment
    d = np.minimum.reduce([_pd(A[..., 0], A[..., 1], B), _pd(A[..., 2], A[..., 3], B),
                           _pd(B[..., 0], B[..., 1], A), _pd(B[..., 2], B[..., 3], A)])

    def orient(px, py, qx, qy, rx, ry):
        return (qx - px) * (ry - py) - (qy - py) * (rx - px)

    o1 = orient(A[..., 0], A[..., 1], A[..., 2], A[..., 3], B[..., 0], B[..., 1])
    o2 = orient(A[..., 0], A[..., 1], A[..., 2], A[..., 3], B[..., 2], B[..., 3])
    o3 = orient(B[..., 0], B[..., 1], B[..., 2], B[..., 3], A[..., 0], A[..., 1])
    o4 = orient(B[..., 0], B[..., 1], B[..., 2], B[..., 3], A[..., 2], A[..., 3])
    d = np.where((o1 * o2 < 0) & (o3 * o4 < 0), 0.0, d)
    return float(d.min())


def _pd(px, py, s):
    """Distance from points (px, py) to segments s, broadcast."""
    x0, y0, x1, y1 = s[..., 0], s[..., 1], s[..., 2], s[..., 3]
    dx, dy = x1 - x0, y1 - y0
    dd = dx * dx + dy * dy
    t = np.clip(((px - x0) * dx + (py - y0) * dy) / np.where(dd > 0, dd, 1.0), 0.0, 1.0)
    return np.hypot(px - (x0 + t * dx), py - (y0 + t * dy))


def _seg_circle(s, c):
    """Least distance between segments s (n, 4) and circle boundaries c (m, 3)."""
    if len(s) == 0 or len(c) == 0:
        return math.inf
    cx, cy, r = c[None, :, 0], c[None, :, 1], c[None, :, 2]
    near = _pd(cx, cy, s[:, None, :])
    far = np.maximum(np.hypot(s[:, None, 0] - cx, s[:, None, 1] - cy), np.hypot(s[:, None, 2] - cx, s[:, None, 3] - cy))
    d = np.where((near <= r) & (r <= far), 0.0, np.minimum(np.abs(near - r), np.abs(far - r)))
    return float(d.min())


def _circle_circle(a, b):
    if len(a) == 0 or len(b) == 0:
        return math.inf
    d = np.hypot(a[:, None, 0] - b[None, :, 0], a[:, None, 1] - b[None, :, 1])
    r1, r2 = a[:, None, 2], b[None, :, 2]
    return float(np.where(d >= r1 + r2, d - r1 - r2, np.where(d <= np.abs(r1 - r2), np.abs(r1 - r2) - d, 0.0)).min())


def boundary_distance(a, b):
    return min(_seg_seg(a.segs, b.segs), _seg_circle(a.segs, b.circ), _seg_circle(b.segs, a.circ),
               _circle_circle(a.circ, b.circ))


def read_nest(path):
    """Sheets (x0, y0, x1, y1) and parts of a written nest, with ezdxf alone."""
    doc = ezdxf.readfile(path)
    msp = doc.modelspace()
    sheets, parts = {}, []
    for e in msp.query("LWPOLYLINE"):
        pts = [(p[0], p[1]) for p in e.get_points("xy")]
        xs, ys = [p[0] for p in pts], [p[1] for p in pts]
        sheets[e.dxf.layer] = (min(xs), min(ys), max(xs), max(ys))
    for ins in msp.query("INSERT"):
        m = ins.matrix44()
        rings, circles = [], []
        for e in doc.blocks[ins.dxf.name]:
            if e.dxftype() == "CIRCLE":
                c = m.transform(e.dxf.center)
                circles.append((c.x, c.y, e.dxf.radius * abs(ins.dxf.yscale)))
            elif e.dxftype() == "LWPOLYLINE":
                rings.append([(v.x, v.y) for v in m.transform_vertices([(p[0], p[1], 0) for p in e.get_points("xy")])])
        parts.append((ins.dxf.layer, Part(rings, circles, ins.dxf.name, ins.dxf.xscale < 0)))
    return sheets, parts


def assert_sound_nest(path, gap, edge, tol=1e-6):
    sheets, parts = read_nest(path)
    by_sheet = {}
    for layer, part in parts:
        assert layer in sheets, f"{part.name} on layer {layer} outside every sheet"
        by_sheet.setdefault(layer, []).append(part)
    for layer, placed in by_sheet.items():
        x0, y0, x1, y1 = sheets[layer]
        for p in placed:
            # at least the edge margin from the sheet's edges, hence inside it
            bx0, by0, bx1, by1 = p.box
            assert min(bx0 - x0, by0 - y0, x1 - bx1, y1 - by1) >= edge - tol, (p.name, p.box, sheets[layer])
        for i, a in enumerate(placed):
            for b in placed[i + 1:]:
                if (a.box[0] > b.box[2] + gap or b.box[0] > a.box[2] + gap or
                        a.box[1] > b.box[3] + gap or b.box[1] > a.box[3] + gap):
                    continue
                assert boundary_distance(a, b) >= gap - tol, (a.name, b.name)
                # apart, not one in the other's material (inside a hole is fine)
                assert not b.inside_material(a.probe()) and not a.inside_material(b.probe()), (a.name, b.name)
    return sheets, [p for _, p in parts]


# ---------------------------------------------------------------- end to end


def test_nest_of_every_kind_of_drawing_reads_back_sound(drawings, tmp_path, capsys):
    folder, areas = drawings
    counts = {"bracket": 6, "plate": 2, "flange": 3, "washer_in_frame": 1, "fin": 2, "disc": 4}
    args = [f"{folder / (name + '.dxf')}:{n}" for name, n in counts.items()] + [folder / "sheet.svg"]
    out = tmp_path / "nest.dxf"
    status, text, err = run(capsys, *args, "--sheet", "1000x600", "--gap", 8, "--edge", 10, "-o", out,
                            "--plot", tmp_path / "nest.png")
    assert status == 0, err
    assert "placed 21 of 21 items" in text and "layout check: ok" in text
    sheets, parts = assert_sound_nest(out, gap=8, edge=10)
    assert len(parts) == 21 and len(sheets) >= 1
    # every part once, with its area (curves flattened outward within a thousandth of the part)
    want = []
    for name, n in counts.items():
        a = areas[name]
        for one in (a if isinstance(a, list) else [a]):
            want += [(name, one)] * n
    got = sorted(p.area for p in parts)
    for name, a in want:
        if a is None:
            continue
        assert any(abs(g - a) <= 0.01 * a for g in got), (name, a)
    # the inch drawing came in millimetres: an 8 inch flange is 203.2 mm across
    flanges = [p for p in parts if p.circles and max(c[2] for c in p.circles) == pytest.approx(101.6)]
    assert len(flanges) == 3
    # the round part is a CIRCLE entity, its exact radius
    assert sum(1 for p in parts if not p.rings and len(p.circles) == 1 and p.circles[0][2] == pytest.approx(35)) == 4
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


def test_mirrored_parts_are_inserted_mirrored(tmp_path, capsys):
    doc, msp = new_doc()
    msp.add_lwpolyline(S_PART, close=True)
    doc.saveas(tmp_path / "s.dxf")
    out, js = tmp_path / "nest.dxf", tmp_path / "nest.json"
    args = [f"{tmp_path / 's.dxf'}:9", "--sheet", "150x105", "--gap", 1, "--rotations", "0", "--mirror"]
    assert nest(*args, "-o", out) == 0
    assert nest(*args, "-o", js) == 0
    capsys.readouterr()
    _, parts = assert_sound_nest(out, gap=1, edge=0.5)
    placements = json.loads(js.read_text())["placements"]
    flipped = [p for p in placements if p["mirrored"]]
    assert flipped and len(flipped) == sum(p.mirrored for p in parts)
    # a mirrored insert's outline is the part's mirror image: its top arm runs left of its bottom one
    for part in parts:
        ring = part.rings[0]
        low = [p[0] for p in ring if abs(p[1] - min(q[1] for q in ring)) < 1e-6]
        high = [p[0] for p in ring if abs(p[1] - max(q[1] for q in ring)) < 1e-6]
        assert (min(high) < min(low)) == part.mirrored


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


def test_job_items_name_drawings_relative_to_the_job(drawings, tmp_path, capsys, monkeypatch):
    folder, areas = drawings
    (tmp_path / "jobs" / "parts").mkdir(parents=True)
    (tmp_path / "jobs" / "parts" / "b.dxf").write_bytes((folder / "bracket.dxf").read_bytes())
    job = {"unit": "mm", "bin": {"width": 500, "height": 300, "margin": 10}, "distance": 6, "nonconvex": True,
           "items": [{"file": "parts/b.dxf", "quantity": 4, "weight": 2},
                     {"id": "pin", "type": "circle", "radius": 8, "quantity": 2}]}
    (tmp_path / "jobs" / "cut.json").write_text(json.dumps(job))
    monkeypatch.chdir(tmp_path)  # not the job's folder
    out = tmp_path / "cut.dxf"
    assert main([str(tmp_path / "jobs" / "cut.json"), "-o", str(out)]) == 0
    text = capsys.readouterr().out
    assert "placed 6 of 6" in text and "edge margin 10 mm" in text
    _, parts = assert_sound_nest(out, gap=6, edge=10)
    assert sorted(round(p.area) for p in parts)[-4:] == [round(areas["bracket"])] * 4 or \
        sum(abs(p.area - areas["bracket"]) < 0.01 * areas["bracket"] for p in parts) == 4


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
