#include "nfp/nfp.hpp"

#include <algorithm>
#include <cmath>

#include "geometry/minkowski.hpp"
#include "geometry/outline_fit.hpp"
#include "geometry/outline_offset.hpp"
#include "quarvo/constants.hpp"
#include "quarvo/errors.hpp"

namespace quarvo {

namespace {

struct Edge {
    Pt s, e;
    double angle;
};

void require_item(const Shape& s) {
    if (!s.is_polygon() && !s.is_circle()) throw NotImplementedError();
}
}  // namespace

double angle_2pi(Pt start, Pt end) {
    double dx = end.x - start.x, dy = end.y - start.y;
    double a = std::atan2(dy, dx);
    if (a < 0) a = a + 2 * kPi;
    return a;
}

RawNfp nfp_convex_only(const Contour& A, const Contour& B) {
    std::vector<Edge> edges;
    edges.reserve(A.size() + B.size());
    for (std::size_t i = 0; i + 1 < A.size(); ++i) edges.push_back({A[i], A[i + 1], angle_2pi(A[i], A[i + 1])});
    for (std::size_t i = 0; i + 1 < B.size(); ++i) edges.push_back({B[i + 1], B[i], angle_2pi(B[i + 1], B[i])});
    for (const Edge& e : edges)
        if (std::isnan(e.angle)) throw ValueError("no-fit polygon of a contour with a NaN or infinite coordinate");
    // Stable, by decreasing angle: equal angles keep A's edges before B's.
    std::stable_sort(edges.begin(), edges.end(), [](const Edge& a, const Edge& b) { return a.angle > b.angle; });
    if (edges.empty()) return {Contour{{0.0, 0.0}}, {0.0, 0.0}};
    RawNfp r;
    r.pts.reserve(edges.size() + 1);
    const Edge& e0 = edges[0];
    r.pts.push_back(e0.s);
    r.pts.push_back(e0.e);
    double ks = extremum_key(e0.s.y), ke = extremum_key(e0.e.y);
    double top_key;
    if (key_greater(ke, e0.e.x, ks, e0.s.x)) { r.top = e0.e; top_key = ke; }
    else { r.top = e0.s; top_key = ks; }
    Pt prev = e0.e;
    for (std::size_t i = 1; i < edges.size(); ++i) {
        const Edge& e = edges[i];
        Pt d = vsub(prev, e.s);
        Pt p = vadd(e.e, d);
        r.pts.push_back(p);
        double k = extremum_key(p.y);
        if (key_greater(k, p.x, top_key, r.top.x)) { r.top = p; top_key = k; }
        prev = p;
    }
    return r;
}

Contour correct_nfp_position(const Contour& raw_nfp, Pt top_nfp, const Contour& A_rot, const Contour& B_rot) {
    Pt touch_sh = top_right(A_rot);
    Pt touch_other = bottom_left(B_rot);
    Pt dtouch = vsub(touch_sh, touch_other);
    Pt top_other = vadd(top_right(B_rot), dtouch);
    Pt dnfp = vsub(top_other, top_nfp);
    Contour out;
    out.reserve(raw_nfp.size());
    for (const Pt& p : raw_nfp) out.push_back(vadd(p, dnfp));
    return out;
}

Pt box_rule_shift(const BBox& n, const Contour& A, const Contour& B) {
    if (A.empty() || B.empty()) return {0.0, 0.0};
    const BBox a = polygon_bbox(A), b = polygon_bbox(B);
    const Pt ref = top_right(B);
    const double ex = (a.minx - b.maxx) + ref.x, ey = (a.miny - b.maxy) + ref.y;
    double big = 0.0;
    for (double v : {a.minx, a.miny, a.maxx, a.maxy, b.minx, b.miny, b.maxx, b.maxy}) big = std::max(big, std::fabs(v));
    const double tol = 1e-11 * (1.0 + big);
    const double dx = ex - n.minx, dy = ey - n.miny;
    if (!(std::fabs(dx) > tol) && !(std::fabs(dy) > tol)) return {0.0, 0.0};
    return {dx, dy};
}

Contour anchor_outer_nfp(Contour nfp, const Contour& A, const Contour& B) {
    if (nfp.empty()) return nfp;
    const Pt d = box_rule_shift(polygon_bbox(nfp), A, B);
    if (d.x == 0.0 && d.y == 0.0) return nfp;
    for (Pt& p : nfp) p = vadd(p, d);
    return nfp;
}

// is_convex with no reflex corner hidden from it, and the outline turns once.
// is_convex also passes stars, whose edge-merged NFPs and offsets are
// meaningless; a large star's offset would cross itself millions of times in
// the union.
bool convex_outline(const Shape& s) {
    if (!s.is_polygon()) return true;
    const Polygon& p = polygon_cast(s);
    return p.outer_convex() && p.outer_turns_once();
}

void require_convex_outline(const Shape& s) {
    if (s.is_polygon() && !convex_outline(s))
        throw ValueError("NFP 仅支持凸多边形/圆，收到非凸输入；非凸形状请用 bl 策略（或先实现 MinkowskiSum 非凸 NFP）");
}

Contour compute_nfp0(const Shape& a, const Shape& b, bool exact) {
    require_item(a);
    require_item(b);
    // a pipe's outer circle keeps the clearance around the true circle, whatever the options
    exact = exact || a.is_pipe() || b.is_pipe();
    if (a.is_circle() && b.is_circle()) {
        double ra = circle_cast(a).radius + a.infl(), rb = circle_cast(b).radius + b.infl();
        return circle_outline({0.0, 0.0}, ra + rb, exact);
    }
    if (a.is_polygon() && b.is_polygon()) {
        const Contour& A = polygon_cast(a).rotated_contour();
        const Contour& B = polygon_cast(b).rotated_contour();
        RawNfp raw = nfp_convex_only(A, B);
        return anchor_outer_nfp(correct_nfp_position(raw.pts, raw.top, A, B), A, B);
    }
    if (a.is_polygon()) {
        double rb = circle_cast(b).radius + b.infl();
        return offset_outline(polygon_cast(a).rotated_contour(), rb);
    }
    double ra = circle_cast(a).radius + a.infl();
    Contour circ = circle_outline({0.0, 0.0}, ra, exact);
    const Contour& B = polygon_cast(b).rotated_contour();
    RawNfp raw = nfp_convex_only(circ, B);
    return anchor_outer_nfp(correct_nfp_position(raw.pts, raw.top, circ, B), circ, B);
}

Contour item_contour(const Shape& s, bool exact) {
    if (s.is_circle()) return circle_outline({0.0, 0.0}, circle_cast(s).radius + s.infl(), exact || s.is_pipe());
    require_item(s);
    return polygon_cast(s).rotated_contour();
}

Pt item_reference(const Shape& s) {
    if (s.is_circle()) return {0.0, 0.0};
    require_item(s);
    return top_right(polygon_cast(s).rotated_contour());
}

Region compute_nfp0_region(const Shape& a, const Shape& b, bool exact) {
    require_item(a);
    require_item(b);
    exact = exact || a.is_pipe() || b.is_pipe();
    if (convex_outline(a) && convex_outline(b)) return {compute_nfp0(a, b, exact)};
    const Contour A = item_contour(a, exact), B = item_contour(b, exact);
    Region r = nfp_minkowski(A, B, item_reference(b), b.is_polygon());
    for (Contour& c : r) remove_spikes(c);
    keep_true_cavities(r, A, B, item_reference(b), 1e-6);
    return r;
}

bool hole_needs_inner_fit(const Contour& hole, const Shape& b) {
    return !convex_outline(b) || !convex_ring(hole);
}

Contour hole_nfp(const Contour& hole, const Shape& b) {
    if (b.is_polygon()) {
        const Contour& B = polygon_cast(b).rotated_contour();
        RawNfp raw = nfp_convex_only(hole, B);
        return correct_nfp_position(raw.pts, raw.top, hole, B);
    }
    if (b.is_circle()) return offset_outline(hole, circle_cast(b).radius + b.infl());
    return {};
}

Region hole_inner_fit(const Contour& hole, const Shape& item) {
    return hole_inner_fit(hole, item_contour(item), item_reference(item));
}

std::vector<Contour> world_holes(const Shape& s) {
    if (s.is_polygon()) return polygon_cast(s).transformed_holes();
    if (s.is_pipe() && pipe_cast(s).has_bore()) return {pipe_cast(s).world_bore()};
    return {};
}

bool is_container(const Shape& s) {
    return (s.is_polygon() && polygon_cast(s).is_container()) || (s.is_pipe() && pipe_cast(s).has_bore());
}

std::vector<Contour> compute_hole_nfps(const Shape& a, const Shape& b) {
    std::vector<Contour> out;
    for (const Contour& hole : world_holes(a))
        if (b.is_polygon() || b.is_circle()) out.push_back(hole_nfp(hole, b));
    return out;
}

}  // namespace quarvo
