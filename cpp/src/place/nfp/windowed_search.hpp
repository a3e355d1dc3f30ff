// The search of a mover's places window by window over the free space of its
// probe (free_space.hpp), instead of over the union of every NFP.
#pragma once
#include <cstddef>
#include <functional>
#include <vector>

#include "place/nfp/candidate_search.hpp"
#include "place/nfp/free_space.hpp"
#include "quarvo/options.hpp"
#include "quarvo/shapes.hpp"

namespace quarvo {

// The bin as the windowed search sees it: its placed items, the windows of
// the free space of a probe the mover holds, and the placed circles' index.
struct WindowedBin {
    const std::vector<Shape*>& packed;
    double bin_w, bin_h;
    Placement placement;
    const FreeWindows& windows;
    const Probe& probe;
    const std::function<void()>& stop;  // called between steps; may throw
    const CircleIndex* circles = nullptr;  // when the bin keeps one
    // With stable placement: the best place must pass it (PositionSearch::best_filter),
    // and the search offers the places on supports too (PositionSearch::support_points).
    const BestFilter* best_filter = nullptr;
};

// The mover's NFP against placed item j, local to that item.
using LocalNfpOf = std::function<const Contour&(std::size_t j)>;

// The windows as the search takes them: in reference-point coordinates, cut
// by the probe-radius difference, those that can hold a place in the bin,
// most promising first.
std::vector<BBox> search_boxes(const WindowedBin& bin, const Shape& mover);

// The best candidate over the windows. The mover's probe keeps its centre a
// probe-radius difference d inside a hole (the NFPs of the larger disc are
// those of the smaller one grown by a 64-gon of radius d, and 64-gons reach d
// along both axes), so each window is first cut to its hole's box shrunk by d.
// Every NFP whose box meets a window takes part in that window's union, so
// every candidate lies outside every NFP; a window whose places in the bin all
// lie well inside convex NFPs is not searched. Circle pairs build their
// polygon NFPs here; other pairs ask `local_of`, only for the items near a window.
SearchResult windowed_search(const WindowedBin& bin, const Shape& mover, const LocalNfpOf& local_of);

}  // namespace quarvo
