// The layout the compression phase works on: items that may overlap, the
// overlap of every pair (its depth times the pair's size), the guided local
// search's pair weights, and the move that takes one item to the place of
// least weighted overlap (internal to the compression phase).
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "compress/pair_regions.hpp"
#include "core/rng.hpp"

namespace quarvo {
namespace compress_detail {

// A pair whose overlap is at most this counts as touching: the depth of
// outlines that only touch comes out of rounding at about 1e-12.
constexpr double kOverlapTol = 1e-8;

struct Place {
    std::size_t v = 0;  // the item's variant
    std::size_t bin = 0;
    double x = 0.0, y = 0.0;  // its translation
};

// Where items may lie: bins of one width, the inflated outlines within
// [0, width] x [0, height] and at least `margin` from its edges, the true
// outlines' tops at most cap[bin].
struct Sheet {
    double width = 0.0;
    double height = std::numeric_limits<double>::infinity();  // a strip's is open
    double margin = 0.0;                                      // the bin's edge margin
    std::vector<double> cap;                                  // per bin in use
};

// Translations at which variant `var` lies on the sheet in `bin`; false when none.
bool sheet_range(const Variant& var, const Sheet& sheet, std::size_t bin, double& xlo, double& xhi, double& ylo,
                 double& yhi);

// Whether the item at place `j` lies wholly in a room of the container at place `c`.
bool carries(const Catalogue& cat, Probes& probes, const Place& c, const Place& j);
// Each of the two places takes the other's bin and box centre (its own variant kept).
void trade_places(const Catalogue& cat, Place& a, Place& b);

// How a move searches: samples anywhere on the sheet, samples near the item
// (within `focus_span` of its box's size), then coordinate descent from the
// best sample with steps from `descent_start` down to `descent_end` of the box.
struct MoveSettings {
    int global = 50;
    int focus = 25;
    double focus_span = 0.5;
    double descent_start = 0.25;
    double descent_end = 1.0 / 2048.0;
    // After each sweep the weight of a colliding pair grows by a factor from
    // grow_low (the shallowest) to grow_high (the deepest); the others fall
    // by `decay` towards 1.
    float grow_low = 1.2f, grow_high = 2.0f, decay = 0.95f;
    // Items stay in their bins (the bins carry a load limit the moves do not know of).
    bool keep_bins = false;
    // The share of a sweep's moves that first try a swap with an item of another kind.
    double swap = 0.3;
    // After the descent, at most this many steps out of the deepest overlap
    // left, each onto the pair region's nearest edge (the descent's grid
    // seldom meets an exact contact).
    int step_outs = 6;
    // After the samples near the item, this many places where it touches an
    // item it overlaps, at a corner of the pair's NFP (at a random angle of
    // the item a quarter of the time): the exact fits of a perfect-fit
    // puzzle, a tooth in a notch, lie at such corners, and neither the random
    // samples nor the descent's grid meet them.
    int touches = 12;
};

class WorkingLayout {
public:
    WorkingLayout(const Catalogue& cat, Probes& probes, std::size_t n, MoveSettings settings = {});

