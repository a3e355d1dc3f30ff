"""Parts from CAD files, and layouts back to CAD files: DXF (through ezdxf) and
SVG (through svgelements), the extra ``Quarvo[cad]``.

``read_parts(path)`` returns one item per closed outer contour of the drawing
on the layers read (``layers``; by default every layer but ``SKIPPED_LAYERS``):
a ``Polygon`` with the contours inside it as its holes (contours inside a hole
are parts again), or a ``Circle`` for a lone circle. Each polygon keeps its
true shape (``true_shape``: the drawing's lines, arcs, bulges and curves) for
writing and measuring; the engine packs chords within ``tolerance`` (default:
``TOLERANCE_FRACTION`` of the larger side of each part's bounding box) on the
side that keeps the clearance: a flattened outer contour contains the true
one, a flattened hole lies within the true hole. Open entities (lines, arcs,
open polylines and curves) are joined end to end when their ends lie within
``snap`` (default: ``SNAP_FRACTION`` of the drawing's extent). Lengths come in
the drawing's unit ($INSUNITS, or the SVG page's size and viewBox, 96 px to
the inch) and leave in ``unit``.

``write_layout(bins, bin_w, bin_h, path)`` writes packed bins side by side as
DXF (per sheet a layer for its outline and one for its parts, the parts as
drawn, moved into place) or SVG (y up, one user unit to one job unit); reading
such a file back gives every part once, at its place.
"""
import math
import os

try:
    import ezdxf  # noqa: F401
    import svgelements  # noqa: F401
except ImportError as exc:  # pragma: no cover - depends on the environment
    raise ImportError('Quarvo.cad needs ezdxf and svgelements: pip install "Quarvo[cad]"') from exc

from Quarvo.cad import dxf as cad_dxf, svg as cad_svg
from Quarvo.cad.contours import DEFAULT_BUDGET, MAX_COORDINATE, SKIPPED_LAYERS, TOLERANCE_FRACTION, Affine, \
    ContourError, LayerChoice, Piece, ReadBudget, assemble, num
from Quarvo.cad.drawn import TrueShape
from Quarvo.files import OutputSet
from Quarvo.first_fit_algorithm import used_length
from Quarvo.geometry import Circle, Polygon, Shape

UNITS_MM = {"mm": 1.0, "cm": 10.0, "m": 1000.0, "in": 25.4}
# Default distance within which entity ends join, as a fraction of the drawing's extent.
SNAP_FRACTION = 1e-5
# Default gap between bins in a written layout: a fraction of the bin width, at least GAP_MIN units.
GAP_FRACTION = 0.05
GAP_MIN = 10.0

__all__ = ["read_parts", "read_stock", "DEFECT_LAYERS", "write_layout", "parts_for_job_item", "Parts", "ReadBudget", "TrueShape", "TOLERANCE_FRACTION",
           "SNAP_FRACTION", "SKIPPED_LAYERS"]


def _positive(value, name):
    if value is None:
        return None
    if isinstance(value, bool) or not isinstance(value, (int, float)) or not math.isfinite(value) or value <= 0:
        raise ValueError(f"{name} must be a positive finite number, got {value!r}")
    return float(value)


def _unit(unit):
    if unit not in UNITS_MM:
        raise ValueError(f"unit must be one of {', '.join(UNITS_MM)}, got {unit!r}")
    return unit


def _kind(path):
    ext = os.path.splitext(path)[1].lower()
    if ext in (".dxf", ".svg"):
        return ext[1:]
    with open(path, "rb") as fh:
        head = fh.read(512)
    text = head.lstrip().lower()
    if text.startswith(b"<?xml") or text.startswith(b"<svg"):
        return "svg"
    if head.startswith(b"AutoCAD Binary DXF") or text.startswith(b"0") or text.startswith(b"999"):
        return "dxf"
    raise ContourError("neither a DXF nor an SVG file (name it .dxf or .svg)")


