#include "place/nfp/candidate_search.hpp"

#include <algorithm>
#include <cmath>
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
        const double lox = std::min(a.x, b.x), hix = std::max(a.x, b.x);
        const double loy = std::min(a.y, b.y), hiy = std::max(a.y, b.y);
        const double mx = std::fabs(rb.minx) + std::fabs(rb.maxx) + std::fabs(ref.x) + std::fabs(lox) + std::fabs(hix) +
                          std::fabs(bin_w) + std::fabs(cx) + 1.0;
        const double my = std::fabs(rb.miny) + std::fabs(rb.maxy) + std::fabs(ref.y) + std::fabs(loy) + std::fabs(hiy) +
                          std::fabs(bin_h) + std::fabs(cy) + 1.0;
        const double sx = 1e-9 * mx, sy = 1e-9 * my;
        // the room's edges (the bin's when there is no inset)
        const bool inset = room_lo > 0.0;
        const double left = inset ? room_lo - eps : -eps, right = inset ? room_x1 + eps : bin_w + eps;
        const double top = inset ? room_y1 + eps : bin_h + eps;
        if (rb.minx + (hix - ref.x) < left - sx || rb.maxx + (lox - ref.x) > right + sx) return true;
        if (rb.miny + (hiy - ref.y) < left - sy || rb.maxy + (loy - ref.y) > top + sy) return true;
        if (!(best < kInf)) return false;
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
            // a sample that passes has its box's lower-left corner at the room's corner (less eps) or beyond
            const double miny = std::max(rb.miny + (loy - ref.y), left);
            const double minx = std::max(rb.minx + (lox - ref.x), left);
            lb = miny * w1 + minx;
            mag = my * w1 + mx;
        }
        const double slack = 1e-9 * (mag + std::fabs(best));
        return lb - slack > best;
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

SearchResult search_best_position(const PositionSearch& q) {
    const std::vector<Contour>& contours = q.contours;
    const std::vector<Contour>& hole_nfps = q.hole_nfps;
    const long long steps = q.steps;
    const HoleFilter* hole_filter = q.hole_filter;
    std::vector<Candidate>* passed = q.passed;
    const Scorer sc = make_scorer(q.item, q.bin_w, q.bin_h, q.eps, q.placement, q.inset);
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
    for (const Contour& poly : contours) sample_edges(poly, nullptr, q.window);
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
    if (q.hole_regions)
        for (const HoleRegion& r : *q.hole_regions) sample_edges(r.contour, &r.hole, nullptr);
    return best;
}

}  // namespace quarvo
