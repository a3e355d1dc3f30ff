"""The user's files are safe: no output replaces an input, writes are atomic,
private and all or nothing, a job reads drawings only inside its folder, and
text leaves escaped for spreadsheets and terminals."""
import csv
import io
import json
import os
import signal
import subprocess
import sys
import time

import pytest
from hypothesis import given, settings, strategies as st

import Quarvo
from Quarvo import files
from Quarvo.cli import main
from Quarvo.job import JobError, parse_job
from Quarvo.job.packing import pack
from Quarvo.report import load_table_csv

from job_helpers import base_job, square

ezdxf = pytest.importorskip("ezdxf")
PACKAGE = os.path.dirname(os.path.abspath(Quarvo.__file__))


def drawing(path, size=30):
    doc = ezdxf.new()
    doc.modelspace().add_lwpolyline([(0, 0), (size, 0), (size, size), (0, size)], close=True)
    doc.saveas(path)
    return path


def snapshot(folder):
    """Every file under folder with its bytes: what a run must leave as it was."""
    out = {}
    for root, _, names in os.walk(folder):
        for n in names:
            p = os.path.join(root, n)
            out[os.path.relpath(p, folder)] = open(p, "rb").read() if not os.path.islink(p) else os.readlink(p)
    return out


def job_with_drawing(tmp_path):
    drawing(str(tmp_path / "part.dxf"))
    job = {"bin": {"width": 200, "height": 200}, "items": [{"file": "part.dxf", "quantity": 2}]}
    (tmp_path / "job.json").write_text(json.dumps(job))
    return str(tmp_path / "job.json")


# ---------------------------------------------------------------- outputs that name inputs


def _link(tmp_path, target, kind):
    path = tmp_path / f"alias-{kind}{os.path.splitext(str(target))[1]}"
    (os.symlink if kind == "symlink" else os.link)(target, path)
    return str(path)


@pytest.mark.parametrize("opt", ["--output", "--plot", "--table", "--report"])
@pytest.mark.parametrize("victim, how", [
    ("job", "path"), ("job", "dotted"), ("job", "symlink"), ("job", "hardlink"),
    ("drawing", "path"), ("drawing", "symlink"), ("drawing", "hardlink"),
    ("package", "path"), ("package", "symlink"), ("package", "hardlink"),
])
def test_an_output_never_replaces_an_input(tmp_path, capsys, opt, victim, how):
    job = job_with_drawing(tmp_path)
    target = {"job": job, "drawing": str(tmp_path / "part.dxf"),
              "package": os.path.join(PACKAGE, "data", "pipes.json")}[victim]
    if victim == "package" and how == "hardlink":
        try:
            path = _link(tmp_path, target, "hardlink")
        except OSError:
            pytest.skip("the package lies on another file system")
    elif how in ("symlink", "hardlink"):
        path = _link(tmp_path, target, how)
    elif how == "dotted":
        path = os.path.join(os.path.dirname(target), ".", os.path.basename(target))
    else:
        path = target
    args = [job] if victim != "package" else []
    before = snapshot(tmp_path), snapshot(PACKAGE)
    status = main(args + [opt, path])
    err = capsys.readouterr().err
    assert status == 2 and err.count("\n") == 1 and opt in err, err
    assert ("package" in err) if victim == "package" else ("would replace" in err)
    assert (snapshot(tmp_path), snapshot(PACKAGE)) == before


def test_nest_refuses_to_write_over_its_drawings(tmp_path, capsys):
    part = drawing(str(tmp_path / "part.dxf"))
    before = snapshot(tmp_path)
    for opt in ("-o", "--plot", "--report"):
        status = main(["nest", part, "--sheet", "100x100", opt, _link(tmp_path, part, "hardlink")])
        assert status == 2 and "would replace" in capsys.readouterr().err
        os.remove(tmp_path / "alias-hardlink.dxf")
    assert snapshot(tmp_path) == before


