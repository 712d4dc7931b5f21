"""Superconductors given by their transition temperature: the Mattis-Bardeen conductivity
and the BCS gap against an independent integration (scipy's QUADPACK on the energy itself,
its square-root end singularities taken by algebraic weights, where the library substitutes
them away and uses its own Gauss-Kronrod rule), and the Python face: builder, temperature
sweep table and the plot of alpha and Q_c."""

import concurrent.futures as cf
import math
import pickle

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt
import numpy as np
import pytest
from scipy import integrate, optimize, special

import qbr

BCS = math.pi * math.exp(-np.euler_gamma)  # Delta(0) / k Tc
QUAD = dict(epsabs=0.0, epsrel=1e-12, limit=400)


def bcs_gap(t):
    """Delta(T) / Delta(0): ln(Delta0 / Delta) = 2 int_0^inf f(E) / E dxi, E = sqrt(xi^2 + Delta^2)."""
    def residual(d):
        gap = d * BCS  # in units of k Tc
        tail = integrate.quad(lambda xi: special.expit(-math.hypot(xi, gap) / t) / math.hypot(xi, gap),
                              0.0, 80.0 * t, **QUAD)[0]  # beyond, below e^-80 of the integrand
        return -math.log(d) - 2.0 * tail
    return optimize.brentq(residual, 1e-9, 1.0, xtol=1e-15, rtol=1e-15)


def mattis_bardeen(w, tau):
    """sigma1 / sigma_n and sigma2 / sigma_n at w = hbar omega / Delta, tau = k T / Delta: the
    density of states |E| / sqrt(E^2 - 1) and the coherence factor 1 + 1 / (E (E + w))."""
    f = lambda e: special.expit(-e / tau)
    occupied = lambda e: math.tanh(e / (2 * tau))  # 1 - 2 f
    n = lambda e: e * e + 1 + w * e
    # Thermal quasiparticles: the weight (E - 1)^-1/2 near the gap edge, plain beyond.
    thermal = lambda e: (f(e) - f(e + w)) * n(e) / (math.sqrt(e + 1) * math.sqrt((e + w) ** 2 - 1))
    top = 1 + 60 * tau
    edge = min(top, 1 + 20 * w)
    s1 = integrate.quad(thermal, 1, edge, weight="alg", wvar=(-0.5, 0), **QUAD)[0]
    if top > edge:
        s1 += integrate.quad(lambda e: thermal(e) / math.sqrt(e - 1), edge, top, **QUAD)[0]
    s1 *= 2 / w
    if w > 2:  # pair breaking, where E < -1 makes the density of states change sign
        pairs = lambda e: -occupied(e + w) * n(e) / (math.sqrt(1 - e) * math.sqrt(e + w + 1))
        s1 += integrate.quad(pairs, 1 - w, -1, weight="alg", wvar=(-0.5, -0.5), **QUAD)[0] / w
    if w <= 2:
        inner = lambda e: occupied(e + w) * n(e) / (math.sqrt(1 + e) * math.sqrt(e + w + 1))
        s2 = integrate.quad(inner, 1 - w, 1, weight="alg", wvar=(-0.5, -0.5), **QUAD)[0] / w
    else:
        inner = lambda e: occupied(e + w) * n(e) / math.sqrt((e + w) ** 2 - 1)
        s2 = integrate.quad(inner, -1, 1, weight="alg", wvar=(-0.5, -0.5), **QUAD)[0] / w
    return s1, s2


