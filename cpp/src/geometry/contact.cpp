#include "geometry/contact.hpp"

#include <cmath>

#include "quarvo/cancel.hpp"

namespace quarvo {

namespace {

bool boxes_apart(const BBox& a, const BBox& b) {
    return a.maxx < b.minx || b.maxx < a.minx || a.maxy < b.miny || b.maxy < a.miny;
}

// Coordinates up to this size keep every projection of the separating-axis
// test finite (|axis| <= 2 * 1e150, |product| <= 4e300, |sum| <= 8e300).
constexpr double kProjectable = 1e150;

// Ctrl-C in the quadratic loops: every 256th step of an outer loop whose
// steps each walk a whole contour (a 100,000-point pair takes seconds).
inline void poll(std::size_t i) {
    if ((i & 255) == 255) check_cancel();
}

// The general test after the box test: an edge of one meets an edge of the
// other, or a point of one lies in or on the other.
bool boundaries_or_points_meet(const Contour& a, const Contour& b) {
    for (std::size_t i = 0; i + 1 < a.size(); ++i) {
        poll(i);
        for (std::size_t j = 0; j + 1 < b.size(); ++j)
            if (segments_intersect(a[i], a[i + 1], b[j], b[j + 1])) return true;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        poll(i);
        if (point_in_polygon(a[i], b)) return true;
    }
    for (std::size_t i = 0; i < b.size(); ++i) {
        poll(i);
        if (point_in_polygon(b[i], a)) return true;
    }
    return false;
}

// Bounds of the projections of every point of the box on the axis. Rounding is
// monotone, so each computed projection of a point inside the box lies
// between the computed projections of the two corners chosen by the signs of
// the axis.
inline void corner_bounds(const BBox& b, double ax, double ay, double& lo, double& hi) {
    lo = (ax >= 0 ? b.minx : b.maxx) * ax + (ay >= 0 ? b.miny : b.maxy) * ay;
    hi = (ax >= 0 ? b.maxx : b.minx) * ax + (ay >= 0 ? b.maxy : b.miny) * ay;
}

// sat_intersects(p.poly, s.poly) for two projectable contours, using the cached own
// projections. The test answers false as soon as any one of its axes
// separates, whatever the order, so when the boxes are apart a quick pass
// first looks for an axis that separates the other contour's whole box: it
// separates the contour too, and settles the answer without projecting it.
bool sat_prepared(PreparedContour& p, PreparedContour& s, bool boxes_disjoint) {
    const std::vector<Axis>& pa = p.own_axes();
    if (boxes_disjoint) {
        for (const Axis& a : pa) {
            double lo, hi;
            corner_bounds(s.box, a.ax, a.ay, lo, hi);
            if (a.hi < lo || hi < a.lo) return false;
        }
        for (const Axis& a : s.own_axes()) {
            double lo, hi;
            corner_bounds(p.box, a.ax, a.ay, lo, hi);
            if (hi < a.lo || a.hi < lo) return false;
        }
    }
    for (std::size_t i = 0; i < pa.size(); ++i) {
        const Axis& a = pa[i];
        poll(i);
        double min2, max2;
        project(s.poly, a.ax, a.ay, min2, max2);
        if (a.hi < min2 || max2 < a.lo) return false;
    }
    const std::vector<Axis>& sa = s.own_axes();
    for (std::size_t i = 0; i < sa.size(); ++i) {
        const Axis& a = sa[i];
        poll(i);
        double min1, max1;
        project(p.poly, a.ax, a.ay, min1, max1);
        if (max1 < a.lo || a.hi < min1) return false;
    }
    return true;
}

// The test without cached data: contours that are not projectable.
bool plain_intersect(const Contour& a, const Contour& b, bool a_convex, bool b_convex) {
    if (a_convex && b_convex) return sat_intersects(a, b);
    const BBox ba = polygon_bbox(a);
    const BBox bb = polygon_bbox(b);
    if (boxes_apart(ba, bb)) return false;
    return boundaries_or_points_meet(a, b);
}

}  // namespace

// Boxes apart do not decide a convex pair by themselves: the separating-axis
// test has only the edge normals, and two collinear segments far apart still
// intersect for it.
bool prepared_intersect(PreparedContour& p, PreparedContour& s) {
    if (!p.projectable || !s.projectable) return plain_intersect(p.poly, s.poly, p.convex, s.convex);
    bool disjoint = boxes_apart(p.box, s.box);
    if (p.convex && s.convex) return sat_prepared(p, s, disjoint);
    if (disjoint) return false;
    return boundaries_or_points_meet(p.poly, s.poly);
}

bool polys_intersect(const Contour& a, const Contour& b) {
    PreparedContour ga, gb;
    ga.assign(a);
    gb.assign(b);
    return prepared_intersect(ga, gb);
}

void PreparedContour::assign(Contour c) {
    poly = std::move(c);
    convex = is_convex(poly);
    axes_built = false;
    axes.clear();
    projectable = !poly.empty();
    for (const Pt& p : poly)
        if (!(std::fabs(p.x) <= kProjectable && std::fabs(p.y) <= kProjectable)) { projectable = false; break; }
    if (!poly.empty()) box = polygon_bbox(poly);
}

// Computed as sat_intersects computes them.
const std::vector<Axis>& PreparedContour::own_axes() {
    if (!axes_built) {
        axes.clear();
        for (std::size_t i = 0; i + 1 < poly.size(); ++i) {
            poll(i);
            Axis a;
            a.ax = -(poly[i + 1].y - poly[i].y);
            a.ay = poly[i + 1].x - poly[i].x;
            project(poly, a.ax, a.ay, a.lo, a.hi);
            axes.push_back(a);
        }
        axes_built = true;
    }
    return axes;
}

}  // namespace quarvo
