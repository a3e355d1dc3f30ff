// The options of a packing run, as plain values: how the NFP placers search
// (NfpOptions), which placer the driver uses (Strategy) and the improvement
// search and compression phase after the greedy pass (SearchOptions). Each value is checked once,
// where it enters the engine (check_options), and then handed on by const
// reference: the driver and the search never change a placer's options.
//
// Every field's default is the written greedy algorithm; every other value
// is an opt-in extension.
#pragma once
#include <cstdint>
#include <vector>

namespace quarvo {

// Where a placer starts and which free position it prefers.
// Corner: the lowest position first, then the leftmost; the bin fills from
// its lower-left corner, bottom layer first.
// Center: the position whose item box centre is nearest the bin's centre; the
// layout grows outward from the middle.
enum class Placement { Corner, Center };

// How the holes of placed containers are searched.
enum class HoleFill {
    // A hole offers the centroid of its NFP and the points of a 4 x 4 grid on it.
    Sampled,
    // A hole is searched like a small bin: samples on the boundary of the free
    // part of the item's inner-fit region in the hole's room. Holes are filled
    // first: the best place in any hole beats every place outside the holes.
    Dense,
};

// The placer the first-fit driver opens its bins with.
enum class Strategy {
    Nfp,         // no-fit polygons (NfpPlacer): compact, rotations, container holes
    BottomLeft,  // bottom-left sliding (BottomLeftPlacer): fast, no rotation
};

// 0, pi/2, pi, 3*pi/2.
std::vector<double> default_rotations();

// How NFP placers search. The first-fit driver hands its options to every NFP
// placer it opens (exact_clearance to bottom-left placers too).
struct NfpOptions {
    // Default 0, 90, 180 and 270 degrees. Angles in radians tried for
    // polygons, in this order; on equal scores the earlier angle wins. Circles
    // are tried at 0 only. Each angle costs one union and one search per item
    // placed into a non-empty bin. Finite, at most MAX_COORDINATE in magnitude.
    std::vector<double> rotations = default_rotations();
    // Default Corner. Center scoring has no meaning on a strip (refused there).
    Placement placement = Placement::Corner;
    // Default false. Keep, per moving kind (signature, rotation, inflation),
    // the union of the NFPs of the items placed so far and extend it, instead
    // of uniting every NFP afresh. Positions may differ from the exact mode by
    // the 1e-6 grid. Fast when items come in few kinds; once a bin has seen
    // many kinds, circles and new kinds search the free space of probe discs
    // window by window instead.
    bool incremental = false;
    // Default 1. Rotations evaluated side by side on up to this many threads
    // (1: in turn), never more than the machine's cores or the rotations. The
    // result equals the sequential one exactly. At least 1.
    int threads = 1;
    // Default Sampled (17 points per hole).
    HoleFill hole_fill = HoleFill::Sampled;
    // Default false. Circles take part as the 64-gon circumscribed about them
    // instead of the inscribed one, so that no gap falls below the distance
    // around the true circles.
    bool exact_clearance = false;
    // Default false. Take simple non-convex polygons (items, containers'
    // outlines and holes of any shape): pairs with a non-convex outline get
    // exact NFPs by Minkowski sums, holes that are not convex or meet a
    // non-convex item their inner-fit regions; a non-convex outline grows by
    // its inflation with mitred corners (mitre limit 2). Pairs of convex items
    // and circles are as without it. A Minkowski sum of more than 2,000,000
    // pairs of edges is refused.
    bool nonconvex = false;
    // Default false. Place an item only where it rests on the floor, the walls
    // and the items placed before it (check.hpp, CheckOptions::gravity): a
    // candidate that would become the best is passed over unless it rests.
    // The candidates then also include the places where the forbidden
    // region's boundary meets the floor and the walls, and every vertex of a
    // hole's NFP (its lowest point among them). The first-fit driver refuses
    // it with bottom-left placement.
    bool stable = false;
    // Default false. Try every polygon mirrored as well (about its local y
    // axis, before the rotation), after all its unmirrored rotations; on
    // equal scores the unmirrored place wins. A polygon whose mirror image is
    // itself moved sideways is not tried mirrored.
    bool mirror = false;
};

// The improvement search after the greedy pass. When either limit is set, the
// driver improves the greedy layout until the first limit is reached (or
// Ctrl-C) and returns the best layout found.
struct SearchOptions {
    // Default none (< 0). Seconds from the start of the search; at most
    // MAX_COORDINATE. A wall-clock limit: the result then depends on the
    // machine's speed.
    double time_limit = -1.0;
    // Default none (< 0). Neighbour layouts to evaluate. With this limit alone
    // the result depends on the seed only, not on the thread count.
    long long iterations = -1;
    // Default 0. Seeds the search's random choices.
    std::uint64_t seed = 0;
    // Default false. Spend the limits on the compression phase after a share
    // of the search (compress.hpp): items overlap on a smaller sheet and move
    // apart. Items then move regardless of their weights.
    bool compress = false;
    bool active() const { return time_limit >= 0.0 || iterations >= 0; }
};

// Rows along the bin's length (first_fit.hpp, rows.hpp beside the driver):
// one place of the cross-section holds a row of pieces end to end, so that a
// bin is full when its rows are, not when its section is. Off by default.
struct RowOptions {
    // Default false. Needs a bin with a height and a length, the NFP
    // strategy and no phase after the greedy pass.
    bool on = false;
    // Default 0.05. Metres between two pieces of a row; at least 0.
    double end_gap = 0.05;
    // Default 0. Metres a piece in a bore may stand out of its host at
    // either end; at least 0.
    double overhang = 0.0;
};

// ValueError naming the option at fault.
void check_options(const NfpOptions& options);
void check_options(const SearchOptions& options);
void check_options(const RowOptions& options);

}  // namespace quarvo
