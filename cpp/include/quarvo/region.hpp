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
#include <limits>
#include <map>
#include <vector>

#include "quarvo/candidate_search.hpp"
#include "quarvo/clipper_util.hpp"
#include "quarvo/placer.hpp"
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
    double room = std::numeric_limits<double>::infinity();
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
        BBox tile0{};  // the first tile; the others follow at steps of its size
        std::vector<Shape*> basis;  // the items subtracted so far, in order
        std::vector<Piece> pieces;
        bool built = false;  // pieces hold the free space left by `basis`
        FreeWindows windows;
    };
    std::map<int, Level> levels_;
    CircleIndex circles_;
};

// The smallest circle a bin was shown to have no place for once it held
// `in`: a place the bin has after more items were placed it had before, so
// it has none for a circle at least that large either.
class Refusals {
public:
    bool refuses(const std::vector<Shape*>& packed, double r) const;
    void refused(const std::vector<Shape*>& packed, double r);

private:
    double radius_ = std::numeric_limits<double>::infinity();
    std::vector<Shape*> in_;
};

// The mover's NFP against placed item j, local to that item.
using LocalNfpOf = std::function<const Contour&(std::size_t j)>;

// The best candidate over the windows. The mover's probe keeps its centre a
// probe-radius difference d inside a hole (the NFPs of the larger disc are
// those of the smaller one grown by a 64-gon of radius d, and 64-gons reach d
// along both axes), so each window is first cut to its hole's box shrunk by d.
// Every NFP whose box meets a window takes part in that window's union, so
// every candidate lies outside every NFP; a window whose places in the bin all
// lie well inside convex NFPs is not searched. Circle pairs build their 64-gon
// NFPs here; other pairs ask `local_of`, only for the items near a window.
// The windows as the search takes them: in reference-point coordinates, cut
// by the probe-radius difference, those that can hold a place in the bin,
// most promising first.
std::vector<BBox> search_boxes(const FreeWindows& windows, const Probe& probe, const Shape& mover, double bin_w,
                               double bin_h, Placement placement);

// After a circle mover found no place in the windows: the radius from which
// no circle has a place in the bin as it is, proven by NFPs covering every
// window of a circle a little smaller than the mover; the mover's own radius
// when that is not proven, and infinity for a polygon mover.
double refused_from(const std::vector<Shape*>& packed, const Shape& mover, const FreeWindows& windows,
                    const Probe& probe, const CircleIndex& circles, double bin_w, double bin_h,
                    const std::function<void()>& stop);

SearchResult windowed_search(const std::vector<Shape*>& packed, const Shape& mover, const FreeWindows& windows,
                             const Probe& probe, const LocalNfpOf& local_of, double bin_w, double bin_h,
                             Placement placement, const std::function<void()>& stop,
                             const CircleIndex* circles = nullptr);

}  // namespace quarvo
