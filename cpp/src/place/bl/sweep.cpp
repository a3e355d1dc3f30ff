#include "place/bl/sweep.hpp"

#include <algorithm>
#include <cmath>

#include "quarvo/cancel.hpp"
#include "quarvo/constants.hpp"
#include "quarvo/errors.hpp"

namespace quarvo {

namespace {

inline double across(Pt p, Direction dir) { return dir == Direction::Left ? p.y : p.x; }
inline double along(Pt p, Direction dir) { return dir == Direction::Left ? p.x : p.y; }

// Least along-coordinate of the contour: the first value unless a later one is
// strictly less, as the host's min() picks it.
double least_along(const Contour& pts, Direction dir) {
    if (pts.empty()) throw ValueError("min() arg is an empty sequence");
    double m = along(pts[0], dir);
    for (std::size_t i = 1; i < pts.size(); ++i) {
        double v = along(pts[i], dir);
        if (v < m) m = v;
    }
    return m;
}

template <bool Left>
inline double dist(Pt v, Pt a, Pt b) {
    return Left ? horizontal_distance(v, a, b) : vertical_distance(v, a, b);
}

template <bool Left>
void obstacle_candidates(const Contour& item, const BBox& item_box, const PreparedContour& other, double tol, double& m) {
    const Contour& ob = other.poly;
    const double lo_o = Left ? other.box.miny : other.box.minx;
    const double hi_o = Left ? other.box.maxy : other.box.maxx;
    const std::size_t ne = ob.size() - 1;
    for (std::size_t iv = 0; iv < item.size(); ++iv) {
        const Pt& v = item[iv];
        if ((iv & 255) == 255) check_cancel();
        const double c = Left ? v.y : v.x;
        if (c < lo_o || c > hi_o) continue;  // outside every obstacle edge's span
        for (std::size_t i = 0; i < ne; ++i) {
            double d = dist<Left>(v, ob[i], ob[i + 1]);
            if (d >= -tol && d < m) m = d;
        }
    }
    const double lo_i = Left ? item_box.miny : item_box.minx;
    const double hi_i = Left ? item_box.maxy : item_box.maxx;
    // Obstacle points outside the item's span are spanned by no item edge.
    Pt near[256];
    std::vector<Pt> near_big;
    Pt* pts = near;
    std::size_t n = 0;
    if (ob.size() > 256) {
        near_big.reserve(ob.size());
        for (const Pt& v : ob) {
            const double c = Left ? v.y : v.x;
            if (!(c < lo_i || c > hi_i)) near_big.push_back(v);
        }
        pts = near_big.data();
        n = near_big.size();
    } else {
        for (const Pt& v : ob) {
            const double c = Left ? v.y : v.x;
            if (!(c < lo_i || c > hi_i)) near[n++] = v;
        }
    }
    if (n == 0) return;
    for (std::size_t i = 0; i + 1 < item.size(); ++i) {
        if ((i & 255) == 255) check_cancel();
        const Pt a = item[i], b = item[i + 1];
        for (std::size_t k = 0; k < n; ++k) {
            double d = -dist<Left>(pts[k], a, b);
            if (d >= -tol && d < m) m = d;
        }
    }
}

}  // namespace

std::vector<SweepEntry> to_wall_poly_entries(const Contour& pts, Direction dir) {
    std::vector<SweepEntry> out;
    if (pts.size() < 4) {
        for (std::size_t i = 0; i < pts.size(); ++i) out.push_back({SweepEntry::Vertex, i});
        return out;
    }
    const std::size_t m = pts.size() - 1;
    double max_c = -kInf, min_c = kInf;
    std::vector<std::size_t> top_idx, bottom_idx;
    for (std::size_t idx = 0; idx < m; ++idx) {
        const double v = across(pts[idx], dir);
        if (v > max_c) {
            max_c = v;
            top_idx.assign(1, idx);
        } else if (v == max_c) {
            top_idx.push_back(idx);
        }
        if (v < min_c) {
            min_c = v;
            bottom_idx.assign(1, idx);
        } else if (v == min_c) {
            bottom_idx.push_back(idx);
        }
    }
    // Only a contour whose across coordinates are all NaN leaves these empty.
    if (top_idx.empty() || bottom_idx.empty()) throw ValueError("min() arg is an empty sequence");
    auto leftmost = [&](const std::vector<std::size_t>& idx) {
        std::size_t best = idx[0];
        for (std::size_t k = 1; k < idx.size(); ++k)
            if (along(pts[idx[k]], dir) < along(pts[best], dir)) best = idx[k];
        return best;
    };
    const std::size_t tl = leftmost(top_idx), bl = leftmost(bottom_idx);
    out.reserve(m + 4);
    if (dir == Direction::Left) {
        out.push_back({SweepEntry::Vertex, tl});
        if (tl != bl) {
            // Backward from the top: down the side that faces the wall.
            for (std::size_t i = tl;;) {
                i = i == 0 ? m - 1 : i - 1;
                if (i == bl) break;
                out.push_back({SweepEntry::Vertex, i});
            }
        }
        out.push_back({SweepEntry::Vertex, bl});
        out.push_back({SweepEntry::Wall, bl});
        out.push_back({SweepEntry::Wall, tl});
        out.push_back({SweepEntry::Vertex, tl});
    } else {
        out.push_back({SweepEntry::Vertex, tl});
        out.push_back({SweepEntry::Wall, tl});
        out.push_back({SweepEntry::Wall, bl});
        out.push_back({SweepEntry::Vertex, bl});
        if (tl != bl) {
            // Forward from the left-most vertex: over the top of the item.
            for (std::size_t i = bl;;) {
                i = i + 1 == m ? 0 : i + 1;
                if (i == tl) break;
                out.push_back({SweepEntry::Vertex, i});
            }
        }
        out.push_back({SweepEntry::Vertex, tl});
    }
    return out;
}

Contour to_wall_poly(const Contour& pts, Direction dir) {
    std::vector<SweepEntry> e = to_wall_poly_entries(pts, dir);
    Contour out;
    out.reserve(e.size());
    for (const SweepEntry& s : e) {
        const Pt p = pts[s.index];
        if (s.kind == SweepEntry::Vertex) out.push_back(p);
        else if (dir == Direction::Left) out.push_back({0.0, p.y});
        else out.push_back({p.x, 0.0});
    }
    return out;
}

double horizontal_distance(Pt v, Pt a, Pt b) {
    const double miny = std::min(a.y, b.y), maxy = std::max(a.y, b.y);
    if (v.y < miny || v.y > maxy) return kInf;
    double x;
    if (std::fabs(b.y - a.y) < 1e-12) {
        x = std::min(a.x, b.x);
    } else {
        const double t = (v.y - a.y) / (b.y - a.y);
        x = a.x + t * (b.x - a.x);
    }
    return v.x - x;
}

double vertical_distance(Pt v, Pt a, Pt b) {
    const double minx = std::min(a.x, b.x), maxx = std::max(a.x, b.x);
    if (v.x < minx || v.x > maxx) return kInf;
    double y;
    if (std::fabs(b.x - a.x) < 1e-12) {
        y = std::min(a.y, b.y);
    } else {
        const double t = (v.x - a.x) / (b.x - a.x);
        y = a.y + t * (b.y - a.y);
    }
    return v.y - y;
}

double free_distance(const Contour& item_poly, const std::vector<PreparedContour*>& obstacles, Direction dir, double tol,
                     double wall, const std::vector<PreparedContour*>* rooms) {
    PreparedContour scan;
    scan.assign(to_wall_poly(item_poly, dir));
    std::vector<PreparedContour*> in_the_way;
    for (PreparedContour* p : obstacles)
        if (prepared_intersect(*p, scan)) in_the_way.push_back(p);
    if (rooms) in_the_way.insert(in_the_way.end(), rooms->begin(), rooms->end());
    double m = least_along(item_poly, dir);
    if (wall > 0.0) m -= wall;
    if (in_the_way.empty()) return m;
    const BBox ib = polygon_bbox(item_poly);
    for (PreparedContour* p : in_the_way) {
        if (p->poly.empty()) continue;
        if (dir == Direction::Left) obstacle_candidates<true>(item_poly, ib, *p, tol, m);
        else obstacle_candidates<false>(item_poly, ib, *p, tol, m);
    }
    return m;
}

double available_space(const Contour& item_poly, const std::vector<Contour>& packed_polys, Direction dir, double tol) {
    std::vector<PreparedContour> geos(packed_polys.size());
    std::vector<PreparedContour*> obstacles;
    for (std::size_t i = 0; i < packed_polys.size(); ++i) {
        geos[i].assign(packed_polys[i]);
        obstacles.push_back(&geos[i]);
    }
    return free_distance(item_poly, obstacles, dir, tol);
}

}  // namespace quarvo
