"""DXF files through ezdxf: entities to contour segments (on the layers
chosen), and layouts back: each sheet's outline on a layer of its own
(``sheet-N``, not plotted) and its parts, as drawn, on ``parts-N``: exploded
(the drawing's own entities moved into place, one group per part) or as
blocks inserted at their places."""
import math

import ezdxf
from ezdxf.math import Vec3

from Quarvo.cad.contours import Bezier, ContourError, Drawn, EllArc, Line, Piece, Sampled, Spline, loop_circle, num, \
    over_budget
from Quarvo.cad.drawn import ellipse_axes

# $INSUNITS codes and their length in millimetres (0, unitless, is the job's unit).
INSUNITS_MM = {
    1: 25.4, 2: 304.8, 3: 1609344.0, 4: 1.0, 5: 10.0, 6: 1000.0, 7: 1e6, 8: 25.4e-6, 9: 0.0254,
    10: 914.4, 11: 1e-7, 12: 1e-6, 13: 1e-3, 14: 100.0, 15: 1e4, 16: 1e5, 21: 1200.0 / 3937.0 * 1000.0,
}
UNIT_INSUNITS = {"mm": 4, "cm": 5, "m": 6, "in": 1}
# Entities that carry no outline: text, dimensions, hatches, points, images ...
_OUTLINES = {"LINE", "ARC", "CIRCLE", "ELLIPSE", "LWPOLYLINE", "POLYLINE", "SPLINE", "INSERT"}
APPID = "QUARVO"
# Blocks inside blocks: deeper than this is no drawing anyone made by hand.
MAX_BLOCK_DEPTH = 32
SHEET_MARK = "sheet"
# A sheet's defects: red, on a layer defects-N that is not plotted
DEFECT_COLOUR = 1


def read_units(doc):
    """Millimetres per drawing unit, or None for a unitless drawing."""
    code = doc.header.get("$INSUNITS", 0)
    if code == 0:
        return None
    if code not in INSUNITS_MM:
        raise ContourError(f"$INSUNITS {code} is not a length unit this reader knows")
    return INSUNITS_MM[code]


def _named(name, limit=40):
    """A block's name as messages show it, cut short when long."""
    return repr(name if len(name) <= limit else name[: limit - 3] + "...")


def _vertices(e):
    """Vertices an outline entity gives (a circle or an arc counts as two)."""
    kind = e.dxftype()
    if kind == "LWPOLYLINE":
        return len(e)
    if kind == "POLYLINE":
        return len(e.vertices)
    if kind == "SPLINE":
        return e.control_point_count() + e.fit_point_count()
    return 2


def _insert_copies(e):
    """How many copies of its block an INSERT draws (a MINSERT: rows x columns)."""
    rows, cols = e.dxf.get("row_count", 1), e.dxf.get("column_count", 1)
    return max(1, int(rows)) * max(1, int(cols))


def check_budget(doc, budget):
    """Refuse, before anything is expanded, a model space whose outline
    entities and vertices, counted through nested blocks and MINSERT arrays,
    pass the budget; or a block that holds itself. Each block is counted once."""
    sizes = {}

    def block_size(name, within, src):
        if name in sizes:
            return sizes[name]
        if name in within:
            raise ContourError(f"{src}: block {_named(name)} holds itself")
        if len(within) >= MAX_BLOCK_DEPTH:
            raise ContourError(f"{src}: blocks nested more than {MAX_BLOCK_DEPTH} deep")
        block = doc.blocks.get(name)
        entities = vertices = 0
        for e in block if block is not None else ():
            n, v = entity_size(e, within | {name}, src)
            entities, vertices = entities + n, vertices + v
        sizes[name] = (entities, vertices)
        return sizes[name]

    def entity_size(e, within, src):
        kind = e.dxftype()
        if kind == "INSERT":
            copies = _insert_copies(e)
            n, v = block_size(e.dxf.name, within, src)
            return 1 + copies * n, copies * v
        return (1, _vertices(e)) if kind in _OUTLINES else (0, 0)

    entities = vertices = 0
    for e in doc.modelspace():
        src = f"{e.dxftype()} handle {e.dxf.handle}"
        n, v = entity_size(e, frozenset(), src)
        entities, vertices = entities + n, vertices + v
        if entities > budget.max_entities:
            raise over_budget("entities", entities, budget.max_entities, src)
        if vertices > budget.max_vertices:
            raise over_budget("vertices", vertices, budget.max_vertices, src)


