// First-fit driver: spacing by inflation, heaviest items first, each item to
// the first open bin whose placer accepts it; optionally followed by a phase
// that improves the greedy layout (the improvement search, search.hpp).
#pragma once
#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "quarvo/options.hpp"
#include "quarvo/placer.hpp"
#include "quarvo/shapes.hpp"

namespace quarvo {

// Counters a run updates as it goes; another thread may read them meanwhile.
struct PackProgress {
    std::atomic<std::size_t> processed{0};  // items offered to the bins so far
    std::atomic<std::size_t> placed{0};
    std::atomic<std::size_t> bins{0};
    std::atomic<std::size_t> total{0};
};

// With rows along the length: where a placed item lies along its bin.
struct RowPlace {
    Shape* item;
    std::size_t bin;
    std::size_t row;      // in the order its bin's rows were started
    double start, end;    // metres from the front of the bin's length
    Shape* host;          // the piece whose bore holds it, null on the floor
    Shape* leader;        // the row's first piece: the one its placer placed
};

// An item the limits of a bin's supports kept out of a bin that had a place
// for it otherwise, and why (the least excess over a limit it would cause).
struct Deferral {
    Shape* item;
    std::size_t bin;
    std::string reason;
};

struct PackResult {
    std::vector<std::vector<Shape*>> bins;  // in opening order
    std::vector<Shape*> unplaced;            // in processing order
    // Why each unplaced item is unplaced, in the same order: longer than the
    // bin, heavier than its max_load (or what a strip has left of it), over
    // the limits of the bin's supports, or no room in an empty bin.
    std::vector<std::string> reasons;
    bool search_stopped = false;             // Ctrl-C ended the improvement early
    // The kind of each bin (its index in FirstFit::kinds; 0 for a run of one
    // kind), in the order of `bins`.
    std::vector<int> bin_kinds;
    // With rows: every placed item's row and place along, in the order of `bins`.
    std::vector<RowPlace> rows;
    std::vector<Deferral> deferred;
};

class FirstFit;

// A phase run after the greedy pass, while the items are still inflated.
class Improver {
public:
    virtual ~Improver() = default;
    // Refuses its own options (ValueError), before anything is changed.
    virtual void check() const = 0;
    // Whether it moves items to places no placer chose (so stable placement
    // cannot hold there).
    virtual bool moves_freely() const { return false; }
    // `sequence` holds the items in greedy order, inflated and placed as
    // `greedy` says. Leaves every item at its pose in the layout it returns.
    virtual PackResult improve(const FirstFit& ff, const std::vector<Shape*>& sequence, PackResult greedy) const = 0;
};

class FirstFit {
public:
    FirstFit(std::vector<Shape*> items, Bin bin, double global_distance = 0.0, Strategy strategy = Strategy::Nfp,
             NfpOptions nfp = {});
    // Bins of several kinds, each with its count and cost (Bin::count,
    // bin_cost): the greedy pass fills one bin after another, and for each
    // tries every kind still in stock on the items left and keeps the one
    // for which the bin's cost and an estimate of the rest's are least (the
    // area left over, at the best fill a kind reached, in bins of the kind
    // that takes it cheapest); a second plan keeps the kind that takes the
    // most area per cost, and the cheaper plan is the pass's. An item no bin
    // left in stock can take is unplaced.
    FirstFit(std::vector<Shape*> items, std::vector<Bin> kinds, double global_distance = 0.0,
             Strategy strategy = Strategy::Nfp, NfpOptions nfp = {});

    // Packs every item (at rest, an item with no place in a strip is offered
    // again after the others; with rows, each first to the rows of the open
    // bins, see rows.hpp), then hands the layout to `improver` when given;
    // every item's infl is 0.0 afterwards, also when an error (or a
    // cancellation) ends the run early. A strip (bin height +infinity) is one
    // bin whose height is open.
    PackResult do_pack(const Improver* improver = nullptr);
    // A placer of the strategy's kind for a bin of kind `kind`.
    std::unique_ptr<Placer> make_placer(int kind = 0) const;
    // A placer for one of the driver's own bins: only the driver fills it, with
    // items checked before packing began, so it does not check them again on every call.
    std::unique_ptr<Placer> make_bin(int kind = 0) const;
    bool strip() const;
    // The kinds of bin: `kinds`, or `bin` alone when `kinds` is empty.
    std::size_t kind_count() const { return kinds.empty() ? 1 : kinds.size(); }
    const Bin& kind(int k) const { return kinds.empty() ? bin : kinds[static_cast<std::size_t>(k)]; }
    bool several_kinds() const { return kind_count() > 1; }
    // Whether some kind has an outline or defects.
    bool shaped() const;
    // Offers an inflated item to the open bins in order, then to a new one
    // (a strip has one bin: an item it refuses that fits its width goes on
    // top of everything, or with stable placement stays unplaced), with the
    // wishes of `request`. A bin whose load (the mass of its items) would pass
    // max_load is not offered the item; a pipe longer than the bin, or heavier
    // than an empty bin's max_load, is offered to none. No more bins of a kind
    // are opened than its count. With several kinds, `bin_kinds` holds the
    // kind of each open bin and may plan those of the bins to open next: a new
    // bin is of its planned kind, or else (no plan, no stock left, or no room
    // for the item there) of the first kind in stock, the cheapest bin
    // first, that takes the item; it is recorded there. Returns the bin's
    // index, or -1 when the item is unplaced. No bin is opened beyond
    // `max_bins` (with several kinds).
    long offer(std::vector<std::unique_ptr<Placer>>& open, Shape& item, const PlaceRequest& request = {},
               std::vector<int>* bin_kinds = nullptr, std::size_t max_bins = static_cast<std::size_t>(-1)) const;
    // Why an item the run left unplaced is unplaced; `result` is the run's
    // layout. Its items are still inflated (an item may be tried in an empty
    // bin of each kind to tell "no bin left" from no room).
    std::string unplaced_reason(Shape& item, const PackResult& result) const;

    std::vector<Shape*> items;
    // Every bin's size and limits; with several kinds, the first of them.
    Bin bin;
    // The kinds of bin when there are several (none: `bin` alone).
    std::vector<Bin> kinds;
    double global_distance;
    Strategy strategy;
    NfpOptions nfp;  // handed to every NFP placer; its exact_clearance to bottom-left placers too
    // Rows along the bin's length (off by default): see RowOptions.
    RowOptions rows;
    PackProgress* progress = nullptr;  // optional, not owned
    // The height a strip's placer works with during do_pack: room for every
    // item stacked on top of each other.
    double working_height = 0.0;
    // The kinds by cost per usable area and by what one bin costs, the
    // cheapest first (ties: the first given), as do_pack found them. A bin
    // opened beyond the plan tries them by cost: it takes what is left over.
    std::vector<int> kinds_by_price, kinds_by_cost;

private:
    // The greedy pass with several kinds: bin after bin, each filled with the
    // items left in order, of the kind one of two rules keeps (the least
    // cost of the bin and the estimated rest, or the most area per cost);
    // the cheaper of the two plans.
    void fill_bin_by_bin(const std::vector<Shape*>& order, PackResult& result);
    void fill_bins_by_rule(const std::vector<Shape*>& order, PackResult& result, bool by_yield);
};

// The largest y of the items' world contours (0 for no items): the length of
// a strip the items use.
double used_length(const std::vector<Shape*>& items);
// The items' mass in kg, summed in order.
double load_of(const std::vector<Shape*>& items);

}  // namespace quarvo
