// The candidate search: samples positions on the forbidden region's boundary
// and inside the holes of placed containers, keeps those whose item box lies
// in the bin, and scores them (corner or centre); the best one wins.
#pragma once
#include <cstddef>
#include <functional>
#include <vector>

#include "quarvo/kernel.hpp"
#include "quarvo/options.hpp"
#include "quarvo/shapes.hpp"

namespace quarvo {

// `steps` points per edge of a closed contour, from each edge's start.
std::vector<Pt> sample_boundary(const Contour& poly, long long steps);
// The centroid of a hole's NFP and the points of a 4 x 4 grid over its box
// that lie inside it.
std::vector<Pt> sample_hole_interior(const Contour& poly);

struct SearchResult {
    bool found = false;
    Pt pos{};  // translation
    double score;
};

// Accepts or refuses a candidate sampled inside hole NFP `hole_index`, with
// reference point `p` and translation `t`.
using HoleFilter = std::function<bool(std::size_t hole_index, Pt p, Pt t)>;
// Accepts or refuses a candidate that would become the best, by its translation.
using BestFilter = std::function<bool(Pt t)>;

// A contour of the free part of a hole's inner-fit region, sampled on its
// boundary like the bin's contours; `hole` is the index the filter is given.
struct HoleRegion {
    std::size_t hole;
    Contour contour;
};

// A candidate that passed: its score and translation (and, for the placer,
// whether it lies in a hole searched before the bin).
struct Candidate {
    double score;
    Pt pos;
    bool in_hole = false;
};

// What search_best_position searches for `item` in a bin_w x bin_h bin, and how.
struct PositionSearch {
    const Shape& item;
    double bin_w, bin_h;
    // The boundary contours of the forbidden region (the union of the NFPs).
    const std::vector<Contour>& contours;
    // NFPs of holes of placed containers, sampled inside.
    const std::vector<Contour>& hole_nfps;
    long long steps = 40;  // samples per edge
    double eps = 1e-6;     // how far an item box may stand out of the bin
    Placement placement = Placement::Corner;
    // Candidates inside holes must pass it; none: every one passes.
    const HoleFilter* hole_filter = nullptr;
    // Contours sampled after the hole NFPs, their candidates filtered too.
    const std::vector<HoleRegion>* hole_regions = nullptr;
    // Every candidate that passes is appended here in candidate order, and no
    // edge is skipped for its score.
    std::vector<Candidate>* passed = nullptr;
    // Only boundary samples of `contours` inside this box (closed) are candidates.
    const BBox* window = nullptr;
    // A candidate that would become the best must pass it as well (asked
    // last, and only then, as it costs most); it does not thin `passed`.
    const BestFilter* best_filter = nullptr;
    // Also the places where the item meets a support exactly: where each edge
    // of `contours` crosses the lines that put the item's box on the floor or
    // against a wall, and every vertex of each hole NFP.
    bool support_points = false;
    // How far the item's box keeps from the bin's edges (the bin's edge
    // margin less the item's inflation); scores stay those of the whole bin.
    double inset = 0.0;
};

// The best candidate: `steps` samples per edge of the contours, the interior
// samples of the hole NFPs, then `steps` samples per edge of the hole regions,
// in that order; the first of equal scores wins.
SearchResult search_best_position(const PositionSearch& search);

// The bounds of the candidate search that the placer and the windowed search
// share: the item's box, and whether a box of reference points can hold a
// better candidate at all.

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
