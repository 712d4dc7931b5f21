"""What the Python examples share: where they write their pictures."""

import argparse
import os

import matplotlib

matplotlib.use("Agg")

GALLERY = os.path.normpath(os.path.join(os.path.dirname(__file__), "..", "gallery"))


def output_dir(description: str) -> str:
    """The folder for the PNGs: --out DIR, by default examples/gallery."""
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--out", default=GALLERY, help="folder for the pictures")
    out = parser.parse_args().out
    os.makedirs(out, exist_ok=True)
    return out
