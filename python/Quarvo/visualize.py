"""Layout plot: draws packed bins side by side with matplotlib.

matplotlib is loaded only inside ``plot_layout``, so the rest of the package
works without it.
"""
from Quarvo.first_fit_algorithm import used_length
from Quarvo.geometry import Circle, Polygon, Shape
from Quarvo.geometry_handle import circle_to_polygon, polygon_centroid

_MISSING_MATPLOTLIB = "绘图功能需要 matplotlib，请先安装：pip install matplotlib"

_FIGSIZE = (7, 7)
_GAP = 5.0
_BIN_LINEWIDTH = 1.5
_ALPHA = 0.55
_EDGE = "black"
_FONTSIZE = 8


def _shape_to_polygon(item):
    """World outline of an item as a closed contour (a circle as its 64-gon)."""
    if isinstance(item, Circle):
        (cx, cy), r = item.transformed()
        return circle_to_polygon((cx, cy), r, 64)
    return item.transformed()


def _ring_path(contours, offset_x):
    """One compound path of closed rings, shifted by offset_x.

    The outer ring is clockwise and the holes counter-clockwise, so both the
    non-zero and the even-odd fill rule leave the holes open.
    """
    from matplotlib.path import Path

    vertices = []
    codes = []
    for ring in contours:
        pts = list(ring)
        if len(pts) > 1 and pts[0] == pts[-1]:
            pts = pts[:-1]
        if not pts:
            continue
        for k, (x, y) in enumerate(pts):
            vertices.append((x + offset_x, y))
            codes.append(Path.MOVETO if k == 0 else Path.LINETO)
        vertices.append((pts[0][0] + offset_x, pts[0][1]))
        codes.append(Path.CLOSEPOLY)
    return Path(vertices, codes)