class DxfReader:
    """Segments of a drawing's model space on the layers ``layers`` takes (a
    ``LayerChoice``), in the job's unit (k per drawing unit). ``layout`` tells
    a layout Quarvo wrote (its sheets are left out, its parts kept apart)."""

    def __init__(self, k, point_check, layers):
        self.k = k
        self.check = point_check
        self.layers = layers
        self.pieces = []
        self.count = 0
        self.layout = False
        self.group = None  # the part of a written layout the entity being read belongs to
        self.parts_of = {}  # handle -> the part of a written layout

    def where(self, p):
        return f"({num(p[0] / self.k)}, {num(p[1] / self.k)})"

    def pt(self, v, src):
        p = (float(v[0]) * self.k, float(v[1]) * self.k)
        self.check(p, src, self.where)
        return p

    def add(self, segs, closed):
        if segs:
            self.pieces.append(Piece(segs, closed, len(self.pieces), self.group))

    def read(self, doc):
        written = APPID in doc.appids
        if written:
            # a layout Quarvo wrote: each exploded part is a group, each block a part
            for k, (_, group) in enumerate(doc.groups):
                for handle in group.handles():
                    self.parts_of[handle] = k
        for e in doc.modelspace():
            self.group = self.parts_of.get(e.dxf.handle)
            if self.group is None and written and e.dxftype() == "INSERT":
                self.group = ("insert", e.dxf.handle)
            self.entity(e, None)

    def entity(self, e, context):
        """``context``: None in model space, else (the model-space INSERT it
        comes from, the block it lies in, how deep, the layer the block's
        entities on layer 0 take)."""
        kind = e.dxftype()
        if kind not in _OUTLINES:
            return
        if e.has_xdata(APPID):
            self.layout = True
            return  # a sheet outline of a written layout
        layer = e.dxf.get("layer", "0")
        if context is not None and layer == "0":
            layer = context[3]  # block entities on layer 0 are drawn on the insert's layer
        if kind != "INSERT" and not self.layers.takes(layer):
            return
        self.count += 1
        if context is None:
            src = f"{kind} handle {e.dxf.handle} on layer {layer}"
        else:
            top, block, _, _ = context
            src = f"{kind} in block {_named(block)} ({top})"
        if kind == "INSERT":
            self.insert(e, src, context, layer)
            return
        getattr(self, kind.lower())(e, src)

    def insert(self, e, src, context, layer):
        name = e.dxf.name
        top = f"INSERT handle {e.dxf.handle} on layer {layer}" if context is None else context[0]
        depth = 1 if context is None else context[2] + 1
        if depth > MAX_BLOCK_DEPTH:
            raise ContourError(f"{src}: blocks nested more than {MAX_BLOCK_DEPTH} deep")
        try:
            virtual = [v for ins in e.multi_insert() for v in ins.virtual_entities()]
        except Exception as exc:  # ezdxf refuses transforms it cannot express
            raise ContourError(f"{src}: cannot expand ({_one_line(exc)})") from None
        for v in virtual:
            self.entity(v, (top, name, depth, layer))

    # -- entities --------------------------------------------------------

    def _ocs(self, e, src):
        ext = Vec3(e.dxf.get("extrusion", (0, 0, 1)))
        if abs(abs(ext.z) - 1.0) > 1e-9 * max(1.0, ext.magnitude):
            raise ContourError(f"{src} is not drawn in the XY plane (extrusion {tuple(ext)})")
        return e.ocs()

    def _arc(self, ocs, c, r, t0, dt, src, a=None, b=None, drawn=None):
        cw = ocs.to_wcs(Vec3(c))
        ux = ocs.to_wcs(Vec3(r, 0, 0))
        uy = ocs.to_wcs(Vec3(0, r, 0))
        k = self.k
        return EllArc(self.pt(cw, src), (ux.x * k, ux.y * k), (uy.x * k, uy.y * k), t0, dt, src, a, b, drawn)

    def line(self, e, src):
        a, b = self.pt(e.dxf.start, src), self.pt(e.dxf.end, src)
        if a != b:
            self.add([Line(a, b, src, Drawn("line", first=(a, b)))], False)

    def circle(self, e, src):
        ocs = self._ocs(e, src)
        r = float(e.dxf.radius)
        if not r > 0.0:
            raise ContourError(f"{src}: radius {num(r)} at {self.where(self.pt(ocs.to_wcs(e.dxf.center), src))}")
        self.add([self._arc(ocs, e.dxf.center, r, 0.0, 2 * math.pi, src, drawn=Drawn("circle"))], True)

    def arc(self, e, src):
        ocs = self._ocs(e, src)
        r = float(e.dxf.radius)
        sa, ea = float(e.dxf.start_angle), float(e.dxf.end_angle)
        sweep = (ea - sa) % 360.0
        if sweep == 0.0:
            sweep = 360.0
        arc = self._arc(ocs, e.dxf.center, r, math.radians(sa), math.radians(sweep), src, drawn=Drawn("arc"))
        if r > 0.0:
            self.add([arc], arc.full)

    def ellipse(self, e, src):
        major, minor = Vec3(e.dxf.major_axis), e.minor_axis
        if abs(major.z) > 1e-9 * major.magnitude or abs(minor.z) > 1e-9 * max(minor.magnitude, 1e-300):
            raise ContourError(f"{src} is not drawn in the XY plane")
        t0, t1 = float(e.dxf.start_param), float(e.dxf.end_param)
        dt = (t1 - t0) % (2 * math.pi)
        if dt < 1e-12:
            dt = 2 * math.pi
        k = self.k
        arc = EllArc(self.pt(e.dxf.center, src), (major.x * k, major.y * k), (minor.x * k, minor.y * k), t0, dt, src,
                     drawn=Drawn("ellipse"))
        if major.magnitude > 0.0 and minor.magnitude > 0.0:
            self.add([arc], arc.full)

    def _bulged(self, ocs, verts, closed, src):
        """Segments of a polyline: (OCS point, bulge) pairs; a bulge is the
        tangent of a quarter of the included angle, anticlockwise positive."""
        if getattr(ocs, "transform", True):
            pts = [self.pt(ocs.to_wcs(Vec3(v)), src) for v, _ in verts]
        else:  # drawn in the world's own plane: no transform to apply
            pts = [self.pt(v, src) for v, _ in verts]
        n = len(verts)
        segs = []
        drawn = Drawn("polyline")
        for i in range(n if closed else n - 1):
            j = (i + 1) % n
            a, b = pts[i], pts[j]
            if a == b:
                continue
            bulge = verts[i][1]
            if bulge == 0.0:
                segs.append(Line(a, b, src, drawn))
                continue
            p, q = Vec3(verts[i][0]), Vec3(verts[j][0])
            d = q - p
            length = d.magnitude
            half = length / 2.0
            h = half * (1.0 - bulge * bulge) / (2.0 * bulge)
            c = (p + q) * 0.5 + Vec3(-d.y, d.x, 0) * (h / length)
            r = half * (1.0 + bulge * bulge) / (2.0 * abs(bulge))
            t0 = math.atan2(p.y - c.y, p.x - c.x)
            segs.append(self._arc(ocs, Vec3(c.x, c.y, p.z), r, t0, 4.0 * math.atan(bulge), src, a, b, drawn))
        if segs:
            drawn.first = (segs[0].a, segs[0].b)
        return segs

    def _add_polyline(self, segs):
        if segs:
            self.add(segs, segs[0].a == segs[-1].b)

    def lwpolyline(self, e, src):
        ocs = self._ocs(e, src)
        z = float(e.dxf.get("elevation", 0.0))
        # the stored rows are (x, y, start width, end width, bulge): read whole, not point by point
        verts = [((x, y, z), b) for x, y, _, _, b in e.lwpoints.values.tolist()]
        if len(verts) >= 2:
            self._add_polyline(self._bulged(ocs, verts, bool(e.closed), src))

    def polyline(self, e, src):
        if e.is_poly_face_mesh or e.is_polygon_mesh:
            return
        verts = [v for v in e.vertices if not v.dxf.flags & 16]  # 16: a spline frame's control point
        if e.is_2d_polyline:
            ocs = self._ocs(e, src)
            verts = [(tuple(v.dxf.location), float(v.dxf.get("bulge", 0.0))) for v in verts]
        else:
            ocs = _Identity()
            verts = [(tuple(v.dxf.location), 0.0) for v in verts]
        if len(verts) >= 2:
            self._add_polyline(self._bulged(ocs, verts, bool(e.is_closed), src))

    def spline(self, e, src):
        try:
            bs = e.construction_tool()
        except Exception as exc:
            raise ContourError(f"{src}: not a usable spline ({_one_line(exc)})") from None
        segs = []
        # the spline itself is written back whole, its control points mapped into place
        drawn = Drawn("spline", Spline(bs.degree, [self.pt(p, src) for p in bs.control_points], bs.knots(),
                                       bs.weights()))
        if not bs.is_rational:
            try:
                segs = [Bezier([self.pt(p, src) for p in ctrl], src, drawn) for ctrl in bs.bezier_decomposition()]
            except Exception:
                segs = []
        if not segs:
            # no Bezier form: sample densely; the push by the tolerance covers the rest
            ctrl = [self.pt(p, src) for p in bs.control_points]
            xs, ys = [p[0] for p in ctrl], [p[1] for p in ctrl]
            size = max(max(xs) - min(xs), max(ys) - min(ys)) / self.k
            pts = [self.pt(p, src) for p in bs.flattening(max(size, 1e-12) * 1e-6, segments=8)]
            segs = [Sampled(pts, src, drawn)]
        start, end = segs[0].a, segs[-1].b
        if start != end and (e.closed or math.dist(start, end) <= 1e-9 * max(_span(segs), 1e-300)):
            # a closed spline through fit points ends where it starts up to rounding: close it exactly
            last = segs[-1]
            segs[-1] = type(last)(last.pts[:-1] + [start], last.src, drawn)
        self.add(segs, segs[0].a == segs[-1].b)


