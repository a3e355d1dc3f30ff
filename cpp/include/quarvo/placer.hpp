// The placer contract shared by both strategies: one placer owns one bin.
#pragma once
#include <vector>

#include "quarvo/shapes.hpp"

namespace quarvo {

class Placer {
public:
    virtual ~Placer() = default;
    // True after moving the item into the bin and appending it to `packed`;
    // false leaves `packed` unchanged (the item may have been moved).
    virtual bool trypack(Shape& item) = 0;
    // Items placed in this bin, in placement order. The placer does not own them.
    std::vector<Shape*> packed;
};

}  // namespace quarvo
