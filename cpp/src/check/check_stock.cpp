#include "check/check_stock.hpp"

#include <algorithm>
#include <cmath>

#include "quarvo/cancel.hpp"
#include "quarvo/constants.hpp"
#include "quarvo/errors.hpp"

namespace quarvo {

namespace {

bool far_apart(const BBox& a, const BBox& b, double reach) {
    return a.minx > b.maxx + reach || b.minx > a.maxx + reach || a.miny > b.maxy + reach || b.miny > a.maxy + reach;
}

}  // namespace

std::vector<StockFault> check_stock(const std::vector<Outline>& items, const BinShape& shape, double bin_w,
                                    double bin_h, double margin, double tol) {
    if (!(std::isfinite(bin_w) && std::isfinite(bin_h))) throw ValueError("bin size must be finite");
    if (!(std::isfinite(margin) && margin >= 0.0)) throw ValueError("margin must be a finite number >= 0");
    if (!(std::isfinite(tol) && tol >= 0.0)) throw ValueError("tol must be a finite number >= 0");
    // The outline as the hole of a frame well beyond the bin: an item inside
    // it is as far from the frame as from the outline, one across it overlaps the frame.
    std::vector<Outline> walls;
    std::vector<std::size_t> wall_ring;
    if (!shape.outer.empty()) {
        const double pad = std::max(bin_w, bin_h) + margin + 1.0;
        const Contour frame{{-pad, -pad}, {-pad, bin_h + pad}, {bin_w + pad, bin_h + pad}, {bin_w + pad, -pad}, {-pad, -pad}};
        walls.push_back(polygon_outline(frame, {shape.outer}));
        wall_ring.push_back(0);
    }
    for (std::size_t k = 0; k < shape.holes.size(); ++k) {
        walls.push_back(polygon_outline(shape.holes[k]));
        wall_ring.push_back(k + 1);
    }
    std::vector<Outline> defects;
    for (const Contour& d : shape.defects) defects.push_back(polygon_outline(d));
    for (const Outline& o : walls)
        if (!o.valid) throw ValueError("the bin's outline or a hole has non-finite or out-of-range values");
    for (const Outline& o : defects)
        if (!o.valid) throw ValueError("a defect of the bin has non-finite or out-of-range values");

    std::vector<StockFault> out;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const Outline& it = items[i];
        if (!it.valid) continue;
        if (i % 16 == 15) check_cancel();
        const BBox& b = it.box;
        const double slack = tol + ROUNDING_TOLERANCE * std::max({std::fabs(b.minx), std::fabs(b.miny),
                                                                   std::fabs(b.maxx), std::fabs(b.maxy)});
        auto judge = [&](const Outline& other, StockFault::Kind deep, StockFault::Kind near, std::size_t ring) {
            if (ring != 0 || deep == StockFault::OnDefect)
                if (far_apart(b, other.box, margin + slack)) return;
            const PairMeasure pm = measure_pair(it, other);
            if (pm.depth > slack) out.push_back({deep, i, pm.depth, pm.clearance, ring});
            else if (margin > 0.0 && margin - pm.clearance > slack)
                out.push_back({near, i, margin - pm.clearance, pm.clearance, ring});
        };
        for (std::size_t w = 0; w < walls.size(); ++w)
            judge(walls[w], StockFault::Outside, StockFault::NearEdge, wall_ring[w]);
        for (std::size_t k = 0; k < defects.size(); ++k) judge(defects[k], StockFault::OnDefect, StockFault::NearDefect, k);
    }
    std::stable_sort(out.begin(), out.end(), [](const StockFault& x, const StockFault& y) {
        if (x.item != y.item) return x.item < y.item;
        if (x.kind != y.kind) return x.kind < y.kind;
        return x.ring < y.ring;
    });
    return out;
}

}  // namespace quarvo
