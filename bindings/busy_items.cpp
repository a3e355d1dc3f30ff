#include "busy_items.hpp"

#include <algorithm>
#include <stdexcept>

namespace qb {

void require_idle(quarvo::Shape& s) {
    const PyHost& h = host_of(s);
    if (h.packing > 0) throw std::runtime_error(h.packing_as + " (id " + s.name + ") is being packed");
}

BusyItems::~BusyItems() {
    for (quarvo::Shape* s : items_) --host_of(*s).packing;
}

void BusyItems::add(quarvo::Shape& s, const std::string& label) {
    if (std::find(items_.begin(), items_.end(), &s) != items_.end()) return;
    require_idle(s);
    PyHost& h = host_of(s);
    ++h.packing;
    h.packing_as = label;
    items_.push_back(&s);
}

}  // namespace qb
