#include "geometry/minkowski.hpp"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

#include "geometry/clipper_bridge.hpp"
#include "geometry/convolution.hpp"
#include "geometry/fine_grid.hpp"
#include "quarvo/cancel.hpp"
#include "quarvo/errors.hpp"

namespace quarvo {

namespace {

using ClipperLib::cInt;
using ClipperLib::IntPoint;
using ClipperLib::Path;
using ClipperLib::Paths;

Path moved(const Path& p, IntPoint d) {
    Path out;
    out.reserve(p.size());
    for (const IntPoint& q : p) out.push_back(IntPoint(q.X + d.X, q.Y + d.Y));
    if (!ClipperLib::Orientation(out)) ClipperLib::ReversePath(out);
    return out;
}

// The tree's contours moved by `shift`, each closed: every outer contour
// clockwise followed by its holes counter-clockwise, outers in pre-order.
void collect(const ClipperLib::PolyNode& node, const FineGrid& g, Pt shift, Region& out) {
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

// Where nearly collinear edges meet after rounding, Clipper may leave spikes
// and slivers a few grid units wide; positions sampled on them would overlap
// the item. Vertices that close to the line of their neighbours go.
void clean(ClipperLib::PolyNode& node) {
    for (ClipperLib::PolyNode* child : node.Childs) {
        ClipperLib::CleanPolygon(child->Contour, 4.0);
        clean(*child);
    }
}

Region run(ClipperLib::Clipper& c, ClipperLib::ClipType op, const FineGrid& g, Pt shift,
           ClipperLib::PolyFillType fill = ClipperLib::pftNonZero) {
    ClipperLib::PolyTree tree;
    c.Execute(op, tree, fill, fill);
    clean(tree);
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

// Refuses contours whose edges cross each other: no simple polygons, whose
// sums would be meaningless and whose sweeps could take minutes to unite.
void require_buildable(const Contour& a, const Contour& b, const char* what_a, const char* what_b) {
    for (const auto& [c, what] : {std::pair{&a, what_a}, std::pair{&b, what_b}})
        // turning more than once around is the cheap sign of a crossing
        if (!turns_once(*c) || crosses_more_than({c}, 0))
            throw ValueError(std::string(what) + " crosses itself; a simple polygon is needed");
}

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

Region sum_on(const FineGrid& g, const Path& a, bool a_convex, const Path& b, bool b_convex, Pt shift) {
    if (a.empty() || b.empty()) return {};
    ClipperLib::Clipper c;
    ClipperLib::Paths cycles;
    // (the convolution has as many pieces as the sweep has pairs of edges at most, and far fewer as a rule;
    // outlines that snapping to the grid made touch themselves keep the sweep)
    if (convolution_cycles(a, b, kMaxEdgePairs, cycles)) {
        c.AddPaths(cycles, ClipperLib::ptSubject, true);
        return run(c, ClipperLib::ctUnion, g, shift, ClipperLib::pftPositive);
    }
    if (a.size() * b.size() > kMaxEdgePairs) throw ValueError(too_large(a.size(), b.size()));
    c.AddPaths(boundary_sweep(a, a_convex, b, b_convex), ClipperLib::ptSubject, true);
    c.AddPath(moved(a, b[0]), ClipperLib::ptSubject, true);
    c.AddPath(moved(b, a[0]), ClipperLib::ptSubject, true);
    return run(c, ClipperLib::ctUnion, g, shift);
}

}  // namespace

Region minkowski_sum(const Contour& A, const Contour& B) {
    require_buildable(A, B, "the first contour", "the second contour");
    const FineGrid g = FineGrid::for_contours({&A, &B});
    return sum_on(g, g.path(A), convex_ring(A), g.path(B), convex_ring(B), {0.0, 0.0});
}

Region minkowski_difference(const Contour& A, const Contour& B, Pt shift, const char* what_a, const char* what_b) {
    require_buildable(A, B, what_a, what_b);
    const FineGrid g = FineGrid::for_contours({&A, &B});
    return sum_on(g, g.path(A), convex_ring(A), g.path(B, true), convex_ring(B), shift);
}

Region hole_inner_fit(const Contour& H, const Contour& B, Pt ref) {
    require_buildable(H, B, "the hole", "the item's outline");
    const FineGrid g = FineGrid::for_contours({&H, &B});
    const Path h = g.path(H), nb = g.path(B, true);
    if (h.size() < 3 || nb.empty()) return {};
    if (h.size() * nb.size() > kMaxEdgePairs) throw ValueError(too_large(h.size(), nb.size()));
    // Positions where one point of B lies in H ...
    ClipperLib::Clipper c;
    c.AddPath(moved(h, nb[0]), ClipperLib::ptSubject, true);
    // ... less those where B's outline meets H's, or B covers H.
    // (with B convex the edge sums cover B's inside too: those positions meet H's outline as well)
    c.AddPaths(boundary_sweep(h, false, nb, convex_ring(B)), ClipperLib::ptClip, true);
    c.AddPath(moved(nb, h[0]), ClipperLib::ptClip, true);
    return run(c, ClipperLib::ctDifference, g, ref);
}

}  // namespace quarvo
