// The free space of probe discs, from which the windowed search takes its
// windows when moving items come in many kinds (the incremental mode).
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
#include <utility>
#include <vector>

#include "geometry/clipper_bridge.hpp"
#include "quarvo/constants.hpp"
#include "quarvo/shapes.hpp"

namespace quarvo {

// Probe radii are 2^(level/4).
double probe_radius(int level);

struct Probe {
    bool usable = false;  // false: the mover holds no probe the bin has room for
    int level = 0;        // the largest level held
    double radius = 0.0;  // of the largest disc centred at the probe's centre that the mover holds
    Pt offset{};          // the probe's centre minus the mover's reference point
};
// The probe held by the mover at its rotation and inflation.
Probe probe_for(const Shape& mover, double bin_w, double bin_h);

// A box over the free space of a probe, and the box the free space really
// ends at around it: a side cut off by a tile of the store is infinite there.
// `room`: the largest radius of a 64-gon the free space around it can hold
// is at most that (from its area, where the free space is known whole).
struct Window {
    BBox box, ends;
    double room = kInf;
};
struct FreeWindows {
    int level = 0;
    double probe_radius = 0.0;
    std::vector<Window> list;
};

// The placed circles by the lower side of their inflated outline (ty - r):
// for a circle mover their NFP boxes are those sides less its radius, so one
// order serves every mover.
struct CircleIndex {
    std::vector<Shape*> basis;  // the items indexed, in order
    std::vector<std::pair<double, std::size_t>> low;  // (ty - r, index in basis), sorted
    double max_r = 0.0;
    bool circles = true;  // every item indexed is a circle
};

// Per bin, per probe level: the free space of the probe's centre, cut into
// pieces along a grid of tiles, and the windows over it. Placing an item
// subtracts its NFP against the probe from the pieces its box meets, so an
// update costs what those pieces hold, not what the bin does. Copyable.
class FreeSpace {
public:
    // Windows, in probe-centre coordinates, whose union holds every place of
    // the probe's centre in the bin that overlaps no placed item, for a probe
    // the mover holds: a level already kept near the mover's, or a new one a
    // little below it, so that the smaller items that usually follow share it.
    const FreeWindows& windows(const Probe& probe, const std::vector<Shape*>& packed, double bin_w, double bin_h,
                               const std::function<void()>& stop);

    struct Piece {
        ClipperLib::Paths paths;  // an outline (counter-clockwise) and its islands
        BBox box;
        std::vector<Window> windows;
    };
    // The index of the placed circles, extended to `packed`.
    const CircleIndex& circle_index(const std::vector<Shape*>& packed);
    // The pieces of a level's free space as last built, or null.
    const std::vector<Piece>* pieces(int level) const;

private:
    struct Level {
        double rho = 0.0;
        std::vector<Shape*> basis;  // the items subtracted so far, in order
        std::vector<Piece> pieces;
        bool built = false;  // pieces hold the free space left by `basis`
        FreeWindows windows;
    };
    std::map<int, Level> levels_;
    CircleIndex circles_;
};

}  // namespace quarvo
