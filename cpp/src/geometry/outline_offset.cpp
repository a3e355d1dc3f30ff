#include "geometry/outline_offset.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "geometry/mitred_offset.hpp"

namespace quarvo {

namespace {

// Edges shorter than this share of the outline's extent may be near twins.
constexpr double kShortEdge = 1e-8;
// A shortfall beyond this share of the extent and the distance is a loss,
// not the rounding of the offset itself.
constexpr double kLoss = 1e-13;
// offset_convex passes over edges shorter than this, and takes two moved
// edges whose cross product is smaller for parallel.
constexpr double kSkipped = 1e-12;
// Two moved edges are parallel when the sine of their angle is below this:
// the end of the first then stands for their meeting point with a loss of
// the distance times a square of it.
constexpr double kParallel = 1e-9;

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

// The written offset with the meeting points of moved edges that are not
// parallel by their angle (kParallel) taken where the lines meet, however
// small their cross product.
Contour offset_meeting(const Contour& poly, double dist) {
    if (std::fabs(dist) < 1e-12 || poly.size() < 4) return poly;
    const std::size_t n = poly.size() - 1;
    struct Moved {
        Pt s, e;
    };
    std::vector<Moved> shifted;
    for (std::size_t i = 0; i < n; ++i) {
        const Pt p1 = poly[i], p2 = poly[i + 1];
        const double dx = p2.x - p1.x, dy = p2.y - p1.y, length = hypot_cr(dx, dy);
        if (length < kSkipped) continue;
        const double nx = -dy / length, ny = dx / length;
        shifted.push_back({{p1.x + dist * nx, p1.y + dist * ny}, {p2.x + dist * nx, p2.y + dist * ny}});
    }
    if (shifted.size() < 3) return poly;
    const std::size_t m = shifted.size();
    Contour out;
    out.reserve(m + 1);
    for (std::size_t i = 0; i < m; ++i) {
        const Moved &a = shifted[i], &b = shifted[(i + 1) % m];
        const double d = (a.s.x - a.e.x) * (b.s.y - b.e.y) - (a.s.y - a.e.y) * (b.s.x - b.e.x);
        const double scale = hypot_cr(a.s.x - a.e.x, a.s.y - a.e.y) * hypot_cr(b.s.x - b.e.x, b.s.y - b.e.y);
        if (!(std::fabs(d) > kParallel * scale)) {
            out.push_back(a.e);
            continue;
        }
        const double t = ((a.s.x - b.s.x) * (b.s.y - b.e.y) - (a.s.y - b.s.y) * (b.s.x - b.e.x)) / d;
        out.push_back({a.s.x + t * (a.e.x - a.s.x), a.s.y + t * (a.e.y - a.s.y)});
    }
    out.push_back(out.front());
    return out;
}

// Whether the written offset `out` of `poly` by `dist` goes wrong: a stray
// hair, or a shortfall of the distance around a hair or where two moved
// edges at an angle met as if parallel (their cross product under the
// written 1e-12, as between the short edges of an outline a few grid units
// across).
bool written_offset_fails(const Contour& poly, double dist, const Contour& out) {
    if (std::fabs(dist) < 1e-12 || poly.size() < 4) return false;
    const std::size_t n = poly.size() - 1;
    const double extent = extent_of(poly, n);
    if (stray_hair(poly, n, extent)) return true;
    // The edges the written offset keeps, as offset_convex keeps them; for
    // each edge a hair long (kept or passed over), the moved edge it is or
    // follows; the joins of moved edges taken as parallel at an angle.
    std::vector<std::size_t> kept, hairs, joins;
    for (std::size_t i = 0; i < n; ++i) {
        const double length = hypot_cr(poly[i + 1].x - poly[i].x, poly[i + 1].y - poly[i].y);
        const bool hair = length > 0.0 && length < kShortEdge * extent;
        if (length >= kSkipped) kept.push_back(i);
        if (hair) hairs.push_back(kept.empty() ? static_cast<std::size_t>(-1) : kept.size() - 1);
    }
    if (kept.size() < 3) return false;
    const std::size_t m = kept.size();
    for (std::size_t k = 0; k < m; ++k) {
        const std::size_t i = kept[k], j = kept[(k + 1) % m];
        const Pt u = vsub(poly[i + 1], poly[i]), v = vsub(poly[j + 1], poly[j]);
        const double c = std::fabs(cross(u, v));
        if (c < 1e-12 && c > kParallel * hypot_cr(u.x, u.y) * hypot_cr(v.x, v.y)) joins.push_back(k);
    }
    if (hairs.empty() && joins.empty()) return false;
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
    // out[k] is the join of moved edges k and k + 1: the stretches on either side
    for (std::size_t k : joins)
        if (bad(k + m - 1, k) || bad(k, k + 1)) return true;
    return false;
}

}  // namespace

bool offset_loses_distance(const Contour& poly, double dist) {
    return written_offset_fails(poly, dist, offset_convex(poly, dist));
}

Contour offset_outline(const Contour& poly, double dist) {
    Contour written = offset_convex(poly, dist);
    if (!written_offset_fails(poly, dist, written)) return written;
    const Merged m = merge_hairs(poly);
    if (m.outline.empty()) return offset_meeting(poly, dist);
    return offset_meeting(m.outline, dist + std::copysign(m.out, dist));
}

Region mitred_outline_offset(const Contour& c, double delta) {
    const Contour poly = closed(c);
    if (poly.size() < 4 || std::fabs(delta) < 1e-12) return mitred_offset(c, delta);
    const std::size_t n = poly.size() - 1;
    if (!stray_hair(poly, n, extent_of(poly, n))) return mitred_offset(c, delta);
    const Merged m = merge_hairs(poly);
    if (m.outline.empty()) return mitred_offset(c, delta);
    return mitred_offset(m.outline, delta + std::copysign(m.out, delta));
}

}  // namespace quarvo
