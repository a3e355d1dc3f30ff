#include "quarvo/kernel.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "geometry/exact_sum.hpp"
#include "quarvo/cancel.hpp"
#include "quarvo/errors.hpp"

namespace quarvo {

namespace {

constexpr long long kMaxCircleVertices = 10000000;

bool mantissa_even(double v) {
    unsigned long long bits;
    std::memcpy(&bits, &v, sizeof bits);
    return (bits & 1ULL) == 0;
}

[[noreturn]] void empty_sequence(const char* fn) {
    throw ValueError(std::string(fn) + "() arg is an empty sequence");
}

}  // namespace

double hypot_cr(double x, double y) {
    double a = std::fabs(x), b = std::fabs(y);
    if (std::isinf(a) || std::isinf(b)) return kInf;
    if (std::isnan(a) || std::isnan(b)) return std::numeric_limits<double>::quiet_NaN();
    if (a < b) std::swap(a, b);
    if (b == 0.0) return a;
    if (a < 2.2250738585072014e-308) {
        // Both subnormal: the length is a whole number of 2^-1074 units (it stays
        // below 2^-1021, where that is still the spacing), so round an integer
        // square root instead of scaling back a rounded value a second time.
        __extension__ typedef unsigned __int128 u128;
        const u128 xi = static_cast<unsigned long long>(std::scalbn(a, 1074));
        const u128 yi = static_cast<unsigned long long>(std::scalbn(b, 1074));
        const u128 sum = xi * xi + yi * yi;
        unsigned long long r = static_cast<unsigned long long>(std::sqrt(static_cast<double>(sum)));
        while (static_cast<u128>(r) * r > sum) --r;
        while (static_cast<u128>(r + 1) * (r + 1) <= sum) ++r;
        // sum is an integer, so it never equals (r + 1/2)^2 = r^2 + r + 1/4: no ties.
        if (sum - static_cast<u128>(r) * r > r) ++r;
        return std::scalbn(static_cast<double>(r), -1074);
    }
    int e = std::ilogb(a);
    // b/a below 2^-59: the exact length exceeds a by less than 2^-118 of it.
    if (std::ilogb(b) < e - 60) return a;
    double as = std::scalbn(a, -e), bs = std::scalbn(b, -e);
    double h = std::sqrt(as * as + bs * bs);
    const double a2h = as * as, a2l = std::fma(as, as, -a2h);
    const double b2h = bs * bs, b2l = std::fma(bs, bs, -b2h);
    for (int iter = 0; iter < 8; ++iter) {
        double up = std::nextafter(h, kInf) - h;
        double dn = h - std::nextafter(h, 0.0);
        double hh = h * h, hl = std::fma(h, h, -hh);
        double above[8] = {a2h, a2l, b2h, b2l, -hh, -hl, -(h * up), -(up * up * 0.25)};
        int su = sign_of_sum(above, 8);
        if (su > 0) { h = h + up; continue; }
        if (su == 0) { if (!mantissa_even(h)) h = h + up; break; }
        double below[8] = {a2h, a2l, b2h, b2l, -hh, -hl, h * dn, -(dn * dn * 0.25)};
        int sd = sign_of_sum(below, 8);
        if (sd < 0) { h = h - dn; continue; }
        if (sd == 0) { if (!mantissa_even(h)) h = h - dn; break; }
        break;
    }
    return std::scalbn(h, e);
}

double round6(double v) {
    if (!std::isfinite(v)) return v;
    double y = v * 1e6;
    double ay = std::fabs(y);
    if (ay < 4503599627370496.0) {
        double frac = ay - std::floor(ay);
        if (std::fabs(frac - 0.5) > ay * 2.3e-16 + 1e-300) return std::nearbyint(y) / 1e6;
    }
    // Near a tie or beyond 2^52: decimal formatting is correctly rounded.
    char buf[400];
    std::snprintf(buf, sizeof buf, "%.6f", v);
    return std::strtod(buf, nullptr);
}

double polygon_area(const Contour& pts) {
    double s = 0.0;
    for (std::size_t i = 0; i + 1 < pts.size(); ++i)
        s += pts[i].x * pts[i + 1].y - pts[i + 1].x * pts[i].y;
    return s / 2.0;
}

Contour ensure_winding(const Contour& pts, bool clockwise) {
    if (pts.size() < 2) return pts;
    Contour closed = pts;
    if (closed.front() != closed.back()) closed.push_back(closed.front());
    bool is_cw = polygon_area(closed) < 0;
    if (is_cw != clockwise) std::reverse(closed.begin(), closed.end());
    return closed;
}

BBox polygon_bbox(const Contour& pts) {
    if (pts.empty()) empty_sequence("min");
    BBox b{pts[0].x, pts[0].y, pts[0].x, pts[0].y};
    for (const Pt& p : pts) if (p.x < b.minx) b.minx = p.x;
    for (const Pt& p : pts) if (p.y < b.miny) b.miny = p.y;
    for (const Pt& p : pts) if (p.x > b.maxx) b.maxx = p.x;
    for (const Pt& p : pts) if (p.y > b.maxy) b.maxy = p.y;
    return b;
}

Pt polygon_centroid(const Contour& pts) {
    double a = polygon_area(pts);
    double cx = 0.0, cy = 0.0;
    for (std::size_t i = 0; i + 1 < pts.size(); ++i) {
        double f = pts[i].x * pts[i + 1].y - pts[i + 1].x * pts[i].y;
        cx += (pts[i].x + pts[i + 1].x) * f;
        cy += (pts[i].y + pts[i + 1].y) * f;
    }
    if (std::fabs(a) < 1e-12) {
        if (pts.empty()) throw ZeroDivisionError("division by zero");
        double sx = 0.0, sy = 0.0;
        for (const Pt& p : pts) sx += p.x;
        for (const Pt& p : pts) sy += p.y;
        double n = static_cast<double>(pts.size());
        return {sx / n, sy / n};
    }
    return {cx / (6 * a), cy / (6 * a)};
}

bool is_convex(const Contour& poly) {
    if (poly.size() < 4) return true;
    std::size_t n = poly.size() - 1;
    int sign = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const Pt& a = poly[i];
        const Pt& b = poly[(i + 1) % n];
        const Pt& c = poly[(i + 2) % n];
        double cr = (b.x - a.x) * (c.y - b.y) - (b.y - a.y) * (c.x - b.x);
        if (std::fabs(cr) < 1e-12) continue;
        if (sign == 0) sign = cr > 0 ? 1 : -1;
        else if ((cr > 0) != (sign > 0)) return false;
    }
    return true;
}

