#include "place/nfp/disc_search.hpp"

#include <algorithm>
#include <cmath>

namespace quarvo {

namespace {

// Cells a disc may be hashed into before it is kept apart instead.
constexpr long kMaxHashCells = 4096;
// Search cells per side of a hash cell.
constexpr double kCellsPerHash = 8.0;
// Columns of the search grid at most: a bin far wider than its items gets
// coarser cells rather than a grid beyond memory.
constexpr double kMaxCols = 4096.0;
// Cells of the search grid at most (32 MiB of bounds): items placed higher
// than that leave the bin to the no-fit polygons.
constexpr long kMaxCells = 1L << 22;

// Distances here only compare with margins far above rounding: a plain
// square root serves, and costs a fraction of a correctly rounded one.
double dist(double dx, double dy) { return std::sqrt(dx * dx + dy * dy); }

// The index of the cell of side `size` that holds v, kept within 2^40 so
// that no conversion or product of indices overflows.
long cell_of(double v, double size) {
    const double k = std::floor(v / size);
    constexpr double kLimit = 1099511627776.0;
    return static_cast<long>(k < -kLimit ? -kLimit : (k > kLimit ? kLimit : k));
}

// Cells in an index range, as a double: it may exceed any integer type.
double cells_in(long a0, long a1, long b0, long b1) {
    return (static_cast<double>(a1) - static_cast<double>(a0) + 1.0) * (static_cast<double>(b1) - static_cast<double>(b0) + 1.0);
}

std::int64_t hash_key(long ix, long iy) {
    // Shifted unsigned: a negative index shifted left is undefined behaviour.
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(ix) << 32) ^ static_cast<std::uint32_t>(iy));
}

// The points where circles (a, ra) and (b, rb) meet; false when they do not.
bool meet(Pt a, double ra, Pt b, double rb, Pt out[2]) {
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double d = dist(dx, dy);
    if (!(d > 0.0) || d > ra + rb || d < std::fabs(ra - rb)) return false;
    const double t = ((d * d + ra * ra) - rb * rb) / (2.0 * d);
    const double h = std::sqrt(std::max(0.0, ra * ra - t * t));
    const double ux = dx / d, uy = dy / d;
    const Pt base{a.x + t * ux, a.y + t * uy};
    out[0] = {base.x - h * uy, base.y + h * ux};
    out[1] = {base.x + h * uy, base.y - h * ux};
    return true;
}

}  // namespace

// By score, equal scores in the order they were found (a stable sort that
// needs no buffer of its own).
void sort_candidates(std::vector<DiscBin::Candidate>& cands) {
    for (std::size_t i = 0; i < cands.size(); ++i) cands[i].seq = static_cast<int>(i);
    std::sort(cands.begin(), cands.end(), [](const DiscBin::Candidate& a, const DiscBin::Candidate& b) {
        return a.score < b.score || (a.score == b.score && a.seq < b.seq);
    });
}

double DiscBin::score(Pt p, double r) const {
    // as the candidate search scores a circle's box: its lower side, then its left side
    const double minx = -r + p.x, miny = -r + p.y;
    return miny * (w_ + 1.0) + minx;
}

// Candidates lie on discs grown by this much more than the mover's radius,
// so that rounding never takes a place nearer than the distance.
double DiscBin::margin() const { return 1e-11 * (1.0 + w_ + top_ + r_max_); }

void DiscBin::reset(double bin_w, double bin_h) {
    *this = DiscBin();
    w_ = bin_w;
    h_ = bin_h;
}

bool DiscBin::refuses(const std::vector<Shape*>& packed, double r, bool trusted) const {
    if (!(r >= refused_from_) || packed.size() < refused_at_ || basis_.size() < refused_at_) return false;
    if (trusted) return refused_at_ == 0 || packed[refused_at_ - 1] == basis_[refused_at_ - 1];
    for (std::size_t i = 0; i < refused_at_; ++i)
        if (packed[i] != basis_[i] || !unchanged(i)) return false;
    return true;
}

