import numpy as np
import pytest

# test_visualize sets matplotlib's Agg backend, and skips without matplotlib
from test_visualize import circle as plain_circle, pixel, plt, ring, square as plain_square

pytestmark = pytest.mark.matplotlib

from matplotlib.patches import Circle as CirclePatch, PathPatch  # noqa: E402
from matplotlib.path import Path  # noqa: E402
from hypothesis import given, settings, strategies as st  # noqa: E402

from Quarvo.geometry import Circle, Polygon  # noqa: E402
from Quarvo.geometry_handle import circle_to_polygon  # noqa: E402
from Quarvo.visualize import plot_layout  # noqa: E402
from Quarvo.pictures.plan import MAX_SIZE, MIN_SIZE, item_kind, label_spot  # noqa: E402

THIN = "\u2009"  # thousands separator of masses


@pytest.fixture(autouse=True)
def _close_all():
    yield
    plt.close("all")


def square(x, y, s, shape_id=0, **attrs):
    return with_attrs(plain_square(x, y, s, shape_id), attrs)


def circle(x, y, r, shape_id=0, **attrs):
    return with_attrs(plain_circle(x, y, r, shape_id), attrs)


def with_attrs(item, attrs):
    for k, v in attrs.items():
        setattr(item, k, v)
    return item


def ell(x, y, shape_id=0):
    p = Polygon([(0, 0), (300, 0), (300, 80), (80, 80), (80, 220), (0, 220)], shape_id=shape_id)
    p.set_position(x, y)
    return p


def plan(bins, w, h, **kw):
    return plot_layout(bins, w, h, style="plan", **kw)


def legend_texts(fig):
    (leg,) = fig.legends
    return leg.get_title().get_text(), [t.get_text() for t in leg.get_texts()]


def box_inches(fig, ax):
    pos = ax.get_position()
    fw, fh = fig.get_size_inches()
    return pos.width * fw, pos.height * fh, pos.x0 * fw, pos.y0 * fh


def label_boxes(fig):
    """(axes, text, data-space box) of every label drawn on the bins."""
    fig.canvas.draw()
    renderer = fig.canvas.get_renderer()
    out = []
    for ax in fig.axes:
        inv = ax.transData.inverted()
        for t in ax.texts:
            (x0, y0), (x1, y1) = inv.transform(t.get_window_extent(renderer).get_points())
            out.append((ax, t.get_text(), (x0, y0, x1, y1)))
    return out


def in_material(box, outer, holes=()):
    """Independent check with matplotlib's own point test: points along the
    box's edges lie inside the outline and outside the holes, and no corner of
    a contour pokes into the box."""
    x0, y0, x1, y1 = box
    t = np.linspace(0.0, 1.0, 41)
    edge = np.vstack([np.column_stack([x0 + (x1 - x0) * t, np.full_like(t, y0)]),
                      np.column_stack([x0 + (x1 - x0) * t, np.full_like(t, y1)]),
                      np.column_stack([np.full_like(t, x0), y0 + (y1 - y0) * t]),
                      np.column_stack([np.full_like(t, x1), y0 + (y1 - y0) * t])])
    if not Path(outer).contains_points(edge).all():
        return False
    if any(Path(h).contains_points(edge).any() for h in holes):
        return False
    corners = np.array([p for ring_ in [outer, *holes] for p in ring_])
    poke = (corners[:, 0] > x0) & (corners[:, 0] < x1) & (corners[:, 1] > y0) & (corners[:, 1] < y1)
    return not poke.any()


# ----------------------------------------------------------- kinds, legend


@pytest.mark.parametrize("shape_id, attrs, kind", [
    ("NPS8-12", {}, "NPS8"), ("bracket-3", {}, "bracket"), ("NPS8", {}, "NPS8"), ("a-1-2", {}, "a-1"),
    ("DN 100-7", {}, "DN 100"), ("-3", {}, "-3"), ("plate-", {}, "plate-"), ("x-y", {}, "x-y"), (17, {}, "17"),
    ("NPS8-3", {"kind": "DN200"}, "DN200"), ("NPS8-3", {"kind": 100}, "100"),
])
def test_kind_is_the_kind_attribute_or_the_id_without_its_copy_suffix(shape_id, attrs, kind):
    assert item_kind(square(0, 0, 1, shape_id, **attrs)) == kind


