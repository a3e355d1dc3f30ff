#include "compress/working_layout.hpp"

#include <algorithm>
#include <cmath>

namespace quarvo {
namespace compress_detail {

namespace {

// Far beyond any weight a run reaches; keeps products finite.
constexpr float kWeightCap = 1e15f;
// Bands of the item index along each axis at most.
constexpr double kMaxBands = 512.0;
// The box kept for one move's nearby samples reaches this share of the
// sample's size beyond it on every side.
constexpr double kLocalMargin = 0.75;
// No item's share of an overlap weighs less than this (items of no area still collide).
constexpr double kLeastSize = 1e-3;
// Random picks for a swap partner before the swap is given up.
constexpr int kSwapTries = 8;
// A swap whose two items overlap more than this many times as much as before
// is undone before they settle.
constexpr double kSwapCeiling = 2.0;

// 1 where the open boxes a and b meet, else 0: no branches, so that the scans
// over many boxes run straight through.
inline std::size_t open_boxes_meet(double ax0, double ay0, double ax1, double ay1, double bx0, double by0, double bx1,
                                   double by1) {
    return static_cast<std::size_t>(static_cast<int>(ax0 < bx1) & static_cast<int>(ax1 > bx0) &
                                    static_cast<int>(ay0 < by1) & static_cast<int>(ay1 > by0));
}

}  // namespace

WorkingLayout::WorkingLayout(const Catalogue& cat, Probes& probes, std::size_t n, MoveSettings settings)
    : cat_(cat), probes_(probes), set_(settings), place_(n), x0_(n), y0_(n), x1_(n), y1_(n), ov_(n), w_(n),
      row_(n, 1.0f), mark_(n, 0), near_(n + 1) {
    // An overlap counts as its depth times the pair's mean size, about the
    // area they share: a small item sunk into a large one weighs less than two
    // large ones overlapping as deep. Sizes are relative to the items' mean.
    double mean = 0.0;
    for (std::size_t i = 0; i < n; ++i) mean += std::sqrt(cat_.variant(cat_.choices(i).front()).area);
    mean /= static_cast<double>(n);
    size_.assign(cat_.size(), 1.0);
    if (mean > 0.0 && std::isfinite(mean))
        for (std::size_t v = 0; v < cat_.size(); ++v)
            size_[v] = std::max(kLeastSize, std::sqrt(std::sqrt(cat_.variant(v).area) / mean));
}

bool carries(const Catalogue& cat, Probes& probes, const Place& c, const Place& j) {
    const Variant &vc = cat.variant(c.v), &vj = cat.variant(j.v);
    if (vc.rooms.empty() || c.bin != j.bin) return false;
    return cat.pair(c.v, j.v, probes).in_room({j.x + vj.ref.x - c.x, j.y + vj.ref.y - c.y});
}

void trade_places(const Catalogue& cat, Place& a, Place& b) {
    const Place pa = a, pb = b;
    const Variant &va = cat.variant(pa.v), &vb = cat.variant(pb.v);
    const double cax = pa.x + 0.5 * (va.box.minx + va.box.maxx), cay = pa.y + 0.5 * (va.box.miny + va.box.maxy);
    const double cbx = pb.x + 0.5 * (vb.box.minx + vb.box.maxx), cby = pb.y + 0.5 * (vb.box.miny + vb.box.maxy);
    a.bin = pb.bin;
    a.x = pa.x + (cbx - cax);
    a.y = pa.y + (cby - cay);
    b.bin = pa.bin;
    b.x = pb.x + (cax - cbx);
    b.y = pb.y + (cay - cby);
}

bool sheet_range(const Variant& var, const Sheet& sheet, std::size_t bin, double& xlo, double& xhi, double& ylo,
                 double& yhi) {
    xlo = -var.box.minx;
    xhi = sheet.width - var.box.maxx;
    ylo = -var.box.miny;
    yhi = std::min(sheet.height - var.box.maxy, sheet.cap[bin] - var.top);
    // the inflated outline keeps its inflation from the edges already; the rest of the margin comes on top
    const double in = sheet.margin > var.infl ? sheet.margin - var.infl : 0.0;
    if (in > 0.0) {
        xlo += in;
        xhi -= in;
        ylo += in;
        yhi = std::min(yhi, sheet.height - var.box.maxy - in);
    }
    return xlo <= xhi && ylo <= yhi;
}

bool WorkingLayout::clamp(Place& p) const {
    double xlo, xhi, ylo, yhi;
    if (!range(p.v, p.bin, xlo, xhi, ylo, yhi)) return false;
    p.x = std::min(xhi, std::max(xlo, p.x));
    p.y = std::min(yhi, std::max(ylo, p.y));
    return true;
}

void WorkingLayout::assign(const std::vector<Place>& places, const Sheet& sheet) {
    sheet_ = sheet;
    for (auto& l : ov_) l.clear();
    pairs_ = 0;
    for (std::size_t i = 0; i < place_.size(); ++i) {
        Place p = places[i];
        // An angle too tall for the sheet gives way to the first that fits;
        // an item its bin (lowered under it) holds at no angle goes to the
        // first bin that holds it, unless items keep their bins. One that
        // fits nowhere stays as it was, for the exact test to report.
        const auto settle = [&](Place& q) {
            bool fits = clamp(q);
            for (std::size_t k = 0; !fits && k < cat_.choices(i).size(); ++k) {
                q.v = cat_.choices(i)[k];
                fits = clamp(q);
            }
            return fits;
        };
        bool fits = settle(p);
        for (std::size_t b = 0; !fits && !set_.keep_bins && b < sheet_.cap.size(); ++b) {
            p.bin = b;
            fits = settle(p);
        }
        place_[i] = fits ? p : places[i];
        set_box(i);
    }
    index_bands();
    for (std::size_t i = 0; i < place_.size(); ++i) measure(i, i);
}

void WorkingLayout::Bands::reset(double lo, double hi, double size, std::size_t items) {
    const double count = size > 0.0 ? std::ceil((hi - lo) / size) : 1.0;
    count_ = static_cast<int>(std::min(kMaxBands, std::max(1.0, count)));
    lo_ = lo;
    inv_ = hi > lo ? static_cast<double>(count_) / (hi - lo) : 0.0;
    words_ = (items + 63) / 64;
    sets_.assign(static_cast<std::size_t>(count_) * words_, 0);
    span_.assign(items, {0, -1});
}

int WorkingLayout::Bands::band_of(double v) const {
    const double b = std::floor((v - lo_) * inv_);
    return static_cast<int>(std::min<double>(count_ - 1, std::max(0.0, b)));
}

void WorkingLayout::Bands::file(std::size_t i, double lo, double hi) {
    mark(i, false);
    span_[i] = {band_of(lo), band_of(hi)};
    mark(i, true);
}

void WorkingLayout::Bands::mark(std::size_t i, bool in) {
    const std::uint64_t bit = std::uint64_t{1} << (i % 64);
    for (int b = span_[i].first; b <= span_[i].second; ++b) {
        std::uint64_t& w = sets_[static_cast<std::size_t>(b) * words_ + i / 64];
        w = in ? (w | bit) : (w & ~bit);
    }
}

void WorkingLayout::index_bands() {
    const std::size_t n = place_.size();
    double ylo = 0.0, yhi = 0.0, xlo = 0.0, xhi = sheet_.width, tall = 0.0, wide = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        ylo = std::min(ylo, y0_[i]);
        yhi = std::max(yhi, y1_[i]);
        xlo = std::min(xlo, x0_[i]);
        xhi = std::max(xhi, x1_[i]);
        tall += y1_[i] - y0_[i];
        wide += x1_[i] - x0_[i];
    }
    // Bands of half an item's mean size: a box meets the items of about three of each.
    rows_.reset(ylo, yhi, 0.5 * tall / static_cast<double>(n), n);
    cols_.reset(xlo, xhi, 0.5 * wide / static_cast<double>(n), n);
    for (std::size_t i = 0; i < n; ++i) {
        rows_.file(i, y0_[i], y1_[i]);
        cols_.file(i, x0_[i], x1_[i]);
    }
}

std::size_t WorkingLayout::gather(double x0, double y0, double x1, double y1, std::size_t end) {
    const int r0 = rows_.band_of(y0), r1 = rows_.band_of(y1);
    const int c0 = cols_.band_of(x0), c1 = cols_.band_of(x1);
    const std::size_t last = (end + 63) / 64;
    std::size_t found = 0;
    for (std::size_t w = 0; w < last; ++w) {
        std::uint64_t bits = rows_.word(r0, r1, w) & cols_.word(c0, c1, w);
        if (w + 1 == last && end % 64 != 0) bits &= (std::uint64_t{1} << (end % 64)) - 1;
        while (bits != 0) {
            const std::size_t j = w * 64 + static_cast<std::size_t>(__builtin_ctzll(bits));
            bits &= bits - 1;
            near_[found] = static_cast<std::uint32_t>(j);
            found += open_boxes_meet(x0, y0, x1, y1, x0_[j], y0_[j], x1_[j], y1_[j]);
        }
    }
    return found;
}

void WorkingLayout::measure(std::size_t i, std::size_t end) {
    const Place& p = place_[i];
    const Variant& var = cat_.variant(p.v);
    const Pt q{p.x + var.ref.x, p.y + var.ref.y};
    const std::size_t found = gather(x0_[i], y0_[i], x1_[i], y1_[i], end);
    for (std::size_t k = 0; k < found; ++k) {
        const std::size_t j = near_[k];
        if (j == i || place_[j].bin != p.bin) continue;
        double d = cat_.pair(place_[j].v, p.v, probes_).depth({q.x - place_[j].x, q.y - place_[j].y});
        if (d <= 0.0) continue;
        d *= scale(place_[j].v, p.v);
        ov_[i].push_back({static_cast<std::uint32_t>(j), d});
        ov_[j].push_back({static_cast<std::uint32_t>(i), d});
        if (d > kOverlapTol) ++pairs_;
    }
}

void WorkingLayout::set_box(std::size_t i) {
    const Place& p = place_[i];
    const BBox& r = cat_.variant(p.v).reach;
    x0_[i] = p.x + r.minx;
    y0_[i] = p.y + r.miny;
    x1_[i] = p.x + r.maxx;
    y1_[i] = p.y + r.maxy;
}

double WorkingLayout::overlap() const {
    double sum = 0.0;
    for (std::size_t i = 0; i < ov_.size(); ++i)
        for (const auto& [j, d] : ov_[i])
            if (j > i && d > kOverlapTol) sum += d;
    return sum;
}

bool WorkingLayout::colliding(std::size_t i) const {
    for (const auto& e : ov_[i])
        if (e.second > kOverlapTol) return true;
    return false;
}

void WorkingLayout::flag(std::size_t i, std::size_t j) {
    for (auto& e : ov_[i])
        if (e.first == j) {
            if (e.second > kOverlapTol) return;
            e.second = 2 * kOverlapTol;
            for (auto& f : ov_[j])
                if (f.first == i) f.second = e.second;
            ++pairs_;
            return;
        }
    ov_[i].push_back({static_cast<std::uint32_t>(j), 2 * kOverlapTol});
    ov_[j].push_back({static_cast<std::uint32_t>(i), 2 * kOverlapTol});
    ++pairs_;
}

double WorkingLayout::cost(std::size_t i, const Place& p, double bound) {
    const Variant& var = cat_.variant(p.v);
    const double bx0 = p.x + var.reach.minx, by0 = p.y + var.reach.miny;
    const double bx1 = p.x + var.reach.maxx, by1 = p.y + var.reach.maxy;
    const Pt q{p.x + var.ref.x, p.y + var.ref.y};
    std::size_t found = 0;
    if (local_on_) {
        if (!local_ok_ || bx0 < lx0_ || bx1 > lx1_ || by0 < ly0_ || by1 > ly1_) {
            // Room for the samples near this one and the steps of the descent.
            const double m = kLocalMargin * std::max(bx1 - bx0, by1 - by0);
            lx0_ = bx0 - m;
            ly0_ = by0 - m;
            lx1_ = bx1 + m;
            ly1_ = by1 + m;
            local_.assign(near_.begin(), near_.begin() + static_cast<long>(gather(lx0_, ly0_, lx1_, ly1_, place_.size())));
            local_ok_ = true;
        }
        // Every box that overlaps this one overlaps the kept one: the same items in the same order.
        for (const std::uint32_t j : local_) {
            near_[found] = j;
            found += open_boxes_meet(bx0, by0, bx1, by1, x0_[j], y0_[j], x1_[j], y1_[j]);
        }
    } else {
        found = gather(bx0, by0, bx1, by1, place_.size());
    }
    double sum = 0.0;
    for (std::size_t k = 0; k < found; ++k) {
        const std::size_t j = near_[k];
        if (j == i || place_[j].bin != p.bin) continue;
        const Place& o = place_[j];
        const PairShape& pair = cat_.pair(o.v, p.v, probes_);
        const Pt at{q.x - o.x, q.y - o.y};
        if (!pair.inside(at)) continue;
        // A depth beyond what is left of the bound cannot make a better place:
        // the search for the nearest boundary stops there. (The callers take
        // only a cost below the bound, so a sum rounded up to it is as good
        // as the bound.)
        const double sc = scale(o.v, p.v);
        const double limit = (bound - sum) / (row_[j] * sc);
        const double d = pair.inner_depth(at, limit);
        if (d >= limit) return bound;
        if (d > 0.0) sum += row_[j] * sc * d;
    }
    return sum;
}

void WorkingLayout::put(std::size_t i, const Place& p) {
    for (const auto& [j, d] : ov_[i]) {
        auto& other = ov_[j];
        for (std::size_t k = 0; k < other.size(); ++k)
            if (other[k].first == i) {
                other[k] = other.back();
                other.pop_back();
                break;
            }
        if (d > kOverlapTol) --pairs_;
    }
    ov_[i].clear();
    place_[i] = p;
    set_box(i);
    rows_.file(i, y0_[i], y1_[i]);
    cols_.file(i, x0_[i], x1_[i]);
    measure(i, place_.size());
}

void WorkingLayout::descend(std::size_t i, Place& best, double& best_cost) {
    const Variant& var = cat_.variant(best.v);
    const double size = std::max(var.box.maxx - var.box.minx, var.box.maxy - var.box.miny);
    static constexpr int kDx[4] = {1, -1, 0, 0}, kDy[4] = {0, 0, 1, -1};
    for (double step = set_.descent_start * size; step >= set_.descent_end * size && best_cost > 0.0;) {
        bool better = false;
        for (int k = 0; k < 4 && best_cost > 0.0; ++k) {
            Place p = best;
            p.x += kDx[k] * step;
            p.y += kDy[k] * step;
            if (!clamp(p) || (p.x == best.x && p.y == best.y)) continue;
            const double c = cost(i, p, best_cost);
            if (c < best_cost) {
                best_cost = c;
                best = p;
                better = true;
            }
        }
        if (!better) step *= 0.5;
    }
}

void WorkingLayout::step_out(std::size_t i, Place& best, double& best_cost) {
    for (int k = 0; k < set_.step_outs && best_cost > 0.0; ++k) {
        const Variant& var = cat_.variant(best.v);
        const Pt q{best.x + var.ref.x, best.y + var.ref.y};
        const std::size_t found =
            gather(best.x + var.reach.minx, best.y + var.reach.miny, best.x + var.reach.maxx, best.y + var.reach.maxy,
                   place_.size());
        // The partner of the deepest weighted overlap.
        double deepest = 0.0;
        std::size_t from = place_.size();
        for (std::size_t f = 0; f < found; ++f) {
            const std::size_t j = near_[f];
            if (j == i || place_[j].bin != best.bin) continue;
            const Place& o = place_[j];
            const double d = row_[j] * scale(o.v, best.v) * cat_.pair(o.v, best.v, probes_).depth({q.x - o.x, q.y - o.y});
            if (d > deepest) {
                deepest = d;
                from = j;
            }
        }
        if (from == place_.size()) return;
        const Place& o = place_[from];
        const Pt in{q.x - o.x, q.y - o.y};
        const Pt out = cat_.pair(o.v, best.v, probes_).escape(in);
        // Onto the edge itself, no further: a gap would keep exact fits
        // (items on a unit grid, pieces of a cut sheet) from closing. Where the
        // exact test finds the two still too close, the pair is flagged.
        if (out.x == in.x && out.y == in.y) return;
        Place p = best;
        p.x += out.x - in.x;
        p.y += out.y - in.y;
        if (!clamp(p)) return;
        const double c = cost(i, p, best_cost);
        if (!(c < best_cost)) return;
        best_cost = c;
        best = p;
    }
}

float WorkingLayout::weight(std::size_t i, std::size_t j) const {
    const auto& l = w_[i];
    auto it = std::lower_bound(l.begin(), l.end(), std::make_pair(static_cast<std::uint32_t>(j), 0.0f),
                               [](const auto& a, const auto& b) { return a.first < b.first; });
    return it != l.end() && it->first == j ? it->second : 1.0f;
}

double WorkingLayout::group_cost(const std::vector<std::size_t>& group, double dx, double dy, double bound) {
    double sum = 0.0;
    for (std::size_t m : group) {
        const Place& p = place_[m];
        const Variant& var = cat_.variant(p.v);
        const double bx0 = x0_[m] + dx, by0 = y0_[m] + dy, bx1 = x1_[m] + dx, by1 = y1_[m] + dy;
        const Pt q{p.x + dx + var.ref.x, p.y + dy + var.ref.y};
        for (std::size_t j = 0; j < place_.size(); ++j) {
            if (bx0 >= x1_[j] || bx1 <= x0_[j] || by0 >= y1_[j] || by1 <= y0_[j] || mark_[j] || place_[j].bin != p.bin)
                continue;
            const Place& o = place_[j];
            const double w = weight(m, j) * scale(o.v, p.v);
            const double limit = (bound - sum) / w;
            const double d = cat_.pair(o.v, p.v, probes_).depth({q.x - o.x, q.y - o.y}, limit);
            if (d >= limit) return bound;
            sum += w * d;
        }
    }
    return sum;
}

void WorkingLayout::move_group(std::size_t i, const std::vector<std::size_t>& riders, Rng& rng) {
    std::vector<std::size_t> group = riders;
    group.push_back(i);
    for (std::size_t m : group) mark_[m] = 1;
    double best_cost = 0.0;
    for (std::size_t m : group)
        for (const auto& [j, d] : ov_[m])
            if (!mark_[j]) best_cost += weight(m, j) * d;
    double bx = 0.0, by = 0.0;  // the best translation so far
    const Place cur = place_[i];
    const Variant& var = cat_.variant(cur.v);
    auto consider = [&](Place p) {
        if (!clamp(p)) return;
        const double c = group_cost(group, p.x - cur.x, p.y - cur.y, best_cost);
        if (c < best_cost) {
            best_cost = c;
            bx = p.x - cur.x;
            by = p.y - cur.y;
        }
    };
    double xlo, xhi, ylo, yhi;
    if (range(cur.v, cur.bin, xlo, xhi, ylo, yhi))
        for (int k = 0; k < set_.global && best_cost > 0.0; ++k)
            consider({cur.v, cur.bin, xlo + (xhi - xlo) * rng.unit(), ylo + (yhi - ylo) * rng.unit()});
    for (int k = 0; k < set_.focus && best_cost > 0.0; ++k)
        consider({cur.v, cur.bin, cur.x + (2.0 * rng.unit() - 1.0) * set_.focus_span * (var.box.maxx - var.box.minx),
                  cur.y + (2.0 * rng.unit() - 1.0) * set_.focus_span * (var.box.maxy - var.box.miny)});
    const double size = std::max(var.box.maxx - var.box.minx, var.box.maxy - var.box.miny);
    static constexpr int kDx[4] = {1, -1, 0, 0}, kDy[4] = {0, 0, 1, -1};
    for (double step = set_.descent_start * size; step >= set_.descent_end * size && best_cost > 0.0;) {
        const double sx = bx, sy = by;
        for (int k = 0; k < 4 && best_cost > 0.0; ++k)
            consider({cur.v, cur.bin, cur.x + sx + kDx[k] * step, cur.y + sy + kDy[k] * step});
        if (bx == sx && by == sy) step *= 0.5;
    }
    for (std::size_t m : group) mark_[m] = 0;
    if (bx == 0.0 && by == 0.0) return;
    // (the riders lie in the container's room, so on the sheet wherever it is)
    for (std::size_t m : group) {
        Place p = place_[m];
        p.x += bx;
        p.y += by;
        put(m, p);
    }
}

double WorkingLayout::item_cost(std::size_t i) const {
    double c = 0.0;
    for (const auto& [j, d] : ov_[i]) c += weight(i, j) * d;
    return c;
}

bool WorkingLayout::try_swap(std::size_t i, Rng& rng) {
    const std::size_t n = place_.size();
    if (!cat_.variant(place_[i].v).rooms.empty()) return false;
    // A partner of another kind (containers move with their riders: not
    // swapped) in the same bin, or, half the time where items may change
    // bins, in any bin: the two then trade bins too.
    std::size_t j = n;
    const bool cross = !set_.keep_bins && sheet_.cap.size() > 1 && rng.below(2) == 0;
    for (int t = 0; t < kSwapTries && j == n; ++t) {
        const std::size_t c = rng.below(n);
        if (c != i && cat_.kind_of(c) != cat_.kind_of(i) && (cross || place_[c].bin == place_[i].bin) &&
            cat_.variant(place_[c].v).rooms.empty())
            j = c;
    }
    if (j == n) return false;
    const double before = item_cost(i) + item_cost(j);
    const Place pa = place_[i], pb = place_[j];
    // Each takes the other's place, then settles nearby.
    Place na = pa, nb = pb;
    trade_places(cat_, na, nb);
    if (!clamp(na) || !clamp(nb)) return false;
    put(i, na);
    put(j, nb);
    // Settling from a much deeper overlap costs many deep measurements and rarely pays.
    if (item_cost(i) + item_cost(j) > kSwapCeiling * before) {
        put(i, pa);
        put(j, pb);
        return false;
    }
    move(i, rng, false);
    move(j, rng, false);
    if (item_cost(i) + item_cost(j) < before) return true;
    put(i, pa);
    put(j, pb);
    return false;
}

void WorkingLayout::move(std::size_t i, Rng& rng, bool global) {
    if (global && !cat_.variant(place_[i].v).rooms.empty()) {
        std::vector<std::size_t> riders;
        for (std::size_t j = 0; j < place_.size(); ++j)
            if (j != i && x0_[j] >= x0_[i] && x1_[j] <= x1_[i] && y0_[j] >= y0_[i] && y1_[j] <= y1_[i] &&
                carries(cat_, probes_, place_[i], place_[j]))
                riders.push_back(j);
        if (!riders.empty()) {
            move_group(i, riders, rng);
            return;
        }
    }
    for (const auto& [j, w] : w_[i]) row_[j] = w;
    const Place cur = place_[i];
    double best_cost = 0.0;
    for (const auto& [j, d] : ov_[i]) best_cost += row_[j] * d;
    Place best = cur;
    auto consider = [&](const Place& p) {
        const double c = cost(i, p, best_cost);
        if (c < best_cost) {
            best_cost = c;
            best = p;
        }
    };
    const std::vector<std::size_t>& choices = cat_.choices(i);
    const std::size_t bins = sheet_.cap.size();
    for (int k = 0; global && k < set_.global && best_cost > 0.0; ++k) {
        Place p;
        p.v = choices[rng.below(choices.size())];
        p.bin = set_.keep_bins ? cur.bin : bins > 1 ? rng.below(bins) : 0;
        double xlo, xhi, ylo, yhi;
        if (!range(p.v, p.bin, xlo, xhi, ylo, yhi)) continue;
        p.x = xlo + (xhi - xlo) * rng.unit();
        p.y = ylo + (yhi - ylo) * rng.unit();
        consider(p);
    }
    local_on_ = true;
    local_ok_ = false;
    for (int k = 0; k < set_.focus && best_cost > 0.0; ++k) {
        Place p = cur;
        if (choices.size() > 1 && rng.below(4) == 0) p.v = choices[rng.below(choices.size())];
        const Variant& var = cat_.variant(p.v);
        p.x += (2.0 * rng.unit() - 1.0) * set_.focus_span * (var.box.maxx - var.box.minx);
        p.y += (2.0 * rng.unit() - 1.0) * set_.focus_span * (var.box.maxy - var.box.miny);
        if (clamp(p)) consider(p);
    }
    for (int k = 0; k < set_.touches && best_cost > 0.0 && !ov_[i].empty(); ++k) {
        const Place& o = place_[ov_[i][rng.below(ov_[i].size())].first];
        Place p = cur;
        if (choices.size() > 1 && rng.below(4) == 0) p.v = choices[rng.below(choices.size())];
        const Region& nfp = cat_.pair(o.v, p.v, probes_).nfp();
        if (nfp.empty()) continue;
        const Contour& c = nfp[rng.below(nfp.size())];
        if (c.empty()) continue;
        const Pt corner = c[rng.below(c.size())];
        const Pt ref = cat_.variant(p.v).ref;
        p.x = o.x + corner.x - ref.x;
        p.y = o.y + corner.y - ref.y;
        if (clamp(p)) consider(p);
    }
    if (best_cost > 0.0) descend(i, best, best_cost);
    if (best_cost > 0.0) step_out(i, best, best_cost);
    local_on_ = false;
    put(i, best);
    for (const auto& [j, w] : w_[i]) row_[j] = 1.0f;
}

long long WorkingLayout::sweep(Rng& rng, const std::atomic<bool>* abort) {
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < place_.size(); ++i)
        if (colliding(i)) order.push_back(i);
    for (std::size_t k = order.size(); k > 1; --k) std::swap(order[k - 1], order[rng.below(k)]);
    long long moves = 0;
    for (std::size_t i : order) {
        if (abort && abort->load(std::memory_order_relaxed)) break;
        if (!colliding(i)) continue;
        ++moves;
        if (set_.swap > 0.0 && rng.unit() < set_.swap && try_swap(i, rng)) continue;
        move(i, rng);
    }
    return moves;
}

