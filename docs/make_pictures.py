"""Regenerates the pictures of the README and the guides, from the command line as a user runs it:

    PYTHONPATH=python python docs/make_pictures.py

docs/example.png (the bundled example), docs/truck.png (examples/yard-order.json,
a mixed truck order), docs/nest.png (the example parts nested on a sheet).
"""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def main():
    from Quarvo.cli import main as quarvo

    examples = os.path.join(ROOT, "examples")
    parts = os.path.join(examples, "parts")
    runs = [
        ["--plot", os.path.join(HERE, "example.png")],
        [os.path.join(examples, "yard-order.json"), "--plot", os.path.join(HERE, "truck.png")],
        ["nest", f"{parts}/bracket.dxf:12", f"{parts}/flange.dxf:4", f"{parts}/plate.dxf:6", "--sheet",
         "1500x1000", "--gap", "8", "--edge", "10", "--plot", os.path.join(HERE, "nest.png")],
    ]
    for args in runs:
        status = quarvo(args + ["-q"])
        if status != 0:
            sys.exit(f"quarvo {' '.join(args)}: exit status {status}")


if __name__ == "__main__":
    main()
