import math
import re
import shutil
import subprocess

import numpy as np
import pytest

import qbr

# ngspice's "ac dec 10 1meg 20g" puts its 44 points evenly on the log axis.
FREQUENCIES = np.geomspace(1e6, 2e10, 44)


def board(*strips: tuple[float, float], half_width: float = 30) -> qbr.Model:
    """Copper strips (x1, x2 in mm, 35 um thick) on 1.6 mm FR4 with the wideband dielectric."""
    m = qbr.Model(lengthunit="mm", frequency=1, frequency_unit="ghz", variables="impedance")
    m.patch(0, "nc", 58).layer(-1.6, 0, 4.3, 0.02, stated_at=1, unit="ghz")
    m.rect(-half_width, half_width, -1.635, -1.6, c=0, nx=100, ny=6 if len(strips) == 1 else 4)
    for c, (x1, x2) in enumerate(strips, 1):
        m.rect(x1, x2, 0, 0.035, c=c, nx=40 if len(strips) == 1 else 30, ny=4)
    return m


@pytest.fixture(scope="module")
def microstrip():
    """The 3 mm microstrip swept over FREQUENCIES."""
    return qbr.frequency_sweep(board((-1.5, 1.5)), FREQUENCIES, grid_check=False,
                               progress=False)


@pytest.fixture(scope="module")
def pair():
    """A symmetric pair of 1.5 mm strips 1 mm apart swept over FREQUENCIES."""
    return qbr.frequency_sweep(board((-2, -0.5), (0.5, 2), half_width=20), FREQUENCIES,
                               grid_check=False, progress=False)


def transient(folder, line: str, circuit: str, probes: list[str], stop_s: float) -> np.ndarray:
    """ngspice's transient run of the subcircuit `line` in `circuit`, every 0.5 ps up to
    `stop_s`: columns time and the voltages of `probes`."""
    (folder / "line.cir").write_text(line)
    (folder / "tran.cir").write_text(
        f"step\n.include line.cir\n{circuit}.control\ntran 0.5p {stop_s} 0 0.5p\n"
        f"wrdata tran.txt {' '.join(f'v({p})' for p in probes)}\n.endc\n.end\n")
    subprocess.run(["ngspice", "-b", "tran.cir"], cwd=folder, capture_output=True, timeout=300)
    data = np.loadtxt(folder / "tran.txt")
    return np.column_stack([data[:, 0], data[:, 1::2]])