def test_a_batch_into_its_jobs_folder_replaces_no_job(tmp_path, capsys):
    a = tmp_path / "a.json"
    a.write_text(json.dumps(base_job()))
    bad = tmp_path / "a.error.json"
    bad.write_text(json.dumps(base_job()))
    (tmp_path / "a.result.json").write_text(json.dumps(base_job(distance=1)))
    jobs = [str(a), str(bad), str(tmp_path / "a.result.json")]
    before = {p: open(p).read() for p in jobs}
    assert main(["batch", *jobs, "-d", str(tmp_path), "--workers", "1"]) == 0
    assert {p: open(p).read() for p in jobs} == before
    results = sorted(p.name for p in tmp_path.iterdir() if p.name not in ("a.json", "a.error.json", "a.result.json"))
    # three results, each its own name, none an error
    assert len(results) == 3 and all(n.endswith(".result.json") for n in results), results


def test_a_batch_keeps_stems_that_collide_apart_and_clears_stale_results(tmp_path, capsys):
    (tmp_path / "x").mkdir()
    (tmp_path / "y").mkdir()
    good, bad = tmp_path / "x" / "a.json", tmp_path / "y" / "a.json"
    good.write_text(json.dumps(base_job()))
    bad.write_text("{not json")
    out = tmp_path / "out"
    assert main(["batch", str(good), str(bad), "-d", str(out), "--workers", "1"]) == 4
    assert sorted(p.name for p in out.iterdir()) == ["a-2.error.json", "a.json"]
    bad.write_text(json.dumps(base_job()))  # mended: its stale error must go
    good.write_text("[]")  # broken: its stale result must go
    assert main(["batch", str(good), str(bad), "-d", str(out), "--workers", "1"]) == 4
    assert sorted(p.name for p in out.iterdir()) == ["a-2.json", "a.error.json"]


def test_a_batch_refuses_to_write_into_the_package(tmp_path, capsys):
    (tmp_path / "a.json").write_text(json.dumps(base_job()))
    status = main(["batch", str(tmp_path / "a.json"), "-d", os.path.join(PACKAGE, "data")])
    assert status == 2 and "package" in capsys.readouterr().err


# ---------------------------------------------------------------- atomic, private, all or nothing


def test_outputs_move_into_place_all_or_none(tmp_path, monkeypatch):
    targets = [tmp_path / n for n in ("a.json", "b.png", "c.csv")]
    targets[0].write_text("old a")
    real = os.replace
    calls = []

    def failing(src, dst):
        calls.append(dst)
        if str(dst) == str(targets[2]):
            raise OSError(28, "No space left on device")
        return real(src, dst)

    monkeypatch.setattr(files.os, "replace", failing)
    with pytest.raises(OSError, match="No space"):
        with files.OutputSet() as outputs:
            for t in targets:
                open(outputs.temp(str(t)), "w").write("new")
            outputs.commit()
    monkeypatch.setattr(files.os, "replace", real)
    assert sorted(p.name for p in tmp_path.iterdir()) == ["a.json"]
    assert targets[0].read_text() == "old a"


def test_when_putting_back_fails_the_message_names_what_was_written(tmp_path, monkeypatch):
    targets = [str(tmp_path / n) for n in ("a.json", "b.csv")]
    real_replace, real_remove = os.replace, os.remove

    def replace(src, dst):
        if dst == targets[1]:
            raise OSError(13, "Permission denied")
        return real_replace(src, dst)

    def remove(path):
        if path == targets[0]:
            raise OSError(13, "Permission denied")
        return real_remove(path)

    monkeypatch.setattr(files.os, "replace", replace)
    monkeypatch.setattr(files.os, "remove", remove)
    with pytest.raises(files.PartlyWritten, match="a.json"):
        with files.OutputSet() as outputs:
            for t in targets:
                open(outputs.temp(t), "w").write("new")
            outputs.commit()


