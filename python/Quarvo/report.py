"""Reporting a packed job: the summary, the result document and the reasons
for unplaced items."""
import csv
import io
import math
import os
from dataclasses import dataclass

from Quarvo.job import DEFAULT_ROTATIONS_DEG, _show, fmt
from Quarvo.packing import engine_refusal, fits_alone


def net_area(entry):
    """Area of the item's material: a ring's hole is not part of it."""
    from Quarvo.geometry_handle import polygon_area

    idef = entry.idef
    if idef.kind == "circle":
        return math.pi * idef.radius * idef.radius
    if idef.kind == "pipe":
        bore = max(0.0, idef.od / 2 - idef.wall)
        return math.pi * ((idef.od / 2) ** 2 - bore * bore)
    return abs(polygon_area(idef.outer)) - sum(abs(polygon_area(h)) for h in idef.holes)


def spacing(entry, job):
    return job.distance / 2.0 + entry.idef.inflation + entry.idef.margin


# The engine's reasons that say no more than that the item found no room.
_NO_ROOM = ("does not fit in an empty bin", "does not fit in the strip's width")


def unplaced_reason(entry, result):
    """Why the item is unplaced: the engine's refusal when it refuses the item,
    else the bin's length or payload when the engine left it out for that,
    else that it finds no place at rest, else that it does not fit an empty bin."""
    if entry.refusal is not None:
        return entry.refusal
    why = result.engine_reasons.get(entry.number)
    if why is not None and why not in _NO_ROOM:
        return why
    job, idef = result.job, entry.idef
    if idef.index not in result.reasons:
        result.reasons[idef.index] = engine_refusal(job, idef, entry.number) or _no_rest(entry, result) or \
            _no_room(entry, job)
    return result.reasons[idef.index]


def _no_rest(entry, result):
    job, idef = result.job, entry.idef
    if not job.options.get("stable") or not fits_alone(job, idef, entry.number, stable=False):
        return None
    if fits_alone(job, idef, entry.number, stable=True):
        return "no place at rest on the pile: nothing to lie on at the allowed rotations"
    return ("no place at rest even alone on the floor at the allowed rotations "
            "(a sharp corner below, grown by the spacing, keeps it off the floor)")


def _no_room(entry, job):
    from Quarvo.geometry_handle import is_convex

    idef = entry.idef
    # The engine refused the item in an empty bin without a message: the nfp
    # placer takes convex polygons only.
    if job.strategy == "nfp" and idef.kind == "polygon" and not job.options.get("nonconvex") \
            and not is_convex(idef.outer):
        return ('non-convex polygon: the nfp placer takes non-convex outlines only with "nonconvex": true '
                '(or use strategy "bl")')
    # its room: grown by its spacing, and kept from the edges by the larger of that and the margin
    s = max(spacing(entry, job), job.margin)
    if idef.kind == "circle":
        w = h = 2.0 * (idef.radius + s)
    elif idef.kind == "pipe":
        w = h = idef.od + 2.0 * s
    else:
        xs = [p[0] for p in idef.outer]
        ys = [p[1] for p in idef.outer]
        w, h = max(xs) - min(xs) + 2.0 * s, max(ys) - min(ys) + 2.0 * s
    turns = "" if idef.kind in ("circle", "pipe") or job.strategy == "bl" else " at any allowed rotation"
    room = f"a strip {fmt(job.bin_w)} wide" if job.bin_h is None else \
        f"an empty {fmt(job.bin_w)} x {fmt(job.bin_h)} bin"
    spaced = "its spacing and the edge margin" if job.margin > spacing(entry, job) else "its spacing"
    return (f"does not fit in {room}{turns} "
            f"(about {fmt(w)} x {fmt(h)} with {spaced})")


def holes_by_depth(bin_entries):
    """{depth: number of items} for the items of a bin that lie in holes."""
    from Quarvo.check import nesting_depths

    counts = {}
    for d in nesting_depths([e.shape for e in bin_entries]):
        if d:
            counts[d] = counts.get(d, 0) + 1
    return dict(sorted(counts.items()))


def _depths_text(counts):
    total = sum(counts.values())
    return f"{total} ({' '.join(f'{d}:{n}' for d, n in counts.items())})" if total else "0"


def _search_text(options):
    """The improvement search with its limits, or None when it does not run."""
    limits = []
    if options.get("time_limit") is not None:
        limits.append(f"{fmt(options['time_limit'])} s")
    if options.get("iterations") is not None:
        limits.append(f"{options['iterations']} iterations")
    if not limits:
        return None
    return f"search {' or '.join(limits)}, seed {options.get('seed') or 0}"


