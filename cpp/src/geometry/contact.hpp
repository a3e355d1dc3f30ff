// Contact of closed contours (polys_intersect in the kernel's header), and
// the contours prepared for it that callers keep when they test the same
// contour many times.
#pragma once
#include <vector>

#include "quarvo/kernel.hpp"

namespace quarvo {

struct Axis {
    double ax, ay, lo, hi;  // the edge normal and the contour's own projection range
};

// A contour with what the intersection test needs about it.
struct PreparedContour {
    Contour poly;
    BBox box{0, 0, 0, 0};
    // Non-empty, finite and no coordinate beyond 1e150: every projection of
    // the separating-axis test stays finite, so the cached data may be used.
    bool projectable = false;
    bool convex = false;  // is_convex(poly)
    bool axes_built = false;
    std::vector<Axis> axes;

    void assign(Contour c);
    // Separating axes of the contour's own edges, with its projections on them.
    const std::vector<Axis>& own_axes();
};

// polys_intersect(p.poly, s.poly), the same answer from the cached data.
bool prepared_intersect(PreparedContour& p, PreparedContour& s);

}  // namespace quarvo
