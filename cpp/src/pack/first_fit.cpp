#include "quarvo/first_fit.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>

#include "core/validate.hpp"
#include "quarvo/cancel.hpp"
#include "quarvo/constants.hpp"
#include "quarvo/errors.hpp"
#include "quarvo/placer_bl.hpp"
#include "quarvo/placer_nfp.hpp"
#include "shapes/item_checks.hpp"

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

bool FirstFit::strip() const { return bin.height == kInf; }

std::unique_ptr<Placer> FirstFit::make_placer() const {
    const double h = strip() ? working_height : bin.height;
    std::unique_ptr<Placer> p;
    if (strategy == Strategy::BottomLeft) {
        auto bl = std::make_unique<BottomLeftPlacer>(bin.width, h);
        bl->exact_clearance = nfp.exact_clearance;
        p = std::move(bl);
    } else {
        p = std::make_unique<NfpPlacer>(bin.width, h, nfp);
    }
    p->margin = bin.margin;
    return p;
}

std::unique_ptr<Placer> FirstFit::make_bin() const {
    std::unique_ptr<Placer> p = make_placer();
    p->packed_checked = true;
    return p;
}

namespace {

// Puts the item, at its present angle, on top of everything in the placer
// (against the wall, the edge margin kept).
void stack_on_top(Placer& p, Shape& item) {
    double top = 0.0;
    for (const Shape* s : p.packed) top = std::max(top, s->bounding_box().maxy);
    const BBox b = item.bounding_box();
    const double in = p.inset(item);
    if (in > 0.0) item.translate(in - b.minx, top - b.miny);
    else item.translate(-b.minx, top - b.miny);
    p.packed.push_back(&item);
}

}  // namespace

namespace {

// A number as a reason shows it: ten significant digits.
std::string show(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.10g", v);
    return buf;
}

// Longer than any bin: a pipe's length is in m, the bin's in mm.
bool too_long(const Shape& item, const Bin& bin) {
    if (!item.is_pipe() || !(bin.length < kInf)) return false;
    const std::optional<double> length = pipe_cast(item).length();
    return length && *length * 1000.0 > bin.length;
}

}  // namespace

double load_of(const std::vector<Shape*>& items) {
    double load = 0.0;
    for (const Shape* s : items) load += s->mass;
    return load;
}

long FirstFit::offer(std::vector<std::unique_ptr<Placer>>& open, Shape& item, const PlaceRequest& request) const {
    if (too_long(item, bin) || item.mass > bin.max_load) return -1;
    const bool limited = bin.max_load < kInf && item.mass > 0.0;
    auto attempt = [&](Placer& p) {
        // a bin that has shown it has no place for the item is not asked again
        if (p.refuses(item)) return false;
        if (limited && load_of(p.packed) + item.mass > bin.max_load) return false;
        return p.trypack(item, request);
    };
    for (std::size_t b = 0; b < open.size(); ++b) {
        check_cancel();
        if (attempt(*open[b])) return static_cast<long>(b);
    }
    check_cancel();
    // the strip's one bin has no payload left for the item
    if (strip() && !open.empty() && limited && load_of(open[0]->packed) + item.mass > bin.max_load) return -1;
    std::unique_ptr<Placer> fresh = make_bin();
    if (attempt(*fresh)) {
        if (strip() && !open.empty()) {
            // The strip has room for the item, but its candidates missed it
            // (a gap narrower than their spacing): the item goes on top of
            // everything, at the angle an empty strip gives it. On top of
            // everything it would rest on nothing: at rest it is left out.
            if (nfp.stable) return -1;
            stack_on_top(*open[0], item);
            return 0;
        }
        open.push_back(std::move(fresh));
        return static_cast<long>(open.size() - 1);
    }
    return -1;
}

std::string FirstFit::unplaced_reason(const Shape& item, const std::vector<std::vector<Shape*>>& bins) const {
    if (too_long(item, bin))
        return "length " + show(*pipe_cast(item).length()) + " m is longer than the bin's length of " +
               show(bin.length) + " mm";
    if (item.mass > bin.max_load)
        return "mass " + show(item.mass) + " kg is more than the bin's max_load of " + show(bin.max_load) + " kg";
    const BBox b = item.bounding_box();
    const bool wide = b.maxx - b.minx > bin.width;
    if (strip() && !wide && bin.max_load < kInf && !bins.empty()) {
        const double load = load_of(bins[0]);
        if (load + item.mass > bin.max_load)
            return "mass " + show(item.mass) + " kg is more than the strip's max_load has left (" +
                   show(bin.max_load - load) + " of " + show(bin.max_load) + " kg)";
    }
    return strip() ? "does not fit in the strip's width" : "does not fit in an empty bin";
}

