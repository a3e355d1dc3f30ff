// The exact NFPs of pairs with a non-convex outline, by Minkowski sums.
#include <algorithm>
#include <atomic>

#include "core/thread_clock.hpp"
#include "geometry/fine_grid.hpp"
#include "geometry/minkowski.hpp"
#include "nfp/false_cavities.hpp"
#include "nfp/nfp.hpp"

namespace quarvo {

namespace {
std::atomic<unsigned long long> g_nfps{0};
std::atomic<long long> g_ns{0};
}  // namespace

Region nfp_minkowski(const Contour& A, const Contour& B, Pt ref, bool box_rule) {
    const long long t0 = thread_cpu_ns();
    Region r = minkowski_difference(A, B, ref, "the stationary item's outline", "the moving item's outline");
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
    // (holes thinner than a few units of the sum's grid are where rounding may have made one up)
    drop_false_cavities(r, A, B, ref, std::max(1e-6, 8.0 / FineGrid::for_contours({&A, &B}).scale));
    g_nfps.fetch_add(1, std::memory_order_relaxed);
    g_ns.fetch_add(thread_cpu_ns() - t0, std::memory_order_relaxed);
    return r;
}

MinkowskiStats minkowski_stats() {
    return {g_nfps.load(), static_cast<double>(g_ns.load()) / 1e9};
}

}  // namespace quarvo
