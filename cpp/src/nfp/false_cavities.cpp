#include "nfp/false_cavities.hpp"

#include <cmath>
#include <memory>
#include <utility>

#include "quarvo/check.hpp"

namespace quarvo {

namespace {

double perimeter(const Contour& c) {
    double p = 0.0;
    for (std::size_t i = 0; i + 1 < c.size(); ++i) p += std::hypot(c[i + 1].x - c[i].x, c[i + 1].y - c[i].y);
    return p;
}

// Whether B with its reference point at p overlaps A by more than rounding.
bool overlaps_at(const Outline& a, const Contour& B, Pt ref, Pt p) {
    Contour moved;
    moved.reserve(B.size());
    for (const Pt& q : B) moved.push_back({q.x + (p.x - ref.x), q.y + (p.y - ref.y)});
    return measure_pair(a, polygon_outline(moved)).depth > 1e-6;
}

}  // namespace

void drop_false_cavities(Region& r, const Contour& A, const Contour& B, Pt ref, double thin) {
    Region kept;
    kept.reserve(r.size());
    std::unique_ptr<Outline> a;  // built on the first thin hole
    for (Contour& c : r) {
        const double area = polygon_area(c);  // holes run counter-clockwise
        const double per = perimeter(c);
        if (area > 0 && per > 0 && 2.0 * area / per < thin) {
            std::size_t longest = 0;
            double len = -1.0;
            for (std::size_t i = 0; i + 1 < c.size(); ++i) {
                const double l = std::hypot(c[i + 1].x - c[i].x, c[i + 1].y - c[i].y);
                if (l > len) { len = l; longest = i; }
            }
            const Pt mid{(c[longest].x + c[longest + 1].x) / 2.0, (c[longest].y + c[longest + 1].y) / 2.0};
            if (!a) a = std::make_unique<Outline>(polygon_outline(A));
            if (overlaps_at(*a, B, ref, mid)) continue;
        }
        kept.push_back(std::move(c));
    }
    r = std::move(kept);
}

}  // namespace quarvo
