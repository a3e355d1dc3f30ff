// Minkowski sums of simple polygons, for pairs that edge merging cannot
// handle: the sums behind the exact no-fit polygons of non-convex pairs (their
// holes kept) and the inner-fit regions of holes of any shape.
//
// The sums run on the fine grid of fine_grid.hpp.
#pragma once
#include "quarvo/kernel.hpp"

namespace quarvo {

// A ⊕ B of two simple closed contours (any orientation): the convolution of
// the two outlines (convolution.hpp) united; for outlines that snapping to the
// grid makes touch themselves, the sweep of B's edges along A's, A moved by
// one point of B and B moved by one point of A, united. Vertices within 4 grid
// units of the line through their neighbours are dropped. Outer contour first,
// then its holes.
Region minkowski_sum(const Contour& A, const Contour& B);

// A ⊕ (-B) moved by `shift`, in the same way. Contours that cross themselves,
// or too large for the sweep, are a ValueError naming A as `what_a` and B as `what_b`.
Region minkowski_difference(const Contour& A, const Contour& B, Pt shift, const char* what_a, const char* what_b);

// The inner-fit region of hole H for B: the positions of B's reference point
// `ref` at which B lies wholly inside H, that is H minus ((the plane outside H)
// ⊕ (-B)). Its contours are the positions where B touches H's wall; it may
// have several parts, and holes. Empty when B fits nowhere.
Region hole_inner_fit(const Contour& H, const Contour& B, Pt ref);

}  // namespace quarvo
