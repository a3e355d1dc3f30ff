"""Trucks needed for realistic pipe orders on trailer-13.6, before and after
rows along the deck, mass as sold and couplings, against two lower bounds.

Before: each piece takes a place of the section, masses are plain-end, no
couplings (the job with "rows": false, "mass_basis": "plain_end" and every
"coupling_od": 0, which packs as the command line did); its trucks are then
weighed again at nominal weight. After: the command line's defaults.
Lower bounds: the payload (the order's nominal mass / 24,000 kg, rounded
up) and the space (the cross-section area times the length of every piece
that fits in no bore of a larger piece of the order, over the deck's
volume, rounded up). Counts only (fixed work), no timings.

    PYTHONPATH=python python benchmarks/bench_truck_loads.py
"""
import math

from _about import commit_and_machine
from Quarvo import pipes
from Quarvo.check import check_loading
from Quarvo.job import parse_job
from Quarvo.job.packing import check, pack
from Quarvo.report import result_document

ORDERS = {
    "6 m casing": [("casing 9-5/8", "47", 6, 90), ("casing 7", "26", 6, 80), ("casing 5-1/2", "17", 6, 60)],
    "12 m line pipe": [("NPS 12", "STD", 12, 40), ("NPS 8", "STD", 12, 60), ("NPS 4", "STD", 12, 100)],
    "mixed casing and line pipe": [("casing 13-3/8", "68", 12, 20), ("NPS 16", "STD", 6, 40),
                                   ("casing 7", "26", 6, 60), ("tubing 2-7/8", "6.4", 6, 150),
                                   ("NPS 6", "STD", 12, 50)],
    "6 m large line pipe": [("NPS 36", "10", 6, 30), ("NPS 30", "10", 6, 30), ("NPS 20", "10", 6, 30)],
    "6 m tubing": [("tubing 2-7/8", "6.4", 6, 400), ("tubing 2-3/8", "4.6", 6, 400)],
    "6 m NPS 36 (space binds)": [("NPS 36", "10", 6, 60)],
}
TRAILER = pipes.lookup_carrier("trailer-13.6")


def job_of(order, before):
    items = [{"id": f"{size} {sched}", "type": "pipe", "size": size, "schedule": sched, "length": length,
              "quantity": n, **({"coupling_od": 0} if before else {})} for size, sched, length, n in order]
    extra = {"rows": False, "mass_basis": "plain_end"} if before else {}
    return {"bin": {"carrier": "trailer-13.6"}, "distance": 5, "items": items, **extra}


def nominal_per_m(size, sched):
    return pipes.lookup(size, sched).weighs("nominal")[0]


def bounds(order):
    mass = sum(nominal_per_m(s, k) * length * n for s, k, length, n in order)
    entries = [(pipes.lookup(s, k), length, n) for s, k, length, n in order]
    volume = 0.0
    for e, length, n in entries:
        # a piece that fits the bore of a larger piece of the order may take no room of its own
        coupling = e.coupling_od or e.od
        nests = any(h.od / 2 - h.wall >= coupling / 2 + 5 for h, _, _ in entries if h.od > e.od)
        if not nests:
            volume += math.pi / 4 * e.od ** 2 * length * 1000 * n
    deck = TRAILER.width * TRAILER.height * TRAILER.length
    return math.ceil(mass / TRAILER.max_load - 1e-9), max(1, math.ceil(volume / deck - 1e-9)), mass


def trucks(job):
    result = pack(parse_job(job))
    result.check = check(result)
    doc = result_document(result)
    return result, doc


def main():
    print(commit_and_machine())
    print(f"{'order':28} {'pieces':>6} {'t nominal':>9} {'LB mass':>7} {'LB space':>8} {'before':>6} "
          f"{'over at nominal':>15} {'after':>5} {'max axle share':>14} {'checks':>6}")
    for name, order in ORDERS.items():
        lb_mass, lb_space, mass = bounds(order)
        before, bdoc = trucks(job_of(order, True))
        # the plan of before, weighed as sold
        weigh = {f"{s} {k}": nominal_per_m(s, k) * length for s, k, length, _ in order}
        over = sum(1 for k in range(len(before.bins))
                   if sum(weigh[e.idef.id] for e in before.bins[k]) > TRAILER.max_load)
        after, adoc = trucks(job_of(order, False))
        total = sum(n for *_, n in order)
        shares = [v / b["axle_limits"][n] for b in adoc["bins"] for n, v in b.get("axle_loads", {}).items()]
        ok = after.check.ok and check_loading(adoc, total=total).ok and not adoc["unplaced"]
        print(f"{name:28} {total:>6} {mass / 1000:>9.1f} {lb_mass:>7} {lb_space:>8} {len(before.bins):>6} "
              f"{over:>15} {len(after.bins):>5} {max(shares):>14.2f} {'ok' if ok else 'FAILED':>6}")


if __name__ == "__main__":
    main()
