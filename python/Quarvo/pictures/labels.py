"""Where the labels of a picture go: inside their item where they fit, else
beside it with a leader line, never over another label.

Works in the picture's own units (job units): ``size(text)`` gives a label's
box there. Needs numpy only.
"""
import math
from dataclasses import dataclass
from typing import Optional, Tuple

from Quarvo.geometry import Circle, Pipe
from Quarvo.pictures.geometry import circle_label_fits, item_contours, label_spot


@dataclass
class Label:
    """A placed label: its text, the centre and size of its box, and the
    point of its item a leader line starts from (None inside the item)."""

    index: int  # position of the item in the list placed
    text: str
    x: float
    y: float
    w: float
    h: float
    anchor: Optional[Tuple[float, float]] = None

    @property
    def box(self):
        return (self.x - self.w / 2, self.y - self.h / 2, self.x + self.w / 2, self.y + self.h / 2)


def boxes_overlap(a, b):
    """Whether two (x0, y0, x1, y1) boxes share more than an edge."""
    return a[0] < b[2] and b[0] < a[2] and a[1] < b[3] and b[1] < a[3]


class _Grid:
    """Boxes bucketed by cell, for the overlap tests of many labels."""

    def __init__(self, cell):
        self.cell = cell
        self.cells = {}

    def _keys(self, box):
        c = self.cell
        for gx in range(math.floor(box[0] / c), math.floor(box[2] / c) + 1):
            for gy in range(math.floor(box[1] / c), math.floor(box[3] / c) + 1):
                yield gx, gy

    def add(self, box, what):
        for key in self._keys(box):
            self.cells.setdefault(key, []).append((box, what))

    def hits(self, box):
        seen = set()
        for key in self._keys(box):
            for other, what in self.cells.get(key, ()):
                if id(other) not in seen and boxes_overlap(box, other):
                    seen.add(id(other))
                    yield what


def _centre_and_reach(item):
    if isinstance(item, Circle):
        (cx, cy), r = item.transformed()
        return (cx, cy), r
    pts = item.transformed()
    xs, ys = [p[0] for p in pts], [p[1] for p in pts]
    cx, cy = (min(xs) + max(xs)) / 2, (min(ys) + max(ys)) / 2
    return (cx, cy), math.hypot(max(xs) - min(xs), max(ys) - min(ys)) / 2


def _item_box(item):
    if isinstance(item, Circle):
        (cx, cy), r = item.transformed()
        return (cx - r, cy - r, cx + r, cy + r)
    pts = item.transformed()
    xs, ys = [p[0] for p in pts], [p[1] for p in pts]
    return (min(xs), min(ys), max(xs), max(ys))


def _inside_spot(item, w, h, holds_others):
    """A place for a w x h box in the item's own area: its material, or a
    pipe's empty bore; None when there is none."""
    if isinstance(item, Pipe) and item.bore > 0:
        (cx, cy), r = item.transformed()
        if not holds_others and circle_label_fits(item.bore, w, h):
            return cx, cy
        # a thick wall: the middle of the wall at the top
        wall = r - item.bore
        if wall > h and w < 2 * item.bore:
            return cx, cy + item.bore + wall / 2
        return None
    if isinstance(item, Circle):
        (cx, cy), r = item.transformed()
        return (cx, cy) if circle_label_fits(r, w, h) else None
    outer, holes = item_contours(item)
    return label_spot(outer, holes, w, h)


# Directions tried for a label beside its item, and how far out (label heights beyond the item).
_DIRECTIONS = 16
_RINGS = 10


def place_labels(items, texts, size, bounds, leaders=True):
    """One ``Label`` per item whose text is not None: inside the item where
    it fits, else (with ``leaders``) beside it, the nearest free place on
    rings around it, its box within ``bounds`` (x0, y0, x1, y1) and clear of
    every other label, preferring places clear of every item too. Items go in
    order; an item that finds no place gets no label."""
    boxes = [_item_box(it) for it in items]
    sizes = [size(t) if t is not None else (0.0, 0.0) for t in texts]
    cell = max([max(w, h) for w, h in sizes] + [1e-9]) * 2
    labels, placed, solid = [], _Grid(cell), _Grid(cell)
    for k, box in enumerate(boxes):
        solid.add(box, k)
    # an item holds others when their boxes lie in its own (a pipe's bore, a polygon's hole)
    holds = [False] * len(items)
    for k, (item, box) in enumerate(zip(items, boxes)):
        for j in solid.hits(box):
            if j != k:
                other = boxes[j]
                if box[0] <= other[0] and box[1] <= other[1] and other[2] <= box[2] and other[3] <= box[3]:
                    holds[k] = True
                    break
    outside = []
    for k, (item, text) in enumerate(zip(items, texts)):
        if text is None:
            continue
        w, h = sizes[k]
        spot = _inside_spot(item, w, h, holds[k])
        if spot is not None:
            box = (spot[0] - w / 2, spot[1] - h / 2, spot[0] + w / 2, spot[1] + h / 2)
            if not any(True for _ in placed.hits(box)):
                label = Label(k, text, spot[0], spot[1], w, h)
                labels.append(label)
                placed.add(box, label)
                continue
        outside.append(k)
    if not leaders:
        return labels
    for k in outside:
        item, text = items[k], texts[k]
        w, h = sizes[k]
        (cx, cy), reach = _centre_and_reach(item)
        best = None
        for ring in range(1, _RINGS + 1):
            radius = reach + ring * h * 0.9 + max(w, h) / 2
            for d in range(_DIRECTIONS):
                a = math.pi / 2 + 2 * math.pi * d / _DIRECTIONS
                x, y = cx + radius * math.cos(a), cy + radius * math.sin(a)
                box = (x - w / 2, y - h / 2, x + w / 2, y + h / 2)
                if box[0] < bounds[0] or box[1] < bounds[1] or box[2] > bounds[2] or box[3] > bounds[3]:
                    continue
                if any(True for _ in placed.hits(box)):
                    continue
                clear = not any(True for _ in solid.hits(box))
                if clear:
                    best = (x, y)
                    break
                if best is None:
                    best = (x, y)
            if best is not None and clear:
                break
        if best is None:
            continue
        # the leader starts on the item's boundary, towards its label
        a = math.atan2(best[1] - cy, best[0] - cx)
        anchor = (cx + reach * 0.6 * math.cos(a), cy + reach * 0.6 * math.sin(a)) if not isinstance(item, Circle) \
            else (cx + item.transformed()[1] * math.cos(a), cy + item.transformed()[1] * math.sin(a))
        label = Label(k, text, best[0], best[1], w, h, anchor)
        labels.append(label)
        placed.add(label.box, label)
    return labels
