#include "quarvo/compress.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <thread>

#include "quarvo/cancel.hpp"
#include "quarvo/check.hpp"
#include "quarvo/constants.hpp"
#include "quarvo/kernel.hpp"
#include "compress/pair_regions.hpp"
#include "compress/working_layout.hpp"
#include "core/thread_clock.hpp"
#include "core/thread_runner.hpp"

namespace quarvo {

namespace {

using namespace compress_detail;
using SteadyClock = std::chrono::steady_clock;

// Chains walking side by side (with an iteration limit a fixed number, so that
// the result does not depend on the thread count; with a time limit only, one
// per thread and at least that many); after every round of kRoundMoves item
// moves each, a chain behind the one ahead takes its best layout. A round ends
// when every chain has made its moves, so a chain whose moves came cheaper
// waits: at 1,000 moves a round, about 5 % of two threads' time went to that.
constexpr std::size_t kChains = 2;
constexpr long long kRoundMoves = 10000;
// The share of the time limit the improvement search gets before the phase:
// none. On the four shared ESICUP strips at 10 s, a fifth for the search cost
// 0.009 of the mean share of the record; the phase from the greedy layout
// passes the search's best within its first seconds.
constexpr double kSearchShare = 0.0;
// With an iteration limit: the search's share of the iterations are layouts,
// and each of the others is this many item moves of the phase.
constexpr long long kMovesPerIteration = 20;
// The exact test allows overlaps this deep (far below the layout checker's
// 1e-6); the layout handed in is held to the checker's own.
constexpr double kVerifyTol = 2e-7, kStartTol = 1e-6;
// Exploring (the first kExploreShare of the phase), each success shrinks the
// length by kExploreStep; compressing, by a share from kCompressLow to kCompressHigh.
constexpr double kExploreShare = 0.8, kExploreStep = 0.01, kCompressLow = 0.0005, kCompressHigh = 0.005;
// Layouts kept to start again from at the same size.
constexpr std::size_t kPool = 4;
// Exploring: a target missed kRetries times cuts the step by kStepCut; a
// success grows it by kStepGrow (up to kExploreStep).
constexpr int kRetries = 4;
constexpr double kStepCut = 0.5, kStepGrow = 1.5;
// An attempt runs in strikes: a strike ends after kPatience sweeps without a
// new least overlap and goes back to its least overlapping layout (weights
// kept); a strike that lowered the overlap by less than kProgress counts
// against the attempt, which gives up after kStrikes such strikes in a row.
constexpr int kStrikes = 3, kPatience = 30;
constexpr double kProgress = 0.01;
// Every this many exact tests of a chain, every pair is judged (the others
// judge only the pairs that moved against each other).
constexpr long long kWholeTest = 64;
// Tries at emptying the last of several bins before its height is lowered,
// and again after every kEmptyEvery attempts at lowering it.
constexpr int kEmptyTries = 3, kEmptyEvery = 4;
// Past the first tries, emptying the last bin waits while its attempts have
// taken more than this share of the chain's moves: where the bound on bins
// cannot be met, they fail slowly, and the last bin's length goes short.
// Two bins or more above the bound, a bin fewer is mostly within reach, and
// emptying does not wait.
constexpr double kEmptyShare = 0.25;

// Whether the phase runs to a number of item moves (its results then the same on every thread count).
bool moves_limited(long long moves) { return moves >= 0; }

struct Solution {
    std::vector<Place> places;
    std::size_t bins = 0;
    double length = 0.0;  // the used length of the last bin
    bool sound = true;    // passed the exact test (a layout handed in may not)
    bool better_than(const Solution& o) const {
        if (sound != o.sound) return sound;
        return bins < o.bins || (bins == o.bins && length < o.length);
    }
};

// What every chain shares, read only while they run.
class Problem {
public:
    Problem(const Catalogue& cat, double width, double height, double margin)
        : cat(cat), width(width), height(height), margin(margin) {}

    // The sheet of `bins` bins, the last one's tops at most `last`.
    Sheet sheet(std::size_t bins, double last) const {
        Sheet s;
        s.width = width;
        s.height = height;
        s.margin = margin;
        s.cap.assign(bins, height);
        s.cap.back() = last;
        return s;
    }

