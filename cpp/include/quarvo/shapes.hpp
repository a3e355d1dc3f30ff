// Shape model: the packable items with their transformation state and cached
// geometry, and the bin record.
//
// World geometry is obtained by inflating the local outline by `infl`,
// mirroring it about the local y axis when the item is mirrored (x -> -x),
// rotating it about the local origin, then translating it by (tx, ty).
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "quarvo/kernel.hpp"

namespace quarvo {

// Opaque per-item data that a language binding may attach to an item (its id
// object, its host-side copies of the cached contours). The engine never looks
// inside; it is destroyed with the item.
struct HostData {
    virtual ~HostData() = default;
};

struct CircleGeom {
    Pt center;
    double radius;
};

class Shape {
public:
    enum class Kind { Base, Polygon, Circle, Pipe };

    Shape() : Shape(Kind::Base) {}
    virtual ~Shape() = default;
    Shape(const Shape&) = delete;
    Shape& operator=(const Shape&) = delete;

    Kind kind() const { return kind_; }
    bool is_polygon() const { return kind_ == Kind::Polygon; }
    // A pipe is a circle with a bore: wherever circles are handled, so are pipes.
    bool is_circle() const { return kind_ == Kind::Circle || kind_ == Kind::Pipe; }
    bool is_pipe() const { return kind_ == Kind::Pipe; }

    // The world position of the local origin of the outline the engine works
    // on: for a polygon drawn far from its own origin, of its anchor (see
    // Polygon::anchor); for every other item, of its given outline's origin.
    double tx() const { return tx_; }
    double ty() const { return ty_; }
    // Where the given outline's origin lies: (tx, ty) less the anchor turned
    // with the item (mirrored, then rotated), or (tx, ty) itself without one.
    // A host shows and sets the translation through these; what was set
    // reads back as it was until the engine moves, turns or mirrors the item.
    Pt origin() const;
    // Moves the item so that its given outline's origin lies at (x, y).
    void set_origin(double x, double y);
    // The point of the given outline's frame that the engine's outline is
    // carried to: (0, 0) but for a polygon far from its own origin.
    virtual Pt anchor() const { return {0.0, 0.0}; }
    // The anchor mirrored and rotated with the item: what the given outline's
    // rotated geometry holds beyond the engine's.
    Pt turned_anchor() const;
    double rotation() const { return rotation_; }
    double infl() const { return infl_; }
    void set_tx(double v) { tx_ = v; dirty_ = true; }
    void set_ty(double v) { ty_ = v; dirty_ = true; }
    void set_rotation(double v) { rotation_ = v; dirty_ = true; }
    void set_infl(double v) { infl_ = v; dirty_ = true; }
    void translate(double dx, double dy) { tx_ += dx; ty_ += dy; dirty_ = true; }
    void set_position(double x, double y) { tx_ = x; ty_ = y; dirty_ = true; }
    // Mirrored about the local y axis before the rotation; a circle is its own
    // mirror image, so only a polygon's geometry follows it.
    bool mirrored() const { return mirrored_; }
    void set_mirrored(bool on);
    double total_inflation(double global_infl) const { return (global_infl + inflation) + margin; }
    bool dirty() const { return dirty_; }

    virtual double area() const;
    virtual BBox bounding_box() const;
    virtual Pt reference_point_local() const;
    // The world outline as one closed contour: the outer contour of a polygon,
    // the kCircleSides-gon of a circle.
    virtual Contour world_contour() const;
    // A private copy of the item's geometry and transformation state (no host
    // data), for evaluating rotations side by side.
    virtual std::unique_ptr<Shape> clone_geometry() const;

    std::optional<double> cached_area() const { return cache_area_; }

    double inflation = 0.0;
    double margin = 0.0;
    // How messages name the item: the host's shape_id as text, or empty.
    std::string name;
    long long bin_id = -1;
    double weight = 0.0;
    // Mass in kg that counts against a bin's payload: 0 unless the caller sets
    // it; a pipe's own, from its size, length and density.
    double mass = 0.0;

    // Interned geometry signature (NFP cache), -1 until first needed; a
    // mirrored polygon has one of its own.
    int sig_id = -1;
    int sig_id_mirrored = -1;
    std::unique_ptr<HostData> host;

protected:
    explicit Shape(Kind k) : kind_(k) {}
    void copy_state_to(Shape& to) const;

    Kind kind_;
    double tx_ = 0.0, ty_ = 0.0, rotation_ = 0.0, infl_ = 0.0;
    // The origin last set through set_origin and the pose it gave (an
    // anchored outline's origin reads back from it while the pose holds).
    struct SetOrigin {
        Pt origin{};
        double tx = kInf, ty = kInf, rotation = kInf;
        bool mirrored = false;
    } set_origin_;
    bool mirrored_ = false;
    mutable bool dirty_ = true;
    mutable std::optional<double> cache_area_;
};

class Polygon : public Shape {
public:
    // ValueError (naming the item by `name`) when the rings do not bound a
    // sound region: see require_sound_outline (item_checks.hpp).
    explicit Polygon(const Contour& outer, const std::vector<Contour>& holes = {}, std::string name = {});

