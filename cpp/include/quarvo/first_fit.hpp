// First-fit driver: spacing by inflation, heaviest items first, each item to
// the first open bin whose placer accepts it; optionally followed by the
// improvement search (search.hpp).
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "quarvo/shapes.hpp"
#include "quarvo/placer.hpp"
#include "quarvo/placer_nfp.hpp"

namespace quarvo {

enum class Strategy { Nfp, BottomLeft };

// Counters a run updates as it goes; another thread may read them meanwhile.
struct PackProgress {
    std::atomic<std::size_t> processed{0};  // items offered to the bins so far
    std::atomic<std::size_t> placed{0};
    std::atomic<std::size_t> bins{0};
    std::atomic<std::size_t> total{0};
    // The search, once the greedy pass is done: layouts evaluated so far and
    // the best one found (its bins and the used length of its last bin).
    std::atomic<bool> searching{false};
    std::atomic<std::size_t> evaluated{0};
    std::atomic<std::size_t> best_bins{0};
    std::atomic<double> best_length{0.0};
};

struct PackResult {
    std::vector<std::vector<Shape*>> bins;  // in opening order
    std::vector<Shape*> unplaced;            // in processing order
    bool search_stopped = false;             // Ctrl-C ended the search early
};

// When either limit is set, do_pack improves the greedy layout until the
// first limit is reached (or Ctrl-C) and returns the best layout found.
struct SearchOptions {
    double time_limit = -1.0;   // seconds from the start of do_pack; < 0: none
    long long iterations = -1;  // neighbour layouts to evaluate; < 0: none
    std::uint64_t seed = 0;
    bool active() const { return time_limit >= 0.0 || iterations >= 0; }
};

class FirstFit {
public:
    FirstFit(std::vector<Shape*> items, Bin bin, double global_distance = 0.0, Strategy strategy = Strategy::Nfp,
             NfpOptions nfp = {});

    // Packs every item; every item's infl is 0.0 afterwards, also when an
    // error (or a cancellation) ends the run early. A strip (bin height
    // +infinity) is one bin whose height is open.
    PackResult do_pack();
    // A placer of the strategy's kind for this bin.
    std::unique_ptr<Placer> make_placer() const;
    // A placer for one of the driver's own bins: only the driver fills it, with
    // items checked before packing began, so it does not check them again on every call.
    std::unique_ptr<Placer> make_bin() const;
    bool strip() const;
    // Offers an inflated item to the open bins in order, then to a new one
    // (a strip has one bin: an item it refuses that fits its width goes on
    // top of everything). With `rotations`, an NFP placer tries only those
    // angles for it, and takes the site `choice` (NfpOptions::choice).
    // Returns the bin's index, or -1 when the item is unplaced.
    long offer(std::vector<std::unique_ptr<Placer>>& open, Shape& item,
               const std::vector<double>* rotations = nullptr, int choice = 0) const;

    std::vector<Shape*> items;
    Bin bin;
    double global_distance;
    Strategy strategy;
    NfpOptions nfp;  // handed to every NFP placer; its exact_clearance to bottom-left placers too
    SearchOptions search;
    PackProgress* progress = nullptr;  // optional, not owned
    // The height a strip's placer works with during do_pack: room for every
    // item stacked on top of each other.
    double working_height = 0.0;
};

// The largest y of the items' world contours (0 for no items): the length of
// a strip the items use.
double used_length(const std::vector<Shape*>& items);

}  // namespace quarvo