def _point_check(unit):
    def check(p, src, where):
        x, y = p
        if not (abs(x) <= MAX_COORDINATE and abs(y) <= MAX_COORDINATE):
            raise ContourError(f"{src}: coordinate at {where(p)} is beyond {num(MAX_COORDINATE)} {unit}")
    return check


def _extent(pieces):
    xs, ys = [], []
    for piece in pieces:
        for s in piece.segs:
            for x, y in s.hull():
                xs.append(x)
                ys.append(y)
    if not xs:
        return 0.0
    return max(max(xs) - min(xs), max(ys) - min(ys))


# A drawing whose box lies farther than this from its origin, and farther
# than FAR_SIZES times its extent, is assembled at its lower-left corner.
FAR = 2.0 ** 20
FAR_SIZES = 1e3


def _far_corner(pieces, extent):
    """The lower-left corner of the drawing's box where the drawing lies far from its origin, else None."""
    pts = [p for piece in pieces for s in piece.segs for p in s.hull()]
    if not pts:
        return None
    x0, y0 = min(p[0] for p in pts), min(p[1] for p in pts)
    x1, y1 = max(p[0] for p in pts), max(p[1] for p in pts)
    far = max(abs(x0), abs(y0), abs(x1), abs(y1))
    return (x0, y0) if far > FAR and far > FAR_SIZES * extent else None


def _moved_segs(segs, m, drawn):
    """Segments under the map ``m``; an entity's drawing shared by its segments is mapped once (``drawn``)."""
    out = []
    for s in segs:
        key = id(s.drawn)
        if key not in drawn:
            drawn[key] = None if s.drawn is None else s.drawn.mapped(m)
        out.append(s.mapped(m, drawn[key]))
    return out


def _moved_part(part, dx, dy):
    """An assembled part moved by (dx, dy): its chords, its segments as drawn, its circles."""
    m, drawn = Affine.shift(dx, dy), {}

    def ring(pts):
        return [(x + dx, y + dy) for x, y in pts]

    def circle(c):
        return None if c is None else ((c[0][0] + dx, c[0][1] + dy), c[1])

    part.outer, part.holes = ring(part.outer), [ring(h) for h in part.holes]
    part.true_outer = _moved_segs(part.true_outer, m, drawn)
    part.true_holes = [_moved_segs(h, m, drawn) for h in part.true_holes]
    part.circle, part.round_outer = circle(part.circle), circle(part.round_outer)
    part.round_holes = [circle(c) for c in part.round_holes]
    return part


def _piece_extent(piece):
    pts = [p for s in piece.segs for p in s.hull()]
    return max(max(p[0] for p in pts) - min(p[0] for p in pts), max(p[1] for p in pts) - min(p[1] for p in pts))


def _layer_choice(layers):
    if layers is None:
        return LayerChoice()
    names = layers.split(",") if isinstance(layers, str) else layers
    try:
        names = [n.strip() if isinstance(n, str) else n for n in names]
    except TypeError:
        raise ValueError(f"layers must be layer names, got {layers!r}") from None
    if not names or any(not isinstance(n, str) or not n for n in names):
        raise ValueError(f"layers must be non-empty layer names, got {layers!r}")
    return LayerChoice(names)


