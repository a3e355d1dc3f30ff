"""The engine's folders and the dependencies allowed between them (README,
Layout), checked on every #include line of cpp/ and bindings/.

A folder may include its own headers, the public headers (cpp/include/quarvo)
and the internal headers (beside the sources) of the folders it uses, and the
public headers only of the folders it uses through their public API. Public
headers include public headers only and name no Clipper type, and there are at
most MAX_PUBLIC_HEADERS of them; the binding and the fuzz harnesses may reach
the step functions they expose through the internal headers, but never an
internal header that names Clipper; a C++ test (under the folder it mirrors)
may reach the internal headers of any folder, the steps it tests.
No two folders may depend on each other, directly or through others.
"""
import os
import re
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent

FOLDERS = ("core", "geometry", "shapes", "nfp", "place", "place/nfp", "place/bl", "pack", "search", "compress", "check")

# folder -> the folders it may include; a name ending in ":public" allows that
# folder's public headers only.
RULES = {
    "core": (),
    "geometry": ("core",),
    "shapes": ("geometry", "core"),
    "nfp": ("shapes", "geometry", "core", "check:public"),
    "place": ("shapes", "geometry", "core"),
    "place/nfp": ("place", "nfp", "shapes", "geometry", "core"),
    "place/bl": ("place", "shapes", "geometry", "core"),
    "pack": ("place", "place/nfp:public", "place/bl:public", "shapes", "geometry", "core"),
    "search": ("pack", "place", "nfp", "shapes", "geometry", "core"),
    "compress": ("search:public", "pack", "place/nfp", "place", "nfp", "check:public", "shapes", "geometry", "core"),
    "check": ("shapes", "geometry", "core"),
}

# The folder each public header belongs to. The umbrella belongs to none:
# only the binding, the tests and the fuzz harnesses may include it.
PUBLIC_OWNER = {
    "cancel.hpp": "core",
    "constants.hpp": "core",
    "errors.hpp": "core",
    "options.hpp": "core",
    "kernel.hpp": "geometry",
    "shapes.hpp": "shapes",
    "placer.hpp": "place",
    "placer_nfp.hpp": "place/nfp",
    "placer_bl.hpp": "place/bl",
    "first_fit.hpp": "pack",
    "search.hpp": "search",
    "compress.hpp": "compress",
    "check.hpp": "check",
    "quarvo.hpp": None,
}

# What a user of the engine from C++ reads: the rest lives beside its sources.
MAX_PUBLIC_HEADERS = 14

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)
SOURCES = (".cpp", ".hpp", ".h")


def folder_of(rel):
    """The engine folder of a path under cpp/src (the longest that holds it)."""
    parts = Path(rel).parent.parts
    for n in range(len(parts), 0, -1):
        name = "/".join(parts[:n])
        if name in FOLDERS:
            return name
    return None


def allowed(user, used, public, rules):
    """Whether folder `user` may include a header of folder `used`."""
    if user == used:
        return True
    for entry in rules.get(user, ()):
        name, _, only = entry.partition(":")
        if name == used and (public or only != "public"):
            return True
    return False


class Unit:
    """Who includes: an engine folder, a public header's folder, the binding,
    a fuzz harness, or a test of a folder."""

    def __init__(self, kind, folder=None):
        self.kind, self.folder = kind, folder

    def __str__(self):
        return self.kind if self.folder is None else f"{self.kind} {self.folder}"


def unit_of(rel, owners):
    parts = Path(rel).parts
    if parts[:2] == ("cpp", "src"):
        return Unit("engine", folder_of(Path(*parts[2:])))
    if parts[:3] == ("cpp", "include", "quarvo"):
        return Unit("public", owners.get(parts[3], "?"))
    if parts[0] == "bindings":
        return Unit("binding")
    if parts[:2] == ("cpp", "fuzz"):
        return Unit("fuzz")
    if parts[:2] == ("cpp", "tests"):
        return Unit("test", folder_of(Path(*parts[2:])))
    return Unit("other")


