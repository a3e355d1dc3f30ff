// Whether outlines of any simple shape lie in each other or overlap, to a
// slack: judged on their vertices and the crossings of their edges.
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

// Whether the interiors of closed simple polygons a and b overlap by more
// than `slack`: a vertex of either lies that deep in the other, or a stretch
// of an edge of a between crossings of b's outline does.
bool outlines_overlap(const Contour& a, const Contour& b, double slack);

// Keeps, of the contours after the first (outer) one of no-fit polygon `nfp`
// of A (stationary, zero translation) and B (reference point `ref`), only the
// true cavities; the rest are slivers that the union of the sum's pieces
// leaves on its grid where pieces meet. A contour that is no hole (holes run
// counter-clockwise, with some area) goes, and so does a hole at one of whose
// vertices or edge middles B overlaps A by more than `slack`.
void keep_true_cavities(Region& nfp, const Contour& A, const Contour& B, Pt ref, double slack);

// Takes out of a closed contour the spikes the union of a sum's pieces leaves
// where edges of the pieces lie along each other: an edge that runs back
// along the one before it (within 1e-14 of the coordinates' magnitude) encloses
// nothing, and its tip, sampled as a place, lies inside whatever the contour
// is united with.
void remove_spikes(Contour& c);

}  // namespace quarvo
