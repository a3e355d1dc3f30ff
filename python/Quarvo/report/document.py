"""The result document: every placement with its host, depth and lift, each
bin's totals and the unplaced items with their reasons; and the plan of a
bin's loading (lifts bottom up, each nest innermost first)."""
from dataclasses import dataclass

from Quarvo.job.reading import fmt
from Quarvo.report.sheets import drawing_to_sheet, from_drawings, sheet_record
from Quarvo.report.loading import bin_load, coupling_od, mass_basis
from Quarvo.report.summary import _rotation_out, fill, mass_of, max_load_of, unplaced_reason


def _points(contour):
    return [[x, y] for x, y in contour]




@dataclass
class Lift:
    """A top-level item of a bin with everything nested in it, lifted in as one."""

    number: int  # 1-based, in loading order (bottom up)
    top: object  # the Entry lying on the bin's floor or on other lifts
    members: list  # every Entry of the nest, the top one first, then in placement order
    # (Entry, host Entry) in the order they go in, innermost first
    order: list

    @property
    def mass(self):
        return mass_of(self.members)


@dataclass
class BinPlan:
    """How a bin is loaded: per entry its host (None on the floor), depth and
    lift, and the lifts bottom up."""

    host: dict  # id(entry) -> host Entry or None
    depth: dict  # id(entry) -> 0 on the floor, 1 in a hole, ...
    lift: dict  # id(entry) -> Lift
    lifts: list


def bin_plan(result, k):
    """The BinPlan of bin k (computed once per result)."""
    plans = result.__dict__.setdefault("_plans", {})
    if k not in plans:
        plans[k] = _make_plan(result, result.bins[k])
    return plans[k]


def _make_plan(result, entries):
    from Quarvo.check import hosts, rest_states

    shapes = [e.shape for e in entries]
    at = {id(s): i for i, s in enumerate(shapes)}
    along = result.along
    if along:
        # with rows the engine says which piece's bore holds each piece; a row lies once in the section
        host = [None if along[e.number].host is None else at[id(along[e.number].host.shape)] for e in entries]
        leader = [at[id(along[e.number].leader.shape)] for e in entries]
    else:
        host = [None if h is None else at[id(h)] for h in hosts(shapes)]
        leader = list(range(len(entries)))
    held = {i: [] for i in range(len(entries))}
    for i, h in enumerate(host):
        if h is not None:
            held[h].append(i)

    def depth(i):
        d = 0
        while host[i] is not None and d <= len(entries):  # a cycle only in a broken layout
            i, d = host[i], d + 1
        return d

    def top_of(i):
        for _ in range(len(entries) + 1):
            if host[i] is None:
                break
            i = host[i]
        return i

    def inward(i, out):
        """The items nested in i, each after those nested in it: innermost first."""
        for c in held[i]:
            inward(c, out)
            out.append((entries[c], entries[i]))
        return out

    tops = [i for i in range(len(entries)) if host[i] is None]
    # Loading order: a lift after every lift holding it up; among the free ones the lowest, then the leftmost
    # (with rows: a lift after the lifts of the rows below its row, front to back along a row).
    below = {i: set() for i in tops}
    heads = sorted(set(leader))
    in_row = {h: [i for i in range(len(entries)) if leader[i] == h] for h in heads}
    states = rest_states([shapes[h] for h in heads], result.job.bin_w, result.job.distance)
    for h, (_, _, supports) in zip(heads, states):
        under = {top_of(j) for k in supports for j in in_row[heads[k]]}
        for i in in_row[h]:
            t = top_of(i)
            if t in below:
                below[t].update(u for u in under if u != t)

    def key(i):
        s = shapes[i]
        x0, y0, _, _ = s.bounding_box()
        return (y0, x0, along[entries[i].number].start if along else 0.0, i)

    order, done = [], set()
    while len(order) < len(tops):
        free = [i for i in tops if i not in done and below[i] <= done]
        if not free:  # held up in a ring by one another: only in a layout off rest
            free = [i for i in tops if i not in done]
        nxt = min(free, key=key)
        order.append(nxt)
        done.add(nxt)
    plan = BinPlan({}, {}, {}, [])
    for n, t in enumerate(order, 1):
        members = [entries[t]]
        stack = list(reversed(held[t]))
        while stack:
            c = stack.pop()
            members.append(entries[c])
            stack.extend(reversed(held[c]))
        lift = Lift(n, entries[t], members, inward(t, []))
        plan.lifts.append(lift)
        for e in members:
            plan.lift[id(e)] = lift
    for i, e in enumerate(entries):
        plan.host[id(e)] = None if host[i] is None else entries[host[i]]
        plan.depth[id(e)] = depth(i)
    return plan


def _ref(entry):
    return {"item": entry.number, "id": entry.idef.id, "copy": entry.copy}


def lift_record(lift):
    return {"lift": lift.number, **_ref(lift.top), "items": len(lift.members), "mass": lift.mass,
            "order": [{"item": e.number, "into": h.number} for e, h in lift.order]}


