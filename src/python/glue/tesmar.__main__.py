"""`python -m tesmar`: the command line (see tesmar.cli)."""
import sys

from tesmar.cli import main

if __name__ == "__main__":
    sys.exit(main())
