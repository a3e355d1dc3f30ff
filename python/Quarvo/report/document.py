"""The result document: every placement with its host, depth and lift, each
bin's totals and the unplaced items with their reasons; and the plan of a
bin's loading (lifts bottom up, each nest innermost first)."""
from dataclasses import dataclass

from Quarvo.job.reading import fmt
from Quarvo.report.sheets import drawing_to_sheet, from_drawings, sheet_record
from Quarvo.report.summary import _rotation_out, fill, mass_of, unplaced_reason


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
    host = [None if h is None else at[id(h)] for h in hosts(shapes)]
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
    # Loading order: a lift after every lift holding it up; among the free ones the lowest, then the leftmost.
    below = {i: set() for i in tops}
    for i, (_, _, supports) in enumerate(rest_states(shapes, result.job.bin_w, result.job.distance)):
        t = top_of(i)
        if t in below:
            below[t].update(top_of(j) for j in supports if top_of(j) != t)

    def key(i):
        s = shapes[i]
        x0, y0, _, _ = s.bounding_box()
        return (y0, x0, i)

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


def placement_record(entry, bin_index, job, plan=None):
    from Quarvo.geometry_handle import circle_to_polygon

    s = entry.shape
    rec = {"item": entry.number, "id": entry.idef.id, "copy": entry.copy, "type": entry.idef.kind,
           "size": item_size(entry.idef), "bin": bin_index, "sheet": bin_index + 1, "tx": s.tx, "ty": s.ty,
           "rotation": _rotation_out(s.rotation, job), "mass": s.mass}
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


def result_document(result):
    job = result.job
    return {
        "job": job.name or job.source,
        **({"unit": job.unit} if job.unit else {}),
        "bin": bin_record(job),
        "distance": job.distance,
        "strategy": job.strategy,
        "placement": job.placement,
        "rotation_unit": job.rotation_unit,
        "seconds": round(result.seconds, 4),
        **({"used_length": result.used_length} if job.bin_h is None else {}),
        "bins": [{"bin": k, "sheet": k + 1, "items": len(b), "fill_ratio": fill(result, b), "mass": mass_of(b),
                  **({"load_share": mass_of(b) / job.max_load} if job.max_load else {}),
                  **(sheet_record(result, k) if from_drawings(job) else {}),
                  "lifts": [lift_record(lift) for lift in bin_plan(result, k).lifts]}
                 for k, b in enumerate(result.bins)],
        "placements": [placement_record(e, k, job, bin_plan(result, k)) for k, b in enumerate(result.bins)
                       for e in b],
        "unplaced": [{"item": e.number, "id": e.idef.id, "copy": e.copy, "reason": unplaced_reason(e, result)}
                     for e in result.unplaced],
        **({"check": {"ok": result.check.ok, "violations": [str(v) for v in result.check.violations]}}
           if result.check is not None else {}),
    }


