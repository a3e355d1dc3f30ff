"""The command line: ``quarvo [JOB.json]`` packs a job file (the bundled
example without one), ``quarvo nest PARTS...`` nests the parts of drawings
on sheets, ``quarvo batch JOB.json...`` packs many job files at once and
``quarvo schema`` prints the JSON Schema of the job format.

``main(argv)`` runs one of them and returns its exit status."""
import sys


def main(argv=None):
    """Run the command line (``sys.argv[1:]`` by default); returns the exit status."""
    argv = sys.argv[1:] if argv is None else list(argv)
    command = argv[:1]
    if command == ["batch"]:
        from Quarvo.cli.batch import main as run
    elif command == ["nest"]:
        from Quarvo.cli.nest import main as run
    elif command == ["schema"]:
        from Quarvo.cli.schema_command import main as run
    else:
        from Quarvo.cli.job_command import main as job_main

        return job_main(argv)
    return run(argv[1:])
