"""A job packed from Python as the command line packs it.

    result = Quarvo.pack_job("order.json")        # or a job document (a dict)
    result.document                                # the result document (--output)
    result.table()                                 # the load table's CSV text (--table)
    result.summary()                               # the summary the command prints
    result.plot("plan.png"); result.pdf("plan.pdf")
"""
import os

from Quarvo.files import OutputSet
from Quarvo.job import load_job, parse_job
from Quarvo.job.packing import check, pack
from Quarvo.report.document import result_document
from Quarvo.report.summary import summary_lines
from Quarvo.report.table import load_table_csv


class PackedJob:
    """A packed and checked job; ``result`` is the packing's own record."""

    def __init__(self, result):
        self.result = result
        self._document = None

    @property
    def document(self):
        """The result document, as ``--output OUT.json`` writes it."""
        if self._document is None:
            self._document = result_document(self.result)
        return self._document

    @property
    def ok(self):
        """Whether the independent layout check passed."""
        return self.result.check is not None and self.result.check.ok

    def summary(self):
        """The summary the command line prints, as one text."""
        return "\n".join(summary_lines(self.result))

    def table(self, path=None, precision=None):
        """The load table's CSV text (``--table``); written to ``path`` when given."""
        text = load_table_csv(self.result, precision)
        if path is not None:
            _write(path, lambda tmp: open(tmp, "w", encoding="utf-8", newline="").write(text))
        return text

    def plot(self, path):
        """The plan picture (``--plot``): a .png, or an .svg in job units."""
        from Quarvo.report.outputs import check_plot_format, write_plot

        check_plot_format(os.fspath(path), opt="plot")
        _write(path, lambda tmp: write_plot(self.result, tmp))

    def pdf(self, path, paper="a4"):
        """The printable plan (``--report plan.pdf``): a cover and a page per bin."""
        from Quarvo.report.pdf import write_pdf

        _write(path, lambda tmp: write_pdf(self.result, tmp, paper))


def _write(path, write):
    with OutputSet() as outputs:
        write(outputs.temp(os.fspath(path)))
        outputs.commit()


def pack_job(job, *, parts_root=None):
    """Pack a job (a job document, or the path of a job file) as the command
    line does, check it, and return a ``PackedJob``. Raises
    ``Quarvo.job.JobError`` for a job that cannot be packed as written."""
    if isinstance(job, (str, os.PathLike)):
        parsed = load_job(os.fspath(job), parts_root=parts_root)
    else:
        parsed = parse_job(job, "job", parts_root=parts_root)
    result = pack(parsed)
    result.check = check(result)
    return PackedJob(result)
