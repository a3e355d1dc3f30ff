// Constants every layer of the engine shares.
#pragma once
#include <limits>

namespace quarvo {

constexpr double kPi = 3.141592653589793;
constexpr double kInf = std::numeric_limits<double>::infinity();

// Sides of the regular polygon that stands for a circle wherever the engine
// needs a circle as a polygon: the kernel's circle_to_polygon, a circle's world
// contour, the placers' outlines of circles and the free-space probes. The
// checker's circle tolerance is the gap this many sides leave.
constexpr int kCircleSides = 64;

// Slack on every contact of an item at rest beyond its spacers: twice the
// bottom-left placer's clearance (its slide stops 0.001 short of what blocks
// it), far above the 1e-6 grid of the union and the three grid units by which
// dense holes keep clear of their walls.
constexpr double kRestTol = 2e-3;

}  // namespace quarvo