Contour circle_to_polygon(Pt center, double radius, long long n) {
    if (n <= 0) throw IndexError("list index out of range");
    if (n > kMaxCircleVertices) throw ValueError("circle_to_polygon: n must be at most 10000000");
    Contour out;
    out.reserve(static_cast<std::size_t>(n) + 1);
    const double dn = static_cast<double>(n);
    for (long long i = 0; i < n; ++i) {
        double a = (kPi / 2) - (((2 * kPi) * static_cast<double>(i)) / dn);
        out.push_back({center.x + radius * std::cos(a), center.y + radius * std::sin(a)});
    }
    out.push_back(out.front());
    return out;
}

Contour circle_outline(Pt center, double radius, bool exact) {
    return circle_to_polygon(center, exact ? radius / std::cos(kPi / kCircleSides) : radius, kCircleSides);
}

double extremum_key(double y) {
    double q = y / EXTREMA_TOL;
    if (std::isnan(q)) throw ValueError("cannot convert float NaN to integer");
    if (std::isinf(q)) throw OverflowError("cannot convert float infinity to integer");
    return std::nearbyint(q);
}

namespace {
// The entry with the greatest (or least) extremum key; the first on ties.
std::size_t extreme_index(const Contour& pts, bool greatest) {
    if (pts.empty()) empty_sequence(greatest ? "max" : "min");
    std::size_t best = 0;
    double bk = extremum_key(pts[0].y);
    for (std::size_t i = 1; i < pts.size(); ++i) {
        double k = extremum_key(pts[i].y);
        bool better = greatest ? key_greater(k, pts[i].x, bk, pts[best].x) : key_greater(bk, pts[best].x, k, pts[i].x);
        if (better) { best = i; bk = k; }
    }
    return best;
}
}  // namespace

