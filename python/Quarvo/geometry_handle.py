"""Geometry kernel: points, closed contours and the stateless functions on them.

A point is a pair (x, y) of floats in a y-up frame. A closed contour repeats
its first point as its last; outer contours of items are clockwise, holes
counter-clockwise. Every function reads its arguments, never modifies them,
and returns new lists of ``(float, float)`` tuples.
"""
from typing import Tuple

from Quarvo._quarvo import geometry_handle as _k

Point = Tuple[float, float]

EXTREMA_TOL = _k.EXTREMA_TOL

vadd = _k.vadd
vsub = _k.vsub
cross = _k.cross
polygon_area = _k.polygon_area
ensure_winding = _k.ensure_winding
polygon_bbox = _k.polygon_bbox
polygon_centroid = _k.polygon_centroid
is_convex = _k.is_convex
circle_to_polygon = _k.circle_to_polygon
top_right = _k.top_right
bottom_left = _k.bottom_left
_line_intersection = _k._line_intersection
offset_convex = _k.offset_convex
segments_intersect = _k.segments_intersect
sat_intersects = _k.sat_intersects
point_in_polygon = _k.point_in_polygon
point_in_convex_polygon = _k.point_in_convex_polygon
