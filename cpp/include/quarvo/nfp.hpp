// No-fit polygons, as the placer_nfp module exposes them: the convex NFP by
// edge merging and its anchoring, the NFP of any pair of items, the NFPs of a
// container's holes and the inner-fit region of a hole.
//
// The NFP of a stationary A and a moving B holds the positions of B's
// reference point (a polygon's top-right vertex, a circle's centre) at which
// B touches A; its interior holds the overlapping ones.
#pragma once
#include <vector>

#include "quarvo/kernel.hpp"
#include "quarvo/shapes.hpp"

namespace quarvo {

// Angle of the edge vector end - start in [0, 2*pi).
double angle_2pi(Pt start, Pt end);

struct RawNfp {
    Contour pts;
    Pt top;
};
// Edges of A and of reversed B merged by decreasing angle and chained.
RawNfp nfp_convex_only(const Contour& A, const Contour& B);
// Moves a raw NFP so that its vertices are positions of B's top-right vertex
// touching A (A at zero translation).
Contour correct_nfp_position(const Contour& raw_nfp, Pt top_nfp, const Contour& A_rot, const Contour& B_rot);

// Local NFP of (a, b): a at zero translation, b at its rotation and inflation.
// A circle takes part as its circle_outline (`exact`: the circumscribed one).
Contour compute_nfp0(const Shape& a, const Shape& b, bool exact = false);
// The local NFP as a region (outer contour first, then its holes): the convex
// NFP where both outlines are convex, the Minkowski NFP otherwise.
Region compute_nfp0_region(const Shape& a, const Shape& b, bool exact = false);
// World NFP, served from the process-wide cache (nfp_cache.hpp): the local
// NFP's outer contour moved by a's translation.
Contour compute_nfp(Shape& a, Shape& b);
// One NFP per hole of a placed container, in world coordinates: the positions
// of b's reference point inside the hole.
std::vector<Contour> compute_hole_nfps(const Shape& a, const Shape& b);
// The holes of an item in world coordinates, closed and counter-clockwise: a
// polygon's holes, a pipe's bore as the inscribed kCircleSides-gon.
std::vector<Contour> world_holes(const Shape& s);
// Whether the item has a hole another item may go into.
bool is_container(const Shape& s);

// The positions of the item's reference point that keep it, at its rotation
// and inflation, wholly inside `hole` (a closed contour of any shape): the
// contours of its inner-fit region.
Region hole_inner_fit(const Contour& hole, const Shape& item);

// Non-convex NFPs built and their thread CPU seconds since the process started.
struct MinkowskiStats {
    unsigned long long nfps = 0;
    double seconds = 0.0;
};
MinkowskiStats minkowski_stats();

}  // namespace quarvo
