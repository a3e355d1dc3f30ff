// Items that a run is packing without the GIL. The engine writes their poses
// and cached contours meanwhile: a host thread that reads or writes such an
// item gets a RuntimeError instead of a data race. The marks are set, read
// and cleared with the GIL held only.
#pragma once
#include <string>
#include <vector>

#include "convert.hpp"

namespace qb {

// RuntimeError "<label> (id <shape_id>) is being packed" when a run holds the item.
void require_idle(quarvo::Shape& s);

// Marks items as being packed for its lifetime; made and destroyed with the GIL held.
class BusyItems {
public:
    BusyItems() = default;
    BusyItems(const BusyItems&) = delete;
    BusyItems& operator=(const BusyItems&) = delete;
    ~BusyItems();
    // `label` names the item in the messages of others ("item 3"). An item
    // that another run holds is a RuntimeError; one marked here already is kept.
    void add(quarvo::Shape& s, const std::string& label);

private:
    std::vector<quarvo::Shape*> items_;
};

}  // namespace qb
