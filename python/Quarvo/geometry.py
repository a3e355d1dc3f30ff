"""Shape model: the packable items (Polygon, Circle, Pipe) and the bin record."""
from dataclasses import dataclass, field
from typing import Optional

from Quarvo._quarvo import geometry as _g
from Quarvo.geometry_handle import (  # noqa: F401  (names this module passes on)
    Point,
    ensure_winding,
    offset_convex,
    polygon_area,
    polygon_bbox,
    top_right,
)

Shape = _g.Shape
Polygon = _g.Polygon
Circle = _g.Circle
Pipe = _g.Pipe

for _cls in (Shape, Polygon, Circle, Pipe):
    _cls.__module__ = __name__


@dataclass(repr=False)
class Bin:
    """Size of every bin of a packing run; values are stored unchanged.

    A height of None makes a strip: one bin of that width whose height is
    open (``FirstFit`` then returns one bin; its used length is
    ``Quarvo.first_fit_algorithm.used_length``).

    ``margin`` is the edge margin: every item's outline keeps at least that
    much from the bin's edges (a strip's sides and floor), whatever the
    distance between items. The gap at an edge is the larger of the margin
    and the item's own spacing (half the distance plus its ``inflation`` and
    ``margin``), so the default 0 leaves half the distance, as without it.

    ``max_load`` (kg, keyword only): ``FirstFit`` puts no more of the items'
    ``mass`` into one bin. ``length`` (mm, keyword only): no pipe longer than
    this (a pipe's length is in m) goes into the bin. None: no limit.
    """

    width: float
    height: Optional[float]
    # keyword only: Bin(width, height) keeps its two positional fields
    margin: float = field(default=0.0, kw_only=True)
    max_load: Optional[float] = field(default=None, kw_only=True)
    length: Optional[float] = field(default=None, kw_only=True)

    def __repr__(self):
        # the printed form names the new fields only when they are set
        fields = [f"width={self.width!r}", f"height={self.height!r}"]
        if self.margin != 0.0:
            fields.append(f"margin={self.margin!r}")
        fields += [f"{name}={value!r}" for name, value in (("max_load", self.max_load), ("length", self.length))
                   if value is not None]
        return f"Bin({', '.join(fields)})"
