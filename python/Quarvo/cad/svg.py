"""SVG files: shapes to contour segments through svgelements (transforms, groups
and <use> applied, y flipped up), on the layers chosen; and layouts to paths
and circles in job units (plain, for CAM, or styled as the plan picture),
which needs no parser.

A shape's layer is the label of the innermost Inkscape layer holding it (a
``<g inkscape:groupmode="layer">``: its ``inkscape:label``, else its id); in
a drawing without Inkscape layers, the name of the top-level group holding
it (``inkscape:label``, Illustrator's ``data-name``, else its id); a shape
outside them lies on layer "0", as in DXF. A written layout gives each sheet
two Inkscape layers, ``sheet-N`` (the outline) and ``parts-N``."""
import io
import math
import re
from xml.sax.saxutils import escape, quoteattr

from Quarvo.cad.contours import Affine, Bezier, ContourError, Drawn, EllArc, Line, Piece, loop_circle, num, \
    over_budget
from Quarvo.cad.drawn import TrueShape, ellipse_axes

PX_MM = 25.4 / 96.0
# Millimetres per unit of the page's size; svgelements rounds some of its own
# factors, so the page's unit is converted with the parser's factor undone.
_PAGE_MM = {"mm": 1.0, "cm": 10.0, "q": 0.25, "in": 25.4, "pt": 25.4 / 72.0, "pc": 25.4 / 6.0}
SHEET_CLASS = "quarvo-sheet"
# SVG has no metre: a layout in metres gives its size in centimetres.
_SIZE_UNIT = {"mm": ("mm", 1.0), "cm": ("cm", 1.0), "in": ("in", 1.0), "m": ("cm", 100.0)}


def _one_line(exc):
    text = str(exc).strip().splitlines()
    return f"{type(exc).__name__}: {text[0]}" if text else type(exc).__name__


_SHAPES = {"path", "rect", "circle", "ellipse", "line", "polyline", "polygon"}
_NUMBER = re.compile(r"[-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?")
# Elements inside elements: deeper than this is no drawing anyone made.
MAX_NESTING = 256
_XLINK_HREF = "{http://www.w3.org/1999/xlink}href"
INKSCAPE = "http://www.inkscape.org/namespaces/inkscape"
_GROUPMODE, _LABEL = f"{{{INKSCAPE}}}groupmode", f"{{{INKSCAPE}}}label"
# Set on each layer's group before parsing: its shapes inherit it.
LAYER_ATTRIBUTE = "data-quarvo-layer"


def _local(tag):
    return tag.rsplit("}", 1)[-1] if isinstance(tag, str) else ""


def _shape_vertices(tag, attrib):
    if tag == "path":
        return sum(1 for _ in _NUMBER.finditer(attrib.get("d", ""))) // 2 + 1
    if tag in ("polyline", "polygon"):
        return sum(1 for _ in _NUMBER.finditer(attrib.get("points", ""))) // 2
    return 4


