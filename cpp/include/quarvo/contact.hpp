// Whether two closed contours share a point (touching included): the
// separating-axis test for convex pairs, crossing boundaries or a point of one
// in the other otherwise. Correct for non-convex and self-intersecting contours.
#pragma once
#include <vector>

#include "quarvo/kernel.hpp"

namespace quarvo {

struct Axis {
    double ax, ay, lo, hi;  // the edge normal and the contour's own projection range
};

// A contour with what the intersection test needs about it, kept by callers
// that test the same contour many times.
struct Geo {
    Contour poly;
    BBox box{0, 0, 0, 0};
    bool tame = false;    // non-empty, finite, no coordinate beyond 1e150
    bool convex = false;  // is_convex(poly)
    bool axes_built = false;
    std::vector<Axis> axes;

    void assign(Contour c);
    // Separating axes of the contour's own edges, with its projections on them.
    const std::vector<Axis>& own_axes();
};

bool geo_intersect(Geo& p, Geo& s);
bool polys_intersect(const Contour& a, const Contour& b);

}  // namespace quarvo