def modes_line(job):
    """Every mode in effect: holes, clearance, then each opt-in mode that is on."""
    options = job.options
    if job.strategy != "nfp":
        holes = "none (bottom-left)"
    else:
        holes = options.get("hole_fill", "sampled")
    clearance = "exact (circles as circumscribed 64-gons)" if options.get("exact_clearance") \
        else "inscribed (circles as inscribed 64-gons)"
    modes = [f"holes {holes}", f"clearance {clearance}"]
    if job.margin:
        modes.append(f"edge margin {fmt(job.margin)}{' ' + job.unit if job.unit else ''}")
    if options.get("mirror"):
        modes.append("parts may be mirrored")
    if options.get("nonconvex"):
        modes.append("non-convex outlines")
    if options.get("stable"):
        modes.append("stable (every item at rest)")
    if options.get("compress") and ("time_limit" in options or "iterations" in options):
        modes.append("compression (weights order the greedy pass only)")
    if options.get("incremental"):
        modes.append("incremental unions")
    search = _search_text(options)
    if search:
        modes.append(search)
    return "  " + ", ".join(modes)


def _rotation_out(angle, job):
    """The rotation in the job's unit, as written in the job when it came from there."""
    given = job.rotations_given
    radians = job.rotations
    if given is None:
        given = list(DEFAULT_ROTATIONS_DEG)
        radians = [0.0, math.pi / 2, math.pi, 3 * math.pi / 2]
        if job.rotation_unit == "radians":
            given = list(radians)
    for g, r in zip(given, radians):
        if r == angle:
            return g
    return math.degrees(angle) if job.rotation_unit == "degrees" else angle


def fill(result, bin_entries):
    job = result.job
    height = job.bin_h if job.bin_h is not None else result.used_length
    return sum(net_area(e) for e in bin_entries) / (job.bin_w * height) if height > 0 else 0.0


def bin_text(job, unit=""):
    text = f"strip {fmt(job.bin_w)}{unit} wide" if job.bin_h is None else \
        f"bin {fmt(job.bin_w)} x {fmt(job.bin_h)}{unit}"
    if job.carrier:
        text = f"carrier {job.carrier}: {text}"
    if job.bin_length is not None:
        text += f", length {fmt(job.bin_length)}{unit}"
    if job.max_load is not None:
        text += f", max_load {kg(job.max_load)}"
    return text


def kg(mass):
    """A mass for people: whole kg with thousands separated, below 100 kg to 0.1."""
    return f"{mass:,.0f} kg" if abs(mass) >= 100 else f"{mass:.1f} kg"


def mass_of(entries):
    return sum(e.shape.mass for e in entries if e.shape is not None)


def _pipe_per_metre(result):
    return any(e.idef.kind == "pipe" and e.idef.length is None for e in result.entries)


def shows_mass(result):
    """Whether masses mean anything here: some item has one, or the bin a payload."""
    return result.job.max_load is not None or any(e.shape is not None and e.shape.mass > 0 for e in result.entries)


def title(job):
    return job.name or os.path.basename(job.source)


def summary_lines(result):
    job = result.job
    total = len(result.entries)
    unit = f" {job.unit}" if job.unit else ""
    masses = shows_mass(result)
    load_head = f"  {'mass':>11}  {'of max_load':>11}" if masses else ""
    lines = [
        f"job: {title(job)}",
        f"  {total} items, {bin_text(job, unit)}, distance {fmt(job.distance)}{unit}, "
        f"strategy {job.strategy}, placement {job.placement}",
        modes_line(job),
        "",
        f"  {'bin':>4}  {'items':>6}  {'fill':>7}{load_head}  in holes (by depth)",
    ]
    for k, b in enumerate(result.bins):
        load = ""
        if masses:
            m = mass_of(b)
            share = f"{100.0 * m / job.max_load:.1f}%" if job.max_load else "-"
            load = f"  {kg(m):>11}  {share:>11}"
        lines.append(f"  {k:>4}  {len(b):>6}  {100.0 * fill(result, b):>6.1f}%{load}  "
                     f"{_depths_text(holes_by_depth(b))}")
    if not result.bins:
        lines.append("  (no bin used)")
    lines.append("")
    lines.append(f"  placed {result.placed} of {total} items in {len(result.bins)} bin(s), "
                 f"{len(result.unplaced)} unplaced, {result.seconds:.2f} s")
    if result.search_stopped:
        lines.append("  the search was cut short (Ctrl-C): this is the best layout it had found")
    if masses:
        placed_mass = sum(mass_of(b) for b in result.bins)
        left = mass_of(result.unplaced)
        lines.append(f"  mass placed {kg(placed_mass)}" + (f", unplaced {kg(left)}" if left else "")
                     + " (mass = the items' steel: a pipe's from its size, length and density"
                 + ("; a pipe without a length counts its mass per metre)" if _pipe_per_metre(result) else ")"))
    if job.bin_h is None:
        lines.append(f"  used length {fmt(result.used_length)}{unit} (the highest point of any item)")
        lines.append("  fill = material area of the items (holes excluded) / (width x used length)")
    else:
        lines.append("  fill = material area of the bin's items (holes excluded) / bin area")
    if result.unplaced:
        lines.append("  unplaced:")
        for e in result.unplaced:
            lines.append(f"    item {e.number} (id {_show(e.idef.id)}, copy {e.copy}): {unplaced_reason(e, result)}")
    if result.check is not None:
        lines.extend("  " + line for line in result.check.summary(max_lines=10).splitlines())
    return lines


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


