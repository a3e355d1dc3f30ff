// Quarvo.first_fit_algorithm: FirstFit.
#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>

#include <memory>
#include <unordered_map>

#include "bindings.hpp"
#include "convert.hpp"
#include "placers.hpp"
#include "quarvo/cancel.hpp"
#include "quarvo/errors.hpp"
#include "quarvo/first_fit.hpp"

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
    bool nonconvex = false;
    std::shared_ptr<q::PackProgress> progress = std::make_shared<q::PackProgress>();
};

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
    q::Bin bin{to_double(nb::getattr(ff.bin, "width"), "bin.width"), to_double(nb::getattr(ff.bin, "height"), "bin.height")};
    q::NfpOptions nfp;
    if (!ff.rotations.is_none()) nfp.rotations = to_doubles(ff.rotations, "expected a sequence of numbers", "rotation");
    q::Strategy strategy = is_text(ff.strategy, "bl") ? q::Strategy::BottomLeft : q::Strategy::Nfp;
    nfp.placement = is_text(ff.placement, "center") ? q::Placement::Center : q::Placement::Corner;
    nfp.incremental = ff.incremental;
    nfp.threads = ff.threads;
    nfp.nonconvex = ff.nonconvex;
    q::FirstFit engine(items, bin, to_double(ff.global_distance, "global_distance"), strategy, std::move(nfp));
    engine.progress = ff.progress.get();
    std::shared_ptr<q::PackProgress> keep = ff.progress;
    q::PackResult r;
    {
        nb::gil_scoped_release release;
        r = engine.do_pack();
    }
    nb::list bins, unplaced;
    for (const auto& b : r.bins) {
        nb::list l;
        for (q::Shape* s : b) l.append(nb::handle(host.at(s)));
        bins.append(l);
    }
    for (q::Shape* s : r.unplaced) unplaced.append(nb::handle(host.at(s)));
    return nb::make_tuple(bins, unplaced);
}

// Ctrl-C reaches a running pack through this hook (called without the GIL).
bool python_cancel_hook() {
    nb::gil_scoped_acquire gil;
    return PyErr_CheckSignals() != 0;
}

}  // namespace

void bind_first_fit(nb::module_& m) {
    q::set_cancel_hook(&python_cancel_hook);
    nb::class_<PyFirstFit>(m, "FirstFit", nb::dynamic_attr(),
                           "Packs items into as many bins as needed, heaviest first, first fit.")
        .def("__init__", [](PyFirstFit* self, nb::handle items, nb::handle bin, nb::handle global_distance,
                            nb::handle rotations, nb::handle strategy, nb::handle placement, bool incremental,
                            nb::handle threads, nb::handle nonconvex) {
            if (!is_text(placement, "corner") && !is_text(placement, "center"))
                throw q::ValueError("placement 仅支持 'corner'/'center'，收到：" + nb::cast<std::string>(nb::repr(placement)));
            if (is_text(strategy, "bl") && is_text(placement, "center"))
                throw q::ValueError(
                    "BottomLeft 策略不支持 placement='center'（挤压贴角算法，无中心语义）；请使用 strategy='nfp' 或 placement='corner'");
            new (self) PyFirstFit{nb::borrow(items), nb::borrow(bin), nb::borrow(global_distance), nb::borrow(rotations),
                                  nb::borrow(strategy), nb::borrow(placement), incremental, thread_count(threads),
                                  flag_value(nonconvex, "nonconvex")};
        }, "items"_a.none(), "bin"_a.none(), "global_distance"_a.none() = 0.0, "rotations"_a.none() = nb::none(),
           "strategy"_a.none() = "nfp", "placement"_a.none() = "corner", "incremental"_a = false,
           "threads"_a.none() = nb::none(), "nonconvex"_a.none() = false)
        .def_prop_rw("nonconvex", [](PyFirstFit& ff) { return ff.nonconvex; },
                     [](PyFirstFit& ff, nb::handle v) { ff.nonconvex = flag_value(v, "nonconvex"); })
        .def_rw("incremental", &PyFirstFit::incremental)
        .def_rw("threads", &PyFirstFit::threads)
        .def_rw("items", &PyFirstFit::items)
        .def_rw("bin", &PyFirstFit::bin)
        .def_rw("global_distance", &PyFirstFit::global_distance)
        .def_rw("rotations", &PyFirstFit::rotations)
        .def_rw("strategy", &PyFirstFit::strategy)
        .def_rw("placement", &PyFirstFit::placement)
        .def("do_pack", &do_pack)
        .def_prop_ro("_progress", [](PyFirstFit& ff) {
            // (items processed, items placed, bins open, items in the run) of the
            // current or last do_pack; readable from another thread while it runs.
            const q::PackProgress& p = *ff.progress;
            return nb::make_tuple(p.processed.load(), p.placed.load(), p.bins.load(), p.total.load());
        })
        .def("_make_placer", [](PyFirstFit& ff) -> nb::object {
            nb::object width = nb::getattr(ff.bin, "width"), height = nb::getattr(ff.bin, "height");
            if (is_text(ff.strategy, "bl"))
                return nb::module_::import_("Quarvo.placer_bl").attr("BottomLeftPlacer")(width, height);
            return nb::module_::import_("Quarvo.placer_nfp").attr("NfpPlacer")(
                width, height, ff.rotations, "placement"_a = ff.placement, "incremental"_a = ff.incremental,
                "threads"_a = ff.threads, "nonconvex"_a = ff.nonconvex);
        });
}

}  // namespace qb
