"""The summary of a packed job, and the reasons for its unplaced items."""
import math
import os

from Quarvo.job.packing import engine_refusal, fits_alone
from Quarvo.job.reading import DEFAULT_ROTATIONS_DEG, _show, fmt
from Quarvo.report.sheets import from_drawings, material_area, report_lines


def net_area(entry):
    """Area of the item's material: a ring's hole is not part of it; a drawn part's on its curves."""
    return material_area(entry)


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


def search_line(result):
    """How the search or compression phase ended: at the lower bound, or how far above it; its CPU time."""
    job = result.job
    if _search_text(job.options) is None:
        return None
    threads = job.options.get("threads") or os.cpu_count() or 1
    cpu = f"{result.cpu_seconds:.1f} CPU s on {threads} thread{'s' if threads != 1 else ''}"
    if result.lower_bound is None or job.kinds is not None:
        # kinds of bin of their own sizes: the plan's cost bound says how far it may be from the best
        return f"  search: {cpu}"
    bins, length = result.lower_bound
    unit = f" {job.unit}" if job.unit else ""
    if job.bin_h is None:
        bound = f"a used length of {length_text(length, job.unit)}{unit}"
        gap = f"the used length is {100.0 * max(result.used_length - length, 0.0) / length:.1f}% above it" \
            if length > 0 else ""
    else:
        bound = f"{bins} bin{'s' if bins != 1 else ''}"
        if len(result.bins) == bins and length > 0:
            from Quarvo.first_fit_algorithm import used_length

            last = used_length([e.shape for e in result.bins[-1]])
            bound += f", the last used to {length_text(length, job.unit)}{unit}"
            gap = f"the last bin's used length is {100.0 * max(last - length, 0.0) / length:.1f}% above it"
        else:
            extra = len(result.bins) - bins
            gap = f"the layout uses {extra} bin{'s' if extra != 1 else ''} more"
    if result.stopped_early:
        return f"  stopped early at the lower bound ({bound}): nothing better exists; {cpu}"
    return f"  lower bound {bound}: {gap}; {cpu}" if gap else f"  lower bound {bound}; {cpu}"


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
    if options.get("rows"):
        extra = f", overhang {fmt(options['overhang'])} m" if options.get("overhang") else ""
        modes.append(f"rows along the length (end gap {fmt(options.get('end_gap', 0.05))} m{extra})")
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


def fill(result, k):
    """Bin k's fill: the material area of its items over its usable area (a
    strip's: its width times the used length)."""
    if result.plan is not None:
        return result.plan.bins[k].fill
    job, bin_entries = result.job, result.bins[k]
    height = job.bin_h if job.bin_h is not None else result.used_length
    return sum(net_area(e) for e in bin_entries) / (job.bin_w * height) if height > 0 else 0.0


def max_load_of(result, k):
    """The payload of bin k (None: no limit)."""
    kind = result.job.kind_of(result.bin_types[k]) if result.bin_types else None
    return result.job.max_load if kind is None else kind.max_load


def bin_text(job, unit=""):
    if job.kinds is not None and (len(job.kinds) > 1 or job.kinds[0].count or job.kinds[0].cost is not None):
        return f"{len(job.kinds)} kind{'s' if len(job.kinds) != 1 else ''} of bin"
    return kind_text(job, unit)


def kind_text(kind, unit=""):
    """A bin (the job, or one of its kinds) as people read it."""
    width, height = (kind.bin_w, kind.bin_h) if hasattr(kind, "bin_w") else (kind.width, kind.height)
    length = kind.bin_length if hasattr(kind, "bin_length") else kind.length
    text = f"strip {fmt(width)}{unit} wide" if height is None else f"bin {fmt(width)} x {fmt(height)}{unit}"
    if kind.carrier:
        text = f"carrier {kind.carrier}: {text}"
    if getattr(kind, "outer", None) is not None:
        text += f" (an outline{f' with {len(kind.holes)} cut-outs' if kind.holes else ''})"
    if getattr(kind, "defects", None):
        text += f", {len(kind.defects)} defect{'s' if len(kind.defects) != 1 else ''}"
    if length is not None:
        text += f", length {fmt(length)}{unit}"
    if kind.max_load is not None:
        text += f", max_load {kg(kind.max_load)}"
    for key, value in (("count", getattr(kind, "count", None)), ("cost", getattr(kind, "cost", None))):
        if value is not None:
            text += f", {key} {fmt(value)}"
    return text