bool DiscBin::sync(const std::vector<Shape*>& packed, double bin_w, double bin_h, bool trusted) {
    bool same = basis_.size() <= packed.size() && w_ == bin_w && h_ == bin_h;
    if (same && trusted) {
        same = basis_.empty() || packed[basis_.size() - 1] == basis_.back();
    } else {
        // a caller may have moved, grown or replaced a placed item since
        for (std::size_t i = 0; same && i < basis_.size(); ++i) same = basis_[i] == packed[i] && unchanged(i);
    }
    if (!same) reset(bin_w, bin_h);
    for (std::size_t i = basis_.size(); i < packed.size(); ++i) {
        const Shape& s = *packed[i];
        basis_.push_back(&s);
        if (!s.is_circle()) blocked_ = true;
        if (blocked_) continue;
        const CircleGeom g = circle_cast(s).transformed();
        add(s, find_parent(g.center, g.radius));
    }
    if (oversize_) blocked_ = true;
    return !blocked_;
}

bool DiscBin::unchanged(std::size_t i) const {
    if (blocked_) return true;  // nothing indexed
    const Shape& s = *basis_[i];
    const Disc& d = discs_[i];
    const CircleGeom g = circle_cast(s).transformed();
    const double room = s.is_pipe() ? pipe_cast(s).bore() - s.infl() : 0.0;
    return g.center == d.c && g.radius == d.R && room == d.room;
}

void DiscBin::placed(const Shape& item, const Found& where) {
    basis_.push_back(&item);
    add(item, where.room);
}

int DiscBin::find_parent(Pt c, double R) const {
    // the innermost room that holds the disc, up to rounding
    auto holds = [&](int j) {
        const Disc& d = discs_[j];
        return d.room >= R && dist(c.x - d.c.x, c.y - d.c.y) + R <= d.room * (1.0 + 1e-12) + 1e-9;
    };
    std::vector<int> cand;
    near(c.x, c.y, c.x, c.y, cand);
    int parent = -1;
    for (int j : cand)
        if (holds(j)) { parent = j; break; }
    while (parent >= 0) {
        int deeper = -1;
        for (int k : discs_[parent].children)
            if (holds(k)) { deeper = k; break; }
        if (deeper < 0) break;
        parent = deeper;
    }
    return parent;
}

void DiscBin::add(const Shape& s, int parent) {
    const CircleGeom g = circle_cast(s).transformed();
    Disc d{g.center, g.radius, 0.0, parent, {}, kInf, Found{}, -1.0};
    if (s.is_pipe()) {
        ++pipes_;
        const Pipe& p = pipe_cast(s);
        d.room = p.bore() - p.infl();
        d.room_bound = d.room;
    }
    const int id = static_cast<int>(discs_.size());
    discs_.push_back(d);
    r_max_ = std::max(r_max_, d.R);
    if (g_ <= 0.0) {
        // the grids are sized by the first disc, one on the floor: heavy items come first
        g_ = std::max({2.0 * d.R, w_ / 512.0, 1e-9});
        s_ = std::max(g_ / kCellsPerHash, w_ / kMaxCols);
        cols_ = std::max(1L, static_cast<long>(std::ceil(w_ / s_)));
        const double rows = std::ceil(h_ / s_);
        rows_cap_ = rows < 1e9 ? std::max(1L, static_cast<long>(rows)) : 1000000000L;
    }
    if (d.room > 0.0) {
        const long k = room_row(d);
        if (k >= kMaxCells) {
            oversize_ = true;
            return;
        }
        if (static_cast<std::size_t>(k) >= room_rows_.size()) room_rows_.resize(static_cast<std::size_t>(k) + 1);
        RoomRow& row = room_rows_[static_cast<std::size_t>(k)];
        if (row.rooms.empty())
            used_rows_.insert(std::upper_bound(used_rows_.begin(), used_rows_.end(), static_cast<std::size_t>(k)),
                              static_cast<std::size_t>(k));
        row.rooms.push_back(id);
        row.cap = std::max(row.cap, d.room);
        row.dirty = true;
    }
    if (parent >= 0) {
        Disc& p = discs_[parent];
        p.children.push_back(id);
        p.known_r = -1.0;  // the room changed: its best place is to be found again
        room_rows_[static_cast<std::size_t>(room_row(p))].dirty = true;
        return;
    }
    top_ = std::max(top_, d.c.y + d.R);
    floor_.push_back(id);
    const long x0 = cell_of(d.c.x - d.R, g_), x1 = cell_of(d.c.x + d.R, g_);
    const long y0 = cell_of(d.c.y - d.R, g_), y1 = cell_of(d.c.y + d.R, g_);
    if (cells_in(x0, x1, y0, y1) > static_cast<double>(kMaxHashCells)) {
        big_.push_back(id);
    } else {
        for (long ix = x0; ix <= x1; ++ix)
            for (long iy = y0; iy <= y1; ++iy) hash_[hash_key(ix, iy)].push_back(id);
    }
    cover(discs_[id]);
}

