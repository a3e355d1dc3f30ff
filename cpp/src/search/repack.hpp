// How the improvement search evaluates a neighbour: the first part of its
// order as in the current layout (from a snapshot where one serves), the rest
// offered to the driver again, item by item, until the cost exceeds the limit
// or the rest is seen to fall as in the current layout.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "quarvo/first_fit.hpp"
#include "search/layout.hpp"
#include "search/snapshots.hpp"

namespace quarvo {
namespace search_detail {

// Snapshots along the order of a layout.
constexpr std::size_t kSnapshots = 12;

// The largest y of an item's un-inflated world contour above its translation,
// per angle (and side, with the mirror option) it may take.
class ItemTops {
public:
    ItemTops(const std::vector<Shape*>& items, const std::vector<double>& angles, bool mirror);
    double top(std::size_t i, const Shape& s) const;

private:
    struct Entry {
        double angle;
        bool mirrored;
        double top;
    };
    std::vector<std::vector<Entry>> by_item_;
};

// The cost of a layout as it grows, item by item: its unplaced items and the
// top of each bin. The cost only grows with it.
class RunningCost {
public:
    // `price`: what the bin costs, counted when it is first seen; `overflow`:
    // the area an unplaced item leaves over.
    void add(long bin, double top, double price = 0.0, double overflow = 0.0);
    Cost cost() const { return {unplaced_, overflow_, price_, tops_.size(), tops_.empty() ? 0.0 : tops_.back()}; }
    std::size_t bins() const { return tops_.size(); }

private:
    std::vector<double> tops_;
    std::size_t unplaced_ = 0;
    double price_ = 0.0, overflow_ = 0.0;
};

class Repacker {
public:
    // `items` in greedy order, inflated; the driver's settings come from `ff`.
    Repacker(const FirstFit& ff, const std::vector<Shape*>& items);

    // The greedy layout as the search's first (an item it leaves unplaced
    // fits nowhere: it is no overflow of a layout held to fewer bins).
    Layout initial(const PackResult& greedy);
    // Re-packs `cand` from position k on, the part before k as in `cur`
    // (`prefix` holds cur's prefix fingerprints). False as soon as its cost
    // exceeds `limit`.
    bool evaluate(const Layout& cur, const std::vector<std::uint64_t>& prefix, Layout& cand, std::size_t k,
                  const Cost& limit, Workspace& ws) const;
    // A workspace of private copies of the items.
    std::unique_ptr<Workspace> workspace() const;

private:
    // Whether cand's items at positions [k, end) lie where they lie in cur.
    static bool same_poses(const Layout& cur, const Layout& cand, std::size_t k, std::size_t end);
    // The kind of bin b of layout l, and what the search counts it to cost.
    int kind_of(const Layout& l, long b) const { return l.kinds.empty() ? 0 : l.kinds[static_cast<std::size_t>(b)]; }
    double price_of(const Layout& l, long b) const { return l.kinds.empty() ? 0.0 : prices_[kind_of(l, b)]; }
    // What item i left unplaced adds to the cost's overflow in layout l.
    double overflow_of(const Layout& l, std::size_t i) const { return l.cap ? areas_[i] : 0.0; }

    FirstFit ff_;  // one thread per evaluation: the threads go to the chains
    const std::vector<Shape*>& items_;
    ItemTops tops_;
    std::vector<std::vector<double>> single_;  // each angle alone
    std::vector<int> single_side_;             // and the side it is tried on (PlaceRequest::mirror)
    std::size_t stride_ = 1;  // positions between snapshots
    std::vector<double> prices_;  // per kind of bin, with several
    std::vector<double> areas_;   // per item, its material (0 for one the greedy pass left unplaced)
};

}  // namespace search_detail
}  // namespace quarvo
