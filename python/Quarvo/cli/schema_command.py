"""``quarvo schema``: the JSON Schema (draft 2020-12) of the job format, for
editors and tools that check job files before they are run."""
import argparse

from Quarvo.cli.terminal import print_lines
from Quarvo.job.fields import markdown, schema_text


def main(argv):
    p = argparse.ArgumentParser(prog="quarvo schema", description=__doc__.split("\n\n")[0].replace("``", ""))
    p.add_argument("-o", "--output", metavar="FILE", help="write the schema into FILE instead of printing it")
    p.add_argument("--markdown", action="store_true",
                   help="the job format's reference as Markdown (docs/job-format.md) instead of the schema")
    try:
        args = p.parse_args(argv)
    except SystemExit as exc:
        return exc.code if isinstance(exc.code, int) else 2
    text = markdown() if args.markdown else schema_text()
    if args.output is None:
        print_lines(text.rstrip("\n").splitlines())
        return 0
    from Quarvo.files import write_atomic

    write_atomic(args.output, text.encode("utf-8"))
    return 0
