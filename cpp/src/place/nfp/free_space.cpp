#include "place/nfp/free_space.hpp"

#include <algorithm>
#include <cmath>

#include "nfp/nfp.hpp"
#include "nfp/union_paths.hpp"
#include "place/nfp/window_geometry.hpp"

namespace quarvo {

namespace {
constexpr int kMinLevel = -40;  // probes below 2^-10 are not worth a union

ClipperLib::Path rect_path(double x0, double y0, double x1, double y1, bool clockwise) {
    ClipperLib::Path p{{to_grid(x0), to_grid(y0)}, {to_grid(x1), to_grid(y0)}, {to_grid(x1), to_grid(y1)},
                       {to_grid(x0), to_grid(y1)}};
    if (clockwise) std::reverse(p.begin(), p.end());
    return p;
}

// The windows of a piece of free space, one per run of the piece in each row
// of height h: inside a row, the x ranges of the piece's edges, joined across
// gaps that the piece fills. `tile` is the tile the piece lies in: where a
// run or the piece ends on a tile's side, the free space may go on.
void piece_windows(const std::vector<Contour>& piece, const BBox& tile, double h, std::vector<Window>& out) {
    BBox hb = polygon_bbox(piece[0]);
    auto cut = [](double v, double side) { return std::fabs(v - side) <= 1e-9 * (1.0 + std::fabs(side)); };
    const double inf = kInf;
    const double end_lo_y = cut(hb.miny, tile.miny) ? -inf : hb.miny, end_hi_y = cut(hb.maxy, tile.maxy) ? inf : hb.maxy;
    const double r0 = std::floor(hb.miny / h);
    const std::size_t rows = static_cast<std::size_t>(std::max(0.0, std::floor(hb.maxy / h) - r0)) + 1;
    if (rows > 100000) {  // a sliver of a huge bin: one box
        out.push_back({hb, {-inf, -inf, inf, inf}});
        return;
    }
    struct Row {
        std::vector<std::pair<double, double>> spans;
        std::vector<double> crossings;  // of the row's middle line
    };
    std::vector<Row> row(rows);
    auto lo_of = [&](std::size_t k) { return std::max(hb.miny, (r0 + static_cast<double>(k)) * h); };
    auto hi_of = [&](std::size_t k) { return std::min(hb.maxy, (r0 + static_cast<double>(k) + 1) * h); };
    for (const Contour& c : piece) {
        for (std::size_t i = 0; i + 1 < c.size(); ++i) {
            const Pt a = c[i], b = c[i + 1];
            const double ylo = std::min(a.y, b.y), yhi = std::max(a.y, b.y);
            std::size_t k0 = static_cast<std::size_t>(std::clamp(std::floor(ylo / h) - r0, 0.0, double(rows - 1)));
            const std::size_t k1 = static_cast<std::size_t>(std::clamp(std::floor(yhi / h) - r0, 0.0, double(rows - 1)));
            if (k0 > 0) --k0;  // an edge on a row's lower line belongs to both rows
            for (std::size_t k = k0; k <= k1; ++k) {
                const double y0 = lo_of(k), y1 = hi_of(k);
                if (yhi < y0 || ylo > y1) continue;
                double xa = a.x, xb = b.x;
                if (a.y != b.y) {
                    auto x_at = [&](double y) { return a.x + (b.x - a.x) * ((y - a.y) / (b.y - a.y)); };
                    xa = x_at(std::clamp(a.y, y0, y1));
                    xb = x_at(std::clamp(b.y, y0, y1));
                    const double ym = (y0 + y1) / 2;
                    if ((a.y <= ym) != (b.y <= ym)) row[k].crossings.push_back(x_at(ym));
                }
                row[k].spans.push_back({std::min(xa, xb), std::max(xa, xb)});
            }
        }
    }
    const std::size_t first = out.size();
    for (std::size_t k = 0; k < rows; ++k) {
        Row& r = row[k];
        if (r.spans.empty()) continue;
        std::sort(r.spans.begin(), r.spans.end());
        std::sort(r.crossings.begin(), r.crossings.end());
        double lo = r.spans[0].first, hi = r.spans[0].second;
        std::size_t left = 0;  // crossings left of the current gap
        for (std::size_t i = 1; i <= r.spans.size(); ++i) {
            if (i < r.spans.size() && r.spans[i].first <= hi) {
                hi = std::max(hi, r.spans[i].second);
                continue;
            }
            if (i < r.spans.size()) {
                const double mid = (hi + r.spans[i].first) / 2;
                while (left < r.crossings.size() && r.crossings[left] < mid) ++left;
                if (left % 2 == 1) {  // the piece fills the gap
                    hi = std::max(hi, r.spans[i].second);
                    continue;
                }
            }
            out.push_back({{lo, lo_of(k), hi, hi_of(k)},
                           {cut(lo, tile.minx) ? -inf : lo, end_lo_y, cut(hi, tile.maxx) ? inf : hi, end_hi_y}});
            if (i < r.spans.size()) {
                lo = r.spans[i].first;
                hi = r.spans[i].second;
            }
        }
    }
    // A piece clear of its tile's sides is a whole hole of the free space: a
    // probe polygon of radius d in it needs (n / 2) sin(2 pi / n) d^2 of its
    // area, n its kCircleSides sides.
    if (cut(hb.minx, tile.minx) || cut(hb.maxx, tile.maxx) || cut(hb.miny, tile.miny) || cut(hb.maxy, tile.maxy)) return;
    double area = 0;
    for (const Contour& c : piece) area += polygon_area(c);
    const double room = std::sqrt(std::max(area, 0.0) / ((kCircleSides / 2) * std::sin(2 * kPi / kCircleSides))) * (1 + 1e-9);
    for (std::size_t i = first; i < out.size(); ++i) out[i].room = room;
}

BBox path_box(const ClipperLib::Path& p) {
    BBox b{kInf, kInf, -kInf, -kInf};
    for (const ClipperLib::IntPoint& q : p) {
        const double x = from_grid(q.X), y = from_grid(q.Y);
        b = {std::min(b.minx, x), std::min(b.miny, y), std::max(b.maxx, x), std::max(b.maxy, y)};
    }
    return b;
}

// The pieces of what a poly tree's outlines enclose, less their islands;
// outlines nested in islands become pieces of their own.
void collect_pieces(const ClipperLib::PolyNode& node, const BBox& tile, double h, std::vector<FreeSpace::Piece>& out) {
    for (const ClipperLib::PolyNode* outer : node.Childs) {
        if (outer->Contour.size() < 3) continue;
        FreeSpace::Piece piece;
        piece.paths.push_back(outer->Contour);
        std::vector<Contour> contours{to_contour(outer->Contour)};
        for (const ClipperLib::PolyNode* island : outer->Childs) {
            if (island->Contour.size() >= 3) {
                piece.paths.push_back(island->Contour);
                contours.push_back(to_contour(island->Contour));
            }
            collect_pieces(*island, tile, h, out);
        }
        piece.box = polygon_bbox(contours[0]);
        piece_windows(contours, tile, h, piece.windows);
        out.push_back(std::move(piece));
    }
}

}  // namespace

double probe_radius(int level) { return std::exp2(static_cast<double>(level) / 4.0); }

Probe probe_for(const Shape& mover, double bin_w, double bin_h) {
    Probe p;
    double rho;
    Pt centre, ref;
    if (mover.is_circle()) {
        rho = circle_cast(mover).rotated_shape().radius;
        centre = {0.0, 0.0};
        ref = mover.reference_point_local();
    } else {
        const Contour& c = polygon_cast(mover).rotated_contour();
        if (c.size() < 4 || !(std::fabs(polygon_area(c)) > 0)) return p;
        ref = top_right(c);
        // the distance from a point inside the convex outline to its nearest edge
        auto room = [&](Pt q) {
            double r = kInf;
            for (std::size_t i = 0; i + 1 < c.size(); ++i) {
                const double dx = c[i + 1].x - c[i].x, dy = c[i + 1].y - c[i].y;
                const double len = std::hypot(dx, dy);
                if (!(len > 1e-12)) continue;
                r = std::min(r, std::fabs(dx * (q.y - c[i].y) - dy * (q.x - c[i].x)) / len);
            }
            return r;
        };
        // The centre of a large disc inside: from the centroid, the best of a
        // grid of points around it, twice on a finer grid.
        centre = polygon_centroid(c);
        rho = room(centre);
        const BBox b = polygon_bbox(c);
        double step = std::max(b.maxx - b.minx, b.maxy - b.miny) / 8;
        for (int pass = 0; pass < 3; ++pass, step /= 4) {
            const Pt from = centre;
            for (int i = -4; i <= 4; ++i)
                for (int j = -4; j <= 4; ++j) {
                    const Pt q{from.x + i * step, from.y + j * step};
                    if (!point_in_convex_polygon(q, c)) continue;
                    const double r = room(q);
                    if (r > rho) {
                        rho = r;
                        centre = q;
                    }
                }
        }
        rho *= 1.0 - 1e-9;
    }
    if (!std::isfinite(rho) || !(rho > 0) || !std::isfinite(centre.x) || !std::isfinite(centre.y)) return p;
    double lv = std::floor(4.0 * std::log2(rho));
    if (!(lv >= kMinLevel) || lv > 400) return p;
    int level = static_cast<int>(lv);
    while (probe_radius(level) > rho) --level;
    if (level < kMinLevel || 2 * probe_radius(level) >= std::min(bin_w, bin_h)) return p;
    p.usable = true;
    p.level = level;
    p.radius = rho;
    p.offset = {centre.x - ref.x, centre.y - ref.y};
    return p;
}

const FreeWindows& FreeSpace::windows(const Probe& want, const std::vector<Shape*>& packed, double bin_w,
                                      double bin_h, const std::function<void()>& stop) {
    // The largest level kept within a factor 2 below the mover's, else a new
    // one a factor sqrt(2) below.
    auto found = levels_.upper_bound(want.level);
    if (found != levels_.begin() && std::prev(found)->first >= want.level - 4) {
        found = std::prev(found);
    } else {
        const int level = std::max(want.level - 2, kMinLevel);
        found = levels_.emplace(level, Level{}).first;
        Level& lv = found->second;
        lv.rho = probe_radius(level);
        lv.windows.level = level;
        lv.windows.probe_radius = lv.rho;
    }
    Level& lv = found->second;
    const bool prefix = lv.basis.size() <= packed.size() && std::equal(lv.basis.begin(), lv.basis.end(), packed.begin());
    if (prefix && lv.built && lv.basis.size() == packed.size()) return lv.windows;
    const double rho = lv.rho, h = 2 * rho;
    const Contour probe = circle_to_polygon({0.0, 0.0}, rho, kCircleSides);
    const Pt probe_top = top_right(probe);
    auto path_of = [&](std::size_t j) {
        const Shape& o = *packed[j];
        if (o.is_circle())
            return world_path(regular_polygon_at_origin(circle_cast(o).rotated_shape().radius + rho), o.tx(), o.ty());
        const Contour& a = polygon_cast(o).rotated_contour();
        RawNfp raw = nfp_convex_only(a, probe);
        return world_path(anchor_outer_nfp(correct_nfp_position(raw.pts, raw.top, a, probe), a, probe),
                          o.tx() - probe_top.x, o.ty() - probe_top.y);
    };
    const double m = grid_margin(bin_w, bin_h);
    // The places of the probe's centre in the bin, in tiles of about four probes.
    const double x0 = rho - m, y0 = rho - m, x1 = bin_w - rho + m, y1 = bin_h - rho + m;
    const double side = std::max({8 * rho, (x1 - x0) / 64, (y1 - y0) / 64});
    const int nx = std::max(1, static_cast<int>(std::ceil((x1 - x0) / side)));
    const int ny = std::max(1, static_cast<int>(std::ceil((y1 - y0) / side)));
    auto tile_of = [&](int ix, int iy) {
        return BBox{from_grid(to_grid(x0 + (x1 - x0) * ix / nx)), from_grid(to_grid(y0 + (y1 - y0) * iy / ny)),
                    from_grid(to_grid(ix + 1 == nx ? x1 : x0 + (x1 - x0) * (ix + 1) / nx)),
                    from_grid(to_grid(iy + 1 == ny ? y1 : y0 + (y1 - y0) * (iy + 1) / ny))};
    };
    auto tile_at = [&](const BBox& b) {
        const int ix = std::clamp(static_cast<int>(std::floor((b.minx - x0) / (x1 - x0) * nx)), 0, nx - 1);
        const int iy = std::clamp(static_cast<int>(std::floor((b.miny - y0) / (y1 - y0) * ny)), 0, ny - 1);
        // the piece's lower-left corner may round into a neighbour
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) {
                const BBox t = tile_of(std::clamp(ix + dx, 0, nx - 1), std::clamp(iy + dy, 0, ny - 1));
                if (b.minx >= t.minx - 1e-9 && b.miny >= t.miny - 1e-9 && b.maxx <= t.maxx + 1e-9 && b.maxy <= t.maxy + 1e-9)
                    return t;
            }
        return tile_of(ix, iy);
    };
    std::size_t first_new = lv.basis.size();
    std::vector<Piece> pieces;
    if (!prefix || !lv.built) {
        first_new = 0;
        lv.pieces.clear();
        for (int iy = 0; iy < ny; ++iy)
            for (int ix = 0; ix < nx; ++ix) {
                const BBox t = tile_of(ix, iy);
                Piece piece;
                piece.paths.push_back(rect_path(t.minx, t.miny, t.maxx, t.maxy, false));
                piece.box = t;
                lv.pieces.push_back(std::move(piece));
            }
    }
    lv.basis.clear();
    lv.built = false;
    // Taken out until updated; a failure meanwhile starts the level afresh.
    std::vector<Piece> old = std::move(lv.pieces);
    lv.pieces.clear();
    ClipperLib::Paths nfps;
    std::vector<BBox> boxes;
    for (std::size_t j = first_new; j < packed.size(); ++j) {
        if (j % 256 == 255) stop();
        nfps.push_back(path_of(j));
        boxes.push_back(path_box(nfps.back()));
    }
    stop();
    std::vector<std::size_t> hit;
    for (std::size_t i = 0; i < old.size(); ++i) {
        if (i % 64 == 63) stop();
        Piece& piece = old[i];
        hit.clear();
        for (std::size_t k = 0; k < nfps.size(); ++k)
            if (meets(boxes[k], piece.box, m)) hit.push_back(k);
        if (hit.empty()) {
            if (piece.windows.empty() && !piece.paths.empty()) {
                std::vector<Contour> contours;
                for (const ClipperLib::Path& p : piece.paths) contours.push_back(to_contour(p));
                piece_windows(contours, tile_at(piece.box), h, piece.windows);
            }
            pieces.push_back(std::move(piece));
            continue;
        }
        ClipperLib::Clipper clipper;
        clipper.AddPaths(piece.paths, ClipperLib::ptSubject, true);
        for (std::size_t k : hit) clipper.AddPath(nfps[k], ClipperLib::ptClip, true);
        ClipperLib::PolyTree tree;
        clipper.Execute(ClipperLib::ctDifference, tree, ClipperLib::pftNonZero, ClipperLib::pftNonZero);
        collect_pieces(tree, tile_at(piece.box), h, pieces);
    }
    lv.pieces = std::move(pieces);
    lv.windows.list.clear();
    for (const Piece& piece : lv.pieces) lv.windows.list.insert(lv.windows.list.end(), piece.windows.begin(), piece.windows.end());
    lv.basis = packed;
    lv.built = true;
    return lv.windows;
}

const CircleIndex& FreeSpace::circle_index(const std::vector<Shape*>& packed) {
    CircleIndex& ix = circles_;
    const bool prefix = ix.basis.size() <= packed.size() && std::equal(ix.basis.begin(), ix.basis.end(), packed.begin());
    if (!prefix) ix = CircleIndex{};
    for (std::size_t j = ix.basis.size(); j < packed.size(); ++j) {
        const Shape& o = *packed[j];
        ix.basis.push_back(packed[j]);
        if (!o.is_circle()) {
            ix.circles = false;
            continue;
        }
        const double r = circle_cast(o).rotated_shape().radius;
        ix.max_r = std::max(ix.max_r, r);
        const std::pair<double, std::size_t> e{o.ty() - r, j};
        ix.low.insert(std::upper_bound(ix.low.begin(), ix.low.end(), e), e);
    }
    return ix;
}

const std::vector<FreeSpace::Piece>* FreeSpace::pieces(int level) const {
    auto it = levels_.find(level);
    return it == levels_.end() || !it->second.built ? nullptr : &it->second.pieces;
}

}  // namespace quarvo