def _span(segs):
    pts = [p for s in segs for p in s.pts]
    return max(max(p[0] for p in pts) - min(p[0] for p in pts), max(p[1] for p in pts) - min(p[1] for p in pts))


class _Identity:
    @staticmethod
    def to_wcs(v):
        return Vec3(v)


def _one_line(exc):
    text = str(exc).strip().splitlines()
    return f"{type(exc).__name__}: {text[0]}" if text else type(exc).__name__


def open_drawing(path):
    try:
        return ezdxf.readfile(path)
    except Exception as exc:  # garbage fails anywhere in the parser
        raise ContourError(f"not a readable DXF file ({_one_line(exc)})") from None


# ---------------------------------------------------------------- writing

SHEET_COLOUR = 8  # grey: the sheet's outline is drawn, never cut
PARTS_COLOUR = 7


def write(path, sheets, unit, block_name, explode=True):
    """sheets: (number, x offset, width, height, [(item, name, block key,
    local shape, placement)]): a shape is ("circle", centre, r) or a ``TrueShape``
    in the item's frame, the placement the ``Affine`` that moves it into
    place (the x offset included). Exploded, each part's entities go onto
    ``parts-N`` as one group; else each distinct part is a block inserted
    there."""
    doc = ezdxf.new("R2010", setup=False)
    doc.units = UNIT_INSUNITS[unit]
    doc.header["$MEASUREMENT"] = 0 if unit == "in" else 1
    doc.appids.add(APPID)
    msp = doc.modelspace()
    names = {}
    for number, ox, width, height, entries, *stock in sheets:
        sheet, parts = f"sheet-{number}", f"parts-{number}"
        doc.layers.add(sheet, color=SHEET_COLOUR).dxf.plot = 0
        doc.layers.add(parts, color=PARTS_COLOUR)
        contours = stock[0] if stock and stock[0] is not None else None
        # the sheet's outline (a remnant's own, with its cut-outs), and its defects: marked, never parts
        rings = [[(ox, 0.0), (ox + width, 0.0), (ox + width, height), (ox, height)]] if contours is None else \
            [[(ox + x, y) for x, y in r] for r in [contours[0]] + list(contours[1])]
        marked = [(sheet, r) for r in rings]
        if contours is not None and contours[2]:
            flaws = f"defects-{number}"
            doc.layers.add(flaws, color=DEFECT_COLOUR).dxf.plot = 0
            marked += [(flaws, [(ox + x, y) for x, y in d]) for d in contours[2]]
        for layer, ring in marked:
            outline = msp.add_lwpolyline(ring, close=True, dxfattribs={"layer": layer})
            outline.set_xdata(APPID, [(1000, SHEET_MARK)])
        for item, name, key, shape, placement in entries:
            if explode:
                drawn = _add_shape(msp, _moved(shape, placement), {"layer": parts})
                doc.groups.new(description=str(name)[:64]).set_data(drawn)
                continue
            block = names.get(key)
            if block is None:
                block = block_name(item, name, len(names) + 1)
                names[key] = block
                _add_shape(doc.blocks.new(block), shape if isinstance(shape, tuple) else shape.local(), {})
            attribs = {"layer": parts, "rotation": math.degrees(item.rotation)}
            if getattr(item, "mirrored", False):
                attribs["xscale"] = -1.0
            msp.add_blockref(block, (placement.e, placement.f), dxfattribs=attribs)
    doc.saveas(path)