def plot_layout(bins, bin_w, bin_h, out_path=None, title=None, dpi=150, show=False, label=True,
                style="basic", bin_titles=None, max_load=None, unit=None, kinds=None, leaders=False, kind_notes=None,
                crop=False, sides=None, stock=None, bin_names=None):
    """Draw bins side by side, every item filled at its final position.

    ``bins`` is the first element of ``FirstFit.do_pack()`` or one flat list
    of items (a placer's ``packed``). Returns the figure; saves it when
    ``out_path`` is given (the format follows the extension) and closes it
    afterwards unless ``show`` is true. A ``bin_h`` of None draws each bin as
    a strip, to the used length of its items.

    ``style="basic"`` (the default) draws one square axes, colours by item
    position and ``shape_id`` labels. ``style="plan"`` draws a picture to hand
    on: colours by kind (an item's ``kind`` attribute, else its ``shape_id``
    without a "-N" copy suffix) with a legend of kinds, counts and masses
    (an item's ``mass`` attribute, in kg) beside the bins; a label (the kind,
    or ``label(item)`` when ``label`` is callable) only on items that hold it
    wholly inside their material, so thin-walled rings go unlabelled; walls
    filled and bores open; every bin titled with its number, items, mass and
    share of ``max_load`` (or the bin list's own ``max_load``), or with
    ``bin_titles[k]``; the figure sized to the bins (at most 2400 x 1500
    pixels at 150 dpi). A strip, or a bin far taller than its load, is drawn
    to its used length with a dashed top. Saved as ``.svg``, the plan picture
    is geometry in job units (``Quarvo.visualize_plan.write_plan_svg``: one
    user unit per job unit, y up, the page sized in ``unit``, default "mm").
    The plan's colours depend only on the kinds (sorted by name; ``kinds``
    names every kind of the job, so that a kind left unplaced changes no
    colour); with ``leaders`` a label that does not fit inside its item goes
    beside it on a leader line, never over another label; ``kind_notes``
    maps a kind to what the legend says of it (its size); ``unit`` also
    names the axes' unit; with ``crop`` a bin its load fills less is drawn
    to the load's height, the free height stated.
    ``sides`` (plan style): per bin a ``Quarvo.pictures.side.SideView``, drawn
    under the bin's section (the rows along the deck, the centre of gravity,
    the load on each support).
    ``stock`` (plan style): per bin the ``Bin`` it is (of several kinds, or of
    an outline): what lies outside its outline or in its cut-outs is shaded,
    its defects hatched; ``bin_w`` and ``bin_h`` then frame the largest.
    ``bin_names`` (plan style): what each bin's title calls it (default "bin N").
    """
    from Quarvo.pictures import STYLES

    if style not in STYLES:
        raise ValueError(f"plot_layout: unknown style {style!r} (expected 'basic' or 'plan')")
    try:
        import matplotlib.pyplot as plt
    except ImportError as exc:
        raise ImportError(_MISSING_MATPLOTLIB) from exc

    if style == "plan":
        from Quarvo.pictures import draw_plan

        if isinstance(bins, list) and len(bins) > 0 and isinstance(bins[0], Shape):
            bins = [bins]
        fig = draw_plan(plt, list(bins), bin_w, bin_h, title=title, dpi=dpi, label=label,
                        bin_titles=bin_titles, max_load=max_load, kinds=kinds, leaders=leaders, unit=unit,
                        kind_notes=kind_notes, crop=crop, sides=sides, stock=stock, bin_names=bin_names)
        if out_path and str(out_path).lower().endswith(".svg"):
            from Quarvo.pictures import write_plan_svg

            write_plan_svg(list(bins), bin_w, bin_h, out_path, title=title, label=label, bin_titles=bin_titles,
                           max_load=max_load, unit=unit or "mm", bin_names=bin_names)
            return _finish(plt, fig, None, dpi, show, close=not show)
        return _finish(plt, fig, out_path, dpi, show)

    fig, ax = plt.subplots(figsize=_FIGSIZE)
    colors = plt.cm.tab20.colors
    gap = _GAP

    # Only the first element decides: a placer's packed list is one bin.
    if isinstance(bins, list) and len(bins) > 0 and isinstance(bins[0], Shape):
        bins = [bins]

    for bin_index, items in enumerate(bins):
        offset_x = bin_index * (bin_w + gap)
        height = used_length(items) if bin_h is None else bin_h
        ax.add_patch(plt.Rectangle((offset_x, 0), bin_w, height, fill=False, linewidth=_BIN_LINEWIDTH))
        for item_index, item in enumerate(items):
            polygon = _shape_to_polygon(item)
            color = colors[item_index % len(colors)]
            holes = item.transformed_holes() if isinstance(item, Polygon) and item.is_container else []
            if holes:
                # A container is drawn with its holes open, so an item sitting
                # in a hole does not look as if it overlapped the container.
                from matplotlib.patches import PathPatch

                path = _ring_path([polygon] + list(holes), offset_x)
                ax.add_patch(PathPatch(path, alpha=_ALPHA, facecolor=color, edgecolor=_EDGE))
            else:
                xs = [p[0] + offset_x for p in polygon]
                ys = [p[1] for p in polygon]
                ax.fill(xs, ys, alpha=_ALPHA, color=color, edgecolor=_EDGE)
            if label:
                cx, cy = polygon_centroid(polygon)
                ax.text(cx + offset_x, cy, str(item.shape_id), ha="center", va="center", fontsize=_FONTSIZE)

    if title is not None and title != "":
        ax.set_title(title)
    ax.set_aspect("equal", adjustable="box")
    ax.autoscale_view()
    fig.tight_layout()
    return _finish(plt, fig, out_path, dpi, show)


def _finish(plt, fig, out_path, dpi, show, close=False):
    if out_path is not None and out_path != "":
        fig.savefig(out_path, dpi=dpi)
        if not show:
            plt.close(fig)
    elif close:
        plt.close(fig)
    if show:
        plt.show()
    return fig