def test_legend_gives_kinds_counts_and_masses_of_every_bin():
    bins = [[square(0, 0, 10, "plate-1", mass=1200.0), square(20, 0, 10, "plate-2", mass=800.0),
             circle(50, 50, 5, "DN50-1")],
            [circle(10, 10, 5, "DN50-2"), square(30, 30, 5, 7), circle(60, 60, 5, "x-1", kind="DN50")]]
    fig = plan(bins, 100, 100)
    title, texts = legend_texts(fig)
    # kinds in the order of their names (digits as numbers), the same in every run
    assert texts == ["7  \u00d7 1", "DN50  \u00d7 3", f"plate  \u00d7 2, 2{THIN}000 kg"]
    assert title == f"6 items, 2{THIN}000 kg"
    # one colour per kind: the legend swatch and every item of the kind share it
    swatches = [h.get_facecolor() for h in fig.legends[0].legend_handles]
    assert len(set(swatches)) == 3
    faces = [p.get_facecolor() for ax in fig.axes for p in ax.patches]
    assert faces == [swatches[2], swatches[2], swatches[1], swatches[1], swatches[0], swatches[1]]


@pytest.mark.parametrize("masses, shown", [
    ((0.0, 0.0), "DN25  \u00d7 2"),
    ((2.5, 0.0), "DN25  \u00d7 2, 2.5 kg"),
    ((12.25, 30.0), "DN25  \u00d7 2, 42.2 kg"),
])
def test_legend_mass_only_where_known(masses, shown):
    items = [circle(10 + 20 * k, 10, 5, f"DN25-{k}", mass=m) for k, m in enumerate(masses)]
    assert legend_texts(plan([items], 100, 50))[1] == [shown]


def test_legend_lies_outside_every_bin():
    items = [square(10 * k, 0, 8, f"k{k}-1") for k in range(12)]
    fig = plan([items, items[:3]], 200, 100)
    fig.canvas.draw()
    renderer = fig.canvas.get_renderer()
    leg = fig.legends[0].get_window_extent(renderer)
    for ax in fig.axes:
        assert not leg.overlaps(ax.get_window_extent(renderer))


# ---------------------------------------------------------------- labels


def test_one_label_per_item_that_fits_none_for_small_ones():
    items = [square(0, 0, 600, "big-1"), square(700, 0, 5, "tiny-1"), circle(1200, 300, 250, "disc-1"),
             circle(1600, 50, 4, "dot-1"), ring(300, 1100, 280, 270, "thin-1"), ring(1000, 1100, 280, 60, "thick-1"),
             ell(1400, 700, "ell-1")]
    fig = plan([items], 2000, 1500)
    labels = label_boxes(fig)
    assert sorted(t for _, t, _ in labels) == ["big", "disc", "ell", "thick"]
    shape = {it.shape_id.split("-")[0]: it for it in items}
    for _, text, box in labels:
        item = shape[text]
        if isinstance(item, Circle):
            (cx, cy), r = item.transformed()
            outer, holes = circle_to_polygon((cx, cy), r, 256), []
        else:
            outer, holes = item.transformed(), item.transformed_holes()
        assert in_material(box, outer, holes), text


def test_label_is_callable_or_off():
    items = [square(0, 0, 600, "a-1"), square(700, 0, 600, "b-2")]
    fig = plan([items], 1400, 700, label=lambda it: None if it.shape_id == "a-1" else f"#{it.shape_id}")
    assert [t for _, t, _ in label_boxes(fig)] == ["#b-2"]
    assert label_boxes(plan([items], 1400, 700, label=False)) == []


@settings(max_examples=12, deadline=None)
@given(sizes=st.lists(st.floats(2.0, 400.0), min_size=1, max_size=8), bin_w=st.floats(800.0, 6000.0),
       circles=st.booleans())
def test_every_label_lies_inside_its_item_at_any_scale(sizes, bin_w, circles):
    items, x = [], 0.0
    for k, s in enumerate(sizes):
        items.append(circle(x + s / 2, s / 2, s / 2, f"DN{k}-1") if circles else square(x, 0, s, f"P{k}-1"))
        x += s + 1.0
    fig = plan([items], max(bin_w, x), 500.0)
    labels = label_boxes(fig)
    by_kind = {item_kind(it): it for it in items}
    assert len({t for _, t, _ in labels}) == len(labels)
    for _, text, box in labels:
        item = by_kind[text]
        outer = circle_to_polygon(*item.transformed(), 256) if circles else item.transformed()
        assert in_material(box, outer)
    # an item far larger than its text at this scale is always labelled
    (ax,) = fig.axes
    per_inch = ax.get_xlim()[1] / box_inches(fig, ax)[0]
    labelled = {t for _, t, _ in labels}
    for it in items:
        if (it.radius * 2 if circles else it.outer[2][0]) > 1.2 * per_inch:
            assert item_kind(it) in labelled