def plan_lines(result):
    """Per kind of bin what it is and how many the plan uses; the total cost and its lower bound."""
    job, plan = result.job, result.plan
    unit = f" {job.unit}" if job.unit else ""
    lines = ["  bins on offer:"]
    for k, kind in enumerate(job.kinds):
        used = plan.per_kind.get(k, 0)
        lines.append(f"    kind {k}: {kind_text(kind, unit)}: {used} used")
    gap = "" if plan.gap is None else f", {100.0 * plan.gap:.1f}% above it"
    lines.append(f"  total cost {fmt(plan.total_cost)}; lower bound {fmt(plan.lower_bound)} (the items' area at "
                 f"the cheapest cost per usable area, or their mass at the cheapest cost per payload){gap}")
    return lines


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


_BASIS_TEXT = {"nominal": "nominal weight as sold (API casing and tubing, couplings included)",
               "plain_end": "plain-end steel by size, length and density",
               "given": "the job's own mass"}


def basis_text(result):
    """What the masses stand for, with the number of pieces of each basis."""
    from Quarvo.report.loading import mass_basis

    counts = {}
    for e in result.entries:
        if e.shape is not None and e.idef.kind == "pipe":
            b = mass_basis(e)
            counts[b] = counts.get(b, 0) + 1
    parts = [f"{_BASIS_TEXT[b]}: {n} piece{'s' if n != 1 else ''}" for b, n in counts.items()]
    return "mass = " + "; ".join(parts) if parts else "mass = the items' own"


def load_lines(result):
    """Per bin with rows: rows and pieces, the centre of gravity, the load on each support against its
    limit, the centre's distance from the middle against the carrier's tolerance; then the items the
    supports' limits passed on to a later bin."""
    from Quarvo.report.loading import bin_load, within_limits

    job = result.job
    unit = f" {job.unit}" if job.unit else ""
    lines = []
    for k, b in enumerate(result.bins):
        rows = {result.along[e.number].row for e in b}
        load = bin_load(result, k)
        text = f"  bin {k}: {len(b)} pieces in {len(rows)} rows"
        if "cog" in load:
            c = load["cog"]
            text += f"; centre of gravity {fmt(round(c['along'], 3))} m from the front, x {fmt(round(c['x'], 1))}" \
                    f"{unit}, y {fmt(round(c['y'], 1))}{unit}"
        lines.append(text)
        if "axle_loads" in load:
            bits = [f"{n} {kg(v)} of {kg(load['axle_limits'][n])} ({100.0 * v / load['axle_limits'][n]:.0f}%)"
                    for n, v in load["axle_loads"].items()]
            lines.append("    load on " + ", ".join(bits) + ("" if within_limits(load) else "  OVER THE LIMIT"))
        if "cog_offset" in load:
            lines.append(f"    centre {100.0 * abs(load['cog_offset']):.1f}% of the length "
                         f"{'behind' if load['cog_offset'] > 0 else 'before'} the middle (at most "
                         f"{100.0 * load['cog_tolerance']:.0f}%, CTU Code)" + ("" if within_limits(load) else
                                                                                "  OVER THE LIMIT"))
    if result.deferred:
        lines.append("  passed on to a later bin by the supports' limits:")
        for e, k, why in result.deferred:
            lines.append(f"    item {e.number} (id {_show(e.idef.id)}, copy {e.copy}) left bin {k}: {why}")
    return lines


def title(job):
    return job.name or os.path.basename(job.source)


def unplaced_lines(result):
    """One line per group of unplaced pieces of one job item that share their
    reason ("130 x TBG 2-7/8: longer than ..."), in the order they come."""
    groups = {}
    for e in result.unplaced:
        groups.setdefault((e.idef.index, unplaced_reason(e, result)), []).append(e)
    out = []
    for (_, reason), entries in groups.items():
        e = entries[0]
        if len(entries) == 1:
            out.append(f"item {e.number} (id {_show(e.idef.id)}, copy {e.copy}): {reason}")
        else:
            numbers = f"items {entries[0].number}-{entries[-1].number}" \
                if [x.number for x in entries] == list(range(entries[0].number, entries[-1].number + 1)) \
                else f"{len(entries)} items"
            out.append(f"{len(entries)} x {e.idef.id} ({numbers}): {reason}")
    return out