def _read(path, tolerance, unit, snap, budget, layers):
    size = os.path.getsize(path)
    if size > budget.max_bytes:
        raise ContourError(f"{size / 2**20:.1f} MB, more than the reading budget of {budget.max_bytes / 2**20:g} MB "
                           "(read_parts(..., budget=ReadBudget(...)) raises it)")
    kind = _kind(path)
    check = _point_check(unit)
    if kind == "dxf":
        doc = cad_dxf.open_drawing(path)
        cad_dxf.check_budget(doc, budget)
        mm = cad_dxf.read_units(doc)
        reader = cad_dxf.DxfReader((mm if mm is not None else UNITS_MM[unit]) / UNITS_MM[unit], check, layers)
        reader.read(doc)
    else:
        cad_svg.check_budget(path, budget)
        reader = cad_svg.SvgReader(UNITS_MM[unit], unit, check, layers)
        reader.read(path)
    pieces = reader.pieces
    extent = _extent(pieces)
    if snap is None:
        snap = SNAP_FRACTION * extent
    # bits no longer than the snap distance join nothing: a zero-length line, a dot
    pieces = [p for p in pieces if p.closed or _piece_extent(p) > snap]
    # A drawing far from its origin is assembled at it: areas, nesting and chords
    # of small parts at 1e9 would lose their digits. The parts go back after.
    corner = _far_corner(pieces, extent)
    where = reader.where
    if corner is not None:
        x0, y0 = corner
        pieces = [Piece(_moved_segs(p.segs, Affine.shift(-x0, -y0), {}), p.closed, p.order, p.group) for p in pieces]
        where = lambda p: reader.where((p[0] + x0, p[1] + y0))  # noqa: E731  (messages name the drawing's place)
    # a frame round the parts is refused unless the layers are named (a layout Quarvo wrote has none)
    parts = assemble(pieces, snap if snap > 0 else 1e-300, tolerance, where,
                     refuse_border=layers.default and not reader.layout) if pieces else []
    if corner is not None:
        parts = [_moved_part(part, *corner) for part in parts]
    if not parts:
        where = "" if layers.default else f" on the layers {', '.join(sorted(layers.names))}"
        seen = f"; layers with outlines: {', '.join(layers.seen_layers())}" if layers.seen else ""
        raise ContourError(f"no closed contour in the drawing ({reader.count} outline entities read{where}{seen})")
    return parts


class Parts(list):
    """The parts of one drawing, in drawing order; ``skipped_layers``: the
    layers left out by default (frames, titles, dimensions, construction)
    that held outlines."""

    skipped_layers = ()


def _item(part, shape_id):
    if part.circle is not None:
        (cx, cy), r = part.circle
        item = Circle(r, shape_id)
        item.set_position(cx, cy)
        item.round_outer, item.round_holes = None, []
        return item
    ox = min(p[0] for p in part.outer)
    oy = min(p[1] for p in part.outer)

    def local(ring):
        return [(x - ox, y - oy) for x, y in ring]

    def marker(circle):
        return None if circle is None else (circle[0][0] - ox, circle[0][1] - oy, circle[1])

    item = Polygon(local(part.outer), [local(h) for h in part.holes], shape_id)
    item.set_position(ox, oy)
    item.true_shape = TrueShape(part.true_outer, part.true_holes, offset=(ox, oy))
    # whole circles of the drawing: a written layout gives them back as circles
    item.round_outer = marker(part.round_outer)
    item.round_holes = [marker(c) for c in part.round_holes]
    return item


