"""The line every benchmark prints first: commit and machine."""
import os
import platform
import subprocess

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def shared_data(name):
    """The shared instances `name` ("esicup", "nesting"): ../shared/data/<name>
    beside the repository, or beside the folder of worktrees it sits in."""
    for up in ("..", os.path.join("..", "..")):
        folder = os.path.normpath(os.path.join(ROOT, up, "shared", "data", name))
        if os.path.isdir(folder):
            return folder
    return os.path.normpath(os.path.join(ROOT, "..", "shared", "data", name))


def commit_and_machine():
    try:
        commit = subprocess.run(["git", "rev-parse", "--short", "HEAD"], capture_output=True, text=True,
                                cwd=ROOT).stdout.strip()
        dirty = subprocess.run(["git", "status", "--porcelain", "--untracked-files=no"], capture_output=True,
                               text=True, cwd=ROOT).stdout.strip()
    except OSError:
        commit, dirty = "", ""
    cpu = ""
    try:
        with open("/proc/cpuinfo") as f:
            cpu = next((line.split(":", 1)[1].strip() for line in f if line.startswith("model name")), "")
    except OSError:
        pass
    return (f"commit {commit or '?'}{' (with local changes)' if dirty else ''}; {platform.machine()} {cpu}, "
            f"{os.cpu_count()} cores, Python {platform.python_version()}")
