#include "place/bin_region.hpp"

#include <algorithm>
#include <cmath>

#include "geometry/clipper_bridge.hpp"
#include "geometry/minkowski.hpp"
#include "geometry/mitred_offset.hpp"
#include "geometry/outline_fit.hpp"

namespace quarvo {

BinRooms bin_rooms(const Bin& bin, double inset) {
    BinRooms out;
    auto clockwise = [](Contour c) {
        if (c.front() != c.back()) c.push_back(c.front());
        if (polygon_area(c) > 0.0) std::reverse(c.begin(), c.end());
        return c;
    };
    const Contour outline = bin_outline(bin);
    if (inset > 0.0) out.rooms = mitred_offset(outline, -inset);
    else out.rooms.push_back(clockwise(outline));
    if (!bin.shape) return out;
    auto add = [&](const Contour& c) {
        if (inset > 0.0)
            for (Contour& g : mitred_offset(c, inset)) out.obstacles.push_back(std::move(g));
        else
            out.obstacles.push_back(clockwise(c));
    };
    for (const Contour& h : bin.shape->holes) add(h);
    for (const Contour& d : bin.shape->defects) add(d);
    return out;
}

Region fixed_free_region(const BinRooms& rooms, const Contour& outline, Pt ref, const std::function<void()>& stop) {
    ClipperLib::Clipper c;
    bool any = false;
    for (const Contour& room : rooms.rooms) {
        stop();
        // (outer contours clockwise: filled under the negative rule, their holes not)
        for (const Contour& part : hole_inner_fit(room, outline, ref)) {
            c.AddPath(to_path(part), ClipperLib::ptSubject, true);
            any = true;
        }
    }
    if (!any) return {};
    for (const Contour& o : rooms.obstacles) {
        stop();
        const Region nfp = minkowski_difference(o, outline, ref, "a defect of the bin", "the item's outline");
        // the outer contour only: a sliver the sum leaves inside would pass for room
        if (nfp.empty()) continue;
        ClipperLib::Path p = to_path(nfp.front());
        if (!ClipperLib::Orientation(p)) ClipperLib::ReversePath(p);
        c.AddPath(p, ClipperLib::ptClip, true);
    }
    stop();
    ClipperLib::PolyTree tree;
    c.Execute(ClipperLib::ctDifference, tree, ClipperLib::pftNegative, ClipperLib::pftNonZero);
    Region out;
    ClipperLib::Paths paths;
    ClipperLib::PolyTreeToPaths(tree, paths);
    for (const ClipperLib::Path& p : paths) {
        if (p.size() < 3) continue;
        Contour k = to_contour(p);
        // the convention of regions: outer contours clockwise, holes counter-clockwise
        std::reverse(k.begin(), k.end());
        out.push_back(std::move(k));
    }
    return out;
}

bool clear_of_bin(const BinRooms& rooms, const Contour& world, double slack, const std::function<void()>& stop) {
    bool inside = false;
    for (const Contour& room : rooms.rooms)
        if (polygon_in_room(world, room, slack, stop)) {
            inside = true;
            break;
        }
    if (!inside) return false;
    const BBox wb = polygon_bbox(world);
    for (const Contour& o : rooms.obstacles) {
        const BBox ob = polygon_bbox(o);
        if (ob.minx > wb.maxx || wb.minx > ob.maxx || ob.miny > wb.maxy || wb.miny > ob.maxy) continue;
        if (outlines_overlap(world, o, slack)) return false;
    }
    return true;
}

}  // namespace quarvo
