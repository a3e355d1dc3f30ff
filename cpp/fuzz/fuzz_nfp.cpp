// No-fit polygons, their union and the candidate search on arbitrary input.
// Only the uncached paths are driven: the process-wide NFP cache would grow
// with every new input.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "fuzz_input.hpp"
#include "nfp/nfp.hpp"
#include "nfp/nfp_union.hpp"
#include "place/nfp/candidate_search.hpp"
#include "quarvo/errors.hpp"
#include "quarvo/quarvo.hpp"
#include "quarvo/shapes.hpp"

using namespace quarvo;
using namespace quarvo_fuzz;

namespace {

// Null when the engine refuses to build the item (a polygon whose rings do
// not bound a sound region, a negative radius).
std::unique_ptr<Shape> make_item(Input& in) {
    std::unique_ptr<Shape> s;
    try {
    if (in.flag()) {
        s = std::make_unique<Circle>(in.size());
    } else {
        std::vector<Contour> holes;
        std::size_t k = in.count(2);
        Contour outer = in.any_contour(24);
        for (std::size_t i = 0; i < k; ++i) holes.push_back(in.any_contour(12));
        s = std::make_unique<Polygon>(outer, holes);
    }
    } catch (const ValueError&) {
        return nullptr;
    }
    if (in.flag()) s->set_rotation(in.number());
    if (in.flag()) s->set_infl(in.number());
    if (in.flag()) s->set_position(in.number(), in.number());
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    const Contour A = in.any_contour(32), B = in.any_contour(32);

    attempt([&] {
        RawNfp raw = nfp_convex_only(A, B);
        std::size_t edges = (A.size() > 1 ? A.size() - 1 : 0) + (B.size() > 1 ? B.size() - 1 : 0);
        FUZZ_CHECK(raw.pts.size() == (edges ? edges + 1 : 1));
        Contour c = correct_nfp_position(raw.pts, raw.top, A, B);
        FUZZ_CHECK(c.size() == raw.pts.size());
    });

    std::vector<Contour> nfps;
    for (std::size_t i = 0, k = in.count(4); i < k; ++i) nfps.push_back(in.any_contour(24));
    attempt([&] {
        for (const Contour& c : merge_nfps(nfps)) FUZZ_CHECK(c.size() >= 4 && c.front() == c.back());
    });

    const long long steps = static_cast<long long>(in.count(24)) - 2;
    attempt([&] {
        std::vector<Pt> s = sample_boundary(A, steps);
        FUZZ_CHECK(steps <= 0 || A.size() < 2 || s.size() == (A.size() - 1) * static_cast<std::size_t>(steps));
    });
    attempt([&] { FUZZ_CHECK(sample_hole_interior(A).size() <= 17); });

    std::unique_ptr<Shape> a = make_item(in), b = make_item(in);
    if (!a || !b) return 0;
    attempt([&] { compute_nfp0(*a, *b); });
    attempt([&] { compute_hole_nfps(*a, *b); });
    const double w = in.size(), h = in.size(), eps = in.flag() ? 1e-6 : in.number();
    const Placement placement = in.flag() ? Placement::Center : Placement::Corner;
    std::vector<Contour> holes;
    if (in.flag()) holes.push_back(B);
    attempt([&] {
        PositionSearch q{*b, w, h, nfps, holes};
        q.steps = steps;
        q.eps = eps;
        q.placement = placement;
        SearchResult r = search_best_position(q);
        FUZZ_CHECK(!r.found || r.score == r.score);
    });
    return 0;
}
