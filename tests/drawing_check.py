"""A written nest read back independently, with ezdxf alone: sheet N's
outline on layer sheet-N, its parts on parts-N, each part a group of
entities or an inserted block; its curves exact lines and arcs (ellipses and
splines as chords within CHORD), judged by the exact distances of
geometry_check: every part inside its sheet by the edge margin, parts apart
by the gap on their true curves, none in another's material."""
import math

import ezdxf

import geometry_check as gc

# Ellipses and splines are read as chords this close to them (their distances lose as much each).
CHORD = 1e-5


class Part:
    """One part of a written nest in sheet coordinates: its curves (exact
    lines and arcs; ellipses and splines as chords within CHORD)."""

    def __init__(self, curves, name, mirrored, chorded):
        self.curves, self.name, self.mirrored, self.chorded = curves, name, mirrored, chorded
        self.boxes = [gc.curve_box(c) for c in curves]
        boxes = self.boxes
        self.box = (min(b[0] for b in boxes), min(b[1] for b in boxes), max(b[2] for b in boxes),
                    max(b[3] for b in boxes))
        self.area = gc.curves_area(curves)
        self.circles = [c for c in curves if c[0] == "arc" and c[4] >= 2 * math.pi - 1e-12]

    def inside_material(self, p):
        return gc.curves_crossings(p, self.curves) % 2 == 1

    def probe(self):
        """A point on the part's boundary (a line's middle: never where a crossing count is ambiguous)."""
        for c in self.curves:
            if c[0] == "seg":
                return ((c[1][0] + c[2][0]) / 2, (c[1][1] + c[2][1]) / 2)
        _, (cx, cy), r, a0, sweep = self.curves[0]
        return (cx + r * math.cos(a0 + sweep / 2), cy + r * math.sin(a0 + sweep / 2))


def boundary_distance(a, b, cutoff):
    """Least distance between the curves of two parts, or ``cutoff`` when it is
    at least that; exact but for the chords of ellipses and splines (within
    CHORD of the true distance for each part that has them)."""
    grid = {}
    for k, (x0, y0, x1, y1) in enumerate(b.boxes):
        for gx in range(math.floor(x0 / cutoff), math.floor(x1 / cutoff) + 1):
            for gy in range(math.floor(y0 / cutoff), math.floor(y1 / cutoff) + 1):
                grid.setdefault((gx, gy), []).append(k)
    best = cutoff
    for p, (x0, y0, x1, y1) in zip(a.curves, a.boxes):
        near = {k for gx in range(math.floor((x0 - cutoff) / cutoff), math.floor((x1 + cutoff) / cutoff) + 1)
                for gy in range(math.floor((y0 - cutoff) / cutoff), math.floor((y1 + cutoff) / cutoff) + 1)
                for k in grid.get((gx, gy), ())}
        for k in near:
            bq = b.boxes[k]
            if max(bq[0] - x1, x0 - bq[2], bq[1] - y1, y0 - bq[3]) < best:
                best = min(best, gc.curve_distance(p, b.curves[k]))
    return best


def curves_of(entities, m=None):
    """The curves of DXF entities (in a block, mapped by the insert's matrix m), read with ezdxf alone."""
    from ezdxf.math import Matrix44

    m = m or Matrix44()
    flips = m.ux.cross(m.uy).z < 0

    def at(p):
        v = m.transform((p[0], p[1], 0.0))
        return (v.x, v.y)

    out, chorded = [], False
    for e in entities:
        kind = e.dxftype()
        if kind == "LINE":
            out.append(("seg", at(e.dxf.start), at(e.dxf.end)))
        elif kind == "CIRCLE":
            c = e.dxf.center
            out.append(("arc", at(c), e.dxf.radius * m.ux.magnitude, 0.0, 2 * math.pi))
        elif kind == "ARC":
            c, r = e.dxf.center, e.dxf.radius
            p0, p1 = [(c.x + r * math.cos(math.radians(a)), c.y + r * math.sin(math.radians(a)))
                      for a in (e.dxf.start_angle, e.dxf.end_angle)]
            out.append(gc.arc_from_ends(at(c), r * m.ux.magnitude, at(p0), at(p1), anticlockwise=not flips))
        elif kind == "LWPOLYLINE":
            pts = list(e.get_points("xyb"))
            pairs = list(zip(pts, pts[1:] + (pts[:1] if e.closed else [])))
            for (x0, y0, b), (x1, y1, _) in pairs:
                p, q = at((x0, y0)), at((x1, y1))
                if b == 0:
                    out.append(("seg", p, q))
                else:
                    out.append(gc.bulge_arc(p, q, -b if flips else b))
        else:  # ELLIPSE, SPLINE
            pts = [at(v) for v in e.flattening(CHORD)]
            out.extend(("seg", p, q) for p, q in zip(pts, pts[1:]) if p != q)
            chorded = True
    return out, chorded


def read_nest(path):
    """Sheets (x0, y0, x1, y1) by number and the parts of a written nest,
    with ezdxf alone: sheet N's outline on layer sheet-N, its parts on
    parts-N, each a group of entities or an inserted block."""
    doc = ezdxf.readfile(path)
    msp = doc.modelspace()
    sheets, parts = {}, []
    for e in msp.query("LWPOLYLINE"):
        if e.dxf.layer.startswith("sheet-"):
            pts = [(p[0], p[1]) for p in e.get_points("xy")]
            xs, ys = [p[0] for p in pts], [p[1] for p in pts]
            sheets[int(e.dxf.layer[6:])] = (min(xs), min(ys), max(xs), max(ys))
    for _, group in doc.groups:
        entities = list(group)
        layers = {e.dxf.layer for e in entities}
        assert len(layers) == 1 and layers.pop().startswith("parts-"), "a part lies on one parts layer"
        curves, chorded = curves_of(entities)
        parts.append((int(entities[0].dxf.layer[6:]), Part(curves, group.dxf.description, False, chorded)))
    for ins in msp.query("INSERT"):
        curves, chorded = curves_of(doc.blocks[ins.dxf.name], ins.matrix44())
        parts.append((int(ins.dxf.layer[6:]), Part(curves, ins.dxf.name, ins.dxf.xscale < 0, chorded)))
    return sheets, parts


def assert_sound_nest(path, gap, edge, tol=1e-6):
    sheets, parts = read_nest(path)
    by_sheet = {}
    for number, part in parts:
        assert number in sheets, f"{part.name} on sheet {number}, which has no outline"
        by_sheet.setdefault(number, []).append(part)
    for number, placed in by_sheet.items():
        x0, y0, x1, y1 = sheets[number]
        for p in placed:
            # at least the edge margin from the sheet's edges, hence inside it
            bx0, by0, bx1, by1 = p.box
            assert min(bx0 - x0, by0 - y0, x1 - bx1, y1 - by1) >= edge - tol, (p.name, p.box, sheets[number])
        for i, a in enumerate(placed):
            for b in placed[i + 1:]:
                if (a.box[0] > b.box[2] + gap or b.box[0] > a.box[2] + gap or
                        a.box[1] > b.box[3] + gap or b.box[1] > a.box[3] + gap):
                    continue
                chords = CHORD * (a.chorded + b.chorded)
                assert boundary_distance(a, b, gap + 1.0) >= gap - tol - chords, (a.name, b.name)
                # apart, not one in the other's material (inside a hole is fine)
                assert not b.inside_material(a.probe()) and not a.inside_material(b.probe()), (a.name, b.name)
    for number, part in parts:
        part.sheet = number
    return sheets, [p for _, p in parts]