def check_budget(path, budget):
    """Refuse, before the SVG parser expands anything, a drawing whose shapes
    and vertices, counted through every ``<use>`` (each referenced element
    counted once), pass the budget; or a ``<use>`` that holds itself."""
    import xml.etree.ElementTree as ET

    nodes = []  # [shapes of its own, vertices of its own, children, referenced id]
    ids, stack = {}, []
    try:
        for event, el in ET.iterparse(path, events=("start", "end")):
            if event == "start":
                if len(stack) >= MAX_NESTING:
                    raise ContourError(f"elements nested more than {MAX_NESTING} deep")
                tag = _local(el.tag)
                own = (1, _shape_vertices(tag, el.attrib)) if tag in _SHAPES else (0, 0)
                href = el.attrib.get("href", el.attrib.get(_XLINK_HREF)) if tag == "use" else None
                node = [own[0], own[1], [], href[1:] if href and href.startswith("#") else None]
                if el.attrib.get("id"):
                    ids.setdefault(el.attrib["id"], len(nodes))
                if stack:
                    nodes[stack[-1]][2].append(len(nodes))
                stack.append(len(nodes))
                nodes.append(node)
            else:
                stack.pop()
                el.clear()  # the parser keeps no text or attributes of what is counted
    except ET.ParseError as exc:
        raise ContourError(f"not a readable SVG file (ParseError: {exc})") from None
    if not nodes:
        return
    # sizes through the references, without recursion; a reference back into
    # the elements being counted is a cycle
    size = [None] * len(nodes)
    busy = set()
    todo = [(0, False)]
    while todo:
        k, done = todo.pop()
        if size[k] is not None:
            continue
        node = nodes[k]
        deps = list(node[2])
        if node[3] is not None and node[3] in ids:
            deps.append(ids[node[3]])
        if not done:
            busy.add(k)
            todo.append((k, True))
            for d in deps:
                if d in busy:
                    raise ContourError(f"<use> of #{node[3]} holds itself")
                if size[d] is None:
                    todo.append((d, False))
            continue
        busy.discard(k)
        shapes, vertices = node[0], node[1]
        for d in deps:
            shapes, vertices = shapes + size[d][0], vertices + size[d][1]
        size[k] = (shapes, vertices)
    shapes, vertices = size[0]
    if shapes > budget.max_entities:
        raise over_budget("shapes", shapes, budget.max_entities, "the drawing")
    if vertices > budget.max_vertices:
        raise over_budget("vertices", vertices, budget.max_vertices, "the drawing")


def _with_layers(path):
    """The drawing's text with every layer's group marked by its name."""
    import xml.etree.ElementTree as ET

    try:
        root = ET.parse(path).getroot()
    except ET.ParseError as exc:
        raise ContourError(f"not a readable SVG file (ParseError: {exc})") from None
    inkscape = any(el.get(_GROUPMODE) == "layer" for el in root.iter())
    for el in root.iter() if inkscape else list(root):
        if _local(el.tag) != "g" or (inkscape and el.get(_GROUPMODE) != "layer"):
            continue
        name = el.get(_LABEL) or (None if inkscape else el.get("data-name")) or el.get("id")
        if name:
            el.set(LAYER_ATTRIBUTE, name)
    return ET.tostring(root)