    // Takes the places (each clamped onto the sheet) and measures every
    // pair afresh; the weights are kept.
    void assign(const std::vector<Place>& places, const Sheet& sheet);
    const std::vector<Place>& places() const { return place_; }
    const Sheet& sheet() const { return sheet_; }
    std::size_t size() const { return place_.size(); }
    // Pairs deeper than kOverlapTol.
    std::size_t colliding_pairs() const { return pairs_; }
    // The sum of the overlap of every colliding pair.
    double overlap() const;
    // Moves every colliding item once, in random order, to the best place its
    // search finds (some try a swap first); stops early when `abort` is
    // raised. Returns the moves made.
    long long sweep(Rng& rng, const std::atomic<bool>* abort);
    // Colliding pairs weigh more (the deeper, the more), the others decay towards 1.
    void update_weights();
    // A pair the exact test found too close although its depth says touching:
    // counted as colliding until either item moves.
    void flag(std::size_t i, std::size_t j);
    bool range(std::size_t v, std::size_t bin, double& xlo, double& xhi, double& ylo, double& yhi) const {
        return sheet_range(cat_.variant(v), sheet_, bin, xlo, xhi, ylo, yhi);
    }
    // The place moved onto the sheet; false when its variant fits the bin nowhere.
    bool clamp(Place& p) const;

private:
    double cost(std::size_t i, const Place& p, double bound);
    void put(std::size_t i, const Place& p);
    // Records the overlaps of item i with the items before `end` (itself apart).
    void measure(std::size_t i, std::size_t end);
    // Without `global`, only places near the present one are searched.
    void move(std::size_t i, Rng& rng, bool global = true);
    // Swaps item i with a random item of another kind (of its bin, or of any
    // bin unless items keep theirs), each settling near the other's place;
    // kept when the two collide less, else undone.
    bool try_swap(std::size_t i, Rng& rng);
    // The weighted overlap of item i.
    double item_cost(std::size_t i) const;
    // A container with items in its rooms moves with them, by one translation.
    void move_group(std::size_t i, const std::vector<std::size_t>& riders, Rng& rng);
    double group_cost(const std::vector<std::size_t>& group, double dx, double dy, double bound);
    float weight(std::size_t i, std::size_t j) const;
    // What the depth of an overlap of variants a and b is multiplied by.
    double scale(std::size_t a, std::size_t b) const { return size_[a] * size_[b]; }
    void descend(std::size_t i, Place& best, double& best_cost);
    void step_out(std::size_t i, Place& best, double& best_cost);
    bool colliding(std::size_t i) const;
    void set_box(std::size_t i);
    // The items whose boxes overlap the box (x0, y0, x1, y1) into near_, by
    // index, up to `end`; returns how many. Boxes that at most touch hold
    // outlines that at most touch.
    std::size_t gather(double x0, double y0, double x1, double y1, std::size_t end);
    void index_bands();

    // Bands of the sheet along one axis, each with the set of items whose
    // boxes reach into it (a bit per item). A query ANDs the sets of the rows
    // and of the columns it reaches, and reads only the items left.
    class Bands {
    public:
        // Bands of about `size` over [lo, hi] (values beyond go to the end bands).
        void reset(double lo, double hi, double size, std::size_t items);
        int band_of(double v) const;
        // Item i now reaches from lo to hi.
        void file(std::size_t i, double lo, double hi);
        // Word w of the set of the items of bands b0 to b1.
        std::uint64_t word(int b0, int b1, std::size_t w) const {
            std::uint64_t bits = 0;
            for (int b = b0; b <= b1; ++b) bits |= sets_[static_cast<std::size_t>(b) * words_ + w];
            return bits;
        }

    private:
        void mark(std::size_t i, bool in);
        std::vector<std::uint64_t> sets_;
        std::vector<std::pair<int, int>> span_;  // per item: its first and last band
        std::size_t words_ = 0;
        int count_ = 1;
        double lo_ = 0.0, inv_ = 0.0;
    };

    const Catalogue& cat_;
    Probes& probes_;
    MoveSettings set_;
    Sheet sheet_;
    std::vector<Place> place_;
    // The boxes of the items' outlines, apart for a fast scan.
    std::vector<double> x0_, y0_, x1_, y1_;
    // Per item: (other item, overlap) of every pair with an overlap.
    std::vector<std::vector<std::pair<std::uint32_t, double>>> ov_;
    // Per item: (other item, weight) of every pair whose weight is above 1, by item.
    std::vector<std::vector<std::pair<std::uint32_t, float>>> w_;
    std::vector<double> size_;  // per variant: the square root of its size against the items' mean
    std::vector<float> row_;  // the moving item's weights, all items (1 where none is kept)
    std::vector<char> mark_;  // the items of a group being moved
    std::vector<std::uint32_t> near_;  // scratch: the items near a place being evaluated
    Bands rows_, cols_;
    // Within one move: the items whose boxes overlap the box around the
    // mover's present place, kept for the samples near it and the descent.
    std::vector<std::uint32_t> local_;
    double lx0_ = 0.0, ly0_ = 0.0, lx1_ = 0.0, ly1_ = 0.0;
    bool local_on_ = false, local_ok_ = false;
    std::size_t pairs_ = 0;
};

}  // namespace compress_detail
}  // namespace quarvo
