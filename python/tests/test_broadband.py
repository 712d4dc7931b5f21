import math
import re
import shutil
import subprocess

import numpy as np
import pytest

import qbr

# ngspice's "ac dec 10 1meg 20g" puts its 44 points evenly on the log axis.
FREQUENCIES = np.geomspace(1e6, 2e10, 44)


# A copper microstrip on FR4 with the wideband (causal) dielectric, 10 cm long: the circuit
# fitted to R, L, G, C at every third frequency, run in ngspice, against the exact two-port
# of the solved R, L, G, C at every frequency.
def test_broadband_model_of_a_microstrip_in_ngspice(tmp_path):
    m = qbr.Model(lengthunit="mm", frequency=1, frequency_unit="ghz", variables="impedance")
    m.patch(0, "nc", 58).layer(-1.6, 0, 4.3, 0.02, stated_at=1, unit="ghz")
    m.rect(-30, 30, -1.635, -1.6, c=0, nx=100, ny=6)
    m.rect(-1.5, 1.5, 0, 0.035, c=1, nx=40, ny=4)
    table = qbr.frequency_sweep(m, FREQUENCIES, grid_check=False, progress=False)
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
def test_broadband_model_of_a_coupled_pair_in_ngspice(tmp_path):
    m = qbr.Model(lengthunit="mm", frequency=1, frequency_unit="ghz", variables="impedance")
    m.patch(0, "nc", 58).layer(-1.6, 0, 4.3, 0.02, stated_at=1, unit="ghz")
    m.rect(-20, 20, -1.635, -1.6, c=0, nx=100, ny=4)
    m.rect(-2, -0.5, 0, 0.035, c=1, nx=30, ny=4)
    m.rect(0.5, 2, 0, 0.035, c=2, nx=30, ny=4)
    table = qbr.frequency_sweep(m, FREQUENCIES, grid_check=False, progress=False)
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
