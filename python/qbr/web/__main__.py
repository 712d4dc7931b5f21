import sys

from qbr.web.server import main

if __name__ == "__main__":
    sys.exit(main())
