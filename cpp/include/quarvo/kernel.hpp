// Geometry kernel: points, closed contours and the stateless functions on them.
//
// A closed contour repeats its first point as its last; every loop over edges
// takes n = size - 1 edges and never wraps from the last entry to the first.
// Outer contours of items are clockwise, hole contours counter-clockwise.
#pragma once
#include <cstddef>
#include <vector>

#include "quarvo/constants.hpp"

namespace quarvo {

struct Pt {
    double x = 0.0;
    double y = 0.0;
};
inline bool operator==(const Pt& a, const Pt& b) { return a.x == b.x && a.y == b.y; }
inline bool operator!=(const Pt& a, const Pt& b) { return !(a == b); }

using Contour = std::vector<Pt>;
// Closed contours of a region: outer contours clockwise, holes counter-clockwise.
using Region = std::vector<Contour>;

struct BBox {
    double minx, miny, maxx, maxy;
};

constexpr double EXTREMA_TOL = 1e-9;
// The polygon union snaps coordinates to multiples of 1 / SCALE.
constexpr long long SCALE = 1000000;

inline Pt vadd(Pt a, Pt b) { return {a.x + b.x, a.y + b.y}; }
inline Pt vsub(Pt a, Pt b) { return {a.x - b.x, a.y - b.y}; }
inline double cross(Pt a, Pt b) { return a.x * b.y - a.y * b.x; }

// Correctly rounded sqrt(x*x + y*y), the value Python's math.hypot gives.
double hypot_cr(double x, double y);

// round(v, 6) of Python: v rounded to the nearest multiple of 1e-6, ties to
// even on the exact binary value, as the nearest double.
double round6(double v);

double polygon_area(const Contour& pts);
Contour ensure_winding(const Contour& pts, bool clockwise);
BBox polygon_bbox(const Contour& pts);                 // ValueError when empty
Pt polygon_centroid(const Contour& pts);               // ZeroDivisionError when empty
bool is_convex(const Contour& poly);
// Whether the contour's edges turn exactly once around in total (a star whose
// turns all have one sign passes is_convex but turns more).
bool turns_once(const Contour& c);
// Whether is_convex passed over a reflex corner: it skips turns too small to
// judge, and at a repeated (or nearly repeated) point a real corner's turn is
// split between two such turns. The contour then falls short of its convex hull.
bool hides_reflex_corner(const Contour& poly);
// The closed contour is convex for placing: is_convex, no corner hidden from
// it, and it turns once around.
bool convex_ring(const Contour& c);
Contour circle_to_polygon(Pt center, double radius, long long n = kCircleSides);  // IndexError when n <= 0
// The kCircleSides-gon a placer takes for a circle: inscribed in it, or with
// `exact` circumscribed about it (radius r / cos(pi/64)), so that it holds the circle.
Contour circle_outline(Pt center, double radius, bool exact);

// Extremum key of a y value: y / EXTREMA_TOL rounded half to even, as an
// integral double. ValueError for NaN, OverflowError for infinities.
double extremum_key(double y);
// Key comparison (k, x): true when (ka, xa) > (kb, xb) lexicographically.
inline bool key_greater(double ka, double xa, double kb, double xb) {
    return ka > kb || (ka == kb && xa > xb);
}
Pt top_right(const Contour& pts);    // ValueError when empty
Pt bottom_left(const Contour& pts);  // ValueError when empty
std::size_t top_right_index(const Contour& pts);
std::size_t bottom_left_index(const Contour& pts);

Pt line_intersection(Pt p1, Pt p2, Pt p3, Pt p4);
Contour offset_convex(const Contour& poly, double dist);

bool segments_intersect(Pt a, Pt b, Pt c, Pt d);
// (min, max) of the projections of the points on the axis (ax, ay), in list
// order; ties and NaN keep the earlier value. ValueError when empty.
void project(const Contour& p, double ax, double ay, double& lo, double& hi);
bool sat_intersects(const Contour& a, const Contour& b);  // ValueError when one side is empty and axes exist
bool point_in_polygon(Pt pt, const Contour& poly);
bool point_in_convex_polygon(Pt pt, const Contour& poly);

// Whether two closed contours share a point (touching included): the
// separating-axis test for convex pairs, crossing boundaries or a point of one
// in the other otherwise. Correct for non-convex and self-intersecting contours.
bool polys_intersect(const Contour& a, const Contour& b);

}  // namespace quarvo
