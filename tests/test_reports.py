"""Reports people hand on: the printable plan, the numbers that tie picture
to table, colours that stay with their kind, text rounded for the trade."""
import csv
import io
import itertools
import json
import os
import random
import subprocess
import sys
import textwrap

import pytest

import Quarvo
from Quarvo.cli import main
from Quarvo.report import load_table

pytest.importorskip("matplotlib")
pypdf = pytest.importorskip("pypdf")


def truck_order(seed=0, kinds=("NPS 6", "NPS 4", "NPS 3", "NPS 2"), quantity=14, order=None):
    rnd = random.Random(seed)
    items = [{"id": size, "type": "pipe", "size": size, "schedule": "STD", "quantity": quantity + rnd.randint(0, 4)}
             for size in kinds]
    if order is not None:
        items = [items[k] for k in order]
    return {"name": "order", "bin": {"width": 900, "height": 500, "max_load": 4000}, "distance": 5,
            "pipe_length": 6, "items": items}


def test_the_plan_has_a_cover_and_a_page_per_bin_with_every_number_on_it(tmp_path, capsys):
    job = tmp_path / "order.json"
    job.write_text(json.dumps(truck_order()))
    pdf = tmp_path / "plan.pdf"
    assert main([str(job), "--report", str(pdf), "-o", str(tmp_path / "r.json"), "-q"]) == 0
    doc = json.loads((tmp_path / "r.json").read_text())
    reader = pypdf.PdfReader(pdf)
    assert len(doc["bins"]) >= 2 and len(reader.pages) == len(doc["bins"]) + 1
    for k, page in enumerate(reader.pages[1:]):
        words = page.extract_text().split()
        numbers = [p["item"] for p in doc["placements"] if p["bin"] == k]
        for n in numbers:
            # once on the picture and once in the table
            assert words.count(str(n)) >= 2, n
        assert f"#{k + 1}" in page.extract_text() or f"bin {k + 1}" in page.extract_text()


def test_letter_paper_and_a_bad_report_type(tmp_path, capsys):
    job = tmp_path / "order.json"
    job.write_text(json.dumps(truck_order(quantity=2)))
    assert main([str(job), "--report", str(tmp_path / "p.pdf"), "--paper", "letter", "-q"]) == 0
    width = float(pypdf.PdfReader(tmp_path / "p.pdf").pages[0].mediabox.width)
    assert abs(width - 8.5 * 72) < 1
    assert main([str(job), "--report", str(tmp_path / "p.docx")]) == 2
    assert "unsupported report type" in capsys.readouterr().err


