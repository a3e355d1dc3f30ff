"""The user's files: outputs written atomically, privately and truthfully,
and never over an input.

Every output is written to a private temporary file beside it (created
exclusively under an unpredictable name, so a link planted there is never
followed), and a set of outputs is moved into place together: when one
cannot be moved, the ones already moved are put back as they were. An output
may not name an input of the run (the job file, a drawing it reads, a job of
a batch) or a file of the installed package, by path, link or hard link.
"""
import os
import signal
import tempfile


class UnsafeOutput(ValueError):
    """An output that would replace an input or a file of the package; one line naming both."""


class Terminated(BaseException):
    """SIGTERM, raised where the run is so that its temporary files are removed."""


class terminate_cleanly:
    """While active, SIGTERM raises ``Terminated`` in the main thread (a packing
    run answers it as it answers Ctrl-C), so that ``finally`` blocks remove
    every temporary file before the process ends. A search keeps its best
    layout when stopped, so ``requested`` stays set for the caller to see."""

    requested = False

    def __enter__(self):
        self._saved = None
        terminate_cleanly.requested = False
        try:
            self._saved = signal.signal(signal.SIGTERM, self._raise)
        except ValueError:  # not the main thread: nothing to install
            pass
        return self

    @staticmethod
    def _raise(signum, frame):
        terminate_cleanly.requested = True
        raise Terminated()

    def __exit__(self, *exc):
        if self._saved is not None:
            signal.signal(signal.SIGTERM, self._saved)
        return False


def private_temp(path):
    """A new empty file beside path, created exclusively (mode 0600) under an
    unpredictable hidden name with path's extension (a picture's format
    follows it). Returns its path."""
    folder, name = os.path.split(os.path.abspath(path))
    fd, tmp = tempfile.mkstemp(prefix=f".{name}.", suffix=f".tmp{os.path.splitext(name)[1]}", dir=folder)
    os.close(fd)
    return tmp


def _remove(path):
    try:
        os.remove(path)
    except FileNotFoundError:
        pass


def _public_mode(path):
    """Give a finished temporary file the mode a new file of the user's would get."""
    umask = os.umask(0)
    os.umask(umask)
    os.chmod(path, 0o666 & ~umask)


class PartlyWritten(OSError):
    """Moving a set of outputs into place failed, and putting back what was
    already moved failed too: the message names every file left changed."""


class OutputSet:
    """Outputs written to private temporary files and moved into place together.

        outputs = OutputSet()
        with outputs:
            write(outputs.temp(path), ...)   # as many as the run has
            outputs.commit()                  # all moved, or none

    Leaving the block without ``commit`` (an error, Ctrl-C, SIGTERM) removes
    every temporary file. ``commit`` moves the files one by one, keeping what
    each replaces; if a move fails, the ones already moved are put back."""

    def __init__(self):
        self._staged = []  # (temporary path, target)
        self._backups = []

    def temp(self, target):
        tmp = private_temp(target)
        self._staged.append((tmp, target))
        return tmp

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        for tmp, _ in self._staged:
            _remove(tmp)
        for backup in self._backups:
            _remove(backup)
        return False

    def commit(self):
        moved = []  # (target, backup of what it replaced, or None)
        try:
            for tmp, target in self._staged:
                _public_mode(tmp)
                backup = None
                if os.path.lexists(target):
                    backup = private_temp(target)
                    self._backups.append(backup)
                    os.replace(target, backup)
                try:
                    os.replace(tmp, target)
                except OSError:
                    if backup is not None:
                        os.replace(backup, target)
                    raise
                moved.append((target, backup))
        except BaseException as exc:
            left = []
            for target, backup in reversed(moved):
                try:
                    if backup is None:
                        os.remove(target)
                    else:
                        os.replace(backup, target)
                except OSError:
                    left.append(target)
            if left:
                raise PartlyWritten(f"{exc}; these files were written and could not be put back: "
                                    f"{', '.join(reversed(left))}") from exc
            raise
        self._staged = []


def write_atomic(path, data):
    """Write bytes to path through a private temporary file beside it: never half a file."""
    with OutputSet() as outputs:
        with open(outputs.temp(path), "wb") as f:
            f.write(data)
        outputs.commit()


# ---------------------------------------------------------------- outputs never replace inputs


def package_folder():
    """The folder of the installed package (its data, the bundled example, its code)."""
    return os.path.realpath(os.path.dirname(os.path.abspath(__file__)))


def same_file(a, b):
    """Whether two paths name one file: the same path once links are resolved,
    or the same file on disk (a hard link)."""
    try:
        if os.path.realpath(a) == os.path.realpath(b):
            return True
        return os.path.exists(a) and os.path.exists(b) and os.path.samefile(a, b)
    except (OSError, ValueError):
        return False


def _inside(path, folder):
    real = os.path.realpath(path)
    return real == folder or real.startswith(folder.rstrip(os.sep) + os.sep)


def _shown(path, limit=80):
    text = os.fspath(path)
    return repr(text if len(text) <= limit else "..." + text[-(limit - 3):])


def refuse_replacing_inputs(outputs, inputs):
    """Refuse, in one line naming both, an output that would replace an input
    of the run or a file of the installed package. ``outputs``: (option, path);
    ``inputs``: (what it is, path), e.g. ("the job file", "a.json")."""
    package = package_folder()
    for opt, path in outputs:
        if path is None or path == "":
            continue
        for what, given in inputs:
            if given is not None and same_file(path, given):
                name = "" if os.path.abspath(path) == os.path.abspath(given) else f" {_shown(given)}"
                raise UnsafeOutput(f"{opt} {_shown(path)} would replace {what}{name}: an output never replaces an "
                               "input; choose another name")
        if _inside(path, package) or file_identity(path) in _package_files(package):
            raise UnsafeOutput(f"{opt} {_shown(path)} lies in the installed Quarvo package: write outputs elsewhere")


def file_identity(path):
    """(device, inode) of an existing file, or None."""
    try:
        st = os.stat(path)
    except (OSError, ValueError):
        return None
    return st.st_dev, st.st_ino


def _package_files(package):
    """(device, inode) of every file of the package: a hard link to one elsewhere is still the package's."""
    found = set()
    for folder, _, names in os.walk(package):
        for name in names:
            ident = file_identity(os.path.join(folder, name))
            if ident is not None:
                found.add(ident)
    return found