def resolve(root, rel, target):
    """(kind, folder) of an included header: ("public", owner), ("internal",
    folder), ("local", None) for a file beside the includer, or None."""
    if target.startswith("quarvo/"):
        return ("public", target[len("quarvo/"):]) if (root / "cpp/include" / target).is_file() else None
    if (root / "cpp/src" / target).is_file() and folder_of(target):
        return "internal", folder_of(target)
    if (root / Path(rel).parent / target).is_file():
        return "local", None
    if Path(rel).parts[:2] == ("cpp", "tests") and (root / "cpp/tests" / target).is_file():
        return "local", None  # the tests' own helpers
    return None


def check_tree(root, rules=RULES, owners=PUBLIC_OWNER):
    """Every fault of the include lines under root/cpp and root/bindings, in words."""
    faults = []
    edges = {}
    files = [p for top in ("cpp", "bindings") for p in sorted((root / top).rglob("*")) if p.suffix in SOURCES]
    for name in sorted(os.listdir(root / "cpp/include/quarvo")) if (root / "cpp/include/quarvo").is_dir() else []:
        if name not in owners:
            faults.append(f"cpp/include/quarvo/{name}: a public header of no folder (add it to PUBLIC_OWNER)")
    for path in files:
        rel = path.relative_to(root).as_posix()
        unit = unit_of(rel, owners)
        if unit.kind == "engine" and unit.folder is None:
            faults.append(f"{rel}: a source outside the engine's folders")
            continue
        text = path.read_text(encoding="utf-8")
        if unit.kind == "public" and re.search(r"\bClipperLib\b", text):
            faults.append(f"{rel}: a public header names a Clipper type")
        for bracket, target in INCLUDE.findall(text):
            where = f"{rel}: #include {bracket}{target}{'>' if bracket == '<' else bracket}"
            if bracket == "<":
                if target.startswith("polyclipping/") and unit.kind in ("public", "binding", "fuzz"):
                    faults.append(f"{where}: Clipper outside the engine's internals")
                continue
            got = resolve(root, rel, target)
            if got is None:
                faults.append(f"{where}: no such header")
                continue
            kind, owner = got
            if kind == "public":
                owner = owners.get(owner, "?")
                if owner is None:
                    if unit.kind in ("engine", "public"):
                        faults.append(f"{where}: the umbrella header inside the engine")
                    continue
            if kind == "local":
                continue
            public = kind == "public"
            if unit.kind == "public":
                if not public:
                    faults.append(f"{where}: a public header includes an internal one")
                elif unit.folder is None:  # the umbrella
                    continue
                elif not allowed(unit.folder, owner, True, rules):
                    faults.append(f"{where}: {unit.folder} may not use {owner}")
                elif owner != unit.folder:
                    edges.setdefault(unit.folder, set()).add(owner)
            elif unit.kind == "engine":
                if not allowed(unit.folder, owner, public, rules):
                    what = "the internals of " if not public and allowed(unit.folder, owner, True, rules) else ""
                    faults.append(f"{where}: {unit.folder} may not use {what}{owner}")
                elif owner != unit.folder:
                    edges.setdefault(unit.folder, set()).add(owner)
            elif unit.kind in ("binding", "fuzz"):
                if not public and names_clipper(root / "cpp/src" / target):
                    faults.append(f"{where}: the {unit.kind} reaches Clipper through an internal header")
            elif unit.kind == "test":
                if not public and unit.folder is None:
                    faults.append(f"{where}: a test outside the mirrored folders reaches internals")
    faults.extend(f"cycle between folders: {' -> '.join(c)}" for c in cycles(edges))
    return faults


def names_clipper(header, seen=None):
    """Whether an internal header includes Clipper, itself or through the internal headers it includes."""
    seen = set() if seen is None else seen
    if header in seen or not header.is_file():
        return False
    seen.add(header)
    for bracket, target in INCLUDE.findall(header.read_text(encoding="utf-8")):
        if bracket == "<" and target.startswith("polyclipping/"):
            return True
        if bracket == '"' and names_clipper(_src_root(header) / target, seen):
            return True
    return False


