"""Text for the terminal: control characters written out, one-line errors,
and printing that survives a reader that leaves early."""
import os
import sys


# Control characters (C0, DEL and C1) other than the tab: a name or an id that
# holds an escape sequence must not drive the user's terminal.
_CONTROL = {c: f"\\x{c:02x}" for c in list(range(0x00, 0x09)) + list(range(0x0a, 0x20)) + list(range(0x7f, 0xa0))}


def terminal_text(text):
    """The text with its control characters written out (``\\x1b``), safe to print."""
    return str(text).translate(_CONTROL)


# A refusal is one line a person reads: longer ones are cut here.
MAX_MESSAGE = 200


def one_line(text, limit=MAX_MESSAGE):
    """A message as printed: control characters written out, at most ``limit`` characters."""
    text = terminal_text(text)
    return text if len(text) <= limit else text[: limit - 3] + "..."


def print_error(prog, message, err=None):
    """``prog: error: message`` on stderr, as one safe line."""
    print(f"{prog}: error: {one_line(message)}", file=sys.stderr if err is None else err)


def print_lines(lines, out=None):
    """Print the lines (control characters written out) and flush. A reader
    that leaves early (``quarvo job.json | head -1``) ends the printing, not
    the run: the files are already written and the exit status still tells
    how the run went."""
    out = sys.stdout if out is None else out
    try:
        for line in lines:
            print(terminal_text(line), file=out)
        out.flush()
    except BrokenPipeError:
        # Point stdout at nothing, so that Python's own flush at exit stays quiet.
        devnull = os.open(os.devnull, os.O_WRONLY)
        try:
            os.dup2(devnull, out.fileno())
        finally:
            os.close(devnull)


