#include "place/nfp/candidate_search.hpp"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <string>

#include <unistd.h>

#include "quarvo/cancel.hpp"
#include "quarvo/constants.hpp"
#include "quarvo/errors.hpp"

namespace quarvo {

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

bool box_can_fit(const Shape& item, double bin_w, double bin_h, double eps, double inset) {
    BBox b = rotated_bbox(item);
    if (inset > 0.0) {
        bin_w -= 2 * inset;
        bin_h -= 2 * inset;
    }
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
    // The box's room: [room_lo, room_x1] x [room_lo, room_y1], the bin less the inset.
    double room_lo = 0.0, room_x1 = 0.0, room_y1 = 0.0;

    void set_inset(double inset) {
        room_lo = inset > 0.0 ? inset : 0.0;
        room_x1 = inset > 0.0 ? bin_w - inset : bin_w;
        room_y1 = inset > 0.0 ? bin_h - inset : bin_h;
    }

    // Translation and score of candidate p; false when its box leaves the room.
    bool score(Pt p, Pt& t, double& s) const {
        t = {p.x - ref.x, p.y - ref.y};
        double minx = rb.minx + t.x, maxx = rb.maxx + t.x;
        double miny = rb.miny + t.y, maxy = rb.maxy + t.y;
        if (room_lo > 0.0) {
            if (minx < room_lo - eps || miny < room_lo - eps || maxx > room_x1 + eps || maxy > room_y1 + eps)
                return false;
        } else if (minx < -eps || miny < -eps || maxx > bin_w + eps || maxy > bin_h + eps) {
            return false;
        }
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
        double mx, my;
        if (edge_outside(a, b, mx, my)) return true;
        if (!(best < kInf)) return false;
        double lb, mag;
        if (!edge_bound(a, b, mx, my, lb, mag)) return false;
        const double slack = 1e-9 * (mag + std::fabs(best));
        return lb - slack > best;
    }

    // A floor under the score of every sample of the edge that passes the bin
    // test: +inf when none passes, -inf when no bound is known.
    double edge_floor(Pt a, Pt b) const {
        double mx, my, lb, mag;
        if (edge_outside(a, b, mx, my)) return kInf;
        if (!edge_bound(a, b, mx, my, lb, mag)) return -kInf;
        return lb - 1e-9 * (mag + std::fabs(lb));
    }

    // Whether every sample's box leaves the bin by far more than rounding;
    // the magnitudes of the numbers of each axis.
    bool edge_outside(Pt a, Pt b, double& mx, double& my) const {
        const double lox = std::min(a.x, b.x), hix = std::max(a.x, b.x);
        const double loy = std::min(a.y, b.y), hiy = std::max(a.y, b.y);
        mx = std::fabs(rb.minx) + std::fabs(rb.maxx) + std::fabs(ref.x) + std::fabs(lox) + std::fabs(hix) +
             std::fabs(bin_w) + std::fabs(cx) + 1.0;
        my = std::fabs(rb.miny) + std::fabs(rb.maxy) + std::fabs(ref.y) + std::fabs(loy) + std::fabs(hiy) +
             std::fabs(bin_h) + std::fabs(cy) + 1.0;
        const double sx = 1e-9 * mx, sy = 1e-9 * my;
        // the room's edges (the bin's when there is no inset)
        const double left = room_left(), right = room_lo > 0.0 ? room_x1 + eps : bin_w + eps;
        const double top = room_lo > 0.0 ? room_y1 + eps : bin_h + eps;
        if (rb.minx + (hix - ref.x) < left - sx || rb.maxx + (lox - ref.x) > right + sx) return true;
        return rb.miny + (hiy - ref.y) < left - sy || rb.maxy + (loy - ref.y) > top + sy;
    }

    // The room's lower and left edge less eps.
    double room_left() const { return room_lo > 0.0 ? room_lo - eps : -eps; }

    // A lower bound of the score over the edge's box and the magnitude of
    // what it is computed from; false when there is none.
    bool edge_bound(Pt a, Pt b, double mx, double my, double& lb, double& mag) const {
        const double lox = std::min(a.x, b.x), hix = std::max(a.x, b.x);
        const double loy = std::min(a.y, b.y), hiy = std::max(a.y, b.y);
        if (center) {
            const double hx = (rb.minx + rb.maxx) / 2.0 - ref.x, hy = (rb.miny + rb.maxy) / 2.0 - ref.y;
            const double x0 = lox + hx - cx, x1 = hix + hx - cx, y0 = loy + hy - cy, y1 = hiy + hy - cy;
            const double gx = x0 > 0 ? x0 : (x1 < 0 ? -x1 : 0.0), gy = y0 > 0 ? y0 : (y1 < 0 ? -y1 : 0.0);
            lb = gx * gx + gy * gy;
            mag = mx * mx + my * my;
        } else {
            const double w1 = bin_w + 1.0;
            if (!(w1 > 0)) return false;
            // a sample that passes has its box's lower-left corner at the room's corner (less eps) or beyond
            const double left = room_left();
            const double miny = std::max(rb.miny + (loy - ref.y), left);
            const double minx = std::max(rb.minx + (lox - ref.x), left);
            lb = miny * w1 + minx;
            mag = my * w1 + mx;
        }
        return true;
    }
};

Scorer make_scorer(const Shape& item, double bin_w, double bin_h, double eps, Placement placement,
                   double inset = 0.0) {
    Pt ref = item.is_polygon() ? top_right(polygon_cast(item).rotated_contour()) : item.reference_point_local();
    Scorer sc{rotated_bbox(item), ref, bin_w, bin_h, eps, placement == Placement::Center, 0.0, 0.0};
    if (sc.center) { sc.cx = bin_w / 2.0; sc.cy = bin_h / 2.0; }
    sc.set_inset(inset);
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
    sc.set_inset(0.0);
    return sc.edge_cannot_beat({box.minx, box.miny}, {box.maxx, box.maxy}, best);
}

namespace {

// Where the edge a-b crosses the reference-point lines that put the item's
// box on the floor or against a wall: places where it meets a support exactly.
std::size_t support_crossings(const Scorer& sc, double bin_w, Pt a, Pt b, Pt out[3]) {
    // with an edge margin the supports are the room's edges
    const double lo = sc.room_lo, hi = lo > 0.0 ? sc.room_x1 : bin_w;
    const double floor_y = (lo - sc.rb.miny) + sc.ref.y, left_x = (lo - sc.rb.minx) + sc.ref.x;
    const double right_x = (hi - sc.rb.maxx) + sc.ref.x;
    std::size_t n = 0;
    if ((a.y < floor_y) != (b.y < floor_y)) out[n++] = {a.x + (floor_y - a.y) * (b.x - a.x) / (b.y - a.y), floor_y};
    for (double x : {left_x, right_x})
        if ((a.x < x) != (b.x < x)) out[n++] = {x, a.y + (x - a.x) * (b.y - a.y) / (b.x - a.x)};
    return n;
}

bool outside_window(Pt a, Pt b, const BBox* win) {
    return win && (std::max(a.x, b.x) < win->minx || std::min(a.x, b.x) > win->maxx || std::max(a.y, b.y) < win->miny ||
                   std::min(a.y, b.y) > win->maxy);
}

bool outside_window(Pt p, const BBox* win) {
    return win && (p.x < win->minx || p.x > win->maxx || p.y < win->miny || p.y > win->maxy);
}

// The search with a filter of the best: the same candidates in the same order,
// but the filters (hole, then best) are asked in score order, and only until
// one passes. Edges are opened in the order of the floor under their scores,
// and a candidate is asked once no edge still closed can hold a better one;
// scanned in their own order, every candidate better than all before it would
// be asked, and every edge sampled.
SearchResult search_gathered(const PositionSearch& q, const Scorer& sc) {
    struct Unit {
        double floor;
        std::size_t order;  // candidate order: ties go to the earlier unit
        const Contour* poly;
        std::size_t edge;
        const std::size_t* hole;
        bool crossings;
        bool operator>(const Unit& o) const { return floor > o.floor || (floor == o.floor && order > o.order); }
    };
    struct Pending {
        double score;
        std::size_t order;
        long long k;
        Pt p, t;
        std::size_t hole;
        bool in_hole;
        bool operator>(const Pending& o) const {
            if (score != o.score) return score > o.score;
            return order > o.order || (order == o.order && k > o.k);
        }
    };
    const long long steps = q.steps;
    std::vector<Unit> units;
    std::vector<Pending> pending;
    std::size_t order = 0;
    auto add_edges = [&](const Contour& poly, const std::size_t* hole, const BBox* win, bool crossings) {
        if (steps <= 0 || poly.size() < 2) return;
        for (std::size_t i = 0; i + 1 < poly.size(); ++i, ++order) {
            if (outside_window(poly[i], poly[i + 1], win)) continue;
            const double floor = sc.edge_floor(poly[i], poly[i + 1]);
            if (floor < kInf) units.push_back({floor, order, &poly, i, hole, crossings});
        }
    };
    auto add = [&](Pt p, std::size_t unit, long long k, const std::size_t* hole) {
        Pt t;
        double s;
        if (sc.score(p, t, s)) {
            pending.push_back({s, unit, k, p, t, hole ? *hole : 0, hole != nullptr});
            std::push_heap(pending.begin(), pending.end(), std::greater<Pending>());
        }
    };
    for (const Contour& poly : q.contours) add_edges(poly, nullptr, q.window, q.support_points);
    for (std::size_t h = 0; h < q.hole_nfps.size(); ++h, ++order) {
        long long k = 0;
        for (const Pt& p : sample_hole_interior(q.hole_nfps[h])) add(p, order, k++, &h);
        if (q.support_points)
            for (std::size_t v = 0; v + 1 < q.hole_nfps[h].size(); ++v) add(q.hole_nfps[h][v], order, k++, &h);
    }
    if (q.hole_regions)
        for (const HoleRegion& r : *q.hole_regions) add_edges(r.contour, &r.hole, nullptr, false);
    std::make_heap(units.begin(), units.end(), std::greater<Unit>());

    SearchResult best;
    best.score = kInf;
    unsigned long long asked = 0;
    while (!pending.empty() || !units.empty()) {
        const double next = units.empty() ? kInf : units.front().floor;
        while (!pending.empty() && pending.front().score < next) {
            if ((++asked & 0xFF) == 0) check_cancel();
            std::pop_heap(pending.begin(), pending.end(), std::greater<Pending>());
            const Pending c = pending.back();
            pending.pop_back();
            if (c.in_hole && q.hole_filter && !(*q.hole_filter)(c.hole, c.p, c.t)) continue;
            if (!(*q.best_filter)(c.t)) continue;
            best.score = c.score;
            best.pos = c.t;
            best.found = true;
            return best;
        }
        if (units.empty()) break;
        if ((++asked & 0xFF) == 0) check_cancel();
        std::pop_heap(units.begin(), units.end(), std::greater<Unit>());
        const Unit u = units.back();
        units.pop_back();
        const Pt a = (*u.poly)[u.edge], b = (*u.poly)[u.edge + 1];
        const double ds = static_cast<double>(steps), dx = b.x - a.x, dy = b.y - a.y;
        long long k = 0;
        for (; k < steps; ++k) {
            const double tt = static_cast<double>(k) / ds;
            const Pt p{a.x + dx * tt, a.y + dy * tt};
            if (!outside_window(p, u.hole ? nullptr : q.window)) add(p, u.order, k, u.hole);
        }
        if (u.crossings) {
            Pt cross[3];
            for (std::size_t j = 0, n = support_crossings(sc, q.bin_w, a, b, cross); j < n; ++j, ++k)
                if (!outside_window(cross[j], q.window)) add(cross[j], u.order, k, nullptr);
        }
    }
    return best;
}

}  // namespace

SearchResult search_best_position(const PositionSearch& q) {
    const std::vector<Contour>& contours = q.contours;
    const std::vector<Contour>& hole_nfps = q.hole_nfps;
    const long long steps = q.steps;
    const HoleFilter* hole_filter = q.hole_filter;
    std::vector<Candidate>* passed = q.passed;
    const Scorer sc = make_scorer(q.item, q.bin_w, q.bin_h, q.eps, q.placement, q.inset);
    if (q.best_filter && !passed) return search_gathered(q, sc);
    const BestFilter* best_filter = q.best_filter;
    SearchResult best;
    best.score = kInf;
    Pt t;
    double s;
    unsigned long long seen = 0;  // candidates so far: Ctrl-C is looked at every 65536
    // One candidate with reference point p; those of a hole pass the hole filter as well.
    auto offer = [&](Pt p, const std::size_t* hole) {
        if (!sc.score(p, t, s) || (!passed && !(s < best.score))) return;
        if (hole && hole_filter && !(*hole_filter)(*hole, p, t)) return;
        if (passed) passed->push_back({s, t});
        if (s < best.score) {
            if (best_filter && !(*best_filter)(t)) return;
            best.score = s;
            best.pos = t;
            best.found = true;
        }
    };
    // Boundary samples, generated in candidate order without building the list.
    auto sample_edges = [&](const Contour& poly, const std::size_t* hole, const BBox* win, bool crossings) {
        if (steps <= 0 || poly.size() < 2) return;
        const double ds = static_cast<double>(steps);
        const std::size_t n = poly.size() - 1;
        for (std::size_t i = 0; i < n; ++i) {
            const Pt a = poly[i], b = poly[i + 1];
            if (outside_window(a, b, win)) continue;
            if (sc.edge_cannot_beat(a, b, passed ? kInf : best.score)) continue;
            const double dx = b.x - a.x, dy = b.y - a.y;
            for (long long k = 0; k < steps; ++k) {
                if ((++seen & 0xFFFF) == 0) check_cancel();
                double tt = static_cast<double>(k) / ds;
                Pt p{a.x + dx * tt, a.y + dy * tt};
                if (outside_window(p, win)) continue;
                offer(p, hole);
            }
            if (crossings) {
                Pt cross[3];
                for (std::size_t j = 0, m = support_crossings(sc, q.bin_w, a, b, cross); j < m; ++j)
                    if (!outside_window(cross[j], win)) offer(cross[j], nullptr);
            }
        }
    };
    for (const Contour& poly : contours) sample_edges(poly, nullptr, q.window, q.support_points);
    for (std::size_t h = 0; h < hole_nfps.size(); ++h) {
        for (const Pt& p : sample_hole_interior(hole_nfps[h])) offer(p, &h);
        if (q.support_points)
            for (std::size_t k = 0; k + 1 < hole_nfps[h].size(); ++k) offer(hole_nfps[h][k], &h);
    }
    if (q.hole_regions)
        for (const HoleRegion& r : *q.hole_regions) sample_edges(r.contour, &r.hole, nullptr, false);
    return best;
}

}  // namespace quarvo
