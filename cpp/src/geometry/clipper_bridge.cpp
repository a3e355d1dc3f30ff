#include "geometry/clipper_bridge.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "core/validate.hpp"
#include "quarvo/cancel.hpp"
#include "quarvo/errors.hpp"

namespace quarvo {

namespace {
// 128-bit integers are a GCC and Clang extension.
__extension__ typedef __int128 Int128;
__extension__ typedef unsigned __int128 UInt128;
constexpr double kHiRange = 4611686018427387903.0;  // Clipper's hiRange, 2^62 - 1
}

bool on_grid(double v) { return std::fabs(std::nearbyint(v * 1000000)) < kHiRange; }

ClipperLib::cInt to_grid(double v) {
    if (!on_grid(v)) {
        if (std::isnan(v)) throw ValueError("coordinate is NaN");
        throw ValueError("coordinate " + format_number(v) + " is beyond the polygon union's range (|x| * 1e6 must be below 2^62)");
    }
    return static_cast<ClipperLib::cInt>(std::nearbyint(v * 1000000));
}

ClipperLib::Path to_path(const Contour& c) {
    ClipperLib::Path p;
    p.reserve(c.size());
    for (const Pt& q : c) p.push_back(ClipperLib::IntPoint(to_grid(q.x), to_grid(q.y)));
    return p;
}

double from_grid(ClipperLib::cInt v) {
    if (v >= -(1LL << 53) && v <= (1LL << 53)) return static_cast<double>(v) / 1000000;
    // Beyond 2^53 the integer is not a double: divide in 128-bit integers with
    // enough guard bits, fold the remainder into a sticky bit, round once.
    bool neg = v < 0;
    UInt128 n = neg ? static_cast<UInt128>(-static_cast<Int128>(v)) : static_cast<UInt128>(v);
    const int shift = 40;
    n <<= shift;
    UInt128 q = n / 1000000, r = n % 1000000;
    if (r != 0) q |= 1;
    double d = std::ldexp(static_cast<double>(q), -shift);
    return neg ? -d : d;
}

Contour to_contour(const ClipperLib::Path& p) {
    Contour c;
    c.reserve(p.size() + 1);
    for (const ClipperLib::IntPoint& q : p) c.push_back({from_grid(q.X), from_grid(q.Y)});
    if (!c.empty() && c.front() != c.back()) c.push_back(c.front());
    return c;
}

double intersection_area(const Contour& a, const Contour& b) {
    ClipperLib::Clipper c;
    ClipperLib::Path pa = to_path(a), pb = to_path(b);
    c.AddPath(pa, ClipperLib::ptSubject, true);
    c.AddPath(pb, ClipperLib::ptClip, true);
    ClipperLib::Paths sol;
    c.Execute(ClipperLib::ctIntersection, sol, ClipperLib::pftNonZero, ClipperLib::pftNonZero);
    double area = 0.0;
    for (const auto& p : sol) area += ClipperLib::Area(p);
    return std::fabs(area) / (1e6 * 1e6);
}

bool crosses_more_than(const std::vector<const Contour*>& contours, std::size_t limit) {
    constexpr std::size_t kMaxPairs = 200000000;
    struct Seg {
        Pt a, b;
        double y0, y1, x0, x1;
    };
    std::vector<Seg> segs;
    for (const Contour* c : contours) {
        if (c->size() < 2) continue;
        for (std::size_t i = 0; i < c->size(); ++i) {
            Pt a = (*c)[i], b = (*c)[(i + 1) % c->size()];
            if (a == b) continue;
            segs.push_back({a, b, std::min(a.y, b.y), std::max(a.y, b.y), std::min(a.x, b.x), std::max(a.x, b.x)});
        }
    }
    // A sweep over y: each edge meets the edges still active at its lowest y.
    std::sort(segs.begin(), segs.end(), [](const Seg& p, const Seg& q) { return p.y0 < q.y0; });
    auto side = [](Pt o, Pt p, Pt q) {
        double c = cross(vsub(p, o), vsub(q, o));
        return (c > 0) - (c < 0);
    };
    std::vector<const Seg*> active;
    std::size_t pairs = 0, crossings = 0;
    for (std::size_t si = 0; si < segs.size(); ++si) {
        const Seg& s = segs[si];
        if (si % 1024 == 0) check_cancel();
        for (std::size_t k = 0; k < active.size();) {
            if (active[k]->y1 < s.y0) {
                active[k] = active.back();
                active.pop_back();
                continue;
            }
            const Seg& o = *active[k++];
            if (++pairs > kMaxPairs) return false;
            if (o.x1 < s.x0 || s.x1 < o.x0) continue;
            if (side(s.a, s.b, o.a) * side(s.a, s.b, o.b) < 0 && side(o.a, o.b, s.a) * side(o.a, o.b, s.b) < 0 &&
                ++crossings > limit)
                return true;
        }
        active.push_back(&s);
    }
    return false;
}

}  // namespace quarvo