    // The largest y of the true outlines of the items in `bin`.
    double used(const std::vector<Place>& places, std::size_t bin) const {
        double top = 0.0;
        for (const Place& p : places)
            if (p.bin == bin) top = std::max(top, p.y + cat.variant(p.v).top);
        return top;
    }

    // The exact test of a layout without NFPs: every item on the sheet, and
    // the inflated outlines of the items of each bin, rooms as holes, at most
    // kVerifyTol into each other. Fills `bad` with the pairs that are not
    // (an item off the sheet as the pair (i, i)). With `judge`, only the
    // pairs it accepts are judged: the caller knows the others sound.
    bool verify(const std::vector<Place>& places, const Sheet& sheet,
                std::vector<std::pair<std::size_t, std::size_t>>& bad, double tol = kVerifyTol,
                const std::function<bool(std::size_t, std::size_t)>& judge = {}) const {
        bad.clear();
        const std::size_t bins = sheet.cap.size();
        for (std::size_t i = 0; i < places.size(); ++i) {
            const Place& p = places[i];
            double xlo, xhi, ylo, yhi;
            if (p.bin >= bins || !sheet_range(cat.variant(p.v), sheet, p.bin, xlo, xhi, ylo, yhi) || p.x < xlo ||
                p.x > xhi || p.y < ylo || p.y > yhi)
                bad.push_back({i, i});
        }
        for (std::size_t b = 0; b < bins; ++b) {
            std::vector<Outline> outlines;
            std::vector<std::size_t> index;
            double top = 1.0;
            for (std::size_t i = 0; i < places.size(); ++i) {
                const Place& p = places[i];
                if (p.bin != b) continue;
                const Variant& var = cat.variant(p.v);
                auto moved = [&](const Contour& c) {
                    Contour out;
                    out.reserve(c.size());
                    for (const Pt& q : c) out.push_back({q.x + p.x, q.y + p.y});
                    return out;
                };
                std::vector<Contour> holes;
                for (const Contour& r : var.rooms) holes.push_back(moved(r));
                if (var.disc > 0.0)
                    outlines.push_back(var.bore > 0.0 ? ring_outline(Pt{p.x, p.y}, var.disc, var.bore)
                                                      : circle_outline(Pt{p.x, p.y}, var.disc));
                else
                    outlines.push_back(polygon_outline(moved(var.outline), holes));
                index.push_back(i);
                top = std::max(top, p.y + var.reach.maxy + 1.0);
            }
            // The bounds hold by construction; only the pairs are judged here.
            CheckOptions opt;
            if (judge) opt.judge = [&](std::size_t x, std::size_t y) { return judge(index[x], index[y]); };
            opt.bin_w = 2.0 * (width + 1.0);
            opt.bin_h = std::min(top, 1e99);
            opt.tol = tol;
            for (const Violation& v : check_outlines(outlines, opt))
                if (v.kind == ViolationKind::Overlap) bad.push_back({index[v.first], index[v.second]});
                else if (v.kind == ViolationKind::Invalid) bad.push_back({index[v.first], index[v.first]});
        }
        return bad.empty();
    }

    const Catalogue& cat;
    double width, height, margin;
    LowerBound bound;  // of the items of the phase
    bool keep_bins = false;  // a load limit per bin: items never change bins
};

// The part of the phase a chain has used, from 0 to 1: of its move budget, or
// of the time between the phase's start and the deadline.
struct Span {
    SteadyClock::time_point start{};
    const SteadyClock::time_point* deadline = nullptr;
};

// One walk. Exploring, it shrinks the sheet by a fixed share after each
// success and, when the items cannot be separated there, starts again at the
// same size from one of the most separated layouts it kept, two large items
// swapped. Compressing (the last part of the phase), it shrinks the best
// layout by small random shares and goes back to it after each failure.
class Chain {
public:
    Chain(const Problem& pb, const Solution& start, std::uint64_t seed, long long budget, Span span)
        : pb_(pb), rng_{seed}, probes_(pb.cat.probes()), best_(start), budget_(budget), span_(span) {
        MoveSettings settings;
        settings.keep_bins = pb.keep_bins;
        work_ = std::make_unique<WorkingLayout>(pb.cat, *probes_, start.places.size(), settings);
        // The larger half of the items by area: those a disruption swaps.
        std::vector<std::size_t> order(start.places.size());
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
            return area(x) > area(y);
        });
        large_.assign(order.begin(), order.begin() + static_cast<long>((order.size() + 1) / 2));
        shrink();
    }