def _kind_colours(job):
    """Each kind's colour in the plan picture of the packed job, from its legend."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    from Quarvo.pictures import draw_plan

    result = Quarvo.pack_job(job).result
    bins = []
    for entries in result.bins:
        for e in entries:
            e.shape.kind = e.idef.id
        bins.append([e.shape for e in entries])
    fig = draw_plan(plt, bins, 900, 500, kinds=[i.id for i in result.job.items])
    legend = fig.legends[0]
    colours = {text.get_text().split("  ")[0]: tuple(handle.get_facecolor())
               for text, handle in zip(legend.get_texts(), legend.legend_handles)}
    plt.close(fig)
    return colours


def test_a_kind_keeps_its_colour_in_every_run_and_every_job_order():
    first = _kind_colours(truck_order())
    assert first == _kind_colours(truck_order())
    for order in itertools.islice(itertools.permutations(range(4)), 1, 4):
        assert _kind_colours(truck_order(order=list(order))) == first
    assert len(set(first.values())) == 4


def test_labels_never_overlap_and_every_item_is_numbered():
    import matplotlib

    matplotlib.use("Agg")
    from Quarvo.visualize import plot_layout

    result = Quarvo.pack_job(truck_order(seed=3, quantity=30)).result
    for entries in result.bins:
        items = [e.shape for e in entries]
        numbers = {id(e.shape): str(e.number) for e in entries}
        fig = plot_layout([items], 900, 500, style="plan", label=lambda it: numbers[id(it)], leaders=True,
                          show=True)
        renderer = fig.canvas.get_renderer()
        boxes = [t.get_window_extent(renderer) for ax in fig.axes for t in ax.texts if t.get_gid() == "item-label"]
        texts = sorted(t.get_text() for ax in fig.axes for t in ax.texts if t.get_gid() == "item-label")
        assert texts == sorted(numbers.values())
        for a, b in itertools.combinations(boxes, 2):
            overlap = min(a.x1, b.x1) - max(a.x0, b.x0) > 0.5 and min(a.y1, b.y1) - max(a.y0, b.y0) > 0.5
            assert not overlap
        import matplotlib.pyplot as plt

        plt.close(fig)


def test_refusals_of_identical_pieces_are_one_line(tmp_path, capsys):
    job = {"bin": {"carrier": "20ft"}, "items": [
        {"id": "TBG 2-7/8", "type": "pipe", "size": "tubing 2-7/8", "schedule": "6.5", "length": 9.6,
         "quantity": 130},
        {"id": "short", "type": "pipe", "od": 60.3, "wall": 3.9, "length": 3, "quantity": 2}]}
    (tmp_path / "j.json").write_text(json.dumps(job))
    assert main([str(tmp_path / "j.json")]) == 0
    out = capsys.readouterr().out
    assert out.count("TBG 2-7/8") == 1 and "130 x TBG 2-7/8 (items 1-130): length 9.6 m is longer" in out


def test_the_table_is_rounded_for_the_trade_and_the_document_keeps_every_digit(tmp_path, capsys):
    job = tmp_path / "order.json"
    job.write_text(json.dumps(truck_order(quantity=3)))
    for extra, decimals in (([], 1), (["--precision", "3"], 3)):
        table = tmp_path / "t.csv"
        assert main([str(job), "--table", str(table), "-o", str(tmp_path / "r.json"), "-q", *extra]) == 0
        rows = [r for r in csv.DictReader(io.StringIO(table.read_text())) if r["id"] != "total"]
        for r in rows:
            for col in ("x", "y", "mass"):
                assert len(r[col].split(".")[1]) == decimals, r[col]
    doc = json.loads((tmp_path / "r.json").read_text())
    assert any(len(repr(p["mass"]).split(".")[1]) > 3 for p in doc["placements"])


def test_pack_job_gives_what_the_command_line_writes(tmp_path):
    packed = Quarvo.pack_job(truck_order(quantity=3))
    assert packed.ok and packed.document["placements"]
    assert load_table(packed.document) == load_table(packed.result)
    assert packed.summary().startswith("job: order")
    assert packed.table().splitlines()[0].startswith("bin,lift,item")
    packed.plot(tmp_path / "p.png")
    packed.pdf(tmp_path / "p.pdf")
    assert len(pypdf.PdfReader(tmp_path / "p.pdf").pages) == len(packed.document["bins"]) + 1


def test_a_script_without_the_main_guard_is_told_so(tmp_path):
    script = tmp_path / "unguarded.py"
    script.write_text(textwrap.dedent("""
        from Quarvo.batch import pack_jobs
        pack_jobs([{"bin": {"width": 50, "height": 50}, "items": [{"type": "circle", "radius": 3}]}], workers=1)
    """))
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    r = subprocess.run([sys.executable, str(script)], capture_output=True, text=True, env=env, timeout=120)
    assert r.returncode != 0 and 'if __name__ == "__main__":' in r.stderr.splitlines()[-1]


def test_a_truck_page_has_its_side_view_and_load_figures(tmp_path, capsys):
    order = {"name": "six", "bin": {"carrier": "trailer-13.6"},
             "items": [{"id": "casing", "type": "pipe", "size": "casing 9-5/8", "schedule": "47", "length": 6,
                        "quantity": 20},
                       {"id": "line", "type": "pipe", "size": "NPS 4", "schedule": "STD", "length": 12,
                        "quantity": 10}]}
    job = tmp_path / "six.json"
    job.write_text(json.dumps(order))
    pdf = tmp_path / "six.pdf"
    assert main([str(job), "--report", str(pdf), "-o", str(tmp_path / "r.json"), "-q"]) == 0
    doc = json.loads((tmp_path / "r.json").read_text())
    for k, page in enumerate(pypdf.PdfReader(pdf).pages[1:]):
        text = page.extract_text()
        assert "m from the front" in text and "centre of gravity" in text
        cog = doc["bins"][k]["cog"]
        assert f"centre of gravity {cog['along']:.2f} m from the front" in text
        for name, load in doc["bins"][k]["axle_loads"].items():
            assert f"{name} {load:,.0f} kg" in text


def test_a_sheet_page_names_its_kind_and_gives_utilisation_and_leftover(tmp_path, capsys):
    pytest.importorskip("ezdxf")
    from test_nest_cli import bracket

    part = tmp_path / "bracket.dxf"
    bracket(part)
    pdf = tmp_path / "nest.pdf"
    assert main(["nest", f"{part}:30", "--sheet", "400x300:2@10", "--sheet", "600x400@30", "--gap", "3",
                 "--report", str(pdf), "-o", str(tmp_path / "r.json"), "-q"]) == 0
    doc = json.loads((tmp_path / "r.json").read_text())
    pages = pypdf.PdfReader(pdf).pages
    assert len(pages) == len(doc["bins"]) + 1
    assert "total cost" in pages[0].extract_text()
    for k, page in enumerate(pages[1:]):
        text = page.extract_text()
        b = doc["bins"][k]
        assert f"sheet {k + 1} (kind {b['type']}, cost {b['cost']:.6g})" in text
        assert "utilisation" in text and "used length" in text and "leftover" in text
