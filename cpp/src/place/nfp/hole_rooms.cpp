#include "place/nfp/hole_rooms.hpp"

#include <algorithm>
#include <cmath>

#include "geometry/outline_offset.hpp"
#include "geometry/outline_fit.hpp"
#include "quarvo/constants.hpp"

namespace quarvo {

namespace {

// Whether a hole moved inward still faces the way it did: every moved edge
// points along its hole edge. A hole moved past its own width turns inside
// out, and its area is positive again. Edges below 1e-12 are skipped as the
// offset skips them; the offset's vertex i lies between moved edges i and i+1.
bool keeps_its_edges(const Contour& hole, const Contour& room, double dist) {
    if (std::fabs(dist) < 1e-12 || hole.size() < 4) return true;  // the offset left the hole as it was
    std::vector<Pt> dirs;
    for (std::size_t i = 0; i + 1 < hole.size(); ++i) {
        const Pt d = vsub(hole[i + 1], hole[i]);
        if (hypot_cr(d.x, d.y) >= 1e-12) dirs.push_back(d);
    }
    if (dirs.size() < 3) return true;
    const std::size_t m = dirs.size();
    if (room.size() != m + 1) return false;
    for (std::size_t k = 0; k < m; ++k) {
        const Pt moved = vsub(room[k], room[(k + m - 1) % m]);
        if (!(moved.x * dirs[k].x + moved.y * dirs[k].y > 0)) return false;
    }
    return true;
}

}  // namespace

namespace {

// Every point of the item at translation t within `reach` of the centre.
bool lies_in_disc(const Shape& item, Pt t, Pt center, double reach) {
    if (item.is_circle())
        return hypot_cr(t.x - center.x, t.y - center.y) + circle_cast(item).rotated_shape().radius <= reach;
    for (const Pt& v : polygon_cast(item).rotated_contour())
        if (!(hypot_cr((v.x + t.x) - center.x, (v.y + t.y) - center.y) <= reach)) return false;
    return true;
}

}  // namespace

bool lies_in_room(const Shape& item, Pt t, const HoleRoom& hole_room, bool exact, const std::function<void()>& stop,
                  double slack) {
    if (hole_room.disc) return lies_in_disc(item, t, hole_room.center, hole_room.radius + slack);
    const Contour& room = hole_room.room;
    // A convex room holds an outline whose vertices it holds; any other room is
    // judged on the outlines (as is a slack).
    const bool by_vertices = slack == 0.0 && convex_ring(room);
    if (item.is_circle()) {
        double r = circle_cast(item).rotated_shape().radius;
        if (!exact) {
            const Contour gon = circle_to_polygon({t.x, t.y}, r, kCircleSides);
            if (!by_vertices) return polygon_in_room(gon, room, slack, stop);
            for (const Pt& v : gon)
                if (!point_in_polygon(v, room)) return false;
            return true;
        }
        // The true circle: its centre inside, and no edge nearer than r.
        if (!point_in_polygon(t, room)) return false;
        for (std::size_t i = 0; i + 1 < room.size(); ++i) {
            const Pt a = room[i], d = vsub(room[i + 1], a), w = vsub(t, a);
            const double dd = d.x * d.x + d.y * d.y;
            const double u = dd > 0 ? std::min(1.0, std::max(0.0, (w.x * d.x + w.y * d.y) / dd)) : 0.0;
            if (hypot_cr(w.x - u * d.x, w.y - u * d.y) < r - slack) return false;
        }
        return true;
    }
    const Contour& own = polygon_cast(item).rotated_contour();
    if (!by_vertices) {
        Contour world;
        world.reserve(own.size());
        for (const Pt& v : own) world.push_back({v.x + t.x, v.y + t.y});
        return polygon_in_room(world, room, slack, stop);
    }
    for (std::size_t i = 0; i < own.size(); ++i) {
        if (i % 256 == 255) stop();  // each test walks the whole room
        if (!point_in_polygon({own[i].x + t.x, own[i].y + t.y}, room)) return false;
    }
    return true;
}

std::vector<HoleRoom> hole_rooms(const std::vector<Shape*>& packed, bool nesting, bool nonconvex) {
    std::vector<HoleRoom> rooms;
    for (std::size_t ci = 0; ci < packed.size(); ++ci) {
        const Shape& c = *packed[ci];
        if (c.is_pipe() && pipe_cast(c).has_bore()) {
            const Pipe& p = pipe_cast(c);
            HoleRoom r{ci, {}, false, {}, true, {p.tx(), p.ty()}, p.bore() - p.infl()};
            r.usable = r.radius > 0.0;
            if (r.usable) r.room = p.world_bore(p.infl());
            rooms.push_back(std::move(r));
            continue;
        }
        if (!c.is_polygon() || !polygon_cast(c).is_container()) continue;
        for (const Contour& hole : polygon_cast(c).transformed_holes()) {
            Contour room;
            bool usable;
            if (nonconvex && !convex_ring(hole)) {
                // a mitred offset never turns inside out: what is left of the hole is its parts
                Region parts = std::fabs(c.infl()) < 1e-12 ? Region{hole} : mitred_outline_offset(hole, -c.infl());
                if (!parts.empty()) room = ensure_winding(parts.front(), false);
                usable = room.size() >= 4 && polygon_area(room) > 0;
            } else {
                room = offset_outline(hole, c.infl());
                usable = room.size() >= 4 && polygon_area(room) > 0 && keeps_its_edges(hole, room, c.infl());
            }
            rooms.push_back({ci, std::move(room), usable, {}, false, {}, 0.0});
        }
    }
    if (!nesting) return rooms;
    const std::function<void()> none = [] {};
    for (HoleRoom& r : rooms)
        for (const HoleRoom& q : rooms)
            if (q.usable && q.container != r.container &&
                (r.around.empty() || r.around.back() != q.container)) {
                const Shape& c = *packed[r.container];
                // a container placed in a bore touches it up to rounding: allow for that
                const bool in = q.disc ? lies_in_disc(c, {c.tx(), c.ty()}, q.center, q.radius * (1.0 + 1e-12) + 1e-9)
                                       : lies_in_room(c, {c.tx(), c.ty()}, q, false, none);
                if (in) r.around.push_back(q.container);
            }
    return rooms;
}

bool RoomFilter::operator()(std::size_t h, Pt p, Pt t) const {
    const HoleRoom& room = rooms[room_of_hole[h]];
    // An inner-fit contour lies in its room up to rounding, but its union can
    // leave slivers where the item has no room at all: it is judged too, with
    // the grid as slack.
    if (!room.usable || !lies_in_room(mover, t, room, exact, stop, h < fitted_from ? 0.0 : 1e-6)) return false;
    for (std::size_t j = 0; j < packed.size(); ++j) {
        if (j == room.container) continue;
        const std::vector<Contour>& local = local_nfp_of(j);
        if (local.empty()) continue;
        const double ax = packed[j]->tx(), ay = packed[j]->ty();
        // Adding a translation keeps the order of coordinates, so the world
        // box is the local box moved: test it before building the contour.
        BBox lb = polygon_bbox(local.front());
        if (p.x < lb.minx + ax || p.x > lb.maxx + ax || p.y < lb.miny + ay || p.y > lb.maxy + ay) continue;
        // Inside the outer contour and in none of its holes (the cavities).
        bool inside = false;
        for (std::size_t k = 0; k < local.size(); ++k) {
            Contour world;
            world.reserve(local[k].size());
            for (const Pt& q : local[k]) world.push_back({q.x + ax, q.y + ay});
            const bool in = point_in_polygon(p, world);
            if (k == 0 && !in) break;
            if (k == 0) inside = true;
            else if (in) { inside = false; break; }
        }
        if (inside && !in_a_room_of(j, t)) return false;
    }
    return true;
}

bool RoomFilter::in_a_room_of(std::size_t j, Pt t) const {
    for (const HoleRoom& r : rooms)
        if (r.container == j && r.usable && lies_in_room(mover, t, r, exact, stop)) return true;
    return false;
}

}  // namespace quarvo
