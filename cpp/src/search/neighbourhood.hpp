// The moves of the improvement search: an item moved or swapped within its
// run of equal weight, an item held to one angle or freed again, an item sent
// to another site; with several kinds of bin, a bin of another kind (the
// last bin most often), two bins' kinds swapped, or a bin left out of the
// plan (and another made of another kind to take its items).
#pragma once
#include <cstddef>
#include <vector>

#include "quarvo/options.hpp"
#include "quarvo/shapes.hpp"
#include "core/rng.hpp"
#include "search/layout.hpp"

namespace quarvo {
namespace search_detail {

// Sites an item may take in an NFP placer (PlaceRequest::site below this).
constexpr int kSites = 3;

class Neighbourhood {
public:
    // `items` in greedy order, inflated; `angles` the rotations each may
    // take; `stock` with several kinds of bin, per kind the bins of it there
    // are (< 0: any number).
    Neighbourhood(const std::vector<Shape*>& items, Strategy strategy, std::size_t angles,
                  std::vector<long long> stock = {});

    // Whether any move exists.
    bool can_move() const { return reorderable_ || !turnable_.empty() || sited_ || stock_.size() > 1; }
    // A neighbour of `cur` (its order, angles and sites) and the first
    // position of the order it changes.
    std::size_t neighbour(const Layout& cur, Layout& out, Rng& rng) const;

private:
    bool same_kind(std::size_t i, std::size_t j) const;
    // Another plan of kinds for cur's bins: the first position of the order
    // whose item lies in the first bin changed or after it, or none (the
    // order's size) when the change is not in stock.
    std::size_t other_kinds(const Layout& cur, Layout& out, Rng& rng) const;

    const std::vector<Shape*>& items_;
    std::size_t angles_;
    std::vector<int> kinds_;
    // Runs of equal weight in greedy order: the only ranges an item moves in.
    std::vector<std::size_t> group_, group_end_;
    std::vector<std::size_t> turnable_;  // items that may take one angle of several
    bool reorderable_ = false, sited_ = false;
    std::vector<long long> stock_;
};

}  // namespace search_detail
}  // namespace quarvo