def item_size(idef):
    """What the item is, for people: its description, else its size."""
    if idef.description:
        return idef.description
    if idef.kind == "circle":
        return f"circle D {fmt(2.0 * idef.radius)}"
    if idef.kind == "pipe":
        size = f"OD {fmt(idef.od)} x {fmt(idef.wall)}"
        if idef.size:
            size = f"{idef.size} {idef.schedule}" if idef.schedule else f"{idef.size}, wall {fmt(idef.wall)}"
        return f"pipe {size}" + (f", {fmt(idef.length)} m" if idef.length is not None else "")
    xs = [p[0] for p in idef.outer]
    ys = [p[1] for p in idef.outer]
    holes = f", {len(idef.holes)} hole{'s' if len(idef.holes) != 1 else ''}" if idef.holes else ""
    return f"polygon {fmt(max(xs) - min(xs))} x {fmt(max(ys) - min(ys))}{holes}"


def placement_record(entry, bin_index, job, plan=None, along=None, place=None):
    from Quarvo.geometry_handle import circle_to_polygon

    s = entry.shape
    rec = {"item": entry.number, "id": entry.idef.id, "copy": entry.copy, "type": entry.idef.kind,
           "size": item_size(entry.idef), "bin": bin_index, "sheet": bin_index + 1, "tx": s.tx, "ty": s.ty,
           "rotation": _rotation_out(s.rotation, job), "mass": s.mass}
    if job.has_lengths and mass_basis(entry):
        rec["mass_basis"] = mass_basis(entry)
    if along is not None:
        rec["row"] = along.row
        rec["along"] = [along.start, along.end]
        if place is not None and getattr(s, "coupling_od", None) is not None:
            # couplings staggered end for end: along a row and from row to row
            rec["coupling_at"] = "front" if (along.row + place) % 2 == 0 else "back"
    if job.options.get("mirror") and entry.idef.kind == "polygon":
        rec["mirrored"] = s.mirrored
    if entry.idef.true_shape is not None:
        rec["drawing_to_sheet"] = drawing_to_sheet(entry)
    if plan is not None:
        host = plan.host[id(entry)]
        rec["host"] = None if host is None else {"item": host.number, "id": host.idef.id, "copy": host.copy}
        rec["depth"] = plan.depth[id(entry)]
        rec["lift"] = plan.lift[id(entry)].number
    if entry.idef.kind == "pipe":
        (cx, cy), r = s.transformed()
        rec.update(center=[cx, cy], radius=r, od=s.od, wall=s.wall)
        if s.length is not None:
            rec["length"] = s.length
        if s.coupling_od is not None:
            # a coupling of unknown size: null, and the pipe lies in no bore
            rec["coupling_od"] = coupling_od(entry)
        rec["contour"] = _points(circle_to_polygon((cx, cy), r, 64))
        rec["holes"] = [_points(h) for h in s.transformed_holes()]
    elif entry.idef.kind == "circle":
        (cx, cy), r = s.transformed()
        rec["center"] = [cx, cy]
        rec["radius"] = r
        rec["contour"] = _points(circle_to_polygon((cx, cy), r, 64))
    else:
        rec["contour"] = _points(s.transformed())
        rec["holes"] = [_points(h) for h in s.transformed_holes()]
    return rec


def bin_record(job):
    rec = {"width": job.bin_w, "height": job.bin_h} if job.bin_h is not None else {"width": job.bin_w}
    if job.margin:
        rec["margin"] = job.margin
    for key, value in (("max_load", job.max_load), ("length", job.bin_length), ("carrier", job.carrier)):
        if value is not None:
            rec[key] = value
    return rec


def kind_of_stock_record(kind):
    """A kind of bin of the job as the result gives it back: its contours in the job's frame."""
    rec = {"width": kind.width, "height": kind.height} if kind.height is not None else {"width": kind.width}
    for key in ("margin", "max_load", "length", "carrier", "count", "cost"):
        value = getattr(kind, key)
        if value is not None and (key != "margin" or value):
            rec[key] = value
    if kind.outer is not None:
        rec["outer"] = _points(kind.outer)
    if kind.holes:
        rec["holes"] = [_points(h) for h in kind.holes]
    if kind.defects:
        rec["defects"] = [_points(d) for d in kind.defects]
    if kind.origin != (0.0, 0.0):
        rec["origin"] = list(kind.origin)
    return rec


def _load_record(result, k):
    load = bin_load(result, k)
    out = {}
    if "cog" in load:
        out["cog"] = load["cog"]
    if "axle_loads" in load:
        out["axle_loads"] = load["axle_loads"]
        out["axle_limits"] = load["axle_limits"]
    if "cog_offset" in load:
        out["cog_offset"] = load["cog_offset"]
        out["cog_tolerance"] = load["cog_tolerance"]
    return out


def _rows_record(job):
    return {"length": job.row_length, "end_gap": job.options.get("end_gap", 0.05),
            "overhang": job.options.get("overhang", 0.0),
            **({"supports": {s.name: {"at": s.at, "max_load": s.max_load} for s in job.supports}}
               if job.supports else {})}


