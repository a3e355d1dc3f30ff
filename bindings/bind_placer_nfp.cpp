// Quarvo.placer_nfp: no-fit polygons, their cache, the union, the candidate
// search and NfpPlacer.
#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>

#include "bindings.hpp"
#include "busy_items.hpp"
#include "convert.hpp"
#include "gc_slots.hpp"
#include "nfp/nfp.hpp"
#include "nfp/nfp_cache.hpp"
#include "nfp/nfp_union.hpp"
#include "options.hpp"
#include "place/nfp/candidate_search.hpp"
#include "placers.hpp"
#include "quarvo/errors.hpp"
#include "quarvo/kernel.hpp"
#include "quarvo/placer_nfp.hpp"
#include "shapes/item_checks.hpp"

using namespace nb::literals;
namespace q = quarvo;

namespace qb {

namespace {

nb::object raw_to_py(const q::RawNfp& r) { return nb::make_tuple(contour_to_py(r.pts), point_to_py(r.top)); }

nb::object search_to_py(const q::SearchResult& r) {
    return nb::make_tuple(r.found ? point_to_py(r.pos) : nb::none(), r.score);
}

void construct_nfp_placer(PyNfpPlacer* self, const nb::handle* args) {
    const double w = to_double(args[0], "bin_w"), h = to_double(args[1], "bin_h");
    OptionValues options = check_options(kNfpPlacer, args + 2);
    nb::object& rotations = options[option_named("rotations")];
    if (rotations.is_none()) rotations = floats_to_list(q::default_rotations());
    new (self) PyNfpPlacer{q::NfpPlacer(w, h), std::move(options), nb::list()};
}

}  // namespace

nb::object signature_to_py(int id) {
    const q::Signature& s = q::signature_of(id);
    if (s.pipe) return nb::make_tuple("R", s.radius, s.bore);
    if (s.circle) return nb::make_tuple("C", s.radius);
    nb::list outer = nb::borrow<nb::list>(contour_to_py(s.outer));
    nb::list holes;
    for (const q::Contour& h : s.holes) holes.append(nb::tuple(contour_to_py(h)));
    return nb::make_tuple("P", nb::tuple(outer), nb::tuple(holes));
}

void PyNfpPlacer::set_option(std::size_t i, nb::handle v) {
    if (busy) throw std::runtime_error("this placer is packing in another thread");
    options[i] = kOptionFields[i].check(v);
}

void PyNfpPlacer::sync() {
    EngineOptions o = engine_options(options, kNfpPlacer);
    eng.set_options(std::move(o.nfp));
    eng.margin = o.margin;
    sync_packed(packed, eng.packed);
}

bool PyNfpPlacer::run(nb::handle item, bool (q::NfpPlacer::*step)(q::Shape&, const q::PlaceRequest&)) {
    q::Shape* s = to_shape(item);
    // The engine runs without the GIL: a second call on this placer from
    // another thread would change its item list under it.
    if (busy) throw std::runtime_error("this placer is already packing in another thread");
    sync();
    // Our own references keep the placed items alive meanwhile, whatever
    // another thread does to the `packed` list.
    nb::object hold = nb::steal(PySequence_Tuple(packed.ptr()));
    if (!hold.is_valid()) throw nb::python_error();
    BusyItems items;
    items.add(*s, "item");
    for (std::size_t k = 0; k < eng.packed.size(); ++k) items.add(*eng.packed[k], "placed item " + std::to_string(k));
    bool ok;
    {
        busy = true;
        struct Clear {
            bool& b;
            ~Clear() { b = false; }
        } clear{busy};
        nb::gil_scoped_release release;
        ok = (eng.*step)(*s, q::PlaceRequest{});
    }
    if (ok) packed.append(item);
    return ok;
}

void bind_placer_nfp(nb::module_& m) {
    m.attr("_SCALE") = q::SCALE;
    m.def("_union_seconds", &q::union_seconds,
          "CPU seconds spent in the polygon union since the process started (for benchmarks).");
    m.def("_angle_2pi", [](nb::handle e) {
        nb::object seq = nb::steal(PySequence_Fast(e.ptr(), "an edge must be a pair of points"));
        if (!seq.is_valid()) throw nb::python_error();
        if (PySequence_Fast_GET_SIZE(seq.ptr()) != 2) throw q::ValueError("an edge must be a pair of points");
        return q::angle_2pi(to_point(PySequence_Fast_GET_ITEM(seq.ptr(), 0)), to_point(PySequence_Fast_GET_ITEM(seq.ptr(), 1)));
    }, "e"_a);
    m.def("nfp_convex_only", [](nb::handle A, nb::handle B) { return raw_to_py(q::nfp_convex_only(to_contour(A), to_contour(B))); },
          "A"_a, "B"_a);
    m.def("correct_nfp_position", [](nb::handle raw, nb::handle top, nb::handle A_rot, nb::handle B_rot) {
        return contour_to_py(q::correct_nfp_position(to_contour(raw), to_point(top), to_contour(A_rot), to_contour(B_rot)));
    }, "raw_nfp"_a, "top_nfp"_a, "A_rot"_a, "B_rot"_a);
    m.def("_geometry_signature", [](nb::handle shape) { return signature_to_py(q::geometry_signature(*to_shape(shape, "shape"))); },
          "shape"_a);
    m.def("compute_nfp", [](nb::handle a, nb::handle b) {
        return contour_to_py(q::compute_nfp(*to_shape(a, "a"), *to_shape(b, "b")));
    }, "a"_a, "b"_a);
    m.def("_compute_nfp0", [](nb::handle a, nb::handle b) {
        q::Shape& sa = *to_shape(a, "a");
        q::Contour c = q::compute_nfp0(sa, *to_shape(b, "b"));
        // about the origin of a's outline as given, not of the one carried to its own
        const q::Pt by = sa.turned_anchor();
        if (by.x != 0.0 || by.y != 0.0)
            for (q::Pt& p : c) p = {p.x + by.x, p.y + by.y};
        return contour_to_py(c);
    }, "a"_a, "b"_a);
    m.def("compute_hole_nfps", [](nb::handle a, nb::handle b) {
        return contours_to_py(q::compute_hole_nfps(*to_shape(a, "a"), *to_shape(b, "b")));
    }, "a"_a, "b"_a);
    m.def("_nfp_region", [](nb::handle a, nb::handle b) {
        q::Shape& sa = *to_shape(a, "a");
        q::Shape& sb = *to_shape(b, "b");
        q::require_sound_item(sa, "a");
        q::require_sound_item(sb, "b");
        q::Region r;
        {
            BusyItems busy;
            busy.add(sa, "a");
            busy.add(sb, "b");
            nb::gil_scoped_release release;
            r = q::compute_nfp0_region(sa, sb);
        }
        for (q::Contour& c : r)
            for (q::Pt& p : c) p = {p.x + sa.tx(), p.y + sa.ty()};
        return contours_to_py(r);
    }, "a"_a, "b"_a, "World NFP of any pair as a region: outer contour first, then its holes (the cavities).");
    m.def("hole_inner_fit", [](nb::handle hole, nb::handle item) {
        q::Shape& s = *to_shape(item, "item");
        q::require_sound_item(s, "item");
        q::Contour h = to_contour(hole);
        q::Region r;
        {
            BusyItems busy;
            busy.add(s, "item");
            nb::gil_scoped_release release;
            r = q::hole_inner_fit(h, s);
        }
        return contours_to_py(r);
    }, "hole"_a, "item"_a,
          "Positions of the item's reference point (top-right vertex, or a circle's centre) that keep it, at its "
          "rotation and inflation, wholly inside the hole: the contours of its inner-fit region.");
    m.def("_beyond_tolerance", [](nb::handle packed, nb::handle item, bool exact) {
        // The incremental mode's guard on a place: the item as it stands against the placed items.
        nb::object seq = as_sequence(packed, "packed must be a sequence of items");
        std::vector<q::Shape*> placed;
        for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(seq.ptr()); ++i)
            placed.push_back(to_shape(PySequence_Fast_GET_ITEM(seq.ptr(), i), "placed item"));
        q::Shape& s = *to_shape(item, "item");
        q::require_sound_item(s, "item");
        q::require_sound_items(placed, "placed item");
        return q::beyond_tolerance(placed, s, exact);
    }, "packed"_a, "item"_a, "exact"_a = false,
          "Whether the item, where it stands, lies deeper than the engine's tolerance in the NFP of a placed item "
          "(outside its cavities and rooms).");
    m.def("_minkowski_stats", [] {
        const q::MinkowskiStats st = q::minkowski_stats();
        return nb::make_tuple(st.nfps, st.seconds);
    }, "Non-convex NFPs built, and their CPU seconds, since the process started (for benchmarks).");
    m.def("merge_nfps", [](nb::handle nfps) { return contours_to_py(q::merge_nfps(to_contours(nfps))); }, "nfps"_a);
    m.def("_sample_boundary", [](nb::handle poly, long long steps) { return contour_to_py(q::sample_boundary(to_contour(poly), steps)); },
          "poly"_a, "steps"_a);
    m.def("_sample_hole_interior", [](nb::handle poly) { return contour_to_py(q::sample_hole_interior(to_contour(poly))); }, "poly"_a);
    m.def("search_best_position", [](nb::handle contours, nb::handle hole_nfps, nb::handle item, nb::handle bin_w,
                                     nb::handle bin_h, long long steps, nb::handle eps, nb::handle placement) {
        const std::vector<q::Contour> c = to_contours(contours), h = to_contours(hole_nfps);
        q::PositionSearch q{*to_shape(item), to_double(bin_w, "bin_w"), to_double(bin_h, "bin_h"), c, h};
        q.steps = steps;
        q.eps = to_double(eps, "eps");
        q.placement = placement_of(placement);
        return search_to_py(q::search_best_position(q));
    }, "contours"_a, "hole_nfps"_a, "item"_a, "bin_w"_a, "bin_h"_a, "steps"_a = 40, "eps"_a = 1e-06, "placement"_a = "corner");

