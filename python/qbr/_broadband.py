"""Broadband line models: a passive, causal per-unit-length circuit fitted to a frequency
sweep of R(f), L(f), G(f), C(f), and its ngspice subcircuit of N sections."""

from __future__ import annotations

import dataclasses
import math
from typing import TYPE_CHECKING, Iterable, Union

import numpy as np
from scipy.optimize import nnls

from ._line import _sorted_line_samples
from ._model import Result

if TYPE_CHECKING:
    import pandas


def _number(v: float) -> str:
    return f"{v:.12g}"


def _fit(omega: np.ndarray, resistive: np.ndarray, reactive: np.ndarray,
         poles: np.ndarray) -> tuple[float, float, np.ndarray]:
    """Nonnegative a0, a_inf, a_k with a0 + sum a_k w^2/(w^2 + p_k^2) = resistive(w) and
    a_inf + sum a_k p_k/(w^2 + p_k^2) = reactive(w) (the real part and the imaginary part
    over omega of a0 + s a_inf + sum a_k s/(s + p_k)), each row relative to its datum."""
    w2 = omega[:, None] ** 2
    p = poles[None, :]
    k = len(poles)
    top = np.hstack([np.ones((len(omega), 1)), np.zeros((len(omega), 1)), w2 / (w2 + p * p)])
    bottom = np.hstack([np.zeros((len(omega), 1)), np.ones((len(omega), 1)), p / (w2 + p * p)])
    a = np.vstack([top / resistive[:, None], bottom / reactive[:, None]])
    b = np.ones(2 * len(omega))
    scale = np.linalg.norm(a, axis=0)
    scale[scale == 0] = 1.0
    x, _ = nnls(a / scale, b, maxiter=50 * (k + 2))
    x = x / scale
    return float(x[0]), float(x[1]), x[2:]


