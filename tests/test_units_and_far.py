"""Every promise at every unit and place: a job's pipes, catalogue sizes and
carriers in inches or metres weigh and measure as in millimetres, and a
drawing far from its origin reads as it would at the origin."""
import math

import pytest

from Quarvo.job import JobError, parse_job
from Quarvo.job.packing import check, pack
from Quarvo.report.document import result_document

MM = {"mm": 1.0, "cm": 10.0, "m": 1000.0, "in": 25.4}


def packed(job):
    result = pack(parse_job(job))
    result.check = check(result)
    return result, result_document(result)


@pytest.mark.parametrize("unit", ["mm", "cm", "m", "in"])
@pytest.mark.parametrize("given", ["od", "size"])
def test_pipes_weigh_and_measure_the_same_in_every_unit(unit, given):
    k = MM[unit]
    pipe = {"type": "pipe", "length": 6, "quantity": 3}
    # NPS 4 STD: 114.3 x 6.02 mm
    pipe.update({"od": 114.3 / k, "wall": 6.02 / k} if given == "od" else {"size": "NPS 4", "schedule": "STD"})
    result, doc = packed({"unit": unit, "bin": {"width": 1000 / k, "height": 1000 / k}, "items": [pipe]})
    assert result.check.ok and not doc["unplaced"]
    steel = 7850 * math.pi / 4 * (114.3 ** 2 - (114.3 - 2 * 6.02) ** 2) * 1e-6 * 6
    assert [p["mass"] for p in doc["placements"]] == pytest.approx([steel] * 3, rel=1e-9)
    assert [p["od"] for p in doc["placements"]] == pytest.approx([114.3 / k] * 3, rel=1e-12)
    assert [2 * p["radius"] for p in doc["placements"]] == pytest.approx([114.3 / k] * 3, rel=1e-12)


@pytest.mark.parametrize("unit", ["m", "in"])
def test_a_carrier_s_section_is_given_in_the_job_s_unit(unit):
    job = parse_job({"unit": unit, "bin": {"carrier": "40ft"}, "items": [{"type": "circle", "radius": 0.01}]})
    assert job.bin_w == pytest.approx(2343 / MM[unit]) and job.bin_h == pytest.approx(2280 / MM[unit])
    assert job.bin_length == 12032 and job.max_load == 26700


@pytest.mark.parametrize("raw, words", [
    ({"unit": "ft", "bin": {"width": 10, "height": 10}, "items": [{"type": "pipe", "od": 1, "wall": 0.1}]},
     'items[0]: pipes and carriers need a unit Quarvo can convert (mm, cm, m or in), got unit "ft"'),
    ({"unit": "yd", "bin": {"carrier": "20ft"}, "items": []}, "bin.carrier: pipes and carriers need a unit"),
])
def test_a_unit_that_cannot_be_converted_is_refused_for_pipes_and_carriers(raw, words):
    with pytest.raises(JobError) as e:
        parse_job(raw)
    assert words in str(e.value)


def test_a_unit_of_any_name_still_labels_a_job_of_plain_shapes():
    job = parse_job({"unit": "px", "bin": {"width": 10, "height": 10}, "items": [{"type": "circle", "radius": 1}]})
    assert job.unit == "px"


# ---------------------------------------------------------------- drawings far from their origin

ezdxf = pytest.importorskip("ezdxf")


def _drawing(path, at, size, hole=None):
    doc = ezdxf.new()
    doc.header["$INSUNITS"] = 4
    msp = doc.modelspace()
    x, y = at
    msp.add_lwpolyline([(x, y), (x + size, y), (x + size, y + size), (x, y + size)], close=True)
    if hole is not None:
        msp.add_circle((x + size / 2, y + size / 2), hole)
    doc.saveas(path)
    return path


@pytest.mark.parametrize("at", [(0.0, 0.0), (1e6, -3e6), (1e9, 1e9), (-7e10, 2e11), (1e11, 1e11)])
@pytest.mark.parametrize("size, hole", [(10.0, 2.5), (1.0, None), (0.05, 0.01)])
def test_a_drawing_reads_the_same_wherever_it_lies(tmp_path, at, size, hole):
    from Quarvo.cad import read_parts

    parts = read_parts(_drawing(tmp_path / "p.dxf", at, size, hole))
    assert len(parts) == 1
    (part,) = parts
    assert len(part.holes) == (0 if hole is None else 1)
    x0, y0, x1, y1 = part.bounding_box()
    assert (x0, y0) == pytest.approx(at, abs=1e-6 * max(1.0, *map(abs, at))) and \
        x1 - x0 == pytest.approx(size, rel=1e-6, abs=1e-4)
    want = size * size - (0 if hole is None else math.pi * hole * hole)
    got = part.true_shape.area()
    # the drawing holds its points only to a unit in the last place of where they lie
    ulp = math.ulp(max(1.0, *map(abs, at)))
    assert got == pytest.approx(want, rel=1e-6, abs=16 * ulp * size)


def test_a_fault_far_away_is_named_at_its_place_in_the_drawing(tmp_path):
    from Quarvo.cad import read_parts

    doc = ezdxf.new()
    doc.header["$INSUNITS"] = 4
    msp = doc.modelspace()
    x = 1e9
    msp.add_lwpolyline([(x, x), (x + 10, x + 10), (x + 10, x), (x, x + 10)], close=True)  # a bow tie
    doc.saveas(tmp_path / "bow.dxf")
    with pytest.raises(ValueError, match=r"crosses itself at \(1e\+09|crosses itself at \(1000000005"):
        read_parts(tmp_path / "bow.dxf")
