// The one table of the options FirstFit and NfpPlacer take after their
// leading arguments: keyword, default, the check the constructor and the
// setter run, and what the kept value becomes in the engine. Both classes
// build their keywords, their properties and FirstFit._make_placer from it,
// so an option is one entry here.
#pragma once
#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>

#include <array>
#include <cstddef>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "convert.hpp"
#include "quarvo/options.hpp"

namespace qb {

namespace nb = nanobind;

// Which classes take an option.
enum : unsigned { kFirstFit = 1u, kNfpPlacer = 2u, kBoth = kFirstFit | kNfpPlacer };

// What the options become in the engine.
struct EngineOptions {
    quarvo::NfpOptions nfp;
    quarvo::SearchOptions search;
    quarvo::Strategy strategy = quarvo::Strategy::Nfp;
    double margin = 0.0;  // a placer's edge margin (the driver's comes with its Bin)
    quarvo::RowOptions rows;
};

struct OptionField {
    const char* name;
    unsigned owners;
    // Read-only on a placer: its stored unions and threads are set up for it.
    bool fixed_in_placer;
    nb::object (*default_value)();
    // The check of the constructor and of the setter: the value kept (and
    // read back by the property), or TypeError / ValueError naming the option.
    nb::object (*check)(nb::handle value);
    // The kept value into the engine's options, for the class `owner`.
    void (*apply)(nb::handle kept, unsigned owner, EngineOptions& out);
};

// Readers shared by the entries and the module functions.
quarvo::Placement placement_of(nb::handle placement);
quarvo::HoleFill hole_fill_of(nb::handle v);
const char* hole_fill_name(quarvo::HoleFill f);
// A True/False option; anything else is a TypeError naming it.
bool flag_value(nb::handle v, const char* name);
// Worker threads: None means one per core; at least 1.
int thread_count(nb::handle threads);
// The search's limits and seed; None leaves the engine's default.
void read_time_limit(nb::handle v, quarvo::SearchOptions& out);
void read_iterations(nb::handle v, quarvo::SearchOptions& out);
void read_seed(nb::handle v, quarvo::SearchOptions& out);
// A bin's edge margin: a number, finite and not negative.
double margin_value(nb::handle v);
// A length along the bin in metres: a number, finite and not negative.
double metres_value(nb::handle v, const char* name);
// A Python value as given, kept as it is.
inline nb::object as_given(nb::handle v) { return nb::borrow(v); }

// In the order of the keywords; a new option goes at the end.
inline constexpr OptionField kOptionFields[] = {
    {"rotations", kBoth, false, [] { return nb::object(nb::none()); }, as_given,
     [](nb::handle v, unsigned owner, EngineOptions& out) {
         // A placer whose rotations were set to None tries none; the driver
         // then takes the default angles.
         if (owner == kNfpPlacer)
             out.nfp.rotations = v.is_none() ? std::vector<double>{}
                                             : to_doubles(v, "rotations must be a sequence of angles", "rotation");
         else if (!v.is_none())
             out.nfp.rotations = to_doubles(v, "expected a sequence of numbers", "rotation");
     }},
    {"strategy", kFirstFit, false, [] { return nb::object(nb::str("nfp")); }, as_given,
     [](nb::handle v, unsigned, EngineOptions& out) {
         out.strategy = nb::isinstance<nb::str>(v) && nb::cast<std::string>(v) == "bl" ? quarvo::Strategy::BottomLeft
                                                                                        : quarvo::Strategy::Nfp;
     }},
    {"placement", kBoth, false, [] { return nb::object(nb::str("corner")); },
     [](nb::handle v) {
         placement_of(v);
         return nb::borrow(v);
     },
     [](nb::handle v, unsigned, EngineOptions& out) { out.nfp.placement = placement_of(v); }},
    {"incremental", kBoth, true, [] { return nb::object(nb::bool_(false)); },
     [](nb::handle v) { return nb::object(nb::bool_(flag_value(v, "incremental"))); },
     [](nb::handle v, unsigned, EngineOptions& out) { out.nfp.incremental = v.ptr() == Py_True; }},
    {"threads", kBoth, true, [] { return nb::object(nb::none()); },
     [](nb::handle v) { return nb::object(nb::int_(thread_count(v))); },
     [](nb::handle v, unsigned, EngineOptions& out) { out.nfp.threads = nb::cast<int>(v); }},
    {"hole_fill", kBoth, false, [] { return nb::object(nb::str("sampled")); },
     [](nb::handle v) { return nb::object(nb::str(hole_fill_name(hole_fill_of(v)))); },
     [](nb::handle v, unsigned, EngineOptions& out) { out.nfp.hole_fill = hole_fill_of(v); }},
    {"exact_clearance", kBoth, false, [] { return nb::object(nb::bool_(false)); },
     [](nb::handle v) { return nb::object(nb::bool_(flag_value(v, "exact_clearance"))); },
     [](nb::handle v, unsigned, EngineOptions& out) { out.nfp.exact_clearance = v.ptr() == Py_True; }},
    {"time_limit", kFirstFit, false, [] { return nb::object(nb::none()); }, as_given,
     [](nb::handle v, unsigned, EngineOptions& out) { read_time_limit(v, out.search); }},
    {"iterations", kFirstFit, false, [] { return nb::object(nb::none()); }, as_given,
     [](nb::handle v, unsigned, EngineOptions& out) { read_iterations(v, out.search); }},
    {"seed", kFirstFit, false, [] { return nb::object(nb::int_(0)); }, as_given,
     [](nb::handle v, unsigned, EngineOptions& out) { read_seed(v, out.search); }},
    {"nonconvex", kBoth, false, [] { return nb::object(nb::bool_(false)); },
     [](nb::handle v) { return nb::object(nb::bool_(flag_value(v, "nonconvex"))); },
     [](nb::handle v, unsigned, EngineOptions& out) { out.nfp.nonconvex = v.ptr() == Py_True; }},
    {"stable", kBoth, false, [] { return nb::object(nb::bool_(false)); },
     [](nb::handle v) { return nb::object(nb::bool_(flag_value(v, "stable"))); },
     [](nb::handle v, unsigned, EngineOptions& out) { out.nfp.stable = v.ptr() == Py_True; }},
    {"compress", kFirstFit, false, [] { return nb::object(nb::bool_(false)); },
     [](nb::handle v) { return nb::object(nb::bool_(flag_value(v, "compress"))); },
     [](nb::handle v, unsigned, EngineOptions& out) { out.search.compress = v.ptr() == Py_True; }},
    {"mirror", kBoth, false, [] { return nb::object(nb::bool_(false)); },
     [](nb::handle v) { return nb::object(nb::bool_(flag_value(v, "mirror"))); },
     [](nb::handle v, unsigned, EngineOptions& out) { out.nfp.mirror = v.ptr() == Py_True; }},
    // The driver takes its edge margin from its Bin.
    {"margin", kNfpPlacer, false, [] { return nb::object(nb::float_(0.0)); },
     [](nb::handle v) { return nb::object(nb::float_(margin_value(v))); },
     [](nb::handle v, unsigned, EngineOptions& out) { out.margin = nb::cast<double>(v); }},
    // Kinds of bin in place of `bin`, each with its count and cost; the driver
    // reads them itself (and checks them with the bin).
    {"bins", kFirstFit, false, [] { return nb::object(nb::none()); }, as_given,
     [](nb::handle, unsigned, EngineOptions&) {}},
    {"rows", kFirstFit, false, [] { return nb::object(nb::bool_(false)); },
     [](nb::handle v) { return nb::object(nb::bool_(flag_value(v, "rows"))); },
     [](nb::handle v, unsigned, EngineOptions& out) { out.rows.on = v.ptr() == Py_True; }},
    {"end_gap", kFirstFit, false, [] { return nb::object(nb::float_(0.05)); },
     [](nb::handle v) { return nb::object(nb::float_(metres_value(v, "end_gap"))); },
     [](nb::handle v, unsigned, EngineOptions& out) { out.rows.end_gap = nb::cast<double>(v); }},
    {"overhang", kFirstFit, false, [] { return nb::object(nb::float_(0.0)); },
     [](nb::handle v) { return nb::object(nb::float_(metres_value(v, "overhang"))); },
     [](nb::handle v, unsigned, EngineOptions& out) { out.rows.overhang = nb::cast<double>(v); }},
};
inline constexpr std::size_t kOptionCount = std::size(kOptionFields);

// The kept values, indexed as kOptionFields; a class leaves the others null.
using OptionValues = std::array<nb::object, kOptionCount>;

constexpr std::size_t option_count(unsigned owner) {
    std::size_t n = 0;
    for (const OptionField& f : kOptionFields)
        if (f.owners & owner) ++n;
    return n;
}

// The index in kOptionFields of the k-th option of `owner`.
constexpr std::size_t option_index(unsigned owner, std::size_t k) {
    for (std::size_t i = 0; i < kOptionCount; ++i)
        if ((kOptionFields[i].owners & owner) && k-- == 0) return i;
    return kOptionCount;
}

// The index of the option named `name`.
std::size_t option_named(const char* name);

// The checked values of the options of `owner`, given in keyword order.
OptionValues check_options(unsigned owner, const nb::handle* given);
// What the kept values of `owner` become in the engine.
EngineOptions engine_options(const OptionValues& values, unsigned owner);
// The options of `owner` as keywords (for another class's constructor).
nb::dict option_keywords(const OptionValues& values, unsigned owner);

template <std::size_t>
using Handle = nb::handle;

template <class Self, void (*Construct)(Self*, const nb::handle*), std::size_t... I>
auto init_function(std::index_sequence<I...>) {
    return [](Self* self, Handle<I>... given) {
        const nb::handle args[] = {given...};
        Construct(self, args);
    };
}

inline auto option_arg(const OptionField& f) { return nb::arg(f.name).none() = f.default_value(); }

template <class Self, unsigned Owner, void (*Construct)(Self*, const nb::handle*), std::size_t... K, class... Lead>
void def_init_with(nb::class_<Self>& cls, std::index_sequence<K...>, Lead&&... lead) {
    cls.def("__init__",
            init_function<Self, Construct>(std::make_index_sequence<sizeof...(Lead) + sizeof...(K)>{}),
            std::forward<Lead>(lead)..., option_arg(kOptionFields[option_index(Owner, K)])...);
}

// __init__ of `cls`: the leading arguments `lead`, then the options of
// `Owner` in table order; Construct gets every argument in that order.
template <class Self, unsigned Owner, void (*Construct)(Self*, const nb::handle*), class... Lead>
void def_init(nb::class_<Self>& cls, Lead&&... lead) {
    def_init_with<Self, Owner, Construct>(cls, std::make_index_sequence<option_count(Owner)>{},
                                          std::forward<Lead>(lead)...);
}

// A property per option of `Owner`, reading the kept value; the setter runs
// Self::set_option (the constructor's check). Options fixed in a placer are
// read-only there.
template <class Self, unsigned Owner>
void def_option_properties(nb::class_<Self>& cls) {
    for (std::size_t i = 0; i < kOptionCount; ++i) {
        const OptionField& f = kOptionFields[i];
        if (!(f.owners & Owner)) continue;
        auto get = [i](Self& s) { return s.options[i]; };
        if (Owner == kNfpPlacer && f.fixed_in_placer) {
            cls.def_prop_ro(f.name, get);
            continue;
        }
        cls.def_prop_rw(f.name, get, [i](Self& s, nb::handle v) { s.set_option(i, v); },
                        nb::for_setter(nb::arg("value").none()));
    }
}

}  // namespace qb
