// The placer contract shared by both strategies: one placer owns one bin.
#pragma once
#include <vector>

#include "quarvo/shapes.hpp"

namespace quarvo {

// Where a placer starts and which free position it prefers.
// Corner: the lowest position first, then the leftmost; the bin fills from
// its lower-left corner, bottom layer first.
// Center: the position whose item box centre is nearest the bin's centre; the
// layout grows outward from the middle.
enum class Placement { Corner, Center };

class Placer {
public:
    virtual ~Placer() = default;
    // True after moving the item into the bin and appending it to `packed`;
    // false leaves `packed` unchanged (the item may have been moved).
    virtual bool trypack(Shape& item) = 0;
    // Items placed in this bin, in placement order. The placer does not own them.
    std::vector<Shape*> packed;
    // Set by a driver that alone fills `packed`, with items it checked before
    // packing began: the placed items then need no check on every call.
    bool packed_checked = false;
};

}  // namespace quarvo