class SvgReader:
    """Segments of every drawn shape on the layers ``layers`` takes (a
    ``LayerChoice``), in the job's unit (k per px), y up. ``layout`` tells a
    layout Quarvo wrote (its sheets are left out)."""

    def __init__(self, unit_mm, unit, point_check, layers):
        import svgelements  # reading needs the parser; writing does not

        self.se = svgelements
        self.unit_mm, self.unit, self.check = unit_mm, unit, point_check
        self.layers = layers
        self.k = PX_MM / unit_mm
        self.flip = 0.0
        self.pieces = []
        self.count = 0
        self.layout = False

    def where(self, p):
        return f"({num(p[0])}, {num(p[1])}) {self.unit}"

    def pt(self, p, src):
        q = (float(p[0]) * self.k, (self.flip - float(p[1])) * self.k)
        self.check(q, src, self.where)
        return q

    def vec(self, v):
        return (float(v[0]) * self.k, -float(v[1]) * self.k)

    def read(self, path):
        text = _with_layers(path)
        try:
            svg = self.se.SVG.parse(io.BytesIO(text), reify=True, ppi=96.0)
        except Exception as exc:  # garbage fails anywhere in the XML or SVG parser
            raise ContourError(f"not a readable SVG file ({_one_line(exc)})") from None
        # flip about the page's height, so that parts keep their place on the page
        if "height" in svg.values or svg.viewbox is not None:
            self.flip = float(svg.height)
        page_unit = re.sub(r"^[\s0-9.eE+-]*", "", str(svg.values.get("width", ""))).strip().lower()
        if page_unit in _PAGE_MM:
            self.k = _PAGE_MM[page_unit] / self.se.Length("1" + page_unit).value(ppi=96.0) / self.unit_mm
        for n, e in enumerate(svg.elements()):
            if not isinstance(e, self.se.Shape):
                continue
            if SHEET_CLASS in str(e.values.get("class", "")).split():
                self.layout = True
                continue
            if not self.layers.takes(e.values.get(LAYER_ATTRIBUTE, "0")):
                continue
            tag = type(e).__name__.lower()
            src = f'{tag} id "{e.id}"' if e.id else f"{tag} #{n} (no id)"
            self.count += 1
            try:
                path_ = self.se.Path(e)
                path_.reify()
                segments = list(path_)
            except Exception as exc:
                raise ContourError(f"{src}: unreadable geometry ({_one_line(exc)})") from None
            self.shape(segments, src)

    def shape(self, segments, src):
        segs = []
        drawn = Drawn("path")
        for s in segments:
            if isinstance(s, self.se.Move):
                self._flush(segs, False)
                segs = []
            elif isinstance(s, self.se.Close):
                if s.start is not None and s.end is not None and s.start != s.end:
                    segs.append(Line(self.pt(s.start, src), self.pt(s.end, src), src, drawn))
                self._flush(segs, True)
                segs = []
            elif isinstance(s, self.se.Line):
                a, b = self.pt(s.start, src), self.pt(s.end, src)
                if a != b:
                    segs.append(Line(a, b, src, drawn))
            elif isinstance(s, self.se.Arc):
                segs.extend(self.arc(s, src, drawn))
            elif isinstance(s, (self.se.CubicBezier, self.se.QuadraticBezier)):
                ctrl = [s.start, s.control1, s.control2, s.end] if isinstance(s, self.se.CubicBezier) else \
                    [s.start, s.control, s.end]
                pts = [self.pt(p, src) for p in ctrl]
                if any(p != pts[0] for p in pts[1:]):
                    segs.append(Bezier(pts, src, drawn))
        self._flush(segs, False)

    def _flush(self, segs, closed):
        if segs:
            self.pieces.append(Piece(segs, closed and segs[0].a == segs[-1].b, len(self.pieces)))

    def arc(self, s, src, drawn):
        a, b = self.pt(s.start, src), self.pt(s.end, src)
        if a == b:
            return []
        try:
            c = s.center
            ux, uy = (s.prx[0] - c[0], s.prx[1] - c[1]), (s.pry[0] - c[0], s.pry[1] - c[1])
            t0, dt = float(s.get_start_t()), float(s.sweep)
            mid = self.pt(s.point(0.5), src)
            # svgelements' parameter runs the other way round under a mirroring
            # transform: take the form that meets the drawn end points and middle
            for v in (uy, (-uy[0], -uy[1])):
                arc = EllArc(self.pt(c, src), self.vec(ux), self.vec(v), t0, dt, src, a, b, drawn)
                size = math.hypot(*arc.ux) + math.hypot(*arc.uy)
                if math.isfinite(size) and size > 0 and all(
                        math.dist(arc.point(t), p) <= 1e-9 * size
                        for t, p in ((t0, a), (t0 + dt, b), (t0 + dt / 2, mid))):
                    return [arc]
        except (AttributeError, TypeError, ValueError, ZeroDivisionError):
            pass
        out = []
        for cub in s.as_cubic_curves():
            out.append(Bezier([self.pt(p, src) for p in (cub.start, cub.control1, cub.control2, cub.end)], src, drawn))
        return out


# ---------------------------------------------------------------- writing


def markers(item):
    """A polygon's contours drawn as whole circles: (round outer, round holes)."""
    holes = item.holes
    round_outer = getattr(item, "round_outer", None)
    round_holes = list(getattr(item, "round_holes", None) or [])
    if len(round_holes) != len(holes):
        round_holes = [None] * len(holes)
    return round_outer, round_holes


