// The cache's lookup, for the placers (the control of the cache is public).
#pragma once
#include <memory>

#include "quarvo/nfp_cache.hpp"

namespace quarvo {

// Local NFP of (a, b): in a's frame, a's translation taken as zero; the
// outer contour first, then its holes. Served from the cache; the stored
// region is shared and never modified. `exact`: circles as circumscribed
// 64-gons (a key of its own where a circle takes part). Pairs with a
// non-convex outline are a ValueError unless `nonconvex`, and then get the
// Minkowski NFP.
std::shared_ptr<const Region> local_nfp(Shape& a, Shape& b, bool exact = false, bool nonconvex = false);

}  // namespace quarvo
