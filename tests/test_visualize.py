import os
import struct
import subprocess
import sys

os.environ.setdefault("MPLBACKEND", "Agg")

import numpy as np
import pytest

pytestmark = pytest.mark.matplotlib
pytest.importorskip("matplotlib")
import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt
from matplotlib.colors import to_rgba
from matplotlib.patches import PathPatch, Rectangle
from hypothesis import given, settings, strategies as st

from Quarvo.geometry import Circle, Polygon
from Quarvo.geometry_handle import circle_to_polygon
from Quarvo.visualize import _shape_to_polygon, plot_layout

TAB20 = plt.cm.tab20.colors
MESSAGE = "绘图功能需要 matplotlib，请先安装：pip install matplotlib"


@pytest.fixture(autouse=True)
def _close_all():
    yield
    plt.close("all")


def square(x, y, s, shape_id=0):
    p = Polygon([(0, 0), (s, 0), (s, s), (0, s)], shape_id=shape_id)
    p.set_position(x, y)
    return p


def ring(x, y, outer, inner, shape_id=0):
    p = Polygon(circle_to_polygon((0.0, 0.0), outer, 64), [circle_to_polygon((0.0, 0.0), inner, 64)],
                shape_id=shape_id)
    p.set_position(x, y)
    return p


def circle(x, y, r, shape_id=0):
    c = Circle(r, shape_id=shape_id)
    c.set_position(x, y)
    return c


def split(ax):
    rects = [p for p in ax.patches if isinstance(p, Rectangle)]
    items = [p for p in ax.patches if not isinstance(p, Rectangle)]
    return rects, items


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    assert head[:8] == b"\x89PNG\r\n\x1a\n"
    return struct.unpack(">II", head[16:24])


def test_shape_to_polygon():
    c = circle(3.0, 4.0, 2.0)
    assert _shape_to_polygon(c) == circle_to_polygon((3.0, 4.0), 2.0, 64)
    assert len(_shape_to_polygon(c)) == 65
    p = square(10, 20, 5)
    assert _shape_to_polygon(p) == p.transformed()


def test_bins_side_by_side_with_gap_and_offsets():
    a, b, c = square(0, 0, 10, 1), circle(30, 30, 5, 2), square(2, 3, 4, 3)
    fig = plot_layout([[a, b], [c]], 100, 60)
    ax = fig.axes[0]
    rects, items = split(ax)
    assert [r.get_xy() for r in rects] == [(0, 0), (105.0, 0)]
    for r in rects:
        assert (r.get_width(), r.get_height()) == (100, 60)
        assert not r.get_fill()
        assert r.get_linewidth() == 1.5
    assert len(items) == 3
    # the item of the second bin is shifted by bin_w + gap in x only
    xs, ys = zip(*items[2].get_xy())
    assert min(xs) == pytest.approx(107.0) and min(ys) == pytest.approx(3.0)
    texts = [(t.get_text(), t.get_position()) for t in ax.texts]
    assert [t for t, _ in texts] == ["1", "2", "3"]
    assert texts[1][1] == pytest.approx((30.0, 30.0))
    assert texts[2][1] == pytest.approx((109.0, 5.0))
    for t in ax.texts:
        assert (t.get_ha(), t.get_va(), t.get_fontsize()) == ("center", "center", 8)
    assert tuple(fig.get_size_inches()) == (7.0, 7.0)
    assert ax.get_aspect() == 1.0 and ax.get_adjustable() == "box"


def test_colours_by_position_in_bin_wrap_after_twenty():
    first = [square(i * 3, 0, 2, i) for i in range(22)]
    second = [circle(5, 5, 1)]
    fig = plot_layout([first, second], 100, 20, label=False)
    ax = fig.axes[0]
    _, items = split(ax)
    assert len(items) == 23
    for i, patch in enumerate(items[:22]):
        assert patch.get_facecolor() == to_rgba(TAB20[i % 20], 0.55)
        assert patch.get_edgecolor()[:3] == (0.0, 0.0, 0.0)
    assert items[20].get_facecolor() == items[0].get_facecolor()
    # every bin starts again at the first colour
    assert items[22].get_facecolor() == to_rgba(TAB20[0], 0.55)
    assert ax.texts == [] or len(ax.texts) == 0


@pytest.mark.parametrize("flat", [True, False])
def test_flat_list_is_one_bin(flat):
    items = [square(0, 0, 5), circle(20, 20, 3)]
    fig = plot_layout(items if flat else [items], 50, 50)
    rects, patches = split(fig.axes[0])
    assert len(rects) == 1 and len(patches) == 2


def test_empty_first_bin_and_empty_list():
    fig = plot_layout([[], [circle(5, 5, 2)]], 40, 40)
    rects, items = split(fig.axes[0])
    assert [r.get_xy()[0] for r in rects] == [0, 45.0]
    assert len(items) == 1
    fig = plot_layout([], 40, 40)
    assert len(fig.axes[0].patches) == 0 and fig.axes


