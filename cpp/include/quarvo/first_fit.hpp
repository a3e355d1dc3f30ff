// First-fit driver: spacing by inflation, heaviest items first, each item to
// the first open bin whose placer accepts it.
#pragma once
#include <atomic>
#include <cstddef>
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
};

struct PackResult {
    std::vector<std::vector<Shape*>> bins;  // in opening order
    std::vector<Shape*> unplaced;            // in processing order
};

class FirstFit {
public:
    FirstFit(std::vector<Shape*> items, Bin bin, double global_distance = 0.0, Strategy strategy = Strategy::Nfp,
             NfpOptions nfp = {});

    // Packs every item; every item's infl is 0.0 afterwards, also when an
    // error (or a cancellation) ends the run early.
    PackResult do_pack();
    std::unique_ptr<Placer> make_placer() const;

    std::vector<Shape*> items;
    Bin bin;
    double global_distance;
    Strategy strategy;
    NfpOptions nfp;  // handed to every NFP placer; its exact_clearance to bottom-left placers too
    PackProgress* progress = nullptr;  // optional, not owned
};

}  // namespace quarvo
