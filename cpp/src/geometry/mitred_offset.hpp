// The growth of a simple (possibly non-convex) outline by a distance, with
// mitred corners: how a non-convex outline takes its inflation, and how a
// non-convex hole moves inward by its container's.
#pragma once
#include "quarvo/kernel.hpp"

namespace quarvo {

// A simple closed contour grown by `delta` (shrunk when negative) with mitred
// corners, cut square no nearer than 2 x |delta| from a corner, so that every
// point of the result keeps at least |delta| from the contour. The outer
// contours of the result, largest first, each clockwise.
Region mitred_offset(const Contour& c, double delta);

}  // namespace quarvo