    const Solution& best() const { return best_; }
    long long moves() const { return moves_; }
    bool spent() const { return budget_ >= 0 && moves_ >= budget_; }
    // Nothing left to try: the best layout is as short as the bound lets it be.
    bool idle() const { return idle_; }
    double cpu_seconds() const { return 1e-9 * static_cast<double>(cpu_ns_); }

    // Sweeps until `until` moves are made (or the budget is spent, or `abort`).
    void run(long long until, const std::atomic<bool>& abort) {
        const long long cpu = thread_cpu_ns();
        run_to(until, abort);
        cpu_ns_ += thread_cpu_ns() - cpu;
    }

    // Takes another chain's better layout and starts afresh from it.
    void adopt(const Solution& s) {
        best_ = s;
        step_ = kExploreStep;
        empty_tries_ = 0;
        idle_ = false;
        shrink();
    }

private:
    void run_to(long long until, const std::atomic<bool>& abort) {
        if (budget_ >= 0) until = std::min(until, budget_);
        while (moves_ < until && !abort.load(std::memory_order_relaxed)) {
            if (idle_) {
                moves_ = until;  // nothing left to try: the budget counts as spent
                return;
            }
            step(abort);
        }
    }

    double area(std::size_t i) const { return pb_.cat.variant(best_.places[i].v).area; }

    double used_part() const {
        double f = 0.0;
        if (budget_ > 0) f = static_cast<double>(moves_) / static_cast<double>(budget_);
        if (span_.deadline) {
            const double all = std::chrono::duration<double>(*span_.deadline - span_.start).count();
            const double now = std::chrono::duration<double>(SteadyClock::now() - span_.start).count();
            if (all > 0.0) f = std::max(f, now / all);
        }
        return f;
    }

    // The best layout's last bin shorter by `ratio`: exploring, of the length
    // of its bins laid end to end, as if they were a strip cut into bins;
    // compressing, of its own length, or the small shares of the whole would
    // never try the last few hundredths of a last bin held by a stack of items.
    double shortened(double ratio) const {
        if (bins_ == 1 || compressing_) return best_.length * (1.0 - ratio);
        return best_.length - ratio * (static_cast<double>(bins_ - 1) * pb_.height + best_.length);
    }

