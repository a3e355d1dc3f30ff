"""SVG files through svgelements: shapes to contour segments (transforms, groups
and <use> applied, y flipped up), layouts to paths and circles in job units."""
import math
import re
from xml.sax.saxutils import quoteattr

import svgelements as se

from Quarvo.cad_contours import Bezier, ContourError, EllArc, Line, Piece, num

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


class SvgReader:
    """Segments of every drawn shape, in the job's unit (k per px), y up."""

    def __init__(self, unit_mm, unit, point_check):
        self.unit_mm, self.unit, self.check = unit_mm, unit, point_check
        self.k = PX_MM / unit_mm
        self.flip = 0.0
        self.pieces = []
        self.count = 0

    def where(self, p):
        return f"({num(p[0])}, {num(p[1])}) {self.unit}"

    def pt(self, p, src):
        q = (float(p[0]) * self.k, (self.flip - float(p[1])) * self.k)
        self.check(q, src, self.where)
        return q

    def vec(self, v):
        return (float(v[0]) * self.k, -float(v[1]) * self.k)

    def read(self, path):
        try:
            svg = se.SVG.parse(path, reify=True, ppi=96.0)
        except Exception as exc:  # garbage fails anywhere in the XML or SVG parser
            raise ContourError(f"not a readable SVG file ({_one_line(exc)})") from None
        # flip about the page's height, so that parts keep their place on the page
        if "height" in svg.values or svg.viewbox is not None:
            self.flip = float(svg.height)
        page_unit = re.sub(r"^[\s0-9.eE+-]*", "", str(svg.values.get("width", ""))).strip().lower()
        if page_unit in _PAGE_MM:
            self.k = _PAGE_MM[page_unit] / se.Length("1" + page_unit).value(ppi=96.0) / self.unit_mm
        for n, e in enumerate(svg.elements()):
            if not isinstance(e, se.Shape):
                continue
            if SHEET_CLASS in str(e.values.get("class", "")).split():
                continue
            tag = type(e).__name__.lower()
            src = f'{tag} id "{e.id}"' if e.id else f"{tag} #{n} (no id)"
            self.count += 1
            try:
                path_ = se.Path(e)
                path_.reify()
                segments = list(path_)
            except Exception as exc:
                raise ContourError(f"{src}: unreadable geometry ({_one_line(exc)})") from None
            self.shape(segments, src)

    def shape(self, segments, src):
        segs = []
        for s in segments:
            if isinstance(s, se.Move):
                self._flush(segs, False)
                segs = []
            elif isinstance(s, se.Close):
                if s.start is not None and s.end is not None and s.start != s.end:
                    segs.append(Line(self.pt(s.start, src), self.pt(s.end, src), src))
                self._flush(segs, True)
                segs = []
            elif isinstance(s, se.Line):
                a, b = self.pt(s.start, src), self.pt(s.end, src)
                if a != b:
                    segs.append(Line(a, b, src))
            elif isinstance(s, se.Arc):
                segs.extend(self.arc(s, src))
            elif isinstance(s, (se.CubicBezier, se.QuadraticBezier)):
                ctrl = [s.start, s.control1, s.control2, s.end] if isinstance(s, se.CubicBezier) else \
                    [s.start, s.control, s.end]
                pts = [self.pt(p, src) for p in ctrl]
                if any(p != pts[0] for p in pts[1:]):
                    segs.append(Bezier(pts, src))
        self._flush(segs, False)

    def _flush(self, segs, closed):
        if segs:
            self.pieces.append(Piece(segs, closed and segs[0].a == segs[-1].b, len(self.pieces)))

    def arc(self, s, src):
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
                arc = EllArc(self.pt(c, src), self.vec(ux), self.vec(v), t0, dt, src, a, b)
                size = math.hypot(*arc.ux) + math.hypot(*arc.uy)
                if math.isfinite(size) and size > 0 and all(
                        math.dist(arc.point(t), p) <= 1e-9 * size
                        for t, p in ((t0, a), (t0 + dt, b), (t0 + dt / 2, mid))):
                    return [arc]
        except (AttributeError, TypeError, ValueError, ZeroDivisionError):
            pass
        out = []
        for cub in s.as_cubic_curves():
            out.append(Bezier([self.pt(p, src) for p in (cub.start, cub.control1, cub.control2, cub.end)], src))
        return out


# ---------------------------------------------------------------- writing


def _f(v):
    return repr(float(v))


def _ring_d(ring, circle):
    if circle is not None:
        # four quarters: a parser finds the centre of a half circle only to the
        # square root of the rounding error
        cx, cy, r = circle
        quarter = [(cx, cy + r), (cx - r, cy), (cx, cy - r), (cx + r, cy)]
        arcs = " ".join(f"A {_f(r)} {_f(r)} 0 0 1 {_f(x)} {_f(y)}" for x, y in quarter)
        return f"M {_f(cx + r)} {_f(cy)} {arcs} Z"
    pts = ring[:-1] if ring[0] == ring[-1] else ring
    return "M " + " L ".join(f"{_f(x)} {_f(y)}" for x, y in pts) + " Z"


def write(path, sheets, total_w, total_h, unit):
    """sheets: (name, x offset, width, height, [(item, kind, world geometry)]) with
    world geometry (cx, cy, r) for a circle, else (outer, holes, round outer, round holes), each
    round marker None or (cx, cy, r)."""
    size_unit, f = _SIZE_UNIT[unit]
    stroke = _f(max(total_w, total_h) / 2000.0)
    lines = [
        '<?xml version="1.0" encoding="UTF-8"?>',
        f'<svg xmlns="http://www.w3.org/2000/svg" width="{_f(total_w * f)}{size_unit}" '
        f'height="{_f(total_h * f)}{size_unit}" viewBox="0 0 {_f(total_w)} {_f(total_h)}">',
        f'<g id="layout" transform="matrix(1 0 0 -1 0 {_f(total_h)})" stroke="#000" stroke-width="{stroke}">',
    ]
    for name, ox, width, height, entries in sheets:
        lines.append(f'<g id="{name}" class="bin">')
        lines.append(f'<rect id="{name}-sheet" class="{SHEET_CLASS}" x="{_f(ox)}" y="0" width="{_f(width)}" '
                     f'height="{_f(height)}" fill="none"/>')
        for k, (item, kind, geom) in enumerate(entries, 1):
            ident = f'id="{name}-item-{k}" class="part" data-shape-id={quoteattr(str(item.shape_id))}'
            if kind == "circle":
                cx, cy, r = geom
                lines.append(f'<circle {ident} cx="{_f(cx)}" cy="{_f(cy)}" r="{_f(r)}" fill="#9cc3e6"/>')
                continue
            outer, holes, round_outer, round_holes = geom
            d = " ".join([_ring_d(outer, round_outer)] + [_ring_d(h, c) for h, c in zip(holes, round_holes)])
            rule = ' fill-rule="evenodd"' if holes else ""
            lines.append(f'<path {ident} d="{d}"{rule} fill="#9cc3e6"/>')
        lines.append("</g>")
    lines.append("</g>")
    lines.append("</svg>")
    with open(path, "w", encoding="utf-8") as fh:
        fh.write("\n".join(lines) + "\n")
