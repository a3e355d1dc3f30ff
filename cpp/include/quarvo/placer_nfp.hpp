// No-fit-polygon placement of one bin: for each allowed rotation, the union of
// the placed items' NFPs against the new item, the holes of placed containers,
// and the candidate search; the best score over the rotations wins.
#pragma once
#include <memory>
#include <vector>

#include "quarvo/options.hpp"
#include "quarvo/placer.hpp"
#include "quarvo/shapes.hpp"

namespace quarvo {

class DiscBin;

class NfpPlacer : public Placer {
public:
    NfpPlacer(double bin_w, double bin_h, NfpOptions options = {});
    ~NfpPlacer() override;
    NfpPlacer(NfpPlacer&&) noexcept;
    NfpPlacer& operator=(NfpPlacer&&) noexcept;

    using Placer::trypack;
    bool trypack(Shape& item, const PlaceRequest& request) override;
    // True when the incremental mode has shown that this bin has no place for
    // the item (a circle at least as large as one it proved it had no place
    // for, while it held the items it holds or some of them).
    bool refuses(const Shape& item) const override;
    // A copy, stored unions included; it refers to the same placed items.
    std::unique_ptr<Placer> copy() const override;

    const NfpOptions& options() const { return options_; }
    // For a host whose caller changes options between calls; checked on the
    // next trypack. The stored unions stay.
    void set_options(NfpOptions options);

    std::vector<double> rotations_for(const Shape& item, const PlaceRequest& request = {}) const;
    // An angle to try and the side: -1 leaves the item's mirroring as it is,
    // 0 / 1 sets it unmirrored / mirrored.
    struct Orientation {
        double rotation;
        int side;
        void apply(Shape& item) const;
    };
    // The rotations, and with the mirror option each of them mirrored as well
    // (after every unmirrored one).
    std::vector<Orientation> orientations_for(const Shape& item, const PlaceRequest& request = {}) const;
    // The item's grown bounding box's lower-left corner at (inset, inset).
    static void place_at_origin(Shape& item, double inset = 0.0);
    void place_at_center(Shape& item) const;
    // Whether the item's grown bounding box keeps inset(item) from the bin's edges, within eps.
    bool fits(const Shape& item, double eps = 1e-6) const;
    bool trypack_empty(Shape& item, const PlaceRequest& request = {});
    bool trypack_nonempty(Shape& item, const PlaceRequest& request = {});

    double bin_w, bin_h;

    struct StoredUnions;  // the incremental mode's unions, one per moving kind
    struct ShapedRooms;   // a shaped bin's outline, holes and defects, per inset

private:
    // Places a circle exactly among the circles of a bin that holds pipes (or
    // when the circle is a pipe): true when that search served the item, with
    // `placed` its answer.
    bool trypack_disc(Shape& item, const PlaceRequest& request, bool& placed);

    NfpOptions options_;
    std::unique_ptr<StoredUnions> stored_;
    std::unique_ptr<DiscBin> discs_;
    std::shared_ptr<ShapedRooms> shaped_;  // shared by copies: the shape does not change
};

// Whether `item`, where it stands (rotation, inflation, translation), lies
// deeper than the engine's tolerance in the NFP of one of `placed` (outside
// its cavities and rooms): the incremental mode's guard on a place.
bool beyond_tolerance(const std::vector<Shape*>& placed, Shape& item, bool exact);

}  // namespace quarvo