    // A new attempt from the best layout: one bin fewer, or a shorter last bin.
    // With more bins than the bound, kEmptyTries tries at emptying the last
    // one come first and again after every kEmptyEvery attempts at lowering
    // it (fewer bins count first), and a last bin as short as it can be is
    // tried empty again and again.
    void shrink() {
        pool_.clear();
        std::vector<Place> places = best_.places;
        bins_ = best_.bins;
        compressing_ = used_part() >= kExploreShare && best_.sound;
        const double ratio = compressing_ ? kCompressLow + (kCompressHigh - kCompressLow) * rng_.unit() : step_;
        // A layout handed in with overlaps is first separated at its own length.
        const double target =
            best_.sound ? std::max(pb_.bound.last_length(bins_), shortened(ratio)) : best_.length;
        const bool at_floor = best_.sound && !(target < best_.length);
        const bool can_empty = bins_ > pb_.bound.bins && best_.sound && !pb_.keep_bins;
        Sheet sheet;
        const bool empty_due = since_empty_ >= kEmptyEvery &&
                               (bins_ > pb_.bound.bins + 1 ||
                                static_cast<double>(empty_moves_) <= kEmptyShare * static_cast<double>(moves_));
        if (can_empty && (empty_tries_ < kEmptyTries || at_floor || empty_due)) {
            if (empty_tries_ >= kEmptyTries) empty_tries_ = 0;
            since_empty_ = 0;
            // The last bin's items go to random places in the others.
            --bins_;
            sheet = pb_.sheet(bins_, pb_.height);
            for (Place& p : places) {
                if (p.bin < bins_) continue;
                p.bin = rng_.below(bins_);
                double xlo, xhi, ylo, yhi;
                if (!sheet_range(pb_.cat.variant(p.v), sheet, p.bin, xlo, xhi, ylo, yhi)) continue;
                p.x = xlo + (xhi - xlo) * rng_.unit();
                p.y = ylo + (yhi - ylo) * rng_.unit();
            }
            emptying_ = true;
        } else {
            retries_ = 0;
            ++since_empty_;
            if (at_floor) {
                idle_ = true;
                return;
            }
            sheet = pb_.sheet(bins_, target);
            // Items above a random height move down by the cut, the rest
            // stay; an item in a container's room goes with the outermost one.
            const std::size_t last = bins_ - 1;
            const double cut = best_.length - target, split = best_.length * rng_.unit();
            std::vector<std::size_t> anchor(places.size());
            for (std::size_t i = 0; i < places.size(); ++i) anchor[i] = i;
            for (std::size_t c = 0; c < places.size(); ++c)
                if (!pb_.cat.variant(places[c].v).rooms.empty())
                    for (std::size_t j = 0; j < places.size(); ++j)
                        if (j != c && area(c) > area(anchor[j]) && carries(pb_.cat, *probes_, places[c], places[j]))
                            anchor[j] = c;
            std::vector<char> down(places.size(), 0);
            for (std::size_t i = 0; i < places.size(); ++i) {
                const Place& a = places[anchor[i]];
                const Variant& var = pb_.cat.variant(a.v);
                down[i] = a.bin == last && a.y + 0.5 * (var.box.miny + var.box.maxy) > split;
            }
            for (std::size_t i = 0; i < places.size(); ++i)
                if (down[i]) places[i].y -= cut;
            emptying_ = false;
        }
        start(places, sheet);
    }

    // A new attempt on the same sheet from a kept layout, two large items swapped.
    void retry() {
        // Biased towards the least overlap: the pool is kept sorted.
        const double u = rng_.unit();
        const Kept& k = pool_[static_cast<std::size_t>(u * u * static_cast<double>(pool_.size()))];
        std::vector<Place> places = k.places;
        swap_large(places);
        start(places, work_->sheet());
    }

    void swap_large(std::vector<Place>& places) {
        if (large_.size() < 2) return;
        for (int tries = 0; tries < 16; ++tries) {
            const std::size_t a = large_[rng_.below(large_.size())], b = large_[rng_.below(large_.size())];
            if (a == b || pb_.cat.kind_of(a) == pb_.cat.kind_of(b)) continue;
            trade_places(pb_.cat, places[a], places[b]);
            return;
        }
    }

    void start(const std::vector<Place>& places, const Sheet& sheet) {
        work_->assign(places, sheet);
        strikes_ = 0;
        since_ = 0;
        strike_best_ = work_->overlap();
        low_ = {work_->places(), strike_best_};
        strike_low_ = low_;
    }

    void step(const std::atomic<bool>& abort) {
        const long long made = std::max<long long>(1, work_->sweep(rng_, &abort));
        moves_ += made;
        if (emptying_) empty_moves_ += made;
        if (abort.load(std::memory_order_relaxed)) return;
        if (work_->colliding_pairs() == 0) {
            if (exact_test()) {
                succeed();
                return;
            }
            for (const auto& [i, j] : bad_) {
                // (moves keep items on the sheet: not reached)
                if (i == j) {
                    fail();
                    return;
                }
                work_->flag(i, j);
            }
        }
        work_->update_weights();
        const double ov = work_->overlap();
        if (ov < low_.overlap) low_ = {work_->places(), ov};
        if (ov < strike_low_.overlap) {
            strike_low_ = {work_->places(), ov};
            since_ = 0;
            return;
        }
        if (++since_ < kPatience) return;
        since_ = 0;
        if (strike_low_.overlap > strike_best_ * (1.0 - kProgress)) {
            if (++strikes_ >= kStrikes) {
                fail();
                return;
            }
        } else {
            strikes_ = 0;
        }
        // The next strike starts from this one's least overlap, not from where it wandered off to.
        strike_best_ = strike_low_.overlap;
        work_->assign(strike_low_.places, work_->sheet());
    }

