// The free-distance search of the slide on prepared contours, which the
// placer keeps for its placed items from one call to the next.
#pragma once
#include <vector>

#include "geometry/contact.hpp"
#include "quarvo/sweep.hpp"

namespace quarvo {

// How far the item may travel toward the wall (left) or the floor (down)
// before it meets one of the obstacles or the wall. A contact up to `tol`
// behind the item still blocks it. The wall and the floor stand at `wall`
// (a bin's edge margin moves them in from 0).
double free_distance(const Contour& item_poly, const std::vector<PreparedContour*>& obstacles, Direction dir,
                     double tol, double wall = 0.0);

}  // namespace quarvo
