#include "geometry/mitred_offset.hpp"

#include <algorithm>
#include <cmath>

#include "geometry/fine_grid.hpp"

namespace quarvo {

Region mitred_offset(const Contour& c, double delta) {
    const Contour reach{{std::fabs(delta), 0.0}};  // the grown contour reaches that far beyond c
    const FineGrid use = FineGrid::for_contours({&c, &reach});
    ClipperLib::ClipperOffset off(2.0);
    off.AddPath(use.path(c), ClipperLib::jtMiter, ClipperLib::etClosedPolygon);
    ClipperLib::Paths out;
    off.Execute(out, delta * use.scale);
    Region r;
    for (const ClipperLib::Path& p : out) {
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

}  // namespace quarvo