    struct NfpCacheView {};
    nb::class_<NfpCacheView>(m, "_NfpCache", "The process-wide cache of local no-fit polygons (read-only view).")
        .def("__len__", [](const NfpCacheView&) { return q::nfp_cache_size(); })
        .def("__repr__", [](const NfpCacheView&) { return "<NFP cache: " + std::to_string(q::nfp_cache_size()) + " entries>"; });
    m.attr("_nfp_cache") = nb::cast(NfpCacheView{});
    m.def("nfp_cache_info", [] {
        const q::NfpCacheInfo i = q::nfp_cache_info();
        nb::dict d;
        d["entries"] = i.entries;
        d["bytes"] = i.bytes;
        d["limit"] = i.limit;
        d["hits"] = i.hits;
        d["misses"] = i.misses;
        return d;
    }, "Entries, bytes held, bound in bytes, and lookups that hit or missed since the process started.");
    m.def("set_nfp_cache_limit", [](nb::handle bytes) {
        if (!PyLong_Check(bytes.ptr()) || PyBool_Check(bytes.ptr()))
            throw q::TypeError(std::string("the NFP cache limit must be an integer number of bytes, not ") +
                               Py_TYPE(bytes.ptr())->tp_name);
        int overflow = 0;
        long long n = PyLong_AsLongLongAndOverflow(bytes.ptr(), &overflow);
        if (overflow < 0 || (overflow == 0 && n < 0))
            throw q::ValueError("the NFP cache limit must be at least 0 bytes, got " + nb::cast<std::string>(nb::repr(bytes)));
        q::set_nfp_cache_limit(overflow > 0 ? static_cast<std::size_t>(-1) : static_cast<std::size_t>(n));
    }, "bytes"_a = q::kDefaultNfpCacheLimit,
          "Bounds the NFP cache to this many bytes (256 MiB when not given); least recently used entries go first.");
    m.def("clear_nfp_cache", &q::clear_nfp_cache, "Empties the process-wide NFP cache.");

