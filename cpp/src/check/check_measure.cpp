#include <queue>

#include "check/check_detail.hpp"
#include "quarvo/cancel.hpp"

namespace quarvo {
namespace check_detail {

namespace {

double dot(Pt a, Pt b) { return a.x * b.x + a.y * b.y; }
double norm(Pt a) { return std::hypot(a.x, a.y); }

double dist_pt_seg(Pt p, Pt a, Pt b) {
    Pt d = vsub(b, a);
    Pt w = vsub(p, a);
    double len2 = dot(d, d);
    double t = 0.0;
    if (len2 > 0.0) t = std::clamp(dot(w, d) / len2, 0.0, 1.0);
    return std::hypot(p.x - (a.x + t * d.x), p.y - (a.y + t * d.y));
}

int orient(Pt a, Pt b, Pt c) {
    double v = (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
    return (v > 0.0) - (v < 0.0);
}

// p is collinear with ab: does it lie within the segment's extent?
bool within(Pt a, Pt b, Pt p) {
    return std::min(a.x, b.x) <= p.x && p.x <= std::max(a.x, b.x) && std::min(a.y, b.y) <= p.y &&
           p.y <= std::max(a.y, b.y);
}

bool segments_meet(Pt a, Pt b, Pt c, Pt d) {
    int o1 = orient(a, b, c), o2 = orient(a, b, d), o3 = orient(c, d, a), o4 = orient(c, d, b);
    if (o1 * o2 < 0 && o3 * o4 < 0) return true;
    return (o1 == 0 && within(a, b, c)) || (o2 == 0 && within(a, b, d)) || (o3 == 0 && within(c, d, a)) ||
           (o4 == 0 && within(c, d, b));
}

double seg_seg_dist(Pt a, Pt b, Pt c, Pt d) {
    if (segments_meet(a, b, c, d)) return 0.0;
    return std::min(std::min(dist_pt_seg(a, c, d), dist_pt_seg(b, c, d)),
                    std::min(dist_pt_seg(c, a, b), dist_pt_seg(d, a, b)));
}

// Distance from a segment to a circle's curve. The distances from the centre
// to the segment's points fill [near, far], and `far` is at an end.
double circle_seg_gap(Pt c, double r, Pt a, Pt b) {
    double near = dist_pt_seg(c, a, b);
    if (near >= r) return near - r;
    double far = std::max(norm(vsub(a, c)), norm(vsub(b, c)));
    if (far <= r) return r - far;
    return 0.0;
}

double circle_circle_gap(Pt c1, double r1, Pt c2, double r2) {
    double d = norm(vsub(c1, c2));
    if (d >= r1 + r2) return d - (r1 + r2);
    double nest = std::fabs(r1 - r2);
    if (d <= nest) return nest - d;
    return 0.0;
}

void add_edge(Item& it, Pt a, Pt b) {
    BBox box{a.x, a.y, a.x, a.y};
    grow(box, b);
    it.edges.push_back({a, b, box});
}

}  // namespace

Item make_item(const Outline& o) {
    Item it;
    it.o = &o;
    for (const Contour& r : o.rings) {
        std::size_t n = r.size();
        if (n == 1) add_edge(it, r[0], r[0]);
        for (std::size_t i = 0; i + 1 < n; ++i) add_edge(it, r[i], r[i + 1]);
        if (n > 1 && r.front() != r.back()) add_edge(it, r.back(), r.front());
        it.ring_end.push_back(it.edges.size());
    }
    return it;
}

namespace {

// Even-odd ray test against one ring, given by its edges.
bool in_ring(const Item& it, std::size_t ring, Pt p) {
    std::size_t begin = ring == 0 ? 0 : it.ring_end[ring - 1];
    bool inside = false;
    for (std::size_t k = begin; k < it.ring_end[ring]; ++k) {
        Pt a = it.edges[k].a, b = it.edges[k].b;
        if ((a.y > p.y) != (b.y > p.y)) {
            double x = a.x + (p.y - a.y) * (b.x - a.x) / (b.y - a.y);
            if (p.x < x) inside = !inside;
        }
    }
    return inside;
}

// The circles of a circle's or a pipe's outline: the outer one, then the bore.
struct Curve {
    Pt c;
    double r;
};
std::vector<Curve> curves(const Outline& o) {
    std::vector<Curve> out{{o.center, o.radius}};
    if (o.bore > 0.0) out.push_back({o.center, o.bore});
    return out;
}

// Strictly inside the item's material: in the outer contour, in no hole.
bool in_region(const Item& it, Pt p) {
    if (it.o->circle) {
        const double d = norm(vsub(p, it.o->center));
        return d < it.o->radius && !(it.o->bore > 0.0 && d <= it.o->bore);
    }
    if (it.ring_end.empty() || !in_ring(it, 0, p)) return false;
    for (std::size_t k = 1; k < it.ring_end.size(); ++k)
        if (in_ring(it, k, p)) return false;
    return true;
}

double boundary_dist(const Item& it, Pt p) {
    if (it.o->circle) {
        const double d = norm(vsub(p, it.o->center));
        const double outer = std::fabs(it.o->radius - d);
        return it.o->bore > 0.0 ? std::min(outer, std::fabs(d - it.o->bore)) : outer;
    }
    double best = kInf;
    for (const Edge& e : it.edges) best = std::min(best, dist_pt_seg(p, e.a, e.b));
    return best;
}

// Positive inside the material, negative outside; 1-Lipschitz.
double signed_dist(const Item& it, Pt p) {
    double d = boundary_dist(it, p);
    return in_region(it, p) ? d : -d;
}

// A point of the outline itself, to tell which side of the other it lies on.
Pt probe(const Item& it) {
    if (it.o->circle) return {it.o->center.x + it.o->radius, it.o->center.y};
    return it.o->rings[0][0];
}
// Least distance between the two outlines' curves (holes included), or +inf
// when it exceeds `cutoff`.
double boundary_gap(const Item& A, const Item& B, double cutoff) {
    const Outline& a = *A.o;
    const Outline& b = *B.o;
    double best = kInf;
    if (a.circle && b.circle) {
        for (const Curve& ca : curves(a))
            for (const Curve& cb : curves(b)) best = std::min(best, circle_circle_gap(ca.c, ca.r, cb.c, cb.r));
    } else if (a.circle || b.circle) {
        const Item& C = a.circle ? A : B;
        const Item& P = a.circle ? B : A;
        for (const Curve& cc : curves(*C.o)) {
            for (const Edge& e : P.edges) {
                if (!boxes_meet(e.box, C.o->box, cutoff)) continue;
                best = std::min(best, circle_seg_gap(cc.c, cc.r, e.a, e.b));
                if (best == 0.0) break;
            }
        }
    } else {
        std::vector<BBox> ba, bb;
        std::vector<const Edge*> ea, eb;
        for (const Edge& e : A.edges)
            if (boxes_meet(e.box, b.box, cutoff)) ba.push_back(e.box), ea.push_back(&e);
        for (const Edge& e : B.edges)
            if (boxes_meet(e.box, a.box, cutoff)) bb.push_back(e.box), eb.push_back(&e);
        sweep_two(ba, bb, cutoff, [&](std::size_t i, std::size_t j) {
            best = std::min(best, seg_seg_dist(ea[i]->a, ea[i]->b, eb[j]->a, eb[j]->b));
            return best > 0.0;
        });
    }
    return best <= cutoff ? best : kInf;
}

// State of one depth search: the best depth found, the precision wanted.
struct DepthSearch {
    double best = 0.0;
    double allowed = 0.0;  // the depth the caller tolerates
    double eps_abs = 0.0;
    long long budget = kDepthBudget;

