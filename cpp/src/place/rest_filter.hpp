// Places at rest for the placers: a candidate place is taken only where the
// item would rest on the floor, the walls and the items placed before it (the
// rule of geometry/rest.hpp, on true outlines, as the layout checker judges).
#pragma once
#include <vector>

#include "geometry/rest.hpp"
#include "quarvo/shapes.hpp"

namespace quarvo {

// The true outline of an item at its rotation with translation t; its
// spacing is its present inflation, the spacers it keeps from its neighbours.
RestBody rest_body(const Shape& item, Pt t);

class RestFilter {
public:
    // The items placed in a bin bin_w wide, as they stand now; items keep
    // `margin` from the floor and the walls (the bin's edge margin).
    RestFilter(const std::vector<Shape*>& packed, double bin_w, double margin = 0.0);
    // Whether `item`, at its rotation and inflation, rests at translation t.
    // Reads nothing but the item's stored geometry, so rotations evaluated
    // side by side may ask at once.
    bool rests(const Shape& item, Pt t) const;

private:
    std::vector<RestBody> placed_;
    double bin_w_;
    double margin_;
};

}  // namespace quarvo