def _moved(shape, placement):
    if isinstance(shape, tuple):  # ("circle", ...)
        return ("circle", placement(shape[1]), shape[2])
    return shape.mapped(placement)


def _add_shape(space, shape, attribs):
    """The entities of a shape: ("circle", centre, r) in place, or a ``TrueShape``."""
    if isinstance(shape, tuple):  # ("circle", ...)
        return [space.add_circle(shape[1], shape[2], dxfattribs=attribs)]
    out = []
    for loop in shape.loops():
        out.extend(_add_loop(space, loop, attribs))
    return out


def _runs(loop):
    """The loop cut into runs of segments drawn as one entity."""
    runs = []
    for seg in loop:
        if runs and seg.drawn is not None and runs[-1][-1].drawn is seg.drawn:
            runs[-1].append(seg)
        else:
            runs.append([seg])
    if len(runs) > 1 and runs[0][0].drawn is not None and runs[0][0].drawn is runs[-1][-1].drawn:
        runs[0] = runs.pop() + runs[0]  # the loop began inside one entity
    return runs


def _add_loop(space, loop, attribs):
    circle = loop_circle(loop)
    if circle is not None:
        return [space.add_circle(circle[0], circle[1], dxfattribs=attribs)]
    out = []
    runs = _runs(loop)
    for run in runs:
        run = _as_drawn(run)
        drawn = run[0].drawn
        kind = drawn.kind if drawn is not None else "path"
        if kind == "spline" and drawn.spline is not None:
            out.append(_add_spline(space, drawn.spline, attribs))
            continue
        polyline = []  # lines and circular arcs of a polyline or a path, as one LWPOLYLINE with bulges
        for seg in run:
            bulge = _bulge(seg) if kind in ("polyline", "path") else None
            if bulge is not None:
                polyline.append(seg)
                continue
            out.extend(_add_polyline(space, polyline, False, attribs))
            polyline = []
            out.append(_add_segment(space, seg, attribs))
        out.extend(_add_polyline(space, polyline, len(runs) == 1 and len(polyline) == len(run), attribs))
    return out


