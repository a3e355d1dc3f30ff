// Fingerprints of layouts' prefixes, and the snapshots of the placers the
// improvement search restores a neighbour's first part from.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "quarvo/placer.hpp"
#include "quarvo/shapes.hpp"
#include "search/layout.hpp"

namespace quarvo {
namespace search_detail {

// Fingerprints of a layout's prefixes: entry k covers its first k positions.
std::vector<std::uint64_t> prefix_prints(const Layout& l);
// The fingerprint of a prefix extended by one placed item.
std::uint64_t extend_print(std::uint64_t h, std::size_t item, long bin, const Pose& p);

// The placers as they were after the first `pos` items of some layout,
// stored unions included: a neighbour whose order and poses agree with that
// prefix starts from here instead of building its unions afresh.
struct Snapshot {
    std::size_t pos = 0;
    std::uint64_t print = 0;
    std::vector<std::size_t> items;
    std::vector<long> bins;
    std::vector<Pose> poses;
    std::vector<int> kinds;  // of the placers' bins, with several kinds
    std::vector<std::unique_ptr<Placer>> placers;

    // Whether layout l (with prefix fingerprints `prefix`) starts as this snapshot did.
    bool matches(const Layout& l, const std::vector<std::uint64_t>& prefix) const;
};

// What one chain's evaluations work on: private copies of the items and the
// snapshots its evaluations took (two per place along the order). Neighbour j
// of every round goes to the workspace of chain j, whatever thread runs it, so
// that what a workspace holds does not depend on the thread count.
struct Workspace {
    std::vector<std::unique_ptr<Shape>> clones;
    bool snapshots = false;  // the placers can be copied
    std::vector<std::array<Snapshot, 2>> kept;

    // The latest snapshot at or before position k that `cur` (with prefix
    // fingerprints `prefix`) starts as; null when none does.
    const Snapshot* find(const Layout& cur, const std::vector<std::uint64_t>& prefix, std::size_t k) const;

    // Takes a snapshot of `open` at position `pos` of `cand` (fingerprint
    // `print`), keeping the one there that still serves `cur`.
    void keep(const Layout& cand, std::size_t pos, std::uint64_t print, const std::vector<std::unique_ptr<Placer>>& open,
              const Layout& cur, const std::vector<std::uint64_t>& prefix);
};

}  // namespace search_detail
}  // namespace quarvo
