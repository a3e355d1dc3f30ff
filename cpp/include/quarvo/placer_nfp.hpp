// No-fit-polygon placement: convex NFPs by edge merging, their process-wide
// cache, their union by Clipper, the scored candidate search and the placer.
#pragma once
#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

#include "quarvo/shapes.hpp"
#include "quarvo/placer.hpp"

namespace quarvo {

// ---- convex no-fit polygon -------------------------------------------------

// Angle of the edge vector end - start in [0, 2*pi).
double angle_2pi(Pt start, Pt end);

struct RawNfp {
    Contour pts;
    Pt top;
};
// Edges of A and of reversed B merged by decreasing angle and chained.
RawNfp nfp_convex_only(const Contour& A, const Contour& B);
// Moves a raw NFP so that its vertices are positions of B's top-right vertex
// touching A (A at zero translation).
Contour correct_nfp_position(const Contour& raw_nfp, Pt top_nfp, const Contour& A_rot, const Contour& B_rot);

// ---- signatures and the NFP cache -----------------------------------------

struct Signature {
    bool circle = false;
    double radius = 0.0;
    Contour outer;
    std::vector<Contour> holes;
};
// Interns the item's geometry once (stored in Shape::sig_id) and returns its id.
int geometry_signature(Shape& s);
const Signature& signature_of(int id);

// Number of local NFPs held by the process-wide cache.
std::size_t nfp_cache_size();

// Local NFP of (a, b): in a's frame, a's translation taken as zero. Served
// from the cache; the stored contour is shared and never modified.
std::shared_ptr<const Contour> local_nfp(Shape& a, Shape& b);
// World NFP: the local NFP moved by a's translation.
Contour compute_nfp(Shape& a, Shape& b);
Contour compute_nfp0(const Shape& a, const Shape& b);
std::vector<Contour> compute_hole_nfps(const Shape& a, const Shape& b);

// ---- union ------------------------------------------------------------------

// Boundary contours of the union of the NFPs (negative fill rule, poly tree
// walked in pre-order), each closed and with at least 4 entries.
std::vector<Contour> merge_nfps(const std::vector<Contour>& nfps);

// Thread CPU seconds spent inside Clipper's union by the NFP placer and
// merge_nfps since the process started (for benchmarks).
double union_seconds();

// ---- candidate search -----------------------------------------------------

enum class Placement { Corner, Center };

std::vector<Pt> sample_boundary(const Contour& poly, long long steps);
std::vector<Pt> sample_hole_interior(const Contour& poly);

struct SearchResult {
    bool found = false;
    Pt pos{};  // translation
    double score;
};

// Accepts or refuses a candidate sampled inside hole NFP `hole_index`, with
// reference point `p` and translation `t`.
using HoleFilter = std::function<bool(std::size_t hole_index, Pt p, Pt t)>;

SearchResult search_best_position(const std::vector<Contour>& contours, const std::vector<Contour>& hole_nfps,
                                  const Shape& item, double bin_w, double bin_h, long long steps = 40,
                                  double eps = 1e-6, Placement placement = Placement::Corner,
                                  const HoleFilter* hole_filter = nullptr);

// ---- the placer -------------------------------------------------------------

std::vector<double> default_rotations();

class NfpPlacer : public Placer {
public:
    NfpPlacer(double bin_w, double bin_h, std::vector<double> rotations = default_rotations(),
              Placement placement = Placement::Corner);
    ~NfpPlacer() override;
    NfpPlacer(NfpPlacer&&) noexcept;
    NfpPlacer& operator=(NfpPlacer&&) noexcept;

    bool trypack(Shape& item) override;
    std::vector<double> rotations_for(const Shape& item) const;
    static void place_at_origin(Shape& item);
    void place_at_center(Shape& item) const;
    bool fits(const Shape& item, double eps = 1e-6) const;
    bool trypack_empty(Shape& item);
    bool trypack_nonempty(Shape& item);

    double bin_w, bin_h;
    std::vector<double> rotations;
    Placement placement;
    // Keep, per moving kind (signature, rotation, inflation), the union of the
    // NFPs of the items placed so far and extend it, instead of uniting every
    // NFP afresh. Positions may differ from the exact mode by the 1e-6 grid.
    bool incremental = false;
    // Rotations evaluated side by side on up to this many threads (1: in turn).
    // The result equals the sequential one exactly.
    int threads = 1;

    struct Incremental;

private:
    std::unique_ptr<Incremental> inc_;
};

}  // namespace quarvo
