"""Packing a checked job: the library items built from it, the packing run
and the independent check of its layout.

An item the engine refuses (a ``ValueError`` naming it) does not stop the job:
it is set aside with the engine's own message and listed as unplaced.
"""
import math
import time
from dataclasses import dataclass, field

from Quarvo.job.reading import Job


@dataclass
class Entry:
    """One copy of a job item, built as a library item."""

    number: int  # 1-based, the shape_id and the label in the plot
    idef: object  # the job's ItemDef
    copy: int  # 1-based copy of its job item
    shape: object  # None when the engine refused the item
    refusal: str = None  # the engine's message when it refused the item


def pipe_mass(idef):
    """The keywords of a pipe's mass: its own where the job gives it, else its nominal weight where the
    job's basis is nominal and the catalogue lists one (API casing and tubing), else none (by size)."""
    if idef.own_mass is not None:
        return {"mass": idef.own_mass}
    if idef.mass_per_m is not None:
        return {"mass_per_m": idef.mass_per_m}
    if idef.mass_basis == "nominal" and idef.nominal_mass is not None:
        return {"mass_basis": "nominal", "mass_per_m": idef.nominal_mass}
    return {}


def coupling_of(idef):
    """A pipe's coupling outside diameter (mm), inf for a coupled size the coupling table lists none
    for, None without one: the job's, else (where the job's pipes have lengths) the catalogue's."""
    if idef.coupling_od is not None:
        return idef.coupling_od or None
    if not idef.coupled or not idef.couplings:
        return None
    return idef.table_coupling if idef.table_coupling is not None else math.inf


def _shape(idef, number):
    from Quarvo.geometry import Circle, Pipe, Polygon

    if idef.kind == "pipe":
        # a pipe's mass follows from its size (or is its own), and its weight from its mass unless the job says
        # the steel's mass is reckoned on mm: an od and wall in other units weigh as the density per unit^3
        density = idef.density if idef.unit_mm == 1.0 else idef.density * idef.unit_mm * idef.unit_mm
        shape = Pipe(idef.od, idef.wall, length=idef.length, density=density, shape_id=number,
                     coupling_od=coupling_of(idef), **pipe_mass(idef))
    else:
        shape = Circle(idef.radius, shape_id=number) if idef.kind == "circle" else \
            Polygon(idef.outer, idef.holes, shape_id=number)
        shape.mass = idef.mass
    if idef.weight is not None or idef.kind != "pipe":
        shape.weight = idef.weight or 0.0
    shape.margin = idef.margin
    shape.inflation = idef.inflation
    if idef.file is not None and idef.kind == "polygon":
        # the part as drawn goes back to the drawing: its curves, its whole circles as circles
        shape.round_outer, shape.round_holes = idef.round_outer, list(idef.round_holes)
        shape.true_shape = idef.true_shape
    return shape


def build_items(job, refused=None):
    """One Entry per copy of every job item; items in ``refused`` (index ->
    message) or refused by the engine when built get no shape."""
    refused = {} if refused is None else refused
    entries = []
    for idef in job.items:
        for copy in range(1, idef.quantity + 1):
            number = len(entries) + 1
            shape = None
            if idef.index not in refused:
                try:
                    shape = _shape(idef, number)
                except ValueError as exc:
                    refused[idef.index] = str(exc)
            entries.append(Entry(number, idef, copy, shape, refused.get(idef.index)))
    return entries


def job_bin(job):
    from Quarvo.geometry import Bin

    return Bin(job.bin_w, job.bin_h, margin=job.margin, max_load=job.max_load,
               length=job.row_length if job.rows else job.bin_length, supports=job.supports)


def kind_bin(kind):
    """The library Bin of a BinKind, in its own frame (its outline's box at the origin)."""
    from Quarvo.geometry import Bin

    ox, oy = kind.origin

    def moved(ring):
        return [(x - ox, y - oy) for x, y in ring]

    return Bin(kind.width, kind.height, margin=kind.margin, max_load=kind.max_load, length=kind.length,
               supports=kind.supports, count=kind.count, cost=kind.cost,
               outer=None if kind.outer is None else moved(kind.outer), holes=[moved(h) for h in kind.holes],
               defects=[moved(d) for d in kind.defects])


def job_bins(job):
    """The keywords of the job's stock: its one bin, or bins=[...] of its kinds."""
    if job.kinds is None:
        return {"bin": job_bin(job)}
    return {"bin": None, "bins": [kind_bin(k) for k in job.kinds]}


def bin_of(result, k):
    """The library Bin of the result's bin k, in its own frame."""
    job = result.job
    return job_bin(job) if job.kinds is None else kind_bin(job.kinds[result.bin_types[k]])


def _first_fit(job, shapes, **change):
    from Quarvo.first_fit_algorithm import FirstFit

    stock = job_bins(job)
    return FirstFit(shapes, stock.pop("bin"), global_distance=job.distance, rotations=job.rotations,
                    strategy=job.strategy, placement=job.placement, **stock, **{**job.options, **change})


# The quick tests of one item alone in an empty bin run the greedy pass only:
# a time-limited search per unplaced kind would multiply the job's time.
_GREEDY_ONLY = {"time_limit": None, "iterations": None, "compress": False}


@dataclass
class Along:
    """Where a placed entry lies along its bin (with rows)."""

    row: int  # in the order the bin's rows were started
    start: float  # metres from the front
    end: float
    host: object  # the Entry whose bore holds it, or None
    leader: object  # the Entry that heads its row (where the row lies in the section)


