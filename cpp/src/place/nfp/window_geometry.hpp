// The geometry the windowed search and the proof of a refusal share: windows
// cut for a mover, the reference points that keep it in the bin, and whether
// the NFPs of placed circles cover a box.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "place/nfp/free_space.hpp"
#include "quarvo/kernel.hpp"
#include "quarvo/shapes.hpp"

namespace quarvo {

// Room left around a window for the snapping of world NFPs to the grid.
inline double grid_margin(double a, double b) { return 1e-5 + 1e-12 * (std::fabs(a) + std::fabs(b)); }
// The margin for a box, from its largest coordinates.
inline double grid_margin(const BBox& b) {
    return grid_margin(std::max(std::fabs(b.minx), std::fabs(b.maxx)), std::max(std::fabs(b.miny), std::fabs(b.maxy)));
}

inline bool meets(const BBox& a, const BBox& b, double m) {
    return !(a.maxx < b.minx - m || a.minx > b.maxx + m || a.maxy < b.miny - m || a.miny > b.maxy + m);
}

inline BBox clip(const BBox& a, const BBox& b) {
    return {std::max(a.minx, b.minx), std::max(a.miny, b.miny), std::min(a.maxx, b.maxx), std::min(a.maxy, b.maxy)};
}

// circle_to_polygon({0, 0}, r) from a table: the same coordinates.
Contour regular_polygon_at_origin(double r);

// The reference points whose mover's box stays in the bin, with room for
// the scoring's tolerance and `grow` more.
BBox in_bin_range(const Shape& mover, double bin_w, double bin_h, double grow = 0.0);

// A window cut for a mover whose probe is d larger than the windows' (the
// mover keeps d from every end of the free space around its probe), in
// reference-point coordinates; false when nothing is left.
bool cut_window(const Window& w, double d, Pt offset, BBox& b);

// True when `in_one(box)` holds for the box, or else for each of its quarters,
// down to `depth` halvings; an empty box is covered.
template <class InOne>
bool covered_by_quarters(const BBox& b, int depth, const InOne& in_one) {
    if (!(b.minx <= b.maxx && b.miny <= b.maxy)) return true;
    if (in_one(b)) return true;
    if (depth == 0) return false;
    const double mx = (b.minx + b.maxx) / 2, my = (b.miny + b.maxy) / 2;
    return covered_by_quarters({b.minx, b.miny, mx, my}, depth - 1, in_one) &&
           covered_by_quarters({mx, b.miny, b.maxx, my}, depth - 1, in_one) &&
           covered_by_quarters({b.minx, my, mx, b.maxy}, depth - 1, in_one) &&
           covered_by_quarters({mx, my, b.maxx, b.maxy}, depth - 1, in_one);
}

// True when every point of the box lies well inside one of the polygon NFPs
// of the placed circles `near` against a circle of radius rm: tested on the
// box, then on its quarters down to `depth` halvings.
bool covered_by_circle_nfps(const std::vector<Shape*>& packed, const std::vector<std::size_t>& near, double rm,
                            const BBox& b, int depth);

// The placed circles whose NFPs against a circle of radius rm meet the box.
void circles_near(const std::vector<Shape*>& packed, const CircleIndex& circles, double rm, const BBox& w, double m,
                  std::vector<std::size_t>& out);

}  // namespace quarvo