    double eps() const { return kDepthRelPrecision * std::max(best, allowed) + eps_abs; }
    void found(double v) {
        if (v > best) best = v;
    }
};

void find_witness(Item& it) {
    it.witness_done = true;
    const Outline& o = *it.o;
    if (o.circle && o.bore > 0.0) {
        // the middle of the wall
        it.has_witness = true;
        it.witness = {o.center.x + (o.radius + o.bore) / 2.0, o.center.y};
        it.witness_depth = (o.radius - o.bore) / 2.0;
        return;
    }
    if (o.circle) {
        it.has_witness = o.radius > 0.0;
        it.witness = o.center;
        it.witness_depth = o.radius;
        return;
    }
    // The widest material span on a few horizontal lines, its middle point.
    const BBox& box = o.box;
    std::vector<double> xs;
    for (double f : {0.5, 0.25, 0.75, 0.125, 0.875}) {
        double y = box.miny + (box.maxy - box.miny) * f;
        xs.clear();
        for (const Edge& e : it.edges) {
            if ((e.a.y > y) == (e.b.y > y)) continue;
            double x = e.a.x + (y - e.a.y) * (e.b.x - e.a.x) / (e.b.y - e.a.y);
            if (std::isfinite(x)) xs.push_back(x);
        }
        std::sort(xs.begin(), xs.end());
        double width = 0.0, mid = 0.0;
        for (std::size_t k = 0; k + 1 < xs.size(); k += 2) {
            if (xs[k + 1] - xs[k] > width) {
                width = xs[k + 1] - xs[k];
                mid = xs[k] + width / 2.0;
            }
        }
        if (!(width > 0.0)) continue;
        Pt p{mid, y};
        if (!in_region(it, p)) continue;
        double d = boundary_dist(it, p);
        if (d > it.witness_depth) {
            it.has_witness = true;
            it.witness = p;
            it.witness_depth = d;
        }
    }
}

// A point deep inside A that B also covers: both outlines reach that far.
void witness_depth(Item& A, const Item& B, DepthSearch& s) {
    if (!A.witness_done) find_witness(A);
    if (!A.has_witness || !in_region(B, A.witness)) return;
    s.found(std::min(A.witness_depth, boundary_dist(B, A.witness)));
}

// Nearest edge of B to each of two points: min over edges of the larger of
// the two distances. Every edge's distance is convex along the chord between
// the points, so no point of that chord is farther from B's outline.
double chord_bound(Pt pu, Pt pv, const Item& B, DepthSearch& s) {
    s.budget -= 2 * static_cast<long long>(B.edges.size());
    double ub = kInf;
    for (const Edge& e : B.edges) ub = std::min(ub, std::max(dist_pt_seg(pu, e.a, e.b), dist_pt_seg(pv, e.a, e.b)));
    return ub;
}

// Which side of B's outline a stretch of curve lies on, given that it crosses
// the outline nowhere inside: judged at the sample farthest from the outline,
// since a curve that only touches the outline may touch it at its middle.
template <class At>
bool stretch_inside(double t0, double t1, At at, const Item& B) {
    double best = -1.0;
    bool inside = false;
    for (double f : {0.5, 0.25, 0.75, 0.125, 0.875}) {
        Pt p = at(t0 + (t1 - t0) * f);
        double d = boundary_dist(B, p);
        if (d > best) {
            best = d;
            inside = in_region(B, p);
        }
    }
    return inside;
}

// Branch and bound for the greatest signed distance to B's outline along a
// curve at(t), t in [t0, t1]. bound(u, gu, v, gv) bounds it on [u, v] from the
// values at the ends.
template <class At, class Bound>
void maximise(double t0, double t1, At at, Bound bound, const Item& B, DepthSearch& s) {
    struct Node {
        double u, gu, v, gv, ub;
        bool operator<(const Node& o) const { return ub < o.ub; }
    };
    auto g = [&](double t) {
        s.budget -= 2 * static_cast<long long>(B.edges.size());
        double v = signed_dist(B, at(t));
        s.found(v);
        return v;
    };
    double g0 = g(t0), g1 = g(t1);
    std::priority_queue<Node> heap;
    heap.push({t0, g0, t1, g1, bound(t0, g0, t1, g1)});
    while (!heap.empty() && s.budget > 0) {
        Node n = heap.top();
        heap.pop();
        if (!(n.ub > s.best + s.eps())) break;
        double w = (n.u + n.v) / 2.0;
        if (!(w > n.u && w < n.v)) continue;
        double gw = g(w);
        double ul = bound(n.u, n.gu, w, gw), ur = bound(w, gw, n.v, n.gv);
        if (ul > s.best + s.eps()) heap.push({n.u, n.gu, w, gw, ul});
        if (ur > s.best + s.eps()) heap.push({w, gw, n.v, n.gv, ur});
    }
}

// Deepest point of the segment p0-p1 inside polygon B, measured to B's outline.
void segment_into_polygon(Pt p0, Pt p1, const Item& B, DepthSearch& s) {
    Pt dir = vsub(p1, p0);
    BBox sbox{p0.x, p0.y, p0.x, p0.y};
    grow(sbox, p1);
    std::vector<double> ts{0.0, 1.0};
    for (const Edge& f : B.edges) {
        if (!boxes_meet(f.box, sbox, 0.0)) continue;
        Pt d = vsub(f.b, f.a);
        Pt w = vsub(f.a, p0);
        double den = cross(dir, d);
        if (den != 0.0) {
            double t = cross(w, d) / den, u = cross(w, dir) / den;
            if (t >= -kParamSlack && t <= 1.0 + kParamSlack && u >= -kParamSlack && u <= 1.0 + kParamSlack)
                ts.push_back(std::clamp(t, 0.0, 1.0));
        } else if (cross(w, dir) == 0.0) {
            double len2 = dot(dir, dir);
            if (len2 > 0.0) {
                ts.push_back(std::clamp(dot(w, dir) / len2, 0.0, 1.0));
                ts.push_back(std::clamp(dot(vsub(f.b, p0), dir) / len2, 0.0, 1.0));
            }
        }
    }
    ts.erase(std::remove_if(ts.begin(), ts.end(), [](double t) { return !std::isfinite(t); }), ts.end());
    std::sort(ts.begin(), ts.end());
    ts.erase(std::unique(ts.begin(), ts.end()), ts.end());

    auto at = [&](double t) { return Pt{p0.x + t * dir.x, p0.y + t * dir.y}; };
    const double len = norm(dir);
    // Signed distance is 1-Lipschitz; along the segment itself the chord bound
    // holds with no slack.
    auto bound = [&](double u, double gu, double v, double gv) {
        return std::min((gu + gv) / 2.0 + len * (v - u) / 2.0, chord_bound(at(u), at(v), B, s));
    };
    for (std::size_t k = 0; k + 1 < ts.size() && s.budget > 0; ++k)
        if (stretch_inside(ts[k], ts[k + 1], at, B)) maximise(ts[k], ts[k + 1], at, bound, B, s);
}

// Deepest point of the circle (c, r) inside polygon B, measured to B's
// outline; `box` holds the circle.
void circle_into_polygon(Pt c, double r, const BBox& box, const Item& B, DepthSearch& s) {
    if (r == 0.0) {
        s.found(signed_dist(B, c));
        return;
    }
    std::vector<double> angles;
    for (const Edge& f : B.edges) {
        if (!boxes_meet(f.box, box, 0.0)) continue;
        Pt d = vsub(f.b, f.a);
        Pt w = vsub(f.a, c);
        double qa = dot(d, d), qb = 2.0 * dot(d, w), qc = dot(w, w) - r * r;
        if (qa == 0.0) continue;
        double disc = qb * qb - 4.0 * qa * qc;
        if (disc < 0.0) continue;
        double sq = std::sqrt(disc);
        for (double u : {(-qb - sq) / (2.0 * qa), (-qb + sq) / (2.0 * qa)}) {
            if (!(u >= -kParamSlack && u <= 1.0 + kParamSlack)) continue;
            u = std::clamp(u, 0.0, 1.0);
            double ang = std::atan2(f.a.y + u * d.y - c.y, f.a.x + u * d.x - c.x);
            if (ang < 0.0) ang += kTwoPi;
            if (std::isfinite(ang)) angles.push_back(ang);
        }
    }
    std::sort(angles.begin(), angles.end());
    angles.erase(std::unique(angles.begin(), angles.end()), angles.end());
    std::vector<std::pair<double, double>> arcs;
    if (angles.empty()) {
        arcs.push_back({0.0, kTwoPi});
    } else {
        for (std::size_t k = 0; k + 1 < angles.size(); ++k) arcs.push_back({angles[k], angles[k + 1]});
        arcs.push_back({angles.back(), angles.front() + kTwoPi});
    }

    auto at = [&](double th) { return Pt{c.x + r * std::cos(th), c.y + r * std::sin(th)}; };
    // A point on the curve moves at most r per radian, and the arc over [u, v]
    // strays at most its sagitta from the chord.
    auto bound = [&](double u, double gu, double v, double gv) {
        double lip = (gu + gv) / 2.0 + r * (v - u) / 2.0;
        if (v - u >= kTwoPi / 4.0) return lip;
        return std::min(lip, chord_bound(at(u), at(v), B, s) + r * (1.0 - std::cos((v - u) / 2.0)));
    };
    for (auto [a0, a1] : arcs) {
        if (s.budget <= 0) return;
        if (a1 > a0 && stretch_inside(a0, a1, at, B)) maximise(a0, a1, at, bound, B, s);
    }
}

// Deepest point inside ring B of a curve whose points lie at distances
// [near, far] from B's centre: the material's depth min(R - d, d - bore) is
// largest where d is nearest the middle of the wall.
double into_ring(const Outline& b, double near, double far) {
    const double d = std::clamp((b.radius + b.bore) / 2.0, near, far);
    return std::min(b.radius - d, d - b.bore);
}

// How far A's outline reaches into B.
void outline_into(const Item& A, const Item& B, DepthSearch& s) {
    const Outline& a = *A.o;
    const Outline& b = *B.o;
    if (b.circle && b.bore > 0.0) {
        if (a.circle) {
            const double D = norm(vsub(a.center, b.center));
            for (const Curve& ca : curves(a)) s.found(into_ring(b, std::fabs(ca.r - D), ca.r + D));
        } else {
            for (const Edge& e : A.edges)
                s.found(into_ring(b, dist_pt_seg(b.center, e.a, e.b),
                                  std::max(norm(vsub(e.a, b.center)), norm(vsub(e.b, b.center)))));
        }
        return;
    }
    if (b.circle) {
        // Inside a circle the distance to its curve is r - |p - c|, largest at
        // the point nearest the centre.
        if (a.circle) {
            const double D = norm(vsub(a.center, b.center));
            for (const Curve& ca : curves(a)) s.found(b.radius - std::fabs(ca.r - D));
        } else {
            for (const Edge& e : A.edges) s.found(b.radius - dist_pt_seg(b.center, e.a, e.b));
        }
        return;
    }
    if (a.circle) {
        for (const Curve& ca : curves(a)) circle_into_polygon(ca.c, ca.r, a.box, B, s);
        return;
    }
    for (const Edge& e : A.edges) {
        if (s.budget <= 0) return;
        if (boxes_meet(e.box, b.box, 0.0)) segment_into_polygon(e.a, e.b, B, s);
    }
}

double overlap_depth(Item& A, Item& B, double allowed, double eps_abs) {
    check_cancel();
    DepthSearch s;
    s.allowed = allowed;
    s.eps_abs = eps_abs;
    witness_depth(A, B, s);
    witness_depth(B, A, s);
    outline_into(A, B, s);
    outline_into(B, A, s);
    return s.best;
}

double magnitude(const BBox& b) {
    return std::max(std::max(std::fabs(b.minx), std::fabs(b.maxx)), std::max(std::fabs(b.miny), std::fabs(b.maxy)));
}

}  // namespace

PairMeasure measure(Item& A, Item& B, double cutoff, double allowed) {
    double eps_abs = 1e-12 * (1.0 + std::max(magnitude(A.o->box), magnitude(B.o->box)));
    // A gap of rounding size must be seen whatever the cutoff: a curve that
    // touches the other from inside puts its probe on that curve.
    double gap = boundary_gap(A, B, std::max(cutoff, eps_abs));
    if (gap > eps_abs) {
        // The curves are apart: the interiors meet only if one lies in the
        // other. A point of either curve is then farther than rounding from
        // the other curve, so the ray test tells its side reliably. A gap of
        // rounding size is contact: the depth search below decides it.
        if (!in_region(A, probe(B)) && !in_region(B, probe(A))) return {gap, 0.0};
    }
    double depth = overlap_depth(A, B, allowed, eps_abs);
    if (depth > 0.0) return {-depth, depth};
    return {0.0, 0.0};
}

}  // namespace check_detail
}  // namespace quarvo