def fits_alone(job, idef, number, stable):
    """Whether the item, packed alone into an empty bin, finds a place (at rest or not)."""
    bins, _ = _first_fit(job, [_shape(idef, number)], stable=stable, **_GREEDY_ONLY).do_pack()
    return bool(bins)


def engine_refusal(job, idef, number):
    """The engine's message when it refuses the item (as item ``number``)
    packed alone into an empty bin, or None when it takes it (or merely finds
    no room)."""
    try:
        _first_fit(job, [_shape(idef, number)], **_GREEDY_ONLY).do_pack()
    except ValueError as exc:
        return str(exc)
    return None


@dataclass
class Result:
    job: Job
    entries: list
    bins: list  # lists of Entry, in placement order
    unplaced: list  # Entry: the refused ones first, then in processing order
    seconds: float
    search_stopped: bool = False  # Ctrl-C cut the search or the compression phase short
    used_length: float = 0.0  # a strip's: the largest y of any placed item's outline
    check: object = None  # the layout checker's report
    loading: object = None  # the load checker's report (Quarvo.check.check_loading)
    reasons: dict = field(default_factory=dict)  # item index -> reason, filled on demand
    engine_reasons: dict = field(default_factory=dict)  # entry number -> the engine's reason for leaving it out
    along: dict = field(default_factory=dict)  # with rows: entry number -> Along
    deferred: list = field(default_factory=list)  # with rows: (Entry, bin, reason) the supports passed on
    bin_types: list = field(default_factory=list)  # per bin, its kind: its index in the job's kinds (0: the bin)
    bin_costs: list = field(default_factory=list)  # per bin, what it costs
    plan: object = None  # with several kinds or shaped stock: Quarvo.stock.PlanSummary
    stopped_early: bool = False  # the search or compression phase reached its lower bound before its limit
    lower_bound: tuple = None  # (bins, length) no layout can beat, where a search or phase ran
    cpu_seconds: float = 0.0  # of the search and compression phase, over their threads

    @property
    def placed(self):
        return len(self.entries) - len(self.unplaced)


def pack(job, progress=None):
    """Pack the job; an item the engine refuses is set aside with its message."""
    refused = {}
    while True:
        entries = build_items(job, refused)
        live = [e for e in entries if e.shape is not None]
        try:
            ff = _first_fit(job, [e.shape for e in live])
            if progress is not None:
                progress.watch(ff)
            start = time.perf_counter()
            bins, unplaced = ff.do_pack()
            break
        except ValueError:
            # A fault of the job's settings shows without items; else find the items the
            # engine refuses on their own (without one, the fault is still the job's).
            _first_fit(job, [], **_GREEDY_ONLY).do_pack()
            first = {e.idef.index: e.number for e in reversed(entries)}
            found = {i.index: m for i in job.items if i.index not in refused
                     for m in [engine_refusal(job, i, first[i.index])] if m is not None}
            if not found:
                raise
            refused.update(found)
    seconds = time.perf_counter() - start
    by_shape = {id(e.shape): e for e in live}
    result = Result(job, entries, [[by_shape[id(s)] for s in b] for b in bins],
                    [e for e in entries if e.shape is None] + [by_shape[id(s)] for s in unplaced], seconds,
                    search_stopped=ff.search_stopped,
                    used_length=ff.used_length if job.bin_h is None else 0.0,
                    engine_reasons={by_shape[id(s)].number: why for s, why in zip(unplaced, ff.unplaced_reasons)})
    for p in ff.row_plan:
        entry = by_shape[id(p["item"])]
        result.along[entry.number] = Along(p["row"], p["along"][0], p["along"][1],
                                           None if p["host"] is None else by_shape[id(p["host"])],
                                           by_shape[id(p["leader"])])
    result.deferred = [(by_shape[id(s)], k, why) for s, k, why in ff.deferred]
    result.bin_types, result.bin_costs = list(ff.bin_types), list(ff.bin_costs)
    result.stopped_early, result.lower_bound, result.cpu_seconds = ff.stopped_early, ff.lower_bound, ff.cpu_seconds
    if job.kinds is not None:
        from Quarvo.stock import plan_summary

        result.plan = plan_summary(ff, (bins, unplaced))
    if progress is not None:
        progress.done(result.placed, len(bins))
    return result


def check(result):
    """Check the packed layout with the independent checker: in the bins, apart, the distance kept,
    and with stable placement every item at rest.

    Circles take part in placement as inscribed 64-gons unless the job asks
    for exact clearance, so the checker is then given its circle tolerance.
    Every unplaced item counts, those the engine refused included.
    """
    from Quarvo.check import CIRCLE_REL_TOL, check_layout
    from Quarvo.geometry import Bin

    job = result.job
    # pipes are held to their true walls whatever the tolerance of circles
    tol = 0.0 if job.options.get("exact_clearance") else CIRCLE_REL_TOL
    # a row's pieces share its place of the section: the section holds each row once
    sections = [[e.shape for e in b if e.number not in result.along or result.along[e.number].leader is e]
                for b in result.bins]
    # a row's mass and length are judged along the rows (check_loading); else the bin judges them
    limits = {} if job.rows else {"max_load": job.max_load, "length": job.bin_length}
    stock = Bin(job.bin_w, job.bin_h, margin=job.margin, **limits) if job.kinds is None else \
        [bin_of(result, k) for k in range(len(result.bins))]
    report = check_layout(sections, stock, distance=job.distance, circle_rel_tol=tol, gravity=bool(job.options.get("stable")))
    report.n_unplaced = len(result.unplaced)
    return report
