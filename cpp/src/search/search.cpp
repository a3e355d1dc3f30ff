#include "quarvo/search.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "core/thread_clock.hpp"
#include "core/thread_runner.hpp"
#include "search/neighbourhood.hpp"
#include "search/repack.hpp"

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
// With several kinds of bin the last chain tries to do without a bin of its
// best layout (the layout held to one bin fewer, what the bins cannot take
// left out and its area the cost), until no item is left out, a layout that
// costs less; after this many rounds that find no better layout it walks as
// the others do for as many again.
constexpr int kEliminationRounds = 3;

struct Chain {
    Layout cur, best;
    std::vector<Cost> history;
    Rng rng;
    std::unique_ptr<Workspace> workspace;
    long long evaluated = 0, budget = -1;  // budget: its share of `iterations`
    bool eliminating = false;  // cur is held to fewer bins than best
    bool improved = false;     // a better layout this round
    int stale = 0;             // rounds in its present mode without one
};

// The chains and what their rounds share.
class Walk {
public:
    Walk(const Neighbourhood& moves, const Repacker& repack, const SearchOptions& opt, const Layout& start,
         std::size_t chains, SearchProgress* progress, bool eliminate)
        : moves_(moves), repack_(repack), progress_(progress), chains_(chains), shown_price_(start.cost.price),
          eliminate_(eliminate) {
        for (std::size_t c = 0; c < chains; ++c) {
            Chain& ch = chains_[c];
            ch.cur = ch.best = start;
            ch.history.assign(kHistory, start.cost);
            ch.rng = Rng{opt.seed + 0x632BE59BD9B4E019ULL * c};
            ch.workspace = repack.workspace();
            if (opt.iterations >= 0)
                ch.budget = opt.iterations / static_cast<long long>(chains) +
                            (static_cast<long long>(c) < opt.iterations % static_cast<long long>(chains) ? 1 : 0);
        }
    }

    // Whether some chain has iterations left.
    bool more() const {
        bool any = false;
        for (const Chain& ch : chains_) any = any || ch.budget < 0 || ch.evaluated < ch.budget;
        return any;
    }

    std::size_t size() const { return chains_.size(); }

    // The best cost of any chain so far.
    Cost best_cost() const {
        Cost best = chains_.front().best.cost;
        for (const Chain& ch : chains_) best = std::min(best, ch.best.cost);
        return best;
    }

    double cpu_seconds() const { return 1e-9 * static_cast<double>(cpu_ns_.load()); }

    // One round of chain c: up to kRound layouts.
    void round(std::size_t c, const std::atomic<bool>& abort) {
        const long long cpu = thread_cpu_ns();
        round_of(c, abort);
        cpu_ns_ += thread_cpu_ns() - cpu;
    }

private:
    void round_of(std::size_t c, const std::atomic<bool>& abort) {
        Chain& ch = chains_[c];
        long long end = ch.evaluated + kRound;
        if (ch.budget >= 0) end = std::min(end, ch.budget);
        if (eliminate_ && c + 1 == chains_.size() && !ch.eliminating && ch.stale == 0 && ch.evaluated < end) start_elimination(ch);
        while (ch.evaluated < end && !abort.load()) {
            // a layout with one bin fewer was found: on to the next bin
            if (ch.eliminating && ch.improved && ch.cur.cost.unplaced == ch.best.cost.unplaced &&
                !(ch.best.cost < ch.cur.cost))
                start_elimination(ch);
            Layout cand;
            const std::size_t k = moves_.neighbour(ch.cur, cand, ch.rng);
            Cost& late = ch.history[static_cast<std::size_t>(ch.evaluated) % kHistory];
            const Cost limit = std::max(ch.cur.cost, late);
            const bool ok = repack_.evaluate(ch.cur, prefix_prints(ch.cur), cand, k, limit, *ch.workspace);
            ++ch.evaluated;
            if (progress_) progress_->evaluated = ++evaluated_;
            if (ok) {
                ch.cur = std::move(cand);
                if (ch.cur.cost < ch.best.cost) {
                    ch.best = ch.cur;
                    ch.improved = true;
                    std::lock_guard<std::mutex> lock(mu_);
                    if (progress_ && ch.best.cost < Cost{0, 0.0, shown_price_, progress_->best_bins, progress_->best_length}) {
                        progress_->best_bins = ch.best.cost.bins;
                        progress_->best_length = ch.best.cost.length;
                        shown_price_ = ch.best.cost.price;
                    }
                }
            }
            late = ch.cur.cost;
        }
        if (!eliminate_) return;
        ch.stale = ch.improved ? 0 : ch.stale + 1;
        ch.improved = false;
        if (ch.stale < kEliminationRounds) return;
        ch.stale = 0;
        if (ch.eliminating) {
            // no bin fewer found: back to the best layout for a while
            ch.cur = ch.best;
            ch.cur.cap = 0;
            ch.history.assign(kHistory, ch.cur.cost);
            ch.eliminating = false;
            ch.stale = 1;
        }
    }

public:
    // The chains behind the one ahead take its layout (ties keep the earlier
    // chain); a chain doing without a bin goes on, and lends its best.
    void follow_the_lead() {
        auto lead_of = [&](std::size_t c) -> const Layout& {
            return chains_[c].eliminating ? chains_[c].best : chains_[c].cur;
        };
        std::size_t lead = 0;
        for (std::size_t c = 1; c < chains_.size(); ++c)
            if (lead_of(c).cost < lead_of(lead).cost) lead = c;
        for (std::size_t c = 0; c < chains_.size(); ++c)
            if (!chains_[c].eliminating && lead_of(lead).cost < chains_[c].cur.cost) {
                chains_[c].cur = lead_of(lead);
                chains_[c].cur.cap = 0;
                chains_[c].history.assign(kHistory, chains_[c].cur.cost);
            }
    }

