// The union of no-fit polygons on the 1e-6 grid (Clipper, negative fill rule).
#pragma once
#include <vector>

#include "quarvo/kernel.hpp"

namespace quarvo {

// Boundary contours of the union of the contours' interiors (negative fill
// rule, walked in pre-order), each closed and with at least 4 entries.
// Contours whose edges cross each other too often for a union in reasonable
// time are a ValueError.
std::vector<Contour> merge_nfps(const std::vector<Contour>& nfps);

// Thread CPU seconds spent inside Clipper's union since the process started
// (for benchmarks).
double union_seconds();

}  // namespace quarvo
