"""DXF files through ezdxf: entities to contour segments, layouts to blocks
inserted on one layer per bin."""
import math

import ezdxf
from ezdxf.math import Vec3

from Quarvo.cad.contours import Bezier, ContourError, EllArc, Line, Piece, Sampled, num, over_budget

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
    """Segments of a drawing's model space, in the job's unit (k per drawing unit)."""

    def __init__(self, k, point_check):
        self.k = k
        self.check = point_check
        self.pieces = []
        self.count = 0

    def where(self, p):
        return f"({num(p[0] / self.k)}, {num(p[1] / self.k)})"

    def pt(self, v, src):
        p = (float(v[0]) * self.k, float(v[1]) * self.k)
        self.check(p, src, self.where)
        return p

    def add(self, segs, closed):
        if segs:
            self.pieces.append(Piece(segs, closed, len(self.pieces)))

    def read(self, msp):
        for e in msp:
            self.entity(e, None)

    def entity(self, e, context):
        """``context``: None in model space, else (the model-space INSERT it
        comes from, the block it lies in, how deep)."""
        kind = e.dxftype()
        if kind not in _OUTLINES:
            return
        if e.has_xdata(APPID):
            return  # a sheet outline of a written layout
        self.count += 1
        if context is None:
            src = f"{kind} handle {e.dxf.handle} on layer {e.dxf.get('layer', '0')}"
        else:
            top, block, _ = context
            src = f"{kind} in block {_named(block)} ({top})"
        if kind == "INSERT":
            self.insert(e, src, context)
            return
        getattr(self, kind.lower())(e, src)

    def insert(self, e, src, context):
        name = e.dxf.name
        top = f"INSERT handle {e.dxf.handle} on layer {e.dxf.get('layer', '0')}" if context is None else context[0]
        depth = 1 if context is None else context[2] + 1
        if depth > MAX_BLOCK_DEPTH:
            raise ContourError(f"{src}: blocks nested more than {MAX_BLOCK_DEPTH} deep")
        try:
            virtual = [v for ins in e.multi_insert() for v in ins.virtual_entities()]
        except Exception as exc:  # ezdxf refuses transforms it cannot express
            raise ContourError(f"{src}: cannot expand ({_one_line(exc)})") from None
        for v in virtual:
            self.entity(v, (top, name, depth))

    # -- entities --------------------------------------------------------

    def _ocs(self, e, src):
        ext = Vec3(e.dxf.get("extrusion", (0, 0, 1)))
        if abs(abs(ext.z) - 1.0) > 1e-9 * max(1.0, ext.magnitude):
            raise ContourError(f"{src} is not drawn in the XY plane (extrusion {tuple(ext)})")
        return e.ocs()

    def _arc(self, ocs, c, r, t0, dt, src, a=None, b=None):
        cw = ocs.to_wcs(Vec3(c))
        ux = ocs.to_wcs(Vec3(r, 0, 0))
        uy = ocs.to_wcs(Vec3(0, r, 0))
        k = self.k
        return EllArc(self.pt(cw, src), (ux.x * k, ux.y * k), (uy.x * k, uy.y * k), t0, dt, src, a, b)

    def line(self, e, src):
        a, b = self.pt(e.dxf.start, src), self.pt(e.dxf.end, src)
        if a != b:
            self.add([Line(a, b, src)], False)

    def circle(self, e, src):
        ocs = self._ocs(e, src)
        r = float(e.dxf.radius)
        if not r > 0.0:
            raise ContourError(f"{src}: radius {num(r)} at {self.where(self.pt(ocs.to_wcs(e.dxf.center), src))}")
        self.add([self._arc(ocs, e.dxf.center, r, 0.0, 2 * math.pi, src)], True)

    def arc(self, e, src):
        ocs = self._ocs(e, src)
        r = float(e.dxf.radius)
        sa, ea = float(e.dxf.start_angle), float(e.dxf.end_angle)
        sweep = (ea - sa) % 360.0
        if sweep == 0.0:
            sweep = 360.0
        arc = self._arc(ocs, e.dxf.center, r, math.radians(sa), math.radians(sweep), src)
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
        arc = EllArc(self.pt(e.dxf.center, src), (major.x * k, major.y * k), (minor.x * k, minor.y * k), t0, dt, src)
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
        for i in range(n if closed else n - 1):
            j = (i + 1) % n
            a, b = pts[i], pts[j]
            if a == b:
                continue
            bulge = verts[i][1]
            if bulge == 0.0:
                segs.append(Line(a, b, src))
                continue
            p, q = Vec3(verts[i][0]), Vec3(verts[j][0])
            d = q - p
            length = d.magnitude
            half = length / 2.0
            h = half * (1.0 - bulge * bulge) / (2.0 * bulge)
            c = (p + q) * 0.5 + Vec3(-d.y, d.x, 0) * (h / length)
            r = half * (1.0 + bulge * bulge) / (2.0 * abs(bulge))
            t0 = math.atan2(p.y - c.y, p.x - c.x)
            segs.append(self._arc(ocs, Vec3(c.x, c.y, p.z), r, t0, 4.0 * math.atan(bulge), src, a, b))
        return segs

    def _add_polyline(self, segs):
        if segs:
            self.add(segs, segs[0].a == segs[-1].b)

    def lwpolyline(self, e, src):
        ocs = self._ocs(e, src)
        z = float(e.dxf.get("elevation", 0.0))
        verts = [((x, y, z), float(b)) for x, y, b in e.get_points("xyb")]
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
        if not bs.is_rational:
            try:
                segs = [Bezier([self.pt(p, src) for p in ctrl], src) for ctrl in bs.bezier_decomposition()]
            except Exception:
                segs = []
        if not segs:
            # no Bezier form: sample densely; the push by the tolerance covers the rest
            ctrl = [self.pt(p, src) for p in bs.control_points]
            xs, ys = [p[0] for p in ctrl], [p[1] for p in ctrl]
            size = max(max(xs) - min(xs), max(ys) - min(ys)) / self.k
            pts = [self.pt(p, src) for p in bs.flattening(max(size, 1e-12) * 1e-6, segments=8)]
            segs = [Sampled(pts, src)]
        start, end = segs[0].a, segs[-1].b
        if start != end and (e.closed or math.dist(start, end) <= 1e-9 * max(_span(segs), 1e-300)):
            # a closed spline through fit points ends where it starts up to rounding: close it exactly
            last = segs[-1]
            segs[-1] = type(last)(last.pts[:-1] + [start], last.src)
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