def _src_root(header):
    """cpp/src above an internal header."""
    for parent in header.parents:
        if parent.name == "src" and parent.parent.name == "cpp":
            return parent
    return header.parent


def cycles(edges):
    """One cycle per strongly tied group of folders, as a path back to its start."""
    found, done = [], set()

    def walk(node, path):
        if node in path:
            cycle = path[path.index(node):] + [node]
            if frozenset(cycle) not in done:
                done.add(frozenset(cycle))
                found.append(cycle)
            return
        for nxt in sorted(edges.get(node, ())):
            walk(nxt, path + [node])

    for start in sorted(edges):
        walk(start, [])
    return found


def test_every_include_follows_the_rules():
    assert check_tree(ROOT) == []


def test_the_public_headers_are_few():
    names = sorted(os.listdir(ROOT / "cpp/include/quarvo"))
    assert len(names) <= MAX_PUBLIC_HEADERS, names


def test_every_source_lies_in_a_folder_of_one_concern():
    loose = [p.name for p in (ROOT / "cpp/src").iterdir() if p.is_file() and p.suffix in SOURCES]
    assert loose == []


def write(root, rel, *includes):
    path = root / rel
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text("".join(f'#include "{i}"\n' for i in includes) + "int x;\n", encoding="utf-8")


@pytest.mark.parametrize("rel, include, fault", [
    ("cpp/src/geometry/bad.cpp", "nfp/inner.hpp", "geometry may not use nfp"),
    ("cpp/src/pack/bad.cpp", "place/nfp/inner.hpp", "pack may not use the internals of place/nfp"),
    ("cpp/src/check/bad.cpp", "quarvo/placer.hpp", "check may not use place"),
    ("cpp/src/nfp/bad.cpp", "quarvo/quarvo.hpp", "the umbrella header inside the engine"),
    ("cpp/include/quarvo/shapes.hpp", "geometry/inner.hpp", "a public header includes an internal one"),
    ("bindings/bad.cpp", "nfp/clipped.hpp", "the binding reaches Clipper through an internal header"),
    ("cpp/tests/bad.cpp", "nfp/inner.hpp", "a test outside the mirrored folders reaches internals"),
    ("cpp/src/core/bad.cpp", "core/missing.hpp", "no such header"),
])
def test_a_forbidden_include_is_found(tmp_path, rel, include, fault):
    """A small tree that keeps the rules, then one include that breaks them."""
    for name in ("placer.hpp", "shapes.hpp", "quarvo.hpp"):
        write(tmp_path, f"cpp/include/quarvo/{name}")
    write(tmp_path, "cpp/src/nfp/inner.hpp")
    (tmp_path / "cpp/src/nfp/clipped.hpp").write_text("#include <polyclipping/clipper.hpp>\n", encoding="utf-8")
    write(tmp_path, "cpp/src/place/nfp/inner.hpp")
    write(tmp_path, "cpp/src/geometry/inner.hpp")
    write(tmp_path, "cpp/src/nfp/ok.cpp", "nfp/inner.hpp", "geometry/inner.hpp", "quarvo/shapes.hpp")
    write(tmp_path, "bindings/ok.cpp", "quarvo/quarvo.hpp", "nfp/inner.hpp")
    assert check_tree(tmp_path) == []
    write(tmp_path, rel, include)
    faults = check_tree(tmp_path)
    assert len(faults) == 1 and fault in faults[0], faults


def test_a_cycle_between_folders_is_found(tmp_path):
    """Rules that allowed both directions would still not let two folders use each other."""
    write(tmp_path, "cpp/src/pack/a.hpp", "search/b.hpp")
    write(tmp_path, "cpp/src/search/b.hpp", "pack/a.hpp")
    permissive = dict(RULES, pack=RULES["pack"] + ("search",))
    assert check_tree(tmp_path, rules=permissive) == ["cycle between folders: pack -> search -> pack"]
