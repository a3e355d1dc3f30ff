// Both placers and the first-fit driver on a few decoded items: whatever the
// input, no crash, no undefined behaviour, every item ends in exactly one
// place, and every item is deflated again.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "check/check_stock.hpp"
#include "fuzz_input.hpp"
#include "quarvo/errors.hpp"
#include "quarvo/check.hpp"
#include "quarvo/first_fit.hpp"
#include "quarvo/shapes.hpp"
#include "quarvo/placer_bl.hpp"
#include "quarvo/quarvo.hpp"

using namespace quarvo;
using namespace quarvo_fuzz;

namespace {

// Null when the engine refuses to build the item (a polygon whose rings do
// not bound a sound region, a negative radius).
std::unique_ptr<Shape> make_item(Input& in) {
    std::unique_ptr<Shape> s;
    try {
    switch (in.byte() % 4) {
        case 0:
            s = std::make_unique<Circle>(in.size());
            break;
        case 1:  // a container: a box with a box-shaped hole
        {
            double w = in.size(), h = in.size(), m = in.size() / 8.0;
            s = std::make_unique<Polygon>(Contour{{0, 0}, {w, 0}, {w, h}, {0, h}},
                                          std::vector<Contour>{{{m, m}, {w - m, m}, {w - m, h - m}, {m, h - m}}});
            break;
        }
        case 2:
            s = std::make_unique<Polygon>(in.ngon(10));
            break;
        default: {
            std::vector<Contour> holes;
            if (in.flag()) holes.push_back(in.any_contour(8));
            s = std::make_unique<Polygon>(in.any_contour(12), holes);
        }
    }
    } catch (const ValueError&) {
        return nullptr;
    }
    if (in.byte() % 8 == 0) s->set_rotation(in.number());
    if (in.byte() % 8 == 0) s->margin = in.number();
    if (in.byte() % 8 == 0) s->inflation = in.number();
    s->weight = static_cast<double>(in.byte() % 4);
    if (in.byte() % 8 == 0) s->set_mirrored(true);
    return s;
}

// The layout checker on the true outlines of one bin's items: no overlap and
// nothing outside the bin (or nearer its edges than the margin) beyond the
// engine's stated tolerance (circles are placed as inscribed polygons, hence
// the circle allowance).
void check_layout(const std::vector<Shape*>& items, double bin_w, double bin_h, double margin = 0.0) {
    std::vector<Outline> outlines;
    for (const Shape* s : items) outlines.push_back(true_outline(*s));
    CheckOptions opt;
    opt.bin_w = bin_w;
    opt.bin_h = bin_h;
    opt.margin = margin;
    // A pose far from the outline's own origin rounds the world outline at
    // the magnitude of the pose (the engine's tolerance: 1e-14 of the
    // coordinates' magnitude).
    double pose = 0.0;
    for (const Shape* s : items) pose = std::max({pose, std::fabs(s->tx()), std::fabs(s->ty())});
    opt.tol = GRID_TOLERANCE + 1e-9 * std::max({std::fabs(bin_w), std::fabs(bin_h), 1.0}) + 1e-14 * pose;
    opt.circle_rel_tol = inscribed_polygon_rel_tol();
    // (items below the grid are refused, so every item keeps the edge margin)
    for (const Violation& v : check_outlines(outlines, opt)) FUZZ_CHECK(v.kind == ViolationKind::TooClose);
}

void check_rest(const std::vector<Shape*>& items, double bin_w, double distance, double margin) {
    std::vector<Outline> outlines;
    for (const Shape* s : items) outlines.push_back(true_outline(*s));
    CheckOptions opt;
    opt.bin_w = bin_w;
    opt.distance = distance;
    opt.margin = margin;
    for (const RestState& st : rest_states(outlines, opt)) FUZZ_CHECK(st.rests);
}

void driver(Input& in) {
    std::vector<std::unique_ptr<Shape>> owned;
    std::vector<Shape*> items;
    for (std::size_t i = 0, k = 1 + in.count(5); i < k; ++i) {
        owned.push_back(make_item(in));
        if (owned.back()) items.push_back(owned.back().get());
    }
    if (items.empty()) return;
    if (in.flag() && items.size() > 1) items.push_back(items[0]);  // one object offered twice
    Bin bin{in.flag() ? in.number() : 10.0 + in.byte() / 4.0, in.flag() ? in.number() : 10.0 + in.byte() / 4.0};
    bin.margin = in.flag() ? in.number() : in.byte() / 32.0;
    double distance = in.flag() ? in.number() : in.byte() / 64.0;
    NfpOptions nfp;
    if (in.flag()) {
        nfp.rotations.clear();
        for (std::size_t i = 0, k = in.count(3); i < k; ++i) nfp.rotations.push_back(in.flag() ? in.number() : 1.5707963267948966 * i);
    }
    Strategy strategy = in.flag() ? Strategy::BottomLeft : Strategy::Nfp;
    if (strategy == Strategy::Nfp && in.flag()) nfp.placement = Placement::Center;
    nfp.incremental = in.flag();
    nfp.threads = in.flag() ? 2 : 1;
    nfp.stable = in.flag();
    nfp.mirror = in.flag();
    FirstFit ff(items, bin, distance, strategy, nfp);
    // A second kind of bin beside it: a star-shaped outline about the box's
    // middle and a triangular defect, a few of them in stock.
    if (in.flag()) {
        Bin other = bin;
        auto shape = std::make_shared<BinShape>();
        const double cx = bin.width / 2.0, cy = bin.height / 2.0, r = std::min(cx, cy);
        const std::size_t n = 3 + in.count(9);
        for (std::size_t k = 0; k < n; ++k) {
            const double t = 2.0 * 3.141592653589793 * static_cast<double>(k) / static_cast<double>(n);
            const double f = 0.3 + 0.7 * in.byte() / 255.0;
            shape->outer.push_back({cx + r * f * std::cos(t), cy + r * f * std::sin(t)});
        }
        shape->outer.push_back(shape->outer.front());
        const double dx = cx + r * (in.byte() / 255.0 - 0.5), dy = cy + r * (in.byte() / 255.0 - 0.5), d = r * 0.2;
        shape->defects.push_back({{dx, dy}, {dx + d, dy}, {dx, dy + d}, {dx, dy}});
        other.shape = shape;
        other.count = static_cast<long long>(in.count(3));
        ff.kinds = {bin, other};
    }
    // At rest by the checker's own rule, whenever the spacers are sound.
    bool at_rest = nfp.stable && distance >= 0.0;
    for (const Shape* s : items) at_rest = at_rest && s->inflation >= 0.0 && s->margin >= 0.0;

    bool done = attempt([&] {
        PackResult r = ff.do_pack();
        std::vector<Shape*> seen = r.unplaced;
        for (const auto& b : r.bins) {
            FUZZ_CHECK(!b.empty());
            seen.insert(seen.end(), b.begin(), b.end());
        }
        std::vector<Shape*> want = items;
        std::sort(seen.begin(), seen.end());
        std::sort(want.begin(), want.end());
        FUZZ_CHECK(seen == want);
        FUZZ_CHECK(r.bin_kinds.size() == r.bins.size());
        for (std::size_t k = 0; k < r.bins.size(); ++k) {
            const Bin& kb = ff.kind(r.bin_kinds[k]);
            check_layout(r.bins[k], kb.width, kb.height, kb.margin);
            if (!kb.shape) continue;
            std::vector<Outline> outlines;
            for (const Shape* s : r.bins[k]) outlines.push_back(true_outline(*s));
            // (circles meet the outline as circumscribed polygons: no allowance)
            FUZZ_CHECK(check_stock(outlines, *kb.shape, kb.width, kb.height, kb.margin,
                                   GRID_TOLERANCE + 1e-9 * std::max({kb.width, kb.height, 1.0})).empty());
        }
        if (at_rest) for (const auto& b : r.bins) check_rest(b, bin.width, distance, bin.margin);
    });
    (void)done;
    for (Shape* s : items) FUZZ_CHECK(s->infl() == 0.0);
}

void placer(Input& in) {
    std::vector<std::unique_ptr<Shape>> owned;
    double w = in.flag() ? in.number() : 10.0 + in.byte() / 4.0;
    double h = in.flag() ? in.number() : 10.0 + in.byte() / 4.0;
    std::unique_ptr<Placer> p;
    // The checker judges what the placer made: not once the caller has moved a
    // placed item, nor items spaced by a negative inflation or clearance.
    bool judged = true;
    if (in.flag()) {
        const double eps = in.flag() ? kBottomLeftClearance : in.number();
        judged = !(eps < 0.0);
        p = std::make_unique<BottomLeftPlacer>(w, h, eps);
    } else {
        NfpOptions options;
        options.incremental = in.flag();
        options.threads = in.flag() ? 2 : 1;
        options.stable = in.flag();
        options.mirror = in.flag();
        p = std::make_unique<NfpPlacer>(w, h, options);
    }
    p->margin = in.flag() ? in.number() : 0.0;
    for (std::size_t i = 0, k = 1 + in.count(5); i < k; ++i) {
        owned.push_back(make_item(in));
        if (!owned.back()) continue;
        Shape& item = *owned.back();
        if (in.byte() % 8 == 0) item.set_infl(in.number());
        std::vector<Shape*> before = p->packed;
        bool placed = false;
        attempt([&] { placed = p->trypack(item); });
        if (placed) {
            before.push_back(&item);
            FUZZ_CHECK(p->packed == before);
            judged = judged && !(item.infl() < 0.0);
            if (judged) check_layout(p->packed, w, h, p->margin);
        } else {
            FUZZ_CHECK(p->packed == before);
        }
        // A caller may move or spoil an item after it has been placed.
        if (!p->packed.empty() && in.byte() % 8 == 0) {
            Shape& old = *p->packed[in.byte() % p->packed.size()];
            old.set_position(in.number(), in.number());
            judged = false;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    if (in.flag()) driver(in);
    else placer(in);
    return 0;
}
