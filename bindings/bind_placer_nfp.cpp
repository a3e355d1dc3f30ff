// Quarvo.placer_nfp: no-fit polygons, their cache, the union, the candidate
// search and NfpPlacer.
#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>

#include "bindings.hpp"
#include "busy_items.hpp"
#include "convert.hpp"
#include "placers.hpp"
#include "quarvo/errors.hpp"
#include "quarvo/clipper_util.hpp"
#include "quarvo/candidate_search.hpp"
#include "quarvo/minkowski.hpp"
#include "quarvo/nfp.hpp"
#include "quarvo/nfp_cache.hpp"
#include "quarvo/nfp_depth.hpp"
#include "quarvo/nfp_union.hpp"
#include "quarvo/placer_nfp.hpp"

using namespace nb::literals;
namespace q = quarvo;

namespace qb {

namespace {

nb::object raw_to_py(const q::RawNfp& r) { return nb::make_tuple(contour_to_py(r.pts), point_to_py(r.top)); }

nb::object search_to_py(const q::SearchResult& r) {
    return nb::make_tuple(r.found ? point_to_py(r.pos) : nb::none(), r.score);
}

}  // namespace

nb::object signature_to_py(int id) {
    const q::Signature& s = q::signature_of(id);
    if (s.circle) return nb::make_tuple("C", s.radius);
    nb::list outer = nb::borrow<nb::list>(contour_to_py(s.outer));
    nb::list holes;
    for (const q::Contour& h : s.holes) holes.append(nb::tuple(contour_to_py(h)));
    return nb::make_tuple("P", nb::tuple(outer), nb::tuple(holes));
}

void PyNfpPlacer::sync() {
    eng.options.rotations = rotations.is_none() ? std::vector<double>{}
                                        : to_doubles(rotations, "rotations must be a sequence of angles", "rotation");
    eng.options.placement = placement_of(placement);
    sync_packed(packed, eng.packed);
}

bool PyNfpPlacer::run(nb::handle item, bool (q::NfpPlacer::*step)(q::Shape&)) {
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
        ok = (eng.*step)(*s);
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
        return contour_to_py(q::compute_nfp0(*to_shape(a, "a"), *to_shape(b, "b")));
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
            r = q::hole_inner_fit(h, q::item_contour(s), q::item_reference(s));
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
        std::vector<std::shared_ptr<const q::Region>> locals(placed.size());
        const std::function<void()> none = [] {};
        return q::deeper_than_tolerance(placed, s, {s.tx(), s.ty()}, q::hole_rooms(placed, false, true),
                                        [&](std::size_t j) -> const q::Region& {
                                            if (!locals[j]) locals[j] = q::local_nfp(*placed[j], s, exact, true);
                                            return *locals[j];
                                        },
                                        exact, none);
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
        return search_to_py(q::search_best_position(to_contours(contours), to_contours(hole_nfps), *to_shape(item),
                                                    to_double(bin_w, "bin_w"), to_double(bin_h, "bin_h"), steps,
                                                    to_double(eps, "eps"), placement_of(placement)));
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

    nb::class_<PyNfpPlacer>(m, "NfpPlacer", nb::dynamic_attr(), "Places items in one bin by no-fit polygons.")
        .def("__init__", [](PyNfpPlacer* self, nb::handle bin_w, nb::handle bin_h, nb::handle rotations, nb::handle placement,
                            bool incremental, nb::handle threads, nb::handle hole_fill, bool exact_clearance,
                            nb::handle nonconvex) {
            double w = to_double(bin_w, "bin_w"), h = to_double(bin_h, "bin_h");
            nb::object rots = rotations.is_none() ? nb::object(floats_to_list(q::default_rotations())) : nb::borrow(rotations);
            placement_of(placement);
            new (self) PyNfpPlacer{q::NfpPlacer(w, h), rots, nb::borrow(placement), nb::list()};
            self->eng.options.incremental = incremental;
            self->eng.options.threads = thread_count(threads);
            self->eng.options.hole_fill = hole_fill_of(hole_fill);
            self->eng.options.exact_clearance = exact_clearance;
            self->eng.options.nonconvex = flag_value(nonconvex, "nonconvex");
        }, "bin_w"_a, "bin_h"_a, "rotations"_a.none() = nb::none(), "placement"_a.none() = "corner",
           "incremental"_a = false, "threads"_a.none() = nb::none(), "hole_fill"_a.none() = "sampled",
           "exact_clearance"_a = false, "nonconvex"_a.none() = false)
        .def_prop_rw("hole_fill", [](PyNfpPlacer& p) { return hole_fill_name(p.eng.options.hole_fill); },
                     [](PyNfpPlacer& p, nb::handle v) { p.eng.options.hole_fill = hole_fill_of(v); },
                     nb::for_setter(nb::arg("value").none()))
        .def_prop_rw("exact_clearance", [](PyNfpPlacer& p) { return p.eng.options.exact_clearance; },
                     [](PyNfpPlacer& p, bool v) { p.eng.options.exact_clearance = v; })
        .def_prop_rw("nonconvex", [](PyNfpPlacer& p) { return p.eng.options.nonconvex; },
                     [](PyNfpPlacer& p, nb::handle v) {
                         if (p.busy) throw std::runtime_error("this placer is packing in another thread");
                         p.eng.options.nonconvex = flag_value(v, "nonconvex");
                     })
        .def_prop_ro("incremental", [](PyNfpPlacer& p) { return p.eng.options.incremental; })
        .def_prop_ro("threads", [](PyNfpPlacer& p) { return p.eng.options.threads; })
        .def_prop_rw("bin_w", [](PyNfpPlacer& p) { return p.eng.bin_w; },
                     [](PyNfpPlacer& p, nb::handle v) { p.eng.bin_w = to_double(v, "bin_w"); })
        .def_prop_rw("bin_h", [](PyNfpPlacer& p) { return p.eng.bin_h; },
                     [](PyNfpPlacer& p, nb::handle v) { p.eng.bin_h = to_double(v, "bin_h"); })
        .def_prop_rw("rotations", [](PyNfpPlacer& p) { return p.rotations; },
                     [](PyNfpPlacer& p, nb::handle v) { p.rotations = nb::borrow(v); })
        .def_prop_rw("placement", [](PyNfpPlacer& p) { return p.placement; },
                     [](PyNfpPlacer& p, nb::handle v) {
                         placement_of(v);  // the constructor's check
                         p.placement = nb::borrow(v);
                     })
        .def_prop_ro("packed", [](PyNfpPlacer& p) { return p.packed; })
        .def("trypack", [](PyNfpPlacer& p, nb::handle item) { return p.run(item, &q::NfpPlacer::trypack); }, "item"_a)
        .def("_trypack_empty", [](PyNfpPlacer& p, nb::handle item) { return p.run(item, &q::NfpPlacer::trypack_empty); }, "item"_a)
        .def("_trypack_nonempty", [](PyNfpPlacer& p, nb::handle item) { return p.run(item, &q::NfpPlacer::trypack_nonempty); },
             "item"_a)
        .def("_rotations_for", [](PyNfpPlacer& p, nb::handle item) -> nb::object {
            q::Shape* s = to_shape(item);
            if (s->is_circle()) return nb::list(nb::make_tuple(0.0));
            return p.rotations;
        }, "item"_a)
        .def_static("_place_at_origin", [](nb::handle item) { q::NfpPlacer::place_at_origin(*to_shape(item)); }, "item"_a)
        .def("_place_at_center", [](PyNfpPlacer& p, nb::handle item) { p.eng.place_at_center(*to_shape(item)); }, "item"_a)
        .def("_fits", [](PyNfpPlacer& p, nb::handle item, double eps) { return p.eng.fits(*to_shape(item), eps); },
             "item"_a, "eps"_a = 1e-06);
}

}  // namespace qb
