#include "place/nfp/refusals.hpp"

#include <algorithm>

#include "place/nfp/window_geometry.hpp"

namespace quarvo {

bool Refusals::refuses(const std::vector<Shape*>& packed, double r) const {
    return r >= radius_ && in_.size() <= packed.size() && std::equal(in_.begin(), in_.end(), packed.begin());
}

void Refusals::refused(const std::vector<Shape*>& packed, double r) {
    if (!refuses(packed, kInf)) radius_ = kInf;
    radius_ = std::min(radius_, r);
    in_ = packed;
}

double refused_from(const WindowedBin& bin, const Shape& mover) {
    if (!mover.is_circle()) return kInf;
    const std::vector<Shape*>& packed = bin.packed;
    const FreeWindows& windows = bin.windows;
    const Probe& probe = bin.probe;
    const double rm = circle_cast(mover).rotated_shape().radius;
    // A circle smaller by `less` keeps its probe, so its places lie in the same windows.
    const double less = std::min(rm / 128, probe.radius - windows.probe_radius);
    if (!bin.circles || !bin.circles->circles || bin.circles->basis.size() != packed.size() || !(less > 0)) return rm;
    const CircleIndex& circles = *bin.circles;
    const double r = rm - less, d = probe.radius - less - windows.probe_radius;
    const BBox range = in_bin_range(mover, bin.bin_w, bin.bin_h, less);
    std::vector<std::size_t> near;
    std::size_t k = 0;
    for (const Window& w : windows.list) {
        if (++k % 64 == 0) bin.stop();
        BBox b;
        if (!cut_window(w, d, probe.offset, b)) continue;
        const BBox in = clip(b, range);
        if (!(in.minx <= in.maxx && in.miny <= in.maxy)) continue;
        circles_near(packed, circles, r, b, grid_margin(b), near);
        if (near.empty() || !covered_by_circle_nfps(packed, near, r, in, 3)) return rm;
    }
    return r;
}

}  // namespace quarvo