def test_tuple_of_bins_is_not_wrapped():
    fig = plot_layout(([square(0, 0, 5)], [square(0, 0, 5)]), 10, 10)
    rects, _ = split(fig.axes[0])
    assert len(rects) == 2


@pytest.mark.parametrize("title, shown", [(None, ""), ("", ""), ("Layout", "Layout")])
def test_title(title, shown):
    fig = plot_layout([[square(0, 0, 1)]], 10, 10, title=title)
    assert fig.axes[0].get_title() == shown


@pytest.mark.parametrize("ext, magic", [("png", b"\x89PNG"), ("svg", b"<?xml")])
def test_saving_writes_and_closes(tmp_path, ext, magic):
    out = tmp_path / f"layout.{ext}"
    fig = plot_layout([[square(0, 0, 5)]], 10, 10, out_path=str(out))
    assert out.read_bytes()[:5].startswith(magic)
    assert not plt.fignum_exists(fig.number)


@pytest.mark.parametrize("dpi, pixels", [(150, 1050), (50, 350)])
def test_resolution(tmp_path, dpi, pixels):
    out = tmp_path / "a.png"
    kwargs = {} if dpi == 150 else {"dpi": dpi}
    plot_layout([[square(0, 0, 5)]], 10, 10, out_path=str(out), **kwargs)
    assert png_size(out) == (pixels, pixels)


@pytest.mark.parametrize("out_path", [None, ""])
def test_not_saving_keeps_figure_open(tmp_path, out_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    fig = plot_layout([[square(0, 0, 5)]], 10, 10, out_path=out_path)
    assert plt.fignum_exists(fig.number)
    assert list(tmp_path.iterdir()) == []


def test_show_after_saving_keeps_figure(tmp_path, monkeypatch):
    calls = []
    monkeypatch.setattr(plt, "show", lambda *a, **k: calls.append(a))
    out = tmp_path / "a.png"
    fig = plot_layout([[square(0, 0, 5)]], 10, 10, out_path=str(out), show=True)
    assert out.exists() and calls == [()] and plt.fignum_exists(fig.number)


def test_missing_matplotlib(monkeypatch):
    monkeypatch.setitem(sys.modules, "matplotlib.pyplot", None)
    with pytest.raises(ImportError) as info:
        plot_layout([[square(0, 0, 5)]], 10, 10)
    assert str(info.value) == MESSAGE
    assert isinstance(info.value.__cause__, ImportError)


def test_package_loads_without_matplotlib():
    code = ("import sys; sys.modules['matplotlib'] = None\n"
            "import Quarvo.visualize as v\n"
            "try:\n    v.plot_layout([], 1, 1)\n"
            "except ImportError as e:\n    print(e)\n")
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=env)
    assert out.returncode == 0, out.stderr
    assert out.stdout.strip() == MESSAGE


def test_errors_of_the_library_propagate(tmp_path):
    with pytest.raises(ValueError):
        plot_layout([[square(0, 0, 5)]], 10, 10, out_path=str(tmp_path / "a.notaformat"))


def pixel(fig, ax, x, y):
    """RGB of the rendered figure at data point (x, y)."""
    fig.canvas.draw()
    buf = np.asarray(fig.canvas.buffer_rgba())
    px, py = ax.transData.transform((x, y))
    row = int(round(buf.shape[0] - py))
    col = int(round(px))
    return tuple(int(v) for v in buf[row, col, :3])


WHITE = (255, 255, 255)


def test_container_is_drawn_with_its_holes_open():
    cont = ring(100, 100, 60, 45, 1)
    fig = plot_layout([[cont]], 200, 200, label=False)
    ax = fig.axes[0]
    _, items = split(ax)
    assert isinstance(items[0], PathPatch)
    assert items[0].get_facecolor() == to_rgba(TAB20[0], 0.55)
    assert items[0].get_edgecolor()[:3] == (0.0, 0.0, 0.0)
    assert pixel(fig, ax, 100, 100) == WHITE  # the hole stays open
    assert pixel(fig, ax, 152.5, 100) != WHITE  # the wall is filled


@settings(max_examples=25, deadline=None)
@given(
    outer=st.floats(40, 100),
    wall=st.floats(0.25, 0.6),
    angle=st.floats(0, 6.3),
    x=st.floats(100, 500),
    y=st.floats(100, 500),
    offset_bin=st.integers(0, 2),
)
def test_holes_render_open_at_any_place_and_rotation(outer, wall, angle, x, y, offset_bin):
    inner_r = outer * (1 - wall)
    cont = ring(x, y, outer, inner_r)
    cont.rotation = angle
    bins = [[] for _ in range(offset_bin)] + [[cont]]
    fig = plot_layout(bins, 600, 600, label=False)
    try:
        ax = fig.axes[0]
        shift = offset_bin * 605.0
        assert pixel(fig, ax, x + shift, y) == WHITE
        assert pixel(fig, ax, x + shift + 0.6 * inner_r, y) == WHITE
        mid = (outer + inner_r) / 2.0
        assert pixel(fig, ax, x + shift, y - mid) != WHITE
    finally:
        plt.close(fig)
