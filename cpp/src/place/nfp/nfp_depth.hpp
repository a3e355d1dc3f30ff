// How deep a place lies in the no-fit polygons of the items around it: the
// guard of the incremental mode, whose stored unions round the points where
// edges cross to the grid again at every update, so that their outlines can
// drift from the no-fit polygons by more than one rounding.
#pragma once
#include <cstddef>
#include <functional>
#include <vector>

#include "place/nfp/hole_rooms.hpp"
#include "quarvo/kernel.hpp"
#include "quarvo/shapes.hpp"

namespace quarvo {

// Whether the mover (at its rotation and inflation, translation t) lies deeper
// than the engine's tolerance in the no-fit polygon of a placed item: outside
// its cavities and in none of the item's rooms (`rooms`, with `exact` circles).
// `local_of(j)` gives the local NFP region of placed item j against the mover;
// it is asked only for items whose boxes come near the place.
bool deeper_than_tolerance(const std::vector<Shape*>& packed, const Shape& mover, Pt t,
                           const std::vector<HoleRoom>& rooms,
                           const std::function<const Region&(std::size_t)>& local_of, bool exact,
                           const std::function<void()>& stop);

}  // namespace quarvo
