#include "geometry/outline_offset.hpp"

#include "geometry/mitred_offset.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

namespace quarvo {

namespace {

// Edges shorter than this share of the outline's extent may be near twins.
constexpr double kShortEdge = 1e-8;
// A shortfall beyond this share of the extent and the distance is a loss,
// not the rounding of the offset itself.
constexpr double kLoss = 1e-13;
// offset_convex passes over edges shorter than this.
constexpr double kSkipped = 1e-12;

double extent_of(const Contour& poly, std::size_t n) {
    BBox b{poly[0].x, poly[0].y, poly[0].x, poly[0].y};
    for (std::size_t i = 1; i < n; ++i) {
        b.minx = std::min(b.minx, poly[i].x);
        b.miny = std::min(b.miny, poly[i].y);
        b.maxx = std::max(b.maxx, poly[i].x);
        b.maxy = std::max(b.maxy, poly[i].y);
    }
    return std::max(b.maxx - b.minx, b.maxy - b.miny);
}

double dot(Pt a, Pt b) { return a.x * b.x + a.y * b.y; }

double dist_pt_seg(Pt p, Pt a, Pt b) {
    const Pt d = vsub(b, a), w = vsub(p, a);
    const double l2 = dot(d, d);
    const double t = l2 > 0.0 ? std::clamp(dot(w, d) / l2, 0.0, 1.0) : 0.0;
    return std::hypot(p.x - (a.x + t * d.x), p.y - (a.y + t * d.y));
}

int side(Pt a, Pt b, Pt c) {
    const double v = (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
    return (v > 0.0) - (v < 0.0);
}

// p is collinear with ab: does it lie within the segment's box?
bool within(Pt a, Pt b, Pt p) {
    return std::min(a.x, b.x) <= p.x && p.x <= std::max(a.x, b.x) && std::min(a.y, b.y) <= p.y &&
           p.y <= std::max(a.y, b.y);
}

// Whether the segments share a point, with no slack: a hair's distance is a
// distance here, not contact.
bool meet(Pt a, Pt b, Pt c, Pt d) {
    const int o1 = side(a, b, c), o2 = side(a, b, d), o3 = side(c, d, a), o4 = side(c, d, b);
    if (o1 * o2 < 0 && o3 * o4 < 0) return true;
    return (o1 == 0 && within(a, b, c)) || (o2 == 0 && within(a, b, d)) || (o3 == 0 && within(c, d, a)) ||
           (o4 == 0 && within(c, d, b));
}

double dist_seg_seg(Pt a, Pt b, Pt c, Pt d) {
    if (meet(a, b, c, d)) return 0.0;
    return std::min({dist_pt_seg(a, c, d), dist_pt_seg(b, c, d), dist_pt_seg(c, a, b), dist_pt_seg(d, a, b)});
}

// The least distance from segment p-q to the closed contour's edges.
double dist_to_outline(Pt p, Pt q, const Contour& poly, std::size_t n) {
    double best = kInf;
    for (std::size_t i = 0; i < n; ++i) best = std::min(best, dist_seg_seg(p, q, poly[i], poly[i + 1]));
    return best;
}

double dist_to_outline(Pt p, const Contour& poly, std::size_t n) {
    double best = kInf;
    for (std::size_t i = 0; i < n; ++i) best = std::min(best, dist_pt_seg(p, poly[i], poly[i + 1]));
    return best;
}

// Whether the hairs between edges i and j (exclusive, cyclic) turn with
// them: every turn on the way from edge i to edge j of one sign with the
// whole turn, and no more than it in all. A hair that does not moves a line
// across its neighbours' (the offset folds back, or cuts the corner).
bool hairs_turn_with(const Contour& poly, std::size_t n, std::size_t i, std::size_t j) {
    auto dir = [&](std::size_t k) { return vsub(poly[(k % n) + 1], poly[k % n]); };
    auto turn = [](Pt u, Pt v) { return std::atan2(cross(u, v), dot(u, v)); };
    const double whole = turn(dir(i), dir(j));
    double sum = 0.0;
    Pt prev = dir(i);
    for (std::size_t k = i + 1; k <= j; ++k) {
        const Pt d = dir(k);
        if (d.x == 0.0 && d.y == 0.0) continue;
        const double t = turn(prev, d);
        if (t * whole < 0.0 || std::fabs(t) > std::fabs(whole) + 1e-9) return false;
        sum += t;
        prev = d;
    }
    return std::fabs(sum - whole) <= 1e-9;
}

// Whether a run of hairs of the closed contour (n edges) does not turn with
// the edges on either side of it.
bool stray_hair(const Contour& poly, std::size_t n, double extent) {
    auto is_hair = [&](std::size_t i) {
        return hypot_cr(poly[i + 1].x - poly[i].x, poly[i + 1].y - poly[i].y) < kShortEdge * extent;
    };
    std::size_t full = n;
    for (std::size_t i = 0; i < n && full == n; ++i)
        if (!is_hair(i)) full = i;
    if (full == n) return false;
    for (std::size_t k = full; k < full + n;) {
        std::size_t next = k + 1;
        while (next < full + n && is_hair(next % n)) ++next;
        if (next > k + 1 && !hairs_turn_with(poly, n, k, next)) return true;
        k = next;
    }
    return false;
}

// The closed contour with every vertex a hair from the one kept before it
// merged into that one, and how far a merged-away point stands out of the
// result: an offset that reaches that much farther keeps its distance from
// the point too. Empty when fewer than three vertices would be left.
struct Merged {
    Contour outline;
    double out = 0.0;
};
Merged merge_hairs(const Contour& poly) {
    const std::size_t n = poly.size() - 1;
    const double shortest = kShortEdge * extent_of(poly, n);
    auto near = [&](Pt p, Pt q) { return hypot_cr(q.x - p.x, q.y - p.y) < shortest; };
    Merged m;
    std::vector<Pt> dropped;
    for (std::size_t i = 0; i < n; ++i) {
        if (!m.outline.empty() && near(m.outline.back(), poly[i])) dropped.push_back(poly[i]);
        else m.outline.push_back(poly[i]);
    }
    while (m.outline.size() > 1 && near(m.outline.back(), m.outline.front())) {
        dropped.push_back(m.outline.back());
        m.outline.pop_back();
    }
    if (m.outline.size() < 3) return {};
    m.outline.push_back(m.outline.front());
    for (const Pt& p : dropped) m.out = std::max(m.out, dist_to_outline(p, m.outline, m.outline.size() - 1));
    return m;
}

Contour closed(const Contour& c) {
    Contour out = c;
    if (!out.empty() && out.front() != out.back()) out.push_back(out.front());
    return out;
}

}  // namespace

bool offset_loses_distance(const Contour& poly, double dist) {
    if (std::fabs(dist) < 1e-12 || poly.size() < 4) return false;
    const std::size_t n = poly.size() - 1;
    const double extent = extent_of(poly, n);
    if (stray_hair(poly, n, extent)) return true;
    // The edges the written offset keeps, as offset_convex keeps them; for
    // each edge a hair long (kept or passed over), the moved edge it is or
    // follows.
    std::vector<std::size_t> kept, hairs;
    for (std::size_t i = 0; i < n; ++i) {
        const double length = hypot_cr(poly[i + 1].x - poly[i].x, poly[i + 1].y - poly[i].y);
        const bool hair = length > 0.0 && length < kShortEdge * extent;
        if (length >= kSkipped) kept.push_back(i);
        if (hair) hairs.push_back(kept.empty() ? static_cast<std::size_t>(-1) : kept.size() - 1);
    }
    if (hairs.empty() || kept.size() < 3) return false;
    const Contour out = offset_convex(poly, dist);
    const std::size_t m = kept.size();
    // out[k] joins moved edges k and k + 1 (mod m).
    const bool grows = (polygon_area(poly) < 0.0) == (dist > 0.0);
    const double need = std::fabs(dist) - kLoss * (extent + std::fabs(dist));
    auto bad = [&](std::size_t a, std::size_t b) {
        const Pt p = out[a % m], q = out[b % m];
        if (dist_to_outline(p, q, poly, n) < need) return true;
        // a stretch of the offset on the wrong side of the outline
        const Pt mid{p.x / 2.0 + q.x / 2.0, p.y / 2.0 + q.y / 2.0};
        return point_in_polygon(mid, poly) == grows;
    };
    for (std::size_t h : hairs) {
        // the moved line of the hair (or of the edge before it, when it is
        // passed over) and the stretches on either side of it
        const std::size_t k = h == static_cast<std::size_t>(-1) ? m - 1 : h;
        const std::size_t before = (k + m - 1) % m;
        if (bad(before + m - 1, before) || bad(before, k) || bad(k, k + 1) || bad(k + 1, k + 2)) return true;
    }
    return false;
}

Contour offset_outline(const Contour& poly, double dist) {
    if (!offset_loses_distance(poly, dist)) return offset_convex(poly, dist);
    const Merged m = merge_hairs(poly);
    if (m.outline.empty()) return offset_convex(poly, dist);
    return offset_convex(m.outline, dist + std::copysign(m.out, dist));
}

Region mitred_outline_offset(const Contour& c, double delta) {
    const Contour poly = closed(c);
    if (poly.size() < 4 || std::fabs(delta) < 1e-12 || !stray_hair(poly, poly.size() - 1, extent_of(poly, poly.size() - 1)))
        return mitred_offset(c, delta);
    const Merged m = merge_hairs(poly);
    if (m.outline.empty()) return mitred_offset(c, delta);
    return mitred_offset(m.outline, delta + std::copysign(m.out, delta));
}

}  // namespace quarvo
