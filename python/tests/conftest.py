import os
import pathlib

import pytest

import qbr

ROOT = pathlib.Path(__file__).resolve().parents[2]

# A small superconducting microstrip (nd 514) in the input language; `strip_model` builds
# the same with keywords.
STRIP_TEXT = """cc small microstrip
grid graded
lengthunit um
frequency 10 ghz
lambda 0.09
ah 0.1
rect -10 10 -0.2 0 0 0 100 4
rect {x1} {x2} {y} {top} 1 0 20 4
"""


def strip_model(width: float = 2.0, height: float = 0.2) -> qbr.Model:
    m = qbr.Model(cc="small microstrip", frequency=10, frequency_unit="ghz", lambda_=0.09, ah=0.1)
    m.rect(-10, 10, -0.2, 0, c=0, patch=0, nx=100, ny=4)
    return m.rect(-width / 2, width / 2, height, height + 0.2, c=1, patch=0, nx=20, ny=4)


@pytest.fixture
def program() -> str:
    """The qbr program of this build."""
    path = os.environ.get("QBR_EXECUTABLE", str(ROOT / "build" / "qbr"))
    if not os.access(path, os.X_OK):
        pytest.skip(f"no qbr program at {path}")
    return path
