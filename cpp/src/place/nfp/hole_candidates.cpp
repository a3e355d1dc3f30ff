#include "place/nfp/hole_candidates.hpp"

#include <algorithm>
#include <cmath>

#include "geometry/minkowski.hpp"
#include "nfp/inner_fit.hpp"
#include "nfp/nfp.hpp"
#include "nfp/union_paths.hpp"
#include "place/nfp/candidate_search.hpp"

namespace quarvo {

namespace {

// The inner-fit contours of a room that is not convex, or for a non-convex mover.
void fitted_room(const HoleRoom& room, std::size_t r, const Shape& mover, bool exact, HoleCandidates& out) {
    for (Contour& c : hole_inner_fit(room.room, item_contour(mover, exact), item_reference(mover))) {
        out.fitted.push_back(std::move(c));
        out.fitted_rooms.push_back(r);
    }
}

// Every usable room searched like a small bin: the boundary of the free part
// of the mover's inner-fit region, the region less the NFPs of the items in
// or across the room (its container and the containers around it excepted),
// kept three grid units clear of both.
void dense_room(const std::vector<Shape*>& packed, const LocalRegionOf& local_of, const HoleRoom& room, std::size_t r,
                const std::vector<Contour>& fit, const std::function<void()>& stop, HoleCandidates& out) {
    if (fit.empty()) return;
    BBox fb = polygon_bbox(fit.front());
    for (const Contour& f : fit) {
        const BBox b = polygon_bbox(f);
        fb = {std::min(fb.minx, b.minx), std::min(fb.miny, b.miny), std::max(fb.maxx, b.maxx), std::max(fb.maxy, b.maxy)};
    }
    ClipperLib::Paths obstacles;
    for (std::size_t j = 0; j < packed.size(); ++j) {
        if (j % 256 == 255) stop();
        if (j == room.container || std::find(room.around.begin(), room.around.end(), j) != room.around.end()) continue;
        const Region& local = local_of(j);
        const double ax = packed[j]->tx(), ay = packed[j]->ty();
        const BBox lb = polygon_bbox(local.front());
        if (lb.minx + ax > fb.maxx || lb.maxx + ax < fb.minx || lb.miny + ay > fb.maxy || lb.maxy + ay < fb.miny)
            continue;
        add_world_paths(local, ax, ay, obstacles);
    }
    for (Contour& c : free_part(fit, obstacles, 3.0)) {
        out.dense.push_back(std::move(c));
        out.dense_rooms.push_back(r);
    }
}

// A circle's inner-fit region in a bore is the disc its centre may take:
// the room's radius less the circle's, as its inscribed kCircleSides-gon.
std::vector<Contour> disc_inner_fit(const HoleRoom& room, const Shape& mover) {
    const double reach = room.radius - circle_cast(mover).rotated_shape().radius;
    if (!(reach > 0.0)) return {};
    Contour c = circle_to_polygon(room.center, reach, kCircleSides);
    std::reverse(c.begin(), c.end());
    return {c};
}

// Whether the mover's box is wider or taller than the room's: it cannot lie
// in the room, so the room offers it no candidate (skipping it changes nothing).
bool too_big_for(const Shape& mover, const Contour& room) {
    const BBox m = rotated_bbox(mover), r = polygon_bbox(room);
    const double slack =
        1e-9 * (1.0 + std::max({std::fabs(r.minx), std::fabs(r.maxx), std::fabs(r.miny), std::fabs(r.maxy)}));
    return m.maxx - m.minx > (r.maxx - r.minx) + slack || m.maxy - m.miny > (r.maxy - r.miny) + slack;
}

}  // namespace

HoleCandidates hole_candidates(const std::vector<Shape*>& packed, const Shape& mover,
                               const std::vector<HoleRoom>& rooms, HoleSearch how, const LocalRegionOf& local_of,
                               const std::function<void()>& stop) {
    HoleCandidates out;
    std::size_t r = 0;  // rooms are listed in placement and hole order
    for (std::size_t j = 0; j < packed.size(); ++j) {
        if (j % 256 == 255) stop();
        const Shape& o = *packed[j];
        if (!is_container(o)) continue;
        const std::vector<Contour> holes = world_holes(o);
        for (std::size_t k = 0; k < holes.size(); ++k, ++r) {
            const HoleRoom& room = rooms[r];
            if (how.nonconvex && room.usable && too_big_for(mover, room.room)) continue;
            if (how.nonconvex && hole_needs_inner_fit(holes[k], mover)) {
                if (!room.usable) continue;
                stop();
                fitted_room(room, r, mover, how.exact, out);
                continue;
            }
            if (how.dense && room.usable) {
                stop();
                bool handled = true;
                const std::vector<Contour> fit =
                    room.disc && mover.is_circle() ? disc_inner_fit(room, mover) : inner_fit_region(room.room, mover, &handled);
                if (handled) {
                    dense_room(packed, local_of, room, r, fit, stop, out);
                    continue;
                }
            }
            out.nfps.push_back(hole_nfp(holes[k], mover));
            out.nfp_rooms.push_back(r);
        }
    }
    return out;
}

}  // namespace quarvo
