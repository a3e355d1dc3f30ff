// A shaped bin as the NFP placer searches it: like one big room, the fixed
// free region of each moving kind (its inner-fit region in the outline less
// the no-fit polygons of the holes and defects) less the NFPs of the items
// placed.
#pragma once
#include <functional>
#include <memory>

#include "place/bin_region.hpp"
#include "quarvo/shapes.hpp"

namespace quarvo {

// The fixed free region of `mover` at its rotation and inflation (circles
// circumscribed) in a bin of `shape` whose rooms for the mover's inset are
// `rooms`: served from a process-wide cache bounded in size, keyed by the
// shape, the inset and the mover's kind.
std::shared_ptr<const Region> shaped_free_region(const std::shared_ptr<const BinShape>& shape, double bin_w,
                                                 double bin_h, double inset, const BinRooms& rooms, Shape& mover,
                                                 const std::function<void()>& stop);

// Fixed free regions held by the cache.
std::size_t shaped_region_cache_size();

}  // namespace quarvo
