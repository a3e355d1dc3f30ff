// Whether an outline lies in a room of any simple shape, to a slack: judged
// on the vertices and the crossings of the edges.
#pragma once
#include <functional>

#include "quarvo/kernel.hpp"

namespace quarvo {

// Whether closed polygon `poly` lies in closed simple contour `room` but for
// parts reaching out of it by at most `slack`. Its vertices, the room's
// vertices inside it and the middles of its edges' stretches between
// crossings of the room's outline are judged: a polygon whose vertices all lie
// in a room that is not convex can still cross the room's outline between
// them, around a corner of the room.
bool polygon_in_room(const Contour& poly, const Contour& room, double slack, const std::function<void()>& stop);

}  // namespace quarvo
