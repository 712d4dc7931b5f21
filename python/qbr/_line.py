"""Line models from results: the Touchstone file of a length of line over a sweep, its
single-ended and mixed-mode S-parameters."""

from __future__ import annotations

import dataclasses
import math
import os
import re
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


def _line_samples(source: Union["pandas.DataFrame", Iterable[Result]]) -> tuple[list, list, list]:
    """Frequencies, Z and Y per metre from a sweep table or a list of results."""
    if hasattr(source, "columns"):
        return _samples(source)
    frequencies, impedances, admittances = [], [], []
    for r in source:
        line = r.line
        if line is None:
            raise ValueError("the S-parameters need line parameters: give the model a permittivity")
        w = r.omega_rad_per_s
        # A lossless line's R is rounding noise: left out, as the C++ writer does.
        z = 1j * w * r.L if line.lossless else np.asarray(r.Z, complex)
        frequencies.append(float(r.frequency_Hz))
        impedances.append(z)
        admittances.append(np.asarray(r.G) + 1j * w * np.asarray(r.C))
    return frequencies, impedances, admittances


def _sorted_line_samples(source: Union["pandas.DataFrame", Iterable[Result]], purpose: str
                         ) -> tuple[np.ndarray, np.ndarray, np.ndarray]:
    """The frequencies in ascending order (K,) and Z and Y per metre (K x N x N) of a sweep
    table or a list of results; ValueError unless there are three different frequencies
    above 0, naming ``purpose`` ("the fit")."""
    frequencies, impedances, admittances = _line_samples(source)
    f = np.asarray(frequencies, float)
    order = np.argsort(f)
    f = f[order]
    if len(f) < 3 or f[0] <= 0 or len(np.unique(f)) != len(f):
        raise ValueError(f"{purpose} needs at least three different frequencies above 0")
    z = np.array([np.asarray(impedances[k], complex) for k in order])
    y = np.array([np.asarray(admittances[k], complex) for k in order])
    return f, z, y


def s_parameters(source: Union["pandas.DataFrame", Iterable[Result]], length_m: float,
                 reference_ohm: float = 50.0) -> tuple[np.ndarray, np.ndarray]:
    """The single-ended S-matrices of ``length_m`` metres of line over a sweep: the
    frequencies (Hz, shape (K,)) and S (shape (K, 2N, 2N)), ports numbered as in
    :func:`touchstone` (1..N near ends, N+1..2N far ends), every port against the real
    ``reference_ohm``. The C++ library computes them, as for the Touchstone file."""
    frequencies, impedances, admittances = _line_samples(source)
    s = np.array([_core.scattering(f, z, y, length_m, reference_ohm)
                  for f, z, y in zip(frequencies, impedances, admittances)])
    return np.asarray(frequencies, float), s


def renormalize(s: np.ndarray, reference_ohm, new_reference_ohm) -> np.ndarray:
    """S (shape (..., P, P)) for real port references ``reference_ohm`` (a number or one
    per port) renormalised to ``new_reference_ohm``: S' = A^-1 (S - G)(I - G S)^-1 A with
    G = (z' - z)/(z' + z) and A = sqrt(1 - G^2) per port (power waves, real references)."""
    s = np.asarray(s, complex)
    p = s.shape[-1]
    z = np.broadcast_to(np.asarray(reference_ohm, float), (p,))
    z2 = np.broadcast_to(np.asarray(new_reference_ohm, float), (p,))
    if np.any(z <= 0) or np.any(z2 <= 0):
        raise ValueError("reference impedances must be positive")
    g = (z2 - z) / (z2 + z)
    a = np.sqrt(1 - g * g)
    eye = np.eye(p)
    inner = np.linalg.solve(np.swapaxes(eye - g[:, None] * s, -1, -2),
                            np.swapaxes(s - np.diag(g), -1, -2))
    return np.swapaxes(inner, -1, -2) * a[None, :] / a[:, None]


