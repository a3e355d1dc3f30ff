// No-fit-polygon placement of one bin: for each allowed rotation, the union of
// the placed items' NFPs against the new item, the holes of placed containers,
// and the candidate search; the best score over the rotations wins.
#pragma once
#include <memory>
#include <vector>

#include "quarvo/placer.hpp"
#include "quarvo/shapes.hpp"

namespace quarvo {

// 0, pi/2, pi, 3*pi/2.
std::vector<double> default_rotations();

// How the holes of placed containers are searched.
enum class HoleFill {
    // A hole offers the centroid of its NFP and the points of a 4 x 4 grid on it.
    Sampled,
    // A hole is searched like a small bin: samples on the boundary of the free
    // part of the item's inner-fit region in the hole's room. Holes are filled
    // first: the best place in any hole beats every place outside the holes.
    Dense,
};

// How NFP placers search. FirstFit hands its options to every NFP placer it opens.
struct NfpOptions {
    // Angles in radians tried for polygons, in this order; on equal scores the
    // earlier angle wins. Circles are tried at 0 only. Each angle costs one
    // union and one search per item placed into a non-empty bin.
    std::vector<double> rotations = default_rotations();
    // Corner (the default) or center scoring; see Placement.
    Placement placement = Placement::Corner;
    // Keep, per moving kind (signature, rotation, inflation), the union of the
    // NFPs of the items placed so far and extend it, instead of uniting every
    // NFP afresh. Positions may differ from the exact mode by the 1e-6 grid.
    // Fast when items come in few kinds.
    bool incremental = false;
    // Rotations evaluated side by side on up to this many threads (1: in
    // turn). The result equals the sequential one exactly.
    int threads = 1;
    HoleFill hole_fill = HoleFill::Sampled;
    // Circles take part as the 64-gon circumscribed about them instead of the
    // inscribed one, so that no gap falls below the distance.
    bool exact_clearance = false;
    // Which site an item placed into a non-empty bin takes: 0, the best
    // candidate; k > 0, the k-th next of the candidates in score order (ties:
    // the earlier rotation) that lie at least half the item's smaller box side
    // from every better site taken before it (the last such site when fewer
    // exist). The improvement search varies it per item.
    int choice = 0;
    // Take simple non-convex polygons (items, containers' outlines and holes
    // of any shape): pairs with a non-convex outline get exact NFPs by
    // Minkowski sums, holes that are not convex or meet a non-convex item
    // their inner-fit regions; a non-convex outline grows by its inflation
    // with mitred corners. Pairs of convex items and circles are as without it.
    bool nonconvex = false;
};

class NfpPlacer : public Placer {
public:
    NfpPlacer(double bin_w, double bin_h, NfpOptions options = {});
    ~NfpPlacer() override;
    NfpPlacer(NfpPlacer&&) noexcept;
    NfpPlacer& operator=(NfpPlacer&&) noexcept;

    bool trypack(Shape& item) override;
    // True when the incremental mode has shown that this bin has no place for
    // the item (a circle at least as large as one it proved it had no place
    // for, while it held the items it holds or some of them): trypack would
    // refuse it. Cheap: first fit asks before offering each full bin an item.
    bool refuses(const Shape& item) const;
    // A copy, stored unions included; it refers to the same placed items.
    std::unique_ptr<NfpPlacer> copy() const;
    std::vector<double> rotations_for(const Shape& item) const;
    static void place_at_origin(Shape& item);
    void place_at_center(Shape& item) const;
    bool fits(const Shape& item, double eps = 1e-6) const;
    bool trypack_empty(Shape& item);
    bool trypack_nonempty(Shape& item);

    double bin_w, bin_h;
    NfpOptions options;

    struct StoredUnions;  // the incremental mode's unions, one per moving kind

private:
    std::unique_ptr<StoredUnions> stored_;
};

}  // namespace quarvo
