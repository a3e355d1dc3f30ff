// The placer contract shared by both strategies: one placer owns one bin.
// The driver and the search see placers through this contract only.
#pragma once
#include <functional>
#include <memory>
#include <vector>

#include "quarvo/options.hpp"
#include "quarvo/shapes.hpp"

namespace quarvo {

// Whether an item may take a place found for it at translation t: `host` is
// the placed container whose room would hold it (the innermost), null for a
// place outside every room.
using Admission = std::function<bool(const Shape* host, Pt t)>;

// What a caller wishes of one offer, beside the placer's own options.
struct PlaceRequest {
    // The angles to try instead of the placer's own rotations; null: its own.
    // (Bottom-left placers never turn an item.)
    const std::vector<double>* rotations = nullptr;
    // Which site an item placed into a non-empty bin takes: 0, the best
    // candidate; k > 0, the k-th next of the candidates in score order (ties:
    // the earlier rotation) that lie at least half the item's smaller box side
    // from every better site taken before it (the last such site when fewer
    // exist). NFP placers only; the improvement search varies it per item.
    int site = 0;
    // With the mirror option, which sides to try: -1 both (unmirrored first),
    // 0 only unmirrored, 1 only mirrored. Ignored without it.
    int mirror = -1;
    // With an admission, a place is taken only where it admits the item,
    // asked last, of places that would be taken but for it (from several
    // threads at once when rotations run side by side). NFP placers only.
    const Admission* admit = nullptr;
};

class Placer {
public:
    virtual ~Placer() = default;
    // True after moving the item into the bin and appending it to `packed`;
    // false leaves `packed` unchanged (the item may have been moved).
    bool trypack(Shape& item) { return trypack(item, PlaceRequest{}); }
    virtual bool trypack(Shape& item, const PlaceRequest& request) = 0;
    // True when the placer has shown that this bin has no place for the item,
    // so that trypack would refuse it; cheap, asked before offering an item to
    // a full bin. By default nothing is known.
    virtual bool refuses(const Shape& /*item*/) const { return false; }
    // A copy of the placer with what it keeps between calls, referring to the
    // same placed items; null when the placer cannot be copied.
    virtual std::unique_ptr<Placer> copy() const { return nullptr; }

    // Items placed in this bin, in placement order. The placer does not own them.
    std::vector<Shape*> packed;
    // The bin's edge margin: every item's outline keeps at least this much
    // from the bin's edges. An item grown by infl for the distance between
    // items already keeps infl, so its grown outline keeps inset(item).
    double margin = 0.0;
    double inset(const Shape& item) const { return margin > item.infl() ? margin - item.infl() : 0.0; }
    // The bin's outline, holes and defects where it is no plain rectangle
    // (null: the rectangle); its box is the placer's bin. Every item then
    // lies in the outline, out of its holes and clear of its defects, keeping
    // the margin from all of them.
    std::shared_ptr<const BinShape> shape;
    // Set by a driver that alone fills `packed`, with items it checked before
    // packing began: the placed items then need no check on every call.
    bool packed_checked = false;
    // After a trypack with an admission that placed the item: the index in
    // `packed` of the container whose room holds it, -1 outside every room.
    long last_host = -1;
};

}  // namespace quarvo
