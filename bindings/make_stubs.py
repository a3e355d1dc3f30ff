"""Writes the type stubs of the extension (nanobind's stub generator), for
editors and type checkers: OUT/_quarvo/__init__.pyi and one .pyi per
submodule.

    python bindings/make_stubs.py PACKAGE_DIR OUT

The package's own modules give the extension's classes the names users see
(``Quarvo.geometry.Polygon``); the stubs must define them where they are
built, so the extension is loaded here under a bare package that runs none
of the package's modules.
"""
import os
import sys
import types


def main():
    package_dir, out = sys.argv[1], sys.argv[2]
    bare = types.ModuleType("Quarvo")
    bare.__path__ = [os.path.abspath(package_dir)]
    sys.modules["Quarvo"] = bare
    from nanobind.stubgen import main as stubgen

    patterns = os.path.join(os.path.dirname(os.path.abspath(__file__)), "stubs.pat")
    stubgen(["-m", "Quarvo._quarvo", "-r", "-O", out, "-q", "-p", patterns])


if __name__ == "__main__":
    main()