def read_parts(path, tolerance=None, unit="mm", *, snap=None, budget=DEFAULT_BUDGET, layers=None):
    """Parts of a DXF or SVG drawing as ``Polygon`` and ``Circle`` items, placed
    where the drawing has them (``transformed()`` gives the drawing's
    coordinates in ``unit``, y up), with ``shape_id`` the file's stem, plus
    "-k" when the file holds several parts (in the order they are drawn);
    a ``Parts`` list.

    ``layers`` (names, or one text "CUT,HOLES"; compared without case)
    takes only those layers. By default every layer is read but those
    commonly given to frames, titles, dimensions and construction
    (``SKIPPED_LAYERS``, compared without case, spaces, "-", "_" and "."; the
    list's ``skipped_layers`` names those met), and a contour that holds
    every other one of a drawing of several parts is refused as a border.

    A polygon carries ``true_shape``, the ``TrueShape`` of its contours as
    drawn in its local frame, and ``round_outer`` and ``round_holes``:
    (cx, cy, r) in that frame for each contour drawn as one whole circle,
    else None. Raises ValueError, one line naming the file, the entity and
    its place, for an open or crossing contour, a drawing without closed
    contours, a border, an unreadable file, a coordinate beyond 1e12, or a
    drawing beyond the reading ``budget`` (``ReadBudget``: the file's size,
    its entities and vertices once blocks and ``<use>`` are expanded;
    refused before the work).
    """
    path = os.fspath(path)
    name = os.path.basename(path)
    unit = _unit(unit)
    tolerance = _positive(tolerance, "tolerance")
    snap = _positive(snap, "snap")
    choice = _layer_choice(layers)
    try:
        if not isinstance(budget, ReadBudget):
            raise TypeError(f"budget must be a ReadBudget, got {type(budget).__name__}")
        parts = _read(path, tolerance, unit, snap, budget, choice)
    except ContourError as exc:
        raise ValueError(f"{name}: {exc}") from None
    stem = os.path.splitext(name)[0]
    items = Parts()
    items.skipped_layers = tuple(choice.skipped_layers()) if choice.default else ()
    for k, part in enumerate(parts, 1):
        shape_id = f"{stem}-{k}" if len(parts) > 1 else stem
        try:
            items.append(_item(part, shape_id))
        except ValueError as exc:
            msg = str(exc).splitlines()[0] if str(exc) else type(exc).__name__
            raise ValueError(f"{name}: part {shape_id} ({part.src}) is not a sound polygon: {msg}") from None
    return items


# The layers a stock drawing's defects lie on (compared as layer names are)
DEFECT_LAYERS = ("DEFECT", "DEFECTS")


def _rings(item):
    """A read part's contours in the drawing's frame: (outer, holes)."""
    from Quarvo.geometry_handle import circle_to_polygon

    if isinstance(item, Circle):
        (cx, cy), r = item.transformed()
        return circle_to_polygon((cx, cy), r, 64), []
    return list(item.transformed()), [list(h) for h in item.transformed_holes()]


def read_stock(path, tolerance=None, unit="mm", *, budget=DEFAULT_BUDGET, count=1, cost=None, margin=0.0):
    """The stock a DXF or SVG drawing holds (remnants, hides, irregular
    plates): one ``Bin.polygon`` per closed outline on its layers but the
    defects' (every layer but ``SKIPPED_LAYERS`` and the defects'), its inner
    contours its cut-outs, and as its defects the closed contours on a layer
    named DEFECT or DEFECTS (an SVG: an Inkscape layer or top-level group of
    that name) that lie on it or cross it. Each bin keeps the drawing's frame
    in ``origin``; ``count``, ``cost`` and ``margin`` are each bin's. Raises
    ValueError, one line naming the file, for a drawing without outlines or a
    defect on no piece of stock."""
    from Quarvo.geometry import Bin
    from Quarvo.geometry_handle import point_in_polygon

    name = os.path.basename(os.fspath(path))
    pieces = [_rings(it) for it in read_parts(path, tolerance, unit, budget=budget)]
    try:
        flaws = [_rings(it)[0] for it in read_parts(path, tolerance, unit, budget=budget, layers=DEFECT_LAYERS)]
    except ValueError as exc:
        if "no closed contour" not in str(exc):
            raise
        flaws = []
    defects = [[] for _ in pieces]
    for flaw in flaws:
        host = next((k for k, (outer, _) in enumerate(pieces)
                     if any(point_in_polygon(p, outer) for p in flaw) or any(point_in_polygon(p, flaw) for p in outer)),
                    None)
        if host is None:
            x, y = flaw[0]
            raise ValueError(f"{name}: the defect at ({x:.6g}, {y:.6g}) lies on no piece of stock")
        defects[host].append(flaw)
    return [Bin.polygon(outer, holes, found, count=count, cost=cost, margin=margin)
            for (outer, holes), found in zip(pieces, defects)]


