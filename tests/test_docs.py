"""The README is a front door and the guides tell the truth: every example in
them runs and passes its own check, every job they show is valid, every name
they use exists, every link leads somewhere, and the examples type-check."""
import importlib
import json
import os
import re
import shlex
import shutil
import subprocess
import sys
import sysconfig
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
PAGES = [ROOT / "README.md"] + sorted(p for p in (ROOT / "docs").glob("*.md") if p.name != "job-format.md")
FENCE = re.compile(r"^```(\w*)\n(.*?)^```", re.M | re.S)


def blocks(page, lang):
    return [body for kind, body in FENCE.findall(page.read_text(encoding="utf-8")) if kind == lang]


def commands(page):
    """The command lines of a page's console blocks (`$ quarvo ...`)."""
    return [line[2:] for body in blocks(page, "console") for line in body.splitlines() if line.startswith("$ ")]


@pytest.fixture
def workdir(tmp_path, monkeypatch):
    """A copy of the examples to run the pages' examples in, with an out/ folder."""
    shutil.copytree(ROOT / "examples", tmp_path / "examples", symlinks=False)
    (tmp_path / "out").mkdir()
    monkeypatch.chdir(tmp_path)
    return tmp_path


def test_the_readme_is_a_front_door():
    lines = (ROOT / "README.md").read_text(encoding="utf-8").splitlines()
    assert len(lines) < 250
    first_screen = "\n".join(lines[:40])
    assert "make run" in first_screen and "make test" in first_screen


@pytest.mark.parametrize("page", PAGES, ids=lambda p: p.name)
def test_every_link_leads_somewhere(page):
    text = page.read_text(encoding="utf-8")
    for target in re.findall(r"\]\(([^)#\s]+)(?:#[^)]*)?\)", text):
        if not target.startswith(("http://", "https://")):
            assert (page.parent / target).exists(), target


@pytest.mark.parametrize("page", [p for p in PAGES if blocks(p, "python") or commands(p)], ids=lambda p: p.name)
def test_every_example_runs_and_passes_its_check(workdir, capsys, page):
    pytest.importorskip("ezdxf")
    pytest.importorskip("matplotlib")
    namespace = {"__name__": "__doc_example__"}
    for body in blocks(page, "python"):  # one session per page, as a reader runs them in turn
        exec(compile(body, f"{page.name} example", "exec"), namespace)
    from Quarvo.cli import main

    for line in commands(page):
        args = shlex.split(line)
        assert args[0] == "quarvo", line
        status = main(args[1:] + (["--check"] if args[1] not in ("batch", "schema") and "--check" not in args
                                  else []))
        out = capsys.readouterr().out
        assert status == 0, (line, out)
        if args[1] not in ("batch", "schema"):
            assert "layout check: ok" in out, out


@pytest.mark.parametrize("page", [p for p in PAGES if blocks(p, "json")], ids=lambda p: p.name)
def test_every_job_shown_is_valid(tmp_path, page):
    jsonschema = pytest.importorskip("jsonschema")
    from Quarvo.job import parse_job
    from Quarvo.job.fields import schema

    validator = jsonschema.Draft202012Validator(schema())
    for body in blocks(page, "json"):
        job = json.loads(body)
        if "items" in job and "bin" in job:
            assert [e.message for e in validator.iter_errors(job)] == []
            parse_job(job, "job")


def _names(text):
    return sorted(set(re.findall(r"`(Quarvo(?:\.[A-Za-z_][A-Za-z0-9_]*)+)", text)))


@pytest.mark.parametrize("page", PAGES, ids=lambda p: p.name)
def test_every_name_the_pages_use_exists(page):
    for name in _names(page.read_text(encoding="utf-8")):
        parts = name.split(".")
        obj = importlib.import_module("Quarvo")
        for k, part in enumerate(parts[1:], 1):
            try:
                obj = getattr(obj, part)
            except AttributeError:
                obj = importlib.import_module(".".join(parts[: k + 1]))
        assert obj is not None, name


def test_the_examples_type_check(tmp_path):
    pytest.importorskip("mypy")
    files = []
    for page in PAGES:
        code = "\n".join(blocks(page, "python"))
        if code:
            files.append(tmp_path / f"{page.stem.replace('-', '_')}_examples.py")
            files[-1].write_text(code, encoding="utf-8")
    # An installed package is found by mypy itself (it is typed); a source
    # tree on PYTHONPATH is named to it. mypy refuses site-packages on MYPYPATH.
    package = Path(importlib.import_module("Quarvo").__file__).parent.parent
    installed = {Path(sysconfig.get_paths()[k]).resolve() for k in ("purelib", "platlib")}
    env = dict(os.environ)
    env.pop("MYPYPATH", None)
    if package.resolve() not in installed:
        env["MYPYPATH"] = str(package)
    r = subprocess.run([sys.executable, "-m", "mypy", "--follow-imports=silent", "--no-error-summary",
                        "--cache-dir", str(tmp_path / "cache"), *map(str, files)], capture_output=True, text=True,
                       env=env, timeout=600)
    assert r.returncode == 0, r.stdout + r.stderr