def placement_record(entry, bin_index, job, plan=None):
    from Quarvo.geometry_handle import circle_to_polygon

    s = entry.shape
    rec = {"item": entry.number, "id": entry.idef.id, "copy": entry.copy, "type": entry.idef.kind,
           "bin": bin_index, "tx": s.tx, "ty": s.ty, "rotation": _rotation_out(s.rotation, job), "mass": s.mass}
    if job.options.get("mirror") and entry.idef.kind == "polygon":
        rec["mirrored"] = s.mirrored
    if plan is not None:
        host = plan.host[id(entry)]
        rec["host"] = None if host is None else {"id": host.idef.id, "copy": host.copy}
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
        "bins": [{"bin": k, "items": len(b), "fill_ratio": fill(result, b), "mass": mass_of(b),
                  **({"load_share": mass_of(b) / job.max_load} if job.max_load else {}),
                  "lifts": [lift_record(lift) for lift in bin_plan(result, k).lifts]}
                 for k, b in enumerate(result.bins)],
        "placements": [placement_record(e, k, job, bin_plan(result, k)) for k, b in enumerate(result.bins)
                       for e in b],
        "unplaced": [{"item": e.number, "id": e.idef.id, "copy": e.copy, "reason": unplaced_reason(e, result)}
                     for e in result.unplaced],
        **({"check": {"ok": result.check.ok, "violations": [str(v) for v in result.check.violations]}}
           if result.check is not None else {}),
    }


# ------------------------------------------------------------ load table

TABLE_COLUMNS = ("bin", "lift", "item", "id", "copy", "description", "x", "y", "rotation", "host", "depth", "mass")


def _size(idef):
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


def load_table(result):
    """The load plan as rows (dicts keyed by TABLE_COLUMNS): per bin, one row
    per placed item, lift by lift bottom up and in each lift in the order the
    items go in (innermost first, the lift's top item last), then the bin's
    totals. ``x``, ``y``: a circle's centre, a polygon's translation;
    ``rotation`` in the job's unit; ``host``: the number of the item whose
    hole holds it; ``mass`` in kg where the job has masses (a pipe's from
    its size, length and density; per metre for a pipe without a length)."""
    job = result.job
    masses = shows_mass(result)
    rows = []
    for k, entries in enumerate(result.bins):
        plan = bin_plan(result, k)
        for lift in plan.lifts:
            for e in [e for e, _ in lift.order] + [lift.top]:
                host = plan.host[id(e)]
                rows.append({"bin": k, "lift": lift.number, "item": e.number, "id": e.idef.id, "copy": e.copy,
                             "description": _size(e.idef), "x": e.shape.tx, "y": e.shape.ty,
                             "rotation": _rotation_out(e.shape.rotation, job),
                             "host": None if host is None else host.number, "depth": plan.depth[id(e)],
                             "mass": e.shape.mass if masses else None})
        rows.append({"bin": k, "lift": None, "item": None, "id": "total", "copy": None,
                     "description": f"{len(entries)} items in {len(plan.lifts)} lifts", "x": None, "y": None,
                     "rotation": None, "host": None, "depth": None,
                     "mass": mass_of(entries) if masses else None})
    return rows


# A spreadsheet takes a cell that starts with one of these for a formula.
_FORMULA_LEAD = ("=", "+", "-", "@", "\t", "\r")


def spreadsheet_text(text):
    """A text cell a spreadsheet shows as the text it is: a leading quote keeps
    "=HYPERLINK(...)" or "-2+3" from being evaluated."""
    return "'" + text if text.startswith(_FORMULA_LEAD) else text


def _cell(v):
    if v is None:
        return ""
    if isinstance(v, float):
        return f"{v:.10g}"
    if isinstance(v, int) and not isinstance(v, bool):
        return str(v)
    return spreadsheet_text(str(v))


def load_table_csv(result):
    """The load table as CSV text with a header row (numbers to ten significant digits)."""
    out = io.StringIO()
    # CRLF rows (RFC 4180): a text holding a lone CR or LF is then quoted, never a row break
    w = csv.writer(out, lineterminator="\r\n")
    w.writerow(TABLE_COLUMNS)
    for row in load_table(result):
        w.writerow([_cell(row[c]) for c in TABLE_COLUMNS])
    return out.getvalue()


def write_load_table(result, path):
    """Write the load table as a CSV file (UTF-8), whole or not at all."""
    from Quarvo.output import write_outputs

    write_outputs(result, table=path)
