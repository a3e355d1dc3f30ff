// The layout checker's judgement of a bin that is no plain rectangle: every
// item inside the outline, out of its holes and off its defects, keeping the
// margin from all of them, measured on the true outlines (measure_pair) as
// the rest of the checker measures pairs.
#pragma once
#include <cstddef>
#include <vector>

#include "quarvo/check.hpp"
#include "quarvo/shapes.hpp"

namespace quarvo {

struct StockFault {
    enum Kind {
        Outside,     // reaches out of the outline or into a hole
        OnDefect,    // overlaps a defect
        NearEdge,    // inside, but nearer the outline or a hole than the margin
        NearDefect,  // off the defect, but nearer it than the margin
    } kind;
    std::size_t item;
    // Outside and OnDefect: how deep; NearEdge and NearDefect: how much the
    // distance falls short of the margin.
    double amount;
    // The distance to the outline, hole or defect (minus the depth when across it).
    double clearance;
    // Outside and NearEdge: 0 the outline, k >= 1 hole k - 1; the defects: its index.
    std::size_t ring;
};

// The faults of the items of one bin of `shape` (its outline empty: the
// rectangle [0, bin_w] x [0, bin_h], which check_outlines judges) with edge
// margin `margin`, each beyond `tol` plus the rounding of the item's
// coordinates; invalid outlines are skipped (check_outlines reports them).
// Ordered by item, then kind, then ring.
std::vector<StockFault> check_stock(const std::vector<Outline>& items, const BinShape& shape, double bin_w,
                                    double bin_h, double margin, double tol);

}  // namespace quarvo