def _as_drawn(run):
    """The run in the direction and from the start its entity was drawn with (a
    hole's loop runs the other way round)."""
    first = run[0].drawn.first if run[0].drawn is not None else None
    if first is None:
        return run
    for k, s in enumerate(run):
        if (s.a, s.b) == first:
            return run[k:] + run[:k]
    for k, s in enumerate(run):
        if (s.b, s.a) == first:
            back = [t.reversed() for t in reversed(run)]
            k = len(run) - 1 - k
            return back[k:] + back[:k]
    return run


def _bulge(seg):
    """The bulge of a line (0) or a circular arc: the tangent of a quarter of
    its turn, anticlockwise positive; None for other curves."""
    if isinstance(seg, Line):
        return 0.0
    if isinstance(seg, EllArc) and seg.circle() is not None and abs(seg.dt) < 2 * math.pi - 1e-12:
        return math.tan(abs(seg.dt) / 4.0) * (1.0 if seg.centre_left() else -1.0)
    return None


def _add_polyline(space, segs, closed, attribs):
    if not segs:
        return []
    pts = [(s.a[0], s.a[1], _bulge(s)) for s in segs]
    if not closed:
        pts.append((segs[-1].b[0], segs[-1].b[1], 0.0))
    return [space.add_lwpolyline(pts, format="xyb", close=closed, dxfattribs=attribs)]


def _add_segment(space, seg, attribs):
    if isinstance(seg, Line):
        return space.add_line(seg.a, seg.b, dxfattribs=attribs)
    if isinstance(seg, EllArc):
        circle = seg.circle()
        if circle is not None:
            (cx, cy), r = circle
            if seg.full:
                return space.add_circle((cx, cy), r, dxfattribs=attribs)
            a, b = (seg.a, seg.b) if seg.centre_left() else (seg.b, seg.a)  # an ARC runs anticlockwise
            return space.add_arc((cx, cy), r, math.degrees(math.atan2(a[1] - cy, a[0] - cx)),
                                 math.degrees(math.atan2(b[1] - cy, b[0] - cx)), dxfattribs=attribs)
        centre, major, ratio, start, end = ellipse_axes(seg)
        return space.add_ellipse(centre, major, ratio, start, end, dxfattribs=attribs)
    if isinstance(seg, Bezier):
        n = len(seg.pts) - 1
        return _add_spline(space, Spline(n, seg.pts, [0.0] * (n + 1) + [1.0] * (n + 1)), attribs)
    return space.add_lwpolyline(seg.pts, dxfattribs=attribs)  # a sampled curve with no spline behind it


def _add_spline(space, spline, attribs):
    entity = space.add_spline(dxfattribs=attribs)
    entity.dxf.degree = spline.degree
    entity.control_points = [(x, y, 0.0) for x, y in spline.points]
    entity.knots = spline.knots
    if spline.weights:
        entity.weights = spline.weights
    return entity