double used_length(const std::vector<Shape*>& items) {
    double top = 0.0;
    for (const Shape* s : items) {
        if (s->is_circle()) {
            // the top vertex of a circle's contour: its centre plus its radius, exactly
            const CircleGeom g = circle_cast(*s).transformed();
            top = std::max(top, g.center.y + g.radius);
            continue;
        }
        for (const Pt& p : s->world_contour()) top = std::max(top, p.y);
    }
    return top;
}

PackResult FirstFit::do_pack(const Improver* improver) {
    struct Keyed {
        Shape* item;
        double weight, area;
    };
    std::vector<Keyed> order;
    order.reserve(items.size());
    // Everything is checked before anything is changed, so bad input leaves the items untouched.
    // a strip's height is open: only its width is checked
    require_usable_bin(bin.width, strip() ? bin.width : bin.height);
    require_margin(bin.margin);
    if (strip() && strategy == Strategy::Nfp && nfp.placement == Placement::Center)
        throw ValueError("placement='center' has no meaning on a strip (a bin without a height): use placement='corner'");
    if (nfp.stable && strategy == Strategy::BottomLeft)
        throw ValueError("stable=True needs strategy='nfp': a bottom-left slide stops wherever it is blocked, "
                         "often on a slope or an overhang, where nothing holds the item");
    if (improver) improver->check();
    if (improver && nfp.stable && improver->moves_freely())
        throw ValueError("stable=True cannot go with compress=True: the compression phase moves items freely, "
                         "off what holds them up");
    require_distance(global_distance, "global_distance");
    check_options(nfp);
    require_distinct(items);
    require_limits(bin.max_load, bin.length);
    for (std::size_t i = 0; i < items.size(); ++i) {
        Shape& s = *items[i];
        require_sound_item(s, "item " + std::to_string(i));
        require_above_grid(s, "item " + std::to_string(i), strip() ? bin.width : std::max(bin.width, bin.height));
        if (std::isnan(s.weight)) throw ValueError(item_label(s, "item " + std::to_string(i)) + ": weight is nan, not a number");
        if (!(s.mass >= 0.0 && s.mass < kInf))
            throw ValueError(item_label(s, "item " + std::to_string(i)) + ": mass is " + format_number(s.mass) +
                             ", not a finite number of kg at least 0");
        order.push_back({&s, s.weight, s.area()});
    }
    Deflate deflate{items};
    for (Shape* s : items) s->set_infl(s->total_inflation(global_distance / 2.0));
    std::stable_sort(order.begin(), order.end(), [](const Keyed& x, const Keyed& y) {
        return x.weight > y.weight || (x.weight == y.weight && x.area > y.area);
    });

    if (strip()) {
        // Room for every item stacked on top of each other, whatever its angle.
        double h = 1.0;
        if (bin.margin > 0.0) h += 2 * bin.margin;  // the edge margin holds at the working top as well
        for (Shape* s : items) {
            const BBox b = s->bounding_box();
            h += std::hypot(b.maxx - b.minx, b.maxy - b.miny);
        }
        working_height = std::min(h, MAX_COORDINATE);
    }

    std::vector<std::unique_ptr<Placer>> open;
    PackResult result;
    if (progress) {
        progress->processed = 0;
        progress->placed = 0;
        progress->bins = 0;
        progress->total = order.size();
    }
    if (strip()) open.push_back(make_bin());
    // A strip takes every item that fits its width, but at rest an item may
    // find nothing to lie on in the pile as it stands: it is offered again
    // once the others are in.
    std::vector<Shape*> later;
    for (const Keyed& k : order) {
        Shape& item = *k.item;
        const bool placed = offer(open, item) >= 0;
        if (!placed && strip() && nfp.stable) {
            later.push_back(&item);
            continue;
        }
        if (!placed) result.unplaced.push_back(&item);
        if (progress) {
            if (placed) ++progress->placed;
            progress->bins = open.size();
            ++progress->processed;
        }
    }
    for (Shape* item : later) {
        const bool placed = offer(open, *item) >= 0;
        if (!placed) result.unplaced.push_back(item);
        if (progress) {
            if (placed) ++progress->placed;
            ++progress->processed;
        }
    }
    for (auto& p : open)
        if (!p->packed.empty()) result.bins.push_back(p->packed);
    if (improver) {
        std::vector<Shape*> sequence;
        sequence.reserve(order.size());
        for (const Keyed& k : order) sequence.push_back(k.item);
        result = improver->improve(*this, sequence, std::move(result));
    }
    result.reasons.clear();
    for (const Shape* s : result.unplaced) result.reasons.push_back(unplaced_reason(*s, result.bins));
    return result;
}

}  // namespace quarvo
