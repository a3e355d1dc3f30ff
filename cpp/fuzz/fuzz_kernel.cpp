// The geometry kernel on arbitrary contours, points and distances.
#include <cstddef>
#include <cstdint>

#include "fuzz_input.hpp"
#include "quarvo/kernel.hpp"

using namespace quarvo;
using namespace quarvo_fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    const Contour a = in.any_contour(48), b = in.any_contour(48);
    const Pt p = in.point(), q = in.point(), r = in.point(), s = in.point();
    const double d = in.number();
    const long long n = static_cast<long long>(in.count(200)) - 4;

    attempt([&] { polygon_area(a); });
    attempt([&] { polygon_bbox(a); });
    attempt([&] { polygon_centroid(a); });
    attempt([&] { is_convex(a); });
    attempt([&] { hypot_cr(p.x, p.y); });
    attempt([&] { round6(d); });
    attempt([&] { extremum_key(d); });
    attempt([&] { line_intersection(p, q, r, s); });
    attempt([&] { point_in_polygon(p, a); });
    attempt([&] { point_in_convex_polygon(p, a); });

    for (bool cw : {true, false}) {
        attempt([&] {
            Contour w = ensure_winding(a, cw);
            FUZZ_CHECK(w.size() == a.size() || w.size() == a.size() + 1);
            if (w.size() >= 2) FUZZ_CHECK(same_bits(w.front(), w.back()) || w.front() == w.back());
        });
    }
    attempt([&] {
        Contour o = offset_convex(a, d);
        FUZZ_CHECK(o.size() <= a.size());
    });
    attempt([&] {
        std::size_t i = top_right_index(a), j = bottom_left_index(a);
        FUZZ_CHECK(i < a.size() && j < a.size());
        FUZZ_CHECK(same_bits(top_right(a), a[i]) && same_bits(bottom_left(a), a[j]));
    });
    attempt([&] {
        Contour c = circle_to_polygon(p, d, n);
        FUZZ_CHECK(n > 0 && c.size() == static_cast<std::size_t>(n) + 1 && same_bits(c.front(), c.back()));
    });
    attempt([&] { segments_intersect(p, q, r, s); });

    bool ab = false, ba = false;
    bool ok_ab = attempt([&] { ab = sat_intersects(a, b); });
    bool ok_ba = attempt([&] { ba = sat_intersects(b, a); });
    FUZZ_CHECK(ok_ab == ok_ba);
    if (ok_ab) FUZZ_CHECK(ab == ba);  // the same axes, projected the same way
    return 0;
}