void DiscBin::near(double x0, double y0, double x1, double y1, std::vector<int>& out) const {
    out.clear();
    if (g_ <= 0.0) return;
    if (++stamp_now_ == 0) {
        std::fill(stamp_.begin(), stamp_.end(), 0);
        stamp_now_ = 1;
    }
    if (stamp_.size() < discs_.size()) stamp_.resize(discs_.size(), 0);
    auto take = [&](int j) {
        if (stamp_[j] == stamp_now_) return;
        stamp_[j] = stamp_now_;
        const Disc& d = discs_[j];
        if (d.c.x + d.R >= x0 && d.c.x - d.R <= x1 && d.c.y + d.R >= y0 && d.c.y - d.R <= y1) out.push_back(j);
    };
    const long ix0 = cell_of(x0, g_), ix1 = cell_of(x1, g_);
    const long iy0 = cell_of(y0, g_), iy1 = cell_of(y1, g_);
    if (cells_in(ix0, ix1, iy0, iy1) > static_cast<double>(hash_.size())) {
        // a box wider than the hashed cells: every disc on the floor is looked at
        for (int j : floor_) take(j);
        std::sort(out.begin(), out.end());
        return;
    }
    for (long ix = ix0; ix <= ix1; ++ix)
        for (long iy = iy0; iy <= iy1; ++iy) {
            auto it = hash_.find(hash_key(ix, iy));
            if (it == hash_.end()) continue;
            for (int j : it->second) take(j);
        }
    for (int j : big_) take(j);
    std::sort(out.begin(), out.end());
}

double DiscBin::cell_bound_from_walls(long row, long col) const {
    // a free disc centred in the cell stays in the bin: its radius is at most
    // the distance of its centre to the nearest wall
    const double x0 = col * s_, x1 = (col + 1) * s_, y0 = row * s_, y1 = (row + 1) * s_;
    return std::min({x1, w_ - x0, y1, h_ - y0}) + margin();
}

void DiscBin::ensure_rows(long rows) {
    rows = std::min(rows, rows_cap_);
    if (rows <= rows_) return;
    if (rows > kMaxCells / cols_) {
        oversize_ = true;
        return;
    }
    bound_.resize(static_cast<std::size_t>(rows * cols_));
    row_max_.resize(static_cast<std::size_t>(rows), 0.0);
    row_dirty_.resize(static_cast<std::size_t>(rows), 1);
    for (long k = rows_; k < rows; ++k)
        for (long j = 0; j < cols_; ++j) bound_[static_cast<std::size_t>(k * cols_ + j)] = cell_bound_from_walls(k, j);
    rows_ = rows;
}

void DiscBin::cover(const Disc& d) {
    // A place in a cell within reach of the disc is at most as far from the
    // disc as the cell's farthest point: that bounds the free radius there.
    // Rows up to the reach exist before it is applied, so that every row
    // made later lies beyond the reach of every disc placed before.
    const double reach = 2.0 * d.R + s_;
    ensure_rows(cell_of(d.c.y + reach, s_) + 2);
    const double half_diag = s_ * std::sqrt(0.5), m = margin();
    const long k0 = std::max(0L, cell_of(d.c.y - reach, s_));
    const long k1 = std::min(rows_ - 1, cell_of(d.c.y + reach, s_));
    const long j0 = std::max(0L, cell_of(d.c.x - reach, s_));
    const long j1 = std::min(cols_ - 1, cell_of(d.c.x + reach, s_));
    for (long k = k0; k <= k1; ++k) {
        bool changed = false;
        for (long j = j0; j <= j1; ++j) {
            const double qx = (j + 0.5) * s_, qy = (k + 0.5) * s_;
            const double b = dist(qx - d.c.x, qy - d.c.y) + half_diag - d.R + m;
            double& cell = bound_[static_cast<std::size_t>(k * cols_ + j)];
            if (b < cell) {
                cell = b;
                changed = true;
            }
        }
        if (changed) row_dirty_[static_cast<std::size_t>(k)] = 1;
    }
}

