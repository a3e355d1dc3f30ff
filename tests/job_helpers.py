"""Shared helpers of the command-line tests: jobs, running main, reading its output."""
import json
import math


def square(s, x=0.0, y=0.0):
    return [[x, y], [x + s, y], [x + s, y + s], [x, y + s]]


def ngon(r, n=64):
    return [[r * math.cos(2 * math.pi * k / n), r * math.sin(2 * math.pi * k / n)] for k in range(n)]


def base_job(**over):
    job = {
        "bin": {"width": 100, "height": 80},
        "distance": 2,
        "items": [
            {"id": "ring", "type": "polygon", "outer": square(40), "holes": [square(20, 10, 10)], "weight": 5},
            {"id": "disc", "type": "circle", "radius": 5, "quantity": 3},
        ],
    }
    job.update(over)
    return job


def run(tmp_path, job, *extra, capsys=None):
    """Write the job (a dict, or raw text), run main and return (status, stdout, stderr)."""
    path = tmp_path / "job.json"
    if isinstance(job, (dict, list)):
        path.write_text(json.dumps(job))
    elif isinstance(job, bytes):
        path.write_bytes(job)
    else:
        path.write_text(job)
    from Quarvo.cli import main

    status = main([str(path), *extra])
    out, err = capsys.readouterr()
    return status, out, err


def edit(job, path, value):
    """Set (or with value None, delete) a field given by a path of keys."""
    target = job
    for key in path[:-1]:
        target = target[key]
    if value is None:
        del target[path[-1]]
    else:
        target[path[-1]] = value
    return job



def load_output(path):
    doc = json.loads(path.read_text())
    assert set(doc) >= {"bin", "distance", "strategy", "placement", "rotation_unit", "bins", "placements",
                        "unplaced", "seconds"}
    return doc

