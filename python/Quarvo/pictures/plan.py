"""The plan picture: a packed layout drawn so that a person can read it.

``plot_layout(..., style="plan")`` draws through ``draw_plan``. Items are
coloured by kind with a legend of kinds, counts and masses beside the bins;
each item is labelled only where its label fits wholly inside its material;
rings are drawn with their walls filled and bores open; every bin is an axes
of its own, titled, at one common scale; the figure is sized to the bins.

The geometry helpers (``item_kind``, ``label_spot``, ...) need only numpy;
matplotlib is handed in by ``plot_layout``, which loads it lazily.
"""
import math
import re

from Quarvo.first_fit_algorithm import used_length
from Quarvo.geometry import Circle, Pipe
from Quarvo.geometry_handle import polygon_area
from Quarvo.pictures.geometry import circle_label_fits, item_contours as _contours, label_spot  # noqa: F401

STYLES = ("basic", "plan")

MASS_UNIT = "kg"

# Figure limits in inches; at the default 150 dpi the largest picture is
# 2400 x 1500 pixels and the smallest 900 x 600.
MAX_SIZE = (16.0, 10.0)
MIN_SIZE = (6.0, 4.0)

# Margins in inches: room for tick labels, titles and the gaps between bins.
_LEFT, _RIGHT, _BOTTOM, _TOP = 0.7, 0.25, 0.45, 0.12
_GAP_X = 0.4
_GAP_Y = 0.5
_LEGEND_PAD = 0.3

_TITLE_SIZE = 14
_BIN_TITLE_SIZE = 11
_LEGEND_SIZE = 10
_TICK_SIZE = 8
LABEL_SIZES = (8.0, 6.0)  # the first that fits is used
# Clear space kept around a label inside its item, as a share of the font size.
_LABEL_PAD = 0.15

_OVERLOAD = "#c00000"  # the title of a bin loaded beyond its payload
_MIRRORED_DASH = (0, (4, 2))  # the outline of a mirrored part
_BIN_LINEWIDTH = 1.6
_ITEM_LINEWIDTH = 0.8
_TINT = 0.3  # how far a kind's colour is lightened for filled areas
_SHADE = 0.3  # how far it is darkened for outlines

# A cropped bin is drawn to its load's height and this share more, when that
# is less than this share of its height.
_CROP_ROOM = 0.12
_CROP_BELOW = 0.8

# Scale a second row of bins must gain over one row to be chosen.
_WRAP_GAIN = 1.5

# A bin far taller than wide (a strip given a huge height) and much taller
# than its load is drawn only to its used length.
_TALL_RATIO = 20.0
_TALL = 3.0

_COPY_SUFFIX = re.compile(r"^(.+)-\d+$")


# ------------------------------------------------------------------ kinds


def item_kind(item):
    """The kind an item is coloured and counted by: its ``kind`` attribute
    when it has one, else its ``shape_id`` without a copy suffix
    ("NPS8-12" -> "NPS8"); a numeric id is its own kind."""
    kind = getattr(item, "kind", None)
    if kind is not None:
        return str(kind)
    sid = item.shape_id
    if isinstance(sid, str):
        m = _COPY_SUFFIX.match(sid)
        return m.group(1) if m else sid
    return str(sid)


def item_mass(item):
    """The item's mass when it carries one, else 0."""
    try:
        mass = float(getattr(item, "mass", 0) or 0)
    except (TypeError, ValueError):
        return 0.0
    return mass if mass > 0 and math.isfinite(mass) else 0.0


def kind_rows(bins):
    """(kind, count, mass) per kind in order of first appearance; mass is
    None when no item of the kind carries one, and the sum of the known
    masses otherwise."""
    rows = {}
    for items in bins:
        for item in items:
            row = rows.setdefault(item_kind(item), [0, 0.0, 0])
            mass = item_mass(item)
            row[0] += 1
            row[1] += mass
            row[2] += mass > 0
    return [(kind, count, mass if known else None) for kind, (count, mass, known) in rows.items()]


def mass_unit(bins):
    """"kg/m" where every item with a mass is a pipe without a length (its
    mass is per metre), else "kg"."""
    massed = [it for items in bins for it in items if item_mass(it) > 0]
    per_metre = massed and all(isinstance(it, Pipe) and it.length is None for it in massed)
    return f"{MASS_UNIT}/m" if per_metre else MASS_UNIT


