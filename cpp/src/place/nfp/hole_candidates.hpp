// The candidates that the holes of placed containers offer a moving item.
#pragma once
#include <cstddef>
#include <functional>
#include <utility>
#include <vector>

#include "place/nfp/candidate_search.hpp"
#include "place/nfp/hole_rooms.hpp"
#include "quarvo/shapes.hpp"

namespace quarvo {

// The candidates that holes offer, in this order: the NFPs of holes searched
// by the written 17 samples, the free parts of rooms searched like small bins
// (dense), then the inner-fit contours of holes that are not convex or meet a
// non-convex mover. Each has its room; the inner-fit contours lie in their
// rooms by construction.
struct HoleCandidates {
    std::vector<Contour> nfps;
    std::vector<std::size_t> nfp_rooms;
    std::vector<Contour> dense, fitted;
    std::vector<std::size_t> dense_rooms, fitted_rooms;

    // Hole indices as the filter sees them: the NFPs first, then the contours.
    std::vector<std::size_t> room_of_hole() const {
        std::vector<std::size_t> out = nfp_rooms;
        out.insert(out.end(), dense_rooms.begin(), dense_rooms.end());
        out.insert(out.end(), fitted_rooms.begin(), fitted_rooms.end());
        return out;
    }
    std::size_t fitted_from() const { return nfps.size() + dense.size(); }
    std::vector<HoleRegion> regions() {
        std::vector<HoleRegion> out;
        std::size_t h = nfps.size();
        for (Contour& c : dense) out.push_back({h++, std::move(c)});
        for (Contour& c : fitted) out.push_back({h++, std::move(c)});
        return out;
    }
    bool empty() const { return nfps.empty() && dense.empty() && fitted.empty(); }
};

struct HoleSearch {
    bool dense;      // rooms searched like small bins
    bool nonconvex;  // inner-fit contours for holes that are not convex or meet a non-convex item
    bool exact;      // circles as circumscribed 64-gons
};

// The local NFP (outer contour, then holes) of placed item j against the mover.
using LocalRegionOf = std::function<const Region&(std::size_t j)>;

HoleCandidates hole_candidates(const std::vector<Shape*>& packed, const Shape& mover,
                               const std::vector<HoleRoom>& rooms, HoleSearch how, const LocalRegionOf& local_of,
                               const std::function<void()>& stop);

}  // namespace quarvo
