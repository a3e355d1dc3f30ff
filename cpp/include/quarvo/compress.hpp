// The compression phase after the greedy pass: items may overlap on a sheet
// made smaller than the best layout's, a guided local search moves them until
// no overlap is left, and each layout so found (checked exactly on the grown
// outlines) is the new best; then the sheet shrinks again.
//
// Strips: the used length falls. Bins: the last bin's items move into the
// others, and then the last bin's used height falls. Items are judged on the
// NFPs the placers use (the clear distance, circles as 64-gons, non-convex
// outlines mitred); an item wholly in a container's room is clear of it.
//
// Items move freely: a heavy item may end above lighter ones, so weights only
// order the greedy pass.
#pragma once
#include <vector>

#include "quarvo/first_fit.hpp"
#include "quarvo/options.hpp"
#include "quarvo/search.hpp"

namespace quarvo {

// Given to FirstFit::do_pack, runs the improvement search for its share of the
// options' limits and then compresses its best layout until the limits (or
// Ctrl-C, which is no error: result.search_stopped), leaves every item at its
// pose in the best layout found and returns that layout. With an iteration
// limit and no time limit the result depends on the seed only, not on the
// thread count. The progress counts the search's layouts and then the
// phase's item moves (`compressing` set meanwhile).
class CompressionPhase : public Improver {
public:
    explicit CompressionPhase(SearchOptions options, SearchProgress* progress = nullptr)
        : options(options), progress(progress) {}

    void check() const override { check_options(options); }
    bool moves_freely() const override { return true; }
    PackResult improve(const FirstFit& ff, const std::vector<Shape*>& sequence, PackResult greedy) const override;

    SearchOptions options;
    SearchProgress* progress;  // optional, not owned
};

}  // namespace quarvo
