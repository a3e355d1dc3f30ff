"""The plan picture as SVG: geometry in job units (one user unit per job unit,
y up), drawn by the package's SVG writer: colours by kind, labels only where
they fit, titles and a legend. The files are read back with the standard
library's XML parser."""
import json
import math
import re
import xml.etree.ElementTree as ET

import pytest

pytest.importorskip("numpy")

from Quarvo.geometry import Circle, Pipe, Polygon  # noqa: E402
from Quarvo.visualize_plan import write_plan_svg  # noqa: E402

NS = {"s": "http://www.w3.org/2000/svg"}


def square(x, y, s, shape_id=0, kind=None):
    p = Polygon([(0, 0), (s, 0), (s, s), (0, s)], shape_id=shape_id)
    p.set_position(x, y)
    if kind is not None:
        p.kind = kind
    return p


def disc(x, y, r, shape_id=0):
    c = Circle(r, shape_id=shape_id)
    c.set_position(x, y)
    return c


def parse(path):
    root = ET.parse(path).getroot()
    view = [float(v) for v in root.get("viewBox").split()]
    return root, view


def parts(root):
    return root.findall(".//s:g[@id='layout']//*[@class='part']", NS)


def path_points(d):
    nums = [float(v) for v in re.findall(r"-?[\d.]+(?:e-?\d+)?", d)]
    return list(zip(nums[0::2], nums[1::2]))


def texts(root, group):
    return [(t.text, float(t.get("x")), float(t.get("y")), float(t.get("font-size")))
            for t in root.findall(f".//s:g[@id='{group}']/s:text", NS)]


@pytest.fixture
def two_bins(tmp_path):
    bins = [[square(10, 10, 120, "plate-1"), square(150, 10, 120, "plate-2"), disc(100, 160, 30, "pin-1")],
            [square(10, 10, 3, "chip-1"), square(40, 40, 100, "plate-3")]]
    path = tmp_path / "plan.svg"
    write_plan_svg(bins, 300, 200, path, title="two sheets")
    return bins, path


def test_viewbox_and_page_size_in_job_units(two_bins):
    _, path = two_bins
    root, (x0, y0, w, h) = parse(path)
    # the sheets span 300 + 15 + 300 units from x = 0; the view holds them, the titles and the legend
    sheets = root.findall(".//s:rect[@class='quarvo-sheet']", NS)
    assert [(float(r.get("x")), float(r.get("width")), float(r.get("height"))) for r in sheets] == \
        [(0.0, 300.0, 200.0), (315.0, 300.0, 200.0)]
    assert x0 < 0 and y0 < 0 and x0 + w > 615 and y0 + h >= 200
    # it measures true: the page is as many millimetres as the view has units
    assert root.get("width") == f"{w!r}mm" and root.get("height") == f"{h!r}mm"


def test_y_up_parts_at_their_job_coordinates(two_bins):
    bins, path = two_bins
    root, _ = parse(path)
    layout = root.find(".//s:g[@id='layout']", NS)
    assert layout.get("transform") == "matrix(1 0 0 -1 0 200.0)"  # y flipped about the sheets' top
    drawn = parts(root)
    assert len(drawn) == 5
    first = path_points(drawn[0].get("d"))
    assert sorted(first) == sorted(set(map(tuple, bins[0][0].transformed())))
    (pin,) = [p for p in drawn if p.tag.endswith("circle")]
    assert (float(pin.get("cx")), float(pin.get("cy")), float(pin.get("r"))) == (100.0, 160.0, 30.0)
    # the second sheet's parts are moved right by its offset only
    assert min(x for x, _ in path_points(drawn[4].get("d"))) == pytest.approx(315 + 40)


def test_colours_by_kind_and_a_legend_of_kinds(two_bins):
    _, path = two_bins
    root, _ = parse(path)
    fills = {p.get("data-shape-id"): p.get("fill") for p in parts(root)}
    assert fills["plate-1"] == fills["plate-2"] == fills["plate-3"]
    assert len({fills["plate-1"], fills["pin-1"], fills["chip-1"]}) == 3
    legend = [t for t, *_ in texts(root, "legend")]
    assert legend == ["5 items", "chip  \u00d7 1", "pin  \u00d7 1", "plate  \u00d7 3"]
    swatches = [r.get("fill") for r in root.findall(".//s:g[@id='legend']/s:rect", NS)]
    assert swatches == [fills["chip-1"], fills["pin-1"], fills["plate-1"]]


def test_labels_only_where_they_fit_and_inside_their_item(two_bins):
    bins, path = two_bins
    root, _ = parse(path)
    labels = texts(root, "labels")
    assert sorted(t for t, *_ in labels) == ["pin", "plate", "plate", "plate"]  # the 3 unit chip has none
    offsets = {id(it): k * 315.0 for k, b in enumerate(bins) for it in b}
    for text, x, y, size in labels:
        jy = 200 - y  # back to job coordinates
        box_w, box_h = 0.6 * size * len(text), size
        hosts = [it for b in bins for it in b
                 if it.bounding_box()[0] + offsets[id(it)] <= x - box_w / 2
                 and x + box_w / 2 <= it.bounding_box()[2] + offsets[id(it)]
                 and it.bounding_box()[1] <= jy - box_h / 2 and jy + box_h / 2 <= it.bounding_box()[3]]
        assert hosts, (text, x, y)