@dataclasses.dataclass
class BroadbandModel:
    """A passive, causal circuit per metre of one line, fitted to a frequency sweep.

    Series impedance per metre Z(s) = R_dc + s L_inf + sum_k R_k s / (s + R_k / L_k): R_dc
    and L_inf in series with a chain of R_k parallel to L_k (``series_R_ohm_per_m``,
    ``series_L_H_per_m``); shunt admittance per metre Y(s) = G_dc + s C_inf + sum_k s C_k /
    (1 + s R_k C_k): G_dc and C_inf with branches of R_k in series with C_k
    (``shunt_R_ohm_m``, ``shunt_C_F_per_m``). Every element value is positive (a sum of
    positive R, L, C is passive, and its poles on the negative real axis make it
    causal). ``fit_error`` is the largest relative error of R, L, G and C at the fitted
    frequencies.
    """

    frequencies_Hz: np.ndarray
    R_dc_ohm_per_m: float
    L_inf_H_per_m: float
    series_R_ohm_per_m: np.ndarray
    series_L_H_per_m: np.ndarray
    G_dc_S_per_m: float
    C_inf_F_per_m: float
    shunt_R_ohm_m: np.ndarray
    shunt_C_F_per_m: np.ndarray
    fit_error: dict
    caption: str = ""

    def Z(self, frequency_Hz) -> np.ndarray:
        """The fitted series impedance per metre, ohm/m, at the frequencies given."""
        s = 2j * math.pi * np.asarray(frequency_Hz, float)[..., None]
        rk, lk = self.series_R_ohm_per_m, self.series_L_H_per_m
        branches = (s * lk * rk / (rk + s * lk)).sum(axis=-1)
        return self.R_dc_ohm_per_m + s[..., 0] * self.L_inf_H_per_m + branches

    def Y(self, frequency_Hz) -> np.ndarray:
        """The fitted shunt admittance per metre, S/m, at the frequencies given."""
        s = 2j * math.pi * np.asarray(frequency_Hz, float)[..., None]
        rk, ck = self.shunt_R_ohm_m, self.shunt_C_F_per_m
        branches = (s * ck / (1 + s * rk * ck)).sum(axis=-1)
        return self.G_dc_S_per_m + s[..., 0] * self.C_inf_F_per_m + branches

    @property
    def passive(self) -> bool:
        """Every element value positive and finite (the check of the fit's passivity)."""
        values = np.concatenate([[self.L_inf_H_per_m, self.C_inf_F_per_m],
                                 self.series_R_ohm_per_m, self.series_L_H_per_m,
                                 self.shunt_R_ohm_m, self.shunt_C_F_per_m])
        return bool(np.all(np.isfinite(values)) and np.all(values > 0)
                    and self.R_dc_ohm_per_m >= 0 and self.G_dc_S_per_m >= 0)

    def sections(self, length_m: float, f_max_Hz: float | None = None,
                 per_wavelength: float = 10.0) -> int:
        """Sections for ``length_m``: at least ``per_wavelength`` per wavelength at
        ``f_max_Hz`` (by default the highest fitted frequency)."""
        f_max = float(self.frequencies_Hz.max() if f_max_Hz is None else f_max_Hz)
        z, y = self.Z(f_max), self.Y(f_max)
        beta = (np.sqrt(z * y)).imag
        wavelengths = length_m * beta / (2 * math.pi)
        return max(1, math.ceil(per_wavelength * wavelengths))

    def spice(self, length_m: float, name: str = "qbr_broadband", sections: int | None = None,
              f_max_Hz: float | None = None, per_wavelength: float = 10.0,
              lumped: bool = False) -> str:
        """The ngspice subcircuit ``name`` with ports ``in1 in0 out1 out0`` for a line
        ``length_m`` long, in ``sections`` sections (by default :meth:`sections`).

        Each section is the lossless line of L_inf and C_inf (ideal ``T`` elements, half a
        section's delay on either side) around the rest of the series impedance (R_dc and
        the R_k || L_k chain) and the rest of the shunt admittance (G_dc, the R_k + C_k
        branches) of its length: the delay of the fast part is exact at every frequency,
        and what is lumped (the losses and the frequency-dependent part of L and C) is
        small against it. This form is for AC analyses: ngspice 39's transient stalls on
        it. ``lumped=True`` writes L_inf and C_inf as inductors and capacitors instead (a
        plain ladder, for transient runs: its sections delay the higher frequencies more,
        by (beta d)^2 / 24, so it needs more of them; ``per_wavelength=20`` kept the step
        response of 10 cm of FR4 microstrip, 50 ps edge, within 0.6 % of the exact line)."""
        if not length_m > 0:
            raise ValueError("the line model needs a positive length")
        if not self.passive:
            raise ValueError("the fitted circuit has elements that are not positive")
        n = sections if sections is not None else self.sections(length_m, f_max_Hz,
                                                                per_wavelength)
        if n < 1:
            raise ValueError("the model needs at least one section")
        d = length_m / n
        z0 = math.sqrt(self.L_inf_H_per_m / self.C_inf_F_per_m)
        td = d * math.sqrt(self.L_inf_H_per_m * self.C_inf_F_per_m)
        f = self.frequencies_Hz
        out = [f"* qbr broadband line model: {self.caption}",
               f"* length {_number(length_m)} m in {n} sections; fitted to R, L, G, C from "
               f"{_number(f.min())} to {_number(f.max())} Hz ({len(f)} frequencies), largest "
               f"relative error R {self.fit_error['R']:.2g}, L {self.fit_error['L']:.2g}, "
               f"G {self.fit_error['G']:.2g}, C {self.fit_error['C']:.2g}",
               f"* per metre: R_dc {_number(self.R_dc_ohm_per_m)} ohm, L_inf "
               f"{_number(self.L_inf_H_per_m)} H, G_dc {_number(self.G_dc_S_per_m)} S, C_inf "
               f"{_number(self.C_inf_F_per_m)} F; {len(self.series_R_ohm_per_m)} series R || L, "
               f"{len(self.shunt_R_ohm_m)} shunt R + C",
               f".subckt {name} in1 in0 out1 out0"]
        node = "in1"
        for k in range(1, n + 1):
            delay = td / 2 if k == 1 else td
            if lumped:
                out.append(f"LT{k} {node} a{k} {_number(self.L_inf_H_per_m * d * delay / td)}")
            else:
                out.append(f"T{k} {node} in0 a{k} in0 Z0={_number(z0)} TD={_number(delay)}")
            node = f"a{k}"
            if self.R_dc_ohm_per_m > 0:
                out.append(f"R{k} {node} a{k}_0 {_number(self.R_dc_ohm_per_m * d)}")
                node = f"a{k}_0"
            for j, (r, l) in enumerate(zip(self.series_R_ohm_per_m, self.series_L_H_per_m), 1):
                out.append(f"R{k}_{j} {node} a{k}_{j} {_number(r * d)}")
                out.append(f"L{k}_{j} {node} a{k}_{j} {_number(l * d)}")
                node = f"a{k}_{j}"
            if lumped:
                out.append(f"CT{k} {node} in0 {_number(self.C_inf_F_per_m * d)}")
            if self.G_dc_S_per_m > 0:
                out.append(f"RG{k} {node} in0 {_number(1 / (self.G_dc_S_per_m * d))}")
            for j, (r, c) in enumerate(zip(self.shunt_R_ohm_m, self.shunt_C_F_per_m), 1):
                out.append(f"RC{k}_{j} {node} c{k}_{j} {_number(r / d)}")
                out.append(f"C{k}_{j} c{k}_{j} in0 {_number(c * d)}")
        if lumped:
            out.append(f"LT{n + 1} {node} out1 {_number(self.L_inf_H_per_m * d / 2)}")
            # The return's loop impedance is in the signal side's elements; the two ends of
            # the return meet through a resistor of nothing (a source would be shorted when
            # the circuit grounds both).
            out.append("Rreturn out0 in0 1e-6")
        else:
            out.append(f"T{n + 1} {node} in0 out1 out0 Z0={_number(z0)} TD={_number(td / 2)}")
        out.append(f".ends {name}")
        return "\n".join(out) + "\n"