std::size_t top_right_index(const Contour& pts) { return extreme_index(pts, true); }
std::size_t bottom_left_index(const Contour& pts) { return extreme_index(pts, false); }

Pt top_right(const Contour& pts) { return pts[top_right_index(pts)]; }
Pt bottom_left(const Contour& pts) { return pts[bottom_left_index(pts)]; }

Pt line_intersection(Pt p1, Pt p2, Pt p3, Pt p4) {
    double d = (p1.x - p2.x) * (p3.y - p4.y) - (p1.y - p2.y) * (p3.x - p4.x);
    if (std::fabs(d) < 1e-12) return p2;
    double t = ((p1.x - p3.x) * (p3.y - p4.y) - (p1.y - p3.y) * (p3.x - p4.x)) / d;
    return {p1.x + t * (p2.x - p1.x), p1.y + t * (p2.y - p1.y)};
}

Contour offset_convex(const Contour& poly, double dist) {
    if (std::fabs(dist) < 1e-12) return poly;
    if (poly.size() < 4) return poly;
    const std::size_t n = poly.size() - 1;
    struct Edge { Pt s, e; };
    std::vector<Edge> shifted;
    shifted.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        const Pt p1 = poly[i], p2 = poly[i + 1];
        double dx = p2.x - p1.x, dy = p2.y - p1.y;
        double length = hypot_cr(dx, dy);
        if (length < 1e-12) continue;
        double nx = -dy / length, ny = dx / length;
        shifted.push_back({{p1.x + dist * nx, p1.y + dist * ny}, {p2.x + dist * nx, p2.y + dist * ny}});
    }
    if (shifted.size() < 3) return poly;
    const std::size_t m = shifted.size();
    Contour out;
    out.reserve(m + 1);
    for (std::size_t i = 0; i < m; ++i) {
        const Edge& e1 = shifted[i];
        const Edge& e2 = shifted[(i + 1) % m];
        out.push_back(line_intersection(e1.s, e1.e, e2.s, e2.e));
    }
    out.push_back(out.front());
    return out;
}

namespace {
inline double orient(Pt p, Pt q, Pt r) { return (q.x - p.x) * (r.y - p.y) - (q.y - p.y) * (r.x - p.x); }
}  // namespace

bool segments_intersect(Pt a, Pt b, Pt c, Pt d) {
    double o1 = orient(a, b, c), o2 = orient(a, b, d), o3 = orient(c, d, a), o4 = orient(c, d, b);
    const double eps = 1e-12;
    if (std::fabs(o1) < eps && std::fabs(o2) < eps && std::fabs(o3) < eps && std::fabs(o4) < eps) {
        return std::max(std::min(a.x, b.x), std::min(c.x, d.x)) <= std::min(std::max(a.x, b.x), std::max(c.x, d.x)) + eps &&
               std::max(std::min(a.y, b.y), std::min(c.y, d.y)) <= std::min(std::max(a.y, b.y), std::max(c.y, d.y)) + eps;
    }
    return (o1 * o2 <= 0) && (o3 * o4 <= 0);
}

void project(const Contour& p, double ax, double ay, double& lo, double& hi) {
    if (p.empty()) empty_sequence("min");
    lo = hi = p[0].x * ax + p[0].y * ay;
    for (std::size_t i = 1; i < p.size(); ++i) {
        double v = p[i].x * ax + p[i].y * ay;
        if (v < lo) lo = v;
    }
    for (std::size_t i = 1; i < p.size(); ++i) {
        double v = p[i].x * ax + p[i].y * ay;
        if (v > hi) hi = v;
    }
}

bool sat_intersects(const Contour& a, const Contour& b) {
    for (const Contour* poly : {&a, &b}) {
        for (std::size_t i = 0; i + 1 < poly->size(); ++i) {
            if ((i & 255) == 255) check_cancel();  // each axis projects both contours
            double ax = -((*poly)[i + 1].y - (*poly)[i].y);
            double ay = (*poly)[i + 1].x - (*poly)[i].x;
            double min1, max1, min2, max2;
            project(a, ax, ay, min1, max1);
            project(b, ax, ay, min2, max2);
            if (max1 < min2 || max2 < min1) return false;
        }
    }
    return true;
}