    auto cls = nb::class_<PyNfpPlacer>(m, "NfpPlacer", nb::dynamic_attr(), nb::type_slots(gc_slots<PyNfpPlacer>),
                                       "Places items in one bin by no-fit polygons.");
    def_init<PyNfpPlacer, kNfpPlacer, construct_nfp_placer>(cls, "bin_w"_a, "bin_h"_a);
    def_option_properties<PyNfpPlacer, kNfpPlacer>(cls);
    cls.def_prop_rw("bin_w", [](PyNfpPlacer& p) { return p.eng.bin_w; },
                     [](PyNfpPlacer& p, nb::handle v) { p.eng.bin_w = to_double(v, "bin_w"); })
        .def_prop_rw("bin_h", [](PyNfpPlacer& p) { return p.eng.bin_h; },
                     [](PyNfpPlacer& p, nb::handle v) { p.eng.bin_h = to_double(v, "bin_h"); })
        .def_prop_ro("packed", [](PyNfpPlacer& p) { return p.packed; })
        .def("trypack", [](PyNfpPlacer& p, nb::handle item) {
            return p.run(item, static_cast<bool (q::NfpPlacer::*)(q::Shape&, const q::PlaceRequest&)>(&q::NfpPlacer::trypack));
        }, "item"_a)
        .def("_trypack_empty", [](PyNfpPlacer& p, nb::handle item) { return p.run(item, &q::NfpPlacer::trypack_empty); },
             "item"_a)
        .def("_trypack_nonempty", [](PyNfpPlacer& p, nb::handle item) { return p.run(item, &q::NfpPlacer::trypack_nonempty); },
             "item"_a)
        .def("_rotations_for", [](PyNfpPlacer& p, nb::handle item) -> nb::object {
            q::Shape* s = to_shape(item);
            if (s->is_circle()) return nb::list(nb::make_tuple(0.0));
            return p.options[option_named("rotations")];
        }, "item"_a)
        .def_static("_place_at_origin", [](nb::handle item) { q::NfpPlacer::place_at_origin(*to_shape(item)); }, "item"_a)
        .def("_place_at_center", [](PyNfpPlacer& p, nb::handle item) { p.eng.place_at_center(*to_shape(item)); }, "item"_a)
        .def("_fits", [](PyNfpPlacer& p, nb::handle item, double eps) { return p.eng.fits(*to_shape(item), eps); },
             "item"_a, "eps"_a = 1e-06);
}

}  // namespace qb
