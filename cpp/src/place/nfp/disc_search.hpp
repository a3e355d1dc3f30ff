// Exact placement of a circle among circles: where every item of a bin is a
// circle or a pipe, the best place of a circle mover (corner score) is found
// on the true circles instead of on the union of 64-gon NFPs, and only the
// items near each place tried are read.
//
// The free places of a mover's centre are the bin shrunk by its radius less
// the placed discs grown by it. The lowest score over that region (a linear
// function of the centre) lies at one of its vertices: where two grown discs
// meet, where a grown disc meets a side of the region, or at a corner. The
// bin is searched cell by cell of a grid, the lowest cells first, each cell
// on the vertices of its own piece of the region; a cell remembers a radius
// from which it has no free place (placing items only takes room away), so
// that most cells are passed over at the cost of one comparison. A pipe's
// bore is a room: a disc, less the discs of the items already in it, whose
// vertices (and its lowest point) are the candidates there.
#pragma once
#include <algorithm>
#include <cstdint>
#include <functional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "quarvo/constants.hpp"
#include "quarvo/shapes.hpp"

namespace quarvo {

class DiscBin {
public:
    // Brings the index up to `packed` (a bin_w x bin_h bin); false when an
    // item there is not a circle, and the search does not serve the bin.
    // `trusted`: only the driver fills `packed`, appending items it does not
    // move again, so the items indexed need no second look.
    bool sync(const std::vector<Shape*>& packed, double bin_w, double bin_h, bool trusted);
    // Whether an item synced is a pipe.
    bool has_pipes() const { return pipes_ > 0; }

    struct Candidate {
        double score;
        Pt p;
        int seq;  // the order it was found in
    };

    struct Found {
        bool found = false;
        Pt pos{};            // the centre
        double score = kInf;
        int room = -1;       // the index of the disc whose bore holds it, -1 in the bin
    };
    // The best place of a circle of (inflated) radius r: with `rooms_first`
    // the best place in any bore beats every place outside (dense holes),
    // otherwise the two compete on score, the bin's first on a tie. With
    // `site` k > 0, the k-th next place in that order at least r from every
    // better one taken before it (the last such when fewer exist), as the
    // placer's site choice asks. With `accept`, only the places it accepts
    // (the centres where the item rests) count.
    using Accept = std::function<bool(Pt)>;
    // Which rooms and places the mover may take beyond that: no room smaller
    // than `pass` (a coupling's radius with its spacing), and only the places
    // `admit` admits, by the index of the disc whose room would hold the
    // mover (-1 in the bin) and its centre.
    struct Gate {
        double pass = 0.0;
        const std::function<bool(int room, Pt c)>* admit = nullptr;
    };
    Found search(double r, bool rooms_first, int site, const std::function<void()>& stop,
                 const Accept* accept = nullptr, const Gate* gate = nullptr);

    // The mover just appended to the synced `packed`, where `search` put it.
    void placed(const Shape& item, const Found& where);

    // A search for radius r found no place: none for r or more while the bin
    // holds what it holds or more (see refuses).
    void refused(double r) {
        refused_from_ = std::min(refused_from_, r);
        refused_at_ = basis_.size();
    }
    // Whether a circle of radius r is known to have no place in `packed`
    // (`trusted` as for sync).
    bool refuses(const std::vector<Shape*>& packed, double r, bool trusted) const;

    struct Disc {
        Pt c;
        double R;     // the inflated radius
        double room;  // the bore less the inflation; <= 0: no room
        int parent;   // the disc whose room holds it, -1 on the bin's floor
        std::vector<int> children;
        double room_bound;  // no free place in the room for a radius from this on
        // The room's best place for a circle of radius known_r, while the room is unchanged.
        Found known;
        double known_r = -1.0;
    };
    const std::vector<Disc>& discs() const { return discs_; }

private:
    void reset(double bin_w, double bin_h);
    // Whether item i of the basis is where, and as large as, it was indexed.
    bool unchanged(std::size_t i) const;
    void add(const Shape& s, int parent);
    int find_parent(Pt c, double R) const;
    // Top-level discs whose box meets [x0, x1] x [y0, y1].
    void near(double x0, double y0, double x1, double y1, std::vector<int>& out) const;
    void ensure_rows(long rows);
    void cover(const Disc& d);
    double cell_bound_from_walls(long row, long col) const;
    // Each search keeps the best place in `best` or, with `all`, every free
    // vertex it meets; it stops where no place can score below `limit()`.
    struct Gather;
    void search_bin(double r, Gather& g, const std::function<void()>& stop);
    void search_rooms(double r, Gather& g, const std::function<void()>& stop);
    bool search_cell(double r, long row, long col, Gather& g);
    bool search_room(double r, int room, Gather& g);
    double score(Pt p, double r) const;
    double margin() const;
    // whether a disc of radius r at p keeps clear of every one of the discs
    bool clear_of(Pt p, double r, const std::vector<int>& discs) const;

    std::vector<const Shape*> basis_;
    bool blocked_ = false;  // an item of basis_ is not a circle
    bool oversize_ = false;  // the items reach beyond what the grid may hold
    int pipes_ = 0;
    double w_ = 0.0, h_ = 0.0;
    std::vector<Disc> discs_;
    double top_ = 0.0;   // the largest y of a disc on the floor
    double r_max_ = 0.0;

    // Discs on the floor hashed by the cells of side g_ their boxes meet; a
    // disc too large for that is kept apart in `big_`.
    double g_ = 0.0;
    std::unordered_map<std::int64_t, std::vector<int>> hash_;
    std::vector<int> big_;
    std::vector<int> floor_;  // every disc on the floor
    mutable std::vector<std::uint32_t> stamp_;
    mutable std::uint32_t stamp_now_ = 0;

    // The search grid: cells of side s_, cols_ per row; each cell's bound:
    // no free place for a radius from it on.
    double s_ = 0.0;
    long cols_ = 0, rows_ = 0, rows_cap_ = 0;
    std::vector<double> bound_;
    std::vector<double> row_max_;
    std::vector<char> row_dirty_;

    // The discs with a room, by the row of the grid that holds the lowest
    // point of the room; `low`: no room of the row has a place for a circle
    // of radius low_r that scores below it (a room's best known place, else
    // its lowest point), while the row is not `dirty`.
    struct RoomRow {
        std::vector<int> rooms;
        double cap = 0.0;  // no room of the row takes a circle larger than this
        double low = -kInf;
        double low_r = -1.0;
        bool dirty = true;
    };
    std::vector<RoomRow> room_rows_;
    std::vector<std::size_t> used_rows_;  // the rows that hold a room, in order
    std::vector<std::pair<double, std::size_t>> room_order_;
    long room_row(const Disc& d) const;
    void search_room_of(double r, int k, Gather& g, const std::function<void()>& stop, long& visited);


    // Scratch lists of the searches.
    std::vector<int> obs_, used_;
    std::vector<Candidate> cands_;

    double refused_from_ = kInf;
    std::size_t refused_at_ = 0;  // basis_ size when the refusal was made
};

}  // namespace quarvo
