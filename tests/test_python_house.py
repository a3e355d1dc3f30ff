"""The package's concerns and the imports allowed between them (README, the
Python house), checked on every import statement of python/Quarvo, those
inside functions included: no concern uses one it may not, and no module of
the package imports itself round a circle."""
import ast
from pathlib import Path

import pytest

from test_include_rules import cycles as engine_cycles

PACKAGE = Path(__file__).resolve().parent.parent / "python" / "Quarvo"

# concern -> its modules (a subpackage, or modules of one concern)
CONCERNS = {
    "engine": ("_quarvo", "_version", "geometry_handle", "geometry", "placer_bl", "placer_nfp", "first_fit_algorithm"),
    "check": ("check",),
    "stock": ("stock",),
    "files": ("files",),
    "cad": ("cad",),
    "pictures": ("pictures", "visualize_plan"),
    "visualize": ("visualize",),
    "pipes": ("pipes",),
    "job": ("job",),
    "report": ("report",),
    "batch": ("batch",),
    "cli": ("cli", "__main__"),
    "root": ("__init__",),
}

# concern -> the concerns it may import
ALLOWED = {
    "engine": (),
    "check": ("engine",),
    "stock": ("engine",),
    "files": (),
    "cad": ("engine", "files"),
    "pictures": ("engine", "cad"),
    "visualize": ("engine", "pictures"),
    "pipes": ("engine",),
    "job": ("engine", "check", "stock", "pipes", "cad"),
    "report": ("engine", "check", "stock", "files", "cad", "pictures", "visualize", "job"),
    "batch": ("engine", "job", "report"),
    "cli": ("engine", "files", "cad", "job", "report", "batch"),
    # the root gathers the engine's names and reaches every concern lazily
    "root": tuple(c for c in CONCERNS if c != "root"),
}


def module_name(path):
    rel = path.relative_to(PACKAGE).with_suffix("")
    parts = list(rel.parts)
    if parts[-1] == "__init__" and len(parts) > 1:
        parts.pop()
    return ".".join(["Quarvo"] + parts) if parts != ["__init__"] else "Quarvo"


def modules():
    return {module_name(p): p for p in sorted(PACKAGE.rglob("*.py"))}


def concern_of(name):
    if name == "Quarvo":
        return "root"
    first = name.split(".")[1]
    for concern, heads in CONCERNS.items():
        if first in heads:
            return concern
    return None


def imports(path, name, known):
    """The package's modules a module imports, each resolved to the module file it names."""
    tree = ast.parse(path.read_text(encoding="utf-8"))
    package = name if path.name == "__init__.py" else name.rsplit(".", 1)[0]
    out = set()
    for node in ast.walk(tree):
        if isinstance(node, ast.Import):
            out.update(a.name for a in node.names if a.name.startswith("Quarvo"))
        elif isinstance(node, ast.ImportFrom):
            if node.level:
                base = package.split(".")[: len(package.split(".")) - node.level + 1]
                mod = ".".join(base + ([node.module] if node.module else []))
            else:
                mod = node.module or ""
            if not mod.startswith("Quarvo"):
                continue
            for a in node.names:  # a submodule imported by name is an edge to it
                out.add(f"{mod}.{a.name}" if f"{mod}.{a.name}" in known else mod)
    return {m for m in out if m in known or m == "Quarvo._quarvo"}


def graph():
    known = modules()
    return {name: imports(path, name, known) for name, path in known.items()}


def test_every_module_belongs_to_a_concern():
    assert [m for m in modules() if concern_of(m) is None] == []


def test_every_import_follows_the_rules():
    faults = []
    for user, used in graph().items():
        for target in used:
            a, b = concern_of(user), concern_of(target)
            if a != b and b not in ALLOWED[a]:
                faults.append(f"{user} imports {target}: {a} may not use {b}")
    assert faults == []


def cycles(edges):
    return [" -> ".join(c) for c in engine_cycles(edges)]


def test_no_module_imports_itself_round_a_circle():
    edges = graph()
    # a package's __init__ gathers its modules, which may name the package: that is no circle
    for name in list(edges):
        edges[name] = {t for t in edges[name] if not (name.startswith(t + ".") and t != "Quarvo")}
    assert cycles(edges) == []


def test_no_concern_uses_another_that_uses_it():
    edges = {}
    for user, used in graph().items():
        for target in used:
            a, b = concern_of(user), concern_of(target)
            if a != b and a != "root":
                edges.setdefault(a, set()).add(b)
    assert cycles(edges) == []


@pytest.mark.parametrize("rules, fault", [
    (dict(ALLOWED, engine=("job",)), "cycle"),
    (dict(ALLOWED, job=("engine",)), "job may not use"),
])
def test_a_broken_rule_is_found(rules, fault):
    """The checks above catch a concern that reaches too far, and a circle."""
    faults, edges = [], {}
    extra = {"Quarvo.geometry": {"Quarvo.job.reading"}} if fault == "cycle" else {}
    for user, used in {**graph(), **{k: graph()[k] | v for k, v in extra.items()}}.items():
        for target in used:
            a, b = concern_of(user), concern_of(target)
            if a != b and b not in rules[a]:
                faults.append(f"{a} may not use {b}")
            if a != b and a != "root":
                edges.setdefault(a, set()).add(b)
    found = cycles(edges) if fault == "cycle" else faults
    assert any(fault in f for f in found) or (fault == "cycle" and found), found
