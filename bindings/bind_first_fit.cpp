// Quarvo.first_fit_algorithm: FirstFit.
#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>

#include <memory>
#include <optional>
#include <unordered_map>

#include "bindings.hpp"
#include "busy_items.hpp"
#include "convert.hpp"
#include "core/validate.hpp"
#include "gc_slots.hpp"
#include "options.hpp"
#include "quarvo/compress.hpp"
#include "quarvo/constants.hpp"
#include "quarvo/errors.hpp"
#include "quarvo/first_fit.hpp"
#include "quarvo/search.hpp"
#include "shapes/item_checks.hpp"
#include "stock.hpp"

using namespace nb::literals;
namespace q = quarvo;

namespace qb {

namespace {

bool is_text(nb::handle h, const char* value) {
    return nb::isinstance<nb::str>(h) && nb::cast<std::string>(h) == value;
}

struct PyFirstFit {
    nb::object items, bin, global_distance;
    OptionValues options;  // as kOptionFields, kept as checked
    double used_length = 0.0;  // of the last bin of the last do_pack
    bool search_stopped = false;  // Ctrl-C cut the last do_pack's search or compression short
    // Of the last do_pack's search or compression phase: whether it stopped at
    // the bound, the bound (None without either), its CPU seconds.
    bool stopped_early = false;
    nb::object lower_bound = nb::none();
    double cpu_seconds = 0.0;
    nb::object unplaced_reasons = nb::list();  // of the last do_pack, one per unplaced item
    nb::object bin_types = nb::list();  // of the last do_pack, per bin: its index in `bins`
    nb::object bin_costs = nb::list();  // of the last do_pack, per bin: what it costs
    nb::object row_plan = nb::list();          // with rows: each placed item's row and place along
    nb::object deferred = nb::list();          // with rows: items the supports' limits passed on
    std::shared_ptr<q::PackProgress> progress = std::make_shared<q::PackProgress>();
    std::shared_ptr<q::SearchProgress> search_progress = std::make_shared<q::SearchProgress>();