def _fit_line(f: np.ndarray, z: np.ndarray, y: np.ndarray, poles_per_decade: float,
              pole_range_Hz: tuple[float, float] | None, caption: str) -> BroadbandModel:
    """The fit of one line's Z and Y per metre at the ascending frequencies f."""
    w = 2 * math.pi * f
    r, l = z.real, z.imag / w
    g, c = y.real, y.imag / w
    if np.any(r <= 0) or np.any(l <= 0) or np.any(c <= 0) or np.any(g < 0):
        raise ValueError("the fit needs R > 0, L > 0, C > 0 and G >= 0 at every frequency "
                         "(a lossy line)")
    lo, hi = pole_range_Hz if pole_range_Hz is not None else (f[0] / 10, f[-1] * 10)
    decades = math.log10(hi / lo)
    count = max(1, math.ceil(poles_per_decade * decades) + 1)
    poles = 2 * math.pi * np.logspace(math.log10(lo), math.log10(hi), count)
    r_dc, l_inf, rk = _fit(w, r, l, poles)
    # G may be 0 (a lossless dielectric): then the shunt side is C alone.
    if np.all(g > 0):
        g_dc, c_inf, ck = _fit(w, g, c, poles)
    else:
        g_dc, c_inf, ck = 0.0, float(np.min(c)), np.zeros(0)
    keep_z = rk > 0
    keep_y = ck > 0
    model = BroadbandModel(
        frequencies_Hz=f, R_dc_ohm_per_m=r_dc, L_inf_H_per_m=l_inf,
        series_R_ohm_per_m=rk[keep_z], series_L_H_per_m=rk[keep_z] / poles[keep_z],
        G_dc_S_per_m=g_dc, C_inf_F_per_m=c_inf,
        # s a / (s + q) is 1 / (1/a + q / (s a)): R = 1/a in series with C = a / q.
        shunt_R_ohm_m=1 / ck[keep_y], shunt_C_F_per_m=ck[keep_y] / poles[keep_y],
        fit_error={}, caption=caption)
    zf, yf = model.Z(f), model.Y(f)
    model.fit_error = {
        "R": float(np.max(np.abs(zf.real / r - 1))),
        "L": float(np.max(np.abs(zf.imag / w / l - 1))),
        "G": float(np.max(np.abs(yf.real / g - 1))) if np.all(g > 0) else 0.0,
        "C": float(np.max(np.abs(yf.imag / w / c - 1))),
    }
    return model


