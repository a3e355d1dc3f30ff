"""Ctrl-C latency: how long long packing calls take to give up after SIGINT.

Each call is interrupted 0.3 s in: calls that release the GIL by a thread
sending SIGINT to the main thread, calls that keep it by a timer signal whose
handler raises KeyboardInterrupt (a terminal's Ctrl-C reaches both alike).
Prints the delay from the signal to the KeyboardInterrupt, several times each.

    PYTHONPATH=python python benchmarks/bench_interrupt.py [--repeat N]
"""
import argparse
import math
import random
import signal
import statistics
import threading
import time

from Quarvo import Bin, BottomLeftPlacer, Circle, FirstFit, NfpPlacer, Polygon
from Quarvo.geometry_handle import circle_to_polygon
from Quarvo.placer_bl import polys_intersect
from Quarvo.placer_nfp import search_best_position

DELAY = 0.3


def by_thread(call):
    sent = []

    def send():
        time.sleep(DELAY)
        sent.append(time.monotonic())
        signal.pthread_kill(threading.main_thread().ident, signal.SIGINT)

    threading.Thread(target=send, daemon=True).start()
    try:
        call()
    except KeyboardInterrupt:
        return time.monotonic() - sent[0]
    raise SystemExit("the call ended before the signal")


def by_timer(call):
    old = signal.signal(signal.SIGALRM, signal.default_int_handler)
    signal.setitimer(signal.ITIMER_REAL, DELAY)
    start = time.monotonic()
    try:
        call()
    except KeyboardInterrupt:
        return time.monotonic() - start - DELAY
    finally:
        signal.signal(signal.SIGALRM, old)
    raise SystemExit("the call ended before the signal")


def circles(n=1500, seed=1):
    rng = random.Random(seed)
    return [Circle(rng.uniform(0.5, 2.0)) for _ in range(n)]


def crowded(threads):
    placer = NfpPlacer(400.0, 400.0, rotations=[k * math.pi / 16 for k in range(32)], threads=threads)
    for i in range(3000):
        c = Circle(2.0)
        c.set_position(2.0 + 4.1 * (i % 96), 2.0 + 4.1 * (i // 96))
        placer.packed.append(c)
    return placer


def scenarios():
    big = circle_to_polygon((0.0, 0.0), 3.0, 99_999)
    square = [(0.0, 0.0), (0.0, 1.0), (1.0, 1.0), (1.0, 0.0), (0.0, 0.0)]
    bl_with_big = BottomLeftPlacer(10.0, 10.0)
    bl_with_big.trypack(Polygon(big))
    twelve = Polygon(circle_to_polygon((0.0, 0.0), 3.0, 12))
    nfp1, nfp2 = crowded(1), crowded(2)
    return [
        ("do_pack nfp, 1500 circles, 1 thread", by_thread,
         lambda: FirstFit(circles(), Bin(200.0, 200.0), 0.1, threads=1).do_pack()),
        ("do_pack nfp, 1500 circles, 2 threads", by_thread,
         lambda: FirstFit(circles(), Bin(200.0, 200.0), 0.1, threads=2).do_pack()),
        ("do_pack bl, 1500 circles", by_thread,
         lambda: FirstFit(circles(), Bin(200.0, 200.0), 0.1, strategy="bl").do_pack()),
        ("trypack NfpPlacer, 3000 placed, 32 rotations, 1 thread", by_thread, lambda: nfp1.trypack(twelve)),
        ("trypack NfpPlacer, 3000 placed, 32 rotations, 2 threads", by_thread, lambda: nfp2.trypack(twelve)),
        ("trypack BottomLeftPlacer next to a 100,000-point item", by_timer, lambda: bl_with_big.trypack(Circle(1.0))),
        ("search_best_position, 4e12 candidates", by_timer,
         lambda: search_best_position([square], [], Circle(0.1), 10.0, 10.0, 10 ** 12)),
        ("polys_intersect, 100,000 points against 4", by_timer, lambda: polys_intersect(big, square)),
    ]


def main():
    # Started with SIGINT ignored (a background job), the signal would never
    # become KeyboardInterrupt.
    signal.signal(signal.SIGINT, signal.default_int_handler)
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--repeat", type=int, default=5)
    args = ap.parse_args()
    print(f"{'call':58} {'median ms':>10} {'max ms':>8}")
    for label, how, call in scenarios():
        delays = [how(call) * 1000 for _ in range(args.repeat)]
        print(f"{label:58} {statistics.median(delays):>10.1f} {max(delays):>8.1f}")


if __name__ == "__main__":
    main()
