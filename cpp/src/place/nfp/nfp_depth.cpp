#include "place/nfp/nfp_depth.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

#include "nfp/nfp_cache.hpp"
#include "place/nfp/candidate_search.hpp"
#include "quarvo/constants.hpp"
#include "quarvo/placer_nfp.hpp"

namespace quarvo {

namespace {

double outline_distance(Pt p, const Contour& c) {
    double d2 = std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i + 1 < c.size(); ++i) {
        const Pt a = c[i], e = vsub(c[i + 1], a), w = vsub(p, a);
        const double ee = e.x * e.x + e.y * e.y;
        const double u = ee > 0 ? std::min(1.0, std::max(0.0, (w.x * e.x + w.y * e.y) / ee)) : 0.0;
        const double dx = w.x - u * e.x, dy = w.y - u * e.y;
        d2 = std::min(d2, dx * dx + dy * dy);
    }
    return std::sqrt(d2);
}

}  // namespace

bool deeper_than_tolerance(const std::vector<Shape*>& packed, const Shape& mover, Pt t,
                           const std::vector<HoleRoom>& rooms,
                           const std::function<const Region&(std::size_t)>& local_of, bool exact,
                           const std::function<void()>& stop) {
    const BBox mb = rotated_bbox(mover);
    const Pt mref = mover.is_polygon() ? top_right(polygon_cast(mover).rotated_contour()) : mover.reference_point_local();
    const Pt p{t.x + mref.x, t.y + mref.y};
    for (std::size_t j = 0; j < packed.size(); ++j) {
        if (j % 256 == 255) stop();
        const Shape& o = *packed[j];
        const BBox ob = rotated_bbox(o);
        const double limit = engine_tolerance(std::max({std::fabs(p.x), std::fabs(p.y), std::fabs(o.tx()), std::fabs(o.ty())}));
        // The NFP lies where the boxes overlap; circumscribed circles reach 0.12 % beyond theirs.
        const double grow = 0.002 * ((ob.maxx - ob.minx) + (ob.maxy - ob.miny) + (mb.maxx - mb.minx) + (mb.maxy - mb.miny)) + limit;
        if (p.x < ob.minx + o.tx() - (mb.maxx - mref.x) - grow || p.x > ob.maxx + o.tx() - (mb.minx - mref.x) + grow ||
            p.y < ob.miny + o.ty() - (mb.maxy - mref.y) - grow || p.y > ob.maxy + o.ty() - (mb.miny - mref.y) + grow)
            continue;
        const Region& local = local_of(j);
        if (local.empty()) continue;
        const Pt q{p.x - o.tx(), p.y - o.ty()};
        if (!point_in_polygon(q, local[0])) continue;
        double depth = outline_distance(q, local[0]);
        bool in_cavity = false;
        for (std::size_t k = 1; k < local.size() && !in_cavity; ++k) {
            in_cavity = point_in_polygon(q, local[k]);
            depth = std::min(depth, outline_distance(q, local[k]));
        }
        if (in_cavity || depth <= limit) continue;
        bool in_room = false;
        for (const HoleRoom& r : rooms)
            if (r.container == j && r.usable && lies_in_room(mover, t, r, exact, stop, limit)) {
                in_room = true;
                break;
            }
        if (!in_room) return true;
    }
    return false;
}

bool beyond_tolerance(const std::vector<Shape*>& placed, Shape& item, bool exact) {
    std::vector<std::shared_ptr<const Region>> locals(placed.size());
    const std::function<void()> none = [] {};
    return deeper_than_tolerance(
        placed, item, {item.tx(), item.ty()}, hole_rooms(placed, false, true),
        [&](std::size_t j) -> const Region& {
            if (!locals[j]) locals[j] = local_nfp(*placed[j], item, exact, true);
            return *locals[j];
        },
        exact, none);
}

}  // namespace quarvo
