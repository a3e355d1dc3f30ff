#include "nfp/inner_fit.hpp"

#include <algorithm>
#include <cmath>

#include "quarvo/errors.hpp"

namespace quarvo {

namespace {

// The part of convex polygon `poly` (closed) where n . p <= c.
Contour clip_half_plane(const Contour& poly, Pt n, double c) {
    Contour out;
    if (poly.size() < 4) return out;
    const std::size_t m = poly.size() - 1;
    for (std::size_t i = 0; i < m; ++i) {
        const Pt a = poly[i], b = poly[i + 1];
        const double da = n.x * a.x + n.y * a.y - c, db = n.x * b.x + n.y * b.y - c;
        if (da <= 0) out.push_back(a);
        if ((da < 0 && db > 0) || (da > 0 && db < 0)) {
            const double s = da / (da - db);
            out.push_back({a.x + (b.x - a.x) * s, a.y + (b.y - a.y) * s});
        }
    }
    if (out.size() < 3) return {};
    out.push_back(out.front());
    return out;
}

}  // namespace

std::vector<Contour> inner_fit_region(const Contour& room, const Shape& item, bool* handled) {
    if (handled) *handled = true;
    if (room.size() < 4 || !(polygon_area(room) > 0)) return {};
    if (!is_convex(room) || hides_reflex_corner(room)) {
        if (handled) *handled = false;
        return {};
    }
    // The item relative to its reference point; a circle is its radius.
    Contour rel;
    double radius = 0.0;
    if (item.is_circle()) {
        radius = circle_cast(item).rotated_shape().radius;
    } else if (item.is_polygon()) {
        const Contour& own = polygon_cast(item).rotated_contour();
        const Pt ref = top_right(own);
        for (const Pt& v : own) rel.push_back(vsub(v, ref));
    } else {
        throw NotImplementedError();
    }
    // Each room edge, moved inward by how far the item reaches across it,
    // bounds the region: with outward normal n, n . p <= n . a - reach.
    Contour region = room;
    const std::size_t m = room.size() - 1;
    for (std::size_t i = 0; i < m && !region.empty(); ++i) {
        const Pt a = room[i], b = room[i + 1];
        const double dx = b.x - a.x, dy = b.y - a.y, len = hypot_cr(dx, dy);
        if (len < 1e-12) continue;
        const Pt n{dy / len, -dx / len};
        double reach = radius;
        for (const Pt& w : rel) reach = std::max(reach, n.x * w.x + n.y * w.y);
        region = clip_half_plane(region, n, n.x * a.x + n.y * a.y - reach);
    }
    if (region.empty() || !(polygon_area(region) > 0)) return {};
    return {region};
}

}  // namespace quarvo
