#include "place/nfp/room_gate.hpp"

#include <cmath>

#include "quarvo/constants.hpp"

namespace quarvo {

bool RoomGate::coupling_passes(const Shape& mover, double radius) {
    if (!coupled(mover)) return true;
    return pipe_cast(mover).coupling_od / 2.0 + mover.infl() <= radius;
}

bool RoomGate::admitted(long host, Pt t) const {
    return admit_ == nullptr || (*admit_)(host < 0 ? nullptr : packed_[static_cast<std::size_t>(host)], t);
}

bool RoomGate::lets(const Shape& mover, long host, double radius, Pt t) const {
    if (host >= 0 && !coupling_passes(mover, radius)) return false;
    return admitted(host, t);
}

const HoleRoom* RoomGate::room_at(const Shape& mover, Pt t, const std::vector<HoleRoom>& rooms, bool exact,
                                  const std::function<void()>& stop) {
    const HoleRoom* found = nullptr;
    double smallest = kInf;
    for (const HoleRoom& r : rooms) {
        if (!r.usable) continue;
        // rooms around one item nest: the smallest is the one it lies in directly
        const double area = r.disc ? kPi * r.radius * r.radius : std::fabs(polygon_area(r.room));
        if (area >= smallest || !lies_in_room(mover, t, r, exact, stop, 1e-6)) continue;
        smallest = area;
        found = &r;
    }
    return found;
}

bool RoomGate::lets_at(const Shape& mover, Pt t, const std::vector<HoleRoom>& rooms, bool exact,
                       const std::function<void()>& stop) const {
    const HoleRoom* room = room_at(mover, t, rooms, exact, stop);
    if (room && coupled(mover)) {
        if (room->disc) {
            if (!coupling_passes(mover, room->radius)) return false;
        } else {
            // a polygon's hole: the coupling, on the pipe's axis, lies in it
            Circle coupling(pipe_cast(mover).coupling_od / 2.0);
            coupling.set_infl(mover.infl());
            if (!lies_in_room(coupling, t, *room, true, stop)) return false;
        }
    }
    return admitted(room ? static_cast<long>(room->container) : -1, t);
}

}  // namespace quarvo
