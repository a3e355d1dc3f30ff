// The bounds of the candidate search that the placer and the windowed search
// share: the item's box, and whether a box of reference points can hold a
// better candidate at all.
#pragma once
#include "quarvo/candidate_search.hpp"

namespace quarvo {

// Bounding box of the item at its rotation and inflation, zero translation.
BBox rotated_bbox(const Shape& item);
// False only when no translation can put the item's box in the bin, `inset`
// from its edges, with a margin far above rounding so that no candidate that
// could pass is skipped.
bool box_can_fit(const Shape& item, double bin_w, double bin_h, double eps, double inset = 0.0);

// For one item: cannot_beat(box, best) is true when no translation whose
// reference point lies in `box` can pass the bin test with a score below
// `best` (the same margins as the search's own edge pruning).
class BoxBound {
public:
    BoxBound(const Shape& item, double bin_w, double bin_h, double eps, Placement placement);
    bool cannot_beat(const BBox& box, double best) const;

private:
    BBox rb_;
    Pt ref_;
    double bin_w_, bin_h_, eps_;
    Placement placement_;
};

}  // namespace quarvo