def mass_text(mass, unit=MASS_UNIT):
    if mass >= 100:
        return f"{mass:,.0f}".replace(",", "\u2009") + f" {unit}"
    return f"{mass:.3g} {unit}"


def legend_text(kind, count, mass, unit=MASS_UNIT):
    text = f"{kind}  \u00d7 {count}"
    return text if mass is None else f"{text}, {mass_text(mass, unit)}"


def bin_title_parts(index, items, max_load=None, length=None, unit=MASS_UNIT, name=None):
    """The pieces of the title of bin ``index`` (0-based; people read it from
    1): its ``name`` (default "bin N"), items, mass and payload share, used
    length of a strip."""
    name = f"bin {index + 1}" if name is None else name
    parts = [f"{name}: {len(items)} item{'' if len(items) == 1 else 's'}"]
    mass = sum(item_mass(it) for it in items)
    if mass > 0:
        load = f"{mass_text(mass, unit)}"
        if max_load:
            load += f" ({100.0 * mass / max_load:.0f}% of {mass_text(max_load)})"
        parts.append(load)
    if length is not None:
        parts.append(f"used length {length:.6g}")
    return parts


# Okabe and Ito's eight colours, then four of Paul Tol's muted ones: a dozen
# kinds stay apart, to colour-blind eyes too. Kinds beyond them repeat the
# colours with a hatching of their own.
KIND_COLOURS = ("0072B2", "E69F00", "009E73", "D55E00", "56B4E9", "CC79A7", "F0E442", "999999",
                "882255", "44AA99", "999933", "332288")
_HATCHES = ("", "//", "..", "xx", "\\\\", "oo")


def _rgb(hexa):
    return tuple(int(hexa[i:i + 2], 16) / 255 for i in (0, 2, 4))


def natural_key(text):
    """"NPS 10" after "NPS 8": digits compare as numbers."""
    return [(0, int(part), "") if part.isdigit() else (1, 0, part.lower())
            for part in re.split(r"(\d+)", str(text)) if part]


