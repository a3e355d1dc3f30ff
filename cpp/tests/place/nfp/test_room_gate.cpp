#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include "quarvo/constants.hpp"
#include "quarvo/placer_nfp.hpp"

using namespace quarvo;

namespace {

bool in_bore(const Pipe& item, const Pipe& host) {
    return std::hypot(item.tx() - host.tx(), item.ty() - host.ty()) + item.radius <= host.bore() + 1e-6;
}

struct Case {
    double coupling_od;  // 0: none
    double margin;       // > 0: the no-fit polygons, 0: the exact disc search
    bool nests;
};

class CouplingPassesTheBore : public ::testing::TestWithParam<Case> {};

// A 219.1 mm pipe fits the 304.7 mm bore of an NPS 12 by its body; its
// coupling must pass the bore with the distance as well.
TEST_P(CouplingPassesTheBore, OrTheItemStaysOut) {
    const Case c = GetParam();
    NfpOptions opt;
    opt.hole_fill = HoleFill::Dense;
    opt.exact_clearance = true;
    NfpPlacer placer(2000, 2000, opt);
    placer.margin = c.margin;
    Pipe host(323.8, 9.53), item(219.1, 8.18);
    host.set_infl(2.0);
    item.set_infl(2.0);
    item.coupling_od = c.coupling_od;
    ASSERT_TRUE(placer.trypack(host));
    ASSERT_TRUE(placer.trypack(item));
    EXPECT_EQ(in_bore(item, host), c.nests);
}

INSTANTIATE_TEST_SUITE_P(
    Couplings, CouplingPassesTheBore,
    ::testing::Values(Case{0.0, 0.0, true}, Case{0.0, 1.0, true},
                      Case{290.0, 0.0, true}, Case{290.0, 1.0, true},           // 145 + 2 <= 152.37 - 2
                      Case{300.0, 0.0, false}, Case{300.0, 1.0, false},         // 150 + 2 > 150.37
                      Case{kInf, 0.0, false}, Case{kInf, 1.0, false}),          // of unknown size
    [](const ::testing::TestParamInfo<Case>& info) {
        const Case& c = info.param;
        const std::string coupling = c.coupling_od == 0.0 ? "none" : c.coupling_od < kInf
                                         ? std::to_string(static_cast<int>(c.coupling_od)) + "mm" : "unknown";
        return coupling + (c.margin > 0.0 ? "_nfp" : "_discs");
    });

// The caller's admission decides by the host and the place, and the placer
// says which host it took.
TEST(Admission, RefusesABoreAndNamesTheHost) {
    NfpOptions opt;
    opt.hole_fill = HoleFill::Dense;
    for (bool admit_bores : {true, false}) {
        NfpPlacer placer(2000, 2000, opt);
        Pipe host(323.8, 9.53), item(219.1, 8.18);
        ASSERT_TRUE(placer.trypack(host));
        int asked = 0;
        const Admission admit = [&](const Shape* h, Pt) {
            ++asked;
            return h == nullptr || admit_bores;
        };
        PlaceRequest request;
        request.admit = &admit;
        ASSERT_TRUE(placer.trypack(item, request));
        EXPECT_GT(asked, 0);
        EXPECT_EQ(in_bore(item, host), admit_bores);
        EXPECT_EQ(placer.last_host, admit_bores ? 0 : -1);
    }
}

}  // namespace
