// Small helpers shared by the probe store and the windowed search.
#pragma once
#include <algorithm>
#include <cmath>
#include <limits>

#include "quarvo/clipper_util.hpp"
#include "quarvo/kernel.hpp"

namespace quarvo {
namespace region_detail {

constexpr double kInf = std::numeric_limits<double>::infinity();

// Room left around a window for the snapping of world NFPs to the grid.
inline double grid_margin(double a, double b) { return 1e-5 + 1e-12 * (std::fabs(a) + std::fabs(b)); }

inline Contour to_contour(const ClipperLib::Path& p) {
    Contour c;
    c.reserve(p.size() + 1);
    for (const ClipperLib::IntPoint& q : p) c.push_back({from_grid(q.X), from_grid(q.Y)});
    if (!c.empty() && c.front() != c.back()) c.push_back(c.front());
    return c;
}

inline bool meets(const BBox& a, const BBox& b, double m) {
    return !(a.maxx < b.minx - m || a.minx > b.maxx + m || a.maxy < b.miny - m || a.miny > b.maxy + m);
}

// circle_to_polygon({0, 0}, r, 64) from a table: the same coordinates.
inline Contour regular_64gon(double r) {
    static const Contour unit = circle_to_polygon({0.0, 0.0}, 1.0, 64);
    Contour out(unit.size());
    for (std::size_t i = 0; i < unit.size(); ++i) out[i] = {r * unit[i].x, r * unit[i].y};
    return out;
}

}  // namespace region_detail
}  // namespace quarvo
