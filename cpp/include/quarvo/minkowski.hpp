// Minkowski sums of simple polygons, and what the NFP placer builds from them
// for pairs that edge merging cannot handle: exact no-fit polygons of
// non-convex pairs (their holes kept), inner-fit regions of holes of any
// shape, and the mitred growth of a non-convex outline.
//
// The sums run on a fine integer grid of their own (a power of two per unit,
// as fine as Clipper's range allows for the coordinates at hand, at most
// 2^30), so that snapping the two contours costs far less than the 1e-6 grid
// of the union they then enter.
#pragma once
#include <vector>

#include "quarvo/kernel.hpp"

namespace quarvo {

// Closed contours of a region: outer contours clockwise, holes counter-clockwise.
using Region = std::vector<Contour>;

// A ⊕ B of two simple closed contours (any orientation): the sweep of B's
// edges along A's, A moved by one point of B and B moved by one point of A,
// united. Outer contour first, then its holes.
Region minkowski_sum(const Contour& A, const Contour& B);

// The outer NFP of A (stationary, zero translation) and B: A ⊕ (-B) moved so
// that its points are positions of B's reference point `ref` (the top-right
// vertex of a polygon, the centre of a circle) at which B touches A; its
// interior holds the overlapping positions, its holes the positions where B
// lies in a cavity of A. Anchored by the exact box rule when `box_rule`.
Region nfp_minkowski(const Contour& A, const Contour& B, Pt ref, bool box_rule);

// The inner-fit region of hole H for B: the positions of B's reference point
// `ref` at which B lies wholly inside H, that is H minus ((the plane outside H)
// ⊕ (-B)). Its contours are the positions where B touches H's wall; it may
// have several parts, and holes. Empty when B fits nowhere.
Region hole_inner_fit(const Contour& H, const Contour& B, Pt ref);

// A simple closed contour grown by `delta` (shrunk when negative) with mitred
// corners, cut square no nearer than 2 x |delta| from a corner, so that every
// point of the result keeps at least |delta| from the contour. The outer
// contours of the result, largest first, each clockwise.
Region mitred_offset(const Contour& c, double delta);

// Non-convex NFPs built and their thread CPU seconds since the process started.
struct MinkowskiStats {
    unsigned long long nfps = 0;
    double seconds = 0.0;
};
MinkowskiStats minkowski_stats();

}  // namespace quarvo
