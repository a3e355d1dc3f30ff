"""``python -m Quarvo`` and the ``quarvo`` console script: the command-line job."""
import sys

from Quarvo.cli import main

if __name__ == "__main__":
    sys.exit(main())