def placement(item, ox=0.0):
    """The map of an item's local points into place, moved right by ox:
    mirrored about the local y axis when the item is, then turned and moved
    as the engine does."""
    return Affine.placement(item.rotation, bool(getattr(item, "mirrored", False)), item.tx + ox, item.ty)


def local_shape(item):
    """("circle", (0, 0), r) of a circle, else the item's ``TrueShape``: the
    drawing's when it came from one, else its rings."""
    if not hasattr(item, "outer"):
        return ("circle", (0.0, 0.0), item.radius)
    shape = getattr(item, "true_shape", None)
    if shape is None:
        shape = TrueShape.of_polygon(item.outer, item.holes, *markers(item))
    return shape


def world_geometry(item, ox):
    """("circle", (cx, cy, r)) or ("shape", the item's ``TrueShape`` in place), moved right by ox."""
    shape = local_shape(item)
    if isinstance(shape, tuple):  # ("circle", ...)
        return "circle", (item.tx + ox, item.ty, item.radius)
    return "shape", shape.mapped(placement(item, ox))


def _f(v):
    return repr(float(v))


def _p(p):
    return f"{_f(p[0])} {_f(p[1])}"


def _arc_d(arc):
    """An arc as SVG arc commands, a quarter turn at most each (a parser finds
    the centre of a longer one less exactly); the end points as drawn."""
    _, major, ratio, _, _ = ellipse_axes(arc)
    rx = math.hypot(major[0], major[1])
    ry, turn = rx * ratio, math.degrees(math.atan2(major[1], major[0]))
    sweep = 1 if arc.centre_left() else 0  # y runs up: anticlockwise is the positive angle
    n = max(1, math.ceil(abs(arc.dt) / (math.pi / 2) - 1e-9))
    ends = [arc.point(arc.t0 + arc.dt * k / n) for k in range(1, n)] + [arc.b]
    return " ".join(f"A {_f(rx)} {_f(ry)} {_f(turn)} 0 {sweep} {_p(q)}" for q in ends)


def _loop_d(loop):
    circle = loop_circle(loop)
    if circle is not None:
        # four quarters: a parser finds the centre of a half circle only to the
        # square root of the rounding error
        (cx, cy), r = circle
        quarter = [(cx, cy + r), (cx - r, cy), (cx, cy - r), (cx + r, cy)]
        arcs = " ".join(f"A {_f(r)} {_f(r)} 0 0 1 {_p(q)}" for q in quarter)
        return f"M {_f(cx + r)} {_f(cy)} {arcs} Z"
    out = [f"M {_p(loop[0].a)}"]
    for k, seg in enumerate(loop):
        if isinstance(seg, Line):
            if k < len(loop) - 1 or seg.b != loop[0].a:  # Z draws the closing line
                out.append(f"L {_p(seg.b)}")
        elif isinstance(seg, EllArc):
            out.append(_arc_d(seg))
        elif isinstance(seg, Bezier) and len(seg.pts) <= 4:
            cmd = {2: "L", 3: "Q", 4: "C"}[len(seg.pts)]
            out.append(f"{cmd} " + " ".join(_p(q) for q in seg.pts[1:]))
        else:
            # SVG has no curve of higher degree, nor a rational one: chords far within any tolerance
            xs, ys = [q[0] for q in seg.pts], [q[1] for q in seg.pts]
            size = max(max(xs) - min(xs), max(ys) - min(ys))
            pts = seg.chords(size * 1e-7) if isinstance(seg, Bezier) else seg.pts[1:]
            out.append("L " + " L ".join(_p(q) for q in pts))
    return " ".join(out) + " Z"