@dataclasses.dataclass
class MixedModeS:
    """Mixed-mode S-parameters of a line over a sweep.

    ``s`` has shape (K, P, P) for the ports ``ports``: first the differential ports
    ("D1", "D2", ...: each pair's near end, then its far end), then the common ports in
    the same order ("C1", "C2", ...), then the conductors in no pair ("S<n>", single-ended
    as in :func:`touchstone`). ``sdd``, ``sdc``, ``scd`` and ``scc`` are the blocks (row
    mode first: ``sdc`` is the differential wave out per common wave in).
    ``differential_ohm``, ``common_ohm`` and ``reference_ohm`` are the references of the
    three kinds of port."""

    frequencies_Hz: np.ndarray
    s: np.ndarray
    ports: list[str]
    pairs: list[tuple[int, int]]
    length_m: float
    reference_ohm: float
    differential_ohm: float
    common_ohm: float

    def _block(self, row: str, col: str) -> np.ndarray:
        rows = [k for k, p in enumerate(self.ports) if p[0] == row]
        cols = [k for k, p in enumerate(self.ports) if p[0] == col]
        return self.s[:, rows][:, :, cols]

    @property
    def sdd(self) -> np.ndarray:
        return self._block("D", "D")

    @property
    def sdc(self) -> np.ndarray:
        return self._block("D", "C")

    @property
    def scd(self) -> np.ndarray:
        return self._block("C", "D")

    @property
    def scc(self) -> np.ndarray:
        return self._block("C", "C")

    def touchstone(self, path: str | os.PathLike | None = None) -> str:
        """A Touchstone 2.0 file with ``[Mixed-Mode Order]``: the single-ended ports of the
        file are numbered as in :func:`touchstone`, and the data are in this object's
        order. Touchstone 2.0 derives a pair's mixed-mode references from the one
        single-ended reference R of its two ports (differential 2 R, common R / 2), so the
        references must be in the ratio 4 to 1; R is then differential_ohm / 2, and when it
        is not the single-ended reference of the conductors in no pair a ``[Reference]``
        line gives every port's. :func:`read_touchstone` reads the file back."""
        paired_ohm = self.differential_ohm / 2
        if not math.isclose(self.common_ohm, paired_ohm / 2):
            raise ValueError("a Touchstone 2.0 file holds mixed-mode data only for references "
                             "2 R (differential) and R / 2 (common) of one single-ended R: "
                             f"{self.differential_ohm:g} and {self.common_ohm:g} ohm are not in "
                             "the ratio 4 to 1")
        n = self.s.shape[-1]
        conductors = n // 2
        order = []
        for kind in ("D", "C"):
            for i, j in self.pairs:
                order.append(f"{kind}{i},{j}")
                order.append(f"{kind}{conductors + i},{conductors + j}")
        paired = {c for pair in self.pairs for c in pair}
        for c in range(1, conductors + 1):
            if c not in paired:
                order += [f"S{c}", f"S{conductors + c}"]
        references = [paired_ohm if (p % conductors) + 1 in paired else self.reference_ohm
                      for p in range(n)]
        lines = [f"! qbr: mixed-mode S-parameters of {self.length_m:.12g} m of line",
                 f"! ports 1..{conductors}: near ends of conductors 1..{conductors}; "
                 f"{conductors + 1}..{n}: their far ends; differential reference "
                 f"{self.differential_ohm:.12g} ohm, common {self.common_ohm:.12g} ohm",
                 "[Version] 2.0", f"# Hz S RI R {references[0]:.12g}",
                 f"[Number of Ports] {n}"]
        if n == 2:
            lines.append("[Two-Port Data Order] 21_12")
        lines.append(f"[Number of Frequencies] {len(self.frequencies_Hz)}")
        if any(r != references[0] for r in references):
            lines.append("[Reference] " + " ".join(f"{r:.12g}" for r in references))
        lines += [f"[Mixed-Mode Order] {' '.join(order)}", "[Network Data]"]
        for f, s in zip(self.frequencies_Hz, self.s):
            for i in range(n):
                values = [f"{v.real:.12g} {v.imag:.12g}" for v in s[i]]
                chunks = [" ".join(values[k:k + 4]) for k in range(0, n, 4)]
                lines.append((f"{f:.12g} " if i == 0 else "") + "\n".join(chunks))
        lines.append("[End]")
        text = "\n".join(lines) + "\n"
        if path is not None:
            with open(path, "w", encoding="utf-8") as out:
                out.write(text)
        return text