    // The best layout of any chain, or `best` when none is better; ties keep
    // the earlier chain's layout.
    void take_best(Layout& best) {
        for (Chain& ch : chains_)
            if (ch.best.cost < best.cost) best = std::move(ch.best);
    }

private:
    // The chain's best layout held to one bin fewer (the last one half the
    // time, else any), the bins after it planned as before.
    void start_elimination(Chain& ch) {
        const Layout& from = ch.best;
        const std::size_t bins = from.kinds.size();
        if (bins < 2) return;
        Layout cand = from;
        const std::size_t drop = ch.rng.below(2) ? bins - 1 : ch.rng.below(bins);
        cand.kinds.erase(cand.kinds.begin() + static_cast<long>(drop));
        cand.cap = bins - 1;
        std::size_t k = 0;
        while (k < from.order.size() && from.bin[from.order[k]] < static_cast<long>(drop)) ++k;
        const Cost any{static_cast<std::size_t>(-1)};
        repack_.evaluate(from, prefix_prints(from), cand, k, any, *ch.workspace);
        ++ch.evaluated;
        if (progress_) progress_->evaluated = ++evaluated_;
        ch.cur = std::move(cand);
        ch.history.assign(kHistory, ch.cur.cost);
        ch.eliminating = true;
        ch.improved = false;
        ch.stale = 0;
    }

    const Neighbourhood& moves_;
    const Repacker& repack_;
    SearchProgress* progress_;
    std::vector<Chain> chains_;
    std::mutex mu_;
    double shown_price_ = 0.0;  // what the bins of the layout the progress shows cost
    const bool eliminate_;       // several kinds of bin: the last chain tries to do without bins
    std::atomic<std::size_t> evaluated_{0};
    std::atomic<long long> cpu_ns_{0};
};

// Leaves every item at its pose in `best` and returns that layout.
PackResult place_as_in(const Layout& best, const std::vector<Shape*>& sequence) {
    PackResult out;
    for (std::size_t pos = 0; pos < sequence.size(); ++pos) {
        const std::size_t i = best.order[pos];
        Shape& s = *sequence[i];
        s.set_rotation(best.pose[i].rot);
        s.set_mirrored(best.pose[i].mirrored);
        s.set_position(best.pose[i].tx, best.pose[i].ty);
        const long b = best.bin[i];
        if (b < 0) {
            out.unplaced.push_back(&s);
            continue;
        }
        if (out.bins.size() <= static_cast<std::size_t>(b)) out.bins.resize(b + 1);
        out.bins[b].push_back(&s);
    }
    out.bin_kinds = best.kinds;
    out.bin_kinds.resize(out.bins.size(), 0);
    return out;
}

}  // namespace

PackResult ImprovementSearch::improve(const FirstFit& ff, const std::vector<Shape*>& sequence, PackResult greedy) const {
    const Clock::time_point start = Clock::now();
    Repacker repack(ff, sequence);
    // with the mirror option every angle may be held mirrored as well
    std::vector<long long> stock;
    if (ff.several_kinds())
        for (std::size_t k = 0; k < ff.kind_count(); ++k) {
            const Bin& kb = ff.kind(static_cast<int>(k));
            stock.push_back(kb.count ? *kb.count : -1);
        }
    const Neighbourhood moves(sequence, ff.strategy, ff.nfp.rotations.size() * (ff.nfp.mirror ? 2 : 1), stock);
    Layout best = repack.initial(greedy);
    const LowerBound bound = lower_bound(ff, sequence);
    if (progress) {
        progress->searching = true;
        progress->best_bins = best.cost.bins;
        progress->best_length = best.cost.length;
        progress->bound_bins = bound.bins;
        progress->bound_length = bound.length;
    }

    const SearchOptions& opt = options;
    // A time-limited search that reaches the bound has nothing left to find
    // (with several kinds of bin the price counts first: no bound of it here).
    auto done = [&](const Cost& c) {
        return opt.time_limit >= 0.0 && !ff.several_kinds() && c.unplaced == 0 && bound.reached(c.bins, c.length);
    };
    Clock::time_point deadline{};
    if (opt.time_limit >= 0.0)
        deadline = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(opt.time_limit));
    const std::size_t hw = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t threads = std::min<std::size_t>(static_cast<std::size_t>(std::max(1, ff.nfp.threads)), hw);
    const std::size_t chains = opt.iterations >= 0 ? kChains : std::max(kChains, threads);
    Walk walk(moves, repack, opt, best, chains, progress, ff.several_kinds());
    std::atomic<bool> abort{false};
    RunWatch watch;
    watch.deadline = opt.time_limit >= 0.0 ? &deadline : nullptr;
    bool at_bound = done(best.cost);
    while (moves.can_move() && !at_bound) {
        if (opt.time_limit >= 0.0 && Clock::now() >= deadline) break;
        if (!walk.more()) break;
        // One round: every chain walks up to kRound layouts, the chains side by side.
        const bool complete = run_side_by_side(walk.size(), std::min(threads, walk.size()), abort,
                                               [&](std::size_t c) { walk.round(c, abort); }, &watch);
        if (!complete) break;
        walk.follow_the_lead();
        at_bound = done(walk.best_cost());
    }
    walk.take_best(best);
    if (progress) {
        progress->searching = false;
        progress->at_bound = at_bound;
        progress->cpu_seconds = progress->cpu_seconds + walk.cpu_seconds();
    }

    PackResult out = place_as_in(best, sequence);
    out.search_stopped = watch.interrupted;
    return out;
}

}  // namespace quarvo