def test_mattis_bardeen_matches_an_independent_integration():
    worst = 0.0
    for t in (0.05, 0.2, 0.5, 0.8, 0.95, 0.99):
        gap = bcs_gap(t)
        assert qbr.bcs_gap(t) == pytest.approx(gap, rel=1e-12)
        tau = t / (BCS * gap)
        for w in (1e-3, 1e-2, 0.1, 0.5, 1.0, 1.5, 1.9, 2.5, 5.0):
            ours = qbr.mattis_bardeen_conductivity(w, tau)
            theirs = mattis_bardeen(w, tau)
            for a, b in zip(ours, theirs):
                worst = max(worst, abs(a / b - 1))
    print(f"largest relative difference: {worst:.1e}")
    assert worst < 1e-10

    # In SI units through the patch's own path: niobium at 4.2 K and 5 GHz.
    tc, rho_n, temperature, frequency = 9.2, 5.0, 4.2, 5e9
    film = qbr.mattis_bardeen(tc, rho_n, temperature, frequency)
    gap_J = film.gap_meV * 1.602176634e-22
    assert gap_J == pytest.approx(BCS * 1.380649e-23 * tc * bcs_gap(temperature / tc), rel=1e-12)
    s1, s2 = mattis_bardeen(1.054571817e-34 * 2 * 3.1415926536 * frequency / gap_J,
                            1.380649e-23 * temperature / gap_J)
    assert film.sigma1_S_per_m == pytest.approx(2e7 * s1, rel=1e-10)
    assert film.sigma2_S_per_m == pytest.approx(2e7 * s2, rel=1e-10)
    assert film.lambda_eff_m == pytest.approx(
        (2 * 3.1415926536 * frequency * 4e-7 * 3.1415926536 * film.sigma2_S_per_m) ** -0.5, rel=1e-14)
    z_s = np.sqrt(1j * 2 * math.pi * frequency * 4e-7 * math.pi / (film.sigma1_S_per_m - 1j * film.sigma2_S_per_m))
    assert film.surface_impedance_ohm == pytest.approx(z_s, rel=1e-9)


def cpw(temperature=4.2, gap=0.0):
    """A small niobium coplanar line (centre 4 um, gaps 3 um, films 0.2 um)."""
    m = qbr.Model(frequency=5, frequency_unit="ghz", temperature=temperature)
    m.patch_mb(0, 9.2, 5.0, gap)
    m.rect(-2, 2, 0, 0.2, c=1, nx=40, ny=4)
    m.rect(-25, -5, 0, 0.2, c=0, nx=50, ny=4)
    return m.rect(5, 25, 0, 0.2, c=0, nx=50, ny=4)


def test_builder_temperature_sweep_and_the_plot_of_alpha_and_q(tmp_path):
    built = cpw().solve(grid_check=False)
    text = qbr.Model.from_text("frequency 5 ghz\ntemperature 4.2\npatch 0 mb 9.2 5\ngrid graded\n"
                               "rect -2 2 0 0.2 1 0 40 4\nrect -25 -5 0 0.2 0 0 50 4\n"
                               "rect 5 25 0 0.2 0 0 50 4\n")
    for model in (text, pickle.loads(pickle.dumps(cpw()))):
        again = model.solve(grid_check=False)
        assert again.Z[0, 0] == built.Z[0, 0] and again.L_k[0, 0] == built.L_k[0, 0]
    with pytest.raises(qbr.ModelError, match="patch_mb"):
        cpw().patch(0, "mb", 9.2)

    table = qbr.temperature_sweep(cpw(), [1.0, 4.2, 8.0], executor=cf.ThreadPoolExecutor(2),
                                  grid_check=False, progress=False)
    assert list(table["temperature_K"]) == [1.0, 4.2, 8.0]
    alpha, q = table["alpha"].to_numpy(), table["Q_c"].to_numpy()
    assert np.all(np.diff(alpha) > 0) and np.all(np.diff(q) < 0)
    omega = 2 * 3.1415926536 * 5e9
    assert q == pytest.approx(omega * table["L_H_per_m"] / table["R_ohm_per_m"], rel=1e-12)
    assert alpha == pytest.approx(table["L_k_H_per_m"] / table["L_H_per_m"], rel=1e-12)
    single = cpw(4.2).solve(threads=1, grid_check=False)
    assert table["L_k_H_per_m"].iloc[1] == single.L_k[0, 0]
    assert single.superconductors.patches[0].response.gap_meV == pytest.approx(1.35849, rel=1e-5)

    fig, axes = plt.subplots(1, 2, figsize=(10, 4))
    ax, twin = qbr.plot.alpha_q(table, ax=axes[1])
    assert ax is axes[1] and twin.get_yscale() == "log"
    assert len(ax.lines) == 1 and len(twin.lines) == 1  # temperature_K is the axis: one curve
    fig.savefig(tmp_path / "alpha_q.png", dpi=80)
    plt.close(fig)
    assert (tmp_path / "alpha_q.png").stat().st_size > 10_000
