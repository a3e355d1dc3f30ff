// Bridge to the Clipper library: contours snapped to the 1e-6 integer grid
// (multiples of 1 / SCALE). Clipper's types stay in the engine's internal
// headers: no public header names them.
#pragma once
#include <polyclipping/clipper.hpp>

#include <cstddef>
#include <vector>

#include "quarvo/kernel.hpp"

namespace quarvo {

// Whether round(v * 1e6) fits Clipper's coordinate range (below 2^62); false for NaN.
bool on_grid(double v);
// round(v * 1e6), ties to even; ValueError when the value is NaN or does not
// fit Clipper's coordinate range.
ClipperLib::cInt to_grid(double v);
ClipperLib::Path to_path(const Contour& c);
// x / 1e6 correctly rounded, as the host's integer true division gives it.
double from_grid(ClipperLib::cInt v);
// A path back in coordinates, closed.
Contour to_contour(const ClipperLib::Path& p);

// Area of the intersection of two closed contours (non-zero fill), in squared
// length units, computed exactly on the 1e-6 grid.
double intersection_area(const Contour& a, const Contour& b);

// Whether the edges of the contours (each closed by the clipper, as Clipper
// does) cross each other properly more than `limit` times. Clipper's time and
// memory grow with the crossings: a random 100,000-point contour has ~10^9.
// Counting gives up, answering false, after a bounded number of edge pairs.
bool crosses_more_than(const std::vector<const Contour*>& contours, std::size_t limit);

}  // namespace quarvo
