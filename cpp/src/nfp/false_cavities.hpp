// Holes of a no-fit polygon that rounding made up: slivers where the
// positions of the moving item in truth overlap the stationary one.
#pragma once

#include "quarvo/kernel.hpp"

namespace quarvo {

// Drops from NFP region `r` of stationary A (zero translation) and moving B
// (its reference point `ref`) every hole thinner on average than `thin` at
// which B, put on the middle of the hole's longest edge, overlaps A by more
// than 1e-6: a true cavity's edges are positions where B touches A.
void drop_false_cavities(Region& r, const Contour& A, const Contour& B, Pt ref, double thin);

}  // namespace quarvo