    // The stored contours, as given (never mirrored), in the given frame.
    const Contour& outer() const { return anchored() ? given_outer_ : outer_; }
    const std::vector<Contour>& holes() const { return anchored() ? given_holes_ : holes_; }
    // An outline whose box's centre lies farther than kFarFromOrigin from its
    // own origin, or farther than kFarRatio times its own size, is carried to
    // its origin when the polygon is built: the engine keeps and works on the
    // outline less this anchor (the box's centre, rounded to a multiple of a
    // power of two below the outline's size), so that no area, no-fit polygon,
    // union or grid meets coordinates that swamp it, and (tx, ty) place the
    // anchor. origin() gives the given outline's translation.
    Pt anchor() const override { return anchor_; }
    bool anchored() const { return anchor_.x != 0.0 || anchor_.y != 0.0; }
    static constexpr double kFarFromOrigin = 1048576.0;  // 2^20
    static constexpr double kFarRatio = 8192.0;          // 2^13: areas to 1e-8
    bool is_container() const { return !holes_.empty(); }
    // The contours the geometry is built from: the stored ones (less the
    // anchor), or their mirror images (x -> -x, turned round so that the
    // outer contour stays clockwise and the holes counter-clockwise) when the
    // item is mirrored.
    const Contour& local_outer() const;
    const std::vector<Contour>& local_holes() const;
    // Whether the mirror image is the outline itself moved sideways (a shape
    // symmetric about a vertical line), computed once: mirroring it gains nothing.
    bool mirror_symmetric() const;

    // The outer contour grown by infl: moved edges meeting at their
    // intersections, which is exact for a convex outline. A non-convex outline
    // under the mitred rule grows with mitred corners instead (see
    // mitred_offset), which keeps the full clearance everywhere.
    Contour inflated_outer() const;
    // The mitred rule for a non-convex outline, set by NFP placers that take
    // non-convex items; a convex outline grows the same either way.
    void set_mitred_outline(bool on);
    bool mitred_outline() const { return mitred_; }
    // Cached lists, valid until the next move, rotation or inflation change.
    const Contour& rotated_shape() const;
    const Contour& transformed() const;
    std::vector<Contour> transformed_holes() const;
    // The same contour as rotated_shape(), remembered for the rotation and
    // inflation it was built for, whatever the moves in between. The placers
    // use it; it leaves the public caches and the dirty flag alone.
    const Contour& rotated_contour() const;

    double area() const override;
    BBox bounding_box() const override;
    Pt reference_point_local() const override;
    Contour world_contour() const override { return transformed(); }
    std::unique_ptr<Shape> clone_geometry() const override;

    bool has_cache_rotated() const { return has_rot_; }
    bool has_cache_transformed() const { return has_tr_; }
    // The cached lists as they are, stale or not, without recomputing.
    const Contour& cache_rotated() const { return cache_rotated_; }
    const Contour& cache_transformed() const { return cache_transformed_; }
    // Incremented each time the rotated / world contour is rebuilt, so that a
    // binding can tell whether its host copy still matches.
    std::uint64_t rotated_gen() const { return rot_gen_; }
    std::uint64_t transformed_gen() const { return tr_gen_; }
    // Convexity of the stored outer contour, computed once.
    bool outer_convex() const;
    // Whether the stored outer contour turns exactly once around (a star whose
    // turns all have one sign passes is_convex but turns more), computed once.
    bool outer_turns_once() const;

private:
    // The inflated outer contour rotated about the local origin.
    Contour build_rotated() const;

    struct Stored {};
    Polygon(Stored, const Polygon& from);  // copies the stored contours as they are

    void build_mirror() const;

    // The outline the engine works on: the given one less the anchor.
    Contour outer_;
    std::vector<Contour> holes_;
    Pt anchor_{0.0, 0.0};
    Contour given_outer_;  // with an anchor: the contours as given
    std::vector<Contour> given_holes_;
    mutable Contour mirror_outer_;
    mutable std::vector<Contour> mirror_holes_;
    mutable bool has_mirror_ = false;
    mutable int mirror_symmetric_ = -1;
    mutable Contour cache_rotated_, cache_transformed_;
    mutable bool has_rot_ = false, has_tr_ = false;
    mutable std::uint64_t rot_gen_ = 0, tr_gen_ = 0;
    mutable Contour memo_;
    mutable bool has_memo_ = false;
    mutable double memo_rot_ = 0.0, memo_infl_ = 0.0;
    mutable bool memo_mirrored_ = false;
    mutable int convex_ = -1;
    mutable int turns_once_ = -1;
    bool mitred_ = false;
};

class Circle : public Shape {
public:
    // ValueError for a negative radius.
    explicit Circle(double radius, std::string name = {});

    CircleGeom rotated_shape() const { return {{0.0, 0.0}, radius + infl_}; }
    CircleGeom transformed() const { return {{tx_, ty_}, radius + infl_}; }

