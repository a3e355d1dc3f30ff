"""A short tour of the package for a sanitizer build of the extension: both
strategies, containers, the incremental union and threads, the layout
checker, the command-line job, refused garbage and a Ctrl-C. It exits non-zero
on a wrong answer; the sanitizers abort it on a memory error or undefined
behaviour."""
import math
import random
import signal
import sys
import threading
import time

import Quarvo
from Quarvo import Bin, BottomLeftPlacer, Circle, FirstFit, NfpPlacer, Polygon
from Quarvo import placer_bl, placer_nfp
from Quarvo.check import CIRCLE_REL_TOL, check_layout
from Quarvo.cli import main as cli_main


def job(seed, n):
    rng = random.Random(seed)
    items = []
    for k in range(n):
        t = rng.random()
        if t < 0.45:
            items.append(Circle(rng.uniform(1, 6), shape_id=k))
        elif t < 0.8:
            m, r = rng.randint(3, 9), rng.uniform(2, 7)
            items.append(Polygon([(r * math.cos(2 * math.pi * i / m), r * math.sin(2 * math.pi * i / m))
                                  for i in range(m)], shape_id=k))
        else:
            w, h = rng.uniform(12, 25), rng.uniform(12, 25)
            items.append(Polygon([(0, 0), (w, 0), (w, h), (0, h)], [[(2, 2), (w - 2, 2), (w - 2, h - 2), (2, h - 2)]],
                                 shape_id=k))
        items[-1].weight = rng.choice([0.0, 1.0, 2.0])
    return items


def expect(cond, what):
    if not cond:
        print("smoke: FAILED:", what)
        sys.exit(1)


def main():
    print("smoke: package from", Quarvo.__file__)
    bin_ = Bin(80.0, 60.0)
    for strategy, placement, incremental, threads in [("nfp", "corner", False, 1), ("nfp", "center", True, 2),
                                                        ("nfp", "corner", True, 1), ("bl", "corner", False, 1)]:
        items = job(7, 40)
        if strategy == "bl":
            items.append(Polygon([(0, 0), (0, 12), (4, 12), (4, 4), (12, 4), (12, 0)]))  # non-convex
        ff = FirstFit(items, bin_, 1.0, strategy=strategy, placement=placement, incremental=incremental,
                      threads=threads)
        bins, unplaced = ff.do_pack()
        report = check_layout((bins, unplaced), bin_, distance=1.0, circle_rel_tol=CIRCLE_REL_TOL)
        expect(report.ok, f"{strategy}/{placement}: {report.summary()}")
        expect(all(i.infl == 0.0 for i in items), "items deflated")
        print(f"smoke: {strategy}/{placement} incremental={incremental} threads={threads}: "
              f"{len(bins)} bins, {len(unplaced)} unplaced, check ok")

    placer = NfpPlacer(50.0, 50.0)
    ring = Polygon([(0, 0), (20, 0), (20, 20), (0, 20)], [[(3, 3), (17, 3), (17, 17), (3, 17)]])
    expect(placer.trypack(ring) and placer.trypack(Circle(5.0)), "a circle goes into the ring's hole")
    bl = BottomLeftPlacer(30.0, 30.0)
    expect(bl.trypack(Polygon([(0, 0), (0, 10), (3, 10), (3, 3), (10, 3), (10, 0)])), "bottom-left takes an L")

    for call in (lambda: placer_nfp.merge_nfps([[(math.nan, 0), (1, 0), (0, 1)]]),
                 lambda: placer_nfp.nfp_convex_only("abc", []),
                 lambda: FirstFit([Circle(math.inf)], bin_).do_pack(),
                 lambda: placer_bl.polys_intersect([], [(0, 0), (1, 0), (0, 1)]),
                 lambda: NfpPlacer(10, 10, placement="left"),
                 lambda: Polygon([(0, 0), None])):
        try:
            call()
            expect(False, "garbage accepted")
        except (TypeError, ValueError):
            pass

    # Ctrl-C in a long run: KeyboardInterrupt, items deflated.
    items = [Circle(random.Random(i).uniform(0.5, 2.0)) for i in range(1500)]

    def interrupt():
        time.sleep(0.5)
        signal.pthread_kill(threading.main_thread().ident, signal.SIGINT)

    threading.Thread(target=interrupt, daemon=True).start()
    try:
        FirstFit(items, Bin(200.0, 200.0), 0.1).do_pack()
        expect(False, "the run ignored Ctrl-C")
    except KeyboardInterrupt:
        expect(all(i.infl == 0.0 for i in items), "deflated after Ctrl-C")
    print("smoke: garbage refused, Ctrl-C answered")

    expect(cli_main(["--quiet"]) in (0, None), "the bundled example job")
    print("smoke: ok")


if __name__ == "__main__":
    main()
