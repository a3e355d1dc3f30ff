// Internals of the layout checker shared by its two units: the items with
// their edges, the pair measure (check_measure.cpp) and the box sweep.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <numeric>
#include <vector>

#include "quarvo/check.hpp"
#include "quarvo/constants.hpp"

namespace quarvo {
namespace check_detail {

inline constexpr double kTwoPi = 2 * kPi;
// Beyond this magnitude squared lengths overflow; such outlines are not judged.
inline constexpr double kMaxCoord = 1e100;
// Slack on segment parameters when collecting crossings: a crossing through a
// vertex must split the edge even when rounding puts it just past both ends.
inline constexpr double kParamSlack = 1e-9;
// Work limit of one depth search, in point-to-edge evaluations.
inline constexpr long long kDepthBudget = 20000000;
// A depth search stops when its bound is within this fraction of the answer.
inline constexpr double kDepthRelPrecision = 1e-3;

inline bool usable(double v) { return std::isfinite(v) && std::fabs(v) <= kMaxCoord; }

inline void grow(BBox& b, Pt p) {
    b.minx = std::min(b.minx, p.x);
    b.miny = std::min(b.miny, p.y);
    b.maxx = std::max(b.maxx, p.x);
    b.maxy = std::max(b.maxy, p.y);
}

// True when the boxes come within c of each other on both axes.
inline bool boxes_meet(const BBox& a, const BBox& b, double c) {
    return a.minx - c <= b.maxx && b.minx <= a.maxx + c && a.miny - c <= b.maxy && b.miny <= a.maxy + c;
}

struct Edge {
    Pt a, b;
    BBox box;
};

struct Item {
    const Outline* o = nullptr;
    std::vector<Edge> edges;
    std::vector<std::size_t> ring_end;  // edges of ring k: [ring_end[k-1], ring_end[k])
    bool witness_done = false;
    bool has_witness = false;
    Pt witness{};
    double witness_depth = 0.0;
};

// ValueError for non-finite options or negative tolerances.
void check_options_of(const CheckOptions& opt);

Item make_item(const Outline& o);
// How two items relate. `cutoff`: clear distances beyond it are reported as
// +inf. `allowed`: the overlap depth that needs no precise answer.
PairMeasure measure(Item& A, Item& B, double cutoff, double allowed);

// Calls f(i, j) for every box i of `a` and j of `b` that come within c of each
// other on both axes; stops when f returns false.
template <class F>
void sweep_two(const std::vector<BBox>& a, const std::vector<BBox>& b, double c, F&& f) {
    std::vector<std::size_t> ia(a.size()), ib(b.size());
    std::iota(ia.begin(), ia.end(), 0);
    std::iota(ib.begin(), ib.end(), 0);
    std::sort(ia.begin(), ia.end(), [&](std::size_t x, std::size_t y) { return a[x].minx < a[y].minx; });
    std::sort(ib.begin(), ib.end(), [&](std::size_t x, std::size_t y) { return b[x].minx < b[y].minx; });
    std::vector<std::size_t> act_a, act_b;
    std::size_t p = 0, q = 0;
    while (p < ia.size() || q < ib.size()) {
        if (q >= ib.size() || (p < ia.size() && a[ia[p]].minx - c <= b[ib[q]].minx)) {
            const BBox& x = a[ia[p]];
            for (std::size_t k = 0; k < act_b.size();) {
                const BBox& y = b[act_b[k]];
                if (y.maxx < x.minx - c) {
                    act_b[k] = act_b.back();
                    act_b.pop_back();
                    continue;
                }
                if (y.miny <= x.maxy + c && x.miny - c <= y.maxy && !f(ia[p], act_b[k])) return;
                ++k;
            }
            act_a.push_back(ia[p++]);
        } else {
            const BBox& y = b[ib[q]];
            for (std::size_t k = 0; k < act_a.size();) {
                const BBox& x = a[act_a[k]];
                if (x.maxx + c < y.minx) {
                    act_a[k] = act_a.back();
                    act_a.pop_back();
                    continue;
                }
                if (y.miny <= x.maxy + c && x.miny - c <= y.maxy && !f(act_a[k], ib[q])) return;
                ++k;
            }
            act_b.push_back(ib[q++]);
        }
    }
}

}  // namespace check_detail
}  // namespace quarvo
