// Inner-fit regions: the positions of an item's reference point that keep the
// item inside a room (a hole of a placed container moved inward by the
// container's inflation).
#pragma once
#include <vector>

#include "quarvo/shapes.hpp"

namespace quarvo {

// The item at its rotation and inflation, its reference point (a polygon's
// top-right vertex, a circle's centre) anywhere in the result, lies inside
// `room` (a closed counter-clockwise contour). A circle counts as the true
// circle. Convex rooms only: the region of a non-convex room is the general
// inner-fit function's; here it comes back empty with `handled` false.
// An empty result with `handled` true means the item does not fit.
std::vector<Contour> inner_fit_region(const Contour& room, const Shape& item, bool* handled = nullptr);

}  // namespace quarvo
