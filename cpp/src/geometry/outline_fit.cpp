#include "geometry/outline_fit.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "quarvo/constants.hpp"

namespace quarvo {

namespace {

double segment_distance(Pt p, Pt a, Pt b) {
    const double dx = b.x - a.x, dy = b.y - a.y, l2 = dx * dx + dy * dy;
    const double u = l2 > 0 ? std::min(1.0, std::max(0.0, ((p.x - a.x) * dx + (p.y - a.y) * dy) / l2)) : 0.0;
    return hypot_cr(p.x - a.x - u * dx, p.y - a.y - u * dy);
}

double outline_distance(Pt p, const Contour& c) {
    double d = std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i + 1 < c.size(); ++i) d = std::min(d, segment_distance(p, c[i], c[i + 1]));
    return d;
}

// How far p lies outside the contour: 0 inside or on it.
double outside_by(Pt p, const Contour& c) { return point_in_polygon(p, c) ? 0.0 : outline_distance(p, c); }

// The parameter along a-b at which it crosses c-d properly (each segment's
// ends strictly on either side of the other's line), or -1.
double crossing_at(Pt a, Pt b, Pt c, Pt d) {
    const double d1 = cross(vsub(d, c), vsub(a, c)), d2 = cross(vsub(d, c), vsub(b, c));
    const double d3 = cross(vsub(b, a), vsub(c, a)), d4 = cross(vsub(b, a), vsub(d, a));
    if (!((d1 > 0 && d2 < 0) || (d1 < 0 && d2 > 0))) return -1.0;
    if (!((d3 > 0 && d4 < 0) || (d3 < 0 && d4 > 0))) return -1.0;
    return d1 / (d1 - d2);
}

// Whether `hit` holds for the middle of a stretch of an edge of `poly`
// between two crossings of outline `c`: where the stretches of a polygon lie
// on either side of another's outline.
template <class Hit, class Stop>
bool any_stretch_middle(const Contour& poly, const Contour& c, const Hit& hit, const Stop& stop) {
    std::vector<double> at;
    for (std::size_t i = 0; i + 1 < poly.size(); ++i) {
        if (i % 64 == 63) stop();
        const Pt a = poly[i], b = poly[i + 1];
        at.clear();
        for (std::size_t k = 0; k + 1 < c.size(); ++k) {
            const double t = crossing_at(a, b, c[k], c[k + 1]);
            if (t >= 0.0) at.push_back(t);
        }
        std::sort(at.begin(), at.end());
        for (std::size_t k = 0; k + 1 < at.size(); ++k) {
            const double m = (at[k] + at[k + 1]) / 2;
            if (hit(Pt{a.x + (b.x - a.x) * m, a.y + (b.y - a.y) * m})) return true;
        }
    }
    return false;
}

}  // namespace

bool polygon_in_room(const Contour& poly, const Contour& room, double slack, const std::function<void()>& stop) {
    if (poly.size() < 2 || room.size() < 4) return false;
    for (std::size_t i = 0; i + 1 < poly.size(); ++i)
        if (outside_by(poly[i], room) > slack) return false;
    // A room's vertex inside the polygon is a corner of the room reaching into it.
    for (std::size_t k = 0; k + 1 < room.size(); ++k)
        if (point_in_polygon(room[k], poly) && outline_distance(room[k], poly) > slack) return false;
    return !any_stretch_middle(poly, room, [&](Pt m) { return outside_by(m, room) > slack; }, stop);
}

bool outlines_overlap(const Contour& a, const Contour& b, double slack) {
    auto deep_in = [&](Pt p, const Contour& c) { return point_in_polygon(p, c) && outline_distance(p, c) > slack; };
    for (std::size_t i = 0; i + 1 < a.size(); ++i)
        if (deep_in(a[i], b)) return true;
    for (std::size_t k = 0; k + 1 < b.size(); ++k)
        if (deep_in(b[k], a)) return true;
    return any_stretch_middle(a, b, [&](Pt m) { return deep_in(m, b); }, [] {});
}

void remove_spikes(Contour& c) {
    if (c.size() < 4) return;
    double magnitude = 0.0;
    for (const Pt& p : c) magnitude = std::max({magnitude, std::fabs(p.x), std::fabs(p.y)});
    const double eps = ROUNDING_TOLERANCE * magnitude;
    // b between a and c turns back along a-b: c lies on a-b's line, or a on b-c's
    auto spike = [&](Pt a, Pt b, Pt c) {
        const Pt u = vsub(b, a), v = vsub(c, b);
        if (u.x * v.x + u.y * v.y >= 0) return false;
        return std::fabs(cross(u, v)) <= eps * std::max(std::hypot(u.x, u.y), std::hypot(v.x, v.y));
    };
    std::vector<Pt> out;
    out.reserve(c.size());
    auto push = [&](Pt p) {
        // each new point may complete a spike, or repeat the last
        while (!out.empty() && (out.back() == p || (out.size() >= 2 && spike(out[out.size() - 2], out.back(), p))))
            out.pop_back();
        out.push_back(p);
    };
    for (std::size_t i = 0; i + 1 < c.size(); ++i) push(c[i]);
    // around the closing point: the first points against the last ones
    for (bool changed = true; changed && out.size() >= 3;) {
        changed = false;
        const std::size_t n = out.size();
        if (out[n - 1] == out[0] || spike(out[n - 2], out[n - 1], out[0])) {
            out.pop_back();
            changed = true;
        } else if (spike(out[n - 1], out[0], out[1])) {
            out.erase(out.begin());
            changed = true;
        }
    }
    if (out.size() < 3) return;  // nothing left but spikes: left as it was
    out.push_back(out.front());
    c = std::move(out);
}

void keep_true_cavities(Region& nfp, const Contour& A, const Contour& B, Pt ref, double slack) {
    auto overlaps_at = [&](Pt p) {
        Contour moved;
        moved.reserve(B.size());
        for (const Pt& q : B) moved.push_back({q.x + (p.x - ref.x), q.y + (p.y - ref.y)});
        return outlines_overlap(moved, A, slack);
    };
    auto false_cavity = [&](const Contour& hole) {
        for (std::size_t i = 0; i + 1 < hole.size(); ++i) {
            const Pt a = hole[i], b = hole[i + 1];
            if (overlaps_at(a) || overlaps_at({(a.x + b.x) / 2, (a.y + b.y) / 2})) return true;
        }
        return false;
    };
    // A sum of two connected outlines is connected: after its outer contour
    // come only its holes, counter-clockwise. Anything else is the grid's too.
    if (nfp.size() < 2) return;
    nfp.erase(std::remove_if(nfp.begin() + 1, nfp.end(),
                             [&](const Contour& c) { return !(polygon_area(c) > 0) || false_cavity(c); }),
              nfp.end());
}

}  // namespace quarvo
