#include "geometry/rest.hpp"

#include <algorithm>
#include <cmath>

#include "quarvo/constants.hpp"

namespace quarvo {

namespace {

// Beyond this magnitude squared lengths overflow: such an item is not judged.
constexpr double kMaxCoord = 1e100;
// Normals whose upward part is no lower than this count as level (walls, vertical edges).
constexpr double kLevel = 1e-9;
// Two normals this close to opposite (radians) count as opposite.
constexpr double kOpposite = 1e-9;

bool usable_value(double v) { return std::isfinite(v) && std::fabs(v) <= kMaxCoord; }

double dot(Pt a, Pt b) { return a.x * b.x + a.y * b.y; }
double len(Pt a) { return std::hypot(a.x, a.y); }
Pt scale(Pt a, double k) { return {a.x * k, a.y * k}; }

// Number of edges of a contour taken as closed: a repeated first point adds none.
std::size_t edge_count(const Contour& r) {
    if (r.size() < 2) return 0;
    return r.front() == r.back() ? r.size() - 1 : r.size();
}
Pt edge_end(const Contour& r, std::size_t i) { return r[(i + 1) % r.size()]; }

double ring_area(const Contour& r) {
    double s = 0.0;
    for (std::size_t i = 0, n = edge_count(r); i < n; ++i) {
        Pt a = r[i], b = edge_end(r, i);
        s += a.x * b.y - b.x * a.y;
    }
    return s / 2.0;
}

Pt ring_centroid(const Contour& r, double area) {
    double sx = 0.0, sy = 0.0;
    for (std::size_t i = 0, n = edge_count(r); i < n; ++i) {
        Pt a = r[i], b = edge_end(r, i);
        double k = a.x * b.y - b.x * a.y;
        sx += (a.x + b.x) * k;
        sy += (a.y + b.y) * k;
    }
    return {sx / (6.0 * area), sy / (6.0 * area)};
}

// The unit normal of edge a-b pointing out of the contour (whose signed area is `area`).
Pt outward(Pt a, Pt b, double area) {
    Pt d = vsub(b, a);
    double l = len(d);
    if (!(l > 0.0)) return {0.0, 0.0};
    Pt left{-d.y / l, d.x / l};
    return area < 0.0 ? left : Pt{-left.x, -left.y};
}

// Nearest point of segment a-b to p, and its parameter before clamping.
Pt nearest_on(Pt p, Pt a, Pt b, double& t_raw) {
    Pt d = vsub(b, a);
    double l2 = dot(d, d);
    t_raw = l2 > 0.0 ? dot(vsub(p, a), d) / l2 : 0.0;
    double t = std::clamp(t_raw, 0.0, 1.0);
    return {a.x + t * d.x, a.y + t * d.y};
}

// The nearest point of the contour to p, its edge and whether it lies inside that edge.
struct Nearest {
    double dist = kInf;
    std::size_t edge = 0;
    Pt at{};
    bool inside = false;
};
Nearest nearest_on_ring(Pt p, const Contour& r) {
    Nearest best;
    for (std::size_t i = 0, n = edge_count(r); i < n; ++i) {
        double t;
        const Pt q = nearest_on(p, r[i], edge_end(r, i), t);
        const Pt d = vsub(p, q);
        const double d2 = dot(d, d);
        if (d2 < best.dist) {
            best.dist = d2;
            best.edge = i;
            best.at = q;
            best.inside = t > 0.0 && t < 1.0;
        }
    }
    best.dist = std::sqrt(best.dist);
    return best;
}

// The way a contact between a corner and a contour pushes: across the side
// when the corner meets it inside, else from one corner to the other, and
// unknown (level) for two corners that coincide.
Pt corner_normal(const Nearest& n, Pt corner, Pt side_normal) {
    if (n.inside) return side_normal;
    return n.dist > 0.0 ? scale(vsub(corner, n.at), 1.0 / n.dist) : Pt{0.0, 0.0};
}

bool in_ring(Pt p, const Contour& r) {
    bool inside = false;
    for (std::size_t i = 0, n = edge_count(r); i < n; ++i) {
        Pt a = r[i], b = edge_end(r, i);
        if ((a.y > p.y) != (b.y > p.y)) {
            double x = a.x + (p.y - a.y) * (b.x - a.x) / (b.y - a.y);
            if (p.x < x) inside = !inside;
        }
    }
    return inside;
}

bool in_loop(Pt p, const RestLoop& l) {
    return l.round ? len(vsub(p, l.center)) < l.radius : in_ring(p, l.ring);
}

BBox loop_box(const RestLoop& l) {
    if (l.round) return {l.center.x - l.radius, l.center.y - l.radius, l.center.x + l.radius, l.center.y + l.radius};
    BBox b{kInf, kInf, -kInf, -kInf};
    for (Pt p : l.ring) b = {std::min(b.minx, p.x), std::min(b.miny, p.y), std::max(b.maxx, p.x), std::max(b.maxy, p.y)};
    return b;
}

bool near_box(Pt p, const BBox& b, double c) {
    return p.x >= b.minx - c && p.x <= b.maxx + c && p.y >= b.miny - c && p.y <= b.maxy + c;
}

bool loop_usable(const RestLoop& l) {
    if (l.round) return usable_value(l.center.x) && usable_value(l.center.y) && usable_value(l.radius) && l.radius >= 0.0;
    if (edge_count(l.ring) < 3) return false;
    for (Pt p : l.ring)
        if (!usable_value(p.x) || !usable_value(p.y)) return false;
    return true;
}

// Where a horizontal line at height y crosses the loop.
void crossings(const RestLoop& l, double y, std::vector<double>& xs) {
    if (l.round) {
        double dy = y - l.center.y, h = l.radius * l.radius - dy * dy;
        if (h > 0.0) {
            double w = std::sqrt(h);
            xs.push_back(l.center.x - w);
            xs.push_back(l.center.x + w);
        }
        return;
    }
    for (std::size_t i = 0, n = edge_count(l.ring); i < n; ++i) {
        Pt a = l.ring[i], b = edge_end(l.ring, i);
        if ((a.y > y) != (b.y > y)) xs.push_back(a.x + (y - a.y) * (b.x - a.x) / (b.y - a.y));
    }
}

// Area and centroid of a loop's inside.
double loop_area(const RestLoop& l, Pt& c) {
    if (l.round) {
        c = l.center;
        return kPi * l.radius * l.radius;
    }
    double a = ring_area(l.ring);
    if (a == 0.0) {
        c = l.ring.front();
        return 0.0;
    }
    c = ring_centroid(l.ring, a);
    return std::fabs(a);
}

void add(std::vector<RestContact>& out, long other, Pt at, Pt normal, bool cradle) {
    out.push_back({other, at, normal, cradle});
}

// A round item against one loop of a neighbour: outside it, or inside it
// (`hollow`, the loop being a hole or bore).
void round_contacts(const RestLoop& x, const RestLoop& y, bool hollow, double allow, long j,
                    std::vector<RestContact>& out) {
    const Pt c = x.center;
    const double r = x.radius;
    if (y.round) {
        Pt d = vsub(c, y.center);
        double dist = len(d);
        if (!hollow) {
            if (dist - r - y.radius <= allow && dist > 0.0) {
                Pt u = scale(d, 1.0 / dist);
                add(out, j, vadd(y.center, scale(u, y.radius)), u, false);
            }
        } else if (y.radius - dist - r <= allow) {
            if (dist > 0.0) {
                Pt u = scale(d, 1.0 / dist);
                add(out, j, vadd(y.center, scale(u, y.radius)), Pt{-u.x, -u.y}, true);
            } else {
                add(out, j, {c.x, y.center.y - y.radius}, {0.0, 1.0}, true);  // held all round
            }
        }
        return;
    }
    const double area = ring_area(y.ring);
    const double reach = r + allow;
    for (std::size_t i = 0, edges = edge_count(y.ring); i < edges; ++i) {
        Pt a = y.ring[i], b = edge_end(y.ring, i);
        if (std::min(a.x, b.x) > c.x + reach || std::max(a.x, b.x) < c.x - reach || std::min(a.y, b.y) > c.y + reach ||
            std::max(a.y, b.y) < c.y - reach)
            continue;
        double t;
        Pt q = nearest_on(c, a, b, t);
        double dist = len(vsub(c, q));
        if (dist - r > allow) continue;
        Pt n = outward(a, b, area);
        if (hollow) n = {-n.x, -n.y};  // a hole's wall pushes into the hole
        if (dist > 0.0) n = scale(vsub(c, q), 1.0 / dist);
        if (n.x == 0.0 && n.y == 0.0) continue;
        // a straight stretch of wall under the item, not one of its corners
        add(out, j, q, n, t > 0.0 && t < 1.0);
    }
}

// A polygon (its outer contour) against one loop of a neighbour.
void polygon_contacts(const Contour& xr, const BBox& xbox, const RestLoop& y, bool hollow, double allow, long j,
                      std::vector<RestContact>& out) {
    const std::size_t nx = edge_count(xr);
    if (y.round) {
        for (std::size_t i = 0; i < nx; ++i) {
            Pt a = xr[i], b = edge_end(xr, i);
            if (!hollow) {
                double t;
                Pt q = nearest_on(y.center, a, b, t);
                double dist = len(vsub(q, y.center));
                if (dist - y.radius <= allow && dist > 0.0) add(out, j, q, scale(vsub(q, y.center), 1.0 / dist), false);
            } else {
                double dist = len(vsub(a, y.center));
                if (y.radius - dist <= allow)
                    add(out, j, a, dist > 0.0 ? scale(vsub(y.center, a), 1.0 / dist) : Pt{0.0, 1.0}, false);
            }
        }
        return;
    }
    const Contour& yr = y.ring;
    const double xa = ring_area(xr), ya = ring_area(yr);
    const BBox ybox = loop_box(y);
    // A corner of the item against the neighbour: a side pushes out of its material.
    for (std::size_t i = 0; i < nx; ++i) {
        const Pt v = xr[i];
        if (!near_box(v, ybox, allow)) continue;
        const Nearest f = nearest_on_ring(v, yr);
        if (f.dist > allow) continue;
        Pt n = outward(yr[f.edge], edge_end(yr, f.edge), ya);
        if (hollow) n = {-n.x, -n.y};
        add(out, j, v, corner_normal(f, v, n), false);
    }
    // A corner of the neighbour against a side of the item: it pushes into the item.
    for (std::size_t i = 0, ny = edge_count(yr); i < ny; ++i) {
        const Pt w = yr[i];
        if (!near_box(w, xbox, allow)) continue;
        const Nearest e = nearest_on_ring(w, xr);
        if (e.dist > allow || !e.inside) continue;  // corner to corner: found from the item's side
        const Pt n = outward(xr[e.edge], edge_end(xr, e.edge), xa);
        add(out, j, e.at, Pt{-n.x, -n.y}, false);
    }
}

RestReason round_verdict(const RestBody& item, const std::vector<RestContact>& contacts, double tol) {
    if (contacts.empty()) return RestReason::NoContact;
    const Pt c = item.outer.center;
    bool below = false, balanced = false;
    double max_left = -kInf, min_right = kInf;
    long source = kRestFloor - 10;  // none yet
    bool one_source = true;
    for (const RestContact& k : contacts) {
        const Pt n = k.normal;
        if (n.y > 0.0) {
            if (source == kRestFloor - 10) source = k.other;
            else if (source != k.other) one_source = false;
        }
        if (n.y > 0.0 && std::fabs(k.at.x - c.x) <= tol) {
            if (k.cradle) return RestReason::Rests;
            balanced = true;
            continue;
        }
        if (n.y > 0.0) below = true;
        const double a = std::atan2(n.x, n.y);  // 0 straight up, positive leaning right
        if (a < 0.0) max_left = std::max(max_left, a);
        if (a > 0.0) min_right = std::min(min_right, a);
    }
    // normals opposite each other (a disc between two upright sides) hold nothing up
    if (min_right - max_left < kPi - kOpposite) return RestReason::Rests;
    if (balanced) return RestReason::Balanced;
    if (!below) return RestReason::NoneBelow;
    return one_source ? RestReason::OneContact : RestReason::OneSide;
}

RestReason polygon_verdict(const RestBody& item, const std::vector<RestContact>& contacts) {
    if (contacts.empty()) return RestReason::NoContact;
    bool left = false, right = false, support = false;
    for (const RestContact& k : contacts) {
        if (k.other == kRestFloor) return RestReason::Rests;
        if (k.normal.y < -kLevel || !(k.at.y < item.centroid.y)) continue;  // a load, or above the centroid
        support = true;
        if (k.at.x < item.centroid.x) left = true;
        if (k.at.x > item.centroid.x) right = true;
    }
    if (left && right) return RestReason::Rests;
    return support ? RestReason::PolygonOneSide : RestReason::PolygonNoneBelow;
}

}  // namespace

const char* rest_reason_text(RestReason r) {
    switch (r) {
        case RestReason::Rests: return "at rest";
        case RestReason::NoContact: return "no contact";
        case RestReason::NoneBelow: return "no contact below";
        case RestReason::Balanced: return "balanced on one point right below its centre";
        case RestReason::OneContact: return "one contact, not below its centre";
        case RestReason::OneSide: return "contacts on one side only";
        case RestReason::PolygonNoneBelow: return "no contact below its centroid";
        case RestReason::PolygonOneSide: return "contacts below its centroid on one side only";
    }
    return "no contact";
}

void RestBody::finish() {
    usable = loop_usable(outer) && usable_value(spacing);
    for (const RestLoop& h : holes) usable = usable && loop_usable(h);
    if (!usable) return;
    box = loop_box(outer);
    const double s = std::max(spacing, 0.0);
    excess = outer.round ? (outer.radius + s) * (1.0 / std::cos(kPi / kCircleSides) - 1.0) : 0.0;

    Pt c0;
    double a0 = loop_area(outer, c0);
    double sx = a0 * c0.x, sy = a0 * c0.y, a = a0;
    for (const RestLoop& h : holes) {
        Pt ch;
        double ah = loop_area(h, ch);
        sx -= ah * ch.x;
        sy -= ah * ch.y;
        a -= ah;
    }
    centroid = a > 0.0 && std::isfinite(sx / a) && std::isfinite(sy / a) ? Pt{sx / a, sy / a} : c0;

    // The middle of the widest stretch of material on a few horizontal lines.
    inner = centroid;
    if (outer.round && holes.empty()) {
        inner = outer.center;
        return;
    }
    double widest = 0.0;
    std::vector<double> xs;
    for (double f : {0.5, 0.25, 0.75, 0.375, 0.625}) {
        const double y = box.miny + (box.maxy - box.miny) * f;
        xs.clear();
        crossings(outer, y, xs);
        for (const RestLoop& h : holes) crossings(h, y, xs);
        std::sort(xs.begin(), xs.end());
        for (std::size_t k = 0; k + 1 < xs.size(); k += 2) {
            if (xs[k + 1] - xs[k] > widest) {
                widest = xs[k + 1] - xs[k];
                inner = {xs[k] + widest / 2.0, y};
            }
        }
    }
}

double rest_reach(const RestBody& b) { return std::max(b.spacing, 0.0) + b.excess; }

bool may_touch(const RestBody& a, const RestBody& b, double tol) {
    const double c = rest_reach(a) + rest_reach(b) + tol;
    return a.box.minx - c <= b.box.maxx && b.box.minx <= a.box.maxx + c && a.box.miny - c <= b.box.maxy &&
           b.box.miny <= a.box.maxy + c;
}

long hole_holding(const RestBody& item, const RestBody& host) {
    for (std::size_t h = 0; h < host.holes.size(); ++h)
        if (in_loop(item.inner, host.holes[h])) return static_cast<long>(h);
    return -1;
}

RestVerdict judge_rest(const RestBody& item, const std::vector<const RestBody*>& near, const RestFrame& frame) {
    RestVerdict v;
    if (!item.usable) return v;
    const double s = std::max(item.spacing, 0.0);
    // The floor and the walls are straight and the placers keep an item's
    // true outline off them by its spacing or the margin exactly: no more.
    const double wall = std::max(s, frame.margin) + frame.tol;
    const RestLoop& x = item.outer;
    if (x.round) {
        const Pt c = x.center;
        const double r = x.radius;
        if (c.y - r <= wall) add(v.contacts, kRestFloor, {c.x, c.y - r}, {0.0, 1.0}, true);
        if (c.x - r <= wall) add(v.contacts, kRestLeftWall, {c.x - r, c.y}, {1.0, 0.0}, false);
        if (frame.width - (c.x + r) <= wall) add(v.contacts, kRestRightWall, {c.x + r, c.y}, {-1.0, 0.0}, false);
    } else {
        for (std::size_t i = 0, n = edge_count(x.ring); i < n; ++i) {
            const Pt p = x.ring[i];
            if (p.y <= wall) add(v.contacts, kRestFloor, p, {0.0, 1.0}, true);
            if (p.x <= wall) add(v.contacts, kRestLeftWall, p, {1.0, 0.0}, false);
            if (frame.width - p.x <= wall) add(v.contacts, kRestRightWall, p, {-1.0, 0.0}, false);
        }
    }
    for (std::size_t j = 0; j < near.size(); ++j) {
        const RestBody* y = near[j];
        if (y == &item || !y->usable || !may_touch(item, *y, frame.tol)) continue;
        if (hole_holding(*y, item) >= 0) continue;  // it lies in this item: a load, not a support
        const long k = hole_holding(item, *y);
        const RestLoop& loop = k >= 0 ? y->holes[static_cast<std::size_t>(k)] : y->outer;
        const double allow = s + std::max(y->spacing, 0.0) + frame.tol + item.excess + y->excess;
        const long who = static_cast<long>(j);
        if (x.round) round_contacts(x, loop, k >= 0, allow, who, v.contacts);
        else polygon_contacts(x.ring, item.box, loop, k >= 0, allow, who, v.contacts);
    }
    v.reason = x.round ? round_verdict(item, v.contacts, frame.tol) : polygon_verdict(item, v.contacts);
    return v;
}

}  // namespace quarvo
