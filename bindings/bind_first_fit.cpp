// Quarvo.first_fit_algorithm: FirstFit.
#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>

#include <limits>
#include <memory>
#include <optional>
#include <unordered_map>

#include "bindings.hpp"
#include "busy_items.hpp"
#include "convert.hpp"
#include "placers.hpp"
#include "quarvo/errors.hpp"
#include "quarvo/first_fit.hpp"
#include "quarvo/validate.hpp"

using namespace nb::literals;
namespace q = quarvo;

namespace qb {

namespace {

bool is_text(nb::handle h, const char* value) {
    return nb::isinstance<nb::str>(h) && nb::cast<std::string>(h) == value;
}

struct PyFirstFit {
    nb::object items, bin, global_distance, rotations, strategy, placement;
    bool incremental = false;
    int threads = 1;
    q::HoleFill hole_fill = q::HoleFill::Sampled;
    bool exact_clearance = false;
    nb::object time_limit, iterations, seed;
    double used_length = 0.0;  // of the last bin of the last do_pack
    bool nonconvex = false;
    std::shared_ptr<q::PackProgress> progress = std::make_shared<q::PackProgress>();
};

q::SearchOptions search_options(const PyFirstFit& ff) {
    q::SearchOptions o;
    if (!ff.time_limit.is_none()) {
        o.time_limit = to_double(ff.time_limit, "time_limit");
        if (!(o.time_limit >= 0.0 && o.time_limit <= 1e12))
            throw q::ValueError("time_limit must be a number of seconds of at least 0, not " +
                                nb::cast<std::string>(nb::repr(ff.time_limit)));
    }
    if (!ff.iterations.is_none()) {
        if (!PyLong_Check(ff.iterations.ptr()) || PyBool_Check(ff.iterations.ptr()))
            throw q::TypeError("iterations must be an int, not " + nb::cast<std::string>(nb::repr(ff.iterations)));
        int overflow = 0;
        long long n = PyLong_AsLongLongAndOverflow(ff.iterations.ptr(), &overflow);
        if (overflow > 0) n = std::numeric_limits<long long>::max();
        if (overflow < 0 || n < 0)
            throw q::ValueError("iterations must be at least 0, not " + nb::cast<std::string>(nb::repr(ff.iterations)));
        o.iterations = n;
    }
    if (!PyLong_Check(ff.seed.ptr()) || PyBool_Check(ff.seed.ptr()))
        throw q::TypeError("seed must be an int, not " + nb::cast<std::string>(nb::repr(ff.seed)));
    // Any int: its low 64 bits seed the search.
    o.seed = PyLong_AsUnsignedLongLongMask(ff.seed.ptr());
    if (PyErr_Occurred()) throw nb::python_error();
    return o;
}

// A number the caller gave, or nothing when it is no plain number (the
// conversion at packing time names the fault then).
std::optional<double> given_number(nb::handle h) {
    if (!h.is_valid() || !(PyFloat_Check(h.ptr()) || PyLong_Check(h.ptr()))) return std::nullopt;
    return to_double(h, "number");
}

std::optional<double> given_field(nb::handle obj, const char* name) {
    nb::object v = nb::steal(PyObject_GetAttrString(obj.ptr(), name));
    if (!v.is_valid()) {
        PyErr_Clear();
        return std::nullopt;
    }
    return given_number(v);
}

// The constructor's and the setters' checks of the values given there; what
// is of the wrong kind altogether is left to do_pack, which names it.
void check_bin(nb::handle bin) {
    std::optional<double> w = given_field(bin, "width"), h = given_field(bin, "height");
    if (w && h) q::require_usable_bin(*w, *h);
}

void check_distance(nb::handle d) {
    if (std::optional<double> v = given_number(d)) q::require_distance(*v, "global_distance");
}

void check_items(nb::handle items) {
    if (!PyList_Check(items.ptr()) && !PyTuple_Check(items.ptr())) return;
    nb::object seq = nb::steal(PySequence_Tuple(items.ptr()));
    if (!seq.is_valid()) throw nb::python_error();
    std::vector<q::Shape*> shapes;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(seq.ptr()); ++i) {
        q::Shape* s = nullptr;
        if (!nb::try_cast<q::Shape*>(nb::handle(PyTuple_GET_ITEM(seq.ptr(), i)), s) || s == nullptr) return;
        shapes.push_back(s);
    }
    q::require_distinct(shapes);
}

const char* const kBlCenter =
    "BottomLeft 策略不支持 placement='center'（挤压贴角算法，无中心语义）；请使用 strategy='nfp' 或 placement='corner'";

void check_strategy(nb::handle strategy, nb::handle placement) {
    if (is_text(strategy, "bl") && placement_of(placement) == q::Placement::Center) throw q::ValueError(kBlCenter);
}

nb::tuple do_pack(PyFirstFit& ff) {
    // A tuple of our own keeps every item alive while the engine runs
    // without the GIL, whatever another thread does to the caller's list.
    if (!PySequence_Check(ff.items.ptr()) || PyUnicode_Check(ff.items.ptr()))
        throw q::TypeError("items must be a sequence of items");
    nb::object seq = nb::steal(PySequence_Tuple(ff.items.ptr()));
    if (!seq.is_valid()) throw nb::python_error();
    Py_ssize_t n = PyTuple_GET_SIZE(seq.ptr());
    std::vector<q::Shape*> items;
    std::unordered_map<q::Shape*, PyObject*> host;
    items.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* o = PyTuple_GET_ITEM(seq.ptr(), i);
        q::Shape* s = to_shape(o);
        items.push_back(s);
        host.emplace(s, o);
    }
    // A bin without a height is a strip.
    nb::object height = nb::getattr(ff.bin, "height");
    q::Bin bin{to_double(nb::getattr(ff.bin, "width"), "bin.width"),
               height.is_none() ? std::numeric_limits<double>::infinity() : to_double(height, "bin.height")};
    q::SearchOptions search = search_options(ff);
    q::NfpOptions nfp;
    if (!ff.rotations.is_none()) nfp.rotations = to_doubles(ff.rotations, "expected a sequence of numbers", "rotation");
    q::Strategy strategy = is_text(ff.strategy, "bl") ? q::Strategy::BottomLeft : q::Strategy::Nfp;
    nfp.placement = placement_of(ff.placement);
    nfp.incremental = ff.incremental;
    nfp.threads = ff.threads;
    nfp.hole_fill = ff.hole_fill;
    nfp.exact_clearance = ff.exact_clearance;
    nfp.nonconvex = ff.nonconvex;
    q::FirstFit engine(items, bin, to_double(ff.global_distance, "global_distance"), strategy, std::move(nfp));
    engine.search = search;
    engine.progress = ff.progress.get();
    std::shared_ptr<q::PackProgress> keep = ff.progress;
    // The engine moves the items and rebuilds their caches without the GIL:
    // the host may not touch them meanwhile.
    BusyItems busy;
    for (std::size_t i = 0; i < items.size(); ++i) busy.add(*items[i], "item " + std::to_string(i));
    q::PackResult r;
    {
        nb::gil_scoped_release release;
        r = engine.do_pack();
    }
    // Ctrl-C ended the search, which keeps the best layout: not an error.
    if (r.search_stopped) PyErr_Clear();
    ff.used_length = r.bins.empty() ? 0.0 : q::used_length(r.bins.back());
    nb::list bins, unplaced;
    for (const auto& b : r.bins) {
        nb::list l;
        for (q::Shape* s : b) l.append(nb::handle(host.at(s)));
        bins.append(l);
    }
    for (q::Shape* s : r.unplaced) unplaced.append(nb::handle(host.at(s)));
    return nb::make_tuple(bins, unplaced);
}

}  // namespace