    double area() const override;
    BBox bounding_box() const override;
    Pt reference_point_local() const override { return {0.0, 0.0}; }
    Contour world_contour() const override;
    std::unique_ptr<Shape> clone_geometry() const override;

    double radius;

protected:
    Circle(Kind k, double radius) : Shape(k), radius(radius) {}
};

// What a pipe's mass stands for: its steel by its size and density (the
// plain-end mass), its nominal weight as sold (threads and couplings
// included), or a mass the caller gave.
enum class MassBasis { PlainEnd, Nominal, Given };

// A steel pipe by its outer diameter and wall (mm): a circle of radius od / 2
// with a round bore of radius od / 2 - wall (none where wall >= od / 2). Its
// outline is exact wherever circles are; where a contour stands for it, the
// outer circle is the circumscribed kCircleSides-gon and the bore the
// inscribed one, whatever the placer's options, so that no clearance is lost.
class Pipe : public Circle {
public:
    // ValueError naming the pipe and the value: od, wall, length (m; none:
    // mass per metre) and density (kg/m3) positive and finite.
    Pipe(double od, double wall, std::optional<double> length = std::nullopt, double density = 7850.0,
         std::string name = {});

    double od() const { return od_; }
    double wall() const { return wall_; }
    // In metres; none when the pipe has no length (its mass is then per metre).
    std::optional<double> length() const { return length_; }
    double density() const { return density_; }
    // Radius of the bore; 0 for a solid bar.
    double bore() const { return bore_; }
    bool has_bore() const { return bore_ > 0.0; }
    // The bore less `shrink` as a closed counter-clockwise contour in world
    // coordinates: the inscribed kCircleSides-gon about the centre.
    Contour world_bore(double shrink = 0.0) const;

    // The mass of one piece in kg (per metre without a length) and what it
    // stands for; the weight follows it, so that heavier pipes still go first.
    void set_mass(double kg, MassBasis basis);
    MassBasis mass_basis() const { return mass_basis_; }

    std::unique_ptr<Shape> clone_geometry() const override;

    // Outside diameter of the coupling in mm, 0 for a pipe without one: the
    // pipe goes into a bore only where its coupling passes it. +infinity is a
    // coupling of unknown size, which passes no bore.
    double coupling_od = 0.0;

private:
    MassBasis mass_basis_ = MassBasis::PlainEnd;
    double od_, wall_;
    std::optional<double> length_;
    double density_, bore_;
};

inline const Pipe& pipe_cast(const Shape& s) { return static_cast<const Pipe&>(s); }

// Downcasts for code that has looked at kind() first.
inline const Polygon& polygon_cast(const Shape& s) { return static_cast<const Polygon&>(s); }
inline const Circle& circle_cast(const Shape& s) { return static_cast<const Circle&>(s); }

// The outline of a bin that is no plain rectangle (a remnant, a hide) and the
// flaws of its material, in the bin's frame: every point of `outer` and its
// holes within [0, width] x [0, height], each ring closed. Items lie inside
// `outer`, outside its holes and clear of every defect, and keep the bin's
// edge margin from all of them.
struct BinShape {
    // The outline; empty: the rectangle [0, width] x [0, height].
    Contour outer;
    // Cut-outs of the outline.
    std::vector<Contour> holes;
    // Areas no item may overlap; they may cross the outline and each other.
    std::vector<Contour> defects;
};

// A point the load of a bin bears on (a semi-trailer's kingpin, its axle
// group): `at` metres from the front of the bin's length, at most `max_load`
// kg of the load on it.
struct Support {
    std::string name;
    double at;
    double max_load;
};

// A bin's size, and the limits of what it carries: at most `max_load` kg of
// the items' mass, and no pipe longer than `length` (mm; a pipe's length is in
// m). Infinite: no limit. With rows along the length (RowOptions), the load
// bears on `supports`: none, or two.
struct Bin {
    double width;
    double height;
    // Every item's outline keeps at least this much from the bin's edges
    // (see Placer::margin).
    double margin = 0.0;
    double max_load = kInf;
    double length = kInf;
    // Null: the rectangle, without defects. Shared by every bin of its kind.
    std::shared_ptr<const BinShape> shape = nullptr;
    // How many bins of this kind there are (none: any number) and what one
    // costs (none: its area, see bin_cost).
    std::optional<long long> count = std::nullopt;
    std::optional<double> cost = std::nullopt;
    std::vector<Support> supports = {};
};

// The bin's area: its outline's less its holes' (a rectangle's width x height).
double bin_area(const Bin& bin);
// Its area less the defects: the material items can use.
double usable_area(const Bin& bin);
// What one bin costs: its `cost`, or its area when none is given.
double bin_cost(const Bin& bin);
// The outline items lie in: `outer`, or the bin's rectangle (clockwise, closed).
Contour bin_outline(const Bin& bin);
// The area of an item's material: its outline's less its holes' (a pipe's ring).
double material_area(const Shape& s);

}  // namespace quarvo
