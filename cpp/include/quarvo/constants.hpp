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

// The tolerance to which the engine keeps the distance and the bin.
//
// No-fit polygons are snapped to the union's 1e-6 grid, each coordinate by at
// most half a unit, so a vertex moves by at most sqrt(2)/2 x 1e-6; the union
// rounds the points where edges cross to the grid as well, by as much again.
// A place on the union's boundary therefore lies at most sqrt(2) x 1e-6 deep
// in a no-fit polygon, which is how far the two items can overlap there (a
// move of that length parts them), and the candidate search's bin test lets
// an item's box out of the bin by 1e-6, less than that. The arithmetic on
// doubles adds its rounding, a few units in the last place of the
// coordinates: 1e-14 of their magnitude covers it.
constexpr double GRID_TOLERANCE = 1.4142135623730951e-6;
constexpr double ROUNDING_TOLERANCE = 1e-14;

// The tolerance where coordinates reach `magnitude`.
inline double engine_tolerance(double magnitude) { return GRID_TOLERANCE + ROUNDING_TOLERANCE * magnitude; }

// Below the grid: an item could lie wholly within the engine's tolerance of
// another's outline once the area of its material over its perimeter, a
// lower bound of the radius of the largest disc inside it, falls under that
// tolerance (a disc's radius / 2, a ring's wall / 2, a square's side / 4).
// Such items, and bins narrower than twice it, are refused.
inline double grid_limit(double magnitude) { return engine_tolerance(magnitude); }

}  // namespace quarvo
