#include "busy_items.hpp"

#include <stdexcept>

namespace qb {

void require_idle(quarvo::Shape& s) {
    const PyHost& h = host_of(s);
    if (h.packed_by != nullptr) throw std::runtime_error(h.packing_as + " (id " + s.name + ") is being packed");
}

BusyItems::~BusyItems() {
    for (quarvo::Shape* s : items_) host_of(*s).packed_by = nullptr;
}

void BusyItems::add(quarvo::Shape& s, const std::string& label) {
    PyHost& h = host_of(s);
    if (h.packed_by == this) return;  // one object offered twice
    require_idle(s);
    h.packed_by = this;
    h.packing_as = label;
    items_.push_back(&s);
}

}  // namespace qb
