#include "quarvo/first_fit.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <tuple>
#include <unordered_set>

#include "core/validate.hpp"
#include "pack/rows.hpp"
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

FirstFit::FirstFit(std::vector<Shape*> items, std::vector<Bin> kinds, double global_distance, Strategy strategy,
                   NfpOptions nfp)
    : items(std::move(items)), bin(kinds.empty() ? Bin{0.0, 0.0} : kinds.front()), kinds(std::move(kinds)),
      global_distance(global_distance), strategy(strategy), nfp(std::move(nfp)) {}

bool FirstFit::strip() const { return bin.height == kInf; }

bool FirstFit::shaped() const {
    for (std::size_t k = 0; k < kind_count(); ++k)
        if (kind(static_cast<int>(k)).shape) return true;
    return false;
}

std::unique_ptr<Placer> FirstFit::make_placer(int k) const {
    const Bin& b = kind(k);
    const double h = strip() ? working_height : b.height;
    std::unique_ptr<Placer> p;
    if (strategy == Strategy::BottomLeft) {
        auto bl = std::make_unique<BottomLeftPlacer>(b.width, h);
        bl->exact_clearance = nfp.exact_clearance;
        p = std::move(bl);
    } else {
        p = std::make_unique<NfpPlacer>(b.width, h, nfp);
    }
    p->margin = b.margin;
    p->shape = b.shape;
    return p;
}

