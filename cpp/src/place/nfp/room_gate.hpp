// Which places in the rooms of placed containers a moving item may take: a
// coupled pipe only where its coupling passes the room with the distance, and
// with the caller's admission (PlaceRequest::admit) only where that admits it.
#pragma once
#include <functional>
#include <vector>

#include "place/nfp/hole_rooms.hpp"
#include "quarvo/placer.hpp"
#include "quarvo/shapes.hpp"

namespace quarvo {

class RoomGate {
public:
    RoomGate(const std::vector<Shape*>& packed, const Admission* admit) : packed_(packed), admit_(admit) {}

    // Whether any rule applies to `mover`; otherwise every place passes.
    bool applies(const Shape& mover) const { return admit_ != nullptr || coupled(mover); }
    static bool coupled(const Shape& mover) { return mover.is_pipe() && pipe_cast(mover).coupling_od > 0.0; }
    // Whether the mover's coupling, grown by its spacing, fits a round room of
    // this radius (true for a mover without one).
    static bool coupling_passes(const Shape& mover, double radius);

    // The disc search's test: the mover at t in the room of packed[host], a
    // disc of `radius`, or outside every room (host -1).
    bool lets(const Shape& mover, long host, double radius, Pt t) const;

    // The innermost of `rooms` that holds the mover at t; null outside every room.
    static const HoleRoom* room_at(const Shape& mover, Pt t, const std::vector<HoleRoom>& rooms, bool exact,
                                   const std::function<void()>& stop);
    // The candidate search's test, in whichever room holds the mover at t.
    bool lets_at(const Shape& mover, Pt t, const std::vector<HoleRoom>& rooms, bool exact,
                 const std::function<void()>& stop) const;

private:
    bool admitted(long host, Pt t) const;

    const std::vector<Shape*>& packed_;
    const Admission* admit_;
};

}  // namespace quarvo