@pytest.mark.parametrize("outer, holes, w, h, inside", [
    ([(0, 0), (300, 0), (300, 80), (80, 80), (80, 220), (0, 220)], [], 120, 30, True),
    ([(0, 0), (300, 0), (300, 80), (80, 80), (80, 220), (0, 220)], [], 120, 90, False),
    (circle_to_polygon((0, 0), 150, 32), [circle_to_polygon((0, 0), 60, 32)], 95, 33, True),
    (circle_to_polygon((0, 0), 150, 32), [circle_to_polygon((0, 0), 60, 32)], 250, 20, False),
    (circle_to_polygon((0, 0), 150, 32), [circle_to_polygon((0, 0), 140, 32)], 20, 12, False),
    ([(0, 0), (900, 0), (900, 60), (0, 60)], [], 100, 40, True),
    ([(0, 0), (900, 0), (900, 60), (0, 60)], [], 100, 60, False),
])
def test_label_spot(outer, holes, w, h, inside):
    spot = label_spot(outer, holes, w, h)
    assert (spot is not None) == inside
    if spot is not None:
        x, y = spot
        assert in_material((x - w / 2, y - h / 2, x + w / 2, y + h / 2), outer, holes)


def test_holed_label_sits_square_below_its_hole():
    x, y = label_spot(circle_to_polygon((0, 0), 150, 32), [circle_to_polygon((0, 0), 60, 32)], 95, 33)
    assert x == pytest.approx(0.0) and y < -60


# --------------------------------------------------------- items drawn


def test_rings_have_open_bores_and_circles_are_smooth(tmp_path):
    fig = plan([[ring(300, 300, 250, 200, "DN500-1"), circle(300, 300, 60, "DN100-1")]], 600, 600)
    (ax,) = fig.axes
    wall, disc = ax.patches
    assert isinstance(wall, PathPatch) and isinstance(disc, CirclePatch)
    assert disc.get_radius() == 60 and disc.center == (300, 300)
    assert wall.get_linewidth() >= 0.75
    white = (255, 255, 255)
    assert pixel(fig, ax, 430, 300) == white  # the bore between wall and disc is open
    assert pixel(fig, ax, 180, 180) == white
    assert pixel(fig, ax, 525, 300) != white and pixel(fig, ax, 300, 75) != white  # the wall is filled


# --------------------------------------------------------- sheet, bins


@pytest.mark.parametrize("n_bins, w, h", [(1, 3000, 1500), (1, 2400, 2400), (2, 2400, 2400), (1, 600, 2400),
                                           (2, 3000, 1500),
                                           (5, 1000, 1000), (12, 1000, 1000), (1, 120, 110)])
def test_bins_share_one_scale_and_fill_the_figure(n_bins, w, h):
    bins = [[square(0, 0, 100, "a-1")] for _ in range(n_bins)]
    fig = plan(bins, w, h, title="job")
    fw, fh = fig.get_size_inches()
    assert MIN_SIZE[0] - 1e-9 <= fw <= MAX_SIZE[0] + 1e-9 and MIN_SIZE[1] - 1e-9 <= fh <= MAX_SIZE[1] + 1e-9
    boxes = [box_inches(fig, ax) for ax in fig.axes]
    assert len(boxes) == len(bins)
    for bw, bh, _, _ in boxes:
        assert bw / bh == pytest.approx(w / h, rel=1e-6)
        assert (bw, bh) == pytest.approx(boxes[0][:2])
    # the bins reach a limit of the figure on one side, and a wide row makes a wide picture
    used_w = max(x + bw for bw, _, x, _ in boxes) - min(x for _, _, x, _ in boxes)
    used_h = max(y + bh for _, bh, _, y in boxes) - min(y for _, _, _, y in boxes)
    assert used_w / fw > 0.6 or used_h / fh > 0.6
    if used_w > 1.3 * used_h:
        assert fw / fh > 1.3
    # side by side with a gap, never touching
    for (bw, bh, x, y), (_, _, x2, y2) in zip(boxes, boxes[1:]):
        assert x2 > x + bw + 0.1 or y2 < y - bh


@pytest.mark.parametrize("max_load, attr, title", [
    (None, None, f"bin 1: 2 items, 1{THIN}500 kg"),
    (2000.0, None, f"bin 1: 2 items, 1{THIN}500 kg (75% of 2{THIN}000 kg)"),
    (2000.0, 6000.0, f"bin 1: 2 items, 1{THIN}500 kg (25% of 6{THIN}000 kg)"),
])
def test_bin_titles_give_items_mass_and_payload_share(max_load, attr, title):
    class Load(list):
        pass

    items = Load([square(0, 0, 100, "a-1", mass=1000.0), square(200, 0, 100, "a-2", mass=500.0)])
    if attr is not None:
        items.max_load = attr
    fig = plan([items, [square(0, 0, 10, "b-1")]], 2400, 2400, max_load=max_load)
    assert [ax.get_title().replace("\n", ", ") for ax in fig.axes] == [title, "bin 2: 1 item"]


