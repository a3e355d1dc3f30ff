// The fixed part of a shaped bin's free space, which both placers honour: the
// bin's outline, its holes and its defects, as they stand for an item that
// keeps `inset` beyond its grown outline from them (the edge margin less the
// item's own spacing).
#pragma once
#include <functional>
#include <vector>

#include "quarvo/kernel.hpp"
#include "quarvo/shapes.hpp"

namespace quarvo {

struct BinRooms {
    // The outline shrunk by the inset: the parts an item may lie in, each a
    // closed clockwise contour (a narrow waist may split the outline).
    Region rooms;
    // The holes and the defects grown by the inset, closed and clockwise.
    std::vector<Contour> obstacles;
};
// Mitred corners, so that every point of a room keeps at least `inset` from
// the outline and every point outside the obstacles at least `inset` from a
// hole or a defect.
BinRooms bin_rooms(const Bin& bin, double inset);

// The positions of `ref` at which the item whose grown outline at zero
// translation is `outline` lies wholly in a room and overlaps no obstacle:
// its inner-fit region in the rooms less the no-fit polygons of the
// obstacles (their cavities filled). Outer contours clockwise, holes
// counter-clockwise; empty when the item fits nowhere.
Region fixed_free_region(const BinRooms& rooms, const Contour& outline, Pt ref, const std::function<void()>& stop);

// Whether the grown outline `world` (placed) lies in a room and overlaps no
// obstacle, but for `slack`: the sound test of a place the region gave.
bool clear_of_bin(const BinRooms& rooms, const Contour& world, double slack, const std::function<void()>& stop);

}  // namespace quarvo
