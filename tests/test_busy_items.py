"""Items being packed without the GIL belong to the run: another thread that
reads or writes one of them gets a RuntimeError naming the item, never a torn
pose or a crash, and gets the item back as soon as the run ends. The test also
runs under the sanitizers (make sanitize)."""
import math
import re
import threading

import pytest

from Quarvo import Bin, Circle, FirstFit, Polygon
from Quarvo.check import check_layout
from Quarvo.placer_bl import BottomLeftPlacer
from Quarvo.placer_nfp import NfpPlacer

BUSY = re.compile(r"^(placed )?item( \d+)? \(id .+\) is being packed$")


def job():
    items = [Circle(2 + (i % 5), shape_id=f"c{i}") for i in range(150)]
    items += [Polygon([(0, 0), (9, 0), (9, 4), (0, 4)], shape_id=f"r{i}") for i in range(60)]
    return items


def pose(it):
    return (it.tx, it.ty, it.rotation)


# Everything a thread may do to an item, reads and writes.
TOUCHES = [
    lambda it: it.transformed(),
    lambda it: it.tx,
    lambda it: it.bounding_box(),
    lambda it: it.area(),
    lambda it: it.reference_point_local(),
    lambda it: it.set_position(it.tx, it.ty),
    lambda it: setattr(it, "margin", it.margin),
    lambda it: check_layout([it], 1e9, 1e9),
]


def run_with_toucher(pack, items):
    """Runs pack() while another thread touches the items in every way; returns
    the refusals' messages and how many touches went through."""
    stop, started = threading.Event(), threading.Event()
    refused, done = [], [0]

    def toucher():
        started.set()
        k = 0
        while not stop.is_set():
            it = items[k % len(items)]
            try:
                TOUCHES[k % len(TOUCHES)](it)
                done[0] += 1
            except RuntimeError as e:
                refused.append(str(e))
            k += 7
    t = threading.Thread(target=toucher)
    t.start()
    started.wait()
    try:
        pack()
    finally:
        stop.set()
        t.join()
    return refused, done[0]


def packs():
    def first_fit(**kw):
        def make():
            items = job()
            return items, lambda: FirstFit(items, Bin(150, 150), 1.0, **kw).do_pack()
        return make

    def placer(cls, **kw):
        def make():
            items = job()
            p = cls(150, 150, **kw)
            return items, lambda: [p.trypack(it) for it in items]
        return make
    return {
        "first fit": first_fit(threads=1),
        "first fit, 2 threads, incremental": first_fit(threads=2, incremental=True, placement="center"),
        "first fit bl": first_fit(strategy="bl"),
        "nfp placer": placer(NfpPlacer, rotations=[0.0, math.pi / 2]),
        "bl placer": placer(BottomLeftPlacer),
    }


@pytest.mark.parametrize("name", list(packs()))
def test_items_being_packed_refuse_other_threads(name):
    items, pack = packs()[name]()
    refused, done = run_with_toucher(pack, items)
    assert refused, "the pack ended before the other thread touched an item"
    assert all(BUSY.match(m) for m in refused), refused[:3]
    # the run owned its items: the layout is the one packed alone
    alone, pack_alone = packs()[name]()
    pack_alone()
    assert [pose(it) for it in items] == [pose(it) for it in alone]
    for touch in TOUCHES:  # and they are the caller's again
        touch(items[0])


def test_a_second_run_on_the_same_items_is_refused():
    items = job() + job()
    holder = threading.Thread(target=lambda: FirstFit(items, Bin(150, 150), 1.0, threads=1).do_pack())
    holder.start()
    refusal = None
    while holder.is_alive() and refusal is None:
        try:
            items[0].tx  # the run has taken its items once this is refused
        except RuntimeError:
            try:
                FirstFit(items, Bin(150, 150), 1.0).do_pack()
            except RuntimeError as e:
                refusal = str(e)
    holder.join()
    assert refusal is not None and refusal.startswith("item ") and BUSY.match(refusal), refusal
    assert all(it.infl == 0.0 for it in items)



def test_a_refused_run_leaves_its_items_free():
    c = Circle(1.0)
    with pytest.raises(ValueError, match="same item object"):
        FirstFit([c, c, Circle(1.0)], Bin(10, 10), 0.0).do_pack()
    c.set_position(1.0, 1.0)  # not held by the refused run
    assert FirstFit([c], Bin(10, 10), 0.0).do_pack()[0] == [[c]]