// What a search gathers: the best place, or with a site wanted every free
// vertex met (in the bores apart from the bin's), and the score beyond which
// nothing found later can change the answer.
struct DiscBin::Gather {
    Found best;
    bool sites = false;
    bool rooms_first = false;
    int want = 1;  // the site wanted, counted from 1
    double spacing = 0.0;
    std::vector<Found> holes, bin;
    double bound = kInf;
    // With stable placement: a place is taken only where the item rests
    // (asked only of a place that would be taken, as the test costs most).
    const DiscBin::Accept* accept = nullptr;
    // The gate's admission, asked last (after `accept`), and its coupling's radius.
    const std::function<bool(int room, Pt c)>* admit = nullptr;
    double pass = 0.0;

    double limit() const { return sites ? bound : best.score; }
    bool takes(const Found& f) const {
        return (!accept || (*accept)(f.pos)) && (!admit || (*admit)(f.room, f.pos));
    }
    // Whether the places a room offers depend on more than the radius.
    bool filtered() const { return accept != nullptr || admit != nullptr; }
    // False when the place is free but refused by `accept` or `admit`: the
    // next one of a list in score order is to be offered then.
    bool offer(const Found& f) {
        if (sites) {
            if (!takes(f)) return false;
            (f.room >= 0 && rooms_first ? holes : bin).push_back(f);
        } else if (f.score < best.score || (f.score == best.score && f.room < 0 && best.room >= 0)) {
            if (!takes(f)) return false;
            best = f;  // on a tie the bin's place wins over a bore's
        }
        return true;
    }
    // The sites taken in order, apart by `spacing`: the bores' first with
    // `rooms_first`; the limit is the wanted site's score once it is taken.
    std::vector<Found> taken() {
        auto by_score = [](const Found& a, const Found& b) { return a.score < b.score; };
        std::stable_sort(holes.begin(), holes.end(), by_score);
        std::stable_sort(bin.begin(), bin.end(), by_score);
        std::vector<Found> out;
        for (const std::vector<Found>* list : {&holes, &bin})
            for (const Found& f : *list) {
                bool apart = true;
                for (const Found& t : out)
                    if (std::hypot(f.pos.x - t.pos.x, f.pos.y - t.pos.y) < spacing) { apart = false; break; }
                if (!apart) continue;
                out.push_back(f);
                if (static_cast<int>(out.size()) == want) return out;
            }
        return out;
    }
    void update_bound() {
        const std::vector<Found> t = taken();
        bound = static_cast<int>(t.size()) == want ? t.back().score : kInf;
    }
};

DiscBin::Found DiscBin::search(double r, bool rooms_first, int site, const std::function<void()>& stop,
                               const Accept* accept, const Gate* gate) {
    Gather g;
    g.accept = accept;
    if (gate) {
        g.admit = gate->admit;
        g.pass = gate->pass;
    }
    g.sites = site > 0;
    g.rooms_first = rooms_first;
    g.want = site + 1;
    g.spacing = r;
    if (rooms_first) {
        search_rooms(r, g, stop);
        if (!g.sites && g.best.found) return g.best;
        if (g.sites) {
            g.update_bound();
            if (g.bound < kInf) return g.taken().back();
        }
    }
    // Without rooms first the bores are searched before the bin all the same:
    // their best place bounds the rows the bin's search needs (and sites are
    // taken in score order from what has been gathered, so a row is searched
    // only while it can still change the sites taken).
    if (!rooms_first) search_rooms(r, g, stop);
    search_bin(r, g, stop);
    if (!g.sites) return g.best;
    const std::vector<Found> t = g.taken();
    return t.empty() ? Found{} : t.back();
}