    // The exact test, of the pairs that may have changed since the last one:
    // a pair that passed it and has not moved against itself since (the
    // difference of the two translations the same double) is sound. The
    // rounding of those differences may drift by an ulp a test, so every
    // kWholeTest-th test judges every pair.
    bool exact_test() {
        const std::vector<Place>& now = work_->places();
        const std::size_t n = now.size();
        std::function<bool(std::size_t, std::size_t)> judge;
        if (tested_.size() == n && ++tests_ % kWholeTest != 0) {
            changed_.assign(n, 0);
            for (std::size_t i = 0; i < n; ++i)
                changed_[i] = now[i].v != tested_[i].v || now[i].bin != tested_[i].bin;
            for (const auto& [i, j] : bad_) changed_[i] = changed_[j] = 1;
            judge = [&](std::size_t i, std::size_t j) {
                return changed_[i] || changed_[j] || now[i].x - now[j].x != tested_[i].x - tested_[j].x ||
                       now[i].y - now[j].y != tested_[i].y - tested_[j].y;
            };
        }
        const bool ok = pb_.verify(now, work_->sheet(), bad_, kVerifyTol, judge);
        tested_ = now;
        return ok;
    }

    void succeed() {
        if (!emptying_ && !compressing_) step_ = std::min(kExploreStep, step_ * kStepGrow);
        Solution s;
        s.places = work_->places();
        s.bins = bins_;
        // A last bin the moves emptied is no bin.
        while (s.bins > 1 && pb_.used(s.places, s.bins - 1) <= 0.0) --s.bins;
        s.length = pb_.used(s.places, s.bins - 1);
        if (s.better_than(best_)) best_ = std::move(s);
        if (emptying_) empty_tries_ = 0;
        shrink();
    }

    void fail() {
        if (emptying_) ++empty_tries_;
        if (compressing_ || (emptying_ && empty_tries_ >= kEmptyTries)) {
            shrink();
            return;
        }
        // Keep the attempt's least overlapping layout, sorted by overlap.
        auto at = std::lower_bound(pool_.begin(), pool_.end(), low_.overlap,
                                   [](const Kept& k, double ov) { return k.overlap < ov; });
        pool_.insert(at, low_);
        if (pool_.size() > kPool) pool_.pop_back();
        if (!emptying_ && used_part() >= kExploreShare) {
            shrink();
            return;
        }
        // A target missed again and again is too far: a smaller step from the best.
        if (!emptying_ && ++retries_ >= kRetries) {
            step_ = std::max(kCompressLow, step_ * kStepCut);
            shrink();
            return;
        }
        retry();
    }

    struct Kept {
        std::vector<Place> places;
        double overlap = kInf;
    };

    const Problem& pb_;
    Rng rng_;
    std::unique_ptr<Probes> probes_;
    std::unique_ptr<WorkingLayout> work_;
    Solution best_;
    long long budget_ = -1, moves_ = 0, empty_moves_ = 0;
    Span span_;
    std::vector<std::size_t> large_;
    std::vector<Kept> pool_;
    Kept low_, strike_low_;  // the attempt's and the strike's least overlapping layouts
    std::size_t bins_ = 0;
    double strike_best_ = kInf;
    int strikes_ = 0, since_ = 0, empty_tries_ = 0, retries_ = 0, since_empty_ = 0;
    double step_ = kExploreStep;
    bool emptying_ = false, compressing_ = false, idle_ = false;
    std::vector<std::pair<std::size_t, std::size_t>> bad_;  // what the last exact test found
    std::vector<Place> tested_;  // the layout of the last exact test
    std::vector<char> changed_;  // per item: another angle or bin since then, or in a pair that failed it
    long long tests_ = 0;
    long long cpu_ns_ = 0;  // of the threads while they ran the chain
};

