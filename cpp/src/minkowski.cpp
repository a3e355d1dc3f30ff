#include "quarvo/minkowski.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <string>
#include <utility>

#include "quarvo/cancel.hpp"
#include "quarvo/clipper_util.hpp"
#include "quarvo/errors.hpp"
#include "quarvo/nfp.hpp"
#include "thread_clock.hpp"

namespace quarvo {

namespace {

using ClipperLib::cInt;
using ClipperLib::IntPoint;
using ClipperLib::Path;
using ClipperLib::Paths;

std::atomic<unsigned long long> g_nfps{0};
std::atomic<long long> g_ns{0};

// A power-of-two grid fine enough for the coordinates at hand: every sum and
// difference of two of them stays well inside Clipper's range (2^62).
struct Grid {
    double scale;

    static Grid for_contours(std::initializer_list<const Contour*> cs) {
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
    cInt to(double v) const { return static_cast<cInt>(std::nearbyint(v * scale)); }
    double from(cInt v) const { return static_cast<double>(v) / scale; }

    // The contour on the grid, without its closing point, consecutive repeats dropped.
    Path path(const Contour& c, bool negate = false) const {
        Path p;
        p.reserve(c.size());
        const double k = negate ? -1.0 : 1.0;
        for (const Pt& q : c) {
            IntPoint ip(to(k * q.x), to(k * q.y));
            if (p.empty() || !(p.back() == ip)) p.push_back(ip);
        }
        while (p.size() > 1 && p.front() == p.back()) p.pop_back();
        return p;
    }
};

Path moved(const Path& p, IntPoint d) {
    Path out;
    out.reserve(p.size());
    for (const IntPoint& q : p) out.push_back(IntPoint(q.X + d.X, q.Y + d.Y));
    if (!ClipperLib::Orientation(out)) ClipperLib::ReversePath(out);
    return out;
}

// The tree's contours moved by `shift`, each closed: every outer contour
// clockwise followed by its holes counter-clockwise, outers in pre-order.
void collect(const ClipperLib::PolyNode& node, const Grid& g, Pt shift, Region& out) {
    for (const ClipperLib::PolyNode* child : node.Childs) {
        auto add = [&](const ClipperLib::PolyNode& n, bool clockwise) {
            Contour c;
            c.reserve(n.Contour.size() + 1);
            for (const IntPoint& p : n.Contour) c.push_back({g.from(p.X) + shift.x, g.from(p.Y) + shift.y});
            if (c.size() < 3) return;
            c.push_back(c.front());
            const bool cw = polygon_area(c) < 0;
            if (cw != clockwise) std::reverse(c.begin(), c.end());
            out.push_back(std::move(c));
        };
        add(*child, true);
        for (const ClipperLib::PolyNode* hole : child->Childs) add(*hole, false);
        for (const ClipperLib::PolyNode* hole : child->Childs) collect(*hole, g, shift, out);
    }
}

Region run(ClipperLib::Clipper& c, ClipperLib::ClipType op, const Grid& g, Pt shift) {
    ClipperLib::PolyTree tree;
    c.Execute(op, tree, ClipperLib::pftNonZero, ClipperLib::pftNonZero);
    Region out;
    collect(tree, g, shift, out);
    return out;
}

// The sweep has one quadrilateral per pair of edges, and Clipper unites them
// in one uninterruptible call: a few seconds at this many.
constexpr std::size_t kMaxEdgePairs = 2000000;

std::string too_large(std::size_t n, std::size_t m) {
    return "Minkowski sum of contours of " + std::to_string(n) + " and " + std::to_string(m) +
           " edges refused: more than " + std::to_string(kMaxEdgePairs) + " pairs of edges";
}

// Refuses pairs too large to sum, then contours whose edges cross each
// other: no simple polygons, whose sums would be meaningless and whose sweeps
// could take minutes to unite.
void require_buildable(const Contour& a, const Contour& b, const char* what_a, const char* what_b) {
    if (a.size() * b.size() > kMaxEdgePairs) throw ValueError(too_large(a.size(), b.size()));
    for (const auto& [c, what] : {std::pair{&a, what_a}, std::pair{&b, what_b}})
        // turning more than once around is the cheap sign of a crossing
        if (!turns_once(*c) || crosses_more_than({c}, 0))
            throw ValueError(std::string(what) + " crosses itself; a simple polygon is needed");
}

bool convex(const Contour& c) { return is_convex(c) && turns_once(c); }

__extension__ typedef __int128 Int128;

Int128 turn(const IntPoint& o, const IntPoint& a, const IntPoint& b) {
    return static_cast<Int128>(a.X - o.X) * (b.Y - o.Y) - static_cast<Int128>(a.Y - o.Y) * (b.X - o.X);
}

// The sum of each edge of closed `path` and the convex polygon `hull`: the
// convex hull of the polygon moved to both ends of the edge, counter-clockwise.
// Far fewer and far less overlapping pieces to unite than the edge pairs.
Paths edge_sums(const Path& path, const Path& hull) {
    Paths out;
    out.reserve(path.size());
    std::vector<IntPoint> pts;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (i % 64 == 63) check_cancel();
        const IntPoint s = path[i], e = path[(i + 1) % path.size()];
        pts.clear();
        for (const IntPoint& q : hull) {
            pts.push_back(IntPoint(q.X + s.X, q.Y + s.Y));
            pts.push_back(IntPoint(q.X + e.X, q.Y + e.Y));
        }
        std::sort(pts.begin(), pts.end(),
                  [](const IntPoint& a, const IntPoint& b) { return a.X < b.X || (a.X == b.X && a.Y < b.Y); });
        Path h(2 * pts.size());
        std::size_t k = 0;
        for (std::size_t j = 0; j < pts.size(); ++j) {  // lower chain
            while (k >= 2 && turn(h[k - 2], h[k - 1], pts[j]) <= 0) --k;
            h[k++] = pts[j];
        }
        for (std::size_t j = pts.size() - 1, lo = k + 1; j-- > 0;) {  // upper chain
            while (k >= lo && turn(h[k - 2], h[k - 1], pts[j]) <= 0) --k;
            h[k++] = pts[j];
        }
        h.resize(k > 1 ? k - 1 : k);
        if (h.size() >= 3) out.push_back(std::move(h));
    }
    return out;
}

// Pieces whose union is the outline of a moved over the outline of b: edge
// sums when one of them is convex, Clipper's sweep of every pair of edges otherwise.
Paths boundary_sweep(const Path& a, bool a_convex, const Path& b, bool b_convex) {
    Paths sweep;
    if (b_convex && (!a_convex || a.size() <= b.size())) return edge_sums(a, b);
    if (a_convex) return edge_sums(b, a);
    ClipperLib::MinkowskiSum(b, a, sweep, true);
    check_cancel();
    return sweep;
}

Region sum_on(const Grid& g, const Path& a, bool a_convex, const Path& b, bool b_convex, Pt shift) {
    if (a.empty() || b.empty()) return {};
    if (a.size() * b.size() > kMaxEdgePairs) throw ValueError(too_large(a.size(), b.size()));
    ClipperLib::Clipper c;
    c.AddPaths(boundary_sweep(a, a_convex, b, b_convex), ClipperLib::ptSubject, true);
    c.AddPath(moved(a, b[0]), ClipperLib::ptSubject, true);
    c.AddPath(moved(b, a[0]), ClipperLib::ptSubject, true);
    return run(c, ClipperLib::ctUnion, g, shift);
}

}  // namespace

Region minkowski_sum(const Contour& A, const Contour& B) {
    require_buildable(A, B, "the first contour", "the second contour");
    const Grid g = Grid::for_contours({&A, &B});
    return sum_on(g, g.path(A), convex(A), g.path(B), convex(B), {0.0, 0.0});
}

Region nfp_minkowski(const Contour& A, const Contour& B, Pt ref, bool box_rule) {
    const long long t0 = thread_cpu_ns();
    require_buildable(A, B, "the stationary item's outline", "the moving item's outline");
    const Grid g = Grid::for_contours({&A, &B});
    Region r = sum_on(g, g.path(A), convex(A), g.path(B, true), convex(B), ref);
    // The sum is one part, but the grid can leave a sliver apart from it, which
    // the tree may list first: the outer contour is the largest, and the box
    // rule is its box's.
    if (r.size() > 1) {
        auto outer = std::min_element(r.begin(), r.end(),
                                      [](const Contour& a, const Contour& b) { return polygon_area(a) < polygon_area(b); });
        std::rotate(r.begin(), outer, outer + 1);
    }
    if (box_rule && !r.empty()) {
        const Pt d = box_rule_shift(polygon_bbox(r.front()), A, B);
        if (d.x != 0.0 || d.y != 0.0)
            for (Contour& c : r)
                for (Pt& p : c) p = vadd(p, d);
    }
    g_nfps.fetch_add(1, std::memory_order_relaxed);
    g_ns.fetch_add(thread_cpu_ns() - t0, std::memory_order_relaxed);
    return r;
}

Region hole_inner_fit(const Contour& H, const Contour& B, Pt ref) {
    require_buildable(H, B, "the hole", "the item's outline");
    const Grid g = Grid::for_contours({&H, &B});
    const Path h = g.path(H), nb = g.path(B, true);
    if (h.size() < 3 || nb.empty()) return {};
    if (h.size() * nb.size() > kMaxEdgePairs) throw ValueError(too_large(h.size(), nb.size()));
    // Positions where one point of B lies in H ...
    ClipperLib::Clipper c;
    c.AddPath(moved(h, nb[0]), ClipperLib::ptSubject, true);
    // ... less those where B's outline meets H's, or B covers H.
    // (with B convex the edge sums cover B's inside too: those positions meet H's outline as well)
    c.AddPaths(boundary_sweep(h, false, nb, convex(B)), ClipperLib::ptClip, true);
    c.AddPath(moved(nb, h[0]), ClipperLib::ptClip, true);
    return run(c, ClipperLib::ctDifference, g, ref);
}

Region mitred_offset(const Contour& c, double delta) {
    const Contour reach{{std::fabs(delta), 0.0}};  // the grown contour reaches that far beyond c
    const Grid use = Grid::for_contours({&c, &reach});
    ClipperLib::ClipperOffset off(2.0);
    off.AddPath(use.path(c), ClipperLib::jtMiter, ClipperLib::etClosedPolygon);
    Paths out;
    off.Execute(out, delta * use.scale);
    Region r;
    for (const Path& p : out) {
        if (!ClipperLib::Orientation(p) || p.size() < 3) continue;  // holes of a grown outline are left filled
        Contour k;
        k.reserve(p.size() + 1);
        for (auto it = p.rbegin(); it != p.rend(); ++it) k.push_back({use.from(it->X), use.from(it->Y)});
        k.push_back(k.front());
        r.push_back(std::move(k));
    }
    std::sort(r.begin(), r.end(), [](const Contour& a, const Contour& b) { return polygon_area(a) < polygon_area(b); });
    return r;
}

MinkowskiStats minkowski_stats() {
    return {g_nfps.load(), static_cast<double>(g_ns.load()) / 1e9};
}

}  // namespace quarvo
