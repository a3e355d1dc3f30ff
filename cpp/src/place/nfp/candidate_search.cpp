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

SearchResult search_best_position(const PositionSearch& q) {
    const std::vector<Contour>& contours = q.contours;
    const std::vector<Contour>& hole_nfps = q.hole_nfps;
    const long long steps = q.steps;
    const HoleFilter* hole_filter = q.hole_filter;
    std::vector<Candidate>* passed = q.passed;
    const Scorer sc = make_scorer(q.item, q.bin_w, q.bin_h, q.eps, q.placement);
    const BestFilter* best_filter = q.best_filter;
    SearchResult best;
    best.score = kInf;
    Pt t;
    double s;
    unsigned long long seen = 0;  // candidates so far: Ctrl-C is looked at every 65536
    // With a filter of the best, candidates are gathered and taken in score
    // order, the filters asked only until one passes: scanned in their own
    // order, every candidate better than all before it would be asked.
    struct Pending {
        double score;
        unsigned long long seq;  // ties: the earlier candidate
        Pt p, t;
        std::size_t hole;
        bool in_hole;
        bool operator>(const Pending& o) const { return score > o.score || (score == o.score && seq > o.seq); }
    };
    const bool gather = best_filter && !passed;
    std::vector<Pending> pending;
    // One candidate with reference point p; those of a hole pass the hole filter as well.
    auto offer = [&](Pt p, const std::size_t* hole) {
        if (gather) {
            if (sc.score(p, t, s)) pending.push_back({s, pending.size(), p, t, hole ? *hole : 0, hole != nullptr});
            return;
        }
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
    // The reference-point lines of the item's box on the floor and against each wall.
    const double floor_y = sc.ref.y - sc.rb.miny, left_x = sc.ref.x - sc.rb.minx;
    const double right_x = (q.bin_w - sc.rb.maxx) + sc.ref.x;
    auto support_crossings = [&](Pt a, Pt b) {
        if ((a.y < floor_y) != (b.y < floor_y))
            offer({a.x + (floor_y - a.y) * (b.x - a.x) / (b.y - a.y), floor_y}, nullptr);
        for (double x : {left_x, right_x})
            if ((a.x < x) != (b.x < x)) offer({x, a.y + (x - a.x) * (b.y - a.y) / (b.x - a.x)}, nullptr);
    };
    // Boundary samples, generated in candidate order without building the list.
    auto sample_edges = [&](const Contour& poly, const std::size_t* hole, const BBox* win, bool crossings) {
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
                offer(p, hole);
            }
            if (crossings) support_crossings(a, b);
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
    if (gather) {
        std::make_heap(pending.begin(), pending.end(), std::greater<Pending>());
        for (std::size_t n = pending.size(); n > 0; --n) {
            if ((n & 0xFF) == 0) check_cancel();
            std::pop_heap(pending.begin(), pending.begin() + n, std::greater<Pending>());
            const Pending& c = pending[n - 1];
            if (c.in_hole && hole_filter && !(*hole_filter)(c.hole, c.p, c.t)) continue;
            if (!(*best_filter)(c.t)) continue;
            best.score = c.score;
            best.pos = c.t;
            best.found = true;
            break;
        }
    }
    return best;
}

}  // namespace quarvo
