#include "search/neighbourhood.hpp"

#include <algorithm>

#include "nfp/nfp_cache.hpp"

namespace quarvo {
namespace search_detail {

Neighbourhood::Neighbourhood(const std::vector<Shape*>& items, Strategy strategy, std::size_t angles,
                             std::vector<long long> stock)
    : items_(items), angles_(angles), stock_(std::move(stock)) {
    for (Shape* s : items_) {
        // a part and its mirror image are one kind, however the greedy pass left them
        const bool was = s->mirrored();
        s->set_mirrored(false);
        kinds_.push_back(geometry_signature(*s));
        s->set_mirrored(was);
    }
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
    for (std::size_t i = 0; i < items_.size(); ++i) {
        if (strategy == Strategy::Nfp && items_[i]->is_polygon() && angles_ > 1) turnable_.push_back(i);
        sited_ = strategy == Strategy::Nfp && items_.size() > 1;
        for (std::size_t j = i + 1; j < group_end_[i]; ++j)
            if (!same_kind(i, j)) { reorderable_ = true; break; }
    }
}

bool Neighbourhood::same_kind(std::size_t i, std::size_t j) const {
    return kinds_[i] == kinds_[j] && items_[i]->infl() == items_[j]->infl();
}

std::size_t Neighbourhood::other_kinds(const Layout& cur, Layout& out, Rng& rng) const {
    const std::size_t bins = cur.kinds.size(), n = items_.size();
    if (bins == 0) return n;
    // Bins of kind k in the plan once bin `drop` is gone and bin `change` changed.
    auto in_stock = [&](int k, std::size_t change, std::size_t drop) {
        if (stock_[k] < 0) return true;
        long long used = 0;
        for (std::size_t b = 0; b < bins; ++b) used += b != change && b != drop && cur.kinds[b] == k;
        return used < stock_[k];
    };
    auto other_kind = [&](std::size_t b) {
        int k = static_cast<int>(rng.below(stock_.size() - 1));
        return k >= cur.kinds[b] ? k + 1 : k;
    };
    // the last bin most often: a smaller or cheaper one may hold what it holds
    const std::size_t j = rng.below(2) ? bins - 1 : rng.below(bins);
    std::size_t first = j;  // the first bin the plan changes: every later one may change too
    const std::size_t move = rng.below(5);
    if (move < 2) {
        // bin j of another kind
        const int k = other_kind(j);
        if (!in_stock(k, j, bins)) return n;
        out.kinds[j] = k;
    } else if (move == 2) {
        // two bins' kinds swapped
        if (bins < 2) return n;
        std::size_t j2 = rng.below(bins - 1);
        if (j2 >= j) ++j2;
        if (cur.kinds[j] == cur.kinds[j2]) return n;
        std::swap(out.kinds[j], out.kinds[j2]);
        first = std::min(j, j2);
    } else {
        // a bin left out, its items taken by the others (or a bin opened
        // for the rest); and, half the time, another bin made of another
        // kind to take them
        if (bins < 2) return n;
        std::size_t drop = rng.below(bins);
        if (move == 4) {
            std::size_t grow = rng.below(bins - 1);
            if (grow >= drop) ++grow;
            const int k = other_kind(grow);
            if (!in_stock(k, grow, drop)) return n;
            out.kinds[grow] = k;
            first = std::min(grow, drop);
        } else {
            first = drop;
        }
        out.kinds.erase(out.kinds.begin() + static_cast<long>(drop));
    }
    // (the greedy pass fills bin after bin: a later bin may hold an earlier item)
    for (std::size_t pos = 0; pos < n; ++pos)
        if (cur.bin[cur.order[pos]] >= static_cast<long>(first)) return pos;
    return n;
}

std::size_t Neighbourhood::neighbour(const Layout& cur, Layout& out, Rng& rng) const {
    out.order = cur.order;
    out.angle = cur.angle;
    out.site = cur.site;
    out.kinds = cur.kinds;
    out.cap = cur.cap;
    const std::size_t n = items_.size();
    auto position_of = [&](std::size_t i) {
        return static_cast<std::size_t>(std::find(cur.order.begin(), cur.order.end(), i) - cur.order.begin());
    };
    // Order moves two thirds of the time and angles one third, among those
    // there are; sites only where neither exists (on the real instances
    // they cost more evaluations than they gained).
    const unsigned w_order = reorderable_ ? 2 : 0, w_turn = turnable_.empty() ? 0 : 1;
    // (held to fewer bins, the layout most often needs bins of other kinds to take what is left over)
    const unsigned w_kind = stock_.size() > 1 ? (cur.cap ? 3 : 1) : 0;
    const unsigned w_site = sited_ && w_order + w_turn + w_kind == 0 ? 1 : 0;
    const std::size_t pick = rng.below(w_order + w_turn + w_kind + w_site);
    if (pick >= w_order + w_turn + w_kind) {
        const std::size_t i = rng.below(n);
        int c = static_cast<int>(rng.below(kSites - 1));
        if (c >= out.site[i]) ++c;
        out.site[i] = c;
        return position_of(i);
    }
    if (pick >= w_order + w_turn) return other_kinds(cur, out, rng);
    if (pick >= w_order) {
        const std::size_t i = turnable_[rng.below(turnable_.size())];
        // -1 (every angle) or one of the angles, other than the present choice
        int a = static_cast<int>(rng.below(angles_));
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

}  // namespace search_detail
}  // namespace quarvo
