"""No-fit-polygon placement: convex NFPs, Minkowski NFPs of non-convex pairs and
inner-fit regions of holes (``nonconvex=True``), their process-wide cache, the
polygon union, the scored candidate search and ``NfpPlacer``."""
from Quarvo._quarvo import placer_nfp as _n
from Quarvo.geometry import Circle, Point, Polygon, Shape  # noqa: F401
from Quarvo.geometry_handle import (  # noqa: F401  (names this module takes from the kernel)
    EXTREMA_TOL,
    bottom_left,
    circle_to_polygon,
    cross,
    is_convex,
    offset_convex,
    point_in_convex_polygon,
    polygon_area,
    polygon_bbox,
    polygon_centroid,
    top_right,
    vadd,
    vsub,
)

_SCALE = _n._SCALE
_union_seconds = _n._union_seconds
_nfp_cache = _n._nfp_cache
nfp_cache_info = _n.nfp_cache_info
set_nfp_cache_limit = _n.set_nfp_cache_limit
clear_nfp_cache = _n.clear_nfp_cache
_angle_2pi = _n._angle_2pi
nfp_convex_only = _n.nfp_convex_only
correct_nfp_position = _n.correct_nfp_position
_geometry_signature = _n._geometry_signature
compute_nfp = _n.compute_nfp
_compute_nfp0 = _n._compute_nfp0
compute_hole_nfps = _n.compute_hole_nfps
merge_nfps = _n.merge_nfps
_nfp_region = _n._nfp_region
hole_inner_fit = _n.hole_inner_fit
_minkowski_stats = _n._minkowski_stats
_beyond_tolerance = _n._beyond_tolerance
search_best_position = _n.search_best_position
_sample_boundary = _n._sample_boundary
_sample_hole_interior = _n._sample_hole_interior
NfpPlacer = _n.NfpPlacer
NfpPlacer.__module__ = __name__