# A copper microstrip on FR4 with the wideband (causal) dielectric, 10 cm long: the circuit
# fitted to R, L, G, C at every third frequency, run in ngspice, against the exact two-port
# of the solved R, L, G, C at every frequency.
def test_broadband_model_of_a_microstrip_in_ngspice(tmp_path, microstrip):
    table = microstrip
    model = qbr.broadband_model(table[table["point"] % 3 == 0])
    assert model.passive and len(model.series_R_ohm_per_m) > 3 and len(model.shunt_C_F_per_m) > 3
    assert max(model.fit_error.values()) < 1e-2

    _, z, y = qbr._line._line_samples(table)
    z, y = np.array([v[0, 0] for v in z]), np.array([v[0, 0] for v in y])
    length = 0.1
    # Ten sections per wavelength at 20 GHz, the highest frequency of the AC sweep.
    sections = model.sections(length, f_max_Hz=2e10)
    wavelengths = length * np.sqrt(z[-1] * y[-1]).imag / (2 * math.pi)
    assert 10 * wavelengths <= sections < 10 * wavelengths + 1.01
    netlist = model.spice(length, f_max_Hz=2e10)
    values = [float(v) for v in re.findall(r"^[RLC]\S* \S+ \S+ (\S+)$", netlist, re.M)]
    assert len(values) > 20 * sections and min(values) > 0

    exact, _ = qbr.abcd_s21(z, y, length)
    fitted, _ = qbr.abcd_s21(model.Z(FREQUENCIES), model.Y(FREQUENCIES), length)
    assert np.max(np.abs(20 * np.log10(np.abs(fitted / exact)))) < 0.02

    if shutil.which("ngspice") is None:
        pytest.skip("no ngspice")
    (tmp_path / "line.cir").write_text(netlist)
    (tmp_path / "test.cir").write_text(
        "broadband line\n.include line.cir\nV1 src 0 DC 0 AC 1\nRs src in 50\n"
        "X1 in 0 out 0 qbr_broadband\nRl out 0 50\n.control\nac dec 10 1meg 20g\n"
        "wrdata ac.txt v(out)\n.endc\n.end\n")
    subprocess.run(["ngspice", "-b", "test.cir"], cwd=tmp_path, capture_output=True, timeout=300)
    data = np.loadtxt(tmp_path / "ac.txt")
    assert np.allclose(data[:, 0], FREQUENCIES, rtol=1e-8, atol=0)
    s21 = 2 * (data[:, 1] + 1j * data[:, 2])  # through 50 ohm into 50 ohm
    db = 20 * np.log10(np.abs(s21 / exact))
    degrees = np.degrees(np.angle(s21 / exact))
    print(f"ngspice: {sections} sections, |S21| within {np.max(np.abs(db)):.4f} dB and "
          f"{np.max(np.abs(degrees)):.3f} degrees of the exact line")
    assert np.max(np.abs(db)) < 0.1 and np.max(np.abs(degrees)) < 2.0
    assert 20 * np.log10(abs(exact[-1])) < -4  # 20 GHz: the losses are there to be fitted

    # The ladder for transient runs: L_inf and C_inf lumped, no T elements; below a tenth of
    # the frequency its sections are made for it is the same line.
    lumped = model.spice(length, f_max_Hz=2e10, lumped=True)
    assert "\nT" not in lumped and lumped.count("\nCT") == sections
    (tmp_path / "line.cir").write_text(lumped)
    (tmp_path / "ac.txt").unlink()
    subprocess.run(["ngspice", "-b", "test.cir"], cwd=tmp_path, capture_output=True, timeout=300)
    data = np.loadtxt(tmp_path / "ac.txt")
    ratio = 2 * (data[:, 1] + 1j * data[:, 2]) / exact
    low = FREQUENCIES <= 2e9
    assert np.max(np.abs(20 * np.log10(np.abs(ratio[low])))) < 0.01
    assert np.max(np.abs(np.degrees(np.angle(ratio[low])))) < 0.2


# A symmetric pair on the same board, 10 cm: its modes fitted as two lines between
# controlled sources; thru, near- and far-end crosstalk in ngspice against the exact
# four-port of the solved matrices.
def test_broadband_model_of_a_coupled_pair_in_ngspice(tmp_path, pair):
    table = pair
    model = qbr.broadband_model(table[table["point"] % 3 == 0])
    assert isinstance(model, qbr.CoupledBroadbandModel) and model.passive
    assert model.coupling_error < 1e-9  # even and odd modes: a constant transform is exact
    _, exact = qbr.s_parameters(table, 0.1)
    if shutil.which("ngspice") is None:
        pytest.skip("no ngspice")
    (tmp_path / "line.cir").write_text(model.spice(0.1, f_max_Hz=2e10))
    (tmp_path / "test.cir").write_text(
        "pair\n.include line.cir\nV1 src 0 DC 0 AC 1\nRs src in1 50\nR2 in2 0 50\n"
        "R3 out1 0 50\nR4 out2 0 50\nX1 in1 in2 0 out1 out2 0 qbr_broadband\n.control\n"
        "ac dec 10 1meg 20g\nwrdata ac.txt v(in2) v(out1) v(out2)\n.endc\n.end\n")
    subprocess.run(["ngspice", "-b", "test.cir"], cwd=tmp_path, capture_output=True, timeout=300)
    data = np.loadtxt(tmp_path / "ac.txt")
    assert np.allclose(data[:, 0], FREQUENCIES, rtol=1e-8, atol=0)
    for port, column in ((1, 1), (2, 4), (3, 7)):  # near end of 2, far end of 1, far end of 2
        s = 2 * (data[:, column] + 1j * data[:, column + 1])
        ratio = s / exact[:, port, 0]
        db, degrees = 20 * np.log10(np.abs(ratio)), np.degrees(np.angle(ratio))
        print(f"ngspice: S{port + 1}1 within {np.max(np.abs(db)):.4f} dB and "
              f"{np.max(np.abs(degrees)):.3f} degrees of the exact four-port")
        assert np.max(np.abs(db)) < 0.1 and np.max(np.abs(degrees)) < 2.0
    # The far-end crosstalk is there to be modelled: it reaches -20 dB.
    assert 20 * np.log10(np.max(np.abs(exact[:, 3, 0]))) > -20