def write(path, sheets, unit, block_name):
    """sheets: (layer, x offset, width, height, [(item, block key, geometry)])."""
    doc = ezdxf.new("R2010", setup=False)
    doc.units = UNIT_INSUNITS[unit]
    doc.header["$MEASUREMENT"] = 0 if unit == "in" else 1
    doc.appids.add(APPID)
    msp = doc.modelspace()
    names = {}
    for layer, ox, width, height, entries in sheets:
        doc.layers.add(layer)
        outline = msp.add_lwpolyline([(ox, 0.0), (ox + width, 0.0), (ox + width, height), (ox, height)],
                                     close=True, dxfattribs={"layer": layer})
        outline.set_xdata(APPID, [(1000, SHEET_MARK)])
        for item, key, geom in entries:
            name = names.get(key)
            if name is None:
                name = block_name(item, len(names) + 1)
                names[key] = name
                _block(doc.blocks.new(name), geom)
            mirrored = bool(getattr(item, "mirrored", False))
            attribs = {"layer": layer, "rotation": math.degrees(item.rotation)}
            if mirrored:
                attribs["xscale"] = -1.0
            msp.add_blockref(name, (item.tx + ox, item.ty), dxfattribs=attribs)
    doc.saveas(path)


def _block(block, geom):
    """geom: ("circle", r) or ("polygon", outer, holes, round outer, round holes)."""
    if geom[0] == "circle":
        block.add_circle((0.0, 0.0), geom[1])
        return
    _, outer, holes, round_outer, round_holes = geom
    for ring, circle in [(outer, round_outer)] + list(zip(holes, round_holes)):
        if circle is not None:
            block.add_circle((circle[0], circle[1]), circle[2])
        else:
            block.add_lwpolyline(ring[:-1] if ring[0] == ring[-1] else ring, close=True)
