#include "quarvo/first_fit.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <string>

#include "quarvo/cancel.hpp"
#include "quarvo/errors.hpp"
#include "quarvo/placer_bl.hpp"
#include "quarvo/validate.hpp"

namespace quarvo {

namespace {
// Resets every item's inflation on the way out, whatever the way.
struct Deflate {
    const std::vector<Shape*>& items;
    ~Deflate() {
        for (Shape* s : items) s->set_infl(0.0);
    }
};
}  // namespace

FirstFit::FirstFit(std::vector<Shape*> items, Bin bin, double global_distance, Strategy strategy, NfpOptions nfp)
    : items(std::move(items)), bin(bin), global_distance(global_distance), strategy(strategy), nfp(std::move(nfp)) {}

std::unique_ptr<Placer> FirstFit::make_placer() const {
    if (strategy == Strategy::BottomLeft) return std::make_unique<BottomLeftPlacer>(bin.width, bin.height);
    return std::make_unique<NfpPlacer>(bin.width, bin.height, nfp);
}

PackResult FirstFit::do_pack() {
    struct Keyed {
        Shape* item;
        double weight, area;
    };
    std::vector<Keyed> order;
    order.reserve(items.size());
    // Everything is checked before anything is changed, so bad input leaves the items untouched.
    require_usable_bin(bin.width, bin.height);
    require_distance(global_distance, "global_distance");
    require_nfp_options(nfp);
    require_distinct(items);
    for (std::size_t i = 0; i < items.size(); ++i) {
        Shape& s = *items[i];
        require_sound_item(s, "item " + std::to_string(i));
        if (std::isnan(s.weight)) throw ValueError(item_label(s, "item " + std::to_string(i)) + ": weight is nan, not a number");
        order.push_back({&s, s.weight, s.area()});
    }
    Deflate deflate{items};
    for (Shape* s : items) s->set_infl(s->total_inflation(global_distance / 2.0));
    std::stable_sort(order.begin(), order.end(), [](const Keyed& x, const Keyed& y) {
        return x.weight > y.weight || (x.weight == y.weight && x.area > y.area);
    });

    std::vector<std::unique_ptr<Placer>> open;
    PackResult result;
    if (progress) {
        progress->processed = 0;
        progress->placed = 0;
        progress->bins = 0;
        progress->total = order.size();
    }
    for (const Keyed& k : order) {
        Shape& item = *k.item;
        bool placed = false;
        for (auto& p : open) {
            check_cancel();
            if (p->trypack(item)) { placed = true; break; }
        }
        if (!placed) {
            check_cancel();
            std::unique_ptr<Placer> fresh = make_placer();
            if (fresh->trypack(item)) {
                open.push_back(std::move(fresh));
                placed = true;
            } else {
                result.unplaced.push_back(&item);
            }
        }
        if (progress) {
            if (placed) ++progress->placed;
            progress->bins = open.size();
            ++progress->processed;
        }
    }
    for (auto& p : open) result.bins.push_back(p->packed);
    return result;
}

}  // namespace quarvo
