"""The load along a bin with rows: its centre of gravity, the load on the
bin's supports, the load's distance from the middle against the carrier's
tolerance, and what each pipe's mass stands for."""
import math


def centre_of(entry):
    """The centre of gravity of an item's section where it lies: a circle's centre, a polygon's
    centroid (its holes taken out)."""
    s = entry.shape
    if entry.idef.kind in ("circle", "pipe"):
        return s.tx, s.ty
    from Quarvo.geometry_handle import polygon_area, polygon_centroid

    rings = [(s.transformed(), 1.0)] + [(h, -1.0) for h in s.transformed_holes()]
    area = sum(sign * abs(polygon_area(r)) for r, sign in rings)
    if area <= 0:
        return s.tx, s.ty
    cx = sum(sign * abs(polygon_area(r)) * polygon_centroid(r)[0] for r, sign in rings) / area
    cy = sum(sign * abs(polygon_area(r)) * polygon_centroid(r)[1] for r, sign in rings) / area
    return cx, cy


def support_loads(mass, moment, supports):
    """{name: kg} the load of `mass` kg with `moment` kg m about the front bears on two supports, as a
    beam resting on them (negative: the support is lifted)."""
    (a, c) = sorted(supports, key=lambda s: s.at)
    on_c = (moment - a.at * mass) / (c.at - a.at)
    return {a.name: mass - on_c, c.name: on_c}


def bin_load(result, k):
    """The load of bin k along its length (with rows): mass, centre of gravity (along in m from the
    front, x and y in the job's unit), the load on each support and its limit, and the centre's
    distance from the middle against the carrier's tolerance."""
    job = result.job
    entries = result.bins[k]
    mass = sum(e.shape.mass for e in entries)
    out = {"mass": mass}
    if mass <= 0:
        return out
    moment = sx = sy = 0.0
    for e in entries:
        a = result.along[e.number]
        x, y = centre_of(e)
        moment += e.shape.mass * (a.start + a.end) / 2.0
        sx += e.shape.mass * x
        sy += e.shape.mass * y
    out["cog"] = {"along": moment / mass, "x": sx / mass, "y": sy / mass}
    if job.supports:
        loads = support_loads(mass, moment, job.supports)
        out["axle_loads"] = loads
        out["axle_limits"] = {s.name: s.max_load for s in job.supports}
        out["axle_at"] = {s.name: s.at for s in job.supports}
    if job.cog_tolerance is not None and job.bin_length:
        length = job.bin_length / 1000.0
        out["cog_offset"] = (moment / mass - length / 2.0) / length
        out["cog_tolerance"] = job.cog_tolerance
    return out


def within_limits(load):
    """Whether the supports' loads and the centre of gravity keep their limits."""
    ok = all(v <= load["axle_limits"][n] * (1 + 1e-9) for n, v in load.get("axle_loads", {}).items())
    if "cog_offset" in load:
        ok = ok and abs(load["cog_offset"]) <= load["cog_tolerance"] + 1e-12
    return ok


def mass_basis(entry):
    """What the entry's mass stands for: "nominal", "plain_end" or "given" (an item's own mass)."""
    if entry.idef.kind == "pipe":
        return entry.shape.mass_basis
    return "given" if entry.idef.mass else None


def coupling_od(entry):
    """A pipe's coupling outside diameter in mm, None without one or where its size is not known."""
    c = getattr(entry.shape, "coupling_od", None)
    return None if c is None or math.isinf(c) else c


def side_views(result):
    """Per bin its side view: the rows along the deck, the centre of gravity, the supports' loads."""
    from Quarvo.pictures.side import Piece, SideView, Support

    job = result.job
    views = []
    for k, entries in enumerate(result.bins):
        view = SideView(job.row_length / 1000.0)
        for e in entries:
            a = result.along[e.number]
            _, y0, _, y1 = e.shape.bounding_box()
            view.pieces.append(Piece(a.start, a.end, y0, y1, e.idef.id, a.host is not None))
        load = bin_load(result, k)
        if "cog" in load:
            view.cog = (load["cog"]["along"], load["cog"]["y"])
        for s in job.supports:
            view.supports.append(Support(s.name, s.at, load.get("axle_loads", {}).get(s.name, 0.0), s.max_load))
        views.append(view)
    return views
