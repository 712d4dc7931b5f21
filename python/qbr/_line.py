"""Line models from results: the Touchstone file of a length of line over a sweep."""

from __future__ import annotations

import os
from typing import TYPE_CHECKING, Iterable, Union

import numpy as np

from . import _core
from ._model import Result

if TYPE_CHECKING:
    import pandas


def _samples(table: "pandas.DataFrame") -> tuple[list, list, list]:
    """Frequencies, Z and Y (N x N per point) from the rows of a sweep table."""
    if "Y_S_per_m" not in table:
        raise ValueError("the sweep table has no admittance: give the model a permittivity")
    failed = table[table["error"].notna()]
    if len(failed):
        raise ValueError(f"point {failed['point'].iloc[0]} of the sweep failed: "
                         f"{failed['error'].iloc[0]}")
    frequencies, impedances, admittances = [], [], []
    for _, rows in table.groupby("point", sort=False):
        n = int(rows["i"].max())
        z = np.zeros((n, n), complex)
        y = np.zeros((n, n), complex)
        for i, j, zij, yij in zip(rows["i"], rows["j"], rows["Z_ohm_per_m"], rows["Y_S_per_m"]):
            z[i - 1, j - 1] = zij
            y[i - 1, j - 1] = yij
        frequencies.append(float(rows["frequency_Hz"].iloc[0]))
        impedances.append(z)
        admittances.append(y)
    return frequencies, impedances, admittances


def touchstone(source: Union["pandas.DataFrame", Iterable[Result]], length_m: float,
               path: str | os.PathLike | None = None, reference_ohm: float = 50.0) -> str:
    """The S-parameters of ``length_m`` metres of line as a Touchstone (version 1) file,
    one block per frequency in the order given; returns the text and writes it to
    ``path`` when given (name it ``.s2p`` for one conductor, ``.s4p`` for two, ...).

    source: the table of :func:`frequency_sweep` (or :func:`sweep`) of a model with a
    permittivity, or a list of its results. Ports 1..N are the near ends of conductors
    1..N, N+1..2N their far ends, each against conductor 0; every port has the real
    reference impedance ``reference_ohm``. The C++ library computes them from the
    bounded modal waves of Z = R + j omega L and Y = G + j omega C at each frequency.
    From results, a lossless line's R (rounding noise) is left out, as in its line
    parameters; a table carries R as computed.
    """
    if hasattr(source, "columns"):
        text = _core.touchstone_samples(*_samples(source), length_m, reference_ohm)
    else:
        text = _core.touchstone([r._core for r in source], length_m, reference_ohm)
    if path is not None:
        with open(path, "w", encoding="utf-8") as out:
            out.write(text)
    return text