def place_in_row(result):
    """{entry number: 0 for the front piece of its row, 1 for the next, ...} (with rows)."""
    rows = {}
    for k, b in enumerate(result.bins):
        for e in b:
            if e.number in result.along:
                rows.setdefault((k, result.along[e.number].row), []).append(e.number)
    out = {}
    for numbers in rows.values():
        for i, n in enumerate(sorted(numbers, key=lambda n: result.along[n].start)):
            out[n] = i
    return out


def loading_check(result):
    """The independent check of the load along the bins, judged from the result document alone."""
    from Quarvo.check import check_loading

    return check_loading(result_document(result), total=len(result.entries))


def origin_of(result, k):
    """Where bin k's own frame (its outline's box at the origin) lies in the frame the job gave it in."""
    kind = result.job.kind_of(result.bin_types[k]) if result.bin_types else None
    return (0.0, 0.0) if kind is None else kind.origin


def in_job_frame(rec, origin):
    """A placement record moved from its bin's own frame to the job's (a no-op at the origin)."""
    ox, oy = origin
    if (ox, oy) == (0.0, 0.0):
        return rec
    rec["tx"], rec["ty"] = rec["tx"] + ox, rec["ty"] + oy
    if "center" in rec:
        rec["center"] = [rec["center"][0] + ox, rec["center"][1] + oy]
    for key in ("contour",):
        if key in rec:
            rec[key] = [[x + ox, y + oy] for x, y in rec[key]]
    if "holes" in rec:
        rec["holes"] = [[[x + ox, y + oy] for x, y in h] for h in rec["holes"]]
    if "drawing_to_sheet" in rec:
        m = rec["drawing_to_sheet"]
        rec["drawing_to_sheet"] = m[:4] + [m[4] + ox, m[5] + oy]
    return rec


def plan_record(result):
    """The plan's totals: bins used per kind, the total cost and the lower bound of any plan's."""
    plan = result.plan
    return {"kinds": len(result.job.kinds), "used_per_kind": [plan.per_kind.get(k, 0) for k in
                                                              range(len(result.job.kinds))],
            "total_cost": plan.total_cost, "lower_bound": plan.lower_bound}


def kind_record(result, k):
    """Bin k's kind (its index in the job's "bins"), cost and leftover, and where its frame lies."""
    use = result.plan.bins[k]
    kind = result.job.kinds[use.kind]
    out = {"type": use.kind, "cost": use.cost, "used_length": use.used_length,
           "leftover_length": use.leftover_length}
    if kind.origin != (0.0, 0.0):
        # places are given in the frame of the bin's outline as the job gives it
        out["origin"] = list(kind.origin)
    return out


def result_document(result):
    job = result.job
    return {
        "job": job.name or job.source,
        **({"unit": job.unit} if job.unit else {}),
        **({"bin": bin_record(job)} if job.kinds is None else
           {"kinds": [kind_of_stock_record(kind) for kind in job.kinds]}),
        "distance": job.distance,
        "strategy": job.strategy,
        "placement": job.placement,
        "rotation_unit": job.rotation_unit,
        "seconds": round(result.seconds, 4),
        **({"used_length": result.used_length} if job.bin_h is None else {}),
        **({"mass_basis": job.mass_basis} if job.has_lengths else {}),
        **({"rows": _rows_record(job)} if job.rows else {}),
        **({"plan": plan_record(result)} if result.plan is not None else {}),
        "bins": [{"bin": k, "sheet": k + 1, "items": len(b), "fill_ratio": fill(result, k), "mass": mass_of(b),
                  **({"load_share": mass_of(b) / max_load_of(result, k)} if max_load_of(result, k) else {}),
                  **(kind_record(result, k) if job.kinds is not None else {}),
                  **(sheet_record(result, k) if from_drawings(job) else {}),
                  **(_load_record(result, k) if job.rows else {}),
                  "lifts": [lift_record(lift) for lift in bin_plan(result, k).lifts]}
                 for k, b in enumerate(result.bins)],
        "placements": [in_job_frame(placement_record(e, k, job, bin_plan(result, k), result.along.get(e.number),
                                                     place_in_row(result).get(e.number)), origin_of(result, k))
                       for k, b in enumerate(result.bins) for e in b],
        **({"deferred": [{"item": e.number, "id": e.idef.id, "copy": e.copy, "bin": k, "reason": why}
                         for e, k, why in result.deferred]} if job.rows else {}),
        "unplaced": [{"item": e.number, "id": e.idef.id, "copy": e.copy, "reason": unplaced_reason(e, result)}
                     for e in result.unplaced],
        **({"check": {"ok": result.check.ok and (result.loading is None or result.loading.ok),
                      "violations": [str(v) for v in result.check.violations]
                      + ([] if result.loading is None else list(result.loading.faults))}}
           if result.check is not None else {}),
    }