# The step response: a 1 V step with a 50 ps Gaussian edge through 50 ohm into the 10 cm
# microstrip, 50 ohm load. ngspice's transient run of the lumped ladder (20 sections per
# wavelength at 20 GHz) against the inverse FFT of the exact two-port of the solved R, L, G, C.
def test_step_response_of_a_microstrip_in_ngspice(tmp_path, microstrip):
    stop = 1.5e-9
    exact = qbr.step_response(microstrip, 0.1, rise_s=50e-12, stop_s=stop)
    # Settled, the line is the divider of its resistance at the lowest frequency, held to 0 Hz.
    late = qbr.step_response(microstrip, 0.1, rise_s=50e-12, stop_s=60e-9, time_step_s=5e-12)
    final = late.voltages_V[-1, 1]
    r = microstrip["Z_ohm_per_m"].iloc[0].real * 0.1
    assert abs(final - 50 / (100 + r)) < 1e-4
    if shutil.which("ngspice") is None:
        pytest.skip("no ngspice")
    model = qbr.broadband_model(microstrip[microstrip["point"] % 3 == 0])
    data = transient(tmp_path, model.spice(0.1, f_max_Hz=2e10, per_wavelength=20, lumped=True),
                     f"V1 src 0 {exact.pwl()}\nRs src in 50\nX1 in 0 out 0 qbr_broadband\n"
                     "Rl out 0 50\n", ["in", "out"], stop)
    deviation = [np.max(np.abs(np.interp(exact.times_s, data[:, 0], data[:, p])
                               - exact.voltages_V[:, p - 1])) / final for p in (1, 2)]
    print(f"step response: v(in) within {100 * deviation[0]:.3f} %, v(out) within "
          f"{100 * deviation[1]:.3f} % of the settled {final:.5f} V")
    assert max(deviation) < 0.01


# The far-end crosstalk of the symmetric pair, 10 cm: strip 1 driven by the step through
# 50 ohm, every other end in 50 ohm; the modal ladders in ngspice against the inverse FFT of
# the exact four-port.
def test_far_end_crosstalk_of_a_pair_in_ngspice(tmp_path, pair):
    stop = 1.2e-9
    exact = qbr.step_response(pair, 0.1, rise_s=50e-12, stop_s=stop)
    settled = qbr.step_response(pair, 0.1, rise_s=50e-12, stop_s=60e-9, time_step_s=5e-12)
    amplitude = settled.voltages_V[-1, 2]  # the aggressor's far end
    fext = exact.voltages_V[:, 3]
    assert np.min(fext) < -0.2 * amplitude  # a pulse to be modelled
    if shutil.which("ngspice") is None:
        pytest.skip("no ngspice")
    model = qbr.broadband_model(pair[pair["point"] % 3 == 0])
    data = transient(tmp_path, model.spice(0.1, f_max_Hz=2e10, per_wavelength=20, lumped=True),
                     f"V1 src 0 {exact.pwl()}\nRs src in1 50\nR2 in2 0 50\nR3 out1 0 50\n"
                     "R4 out2 0 50\nX1 in1 in2 0 out1 out2 0 qbr_broadband\n",
                     ["out1", "out2"], stop)
    thru, victim = (np.interp(exact.times_s, data[:, 0], data[:, p]) for p in (1, 2))
    deviation = np.max(np.abs(victim - fext)) / amplitude
    peak = np.min(victim) / np.min(fext) - 1
    print(f"far-end crosstalk: within {100 * deviation:.3f} % of the step "
          f"{amplitude:.5f} V, peak {np.min(fext):.5f} V missed by {100 * peak:+.3f} %; thru "
          f"within {100 * np.max(np.abs(thru - exact.voltages_V[:, 2])) / amplitude:.3f} %")
    assert deviation < 0.01 and abs(peak) < 0.01
    assert np.max(np.abs(thru - exact.voltages_V[:, 2])) < 0.01 * amplitude