@dataclasses.dataclass
class TouchstoneData:
    """What :func:`read_touchstone` read: the frequencies (Hz), S (K x P x P, in the
    file's order of ports or, with a ``[Mixed-Mode Order]``, of its mixed-mode ports),
    every single-ended port's reference (ohm) and the mixed-mode order (None without)."""

    frequencies_Hz: np.ndarray
    s: np.ndarray
    reference_ohm: np.ndarray
    mixed_mode_order: list[str] | None


_FREQUENCY_UNITS = {"hz": 1.0, "khz": 1e3, "mhz": 1e6, "ghz": 1e9}


def read_touchstone(source: str | os.PathLike, ports: int | None = None) -> TouchstoneData:
    """Reads S-parameters from a Touchstone file (version 1, or 2.0 with ``[Reference]``
    and ``[Mixed-Mode Order]``), a path or the text itself: data as RI, MA or DB. A
    version 1 file has no port count: give ``ports`` or a name ending in .sNp."""
    text = str(source)
    if "\n" not in text:
        with open(source, encoding="utf-8") as f:
            text = f.read()
        if ports is None and (m := re.search(r"\.s(\d+)p$", str(source), re.I)):
            ports = int(m.group(1))
    unit, form, reference, order, numbers, two_port_12_21 = 1e9, "ma", [50.0], None, [], False
    pending = None  # a keyword whose values may continue on the next lines
    for raw in text.splitlines():
        line = raw.split("!", 1)[0].strip()
        if not line:
            continue
        if line.startswith("#"):
            words = line[1:].lower().split()
            for k, w in enumerate(words):
                if w in _FREQUENCY_UNITS:
                    unit = _FREQUENCY_UNITS[w]
                elif w in ("ri", "ma", "db"):
                    form = w
                elif w == "r":
                    reference = [float(words[k + 1])]
                elif w in ("y", "z", "h", "g"):
                    raise ValueError("only S-parameters can be read")
            continue
        if line.startswith("["):
            keyword, _, rest = line[1:].partition("]")
            keyword, rest = keyword.strip().lower(), rest.split()
            pending = None
            if keyword == "number of ports":
                ports = int(rest[0])
            elif keyword == "two-port data order":
                two_port_12_21 = rest[0] == "12_21"
            elif keyword == "reference":
                reference = [float(v) for v in rest]
                pending = "reference"
            elif keyword == "mixed-mode order":
                order = rest
            elif keyword == "end":
                break
            continue
        if pending == "reference" and ports is not None and len(reference) < ports:
            reference += [float(v) for v in line.split()]
            continue
        numbers += [float(v) for v in line.split()]
    if ports is None:
        raise ValueError("the number of ports is not known: give ports= or a .sNp name")
    per = 1 + 2 * ports * ports
    if len(numbers) % per:
        raise ValueError("the network data do not fill whole frequencies")
    data = np.array(numbers).reshape(-1, per)
    a, b = data[:, 1::2], data[:, 2::2]
    if form == "ri":
        values = a + 1j * b
    else:
        magnitude = a if form == "ma" else 10 ** (a / 20)
        values = magnitude * np.exp(1j * np.radians(b))
    s = values.reshape(-1, ports, ports)
    if ports == 2 and not two_port_12_21:
        s = np.swapaxes(s, 1, 2)  # S11 S21 S12 S22
    references = np.broadcast_to(np.asarray(reference, float), (ports,)).copy()
    return TouchstoneData(frequencies_Hz=data[:, 0] * unit, s=s, reference_ohm=references,
                          mixed_mode_order=order)


