#include "quarvo/candidate_search.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include <unistd.h>

#include "quarvo/cancel.hpp"
#include "quarvo/errors.hpp"
#include "quarvo/minkowski.hpp"
#include "outline_fit.hpp"

namespace quarvo {

namespace {
constexpr double kInf = std::numeric_limits<double>::infinity();
}  // namespace

std::vector<Pt> sample_boundary(const Contour& poly, long long steps) {
    std::vector<Pt> out;
    if (poly.size() < 2 || steps <= 0) return out;
    const std::size_t n = poly.size() - 1;
    // A point costs 16 bytes here and about eight times that once a host
    // holds it as a pair of numbers: refuse what physical memory cannot hold
    // rather than have the process killed for it.
    const long pages = sysconf(_SC_PHYS_PAGES), page = sysconf(_SC_PAGE_SIZE);
    const unsigned long long cap =
        pages > 0 && page > 0 ? static_cast<unsigned long long>(pages) * static_cast<unsigned long long>(page) / 128 : 1ULL << 28;
    if (static_cast<unsigned long long>(steps) > cap / n)
        throw ValueError(std::to_string(n) + " edges sampled " + std::to_string(steps) +
                         " times each make more points than memory holds");
    out.reserve(n * static_cast<std::size_t>(steps));
    const double ds = static_cast<double>(steps);
    for (std::size_t i = 0; i < n; ++i) {
        const Pt a = poly[i], b = poly[i + 1];
        const double dx = b.x - a.x, dy = b.y - a.y;
        for (long long k = 0; k < steps; ++k) {
            if ((out.size() & 0xFFFF) == 0) check_cancel();
            double t = static_cast<double>(k) / ds;
            out.push_back({a.x + dx * t, a.y + dy * t});
        }
    }
    return out;
}

std::vector<Pt> sample_hole_interior(const Contour& poly) {
    std::vector<Pt> out;
    out.push_back(polygon_centroid(poly));
    BBox b = polygon_bbox(poly);
    const double w = b.maxx - b.minx, h = b.maxy - b.miny;
    for (int i = 1; i <= 4; ++i)
        for (int j = 1; j <= 4; ++j) {
            Pt p{b.minx + (w * i) / 5, b.miny + (h * j) / 5};
            if (point_in_convex_polygon(p, poly)) out.push_back(p);
        }
    return out;
}

BBox rotated_bbox(const Shape& item) {
    if (item.is_circle()) {
        double r = circle_cast(item).rotated_shape().radius;
        return {-r, -r, r, r};
    }
    if (!item.is_polygon()) throw NotImplementedError();
    return polygon_bbox(polygon_cast(item).rotated_contour());
}

bool box_can_fit(const Shape& item, double bin_w, double bin_h, double eps) {
    BBox b = rotated_bbox(item);
    double slack_x = 1e-12 * (std::fabs(bin_w) + std::fabs(b.minx) + std::fabs(b.maxx) + 1.0);
    double slack_y = 1e-12 * (std::fabs(bin_h) + std::fabs(b.miny) + std::fabs(b.maxy) + 1.0);
    if (b.maxx - b.minx > bin_w + 2 * eps + slack_x) return false;
    if (b.maxy - b.miny > bin_h + 2 * eps + slack_y) return false;
    return true;
}

namespace {

struct Scorer {
    BBox rb;
    Pt ref;
    double bin_w, bin_h, eps;
    bool center;
    double cx, cy;

    // Translation and score of candidate p; false when its box leaves the bin.
    bool score(Pt p, Pt& t, double& s) const {
        t = {p.x - ref.x, p.y - ref.y};
        double minx = rb.minx + t.x, maxx = rb.maxx + t.x;
        double miny = rb.miny + t.y, maxy = rb.maxy + t.y;
        if (minx < -eps || miny < -eps || maxx > bin_w + eps || maxy > bin_h + eps) return false;
        if (center) {
            double icx = (minx + maxx) / 2.0, icy = (miny + maxy) / 2.0;
            double dx = icx - cx, dy = icy - cy;
            s = dx * dx + dy * dy;
        } else {
            s = miny * (bin_w + 1.0) + minx;
        }
        return true;
    }