def _copy(item):
    if isinstance(item, Circle):
        twin = Circle(item.radius, item.shape_id)
    else:
        twin = Polygon(item.outer, item.holes, item.shape_id)
    twin.set_position(item.tx, item.ty)
    twin.rotation = item.rotation
    twin.round_outer = getattr(item, "round_outer", None)
    twin.round_holes = list(getattr(item, "round_holes", []) or [])
    if isinstance(item, Polygon):
        twin.true_shape = getattr(item, "true_shape", None)
    return twin


def parts_for_job_item(path, quantity=1, tolerance=None, unit="mm", base=None, layers=None):
    """The items of a job entry that names a file: every part of the file
    (on ``layers``, as ``read_parts`` takes them), ``quantity`` times
    (distinct objects, part by part), as a ``Parts`` list. A relative
    ``path`` is taken from ``base``, the job file's folder."""
    if isinstance(quantity, bool) or not isinstance(quantity, int) or quantity < 1:
        raise ValueError(f"{os.fspath(path)}: quantity must be a whole number at least 1, got {quantity!r}")
    path = os.fspath(path)
    if base is not None and not os.path.isabs(path):
        path = os.path.join(os.fspath(base), path)
    parts = read_parts(path, tolerance, unit, layers=layers)
    out = Parts()
    out.skipped_layers = parts.skipped_layers
    for part in parts:
        out.append(part)
        out.extend(_copy(part) for _ in range(quantity - 1))
    return out


# ---------------------------------------------------------------- writing


def _bins_of(bins):
    """The bins of do_pack's (bins, unplaced), of a bin list, or of one placer's packed list."""
    if isinstance(bins, tuple) and len(bins) == 2 and isinstance(bins[1], list) and \
            all(isinstance(b, list) for b in bins[0]):
        bins = bins[0]
    bins = list(bins)
    if bins and isinstance(bins[0], Shape):
        bins = [bins]
    for b, items in enumerate(bins):
        for k, item in enumerate(items):
            if not isinstance(item, (Circle, Polygon)):
                raise TypeError(f"bin {b + 1} item {k}: expected a Polygon or Circle, got {type(item).__name__}")
            for name in ("tx", "ty", "rotation"):
                v = getattr(item, name)
                if not (math.isfinite(v) and abs(v) <= MAX_COORDINATE):
                    raise ValueError(f"bin {b + 1} item {k} (shape_id {item.shape_id}): {name} is {v!r}")
    return bins


def _block_key(item):
    """Items of one shape share a block: those of one drawn part by its shape, others by their rings."""
    if isinstance(item, Circle):
        return ("circle", item.radius)
    shape = getattr(item, "true_shape", None)
    if shape is not None:
        return ("drawn", id(shape))
    round_outer, round_holes = cad_svg.markers(item)
    return ("polygon", tuple(tuple(p) for p in item.outer), tuple(tuple(tuple(p) for p in h) for h in item.holes),
            round_outer, tuple(round_holes))


def _block_namer(name_of):
    def block_name(item, name, n):
        label = "".join(ch if ch.isalnum() or ch in "-_" else "_" for ch in str(name))[:64]
        return f"part-{n}-{label}" if label else f"part-{n}"
    return block_name


def _shape_id(item):
    return item.shape_id


