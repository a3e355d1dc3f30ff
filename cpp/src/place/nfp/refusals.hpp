// What a bin has shown it has no place for, so that first fit need not offer
// it again (the incremental mode, circles in bins of many kinds).
#pragma once
#include <functional>
#include <vector>

#include "place/nfp/windowed_search.hpp"
#include "quarvo/constants.hpp"
#include "quarvo/shapes.hpp"

namespace quarvo {

// The smallest circle a bin was shown to have no place for once it held
// `in`: a place the bin has after more items were placed it had before, so
// it has none for a circle at least that large either.
class Refusals {
public:
    bool refuses(const std::vector<Shape*>& packed, double r) const;
    void refused(const std::vector<Shape*>& packed, double r);

private:
    double radius_ = kInf;
    std::vector<Shape*> in_;
};

// After a circle mover found no place in the windows: the radius from which
// no circle has a place in the bin as it is, proven by NFPs covering every
// window of a circle a little smaller than the mover; the mover's own radius
// when that is not proven (or the bin's circles are not indexed), and
// infinity for a polygon mover.
double refused_from(const WindowedBin& bin, const Shape& mover);

}  // namespace quarvo
