"""The geometry of a picture's labels: an item's world contours, and where a
label's box lies wholly inside an item's material. Needs numpy only."""
import math

from Quarvo.geometry import Pipe
from Quarvo.geometry_handle import polygon_centroid


def item_contours(item):
    """World outline and holes of a polygon item (or a pipe, its circles as 64-gons), each closed."""
    if isinstance(item, Pipe):
        from Quarvo.geometry_handle import circle_to_polygon

        (cx, cy), r = item.transformed()
        return list(circle_to_polygon((cx, cy), r, 64)), [list(h) for h in item.transformed_holes()]
    outer = list(item.transformed())
    holes = [list(h) for h in item.transformed_holes()] if item.is_container else []
    return outer, holes


def _segments(contours):
    import numpy as np

    segs = []
    for ring in contours:
        pts = np.asarray(ring, dtype=float)
        if len(pts) > 1 and not np.array_equal(pts[0], pts[-1]):
            pts = np.vstack([pts, pts[:1]])
        segs.append(np.hstack([pts[:-1], pts[1:]]))
    return np.vstack(segs) if segs else np.zeros((0, 4))


def _in_material(points, segs):
    """Even-odd test of many points against every contour at once: inside the
    outline and outside its holes."""
    import numpy as np

    px, py = points[:, :1], points[:, 1:]
    x0, y0, x1, y1 = segs[:, 0], segs[:, 1], segs[:, 2], segs[:, 3]
    spans = (y0 > py) != (y1 > py)
    with np.errstate(divide="ignore", invalid="ignore"):
        xcross = x0 + (py - y0) * (x1 - x0) / (y1 - y0)
    return (np.count_nonzero(spans & (px < xcross), axis=1) % 2) == 1


def _clearance(points, segs):
    """Distance of each point to the nearest boundary segment."""
    import numpy as np

    px, py = points[:, :1], points[:, 1:]
    x0, y0 = segs[:, 0], segs[:, 1]
    dx, dy = segs[:, 2] - x0, segs[:, 3] - y0
    length2 = dx * dx + dy * dy
    with np.errstate(divide="ignore", invalid="ignore"):
        t = np.where(length2 > 0, ((px - x0) * dx + (py - y0) * dy) / length2, 0.0)
    t = np.clip(t, 0.0, 1.0)
    return np.sqrt(((x0 + t * dx - px) ** 2 + (y0 + t * dy - py) ** 2).min(axis=1))


def _boxes_meet(segs, centers, w, h):
    """For each centre, whether any segment touches the closed w x h box
    around it (Liang-Barsky clipping, all boxes against all segments)."""
    import numpy as np

    out = np.zeros(len(centers), dtype=bool)
    if len(segs) == 0:
        return out
    sx, sy = segs[:, 0], segs[:, 1]
    dx, dy = segs[:, 2] - sx, segs[:, 3] - sy
    step = max(1, 200_000 // len(segs))  # bounds the temporaries of a long outline
    for start in range(0, len(centers), step):
        cx = centers[start:start + step, :1]
        cy = centers[start:start + step, 1:]
        lo = np.zeros((len(cx), len(segs)))
        hi = np.ones((len(cx), len(segs)))
        ok = np.ones((len(cx), len(segs)), dtype=bool)
        for p, q in ((-dx, sx - (cx - w / 2)), (dx, (cx + w / 2) - sx),
                     (-dy, sy - (cy - h / 2)), (dy, (cy + h / 2) - sy)):
            p = np.broadcast_to(p, q.shape)
            parallel = p == 0
            ok &= ~(parallel & (q < 0))
            with np.errstate(divide="ignore", invalid="ignore"):
                t = q / np.where(parallel, 1.0, p)
            lo = np.where(~parallel & (p < 0), np.maximum(lo, t), lo)
            hi = np.where(~parallel & (p > 0), np.minimum(hi, t), hi)
        out[start:start + step] = np.any(ok & (lo <= hi), axis=1)
    return out


def label_spot(outer, holes, w, h, grid=16, line=64):
    """Centre of a w x h label box wholly inside the material of a polygon
    (the outline without its holes), or None when no such place is found.

    Places are tried on the vertical line through the centroid, then on the
    horizontal one, then on a grid over the outline. Of the places that hold
    the box and lie nearly as far from the boundary as the best of them, the
    earliest group wins and in it the place nearest the centroid (then the
    lowest): a convex part is labelled at its centroid, a holed one square
    below its hole, a bent one along the middle of an arm.
    """
    import numpy as np

    xs = [p[0] for p in outer]
    ys = [p[1] for p in outer]
    if max(xs) - min(xs) <= w or max(ys) - min(ys) <= h:
        return None
    segs = _segments([outer] + list(holes))
    cx, cy = polygon_centroid(outer)
    gx = np.linspace(min(xs) + w / 2, max(xs) - w / 2, grid)
    gy = np.linspace(min(ys) + h / 2, max(ys) - h / 2, grid)
    lx = np.linspace(min(xs) + w / 2, max(xs) - w / 2, line)
    ly = np.linspace(min(ys) + h / 2, max(ys) - h / 2, line)
    groups = [[(cx, cy)] + [(cx, y) for y in ly], [(x, cy) for x in lx],
              [(x, y) for y in gy for x in gx]]
    points = np.array([p for g in groups for p in g], dtype=float)
    group = np.repeat(np.arange(len(groups)), [len(g) for g in groups])
    inside = _in_material(points, segs)
    points, group = points[inside], group[inside]
    if len(points) == 0:
        return None
    room = _clearance(points, segs)
    # A box holds the disc of half its height: places with less room fail anyway.
    keep = room > h / 2
    points, group, room = points[keep], group[keep], room[keep]
    fits = ~_boxes_meet(segs, points, w, h)
    points, group, room = points[fits], group[fits], room[fits]
    if len(points) == 0:
        return None
    # Well clear of the edges (a label squeezed against an edge reads as the neighbour's).
    clear = room >= 0.75 * room.max()
    best = min(zip(group[clear].tolist(), points[clear].tolist()),
               key=lambda gp: (gp[0], round(math.hypot(gp[1][0] - cx, gp[1][1] - cy) / h, 3), gp[1][1], gp[1][0]))
    return (float(best[1][0]), float(best[1][1]))


def circle_label_fits(radius, w, h):
    """A box centred on a circle fits when its corners are within the radius."""
    return math.hypot(w / 2, h / 2) < radius


# --------------------------------------------------------------- drawing
