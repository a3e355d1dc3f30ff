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
#include <atomic>
#include <cstddef>
#include <vector>

#include "quarvo/first_fit.hpp"
#include "quarvo/options.hpp"

namespace quarvo {

// What no layout of the items can beat, from their areas and heights: the
// fewest bins (their area over a bin's), and the shortest used length of the
// last of that many (the area left for it over the bin's width, and at least
// the lowest item). A strip's length: its area over the strip's width, or its
// tallest item standing as low as it can, whichever is longer. Heights at
// every angle (and side) the strategy may give an item; areas less holes.
struct LowerBound {
    std::size_t bins = 1;
    double length = 0.0;
    // Whether a layout of that many bins, its last one that long, reaches it.
    bool reached(std::size_t layout_bins, double layout_length) const;
    // The shortest last bin of a layout of `layout_bins` bins (at least `bins`).
    double last_length(std::size_t layout_bins) const;

    // What the bound is made of: the items' area, a bin's room for it (none
    // for a strip), the width it has, the bin's margin, the least height of
    // an item and the greatest.
    double area = 0.0, room = 0.0, wide = 0.0, margin = 0.0, lowest = 0.0, tallest = 0.0;
};
LowerBound lower_bound(const FirstFit& ff, const std::vector<Shape*>& items);

// Counters the search updates as it goes; another thread may read them
// meanwhile: whether it runs, the layouts evaluated so far and the best one
// found (its bins and the used length of its last bin). A compression phase
// after the search (compress.hpp) sets `compressing` and counts its item
// moves in `evaluated`. At the end: the lower bound of the items, whether the
// run stopped before its limits because its best layout reached it, and the
// CPU seconds the search and the phase took on all their threads.
struct SearchProgress {
    std::atomic<bool> searching{false};
    std::atomic<bool> compressing{false};
    std::atomic<std::size_t> evaluated{0};
    std::atomic<std::size_t> best_bins{0};
    std::atomic<double> best_length{0.0};
    std::atomic<std::size_t> bound_bins{0};
    std::atomic<double> bound_length{0.0};
    std::atomic<bool> at_bound{false};
    std::atomic<double> cpu_seconds{0.0};
};

// Given to FirstFit::do_pack, searches after the greedy pass until the
// options' limits (or Ctrl-C, which is no error: result.search_stopped),
// leaves every item at its pose in the best layout found and returns that
// layout. With an iteration limit and no time limit the result depends on the
// seed only, not on the thread count.
class ImprovementSearch : public Improver {
public:
    explicit ImprovementSearch(SearchOptions options, SearchProgress* progress = nullptr)
        : options(options), progress(progress) {}

    void check() const override { check_options(options); }
    PackResult improve(const FirstFit& ff, const std::vector<Shape*>& sequence, PackResult greedy) const override;

    SearchOptions options;
    SearchProgress* progress;  // optional, not owned
};

}  // namespace quarvo
