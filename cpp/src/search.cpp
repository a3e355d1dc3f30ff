#include "quarvo/search.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <limits>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "quarvo/cancel.hpp"
#include "quarvo/errors.hpp"
#include "quarvo/nfp_cache.hpp"
#include "search_snapshot.hpp"

namespace quarvo {

namespace {

using namespace search_detail;
using Clock = std::chrono::steady_clock;

// Chains of the search, each a late-acceptance walk of its own run side by
// side on the threads (a fixed number, so that the result does not depend on
// the thread count); every kRound layouts a chain behind the one ahead takes
// its layout. And the length of the late-acceptance history.
constexpr std::size_t kChains = 2;
constexpr long long kRound = 100;
constexpr std::size_t kHistory = 5;
// Sites an item may take in an NFP placer (NfpOptions::choice below this).
constexpr int kSites = 3;
// Snapshots along the order of a layout.
constexpr std::size_t kSnapshots = 12;

// splitmix64: the same numbers on every platform.
struct Rng {
    std::uint64_t s;
    std::uint64_t next() {
        std::uint64_t z = (s += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }
};

// The largest y of an item's un-inflated world contour above its translation,
// per angle it may take.
struct Tops {
    std::vector<std::vector<std::pair<double, double>>> by_item;  // (angle, top)

    Tops(const std::vector<Shape*>& items, const std::vector<double>& angles) : by_item(items.size()) {
        for (std::size_t i = 0; i < items.size(); ++i) {
            std::unique_ptr<Shape> probe = items[i]->clone_geometry();
            probe->set_infl(0.0);
            probe->set_position(0.0, 0.0);
            std::vector<double> rots = angles;
            rots.push_back(items[i]->rotation());
            rots.push_back(0.0);  // a circle's angle
            for (double r : rots) {
                probe->set_rotation(r);
                double top = -std::numeric_limits<double>::infinity();
                for (const Pt& p : probe->world_contour()) top = std::max(top, p.y);
                by_item[i].push_back({r, top});
            }
        }
    }
    double top(std::size_t i, const Shape& s) const {
        for (const auto& [r, t] : by_item[i])
            if (r == s.rotation()) return s.ty() + t;
        return s.bounding_box().maxy;  // an angle no placer gives; not reached
    }
};

// Bins and per-bin tops of a layout as it grows; the cost only grows with it.
struct Tally {
    std::vector<double> tops;
    std::size_t unplaced = 0;
    void add(long bin, double top) {
        if (bin < 0) { ++unplaced; return; }
        if (static_cast<std::size_t>(bin) >= tops.size()) tops.resize(bin + 1, 0.0);
        tops[bin] = std::max(tops[bin], top);
    }
    Cost cost() const { return {unplaced, tops.size(), tops.empty() ? 0.0 : tops.back()}; }
};

class Search {
public:
    Search(const FirstFit& ff, const std::vector<Shape*>& items)
        : ff_(ff), items_(items), tops_(items, ff.nfp.rotations) {
        ff_.nfp.threads = 1;  // the threads go to neighbours side by side
        ff_.progress = nullptr;
        for (double r : ff.nfp.rotations) single_.push_back({r});
        for (Shape* s : items_) kinds_.push_back(geometry_signature(*s));
        // Runs of equal weight in greedy order: the only ranges an item moves in.
        group_.resize(items_.size());
        for (std::size_t i = 0, g = 0; i < items_.size(); ++i) {
            if (i > 0 && !(items_[i]->weight == items_[i - 1]->weight)) g = i;
            group_[i] = g;
        }
        for (std::size_t i = 0; i < items_.size(); ++i) {
            std::size_t end = i;
            while (end < items_.size() && group_[end] == group_[i]) ++end;
            group_end_.push_back(end);
        }
        stride_ = std::max<std::size_t>(1, items_.size() / kSnapshots);
        for (std::size_t i = 0; i < items_.size(); ++i) {
            if (ff.strategy == Strategy::Nfp && items_[i]->is_polygon() && single_.size() > 1) turnable_.push_back(i);
            sited_ = ff.strategy == Strategy::Nfp && items_.size() > 1;
            for (std::size_t j = i + 1; j < group_end_[i]; ++j)
                if (!same_kind(i, j)) { reorderable_ = true; break; }
        }
    }

    bool can_move() const { return reorderable_ || !turnable_.empty() || sited_; }