    // True when no sample of the edge a-b can pass the bin test with a score
    // below `best`: every sample's box leaves the bin, or a lower bound of the
    // score over the edge's box exceeds `best`, in both cases by far more than
    // any rounding of the samples, so skipping the edge never changes the result.
    bool edge_cannot_beat(Pt a, Pt b, double best) const {
        const double lox = std::min(a.x, b.x), hix = std::max(a.x, b.x);
        const double loy = std::min(a.y, b.y), hiy = std::max(a.y, b.y);
        const double mx = std::fabs(rb.minx) + std::fabs(rb.maxx) + std::fabs(ref.x) + std::fabs(lox) + std::fabs(hix) +
                          std::fabs(bin_w) + std::fabs(cx) + 1.0;
        const double my = std::fabs(rb.miny) + std::fabs(rb.maxy) + std::fabs(ref.y) + std::fabs(loy) + std::fabs(hiy) +
                          std::fabs(bin_h) + std::fabs(cy) + 1.0;
        const double sx = 1e-9 * mx, sy = 1e-9 * my;
        if (rb.minx + (hix - ref.x) < -eps - sx || rb.maxx + (lox - ref.x) > bin_w + eps + sx) return true;
        if (rb.miny + (hiy - ref.y) < -eps - sy || rb.maxy + (loy - ref.y) > bin_h + eps + sy) return true;
        if (!(best < std::numeric_limits<double>::infinity())) return false;
        double lb, mag;
        if (center) {
            const double hx = (rb.minx + rb.maxx) / 2.0 - ref.x, hy = (rb.miny + rb.maxy) / 2.0 - ref.y;
            const double x0 = lox + hx - cx, x1 = hix + hx - cx, y0 = loy + hy - cy, y1 = hiy + hy - cy;
            const double gx = x0 > 0 ? x0 : (x1 < 0 ? -x1 : 0.0), gy = y0 > 0 ? y0 : (y1 < 0 ? -y1 : 0.0);
            lb = gx * gx + gy * gy;
            mag = mx * mx + my * my;
        } else {
            const double w1 = bin_w + 1.0;
            if (!(w1 > 0)) return false;
            // a sample that passes has its box's lower-left corner at -eps or beyond
            const double miny = std::max(rb.miny + (loy - ref.y), -eps);
            const double minx = std::max(rb.minx + (lox - ref.x), -eps);
            lb = miny * w1 + minx;
            mag = my * w1 + mx;
        }
        const double slack = 1e-9 * (mag + std::fabs(best));
        return lb - slack > best;
    }
};

Scorer make_scorer(const Shape& item, double bin_w, double bin_h, double eps, Placement placement) {
    Pt ref = item.is_polygon() ? top_right(polygon_cast(item).rotated_contour()) : item.reference_point_local();
    Scorer sc{rotated_bbox(item), ref, bin_w, bin_h, eps, placement == Placement::Center, 0.0, 0.0};
    if (sc.center) { sc.cx = bin_w / 2.0; sc.cy = bin_h / 2.0; }
    return sc;
}

}  // namespace

BoxBound::BoxBound(const Shape& item, double bin_w, double bin_h, double eps, Placement placement)
    : bin_w_(bin_w), bin_h_(bin_h), eps_(eps), placement_(placement) {
    const Scorer sc = make_scorer(item, bin_w, bin_h, eps, placement);
    rb_ = sc.rb;
    ref_ = sc.ref;
}

bool BoxBound::cannot_beat(const BBox& box, double best) const {
    Scorer sc{rb_, ref_, bin_w_, bin_h_, eps_, placement_ == Placement::Center, 0.0, 0.0};
    if (sc.center) { sc.cx = bin_w_ / 2.0; sc.cy = bin_h_ / 2.0; }
    return sc.edge_cannot_beat({box.minx, box.miny}, {box.maxx, box.maxy}, best);
}

SearchResult search_best_position(const std::vector<Contour>& contours, const std::vector<Contour>& hole_nfps,
                                  const Shape& item, double bin_w, double bin_h, long long steps, double eps,
                                  Placement placement, const HoleFilter* hole_filter,
                                  const std::vector<HoleRegion>* hole_regions, std::vector<Candidate>* passed,
                                  const BBox* window) {
    const Scorer sc = make_scorer(item, bin_w, bin_h, eps, placement);
    SearchResult best;
    best.score = kInf;
    Pt t;
    double s;
    unsigned long long seen = 0;  // candidates so far: Ctrl-C is looked at every 65536
    // Boundary samples, generated in candidate order without building the list;
    // those of a hole region pass the hole filter as well.
    auto sample_edges = [&](const Contour& poly, const std::size_t* hole, const BBox* win) {
        if (steps <= 0 || poly.size() < 2) return;
        const double ds = static_cast<double>(steps);
        const std::size_t n = poly.size() - 1;
        for (std::size_t i = 0; i < n; ++i) {
            const Pt a = poly[i], b = poly[i + 1];
            if (win && (std::max(a.x, b.x) < win->minx || std::min(a.x, b.x) > win->maxx ||
                        std::max(a.y, b.y) < win->miny || std::min(a.y, b.y) > win->maxy))
                continue;
            if (sc.edge_cannot_beat(a, b, passed ? kInf : best.score)) continue;
            const double dx = b.x - a.x, dy = b.y - a.y;
            for (long long k = 0; k < steps; ++k) {
                if ((++seen & 0xFFFF) == 0) check_cancel();
                double tt = static_cast<double>(k) / ds;
                Pt p{a.x + dx * tt, a.y + dy * tt};
                if (win && (p.x < win->minx || p.x > win->maxx || p.y < win->miny || p.y > win->maxy)) continue;
                if (!sc.score(p, t, s) || (!passed && !(s < best.score))) continue;
                if (hole && hole_filter && !(*hole_filter)(*hole, p, t)) continue;
                if (passed) passed->push_back({s, t});
                if (s < best.score) {
                    best.score = s;
                    best.pos = t;
                    best.found = true;
                }
            }
        }
    };
    for (const Contour& poly : contours) sample_edges(poly, nullptr, window);
    for (std::size_t h = 0; h < hole_nfps.size(); ++h) {
        for (const Pt& p : sample_hole_interior(hole_nfps[h])) {
            if (!sc.score(p, t, s) || (!passed && !(s < best.score))) continue;
            if (hole_filter && !(*hole_filter)(h, p, t)) continue;
            if (passed) passed->push_back({s, t});
            if (s < best.score) {
                best.score = s;
                best.pos = t;
                best.found = true;
            }
        }
    }
    if (hole_regions)
        for (const HoleRegion& r : *hole_regions) sample_edges(r.contour, &r.hole, nullptr);
    return best;
}

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

bool lies_in_room(const Shape& item, Pt t, const Contour& room, bool exact, const std::function<void()>& stop,
                  double slack) {
    // A convex room holds an outline whose vertices it holds; any other room is
    // judged on the outlines (as is a slack).
    const bool by_vertices = slack == 0.0 && is_convex(room) && turns_once(room);
    if (item.is_circle()) {
        double r = circle_cast(item).rotated_shape().radius;
        if (!exact) {
            const Contour gon = circle_to_polygon({t.x, t.y}, r, 64);
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
        if (!c.is_polygon() || !polygon_cast(c).is_container()) continue;
        for (const Contour& hole : polygon_cast(c).transformed_holes()) {
            Contour room;
            bool usable;
            if (nonconvex && !(is_convex(hole) && turns_once(hole))) {
                // a mitred offset never turns inside out: what is left of the hole is its parts
                Region parts = std::fabs(c.infl()) < 1e-12 ? Region{hole} : mitred_offset(hole, -c.infl());
                if (!parts.empty()) room = ensure_winding(parts.front(), false);
                usable = room.size() >= 4 && polygon_area(room) > 0;
            } else {
                room = offset_convex(hole, c.infl());
                usable = room.size() >= 4 && polygon_area(room) > 0 && keeps_its_edges(hole, room, c.infl());
            }
            rooms.push_back({ci, std::move(room), usable, {}});
        }
    }
    if (!nesting) return rooms;
    const std::function<void()> none = [] {};
    for (HoleRoom& r : rooms)
        for (const HoleRoom& q : rooms)
            if (q.usable && q.container != r.container &&
                (r.around.empty() || r.around.back() != q.container)) {
                const Shape& c = *packed[r.container];
                if (lies_in_room(c, {c.tx(), c.ty()}, q.room, false, none)) r.around.push_back(q.container);
            }
    return rooms;
}

bool RoomFilter::operator()(std::size_t h, Pt p, Pt t) const {
    const HoleRoom& room = rooms[room_of_hole[h]];
    // An inner-fit contour lies in its room up to rounding, but its union can
    // leave slivers where the item has no room at all: it is judged too, with
    // the grid as slack.
    if (!room.usable || !lies_in_room(mover, t, room.room, exact, stop, h < fitted_from ? 0.0 : 1e-6)) return false;
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
        if (r.container == j && r.usable && lies_in_room(mover, t, r.room, exact, stop)) return true;
    return false;
}

}  // namespace quarvo
