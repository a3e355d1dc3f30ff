// The fine integer grid of the Minkowski sums and the mitred offset: a power
// of two per unit, as fine as Clipper's range allows for the coordinates at
// hand (at most 2^30), so that snapping costs far less than the 1e-6 grid of
// the union the results then enter.
#pragma once
#include <polyclipping/clipper.hpp>

#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "quarvo/errors.hpp"
#include "quarvo/kernel.hpp"

namespace quarvo {

// A power-of-two grid fine enough for the coordinates at hand: every sum and
// difference of two of them stays well inside Clipper's range (2^62).
struct FineGrid {
    double scale;

    static FineGrid for_contours(std::initializer_list<const Contour*> cs) {
        double big = 1.0;
        for (const Contour* c : cs)
            for (const Pt& p : *c) {
                if (!std::isfinite(p.x) || !std::isfinite(p.y))
                    throw ValueError("Minkowski sum of a contour with a NaN or infinite coordinate");
                big = std::max({big, std::fabs(p.x), std::fabs(p.y)});
            }
        if (big > 1e13) throw ValueError("Minkowski sum of a contour with a coordinate beyond 1e13 in magnitude");
        int e = 30;
        while (e > -60 && std::ldexp(big, e + 3) >= 0x1p61) --e;
        return {std::ldexp(1.0, e)};
    }
    ClipperLib::cInt to(double v) const { return static_cast<ClipperLib::cInt>(std::nearbyint(v * scale)); }
    double from(ClipperLib::cInt v) const { return static_cast<double>(v) / scale; }

    // The contour on the grid, without its closing point, consecutive repeats dropped.
    ClipperLib::Path path(const Contour& c, bool negate = false) const {
        ClipperLib::Path p;
        p.reserve(c.size());
        const double k = negate ? -1.0 : 1.0;
        for (const Pt& q : c) {
            ClipperLib::IntPoint ip(to(k * q.x), to(k * q.y));
            if (p.empty() || !(p.back() == ip)) p.push_back(ip);
        }
        while (p.size() > 1 && p.front() == p.back()) p.pop_back();
        return p;
    }
};

}  // namespace quarvo
