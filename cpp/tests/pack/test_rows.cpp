#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "quarvo/constants.hpp"
#include "quarvo/errors.hpp"
#include "quarvo/first_fit.hpp"
#include "quarvo/shapes.hpp"

using namespace quarvo;

namespace {

constexpr double kTol = 1e-7;  // metres, kg shares

std::vector<Shape*> raw(const std::vector<std::unique_ptr<Pipe>>& v) {
    std::vector<Shape*> out;
    for (const auto& s : v) out.push_back(s.get());
    return out;
}

FirstFit rows_of(const std::vector<Shape*>& items, Bin bin, double distance = 5.0) {
    NfpOptions nfp;
    nfp.stable = true;
    nfp.exact_clearance = true;
    nfp.hole_fill = HoleFill::Dense;
    FirstFit ff(items, bin, distance, Strategy::Nfp, nfp);
    ff.rows.on = true;
    return ff;
}

Bin trailer() {
    Bin b{2480, 2700, 0.0, 24000, 13600};
    b.supports = {{"kingpin", 1.6, 9000}, {"axle group", 9.35, 18500}};
    return b;
}

// A random order of pipes of a few sizes, 6 and 12 m (and some between).
std::vector<std::unique_ptr<Pipe>> random_order(std::mt19937& rng, int n) {
    const double sizes[][2] = {{508.0, 12.7}, {323.8, 9.53}, {219.1, 8.18}, {168.3, 7.11}, {114.3, 6.02}, {60.3, 3.91}};
    const double lengths[] = {6.0, 12.0, 5.8, 11.5, 3.0};
    std::vector<std::unique_ptr<Pipe>> out;
    for (int i = 0; i < n; ++i) {
        const auto& s = sizes[rng() % 6];
        out.push_back(std::make_unique<Pipe>(s[0], s[1], lengths[rng() % 5]));
    }
    return out;
}

// The independent judgement of one result: pieces within the length, a row's
// pieces apart by the gap at one place of the section, a nested piece in its
// host's bore and within its length (but for the overhang), and the load on
// the supports recomputed within their limits.
void expect_sound_rows(const PackResult& r, const FirstFit& ff) {
    const double length = ff.bin.length / 1000.0;
    std::map<std::pair<std::size_t, std::size_t>, std::vector<const RowPlace*>> rows;
    std::map<const Shape*, const RowPlace*> of;
    std::size_t placed = 0;
    for (const auto& b : r.bins) placed += b.size();
    ASSERT_EQ(r.rows.size(), placed);
    for (const RowPlace& p : r.rows) {
        EXPECT_GE(p.start, -kTol);
        EXPECT_LE(p.end, length + kTol);
        const double own = pipe_cast(*p.item).length().value_or(length);
        EXPECT_NEAR(p.end - p.start, own, kTol);
        rows[{p.bin, p.row}].push_back(&p);
        of[p.item] = &p;
    }
    for (auto& [key, pieces] : rows) {
        std::sort(pieces.begin(), pieces.end(), [](const RowPlace* a, const RowPlace* b) { return a->start < b->start; });
        for (std::size_t i = 1; i < pieces.size(); ++i) {
            EXPECT_GE(pieces[i]->start - pieces[i - 1]->end, ff.rows.end_gap - kTol);
            EXPECT_EQ(pieces[i]->item->tx(), pieces[0]->item->tx());
            EXPECT_EQ(pieces[i]->item->ty(), pieces[0]->item->ty());
        }
    }
    for (const RowPlace& p : r.rows) {
        if (!p.host) continue;
        const RowPlace& h = *of.at(p.host);
        EXPECT_EQ(h.bin, p.bin);
        EXPECT_GE(p.start, h.start - ff.rows.overhang - kTol);
        EXPECT_LE(p.end, h.end + ff.rows.overhang + kTol);
        const Pipe &item = pipe_cast(*p.item), &host = pipe_cast(*p.host);
        const double d = std::hypot(item.tx() - host.tx(), item.ty() - host.ty());
        EXPECT_LE(d + item.radius, host.bore() + 1e-6);
    }
    for (std::size_t k = 0; k < r.bins.size(); ++k) {
        double load = 0.0, moment = 0.0;
        for (const RowPlace& p : r.rows)
            if (p.bin == k) {
                load += p.item->mass;
                moment += p.item->mass * (p.start + p.end) / 2.0;
            }
        EXPECT_LE(load, ff.bin.max_load + 1e-6);
        if (ff.bin.supports.size() != 2 || load <= 0.0) continue;
        const Support &a = ff.bin.supports[0], &c = ff.bin.supports[1];
        const double on_c = (moment - a.at * load) / (c.at - a.at);
        EXPECT_LE(on_c, c.max_load * (1 + 1e-9));
        EXPECT_LE(load - on_c, a.max_load * (1 + 1e-9));
    }
}

TEST(Rows, RandomOrdersKeepTheirRowsHostsAndSupports) {
    std::mt19937 rng(35);
    for (int round = 0; round < 12; ++round) {
        auto pipes = random_order(rng, 40 + static_cast<int>(rng() % 40));
        const std::vector<Shape*> items = raw(pipes);
        FirstFit ff = rows_of(items, trailer());
        ff.rows.overhang = (round % 3) * 0.25;
        const PackResult r = ff.do_pack();
        expect_sound_rows(r, ff);
        EXPECT_EQ(r.bins.size() + r.unplaced.size() > 0, true);
    }
}

TEST(Rows, TwoShortPiecesShareAPlaceOfTheSection) {
    std::vector<std::unique_ptr<Pipe>> pipes;
    for (int i = 0; i < 4; ++i) pipes.push_back(std::make_unique<Pipe>(323.8, 9.53, 6.0));
    const std::vector<Shape*> items = raw(pipes);
    FirstFit ff = rows_of(items, Bin{2480, 2700, 0.0, kInf, 13600});
    const PackResult r = ff.do_pack();
    expect_sound_rows(r, ff);
    std::map<std::size_t, int> per_row;
    for (const RowPlace& p : r.rows) ++per_row[p.row];
    EXPECT_EQ(per_row.size(), 2u);
}

TEST(Rows, ANestedPieceStaysWithinItsHostUnlessOverhangIsAllowed) {
    // a 12 m pipe does not lie in an 11 m host; with 1 m of overhang allowed it may
    for (double overhang : {0.0, 1.0}) {
        std::vector<std::unique_ptr<Pipe>> pipes;
        pipes.push_back(std::make_unique<Pipe>(609.6, 9.53, 11.0));
        pipes.push_back(std::make_unique<Pipe>(323.8, 9.53, 12.0));
        pipes[1]->weight = 0.0;  // after the host
        const std::vector<Shape*> items = raw(pipes);
        FirstFit ff = rows_of(items, Bin{700, 700, 0.0, kInf, 13600});
        ff.rows.overhang = overhang;
        const PackResult r = ff.do_pack();
        expect_sound_rows(r, ff);
        ASSERT_EQ(r.rows.size(), 2u);
        EXPECT_EQ(r.rows[1].host != nullptr, overhang > 0.0);
    }
}

TEST(Rows, ShortPiecesLieEndToEndInOneLongerHost) {
    std::vector<std::unique_ptr<Pipe>> pipes;
    pipes.push_back(std::make_unique<Pipe>(609.6, 9.53, 12.5));
    for (int i = 0; i < 2; ++i) pipes.push_back(std::make_unique<Pipe>(508.0, 9.53, 6.0));
    const std::vector<Shape*> items = raw(pipes);
    FirstFit ff = rows_of(items, Bin{700, 700, 0.0, kInf, 13600});
    const PackResult r = ff.do_pack();
    expect_sound_rows(r, ff);
    ASSERT_EQ(r.bins.size(), 1u);
    EXPECT_EQ(r.rows[1].host, pipes[0].get());
    EXPECT_EQ(r.rows[2].host, pipes[0].get());
    EXPECT_EQ(r.rows[1].row, r.rows[2].row);
}

TEST(Rows, APieceNeverLiesOverAGapOfTheRowBelow) {
    // one 6 m piece on the floor: a 12 m piece above it would lie over nothing
    std::vector<std::unique_ptr<Pipe>> pipes;
    pipes.push_back(std::make_unique<Pipe>(300.0, 150.0, 6.0));
    pipes.push_back(std::make_unique<Pipe>(300.0, 150.0, 12.0));
    pipes[0]->weight = 2.0;
    pipes[1]->weight = 1.0;
    const std::vector<Shape*> items = raw(pipes);
    FirstFit ff = rows_of(items, Bin{320, 1000, 0.0, kInf, 13600});  // one pipe wide: the second goes on top
    const PackResult r = ff.do_pack();
    ASSERT_EQ(r.bins.size(), 2u);
}

TEST(Rows, SupportsOverTheirLimitsPassAPieceOnWithTheReason) {
    std::vector<std::unique_ptr<Pipe>> pipes;
    for (int i = 0; i < 6; ++i) pipes.push_back(std::make_unique<Pipe>(323.8, 9.53, 12.0));  // about 880 kg each
    const std::vector<Shape*> items = raw(pipes);
    Bin bin = trailer();
    bin.supports = {{"kingpin", 1.6, 1000}, {"axle group", 9.35, 1800}};
    FirstFit ff = rows_of(items, bin);
    const PackResult r = ff.do_pack();
    expect_sound_rows(r, ff);
    EXPECT_GE(r.bins.size(), 2u);
    ASSERT_FALSE(r.deferred.empty());
    EXPECT_NE(r.deferred[0].reason.find("would be"), std::string::npos);
    // alone in an empty bin over the limits: unplaced, and why
    Bin tight = trailer();
    tight.supports = {{"kingpin", 1.6, 100}, {"axle group", 9.35, 100}};
    FirstFit alone = rows_of({items[0]}, tight);
    const PackResult u = alone.do_pack();
    ASSERT_EQ(u.unplaced.size(), 1u);
    EXPECT_NE(u.reasons[0].find("even alone in an empty bin"), std::string::npos);
}

TEST(Rows, RefusesWhatRowsCannotWorkWith) {
    std::vector<std::unique_ptr<Pipe>> pipes;
    pipes.push_back(std::make_unique<Pipe>(100.0, 5.0, 6.0));
    const std::vector<Shape*> items = raw(pipes);
    const Bin strip{500, kInf, 0.0, kInf, 13600};
    const Bin no_length{500, 500};
    for (const Bin& b : {strip, no_length}) {
        FirstFit ff = rows_of(items, b);
        EXPECT_THROW(ff.do_pack(), ValueError);
    }
    FirstFit bl = rows_of(items, Bin{500, 500, 0.0, kInf, 13600});
    bl.strategy = Strategy::BottomLeft;
    bl.nfp.stable = false;
    EXPECT_THROW(bl.do_pack(), ValueError);
    FirstFit gap = rows_of(items, Bin{500, 500, 0.0, kInf, 13600});
    gap.rows.end_gap = -1.0;
    EXPECT_THROW(gap.do_pack(), ValueError);
    // supports need rows, and come in twos
    Bin one = trailer();
    one.supports.pop_back();
    FirstFit lone = rows_of(items, one);
    EXPECT_THROW(lone.do_pack(), ValueError);
    FirstFit off(items, trailer(), 5.0);
    EXPECT_THROW(off.do_pack(), ValueError);
}

}  // namespace
