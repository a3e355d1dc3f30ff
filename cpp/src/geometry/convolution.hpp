// The convolution of two simple polygons on an integer grid: closed paths
// whose positive winding number is exactly their Minkowski sum.
//
// Each edge of one polygon is paired with the vertices of the other whose
// turn passes through the edge's direction (traversed backwards where that
// turn is clockwise). Around any point x, the paths wind as often as A and
// x - B meet in separate pieces, so the sum is where they wind at all. Far
// fewer pieces than every pair of edges: about (n + m) times how often the
// outlines turn back and forth, instead of n x m.
#pragma once
#include <polyclipping/clipper.hpp>

#include <cstddef>

namespace quarvo {

// Closed paths whose region of positive winding is a ⊕ b, for closed paths a
// and b of either orientation (no repeated closing point; Clipper's range
// leaves room for every sum of two of their points). False, with `out`
// untouched, when a path is not simple (snapping may make an outline touch
// itself) and when the convolution has more than `max_pieces` pieces.
bool convolution_cycles(const ClipperLib::Path& a, const ClipperLib::Path& b, std::size_t max_pieces,
                        ClipperLib::Paths& out);

}  // namespace quarvo