    Layout initial(const PackResult& greedy) const {
        Layout l;
        const std::size_t n = items_.size();
        l.order.resize(n);
        for (std::size_t i = 0; i < n; ++i) l.order[i] = i;
        l.angle.assign(n, -1);
        l.site.assign(n, 0);
        l.bin.assign(n, -1);
        l.pose.resize(n);
        std::unordered_map<const Shape*, long> where;
        for (std::size_t b = 0; b < greedy.bins.size(); ++b)
            for (const Shape* s : greedy.bins[b]) where[s] = static_cast<long>(b);
        Tally t;
        for (std::size_t i = 0; i < n; ++i) {
            const Shape& s = *items_[i];
            auto it = where.find(&s);
            l.bin[i] = it == where.end() ? -1 : it->second;
            l.pose[i] = {s.tx(), s.ty(), s.rotation()};
            t.add(l.bin[i], tops_.top(i, s));
        }
        l.cost = t.cost();
        return l;
    }

    // A neighbour of `cur` and the first position of the order it changes.
    std::size_t neighbour(const Layout& cur, Layout& out, Rng& rng) const {
        out.order = cur.order;
        out.angle = cur.angle;
        out.site = cur.site;
        const std::size_t n = items_.size();
        auto position_of = [&](std::size_t i) {
            return static_cast<std::size_t>(std::find(cur.order.begin(), cur.order.end(), i) - cur.order.begin());
        };
        // Order moves two thirds of the time and angles one third, among those
        // there are; sites only where neither exists (on the real instances
        // they cost more evaluations than they gained).
        const unsigned w_order = reorderable_ ? 2 : 0, w_turn = turnable_.empty() ? 0 : 1;
        const unsigned w_site = sited_ && w_order + w_turn == 0 ? 1 : 0;
        const std::size_t pick = rng.below(w_order + w_turn + w_site);
        if (pick >= w_order + w_turn) {
            const std::size_t i = rng.below(n);
            int c = static_cast<int>(rng.below(kSites - 1));
            if (c >= out.site[i]) ++c;
            out.site[i] = c;
            return position_of(i);
        }
        if (pick >= w_order) {
            const std::size_t i = turnable_[rng.below(turnable_.size())];
            // -1 (every angle) or one of the angles, other than the present choice
            int a = static_cast<int>(rng.below(single_.size()));
            if (a >= out.angle[i] + 1) ++a;
            out.angle[i] = a - 1;
            return position_of(i);
        }
        for (;;) {
            const std::size_t p = rng.below(n);
            const std::size_t lo = group_[p], hi = group_end_[p];
            if (hi - lo < 2) continue;
            std::size_t q = lo + rng.below(hi - lo - 1);
            if (q >= p) ++q;
            if (same_kind(cur.order[p], cur.order[q])) continue;
            if (rng.below(2)) {
                std::swap(out.order[p], out.order[q]);
            } else {
                const std::size_t moved = out.order[p];
                out.order.erase(out.order.begin() + static_cast<long>(p));
                out.order.insert(out.order.begin() + static_cast<long>(q), moved);
            }
            return std::min(p, q);
        }
    }

    // Re-packs `cand` from position k on, the part before k as in `cur`
    // (`prefix` holds cur's prefix fingerprints). False as soon as its cost
    // exceeds `limit`.
    bool evaluate(const Layout& cur, const std::vector<std::uint64_t>& prefix, Layout& cand, std::size_t k,
                  const Cost& limit, Slot& slot) const {
        const std::size_t n = items_.size();
        cand.bin.assign(n, -1);
        cand.pose.resize(n);
        std::vector<std::unique_ptr<Placer>> open;
        const Snapshot* snap = slot.find(cur, prefix, k);
        std::size_t start = 0;
        if (snap) {
            for (const auto& p : snap->placers) open.push_back(p->copy());
            start = snap->pos;
        } else if (ff_.strip()) {
            open.push_back(ff_.make_bin());
        }
        Tally t;
        for (std::size_t pos = 0; pos < k; ++pos) {
            const std::size_t i = cand.order[pos];
            Shape& s = *slot.clones[i];
            const Pose& p = cur.pose[i];
            s.set_rotation(p.rot);
            s.set_position(p.tx, p.ty);
            cand.bin[i] = cur.bin[i];
            cand.pose[i] = p;
            if (cur.bin[i] >= 0 && pos >= start) {
                while (open.size() <= static_cast<std::size_t>(cur.bin[i])) open.push_back(ff_.make_bin());
                open[cur.bin[i]]->packed.push_back(&s);
            }
            t.add(cur.bin[i], tops_.top(i, s));
        }
        // From position `tail` on, cand offers the same items with the same
        // choices as cur: once the items placed so far are cur's own at cur's
        // poses, the rest falls as in cur, so cur's poses are taken for it.
        std::size_t tail = n;
        for (std::size_t i; tail > k && (i = cand.order[tail - 1]) == cur.order[tail - 1] &&
                            cand.angle[i] == cur.angle[i] && cand.site[i] == cur.site[i];)
            --tail;
        std::vector<std::uint64_t> cur_set(n + 1, 0);  // order-free sums over cur's prefixes
        for (std::size_t pos = 0; pos < n; ++pos) {
            const std::size_t i = cur.order[pos];
            cur_set[pos + 1] = cur_set[pos] + mix(0, i, cur.bin[i], cur.pose[i]);
        }
        std::uint64_t set = cur_set[k];
        std::uint64_t h = prefix[k];
        for (std::size_t pos = k; pos < n; ++pos) {
            if (pos % stride_ == 0 && pos > start) slot.keep(cand, pos, h, open, cur, prefix);
            const std::size_t i = cand.order[pos];
            Shape& s = *slot.clones[i];
            const int a = cand.angle[i];
            const long b = ff_.offer(open, s, a < 0 ? nullptr : &single_[a], cand.site[i]);
            cand.bin[i] = b;
            cand.pose[i] = {s.tx(), s.ty(), s.rotation()};
            h = mix(h, i, b, cand.pose[i]);
            t.add(b, tops_.top(i, s));
            if (limit < t.cost()) return false;
            set += mix(0, i, b, cand.pose[i]);
            if (pos + 1 >= tail && set == cur_set[pos + 1] && same_poses(cur, cand, k, pos + 1)) {
                for (std::size_t q = pos + 1; q < n; ++q) {
                    const std::size_t j = cand.order[q];
                    Shape& c = *slot.clones[j];
                    c.set_rotation(cur.pose[j].rot);
                    c.set_position(cur.pose[j].tx, cur.pose[j].ty);
                    cand.bin[j] = cur.bin[j];
                    cand.pose[j] = cur.pose[j];
                    t.add(cur.bin[j], tops_.top(j, c));
                }
                if (limit < t.cost()) return false;
                break;
            }
        }
        cand.cost = t.cost();
        return true;
    }

