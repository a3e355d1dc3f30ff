"""Bottom-left placement: items start above the bin's top-right corner and
slide alternately down and left as far as the floor, the wall and the placed
items allow, stopping ``epsilon`` short of what blocks them. No rotation; any
simple polygon, convex or not, and any circle can be placed.
"""
from Quarvo._quarvo import placer_bl as _bl
from Quarvo.geometry import Circle, Point, Shape  # noqa: F401  (names this module passes on)
from Quarvo.geometry_handle import (  # noqa: F401
    circle_to_polygon,
    is_convex,
    point_in_polygon,
    polygon_bbox,
    sat_intersects,
    segments_intersect,
)

EPS = _bl.EPS
MIN_PROGRESS = _bl.MIN_PROGRESS

_as_polygon = _bl._as_polygon
_to_wall_poly = _bl._to_wall_poly
_horizontal_distance = _bl._horizontal_distance
_vertical_distance = _bl._vertical_distance
_available_space = _bl._available_space
polys_intersect = _bl.polys_intersect

BottomLeftPlacer = _bl.BottomLeftPlacer
BottomLeftPlacer.__module__ = __name__
