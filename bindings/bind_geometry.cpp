// Quarvo.geometry: Shape, Polygon, Circle.
#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>

#include "bindings.hpp"
#include "busy_items.hpp"
#include "convert.hpp"
#include "core/validate.hpp"
#include "gc_slots.hpp"
#include "placers.hpp"
#include "quarvo/errors.hpp"
#include "quarvo/shapes.hpp"
#include "shapes/item_checks.hpp"

using namespace nb::literals;
namespace q = quarvo;

namespace qb {

namespace {

// The engine's contours of an outline carried to its origin, back in the
// frame of the outline as given.
q::Contour given_frame(const q::Contour& c, q::Pt by) {
    q::Contour out;
    out.reserve(c.size());
    for (const q::Pt& p : c) out.push_back({p.x + by.x, p.y + by.y});
    return out;
}

nb::object polygon_rotated(q::Polygon& p) {
    const q::Contour& c = p.rotated_shape();
    PyHost& h = host_of(p);
    if (p.anchored()) return host_copy(h.rotated, h.rotated_gen, given_frame(c, p.turned_anchor()), p.rotated_gen());
    return host_copy(h.rotated, h.rotated_gen, c, p.rotated_gen());
}

// A change of rotation or mirror image keeps the given outline's origin where it is.
template <class F>
void keeping_origin(q::Shape& s, F&& change) {
    const q::Pt o = s.origin();
    change();
    if (s.anchor().x != 0.0 || s.anchor().y != 0.0) s.set_origin(o.x, o.y);
}

double origin_x(q::Shape& s) {
    require_idle(s);
    return s.origin().x;
}
double origin_y(q::Shape& s) {
    require_idle(s);
    return s.origin().y;
}

nb::object circle_geom(const q::CircleGeom& g) { return nb::make_tuple(point_to_py(g.center), g.radius); }

nb::object shape_transformed(q::Shape& s) {
    require_idle(s);
    if (s.is_polygon()) return polygon_world(static_cast<q::Polygon&>(s));
    if (s.is_circle()) return circle_geom(static_cast<q::Circle&>(s).transformed());
    throw q::NotImplementedError();
}

nb::object shape_rotated(q::Shape& s) {
    require_idle(s);
    if (s.is_polygon()) return polygon_rotated(static_cast<q::Polygon&>(s));
    if (s.is_circle()) return circle_geom(static_cast<q::Circle&>(s).rotated_shape());
    throw q::NotImplementedError();
}

// A getter of state the engine writes while it packs the item.
template <class T>
auto idle(T (q::Shape::*get)() const) {
    return [get](q::Shape& s) {
        require_idle(s);
        return (s.*get)();
    };
}

void init_host(q::Shape& s, nb::handle shape_id) {
    host_of(s).shape_id = nb::borrow(shape_id);
    s.name = shape_label(shape_id);
}

// Setters of sizes that may not be negative run the constructor's check.
double not_negative(q::Shape& s, nb::handle v, const char* name) {
    const double d = to_double(v, name);
    q::require_not_negative(d, q::item_label(s, "item"), name);
    return d;
}

const char* mass_basis_name(q::MassBasis b) {
    switch (b) {
        case q::MassBasis::Nominal: return "nominal";
        case q::MassBasis::Given: return "given";
        default: return "plain_end";
    }
}

// A pipe's own mass as its keywords give it: per piece (`mass`) or per
// metre, and what it stands for; PlainEnd when none is given.
struct PipeMass {
    q::MassBasis basis = q::MassBasis::PlainEnd;
    double kg = 0.0;
    bool per_piece = false;
};

PipeMass pipe_mass(const std::string& what, nb::handle basis, nb::handle mass, nb::handle mass_per_m) {
    PipeMass out;
    std::string b = "given";
    if (!basis.is_none()) {
        if (!nb::isinstance<nb::str>(basis))
            throw q::TypeError(what + ": mass_basis must be 'plain_end', 'nominal' or 'given', not " +
                               nb::cast<std::string>(nb::repr(basis)));
        b = nb::cast<std::string>(basis);
        if (b != "plain_end" && b != "nominal" && b != "given")
            throw q::ValueError(what + ": mass_basis must be 'plain_end', 'nominal' or 'given', not '" + b + "'");
    }
    if (!mass.is_none() && !mass_per_m.is_none()) throw q::ValueError(what + ": give mass or mass_per_m, not both");
    if (mass.is_none() && mass_per_m.is_none()) {
        if (b == "nominal")
            throw q::ValueError(what + ": mass_basis 'nominal' needs the nominal weight as mass_per_m (kg/m); "
                                "Quarvo.pipes.standard(size, schedule, mass_basis='nominal') gives it for API 5CT sizes");
        if (b == "given") {
            if (!basis.is_none()) throw q::ValueError(what + ": mass_basis 'given' needs mass or mass_per_m");
        }
        return out;
    }
    if (b == "plain_end")
        throw q::ValueError(what + ": mass_basis 'plain_end' is the mass by size and density; a mass given is "
                            "'given' or 'nominal'");
    out.basis = b == "nominal" ? q::MassBasis::Nominal : q::MassBasis::Given;
    out.per_piece = !mass.is_none();
    out.kg = to_double(out.per_piece ? mass : mass_per_m, out.per_piece ? "mass" : "mass_per_m");
    q::require_value(out.kg, what, out.per_piece ? "mass" : "mass_per_m");
    q::require_not_negative(out.kg, what, out.per_piece ? "mass" : "mass_per_m");
    return out;
}

// A coupling's outside diameter: positive, or +infinity for one of unknown size; 0 for none.
double coupling_value(const std::string& what, nb::handle v) {
    const double c = to_double(v, "coupling_od");
    if (!(c >= 0.0) || (c < q::kInf && c > q::MAX_COORDINATE))
        throw q::ValueError(what + ": coupling_od is " + q::format_number(c) +
                            ", not a diameter in mm of at least 0 (inf: of unknown size)");
    return c;
}

}  // namespace

int gc_visit(q::Shape& s, visitproc visit, void* arg) {
    if (auto* h = dynamic_cast<PyHost*>(s.host.get())) {
        Py_VISIT(h->shape_id.ptr());
        Py_VISIT(h->rotated.ptr());
        Py_VISIT(h->transformed.ptr());
    }
    return 0;
}

void gc_clear(q::Shape& s) {
    if (auto* h = dynamic_cast<PyHost*>(s.host.get())) {
        h->shape_id = nb::none();
        h->rotated.reset();
        h->transformed.reset();
    }
}

void bind_geometry(nb::module_& m) {
    nb::class_<q::Shape>(m, "Shape", nb::dynamic_attr(), nb::type_slots(gc_slots<q::Shape>),
                         "Base of every packable item: translation, rotation, inflation and cached geometry.")
        .def("__init__", [](q::Shape* self, nb::handle shape_id) {
            new (self) q::Shape();
            init_host(*self, shape_id);
        }, "shape_id"_a.none() = 0)
        .def_prop_rw("tx", &origin_x, [](q::Shape& s, nb::handle v) {
            require_idle(s);
            s.set_origin(to_double(v, "tx"), s.origin().y);
        })
        .def_prop_rw("ty", &origin_y, [](q::Shape& s, nb::handle v) {
            require_idle(s);
            s.set_origin(s.origin().x, to_double(v, "ty"));
        })
        .def_prop_rw("rotation", idle(&q::Shape::rotation), [](q::Shape& s, nb::handle v) {
            require_idle(s);
            const double r = to_double(v, "rotation");
            keeping_origin(s, [&] { s.set_rotation(r); });
        })
        .def_prop_rw("infl", idle(&q::Shape::infl), [](q::Shape& s, nb::handle v) { require_idle(s); s.set_infl(to_double(v, "infl")); })
        .def_prop_rw("mirrored", idle(&q::Shape::mirrored), [](q::Shape& s, nb::handle v) {
            require_idle(s);
            if (!PyBool_Check(v.ptr()))
                throw q::TypeError(q::item_label(s, "item") + ": mirrored must be True or False, not " +
                                   Py_TYPE(v.ptr())->tp_name);
            keeping_origin(s, [&] { s.set_mirrored(v.ptr() == Py_True); });
        }, nb::for_setter(nb::arg("value").none()),
           nb::for_getter("Whether the item is mirrored about its local y axis (x -> -x) before it is rotated."))
        .def_prop_ro("_tx", &origin_x)
        .def_prop_ro("_ty", &origin_y)
        .def_prop_ro("_rotation", idle(&q::Shape::rotation))
        .def_prop_ro("_infl", idle(&q::Shape::infl))
        .def_prop_ro("_dirty", idle(&q::Shape::dirty))
        .def_prop_ro("_cache_area", [](q::Shape& s) -> nb::object {
            require_idle(s);
            if (auto a = s.cached_area()) return nb::float_(*a);
            return nb::none();
        })
        .def_prop_ro("_cache_transformed", [](q::Shape& s) -> nb::object {
            require_idle(s);
            if (!s.is_polygon()) return nb::none();
            auto& p = static_cast<q::Polygon&>(s);
            if (!p.has_cache_transformed()) return nb::none();
            PyHost& h = host_of(p);
            return host_copy(h.transformed, h.transformed_gen, p.cache_transformed(), p.transformed_gen());
        })
        .def_prop_ro("_cache_rotated", [](q::Shape& s) -> nb::object {
            require_idle(s);
            if (!s.is_polygon()) return nb::none();
            auto& p = static_cast<q::Polygon&>(s);
            if (!p.has_cache_rotated()) return nb::none();
            PyHost& h = host_of(p);
            if (p.anchored())
                return host_copy(h.rotated, h.rotated_gen, given_frame(p.cache_rotated(), p.turned_anchor()),
                                 p.rotated_gen());
            return host_copy(h.rotated, h.rotated_gen, p.cache_rotated(), p.rotated_gen());
        })
        .def_prop_ro("_sig_cache", [](q::Shape& s) -> nb::object {
            require_idle(s);
            const int id = s.is_polygon() && s.mirrored() ? s.sig_id_mirrored : s.sig_id;
            if (id < 0) throw nb::attribute_error("_sig_cache");
            return signature_to_py(id);
        })
        .def_prop_rw("inflation", [](q::Shape& s) { return s.inflation; },
                     [](q::Shape& s, nb::handle v) { require_idle(s); s.inflation = not_negative(s, v, "inflation"); })
        .def_prop_rw("margin", [](q::Shape& s) { return s.margin; },
                     [](q::Shape& s, nb::handle v) { require_idle(s); s.margin = not_negative(s, v, "margin"); })
        .def_prop_rw("weight", [](q::Shape& s) { return s.weight; },
                     [](q::Shape& s, nb::handle v) { require_idle(s); s.weight = to_double(v, "weight"); })
        .def_prop_rw("mass", [](q::Shape& s) { return s.mass; }, [](q::Shape& s, nb::handle v) {
            require_idle(s);
            const double m = not_negative(s, v, "mass");
            q::require_value(m, q::item_label(s, "item"), "mass");
            s.mass = m;
        }, "Mass in kg that counts against a bin's max_load (0 unless set).")
        .def_prop_rw("bin_id", [](q::Shape& s) { return s.bin_id; }, [](q::Shape& s, long long v) {
            require_idle(s);
            s.bin_id = v;
        })
        .def_prop_rw("shape_id", [](q::Shape& s) -> nb::object { return host_of(s).shape_id; },
                     [](q::Shape& s, nb::handle v) {
                         require_idle(s);  // the engine names the item by it
                         init_host(s, v);
                     },
                     nb::for_setter(nb::arg("value").none()))
        .def("translate", [](q::Shape& s, nb::handle dx, nb::handle dy) {
            require_idle(s);
            s.translate(to_double(dx, "dx"), to_double(dy, "dy"));
        }, "dx"_a, "dy"_a)
        .def("set_position", [](q::Shape& s, nb::handle x, nb::handle y) {
            require_idle(s);
            s.set_origin(to_double(x, "x"), to_double(y, "y"));
        }, "x"_a, "y"_a)
        .def("total_inflation", [](q::Shape& s, nb::handle g) { return s.total_inflation(to_double(g, "global_infl")); },
             "global_infl"_a)
        .def("transformed", &shape_transformed)
        .def("rotated_shape", &shape_rotated)
        .def("area", [](q::Shape& s) {
            require_idle(s);  // the area is cached on first use
            return s.area();
        })
        .def("bounding_box", [](q::Shape& s) {
            require_idle(s);
            return bbox_to_py(s.bounding_box());
        })
        .def("reference_point_local", [](q::Shape& s) {
            require_idle(s);
            const q::Pt r = s.reference_point_local(), a = s.turned_anchor();
            return point_to_py(a.x == 0.0 && a.y == 0.0 ? r : q::Pt{r.x + a.x, r.y + a.y});
        });

    nb::class_<q::Polygon, q::Shape>(m, "Polygon", nb::dynamic_attr(), nb::type_slots(gc_slots<q::Shape>),
                                     "A polygon item: a clockwise outer contour and counter-clockwise holes.")
        .def("__init__", [](q::Polygon* self, nb::handle outer, nb::handle holes, nb::handle shape_id) {
            q::Contour o = to_contour(outer);
            std::vector<q::Contour> hs = to_contours(holes);
            new (self) q::Polygon(o, hs, shape_label(shape_id));
            init_host(*self, shape_id);
        }, "outer"_a, "holes"_a = nb::none(), "shape_id"_a.none() = 0)
        .def_prop_ro("outer", [](q::Polygon& p) { return contour_to_py(p.outer()); })
        .def_prop_ro("holes", [](q::Polygon& p) { return contours_to_py(p.holes()); })
        .def_prop_ro("is_container", &q::Polygon::is_container)
        .def("_inflated_outer", [](q::Polygon& p) {
            require_idle(p);
            if (!p.anchored()) return contour_to_py(p.inflated_outer());
            const q::Pt a = p.anchor();
            return contour_to_py(given_frame(p.inflated_outer(), {p.mirrored() ? -a.x : a.x, a.y}));
        })
        .def("transformed_holes", [](q::Polygon& p) {
            require_idle(p);
            return contours_to_py(p.transformed_holes());
        });

    nb::class_<q::Circle, q::Shape>(m, "Circle", nb::dynamic_attr(), nb::type_slots(gc_slots<q::Shape>),
                                    "A circle item centred on its local origin.")
        .def("__init__", [](q::Circle* self, nb::handle radius, nb::handle shape_id) {
            double r = to_double(radius, "radius");
            new (self) q::Circle(r, shape_label(shape_id));
            init_host(*self, shape_id);
        }, "radius"_a, "shape_id"_a.none() = 0)
        .def_prop_rw("radius", [](q::Circle& c) { return c.radius; },
                     [](q::Circle& c, nb::handle v) {
                         require_idle(c);
                         c.radius = not_negative(c, v, "radius");
                     });

    nb::class_<q::Pipe, q::Circle>(m, "Pipe", nb::dynamic_attr(), nb::type_slots(gc_slots<q::Shape>),
                                   "A steel pipe: outer diameter od and wall in mm, length in m (None: mass per\n"
                                   "metre), density in kg/m3. A circle of radius od / 2 with a round bore of radius\n"
                                   "od / 2 - wall (none where wall >= od / 2) that other items may go into. Its true\n"
                                   "walls keep the clear distance whatever exact_clearance says. weight defaults to\n"
                                   "the mass, so heavier pipes are packed first.")
        .def("__init__", [](q::Pipe* self, nb::handle od, nb::handle wall, nb::handle length, nb::handle density,
                            nb::handle shape_id, nb::handle mass_basis, nb::handle mass, nb::handle mass_per_m,
                            nb::handle coupling_od) {
            const double o = to_double(od, "od"), w = to_double(wall, "wall"), d = to_double(density, "density");
            const std::string name = shape_label(shape_id);
            const std::string what = name.empty() ? "pipe" : "pipe (shape_id " + name + ")";
            std::optional<double> l;
            if (!length.is_none()) {
                l = to_double(length, "length");
                // NaN is not "no length": refuse it by name like any other bad length
                q::require_value(*l, what, "length");
            }
            // Read before the pipe is made: a refusal leaves no half-made pipe.
            const PipeMass given = pipe_mass(what, mass_basis, mass, mass_per_m);
            const double coupling = coupling_od.is_none() ? 0.0 : coupling_value(what, coupling_od);
            new (self) q::Pipe(o, w, l, d, name);
            init_host(*self, shape_id);
            if (given.basis != q::MassBasis::PlainEnd)
                self->set_mass(given.per_piece ? given.kg : given.kg * l.value_or(1.0), given.basis);
            self->coupling_od = coupling;
        }, "od"_a, "wall"_a, "length"_a.none() = nb::none(), "density"_a = 7850.0, "shape_id"_a.none() = 0,
           nb::kw_only(), "mass_basis"_a.none() = nb::none(), "mass"_a.none() = nb::none(),
           "mass_per_m"_a.none() = nb::none(), "coupling_od"_a.none() = nb::none())
        .def_prop_ro("od", &q::Pipe::od, "Outer diameter (mm).")
        .def_prop_ro("wall", &q::Pipe::wall, "Wall thickness (mm).")
        .def_prop_ro("length", [](q::Pipe& p) -> nb::object {
            if (auto l = p.length()) return nb::float_(*l);
            return nb::none();
        }, "Length (m), or None.")
        .def_prop_ro("density", &q::Pipe::density, "Density (kg/m3).")
        .def_prop_ro("mass", [](q::Pipe& p) { return p.mass; },
                     "kg per piece: density x pi/4 x (od^2 - (od - 2 wall)^2) x length (per metre without a\n"
                     "length), or the mass or mass_per_m given.")
        .def_prop_ro("mass_basis", [](q::Pipe& p) { return mass_basis_name(p.mass_basis()); },
                     "What the mass stands for: 'plain_end' (by size and density), 'nominal' (the weight as\n"
                     "sold, threads and couplings included) or 'given'.")
        .def_prop_ro("coupling_od", [](q::Pipe& p) -> nb::object {
            if (p.coupling_od > 0.0) return nb::float_(p.coupling_od);
            return nb::none();
        }, "Outside diameter of the coupling (mm), None without one; inf for a coupling of unknown size.\n"
           "The pipe goes into a bore only where its coupling passes with the distance.")
        .def_prop_ro("radius", [](q::Pipe& p) { return p.radius; }, "od / 2.")
        .def_prop_ro("bore", &q::Pipe::bore, "Radius of the bore (0 for a solid bar).")
        .def_prop_ro("is_container", &q::Pipe::has_bore, "Whether the pipe has a bore.")
        .def("transformed_holes", [](q::Pipe& p) {
            require_idle(p);
            return contours_to_py(p.has_bore() ? std::vector<q::Contour>{p.world_bore()} : std::vector<q::Contour>{});
        }, "The bore as the inscribed 64-gon, counter-clockwise, in world coordinates (none for a solid bar).")
        .def("__repr__", [](q::Pipe& p) {
            auto num = [](double v) { return nb::cast<std::string>(nb::repr(nb::float_(v))); };
            std::string s = "Pipe(od=" + num(p.od()) + ", wall=" + num(p.wall());
            if (auto l = p.length()) s += ", length=" + num(*l);
            if (p.density() != 7850.0) s += ", density=" + num(p.density());
            if (p.mass_basis() != q::MassBasis::PlainEnd)
                s += std::string(", mass_basis='") + mass_basis_name(p.mass_basis()) + "', mass=" + num(p.mass);
            if (p.coupling_od > 0.0) s += ", coupling_od=" + num(p.coupling_od);
            nb::object id = host_of(p).shape_id;
            if (!(nb::isinstance<nb::int_>(id) && nb::cast<long long>(id) == 0))
                s += ", shape_id=" + nb::cast<std::string>(nb::repr(id));
            return s + ")";
        });
}

}  // namespace qb