    std::unique_ptr<Slot> slot() const {
        auto sl = std::make_unique<Slot>();
        for (Shape* s : items_) sl->clones.push_back(s->clone_geometry());
        sl->snapshots = ff_.strategy == Strategy::Nfp;
        return sl;
    }

private:
    // Whether cand's items at positions [k, end) lie where they lie in cur.
    static bool same_poses(const Layout& cur, const Layout& cand, std::size_t k, std::size_t end) {
        for (std::size_t pos = k; pos < end; ++pos) {
            const std::size_t i = cand.order[pos];
            const Pose &a = cand.pose[i], &b = cur.pose[i];
            if (cand.bin[i] != cur.bin[i] || a.tx != b.tx || a.ty != b.ty || a.rot != b.rot) return false;
        }
        return true;
    }

    bool same_kind(std::size_t i, std::size_t j) const {
        return kinds_[i] == kinds_[j] && items_[i]->infl() == items_[j]->infl();
    }

    FirstFit ff_;
    const std::vector<Shape*>& items_;
    Tops tops_;
    std::vector<std::vector<double>> single_;
    std::vector<int> kinds_;
    std::vector<std::size_t> group_, group_end_, turnable_;
    bool reorderable_ = false, sited_ = false;
    std::size_t stride_ = 1;
};

// Runs job(j) for j < n on `threads` threads while the calling thread
// watches Ctrl-C and the deadline; either raises `abort`, which stops the jobs
// at their next checkpoint. Returns false when the step was cut short.
bool run_step(std::size_t n, std::size_t threads, std::atomic<bool>& abort, bool& stopped,
              const Clock::time_point* deadline, const std::function<void(std::size_t)>& job) {
    std::atomic<std::size_t> next{0}, done{0};
    std::mutex mu;
    std::condition_variable cv;
    std::exception_ptr error;
    auto work = [&]() {
        CancelScope scope(&abort);
        for (std::size_t j; !abort.load() && (j = next.fetch_add(1)) < n;) {
            try {
                job(j);
            } catch (const Interrupted&) {
            } catch (...) {
                std::lock_guard<std::mutex> lock(mu);
                if (!error) error = std::current_exception();
                abort = true;
            }
        }
        std::lock_guard<std::mutex> lock(mu);
        ++done;
        cv.notify_all();
    };
    std::vector<std::thread> pool;
    for (std::size_t w = 0; w < threads; ++w) pool.emplace_back(work);
    {
        std::unique_lock<std::mutex> lock(mu);
        while (done.load() < threads) {
            cv.wait_for(lock, std::chrono::milliseconds(10));
            lock.unlock();
            try {
                check_cancel();
            } catch (const Interrupted&) {
                stopped = true;
                abort = true;
            }
            if (deadline && Clock::now() >= *deadline) abort = true;
            lock.lock();
        }
    }
    for (std::thread& t : pool) t.join();
    if (error) std::rethrow_exception(error);
    return !abort.load();
}

}  // namespace

PackResult improve_layout(const FirstFit& ff, const std::vector<Shape*>& sequence, PackResult greedy) {
    const Clock::time_point start = Clock::now();
    Search search(ff, sequence);
    Layout cur = search.initial(greedy);
    Layout best = cur;
    PackProgress* progress = ff.progress;
    auto publish = [&]() {
        if (!progress) return;
        progress->best_bins = best.cost.bins;
        progress->best_length = best.cost.length;
    };
    if (progress) progress->searching = true;
    publish();

    const SearchOptions& opt = ff.search;
    Clock::time_point deadline{};
    if (opt.time_limit >= 0.0)
        deadline = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(opt.time_limit));
    const std::size_t hw = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t threads = std::min<std::size_t>({static_cast<std::size_t>(std::max(1, ff.nfp.threads)), hw, kChains});
    struct Chain {
        Layout cur, best;
        std::vector<Cost> history;
        Rng rng;
        std::unique_ptr<Slot> slot;
        long long evaluated = 0, budget = -1;  // budget: its share of `iterations`
    };
    std::vector<Chain> chains(kChains);
    for (std::size_t c = 0; c < kChains; ++c) {
        Chain& ch = chains[c];
        ch.cur = ch.best = cur;
        ch.history.assign(kHistory, cur.cost);
        ch.rng = Rng{opt.seed + 0x632BE59BD9B4E019ULL * c};
        ch.slot = search.slot();
        if (opt.iterations >= 0)
            ch.budget = opt.iterations / static_cast<long long>(kChains) +
                        (static_cast<long long>(c) < opt.iterations % static_cast<long long>(kChains) ? 1 : 0);
    }
    std::atomic<bool> abort{false};
    bool stopped = false;
    std::mutex mu;
    std::atomic<std::size_t> evaluated{0};
    // One round: every chain walks up to kRound layouts, the chains side by side.
    auto round = [&](std::size_t c) {
        Chain& ch = chains[c];
        long long end = ch.evaluated + kRound;
        if (ch.budget >= 0) end = std::min(end, ch.budget);
        while (ch.evaluated < end && !abort.load()) {
            Layout cand;
            const std::size_t k = search.neighbour(ch.cur, cand, ch.rng);
            Cost& late = ch.history[static_cast<std::size_t>(ch.evaluated) % kHistory];
            const Cost limit = std::max(ch.cur.cost, late);
            const bool ok = search.evaluate(ch.cur, prefix_prints(ch.cur), cand, k, limit, *ch.slot);
            ++ch.evaluated;
            if (progress) progress->evaluated = ++evaluated;
            if (ok) {
                ch.cur = std::move(cand);
                if (ch.cur.cost < ch.best.cost) {
                    ch.best = ch.cur;
                    std::lock_guard<std::mutex> lock(mu);
                    if (progress && ch.best.cost < Cost{0, progress->best_bins, progress->best_length}) {
                        progress->best_bins = ch.best.cost.bins;
                        progress->best_length = ch.best.cost.length;
                    }
                }
            }
            late = ch.cur.cost;
        }
    };
    while (search.can_move()) {
        if (opt.time_limit >= 0.0 && Clock::now() >= deadline) break;
        bool more = false;
        for (const Chain& ch : chains) more = more || ch.budget < 0 || ch.evaluated < ch.budget;
        if (!more) break;
        const bool complete = run_step(kChains, std::min(threads, kChains), abort, stopped,
                                       opt.time_limit >= 0.0 ? &deadline : nullptr, round);
        if (!complete) break;
        // The chains behind the one ahead take its layout (ties keep the earlier chain).
        std::size_t lead = 0;
        for (std::size_t c = 1; c < kChains; ++c)
            if (chains[c].cur.cost < chains[lead].cur.cost) lead = c;
        for (std::size_t c = 0; c < kChains; ++c)
            if (chains[lead].cur.cost < chains[c].cur.cost) {
                chains[c].cur = chains[lead].cur;
                chains[c].history.assign(kHistory, chains[c].cur.cost);
            }
    }
    // Ties keep the earlier chain's layout.
    for (Chain& ch : chains)
        if (ch.best.cost < best.cost) best = std::move(ch.best);
    if (progress) progress->searching = false;

    PackResult out;
    out.search_stopped = stopped;
    for (std::size_t pos = 0; pos < sequence.size(); ++pos) {
        const std::size_t i = best.order[pos];
        Shape& s = *sequence[i];
        s.set_rotation(best.pose[i].rot);
        s.set_position(best.pose[i].tx, best.pose[i].ty);
        const long b = best.bin[i];
        if (b < 0) {
            out.unplaced.push_back(&s);
            continue;
        }
        if (out.bins.size() <= static_cast<std::size_t>(b)) out.bins.resize(b + 1);
        out.bins[b].push_back(&s);
    }
    return out;
}

}  // namespace quarvo
