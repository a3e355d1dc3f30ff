"""Packing a checked job: the library items built from it, the packing run
and the independent check of its layout.

An item the engine refuses (a ``ValueError`` naming it) does not stop the job:
it is set aside with the engine's own message and listed as unplaced.
"""
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


def _shape(idef, number):
    from Quarvo.geometry import Circle, Pipe, Polygon

    if idef.kind == "pipe":
        # a pipe's mass follows from its size, and its weight from its mass unless the job says
        shape = Pipe(idef.od, idef.wall, length=idef.length, density=idef.density, shape_id=number)
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

    return Bin(job.bin_w, job.bin_h, margin=job.margin, max_load=job.max_load, length=job.bin_length)


def _first_fit(job, shapes, **change):
    from Quarvo.first_fit_algorithm import FirstFit

    return FirstFit(shapes, job_bin(job), global_distance=job.distance, rotations=job.rotations,
                    strategy=job.strategy, placement=job.placement, **{**job.options, **change})


# The quick tests of one item alone in an empty bin run the greedy pass only:
# a time-limited search per unplaced kind would multiply the job's time.
_GREEDY_ONLY = {"time_limit": None, "iterations": None, "compress": False}


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
    reasons: dict = field(default_factory=dict)  # item index -> reason, filled on demand
    engine_reasons: dict = field(default_factory=dict)  # entry number -> the engine's reason for leaving it out

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
    report = check_layout([[e.shape for e in b] for b in result.bins], Bin(job.bin_w, job.bin_h, margin=job.margin),
                          distance=job.distance, circle_rel_tol=tol, gravity=bool(job.options.get("stable")))
    report.n_unplaced = len(result.unplaced)
    return report