void DiscBin::search_bin(double r, Gather& g, const std::function<void()>& stop) {
    if (!(r >= 0.0) || 2.0 * r > w_ || 2.0 * r > h_) return;
    if (g_ <= 0.0) return;  // no disc on the floor: the placer puts the first item itself
    const double w1 = w_ + 1.0;
    long visited = 0;
    for (long k = 0;; ++k) {
        const double y0 = k * s_;
        if (y0 > h_ - r) break;
        if (g.sites) g.update_bound();
        if ((y0 - r) * w1 - 1.0 > g.limit()) break;
        // beyond every disc's reach the rows are made as the search gets there
        if (k >= rows_) ensure_rows(k + 1);
        if (k >= rows_) break;
        const std::size_t kk = static_cast<std::size_t>(k);
        if (row_dirty_[kk]) {
            row_max_[kk] = *std::max_element(bound_.begin() + k * cols_, bound_.begin() + (k + 1) * cols_);
            row_dirty_[kk] = 0;
        }
        if (r >= row_max_[kk]) continue;
        for (long j = 0; j < cols_; ++j) {
            double& cell = bound_[static_cast<std::size_t>(k * cols_ + j)];
            if (r >= cell) continue;
            const double x0 = std::max(j * s_, r), y = std::max(y0, r);
            if ((y - r) * w1 + (x0 - r) - 1.0 > g.limit()) break;  // the row's later cells score higher still
            if (++visited % 64 == 0) stop();
            if (!search_cell(r, k, j, g)) {
                cell = std::min(cell, r);
                row_dirty_[kk] = 1;
            }
        }
    }
}

bool DiscBin::search_cell(double r, long row, long col, Gather& g) {
    // the cell's part of the places that keep the disc in the bin
    const double x0 = std::max(col * s_, r), x1 = std::min((col + 1) * s_, w_ - r);
    const double y0 = std::max(row * s_, r), y1 = std::min((row + 1) * s_, h_ - r);
    if (!(x0 <= x1 && y0 <= y1)) return false;
    const double m = margin();
    near(x0 - r - m, y0 - r - m, x1 + r + m, y1 + r + m, obs_);
    // only the discs whose grown circle reaches the cell
    std::vector<int>& used = used_;
    used.clear();
    for (int i : obs_) {
        const Disc& d = discs_[i];
        const double dx = std::max({x0 - d.c.x, 0.0, d.c.x - x1}), dy = std::max({y0 - d.c.y, 0.0, d.c.y - y1});
        if (dist(dx, dy) <= d.R + r + m) used.push_back(i);
    }
    std::vector<Candidate>& cands = cands_;
    cands.clear();
    auto consider = [&](Pt p) {
        if (p.x >= x0 && p.x <= x1 && p.y >= y0 && p.y <= y1) cands.push_back({score(p, r), p, 0});
    };
    consider({x0, y0});
    consider({x1, y0});
    consider({x0, y1});
    consider({x1, y1});
    for (int i : used) {
        const Disc& d = discs_[i];
        const double rho = d.R + r + m;
        for (double x : {x0, x1}) {
            const double dx = x - d.c.x;
            if (std::fabs(dx) > rho) continue;
            const double h = std::sqrt(std::max(0.0, rho * rho - dx * dx));
            consider({x, d.c.y - h});
            consider({x, d.c.y + h});
        }
        for (double y : {y0, y1}) {
            const double dy = y - d.c.y;
            if (std::fabs(dy) > rho) continue;
            const double h = std::sqrt(std::max(0.0, rho * rho - dy * dy));
            consider({d.c.x - h, y});
            consider({d.c.x + h, y});
        }
    }
    for (std::size_t a = 0; a < used.size(); ++a)
        for (std::size_t b = a + 1; b < used.size(); ++b) {
            const Disc &da = discs_[used[a]], &db = discs_[used[b]];
            Pt p[2];
            if (meet(da.c, da.R + r + m, db.c, db.R + r + m, p)) {
                consider(p[0]);
                consider(p[1]);
            }
        }
    sort_candidates(cands);
    bool any = false;
    for (const Candidate& c : cands) {
        if (!clear_of(c.p, r, used)) continue;
        any = true;
        if (g.offer({true, c.p, c.score, -1}) && !g.sites) break;
    }
    return any;
}

long DiscBin::room_row(const Disc& d) const { return std::max(0L, cell_of(d.c.y - d.room, s_)); }