# Decimals that keep a length to 0.1 mm in a job's unit (mm when it names none).
_LENGTH_DECIMALS = {"": 1, "mm": 1, "cm": 2, "m": 4, "in": 3}


def length_text(x, unit="", decimals=None):
    """A computed length for people: to 0.1 mm in the job's unit (``decimals`` for more)."""
    d = _LENGTH_DECIMALS.get(unit, 4) if decimals is None else decimals
    return f"{x:.{d}f}"


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
        f"  {'sheet' if from_drawings(job) else 'bin':>4}  {'items':>6}  {'fill':>7}{load_head}"
        + (f"  {'kind':>4}  {'cost':>10}" if result.plan is not None else "") + "  in holes (by depth)",
    ]
    for k, b in enumerate(result.bins):
        load = ""
        if masses:
            m = mass_of(b)
            limit = max_load_of(result, k)
            share = f"{100.0 * m / limit:.1f}%" if limit else "-"
            load = f"  {kg(m):>11}  {share:>11}"
        if result.plan is not None:
            load += f"  {result.bin_types[k]:>4}  {fmt(result.bin_costs[k]):>10}"
        lines.append(f"  {k + 1:>4}  {len(b):>6}  {100.0 * fill(result, k):>6.1f}%{load}  "
                     f"{_depths_text(holes_by_depth(b))}")
    if not result.bins:
        lines.append("  (no bin used)")
    lines.append("")
    lines.append(f"  placed {result.placed} of {total} items in {len(result.bins)} bin(s), "
                 f"{len(result.unplaced)} unplaced, {result.seconds:.2f} s")
    if result.search_stopped:
        lines.append("  the search was cut short (Ctrl-C): this is the best layout it had found")
    search = search_line(result)
    if search:
        lines.append(search)
    if masses:
        placed_mass = sum(mass_of(b) for b in result.bins)
        left = mass_of(result.unplaced)
        if result.job.has_lengths:
            what = f" ({basis_text(result)}" + ("; a pipe without a length counts its mass per metre)"
                                                if _pipe_per_metre(result) else ")")
        else:
            what = " (mass = the items' steel: a pipe's from its size, length and density" + \
                ("; a pipe without a length counts its mass per metre)" if _pipe_per_metre(result) else ")")
        lines.append(f"  mass placed {kg(placed_mass)}" + (f", unplaced {kg(left)}" if left else "") + what)
    if job.rows and result.bins:
        lines.extend(load_lines(result))
    if result.plan is not None:
        lines.extend(plan_lines(result))
    if job.bin_h is None:
        lines.append(f"  used length {length_text(result.used_length, job.unit)}{unit} (the highest point of any item)")
        lines.append("  fill = material area of the items (holes excluded) / (width x used length)")
    elif result.plan is not None:
        lines.append("  fill = material area of the bin's items (holes excluded) / its usable area (less its "
                     "cut-outs and defects)")
    else:
        lines.append("  fill = material area of the bin's items (holes excluded) / bin area")
    if from_drawings(job):
        lines.extend(report_lines(result))
    if result.unplaced:
        lines.append("  unplaced:")
        lines.extend(f"    {line}" for line in unplaced_lines(result))
    if result.check is not None:
        lines.extend("  " + line for line in result.check.summary(max_lines=10).splitlines())
    if result.loading is not None:
        lines.extend("  " + line for line in result.loading.summary(max_lines=10).splitlines())
    return lines


def bin_name(result, k):
    """A bin as people name it: its carrier or sheet, and its number (from 1)."""
    job = result.job
    kind = job.kind_of(result.bin_types[k]) if result.bin_types else None
    if kind is not None and len(job.kinds) > 1:
        name = kind.carrier or f"kind {result.bin_types[k]}"
        return f"{'sheet' if from_drawings(job) else 'bin'} {k + 1} ({name}, cost {result.bin_costs[k]:.6g})"
    if job.carrier:
        return f"{job.carrier} #{k + 1}"
    if job.bin_h is None:
        return f"strip {k + 1}"
    return f"{'sheet' if from_drawings(job) else 'bin'} {k + 1}"
