// The layouts the improvement search walks through, and the snapshots of the
// NFP placers it restores them from (internal to search.cpp).
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <tuple>
#include <vector>

#include "quarvo/placer_nfp.hpp"

namespace quarvo {
namespace search_detail {

struct Pose {
    double tx = 0.0, ty = 0.0, rot = 0.0;
};

struct Cost {
    std::size_t unplaced = 0, bins = 0;
    double length = 0.0;  // used length of the last bin
    bool operator<(const Cost& o) const {
        return std::tie(unplaced, bins, length) < std::tie(o.unplaced, o.bins, o.length);
    }
};

// A layout: what the search varies (order, angles) and what packing gave.
struct Layout {
    std::vector<std::size_t> order;  // item indices in offering order
    std::vector<int> angle;          // per item: -1 every angle, else the index of its only angle
    std::vector<int> site;           // per item: NfpOptions::choice
    std::vector<long> bin;           // per item: its bin, -1 unplaced
    std::vector<Pose> pose;          // per item
    Cost cost;
};

// Fingerprints of a layout's prefixes: entry k covers its first k positions.
std::vector<std::uint64_t> prefix_prints(const Layout& l);
// The fingerprint of a prefix extended by one placed item.
std::uint64_t mix(std::uint64_t h, std::size_t item, long bin, const Pose& p);

// The NFP placers as they were after the first `pos` items of some layout,
// stored unions included: a neighbour whose order and poses agree with that
// prefix starts from here instead of building its unions afresh.
struct Snapshot {
    std::size_t pos = 0;
    std::uint64_t print = 0;
    std::vector<std::size_t> items;
    std::vector<long> bins;
    std::vector<Pose> poses;
    std::vector<std::unique_ptr<NfpPlacer>> placers;

    // Whether layout l (with prefix fingerprints `prefix`) starts as this snapshot did.
    bool matches(const Layout& l, const std::vector<std::uint64_t>& prefix) const;
};

// What one evaluation slot owns: private copies of the items and the
// snapshots its evaluations took (two per place along the order). Neighbour j
// of every step goes to slot j, whatever thread runs it, so that what a slot
// holds does not depend on the thread count.
struct Slot {
    std::vector<std::unique_ptr<Shape>> clones;
    bool snapshots = false;
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