def kind_styles(kinds):
    """Each kind's (base colour, hatching): by the kind's place among the
    kinds sorted by name, so that a kind's colour depends on the kinds there
    are, never on the run or the order of the job."""
    order = sorted({str(k) for k in kinds}, key=natural_key)
    n = len(KIND_COLOURS)
    return {kind: (_rgb(KIND_COLOURS[k % n]), _HATCHES[(k // n) % len(_HATCHES)]) for k, kind in enumerate(order)}


def kind_looks(kinds):
    """Each kind's face, edge and hatching as the plan draws it (its colour by its name alone)."""
    return {kind: dict(face=_mix(base, (1, 1, 1), _TINT), edge=_mix(base, (0, 0, 0), _SHADE), hatch=hatch)
            for kind, (base, hatch) in kind_styles(kinds).items()}


def _mix(color, other, share):
    return tuple(c + (o - c) * share for c, o in zip(color[:3], other))


def _oriented(ring, clockwise):
    pts = list(ring)
    if len(pts) > 1 and pts[0] == pts[-1]:
        pts = pts[:-1]
    area = polygon_area(pts + pts[:1]) if len(pts) > 2 else 0.0
    if (area < 0) != clockwise:
        pts.reverse()
    return pts


def _holed_path(outer, holes):
    """One path: the outline one way round, the holes the other, so the holes
    stay open under the even-odd and the non-zero fill rule alike."""
    from matplotlib.path import Path

    vertices, codes = [], []
    for ring, clockwise in [(outer, True)] + [(h, False) for h in holes]:
        pts = _oriented(ring, clockwise)
        if not pts:
            continue
        vertices += pts + [pts[0]]
        codes += [Path.MOVETO] + [Path.LINETO] * (len(pts) - 1) + [Path.CLOSEPOLY]
    return Path(vertices, codes)


class _Sheet:
    """The measured pieces of the figure, and where they go."""

    def __init__(self, fig, bins, bin_w, bin_h, title, bin_titles, max_load, crop=False, bin_names=None):
        self.fig = fig
        self.renderer = fig.canvas.get_renderer()
        self.free = None  # a cropped bin's full height
        self.bin_w = float(bin_w)
        self.strip = bin_h is None
        longest = max((used_length(b) for b in bins if b), default=0.0)
        if self.strip:
            self.height = longest if longest > 0 else self.bin_w * 0.25
        elif bin_h > _TALL_RATIO * self.bin_w and bin_h > _TALL * longest and longest > 0:
            self.height = longest * 1.05
        elif crop and 0 < longest * (1.0 + _CROP_ROOM) < float(bin_h) * _CROP_BELOW:
            # the load, with room above it for labels; the free height is stated, not drawn
            self.height = longest * (1.0 + _CROP_ROOM)
            self.free = float(bin_h)
        else:
            self.height = float(bin_h)
        self.cut = self.strip or self.height < float(bin_h)
        self.title = title if title else None
        self.titles = []
        self.mass_unit = mass_unit(bins)
        self.over = []  # bins loaded beyond their payload
        for k, items in enumerate(bins):
            load = _payload(getattr(items, "max_load", None)) or max_load
            self.over.append(bool(load) and sum(item_mass(it) for it in items) > load)
            given = bin_titles[k] if bin_titles is not None and k < len(bin_titles) else None
            if given is not None:
                self.titles.append([str(given)])
                continue
            length = used_length(items) if self.cut and items else (0.0 if self.cut else None)
            parts = bin_title_parts(k, items, load, length if self.free is None else None, self.mass_unit,
                                    bin_names[k] if bin_names is not None and k < len(bin_names) else None)
            if self.free is not None:
                top = used_length(items) if items else 0.0
                parts.append(f"load height {top:.6g}, {self.free - top:.6g} free above")
            self.titles.append(parts)

    def text_size(self, text, size):
        """Width and height of a text in inches."""
        from matplotlib.font_manager import FontProperties

        w, h, _ = self.renderer.get_text_width_height_descent(text, FontProperties(size=size), ismath=False)
        dpi = self.fig.dpi
        return w / dpi, h / dpi

    def wrapped_titles(self, width):
        """Bin titles on one line when they fit the bin's width, else one piece a line."""
        out = []
        for parts in self.titles:
            one = ", ".join(parts)
            out.append(one if self.text_size(one, _BIN_TITLE_SIZE)[0] <= width else "\n".join(parts))
        return out

    def title_height(self, texts):
        lines = max((t.count("\n") + 1 for t in texts), default=1)
        return lines * _BIN_TITLE_SIZE * 1.35 / 72.0 + 0.12


def _measure_legend(fig, handles, labels, ncol, title):
    leg = fig.legend(handles, labels, ncol=ncol, fontsize=_LEGEND_SIZE, title=title,
                     title_fontsize=_LEGEND_SIZE, frameon=False, loc="upper left")
    box = leg.get_window_extent(fig.canvas.get_renderer())
    leg.remove()
    return box.width / fig.dpi, box.height / fig.dpi


def _arrangements(n):
    """(columns, rows) of n bins: side by side first, then rows of them."""
    return [(c, -(-n // c)) for c in range(max(n, 1), 0, -1)]


def _fit(sheet, side, legend, cols, rows, sup_h):
    """Scale and margins of one arrangement. Titles are wrapped at the bin's
    width; a line still wider widens the gaps, so titles never run into each
    other. Repeated until the titles stop growing."""
    bw, bh = sheet.bin_w, sheet.height
    lw, lh = legend
    title_h, spill = sheet.title_height(["x"]), 0.0
    for _ in range(4):
        gap = max(_GAP_X, spill + 0.15)
        left, right = max(_LEFT, spill / 2 + 0.1), max(_RIGHT, spill / 2 + 0.1)
        avail_w = MAX_SIZE[0] - left - right - (cols - 1) * gap
        avail_h = MAX_SIZE[1] - _TOP - sup_h - _BOTTOM - rows * title_h - (rows - 1) * _GAP_Y
        if side == "right":
            avail_w -= lw + _LEGEND_PAD
        else:
            avail_h -= lh + _LEGEND_PAD
        scale = min(avail_w / (cols * bw), avail_h / (rows * bh))
        if scale <= 0:
            return None
        titles = sheet.wrapped_titles(bw * scale)
        new_h = sheet.title_height(titles)
        new_spill = max([0.0] + [sheet.text_size(line, _BIN_TITLE_SIZE)[0] - bw * scale
                                 for t in titles for line in t.split("\n")])
        if new_h <= title_h and new_spill <= spill + 1e-9:
            break
        title_h, spill = max(title_h, new_h), max(spill, new_spill)
    return dict(scale=scale, titles=titles, title_h=title_h, gap=gap, left=left, right=right)


def _plan_layout(sheet, legend_sizes, n_bins, sup_h):
    """The scale (inches per job unit), bin grid and legend side that make
    the bins largest within the figure's limits."""
    best = None
    for side in ("right", "below"):
        lw, lh, ncol = legend_sizes[side]
        for cols, rows in _arrangements(n_bins):
            fit = _fit(sheet, side, (lw, lh), cols, rows, sup_h)
            if fit is None:
                continue
            # Bins stand side by side; a second row only when it makes them much larger.
            key = (fit["scale"] / (_WRAP_GAIN if rows > 1 else 1.0), side == "right", cols)
            if best is None or key > best[0]:
                best = (key, dict(fit, cols=cols, rows=rows, side=side, ncol=ncol, legend=(lw, lh)))
    return best[1] if best else None


def _positive(value):
    return isinstance(value, (int, float)) and not isinstance(value, bool) and math.isfinite(value) and value > 0


def _payload(value):
    """A bin's own payload, when it carries a usable one."""
    return float(value) if _positive(value) else None


def draw_plan(plt, bins, bin_w, bin_h, title=None, dpi=150, label=True, bin_titles=None, max_load=None,
              kinds=None, leaders=False, unit=None, kind_notes=None, crop=False, sides=None, stock=None,
              bin_names=None):
    """Draw the plan picture and return its figure (see ``plot_layout``).

    ``kinds``: every kind of the job (colours then do not change with which
    kinds were placed); ``leaders``: a label that does not fit inside its item
    goes beside it with a leader line, never over another label; ``unit``
    names the axes' unit; ``kind_notes[kind]`` is said of the kind in the
    legend (its size); ``crop``: a bin whose load fills less of it is drawn
    to the load's height, its free height stated in its title; ``sides``: per
    bin a ``Quarvo.pictures.side.SideView`` drawn under its section (None: the
    section alone)."""
    from matplotlib.patches import Patch

    from Quarvo.pictures.side import SIDE_GAP, SIDE_SHARE, draw_side

    for name, value in (("bin_w", bin_w), ("bin_h", bin_h), ("max_load", max_load)):
        if not (value is None and name != "bin_w") and not _positive(value):
            raise ValueError(f"plot_layout: {name} must be a positive number, got {value!r}")
    fig = plt.figure(dpi=dpi)
    sheet = _Sheet(fig, bins, bin_w, bin_h, title, bin_titles, max_load, crop, bin_names)
    section_h = sheet.height
    if sides:
        # each bin's place holds its section and, under it, its side view
        sheet.height = section_h * (1.0 + SIDE_SHARE + SIDE_GAP)

    rows = sorted(kind_rows(bins), key=lambda r: natural_key(r[0]))
    style = {}
    for kind, (base, hatch) in kind_styles([r[0] for r in rows] + list(kinds or ())).items():
        style[kind] = dict(face=_mix(base, (1, 1, 1), _TINT), edge=_mix(base, (0, 0, 0), _SHADE), hatch=hatch)
    handles = [Patch(facecolor=style[k]["face"], edgecolor=style[k]["edge"], hatch=style[k]["hatch"],
                     linewidth=_ITEM_LINEWIDTH) for k, _, _ in rows]
    notes = kind_notes or {}
    labels = [legend_text(kind if kind not in notes else f"{kind} ({notes[kind]})", count, mass, sheet.mass_unit)
              for kind, count, mass in rows]
    mirrored = sum(1 for items in bins for it in items if getattr(it, "mirrored", False))
    if mirrored:
        handles.append(Patch(facecolor="none", edgecolor="black", linestyle=_MIRRORED_DASH, linewidth=_ITEM_LINEWIDTH))
        labels.append(mirrored_note(mirrored))
    total = sum(c for _, c, _ in rows)
    masses = [m for _, _, m in rows if m is not None]
    legend_title = f"{total} item{'' if total == 1 else 's'}" + \
        (f", {mass_text(sum(masses), sheet.mass_unit)}" if masses else "")

    sup_h = 0.5 if sheet.title else 0.0
    legend_sizes = {}
    if rows:
        room_h = MAX_SIZE[1] - _TOP - sup_h - _BOTTOM
        ncol = 1
        while True:
            lw, lh = _measure_legend(fig, handles, labels, ncol, legend_title)
            if lh <= room_h or ncol >= len(rows):
                break
            ncol += 1
        legend_sizes["right"] = (lw, lh, ncol)
        room_w = MAX_SIZE[0] - _LEFT - _RIGHT
        ncol = len(rows)
        while True:
            lw, lh = _measure_legend(fig, handles, labels, ncol, legend_title)
            if lw <= room_w or ncol == 1:
                break
            ncol -= 1
        legend_sizes["below"] = (lw, lh, ncol)
    else:
        legend_sizes = {"right": (0.0, 0.0, 1), "below": (0.0, 0.0, 1)}

    n_bins = max(len(bins), 1)
    plan = _plan_layout(sheet, legend_sizes, n_bins, sup_h)
    scale, cols, nrows = plan["scale"], plan["cols"], plan["rows"]
    bw_in, bh_in = sheet.bin_w * scale, sheet.height * scale
    lw, lh = plan["legend"]
    title_h = plan["title_h"]
    gap, left, right = plan["gap"], plan["left"], plan["right"]
    block_w = cols * bw_in + (cols - 1) * gap
    block_h = nrows * (bh_in + title_h) + (nrows - 1) * _GAP_Y
    if plan["side"] == "right":
        content_w = left + block_w + (_LEGEND_PAD + lw if rows else 0.0) + right
        content_h = _TOP + sup_h + max(block_h, lh) + _BOTTOM
    else:
        content_w = left + max(block_w, lw) + right
        content_h = _TOP + sup_h + block_h + _BOTTOM + (_LEGEND_PAD + lh if rows else 0.0)
    fig_w, fig_h = max(content_w, MIN_SIZE[0]), max(content_h, MIN_SIZE[1])
    fig.set_size_inches(fig_w, fig_h)
    x_left = (fig_w - content_w) / 2.0 + left
    y_top = fig_h - (fig_h - content_h) / 2.0 - _TOP - sup_h

    if sheet.title:
        fig.suptitle(sheet.title, fontsize=_TITLE_SIZE, y=(y_top + sup_h * 0.55) / fig_h, va="center")

    for k in range(n_bins):
        items = bins[k] if k < len(bins) else []
        col, row = k % cols, k // cols
        x0 = x_left + col * (bw_in + gap)
        y0 = y_top - row * (bh_in + title_h + _GAP_Y) - title_h - bh_in
        side = sides[k] if sides and k < len(sides) else None
        below_in = section_h * (SIDE_SHARE + SIDE_GAP) * scale if sides else 0.0
        if side is not None:
            side_ax = fig.add_axes((x0 / fig_w, y0 / fig_h, bw_in / fig_w, section_h * SIDE_SHARE * scale / fig_h))
            draw_side(side_ax, side, section_h, style, lambda m: mass_text(m, sheet.mass_unit))
        ax = fig.add_axes(((x0 / fig_w), (y0 + below_in) / fig_h, bw_in / fig_w, section_h * scale / fig_h))
        ax.set_xlim(0.0, sheet.bin_w)
        ax.set_ylim(0.0, section_h)
        ax.set_aspect("equal", adjustable="box")
        ax.tick_params(labelsize=_TICK_SIZE, labelleft=(col == 0), length=3)
        for spine in ax.spines.values():
            spine.set_linewidth(_BIN_LINEWIDTH)
        if sheet.cut:
            # An open strip, or a bin cut at its used length: the top edge is no wall.
            ax.spines["top"].set_linestyle((0, (5, 4)))
        if k < len(sheet.titles):
            ax.set_title(plan["titles"][k], fontsize=_BIN_TITLE_SIZE, pad=4,
                         color=_OVERLOAD if sheet.over[k] else "black")
        if stock and k < len(stock):
            draw_stock(ax, stock[k], sheet.bin_w, section_h)
        for item in items:
            _draw_item(ax, item, style[item_kind(item)])
        if label and leaders:
            _label_with_leaders(ax, sheet, items, label, scale)
        elif label:
            _label_items(ax, sheet, items, label, scale)
        if unit:
            ax.set_xlabel(unit, fontsize=_TICK_SIZE, labelpad=1)

    if rows:
        if plan["side"] == "right":
            anchor = ((x_left + block_w + _LEGEND_PAD) / fig_w, y_top / fig_h)
        else:
            anchor = (x_left / fig_w, (y_top - block_h - _BOTTOM - _LEGEND_PAD / 2) / fig_h)
            handles, labels = _row_major(handles, plan["ncol"]), _row_major(labels, plan["ncol"])
        fig.legend(handles, labels, ncol=plan["ncol"], fontsize=_LEGEND_SIZE, title=legend_title,
                   title_fontsize=_LEGEND_SIZE, frameon=False, loc="upper left", bbox_to_anchor=anchor,
                   borderaxespad=0.0, alignment="left")
    return fig


# Stock outside a bin's outline, and its defects
_NOT_STOCK = "#d9d9d9"
_DEFECT = "#b2182b"


def draw_stock(ax, b, frame_w, frame_h):
    """Bin ``b`` (a ``Bin``) on axes framing ``frame_w`` x ``frame_h``: what is
    not its material (outside its outline or its rectangle, in its cut-outs)
    shaded, its defects hatched."""
    from matplotlib.patches import PathPatch

    outer = b.outer if b.outer is not None else \
        [(0.0, 0.0), (b.width, 0.0), (b.width, b.height), (0.0, b.height)]
    top = max(frame_h, b.height)
    frame = [(0.0, 0.0), (max(frame_w, b.width), 0.0), (max(frame_w, b.width), top), (0.0, top)]
    ax.add_patch(PathPatch(_holed_path(frame, [outer]), facecolor=_NOT_STOCK, edgecolor="none", zorder=0.5))
    for h in b.holes:
        ax.add_patch(PathPatch(_holed_path(h, []), facecolor=_NOT_STOCK, edgecolor="black",
                               linewidth=_ITEM_LINEWIDTH, zorder=0.5))
    ax.add_patch(PathPatch(_holed_path(outer, []), facecolor="none", edgecolor="black",
                           linewidth=_BIN_LINEWIDTH, zorder=0.6))
    for d in b.defects:
        ax.add_patch(PathPatch(_holed_path(d, []), facecolor="none", edgecolor=_DEFECT, hatch="xxx",
                               linewidth=_ITEM_LINEWIDTH, zorder=0.6))


def draw_bin(fig, rect, items, bin_w, bin_h, *, kinds=(), label=None, unit=None, crop=True, font=7.0,
             hatched=False, stock=None):
    """One bin drawn into ``rect`` (left, bottom, width, height in figure
    fractions) of ``fig``, as large as fits at its true aspect: its items
    coloured by kind (``kinds``: every kind of the job), each labelled by
    ``label(item)`` inside it or on a leader line, the axes in ``unit``, a
    bin its load fills less drawn to the load's height. With ``hatched``
    every kind gets a hatching of its own as well, for print in black and
    white. ``stock``: the ``Bin`` it is, its outline and defects drawn
    (``draw_stock``). Returns (axes, the drawing's height in job units)."""
    sheet = _Sheet(fig, [items], bin_w, bin_h, None, None, None, crop)
    styles = kind_styles([item_kind(it) for it in items] + list(kinds))
    order = sorted(styles, key=natural_key)
    look = {}
    for k, (kind, (base, hatch)) in enumerate(styles.items()):
        if hatched:
            hatch = _HATCHES[1:][order.index(kind) % (len(_HATCHES) - 1)] if order.index(kind) else ""
        look[kind] = dict(face=_mix(base, (1, 1, 1), _TINT), edge=_mix(base, (0, 0, 0), _SHADE), hatch=hatch)
    fw, fh = fig.get_size_inches()
    w_in, h_in = rect[2] * fw, rect[3] * fh
    scale = min(w_in / sheet.bin_w, h_in / sheet.height)
    aw, ah = sheet.bin_w * scale, sheet.height * scale
    x0 = rect[0] * fw + (w_in - aw) / 2
    y0 = rect[1] * fh + (h_in - ah)
    ax = fig.add_axes((x0 / fw, y0 / fh, aw / fw, ah / fh))
    ax.set_xlim(0.0, sheet.bin_w)
    ax.set_ylim(0.0, sheet.height)
    ax.set_aspect("equal", adjustable="box")
    ax.tick_params(labelsize=font, length=2)
    for spine in ax.spines.values():
        spine.set_linewidth(_BIN_LINEWIDTH)
    if sheet.cut:
        ax.spines["top"].set_linestyle((0, (5, 4)))
    if stock is not None:
        draw_stock(ax, stock, sheet.bin_w, sheet.height)
    for item in items:
        _draw_item(ax, item, look[item_kind(item)])
    if label:
        _label_with_leaders(ax, sheet, items, label, scale, font=font, spaced=True)
    if unit:
        ax.set_xlabel(unit, fontsize=font, labelpad=1)
    return ax, sheet.height


def _row_major(entries, ncol):
    """Entries reordered so that a legend, which fills column by column,
    reads row by row under the bins."""
    n = len(entries)
    nrows = -(-n // ncol)
    return [entries[c + r * ncol] for c in range(ncol) for r in range(nrows) if c + r * ncol < n]


def mirrored_note(count):
    """The legend's line for the dashed outlines of mirrored parts."""
    return f"dashed outline: mirrored ({count})"


def _draw_item(ax, item, look):
    from matplotlib.patches import Circle as CirclePatch, PathPatch, Polygon as PolygonPatch

    common = dict(facecolor=look["face"], edgecolor=look["edge"], hatch=look["hatch"] or None,
                  linewidth=_ITEM_LINEWIDTH)
    if getattr(item, "mirrored", False):
        common["linestyle"] = _MIRRORED_DASH
    if isinstance(item, Pipe) and item.bore > 0:
        from matplotlib.patches import Annulus

        (cx, cy), r = item.transformed()
        ax.add_patch(Annulus((cx, cy), r, r - item.bore, **common))
        return
    if isinstance(item, Circle):
        (cx, cy), r = item.transformed()
        ax.add_patch(CirclePatch((cx, cy), r, **common))
        return
    outer, holes = _contours(item)
    if holes:
        ax.add_patch(PathPatch(_holed_path(outer, holes), **common))
    else:
        ax.add_patch(PolygonPatch(_oriented(outer, True), closed=True, **common))


def _label_text(item, label):
    if callable(label):
        text = label(item)
        return None if text is None or text == "" else str(text)
    return item_kind(item)


def _label_items(ax, sheet, items, label, scale):
    """One label per item that holds it wholly inside its material, at the
    drawing's scale, in the largest of the label sizes that fits; the others
    stay unlabelled (the legend names them)."""
    sizes = {}
    for item in items:
        text = _label_text(item, label)
        if text is None:
            continue
        ring = isinstance(item, Pipe) and item.bore > 0
        if isinstance(item, Circle) and not ring:
            (cx, cy), r = item.transformed()
        else:
            outer, holes = _contours(item)
        for font in LABEL_SIZES:
            if (text, font) not in sizes:
                w, h = sheet.text_size(text, font)
                pad = 2.0 * font * _LABEL_PAD / 72.0
                sizes[text, font] = ((w + pad) / scale, (h + pad) / scale)
            w, h = sizes[text, font]
            if isinstance(item, Circle) and not ring:
                spot = (cx, cy) if circle_label_fits(r, w, h) else None
            else:
                spot = label_spot(outer, holes, w, h)
            if spot is not None:
                ax.text(spot[0], spot[1], text, ha="center", va="center", fontsize=font)
                break


def _label_with_leaders(ax, sheet, items, label, scale, font=LABEL_SIZES[0], spaced=False):
    """Every item's label, inside it where it fits, else beside it on a
    leader line; no label over another (``Quarvo.pictures.labels``). With
    ``spaced`` each label is drawn between two spaces, so that a PDF's text
    reads neighbouring labels as separate words."""
    from Quarvo.pictures.labels import place_labels

    pad = 2.0 * font * _LABEL_PAD / 72.0

    def size(text):
        w, h = sheet.text_size(text, font)
        return (w + pad) / scale, (h + pad) / scale

    texts = [_label_text(it, label) for it in items]
    for lab in place_labels(items, texts, size, (0.0, 0.0, sheet.bin_w, sheet.height)):
        if lab.anchor is not None:
            ax.annotate("", xy=lab.anchor, xytext=(lab.x, lab.y), annotation_clip=False,
                        arrowprops=dict(arrowstyle="-", linewidth=0.5, color="0.2", shrinkA=0, shrinkB=0))
        ax.text(lab.x, lab.y, f" {lab.text} " if spaced else lab.text, ha="center", va="center", fontsize=font,
                gid="item-label",
                bbox=dict(boxstyle="square,pad=0.1", facecolor="white", edgecolor="none", alpha=0.8)
                if lab.anchor is not None else None)


# --------------------------------------------------------------- SVG in job units

# Gap between sheets: a share of the width, at least this many units (as in a written layout).
_SVG_GAP_FRACTION = 0.05
_SVG_GAP_MIN = 10.0
# Width of a glyph and height of a line, as shares of the font size: a label's box.
_GLYPH_W = 0.6
_LINE_H = 1.2


def _hex(color):
    return "#" + "".join(f"{round(255 * max(0.0, min(1.0, c))):02x}" for c in color[:3])


class _SvgStyle:
    """What the SVG writer asks of the plan picture: colours by kind, labels
    where they fit, sheet titles, the legend."""

    def __init__(self, bins, title, label, titles, font):
        rows = kind_rows(bins)
        rows.sort(key=lambda r: natural_key(r[0]))
        mirrored = sum(1 for items in bins for it in items if getattr(it, "mirrored", False))
        self.dashed_note = mirrored_note(mirrored) if mirrored else None
        self.colors = {}
        for kind, (base, _) in kind_styles([r[0] for r in rows]).items():
            self.colors[kind] = (_hex(_mix(base, (1, 1, 1), _TINT)), _hex(_mix(base, (0, 0, 0), _SHADE)))
        unit = mass_unit(bins)
        self.legend = [(*self.colors[kind], legend_text(kind, count, mass, unit)) for kind, count, mass in rows]
        total = sum(c for _, c, _ in rows)
        masses = [m for _, _, m in rows if m is not None]
        self.legend_title = f"{total} item{'' if total == 1 else 's'}" + \
            (f", {mass_text(sum(masses), unit)}" if masses else "")
        self.title = title or None
        self.titles = titles
        self.label = label
        self.sizes = (font, 0.75 * font)

    def look(self, item):
        fill, edge = self.colors[item_kind(item)]
        return fill, edge, self._label(item) if self.label else None, bool(getattr(item, "mirrored", False))

    def _label(self, item):
        text = _label_text(item, self.label)
        if text is None:
            return None
        if isinstance(item, Circle):
            (cx, cy), r = item.transformed()
        else:
            outer, holes = _contours(item)
        for size in self.sizes:
            w, h = _GLYPH_W * size * len(text) + 0.3 * size, _LINE_H * size
            if isinstance(item, Circle):
                spot = (cx, cy) if circle_label_fits(r, w, h) else None
            else:
                spot = label_spot(outer, holes, w, h)
            if spot is not None:
                return text, spot[0], spot[1], size
        return None


def write_plan_svg(bins, bin_w, bin_h, path, title=None, label=True, bin_titles=None, max_load=None, unit="mm",
                   bin_names=None):
    """The plan picture as an SVG in job units: one user unit is one job unit,
    y runs up (as in a layout written by ``Quarvo.cad.write_layout``, whose
    writer draws it), so it measures true. Colours by kind with a legend
    beside the sheets, labels only where they fit inside their item, each
    sheet titled; a strip is drawn to its used length. ``unit`` ("mm", "cm",
    "m" or "in") gives the page's size."""
    from Quarvo.cad import svg as cad_svg

    for name, value in (("bin_w", bin_w), ("bin_h", bin_h), ("max_load", max_load)):
        if not (value is None and name != "bin_w") and not _positive(value):
            raise ValueError(f"plot_layout: {name} must be a positive number, got {value!r}")
    if unit not in cad_svg._SIZE_UNIT:
        raise ValueError(f"unit must be one of {', '.join(cad_svg._SIZE_UNIT)}, got {unit!r}")
    loads = [_payload(getattr(b, "max_load", None)) or max_load for b in bins]
    bins = [list(b) for b in bins]
    gap = max(_SVG_GAP_FRACTION * bin_w, _SVG_GAP_MIN)
    per = mass_unit(bins)
    sheets, titles = [], []
    for k, items in enumerate(bins):
        ox = k * (bin_w + gap)
        length = used_length(items) if items else 0.0
        height = float(bin_h) if bin_h is not None else (length if length > 0 else 0.25 * bin_w)
        sheets.append((k + 1, ox, float(bin_w), height,
                       [(it, *cad_svg.world_geometry(it, ox)) for it in items]))
        load = loads[k]
        over = bool(load) and sum(item_mass(it) for it in items) > load
        given = bin_titles[k] if bin_titles is not None and k < len(bin_titles) else None
        text = str(given) if given is not None else \
            ", ".join(bin_title_parts(k, items, load, length if bin_h is None else None, per,
                                      bin_names[k] if bin_names is not None and k < len(bin_names) else None))
        titles.append((text, over))
    total_w = len(bins) * bin_w + max(len(bins) - 1, 0) * gap if bins else float(bin_w)
    total_h = max([h for *_, h, _ in sheets] + [0.0]) or (float(bin_h) if bin_h else 0.25 * bin_w)
    font = max(total_w, total_h) / 60.0
    style = _SvgStyle(bins, title, label, titles, font)
    cad_svg.write(path, sheets, total_w, total_h, unit, style=style)