def test_titles_name_the_picture_and_every_sheet(two_bins):
    _, path = two_bins
    root, (_, y0, _, _) = parse(path)
    titles = texts(root, "titles")
    assert [t for t, *_ in titles] == ["two sheets", "bin 1: 3 items", "bin 2: 2 items"]
    assert all(y0 <= y < 0 for _, _, y, _ in titles)  # above the sheets, within the view
    assert titles[2][1] == 315.0


def test_mirrored_parts_are_drawn_mirrored(tmp_path):
    ell = Polygon([(0, 0), (30, 0), (30, 10), (10, 10), (10, 40), (0, 40)], shape_id="ell")
    ell.mirrored = True
    ell.set_position(50, 5)
    write_plan_svg([[ell]], 100, 50, tmp_path / "m.svg")
    root, _ = parse(tmp_path / "m.svg")
    (drawn,) = parts(root)
    pts = path_points(drawn.get("d"))
    assert sorted(pts) == sorted(set(map(tuple, ell.transformed())))
    assert min(x for x, _ in pts) == 20.0 and max(x for x, _ in pts) == 50.0


@pytest.mark.parametrize("unit, size_unit", [("mm", "mm"), ("cm", "cm"), ("in", "in"), ("m", "cm")])
def test_page_size_in_the_jobs_unit(tmp_path, unit, size_unit):
    write_plan_svg([[square(1, 1, 5)]], 20, 10, tmp_path / "u.svg", unit=unit)
    root, (_, _, w, _) = parse(tmp_path / "u.svg")
    factor = 100.0 if unit == "m" else 1.0
    assert root.get("width") == f"{w * factor!r}{size_unit}"


def test_strip_is_drawn_to_its_used_length(tmp_path):
    write_plan_svg([[square(0, 0, 10), square(0, 12, 10)]], 50, None, tmp_path / "s.svg")
    root, _ = parse(tmp_path / "s.svg")
    (sheet,) = root.findall(".//s:rect[@class='quarvo-sheet']", NS)
    assert float(sheet.get("height")) == 22.0
    assert [t for t, *_ in texts(root, "titles")] == ["bin 1: 2 items, used length 22"]


@pytest.mark.parametrize("kw, words", [({"bin_w": 0}, "bin_w"), ({"bin_h": -1}, "bin_h"), ({"unit": "ft"}, "unit")])
def test_bad_arguments(tmp_path, kw, words):
    args = dict(bin_w=10, bin_h=10, unit="mm")
    args.update(kw)
    with pytest.raises(ValueError, match=words):
        write_plan_svg([[square(0, 0, 1)]], args["bin_w"], args["bin_h"], tmp_path / "x.svg", unit=args["unit"])
    assert not (tmp_path / "x.svg").exists()


def test_command_line_svg_picture_is_in_job_units(tmp_path, monkeypatch):
    from Quarvo.cli import main

    job = {"unit": "cm", "bin": {"width": 120, "height": 80, "margin": 2}, "distance": 1,
           "items": [{"id": "tile", "type": "polygon", "outer": [[0, 0], [30, 0], [30, 20], [0, 20]], "quantity": 3},
                     {"id": "pipe", "type": "circle", "radius": 9, "quantity": 2}]}
    (tmp_path / "job.json").write_text(json.dumps(job))
    out = tmp_path / "plan.svg"
    assert main([str(tmp_path / "job.json"), "--plot", str(out), "--quiet"]) == 0
    root, (_, _, w, _) = parse(out)
    assert root.get("width") == f"{w!r}cm"
    assert len(parts(root)) == 5
    circles = [p for p in parts(root) if p.tag.endswith("circle")]
    assert all(float(c.get("r")) == 9.0 and float(c.get("cx")) >= 11.0 - 1e-9 for c in circles)
    assert sorted(t for t, *_ in texts(root, "legend"))[1:] == ["pipe  \u00d7 2", "tile  \u00d7 3"]


@pytest.mark.matplotlib
def test_plot_layout_plan_svg_is_the_job_units_picture(tmp_path):
    pytest.importorskip("matplotlib")
    import matplotlib

    matplotlib.use("Agg")
    from Quarvo.visualize import plot_layout

    fig = plot_layout([[square(0, 0, 5, "a-1")]], 10, 10, out_path=str(tmp_path / "p.svg"), style="plan")
    assert fig is not None
    root, view = parse(tmp_path / "p.svg")
    assert root.find(".//s:rect[@class='quarvo-sheet']", NS).get("width") == "10.0"
    assert math.isclose(view[2] * 1.0, float(root.get("width")[:-2]))


@pytest.mark.parametrize("length, unit", [(None, "kg/m"), (6.0, "kg")])
def test_masses_in_their_unit_and_the_payload_of_the_bin_list_itself(tmp_path, length, unit):
    # a pipe without a length carries its mass per metre; a bin list may carry its own payload
    class Load(list):
        pass

    pipes = Load()
    for k in range(2):
        p = Pipe(219.1, 8.18, length=length, shape_id=f"P-{k + 1}")
        p.set_position(120 + 240 * k, 120)
        pipes.append(p)
    pipes.max_load = 5000.0
    write_plan_svg([pipes], 600, 300, tmp_path / "p.svg", max_load=100000.0)
    root, _ = parse(tmp_path / "p.svg")
    mass = sum(p.mass for p in pipes)
    shown = f"{mass:.3g} {unit}" if mass < 100 else f"{mass:,.0f}".replace(",", "\u2009") + f" {unit}"
    assert [t for t, *_ in texts(root, "titles")] == \
        [f"bin 1: 2 items, {shown} ({100 * mass / 5000:.0f}% of 5\u2009000 kg)"]
    assert [t for t, *_ in texts(root, "legend")][0].endswith(f", {shown}")
