#include "place/nfp/window_geometry.hpp"

#include <algorithm>
#include <cmath>

#include "place/nfp/candidate_search.hpp"
#include "quarvo/constants.hpp"

namespace quarvo {

namespace {

// Whether the whole box lies well inside one of the polygon NFPs of the placed
// circles `near` against a circle of radius rm. Such a polygon is convex, so it
// holds a box whose corners it holds.
bool in_one_circle_nfp(const std::vector<Shape*>& packed, const std::vector<std::size_t>& near, double rm,
                       const BBox& b) {
    constexpr double kStep = 2 * kPi / kCircleSides;
    static const double apothem = std::cos(kStep / 2);
    for (std::size_t j : near) {
        const Shape& o = *packed[j];
        const double R = circle_cast(o).rotated_shape().radius + rm;
        const double inner = R * apothem - (1e-5 + 1e-9 * (R + std::fabs(o.tx()) + std::fabs(o.ty())));
        if (!(inner > 0)) continue;
        // inside the polygon: the nearest edge's normal direction carries it
        // less than the apothem (surely so within `inner` of the centre, and
        // surely not where every direction carries it that far)
        auto inside = [&](double x, double y) {
            const double dx = x - o.tx(), dy = y - o.ty(), d2 = dx * dx + dy * dy;
            if (d2 < inner * inner) return true;
            if (d2 * apothem * apothem >= inner * inner) return false;
            const double th = std::atan2(dy, dx);
            return std::sqrt(d2) * std::cos(th - (std::round(th / kStep - 0.5) + 0.5) * kStep) < inner;
        };
        if (inside(b.minx, b.miny) && inside(b.maxx, b.miny) && inside(b.minx, b.maxy) && inside(b.maxx, b.maxy))
            return true;
    }
    return false;
}

}  // namespace

Contour regular_polygon_at_origin(double r) {
    static const Contour unit = circle_to_polygon({0.0, 0.0}, 1.0, kCircleSides);
    Contour out(unit.size());
    for (std::size_t i = 0; i < unit.size(); ++i) out[i] = {r * unit[i].x, r * unit[i].y};
    return out;
}

BBox in_bin_range(const Shape& mover, double bin_w, double bin_h, double grow) {
    const BBox rb = rotated_bbox(mover);
    const Pt ref = mover.is_polygon() ? top_right(polygon_cast(mover).rotated_contour()) : mover.reference_point_local();
    const double slack = grow + 1e-5 + 1e-9 * (bin_w + bin_h + std::fabs(rb.minx) + std::fabs(rb.maxx) + std::fabs(rb.miny) +
                                               std::fabs(rb.maxy));
    return {ref.x - rb.minx - slack, ref.y - rb.miny - slack, ref.x + bin_w - rb.maxx + slack,
            ref.y + bin_h - rb.maxy + slack};
}

bool cut_window(const Window& w, double d, Pt offset, BBox& b) {
    const double t = grid_margin(w.box);
    b = {std::max(w.box.minx, w.ends.minx + d - t) - offset.x, std::max(w.box.miny, w.ends.miny + d - t) - offset.y,
         std::min(w.box.maxx, w.ends.maxx - d + t) - offset.x, std::min(w.box.maxy, w.ends.maxy - d + t) - offset.y};
    return b.minx <= b.maxx && b.miny <= b.maxy && !(d > w.room + t);
}

bool covered_by_circle_nfps(const std::vector<Shape*>& packed, const std::vector<std::size_t>& near, double rm,
                            const BBox& b, int depth) {
    return covered_by_quarters(b, depth, [&](const BBox& q) { return in_one_circle_nfp(packed, near, rm, q); });
}

void circles_near(const std::vector<Shape*>& packed, const CircleIndex& circles, double rm, const BBox& w, double m,
                  std::vector<std::size_t>& out) {
    out.clear();
    auto it = std::lower_bound(circles.low.begin(), circles.low.end(),
                               std::make_pair(w.miny - m - rm - 2 * circles.max_r, std::size_t{0}));
    for (; it != circles.low.end() && it->first <= w.maxy + m + rm; ++it) {
        const Shape& o = *packed[it->second];
        const double r = circle_cast(o).rotated_shape().radius + rm;
        if (meets({o.tx() - r, o.ty() - r, o.tx() + r, o.ty() + r}, w, m)) out.push_back(it->second);
    }
}

}  // namespace quarvo
