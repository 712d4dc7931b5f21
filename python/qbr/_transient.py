"""Time-domain responses of a line from a frequency sweep: the port voltages for a step
with a Gaussian edge, by the inverse FFT of the exact multiport at every frequency."""

from __future__ import annotations

import dataclasses
import math
from typing import TYPE_CHECKING, Iterable, Union

import numpy as np
from scipy.special import erf

from . import _core
from ._line import _sorted_line_samples
from ._model import Result

if TYPE_CHECKING:
    import pandas

# 10-90 % rise of a Gaussian edge (an erf step) over its standard deviation: 2 sqrt(2) erfinv(0.8).
_RISE_PER_SIGMA = 2.5631031310892


def gaussian_step(times_s, rise_s: float, delay_s: float) -> np.ndarray:
    """A 1 V step whose edge is an error function (the integral of a Gaussian), 10-90 % in
    ``rise_s``, crossing 0.5 V at ``delay_s``. Its spectrum falls as exp(-(2 pi f sigma)^2 / 2)
    with sigma = rise_s / 2.563: at 0.4 / rise_s it is 5 % of a sharp step's."""
    sigma = rise_s / _RISE_PER_SIGMA
    return 0.5 * (1 + erf((np.asarray(times_s, float) - delay_s) / (sigma * math.sqrt(2))))


def _interpolate(f_samples: np.ndarray, z: np.ndarray, y: np.ndarray,
                 f: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
    """Z and Y per metre (K x N x N) at the frequencies f from samples at the ascending
    f_samples: R, L, G and C of every entry linear in log f between samples; below the
    lowest sample held (its R and G are the limits at 0 Hz); above the highest R grows as
    sqrt(f) (skin effect), G as f (a constant loss tangent), L and C held."""
    w = 2 * math.pi * f_samples[:, None, None]
    parts = [z.real, z.imag / w, y.real, y.imag / w]
    at = np.log(np.clip(f, f_samples[0], f_samples[-1]))
    grid = np.log(f_samples)
    r, l, g, c = (np.apply_along_axis(lambda a: np.interp(at, grid, a), 0, p) for p in parts)
    above = (np.maximum(f, f_samples[-1]) / f_samples[-1])[:, None, None]
    omega = 2 * math.pi * f[:, None, None]
    return r * np.sqrt(above) + 1j * omega * l, g * above + 1j * omega * c


@dataclasses.dataclass
class StepResponse:
    """The port voltages of a line driven at one port by a step behind the reference
    resistance, every other port terminated in it: ``voltages_V[:, p]`` is the voltage of
    port p + 1 (ports numbered as in :func:`touchstone`: near ends 1..N, far ends
    N+1..2N) at ``times_s``; ``source_V`` is the open-circuit source, 0 to 1 V."""

    times_s: np.ndarray
    voltages_V: np.ndarray
    source_V: np.ndarray
    port: int
    reference_ohm: float
    rise_s: float
    delay_s: float

    def pwl(self) -> str:
        """The source as an ngspice ``PWL(...)`` value: the edge sampled every 1/50 of the
        rise time over six rise times about the delay (piecewise linear within 1e-4 V)."""
        step = self.rise_s / 50
        t = np.arange(max(0.0, self.delay_s - 3 * self.rise_s), self.delay_s + 3 * self.rise_s,
                      step)
        if t[0] > 0:
            t = np.concatenate([[0.0], t])
        v = gaussian_step(t, self.rise_s, self.delay_s)
        return "PWL(" + " ".join(f"{a:.9g} {b:.9g}" for a, b in zip(t, v)) + ")"


def step_response(source: Union["pandas.DataFrame", Iterable[Result]], length_m: float, *,
                  rise_s: float, stop_s: float, port: int = 1, reference_ohm: float = 50.0,
                  delay_s: float | None = None, time_step_s: float | None = None,
                  period_s: float | None = None) -> StepResponse:
    """The step response of ``length_m`` metres of line from a frequency sweep (a table of
    :func:`frequency_sweep` of a model with a permittivity, or a list of its results).

    A 1 V step with a Gaussian edge (:func:`gaussian_step`, 10-90 % in ``rise_s``, at
    ``delay_s``, by default three rise times) drives ``port`` through ``reference_ohm``;
    every port is terminated in ``reference_ohm``. The port voltages are the inverse FFT
    of the exact single-ended S of the line (the C++ library's, from the modes of Z and Y)
    at every frequency of the FFT, with R, L, G and C interpolated between the swept
    frequencies (see below), over a period of ``period_s`` in which the step falls again
    at half the period (by default one over the lowest swept frequency, at least ten times
    ``stop_s``, at most two million samples), sampled every ``time_step_s`` (by default a
    fortieth of the rise), returned up to ``stop_s``.

    Between swept frequencies R, L, G and C are linear in log f; below the lowest they
    are held, so the sweep should start where R has reached its value at 0 Hz (the skin
    depth beyond the conductors' thickness); above the highest R grows as sqrt(f), G as
    f, L and C are held. The edge sets the band: make it slow enough that its spectrum
    (5 % of a sharp step's at 0.4 / rise_s) has fallen well within the sweep."""
    f_samples, z, y = _sorted_line_samples(source, "the step response")
    n = z.shape[-1]
    if not 1 <= port <= 2 * n:
        raise ValueError(f"the port must be one of 1..{2 * n}")
    if not (rise_s > 0 and stop_s > 0 and length_m > 0):
        raise ValueError("the rise time, the stop time and the length must be positive")
    delay = 3 * rise_s if delay_s is None else float(delay_s)
    dt = rise_s / 40 if time_step_s is None else float(time_step_s)
    # The FFT's frequency step as low as the sweep's lowest frequency (held below), so the
    # slow tail of the previous period's falling step (the dielectric's relaxation, the skin
    # effect's) has died out; within two million samples.
    period = (max(10 * stop_s, min(1 / f_samples[0], 2**21 * dt)) if period_s is None
              else float(period_s))
    count = 2 * math.ceil(period / dt / 2)
    t = np.arange(count) * dt
    drive = gaussian_step(t, rise_s, delay) - gaussian_step(t, rise_s, delay + count * dt / 2)
    spectrum = np.fft.rfft(drive)
    f = np.fft.rfftfreq(count, dt)
    # Beyond the Gaussian's reach the spectrum is rounding: those frequencies are left out.
    used = np.abs(spectrum) > 1e-14 * np.abs(spectrum).max()
    used[0] = True
    fu = f[used].copy()
    fu[0] = f_samples[0] * 1e-9  # 0 Hz as a frequency far below the sweep: R and G held
    zu, yu = _interpolate(f_samples, z, y, fu)
    column = np.array([_core.scattering(fk, zk, yk, length_m, reference_ohm)[:, port - 1]
                       for fk, zk, yk in zip(fu, zu, yu)])
    # The incident wave is half the source; a port's voltage is incident plus reflected.
    column[:, port - 1] += 1.0
    out = np.zeros((len(f), 2 * n), complex)
    out[used] = column * (spectrum[used] / 2)[:, None]
    voltages = np.fft.irfft(out, count, axis=0)
    keep = t <= stop_s
    return StepResponse(times_s=t[keep], voltages_V=voltages[keep], source_V=drive[keep],
                        port=port, reference_ohm=float(reference_ohm), rise_s=float(rise_s),
                        delay_s=delay)