// The angles item s may take: the placers' for a polygon the NFP strategy
// turns, its present angle otherwise (and always among them).
std::vector<double> angles_of(const FirstFit& ff, const Shape& s) {
    std::vector<double> out;
    auto add = [&](double a) {
        for (double b : out)
            if (round6(a) == round6(b)) return;
        out.push_back(a);
    };
    if (ff.strategy == Strategy::Nfp && s.is_polygon())
        for (double a : ff.nfp.rotations) add(a);
    add(s.rotation());
    return out;
}

PackResult compress(const FirstFit& ff, PackResult start, const SteadyClock::time_point* deadline, long long moves,
                    std::uint64_t seed, SearchProgress* progress) {
    // Moving items between bins knows nothing of their mass: bins with a
    // payload stay as first fit filled them (a strip's one bin may shorten).
    if (!ff.strip() && ff.bin.max_load < kInf) return start;
    // The placed items, by bin.
    std::vector<Shape*> items;
    std::vector<std::size_t> bin_of;
    for (std::size_t b = 0; b < start.bins.size(); ++b)
        for (Shape* s : start.bins[b]) {
            items.push_back(s);
            bin_of.push_back(b);
        }
    if (items.size() < 2) return start;
    std::vector<std::vector<double>> angles;
    for (Shape* s : items) angles.push_back(angles_of(ff, *s));
    const bool nonconvex = ff.nfp.nonconvex || ff.strategy == Strategy::BottomLeft;
    Catalogue cat(items, angles, ff.nfp.exact_clearance, nonconvex);
    const double height = ff.strip() ? kInf : ff.bin.height;
    Problem pb(cat, ff.bin.width, height, ff.bin.margin);
    // The moves weigh nothing: with a load limit, each bin keeps the items (and load) the greedy pass gave it.
    pb.keep_bins = ff.bin.max_load < kInf;

    Solution first;
    first.bins = start.bins.size();
    for (std::size_t i = 0; i < items.size(); ++i)
        first.places.push_back({cat.present(i), bin_of[i], items[i]->tx(), items[i]->ty()});
    first.length = pb.used(first.places, first.bins - 1);
    {
        // The layout handed in counts as sound when the layout checker would pass it.
        std::vector<std::pair<std::size_t, std::size_t>> bad;
        first.sound = pb.verify(first.places, pb.sheet(first.bins, first.length), bad, kStartTol);
    }
    pb.bound = lower_bound(ff, items);

    if (progress) {
        progress->compressing = true;
        progress->best_bins = first.bins;
        progress->best_length = first.length;
        progress->bound_bins = pb.bound.bins;
        progress->bound_length = pb.bound.length;
    }
    // A time-limited phase whose best layout reaches the bound has nothing left to find.
    auto done = [&](const Solution& s) {
        return deadline && !moves_limited(moves) && start.unplaced.empty() && s.sound && pb.bound.reached(s.bins, s.length);
    };
    const std::size_t hw = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t threads = std::min<std::size_t>(static_cast<std::size_t>(std::max(1, ff.nfp.threads)), hw);
    const std::size_t count = moves_limited(moves) ? kChains : std::max(kChains, threads);
    std::vector<std::unique_ptr<Chain>> chains;
    for (std::size_t c = 0; c < count; ++c) {
        long long budget = -1;
        if (moves >= 0)
            budget = moves / static_cast<long long>(count) +
                     (static_cast<long long>(c) < moves % static_cast<long long>(count) ? 1 : 0);
        chains.push_back(std::make_unique<Chain>(pb, first, seed + 0x2545F4914F6CDD1DULL * (c + 1), budget,
                                                 Span{SteadyClock::now(), deadline}));
    }
    std::atomic<bool> abort{false};
    RunWatch watch;
    watch.deadline = deadline;
    bool at_bound = done(first);
    for (long long round = 1; !at_bound; ++round) {
        if (deadline && SteadyClock::now() >= *deadline) break;
        bool more = false;
        for (const auto& ch : chains) more = more || !ch->spent();
        if (!more) break;
        const long long until = round * kRoundMoves;
        const bool complete = run_side_by_side(count, std::min(threads, count), abort,
                                               [&](std::size_t c) { chains[c]->run(until, abort); }, &watch);
        if (!complete) break;
        std::size_t lead = 0;
        for (std::size_t c = 1; c < count; ++c)
            if (chains[c]->best().better_than(chains[lead]->best())) lead = c;
        at_bound = done(chains[lead]->best());
        for (std::size_t c = 0; c < count; ++c)
            if (chains[lead]->best().better_than(chains[c]->best())) chains[c]->adopt(chains[lead]->best());
        // (every chain idle: each best is as short as the bound lets it be)
        bool busy = false;
        for (const auto& ch : chains) busy = busy || !ch->idle();
        if (!busy) break;
        if (progress) {
            progress->best_bins = chains[lead]->best().bins;
            progress->best_length = chains[lead]->best().length;
            long long total = 0;
            for (const auto& ch : chains) total += ch->moves();
            progress->evaluated = static_cast<std::size_t>(total);
        }
    }
    // Ties keep the earlier chain's layout.
    const Solution* best = &first;
    for (const auto& ch : chains)
        if (ch->best().better_than(*best)) best = &ch->best();
    if (best != &first) {
        // The chains' exact tests passed over pairs that moved together since
        // they passed: the layout returned is judged whole, once.
        std::vector<std::pair<std::size_t, std::size_t>> bad;
        // (after Ctrl-C too: it is what the interrupted run returns)
        const std::atomic<bool> never{false};
        CancelScope uninterrupted(&never);
        // (its tops were kept under the caps of their sheets: only the pairs can fail)
        if (!pb.verify(best->places, pb.sheet(best->bins, pb.height), bad)) best = &first;
    }
    if (progress) {
        progress->best_bins = best->bins;
        progress->best_length = best->length;
        progress->compressing = false;
        progress->at_bound = at_bound && done(*best);
        double cpu = 0.0;
        for (const auto& ch : chains) cpu += ch->cpu_seconds();
        progress->cpu_seconds = progress->cpu_seconds + cpu;
    }

    if (!best->sound) {
        // Never separated: the layout handed in is returned as it came.
        start.search_stopped = start.search_stopped || watch.interrupted;
        return start;
    }
    PackResult out;
    out.search_stopped = start.search_stopped || watch.interrupted;
    out.unplaced = std::move(start.unplaced);
    out.bins.resize(best->bins);
    for (std::size_t i = 0; i < items.size(); ++i) {
        const Place& p = best->places[i];
        Shape& s = *items[i];
        s.set_rotation(cat.variant(p.v).rotation);
        s.set_position(p.x, p.y);
        out.bins[p.bin].push_back(&s);
    }
    return out;
}

}  // namespace