bool point_in_polygon(Pt pt, const Contour& poly) {
    if (poly.size() < 4) return false;
    const double x = pt.x, y = pt.y;
    const std::size_t n = poly.size() - 1;
    bool inside = false;
    for (std::size_t i = 0; i < n; ++i) {
        const double x1 = poly[i].x, y1 = poly[i].y, x2 = poly[i + 1].x, y2 = poly[i + 1].y;
        if ((x2 - x1) * (y - y1) == (y2 - y1) * (x - x1) && std::min(x1, x2) <= x && x <= std::max(x1, x2) &&
            std::min(y1, y2) <= y && y <= std::max(y1, y2))
            return true;
        if ((y1 > y) != (y2 > y)) {
            double x_int = x1 + (y - y1) * (x2 - x1) / (y2 - y1);
            if (x_int > x) inside = !inside;
        }
    }
    return inside;
}

bool point_in_convex_polygon(Pt pt, const Contour& poly) {
    if (poly.size() < 4) return false;
    const std::size_t n = poly.size() - 1;
    int sign = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const Pt a = poly[i], b = poly[i + 1];
        double c = cross(vsub(b, a), vsub(pt, a));
        if (std::fabs(c) < 1e-12) continue;
        if (sign == 0) sign = c > 0 ? 1 : -1;
        else if ((c > 0) != (sign > 0)) return false;
    }
    return true;
}

namespace {
// Area of the convex hull of the points (monotone chain).
double convex_hull_area(Contour pts) {
    std::sort(pts.begin(), pts.end(), [](const Pt& a, const Pt& b) { return a.x < b.x || (a.x == b.x && a.y < b.y); });
    Contour hull(2 * pts.size() + 1);
    std::size_t k = 0;
    auto turns_left = [&](const Pt& p) {
        return (hull[k - 1].x - hull[k - 2].x) * (p.y - hull[k - 2].y) -
                   (hull[k - 1].y - hull[k - 2].y) * (p.x - hull[k - 2].x) > 0;
    };
    for (const Pt& p : pts) {
        while (k >= 2 && !turns_left(p)) --k;
        hull[k++] = p;
    }
    for (std::size_t i = pts.size() - 1, lower = k + 1; i-- > 0;) {
        while (k >= lower && !turns_left(pts[i])) --k;
        hull[k++] = pts[i];
    }
    hull.resize(k);
    return std::fabs(polygon_area(hull));
}
}  // namespace

bool hides_reflex_corner(const Contour& poly) {
    if (poly.size() < 4) return false;
    const std::size_t n = poly.size() - 1;
    bool skipped = false;
    for (std::size_t i = 0; i < n && !skipped; ++i) {
        const Pt& a = poly[i];
        const Pt& b = poly[(i + 1) % n];
        const Pt& c = poly[(i + 2) % n];
        skipped = std::fabs((b.x - a.x) * (c.y - b.y) - (b.y - a.y) * (c.x - b.x)) < 1e-12;
    }
    if (!skipped) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (!std::isfinite(poly[i].x) || !std::isfinite(poly[i].y)) return false;
    Contour ring(poly.begin(), poly.begin() + static_cast<long>(n));
    ring.push_back(ring.front());
    const double hull = convex_hull_area(Contour(poly.begin(), poly.begin() + static_cast<long>(n)));
    // rounding of the two sums aside, a convex contour fills its hull
    return std::fabs(polygon_area(ring)) < hull * (1.0 - 1e-9);
}

bool convex_ring(const Contour& c) { return is_convex(c) && !hides_reflex_corner(c) && turns_once(c); }

bool turns_once(const Contour& c) {
    double total = 0.0;
    Pt first{}, prev{};
    bool have = false;
    for (std::size_t i = 0; i + 1 < c.size(); ++i) {
        Pt e = vsub(c[i + 1], c[i]);
        if (e.x == 0.0 && e.y == 0.0) continue;
        if (have) total += std::atan2(cross(prev, e), prev.x * e.x + prev.y * e.y);
        else first = e;
        have = true;
        prev = e;
    }
    if (have) total += std::atan2(cross(prev, first), prev.x * first.x + prev.y * first.y);
    return std::fabs(total) < 3 * kPi;
}

}  // namespace quarvo