    void set_option(std::size_t i, nb::handle v);
};

int gc_visit(PyFirstFit& ff, visitproc visit, void* arg) {
    Py_VISIT(ff.items.ptr());
    Py_VISIT(ff.bin.ptr());
    Py_VISIT(ff.global_distance.ptr());
    Py_VISIT(ff.unplaced_reasons.ptr());
    Py_VISIT(ff.bin_types.ptr());
    Py_VISIT(ff.bin_costs.ptr());
    Py_VISIT(ff.lower_bound.ptr());
    Py_VISIT(ff.row_plan.ptr());
    Py_VISIT(ff.deferred.ptr());
    for (const nb::object& o : ff.options) Py_VISIT(o.ptr());
    return 0;
}

void gc_clear(PyFirstFit& ff) {
    ff.items = nb::list();
    ff.bin = nb::none();
    ff.global_distance = nb::none();
    ff.unplaced_reasons = nb::none();
    ff.bin_types = nb::none();
    ff.bin_costs = nb::none();
    ff.lower_bound = nb::none();
    ff.row_plan = nb::none();
    ff.deferred = nb::none();
    for (nb::object& o : ff.options) o = nb::none();
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
    std::optional<double> load = given_field(bin, "max_load"), length = given_field(bin, "length");
    q::require_limits(load.value_or(q::kInf), length.value_or(q::kInf));
    if (std::optional<double> m = given_field(bin, "margin")) q::require_margin(*m);
    check_bin_record(bin, "bin");
}

void check_bins(nb::handle bins) {
    if (bins.is_none()) return;
    std::vector<nb::object> records = bin_records(bins);
    for (std::size_t k = 0; k < records.size(); ++k) check_bin_record(records[k], "bins[" + std::to_string(k) + "]");
}

const char* const kBinOrBins = "give the bin or bins=[...], not both";

// A bin's edge margin: its `margin` field, 0 for a bin record without one.
double bin_margin(nb::handle bin) {
    nb::object m = nb::steal(PyObject_GetAttrString(bin.ptr(), "margin"));
    if (!m.is_valid()) {
        PyErr_Clear();
        return 0.0;
    }
    return to_double(m, "bin.margin");
}

// A bin's supports: its `supports` field, a sequence of records with a
// name, `at` (m from the front) and `max_load` (kg); none without the field.
std::vector<q::Support> bin_supports(nb::handle bin) {
    std::vector<q::Support> out;
    nb::object v = nb::steal(PyObject_GetAttrString(bin.ptr(), "supports"));
    if (!v.is_valid()) {
        PyErr_Clear();
        return out;
    }
    if (v.is_none()) return out;
    nb::object seq = as_sequence(v, "bin.supports must be a sequence of supports");
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(seq.ptr()); ++i) {
        nb::handle s(PySequence_Fast_GET_ITEM(seq.ptr(), i));
        for (const char* field : {"name", "at", "max_load"})
            if (!nb::hasattr(s, field))
                throw q::TypeError("bin.supports[" + std::to_string(i) + "]: a support has a name, at (m) and "
                                   "max_load (kg), not " + nb::cast<std::string>(nb::repr(s)));
        out.push_back({nb::cast<std::string>(nb::str(nb::getattr(s, "name"))),
                       to_double(nb::getattr(s, "at"), "bin.supports.at"),
                       to_double(nb::getattr(s, "max_load"), "bin.supports.max_load")});
    }
    return out;
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

void check_strategy(const OptionValues& options) {
    const nb::handle strategy = options[option_named("strategy")], placement = options[option_named("placement")];
    if (is_text(strategy, "bl") && placement_of(placement) == q::Placement::Center) throw q::ValueError(kBlCenter);
}

void PyFirstFit::set_option(std::size_t i, nb::handle v) {
    OptionValues next = options;
    next[i] = kOptionFields[i].check(v);
    check_strategy(next);
    if (i == option_named("bins")) {
        if (!v.is_none() && !bin.is_none()) throw q::ValueError(kBinOrBins);
        check_bins(v);
    }
    options = std::move(next);
}

void construct_first_fit(PyFirstFit* self, const nb::handle* args) {
    OptionValues options = check_options(kFirstFit, args + 3);
    check_strategy(options);
    const nb::handle bins = options[option_named("bins")];
    if (!bins.is_none()) {
        if (!args[1].is_none()) throw q::ValueError(kBinOrBins);
        check_bins(bins);
    } else {
        check_bin(args[1]);
    }
    check_distance(args[2]);
    check_items(args[0]);
    new (self) PyFirstFit{nb::borrow(args[0]), nb::borrow(args[1]), nb::borrow(args[2]), std::move(options)};
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
    const nb::handle given = ff.options[option_named("bins")];
    std::vector<q::Bin> kinds;
    if (given.is_none()) {
        if (ff.bin.is_none()) throw q::TypeError("FirstFit needs a bin, or bins=[...]");
        kinds.push_back(to_bin(ff.bin, "bin"));
        kinds.back().supports = bin_supports(ff.bin);
    } else {
        std::vector<nb::object> records = bin_records(given);
        for (std::size_t k = 0; k < records.size(); ++k) {
            kinds.push_back(to_bin(records[k], "bins[" + std::to_string(k) + "]"));
            kinds.back().supports = bin_supports(records[k]);
        }
    }
    EngineOptions opt = engine_options(ff.options, kFirstFit);
    const double distance = to_double(ff.global_distance, "global_distance");
    q::FirstFit engine = kinds.size() == 1
                             ? q::FirstFit(items, kinds.front(), distance, opt.strategy, std::move(opt.nfp))
                             : q::FirstFit(items, kinds, distance, opt.strategy, std::move(opt.nfp));
    if (opt.rows.on && kinds.size() > 1)
        throw q::ValueError("rows: pieces end to end along the length need one kind of bin, not bins=[...]");
    engine.rows = opt.rows;
    engine.progress = ff.progress.get();
    std::shared_ptr<q::PackProgress> keep = ff.progress;
    std::shared_ptr<q::SearchProgress> keep_search = ff.search_progress;
    keep_search->searching = false;
    keep_search->compressing = false;
    keep_search->evaluated = 0;
    keep_search->bound_bins = 0;
    keep_search->bound_length = 0.0;
    keep_search->at_bound = false;
    keep_search->cpu_seconds = 0.0;
    const q::ImprovementSearch search(opt.search, keep_search.get());
    const q::CompressionPhase compress(opt.search, keep_search.get());
    const q::Improver* improver = nullptr;
    // The compression phase knows rectangular bins of one kind only: other
    // stock gets the improvement search alone, for the whole of the limits.
    const bool compressible = !engine.several_kinds() && !engine.shaped();
    if (opt.search.active())
        improver = opt.search.compress && compressible ? static_cast<const q::Improver*>(&compress) : &search;
    // The engine moves the items and rebuilds their caches without the GIL:
    // the host may not touch them meanwhile.
    BusyItems busy;
    for (std::size_t i = 0; i < items.size(); ++i) busy.add(*items[i], "item " + std::to_string(i));
    q::PackResult r;
    {
        nb::gil_scoped_release release;
        r = engine.do_pack(improver);
    }
    // Ctrl-C ended the search, which keeps the best layout: not an error.
    if (r.search_stopped) PyErr_Clear();
    ff.search_stopped = r.search_stopped;
    ff.used_length = r.bins.empty() ? 0.0 : q::used_length(r.bins.back());
    ff.stopped_early = keep_search->at_bound.load();
    ff.cpu_seconds = keep_search->cpu_seconds.load();
    ff.lower_bound = keep_search->bound_bins.load() > 0 && r.unplaced.empty()
                         ? nb::object(nb::make_tuple(keep_search->bound_bins.load(), keep_search->bound_length.load()))
                         : nb::object(nb::none());
    nb::list bins, unplaced;
    for (const auto& b : r.bins) {
        nb::list l;
        for (q::Shape* s : b) l.append(nb::handle(host.at(s)));
        bins.append(l);
    }
    for (q::Shape* s : r.unplaced) unplaced.append(nb::handle(host.at(s)));
    nb::list reasons;
    for (const std::string& why : r.reasons) reasons.append(nb::str(why.c_str()));
    ff.unplaced_reasons = reasons;
    nb::list types, costs;
    for (std::size_t b = 0; b < r.bins.size(); ++b) {
        const q::Bin& kind = engine.kind(r.bin_kinds[b]);
        types.append(r.bin_kinds[b]);
        // a strip costs what it uses, unless it says what it costs
        const double cost = kind.height == q::kInf && !kind.cost ? kind.width * q::used_length(r.bins[b]) : q::bin_cost(kind);
        costs.append(cost);
    }
    ff.bin_types = types;
    ff.bin_costs = costs;
    auto of = [&](q::Shape* s) -> nb::object { return s ? nb::borrow(host.at(s)) : nb::none(); };
    nb::list plan;
    for (const q::RowPlace& p : r.rows) {
        nb::dict d;
        d["item"] = of(p.item);
        d["bin"] = p.bin;
        d["row"] = p.row;
        d["along"] = nb::make_tuple(p.start, p.end);
        d["host"] = of(p.host);
        d["leader"] = of(p.leader);
        plan.append(d);
    }
    ff.row_plan = plan;
    nb::list deferred;
    for (const q::Deferral& d : r.deferred) deferred.append(nb::make_tuple(of(d.item), d.bin, nb::str(d.reason.c_str())));
    ff.deferred = deferred;
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
    auto cls = nb::class_<PyFirstFit>(m, "FirstFit", nb::dynamic_attr(), nb::type_slots(gc_slots<PyFirstFit>),
                                      "Packs items into as many bins as needed, heaviest first, first fit.\n\n"
                                      "A bin whose height is None is a strip: one bin with an open height. With "
                                      "time_limit\n(seconds) or iterations, do_pack improves the greedy layout by a "
                                      "local search over\nthe order (within equal weights only) and the angles, and "
                                      "returns the best layout\nfound; seed fixes its random choices. used_length: the "
                                      "last bin's used length.");
    def_init<PyFirstFit, kFirstFit, construct_first_fit>(cls, "items"_a.none(), "bin"_a.none() = nb::none(),
                                                         "global_distance"_a.none() = 0.0);
    def_option_properties<PyFirstFit, kFirstFit>(cls);
    cls.def_prop_rw("items", [](PyFirstFit& ff) { return ff.items; }, [](PyFirstFit& ff, nb::handle v) {
            check_items(v);
            ff.items = nb::borrow(v);
        }, nb::for_setter(nb::arg("value").none()))
        .def_prop_rw("bin", [](PyFirstFit& ff) { return ff.bin; }, [](PyFirstFit& ff, nb::handle v) {
            if (!v.is_none() && !ff.options[option_named("bins")].is_none()) throw q::ValueError(kBinOrBins);
            check_bin(v);
            ff.bin = nb::borrow(v);
        }, nb::for_setter(nb::arg("value").none()))
        .def_prop_rw("global_distance", [](PyFirstFit& ff) { return ff.global_distance; }, [](PyFirstFit& ff, nb::handle v) {
            check_distance(v);
            ff.global_distance = nb::borrow(v);
        }, nb::for_setter(nb::arg("value").none()))
        .def_ro("used_length", &PyFirstFit::used_length,
                "Largest y of the items of the last bin of the last do_pack (a strip's used length).")
        .def_ro("search_stopped", &PyFirstFit::search_stopped,
                "Whether Ctrl-C cut the last do_pack's improvement search or compression phase short (its best\n"
                "layout so far is the result).")
        .def_ro("stopped_early", &PyFirstFit::stopped_early,
                "Whether the last do_pack's time-limited search or compression phase stopped before its\n"
                "limit because its best layout reached the lower bound (nothing shorter can exist).")
        .def_prop_ro("lower_bound", [](PyFirstFit& ff) { return ff.lower_bound; },
                     "What no layout of the last do_pack's items can beat, as (bins, length): the fewest bins\n"
                     "(the items' area over a bin's) and the shortest used length of the last of them (the area\n"
                     "left for it over the bin's width, and at least the lowest item); a strip's (1, length), its\n"
                     "area over its width or its tallest item, whichever is longer. None when do_pack ran no\n"
                     "search or compression phase, or left items unplaced.")
        .def_ro("cpu_seconds", &PyFirstFit::cpu_seconds,
                "CPU seconds of the last do_pack's search and compression phase, summed over their threads\n"
                "(0.0 without either).")
        .def_prop_ro("unplaced_reasons", [](PyFirstFit& ff) { return ff.unplaced_reasons; },
                     "Why each unplaced item of the last do_pack is unplaced, a text per item in the order of\n"
                     "the unplaced list: a pipe longer than the bin's length, an item heavier than the bin's\n"
                     "max_load (or than what a strip has left of it), or no room in an empty bin.")
        .def_prop_ro("bin_types", [](PyFirstFit& ff) { return ff.bin_types; },
                     "Per bin of the last do_pack, its kind: its index in `bins` (0 with `bin`).")
        .def_prop_ro("bin_costs", [](PyFirstFit& ff) { return ff.bin_costs; },
                     "Per bin of the last do_pack, what it costs: its kind's cost, or the kind's area when the\n"
                     "Bin gives none (a strip's: its width times its used length).")
        .def_prop_ro("row_plan", [](PyFirstFit& ff) { return ff.row_plan; },
                     "With rows=True, each placed item of the last do_pack in the order of its bins: a dict of\n"
                     "its bin, row (in the order the bin's rows were started), along (start, end) in metres\n"
                     "from the front, host (the piece whose bore holds it, or None) and leader (the row's\n"
                     "first piece, where the row lies in the section). Empty without rows.")
        .def_prop_ro("deferred", [](PyFirstFit& ff) { return ff.deferred; },
                     "With rows=True and a bin with supports: (item, bin, reason) for each item the supports'\n"
                     "limits kept out of a bin that had a place for it otherwise.")
        .def("do_pack", &do_pack)
        .def_prop_ro("_progress", [](PyFirstFit& ff) {
            // (items processed, items placed, bins open, items in the run) of the
            // current or last do_pack; readable from another thread while it runs.
            const q::PackProgress& p = *ff.progress;
            return nb::make_tuple(p.processed.load(), p.placed.load(), p.bins.load(), p.total.load());
        })
        .def_prop_ro("_search_progress", [](PyFirstFit& ff) {
            // (searching, layouts evaluated, bins of the best layout, used length
            // of its last bin, compressing: then `evaluated` counts item moves);
            // readable from another thread while it runs.
            const q::SearchProgress& p = *ff.search_progress;
            return nb::make_tuple(p.searching.load(), p.evaluated.load(), p.best_bins.load(), p.best_length.load(),
                                  p.compressing.load());
        })
        .def("_make_placer", [](PyFirstFit& ff) -> nb::object {
            const nb::handle bins = ff.options[option_named("bins")];
            nb::object bin = bins.is_none() ? ff.bin : bin_records(bins).front();
            nb::object width = nb::getattr(bin, "width"), height = nb::getattr(bin, "height");
            if (is_text(ff.options[option_named("strategy")], "bl"))
                return nb::module_::import_("Quarvo.placer_bl").attr("BottomLeftPlacer")(
                    width, height, "exact_clearance"_a = ff.options[option_named("exact_clearance")],
                    "margin"_a = bin_margin(bin));
            nb::dict kw = option_keywords(ff.options, kNfpPlacer);
            kw["margin"] = bin_margin(bin);
            return nb::module_::import_("Quarvo.placer_nfp").attr("NfpPlacer")(width, height, **kw);
        });
}

}  // namespace qb
