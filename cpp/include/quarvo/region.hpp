// The incremental mode's search when moving items come in many kinds.
//
// A probe disc (a 64-gon centred in the mover) is held by the mover, so the
// places of the mover's reference point lie, moved by the probe's offset, in
// the free space of the probe: the bin less the union of the placed items'
// NFPs against the probe. One such union per probe size serves every mover
// that holds the probe, and the boxes covering its free space are the windows
// of the search: the NFPs meeting a window are united and searched inside it,
// window by window from the most promising, until no window left can hold a
// better candidate than the best one found.
#pragma once
#include <cstddef>
#include <functional>
#include <map>
#include <vector>

#include "quarvo/candidate_search.hpp"
#include "quarvo/nfp_union.hpp"
#include "quarvo/placer.hpp"
#include "quarvo/shapes.hpp"

namespace quarvo {

// Probe radii are 2^(level/4).
double probe_radius(int level);

struct Probe {
    bool usable = false;  // false: the mover holds no probe the bin has room for
    int level = 0;
    Pt offset{};  // the probe's centre minus the mover's reference point
};
// The largest probe held by the mover at its rotation and inflation.
Probe probe_for(const Shape& mover, double bin_w, double bin_h);

// Per bin, per probe level: the union of the placed items' NFPs against the
// probe and the bin's frame, extended as items are placed, and the boxes
// covering its free space. Copyable.
class FreeSpace {
public:
    // Boxes, in probe-centre coordinates, whose union holds every place of
    // the probe's centre in the bin that overlaps no placed item.
    const std::vector<BBox>& windows(int level, const std::vector<Shape*>& packed, double bin_w, double bin_h,
                                     const std::function<void()>& stop);

private:
    struct Level {
        StoredUnion store;
        std::vector<Shape*> basis;  // the items the windows were built for
        std::vector<BBox> windows;
        bool ready = false;
    };
    std::map<int, Level> levels_;
};

// The mover's NFP against the probe regions' items, local to placed item j.
using LocalNfpOf = std::function<const Contour&(std::size_t j)>;

// The best candidate over the windows (given in probe-centre coordinates,
// the probe at `offset` from the reference point). Every NFP whose box meets
// a window takes part in that window's union, so every candidate lies outside
// every NFP; circle pairs build their 64-gon NFPs here, other pairs ask `local_of`.
SearchResult windowed_search(const std::vector<Shape*>& packed, const Shape& mover, const std::vector<BBox>& windows,
                             Pt offset, const LocalNfpOf& local_of, double bin_w, double bin_h, Placement placement,
                             const std::function<void()>& stop);

}  // namespace quarvo