@dataclasses.dataclass
class CoupledBroadbandModel:
    """Broadband models of coupled lines through their modes.

    ``voltage_transform`` Tv (N x N) takes the modes to the conductors, V = Tv Vm and
    I = Tv^-T Im, from the lossless part (L and C at the highest fitted frequency, Paul's
    decoupling as for the ideal lines of ``--spice``), constant over frequency; each mode
    m has per metre Zm = Tv^-1 Z Tv^-T and Ym = Tv^T Y Tv, whose diagonals are fitted as
    one line each (``modes``, :class:`BroadbandModel`). ``coupling_error`` is the largest
    off-diagonal of Zm and Ym against their diagonals over the sweep, what the constant
    transform leaves out: rounding for a symmetric pair, whose even and odd modes do not
    depend on frequency."""

    modes: list[BroadbandModel]
    voltage_transform: np.ndarray
    coupling_error: float

    @property
    def passive(self) -> bool:
        return all(m.passive for m in self.modes)

    def Z(self, frequency_Hz) -> np.ndarray:
        """The fitted series impedance matrices per metre (K x N x N)."""
        tv = self.voltage_transform
        zm = np.stack([m.Z(frequency_Hz) for m in self.modes], axis=-1)
        return np.einsum("ij,...j,kj->...ik", tv, zm, tv)

    def Y(self, frequency_Hz) -> np.ndarray:
        """The fitted shunt admittance matrices per metre (K x N x N)."""
        ti = np.linalg.inv(self.voltage_transform).T
        ym = np.stack([m.Y(frequency_Hz) for m in self.modes], axis=-1)
        return np.einsum("ij,...j,kj->...ik", ti, ym, ti)

    def spice(self, length_m: float, name: str = "qbr_broadband",
              f_max_Hz: float | None = None, per_wavelength: float = 10.0,
              lumped: bool = False) -> str:
        """The ngspice subcircuit ``name`` with ports ``in1 .. inN in0 out1 .. outN out0``:
        each mode's broadband line (subcircuits ``name``_mode1, ...) between controlled
        sources, as the ideal lines of ``--spice``: at each port a zero source senses the
        current, a chain of sources E = Tv(k, m) Vm puts the port's voltage together and
        current sources F = Tv(k, m) I_k drive the modal lines (Im = Tv^T I). ``lumped``
        as for one line."""
        n = len(self.modes)
        tv = self.voltage_transform
        out = []
        for q, mode in enumerate(self.modes, 1):
            out.append(mode.spice(length_m, f"{name}_mode{q}", f_max_Hz=f_max_Hz,
                                  per_wavelength=per_wavelength, lumped=lumped))
        ports = lambda side: " ".join(f"{side}{k}" for k in range(1, n + 1)) + f" {side}0"
        out.append(f"* {n} coupled lines through their modes; transform with a largest "
                   f"neglected modal coupling of {self.coupling_error:.2g}")
        out.append(f".subckt {name} {ports('in')} {ports('out')}")
        for q in range(1, n + 1):
            out.append(f"X{q} min{q} 0 mout{q} 0 {name}_mode{q}")
        for side, mode in (("in", "min"), ("out", "mout")):
            for k in range(1, n + 1):
                port = f"{side}{k}"
                out.append(f"Vs{port} {port} {port}_1 0")
                for q in range(1, n + 1):
                    to = f"{side}0" if q == n else f"{port}_{q + 1}"
                    value = _number(tv[k - 1, q - 1])
                    out.append(f"E{port}_{q} {port}_{q} {to} {mode}{q} 0 {value}")
                    out.append(f"F{port}_{q} 0 {mode}{q} Vs{port} {value}")
        out.append(f".ends {name}")
        return "\n".join(out) + "\n"


