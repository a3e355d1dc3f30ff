#include <algorithm>
#include <cmath>

#include "quarvo/constants.hpp"
#include "quarvo/kernel.hpp"
#include "quarvo/search.hpp"

namespace quarvo {

namespace {

// The least height the item takes above a bin's floor at any angle (and side)
// it may take: its un-inflated outline's height, and below it its gap to an
// edge (the larger of its spacing and the margin).
double least_height(const FirstFit& ff, const Shape& s) {
    std::unique_ptr<Shape> probe = s.clone_geometry();
    probe->set_infl(0.0);
    probe->set_position(0.0, 0.0);
    std::vector<double> angles{s.rotation()};
    if (ff.strategy == Strategy::Nfp && s.is_polygon())
        angles.insert(angles.end(), ff.nfp.rotations.begin(), ff.nfp.rotations.end());
    std::vector<bool> sides{s.mirrored()};
    if (ff.nfp.mirror && s.is_polygon()) sides.push_back(!s.mirrored());
    double least = kInf;
    for (bool side : sides) {
        probe->set_mirrored(side);
        for (double a : angles) {
            probe->set_rotation(a);
            double lo = kInf, hi = -kInf;
            for (const Pt& p : probe->world_contour()) {
                lo = std::min(lo, p.y);
                hi = std::max(hi, p.y);
            }
            least = std::min(least, hi - lo);
        }
    }
    return least + std::max(s.infl(), ff.bin.margin);
}

}  // namespace

bool LowerBound::reached(std::size_t layout_bins, double layout_length) const {
    // (items lie on the grid of the no-fit polygons: a layout may reach a hair below the bound)
    return layout_bins <= bins && layout_length <= length + engine_tolerance(length);
}

double LowerBound::last_length(std::size_t layout_bins) const {
    if (!(wide > 0.0)) return 0.0;
    // Every true outline keeps the margin from the sides and the floor.
    if (!(room > 0.0)) return std::max(tallest, margin + area / wide);
    // The other bins hold at most their room: the last one holds the rest.
    const double rest = area - static_cast<double>(std::max<std::size_t>(1, layout_bins) - 1) * room;
    return std::max(lowest, margin + std::max(0.0, rest) / wide);
}

LowerBound lower_bound(const FirstFit& ff, const std::vector<Shape*>& items) {
    LowerBound out;
    if (items.empty()) return out;
    out.lowest = kInf;
    for (const Shape* s : items) {
        out.area += std::max(0.0, material_area(*s));
        const double h = least_height(ff, *s);
        out.tallest = std::max(out.tallest, h);
        out.lowest = std::min(out.lowest, h);
    }
    out.margin = ff.bin.margin;
    out.wide = ff.bin.width - 2.0 * out.margin;
    if (!ff.strip()) {
        out.room = std::max(0.0, out.wide) * (ff.bin.height - 2.0 * out.margin);
        // (a hair less than the quotient, so that rounding never asks for a bin more than the area does)
        if (out.room > 0.0)
            out.bins = std::max<std::size_t>(1, static_cast<std::size_t>(std::ceil(out.area / out.room * (1.0 - 1e-12))));
    }
    out.length = out.last_length(out.bins);
    return out;
}

}  // namespace quarvo