void DiscBin::search_rooms(double r, Gather& g, const std::function<void()>& stop) {
    const double w1 = w_ + 1.0;
    // The rows by the least score a room of theirs may offer, so that the
    // rows whose rooms cannot beat the best place found are never opened.
    std::vector<std::pair<double, std::size_t>>& order = room_order_;
    order.clear();
    for (std::size_t k_row : used_rows_) {
        RoomRow& row = room_rows_[k_row];
        if (static_cast<double>(k_row) * s_ * w1 - 1.0 > g.limit()) break;  // every room here is at least this high
        if (r > row.cap) continue;  // no room of the row takes a circle this large
        if (row.dirty || row.low_r != r) {
            row.low = kInf;
            row.cap = 0.0;
            for (int k : row.rooms) {
                const Disc& d = discs_[k];
                row.cap = std::max(row.cap, std::min(d.room, d.room_bound));
                if (r > d.room || r >= d.room_bound) continue;
                row.low = std::min(row.low, d.known_r == r ? d.known.score : (d.c.y - d.room) * w1 - 1.0);
            }
            row.low_r = r;
            row.dirty = false;
        }
        if (row.low < kInf) order.push_back({row.low, k_row});
    }
    // (low, row): equal lows keep the lower row first
    std::sort(order.begin(), order.end());
    long visited = 0;
    for (const auto& [low, k_row] : order) {
        if (g.sites && g.rooms_first) g.update_bound();
        if (low > g.limit()) break;
        for (int k : room_rows_[k_row].rooms) search_room_of(r, k, g, stop, visited);
    }
}

void DiscBin::search_room_of(double r, int k, Gather& g, const std::function<void()>& stop, long& visited) {
    Disc& d = discs_[k];
    if ((d.c.y - d.room) * (w_ + 1.0) - 1.0 > g.limit()) return;
    if (r > d.room || r >= d.room_bound || g.pass > d.room) return;
    // a room unchanged since it was searched for this radius has the same best place
    if (!g.sites && !g.filtered() && d.known_r == r) {
        g.offer(d.known);
        return;
    }
    if (++visited % 64 == 0) stop();
    // what the room is known for changes: the row's bound is to be taken again
    room_rows_[static_cast<std::size_t>(room_row(d))].dirty = true;
    if (!search_room(r, k, g)) d.room_bound = std::min(d.room_bound, r);
}

bool DiscBin::clear_of(Pt p, double r, const std::vector<int>& discs) const {
    for (int i : discs) {
        const Disc& d = discs_[i];
        if (dist(p.x - d.c.x, p.y - d.c.y) < d.R + r) return false;
    }
    return true;
}

bool DiscBin::search_room(double r, int room, Gather& g) {
    const Disc& d = discs_[room];
    const double m = margin();
    const double reach = d.room - r - m;
    if (!(reach >= 0.0)) return false;
    std::vector<Candidate>& cands = cands_;
    cands.clear();
    auto consider = [&](Pt p) { cands.push_back({score(p, r), p, 0}); };
    // the lowest point of the room's circle, where the score falls fastest
    const double gx = 1.0, gy = w_ + 1.0, gl = dist(gx, gy);
    consider({d.c.x - reach * (gx / gl), d.c.y - reach * (gy / gl)});
    // at rest: its very lowest point, where a lone disc stays
    if (g.accept) consider({d.c.x, d.c.y - reach});
    const std::vector<int>& kids = d.children;
    Pt p[2];
    for (std::size_t a = 0; a < kids.size(); ++a) {
        const Disc& da = discs_[kids[a]];
        if (meet(d.c, reach, da.c, da.R + r + m, p)) {
            consider(p[0]);
            consider(p[1]);
        }
        for (std::size_t b = a + 1; b < kids.size(); ++b) {
            const Disc& db = discs_[kids[b]];
            if (meet(da.c, da.R + r + m, db.c, db.R + r + m, p)) {
                consider(p[0]);
                consider(p[1]);
            }
        }
    }
    sort_candidates(cands);
    bool any = false;
    for (const Candidate& c : cands) {
        if (!(dist(c.p.x - d.c.x, c.p.y - d.c.y) <= d.room - r)) continue;
        if (!clear_of(c.p, r, kids)) continue;
        any = true;
        const bool taken = g.offer({true, c.p, c.score, room});
        if (!g.sites && g.filtered()) {
            if (taken) break;  // (a place filtered is not remembered as the room's best)
        } else if (!g.sites) {
            discs_[room].known = {true, c.p, c.score, room};
            discs_[room].known_r = r;
            break;
        }
    }
    return any;
}

}  // namespace quarvo