def test_temporary_files_are_private_unpredictable_and_never_follow_a_planted_link(tmp_path):
    victim = tmp_path / "victim.txt"
    victim.write_text("keep me")
    names = set()
    for _ in range(20):
        tmp = files.private_temp(str(tmp_path / "out.json"))
        names.add(os.path.basename(tmp))
        assert os.stat(tmp).st_mode & 0o077 == 0
        os.remove(tmp)
    assert len(names) == 20
    # the old predictable name, planted as a link, is neither used nor followed
    os.symlink(victim, tmp_path / f".out.json.{os.getpid()}.tmp.json")
    files.write_atomic(str(tmp_path / "out.json"), b"{}")
    assert victim.read_text() == "keep me" and (tmp_path / "out.json").read_bytes() == b"{}"
    assert oct(os.stat(tmp_path / "out.json").st_mode & 0o777) != oct(0o600)


def test_sigterm_mid_run_leaves_no_temporary_file(tmp_path):
    job = {"bin": {"width": 2000, "height": 2000}, "distance": 1, "time_limit": 60, "compress": False,
           "items": [{"type": "polygon", "outer": square(40), "quantity": 60}]}
    (tmp_path / "job.json").write_text(json.dumps(job))
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    proc = subprocess.Popen([sys.executable, "-m", "Quarvo", str(tmp_path / "job.json"), "-o",
                             str(tmp_path / "o.json"), "--table", str(tmp_path / "t.csv")],
                            env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    time.sleep(3)
    proc.send_signal(signal.SIGTERM)
    _, err = proc.communicate(timeout=60)
    assert proc.returncode == 143, err
    assert sorted(p.name for p in tmp_path.iterdir()) == ["job.json"]


# ---------------------------------------------------------------- a job reads only inside its folder


@pytest.mark.parametrize("name", ["../private/design.dxf", "../private/missing.dxf", "{abs}", "{abs_missing}",
                                  "link/design.dxf"])
def test_a_job_cannot_read_drawings_outside_its_folder(tmp_path, name):
    private = tmp_path / "private"
    private.mkdir()
    drawing(str(private / "design.dxf"))
    jobs = tmp_path / "jobs"
    jobs.mkdir()
    os.symlink(private, jobs / "link")
    name = name.format(abs=private / "design.dxf", abs_missing=private / "missing.dxf")
    raw = {"bin": {"width": 100, "height": 100}, "items": [{"file": name}]}
    with pytest.raises(JobError) as refused:
        parse_job(raw, "job", base=str(jobs))
    # the same words whether the file exists or not: a job cannot probe the host
    assert str(refused.value).startswith("items[0].file: ")
    assert str(refused.value).endswith(" is outside the folder drawings are read from; widen it with --parts-root "
                                       "DIR (parts_root=) if you mean it")
    twin = name.replace("design", "missing") if "design" in name else name.replace("missing", "design")
    with pytest.raises(JobError) as other:
        parse_job({**raw, "items": [{"file": twin}]}, "job", base=str(jobs))
    assert str(other.value).replace("missing", "design") == str(refused.value).replace("missing", "design")
    # the owner may widen the root
    if "missing" not in name:
        job = parse_job(raw, "job", base=str(jobs), parts_root=str(tmp_path))
        assert len(job.items) == 1


def test_parts_root_widens_the_command_line_and_the_batch(tmp_path, capsys):
    drawing(str(tmp_path / "part.dxf"))
    (tmp_path / "jobs").mkdir()
    job = tmp_path / "jobs" / "j.json"
    job.write_text(json.dumps({"bin": {"width": 100, "height": 100}, "items": [{"file": "../part.dxf"}]}))
    assert main([str(job)]) == 2 and "outside the folder" in capsys.readouterr().err
    assert main([str(job), "--parts-root", str(tmp_path), "-q"]) == 0
    out = tmp_path / "out"
    assert main(["batch", str(job), "-d", str(out), "--workers", "1", "-q"]) == 4
    assert "outside the folder" in (out / "j.error.json").read_text()
    assert main(["batch", str(job), "-d", str(out), "--workers", "1", "-q", "--parts-root", str(tmp_path)]) == 0


# ---------------------------------------------------------------- text goes out escaped


FORMULAS = ["=HYPERLINK(\"http://x\",\"y\")", "+1+1", "-2+3", "@SUM(A1)", "\tx", "\rx"]


@pytest.mark.parametrize("text", FORMULAS)
@pytest.mark.parametrize("field", ["id", "description"])
def test_no_spreadsheet_formula_leaves_in_the_load_table(text, field):
    job = base_job()
    job["items"][1][field] = text
    table = load_table_csv(pack(parse_job(job, "job")))
    cells = [c for row in csv.reader(io.StringIO(table)) for c in row]
    assert "'" + text in cells and text not in cells


def _evaluated(cell):
    """Whether a spreadsheet would evaluate the cell as a formula (a plain number is data)."""
    if not cell.startswith(("=", "+", "-", "@", "\t", "\r")):
        return False
    try:
        float(cell)
        return False
    except ValueError:
        return True


@settings(max_examples=60, deadline=None)
@given(ids=st.lists(st.one_of(st.text(min_size=1, max_size=12), st.integers(-10**6, 10**6)), min_size=1, max_size=3),
       desc=st.text(max_size=12))
def test_no_cell_a_spreadsheet_would_evaluate_is_ever_written(ids, desc):
    items = [{"id": i, "type": "circle", "radius": 3, "description": desc} for i in ids]
    job = {"bin": {"width": 100, "height": 100}, "items": items}
    try:
        result = pack(parse_job(job, "job"))
    except JobError:  # a lone surrogate in a text: refused as a job
        return
    for row in csv.reader(io.StringIO(load_table_csv(result))):
        assert not any(_evaluated(c) for c in row), row


@pytest.mark.parametrize("field", ["name", "unit", "id"])
def test_control_characters_never_reach_the_terminal_raw(tmp_path, capsys, field):
    job = base_job()
    evil = "x\x1b[2J\x1b]0;owned\x07\x9b"
    if field == "id":
        job["items"][1]["id"] = evil
        job["bin"] = {"width": 8, "height": 8}  # the discs are unplaced: their ids are printed
    else:
        job[field] = evil
    (tmp_path / "job.json").write_text(json.dumps(job))
    main([str(tmp_path / "job.json")])
    out, err = capsys.readouterr()
    for text in (out, err):
        assert not any(c in text for c in "\x1b\x07\x9b"), text
    assert "\\x1b" in out + err or "\\u001b" in out + err


# ---------------------------------------------------------------- small ones


@pytest.mark.parametrize("text, words", [
    ('{"bin": {"width": 1, "width": 2, "height": 1}, "items": []}', 'the key "width" is given twice'),
    ('{"name": ' + '{"a": ' * 990 + '1' + '}' * 990 + ', "bin": {"width": 1}, "items": []}', "nested"),
    ('{"name": ' + '[' * 20 + ']' * 20 + ', "bin": {"width": 1}, "items": []}', "nested more than 16"),
    ('[' * 100000 + ']' * 100000, "nested"),
])
def test_malformed_job_documents_are_one_line_refusals(tmp_path, capsys, text, words):
    (tmp_path / "job.json").write_text(text)
    assert main([str(tmp_path / "job.json")]) == 2
    err = capsys.readouterr().err
    assert words in err and err.count("\n") == 1 and len(err) < 250 and "Traceback" not in err


def test_an_unusable_scheduler_address_is_one_line(tmp_path):
    pytest.importorskip("distributed")
    (tmp_path / "a.json").write_text(json.dumps(base_job()))
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    for address in ("not a url", "tcp://127.0.0.1:1"):
        r = subprocess.run([sys.executable, "-m", "Quarvo", "batch", str(tmp_path / "a.json"), "-d",
                            str(tmp_path / "out"), "--scheduler", address], env=env, capture_output=True, text=True,
                           timeout=120)
        assert r.returncode == 2 and r.stderr.count("\n") == 1 and "Traceback" not in r.stderr, r.stderr