std::unique_ptr<Placer> FirstFit::make_bin(int k) const {
    std::unique_ptr<Placer> p = make_placer(k);
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

namespace {

// Whether the bin's kind keeps the item out whatever its room: too long or too heavy.
bool kept_out(const Shape& item, const Bin& bin) { return too_long(item, bin) || item.mass > bin.max_load; }

// The item into the placer of a bin of kind `bin`, the bin's payload kept.
bool attempt_in(Placer& p, const Bin& bin, Shape& item, const PlaceRequest& request) {
    if (p.refuses(item)) return false;
    if (bin.max_load < kInf && item.mass > 0.0 && load_of(p.packed) + item.mass > bin.max_load) return false;
    return p.trypack(item, request);
}

// Bins of kind k among the first `open` of `bin_kinds`.
long long opened_of(const std::vector<int>& bin_kinds, std::size_t open, int k) {
    long long n = 0;
    for (std::size_t b = 0; b < open && b < bin_kinds.size(); ++b) n += bin_kinds[b] == k;
    return n;
}

}  // namespace

long FirstFit::offer(std::vector<std::unique_ptr<Placer>>& open, Shape& item, const PlaceRequest& request,
                     std::vector<int>* bin_kinds, std::size_t max_bins) const {
    if (several_kinds()) {
        std::vector<int>& of = *bin_kinds;
        for (std::size_t b = 0; b < open.size(); ++b) {
            const Bin& k = kind(of[b]);
            if (kept_out(item, k)) continue;
            check_cancel();
            if (attempt_in(*open[b], k, item, request)) return static_cast<long>(b);
        }
        const std::size_t b = open.size();
        if (b >= max_bins) return -1;
        std::vector<int> tries;
        if (b < of.size()) tries.push_back(of[b]);
        for (int k : kinds_by_cost)
            if (tries.empty() || k != tries.front()) tries.push_back(k);
        for (int k : tries) {
            const Bin& kb = kind(k);
            if (kept_out(item, kb) || (kb.count && opened_of(of, b, k) >= *kb.count)) continue;
            check_cancel();
            std::unique_ptr<Placer> fresh = make_bin(k);
            if (!attempt_in(*fresh, kb, item, request)) continue;
            open.push_back(std::move(fresh));
            if (b < of.size()) of[b] = k;
            else of.push_back(k);
            return static_cast<long>(b);
        }
        return -1;
    }
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
    if (!strip() && bin.count && static_cast<long long>(open.size()) >= *bin.count) return -1;
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

namespace {

// Why a bin of this kind keeps the item out whatever its room; empty when it does not.
std::string kept_out_reason(const Shape& item, const Bin& bin) {
    if (too_long(item, bin))
        return "length " + show(*pipe_cast(item).length()) + " m is longer than the bin's length of " +
               show(bin.length) + " mm";
    if (item.mass > bin.max_load)
        return "mass " + show(item.mass) + " kg is more than the bin's max_load of " + show(bin.max_load) + " kg";
    return {};
}

}  // namespace

std::string FirstFit::unplaced_reason(Shape& item, const PackResult& result) const {
    // An empty bin of kind k would take the item: the stock of k ran out.
    auto exhausted_but_fits = [&](int k) {
        const Bin& kb = kind(k);
        if (!kb.count || opened_of(result.bin_kinds, result.bins.size(), k) < *kb.count) return false;
        std::unique_ptr<Placer> fresh = make_bin(k);
        return attempt_in(*fresh, kb, item, PlaceRequest{});
    };
    if (several_kinds()) {
        std::vector<std::string> why(kind_count());
        for (std::size_t k = 0; k < why.size(); ++k) {
            why[k] = kept_out_reason(item, kind(static_cast<int>(k)));
            if (!why[k].empty()) continue;
            if (exhausted_but_fits(static_cast<int>(k))) return "no bin left";
            why[k] = "does not fit in an empty bin";
        }
        if (std::all_of(why.begin(), why.end(), [&](const std::string& w) { return w == why[0]; })) return why[0];
        std::string all;
        for (std::size_t k = 0; k < why.size(); ++k)
            all += (k ? "; bins[" : "bins[") + std::to_string(k) + "]: " + why[k];
        return all;
    }
    const std::string out = kept_out_reason(item, bin);
    if (!out.empty()) return out;
    const std::vector<std::vector<Shape*>>& bins = result.bins;
    const BBox b = item.bounding_box();
    const bool wide = b.maxx - b.minx > bin.width;
    if (strip() && !wide && bin.max_load < kInf && !bins.empty()) {
        const double load = load_of(bins[0]);
        if (load + item.mass > bin.max_load)
            return "mass " + show(item.mass) + " kg is more than the strip's max_load has left (" +
                   show(bin.max_load - load) + " of " + show(bin.max_load) + " kg)";
    }
    if (!strip() && exhausted_but_fits(0)) return "no bin left";
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

namespace {

// One bin of one kind filled with the items left, in order, as the greedy
// pass with several kinds tries it.
struct Trial {
    int kind;
    std::unique_ptr<Placer> placer;
    double area = 0.0;  // the material area it took
    struct Pose {
        double tx, ty, rotation;
        bool mirrored;
    };
    std::vector<Pose> poses = {};  // of the placer's items, in its order
};

// Area that the stock left cannot take costs this much per unit of the
// dearest usable area: no saving elsewhere pays for an item left out.
constexpr double kUncovered = 1e3;

// What bins of the kinds in `stock` (per kind: bins left, < 0 any number)
// would cost to take `area` at a fill of `fill`: as many bins of the one kind
// that takes it all cheapest, or when no one kind has enough bins, the
// kinds' usable area bought cheapest first.
double rest_cost(double area, double fill, const std::vector<long long>& stock, const std::vector<double>& cost,
                 const std::vector<double>& usable, const std::vector<int>& by_price) {
    if (!(area > 0.0)) return 0.0;
    double best = kInf, dearest = 0.0;
    for (std::size_t u = 0; u < stock.size(); ++u) {
        if (usable[u] > 0.0) dearest = std::max(dearest, cost[u] / usable[u]);
        if (stock[u] == 0 || !(usable[u] > 0.0)) continue;
        const double n = std::ceil(area / (usable[u] * fill));
        if (stock[u] > 0 && n > static_cast<double>(stock[u])) continue;
        best = std::min(best, n * cost[u]);
    }
    if (best < kInf) return best;
    double left = area, total = 0.0;
    for (int u : by_price) {
        if (stock[u] == 0 || !(usable[u] > 0.0) || !(left > 0.0)) continue;
        const double room = stock[u] < 0 ? kInf : static_cast<double>(stock[u]) * usable[u] * fill;
        const double take = std::min(left, room);
        total += take / (usable[u] * fill) * cost[u];
        left -= take;
    }
    return total + std::max(left, 0.0) * kUncovered * std::max(dearest, 1.0);
}

// The trial to keep: the least cost of its bin and of the rest (rest_cost at
// the best fill any trial reached), on equal costs the most area per cost;
// or `by_yield`, the most area per cost alone. Then the first.
std::size_t choose_kind(const std::vector<Trial>& trials, const std::vector<double>& rest_area,
                        std::vector<long long>& stock, const std::vector<double>& cost,
                        const std::vector<double>& usable, const std::vector<int>& by_price, bool by_yield) {
    double fill = 0.05;
    for (const Trial& t : trials)
        if (usable[t.kind] > 0.0) fill = std::max(fill, std::min(1.0, t.area / usable[t.kind]));
    std::size_t best = 0;
    double best_total = kInf, best_yield = -kInf;
    for (std::size_t i = 0; i < trials.size(); ++i) {
        const int k = trials[i].kind;
        const long long had = stock[k];
        if (had > 0) --stock[k];
        const double total = by_yield ? 0.0 : cost[k] + rest_cost(rest_area[i], fill, stock, cost, usable, by_price);
        stock[k] = had;
        const double yield = cost[k] > 0.0 ? trials[i].area / cost[k] : kInf;
        if (total < best_total || (total == best_total && yield > best_yield)) {
            best = i;
            best_total = total;
            best_yield = yield;
        }
    }
    return best;
}

}  // namespace

namespace {

// What a plan comes to: unplaced items, then its cost, its bins and its last
// bin's used length, the least first.
struct PlanCost {
    std::size_t unplaced;
    double cost;
    std::size_t bins;
    double length;
    bool operator<(const PlanCost& o) const {
        return std::tie(unplaced, cost, bins, length) < std::tie(o.unplaced, o.cost, o.bins, o.length);
    }
};

}  // namespace

void FirstFit::fill_bin_by_bin(const std::vector<Shape*>& order, PackResult& result) {
    // Two rules choose the kinds: each wins where the other errs, so both
    // plans are made and the cheaper kept.
    struct Pose {
        double tx, ty, rotation;
        bool mirrored;
    };
    auto plan_cost = [&](const PackResult& r) {
        double cost = 0.0;
        for (int k : r.bin_kinds) cost += bin_cost(kind(k));
        return PlanCost{r.unplaced.size(), cost, r.bins.size(), r.bins.empty() ? 0.0 : used_length(r.bins.back())};
    };
    PackResult first;
    fill_bins_by_rule(order, first, false);
    std::vector<Pose> poses;
    for (const Shape* s : order) poses.push_back({s->tx(), s->ty(), s->rotation(), s->mirrored()});
    PackResult second;
    fill_bins_by_rule(order, second, true);
    if (plan_cost(second) < plan_cost(first)) {
        result.bins = std::move(second.bins);
        result.bin_kinds = std::move(second.bin_kinds);
        result.unplaced = std::move(second.unplaced);
        return;
    }
    for (std::size_t i = 0; i < order.size(); ++i) {
        Shape& s = *order[i];
        s.set_rotation(poses[i].rotation);
        s.set_mirrored(poses[i].mirrored);
        s.set_position(poses[i].tx, poses[i].ty);
    }
    result.bins = std::move(first.bins);
    result.bin_kinds = std::move(first.bin_kinds);
    result.unplaced = std::move(first.unplaced);
}

void FirstFit::fill_bins_by_rule(const std::vector<Shape*>& order, PackResult& result, bool by_yield) {
    const std::size_t nk = kind_count();
    std::vector<long long> stock(nk);
    std::vector<double> cost(nk), usable(nk);
    for (std::size_t k = 0; k < nk; ++k) {
        const Bin& kb = kind(static_cast<int>(k));
        stock[k] = kb.count ? *kb.count : -1;
        cost[k] = bin_cost(kb);
        usable[k] = usable_area(kb);
    }
    // Items no empty bin of any kind takes count for no kind's fill.
    std::vector<Shape*> left;
    std::vector<char> placeable;
    for (Shape* s : order) {
        bool fits = false;
        for (std::size_t k = 0; k < nk && !fits; ++k) {
            const Bin& kb = kind(static_cast<int>(k));
            if (stock[k] == 0 || kept_out(*s, kb)) continue;
            check_cancel();
            std::unique_ptr<Placer> empty = make_bin(static_cast<int>(k));
            fits = attempt_in(*empty, kb, *s, PlaceRequest{});
        }
        left.push_back(s);
        placeable.push_back(fits);
    }
    while (!left.empty()) {
        std::vector<Trial> trials;
        std::vector<double> rest_area;
        for (std::size_t k = 0; k < nk; ++k) {
            if (stock[k] == 0) continue;
            const Bin& kb = kind(static_cast<int>(k));
            Trial t{static_cast<int>(k), make_bin(static_cast<int>(k))};
            double rest = 0.0;
            for (std::size_t i = 0; i < left.size(); ++i) {
                Shape& s = *left[i];
                check_cancel();
                if (!kept_out(s, kb) && attempt_in(*t.placer, kb, s, PlaceRequest{})) t.area += material_area(s);
                else if (placeable[i]) rest += material_area(s);
            }
            if (t.placer->packed.empty()) continue;
            for (const Shape* s : t.placer->packed) t.poses.push_back({s->tx(), s->ty(), s->rotation(), s->mirrored()});
            trials.push_back(std::move(t));
            rest_area.push_back(rest);
        }
        if (trials.empty()) break;
        Trial& t = trials[choose_kind(trials, rest_area, stock, cost, usable, kinds_by_price, by_yield)];
        // The other trials moved the items too: back to where this one put them.
        for (std::size_t i = 0; i < t.placer->packed.size(); ++i) {
            Shape& s = *t.placer->packed[i];
            s.set_rotation(t.poses[i].rotation);
            s.set_mirrored(t.poses[i].mirrored);
            s.set_position(t.poses[i].tx, t.poses[i].ty);
        }
        if (stock[t.kind] > 0) --stock[t.kind];
        const std::unordered_set<const Shape*> taken(t.placer->packed.begin(), t.placer->packed.end());
        std::vector<Shape*> still;
        std::vector<char> still_placeable;
        for (std::size_t i = 0; i < left.size(); ++i)
            if (!taken.count(left[i])) {
                still.push_back(left[i]);
                still_placeable.push_back(placeable[i]);
            }
        left.swap(still);
        placeable.swap(still_placeable);
        result.bins.push_back(t.placer->packed);
        result.bin_kinds.push_back(t.kind);
        if (progress && !by_yield) {
            progress->placed += t.placer->packed.size();
            progress->processed += t.placer->packed.size();
            progress->bins = result.bins.size();
        }
    }
    result.unplaced = left;
    if (progress) progress->processed = order.size();
}

PackResult FirstFit::do_pack(const Improver* improver) {
    struct Keyed {
        Shape* item;
        double weight, area;
    };
    std::vector<Keyed> order;
    order.reserve(items.size());
    // Everything is checked before anything is changed, so bad input leaves the items untouched.
    if (!kinds.empty()) bin = kinds.front();
    for (std::size_t k = 0; k < kind_count(); ++k) {
        const Bin& kb = kind(static_cast<int>(k));
        // a strip's height is open: only its width is checked
        require_usable_bin(kb.width, kb.height == kInf ? kb.width : kb.height);
        require_margin(kb.margin);
        require_limits(kb.max_load, kb.length);
        require_sound_bin_kind(kb, several_kinds() ? "bins[" + std::to_string(k) + "]" : std::string("bin"));
        if (several_kinds() && kb.height == kInf)
            throw ValueError("bins[" + std::to_string(k) +
                             "]: a strip (a bin without a height) is one bin of its own, not one kind among several");
    }
    if (strip() && bin.count && *bin.count < 1)
        throw ValueError("bin: count is " + std::to_string(*bin.count) + ", but a strip is one bin");
    if (nfp.stable && shaped())
        throw ValueError("stable=True needs rectangular bins without defects: the rest rule knows the floor and "
                         "the walls of a rectangle only");
    if (improver && improver->moves_freely() && (several_kinds() || shaped()))
        throw ValueError("the compression phase takes rectangular bins of one kind without defects");
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
    require_sound_rows(*this, improver != nullptr);
    require_distinct(items);
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

    kinds_by_price.clear();
    for (std::size_t k = 0; k < kind_count(); ++k) kinds_by_price.push_back(static_cast<int>(k));
    std::vector<double> price(kind_count());
    for (std::size_t k = 0; k < kind_count(); ++k) {
        const Bin& kb = kind(static_cast<int>(k));
        const double usable = usable_area(kb);
        price[k] = usable > 0.0 ? bin_cost(kb) / usable : kInf;
    }
    std::stable_sort(kinds_by_price.begin(), kinds_by_price.end(), [&](int a, int b) { return price[a] < price[b]; });
    kinds_by_cost = kinds_by_price;
    std::stable_sort(kinds_by_cost.begin(), kinds_by_cost.end(),
                     [&](int a, int b) { return bin_cost(kind(a)) < bin_cost(kind(b)); });

    std::vector<std::unique_ptr<Placer>> open;
    PackResult result;
    if (progress) {
        progress->processed = 0;
        progress->placed = 0;
        progress->bins = 0;
        progress->total = order.size();
    }
    if (rows.on) {
        std::vector<Shape*> sequence;
        sequence.reserve(order.size());
        for (const Keyed& k : order) sequence.push_back(k.item);
        return pack_in_rows(*this, sequence);
    }
    if (several_kinds()) {
        std::vector<Shape*> sorted;
        sorted.reserve(order.size());
        for (const Keyed& k : order) sorted.push_back(k.item);
        fill_bin_by_bin(sorted, result);
    }
    if (strip()) open.push_back(make_bin());
    // A strip takes every item that fits its width, but at rest an item may
    // find nothing to lie on in the pile as it stands: it is offered again
    // once the others are in.
    std::vector<Shape*> later;
    for (const Keyed& k : several_kinds() ? std::vector<Keyed>{} : order) {
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
    if (!several_kinds()) result.bin_kinds.assign(result.bins.size(), 0);
    if (improver) {
        std::vector<Shape*> sequence;
        sequence.reserve(order.size());
        for (const Keyed& k : order) sequence.push_back(k.item);
        result = improver->improve(*this, sequence, std::move(result));
        // (a phase that knows one kind of bin only leaves the kinds to the driver)
        if (result.bin_kinds.size() != result.bins.size()) result.bin_kinds.assign(result.bins.size(), 0);
    }
    result.reasons.clear();
    for (Shape* s : result.unplaced) result.reasons.push_back(unplaced_reason(*s, result));
    return result;
}

}  // namespace quarvo
