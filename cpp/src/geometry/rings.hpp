// Whether the rings of a polygon (its outer contour and its holes) bound a
// sound region: each ring simple, no two rings meeting, every hole inside the
// outer contour and outside every other hole.
//
// The test is a plane sweep over all edges at once with exact orientation
// predicates, O(n log n) in the number of vertices.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "quarvo/kernel.hpp"

namespace quarvo {

// Sign of the orientation of (a, b, c), computed exactly: +1 when c lies left
// of a->b, -1 when right, 0 when the three points are collinear. The
// coordinates must be finite and no larger than about 1e150 in magnitude.
int orient_exact(Pt a, Pt b, Pt c);

struct RingFault {
    enum Kind { None, TooFewPoints, ZeroArea, SelfCrossing, RingsMeet, HoleOutside, HoleInHole } kind = None;
    // Rings by index: 0 is the outer contour, k >= 1 is hole k - 1.
    std::size_t ring = 0;
    std::size_t other = 0;  // RingsMeet, HoleInHole: the second ring
    Pt where{};             // SelfCrossing, RingsMeet: a point both edges share
};

// The first fault found, or kind None. Rings may be closed or open; repeated
// consecutive points are ignored. Coordinates must be finite.
RingFault find_ring_fault(const Contour& outer, const std::vector<Contour>& holes);

// The fault in words, e.g. "hole 1 crosses or touches the outer contour near (2, 3)".
std::string describe(const RingFault& f);

}  // namespace quarvo