def _text(x, y, text, size, anchor="middle", weight=None, fill="#000", baseline="central"):
    bold = f' font-weight="{weight}"' if weight else ""
    return (f'<text x="{_f(x)}" y="{_f(y)}" font-size="{_f(size)}" text-anchor="{anchor}" '
            f'dominant-baseline="{baseline}" fill="{fill}"{bold}>{escape(str(text))}</text>')


def write(path, sheets, total_w, total_h, unit, style=None, name_of=None):
    """sheets: (number, x offset, width, height, [(item, kind, world geometry)])
    with world geometry (cx, cy, r) for a circle, else the ``TrueShape`` in
    place (``world_geometry``). Each sheet is two Inkscape layers, its outline
    on ``sheet-N`` and its parts on ``parts-N``.

    One user unit is one job unit and y runs up (the layers lie in the layer
    "layout", flipped about total_h). ``style``, for the plan picture, gives each item its colours,
    label and mark (``look(item)``: fill, stroke, None or (text, x, y, font
    size) in job units, and whether its outline is dashed: a mirrored part),
    each sheet its title (``titles``), the picture's ``title``, a ``legend``
    of (fill, stroke, text) beside the sheets and ``dashed_note``, the
    legend's text for dashed outlines (None: none); the viewBox grows to hold
    them, still in job units. ``name_of(item)`` is a part's
    ``data-shape-id``, by default its ``shape_id``."""
    size_unit, f = _SIZE_UNIT[unit]
    stroke = _f(max(total_w, total_h) / 2000.0)
    x0, y0, view_w, view_h = 0.0, 0.0, total_w, total_h
    font = 0.0
    if style is not None:
        # text in job units, sized to the drawing: a title row above the sheets, the legend right of them
        font = max(total_w, total_h) / 60.0
        head = (2.2 * font if style.title else 0.0) + (1.8 * font if style.titles else 0.0)
        legend_w = legend_h = 0.0
        if style.legend:
            texts = [t for _, _, t in style.legend] + [style.legend_title or "", style.dashed_note or ""]
            legend_w = 2.5 * font + 0.6 * font * max(len(t) for t in texts)
            legend_h = 1.5 * font * (len(style.legend) + bool(style.dashed_note)) + \
                (1.6 * font if style.legend_title else 0.0)
        x0, y0 = -font, -head - font
        view_w = total_w + legend_w + 2 * font
        view_h = max(total_h, legend_h) + head + 2 * font
        stroke = _f(max(total_w, total_h) / 1500.0)
    origin = "0 0" if style is None else f"{_f(x0)} {_f(y0)}"
    lines = [
        '<?xml version="1.0" encoding="UTF-8"?>',
        f'<svg xmlns="http://www.w3.org/2000/svg" xmlns:inkscape="{INKSCAPE}" width="{_f(view_w * f)}{size_unit}" '
        f'height="{_f(view_h * f)}{size_unit}" viewBox="{origin} {_f(view_w)} {_f(view_h)}">',
    ]
    # one layer flipped about total_h holds a layer per sheet for its outline and one for its parts
    lines.append(f'<g id="layout" inkscape:groupmode="layer" inkscape:label="layout" '
                 f'transform="matrix(1 0 0 -1 0 {_f(total_h)})" stroke="#000" stroke-width="{stroke}">')
    labels = []
    dash = _f(6 * float(stroke))
    for number, ox, width, height, entries, *stock in sheets:
        sheet, parts = f"sheet-{number}", f"parts-{number}"
        contours = stock[0] if stock and stock[0] is not None else None
        lines.append(f'<g id="{sheet}" inkscape:groupmode="layer" inkscape:label="{sheet}">')
        if contours is None:
            lines.append(f'<rect id="{sheet}-outline" class="{SHEET_CLASS}" x="{_f(ox)}" y="0" width="{_f(width)}" '
                         f'height="{_f(height)}" fill="none"/>')
        else:
            # a remnant's own outline and cut-outs, then its defects on a layer of their own
            d = " ".join("M " + " L ".join(_p((ox + x, y)) for x, y in r) + " Z"
                         for r in [contours[0]] + list(contours[1]))
            lines.append(f'<path id="{sheet}-outline" class="{SHEET_CLASS}" d="{d}" fill="none"/>')
        lines.append("</g>")
        if contours is not None and contours[2]:
            lines.append(f'<g id="defects-{number}" inkscape:groupmode="layer" inkscape:label="defects-{number}">')
            for k, flaw in enumerate(contours[2], 1):
                d = "M " + " L ".join(_p((ox + x, y)) for x, y in flaw) + " Z"
                lines.append(f'<path id="defects-{number}-{k}" class="{SHEET_CLASS}" d="{d}" fill="none" '
                             'stroke="#d00"/>')
            lines.append("</g>")
        lines.append(f'<g id="{parts}" inkscape:groupmode="layer" inkscape:label="{parts}">')
        for k, (item, kind, geom) in enumerate(entries, 1):
            shown = item.shape_id if name_of is None else name_of(item)
            ident = f'id="{parts}-item-{k}" class="part" data-shape-id={quoteattr(str(shown))}'
            fill, edge, dashed = "#9cc3e6", None, False
            if style is not None:
                fill, edge, label, dashed = style.look(item)
                if label is not None:
                    text, lx, ly, size = label
                    labels.append(_text(lx + ox, total_h - ly, text, size))
            paint = f'fill="{fill}"' + (f' stroke="{edge}"' if edge else "") + \
                (f' stroke-dasharray="{dash}"' if dashed else "")
            if kind == "circle":
                cx, cy, r = geom
                lines.append(f'<circle {ident} cx="{_f(cx)}" cy="{_f(cy)}" r="{_f(r)}" {paint}/>')
                continue
            d = " ".join(_loop_d(loop) for loop in geom.loops())
            rule = ' fill-rule="evenodd"' if geom.holes else ""
            lines.append(f'<path {ident} d="{d}"{rule} {paint}/>')
        lines.append("</g>")
    lines.append("</g>")
    if style is not None:
        # texts outside the flipped group, so that they read upright: y down from total_h
        lines.append('<g id="labels" font-family="sans-serif">')
        lines.extend(labels)
        lines.append("</g>")
        lines.append('<g id="titles" font-family="sans-serif">')
        if style.title:
            lines.append(_text(0.0, -(1.8 * font if style.titles else 0.0) - 1.1 * font, style.title, 1.4 * font,
                               anchor="start", weight="bold"))
        for (name, ox, width, height, _), (title, over) in zip(sheets, style.titles):
            lines.append(_text(ox, total_h - height - 0.9 * font, title, font, anchor="start",
                               fill="#c00000" if over else "#000"))
        lines.append("</g>")
        if style.legend:
            lx = total_w + 1.5 * font
            lines.append(f'<g id="legend" font-family="sans-serif" stroke-width="{stroke}">')
            ly = 0.0
            if style.legend_title:
                lines.append(_text(lx, ly + 0.5 * font, style.legend_title, font, anchor="start", weight="bold"))
                ly += 1.6 * font
            rows = [(fill, edge, text, "") for fill, edge, text in style.legend]
            if style.dashed_note:
                rows.append(("none", "#000", style.dashed_note, f' stroke-dasharray="{_f(font / 4)}"'))
            for fill, edge, text, extra in rows:
                lines.append(f'<rect x="{_f(lx)}" y="{_f(ly)}" width="{_f(font)}" height="{_f(font)}" '
                             f'fill="{fill}" stroke="{edge}"{extra}/>')
                lines.append(_text(lx + 1.5 * font, ly + 0.5 * font, text, font, anchor="start"))
                ly += 1.5 * font
            lines.append("</g>")
    lines.append("</svg>")
    with open(path, "w", encoding="utf-8") as fh:
        fh.write("\n".join(lines) + "\n")
