// The layouts the improvement search walks through: what it varies (order,
// angles, sites) and what packing gave (bins, poses, cost).
#pragma once
#include <cstddef>
#include <tuple>
#include <vector>

namespace quarvo {
namespace search_detail {

struct Pose {
    double tx = 0.0, ty = 0.0, rot = 0.0;
    bool mirrored = false;
};

struct Cost {
    std::size_t unplaced = 0;
    // In a layout held to fewer bins: the area of the items it leaves out (else 0).
    double overflow = 0.0;
    double price = 0.0;  // with several kinds of bin: what the bins cost (else 0)
    std::size_t bins = 0;
    double length = 0.0;  // used length of the last bin
    bool operator<(const Cost& o) const {
        return std::tie(unplaced, overflow, price, bins, length) <
               std::tie(o.unplaced, o.overflow, o.price, o.bins, o.length);
    }
};

struct Layout {
    std::vector<std::size_t> order;  // item indices in offering order
    // per item: -1 every angle, else the index of its only angle (with the
    // mirror option, indices from the number of angles on are the angles mirrored)
    std::vector<int> angle;
    std::vector<int> site;           // per item: PlaceRequest::site
    std::vector<long> bin;           // per item: its bin, -1 unplaced
    std::vector<Pose> pose;          // per item
    // With several kinds of bin: the kind of each bin (FirstFit::offer's
    // plan, as the layout used it); empty otherwise.
    std::vector<int> kinds;
    // Held to this many bins (0: any number), while the search tries to do
    // without one of the best layout's bins: what the bins cannot take is unplaced.
    std::size_t cap = 0;
    Cost cost;
};

}  // namespace search_detail
}  // namespace quarvo