void WorkingLayout::update_weights() {
    double deepest = 0.0;
    for (const auto& l : ov_)
        for (const auto& e : l) deepest = std::max(deepest, e.second);
    std::vector<std::pair<std::uint32_t, double>> hits;
    std::vector<std::pair<std::uint32_t, float>> next;
    for (std::size_t i = 0; i < ov_.size(); ++i) {
        hits.clear();
        for (const auto& e : ov_[i])
            if (e.second > kOverlapTol) hits.push_back(e);
        std::sort(hits.begin(), hits.end());
        // Merge the kept weights with the colliding partners, both by item.
        next.clear();
        const auto& kept = w_[i];
        std::size_t a = 0, b = 0;
        while (a < kept.size() || b < hits.size()) {
            const std::uint32_t ja = a < kept.size() ? kept[a].first : UINT32_MAX;
            const std::uint32_t jb = b < hits.size() ? hits[b].first : UINT32_MAX;
            float w;
            std::uint32_t j;
            if (jb <= ja) {
                j = jb;
                const float old = ja == jb ? kept[a++].second : 1.0f;
                const float grow = set_.grow_low + (set_.grow_high - set_.grow_low) * static_cast<float>(hits[b++].second / deepest);
                w = std::min(kWeightCap, old * grow);
            } else {
                j = ja;
                w = std::max(1.0f, kept[a++].second * set_.decay);
            }
            if (w > 1.0f) next.push_back({j, w});
        }
        w_[i].swap(next);
    }
}


}  // namespace compress_detail
}  // namespace quarvo
