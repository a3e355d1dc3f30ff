// The sweep of the bottom-left slide: the region an item sweeps toward the
// wall or the floor, distances along one axis, and how far an item may travel
// before it meets a placed contour.
#pragma once
#include <cstddef>
#include <vector>

#include "geometry/contact.hpp"
#include "quarvo/kernel.hpp"
#include "quarvo/placer_bl.hpp"

namespace quarvo {

// Sweep polygon of a closed clockwise contour as entries of the contour: a
// vertex of `pts`, or the point of the wall or floor level with a vertex.
struct SweepEntry {
    enum Kind { Vertex, Wall } kind;
    std::size_t index;
};
std::vector<SweepEntry> to_wall_poly_entries(const Contour& pts, Direction dir);
// The region between the item and the wall ("left"), or the item together with
// everything below it down to the floor ("down"). Contours of fewer than three
// vertices come back unchanged.
Contour to_wall_poly(const Contour& pts, Direction dir);

// Distance from v to the segment a-b measured along -x (horizontal) or -y
// (vertical); +inf when the segment does not span v.
double horizontal_distance(Pt v, Pt a, Pt b);
double vertical_distance(Pt v, Pt a, Pt b);

// How far the item may travel toward the wall (left) or the floor (down)
// before it meets one of the placed contours or the wall. A contact up to
// `tol` behind the item still blocks it.
double available_space(const Contour& item_poly, const std::vector<Contour>& packed_polys, Direction dir,
                       double tol = kBottomLeftClearance);

// The free-distance search of the slide on prepared contours, which the
// placer keeps for its placed items from one call to the next.

// How far the item may travel toward the wall (left) or the floor (down)
// before it meets one of the obstacles or the wall. A contact up to `tol`
// behind the item still blocks it. The wall and the floor stand at `wall`
// (a bin's edge margin moves them in from 0).
// `rooms`: rings the item lies in (a shaped bin's outline shrunk by the
// margin), whose edges hold it wherever the sweep goes.
double free_distance(const Contour& item_poly, const std::vector<PreparedContour*>& obstacles, Direction dir,
                     double tol, double wall = 0.0, const std::vector<PreparedContour*>* rooms = nullptr);

}  // namespace quarvo