void bind_first_fit(nb::module_& m) {
    m.def("used_length", [](nb::handle items) {
        nb::object seq = as_sequence(items, "items must be a sequence of items");
        std::vector<q::Shape*> shapes;
        for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(seq.ptr()); ++i)
            shapes.push_back(to_shape(PySequence_Fast_GET_ITEM(seq.ptr(), i)));
        return q::used_length(shapes);
    }, "items"_a, "Largest y of the items' world contours (0.0 for none): the length of a strip they use.");
    nb::class_<PyFirstFit>(m, "FirstFit", nb::dynamic_attr(),
                           "Packs items into as many bins as needed, heaviest first, first fit.\n\n"
                           "A bin whose height is None is a strip: one bin with an open height. With time_limit\n"
                           "(seconds) or iterations, do_pack improves the greedy layout by a local search over\n"
                           "the order (within equal weights only) and the angles, and returns the best layout\n"
                           "found; seed fixes its random choices. used_length: the last bin's used length.")
        .def("__init__", [](PyFirstFit* self, nb::handle items, nb::handle bin, nb::handle global_distance,
                            nb::handle rotations, nb::handle strategy, nb::handle placement, bool incremental,
                            nb::handle threads, nb::handle hole_fill, bool exact_clearance, nb::handle time_limit,
                            nb::handle iterations, nb::handle seed, nb::handle nonconvex) {
            placement_of(placement);
            check_strategy(strategy, placement);
            const int n_threads = thread_count(threads);
            check_bin(bin);
            check_distance(global_distance);
            check_items(items);
            new (self) PyFirstFit{nb::borrow(items), nb::borrow(bin), nb::borrow(global_distance), nb::borrow(rotations),
                                  nb::borrow(strategy), nb::borrow(placement), incremental, n_threads,
                                  hole_fill_of(hole_fill), exact_clearance, nb::borrow(time_limit), nb::borrow(iterations),
                                  nb::borrow(seed), 0.0, flag_value(nonconvex, "nonconvex")};
        }, "items"_a.none(), "bin"_a.none(), "global_distance"_a.none() = 0.0, "rotations"_a.none() = nb::none(),
           "strategy"_a.none() = "nfp", "placement"_a.none() = "corner", "incremental"_a = false,
           "threads"_a.none() = nb::none(), "hole_fill"_a.none() = "sampled", "exact_clearance"_a = false,
           "time_limit"_a.none() = nb::none(), "iterations"_a.none() = nb::none(),
           "seed"_a.none() = 0, "nonconvex"_a.none() = false)
        .def_prop_rw("hole_fill", [](PyFirstFit& ff) { return hole_fill_name(ff.hole_fill); },
                     [](PyFirstFit& ff, nb::handle v) { ff.hole_fill = hole_fill_of(v); },
                     nb::for_setter(nb::arg("value").none()))
        .def_rw("exact_clearance", &PyFirstFit::exact_clearance)
        .def_prop_rw("nonconvex", [](PyFirstFit& ff) { return ff.nonconvex; },
                     [](PyFirstFit& ff, nb::handle v) { ff.nonconvex = flag_value(v, "nonconvex"); })
        .def_rw("incremental", &PyFirstFit::incremental)
        // Setters run the constructor's checks.
        .def_prop_rw("threads", [](PyFirstFit& ff) { return ff.threads; },
                     [](PyFirstFit& ff, nb::handle v) { ff.threads = thread_count(v); }, nb::for_setter(nb::arg("value").none()))
        .def_prop_rw("items", [](PyFirstFit& ff) { return ff.items; }, [](PyFirstFit& ff, nb::handle v) {
            check_items(v);
            ff.items = nb::borrow(v);
        }, nb::for_setter(nb::arg("value").none()))
        .def_prop_rw("bin", [](PyFirstFit& ff) { return ff.bin; }, [](PyFirstFit& ff, nb::handle v) {
            check_bin(v);
            ff.bin = nb::borrow(v);
        }, nb::for_setter(nb::arg("value").none()))
        .def_prop_rw("global_distance", [](PyFirstFit& ff) { return ff.global_distance; }, [](PyFirstFit& ff, nb::handle v) {
            check_distance(v);
            ff.global_distance = nb::borrow(v);
        }, nb::for_setter(nb::arg("value").none()))
        .def_rw("rotations", &PyFirstFit::rotations)
        .def_prop_rw("strategy", [](PyFirstFit& ff) { return ff.strategy; }, [](PyFirstFit& ff, nb::handle v) {
            check_strategy(v, ff.placement);
            ff.strategy = nb::borrow(v);
        }, nb::for_setter(nb::arg("value").none()))
        .def_prop_rw("placement", [](PyFirstFit& ff) { return ff.placement; }, [](PyFirstFit& ff, nb::handle v) {
            placement_of(v);
            check_strategy(ff.strategy, v);
            ff.placement = nb::borrow(v);
        }, nb::for_setter(nb::arg("value").none()))
        .def_rw("time_limit", &PyFirstFit::time_limit)
        .def_rw("iterations", &PyFirstFit::iterations)
        .def_rw("seed", &PyFirstFit::seed)
        .def_ro("used_length", &PyFirstFit::used_length,
                "Largest y of the items of the last bin of the last do_pack (a strip's used length).")
        .def("do_pack", &do_pack)
        .def_prop_ro("_progress", [](PyFirstFit& ff) {
            // (items processed, items placed, bins open, items in the run) of the
            // current or last do_pack; readable from another thread while it runs.
            const q::PackProgress& p = *ff.progress;
            return nb::make_tuple(p.processed.load(), p.placed.load(), p.bins.load(), p.total.load());
        })
        .def_prop_ro("_search_progress", [](PyFirstFit& ff) {
            // (searching, layouts evaluated, bins of the best layout, used length
            // of its last bin); readable from another thread while it runs.
            const q::PackProgress& p = *ff.progress;
            return nb::make_tuple(p.searching.load(), p.evaluated.load(), p.best_bins.load(), p.best_length.load());
        })
        .def("_make_placer", [](PyFirstFit& ff) -> nb::object {
            nb::object width = nb::getattr(ff.bin, "width"), height = nb::getattr(ff.bin, "height");
            if (is_text(ff.strategy, "bl"))
                return nb::module_::import_("Quarvo.placer_bl").attr("BottomLeftPlacer")(
                    width, height, "exact_clearance"_a = ff.exact_clearance);
            return nb::module_::import_("Quarvo.placer_nfp").attr("NfpPlacer")(
                width, height, ff.rotations, "placement"_a = ff.placement, "incremental"_a = ff.incremental,
                "threads"_a = ff.threads, "hole_fill"_a = hole_fill_name(ff.hole_fill),
                "exact_clearance"_a = ff.exact_clearance, "nonconvex"_a = ff.nonconvex);
        });
}

}  // namespace qb
