// The improvement search run after the greedy pass: a late-acceptance local
// search over the order in which items are offered and the angles each may
// take, where every neighbour re-packs only the part of the order it changed.
//
// The weight rule: an item is never offered after a lighter one. The search
// reorders items only within a run of equal weight in the greedy order; with
// all weights equal the order is free.
//
// Best means: fewer unplaced items, then fewer bins, then a smaller used
// length of the last bin (the largest y of its items' world contours; for a
// strip, its used length), then the earlier found.
#pragma once
#include <vector>

#include "quarvo/first_fit.hpp"

namespace quarvo {

// `sequence` holds the items in greedy order, inflated and placed as `greedy`
// says. Searches until ff.search's limits (or Ctrl-C, which is no error:
// result.search_stopped), leaves every item at its pose in the best layout
// found and returns that layout. With an iteration limit and no time limit
// the result depends on the seed only, not on the thread count.
PackResult improve_layout(const FirstFit& ff, const std::vector<Shape*>& sequence, PackResult greedy);

}  // namespace quarvo