@pytest.mark.parametrize("n_bins, w, h", [(3, 300, 1500), (6, 100, 2000), (2, 2400, 2400)])
def test_bin_titles_never_run_into_each_other_or_off_the_figure(n_bins, w, h):
    bins = [[square(0, 0, 50, "a-1", mass=2345.0), square(60, 0, 20, "b-1", mass=1000.0)] for _ in range(n_bins)]
    fig = plan(bins, w, h, max_load=1500.0)
    fig.canvas.draw()
    renderer = fig.canvas.get_renderer()
    boxes = [ax.title.get_window_extent(renderer) for ax in fig.axes]
    fig_box = fig.bbox
    for k, box in enumerate(boxes):
        assert fig_box.x0 <= box.x0 and box.x1 <= fig_box.x1
        assert all(not box.overlaps(other) for other in boxes[k + 1:])
    # loaded beyond the payload: the title says so in red
    assert {ax.title.get_color() for ax in fig.axes} == {"#c00000"}


def test_given_bin_titles_replace_the_computed_ones():
    fig = plan([[square(0, 0, 1)], [square(0, 0, 1)]], 10, 10, bin_titles=["truck A", None], title="order 7")
    assert [ax.get_title() for ax in fig.axes] == ["truck A", "bin 2: 1 item"]
    assert fig._suptitle.get_text() == "order 7"


@pytest.mark.parametrize("bin_h, top, cut", [(None, 250, True), (1e6, 250 * 1.05, True), (800, 800, False)])
def test_strip_and_very_tall_bin_drawn_to_their_used_length(bin_h, top, cut):
    fig = plan([[square(0, 0, 100, "a-1"), square(0, 150, 100, "a-2")]], 400, bin_h)
    (ax,) = fig.axes
    assert ax.get_xlim() == (0.0, 400.0) and ax.get_ylim() == pytest.approx((0.0, top))
    assert (ax.spines["top"].get_linestyle() != "solid") == cut
    assert ("used length 250" in ax.get_title().replace("\n", " ")) == cut


@pytest.mark.parametrize("shape", [[], [0], [0, 1]])
def test_empty_bins_draw(shape):
    bins = [[circle(5, 5, 2, "c-1")] * n for n in shape]
    fig = plan(bins, 40, 40)
    assert len(fig.axes) == max(len(bins), 1)


def test_plan_saves_like_the_basic_picture(tmp_path):
    out = tmp_path / "plan.svg"
    fig = plan([[square(0, 0, 5, "a-1")]], 10, 10, out_path=str(out))
    assert out.read_bytes()[:5] == b"<?xml"
    assert not plt.fignum_exists(fig.number)


@pytest.mark.parametrize("args, name", [
    ((0, 10), "bin_w"), ((-5, 10), "bin_w"), ((float("nan"), 10), "bin_w"), ((None, 10), "bin_w"),
    (("10", 10), "bin_w"), ((10, 0), "bin_h"), ((10, float("inf")), "bin_h"), ((10, True), "bin_h"),
    ((10, 10, -1.0), "max_load"), ((10, 10, float("nan")), "max_load"),
])
def test_bad_sizes_are_refused_by_name(args, name):
    w, h, *load = args
    with pytest.raises(ValueError, match=f"{name} must be a positive number"):
        plan([[square(0, 0, 5)]], w, h, max_load=load[0] if load else None)


@pytest.mark.parametrize("style", ["Plan", "", None, "fancy"])
def test_unknown_style_is_refused(style):
    with pytest.raises(ValueError, match="unknown style"):
        plot_layout([[square(0, 0, 5)]], 10, 10, style=style)


def test_command_line_draws_the_plan_picture_by_job_item_id(tmp_path, monkeypatch):
    import json

    import Quarvo.visualize as visualize
    from Quarvo.cli import main

    seen = {}
    real = visualize.plot_layout

    def spy(bins, *a, **kw):
        seen["kinds"] = [item_kind(it) for b in bins for it in b]
        seen["style"] = kw.get("style")
        return real(bins, *a, **kw)

    monkeypatch.setattr(visualize, "plot_layout", spy)
    job = {"bin": {"width": 500, "height": 300}, "items": [
        {"id": "DN100", "type": "circle", "radius": 57, "quantity": 2},
        {"id": 7, "type": "polygon", "outer": [[0, 0], [100, 0], [100, 50], [0, 50]]}]}
    (tmp_path / "job.json").write_text(json.dumps(job))
    png = tmp_path / "p.png"
    assert main([str(tmp_path / "job.json"), "--plot", str(png), "--quiet"]) == 0
    assert png.read_bytes()[:4] == b"\x89PNG"
    assert seen == {"kinds": ["DN100", "DN100", "7"], "style": "plan"}
