"""Shape model: the packable items (Polygon, Circle) and the bin record."""
from dataclasses import dataclass
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

for _cls in (Shape, Polygon, Circle):
    _cls.__module__ = __name__


@dataclass
class Bin:
    """Size of every bin of a packing run; values are stored unchanged.

    A height of None makes a strip: one bin of that width whose height is
    open (``FirstFit`` then returns one bin; its used length is
    ``Quarvo.first_fit_algorithm.used_length``).
    """

    width: float
    height: Optional[float]