def mixed_mode(s: np.ndarray, pairs: list[tuple[int, int]] | None = None) -> tuple[np.ndarray, list[str]]:
    """Single-ended S of a line's 2N ports (shape (..., 2N, 2N), ports 1..N near ends,
    N+1..2N far ends) turned into mixed-mode S for the pairs of conductors ``pairs``
    (numbered from 1; by default (1, 2) of a pair): S_mm = M S M^T with the orthogonal M
    of the differential wave (a_i - a_j)/sqrt(2) and the common wave (a_i + a_j)/sqrt(2),
    whose references are 2 R and R / 2 of the single-ended R. Returns S_mm and the port
    names (see :class:`MixedModeS`)."""
    s = np.asarray(s, complex)
    n2 = s.shape[-1]
    if n2 % 2 or s.shape[-2] != n2:
        raise ValueError("S must be square with 2N ports (near ends, then far ends)")
    n = n2 // 2
    if pairs is None:
        if n != 2:
            raise ValueError("name the pairs of conductors for a line of more than two")
        pairs = [(1, 2)]
    used = [c for pair in pairs for c in pair]
    if len(set(used)) != len(used) or any(not 1 <= c <= n for c in used):
        raise ValueError(f"pairs must name different conductors among 1..{n}")
    rows, names = [], []
    root = 1 / math.sqrt(2)
    for kind, sign in (("D", -1.0), ("C", 1.0)):
        for k, (i, j) in enumerate(pairs):
            for end, offset in enumerate((0, n)):
                row = np.zeros(n2)
                row[offset + i - 1] = root
                row[offset + j - 1] = sign * root
                rows.append(row)
                names.append(f"{kind}{2 * k + end + 1}")
    for c in range(1, n + 1):
        if c not in used:
            for offset in (0, n):
                row = np.zeros(n2)
                row[offset + c - 1] = 1.0
                rows.append(row)
                names.append(f"S{offset + c}")
    m = np.array(rows)
    return m @ s @ m.T, names


def mixed_mode_s(source: Union["pandas.DataFrame", Iterable[Result]], length_m: float,
                 reference_ohm: float = 50.0, *, differential_ohm: float | None = None,
                 common_ohm: float | None = None,
                 pairs: list[tuple[int, int]] | None = None) -> MixedModeS:
    """Mixed-mode (differential and common) S-parameters of ``length_m`` metres of a
    coupled line over a sweep (a table of :func:`frequency_sweep` or a list of results).

    The single-ended S at ``reference_ohm`` (:func:`s_parameters`) is turned into modes
    (:func:`mixed_mode`), whose references are 2 ``reference_ohm`` (differential) and
    ``reference_ohm`` / 2 (common); ``differential_ohm`` and ``common_ohm`` choose others
    (the data are renormalised to them, :func:`renormalize`). Single-ended ports of
    conductors in no pair keep ``reference_ohm``."""
    frequencies, s = s_parameters(source, length_m, reference_ohm)
    mm, names = mixed_mode(s, pairs)
    pairs = list(pairs) if pairs is not None else [(1, 2)]
    zd = 2.0 * reference_ohm if differential_ohm is None else float(differential_ohm)
    zc = reference_ohm / 2.0 if common_ohm is None else float(common_ohm)
    old = [2.0 * reference_ohm if p[0] == "D" else reference_ohm / 2.0 if p[0] == "C"
           else reference_ohm for p in names]
    new = [zd if p[0] == "D" else zc if p[0] == "C" else reference_ohm for p in names]
    if old != new:
        mm = renormalize(mm, old, new)
    return MixedModeS(frequencies_Hz=frequencies, s=mm, ports=names, pairs=pairs,
                      length_m=float(length_m), reference_ohm=float(reference_ohm),
                      differential_ohm=zd, common_ohm=zc)