def write_layout(bins, bin_w, bin_h, path, *, unit="mm", gap=None, names=None, explode=True, sizes=None,
                 stock=None):
    """Write packed bins to ``path`` (.dxf or .svg) as geometry in the job's
    ``unit``: bins side by side, ``gap`` apart (default 5% of the width, at
    least 10 units), each with its outline; every placed item at its place,
    rotation and mirror (``item.mirrored``), as drawn: a part read from a
    drawing by its ``true_shape`` (its lines, arcs, circles, bulges and
    splines moved into place exactly; a mirror flips their sense), any other
    polygon by its rings. ``bins`` is the first element of ``do_pack()``'s
    result or the whole (bins, unplaced) pair; a ``bin_h`` of None draws each
    bin to its used length. ``names(item)`` names the parts in the file (DXF
    groups and block names, SVG ``data-shape-id``), by default their
    ``shape_id``.

    DXF: sheet N's outline on layer ``sheet-N`` (grey, not plotted), its
    parts on ``parts-N``: ``explode`` (the default) writes each part's own
    entities, one group per part; ``explode=False`` each distinct part as a
    block inserted at its place (a mirrored one with x scale -1). SVG: per
    sheet the Inkscape layers ``sheet-N`` and ``parts-N``. ``sizes``: per
    bin its (width, height) where the sheets differ (sheets of several
    kinds; ``bin_w`` and ``bin_h`` are then the largest). ``stock``: per bin
    the ``Bin`` it is, its own outline and cut-outs drawn as its outline and
    its defects on a layer ``defects-N`` (red, not plotted; never read back
    as parts); its size is then the bin's. The file appears whole or not at
    all."""
    path = os.fspath(path)
    unit = _unit(unit)
    ext = os.path.splitext(path)[1].lower()
    if ext not in (".dxf", ".svg"):
        raise ValueError(f"{os.path.basename(path)}: a layout is written as .dxf or .svg")
    bin_w = _positive(bin_w, "bin_w")
    if bin_h is not None:
        bin_h = _positive(bin_h, "bin_h")
    gap = max(GAP_FRACTION * bin_w, GAP_MIN) if gap is None else gap
    if isinstance(gap, bool) or not isinstance(gap, (int, float)) or not (math.isfinite(gap) and gap >= 0):
        raise ValueError(f"gap must be a finite number at least 0, got {gap!r}")
    bins = _bins_of(bins)
    name_of = _shape_id if names is None else names
    if stock is not None:
        stock = list(stock)
        if len(stock) != len(bins):
            raise ValueError(f"stock: {len(stock)} bins of stock for {len(bins)} bins")
        sizes = [(b.width, b.height) for b in stock]
    if sizes is not None:
        sizes = [(_positive(w, "sizes: a width"), _positive(h, "sizes: a height")) for w, h in sizes]
        if len(sizes) != len(bins):
            raise ValueError(f"sizes: {len(sizes)} sizes for {len(bins)} bins")
    sheets = []
    ox = 0.0
    for b, items in enumerate(bins):
        width, height = sizes[b] if sizes is not None else \
            (bin_w, bin_h if bin_h is not None else max(used_length(items), 0.0))
        contours = None
        if stock is not None and (stock[b].outer is not None or stock[b].defects):
            sb = stock[b]
            outer = sb.outer or [(0.0, 0.0), (sb.width, 0.0), (sb.width, sb.height), (0.0, sb.height)]
            contours = (outer, sb.holes, sb.defects)
        # sheets of one size at b (w + gap), as always; of several sizes each after the last
        at = b * (bin_w + gap) if sizes is None else ox
        sheets.append((b + 1, at, width, height, items, contours))
        ox += width + gap
    with OutputSet() as outputs:
        tmp = outputs.temp(path)
        if ext == ".dxf":
            cad_dxf.write(tmp, [(number, ox, w, h, [(it, name_of(it), _block_key(it), cad_svg.local_shape(it),
                                                     cad_svg.placement(it, ox)) for it in items], contours)
                                for number, ox, w, h, items, contours in sheets], unit, _block_namer(name_of),
                          explode=explode)
        else:
            total_w = ((len(sheets) * bin_w if sizes is None else sum(w for _, _, w, _, _, _ in sheets))
                       + max(len(sheets) - 1, 0) * gap) if sheets else bin_w
            total_h = max([h for _, _, _, h, _, _ in sheets] + [bin_h or 0.0]) or 1.0
            cad_svg.write(tmp, [(number, ox, w, h, [(it, *cad_svg.world_geometry(it, ox)) for it in items], contours)
                                for number, ox, w, h, items, contours in sheets], total_w, total_h, unit,
                          name_of=name_of)
        outputs.commit()