PackResult CompressionPhase::improve(const FirstFit& ff, const std::vector<Shape*>& sequence, PackResult greedy) const {
    const SteadyClock::time_point started = SteadyClock::now();
    const SearchOptions& opt = options;
    // The search gets its share of the limits first.
    SearchOptions first = opt;
    first.time_limit = opt.time_limit >= 0.0 ? opt.time_limit * kSearchShare : -1.0;
    long long moves = -1;
    if (opt.iterations >= 0) {
        first.iterations = static_cast<long long>(static_cast<double>(opt.iterations) * kSearchShare);
        const long long rest = opt.iterations - first.iterations;
        moves = rest > std::numeric_limits<long long>::max() / kMovesPerIteration ? std::numeric_limits<long long>::max()
                                                                                  : rest * kMovesPerIteration;
    }
    PackResult searched = std::move(greedy);
    if (first.active() && (first.time_limit > 0.0 || first.iterations > 0)) {
        searched = ImprovementSearch(first, progress).improve(ff, sequence, std::move(searched));
        if (searched.search_stopped) return searched;
    }
    SteadyClock::time_point deadline{};
    if (opt.time_limit >= 0.0)
        deadline = started + std::chrono::duration_cast<SteadyClock::duration>(std::chrono::duration<double>(opt.time_limit));
    return compress(ff, std::move(searched), opt.time_limit >= 0.0 ? &deadline : nullptr, moves, opt.seed, progress);
}

}  // namespace quarvo
