// The rooms of the holes of placed containers, and the filter that keeps a
// candidate inside a hole only where the item really lies in the room and
// meets no other placed item.
#pragma once
#include <cstddef>
#include <functional>
#include <vector>

#include "quarvo/shapes.hpp"

namespace quarvo {

// A world hole of a placed container, moved inward by the container's
// inflation: the room an item in that hole really has.
struct HoleRoom {
    std::size_t container;  // index in the bin's item list
    Contour room;
    bool usable;
    // With `nesting`: the containers in one of whose usable rooms this room's
    // container lies wholly; an item in this room lies in theirs as well.
    std::vector<std::size_t> around;
    // A pipe's bore: the room is the disc of `radius` about `center` (the bore
    // less the pipe's inflation), and `room` its inscribed kCircleSides-gon.
    bool disc = false;
    Pt center{};
    double radius = 0.0;
};
// The rooms of every hole of every placed container, in placement and hole
// order. With `nonconvex`, a non-convex hole moves inward with mitred corners
// (its largest part is the room); otherwise every hole moves as a convex one.
// With `nesting`, each room also lists the containers around it.
std::vector<HoleRoom> hole_rooms(const std::vector<Shape*>& packed, bool nesting = false, bool nonconvex = false);

// Whether `item` at translation t lies wholly in `room` (any simple contour),
// but for parts reaching out of it by at most `slack`; a circle as its
// inscribed 64-gon, or with `exact` as the true circle. In a disc room the
// item is held to the true disc, and a circle is its true circle.
bool lies_in_room(const Shape& item, Pt t, const HoleRoom& room, bool exact, const std::function<void()>& stop,
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
