// The candidate search: samples positions on the forbidden region's boundary
// and inside the holes of placed containers, keeps those whose item box lies
// in the bin, and scores them (corner or centre); the best one wins.
#pragma once
#include <cstddef>
#include <functional>
#include <vector>

#include "quarvo/placer.hpp"
#include "quarvo/shapes.hpp"

namespace quarvo {

std::vector<Pt> sample_boundary(const Contour& poly, long long steps);
std::vector<Pt> sample_hole_interior(const Contour& poly);

// Bounding box of the item at its rotation and inflation, zero translation.
BBox rotated_bbox(const Shape& item);
// False only when no translation can put the item's box in the bin, with a
// margin far above rounding so that no candidate that could pass is skipped.
bool box_can_fit(const Shape& item, double bin_w, double bin_h, double eps);

struct SearchResult {
    bool found = false;
    Pt pos{};  // translation
    double score;
};

// Accepts or refuses a candidate sampled inside hole NFP `hole_index`, with
// reference point `p` and translation `t`.
using HoleFilter = std::function<bool(std::size_t hole_index, Pt p, Pt t)>;

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

// Candidates in order: `steps` samples per edge of the contours, the interior
// samples of the hole NFPs, then `steps` samples per edge of the hole regions.
// With `passed`, every candidate that passes is appended there in that order,
// and no edge is skipped for its score.
SearchResult search_best_position(const std::vector<Contour>& contours, const std::vector<Contour>& hole_nfps,
                                  const Shape& item, double bin_w, double bin_h, long long steps = 40,
                                  double eps = 1e-6, Placement placement = Placement::Corner,
                                  const HoleFilter* hole_filter = nullptr,
                                  const std::vector<HoleRegion>* hole_regions = nullptr,
                                  std::vector<Candidate>* passed = nullptr, const BBox* window = nullptr);

// With a window, only boundary samples of `contours` inside it (closed) are candidates.
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

// A world hole of a placed container, moved inward by the container's
// inflation: the room an item in that hole really has.
struct HoleRoom {
    std::size_t container;  // index in the bin's item list
    Contour room;
    bool usable;
    // With `nesting`: the containers in one of whose usable rooms this room's
    // container lies wholly; an item in this room lies in theirs as well.
    std::vector<std::size_t> around;
};
// The rooms of every hole of every placed container, in placement and hole
// order. With `nonconvex`, a non-convex hole moves inward with mitred corners
// (its largest part is the room); otherwise every hole moves as a convex one.
// With `nesting`, each room also lists the containers around it.
std::vector<HoleRoom> hole_rooms(const std::vector<Shape*>& packed, bool nesting = false, bool nonconvex = false);

// Whether `item` at translation t lies wholly in `room` (any simple contour),
// but for parts reaching out of it by at most `slack`; a circle as its
// inscribed 64-gon, or with `exact` as the true circle.
bool lies_in_room(const Shape& item, Pt t, const Contour& room, bool exact, const std::function<void()>& stop,
                  double slack = 0.0);

// The sound hole filter: a candidate inside a hole NFP is taken only when the
// item really lies in the hole's room and overlaps no other placed item. A
// placed container is no obstacle when the item lies wholly in one of its
// rooms, so containers nest to any depth. Candidates on an inner-fit contour
// of a non-convex room (hole index fitted_from and beyond) touch the room's
// outline: they may reach out of it by the 1e-6 grid.
struct RoomFilter {
    const std::vector<Shape*>& packed;
    const std::vector<HoleRoom>& rooms;
    std::vector<std::size_t> room_of_hole;  // hole NFP or inner-fit contour index -> rooms index
    const Shape& mover;
    // The local NFP of placed item j against the mover (outer contour, then holes).
    std::function<const std::vector<Contour>&(std::size_t j)> local_nfp_of;
    std::function<void()> stop;
    bool exact = false;  // circles tested as true circles
    std::size_t fitted_from = static_cast<std::size_t>(-1);

    bool operator()(std::size_t h, Pt p, Pt t) const;
    // Whether the mover at translation t lies wholly in a room of placed item j.
    bool in_a_room_of(std::size_t j, Pt t) const;
};

}  // namespace quarvo