def _modal_transform(l: np.ndarray, c: np.ndarray) -> np.ndarray:
    """Tv = C^-1/2 U s with C^1/2 L C^1/2 = U diag(mu) U^T, s^2 the mean of C's diagonal."""
    c = 0.5 * (c + c.T)
    l = 0.5 * (l + l.T)
    values, vectors = np.linalg.eigh(c)
    root = vectors @ np.diag(np.sqrt(values)) @ vectors.T
    inverse_root = vectors @ np.diag(1 / np.sqrt(values)) @ vectors.T
    _, u = np.linalg.eigh(root @ l @ root)
    return inverse_root @ u * math.sqrt(np.mean(np.diag(c)))


def broadband_model(source: Union["pandas.DataFrame", Iterable[Result]], *,
                    poles_per_decade: float = 3.0,
                    pole_range_Hz: tuple[float, float] | None = None
                    ) -> Union[BroadbandModel, CoupledBroadbandModel]:
    """Fits a passive, causal circuit per metre (:class:`BroadbandModel`) to the R, L, G
    and C of one line over a frequency sweep (the table of :func:`frequency_sweep` of a
    model with line parameters, or a list of its results; several frequencies above 0).

    The poles of the series R || L and shunt R + C branches are fixed,
    ``poles_per_decade`` of them per decade from a tenth of the lowest to ten times the
    highest frequency of the sweep (or over ``pole_range_Hz``); their element values (and
    R_dc, L_inf, G_dc, C_inf) come from a nonnegative least-squares fit of R(f), L(f),
    G(f) and C(f), each relative to its value, so every element is positive. A wideband
    (Debye) dielectric is itself such a sum of relaxations and fits closely; a constant
    loss tangent is not causal and fits only approximately (see ``fit_error``).

    Coupled lines (N > 1) give a :class:`CoupledBroadbandModel`: each of their modes
    fitted as one line, between a constant modal transform.
    """
    f, z, y = _sorted_line_samples(source, "the fit")
    caption = getattr(source, "attrs", {}).get("caption", "")
    n = z.shape[-1]
    if n == 1:
        return _fit_line(f, z[:, 0, 0], y[:, 0, 0], poles_per_decade, pole_range_Hz, caption)
    w = 2 * math.pi * f[-1]
    tv = _modal_transform(z[-1].imag / w, y[-1].imag / w)
    ti_inv = tv.T
    zm = np.linalg.solve(tv, z) @ np.linalg.inv(tv).T
    ym = ti_inv @ y @ tv
    off = ~np.eye(n, dtype=bool)
    diag_z = np.abs(np.diagonal(zm, axis1=1, axis2=2))
    diag_y = np.abs(np.diagonal(ym, axis1=1, axis2=2))
    coupling = max(float(np.max(np.abs(zm[:, off]) / diag_z.min(axis=1)[:, None])),
                   float(np.max(np.abs(ym[:, off]) / diag_y.min(axis=1)[:, None])))
    modes = [_fit_line(f, zm[:, q, q], ym[:, q, q], poles_per_decade, pole_range_Hz,
                       f"{caption} mode {q + 1}".strip()) for q in range(n)]
    return CoupledBroadbandModel(modes=modes, voltage_transform=tv, coupling_error=coupling)


def abcd_s21(z: np.ndarray, y: np.ndarray, length_m: float, reference_ohm: float = 50.0):
    """S21 and S11 of a line of per-metre Z and Y (arrays over frequency) between real
    references, from its exact ABCD matrix: A = D = cosh(gamma l), B = Zc sinh, C = sinh/Zc."""
    gamma = np.sqrt(z * y)
    zc = np.sqrt(z / y)
    ch, sh = np.cosh(gamma * length_m), np.sinh(gamma * length_m)
    a, b, c = ch, zc * sh, sh / zc
    den = 2 * a + b / reference_ohm + c * reference_ohm
    return 2 / den, (b / reference_ohm - c * reference_ohm) / den
